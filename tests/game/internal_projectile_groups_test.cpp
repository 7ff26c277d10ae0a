// The internal projectile groups as a map starts them: the units' map store
// step resolves the 'prgr' tags the map's files hold, and each place of the
// action machine, the reactions, a death and the fades of hiding and calling
// in makes its own group, and none while the tag is missing.  Each row plants
// one tag, a group whose only trace is a ripple, and counts the ripples.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <functional>
#include <ostream>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "damage.h"
#include "explosions.h"
#include "game_hooks.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "media.h"
#include "mesh_effects.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_life.h"
#include "monster_reactions.h"
#include "monster_update.h"
#include "monsters.h"
#include "objects.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

namespace internal_projectile_groups_test_file {

namespace {

constexpr int16_t MARKER_IDENTIFIER = 10;

struct place_row
{
    const char *place;
    int32_t group; // internal_projectile_group
    std::function<void(int32_t unit)> trigger;
    int32_t made; // groups the place makes
};

// The row's place names its test (and its instance in ctest's list).
void PrintTo(const place_row &row, std::ostream *os) { *os << row.place; }

// One tick of the units, as the game tick runs it.
void unit_tick(int32_t) { update_monsters(); }

// The projectiles' ticks until a fade has ended and made its group.
void fade_ticks(void)
{
    for (int32_t t = 0; t < 100; ++t) update_projectiles();
}

damage_definition blow(int16_t type)
{
    damage_definition d = {};
    d.type = type;
    d.damage_lower_bound = 10;
    return d;
}

const place_row rows[] = {
    {"entering being healed", _internal_projectile_group_healing_start,
     [](int32_t u) { set_monster_action(u, _monster_action_being_healed, -1); }, 1},
    {"a tick of being healed", _internal_projectile_group_healing_effect,
     [](int32_t u) { set_monster_action(u, _monster_action_being_healed, -1); unit_tick(u); }, 1},
    {"entering paralysis", _internal_projectile_group_paralysis_start,
     [](int32_t u) { set_monster_action(u, _monster_action_paralyzed, _monster_action_permutation_being_paralyzed); },
     1},
    {"the end of paralysis starts it again", _internal_projectile_group_paralysis_start,
     [](int32_t u) {
         set_monster_action(u, _monster_action_paralyzed, _monster_action_permutation_paralyzed);
         get_monster_data(u)->attack_timer = 0;
         unit_tick(u);
     },
     2},
    {"a tick of paralysis", _internal_projectile_group_paralysis_effect,
     [](int32_t u) {
         set_monster_action(u, _monster_action_paralyzed, _monster_action_permutation_being_paralyzed);
         unit_tick(u);
     },
     1},
    {"turning to stone", _internal_projectile_group_stoning_start,
     [](int32_t u) { set_monster_action(u, _monster_action_stoned, _monster_action_permutation_turning_to_stone); }, 1},
    {"a tick of turning to stone", _internal_projectile_group_stoning_effect,
     [](int32_t u) {
         set_monster_action(u, _monster_action_stoned, _monster_action_permutation_turning_to_stone);
         unit_tick(u);
     },
     1},
    {"a blow on a stoned unit", _internal_projectile_group_stone_impact_effect,
     [](int32_t u) {
         set_monster_action(u, _monster_action_stoned, _monster_action_permutation_stoned);
         const damage_definition d = blow(_damage_kinetic);
         damage_data data;
         initialize_damage_data(&data);
         accelerate_monster(&d, &data, u);
     },
     1},
    {"a stoned unit's death", _internal_projectile_group_stone_detonation_effect,
     [](int32_t u) {
         set_monster_action(u, _monster_action_stoned, _monster_action_permutation_stoned);
         const damage_definition d = blow(_damage_kinetic);
         damage_data data;
         initialize_damage_data(&data);
         kill_monster(u, &d, &data, 0);
     },
     1},
    {"a tick of being held", _internal_projectile_group_hold_effect,
     [](int32_t u) { set_monster_action(u, _monster_action_being_held, -1); unit_tick(u); }, 1},
    {"hiding by teleport", _internal_projectile_group_teleport_out,
     [](int32_t) { make_monster_invisible(MARKER_IDENTIFIER, _monster_visibility_mode_teleport); fade_ticks(); }, 1},
    {"hiding by tain", _internal_projectile_group_tain_out,
     [](int32_t) { make_monster_invisible(MARKER_IDENTIFIER, _monster_visibility_mode_tain); fade_ticks(); }, 1},
    {"calling in by teleport", _internal_projectile_group_teleport_in,
     [](int32_t) {
         make_monster_invisible(MARKER_IDENTIFIER, _monster_visibility_mode_none);
         make_monster_visible(MARKER_IDENTIFIER, _monster_visibility_mode_teleport);
         fade_ticks();
     },
     1},
    {"calling in by tain", _internal_projectile_group_tain_in,
     [](int32_t) {
         make_monster_invisible(MARKER_IDENTIFIER, _monster_visibility_mode_none);
         make_monster_visible(MARKER_IDENTIFIER, _monster_visibility_mode_tain);
         fade_ticks();
     },
     1},
};

class internal_projectile_groups_test : public store_fixture::store_test,
                                        public ::testing::WithParamInterface<place_row>
{
protected:
    int32_t saved_version = current_gameplay_version;
    bool started = false;

    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        reset_game_core();
        store_unit_tags();
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        if (started)
        {
            dispose_mesh_effects_from_old_map();
            dispose_projectiles_from_old_map();
            dispose_explosions_from_old_map();
            dispose_units_world();
        }
        clear_all_registrations();
        initialize_internal_projectile_groups_for_new_map();
        store_test::TearDown();
    }

