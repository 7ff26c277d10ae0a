// vesk_shot: runs the game's own start-up and main loop headless, under the
// video library's "dummy" driver, feeds scripted pointer and key events at
// given frames, and writes the frame shown after N frames as a screenshot.
//
//   vesk_shot [--data DIR] [--actions FILE] [--frames N]
//             [--map TAG [--seed S] [--camera X,Y,Z,YAW,PITCH] [--orders FILE] [--trace FILE] [--record FILM]
//              [--save-at TICK SAVE]]
//
// DIR is the directory the game runs from (its tags and preferences;
// default: the program's own directory), FILE a script (tools/vesk_shot/shot_script.h), N the frames
// drawn before the shot (default 30).  Each frame is one tick of the input
// layer's clock, as the game's 30 Hz input timer would give it: the script's
// events of the frame reach the input layer as the window system's events,
// the keyboard task's procedure runs once, and the main loop takes the
// frame's records, runs the game's ticks and draws.  With --map the program
// enters the running state on the map TAG (four characters) instead of
// staying in the main menu, in the game vesk_sim starts (seed S, default 0;
// tools/shared/determinism_harness.h), so the game clock advances one tick a
// frame and the same ticks give vesk_sim's trace whatever the frames show;
// --camera then holds the observer at every frame at the focus X,Y,Z (cells)
// looking along YAW, PITCH (degrees, negative looking down), within the
// observer's own limits; --orders gives the timed unit orders of FILE as
// vesk_sim --orders does; --trace writes "<tick> <hash>" after every tick to
// FILE, as vesk_sim prints them; --record copies the game's film, closed at
// the end however the game ended (its frames ran out, or it was quit and its
// end screens were passed: the run then ends when the main menu is back), to
// FILM (without it no film is kept: the game's own films and
// saved games are never touched); --save-at saves the game, as an autosave
// would, to SAVE (a local tag file) after the frame whose ticks reach TICK,
// between two ticks, and plays on (vesk_sim --continue restores it).  The
// shot lands in "screenshots" and the log is "vesk_shot_log.txt", both in the
// directory vesk_shot was called from, never in DIR.  Each game-state change is printed as
// "game state: OLD -> NEW", and in a game each change of the selection's size as "frame F: N
// units selected" and the carnage report's opening and closing as "frame F: the carnage
// report opens" ("closes").  Exit 0 printing the screenshot's path when it was
// written, or when the program was told to quit; 1 with a one-line reason
// otherwise; 2 for wrong usage.  Relative paths of FILE, FILM and the trace
// name files where vesk_shot was called from.  --window draws in a real window
// on the display the environment names instead of in memory (the same frames:
// the frame count, not the wall clock, still paces the game).  The shot is
// written as the game writes its screenshots (the "Screenshots" settings of
// DIR's power-user file): by default PNG, but JPEG ("jpg") for a game on a
// map drawn through OpenGL, which only --window can choose; the printed path
// ends in the format's extension.  The local clock moves a tick a frame, so
// what the game times on it passes in frames: the carnage report takes
// Done, Return or Space once it has been open 30 frames, and its epilogue's
// texts and fades run on frames too.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <SDL.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "cseries/cseries.h"
#include "action_queue_procedures.h"
#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "frame_paced_program.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "observer.h"
#include "render_harness.h"
#include "screenshots.h"
#include "selection.h"
#include "shot_script.h"
#include "state_hash.h"
#include "subsystems.h"
#include "tool_folders.h"
#include "unit_orders.h"
#include "sound/sound_manager.h"
#include "version.h"
#include "message_dialog.h"
#include "modal_loops.h"
#include "screen.h"
#include "vesk.h"
#include "vesk_random.h"
#include "vesk/game_statistics.h"
#include "tool_help.h"

static void usage(FILE *out = stderr)
{
    fprintf(out, "usage: vesk_shot [--data DIR] [--actions FILE] [--frames N] [--window]\n"
                    "                 [--map TAG [--seed S] [--camera X,Y,Z,YAW,PITCH] [--orders FILE] [--trace FILE] "
                    "[--record FILM] [--save-at TICK SAVE]]\n"
                    "The shot is a PNG, or a JPEG of a game drawn through OpenGL (--window), as the game's "
                    "screenshot settings say.\n"
                    "FILE's lines: FRAME press|release|right-press|right-release|move X Y, FRAME key|down|up KEY;\n"
                    "KEY is a code 0-99 or one of:");
    for (int32_t code = 0; const char *name = shot_key_name(code); ++code)
        fprintf(out, "%s %s", code % 16 == 0 ? "\n " : "", name);
    fprintf(out, "\n");
}

