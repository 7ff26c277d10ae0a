// Terrain surfaces: every edge pattern's exact triangle list, the absence of
// cracks over a whole mesh whose words come from the mesh writer, and the
// surface list built from a hand-made region (texture coordinates, skipped
// triangles, the odd first row, the flattened full fan).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "detail_maps.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "render/terrain_surfaces.h"

namespace terrain_surfaces_test_file {

namespace {

typedef std::tuple<int, int, int, int, int, int, int> triangle_key; // three (i, j) and the media bit

triangle_key key_of(const mesh_block_triangle &t)
{
    return {t.corners[0].i, t.corners[0].j, t.corners[1].i, t.corners[1].j, t.corners[2].i, t.corners[2].j,
            t.media_bit};
}

std::vector<triangle_key> pattern(uint16_t word, int parity, bool full_fan)
{
    mesh_block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK];
    const int32_t count = mesh_block_triangle_pattern(word, parity, full_fan, triangles);
    std::vector<triangle_key> keys;
    for (int32_t k = 0; k < count; ++k) keys.push_back(key_of(triangles[k]));
    return keys;
}

// Twice the signed area, y down: positive for a clockwise triangle on screen
// when the block is seen from above.
int doubled_area(const triangle_key &t)
{
    auto [ai, aj, bi, bj, ci, cj, m] = t;
    (void)m;
    return (bi - ai) * (cj - aj) - (bj - aj) * (ci - ai);
}

// Per edge, written out by hand: the triangle when the edge is coarse, and
// the two halves (A side, then B side) when it is drawn through its midpoint.
struct edge_expectation
{
    triangle_key coarse, half_a, half_b;
    int cell_a, cell_b; // the cells of the two halves
};
const edge_expectation edges[4] = {
    {{1, 1, 2, 0, 0, 0, 8}, {1, 1, 2, 0, 1, 0, 9}, {1, 1, 1, 0, 0, 0, 8}, 1, 0},
    {{1, 1, 2, 2, 2, 0, 10}, {1, 1, 2, 2, 2, 1, 11}, {1, 1, 2, 1, 2, 0, 10}, 2, 1},
    {{1, 1, 0, 2, 2, 2, 12}, {1, 1, 0, 2, 1, 2, 13}, {1, 1, 1, 2, 2, 2, 12}, 3, 2},
    {{1, 1, 0, 0, 0, 2, 14}, {1, 1, 0, 0, 0, 1, 15}, {1, 1, 0, 1, 0, 2, 14}, 0, 3},
};

TEST(terrain_surface_patterns, every_edge_and_cell_pattern_gives_its_exact_list)
{
    // The coarse form ignores the cells: the parity's diagonal, both halves.
    for (int cells = 0; cells < 16; ++cells)
    {
        const uint16_t word = (uint16_t)(cells << 4);
        EXPECT_EQ(pattern(word, 0, false),
                  (std::vector<triangle_key>{{2, 2, 2, 0, 0, 0, 8}, {0, 0, 0, 2, 2, 2, 8}}));
        EXPECT_EQ(pattern(word, 1, false),
                  (std::vector<triangle_key>{{2, 0, 0, 0, 0, 2, 8}, {0, 2, 2, 2, 2, 0, 8}}));
    }
    for (int edge_bits = 1; edge_bits < 16; ++edge_bits)
        for (int cells = 0; cells < 16; ++cells)
            for (int parity = 0; parity < 2; ++parity)
            {
                const uint16_t word = (uint16_t)(edge_bits | cells << 4);
                std::vector<triangle_key> expected;
                for (int e = 0; e < 4; ++e)
                {
                    if (!(edge_bits & (1 << e)))
                        expected.push_back(edges[e].coarse);
                    else
                    {
                        if (cells & (1 << edges[e].cell_a)) expected.push_back(edges[e].half_a);
                        if (cells & (1 << edges[e].cell_b)) expected.push_back(edges[e].half_b);
                    }
                }
                ASSERT_EQ(pattern(word, parity, false), expected) << "word " << word;
                if (cells == 15)
                {
                    // All cells drawn: the fan covers the block once, clockwise.
                    int area = 0;
                    for (const triangle_key &t : expected)
                    {
                        EXPECT_LT(doubled_area(t), 0) << "word " << word; // counter-clockwise in (i, j) with j down
                        area += doubled_area(t);
                    }
                    EXPECT_EQ(area, -8);
                }
            }
    // The full fan (detail maps on) ignores the edge bits and keeps its
    // detail sources: cell and triangle_info half per triangle.
    for (int edge_bits = 0; edge_bits < 16; ++edge_bits)
    {
        mesh_block_triangle fan[MAXIMUM_TRIANGLES_PER_MESH_BLOCK];
        ASSERT_EQ(mesh_block_triangle_pattern((uint16_t)(edge_bits | 0xF0), 1, true, fan), 8);
        const int cells[8] = {1, 0, 2, 1, 3, 2, 0, 3}, halves[8] = {0, 1, 0, 1, 0, 1, 0, 1};
        const int media[8] = {9, 8, 11, 10, 13, 12, 15, 14};
        for (int k = 0; k < 8; ++k)
        {
            EXPECT_EQ(fan[k].cell, cells[k]);
            EXPECT_EQ(fan[k].detail_half, halves[k]);
            EXPECT_EQ(fan[k].media_bit, media[k]);
            EXPECT_EQ(fan[k].edge, k / 2);
        }
    }
    // A hidden cell drops exactly its two fan triangles.
    EXPECT_EQ(pattern(0xF0 & ~(1 << 6), 0, true).size(), 6u);
}

// ---- no cracks over a whole mesh -------------------------------------------------

typedef std::pair<int, int> point;
typedef std::pair<point, point> segment;

segment make_segment(point a, point b) { return a < b ? segment{a, b} : segment{b, a}; }

TEST(terrain_surface_patterns, blocks_agree_on_every_shared_edge_over_a_whole_mesh)
{
    // Relief of every kind: flat ground, a ridge, bumps on odd vertices,
    // water and hidden cells, so both coarse and detailed blocks meet.
    const int width = 32, height = 32;
    std::vector<mesh_cell> cells(width * height);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            mesh_cell &cell = cells[x + width * y];
            cell = {};
            seed = seed * 1103515245u + 12345u;
            if (x >= 16 && y < 16) cell.height = (int16_t)(((seed >> 16) % 5) * 64); // rough
            else if (x < 16 && y >= 16) cell.height = (int16_t)(x * 32 + y * 16); // a plane
            else if (x >= 16) cell.height = (int16_t)(std::abs(x - 24) < 2 ? 512 : 0); // a ridge
            if (x < 8 && y < 8)
                cell.flags |= 1 << _mesh_cell_triangle0_is_media_bit | 1 << _mesh_cell_triangle1_is_media_bit;
            if (x == 5 && y == 21) cell.flags |= 1 << _mesh_cell_is_not_rendered_bit;
        }
    std::vector<uint16_t> words((width / 2) * (height / 2));
    build_mesh_LOD_data(cells.data(), width, height, words.data());

