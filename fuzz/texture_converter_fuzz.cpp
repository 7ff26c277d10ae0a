// The texture converter on malformed bitmaps: any size, flags, encoding,
// request and span rows (spans that overlap, run past the row, claim more
// pixels than the header) must be converted or refused without a read outside
// a row's own bytes or a write outside the block.  Each row is its own
// allocation of exactly the size its header claims (what the collection
// loader guarantees), so the sanitizer sees any read past it.
//
// Input: width-1, height-1, flags (2 bytes), encoding, texture request bits,
// pitch slack, then the rows' bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmaps.h"
#include "hardware/texture_cache.h"
#include "hardware/texture_pixels.h"

namespace
{
struct input
{
    const uint8_t *data;
    size_t size, at;
    uint8_t byte(void) { return at < size ? data[at++] : 0; }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input in = {data, size, 0};
    const int16_t width = (int16_t)(1 + in.byte() % 48), height = (int16_t)(1 + in.byte() % 24);
    const int16_t flags = (int16_t)(in.byte() | in.byte() << 8);
    const int16_t encoding = (int16_t)(in.byte() % NUMBER_OF_BITMAP_ENCODINGS);
    const uint8_t request = in.byte(), slack = in.byte();
    const uint32_t usage = (request & 1 ? _texture_border_flag : 0) | (request & 2 ? _texture_premultiply_flag : 0) |
                           (request & 4 ? _texture_mipmaps_flag : 0) | (request & 8 ? _texture_clamp_to_border_flag : 0);
    const bool _32bit = request & 16, npo2 = request & 32, client_storage = request & 64, with_table = !(request & 128);

    std::vector<uint8_t> record(sizeof(bitmap_data) + sizeof(uint8_t *) * (size_t)height, 0);
    bitmap_data *bitmap = (bitmap_data *)record.data();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->flags = flags;
    bitmap->encoding = encoding;
    const int32_t depth = get_encoding_byte_depth(encoding) > 0 ? get_encoding_byte_depth(encoding) : 1;
    const int32_t element = (flags & _4bit_transparency_encoded_flag) ? 2 : depth;
    bitmap->bytes_per_row = (int16_t)(width * element + slack % 8 - 4); // sometimes short of a row

    std::vector<std::vector<uint8_t>> rows;
    if (flags & _no_row_address_table_flag)
    {
        // One block of rows one pitch apart, as the bitmap's fields say.
        const int32_t pitch = bitmap->bytes_per_row > 0 ? bitmap->bytes_per_row : 0;
        rows.emplace_back((size_t)pitch * height + 1);
        for (uint8_t &b : rows.back()) b = in.byte();
        bitmap->row_addresses[0] = rows.back().data();
    }
    else
    {
        for (int32_t y = 0; y < height; ++y)
        {
            std::vector<uint8_t> row;
            if (flags & _1bit_transparency_encoded_flag)
            {
                uint8_t header[4] = {in.byte(), in.byte(), in.byte(), in.byte()};
                int16_t span_count, pixel_count;
                memcpy(&span_count, header, 2);
                memcpy(&pixel_count, header + 2, 2);
                const size_t claimed = 4 + 4 * (size_t)(span_count > 0 ? span_count : 0) +
                                       (size_t)(pixel_count > 0 ? pixel_count : 0) * (size_t)element;
                row.assign(header, header + 4);
                row.resize(claimed);
                for (size_t i = 4; i < claimed; ++i) row[i] = in.byte();
            }
            else
            {
                row.resize((size_t)width * element);
                for (uint8_t &b : row) b = in.byte();
            }
            rows.push_back(std::move(row));
            bitmap->row_addresses[y] = rows.back().data();
        }
    }

    uint32_t shades[256];
    for (int32_t i = 0; i < 256; ++i) shades[i] = (uint32_t)i * 0x010203u;
    color_table colors = {};
    for (int32_t i = 0; i < 256; ++i) colors.colors[i] = {(uint16_t)(i * 257), (uint16_t)(255 - i), 7, 0};

    cached_texture_data texture = {};
    if (initialize_item_texture_header(&texture, bitmap, nullptr, with_table ? shades : nullptr, usage, _32bit, npo2,
                                       client_storage) &&
        !texture.passthrough_encoding)
    {
        const size_t block_size = (size_t)texture.adjusted_width * texture.adjusted_height *
                                  texture.encoding_bytes_per_pixel;
        std::vector<uint8_t> block(block_size);
        convert_texture_pixels(&texture, bitmap, &colors, with_table ? shades : nullptr, usage, block.data(),
                               block.size());
    }
    // Straight into a block of the bitmap's size, any destination encoding.
    const int32_t target = request % 16, inset = usage & _texture_border_flag ? 1 : 0;
    const int32_t stride = (width + 2 * inset) * 4;
    std::vector<uint8_t> block((size_t)stride * (height + 2 * inset));
    decompress_and_copy_pixels(bitmap, &colors, shades, nullptr, block.data(), target, stride, block.size(),
                               usage & _texture_premultiply_flag, inset);
    return 0;
}
