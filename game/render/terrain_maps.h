#pragma once
// The terrain's colour and shadow maps: the volatile maps and the tile cache.
//
// The terrain is textured from two 8-bit maps per 32 x 32-cell submesh of the
// landscape collection: a colour map (bitmap 2s, palette indexes) and a
// shadow map (bitmap 2s + 1, light 0 dark .. 255 full), each 256 x 256 texels
// of one byte, 8 x 8 texels per cell.  Before the terrain surfaces are built
// each frame, one of two forms of texture is brought up to date:
//
// - volatile maps (the software rasterizer's): the texels of the visible
//   region copied into one 512 x 512 colour map and one 512 x 512 shadow map
//   (64 x 64 cells; cell (x, y) starts at byte ((y - volatile_y0) * 512 +
//   (x - volatile_x0)) * 8), with the frame's shadow and light overlays
//   stamped into the shadow map; the hardware back end converts 64 x 64-texel
//   chunks of them (build_volatile_chunk_texture);
// - tiles (the hardware back end's tile cache): the mesh cut into tiles of
//   14 x 14 cells, each visible tile owning one 128 x 128-texel page (its
//   cells and a one-cell border) of a 2048 x 2048 atlas, rebuilt only when it
//   is newly placed in a page (build_mesh_tile_texture).
//
// Any cell outside the mesh reads as missing, and a missing map as zero
// texels: the border ring of an edge tile is black, never a neighbouring
// submesh row.
//
// Main thread only.

#include <cstdint>

#include "render/mesh_region.h"
#include "shading_tables.h" // SHADING_TABLES16, SHADING_TABLES32

struct view_data;
struct render_map_overlay;

enum
{
    SUBMESH_CELL_WIDTH = 32, // cells per submesh side
    SUBMESH_MAP_WIDTH = 256, // texels per submesh map row (and rows)
    CELL_TEXTURE_WIDTH = 8, // texels per cell side
    VOLATILE_TEXTURE_WIDTH = 512, // bytes per volatile map row
    VOLATILE_MAP_CELL_WIDTH = VOLATILE_TEXTURE_WIDTH / CELL_TEXTURE_WIDTH, // 64
    VOLATILE_CHUNK_TEXTURE_WIDTH = 64,

    MESH_TILE_CELL_WIDTH = 14,
    PAGE_COUNT = 256,
    PAGE_X_COUNT = 16, // pages per atlas row
    PAGE_TEXTURE_WIDTH = 128, // texels per page side: 14 cells and a one-cell border
    ATLAS_TEXTURE_WIDTH = PAGE_X_COUNT * PAGE_TEXTURE_WIDTH, // 2048
};

// mesh_tile.page besides a page number.
enum
{
    MESH_TILE_NO_PAGE = -1, // 0xFFFF: no page
    MESH_TILE_NO_FREE_PAGE = -2, // 0xFFFE: no page was free this frame
};

// How colour and shadow texels become texture texels (c colour, s shadow):
//   16-bit:           shade16[((s >> 2) << 8) | c]
//   32-bit:           shade32[(s << 8) | c]
//   32-bit unblended: (s << 24) | shade32_unblended[c] (the shadow becomes alpha)
// With _cmap_texture_media_flag added to a mode the same texels are the
// water's: their colours mixed toward the media's tint before they are lit,
// as the software rasterizer shades the water's surface (media_shade16, ...).
enum cmap_texture_mode
{
    _cmap_texture_mode_16bit = 0,
    _cmap_texture_mode_32bit = 1,
    _cmap_texture_mode_32bit_unblended = 2,
    _cmap_texture_media_flag = 0x10,
};

struct mesh_tile
{
    int16_t u_off, v_off; // added to a cell's x (y) to give its u (v) in atlas cells
    uint16_t x, y; // texel position of the tile's first cell in the mesh (cell * 8)
    uint16_t page_x, page_y; // texel position of the tile's page in the atlas
    uint16_t mesh_x, mesh_y; // first cell
    uint16_t mesh_x1, mesh_y1; // last cell (clipped to the mesh)
    int16_t page; // atlas page, MESH_TILE_NO_PAGE or MESH_TILE_NO_FREE_PAGE
    // Overlays touching the tile this frame (filed by the object overlays).
    render_map_overlay *light_map_overlays, *shadow_map_overlays;
};

struct page_info
{
    int16_t x, y; // texel position of the page in the atlas
    int16_t tile; // the tile owning the page
    uint8_t mark; // the page was kept this frame
};

struct terrain_maps_globals_data
{
    // Tiles (tiles mode only).
    mesh_tile *mesh_tiles;
    int32_t tile_count;
    page_info pages[PAGE_COUNT];

    // The volatile maps: the mesh cell stored at texel (0, 0), set whenever
    // they are redrawn (the hardware back end clears it after uploading).
    int16_t volatile_x0, volatile_y0;
    bool volatile_maps_changed;
    // The landscape collection's shading and blend tables, through which the
    // software rasterizer shades the volatile maps (set with the map's media
    // coverage, cleared at its disposal).
    const void *volatile_color_map_shading_table;
    const uint8_t *volatile_color_map_blend_table;

