#pragma once
// Tests that draw the demo map in-process through the render harness: the
// demo data set is written into a scratch directory, which the test runs in;
// each test starts the map at the screen depth and size it needs, and the
// fixture stops the game and removes the directory afterwards.  Skipped (a
// failure under CI) when the data tool is not built.

#include <gtest/gtest.h>

#include <string>

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
