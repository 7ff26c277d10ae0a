// Queries about one unit: the relevant experience, the nearest enemy, what
// the local player sees, names and spellings from the string lists, the
// artifact charges and the unit's sounds, each with the edge cases callers
// meet (free slots, missing objects, unset counts, full names).

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <string>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "monster_definitions.h"
#include "monster_queries.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "sound_procedures.h"
#include "objects.h"
#include "players.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk/string_lists.h"
#include "vesk_random.h"
#include "sound_procedures.h"

namespace monster_queries_test_file {

namespace {

constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');

std::vector<std::pair<int32_t, int16_t>> played;
void record_sound(int32_t object_index, int16_t sound_index) { played.push_back({object_index, sound_index}); }

class monster_queries_test : public unit_world_test
{
protected:
    int16_t saved_team = local_player_team_index;
    uint32_t saved_options = game_->option_flags;

    void SetUp() override
    {
        start_unit_store();
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 3);
        ASSERT_TRUE(start_units_world(&data));
        local_player_team_index = 0;
        game_->option_flags |= _game_option_limited_visibility_flag;
        ASSERT_TRUE(initialize_monster_visibility());
        ASSERT_TRUE(initialize_monster_visibility_for_new_map());
        played.clear();

        ASSERT_NO_FATAL_FAILURE(write_unit_tags({}, false));
    }
    void TearDown() override
    {
        local_player_team_index = saved_team;
        game_->option_flags = saved_options;
        dispose_monster_visibility_from_old_map();
        dispose_units_world();
        dispose_string_lists();
        clear_all_registrations();
        store_test::TearDown();
    }

    // A unit of player (and team) `team` at (x, y).
    int32_t make_unit(int16_t team, world_distance x, world_distance y)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        EXPECT_NE(unit_type, NONE);
        const int32_t object_index = new_unit_object({x, y, 0});
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const world_point2d location = {x, y};
        init_monster(monster_index, (int16_t)definition_index(), (int16_t)unit_type, object_index, team, team, 0,
                     &location, true);
        return monster_index;
    }
    int32_t definition_index(void)
    {
        return subgroup_tag_to_definition_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'));
    }
    monster_definition *definition(void) { return get_monster_definition(definition_index()); }
    monster_data *unit(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }
};

TEST_F(monster_queries_test, relevant_experience_is_one_step_per_kill_up_to_five)
{
    const int32_t u = make_unit(0, 1000, 1000);
    const struct
    {
        uint8_t experience;
        int32_t relevant;
    } rows[] = {{0, 0}, {1, 1}, {4, 4}, {5, 5}, {6, 5}, {255, 5}};
    for (const auto &row : rows)
    {
        unit(u)->experience = row.experience;
        EXPECT_EQ(get_relevant_experience(u), row.relevant) << (int)row.experience;
    }
    EXPECT_EQ(get_relevant_experience(NONE), 0);
    EXPECT_EQ(get_relevant_experience(u + 1), 0);
    EXPECT_EQ(get_relevant_experience(100000), 0);
}

TEST_F(monster_queries_test, the_nearest_enemy_skips_allies_the_departed_and_ambient_life)
{
    const int32_t u = make_unit(0, 1000, 1000);
    EXPECT_EQ(linear_distance_to_enemy(u), (world_distance)NO_ENEMY_DISTANCE);
    make_unit(0, 1100, 1000); // own team
    const int32_t near_enemy = make_unit(1, 1300, 1400); // 500 away
    make_unit(2, 7000, 1000);
    EXPECT_EQ(linear_distance_to_enemy(u), 500);

    unit(near_enemy)->flags |= _monster_has_left_the_mesh_flag;
    EXPECT_EQ(linear_distance_to_enemy(u), 6000);
    unit(near_enemy)->flags &= ~(uint32_t)_monster_has_left_the_mesh_flag;
    unit(near_enemy)->extra_flags |= _monster_is_ambient_life_extra_flag;
    EXPECT_EQ(linear_distance_to_enemy(u), 6000);
    unit(near_enemy)->extra_flags &= ~(uint32_t)_monster_is_ambient_life_extra_flag;

    // Allied towards team 1: no longer an enemy of team 0's units.
    ally_with_team(0, 1, true);
    EXPECT_EQ(linear_distance_to_enemy(u), 6000);
    ally_with_team(0, 1, false);

    // Far apart: the squares need 64 bits.
    body(near_enemy)->location.position = {1000 + 40000, 1000 + 30000, 0};
    unit(near_enemy + 1)->flags |= _monster_has_left_the_mesh_flag;
    EXPECT_EQ(linear_distance_to_enemy(u), 50000);
    // Units of no team are nobody's allies, not even of each other.
    unit(u)->owner_team_index = NONE;
    EXPECT_EQ(linear_distance_to_enemy(u), 100); // its old team mate
    EXPECT_EQ(linear_distance_to_enemy(NONE), (world_distance)NO_ENEMY_DISTANCE);
    EXPECT_EQ(linear_distance_to_enemy(400), (world_distance)NO_ENEMY_DISTANCE);
}

