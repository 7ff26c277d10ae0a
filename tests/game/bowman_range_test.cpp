// The skirmish's bowmen (the demo data's own definitions) ordered to attack
// on a flat field: one pair at an enemy within their reach shoots from where
// it stands, the other at an enemy beyond it walks until the enemy is within
// reach and shoots from there; a swordsman ordered at an enemy as far
// closes to strike.  Their arrows hurt what they strike from the gameplay
// version that judges a strike by its speed.  A bowman in reach of an enemy
// beyond a ridge, whose shot the ground blocks, walks on to a clear shot
// from the version that lets a blocked shot close on its target.  (And the
// demo's units ordered at the map's edges stay on it.)  A scout
// at rest beyond Skirmish Hill's ford is struck from the version that leads
// only a target that is walking.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "determinism_harness.h"
#include "gameplay_versions.h"
#include "monster_attacks.h"
#include "monsters.h"
#include "objects.h"
#include "projectiles.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "unit_orders.h"

namespace bowman_range_test_file {

namespace {

constexpr world_distance REACH = 3072; // skar.txt's maximum range

// Bowmen 10, 11 face enemy bowman 20 at 2,000; bowmen 12, 13 face enemy
// swordsman 21 at 5,000, and so does swordsman 14, far from both pairs.
const char *const FIELD = "size 32 32\nname Field\nteams 2\ntag interface menu\ntag observer demo\n"
                          "palette 0 0 none\npalette 0 1 none\n"
                          "palette 3 0 sa01\npalette 3 1 sa02\npalette 3 1 sw02\npalette 3 0 sw01\n"
                          "marker 0 0 1 8192 8192 0 0\nmarker 0 1 2 8192 8192 0 0\n"
                          "marker 3 0 10 3072 2816 0 0\nmarker 3 0 11 3072 3328 0 0\n"
                          "marker 3 1 20 5072 3072 0 32768\n"
                          "marker 3 0 12 3072 9984 0 0\nmarker 3 0 13 3072 10496 0 0\n"
                          "marker 3 2 21 8072 10240 0 32768\n"
                          "marker 3 3 14 3072 13824 0 0\n"
                          "marker 3 2 22 8072 13824 0 32768\n";
const char *const ORDERS = "1 0 attack 10,11 20\n1 0 attack 12,13 21\n1 0 attack 14 22\n";

class bowman_range_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        write_whole_file("field.map", FIELD, strlen(FIELD));
        const std::string ridge = ridge_map_source();
        write_whole_file("ridge.map", ridge.data(), ridge.size());
        return make_demo_map_source_tags(tool, directory + "/field.map", "fiel", tags) &&
               make_demo_map_source_tags(tool, directory + "/ridge.map", "ridg", tags) &&
               make_demo_map_source_tags(tool, "skirmish_hill.map", "skir", tags);
    }
    // The demo valley's ridge, running north to south across a flat field:
    // the demo's bowman 10 on its western slope and an enemy swordsman 20 at
    // rest beyond the crest (who cannot shoot first), where Scripted Valley's
    // last two bowmen stood.
    static std::string ridge_map_source(void)
    {
        static const int RIDGE[] = {60, 120, 180, 240, 300, 360, 420, 360, 300, 240, 180, 120, 60}; // columns 11..23
        std::string source = "size 32 32\nname Ridge\nteams 2\ntag interface menu\ntag observer demo\nheights\n";
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                source += std::to_string(x >= 11 && x <= 23 ? RIDGE[x - 11] : 0) + (x == 31 ? "\n" : " ");
        return source + "palette 0 0 none\npalette 0 1 none\npalette 3 0 ar01\npalette 3 1 wa02\n"
                        "marker 0 0 1 8192 8192 0 0\nmarker 0 1 2 8192 8192 0 0\n"
                        "marker 3 0 10 7441 7424 0 0\nmarker 3 1 20 11291 7424 0 32768\n";
    }
    void TearDown() override
    {
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        vesk_sim_fixture::TearDown();
    }
    // Plays map `map` under `version` for `ticks` with `orders` given at their
    // ticks, `look` seeing each tick; the map is stopped again afterwards.
    void play(uint32_t map, int32_t version, const char *orders, int32_t ticks, simulation_report_procedure look,
              void *watch)
    {
        char reason[256];
        write_whole_file("orders.txt", orders, strlen(orders));
        std::vector<unit_order> read;
        ASSERT_TRUE(read_unit_orders("orders.txt", &read, reason, sizeof(reason))) << reason;
        ASSERT_TRUE(start_simulation(nullptr, map, 1, reason, sizeof(reason))) << reason;
        current_gameplay_version = version; // the rule in play, as a film of that version sets it
        set_simulation_tick_procedure(give_unit_orders_of_tick, &read);
        EXPECT_TRUE(run_simulation_reporting(ticks, nullptr, 0, nullptr, nullptr, look, watch));
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
    }
};

