// The life of each world effect: lightning strikes on time, fire burns out
// and leaves its mark, a plain map has no wind or weather, a map with weather
// snows and clears in its periods, mesh effects age out.

#include "tag_files/store_fixture.h"
#include "cseries/registration.h"

#include <cstdlib>
#include <vector>

#include "fire.h"
#include "lightning.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "particles.h"
#include "state_hash.h"
#include "tag_files/definitions.h"
#include "wind.h"
#include "support/test_mesh.h"
#include "object_definitions.h"
#include "objects.h"
#include "sound_procedures.h"
#include "support/objects_world.h"

namespace world_effects_test_file {

namespace {

// An 8x8 map; cell (1, 1) carries media.
static bool load_test_mesh(uint32_t flags)
{
    std::vector<mesh_cell> cells(64, mesh_cell{0, 0, 0, -1, -1, 0});
    cells[1 + 8].flags = _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag;
    mesh_header header = test_mesh_header(8, 8);
    header.flags = flags;
    header.team_count = 2;
    return ::load_test_mesh(header, cells);
}

class world_effects_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        reset_state_hash_procedures();
        initialize_mesh();
        initialize_fire();
        initialize_lightning();
        initialize_particles();
        initialize_wind();
        initialize_mesh_effects();
        initialize_fire_for_new_map();
        initialize_lightning_for_new_map();
        initialize_particles_for_new_map(NONE);
        initialize_wind_for_new_map();
        initialize_mesh_effects_for_new_map();
    }
    void TearDown() override
    {
        dispose_mesh_effects_from_old_map();
        dispose_wind_from_old_map();
        dispose_particles_from_old_map();
        dispose_lightning_from_old_map();
        dispose_fire_from_old_map();
        dispose_mesh_from_old_map();
        clear_all_registrations();
    }
};

TEST_F(world_effects_test, fire_burns_out_and_keeps_the_scorched_flag)
{
    ASSERT_TRUE(load_test_mesh(_mesh_can_catch_fire_flag));
    ASSERT_TRUE(try_to_start_fire(3, 7, 2, 2, 3));
    EXPECT_FALSE(try_to_start_fire(3, 7, 2, 2, 3)); // burns already
    EXPECT_FALSE(try_to_start_fire(3, 7, 2, 1, 1)); // media
    EXPECT_FALSE(try_to_start_fire(3, 7, 2, 8, 0)); // off the map
    EXPECT_FALSE(cell_is_on_fire(-1, 0));
    EXPECT_TRUE(cell_is_on_fire(2, 3));
    EXPECT_TRUE(get_mesh_cell(2, 3)->flags & _mesh_cell_was_or_is_on_fire_flag);
    for (int32_t t = 0; t < FIRE_BURN_TICKS - 1; ++t) update_fire();
    EXPECT_TRUE(cell_is_on_fire(2, 3));
    EXPECT_EQ(get_fire_ticks_remaining(2, 3), 1);
    update_fire();
    EXPECT_FALSE(cell_is_on_fire(2, 3));
    EXPECT_EQ(get_burning_cell_count(), 0);
    EXPECT_TRUE(get_mesh_cell(2, 3)->flags & _mesh_cell_was_or_is_on_fire_flag);
    EXPECT_TRUE(try_to_start_fire(3, 7, 2, 2, 3)); // scorched ground burns again
}

TEST_F(world_effects_test, fire_needs_a_map_that_can_catch_fire)
{
    ASSERT_TRUE(load_test_mesh(0));
    EXPECT_FALSE(try_to_start_fire(NONE, NONE, NONE, 2, 3));
    EXPECT_FALSE(get_mesh_cell(2, 3)->flags & _mesh_cell_was_or_is_on_fire_flag);
}

struct heard_report
{
    world_point3d location;
    int16_t ambient;
    short_fixed volume;
};
static std::vector<heard_report> heard;
static void hear(void *, const world_point3d *location, int16_t ambient, short_fixed volume)
{
    heard.push_back({*location, ambient, volume});
}
static bool fire_listener(fire_sound_parameters *parameters)
{
    *parameters = {{6 * 512 + 256, 256, 0}, 17, 512, 4096};
    return true;
}

