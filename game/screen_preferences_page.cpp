// The screen page of the preferences dialog.

#include "screen_preferences_page.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "hardware_rasterizer.h"
#include "input/keyboard.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "shapes.h"
#include "vesk/string_lists.h"

const double_arrow_delta max_fps_deltas[3] = {{45, 1}, {100, 5}, {300, 10}};
const double_arrow_delta tex_cache_deltas[5] = {{32, 2}, {64, 8}, {128, 16}, {256, 32}, {512, 64}};

// ---- what a device can do ---------------------------------------------------------------
// What the page enables is what the back end answers for the device
// (hardware_rasterizer.h); only the panel's default flags are the page's own.

static int16_t device_code(const device_info *device) { return device ? device->rasterizer_code : (int16_t)NONE; }

static bool opengl2(const device_info *device)
{
    return device && device->rasterizer_code == _rasterizer_opengl && device->extra_data &&
           ((const device_info_opengl *)device->extra_data)->opengl2_device;
}

// The device quietly (a bad index in a stored record is no fault here).
static device_info *device_at(int16_t device_index)
{
    if (device_index < 0 || device_index >= get_screen_device_count()) return nullptr;
    return get_screen_device(device_index);
}

static screen_parameters *page_record(void)
{
    screen_parameters *record = active_screen.prefs;
    VASSERT(record != nullptr, "the screen page has no preferences record");
    return record;
}

// ---- the lists ----------------------------------------------------------------------------

static bool mode_has_scale(const device_mode_info *mode) { return mode->scale != 1.0f; }

void add_screen_devices_to_list(dialog_data *dialog, int16_t item_id)
{
    const int16_t count = get_screen_device_count();
    const uint8_t *order = get_priority_sorted_device_indexes();
    for (int16_t i = 0; i < count; ++i)
    {
        const int16_t index = order ? order[i] : i;
        const device_info *device = device_at(index);
        if (!device) continue;
        char name[DEVICE_NAME_SIZE + 1];
        strlcpy(name, device->name, sizeof(name));
        char text[STRING_LIST_TEXT_SIZE];
        strlcpy(text, name, sizeof(text));
        if (device->recommended)
        {
            bool usable = false;
            for (int16_t mode = 0; mode < device->mode_count && !usable; ++mode)
                usable = device_mode_is_usable(device, mode);
            if (usable) slprintf(text, sizeof(text), "%s  |i(%s)", name, translate_string("Recommended"));
            else log_message(__FILE__, __LINE__, "Couldn't find any valid modes for %s.", name);
        }
        add_string_to_list(dialog, item_id, text, index, true);
    }
}

void add_screen_resolutions_to_list(dialog_data *dialog, int16_t item_id, int16_t device_index)
{
    const device_info *device = device_at(device_index);
    if (!device) return;
    for (int16_t index = 0; index < device->mode_count && index < MAXIMUM_DEVICE_MODES; ++index)
    {
        if (!device_mode_is_usable(device, index)) continue;
        const device_mode_info *mode = &device->modes[index];
        char size[STRING_LIST_TEXT_SIZE];
        slprintf(size, sizeof(size), "%d x %d%s", (int)lroundf(mode->width * mode->scale),
                 (int)lroundf(mode->height * mode->scale), mode_has_scale(mode) ? " [HiDPI]" : "");
        char text[STRING_LIST_TEXT_SIZE];
        if (mode->flags & _device_mode_preferred_flag) slprintf(text, sizeof(text), "|i%s|p", size);
        else strlcpy(text, size, sizeof(text));
        add_string_to_list(dialog, item_id, text, index, true);
    }
}

// How many numbers the row's text reads as, and those numbers.
static int parse_resolution(const void *row, int16_t length, int *width, int *height)
{
    *width = *height = 0;
    if (length != (int16_t)sizeof(string_list_data)) return 0;
    char text[STRING_LIST_TEXT_SIZE];
    strlcpy(text, ((const string_list_data *)row)->string, sizeof(text));
    const char *start = text;
    if (start[0] == '|' && start[1]) start += 2;
    const int fields = sscanf(start, "%i x %i", width, height);
    return fields < 0 ? 0 : fields;
}

