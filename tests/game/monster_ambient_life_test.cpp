// Ambient life: the behaviour pool fills, fails and compacts by version, a
// unit with an unknown behaviour gets its action but no block, units that
// cannot act are skipped, and each behaviour draws in its stated order.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "map_actions/action_procs.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "map_actions/monster_ambient_life.h"
#include "monster_commands.h"
#include "monster_life.h"
#include "vesk_random.h"

namespace monster_ambient_life_test_file {

namespace {

constexpr action_tag BEAR = FOUR_CHARACTER_CODE('b', 'e', 'a', 'r');
constexpr action_tag CHICKEN = FOUR_CHARACTER_CODE('c', 'h', 'i', 'c');
constexpr action_tag DEER = FOUR_CHARACTER_CODE('d', 'e', 'e', 'r');
constexpr action_tag PEASANT = FOUR_CHARACTER_CODE('p', 'e', 'a', 's');
constexpr action_tag SOARING = FOUR_CHARACTER_CODE('s', 'o', 'a', 'r');
constexpr uint32_t SEED = 0x2468ACE1;

// The synchronized draws that follow `seed`.
std::vector<int32_t> draws_after(uint32_t seed, int32_t count)
{
    const uint32_t saved = get_random_seed();
    set_random_seed(seed);
    std::vector<int32_t> values;
    for (int32_t i = 0; i < count; i++) values.push_back(vesk_random());
    set_random_seed(saved);
    return values;
}
int32_t scaled(int32_t draw, int32_t delta) { return (int32_t)(((int64_t)draw * delta) >> 16); }
world_point2d along(world_point2d origin, int32_t heading, int32_t radius)
{
    return {origin.x + (int32_t)(((int64_t)cosine_rounded((angle)heading) * radius) >> 14),
            origin.y + (int32_t)(((int64_t)sine_rounded((angle)heading) * radius) >> 14)};
}
world_point2d clamped(world_point2d p)
{
    return {std::clamp(p.x, 0, 64 * 512 - 1), std::clamp(p.y, 0, 64 * 512 - 1)};
}
int32_t draws_between(uint32_t before, uint32_t after)
{
    const uint32_t saved = get_random_seed();
    set_random_seed(before);
    int32_t n = 0;
    while (get_random_seed() != after && n < 64)
    {
        vesk_random();
        n++;
    }
    set_random_seed(saved);
    return n;
}

class monster_ambient_life_test : public script_test_world
{
protected:
    void start(int32_t version = 1820)
    {
        start_world(64, 64, version);
        initialize_script_modules_for_new_map();
        game_->game_time = 32;
    }
    // A unit of player 0 at `at` with the behaviour `tag`.
    int32_t animal(world_point2d at, action_tag tag, int16_t speed = 0)
    {
        const int32_t index = make_unit(0, at);
        unit(index)->base_movement_speed = speed;
        EXPECT_TRUE(create_map_action_for_monster(index, tag));
        return index;
    }
    // A unit of another unit type (a threat to the animals) at `at`.
    int32_t stranger(world_point2d at)
    {
        const int32_t index = make_unit(1, at);
        unit(index)->unit_type = (int16_t)(unit(index)->unit_type + 1);
        return index;
    }
    template <typename record> record *block(int32_t index)
    {
        return static_cast<record *>(get_monster_map_action_data(index));
    }
    // Triggers the unit's own action; the number of draws it made.
    int32_t run(int32_t index, uint32_t seed = SEED)
    {
        set_random_seed(seed);
        EXPECT_EQ(trigger_map_action(unit(index)->map_action_index) & ~_map_action_proc_executed_flag, 0u);
        return draws_between(seed, get_random_seed());
    }
    world_point2d sent_to(int32_t index) { return unit(index)->waypoints[0]; }
};

bool same_point(world_point2d a, world_point2d b) { return a.x == b.x && a.y == b.y; }

// ---- the pool -------------------------------------------------------------------------------------

// The state hash passes over units without ambient life eight at a time: a
// chicken first or last of its eight, alone in it, after an eight without
// any, or among the last units of an uneven count still has its block hashed.
TEST_F(monster_ambient_life_test, the_state_hash_takes_in_a_block_wherever_its_unit_lies)
{
    start();
    const int32_t chickens[] = {0, 7, 15, 24, 28};
    for (int32_t i = 0, next = 0; i < 29; i++)
    {
        const world_point2d at = {(int16_t)(600 + 70 * i), 600};
        if (i == chickens[next]) ASSERT_EQ(animal(at, CHICKEN), chickens[next++]);
        else make_unit(0, at);
    }
    for (int32_t chicken : chickens)
    {
        uint32_t before = 0, after = 0;
        hash_monster_ambient_life(&before);
        block<chicken_action_data>(chicken)->ticks_until_next_movement += 1;
        hash_monster_ambient_life(&after);
        EXPECT_NE(before, after) << "chicken " << chicken;
    }
}

TEST_F(monster_ambient_life_test, below_1721_the_205th_deer_gets_its_action_but_no_block)
{
    start(1720);
    EXPECT_EQ(get_memory_pool_size(), MAP_ACTION_MEMORY_POOL_SIZE_172);
    std::vector<int32_t> deer;
    for (int32_t i = 0; i < 205; i++) deer.push_back(animal({1000 + 100 * (i % 200), 1000 + 100 * (i / 200)}, DEER));
    for (int32_t i = 0; i < 204; i++) ASSERT_EQ(unit(deer[i])->monster_map_action_data, 20 * i);
    const monster_data *last = unit(deer[204]);
    EXPECT_EQ(last->monster_map_action_data, NONE);
    EXPECT_EQ(get_free_space_left_in_pool(), 4096 - 204 * 20);
    ASSERT_NE(last->map_action_index, NONE);
    const map_action *action = get_map_action(last->map_action_index);
    EXPECT_EQ(action->tag, DEER);
    EXPECT_TRUE(action->flags & _map_action_initially_active_flag);
    EXPECT_EQ(action->deactivation_mode, _map_action_deactivates_on_successful_execution);
    EXPECT_EQ(values_of<int16_t>(last->map_action_index, _common_field_name_subject, _parameter_monster_identifier),
              std::vector<int16_t>{last->identifier});
    EXPECT_STREQ(get_map_action_name(last->map_action_index),
                 ("monster " + std::to_string(deer[204]) + " ambient action").c_str());
    // Its procedure skips it: no draw.
    EXPECT_EQ(run(deer[204]), 0);
    // Deaths do not give the space back before 1721.
    for (int32_t i = 0; i < 100; i++) delete_datum(get_monster_array(), deer[i]);
    EXPECT_EQ(unit(animal({5000, 5000}, DEER))->monster_map_action_data, NONE);
}

TEST_F(monster_ambient_life_test, from_1721_compaction_reclaims_the_blocks_of_dead_units_keeping_the_others)
{
    start(1721);
    EXPECT_EQ(get_memory_pool_size(), MAP_ACTION_MEMORY_POOL_SIZE);
    // 350 deer and 50 chickens: 7600 of 8192 bytes.
    std::vector<int32_t> units;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; i++)
        units.push_back(animal({600 + 70 * (i % 400), 600 + 512 * (i % 50)}, i % 8 == 1 ? CHICKEN : DEER));
    EXPECT_EQ(get_free_space_left_in_pool(), 8192 - 350 * 20 - 50 * 12);
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; i++)
        block<chicken_action_data>(units[i])->ticks_until_next_movement = 1000 + i;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; i += 2) delete_datum(get_monster_array(), units[i]);
    // 29 new deer fit in the 592 bytes left; the 30th compacts the pool first.
    std::vector<int32_t> born;
    for (int32_t i = 0; i < 30; i++) born.push_back(animal({9000, 9000}, DEER));
    for (int32_t index : born) EXPECT_NE(unit(index)->monster_map_action_data, NONE);
    // The odd units live on: 150 deer and all 50 chickens.
    const int32_t survivors = 150 * 20 + 50 * 12;
    EXPECT_EQ(get_free_space_left_in_pool(), 8192 - survivors - 30 * 20);
    int32_t expected_offset = 0;
    for (int32_t index = 0; index < MAXIMUM_MONSTERS_PER_MAP; index++)
    {
        const monster_data *monster = unit(index);
        if (!monster) continue;
        const bool newborn = std::find(born.begin(), born.end(), index) != born.end();
        if (!newborn)
        {
            EXPECT_EQ(monster->monster_map_action_data, expected_offset) << index;
            EXPECT_EQ(block<chicken_action_data>(index)->ticks_until_next_movement, 1000 + index);
        }
        expected_offset += newborn ? 20 : (index % 8 == 1 ? 12 : 20);
        if (newborn && born.back() == index) break;
    }
}