    // What the volatile maps hold: the local tick and the region copied last.
    bool volatile_maps_valid, tick_count_valid, missing_tables_logged;
    int32_t last_tick_count;
    int16_t copied_x0, copied_y0, copied_y1;
    mesh_span copied_spans[MESH_REGION_SPAN_ROWS];

    // The colour-map shading tables (per map, the hardware back end's).
    uint16_t *shade16; // SHADING_TABLES16 x 256
    uint32_t *shade32; // SHADING_TABLES32 x 256
    uint32_t shade32_unblended[256];
    // The same for the water's surface; null when the map's media has no tint.
    uint16_t *media_shade16;
    uint32_t *media_shade32;
    uint32_t media_shade32_unblended[256];
};
extern terrain_maps_globals_data terrain_maps_globals;

// ---- the tile cache ---------------------------------------------------------------

// Allocates mesh_tile_width x mesh_tile_height zeroed tiles (failure: fatal
// out of memory, "couldn't allocate #%d bytes for mesh tiles"), lays out each
// tile's cells, zeroes the pages and, when `flag` is 0, gives each page its
// atlas position; sets global_maps_mode to tiles.
void initialize_tile_cache_for_new_map(int32_t flag);
// Frees the tiles and puts global_maps_mode back to volatile.
void dispose_tile_cache_from_old_map(void);

// The tile entry i of the region's coverage list names, or null when it is
// past the tile array.
mesh_tile *covered_tile(const mesh_region *region, int32_t i);

// Empties both overlay lists of every tile of the region's tile coverage.
void prepare_tile_cache(mesh_region *region);

// Gives every covered tile a page: with `flush` every tile first loses its
// page; a covered tile whose page still names it keeps it; every other
// covered tile takes the first free page in ascending order (none left:
// MESH_TILE_NO_FREE_PAGE) and joins the region's dirty tile list (taken from
// the render pool).
void cache_tiles_for_region(mesh_region *region, bool flush);

// Writes the 128 x 128 texels of `tile`'s page (its cells with a one-cell
// border; cells off the mesh are zero texels), overlays included, through the
// conversion of `texture_mode` into `destination` (uint16_t texels for the
// 16-bit mode, uint32_t otherwise; `destination_stride` texels per row).  An
// unknown mode logs "halt" and writes nothing.
void build_mesh_tile_texture(const mesh_tile *tile, void *destination, int32_t destination_stride,
                             int32_t texture_mode);

// ---- the volatile maps ----------------------------------------------------------------

// Brings the terrain texture up to date for the frame of `view` (its region
// built): in tiles mode pages are assigned (flushed on a new local tick); in
// volatile mode the maps are redrawn from the region's spans with the view's
// overlays when the tick changed, the view moved, or the region's origin,
// rows or spans differ from those last copied; otherwise they are untouched.
void update_maps(view_data *view);

// Forgets what the volatile maps hold, so the next update_maps redraws them
// (a new map's coverage set-up calls it).
void invalidate_volatile_maps(void);

// Converts the 64 x 64 texels of the volatile maps at (source_x, source_y)
// through the conversion of `texture_mode` into `destination` at
// (destination_x, destination_y), `destination_width` texels per row (texel
// type as for build_mesh_tile_texture).  An unknown mode logs "halt" and
// writes nothing, as does a block outside the maps.
void build_volatile_chunk_texture(void *destination, int32_t destination_x, int32_t destination_y,
                                  int32_t destination_width, int32_t source_x, int32_t source_y,
                                  int32_t texture_mode);

// ---- colour-map shading tables --------------------------------------------------------------

// Builds shade16, shade32 and shade32_unblended from colour table 0 of the
// mesh's landscape collection and the header's lighting (failure to allocate:
// fatal, "couldn't allocate #%d bytes for the colormap shading table").
// Without a landscape colour table the tables are zero.  When the map's media
// has a surface tint the media tables are built too, from the colours mixed
// toward the tint.
void initialize_cmap_shading_tables_for_new_map(void);
void dispose_cmap_shading_tables_from_old_map(void);

// The texel of colour c and shadow s in the 16-bit and 32-bit modes (the
// tables must exist; the unblended mode needs none).
inline uint16_t cmap_texel16(uint8_t c, uint8_t s)
{
    return terrain_maps_globals.shade16[((uint32_t)(s >> 2) << 8) | c];
}
inline uint32_t cmap_texel32(int32_t texture_mode, uint8_t c, uint8_t s)
{
    return texture_mode == _cmap_texture_mode_32bit ? terrain_maps_globals.shade32[((uint32_t)s << 8) | c]
                                                    : ((uint32_t)s << 24) | terrain_maps_globals.shade32_unblended[c];
}

// Forgets everything (frees the tiles and tables; volatile mode) (tests).
void reset_terrain_maps_for_tests(void);
