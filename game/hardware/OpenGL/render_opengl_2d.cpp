#include "render_opengl_2d.h"

#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "gl_dispatch.h"
#include "hardware/texture_cache.h"
#include "hardware_rasterizer.h"
#include "render_opengl.h"
#include "utilities_opengl.h"

uint8_t opengl_bitmap_alpha(uint16_t transparency)
{
    if (transparency == 0) return 255;
    return (uint8_t)(((65535 - (int32_t)transparency) * 255) >> 16);
}

// Stores the quad (left, top) .. (right, bottom) as the fan's four corners
// (left, top), (left, bottom), (right, bottom), (right, top) into
// render_verts[0..4) with the texture rectangle (s0, t0) .. (s1, t1).
static void set_quad(int32_t left, int32_t top, int32_t right, int32_t bottom, float s0, float t0, float s1,
                     float t1, uint32_t argb)
{
    const int32_t x[4] = {left, left, right, right}, y[4] = {top, bottom, bottom, top};
    const float s[4] = {s0, s0, s1, s1}, t[4] = {t0, t1, t1, t0};
    for (int32_t i = 0; i < 4; ++i)
    {
        rendervert_t *vertex = &render_verts[i];
        vertex->position[0] = x[i];
        vertex->position[1] = y[i];
        vertex->position[2] = 0;
        vertex->position[3] = 1;
        vertex->texcoord[0] = s[i];
        vertex->texcoord[1] = t[i];
        vertex->texcoord[2] = vertex->texcoord[3] = 0.0f;
        vertex->tint[0] = vertex->tint[1] = vertex->tint[2] = vertex->tint[3] = 0;
        set_rendervert_color(vertex, argb);
    }
}

static void set_point(rendervert_t *vertex, int32_t x, int32_t y, uint32_t argb)
{
    vertex->position[0] = x;
    vertex->position[1] = y;
    vertex->position[2] = 0;
    vertex->position[3] = 1;
    vertex->texcoord[0] = vertex->texcoord[1] = vertex->texcoord[2] = vertex->texcoord[3] = 0.0f;
    vertex->tint[0] = vertex->tint[1] = vertex->tint[2] = vertex->tint[3] = 0;
    set_rendervert_color(vertex, argb);
}

static bool rasterizer_ready(void)
{
    return VASSERT(opengl_rasterizer_initialized(), "rasterizer_initialized");
}

static int32_t origin_x(const bitmap_data *bitmap) { return bitmap ? bitmap->x0 : 0; }
static int32_t origin_y(const bitmap_data *bitmap) { return bitmap ? bitmap->y0 : 0; }

// ---- whole bitmaps -------------------------------------------------------------

