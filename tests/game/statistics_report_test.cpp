// The figures a player reads after a real fight: the demo battle with its
// orders, then the rankings, the post-game report, the standings and the
// carnage report.  Each side's kills, losses and damage are the units the
// unit layer saw fall, and the hashed counts and attrition scores know them.
// A unit felled by its own side (an arrow into a friend's back) is nobody's
// kill: its fall counts as a loss and the arrow's damage as damage to allies.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/postgame_player_stats.h"
#include "determinism_harness.h"
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
    uint32_t seed;
    int32_t ticks;
};
const battle_case battles[] = {{7, 900}, {8, 900}, {7, 1800}};

TEST_F(statistics_report_test, each_side_is_credited_with_the_units_that_fell)
{
    int32_t felled_by_friends = 0;
    for (const battle_case &b : battles)
    {
        const std::string name = "seed " + std::to_string(b.seed) + ", " + std::to_string(b.ticks) + " ticks";
        std::string reason;
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
            // Every enemy loss is this player's kill, but for those the enemy felled himself.
            EXPECT_LE(ranking->total_kill_count, lost[enemy]) << name << ", player " << player;
            if (ranking->total_kill_count < lost[enemy])
            {
                EXPECT_GT(get_player_statistics(enemy)->damage_to_allies, 0)
                    << name << ", player " << player << ": a unit fell to nobody's account";
                felled_by_friends += lost[enemy] - ranking->total_kill_count;
            }
            EXPECT_EQ(ranking->extant_unit_count, alive[player]) << name << ", player " << player;
            EXPECT_EQ(ranking->total_damage > 0, lost[enemy] > 0) << name << ", player " << player;
            const draxil_net_game_standings_player &standing = get_draxil_net_game_standings()->players[player];
            EXPECT_EQ(standing.units_killed, ranking->total_kill_count) << name << ", player " << player;
            EXPECT_EQ(standing.units_lost, lost[player]) << name << ", player " << player;
        }
        // The local player's row and the other team's losses, as the report shows them.
        char damage[32] = "";
        int32_t kills = 0;
        for (int32_t rank = 0; const player_ranking_data *r = get_player_ranking(rank); ++rank)
            if (r->player_index == 0)
            {
                format_damage_string(r->total_damage, damage, sizeof(damage));
                kills = r->total_kill_count;
            }
        const std::string text = report_text();
        const std::string row = "Player 1\n" + std::to_string(kills) + "\n" + std::to_string(lost[0]) + "\n" + damage;
        EXPECT_NE(text.find(row), std::string::npos) << name << "\n" << text;
        EXPECT_NE(text.find("Enemy losses\nTeam 2\n" + std::to_string(lost[1]) + "\n"), std::string::npos) << name;
        // Losses beyond the kills are explained, never left to puzzle over.
        EXPECT_EQ(text.find("Not felled by you\n" + std::to_string(lost[1] - kills) + "\n") != std::string::npos,
                  lost[1] > kills)
            << name << "\n" << text;

        // The hashed counts know the owners, and attrition scores the damage dealt.
        EXPECT_EQ(get_team_statistics(0)->enemy_kills, kills) << name;
        EXPECT_EQ(get_unattributed_statistics()->casualty_count, 0) << name;
        EXPECT_EQ(get_team_data(0)->score, get_team_statistics(0)->damage_to_enemies) << name;

        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
    }
    EXPECT_GT(felled_by_friends, 0) << "no case of the table has a unit felled by its own side";
}

// vesk_sim's report of the recorded battle (player, kills, losses, damage)
// and the carnage report the game builds from its film, person by person.
TEST_F(statistics_report_test, the_simulators_report_and_the_carnage_report_of_its_film_agree)
{
    ASSERT_EQ(run_vesk_sim("--map demo --seed 7 --ticks 1800 --orders '" + source_tree_path("data/orders/battle.txt") +
                           "' --record battle.film --report > report.txt"),
              0);
    std::map<int32_t, std::string> reported, shown;
    std::istringstream lines(read_whole_file("report.txt"));
    const std::regex player_line("player (\\d+) team \\d+ kills (\\d+) losses (\\d+) damage (\\d+) .*");
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch m;
        char damage[32];
        if (std::regex_match(line, m, player_line))
            reported[std::stoi(m[1])] = std::string(m[2]) + " " + std::string(m[3]) + " " +
                                        format_damage_string(std::stoi(m[4]), damage, sizeof(damage));
    }
    int32_t ticks = 0;
    char reason[256] = "";
    ASSERT_TRUE(start_simulation_from_film(directory.c_str(), "battle.film", &ticks, reason, sizeof(reason))) << reason;
    ASSERT_TRUE(run_simulation(ticks, nullptr, 0, nullptr, nullptr));
    force_player_statistics_update();
    statistics_parameters rows[16];
    for (int32_t i = 0, count = build_player_stats_rows(_scoring_attrition, 600, rows, 16); i < count; ++i)
    {
        std::map<int16_t, std::string> cells;
        const rectangle2d bounds = {0, 0, 20, 600};
        const auto keep = [](void *into, int16_t column, const rectangle2d *, const char *text, uint32_t) {
            (*(std::map<int16_t, std::string> *)into)[column] = text;
        };
        lay_out_player_stats_row(_scoring_attrition, &rows[i], &bounds, &bounds, keep, &cells);
        EXPECT_EQ(cells[_player_stats_score_column], cells[_player_stats_damage_column]) << "attrition scores damage";
        shown[rows[i].player_ranking.player_index] = cells[_player_stats_kills_column] + " " +
                                                     cells[_player_stats_casualties_column] + " " + cells[_player_stats_damage_column];
    }
    ASSERT_EQ(shown.size(), reported.size()) << "every side has its row, the computer's too";
    for (const auto &[player, figures] : shown) EXPECT_EQ(figures, reported[player]) << "player " << player;
}

} // namespace

} // namespace statistics_report_test_file
