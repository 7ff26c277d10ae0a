#include "render_opengl_terrain.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/sorting.h"
#include "detail_maps.h"
#include "gl_dispatch.h"
#include "hardware/texture_cache.h"
#include "hardware_rasterizer.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render_sort.h"
#include "render/render_surfaces.h"
#include "render/terrain_maps.h"
#include "render_opengl.h"
#include "screen.h"
#include "screen_preferences.h"
#include "utilities_opengl.h"

enum
{
    CHUNKS_PER_ROW = (int)VOLATILE_CMAP_TEXTURE_WIDTH / (int)VOLATILE_CHUNK_TEXTURE_WIDTH, // 8
    NUMBER_OF_CHUNKS = CHUNKS_PER_ROW * CHUNKS_PER_ROW,
    DETAIL_LAYERS = 3,
};

static struct render_opengl_terrain_globals
{
    // The colour map: our record while the map lives; `cmap_bitmap_record`
    // describes the texture when the cache is told only its size.
    preallocated_texture cmap_texture_record;
    preallocated_texture *cmap_texture;
    bitmap_data cmap_bitmap_record;
    // The water's colour map: the same texels shaded through the media's
    // tables, laid out as the colour map; none when the media has no tint.
    preallocated_texture water_texture_record;
    preallocated_texture *water_texture;
    bitmap_data water_bitmap_record;
    int32_t mode;
    uint32_t gl_type;
    int32_t encoding;
    int32_t width;
    float texcoord_scale;
    bool missing_cmap_logged, missing_detail_logged, bad_chunk_logged, mixed_category_logged; // once per map

    const mesh_detail_layers *layers_override;
    mesh_detail_layers map_layers; // the map's, gathered per category

    // Multipass scratch: the keys and the radix sort's two buffers.
    uint32_t *keys;
    size_t key_capacity; // words per buffer
    // The category without surfaces of another kind.
    render_surface **mesh_surfaces;
    size_t mesh_surface_capacity;

    // One tile or chunk on its way to the texture (32-bit texels at most).
    uint32_t texels[PAGE_TEXTURE_WIDTH * PAGE_TEXTURE_WIDTH];
} render_opengl_terrain_globals;

// ---- the colour map -------------------------------------------------------------------

const preallocated_texture *volatile_cmap_texture_opengl(void) { return render_opengl_terrain_globals.cmap_texture; }
int32_t volatile_cmap_texture_mode(void) { return render_opengl_terrain_globals.mode; }
uint32_t volatile_cmap_texture_gl_type(void) { return render_opengl_terrain_globals.gl_type; }
int32_t volatile_cmap_texture_encoding(void) { return render_opengl_terrain_globals.encoding; }
int32_t volatile_cmap_texture_width(void) { return render_opengl_terrain_globals.width; }
float mesh_texcoord_scale(void) { return render_opengl_terrain_globals.texcoord_scale; }

uint32_t volatile_cmap_texture_name_opengl(void)
{
    const preallocated_texture *ptex = render_opengl_terrain_globals.cmap_texture;
    return ptex ? gl_handle_to_name(ptex->user_data) : 0;
}

uint32_t water_cmap_texture_name_opengl(void)
{
    const preallocated_texture *ptex = render_opengl_terrain_globals.water_texture;
    return ptex ? gl_handle_to_name(ptex->user_data) : 0;
}

static int32_t cmap_texel_bytes(void) { return render_opengl_terrain_globals.mode == _cmap_texture_mode_16bit ? 2 : 4; }

