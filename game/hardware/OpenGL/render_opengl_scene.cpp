#include "render_opengl_scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "detail_maps.h"
#include "gl_dispatch.h"
#include "hardware/texture_cache.h"
#include "render/mesh_region.h"
#include "render/render_sort.h"
#include "render/render_surfaces.h"
#include "render/terrain_maps.h"
#include "render_opengl.h"
#include "render_opengl_terrain.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "utilities_opengl.h"

// Triangles per draw: as many as the vertex array holds.
const int32_t MAXIMUM_SCENE_CHUNK = (int32_t)MAXIMUM_RENDER_VERTS / (int32_t)VERTICES_PER_TRIANGLE;
const uint32_t TINT_ROW_SHIFT = 29;
const uint32_t UNTINTED_IDENTIFIER_BITS = 0xE0000000u; // every tint row shares one texture under the shaders
const uint32_t IDENTIFIER_WITHOUT_TINT_MASK = 0x1FFFFFFFu;
const int32_t DETAIL_LAYER_COUNT = 3;
const uint32_t DETAIL_BASE_BIT = 30;

// The rasterize states of the depthless path, in drawing order.
enum
{
    _rasterize_state_media = 0,
    _rasterize_state_reflections,
    _rasterize_state_primary,
    NUMBER_OF_RASTERIZE_STATES,
};

static struct render_opengl_scene_globals
{
    opengl_object_depth_modes depth_modes;
    uint32_t frame_index;
    bool rasterizing_scene;
    // Sprites written to render_verts but not yet drawn: consecutive sprites
    // of one texture and depth mode go to OpenGL as one draw of quads.
    int32_t sprite_vertex_count;
    uint32_t sprite_texture_key;
    int32_t sprite_texture;
    int32_t sprite_depth_mode;
    // The flattened positions of the depth pass without shaders, read by
    // OpenGL as a tightly packed float array.
    float flattened[MAXIMUM_RENDER_VERTS * 3];
} render_opengl_scene_globals;

opengl_object_depth_modes get_opengl_object_depth_modes(void) { return render_opengl_scene_globals.depth_modes; }

void set_opengl_object_depth_modes(int32_t mode)
{
    render_opengl_scene_globals.depth_modes = {mode, mode, mode};
}

uint32_t opengl_scene_frame_index(void) { return render_opengl_scene_globals.frame_index; }
bool opengl_rasterizing_scene(void) { return render_opengl_scene_globals.rasterizing_scene; }

// ---- helpers -------------------------------------------------------------------

static int32_t surface_subtype(const render_surface *surface) { return surface_word_subtype(surface->packed); }
static uint32_t surface_flags(const render_surface *surface) { return surface_word_flags(surface->packed); }

static bool is_textured_triangle(const render_surface *surface)
{
    const int32_t subtype = surface_subtype(surface);
    return subtype == _surface_subtype_model_triangle || subtype == _surface_subtype_object_triangle;
}

static bool is_triangle(const render_surface *surface)
{
    return surface_subtype(surface) <= _surface_subtype_object_triangle;
}

// Model and object triangles share the corners and the identifier's place.
static const render_triangle *as_triangle(const render_surface *surface)
{
    return reinterpret_cast<const render_triangle *>(surface);
}

static bool corners_present(const render_corner corners[VERTICES_PER_TRIANGLE])
{
    return corners[0].vertex && corners[1].vertex && corners[2].vertex;
}

static uint8_t opacity_of(uint16_t transparency) { return (uint8_t)((65535 - (uint32_t)transparency) >> 8); }

// Keeps the shader, projection and blend modes and changes the depth mode.
static void set_depth_mode_only(int32_t depth_mode)
{
    const opengl_draw_state state = current_opengl_draw_state();
    set_render_mode_opengl(state.shader_mode, state.projection_mode, depth_mode, state.blend_mode);
}

static void put_position(rendervert_t *vertex, int32_t x, int32_t y, int32_t z, int32_t w)
{
    vertex->position[0] = x, vertex->position[1] = y, vertex->position[2] = z, vertex->position[3] = w;
}

static void put_texcoord(rendervert_t *vertex, float s, float t)
{
    vertex->texcoord[0] = s, vertex->texcoord[1] = t, vertex->texcoord[2] = 0.0f, vertex->texcoord[3] = 1.0f;
}

static void put_bytes(uint8_t out[4], const uint8_t in[4]) { memcpy(out, in, 4); }

static void append_sprite(view_data *view, render_surface *surface);
static void flush_sprites(void);

// ---- object textures and colours -------------------------------------------------

// The usage flags of model and object triangles.
static uint32_t object_triangle_usage_flags(void)
{
    uint32_t flags = _texture_anisotropic_flag;
    if (gl_prefs.UseMipMaps) flags |= _texture_mipmaps_flag;
    if (!opengl_uses_fixed_function_fog()) flags |= _texture_premultiply_flag;
    if (gl_prefs.UseShaders) flags |= _texture_untinted_flag;
    return flags;
}

// The texture cache's key for a bitmap identifier: under the shaders every
// tint row shares the untinted texture.
static uint32_t surface_texture_key(uint32_t identifier)
{
    return gl_prefs.UseShaders ? identifier | UNTINTED_IDENTIFIER_BITS : identifier;
}