TEST_F(monster_queries_test, the_local_player_sees_its_own_and_allies_and_enemies_in_sight)
{
    const int32_t own = make_unit(0, 700, 700); // cell (1, 1)
    const int32_t enemy = make_unit(1, 5000, 5200); // cell (9, 10)
    EXPECT_TRUE(get_local_monster_visibility(own));
    EXPECT_FALSE(get_local_monster_visibility(enemy));

    rasterize_visibility_bitmap(_visibility_type_submerged, 9, 8, false); // reaches (9, 10)
    EXPECT_FALSE(get_local_monster_visibility(enemy)) << "seen only once the period ends";
    swap_visibility_buffers();
    EXPECT_TRUE(get_local_monster_visibility(enemy));
    body(enemy)->flags |= _object_is_invisible_flag;
    EXPECT_FALSE(get_local_monster_visibility(enemy));
    body(enemy)->flags &= ~(uint32_t)_object_is_invisible_flag;
    unit(enemy)->flags |= _monster_has_left_the_mesh_flag;
    EXPECT_FALSE(get_local_monster_visibility(enemy));
    unit(enemy)->flags &= ~(uint32_t)_monster_has_left_the_mesh_flag;

    body(enemy)->location.position = {5000, 5800, 0}; // cell (9, 11): out of reach
    EXPECT_FALSE(get_local_monster_visibility(enemy));
    // A unit that does not respect visibility is always drawn, so always seen.
    body(enemy)->flags &= ~(uint32_t)_object_respects_monster_visibility_flag;
    EXPECT_TRUE(get_local_monster_visibility(enemy));
    body(enemy)->flags |= _object_respects_monster_visibility_flag;

    ally_with_team(0, 1, true);
    EXPECT_TRUE(get_local_monster_visibility(enemy));
    ally_with_team(0, 1, false);
    game_->option_flags &= ~(uint32_t)_game_option_limited_visibility_flag;
    EXPECT_TRUE(get_local_monster_visibility(enemy));
    game_->option_flags |= _game_option_limited_visibility_flag;
    local_player_team_index = NONE;
    EXPECT_TRUE(get_local_monster_visibility(enemy));
    local_player_team_index = 0;
    EXPECT_FALSE(get_local_monster_visibility(enemy));

    EXPECT_FALSE(get_local_monster_visibility(NONE));
    EXPECT_FALSE(get_local_monster_visibility(enemy + 1));
}

TEST_F(monster_queries_test, names_come_from_the_unit_or_its_list_and_always_end)
{
    const int32_t u = make_unit(0, 1000, 1000);
    EXPECT_STREQ(get_monster_name(u), "") << "no names list";
    const int32_t names = store_string_list("name", {"Aldo", "Brin", "Cato"});
    ASSERT_NE(names, NONE);
    definition()->names_string_list_index = (int16_t)names;
    unit(u)->original_name_string_index = 2;
    EXPECT_STREQ(get_monster_name(u), "Cato");
    unit(u)->original_name_string_index = 7;
    EXPECT_STREQ(get_monster_name(u), "") << "a row past the list";

    strcpy(unit(u)->name, "Dara");
    EXPECT_STREQ(get_monster_name(u), "Dara");
    memset(unit(u)->name, 'x', sizeof(unit(u)->name));
    EXPECT_EQ(std::string(get_monster_name(u)), std::string(sizeof(unit(u)->name), 'x'));
    EXPECT_STREQ(get_monster_name(NONE), "");
    EXPECT_STREQ(get_monster_name(u + 1), "");
}

TEST_F(monster_queries_test, a_long_names_list_reaches_rows_past_127)
{
    std::vector<std::string> texts;
    std::vector<const char *> rows;
    for (int32_t i = 0; i < 200; ++i) texts.push_back("name " + std::to_string(i));
    for (const auto &text : texts) rows.push_back(text.c_str());
    const int32_t names = store_string_list("long", rows);
    ASSERT_NE(names, NONE);
    const int32_t u = make_unit(0, 1000, 1000);
    definition()->names_string_list_index = (int16_t)names;
    unit(u)->original_name_string_index = (int8_t)180;
    EXPECT_STREQ(get_monster_name(u), "name 180");
}

TEST_F(monster_queries_test, spellings_are_singular_for_one_and_plural_otherwise)
{
    make_unit(0, 1000, 1000);
    const int32_t type = definition_index();
    EXPECT_STREQ(get_monster_spelling(type, 1), "");
    const int32_t both = store_string_list("spel", {"archer", "archers"});
    definition()->spelling_string_list_index = (int16_t)both;
    const struct
    {
        int32_t count;
        const char *spelling;
    } rows[] = {{1, "archer"}, {0, "archers"}, {2, "archers"}, {126, "archers"}, {-1, "archers"}};
    for (const auto &row : rows) EXPECT_STREQ(get_monster_spelling(type, row.count), row.spelling) << row.count;
    definition()->spelling_string_list_index = (int16_t)store_string_list("sing", {"sheep"});
    EXPECT_STREQ(get_monster_spelling(type, 3), "sheep");
    EXPECT_STREQ(get_monster_spelling(NONE, 1), "");
    EXPECT_STREQ(get_monster_spelling(type + 1, 1), "");
}

