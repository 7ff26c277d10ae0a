// The screen.  See screen.h.

#include "screen.h"
#include "render_procedures.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "screen_procedures.h"
#include "ingame_bar_procedures.h"
#include "cseries/cseries.h"
#include "bitmaps.h"
#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "hardware_rasterizer.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "networking_procedures.h"
#include "observer.h"
#include "platform_events.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "screen_preferences.h"
#include "screen_sdl.h"
#include "screen_setup.h"
#include "vesk.h"

active_color_environment initial_active_screen(void)
{
    active_color_environment screen = {};
    screen.screen_initialized = false;
    screen.rasterizer_initialized = false;
    screen.flags = 0;
    screen.encoding = NONE;
    screen.device_index = NONE;
    screen.mode_index = NONE;
    screen.gamma = NONE;
    screen.in_game = 0;
    screen.in_game_type = 255;
    screen.rasterizer_code = NONE;
    screen.width = screen.height = NONE;
    screen.bit_depth = NONE;
    screen.refresh_rate = 0;
    screen.physical_pixel_width = screen.physical_pixel_height = NONE;
    screen.dpi = 96;
    screen.device = nullptr;
    screen.offscreen_pixels_structure = nullptr;
    screen.prefs = nullptr;
    return screen;
}

active_color_environment active_screen = initial_active_screen();

// ---- the running screen -----------------------------------------------------------

int16_t original_screen_width = NONE, original_screen_height = NONE;
frame_rate_sample_data frame_rate_samples;

static struct screen_module_globals
{
    bool buffers_opened; // the first set_screen_parameters always opens them
    uint8_t last_in_game;
    int32_t offscreen_rows; // row slots of active_screen.offscreen_pixels_structure
    bool window_visible; // not iconified
    uint32_t last_frame_start; // the frame limiter's
    bool frame_was_idle; // the last frame showed nothing new: no world, no dialog redrawn
    bool whole_frame_wanted; // draw_next_frame_whole: nothing is left out of the next frame
    // The camera's part of the last scene drawn (what build_observer_view
    // fills), while the game is paused: its scene stays on the screen.
    bool paused_scene_shown;
    uint8_t paused_scene_view[offsetof(view_data, rasterizer_code)];
} screen_module_globals;

// What the input timer reads of the screen: copies that a mode change
// rewrites but never frees.
static struct
{
    std::atomic<int32_t> width{640}, height{480}, dpi{96};
    std::atomic<bool> window_active{true};
} pointer_screen_facts;

// Outside every globals record: start-up never empties a registration.
static procedure_slot<main_menu_dialog_size_procedure> main_menu_size_slot("main menu dialog size");
static procedure_slot<draw_fps_text_procedure> draw_fps_text_slot("draw fps text");
static procedure_slot<mark_dialogs_dirty_procedure> mark_dialogs_dirty_slot("mark dialogs dirty");
static procedure_slot<draw_dialogs_procedure> draw_dialogs_slot("draw dialogs");
static procedure_slot<frame_drawn_procedure> frame_drawn_slot("frame drawn");
static procedure_slot<dialogs_need_drawing_procedure> dialogs_need_drawing_slot("dialogs need drawing");


bool register_main_menu_dialog_size_procedure(main_menu_dialog_size_procedure procedure)
{
    return main_menu_size_slot.fill(procedure);
}

bool register_draw_fps_text_procedure(draw_fps_text_procedure procedure) { return draw_fps_text_slot.fill(procedure); }


bool register_draw_dialogs_procedures(mark_dialogs_dirty_procedure mark_dirty, draw_dialogs_procedure draw)
{
    return fill_procedure_pair(&mark_dialogs_dirty_slot, &draw_dialogs_slot, mark_dirty, draw);
}

bool register_frame_drawn_procedure(frame_drawn_procedure procedure) { return frame_drawn_slot.fill(procedure); }

void draw_next_frame_whole(void) { screen_module_globals.whole_frame_wanted = true; }

bool register_dialogs_need_drawing_procedure(dialogs_need_drawing_procedure procedure)
{
    return dialogs_need_drawing_slot.fill(procedure);
}


static void get_main_menu_dialog_size(int16_t *width, int16_t *height)
{
    *width = 640;
    *height = 480;
    main_menu_dialog_size_procedure procedure = main_menu_size_slot.get();
    if (procedure) procedure(width, height);
}

