#pragma once
// The screen: the one place that owns the display.  It keeps the record of
// the display in use (`active_screen`: which device and mode, its size and
// pixel encoding, whether a game runs), opens and re-opens the video mode
// (through game/screen_sdl, the only file that calls SDL video), lends the
// back buffer to the renderer and the dialogs as a `bitmap_data`, shows it,
// and measures the frame rate.  Collections read `active_screen` to choose
// the sprite encoding; without an open screen (`screen_initialized` false:
// headless simulations, the film checker, the tools) sprites are prepared in
// 32 bits.
//
// Main thread only, except the pointer's screen facts, which the input timer
// reads through its own copy.

#include <cstdint>

#include <cstddef>

#include "point2d.h"
#include "world.h"

struct device_info;
struct screen_parameters;
struct bitmap_data;

enum screen_flags
{
    _screen_landscape_filtering_flag = 1,
    _screen_windowed_mode_flag = 2,
    _screen_render_in_window_flag = 4,
};

enum rasterizer_code
{
    _rasterizer_software = 0,
    _rasterizer_direct3d,
    _rasterizer_rave,
    _rasterizer_3dfx,
    _rasterizer_opengl,
    _rasterizer_dx11,
};

struct active_color_environment
{
    int32_t screen_initialized; // boolean
    int32_t rasterizer_initialized; // boolean, the renderer's
    uint16_t flags; // screen_flags
    int16_t encoding; // of the back buffer: 2 (565) for 16 bits, else 3
    int16_t device_index, mode_index; // NONE on both: the main-menu mode
    short_fixed gamma;
    uint8_t in_game; // 1 while a game runs
    uint8_t in_game_type; // 255 outside a game
    int16_t rasterizer_code; // rasterizer_code
    int16_t width, height;
    int16_t bit_depth, refresh_rate;
    int16_t physical_pixel_width, physical_pixel_height;
    int16_t dpi;
    device_info *device;
    bitmap_data *offscreen_pixels_structure;
    screen_parameters *prefs;
};

extern active_color_environment active_screen;

// The values before any screen is opened (what active_screen starts with).
active_color_environment initial_active_screen(void);

// The desktop size read at start (the default mode is chosen from it).
extern int16_t original_screen_width, original_screen_height;

// ---- life cycle and modes ----------------------------------------------------

// Once at start: the drawing manager, the desktop size, the preferences, the
// frame-rate read-out; then opens the main-menu mode.  A program that cannot
// open even the 640 x 480 window stops with a message box and a log line.
void initialize_screen(void);
// Device, mode and gamma from the preferences; the landscape-filtering flag.
void reset_active_screen_to_prefs(void);
// Stores the indices (or, for NONE, the main-menu mode: 640 x 480 on the
// preferred device able to show dialogs, else on software, else the
// 640 x 480 x 32 software fallback) and the mode's facts.
void set_active_screen(int16_t device_index, int16_t mode_index);
// Applies the indices now in active_screen; the arguments are those before
// the change.  Re-opens the video mode only on the first call and when the
// device, mode, size or depth changed; always clears the frame-rate samples.
void set_screen_parameters(int16_t old_device_index, int16_t old_mode_index);
// The state machine's screen step: the main-menu mode outside the running
// game, the preferred mode in it.
void set_screen_parameters_for_new_state(int16_t new_state);
// Nothing when the physical size and dpi are unchanged; else the logical size
// is physical x 96 / dpi and the buffers are re-opened; in software every
// dialog on the screen is drawn again, and the in-game bars and the overhead
// map are laid out again for the new size at the next frame (their
// per-frame update sees the size change).  Nothing calls it yet.
void set_active_screen_to_custom_resolution(int32_t physical_pixel_width, int32_t physical_pixel_height, int32_t dpi,
                                            uint16_t pixel_zoom_factor, bool change_screen);
// Width above 639 and height above 479.
bool is_valid_resolution(int16_t width, int16_t height);
bool display_device_supports_gamma(void); // false
void display_device_set_gamma(bool enable, short_fixed gamma); // nothing
bool is_windowed_mode(void); // false

// ---- bounds ------------------------------------------------------------------

void get_screen_bounds(rectangle2d *bounds);
void get_physical_screen_bounds(rectangle2d *bounds);
// The screen less the visible bars, unless the bars are drawn over the scene.
void calculate_destination_frame(rectangle2d *frame);
// True when the bars are drawn over the scene (translucent bars, or code 3).
bool gui_overlaps_screen_bitmap(void);

// ---- the back buffer -----------------------------------------------------------
// Only one bitmap is lent at a time; every lend is released before the next.
// Null when no video surface is open (nothing may draw then).

bitmap_data *get_render_destination(const rectangle2d *bounds);
void release_render_destination(bitmap_data *bitmap);
bitmap_data *get_linear_backbuffer(const rectangle2d *bounds);
void release_linear_backbuffer(bitmap_data *bitmap);
// Wraps memory as the lent bitmap: the bounds' top-left is its origin, rows
// `bytes_per_row` apart (width x depth when below 1).
bitmap_data *initialize_offscreen_bitmap_with_data(const rectangle2d *bounds, void *data, int32_t bytes_per_row);
// Zeroes the whole back buffer.
void clear_backbuffer(void);
// Shows the rectangle (null: the whole screen; empty: nothing).
void display_backbuffer(const rectangle2d *rectangle);

