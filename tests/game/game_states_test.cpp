#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cseries/errors.h"
#include "action_queue_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_life.h"
#include "players.h"
#include "support/game_core_fixture.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

namespace game_states_test_file {

static void trace(const char *name) { game_core_trace.push_back(name); }

TEST(game_states, a_request_applies_once_at_the_next_pass_and_the_last_one_wins)
{
    reset_game_core();
    register_game_state_procedures(_game_state_preferences, [] { trace("enter preferences"); },
                                   [] { trace("leave preferences"); });
    register_game_state_procedures(_game_state_new_game, [] { trace("enter new game"); }, nullptr);
    register_set_screen_parameters_for_new_state_procedure([](int16_t state) { trace("screen"); });
    static const action_queue_procedures queue = {.flush_actions = [] { trace("flush"); }};
    register_action_queue_procedures(&queue);

    set_game_state(_game_state_new_game);
    set_game_state(_game_state_preferences);
    EXPECT_EQ(game_->state, _game_state_starting_up) << "nothing changes before the pass";
    update_everything();
    update_everything();
    EXPECT_EQ(game_->state, _game_state_preferences);
    set_game_state(_game_state_new_game);
    update_everything();
    const std::vector<std::string> expected = {"flush", "screen", "enter preferences", "leave preferences",
                                               "flush", "screen", "enter new game"};
    EXPECT_EQ(game_core_trace, expected);

    // Requests for interrupting or unknown states are refused.
    set_game_state(_game_state_modal_dialog);
    set_game_state(13);
    EXPECT_FALSE(game_state_change_pending(nullptr));
}

TEST(game_states, states_without_a_front_end_fall_back_and_the_menu_quits)
{
    reset_game_core();
    pick_first_game_state(); // no intro built: the main menu
    for (int i = 0; i < 4 && game_->state != _game_state_quit; ++i) update_everything();
    EXPECT_EQ(game_->state, _game_state_quit);

    reset_game_core();
    register_game_state_procedures(_game_state_displaying_intro_sequence, [] { trace("intro"); }, nullptr);
    pick_first_game_state();
    update_everything();
    EXPECT_EQ(game_->state, _game_state_displaying_intro_sequence);

    reset_game_core();
    set_game_state(_game_state_network_setup); // not built: back to the menu, then quit
    for (int i = 0; i < 4 && game_->state != _game_state_quit; ++i) update_everything();
    EXPECT_EQ(game_->state, _game_state_quit);
}

TEST(game_states, nested_interrupting_states_each_restore_their_own)
{
    reset_game_core();
    game_->state = _game_state_running;
    const int16_t outer = enter_interrupting_game_state(_game_state_modal_loop);
    const int16_t inner = enter_interrupting_game_state(_game_state_modal_dialog);
    const int16_t movie = enter_interrupting_game_state(_game_state_displaying_cutscene);
    EXPECT_EQ(game_->state_when_in_modal_loop, _game_state_running) << "always the state under them all";
    EXPECT_EQ(get_underlying_game_state(), _game_state_running);

    // A request made inside waits until the outermost loop ends.
    set_game_state(_game_state_displaying_main_menu);
    update_everything();
    EXPECT_EQ(game_->state, _game_state_displaying_cutscene);

    leave_interrupting_game_state(movie);
    EXPECT_EQ(game_->state, _game_state_modal_dialog);
    leave_interrupting_game_state(inner);
    EXPECT_EQ(game_->state, _game_state_modal_loop);
    leave_interrupting_game_state(outer);
    EXPECT_EQ(game_->state, _game_state_running);
    update_everything();
    EXPECT_NE(game_->state, _game_state_running) << "the waiting request applies once the loops are left";
    EXPECT_EQ(enter_interrupting_game_state(_game_state_running), NONE);
}

static bool map_step_fails;
TEST(game_map_life, steps_run_in_order_and_failures_undo_what_was_done)
{
    reset_game_core();
    register_map_procedures(_map_tag_files, [](const new_game_data *) { trace("+tag files"); return true; },
                            [] { trace("-tag files"); });
    register_map_procedures(_map_mesh, [](const new_game_data *) { trace("+mesh"); return !map_step_fails; },
                            [] { trace("-mesh"); });
    register_map_procedures(_map_place_units, [](const new_game_data *) { trace("+units"); return true; },
                            [] { trace("-units"); });
    map_step_fails = false;
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 3));
    EXPECT_TRUE(vesk_map_is_loaded());
    dispose_vesk_from_old_map();
    std::vector<std::string> expected = {"+tag files", "+mesh", "+units", "-units", "-mesh", "-tag files"};
    EXPECT_EQ(game_core_trace, expected);

    game_core_trace.clear();
    map_step_fails = true;
    EXPECT_FALSE(start_test_game(_game_type_local, 1820, 3));
    EXPECT_FALSE(vesk_map_is_loaded());
    expected = {"+tag files", "+mesh", "-tag files"};
    EXPECT_EQ(game_core_trace, expected);

    // Leaving the running state disposes the map; a failed start goes back
    // to the menu.
    reset_game_core();
    register_map_procedures(_map_mesh, nullptr, [] { trace("-mesh"); });
    const new_game_data next = make_test_game_data(_game_type_local, 1820, 3);
    set_next_game_data(&next);
    set_game_state(_game_state_running);
    update_everything();
    ASSERT_TRUE(vesk_map_is_loaded());
    set_game_state(_game_state_preferences);
    update_everything();
    EXPECT_FALSE(vesk_map_is_loaded());
    EXPECT_EQ(game_core_trace, std::vector<std::string>{"-mesh"});
}

