#include "gl_pattern.h"

#include <SDL.h>

#include <cstring>

#include "bitmaps.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_sdl.h"

bool start_gl_pattern_context(int32_t width, int32_t height, screen_parameters *prefs, const char **reason)
{
    init_sdl();
    active_screen = initial_active_screen();
    active_screen.rasterizer_code = _rasterizer_opengl;
    active_screen.width = active_screen.physical_pixel_width = (int16_t)width;
    active_screen.height = active_screen.physical_pixel_height = (int16_t)height;
    active_screen.bit_depth = 32;
    active_screen.prefs = prefs;
    if (!create_sdl_window(width, height, 32, SDL_OPENGL))
    {
        *reason = "no OpenGL window could be opened on this display";
        return false;
    }
    load_gl_core_procedures();
    if (!get_opengl_device_info(&opengl_device))
    {
        *reason = "the OpenGL version is below 1.1, or 1.1 without GL_EXT_bgra";
        return false;
    }
    if (!initialize_opengl_rasterizer_for_new_map())
    {
        *reason = "the OpenGL context could not be set up";
        return false;
    }
    initialize_opengl_mesh_parameters_for_new_map();
    return true;
}

void stop_gl_pattern_context(void)
{
    dispose_opengl_rasterizer_from_old_map();
    restore_world_device();
}

int32_t texel_bytes(int32_t encoding)
{
    switch (encoding)
    {
    case _16bit_xrgb_1555_texture_encoding:
    case _16bit_argb_1555_texture_encoding:
    case _16bit_argb_4444_texture_encoding: return 2;
    case _32bit_xrgb_8888_texture_encoding:
    case _32bit_argb_8888_texture_encoding: return 4;
    case _24bit_rgb_888_texture_encoding: return 3;
    default: return 0;
    }
}

