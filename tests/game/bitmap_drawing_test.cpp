// 2D drawing and bitmap copying against references written in the test:
// exact line pixels in every octant, clipping equivalence, even-odd fills,
// translucent blends from the transparency formula, every copy mode per
// pixel, run-length rows cut at the left edge, and refused destinations left
// untouched.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "bitmap_drawing.h"
#include "render/render_tables.h"
#include "support/expected_assertions.h"

namespace bitmap_drawing_test_file {

namespace {

struct bitmap_free
{
    void operator()(bitmap_data *b) const { free(b); }
};
typedef std::unique_ptr<bitmap_data, bitmap_free> bitmap_pointer;

bitmap_pointer make_bitmap(int16_t w, int16_t h, int16_t encoding, uint8_t fill = 0)
{
    bitmap_pointer b(new_bitmap(w, h, 0, encoding, 0));
    memset(b->row_addresses[0], fill, (size_t)b->bytes_per_row * h);
    return b;
}

uint32_t pixel(const bitmap_data *b, int32_t x, int32_t y)
{
    const uint8_t *p = b->row_addresses[y] + x * (b->logical_bit_depth / 8);
    uint32_t v = 0;
    memcpy(&v, p, (size_t)(b->logical_bit_depth / 8));
    return v;
}

std::vector<uint8_t> bytes_of(const bitmap_data *b)
{
    const uint8_t *p = b->row_addresses[0];
    return std::vector<uint8_t>(p, p + (size_t)b->bytes_per_row * b->height);
}

std::vector<uint8_t> normal_table(void)
{
    std::vector<uint8_t> t(TRANSPARENCY_TABLE_SIZE);
    build_transparency_table(_transparency_normal, t.data());
    return t;
}

// The normal blend of one 5-bit component, from its formula.
int32_t mix(int32_t level, int32_t d, int32_t s) { return (7 + level * d + (15 - level) * s) / 15; }

// Channels of a pixel as 5-bit components (565 green at its top 5 bits).
void channels(int16_t encoding, uint32_t p, int32_t c[3])
{
    if (encoding == _16bit_555_encoding) c[0] = (p >> 10) & 31, c[1] = (p >> 5) & 31, c[2] = p & 31;
    else if (encoding == _16bit_565_encoding) c[0] = p >> 11, c[1] = (p >> 6) & 31, c[2] = p & 31;
    else c[0] = (p >> 19) & 31, c[1] = (p >> 11) & 31, c[2] = (p >> 3) & 31;
}
uint32_t compose(int16_t encoding, const int32_t c[3])
{
    if (encoding == _16bit_555_encoding) return (uint32_t)(c[0] << 10 | c[1] << 5 | c[2]);
    if (encoding == _16bit_565_encoding) return (uint32_t)(c[0] << 11 | c[1] << 6 | c[2]);
    return 0xFF000000u | (uint32_t)c[0] << 19 | (uint32_t)c[1] << 11 | (uint32_t)c[2] << 3;
}
uint32_t blended(int16_t encoding, int32_t level, uint32_t d, uint32_t s)
{
    int32_t dc[3], sc[3], out[3];
    channels(encoding, d, dc);
    channels(encoding, s, sc);
    for (int32_t i = 0; i < 3; ++i) out[i] = mix(level, dc[i], sc[i]);
    return compose(encoding, out);
}
uint32_t packed(int16_t encoding, const rgb_color *c)
{
    if (encoding == _16bit_555_encoding) return rgb_color_to_pixel16_555(c);
    if (encoding == _16bit_565_encoding) return rgb_color_to_pixel16_565(c);
    return rgb_color_to_pixel32(c);
}

// The points of a line by a closed form of the same error rule.
std::set<std::pair<int32_t, int32_t>> reference_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    if (y1 < y0) std::swap(x0, x1), std::swap(y0, y1);
    const int32_t adx = abs(x1 - x0), ady = abs(y1 - y0), sx = (x1 > x0) - (x1 < x0), sy = (y1 > y0) - (y1 < y0);
    std::set<std::pair<int32_t, int32_t>> points;
    if (ady < adx)
        for (int32_t n = 0; n <= adx; ++n) points.insert({x0 + sx * n, y0 + sy * ((2 * ady * n + adx) / (2 * adx))});
    else
        for (int32_t n = 0; n <= ady; ++n) points.insert({x0 + sx * (ady ? (2 * adx * n + ady) / (2 * ady) : 0), y0 + sy * n});
    return points;
}

std::set<std::pair<int32_t, int32_t>> inked(const bitmap_data *b)
{
    std::set<std::pair<int32_t, int32_t>> points;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x)
            if (pixel(b, x, y)) points.insert({x, y});
    return points;
}

