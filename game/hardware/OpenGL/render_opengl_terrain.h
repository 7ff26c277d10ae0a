#pragma once
// The terrain through OpenGL: the colour-map texture the scene renderer
// fills with lit, shadowed terrain colours (a page of 128 x 128 tiles, or an
// 8 x 8 grid of 64 x 64 chunks in the global maps mode), brought up to date
// only where the renderer reports changes, and the media and mesh categories
// drawn from it with their detail layers (shaders, or the fixed-function
// two-unit multipass).
//
// Main thread only; called by the scene draw between a map's start and end.

#include <cstdint>

struct mesh_region;
struct preallocated_texture;
struct render_surface;
struct view_data;

enum
{
    VOLATILE_CMAP_TEXTURE_WIDTH = 512, // global maps mode: 8 x 8 chunks of 64 x 64
    TILED_CMAP_TEXTURE_WIDTH = 2048, // tiles: 16 x 16 pages of 128 x 128
    MESH_CHUNK_MAXIMUM_TRIANGLES = 8192, // what the vertex array holds
    // The multipass keys hold a triangle's number in 16 bits, so a category
    // is drawn in slices of at most this many triangles.
    MULTIPASS_MAXIMUM_TRIANGLES = 65536,
    MULTIPASS_MAXIMUM_KEYS_PER_TRIANGLE = 4, // the plain base and three layers
    MAXIMUM_MESH_DETAIL_TEXTURES = 128,
};

// Chooses the colour map's format, size and texture coordinate scale and
// makes its texture (map start, after the tile cache and the shading tables).
void initialize_volatile_cmap_texture_opengl(void);
// Forgets the colour map's texture (map end, before the texture cache goes).
void dispose_volatile_cmap_texture_opengl(void);

// Global maps mode: rebuilds and uploads the chunks the region lists (every
// listed chunk rebuilt in place and the whole texture uploaded again, even
// for an empty list, when UpdateCMapChunked is off); clears the renderer's
// volatile_maps_changed.  Chunk numbers past 63 are skipped with a log line.
void update_volatile_cmap_texture_opengl(mesh_region *region);
// Normal maps mode: rebuilds and uploads the region's dirty tiles at their
// pages; a tile without a page inside the texture is skipped.
void update_tile_texture_opengl(mesh_region *region);

// Draws the media (0) or mesh (1) surface category of the current frame in
// the perspective projection (set up by the scene draw); the media's from the
// water's colour map when there is one.  Surfaces of another
// kind in the category are left out, and without a colour-map texture nothing
// is drawn (each logged once per map).
void rasterize_mesh_category(view_data *view, int16_t category);

// ---- what the drawing reads (exposed for the scene draw and the tests) ----------

// The colour map's texture while a map is started (its `user_data` null when
// the upload failed), else null.
const preallocated_texture *volatile_cmap_texture_opengl(void);
// The colour-map mode (cmap_texture_mode), the GL type of its uploads, its
// texture encoding and its width (512 or 2048; 0 before a map starts).
int32_t volatile_cmap_texture_mode(void);
uint32_t volatile_cmap_texture_gl_type(void);
int32_t volatile_cmap_texture_encoding(void);
int32_t volatile_cmap_texture_width(void);
// Factor from a triangle's texture interpolants to colour-map coordinates:
// 1/256 with tiles, 1/64 in the global maps mode.
float mesh_texcoord_scale(void);
// The colour map's GL texture name; 0 when there is none.
uint32_t volatile_cmap_texture_name_opengl(void);
// The water's colour map (the same layout, its texels shaded through the
// media's tables, kept up to date where the terrain has water): its GL name,
// 0 when the map's media has no tint or the texture could not be had.  The
// water's surface is drawn from it without detail layers.
uint32_t water_cmap_texture_name_opengl(void);

// The detail layers the terrain draws with: the map's detail maps (active
// when loaded and the screen preference enables them) unless a test puts its
// own in place.  Texture names are GL names (0: none).
struct mesh_detail_layers
{
    bool active;
    uint32_t textures[MAXIMUM_MESH_DETAIL_TEXTURES];
    float scales[MAXIMUM_MESH_DETAIL_TEXTURES][2]; // u, v
};
// Null puts the map's detail maps back.  The record must outlive its use.
void set_mesh_detail_layers_override(const mesh_detail_layers *layers);

// ---- the multipass keys ------------------------------------------------------------

// index << 24 | triangle << 8 | layer.
inline uint32_t multipass_key(uint32_t detail_index, uint32_t triangle, uint32_t layer)
{
    return detail_index << 24 | (triangle & 0xFFFF) << 8 | layer;
}

// The keys of triangle number `triangle` (below 65536) whose detail word is
// `detail`, written to `keys` (room for 4): a plain base key when bit 30 is
// set, then layer 1's key when its index is not 0, and only then layer 2's,
// and only then layer 3's.  Returns how many.  Pure.
int32_t build_multipass_triangle_keys(uint32_t detail, uint32_t triangle, uint32_t *keys);

// ---- the chunk procedures (for rasterize_surface_category) --------------------------

// Plain triangles from the colour map (_shader_mesh_0).
void rasterize_mesh_chunk(void *context, render_surface **surfaces, int32_t count);
// Triangles sharing their detail textures, the layers blended by the shader.
void rasterize_detail_chunk(void *context, render_surface **surfaces, int32_t count);
// Fixed function: the plain bases, then each detail texture's layers blended
// over them in batches; at most 65536 triangles (more are left out, logged).
void rasterize_mesh_multipass_2tmu(void *context, render_surface **surfaces, int32_t count);
