#pragma once
// The visible part of the terrain, decided once per frame before anything is
// drawn: the view's frustum is projected onto the ground, the convex hull of
// the projected corners is walked into one span of cells per row, one render
// vertex is made and projected per cell of those spans, the spans are
// narrowed to the cells that land on the screen and widened again by two
// cells, and the terrain texturing gets the list of tiles or 8 x 8-cell chunks
// it must prepare.  The region lives in the render memory pool until the next
// frame resets it; every surface builder reads it to skip what lies outside.
//
// Main thread only.

#include <cstdint>

#include "world.h"

// A cell's tile: cell / 14 for every cell coordinate of a map (exact far
// beyond 1024).
inline int32_t cell_to_tile(int32_t cell) { return (int32_t)(((int64_t)cell * 4682) >> 16); }

struct view_data;
struct render_vertex;
struct mesh_tile;

enum
{
    MAXIMUM_MESH_REGION_WIDTH = 64, // cells, volatile maps mode
    TILES_MAXIMUM_MESH_REGION_WIDTH = 256, // cells, tiles mode
    MAXIMUM_VIEW_CELLS = 360,
    MAXIMUM_VIEW_DISTANCE = MAXIMUM_VIEW_CELLS * WORLD_ONE, // 184320 world units
    MAXIMUM_PROJECTED_VIEW_PYRAMID_VERTICES = 20,
    NUMBER_OF_PROJECTED_POINTS = 5, // the viewer and the four frustum corners

    MESH_REGION_SPAN_ROWS = TILES_MAXIMUM_MESH_REGION_WIDTH,
    MESH_REGION_POLYGON_CORNERS = 4, // the frustum's footprint: one per window corner
    MESH_REGION_CORNER_SQUARE_HALF_SIZE = 3 * WORLD_ONE, // around each projected point
    MESH_REGION_CHUNK_SIZE = 8, // cells per side of a volatile-mode chunk
    MESH_REGION_CHUNKS_PER_ROW = MAXIMUM_MESH_REGION_WIDTH / MESH_REGION_CHUNK_SIZE,
    MAXIMUM_MESH_REGION_CHUNKS = MESH_REGION_CHUNKS_PER_ROW * MESH_REGION_CHUNKS_PER_ROW,
};

// How the terrain is textured, which sets the region's size limits and which
// coverage list it fills.  Volatile maps unless the tile cache was set up for
// the map; the tile cache sets it when it does and puts it back when the map
// ends.
enum maps_mode
{
    _maps_mode_tiles = 0,
    _maps_mode_volatile = 1,
};
extern int16_t global_maps_mode;

// ---- spans ------------------------------------------------------------------------
// A row's span holds the cells x0..x1, BOTH ends included; an empty row has
// x0 = 32767 and x1 = -32768.  Some readers of the region take the right end
// as excluded ([x0, x1)) or skip rows whose span is a single cell; each
// reading has its own helper below so that the difference stays visible at
// the call.

struct mesh_span
{
    int16_t x0, x1;
};

enum
{
    EMPTY_SPAN_X0 = 32767,
    EMPTY_SPAN_X1 = -32768,
};

inline void empty_mesh_span(mesh_span *span)
{
    span->x0 = EMPTY_SPAN_X0;
    span->x1 = EMPTY_SPAN_X1;
}
inline bool mesh_span_is_empty(const mesh_span *span) { return span->x0 > span->x1; }

// The span's own reading: x0 <= x <= x1.
inline bool cell_in_span_inclusive(const mesh_span *span, int32_t x) { return x >= span->x0 && x <= span->x1; }
inline int32_t span_cell_count_inclusive(const mesh_span *span)
{
    return span->x0 > span->x1 ? 0 : (int32_t)span->x1 - span->x0 + 1;
}

// The right-exclusive reading some builders use: x0 <= x < x1.  A span of
// one cell holds nothing this way.
inline bool cell_in_span_right_exclusive(const mesh_span *span, int32_t x) { return x >= span->x0 && x < span->x1; }
inline int32_t span_cell_count_right_exclusive(const mesh_span *span)
{
    return span->x0 >= span->x1 ? 0 : (int32_t)span->x1 - span->x0;
}
// Rows read the right-exclusive way, and the region's own averages and
// coverage, take only spans with x0 < x1 (strictly).
inline bool span_is_wider_than_one_cell(const mesh_span *span) { return span->x0 < span->x1; }

// ---- the region -----------------------------------------------------------------

struct mesh_region
{
    int16_t original_x0, original_y0; // cell origin of the region rectangle (even)
    int16_t original_width, original_height; // cells, at most 64 (volatile) or 256 (tiles)
    int16_t max_span_x, max_span_y; // original + size - 2: the last cells a span may reach
    int16_t y0, y1; // first and last visible row
    int16_t x0, x1; // smallest and largest column the hull's edges reached
    int16_t tile_y0, tile_y1, tile_x0, tile_x1; // tiles mode: tile bounds of the visible rows

