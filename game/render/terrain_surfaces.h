#pragma once
// The terrain's surfaces: level-of-detail triangles of the visible mesh.
//
// Once per frame, after the terrain maps are up to date, the visible region
// is walked in blocks of 2 x 2 cells.  Each block's level-of-detail word says
// whether it is drawn as two large triangles or as a fan of up to eight
// around its centre vertex; neighbouring blocks agree on the detail of the
// edge they share, so no cracks open between blocks of different detail.
// Every triangle carries texture coordinates into the current terrain
// texture, a media flag and (while detail maps are on) its cell's detail
// layer word.
//
// A block's triangles are built (and, with detail maps on, flattened) before
// any is added to the surface list, so the z they share also decides their
// sort key.
//
// Main thread only.

#include <cstdint>

#include "mesh_format.h"

struct view_data;
struct mesh_region;
struct mesh_cell_detail_info;

// The level-of-detail word of a 2 x 2 block whose first cell is (x, y), both
// even, is word (x/2) + (mesh_width/2) * (y/2); its bits (mesh_format.h):
// edge detail 0-3 (top, right, bottom, left; set = drawn through the edge's
// midpoint), cells rendered 4-7 (clockwise from the top-left: 0 (x, y),
// 1 (x+1, y), 2 (x+1, y+1), 3 (x, y+1)), and the media flags of the full
// fan's triangles 8-15 (8 + 2e: cell e's triangle on edge e; 9 + 2e: cell
// (e+1) mod 4's triangle on edge e).

// A vertex of a block: (i, j), each 0..2, relative to the block's first cell.
// The centre is (1, 1).
struct mesh_block_vertex
{
    int8_t i, j;
};

// Per edge: the centre, the edge's first corner A, its midpoint M and its
// second corner B.
extern const mesh_block_vertex small_edge_texture_indexes[4][4];
// Per parity: the corners L0..L3 of the two large triangles (L0, L1, L2) and
// (L2, L3, L0).
extern const mesh_block_vertex large_edge_texture_indexes[2][4];

// ((x XOR y) AND 2) / 2 of the block's first cell: parity 0 splits along
// (0,0)-(2,2), parity 1 along (2,0)-(0,2), a checkerboard of diagonals.
inline int32_t mesh_block_parity(int32_t x, int32_t y) { return ((x ^ y) & 2) >> 1; }

enum
{
    MAXIMUM_TRIANGLES_PER_MESH_BLOCK = 8,
};

// One triangle of a block's pattern.
struct mesh_block_triangle
{
    mesh_block_vertex corners[3];
    uint8_t media_bit; // the bit of the LOD word holding its media flag (8..15)
    int8_t cell;       // the cell whose detail word it takes (full fan only), else -1
    int8_t detail_half; // triangle_info index of that cell (full fan only), else -1
    int8_t edge;        // the block edge a fan triangle lies on; -1 for the two large ones
};

// The triangles of a block with level-of-detail word `word` and parity
// `parity`, in the order they are added, before any vertex is checked.  With
// `full_fan` (detail maps on) the eight fan triangles of rendered cells;
// otherwise two large triangles when every edge bit is clear, else per edge
// one triangle (edge bit clear) or the two halves of its rendered cells
// (edge bit set).  Returns the count (0..8).
int32_t mesh_block_triangle_pattern(uint16_t word, int32_t parity, bool full_fan,
                                    mesh_block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK]);

// What build_mesh_surface_list reads of the map, gathered so tests can give
// their own: the LOD words (rows of words_per_row), and the detail layer
// words (null when detail maps are off; detail_width cells per row, covering
// the mesh, which the detail map's loader checks).
struct mesh_surface_source
{
    const uint16_t *LOD_words;
    int32_t words_per_row;
    int32_t word_rows; // mesh_height / 2
    const mesh_cell_detail_info *detail;
    int32_t detail_width;
};

// Adds the visible terrain's triangles to view->main_surface_list, block by
// block (block rows from the region's even-rounded first row, spans of a
// block's two rows united), each triangle from the render pool.  Texture
// coordinates follow global_maps_mode and the view's rasterizer code (tile
// page and offsets; region-relative cells; or 8192-step fractions of a chunk
// texture).  A triangle with a null or discarded vertex is skipped without
// taking pool memory.  Without a map nothing is drawn; a mesh without
// level-of-detail data asserts "header->mesh_LOD_data" and draws no terrain.
void build_mesh_surface_list(view_data *view, mesh_region *region);
// Whether the terrain of the region's frame covers the cell (it is drawn in
// blocks of 2 x 2 cells, which may reach past the region's own last cell or
// stop short of it; the mesh's last column and row, which have no far
// corners, are never drawn): what lies in front of a cell it leaves out is
// seen against nothing.
bool terrain_draws_cell(const mesh_region *region, int32_t cell_x, int32_t cell_y);

// The same, reading the map from `source` instead of the loaded mesh.
void build_mesh_surface_list_from(view_data *view, mesh_region *region, const mesh_surface_source *source);
