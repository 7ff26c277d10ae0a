// The effect procedures: 'part' switches the weather and reports what it did;
// 'lpgr' turns on, dims and turns off the groups of its markers without
// touching the synchronized game; 'fade' hands the interface its colour and
// durations.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "map_action_block_writer.h"
#include "map_actions/effect_action_procs.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_actions.h"
#include "markers.h"
#include "mesh_format.h"
#include "particles.h"
#include "state_hash.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

namespace effect_action_procs_test_file {

namespace {

constexpr tag GLOW = FOUR_CHARACTER_CODE('g', 'l', 'o', 'w');

mesh_marker group_marker(int16_t identifier, world_distance x, uint32_t flags)
{
    return {_marker_local_projectile_group, 0, identifier, 0, flags, {x, 1000, 64}, 0x1000, 0, NONE, 0};
}

struct fade_call
{
    rgb_color color;
    int32_t duration, current_duration;
};
std::vector<fade_call> fades;
void record_fade(const rgb_color *color, int32_t duration, int32_t current_duration)
{
    fades.push_back({*color, duration, current_duration});
}

class effect_action_procs_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        store_glow();
        weather_definition snow = {0, 100, 4, 2, FOUR_CHARACTER_CODE('w', 'i', 'n', 'd'), 0, 0, 0, 0, {}};
        ASSERT_TRUE(byte_swap_data("snow", &snow, sizeof(snow), 1, weather_definition_byte_swapping_data));
        write_local_tag(WEATHER_DEFINITION_GROUP, "snow", WEATHER_DEFINITION_VERSION, &snow, sizeof(snow));
        game_->difficulty_level = 2;
        current_gameplay_version = 1820;
        objects_world_map map;
        map.palette = {{_marker_local_projectile_group, NONE, 0, GLOW, NONE, 0}};
        map.markers = {group_marker(50, 1000, 0), group_marker(51, 2000, _marker_is_invisible_flag),
                       group_marker(52, 3000, _marker_is_invisible_flag)};
        ASSERT_TRUE(load_objects_world(map));
        ASSERT_TRUE(initialize_local_projectile_group_definitions());
        initialize_local_projectile_group_definitions_for_new_map();
        initialize_local_projectiles();
        initialize_local_projectiles_for_new_map();
        register_local_projectile_hooks();
        initialize_particles();
        initialize_particles_for_new_map(FOUR_CHARACTER_CODE('s', 'n', 'o', 'w'));
        ASSERT_TRUE(initialize_map_actions());
        initialize_map_actions_for_new_map();
        set_local_random_seed(5);
        set_random_seed(77);
        fades.clear();
    }
    void TearDown() override
    {
        dispose_map_actions_from_old_map();
        dispose_particles_from_old_map();
        dispose_local_projectiles_from_old_map();
        dispose_local_projectile_group_definitions_from_old_map();
        dispose_objects_world();
        clear_all_registrations();
        store_test::TearDown();
    }
    void store_glow()
    {
        local_projectile_group_definition d;
        default_local_projectile_group_definition(&d);
        d.flags = _local_projectile_group_is_continuous_flag;
        d.maximum_projectiles = 16;
        d.emission_lower_bound = 2;
        d.lifespan_lower_bound = 10;
        d.radius = 100;
        d.height = 50;
        d.transition_out = 6;
        std::vector<uint8_t> bytes((uint8_t *)&d, (uint8_t *)&d + sizeof(d));
        ASSERT_TRUE(byte_swap_data("glow", bytes.data(), (int32_t)bytes.size(), 1,
                                   local_projectile_group_definition_byte_swapping_data));
        write_local_tag(LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG, "glow", LOCAL_PROJECTILE_GROUP_DEFINITION_VERSION,
                        bytes.data(), (int32_t)bytes.size());
    }
    static test_action &groups(test_action &action, std::vector<int16_t> identifiers)
    {
        return action.raw(_parameter_local_projectile_group_identifier, four("grou"), (int16_t)identifiers.size(),
                          identifiers.data(), (int32_t)(identifiers.size() * 2));
    }
    static const marker_data *group_marker_of(int16_t identifier)
    {
        return get_marker_by_identifier(_marker_local_projectile_group, identifier);
    }
    static int32_t used_groups(void)
    {
        int32_t count = 0;
        for (int32_t i = 0; i < get_local_projectile_group_count(); i++) count += get_local_projectile_group(i) != nullptr;
        return count;
    }
};

constexpr uint32_t SUCCEEDED = _map_action_proc_succeeded_flag;

TEST_F(effect_action_procs_test, particle_system_switches_the_weather_and_returns_what_it_did)
{
    test_action nothing{1, four("part")};
    test_action switching{2, four("part")};
    switching.flag(four("swit"));
    test_action scaling{3, four("part")};
    scaling.fixeds(four("mult"), {0x18000});
    ASSERT_TRUE(import_test_actions({nothing, switching, scaling}));

    EXPECT_EQ(particle_system_action_proc(0), 0u);
    const bool snowing = particle_system_is_snowing();
    EXPECT_EQ(particle_system_action_proc(1), SUCCEEDED);
    EXPECT_NE(particle_system_is_snowing(), snowing);
    EXPECT_EQ(particle_system_action_proc(2), SUCCEEDED);
    EXPECT_NE(particle_system_is_snowing(), snowing) << "'mult' alone leaves the snow as it is";

    // A map without weather has nothing to switch: not reported as done.
    dispose_particles_from_old_map();
    initialize_particles_for_new_map(NONE);
    EXPECT_EQ(particle_system_action_proc(1), 0u);
}

