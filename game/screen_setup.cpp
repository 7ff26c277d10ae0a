// The display devices and their modes.  See screen_setup.h.

#include "screen_setup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/sorting.h"
#include "hardware_rasterizer.h"
#include "screen.h"
#include "screen_sdl.h"
#include "setup_software_sdl.h"

static struct screen_setup_globals
{
    device_info devices[MAXIMUM_SCREEN_DEVICES];
    int16_t device_count;
    uint8_t priority_sorted_device_indexes[MAXIMUM_SCREEN_DEVICES];
    bool any_modern_hardware_devices;
} screen_setup_globals;

// The common sizes offered below a single mode, in the order they are added.
static const point2d common_sizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 800}, {1440, 900}, {1680, 1050}};
// A common size is added only below a mode this much larger in each direction.
enum { COMMON_SIZE_MARGIN = 49 };

tag rasterizer_code_to_id(int16_t rasterizer_code)
{
    switch (rasterizer_code)
    {
    case _rasterizer_software: return SOFTWARE_RASTERIZER_ID;
    case _rasterizer_opengl: return OPENGL_RASTERIZER_ID;
    default: return 0;
    }
}

void clear_screen_devices(void)
{
    memset(&screen_setup_globals, 0, sizeof(screen_setup_globals));
}

static bool device_has_mode_of_size(const device_info *device, int16_t width, int16_t height)
{
    for (int16_t i = 0; i < device->mode_count; ++i)
        if (device->modes[i].width == width && device->modes[i].height == height) return true;
    return false;
}

void add_device_mode(device_info *device, uint32_t flags, int16_t width, int16_t height, int16_t bit_depth,
                     int16_t refresh_rate, float scale)
{
    if (device->mode_count < 0 || device->mode_count >= MAXIMUM_DEVICE_MODES) return;
    device_mode_info *mode = &device->modes[device->mode_count++];
    mode->flags = flags;
    mode->width = width;
    mode->height = height;
    mode->bit_depth = bit_depth;
    mode->refresh_rate = refresh_rate;
    mode->scale = scale;
}

void add_resolution(device_info *device, int16_t width, int16_t height)
{
    if (!is_valid_resolution(width, height) || device_has_mode_of_size(device, width, height)) return;
    add_device_mode(device, 0, width, height, DESIRED_BIT_DEPTH, 0, 1.0f);
}

// A device with one large mode gets the common sizes below it: the chain stops
// at the first size too wide for the mode; a size too tall is only skipped.
static void add_common_sizes_below_single_mode(device_info *device)
{
    if (device->mode_count != 1) return;
    const int32_t width = device->modes[0].width, height = device->modes[0].height;
    for (const point2d &size : common_sizes)
    {
        if (width < size.x + COMMON_SIZE_MARGIN) break;
        if (height < size.y + COMMON_SIZE_MARGIN) continue;
        add_resolution(device, size.x, size.y);
    }
}

int32_t report_device(device_info *device)
{
    if (screen_setup_globals.device_count >= MAXIMUM_SCREEN_DEVICES)
    {
        log_message(__FILE__, __LINE__, "Found too many screen devices! '%s' is left out", device->name);
        return screen_setup_globals.device_count;
    }
    device->rasterizer_id = rasterizer_code_to_id(device->rasterizer_code);
    screen_setup_globals.devices[screen_setup_globals.device_count] = *device;
    return ++screen_setup_globals.device_count;
}

void display_device_query_and_report_modes(int32_t rasterizer_code, const char *rasterizer_string,
                                           void *device_extra)
{
    // One device record is 5 kB: kept off the stack of the caller's caller.
    static device_info device;
    memset(&device, 0, sizeof(device));
    device.rasterizer_code = (int16_t)rasterizer_code;
    strlcpy(device.name, rasterizer_string ? rasterizer_string : "", sizeof(device.name));
    device.extra_data = device_extra;

    // Room for more than a device keeps, so a longer list is seen and reported.
    enum { MAXIMUM_LISTED_MODES = 4 * MAXIMUM_DEVICE_MODES };
    static point2d sizes[MAXIMUM_LISTED_MODES];
    const int32_t count = list_fullscreen_modes(rasterizer_code == _rasterizer_opengl, sizes, MAXIMUM_LISTED_MODES);
    if (count == NONE)
    {
        // "Any size": the desktop is the one mode the common sizes hang from.
        int16_t width = 0, height = 0;
        get_true_screen_dimensions(&width, &height);
        add_resolution(&device, width, height);
    }
    else
    {
        int32_t dropped = 0;
        for (int32_t i = 0; i < count; ++i)
        {
            if (!is_valid_resolution(sizes[i].x, sizes[i].y) || device_has_mode_of_size(&device, sizes[i].x, sizes[i].y))
                continue;
            if (device.mode_count >= MAXIMUM_DEVICE_MODES)
            {
                ++dropped;
                continue;
            }
            add_device_mode(&device, 0, sizes[i].x, sizes[i].y, DESIRED_BIT_DEPTH, 0, 1.0f);
        }
        if (dropped)
            log_message(__FILE__, __LINE__, "%s: %d modes past the first %d are left out", device.name, dropped,
                        (int32_t)MAXIMUM_DEVICE_MODES);
    }
    add_common_sizes_below_single_mode(&device);
    if (device.mode_count > 0) report_device(&device);
}