class drawing : public ::testing::TestWithParam<int16_t>
{
};

TEST_P(drawing, lines_in_every_octant_are_the_reference_pixels)
{
    const rgb_color white = rgb_white;
    for (int32_t radius : {1, 3, 7})
        for (int32_t dx = -radius; dx <= radius; ++dx)
            for (int32_t dy = -radius; dy <= radius; ++dy)
            {
                if (abs(dx) != radius && abs(dy) != radius) continue;
                bitmap_pointer b = make_bitmap(20, 20, GetParam());
                const point2d p0 = {10, 10}, p1 = {(int16_t)(10 + dx), (int16_t)(10 + dy)};
                draw_line(b.get(), &white, 0, nullptr, nullptr, &p0, &p1);
                ASSERT_EQ(inked(b.get()), reference_line(10, 10, 10 + dx, 10 + dy)) << dx << "," << dy;
            }
}

TEST_P(drawing, clipped_drawings_are_the_unclipped_ones_masked_by_the_clip)
{
    std::mt19937 random(7);
    const rgb_color color = {40000, 20000, 60000, 0};
    const std::vector<uint8_t> table = normal_table();
    for (int32_t trial = 0; trial < 60; ++trial)
    {
        auto coordinate = [&](void) { return (int16_t)((int32_t)(random() % 44) - 8); };
        const rectangle2d clip = {(int16_t)(random() % 14), (int16_t)(random() % 14), (int16_t)(14 + random() % 16),
                                  (int16_t)(14 + random() % 16)};
        point2d vertices[5];
        for (point2d &v : vertices) v = {coordinate(), coordinate()};
        const rectangle2d box = {coordinate(), coordinate(), coordinate(), coordinate()};
        const fixed_fraction transparency = trial % 2 ? 0x5000 : 0;
        bitmap_pointer whole = make_bitmap(28, 28, GetParam(), 0x21), cut = make_bitmap(28, 28, GetParam(), 0x21);
        for (bitmap_data *b : {whole.get(), cut.get()})
        {
            const rectangle2d *c = b == cut.get() ? &clip : nullptr;
            switch (trial % 3)
            {
            case 0: draw_line(b, &color, transparency, table.data(), c, &vertices[0], &vertices[1]); break;
            case 1: fill_polygon(b, &color, c, transparency, table.data(), vertices, 5); break;
            default: fill_rectangle_clipped(b, &color, &box, c, transparency, table.data()); break;
            }
        }
        const bitmap_pointer blank = make_bitmap(28, 28, GetParam(), 0x21);
        for (int32_t y = 0; y < 28; ++y)
            for (int32_t x = 0; x < 28; ++x)
            {
                const point2d p = {(int16_t)x, (int16_t)y};
                const uint32_t want = point2d_in_rectangle2d(&clip, &p) ? pixel(whole.get(), x, y) : pixel(blank.get(), x, y);
                ASSERT_EQ(pixel(cut.get(), x, y), want) << "trial " << trial << " at " << x << "," << y;
            }
    }
}