TEST(game_map_life, single_player_levels_are_changed_only_when_the_store_has_them)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    make_store_folders();
    reset_game_core();
    const tag level_one = FOUR_CHARACTER_CODE('l', '1', ' ', ' ');
    const tag missing = FOUR_CHARACTER_CODE('n', 'o', 'n', 'e');
    const tag test_level = FOUR_CHARACTER_CODE('t', 'e', 's', 't'); // the test game's
    EXPECT_FALSE(change_single_player_map(level_one, false)) << "no store: no level exists";
    ASSERT_TRUE(write_foundation_files({make_test_tag(MESH_GROUP_TAG, level_one, "level one", "1"),
                                        make_test_tag(MESH_GROUP_TAG, test_level, "test", "t")}));
    initialize_tag_files();
    tag_files_open(0, nullptr, -1, -1, 0);
    clear_pending_error();
    EXPECT_FALSE(change_single_player_map(missing, true));
    EXPECT_FALSE(game_state_change_pending(nullptr));

    int16_t state = NONE;
    ASSERT_TRUE(change_single_player_map(level_one, false));
    EXPECT_TRUE(game_state_change_pending(&state));
    EXPECT_EQ(state, _game_state_displaying_mesh_prologue);
    EXPECT_EQ(get_next_game_data()->parameters.scenario_tag, level_one);
    EXPECT_EQ(get_next_game_data()->parameters.type, _game_type_local);

    // NONE restarts the level in play, straight into the game.
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 77));
    ASSERT_TRUE(change_single_player_map(NONE, true));
    EXPECT_TRUE(game_state_change_pending(&state));
    EXPECT_EQ(state, _game_state_running);
    EXPECT_EQ(get_next_game_data()->parameters.scenario_tag, get_current_game_data()->parameters.scenario_tag);
    EXPECT_EQ(get_next_game_data()->parameters.random_seed, 77u);
    dispose_vesk_from_old_map();
    dispose_tag_files();
}

