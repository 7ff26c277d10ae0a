// The media test in a headless run: the demo map started as vesk_sim starts
// it (no screen, no rasterizer) answers from the coverage its mesh carries,
// and agrees with the media of the triangles under every texel's centre.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "determinism_harness.h"
#include "mesh.h"
#include "render/terrain_overlays.h"
#include "support/demo_data.h"
#include "support/tag_file_builder.h"

namespace terrain_media_headless_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');

TEST(terrain_media_headless, the_demo_lake_is_media_to_the_texel_after_a_headless_start)
{
    char working[4096];
    const std::string previous = getcwd(working, sizeof(working)) ? working : "/";
    const std::string tool = data_tool_path();
    if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    const std::string directory = enter_test_directory();
    ASSERT_TRUE(write_demo_data_set(tool));
    char reason[256];
    ASSERT_TRUE(start_simulation(nullptr, DEMO, 3, reason, sizeof(reason))) << reason;

    int32_t media = 0, disagreements = 0;
    for (int32_t y = 0; y < mesh_height * 8; ++y)
        for (int32_t x = 1; x < mesh_width * 8; ++x) // column 0 is never covered
        {
            const world_point2d centre = {x * 64 + 32, y * 64 + 32};
            const bool under = get_mesh_height(&centre, _media_height) != MESH_NO_HEIGHT;
            const bool answer = mesh_texture_pixel_is_media(x, y);
            media += answer;
            if (answer != under && disagreements++ < 3) ADD_FAILURE() << "texel " << x << "," << y;
        }
    EXPECT_GT(media, 1000) << "the demo map has a lake";
    EXPECT_EQ(disagreements, 0);
    stop_simulation();
    EXPECT_FALSE(mesh_texture_pixel_is_media(100, 100)) << "no map, no media";

    if (chdir(previous.c_str()) != 0) abort();
    fs::remove_all(directory);
}

} // namespace

} // namespace terrain_media_headless_test_file
