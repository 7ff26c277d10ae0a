// The figures a player reads after a real fight: the demo battle with its
// orders, then the rankings, the post-game report, the standings and the
// carnage report.  Each side's kills, losses and damage are the units the
// unit layer saw fall; under the default rules the hashed counts and the
// attrition scores know them too, while a game of the earlier rules hashed
// and scored every unit as nobody's, and still replays and reports so.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/postgame_player_stats.h"
#include "determinism_harness.h"
#include "gameplay_versions.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "scoring.h"
#include "statistics.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/data.h"
#include "unit_orders.h"

namespace statistics_report_test_file {

namespace {

class statistics_report_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk_sim"}; }
    void TearDown() override
    {
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        set_simulation_gameplay_version(NONE);
        vesk_sim_fixture::TearDown();
    }
    std::vector<unit_order> orders;
};

// The units with a body, by team (0 and 1).
void count_units(int32_t alive[2])
{
    alive[0] = alive[1] = 0;
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
    {
        const monster_data *unit = get_monster_data(index);
        if (unit && get_object(unit->object_index) && unit->owner_team_index >= 0 && unit->owner_team_index < 2)
            ++alive[unit->owner_team_index];
    }
}

// The report's strings, one line each.
std::string report_text(void)
{
    std::string text;
    int32_t position = 0;
    while (const char *string = get_next_encoded_postgame_report_string(get_encoded_postgame_report(), &position))
        text += std::string(string) + "\n";
    return text;
}

struct battle_case
{
    int32_t version;
    uint32_t seed;
    int32_t ticks;
};
const battle_case battles[] = {
    {DEFAULT_GAMEPLAY_VERSION, 7, 900}, {DEFAULT_GAMEPLAY_VERSION, 8, 900}, {DEFAULT_GAMEPLAY_VERSION, 7, 1800}, {1820, 7, 1800}};

TEST_F(statistics_report_test, each_side_is_credited_with_the_units_that_fell)
{
    for (const battle_case &b : battles)
    {
        const std::string name = "version " + std::to_string(b.version) + ", seed " + std::to_string(b.seed) + ", " +
                                 std::to_string(b.ticks) + " ticks";
        const bool owned = b.version >= FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS;
        std::string reason;
        ASSERT_TRUE(set_simulation_gameplay_version(b.version)) << name;
        ASSERT_TRUE(start_demo_battle(b.seed, &orders, &reason)) << reason;
        int32_t placed[2], alive[2];
        count_units(placed);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr)) << name;
        count_units(alive);
        const int32_t lost[2] = {placed[0] - alive[0], placed[1] - alive[1]};
        ASSERT_GT(lost[0] + lost[1], 0) << name << ": nobody fell";

        force_player_statistics_update();
        build_postgame_report(_postgame_outcome_none);
        build_draxil_net_game_standings(2);
        for (int16_t player = 0; player < 2; ++player)
        {
            // Player n leads team n alone.
            const int16_t enemy = (int16_t)(1 - player);
            const player_ranking_data *ranking = nullptr;
            for (int32_t rank = 0; const player_ranking_data *r = get_player_ranking(rank); ++rank)
                if (r->player_index == player) ranking = r;
            ASSERT_NE(ranking, nullptr) << name;
            EXPECT_EQ(ranking->casualty_count, lost[player]) << name << ", player " << player;
            EXPECT_EQ(ranking->total_kill_count, lost[enemy]) << name << ", player " << player;
            EXPECT_EQ(ranking->extant_unit_count, alive[player]) << name << ", player " << player;
            EXPECT_EQ(ranking->total_damage > 0, lost[enemy] > 0) << name << ", player " << player;
            const draxil_net_game_standings_player &standing = get_draxil_net_game_standings()->players[player];
            EXPECT_EQ(standing.units_killed, lost[enemy]) << name << ", player " << player;
            EXPECT_EQ(standing.units_lost, lost[player]) << name << ", player " << player;
        }
        // The local player's row and the other team's losses, as the report shows them.
        char damage[32] = "";
        for (int32_t rank = 0; const player_ranking_data *r = get_player_ranking(rank); ++rank)
            if (r->player_index == 0) format_damage_string(r->total_damage, damage, sizeof(damage));
        const std::string text = report_text();
        const std::string row = "Player 1\n" + std::to_string(lost[1]) + "\n" + std::to_string(lost[0]) + "\n" + damage;
        EXPECT_NE(text.find(row), std::string::npos) << name << "\n" << text;
        EXPECT_NE(text.find("Enemy losses\nTeam 2\n" + std::to_string(lost[1]) + "\n"), std::string::npos) << name;

