#pragma once
// What the whole-front-end road tests share: the demo data set of
// vesk_sim_fixture, the test as the main loop running the scripted passes,
// presses on dialogs that are not modal, and play until a condition holds.

#include <cstring>
#include <functional>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "input/input_definitions.h"
#include "main_menu.h"
#include "new_game_dialog.h"
#include "recording_format.h"
#include "support/dialog_input_harness.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "tag_files/plugins.h"
#include "support/dialog_script.h"
#include "saved_games.h"
#include "story_dialogs.h"
#include "tag_files/tag_files.h"
#include "support/vesk_sim_fixture.h"
#include "vesk.h"
#include "vesk/game_statistics.h"

class front_end_road_fixture : public vesk_sim_fixture
{
protected:
    // Outside modal loops the test is the main loop: it runs the passes queued.
    static void run_queued_passes(void)
    {
        while (script_steps_left() > 0) update_everything();
    }
    // A press on a dialog that is not modal (the menu, the report), then its
    // passes.  The press fires a few passes on; what it opens then reads
    // `script`, after passes that do nothing wherever they run.
    static void press_now(dialog_data *dialog, int16_t item, std::function<void(void)> script = nullptr)
    {
        ASSERT_NE(dialog, nullptr);
        press_item(dialog, nullptr, item);
        settle();
        if (script) script();
        settle();
        run_queued_passes();
    }
    // Passes of `ticks` each until `done`, for at most twice `limit` ticks.
    static void play_until(std::function<bool(void)> done, int32_t limit, int32_t ticks = 10)
    {
        for (int32_t pass = 0; pass * ticks <= limit * 2 && !done(); ++pass)
        {
            add_script_step(action_step(make_test_action(ticks)));
            update_everything();
        }
    }
    // Closes the carnage report; the level's epilogue then fades in over its
    // picture (0 after a win, 1 after a loss), offers the next level or a new
    // try, takes `choice` and fades out.  `shown` (may be null) runs while it shows.
    static void close_report_into_epilogue(dialog_data *report, int16_t picture, bool next_level_offered,
                                           int16_t choice, std::function<void(void)> shown = nullptr)
    {
        advance_test_clock_ticks(CARNAGE_REPORT_SETTLE_TICKS);
        press_now(report, _carnage_close_item, [=] {
            settle(30);
            inspect([=](dialog_data *dialog) {
                ASSERT_NE(dialog, nullptr);
                ASSERT_EQ(dialog->tag, EPILOGUE_DIALOG_TAG);
                EXPECT_EQ(dialog->background_sequence_index, picture);
                EXPECT_EQ(bitmap_get_item_visible(dialog, _epilogue_result_next_level), next_level_offered);
                EXPECT_EQ(bitmap_get_item_visible(dialog, _epilogue_result_restart), !next_level_offered);
                if (shown) shown();
            });
            press(choice);
            settle(30);
        });
    }
    static int16_t row_where(dialog_data *dialog, int16_t list, std::function<bool(dialog_data *, int16_t)> wanted)
    {
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, list); ++row)
            if (wanted(dialog, row)) return row;
        return NONE;
    }
};

// The demo data with its two-level campaign: the campaign valley, then the
// ridge pass.
class campaign_road_fixture : public front_end_road_fixture
{
protected:
    static constexpr tag CAMPAIGN_VALLEY = FOUR_CHARACTER_CODE('c', 'a', 'm', 'p');
    static constexpr tag RIDGE_PASS = FOUR_CHARACTER_CODE('r', 'i', 'd', 'g');

    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "campaign_valley.map", "camp", tags) &&
               make_demo_map_source_tags(tool, "ridge_pass.map", "ridg", tags) && make_string_list_tags(tool, tags);
    }

    // The saved games whose name starts with the autosave's prefix.
    static int32_t count_autosaves(void)
    {
        tag_file_info filter;
        tag_file_info_new(&filter);
        filter.group_tag = SAVED_GAME_GROUP_TAG;
        int32_t indexes[64];
        const int32_t count = tag_file_enumerate(&filter, indexes, 64);
        int32_t autosaves = 0;
        for (int32_t i = 0; i < count; ++i)
        {
            tag_file_info info;
            if (tag_file_info_get(indexes[i], &info) && strncmp(info.name, AUTOSAVE_PREFIX, strlen(AUTOSAVE_PREFIX)) == 0)
                ++autosaves;
        }
        return autosaves;
    }

    // The program started as the player starts it, with the scripted passes
    // as its main loop (`screen` and `program_draws` as start_main_loop_script
    // takes them; the program's own procedures refused in the slots the script
    // holds), the campaign's movies in place, at the main menu with the
    // campaign's first level open.  Its log is "road.log".
    static void start_at_the_main_menu(bitmap_data *screen, bool program_draws)
    {
        install_test_clock();
        start_main_loop_script(screen, program_draws);
        {
            expected_assertions expect(program_draws ? 1 : 2);
            register_built_subsystems();
        }
        set_vesk_without_single_instance_lock(true);
        open_log_file_at("road.log", "campaign road test");
        ASSERT_TRUE(initialize_vesk()) << read_whole_file("road.log");
        for (const char *movie : {"cutscenes/campopen.mov", "cutscenes/campwin.mov"})
            ASSERT_TRUE(write_whole_file(movie, "movie", 5));
        set_game_state(_game_state_displaying_main_menu);
        settle(2);
        run_queued_passes();
        ASSERT_EQ(game_->state, _game_state_displaying_main_menu);
        mark_solo_level_as_visited(CAMPAIGN_VALLEY, BASE_GAME_PLUGIN_INDEX);
    }

    // New Game on the campaign's first level, through its prologue: the maps
    // fade in, then the title, text and first picture show (`shown` runs
    // then), Escape ends the text and all fades out.
    static void start_the_campaign(dialog_data *menu, std::function<void(dialog_data *)> shown)
    {
        press_now(menu, _main_menu_new_game_item, [&] {
            click_row(_new_game_map_list_item, [](dialog_data *dialog) {
                return row_where(dialog, _new_game_map_list_item, [](dialog_data *d, int16_t r) {
                    return (tag)get_entry_point_list_item_value(d, _new_game_map_list_item, r) == CAMPAIGN_VALLEY;
                });
            });
            press(_new_game_ok_item);
            settle(12 + PROLOGUE_BIG_MAP_HOLD_TICKS + 12); // the fade-in, the hold, the small map's fade-in
            settle(6 * PROLOGUE_TEXT_PERIOD);
            inspect(shown);
            add_script_step(action_step(make_key_action(_key_escape, 27)));
            settle(30); // the fade-out
        });
    }
};
