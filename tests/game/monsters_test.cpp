// The unit record and the unit definitions: 'unit' tags as stored, the
// collection check, the players' copies, init_monster's fields and draws
// across the gameplay versions, deletion of free slots, the died-procedure
// table, the footprint's impassability and what the state hash covers.

#include "support/hashed_bytes.h"
#include "support/unit_world_test.h"

#include "support/expected_assertions.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "statistics.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "unit_facts.h"
#include "vesk_random.h"

namespace monsters_test_file {

namespace {

constexpr tag COLLECTION_A = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
constexpr tag COLLECTION_B = FOUR_CHARACTER_CODE('c', 'o', 'l', 'b');
constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
constexpr tag BAD_UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '2');

std::vector<std::pair<int32_t, uint32_t>> died_calls;
void record_died(int32_t monster_index, uint32_t flags) { died_calls.push_back({monster_index, flags}); }

class monsters_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 3);
        const int16_t teams[3] = {0, 0, 1};
        for (int16_t i = 0; i < 3; ++i)
        {
            data.players[i].team_index = teams[i];
            data.players[i].unique_identifier = 10 + i;
            data.players[i].team_captain_identifier = 10;
        }
        data.players[2].team_captain_identifier = 12;
        data.players[0].flags |= _player_uses_appearance_colors_flag;
        ASSERT_TRUE(start_units_world(&data));
        reset_monster_died_procs();
        died_calls.clear();

        ASSERT_NO_FATAL_FAILURE(write_collection_reference("refa", COLLECTION_A));
        store_monster("mons", COLLECTION_A);
        store_monster("mbad", COLLECTION_B);
        store_unit("wa01", "mons", "refa");
        store_unit("wa02", "mbad", "refa");
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        game_->scoring = 0;
        reset_monster_died_procs();
        dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    monster_definition base_monster(tag collection)
    {
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = collection;
        m.base_movement_speed = 300;
        m.maximum_mana = 0x0500;
        m.terrain_impassability_flags = 0x0002;
        m.maximum_artifacts_carried = 3;
        m.next_name_string_index = 12;
        return m;
    }

    void store_monster(const char *name, tag collection)
    {
        monster_definition m = base_monster(collection);
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data(name, bytes.data(), (int32_t)bytes.size(), 1, monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, name, MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
    }

    // Written byte by byte as a tool stores it; the run-time tail holds junk
    // that the loader must not keep.
    void store_unit(const char *name, const char *monster, const char *reference)
    {
        uint8_t bytes[128];
        memset(bytes, 0, sizeof(bytes));
        memcpy(bytes, monster, 4);
        memcpy(bytes + 4, reference, 4);
        memset(bytes + 118, 0x55, 10);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, name, UNIT_DEFINITION_VERSION, bytes, sizeof(bytes));
    }

    int32_t monster_type(void) { return subgroup_tag_to_definition_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's')); }

    // A unit of 'wa01' for player 1 (team 0) on a bare object at (x, y).
    int32_t make_unit(world_distance x = 2000, world_distance y = 2000, uint32_t palette_flags = 0)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        EXPECT_NE(unit_type, NONE);
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {x, y, 40};
        request.collection_index = NONE;
        request.color_table_index = 2;
        const int32_t object_index = new_object(&request);
        EXPECT_NE(object_index, NONE);
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        const world_point2d location = {x, y};
        init_monster(monster_index, (int16_t)monster_type(), (int16_t)unit_type, object_index, 1, 0, palette_flags,
                     &location, true);
        return monster_index;
    }
};

TEST_F(monsters_test, a_stored_unit_tag_loads_with_every_field_and_a_mismatched_collection_is_refused)
{
    const int32_t index = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
    ASSERT_NE(index, NONE);
    const unit_definition *unit = get_unit_definition(index);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->monster_tag, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'));
    EXPECT_EQ(unit->collection_reference_tag, FOUR_CHARACTER_CODE('r', 'e', 'f', 'a'));
    EXPECT_EQ(unit->player_index, NONE);
    EXPECT_EQ(unit->parent_unit_tag, UNIT_TAG);
    EXPECT_EQ(unit->monster_type, monster_type());
    EXPECT_NE(unit->monster_type, NONE);
    EXPECT_EQ(unit->collection_reference_index,
              subgroup_tag_to_definition_index(&collection_references, FOUR_CHARACTER_CODE('r', 'e', 'f', 'a')));
    EXPECT_EQ(get_unit_collection_reference_index(index, 2), unit->collection_reference_index);
    for (int i = 0; i < 110; ++i) ASSERT_EQ(unit->unused[i], 0) << i;
    // The monster came through its swap: fields as the tool wrote them.
    const monster_definition *monster = get_monster_definition(unit->monster_type);
    ASSERT_NE(monster, nullptr);
    EXPECT_EQ(monster->base_movement_speed, 300);
    EXPECT_EQ(monster->collection_tag, COLLECTION_A);

    clear_pending_error();
    EXPECT_EQ(try_definition_tag_to_index(&unit_definitions, BAD_UNIT_TAG, true, _definition_lookup_quiet_flag), NONE);
    EXPECT_EQ(pending_error_code(), 12);
    EXPECT_NE(log_text().find("wa02 unit definition has mismatched collection reference (cola) and monster (colb)."),
              std::string::npos);
    clear_pending_error();
}

TEST_F(monsters_test, players_copies_are_made_once_found_by_player_and_removed_with_their_colours)
{
    const int32_t shared = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
    const int32_t references = collection_references.count;
    const int32_t first = customize_unit_definition_for_player(UNIT_TAG, 0);
    ASSERT_NE(first, NONE);
    EXPECT_NE(first, shared);
    EXPECT_EQ(customize_unit_definition_for_player(UNIT_TAG, 0), first);
    EXPECT_EQ(collection_references.count, references + 1);
    const unit_definition *copy = get_unit_definition(first);
    EXPECT_EQ(copy->player_index, 0);
    EXPECT_EQ(copy->parent_unit_tag, UNIT_TAG);
    EXPECT_NE(copy->collection_reference_index, get_unit_definition(shared)->collection_reference_index);
    // Without appearance colours the player still gets its own definition.
    const int32_t second = customize_unit_definition_for_player(UNIT_TAG, 1);
    ASSERT_NE(second, NONE);
    EXPECT_NE(second, first);
    EXPECT_EQ(find_unit_definition_for_player(1, UNIT_TAG), second);
    EXPECT_EQ(find_unit_definition_for_player(2, UNIT_TAG), NONE);

    delete_custom_unit_definitions_for_player(0);
    EXPECT_EQ(find_unit_definition_for_player(0, UNIT_TAG), NONE);
    EXPECT_EQ(get_definition_subgroup(&unit_definitions, first), NONE); // a hole below the last
    EXPECT_EQ(find_unit_definition_for_player(1, UNIT_TAG), second);
    EXPECT_EQ(get_collection_reference(get_unit_definition(shared)->collection_reference_index)->collection_tag,
              COLLECTION_A);

    {
        expected_assertions expect(1, "player_index != NONE");
        delete_custom_unit_definitions_for_player(NONE);
    }
}

TEST_F(monsters_test, a_copy_that_finds_no_room_gives_back_its_colour_reference)
{
    const int32_t shared = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
    const unit_definition filler = *get_unit_definition(shared);
    while (new_definition(&unit_definitions, FOUR_CHARACTER_CODE('f', 'i', 'l', 'l'), &filler) != NONE) {}
    clear_pending_error();
    const int32_t references = collection_references.count;
    EXPECT_EQ(customize_unit_definition_for_player(UNIT_TAG, 0), NONE);
    clear_pending_error();
    int32_t used = 0;
    for (int32_t i = 0; i < collection_references.count; ++i)
        if (get_definition_subgroup(&collection_references, i) != NONE) ++used;
    EXPECT_EQ(used, references);
}