TEST_F(monster_queries_test, artifact_charges_are_the_carried_objects_state_and_zero_when_unset)
{
    artifact_definition a;
    default_artifact_definition(&a);
    a.maximum_charges = 12;
    std::vector<uint8_t> bytes((uint8_t *)&a, (uint8_t *)&a + sizeof(a));
    ASSERT_TRUE(byte_swap_data("arti", bytes.data(), (int32_t)bytes.size(), 1, artifact_definition_byte_swapping_data));
    write_local_tag(ARTIFACT_DEFINITION_GROUP_TAG, "wand", ARTIFACT_DEFINITION_VERSION, bytes.data(),
                    (int32_t)bytes.size());
    const int32_t artifact = try_definition_tag_to_index(&artifact_definitions, FOUR_CHARACTER_CODE('w', 'a', 'n', 'd'), true, 0);
    ASSERT_NE(artifact, NONE);

    const int32_t u = make_unit(0, 1000, 1000);
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = NONE;
    request.scale = 256;
    request.location.position = {1000, 1000, 0};
    request.collection_index = NONE;
    const int32_t wand = new_object(&request);
    ASSERT_NE(wand, NONE);

    EXPECT_EQ(get_monster_artifact_charges(u), 0) << "carries nothing";
    EXPECT_EQ(get_monster_artifact_charges_max(u), 0);
    unit(u)->carrying_object_index = (int16_t)wand;
    get_object(wand)->state = 7;
    EXPECT_EQ(get_monster_artifact_charges(u), 0) << "carries an object that is no artifact";
    unit(u)->artifact_index = (int16_t)artifact;
    EXPECT_EQ(get_monster_artifact_charges(u), 7);
    EXPECT_EQ(get_monster_artifact_charges_max(u), 12);
    get_object(wand)->state = NONE;
    EXPECT_EQ(get_monster_artifact_charges(u), 0) << "an unset count";
    get_object(wand)->state = 0;
    EXPECT_EQ(get_monster_artifact_charges(u), 0);
    get_artifact_definition(artifact)->maximum_charges = -5;
    EXPECT_EQ(get_monster_artifact_charges_max(u), 0);
    delete_object(wand);
    EXPECT_EQ(get_monster_artifact_charges(u), 0) << "the carried object is gone";
    unit(u)->artifact_index = (int16_t)(artifact + 20);
    EXPECT_EQ(get_monster_artifact_charges_max(u), 0) << "no such definition";
    EXPECT_EQ(get_monster_artifact_charges(NONE), 0);
    EXPECT_EQ(get_monster_artifact_charges_max(NONE), 0);
}

TEST_F(monster_queries_test, sounds_play_at_the_unit_by_type_and_never_draw_the_game_seed)
{
    static const sound_procedures sound_table = {.play_object_sound = record_sound};
    ASSERT_TRUE(register_sound_procedures(&sound_table));
    const int32_t u = make_unit(0, 1000, 1000);
    monster_definition *d = definition();
    d->sound_types[3] = _monster_sound_caused_enemy_death;
    d->sound_indexes[3] = 42;
    d->sound_types[5] = _monster_sound_selection;
    d->sound_indexes[5] = NONE; // its sound did not load
    d->sound_types[9] = _monster_sound_hit_friendly_unit;
    d->sound_indexes[9] = 50;
    d->sound_types[10] = _monster_sound_hit_friendly_unit;
    d->sound_indexes[10] = 51;

    const uint32_t seed = random_seed;
    play_monster_sound(u, _monster_sound_caused_enemy_death);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0], std::make_pair((int32_t)unit(u)->object_index, (int16_t)42));
    played.clear();
    play_monster_sound(u, _monster_sound_selection);
    play_monster_sound(u, _monster_sound_hit_by_friendly_unit);
    play_monster_sound(u, NONE);
    play_monster_sound(NONE, _monster_sound_caused_enemy_death);
    EXPECT_TRUE(played.empty());

    bool heard[2] = {false, false};
    for (int32_t i = 0; i < 64; ++i)
    {
        played.clear();
        play_monster_sound(u, _monster_sound_hit_friendly_unit);
        ASSERT_EQ(played.size(), 1u);
        ASSERT_TRUE(played[0].second == 50 || played[0].second == 51);
        heard[played[0].second - 50] = true;
    }
    EXPECT_TRUE(heard[0] && heard[1]) << "each variant is picked";
    EXPECT_EQ(random_seed, seed);
}

} // namespace

} // namespace monster_queries_test_file
