// Scripted Valley in a real window on an Xvfb of the test's own, with OpenGL
// and with software, frames paced as in vesk_shot; xdotool presses Tab, puts
// the pointer on each edge, wheels out and holds W and S.  The eye of the
// frame's view is what the player sees move; the drawn picture says whether
// the middle of the view is on the map.

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
    std::string renderer_name(void) const { return GetParam() == SOFTWARE_RASTERIZER_ID ? "software" : "opengl"; }
    // The demo map `source` (its mesh `code`) running in the renderer of the parameter.
    void play_map(const char *source, const char *code)
    {
        std::vector<test_tag> map;
        ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), source, code, &map));
        ASSERT_NO_FATAL_FAILURE(start_program(map, nullptr, PNG_SCREENSHOTS));
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

// Whether the middle of the drawn picture (the scene between the bars) shows
// terrain: none of the 5 x 5 pixels there is the black of the void.
bool middle_on_terrain(const picture &shot)
{
    rectangle2d scene;
    calculate_destination_frame(&scene);
    const int32_t x = (scene.left + scene.right) / 2, y = (scene.top + scene.bottom) / 2;
    return shot.width > 0 && shot.count(x - 2, y - 2, x + 3, y + 3, [](int32_t r, int32_t g, int32_t b) {
        return r == 0 && g == 0 && b == 0;
    }) == 0;
}

// The skirmish's camera, zoomed out (V held 1.2 s) and turned (A held
// 1.8 s) by its south edge, still shows the map in the middle of its
// picture, and so it does after a click on the overhead map has moved it.
TEST_P(camera_window, zoomed_out_and_turned_the_view_keeps_the_map_and_the_overhead_map_brings_it_back)
{
    ASSERT_NO_FATAL_FAILURE(play_map("skirmish_hill.map", "skir"));
    ASSERT_TRUE(get_overhead_map_state());

    player("mousemove 512 400 keydown v", 36);
    player("keyup v keydown a", 54);
    player("keyup a", 10);
    EXPECT_TRUE(middle_on_terrain(frozen_frame(true, "camera_turned_" + renderer_name() + ".png")));

    const rectangle2d map = get_overhead_map_globals()->bounds;
    const point2d click = {(int16_t)((map.left + map.right) / 2), (int16_t)((map.top + map.bottom) / 2)};
    const world_point3d before = get_observer_physics_variables()->true_location.position;
    player("mousemove " + std::to_string(click.x) + " " + std::to_string(click.y) + " click 1", 20);
    const world_point3d after = get_observer_physics_variables()->true_location.position;
    EXPECT_TRUE(middle_on_terrain(frozen_frame(true)));
    EXPECT_TRUE(after.x != before.x || after.y != before.y) << "the click did not move the view";
}

// The pointer held 15 s of the program's clock at each edge of the screen in
// turn (each drawn frame a third of a second, as on a slow machine): the
// middle of the picture shows the map at the end of every hold, and after
// the camera was set far off the map.
TEST_P(camera_window, held_at_each_edge_of_the_screen_the_middle_of_the_picture_stays_on_the_map)
{
    ASSERT_NO_FATAL_FAILURE(play_map("skirmish_hill.map", "skir"));
    const struct { const char *name; int x, y; } edges[] = {
        {"top", 512, 0}, {"right", kWidth - 1, 400}, {"bottom", 512, kHeight - 1}, {"left", 0, 400}};
    for (const auto &edge : edges)
    {
        player("mousemove " + std::to_string(edge.x) + " " + std::to_string(edge.y), 1);
        for (int32_t step = 0; step < 45; ++step)
        {
            frame += 9;
            run_frames(1);
        }
        EXPECT_TRUE(middle_on_terrain(frozen_frame(true, std::string("camera_edge_") + edge.name + "_" +
                                                             renderer_name() + ".png")))
            << edge.name;
    }
    // Set far past the map's corner, as a script, a saved game or a film may
    // set it: the picture's middle and the focus come back to the map.
    player("mousemove 512 400", 1);
    camera_sample(_camera_sample_x | _camera_sample_y, false, -40, mesh_height + 40, 0, 0, 0, 0);
    run_frames(3);
    EXPECT_TRUE(middle_on_terrain(frozen_frame(true)));
    const observer_physics_variables *physics = get_observer_physics_variables();
    EXPECT_TRUE(physics->x >= 0 && physics->x < mesh_width && physics->y >= 0 && physics->y < mesh_height)
        << physics->x << ", " << physics->y;
}

INSTANTIATE_TEST_SUITE_P(renderers, camera_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace

} // namespace camera_window_test_file
