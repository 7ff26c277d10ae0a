// The data tool writes the unit and projectile definitions: each tag's bytes
// are the big-endian layout of docs/formats.md (golden bytes at known
// offsets), and swapped back they give every field the source named, with the
// group's defaults for the rest and zero in the run-time fields.

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cseries/byte_swapping.h"
#include "local_projectile_groups.h"
#include "monster_definitions.h"
#include "particles.h"
#include "projectile_definitions.h"
#include "tag_files/tag_file_formats.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "unit_definitions.h"

namespace unit_tags_tool_test_file {

namespace
{
namespace fs = std::filesystem;

// A local tag file is a 64-byte header, then the record.
const size_t LOCAL_TAG_HEADER_SIZE = 64;

class UnitTagsTool : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;

    void SetUp() override
    {
        REQUIRE_DATA_TOOL(tool);
    }
    // Writes `source`, runs the tool for `group`; the exit status and the record bytes.
    int make(const char *group, const std::string &source, std::vector<uint8_t> *record)
    {
        EXPECT_TRUE(write_whole_file("source.txt", source.data(), source.size()));
        fs::remove("out.tag");
        const int status =
            run_data_tool(std::string("objects out.tag --group ") + group + " --subgroup test --name test source.txt");
        *record = local_tag_file_data("out.tag");
        return status;
    }
    template <typename T> T host(std::vector<uint8_t> bytes, const byte_swap_code *codes)
    {
        T value;
        EXPECT_EQ(bytes.size(), sizeof(T));
        bytes.resize(sizeof(T));
        EXPECT_TRUE(byte_swap_data("test", bytes.data(), (int32_t)sizeof(T), 1, codes));
        memcpy(&value, bytes.data(), sizeof(T));
        return value;
    }
};

uint16_t be16(const std::vector<uint8_t> &b, size_t at) { return read_be16(&b[at]); }
uint32_t be32(const std::vector<uint8_t> &b, size_t at) { return read_be32(&b[at]); }
bool zero(const std::vector<uint8_t> &b, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
        if (b[i]) return false;
    return true;
}

TEST_F(UnitTagsTool, unit_tags_hold_the_two_tags_and_nothing_else)
{
    std::vector<uint8_t> r;
    ASSERT_EQ(make("unit", "monster wa01\ncollection_reference wa1c\n", &r), 0);
    ASSERT_EQ(r.size(), 128u);
    EXPECT_EQ(be32(r, 0), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '1'));
    EXPECT_EQ(be32(r, 4), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '1', 'c'));
    EXPECT_TRUE(zero(r, 8, 128));
    unit_definition unit = host<unit_definition>(r, unit_definition_byte_swapping_data);
    EXPECT_TRUE(validate_unit_definition(&unit, "test"));
    EXPECT_EQ(unit.player_index, NONE);

    // A unit without its monster is written (a map maker may add it later) but never loads.
    ASSERT_EQ(make("unit", "collection_reference wa1c\n", &r), 0);
    unit = host<unit_definition>(r, unit_definition_byte_swapping_data);
    EXPECT_EQ(unit.monster_tag, NONE);
    EXPECT_FALSE(validate_unit_definition(&unit, "test"));
}

