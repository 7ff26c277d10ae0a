// The demo map as the game meets it: written by the data tool from its source
// in data/maps, packed into a foundation file, offered as an entry point and
// loaded through the tag-file store.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "cseries/registration.h"
#include "cseries/errors.h"
#include "mesh.h"
#include "support/demo_data.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace mesh_store_test_file {

namespace {
namespace fs = std::filesystem;

class mesh_store_test : public ::testing::Test
{
protected:
    std::string directory, previous, tool, source;

    void SetUp() override
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        tool = data_tool_path();
        source = source_tree_path("data/maps/demo_valley.map");
        if (!fs::exists(tool) || !fs::exists(source)) SKIP_OR_FAIL_UNDER_CI("the tool or the map source is missing");
        directory = enter_test_directory();
        quiet_error_manager();
        initialize_mesh();
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        dispose_tag_files();
        clear_all_registrations();
        clear_pending_error();
        if (chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
    }
};

TEST_F(mesh_store_test, demo_map_is_an_entry_point_and_loads)
{
    std::string command = "'" + tool + "' mesh demo.tag --subgroup dval --name 'demo valley' '" + source + "'";
    ASSERT_EQ(system(command.c_str()), 0);
    std::vector<uint8_t> file = read_file_bytes("demo.tag");
    ASSERT_GT(file.size(), sizeof(local_tag_file_header) + MESH_HEADER_SIZE);
    test_tag map = {MESH_GROUP_TAG, FOUR_CHARACTER_CODE('d', 'v', 'a', 'l'), "demo valley", MESH_TAG_VERSION,
                    std::vector<uint8_t>(file.begin() + sizeof(local_tag_file_header), file.end())};
    ASSERT_TRUE(write_foundation_files({map}));

    register_entry_point_reader_procedure(read_mesh_entry_point);
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    int32_t count = 0;
    full_entry_point *const *entries = nullptr;
    get_cached_entry_points(&count, &entries, nullptr);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(entries[0]->printed_name, "Demo Valley");
    EXPECT_EQ(entries[0]->mesh_flags, 0x110001u);

    mesh_header header;
    ASSERT_TRUE(read_mesh_header(map.subgroup_tag, &header));
    EXPECT_EQ(header.team_count, 2);

    clear_pending_error();
    ASSERT_TRUE(initialize_mesh_for_new_map(map.subgroup_tag));
    EXPECT_EQ(mesh_width, 32);
    int32_t markers = 0;
    get_mesh_markers(&markers);
    EXPECT_EQ(markers, 19); // 2 camera starts, 8 units, 4 trees, a shed, 1 watchtower, 3 projectiles
    world_point2d lake = {10 * 512 + 256, 21 * 512 + 256}, ridge = {17 * 512, 16 * 512};
    EXPECT_EQ(get_mesh_height(&lake, _mesh_surface_height), 0); // the water's surface
    EXPECT_LT(get_mesh_height(&lake, _mesh_ground_height), 0);
    EXPECT_EQ(get_mesh_height(&ridge, _mesh_ground_height), 420);
    EXPECT_EQ(get_mesh_terrain_type(&ridge), 3);
    int32_t coverage = 0;
    EXPECT_NE(get_media_coverage_region(&coverage), nullptr);

    EXPECT_FALSE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('n', 'o', 'n', 'e')));
    EXPECT_FALSE(mesh_is_loaded());
}

// A source too large to read whole would lose its last statements; the tool
// must refuse it rather than write the map without them.
TEST_F(mesh_store_test, oversized_map_source_is_refused_not_cut_short)
{
    std::string text = read_whole_file(source);
    ASSERT_FALSE(text.empty());
    text += "#" + std::string(16 * MEG, ' ') + "\nmarker 3 0 99 600 600 0 0\n";
    ASSERT_TRUE(write_whole_file("big.map", text.data(), text.size()));
    std::string command = "'" + tool + "' mesh big.tag --subgroup dval --name big big.map 2>/dev/null";
    EXPECT_NE(system(command.c_str()), 0);
    EXPECT_FALSE(fs::exists("big.tag"));
}

} // namespace

} // namespace mesh_store_test_file