TEST_F(world_effects_test, fire_is_heard_once_at_its_loudest_and_only_below_seven_reports)
{
    ASSERT_TRUE(load_test_mesh(_mesh_can_catch_fire_flag));
    try_to_start_fire(NONE, NONE, NONE, 0, 0);
    try_to_start_fire(NONE, NONE, NONE, 6, 0);
    int32_t count = 0;
    report_fire_as_sound_source(nullptr, &count, hear);
    EXPECT_TRUE(heard.empty()) << "no listener before the sound layer registers";

    static const sound_procedures sound_table = {.get_fire_sound_parameters = fire_listener};
    ASSERT_TRUE(register_sound_procedures(&sound_table));
    struct
    {
        int32_t count_before;
        size_t reports;
    } cases[] = {{0, 1}, {6, 1}, {7, 0}};
    for (const auto &c : cases)
    {
        heard.clear();
        count = c.count_before;
        report_fire_as_sound_source(nullptr, &count, hear);
        ASSERT_EQ(heard.size(), c.reports);
        EXPECT_EQ(count, c.count_before + (int32_t)c.reports);
        if (c.reports)
        {
            // The cell under the listener, at full volume, with the fire ambient's index.
            EXPECT_EQ(heard[0].location.x, 6 * 512 + 256);
            EXPECT_EQ(heard[0].location.y, 256);
            EXPECT_EQ(heard[0].ambient, 17);
            EXPECT_EQ(heard[0].volume, SHORT_FIXED_ONE);
        }
    }
}

TEST_F(world_effects_test, lightning_strikes_after_its_ticks_and_frees_itself)
{
    // The target is an object of the object world, 16 x 16 cells.
    objects_world_map map;
    map.width = map.height = 16;
    ASSERT_TRUE(load_objects_world(map));
    object_definition body = {};
    for (auto &modifier : body.effect_modifiers) modifier = 256;
    body.scale_lower_bound = 256;
    const int32_t object_type = new_definition(&object_definitions, FOUR_CHARACTER_CODE('t', 'e', 's', 't'), &body);
    ASSERT_NE(object_type, NONE);
    new_object_data target_data = {};
    target_data.type = (int16_t)object_type;
    target_data.scale = 256;
    target_data.location.position = {5000, 6000, 70};

    lightning_definition definition = {};
    definition.strike_ticks = 4;
    definition.linger_ticks = 3;
    const int32_t type = new_definition(get_lightning_definition_group(), FOUR_CHARACTER_CODE('b', 'o', 'l', 't'), &definition);
    ASSERT_NE(type, NONE);

    struct
    {
        bool targeted;
        bool slot_reused; // a new object in the target's slot is not struck
        world_point3d expected;
    } cases[] = {{false, false, {100, 200, 0}}, {true, false, {5000, 6000, 70}}, {true, true, {100, 200, 0}}};
    for (const auto &c : cases)
    {
        const int32_t target = c.targeted ? new_object(&target_data) : (int32_t)NONE;
        if (c.targeted) { ASSERT_NE(target, NONE); }
        const world_point3d stands = c.targeted ? get_object(target)->location.position : world_point3d{};
        const new_lightning_data data = {(int16_t)type, NONE, target, {0, 0, 0}, {100, 200, 0}};
        const int32_t bolt = new_lightning(&data);
        ASSERT_NE(bolt, NONE);
        const int16_t identifier = get_lightning_data(bolt)->identifier;
        for (int32_t t = 0; t < 3; ++t) update_lightning();
        EXPECT_EQ(get_lightning_state(bolt), _lightning_travelling);
        if (c.slot_reused)
        {
            delete_object(target);
            ASSERT_EQ(new_object(&target_data), target) << "the freed slot is taken again";
        }
        update_lightning();
        ASSERT_EQ(get_lightning_state(bolt), _lightning_struck);
        const world_point3d strike = get_lightning_data(bolt)->strike_point;
        const world_point3d expected = c.targeted && !c.slot_reused ? stands : c.expected;
        EXPECT_EQ(strike.x, expected.x);
        EXPECT_EQ(strike.z, expected.z);
        if (c.targeted) delete_object(target);
        for (int32_t t = 0; t < 3; ++t) update_lightning();
        EXPECT_EQ(get_lightning_state(bolt), NONE);
        EXPECT_EQ(get_lightning_data_by_identifier(bolt, identifier), nullptr);
    }
    const new_lightning_data unknown = {(int16_t)(type + 1), NONE, NONE, {0, 0, 0}, {1, 1, 0}};
    EXPECT_EQ(new_lightning(&unknown), NONE);

    const new_lightning_data data = {(int16_t)type, NONE, NONE, {0, 0, 0}, {1, 1, 0}};
    const int32_t bolt = new_lightning(&data);
    const world_point3d moved = {40, 50, 60};
    change_lightning_endpoints(bolt, nullptr, &moved);
    for (int32_t t = 0; t < 4; ++t) update_lightning();
    EXPECT_EQ(get_lightning_data(bolt)->strike_point.y, 50);
    EXPECT_EQ(get_lightning_data(bolt)->origin.x, 0);
    dispose_objects_world();
}

