// Units made from markers and killed: placement rules (difficulty, hidden
// markers, fliers, veterans), immediate detonation without endless respawn,
// death groups and their fallbacks, respawn under the former owner, the
// re-entrant kill, the elimination of a team, death notices and owners,
// hiding and calling in, healing and the special-ability questions, initial
// artifacts handed out at creation with their draws, and damage that sets
// explosives off.

#include "map_action_procedures.h"
#include "overhead_text_procedures.h"
#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "collection_references.h"
#include "damage.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_initializers.h"
#include "monster_life.h"
#include "monster_owners.h"
#include "monsters.h"
#include "object_definitions.h"
#include "overhead_text.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"

namespace monster_life_test_file {

namespace {

constexpr tag COLLECTION_A = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
constexpr tag OTHER_UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '2');
constexpr tag RED_UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '3'); // 'refb': colours 7 and 9
constexpr tag MONS_TAG = FOUR_CHARACTER_CODE('m', 'o', 'n', 's');

mesh_marker unit_marker(int16_t palette, int16_t identifier, world_distance x, world_distance y, uint32_t flags = 0,
                        int16_t difficulty = 0, world_distance z = 0)
{
    return {_marker_monster, palette, identifier, difficulty, flags, {x, y, z}, 0, 0, NONE, 0};
}

std::vector<int32_t> maps_made; // map actions asked for, by unit

bool record_map_action(int32_t monster_index)
{
    maps_made.push_back(monster_index);
    return false;
}

