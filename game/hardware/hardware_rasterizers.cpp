#include "hardware/hardware_rasterizers.h"

#include <cstddef>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialog_redraw.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "control_bar.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_2d.h"
#include "hardware/OpenGL/render_opengl_scene.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "hardware/texture_cache.h"
#include "hardware_rasterizer.h"
#include "render/render.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "shapes.h"
#include "status_bar.h"

// A bar's resident texture: the record is ours, the bitmap the bar dialog's.
// `texture` points at the record while the map's cache holds it.
struct bar_texture
{
    preallocated_texture record;
    preallocated_texture *texture;
};

static struct hardware_rasterizers_globals
{
    bool status_bars_downloaded;
    bar_texture bars[NUMBER_OF_OPENGL_BARS]; // the status bar, then the control bar
} hardware_rasterizers_globals;

// ---- capabilities ------------------------------------------------------------------

static bool is_opengl2_device(const device_info *device)
{
    return device && device->rasterizer_code == _rasterizer_opengl && device->extra_data &&
           ((const device_info_opengl *)device->extra_data)->opengl2_device;
}

uint32_t opengl_device_capabilities(const device_info *device)
{
    const int16_t code = device ? device->rasterizer_code : (int16_t)NONE;
    const bool opengl2 = is_opengl2_device(device);
    uint32_t flags = _rasterizer_supports_32bit;
    if (code == _rasterizer_3dfx || code == _rasterizer_opengl) flags |= _rasterizer_supports_fog;
    if (opengl2) flags |= _rasterizer_supports_highres | _rasterizer_supports_extended_zoom;
    if (code == _rasterizer_opengl) flags |= _rasterizer_supports_vsync;
    const bool multithread = !device || (code == _rasterizer_opengl ? opengl2
                                                                     : code != _rasterizer_direct3d &&
                                                                           code != _rasterizer_3dfx);
    if (multithread) flags |= _rasterizer_supports_multithread_mode;
    if ((code == _rasterizer_software || code == _rasterizer_opengl || code == _rasterizer_dx11) &&
        display_device_supports_gamma())
        flags |= _rasterizer_supports_gamma;
    return flags;
}

static bool table_supports_extended_zoom(void)
{
    return (opengl_device_capabilities(active_screen.device) & _rasterizer_supports_extended_zoom) != 0;
}

static bool table_supports_direct_dialog_rasterization(const device_info *device)
{
    (void)device;
    return false;
}

static bool screen_is_opengl(void) { return active_screen.rasterizer_code == _rasterizer_opengl; }

static bool wants_32bit_textures(void)
{
    return active_screen.prefs && (active_screen.prefs->flags & _screen_pref_32bit_flag);
}

static void table_get_shapes_bit_depth_and_encoding(int16_t *bit_depth, int16_t *encoding)
{
    int16_t depth = -1, chosen = -1;
    if (screen_is_opengl())
    {
        depth = wants_32bit_textures() ? 32 : 16;
        chosen = wants_32bit_textures() ? _32bit_encoding : _16bit_555_encoding;
    }
    else HALT("get_shapes_bit_depth_and_encoding_hardware: the screen is not OpenGL's");
    if (bit_depth) *bit_depth = depth;
    if (encoding) *encoding = chosen;
}

static bool table_get_framebuffer_bit_depth_and_encoding(int16_t *bit_depth, int16_t *encoding)
{
    if (!screen_is_opengl()) return false;
    *encoding = wants_32bit_textures() ? _32bit_encoding : _16bit_555_encoding;
    *bit_depth = (int16_t)(get_encoding_byte_depth(*encoding) * 8);
    return true;
}

// ---- 2D drawing, routed by the target ----------------------------------------------

// Whether `destination` is the OpenGL frame buffer; "halt" when not.
static bool opengl_target(const bitmap_data *destination, const char *what)
{
    if (destination && destination->encoding == _opengl_frame_buffer_encoding) return true;
    HALT(what);
    return false;
}

static void table_draw_line(bitmap_data *destination, uint32_t color, const point2d *p0, const point2d *p1)
{
    if (opengl_target(destination, "draw_line_hardware: not an OpenGL frame buffer"))
        draw_line_opengl(destination, color, p0, p1);
}

static void table_fill_polygon(bitmap_data *destination, uint32_t color, const point2d *vertices, int16_t vertex_count)
{
    if (opengl_target(destination, "fill_polygon_hardware: not an OpenGL frame buffer"))
        fill_polygon_opengl(destination, color, vertices, vertex_count);
}

