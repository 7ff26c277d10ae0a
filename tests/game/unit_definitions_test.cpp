// The unit and projectile definition records as the loader takes them: short
// tags read through the registry get the group's defaults for their tail, and
// the checks repair or refuse counts, indexes and flags outside their tables
// before anything indexes a table with them; the 'mons' row refuses a power or
// an initial-artifacts group it cannot use and reads version 1 tags as before.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "local_projectile_groups.h"
#include "monster_definitions.h"
#include "projectile_definitions.h"
#include "support/unit_world_test.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

namespace unit_definitions_test_file {

namespace {

template <typename T> T defaults(void (*fill)(void *))
{
    T record;
    fill(&record);
    return record;
}

TEST(definition_records, swap_descriptions_walk_exactly_their_records)
{
    const struct
    {
        const byte_swap_code *codes;
        size_t size;
    } records[] = {
        {unit_definition_byte_swapping_data, sizeof(unit_definition)},
        {monster_definition_byte_swapping_data, sizeof(monster_definition)},
        {artifact_definition_byte_swapping_data, sizeof(artifact_definition)},
        {projectile_definition_byte_swapping_data, sizeof(projectile_definition)},
        {projectile_group_definition_byte_swapping_data, sizeof(projectile_group_definition)},
        {local_projectile_group_definition_byte_swapping_data, sizeof(local_projectile_group_definition)},
        {damage_definition_byte_swapping_data, sizeof(damage_definition)},
    };
    for (const auto &r : records) EXPECT_EQ(byte_swap_description_size(r.codes), (int32_t)r.size);
}

// The damage inside a projectile is swapped as its own eight 16-bit fields.
TEST(definition_records, damage_fields_are_big_endian_words_in_their_order)
{
    damage_definition damage = {5, 0x0004, 300, 20, 512, 64, 16, -3};
    uint8_t bytes[sizeof(damage)];
    memcpy(bytes, &damage, sizeof(damage));
    ASSERT_TRUE(byte_swap_data("damage", bytes, sizeof(bytes), 1, damage_definition_byte_swapping_data));
    const uint8_t golden[] = {0, 5, 0, 4, 1, 44, 0, 20, 2, 0, 0, 64, 0, 16, 0xFF, 0xFD};
    EXPECT_EQ(memcmp(bytes, golden, sizeof(golden)), 0);
}

TEST(definition_records, monster_counts_indexes_and_flags_are_brought_into_their_tables)
{
    monster_definition m = defaults<monster_definition>(default_monster_definition);
    m.flags = 0xFFFFFFFF;
    m.hack_flags = 0x80000001;
    m.number_of_attacks = 5;
    m.maximum_artifacts_carried = 12; // a unit holds nine
    m.initial_ammunition_delta = -4;
    m.sequence_indexes[3] = -7;
    m.sequence_indexes[4] = 250; // whether the collection has it is the loader's question
    m.sound_types[2] = 16;
    m.attacks[1].extra_flags = 0x1FF;
    m.attacks[2].sequences[1].sequence_index = -2;
    m.attacks[2].sequences[1].flags = 0x0C;
    m.attacks[3].recovery_time = -1;
    m.collection_index = 7; // stored run-time bytes
    m.attacks[0].projectile_type = 3;
    ASSERT_TRUE(validate_monster_definition(&m, "test"));
    EXPECT_EQ(m.flags, (uint32_t)MONSTER_DEFINITION_FLAGS_MASK);
    EXPECT_TRUE(m.flags & _monster_invisible_on_overhead_map_flag);
    EXPECT_TRUE(m.flags & _monster_targetable_if_ambient_flag);
    EXPECT_EQ(m.hack_flags, (uint32_t)_monster_hack_unit_can_charge_flag);
    EXPECT_EQ(m.number_of_attacks, MAXIMUM_ATTACKS_PER_MONSTER);
    EXPECT_EQ(m.maximum_artifacts_carried, MAXIMUM_ARTIFACTS_PER_MONSTER);
    EXPECT_EQ(m.initial_ammunition_delta, 0);
    EXPECT_EQ(m.sequence_indexes[3], NONE);
    EXPECT_EQ(m.sequence_indexes[4], 250);
    EXPECT_EQ(m.sound_types[2], NONE);
    EXPECT_EQ(m.attacks[1].extra_flags, 0xFF);
    EXPECT_EQ(m.attacks[2].sequences[1].sequence_index, NONE);
    EXPECT_EQ(m.attacks[2].sequences[1].flags, _sequence_elevated_flag);
    EXPECT_EQ(m.attacks[3].recovery_time, 0);
    EXPECT_EQ(m.collection_index, NONE);
    EXPECT_EQ(m.attacks[0].projectile_type, NONE);

    m.number_of_attacks = -1;
    m.maximum_artifacts_carried = -1;
    ASSERT_TRUE(validate_monster_definition(&m, "test"));
    EXPECT_EQ(m.number_of_attacks, 0);
    EXPECT_EQ(m.maximum_artifacts_carried, 0);

    // Nothing safe stands in for these.
    for (int16_t monster_class : {(int16_t)-1, (int16_t)NUMBER_OF_MONSTER_CLASSES})
    {
        monster_definition bad = defaults<monster_definition>(default_monster_definition);
        bad.monster_class = monster_class;
        EXPECT_FALSE(validate_monster_definition(&bad, "test")) << monster_class;
    }
    monster_definition slow = defaults<monster_definition>(default_monster_definition);
    slow.base_movement_speed = -1;
    EXPECT_FALSE(validate_monster_definition(&slow, "test"));
}

TEST(definition_records, artifacts_that_override_their_owner_must_name_a_unit)
{
    artifact_definition a = defaults<artifact_definition>(default_artifact_definition);
    a.flags = _artifact_overrides_owner_monster_flag | 0x80000000u;
    EXPECT_FALSE(validate_artifact_definition(&a, "test"));
    a.override_tag = 0;
    EXPECT_FALSE(validate_artifact_definition(&a, "test"));
    a.override_tag = FOUR_CHARACTER_CODE('w', 'a', '0', '2');
    a.initial_charges_delta = -3;
    a.override_attack.sequences[0].sequence_index = -9;
    a.monster_override_type = 4;
    ASSERT_TRUE(validate_artifact_definition(&a, "test"));
    EXPECT_EQ(a.flags, (uint32_t)_artifact_overrides_owner_monster_flag);
    EXPECT_EQ(a.initial_charges_delta, 0);
    EXPECT_EQ(a.override_attack.sequences[0].sequence_index, NONE);
    EXPECT_EQ(a.monster_override_type, NONE);
}

TEST(definition_records, projectiles_refuse_unknown_damage_and_repair_the_rest)
{
    for (int16_t type : {(int16_t)-2, (int16_t)NUMBER_OF_DAMAGE_TYPES})
    {
        projectile_definition p = defaults<projectile_definition>(default_projectile_definition);
        p.damage.type = type;
        EXPECT_FALSE(validate_projectile_definition(&p, "test")) << type;
    }
    projectile_definition p = defaults<projectile_definition>(default_projectile_definition);
    p.damage.type = _damage_fire;
    p.damage.flags = 0xFFFF;
    p.damage.radius_delta = -5;
    p.projectile_class = NUMBER_OF_PROJECTILE_CLASSES;
    p.sequence_indexes[2] = -3;
    p.lifespan_delta = -1;
    p.object_type = 12;
    p.sound_indexes[1] = 3;
    ASSERT_TRUE(validate_projectile_definition(&p, "test"));
    EXPECT_EQ(p.damage.flags, DAMAGE_DEFINITION_FLAGS_MASK);
    EXPECT_EQ(p.damage.radius_delta, 0);
    EXPECT_EQ(p.projectile_class, NONE);
    EXPECT_EQ(p.sequence_indexes[2], NONE);
    EXPECT_EQ(p.lifespan_delta, 0);
    EXPECT_EQ(p.object_type, NONE);
    EXPECT_EQ(p.sound_indexes[1], NONE);
    // Every definition flag is a defined bit: none is cleared.
    p.flags = 0xFFFFFFFF;
    ASSERT_TRUE(validate_projectile_definition(&p, "test"));
    EXPECT_EQ(p.flags, 0xFFFFFFFFu);
}

TEST(definition_records, projectile_groups_keep_their_parts_inside_the_table)
{
    projectile_group_definition g = defaults<projectile_group_definition>(default_projectile_group_definition);
    g.number_of_parts = MAXIMUM_PARTS_PER_PROJECTILE_GROUP + 1;
    g.mesh_effect_type = 3;
    g.flags = 1;
    g.parts[0].flags = 0x7;
    g.parts[6].count_delta = -2;
    g.parts[1].projectile_type = 9;
    g.sound_index = 2;
    ASSERT_TRUE(validate_projectile_group_definition(&g, "test"));
    EXPECT_EQ(g.number_of_parts, MAXIMUM_PARTS_PER_PROJECTILE_GROUP);
    EXPECT_EQ(g.mesh_effect_type, NONE);
    EXPECT_EQ(g.flags, 0u);
    EXPECT_EQ(g.parts[0].flags, (uint32_t)(_projectile_group_part_is_central_flag | _projectile_group_part_on_ground_flag));
    EXPECT_EQ(g.parts[6].count_delta, 0);
    EXPECT_EQ(g.parts[1].projectile_type, NONE);
    EXPECT_EQ(g.sound_index, NONE);
    g.number_of_parts = -4;
    ASSERT_TRUE(validate_projectile_group_definition(&g, "test"));
    EXPECT_EQ(g.number_of_parts, 0);
}

TEST(definition_records, local_projectile_groups_and_units)
{
    local_projectile_group_definition l =
        defaults<local_projectile_group_definition>(default_local_projectile_group_definition);
    l.maximum_projectiles = 500;
    l.flags = 0xFFFFFFFF;
    l.duration = -1;
    ASSERT_TRUE(validate_local_projectile_group_definition(&l, "test"));
    EXPECT_EQ(l.maximum_projectiles, MAXIMUM_LOCAL_PROJECTILES_PER_GROUP);
    EXPECT_EQ(l.flags, (uint32_t)LOCAL_PROJECTILE_GROUP_FLAGS_MASK);
    EXPECT_EQ(l.duration, 0);
    l.sequence_index = 2; // a sequence of no collection cannot be drawn
    EXPECT_FALSE(validate_local_projectile_group_definition(&l, "test"));

    unit_definition u = defaults<unit_definition>(default_unit_definition);
    EXPECT_FALSE(validate_unit_definition(&u, "test"));
    u.monster_tag = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
    u.collection_reference_tag = 0;
    EXPECT_FALSE(validate_unit_definition(&u, "test"));
    u.collection_reference_tag = FOUR_CHARACTER_CODE('w', 'a', '1', 'c');
    u.player_index = 3;
    u.monster_type = 0;
    ASSERT_TRUE(validate_unit_definition(&u, "test"));
    EXPECT_EQ(u.player_index, NONE);
    EXPECT_EQ(u.monster_type, NONE);
}

// The records through the registry's loader, as the groups' rows will take
// them: a tag shorter than the record keeps what it stores and gets the
// defaults for the rest.
class definition_loading : public store_fixture::store_test
{
protected:
    std::vector<definition_globals> groups;

