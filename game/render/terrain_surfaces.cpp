// The terrain's surfaces: level-of-detail triangles of the visible mesh.
#include "render/terrain_surfaces.h"

#include <algorithm>
#include <cstring>

#include "cseries/log.h"
#include "detail_maps.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "screen.h"

const mesh_block_vertex small_edge_texture_indexes[4][4] = {
    {{1, 1}, {2, 0}, {1, 0}, {0, 0}},
    {{1, 1}, {2, 2}, {2, 1}, {2, 0}},
    {{1, 1}, {0, 2}, {1, 2}, {2, 2}},
    {{1, 1}, {0, 0}, {0, 1}, {0, 2}},
};

const mesh_block_vertex large_edge_texture_indexes[2][4] = {
    {{2, 2}, {2, 0}, {0, 0}, {0, 2}},
    {{2, 0}, {0, 0}, {0, 2}, {2, 2}},
};

// The first cell of each of a block's four cells, clockwise from the top-left.
static const mesh_block_vertex block_cell_offsets[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

static mesh_block_triangle make_pattern_triangle(mesh_block_vertex a, mesh_block_vertex b, mesh_block_vertex c,
                                                 int32_t media_bit, int32_t cell, int32_t detail_half, int32_t edge)
{
    mesh_block_triangle triangle;
    triangle.corners[0] = a;
    triangle.corners[1] = b;
    triangle.corners[2] = c;
    triangle.media_bit = (uint8_t)media_bit;
    triangle.cell = (int8_t)cell;
    triangle.detail_half = (int8_t)detail_half;
    triangle.edge = (int8_t)edge;
    return triangle;
}

int32_t mesh_block_triangle_pattern(uint16_t word, int32_t parity, bool full_fan,
                                    mesh_block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK])
{
    int32_t count = 0;
    const uint32_t edge_bits = word & _cell_edge_detail_flags;
    if (!full_fan && edge_bits == 0)
    {
        // The coarse form: the cell-rendered bits are not consulted.
        const mesh_block_vertex *l = large_edge_texture_indexes[parity & 1];
        triangles[count++] = make_pattern_triangle(l[0], l[1], l[2], _cell_triangle_media_first_bit, -1, -1, -1);
        triangles[count++] = make_pattern_triangle(l[2], l[3], l[0], _cell_triangle_media_first_bit, -1, -1, -1);
        return count;
    }
    for (int32_t e = 0; e < 4; ++e)
    {
        const mesh_block_vertex *t = small_edge_texture_indexes[e];
        const int32_t next_cell = (e + 1) & 3;
        if (full_fan || (edge_bits & (1u << e)))
        {
            if (word & (1u << (_cell_rendered_first_bit + next_cell)))
                triangles[count++] = make_pattern_triangle(t[0], t[1], t[2], _cell_triangle_media_first_bit + 2 * e + 1,
                                                           full_fan ? next_cell : -1, full_fan ? 0 : -1, e);
            if (word & (1u << (_cell_rendered_first_bit + e)))
                triangles[count++] = make_pattern_triangle(t[0], t[2], t[3], _cell_triangle_media_first_bit + 2 * e,
                                                           full_fan ? e : -1, full_fan ? 1 : -1, e);
        }
        else
            triangles[count++] = make_pattern_triangle(t[0], t[1], t[3], _cell_triangle_media_first_bit + 2 * e, -1, -1, e);
    }
    return count;
}

// ---- building a block ---------------------------------------------------------------

namespace
{
struct block_texture
{
    int32_t u, v;  // of vertex (0, 0)
    int32_t step;  // per vertex step in i or j
    int32_t page;
};

struct block_triangle
{
    render_triangle triangle;
    bool emitted;
    int8_t edge;
};
} // namespace

static bool vertex_usable(const render_vertex *vertex)
{
    return vertex && !(vertex->flags & _vertex_discarded_flag);
}

static void average_vertex(render_vertex *target, const render_vertex *a, const render_vertex *b)
{
    if (!target || !a || !b) return;
    target->p.x = (a->p.x + b->p.x) / 2;
    target->p.y = (a->p.y + b->p.y) / 2;
    target->p.z = (a->p.z + b->p.z) / 2;
}