void encode_texel(int32_t encoding, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha, uint8_t *texel)
{
    uint16_t word = 0;
    uint32_t quad = 0;
    switch (encoding)
    {
    case _16bit_xrgb_1555_texture_encoding:
    case _16bit_argb_1555_texture_encoding:
        word = (uint16_t)(((encoding == _16bit_xrgb_1555_texture_encoding || alpha >= 128) ? 0x8000 : 0) |
                          ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
        memcpy(texel, &word, 2);
        break;
    case _16bit_argb_4444_texture_encoding:
        word = (uint16_t)(((alpha >> 4) << 12) | ((red >> 4) << 8) | ((green >> 4) << 4) | (blue >> 4));
        memcpy(texel, &word, 2);
        break;
    case _32bit_xrgb_8888_texture_encoding:
    case _32bit_argb_8888_texture_encoding:
        quad = ((uint32_t)(encoding == _32bit_xrgb_8888_texture_encoding ? 255 : alpha) << 24) |
               ((uint32_t)red << 16) | ((uint32_t)green << 8) | blue;
        memcpy(texel, &quad, 4);
        break;
    case _24bit_rgb_888_texture_encoding:
        texel[0] = red, texel[1] = green, texel[2] = blue;
        break;
    default: break;
    }
}

uint32_t gl_pattern_centre_color(int32_t encoding)
{
    // Values every encoding keeps exactly (0x00, 0x88 in 4 bits, 0xFF).
    static const uint32_t colors[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
    const int32_t index = encoding - _16bit_xrgb_1555_texture_encoding;
    return index >= 0 && index < 6 ? colors[index] : 0;
}

std::vector<uint8_t> gl_pattern_texels(int32_t encoding)
{
    const int32_t size = GL_PATTERN_TEXTURE, bytes = texel_bytes(encoding);
    std::vector<uint8_t> texels((size_t)(size * size * bytes));
    const uint32_t centre = gl_pattern_centre_color(encoding);
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x)
        {
            uint32_t color = centre;
            if (x < 6 || y < 6 || x >= size - 6 || y >= size - 6) color = 0xFFFFFF;
            else if (x < 18 && y < 18) color = 0x202020;
            encode_texel(encoding, (uint8_t)(color >> 16), (uint8_t)(color >> 8), (uint8_t)color, 255,
                         &texels[(size_t)((y * size + x) * bytes)]);
        }
    return texels;
}

void gl_pattern_quad_centre(int32_t encoding, int32_t *x, int32_t *y)
{
    const int32_t index = encoding - _16bit_xrgb_1555_texture_encoding;
    *x = (index % GL_PATTERN_COLUMNS) * GL_PATTERN_CELL + GL_PATTERN_CELL / 2;
    *y = (index / GL_PATTERN_COLUMNS) * GL_PATTERN_CELL + GL_PATTERN_CELL / 2;
}

static void set_vertex(rendervert_t *vertex, int32_t x, int32_t y, float s, float t)
{
    memset(vertex, 0, sizeof(*vertex));
    vertex->position[0] = x, vertex->position[1] = y, vertex->position[3] = 1;
    vertex->texcoord[0] = s, vertex->texcoord[1] = t;
    set_rendervert_color(vertex, 0xFFFFFFFF);
}

// Each pattern is a bitmap of the encoding itself with rows a little longer
// than its texels, so the cache hands its rows over as they are and the
// upload reads them as a window.
static bitmap_data *new_gl_pattern_bitmap(int32_t encoding)
{
    const int32_t size = GL_PATTERN_TEXTURE, bytes = texel_bytes(encoding);
    bitmap_data *bitmap = new_bitmap((int16_t)size, (int16_t)size, (int16_t)((size + 8) * bytes), (int16_t)encoding, 0);
    if (!bitmap) return nullptr;
    const std::vector<uint8_t> texels = gl_pattern_texels(encoding);
    for (int32_t y = 0; y < size; ++y)
        memcpy(bitmap->row_addresses[y], &texels[(size_t)(y * size * bytes)], (size_t)(size * bytes));
    return bitmap;
}

bitmap_data *draw_gl_pattern(void)
{
    set_clear_color_opengl(0x404040);
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    bitmap_data *bitmaps[6] = {};
    bool made = texture_cache_exists();
    for (int32_t encoding = _16bit_xrgb_1555_texture_encoding; made && encoding <= _24bit_rgb_888_texture_encoding;
         ++encoding)
    {
        bitmap_data *bitmap = new_gl_pattern_bitmap(encoding);
        bitmaps[encoding - _16bit_xrgb_1555_texture_encoding] = bitmap;
        cached_texture_descriptor descriptor;
        initialize_cached_texture_descriptor(&descriptor, 0, bitmap, nullptr, nullptr, 0);
        const cached_texture_data *texture = bitmap ? texture_cache_lookup(&descriptor) : nullptr;
        if (!texture || texture->encoding != encoding)
        {
            made = false;
            break;
        }

        int32_t cx, cy;
        gl_pattern_quad_centre(encoding, &cx, &cy);
        const int32_t half = GL_PATTERN_QUAD / 2;
        const float s0 = texture->u_bias, s1 = texture->u_bias + texture->u_scale;
        const float t0 = texture->v_bias, t1 = texture->v_bias + texture->v_scale;
        set_vertex(&render_verts[0], cx - half, cy - half, s0, t0);
        set_vertex(&render_verts[1], cx + half, cy - half, s1, t0);
        set_vertex(&render_verts[2], cx + half, cy + half, s1, t1);
        render_verts[3] = render_verts[0];
        render_verts[4] = render_verts[2];
        set_vertex(&render_verts[5], cx - half, cy + half, s0, t1);
        set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, _depth_mode_none, _blend_mode_replace);
        bind_texture_unit_opengl(0, (int32_t)gl_handle_to_name(texture->user_data));
        draw_render_verts_opengl(GL_TRIANGLES, 0, 6);
    }
    bitmap_data *frame = nullptr;
    if (made)
    {
        const rectangle2d bounds = {0, 0, (int16_t)active_screen.height, (int16_t)active_screen.width};
        frame = copy_bits_from_opengl_render_buffer(&bounds);
    }
    // Flushed before the bitmaps go, so that no entry outlives its bitmap even
    // where the cache is not joined to their disposal.
    flush_texture_cache();
    for (bitmap_data *bitmap : bitmaps) dispose_bitmap(bitmap);
    return frame;
}
