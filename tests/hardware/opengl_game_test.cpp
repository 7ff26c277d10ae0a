// The game on the demo map drawn by the OpenGL back end: the real start-up and
// main loop (vesk_shot in a window) on an Xvfb of the test's own, where the
// screen chooses the OpenGL device by itself.  The frame's screenshot is a
// read-back of the back buffer; it is kept beside the test as
// "opengl_in_game.png" and must show both bars and the overhead map's
// picture with the camera's trapezoid over it.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/stb_image_decoder.h"
#include "support/x_server.h"

namespace {

const int32_t kWidth = 1024, kHeight = 768;

// One run of the game for every test of the program.
struct game_frame
{
    bool ran = false;
    std::string why; // empty when the frame was read
    std::string log, output;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    uint32_t at(int32_t x, int32_t y) const
    {
        const uint8_t *p = &rgb[((size_t)y * width + x) * 3];
        return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    // How many pixels of the rectangle `test` accepts.
    template <typename F> int64_t count(int32_t left, int32_t top, int32_t right, int32_t bottom, F test) const
    {
        int64_t n = 0;
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x)
            {
                const uint32_t c = at(x, y);
                n += test((int32_t)(c >> 16), (int32_t)((c >> 8) & 255), (int32_t)(c & 255));
            }
        return n;
    }
};

std::string run(const std::string &command)
{
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r"))
    {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
        if (pclose(pipe) != 0) output += "\n(exit status not 0)";
    }
    return output;
}

const game_frame &frame(void)
{
    static game_frame the_frame;
    if (the_frame.ran) return the_frame;
    the_frame.ran = true;
    if (!data_tool_built())
    {
        the_frame.why = "the data tool is not built";
        return the_frame;
    }
    own_x_server server;
    if (!server.start(&the_frame.why, (std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24").c_str()))
        return the_frame;
    scratch_directory scratch;
    if (!scratch.entered || mkdir("tags", 0755) != 0 || !write_demo_data_set(data_tool_path()))
    {
        the_frame.why = "the demo data could not be written";
        return the_frame;
    }
    mkdir("preferences", 0755);
    const std::string settings = "[Screenshots]\nHardwareIngameFormat=png\n";
    write_whole_file("preferences/poweruser.txt", settings.data(), settings.size());
    the_frame.output = run("DISPLAY=" + server.display + " ASAN_OPTIONS=detect_leaks=0 SDL_VIDEODRIVER= '" +
                           test_programs_directory() + "/vesk_shot' --window --data . --map demo --frames 45 2>&1");
    the_frame.log = read_whole_file("vesk_log.txt");
    const size_t slash = the_frame.output.rfind("/screenshots/");
    const size_t end = slash == std::string::npos ? slash : the_frame.output.find('\n', slash);
    if (end == std::string::npos)
    {
        the_frame.why = "no screenshot: " + the_frame.output;
        return the_frame;
    }
    const std::string picture = the_frame.output.substr(the_frame.output.rfind('\n', slash) + 1,
                                                        end - the_frame.output.rfind('\n', slash) - 1);
    int width = 0, height = 0, channels = 0;
    uint8_t *pixels = stbi_load(picture.c_str(), &width, &height, &channels, 3);
    if (!pixels)
    {
        the_frame.why = "the screenshot " + picture + " does not decode";
        return the_frame;
    }
    the_frame.width = width;
    the_frame.height = height;
    the_frame.rgb.assign(pixels, pixels + (size_t)width * height * 3);
    stbi_image_free(pixels);
    // The artefact beside the test, whatever the checks say.
    run("cp '" + picture + "' '" + std::string(scratch.previous) + "/opengl_in_game.png'");
    return the_frame;
}

#define REQUIRE_FRAME()                                                                                            \
    do {                                                                                                           \
        if (!frame().why.empty()) SKIP_OR_FAIL_UNDER_CI("no OpenGL game frame: " + frame().why);                  \
    } while (0)

TEST(opengl_game, the_demo_map_runs_on_opengl_and_its_screenshot_shows_the_bars_and_the_overhead_map)
{
    REQUIRE_FRAME();
    const game_frame &f = frame();
    EXPECT_NE(f.log.find("Running OpenGL"), std::string::npos) << "the modern device comes first:\n" << f.log;
    EXPECT_EQ(f.log.find("halt"), std::string::npos) << f.log;
    ASSERT_EQ(f.width, kWidth);
    ASSERT_EQ(f.height, kHeight);
    const auto lit = [](int32_t r, int32_t g, int32_t b) { return r + g + b > 60; };
    // The status bar along the top and the control bar along the bottom.
    EXPECT_GT(f.count(0, 0, kWidth, 30, lit), kWidth * 30 * 9 / 10);
    EXPECT_GT(f.count(0, kHeight - 30, kWidth, kHeight, lit), kWidth * 30 * 9 / 10);
    // The overhead map in the top right corner: the valley's green picture,
    // stretched, and the camera's yellow trapezoid drawn over it by lines.
    const int32_t left = kWidth * 3 / 4, top = 40, bottom = kHeight / 3;
    const auto green = [](int32_t r, int32_t g, int32_t b) { return g > r + 20 && g > b + 20; };
    const auto yellow = [](int32_t r, int32_t g, int32_t b) { return r > 200 && g > 200 && b < 90; };
    EXPECT_GT(f.count(left, top, kWidth, bottom, green), 5000);
    EXPECT_GT(f.count(left, top, kWidth, bottom, yellow), 40);
}

// The scene itself: terrain where neither bar nor the overhead map lies.
TEST(opengl_game, the_screenshot_shows_the_terrain)
{
    REQUIRE_FRAME();
    const game_frame &f = frame();
    const auto lit = [](int32_t r, int32_t g, int32_t b) { return r + g + b > 30; };
    const int32_t left = kWidth / 8, top = kHeight / 3, right = kWidth / 2, bottom = kHeight * 2 / 3;
    EXPECT_GT(f.count(left, top, right, bottom, lit), (right - left) * (bottom - top) * 9 / 10);
}

} // namespace