TEST_P(drawing, polygon_fill_ignores_winding_and_start_and_is_even_odd)
{
    const rgb_color white = rgb_white;
    const point2d shape[5] = {{2, 1}, {17, 4}, {14, 15}, {6, 18}, {1, 9}};
    bitmap_pointer first = make_bitmap(20, 20, GetParam());
    fill_polygon(first.get(), &white, nullptr, 0, nullptr, shape, 5);
    for (int32_t start = 0; start < 5; ++start)
        for (bool reversed : {false, true})
        {
            point2d v[5];
            for (int32_t i = 0; i < 5; ++i) v[i] = shape[(reversed ? start + 5 - i : start + i) % 5];
            bitmap_pointer b = make_bitmap(20, 20, GetParam());
            fill_polygon(b.get(), &white, nullptr, 0, nullptr, v, 5);
            ASSERT_EQ(bytes_of(b.get()), bytes_of(first.get())) << start << reversed;
        }
    // A bow tie: the two lobes fill, the gaps between them do not.
    const point2d bow[4] = {{0, 0}, {10, 10}, {10, 0}, {0, 10}};
    bitmap_pointer b = make_bitmap(12, 12, GetParam());
    fill_polygon(b.get(), &white, nullptr, 0, nullptr, bow, 4);
    EXPECT_NE(pixel(b.get(), 1, 5), 0u);
    EXPECT_NE(pixel(b.get(), 9, 5), 0u);
    EXPECT_EQ(pixel(b.get(), 5, 1), 0u);
    EXPECT_EQ(pixel(b.get(), 5, 9), 0u);
    // More vertices than the edge array holds draw nothing.
    point2d many[33];
    for (int32_t i = 0; i < 33; ++i) many[i] = {(int16_t)(i % 11), (int16_t)(i / 3)};
    bitmap_pointer untouched = make_bitmap(12, 12, GetParam());
    {
        expected_assertions expect(1, "MAXIMUM_EDGES_PER_POLYGON");
        fill_polygon(untouched.get(), &white, nullptr, 0, nullptr, many, 33);
    }
    EXPECT_EQ(inked(untouched.get()).size(), 0u);
}

TEST_P(drawing, translucent_fills_blend_by_the_transparency_formula)
{
    const std::vector<uint8_t> table = normal_table();
    const rgb_color color = {0xF000, 0x3000, 0x9000, 0};
    const int16_t encoding = GetParam();
    for (fixed_fraction transparency : {(fixed_fraction)0x0FFF, (fixed_fraction)0x1000, (fixed_fraction)0xF000})
    {
        bitmap_pointer b = make_bitmap(4, 3, encoding, 0x5A);
        const uint32_t before = pixel(b.get(), 1, 1);
        const rectangle2d r = {1, 1, 2, 3};
        fill_rectangle_clipped(b.get(), &color, &r, nullptr, transparency, table.data());
        EXPECT_EQ(pixel(b.get(), 1, 1), blended(encoding, transparency >> 12, before, packed(encoding, &color)))
            << std::hex << transparency;
        EXPECT_EQ(pixel(b.get(), 0, 0), before) << "outside the rectangle";
    }
}

TEST_P(drawing, refused_destinations_stay_byte_identical)
{
    const rgb_color white = rgb_white;
    const point2d p0 = {0, 0}, p1 = {5, 3};
    const rectangle2d r = {0, 0, 4, 6};
    for (int16_t flag : {_1bit_transparency_encoded_flag, _4bit_transparency_encoded_flag, _grayscale_bitmap_flag})
    {
        bitmap_pointer b = make_bitmap(6, 4, GetParam(), 0x33);
        b->flags |= flag;
        const std::vector<uint8_t> before = bytes_of(b.get());
        {
            expected_assertions expect(2);
            draw_line(b.get(), &white, 0, nullptr, nullptr, &p0, &p1);
            fill_rectangle_clipped(b.get(), &white, &r, nullptr, 0, nullptr);
        }
        fill_polygon(b.get(), &white, nullptr, 0, nullptr, &p0, 1);
        bitmap_pointer source = make_bitmap(2, 2, _32bit_encoding, 0x77);
        {
            expected_assertions expect(1, "not supported");
            copy_bitmap(b.get(), nullptr, source.get(), nullptr, nullptr, 0, nullptr);
        }
        EXPECT_EQ(bytes_of(b.get()), before) << flag;
    }
}

INSTANTIATE_TEST_SUITE_P(encodings, drawing,
                         ::testing::Values((int16_t)_16bit_555_encoding, (int16_t)_16bit_565_encoding,
                                           (int16_t)_32bit_encoding));

