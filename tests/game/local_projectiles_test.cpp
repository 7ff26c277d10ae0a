// Local projectile groups: following an object by identity, emission, fades
// and ends, the markers of type 10, the read access a renderer uses, and the
// promise that none of it reaches the synchronized game.

#include "support/unit_world_test.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "collection_references.h"
#include "gameplay_versions.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "players.h"
#include "support/game_core_fixture.h"
#include "unit_definitions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "markers.h"
#include "mesh_format.h"
#include "objects.h"
#include "state_hash.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

namespace local_projectiles_test_file {

namespace {

constexpr tag GLOW = FOUR_CHARACTER_CODE('g', 'l', 'o', 'w');

struct group_shape
{
    const char *name;
    uint32_t flags;
    int16_t maximum, emission, lifespan, duration, transition_in, transition_out;
};

const group_shape shapes[] = {
    // Continuous, until turned off.
    {"glow", _local_projectile_group_is_continuous_flag, 16, 2, 10, 0, 4, 6},
    // One burst of 12.
    {"burs", 0, 20, 12, 5, 0, 0, 0},
    // Continuous for 20 ticks, then a fade of 5.
    {"timd", _local_projectile_group_is_continuous_flag, 8, 1, 30, 20, 0, 5},
};

mesh_marker marker(int16_t identifier, world_distance x, world_distance y, uint32_t flags)
{
    return {_marker_local_projectile_group, 0, identifier, 0, flags, {x, y, 64}, 0x1000, 0, NONE, 0};
}

class local_projectiles_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        for (const group_shape &shape : shapes) store_group(shape);
        game_->difficulty_level = 2;
        objects_world_map map;
        map.palette = {{_marker_local_projectile_group, NONE, 0, GLOW, NONE, 0}};
        map.markers = {marker(50, 1000, 1000, 0), marker(51, 2000, 2000, _marker_is_invisible_flag)};
        ASSERT_TRUE(load_objects_world(map));
        ASSERT_TRUE(initialize_local_projectile_group_definitions());
        initialize_local_projectile_group_definitions_for_new_map();
        initialize_local_projectiles();
        initialize_local_projectiles_for_new_map();
        register_local_projectile_hooks();
        set_local_random_seed(5);
    }
    void TearDown() override
    {
        dispose_local_projectiles_from_old_map();
        dispose_local_projectile_group_definitions_from_old_map();
        dispose_objects_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    void store_group(const group_shape &shape)
    {
        local_projectile_group_definition d;
        default_local_projectile_group_definition(&d);
        d.flags = shape.flags;
        d.maximum_projectiles = shape.maximum;
        d.emission_lower_bound = shape.emission;
        d.lifespan_lower_bound = shape.lifespan;
        d.radius = 100;
        d.height = 50;
        d.velocity_lower_bound = 3;
        d.duration = shape.duration;
        d.transition_in = shape.transition_in;
        d.transition_out = shape.transition_out;
        d.color_table_index = 3;
        std::vector<uint8_t> bytes((uint8_t *)&d, (uint8_t *)&d + sizeof(d));
        ASSERT_TRUE(byte_swap_data(shape.name, bytes.data(), (int32_t)bytes.size(), 1,
                                   local_projectile_group_definition_byte_swapping_data));
        write_local_tag(LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG, shape.name, LOCAL_PROJECTILE_GROUP_DEFINITION_VERSION,
                        bytes.data(), (int32_t)bytes.size());
    }

    int16_t type_of(const char *name)
    {
        return (int16_t)try_definition_tag_to_index(&local_projectile_group_definitions, string_to_tag(name), true, 0);
    }

    int32_t make_object(world_distance x, world_distance y)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_scenery;
        request.location.position = {x, y, 0};
        request.collection_index = NONE;
        return new_object(&request);
    }

    new_local_projectile_group_data request_of(const char *name, world_point3d center)
    {
        new_local_projectile_group_data request;
        memset(&request, 0, sizeof(request));
        request.type = type_of(name);
        request.center = center;
        request.central_object_index = request.bounds_object_index = NONE;
        request.opacity = FIXED_FRACTION_ONE;
        request.color_table_index = NONE;
        return request;
    }

    int32_t make_group(const char *name, world_point3d center)
    {
        const new_local_projectile_group_data request = request_of(name, center);
        return new_local_projectile_group(&request);
    }

