// The stored map as docs/formats.md describes it to a second implementation:
// the bytes the tool writes are read back at the documented offsets, and the
// level-of-detail words and the media coverage are recomputed by the
// documented rules alone (not by the game's code) and must agree exactly.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "mesh_builder.h"

namespace mesh_layout_test_file {

namespace {

uint16_t be16(const uint8_t *p) { return (uint16_t)((p[0] << 8) | p[1]); }
int32_t be32(const uint8_t *p) { return (int32_t)(((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3]); }

struct random_map
{
    int32_t width, height;
    std::vector<mesh_cell> cells;
};

// Heights from a few levels, so flat and sloped blocks both occur; media and
// hidden cells scattered.
random_map make_map(uint32_t seed, int32_t width, int32_t height)
{
    random_map map{width, height, std::vector<mesh_cell>((size_t)(width * height))};
    auto draw = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    std::vector<bool> lake((size_t)(width * height / 4));
    for (size_t i = 0; i < lake.size(); ++i) lake[i] = draw(3) == 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            mesh_cell &cell = map.cells[(size_t)(x + y * width)];
            memset(&cell, 0, sizeof(cell));
            cell.height = (int16_t)(draw(4) == 0 ? 64 * (int32_t)draw(3) : 0);
            // Whole blocks of media, with a stray triangle here and there.
            if (lake[(size_t)(x / 2 + (y / 2) * (width / 2))]) cell.flags |= _mesh_cell_carries_media_flags;
            if (draw(16) == 0) cell.flags ^= _mesh_cell_triangle0_is_media_flag;
            if (draw(16) == 0) cell.flags ^= _mesh_cell_triangle1_is_media_flag;
            if (draw(24) == 0) cell.flags |= _mesh_cell_is_not_rendered_flag;
            cell.media_height = 32;
        }
    return map;
}

// ---- the documented rules ----------------------------------------------------------

struct documented_map
{
    const random_map &map;
    int32_t vertex_height(int32_t x, int32_t y) const
    {
        if (x >= map.width) x = map.width - 1;
        if (y >= map.height) y = map.height - 1;
        return map.cells[(size_t)(x + y * map.width)].height;
    }
    uint16_t flags(int32_t x, int32_t y) const { return map.cells[(size_t)(x + y * map.width)].flags; }
    bool triangle_media(int32_t x, int32_t y, int32_t triangle) const
    {
        return (flags(x, y) & (triangle ? 1u << 12 : 1u << 11)) != 0;
    }
    // The triangle of the cell that holds world point (px, py).
    static int32_t triangle_at(int32_t px, int32_t py)
    {
        const int32_t fx = px & 511, fy = py & 511, parity = ((px ^ py) >> 9) & 1;
        return fx < (parity ? 511 - fy : fy) ? 0 : 1;
    }
};

// Fan triangle k: (cell dx, dy, triangle).
const int32_t fan[8][3] = {{0, 0, 1}, {1, 0, 0}, {1, 0, 1}, {1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {0, 0, 0}};

bool block_needs_fan(const documented_map &m, int32_t x, int32_t y)
{
    const bool odd = (x / 2 + y / 2) % 2 != 0;
    const int32_t a = odd ? m.vertex_height(x + 2, y) : m.vertex_height(x, y);
    const int32_t b = odd ? m.vertex_height(x, y + 2) : m.vertex_height(x + 2, y + 2);
    if (m.vertex_height(x + 1, y + 1) * 2 != a + b) return true;
    int32_t media = 0;
    for (const auto &t : fan)
    {
        if (m.flags(x + t[0], y + t[1]) & (1u << 14)) return true;
        media += m.triangle_media(x + t[0], y + t[1], t[2]);
    }
    return media != 0 && media != 8;
}

uint16_t documented_word(const documented_map &m, int32_t bx, int32_t by)
{
    const int32_t x = 2 * bx, y = 2 * by, across = m.map.width / 2, down = m.map.height / 2;
    auto fan_at = [&](int32_t cx, int32_t cy) {
        return cx >= 0 && cy >= 0 && cx < across && cy < down && block_needs_fan(m, 2 * cx, 2 * cy);
    };
    const bool own = block_needs_fan(m, x, y);
    // top, right, bottom, left: ends, midpoint, the block across
    const int32_t edges[4][8] = {{x, y, x + 1, y, x + 2, y, bx, by - 1},
                                 {x + 2, y, x + 2, y + 1, x + 2, y + 2, bx + 1, by},
                                 {x, y + 2, x + 1, y + 2, x + 2, y + 2, bx, by + 1},
                                 {x, y, x, y + 1, x, y + 2, bx - 1, by}};
    uint16_t word = 0;
    for (int32_t e = 0; e < 4; ++e)
    {
        const int32_t *d = edges[e];
        if (m.vertex_height(d[2], d[3]) * 2 != m.vertex_height(d[0], d[1]) + m.vertex_height(d[4], d[5]) || own ||
            fan_at(d[6], d[7]))
            word |= (uint16_t)(1 << e);
    }
    const int32_t cells[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int32_t c = 0; c < 4; ++c)
        if (!(m.flags(x + cells[c][0], y + cells[c][1]) & (1u << 14))) word |= (uint16_t)(1 << (4 + c));
    for (int32_t k = 0; k < 8; ++k)
        if (m.triangle_media(x + fan[k][0], y + fan[k][1], fan[k][2])) word |= (uint16_t)(1 << (8 + k));
    return word;
}

// Whether texel (c, r) is media by the documented reading of a coverage row.
bool covered(const std::vector<uint16_t> &row, int32_t column)
{
    if (column <= row[0]) return false;
    for (size_t k = 1; k < row.size(); ++k)
        if (row[k] >= column) return k % 2 == 1;
    return false;
}

TEST(mesh_layout, stored_map_agrees_with_the_documented_rules)
{
    for (uint32_t seed = 1; seed <= 12; ++seed)
    {
        SCOPED_TRACE(seed);
        const random_map map = make_map(seed, 8 + 2 * (int32_t)(seed % 3), 6 + 2 * (int32_t)(seed % 2));
        mesh_builder_input input;
        memset(&input, 0, sizeof(input));
        input.header.mesh_width = (int16_t)map.width;
        input.header.mesh_height = (int16_t)map.height;
        input.header.team_count = 2;
        input.header.reverb_environment = NONE;
        for (tag *t = &input.header.landscape_collection_tag; t <= &input.header.blood_collection_tag; ++t) *t = NONE;
        input.header.preload_tag = FOUR_CHARACTER_CODE('p', 'r', 'e', 'l');
        input.cells = map.cells.data();
        int32_t size = 0;
        uint8_t *data = build_mesh_tag_data(&input, &size);
        ASSERT_NE(data, nullptr);

        // Header fields at their documented offsets.
        EXPECT_EQ((int16_t)be16(data + 8), map.width);
        EXPECT_EQ((int16_t)be16(data + 10), map.height);
        EXPECT_EQ((int16_t)be16(data + 12), 2);
        EXPECT_EQ(be32(data + 104), FOUR_CHARACTER_CODE('p', 'r', 'e', 'l'));
        EXPECT_EQ(be32(data + 108), NONE);
        EXPECT_EQ(be32(data + 164), NONE);
        const int32_t cells_offset = be32(data + 112), words_offset = be32(data + 120);
        const int32_t coverage_offset = be32(data + 140), coverage_size = be32(data + 144);
        ASSERT_EQ(be32(data + 116), map.width * map.height * 12);
        ASSERT_EQ(be32(data + 124), map.width * map.height / 2);
        for (int32_t i = 0; i < map.width * map.height; ++i)
        {
            const uint8_t *cell = data + cells_offset + 12 * i;
            ASSERT_EQ(be16(cell), map.cells[(size_t)i].flags);
            ASSERT_EQ((int16_t)be16(cell + 2), map.cells[(size_t)i].height);
            ASSERT_EQ((int16_t)be16(cell + 6), NONE);
        }

        const documented_map m{map};
        for (int32_t by = 0; by < map.height / 2; ++by)
            for (int32_t bx = 0; bx < map.width / 2; ++bx)
                ASSERT_EQ(be16(data + words_offset + 2 * (bx + (map.width / 2) * by)), documented_word(m, bx, by))
                    << "block " << bx << ", " << by;

        // Coverage: each row read as documented gives media exactly where the
        // triangle under the texel's centre is media, column 0 excepted.
        const int32_t texel_width = map.width * 8;
        size_t position = 0;
        const size_t count = (size_t)coverage_size / 2;
        bool any_media = false;
        for (int32_t r = 0; r < map.height * 8; ++r)
        {
            std::vector<uint16_t> row;
            if (coverage_size)
            {
                do
                {
                    ASSERT_LT(position, count);
                    row.push_back(be16(data + coverage_offset + 2 * position++));
                } while (row.back() != texel_width);
            }
            else
                row.push_back((uint16_t)texel_width);
            for (int32_t c = 0; c < texel_width; ++c)
            {
                const int32_t px = 64 * c + 32, py = 64 * r + 32;
                const bool media = c > 0 && m.triangle_media(px >> 9, py >> 9, documented_map::triangle_at(px, py));
                any_media = any_media || media;
                ASSERT_EQ(covered(row, c), media) << "texel " << c << ", " << r;
            }
        }
        EXPECT_EQ(position, count);
        EXPECT_EQ(coverage_size != 0, any_media);
        free(data);
    }
}

} // namespace

} // namespace mesh_layout_test_file