TEST_F(effect_action_procs_test, local_projectile_groups_turn_on_dim_and_off_leaving_the_game_alone)
{
    place_markers_of_type(_marker_local_projectile_group);
    ASSERT_NE(group_marker_of(50)->data_index, NONE) << "the visible marker has its group at once";
    ASSERT_EQ(group_marker_of(51)->data_index, NONE);

    test_action on{1, four("lpgr")};
    groups(on, {50, 51, 99}).flag(four("__on"));
    test_action bright{2, four("lpgr")};
    groups(bright, {50, 51}).fixeds(four("opac"), {2 * 65536});
    test_action dark{3, four("lpgr")};
    groups(dark, {51}).fixeds(four("opac"), {-5 * 65536});
    test_action off{4, four("lpgr")};
    groups(off, {50}).flag(four("_off"));
    test_action unmade{5, four("lpgr")};
    groups(unmade, {52}).flag(four("_off"));
    ASSERT_TRUE(import_test_actions({on, bright, dark, off, unmade}));

    const uint32_t hash = compute_state_hash();
    const uint32_t seed = get_random_seed();
    const int32_t first_group = group_marker_of(50)->data_index;

    EXPECT_EQ(local_projectile_group_action_proc(0), SUCCEEDED);
    EXPECT_EQ(group_marker_of(50)->data_index, first_group) << "a group in the world is not made again";
    const int32_t second_group = group_marker_of(51)->data_index;
    ASSERT_NE(second_group, NONE);
    EXPECT_FALSE(group_marker_of(51)->flags & _marker_is_invisible_flag);
    EXPECT_EQ(used_groups(), 2);
    EXPECT_EQ(local_projectile_group_action_proc(0), SUCCEEDED);
    EXPECT_EQ(used_groups(), 2);

    EXPECT_EQ(local_projectile_group_action_proc(1), SUCCEEDED);
    EXPECT_EQ(get_local_projectile_group(first_group)->opacity, 65535);
    EXPECT_EQ(get_local_projectile_group(second_group)->opacity, 65535);
    EXPECT_EQ(local_projectile_group_action_proc(2), SUCCEEDED);
    EXPECT_EQ(get_local_projectile_group(second_group)->opacity, 0);
    EXPECT_EQ(get_local_projectile_group(first_group)->opacity, 65535);

    EXPECT_EQ(local_projectile_group_action_proc(3), SUCCEEDED);
    for (int32_t tick = 0; tick < 40; tick++) update_local_projectiles(1);
    EXPECT_EQ(get_local_projectile_group(first_group), nullptr) << "turned off, it faded and ended";
    EXPECT_NE(get_local_projectile_group(second_group), nullptr);

    EXPECT_EQ(local_projectile_group_action_proc(4), SUCCEEDED) << "no group: nothing to do, still done";
    EXPECT_EQ(group_marker_of(52)->data_index, NONE);

    EXPECT_EQ(compute_state_hash(), hash);
    EXPECT_EQ(get_random_seed(), seed);
}

TEST_F(effect_action_procs_test, fade_hands_its_colour_and_durations_to_the_interface)
{
    test_action full{1, four("fade")};
    full.ints(four("dura"), {90}).ints(four("durs"), {45}).ints(four("colr"), {-3, 70000, 1234});
    test_action two_components{2, four("fade")};
    two_components.ints(four("dura"), {30}).ints(four("colr"), {65535, 65535});
    test_action no_duration{3, four("fade")};
    no_duration.ints(four("colr"), {1, 2, 3});
    ASSERT_TRUE(import_test_actions({full, two_components, no_duration}));
    const uint32_t hash = compute_state_hash();

    EXPECT_EQ(ingame_fade_action_proc(0), SUCCEEDED) << "without the interface nothing is shown";
    ASSERT_TRUE(register_set_ingame_fade_procedure(record_fade));
    EXPECT_EQ(ingame_fade_action_proc(0), SUCCEEDED);
    EXPECT_EQ(ingame_fade_action_proc(1), SUCCEEDED);
    EXPECT_EQ(ingame_fade_action_proc(2), 0u);
    ASSERT_EQ(fades.size(), 2u);
    EXPECT_EQ(fades[0].color.red, 0);
    EXPECT_EQ(fades[0].color.green, 65535);
    EXPECT_EQ(fades[0].color.blue, 1234);
    EXPECT_EQ(fades[0].duration, 90);
    EXPECT_EQ(fades[0].current_duration, 45);
    EXPECT_EQ(fades[1].color.red, 0) << "two components fade to black";
    EXPECT_EQ(fades[1].color.green, 0);
    EXPECT_EQ(fades[1].color.blue, 0);
    EXPECT_EQ(fades[1].duration, 30);
    EXPECT_EQ(fades[1].current_duration, 30);
    EXPECT_EQ(compute_state_hash(), hash);

    // Through the engine the row exists only above 1600.
    current_gameplay_version = 1600;
    fades.clear();
    trigger_map_action(0);
    EXPECT_TRUE(fades.empty());
}

} // namespace

} // namespace effect_action_procs_test_file
