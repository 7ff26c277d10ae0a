// Collections ('.256').  See shapes.h.

#include "shapes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "gameplay_versions.h"
#include "collection_references.h"
#include "hardware_rasterizer.h"
#include "media.h"
#include "mesh.h"
#include "objects.h"
#include "projectiles.h"
#include "render/render_tables.h"
#include "screen.h"
#include "screen_preferences.h"
#include "shading_tables.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/tag_files.h"
#include "vesk/preloading.h"

// ---- byte-swap descriptions ---------------------------------------------------------

#define BLOCK_SWAP _4byte, _4byte, _4byte, 4
const byte_swap_code collection_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, 56,
    BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP, BLOCK_SWAP,
    4, 4, 48, _4byte, _4byte, _4byte, 4, 40, 16,
    _end_bs_array};
#undef BLOCK_SWAP

const byte_swap_code hue_change_byte_swapping_data[] = {
    _begin_bs_array, 1, 64, _2byte, _2byte, 32, _2byte, _2byte, _2byte, 6, 16, _end_bs_array};

const byte_swap_code sequence_reference_byte_swapping_data[] = {
    _begin_bs_array, 1, 64, _4byte, _4byte, 4, 36, 16, _end_bs_array};

const byte_swap_code sequence_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    _2byte, _2byte, _2byte, _4byte, _4byte, _4byte, _2byte, _2byte,
    _4byte, _4byte, _4byte, _2byte, _2byte, _2byte, 6, _end_bs_array};

const byte_swap_code bitmap_instance_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, 6, 2, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    _2byte, _2byte, _4byte, _2byte, _2byte, 8, 16, _end_bs_array};

const byte_swap_code bitmap_reference_byte_swapping_data[] = {
    _begin_bs_array, 1, 64, _4byte, _4byte, 4, _2byte, _2byte, 32, 16, _end_bs_array};

const byte_swap_code shadow_map_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _2byte, 2, 16, _end_bs_array};

// ---- the run-time side record ----------------------------------------------------

// What a loaded collection keeps beside its header: the stored data block, and
// host-order copies of the records the lookups read, with the redundant data
// built.  Every pointer is owned and freed by release_collection_runtime.
struct collection_runtime
{
    uint8_t *data; // the stored data block, as read
    int32_t data_size;
    int32_t total_frames;
    sequence_data *sequences; // sequence_count
    char (*sequence_names)[64];
    int32_t *first_frames; // sequence_count: index of the sequence's frame 0 in `frames`
    sequence_frame_data *frames;
    int32_t *first_entries; // sequence_count: index of frame 0, view 0 in `frame_instances`
    int16_t *frame_instances; // per frame, one instance index per view
    bitmap_instance_data *instances;
    bitmap_reference *bitmaps;

    color_table colors; // host order
    hue_change *hue_changes; // hue_change_count, host order
    int32_t hue_change_count;
    shadow_map_data *shadow_maps; // host order
    int32_t shadow_map_count;
    bitmap_data **bitmap_records; // bitmap_count, over the pixels in `data`
    uint8_t *sprite_faults_told; // bitmap_count: the sprite check has logged the bitmap (local, never synchronized)
    uint8_t *blend_table; // in `data`, or null
    uint8_t *remapping_table; // in `data`, or null
    int32_t remapping_table_size;
    bool redundant_data_built; // the low-resolution indexes are taken once
    shading_table_list *shading_tables;
};

static struct shapes_globals
{
    uint8_t *transparency_tables; // NUMBER_OF_TRANSPARENCY_MODES tables, normal first
    bool initialized; // set up for a map
    bool highres_active;
    int16_t landscape_media_table; // the landscape's water table, NONE without water
} shapes_globals;

static void release_collection_runtime(void *record)
{
    collection_runtime *runtime = (collection_runtime *)record;
    free(runtime->data);
    free(runtime->sequences);
    free(runtime->sequence_names);
    free(runtime->first_frames);
    free(runtime->frames);
    free(runtime->first_entries);
    free(runtime->frame_instances);
    free(runtime->instances);
    free(runtime->bitmaps);
    free(runtime->hue_changes);
    free(runtime->shadow_maps);
    if (runtime->bitmap_records)
        for (int32_t i = 0; runtime->bitmap_records[i]; ++i) dispose_bitmap(runtime->bitmap_records[i]);
    free(runtime->bitmap_records);
    free(runtime->sprite_faults_told);
    free_shading_table_list(runtime->shading_tables);
    free(runtime->shading_tables);
    memset(runtime, 0, sizeof(*runtime));
}

// ---- checks ------------------------------------------------------------------------

static bool refuse(const char *name, const char *field, int64_t value)
{
    ERROR_MESSAGE(_error_data_corrupted, "collection \"%s\" refused: %s (%lld)", name, field, (long long)value);
    return false;
}

struct block_rule
{
    const char *name;
    int32_t record_size; // 0: raw bytes
};
static const block_rule block_rules[NUMBER_OF_COLLECTION_BLOCKS] = {
    {"color tables", COLOR_TABLE_SIZE},
    {"hue changes", HUE_CHANGE_SIZE},
    {"bitmap references", BITMAP_REFERENCE_SIZE},
    {"bitmap instances", BITMAP_INSTANCE_SIZE},
    {"sequence references", SEQUENCE_REFERENCE_SIZE},
    {"shadow maps", SHADOW_MAP_SIZE},
    {"blend table", 0},
    {"remapping table", 0},
};

// A record of `size` bytes at `offset` inside `data_size`, in 64 bits.
static bool inside(int64_t offset, int64_t size, int64_t data_size)
{
    return offset >= 0 && size >= 0 && offset + size <= data_size;
}

template <typename T>
static T read_record(const uint8_t *data, int64_t offset, const byte_swap_code *codes)
{
    T record;
    memcpy(&record, data + offset, sizeof(T));
    byte_swap_data("collection", &record, (int32_t)sizeof(T), 1, codes);
    return record;
}

static int16_t read_s16(const uint8_t *p) { return (int16_t)read_be16(p); }

static bool index_in(int64_t index, int64_t count) { return index >= 0 && index < count; }

static bool mirrors(const sequence_data &sequence, int32_t view)
{
    return (sequence.flags & _sequence_uses_mirroring_flag) &&
           view >= number_of_displayed_views_in_sequence(sequence.number_of_views);
}

// The bytes one stored pixel takes: two for index-and-nibble pixels, else the depth's.
static int32_t stored_pixel_size(const stored_bitmap_header &header)
{
    return (header.flags & _4bit_transparency_encoded_flag) ? 2 : header.logical_bit_depth / 8;
}

// A stored bitmap (`size` bytes at `stored`: its header in file order, the row
// table space unless it has none, then the pixels): its depth, row size and
// every run-length row must lie inside it.
static bool validate_stored_bitmap(const uint8_t *stored, int32_t size, const char *name)
{
    stored_bitmap_header header;
    memcpy(&header, stored, sizeof(header));
    byte_swap_data("bitmap data", &header, (int32_t)sizeof(header), 1, stored_bitmap_header_byte_swapping_data);
    const int32_t depth = header.logical_bit_depth;
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32) return refuse(name, "bitmap logical_bit_depth", depth);
    if ((header.flags & _4bit_transparency_encoded_flag) && depth != 8)
        return refuse(name, "bitmap with two-byte pixels of another depth", depth);
    const int32_t pixel_size = stored_pixel_size(header);
    const int32_t upshift = pixel_size == 3 ? 0 : pixel_size >> 1;
    if (header.pixel_upshift != upshift) return refuse(name, "bitmap pixel_upshift", header.pixel_upshift);
    if ((header.flags & _bitmap_extended_encoding_flag) &&
        (header.encoding < 0 || header.encoding >= NUMBER_OF_BITMAP_ENCODINGS))
        return refuse(name, "bitmap encoding", header.encoding);
    const bool encoded = header.flags & _1bit_transparency_encoded_flag;
    const bool no_row_table = header.flags & _no_row_address_table_flag;
    const int64_t pixels_size = (int64_t)size - STORED_BITMAP_HEADER_SIZE - (no_row_table ? 0 : 4 * (int64_t)header.height);
    if (pixels_size < 0) return refuse(name, "bitmap size", size);
    const uint8_t *pixels = stored + size - pixels_size;
    if (!encoded)
    {
        if (header.bytes_per_row < (int64_t)header.width * pixel_size)
            return refuse(name, "bitmap bytes_per_row", header.bytes_per_row);
        if ((int64_t)header.bytes_per_row * header.height > pixels_size)
            return refuse(name, "bitmap pixels past its size", header.bytes_per_row);
        return true;
    }
    if (no_row_table) return refuse(name, "run-length bitmap without a row table", header.flags);
    if (!(header.flags & _word_aligned_encoding_flag)) return refuse(name, "run-length bitmap not word aligned", header.flags);
    if (pixel_size == 3) return refuse(name, "run-length bitmap of 24 bits", depth);
    int64_t position = 0;
    for (int32_t y = 0; y < header.height; ++y)
    {
        if (position + 4 > pixels_size) return refuse(name, "run-length row past the bitmap", y);
        const int16_t span_count = read_s16(pixels + position), pixel_count = read_s16(pixels + position + 2);
        if (span_count < 0 || span_count > header.width) return refuse(name, "run-length span_count", span_count);
        if (pixel_count < 0 || pixel_count > header.width) return refuse(name, "run-length pixel_count", pixel_count);
        if (position + 4 + 4 * (int64_t)span_count > pixels_size) return refuse(name, "run-length spans past the bitmap", y);
        int32_t previous_end = 0, sum = 0;
        for (int32_t i = 0; i < span_count; ++i)
        {
            const int16_t start = read_s16(pixels + position + 4 + 4 * i), end = read_s16(pixels + position + 6 + 4 * i);
            if (start < previous_end || start >= end || end > header.width) return refuse(name, "run-length span", start);
            previous_end = end;
            sum += end - start;
        }
        if (sum != pixel_count) return refuse(name, "run-length pixel_count against its spans", pixel_count);
        const encoded_span_header row = {span_count, pixel_count};
        position += encoded_row_size(&row, header.pixel_upshift, true);
        if (position > pixels_size) return refuse(name, "run-length pixels past the bitmap", y);
    }
    return true;
}