TEST_F(UnitTagsTool, monster_fields_land_at_their_offsets_and_read_back)
{
    const std::string source = "flags 0x02010000\nhack_flags 0x201\nmore_hack_flags 8\nextra_flags 1\n"
                               "collection wa01\nmonster_class 1\npathfinding_radius 120\nturning_speed 65000\n"
                               "base_movement_speed 900\nhealing_fraction 40000\nmaximum_artifacts_carried 3\n"
                               "number_of_attacks 2\nnext_name_string_index 4\nsequence 0 7\nsequence 19 11\n"
                               "terrain_cost 8 13\nterrain_cost 15 -2\nmovement_modifier 3 50\n"
                               "sound_type 15 5\nsound 15 snd1\n"
                               "attack 1 flags 0x8210\nattack 1 projectile arro\nattack 1 maximum_range 6000\n"
                               "attack 1 sequence 3 21\nattack 1 sequence_flags 3 2\nattack 1 mana_cost -5\n"
                               "names wana\nobject wa01\ninitial_artifacts_group gift\ncombined_power 12\n"
                               "special_ability_prompts aims\n";
    std::vector<uint8_t> r;
    ASSERT_EQ(make("mons", source, &r), 0) << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), 1024u);
    EXPECT_EQ(be32(r, 0), 0x02010000u);
    EXPECT_EQ(be32(r, 4), 0x201u);
    EXPECT_EQ(be32(r, 16), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '1'));
    EXPECT_EQ(be16(r, 20), 1);
    EXPECT_EQ(be16(r, 30), 65000);
    EXPECT_EQ(be16(r, 70), 3);
    EXPECT_EQ(be16(r, 88), 7);
    EXPECT_EQ(be16(r, 88 + 2 * 19), 11);
    EXPECT_EQ(r[128 + 8], 13);
    EXPECT_EQ(r[128 + 15], 0xFE);
    EXPECT_EQ(r[144 + 3], 50);
    EXPECT_EQ(r[144 + 4], 100); // the default: full speed
    EXPECT_EQ(be16(r, 160 + 30), 5);
    EXPECT_EQ(be32(r, 192 + 60), (uint32_t)FOUR_CHARACTER_CODE('s', 'n', 'd', '1'));
    const size_t attack = 256 + 64;
    EXPECT_EQ(be16(r, attack), 0x8210);
    EXPECT_EQ(be32(r, attack + 4), (uint32_t)FOUR_CHARACTER_CODE('a', 'r', 'r', 'o'));
    EXPECT_EQ(be16(r, attack + 12), 6000);
    EXPECT_EQ(be16(r, attack + 14 + 12), 2);
    EXPECT_EQ(be16(r, attack + 14 + 14), 21);
    EXPECT_EQ(be16(r, attack + 44), 0xFFFB);
    EXPECT_TRUE(zero(r, attack + 46, attack + 64));
    EXPECT_EQ(be32(r, 256 + 4), (uint32_t)NONE); // attack 0 launches nothing
    EXPECT_EQ(be32(r, 512), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', 'n', 'a'));
    EXPECT_EQ(be32(r, 516), (uint32_t)NONE);
    EXPECT_EQ(be32(r, 560), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '1'));
    EXPECT_EQ(be32(r, 564), 0u); // no map action
    EXPECT_EQ(be32(r, 568), (uint32_t)FOUR_CHARACTER_CODE('g', 'i', 'f', 't'));
    EXPECT_EQ(be16(r, 572), 12);
    EXPECT_TRUE(zero(r, 574, 576));
    EXPECT_EQ(be32(r, 576), (uint32_t)FOUR_CHARACTER_CODE('a', 'i', 'm', 's'));
    EXPECT_TRUE(zero(r, 580, 1024));
    const std::vector<uint8_t> file = read_file_bytes("out.tag");
    ASSERT_GE(file.size(), LOCAL_TAG_HEADER_SIZE);
    EXPECT_EQ(be16(file, offsetof(local_tag_file_header, version)), MONSTER_DEFINITION_VERSION);

    monster_definition m = host<monster_definition>(r, monster_definition_byte_swapping_data);
    EXPECT_EQ(m.flags, _monster_targetable_if_ambient_flag | _monster_invisible_on_overhead_map_flag);
    EXPECT_EQ(m.hack_flags, _monster_hack_unit_can_charge_flag | _monster_hack_walks_on_water_flag);
    EXPECT_EQ(m.more_hack_flags, (uint32_t)_monster_more_hack_can_target_flying_flag);
    EXPECT_EQ(m.base_movement_speed, 900);
    EXPECT_EQ(m.healing_fraction, 40000);
    EXPECT_EQ(m.terrain_costs[8], 13);
    EXPECT_EQ(m.terrain_costs[15], -2);
    EXPECT_EQ(m.sequence_indexes[1], NONE);
    EXPECT_EQ(m.attacks[1].flags, _monster_attack_lob_to_hit_lower_nearby_units_flag |
                                      _monster_attack_is_primary_flag | _monster_attack_uses_ammunition_flag);
    EXPECT_EQ(m.attacks[1].sequences[3].sequence_index, 21);
    EXPECT_EQ(m.attacks[1].mana_cost, -5);
    EXPECT_EQ(m.attacks[2].sequences[0].sequence_index, NONE);
    EXPECT_EQ(m.combined_power, 12);
    EXPECT_TRUE(validate_monster_definition(&m, "test"));
    EXPECT_EQ(m.collection_index, NONE);
}

