// The hardware rasterizer's one registration point and the calls that
// default for it.  See hardware_rasterizer.h.

#include "hardware_rasterizer.h"

#include "cseries/log.h"
#include "cseries/procedure_table_slot.h"

static procedure_table_slot<hardware_rasterizer_procedures> hardware_table_slot("hardware rasterizer procedures");

bool register_hardware_rasterizer_procedures(const hardware_rasterizer_procedures *procedures)
{
    return hardware_table_slot.fill(procedures);
}

const hardware_rasterizer_procedures *get_hardware_rasterizer_procedures(void) { return hardware_table_slot.get(); }

bool rasterizer_requires_square_textures(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->requires_square_textures && table->requires_square_textures();
}

void get_shapes_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->get_shapes_bit_depth_and_encoding) table->get_shapes_bit_depth_and_encoding(bit_depth, encoding);
}

bool rasterizer_supports_extended_zoom(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->supports_extended_zoom && table->supports_extended_zoom();
}

// The back end's drawer `name`, or null after the "halt" line.
#define HARDWARE_DRAWER(field, name)                                                    \
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures(); \
    if (!table->field)                                                                  \
    {                                                                                   \
        HALT(name ": no hardware rasterizer draws into a frame buffer");                \
        return;                                                                         \
    }

void draw_line_hardware(bitmap_data *destination, uint32_t color, const point2d *p0, const point2d *p1)
{
    HARDWARE_DRAWER(draw_line, "draw_line_hardware")
    table->draw_line(destination, color, p0, p1);
}

void fill_polygon_hardware(bitmap_data *destination, uint32_t color, const point2d *vertices, int16_t vertex_count)
{
    HARDWARE_DRAWER(fill_polygon, "fill_polygon_hardware")
    table->fill_polygon(destination, color, vertices, vertex_count);
}

void fill_rectangle_hardware(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                             int16_t bottom)
{
    HARDWARE_DRAWER(fill_rectangle, "fill_rectangle_hardware")
    table->fill_rectangle(destination, color, left, right, top, bottom);
}

void copy_bitmap_hardware(bitmap_data *destination, const bitmap_data *source, const void *source_color_table,
                          const rectangle2d *source_rectangle, const point2d *destination_point,
                          uint16_t transparency)
{
    HARDWARE_DRAWER(copy_bitmap, "copy_bitmap_hardware")
    table->copy_bitmap(destination, source, source_color_table, source_rectangle, destination_point, transparency);
}

void draw_character_to_hardware_frame_buffer(bitmap_data *destination, const font_character *glyph, uint32_t color,
                                             int16_t x, int16_t y, int16_t atlas_x, int16_t atlas_y, int16_t width,
                                             int16_t height)
{
    HARDWARE_DRAWER(draw_character, "draw_character_to_hardware_frame_buffer")
    table->draw_character(destination, glyph, color, x, y, atlas_x, atlas_y, width, height);
}
#undef HARDWARE_DRAWER

void query_opengl_devices(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->query_opengl_devices) table->query_opengl_devices();
}

bool rasterizer_supports_direct_dialog_rasterization(const device_info *device)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->supports_direct_dialog_rasterization && table->supports_direct_dialog_rasterization(device);
}

preallocated_texture *initialize_preallocated_texture(preallocated_texture *texture, bitmap_data *bitmap,
                                                      int16_t bitmap_ownership, const void *shading_table,
                                                      uint32_t usage_flags)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->initialize_preallocated_texture) return nullptr;
    return table->initialize_preallocated_texture(texture, bitmap, bitmap_ownership, shading_table, usage_flags);
}

void update_preallocated_texture(preallocated_texture *texture, bool force)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (texture && table->update_preallocated_texture) table->update_preallocated_texture(texture, force);
}

bool is_preallocated_texture_dirty(const preallocated_texture *texture)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return texture && table->is_preallocated_texture_dirty && table->is_preallocated_texture_dirty(texture);
}

void dispose_preallocated_texture(preallocated_texture *texture)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (texture && table->dispose_preallocated_texture) table->dispose_preallocated_texture(texture);
}

// ---- capabilities --------------------------------------------------------------

// The back end's answers for `device`; the neutral ones without it.
static uint32_t capabilities_of(const device_info *device)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->device_capabilities) return table->device_capabilities(device);
    return _rasterizer_supports_32bit | _rasterizer_supports_multithread_mode;
}

bool rasterizer_requires_hardware_format_cache(int16_t rasterizer_code)
{
    return rasterizer_code >= 1 && rasterizer_code <= 5;
}

bool rasterizer_supports_32bit(const device_info *device, bool *forced)
{
    const bool supported = (capabilities_of(device) & _rasterizer_supports_32bit) != 0;
    if (forced) *forced = supported;
    return supported;
}

bool rasterizer_supports_fog(const device_info *device)
{
    return (capabilities_of(device) & _rasterizer_supports_fog) != 0;
}