    void store_unit_tags(void)
    {
        collection_reference_definition reference;
        memset(&reference, 0, sizeof(reference));
        reference.collection_tag = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
        reference.number_of_permutations = 3;
        ASSERT_TRUE(store_definition_tag(COLLECTION_REFERENCE_GROUP_TAG, "refa", &reference, sizeof(reference)));
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = reference.collection_tag;
        m.base_movement_speed = 0;
        m.healing_fraction = 128;
        for (int32_t i = 0; i < 19; ++i) m.sequence_indexes[i] = (int16_t)(100 + i);
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data("mons", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "mons", MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        uint8_t unit[128];
        memset(unit, 0, sizeof(unit));
        memcpy(unit, "mons", 4);
        memcpy(unit + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa01", UNIT_DEFINITION_VERSION, unit, sizeof(unit));
    }

    // A group of `group_tag` in the map's files whose only trace is a ripple
    // at its bounds object.
    void plant_group(tag group_tag, tag tag_group = PROJECTILE_GROUP_DEFINITION_GROUP_TAG)
    {
        projectile_group_definition g;
        default_projectile_group_definition(&g);
        g.mesh_effect_type = _mesh_effect_ripple;
        std::vector<uint8_t> bytes((uint8_t *)&g, (uint8_t *)&g + sizeof(g));
        ASSERT_TRUE(byte_swap_data("prgr", bytes.data(), (int32_t)bytes.size(), 1,
                                   projectile_group_definition_byte_swapping_data));
        char name[5];
        write_local_tag(tag_group, tag_to_string_buffer(group_tag, name), PROJECTILE_GROUP_DEFINITION_VERSION,
                        bytes.data(), (int32_t)bytes.size());
    }

    // The map of one unit marker, started as the map steps start it, the
    // units' store step run by the core's table at `version`.
    void start(int32_t version)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = map.height = 16;
        map.palette = {{_marker_monster, 0, 0, FOUR_CHARACTER_CODE('w', 'a', '0', '1'), NONE, 0}};
        map.markers = {{_marker_monster, 0, MARKER_IDENTIFIER, 0, 0, {4096, 4096, 0}, 0, 0, NONE, 0}};
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_TRUE(initialize_explosions());
        initialize_explosions_for_new_map();
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
        initialize_mesh_effects();
        initialize_mesh_effects_for_new_map();
        register_monster_hooks();
        register_monster_life_hooks();
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        const map_initialize_procedure units_store = get_map_store_initialize_procedure(_startup_units);
        ASSERT_NE(units_store, nullptr);
        ASSERT_TRUE(units_store(&data));
        for (int32_t i = 0; i < get_marker_palette_entry_count(_marker_monster); ++i)
            new_monster_palette_entry(get_marker_palette_entry(_marker_monster, i));
    }
};

TEST_P(internal_projectile_groups_test, each_place_makes_its_group_once_the_map_holds_its_tag)
{
    const place_row &row = GetParam();
    const tag planted = get_internal_projectile_group_tag(row.group);
    ASSERT_NO_FATAL_FAILURE(plant_group(planted));
    ASSERT_NO_FATAL_FAILURE(start(FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS));
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i)
        EXPECT_EQ(get_internal_projectile_group_type(i) != NONE, get_internal_projectile_group_tag(i) == planted)
            << "group " << i;

    const int32_t unit = new_monster(get_marker_by_index(_marker_monster, 0));
    ASSERT_NE(unit, NONE);
    row.trigger(unit);
    EXPECT_EQ(get_mesh_effect_count(), row.made);
}

TEST_P(internal_projectile_groups_test, no_place_makes_a_group_the_map_lacks_or_an_older_game)
{
    const place_row &row = GetParam();
    // Older games look no tag up; a tag of another group is not a group.
    ASSERT_NO_FATAL_FAILURE(plant_group(get_internal_projectile_group_tag(row.group),
                                        FOUR_CHARACTER_CODE('p', 'r', 'o', 'j')));
    ASSERT_NO_FATAL_FAILURE(start(row.group % 2 ? FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS : 1825));
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i)
        EXPECT_EQ(get_internal_projectile_group_type(i), NONE);
    const int32_t unit = new_monster(get_marker_by_index(_marker_monster, 0));
    ASSERT_NE(unit, NONE);
    row.trigger(unit);
    EXPECT_EQ(get_mesh_effect_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(places, internal_projectile_groups_test, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<place_row> &info) {
                             std::string name = info.param.place;
                             for (char &c : name)
                                 if (!isalnum((unsigned char)c)) c = '_';
                             return name;
                         });

} // namespace

} // namespace internal_projectile_groups_test_file