class monster_life_test : public store_fixture::store_test
{
protected:
    int32_t saved_version = current_gameplay_version;
    new_game_data data;
    monster_definition mons;

    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        reset_game_core();
        data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        data.players[0].unique_identifier = 101;
        data.players[1].unique_identifier = 202;
        default_monster_definition(&mons);
        mons.collection_tag = COLLECTION_A;
        mons.base_movement_speed = 0;
        for (int32_t i = 0; i < 19; ++i) mons.sequence_indexes[i] = (int16_t)(100 + i);
        mons.healing_fraction = 128;
        maps_made.clear();
        register_monster_life_hooks();
        register_monster_owner_hooks();
        static const map_action_procedures scripts = {.create_map_action_for_monster = record_map_action};
        register_map_action_procedures(&scripts);
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        game_->option_flags = 0;
        stop();
        reset_monster_initializers();
        clear_all_registrations();
        store_test::TearDown();
    }

    void store_tags(void)
    {
        collection_reference_definition reference;
        memset(&reference, 0, sizeof(reference));
        reference.collection_tag = COLLECTION_A;
        reference.number_of_permutations = 2;
        reference.color_table_indexes[0] = 3;
        reference.color_table_indexes[1] = 5;
        ASSERT_TRUE(store_definition_tag(COLLECTION_REFERENCE_GROUP_TAG, "refa", &reference, sizeof(reference)));
        std::vector<uint8_t> bytes((uint8_t *)&mons, (uint8_t *)&mons + sizeof(mons));
        ASSERT_TRUE(byte_swap_data("mons", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "mons", MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        uint8_t unit[128];
        memset(unit, 0, sizeof(unit));
        memcpy(unit, "mons", 4);
        memcpy(unit + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa01", UNIT_DEFINITION_VERSION, unit, sizeof(unit));
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa02", UNIT_DEFINITION_VERSION, unit, sizeof(unit));
        reference.color_table_indexes[0] = 7;
        reference.color_table_indexes[1] = 9;
        ASSERT_TRUE(store_definition_tag(COLLECTION_REFERENCE_GROUP_TAG, "refb", &reference, sizeof(reference)));
        memcpy(unit + 4, "refb", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa03", UNIT_DEFINITION_VERSION, unit, sizeof(unit));
    }

    // Palette entry 0: team 0 with `flags`; entry 1: team 1.
    void start(const std::vector<mesh_marker> &markers, uint32_t palette_flags = 0, int32_t version = 1820,
               tag team_1_unit = UNIT_TAG)
    {
        store_tags();
        objects_world_map map;
        map.width = map.height = 16;
        map.palette = {{_marker_monster, 0, palette_flags, UNIT_TAG, NONE, 0},
                       {_marker_monster, 1, 0, team_1_unit, NONE, 0}};
        map.markers = markers;
        ASSERT_TRUE(start_units_world(&data, &map));
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
        started = true;
        current_gameplay_version = version;
        // Resolve the entries as the placement loop does.
        for (int32_t i = 0; i < get_marker_palette_entry_count(_marker_monster); ++i)
            new_monster_palette_entry(get_marker_palette_entry(_marker_monster, i));
    }
    bool started = false;
    void stop(void)
    {
        if (!started) return;
        started = false;
        dispose_projectiles_from_old_map();
        dispose_units_world();
    }
    marker_data *marker(int32_t index) { return get_marker_by_index(_marker_monster, index); }
    monster_data *unit(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }
    int32_t living_units(void)
    {
        int32_t count = 0;
        for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i) count += get_monster_data(i) != nullptr;
        return count;
    }

    // Definitions made once the map is started (the loaded 'mons' is mons_type()).
    int16_t mons_type(void) { return (int16_t)subgroup_tag_to_definition_index(&monster_definitions, MONS_TAG); }
    tag next_name(char kind)
    {
        const int32_t n = next_tag++;
        return FOUR_CHARACTER_CODE('t', kind, 'a' + n / 10, '0' + n % 10);
    }
    // A projectile of `projectile_class` with a body, carrying `artifact` (NONE: none).
    int16_t add_projectile(int16_t projectile_class, int16_t artifact = NONE)
    {
        object_definition body;
        memset(&body, 0, sizeof(body));
        body.scale_lower_bound = 256;
        body.maximum_vitality = 10;
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = (int16_t)new_definition(&object_definitions, next_name('o'), &body);
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 400;
        d.projectile_class = projectile_class;
        d.artifact_index = artifact;
        return (int16_t)new_definition(get_projectile_definition_group(), next_name('p'), &d);
    }
    // A group of one part: `lower` + random(`delta`) of `projectile`.
    int16_t add_group(int16_t projectile, int16_t lower, int16_t delta)
    {
        projectile_group_definition g;
        default_projectile_group_definition(&g);
        g.number_of_parts = 1;
        g.parts[0].projectile_type = projectile;
        g.parts[0].count_lower_bound = lower;
        g.parts[0].count_delta = delta;
        return (int16_t)new_definition(get_projectile_group_definition_group(), next_name('g'), &g);
    }
    std::vector<int32_t> projectiles_of_type(int16_t type)
    {
        std::vector<int32_t> found;
        for (int32_t i = 0; i < MAXIMUM_PROJECTILES_PER_MAP; ++i)
            if (const projectile_data *p = get_projectile_data(i); p && p->type == type) found.push_back(i);
        return found;
    }
    int32_t next_tag = 0;
};

// ---- placement --------------------------------------------------------------------

TEST_F(monster_life_test, placement_follows_difficulty_hidden_markers_and_counts_each_unit_once)
{
    start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 1500, 1000, 0, 3),
           unit_marker(1, 12, 2000, 1000, _marker_is_invisible_flag),
           unit_marker(1, 13, 2500, 1000, _marker_is_invisible_observer_flag)});
    game_->difficulty_level = 2;
    EXPECT_EQ(place_markers_of_type(_marker_monster), 2);

    const int32_t first = marker(0)->data_index;
    ASSERT_NE(first, NONE);
    EXPECT_EQ(unit(first)->identifier, 10);
    EXPECT_EQ(unit(first)->marker_index, 0);
    EXPECT_EQ(unit(first)->owner_team_index, 0);
    EXPECT_EQ(marker(0)->data_identifier, 10);
    EXPECT_EQ(maps_made, std::vector<int32_t>({first, marker(3)->data_index}));

    // Below the game's difficulty: nothing, even when asked directly.
    EXPECT_EQ(new_monster(marker(1)), NONE);
    EXPECT_EQ(marker(1)->data_index, NONE);
    // Held off the battlefield: nothing.
    EXPECT_EQ(marker(2)->data_index, NONE);
    // Starts hidden: it exists off the mesh, its marker marked hidden.
    const int32_t hidden = marker(3)->data_index;
    ASSERT_NE(hidden, NONE);
    EXPECT_TRUE(unit(hidden)->flags & _monster_has_left_the_mesh_flag);
    EXPECT_TRUE(body(hidden)->flags & _object_is_invisible_flag);
    EXPECT_TRUE(marker(3)->flags & _marker_is_invisible_flag);

    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 0)->count, 1);
    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 1)->count, 1);
}

TEST_F(monster_life_test, fliers_near_the_ground_rise_to_flying_height_and_version_1500_draws_it)
{
    mons.flags |= _monster_raise_to_flying_height_flag;
    start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 2000, 1000, 0, 0, 512),
           unit_marker(0, 12, 3000, 1000, 0, 0, 513)});
    EXPECT_EQ(body(new_monster(marker(0)))->location.position.z, 2048);
    EXPECT_EQ(body(new_monster(marker(1)))->location.position.z, 2048);
    EXPECT_EQ(body(new_monster(marker(2)))->location.position.z, 513);

    current_gameplay_version = 1500;
    set_random_seed(77);
    const uint16_t draw = vesk_random();
    set_random_seed(77);
    marker(0)->data_index = NONE;
    const int32_t index = new_monster(marker(0));
    ASSERT_NE(index, NONE);
    EXPECT_EQ(body(index)->location.position.z, 1536 + (draw >> 5));
}