struct shot
{
    world_point2d from; // where the shooter stood
    world_distance to_target;
};

struct watch
{
    std::map<int16_t, world_point2d> start;     // each of our units where it stood at the order
    std::map<int16_t, std::vector<shot>> shots; // by unit identifier
    std::map<int16_t, world_distance> nearest;  // closest a unit came to its target
    std::map<int32_t, int16_t> seen;            // projectile index -> its identifier
    std::map<int16_t, bool> hurt;               // each target struck below its full vitality, or fallen
};

const std::map<int16_t, int16_t> TARGET_OF = {{10, 20}, {11, 20}, {12, 21}, {13, 21}, {14, 22}};

const monster_data *unit_of(int16_t identifier)
{
    for (int32_t i = 0; i < get_monster_array()->capacity; ++i)
        if (const monster_data *monster = get_monster_data(i); monster && monster->identifier == identifier)
            return monster;
    return nullptr;
}

world_point2d where(const monster_data *monster)
{
    const object_data *object = get_object(monster->object_index);
    return {object->location.position.x, object->location.position.y};
}

// After each tick: where our units stand, and each new arrow of theirs.
void look(int32_t tick, uint32_t, void *context)
{
    watch &w = *(watch *)context;
    for (const auto &[unit, target] : TARGET_OF)
        if (const monster_data *monster = unit_of(unit), *enemy = unit_of(target); monster && enemy)
        {
            const world_point2d here = where(monster), there = where(enemy);
            if (tick <= 1) w.start[unit] = here;
            const object_data *body = get_object(enemy->object_index);
            w.hurt[target] = w.hurt[target] || !body || body->vitality < body->maximum_vitality;
            const world_distance d = distance2d(&here, &there);
            if (!w.nearest.count(unit) || d < w.nearest[unit]) w.nearest[unit] = d;
        }
    for (int32_t i = 0; i < MAXIMUM_PROJECTILES_PER_MAP; ++i)
    {
        const projectile_data *projectile = get_projectile_data(i);
        if (!projectile || (w.seen.count(i) && w.seen[i] == projectile->identifier)) continue;
        w.seen[i] = projectile->identifier;
        const monster_data *owner = get_monster_data(projectile->owner_monster_index);
        // An attack's arrow aims at a point; its puffs of trail do not.
        if (!owner || !TARGET_OF.count(owner->identifier) ||
            !(projectile->flags & _projectile_has_valid_target_location_flag))
            continue;
        if (const monster_data *enemy = unit_of(TARGET_OF.at(owner->identifier)))
        {
            const world_point2d from = where(owner), there = where(enemy);
            w.shots[owner->identifier].push_back({from, distance2d(&from, &there)});
        }
    }
}

// Each gameplay version in turn: the bowmen stand or walk as far as their
// reach in both; an arrow that strikes a unit hurts it only from the version
// that judges a strike by the speed it struck with.
TEST_F(bowman_range_test, a_bowman_shoots_from_where_it_stands_or_from_where_the_target_comes_within_reach)
{
    const struct
    {
        int32_t version;
        bool arrows_hurt;
    } versions[] = {{1825, false}, {FIRST_GAMEPLAY_VERSION_WITH_KINETIC_STRIKE_SPEED, true}};
    for (const auto &v : versions)
    {
        SCOPED_TRACE("gameplay version " + std::to_string(v.version));
        watch w;
        play(FOUR_CHARACTER_CODE('f', 'i', 'e', 'l'), v.version, ORDERS, 450, look, &w);
        if (HasFatalFailure()) return;

        for (const int16_t unit : {10, 11})
        {
            SCOPED_TRACE("bowman " + std::to_string(unit) + ", 2,000 from its target");
            ASSERT_FALSE(w.shots[unit].empty());
            const shot &first = w.shots[unit].front();
            EXPECT_LE(distance2d(&first.from, &w.start[unit]), 64) << "it walked before it shot";
            EXPECT_GE(first.to_target, 1900);
        }
        for (const int16_t unit : {12, 13})
        {
            SCOPED_TRACE("bowman " + std::to_string(unit) + ", 5,000 from its target");
            ASSERT_FALSE(w.shots[unit].empty());
            for (const shot &s : w.shots[unit]) EXPECT_LE(s.to_target, REACH);
            EXPECT_GE(w.shots[unit].front().to_target, REACH - 512) << "it walked on past its reach";
        }
        for (const int16_t enemy : {20, 21}) EXPECT_EQ(w.hurt[enemy], v.arrows_hurt) << "enemy " << enemy;
        EXPECT_LT(w.nearest[14], 1024) << "the swordsman closes to strike";
    }
}

struct ridge_watch
{
    world_distance farthest_east = 0; // of bowman 10
    int32_t arrows_at_start = -1, arrows_left = -1;
};