// A colour-map texture of the chosen size and format, black: filled later
// through sub-image uploads (its texels handed to the cache for the call
// alone, `bitmap_record` describing it), or rebuilt in place in a bitmap the
// cache owns and uploaded whole.  Null when it cannot be made (logged).
static preallocated_texture *make_cmap_texture(preallocated_texture *record, bitmap_data *bitmap_record)
{
    auto &g = render_opengl_terrain_globals;
    const int16_t width = (int16_t)g.width;
    if (!gl_prefs.UseAppleClientStorage && gl_prefs.UpdateCMapChunked)
    {
        const size_t bytes = (size_t)g.width * g.width * (size_t)cmap_texel_bytes();
        void *black = calloc(1, bytes);
        if (!black)
        {
            log_message(__FILE__, __LINE__, "OpenGL: no memory (%zu bytes) to start a terrain colour map", bytes);
            return nullptr;
        }
        initialize_bitmap_data_lite(bitmap_record, black, width, width, -1, (int16_t)g.encoding);
        preallocated_texture *texture = texture_cache_initialize_preallocated(
            record, bitmap_record, _bitmap_ownership_ephemeral, nullptr, _texture_anisotropic_flag);
        free(black);
        bitmap_record->row_addresses[0] = nullptr;
        return texture;
    }
    bitmap_data *bitmap = new_bitmap(width, width, -1, (int16_t)g.encoding, 0);
    if (!bitmap)
    {
        log_message(__FILE__, __LINE__, "OpenGL: no memory for a terrain colour map's %dx%d bitmap", (int)g.width,
                    (int)g.width);
        return nullptr;
    }
    zero_bitmap_pixels(bitmap);
    preallocated_texture *texture = texture_cache_initialize_preallocated(record, bitmap, _bitmap_ownership_by_api,
                                                                          nullptr, _texture_anisotropic_flag);
    if (!texture) dispose_bitmap(bitmap);
    return texture;
}

void initialize_volatile_cmap_texture_opengl(void)
{
    auto &g = render_opengl_terrain_globals;
    dispose_volatile_cmap_texture_opengl();
    const bool textures_32bit = active_screen.prefs && (active_screen.prefs->flags & _screen_pref_32bit_flag);
    if (textures_32bit)
    {
        g.gl_type = GL_UNSIGNED_INT_8_8_8_8_REV;
        // The lightmap shader blends the light level the colour map keeps in alpha.
        if (gl_prefs.UseShaders && gl_prefs.UseLightmapBlendingShader)
        {
            g.mode = _cmap_texture_mode_32bit_unblended;
            g.encoding = _32bit_argb_8888_texture_encoding;
        }
        else
        {
            g.mode = _cmap_texture_mode_32bit;
            g.encoding = _32bit_xrgb_8888_texture_encoding;
        }
    }
    else
    {
        g.gl_type = GL_UNSIGNED_SHORT_1_5_5_5_REV;
        g.mode = _cmap_texture_mode_16bit;
        g.encoding = _16bit_xrgb_1555_texture_encoding;
    }
    const bool tiles = global_maps_mode == _maps_mode_tiles;
    g.width = tiles ? TILED_CMAP_TEXTURE_WIDTH : VOLATILE_CMAP_TEXTURE_WIDTH;
    g.texcoord_scale = tiles ? 1.0f / 256.0f : 1.0f / 64.0f;
    g.missing_cmap_logged = g.missing_detail_logged = g.bad_chunk_logged = g.mixed_category_logged = false;

    g.cmap_texture = make_cmap_texture(&g.cmap_texture_record, &g.cmap_bitmap_record);
    if (!volatile_cmap_texture_name_opengl())
        log_message(__FILE__, __LINE__, "OpenGL: the terrain colour map's texture could not be made");
    // The water's map doubles the terrain's texture memory: only where the
    // two together leave the sprites half the texture cache.
    const int64_t map_bytes = (int64_t)g.width * g.width * cmap_texel_bytes();
    const int64_t budget = active_screen.prefs ? (int64_t)active_screen.prefs->texture_cache_size << 20 : 0;
    if (budget > 0 && 4 * map_bytes > budget && terrain_maps_globals.media_shade32)
        log_message(__FILE__, __LINE__, "OpenGL: the texture cache is too small for the water's colour map; the "
                                         "water shows its bed");
    else if (terrain_maps_globals.media_shade16 && terrain_maps_globals.media_shade32)
    {
        g.water_texture = make_cmap_texture(&g.water_texture_record, &g.water_bitmap_record);
        if (!water_cmap_texture_name_opengl())
            log_message(__FILE__, __LINE__, "OpenGL: the water's colour map could not be made; the water shows its bed");
    }
}

