#pragma once
// The game in a real window, driven as a player drives it: an Xvfb of the
// test's own (1024x768, OpenGL through Mesa), xdotool for the pointer and the
// keys, and the demo data set in a scratch directory the test runs in.  The
// program starts in this process as vesk_shot starts it, its frames paced by
// the fixture's frame counter (one frame a 30th of a second); the fixture
// takes it off the screen before the server goes, however the test ended.
// Skipped (a failure under CI) when the data tool, Xvfb or xdotool is missing.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "support/x_server.h"

struct rectangle2d;

// An RGB picture (a screenshot read back).
struct picture
{
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // Reads the image file at `path`; false (the picture empty) when it cannot.
    bool load(const std::string &path);
    uint32_t at(int32_t x, int32_t y) const
    {
        const uint8_t *p = &rgb[((size_t)y * width + x) * 3];
        return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    // How many pixels of the rectangle `test(r, g, b)` accepts.
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
    // Whether both pictures hold the same pixels in `r`.
    bool same_in(const picture &other, const rectangle2d &r) const;
};

class game_window_fixture : public ::testing::Test
{
public:
    static constexpr int32_t kWidth = 1024, kHeight = 768;
    // The frame being drawn; the program's clock reads it.
    static int32_t frame;

protected:
    own_x_server server;
    scratch_directory scratch;

    // Checks for the tools and starts the server.
    void SetUp() override;
    // Off the screen when the program was started: the map, the dialogs, the
    // OpenGL procedures of the driver, the log, SDL; then the server.
    void TearDown() override;

    // Writes the demo data set with `extra_tags` after the demo's (the
    // "tags" and "preferences" folders made) and, when given,
    // preferences/poweruser.txt holding `poweruser`.
    void write_game_data(const std::vector<test_tag> &extra_tags = {}, const std::string &poweruser = "");
    // write_game_data, then the program's start-up as vesk_shot makes it
    // (`before_start` run before the registrations, the input's timer off)
    // and three frames: the main menu, as the player comes to a game.
    void start_program(const std::vector<test_tag> &extra_tags = {}, void (*before_start)(void) = nullptr,
                       const std::string &poweruser = "");
    // The map `name` (seed 0) started as the next game, then `frames` frames.
    void start_map(const char *name, int32_t frames, bool input_ticks = true);
    // `count` frames of the real main loop, each after one tick of the input
    // (which reads the window's events and fades the overhead map) unless
    // `input_ticks` is false.
    static void run_frames(int32_t count, bool input_ticks = true);
    // `events` run by xdotool on the server (a test failure when it fails),
    // then `frames` frames for the game to take them.
    void player(const std::string &events, int32_t frames = 20);
    // Copies the file at `path` beside the test (into the directory it
    // started in) as `name`: an artefact kept to be looked at.
    void keep_beside_test(const std::string &path, const std::string &name) const;
    // The program taken off the screen (as TearDown does); the run's log.
    std::string stop_program(void);

private:
    static uint32_t frame_clock(void) { return (uint32_t)frame * 100 / 3; }
    bool started = false;
};
