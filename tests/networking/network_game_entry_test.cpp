// Into and out of a network game: who stays together after a game (and on
// which map), the teams that survive departures, and the program's states
// that lead there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "mesh_format.h"
#include "vesk_networking/networking_preferences.h"
#include "subsystems.h"
#include "support/scratch.h"
#include "tag_files/plugins.h"
#include "vesk_networking/network_game_entry.h"

namespace network_game_entry_test_file {

namespace {

constexpr tag kWin = FOUR_CHARACTER_CODE('w', 'i', 'n', '1');
constexpr tag kLoss = FOUR_CHARACTER_CODE('l', 'o', 's', '1');

TEST(network_game_entry, who_stays_after_a_game_and_which_map_follows)
{
    const tag next[2] = {kWin, kLoss};
    struct row
    {
        const char *what;
        int16_t endgame_state, forced_endgame_type;
        int32_t time_remaining;
        bool have_header;
        bool stay;
        tag next_map;
    } rows[] = {
        {"unresolved", _endgame_unresolved, _forced_endgame_none, 0, true, false, NONE},
        {"won with time left", _endgame_successful_victory, _forced_endgame_none, 300, true, false, NONE},
        {"won", _endgame_successful_victory, _forced_endgame_none, 0, true, true, kWin},
        {"lost", _endgame_failed_victory, _forced_endgame_none, 0, true, true, kLoss},
        {"won, no mesh header", _endgame_successful_victory, _forced_endgame_none, 0, false, true, NONE},
        {"resolved", _endgame_resolved, _forced_endgame_none, 0, true, true, NONE},
        {"resolved with time left", _endgame_resolved, _forced_endgame_none, 30, true, false, NONE},
        {"resolved without a time limit", _endgame_resolved, _forced_endgame_none, NONE, true, true, NONE},
        {"won without a time limit", _endgame_successful_victory, _forced_endgame_none, NONE, true, true, kWin},
        {"restarted with time left", _endgame_resolved, _forced_endgame_restart, 1500, true, true, NONE},
        {"rehosted with time left", _endgame_resolved, _forced_endgame_rehost, 1500, true, true, NONE},
        {"restarted at a victory", _endgame_successful_victory, _forced_endgame_restart, 0, true, true, NONE},
        {"quit with time left", _endgame_resolved, _forced_endgame_quit, 1500, true, false, NONE},
    };
    for (const row &r : rows)
    {
        tag map = 12345;
        EXPECT_EQ(players_can_stay_after_game(r.endgame_state, r.forced_endgame_type, r.time_remaining, next,
                                              r.have_header, &map),
                  r.stay)
            << r.what;
        EXPECT_EQ(map, r.next_map) << r.what;
    }
}

// A missing map gives way to the first finished network map (one log line
// when asked); an installed one stays; with no finished network map nothing
// changes and the caller hears it, so no automatic game starts.
TEST(network_game_entry, a_map_that_is_not_installed_is_swapped_for_an_installed_one)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered && open_log_file_at("test.log", "maps"));
    constexpr tag kMissing = DEFAULT_NETWORK_GAME_SCENARIO, kCamp = FOUR_CHARACTER_CODE('c', 'a', 'm', 'p');
    const full_entry_point solo{_mesh_is_complete_flag, 1, "", "Solo", "", 0, 0, 0},
        draft{1, 2, "", "Draft", "", 0, 0, 0},
        camp{_mesh_is_complete_flag | 1, kCamp, "", "Campaign Valley", "", 0, 0, 0};
    const full_entry_point *const installed[] = {&solo, &draft, &camp};
    const struct
    {
        tag map;
        int32_t count;
        bool log_swap, playable;
        tag played;
        const char *name;
        size_t lines;
    } rows[] = {
        {kCamp, 3, true, true, kCamp, "kept", 0},
        {kMissing, 3, true, true, kCamp, "Campaign Valley", 1},
        {kMissing, 3, false, true, kCamp, "Campaign Valley", 0}, // nobody chose it
        {kMissing, 2, true, false, kMissing, "kept", 0},
    };
    for (const auto &r : rows)
    {
        const size_t before = read_whole_file("test.log").size();
        net_game_description description{};
        description.parameters.scenario_tag = r.map;
        snprintf(description.map_name, sizeof(description.map_name), "kept");
        EXPECT_EQ(offer_an_installed_map_from(&description, installed, r.count, r.log_swap), r.playable) << r.count;
        EXPECT_EQ(description.parameters.scenario_tag, r.played);
        EXPECT_STREQ(description.map_name, r.name);
        const std::string logged = read_whole_file("test.log").substr(before);
        EXPECT_EQ((size_t)std::count(logged.begin(), logged.end(), '\n'), r.lines) << logged;
    }
    close_log_file();
}

new_player_data member(int32_t id, int32_t captain)
{
    new_player_data player{};
    player.unique_identifier = id;
    player.team_captain_identifier = captain;
    return player;
}

TEST(network_game_entry, teams_survive_only_with_their_captain_and_a_second_member)
{
    struct row
    {
        const char *what;
        std::vector<new_player_data> players;
        std::vector<int32_t> captains;
    } rows[] = {
        {"a team of two stays", {member(1, 1), member(2, 1)}, {1, 1}},
        {"a captain alone loses his team", {member(1, 1), member(2, NONE)}, {NONE, NONE}},
        {"members of a captain who left", {member(2, 1), member(3, 1)}, {NONE, NONE}},
        {"a team of three that lost one", {member(1, 1), member(3, 1), member(4, 4), member(5, 4)}, {1, 1, 4, 4}},
        {"no teams", {member(1, NONE), member(2, NONE)}, {NONE, NONE}},
    };
    for (row &r : rows)
    {
        repair_teams_after_game(r.players.data(), (int16_t)r.players.size());
        for (size_t i = 0; i < r.players.size(); ++i)
            EXPECT_EQ(r.players[i].team_captain_identifier, r.captains[i]) << r.what << ", player " << i;
    }
}

TEST(network_game_entry, the_program_leads_into_and_out_of_network_games)
{
    clear_all_registrations();
    register_built_subsystems();
    EXPECT_EQ(get_game_state_entry_procedure(_game_state_network_setup), enter_network_setup_state);
    EXPECT_EQ(get_game_state_entry_procedure(_game_state_post_game), enter_network_post_game_state);
    clear_all_registrations();
}

} // namespace

} // namespace network_game_entry_test_file