TEST_F(UnitTagsTool, artifact_fields_land_at_their_offsets_and_read_back)
{
    const std::string source = "flags 0x180005\noverride wa02\nmonster_restriction wa01\nmaximum_charges 9\n"
                               "expiry_timer 60\nbonus_modifier 15 128\nprojectile 3 arro\n"
                               "override_attack flags 1\noverride_attack projectile fire\nspecial_ability_prompts aims\n";
    std::vector<uint8_t> r;
    ASSERT_EQ(make("arti", source, &r), 0) << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), 256u);
    EXPECT_EQ(be32(r, 0), 0x180005u);
    EXPECT_EQ(be32(r, 4), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '1'));
    EXPECT_EQ(be32(r, 8), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '2'));
    EXPECT_EQ(be16(r, 12), 9);
    EXPECT_EQ(be16(r, 18), 60);
    EXPECT_EQ(be16(r, 20), 256);
    EXPECT_EQ(be16(r, 50), 128);
    EXPECT_EQ(be32(r, 64), (uint32_t)FOUR_CHARACTER_CODE('a', 'r', 'r', 'o'));
    EXPECT_EQ(be16(r, 68), 1);
    EXPECT_EQ(be32(r, 72), (uint32_t)FOUR_CHARACTER_CODE('f', 'i', 'r', 'e'));
    EXPECT_EQ(be32(r, 132), (uint32_t)FOUR_CHARACTER_CODE('a', 'i', 'm', 's'));
    EXPECT_TRUE(zero(r, 136, 256));
    const std::vector<uint8_t> file = read_file_bytes("out.tag");
    ASSERT_GE(file.size(), LOCAL_TAG_HEADER_SIZE);
    EXPECT_EQ(be16(file, offsetof(local_tag_file_header, version)), ARTIFACT_DEFINITION_VERSION);
    artifact_definition a = host<artifact_definition>(r, artifact_definition_byte_swapping_data);
    EXPECT_EQ(a.flags, _artifact_overrides_owner_attack_flag | _artifact_overrides_owner_monster_flag |
                           _artifact_overrides_monster_collection_flag |
                           _artifact_overrides_monster_permanently_flag);
    EXPECT_EQ(a.projectile_tags[2], NONE);
    EXPECT_TRUE(validate_artifact_definition(&a, "test"));
}