TEST_F(monster_ambient_life_test, an_unknown_tag_gets_an_action_and_no_block_and_its_procedure_skips_it)
{
    start();
    const int32_t index = animal({3000, 3000}, FOUR_CHARACTER_CODE('m', 'o', 'o', 'n'));
    EXPECT_EQ(unit(index)->monster_map_action_data, NONE);
    EXPECT_EQ(get_free_space_left_in_pool(), MAP_ACTION_MEMORY_POOL_SIZE);
    ASSERT_NE(unit(index)->map_action_index, NONE);
    set_random_seed(SEED);
    EXPECT_EQ(peasant_action_proc(unit(index)->map_action_index), 0u);
    EXPECT_EQ(get_random_seed(), SEED);
}

// Removing a unit without a death (trading, a player's units removed) takes
// its script with it from 1721 on, as killing it does.
TEST_F(monster_ambient_life_test, removing_a_unit_deletes_its_action_from_1721)
{
    for (const int32_t version : {1720, 1721})
    {
        start(version);
        register_map_action_procedures(map_action_engine_procedures()); // the units reach the script engine through it
        const int32_t index = animal({3000, 3000}, FOUR_CHARACTER_CODE('p', 'e', 'a', 's'));
        const int32_t action = unit(index)->map_action_index;
        ASSERT_NE(action, NONE);
        delete_monster(index, false);
        EXPECT_EQ(get_map_action(action) != nullptr, version == 1720) << version;
        stop();
    }
}

