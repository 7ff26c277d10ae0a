#pragma once
// The display devices and their modes.  At start the screen builds one table
// of devices, each with the full-screen modes it offers, and sorts the devices
// by preference; everything that chooses a resolution (the default
// preferences, their verification, the main-menu mode) picks from it by
// device index and mode index.  The software rasterizer is always a device;
// the OpenGL back end adds its own through display_device_query_and_report_modes.
//
// Main thread only; the table is built once and read-only afterwards.

#include <cstdint>

#include "cseries/cseries.h"

enum
{
    MAXIMUM_SCREEN_DEVICES = 8,
    MAXIMUM_DEVICE_MODES = 256,
    DEVICE_NAME_SIZE = 64,
    DESIRED_BIT_DEPTH = 32, // every listed mode has 32 bits
};

enum device_mode_flags
{
    _device_mode_preferred_flag = 1,
    _device_mode_custom_flag = 2,
    _device_mode_invalid_flag = 4, // never offered or chosen
};

#define SOFTWARE_RASTERIZER_ID FOUR_CHARACTER_CODE('s', 'o', 'f', 't')
#define OPENGL_RASTERIZER_ID FOUR_CHARACTER_CODE('o', 'g', 'l', 0)

struct device_mode_info
{
    uint32_t flags; // device_mode_flags
    int16_t width, height;
    int16_t bit_depth;
    int16_t refresh_rate; // 0: not reported
    float scale; // device pixels per logical pixel; 1.0 for ordinary modes
};

// The OpenGL back end's record behind `device_info::extra_data`.
struct device_info_opengl
{
    int32_t opengl_version;
    int32_t max_texture_size;
    int32_t msaa_samples;
    bool opengl2_device;
    char renderer[64];
    char vendor[64];
    char name[32];
};

// Whether the OpenGL driver draws on the processor (Mesa's llvmpipe or
// softpipe, told by its renderer string): such a driver pays for every pixel
// with the processor's time, and the software rasterizer draws the same
// frame faster.  False for a null device.
bool opengl_device_renders_on_processor(const device_info_opengl *device);

struct device_info
{
    int16_t rasterizer_code; // rasterizer_code of screen.h
    int16_t mode_count; // 0..256
    tag rasterizer_id; // 'soft', 'ogl\0'
    char name[DEVICE_NAME_SIZE];
    void *extra_data; // device_info_opengl for OpenGL, null for software
    bool modern;
    // Set with `modern`: the device the game recommends, a modern one, or
    // the software device when the only OpenGL driver draws on the processor.
    bool recommended;
    device_mode_info modes[MAXIMUM_DEVICE_MODES];
};

// The rasterizer identifier of a rasterizer code ('soft' for 0, 'ogl\0' for 4;
// 0 for codes that have no back end here).
tag rasterizer_code_to_id(int16_t rasterizer_code);

// Builds the table: the software device, then the OpenGL back end's devices,
// then the preference order.  With no device at all, logs "No valid screen
// devices were found!" and exits with status -1.
void query_for_screen_devices(void);

// Empties the table (tests, and before query_for_screen_devices).
void clear_screen_devices(void);
// Marks the modern devices and fills the preference order (the end of
// query_for_screen_devices; tests that report devices themselves).
void sort_screen_devices(void);

// Builds one device from the window system's full-screen mode list and
// reports it when it has at least one mode.  Sizes below 640 x 480 and
// duplicates are left out, at most 256 modes are kept (more are dropped with
// a log line), and a device left with a single mode gets the common sizes
// below it.  When the window system answers "any size", the desktop size is
// the one mode and the common sizes follow.
void display_device_query_and_report_modes(int32_t rasterizer_code, const char *rasterizer_string,
                                           void *device_extra);

// Appends a mode while fewer than 256 are present.
void add_device_mode(device_info *device, uint32_t flags, int16_t width, int16_t height, int16_t bit_depth,
                     int16_t refresh_rate, float scale);

// Appends a 32-bit mode of the size when it is a valid resolution and the
// device has no mode of that size yet.
void add_resolution(device_info *device, int16_t width, int16_t height);

// Copies the device into the table while fewer than 8 are present and returns
// the new count; a ninth device is dropped with a log line.
int32_t report_device(device_info *device);

// The device at `device_index`; null (after an assertion) for an index outside
// the table.  Every caller checks.
device_info *get_screen_device(int16_t device_index);
int16_t get_screen_device_count(void);
// The device indexes in order of preference (get_screen_device_count of them).
const uint8_t *get_priority_sorted_device_indexes(void);
bool any_modern_hardware_devices_found(void);

// The first device in table order with the rasterizer and, when `name` is
// given, that name.
bool find_device(tag rasterizer_id, const char *name, int16_t *out_device_index);
// The first mode of exactly that size on the device find_device names (no
// other device is searched).
bool find_device_and_mode(tag rasterizer_id, const char *name, int32_t width, int32_t height,
                          int16_t *out_device_index, int16_t *out_mode_index);
// The usable mode most like `existing_mode` (bit depth and refresh rate -1
// match anything); false with -1 when no mode is usable.
bool find_mode_similar_to(const device_info *device, const device_mode_info *existing_mode, int16_t *out_mode);
// A mode that may be chosen: in range, not invalid, and on the software device
// of scale 1.0.
bool device_mode_is_usable(const device_info *device, int16_t mode_index);
// How alike two sizes of one side are: 1 for equal (or both none), less the
// farther apart, as the choices of a similar mode score them.
float mode_size_similarity(int32_t wanted, int32_t actual);

// The preferred device and the mode most like the desktop.  With no device:
// message box "No valid screen device found.\nGood bye.\n" and exit -1.
void select_best_device_found(int16_t *best_device_index, int16_t *best_mode_index);

// The sort order: a modern device first, then a recommended one, then by name.
int32_t prefer_modern(const device_info *d1, const device_info *d2);
int compare_device_indexes(const void *a, const void *b);