// The texture of a surface's bitmap; null (the surface is skipped) when it
// cannot be had.
static const cached_texture_data *surface_texture(uint32_t identifier, uint32_t usage_flags)
{
    cached_texture_descriptor descriptor;
    const uint32_t key = surface_texture_key(identifier);
    if (key != 0)
    {
        initialize_cached_texture_descriptor(&descriptor, key, nullptr, nullptr, nullptr, usage_flags);
    }
    else
    {
        // Identifier 0 names bitmap 0 of collection 0 through its first
        // colour table, but the cache reads 0 as "no identifier": it is
        // handed the bitmap itself (and keys the texture by its record).
        bitmap_data *bitmap = get_bitmap(0, 0);
        if (!bitmap) return nullptr;
        initialize_cached_texture_descriptor(&descriptor, 0, bitmap, get_shading_table_header(0, 0),
                                             get_shading_table(0, 0, 0), usage_flags);
    }
    const cached_texture_data *texture = texture_cache_lookup(&descriptor);
    return texture && texture->user_data ? texture : nullptr;
}

static int32_t texture_name(const cached_texture_data *texture)
{
    return (int32_t)gl_handle_to_name(texture->user_data);
}

struct object_colors
{
    uint8_t color[4];
    uint8_t tint[4];
};

// With the shaders the tint row of the identifier gives the tint attribute
// and the colour; without them the colour is the opacity when the texture is
// premultiplied, else white.  Alpha is `alpha`.
static object_colors object_colors_of(const cached_texture_data *texture, uint32_t identifier, uint32_t usage_flags,
                                      uint8_t alpha, uint8_t unshaded_rgb)
{
    object_colors colors = {{unshaded_rgb, unshaded_rgb, unshaded_rgb, alpha}, {255, 0, 0, 0}};
    if (gl_prefs.UseShaders)
    {
        const shading_table_header *header = texture->shading_header;
        if (header)
        {
            const uint8_t *row = header->tint_shader_data[identifier >> TINT_ROW_SHIFT];
            memcpy(colors.tint, row, 4);
            memcpy(colors.color, row + 4, 3);
        }
        else
        {
            // No tint rows: the texture as it is.
            colors.color[0] = colors.color[1] = colors.color[2] = 0;
        }
    }
    else if (!(usage_flags & _texture_premultiply_flag))
    {
        colors.color[0] = colors.color[1] = colors.color[2] = 255;
    }
    return colors;
}

static void put_triangle(rendervert_t *vertices, const render_triangle *triangle, const object_colors &colors)
{
    for (int32_t i = 0; i < VERTICES_PER_TRIANGLE; ++i)
    {
        const render_corner &corner = triangle->corners[i];
        rendervert_t *vertex = &vertices[i];
        put_position(vertex, corner.vertex->p.x, corner.vertex->p.y, corner.vertex->p.z, 1);
        put_texcoord(vertex, (float)(uint16_t)corner.interpolants[_texture_u] / 65535.0f,
                     (float)(uint16_t)corner.interpolants[_texture_v] / 65535.0f);
        put_bytes(vertex->color, colors.color);
        put_bytes(vertex->tint, colors.tint);
    }
}

// One model or object triangle with its own texture, colour and depth.
static void draw_object_triangle(render_surface *surface)
{
    const render_triangle *triangle = as_triangle(surface);
    if (!corners_present(triangle->corners)) return;
    const uint32_t usage_flags = object_triangle_usage_flags();
    const cached_texture_data *texture = surface_texture(triangle->bitmap_identifier, usage_flags);
    if (!texture) return;
    const uint8_t opacity = opacity_of(surface->transparency);
    const object_colors colors = object_colors_of(texture, triangle->bitmap_identifier, usage_flags, opacity, opacity);
    int32_t depth_mode = render_opengl_scene_globals.depth_modes.model_triangle;
    if (surface_flags(surface) & _surface_transparent_flag) depth_mode &= ~_depth_mode_write;
    set_render_mode_opengl(_shader_world_texture, _projection_mode_perspective, depth_mode,
                           _blend_mode_premultiplied_alpha);
    bind_texture_unit_opengl(0, texture_name(texture));
    put_triangle(render_verts, triangle, colors);
    draw_render_verts_opengl(GL_TRIANGLES, 0, VERTICES_PER_TRIANGLE);
}

void rasterize_model_texture_chunk(void *context, render_surface **surfaces, int32_t count)
{
    (void)context;
    if (count <= 0 || !surfaces) return;
    count = std::min<int32_t>(count, MAXIMUM_SCENE_CHUNK);
    // The chunk shares one key, so the first surface names its texture.
    if (!is_textured_triangle(surfaces[0])) return;
    const uint32_t identifier = as_triangle(surfaces[0])->bitmap_identifier;
    const uint32_t usage_flags = object_triangle_usage_flags();
    const cached_texture_data *texture = surface_texture(identifier, usage_flags);
    if (!texture) return;
    const object_colors colors = object_colors_of(texture, identifier, usage_flags, 255, 255);
    bind_texture_unit_opengl(0, texture_name(texture));
    int32_t vertex_count = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        if (!is_textured_triangle(surfaces[i])) continue;
        const render_triangle *triangle = as_triangle(surfaces[i]);
        if (!corners_present(triangle->corners)) continue;
        put_triangle(&render_verts[vertex_count], triangle, colors);
        vertex_count += VERTICES_PER_TRIANGLE;
    }
    if (vertex_count > 0) draw_render_verts_opengl(GL_TRIANGLES, 0, vertex_count);
}