TEST_F(monster_ambient_life_test, a_new_unit_takes_its_behaviour_from_its_definition)
{
    start();
    const world_point2d at = {4000, 4000};
    const int32_t plain = make_unit(0, at);
    EXPECT_FALSE(create_map_action_for_new_monster(plain));
    EXPECT_EQ(unit(plain)->map_action_index, NONE);
    definition()->map_action_tag = PEASANT;
    const int32_t index = make_unit(0, at);
    ASSERT_TRUE(create_map_action_for_new_monster(index));
    const int32_t action_index = unit(index)->map_action_index;
    EXPECT_EQ(get_map_action_tag(action_index), PEASANT);
    ASSERT_NE(block<peasant_action_data>(index), nullptr);
    EXPECT_TRUE(same_point(block<peasant_action_data>(index)->original_position, at));
}

// ---- who runs ------------------------------------------------------------------------------------

TEST_F(monster_ambient_life_test, paralysed_units_never_run_and_healed_held_or_stoned_ones_only_before_1511)
{
    const struct
    {
        int32_t version;
        int8_t action;
        bool left_mesh;
        bool runs;
    } cases[] = {
        {1820, _monster_action_paralyzed, false, false}, {1300, _monster_action_paralyzed, false, false},
        {1510, _monster_action_being_healed, false, true}, {1511, _monster_action_being_healed, false, false},
        {1510, _monster_action_stoned, false, true},      {1511, _monster_action_being_held, false, false},
        {1695, _monster_action_idle, true, true},         {1696, _monster_action_idle, true, false},
    };
    for (const auto &c : cases)
    {
        start(c.version);
        const int32_t index = animal({3000, 3000}, PEASANT);
        unit(index)->action = c.action;
        if (c.left_mesh) unit(index)->flags |= _monster_has_left_the_mesh_flag;
        EXPECT_EQ(run(index) > 0, c.runs) << c.version << " " << (int)c.action;
        stop();
    }
}

// ---- each behaviour's draws --------------------------------------------------------------------