void dispose_volatile_cmap_texture_opengl(void)
{
    auto &g = render_opengl_terrain_globals;
    // A cache disposed first has taken the texture with it and zero-filled
    // our record, which then no longer says it is ours.
    if (g.cmap_texture && g.cmap_texture->user_owned_ptex) texture_cache_dispose_preallocated(g.cmap_texture);
    if (g.water_texture && g.water_texture->user_owned_ptex) texture_cache_dispose_preallocated(g.water_texture);
    g.cmap_texture = g.water_texture = nullptr;
    g.width = 0;
    free(g.keys);
    g.keys = nullptr;
    g.key_capacity = 0;
    free(g.mesh_surfaces);
    g.mesh_surfaces = nullptr;
    g.mesh_surface_capacity = 0;
}

// Unit 0 active with the colour map bound, ready for sub-image uploads; false
// (logged once) without a texture.
static bool bind_cmap_for_update(void)
{
    const uint32_t name = volatile_cmap_texture_name_opengl();
    if (!name)
    {
        if (!render_opengl_terrain_globals.missing_cmap_logged)
            log_message(__FILE__, __LINE__, "OpenGL: no terrain colour map texture; the terrain is not drawn");
        render_opengl_terrain_globals.missing_cmap_logged = true;
        return false;
    }
    bind_texture_unit_for_update_opengl(0, (int32_t)name);
    return true;
}

static void upload_texels(int32_t x, int32_t y, int32_t size)
{
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, x, y, size, size, GL_BGRA, render_opengl_terrain_globals.gl_type,
                     render_opengl_terrain_globals.texels);
}

static bool chunk_number_usable(int32_t chunk)
{
    if (chunk >= 0 && chunk < NUMBER_OF_CHUNKS) return true;
    if (!render_opengl_terrain_globals.bad_chunk_logged)
        log_message(__FILE__, __LINE__, "OpenGL: colour-map chunk %d is outside the map; skipped", (int)chunk);
    render_opengl_terrain_globals.bad_chunk_logged = true;
    return false;
}

// Whether any cell of [x0, x1] x [y0, y1] (clipped to the mesh) has water,
// by the media bits of its blocks' level-of-detail words.
static bool cells_have_water(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    const uint16_t *words = get_mesh_LOD_data();
    const int32_t words_per_row = mesh_width / 2, word_rows = mesh_height / 2;
    if (!words) return false;
    x0 = std::max(x0, 0) >> 1, y0 = std::max(y0, 0) >> 1;
    x1 = std::min(x1 >> 1, words_per_row - 1), y1 = std::min(y1 >> 1, word_rows - 1);
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            if (words[x + (ptrdiff_t)words_per_row * y] & 0xFF00) return true;
    return false;
}

// The colour map's texture and mode, or the water's (name 0: none).
static uint32_t cmap_texture_name(bool water)
{
    return water ? water_cmap_texture_name_opengl() : volatile_cmap_texture_name_opengl();
}
static int32_t cmap_build_mode(bool water)
{
    return render_opengl_terrain_globals.mode | (water ? _cmap_texture_media_flag : 0);
}

static bool chunk_has_water(int32_t x, int32_t y)
{
    const int32_t cell_x = terrain_maps_globals.volatile_x0 + x / CELL_TEXTURE_WIDTH;
    const int32_t cell_y = terrain_maps_globals.volatile_y0 + y / CELL_TEXTURE_WIDTH;
    const int32_t cells = VOLATILE_CHUNK_TEXTURE_WIDTH / CELL_TEXTURE_WIDTH;
    // With the ring of cells around it, whose water the filter reaches into this chunk.
    return cells_have_water(cell_x - 1, cell_y - 1, cell_x + cells, cell_y + cells);
}