    template <typename T>
    definition_globals *add(tag group, const byte_swap_code *codes, void (*fill)(void *),
                            bool (*check)(T *, const char *))
    {
        definition_globals g = {};
        strlcpy(g.name, "test group", sizeof(g.name));
        g.group = group;
        g.current_version = 1;
        g.maximum_count = 4;
        g.size = sizeof(T);
        g.default_definition = fill;
        g.byte_swapping_data = codes;
        g.postprocess = (definition_postprocess_procedure)check_procedure<T>;
        checks[group] = (void *)check;
        groups.push_back(g);
        return &groups.back();
    }
    template <typename T> static bool check_procedure(definition_globals *g, int32_t, int32_t, void *record)
    {
        return ((bool (*)(T *, const char *))checks[g->group])((T *)record, "test");
    }
    static inline std::map<tag, void *> checks;

    void TearDown() override
    {
        dispose_definitions();
        store_test::TearDown();
    }
};

TEST_F(definition_loading, short_tags_get_the_defaults_for_their_tail)
{
    groups.reserve(4);
    definition_globals *projectiles = add<projectile_definition>(
        PROJECTILE_DEFINITION_GROUP_TAG, projectile_definition_byte_swapping_data, default_projectile_definition,
        validate_projectile_definition);
    definition_globals *monsters = add<monster_definition>(MONSTER_DEFINITION_GROUP_TAG,
                                                           monster_definition_byte_swapping_data,
                                                           default_monster_definition, validate_monster_definition);
    definition_globals *parts = add<projectile_group_definition>(
        PROJECTILE_GROUP_DEFINITION_GROUP_TAG, projectile_group_definition_byte_swapping_data,
        default_projectile_group_definition, validate_projectile_group_definition);
    for (definition_globals &g : groups) ASSERT_TRUE(initialize_definitions(&g));
    start_store();

    // A projectile stored up to its guided turning speed (92 bytes).
    uint8_t projectile[92];
    memset(projectile, 0, sizeof(projectile));
    write_be32(projectile + 0, _projectile_is_guided_flag);
    write_be32(projectile + 4, (uint32_t)NONE);
    write_be16(projectile + 44, 1000); // detonation frequency
    write_be16(projectile + 90, 2000); // turning speed
    write_local_tag(PROJECTILE_DEFINITION_GROUP_TAG, "arro", 1, projectile, sizeof(projectile));
    // A monster stored up to its attack count, with six attacks.
    uint8_t monster[74];
    memset(monster, 0, sizeof(monster));
    write_be16(monster + 32, 900);
    write_be16(monster + 72, 6);
    write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "wa01", 1, monster, sizeof(monster));
    // A projectile group that claims nine parts.
    uint8_t group[16];
    memset(group, 0, sizeof(group));
    write_be16(group + 4, 7); // no such mesh effect
    write_be16(group + 6, 9);
    write_local_tag(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, "bang", 1, group, sizeof(group));
    for (definition_globals &g : groups) initialize_definitions_for_new_map(&g);

