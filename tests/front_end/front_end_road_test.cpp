// The whole front end in one process, as the program joins it, on the demo
// data under SDL's dummy driver: the main menu's New Game, the scripted
// valley with a difficulty and the demo plug-in, the game it starts (its
// set-up, its film's header, the map's progress bar), the script's end of the
// game and the carnage report over the paused game, the level's epilogue
// (through the prologue and epilogue states), then Films playing the
// last game and Load Game continuing a saved game the simulator made.
//
// The scripted main-loop pass stands in for the input and the frame drawer
// (their registrations give way to it); the test clock makes every pass
// as many ticks as it asks for, so nothing waits for real time.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/log.h"
#include "film_dialogs.h"
#include "story_dialogs.h"
#include "cseries/registration.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "main_menu.h"
#include "new_game_dialog.h"
#include "plugins_dialog.h"
#include "progress_dialog.h"
#include "recording.h"
#include "recording_format.h"
#include "shapes.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/front_end_road_fixture.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "statistics.h"
#include "vesk/game_statistics.h"

namespace front_end_road_test_file {

namespace
{

constexpr tag SCRIPTED_VALLEY = FOUR_CHARACTER_CODE('s', 'c', 'r', 'i');
constexpr int16_t DIFFICULTY = 3;
constexpr int32_t SCRIPTED_END_TICKS = 1200;
const char *const DEMO_PLUGIN = "Demo Plug-in";
const char *const SAVED_GAME = "Valley at 150";

// The highest bar the map's loading reached, seen before each step's report
// closes the dialog at the last.
int32_t highest_progress = 0;
void (*program_map_loading_progress)(int32_t, int32_t) = nullptr;
void watch_map_loading_progress(int32_t step, int32_t step_count)
{
    if (step <= 1) highest_progress = 0;
    // The dialog closes on the last step: the bar is read just before.
    if (step >= step_count && progress_dialog_is_open())
    {
        update_map_loading_progress_dialog();
        highest_progress = std::max(highest_progress, get_progress_bar_value());
        close_map_loading_progress_dialog();
        return;
    }
    program_map_loading_progress(step, step_count);
    highest_progress = std::max(highest_progress, get_progress_bar_value());
}

class front_end_road : public front_end_road_fixture
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "scripted_valley.map", "scri", tags) &&
               make_string_list_tags(tool, tags);
    }

    static bool plugin_in_row(dialog_data *dialog, int16_t list, int16_t row, int16_t plugin_index)
    {
        plugin_list_data data = {};
        int16_t size = sizeof(data);
        bitmap_get_listbox_row_data(dialog, list, row, &data, &size);
        return size == sizeof(data) && data.plugin_index == plugin_index;
    }

    // The demo plug-in, with its banner, in the plug-ins folder.
    void write_demo_plugin(void)
    {
        ASSERT_EQ(run_data_tool("collection banner.tag --subgroup '##p#' --name banner '" +
                                source_tree_path("data/plugins/demo/collections/##p#.txt") + "'"),
                  0);
        const test_tag banner = {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('#', '#', 'p', '#'), "banner",
                                 COLLECTION_VERSION_NUMBER, local_tag_file_data("banner.tag")};
        mkdir(PLUGINS_FOLDER, 0755);
        ASSERT_TRUE(::write_monolithic_file(std::string(PLUGINS_FOLDER "/") + DEMO_PLUGIN, _tag_file_type_plugin,
                                          {banner}, DEMO_PLUGIN));
    }
};