TEST_F(world_effects_test, a_plain_map_has_no_wind_or_weather)
{
    ASSERT_TRUE(load_test_mesh(0));
    const world_point2d point = {1000, 1000};
    EXPECT_EQ(get_wind_velocity(), nullptr);
    update_wind();
    EXPECT_EQ(get_wind_velocity(), nullptr);
    EXPECT_FALSE(switch_snowing_states());
    update_particles();
    EXPECT_EQ(particle_system_intensity(&point), 0);
    int16_t ambient = 0;
    short_fixed volume = 0;
    EXPECT_FALSE(particle_system_ambient_sound(&point, &ambient, &volume));
    EXPECT_EQ(particle_system_particle_count(), 0);
}

TEST_F(world_effects_test, mesh_effects_age_out_at_their_duration)
{
    const new_mesh_effect_data data = {0, _mesh_effect_small_shockwave, {512, 512, 0}};
    const int32_t effect = new_mesh_effect(&data);
    ASSERT_NE(effect, NONE);
    const new_mesh_effect_data bad = {0, NUMBER_OF_MESH_EFFECT_TYPES, {0, 0, 0}};
    EXPECT_EQ(new_mesh_effect(&bad), NONE);
    const int32_t duration = get_mesh_effect_duration(_mesh_effect_small_shockwave);
    for (int32_t t = 0; t < duration - 1; ++t) update_mesh_effects();
    ASSERT_NE(get_mesh_effect_data(effect), nullptr);
    EXPECT_GT(get_mesh_effect_radius(get_mesh_effect_data(effect)), 0);
    update_mesh_effects();
    EXPECT_EQ(get_mesh_effect_count(), 0);
}

// A map with weather: the definition is a tag whose subgroup is the map's tag.
class weather_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        reset_state_hash_procedures();
        initialize_particles();
        initialize_wind();
    }
    void TearDown() override
    {
        dispose_wind_from_old_map();
        dispose_particles_from_old_map();
        store_test::TearDown();
    }
    void store_weather(const char *name, weather_definition definition)
    {
        ASSERT_TRUE(byte_swap_data(name, &definition, sizeof(definition), 1, weather_definition_byte_swapping_data));
        write_local_tag(WEATHER_DEFINITION_GROUP, name, WEATHER_DEFINITION_VERSION, &definition, sizeof(definition));
    }
};