    int32_t follow(const char *name, int32_t object_index)
    {
        const object_data *object = get_object(object_index);
        new_local_projectile_group_data request = request_of(name, object->location.position);
        request.center.z += 100;
        request.central_object_index = (int16_t)object_index;
        request.central_object_identifier = object->identifier;
        return new_local_projectile_group(&request);
    }
};

TEST_F(local_projectiles_test, a_group_follows_its_object_until_it_is_gone_and_never_its_successor)
{
    const int32_t object_index = make_object(1000, 1000);
    ASSERT_NE(object_index, NONE);
    const int32_t group_index = follow("glow", object_index);
    ASSERT_NE(group_index, NONE);
    const local_projectile_group_data *group = get_local_projectile_group(group_index);

    get_object(object_index)->location.position = {3000, 1500, 20};
    update_local_projectiles(1);
    EXPECT_EQ(group->center.x, 3000);
    EXPECT_EQ(group->center.y, 1500);
    EXPECT_EQ(group->center.z, 120) << "the offset it had when attached stays";

    // Identity, not the slot: a new object in the freed slot is not followed.
    const int16_t old_identifier = get_object(object_index)->identifier;
    delete_object(object_index);
    const int32_t successor = make_object(5000, 5000);
    ASSERT_EQ(successor, object_index);
    ASSERT_NE(get_object(successor)->identifier, old_identifier);
    update_local_projectiles(1);
    EXPECT_EQ(group->central_object_index, NONE);
    EXPECT_EQ(group->center.x, 3000);
    EXPECT_EQ(group->state, _local_projectile_group_turned_off) << "a glow without a duration does not outlive its object";
    update_local_projectiles(MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE);
    EXPECT_EQ(get_local_projectile_group(group_index), nullptr);
    EXPECT_EQ(get_local_projectile_used_count(), 0) << "its particles go with it";

    // Attaching later: a stale identifier leaves the group following nothing.
    const int32_t second = make_group("glow", {0, 0, 0});
    set_local_projectile_group_central_object(second, successor, old_identifier);
    EXPECT_EQ(get_local_projectile_group(second)->central_object_index, NONE);
    set_local_projectile_group_central_object(second, successor, get_object(successor)->identifier);
    EXPECT_EQ(get_local_projectile_group(second)->central_object_index, successor);
    EXPECT_EQ(get_local_projectile_group(second)->center.x, 5000);
}

TEST_F(local_projectiles_test, groups_emit_fade_and_end_as_their_definitions_say)
{
    // A burst: 12 at once, gone with them after their lifespan of 5.
    const int32_t burst = make_group("burs", {0, 0, 0});
    update_local_projectiles(1);
    EXPECT_EQ(get_local_projectile_group(burst)->projectile_count, 12);
    EXPECT_EQ(get_local_projectile_used_count(), 12);
    update_local_projectiles(3);
    EXPECT_EQ(get_local_projectile_group(burst)->projectile_count, 12) << "no second burst";
    update_local_projectiles(1);
    EXPECT_EQ(get_local_projectile_group(burst), nullptr);

    // Continuous: capped at its maximum; fades in over 4 ticks at half opacity.
    new_local_projectile_group_data request = request_of("glow", {100, 200, 300});
    request.opacity = 0x8000;
    const int32_t glow = new_local_projectile_group(&request);
    update_local_projectiles(2);
    EXPECT_NEAR(get_local_projectile_group_opacity(glow), 0x4000, 1);
    for (int i = 0; i < 20; ++i)
    {
        update_local_projectiles(1);
        ASSERT_LE(get_local_projectile_group(glow)->projectile_count, 16);
    }
    // Two a tick for ten ticks would be 18: the cap holds it at 16 before the oldest die.
    EXPECT_GE(get_local_projectile_group(glow)->projectile_count, 14);
    EXPECT_EQ(get_local_projectile_group_opacity(glow), 0x8000);
    set_local_projectile_group_opacity(glow, FIXED_FRACTION_ONE);
    turn_local_projectile_group_off(glow);
    update_local_projectiles(3); // half of the fade-out of 6
    EXPECT_EQ(get_local_projectile_group_opacity(glow), FIXED_FRACTION_ONE / 2);
    EXPECT_LE(get_local_projectile_group(glow)->projectile_count, 16) << "no particles after it was turned off";
    update_local_projectiles(3);
    EXPECT_EQ(get_local_projectile_group(glow), nullptr);

    // A duration: emits 20 ticks, then fades 5 more.
    const int32_t timed = make_group("timd", {0, 0, 0});
    update_local_projectiles(15);
    update_local_projectiles(5);
    EXPECT_EQ(get_local_projectile_group(timed)->state, _local_projectile_group_emitting);
    update_local_projectiles(1);
    EXPECT_EQ(get_local_projectile_group(timed)->state, _local_projectile_group_turned_off);
    update_local_projectiles(3); // the tick it turned off counts as the first of its fade
    ASSERT_NE(get_local_projectile_group(timed), nullptr);
    update_local_projectiles(1);
    EXPECT_EQ(get_local_projectile_group(timed), nullptr);

    // A frame catches up at most 15 ticks; none or negative do nothing.
    const int32_t late = make_group("glow", {0, 0, 0});
    update_local_projectiles(0);
    update_local_projectiles(-30);
    EXPECT_EQ(get_local_projectile_group(late)->age, 0);
    update_local_projectiles(1000);
    EXPECT_EQ(get_local_projectile_group(late)->age, MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE);
}