void update_volatile_cmap_texture_opengl(mesh_region *region)
{
    auto &g = render_opengl_terrain_globals;
    terrain_maps_globals.volatile_maps_changed = false;
    if (g.width != VOLATILE_CMAP_TEXTURE_WIDTH || !bind_cmap_for_update()) return;
    const int32_t count = region && region->volatile_chunk_coverage_list ? region->volatile_chunk_coverage_list_size : 0;
    for (const bool water : {false, true})
    {
        const uint32_t name = cmap_texture_name(water);
        if (!name) continue;
        preallocated_texture *texture = water ? g.water_texture : g.cmap_texture;
        // Chunked: each chunk goes up alone; else the texture's own texels are
        // rebuilt in place and uploaded whole.
        bitmap_data *bitmap = nullptr;
        if (gl_prefs.UpdateCMapChunked) bind_texture_unit_for_update_opengl(0, (int32_t)name);
        else
        {
            bitmap = texture ? texture->bitmap : nullptr;
            if (!bitmap || !bitmap->row_addresses[0] || bitmap->bytes_per_row != g.width * cmap_texel_bytes())
            {
                log_message(__FILE__, __LINE__, "OpenGL: the terrain colour map has no texels to rebuild");
                continue;
            }
        }
        int32_t rebuilt = 0;
        for (int32_t i = 0; i < count; ++i)
        {
            const int32_t chunk = region->volatile_chunk_coverage_list[i];
            if (!chunk_number_usable(chunk)) continue;
            const int32_t x = (chunk % CHUNKS_PER_ROW) * VOLATILE_CHUNK_TEXTURE_WIDTH;
            const int32_t y = (chunk / CHUNKS_PER_ROW) * VOLATILE_CHUNK_TEXTURE_WIDTH;
            if (water && !chunk_has_water(x, y)) continue;
            ++rebuilt;
            if (bitmap)
            {
                build_volatile_chunk_texture(bitmap->row_addresses[0], x, y, g.width, x, y, cmap_build_mode(water));
                continue;
            }
            build_volatile_chunk_texture(g.texels, 0, 0, VOLATILE_CHUNK_TEXTURE_WIDTH, x, y, cmap_build_mode(water));
            upload_texels(x, y, VOLATILE_CHUNK_TEXTURE_WIDTH);
        }
        // The colour map goes up whole even for an empty list (its texels may
        // have been written in place); the water's only when it changed.
        if (bitmap && (!water || rebuilt > 0)) texture_cache_update_preallocated(texture, true);
    }
}

void update_tile_texture_opengl(mesh_region *region)
{
    auto &g = render_opengl_terrain_globals;
    if (!region || region->dirty_tile_list_size <= 0 || !region->dirty_tile_list) return;
    if (g.width != TILED_CMAP_TEXTURE_WIDTH || !bind_cmap_for_update()) return;
    for (const bool water : {false, true})
    {
        const uint32_t name = cmap_texture_name(water);
        if (!name) continue;
        bind_texture_unit_for_update_opengl(0, (int32_t)name);
        for (int32_t i = 0; i < region->dirty_tile_list_size; ++i)
        {
            const mesh_tile *tile = region->dirty_tile_list[i];
            if (!tile || tile->page < 0) continue;
            if (tile->page_x > g.width - PAGE_TEXTURE_WIDTH || tile->page_y > g.width - PAGE_TEXTURE_WIDTH)
            {
                if (!water)
                    log_message(__FILE__, __LINE__, "OpenGL: terrain tile page at (%d, %d) is outside the colour map",
                                (int)tile->page_x, (int)tile->page_y);
                continue;
            }
            // The page holds the tile's cells and a one-cell border.
            if (water && !cells_have_water(tile->mesh_x - 1, tile->mesh_y - 1, tile->mesh_x1 + 1, tile->mesh_y1 + 1))
                continue;
            build_mesh_tile_texture(tile, g.texels, PAGE_TEXTURE_WIDTH, cmap_build_mode(water));
            upload_texels(tile->page_x, tile->page_y, PAGE_TEXTURE_WIDTH);
        }
    }
}

// ---- detail layers ------------------------------------------------------------------------

void set_mesh_detail_layers_override(const mesh_detail_layers *layers)
{
    render_opengl_terrain_globals.layers_override = layers;
}

