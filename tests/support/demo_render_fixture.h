#pragma once
// Tests that draw the demo map in-process through the render harness: the
// demo data set is written into a scratch directory, which the test runs in;
// each test starts the map at the screen depth and size it needs, and the
// fixture stops the game and removes the directory afterwards.  Skipped (a
// failure under CI) when the data tool is not built.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class demo_render_fixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the demo map (seed 0) for a software back buffer of `depth` bits
    // (16: 565, 32) at width x height, stopping any game started before.
    // False, with a test failure naming the reason, when it cannot start.
    bool start(int depth, int width, int height);

    std::string previous, directory;
};

// The box of the pixels where two RGB frames of `width` x `height` differ by
// more than 40 in some channel; empty when none does.
struct pixel_box
{
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    bool empty(void) const { return right < 0; }
};
pixel_box box_of_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int32_t width, int32_t height);

// The indexes of the map's units (monsters), in object order.
std::vector<int32_t> unit_objects(void);

// Each of `objects`' own pixels in the frames `draw` makes (RGB, width x
// height): the box of what changes when that object alone is left out.  The
// objects cast no shadow meanwhile (only their sprites count); their flags
// are put back after.  Empty when a frame cannot be drawn (a test failure).
std::vector<pixel_box> object_pixel_boxes(const std::vector<int32_t> &objects, int32_t width, int32_t height,
                                          const std::function<bool(std::vector<uint8_t> *rgb)> &draw);