void rasterize_translucent(void *context, render_surface **surfaces, int32_t count)
{
    view_data *view = static_cast<view_data *>(context);
    for (int32_t i = 0; i < count; ++i)
    {
        render_surface *surface = surfaces[i];
        const int32_t subtype = surface_subtype(surface);
        if (subtype == _surface_subtype_object_rectangle)
        {
            append_sprite(view, surface);
            continue;
        }
        flush_sprites();
        switch (subtype)
        {
        case _surface_subtype_filled_rectangle: rasterize_opengl_filled_rectangle(view, surface); break;
        case _surface_subtype_object_shadow: rasterize_opengl_shadow(view, surface); break;
        case _surface_subtype_model_triangle:
        case _surface_subtype_object_triangle: draw_object_triangle(surface); break;
        default: break;
        }
    }
    flush_sprites();
}

void rasterize_depth_chunk(void *positions_only, render_surface **surfaces, int32_t count)
{
    if (count <= 0 || !surfaces) return;
    count = std::min<int32_t>(count, MAXIMUM_SCENE_CHUNK);
    const bool true_depth = positions_only && *static_cast<const bool *>(positions_only);
    const bool flatten_on_cpu = !true_depth && !gl_prefs.UseShaders;
    float *flattened = render_opengl_scene_globals.flattened;
    int32_t vertex_count = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const render_surface *surface = surfaces[i];
        if (!is_triangle(surface)) continue;
        const render_triangle *triangle = as_triangle(surface);
        if (!corners_present(triangle->corners)) continue;
        if (flatten_on_cpu)
        {
            // Each corner slides along its eye ray to the sort distance; a
            // corner at the eye has no ray.
            bool usable = true;
            for (const render_corner &corner : triangle->corners) usable = usable && corner.vertex->p.z != 0;
            if (!usable) continue;
        }
        for (int32_t k = 0; k < VERTICES_PER_TRIANGLE; ++k)
        {
            const world_point3d &p = triangle->corners[k].vertex->p;
            rendervert_t *vertex = &render_verts[vertex_count + k];
            if (true_depth) put_position(vertex, p.x, p.y, p.z, 1);
            else if (!flatten_on_cpu) put_position(vertex, p.x, p.y, p.z, surface->z);
            else
            {
                const float ratio = (float)surface->z / (float)p.z;
                float *out = &flattened[(vertex_count + k) * 3];
                out[0] = (float)p.x * ratio, out[1] = (float)p.y * ratio, out[2] = (float)surface->z;
                // The capture hook reads the integer array: keep it telling the truth.
                put_position(vertex, (int32_t)lrintf(out[0]), (int32_t)lrintf(out[1]), surface->z, 1);
            }
        }
        vertex_count += VERTICES_PER_TRIANGLE;
    }
    if (vertex_count == 0) return;
    if (flatten_on_cpu)
    {
        gl.VertexPointer(3, GL_FLOAT, 0, flattened);
        draw_render_verts_opengl(GL_TRIANGLES, 0, vertex_count);
        gl.VertexPointer(3, GL_INT, sizeof(rendervert_t), render_verts[0].position);
    }
    else
    {
        draw_render_verts_opengl(GL_TRIANGLES, 0, vertex_count);
    }
}

// ---- sprites and filled rectangles -------------------------------------------------

void compute_vertical_rectangle_zs(const view_data *view, float *out_top, float *out_bottom, int32_t obj_view_y,
                                   int32_t y_top, int32_t y_bottom, int32_t z)
{
    const float r21 = (float)view->world_to_viewer_rotation[2][1];
    const float r22 = (float)view->world_to_viewer_rotation[2][2];
    const float a = r21 * (float)z;
    const float c = -r22;
    const float k = (float)obj_view_y * c + a;
    const auto distance = [&](int32_t y) {
        const float denominator = (float)y * c + a;
        const float ratio = denominator != 0.0f ? k / denominator : 0.0f;
        return std::max(0.0f, ratio) * (float)z;
    };
    if (out_top) *out_top = distance(y_top);
    if (out_bottom) *out_bottom = distance(y_bottom);
}

static uint32_t rectangle_usage_flags(void)
{
    uint32_t flags = gl_prefs.UseNPO2Textures
                         ? _texture_premultiply_flag | _texture_clamp_to_border_flag |
                               (gl_prefs.UseMipMaps ? _texture_mipmaps_flag : 0)
                         : _texture_premultiply_flag | _texture_border_flag;
    if (opengl_uses_fixed_function_fog()) flags &= ~_texture_premultiply_flag;
    if (gl_prefs.UseShaders) flags |= _texture_untinted_flag;
    return flags;
}

static int32_t truncate_distance(float distance)
{
    if (!(distance > -2147483520.0f && distance < 2147483520.0f)) return 0;
    return (int32_t)distance;
}

// Draws the sprites written since the last draw, if any.
static void flush_sprites(void)
{
    auto &g = render_opengl_scene_globals;
    if (g.sprite_vertex_count == 0) return;
    set_render_mode_opengl(_shader_sprite, _projection_mode_perspective, g.sprite_depth_mode,
                           _blend_mode_premultiplied_alpha);
    bind_texture_unit_opengl(0, g.sprite_texture);
    draw_render_quads_opengl(g.sprite_vertex_count);
    g.sprite_vertex_count = 0;
}

