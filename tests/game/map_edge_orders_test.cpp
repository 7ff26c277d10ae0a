// Demo Valley's four units of the player ordered at and past every edge and
// corner of the map: from gameplay version 1840 every one stays on the map
// (a unit that walks into the border band leaves the game for good); under
// 1830 some order walks them off, which is what films of it replay.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "gameplay_versions.h"
#include "monsters.h"
#include "support/vesk_sim_fixture.h"
#include "unit_orders.h"

namespace map_edge_orders_test_file {

namespace {

constexpr tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
constexpr int32_t FAR = 1024 * WORLD_ONE; // the farthest point an orders file takes
constexpr int32_t MIDDLE = 16 * WORLD_ONE; // the middle of the 32-cell valley

class map_edge_orders_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        vesk_sim_fixture::TearDown();
    }
    // The player's units that left the map after `orders` under `version`.
    int32_t units_lost(int32_t version, const std::string &orders)
    {
        char reason[256];
        write_whole_file("orders.txt", orders.data(), orders.size());
        std::vector<unit_order> read;
        EXPECT_TRUE(read_unit_orders("orders.txt", &read, reason, sizeof(reason))) << reason;
        EXPECT_TRUE(start_simulation(nullptr, DEMO, 1, reason, sizeof(reason))) << reason;
        current_gameplay_version = version;
        set_simulation_tick_procedure(give_unit_orders_of_tick, &read);
        EXPECT_TRUE(run_simulation(900, nullptr, 0, nullptr, nullptr));
        set_simulation_tick_procedure(nullptr, nullptr);
        int32_t lost = 0;
        for (int32_t i = 0; i < get_monster_array()->capacity; ++i)
            if (const monster_data *monster = get_monster_data(i))
                lost += monster->owner_team_index == 0 && (monster->flags & _monster_has_left_the_mesh_flag);
        stop_simulation();
        return lost;
    }
};

TEST_F(map_edge_orders_test, a_players_order_at_or_past_any_edge_keeps_its_units_on_the_map_from_1840)
{
    const struct
    {
        const char *edge;
        int32_t x, y;
    } edges[] = {
        {"west", 0, MIDDLE},        {"east", FAR, MIDDLE},   {"south", MIDDLE, 0},     {"north", MIDDLE, FAR},
        {"south-west", 0, 0},       {"north-east", FAR, FAR}, {"east border", 31 * WORLD_ONE, MIDDLE},
        {"north border", MIDDLE, 31 * WORLD_ONE + WORLD_ONE / 2},
    };
    int32_t lost_before = 0;
    for (const auto &e : edges)
    {
        SCOPED_TRACE(e.edge);
        const std::string order =
            "30 0 move 10,11,12,13 " + std::to_string(e.x) + "," + std::to_string(e.y) + "\n";
        EXPECT_EQ(units_lost(1840, order), 0);
        if (e.x == FAR && e.y == MIDDLE) lost_before = units_lost(1830, order);
    }
    EXPECT_GT(lost_before, 0) << "an order past the east edge walked no unit off under 1830";
}

} // namespace

} // namespace map_edge_orders_test_file