    // Boundary segments of each block edge, as drawn from that block.
    std::map<std::pair<point, int>, std::set<segment>> boundary; // (block, edge) -> segments
    int coarse = 0, detailed = 0;
    for (int by = 0; by < height / 2; ++by)
        for (int bx = 0; bx < width / 2; ++bx)
        {
            const uint16_t word = words[bx + (width / 2) * by] | 0xF0; // every cell drawn: compare geometry
            ((word & _cell_edge_detail_flags) ? detailed : coarse)++;
            mesh_block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK];
            const int count = mesh_block_triangle_pattern(word, mesh_block_parity(bx * 2, by * 2), false, triangles);
            for (int k = 0; k < count; ++k)
                for (int c = 0; c < 3; ++c)
                {
                    const mesh_block_vertex a = triangles[k].corners[c], b = triangles[k].corners[(c + 1) % 3];
                    int edge = -1;
                    if (a.j == 0 && b.j == 0) edge = 0;
                    if (a.i == 2 && b.i == 2) edge = 1;
                    if (a.j == 2 && b.j == 2) edge = 2;
                    if (a.i == 0 && b.i == 0) edge = 3;
                    if (edge < 0) continue;
                    boundary[{{bx, by}, edge}].insert(
                        make_segment({bx * 2 + a.i, by * 2 + a.j}, {bx * 2 + b.i, by * 2 + b.j}));
                }
        }
    EXPECT_GT(coarse, 10);
    EXPECT_GT(detailed, 10);
    for (int by = 0; by < height / 2; ++by)
        for (int bx = 0; bx < width / 2; ++bx)
        {
            if (bx + 1 < width / 2)
            {
                EXPECT_EQ((boundary[{{bx, by}, 1}]), (boundary[{{bx + 1, by}, 3}])) << bx << "," << by;
            }
            if (by + 1 < height / 2)
            {
                EXPECT_EQ((boundary[{{bx, by}, 2}]), (boundary[{{bx, by + 1}, 0}])) << bx << "," << by;
            }
        }
}

