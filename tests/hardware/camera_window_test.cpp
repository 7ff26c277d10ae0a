// Scripted Valley in a real window on an Xvfb of the test's own, with OpenGL
// and with software, frames paced as in vesk_shot; xdotool presses Tab, puts
// the pointer on each edge, wheels out and holds W and S.  The eye of the
// frame's view is what the player sees move.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cseries/log.h"
#include "determinism_harness.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "observer.h"
#include "overhead_map.h"
#include "mesh.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "support/demo_data.h"
#include "support/game_window.h"
#include "vesk.h"

namespace camera_window_test_file {

namespace {

class camera_window : public game_window_fixture, public testing::WithParamInterface<tag>
{
protected:
    // How far the eye went along the camera's forward (first) and left, in cells.
    std::pair<double, double> eye_moved_by(const std::string &events, int32_t frames = 20)
    {
        const observer_physics_variables before = *get_observer_physics_variables();
        player(events, frames);
        const world_point3d &from = before.true_location.position, &to = get_observer_physics_variables()->true_location.position;
        const double dx = (to.x - from.x) / 512.0, dy = (to.y - from.y) / 512.0, c = std::cos(before.yaw), s = std::sin(before.yaw);
        return {dx * c + dy * s, dy * c - dx * s};
    }
    // The demo map `source` (its mesh `code`) running in the renderer of the parameter.
    void play_map(const char *source, const char *code)
    {
        std::vector<test_tag> map;
        ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), source, code, &map));
        ASSERT_NO_FATAL_FAILURE(start_program(map));
        ASSERT_TRUE(choose_screen_device(GetParam(), kWidth, kHeight));
        start_map(code, 30);
        ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
        ASSERT_EQ(active_screen.rasterizer_code, GetParam() == SOFTWARE_RASTERIZER_ID ? _rasterizer_software : _rasterizer_opengl);
    }
};

TEST_P(camera_window, tab_and_the_screen_edges_move_what_the_player_sees)
{
    ASSERT_NO_FATAL_FAILURE(play_map("scripted_valley.map", "scri"));

    EXPECT_TRUE(get_overhead_map_state()) << "the map's picture is made and shown at the start";
    player("mousemove 512 400 key Tab");
    EXPECT_EQ(get_overhead_map_globals()->state, _overhead_map_closed);
    player("key Tab");
    EXPECT_TRUE(get_overhead_map_state());

    // Each edge pushes the view its way (default mouse options: pan).
    const struct { int x, y, forward, left; } edges[] = {{512, 0, 1, 0}, {512, 767, -1, 0}, {0, 400, 0, 1}, {1023, 400, 0, -1}};
    for (const auto &edge : edges)
    {
        const auto moved = eye_moved_by("mousemove " + std::to_string(edge.x) + " " + std::to_string(edge.y));
        player("mousemove 512 400", 10);
        EXPECT_GT(moved.first * edge.forward + moved.second * edge.left, 0.5) << edge.x << ", " << edge.y;
    }
}

// Fully out, the eye stands far behind the focus and is held over the mesh
// near its edge; the keys still move the view at once.
TEST_P(camera_window, forward_and_backward_at_full_zoom_out_move_what_the_player_sees)
{
    ASSERT_NO_FATAL_FAILURE(play_map("scripted_valley.map", "scri"));
    player("mousemove 512 400", 2);
    for (int notch = 0; notch < 3; ++notch) player("click 5", 12);
    ASSERT_EQ(get_observer_zoom_factor(), -65535);
    EXPECT_GT(eye_moved_by("keydown w").first + eye_moved_by("keyup w", 15).first, 0.5);
    EXPECT_LT(eye_moved_by("keydown s").first + eye_moved_by("keyup s", 15).first, -0.5);
}

// The point of the map the middle of the picture looks at, in world units:
// where the line of sight through it comes down to the ground's lowest
// height (0 on the skirmish's map).
world_point2d view_centre(void)
{
    const world_location3d &eye = get_observer_physics_variables()->true_location;
    const double pitch = (int16_t)eye.pitch * (2 * M_PI / 65536), yaw = eye.yaw * (2 * M_PI / 65536);
    const double reach = -std::sin(pitch) > 0.01 ? eye.position.z * std::cos(pitch) / -std::sin(pitch) : 0;
    return {(world_distance)(eye.position.x + reach * std::cos(yaw)), (world_distance)(eye.position.y + reach * std::sin(yaw))};
}

bool on_the_map(world_point2d p)
{
    return p.x >= 0 && p.y >= 0 && p.x < mesh_width * (int32_t)WORLD_ONE && p.y < mesh_height * (int32_t)WORLD_ONE;
}

// The skirmish's camera, zoomed out (V held 1.2 s) and turned (A held
// 1.8 s) by its south edge, still looks at the map, and so it does after a
// click on the overhead map has moved it.
TEST_P(camera_window, zoomed_out_and_turned_the_view_keeps_the_map_and_the_overhead_map_brings_it_back)
{
    ASSERT_NO_FATAL_FAILURE(play_map("skirmish_hill.map", "skir"));
    ASSERT_TRUE(get_overhead_map_state());

    player("mousemove 512 400 keydown v", 36);
    player("keyup v keydown a", 54);
    player("keyup a", 10);
    EXPECT_TRUE(on_the_map(view_centre())) << view_centre().x << ", " << view_centre().y;

    const rectangle2d map = get_overhead_map_globals()->bounds;
    const point2d click = {(int16_t)((map.left + map.right) / 2), (int16_t)((map.top + map.bottom) / 2)};
    const world_point2d before = view_centre();
    player("mousemove " + std::to_string(click.x) + " " + std::to_string(click.y) + " click 1", 20);
    const world_point2d after = view_centre();
    EXPECT_TRUE(on_the_map(after)) << after.x << ", " << after.y;
    EXPECT_TRUE(after.x != before.x || after.y != before.y) << "the click did not move the view";
}

INSTANTIATE_TEST_SUITE_P(renderers, camera_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace

} // namespace camera_window_test_file
