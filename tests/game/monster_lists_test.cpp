// Unit lists: identifiers and indexes both ways, the filters that compact a
// list in place, the centre of a list, evaluate_monster and the marker of a
// unit under both gameplay-version rules.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>

#include "game_time.h"
#include "markers.h"
#include "mesh_format.h"
#include "gameplay_versions.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"

namespace monster_lists_test_file {

namespace {

class monster_lists_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;
    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(start_units_world_for_teams({0, 1, 2}));
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        dispose_units_world();
        store_test::TearDown();
    }
    // A bare record with an object: enough for the lists.
    int16_t make_unit(int8_t player, int8_t team, world_distance x, world_distance y)
    {
        const int32_t object_index = new_unit_object({x, y, 0});
        const int32_t index = new_datum(get_monster_array());
        monster_data *monster = get_monster_data(index);
        monster->object_index = (int16_t)object_index;
        monster->owner_player_index = player;
        monster->owner_team_index = team;
        monster->marker_index = NONE;
        return (int16_t)index;
    }
    int16_t unit_identifier(int16_t index) { return get_monster_data(index)->identifier; }
};

} // namespace

TEST_F(monster_lists_test, identifiers_and_indexes_convert_both_ways_dropping_the_dead)
{
    const int16_t a = make_unit(0, 0, 100, 100), b = make_unit(0, 0, 200, 100), c = make_unit(0, 0, 300, 100);
    int16_t identifiers[4];
    const int16_t indexes[4] = {c, a, b, (int16_t)399};
    monster_indexes_to_monster_identifiers(indexes, identifiers, 4);
    EXPECT_EQ(identifiers[3], 0);
    delete_datum(get_monster_array(), b);
    int16_t back[4] = {-9, -9, -9, -9};
    EXPECT_EQ(monster_identifiers_to_monster_indexes(identifiers, back, 4), 2);
    EXPECT_EQ(back[0], c);
    EXPECT_EQ(back[1], a);
    EXPECT_EQ(monster_identifiers_to_monster_indexes(identifiers, back, -3), 0);
}

TEST_F(monster_lists_test, a_long_identifier_list_resolves_as_each_identifier_alone)
{
    // Long lists are resolved in one pass over the array: the same indexes,
    // in the same order, as naming the identifiers one at a time, with a
    // shared identifier giving its lowest index.
    int16_t units[12];
    for (int32_t i = 0; i < 12; ++i) units[i] = make_unit(0, 0, 100 * i, 100);
    set_datum_identifier(get_monster_array(), units[9], unit_identifier(units[4]));
    delete_datum(get_monster_array(), units[7]);
    const int16_t dead = unit_identifier(units[11]);
    delete_datum(get_monster_array(), units[11]);
    const int16_t lists[][10] = {
        {unit_identifier(units[3]), unit_identifier(units[0]), unit_identifier(units[3]), 0, NONE, dead,
         unit_identifier(units[9]), unit_identifier(units[5]), 31000, unit_identifier(units[1])},
        {unit_identifier(units[10]), unit_identifier(units[8]), unit_identifier(units[6]), unit_identifier(units[2]),
         unit_identifier(units[1]), unit_identifier(units[0]), unit_identifier(units[10]), unit_identifier(units[4]),
         unit_identifier(units[5]), unit_identifier(units[3])},
    };
    for (const auto &list : lists)
    {
        int16_t one_by_one[10], at_once[10];
        int32_t expected = 0;
        for (int16_t identifier : list)
            expected += monster_identifiers_to_monster_indexes(&identifier, &one_by_one[expected], 1);
        ASSERT_EQ(monster_identifiers_to_monster_indexes(list, at_once, 10), expected);
        for (int32_t i = 0; i < expected; ++i) EXPECT_EQ(at_once[i], one_by_one[i]) << "entry " << i;
    }
}

TEST_F(monster_lists_test, each_filter_compacts_in_place_keeping_order_and_dropping_free_slots)
{
    const int16_t a = make_unit(0, 0, 0, 0), b = make_unit(0, 0, 0, 0), c = make_unit(0, 0, 0, 0),
                  d = make_unit(0, 0, 0, 0);
    get_monster_data(b)->flags |= _monster_has_received_user_command_flag;
    get_monster_data(c)->flags |= _monster_has_left_the_mesh_flag;
    get_monster_data(d)->action = _monster_action_stoned;
    const struct
    {
        int32_t (*filter)(int16_t *, int32_t);
        std::vector<int16_t> kept;
    } rows[] = {
        {remove_monster_indexes_under_user_control, {a, c, d}},
        {remove_monsters_that_have_left_the_mesh, {a, b, d}},
        {remove_incapacitated_monster_indexes, {a, b, c}},
    };
    for (const auto &row : rows)
    {
        int16_t list[6] = {a, NONE, b, c, (int16_t)350, d};
        const int32_t count = row.filter(list, 6);
        EXPECT_EQ(std::vector<int16_t>(list, list + count), row.kept);
        EXPECT_EQ(row.filter(nullptr, 3), 0);
    }
}

