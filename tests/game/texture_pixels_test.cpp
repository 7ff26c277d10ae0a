// The pixel converter against a reference written here from the texel
// tables (each texel computed on its own, colours spread from an untouched
// copy), over random opaque, masked, span-encoded and overlay bitmaps, with
// and without a frame and premultiplication, for every target encoding; and
// the refusals of rows the bitmap's own fields contradict.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "hardware/texture_pixels.h"
#include "support/scratch.h"
#include "support/texture_bitmaps.h"

namespace texture_pixels_test_file {

namespace {

struct reference_request
{
    int32_t encoding;
    bool premultiply, border;
};

uint32_t reference_texel(const test_shading_table &shades, const reference_request &r, uint32_t index, uint32_t alpha)
{
    const uint32_t c16 = shades.shade16[index] & 0x7FFF, c32 = shades.shade32[index] & 0xFFFFFF;
    const uint32_t red5 = c16 >> 10, green5 = (c16 >> 5) & 31, blue5 = c16 & 31;
    switch (r.encoding)
    {
    case 7:
    case 8:
        if (r.premultiply) return alpha >= 128 ? 0x8000 | c16 : 0;
        return (alpha >= 128 ? 0x8000 : 0) | c16;
    case 9:
    {
        const uint32_t a4 = alpha / 16;
        if (r.premultiply)
            return a4 * 4096 + (red5 * (a4 + 1) / 32) * 256 + (green5 * (a4 + 1) / 32) * 16 + blue5 * (a4 + 1) / 32;
        return a4 * 4096 + (red5 / 2) * 256 + (green5 / 2) * 16 + blue5 / 2;
    }
    case 10:
    case 11:
        if (r.premultiply)
        {
            uint32_t texel = alpha << 24;
            for (int32_t shift = 0; shift < 24; shift += 8)
                texel |= (((c32 >> shift) & 255) * (alpha + 1) / 256) << shift;
            return texel;
        }
        return alpha * 16777216u + c32;
    default:
        return alpha;
    }
}

// The texels of the whole area (frame included), row by row.
std::vector<uint32_t> reference_conversion(bitmap_data *b, const test_shading_table &shades, const color_table *colors,
                                           const reference_request &r)
{
    const int32_t w = b->width, h = b->height, inset = r.border, W = w + 2 * inset, H = h + 2 * inset;
    const bool masked = b->flags & _4bit_transparency_encoded_flag, spans = b->flags & _1bit_transparency_encoded_flag;
    const bool overlay = colors && (b->flags & _bitmap_is_overlay_flag) && r.encoding != 13;
    auto decode = [&](const uint8_t *element, uint32_t *index) {
        *index = element[0];
        uint32_t alpha = masked ? (15 - (element[1] & 15)) * 17 : (element[0] ? 255 : 0);
        if (overlay)
        {
            const rgb_color &c = colors->colors[element[0]];
            alpha = std::max({c.red, c.green, c.blue}) / 256;
        }
        return alpha;
    };
    const int32_t size = masked ? 2 : 1;
    std::vector<uint32_t> out((size_t)W * H, 0);
    for (int32_t y = 0; y < h; ++y)
    {
        uint32_t *row = &out[(size_t)(y + inset) * W + inset]; // row[-inset .. w + inset)
        const uint8_t *source = b->row_addresses[y];
        if (!spans)
        {
            for (int32_t x = 0; x < w; ++x)
            {
                uint32_t index;
                const uint32_t alpha = decode(source + x * size, &index);
                row[x] = reference_texel(shades, r, index, alpha);
            }
            continue;
        }
        int16_t count;
        memcpy(&count, source, 2);
        struct span
        {
            int16_t start, end;
            const uint8_t *elements;
        };
        std::vector<span> list;
        const uint8_t *elements = source + 4 + 4 * count;
        for (int32_t i = 0; i < count; ++i)
        {
            span s;
            memcpy(&s.start, source + 4 + 4 * i, 2);
            memcpy(&s.end, source + 6 + 4 * i, 2);
            s.elements = elements;
            elements += (s.end - s.start) * size;
            list.push_back(s);
        }
        for (int32_t x = -inset; x < w + inset; ++x)
        {
            uint32_t value = 0, index;
            bool set = list.empty();
            for (const span &s : list)
                if (x >= s.start && x < s.end)
                {
                    const uint32_t alpha = decode(s.elements + (x - s.start) * size, &index);
                    value = reference_texel(shades, r, index, alpha), set = true;
                }
            for (const span &s : list)
                if (!set && x == s.end) // right after a span: its last colour
                    value = reference_texel(shades, r, s.elements[(s.end - s.start - 1) * size], 0), set = true;
            for (const span &s : list)
                if (!set && x < s.start) // before a span: its first colour
                    value = reference_texel(shades, r, s.elements[0], 0), set = true;
            if (!set) value = reference_texel(shades, r, list.back().elements[(list.back().end - list.back().start - 1) * size], 0);
            row[x] = value;
        }
    }
    const uint32_t mask = r.encoding == 9 ? 0xF000 : r.encoding <= 8 ? 0x8000 : 0xFF000000u;
    if (!spans && !r.premultiply && r.encoding != 13)
    {
        const std::vector<uint32_t> original = out;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
            {
                if (original[(size_t)y * W + x] & mask) continue;
                bool done = false;
                for (int32_t ny = y - 1; ny <= y + 1 && !done; ++ny)
                    for (int32_t nx = x - 1; nx <= x + 1 && !done; ++nx)
                        if (ny >= 0 && ny < H && nx >= 0 && nx < W && (original[(size_t)ny * W + nx] & mask))
                            out[(size_t)y * W + x] = original[(size_t)ny * W + nx] & ~mask, done = true;
            }
    }
    return out;
}

color_table make_test_colors(std::mt19937 &random)
{
    color_table colors = {};
    colors.color_count = 256;
    for (rgb_color &c : colors.colors)
    {
        c.red = (uint16_t)random(), c.green = (uint16_t)random(), c.blue = (uint16_t)random();
        if (random() % 8 == 0) c.red = 65535, c.green = c.blue = 0;
        if (random() % 8 == 0) c.red = c.green = c.blue = 0;
    }
    return colors;
}

TEST(texture_pixels, every_encoding_mode_overlay_frame_and_premultiplication_matches_the_reference)
{
    std::mt19937 random(31);
    const test_shading_table shades = make_test_shading_table(3);
    const color_table colors = make_test_colors(random);
    const int16_t kinds[] = {0, _4bit_transparency_encoded_flag, _1bit_transparency_encoded_flag,
                             _1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag,
                             _bitmap_is_overlay_flag, _bitmap_is_overlay_flag | _1bit_transparency_encoded_flag};
    int32_t compared = 0;
    for (int32_t encoding : {7, 8, 9, 10, 11, 13})
        for (bool premultiply : {false, true})
            for (bool border : {false, true})
                for (int16_t kind : kinds)
                    for (int32_t repeat = 0; repeat < 3; ++repeat)
                    {
                        const int16_t w = (int16_t)(1 + random() % 24), h = (int16_t)(1 + random() % 12);
                        test_bitmap b = make_random_indexed_bitmap(random, w, h, kind);
                        const reference_request r = {encoding, premultiply, border};
                        const std::vector<uint32_t> expected = reference_conversion(b.get(), shades, &colors, r);
                        const int32_t depth = encoding == 13 ? 1 : encoding <= 9 ? 2 : 4;
                        const int32_t W = w + 2 * border, H = h + 2 * border, stride = (W + 3) * depth;
                        std::vector<uint8_t> block((size_t)stride * H, 0xCD);
                        const void *table = depth == 4 ? (const void *)shades.shade32 : (const void *)shades.shade16;
                        ASSERT_EQ(decompress_and_copy_pixels(b.get(), &colors, table, nullptr, block.data(), encoding,
                                                             stride, block.size(), premultiply, border),
                                  _texture_conversion_done);
                        for (int32_t y = 0; y < H; ++y)
                        {
                            for (int32_t x = 0; x < W; ++x)
                            {
                                uint32_t texel = 0;
                                memcpy(&texel, &block[(size_t)y * stride + (size_t)x * depth], (size_t)depth);
                                ASSERT_EQ(texel, expected[(size_t)y * W + x])
                                    << "encoding " << encoding << " premultiply " << premultiply << " border "
                                    << border << " kind " << kind << " at " << x << "," << y << " of " << w << "x"
                                    << h;
                            }
                            // (A frame's top and bottom rows are cleared over the whole pitch.)
                            const bool frame_row = border && (y == 0 || y == H - 1);
                            for (int32_t x = W * depth; x < stride && !frame_row; ++x)
                                ASSERT_EQ(block[(size_t)y * stride + x], 0xCD) << "written past the area";
                        }
                        ++compared;
                    }
    EXPECT_EQ(compared, 6 * 2 * 2 * 6 * 3);
}

TEST(texture_pixels, transparency_steps_and_premultiplication_of_single_texels)
{
    test_shading_table shades = {};
    shades.shade16[9] = 31 << 10 | 31 << 5 | 31;
    struct texel_case
    {
        int32_t encoding;
        bool premultiply;
        uint8_t transparency;
        uint32_t texel;
    } cases[] = {
        {8, false, 7, 0xFFFF}, {8, false, 8, 0x7FFF}, {9, false, 7, 0x8FFF},
        {9, true, 7, 0x8000 | 8 << 8 | 8 << 4 | 8}, {9, true, 15, 0}, {9, true, 0, 0xFFFF},
    };
    for (const texel_case &c : cases)
    {
        test_bitmap b = make_flat_test_bitmap(1, 1, _4bit_transparency_encoded_flag, _8bit_encoding, 2,
                                              {9, c.transparency});
        uint16_t texel = 0;
        ASSERT_EQ(decompress_and_copy_pixels(b.get(), nullptr, shades.shade16, nullptr, (uint8_t *)&texel, c.encoding,
                                             2, 2, c.premultiply, false),
                  _texture_conversion_done);
        EXPECT_EQ(texel, c.texel) << "encoding " << c.encoding << " t " << (int)c.transparency;
    }
}

// Span rows are plug-in data: rows their own fields contradict are refused,
// without a read outside the row (each bitmap is one row in a block of its
// exact size).
TEST(texture_pixels, contradictory_span_rows_are_refused_without_reading_outside_them)
{
    const test_shading_table shades = make_test_shading_table(4);
    struct bad_row
    {
        const char *what;
        test_span_row row;
        int16_t span_count_override;
    } rows[] = {
        {"spans that do not ascend", {{{5, 8}, {2, 4}}, std::vector<uint8_t>(5, 1)}, 0},
        {"a span past the row", {{{0, 13}}, std::vector<uint8_t>(13, 1)}, 0},
        {"an empty span", {{{3, 3}}, {}}, 0},
        {"more pixels than the header holds", {{{0, 6}}, std::vector<uint8_t>(2, 1), 2}, 0},
        {"a pixel count past the width", {{{0, 2}}, std::vector<uint8_t>(2, 1), 11}, 0},
        {"a negative span count", {{}, {}}, -1},
        {"more spans than the row has texels", {{}, {}}, 30000},
    };
    for (const bad_row &bad : rows)
    {
        test_bitmap b = make_span_test_bitmap(10, 1, 0, {bad.row});
        if (bad.span_count_override) memcpy(b.pixels.data(), &bad.span_count_override, 2);
        std::vector<uint8_t> block(12 * 3 * 4);
        EXPECT_EQ(decompress_and_copy_pixels(b.get(), nullptr, shades.shade32, nullptr, block.data(), 11, 12 * 4,
                                             block.size(), false, true),
                  _texture_conversion_corrupt_rows)
            << bad.what;
    }
}

// Through the cache: a refused bitmap fails its lookup, is logged once, and
// nothing is uploaded; forms the converter has no table for are still made.
class texture_pixels_cache_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    fake_texture_back_end back_end;
    test_shading_table shades = make_test_shading_table(5);
    void SetUp(void) override
    {
        clear_all_registrations();
        ASSERT_TRUE(open_log_file_at("log.txt", "texture pixels test"));
        ASSERT_TRUE(back_end.start_cache(1 << 24));
    }
    void TearDown(void) override
    {
        dispose_texture_cache_from_old_map();
        close_log_file();
    }
    const cached_texture_data *look(bitmap_data *bitmap, const void *table, uint32_t flags)
    {
        cached_texture_descriptor descriptor;
        initialize_cached_texture_descriptor(&descriptor, 0, bitmap, nullptr, table, flags);
        return texture_cache_lookup(&descriptor);
    }
    int32_t refusals_logged(void)
    {
        const std::string log = read_whole_file("log.txt");
        int32_t count = 0;
        for (size_t at = log.find("drawn without a texture"); at != std::string::npos;
             at = log.find("drawn without a texture", at + 1))
            ++count;
        return count;
    }
};

TEST_F(texture_pixels_cache_test, undecodable_and_corrupt_bitmaps_fail_their_lookups_with_one_line_each)
{
    test_bitmap sprite = make_flat_test_bitmap(4, 4, 0, _r8g8b8a5h3_sprite_rle_bitmap_encoding, 1, {});
    test_bitmap crooked = make_span_test_bitmap(10, 1, 0, {{{{5, 8}, {2, 4}}, std::vector<uint8_t>(5, 1)}});
    for (int32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(look(sprite.get(), shades.shade32, 0), nullptr);
        EXPECT_EQ(look(crooked.get(), shades.shade32, 0), nullptr);
    }
    EXPECT_EQ(back_end.news, 0) << "nothing uploaded";
    EXPECT_EQ(texture_cache_entry_count(), 0);
    EXPECT_EQ(refusals_logged(), 2);
}

TEST_F(texture_pixels_cache_test, framed_alpha_masks_and_framed_copies_sit_one_texel_in)
{
    // An 8-bit mask without shading table: white, the byte as alpha.
    test_bitmap mask = make_flat_test_bitmap(2, 1, 0, _8bit_encoding, 1, {0x80, 0xFF});
    ASSERT_NE(look(mask.get(), nullptr, _texture_border_flag), nullptr);
    std::vector<uint32_t> texels(back_end.last_pixels.size() / 4);
    memcpy(texels.data(), back_end.last_pixels.data(), back_end.last_pixels.size());
    ASSERT_EQ(texels.size(), 4u * 3u);
    EXPECT_EQ(texels, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0x80FFFFFF, 0xFFFFFFFF, 0, 0, 0, 0, 0}));

    // 555 pixels needing a frame are copied inside it, not passed through.
    test_bitmap pixels = make_flat_test_bitmap(1, 1, 0, _16bit_555_encoding, 2, {0x34, 0x12});
    const cached_texture_data *texture = look(pixels.get(), nullptr, _texture_border_flag);
    ASSERT_NE(texture, nullptr);
    EXPECT_FALSE(texture->passthrough_encoding);
    std::vector<uint16_t> framed(back_end.last_pixels.size() / 2);
    memcpy(framed.data(), back_end.last_pixels.data(), back_end.last_pixels.size());
    EXPECT_EQ(framed, (std::vector<uint16_t>{0, 0, 0, 0, 0x1234, 0, 0, 0, 0}));
}

} // namespace

} // namespace texture_pixels_test_file
