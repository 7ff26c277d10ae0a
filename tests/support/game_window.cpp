#include "support/game_window.h"
#include "action_queue_procedures.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <SDL.h>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "frame_paced_program.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "input/input_controller_sdl.h"
#include "input/keyboard.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "image_files.h"
#include "screenshots.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/machine_pace.h"
#include "vesk.h"

int32_t game_window_fixture::frame = 0;

void game_window_fixture::SetUp()
{
    if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    std::string why;
    if (!server.start_for_opengl(&why, "1024x768x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    if (system("command -v xdotool >/dev/null") != 0) SKIP_OR_FAIL_UNDER_CI("no xdotool");
    ASSERT_TRUE(scratch.entered);
}

void game_window_fixture::write_game_data(const std::vector<test_tag> &extra_tags, const std::string &poweruser)
{
    ASSERT_EQ(mkdir("tags", 0755), 0);
    ASSERT_EQ(mkdir("preferences", 0755), 0);
    ASSERT_TRUE(write_demo_data_set(data_tool_path(), extra_tags));
    ASSERT_TRUE(poweruser.empty() || write_whole_file("preferences/poweruser.txt", poweruser.data(), poweruser.size()));
}

bool choose_screen_device(tag rasterizer_id, int32_t width, int32_t height)
{
    int16_t device = NONE, mode = NONE;
    if (!active_screen.prefs || !find_device_and_mode(rasterizer_id, nullptr, width, height, &device, &mode))
        return false;
    active_screen.prefs->device_index = device;
    active_screen.prefs->mode_index = mode;
    active_screen.prefs->rasterizer_id = rasterizer_id;
    return true;
}

void game_window_fixture::start_program(const std::vector<test_tag> &extra_tags, void (*before_start)(void),
                                        const std::string &poweruser)
{
    ASSERT_NO_FATAL_FAILURE(write_game_data(extra_tags, poweruser));
    if (before_start) before_start();
    register_built_subsystems();
    if (const auto set_keyboard_task = get_action_queue_procedures()->set_keyboard_queue_task_state) set_keyboard_task(false);
    ASSERT_TRUE(open_log_file_at("game.log", "game window test"));
    started = true;
    frame = 0;
    ASSERT_TRUE(start_frame_paced_program(frame_clock)) << read_whole_file("game.log");
    run_frames(3);
    ASSERT_EQ(game_->state, _game_state_displaying_main_menu) << read_whole_file("game.log");
}

void game_window_fixture::start_map(const char *name, int32_t frames, bool input_ticks)
{
    new_game_data game;
    get_simulation_game_data(string_to_tag(name), 0, &game);
    set_next_game_data(&game);
    set_game_state(_game_state_running);
    run_frames(frames, input_ticks);
}

void game_window_fixture::run_frames(int32_t count, bool input_ticks)
{
    for (int32_t i = 0; i < count; ++i, ++frame) input_ticks ? keyboard_queue_task_proc(nullptr) : false, update_everything();
}

void game_window_fixture::player(const std::string &events, int32_t frames)
{
    // The server's events reach the window's queue a moment after xdotool
    // sends them: the reference machine's 0.2 s, scaled by this one's pace.
    const std::string command = "DISPLAY=" + server.display + " xdotool " + events + " sleep " +
                                std::to_string(0.2 * machine_slowness());
    EXPECT_EQ(events.empty() ? 0 : system(command.c_str()), 0) << events;
    run_frames(frames);
}

picture game_window_fixture::frozen_frame(bool keep, const std::string &artefact)
{
    if (keep) request_screenshot(_screenshot_type_capture);
    SDL_Event event;
    while (SDL_PollEvent(&event)) queue_input_event_if_necessary(&event);
    draw_frame(0, true);
    ++frame;
    picture shot;
    const char *path = get_last_screenshot_path();
    if (keep && path && shot.load(path) && !artefact.empty()) keep_beside_test(path, artefact);
    if (keep && path) unlink(path);
    return shot;
}

void game_window_fixture::keep_beside_test(const std::string &path, const std::string &name) const
{
    EXPECT_TRUE(write_file_bytes(std::string(scratch.previous) + "/" + name, read_file_bytes(path))) << name;
}

std::string game_window_fixture::stop_program(void)
{
    started = false;
    dispose_vesk_from_old_map();
    if (const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure()) close_dialogs();
    set_gl_core_procedures(nullptr);
    close_log_file();
    const std::string log = read_whole_file("game.log");
    SDL_Quit();
    server.stop();
    return log;
}