TEST(game_map_life, a_damaged_or_unknown_set_up_is_refused_without_exiting)
{
    reset_game_core();
    const struct
    {
        const char *what;
        void (*damage)(new_game_data *);
        int32_t error;
        const char *told; // in the message, when not null
    } cases[] = {
        {"17 players", [](new_game_data *d) { d->player_count = 17; }, _error_data_corrupted},
        {"negative players", [](new_game_data *d) { d->player_count = -1; }, _error_data_corrupted},
        {"local player out of range", [](new_game_data *d) { d->local_player_index = 3; }, _error_data_corrupted},
        {"unknown game type", [](new_game_data *d) { d->parameters.type = 9; }, _error_data_corrupted},
        {"unknown version id", [](new_game_data *d) { d->parameters.version = 2199; }, _error_data_version_mismatch},
        // Named as the set-up holds it, not as a release this program knows.
        {"unknown version bits", [](new_game_data *d) { d->parameters.option_flags |= _game_option_version_modifier_flag; },
         _error_data_version_mismatch, "(version identifier 2182, version option bits 0x"},
    };
    for (const auto &c : cases)
    {
        new_game_data data = make_test_game_data(_game_type_networked, 1820, 1, 2);
        c.damage(&data);
        clear_pending_error();
        EXPECT_FALSE(initialize_vesk_for_new_map(&data, false)) << c.what;
        int32_t code = 0;
        char told[512] = "";
        EXPECT_TRUE(error_pending(&code, told, sizeof(told))) << c.what;
        EXPECT_EQ(code, c.error) << c.what;
        if (c.told) { EXPECT_NE(strstr(told, c.told), nullptr) << told; }
        EXPECT_FALSE(vesk_map_is_loaded());
        EXPECT_EQ(current_gameplay_version, DEFAULT_GAMEPLAY_VERSION);
    }
    // A film whose reader found an unknown version is refused as well.
    current_gameplay_version = NONE;
    const new_game_data film = make_test_game_data(_game_type_replay, 1820, 1);
    EXPECT_FALSE(initialize_vesk_for_new_map(&film, false));
    clear_pending_error();
}

// The local team follows the local player as the players step placed him:
// an observer has none, a damaged team index is repaired, never taken raw.
TEST(game_map_life, the_local_team_is_the_local_players_own)
{
    reset_game_core();
    register_world_and_player_hooks();
    ASSERT_TRUE(initialize_vesk());
    for (map_step step : {_map_tag_files, _map_statistics, _map_world_effects}) unregister_map_procedures(step);
    const struct
    {
        const char *what;
        uint16_t flags;
        int16_t team_index;
        int16_t local_team;
    } cases[] = {
        {"a plain player", 0, 1, 1},
        {"an observer", _player_is_observer_flag, 1, NONE},
        {"a team out of range", 0, 40, 1}, // player 0 holds team 0: the lowest free one
    };
    for (const auto &c : cases)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.local_player_index = 1;
        data.players[1].flags = c.flags;
        data.players[1].team_index = c.team_index;
        ASSERT_TRUE(initialize_vesk_for_new_map(&data, false)) << c.what;
        EXPECT_EQ(local_player_team_index, c.local_team) << c.what;
        EXPECT_EQ(local_player_team_index, get_player_data(1)->team_index) << c.what;
        dispose_vesk_from_old_map();
    }
}

// A game that leaves the local folder out must not see local copies of game
// data, whether or not it names plug-ins: films and peers rely on it.
TEST(game_map_life, a_game_without_the_local_folder_never_sees_local_tags)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    make_store_folders();
    mkdir("local/mesh", 0755);
    reset_game_core();
    const tag LOCAL_MAP = FOUR_CHARACTER_CODE('m', 'i', 'n', 'e');
    ASSERT_TRUE(write_foundation_files({make_test_tag(MESH_GROUP_TAG, FOUR_CHARACTER_CODE('b', 'a', 's', 'e'), "base", "b")}));
    ASSERT_TRUE(write_monolithic_file("plugins/Extra", _tag_file_type_plugin,
                                      {make_test_tag(MESH_GROUP_TAG, FOUR_CHARACTER_CODE('x', 't', 'r', 'a'), "extra", "x")},
                                      "Extra", "example.org"));
    ASSERT_TRUE(write_local_file("local/mesh/mine", make_test_tag(MESH_GROUP_TAG, LOCAL_MAP, "mine", "m")));
    initialize_tag_files();
    tag_files_open(0, nullptr, -1, -1, 0);
    clear_pending_error();
    ASSERT_NE(tag_file_open(MESH_GROUP_TAG, LOCAL_MAP), NONE);

    const int16_t extra = 0;
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(&extra, 1, encoded), 0);
    const struct
    {
        const void *plugins;
        int32_t local_choice;
        bool local_seen;
    } cases[] = {{encoded, 1, false}, {encoded, 0, true}, {nullptr, 1, false}, {nullptr, 0, true}};
    for (const auto &c : cases)
    {
        open_tag_files_for_game(c.plugins, c.plugins ? ENCODED_PLUGIN_LIST_SIZE : 0, c.local_choice);
        clear_pending_error();
        EXPECT_EQ(tag_file_open(MESH_GROUP_TAG, LOCAL_MAP) != NONE, c.local_seen)
            << (c.plugins ? "with" : "without") << " plug-ins, local choice " << c.local_choice;
        EXPECT_EQ(tag_file_open(MESH_GROUP_TAG, FOUR_CHARACTER_CODE('x', 't', 'r', 'a')) != NONE, c.plugins != nullptr);
    }
    dispose_tag_files();
}