void draw_bitmap_opengl(bitmap_data *bitmap, const rectangle2d *destination, uint16_t transparency)
{
    if (!bitmap || !destination || !opengl_rasterizer_initialized()) return;
    const int16_t changed = (int16_t)(bitmap->flags & _bitmap_changed_flag);
    bitmap->flags = (int16_t)(bitmap->flags & ~_bitmap_changed_flag);
    const uint8_t alpha = opengl_bitmap_alpha(transparency);
    const int32_t width = destination->right - destination->left;
    const int32_t height = destination->bottom - destination->top;
    if (height < 1 || width < 1) return;
    // The destination gives the area: never more than the bitmap holds.
    const int32_t area_width = width < bitmap->width ? width : bitmap->width;
    const int32_t area_height = height < bitmap->height ? height : bitmap->height;
    if (bitmap->flags & _1bit_transparency_encoded_flag || !bitmap->row_addresses[0]) return;

    set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, _depth_mode_none,
                           transparency ? _blend_mode_alpha : _blend_mode_replace);
    const uint32_t color = (uint32_t)alpha << 24 | 0xFFFFFFu;
    for (int32_t y = 0; y < area_height; y += OPENGL_BITMAP_TILE_SIZE)
    {
        const int32_t band = area_height - y < OPENGL_BITMAP_TILE_SIZE ? area_height - y : OPENGL_BITMAP_TILE_SIZE;
        for (int32_t x = 0; x < area_width; x += OPENGL_BITMAP_TILE_SIZE)
        {
            const int32_t tile_width =
                area_width - x < OPENGL_BITMAP_TILE_SIZE ? area_width - x : OPENGL_BITMAP_TILE_SIZE;
            // A tile is a view into the source's pixels, so the cache keys it
            // by its first row's address and never copies the source.
            union
            {
                bitmap_data record;
                uint8_t bytes[sizeof(bitmap_data) + sizeof(uint8_t *)];
            } tile = {};
            uint8_t *first = bitmap->row_addresses[0] + (ptrdiff_t)bitmap->bytes_per_row * y +
                             ((ptrdiff_t)x << bitmap->pixel_upshift);
            initialize_bitmap_data_lite(&tile.record, first, (int16_t)tile_width, (int16_t)band,
                                        bitmap->bytes_per_row, bitmap->encoding);
            tile.record.flags = (int16_t)(tile.record.flags | changed);

            cached_texture_descriptor descriptor;
            initialize_cached_texture_descriptor(&descriptor, 0, &tile.record, nullptr, nullptr,
                                                 _texture_lookup_by_pixels_flag | _texture_pixels_persistent_flag);
            const cached_texture_data *texture = texture_cache_lookup(&descriptor);
            if (!texture || !texture->user_data) continue;
            bind_texture_unit_opengl(0, (int32_t)gl_handle_to_name(texture->user_data));
            const int32_t left = destination->left + x, top = destination->top + y;
            set_quad(left, top, left + tile_width, top + band, 0.0f, 0.0f, texture->u_scale, texture->v_scale,
                     color);
            draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
        }
    }
}

bool draw_resident_bitmap_opengl(const preallocated_texture *texture, const rectangle2d *destination,
                                 uint16_t transparency)
{
    if (!texture || !texture->texture || !texture->user_data || !texture->bitmap || !destination ||
        !opengl_rasterizer_initialized())
        return false;
    const cached_texture_data *data = texture->texture;
    const bitmap_data *bitmap = texture->bitmap;
    const int32_t width = destination->right - destination->left;
    const int32_t height = destination->bottom - destination->top;
    if (height < 1 || width < 1) return true;
    const int32_t area_width = width < bitmap->width ? width : bitmap->width;
    const int32_t area_height = height < bitmap->height ? height : bitmap->height;
    set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, _depth_mode_none,
                           transparency ? _blend_mode_alpha : _blend_mode_replace);
    bind_texture_unit_opengl(0, (int32_t)gl_handle_to_name(texture->user_data));
    set_quad(destination->left, destination->top, destination->left + area_width, destination->top + area_height,
             data->u_bias, data->v_bias, data->u_bias + area_width * data->u_texel,
             data->v_bias + area_height * data->v_texel, (uint32_t)opengl_bitmap_alpha(transparency) << 24 | 0xFFFFFFu);
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
    return true;
}

// ---- stretched copies -----------------------------------------------------------

