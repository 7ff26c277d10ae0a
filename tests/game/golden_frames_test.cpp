// Golden frames: the demo map rendered by vesk_render from three cameras, in
// 32-bit and 565, terrain only, and with its objects and models from a
// fourth, and its units; its lake and its watchtower's shadow; and the shore
// test map with its objects (a shed half in the water, mirrored, one under it,
// one on the grass seen from behind); against the PNGs stored
// under tests/data/golden.  A frame
// matches when at most 0.5% of its pixels differ from the stored one and none
// by more than 8 in a channel (red, green, blue; compilers and optimisation
// levels may round a few texels differently).  A frame that does not match
// is written beside the test with a diff image.
//
// When the demo data or the renderer changes on purpose, regenerate them:
//
//     scripts/regenerate_golden_frames.sh BUILD-DIRECTORY
//
// which runs this test with VESK_REGENERATE_GOLDEN_FRAMES=1: every frame is
// then written into tests/data/golden instead of compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/stb_image_decoder.h"

#include "render_harness.h"
#include "support/demo_data.h"
#include "support/scratch.h"

namespace golden_frames_test_file {

namespace fs = std::filesystem;

namespace {

struct golden_frame
{
    const char *name;
    const char *camera;
    int depth;
    bool filter;
    const char *map = "demo";
    bool objects = false; // objects and models drawn
    int width = 640, height = 480;
    const char *field_of_view = nullptr; // degrees; the observer's when null
    int ticks = 0;                       // game ticks run before the frame
};

// Straight down over the western plain; oblique over the lake's shore; low
// over the hills towards the horizon; the demo's trees, shed and watchtower
// from the north-west; the shore map's lake from above its northern bank.
const golden_frame frames[] = {
    {"plain_down_32", "5,12,8,90,-90", 32, true},
    {"plain_down_565", "5,12,8,90,-90", 16, true},
    {"shore_oblique_32", "2,30,5,-40,-35", 32, true},
    {"shore_oblique_565", "2,30,5,-40,-35", 16, true},
    {"shore_oblique_32_unfiltered", "2,30,5,-40,-35", 32, false},
    {"hills_low_32", "1,1,1.5,35,-8", 32, true},
    {"hills_low_565", "1,1,1.5,35,-8", 16, true},
    {"demo_objects_32", "5,1,4,38,-18", 32, true, "demo", true, 320, 240},
    {"demo_objects_565", "5,1,4,38,-18", 16, true, "demo", true, 320, 240},
    {"shore_objects_32", "8,8,5,90,-55", 32, true, "gold", true, 320, 240, "90"},
    // Both teams' units after one tick (their sight has filled the fog of war).
    {"demo_units_32", "5,10,3,90,-35", 32, true, "demo", true, 320, 240, nullptr, 1},
    // The demo's lake from its southern shore; the watchtower from above, its
    // shadow on the road; the shore map's shed in the shallows, mirrored.
    {"demo_lake_32", "10,31,3,-90,-22", 32, true, "demo", true, 320, 240},
    {"demo_lake_565", "10,31,3,-90,-22", 16, true, "demo", true, 320, 240},
    {"watchtower_down_32", "17.5,10,8,90,-90", 32, true, "demo", true, 320, 240},
    {"shore_shallows_32", "4.5,9,1.5,90,-25", 32, true, "gold", true, 320, 240},
};

std::string golden_directory(void) { return source_tree_path("tests/data/golden"); }

bool regenerating(void)
{
    const char *value = getenv("VESK_REGENERATE_GOLDEN_FRAMES");
    return value && *value && strcmp(value, "0") != 0;
}

struct rgb_image
{
    int width = 0, height = 0;
    std::vector<uint8_t> pixels; // red, green, blue
};

bool read_png(const std::string &path, rgb_image *image)
{
    int channels = 0;
    uint8_t *data = stbi_load(path.c_str(), &image->width, &image->height, &channels, 3);
    if (!data) return false;
    image->pixels.assign(data, data + (size_t)image->width * image->height * 3);
    stbi_image_free(data);
    return true;
}

class golden_frames : public ::testing::Test
{
protected:
    // The demo data set, made once for every frame of the program.
    static std::string directory, previous, bin;
    static bool data_ready;