TEST(game_main_loop, start_up_runs_in_order_and_stops_at_a_failure)
{
    reset_game_core();
    static int32_t failing_step;
    register_startup_procedure(_startup_tag_files, [] { trace("tag files"); return failing_step != _startup_tag_files; });
    register_startup_procedure(_startup_renderer, [] { trace("renderer"); return true; });
    register_startup_procedure(_startup_overhead_text, [] { trace("overhead text"); return true; });
    failing_step = NONE;
    EXPECT_TRUE(initialize_vesk());
    EXPECT_EQ(game_core_trace, (std::vector<std::string>{"tag files", "renderer", "overhead text"}));
    game_core_trace.clear();
    failing_step = _startup_tag_files;
    EXPECT_FALSE(initialize_vesk());
    EXPECT_EQ(game_core_trace, std::vector<std::string>{"tag files"});
}

static bool world_step_uses[NUMBER_OF_ACTION_CONSUMERS];
TEST(game_main_loop, actions_reach_their_consumers_in_order_until_one_uses_them)
{
    reset_game_core();
    static const char *const names[NUMBER_OF_ACTION_CONSUMERS] = {
        "cursor", "modal", "keys", "dialogs", "pointer", "tutorial", "overhead", "selection", "camera"};
    const action_procedure procedures[NUMBER_OF_ACTION_CONSUMERS] = {
        [](action_data *) { trace(names[0]); return world_step_uses[0]; },
        [](action_data *) { trace(names[1]); return world_step_uses[1]; },
        [](action_data *) { trace(names[2]); return world_step_uses[2]; },
        [](action_data *) { trace(names[3]); return world_step_uses[3]; },
        [](action_data *) { trace(names[4]); return world_step_uses[4]; },
        [](action_data *) { trace(names[5]); return world_step_uses[5]; },
        [](action_data *) { trace(names[6]); return world_step_uses[6]; },
        [](action_data *) { trace(names[7]); return world_step_uses[7]; },
        [](action_data *) { trace(names[8]); return world_step_uses[8]; },
    };
    for (int32_t i = 0; i < NUMBER_OF_ACTION_CONSUMERS; ++i) register_action_procedure((action_consumer)i, procedures[i]);
    const struct
    {
        bool in_game;
        int32_t user; // the consumer that uses the action, or NONE
        const char *reached;
    } cases[] = {
        {false, NONE, "cursor modal keys dialogs "},
        {true, NONE, "cursor modal keys dialogs pointer tutorial overhead selection camera "},
        {true, 0, "cursor modal keys dialogs pointer tutorial overhead selection camera "}, // cursor never stops it
        {true, 1, "cursor modal "},
        {true, 2, "cursor modal keys dialogs pointer tutorial overhead selection camera "},
        {true, 3, "cursor modal keys dialogs "},
        {true, 6, "cursor modal keys dialogs pointer tutorial overhead "},
        {true, 7, "cursor modal keys dialogs pointer tutorial overhead selection "},
    };
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 1));
    for (const auto &c : cases)
    {
        game_->state = c.in_game ? _game_state_running : _game_state_preferences;
        for (bool &uses : world_step_uses) uses = false;
        if (c.user != NONE) world_step_uses[c.user] = true;
        game_core_trace.clear();
        process_action(nullptr);
        std::string reached;
        for (const std::string &name : game_core_trace) reached += name + " ";
        EXPECT_EQ(reached, c.reached) << c.in_game << " " << c.user;
    }
}

} // namespace game_states_test_file