static void table_fill_rectangle(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                           int16_t bottom)
{
    if (opengl_target(destination, "fill_rectangle_hardware: not an OpenGL frame buffer"))
        fill_rectangle_opengl(destination, color, left, right, top, bottom);
}

static void table_stretch_copy_bitmap(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                uint16_t transparency)
{
    if (opengl_target(destination, "stretch_copy_bitmap_hardware: not an OpenGL frame buffer"))
        stretch_copy_bitmap_opengl(destination, source, shading_table, source_rectangle, destination_rectangle,
                                   transparency);
}

// An unscaled copy: the destination is the point with the source rectangle's size.
static void table_copy_bitmap(bitmap_data *destination, const bitmap_data *source, const void *source_color_table,
                        const rectangle2d *source_rectangle, const point2d *destination_point, uint16_t transparency)
{
    if (!source_rectangle || !destination_point) return;
    const rectangle2d destination_rectangle = {
        destination_point->y, destination_point->x,
        (int16_t)(destination_point->y + source_rectangle->bottom - source_rectangle->top),
        (int16_t)(destination_point->x + source_rectangle->right - source_rectangle->left)};
    // The cache only reads the source (and clears its changed mark once loaded).
    table_stretch_copy_bitmap(destination, const_cast<bitmap_data *>(source), source_color_table, source_rectangle,
                        &destination_rectangle, transparency);
}

static void table_draw_character(bitmap_data *destination, const font_character *glyph, uint32_t color, int16_t x,
                           int16_t y, int16_t atlas_x, int16_t atlas_y, int16_t width, int16_t height)
{
    if (opengl_target(destination, "draw_character_to_hardware_frame_buffer: not an OpenGL frame buffer"))
        draw_character_to_opengl_frame_buffer(destination, glyph, color, x, y, atlas_x, atlas_y, width, height);
}

// ---- the screen ------------------------------------------------------------------------

static bitmap_data *table_initialize_render_bitmap(const rectangle2d *rectangle)
{
    bitmap_data *bitmap = active_screen.offscreen_pixels_structure;
    if (!bitmap) return nullptr;
    memset(bitmap, 0, offsetof(bitmap_data, row_addresses));
    bitmap->width = (int16_t)(rectangle->right - rectangle->left);
    bitmap->height = (int16_t)(rectangle->bottom - rectangle->top);
    bitmap->x0 = rectangle->left;
    bitmap->y0 = rectangle->top;
    bitmap->flags = _no_row_address_table_flag;
    bitmap->logical_bit_depth = -1;
    if (screen_is_opengl()) bitmap->encoding = _opengl_frame_buffer_encoding;
    return bitmap;
}

// OpenGL draws dialogs through its own calls: it has no linear back buffer
// to lend (the front function logs the "halt" of the null answer), and so
// nothing to take back.
static bitmap_data *table_get_linear_backbuffer(const rectangle2d *bounds)
{
    (void)bounds;
    return nullptr;
}

static void table_release_linear_backbuffer(void)
{
    HALT("release_linear_backbuffer_hardware: OpenGL lends no linear back buffer");
}

// Sprites are loaded into the texture cache as they are first drawn, and an
// OpenGL frame needs no opening or closing beyond the clear and the swap.
static void table_preload_bitmap_into_cache(bitmap_data *bitmap) { (void)bitmap; }
static void table_render_begin(void) {}
static void table_render_end(void) {}

static void table_update_screen(void)
{
    if (screen_is_opengl()) copy_opengl_world_to_screen();
    else HALT("update_screen_hardware: the screen is not OpenGL's");
}

static void table_resize_screen(void)
{
    if (screen_is_opengl()) resize_opengl_screen();
}

static bool table_clear_backbuffer(void)
{
    if (!screen_is_opengl() || !opengl_rasterizer_initialized()) return false;
    clear_opengl_backbuffer();
    return true;
}

static void table_set_vsync_interval_procedure(int32_t interval)
{
    if (screen_is_opengl()) set_vsync_interval_opengl(interval);
}

static bitmap_data *table_copy_bits_from_render_view(const rectangle2d *rectangle)
{
    if (!screen_is_opengl() || !opengl_rasterizer_initialized()) return nullptr;
    return copy_bits_from_opengl_render_buffer(rectangle);
}

// ---- dialogs and bars ----------------------------------------------------------------------

