#pragma once
// The OpenGL device and its effective settings: what the driver can do, the
// power-user section "Renderer.OpenGL" over the device's defaults, and the
// settings a device or other settings cannot support forced off, each with one
// "OpenGL: Forcing ..." log line.  Also the small utilities (clear colour,
// back-buffer clear, frame read-back, extension and version tests, error
// logging) and the texture upload callbacks the texture cache calls.
//
// Main thread only; every call but the pure ones needs a current context.

#include <cstdint>

#include "hardware/texture_cache.h"
#include "iniparser3.0b/inifile.h"
#include "point2d.h"
#include "screen_setup.h"

struct bitmap_data;

// ---- the device ----------------------------------------------------------------

// The one OpenGL device record (the `extra_data` of the screen's OpenGL device).
extern device_info_opengl opengl_device;

// Fills `device` from the current context.  False when GL_VERSION is missing
// or does not parse, or the version is below 1.1, or is 1.1 without
// GL_EXT_bgra; the record is then left as it was.
bool get_opengl_device_info(device_info_opengl *device);

// Fills `device` from the strings and the maximum texture size a driver
// reports (the pure part of get_opengl_device_info; null strings allowed).
bool opengl_device_info_from_strings(device_info_opengl *device, const char *version, const char *extensions,
                                     const char *renderer, const char *vendor, int32_t max_texture_size);

// Whether `name` is a whole word of the blank-separated `extensions`: at the
// start or after a blank, followed by a blank or the end.  False for a null list.
bool extension_in_list(const char *extensions, const char *name);

// ---- the settings --------------------------------------------------------------

struct opengl_preferences
{
    int32_t ClearColor; // 0xRRGGBB
    bool ErasePreviousFrame;
    int32_t MaxAnisotropy;
    int32_t MSAASamples;
    bool ReuseContext;
    bool UseAppleClientStorage;
    float TextureLodBias;
    bool UseDepthTest;
    bool UseMipMaps;
    bool UseNPO2Textures;
    bool UseShaders;
    bool UseLightmapBlendingShader;
    bool UpdateCMapChunked;
    bool UseCMapTiles;
};

// The effective settings of the current map, and their static defaults.
extern opengl_preferences gl_prefs;
extern opengl_preferences gl_prefs_default; // the static defaults with the device's set before reading
// The INI description of "Renderer.OpenGL" (entries in lookup order).
extern const inifile_entry gl_prefs_definition[];
extern const inifile_section gl_prefs_section;
// The anisotropy applied to textures (0: none).
extern float max_anisotropy;

// `gl_prefs_default` with the defaults that depend on the device.
opengl_preferences opengl_run_time_defaults(const device_info_opengl *device);

enum
{
    MAXIMUM_OPENGL_SETTINGS_LINES = 16,
    OPENGL_SETTINGS_LINE_SIZE = 256,
};

// What the settings depend on besides the section's values.
struct opengl_settings_inputs
{
    const device_info_opengl *device;
    uint16_t screen_flags; // screen_preference_flags
    uint16_t texture_cache_size; // megabytes
    const char *extensions; // GL_EXTENSIONS; may be null
    float driver_max_anisotropy; // GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT (0 when not offered)
    bool shader_procedures_found; // all 18 OpenGL 2.0 functions were found
    const char *missing_procedure; // the first one missing, when not
    int32_t generate_mipmap_form; // gl_generate_mipmap_form
    bool generate_mipmap_found;
    bool shader_program_failed; // a program of this map failed to link
    // The observer's extended zoom (either may be null: nothing to disable).
    bool (*perma_disable_extended_zoom)(void);
    bool (*extended_zoom_enabled)(void);
};

struct opengl_settings_result
{
    opengl_preferences prefs;
    float max_anisotropy;
    bool swap_interval; // from the vsync screen flag
    int32_t line_count;
    char lines[MAXIMUM_OPENGL_SETTINGS_LINES][OPENGL_SETTINGS_LINE_SIZE];
};

// The effective settings from the values read (run-time defaults with the
// section over them) and the inputs: values out of range back to their
// defaults, then every forcing in order, each with its log line, and last the
// "OpenGL: Initialized with ..." line.  Pure apart from the zoom hooks.
void compute_opengl_settings(const opengl_preferences *read, const opengl_settings_inputs *inputs,
                             opengl_settings_result *result);

// ---- utilities -----------------------------------------------------------------

// Whole-word search of the current GL_EXTENSIONS.
bool poorManCheckExtension(const char *name);
// major << 16 | minor of GL_VERSION; 0 when missing or unparsable.
int32_t getOpenGLVersion(void);
// glGetString(name) into `buffer`, cut and terminated; untouched when null.
void copy_gl_string(char *buffer, int32_t size, uint32_t name);
// Logs "OpenGL error: WHAT generated NAME at FILE:LINE" when glGetError reports one.
void gl_debug(const char *what, const char *file, int32_t line);
// The name of a GL error code ("(unknown error)" for codes outside 0x500..0x505).
const char *gl_error_name(uint32_t error);

// glClearColor of 0xRRGGBB (alpha 0) when it differs from the last set.
void set_clear_color_opengl(uint32_t color);
// Back to black when needed, then clears colour and depth.
void clear_opengl_backbuffer(void);
// The last clear colour set.
uint32_t current_clear_color_opengl(void);
// Forgets the last clear colour (a new context starts black).
void reset_clear_color_opengl(void);

// The screen rectangle read back as a new 32-bit bitmap (one free()), top row
// first; null when the bitmap cannot be allocated or the rectangle is empty.
bitmap_data *copy_bits_from_opengl_render_buffer(const rectangle2d *rectangle);
// Reverses the order of `height` rows of `bytes_per_row` bytes in place.
void flip_rows_in_place(uint8_t *pixels, int32_t height, int32_t bytes_per_row);

// ---- texture uploads -----------------------------------------------------------

// The map's cache with the back end's settings: 32-bit textures with the
// 32-bit screen flag, UseNPO2Textures, UseAppleClientStorage, and a budget of
// texture_cache_size megabytes.
void initialize_texture_cache_for_new_map_opengl(void);
void dispose_texture_cache_from_old_map_opengl(void);

// A new GL texture of `texture` (wrap, filters, anisotropy, pixels); its name
// as the handle.  Null, with nothing made, for an encoding outside 7..12.
void *new_cached_texture_opengl(void *context, bitmap_data *bitmap, cached_texture_data *texture);
// The pixels of `texture` into its existing name; null for an encoding outside 7..12.
void *update_cached_texture_opengl(void *context, bitmap_data *bitmap, cached_texture_data *texture);
void delete_cached_texture_opengl(void *context, void *name);
// Uploads the pixels into the texture bound on unit 0.  False, with nothing
// uploaded, for an encoding outside 7..12.
bool update_cached_texture_pixels(bitmap_data *bitmap, cached_texture_data *texture);

// A GL texture name as a callback handle and back (names start at 1).
inline void *gl_name_to_handle(uint32_t name) { return (void *)(uintptr_t)name; }
inline uint32_t gl_handle_to_name(void *handle) { return (uint32_t)(uintptr_t)handle; }