int32_t resolution_list_sort_proc(const void *res1, int16_t length1, const void *res2, int16_t length2)
{
    int w1, h1, w2, h2;
    const int n1 = parse_resolution(res1, length1, &w1, &h1);
    const int n2 = parse_resolution(res2, length2, &w2, &h2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (w1 != w2) return w1 < w2 ? -1 : 1;
    if (h1 != h2) return h1 < h2 ? -1 : 1;
    return 0;
}

// ---- keeping the controls in step ----------------------------------------------------------

static void set_enabled(dialog_data *dialog, int16_t item_id, bool enabled) { bitmap_set_item_enabled(dialog, item_id, enabled); }

void synchronize_controls_with_data(dialog_data *dialog)
{
    const screen_parameters *record = page_record();
    if (!record) return;
    const device_info *device = device_at(record->device_index);
    const int16_t code = device_code(device);

    const int32_t max_fps = abs((int32_t)record->max_fps);
    set_double_arrow_control_delta(dialog, _screen_page_max_fps_item, 3, max_fps_deltas);
    set_double_arrow_control_value(dialog, _screen_page_max_fps_item, MINIMUM_MAX_FPS, MAXIMUM_MAX_FPS, max_fps);
    set_enabled(dialog, _screen_page_max_fps_item, record->max_fps > 0);
    set_checkbox_state(dialog, _screen_page_max_fps_check_item, record->max_fps > 0);

    set_double_arrow_control_delta(dialog, _screen_page_texture_cache_item, 5, tex_cache_deltas);
    set_double_arrow_control_value(dialog, _screen_page_texture_cache_item, MINIMUM_TEXTURE_CACHE_SIZE,
                                   MAXIMUM_TEXTURE_CACHE_SIZE, record->texture_cache_size);
    set_enabled(dialog, _screen_page_texture_cache_caption_item, rasterizer_requires_hardware_format_cache(code));
    set_enabled(dialog, _screen_page_texture_cache_item, rasterizer_requires_hardware_format_cache(code));

    set_checkbox_state(dialog, _screen_page_window_item, (record->flags & _screen_pref_windowed_flag) != 0);

    set_button_control_name(dialog, _screen_page_high_resolution_item, translate_string("Landscape Textures"));
    if (code == _rasterizer_opengl || code == _rasterizer_dx11)
    {
        set_enabled(dialog, _screen_page_high_resolution_item, true);
        set_checkbox_state(dialog, _screen_page_high_resolution_item,
                           (record->flags & _screen_pref_landscape_textures_flag) != 0);
        // A driver that draws on the processor never filters anisotropically
        // (the back end turns it off there); the stored choice is kept for
        // another device.
        const bool on_processor =
            code == _rasterizer_opengl &&
            opengl_device_renders_on_processor((const device_info_opengl *)device->extra_data);
        set_enabled(dialog, _screen_page_landscape_filtering_item, !on_processor);
        set_button_control_name(dialog, _screen_page_landscape_filtering_item,
                                translate_string("Anisotropic Filtering"));
        set_checkbox_state(dialog, _screen_page_landscape_filtering_item,
                           !on_processor && (record->flags & _screen_pref_anisotropic_filtering_flag) != 0);
    }
    else
    {
        set_enabled(dialog, _screen_page_high_resolution_item, false);
        set_button_control_name(dialog, _screen_page_landscape_filtering_item,
                                translate_string("Landscape Filtering"));
        set_enabled(dialog, _screen_page_landscape_filtering_item, code == _rasterizer_software);
        set_checkbox_state(dialog, _screen_page_landscape_filtering_item,
                           (record->flags & _screen_pref_landscape_filtering_flag) != 0);
    }

    set_enabled(dialog, _screen_page_fog_item, rasterizer_supports_fog(device));
    if (rasterizer_supports_fog(device))
        set_checkbox_state(dialog, _screen_page_fog_item, (record->flags & _screen_pref_fog_enabled_flag) != 0);
    set_enabled(dialog, _screen_page_vsync_item, rasterizer_supports_vsync(device));
    if (rasterizer_supports_vsync(device))
        set_checkbox_state(dialog, _screen_page_vsync_item, (record->flags & _screen_pref_vsync_enabled_flag) != 0);

    set_slider_value(dialog, _screen_page_gamma_item, record->gamma * 2);
    set_enabled(dialog, _screen_page_gamma_caption_item, rasterizer_supports_gamma(device));
    set_enabled(dialog, _screen_page_gamma_item, rasterizer_supports_gamma(device));

    bool forced = false;
    const bool has_32bit = rasterizer_supports_32bit(device, &forced);
    set_enabled(dialog, _screen_page_32bit_item, has_32bit && !forced);
    set_checkbox_state(dialog, _screen_page_32bit_item, (record->flags & _screen_pref_32bit_flag) != 0 || forced);

    set_enabled(dialog, _screen_page_highres_sprites_item, rasterizer_supports_highres(device));
    set_checkbox_state(dialog, _screen_page_highres_sprites_item,
                       rasterizer_supports_highres(device) && (record->flags & _screen_pref_highres_sprites_flag) != 0);
}

// ---- the handler --------------------------------------------------------------------------

uint16_t screen_device_panel_default_flags(int16_t device_index)
{
    const device_info *device = device_at(device_index);
    switch (device_code(device))
    {
    case _rasterizer_opengl: return opengl2(device) ? 507 : 19;
    case _rasterizer_dx11: return 506;
    // The Windows version tests of code 1 never hold here.
    case _rasterizer_direct3d: return 2;
    default: return 18;
    }
}

static void fill_resolution_list(dialog_data *dialog, int16_t device_index, int16_t mode_index)
{
    bitmap_empty_list(dialog, _screen_page_resolution_list_item);
    add_screen_resolutions_to_list(dialog, _screen_page_resolution_list_item, device_index);
    if (select_string_list_by_identifier(dialog, _screen_page_resolution_list_item, mode_index)) return;
    bitmap_clear_selections(dialog, _screen_page_resolution_list_item);
}

static void set_record_mode(screen_parameters *record, const device_info *device, int16_t mode_index)
{
    record->mode_index = mode_index;
    if (!device || mode_index < 0 || mode_index >= device->mode_count) return;
    const device_mode_info *mode = &device->modes[mode_index];
    record->width = (uint16_t)mode->width;
    record->height = (uint16_t)mode->height;
    if (mode_has_scale(mode)) record->flags |= _screen_pref_hidpi_flag;
    else record->flags &= (uint16_t)~_screen_pref_hidpi_flag;
}

static void change_device(dialog_data *dialog, screen_parameters *record, int16_t new_device_index)
{
    const device_info *old_device = device_at(record->device_index);
    const device_info *new_device = device_at(new_device_index);
    if (!new_device) return;
    int16_t mode = record->mode_index;
    if (old_device && device_mode_is_usable(old_device, record->mode_index))
    {
        const device_mode_info wanted = old_device->modes[record->mode_index];
        find_mode_similar_to(new_device, &wanted, &mode);
    }
    record->flags = (uint16_t)((record->flags & SCREEN_PAGE_KEPT_FLAGS_MASK) |
                               (screen_device_panel_default_flags(new_device_index) & ~SCREEN_PAGE_KEPT_FLAGS_MASK));
    if ((record->flags & _screen_pref_vsync_enabled_flag) && record->max_fps > 0)
        record->max_fps = (int16_t)-record->max_fps;

    if (!device_mode_is_usable(new_device, mode))
    {
        mode = NONE;
        for (int16_t i = 0; i < new_device->mode_count && mode == NONE; ++i)
            if (device_mode_is_usable(new_device, i)) mode = i;
    }
    fill_resolution_list(dialog, new_device_index, mode);
    record->device_index = new_device_index;
    set_record_mode(record, new_device, mode);
    // The page shows the new device's flags before it is read back.
    synchronize_controls_with_data(dialog);
}

static void set_flag(screen_parameters *record, uint16_t flag, bool on)
{
    if (on) record->flags |= flag;
    else record->flags &= (uint16_t)~flag;
}

// A check box sets its flag only while it can be used; a disabled one leaves
// the record's bit as it is (fog stays on for a device that cannot fog).
static void read_check_box(dialog_data *dialog, screen_parameters *record, int16_t item_id, uint16_t flag)
{
    if (bitmap_get_item_enabled(dialog, item_id)) set_flag(record, flag, get_checkbox_state(dialog, item_id));
}

static void read_back_record(dialog_data *dialog, screen_parameters *record)
{
    const int32_t device_index = get_string_list_selected_identifier(dialog, _screen_page_rasterizer_list_item);
    if (device_index != NONE) record->device_index = (int16_t)device_index;
    const device_info *device = device_at(record->device_index);
    const int32_t mode_index = get_string_list_selected_identifier(dialog, _screen_page_resolution_list_item);
    set_record_mode(record, device, (int16_t)mode_index);
    if (device)
    {
        strlcpy(record->device_name, device->name, sizeof(record->device_name));
        record->rasterizer_id = device->rasterizer_id;
    }
    const int16_t code = device_code(device);
    if (code == _rasterizer_opengl || code == _rasterizer_dx11)
    {
        read_check_box(dialog, record, _screen_page_high_resolution_item, _screen_pref_landscape_textures_flag);
        read_check_box(dialog, record, _screen_page_landscape_filtering_item, _screen_pref_anisotropic_filtering_flag);
    }
    else
    {
        read_check_box(dialog, record, _screen_page_landscape_filtering_item, _screen_pref_landscape_filtering_flag);
    }
    read_check_box(dialog, record, _screen_page_vsync_item, _screen_pref_vsync_enabled_flag);
    read_check_box(dialog, record, _screen_page_fog_item, _screen_pref_fog_enabled_flag);
    read_check_box(dialog, record, _screen_page_32bit_item, _screen_pref_32bit_flag);
    read_check_box(dialog, record, _screen_page_highres_sprites_item, _screen_pref_highres_sprites_flag);
    record->gamma = (short_fixed)(get_slider_value(dialog, _screen_page_gamma_item) / 2);
    const int32_t max_fps = get_double_arrow_control_value(dialog, _screen_page_max_fps_item);
    record->max_fps = (int16_t)(get_checkbox_state(dialog, _screen_page_max_fps_check_item) ? max_fps : -max_fps);
    record->texture_cache_size = (uint16_t)get_double_arrow_control_value(dialog, _screen_page_texture_cache_item);
    if (code == _rasterizer_software || code == _rasterizer_opengl)
        set_flag(record, _screen_pref_windowed_flag, get_checkbox_state(dialog, _screen_page_window_item));
    else
        set_flag(record, _screen_pref_windowed_flag, false);
}

static void setup(dialog_data *dialog, screen_parameters *record)
{
    set_button_control_flags(dialog, _screen_page_32bit_item, 9);
    set_button_control_flags(dialog, _screen_page_window_item, 1);
    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (elements != NONE) set_button_control_shape(dialog, _screen_page_window_item, (int16_t)elements, 1);
    set_button_control_name(dialog, _screen_page_window_item, translate_string("Windowed"));

    bitmap_set_list_flag(dialog, _screen_page_rasterizer_list_item, _list_cant_lose_selection_flag, true);
    bitmap_set_list_sort_proc(dialog, _screen_page_rasterizer_list_item, nullptr);
    add_screen_devices_to_list(dialog, _screen_page_rasterizer_list_item);
    select_string_list_by_identifier(dialog, _screen_page_rasterizer_list_item, record->device_index);

    bitmap_set_list_flag(dialog, _screen_page_resolution_list_item, _list_cant_lose_selection_flag, true);
    bitmap_set_list_sort_proc(dialog, _screen_page_resolution_list_item, resolution_list_sort_proc);
    fill_resolution_list(dialog, record->device_index, record->mode_index);

    set_slider_extrema(dialog, _screen_page_gamma_item, SCREEN_PAGE_GAMMA_SLIDER_MINIMUM,
                       SCREEN_PAGE_GAMMA_SLIDER_MAXIMUM);
    set_slider_default_value(dialog, _screen_page_gamma_item, SCREEN_PAGE_GAMMA_SLIDER_DEFAULT);
    bitmap_set_item_visible(dialog, _screen_page_highres_sprites_item, false);
    synchronize_controls_with_data(dialog);
}

static void item_hit(dialog_data *dialog, screen_parameters *record, int16_t item_id)
{
    const bool shift = key_down(SHIFT_KEYBOARD_CODE);
    if (item_id == _screen_page_vsync_item && get_checkbox_state(dialog, item_id) && !shift)
        set_checkbox_state(dialog, _screen_page_max_fps_check_item, false);
    if (item_id == _screen_page_max_fps_check_item && get_checkbox_state(dialog, item_id) && !shift)
        set_checkbox_state(dialog, _screen_page_vsync_item, false);
    if (item_id == _screen_page_rasterizer_list_item)
    {
        const int32_t chosen = get_string_list_selected_identifier(dialog, _screen_page_rasterizer_list_item);
        if (chosen != NONE && chosen != record->device_index) change_device(dialog, record, (int16_t)chosen);
    }
    read_back_record(dialog, record);
    synchronize_controls_with_data(dialog);
}

bool screen_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    screen_parameters *record = page_record();
    switch (verb)
    {
    case _preferences_panel_setup:
        if (record) setup(dialog, record);
        break;
    case _preferences_panel_teardown: break;
    case _preferences_panel_item_hit:
        if (record) item_hit(dialog, record, item_id);
        break;
    case _preferences_panel_commit:
        if (record) save_screen_parameters(record);
        break;
    case _preferences_panel_discard:
        if (record) load_screen_parameters(record);
        break;
    default: HALT("unknown screen page verb"); break;
    }
    return true;
}