TEST(drawing_rectangles, edge_cases_of_the_rectangle_arithmetic)
{
    rectangle2d out;
    const rectangle2d a = {0, 0, 10, 10}, touching = {0, 10, 10, 20};
    EXPECT_FALSE(intersect_rectangles2d(&a, &touching, &out));
    EXPECT_TRUE(equal_rectangle2d(&out, &(const rectangle2d &)rectangle2d{0, 0, 0, 0}));
    const rectangle2d bounds = {0, 0, 50, 20}, wide = {5, 5, 15, 45};
    adjust_rectangle2d(&bounds, &wide, &out, _adjust_rectangle_center);
    EXPECT_EQ(out.left, 0) << "a source wider than the bounds stays on the screen";
    EXPECT_EQ(out.top, 20);
    const rgb_color white = rgb_white;
    bitmap_pointer b = make_bitmap(8, 8, _16bit_565_encoding);
    const point2d from = {5, 3}, to = {1, 3};
    draw_line(b.get(), &white, 0, nullptr, nullptr, &from, &to);
    EXPECT_EQ(inked(b.get()), reference_line(1, 3, 5, 3));
    // A hardware frame buffer without a back end: a halt line, no write.
    bitmap_data frame_buffer;
    initialize_bitmap_data_lite(&frame_buffer, nullptr, 64, 64, 0, _opengl_frame_buffer_encoding);
    expected_assertions expect(2, "halt");
    draw_line(&frame_buffer, &white, 0, nullptr, nullptr, &from, &to);
    fill_rectangle_clipped(&frame_buffer, &white, &a, nullptr, 0, nullptr);
}

// ---- copying ---------------------------------------------------------------------------------------

// A run-length bitmap of `pixel_bytes` per pixel; `opaque(x, y)` says which
// pixels exist and `value(x, y)` their bytes.
template <typename Opaque, typename Value>
bitmap_pointer make_run_length(int16_t w, int16_t h, int32_t pixel_bytes, int16_t encoding, Opaque opaque, Value value)
{
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < h; ++y)
    {
        std::vector<encoded_span> spans;
        std::vector<uint8_t> pixels;
        for (int32_t x = 0; x < w; ++x)
        {
            if (!opaque(x, y)) continue;
            if (spans.empty() || spans.back().end != x) spans.push_back({(int16_t)x, (int16_t)(x + 1)});
            else spans.back().end = (int16_t)(x + 1);
            const uint32_t v = value(x, y);
            for (int32_t k = 0; k < pixel_bytes; ++k) pixels.push_back((uint8_t)(v >> (8 * k)));
        }
        encoded_span_header header = {(int16_t)spans.size(), (int16_t)(pixels.size() / pixel_bytes)};
        const size_t start = rows.size();
        rows.resize(start + 4 + 4 * spans.size());
        memcpy(rows.data() + start, &header, 4);
        if (!spans.empty()) memcpy(rows.data() + start + 4, spans.data(), 4 * spans.size());
        rows.insert(rows.end(), pixels.begin(), pixels.end());
        if (rows.size() & 1) rows.push_back(0);
    }
    const int16_t flags = _1bit_transparency_encoded_flag | _word_aligned_encoding_flag;
    const size_t header_size = sizeof_bitmap(h, flags);
    bitmap_pointer b((bitmap_data *)calloc(1, header_size + rows.size() + 4));
    b->width = w;
    b->height = h;
    b->bytes_per_row = NONE;
    b->flags = flags;
    b->encoding = encoding;
    b->logical_bit_depth = (int16_t)(encoding == _8bit_encoding ? 8 : 8 * pixel_bytes);
    b->pixel_upshift = (int16_t)(pixel_bytes == 4 ? 2 : pixel_bytes == 2 ? 1 : 0);
    b->row_addresses[0] = (uint8_t *)b.get() + header_size;
    memcpy(b->row_addresses[0], rows.data(), rows.size());
    precalculate_bitmap_row_addresses(b.get());
    return b;
}

// A flat bitmap of `pixel_bytes` per pixel filled by `value(x, y)`.
template <typename Value>
bitmap_pointer make_flat(int16_t w, int16_t h, int32_t pixel_bytes, int16_t encoding, int16_t flags, Value value)
{
    bitmap_pointer b(new_bitmap(w, h, (int16_t)(w * pixel_bytes), encoding, 0));
    b->flags |= flags;
    if (pixel_bytes == 2 && encoding == _8bit_encoding) b->pixel_upshift = 1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
        {
            const uint32_t v = value(x, y);
            memcpy(b->row_addresses[y] + x * pixel_bytes, &v, (size_t)pixel_bytes);
        }
    return b;
}

struct copy_case
{
    int32_t mode;
    int16_t destination_encoding;
    int32_t source_kind; // 0 8-bit, 1 8-bit keyed, 2 nibble, 3 555, 4 565, 5 32-bit
    fixed_fraction transparency;
};

