#pragma once
// The game in a real window, driven as a player drives it: an Xvfb of the
// test's own (1024x768, OpenGL through Mesa), xdotool for the pointer and the
// keys, the demo data set in a scratch directory the test runs in.  The
// program runs in this process as vesk_shot runs it, a frame a 30th of a
// second of its clock, and goes off the screen before the server does,
// however the test ended.  Skipped (failed under CI) without the data tool,
// Xvfb or xdotool.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "support/scratch.h"
#include "support/screen_picture.h"
#include "support/tag_file_builder.h"
#include "support/x_server.h"

// The first device of `rasterizer_id` (SOFTWARE_RASTERIZER_ID or
// OPENGL_RASTERIZER_ID) in its `width` x `height` mode made the one the
// screen preferences name, as a player choosing it there would: the next map
// is drawn by it.  (By default the recommended device draws, which under
// Xvfb, whose OpenGL draws on the processor, is the software one.)  False
// when the device or the mode is missing.
bool choose_screen_device(tag rasterizer_id, int32_t width, int32_t height);

class game_window_fixture : public ::testing::Test
{
public:
    static constexpr int32_t kWidth = 1024, kHeight = 768;
    static int32_t frame; // the frame being drawn, which the program's clock reads

protected:
    own_x_server server;
    scratch_directory scratch;

    void SetUp() override;
    void TearDown() override { started ? (void)stop_program() : server.stop(); }

    // The demo data set with `extra_tags` after the demo's, and
    // preferences/poweruser.txt holding `poweruser` when given.
    void write_game_data(const std::vector<test_tag> &extra_tags = {}, const std::string &poweruser = "");
    // write_game_data, then the program's start-up (`before_start` run before
    // the registrations, the input's timer off) and three frames: the main menu.
    void start_program(const std::vector<test_tag> &extra_tags = {}, void (*before_start)(void) = nullptr,
                       const std::string &poweruser = "");
    // The map `name` (seed 0) started, then `frames` frames.
    void start_map(const char *name, int32_t frames, bool input_ticks = true);
    // Frames of the real main loop, each after a tick of the input (which
    // reads the window's events and fades the overhead map) when `input_ticks`.
    static void run_frames(int32_t count, bool input_ticks = true);
    // xdotool's `events` on the server (a failure when it fails), then `frames` frames.
    void player(const std::string &events, int32_t frames = 20);
    // The frame drawn once more, the world not advanced and only the window's
    // events read; with `keep`, its screenshot read back (and kept beside the
    // test as `artefact` when given).  The preferences must make screenshots
    // PNG (PNG_SCREENSHOTS as the poweruser preferences of start_program).
    picture frozen_frame(bool keep, const std::string &artefact = "");
    // A copy of the file at `path` beside the test as `name`, to be looked at.
    void keep_beside_test(const std::string &path, const std::string &name) const;
    // The program off the screen, the server stopped; the run's log.
    std::string stop_program(void);

private:
    static uint32_t frame_clock(void) { return (uint32_t)frame * 100 / 3; }
    bool started = false;
};
