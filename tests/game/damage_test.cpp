// Damage and explosions: the draws, the objects reached and their order,
// dispatch by owner, safety when reactions delete objects, and expanding
// explosions across ticks.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "cseries/errors.h"
#include "cseries/registration.h"
#include "damage.h"
#include "explosions.h"
#include "object_definitions.h"
#include "objects.h"
#include "state_hash.h"
#include "support/objects_world.h"
#include "vesk_random.h"

namespace damage_test_file {

namespace {

// What the replaced reactions saw, in order: (owner kind, index, damage).
struct reaction
{
    int32_t kind;
    int32_t index;
    int32_t damage;
};
std::vector<reaction> reactions;
// Optional side effect of a unit's reaction (deleting objects, answering a group).
void (*unit_side_effect)(int32_t monster_index, damage_data *data) = nullptr;

void record_monster(const damage_definition *, damage_data *data, int32_t monster_index)
{
    reactions.push_back({_object_is_monster, monster_index, data->damage});
    if (unit_side_effect) unit_side_effect(monster_index, data);
}
void record_projectile(const damage_definition *, damage_data *data, int32_t object_index)
{
    reactions.push_back({_object_is_projectile, object_index, data->damage});
}

// The units' and projectiles' reactions replaced by the records above, so
// that the areas and the order are seen on bare objects.
const damage_reaction_procedures recording_reactions = {record_monster, record_projectile};

std::vector<int32_t> reacting_units(void)
{
    std::vector<int32_t> units;
    for (const reaction &r : reactions) units.push_back(r.index);
    return units;
}

class damage_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        objects_world_map map;
        map.width = 16;
        map.height = 16;
        ASSERT_TRUE(load_objects_world(map));
        ASSERT_TRUE(initialize_explosions());
        initialize_explosions_for_new_map();
        reactions.clear();
        unit_side_effect = nullptr;
        memset(&object_definition, 0, sizeof(object_definition));
        for (auto &modifier : object_definition.effect_modifiers) modifier = 256;
        object_definition.radius = 0;
        object_definition.height = 64;
        object_definition.maximum_vitality = 1000;
        object_definition.scale_lower_bound = 256;
        type = (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('t', 'e', 's', 't'), &object_definition);
        initialize_damage_data(&data);
    }
    void TearDown() override
    {
        dispose_explosions_from_old_map();
        set_damage_reaction_procedures(nullptr);
        clear_all_registrations();
        dispose_objects_world();
        clear_pending_error();
    }

    // A solid object of `owner` kind at (x, y) with the given footprint radius.
    int32_t make(int8_t owner, int16_t owner_index, world_distance x, world_distance y, int16_t radius = 0,
                 uint32_t flags = _object_is_solid_flag)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = type;
        request.scale = 256;
        request.owner = owner;
        request.owner_index = owner_index;
        request.location.position = {x, y, 0};
        const int32_t index = new_object(&request);
        EXPECT_NE(index, NONE);
        object_data *object = get_object(index);
        object->flags = (object->flags & ~(uint32_t)_object_is_solid_flag) | flags;
        object->radius = radius;
        return index;
    }
    int32_t unit(int16_t owner_index, world_distance x, world_distance y, int16_t radius = 0)
    {
        return make(_object_is_monster, owner_index, x, y, radius);
    }

    static damage_definition area(int16_t damage, int16_t radius, int16_t rate = 0)
    {
        return damage_definition{_damage_explosion, 0, damage, 0, radius, 0, rate, 0};
    }

    struct object_definition object_definition;
    int16_t type = NONE;
    damage_data data;
};