// Writes a sprite's quad after the sprites waiting in render_verts, drawing
// those first when this one needs another texture or depth mode.  Whoever
// calls this draws with flush_sprites before render_verts is used otherwise.
static void append_sprite(view_data *view, render_surface *surface)
{
    auto &g = render_opengl_scene_globals;
    const render_rectangle *rectangle = reinterpret_cast<const render_rectangle *>(surface);
    const rectangle2d_32 &bounds = rectangle->viewer_rect;
    const int32_t clipped_top = std::min<int32_t>(rectangle->viewer_clip_top, bounds.top);
    const int32_t clipped_bottom = std::max<int32_t>(rectangle->viewer_clip_bottom, bounds.bottom);
    if (clipped_top <= clipped_bottom || bounds.right <= bounds.left) return;

    const int32_t depth_mode = render_opengl_scene_globals.depth_modes.rectangle;
    // Another bitmap's lookup may make or evict textures: the waiting
    // sprites are drawn while theirs is certainly alive.
    if (g.sprite_vertex_count > 0 &&
        (surface_texture_key(rectangle->bitmap_identifier) != g.sprite_texture_key ||
         depth_mode != g.sprite_depth_mode || g.sprite_vertex_count + 4 > MAXIMUM_RENDER_VERTS))
        flush_sprites();
    const uint32_t usage_flags = rectangle_usage_flags();
    const cached_texture_data *texture = surface_texture(rectangle->bitmap_identifier, usage_flags);
    if (!texture) return;
    const bitmap_data *bitmap = texture->bitmap;
    // The half-texel growth divides by the bitmap's size.  A sprite of such a
    // bitmap is refused (and logged once) where it is made; this only guards.
    if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0) return;
    const uint8_t opacity = opacity_of(surface->transparency);
    const object_colors colors =
        object_colors_of(texture, rectangle->bitmap_identifier, usage_flags, opacity, opacity);

    // Grown by half a source pixel so that the border texels land on pixel centres.
    const int32_t height = bounds.bottom - bounds.top; // negative: view y grows upwards
    const int32_t width = bounds.right - bounds.left;
    const int32_t half_texel_height = (height / bitmap->height) / 2;
    const int32_t half_texel_width = (width / bitmap->width) / 2;
    const int32_t left = bounds.left - half_texel_width, right = bounds.right + half_texel_width;
    const int32_t top = std::min<int32_t>(clipped_top - half_texel_height, rectangle->viewer_clip_top);
    const int32_t bottom = std::max<int32_t>(clipped_bottom + half_texel_height, rectangle->viewer_clip_bottom);

    const uint32_t flags = surface_flags(surface);
    float u_left = texture->u_bias, u_right = texture->u_bias + texture->u_scale;
    if (flags & _surface_mirror_horizontal_flag) std::swap(u_left, u_right);
    int32_t row_top = clipped_top - bounds.top, row_bottom = clipped_bottom - bounds.top;
    if (flags & _surface_mirror_vertical_flag) row_top = height - row_top, row_bottom = height - row_bottom;
    const float v_top = texture->v_bias + (float)row_top * texture->v_scale / (float)height;
    const float v_bottom = texture->v_bias + (float)row_bottom * texture->v_scale / (float)height;

    const int32_t z = surface->z;
    int32_t w_top = z, w_bottom = z;
    if (gl_prefs.UseShaders && depth_mode != _depth_mode_none)
    {
        float top_distance, bottom_distance;
        compute_vertical_rectangle_zs(view, &top_distance, &bottom_distance, surface->obj_view_y, top, bottom, z);
        w_top = truncate_distance(top_distance);
        w_bottom = truncate_distance(bottom_distance);
    }

    const struct
    {
        int32_t x, y, w;
        float s, t;
    } corners[4] = {
        {left, top, w_top, u_left, v_top},
        {left, bottom, w_bottom, u_left, v_bottom},
        {right, bottom, w_bottom, u_right, v_bottom},
        {right, top, w_top, u_right, v_top},
    };
    rendervert_t *vertices = &render_verts[g.sprite_vertex_count];
    for (int32_t i = 0; i < 4; ++i)
    {
        rendervert_t *vertex = &vertices[i];
        put_position(vertex, corners[i].x, corners[i].y, z, corners[i].w);
        put_texcoord(vertex, corners[i].s, corners[i].t);
        put_bytes(vertex->color, colors.color);
        put_bytes(vertex->tint, colors.tint);
    }
    g.sprite_vertex_count += 4;
    g.sprite_texture_key = surface_texture_key(rectangle->bitmap_identifier);
    g.sprite_texture = texture_name(texture);
    g.sprite_depth_mode = depth_mode;
}

void rasterize_opengl_rectangle(view_data *view, render_surface *surface)
{
    flush_sprites();
    append_sprite(view, surface);
    flush_sprites();
}

// The integer depth the perspective projection gives a view distance `d`
// (negative in front), in the ortho projection's units.
static int32_t filled_rectangle_depth(float d)
{
    if (!(d < 0.0f)) return 0;
    const float depth = -8400019.0f / d - 32812.57421875f;
    return truncate_distance(depth);
}