TEST_F(monster_ambient_life_test, peasant_draws_heading_radius_then_rest_and_waits_thirty_ticks_a_run)
{
    start();
    const world_point2d home = {8000, 9000};
    const int32_t index = animal(home, PEASANT, 40);
    const std::vector<int32_t> r = draws_after(SEED, 3);
    EXPECT_EQ(run(index), 3);
    const world_point2d destination = clamped(along(home, r[0], 5120 + scaled(r[1], 5120)));
    EXPECT_TRUE(same_point(sent_to(index), destination));
    EXPECT_EQ(unit(index)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    const int32_t ticks = distance2d(&home, &destination) / 40 - 60 + scaled(r[2], 300);
    EXPECT_EQ(block<peasant_action_data>(index)->ticks_until_next_movement, ticks);
    if (ticks >= 1)
    {
        EXPECT_EQ(run(index), 0);
        EXPECT_EQ(block<peasant_action_data>(index)->ticks_until_next_movement, ticks - 30);
    }
}

TEST_F(monster_ambient_life_test, chicken_flees_unclamped_then_wanders_clamped_and_rests)
{
    start();
    // Alone: heading, radius, rest.
    const world_point2d corner = {200, 200};
    const int32_t alone = animal(corner, CHICKEN);
    std::vector<int32_t> r = draws_after(SEED, 3);
    EXPECT_EQ(run(alone), 3);
    EXPECT_TRUE(same_point(sent_to(alone), clamped(along(corner, r[0], scaled(r[1], 2560)))));
    EXPECT_EQ(block<chicken_action_data>(alone)->ticks_until_next_movement, scaled(r[2], 150) - 60);
    stop();

    // A threat two cells east: the flight radius first, then (its time has
    // come) the wander and the rest.
    start();
    const world_point2d home = {20000, 20000};
    const int32_t chicken = animal(home, CHICKEN);
    stranger({home.x + 1024, home.y});
    r = draws_after(SEED, 4);
    EXPECT_EQ(run(chicken), 4);
    EXPECT_TRUE(same_point(sent_to(chicken), clamped(along(home, r[1], scaled(r[2], 2560)))));
    EXPECT_EQ(block<chicken_action_data>(chicken)->ticks_until_next_movement, scaled(r[3], 150) - 60);
    // While resting it still flees: the radius, then the rest.
    block<chicken_action_data>(chicken)->ticks_until_next_movement = 100;
    block<chicken_action_data>(chicken)->original_position = {100, 20000};
    r = draws_after(SEED, 2);
    EXPECT_EQ(run(chicken), 2);
    EXPECT_EQ(sent_to(chicken).y, along({100, 20000}, 0x8000, 1536 + scaled(r[0], 3072)).y);
    EXPECT_EQ(block<chicken_action_data>(chicken)->ticks_until_next_movement, scaled(r[1], 150) - 60);
}

TEST_F(monster_ambient_life_test, bear_attacks_a_threat_retreats_from_its_aggressor_and_recentres_after)
{
    start();
    const world_point2d home = {16000, 16000};
    const int32_t bear = animal(home, BEAR, 50);
    // First run: wander (heading, radius) and rest.
    // (The walking animation the bear is given draws in between.)
    std::vector<int32_t> r = draws_after(SEED, 16);
    int32_t k = run(bear);
    ASSERT_GE(k, 3);
    world_point2d destination = clamped(along(home, r[0], 512 + scaled(r[1], 5120)));
    EXPECT_TRUE(same_point(sent_to(bear), destination));
    EXPECT_EQ(unit(bear)->action_permutation, 18);
    EXPECT_EQ(block<bear_action_data>(bear)->ticks_until_next_movement,
              distance2d(&home, &destination) / 50 + scaled(r[k - 1], 240));

    // A threat within six cells: a target order and nothing else.
    const int32_t threat = stranger({home.x + 6 * 512, home.y});
    const int32_t ticks = block<bear_action_data>(bear)->ticks_until_next_movement;
    EXPECT_EQ(run(bear), 0);
    EXPECT_EQ(unit(bear)->target_monster_index, threat);
    EXPECT_EQ(block<bear_action_data>(bear)->ticks_until_next_movement, ticks);

    // Hurt by an aggressor far away: a run from it, 7680 from home, then the wait.
    place(threat, {home.x + 20 * 512, home.y});
    unit(bear)->aggressor_monster_index = (int16_t)threat;
    body(bear)->vitality = (short_fixed)(block<bear_action_data>(bear)->last_vitality - 10);
    r = draws_after(SEED, 1);
    EXPECT_EQ(run(bear), 1);
    EXPECT_TRUE(same_point(sent_to(bear), clamped(along(home, 0x8000, 7680))));
    EXPECT_TRUE(block<bear_action_data>(bear)->flags & _bear_was_previously_retreating);
    EXPECT_EQ(block<bear_action_data>(bear)->last_vitality, body(bear)->vitality);
    EXPECT_EQ(block<bear_action_data>(bear)->ticks_until_next_movement, 150 + scaled(r[0], 60) - 30);

    // Retreating, it ignores even a near threat; when its time comes it
    // wanders around where the retreat ended.
    place(threat, {home.x + 512, home.y});
    block<bear_action_data>(bear)->ticks_until_next_movement = 0;
    const world_point2d refuge = {home.x - 7000, home.y};
    place(bear, refuge);
    r = draws_after(SEED, 16);
    EXPECT_GE(run(bear), 3);
    EXPECT_FALSE(block<bear_action_data>(bear)->flags & _bear_was_previously_retreating);
    EXPECT_TRUE(same_point(block<bear_action_data>(bear)->original_position, refuge));
    EXPECT_TRUE(same_point(sent_to(bear), clamped(along(refuge, r[0], 512 + scaled(r[1], 5120)))));
}

TEST_F(monster_ambient_life_test, deer_runs_from_a_threat_and_ignores_ambient_or_invisible_ones)
{
    start();
    const world_point2d home = {16000, 16000};
    const int32_t deer = animal(home, DEER);
    const int32_t hidden = stranger({home.x + 512, home.y});
    unit(hidden)->extra_flags |= _monster_is_invisible_extra_flag;
    // Only the hidden stranger about: a plain wander.
    std::vector<int32_t> r = draws_after(SEED, 16);
    const int32_t k = run(deer);
    ASSERT_GE(k, 3);
    EXPECT_TRUE(same_point(sent_to(deer), clamped(along(home, r[0], 512 + scaled(r[1], 2560)))));
    EXPECT_EQ(block<deer_action_data>(deer)->ticks_until_next_movement, 540 + scaled(r[k - 1], 600));

    // An ambient-life class stranger is no threat either.
    definition()->monster_class = _monster_class_ambient_life;
    unit(hidden)->extra_flags &= ~_monster_is_invisible_extra_flag;
    block<deer_action_data>(deer)->ticks_until_next_movement = 45;
    EXPECT_EQ(run(deer), 0);
    EXPECT_EQ(block<deer_action_data>(deer)->ticks_until_next_movement, 15);

    // A real one: the retreat order, its time, the running animation.
    definition()->monster_class = _monster_class_melee;
    r = draws_after(SEED, 1);
    EXPECT_GE(run(deer), 1);
    EXPECT_EQ(unit(deer)->action_permutation, 19);
    EXPECT_TRUE(block<deer_action_data>(deer)->flags & _deer_was_previously_retreating);
    EXPECT_EQ(block<deer_action_data>(deer)->ticks_until_next_movement, 150 + scaled(r[0], 60) - 30);
}

TEST_F(monster_ambient_life_test, soaring_bird_rises_on_creation_switches_glide_and_flies_anywhere)
{
    start();
    const world_point2d at = {5000, 7000};
    const int32_t bird = animal(at, SOARING);
    const int32_t ground = get_mesh_height(&at, _mesh_ground_height);
    EXPECT_GE(unit(bird)->height_over_mesh, 1280);
    EXPECT_LE(unit(bird)->height_over_mesh, 1280 + 511);
    EXPECT_EQ(body(bird)->location.position.z, ground + unit(bird)->height_over_mesh);

    // Glide phase (the gliding animation draws next), then x (cell, spot)
    // and y (cell, spot).
    std::vector<int32_t> r = draws_after(SEED, 16);
    const int32_t k = run(bird);
    ASSERT_GE(k, 5);
    EXPECT_EQ(block<soaring_action_data>(bird)->ticks_until_glide_transition, 90 + scaled(r[0], 30));
    EXPECT_EQ(unit(bird)->action_permutation, 20);
    EXPECT_TRUE(same_point(sent_to(bird), {scaled(r[k - 4], 63) * 512 + scaled(r[k - 3], 511),
                                           scaled(r[k - 2], 63) * 512 + scaled(r[k - 1], 511)}));
    EXPECT_EQ(block<soaring_action_data>(bird)->ticks_until_next_movement, -60);
    // Still flying with time left: only the counters go down.
    unit(bird)->action = _monster_action_moving;
    body(bird)->location.velocity.i = 3;
    block<soaring_action_data>(bird)->ticks_until_next_movement = 40;
    block<soaring_action_data>(bird)->ticks_until_glide_transition = 50;
    EXPECT_EQ(run(bird), 0);
    EXPECT_EQ(block<soaring_action_data>(bird)->ticks_until_glide_transition, 20);
    EXPECT_EQ(block<soaring_action_data>(bird)->ticks_until_next_movement, 10);
}

} // namespace

} // namespace monster_ambient_life_test_file