static const mesh_detail_layers *gather_detail_layers(void)
{
    auto &g = render_opengl_terrain_globals;
    if (g.layers_override) return g.layers_override;
    mesh_detail_layers *layers = &g.map_layers;
    // Only where the screen preference asks for them: without it the
    // fixed-function path has no second texture coordinates bound.
    layers->active = detail_maps_active() && detail_maps_enabled();
    preallocated_texture *const *textures = hardware_format_detail_textures();
    const float(*scales)[2] = detail_texture_scales();
    for (int32_t i = 0; i < MAXIMUM_MESH_DETAIL_TEXTURES; ++i)
    {
        layers->textures[i] = textures && textures[i] ? gl_handle_to_name(textures[i]->user_data) : 0;
        layers->scales[i][0] = scales ? scales[i][0] : 0.0f;
        layers->scales[i][1] = scales ? scales[i][1] : 0.0f;
    }
    return layers;
}

static void log_missing_detail_texture(uint32_t index)
{
    if (!render_opengl_terrain_globals.missing_detail_logged)
        log_message(__FILE__, __LINE__, "OpenGL: detail texture %u has no texture; its layers are not drawn",
                    (unsigned)index);
    render_opengl_terrain_globals.missing_detail_logged = true;
}

static inline uint32_t layer_index(uint32_t detail, int32_t layer) // layer 1..3
{
    return (detail >> (9 + 7 * (layer - 1))) & 0x7F;
}
static inline uint32_t layer_weights(uint32_t detail, int32_t layer) { return (detail >> (3 * (layer - 1))) & 7; }

// ---- triangles --------------------------------------------------------------------------------

static inline const render_triangle *mesh_triangle_of(const render_surface *surface)
{
    if (!surface || surface_word_type(surface->packed) != _surface_type_triangle ||
        surface_word_subtype(surface->packed) != _surface_subtype_mesh_triangle)
        return nullptr;
    return reinterpret_cast<const render_triangle *>(surface);
}

// The triangle's corners at render_verts[first ..]: positions with w = 1,
// colour-map coordinates, white and opaque, no second coordinates.  False
// (nothing to draw) for a corner without a vertex.
static bool write_mesh_triangle(const render_triangle *triangle, int32_t first)
{
    const float scale = render_opengl_terrain_globals.texcoord_scale;
    for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
        if (!triangle->corners[c].vertex) return false;
    for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
    {
        const render_corner &corner = triangle->corners[c];
        rendervert_t &out = render_verts[first + c];
        out.position[0] = corner.vertex->p.x;
        out.position[1] = corner.vertex->p.y;
        out.position[2] = corner.vertex->p.z;
        out.position[3] = 1;
        out.texcoord[0] = (float)corner.interpolants[_texture_u] * scale;
        out.texcoord[1] = (float)corner.interpolants[_texture_v] * scale;
        out.texcoord[2] = out.texcoord[3] = 0.0f;
        memset(out.tint, 0, sizeof(out.tint));
        set_rendervert_color(&out, 0xFFFFFFFFu);
    }
    return true;
}

// Plain triangles of the chunk from the colour-map texture `cmap`.
static void draw_plain_chunk(uint32_t cmap, render_surface **surfaces, int32_t count)
{
    if (!cmap || !surfaces) return;
    set_shader_mode_opengl(_shader_mesh_0);
    bind_texture_unit_opengl(0, (int32_t)cmap);
    int32_t triangles = 0;
    for (int32_t i = 0; i < count && triangles < MESH_CHUNK_MAXIMUM_TRIANGLES; ++i)
    {
        const render_triangle *triangle = mesh_triangle_of(surfaces[i]);
        if (triangle && write_mesh_triangle(triangle, triangles * VERTICES_PER_TRIANGLE)) ++triangles;
    }
    if (triangles > 0) draw_render_verts_opengl(GL_TRIANGLES, 0, triangles * VERTICES_PER_TRIANGLE);
}

void rasterize_mesh_chunk(void *context, render_surface **surfaces, int32_t count)
{
    (void)context;
    draw_plain_chunk(volatile_cmap_texture_name_opengl(), surfaces, count);
}