uint16_t opengl_bar_transparency(void)
{
    const game_preferences *preferences = get_game_preferences();
    return preferences && (preferences->flags & _game_pref_use_transparency_flag)
               ? (uint16_t)TRANSLUCENT_BAR_TRANSPARENCY_OPENGL
               : (uint16_t)0;
}

static void table_draw_dialog(dialog_data *dialog)
{
    // The dialog's bitmap is in the screen's own encoding, never the frame
    // buffer's, which has no pixels.
    draw_dialog_into_internal_bitmap(dialog, active_screen.encoding);
}

static bool table_rasterize_dialog(const dialog_rasterization_data *data, const rectangle2d *rectangle,
                             uint16_t transparency)
{
    (void)rectangle;
    if (!data->bitmap || !data->dialog) return false;
    switch (active_screen.rasterizer_code)
    {
    case _rasterizer_opengl:
    {
        rectangle2d bounds;
        get_dialog_bounds(data->dialog, &bounds);
        draw_bitmap_opengl(data->bitmap, &bounds, transparency);
        return true;
    }
    case _rasterizer_dx11: return false;
    default:
    {
        rectangle2d whole;
        get_screen_bounds(&whole);
        bitmap_data *backbuffer = get_linear_backbuffer(&whole);
        if (!backbuffer) return false;
        VASSERT(backbuffer->encoding == data->bitmap->encoding,
                "linear_backbuffer->encoding==dialog_rasterization->bitmap->encoding");
        VASSERT(backbuffer->pixel_upshift == data->bitmap->pixel_upshift,
                "linear_backbuffer->pixel_upshift==dialog_rasterization->bitmap->pixel_upshift");
        copy_bitmap(backbuffer, &data->origin, data->bitmap, nullptr, nullptr, transparency,
                    transparency ? get_transparency_table(_transparency_normal) : nullptr);
        release_linear_backbuffer(backbuffer);
        return true;
    }
    }
}

static int32_t bar_slot(const dialog_data *dialog)
{
    if (is_status_bar(dialog)) return _opengl_status_bar_texture;
    if (is_control_bar(dialog)) return _opengl_control_bar_texture;
    return NONE;
}

// The bars' textures given back.  Disposing a record the map's cache has
// disposed already (and zero-filled) does nothing, so this is safe whether
// or not the cache still exists.
static void dispose_bar_textures(void)
{
    for (bar_texture &bar : hardware_rasterizers_globals.bars)
    {
        if (bar.texture) texture_cache_dispose_preallocated(bar.texture);
        bar.texture = nullptr;
    }
}

// The bar's texture for its bitmap as it is now: made when the bar has none
// or its bitmap was made anew (a new size), else loaded again in place when
// the bar was redrawn.  Each bar is one texture, never evicted, so the bars
// cost one texture each per map and nothing per frame.
static const preallocated_texture *bar_texture_for(int32_t slot, bitmap_data *bitmap)
{
    bar_texture *bar = &hardware_rasterizers_globals.bars[slot];
    if (bar->texture && bar->texture->bitmap != bitmap)
    {
        texture_cache_dispose_preallocated(bar->texture);
        bar->texture = nullptr;
    }
    if (!bar->texture)
    {
        bar->texture = texture_cache_initialize_preallocated(&bar->record, bitmap, _bitmap_ownership_by_caller,
                                                             nullptr, 0);
        return bar->texture;
    }
    texture_cache_update_preallocated(bar->texture, false);
    return bar->texture;
}

const preallocated_texture *opengl_bar_texture(int32_t which)
{
    if (which < 0 || which >= NUMBER_OF_OPENGL_BARS) return nullptr;
    return hardware_rasterizers_globals.bars[which].texture;
}

// A bar from its own texture; one no texture can hold (wider than the
// driver allows) goes in tiles like any dialog.
static void rasterize_bar(const dialog_rasterization_data *data)
{
    if (!data->bitmap || !data->dialog) return;
    const uint16_t transparency = opengl_bar_transparency();
    const int32_t slot = bar_slot(data->dialog);
    rectangle2d bounds;
    get_dialog_bounds(data->dialog, &bounds);
    if (slot != NONE && draw_resident_bitmap_opengl(bar_texture_for(slot, data->bitmap), &bounds, transparency))
        return;
    table_rasterize_dialog(data, nullptr, transparency);
}

static void table_draw_control_or_status_bar(const dialog_rasterization_data *data)
{
    if (screen_is_opengl()) rasterize_bar(data);
}

static bool is_bar(const dialog_data *dialog) { return is_control_bar(dialog) || is_status_bar(dialog); }