void rasterize_opengl_filled_rectangle(view_data *view, render_surface *surface)
{
    const render_filled_rectangle *rectangle = reinterpret_cast<const render_filled_rectangle *>(surface);
    const int32_t top = std::max<int32_t>(rectangle->y0, rectangle->clip_top);
    const int32_t bottom = std::min<int32_t>(rectangle->y1, rectangle->clip_bottom);
    if (top >= bottom || rectangle->x0 >= rectangle->x1) return;
    const int32_t x_origin = view && view->screen ? view->screen->x0 : 0;
    const int32_t y_origin = view && view->screen ? view->screen->y0 : 0;

    const uint8_t color[4] = {(uint8_t)(rectangle->color.red >> 8), (uint8_t)(rectangle->color.green >> 8),
                              (uint8_t)(rectangle->color.blue >> 8), opacity_of(surface->transparency)};

    const int32_t z = surface->z;
    int32_t depth_mode = _depth_mode_none, depth_top = 0, depth_bottom = 0;
    if (z < 0)
    {
        depth_mode = render_opengl_scene_globals.depth_modes.filled_rectangle;
        if (depth_mode != _depth_mode_none)
        {
            if (!gl_prefs.UseShaders || !view)
            {
                depth_top = depth_bottom = filled_rectangle_depth((float)z);
            }
            else
            {
                const projection_mode_data &perspective = projections[_projection_mode_perspective];
                const float y_top =
                    (perspective.unproject_y_bias + perspective.unproject_y_scale * (float)top) * (float)z;
                const float y_bottom =
                    (perspective.unproject_y_bias + perspective.unproject_y_scale * (float)bottom) * (float)z;
                float top_distance, bottom_distance;
                compute_vertical_rectangle_zs(view, &top_distance, &bottom_distance, surface->obj_view_y,
                                              truncate_distance(y_top), truncate_distance(y_bottom), z);
                depth_top = filled_rectangle_depth(top_distance);
                depth_bottom = filled_rectangle_depth(bottom_distance);
            }
        }
    }

    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, depth_mode, _blend_mode_alpha);
    const int32_t x0 = rectangle->x0 + x_origin, x1 = rectangle->x1 + x_origin;
    const struct
    {
        int32_t x, y, depth;
    } corners[4] = {
        {x0, top + y_origin, depth_top},
        {x0, bottom + y_origin, depth_bottom},
        {x1, bottom + y_origin, depth_bottom},
        {x1, top + y_origin, depth_top},
    };
    for (int32_t i = 0; i < 4; ++i)
    {
        rendervert_t *vertex = &render_verts[i];
        put_position(vertex, corners[i].x, corners[i].y, corners[i].depth, 1);
        put_texcoord(vertex, 0.0f, 0.0f);
        put_bytes(vertex->color, color);
        const uint8_t untinted[4] = {255, 0, 0, 0};
        put_bytes(vertex->tint, untinted);
    }
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
}

// ---- sprite shadows ------------------------------------------------------------------

// The distance at which the ray through view height `y` (at distance `z`)
// meets the level ground through the point at view height `foot_y` and
// distance `z`; 0 where it never does.
static float ground_distance(const view_data *view, int32_t foot_y, float y, int32_t z)
{
    const float r21 = (float)view->world_to_viewer_rotation[2][1];
    const float r22 = (float)view->world_to_viewer_rotation[2][2];
    const float denominator = r21 * y + r22 * (float)z;
    const float ratio = denominator != 0.0f ? (r21 * (float)foot_y + r22 * (float)z) / denominator : 0.0f;
    return std::max(0.0f, ratio) * (float)z;
}