// What `mode` writes for source value `s` over destination pixel `d`, from
// the table of modes; `keep` says the pixel is left alone.
uint32_t reference_copy(const copy_case &c, uint32_t d, uint32_t s, const uint8_t *colors, bool *keep)
{
    *keep = false;
    const int16_t de = c.destination_encoding;
    auto color = [&](uint32_t index) {
        uint32_t v = 0;
        const int32_t size = de == _32bit_encoding ? 4 : 2;
        memcpy(&v, colors + size * (index & 255), (size_t)size);
        return v;
    };
    const int32_t level = c.transparency >> 12;
    switch (c.mode)
    {
    case _copy_8bit_to_16bit: case _copy_8bit_to_32bit: return color(s);
    case _copy_8bit_to_16bit_color_key: case _copy_8bit_to_32bit_color_key:
        *keep = (s & 255) == 0;
        return color(s);
    case _copy_16bit_to_16bit: case _copy_32bit_to_32bit: return s;
    case _copy_16bit_555_to_32bit: return 0xFF000000u | ((s >> 10) & 31) << 19 | ((s >> 5) & 31) << 11 | (s & 31) << 3;
    case _copy_16bit_565_to_32bit: return 0xFF000000u | (s >> 11) << 19 | ((s >> 6) & 31) << 11 | (s & 31) << 3;
    case _copy_32bit_to_16bit_555: return ((s >> 16) & 255) >> 3 << 10 | ((s >> 8) & 255) >> 3 << 5 | (s & 255) >> 3;
    case _copy_32bit_to_16bit_565: return ((s >> 16) & 255) >> 3 << 11 | ((s >> 8) & 255) >> 3 << 6 | (s & 255) >> 3;
    case _copy_16bit_555_to_16bit_565: return (s >> 10 & 31) << 11 | ((s >> 5 & 31) << 1 | (s >> 5 & 1)) << 5 | (s & 31);
    case _copy_16bit_565_to_16bit_555: return (s >> 11) << 10 | ((s >> 6) & 31) << 5 | (s & 31);
    case _copy_16bit_transparency_to_16bit_555: case _copy_16bit_transparency_to_16bit_565:
    case _copy_32bit_transparency_to_32bit:
        return blended(de, level, d, s);
    case _copy_8bit_transparency_to_16bit_555: case _copy_8bit_transparency_to_16bit_565:
    case _copy_8bit_transparency_to_32bit:
        return blended(de, level, d, color(s));
    case _copy_8bit_transparency_to_16bit_555_color_key: case _copy_8bit_transparency_to_16bit_565_color_key:
    case _copy_8bit_transparency_to_32bit_color_key:
        *keep = (s & 255) == 0;
        return blended(de, level, d, color(s));
    case _copy_8bit_encoded_transparency_to_16bit_555: case _copy_8bit_encoded_transparency_to_16bit_565:
    case _copy_8bit_encoded_transparency_to_32bit:
    {
        const int32_t nibble = (s >> 8) & 15;
        return nibble ? blended(de, nibble, d, color(s)) : color(s);
    }
    default: // constant and encoded: the larger level wins
    {
        const int32_t nibble = (s >> 8) & 15, l = nibble > level ? nibble : level;
        return l ? blended(de, l, d, color(s)) : color(s);
    }
    }
}

