#pragma once
// The screen page of the preferences dialog '!prf'.
//
// The page edits the "screen preferences" record that active_screen.prefs
// points at, in place: the display device, its resolution, gamma, the frame
// cap, the texture cache and the display flags.  The preferences dialog runs
// the dialog and calls every page's handler with a verb; the item numbers
// below are fixed by the dialog tag.  After every item hit the record is
// read back from the page and the controls are brought in step with it.
// Choosing another device keeps fog, windowed and full-screen window and
// takes every other flag from that device's panel defaults; the mode moves to
// the new device's most similar usable mode.
//
// Without a record (active_screen.prefs NULL) the page logs and does nothing.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/double_arrow_control.h"

enum screen_page_item
{
    _screen_page_high_resolution_item = 12, // "Landscape Textures"
    _screen_page_landscape_filtering_item = 13,
    _screen_page_vsync_item = 14,
    _screen_page_fog_item = 15,
    _screen_page_window_item = 16,
    _screen_page_max_fps_check_item = 17,
    _screen_page_max_fps_item = 18,
    _screen_page_texture_cache_caption_item = 19,
    _screen_page_texture_cache_item = 20,
    _screen_page_rasterizer_list_item = 22,
    _screen_page_resolution_list_item = 24,
    _screen_page_gamma_caption_item = 25,
    _screen_page_gamma_item = 26,
    _screen_page_32bit_item = 38,
    _screen_page_highres_sprites_item = 39,
};

enum preferences_panel_verb
{
    _preferences_panel_setup = 0,
    _preferences_panel_teardown = 1,
    _preferences_panel_item_hit = 2,
    _preferences_panel_commit = 3,
    _preferences_panel_discard = 4,
};

enum
{
    // Flags a device change keeps: fog, windowed, full-screen window.
    SCREEN_PAGE_KEPT_FLAGS_MASK = 0x114,
    SCREEN_PAGE_GAMMA_SLIDER_MINIMUM = 256, // the slider shows gamma x 2
    SCREEN_PAGE_GAMMA_SLIDER_MAXIMUM = 682,
    SCREEN_PAGE_GAMMA_SLIDER_DEFAULT = 512,
    SHIFT_KEYBOARD_CODE = 57, // holding it lets vsync and the frame cap be on together
};

// The step tables of the frame cap and the texture cache.
extern const double_arrow_delta max_fps_deltas[3];
extern const double_arrow_delta tex_cache_deltas[5];

// The page's handler; any verb other than preferences_panel_verb logs a halt.
// Always true.
bool screen_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id);
// Puts the record into the page's controls.
void synchronize_controls_with_data(dialog_data *dialog);
// The devices in order of preference, each row's identifier its device index.
void add_screen_devices_to_list(dialog_data *dialog, int16_t item_id);
// The usable modes of the device, each row's identifier its mode index.
void add_screen_resolutions_to_list(dialog_data *dialog, int16_t item_id, int16_t device_index);
// Orders resolution rows (string-list rows) by the "%i x %i" they read as:
// first by how many numbers read, then by width, then height.
int32_t resolution_list_sort_proc(const void *res1, int16_t length1, const void *res2, int16_t length2);
// The flags a device brings with it when chosen (only the bits outside
// SCREEN_PAGE_KEPT_FLAGS_MASK are used).
uint16_t screen_device_panel_default_flags(int16_t device_index);