void look_at_the_ridge(int32_t, uint32_t, void *context)
{
    ridge_watch &w = *(ridge_watch *)context;
    if (const monster_data *bowman = unit_of(10))
    {
        w.farthest_east = std::max(w.farthest_east, where(bowman).x);
        if (w.arrows_at_start < 0) w.arrows_at_start = bowman->ammunition_count;
        w.arrows_left = bowman->ammunition_count;
    }
}

// A bowman ordered at an enemy beyond a ridge comes within reach on the near
// slope, where the ground blocks every shot: from the version that lets a
// blocked shot close on its target it walks on up the ridge and shoots;
// before, it stood there for good without a shot.
TEST_F(bowman_range_test, a_bowman_whose_shot_the_ridge_blocks_walks_on_until_it_has_a_clear_one)
{
    const struct
    {
        int32_t version;
        bool closes;
    } versions[] = {{1825, false}, {FIRST_GAMEPLAY_VERSION_CLOSING_ON_BLOCKED_SHOTS, true}};
    for (const auto &v : versions)
    {
        SCOPED_TRACE("gameplay version " + std::to_string(v.version));
        ridge_watch w;
        play(FOUR_CHARACTER_CODE('r', 'i', 'd', 'g'), v.version, "1 0 attack 10 20\n", 900, look_at_the_ridge, &w);
        if (HasFatalFailure()) return;
        EXPECT_EQ(w.farthest_east >= 7441 + 512, v.closes) << "farthest east " << w.farthest_east;
        EXPECT_EQ(w.arrows_left < w.arrows_at_start, v.closes)
            << w.arrows_left << " of " << w.arrows_at_start << " arrows left";
    }
}

// How many of the player's units left the map (after the last tick, the most).
void count_lost(int32_t, uint32_t, void *context)
{
    int32_t lost = 0;
    for (int32_t i = 0; i < get_monster_array()->capacity; ++i)
        if (const monster_data *m = get_monster_data(i))
            lost += m->owner_team_index == 0 && (m->flags & _monster_has_left_the_mesh_flag);
    *(int32_t *)context = lost;
}

// Demo Valley's four units ordered at and past every edge and corner: from
// 1840 none leaves the map; under 1830 an order past the east edge walks
// units off it, as its films replay.
TEST_F(bowman_range_test, a_players_order_at_or_past_any_edge_keeps_its_units_on_the_map_from_1840)
{
    const char *const far = "524288", *const middle = "8192";
    const struct
    {
        const char *x, *y;
        int32_t version;
        bool kept;
    } rows[] = {{"0", middle, 1840, true},   {far, middle, 1840, true}, {middle, "0", 1840, true},
                {middle, far, 1840, true},   {"0", "0", 1840, true},    {far, far, 1840, true},
                {middle, "16128", 1840, true}, {far, middle, 1830, false}};
    for (const auto &row : rows)
    {
        SCOPED_TRACE(std::string(row.x) + "," + row.y + " under " + std::to_string(row.version));
        const std::string order = std::string("30 0 move 10,11,12,13 ") + row.x + "," + row.y + "\n";
        int32_t lost = 0;
        play(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), row.version, order.c_str(), 900, count_lost, &lost);
        if (HasFatalFailure()) return;
        EXPECT_EQ(lost == 0, row.kept) << lost << " units left the map";
    }
}

// Whether Skirmish Hill's first scout (20) was struck below full vitality.
void look_at_the_scout(int32_t, uint32_t, void *context)
{
    const monster_data *scout = unit_of(20);
    const object_data *body = scout ? get_object(scout->object_index) : nullptr;
    *(bool *)context = *(bool *)context || !body || body->vitality < body->maximum_vitality;
}

// Skirmish Hill's four bowmen ordered at a scout at rest beyond the ford, at
// 2,000 and at 3,000: the scout walked there and stopped, facing them.  From
// 1840 their arrows strike him; before, each shot was led as if he were
// still walking towards them, and fell far short.
TEST_F(bowman_range_test, bowmen_hurt_a_scout_at_rest_beyond_the_ford_from_1840)
{
    const struct
    {
        int32_t distance, version;
        bool hurt;
    } rows[] = {{2000, 1840, true}, {3000, 1840, true}, {3000, 1830, false}};
    for (const auto &row : rows)
    {
        SCOPED_TRACE(std::to_string(row.distance) + " away under " + std::to_string(row.version));
        const std::string orders =
            "30 0 move 16,17,18,19 " + std::to_string(10240 - row.distance) + ",8192\n900 0 attack 16,17,18,19 20\n";
        bool hurt = false;
        play(FOUR_CHARACTER_CODE('s', 'k', 'i', 'r'), row.version, orders.c_str(), 1800, look_at_the_scout, &hurt);
        if (HasFatalFailure()) return;
        EXPECT_EQ(hurt, row.hurt);
    }
}

} // namespace

} // namespace bowman_range_test_file
