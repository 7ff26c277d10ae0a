// The internal projectile groups as a map starts them: the units' map store
// step resolves the 'prgr' tags the map's files hold, and each place (the
// action machine's entries and ticks, a blow and a death of a stoned unit,
// the fades of hiding and calling in) makes its own group, and none while the
// tag is missing, names another group or the game is older.  Each row plants
// one tag, a group whose only trace is a ripple, and counts the ripples.

#include "support/unit_world_test.h"

#include <functional>
#include <ostream>

#include "damage.h"
#include "game_hooks.h"
#include "markers.h"
#include "media.h"
#include "mesh_effects.h"
#include "monster_actions.h"
#include "monster_hiding.h"
#include "monster_life.h"
#include "monster_reactions.h"
#include "monster_update.h"
#include "projectile_definitions.h"

namespace internal_projectile_groups_test_file {

namespace {

constexpr int16_t MARKER = 10; // the identifier of the map's one unit marker

struct place_row
{
    const char *place;
    int32_t group; // internal_projectile_group
    std::function<void(int32_t unit)> trigger;
    int32_t made; // groups the place makes
};
void PrintTo(const place_row &row, std::ostream *os) { *os << row.place; }

void enter(int32_t unit, int32_t action, int32_t permutation) { set_monster_action(unit, action, permutation); }
void hit(int32_t unit, bool kill)
{
    const damage_definition blow = {_damage_kinetic, 0, 10, 0, 0, 0, 0, 0};
    damage_data data;
    initialize_damage_data(&data);
    kill ? kill_monster(unit, &blow, &data, 0) : accelerate_monster(&blow, &data, unit);
}
// The fades' projectiles run to their end, which makes the group.
void fade(int16_t hide_mode, int16_t call_in_mode)
{
    make_monster_invisible(MARKER, hide_mode);
    if (call_in_mode != NONE) make_monster_visible(MARKER, call_in_mode);
    for (int32_t t = 0; t < 100; ++t) update_projectiles();
}

const place_row rows[] = {
    {"entering being healed", _internal_projectile_group_healing_start, [](int32_t u) { enter(u, 11, -1); }, 1},
    {"a tick of being healed", _internal_projectile_group_healing_effect,
     [](int32_t u) { enter(u, 11, -1), update_monsters(); }, 1},
    {"entering paralysis", _internal_projectile_group_paralysis_start, [](int32_t u) { enter(u, 14, 23); }, 1},
    {"the end of paralysis starts it again", _internal_projectile_group_paralysis_start,
     [](int32_t u) { enter(u, 14, 24), get_monster_data(u)->attack_timer = 0, update_monsters(); }, 2},
    {"a tick of paralysis", _internal_projectile_group_paralysis_effect,
     [](int32_t u) { enter(u, 14, 23), update_monsters(); }, 1},
    {"turning to stone", _internal_projectile_group_stoning_start, [](int32_t u) { enter(u, 13, 21); }, 1},
    {"a tick of turning to stone", _internal_projectile_group_stoning_effect,
     [](int32_t u) { enter(u, 13, 21), update_monsters(); }, 1},
    {"a blow on a stoned unit", _internal_projectile_group_stone_impact_effect,
     [](int32_t u) { enter(u, 13, 22), hit(u, false); }, 1},
    {"a stoned unit's death", _internal_projectile_group_stone_detonation_effect,
     [](int32_t u) { enter(u, 13, 22), hit(u, true); }, 1},
    {"a tick of being held", _internal_projectile_group_hold_effect,
     [](int32_t u) { enter(u, 12, -1), update_monsters(); }, 1},
    {"hiding by teleport", _internal_projectile_group_teleport_out,
     [](int32_t) { fade(_monster_visibility_mode_teleport, NONE); }, 1},
    {"hiding by tain", _internal_projectile_group_tain_out, [](int32_t) { fade(_monster_visibility_mode_tain, NONE); },
     1},
    {"calling in by teleport", _internal_projectile_group_teleport_in,
     [](int32_t) { fade(_monster_visibility_mode_none, _monster_visibility_mode_teleport); }, 1},
    {"calling in by tain", _internal_projectile_group_tain_in,
     [](int32_t) { fade(_monster_visibility_mode_none, _monster_visibility_mode_tain); }, 1},
};

class internal_projectile_groups_test : public unit_world_test, public ::testing::WithParamInterface<place_row>
{
protected:
    int32_t saved_version = current_gameplay_version;
    bool started = false;

    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(write_unit_tags([](monster_definition &m) {
            m.base_movement_speed = 0;
            m.healing_fraction = 128;
        }));
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