void rasterize_opengl_shadow(view_data *view, render_surface *surface)
{
    const render_shadow_rectangle *shadow = reinterpret_cast<const render_shadow_rectangle *>(surface);
    const int64_t rise = (int64_t)shadow->top_row - shadow->foot_row;
    if (rise == 0) return;
    const uint32_t usage_flags = rectangle_usage_flags();
    const cached_texture_data *texture = surface_texture(shadow->bitmap_identifier, usage_flags);
    if (!texture) return;
    // Only the run-length sprites cast one, as in the software renderer.
    const bitmap_data *bitmap = texture->bitmap;
    if (!bitmap || !(bitmap->flags & _1bit_transparency_encoded_flag) || bitmap->width <= 0 || bitmap->height <= 0)
        return;

    // The parallelogram from its foot edge (the bitmap's bottom row) to its
    // top edge, cut at the clip rows: t runs from 0 at the foot to 1 at the top.
    const double foot_row = shadow->foot_row / 65536.0, top_row = shadow->top_row / 65536.0;
    double t0 = 0.0, t1 = 1.0;
    const double clip_t[2] = {((double)shadow->clip_top - foot_row) / (top_row - foot_row),
                              ((double)shadow->clip_bottom - foot_row) / (top_row - foot_row)};
    if (top_row < foot_row) t1 = std::min(t1, clip_t[0]), t0 = std::max(t0, clip_t[1]);
    else t0 = std::max(t0, clip_t[0]), t1 = std::min(t1, clip_t[1]);
    if (!(t0 < t1)) return;

    const uint32_t flags = surface_flags(surface);
    float u_left = texture->u_bias, u_right = texture->u_bias + texture->u_scale;
    float v_foot = texture->v_bias + texture->v_scale, v_top = texture->v_bias;
    if (flags & _surface_mirror_horizontal_flag) std::swap(u_left, u_right);
    if (flags & _surface_mirror_vertical_flag) std::swap(v_foot, v_top);

    int32_t depth_mode = render_opengl_scene_globals.depth_modes.filled_rectangle;
    if (surface->z >= 0) depth_mode = _depth_mode_none;
    const projection_mode_data &perspective = projections[_projection_mode_perspective];
    const int32_t x_origin = view && view->screen ? view->screen->x0 : 0;
    const int32_t y_origin = view && view->screen ? view->screen->y0 : 0;
    const uint8_t color[4] = {0, 0, 0, opacity_of(surface->transparency)};
    const uint8_t untinted[4] = {255, 0, 0, 0};
    const auto edge = [&](double t, rendervert_t *left, rendervert_t *right) {
        const double row = foot_row + (top_row - foot_row) * t;
        const double l = (shadow->foot_left + (double)(shadow->top_left - shadow->foot_left) * t) / 65536.0;
        const double r = (shadow->foot_right + (double)(shadow->top_right - shadow->foot_right) * t) / 65536.0;
        int32_t depth = 0;
        if (depth_mode != _depth_mode_none && view)
        {
            const float view_y = (perspective.unproject_y_bias + perspective.unproject_y_scale * (float)row) *
                                 (float)surface->z;
            depth = filled_rectangle_depth(ground_distance(view, surface->obj_view_y, view_y, surface->z));
        }
        const float v = v_foot + (float)t * (v_top - v_foot);
        const int32_t y = (int32_t)std::lround(row) + y_origin;
        put_position(left, (int32_t)std::lround(l) + x_origin, y, depth, 1);
        put_position(right, (int32_t)std::lround(r) + x_origin, y, depth, 1);
        put_texcoord(left, u_left, v);
        put_texcoord(right, u_right, v);
        for (rendervert_t *vertex : {left, right})
        {
            put_bytes(vertex->color, color);
            put_bytes(vertex->tint, untinted);
        }
    };
    edge(t0, &render_verts[0], &render_verts[3]);
    edge(t1, &render_verts[1], &render_verts[2]);
    // Black through the texture's coverage: the ground darkens by the opacity.
    set_render_mode_opengl(_shader_basic_texture, _projection_mode_ortho, depth_mode, _blend_mode_premultiplied_alpha);
    bind_texture_unit_opengl(0, texture_name(texture));
    draw_render_verts_opengl(GL_TRIANGLE_FAN, 0, 4);
}

// ---- mesh triangles without the depth buffer -----------------------------------------

// The terrain module draws the mesh categories from its colour map; the
// depthless path draws mesh triangles one by one from the same texture, which
// the terrain module publishes once it has made it (untextured, white, before).
static int32_t color_map_texture_name(void)
{
    const uint32_t name = volatile_cmap_texture_name_opengl();
    return name ? (int32_t)name : -1;
}
static float color_map_texcoord_scale(void) { return mesh_texcoord_scale(); }

static void draw_depthless_mesh_triangle(render_surface *surface)
{
    const render_triangle *triangle = as_triangle(surface);
    if (!corners_present(triangle->corners)) return;
    const float scale = color_map_texcoord_scale();
    for (int32_t i = 0; i < VERTICES_PER_TRIANGLE; ++i)
    {
        const render_corner &corner = triangle->corners[i];
        rendervert_t *vertex = &render_verts[i];
        put_position(vertex, corner.vertex->p.x, corner.vertex->p.y, corner.vertex->p.z, 1);
        put_texcoord(vertex, (float)corner.interpolants[_texture_u] * scale,
                     (float)corner.interpolants[_texture_v] * scale);
        const uint8_t white[4] = {255, 255, 255, 255};
        put_bytes(vertex->color, white);
    }
    set_render_mode_opengl(_shader_fixed_multitexture, _projection_mode_perspective, _depth_mode_full,
                           _blend_mode_alpha);
    // The water's surface from the water's colour map, plain, as the media category.
    const uint32_t water = (surface_flags(surface) & _surface_media_flag) ? water_cmap_texture_name_opengl() : 0;
    bind_texture_unit_opengl(0, water ? (int32_t)water : color_map_texture_name());
    if (!detail_maps_active() || water)
    {
        bind_texture_unit_opengl(1, -1);
        draw_render_verts_opengl(GL_TRIANGLES, 0, VERTICES_PER_TRIANGLE);
        return;
    }
    const uint32_t detail = triangle->detail;
    if (detail & (1u << DETAIL_BASE_BIT))
    {
        bind_texture_unit_opengl(1, -1);
        draw_render_verts_opengl(GL_TRIANGLES, 0, VERTICES_PER_TRIANGLE);
    }
    preallocated_texture *const *textures = hardware_format_detail_textures();
    const float(*scales)[2] = detail_texture_scales();
    for (int32_t layer = 0; layer < DETAIL_LAYER_COUNT; ++layer)
    {
        const uint32_t weights = (detail >> (3 * layer)) & 7;
        if (weights == 0) break; // a later layer only follows a present one
        const uint32_t index = (detail >> (9 + 7 * layer)) & 0x7F;
        const preallocated_texture *texture = textures ? textures[index] : nullptr;
        if (!texture || !texture->user_data) continue;
        const float scale_u = scales ? scales[index][0] : 1.0f, scale_v = scales ? scales[index][1] : 1.0f;
        for (int32_t i = 0; i < VERTICES_PER_TRIANGLE; ++i)
        {
            rendervert_t *vertex = &render_verts[i];
            const point2d &cell = triangle->corners[i].vertex->mesh_vertex;
            vertex->color[3] = (weights & (1u << i)) ? 255 : 0;
            vertex->texcoord[2] = -(float)cell.x * scale_u;
            vertex->texcoord[3] = (float)cell.y * scale_v;
        }
        bind_texture_unit_opengl(1, (int32_t)gl_handle_to_name(texture->user_data));
        draw_render_verts_opengl(GL_TRIANGLES, 0, VERTICES_PER_TRIANGLE);
    }
}