bool validate_collection(const collection_header *header, const uint8_t *data, const char *name)
{
    const int32_t bitmap_count = header->blocks[_collection_block_bitmap_references].count;
    if (bitmap_count > MAXIMUM_BITMAPS_PER_COLLECTION)
    {
        ERROR_MESSAGE(_error_array_out_of_bounds,
                      "bitmap count (%d) exceeds MAXIMUM_BITMAPS_PER_COLLECTION (%d) for \"%s\" collection",
                      (int)bitmap_count, (int)MAXIMUM_BITMAPS_PER_COLLECTION, name);
        return false;
    }
    const int32_t sequence_count = header->blocks[_collection_block_sequence_references].count;
    if (sequence_count > MAXIMUM_SEQUENCES_PER_COLLECTION)
    {
        ERROR_MESSAGE(_error_array_out_of_bounds,
                      "sequence count (%d) exceeds MAXIMUM_SEQUENCES_PER_COLLECTION (%d) for \"%s\" collection",
                      (int)sequence_count, (int)MAXIMUM_SEQUENCES_PER_COLLECTION, name);
        return false;
    }
    const int64_t data_size = header->data_size;
    if (data_size < 0) return refuse(name, "data_size", data_size);
    if (header->data_delta != 0) return refuse(name, "data_delta", header->data_delta);
    for (int32_t i = 0; i < NUMBER_OF_COLLECTION_BLOCKS; ++i)
    {
        const collection_block_data &block = header->blocks[i];
        char field[64];
        snprintf(field, sizeof(field), "%s count", block_rules[i].name);
        if (block.count < 0) return refuse(name, field, block.count);
        snprintf(field, sizeof(field), "%s offset or size", block_rules[i].name);
        if (!inside(block.offset, block.size, data_size)) return refuse(name, field, block.offset);
        snprintf(field, sizeof(field), "%s size", block_rules[i].name);
        if ((int64_t)block.count * block_rules[i].record_size > block.size) return refuse(name, field, block.size);
    }
    const int32_t color_tables = header->blocks[_collection_block_color_tables].count;
    if (color_tables != 1) return refuse(name, "color_table_count", color_tables);
    const int32_t color_count = (int32_t)read_be32(data + header->blocks[_collection_block_color_tables].offset);
    if (color_count < 0 || color_count > MAXIMUM_COLORS_PER_TABLE) return refuse(name, "color_count", color_count);
    const collection_block_data &blend = header->blocks[_collection_block_blend_table];
    if (blend.count != 0 && blend.size < 256 * 256) return refuse(name, "blend table size", blend.size);
    const int32_t instance_count = header->blocks[_collection_block_bitmap_instances].count;
    const int32_t shadow_map_count = header->blocks[_collection_block_shadow_maps].count;

    const collection_block_data &bitmaps = header->blocks[_collection_block_bitmap_references];
    for (int32_t i = 0; i < bitmap_count; ++i)
    {
        const bitmap_reference reference = read_record<bitmap_reference>(
            data, bitmaps.offset + (int64_t)i * BITMAP_REFERENCE_SIZE, bitmap_reference_byte_swapping_data);
        if (reference.size < STORED_BITMAP_HEADER_SIZE) return refuse(name, "bitmap size", reference.size);
        if (!inside(reference.offset, reference.size, data_size))
            return refuse(name, "bitmap offset", reference.offset);
        const int16_t width = read_s16(data + reference.offset), height = read_s16(data + reference.offset + 2);
        if (width < 1 || width > MAXIMUM_BITMAP_DIMENSION || height < 1 || height > MAXIMUM_BITMAP_DIMENSION)
        {
            ERROR_MESSAGE(_error_data_corrupted,
                          "invalid bitmap data for bitmap \"%.*s\" (index %d) of \"%s\" collection", 64, reference.name,
                          (int)i, name);
            return false;
        }
        if (reference.width != width) return refuse(name, "bitmap reference width", reference.width);
        if (reference.height != height) return refuse(name, "bitmap reference height", reference.height);
        if (!validate_stored_bitmap(data + reference.offset, reference.size, name)) return false;
    }

    // Bitmaps are made ready in place, each swapping its own bytes: two that
    // share bytes would change each other after their checks.
    if (bitmap_count > 1)
    {
        std::vector<std::pair<int32_t, int32_t>> ranges((size_t)bitmap_count);
        for (int32_t i = 0; i < bitmap_count; ++i)
        {
            const bitmap_reference reference = read_record<bitmap_reference>(
                data, bitmaps.offset + (int64_t)i * BITMAP_REFERENCE_SIZE, bitmap_reference_byte_swapping_data);
            ranges[(size_t)i] = {reference.offset, reference.size};
        }
        std::sort(ranges.begin(), ranges.end());
        for (size_t i = 1; i < ranges.size(); ++i)
            if ((int64_t)ranges[i - 1].first + ranges[i - 1].second > ranges[i].first)
                return refuse(name, "bitmaps that share bytes", ranges[i].first);
    }

    const collection_block_data &instances = header->blocks[_collection_block_bitmap_instances];
    for (int32_t i = 0; i < instance_count; ++i)
    {
        const bitmap_instance_data instance = read_record<bitmap_instance_data>(
            data, instances.offset + (int64_t)i * BITMAP_INSTANCE_SIZE, bitmap_instance_byte_swapping_data);
        if (instance.bitmap_index != NONE && !index_in(instance.bitmap_index, bitmap_count))
            return refuse(name, "bitmap instance bitmap_index", instance.bitmap_index);
        if (instance.highres_bitmap_index != NONE && !index_in(instance.highres_bitmap_index, bitmap_count))
            return refuse(name, "bitmap instance highres_bitmap_index", instance.highres_bitmap_index);
    }

    const collection_block_data &shadows = header->blocks[_collection_block_shadow_maps];
    for (int32_t i = 0; i < shadow_map_count; ++i)
    {
        const shadow_map_data shadow = read_record<shadow_map_data>(
            data, shadows.offset + (int64_t)i * SHADOW_MAP_SIZE, shadow_map_byte_swapping_data);
        if (shadow.bitmap_index != NONE && !index_in(shadow.bitmap_index, bitmap_count))
            return refuse(name, "shadow map bitmap_index", shadow.bitmap_index);
    }

    const collection_block_data &references = header->blocks[_collection_block_sequence_references];
    for (int32_t i = 0; i < sequence_count; ++i)
    {
        const sequence_reference reference = read_record<sequence_reference>(
            data, references.offset + (int64_t)i * SEQUENCE_REFERENCE_SIZE, sequence_reference_byte_swapping_data);
        if (reference.size < SEQUENCE_DATA_SIZE) return refuse(name, "sequence size", reference.size);
        if (!inside(reference.offset, reference.size, data_size))
            return refuse(name, "sequence offset", reference.offset);
        const sequence_data sequence =
            read_record<sequence_data>(data, reference.offset, sequence_data_byte_swapping_data);
        if (sequence.number_of_views < 0) return refuse(name, "sequence number_of_views", sequence.number_of_views);
        if (sequence.frames_per_view < 0) return refuse(name, "sequence frames_per_view", sequence.frames_per_view);
        if (sequence.ticks_per_frame < 0) return refuse(name, "sequence ticks_per_frame", sequence.ticks_per_frame);
        if (sequence.key_frame != NONE && !index_in(sequence.key_frame, sequence.frames_per_view))
            return refuse(name, "sequence key_frame", sequence.key_frame);
        const int64_t frame_size = SEQUENCE_FRAME_HEADER_SIZE + 2 * (int64_t)sequence.number_of_views;
        if (SEQUENCE_DATA_SIZE + frame_size * sequence.frames_per_view > reference.size)
            return refuse(name, "sequence frames", sequence.frames_per_view);
        for (int32_t f = 0; f < sequence.frames_per_view; ++f)
        {
            const uint8_t *frame = data + reference.offset + SEQUENCE_DATA_SIZE + frame_size * f;
            const int16_t shadow = read_s16(frame);
            if (shadow != NONE && !index_in(shadow, shadow_map_count))
                return refuse(name, "frame shadow_map_index", shadow);
            for (int32_t v = 0; v < sequence.number_of_views; ++v)
            {
                const int16_t instance = read_s16(frame + SEQUENCE_FRAME_HEADER_SIZE + 2 * v);
                if (!index_in(instance, instance_count)) return refuse(name, "frame instance index", instance);
                // A mirrored view's instance is rewritten from its source's: one
                // record for both would mirror the source itself.
                if (mirrors(sequence, v))
                {
                    const int32_t source = mirror_sequence_view(sequence.number_of_views, v);
                    if (read_s16(frame + SEQUENCE_FRAME_HEADER_SIZE + 2 * source) == instance)
                        return refuse(name, "mirrored view shares its source's instance", instance);
                }
            }
        }
    }
    return true;
}