TEST_F(damage_test, draws_amount_then_radius_and_scales_both)
{
    struct draw_case
    {
        const char *name;
        damage_definition definition;
        short_fixed scale;
        uint16_t flags;
        fixed_fraction mana;
        uint32_t draws;
    };
    const draw_case cases[] = {
        {"every random term", {_damage_kinetic, 0, 100, 300, 200, 1000, 0, 0}, 0, 0, 0, 2},
        {"no delta draws nothing", {_damage_kinetic, 0, 100, 0, 200, 0, 0, 0}, 0, 0, 0, 0},
        {"negative deltas draw nothing", {_damage_kinetic, 0, 100, -5, 200, -5, 0, 0}, 0, 0, 0, 0},
        {"radius term only", {_damage_kinetic, 0, 100, 0, 200, 1000, 0, 0}, 0, 0, 0, 1},
        {"half scale", {_damage_kinetic, 0, 100, 300, 200, 1000, 0, 0}, 128, 0, 0, 2},
        {"a third of the mana", {_damage_kinetic, 0, 100, 300, 200, 1000, 0, 0}, 0,
         _damage_proportional_to_mana_flag, 21845, 2},
    };
    for (const draw_case &c : cases)
    {
        set_random_seed(4711);
        const int64_t first = c.definition.damage_delta > 0 ? vesk_random() : 0;
        const int64_t second = c.definition.radius_delta > 0 ? vesk_random() : 0;
        const int64_t scale = c.scale ? c.scale : 256;
        int64_t damage = ((c.definition.damage_lower_bound + (c.definition.damage_delta > 0 ? (first * c.definition.damage_delta) >> 16 : 0)) * scale) >> 8;
        if (c.flags & _damage_proportional_to_mana_flag) damage = damage * c.mana / 65535;
        const int64_t radius = ((c.definition.radius_lower_bound + (c.definition.radius_delta > 0 ? (second * c.definition.radius_delta) >> 16 : 0)) * scale) >> 8;

        set_random_seed(4711);
        reset_random_draw_counts();
        initialize_damage_data(&data);
        data.scale = c.scale;
        data.flags = c.flags;
        data.mana_proportion = c.mana;
        const resolved_damage resolved = resolve_damage(&c.definition, &data);
        EXPECT_EQ(get_vesk_random_draw_count(), c.draws) << c.name;
        EXPECT_EQ(resolved.damage, damage) << c.name;
        EXPECT_EQ(resolved.radius, radius) << c.name;

        // cause_damage makes the same draws, and nothing more with nothing to reach.
        set_random_seed(4711);
        reset_random_draw_counts();
        cause_damage(NONE, &c.definition, &data);
        EXPECT_EQ(get_vesk_random_draw_count(), c.draws) << c.name;
        EXPECT_EQ(data.damage, damage) << c.name;
    }
}

TEST_F(damage_test, damage_to_velocity_sets_the_push_from_the_amount)
{
    damage_definition definition = area(512, 0);
    definition.damage_to_velocity = 384; // x1.5: (512 * 384) >> 8 = 768
    data.velocity = 25;
    cause_damage(NONE, &definition, &data);
    EXPECT_EQ(data.velocity, 768);
    definition.damage_to_velocity = 0; // the caller's push stays
    data.velocity = 25;
    cause_damage(NONE, &definition, &data);
    EXPECT_EQ(data.velocity, 25);
}

TEST_F(damage_test, reaches_objects_by_cell_rows_then_chains_and_footprint)
{
    set_damage_reaction_procedures(&recording_reactions);
    const world_distance cx = 8 * 512 + 256, cy = 8 * 512 + 256; // centre of cell (8, 8)
    unit(1, cx + 600, cy - 600); // cell (9, 6)
    unit(2, cx - 600, cy - 600); // cell (7, 6)
    unit(3, cx - 100, cy);       // cell (8, 8), chained first...
    unit(4, cx + 100, cy);       // ...then this one at the chain's head
    unit(5, cx, cy + 700);       // cell (8, 9)
    unit(6, cx + 900, cy);       // distance 900 + radius 0 > 849: not reached
    unit(7, cx + 849, cy);       // just inside
    unit(8, cx + 800, cy, 49);   // 800 - 49 = 751 inside; edge of the footprint
    unit(9, cx + 900, cy, 49);   // 900 - 49 = 851: just outside
    make(_object_is_monster, 10, cx, cy, 0, 0); // not solid, not included
    make(_object_is_monster, 11, cx, cy - 1, 0, _object_must_be_included_in_explosions_flag);

    data.epicenter = {cx, cy, 0};
    set_random_seed(1);
    reset_random_draw_counts();
    const damage_definition definition = area(300, 849);
    cause_damage(NONE, &definition, &data);
    // Row 6: x 7 then 9; row 8: x 8 (chain 11 (head), 4, 3), then 9 (8, 7 in chain order); row 9.
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{2, 1, 11, 4, 3, 8, 7, 5}));
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    for (const reaction &r : reactions) EXPECT_EQ(r.damage, 300);
}

