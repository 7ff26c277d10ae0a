// Screenshots.
#include "screenshots.h"

#include <cstdlib>
#include <cstring>

#include "saved_games.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "sound_procedures.h"
#include "bitmaps.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "recording.h"
#include "render/render.h"
#include "screen.h"

static struct screenshot_globals
{
    int16_t requested_type;
    int32_t same_second_count;
    char last_time_string[SCREENSHOT_TIME_STRING_SIZE];
    char directory[SCREENSHOT_DIRECTORY_SIZE]; // "" for the game's own "screenshots"
    char last_path[SCREENSHOT_DIRECTORY_SIZE + SCREENSHOT_NAME_SIZE + 8];
} screenshot_globals;

bool set_screenshot_directory(const char *directory)
{
    if (directory && (directory[0] != '/' || strlen(directory) >= sizeof(screenshot_globals.directory)))
    {
        log_message(__FILE__, __LINE__, "screenshots cannot go to '%s': not an absolute path that fits", directory);
        return false;
    }
    strlcpy(screenshot_globals.directory, directory ? directory : "", sizeof(screenshot_globals.directory));
    return true;
}

void request_screenshot(int16_t type)
{
    if (type < _screenshot_type_none || type >= NUMBER_OF_SCREENSHOT_TYPES)
    {
        log_message(__FILE__, __LINE__, "screenshot type %d does not exist", type);
        return;
    }
    screenshot_globals.requested_type = type;
    // Taken of the next frame, which must be drawn for it.
    if (type != _screenshot_type_none) draw_next_frame_whole();
}

int16_t get_requested_screenshot(void) { return screenshot_globals.requested_type; }

const char *get_last_screenshot_path(void) { return screenshot_globals.last_path; }

void build_screenshot_name(const char *time_string, char *name, size_t size)
{
    if (strncmp(time_string, screenshot_globals.last_time_string, SCREENSHOT_TIME_STRING_SIZE - 1) == 0 &&
        screenshot_globals.last_time_string[0] != 0)
    {
        screenshot_globals.same_second_count += 1;
        slprintf(name, size, "screenshot %s_%d", time_string, screenshot_globals.same_second_count);
    }
    else
    {
        screenshot_globals.same_second_count = 0;
        slprintf(name, size, "screenshot %s", time_string);
    }
    strlcpy(screenshot_globals.last_time_string, time_string, sizeof(screenshot_globals.last_time_string));
}

// In a running game a mega screenshot renders the scene off screen; any
// capture, and every screenshot outside a running game, copies the frame.
static bitmap_data *make_screenshot_bitmap(int16_t type, bool in_game)
{
    if (in_game && type == _screenshot_type_mega)
    {
        int16_t width = active_screen.width, height = active_screen.height;
        if ((active_screen.rasterizer_code == _rasterizer_opengl || active_screen.rasterizer_code == _rasterizer_dx11) &&
            active_screen.width > 0)
        {
            width = HARDWARE_SCREENSHOT_WIDTH;
            height = (int16_t)((int32_t)active_screen.height * HARDWARE_SCREENSHOT_WIDTH / active_screen.width);
        }
        return render_screenshot(width, height);
    }
    if (type == _screenshot_type_capture || !in_game) return capture_screenshot();
    return nullptr;
}

bool take_screenshot(int16_t type)
{
    screenshot_globals.last_path[0] = 0;
    const bool in_game = game_->state == _game_state_running;
    bitmap_data *bitmap = make_screenshot_bitmap(type, in_game);
    if (!bitmap) return false;

    const screenshot_settings *settings = get_screenshot_settings();
    const char *format = !in_game ? settings->outgame_format
                         : active_screen.rasterizer_code != _rasterizer_software ? settings->hardware_ingame_format
                                                                                  : settings->software_ingame_format;
    char name[SCREENSHOT_NAME_SIZE];
    const char *time_string = get_recording_time_string();

    if (settings->play_screenshot_sound)
    {
        if (const auto play = get_sound_procedures()->play_local_sound) play(SCREENSHOT_SOUND_TAG);
    }
    // The name is unique only within this run: one on disk (another run's
    // shot of the same second) is passed over for the next counter suffix.
    enum { MAXIMUM_NAME_TRIES = 100 };
    bool written = false, taken = true;
    const char *directory = screenshot_globals.directory[0] ? screenshot_globals.directory : "screenshots";
    for (int32_t tries = 0; taken && tries < MAXIMUM_NAME_TRIES; tries++)
    {
        build_screenshot_name(time_string, name, sizeof(name));
        written = write_bitmap_to_new_file(bitmap, nullptr, directory, name, format, settings->jpeg_quality, &taken);
    }
    log_message(nullptr, -1, "Saving screenshot to %s/%s...", directory, name);
    if (!written)
        log_message(nullptr, -1, "Failed!");
    else
    {
        slprintf(screenshot_globals.last_path, sizeof(screenshot_globals.last_path), "%s/%s.%s", directory, name,
                 format);
        if (settings->show_console_message)
        {
            print_to_console_procedure print = get_print_to_console_procedure();
            if (print) print("Screenshot saved.");
        }
    }
    dispose_bitmap(bitmap);
    return written;
}

// The screen's frame step: the request is cleared before the shot, so a
// failing screenshot is not retried every frame.
static void take_requested_screenshot(void)
{
    const int16_t type = screenshot_globals.requested_type;
    if (type == _screenshot_type_none) return;
    screenshot_globals.requested_type = _screenshot_type_none;
    take_screenshot(type);
}

void register_screenshot_hooks(void)
{
    register_frame_drawn_procedure(take_requested_screenshot);
    register_render_saved_game_snapshot_procedure(render_saved_game_snapshot);
}

void reset_screenshots_for_tests(void) { memset(&screenshot_globals, 0, sizeof(screenshot_globals)); }

void *render_saved_game_snapshot(int16_t width, int16_t height, int16_t *encoding)
{
    bitmap_data *bitmap = render_screenshot(width, height);
    if (!bitmap) return nullptr;
    const int32_t bytes_per_pixel = bitmap->encoding == _32bit_encoding ? 4 : 2;
    uint8_t *pixels = nullptr;
    if (bitmap->width == width && bitmap->height == height &&
        (bitmap->encoding == _16bit_555_encoding || bitmap->encoding == _16bit_565_encoding ||
         bitmap->encoding == _32bit_encoding))
        pixels = (uint8_t *)malloc((size_t)width * (size_t)height * (size_t)bytes_per_pixel);
    if (pixels)
    {
        for (int32_t row = 0; row < height; ++row)
            memcpy(pixels + (size_t)row * (size_t)width * (size_t)bytes_per_pixel, bitmap->row_addresses[row],
                   (size_t)width * (size_t)bytes_per_pixel);
        *encoding = bitmap->encoding;
    }
    dispose_bitmap(bitmap);
    return pixels;
}