TEST_F(local_projectiles_test, the_renderer_reads_each_particle_at_its_groups_centre_with_its_colours)
{
    new_local_projectile_group_data request = request_of("glow", {4000, 4000, 100});
    const int32_t own_colours = new_local_projectile_group(&request);
    request.color_table_index = 7;
    const int32_t given_colours = new_local_projectile_group(&request);
    update_local_projectiles(1);
    int32_t seen = 0;
    for (int32_t i = 0; i < get_local_projectile_count(); ++i)
    {
        const local_projectile_data *projectile = get_local_projectile(i);
        if (!projectile) continue;
        local_projectile_surface surface;
        ASSERT_TRUE(get_local_projectile_surface(i, &surface));
        const local_projectile_group_data *group = get_local_projectile_group(projectile->group_index);
        EXPECT_EQ(surface.position.x, group->center.x + projectile->offset.x);
        EXPECT_LE(std::abs(projectile->offset.x), 100 + 3);
        EXPECT_GE(projectile->offset.z, 0);
        EXPECT_LT(projectile->offset.z, 50);
        EXPECT_EQ(surface.color_table_index, projectile->group_index == own_colours ? 3 : 7);
        EXPECT_EQ(surface.collection_index, NONE) << "a definition without a sequence draws nothing";
        EXPECT_EQ(surface.scale, SHORT_FIXED_ONE);
        ++seen;
    }
    EXPECT_EQ(seen, 4);
    EXPECT_NE(given_colours, own_colours);
    local_projectile_surface surface;
    EXPECT_FALSE(get_local_projectile_surface(NONE, &surface));
    EXPECT_FALSE(get_local_projectile_surface(MAXIMUM_LOCAL_PROJECTILES_PER_MAP, &surface));
}

TEST_F(local_projectiles_test, a_marker_makes_its_group_once_and_forgets_it_when_it_ends)
{
    EXPECT_EQ(place_markers_of_type(_marker_local_projectile_group), 1) << "the invisible one waits for its script";
    marker_data *shown = get_marker_by_identifier(_marker_local_projectile_group, 50);
    marker_data *waiting = get_marker_by_identifier(_marker_local_projectile_group, 51);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(waiting, nullptr);
    ASSERT_NE(shown->data_index, NONE);
    const local_projectile_group_data *group = get_local_projectile_group(shown->data_index);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->center.x, 1000);
    EXPECT_EQ(group->yaw, 0x1000);
    EXPECT_EQ(waiting->data_index, NONE);

    const int32_t turned_on = new_local_projectile_group_from_marker(waiting);
    ASSERT_NE(turned_on, NONE);
    EXPECT_FALSE(waiting->flags & _marker_is_invisible_flag);
    EXPECT_EQ(waiting->data_index, turned_on);
    EXPECT_EQ(waiting->data_identifier, get_local_projectile_group(turned_on)->identifier);
    EXPECT_EQ(new_local_projectile_group_from_marker(waiting), NONE) << "its group still lives";

    turn_local_projectile_group_off(turned_on);
    update_local_projectiles(MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE);
    EXPECT_EQ(waiting->data_index, NONE);
    EXPECT_EQ(waiting->data_identifier, NONE);
    EXPECT_NE(new_local_projectile_group_from_marker(waiting), NONE) << "a script may turn it on again";

    marker_data other = *waiting;
    other.type = _marker_sound_source;
    EXPECT_EQ(new_local_projectile_group_from_marker(&other), NONE);
    EXPECT_EQ(new_local_projectile_group_from_marker(nullptr), NONE);
}