// ---- loading ---------------------------------------------------------------------

// Allocates and reads the data block of a header already checked by the
// caller against nothing: its place in the tag is checked here.
static bool read_collection_data(int32_t tag_index, const collection_header *header, collection_runtime *runtime,
                                 bool read_ahead, const char *name)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return refuse(name, "tag", tag_index);
    if (header->data_offset < COLLECTION_HEADER_SIZE) return refuse(name, "data_offset", header->data_offset);
    if (!inside(header->data_offset, header->data_size, info.size)) return refuse(name, "data_size", header->data_size);
    uint8_t *data = (uint8_t *)malloc(header->data_size > 0 ? (size_t)header->data_size : 1);
    if (!data)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for %s collection.", (int)header->data_size,
                      name);
        return false;
    }
    const bool read = header->data_size == 0 ||
                      (read_ahead ? tag_file_read_ahead(tag_index, header->data_offset, header->data_size, data)
                                  : tag_file_read(tag_index, header->data_offset, header->data_size, data));
    if (!read)
    {
        free(data);
        ERROR_MESSAGE(_error_file_read, "failed to bootstrap %s collection.", name);
        return false;
    }
    free(runtime->data);
    runtime->data = data;
    runtime->data_size = header->data_size;
    return true;
}

static bool load_collection_data_ahead(int32_t tag_index, void *header, void *runtime, bool read_ahead)
{
    return read_collection_data(tag_index, (const collection_header *)header, (collection_runtime *)runtime,
                                read_ahead, tag_file_name_get(tag_index));
}

// The height of a frame's key point: the sum of the views' heights in pixels
// times the scale, over the views.  Before gameplay version 1710 the product
// was taken in 32 bits, wrapping; peers of those versions rely on it.
static int32_t scaled_height_sum(int64_t sum, int64_t scale, int32_t views)
{
    if (current_gameplay_version > 1709) return (int32_t)(((sum * scale) / views) >> 16);
    const int32_t product = (int32_t)((uint32_t)sum * (uint32_t)scale);
    return (product / views) >> 16;
}

// Whether the instance shows its high-resolution bitmap (and registration point).
static bool instance_is_high_resolution(const bitmap_instance_data *instance)
{
    return shapes_globals.highres_active && (instance->flags & _bitmap_instance_high_resolution_flag) &&
           instance->highres_bitmap_index != NONE;
}

// World bounds of instances and key points of frames.
static void build_redundant_collection_data(const collection_header *header, collection_runtime *runtime)
{
    const int32_t sequence_count = header->blocks[_collection_block_sequence_references].count;
    const int32_t instance_count = header->blocks[_collection_block_bitmap_instances].count;
    if (!runtime->redundant_data_built)
        for (int32_t i = 0; i < instance_count; ++i)
            runtime->instances[i].lowres_bitmap_index = runtime->instances[i].bitmap_index;
    runtime->redundant_data_built = true;
    for (int32_t s = 0; s < sequence_count; ++s)
    {
        sequence_data *sequence = &runtime->sequences[s];
        const int64_t scale = (int64_t)sequence->pixels_to_world * PIXELS_TO_WORLD_MULTIPLIER;
        if ((sequence->flags & _sequence_uses_mirroring_flag) && (sequence->flags & _sequence_has_no_rotation_flag))
            sequence->flags &= ~(uint32_t)_sequence_has_no_rotation_flag;
        sequence->world_radius = (short_world_distance)(((int64_t)(sequence->radius >> 16) * scale) >> 16);
        sequence->world_height0 = (short_world_distance)(((int64_t)(sequence->height0 >> 16) * scale) >> 16);
        sequence->world_height1 = (short_world_distance)(((int64_t)(sequence->height1 >> 16) * scale) >> 16);
        const int32_t views = sequence->number_of_views;
        for (int32_t f = 0; f < sequence->frames_per_view; ++f)
        {
            const int16_t *entries = runtime->frame_instances + runtime->first_entries[s] + (int64_t)f * views;
            int64_t minimum_dx = 0, maximum_dx = 0, dx0 = 0;
            int64_t sum_dy = 0;
            for (int32_t v = 0; v < views; ++v)
            {
                bitmap_instance_data *instance = &runtime->instances[entries[v]];
                const bool mirrored = mirrors(*sequence, v);
                if (mirrored)
                {
                    *instance = runtime->instances[entries[mirror_sequence_view(views, v)]];
                    instance->flags ^= _bitmap_instance_mirror_horizontal_flag;
                }
                const bool highres = instance_is_high_resolution(instance);
                instance->bitmap_index = highres ? instance->highres_bitmap_index : instance->lowres_bitmap_index;
                const bitmap_point registration =
                    highres ? instance->highres_registration_point : instance->registration_point;
                const int64_t instance_scale = highres ? (int64_t)instance->highres_pixels_to_world : scale;
                if (instance->bitmap_index != NONE)
                {
                    const bitmap_reference &bitmap = runtime->bitmaps[instance->bitmap_index];
                    const int64_t w = bitmap.width, h = bitmap.height, scale = instance_scale;
                    const int64_t rx = registration.x, ry = registration.y;
                    instance->world_top = (int16_t)((ry * scale) >> 16);
                    instance->world_bottom = (int16_t)-(((h - ry) * scale) >> 16);
                    if (mirrored)
                    {
                        instance->key_point.x = (int16_t)(w - instance->key_point.x);
                        instance->world_left = (int16_t)-(((w - rx) * scale) >> 16);
                        instance->world_right = (int16_t)((rx * scale) >> 16);
                    }
                    else
                    {
                        instance->world_left = (int16_t)-((rx * scale) >> 16);
                        instance->world_right = (int16_t)(((w - rx) * scale) >> 16);
                    }
                }
                const int64_t dx = instance->key_point.x - instance->registration_point.x;
                const int64_t dy = instance->key_point.y - instance->registration_point.y;
                if (v == 0 || dx < minimum_dx) minimum_dx = dx;
                if (v == 0 || dx > maximum_dx) maximum_dx = dx;
                if (v == 0) dx0 = dx;
                sum_dy += dy;
            }
            world_point3d *key_point = &runtime->frames[runtime->first_frames[s] + f].key_point;
            *key_point = {0, 0, 0};
            if (views < 1) continue;
            const int64_t y = (dx0 * scale) >> 16;
            const int32_t z = scaled_height_sum(sum_dy, scale, views);
            const int64_t half = (((maximum_dx * scale) >> 16) - ((minimum_dx * scale) >> 16)) / 2;
            key_point->x = isqrt((uint32_t)((uint64_t)half * (uint64_t)half - (uint64_t)y * (uint64_t)y));
            key_point->y = (world_distance)y;
            key_point->z = -z;
        }
    }
}

// The colour table, hue changes, shadow maps, optional tables and a ready
// bitmap record over each stored bitmap's pixels (swapped to host order in
// place) of a checked data block.
static bool build_collection_bitmaps(const collection_header *header, collection_runtime *runtime)
{
    uint8_t *data = runtime->data;
    const collection_block_data *blocks = header->blocks;
    memcpy(&runtime->colors, data + blocks[_collection_block_color_tables].offset, sizeof(color_table));
    byte_swap_color_table(&runtime->colors);
    if (!(header->user_data_flags & _collection_is_color_map_flag)) runtime->colors.colors[0] = {0, 0, 0, 0};

    runtime->hue_change_count = blocks[_collection_block_hue_changes].count;
    runtime->hue_changes = (hue_change *)calloc((size_t)runtime->hue_change_count + 1, sizeof(hue_change));
    runtime->shadow_map_count = blocks[_collection_block_shadow_maps].count;
    runtime->shadow_maps = (shadow_map_data *)calloc((size_t)runtime->shadow_map_count + 1, sizeof(shadow_map_data));
    const int32_t bitmap_count = blocks[_collection_block_bitmap_references].count;
    runtime->bitmap_records = (bitmap_data **)calloc((size_t)bitmap_count + 1, sizeof(bitmap_data *));
    runtime->sprite_faults_told = (uint8_t *)calloc((size_t)bitmap_count + 1, 1);
    runtime->shading_tables = (shading_table_list *)calloc(1, sizeof(shading_table_list));
    if (!runtime->hue_changes || !runtime->shadow_maps || !runtime->bitmap_records || !runtime->sprite_faults_told ||
        !runtime->shading_tables)
        return false;
    for (int32_t i = 0; i < runtime->hue_change_count; ++i)
        runtime->hue_changes[i] = read_record<hue_change>(
            data, blocks[_collection_block_hue_changes].offset + (int64_t)i * HUE_CHANGE_SIZE, hue_change_byte_swapping_data);
    for (int32_t i = 0; i < runtime->shadow_map_count; ++i)
        runtime->shadow_maps[i] = read_record<shadow_map_data>(
            data, blocks[_collection_block_shadow_maps].offset + (int64_t)i * SHADOW_MAP_SIZE, shadow_map_byte_swapping_data);
    runtime->blend_table = blocks[_collection_block_blend_table].count ? data + blocks[_collection_block_blend_table].offset : nullptr;
    runtime->remapping_table =
        blocks[_collection_block_remapping_table].count ? data + blocks[_collection_block_remapping_table].offset : nullptr;
    runtime->remapping_table_size = runtime->remapping_table ? blocks[_collection_block_remapping_table].size : 0;

    for (int32_t i = 0; i < bitmap_count; ++i)
    {
        const bitmap_reference &reference = runtime->bitmaps[i];
        stored_bitmap_header stored;
        memcpy(&stored, data + reference.offset, sizeof(stored));
        byte_swap_data("bitmap data", &stored, (int32_t)sizeof(stored), 1, stored_bitmap_header_byte_swapping_data);
        bitmap_data *bitmap = (bitmap_data *)calloc(1, sizeof_bitmap(stored.height, stored.flags));
        if (!bitmap) return false;
        runtime->bitmap_records[i] = bitmap;
        bitmap->width = stored.width;
        bitmap->height = stored.height;
        bitmap->bytes_per_row = stored.bytes_per_row;
        bitmap->flags = stored.flags;
        bitmap->logical_bit_depth = stored.logical_bit_depth;
        bitmap->width_bits = stored.width_bits;
        bitmap->height_bits = stored.height_bits;
        bitmap->pixel_upshift = stored.pixel_upshift;
        bitmap->encoding = stored.encoding;
        bitmap->collection_index = bitmap->bitmap_index = NONE;
        const int32_t row_table = (stored.flags & _no_row_address_table_flag) ? 0 : 4 * stored.height;
        bitmap->row_addresses[0] = data + reference.offset + STORED_BITMAP_HEADER_SIZE + row_table;
        byte_swap_bitmap_pixels(bitmap, true);
        precalculate_bitmap_row_addresses(bitmap);
        if ((bitmap->flags & _bitmap_extended_encoding_flag) && bitmap->encoding == _16bit_555_encoding)
            bitmap->encoding = _r8g8b8a5h3_sprite_rle_bitmap_encoding;
        postprocess_extracted_bitmap(bitmap);
    }
    return true;
}

// The sound definitions of each sequence's three sounds; NONE (quietly) while
// no sound group is registered.
static void resolve_sequence_sounds(collection_runtime *runtime, int32_t sequence_count, const char *name)
{
    definition_globals *sounds = get_definition_group(FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'));
    for (int32_t s = 0; s < sequence_count; ++s)
        for (int32_t i = 0; i < 3; ++i)
        {
            sequence_data &sequence = runtime->sequences[s];
            sequence.sound_indexes[i] = NONE;
            if (!sounds || sequence.sound_tags[i] == NONE) continue;
            sequence.sound_indexes[i] =
                (int16_t)try_definition_tag_to_index(sounds, sequence.sound_tags[i], true, _definition_lookup_quiet_flag);
            if (sequence.sound_indexes[i] == NONE)
            {
                ERROR_MESSAGE(_error_data_missing, "failed to load sequence sound %s:%s:'%s'", name,
                              runtime->sequence_names[s], tag_to_string(sequence.sound_tags[i]));
            }
        }
}

// Host copies of the records the lookups read, from a checked data block.
static bool build_collection_tables(const collection_header *header, collection_runtime *runtime, const char *name)
{
    const uint8_t *data = runtime->data;
    const int32_t sequence_count = header->blocks[_collection_block_sequence_references].count;
    const int32_t instance_count = header->blocks[_collection_block_bitmap_instances].count;
    const int32_t bitmap_count = header->blocks[_collection_block_bitmap_references].count;
    int64_t total_frames = 0, total_entries = 0;
    sequence_reference *references =
        (sequence_reference *)calloc((size_t)sequence_count + 1, sizeof(sequence_reference));
    runtime->sequences = (sequence_data *)calloc((size_t)sequence_count + 1, sizeof(sequence_data));
    runtime->sequence_names = (char(*)[64])calloc((size_t)sequence_count + 1, 64);
    runtime->first_frames = (int32_t *)calloc((size_t)sequence_count + 1, sizeof(int32_t));
    runtime->first_entries = (int32_t *)calloc((size_t)sequence_count + 1, sizeof(int32_t));
    runtime->instances = (bitmap_instance_data *)calloc((size_t)instance_count + 1, sizeof(bitmap_instance_data));
    runtime->bitmaps = (bitmap_reference *)calloc((size_t)bitmap_count + 1, sizeof(bitmap_reference));
    bool ok = references && runtime->sequences && runtime->sequence_names && runtime->first_frames &&
              runtime->first_entries && runtime->instances && runtime->bitmaps;
    for (int32_t s = 0; ok && s < sequence_count; ++s)
    {
        references[s] = read_record<sequence_reference>(
            data, header->blocks[_collection_block_sequence_references].offset + (int64_t)s * SEQUENCE_REFERENCE_SIZE,
            sequence_reference_byte_swapping_data);
        runtime->sequences[s] =
            read_record<sequence_data>(data, references[s].offset, sequence_data_byte_swapping_data);
        for (int32_t c = 0; c < 63 && references[s].name[c]; ++c)
            runtime->sequence_names[s][c] = (char)tolower((unsigned char)references[s].name[c]);
        runtime->first_frames[s] = (int32_t)total_frames;
        runtime->first_entries[s] = (int32_t)total_entries;
        total_frames += runtime->sequences[s].frames_per_view;
        total_entries += (int64_t)runtime->sequences[s].frames_per_view * runtime->sequences[s].number_of_views;
    }
    if (ok)
    {
        runtime->frames = (sequence_frame_data *)calloc((size_t)total_frames + 1, sizeof(sequence_frame_data));
        runtime->frame_instances = (int16_t *)calloc((size_t)total_entries + 1, sizeof(int16_t));
        ok = runtime->frames && runtime->frame_instances;
    }
    for (int32_t s = 0; ok && s < sequence_count; ++s)
    {
        const sequence_data &sequence = runtime->sequences[s];
        const int64_t frame_size = SEQUENCE_FRAME_HEADER_SIZE + 2 * (int64_t)sequence.number_of_views;
        for (int32_t f = 0; f < sequence.frames_per_view; ++f)
        {
            const uint8_t *frame = data + references[s].offset + SEQUENCE_DATA_SIZE + frame_size * f;
            runtime->frames[runtime->first_frames[s] + f].shadow_map_index = read_s16(frame);
            for (int32_t v = 0; v < sequence.number_of_views; ++v)
                runtime->frame_instances[runtime->first_entries[s] + (int64_t)f * sequence.number_of_views + v] =
                    read_s16(frame + SEQUENCE_FRAME_HEADER_SIZE + 2 * v);
        }
    }
    for (int32_t i = 0; ok && i < instance_count; ++i)
        runtime->instances[i] = read_record<bitmap_instance_data>(
            data, header->blocks[_collection_block_bitmap_instances].offset + (int64_t)i * BITMAP_INSTANCE_SIZE,
            bitmap_instance_byte_swapping_data);
    for (int32_t i = 0; ok && i < bitmap_count; ++i)
    {
        runtime->bitmaps[i] = read_record<bitmap_reference>(
            data, header->blocks[_collection_block_bitmap_references].offset + (int64_t)i * BITMAP_REFERENCE_SIZE,
            bitmap_reference_byte_swapping_data);
        for (char &c : runtime->bitmaps[i].name) c = (char)tolower((unsigned char)c);
    }
    free(references);
    if (ok) ok = build_collection_bitmaps(header, runtime);
    if (!ok)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate the tables of %s collection.", name);
        return false;
    }
    runtime->total_frames = (int32_t)total_frames;
    build_redundant_collection_data(header, runtime);
    return true;
}

static bool convert_collection_header(definition_globals *, int32_t tag_index, void *definition, int16_t version)
{
    const collection_header *header = (const collection_header *)definition;
    if (version == 1) return true;
    if (version == 3 && (header->user_data_flags & _collection_is_color_map_flag)) return true;
    log_message(__FILE__, __LINE__, "collection '%s' refused: version %d cannot be read",
                tag_index == NONE ? "<unknown>" : tag_file_name_get(tag_index), (int)version);
    return false;
}

static bool postprocess_collection_header(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                          void *definition)
{
    collection_header *header = (collection_header *)definition;
    collection_runtime *runtime = (collection_runtime *)get_definition_runtime(group, definition_index);
    const char *name = get_definition_name(group, definition_index);
    if (!runtime) return false;
    // The stored bit would skip every check and leave nothing built.
    header->flags &= ~(uint32_t)_collection_header_initialized_flag;
    header->shading_table_count = 0;
    header->shading_table_pointers = 0;
    header->data = 0;
    for (collection_block_data &block : header->blocks) block.pointer = 0;
    const bool preloaded = (group->flags[definition_index] & _definition_preloaded_flag) && runtime->data &&
                           runtime->data_size == header->data_size;
    if (!preloaded)
    {
        if (tag_index == NONE) return refuse(name, "no tag to read the data block from", NONE);
        if (!read_collection_data(tag_index, header, runtime, false, name)) return false;
    }
    if (!validate_collection(header, runtime->data, name) || !build_collection_tables(header, runtime, name))
    {
        release_collection_runtime(runtime);
        return false;
    }
    resolve_sequence_sounds(runtime, header->blocks[_collection_block_sequence_references].count, name);
    header->flags |= _collection_header_initialized_flag;
    return true;
}

bool check_collection_tag_data(const void *tag_data, int32_t size, const char *name, collection_bitmap_visitor visit)
{
    if (size < COLLECTION_HEADER_SIZE) return refuse(name, "tag smaller than its header", size);
    collection_header header;
    memcpy(&header, tag_data, sizeof(header));
    byte_swap_data("collection", &header, (int32_t)sizeof(header), 1, collection_header_byte_swapping_data);
    header.flags &= ~(uint32_t)_collection_header_initialized_flag;
    if (header.data_offset < COLLECTION_HEADER_SIZE) return refuse(name, "data_offset", header.data_offset);
    if (!inside(header.data_offset, header.data_size, size)) return refuse(name, "data_size", header.data_size);
    collection_runtime runtime;
    memset(&runtime, 0, sizeof(runtime));
    runtime.data = (uint8_t *)malloc(header.data_size > 0 ? (size_t)header.data_size : 1);
    if (!runtime.data) return false;
    memcpy(runtime.data, (const uint8_t *)tag_data + header.data_offset, (size_t)header.data_size);
    runtime.data_size = header.data_size;
    const bool accepted =
        validate_collection(&header, runtime.data, name) && build_collection_tables(&header, &runtime, name);
    if (accepted && visit)
        for (int32_t i = 0; i < header.blocks[_collection_block_bitmap_references].count; ++i)
            visit(runtime.bitmap_records[i], &runtime.colors);
    release_collection_runtime(&runtime);
    return accepted;
}

definition_globals collections = {
    .name = "collection",
    .group = COLLECTION_GROUP_TAG,
    .current_version = COLLECTION_VERSION_NUMBER,
    .maximum_count = MAXIMUM_COLLECTIONS_PER_MAP,
    .size = sizeof(collection_header),
    .runtime_size = sizeof(collection_runtime),
    .dependencies = nullptr,
    .postprocess = postprocess_collection_header,
    .convert = convert_collection_header,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = collection_header_byte_swapping_data,
    .release_runtime = release_collection_runtime,
};


// ---- life cycle ------------------------------------------------------------------------

bool initialize_shapes(void)
{
    if (!shapes_globals.transparency_tables)
    {
        const int32_t size = (int32_t)NUMBER_OF_TRANSPARENCY_MODES * (int32_t)TRANSPARENCY_TABLE_SIZE;
        shapes_globals.transparency_tables = (uint8_t *)malloc((size_t)size);
        if (!shapes_globals.transparency_tables)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for transparency tables", (int)size);
            return false;
        }
        build_transparency_table(_transparency_normal, shapes_globals.transparency_tables);
        build_transparency_table(_transparency_overlay, shapes_globals.transparency_tables + TRANSPARENCY_TABLE_SIZE);
    }
    return collections.registered || initialize_definitions(&collections);
}

void initialize_shapes_for_new_map(void)
{
    int16_t bit_depth = 32, encoding = _32bit_encoding;
    if (active_screen.screen_initialized && active_screen.rasterizer_code == _rasterizer_software)
    {
        bit_depth = active_screen.bit_depth;
        encoding = active_screen.encoding;
    }
    else if (active_screen.screen_initialized)
        get_shapes_bit_depth_and_encoding_hardware(&bit_depth, &encoding);
    set_shading_sizes(bit_depth, encoding);
    shapes_globals.highres_active = false;
    initialize_definitions_for_new_map(&collections);
    shapes_globals.initialized = true;
}

void dispose_shapes_from_old_map(void)
{
    shapes_globals.landscape_media_table = NONE;
    dispose_definitions_from_old_map(&collections);
    shapes_globals.initialized = false;
}

int32_t get_collection_index(tag collection_tag)
{
    return try_definition_tag_to_index(&collections, collection_tag, true, 0);
}

int32_t try_and_get_collection_index(tag collection_tag)
{
    return try_definition_tag_to_index(&collections, collection_tag, true, _definition_lookup_reload_flag);
}

int32_t get_collection_index_if_present(tag collection_tag)
{
    return try_definition_tag_to_index(&collections, collection_tag, true, _definition_lookup_quiet_flag);
}

int32_t find_loaded_collection_index(tag collection_tag)
{
    return subgroup_tag_to_definition_index(&collections, collection_tag);
}

void delete_collection(int32_t collection_index)
{
    if (try_and_get_definition(&collections, collection_index)) delete_definition(&collections, collection_index);
}

void delete_collection_tag(tag collection_tag)
{
    delete_collection(subgroup_tag_to_definition_index(&collections, collection_tag));
}

int32_t load_temporary_collection(int32_t tag_index)
{
    tag_file_info info;
    if (!collections.registered || collections.count == NONE || !tag_file_info_get(tag_index, &info)) return NONE;
    if (info.size < COLLECTION_HEADER_SIZE) return NONE;
    collection_header header;
    if (!tag_file_read(tag_index, 0, COLLECTION_HEADER_SIZE, &header)) return NONE;
    byte_swap_data("collection", &header, (int32_t)sizeof(header), 1, collection_header_byte_swapping_data);
    if (info.version > COLLECTION_VERSION_NUMBER ||
        (info.version != COLLECTION_VERSION_NUMBER &&
         !convert_collection_header(&collections, tag_index, &header, (int16_t)info.version)))
        return NONE;
    const int32_t index = new_definition(&collections, info.subgroup_tag, &header);
    if (index == NONE) return NONE;
    if (!postprocess_collection_header(&collections, index, tag_index, try_and_get_definition(&collections, index)))
    {
        delete_definition(&collections, index);
        return NONE;
    }
    return index;
}

void dispose_temporary_collection(int32_t collection_index) { delete_collection(collection_index); }

// ---- lookups ---------------------------------------------------------------------

static collection_runtime *loaded_collection(int32_t collection_index)
{
    const collection_header *header = get_collection_header(collection_index);
    if (!header || !(header->flags & _collection_header_initialized_flag)) return nullptr;
    collection_runtime *runtime = (collection_runtime *)get_definition_runtime(&collections, collection_index);
    return runtime && runtime->sequences ? runtime : nullptr;
}

const collection_header *get_collection_header(int32_t collection_index)
{
    if (!collections.registered) return nullptr;
    return (const collection_header *)try_and_get_definition(&collections, collection_index);
}

const char *get_collection_name(int32_t collection_index)
{
    return collections.registered ? get_definition_name(&collections, collection_index) : "<unknown>";
}

int32_t get_collection_sequence_count(int32_t collection_index)
{
    return loaded_collection(collection_index)
               ? get_collection_header(collection_index)->blocks[_collection_block_sequence_references].count
               : 0;
}

int32_t get_collection_bitmap_count(int32_t collection_index)
{
    return loaded_collection(collection_index)
               ? get_collection_header(collection_index)->blocks[_collection_block_bitmap_references].count
               : 0;
}

// The sequence itself; null out of range (the simulation's strict lookup).
static sequence_data *held_sequence(int32_t collection_index, int32_t sequence_index)
{
    // loaded_collection and get_collection_sequence_count in one look at the
    // slot, for the header and the run-time record both: every object
    // animating each tick comes through here.
    if (!collections.registered || !definition_slot_is_used(&collections, collection_index)) return nullptr;
    const collection_header *header = (const collection_header *)((const uint8_t *)collections.definitions +
                                                                  (size_t)collection_index * (size_t)collections.size);
    if (!(header->flags & _collection_header_initialized_flag) || collections.runtime_size <= 0) return nullptr;
    collection_runtime *runtime = (collection_runtime *)((uint8_t *)collections.runtimes +
                                                         (size_t)collection_index * (size_t)collections.runtime_size);
    if (!runtime || !runtime->sequences ||
        !index_in(sequence_index, header->blocks[_collection_block_sequence_references].count))
        return nullptr;
    return &runtime->sequences[sequence_index];
}

// An index out of range means sequence 0, when the collection has one.
static int32_t sequence_or_first(int32_t collection_index, int32_t sequence_index)
{
    const int32_t count = get_collection_sequence_count(collection_index);
    if (count < 1) return NONE;
    return index_in(sequence_index, count) ? sequence_index : 0;
}

const sequence_data *get_sequence(int32_t collection_index, int32_t sequence_index)
{
    return held_sequence(collection_index, sequence_or_first(collection_index, sequence_index));
}

const sequence_reference *get_sequence_reference(int32_t collection_index, int32_t sequence_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    const int32_t index = sequence_or_first(collection_index, sequence_index);
    if (!runtime || index == NONE) return nullptr;
    static sequence_reference reference;
    const collection_header *header = get_collection_header(collection_index);
    reference = read_record<sequence_reference>(
        runtime->data, header->blocks[_collection_block_sequence_references].offset + (int64_t)index * SEQUENCE_REFERENCE_SIZE,
        sequence_reference_byte_swapping_data);
    memcpy(reference.name, runtime->sequence_names[index], sizeof(reference.name));
    return &reference;
}

const char *get_sequence_name(int32_t collection_index, int32_t sequence_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    const int32_t index = sequence_or_first(collection_index, sequence_index);
    return runtime && index != NONE ? runtime->sequence_names[index] : "";
}

const sequence_frame_data *get_sequence_frame(int32_t collection_index, int32_t sequence_index, int32_t frame_index)
{
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence) return nullptr;
    if (!index_in(frame_index, sequence->frames_per_view))
    {
        log_message(__FILE__, __LINE__, "%s: frame #%d of sequence #%d not in [#0,#%d)",
                    get_collection_name(collection_index), (int)frame_index, (int)sequence_index,
                    (int)sequence->frames_per_view);
        return nullptr;
    }
    const collection_runtime *runtime = loaded_collection(collection_index);
    return &runtime->frames[runtime->first_frames[sequence_index] + frame_index];
}

// Record `index` of `count`, or record 0 (logged) out of range; null when there is none.
template <typename T>
static const T *record_or_first(const T *records, int32_t count, int32_t index, int32_t collection_index,
                                const char *what)
{
    if (!records || count < 1) return nullptr;
    if (index_in(index, count)) return &records[index];
    log_message(__FILE__, __LINE__, "%s: %s #%d not in [#0,#%d)", get_collection_name(collection_index), what,
                (int)index, (int)count);
    return &records[0];
}

const bitmap_instance_data *get_bitmap_instance(int32_t collection_index, int32_t instance_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime) return nullptr;
    return record_or_first(runtime->instances,
                           get_collection_header(collection_index)->blocks[_collection_block_bitmap_instances].count,
                           instance_index, collection_index, "bitmap_instance");
}

bool sprite_instance_is_drawable(int32_t collection_index, const bitmap_instance_data *instance)
{
    collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !instance || instance->bitmap_index == NONE) return true;
    const int32_t bitmap_count = get_collection_header(collection_index)->blocks[_collection_block_bitmap_references].count;
    const int32_t index = instance->bitmap_index;
    if (index < 0 || index >= bitmap_count || !runtime->bitmap_records[index]) return false;
    const bitmap_data *bitmap = runtime->bitmap_records[index];
    const bitmap_point registration =
        instance_is_high_resolution(instance) ? instance->highres_registration_point : instance->registration_point;
    const int32_t w = bitmap->width, h = bitmap->height;
    const char *fault = nullptr;
    if (w < 1 || h < 1 || w > MAXIMUM_BITMAP_DIMENSION || h > MAXIMUM_BITMAP_DIMENSION) fault = "its size";
    else if (registration.x < 0 || registration.x > w || registration.y < 0 || registration.y > h)
        fault = "its registration point outside its bounds";
    if (!fault) return true;
    if (!runtime->sprite_faults_told[index])
    {
        runtime->sprite_faults_told[index] = 1;
        log_message(__FILE__, __LINE__,
                    "sprite bitmap #%d of \"%s\" collection not drawn: %s (%d x %d, registration point %d,%d)",
                    (int)index, get_collection_name(collection_index), fault, (int)w, (int)h, (int)registration.x,
                    (int)registration.y);
    }
    return false;
}

const shadow_map_data *get_shadow_map(int32_t collection_index, int32_t shadow_map_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime) return nullptr;
    return record_or_first(runtime->shadow_maps, runtime->shadow_map_count, shadow_map_index, collection_index,
                           "shadow_map");
}

static bool is_color_map(int32_t collection_index)
{
    const collection_header *header = get_collection_header(collection_index);
    return header && (header->user_data_flags & _collection_is_color_map_flag);
}

const bitmap_reference *get_bitmap_reference(int32_t collection_index, int32_t bitmap_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !index_in(bitmap_index, get_collection_bitmap_count(collection_index))) return nullptr;
    VWARN(!is_color_map(collection_index), "!(header->user_data_flags&_collection_is_color_map_flag)");
    return &runtime->bitmaps[bitmap_index];
}

// Marks a bitmap as the collection's on first use and, when its pixels are
// single bytes or flat words, gives it colour-key transparency when a byte is 0.
static void first_use_of_bitmap(bitmap_data *bitmap, int32_t collection_index, int32_t bitmap_index, bool scan)
{
    if (bitmap->flags & _bitmap_in_collection_flag) return;
    bitmap->flags |= _bitmap_in_collection_flag;
    bitmap->collection_index = (int16_t)collection_index;
    bitmap->bitmap_index = (int16_t)bitmap_index;
    if (!scan || (bitmap->flags & (_bitmap_color_key_transparency_flag | _1bit_transparency_encoded_flag |
                                   _4bit_transparency_encoded_flag)))
        return;
    const size_t row_bytes = (size_t)bitmap->width << bitmap->pixel_upshift;
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        const uint8_t *row = bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
        if (memchr(row, 0, row_bytes))
        {
            bitmap->flags |= _bitmap_color_key_transparency_flag;
            return;
        }
    }
}

bitmap_data *get_bitmap(int32_t collection_index, int32_t bitmap_index)
{
    collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !index_in(bitmap_index, get_collection_bitmap_count(collection_index))) return nullptr;
    bitmap_data *bitmap = runtime->bitmap_records[bitmap_index];
    first_use_of_bitmap(bitmap, collection_index, bitmap_index, true);
    return bitmap;
}

bool report_preloaded_bitmaps(tag mesh_tag, tag preload_tag)
{
    int32_t tag_index = tag_file_open(PRELOAD_DEFINITION_GROUP_TAG, preload_tag);
    preload_definition header;
    if (tag_index == NONE || !tag_file_read(tag_index, 0, (int32_t)sizeof(header), &header) ||
        !byte_swap_data("preload_definition", &header, (int32_t)sizeof(header), 1,
                        preload_definition_byte_swapping_data))
    {
        ERROR_MESSAGE(3, "couldn't read header for preload data for map %s", tag_to_string(mesh_tag));
        return false;
    }
    header.bitmap_preload_data_count = 0;
    header.bitmap_preload_data_size = 0;
    header.bitmap_preload_data_offset = header.preload_data_offset + header.preload_data_size;
    byte_swap_data("preload_definition", &header, (int32_t)sizeof(header), 1, preload_definition_byte_swapping_data);
    if (!tag_file_write(&tag_index, 0, (int32_t)sizeof(header), &header))
    {
        ERROR_MESSAGE(4, "couldn't write preload definition for map %s", tag_to_string(mesh_tag));
        return false;
    }
    return true;
}

void preload_bitmap(int32_t collection_index, int32_t bitmap_index, bool *had_to_purge)
{
    if (had_to_purge) *had_to_purge = false;
    collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !index_in(bitmap_index, get_collection_bitmap_count(collection_index))) return;
    bitmap_data *bitmap = runtime->bitmap_records[bitmap_index];
    first_use_of_bitmap(bitmap, collection_index, bitmap_index, bitmap->encoding == _no_encoding);
    // A hardware back end may take the bitmap into its cache now rather than
    // at its first draw.
    if (active_screen.screen_initialized && active_screen.rasterizer_code != _rasterizer_software)
        preload_bitmap_into_cache_hardware(bitmap);
}

static void preload_sequence(int32_t collection_index, int32_t sequence_index, bool *had_to_purge)
{
    if (had_to_purge) *had_to_purge = false;
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence) return;
    const int32_t total = (int32_t)sequence->frames_per_view * sequence->number_of_views;
    for (int32_t k = 0; k < total; ++k)
    {
        bool purged = false;
        preload_bitmap(collection_index, get_sequence_bitmap_index(collection_index, sequence_index, NONE, k, nullptr, nullptr),
                       &purged);
        if (purged)
        {
            if (had_to_purge) *had_to_purge = true;
            return;
        }
    }
}

int32_t get_sequence_instance_index(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame)
{
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence || sequence->frames_per_view < 1 || sequence->number_of_views < 1) return NONE;
    const int32_t frames = sequence->frames_per_view, views = sequence->number_of_views;
    if (view == NONE)
    {
        const int32_t k = frame % (frames * views);
        view = k / frames;
        frame = k % frames;
    }
    else
    {
        frame %= frames;
        view %= views;
    }
    if (frame < 0 || view < 0) return NONE;
    const collection_runtime *runtime = loaded_collection(collection_index);
    return runtime->frame_instances[runtime->first_entries[sequence_index] + (int64_t)frame * views + view];
}

int32_t get_sequence_bitmap_index(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame,
                                  point2d *registration_point, point2d *key_point)
{
    const int32_t instance_index = get_sequence_instance_index(collection_index, sequence_index, view, frame);
    if (instance_index == NONE) return NONE;
    const bitmap_instance_data *instance = &loaded_collection(collection_index)->instances[instance_index];
    if (registration_point) *registration_point = {instance->registration_point.x, instance->registration_point.y};
    if (key_point) *key_point = {instance->key_point.x, instance->key_point.y};
    return instance->bitmap_index;
}

bitmap_data *get_sequence_bitmap(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame,
                                 point2d *registration_point, point2d *key_point)
{
    return get_bitmap(collection_index,
                      get_sequence_bitmap_index(collection_index, sequence_index, view, frame, registration_point, key_point));
}

rgb_color *get_rgb_color_from_sequence(int32_t collection_index, int32_t sequence_index, int32_t color_index,
                                       rgb_color *color)
{
    *color = {65535, 65535, 65535, 0};
    const bitmap_data *strip = get_sequence_bitmap(collection_index, sequence_index, 0, 0, nullptr, nullptr);
    // Only a flat strip of single-byte indexes can be read as one.
    if (!strip || strip->logical_bit_depth != 8 ||
        (strip->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)))
        return color;
    if (color_index < 0 || color_index >= strip->width) return color;
    *color = loaded_collection(collection_index)->colors.colors[strip->row_addresses[0][color_index]];
    return color;
}

int32_t get_named_sequence_index(int32_t collection_index, const char *name)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !name) return NONE;
    const int32_t count = get_collection_sequence_count(collection_index);
    for (int32_t i = 0; i < count; ++i)
        if (strcasecmp_(runtime->sequence_names[i], name) == 0) return i;
    return NONE;
}

int32_t get_named_bitmap_index(int32_t collection_index, const char *name)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !name) return NONE;
    const int32_t count = get_collection_bitmap_count(collection_index);
    for (int32_t i = 0; i < count; ++i)
    {
        char stored[65];
        memcpy(stored, runtime->bitmaps[i].name, 64);
        stored[64] = 0;
        if (strcasecmp_(stored, name) == 0) return i;
    }
    return NONE;
}

int32_t count_sequence_bitmaps(int32_t collection_index, int32_t sequence_index, int32_t mode)
{
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence) return 0;
    switch (mode)
    {
    case _count_views_times_frames: return (int32_t)sequence->number_of_views * sequence->frames_per_view;
    case _count_frames_per_view: return sequence->frames_per_view;
    case _count_views: return sequence->number_of_views;
    default: return 0;
    }
}

bool verify_bitmap_index(int32_t collection_index, int32_t bitmap_index)
{
    const int32_t count = get_collection_bitmap_count(collection_index);
    if (index_in(bitmap_index, count)) return true;
    ERROR_MESSAGE(_error_array_out_of_bounds, "bitmap #%d not in [#0,#%d) for \"%s\" collection", (int)bitmap_index,
                  (int)count, get_collection_name(collection_index));
    return false;
}

uint8_t *get_submesh_bitmap_base_address(int32_t collection_index, int32_t bitmap_index)
{
    collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !is_color_map(collection_index) ||
        !index_in(bitmap_index, get_collection_bitmap_count(collection_index)))
        return nullptr;
    return runtime->bitmap_records[bitmap_index]->row_addresses[0];
}

const color_table *get_color_table(int32_t collection_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    return runtime ? &runtime->colors : nullptr;
}

const hue_change *get_collection_hue_changes(int32_t collection_index, int32_t *count)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    *count = runtime ? runtime->hue_change_count : 0;
    return runtime ? runtime->hue_changes : nullptr;
}

const uint8_t *get_remapping_table(int32_t collection_index, int32_t *size)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (size) *size = runtime ? runtime->remapping_table_size : 0;
    return runtime ? runtime->remapping_table : nullptr;
}

const uint8_t *get_blend_table(int32_t collection_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime) return nullptr;
    if (!runtime->blend_table)
        log_message(__FILE__, __LINE__, "%s: doesn't have a blend table", get_collection_name(collection_index));
    return runtime->blend_table;
}

bool add_blend_table_to_collection_index(int32_t collection_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    VASSERT(runtime && runtime->blend_table, "the collection has a blend table");
    return true;
}

const uint8_t *get_transparency_table(int32_t mode)
{
    if (!shapes_globals.transparency_tables || mode < 0 || mode >= NUMBER_OF_TRANSPARENCY_MODES) return nullptr;
    return shapes_globals.transparency_tables + (size_t)mode * TRANSPARENCY_TABLE_SIZE;
}

int16_t get_shapes_encoding(void) { return get_shading_sizes()->encoding; }

void equalize_sequence_collision_rectangles(int32_t collection_index, int32_t primary_sequence,
                                            int32_t secondary_sequence)
{
    if (primary_sequence == NONE || secondary_sequence == NONE) return;
    const sequence_data *primary = held_sequence(collection_index, primary_sequence);
    sequence_data *secondary = held_sequence(collection_index, secondary_sequence);
    if (!primary || !secondary) return;
    secondary->radius = primary->radius;
    secondary->height0 = primary->height0;
    secondary->height1 = primary->height1;
    secondary->world_radius = primary->world_radius;
    secondary->world_height0 = primary->world_height0;
    secondary->world_height1 = primary->world_height1;
}

bool test_collection_replacement_colors(int32_t collection_index, const rgb_color *replacement_colors,
                                        int32_t replacement_color_count, const rgb_color *primary,
                                        const rgb_color *secondary)
{
    int32_t count = 0;
    const hue_change *changes = get_collection_hue_changes(collection_index, &count);
    if (count > replacement_color_count) count = replacement_color_count;
    for (int32_t i = 0; i < count; ++i)
    {
        const bool replacement_used = !(replacement_colors[i].flags & _color_unused_flag);
        if ((changes[i].flags & _hue_change_primary_flag) && replacement_used && primary &&
            !(primary->flags & _color_unused_flag))
            return true;
        if ((changes[i].flags & _hue_change_secondary_flag) && replacement_used && secondary &&
            !(secondary->flags & _color_unused_flag))
            return true;
    }
    return false;
}

bool write_bitmap_to_collection(int32_t collection_index, int32_t bitmap_index, const bitmap_data *bitmap)
{
    collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !bitmap || !index_in(bitmap_index, get_collection_bitmap_count(collection_index))) return false;
    const bitmap_data *stored = runtime->bitmap_records[bitmap_index];
    const int16_t kept_flags = (int16_t)~(_bitmap_postprocessed_flags | _bitmap_color_key_transparency_flag);
    if (!VASSERT(bitmap->width == stored->width, "bitmap->width==stored->width") ||
        !VASSERT(bitmap->height == stored->height, "bitmap->height==stored->height") ||
        !VASSERT(bitmap->bytes_per_row == stored->bytes_per_row, "bitmap->bytes_per_row==stored->bytes_per_row") ||
        !VASSERT((bitmap->flags & kept_flags) == (stored->flags & kept_flags), "bitmap->flags==stored->flags"))
        return false;
    const bitmap_reference &reference = runtime->bitmaps[bitmap_index];
    const collection_header *header = get_collection_header(collection_index);
    int32_t tag_index = get_definition_tag_header(&collections, collection_index);
    if (tag_index == NONE) return false;
    // The stored form: the header as stored, the row table space, the pixels in file order.
    uint8_t *buffer = (uint8_t *)malloc((size_t)reference.size);
    if (!buffer) return false;
    const uint8_t *stored_bytes = runtime->data + reference.offset;
    memcpy(buffer, stored_bytes, (size_t)reference.size);
    const size_t pixels_offset = (size_t)(stored->row_addresses[0] - stored_bytes);
    const size_t pixels_size = (size_t)reference.size - pixels_offset;
    // A bitmap of the same size, row size and flags has the same pixel layout.
    memcpy(buffer + pixels_offset, bitmap->row_addresses[0], pixels_size);
    bitmap_data file_order = *stored;
    file_order.row_addresses[0] = buffer + pixels_offset;
    byte_swap_bitmap_pixels(&file_order, false);
    const bool written = tag_file_write(&tag_index, header->data_offset + reference.offset, reference.size, buffer);
    if (written) memmove(stored->row_addresses[0], bitmap->row_addresses[0], pixels_size);
    free(buffer);
    return written;
}

shading_table_list *get_collection_shading_table_list(int32_t collection_index)
{
    collection_runtime *runtime = loaded_collection(collection_index);
    return runtime ? runtime->shading_tables : nullptr;
}

void *get_shapes_bitmap_cache(void) { return nullptr; }
void *get_shapes_submesh_cache(void) { return nullptr; }
void preload_submesh_cache(void) {}

// ---- high resolution --------------------------------------------------------------------

bool highres_sprites_enabled(void) { return shapes_globals.highres_active; }

static void rebuild_every_collection(void)
{
    if (!collections.registered || collections.count == NONE) return;
    for (int32_t i = 0; i < collections.count; ++i)
        if (collection_runtime *runtime = loaded_collection(i)) build_redundant_collection_data(get_collection_header(i), runtime);
}

// Nothing switches high resolution on: each switch only turns it off.
void enable_highres_sprites(bool enable)
{
    if (!shapes_globals.highres_active) return;
    shapes_globals.highres_active = false;
    rebuild_every_collection();
}

void toggle_highres_sprites(void) { enable_highres_sprites(false); }

bool perma_disable_highres_sprites(void)
{
    screen_parameters *prefs = active_screen.prefs;
    const bool was_set = prefs && (prefs->flags & _screen_pref_highres_sprites_flag);
    if (was_set)
    {
        prefs->flags &= (uint16_t)~_screen_pref_highres_sprites_flag;
        if (!save_screen_parameters(prefs))
            log_message(__FILE__, __LINE__, "the screen preferences could not be saved without high-resolution sprites");
    }
    enable_highres_sprites(false);
    return was_set;
}

// ---- the collections' own sequence check ------------------------------------

static bool collection_holds_sequence(int32_t collection_index, int32_t sequence_index)
{
    if (collection_index == NONE) return false;
    if (sequence_index == NONE) return true;
    const int32_t count = get_collection_sequence_count(collection_index);
    if (index_in(sequence_index, count)) return true;
    ERROR_MESSAGE(_error_array_out_of_bounds, "sequence #%d not in [#0,#%d) for \"%s\" collection", (int)sequence_index,
                  (int)count, get_definition_name(&collections, collection_index));
    return false;
}

// Projectiles read their in-flight sequences ahead through the same preparer;
// a purge ends the pass.
static void preload_projectile_sequence(int16_t collection_index, int16_t sequence_index, bool *stop)
{
    preload_sequence(collection_index, sequence_index, stop);
}

// ---- the units' shading tables and custom references -------------------------------------

// The replacement colours of a table in a player's colours: a primary hue
// change takes the primary colour, a secondary one the secondary; the rest
// keep the collection's colours.
static int32_t player_replacement_colors(int32_t collection_index, const rgb_color *primary,
                                         const rgb_color *secondary, rgb_color colors[MAXIMUM_SHADING_TABLE_HUE_CHANGES])
{
    int32_t count = 0;
    const hue_change *changes = get_collection_hue_changes(collection_index, &count);
    if (count > MAXIMUM_SHADING_TABLE_HUE_CHANGES) count = MAXIMUM_SHADING_TABLE_HUE_CHANGES;
    for (int32_t i = 0; i < count; ++i)
    {
        colors[i] = {0, 0, 0, _color_unused_flag};
        if ((changes[i].flags & _hue_change_primary_flag) && primary && !(primary->flags & _color_unused_flag))
            colors[i] = *primary;
        else if ((changes[i].flags & _hue_change_secondary_flag) && secondary &&
                 !(secondary->flags & _color_unused_flag))
            colors[i] = *secondary;
    }
    return count;
}

// The units' service: a sprite table of the collection, in the player's
// colours when either is given.  Every caller asks for a sprite table.
static int32_t unit_shading_table(int32_t collection_index, const rgb_color *primary, const rgb_color *secondary,
                                  int32_t, fixed tint_fraction, const rgb_color *tint_color)
{
    if (!primary && !secondary)
        return add_shading_table_to_collection_index(collection_index, nullptr, 0, _add_shading_table_for_tinting,
                                                     tint_fraction, tint_color);
    rgb_color colors[MAXIMUM_SHADING_TABLE_HUE_CHANGES];
    const int32_t count = player_replacement_colors(collection_index, primary, secondary, colors);
    return add_shading_table_to_collection_index(collection_index, colors, count, _add_shading_table_for_tinting,
                                                 tint_fraction, tint_color);
}

// A custom reference's permutations all take one table in its player's colours.
static void color_custom_collection_reference(collection_reference_definition *reference)
{
    if (reference->collection_index == NONE) return;
    const rgb_color primary = {reference->primary_color[0], reference->primary_color[1], reference->primary_color[2],
                               reference->primary_color[3]};
    const rgb_color secondary = {reference->secondary_color[0], reference->secondary_color[1],
                                 reference->secondary_color[2], reference->secondary_color[3]};
    const int32_t table = unit_shading_table(reference->collection_index, &primary, &secondary, 0, 0, nullptr);
    if (table == NONE) return;
    for (int32_t p = 0; p < reference->number_of_permutations; ++p) reference->color_table_indexes[p] = (int16_t)table;
}

// ---- the mesh's landscape ---------------------------------------------------------------

// Objects mirrored in the map's water and the parts of objects under it take
// the water's tint; a map without water keeps the default reflection tint.
static void set_reflection_tint(const media_definition *media)
{
    static const rgb_color default_tint = {0, 0, 32768, 0};
    if (media)
        set_shading_table_permutation_data(_shading_table_reflection, _shading_mode_blend,
                                           (short_fixed)media->reflection_tint_fraction, &media->reflection_tint_color);
    else
        set_shading_table_permutation_data(_shading_table_reflection, _shading_mode_blend, 128, &default_tint);
}

bool load_landscape_collection(mesh_header *header)
{
    header->landscape_collection_index = NONE;
    shapes_globals.landscape_media_table = NONE;
    const media_definition *media = get_media_definition(header->media_type);
    set_reflection_tint(media);
    // Maps built by code leave the field 0: no landscape, as NONE.
    if (header->landscape_collection_tag == NONE || header->landscape_collection_tag == 0) return true;
    const int32_t index = get_collection_index(header->landscape_collection_tag);
    if (index == NONE) return false;
    if (!is_color_map(index))
    {
        ERROR_MESSAGE(_error_data_corrupted, "landscape collection \"%s\" is not a colour map",
                      get_collection_name(index));
        return false;
    }
    header->landscape_collection_index = (int16_t)index;
    add_shading_table_to_mesh(index, header->dark_fraction, &header->dark_color, header->transition_point,
                              header->light_fraction, &header->light_color);
    if (media && media->surface_tint_fraction > 0)
        shapes_globals.landscape_media_table = (int16_t)add_media_shading_table_to_mesh(
            index, header->dark_fraction, &header->dark_color, header->transition_point, header->light_fraction,
            &header->light_color, (short_fixed)media->surface_tint_fraction, &media->reflection_tint_color);
    return true;
}

const void *get_color_map_media_shading_table(void)
{
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_index == NONE || shapes_globals.landscape_media_table == NONE)
        return nullptr;
    return get_shading_table(header->landscape_collection_index, shapes_globals.landscape_media_table, NONE);
}

// A 256 x 256 flat 8-bit bitmap of the landscape; null otherwise.
static uint8_t *landscape_bitmap(int32_t bitmap_index)
{
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_index == NONE) return nullptr;
    collection_runtime *runtime = loaded_collection(header->landscape_collection_index);
    if (!runtime || !index_in(bitmap_index, get_collection_bitmap_count(header->landscape_collection_index)))
        return nullptr;
    const bitmap_data *bitmap = runtime->bitmap_records[bitmap_index];
    if (bitmap->width != 256 || bitmap->height != 256 || bitmap->bytes_per_row != 256 ||
        bitmap->logical_bit_depth != 8 || (bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)))
        return nullptr;
    return get_submesh_bitmap_base_address(header->landscape_collection_index, bitmap_index);
}

static const void *landscape_shading_table(void)
{
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_index == NONE) return nullptr;
    return get_shading_table(header->landscape_collection_index, 0, NONE);
}

static const uint8_t *landscape_blend_table(void)
{
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_index == NONE) return nullptr;
    return get_blend_table(header->landscape_collection_index);
}

// ---- the object layer's shape procedures -------------------------------------

static bool shape_sequence_information_proc(int16_t collection_index, int16_t sequence_index,
                                            shape_sequence_information *information)
{
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence) return false;
    information->frames_per_view = sequence->frames_per_view;
    information->number_of_views = sequence->number_of_views;
    information->ticks_per_frame = sequence->ticks_per_frame;
    information->key_frame = sequence->key_frame;
    return true;
}

static bool shape_key_point_proc(int16_t collection_index, int16_t sequence_index, int16_t frame_index,
                                 world_point3d *offset)
{
    const sequence_data *sequence = held_sequence(collection_index, sequence_index);
    if (!sequence || !index_in(frame_index, sequence->frames_per_view)) return false;
    *offset = get_sequence_frame(collection_index, sequence_index, frame_index)->key_point;
    return true;
}

// ---- hooks -------------------------------------------------------------------------

static bool startup_shapes(void) { return initialize_shapes(); }
static bool empty_shape_stores(const new_game_data *)
{
    initialize_shapes_for_new_map();
    return true;
}

void register_shapes_hooks(void)
{
    register_startup_procedure(_startup_collections, startup_shapes);
    register_map_store_procedures(_startup_collections, empty_shape_stores, dispose_shapes_from_old_map);
    static const collection_procedures procedures = {
        .load_temporary_collection = load_temporary_collection,
        .dispose_temporary_collection = dispose_temporary_collection,
        .load_collection_header_data = load_collection_data_ahead,
        .collection_holds_sequence = collection_holds_sequence,
        .add_shading_table = unit_shading_table,
        .preload_sequence = preload_sequence,
        .color_custom_collection_reference = color_custom_collection_reference,
        .shape_sequence_information = shape_sequence_information_proc,
        .shape_key_point = shape_key_point_proc,
        .load_landscape_collection = load_landscape_collection,
        .landscape_bitmap = landscape_bitmap,
        .landscape_shading_table = landscape_shading_table,
        .landscape_blend_table = landscape_blend_table,
        .preload_projectile_sequence = preload_projectile_sequence,
    };
    register_collection_procedures(&procedures);
}