// Every field of the projectile layout, each with its own value: the bytes are
// where the layout says, the swap gives them back, and what is not named keeps
// the default column.
TEST_F(UnitTagsTool, projectile_tags_follow_the_published_layout)
{
    const std::string source =
        "flags 0x80002001\ncollection arro\nsequence 0 1\nsequence 2 3\nsplash_or_rebound_effect_type 2\n"
        "detonation_group bang\ncontrail puff\nticks_between_contrails 4\nobject arro\ninertia_delta 64\n"
        "random_initial_velocity 5\nvolume 1\nprojectile_class 8\nlightning bolt\nsound 1 twng\n"
        "lifespan_lower_bound 90\nguided_turning_speed 1000\npromoted_projectile ar02\n"
        "acceleration_detonation_fraction 7\ndamage_type 5\ndamage_flags 2\ndamage_lower_bound 300\n"
        "damage_to_velocity -3\ngeometry shft\ndelay_delta 30\nlocal_group glow\n"
        "exclude_nearby_target_radius 2\npromotion_unit wa02\nuse_accel 1\n";
    std::vector<uint8_t> r;
    ASSERT_EQ(make("proj", source, &r), 0) << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), 256u);
    const std::vector<uint8_t> file = read_file_bytes("out.tag");
    EXPECT_EQ(be32(r, 0), 0x80002001u);
    EXPECT_EQ(be32(r, 4), (uint32_t)FOUR_CHARACTER_CODE('a', 'r', 'r', 'o'));
    EXPECT_EQ(be16(r, 8), 1);
    EXPECT_EQ(be16(r, 10), 0xFFFF);
    EXPECT_EQ(be16(r, 12), 3);
    EXPECT_EQ(be16(r, 14), 2);
    EXPECT_EQ(be32(r, 16), (uint32_t)FOUR_CHARACTER_CODE('b', 'a', 'n', 'g'));
    EXPECT_EQ(be16(r, 26), 32767);
    EXPECT_EQ(be16(r, 32), 256);
    EXPECT_EQ(be16(r, 34), 64);
    EXPECT_EQ(be16(r, 44), 65535);
    EXPECT_EQ(be16(r, 50), 8);
    EXPECT_EQ(be32(r, 52), (uint32_t)FOUR_CHARACTER_CODE('b', 'o', 'l', 't'));
    EXPECT_EQ(be32(r, 64), (uint32_t)FOUR_CHARACTER_CODE('t', 'w', 'n', 'g'));
    EXPECT_EQ(be16(r, 80), 90);
    EXPECT_EQ(be16(r, 84), 65535);
    EXPECT_EQ(be16(r, 90), 1000);
    EXPECT_EQ(be32(r, 92), (uint32_t)FOUR_CHARACTER_CODE('a', 'r', '0', '2'));
    EXPECT_EQ(be16(r, 102), 7);
    EXPECT_EQ(be16(r, 104), 5);
    EXPECT_EQ(be16(r, 106), 2);
    EXPECT_EQ(be16(r, 108), 300);
    EXPECT_EQ(be16(r, 118), 0xFFFD);
    EXPECT_EQ(be32(r, 120), (uint32_t)NONE);
    EXPECT_EQ(be32(r, 124), (uint32_t)NONE);
    EXPECT_EQ(be32(r, 128), (uint32_t)FOUR_CHARACTER_CODE('s', 'h', 'f', 't'));
    EXPECT_EQ(be16(r, 134), 30);
    EXPECT_EQ(be32(r, 136), (uint32_t)FOUR_CHARACTER_CODE('g', 'l', 'o', 'w'));
    EXPECT_EQ(be16(r, 142), 2);
    EXPECT_EQ(be32(r, 144), (uint32_t)FOUR_CHARACTER_CODE('w', 'a', '0', '2'));
    EXPECT_TRUE(zero(r, 148, 223));
    EXPECT_EQ(r[223], 1);
    EXPECT_TRUE(zero(r, 224, 256));
    // The tag header's user data of a projectile is -1.
    ASSERT_GE(file.size(), LOCAL_TAG_HEADER_SIZE);
    EXPECT_EQ(be32(file, 20), 0xFFFFFFFFu);

    projectile_definition p = host<projectile_definition>(r, projectile_definition_byte_swapping_data);
    EXPECT_EQ(p.flags, _projectile_definition_detonates_immediately_flag | _projectile_is_melee_attack_flag |
                           _projectile_uses_owner_color_table_index_flag);
    EXPECT_EQ(p.damage.damage_to_velocity, -3);
    EXPECT_EQ(p.inertia_lower_bound, SHORT_FIXED_ONE);
    EXPECT_EQ(p.media_detonation_frequency, FIXED_FRACTION_ONE);
    EXPECT_EQ(p.final_contrail_frequency, 0);
    EXPECT_TRUE(validate_projectile_definition(&p, "test"));
    EXPECT_EQ(p.object_type, NONE);
    EXPECT_EQ(p.sound_indexes[3], NONE);
}