void stretch_copy_bitmap_opengl(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                uint16_t transparency)
{
    if (!source || !source_rectangle || !destination_rectangle || !opengl_rasterizer_initialized()) return;
    cached_texture_descriptor descriptor;
    initialize_cached_texture_descriptor(&descriptor, 0, source, nullptr, shading_table, 0);
    const cached_texture_data *texture = texture_cache_lookup(&descriptor);
    if (!texture || !texture->user_data) return;

    const int32_t right = source_rectangle->right < source->width ? source_rectangle->right : source->width;
    const int32_t bottom = source_rectangle->bottom < source->height ? source_rectangle->bottom : source->height;
    const float s0 = texture->u_bias + source_rectangle->left * texture->u_texel;
    const float s1 = texture->u_bias + right * texture->u_texel;
    const float t0 = texture->v_bias + source_rectangle->top * texture->v_texel;
    const float t1 = texture->v_bias + bottom * texture->v_texel;
    const int32_t x = origin_x(destination), y = origin_y(destination);
    const uint32_t alpha = (uint32_t)(65535 - transparency) >> 8;

    set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, _depth_mode_none, _blend_mode_alpha);
    bind_texture_unit_opengl(0, (int32_t)gl_handle_to_name(texture->user_data));
    set_quad(destination_rectangle->left + x, destination_rectangle->top + y, destination_rectangle->right + x,
             destination_rectangle->bottom + y, s0, t0, s1, t1, alpha << 24 | 0xFFFFFFu);
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
}

// ---- flat colour ------------------------------------------------------------------

void fill_rectangle_opengl(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                           int16_t bottom)
{
    if (!rasterizer_ready()) return;
    const int32_t x = origin_x(destination), y = origin_y(destination);
    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_none, _blend_mode_alpha);
    set_quad(left + x, top + y, right + x, bottom + y, 0.0f, 0.0f, 0.0f, 0.0f, color);
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
}

void fill_polygon_opengl(bitmap_data *destination, uint32_t color, const point2d *points, int32_t count)
{
    if (!rasterizer_ready()) return;
    if (count < 1 || !points) return;
    if (count > MAXIMUM_OPENGL_POLYGON_POINTS)
    {
        // The points would run past the shared vertex array.
        log_message(__FILE__, __LINE__, "OpenGL: a polygon of %d points is not drawn (at most %d)", count,
                    (int32_t)MAXIMUM_OPENGL_POLYGON_POINTS);
        return;
    }
    const int32_t x = origin_x(destination), y = origin_y(destination);
    for (int32_t i = 0; i < count; ++i) set_point(&render_verts[i], points[i].x + x, points[i].y + y, color);
    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_none, _blend_mode_alpha);
    draw_render_verts_opengl(count == 3 ? GL_TRIANGLES : GL_TRIANGLE_FAN, 0, count);
}

void draw_line_opengl(bitmap_data *destination, uint32_t color, const point2d *from, const point2d *to)
{
    if (!rasterizer_ready() || !from || !to) return;
    const int32_t x = origin_x(destination), y = origin_y(destination);
    set_point(&render_verts[0], from->x + x, from->y + y, color);
    set_point(&render_verts[1], to->x + x, to->y + y, color);
    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_none, _blend_mode_alpha);
    draw_render_verts_opengl(GL_LINES, 0, 2);
}

// ---- glyphs -------------------------------------------------------------------------

void draw_character_to_opengl_frame_buffer(bitmap_data *destination, const font_character *glyph, uint32_t color,
                                           int16_t x, int16_t y, int16_t glyph_x, int16_t glyph_y, int16_t width,
                                           int16_t height)
{
    (void)glyph;
    preallocated_texture *font = opengl_font_texture();
    if (!font) return;
    // Asking clears the atlas's mark, so the upload that follows must be forced.
    if (hardware_font_changed()) update_preallocated_texture(font, true);
    const cached_texture_data *texture = font->texture;
    if (!texture || !font->user_data) return;

    const int32_t left = origin_x(destination) + x, top = origin_y(destination) + y;
    const float s0 = texture->u_bias + glyph_x * texture->u_texel;
    const float s1 = texture->u_bias + (glyph_x + width) * texture->u_texel;
    const float t0 = texture->v_bias + glyph_y * texture->v_texel;
    const float t1 = texture->v_bias + (glyph_y + height) * texture->v_texel;
    set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, _depth_mode_none, _blend_mode_alpha);
    bind_texture_unit_opengl(0, (int32_t)gl_handle_to_name(font->user_data));
    set_quad(left, top, left + width, top + height, s0, t0, s1, t1, color);
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
}