bool rasterizer_supports_highres(const device_info *device)
{
    return (capabilities_of(device) & _rasterizer_supports_highres) != 0;
}

bool rasterizer_supports_vsync(const device_info *device)
{
    return (capabilities_of(device) & _rasterizer_supports_vsync) != 0;
}

bool rasterizer_supports_multithread_mode(const device_info *device)
{
    return (capabilities_of(device) & _rasterizer_supports_multithread_mode) != 0;
}

bool rasterizer_supports_gamma(const device_info *device)
{
    return (capabilities_of(device) & _rasterizer_supports_gamma) != 0;
}

void get_framebuffer_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding)
{
    if (!VASSERT(bit_depth && encoding, "bit_depth && encoding")) return;
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->get_framebuffer_bit_depth_and_encoding &&
        table->get_framebuffer_bit_depth_and_encoding(bit_depth, encoding))
        return;
    HALT("get_framebuffer_bit_depth_and_encoding_hardware: no hardware rasterizer serves the screen");
    *bit_depth = *encoding = -1;
}

// ---- the screen ------------------------------------------------------------------

bitmap_data *initialize_render_bitmap_hardware(const rectangle2d *rectangle)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->initialize_render_bitmap && rectangle ? table->initialize_render_bitmap(rectangle) : nullptr;
}

void release_render_bitmap_hardware(bitmap_data *bitmap) { (void)bitmap; }

bitmap_data *get_linear_backbuffer_hardware(const rectangle2d *bounds)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    bitmap_data *bitmap = table->get_linear_backbuffer && bounds ? table->get_linear_backbuffer(bounds) : nullptr;
    if (!bitmap) HALT("get_linear_backbuffer_hardware: the hardware rasterizer lends no linear back buffer");
    return bitmap;
}

void release_linear_backbuffer_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->release_linear_backbuffer)
    {
        HALT("release_linear_backbuffer_hardware: the hardware rasterizer lends no linear back buffer");
        return;
    }
    table->release_linear_backbuffer();
}

void preload_bitmap_into_cache_hardware(bitmap_data *bitmap)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->preload_bitmap_into_cache && bitmap) table->preload_bitmap_into_cache(bitmap);
}

void render_begin_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->render_begin) table->render_begin();
}

void render_end_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->render_end) table->render_end();
}

void update_screen_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->update_screen) table->update_screen();
}

void resize_screen_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->resize_screen) table->resize_screen();
}

bool clear_linear_backbuffer_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->clear_backbuffer && table->clear_backbuffer();
}

void set_vsync_interval(int32_t interval)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->set_vsync_interval) table->set_vsync_interval(interval);
}

bitmap_data *copy_bits_from_render_view_hardware(const rectangle2d *rectangle)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->copy_bits_from_render_view && rectangle ? table->copy_bits_from_render_view(rectangle) : nullptr;
}

void stretch_copy_bitmap_hardware(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                  const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                  uint16_t transparency)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->stretch_copy_bitmap)
    {
        HALT("stretch_copy_bitmap_hardware: no hardware rasterizer draws into a frame buffer");
        return;
    }
    table->stretch_copy_bitmap(destination, source, shading_table, source_rectangle, destination_rectangle,
                               transparency);
}

// ---- dialogs ---------------------------------------------------------------------

void draw_dialog_hardware(dialog_data *dialog)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->draw_dialog && dialog) table->draw_dialog(dialog);
}

bool rasterize_dialog_hardware(const dialog_rasterization_data *data, const rectangle2d *rectangle,
                               uint16_t transparency)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    return table->rasterize_dialog && data && table->rasterize_dialog(data, rectangle, transparency);
}

void draw_control_or_status_bar_hardware(const dialog_rasterization_data *data)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->draw_control_or_status_bar && data) table->draw_control_or_status_bar(data);
}

void rasterize_dialogs_hardware(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->rasterize_dialogs) table->rasterize_dialogs();
}

// ---- a map's life ------------------------------------------------------------------

bool initialize_hardware_rasterizer_for_new_map(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->initialize_for_new_map)
    {
        HALT("initialize_hardware_rasterizer_for_new_map: no hardware rasterizer");
        return false;
    }
    return table->initialize_for_new_map();
}

void initialize_rasterizer_mesh_parameters_for_new_map(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (table->initialize_mesh_parameters_for_new_map) table->initialize_mesh_parameters_for_new_map();
}

void dispose_hardware_rasterizer_from_old_map(void)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->dispose_from_old_map)
    {
        HALT("dispose_hardware_rasterizer_from_old_map: no hardware rasterizer");
        return;
    }
    table->dispose_from_old_map();
}

void rasterize_scene_hardware(view_data *view, render_surface_list *list)
{
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    if (!table->rasterize_scene)
    {
        HALT("rasterize_scene_hardware: no hardware rasterizer draws scenes");
        return;
    }
    table->rasterize_scene(view, list);
}