TEST_F(monsters_test, init_monster_fields_and_draws_by_version)
{
    struct expected
    {
        int32_t version;
        uint32_t extra_flags;
        bool hunted_ignores_commands;
    };
    const expected cases[] = {
        {1300, _monster_is_hunted_creature_extra_flag, false},
        {1301, _monster_inside_object_allowed_extra_flag | _monster_is_hunted_creature_extra_flag, false},
        {1721, _monster_inside_object_allowed_extra_flag | _monster_is_hunted_creature_extra_flag, true},
        {1811, _monster_inside_object_allowed_extra_flag | _monster_is_hunted_creature_extra_flag, true},
    };
    game_->scoring = _game_scoring_hunting;
    for (const expected &c : cases)
    {
        SCOPED_TRACE(c.version);
        current_gameplay_version = c.version;
        monster_definition *definition = get_monster_definition(try_definition_tag_to_index(
            &monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'), true, 0));
        ASSERT_NE(definition, nullptr);
        definition->next_name_string_index = 12;
        set_random_seed(77);
        reset_random_draw_counts();
        const int32_t index = make_unit(2000, 2000, _marker_palette_hunted_creature_flag);
        // Speed spread (300: d = 8), the idle animation rate and left-handedness;
        // no ammunition, a seeded counter, no idle sequence to draw a frame of.
        EXPECT_EQ(get_vesk_random_draw_count(), 3u);
        const monster_data *m = get_monster_data(index);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->extra_flags, c.extra_flags);
        EXPECT_EQ((m->flags & _monster_ignores_user_commands_flag) != 0, c.hunted_ignores_commands);
        EXPECT_EQ(m->original_name_string_index, 12);
        EXPECT_EQ(definition->next_name_string_index, 13);
        EXPECT_GE(m->base_movement_speed, 292);
        EXPECT_LT(m->base_movement_speed, 308);
        EXPECT_EQ(m->orig_base_movement_speed, m->base_movement_speed);
        EXPECT_EQ(m->action, _monster_action_idle);
        EXPECT_EQ(m->display_dirty_flags, 0xFF);
        EXPECT_EQ(m->mana, 0x0500);
        EXPECT_EQ(m->path_index, NONE);
        EXPECT_EQ(m->target_monster_index, NONE);
        EXPECT_EQ(m->orig_color_table_index, 2);
        EXPECT_EQ(m->owner_player_index, 1);
        EXPECT_EQ(m->height_over_mesh, 40);
        EXPECT_EQ(m->maximum_artifacts_carried, 3);
        for (int16_t held : m->held_object_indexes) EXPECT_EQ(held, NONE);
        const object_data *object = get_object(m->object_index);
        EXPECT_TRUE(object->flags & _object_is_solid_flag);
        EXPECT_TRUE(object->flags & FLAG(_object_must_be_included_in_explosions_bit));
        EXPECT_TRUE(object->flags & FLAG(_object_respects_monster_visibility_bit));
        delete_monster(index, false);
    }
}

TEST_F(monsters_test, every_conditional_draw_is_taken_only_when_its_term_exists)
{
    monster_definition *definition = get_monster_definition(
        try_definition_tag_to_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'), true, 0));
    ASSERT_NE(definition, nullptr);
    // Every term: ammunition delta, speed spread, an unseeded counter (and
    // the idle rate and left-handedness, always).
    definition->initial_ammunition_lower_bound = 5;
    definition->initial_ammunition_delta = 4;
    definition->next_name_string_index = NONE;
    definition->left_handed_fraction = 0xFFFF;
    reset_random_draw_counts();
    const int32_t all = make_unit();
    EXPECT_EQ(get_vesk_random_draw_count(), 5u);
    EXPECT_GE(get_monster_data(all)->ammunition_count, 5);
    EXPECT_LT(get_monster_data(all)->ammunition_count, 9);
    EXPECT_GE(definition->next_name_string_index, 1);
    EXPECT_EQ(get_monster_data(all)->original_name_string_index, (definition->next_name_string_index - 1) & 127);
    EXPECT_TRUE(get_object(get_monster_data(all)->object_index)->flags & _object_is_horizontally_mirrored_flag);

    // None: speed 36 has no spread; the idle rate and left-handedness are
    // always drawn.
    definition->initial_ammunition_delta = 0;
    definition->base_movement_speed = 36;
    definition->left_handed_fraction = 0;
    definition->maximum_artifacts_carried = 40; // past the nine held slots
    reset_random_draw_counts();
    const int32_t none = make_unit();
    EXPECT_EQ(get_vesk_random_draw_count(), 2u);
    EXPECT_EQ(get_monster_data(none)->base_movement_speed, 36);
    EXPECT_EQ(get_monster_data(none)->ammunition_count, 5);
    EXPECT_EQ(get_monster_data(none)->maximum_artifacts_carried, MAXIMUM_HELD_OBJECTS_PER_MONSTER);
    EXPECT_FALSE(get_object(get_monster_data(none)->object_index)->flags & _object_is_horizontally_mirrored_flag);

    const int32_t uncontrollable = make_unit(2000, 2000, _marker_palette_uncontrollable_flag | _marker_palette_ambient_life_flag);
    EXPECT_TRUE(get_monster_data(uncontrollable)->flags & _monster_ignores_user_commands_flag);
    EXPECT_TRUE(get_monster_data(uncontrollable)->extra_flags & _monster_has_no_visibility_extra_flag);
    EXPECT_TRUE(get_monster_data(uncontrollable)->extra_flags & _monster_is_ambient_life_extra_flag);
}

TEST_F(monsters_test, deleting_a_free_slot_touches_no_other_object)
{
    ASSERT_TRUE(register_monster_died_procedure(record_died));
    for (int32_t version : {1810, 1811})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        died_calls.clear();
        const int32_t index = make_unit();
        const int16_t stale_object = get_monster_data(index)->object_index;
        delete_monster(index, true);
        ASSERT_EQ(died_calls.size(), 1u);
        EXPECT_EQ(died_calls[0].second, (uint32_t)(_monster_died_clear_presets_flag | _monster_died_show_censored_death_flag));
        EXPECT_EQ(get_object(stale_object), nullptr);
        // Another object now takes the stale index.
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.location.position = {3000, 3000, 0};
        request.collection_index = NONE;
        ASSERT_EQ(new_object(&request), stale_object);
        died_calls.clear();
        delete_monster(index, false);
        EXPECT_EQ(died_calls.size(), version >= 1811 ? 0u : 1u);
        EXPECT_NE(get_object(stale_object), nullptr);
        EXPECT_EQ(get_monster_data(index), nullptr);
        delete_object(stale_object);
    }
}

// Every byte of the unit record is hashed but those of the fields listed as
// left out, which change nothing.
TEST_F(monsters_test, the_state_hash_covers_every_byte_but_the_fields_listed_as_left_out)
{
    const int32_t index = make_unit();
    std::vector<record_field> left_out;
#define LEFT_OUT(field) left_out.push_back({#field, offsetof(monster_data, field), sizeof(monster_data{}.field)});
    MONSTER_UNHASHED_FIELDS(LEFT_OUT)
#undef LEFT_OUT
    const std::string misses = bytes_the_hash_description_misses(
        (uint8_t *)get_monster_data(index), sizeof(monster_data), left_out, [] {
            uint32_t h = 0;
            hash_monsters(&h);
            return h;
        });
    EXPECT_EQ(misses, "");
}

TEST_F(monsters_test, unit_facts_and_palette_entries_come_from_the_record)
{
    register_monster_hooks();
    const int32_t index = make_unit(2100, 2300);
    unit_facts facts;
    ASSERT_TRUE(get_unit_facts(index, &facts));
    EXPECT_EQ(facts.team_index, 0);
    EXPECT_EQ(facts.player_index, 1);
    EXPECT_EQ(facts.object_index, get_monster_data(index)->object_index);
    EXPECT_EQ(facts.position.x, 2100);
    EXPECT_EQ(facts.position.y, 2300);
    EXPECT_FALSE(get_unit_facts(index + 1, &facts));
    const int32_t far_unit = make_unit(6000, 2300);
    get_monster_data(far_unit)->owner_team_index = 1;
    const world_point2d near = {2100, 2800};
    EXPECT_EQ(teams_with_units_near_point(&near, 500), 1u);
    EXPECT_EQ(teams_with_units_near_point(&near, 499), 0u);
    EXPECT_EQ(teams_with_units_near_point(&near, 4000), 3u);

    marker_palette_entry team_entry = {};
    team_entry.team_index = 0;
    team_entry.tag = UNIT_TAG;
    team_entry.tag_index = NONE;
    new_monster_palette_entry(&team_entry);
    EXPECT_EQ(team_entry.player_index, 0); // the captain
    EXPECT_EQ(team_entry.tag_index, find_unit_definition_for_player(0, UNIT_TAG));
    EXPECT_NE(find_unit_definition_for_player(1, UNIT_TAG), NONE); // every player of the team

    marker_palette_entry ambient = {};
    ambient.team_index = 1;
    ambient.tag = UNIT_TAG;
    ambient.flags = _marker_palette_ambient_life_flag;
    new_monster_palette_entry(&ambient);
    EXPECT_EQ(ambient.player_index, 0);
    EXPECT_EQ(ambient.team_index, 0);
}

TEST_F(monsters_test, the_footprint_bars_impassable_triangles_and_the_mesh_edge)
{
    const world_point2d inside = {5 * WORLD_ONE + 100, 5 * WORLD_ONE + 100};
    EXPECT_EQ(build_cell_impassability_flags(0, &inside), 0);
    EXPECT_EQ(build_cell_impassability_flags(0x0001, &inside), 0xF3); // terrain 0 everywhere
    const world_point2d corner = {10, 10};
    EXPECT_EQ(build_cell_impassability_flags(0, &corner), 0x30); // lower y and lower x lie off the mesh
    const world_point2d far_corner = {16 * WORLD_ONE - 1, 16 * WORLD_ONE - 1};
    EXPECT_EQ(build_cell_impassability_flags(0, &far_corner), 0xC0);
}

} // namespace

} // namespace monsters_test_file