// ---- the surface list from a hand-made region ------------------------------------

const int REGION_SIZE = 8; // cells per side, from (original_x0, original_y0)

class terrain_surface_list_test : public ::testing::Test
{
protected:
    view_data view = {};
    render_surface_list list;
    mesh_region region = {};
    mesh_span spans[REGION_SIZE];
    render_vertex vertices[REGION_SIZE * REGION_SIZE];
    render_vertex *vertex_table[REGION_SIZE * REGION_SIZE];
    std::vector<uint16_t> words; // a mesh of 16 x 16 cells
    mesh_surface_source source = {};

    void SetUp() override
    {
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.rasterizer_code = 4; // mesh triangles are not screen-tested
        global_maps_mode = _maps_mode_volatile;

        region.original_x0 = 4;
        region.original_y0 = 2;
        region.original_width = region.original_height = REGION_SIZE;
        region.max_span_x = region.original_x0 + REGION_SIZE - 2;
        region.max_span_y = region.original_y0 + REGION_SIZE - 2;
        region.y0 = 2;
        region.y1 = 7;
        region.x0 = 4;
        region.x1 = 9;
        region.spans = spans;
        for (mesh_span &span : spans) span = {4, 9};
        region.vertices = vertex_table;
        for (int row = 0; row < REGION_SIZE; ++row)
            for (int column = 0; column < REGION_SIZE; ++column)
            {
                render_vertex &v = vertices[column + REGION_SIZE * row];
                v = {};
                v.mesh_vertex = {(int16_t)(region.original_x0 + column), (int16_t)(region.original_y0 + row)};
                // Not planar, so that flattening moves points.
                v.p = {column * 512, row * 512, -4000 - column * 7 - row * 3 - (column * row % 5) * 11};
                vertex_table[column + REGION_SIZE * row] = &v;
            }
        words.assign(8 * 8, 0xF0);
        source.LOD_words = words.data();
        source.words_per_row = 8;
        source.word_rows = 8;
    }
    void TearDown() override { global_maps_mode = _maps_mode_volatile; }

    render_vertex *vertex(int x, int y) { return get_mesh_region_vertex(&region, x, y); }
    uint16_t &word(int x, int y) { return words[x / 2 + 8 * (y / 2)]; }

