// The figures a player reads after a real fight: the demo battle with its
// orders, then the rankings, the post-game report and the standings.  Each
// side's kills, losses and damage are the units the unit layer saw fall;
// the synchronized counts, which the state hash covers, still count every
// unit for nobody.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "statistics.h"
#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/data.h"
#include "unit_orders.h"

namespace statistics_report_test_file {

namespace {

class statistics_report_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
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

        // The hashed counts are as every trace so far has them: nobody's.
        EXPECT_EQ(get_player_statistics(0)->total_kill_count, 0) << name;
        EXPECT_EQ(get_team_statistics(0)->enemy_kills, 0) << name;
        EXPECT_EQ(get_unattributed_statistics()->casualty_count, lost[0] + lost[1]) << name;

        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
    }
}

} // namespace

} // namespace statistics_report_test_file