TEST_F(damage_test, obstacle_first_and_once_and_its_group_returned)
{
    set_damage_reaction_procedures(&recording_reactions);
    const int32_t obstacle = unit(1, 1000, 1000);
    unit(2, 1100, 1000);
    unit(3, 1000, 1100);
    // Every reaction names its own group; only the obstacle's comes back.
    unit_side_effect = [](int32_t monster, damage_data *record) {
        record->flags |= _detonation_projectile_group_handled_by_obstacle_flag;
        record->detonation_projectile_group_type = (int16_t)(40 + monster);
    };
    data.epicenter = {1000, 1000, 0};
    const damage_definition definition = area(100, 300);
    EXPECT_EQ(cause_damage(obstacle, &definition, &data), _detonation_projectile_group_handled_by_obstacle_flag);
    EXPECT_EQ(data.detonation_projectile_group_type, 41);
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1, 2, 3}));

    // Without an obstacle, area reactions write into copies only.
    reactions.clear();
    initialize_damage_data(&data);
    data.epicenter = {1000, 1000, 0};
    EXPECT_EQ(cause_damage(NONE, &definition, &data), 0);
    EXPECT_EQ(data.detonation_projectile_group_type, NONE);
    EXPECT_EQ(reactions.size(), 3u);
}

TEST_F(damage_test, dispatch_by_owner_kind_to_the_real_reactions_or_their_replacements)
{
    const int32_t monster = unit(5, 500, 500);
    const int32_t projectile = make(_object_is_projectile, 0, 500, 500);
    const int32_t dormant = make(_object_is_dormant_projectile, 0, 500, 500);
    const int32_t scenery = make(_object_is_scenery, 0, 500, 500);
    const damage_definition definition = area(100, 0);
    data.damage = 100;

    // The real reactions: a unit's object and a projectile's belong to their
    // owners, which do not exist here, so nothing happens to them; scenery
    // loses vitality itself.
    for (int32_t index : {monster, projectile, dormant, scenery}) accelerate_object(&definition, &data, index);
    EXPECT_EQ(get_object(monster)->vitality, 1000);
    EXPECT_EQ(get_object(projectile)->vitality, 1000);
    EXPECT_EQ(get_object(dormant)->vitality, 1000);
    EXPECT_EQ(get_object(scenery)->vitality, 900);

    set_damage_reaction_procedures(&recording_reactions);
    for (int32_t index : {monster, projectile, dormant, scenery}) accelerate_object(&definition, &data, index);
    ASSERT_EQ(reactions.size(), 3u);
    EXPECT_EQ(reactions[0].kind, _object_is_monster);
    EXPECT_EQ(reactions[0].index, 5); // the unit's index, not its object's
    EXPECT_EQ(reactions[1].index, projectile);
    EXPECT_EQ(reactions[2].index, dormant);
    EXPECT_EQ(get_object(monster)->vitality, 1000); // the reaction decides
    EXPECT_EQ(get_object(scenery)->vitality, 800);

    accelerate_object(&definition, &data, 2000); // a free slot: nothing
    EXPECT_EQ(reactions.size(), 3u);
}

// Reactions that delete objects: the object made in a freed slot (same index,
// new identifier) is not the one the damage reached.
int32_t victim_index = NONE;
int32_t replacement_index = NONE;
void delete_victim_and_refill(int32_t monster, damage_data *)
{
    if (monster != 1 || victim_index == NONE) return;
    delete_object(victim_index);
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = NONE;
    request.owner = _object_is_monster;
    request.owner_index = 99;
    request.location.position = {1000, 1000, 0};
    replacement_index = new_object(&request);
    if (object_data *object = get_object(replacement_index)) object->flags |= _object_is_solid_flag;
}

TEST_F(damage_test, objects_deleted_by_an_earlier_reaction_are_not_touched)
{
    set_damage_reaction_procedures(&recording_reactions);
    unit(1, 1000, 1000);
    victim_index = unit(2, 1100, 1000);
    unit(3, 1200, 1000);
    unit_side_effect = delete_victim_and_refill;
    data.epicenter = {1000, 1000, 0};
    const damage_definition definition = area(100, 400);
    cause_damage(NONE, &definition, &data);
    EXPECT_EQ(replacement_index, victim_index); // the slot was reused...
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1, 3})); // ...and neither it nor the victim was hit
    EXPECT_TRUE(object_chains_are_consistent());
    victim_index = NONE;
}