static void table_rasterize_dialogs(void)
{
    if (!screen_is_opengl() || !opengl_rasterizer_initialized()) return;
    dialog_rasterization_data data = {};
    while (get_dialog_to_rasterize(&data))
    {
        if (!(data.dialog->private_flags & _dialog_is_visible_flag)) continue;
        // Through the rasterizer's front, as every other caller goes.
        if (is_bar(data.dialog)) draw_control_or_status_bar_hardware(&data);
        else rasterize_dialog_hardware(&data, nullptr, 0);
    }
}

// ---- a map's life and the scene ------------------------------------------------------------

static bool table_initialize_for_new_map(void)
{
    hardware_rasterizers_globals.status_bars_downloaded = false;
    dispose_bar_textures();
    if (!screen_is_opengl())
    {
        HALT("initialize_hardware_rasterizer_for_new_map: the screen is not OpenGL's");
        return false;
    }
    // A map started over one that was never ended would link the resident
    // textures a second time: the old one is ended first.
    if (opengl_rasterizer_initialized())
    {
        log_message(__FILE__, __LINE__, "OpenGL: a map starts while the last one is not ended; ending it first");
        dispose_opengl_rasterizer_from_old_map();
    }
    return initialize_opengl_rasterizer_for_new_map();
}

static void table_initialize_mesh_parameters_for_new_map(void)
{
    if (screen_is_opengl()) initialize_opengl_mesh_parameters_for_new_map();
}

static void table_dispose_from_old_map(void)
{
    dispose_bar_textures();
    if (screen_is_opengl()) dispose_opengl_rasterizer_from_old_map();
    else HALT("dispose_hardware_rasterizer_from_old_map: the screen is not OpenGL's");
}

bool opengl_status_bars_downloaded(void) { return hardware_rasterizers_globals.status_bars_downloaded; }

// Both bars drawn into their bitmaps and put on the frame once, so that their
// textures are made before the map's first scene shows them.
static void download_status_bars(void)
{
    dialog_data *bars[NUMBER_OF_OPENGL_BARS] = {get_status_bar_dialog(), get_control_bar_dialog()};
    for (dialog_data *bar : bars)
    {
        if (!bar) continue;
        draw_dialog_hardware(bar);
        dialog_rasterization_data data = {};
        get_rasterization_data_for_dialog(bar, &data);
        if (screen_is_opengl()) rasterize_bar(&data);
    }
    hardware_rasterizers_globals.status_bars_downloaded = true;
}

void rasterize_scene_hardware_opengl(view_data *view, render_surface_list *list)
{
    if (!hardware_rasterizers_globals.status_bars_downloaded) download_status_bars();
    if (view && view->screen && view->screen->encoding == _opengl_frame_buffer_encoding)
        rasterize_scene_opengl(view, list);
    else HALT("rasterize_scene_hardware: the view's screen is not an OpenGL frame buffer");
}

// ---- the table -------------------------------------------------------------------------

static const hardware_rasterizer_procedures opengl_procedures = {
    nullptr, // requires_square_textures: no
    table_get_shapes_bit_depth_and_encoding,
    table_supports_extended_zoom,
    table_draw_line,
    table_fill_polygon,
    table_fill_rectangle,
    table_copy_bitmap,
    table_draw_character,
    query_opengl_devices_opengl,
    table_supports_direct_dialog_rasterization,
    texture_cache_initialize_preallocated,
    texture_cache_update_preallocated,
    texture_cache_is_preallocated_dirty,
    texture_cache_dispose_preallocated,
    opengl_device_capabilities,
    table_get_framebuffer_bit_depth_and_encoding,
    table_initialize_render_bitmap,
    table_get_linear_backbuffer,
    table_release_linear_backbuffer,
    table_preload_bitmap_into_cache,
    table_render_begin,
    table_render_end,
    table_update_screen,
    table_resize_screen,
    table_clear_backbuffer,
    table_set_vsync_interval_procedure,
    table_copy_bits_from_render_view,
    table_stretch_copy_bitmap,
    table_draw_dialog,
    table_rasterize_dialog,
    table_draw_control_or_status_bar,
    table_rasterize_dialogs,
    table_initialize_for_new_map,
    table_initialize_mesh_parameters_for_new_map,
    table_dispose_from_old_map,
    rasterize_scene_hardware_opengl,
};

void register_opengl_hardware_rasterizer(void) { register_hardware_rasterizer_procedures(&opengl_procedures); }