static int16_t bar_height(int16_t (*procedure)(void))
{
    const int16_t height = procedure ? procedure() : 0;
    return height > 0 ? height : 0;
}

static void publish_pointer_screen_facts(void)
{
    pointer_screen_facts.width.store(active_screen.physical_pixel_width > 0 ? active_screen.physical_pixel_width : 640);
    pointer_screen_facts.height.store(active_screen.physical_pixel_height > 0 ? active_screen.physical_pixel_height
                                                                              : 480);
    pointer_screen_facts.dpi.store(active_screen.dpi > 0 ? active_screen.dpi : 96);
}

// ---- modes --------------------------------------------------------------------------

bool is_valid_resolution(int16_t width, int16_t height) { return width > 639 && height > 479; }
bool display_device_supports_gamma(void) { return false; }
void display_device_set_gamma(bool enable, short_fixed gamma)
{
    (void)enable;
    (void)gamma;
}
bool is_windowed_mode(void) { return false; }

void reset_active_screen_to_prefs(void)
{
    const screen_parameters *prefs = active_screen.prefs;
    if (!prefs) return;
    active_screen.device_index = prefs->device_index;
    active_screen.mode_index = prefs->mode_index;
    active_screen.gamma = prefs->gamma;
    if (prefs->flags & _screen_pref_landscape_filtering_flag) active_screen.flags |= _screen_landscape_filtering_flag;
    else active_screen.flags &= (uint16_t)~_screen_landscape_filtering_flag;
}

void set_active_screen(int16_t device_index, int16_t mode_index)
{
    VASSERT(active_screen.screen_initialized, "active_screen.screen_initialized");
    if ((uint16_t)device_index < 65535 && (uint16_t)mode_index < 65535)
    {
        active_screen.device_index = device_index;
        active_screen.mode_index = mode_index;
    }
    else
    {
        // The main menu: a mode of exactly its dialog's size.
        int16_t width, height, found_device = NONE, found_mode = NONE;
        get_main_menu_dialog_size(&width, &height);
        const tag preferred = active_screen.prefs ? active_screen.prefs->rasterizer_id : SOFTWARE_RASTERIZER_ID;
        if (!find_device_and_mode(preferred, nullptr, width, height, &found_device, &found_mode) ||
            !rasterizer_supports_direct_dialog_rasterization(get_screen_device(found_device)))
        {
            if (!find_device_and_mode(SOFTWARE_RASTERIZER_ID, nullptr, width, height, &found_device, &found_mode))
                found_device = found_mode = NONE;
        }
        active_screen.device_index = found_device;
        active_screen.mode_index = found_mode;
    }

    device_info *device = nullptr;
    if (active_screen.device_index >= 0 && active_screen.device_index < get_screen_device_count())
        device = get_screen_device(active_screen.device_index);
    if (device && VASSERT(active_screen.mode_index >= 0 && active_screen.mode_index < device->mode_count,
                          "mode_index >= 0 && mode_index < device->mode_count"))
    {
        const device_mode_info *mode = &device->modes[active_screen.mode_index];
        active_screen.rasterizer_code = device->rasterizer_code;
        active_screen.width = mode->width;
        active_screen.height = mode->height;
        active_screen.bit_depth = mode->bit_depth;
        active_screen.refresh_rate = mode->refresh_rate;
        active_screen.device = device;
    }
    else
    {
        // Nothing can show the main menu (or the indices name nothing): the
        // software fallback.
        active_screen.device_index = active_screen.mode_index = NONE;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.width = 640;
        active_screen.height = 480;
        active_screen.bit_depth = DESIRED_BIT_DEPTH;
        active_screen.refresh_rate = 0;
        active_screen.device = nullptr;
    }
    active_screen.physical_pixel_width = active_screen.width;
    active_screen.physical_pixel_height = active_screen.height;
    active_screen.encoding = active_screen.bit_depth == 16 ? _16bit_565_encoding : _32bit_encoding;
}

static void clear_frame_rate_samples(void)
{
    frame_rate_samples.current_fps = 0.0f;
    memset(frame_rate_samples.frame_count_buckets, 0, sizeof(frame_rate_samples.frame_count_buckets));
    memset(frame_rate_samples.bucket_start_ticks, 0, sizeof(frame_rate_samples.bucket_start_ticks));
}

static void free_offscreen_pixels_structure(void)
{
    free(active_screen.offscreen_pixels_structure);
    active_screen.offscreen_pixels_structure = nullptr;
    screen_module_globals.offscreen_rows = 0;
}

static void allocate_offscreen_pixels_structure(void)
{
    VASSERT(!active_screen.offscreen_pixels_structure, "!active_screen.offscreen_pixels_structure");
    free_offscreen_pixels_structure();
    const int32_t rows = active_screen.height > 0 ? active_screen.height : 1;
    active_screen.offscreen_pixels_structure = (bitmap_data *)calloc(1, sizeof_bitmap(rows, 0));
    if (!active_screen.offscreen_pixels_structure)
        error_message(_error_out_of_memory, __FILE__, __LINE__, "could not allocate pixel structures");
    screen_module_globals.offscreen_rows = rows;
}

// Opens the active mode; when SDL refuses it, a 640 x 480 window in software,
// and when even that fails the program stops: nothing ever draws through a
// missing surface.
static void open_drawing_buffers(void)
{
    if (!allocate_drawing_buffers(active_screen.device_index, active_screen.mode_index, true))
    {
        log_message(__FILE__, __LINE__, "allocate_drawing_buffers failed for %d x %d x %d: falling back to 640 x 480 "
                    "in a window", (int32_t)active_screen.width, (int32_t)active_screen.height,
                    (int32_t)active_screen.bit_depth);
        active_screen.device_index = active_screen.mode_index = NONE;
        active_screen.device = nullptr;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.width = active_screen.physical_pixel_width = 640;
        active_screen.height = active_screen.physical_pixel_height = 480;
        active_screen.bit_depth = DESIRED_BIT_DEPTH;
        active_screen.refresh_rate = 0;
        active_screen.encoding = _32bit_encoding;
        if (!open_fallback_video_mode())
        {
            log_message(__FILE__, __LINE__, "no video mode could be opened, not even 640 x 480 in a window");
            show_message_box("The screen could not be opened, not even as a 640 x 480 window.\nGood bye.\n");
            exit(1);
        }
        const int16_t encoding = screen_surface_encoding();
        if (encoding != NONE) active_screen.encoding = encoding;
    }
    allocate_offscreen_pixels_structure();
}

static void log_running_mode(void)
{
    const device_info *device = active_screen.device;
    if (!active_screen.in_game || !device || active_screen.mode_index < 0) return;
    const device_mode_info *mode = &device->modes[active_screen.mode_index];
    // No device here syncs to the display: the vertical-sync note waits for a back end that does.
    const bool vsync = false;
    log_message(nullptr, -1, "Running %s at %d x %d%s%s", device->name,
                (int32_t)lroundf((float)active_screen.width * mode->scale),
                (int32_t)lroundf((float)active_screen.height * mode->scale), mode->scale != 1.0f ? " [HiDPI]" : "",
                vsync ? " (VSync ON)" : "");
}

void set_screen_parameters(int16_t old_device_index, int16_t old_mode_index)
{
    const int16_t old_width = active_screen.width, old_height = active_screen.height;
    const int16_t old_bit_depth = active_screen.bit_depth;
    set_active_screen(active_screen.device_index, active_screen.mode_index);

    const bool changed = active_screen.device_index != old_device_index || active_screen.mode_index != old_mode_index ||
                         active_screen.width != old_width || active_screen.height != old_height ||
                         active_screen.bit_depth != old_bit_depth;
    if (!screen_module_globals.buffers_opened || changed)
    {
        if (screen_module_globals.buffers_opened)
        {
            dispose_drawing_buffers();
            free_offscreen_pixels_structure();
        }
        screen_module_globals.buffers_opened = true;
        open_drawing_buffers();
    }
    clear_frame_rate_samples();
    log_running_mode();
    screen_module_globals.last_in_game = active_screen.in_game;
    publish_pointer_screen_facts();
}

void set_screen_parameters_for_new_state(int16_t new_state)
{
    if (!active_screen.screen_initialized) return;
    const active_color_environment before = active_screen;
    reset_active_screen_to_prefs();
    if (new_state == _game_state_running)
    {
        active_screen.in_game = 1;
        active_screen.in_game_type = (uint8_t)game_->type;
    }
    else
    {
        active_screen.device_index = active_screen.mode_index = NONE;
        active_screen.in_game = 0;
        active_screen.in_game_type = 255;
    }
    if (active_screen.device_index != before.device_index || active_screen.mode_index != before.mode_index ||
        active_screen.gamma != before.gamma || active_screen.flags != before.flags ||
        active_screen.in_game != before.in_game || active_screen.in_game_type != before.in_game_type)
        set_screen_parameters(before.device_index, before.mode_index);
}

void set_active_screen_to_custom_resolution(int32_t physical_pixel_width, int32_t physical_pixel_height, int32_t dpi,
                                            uint16_t pixel_zoom_factor, bool change_screen)
{
    if (dpi <= 0) dpi = 96; // a screen that reports no density is taken at the ordinary one
    if (physical_pixel_width == active_screen.physical_pixel_width &&
        physical_pixel_height == active_screen.physical_pixel_height && dpi == active_screen.dpi)
        return;
    active_screen.physical_pixel_width = (int16_t)physical_pixel_width;
    active_screen.physical_pixel_height = (int16_t)physical_pixel_height;
    active_screen.dpi = (int16_t)dpi;
    active_screen.width = (int16_t)(physical_pixel_width * 96 / dpi);
    active_screen.height = (int16_t)(physical_pixel_height * 96 / dpi);
    if (active_screen.prefs) active_screen.prefs->pixel_zoom_factor = pixel_zoom_factor;
    if (change_screen && active_screen.rasterizer_code == _rasterizer_software)
    {
        dispose_drawing_buffers();
        free_offscreen_pixels_structure();
        if (!create_sdl_window(active_screen.width, active_screen.height, active_screen.bit_depth, 0))
            open_drawing_buffers(); // falls back, or stops
        else
            allocate_offscreen_pixels_structure();
    }
    // A hardware back end keeps its window and context and draws at the new
    // size from its next frame.
    else if (change_screen) resize_screen_hardware();
    publish_pointer_screen_facts();
    // The in-game bars and the overhead map see the new size at the next
    // frame, before they draw (the bars' per-frame update); the dialogs
    // drawn into the software back buffer are drawn whole again now.
    if (active_screen.rasterizer_code == _rasterizer_software && active_screen.screen_initialized)
    {
        mark_dialogs_dirty_procedure mark_dirty = mark_dialogs_dirty_slot.get();
        rectangle2d bounds;
        get_screen_bounds(&bounds);
        if (mark_dirty) mark_dirty(&bounds);
    }
}

// ---- bounds -------------------------------------------------------------------------

void get_screen_bounds(rectangle2d *bounds)
{
    VASSERT(active_screen.screen_initialized, "active_screen.screen_initialized");
    bounds->top = bounds->left = 0;
    bounds->right = active_screen.width;
    bounds->bottom = active_screen.height;
}

void get_physical_screen_bounds(rectangle2d *bounds)
{
    VASSERT(active_screen.screen_initialized, "active_screen.screen_initialized");
    bounds->top = bounds->left = 0;
    bounds->right = active_screen.physical_pixel_width;
    bounds->bottom = active_screen.physical_pixel_height;
}

bool gui_overlaps_screen_bitmap(void)
{
    const game_preferences *preferences = get_game_preferences();
    return (preferences && (preferences->flags & _game_pref_use_transparency_flag)) ||
           active_screen.rasterizer_code == _rasterizer_3dfx;
}

void calculate_destination_frame(rectangle2d *frame)
{
    get_screen_bounds(frame);
    if (gui_overlaps_screen_bitmap()) return;
    frame->top = (int16_t)(frame->top + bar_height(get_ingame_bar_procedures()->status_bar_height));
    frame->bottom = (int16_t)(frame->bottom - bar_height(get_ingame_bar_procedures()->control_bar_height));
    if (frame->bottom < frame->top) frame->bottom = frame->top;
}

// ---- the back buffer ----------------------------------------------------------------

bitmap_data *initialize_offscreen_bitmap_with_data(const rectangle2d *bounds, void *data, int32_t bytes_per_row)
{
    bitmap_data *bitmap = active_screen.offscreen_pixels_structure;
    if (!bitmap || !data) return nullptr;
    memset(bitmap, 0, offsetof(bitmap_data, row_addresses));
    int32_t width = bounds->right - bounds->left, height = bounds->bottom - bounds->top;
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (height > screen_module_globals.offscreen_rows) height = screen_module_globals.offscreen_rows;
    set_bitmap_encoding(bitmap, active_screen.encoding);
    bitmap->width = (int16_t)width;
    bitmap->height = (int16_t)height;
    bitmap->bytes_per_row = (int16_t)(bytes_per_row >= 1 ? bytes_per_row : width << bitmap->pixel_upshift);
    bitmap->row_addresses[0] = (uint8_t *)data + (ptrdiff_t)bounds->top * bitmap->bytes_per_row +
                               ((ptrdiff_t)bounds->left << bitmap->pixel_upshift);
    precalculate_bitmap_row_addresses(bitmap);
    return bitmap;
}

static bitmap_data *lend_back_buffer(const rectangle2d *bounds)
{
    if (active_screen.rasterizer_code != _rasterizer_software)
    {
        HALT("no hardware back end lends its frame buffer");
        return nullptr;
    }
    return initialize_offscreen_bitmap(bounds);
}

static void return_back_buffer(bitmap_data *bitmap)
{
    if (active_screen.rasterizer_code == _rasterizer_software) release_offscreen_bitmap(bitmap);
}

// A hardware screen lends a frame buffer without pixels: what is drawn into
// it goes to the back end.
bitmap_data *get_render_destination(const rectangle2d *bounds)
{
    if (active_screen.rasterizer_code == _rasterizer_software) return lend_back_buffer(bounds);
    bitmap_data *bitmap = initialize_render_bitmap_hardware(bounds);
    if (!bitmap) HALT("no hardware back end lends its frame buffer");
    return bitmap;
}
void release_render_destination(bitmap_data *bitmap)
{
    if (active_screen.rasterizer_code == _rasterizer_software) return_back_buffer(bitmap);
    else release_render_bitmap_hardware(bitmap);
}
// A hardware screen's linear back buffer is its back end's to lend.
bitmap_data *get_linear_backbuffer(const rectangle2d *bounds)
{
    if (active_screen.rasterizer_code == _rasterizer_software) return lend_back_buffer(bounds);
    return get_linear_backbuffer_hardware(bounds);
}
void release_linear_backbuffer(bitmap_data *bitmap)
{
    if (active_screen.rasterizer_code == _rasterizer_software) return_back_buffer(bitmap);
    else if (bitmap) release_linear_backbuffer_hardware();
}

void clear_backbuffer(void)
{
    if (!active_screen.screen_initialized) return;
    // A hardware back end clears its own buffer.  OpenGL lends no linear
    // back buffer to zero instead: before its map set-up it has nothing to
    // clear yet.
    if (active_screen.rasterizer_code != _rasterizer_software)
    {
        clear_linear_backbuffer_hardware();
        return;
    }
    rectangle2d bounds;
    get_screen_bounds(&bounds);
    bitmap_data *bitmap = get_linear_backbuffer(&bounds);
    if (!bitmap) return;
    zero_bitmap_pixels(bitmap);
    release_linear_backbuffer(bitmap);
}

void display_backbuffer(const rectangle2d *rectangle)
{
    if (!active_screen.screen_initialized || !screen_surface_exists()) return;
    rectangle2d whole;
    if (!rectangle)
    {
        get_screen_bounds(&whole);
        rectangle = &whole;
    }
    if (rectangle->left >= rectangle->right || rectangle->top >= rectangle->bottom) return;
    if (active_screen.rasterizer_code != _rasterizer_software)
    {
        update_screen_hardware();
        return;
    }
    copy_offscreen_world_to_screen(rectangle);
}

// ---- the frame rate ------------------------------------------------------------------

void update_fps_only_at(uint32_t now)
{
    frame_rate_sample_data *samples = &frame_rate_samples;
    const int32_t bucket = (int32_t)((now / MACHINE_TICKS_PER_FPS_UPDATE) % FPS_HISTORY_PERIODS);
    if (now - samples->bucket_start_ticks[bucket] > MACHINE_TICKS_PER_FPS_UPDATE - 1)
    {
        samples->bucket_start_ticks[bucket] = now;
        samples->frame_count_buckets[bucket] = 1;
    }
    else
    {
        samples->frame_count_buckets[bucket]++;
    }

    uint32_t frames = 0, earliest_age = 0, latest_age = 0;
    bool any = false;
    for (int32_t i = 0; i < FPS_HISTORY_PERIODS; ++i)
    {
        // Ages, not start times: the clock may wrap between two buckets.
        const uint32_t age = now - samples->bucket_start_ticks[i];
        if (age < MACHINE_TICKS_PER_FPS_UPDATE || age >= FPS_HISTORY_LENGTH_MACHINE_TICKS) continue;
        frames += samples->frame_count_buckets[i];
        if (!any || age > earliest_age) earliest_age = age;
        if (!any || age < latest_age) latest_age = age;
        any = true;
    }
    const uint32_t span = earliest_age - latest_age + MACHINE_TICKS_PER_FPS_UPDATE;
    samples->current_fps = any ? (float)frames / ((float)span / 1000.0f) : 0.0f;
}

void update_fps_only(void) { update_fps_only_at(machine_tick_count()); }

void build_fps_display_text(char *buffer, size_t size)
{
    if (!size) return;
    buffer[0] = 0;
    if (frame_rate_samples.display_flags & _display_fps_flag)
    {
        if (frame_rate_samples.current_fps < 1.0f) slprintfcat(buffer, size, "fps: --\r");
        else slprintfcat(buffer, size, "fps: %3.1f\r", (double)frame_rate_samples.current_fps);
    }
    if ((frame_rate_samples.display_flags & _display_ping_flag) && active_screen.in_game &&
        active_screen.in_game_type == _game_type_networked && networked_game_supports_ping())
    {
        const uint16_t latency = get_local_player_latency();
        if (latency == 65535) slprintfcat(buffer, size, "ping: \xB0\r");
        else slprintfcat(buffer, size, "ping: %d ms\r", (int32_t)latency);
    }
}

void update_fps_display(view_data *view)
{
    if (!frame_rate_samples.display_flags) return;
    char text[64];
    build_fps_display_text(text, sizeof(text));
    draw_fps_text_procedure draw = draw_fps_text_slot.get();
    if (draw && text[0]) draw(view, text);
}

void toggle_fps_display(void) { frame_rate_samples.display_flags ^= _display_fps_flag | _display_ping_flag; }

// After a frame that showed nothing new the loop has nothing to do until
// input arrives or the next tick begins (when a dialog's idle time may change
// it: a caret blinks, a list scrolls): it sleeps until then rather than spin.
static struct
{
    bool off; // set_idle_frame_wait(false)
    int32_t tick; // the local time the wait began at
    void (*pass)(void); // set_frame_pass_procedure
} idle_wait;

void set_idle_frame_wait(bool wait) { idle_wait.off = !wait; }
void set_frame_pass_procedure(void (*procedure)(void)) { idle_wait.pass = procedure; }
static bool next_tick_began(void) { return game_->local_time.load() != idle_wait.tick; }

static void wait_for_input_or_tick(void)
{
    if (idle_wait.off) return;
    idle_wait.tick = game_->local_time.load();
    wait_for_platform_event(1000 / GAME_TICKS_PER_SECOND + 1, next_tick_began);
}

void limit_framerate(void)
{
    if (idle_wait.pass) idle_wait.pass();
    if (screen_module_globals.frame_was_idle) wait_for_input_or_tick();
    const screen_parameters *prefs = active_screen.prefs;
    uint32_t now = machine_tick_count();
    if (prefs && prefs->max_fps > 0)
    {
        const uint32_t interval = 1000u / (uint32_t)prefs->max_fps;
        const uint32_t elapsed = now - screen_module_globals.last_frame_start;
        if (elapsed < interval)
        {
            const uint32_t wait = interval - elapsed;
            struct timespec pause = {(time_t)(wait / 1000), (long)(wait % 1000) * 1000000L};
            nanosleep(&pause, nullptr);
            now = machine_tick_count();
        }
    }
    screen_module_globals.last_frame_start = now;
}

// ---- the frame ------------------------------------------------------------------------

static void add_to_changed(rectangle2d *changed, const rectangle2d *rectangle)
{
    if (rectangle->left >= rectangle->right || rectangle->top >= rectangle->bottom) return;
    if (changed->left >= changed->right || changed->top >= changed->bottom)
    {
        *changed = *rectangle;
        return;
    }
    if (rectangle->left < changed->left) changed->left = rectangle->left;
    if (rectangle->top < changed->top) changed->top = rectangle->top;
    if (rectangle->right > changed->right) changed->right = rectangle->right;
    if (rectangle->bottom > changed->bottom) changed->bottom = rectangle->bottom;
}