TEST_F(front_end_road, new_game_to_the_report_then_films_and_load_game)
{
    write_demo_plugin();
    if (HasFatalFailure()) return;
    // A saved game the simulator made, where the load dialog looks.
    mkdir(SAVED_GAMES_FOLDER, 0755);
    ASSERT_EQ(run_vesk_sim("--map scri --seed 11 --ticks 200 --save-at 150 '" + directory + "/" SAVED_GAMES_FOLDER "/" +
                           SAVED_GAME + "' > /dev/null"),
              0);

    // The program's front-end table with its map-loading progress watched:
    // registered before the program's registrations, which leave a
    // registered front-end table as it is.
    register_built_subsystems();
    static front_end_procedures watched = *get_front_end_procedures();
    program_map_loading_progress = watched.map_loading_progress;
    ASSERT_NE(program_map_loading_progress, nullptr);
    watched.map_loading_progress = watch_map_loading_progress;
    clear_all_registrations();
    ASSERT_TRUE(register_front_end_procedures(&watched));
    // The program's registrations, with the scripted pass in the input's and
    // the frame drawer's slots (each of those two refusals trips an assertion).
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    install_test_clock();
    start_main_loop_script(nullptr);
    {
        expected_assertions expect(2);
        register_built_subsystems();
    }
    ASSERT_EQ(get_front_end_procedures(), &watched);
    set_vesk_without_single_instance_lock(true);
    open_log_file_at("road.log", "front end road test");
    ASSERT_TRUE(initialize_vesk()) << read_whole_file("road.log");

    set_game_state(_game_state_displaying_main_menu);
    settle(2);
    run_queued_passes();
    ASSERT_EQ(game_->state, _game_state_displaying_main_menu);
    const int16_t demo = (int16_t)find_plugin_by_name(DEMO_PLUGIN);
    ASSERT_NE(demo, NONE);
    mark_solo_level_as_visited(SCRIPTED_VALLEY, BASE_GAME_PLUGIN_INDEX);

    // ---- New Game: the valley, a difficulty, the demo plug-in, OK.
    bool dialog_seen = false;
    press_now(get_main_menu_dialog(), _main_menu_new_game_item, [&] {
        inspect([&](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            dialog_seen = dialog->tag == NEW_GAME_DIALOG_TAG;
        });
        click_row(_new_game_map_list_item, [](dialog_data *dialog) {
            return row_where(dialog, _new_game_map_list_item, [](dialog_data *d, int16_t r) {
                return (tag)get_entry_point_list_item_value(d, _new_game_map_list_item, r) == SCRIPTED_VALLEY;
            });
        });
        click_row(_new_game_difficulty_list_item, [](dialog_data *) { return DIFFICULTY; });
        press(_new_game_tagset_button_item);
        inspect([demo](dialog_data *dialog) {
            ASSERT_EQ(dialog->tag, CHOOSE_PLUGINS_DIALOG_TAG);
            const int16_t row = row_where(dialog, _choose_plugins_inactive_list_item, [demo](dialog_data *d, int16_t r) {
                return plugin_in_row(d, _choose_plugins_inactive_list_item, r, demo);
            });
            ASSERT_NE(row, NONE);
            bitmap_select_list_item(dialog, _choose_plugins_inactive_list_item, row);
        });
        press(_choose_plugins_add_item);
        press(_choose_plugins_ok_item);
        inspect([](dialog_data *dialog) {
            ASSERT_EQ(dialog->tag, NEW_GAME_DIALOG_TAG);
            EXPECT_EQ(get_string_list_selected_identifier(dialog, _new_game_difficulty_list_item), DIFFICULTY);
        });
        press(_new_game_ok_item);
    });
    ASSERT_TRUE(dialog_seen);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");

    // ---- The game runs with exactly that set-up, and its film says so.
    const new_game_data *game = get_current_game_data();
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(game->parameters.scenario_tag, SCRIPTED_VALLEY);
    EXPECT_EQ(game->parameters.difficulty_level, DIFFICULTY);
    EXPECT_EQ(game->parameters.type, _game_type_local);
    int16_t plugins[MAXIMUM_PLUGINS_PER_GAME];
    int32_t plugin_count = 0;
    ASSERT_TRUE(tag_file_plugins_decode(plugins, &plugin_count, game->parameters.plugin_data, nullptr, nullptr, 0));
    ASSERT_EQ(plugin_count, 1);
    EXPECT_EQ(plugins[0], demo);
    EXPECT_EQ(highest_progress, 256) << "the map's progress bar filled";
    EXPECT_FALSE(progress_dialog_is_open());
    const new_game_data started = *game;

    // ---- The script ends the game; the report opens over the paused game.
    play_until([] { return postgame_carnage_report_dialog_is_open(); }, SCRIPTED_END_TICKS);
    ASSERT_TRUE(postgame_carnage_report_dialog_is_open()) << "game time " << game_->game_time;
    EXPECT_LE(game_->game_time, SCRIPTED_END_TICKS);
    EXPECT_TRUE(game_is_paused());
    const int32_t ended_at = game_->game_time;
    // What the film's statistics file must say: each team's place and score,
    // each player's living units, as the game ranked them at its end.
    std::string ranked;
    for (int32_t place = 0; const team_ranking_data *r = get_team_ranking(place); ++place)
        ranked += "team " + std::to_string(r->team_index) + " place " + std::to_string(r->place + 1) + " score " +
                  std::to_string(r->score) + "\n";
    for (int16_t p = 0; p < get_player_count(); ++p)
        for (int32_t rank = 0; const player_ranking_data *r = get_player_ranking(rank); ++rank)
            if (r->player_index == p) ranked += "player " + std::to_string(p) + " survivors " + std::to_string(r->extant_unit_count) + "\n";
    dialog_data *report = get_postgame_carnage_report_dialog();
    press_now(report, _carnage_close_item); // Return pressed as it opens: not seen, not skipped
    ASSERT_TRUE(postgame_carnage_report_dialog_is_open());
    press_now(report, _carnage_first_graph_button + 1); // kills
    int16_t view = NONE;
    bool graph = false;
    get_carnage_report_view(&view, &graph);
    EXPECT_TRUE(graph);
    EXPECT_EQ(view, 1);
    EXPECT_TRUE(bitmap_get_item_visible(report, _carnage_graph_item));
    press_now(report, _carnage_first_statistics_button);
    get_carnage_report_view(&view, &graph);
    EXPECT_FALSE(graph);
    EXPECT_EQ(game_->game_time, ended_at) << "paused under the report";
    // The report gives way to the level's epilogue: the game was won (team 0's
    // bowmen shoot from their reach), and a standalone map offers no next
    // level: a new try and the main menu over the win picture.
    close_report_into_epilogue(report, 0, false, _epilogue_result_main_menu);
    EXPECT_FALSE(postgame_carnage_report_dialog_is_open());
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu) << read_whole_file("road.log");
    EXPECT_NE(read_whole_file("road.log").find("game state: running -> epilogue"), std::string::npos);

    // The last game's film holds the game's set-up.
    const tag last = get_last_recording_subgroup();
    ASSERT_NE(last, (tag)NONE);
    recording_file_header header;
    ASSERT_TRUE(read_recording_header(tag_file_open(RECORDING_GROUP_TAG, last), &header));
    EXPECT_EQ(header.game.parameters.scenario_tag, SCRIPTED_VALLEY);
    EXPECT_EQ(header.game.parameters.difficulty_level, DIFFICULTY);
    EXPECT_EQ(header.game.parameters.random_seed, started.parameters.random_seed);
    EXPECT_EQ(memcmp(header.game.parameters.plugin_data, started.parameters.plugin_data,
                     sizeof(started.parameters.plugin_data)),
              0);
    // The film ends where the game stopped: the tick under the report, or the
    // one the closing pass ran before the menu took over.
    EXPECT_GE(header.recording_ending_time, ended_at);
    EXPECT_LE(header.recording_ending_time, ended_at + 1);

    // ---- Films: Play Last replays the game to its end and the menu comes back.
    press_now(get_main_menu_dialog(), _main_menu_films_item, [] { press(_replay_play_last_item); });
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(get_current_game_data()->parameters.scenario_tag, SCRIPTED_VALLEY);
    EXPECT_TRUE(game_is_solo_replay());
    int32_t replayed = 0;
    play_until(
        [&] {
            replayed = std::max(replayed, game_->game_time);
            return game_->state == _game_state_displaying_main_menu;
        },
        SCRIPTED_END_TICKS);
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
    EXPECT_FALSE(replay_failed());
    EXPECT_GE(replayed, ended_at) << "the film played to the game's end";
    // Its statistics file, named after the film, tells the game's true end.
    const std::string stats = read_whole_file(std::string("recording_stats/") +
                                              tag_file_name_get(tag_file_open(RECORDING_GROUP_TAG, last)) + ".csv");
    std::string written;
    std::istringstream csv(stats);
    const std::regex team_row("(\\d+),(\\d+),(-?\\d+),.*"), player_row("(\\d+),\".*\",(-?\\d+,){5}(\\d+),.*");
    for (std::string line; std::getline(csv, line);)
    {
        std::smatch m;
        if (std::regex_match(line, m, player_row)) written += "player " + std::string(m[1]) + " survivors " + std::string(m[3]) + "\n";
        else if (std::regex_match(line, m, team_row))
            written += "team " + std::string(m[1]) + " place " + std::string(m[2]) + " score " + std::string(m[3]) + "\n";
    }
    EXPECT_EQ(written, ranked) << stats;

    // ---- Load Game: the simulator's save continues from its tick.
    press_now(get_main_menu_dialog(), _main_menu_load_game_item, [] {
        inspect([](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            ASSERT_EQ(dialog->tag, LOAD_GAME_DIALOG_TAG);
            ASSERT_EQ(bitmap_get_listbox_row_count(dialog, _load_game_list_item), 1);
        });
        press(_load_game_ok_item);
    });
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(get_current_game_data()->parameters.scenario_tag, SCRIPTED_VALLEY);
    tag_file_info save;
    tag_file_info_new(&save);
    save.group_tag = SAVED_GAME_GROUP_TAG;
    int32_t saved_index = NONE;
    ASSERT_EQ(tag_file_enumerate(&save, &saved_index, 1), 1);
    ASSERT_TRUE(tag_file_info_get(saved_index, &save));
    EXPECT_EQ(get_last_save_game_tag(), save.subgroup_tag) << "the simulator's save is the one continued";
    EXPECT_GE(game_->game_time, 150) << "restored at the save's tick";
    play_until([] { return game_->game_time > 150; }, 300);
    EXPECT_GT(game_->game_time, 150);
    EXPECT_FALSE(progress_dialog_is_open());

    // The map's bars first: they dispose of their own dialogs.
    dispose_vesk_from_old_map();
    close_all_dialogs();
    remove_test_clock();
}

} // namespace

} // namespace front_end_road_test_file
