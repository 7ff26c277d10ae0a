// Bitmaps: allocation over every encoding, run-length rows against a plain
// expander, HSV round trips, nearest colours and palette remapping.

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "bitmaps.h"
#include "support/expected_assertions.h"

namespace bitmaps_test_file {

namespace {

TEST(bitmaps, new_bitmap_over_every_encoding)
{
    for (int16_t encoding = 1; encoding < NUMBER_OF_BITMAP_ENCODINGS; ++encoding)
    {
        const int32_t depth = encoding_byte_depths[encoding];
        bitmap_data *bitmap = new_bitmap(16, 8, NONE, encoding, 0);
        ASSERT_NE(bitmap, nullptr) << encoding;
        EXPECT_EQ(bitmap->bytes_per_row, 16 * depth) << encoding;
        EXPECT_EQ(bitmap->logical_bit_depth, 8 * depth) << encoding;
        EXPECT_EQ(bitmap->pixel_upshift, depth == 3 ? 0 : depth >> 1) << encoding;
        EXPECT_EQ(bitmap->flags, _bitmap_extended_encoding_flag | _power_of_two_flag) << encoding;
        EXPECT_EQ(bitmap->width_bits, 4);
        EXPECT_EQ(bitmap->height_bits, 3);
        EXPECT_EQ(bitmap->row_addresses[7], bitmap->row_addresses[0] + 7 * bitmap->bytes_per_row);
        free(bitmap);
    }
    bitmap_data *odd = new_bitmap(5, 3, NONE, _32bit_encoding, 0);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->flags & _power_of_two_flag, 0);
    EXPECT_EQ(odd->width_bits, 0);
    EXPECT_EQ(odd->hardware_width, 8);
    EXPECT_EQ(odd->hardware_height, 4);
    EXPECT_EQ(odd->hardware_width_bits, 3);
    free(odd);
    bitmap_data *one = new_bitmap(1, 1, NONE, _8bit_encoding, _no_row_address_table_flag);
    ASSERT_NE(one, nullptr);
    EXPECT_TRUE(one->flags & _power_of_two_flag);
    EXPECT_EQ(sizeof_bitmap(1, _no_row_address_table_flag), offsetof(bitmap_data, row_addresses) + sizeof(uint8_t *));
    free(one);
    bitmap_data *empty = new_bitmap(0, 0, NONE, _8bit_encoding, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->flags & _power_of_two_flag, 0);
    free(empty);