// Moves the detailed fan of a block onto the coarse form its neighbours see,
// and gives the triangles that replace one coarse triangle one z.
static void flatten_full_fan(uint16_t word, int32_t parity, render_vertex *v[3][3], block_triangle *triangles,
                             int32_t count)
{
    const uint32_t edge_bits = word & _cell_edge_detail_flags;
    if (edge_bits == 0)
    {
        for (int32_t e = 0; e < 4; ++e)
        {
            const mesh_block_vertex *t = small_edge_texture_indexes[e];
            average_vertex(v[t[2].i][t[2].j], v[t[1].i][t[1].j], v[t[3].i][t[3].j]);
        }
        if (parity == 0)
            average_vertex(v[1][1], v[0][0], v[2][2]);
        else
            average_vertex(v[1][1], v[2][0], v[0][2]);

        // Parity 0 splits along (0,0)-(2,2): the top and right edges form one
        // half; parity 1 splits along (2,0)-(0,2): the top and left edges.
        int32_t half_z[2] = {32767, 32767};
        auto half_of = [parity](int32_t edge) {
            return parity == 0 ? (edge == 0 || edge == 1 ? 0 : 1) : (edge == 0 || edge == 3 ? 0 : 1);
        };
        for (int32_t k = 0; k < count; ++k)
            if (triangles[k].emitted)
            {
                int32_t &z = half_z[half_of(triangles[k].edge)];
                z = std::min(z, triangles[k].triangle.header.z);
            }
        for (int32_t k = 0; k < count; ++k)
            if (triangles[k].emitted) triangles[k].triangle.header.z = half_z[half_of(triangles[k].edge)];
        return;
    }
    for (int32_t e = 0; e < 4; ++e)
    {
        if (edge_bits & (1u << e)) continue;
        const mesh_block_vertex *t = small_edge_texture_indexes[e];
        average_vertex(v[t[2].i][t[2].j], v[t[1].i][t[1].j], v[t[3].i][t[3].j]);
        block_triangle *pair[2] = {nullptr, nullptr};
        int32_t found = 0;
        for (int32_t k = 0; k < count && found < 2; ++k)
            if (triangles[k].edge == e) pair[found++] = &triangles[k];
        if (found == 2 && pair[0]->emitted && pair[1]->emitted)
        {
            const int32_t z = std::min(pair[0]->triangle.header.z, pair[1]->triangle.header.z);
            pair[0]->triangle.header.z = z;
            pair[1]->triangle.header.z = z;
        }
    }
}

static void build_block(view_data *view, const mesh_surface_source *source, int32_t x, int32_t y, uint16_t word,
                        render_vertex *v[3][3], const block_texture &texture)
{
    const bool full_fan = source->detail != nullptr;
    const int32_t parity = mesh_block_parity(x, y);
    mesh_block_triangle pattern[MAXIMUM_TRIANGLES_PER_MESH_BLOCK];
    const int32_t count = mesh_block_triangle_pattern(word, parity, full_fan, pattern);

    uint32_t base_flags = (view->flags & _render_view_filtering_flag) ? _surface_filtered_flag : 0;
    block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK];
    for (int32_t k = 0; k < count; ++k)
    {
        const mesh_block_triangle &p = pattern[k];
        block_triangle &out = triangles[k];
        out.edge = p.edge;
        out.emitted = true;
        int32_t z = INT32_MAX;
        for (int32_t c = 0; c < 3; ++c)
        {
            render_vertex *vertex = v[p.corners[c].i][p.corners[c].j];
            if (!vertex_usable(vertex))
            {
                out.emitted = false;
                break;
            }
            z = std::min(z, vertex->p.z);
            render_corner &corner = out.triangle.corners[c];
            corner.vertex = vertex;
            // u and v are 16-bit: chunk fractions wrap by design.
            corner.interpolants[_texture_u] = (int16_t)(uint16_t)(texture.u + texture.step * p.corners[c].i);
            corner.interpolants[_texture_v] = (int16_t)(uint16_t)(texture.v + texture.step * p.corners[c].j);
        }
        if (!out.emitted) continue;
        render_surface &header = out.triangle.header;
        header.previous_surface = header.next_surface = nullptr;
        header.precise_z = 0;
        header.obj_view_y = 0;
        header.z = z - 128;
        header.transparency = 0;
        const uint32_t flags = base_flags | ((word >> p.media_bit) & 1 ? _surface_media_flag : 0);
        header.packed = pack_surface_word(flags, _surface_type_triangle, _surface_subtype_mesh_triangle);
        out.triangle.bitmap_identifier = make_bitmap_identifier(0, texture.page, 0, 0);
        out.triangle.detail = 0;
        if (full_fan && p.cell >= 0)
        {
            const mesh_block_vertex cell = block_cell_offsets[p.cell];
            const int32_t index = (x + cell.i) + source->detail_width * (y + cell.j);
            out.triangle.detail = source->detail[index].triangle_info[p.detail_half];
        }
    }
    if (full_fan) flatten_full_fan(word, parity, v, triangles, count);

    for (int32_t k = 0; k < count; ++k)
    {
        if (!triangles[k].emitted) continue;
        render_triangle *triangle = render_new<render_triangle>();
        if (!triangle) return; // the pool's fatal exit was replaced (tests)
        std::memcpy(triangle, &triangles[k].triangle, sizeof(render_triangle));
        add_surface_to_surface_list(view, &triangle->header);
    }
}