    std::vector<render_triangle *> build(void)
    {
        new_surface_list(&list);
        build_mesh_surface_list_from(&view, &region, &source);
        std::vector<render_triangle *> out;
        for (render_surface *s = list.first_surface; s; s = s->next_surface) out.push_back((render_triangle *)s);
        return out;
    }
    // The block of a triangle: its smallest corner, rounded down to even.
    static std::pair<int, int> block_of(const render_triangle *t)
    {
        int x = 9999, y = 9999;
        for (const render_corner &c : t->corners)
            x = std::min<int>(x, c.vertex->mesh_vertex.x), y = std::min<int>(y, c.vertex->mesh_vertex.y);
        return {x & ~1, y & ~1};
    }
    static std::set<const render_vertex *> corners(const render_triangle *t)
    {
        return {t->corners[0].vertex, t->corners[1].vertex, t->corners[2].vertex};
    }
    static std::vector<std::set<const render_vertex *>> corner_sets(const std::vector<render_triangle *> &triangles)
    {
        std::vector<std::set<const render_vertex *>> sets;
        for (const render_triangle *t : triangles) sets.push_back(corners(t));
        return sets;
    }
};

TEST_F(terrain_surface_list_test, triangles_carry_depth_flags_and_region_relative_cells)
{
    view.flags = _render_view_filtering_flag;
    word(6, 4) |= 1 << 8; // media on the coarse block at (6, 4)
    const std::vector<render_triangle *> triangles = build();
    // Rows 2..7 with spans 4..9: block rows 2, 4 (row 6 ends at max_span_y 8
    // but row 6 < min(8, 8) holds) and columns 4, 6, 8 (x < 10).
    ASSERT_EQ(triangles.size(), 3u * 3u * 2u);
    for (const render_triangle *t : triangles)
    {
        int32_t min_z = INT32_MAX;
        for (const render_corner &c : t->corners)
        {
            min_z = std::min(min_z, c.vertex->p.z);
            EXPECT_EQ(c.interpolants[_texture_u], c.vertex->mesh_vertex.x - region.x0);
            EXPECT_EQ(c.interpolants[_texture_v], c.vertex->mesh_vertex.y - region.y0);
        }
        EXPECT_EQ(t->header.z, min_z - 128);
        EXPECT_EQ(t->header.transparency, 0);
        EXPECT_EQ(surface_word_subtype(t->header.packed), _surface_subtype_mesh_triangle);
        EXPECT_EQ(t->bitmap_identifier, 0u);
        EXPECT_EQ(t->detail, 0u);
        const bool in_media_block = block_of(t) == std::make_pair(6, 4);
        EXPECT_EQ(surface_word_flags(t->header.packed),
                  (uint32_t)(_surface_filtered_flag | (in_media_block ? _surface_media_flag : 0)));
    }
}

TEST_F(terrain_surface_list_test, a_null_or_discarded_vertex_drops_exactly_its_triangles)
{
    word(6, 4) = 0xF0 | 0xF; // a detailed block: its centre (7, 5) and midpoints are used
    const std::vector<render_triangle *> all = build();
    const auto all_sets = corner_sets(all);
    const render_vertex *shared_corner = vertex(6, 4), *centre = vertex(7, 5);
    for (int use_null = 0; use_null < 2; ++use_null)
        for (const render_vertex *victim : {shared_corner, centre})
        {
            const int x = victim->mesh_vertex.x, y = victim->mesh_vertex.y;
            render_vertex *&slot = vertex_table[(x - region.original_x0) + REGION_SIZE * (y - region.original_y0)];
            render_vertex *saved = slot;
            if (use_null)
                slot = nullptr;
            else
                slot->flags |= _vertex_discarded_flag;
            std::vector<std::set<const render_vertex *>> expected;
            for (const auto &set : all_sets)
                if (!set.count(victim)) expected.push_back(set);
            EXPECT_LT(expected.size(), all_sets.size());
            EXPECT_EQ(corner_sets(build()), expected) << "null " << use_null << " at " << x << "," << y;
            slot = saved;
            slot->flags &= (uint16_t)~_vertex_discarded_flag;
        }
}