// What the script has left held: the pointer and the modifier keys, which
// later key events carry as the window system's would.
struct device_state
{
    int16_t x, y;
    int32_t modifiers; // SDL KMOD_ bits
};

static void send_pointer(device_state *device, int16_t x, int16_t y)
{
    device->x = x;
    device->y = y;
    SDL_Event event = {};
    event.type = SDL_MOUSEMOTION;
    event.motion.x = (Uint16)x;
    event.motion.y = (Uint16)y;
    queue_input_event_if_necessary(&event);
}

static void send_button(device_state *device, uint8_t button, bool down)
{
    SDL_Event event = {};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.button = button;
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.x = (Uint16)device->x;
    event.button.y = (Uint16)device->y;
    queue_input_event_if_necessary(&event);
}

static void send_key(device_state *device, int16_t key_code, bool down)
{
    const int32_t symbol = sdl_key_from_internal_key_code(key_code);
    if (symbol == NONE || symbol == 0) return;
    int32_t flag = 0;
    switch (symbol)
    {
    case SDLK_LSHIFT: flag = KMOD_LSHIFT; break;
    case SDLK_LCTRL: flag = KMOD_LCTRL; break;
    case SDLK_LALT: flag = KMOD_LALT; break;
    default: break;
    }
    device->modifiers = down ? device->modifiers | flag : device->modifiers & ~flag;
    SDL_Event event = {};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = (SDLKey)symbol;
    event.key.keysym.mod = (SDLMod)device->modifiers;
    queue_input_event_if_necessary(&event);
}

// Hands the frame's scripted events to the input layer as window-system
// events, then runs the keyboard task once: it records the frame's action
// and advances the local clock by one tick, as the input timer does.
static void feed_frame(const std::vector<shot_event> &events, size_t *next, int32_t frame, device_state *device)
{
    while (*next < events.size() && events[*next].frame == frame)
    {
        const shot_event &event = events[(*next)++];
        switch (event.kind)
        {
        case _shot_press:
        case _shot_release:
        case _shot_right_press:
        case _shot_right_release:
            send_pointer(device, event.x, event.y);
            send_button(device,
                        event.kind == _shot_right_press || event.kind == _shot_right_release ? SDL_BUTTON_RIGHT
                                                                                            : SDL_BUTTON_LEFT,
                        event.kind == _shot_press || event.kind == _shot_right_press);
            break;
        case _shot_move: send_pointer(device, event.x, event.y); break;
        case _shot_key:
            send_key(device, event.key_code, true);
            send_key(device, event.key_code, false);
            break;
        case _shot_key_down: send_key(device, event.key_code, true); break;
        case _shot_key_up: send_key(device, event.key_code, false); break;
        default: break;
        }
    }
    keyboard_queue_task_proc(nullptr);
}

// The game's side of a run on a map: the orders, the trace, the frames.
static struct shot_game
{
    std::vector<unit_order> orders;
    FILE *trace;
    bool started; // the orders of the first tick were given
    bool saved, save_failed; // --save-at saved; could not save (the run fails)
    bool ended; // the game on the map ended and the main menu came back
    uint32_t frame;
} shot_game;

// The camera's clock: a frame lasts a tick's 33 1/3 ms however long it took
// to draw, so the camera's glides, and the frame shot, are the same every run.
static uint32_t frame_clock(void)
{
    return shot_game.frame * 100 / 3;
}

static bool map_running(void)
{
    return vesk_map_is_loaded() && game_->state == _game_state_running;
}

// Between two ticks: the orders of the tick about to start, as vesk_sim's
// harness gives them.
static void give_orders_before_tick(void)
{
    if (!shot_game.orders.empty()) give_unit_orders_of_tick(game_->game_time, &shot_game.orders);
}