device_info *get_screen_device(int16_t device_index)
{
    if (!VASSERT(screen_setup_globals.device_count > 0, "No devices found!")) return nullptr;
    if (!ASSERT(device_index >= 0 && device_index < screen_setup_globals.device_count)) return nullptr;
    return &screen_setup_globals.devices[device_index];
}

int16_t get_screen_device_count(void) { return screen_setup_globals.device_count; }

const uint8_t *get_priority_sorted_device_indexes(void) { return screen_setup_globals.priority_sorted_device_indexes; }

bool any_modern_hardware_devices_found(void) { return screen_setup_globals.any_modern_hardware_devices; }

int32_t prefer_modern(const device_info *d1, const device_info *d2)
{
    if (d1->modern == d2->modern) return NONE;
    return d1->modern ? d1->rasterizer_code : d2->rasterizer_code;
}

int compare_device_indexes(const void *a, const void *b)
{
    const device_info *d1 = &screen_setup_globals.devices[*(const uint8_t *)a];
    const device_info *d2 = &screen_setup_globals.devices[*(const uint8_t *)b];
    if (prefer_modern(d1, d2) != NONE) return d1->modern ? -1 : 1;
    if (d1->recommended != d2->recommended) return d1->recommended ? -1 : 1;
    return strcmp(d1->name, d2->name);
}

bool opengl_device_renders_on_processor(const device_info_opengl *device)
{
    if (!device) return false;
    char renderer[sizeof(device->renderer) + 1];
    strlcpy_field(renderer, sizeof(renderer), device->renderer, sizeof(device->renderer));
    return strstr(renderer, "llvmpipe") || strstr(renderer, "softpipe");
}

static const device_info_opengl *opengl_record(const device_info *device)
{
    if (device->rasterizer_code != _rasterizer_opengl) return nullptr;
    return (const device_info_opengl *)device->extra_data;
}

// An OpenGL driver that draws on the processor is no better than the
// software rasterizer, and slower: it is never the modern choice.
static bool device_is_modern(const device_info *device)
{
    if (device->rasterizer_code == _rasterizer_dx11) return true;
    const device_info_opengl *opengl = opengl_record(device);
    return opengl && opengl->opengl2_device && !opengl_device_renders_on_processor(opengl);
}

void query_for_screen_devices(void)
{
    clear_screen_devices();
    log_message(nullptr, -1, "Scanning for %s devices...", "software");
    query_software_device();
    log_message(nullptr, -1, "\tFound %d to use", (int32_t)screen_setup_globals.device_count);

    const int16_t before_opengl = screen_setup_globals.device_count;
    log_message(nullptr, -1, "Scanning for %s devices...", "OpenGL");
    query_opengl_devices();
    log_message(nullptr, -1, "\tFound %d to use", screen_setup_globals.device_count - before_opengl);
    for (int16_t i = 0; i < screen_setup_globals.device_count; ++i)
    {
        const device_info *device = &screen_setup_globals.devices[i];
        if (device->rasterizer_code != _rasterizer_opengl || !device->extra_data) continue;
        const device_info_opengl *opengl = (const device_info_opengl *)device->extra_data;
        log_message(nullptr, -1, "\t%s | %s | %s", opengl->renderer, opengl->vendor, opengl->name);
    }

    if (screen_setup_globals.device_count == 0)
    {
        log_message(nullptr, -1, "No valid screen devices were found!");
        // The program ends here: a player who started it from a terminal
        // (with no X display, say) learns why there, not only in the log.
        fprintf(stderr, "vesk: no screen device was found (is there an X display?)\n");
        exit(-1);
    }
    sort_screen_devices();
}