TEST_F(terrain_surface_list_test, an_odd_first_row_draws_the_block_row_above_with_its_span)
{
    region.y0 = 3;
    region.y1 = 7;
    for (mesh_span &span : spans) span = {8, 9}; // rows 3..7
    spans[0] = {4, 5}; // row 3 alone reaches column 4
    const std::vector<render_triangle *> triangles = build();
    std::set<std::pair<int, int>> blocks;
    for (const render_triangle *t : triangles) blocks.insert(block_of(t));
    // Block row 2 takes row 3's span (4..5); block row 4 unites rows 4 and 5
    // (8..9); block row 6 takes row 6's span alone, its second row being the
    // region's last.
    EXPECT_EQ(blocks, (std::set<std::pair<int, int>>{{4, 2}, {8, 4}, {8, 6}}));
}

// What the weather asks of the terrain (is this cell drawn?) answers as the
// walk draws: an even last row or column is left out, an odd first row draws
// the row above it.
TEST_F(terrain_surface_list_test, the_cells_said_drawn_are_the_cells_of_the_blocks_drawn)
{
    const struct
    {
        int16_t y0, y1;
        mesh_span first, others;
    } cases[] = {{2, 7, {4, 9}, {4, 9}}, {2, 6, {4, 8}, {4, 8}}, {3, 7, {4, 5}, {8, 9}}, {3, 6, {5, 6}, {4, 7}}};
    const int16_t width = mesh_width, height = mesh_height;
    mesh_width = mesh_height = 16;
    for (const auto &c : cases)
    {
        region.y0 = c.y0;
        region.y1 = c.y1;
        for (mesh_span &span : spans) span = c.others;
        spans[0] = c.first;
        std::set<std::pair<int, int>> drawn;
        for (const render_triangle *t : build())
            for (int dx = 0; dx < 2; ++dx)
                for (int dy = 0; dy < 2; ++dy) drawn.insert({block_of(t).first + dx, block_of(t).second + dy});
        for (int x = -1; x < 17; ++x)
            for (int y = -1; y < 17; ++y)
                EXPECT_EQ(terrain_draws_cell(&region, x, y), drawn.count({x, y}) > 0)
                    << "rows " << c.y0 << ".." << c.y1 << ", cell " << x << ", " << y;
    }
    mesh_width = width;
    mesh_height = height;
}

TEST_F(terrain_surface_list_test, tiles_mode_offsets_cells_into_the_tile_page)
{
    global_maps_mode = _maps_mode_tiles;
    const int16_t saved_width = mesh_tile_width, saved_height = mesh_tile_height;
    mesh_tile_width = mesh_tile_height = 2;
    mesh_tile tiles[4] = {};
    tiles[0].u_off = 1, tiles[0].v_off = 1, tiles[0].page = 3;
    terrain_maps_globals_data saved = terrain_maps_globals;
    terrain_maps_globals.mesh_tiles = tiles;
    terrain_maps_globals.tile_count = 4;
    const std::vector<render_triangle *> triangles = build();
    terrain_maps_globals = saved;
    mesh_tile_width = saved_width, mesh_tile_height = saved_height;
    ASSERT_FALSE(triangles.empty());
    for (const render_triangle *t : triangles)
    {
        // Every block of this region lies in tile 0 (cells 0..13).
        EXPECT_EQ(bitmap_identifier_bitmap_index(t->bitmap_identifier), 3);
        for (const render_corner &c : t->corners)
        {
            EXPECT_EQ(c.interpolants[_texture_u], c.vertex->mesh_vertex.x + 1);
            EXPECT_EQ(c.interpolants[_texture_v], c.vertex->mesh_vertex.y + 1);
        }
    }
}