// The water's surface, from the water's colour map.
static void rasterize_water_chunk(void *context, render_surface **surfaces, int32_t count)
{
    (void)context;
    draw_plain_chunk(water_cmap_texture_name_opengl(), surfaces, count);
}

void rasterize_detail_chunk(void *context, render_surface **surfaces, int32_t count)
{
    (void)context;
    const uint32_t cmap = volatile_cmap_texture_name_opengl();
    if (!cmap || !surfaces) return;
    const mesh_detail_layers *layers = gather_detail_layers();
    const render_triangle *first = nullptr;
    for (int32_t i = 0; i < count && !first; ++i) first = mesh_triangle_of(surfaces[i]);
    if (!first) return;

    // The chunk shares its textures: the first triangle says how many layers.
    int32_t n = 0;
    for (int32_t layer = 1; layer <= DETAIL_LAYERS; ++layer)
        if (layer_weights(first->detail, layer)) ++n;
    uint32_t names[DETAIL_LAYERS] = {};
    float matrix[16] = {};
    matrix[0] = matrix[1] = 1.0f;
    for (int32_t layer = 1; layer <= n; ++layer)
    {
        const uint32_t index = layer_index(first->detail, layer);
        names[layer - 1] = layers->textures[index];
        if (!names[layer - 1])
        {
            // Without one of its textures the chunk is drawn plain.
            log_missing_detail_texture(index);
            n = 0;
            break;
        }
        matrix[4 * layer + 2] = layers->scales[index][0];
        matrix[4 * layer + 3] = layers->scales[index][1];
    }
    load_texture_matrix_opengl(0, matrix);
    set_shader_mode_opengl(_shader_mesh_0 + n);
    bind_texture_unit_opengl(0, (int32_t)cmap);
    for (int32_t layer = 1; layer <= n; ++layer) bind_texture_unit_opengl(layer, (int32_t)names[layer - 1]);

    int32_t triangles = 0;
    for (int32_t i = 0; i < count && triangles < MESH_CHUNK_MAXIMUM_TRIANGLES; ++i)
    {
        const render_triangle *triangle = mesh_triangle_of(surfaces[i]);
        const int32_t at = triangles * VERTICES_PER_TRIANGLE;
        if (!triangle || !write_mesh_triangle(triangle, at)) continue;
        for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
        {
            rendervert_t &out = render_verts[at + c];
            // Each layer's coordinates come from these through the texture matrix.
            out.texcoord[2] = -(float)triangle->corners[c].vertex->mesh_vertex.x;
            out.texcoord[3] = (float)triangle->corners[c].vertex->mesh_vertex.y;
            for (int32_t layer = 1; layer <= DETAIL_LAYERS; ++layer)
                out.color[layer - 1] =
                    layer <= n && (layer_weights(triangle->detail, layer) >> c & 1) ? (uint8_t)255 : (uint8_t)0;
        }
        ++triangles;
    }
    if (triangles > 0) draw_render_verts_opengl(GL_TRIANGLES, 0, triangles * VERTICES_PER_TRIANGLE);
}

// ---- the fixed-function multipass --------------------------------------------------------------

int32_t build_multipass_triangle_keys(uint32_t detail, uint32_t triangle, uint32_t *keys)
{
    int32_t count = 0;
    if (detail & DETAIL_MAP_BLEND_FLAG) keys[count++] = multipass_key(0, triangle, 0);
    // A layer is present only when every layer before it is.
    for (int32_t layer = 1; layer <= DETAIL_LAYERS; ++layer)
    {
        const uint32_t index = layer_index(detail, layer);
        if (!index) break;
        keys[count++] = multipass_key(index, triangle, (uint32_t)layer);
    }
    return count;
}

static bool ensure_key_buffers(size_t words)
{
    auto &g = render_opengl_terrain_globals;
    if (words <= g.key_capacity) return true;
    uint32_t *keys = (uint32_t *)realloc(g.keys, words * 3 * sizeof(uint32_t));
    if (!keys)
    {
        log_message(__FILE__, __LINE__, "OpenGL: no memory for %zu terrain multipass keys; the terrain is not drawn",
                    words);
        return false;
    }
    g.keys = keys;
    g.key_capacity = words;
    return true;
}