TEST_F(weather_test, snow_comes_and_goes_in_its_periods_and_the_intensity_eases)
{
    store_weather("snow", {0, 100, 4, 2, FOUR_CHARACTER_CODE('w', 'i', 'n', 'd'), 0, 0, 0, 0, {}});
    initialize_particles_for_new_map(FOUR_CHARACTER_CODE('s', 'n', 'o', 'w'));
    initialize_wind_for_new_map();
    ASSERT_NE(get_map_weather_definition(), nullptr);
    EXPECT_EQ(get_wind_velocity(), nullptr) << "no wind without its flag";
    const world_point2d point = {1000, 1000};
    EXPECT_FALSE(particle_system_is_snowing());
    EXPECT_EQ(particle_system_intensity(&point), 0);

    // Clear for 2 ticks, snowing for 4, clear again; 256 a tick toward the target.
    const struct
    {
        int32_t tick;
        bool snowing;
        int32_t intensity;
    } expected[] = {{1, false, 0}, {2, true, 256}, {5, true, 1024}, {6, false, 768}, {7, false, 512}, {8, true, 768}};
    int32_t tick = 0;
    for (const auto &e : expected)
    {
        while (tick < e.tick) update_particles(), ++tick;
        EXPECT_EQ(particle_system_is_snowing(), e.snowing) << "tick " << tick;
        EXPECT_EQ(particle_system_intensity(&point), e.intensity) << "tick " << tick;
    }

    // A script's switch starts a fresh period.
    EXPECT_TRUE(switch_snowing_states());
    EXPECT_FALSE(particle_system_is_snowing());
    EXPECT_TRUE(switch_snowing_states());
    for (int32_t t = 0; t < 3; ++t) update_particles();
    EXPECT_TRUE(particle_system_is_snowing()) << "the period began again at the switch";
}

TEST_F(weather_test, weather_without_periods_keeps_its_state_and_brings_its_wind)
{
    store_weather("still", {_weather_starts_snowing_flag | _weather_has_wind_flag, 50, 0, 0,
                            FOUR_CHARACTER_CODE('w', 'i', 'n', 'd'), 16384, 256, 0, 0, {}});
    initialize_particles_for_new_map(FOUR_CHARACTER_CODE('s', 't', 'i', 'l'));
    initialize_wind_for_new_map();
    const world_point2d point = {0, 0};
    EXPECT_TRUE(particle_system_is_snowing());
    EXPECT_EQ(particle_system_intensity(&point), FIXED_FRACTION_ONE) << "a map that starts snowing starts at full";
    for (int32_t t = 0; t < 1000; ++t) update_particles();
    EXPECT_TRUE(particle_system_is_snowing());
    // At full intensity every particle shows and the ambient sound plays at
    // particles x 256 / maximum.
    set_target_particle_number_multiplier(512);
    EXPECT_EQ(particle_system_particle_count(), 100);
    // Its ambient tag becomes an index of the sound layer's ambient group,
    // and only once that group is there for the map.
    int16_t ambient = NONE;
    short_fixed volume = 0;
    EXPECT_FALSE(particle_system_ambient_sound(&point, &ambient, &volume)) << "no ambient group yet";
    static definition_globals ambients = {"ambient sound", AMBIENT_SOUND_DEFINITION_GROUP_TAG, 1, 4, 4};
    if (!get_definition_group(AMBIENT_SOUND_DEFINITION_GROUP_TAG))
    {
        ASSERT_TRUE(initialize_definitions(&ambients));
    }
    initialize_definitions_for_new_map(&ambients);
    EXPECT_FALSE(particle_system_ambient_sound(&point, &ambient, &volume)) << "its tag is missing";
    const uint8_t record[4] = {};
    write_local_tag(AMBIENT_SOUND_DEFINITION_GROUP_TAG, "wind", 1, record, sizeof(record));
    write_local_tag(AMBIENT_SOUND_DEFINITION_GROUP_TAG, "othr", 1, record, sizeof(record));
    ASSERT_EQ(try_definition_tag_to_index(&ambients, FOUR_CHARACTER_CODE('o', 't', 'h', 'r'), true, 0), 0);
    ASSERT_TRUE(particle_system_ambient_sound(&point, &ambient, &volume));
    EXPECT_EQ(ambient, 1);
    EXPECT_EQ(volume, 512);
    dispose_definitions_from_old_map(&ambients);
    ASSERT_NE(get_wind_velocity(), nullptr);
    update_wind();
    EXPECT_NE(get_wind_velocity()->i | get_wind_velocity()->j, 0);
    // Another map's tag finds no weather.
    initialize_particles_for_new_map(FOUR_CHARACTER_CODE('o', 't', 'h', 'r'));
    EXPECT_EQ(particle_system_intensity(&point), 0);
}

} // namespace

} // namespace world_effects_test_file