TEST(copy_bitmap_modes, every_mode_matches_the_per_pixel_reference)
{
    const std::vector<uint8_t> table = normal_table();
    const copy_case cases[] = {
        {_copy_8bit_to_16bit, _16bit_565_encoding, 0, 0}, {_copy_16bit_to_16bit, _16bit_565_encoding, 4, 0},
        {_copy_16bit_555_to_32bit, _32bit_encoding, 3, 0}, {_copy_16bit_565_to_32bit, _32bit_encoding, 4, 0},
        {_copy_32bit_to_16bit_555, _16bit_555_encoding, 5, 0}, {_copy_32bit_to_16bit_565, _16bit_565_encoding, 5, 0},
        {_copy_16bit_555_to_16bit_565, _16bit_565_encoding, 3, 0}, {_copy_16bit_565_to_16bit_555, _16bit_555_encoding, 4, 0},
        {_copy_16bit_transparency_to_16bit_565, _16bit_565_encoding, 4, 0x6000},
        {_copy_16bit_transparency_to_16bit_555, _16bit_555_encoding, 3, 0x6000},
        {_copy_8bit_transparency_to_16bit_555, _16bit_555_encoding, 0, 0x3000},
        {_copy_8bit_encoded_transparency_to_16bit_555, _16bit_555_encoding, 2, 0},
        {_copy_8bit_to_16bit_color_key, _16bit_555_encoding, 1, 0},
        {_copy_8bit_transparency_to_16bit_555_color_key, _16bit_555_encoding, 1, 0x9000},
        {_copy_8bit_constant_and_encoded_transparency_to_16bit_555, _16bit_555_encoding, 2, 0x7000},
        {_copy_8bit_transparency_to_16bit_565, _16bit_565_encoding, 0, 0x1000},
        {_copy_8bit_transparency_to_16bit_565_color_key, _16bit_565_encoding, 1, 0xF000},
        {_copy_8bit_encoded_transparency_to_16bit_565, _16bit_565_encoding, 2, 0},
        {_copy_8bit_constant_and_encoded_transparency_to_16bit_565, _16bit_565_encoding, 2, 0x4000},
        {_copy_8bit_to_32bit, _32bit_encoding, 0, 0}, {_copy_8bit_to_32bit_color_key, _32bit_encoding, 1, 0},
        {_copy_32bit_to_32bit, _32bit_encoding, 5, 0}, {_copy_32bit_transparency_to_32bit, _32bit_encoding, 5, 0x8000},
        {_copy_8bit_transparency_to_32bit, _32bit_encoding, 0, 0x2000},
        {_copy_8bit_transparency_to_32bit_color_key, _32bit_encoding, 1, 0x2000},
        {_copy_8bit_encoded_transparency_to_32bit, _32bit_encoding, 2, 0},
        {_copy_8bit_constant_and_encoded_transparency_to_32bit, _32bit_encoding, 2, 0xA000},
    };
    std::mt19937 random(11);
    std::vector<uint8_t> colors(1024);
    for (uint8_t &c : colors) c = (uint8_t)random();
    for (int32_t i = 0; i < 256; ++i) colors[4 * i + 3] = 0xFF;
    for (const copy_case &c : cases)
    {
        auto value = [&](int32_t x, int32_t y) -> uint32_t {
            const uint32_t r = (uint32_t)(x * 73 + y * 151) * 2654435761u;
            switch (c.source_kind)
            {
            case 0: return (r >> 8) & 255;
            case 1: return (x + y) % 3 ? (r >> 8) & 255 : 0;
            case 2: return ((r >> 12) & 15) << 8 | ((r >> 4) & 255);
            case 3: return (r >> 3) & 0x7FFF;
            case 4: return (r >> 5) & 0xFFFF;
            default: return r | 0xFF000000u;
            }
        };
        const int32_t bytes = c.source_kind <= 1 ? 1 : c.source_kind == 5 ? 4 : 2;
        const int16_t source_encoding = c.source_kind == 3 ? _16bit_555_encoding : c.source_kind == 4 ? _16bit_565_encoding
                                      : c.source_kind == 5 ? _32bit_encoding : _8bit_encoding;
        const int16_t flags = c.source_kind == 1 ? _bitmap_color_key_transparency_flag
                            : c.source_kind == 2 ? _4bit_transparency_encoded_flag : 0;
        bitmap_pointer source = make_flat(7, 5, bytes, source_encoding, flags, value);
        const int32_t destination_bytes = c.destination_encoding == _32bit_encoding ? 4 : 2;
        bitmap_pointer destination = make_flat(9, 7, destination_bytes, c.destination_encoding, 0,
                                               [](int32_t x, int32_t y) { return (uint32_t)(0x9E3779B9u * (x * 7 + y + 1)) | 0xFF000000u; });
        bitmap_pointer before = make_flat(9, 7, destination_bytes, c.destination_encoding, 0,
                                          [&](int32_t x, int32_t y) { return pixel(destination.get(), x, y); });
        ASSERT_EQ(choose_copy_bitmap_mode(destination.get(), source.get(), true, c.transparency), c.mode) << c.mode;
        const point2d at = {1, 2};
        copy_bitmap(destination.get(), &at, source.get(), nullptr, colors.data(), c.transparency, table.data());
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 9; ++x)
            {
                const uint32_t d = pixel(before.get(), x, y);
                uint32_t want = d;
                if (x >= 1 && x < 8 && y >= 2 && y < 7)
                {
                    bool keep;
                    const uint32_t s = value(x - 1, y - 2);
                    const uint32_t r = reference_copy(c, d, s, colors.data(), &keep);
                    if (!keep) want = r;
                }
                if (destination_bytes == 2) want &= 0xFFFF;
                ASSERT_EQ(pixel(destination.get(), x, y), want) << "mode " << c.mode << " at " << x << "," << y;
            }
    }
    // 24-bit destinations get red, green, blue in memory order.
    bitmap_pointer rgb = make_bitmap(2, 1, _24bit_encoding);
    bitmap_pointer deep = make_flat(2, 1, 4, _32bit_encoding, 0, [](int32_t, int32_t) { return 0xFF123456u; });
    copy_bitmap(rgb.get(), nullptr, deep.get(), nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(rgb->row_addresses[0][0], 0x12);
    EXPECT_EQ(rgb->row_addresses[0][1], 0x34);
    EXPECT_EQ(rgb->row_addresses[0][2], 0x56);
    // An 8-bit destination takes only 8-bit sources.
    bitmap_pointer bytes = make_bitmap(2, 1, _8bit_encoding, 9);
    {
        expected_assertions expect(1, "not supported");
        copy_bitmap(bytes.get(), nullptr, deep.get(), nullptr, nullptr, 0, nullptr);
    }
    EXPECT_EQ(bytes->row_addresses[0][0], 9);
}