TEST_F(local_projectiles_test, requests_without_a_definition_or_room_give_none)
{
    new_local_projectile_group_data request = request_of("glow", {0, 0, 0});
    for (int16_t type : {(int16_t)NONE, (int16_t)MAXIMUM_LOCAL_PROJECTILE_GROUP_DEFINITIONS_PER_MAP, (int16_t)-7})
    {
        request.type = type;
        EXPECT_EQ(new_local_projectile_group(&request), NONE) << type;
    }
    EXPECT_EQ(new_local_projectile_group(nullptr), NONE);
    request.type = type_of("glow");
    int32_t made = 0;
    while (new_local_projectile_group(&request) != NONE) ++made;
    EXPECT_EQ(made, MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP);
    // Every group at its maximum still fits the particle pool, or stops short of it.
    for (int i = 0; i < 12; ++i) update_local_projectiles(1);
    EXPECT_LE(get_local_projectile_used_count(), MAXIMUM_LOCAL_PROJECTILES_PER_MAP);
    // Out-of-range indexes are ignored.
    turn_local_projectile_group_off(NONE);
    set_local_projectile_group_opacity(MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP, 0);
    set_local_projectile_group_central_object(-5, 0, 1);
}

TEST_F(local_projectiles_test, local_activity_draws_nothing_synchronized_and_leaves_the_state_hash_alone)
{
    std::vector<int32_t> objects;
    for (int i = 0; i < 8; ++i) objects.push_back(make_object(600 + i * 300, 900));
    place_markers_of_type(_marker_local_projectile_group);
    set_random_seed(1234);
    reset_random_draw_counts();
    const uint32_t seed = get_random_seed();
    const uint32_t hash = compute_state_hash();

    std::vector<int32_t> groups;
    for (int frame = 0; frame < 120; ++frame)
    {
        const char *name = shapes[frame % 3].name;
        groups.push_back(frame % 2 ? follow(name, objects[(size_t)frame % objects.size()])
                                   : make_group(name, {frame * 10, 0, 0}));
        if (frame % 7 == 0) turn_local_projectile_group_off(groups[(size_t)frame / 2]);
        if (frame % 5 == 0) set_local_projectile_group_opacity(groups.back(), (fixed_fraction)(frame * 500));
        if (frame == 40) new_local_projectile_group_from_marker(get_marker_by_identifier(_marker_local_projectile_group, 51));
        update_local_projectiles(1 + frame % 3);
    }
    EXPECT_GT(get_local_random_draw_count(), 0u);
    EXPECT_GT(get_local_projectile_used_count(), 0);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(get_random_seed(), seed);
    EXPECT_EQ(compute_state_hash(), hash);
}

