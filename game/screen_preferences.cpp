// The "screen preferences" record.  See screen_preferences.h.

#include "screen_preferences.h"

#include <cstdlib>
#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/system_info.h"
#include "screen.h"
#include "screen_setup.h"
#include "tag_files/preferences.h"

static struct screen_preferences_globals
{
    int64_t memory_size_for_tests; // 0: the machine's
} screen_preferences_globals;

const byte_swap_code screen_parameters_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    _4byte,
    64,
    _2byte, _2byte,
    _end_bs_array};

preferences_globals screen_preferences = {
    SCREEN_PREFERENCES_NAME, (int32_t)sizeof(screen_parameters), SCREEN_PREFERENCES_VERSION_NUMBER,
    default_screen_parameters, verify_screen_parameters, screen_parameters_byte_swapping_data,
    FOUR_CHARACTER_CODE('s', 'c', 'r', 'n'), nullptr};

void set_screen_preferences_memory_size_for_tests(int64_t bytes) { screen_preferences_globals.memory_size_for_tests = bytes; }

static int64_t physical_memory_size(void)
{
    return screen_preferences_globals.memory_size_for_tests ? screen_preferences_globals.memory_size_for_tests
                                                            : get_physical_memory_size();
}

uint16_t default_texture_cache_size(int64_t physical_memory)
{
    const int64_t megabytes = physical_memory >> 20;
    int64_t size = ((megabytes / 2) * 3 - 960) / 4; // C++ division truncates toward zero
    size &= ~(int64_t)1; // even, rounding down
    if (size < MINIMUM_TEXTURE_CACHE_SIZE) size = MINIMUM_TEXTURE_CACHE_SIZE;
    if (size > MAXIMUM_TEXTURE_CACHE_SIZE) size = MAXIMUM_TEXTURE_CACHE_SIZE;
    return (uint16_t)size;
}

// Linux is never the newer Windows that the 32-bit and DX11 defaults ask for.
static uint16_t default_flags_for_device(const device_info *device)
{
    if (device && device->rasterizer_code == _rasterizer_opengl)
    {
        const device_info_opengl *opengl = (const device_info_opengl *)device->extra_data;
        return opengl && opengl->opengl2_device ? 1019 : 531;
    }
    if (device && device->rasterizer_code == _rasterizer_dx11) return 1018;
    return 530;
}

void default_screen_parameters(void *data)
{
    screen_parameters *record = (screen_parameters *)data;
    memset(record, 0, sizeof(*record));
    int16_t device_index = NONE, mode_index = NONE;
    select_best_device_found(&device_index, &mode_index);
    const device_info *device = get_screen_device(device_index);
    if (!device_mode_is_usable(device, mode_index))
    {
        mode_index = NONE;
        for (int16_t i = 0; device && i < device->mode_count && mode_index == NONE; ++i)
            if (device_mode_is_usable(device, i)) mode_index = i;
    }
    record->device_index = device_index;
    record->mode_index = mode_index;
    record->gamma = DEFAULT_GAMMA;
    record->max_fps = DEFAULT_MAX_FPS;
    record->texture_cache_size = default_texture_cache_size(physical_memory_size());
    record->flags = default_flags_for_device(device);
    if (device)
    {
        record->rasterizer_id = device->rasterizer_id;
        strlcpy(record->device_name, device->name, sizeof(record->device_name));
    }
    if (mode_index != NONE)
    {
        const device_mode_info *mode = &device->modes[mode_index];
        record->width = (uint16_t)mode->width;
        record->height = (uint16_t)mode->height;
        if (mode->scale != 1.0f) record->flags |= _screen_pref_hidpi_flag;
    }
}

// The usable mode nearest the stored size, preferring the stored density.
static int16_t find_mode_by_size(const device_info *device, int32_t width, int32_t height, bool hidpi)
{
    int16_t best = NONE;
    float best_score = 0.0f;
    for (int16_t i = 0; i < device->mode_count; ++i)
    {
        if (!device_mode_is_usable(device, i)) continue;
        const device_mode_info *mode = &device->modes[i];
        float score = mode_size_similarity(width, mode->width) + mode_size_similarity(height, mode->height);
        if (mode->scale == (hidpi ? 2.0f : 1.0f)) score += 1.0f;
        if (best == NONE || score > best_score)
        {
            best = i;
            best_score = score;
        }
    }
    return best;
}