TEST_F(monster_life_test, a_detonating_marker_kills_its_unit_at_once_and_never_respawns_it)
{
    for (const bool deathmatch : {false, true})
    {
        SCOPED_TRACE(deathmatch);
        start({unit_marker(0, 10, 1000, 1000, _marker_respawns_flag | _marker_remembers_location_flag),
               unit_marker(0, 11, 3000, 3000, _marker_detonates_immediately_flag | _marker_respawns_flag)});
        game_->option_flags = deathmatch ? (uint32_t)_game_option_deathmatch_flag : 0u;
        const int32_t first = new_monster(marker(0));
        ASSERT_NE(first, NONE);
        const world_location3d before = marker(0)->location;

        EXPECT_EQ(new_monster(marker(1)), NONE);
        EXPECT_EQ(marker(1)->data_index, NONE);
        EXPECT_EQ(get_marker_palette_entry(_marker_monster, 0)->count, 2);
        EXPECT_EQ(living_units(), 1);
        // Marker 0 and its unit are untouched.
        EXPECT_EQ(marker(0)->data_index, first);
        EXPECT_EQ(memcmp(&marker(0)->location, &before, sizeof(before)), 0);
        EXPECT_EQ(unit(first)->identifier, 10);
        stop();
    }
}

TEST_F(monster_life_test, veterans_are_taken_when_allowed_and_demanded_ones_must_exist)
{
    start({unit_marker(0, 10, 1000, 1000, _marker_is_invisible_flag), unit_marker(0, 11, 2000, 1000)},
          _marker_palette_must_use_veterans_flag);
    // No veteran: a must-use entry places nothing, even on a held marker.
    EXPECT_EQ(new_monster(marker(0)), NONE);

    monster_initializer veteran;
    memset(&veteran, 0, sizeof(veteran));
    veteran.owner_player_identifier = 101;
    veteran.unit_tag = OTHER_UNIT_TAG; // now another unit: a new palette entry
    veteran.monster_tag = MONS_TAG;
    veteran.experience = 42;
    veteran.battles_survived = 3;
    veteran.color_table_permutation = 1;
    strcpy(veteran.name, "Orla");
    ASSERT_TRUE(byte_swap_data("veteran", &veteran, sizeof(veteran), 1, monster_initializer_byte_swapping_data));
    ASSERT_TRUE(import_monster_initializers(&veteran, sizeof(veteran)));
    get_marker_palette_entry(_marker_monster, 0)->flags = _marker_palette_may_use_veterans_flag;

    const int32_t index = new_monster(marker(1));
    ASSERT_NE(index, NONE);
    EXPECT_EQ(unit(index)->experience, 42);
    EXPECT_EQ(unit(index)->battles_survived, 3);
    EXPECT_STREQ(unit(index)->name, "Orla");
    EXPECT_EQ(body(index)->color_table_index, 5);
    ASSERT_EQ(get_marker_palette_entry_count(_marker_monster), 3);
    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 2)->tag, OTHER_UNIT_TAG);
    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 2)->count, 1);
    EXPECT_EQ(get_unit_definition(unit(index)->unit_type)->parent_unit_tag, OTHER_UNIT_TAG);
    // Taken once: the next unit is plain.
    marker(0)->flags = 0;
    const int32_t plain = new_monster(marker(0));
    ASSERT_NE(plain, NONE);
    EXPECT_EQ(unit(plain)->experience, 0);
}

// ---- death ------------------------------------------------------------------------------

TEST_F(monster_life_test, death_groups_fall_back_from_the_missing_ones)
{
    struct row
    {
        int16_t dying, exploding, burning, death, group, becomes;
    } rows[] = {
        {1, 2, 3, _monster_death_soft, 1, _monster_death_soft},
        {NONE, 2, 3, _monster_death_soft, 2, _monster_death_hard},
        {1, 2, 3, _monster_death_hard, 2, _monster_death_hard},
        {1, NONE, 3, _monster_death_hard, 1, _monster_death_soft},
        {1, 2, 3, _monster_death_fire, 3, _monster_death_fire},
        {1, 2, NONE, _monster_death_fire, 1, _monster_death_soft},
        {NONE, NONE, NONE, _monster_death_hard, NONE, _monster_death_soft},
    };
    for (const row &r : rows)
    {
        monster_definition definition;
        default_monster_definition(&definition);
        definition.dying_projectile_group_type = r.dying;
        definition.exploding_projectile_group_type = r.exploding;
        definition.burning_death_projectile_group_type = r.burning;
        int16_t becomes = 0;
        EXPECT_EQ(choose_death_projectile_group(&definition, r.death, &becomes), r.group) << r.death;
        EXPECT_EQ(becomes, r.becomes) << r.death;
    }
}