    static void SetUpTestSuite()
    {
        char working[PATH_MAX];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        bin = fs::absolute(fs::path(previous) / ".." / "bin").string();
        const std::string tool = data_tool_path();
        if (!fs::exists(tool) || !fs::exists(fs::path(bin) / "vesk_render")) return;
        directory = enter_test_directory();
        std::vector<test_tag> shore;
        data_ready = make_demo_map_source_tags(tool, "golden_shore.map", "gold", &shore) &&
                     write_demo_data_set(tool, shore);
    }
    static void TearDownTestSuite()
    {
        if (!previous.empty() && chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
    }
    void SetUp() override
    {
        if (directory.empty()) SKIP_OR_FAIL_UNDER_CI("vesk_render or the data tool is missing");
        ASSERT_TRUE(data_ready) << "the demo data set could not be written";
    }

    // Renders a frame into `out` (in the scratch directory).
    static int render(const golden_frame &frame, const std::string &out)
    {
        const std::string command = "'" + bin + "/vesk_render' --data '" + directory + "' --map " + frame.map +
                                    " --camera " + frame.camera + " --size " + std::to_string(frame.width) + "x" +
                                    std::to_string(frame.height) + " --depth " + std::to_string(frame.depth) +
                                    " --filter " + (frame.filter ? "on" : "off") +
                                    (frame.objects ? "" : " --omit-objects") +
                                    (frame.field_of_view ? std::string(" --fov ") + frame.field_of_view : "") +
                                    (frame.ticks ? " --ticks " + std::to_string(frame.ticks) : "") +
                                    " --out '" + out + "'";
        return exit_code_of(system(command.c_str()));
    }
};
std::string golden_frames::directory, golden_frames::previous, golden_frames::bin;
bool golden_frames::data_ready = false;

TEST_F(golden_frames, frames_match_the_stored_goldens)
{
    int empty = 0;
    for (const golden_frame &frame : frames)
    {
        SCOPED_TRACE(frame.name);
        const std::string out = directory + "/" + frame.name + ".png";
        ASSERT_EQ(render(frame, out), 0);
        rgb_image image;
        ASSERT_TRUE(read_png(out, &image)) << "the frame does not decode";
        ASSERT_EQ(image.width, frame.width);
        ASSERT_EQ(image.height, frame.height);
        if (std::all_of(image.pixels.begin(), image.pixels.end(), [](uint8_t v) { return v == 0; }))
        {
            ++empty;
            continue;
        }
        const std::string golden = golden_directory() + "/" + frame.name + ".png";
        if (regenerating())
        {
            fs::create_directories(golden_directory());
            fs::copy_file(out, golden, fs::copy_options::overwrite_existing);
            continue;
        }
        rgb_image expected;
        ASSERT_TRUE(read_png(golden, &expected)) << "no golden " << golden << " (see the comment at the top)";
        ASSERT_EQ(expected.width, image.width);
        ASSERT_EQ(expected.height, image.height);
        int differing = 0, largest = 0;
        std::vector<uint8_t> diff(image.pixels.size(), 0);
        for (size_t p = 0; p < image.pixels.size(); p += 3)
        {
            int pixel_largest = 0;
            for (int c = 0; c < 3; ++c)
                pixel_largest = std::max(pixel_largest, std::abs(image.pixels[p + c] - expected.pixels[p + c]));
            if (pixel_largest > 0)
            {
                ++differing;
                diff[p] = 255; // red where the frames differ, brighter the more
                diff[p + 1] = diff[p + 2] = (uint8_t)std::min(255, pixel_largest * 8);
            }
            largest = std::max(largest, pixel_largest);
        }
        const bool matches = differing * 200 <= frame.width * frame.height && largest <= 8;
        if (!matches)
        {
            const std::string kept = previous + "/golden_" + frame.name + ".png";
            const std::string diff_path = previous + "/golden_" + frame.name + "_diff.png";
            fs::copy_file(out, kept, fs::copy_options::overwrite_existing);
            char reason[256];
            write_rgb_png(diff_path.c_str(), diff.data(), frame.width, frame.height, reason, sizeof(reason));
            ADD_FAILURE() << differing << " pixels differ (at most " << frame.width * frame.height / 200
                          << " may), the largest by " << largest << " (at most 8); the frame is " << kept
                          << " and the difference " << diff_path;
        }
    }
    if (empty == (int)(sizeof(frames) / sizeof(frames[0])))
        GTEST_SKIP() << "every frame came out empty: the renderer draws no terrain in this build yet";
    EXPECT_EQ(empty, 0) << "some frames came out empty";
}

const golden_frame &frame_named(const char *name)
{
    for (const golden_frame &frame : frames)
        if (strcmp(frame.name, name) == 0) return frame;
    abort();
}

// Water is the media's tint over the bed, not the bed (mud, red above blue);
// the watchtower darkens the road beside it.  Probes at fixed pixels of the
// frames above, so a regenerated golden cannot lose them unnoticed.
TEST_F(golden_frames, water_and_model_shadows_show_in_the_frames)
{
    struct probe
    {
        const char *frame;
        int x, y;      // a pixel of the water, or of the shadow
        int lit_x, lit_y; // for a shadow: the same ground in the light
    };
    const probe probes[] = {
        {"demo_lake_32", 150, 125, -1, -1},  {"demo_lake_32", 60, 160, -1, -1},
        {"demo_lake_565", 150, 125, -1, -1}, {"shore_objects_32", 160, 110, -1, -1},
        {"shore_shallows_32", 40, 200, -1, -1}, {"watchtower_down_32", 240, 40, 150, 200},
    };
    for (const probe &p : probes)
    {
        SCOPED_TRACE(std::string(p.frame) + " at " + std::to_string(p.x) + "," + std::to_string(p.y));
        const golden_frame &frame = frame_named(p.frame);
        const std::string out = directory + "/probe_" + p.frame + ".png";
        ASSERT_EQ(render(frame, out), 0);
        rgb_image image;
        ASSERT_TRUE(read_png(out, &image));
        const uint8_t *at = &image.pixels[((size_t)p.y * image.width + p.x) * 3];
        if (p.lit_x < 0)
        {
            // The lake's tint (0, 9000, 30000 of 65535) pulls blue well above red and green.
            EXPECT_GT(at[2], at[0] + 30) << "red " << (int)at[0] << " blue " << (int)at[2];
            EXPECT_GT(at[2], at[1] + 10) << "green " << (int)at[1] << " blue " << (int)at[2];
        }
        else
        {
            const uint8_t *lit = &image.pixels[((size_t)p.lit_y * image.width + p.lit_x) * 3];
            const int shade = at[0] + at[1] + at[2], light = lit[0] + lit[1] + lit[2];
            EXPECT_LT(shade * 10, light * 8) << "shadow " << shade << " light " << light;
        }
    }
}

TEST_F(golden_frames, two_runs_give_identical_frames)
{
    const golden_frame &frame = frames[2];
    const std::string a = directory + "/again_a.png", b = directory + "/again_b.png";
    ASSERT_EQ(render(frame, a), 0);
    ASSERT_EQ(render(frame, b), 0);
    rgb_image first, second;
    ASSERT_TRUE(read_png(a, &first));
    ASSERT_TRUE(read_png(b, &second));
    EXPECT_TRUE(first.pixels == second.pixels);
}

TEST_F(golden_frames, unusable_cameras_and_maps_are_refused_with_a_reason)
{
    golden_frame frame = frames[0];
    const std::string out = directory + "/refused.png";
    frame.camera = "-5,11,14,0,-90"; // off the map
    EXPECT_EQ(render(frame, out), 1);
    frame.camera = "5,20,-3,0,-30"; // under the terrain
    EXPECT_EQ(render(frame, out), 1);
    frame.camera = "5,11,14,0,90"; // straight up
    EXPECT_EQ(render(frame, out), 1);
    EXPECT_FALSE(fs::exists(out));
    const std::string command = "'" + bin + "/vesk_render' --data '" + directory +
                                "' --map nope --camera 5,11,14,0,-90 --size 64x48 --depth 32 --out '" + out + "' 2>/dev/null";
    EXPECT_EQ(exit_code_of(system(command.c_str())), 1);
}

} // namespace

} // namespace golden_frames_test_file