TEST_F(UnitTagsTool, projectile_group_parts_and_their_count)
{
    const std::string source = "mesh_effect_type 1\nsound boom\nlocal_group smok\n"
                               "part 0 flags 1\npart 0 projectile arro\npart 0 count_lower_bound 2\n"
                               "part 0 count_delta 3\npart 0 appearing_fraction 30000\npart 0 fail_projectile puff\n"
                               "part 2 flags 2\npart 2 projectile puff\npart 2 position_lower_bound 128\n"
                               "part 2 position_delta 64\n";
    std::vector<uint8_t> r;
    ASSERT_EQ(make("prgr", source, &r), 0) << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), 256u);
    EXPECT_EQ(be16(r, 4), 1);
    EXPECT_EQ(be16(r, 6), 3); // parts 0..2 named
    EXPECT_EQ(be32(r, 8), (uint32_t)FOUR_CHARACTER_CODE('b', 'o', 'o', 'm'));
    EXPECT_EQ(be32(r, 16), 1u);
    EXPECT_EQ(be32(r, 20), (uint32_t)FOUR_CHARACTER_CODE('a', 'r', 'r', 'o'));
    EXPECT_EQ(be32(r, 24), (uint32_t)FOUR_CHARACTER_CODE('p', 'u', 'f', 'f'));
    EXPECT_EQ(be16(r, 28), 2);
    EXPECT_EQ(be16(r, 30), 3);
    EXPECT_EQ(be16(r, 32), 30000);
    EXPECT_EQ(be16(r, 16 + 32 + 16), 65535); // part 1: the default, always appears
    EXPECT_EQ(be32(r, 16 + 64), 2u);
    EXPECT_EQ(be16(r, 16 + 64 + 18), 128);
    EXPECT_EQ(be16(r, 16 + 64 + 20), 64);
    EXPECT_TRUE(zero(r, 16 + 24, 16 + 32));
    EXPECT_TRUE(zero(r, 240, 256));
    projectile_group_definition g =
        host<projectile_group_definition>(r, projectile_group_definition_byte_swapping_data);
    EXPECT_TRUE(validate_projectile_group_definition(&g, "test"));
    EXPECT_EQ(g.number_of_parts, 3);
    EXPECT_EQ(g.parts[0].flags, (uint32_t)_projectile_group_part_is_central_flag);
    EXPECT_EQ(g.parts[2].fail_projectile_tag, NONE);

    // A stated count wins over the parts named.
    ASSERT_EQ(make("prgr", "number_of_parts 1\npart 3 projectile arro\n", &r), 0);
    EXPECT_EQ(be16(r, 6), 1);
}

TEST_F(UnitTagsTool, local_projectile_groups_keep_bit_27_and_their_collection)
{
    const std::string source = "flags 0x08000001\ncollection glow\nsequence 2\nmaximum_projectiles 40\n"
                               "radius 256\nduration 90\nanimation_rate 512\n";
    std::vector<uint8_t> r;
    ASSERT_EQ(make("lpgr", source, &r), 0) << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), 128u);
    EXPECT_EQ(be32(r, 0), 0x08000001u);
    EXPECT_EQ(be32(r, 4), (uint32_t)FOUR_CHARACTER_CODE('g', 'l', 'o', 'w'));
    EXPECT_EQ(be16(r, 8), 2);
    EXPECT_EQ(be16(r, 12), 40);
    EXPECT_EQ(be16(r, 22), 256);
    EXPECT_EQ(be16(r, 32), 256); // scale: the default 1.0
    EXPECT_EQ(be16(r, 36), 90);
    EXPECT_EQ(be16(r, 42), 512);
    EXPECT_TRUE(zero(r, 44, 128));
    local_projectile_group_definition l =
        host<local_projectile_group_definition>(r, local_projectile_group_definition_byte_swapping_data);
    EXPECT_TRUE(validate_local_projectile_group_definition(&l, "test"));
    EXPECT_TRUE(l.flags & _local_projectile_group_uses_owner_color_table_flag);
}