        // Attrition: a team's score is the damage its one player dealt; the
        // earlier rules hashed and scored nobody's counts.
        for (int16_t team = 0; team < 2; ++team)
        {
            int32_t dealt = 0;
            for (int32_t rank = 0; const player_ranking_data *r = get_player_ranking(rank); ++rank)
                if (r->player_index == team) dealt = r->total_damage;
            EXPECT_EQ(get_team_data(team)->score, owned ? dealt : 0) << name << ", team " << team;
            EXPECT_EQ(get_team_statistics(team)->enemy_kills, owned ? lost[1 - team] : 0) << name << ", team " << team;
        }
        EXPECT_EQ(get_unattributed_statistics()->casualty_count, owned ? 0 : lost[0] + lost[1]) << name;

        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
    }
}

// The carnage report's kills, losses and damage of each person it lists, as
// the dialog lays out their rows; its attrition score cell shows the damage.
std::map<int32_t, std::string> carnage_report(void)
{
    statistics_parameters rows[16];
    std::map<int32_t, std::string> shown;
    for (int32_t i = 0, count = build_player_stats_rows(_scoring_attrition, 600, rows, 16); i < count; ++i)
    {
        std::map<int16_t, std::string> cells;
        const rectangle2d bounds = {0, 0, 20, 600};
        const auto keep = [](void *into, int16_t column, const rectangle2d *, const char *text, uint32_t) {
            (*(std::map<int16_t, std::string> *)into)[column] = text;
        };
        lay_out_player_stats_row(_scoring_attrition, &rows[i], &bounds, &bounds, keep, &cells);
        EXPECT_EQ(cells[_player_stats_score_column], cells[_player_stats_damage_column]);
        if (!rows[i].is_team_ranking)
            shown[rows[i].player_ranking.player_index] = cells[_player_stats_kills_column] + " " +
                                                         cells[_player_stats_casualties_column] + " " +
                                                         cells[_player_stats_damage_column];
    }
    return shown;
}

// The simulator's report of a recorded battle, the report of its film, and the
// carnage report the game builds when it plays that film agree player by
// player; a team's score is the damage it dealt, or 0 under the earlier rules.
TEST_F(statistics_report_test, the_simulators_report_and_the_carnage_report_of_its_film_agree)
{
    const std::regex player_line("player (\\d+) team (\\d+) kills (\\d+) losses (\\d+) damage (\\d+) taken \\d+ score (\\d+).*");
    for (const int32_t version : {(int32_t)DEFAULT_GAMEPLAY_VERSION, 1820})
    {
        SCOPED_TRACE(version);
        const std::string film = directory + "/battle" + std::to_string(version) + ".film";
        const std::string output[2] = {directory + "/recorded.txt", directory + "/replayed.txt"};
        ASSERT_EQ(run_vesk_sim("--map demo --seed 7 --ticks 1800 --orders '" + source_tree_path("data/orders/battle.txt") +
                               "' --gameplay-version " + std::to_string(version) + " --record '" + film +
                               "' --report > '" + output[0] + "'"),
                  0);
        ASSERT_EQ(run_vesk_sim("--film '" + film + "' --report > '" + output[1] + "'"), 0);
        const std::string recorded = read_whole_file(output[0]);
        EXPECT_EQ(read_whole_file(output[1]), recorded) << "the film replays in step and reports alike";

        std::map<int32_t, std::string> reported;
        std::istringstream lines(recorded);
        for (std::string line; std::getline(lines, line);)
        {
            std::smatch m;
            if (!std::regex_match(line, m, player_line)) continue;
            char damage[32];
            reported[std::stoi(m[1])] = std::string(m[3]) + " " + std::string(m[4]) + " " +
                                        format_damage_string(std::stoi(m[5]), damage, sizeof(damage));
            const bool owned = version >= FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS;
            EXPECT_EQ(std::stoi(m[6]), owned ? std::stoi(m[5]) : 0) << line; // one player a team
        }
        ASSERT_EQ(reported.size(), 2u) << recorded;

        int32_t ticks = 0;
        char reason[256] = "";
        ASSERT_TRUE(start_simulation_from_film(directory.c_str(), film.c_str(), &ticks, reason, sizeof(reason))) << reason;
        ASSERT_TRUE(run_simulation(ticks, nullptr, 0, nullptr, nullptr));
        force_player_statistics_update();
        // The carnage report lists the people: the simulator's computer player is none.
        const std::map<int32_t, std::string> shown = carnage_report();
        EXPECT_FALSE(shown.empty());
        for (const auto &[player, cells] : shown) EXPECT_EQ(cells, reported[player]) << "player " << player;
        stop_simulation();
    }
}

} // namespace

} // namespace statistics_report_test_file
