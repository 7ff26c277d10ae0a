// vesk_shot: runs the game's own start-up and main loop headless, under the
// video library's "dummy" driver, feeds scripted pointer and key actions at
// given frames, and writes the frame shown after N frames as a screenshot.
//
//   vesk_shot [--data DIR] [--actions FILE] [--frames N] [--map TAG [--camera X,Y,Z,YAW,PITCH]]
//
// DIR is the directory the game runs from (its tags, preferences and the
// "screenshots" directory the shot lands in; default: the program's own
// directory), FILE a script (tools/vesk_shot/shot_script.h), N the frames
// drawn before the shot (default 30).  With --map the program enters the
// running state on the map TAG (four characters) as a single-player game with
// one local player instead of staying in the main menu; --camera then holds
// the observer at every frame at the focus X,Y,Z (cells) looking along YAW,
// PITCH (degrees, negative looking down), within the observer's own limits.  Each game-state change is printed as
// "game state: OLD -> NEW".  Exit 0 printing the screenshot's path when it
// was written, or when the program was told to quit; 1 with a one-line reason
// otherwise; 2 for wrong usage.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "input/action_queue.h"
#include "observer.h"
#include "render_harness.h"
#include "screenshots.h"
#include "shot_script.h"
#include "subsystems.h"
#include "version.h"
#include "vesk.h"

static void usage(void)
{
    fprintf(stderr, "usage: vesk_shot [--data DIR] [--actions FILE] [--frames N] [--map TAG [--camera "
                    "X,Y,Z,YAW,PITCH]]\n");
}

// The action of one frame: one tick passes, the pointer stays where the
// script last put it, the button stays as the script last left it.
struct pointer_state
{
    point2d position;
    bool held;
};

static action_data frame_action(const pointer_state &pointer)
{
    action_data action = {};
    action.time = game_->local_time.load();
    action.time_delta = 1;
    action.pointer = pointer.position;
    action.ascii_code = NONE;
    action.key_code = NONE;
    if (pointer.held) set_action_flag(&action, _left_mouse_down_bit);
    return action;
}

// Hands the frame's scripted events, one action each, to the game as the
// action queue would; a frame without any gets one idle action.
static void feed_frame(const std::vector<shot_event> &events, size_t *next, int32_t frame, pointer_state *pointer)
{
    bool fed = false;
    while (*next < events.size() && events[*next].frame == frame)
    {
        const shot_event &event = events[(*next)++];
        action_data action;
        switch (event.kind)
        {
        case _shot_press:
            pointer->position = {event.x, event.y};
            pointer->held = true;
            action = frame_action(*pointer);
            set_action_flag(&action, _left_mouse_click_bit);
            break;
        case _shot_release:
            pointer->position = {event.x, event.y};
            pointer->held = false;
            action = frame_action(*pointer);
            break;
        default:
            action = frame_action(*pointer);
            action.key_code = event.key_code;
            action.ascii_code = event.ascii_code;
            break;
        }
        // Only the first action of a frame lets a tick pass.
        if (fed) action.time_delta = 0;
        process_action(&action);
        fed = true;
    }
    if (!fed)
    {
        action_data action = frame_action(*pointer);
        process_action(&action);
    }
}

static void quiet_message_box(const char *) {}

// A single-player game on `map` with one local human player on team 0.
static void request_single_player_game(tag map)
{
    new_game_data game;
    get_default_new_game_data(&game, _game_type_local, map);
    game.player_count = 1;
    game.local_player_index = 0;
    new_player_data *player = &game.players[0];
    player->team_index = 0;
    player->type = _player_is_human;
    player->unique_identifier = 1;
    player->team_captain_identifier = 1;
    player->version = CURRENT_VERSION_IDENTIFIER;
    player->build_number = CURRENT_BUILD_NUMBER;
    slprintf(player->appearance.name, sizeof(player->appearance.name), "Player 1");
    set_next_game_data(&game);
    set_game_state(_game_state_running);
}

// The observer is placed at once, without smoothing, at the focus X,Y,Z
// looking along YAW and PITCH, every frame (nothing else then moves it); its
// own limits still apply: its pitch range, its zoom (the eye stands off the
// focus by it) and its bounds.
static void hold_camera(const render_camera &camera)
{
    if (!vesk_map_is_loaded() || game_->state != _game_state_running) return;
    const double to_radians = 3.14159265358979323846 / 180.0;
    const uint32_t placement = _camera_sample_x | _camera_sample_y | _camera_sample_z | _camera_sample_yaw |
                               _camera_sample_pitch;
    camera_sample(placement, false, (real)camera.x, (real)camera.y, (real)camera.z, (real)(camera.yaw * to_radians),
                  (real)(camera.pitch * to_radians), 0);
}

