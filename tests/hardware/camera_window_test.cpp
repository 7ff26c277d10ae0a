// The camera and the overhead map driven by the window system's own events:
// Scripted Valley in a real window on an Xvfb of the test's own, with OpenGL
// and with the software renderer, frames paced as in vesk_shot, and xdotool
// pressing Tab, putting the pointer on each edge of the screen, turning the
// wheel out and holding W and S.  What the player sees is the view the frame
// was built from, so the eye's place is what is checked.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/stat.h>

#include <SDL.h>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "frame_paced_program.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/keyboard.h"
#include "observer.h"
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

void frames(int32_t count)
{
    for (int32_t i = 0; i < count; ++i, ++current_frame)
    {
        keyboard_queue_task_proc(nullptr);
        update_everything();
    }
}

// Sends the events and lets the game take them.
void player(const std::string &events, int32_t then = 20)
{
    ASSERT_EQ(system(("DISPLAY=" + display + " xdotool " + events + " sleep 0.2").c_str()), 0) << events;
    frames(then);
}

// How far the eye went along the camera's own forward and left, in cells.
struct step
{
    double forward, left;
};
step eye_moved_by(const std::string &events, int32_t then = 20)
{
    const observer_physics_variables before = *get_observer_physics_variables();
    player(events, then);
    const world_location3d &after = get_observer_physics_variables()->true_location;
    const double dx = (after.position.x - before.true_location.position.x) / 512.0;
    const double dy = (after.position.y - before.true_location.position.y) / 512.0;
    const double c = std::cos(before.yaw), s = std::sin(before.yaw);
    return {dx * c + dy * s, dy * c - dx * s};
}

class camera_window : public testing::TestWithParam<tag>
{
protected:
    // Off the screen before the server goes, however the test ended.
    void TearDown() override
    {
        dispose_vesk_from_old_map();
        const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure();
        if (close_dialogs) close_dialogs();
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
    ASSERT_TRUE(scratch.entered);
    ASSERT_EQ(mkdir("tags", 0755), 0);
    std::vector<test_tag> valley;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "scripted_valley.map", "scri", &valley));
    ASSERT_TRUE(write_demo_data_set(data_tool_path(), valley));
    mkdir("preferences", 0755);
    register_built_subsystems();
    const set_keyboard_queue_task_state_procedure set_keyboard_task = get_set_keyboard_queue_task_state_procedure();
    if (set_keyboard_task) set_keyboard_task(false);
    ASSERT_TRUE(open_log_file_at("game.log", "camera window test"));
    ASSERT_TRUE(start_frame_paced_program(frame_clock)) << read_whole_file("game.log");
    frames(3);
    // The renderer the preferences dialog would have chosen.
    int16_t device = NONE, mode = NONE;
    ASSERT_TRUE(find_device_and_mode(GetParam(), nullptr, 1024, 768, &device, &mode));
    active_screen.prefs->device_index = device;
    active_screen.prefs->mode_index = mode;
    active_screen.prefs->rasterizer_id = GetParam();
    new_game_data game;
    get_simulation_game_data(string_to_tag("scri"), 0, &game);
    set_next_game_data(&game);
    set_game_state(_game_state_running);
    frames(30);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_EQ(active_screen.rasterizer_code, GetParam() == SOFTWARE_RASTERIZER_ID ? _rasterizer_software : _rasterizer_opengl);

    // The map opens by itself at the start; Tab closes it and opens it again.
    EXPECT_TRUE(get_overhead_map_state()) << "the map's picture is made and shown";
    player("mousemove 512 400 key Tab");
    EXPECT_EQ(get_overhead_map_globals()->state, _overhead_map_closed);
    player("key Tab");
    EXPECT_TRUE(get_overhead_map_state());

    // Each edge of the screen pushes the view its way (the default mouse
    // options: the pointer moves the view, sideways pans).
    const struct
    {
        int x, y;
        double forward, left;
    } edges[] = {{512, 0, 1, 0}, {512, 767, -1, 0}, {0, 400, 0, 1}, {1023, 400, 0, -1}};
    for (const auto &edge : edges)
    {
        const step moved = eye_moved_by("mousemove " + std::to_string(edge.x) + " " + std::to_string(edge.y));
        player("mousemove 512 400", 10);
        EXPECT_GT(moved.forward * edge.forward + moved.left * edge.left, 0.5) << edge.x << ", " << edge.y;
    }

    // Wheeled fully out the eye stands far behind the focus, near the map's
    // edge it is held over the mesh; forward still moves the view at once,
    // and backward brings it back.
    for (int notch = 0; notch < 3; ++notch) player("click 5", 12);
    ASSERT_EQ(get_observer_zoom_factor(), -65535);
    EXPECT_GT(eye_moved_by("keydown w", 20).forward + eye_moved_by("keyup w", 15).forward, 0.5);
    EXPECT_LT(eye_moved_by("keydown s", 20).forward + eye_moved_by("keyup s", 15).forward, -0.5);

}

INSTANTIATE_TEST_SUITE_P(renderers, camera_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace
