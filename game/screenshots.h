#pragma once
// Screenshots: what the screen shows (or, in a game, the scene rendered off
// screen) written to the directory "screenshots" under a name made from the
// local date and time, in the format the "Screenshots" settings give for
// where the player is.  A screenshot is requested at any time and taken by
// the screen after the next drawn frame, before that frame is shown; the core
// keeps no request of its own.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"

enum
{
    // Bytes kept of the time string of the last screenshot, with its terminator.
    SCREENSHOT_TIME_STRING_SIZE = 32,
    SCREENSHOT_NAME_SIZE = 64,
    SCREENSHOT_DIRECTORY_SIZE = 1024,
    // The width of a screenshot rendered by the hardware rasterizers (codes 4 and 5).
    HARDWARE_SCREENSHOT_WIDTH = 8000,
};

// The sound definition played for a screenshot.
#define SCREENSHOT_SOUND_TAG FOUR_CHARACTER_CODE('!', 's', 'c', 'r')

// Asks for a screenshot of `type` (screenshot_type of image_files.h) after the
// next drawn frame; the last request before that frame wins, and
// _screenshot_type_none withdraws it.  A type outside the table is refused
// (logged) and the request kept as it was.
void request_screenshot(int16_t type);
// The pending request, _screenshot_type_none when there is none.
int16_t get_requested_screenshot(void);

// Takes one screenshot of `type` now (see the module's comment for which
// picture, which format and which name) and frees its picture.  True when
// the file was written; false when there was nothing to take (another type
// in a running game, no picture could be made) or the file could not be
// written ("Failed!" in the log, no file left behind).
bool take_screenshot(int16_t type);

// The name of the next screenshot, from the local time string `time_string`
// ("%Y-%m-%d %H.%M.%S"): "screenshot " and the string, with "_1", "_2"...
// when it equals the string of the previous call (at most 31 characters of it
// are remembered).  Advances that count; `name` gets at most `size` bytes.
void build_screenshot_name(const char *time_string, char *name, size_t size);

// The path of the last file written ("screenshots/<name>.<extension>",
// relative to the program's directory, or under the directory set below);
// "" before the first and after a failure.
const char *get_last_screenshot_path(void);

// Where the screenshots go: an absolute directory (made when missing, its
// parent must exist), or null for the game's own "screenshots".  A tool
// that runs the game from its data directory sends them where it was called
// from, so the game's folder gets none of its pictures.  False (logged, the
// directory kept) for a relative or overlong path.
bool set_screenshot_directory(const char *directory);

// The screenshot's sound '!scr' goes to the sound table's `play_local_sound`
// (sound_procedures.h); without it no sound is played and the shot is still taken.

// Joins the screenshots to the screen's frame.
void register_screenshot_hooks(void);

// Forgets the request, the last name and its count (tests).
void reset_screenshots_for_tests(void);

// The picture of a new saved game: the view rendered at width x height,
// copied row by row without padding (2 or 4 bytes a pixel, host order) into
// a newly allocated buffer the caller frees, with its screen encoding.  Null
// when no picture can be made (no view, or no memory).
void *render_saved_game_snapshot(int16_t width, int16_t height, int16_t *encoding);
