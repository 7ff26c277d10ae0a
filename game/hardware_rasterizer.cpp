// The hardware rasterizer's table.  See hardware_rasterizer.h.

#include "hardware_rasterizer.h"

#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/registration.h"

static procedure_slot<hardware_rasterizer_table_procedure> hardware_table_slot("hardware rasterizer");

bool register_hardware_rasterizer_procedure(hardware_rasterizer_table_procedure procedure)
{
    return hardware_table_slot.fill(procedure);
}

static const hardware_rasterizer_procedures *hardware_table(void)
{
    hardware_rasterizer_table_procedure procedure = hardware_table_slot.get();
    return procedure ? procedure() : nullptr;
}

bool is_hardware_encoding(int16_t encoding)
{
    return encoding >= _3dfx_frame_buffer_encoding && encoding <= _dx11_frame_buffer_encoding;
}

bool rasterizer_requires_square_textures(void)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    return table && table->requires_square_textures && table->requires_square_textures();
}

void get_shapes_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    *bit_depth = 32;
    *encoding = _32bit_encoding;
    if (table && table->get_shapes_bit_depth_and_encoding) table->get_shapes_bit_depth_and_encoding(bit_depth, encoding);
}

// The back end's drawer `name`, or null after the "halt" line.
#define HARDWARE_DRAWER(field, name)                                                   \
    const hardware_rasterizer_procedures *table = hardware_table();                    \
    if (!table || !table->field)                                                        \
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
    const hardware_rasterizer_procedures *table = hardware_table();
    if (table && table->query_opengl_devices) table->query_opengl_devices();
}

bool rasterizer_supports_direct_dialog_rasterization(const device_info *device)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    return table && table->supports_direct_dialog_rasterization && table->supports_direct_dialog_rasterization(device);
}

preallocated_texture *initialize_preallocated_texture(preallocated_texture *texture, bitmap_data *bitmap,
                                                      int16_t bitmap_ownership, const void *shading_table,
                                                      uint32_t usage_flags)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    if (!table || !table->initialize_preallocated_texture) return nullptr;
    return table->initialize_preallocated_texture(texture, bitmap, bitmap_ownership, shading_table, usage_flags);
}