TEST_F(damage_test, an_expanding_explosion_damages_each_object_once_in_order_across_ticks)
{
    set_damage_reaction_procedures(&recording_reactions);
    const int32_t obstacle = unit(9, 2000, 2000);
    unit(1, 2050, 2000);  // reached at radius 100
    unit(2, 2000, 2150);  // at 200
    unit(3, 1650, 2000);  // at 400
    unit(4, 2000, 2401);  // beyond the final radius
    data.epicenter = {2000, 2000, 0};
    const damage_definition definition = area(100, 400, 100);
    reset_random_draw_counts();
    cause_damage(obstacle, &definition, &data);
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{9})); // only the obstacle at once
    EXPECT_EQ(get_explosion_count(), 1);

    std::vector<std::vector<int32_t>> per_tick;
    for (int32_t tick = 0; tick < 6; ++tick)
    {
        reactions.clear();
        update_explosions();
        per_tick.push_back(reacting_units());
    }
    EXPECT_EQ(per_tick, (std::vector<std::vector<int32_t>>{{1}, {2}, {}, {3}, {}, {}}));
    EXPECT_EQ(get_explosion_count(), 0); // ended on the tick it reached 400
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
}

TEST_F(damage_test, an_object_moving_into_an_explosion_is_hit_once_and_deleted_ones_are_skipped)
{
    set_damage_reaction_procedures(&recording_reactions);
    const int32_t mover = unit(1, 2050, 2000);
    const int32_t doomed = unit(2, 2000, 2150);
    data.epicenter = {2000, 2000, 0};
    const damage_definition definition = area(100, 1000, 100);
    cause_damage(NONE, &definition, &data);
    update_explosions(); // mover hit
    // It moves out and back in: still hit only once.
    disconnect_object_from_mesh(mover);
    get_object(mover)->location.position.x = 2950;
    reconnect_object_to_mesh(mover);
    delete_object(doomed);
    for (int32_t tick = 0; tick < 12; ++tick) update_explosions();
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1}));
}

TEST_F(damage_test, expansion_falls_back_to_at_once_when_constant_or_the_array_is_full)
{
    set_damage_reaction_procedures(&recording_reactions);
    unit(1, 3000, 3000);
    const damage_definition definition = area(100, 300, 10);
    data.epicenter = {3000, 3000, 0};
    data.flags = _damage_caused_constantly_flag;
    cause_damage(NONE, &definition, &data);
    EXPECT_EQ(reactions.size(), 1u);
    EXPECT_EQ(get_explosion_count(), 0);

    data.flags = 0;
    for (int32_t i = 0; i < MAXIMUM_EXPLOSIONS_PER_MAP; ++i) cause_damage(NONE, &definition, &data);
    EXPECT_EQ(get_explosion_count(), MAXIMUM_EXPLOSIONS_PER_MAP);
    reactions.clear();
    cause_damage(NONE, &definition, &data); // no slot left: the damage is not lost
    EXPECT_EQ(reactions.size(), 1u);
}

// A reaction that causes expanding damage again: the new explosion waits a tick.
bool nested_explosion_caused = false;
void cause_nested_explosion(int32_t monster, damage_data *record)
{
    if (monster != 1 || nested_explosion_caused) return;
    nested_explosion_caused = true;
    static const damage_definition nested = {_damage_explosion, 0, 50, 0, 4000, 0, 2000, 0};
    damage_data data;
    initialize_damage_data(&data);
    data.epicenter = {100, 100, 0};
    cause_damage(NONE, &nested, &data);
}

TEST_F(damage_test, explosions_made_during_the_update_start_growing_next_tick)
{
    set_damage_reaction_procedures(&recording_reactions);
    unit(1, 100, 100);
    unit(2, 4000, 100);
    unit_side_effect = cause_nested_explosion;
    nested_explosion_caused = false;
    data.epicenter = {100, 100, 0};
    const damage_definition definition = area(100, 100, 100);
    cause_damage(NONE, &definition, &data);
    update_explosions();
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1}));
    EXPECT_EQ(get_explosion_count(), 1); // the first ended, the nested one waits
    update_explosions();
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1, 1}));
    update_explosions();
    EXPECT_EQ(reacting_units(), (std::vector<int32_t>{1, 1, 2}));
    EXPECT_EQ(get_explosion_count(), 0);
}

TEST_F(damage_test, the_state_hash_covers_explosions)
{
    const uint32_t without = compute_state_hash();
    data.epicenter = {3000, 3000, 0};
    const damage_definition definition = area(100, 300, 100);
    cause_damage(NONE, &definition, &data);
    const uint32_t with = compute_state_hash();
    EXPECT_NE(with, without);
    update_explosions();
    const uint32_t grown = compute_state_hash();
    EXPECT_NE(grown, with);
    update_explosions();
    update_explosions();
    EXPECT_EQ(compute_state_hash(), without); // ended: nothing of it is left
}

} // namespace

} // namespace damage_test_file