// The core's after-tick observer: the state hash of the tick that ended, as
// vesk_sim prints it, then the orders of the next.
static void shot_tick_ended(void)
{
    if (!map_running()) return;
    if (shot_game.trace) fprintf(shot_game.trace, "%d %08x\n", game_->game_time, compute_state_hash());
    give_orders_before_tick();
}

// The game vesk_sim starts on `map` from `seed`.
static void request_game(tag map, uint32_t seed)
{
    new_game_data game;
    get_simulation_game_data(map, seed, &game);
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

// A path named on the command line, made whole before the tool enters its data directory.
static std::string whole_path(const char *path, const std::string &directory)
{
    return !path ? std::string() : path[0] == '/' ? std::string(path) : directory + "/" + path;
}

// What the command line asks of the tool.
struct shot_options
{
    const char *data = nullptr, *actions = nullptr, *map = nullptr, *orders_path = nullptr, *trace_path = nullptr,
               *record_path = nullptr, *save_path = nullptr;
    long save_at = -1;
    std::string save_copy; // the save's path from where vesk_shot was called
    render_camera camera = {};
    bool have_camera = false, have_seed = false, window = false;
    long frames = 30;
    unsigned long seed = 0;
};

// Reads the command line into `o`.  Returns -1 to go on, or 2 after a usage
// error.
static int parse_shot_arguments(int argc, char **argv, shot_options *o)
{
    const char *&data = o->data;
    const char *&actions = o->actions;
    const char *&map = o->map;
    const char *&orders_path = o->orders_path;
    const char *&trace_path = o->trace_path;
    const char *&record_path = o->record_path;
    render_camera &camera = o->camera;
    bool &have_camera = o->have_camera;
    bool &have_seed = o->have_seed;
    bool &window = o->window;
    long &frames = o->frames;
    unsigned long &seed = o->seed;
    for (int i = 1; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (!strcmp(argv[i], "--data") && has_value)
            data = argv[++i];
        else if (!strcmp(argv[i], "--window"))
            window = true;
        else if (!strcmp(argv[i], "--actions") && has_value)
            actions = argv[++i];
        else if (!strcmp(argv[i], "--orders") && has_value)
            orders_path = argv[++i];
        else if (!strcmp(argv[i], "--trace") && has_value)
            trace_path = argv[++i];
        else if (!strcmp(argv[i], "--record") && has_value)
            record_path = argv[++i];
        else if (!strcmp(argv[i], "--save-at") && i + 2 < argc)
        {
            char *end = nullptr;
            o->save_at = strtol(argv[++i], &end, 10);
            if (*argv[i] < '0' || *argv[i] > '9' || *end != 0 || o->save_at > 100000)
            {
                fprintf(stderr, "vesk_shot: --save-at takes a tick from 0 to 100000 and a file\n");
                return usage(), 2;
            }
            o->save_path = argv[++i];
        }
        else if (!strcmp(argv[i], "--map") && has_value)
        {
            map = argv[++i];
            if (strlen(map) != 4)
            {
                fprintf(stderr, "vesk_shot: --map takes a tag of four characters, not \"%s\"\n", map);
                return usage(), 2;
            }
        }
        else if (!strcmp(argv[i], "--seed") && has_value)
        {
            const char *text = argv[++i];
            char *end = nullptr;
            errno = 0;
            seed = strtoul(text, &end, 10);
            if (*text < '0' || *text > '9' || *end != 0 || errno != 0 || seed > 0xFFFFFFFFul)
            {
                fprintf(stderr, "vesk_shot: --seed takes a decimal number from 0 to 4294967295\n");
                return usage(), 2;
            }
            have_seed = true;
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
    return -1;
}

// What a frame begins with, wherever its pass runs: the main loop below, or
// a modal loop (the end screens of a game) running passes of its own.
static struct shot_frames
{
    const shot_options *options;
    const std::vector<shot_event> *events;
    size_t next_event;
    device_state device;
    bool quit_requested; // the frames ran out inside a modal loop
} shot_frames;

// Begins `frame`: its scripted events, the held camera, the screenshot of the last.
static void begin_frame(int32_t frame)
{
    const shot_options *o = shot_frames.options;
    shot_game.frame = (uint32_t)frame;
    if (frame > 0) feed_frame(*shot_frames.events, &shot_frames.next_event, frame, &shot_frames.device);
    if (o->have_camera) hold_camera(o->camera);
    if (frame == o->frames) request_screenshot(_screenshot_type_capture);
}

// The frame limiter's call at the start of every pass: a modal loop's pass
// is a frame of its own, or the end screens would wait for ever on a clock
// that only the frames move.  Once the frames have run out the program is
// told to quit, which ends the end screens.
static void shot_frame_pass(void)
{
    if (!modal_loop_is_running()) return;
    begin_frame((int32_t)shot_game.frame + 1);
    if ((long)shot_game.frame > shot_frames.options->frames && !shot_frames.quit_requested)
    {
        shot_frames.quit_requested = true;
        set_game_state(_game_state_quit);
    }
}

// Runs the frames, feeding the scripted events and holding the camera, and
// prints each change of the game state and of the selection.  A game on a
// map that ends (its end screens passed, back in the main menu) ends the run.
// True when the program quit.
static bool play_frames(const shot_options *o, const std::vector<shot_event> &events)
{
    const char * const map = o->map;
    const long frames = o->frames;
    shot_frames = {o, &events, 0, {0, 0, 0}, false};
    int16_t shown_state = game_->state;
    int32_t shown_selection = 0;
    bool shown_report = false;
    bool quit = false, saved = o->save_path == nullptr;
    set_frame_pass_procedure(shot_frame_pass);
    for (begin_frame(0); !quit; begin_frame((int32_t)shot_game.frame + 1))
    {
        update_everything();
        const int32_t frame = (int32_t)shot_game.frame;
        // A pass applies at most one change; the state may have moved on since.
        if (game_->state != shown_state)
        {
            printf("game state: %s -> %s\n", game_state_name(shown_state), game_state_name(game_->state));
            shown_state = game_->state;
        }
        // A script clicks the report's Done (or presses Return) 30 frames or
        // more after this line's frame.
        if (postgame_carnage_report_dialog_is_open() != shown_report)
        {
            shown_report = !shown_report;
            printf("frame %d: the carnage report %s\n", frame, shown_report ? "opens" : "closes");
        }
        if (map && map_running())
        {
            // The orders of the first tick come before it, as in vesk_sim.
            if (!shot_game.started) give_orders_before_tick();
            shot_game.started = true;
            const int32_t selected = get_current_selection_count();
            if (selected != shown_selection) printf("frame %d: %d units selected\n", frame, selected);
            shown_selection = selected;
            if (!saved && game_->game_time >= o->save_at)
            {
                char reason[512];
                saved = true;
                shot_game.saved = save_running_game(o->save_copy.c_str(), reason, sizeof(reason));
                if (shot_game.saved)
                    printf("frame %d: saved at tick %d\n", frame, game_->game_time);
                else
                {
                    fprintf(stderr, "vesk_shot: %s\n", reason);
                    shot_game.save_failed = true;
                }
            }
        }
        quit = game_->state == _game_state_quit;
        if (!quit && map && shot_game.started && game_->state == _game_state_displaying_main_menu)
        {
            shot_game.ended = true;
            printf("frame %d: the game ended\n", frame);
            break;
        }
        if (frame >= frames) break;
    }
    set_frame_pass_procedure(nullptr);
    // A change requested by the last pass (Quit pressed late) is applied too.
    if (!quit && !shot_game.ended && game_state_change_pending(nullptr))
    {
        update_everything();
        if (game_->state != shown_state)
            printf("game state: %s -> %s\n", game_state_name(shown_state), game_state_name(game_->state));
        quit = game_->state == _game_state_quit;
    }
    return quit;
}

int main(int argc, char **argv)
{
    report_failed_writes();
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    shot_options options;
    const int parsed = parse_shot_arguments(argc, argv, &options);
    if (parsed >= 0) return parsed;
    const char *&data = options.data;
    const char *&actions = options.actions;
    const char *&map = options.map;
    const char *&orders_path = options.orders_path;
    const char *&trace_path = options.trace_path;
    const char *&record_path = options.record_path;
    bool &have_camera = options.have_camera;
    bool &have_seed = options.have_seed;
    bool &window = options.window;
    long &frames = options.frames;
    unsigned long &seed = options.seed;
    if (!map && (have_camera || have_seed || orders_path || trace_path || record_path || options.save_path))
    {
        fprintf(stderr, "vesk_shot: --seed, --camera, --orders, --trace, --record and --save-at need --map\n");
        return usage(), 2;
    }
    std::vector<shot_event> events;
    char reason[512];
    if (actions && !read_shot_script(actions, &events, reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_shot: %s\n", reason);
        return 2;
    }
    if (orders_path && !read_unit_orders(orders_path, &shot_game.orders, reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_shot: %s: %s\n", orders_path, reason);
        return 2;
    }
    char working[4096];
    const std::string called_from = getcwd(working, sizeof(working)) ? working : ".";
    const std::string film_copy = whole_path(record_path, called_from);
    options.save_copy = whole_path(options.save_path, called_from);
    if (trace_path && !(shot_game.trace = fopen(whole_path(trace_path, called_from).c_str(), "w")))
    {
        fprintf(stderr, "vesk_shot: the trace \"%s\" cannot be written\n", trace_path);
        return 1;
    }

    // Headless unless asked: the video library draws into memory and opens no window.
    if (!window) setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    register_tick_observer_procedure(shot_tick_ended);
    const auto set_keyboard_task = get_action_queue_procedures()->set_keyboard_queue_task_state;
    // The input timer never runs: the frames are the input's clock.
    if (set_keyboard_task) set_keyboard_task(false);
    if (data ? chdir(data) != 0 : !set_working_directory_to_executable())
    {
        fprintf(stderr, "vesk_shot: cannot enter the data directory \"%s\"\n", data ? data : "(the program's)");
        return 1;
    }
    char header[512];
    slprintf(header, sizeof(header), "%s vesk_shot started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i) slprintfcat(header, sizeof(header), " %s", argv[i]);
    // The log and the shot go where vesk_shot was called from: the game's own
    // folder keeps only what the player made there.
    open_tool_log_file("vesk_shot", called_from.c_str(), header);
    if (!set_screenshot_directory((called_from + "/screenshots").c_str()))
    {
        fprintf(stderr, "vesk_shot: no screenshots directory under \"%s\"\n", called_from.c_str());
        close_log_file();
        return 1;
    }
    if (!use_private_player_folders("vesk_shot"))
    {
        close_log_file();
        return 1;
    }
    if (!start_frame_paced_program(frame_clock))
    {
        fprintf(stderr, "vesk_shot: the game could not start up (see the log)\n");
        close_log_file();
        return 1;
    }
    if (map) request_game(string_to_tag(map), (uint32_t)seed);

    const bool quit = play_frames(&options, events);

    const std::string path = get_last_screenshot_path();
    // However it ended (Quit, its end screens, the frames running out), a
    // game that ran left its film.
    const bool was_running = shot_game.started;
    // The state is left as a change would leave it (the menu closes its dialog).
    const game_state_procedure leave = get_game_state_exit_procedure((game_state)game_->state);
    if (!quit && leave) leave();
    // The map first: its bars dispose their own dialogs; the rest are closed after.
    dispose_vesk_from_old_map();
    const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure();
    if (close_dialogs) close_dialogs();
    bool written = true;
    if (shot_game.trace) written = fclose(shot_game.trace) == 0;
    shot_game.trace = nullptr;
    if (!written) fprintf(stderr, "vesk_shot: the trace \"%s\" could not be written\n", trace_path);
    // The map's disposal closed the film.
    if (written && record_path && was_running && !save_simulation_film(film_copy.c_str(), reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_shot: %s\n", reason);
        written = false;
    }
    close_log_file();
    if (!written || shot_game.save_failed) return 1;
    if (options.save_path && !shot_game.saved)
    {
        fprintf(stderr, "vesk_shot: the game did not reach tick %ld to be saved\n", options.save_at);
        return 1;
    }
    if (quit || shot_game.ended)
    {
        if (quit) printf("the program ends\n");
        return fflush(stdout) == 0 ? 0 : 1;
    }
    if (map && !was_running)
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
    if (path[0] == '/')
        printf("%s\n", path.c_str());
    else
        printf("%s/%s\n", getcwd(directory, sizeof(directory)) ? directory : ".", path.c_str());
    return fflush(stdout) == 0 ? 0 : 1;
}