// ---- the frame rate ------------------------------------------------------------

enum
{
    FPS_HISTORY_PERIODS = 8,
    MACHINE_TICKS_PER_FPS_UPDATE = 125,
    FPS_HISTORY_LENGTH_MACHINE_TICKS = 1000,
};

enum
{
    _display_fps_flag = 1,
    _display_ping_flag = 2,
};

struct frame_rate_sample_data
{
    uint32_t display_flags;
    uint32_t frame_count_buckets[FPS_HISTORY_PERIODS];
    uint32_t bucket_start_ticks[FPS_HISTORY_PERIODS];
    float current_fps;
};
extern frame_rate_sample_data frame_rate_samples;

struct view_data;

// One rendered frame, at machine_tick_count or at `now` (milliseconds).
void update_fps_only(void);
void update_fps_only_at(uint32_t now);
// The read-out's text ("fps: %3.1f\r" or "fps: --\r", then the ping line in
// network games that measure it); empty when nothing is displayed.
void build_fps_display_text(char *buffer, size_t size);
// The post-rasterization effect at priority -100: draws the read-out.
void update_fps_display(view_data *view);
// Frame rate and ping together, on and off.  In a game, while the world is
// shown, the key F2 does the same (with any modifier; a held key does not
// repeat it).
void toggle_fps_display(void);

// Sleeps until the next frame may begin when the preferences cap the frame
// rate (max_fps positive).
void limit_framerate(void);

// ---- the frame -------------------------------------------------------------------

// The core's drawing procedure (once per main-loop pass): the scene's frame
// while the world is shown, then the dialogs, then the union of what changed
// is shown.
void draw_frame(int32_t game_ticks, bool world_shown);

// ---- the screen's neighbours -------------------------------------------------------

// The ping line asks networking's table (networking_procedures.h) whether the
// game measures latency and the local player's latency.

// The bars' heights come from their table (ingame_bar_procedures.h); until the
// bars register, they are hidden.

// The main menu: the size of its dialog.  Until registered: 640 x 480.
typedef void (*main_menu_dialog_size_procedure)(int16_t *width, int16_t *height);
bool register_main_menu_dialog_size_procedure(main_menu_dialog_size_procedure procedure);

// The interface: draws the frame-rate read-out's text (white, interface font
// 2, right-justified in the view's hole).  Until registered nothing is drawn.
typedef void (*draw_fps_text_procedure)(view_data *view, const char *text);
bool register_draw_fps_text_procedure(draw_fps_text_procedure procedure);

// The scene is drawn through the renderer's table (render_procedures.h,
// `render_scene`); until it registers, the frame is left as it was.

// The dialog layer, once per drawn frame.  `mark_dirty` marks the dialogs over
// a rectangle the scene has just drawn; `draw` idles the dialogs and draws
// their dirty parts into the lent back buffer `screen_bitmap`, adding what it
// drew to `changed` (screen coordinates).  Until registered no dialog is
// drawn.
typedef void (*mark_dialogs_dirty_procedure)(const rectangle2d *rectangle);
typedef void (*draw_dialogs_procedure)(bitmap_data *screen_bitmap, rectangle2d *changed);
bool register_draw_dialogs_procedures(mark_dialogs_dirty_procedure mark_dirty, draw_dialogs_procedure draw);

// Whether the dialogs have anything to draw this frame, asked (once, before
// `draw`) of a frame without the world on a hardware screen, which redraws
// everything it draws at all: with nothing to draw the frame is not drawn.
// Until registered every such frame is drawn.
typedef bool (*dialogs_need_drawing_procedure)(void);
bool register_dialogs_need_drawing_procedure(dialogs_need_drawing_procedure procedure);
// The next frame is drawn whole, however little changed (a screenshot of it
// is wanted).
void draw_next_frame_whole(void);
// After a frame that showed nothing new the frame limiter sleeps until input
// arrives or the next tick begins.  A program that paces the frames itself
// (its own clock, a frame a step) turns that off.
void set_idle_frame_wait(bool wait);
// Such a program may also give the procedure the frame limiter calls at the
// start of every pass, its own and those of the modal loops (an end screen
// runs its passes until its time is up): it begins the program's next frame
// there when the pass is not its own.  Null (the default): none.
void set_frame_pass_procedure(void (*procedure)(void));

// Screenshots, once per drawn frame: after the scene and the dialogs are in
// the back buffer and no bitmap is lent, before it is shown.  The procedure
// takes the screenshot that was requested, if any.  Until registered nothing
// is taken.
typedef void (*frame_drawn_procedure)(void);
bool register_frame_drawn_procedure(frame_drawn_procedure procedure);

// The in-game bars are updated once per drawn frame, before the scene is drawn,
// through their table (ingame_bar_procedures.h).

// Joins the screen to the core: the start-up step, the frame, the state
// step, the frame limiter, the window events, the pointer's screen, the
// observer's rectangles and the pointer-to-view consumer.
void register_screen_hooks(void);

// Forgets the screen's state as before start-up (tests).
void reset_screen_for_tests(void);
