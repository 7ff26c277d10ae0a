// The scripts of map sources (`vesk_tags mesh`): a block using all 21 types
// is laid out as the loader reads it, imports and exports to the same bytes,
// and bad statements are refused with their line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cseries/byte_swapping.h"
#include "map_action_block_writer.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "tag_files/tag_file_formats.h"

namespace map_action_source_test_file {

namespace {
namespace fs = std::filesystem;

class map_action_source_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;
    void SetUp() override
    {
        REQUIRE_DATA_TOOL(tool);
        ASSERT_TRUE(initialize_map_actions());
        initialize_map_actions_for_new_map();
    }
    void TearDown() override { dispose_map_actions_from_old_map(); }
    // Writes the map source `script` follows and runs the tool; its exit status.
    int make(const std::string &script)
    {
        const std::string source = "size 2 2\nname scripted\n" + script;
        write_whole_file("map.txt", source.data(), source.size());
        return run_data_tool("mesh map.tag --subgroup scri --name map map.txt");
    }
    // The stored block of the map the tool wrote, and its count.
    std::vector<uint8_t> block(int32_t *count)
    {
        const std::vector<uint8_t> file = read_file_bytes("map.tag");
        const uint8_t *mesh = file.data() + sizeof(local_tag_file_header);
        *count = (int32_t)read_be32(mesh + 128);
        const int32_t offset = (int32_t)read_be32(mesh + 132), size = (int32_t)read_be32(mesh + 136);
        return std::vector<uint8_t>(mesh + offset, mesh + offset + size);
    }
};

TEST_F(map_action_source_test, every_type_is_laid_out_as_stored_and_round_trips_through_the_import)
{
    ASSERT_EQ(make("action 7 atta 13 2 90 -5\n"
                   "parameter name character a b c\n" // "a b c" and its 0: 6 bytes
                   "parameter debg flag\n"
                   "parameter subj unit 10 -11 12\n"
                   "parameter acod action 3\n"
                   "parameter face angle 65535 -1 7\n"
                   "parameter coun integer -2147483648 0x7fffffff 5\n"
                   "parameter dist distance 512\n"
                   "parameter lfld field coun\n"
                   "parameter time fixed -2.25 0.5 7\n"
                   "parameter prgr projectile_group none\n"
                   "parameter text string_list strs\n"
                   "parameter soun sound boom bang\n"
                   "parameter proj projectile arro\n"
                   "parameter wayp point2d 1 2 3 4 5 6\n"
                   "parameter rect rectangle 0 0 512 512\n"
                   "parameter obje object 300\n"
                   "parameter mode model 1 2 3\n"
                   "parameter sosr sound_source 9\n"
                   "parameter p3dx point3d 1 2 3\n"
                   "parameter lpgr local_projectile_group 4\n"
                   "parameter anim animation 5 6 7\n"
                   "parameter empt 5\n"
                   "action 3 none 0 3 0 0\n"),
              0)
        << read_whole_file("tool.err");
    int32_t count = 0;
    const std::vector<uint8_t> stored = block(&count);
    ASSERT_EQ(count, 2);

    test_action a{7, four("atta")};
    a.flags = 13;
    a.mode = 2;
    a.lower = 90;
    a.delta = -5;
    a.text(four("name"), "a b c").flag(four("debg")).units(four("subj"), {10, -11, 12}).ids(four("acod"), {3});
    a.raw(_parameter_angle, four("face"), 3, std::vector<uint16_t>{65535, 65535, 7}.data(), 6);
    a.ints(four("coun"), {INT32_MIN, INT32_MAX, 5}).ints(four("dist"), {512}, _parameter_world_distance);
    a.ints(four("lfld"), {(int32_t)four("coun")}, _parameter_field_name).fixeds(four("time"), {-147456, 32768, 7 << 16});
    a.ints(four("prgr"), {NONE}, _parameter_projectile_group_tag).ints(four("text"), {(int32_t)four("strs")}, _parameter_string_list_tag);
    a.ints(four("soun"), {(int32_t)four("boom"), (int32_t)four("bang")}, _parameter_sound_tag);
    a.ints(four("proj"), {(int32_t)four("arro")}, _parameter_projectile_tag);
    a.raw(_parameter_world_point2d, four("wayp"), 3, std::vector<int32_t>{1, 2, 3, 4, 5, 6}.data(), 24);
    a.raw(_parameter_world_rectangle2d, four("rect"), 1, std::vector<int32_t>{0, 0, 512, 512}.data(), 16);
    a.raw(_parameter_object_identifier, four("obje"), 1, std::vector<int16_t>{300}.data(), 2);
    a.raw(_parameter_model_identifier, four("mode"), 3, std::vector<int16_t>{1, 2, 3}.data(), 6);
    a.raw(_parameter_sound_source_identifier, four("sosr"), 1, std::vector<int16_t>{9}.data(), 2);
    a.raw(_parameter_world_point3d, four("p3dx"), 1, std::vector<int32_t>{1, 2, 3}.data(), 12);
    a.raw(_parameter_local_projectile_group_identifier, four("lpgr"), 1, std::vector<int16_t>{4}.data(), 2);
    a.raw(_parameter_model_animation_identifier, four("anim"), 3, std::vector<int16_t>{5, 6, 7}.data(), 6);
    a.raw(_parameter_integer, four("empt"), 0, nullptr, 0);
    test_action b{3, NONE};
    EXPECT_EQ(stored, write_map_action_block({a, b}));

    std::vector<uint8_t> copy = stored;
    ASSERT_TRUE(import_map_actions(count, (int32_t)copy.size(), copy.data(), true));
    int32_t exported_count = 0, exported_size = 0;
    uint8_t *exported = (uint8_t *)export_map_actions(&exported_count, &exported_size);
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(exported, exported + exported_size), stored);
    free(exported);
}

TEST_F(map_action_source_test, bad_script_statements_are_refused_with_their_line)
{
    const struct
    {
        const char *script, *reason;
    } cases[] = {
        {"parameter name character x\n", ":3: a parameter needs an action before it"},
        {"action 0 math 0 3 0 0\n", ":3: action needs"},
        {"action 1 math 32 3 0 0\n", ":3: action needs"}, // a run-time flag
        {"action 1 math 0 5 0 0\n", ":3: action needs"},
        {"action 1 math 0 3 0\nparameter x y z\n", ":3: action needs"},
        {"action 1 math 0 3 0 0\nparameter coun widget 1\n", ":4: unknown parameter type"},
        {"action 1 math 0 3 0 0\nparameter coun integer 1.5\n", ":4: a value does not suit"},
        {"action 1 math 0 3 0 0\nparameter coun fixed 40000\n", ":4: a value does not suit"},
        {"action 1 math 0 3 0 0\nparameter wayp point2d 1 2 3\n", ":4: points take"},
        {"action 1 math 0 3 0 0\nparameter subj unit 40000\n", ":4: a value does not suit"},
        {"action 1 math 0 3 0 0\naction 1 gene 0 3 0 0\n", "two actions share an identifier"},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(make(c.script), 1) << c.script;
        EXPECT_NE(read_whole_file("tool.err").find(c.reason), std::string::npos) << c.script << read_whole_file("tool.err");
    }
}

} // namespace

} // namespace map_action_source_test_file
