// Scripted Valley in a real window on an Xvfb of the test's own, with OpenGL
// and with software, frames paced as in vesk_shot; xdotool presses Tab, puts
// the pointer on each edge, wheels out and holds W and S.  The eye of the
// frame's view is what the player sees move.

#include <gtest/gtest.h>

#include <SDL.h>
#include <cmath>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "frame_paced_program.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/keyboard.h"
#include "overhead_map.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/x_server.h"
#include "vesk.h"

namespace {

int32_t current_frame = 0;
uint32_t frame_clock(void) { return (uint32_t)current_frame * 100 / 3; }
std::string display;

// The events sent, then `frames` frames for the game to take them.
void player(const std::string &events, int32_t frames = 20)
{
    const std::string command = "DISPLAY=" + display + " xdotool " + events + " sleep 0.2";
    EXPECT_EQ(events.empty() ? 0 : system(command.c_str()), 0) << events;
    for (int32_t i = 0; i < frames; ++i, ++current_frame) keyboard_queue_task_proc(nullptr), update_everything();
}

// How far the eye went along the camera's forward (first) and left, in cells.
std::pair<double, double> eye_moved_by(const std::string &events, int32_t frames = 20)
{
    const observer_physics_variables before = *get_observer_physics_variables();
    player(events, frames);
    const world_point3d &from = before.true_location.position, &to = get_observer_physics_variables()->true_location.position;
    const double dx = (to.x - from.x) / 512.0, dy = (to.y - from.y) / 512.0, c = std::cos(before.yaw), s = std::sin(before.yaw);
    return {dx * c + dy * s, dy * c - dx * s};
}

class camera_window : public testing::TestWithParam<tag>
{
protected:
    void TearDown() override // off the screen before the server goes, however the test ended
    {
        dispose_vesk_from_old_map();
        if (const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure()) close_dialogs();
        close_log_file();
        SDL_Quit();
        server.stop();
    }
    own_x_server server;
};

TEST_P(camera_window, tab_the_screen_edges_and_forward_and_backward_at_full_zoom_out_move_what_the_player_sees)
{
    if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    std::string why;
    if (!server.start_for_opengl(&why, "1024x768x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    display = server.display;
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered && mkdir("tags", 0755) == 0 && mkdir("preferences", 0755) == 0);
    std::vector<test_tag> valley;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "scripted_valley.map", "scri", &valley));
    ASSERT_TRUE(write_demo_data_set(data_tool_path(), valley));
    register_built_subsystems();
    if (const auto set_keyboard_task = get_set_keyboard_queue_task_state_procedure()) set_keyboard_task(false);
    ASSERT_TRUE(open_log_file_at("game.log", "camera window test"));
    ASSERT_TRUE(start_frame_paced_program(frame_clock)) << read_whole_file("game.log");
    player("", 3);
    int16_t device = NONE, mode = NONE; // the renderer as the preferences dialog would choose it
    ASSERT_TRUE(find_device_and_mode(GetParam(), nullptr, 1024, 768, &device, &mode));
    active_screen.prefs->device_index = device, active_screen.prefs->mode_index = mode;
    active_screen.prefs->rasterizer_id = GetParam();
    new_game_data game;
    get_simulation_game_data(string_to_tag("scri"), 0, &game);
    set_next_game_data(&game);
    set_game_state(_game_state_running);
    player("", 30);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_EQ(active_screen.rasterizer_code, GetParam() == SOFTWARE_RASTERIZER_ID ? _rasterizer_software : _rasterizer_opengl);

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

    // Fully out, the eye stands far behind the focus and is held over the
    // mesh near its edge; the keys still move the view at once.
    for (int notch = 0; notch < 3; ++notch) player("click 5", 12);
    ASSERT_EQ(get_observer_zoom_factor(), -65535);
    EXPECT_GT(eye_moved_by("keydown w").first + eye_moved_by("keyup w", 15).first, 0.5);
    EXPECT_LT(eye_moved_by("keydown s").first + eye_moved_by("keyup s", 15).first, -0.5);
}

INSTANTIATE_TEST_SUITE_P(renderers, camera_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace
