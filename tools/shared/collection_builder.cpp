// Writes collection tags.  See collection_builder.h.

#include "collection_builder.h"

#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"

builder_bitmap new_builder_bitmap(const std::string &name, int16_t width, int16_t height, int32_t form, uint16_t value)
{
    builder_bitmap bitmap;
    bitmap.name = name;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.form = form;
    bitmap.pixels.assign((size_t)width * (size_t)height, value);
    return bitmap;
}

static void put(builder_bitmap *bitmap, int32_t x, int32_t y, uint16_t value)
{
    if (x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return;
    bitmap->pixels[(size_t)y * bitmap->width + x] = value;
}

void builder_fill_rectangle(builder_bitmap *bitmap, int32_t left, int32_t top, int32_t right, int32_t bottom,
                            uint16_t value)
{
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x) put(bitmap, x, y, value);
}

void builder_fill_ellipse(builder_bitmap *bitmap, int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint16_t value)
{
    if (rx < 1 || ry < 1) return;
    for (int32_t y = cy - ry; y <= cy + ry; ++y)
        for (int32_t x = cx - rx; x <= cx + rx; ++x)
        {
            const int64_t dx = x - cx, dy = y - cy;
            if (dx * dx * ry * ry + dy * dy * rx * rx <= (int64_t)rx * rx * ry * ry) put(bitmap, x, y, value);
        }
}

void builder_vertical_gradient(builder_bitmap *bitmap, int32_t left, int32_t top, int32_t right, int32_t bottom,
                               uint8_t first, uint8_t last)
{
    const int32_t rows = bottom - top;
    for (int32_t y = top; y < bottom; ++y)
    {
        const int32_t index = rows > 1 ? first + (last - first) * (y - top) / (rows - 1) : first;
        for (int32_t x = left; x < right; ++x) put(bitmap, x, y, (uint16_t)index);
    }
}

void builder_outline(builder_bitmap *bitmap, uint16_t value)
{
    const std::vector<uint16_t> before = bitmap->pixels;
    auto opaque = [&](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < bitmap->width && y < bitmap->height &&
               before[(size_t)y * bitmap->width + x] != BUILDER_TRANSPARENT;
    };
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
            if (!opaque(x, y) && (opaque(x - 1, y) || opaque(x + 1, y) || opaque(x, y - 1) || opaque(x, y + 1)))
                put(bitmap, x, y, value);
}

bitmap_instance_data builder_instance(int16_t bitmap, int16_t rx, int16_t ry, int16_t kx, int16_t ky, uint32_t flags)
{
    bitmap_instance_data instance;
    memset(&instance, 0, sizeof(instance));
    instance.flags = flags;
    instance.bitmap_index = bitmap;
    instance.lowres_bitmap_index = NONE;
    instance.highres_bitmap_index = NONE;
    instance.registration_point = {rx, ry};
    instance.key_point = {kx, ky};
    return instance;
}

builder_sequence new_builder_sequence(const std::string &name)
{
    builder_sequence sequence;
    sequence.name = name;
    memset(&sequence.data, 0, sizeof(sequence.data));
    sequence.data.number_of_views = 1;
    sequence.data.ticks_per_frame = 1;
    sequence.data.key_frame = NONE;
    sequence.data.loop_frame = NONE;
    sequence.data.pixels_to_world = 0x10000;
    for (tag &sound : sequence.data.sound_tags) sound = NONE;
    for (int16_t &index : sequence.data.sound_indexes) index = NONE;
    return sequence;
}

const char *complete_builder_sequence(builder_sequence *sequence, builder_collection *collection)
{
    sequence_data &data = sequence->data;
    const int32_t views = data.number_of_views;
    const bool mirroring = data.flags & _sequence_uses_mirroring_flag;
    const int32_t displayed = number_of_displayed_views_in_sequence(views);
    if (sequence->frames.empty()) return "a sequence without frames";
    if (sequence->frames.size() > 32767) return "too many frames";
    data.frames_per_view = (int16_t)sequence->frames.size();
    data.flags |= _sequence_has_frame_data_flag;
    if (data.key_frame >= data.frames_per_view) return "key_frame is not a frame of the sequence";
    if (data.loop_frame >= data.frames_per_view) return "loop_frame is not a frame of the sequence";
    for (std::vector<int16_t> &frame : sequence->frames)
    {
        for (int16_t instance : frame)
            if (instance < 0 || instance >= (int32_t)collection->instances.size()) return "a frame names an instance not given";
        if (mirroring && (int32_t)frame.size() == displayed && displayed < views)
            for (int32_t v = displayed; v < views; ++v)
            {
                if (collection->instances.size() >= 32767) return "too many instances";
                collection->instances.push_back(collection->instances[frame[mirror_sequence_view(views, v)]]);
                frame.push_back((int16_t)(collection->instances.size() - 1));
            }
        if ((int32_t)frame.size() != views) return "a frame whose instance count is not the sequence's views";
    }
    for (int16_t shadow : sequence->frame_shadow_maps)
        if (shadow != NONE && (shadow < 0 || shadow >= (int32_t)collection->shadow_maps.size()))
            return "a frame names a shadow map not given";
    return nullptr;
}