TEST_F(monster_life_test, a_killed_unit_loses_its_overhead_text)
{
    start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 2000, 2000)});
    initialize_overhead_text();
    initialize_overhead_text_for_new_map();
    static const overhead_text_procedures text_procedures = {.delete_overhead_text = delete_overhead_text};
    ASSERT_TRUE(register_overhead_text_procedures(&text_procedures));
    const int32_t a = new_monster(marker(0)), b = new_monster(marker(1));
    overhead_text_data text = {};
    text.timer = 100;
    text.monster_index = (int16_t)a;
    const int32_t shown = new_overhead_text(&text);
    ASSERT_NE(shown, NONE);
    unit(a)->current_overhead_text_index = (int16_t)shown;
    text.monster_index = (int16_t)b;
    const int32_t kept = new_overhead_text(&text);
    unit(b)->current_overhead_text_index = (int16_t)kept;

    kill_monster(a, nullptr, nullptr, _monster_death_disintegration);
    EXPECT_EQ(get_overhead_text(shown), nullptr);
    if (unit(a)) { EXPECT_EQ(unit(a)->current_overhead_text_index, NONE); }
    EXPECT_NE(get_overhead_text(kept), nullptr);
    EXPECT_EQ(unit(b)->current_overhead_text_index, kept);
    dispose_overhead_text_from_old_map();
}

TEST_F(monster_life_test, a_respawning_unit_returns_at_its_marker_or_where_it_died_under_its_former_owner)
{
    start({unit_marker(0, 10, 1000, 1000, _marker_respawns_flag),
           unit_marker(0, 11, 2000, 2000, _marker_respawns_flag | _marker_remembers_location_flag),
           unit_marker(0, 12, 3000, 3000, _marker_manual_respawn_flag | _marker_respawns_flag)});
    ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, 1), NONE);
    const int32_t a = new_monster(marker(0)), b = new_monster(marker(1)), c = new_monster(marker(2));
    detach_monster(a, 1, true);
    ASSERT_EQ(unit(a)->owner_player_index, 1);
    unit(a)->flags |= _monster_ignores_user_commands_flag;
    disconnect_object_from_mesh(unit(b)->object_index);
    body(b)->location.position = {5000, 6000, 0};
    reconnect_object_to_mesh(unit(b)->object_index);

    {
        expected_assertions expect(1, "ignores_user_commands"); // the respawned unit is detached again
        kill_monster(a, nullptr, nullptr, _monster_death_disintegration);
    }
    const int32_t again = marker(0)->data_index;
    ASSERT_NE(again, NONE);
    EXPECT_EQ(unit(again)->identifier, 10);
    EXPECT_EQ(unit(again)->owner_player_index, 1);
    EXPECT_EQ(unit(again)->owner_team_index, 1);
    EXPECT_TRUE(unit(again)->flags & _monster_needs_to_stop_flag);
    EXPECT_TRUE(unit(again)->flags & _monster_ignores_user_commands_flag);
    EXPECT_EQ(body(again)->location.position.x, 1000);

    kill_monster(b, nullptr, nullptr, _monster_death_disintegration);
    const int32_t moved = marker(1)->data_index;
    ASSERT_NE(moved, NONE);
    EXPECT_EQ(body(moved)->location.position.x, 5000);
    EXPECT_EQ(body(moved)->location.position.y, 6000);

    // A manual respawn only forgets the unit and waits.
    kill_monster(c, nullptr, nullptr, _monster_death_disintegration);
    EXPECT_EQ(marker(2)->data_index, NONE);
    EXPECT_EQ(marker(2)->player_index, 0);
    EXPECT_EQ(living_units(), 2);
}

// A died procedure that kills the dying unit again: the inner death respawns
// it from its marker, into the same slot with the same identifier; the outer
// death must leave the new unit and its object alone.
int32_t reentrant_victim = NONE;
void kill_again(int32_t monster_index, uint32_t)
{
    if (monster_index != reentrant_victim) return;
    reentrant_victim = NONE;
    kill_monster(monster_index, nullptr, nullptr, _monster_death_disintegration);
}