    mesh_span *spans; // spans[y - y0] for rows y0..y1 (see above)
    // original_width x original_height pointers, row-major from
    // (original_x0, original_y0); null where no vertex was made.
    render_vertex **vertices;

    world_point2d central_ray[2]; // the viewer, and where the central sight line meets the ground

    int32_t frustum_corner_count;
    world_point2d frustum_corners[MAXIMUM_PROJECTED_VIEW_PYRAMID_VERTICES]; // hull, in cells
    int32_t polygon_corner_count; // 0 when no cell was visible
    world_point2d *polygon_corners; // footprint on the plane of the average height, world units

    int32_t volatile_chunk_coverage_list_size;
    uint8_t *volatile_chunk_coverage_list; // chunk row x 8 + column, relative to (x0, y0)
    int32_t tile_coverage_list_size;
    uint16_t *tile_coverage_list; // tile x + tile y x mesh_tile_width
    int32_t dirty_tile_list_size;
    mesh_tile **dirty_tile_list; // filled by the tile cache
    int16_t tile_width, tile_height; // size of tile_coverage_array
    uint8_t *tile_coverage_array; // one flag per tile of tile_x0..tile_x1 x tile_y0..tile_y1
};

// The span of row y, or null for a row outside y0..y1.
const mesh_span *get_mesh_region_span(const mesh_region *region, int32_t y);

// The render vertex made for cell (x, y), or null when none was made or the
// cell lies outside the region rectangle.
render_vertex *get_mesh_region_vertex(const mesh_region *region, int32_t x, int32_t y);

// The bits the renderer reads for a cell's water: `flag` (the vertex on the
// media surface, its ripple, or the mirror) as the map sets it; on a map that
// sets none of them anywhere (the data tool leaves them to the renderer), set
// by default for a cell whose two triangles are both under the media.  The
// simulation never reads these bits.
struct mesh_cell;
bool mesh_cell_media_bit(const mesh_cell *cell, uint16_t flag);
// Called when a map's media coverage is set up or disposed.
void forget_mesh_water_bits(void);

// The animated media's wobble of a point on the media surface of cell (x, y)
// at `tick_count`: each axis whose magnitude is not 0 moves by
// sine(multiplier x t + 32) x magnitude, t = x x 377 + y x 211 + tick_count
// (only the low 16 bits of the phase count).
struct media_definition;
void wobble_media_vertex(const media_definition *media, int32_t x, int32_t y, int32_t tick_count,
                         world_point3d *point);

// ---- building -------------------------------------------------------------------

// Builds this frame's region for `view` (derived by update_view_data) in the
// render memory pool, resetting the pool first (new_render_scene): every
// pool allocation made before the call is gone.  Null only when the pool
// cannot hold the region and its fatal exit was replaced (tests).  A view that
// sees no cell of the map (a camera far off it, a degenerate field of view)
// gives a region with no rows: y0 = y1 = x0 = x1 = 0 and every span empty.
mesh_region *build_mesh_region(const view_data *view);

// Called with the region and a point (world units) for each projected point.
typedef void (*mesh_region_corner_procedure)(mesh_region *region, int32_t x, int32_t y);

// Projects the viewer's position (when `include_viewer`) and then the view
// window's corners (left, top), (right, top), (left, bottom), (right, bottom)
// onto the plane z = plane_height and hands each point to `corner`.  A ray
// that does not meet the plane within MAXIMUM_VIEW_DISTANCE ends there.  A
// corner that cannot be computed (a non-finite window) lies under the viewer;
// every point is kept within 2^26 world units of the origin.
void project_frustum_onto_plane(const view_data *view, int16_t plane_height, mesh_region_corner_procedure corner,
                                mesh_region *region, bool include_viewer);

// Appends the four corners of the square of half-size 1536 around (x, y) to
// the frustum corners: (x-1536, y-1536), (x+1536, y-1536), (x+1536, y+1536),
// (x-1536, y+1536).  A full list (20 corners) is asserted and left as it is.
void add_corner_to_region(mesh_region *region, int32_t x, int32_t y);

// Appends (x, y) to the polygon corners (room for 4; more is asserted and
// ignored).
void add_polygon_corner_to_region(mesh_region *region, int32_t x, int32_t y);

// Graham scan: reorders `points` in place (a permutation) so that the first n (the result)
// are the convex hull's corners, starting at the lowest point (smallest y,
// then smallest x) and going on in order of decreasing polar angle about it
// (clockwise with y up).  Collinear and repeated points are dropped.  0 for
// fewer than 3 points or when all lie on one line.  Products are 64-bit:
// coordinates must lie within +/-2^28.
int32_t convex_hull(world_point2d *points, int32_t count);

// The edge walk's cell procedure (a dda_callback on a region being built,
// whose spans are still indexed from original_y0): grows row y's span and
// the region's x0, x1, y0, y1 to include cell x, the column clamped to the
// region rectangle; cells in the map's last row or beyond and rows outside
// the rectangle are ignored.  Always 0.
int32_t extend_spans(void *region, int32_t x, int32_t y);