namespace {

void append(std::vector<uint8_t> *out, const void *record, size_t size, const byte_swap_code *codes)
{
    std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
    if (codes) byte_swap_data("collection", bytes.data(), (int32_t)size, 1, codes);
    out->insert(out->end(), bytes.begin(), bytes.end());
}

void put16(std::vector<uint8_t> *out, uint16_t value)
{
    uint8_t bytes[2];
    write_be16(bytes, value);
    out->insert(out->end(), bytes, bytes + 2);
}

int16_t log2_of_power(int16_t value)
{
    if (value < 1 || (value & (value - 1))) return 0;
    int16_t bits = 0;
    while ((1 << bits) < value) ++bits;
    return bits;
}

// The stored bitmap: its 52-byte header, the row table space, the pixels, all big-endian.
std::vector<uint8_t> store_bitmap(const builder_bitmap &bitmap)
{
    const bool encoded = bitmap.form == _builder_rle_8bit || bitmap.form == _builder_rle_8bit_nibble;
    const bool nibble = bitmap.form == _builder_rle_8bit_nibble || bitmap.form == _builder_flat_8bit_nibble;
    const bool sixteen = bitmap.form == _builder_flat_16bit;
    const bool row_table = encoded || bitmap.form == _builder_flat_8bit_rows;
    const int32_t pixel_size = nibble || sixteen ? 2 : 1;
    int16_t flags = 0, encoding = 0;
    if (encoded) flags |= _1bit_transparency_encoded_flag | _word_aligned_encoding_flag;
    else if (!row_table) flags |= _no_row_address_table_flag;
    if (nibble) flags |= _4bit_transparency_encoded_flag;
    if (sixteen)
    {
        flags |= _bitmap_extended_encoding_flag;
        encoding = _16bit_565_encoding;
    }
    const int16_t words[9] = {bitmap.width,
                              bitmap.height,
                              encoded ? (int16_t)NONE : (int16_t)(bitmap.width * pixel_size),
                              flags,
                              (int16_t)(sixteen ? 16 : 8),
                              log2_of_power(bitmap.width),
                              log2_of_power(bitmap.height),
                              (int16_t)(pixel_size == 2 ? 1 : 0),
                              encoding};
    std::vector<uint8_t> out;
    for (int16_t word : words) put16(&out, (uint16_t)word);
    out.insert(out.end(), STORED_BITMAP_HEADER_SIZE - 18, 0);
    if (row_table) out.insert(out.end(), 4 * (size_t)bitmap.height, 0);
    auto pixel = [&](uint16_t value) {
        if (sixteen) put16(&out, value);
        else
        {
            out.push_back((uint8_t)(value & 0xFF));
            if (nibble) out.push_back((uint8_t)((value >> 8) & 15));
        }
    };
    for (int32_t y = 0; y < bitmap.height; ++y)
    {
        const uint16_t *row = &bitmap.pixels[(size_t)y * bitmap.width];
        if (!encoded)
        {
            for (int32_t x = 0; x < bitmap.width; ++x) pixel(row[x] == BUILDER_TRANSPARENT ? 0 : row[x]);
            continue;
        }
        std::vector<std::pair<int16_t, int16_t>> spans;
        for (int32_t x = 0; x < bitmap.width;)
        {
            if (row[x] == BUILDER_TRANSPARENT)
            {
                ++x;
                continue;
            }
            const int32_t start = x;
            while (x < bitmap.width && row[x] != BUILDER_TRANSPARENT) ++x;
            spans.push_back({(int16_t)start, (int16_t)x});
        }
        int32_t count = 0;
        for (auto &span : spans) count += span.second - span.first;
        const size_t row_start = out.size();
        put16(&out, (uint16_t)spans.size());
        put16(&out, (uint16_t)count);
        for (auto &span : spans)
        {
            put16(&out, (uint16_t)span.first);
            put16(&out, (uint16_t)span.second);
        }
        for (auto &span : spans)
            for (int32_t x = span.first; x < span.second; ++x) pixel(row[x]);
        if ((out.size() - row_start) & 1) out.push_back(0);
    }
    return out;
}

} // namespace