    // A row of 32767 bytes is the widest the 16-bit field holds.
    bitmap_data *widest = new_bitmap(32767, 1, NONE, _8bit_encoding, 0);
    EXPECT_NE(widest, nullptr);
    free(widest);
    EXPECT_EQ(new_bitmap(16384, 1, NONE, _16bit_565_encoding, 0), nullptr);
    EXPECT_EQ(new_bitmap(10, 1, 20, _32bit_encoding, 0), nullptr) << "rows shorter than the pixels";
    {
        expected_assertions expect(1, "encoding>0");
        EXPECT_EQ(new_bitmap(4, 4, NONE, 0, 0), nullptr);
    }
    bitmap_data lite;
    uint8_t pixels[12];
    initialize_bitmap_data_lite(&lite, pixels, 2, 2, 0, _24bit_encoding);
    EXPECT_EQ(lite.bytes_per_row, 6);
    EXPECT_EQ(lite.pixel_upshift, 0);
    EXPECT_EQ(lite.flags, _no_row_address_table_flag);
    EXPECT_EQ(next_highest_power_of_two(0), 1);
    EXPECT_EQ(next_highest_power_of_two(17), 32);
    EXPECT_EQ(find_first_one(1), 0);
    EXPECT_EQ(find_first_one(64), 6);
}

// A run-length row as a list of (start, end) spans over a row of indexes;
// pixel value 0 outside the spans.  Returns the row's bytes (host order).
struct rle_row
{
    std::vector<std::pair<int16_t, int16_t>> spans;
};

std::vector<uint8_t> encode_rows(const std::vector<rle_row> &rows, const std::vector<std::vector<uint16_t>> &pixels,
                                 bool nibble)
{
    std::vector<uint8_t> out;
    for (size_t y = 0; y < rows.size(); ++y)
    {
        int16_t count = 0;
        for (auto &s : rows[y].spans) count = (int16_t)(count + s.second - s.first);
        const int16_t header[2] = {(int16_t)rows[y].spans.size(), count};
        out.insert(out.end(), (const uint8_t *)header, (const uint8_t *)header + 4);
        for (auto &s : rows[y].spans)
        {
            const int16_t span[2] = {s.first, s.second};
            out.insert(out.end(), (const uint8_t *)span, (const uint8_t *)span + 4);
        }
        for (auto &s : rows[y].spans)
            for (int16_t x = s.first; x < s.second; ++x)
            {
                out.push_back((uint8_t)(pixels[y][x] & 0xFF));
                if (nibble) out.push_back((uint8_t)(pixels[y][x] >> 8));
            }
        if (out.size() & 1) out.push_back(0);
    }
    return out;
}

// The plain expander: alpha << 8 | index per pixel, 0 outside the spans.
std::vector<uint16_t> expand(const std::vector<rle_row> &rows, const std::vector<std::vector<uint16_t>> &pixels,
                             int16_t width, bool nibble, int32_t mode)
{
    std::vector<uint16_t> out(rows.size() * width, 0);
    for (size_t y = 0; y < rows.size(); ++y)
        for (auto &s : rows[y].spans)
            for (int16_t x = s.first; x < s.second; ++x)
            {
                const uint16_t index = pixels[y][x] & 0xFF;
                const uint16_t alpha = nibble ? (uint16_t)((15 - ((pixels[y][x] >> 8) & 15)) * 17) : index ? 255 : 0;
                out[y * width + x] = mode == _decompress_bitmap_8 ? index : (uint16_t)(alpha << 8 | index);
            }
    return out;
}

TEST(bitmaps, run_length_rows_expand_like_a_plain_expander)
{
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round)
    {
        const bool nibble = round & 1;
        const int16_t width = (int16_t)(1 + random() % 23), height = (int16_t)(1 + random() % 9);
        std::vector<rle_row> rows(height);
        std::vector<std::vector<uint16_t>> pixels(height, std::vector<uint16_t>(width));
        for (int16_t y = 0; y < height; ++y)
        {
            int16_t x = 0;
            while (x < width)
            {
                x = (int16_t)(x + random() % 4);
                if (x >= width) break;
                const int16_t end = (int16_t)(x + 1 + random() % (width - x));
                rows[y].spans.push_back({x, end});
                x = (int16_t)(end + 1);
            }
            for (int16_t p = 0; p < width; ++p) pixels[y][p] = (uint16_t)(random() % 256 | (random() % 16) << 8);
        }
        std::vector<uint8_t> encoded = encode_rows(rows, pixels, nibble);
        bitmap_data *bitmap = (bitmap_data *)calloc(1, sizeof_bitmap(height, 0));
        bitmap->width = width;
        bitmap->height = height;
        bitmap->bytes_per_row = NONE;
        bitmap->flags = _1bit_transparency_encoded_flag | _word_aligned_encoding_flag |
                        (nibble ? _4bit_transparency_encoded_flag : 0);
        bitmap->logical_bit_depth = 8;
        bitmap->pixel_upshift = nibble ? 1 : 0;
        // Round trip through file order: the walk must read each header in host order.
        bitmap->row_addresses[0] = encoded.data();
        const std::vector<uint8_t> host = encoded;
        byte_swap_bitmap_pixels(bitmap, false);
        byte_swap_bitmap_pixels(bitmap, true);
        EXPECT_EQ(encoded, host);
        precalculate_bitmap_row_addresses(bitmap);
        for (int32_t mode : {_decompress_bitmap_8, _decompress_bitmap_88})
        {
            const int32_t size = mode == _decompress_bitmap_88 ? 2 : 1;
            const int16_t bytes_per_row = (int16_t)(width * size + 3); // slop to clear
            std::vector<uint8_t> buffer((size_t)bytes_per_row * (height + 1), 0xAA);
            ASSERT_TRUE(decompress_bitmap(nullptr, bitmap, buffer.data(), width, (int16_t)(height + 1), bytes_per_row,
                                          mode, false));
            const std::vector<uint16_t> expected = expand(rows, pixels, width, nibble, mode);
            for (int16_t y = 0; y <= height; ++y)
            {
                for (int16_t x = 0; x < width; ++x)
                {
                    uint16_t value = 0;
                    memcpy(&value, &buffer[(size_t)y * bytes_per_row + x * size], size);
                    const uint16_t want = y < height ? expected[y * width + x] : 0;
                    ASSERT_EQ(value, want) << round << " " << x << "," << y << " mode " << mode;
                }
                for (int16_t x = (int16_t)(width * size); x < bytes_per_row; ++x)
                    ASSERT_EQ(buffer[(size_t)y * bytes_per_row + x], 0) << "slop cleared";
            }
        }
        free(bitmap);
    }
}