TEST_F(monster_life_test, a_reentrant_kill_deletes_nothing_of_the_unit_made_again)
{
    start({unit_marker(0, 10, 1000, 1000, _marker_respawns_flag)});
    const int32_t index = new_monster(marker(0));
    ASSERT_TRUE(register_monster_died_procedure(kill_again));
    reentrant_victim = index;
    {
        damage_data damage;
        initialize_damage_data(&damage);
        expected_assertions none(0);
        kill_monster(index, nullptr, &damage, _monster_death_hard);
    }
    const int32_t again = marker(0)->data_index;
    ASSERT_NE(again, NONE);
    ASSERT_NE(unit(again), nullptr);
    EXPECT_NE(body(again), nullptr);
    EXPECT_EQ(get_object(unit(again)->object_index)->owner_index, again);
    EXPECT_EQ(living_units(), 1);
    // Made once more, by the inner death only.
    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 0)->count, 2);
}

TEST_F(monster_life_test, a_beaten_team_loses_its_placed_units_and_their_markers_forget_them)
{
    start({unit_marker(1, 20, 1000, 1000), unit_marker(0, 10, 2000, 1000), unit_marker(1, 21, 3000, 1000)});
    for (int32_t i = 0; i < 3; ++i) new_monster(marker(i));
    eliminate_units_of_losing_team(1);
    EXPECT_EQ(marker(0)->data_index, NONE);
    EXPECT_EQ(marker(2)->data_identifier, NONE);
    EXPECT_NE(marker(1)->data_index, NONE);
    EXPECT_EQ(living_units(), 1);
}

// ---- owners ------------------------------------------------------------------------------

TEST_F(monster_life_test, a_new_owner_gives_the_smallest_free_identifier_from_0x8000)
{
    start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 2000, 1000), unit_marker(0, 12, 3000, 1000)});
    ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, 1), NONE);
    const int32_t a = new_monster(marker(0)), b = new_monster(marker(1)), c = new_monster(marker(2));
    set_datum_identifier(get_monster_array(), a, (int16_t)0x8000);
    set_datum_identifier(get_monster_array(), b, (int16_t)0x8001);
    change_monster_owner(c, 1, true);
    EXPECT_EQ((uint16_t)unit(c)->identifier, 0x8002);
    EXPECT_EQ(unit(c)->owner_player_index, 1);
    EXPECT_EQ(unit(c)->owner_team_index, 1);
    // A dropped player takes nothing.
    drop_player(0);
    change_monster_owner(c, 0, false);
    EXPECT_EQ(unit(c)->owner_player_index, 1);
}

// A unit a script hands to a player of the map's own colours wears his
// team's colours from 1850, in the permutation it had; before, the old ones.
TEST_F(monster_life_test, a_unit_given_to_another_team_takes_its_colours_from_1850)
{
    const struct
    {
        int32_t version;
        int16_t colours[2]; // by permutation
    } rows[] = {{1840, {7, 9}}, {1850, {3, 5}}};
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.version);
        stop();
        start({unit_marker(1, 20, 1000, 1000)}, 0, row.version, RED_UNIT_TAG);
        ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, 0), NONE);
        const int32_t index = new_monster(marker(0));
        ASSERT_NE(index, NONE);
        const int32_t permutation = body(index)->color_table_index == 7 ? 0 : 1;
        change_monster_owner(index, 0, false);
        EXPECT_EQ(unit(index)->owner_team_index, 0);
        EXPECT_EQ(body(index)->color_table_index, row.colours[permutation]);
        EXPECT_EQ(unit(index)->orig_color_table_index, row.colours[permutation]); // what a new artifact restores
    }
}

// ---- hiding and healing ---------------------------------------------------------------------

TEST_F(monster_life_test, hiding_and_calling_in_with_every_mode)
{
    for (const int16_t mode : {-1, 0, 1, 2, 3})
    {
        SCOPED_TRACE(mode);
        start({unit_marker(0, 10, 1000, 1000), unit_marker(1, 20, 2000, 1000)});
        const int32_t index = new_monster(marker(0));
        const int32_t enemy = new_monster(marker(1));
        unit(enemy)->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
        unit(enemy)->target_monster_index = (int16_t)index;
        make_monster_invisible(10, mode);
        EXPECT_TRUE(marker(0)->flags & _marker_is_invisible_flag);
        EXPECT_TRUE(unit(index)->flags & _monster_has_left_the_mesh_flag);
        EXPECT_TRUE(body(index)->flags & _object_is_invisible_flag);
        EXPECT_EQ(unit(enemy)->target_monster_index, NONE); // nothing keeps attacking it

        EXPECT_EQ(make_monster_visible(10, mode), index);
        EXPECT_FALSE(marker(0)->flags & _marker_is_invisible_flag);
        // Without a fade (or a group to wait for) it is here at once; a fade
        // leaves it waiting off the mesh until the fade ends.
        const bool waits = mode >= 0;
        EXPECT_EQ((unit(index)->flags & _monster_has_left_the_mesh_flag) != 0, waits);
        EXPECT_EQ((body(index)->flags & _object_is_invisible_flag) != 0, waits);
        EXPECT_EQ((unit(index)->flags & _monster_is_teleporting_in_flag) != 0, waits);
        stop();
    }
}