TEST(copy_bitmap_clipping, run_length_and_flat_copies_clip_like_masked_full_copies)
{
    std::mt19937 random(5);
    std::vector<uint8_t> colors(1024);
    for (int32_t i = 0; i < 256; ++i)
    {
        const uint32_t v = 0xFF000000u | (uint32_t)(i * 0x010203 + 0x404040);
        memcpy(colors.data() + 4 * i, &v, 4);
    }
    const std::vector<uint8_t> table = normal_table();
    auto opaque = [](int32_t x, int32_t y) { return (x * 3 + y * 5) % 7 < 4; };
    auto value = [](int32_t x, int32_t y) { return (uint32_t)(x * 16 + y + 1); };
    bitmap_pointer sprite = make_run_length(11, 9, 1, _8bit_encoding, opaque, value);
    bitmap_pointer flat = make_flat(11, 9, 1, _8bit_encoding, 0, value);
    for (int32_t trial = 0; trial < 80; ++trial)
    {
        const bitmap_data *source = trial % 2 ? sprite.get() : flat.get();
        const point2d at = {(int16_t)((int32_t)(random() % 30) - 12), (int16_t)((int32_t)(random() % 30) - 12)};
        const rectangle2d clip = {(int16_t)(random() % 10), (int16_t)(random() % 10), (int16_t)(8 + random() % 14),
                                  (int16_t)(8 + random() % 14)};
        const fixed_fraction transparency = trial % 4 >= 2 ? 0x4000 : 0;
        // The reference: the sprite copied whole into a large bitmap, then moved.
        bitmap_pointer big = make_bitmap(60, 60, _32bit_encoding, 0x10);
        const point2d shifted = {(int16_t)(at.x + 20), (int16_t)(at.y + 20)};
        copy_bitmap(big.get(), &shifted, source, nullptr, colors.data(), transparency, table.data());
        bitmap_pointer small = make_bitmap(20, 20, _32bit_encoding, 0x10);
        copy_bitmap(small.get(), &at, source, &clip, colors.data(), transparency, table.data());
        for (int32_t y = 0; y < 20; ++y)
            for (int32_t x = 0; x < 20; ++x)
            {
                const point2d p = {(int16_t)x, (int16_t)y};
                const uint32_t want = point2d_in_rectangle2d(&clip, &p) ? pixel(big.get(), x + 20, y + 20) : 0x10101010u;
                ASSERT_EQ(pixel(small.get(), x, y), want) << "trial " << trial << " at " << x << "," << y;
            }
    }
    // A source at (-3, -2) lands its lower-right part at the origin.
    bitmap_pointer d = make_bitmap(12, 12, _32bit_encoding);
    const point2d corner = {-3, -2};
    copy_bitmap(d.get(), &corner, flat.get(), nullptr, colors.data(), 0, nullptr);
    uint32_t expected;
    memcpy(&expected, colors.data() + 4 * (value(3, 2) & 255), 4);
    EXPECT_EQ(pixel(d.get(), 0, 0), expected);
}

} // namespace

} // namespace bitmap_drawing_test_file