// A unit's glow: made by init_monster without a synchronized draw, following
// the unit's object, with the owner's colours only when the definition asks
// for them and shares the object's collection, and owned from version 1511.
class unit_glow_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        ASSERT_TRUE(start_units_world(&data));
        ASSERT_TRUE(initialize_local_projectile_group_definitions());
        initialize_local_projectile_group_definitions_for_new_map();
        initialize_local_projectiles();
        initialize_local_projectiles_for_new_map();

        ASSERT_NO_FATAL_FAILURE(write_collection_reference("refa", NONE));
        store_glow("owng", _local_projectile_group_is_continuous_flag | _local_projectile_group_uses_owner_color_table_flag);
        store_glow("plng", _local_projectile_group_is_continuous_flag);
        store_monster("mown", "owng");
        store_monster("mpln", "plng");
        store_unit("uown", "mown");
        store_unit("upln", "mpln");
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        dispose_local_projectiles_from_old_map();
        dispose_local_projectile_group_definitions_from_old_map();
        dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    void store_glow(const char *name, uint32_t flags)
    {
        local_projectile_group_definition d;
        default_local_projectile_group_definition(&d);
        d.flags = flags;
        d.maximum_projectiles = 4;
        d.emission_lower_bound = 1;
        d.lifespan_lower_bound = 8;
        d.color_table_index = 9;
        std::vector<uint8_t> bytes((uint8_t *)&d, (uint8_t *)&d + sizeof(d));
        ASSERT_TRUE(byte_swap_data(name, bytes.data(), (int32_t)bytes.size(), 1,
                                   local_projectile_group_definition_byte_swapping_data));
        write_local_tag(LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG, name, LOCAL_PROJECTILE_GROUP_DEFINITION_VERSION,
                        bytes.data(), (int32_t)bytes.size());
    }

    void store_monster(const char *name, const char *glow)
    {
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = NONE;
        m.base_movement_speed = 300;
        m.next_name_string_index = 1;
        m.local_projectile_group_tag = string_to_tag(glow);
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data(name, bytes.data(), (int32_t)bytes.size(), 1, monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, name, MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
    }

    void store_unit(const char *name, const char *monster)
    {
        uint8_t bytes[128];
        memset(bytes, 0, sizeof(bytes));
        memcpy(bytes, monster, 4);
        memcpy(bytes + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, name, UNIT_DEFINITION_VERSION, bytes, sizeof(bytes));
    }

    int32_t make_unit(const char *unit_name, int16_t object_collection)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, string_to_tag(unit_name), true, 0);
        EXPECT_NE(unit_type, NONE);
        const unit_definition *unit = get_unit_definition(unit_type);
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {2000, 2000, 0};
        request.location.yaw = 0x2000;
        request.collection_index = NONE;
        request.color_table_index = 2;
        const int32_t object_index = new_object(&request);
        get_object(object_index)->shape_collection_index = object_collection;
        const int32_t monster_index = new_datum(get_monster_array());
        const world_point2d location = {2000, 2000};
        init_monster(monster_index, unit->monster_type, (int16_t)unit_type, object_index, 0, 0, 0, &location, true);
        return monster_index;
    }
};

TEST_F(unit_glow_test, a_new_unit_gets_its_glow_without_a_synchronized_draw)
{
    struct expected
    {
        const char *unit;
        int32_t version;
        int16_t object_collection;
        int16_t color_table_index;
        bool owned;
    };
    const expected cases[] = {
        {"uown", 1510, 5, 2, false}, // the owner's colours: the object's collection is the glow's
        {"uown", 1511, 5, 2, true},
        {"uown", 1511, 6, 9, true}, // another collection: the definition's colours
        {"upln", 1511, 5, 9, true}, // not asked for
    };
    // Both glows draw from collection 5.
    for (const char *glow : {"owng", "plng"})
        ((local_projectile_group_definition *)try_and_get_definition(
             &local_projectile_group_definitions,
             try_definition_tag_to_index(&local_projectile_group_definitions, string_to_tag(glow), true, 0)))
            ->collection_index = 5;
    for (const expected &c : cases)
    {
        SCOPED_TRACE(c.unit);
        SCOPED_TRACE(c.version);
        current_gameplay_version = c.version;
        set_random_seed(77);
        reset_random_draw_counts();
        const int32_t index = make_unit(c.unit, c.object_collection);
        EXPECT_EQ(get_vesk_random_draw_count(), 3u) << "the speed spread, the idle rate, left-handedness only";
        const monster_data *monster = get_monster_data(index);
        ASSERT_NE(monster, nullptr);
        const local_projectile_group_data *glow = get_local_projectile_group(monster->current_local_projectile_group_index);
        ASSERT_NE(glow, nullptr);
        EXPECT_EQ(glow->central_object_index, monster->object_index);
        EXPECT_EQ(glow->center.x, 2000);
        EXPECT_EQ(glow->yaw, 0x2000);
        EXPECT_EQ(glow->opacity, FIXED_FRACTION_ONE);
        EXPECT_EQ(glow->color_table_index, c.color_table_index);
        EXPECT_EQ(glow->owner_monster_index, c.owned ? index : NONE);
        EXPECT_EQ(monster->local_projectile_group_index, NONE);

        // The unit goes: its glow stops following and fades out by itself.
        const int32_t group_index = monster->current_local_projectile_group_index;
        update_local_projectiles(2);
        delete_monster(index, false);
        update_local_projectiles(1);
        EXPECT_EQ(get_local_projectile_group(group_index), nullptr);
    }
}

} // namespace

} // namespace local_projectiles_test_file