TEST_F(monster_life_test, calling_in_a_marker_without_a_unit_makes_it_on_the_spot)
{
    start({unit_marker(0, 10, 1000, 1000, _marker_is_invisible_flag)});
    EXPECT_EQ(new_monster(marker(0)), NONE);
    const int32_t index = make_monster_visible(10, -1);
    ASSERT_NE(index, NONE);
    EXPECT_FALSE(unit(index)->flags & _monster_has_left_the_mesh_flag);
    EXPECT_EQ(make_monster_visible(99, -1), NONE);
}

TEST_F(monster_life_test, healing_rises_to_its_cap_in_steps_and_hurts_units_that_cannot_be_healed)
{
    start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 2000, 1000)});
    const int32_t index = new_monster(marker(0));
    body(index)->maximum_vitality = 750;
    body(index)->vitality = 100;
    set_monster_action(index, _monster_action_being_healed, 0);
    unit(index)->aggressor_monster_index = NONE;
    unit(index)->attack_timer = 5;
    monster_being_healed(index);
    EXPECT_EQ(body(index)->vitality, 105); // cap 375, step 5
    body(index)->vitality = 373;
    monster_being_healed(index);
    EXPECT_EQ(body(index)->vitality, 375);
    monster_being_healed(index); // at the cap: over, but the timer runs
    EXPECT_EQ(unit(index)->action, _monster_action_being_healed);
    unit(index)->attack_timer = -1;
    monster_being_healed(index);
    EXPECT_NE(unit(index)->action, _monster_action_being_healed);

    // Healing fraction 0: hurt by 750 / 75 = 10 a tick, dead once negative.
    get_monster_definition(unit(index)->type)->healing_fraction = 0;
    const int32_t victim = new_monster(marker(1));
    body(victim)->maximum_vitality = 750;
    body(victim)->vitality = 15;
    set_monster_action(victim, _monster_action_being_healed, 0);
    unit(victim)->attack_timer = -1;
    monster_being_healed(victim);
    EXPECT_EQ(body(victim)->vitality, 5);
    monster_being_healed(victim);
    EXPECT_EQ(body(victim)->vitality, -1);
    ASSERT_NE(get_monster_data(victim), nullptr);
    monster_being_healed(victim);
    EXPECT_EQ(get_monster_data(victim), nullptr);
}

TEST_F(monster_life_test, a_death_by_healing_counts_as_a_target_by_version_scoring_and_flags)
{
    start({unit_marker(0, 10, 1000, 1000), unit_marker(1, 20, 2000, 1000)});
    const int32_t index = new_monster(marker(0)), healer = new_monster(marker(1));
    struct row
    {
        int32_t version;
        int16_t scoring;
        uint32_t unit_flags, healer_flags;
        bool counts;
    } rows[] = {
        {1510, 0, _monster_is_netgame_target_extra_flag, 0, true},
        {1510, 0, _monster_is_hunted_creature_extra_flag, 0, false},
        {1511, 0, _monster_is_hunted_creature_extra_flag, 0, true},
        {1511, 0, _monster_is_netgame_target_extra_flag, 0, true},
        {1511, _game_scoring_hunting, _monster_is_hunted_creature_extra_flag, 0, true},
        {1511, _game_scoring_hunting, _monster_is_hunted_creature_extra_flag, _monster_is_hunted_creature_extra_flag,
         false},
        {1510, _game_scoring_hunting, _monster_is_netgame_target_extra_flag, _monster_is_hunted_creature_extra_flag,
         true},
        {1820, 0, 0, 0, false},
    };
    for (const row &r : rows)
    {
        current_gameplay_version = r.version;
        game_->scoring = r.scoring;
        unit(index)->extra_flags = r.unit_flags;
        unit(healer)->extra_flags = r.healer_flags;
        EXPECT_EQ(healing_death_counts_as_netgame_target(index, healer), r.counts) << r.version << " " << r.scoring;
    }
}