void draw_frame(int32_t game_ticks, bool world_shown)
{
    screen_module_globals.frame_was_idle = false;
    if (!active_screen.screen_initialized || !screen_surface_exists()) return;
    if (!screen_module_globals.window_visible || game_->state == _game_state_modal_draw_loop) return;

    // The bars first: their visibility shapes the frame the scene is drawn into.
    const auto update_bars = get_ingame_bar_procedures()->update_bars;
    if (update_bars) update_bars();

    const bool hardware = active_screen.rasterizer_code != _rasterizer_software;
    rectangle2d frame;
    calculate_destination_frame(&frame);
    // The view is zeroed first: the camera fills only what it knows.
    view_data view = {};
    if (world_shown)
        build_observer_view(&view, game_ticks, (int16_t)(frame.right - frame.left), (int16_t)(frame.bottom - frame.top));
    // A paused game (the quit dialog waits over it) whose camera stays where
    // it was shows the scene already on the screen: a frame is drawn again
    // only when a dialog changes, as a frame without the world on a hardware
    // screen, which redraws all it draws at all.
    const bool paused = world_shown && game_ticks == 0 && game_is_paused();
    const bool unchanged_scene = paused && screen_module_globals.paused_scene_shown &&
                                 !memcmp(screen_module_globals.paused_scene_view, &view,
                                         sizeof(screen_module_globals.paused_scene_view));
    const dialogs_need_drawing_procedure need_drawing = dialogs_need_drawing_slot.get();
    const bool whole = screen_module_globals.whole_frame_wanted;
    screen_module_globals.whole_frame_wanted = false;
    if (!whole && (unchanged_scene || (hardware && !world_shown)) && need_drawing && !need_drawing())
    {
        screen_module_globals.frame_was_idle = true;
        return;
    }
    screen_module_globals.paused_scene_shown = paused;
    memcpy(screen_module_globals.paused_scene_view, &view, sizeof(screen_module_globals.paused_scene_view));

    // A hardware frame is drawn whole every time, and after a swap the back
    // buffer's content is undefined (an older frame, as a rule). It is cleared
    // first, colour and depth: whatever the terrain does not cover (the sky
    // beyond the map's edge) and whatever 2D was drawn there before (a loading
    // box, the key list, the frame rate) must not show through, whatever the
    // back end's own setting for erasing the scene says. Without the world (a
    // map loading behind its progress dialog) the dialogs go on black.
    if (hardware)
    {
        render_begin_hardware();
        clear_backbuffer();
    }

    rectangle2d changed = {0, 0, 0, 0};
    if (world_shown)
    {
        bitmap_data *destination = get_render_destination(&frame);
        if (destination)
        {
            const auto render = get_render_procedures()->render_scene;
            if (render) render(&view, destination);
            release_render_destination(destination);
            add_to_changed(&changed, &frame);
            // The software scene overwrote whatever dialogs lay over it.
            mark_dialogs_dirty_procedure mark_dirty = mark_dialogs_dirty_slot.get();
            if (mark_dirty) mark_dirty(&frame);
        }
    }
    draw_dialogs_procedure draw_dialogs = draw_dialogs_slot.get();
    if (draw_dialogs)
    {
        rectangle2d screen_bounds;
        get_screen_bounds(&screen_bounds);
        // A hardware screen has no linear back buffer: the dialogs go to the
        // frame buffer its back end lends.
        const bool software = active_screen.rasterizer_code == _rasterizer_software;
        bitmap_data *back_buffer =
            software ? get_linear_backbuffer(&screen_bounds) : get_render_destination(&screen_bounds);
        if (back_buffer)
        {
            draw_dialogs(back_buffer, &changed);
            if (software) release_linear_backbuffer(back_buffer);
            else release_render_destination(back_buffer);
        }
    }
    if (hardware) render_end_hardware();
    // A requested screenshot is taken here, before the changes are shown.
    frame_drawn_procedure frame_drawn = frame_drawn_slot.get();
    if (frame_drawn) frame_drawn();
    screen_module_globals.frame_was_idle =
        !world_shown && !hardware && (changed.left >= changed.right || changed.top >= changed.bottom);
    display_backbuffer(&changed);
}