// A collection reference's team colours: a named colour at offset 28 or 36
// (red, green, blue, flags 0), one left out stored unused (flag 4), so a
// player without colours recolours nothing through it.
TEST_F(UnitTagsTool, collection_references_carry_their_team_colours)
{
    const struct
    {
        const char *source;
        uint16_t primary[4], secondary[4];
    } cases[] = {
        {"collection warr\npermutation 0\nprimary_color 60000 12000 8000\n", {60000, 12000, 8000, 0}, {0, 0, 0, 4}},
        {"collection warr\nsecondary_color 1 2 65535\n", {0, 0, 0, 4}, {1, 2, 65535, 0}},
        {"collection warr\n", {0, 0, 0, 4}, {0, 0, 0, 4}},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> r;
        ASSERT_EQ(make("core", c.source, &r), 0) << c.source << read_whole_file("tool.err");
        ASSERT_EQ(r.size(), 64u);
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_EQ(be16(r, 28 + 2 * i), c.primary[i]) << c.source << " primary word " << i;
            EXPECT_EQ(be16(r, 36 + 2 * i), c.secondary[i]) << c.source << " secondary word " << i;
        }
        EXPECT_TRUE(zero(r, 44, 64));
    }
}

// Lines the tool cannot place are refused with their line number, and no tag is written.
TEST_F(UnitTagsTool, sources_out_of_range_are_refused_whole)
{
    const struct
    {
        const char *group, *source;
    } cases[] = {
        {"mons", "sequence 20 1\n"}, // one past the table
        {"mons", "attack 4 flags 1\n"},
        {"mons", "terrain_cost 0 128\n"},
        {"mons", "base_movement_speed 32768\n"},
        {"mons", "attack 0 sequence 4 1\n"},
        {"arti", "bonus_modifier 16 1\n"},
        {"proj", "sequence 3 0\n"},
        {"proj", "collection toolong\n"},
        {"prgr", "part 7 flags 1\n"},
        {"unit", "monster\n"},
        {"lpgr", "flags -1\n"},
        {"proj", "no_such_field 1\n"},
        {"core", "primary_color 1 2\n"},
        {"core", "secondary_color 0 0 65536\n"},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> r;
        EXPECT_EQ(make(c.group, c.source, &r), 1) << c.group << ": " << c.source;
        EXPECT_FALSE(fs::exists("out.tag")) << c.source;
        EXPECT_NE(read_whole_file("tool.err").find("source.txt:1:"), std::string::npos) << read_whole_file("tool.err");
    }
}

// A weather definition: the state machine's fields, then its look at 20..31;
// the look left out is none (no collection, no splash, the bitmap's own size).
TEST_F(UnitTagsTool, weather_tags_carry_their_look_and_refuse_a_look_out_of_range)
{
    std::vector<uint8_t> r;
    ASSERT_EQ(make("weat", "flags 1\nmaximum_particles 900\ncollection snow\nsequence 2\nsplash_sequence 1\n"
                           "particle_scale 320\nfall_speed 1536\n", &r), 0)
        << read_whole_file("tool.err");
    ASSERT_EQ(r.size(), sizeof(weather_definition));
    EXPECT_EQ(be16(r, 0), 1);
    EXPECT_EQ(be16(r, 2), 900);
    EXPECT_EQ(be32(r, 8), 0xFFFFFFFFu) << "no ambient sound";
    EXPECT_EQ(be32(r, 20), (uint32_t)FOUR_CHARACTER_CODE('s', 'n', 'o', 'w'));
    EXPECT_EQ(be16(r, 24), 2);
    EXPECT_EQ(be16(r, 26), 1);
    EXPECT_EQ(be16(r, 28), 320);
    EXPECT_EQ(be16(r, 30), 1536);
    const std::string file = read_whole_file("out.tag");
    ASSERT_GE(file.size(), LOCAL_TAG_HEADER_SIZE);
    EXPECT_EQ(read_be16((const uint8_t *)file.data() + offsetof(local_tag_file_header, version)),
              WEATHER_DEFINITION_VERSION);

    ASSERT_EQ(make("weat", "maximum_particles 10\n", &r), 0);
    const weather_definition d = host<weather_definition>(r, weather_definition_byte_swapping_data);
    EXPECT_EQ(d.collection_tag, NONE);
    EXPECT_EQ(d.splash_sequence_index, NONE);
    EXPECT_EQ(d.particle_scale, SHORT_FIXED_ONE);

    for (const char *source : {"particle_scale 32768\n", "fall_speed -40000\n", "collection toolong\n"})
        EXPECT_EQ(make("weat", source, &r), 1) << source;
}

} // namespace

} // namespace unit_tags_tool_test_file