void sort_screen_devices(void)
{
    screen_setup_globals.any_modern_hardware_devices = false;
    bool opengl_on_processor = false;
    for (int16_t i = 0; i < screen_setup_globals.device_count; ++i)
    {
        device_info *device = &screen_setup_globals.devices[i];
        screen_setup_globals.priority_sorted_device_indexes[i] = (uint8_t)i;
        device->modern = device_is_modern(device);
        if (device->modern) screen_setup_globals.any_modern_hardware_devices = true;
        if (opengl_device_renders_on_processor(opengl_record(device))) opengl_on_processor = true;
    }
    // Where OpenGL would only draw on the processor, the software rasterizer
    // is the faster choice, and the one recommended (OpenGL stays listed).
    for (int16_t i = 0; i < screen_setup_globals.device_count; ++i)
    {
        device_info *device = &screen_setup_globals.devices[i];
        device->recommended = device->modern || (device->rasterizer_code == _rasterizer_software &&
                                                 opengl_on_processor &&
                                                 !screen_setup_globals.any_modern_hardware_devices);
    }
    qsort_private(screen_setup_globals.priority_sorted_device_indexes, (size_t)screen_setup_globals.device_count, 1,
                  compare_device_indexes);
}

bool find_device(tag rasterizer_id, const char *name, int16_t *out_device_index)
{
    for (int16_t i = 0; i < screen_setup_globals.device_count; ++i)
    {
        const device_info *device = &screen_setup_globals.devices[i];
        if (device->rasterizer_id != rasterizer_id) continue;
        if (name && strncmp(device->name, name, DEVICE_NAME_SIZE) != 0) continue;
        if (out_device_index) *out_device_index = i;
        return true;
    }
    return false;
}

bool find_device_and_mode(tag rasterizer_id, const char *name, int32_t width, int32_t height,
                          int16_t *out_device_index, int16_t *out_mode_index)
{
    int16_t device_index;
    if (!find_device(rasterizer_id, name, &device_index)) return false;
    const device_info *device = &screen_setup_globals.devices[device_index];
    for (int16_t i = 0; i < device->mode_count; ++i)
    {
        if (device->modes[i].width != width || device->modes[i].height != height) continue;
        if (out_device_index) *out_device_index = device_index;
        if (out_mode_index) *out_mode_index = i;
        return true;
    }
    return false;
}

bool device_mode_is_usable(const device_info *device, int16_t mode_index)
{
    if (!device || mode_index < 0 || mode_index >= device->mode_count) return false;
    const device_mode_info *mode = &device->modes[mode_index];
    if (mode->flags & _device_mode_invalid_flag) return false;
    return device->rasterizer_code != _rasterizer_software || mode->scale == 1.0f;
}

float mode_size_similarity(int32_t wanted, int32_t actual)
{
    const int32_t larger = wanted > actual ? wanted : actual;
    if (larger <= 0) return 1.0f;
    return 1.0f - (float)abs(wanted - actual) / (float)larger;
}

bool find_mode_similar_to(const device_info *device, const device_mode_info *existing_mode, int16_t *out_mode)
{
    int16_t best = NONE;
    float best_score = 0.0f;
    for (int16_t i = 0; device && i < device->mode_count; ++i)
    {
        if (!device_mode_is_usable(device, i)) continue;
        const device_mode_info *mode = &device->modes[i];
        float score = mode_size_similarity(existing_mode->width, mode->width) +
                      mode_size_similarity(existing_mode->height, mode->height);
        if (existing_mode->bit_depth != NONE && existing_mode->bit_depth == mode->bit_depth) score += 1.0f;
        if (existing_mode->refresh_rate != NONE && existing_mode->refresh_rate == mode->refresh_rate) score += 1.0f;
        if (existing_mode->scale == mode->scale) score += 1.0f;
        if (best == NONE || score > best_score)
        {
            best = i;
            best_score = score;
        }
    }
    if (out_mode) *out_mode = best;
    return best != NONE;
}

void select_best_device_found(int16_t *best_device_index, int16_t *best_mode_index)
{
    if (screen_setup_globals.device_count == 0)
    {
        show_message_box("No valid screen device found.\nGood bye.\n");
        log_message(nullptr, -1, "%s %s", "No valid screen device found.", "Good bye.");
        exit(-1);
    }
    const int16_t device_index = screen_setup_globals.priority_sorted_device_indexes[0];
    device_mode_info wanted = {};
    wanted.width = original_screen_width;
    wanted.height = original_screen_height;
    wanted.bit_depth = NONE;
    wanted.refresh_rate = NONE;
    wanted.scale = 2.0f;
    int16_t mode_index;
    if (!find_mode_similar_to(&screen_setup_globals.devices[device_index], &wanted, &mode_index)) mode_index = 0;
    if (best_device_index) *best_device_index = device_index;
    if (best_mode_index) *best_mode_index = mode_index;
}