    const int32_t p = try_definition_tag_to_index(projectiles, FOUR_CHARACTER_CODE('a', 'r', 'r', 'o'), true, 0);
    ASSERT_NE(p, NONE);
    const projectile_definition *pd = (const projectile_definition *)try_and_get_definition(projectiles, p);
    EXPECT_EQ(pd->flags, (uint32_t)_projectile_is_guided_flag);
    EXPECT_EQ(pd->detonation_frequency, 1000);
    EXPECT_EQ(pd->guided_turning_speed, 2000);
    EXPECT_EQ(pd->promoted_projectile_tag, NONE);
    EXPECT_EQ(pd->damage.type, NONE);
    EXPECT_EQ(pd->geometry_tag, NONE);
    EXPECT_EQ(pd->promotion_unit_tag, 0);
    EXPECT_EQ(pd->object_type, NONE);

    const int32_t m = try_definition_tag_to_index(monsters, FOUR_CHARACTER_CODE('w', 'a', '0', '1'), true, 0);
    ASSERT_NE(m, NONE);
    const monster_definition *md = (const monster_definition *)try_and_get_definition(monsters, m);
    EXPECT_EQ(md->base_movement_speed, 900);
    EXPECT_EQ(md->number_of_attacks, MAXIMUM_ATTACKS_PER_MONSTER);
    EXPECT_EQ(md->attacks[3].projectile_tag, NONE);
    EXPECT_EQ(md->sequence_indexes[0], NONE);
    EXPECT_EQ(md->movement_modifiers[15], 100);
    EXPECT_EQ(md->object_tag, NONE);

