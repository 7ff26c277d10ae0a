// A campaign played through the whole front end, as the program joins it, on
// the demo data under SDL's dummy driver and with a fake movie player: the
// campaign valley's prologue and opening movie, a win, the win movie and the
// epilogue, then the next level with its autosave, which a load of that save
// does not repeat.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "image_files.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "main_menu.h"
#include "new_game_dialog.h"
#include "saved_games.h"
#include "game_ending.h"
#include "scoring.h"
#include "story_dialogs.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/dialog_harness.h"
#include "support/dialog_script.h"
#include "support/expected_assertions.h"
#include "support/fake_movie_player.h"
#include "support/front_end_road_fixture.h"
#include "support/scratch.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk/game_statistics.h"

namespace campaign_road_test_file {

namespace fs = std::filesystem;

namespace
{

class campaign_road : public campaign_road_fixture
{
protected:
    fake_movie_player player;
    dialog_test_screen screen;

    // The memory screen as "artefacts/campaign_road/<name>.png" beside the tests.
    void keep_picture(const std::string &name)
    {
        std::vector<uint8_t> rgb;
        for (int32_t y = 0; y < DIALOG_TEST_SCREEN_HEIGHT; ++y)
            for (int32_t x = 0; x < DIALOG_TEST_SCREEN_WIDTH; ++x)
            {
                const uint32_t pixel = screen.pixel(x, y);
                rgb.insert(rgb.end(), {(uint8_t)(pixel >> 16), (uint8_t)(pixel >> 8), (uint8_t)pixel});
            }
        int32_t size = 0;
        uint8_t *png = compress_image_to_png_file_in_memory(rgb.data(), DIALOG_TEST_SCREEN_WIDTH,
                                                            DIALOG_TEST_SCREEN_HEIGHT, DIALOG_TEST_SCREEN_WIDTH * 3, &size);
        ASSERT_NE(png, nullptr);
        const fs::path folder = fs::path(previous) / "artefacts" / "campaign_road";
        fs::create_directories(folder);
        EXPECT_TRUE(write_whole_file((folder / (name + ".png")).string(), png, (size_t)size));
        free(png);
    }
};

TEST_F(campaign_road, the_prologue_a_win_the_epilogue_and_the_next_level_with_one_autosave_and_none_after_a_load)
{
    mkdir("player", 0755);
    ASSERT_TRUE(player.install(directory + "/player"));
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    // The passes draw the dialogs into a memory screen, whose pictures of the
    // story are kept as artefacts to look at.
    start_at_the_main_menu(screen.bitmap, false);
    if (HasFatalFailure()) return;

    // ---- New Game on the campaign's first level goes through its prologue,
    // then the opening movie plays.
    start_the_campaign(get_main_menu_dialog(), [this](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->tag, PROLOGUE_DIALOG_TAG);
        keep_picture("prologue");
        char title[64];
        EXPECT_STREQ(get_bitmap_dialog_static_item_text(dialog, 4, title, sizeof(title)), "Campaign Valley");
        EXPECT_TRUE(bitmap_get_item_visible(dialog, 3)) << "the story text";
        const bitmap_extra_data *picture = get_bitmap_item_data(dialog, 5);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->frame_index, 0) << "the first of the three pictures";
    });
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(get_current_game_data()->parameters.scenario_tag, CAMPAIGN_VALLEY);
    ASSERT_EQ(player.runs().size(), 1u);
    EXPECT_NE(player.runs()[0].back().find("cutscenes/campopen.mov"), std::string::npos);
    EXPECT_EQ(count_autosaves(), 0) << "a new game is not autosaved";

    // ---- A win: the local team is the winner; the report, then the epilogue
    // after the win movie, which offers the next level.
    play_until([] { return game_->game_time >= 30; }, 60);
    game_->winning_team_index = local_player_team_index;
    end_game(_game_end_game_over);
    play_until([] { return postgame_carnage_report_dialog_is_open(); }, 600);
    ASSERT_TRUE(postgame_carnage_report_dialog_is_open()) << read_whole_file("road.log");
    close_report_into_epilogue(get_postgame_carnage_report_dialog(), 0, true, _epilogue_result_next_level,
                               [this] { keep_picture("epilogue"); });
    EXPECT_TRUE(solo_level_visited(RIDGE_PASS, BASE_GAME_PLUGIN_INDEX)) << "the next level is offered";
    ASSERT_EQ(player.runs().size(), 2u);
    EXPECT_NE(player.runs()[1].back().find("cutscenes/campwin.mov"), std::string::npos);

    // ---- The next level starts (it has no prologue of its own) and is
    // autosaved once, at its first tick.
    run_queued_passes();
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(get_current_game_data()->parameters.scenario_tag, RIDGE_PASS);
    play_until([] { return game_->game_time >= 20; }, 40);
    EXPECT_EQ(count_autosaves(), 1);
    EXPECT_EQ(strncmp(get_last_save_game_name(), AUTOSAVE_PREFIX, strlen(AUTOSAVE_PREFIX)), 0);

    // ---- That save loaded (the last one, as the quit dialog restores it)
    // replays to its point and plays on without another autosave.
    ASSERT_TRUE(revert_game());
    run_queued_passes();
    play_until([] { return game_->type == _game_type_local && game_->game_time >= 40; }, 80);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(get_current_game_data()->parameters.scenario_tag, RIDGE_PASS);
    EXPECT_EQ(game_->type, _game_type_local) << "past the save point";
    EXPECT_EQ(count_autosaves(), 1) << "a loaded game is not autosaved";

    dispose_vesk_from_old_map();
    close_all_dialogs();
    remove_test_clock();
}

} // namespace

} // namespace campaign_road_test_file
