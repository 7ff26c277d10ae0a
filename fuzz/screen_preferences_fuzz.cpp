// The "screen preferences" record as read from disk, on arbitrary bytes: after
// the swap and the verification it is a record the screen may use (or the
// verified defaults), and a second verification changes nothing.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"

// The software device of a 1920 x 1080 desktop and a high-density OpenGL one.
static void build_device_table(void)
{
    static device_info_opengl opengl = {};
    opengl.opengl2_device = true;
    device_info device = {};
    device.rasterizer_code = 0;
    strcpy(device.name, "Software");
    add_device_mode(&device, 0, 1920, 1080, 32, 0, 1.0f);
    add_device_mode(&device, 0, 640, 480, 32, 0, 1.0f);
    add_device_mode(&device, _device_mode_invalid_flag, 800, 600, 32, 0, 1.0f);
    add_device_mode(&device, 0, 1024, 768, 32, 0, 2.0f);
    report_device(&device);
    device = {};
    device.rasterizer_code = 4;
    strcpy(device.name, "Card");
    device.extra_data = &opengl;
    add_device_mode(&device, 0, 1920, 1080, 32, 60, 1.0f);
    add_device_mode(&device, 0, 1920, 1080, 32, 60, 2.0f);
    report_device(&device);
    sort_screen_devices();
    original_screen_width = 1920;
    original_screen_height = 1080;
}

static bool usable(const screen_parameters &record)
{
    const device_info *device = get_screen_device(record.device_index);
    if (!device || !device_mode_is_usable(device, record.mode_index)) return false;
    if (record.gamma < MINIMUM_GAMMA || record.gamma > MAXIMUM_GAMMA) return false;
    if (abs(record.max_fps) < MINIMUM_MAX_FPS || abs(record.max_fps) > MAXIMUM_MAX_FPS) return false;
    if (record.texture_cache_size < MINIMUM_TEXTURE_CACHE_SIZE || record.texture_cache_size > MAXIMUM_TEXTURE_CACHE_SIZE)
        return false;
    if (!memchr(record.device_name, 0, sizeof(record.device_name))) return false;
    return strcmp(record.device_name, device->name) == 0 && record.rasterizer_id == device->rasterizer_id;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool built = false;
    if (!built)
    {
        build_device_table();
        built = true;
    }
    screen_parameters record;
    memset(&record, 0, sizeof(record));
    memcpy(&record, data, size < sizeof(record) ? size : sizeof(record));
    if (!byte_swap_data("screen preferences", &record, sizeof(record), 1, screen_parameters_byte_swapping_data)) abort();
    if (!verify_screen_parameters(&record))
    {
        default_screen_parameters(&record);
        if (!verify_screen_parameters(&record)) abort(); // the defaults always pass
    }
    if (!usable(record)) abort();
    screen_parameters again = record;
    if (!verify_screen_parameters(&again) || memcmp(&again, &record, sizeof(record)) != 0) abort();
    return 0;
}