std::vector<uint8_t> build_collection_tag_data(const builder_collection &collection)
{
    collection_header header;
    memset(&header, 0, sizeof(header));
    header.user_data_flags = collection.user_data_flags;
    collection_block_data *blocks = header.blocks;
    std::vector<uint8_t> data;

    color_table colors = collection.colors;
    byte_swap_color_table(&colors);
    blocks[_collection_block_color_tables] = {1, 0, COLOR_TABLE_SIZE, 0};
    data.insert(data.end(), (const uint8_t *)&colors, (const uint8_t *)&colors + sizeof(colors));

    const int32_t hue_count = (int32_t)collection.hue_changes.size();
    blocks[_collection_block_hue_changes] = {hue_count, (int32_t)data.size(), hue_count * HUE_CHANGE_SIZE, 0};
    for (const hue_change &change : collection.hue_changes)
        append(&data, &change, sizeof(change), hue_change_byte_swapping_data);

    const int32_t bitmap_count = (int32_t)collection.bitmaps.size();
    const int32_t instance_count = (int32_t)collection.instances.size();
    const int32_t sequence_count = (int32_t)collection.sequences.size();
    const int32_t shadow_count = (int32_t)collection.shadow_maps.size();
    int64_t position = (int64_t)data.size();
    blocks[_collection_block_bitmap_references] = {bitmap_count, (int32_t)position, bitmap_count * BITMAP_REFERENCE_SIZE, 0};
    position += (int64_t)bitmap_count * BITMAP_REFERENCE_SIZE;
    blocks[_collection_block_bitmap_instances] = {instance_count, (int32_t)position, instance_count * BITMAP_INSTANCE_SIZE, 0};
    position += (int64_t)instance_count * BITMAP_INSTANCE_SIZE;
    blocks[_collection_block_sequence_references] = {sequence_count, (int32_t)position,
                                                     sequence_count * SEQUENCE_REFERENCE_SIZE, 0};
    position += (int64_t)sequence_count * SEQUENCE_REFERENCE_SIZE;
    blocks[_collection_block_shadow_maps] = {shadow_count, (int32_t)position, shadow_count * SHADOW_MAP_SIZE, 0};
    position += (int64_t)shadow_count * SHADOW_MAP_SIZE;
    const int32_t blend_size = (int32_t)collection.blend_table.size();
    blocks[_collection_block_blend_table] = {blend_size ? 1 : 0, (int32_t)position, blend_size, 0};
    position += blend_size;
    const int32_t remapping_size = (int32_t)collection.remapping_table.size();
    blocks[_collection_block_remapping_table] = {remapping_size ? 1 : 0, (int32_t)position, remapping_size, 0};
    position += remapping_size;

    std::vector<uint8_t> sequences, bitmaps;
    std::vector<sequence_reference> sequence_references;
    for (const builder_sequence &sequence : collection.sequences)
    {
        sequence_reference reference;
        memset(&reference, 0, sizeof(reference));
        strlcpy(reference.name, sequence.name.c_str(), sizeof(reference.name));
        reference.offset = (int32_t)(position + (int64_t)sequences.size());
        const size_t start = sequences.size();
        append(&sequences, &sequence.data, sizeof(sequence.data), sequence_data_byte_swapping_data);
        for (size_t f = 0; f < sequence.frames.size(); ++f)
        {
            put16(&sequences, (uint16_t)(f < sequence.frame_shadow_maps.size() ? sequence.frame_shadow_maps[f] : (int16_t)NONE));
            for (int i = 0; i < 3 + 19; ++i) put16(&sequences, 0); // key point (computed), unused
            for (int16_t instance : sequence.frames[f]) put16(&sequences, (uint16_t)instance);
        }
        reference.size = (int32_t)(sequences.size() - start);
        sequence_references.push_back(reference);
    }
    position += (int64_t)sequences.size();
    std::vector<bitmap_reference> bitmap_references;
    for (const builder_bitmap &bitmap : collection.bitmaps)
    {
        bitmap_reference reference;
        memset(&reference, 0, sizeof(reference));
        strlcpy(reference.name, bitmap.name.c_str(), sizeof(reference.name));
        if (bitmaps.size() & 1) bitmaps.push_back(0); // each bitmap starts on an even byte
        reference.offset = (int32_t)(position + (int64_t)bitmaps.size());
        reference.width = bitmap.width;
        reference.height = bitmap.height;
        const std::vector<uint8_t> stored = store_bitmap(bitmap);
        reference.size = (int32_t)stored.size();
        bitmaps.insert(bitmaps.end(), stored.begin(), stored.end());
        bitmap_references.push_back(reference);
    }
    if (position + (int64_t)bitmaps.size() + COLLECTION_HEADER_SIZE > 0x7FFFFFF0) return {};

    for (const bitmap_reference &reference : bitmap_references)
        append(&data, &reference, sizeof(reference), bitmap_reference_byte_swapping_data);
    for (const bitmap_instance_data &instance : collection.instances)
        append(&data, &instance, sizeof(instance), bitmap_instance_byte_swapping_data);
    for (const sequence_reference &reference : sequence_references)
        append(&data, &reference, sizeof(reference), sequence_reference_byte_swapping_data);
    for (const shadow_map_data &shadow : collection.shadow_maps)
        append(&data, &shadow, sizeof(shadow), shadow_map_byte_swapping_data);
    data.insert(data.end(), collection.blend_table.begin(), collection.blend_table.end());
    data.insert(data.end(), collection.remapping_table.begin(), collection.remapping_table.end());
    data.insert(data.end(), sequences.begin(), sequences.end());
    data.insert(data.end(), bitmaps.begin(), bitmaps.end());
    header.data_offset = COLLECTION_HEADER_SIZE;
    header.data_size = (int32_t)data.size();

    std::vector<uint8_t> tag_data;
    append(&tag_data, &header, sizeof(header), collection_header_byte_swapping_data);
    tag_data.insert(tag_data.end(), data.begin(), data.end());
    return tag_data;
}