// ---- the core's hooks --------------------------------------------------------------------

static bool startup_screen(void)
{
    if (vesk_is_headless()) return true; // the film checker shows nothing
    initialize_screen();
    return true;
}

void initialize_screen(void)
{
    initialize_drawing_manager();
    VASSERT(!active_screen.screen_initialized, "!active_screen.screen_initialized");
    get_true_screen_dimensions(&original_screen_width, &original_screen_height);
    screen_parameters *prefs = (screen_parameters *)malloc(sizeof(screen_parameters));
    if (!prefs)
        error_message(_error_out_of_memory, __FILE__, __LINE__, "couldn't allocate #%d bytes for screen_prefs",
                      (int32_t)sizeof(screen_parameters));
    register_postrasterization_effect_procedure(update_fps_display, -100);
    load_screen_parameters(prefs);
    free(active_screen.prefs);
    active_screen.prefs = prefs;
    active_screen.screen_initialized = true;
    screen_module_globals.window_visible = true;
    pointer_screen_facts.window_active.store(true);
    set_screen_parameters(active_screen.device_index, active_screen.mode_index);
}

// Activation, exposure and the window's close button.
static void handle_window_event(const SDL_Event *event)
{
    switch (event->type)
    {
    case SDL_ACTIVEEVENT:
        if (event->active.state & SDL_APPACTIVE) screen_module_globals.window_visible = event->active.gain != 0;
        if (event->active.state & (SDL_APPINPUTFOCUS | SDL_APPACTIVE))
            pointer_screen_facts.window_active.store(event->active.gain != 0);
        break;
    case SDL_VIDEOEXPOSE:
        display_backbuffer(nullptr);
        // A hardware back buffer keeps nothing for the window to show again.
        draw_next_frame_whole();
        break;
    case SDL_QUIT:
        set_game_state(_game_state_quit);
        break;
    default:
        break;
    }
}

static void report_pointer_screen(pointer_screen_data *screen)
{
    screen->width = pointer_screen_facts.width.load();
    screen->height = pointer_screen_facts.height.load();
    screen->dpi = pointer_screen_facts.dpi.load();
    screen->window_active = pointer_screen_facts.window_active.load();
}

// Without an open screen (headless runs) the observer keeps its 640 x 480.
static void observer_screen_bounds(rectangle2d *bounds)
{
    if (active_screen.screen_initialized) get_screen_bounds(bounds);
    else *bounds = {0, 0, 480, 640};
}

static void observer_destination_frame(rectangle2d *frame)
{
    if (active_screen.screen_initialized) calculate_destination_frame(frame);
    else *frame = {0, 0, 480, 640};
}

// The screen's consumer, while the world is shown: the pointer is made
// relative to the view's frame.
static bool pointer_to_view(action_data *action)
{
    if (!active_screen.screen_initialized) return false;
    rectangle2d frame;
    calculate_destination_frame(&frame);
    action->pointer.x = (int16_t)(action->pointer.x - frame.left);
    action->pointer.y = (int16_t)(action->pointer.y - frame.top);
    return false;
}

void register_screen_hooks(void)
{
    register_startup_procedure(_startup_screen, startup_screen);
    register_draw_frame_procedure(draw_frame);
    register_set_screen_parameters_for_new_state_procedure(set_screen_parameters_for_new_state);
    register_event_consumer_procedure(_event_consumer_window, handle_window_event);
    static const screen_procedures procedures = {
        .limit_framerate = limit_framerate,
        .read_pointer_screen = report_pointer_screen,
        .observer_screen_bounds = observer_screen_bounds,
        .observer_destination_frame = observer_destination_frame,
    };
    register_screen_procedures(&procedures);
    register_action_procedure(_action_pointer_to_view, pointer_to_view);
}

void reset_screen_for_tests(void)
{
    free(active_screen.prefs);
    free(active_screen.offscreen_pixels_structure);
    active_screen = initial_active_screen();
    memset(&screen_module_globals, 0, sizeof(screen_module_globals));
    memset(&frame_rate_samples, 0, sizeof(frame_rate_samples));
    original_screen_width = original_screen_height = NONE;
    publish_pointer_screen_facts();
    pointer_screen_facts.window_active.store(true);
    clear_render_effects();
    reset_screen_sdl();
}