    const int32_t g = try_definition_tag_to_index(parts, FOUR_CHARACTER_CODE('b', 'a', 'n', 'g'), true, 0);
    ASSERT_NE(g, NONE);
    const projectile_group_definition *gd = (const projectile_group_definition *)try_and_get_definition(parts, g);
    EXPECT_EQ(gd->number_of_parts, MAXIMUM_PARTS_PER_PROJECTILE_GROUP);
    EXPECT_EQ(gd->mesh_effect_type, NONE);
    EXPECT_EQ(gd->parts[6].appearing_fraction, FIXED_FRACTION_ONE);
    for (definition_globals &d : groups) dispose_definitions_from_old_map(&d);
}

} // namespace

// The 'mons' row of the real program: combined_power and the initial-artifacts
// group are read, refused (code 10 naming the field) when outside what the
// simulation can use, and a version 1 tag keeps what it meant.
namespace {

tag four(const char *s) { return FOUR_CHARACTER_CODE(s[0], s[1], s[2], s[3]); }

class monster_definition_loading : public unit_world_test
{
protected:
    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(write_unit_tags());
        projectile_group_definition group;
        default_projectile_group_definition(&group);
        write_swapped(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, "gift", 1, &group, sizeof(group),
                      projectile_group_definition_byte_swapping_data);
        projectile_definition projectile;
        default_projectile_definition(&projectile);
        write_swapped(PROJECTILE_DEFINITION_GROUP_TAG, "arro", 1, &projectile, sizeof(projectile),
                      projectile_definition_byte_swapping_data);
        ASSERT_NO_FATAL_FAILURE(start_units_world_for_teams({0, 1}));
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        clear_pending_error();
    }
    void TearDown() override
    {
        clear_pending_error();
        dispose_projectiles_from_old_map();
        dispose_explosions_from_old_map();
        dispose_units_world();
        store_test::TearDown();
    }
    void write_swapped(tag group, const char *name, int16_t version, const void *record, size_t size,
                       const byte_swap_code *codes)
    {
        std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
        ASSERT_TRUE(byte_swap_data(name, bytes.data(), (int32_t)size, 1, codes));
        write_local_tag(group, name, version, bytes.data(), (int32_t)size);
    }
};