TEST_F(terrain_surface_list_test, the_full_fan_of_a_flat_block_lies_on_its_large_triangles)
{
    // Detail words: cell (x, y) triangle k holds x * 100 + y * 10 + k.
    std::vector<mesh_cell_detail_info> detail(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            for (int k = 0; k < 2; ++k) detail[x + 16 * y].triangle_info[k] = (uint32_t)(x * 100 + y * 10 + k);
    source.detail = detail.data();
    source.detail_width = 16;
    // Block (4, 2): parity ((4 ^ 2) & 2) / 2 = 1, split along (2,0)-(0,2);
    // block (6, 4): parity 1 as well; block (4, 4): parity 0.
    word(6, 4) = 0xF0 | 1; // only the top edge detailed
    word(6, 2) = 0xF0 | 4; // and the block above agrees on it
    const render_vertex before_centre = *vertex(5, 5), before_top_midpoint = *vertex(7, 4);
    const std::vector<render_triangle *> triangles = build();
    ASSERT_EQ(triangles.size(), 9u * 8u);

    auto mid = [](const render_vertex *a, const render_vertex *b) {
        return world_point3d{(a->p.x + b->p.x) / 2, (a->p.y + b->p.y) / 2, (a->p.z + b->p.z) / 2};
    };
    auto same = [](const world_point3d &a, const world_point3d &b) { return a.x == b.x && a.y == b.y && a.z == b.z; };

    // The flat block (4, 4), parity 0: midpoints on the edges, the centre on
    // the (0,0)-(2,2) diagonal.
    EXPECT_TRUE(same(vertex(5, 4)->p, mid(vertex(4, 4), vertex(6, 4))));
    EXPECT_TRUE(same(vertex(6, 5)->p, mid(vertex(6, 4), vertex(6, 6))));
    EXPECT_TRUE(same(vertex(5, 5)->p, mid(vertex(4, 4), vertex(6, 6))));
    EXPECT_FALSE(same(vertex(5, 5)->p, before_centre.p));
    std::vector<const render_triangle *> flat;
    for (const render_triangle *t : triangles)
        if (block_of(t) == std::make_pair(4, 4)) flat.push_back(t);
    ASSERT_EQ(flat.size(), 8u);
    // Fan order: edges top, right share one half, bottom and left the other.
    for (int k = 1; k < 4; ++k) EXPECT_EQ(flat[k]->header.z, flat[0]->header.z);
    for (int k = 5; k < 8; ++k) EXPECT_EQ(flat[k]->header.z, flat[4]->header.z);
    // Detail words by the fan's cell and half.
    const uint32_t expected_detail[8] = {5 * 100 + 4 * 10 + 0, 4 * 100 + 4 * 10 + 1, 5 * 100 + 5 * 10 + 0,
                                         5 * 100 + 4 * 10 + 1, 4 * 100 + 5 * 10 + 0, 5 * 100 + 5 * 10 + 1,
                                         4 * 100 + 4 * 10 + 0, 4 * 100 + 5 * 10 + 1};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(flat[k]->detail, expected_detail[k]) << k;

    // Block (6, 4): the detailed top edge keeps its midpoint and its two z;
    // the coarse right edge pairs its triangles' z.
    std::vector<const render_triangle *> partial;
    for (const render_triangle *t : triangles)
        if (block_of(t) == std::make_pair(6, 4)) partial.push_back(t);
    ASSERT_EQ(partial.size(), 8u);
    EXPECT_EQ(partial[2]->header.z, partial[3]->header.z);
    EXPECT_TRUE(same(vertex(7, 4)->p, before_top_midpoint.p));
    EXPECT_TRUE(same(vertex(8, 5)->p, mid(vertex(8, 4), vertex(8, 6))));
    // Sorted as added: each block's triangles have their final z as key.
    for (const render_triangle *t : triangles) EXPECT_EQ(t->header.precise_z, (int32_t)((uint32_t)t->header.z << 14));
}

TEST_F(terrain_surface_list_test, without_a_map_no_terrain_is_drawn)
{
    // No map is loaded in this test program: nothing to draw, nothing to assert.
    new_surface_list(&list);
    build_mesh_surface_list(&view, &region);
    EXPECT_EQ(list.surface_count, 0);
}

} // namespace

} // namespace terrain_surfaces_test_file