TEST_F(monster_life_test, special_ability_modes_follow_ammunition_mana_and_reflexes)
{
    mons.number_of_attacks = 1;
    mons.maximum_mana = 100;
    mons.attacks[0].flags = _monster_attack_is_special_ability_flag;
    mons.attacks[0].maximum_range = 512;
    start({unit_marker(0, 10, 1000, 1000)});
    const int32_t index = new_monster(marker(0));
    monster_attack_definition &attack = get_monster_definition(unit(index)->type)->attacks[0];
    struct row
    {
        int32_t version;
        uint16_t flags;
        int16_t repetitions, mana_cost;
        int8_t ammunition;
        int16_t mana;
        int32_t mode;
    } rows[] = {
        {1820, 0, 1, 0, 0, 100, 1},
        {1820, _monster_attack_is_reflexive_flag, 1, 0, 0, 100, 0},
        {1820, _monster_attack_uses_carried_projectile_flag, 1, 0, 0, 100, -1},
        {1820, _monster_attack_uses_ammunition_flag, 1, 0, 0, 100, -1},
        {1820, _monster_attack_uses_ammunition_flag, 1, 0, 2, 100, 1},
        {1820, _monster_attack_uses_ammunition_flag, -1, 0, 0, 100, 1},
        {1820, _monster_attack_uses_ammunition_flag, -1, 0, 2, 100, 1}, // a special ability passes
        {1300, _monster_attack_uses_ammunition_flag, -1, 0, 0, 100, -1},
        {1820, 0, 1, 30, 0, 20, -1},
        {1820, 0, 1, 30, 0, 30, 1},
        {1820, 0, 1, -30, 0, 80, -1}, // within 30 of the maximum
        {1820, 0, 1, -30, 0, 70, 1},
        {1300, 0, 1, -30, 0, 80, 1},
    };
    for (const row &r : rows)
    {
        current_gameplay_version = r.version;
        attack.flags = (uint16_t)(r.flags | _monster_attack_is_special_ability_flag);
        attack.repetitions = r.repetitions;
        attack.mana_cost = r.mana_cost;
        unit(index)->ammunition_count = r.ammunition;
        unit(index)->mana = r.mana;
        int16_t prompt = 7;
        EXPECT_EQ(get_monster_special_ability_mode(index, &prompt), r.mode)
            << r.version << " flags " << r.flags << " cost " << r.mana_cost;
        EXPECT_EQ(prompt, r.mode == -1 ? 7 : NONE); // no attack: the prompt is left alone
    }
    attack.mana_cost = 0;
    attack.extra_flags = _monster_attack_can_be_used_against_friendlies_extra_flag;
    for (const int32_t version : {1500, 1501})
    {
        current_gameplay_version = version;
        EXPECT_TRUE(special_ability_can_be_used_against_friendlies(index)) << version;
    }
    attack.extra_flags = 0;
    EXPECT_FALSE(special_ability_can_be_used_against_friendlies(index));

    // The prompt list: the definition's, or the wielded artifact's while its
    // override attack is the ability (even when that artifact names none).
    current_gameplay_version = 1820;
    get_monster_definition(unit(index)->type)->special_ability_string_list_index = 5;
    artifact_definition wand;
    default_artifact_definition(&wand);
    wand.flags = _artifact_overrides_owner_attack_flag;
    wand.override_attack = attack;
    const struct
    {
        int16_t artifact_list; // -2: nothing wielded
        int16_t prompt;
    } prompts[] = {{-2, 5}, {9, 9}, {NONE, NONE}};
    for (const auto &p : prompts)
    {
        wand.special_ability_string_list_index = p.artifact_list;
        const bool wielded = p.artifact_list != -2;
        unit(index)->artifact_index =
            wielded ? (int16_t)new_definition(&artifact_definitions, next_name('a'), &wand) : (int16_t)NONE;
        unit(index)->carrying_object_index = wielded ? unit(index)->object_index : (int16_t)NONE;
        int16_t prompt = 7;
        EXPECT_EQ(get_monster_special_ability_mode(index, &prompt), _special_ability_needs_target);
        EXPECT_EQ(prompt, p.prompt) << p.artifact_list;
    }
    unit(index)->artifact_index = unit(index)->carrying_object_index = NONE;
}

// ---- initial artifacts and explosives ----------------------------------------------------