// ---- the frame -------------------------------------------------------------------

static float float_from_bits(uint32_t bits)
{
    float value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

// The window at unit distance that the software renderer's projection shows
// on the view's screen (or on its tile of the whole picture): screen x = xk -
// x * f / z, screen y = yk + y * f / z.  The surfaces' screen rectangles
// (marks, shadows, text) come from that projection, so the sprites and the
// terrain must too.  The view's own perspective window takes the bars' height
// off a picture that is already drawn between them, and stretches the picture.
static view_perspective software_window(const view_data *view)
{
    const float f = view->fworld_to_screen > 0.0f ? view->fworld_to_screen : 1.0f;
    float x0 = 0.0f, y0 = 0.0f, x1 = (float)view->screen_width, y1 = (float)view->screen_height;
    if (view->tile_rendering)
    {
        x0 = (float)(view->x_tile * view->x_tile_size), x1 = x0 + (float)view->x_tile_size;
        y0 = (float)(view->y_tile * view->y_tile_size), y1 = y0 + (float)view->y_tile_size;
    }
    view_perspective window;
    window.left = (x0 - (float)view->xk) / f;
    window.right = (x1 - (float)view->xk) / f;
    window.top = ((float)view->yk - y0) / f;
    window.bottom = ((float)view->yk - y1) / f;
    return window;
}

// The perspective projection of the view (near 0.5 and far 360 cells) and
// what sprites need to turn screen rows back into view heights.
static void build_perspective_projection(const view_data *view)
{
    projection_mode_data *data = &projections[_projection_mode_perspective];
    memset(data, 0, sizeof(*data));
    const view_perspective window = software_window(view);
    const float l = window.left / 2.0f, r = window.right / 2.0f;
    const float t = window.top / 2.0f, b = window.bottom / 2.0f;
    const float width = r - l != 0.0f ? r - l : 1.0f, height = t - b != 0.0f ? t - b : 1.0f;
    data->proj_mat[0] = 1.0f / width;
    data->proj_mat[5] = 1.0f / height;
    data->proj_mat[8] = (l + r) / width;
    data->proj_mat[9] = (t + b) / height;
    data->proj_mat[10] = float_from_bits(0xbf805b26u);
    data->proj_mat[11] = -1.0f;
    data->proj_mat[14] = float_from_bits(0xbf802d93u);
    data->view_mat[0] = data->view_mat[5] = data->view_mat[10] = 1.0f / 512.0f;
    data->view_mat[15] = 1.0f;
    data->viewport[0] = view->viewport.left;
    data->viewport[1] = active_screen.physical_pixel_height - view->viewport.bottom;
    data->viewport[2] = view->viewport.right - view->viewport.left;
    data->viewport[3] = view->viewport.bottom - view->viewport.top;
    // A screen row back to a view height at distance z, (bias + scale x row) x z,
    // by the same projection.
    const float f = view->fworld_to_screen > 0.0f ? view->fworld_to_screen : 1.0f;
    data->unproject_y_scale = 1.0f / f;
    data->unproject_y_bias = -(float)view->yk / f;
    // The next draw loads it (the ortho one is rebuilt as it was).
    build_orthogonal_projection();
}

static void begin_frame(view_data *view)
{
    if (gl_prefs.UseDepthTest) set_depth_mode_only(_depth_mode_write);
    else set_depth_mode_only(_depth_mode_none);

    // The colour only when asked to erase; the depth buffer always when it is
    // used, or the objects would be tested against the last frame's terrain.
    GLbitfield clear = 0;
    if (gl_prefs.ErasePreviousFrame)
    {
        set_clear_color_opengl((uint32_t)gl_prefs.ClearColor);
        clear |= GL_COLOR_BUFFER_BIT;
    }
    if (gl_prefs.UseDepthTest) clear |= GL_DEPTH_BUFFER_BIT;
    if (clear) gl.Clear(clear);

    build_perspective_projection(view);

    // A view without a region has no terrain to bring up to date.
    if (view->region && global_maps_mode == _maps_mode_tiles)
    {
        if (view->region->dirty_tile_list_size > 0) update_tile_texture_opengl(view->region);
    }
    else if (view->region && terrain_maps_globals.volatile_maps_changed)
    {
        update_volatile_cmap_texture_opengl(view->region);
        terrain_maps_globals.volatile_maps_changed = false;
    }

    if (!gl_prefs.UseShaders && detail_maps_enabled())
    {
        // Unit 1 gives twice the product of the colour map and the detail texel.
        gl.ActiveTexture(GL_TEXTURE1);
        gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
        gl.TexEnvi(GL_TEXTURE_ENV, GL_RGB_SCALE, 2);
        gl.ActiveTexture(GL_TEXTURE0);
    }

    reset_texture_state_opengl();
    const float scale = active_screen.dpi > 0 ? (float)active_screen.dpi / 96.0f : 1.0f;
    gl.LineWidth(scale);
    gl.PointSize(scale);
    ++render_opengl_scene_globals.frame_index;
    render_opengl_scene_globals.rasterizing_scene = true;
}

static void draw_category(void *context, int32_t index, int32_t maximum_chunk, bool by_key, uint32_t key_mask,
                          surface_chunk_procedure procedure)
{
    surface_category *category = &surface_categories[index];
    if (category->count == 0) return;
    rasterize_surface_category(context, category, maximum_chunk, by_key, key_mask, procedure);
}

static void draw_with_depth_buffer(view_data *view)
{
    static bool true_depth = true, flattened_depth = false; // the depth chunks' contexts
    opengl_object_depth_modes &modes = render_opengl_scene_globals.depth_modes;

    set_render_mode_opengl(_shader_world_texture, _projection_mode_perspective, _depth_mode_test, _blend_mode_replace);
    draw_category(view, _surface_category_reflective_objects, MAXIMUM_SCENE_CHUNK, true, IDENTIFIER_WITHOUT_TINT_MASK,
                  rasterize_model_texture_chunk);

    if (surface_categories[_surface_category_media].count > 0) rasterize_mesh_category(view, _surface_category_media);

    set_opengl_object_depth_modes(_depth_mode_none);
    draw_category(view, _surface_category_reflections, -1, false, 0, rasterize_translucent);

    set_render_mode_opengl(_shader_world_texture, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
    draw_category(view, _surface_category_opaque_objects, MAXIMUM_SCENE_CHUNK, true, IDENTIFIER_WITHOUT_TINT_MASK,
                  rasterize_model_texture_chunk);

    if (surface_categories[_surface_category_mesh].count > 0) rasterize_mesh_category(view, _surface_category_mesh);

    // The depth buffer again, without colour: opaque objects at their true
    // depth, the mesh flattened to each triangle's sort distance, which is
    // what the translucent objects are tested against.  Without translucent
    // objects nothing reads it: the two full-screen passes are left out.
    if (surface_categories[_surface_category_translucent_objects].count == 0)
    {
        gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
        return;
    }
    set_depth_mode_only(_depth_mode_write);
    gl.Clear(GL_DEPTH_BUFFER_BIT);
    gl.ColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    if (gl_prefs.UseShaders)
    {
        set_render_mode_opengl(_shader_world_texture, _projection_mode_perspective, _depth_mode_full,
                               _blend_mode_replace);
        draw_category(&true_depth, _surface_category_opaque_objects, MAXIMUM_SCENE_CHUNK, false, 0,
                      rasterize_depth_chunk);
    }
    else
    {
        set_render_mode_opengl(_shader_depth, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
        draw_category(&flattened_depth, _surface_category_opaque_objects, MAXIMUM_SCENE_CHUNK, false, 0,
                      rasterize_depth_chunk);
    }
    set_render_mode_opengl(_shader_depth, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
    draw_category(&flattened_depth, _surface_category_mesh, MAXIMUM_SCENE_CHUNK, false, 0, rasterize_depth_chunk);
    gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);

    modes = {_depth_mode_test, _depth_mode_test, _depth_mode_test};
    draw_category(view, _surface_category_translucent_objects, -1, false, 0, rasterize_translucent);
}

static void draw_without_depth_buffer(view_data *view, render_surface_list *list)
{
    opengl_object_depth_modes &modes = render_opengl_scene_globals.depth_modes;
    for (int32_t state = 0; state < NUMBER_OF_RASTERIZE_STATES; ++state)
    {
        if (state == _rasterize_state_primary) modes = {_depth_mode_none, _depth_mode_none, _depth_mode_full};
        else set_opengl_object_depth_modes(_depth_mode_none);
        for (render_surface *surface = list->last_surface; surface; surface = surface->previous_surface)
        {
            const uint32_t flags = surface_flags(surface);
            const int32_t subtype = surface_subtype(surface);
            if (subtype > _surface_subtype_object_shadow || subtype == _surface_subtype_text_rectangle) continue;
            // The clipper may discard terrain the back end still draws.
            if ((flags & _surface_discarded_flag) && subtype != _surface_subtype_mesh_triangle) continue;
            const bool selected = state == _rasterize_state_media         ? (flags & _surface_media_flag) != 0
                                  : state == _rasterize_state_reflections ? (flags & _surface_reflection_flag) != 0
                                  : !(flags & (_surface_media_flag | _surface_reflection_flag));
            if (!selected) continue;
            if (subtype == _surface_subtype_object_rectangle)
            {
                append_sprite(view, surface);
                continue;
            }
            flush_sprites();
            switch (subtype)
            {
            case _surface_subtype_mesh_triangle: draw_depthless_mesh_triangle(surface); break;
            case _surface_subtype_model_triangle:
            case _surface_subtype_object_triangle: draw_object_triangle(surface); break;
            case _surface_subtype_filled_rectangle: rasterize_opengl_filled_rectangle(view, surface); break;
            case _surface_subtype_object_shadow: rasterize_opengl_shadow(view, surface); break;
            default: break;
            }
        }
        flush_sprites();
    }
}

void rasterize_scene_opengl(view_data *view, render_surface_list *list)
{
    if (!view || !list) return;
    if (!VASSERT(opengl_rasterizer_initialized(), "the OpenGL rasterizer draws a scene only while a map is started"))
        return;
    begin_frame(view);
    if (gl_prefs.UseDepthTest) draw_with_depth_buffer(view);
    else draw_without_depth_buffer(view, list);
    render_opengl_scene_globals.rasterizing_scene = false;
}
