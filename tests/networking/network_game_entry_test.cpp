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

namespace {

constexpr tag kWin = FOUR_CHARACTER_CODE('w', 'i', 'n', '1');
constexpr tag kLoss = FOUR_CHARACTER_CODE('l', 'o', 's', '1');

TEST(network_game_entry, who_stays_after_a_game_and_which_map_follows)
{
    const tag next[2] = {kWin, kLoss};
    struct row
    {
        const char *what;
        int16_t endgame_state;
        int32_t time_remaining;
        bool have_header;
        bool stay;
        tag next_map;
    } rows[] = {
        {"unresolved", _endgame_unresolved, 0, true, false, NONE},
        {"won with time left", _endgame_successful_victory, 300, true, false, NONE},
        {"won", _endgame_successful_victory, 0, true, true, kWin},
        {"lost", _endgame_failed_victory, 0, true, true, kLoss},
        {"won, no mesh header", _endgame_successful_victory, 0, false, true, NONE},
        {"resolved", _endgame_resolved, 0, true, true, NONE},
        {"resolved with time left", _endgame_resolved, 30, true, false, NONE},
        {"resolved without a time limit", _endgame_resolved, NONE, true, true, NONE},
        {"won without a time limit", _endgame_successful_victory, NONE, true, true, kWin},
    };
    for (const row &r : rows)
    {
        tag map = 12345;
        EXPECT_EQ(players_can_stay_after_game(r.endgame_state, r.time_remaining, next, r.have_header, &map), r.stay)
            << r.what;
        EXPECT_EQ(map, r.next_map) << r.what;
    }
}

// A playlist entry or saved description whose map is not installed takes the
// first finished network map, one log line saying so when asked; an installed
// map stays; with no finished network map nothing changes and the caller hears
// it, which keeps the automatic host from starting.
TEST(network_game_entry, a_map_that_is_not_installed_is_swapped_for_an_installed_one)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_TRUE(open_log_file_at("test.log", "maps"));
    constexpr tag kRidge = FOUR_CHARACTER_CODE('r', 'i', 'd', 'g');
    constexpr tag kCampaign = FOUR_CHARACTER_CODE('c', 'a', 'm', 'p');
    const full_entry_point solo{_mesh_is_complete_flag, FOUR_CHARACTER_CODE('s', 'o', 'l', 'o'), "", "Solo", "", 0, 0,
                                0};
    const full_entry_point draft{1, FOUR_CHARACTER_CODE('d', 'r', 'f', 't'), "", "Draft", "", 0, 0, 0};
    const full_entry_point campaign{_mesh_is_complete_flag | 1, kCampaign, "", "Campaign Valley", "", 0, 0, 0};
    const full_entry_point ridge{_mesh_is_complete_flag | 2, kRidge, "", "Ridge Pass", "", 0, 0, 0};
    const full_entry_point *const installed[] = {&solo, &draft, &campaign, &ridge};
    struct row
    {
        const char *what;
        tag map;
        int32_t count; // of `installed`
        bool log_swap;
        bool playable;
        tag played;
        const char *map_name;
        size_t log_lines;
    } rows[] = {
        {"installed", kRidge, 4, true, true, kRidge, "kept", 0},
        {"missing, chosen", DEFAULT_NETWORK_GAME_SCENARIO, 4, true, true, kCampaign, "Campaign Valley", 1},
        {"missing, nobody chose it", DEFAULT_NETWORK_GAME_SCENARIO, 4, false, true, kCampaign, "Campaign Valley", 0},
        {"no finished network map", DEFAULT_NETWORK_GAME_SCENARIO, 2, true, false, DEFAULT_NETWORK_GAME_SCENARIO,
         "kept", 0},
    };
    for (const row &r : rows)
    {
        const size_t before = read_whole_file("test.log").size();
        net_game_description description{};
        description.parameters.scenario_tag = r.map;
        snprintf(description.map_name, sizeof(description.map_name), "kept");
        EXPECT_EQ(offer_an_installed_map_from(&description, installed, r.count, r.log_swap), r.playable) << r.what;
        EXPECT_EQ(description.parameters.scenario_tag, r.played) << r.what;
        EXPECT_STREQ(description.map_name, r.map_name) << r.what;
        const std::string logged = read_whole_file("test.log").substr(before);
        EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), (std::ptrdiff_t)r.log_lines) << r.what << logged;
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