TEST_F(monster_life_test, initial_artifacts_are_held_after_creation_with_one_draw_per_item_and_one_per_count)
{
    mons.flags |= _monster_carries_multiple_artifacts_flag;
    mons.maximum_artifacts_carried = MAXIMUM_ARTIFACTS_PER_MONSTER;
    struct row
    {
        int32_t version;
        bool from_marker; // else promoted at a location
        int16_t lower, delta;
        bool handed_out;
    } rows[] = {
        {1820, true, 2, 0, true},  {1820, true, 2, 2, true},  {1511, true, 1, 0, true},
        {1510, true, 2, 0, false}, // a unit from a marker gets them from 1511 on
        {1820, false, 3, 0, true}, {1500, false, 1, 3, true}, // a promoted one in every version
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << r.version << (r.from_marker ? " marker" : " location") << " " << r.lower
                                        << "+" << r.delta);
        start({unit_marker(0, 10, 1000, 1000), unit_marker(0, 11, 3000, 3000)}, 0, r.version);
        artifact_definition plain;
        default_artifact_definition(&plain);
        const int16_t artifact = (int16_t)new_definition(&artifact_definitions, next_name('a'), &plain);
        const int16_t group = add_group(add_projectile(_projectile_class_item, artifact), r.lower, r.delta);
        const auto create = [&](int32_t marker_index) {
            if (r.from_marker) return new_monster(marker(marker_index));
            const world_location3d at = marker(marker_index)->location;
            return new_monster_at_location(UNIT_TAG, &at, 0, 0, 0);
        };
        // The same creation without the group gives the draws to compare with.
        set_random_seed(31);
        uint32_t before = get_vesk_random_draw_count();
        ASSERT_NE(create(0), NONE);
        const uint32_t plain_draws = get_vesk_random_draw_count() - before;
        set_random_seed(31);
        for (uint32_t i = 0; i < plain_draws; ++i) vesk_random();
        const uint16_t count_draw = vesk_random();

        get_monster_definition(mons_type())->initial_artifacts_projectile_group_type = group;
        set_random_seed(31);
        before = get_vesk_random_draw_count();
        const int32_t index = create(1);
        const uint32_t draws = get_vesk_random_draw_count() - before;
        ASSERT_NE(index, NONE);
        const int32_t held = !r.handed_out ? 0 : r.lower + ((r.delta > 0 ? (int32_t)count_draw * r.delta : 0) >> 16);
        EXPECT_EQ(unit(index)->held_object_count, held);
        // Per item the appearing draw and the projectile's own: its shape's
        // frame, phase and view (no deltas, no mirrors); one more for a count
        // with a delta.
        EXPECT_EQ(draws - plain_draws, (uint32_t)(held * (1 + 3) + (r.handed_out && r.delta > 0)));
        for (int32_t i = 0; i < held; ++i)
        {
            const object_data *item = get_object(unit(index)->held_object_indexes[i]);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->owner, _object_is_dormant_projectile);
            EXPECT_TRUE(item->flags & _object_is_invisible_flag);
        }
        stop();
    }
}

TEST_F(monster_life_test, damage_that_detonates_explosives_sets_off_the_death_group_and_kept_explosive_ammunition)
{
    mons.flags |= _monster_does_not_drop_ammo_when_dying_flag;
    struct row
    {
        uint16_t damage_flags;
        int16_t ammunition_class;
        size_t dropped;
        bool group_goes_off;
    } rows[] = {
        {0, _projectile_class_explosive_object, 0, false},
        {_damage_detonates_explosives_immediately_flag, _projectile_class_explosive_object, 3, true},
        {_damage_detonates_explosives_immediately_flag, _projectile_class_potentially_explosive_object, 3, true},
        {_damage_detonates_explosives_immediately_flag, _projectile_class_lethal_object, 0, true}, // still kept
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "flags " << r.damage_flags << " class " << r.ammunition_class);
        start({unit_marker(0, 10, 1000, 1000)});
        const int16_t ammunition = add_projectile(r.ammunition_class);
        const int16_t keg = add_projectile(_projectile_class_explosive_object);
        monster_definition *definition = get_monster_definition(mons_type());
        definition->ammunition_projectile_type = ammunition;
        definition->dying_projectile_group_type = add_group(keg, 1, 0);
        const int32_t index = new_monster(marker(0));
        ASSERT_NE(index, NONE);
        unit(index)->ammunition_count = 3;

        const damage_definition damage = {_damage_kinetic, r.damage_flags, 512, 0, 0, 0, 0, 0};
        damage_data data;
        initialize_damage_data(&data);
        data.epicenter = body(index)->location.position;
        kill_monster(index, &damage, &data, _monster_death_soft);

        EXPECT_EQ(projectiles_of_type(ammunition).size(), r.dropped);
        const std::vector<int32_t> kegs = projectiles_of_type(keg);
        ASSERT_EQ(kegs.size(), 1u);
        EXPECT_EQ((get_projectile_data(kegs[0])->flags & _projectile_detonates_immediately_flag) != 0, r.group_goes_off);
        for (const int32_t dropped : projectiles_of_type(ammunition))
            EXPECT_TRUE(get_projectile_data(dropped)->flags & _projectile_detonates_immediately_flag);
        stop();
    }
}

} // namespace

} // namespace monster_life_test_file
