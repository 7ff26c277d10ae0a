// Objects: cell chains under long random sequences, move_object's flags,
// animation flags tick by tick, and damage against hand-computed values.

#include <gtest/gtest.h>

#include "tag_files/collection_procedures.h"
#include "support/expected_assertions.h"

#include <cstring>

#include "cseries/errors.h"
#include "cseries/registration.h"
#include "mesh.h"
#include "object_definitions.h"
#include "objects.h"
#include "scenery.h"
#include "support/objects_world.h"
#include "tag_files/data.h"

namespace objects_test_file {

namespace {

class objects_test : public ::testing::Test
{
protected:
    void load(const objects_world_map &map) { ASSERT_TRUE(load_objects_world(map)); }
    void TearDown() override
    {
        clear_all_registrations();
        dispose_objects_world();
        clear_pending_error();
    }

    // A definition made in place (no tag needed for these tests).
    int16_t add_definition(uint32_t flags, int16_t radius, int16_t height, short_fixed vitality = 0,
                           int16_t gravity = 0)
    {
        object_definition definition;
        memset(&definition, 0, sizeof(definition));
        for (auto &modifier : definition.effect_modifiers) modifier = 256;
        definition.flags = flags;
        definition.radius = radius;
        definition.height = height;
        definition.maximum_vitality = vitality;
        definition.gravity = gravity;
        definition.scale_lower_bound = 256;
        return (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('t', 'e', 's', 't'), &definition);
    }