// Draws the batch collected in render_verts: plain bases for detail index 0,
// else one detail texture's layers blended over them.
static void flush_multipass_batch(uint32_t index, uint32_t detail_texture, int32_t triangles)
{
    if (triangles <= 0) return;
    const uint32_t cmap = volatile_cmap_texture_name_opengl();
    if (index == 0)
    {
        set_render_mode_opengl(_shader_mesh_0, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
        bind_texture_unit_opengl(0, (int32_t)cmap);
    }
    else
    {
        set_render_mode_opengl(_shader_fixed_multitexture, _projection_mode_perspective, _depth_mode_full,
                               _blend_mode_alpha);
        bind_texture_unit_opengl(0, (int32_t)cmap);
        bind_texture_unit_opengl(1, (int32_t)detail_texture);
    }
    draw_render_verts_opengl(GL_TRIANGLES, 0, triangles * VERTICES_PER_TRIANGLE);
}

void rasterize_mesh_multipass_2tmu(void *context, render_surface **surfaces, int32_t count)
{
    (void)context;
    auto &g = render_opengl_terrain_globals;
    if (!volatile_cmap_texture_name_opengl() || !surfaces || count <= 0) return;
    if (count > MULTIPASS_MAXIMUM_TRIANGLES)
    {
        log_message(__FILE__, __LINE__, "OpenGL: %d terrain triangles in one multipass; the last %d are left out",
                    (int)count, (int)(count - MULTIPASS_MAXIMUM_TRIANGLES));
        count = MULTIPASS_MAXIMUM_TRIANGLES;
    }
    if (!ensure_key_buffers((size_t)count * MULTIPASS_MAXIMUM_KEYS_PER_TRIANGLE)) return;
    const mesh_detail_layers *layers = gather_detail_layers();

    uint32_t *keys = g.keys, *buffer1 = g.keys + g.key_capacity, *buffer2 = g.keys + 2 * g.key_capacity;
    int32_t key_count = 0;
    for (int32_t t = 0; t < count; ++t)
        if (const render_triangle *triangle = mesh_triangle_of(surfaces[t]))
            key_count += build_multipass_triangle_keys(triangle->detail, (uint32_t)t, keys + key_count);
    if (key_count == 0) return;
    // Ascending: the plain bases first, then the layers grouped by detail texture.
    fastradix(keys, buffer1, buffer2, key_count, 3, radix_mode_keys);

    uint32_t batch_index = 0;
    int32_t triangles = 0;
    for (int32_t k = 0; k < key_count; ++k)
    {
        const uint32_t key = keys[k];
        const uint32_t index = key >> 24, t = (key >> 8) & 0xFFFF, layer = key & 0xFF;
        if (triangles > 0 && (index != batch_index || triangles == MESH_CHUNK_MAXIMUM_TRIANGLES))
        {
            flush_multipass_batch(batch_index, layers->textures[batch_index], triangles);
            triangles = 0;
        }
        batch_index = index;
        const render_triangle *triangle = mesh_triangle_of(surfaces[t]);
        if (!triangle) continue;
        if (layer == 0)
        {
            if (!VASSERT(index == 0, "tex == 0")) continue;
        }
        else
        {
            if (!VASSERT(layer <= DETAIL_LAYERS && index == layer_index(triangle->detail, (int32_t)layer),
                         "tex == detail_index"))
                continue;
            if (!layers->textures[index])
            {
                log_missing_detail_texture(index);
                continue;
            }
        }
        const int32_t at = triangles * VERTICES_PER_TRIANGLE;
        if (!write_mesh_triangle(triangle, at)) continue;
        if (layer > 0)
        {
            const uint32_t weights = layer_weights(triangle->detail, (int32_t)layer);
            for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
            {
                rendervert_t &out = render_verts[at + c];
                out.texcoord[2] = -(float)triangle->corners[c].vertex->mesh_vertex.x * layers->scales[index][0];
                out.texcoord[3] = (float)triangle->corners[c].vertex->mesh_vertex.y * layers->scales[index][1];
                out.color[3] = (weights >> c & 1) ? 255 : 0;
            }
        }
        ++triangles;
    }
    flush_multipass_batch(batch_index, layers->textures[batch_index], triangles);
}

// ---- the categories ---------------------------------------------------------------------------------

// The category itself, or a copy over its mesh triangles alone when it holds
// surfaces of another kind (whose records the terrain's key would be read past).
static surface_category *mesh_triangles_of(surface_category *category, surface_category *copy)
{
    auto &g = render_opengl_terrain_globals;
    uint32_t others = 0;
    for (uint32_t i = 0; i < category->count; ++i)
        if (!mesh_triangle_of(category->surfaces[i])) ++others;
    if (others == 0) return category;
    if (!g.mixed_category_logged)
        log_message(__FILE__, __LINE__, "OpenGL: %u surfaces of another kind left out of the %s category",
                    (unsigned)others, category->name ? category->name : "terrain");
    g.mixed_category_logged = true;
    const size_t wanted = category->count - others;
    if (wanted == 0) return nullptr;
    if (wanted > g.mesh_surface_capacity)
    {
        render_surface **surfaces = (render_surface **)realloc(g.mesh_surfaces, wanted * sizeof(render_surface *));
        if (!surfaces)
        {
            log_message(__FILE__, __LINE__, "OpenGL: no memory to sort out the %s category; not drawn",
                        category->name ? category->name : "terrain");
            return nullptr;
        }
        g.mesh_surfaces = surfaces;
        g.mesh_surface_capacity = wanted;
    }
    size_t n = 0;
    for (uint32_t i = 0; i < category->count; ++i)
        if (mesh_triangle_of(category->surfaces[i])) g.mesh_surfaces[n++] = category->surfaces[i];
    *copy = *category;
    copy->surfaces = g.mesh_surfaces;
    copy->count = (uint32_t)n;
    copy->sorted = false;
    return copy;
}

void rasterize_mesh_category(view_data *view, int16_t category_index)
{
    if (category_index != _surface_category_media && category_index != _surface_category_mesh)
    {
        log_message(__FILE__, __LINE__, "OpenGL: category %d is not terrain", (int)category_index);
        return;
    }
    surface_category copy;
    surface_category *category = &surface_categories[category_index];
    if (category->count == 0 || !category->surfaces) return;
    if (!volatile_cmap_texture_name_opengl())
    {
        if (!render_opengl_terrain_globals.missing_cmap_logged)
            log_message(__FILE__, __LINE__, "OpenGL: no terrain colour map texture; the terrain is not drawn");
        render_opengl_terrain_globals.missing_cmap_logged = true;
        return;
    }
    category = mesh_triangles_of(category, &copy);
    if (!category) return;

    set_render_mode_opengl(_shader_mesh_0, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
    // The water's surface is shaded as a whole, as the software renderer
    // shades it, without detail layers.
    if (category_index == _surface_category_media && water_cmap_texture_name_opengl())
    {
        rasterize_surface_category(view, category, MESH_CHUNK_MAXIMUM_TRIANGLES, false, 0, rasterize_water_chunk);
        return;
    }
    const mesh_detail_layers *layers = gather_detail_layers();
    if (!layers->active)
    {
        rasterize_surface_category(view, category, MESH_CHUNK_MAXIMUM_TRIANGLES, false, 0, rasterize_mesh_chunk);
    }
    else if (!gl_prefs.UseShaders)
    {
        rasterize_surface_category(view, category, MULTIPASS_MAXIMUM_TRIANGLES, false, 0,
                                   rasterize_mesh_multipass_2tmu);
    }
    else
    {
        rasterize_surface_category(view, category, MESH_CHUNK_MAXIMUM_TRIANGLES, true, 0, rasterize_detail_chunk);
        load_texture_matrix_opengl(0, nullptr);
    }
}