static block_texture block_texture_for(const view_data *view, const mesh_region *region, int32_t x, int32_t y)
{
    block_texture texture = {0, 0, 1, 0};
    if (global_maps_mode == _maps_mode_tiles)
    {
        // x / 14 without a division; exact below 4096.
        const int32_t tile_x = (x * 4682) >> 16, tile_y = (y * 4682) >> 16;
        const int32_t tile_index = tile_x + mesh_tile_width * tile_y;
        const mesh_tile *tile = terrain_maps_globals.mesh_tiles;
        if (tile && tile_x < mesh_tile_width && tile_y < mesh_tile_height && tile_index < terrain_maps_globals.tile_count)
        {
            tile += tile_index;
            texture.u = x + tile->u_off;
            texture.v = y + tile->v_off;
            texture.page = tile->page & 0x3FFF;
        }
    }
    else if (view->rasterizer_code == 0 || view->rasterizer_code == 4 || view->rasterizer_code == 5)
    {
        texture.u = x - region->x0;
        texture.v = y - region->y0;
    }
    else
    {
        texture.u = 8192 * ((x % 6) + 1);
        texture.v = 8192 * ((y % 6) + 1);
        texture.step = 8192;
        texture.page = ((y / 6) << 8) | (x / 6);
    }
    return texture;
}

// ---- walking the region -------------------------------------------------------------

// The terrain is drawn in blocks of 2 x 2 cells: the block rows from the one
// holding the region's first row, each over the blocks that hold its two
// rows' spans, up to this row (an even last row is left out).
static int32_t block_rows_end(const mesh_region *region)
{
    return std::min(region->y1 + (region->y1 & 1), (int32_t)region->max_span_y);
}

// The span of the block row at `y` (even); false when the walk draws none there.
static bool block_row_span(const mesh_region *region, int32_t y, mesh_span *span)
{
    if (y < (region->y0 & ~1) || y >= block_rows_end(region)) return false;
    const mesh_span *row = get_mesh_region_span(region, y < region->y0 ? region->y0 : y);
    if (!row) return false;
    *span = *row;
    if (y >= region->y0 && y + 1 < region->y1)
    {
        if (const mesh_span *below = get_mesh_region_span(region, y + 1))
        {
            span->x0 = std::min(span->x0, below->x0);
            span->x1 = std::max(span->x1, below->x1);
        }
    }
    return !mesh_span_is_empty(span);
}

bool terrain_draws_cell(const mesh_region *region, int32_t cell_x, int32_t cell_y)
{
    mesh_span span;
    if (!region || region->original_width <= 0 || cell_x < 0 || cell_y < 0 || cell_x >= mesh_width ||
        cell_y >= mesh_height || !block_row_span(region, cell_y & ~1, &span))
        return false;
    // The mesh has a vertex a cell, so the last column and row of cells have
    // no far corners: the triangles that would reach them are never drawn.
    if (cell_x >= mesh_width - 1 || cell_y >= mesh_height - 1) return false;
    const int32_t x = cell_x & ~1;
    if (x < (span.x0 & ~1) || x >= span.x1 + (span.x1 & 1)) return false;
    // A triangle with a vertex the frame did not make, or discarded, is left
    // out: the block is counted only when all nine of its vertices are usable
    // (where it has them: a frame without vertices draws the spans whole).
    if (!region->vertices) return true;
    for (int32_t j = 0; j < 3; ++j)
        for (int32_t i = 0; i < 3; ++i)
            if (!vertex_usable(get_mesh_region_vertex(region, x + i, (cell_y & ~1) + j))) return false;
    return true;
}

void build_mesh_surface_list_from(view_data *view, mesh_region *region, const mesh_surface_source *source)
{
    if (!region || !source || !source->LOD_words || region->original_width <= 0) return;
    for (int32_t y = region->y0 & ~1; y < block_rows_end(region); y += 2)
    {
        mesh_span span;
        if (!block_row_span(region, y, &span)) continue;
        const int32_t block_row = y >> 1;
        if (y < 0 || block_row >= source->word_rows) continue;

        const int32_t end_column = span.x1 + (span.x1 & 1);
        for (int32_t x = span.x0 & ~1; x < end_column; x += 2)
        {
            if (x < 0 || (x >> 1) >= source->words_per_row) continue;
            const uint16_t word = source->LOD_words[(x >> 1) + source->words_per_row * block_row];
            render_vertex *v[3][3];
            for (int32_t i = 0; i < 3; ++i)
                for (int32_t j = 0; j < 3; ++j) v[i][j] = get_mesh_region_vertex(region, x + i, y + j);
            build_block(view, source, x, y, word, v, block_texture_for(view, region, x, y));
        }
    }
}

void build_mesh_surface_list(view_data *view, mesh_region *region)
{
    // Without a map there is no terrain to draw (menus, tests of the frame).
    if (!get_mesh_header()) return;
    mesh_surface_source source = {};
    source.LOD_words = get_mesh_LOD_data();
    if (!VASSERT(source.LOD_words, "header->mesh_LOD_data")) return;
    source.words_per_row = mesh_width / 2;
    source.word_rows = mesh_height / 2;
    if (detail_maps_active())
    {
        int32_t width = 0, height = 0;
        source.detail = detail_map_layer_info(&width, &height);
        source.detail_width = width;
        // The loader accepts only detail maps that cover the mesh; keep the
        // reads inside it all the same.
        if (width < mesh_width || height < mesh_height) source.detail = nullptr;
    }
    build_mesh_surface_list_from(view, region, &source);
}