    static int32_t make(int16_t type, world_distance x, world_distance y, world_distance z = 0)
    {
        new_object_data data;
        memset(&data, 0, sizeof(data));
        data.type = type;
        data.scale = 256;
        data.location.position = {x, y, z};
        return new_object(&data);
    }
};

// A test-only generator, independent of the game's.
uint32_t test_seed = 12345;
int32_t test_random(int32_t range)
{
    test_seed = test_seed * 1103515245u + 12345u;
    return (int32_t)((test_seed >> 8) % (uint32_t)range);
}

// The cell chains and, beside them, the scan chains (solid objects and units'
// objects, in chain order), which every step below must keep in step.
TEST_F(objects_test, chains_stay_consistent_through_long_random_sequences)
{
    load(objects_world_map{});
    const int16_t types[2] = {add_definition(0, 32, 64), add_definition(_object_definition_is_solid_flag, 32, 64)};
    std::vector<int32_t> live;
    for (int32_t step = 0; step < 4000; ++step)
    {
        const int32_t action = live.empty() ? 0 : test_random(7);
        if (action == 0 || live.size() < 4)
        {
            // Off-map points are allowed: they chain into the nearest edge cell.
            const int32_t index = make(types[test_random(2)], test_random(4800) - 400, test_random(4800) - 400);
            ASSERT_NE(index, NONE);
            live.push_back(index);
        }
        else if (action == 1)
        {
            const size_t at = (size_t)test_random((int32_t)live.size());
            delete_object(live[at]);
            live.erase(live.begin() + (long)at);
        }
        else if (action == 3 && live.size() >= 2)
        {
            const size_t a = (size_t)test_random((int32_t)live.size()), b = (size_t)test_random((int32_t)live.size());
            if (a == b) continue;
            ASSERT_TRUE(replace_object(live[a], live[b]));
            live.erase(live.begin() + (long)b);
        }
        else if (action == 4)
        {
            const int32_t index = live[(size_t)test_random((int32_t)live.size())];
            disconnect_object_from_mesh(index);
            get_object(index)->location.position.x = test_random(4096);
            reconnect_object_to_mesh(index);
        }
        else if (action == 5)
        {
            // Solid or not, a unit's or not, told afterwards as the game tells it.
            const int32_t index = live[(size_t)test_random((int32_t)live.size())];
            object_data *object = get_object(index);
            if (test_random(2)) object->flags ^= _object_is_solid_flag;
            else object->owner = object->owner == _object_is_monster ? _object_is_scenery : _object_is_monster;
            object_scan_membership_changed(index);
        }
        else
        {
            const int32_t copy = duplicate_object(live[(size_t)test_random((int32_t)live.size())]);
            ASSERT_NE(copy, NONE);
            live.push_back(copy);
        }
        const int32_t mover = live[(size_t)test_random((int32_t)live.size())];
        get_object(mover)->location.velocity = {(int16_t)(test_random(1400) - 700), (int16_t)(test_random(1400) - 700), 0};
        move_object(mover);
        if (step % 100 == 0)
        {
            ASSERT_TRUE(object_chains_are_consistent()) << "step " << step;
        }
    }
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(objects_test, replace_keeps_the_old_index_identifier_and_chain_place)
{
    load(objects_world_map{});
    const int16_t type = add_definition(0, 16, 16);
    const int32_t first = make(type, 100, 100), middle = make(type, 120, 110), last = make(type, 130, 90);
    const int32_t newcomer = make(type, 140, 140); // same cell, now at the head
    const int16_t middle_identifier = get_object(middle)->identifier;
    get_object(newcomer)->owner = _object_is_projectile;
    ASSERT_TRUE(replace_object(middle, newcomer));
    EXPECT_EQ(get_object(newcomer), nullptr);
    EXPECT_EQ(get_object(middle)->owner, _object_is_projectile);
    EXPECT_EQ(get_object(middle)->identifier, middle_identifier);
    // Chain order was last, middle, first (heads first); the newcomer left the head.
    std::vector<int32_t> chain;
    for (int32_t i = get_mesh_cell(0, 0)->first_object_index; i != NONE; i = get_object(i)->next_object_index)
        chain.push_back(i);
    EXPECT_EQ(chain, (std::vector<int32_t>{last, middle, first}));
    {
        expected_assertions expect(1, "must exist and differ");
        EXPECT_FALSE(replace_object(middle, middle));
    }
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(objects_test, a_full_array_makes_new_and_duplicate_fail_with_none)
{
    load(objects_world_map{});
    // The array grows in blocks up to 32767 objects, then refuses.
    int32_t made = 0;
    while (make(NONE, 10, 10) != NONE) ++made;
    EXPECT_EQ(made, MAXIMUM_DATA_ARRAY_COUNT);
    EXPECT_EQ(duplicate_object(0), NONE);
    EXPECT_EQ(make(555, 10, 10), NONE); // a missing definition too
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(objects_test, move_reports_edges_cells_media_ceiling_and_struck_objects)
{
    objects_world_map map;
    map.media_cells = {{3, 0}};
    load(map);
    const int16_t mover_type = add_definition(0, 10, 20);
    const int16_t solid_type = add_definition(_object_definition_is_solid_flag, 40, 100);
    const int16_t soft_type =
        add_definition(_object_definition_is_solid_flag | _object_definition_is_permeable_flag, 40, 100);

    struct move_case
    {
        const char *name;
        world_point3d from;
        world_vector3d velocity;
        int32_t expected; // every flag that must be set (128 from crossing, etc.)
        int32_t forbidden;
        world_point3d to;
    };
    const move_case cases[] = {
        {"inside one cell", {100, 100, 50}, {10, 0, 0}, 0, _move_changed_cells_flag, {110, 100, 50}},
        {"crosses into the next cell", {500, 100, 50}, {20, 0, 0}, _move_changed_cells_flag, 0, {520, 100, 50}},
        {"left edge", {5, 100, 50}, {-20, 0, 0}, _move_struck_edge_of_mesh_flag, 0, {0, 100, 50}},
        {"far edge", {4090, 4090, 50}, {20, 20, 0}, _move_struck_edge_of_mesh_flag, 0, {4095, 4095, 50}},
        {"ground", {100, 100, 5}, {0, 0, -20}, _move_struck_ground_flag, 0, {100, 100, 0}},
        {"ceiling", {100, 100, MAXIMUM_OBJECT_HEIGHT - 5}, {0, 0, 20}, _move_struck_ceiling_flag, 0,
         {100, 100, MAXIMUM_OBJECT_HEIGHT}},
        {"into media", {1500, 100, 50}, {100, 0, 0}, _move_entered_media_flag | _move_changed_cells_flag, 0,
         {1600, 100, 50}},
        {"out of media", {1600, 100, 50}, {-100, 0, 0}, _move_exited_media_flag | _move_changed_cells_flag, 0,
         {1500, 100, 50}},
    };
    for (const move_case &c : cases)
    {
        const int32_t index = make(mover_type, c.from.x, c.from.y, c.from.z);
        get_object(index)->location.velocity = c.velocity;
        const int32_t flags = move_object(index);
        EXPECT_EQ(flags & c.expected, c.expected) << c.name << " flags " << flags;
        EXPECT_EQ(flags & c.forbidden, 0) << c.name;
        const world_point3d at = get_object(index)->location.position;
        EXPECT_EQ(at.x, c.to.x) << c.name;
        EXPECT_EQ(at.y, c.to.y) << c.name;
        EXPECT_EQ(at.z, c.to.z) << c.name;
        delete_object(index);
    }

    // Struck objects: a solid one stops the mover and names itself in the high bits.
    const int32_t wall = make(solid_type, 2100, 2100, 0);
    const int32_t soft = make(soft_type, 2300, 2100, 0);
    const int32_t mover = make(mover_type, 2000, 2100, 10);
    get_object(mover)->location.velocity = {80, 0, 0};
    int32_t flags = move_object(mover);
    EXPECT_TRUE(flags & _move_struck_object_flag);
    EXPECT_EQ(move_flags_struck_object_index(flags), wall);
    EXPECT_EQ(get_object(mover)->location.position.x, 2000);
    const int32_t passer = make(mover_type, 2250, 2100, 10);
    get_object(passer)->location.velocity = {40, 0, 0};
    flags = move_object(passer);
    EXPECT_TRUE(flags & _move_struck_object_softly_flag);
    EXPECT_EQ(move_flags_struck_object_index(flags), soft);
    EXPECT_EQ(get_object(passer)->location.position.x, 2290);

    // The move passes over objects by their kept places: one whose kept place
    // went stale (a planted fault) is still struck with the obstacle facts
    // checker on, which reads the record and counts the stale place.
    const int32_t stale = make(solid_type, 2600, 2600, 0);
    plant_obstacle_facts_fault(stale);
    get_object(stale)->location.position.x = 2900; // the same cell; the kept place stays at 2600
    set_obstacle_facts_checking(true);
    const int32_t runner = make(mover_type, 2800, 2600, 10);
    get_object(runner)->location.velocity = {80, 0, 0};
    flags = move_object(runner);
    EXPECT_EQ(move_flags_struck_object_index(flags), stale);
    EXPECT_EQ(get_object(runner)->location.position.x, 2800);
    EXPECT_GT(obstacle_facts_mismatches(), 0);
    set_obstacle_facts_checking(false);
    plant_obstacle_facts_fault(NONE);
    EXPECT_TRUE(object_chains_are_consistent());
}

int32_t test_sequence_frames = 4;
bool test_sequence_information(int16_t, int16_t, shape_sequence_information *information)
{
    *information = {(int16_t)test_sequence_frames, 1, 2, 2};
    return true;
}

TEST_F(objects_test, animation_flags_fall_on_exactly_the_right_ticks)
{
    load(objects_world_map{});
    static const collection_procedures shapes = {.shape_sequence_information = test_sequence_information};
    register_collection_procedures(&shapes);
    const int32_t index = make(NONE, 100, 100);
    struct animation_case
    {
        const char *name;
        uint16_t shape_flags;
        bool backwards;
        // flags after ticks 1..10 (the four animation bits)
        uint32_t expected[10];
    };
    const uint32_t N = _object_animation_new_frame_flag, K = _object_animation_key_frame_flag,
                   L = _object_animation_last_frame_flag;
    const animation_case cases[] = {
        // Two ticks per frame, frames 0..3, key frame 2.
        {"cycles without the loop flag too", 0, false, {0, N, 0, N | K, 0, N | L, 0, N, 0, N}},
        {"loops", _loop_sequence_frame_flag, false, {0, N, 0, N | K, 0, N | L, 0, N, 0, N}},
        {"backwards loops", _loop_sequence_frame_flag, true, {0, N, 0, N | K, 0, N, 0, N | L, 0, N}},
    };
    for (const animation_case &c : cases)
    {
        object_data *object = get_object(index);
        object->flags = c.backwards ? (uint32_t)_object_animates_backwards_flag : 0u;
        set_object_shape(index, 1, 256, 0, 0, c.shape_flags, 0);
        if (c.backwards) get_object(index)->shape_frame_index = 0;
        for (int32_t tick = 0; tick < 10; ++tick)
        {
            animate_object(index);
            EXPECT_EQ(get_object(index)->flags & _object_animation_flags, c.expected[tick])
                << c.name << " tick " << tick + 1;
        }
    }
    // Half speed: a new frame every four ticks.
    set_object_shape(index, 1, 128, _transfer_mode_transparent_fade_out, 5, 0, 0);
    get_object(index)->flags &= ~(uint32_t)_object_animates_backwards_flag;
    int32_t new_frames = 0, finished_at = 0;
    for (int32_t tick = 1; tick <= 8; ++tick)
    {
        animate_object(index);
        if (get_object(index)->flags & N) new_frames += 1;
        if (get_object(index)->flags & _object_animation_transfer_finished_flag) finished_at = finished_at ? -1 : tick;
    }
    EXPECT_EQ(new_frames, 2);
    EXPECT_EQ(finished_at, 5); // once, on the tick the period ends
}

TEST_F(objects_test, animating_scenery_steps_at_its_own_or_its_sequences_rate)
{
    load(objects_world_map{});
    static const collection_procedures shapes = {.shape_sequence_information = test_sequence_information};
    register_collection_procedures(&shapes); // 4 frames, 2 ticks each
    struct scenery_case
    {
        const char *name;
        int16_t ticks_per_frame;
        int16_t frames[6]; // after ticks 1..6
    } cases[] = {
        {"the sequence's two ticks", 0, {1, 1, 2, 2, 3, 3}},
        {"three ticks of its own", 3, {1, 1, 1, 2, 2, 2}},
    };
    for (const scenery_case &c : cases)
    {
        initialize_scenery_for_new_map();
        scenery_definition definition;
        memset(&definition, 0, sizeof(definition));
        definition.flags = _scenery_animates_flag;
        definition.sequence_index = 1;
        definition.ticks_per_frame = c.ticks_per_frame;
        const int32_t index = new_definition(&scenery_definitions, FOUR_CHARACTER_CODE('t', 'r', 'e', 'e'), &definition);
        ASSERT_NE(index, NONE);
        for (int32_t tick = 0; tick < 6; ++tick)
        {
            update_animating_scenery();
            int16_t sequence = NONE, frame = NONE;
            ASSERT_TRUE(get_animation_parameters_for_scenery(index, &sequence, &frame));
            EXPECT_EQ(frame, c.frames[tick]) << c.name << " tick " << tick + 1;
        }
    }
}

TEST_F(objects_test, damage_matches_hand_computed_values)
{
    load(objects_world_map{});
    object_definition definition;
    memset(&definition, 0, sizeof(definition));
    for (auto &modifier : definition.effect_modifiers) modifier = 256;
    definition.effect_modifiers[_effect_modifier_explosive] = 384; // 1.5
    definition.effect_modifiers[_effect_modifier_long_range_physical] = 128; // 0.5
    definition.effect_modifiers[_effect_modifier_stone] = 0;
    definition.maximum_vitality = 1000;
    definition.scale_lower_bound = 256;
    const int16_t type = (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('d', 'a', 'm', 'g'), &definition);

    struct damage_case
    {
        const char *name;
        int16_t type;
        uint16_t flags;
        int32_t damage;
        fixed_fraction absorbed;
        short_fixed vitality_before;
        int32_t result;
        int32_t left;
        short_fixed vitality_after;
        bool died;
    };
    const damage_case cases[] = {
        // d = (100 * 384) >> 8 = 150
        {"explosion x1.5", _damage_explosion, 0, 100, 0, 1000, 0x20, 150, 850, false},
        // d = (101 * 128) >> 8 = 50 (truncated)
        {"long-range kinetic x0.5", _damage_kinetic, _damage_is_long_range_flag, 101, 0, 1000, 0x20, 50, 950, false},
        // close range: x1; absorption a = (200 * 16384) >> 16 = 50
        {"absorbed quarter", _damage_kinetic, 0, 200, 16384, 1000, 0x22, 150, 850, false},
        {"kills", _damage_claws_slashing, 0, 5000, 0, 300, 0x20, 5000, 0, true},
        {"healing capped", _damage_healing, 0, 500, 0, 900, 0x20, 500, 1000, false},
        {"hold paralyses", _damage_hold, 0, 10, 0, 1000, 0x01, 10, 1000, false},
        {"stone immune", _damage_stoning, 0, 10, 0, 1000, 0, 0, 1000, false},
        {"shock", _damage_explosive_electricity, 0, 10, 0, 1000, 0x28, 10, 990, false},
        {"gas confuses", _damage_gas, 0, 10, 0, 1000, 0x24, 10, 990, false},
        {"charm", _damage_charm, 0, 10, 0, 1000, 0x10, 10, 1000, false},
        // (-64 * 384) >> 8 = -96: negative damage raises vitality up to the maximum only
        {"negative damage", _damage_explosion, 0, -64, 0, 500, 0x20, -96, 596, false},
    };
    for (const damage_case &c : cases)
    {
        new_object_data data;
        memset(&data, 0, sizeof(data));
        data.type = type;
        const int32_t index = new_object(&data);
        get_object(index)->vitality = c.vitality_before;
        const damage_definition damage = {c.type, c.flags, 0, 0, 0, 0, 0, 0};
        bool died = false;
        int32_t left = 0;
        EXPECT_EQ(damage_object(index, &damage, c.damage, c.absorbed, &died, &left), c.result) << c.name;
        EXPECT_EQ(left, c.left) << c.name;
        EXPECT_EQ(get_object(index)->vitality, c.vitality_after) << c.name;
        EXPECT_EQ(died, c.died) << c.name;
        delete_object(index);
    }
}

} // namespace

} // namespace objects_test_file
