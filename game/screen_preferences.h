#pragma once
// The player's display settings: the "screen preferences" record (88 bytes,
// big-endian, version 4), its defaults, verification and conversion.  The
// screen keeps the loaded record in `active_screen.prefs`.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h" // short_fixed

struct preferences_globals;

#define SCREEN_PREFERENCES_NAME "screen preferences"

enum
{
    SCREEN_PREFERENCES_VERSION_NUMBER = 4,
    MINIMUM_GAMMA = 128,
    MAXIMUM_GAMMA = 341,
    DEFAULT_GAMMA = 256,
    GAMMA_DELTA = 25,
    MINIMUM_MAX_FPS = 15,
    MAXIMUM_MAX_FPS = 300,
    DEFAULT_MAX_FPS = -90,
    MINIMUM_TEXTURE_CACHE_SIZE = 16,
    MAXIMUM_TEXTURE_CACHE_SIZE = 512,
};

enum screen_preference_flags
{
    _screen_pref_32bit_flag = 1,
    _screen_pref_landscape_filtering_flag = 2,
    _screen_pref_fog_enabled_flag = 4,
    _screen_pref_highres_sprites_flag = 8,
    _screen_pref_windowed_flag = 16,
    _screen_pref_landscape_textures_flag = 32,
    _screen_pref_anisotropic_filtering_flag = 64,
    _screen_pref_vsync_enabled_flag = 128,
    _screen_pref_fullscreen_windowed_flag = 256,
    _screen_pref_texture_cache_size_updated_flag = 512,
    _screen_pref_hidpi_flag = 1024,
};

struct screen_parameters
{
    uint16_t texture_cache_size; // megabytes, 16..512
    uint16_t flags; // screen_preference_flags
    int16_t device_index;
    int16_t mode_index; // NONE: none
    short_fixed gamma; // 256 = 1.0, 128..341
    int16_t max_fps; // |max_fps| 15..300 is the cap, on only when positive
    uint16_t width, height; // logical size of the chosen mode
    tag rasterizer_id;
    char device_name[64];
    uint16_t pixel_zoom_factor;
    uint16_t unused;
};
static_assert(sizeof(screen_parameters) == 88);
static_assert(offsetof(screen_parameters, gamma) == 8);
static_assert(offsetof(screen_parameters, width) == 12);
static_assert(offsetof(screen_parameters, rasterizer_id) == 16);
static_assert(offsetof(screen_parameters, device_name) == 20);
static_assert(offsetof(screen_parameters, pixel_zoom_factor) == 84);
static_assert(offsetof(screen_parameters, unused) == 86);

// Eight words, one long, the name as it is, two words.
extern const byte_swap_code screen_parameters_byte_swapping_data[];
// The descriptor of the record for the preferences store.
extern preferences_globals screen_preferences;

// Reads the stored record (converted, verified, or the defaults) into `record`.
// When the store cannot be read, `record` gets the verified defaults.  The
// stored record is never written by a read.
void load_screen_parameters(screen_parameters *record);
// Stores `record`.  False when it could not be written.
bool save_screen_parameters(const screen_parameters *record);
// Accepts a version-3 record (already in this layout); refuses older ones.
bool convert_screen_parameters(const void *old_record, void *new_record, int16_t version);
void default_screen_parameters(void *record);
// Corrects the record; false when it had to fall back to the defaults.
bool verify_screen_parameters(void *record);

// Megabytes for the texture cache on a machine with `physical_memory` bytes:
// (M / 2) x 3 - 960, quartered, even, within 16..512.
uint16_t default_texture_cache_size(int64_t physical_memory);
// The physical memory the defaults read (tests replace it; 0 restores the
// machine's).
void set_screen_preferences_memory_size_for_tests(int64_t bytes);