int main(int argc, char **argv)
{
    const char *data = nullptr, *actions = nullptr, *map = nullptr;
    render_camera camera = {};
    bool have_camera = false;
    long frames = 30;
    for (int i = 1; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (!strcmp(argv[i], "--data") && has_value)
            data = argv[++i];
        else if (!strcmp(argv[i], "--actions") && has_value)
            actions = argv[++i];
        else if (!strcmp(argv[i], "--map") && has_value)
        {
            map = argv[++i];
            if (strlen(map) != 4)
            {
                fprintf(stderr, "vesk_shot: --map takes a tag of four characters, not \"%s\"\n", map);
                return usage(), 2;
            }
        }
        else if (!strcmp(argv[i], "--camera") && has_value)
        {
            if (!parse_render_camera(argv[++i], &camera))
            {
                fprintf(stderr, "vesk_shot: --camera takes X,Y,Z,YAW,PITCH, not \"%s\"\n", argv[i]);
                return usage(), 2;
            }
            have_camera = true;
        }
        else if (!strcmp(argv[i], "--frames") && has_value)
        {
            char *end = nullptr;
            frames = strtol(argv[++i], &end, 10);
            if (*argv[i] == 0 || *end != 0 || frames < 1 || frames > 100000)
            {
                fprintf(stderr, "vesk_shot: --frames takes a number from 1 to 100000\n");
                return usage(), 2;
            }
        }
        else
        {
            fprintf(stderr, "vesk_shot: unexpected argument \"%s\"\n", argv[i]);
            return usage(), 2;
        }
    }
    if (have_camera && !map)
    {
        fprintf(stderr, "vesk_shot: --camera needs --map\n");
        return usage(), 2;
    }
    std::vector<shot_event> events;
    char reason[512];
    if (actions && !read_shot_script(actions, &events, reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_shot: %s\n", reason);
        return 2;
    }

    // Headless: the video library draws into memory and opens no window.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    const set_keyboard_queue_task_state_procedure set_keyboard_task = get_set_keyboard_queue_task_state_procedure();
    // The script is the only input: the input timer never runs.
    if (set_keyboard_task) set_keyboard_task(false);
    if (data ? chdir(data) != 0 : !set_working_directory_to_executable())
    {
        fprintf(stderr, "vesk_shot: cannot enter the data directory \"%s\"\n", data ? data : "(the program's)");
        return 1;
    }
    char header[512];
    slprintf(header, sizeof(header), "%s vesk_shot started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i) slprintfcat(header, sizeof(header), " %s", argv[i]);
    open_log_file(header);
    set_message_box_proc(quiet_message_box);
    // A frame may be taken beside a running game in the same directory.
    set_vesk_without_single_instance_lock(true);
    if (!initialize_vesk())
    {
        fprintf(stderr, "vesk_shot: the game could not start up (see the log)\n");
        close_log_file();
        return 1;
    }
    set_main_global_flags(0);
    pick_first_game_state();
    if (map) request_single_player_game(string_to_tag(map));

    pointer_state pointer = {{0, 0}, false};
    size_t next_event = 0;
    int16_t shown_state = game_->state;
    bool quit = false;
    for (int32_t frame = 0; frame <= frames && !quit; ++frame)
    {
        // In a game each frame is one tick of the local clock (the input timer
        // that keeps it never runs here), so fades and the game's ticks advance.
        if (map && frame > 0) advance_local_time();
        if (frame > 0) feed_frame(events, &next_event, frame, &pointer);
        if (have_camera) hold_camera(camera);
        if (frame == frames) request_screenshot(_screenshot_type_capture);
        update_everything();
        // A pass applies at most one change; the state may have moved on since.
        if (game_->state != shown_state)
        {
            printf("game state: %s -> %s\n", game_state_name(shown_state), game_state_name(game_->state));
            shown_state = game_->state;
        }
        quit = game_->state == _game_state_quit;
    }
    // A change requested by the last pass (Quit pressed late) is applied too.
    if (!quit && game_state_change_pending(nullptr))
    {
        update_everything();
        if (game_->state != shown_state)
            printf("game state: %s -> %s\n", game_state_name(shown_state), game_state_name(game_->state));
        quit = game_->state == _game_state_quit;
    }

    const std::string path = get_last_screenshot_path();
    const bool map_running = vesk_map_is_loaded() && game_->state == _game_state_running;
    // The state is left as a change would leave it (the menu closes its dialog).
    const game_state_procedure leave = get_game_state_exit_procedure((game_state)game_->state);
    if (!quit && leave) leave();
    // The map first: its bars dispose their own dialogs; the rest are closed after.
    dispose_vesk_from_old_map();
    const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure();
    if (close_dialogs) close_dialogs();
    close_log_file();
    if (quit)
    {
        printf("the program ends\n");
        return fflush(stdout) == 0 ? 0 : 1;
    }
    if (map && !map_running)
    {
        fprintf(stderr, "vesk_shot: the map '%s' did not start (see the log)\n", map);
        return 1;
    }
    if (path.empty())
    {
        fprintf(stderr, "vesk_shot: no screenshot was written after %ld frames (see the log)\n", frames);
        return 1;
    }
    char directory[4096];
    printf("%s/%s\n", getcwd(directory, sizeof(directory)) ? directory : ".", path.c_str());
    return fflush(stdout) == 0 ? 0 : 1;
}