TEST_F(monster_definition_loading, power_and_initial_artifacts_are_read_refused_or_taken_from_version_1)
{
    const tag gift = FOUR_CHARACTER_CODE('g', 'i', 'f', 't'), arrow = FOUR_CHARACTER_CODE('a', 'r', 'r', 'o');
    struct row
    {
        const char *monster, *unit;
        int16_t version, power;
        tag group;
        bool loads;
        int16_t power_read;
        bool has_group;
        const char *refused_field;
    } rows[] = {
        {"mon1", "uni1", 2, 12, gift, true, 12, true, nullptr},
        {"mon2", "uni2", 2, 32767, 0, true, 32767, false, nullptr},
        {"mon3", "uni3", 2, -1, 0, false, 0, false, "combined_power"},
        {"mon4", "uni4", 2, 5, arrow, false, 0, false, "initial_artifacts_group"},
        // Version 1 left these bytes unused: whatever they hold, a unit counts 1.
        {"mon5", "uni5", 1, -1, arrow, true, 1, false, nullptr},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.monster);
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
        m.combined_power = r.power;
        m.initial_artifacts_projectile_group_tag = r.group;
        write_swapped(MONSTER_DEFINITION_GROUP_TAG, r.monster, r.version, &m, sizeof(m),
                      monster_definition_byte_swapping_data);
        uint8_t unit[128] = {};
        memcpy(unit, r.monster, 4);
        memcpy(unit + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, r.unit, UNIT_DEFINITION_VERSION, unit, sizeof(unit));

        clear_pending_error();
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, four(r.unit), true, 0);
        int32_t code = 0;
        char text[256] = "";
        const bool pending = error_pending(&code, text, sizeof(text));
        if (!r.loads)
        {
            EXPECT_EQ(unit_type, NONE);
            ASSERT_TRUE(pending);
            EXPECT_EQ(code, _error_data_corrupted);
            EXPECT_NE(strstr(text, r.refused_field), nullptr) << text;
            continue;
        }
        ASSERT_NE(unit_type, NONE);
        EXPECT_FALSE(pending) << text;
        const int16_t type = get_unit_definition(unit_type)->monster_type;
        EXPECT_EQ(monster_type_combined_power(type), r.power_read);
        EXPECT_EQ(get_monster_definition(type)->initial_artifacts_projectile_group_type != NONE, r.has_group);
    }
    // The map goes on with the types that loaded.
    EXPECT_NE(try_definition_tag_to_index(&unit_definitions, four("wa01"), true, 0), NONE);
    EXPECT_EQ(monster_type_combined_power(NONE), 0);
}

// The special ability's prompt list: read from 'mons' 3 and 'arti' 2, none
// from older tags whatever their spare bytes hold; a list that is missing or
// too short for both prompts is one log line and no prompt, never a refusal.
TEST_F(monster_definition_loading, prompt_lists_are_read_from_new_tags_and_a_bad_one_is_logged_once_as_none)
{
    const int32_t two = store_string_list("two_", {"Aim:", "Click the enemy"});
    store_string_list("one_", {"Aim:"});
    const std::string log = (std::filesystem::temp_directory_path() / "prompt_lists_test.log").string();
    const struct
    {
        bool monster;
        const char *name;
        int16_t version;
        const char *list;
        bool read;
        const char *logged; // the one line's words, or none
    } rows[] = {
        {true, "mpa1", 3, "two_", true, nullptr},
        {true, "mpa2", 2, "two_", false, nullptr},
        {true, "mpa3", 3, "one_", false, "'one_' has 1 strings"},
        {true, "mpa4", 3, "gone", false, "'gone' is missing"},
        {false, "apa1", 2, "two_", true, nullptr},
        {false, "apa2", 1, "two_", false, nullptr},
        {false, "apa3", 2, "one_", false, "'one_' has 1 strings"},
    };
    for (const auto &r : rows)
    {
        SCOPED_TRACE(r.name);
        monster_definition m = defaults<monster_definition>(default_monster_definition);
        artifact_definition a = defaults<artifact_definition>(default_artifact_definition);
        m.collection_tag = four("cola");
        m.special_ability_string_list_tag = a.special_ability_string_list_tag = four(r.list);
        if (r.monster)
            write_swapped(MONSTER_DEFINITION_GROUP_TAG, r.name, r.version, &m, sizeof(m),
                          monster_definition_byte_swapping_data);
        else
            write_swapped(ARTIFACT_DEFINITION_GROUP_TAG, r.name, r.version, &a, sizeof(a),
                          artifact_definition_byte_swapping_data);
        remove(log.c_str());
        ASSERT_TRUE(open_log_file_at(log.c_str(), "prompt lists"));
        definition_globals *group = r.monster ? &monster_definitions : &artifact_definitions;
        const int32_t index = try_definition_tag_to_index(group, four(r.name), true, 0);
        close_log_file();
        ASSERT_NE(index, NONE) << "a bad prompt list never refuses the definition";
        EXPECT_EQ(r.monster ? get_monster_definition(index)->special_ability_string_list_index
                            : get_artifact_definition(index)->special_ability_string_list_index,
                  r.read ? two : NONE);
        std::vector<std::string> lines;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            if (line.find("special ability prompt list") != std::string::npos) lines.push_back(line);
        ASSERT_EQ(lines.size(), r.logged ? 1u : 0u);
        EXPECT_TRUE(!r.logged || lines[0].find(r.logged) != std::string::npos) << (r.logged ? lines[0] : "");
    }
    remove(log.c_str());
}

} // namespace

} // namespace unit_definitions_test_file