// Empty pixels take the index of the first non-empty neighbour: right, below,
// left, above, wrapping around the edges.
TEST(bitmaps, decompression_fills_empty_pixels_from_their_neighbours)
{
    uint8_t pixels[3 * 2] = {0, 0, 7, 0, 0, 0};
    bitmap_data bitmap;
    initialize_bitmap_data_lite(&bitmap, pixels, 3, 2, 3, _8bit_encoding);
    uint16_t out[6];
    ASSERT_TRUE(decompress_bitmap(nullptr, &bitmap, out, 3, 2, 6, _decompress_bitmap_88, true));
    // (0,0): right is (1,0), empty; below (0,1) empty; left wraps to (2,0) = 7.
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 7); // right of (1,0) is 7
    EXPECT_EQ(out[2], 255 << 8 | 7);
    EXPECT_EQ(out[5], 7); // its right wraps to (0,1), filled before it
    uint8_t narrow[4];
    EXPECT_FALSE(decompress_bitmap(nullptr, &bitmap, narrow, 3, 2, 2, _decompress_bitmap_8, false));
}

// Truncating the hue to 1/65536 of a turn moves a component by at most
// 6 x 65535 / 65536: the round trip can be no closer than 6 units, and
// saturation and value, which come straight from the components, within 2.
TEST(bitmaps, hsv_round_trips_within_the_hue_quantum)
{
    hsv_color hsv;
    const rgb_color red = {65535, 0, 0, 5};
    rgb_color_to_hsv_color(&red, &hsv);
    EXPECT_EQ(hsv.hue, 0);
    EXPECT_EQ(hsv.saturation, 65535);
    EXPECT_EQ(hsv.value, 65535);
    EXPECT_EQ(hsv.flags, 5);
    const rgb_color black = {0, 0, 0, 0};
    rgb_color_to_hsv_color(&black, &hsv);
    EXPECT_EQ(hsv.hue + hsv.saturation + hsv.value, 0);
    for (uint32_t r = 0; r <= 65535; r += 4369)
        for (uint32_t g = 0; g <= 65535; g += 4369)
            for (uint32_t b = 0; b <= 65535; b += 4369)
            {
                const rgb_color in = {(uint16_t)r, (uint16_t)g, (uint16_t)b, 0};
                rgb_color out;
                hsv_color_to_rgb_color(rgb_color_to_hsv_color(&in, &hsv), &out);
                ASSERT_LE(std::abs((int)out.red - (int)r), 6) << r << " " << g << " " << b;
                ASSERT_LE(std::abs((int)out.green - (int)g), 6);
                ASSERT_LE(std::abs((int)out.blue - (int)b), 6);
                const uint32_t maximum = std::max(r, std::max(g, b));
                ASSERT_LE(std::abs((int)std::max(out.red, std::max(out.green, out.blue)) - (int)maximum), 2);
            }
}

TEST(bitmaps, nearest_colour_prefers_the_lower_index_and_remap_keeps_the_rest)
{
    color_table table = {};
    EXPECT_EQ(closest_color_in_color_table(&table, &table.colors[0]), NONE);
    table.color_count = 3;
    table.colors[0] = {0, 0, 0, 0};
    table.colors[1] = {32768, 0, 0, 0};
    table.colors[2] = {0, 0, 32768, 0};
    const rgb_color between = {16384, 0, 16384, 0};
    EXPECT_EQ(closest_color_in_color_table(&table, &between), 0) << "a three-way tie goes to the lowest index";
    color_table twins = table;
    twins.colors[2] = twins.colors[1];
    EXPECT_EQ(closest_color_in_color_table(&twins, &twins.colors[1]), 1);

    color_table target = {};
    target.color_count = 3;
    target.colors[1] = table.colors[2];
    target.colors[2] = table.colors[1];
    uint8_t pixels[4] = {0, 1, 2, 200};
    bitmap_data bitmap;
    initialize_bitmap_data_lite(&bitmap, pixels, 4, 1, 4, _8bit_encoding);
    remap_bitmap(&bitmap, &table, &target);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 2);
    EXPECT_EQ(pixels[2], 1);
    EXPECT_EQ(pixels[3], 200) << "an index past the source's colours keeps its value";
    uint16_t wide[2] = {1, 2};
    initialize_bitmap_data_lite(&bitmap, wide, 2, 1, 4, _16bit_565_encoding);
    remap_bitmap(&bitmap, &table, &target);
    EXPECT_EQ(wide[0], 1);
    EXPECT_EQ(wide[1], 2);
}

} // namespace

} // namespace bitmaps_test_file