TEST_F(monster_lists_test, the_centre_is_the_mean_and_its_radius_the_farthest_unit)
{
    world_point2d centre = {5, 5};
    EXPECT_EQ(get_centerpoint_of_monster_indexes(0, nullptr, &centre), 0);
    EXPECT_EQ(centre.x, -1);
    EXPECT_EQ(centre.y, -1);
    const int16_t free_only[] = {(int16_t)390};
    EXPECT_EQ(get_centerpoint_of_monster_indexes(1, free_only, &centre), 0);
    EXPECT_EQ(centre.x, -1);

    const int16_t units[] = {make_unit(0, 0, 1000, 1000), make_unit(0, 0, 3000, 1000), make_unit(0, 0, 2001, 4000)};
    EXPECT_EQ(get_centerpoint_of_monster_indexes(3, units, &centre), 2000);
    EXPECT_EQ(centre.x, 2000); // 6001 / 3, truncated
    EXPECT_EQ(centre.y, 2000);
}

TEST_F(monster_lists_test, evaluate_monster_gives_commandable_friendly_and_owned_and_nothing_in_a_replay)
{
    ally_with_team(0, 2, true);
    const int16_t own = make_unit(0, 0, 0, 0), enemy = make_unit(1, 1, 0, 0), ally = make_unit(2, 2, 0, 0),
                  stubborn = make_unit(0, 0, 0, 0);
    get_monster_data(stubborn)->flags |= _monster_ignores_user_commands_flag;
    EXPECT_EQ(evaluate_monster(own), 7u);
    EXPECT_EQ(evaluate_monster(enemy), 0u);
    EXPECT_EQ(evaluate_monster(ally), (uint32_t)_monster_is_friendly_evaluation_flag);
    EXPECT_EQ(evaluate_monster(stubborn), 6u);
    EXPECT_EQ(evaluate_monster_for_player(enemy, 1), 7u);
    EXPECT_EQ(evaluate_monster_for_player(own, 5), 0u);
    EXPECT_EQ(evaluate_monster(NONE), 0u);
    game_->type = _game_type_replay;
    EXPECT_EQ(evaluate_monster(own), 0u);
    game_->type = _game_type_local;
}

TEST_F(monster_lists_test, a_units_marker_is_found_by_identifier_before_1711_and_by_index_from_it)
{
    // The same world with two unit markers, identifiers 10 and 20.
    dispose_units_world();
    objects_world_map map;
    map.width = map.height = 16;
    mesh_marker_palette_entry entry;
    memset(&entry, 0, sizeof(entry));
    entry.type = _marker_monster;
    entry.team_index = 0;
    entry.tag = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
    entry.player_index = NONE;
    map.palette.push_back(entry);
    for (int16_t identifier : {10, 20})
    {
        mesh_marker marker;
        memset(&marker, 0, sizeof(marker));
        marker.type = _marker_monster;
        marker.palette_index = 0;
        marker.identifier = identifier;
        marker.position = {1000, identifier * 100, 0};
        marker.player_index = NONE;
        map.markers.push_back(marker);
    }
    ASSERT_TRUE(load_objects_world(map));
    initialize_monsters_for_new_map();

    const int16_t u = make_unit(0, 0, 0, 0);
    set_datum_identifier(get_monster_array(), u, 20);
    get_monster_data(u)->marker_index = 0;
    current_gameplay_version = 1710;
    ASSERT_NE(get_monster_marker(get_monster_data(u)), nullptr);
    EXPECT_EQ(get_monster_marker(get_monster_data(u))->identifier, 20);
    current_gameplay_version = 1711;
    ASSERT_NE(get_monster_marker(get_monster_data(u)), nullptr);
    EXPECT_EQ(get_monster_marker(get_monster_data(u))->identifier, 10);
    get_monster_data(u)->marker_index = NONE;
    EXPECT_EQ(get_monster_marker(get_monster_data(u)), nullptr);
    EXPECT_EQ(get_monster_marker(nullptr), nullptr);
}

} // namespace monster_lists_test_file
