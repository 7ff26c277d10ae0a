// Each team of the demo map is drawn in its own colour: from south of each
// team's start, with the fog of war lifted so that the far team shows too,
// team 0's soldiers are blue and team 1's red, and neither shows the other's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "game_records.h"
#include "game_time.h"
#include "render/render.h"
#include "render_harness.h"
#include "support/demo_render_fixture.h"

namespace team_colours_test_file {

namespace {

using team_colours = demo_render_fixture;

TEST_F(team_colours, each_team_is_drawn_in_its_own_hue)
{
    const int width = 640, height = 480;
    ASSERT_TRUE(start(32, width, height));
    game_->option_flags &= ~_game_option_limited_visibility_flag;
    // Each team's four units stand in cells 4-6 (team 0) or 27-28 (team 1) across, 13-16 down.
    for (const int team : {0, 1})
    {
        SCOPED_TRACE("team " + std::to_string(team));
        const render_camera camera = {team == 0 ? 5.0 : 27.5, 20.0, 2.5, -90, -30, 0};
        bitmap_data *buffer = new_render_back_buffer(width, height);
        ASSERT_NE(buffer, nullptr);
        const render_frame_options options = {(int16_t)width, (int16_t)height, true, false};
        view_data view;
        build_render_camera_view(&view, &camera, &options, buffer);
        render_camera_view(&view);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(render_back_buffer_to_rgb(buffer, &rgb));
        free(buffer);
        int red = 0, blue = 0;
        for (size_t i = 0; i < rgb.size(); i += 3)
        {
            red += rgb[i] > rgb[i + 1] + 60 && rgb[i] > rgb[i + 2] + 60;
            blue += rgb[i + 2] > rgb[i] + 60 && rgb[i + 2] > rgb[i + 1] + 40;
        }
        // Four tunics and shields of a few hundred pixels each at this distance.
        EXPECT_GT(team == 0 ? blue : red, 400) << "the team's own colour (red " << red << ", blue " << blue << ")";
        EXPECT_LT(team == 0 ? red : blue, 20) << "the other team's colour (red " << red << ", blue " << blue << ")";
    }
}

} // namespace

} // namespace team_colours_test_file