    // A group named `name` in the map's files (of `group`, 'prgr' unless a
    // test says) whose only trace is a ripple at its bounds object.
    void plant_group(tag name, tag group = PROJECTILE_GROUP_DEFINITION_GROUP_TAG)
    {
        projectile_group_definition g;
        default_projectile_group_definition(&g);
        g.mesh_effect_type = _mesh_effect_ripple;
        ASSERT_TRUE(byte_swap_data("prgr", &g, sizeof(g), 1, projectile_group_definition_byte_swapping_data));
        char text[5];
        write_local_tag(group, tag_to_string_buffer(name, text), PROJECTILE_GROUP_DEFINITION_VERSION, &g, sizeof(g));
    }

    // The map of one unit marker at `version`, the units' store step run by
    // the core's table as the map steps run it; the marker's unit.
    int32_t start(int32_t version)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 1);
        objects_world_map map;
        map.width = map.height = 16;
        map.palette = {{_marker_monster, 0, 0, FOUR_CHARACTER_CODE('w', 'a', '0', '1'), NONE, 0}};
        map.markers = {{_marker_monster, 0, MARKER, 0, 0, {4096, 4096, 0}, 0, 0, NONE, 0}};
        started = start_units_world(&data, &map);
        EXPECT_TRUE(started);
        start_explosions_and_projectiles();
        initialize_mesh_effects();
        initialize_mesh_effects_for_new_map();
        register_monster_hooks();
        register_monster_life_hooks();
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        EXPECT_TRUE(get_map_store_initialize_procedure(_startup_units)(&data));
        new_monster_palette_entry(get_marker_palette_entry(_marker_monster, 0));
        return new_monster(get_marker_by_index(_marker_monster, 0));
    }
};

TEST_P(internal_projectile_groups_test, each_place_makes_its_group_once_the_map_holds_its_tag)
{
    const tag planted = get_internal_projectile_group_tag(GetParam().group);
    ASSERT_NO_FATAL_FAILURE(plant_group(planted));
    const int32_t unit = start(FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS);
    ASSERT_NE(unit, NONE);
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i)
        EXPECT_EQ(get_internal_projectile_group_type(i) != NONE, get_internal_projectile_group_tag(i) == planted) << i;
    GetParam().trigger(unit);
    EXPECT_EQ(get_mesh_effect_count(), GetParam().made);
}

// Half the rows plant the tag in another group at 1830, half in its own at
// 1825: neither is looked up as a group.
TEST_P(internal_projectile_groups_test, no_place_makes_a_group_the_map_lacks_or_an_older_game)
{
    const bool older = GetParam().group % 2 == 0;
    ASSERT_NO_FATAL_FAILURE(plant_group(get_internal_projectile_group_tag(GetParam().group),
                                        older ? PROJECTILE_GROUP_DEFINITION_GROUP_TAG : FOUR_CHARACTER_CODE('p', 'r', 'o', 'j')));
    const int32_t unit = start(older ? 1825 : FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS);
    ASSERT_NE(unit, NONE);
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i) EXPECT_EQ(get_internal_projectile_group_type(i), NONE);
    GetParam().trigger(unit);
    EXPECT_EQ(get_mesh_effect_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(places, internal_projectile_groups_test, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<place_row> &info) {
                             std::string name = info.param.place;
                             for (char &c : name) c = isalnum((unsigned char)c) ? c : '_';
                             return name;
                         });

} // namespace

} // namespace internal_projectile_groups_test_file