bool verify_screen_parameters(void *data)
{
    screen_parameters *record = (screen_parameters *)data;

    int16_t device_index;
    char name[DEVICE_NAME_SIZE];
    memcpy(name, record->device_name, sizeof(name));
    name[sizeof(name) - 1] = 0;
    if (find_device(record->rasterizer_id, name, &device_index))
    {
        record->device_index = device_index;
    }
    else if (record->rasterizer_id != 0 || record->device_index < 0 ||
             record->device_index >= get_screen_device_count())
    {
        return false; // the device is gone
    }
    const device_info *device = get_screen_device(record->device_index);
    if (!device) return false;

    if (record->width == 0 || record->height == 0)
    {
        if (!device_mode_is_usable(device, record->mode_index)) return false;
    }
    else
    {
        // A stored index that names no usable mode is never kept: with no mode
        // near the stored size the record falls back to the defaults.
        const int16_t mode_index = find_mode_by_size(device, record->width, record->height,
                                                     (record->flags & _screen_pref_hidpi_flag) != 0);
        if (mode_index == NONE) return false;
        record->mode_index = mode_index;
        if (device->modes[mode_index].scale != 1.0f) record->flags |= _screen_pref_hidpi_flag;
        else record->flags &= (uint16_t)~_screen_pref_hidpi_flag;
    }

    memset(record->device_name, 0, sizeof(record->device_name));
    strlcpy(record->device_name, device->name, sizeof(record->device_name));
    record->rasterizer_id = device->rasterizer_id;

    if (record->gamma < MINIMUM_GAMMA || record->gamma > MAXIMUM_GAMMA) return false;

    const int32_t max_fps = record->max_fps;
    if (abs(max_fps) > MAXIMUM_MAX_FPS || (max_fps > -MINIMUM_MAX_FPS && max_fps < MINIMUM_MAX_FPS))
        record->max_fps = DEFAULT_MAX_FPS;

    if (record->texture_cache_size != 0 && (record->flags & _screen_pref_texture_cache_size_updated_flag))
    {
        if (record->texture_cache_size < MINIMUM_TEXTURE_CACHE_SIZE) record->texture_cache_size = MINIMUM_TEXTURE_CACHE_SIZE;
        if (record->texture_cache_size > MAXIMUM_TEXTURE_CACHE_SIZE) record->texture_cache_size = MAXIMUM_TEXTURE_CACHE_SIZE;
    }
    else
    {
        record->texture_cache_size = default_texture_cache_size(physical_memory_size());
        record->flags |= _screen_pref_texture_cache_size_updated_flag;
    }
    return true;
}

bool convert_screen_parameters(const void *old_record, void *new_record, int16_t version)
{
    (void)old_record;
    (void)new_record;
    return version == 3;
}

void load_screen_parameters(screen_parameters *record)
{
    ASSERT(screen_preferences.size == (int32_t)sizeof(screen_parameters));
    const void *stored = read_preferences_convert(&screen_preferences, convert_screen_parameters);
    if (stored)
    {
        memcpy(record, stored, sizeof(*record));
    }
    else
    {
        log_message(__FILE__, __LINE__, "screen preferences: the store could not be read; using the defaults");
        default_screen_parameters(record);
        verify_screen_parameters(record);
    }
    free_preferences(&screen_preferences);
}

bool save_screen_parameters(const screen_parameters *record)
{
    void *stored = read_preferences_convert(&screen_preferences, convert_screen_parameters);
    bool written = false;
    if (stored)
    {
        memcpy(stored, record, sizeof(*record));
        written = write_preferences(&screen_preferences);
    }
    free_preferences(&screen_preferences);
    if (!written) log_message(__FILE__, __LINE__, "screen preferences: the record could not be written");
    return written;
}
