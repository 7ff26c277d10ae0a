// Collections ('.256').  See shapes.h.

#include "shapes.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "gameplay_versions.h"
#include "objects.h"
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

// The stored bitmap header: nine 16-bit words (width .. encoding), 30 bytes
// of run-time words, the first row slot.
const byte_swap_code stored_bitmap_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 30, 4,
    _end_bs_array};

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
};

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

int32_t number_of_displayed_views_in_sequence(int32_t number_of_views)
{
    return number_of_views < 3 ? number_of_views : number_of_views / 2 + 1;
}

int32_t mirror_sequence_view(int32_t number_of_views, int32_t view)
{
    const int32_t displayed = number_of_displayed_views_in_sequence(number_of_views);
    if (view >= 0 && view < displayed) return view;
    if (view < displayed || view >= number_of_views)
    {
        VWARN(false, "view>=unmirrored_view_count && view<number_of_views");
        return NONE;
    }
    return (number_of_views & 1) + 2 * displayed - view - 2;
}

static bool mirrors(const sequence_data &sequence, int32_t view)
{
    return (sequence.flags & _sequence_uses_mirroring_flag) &&
           view >= number_of_displayed_views_in_sequence(sequence.number_of_views);
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

// World bounds of instances and key points of frames.
static void build_redundant_collection_data(const collection_header *header, collection_runtime *runtime)
{
    const int32_t sequence_count = header->blocks[_collection_block_sequence_references].count;
    const int32_t instance_count = header->blocks[_collection_block_bitmap_instances].count;
    for (int32_t i = 0; i < instance_count; ++i)
        runtime->instances[i].lowres_bitmap_index = runtime->instances[i].bitmap_index;
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
                instance->bitmap_index = instance->lowres_bitmap_index;
                if (instance->bitmap_index != NONE)
                {
                    const bitmap_reference &bitmap = runtime->bitmaps[instance->bitmap_index];
                    const int64_t w = bitmap.width, h = bitmap.height;
                    const int64_t rx = instance->registration_point.x, ry = instance->registration_point.y;
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
    header->flags |= _collection_header_initialized_flag;
    return true;
}

bool check_collection_tag_data(const void *tag_data, int32_t size, const char *name)
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

bool initialize_shapes(void) { return collections.registered || initialize_definitions(&collections); }

void initialize_shapes_for_new_map(void) { initialize_definitions_for_new_map(&collections); }

void dispose_shapes_from_old_map(void) { dispose_definitions_from_old_map(&collections); }

int32_t get_collection_index(tag collection_tag)
{
    return try_definition_tag_to_index(&collections, collection_tag, true, 0);
}

// ---- lookups ---------------------------------------------------------------------

static const collection_runtime *loaded_collection(int32_t collection_index)
{
    const collection_header *header = get_collection_header(collection_index);
    if (!header || !(header->flags & _collection_header_initialized_flag)) return nullptr;
    const collection_runtime *runtime =
        (const collection_runtime *)get_definition_runtime(&collections, collection_index);
    return runtime && runtime->sequences ? runtime : nullptr;
}

const collection_header *get_collection_header(int32_t collection_index)
{
    if (!collections.registered) return nullptr;
    return (const collection_header *)try_and_get_definition(&collections, collection_index);
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

const sequence_data *get_sequence(int32_t collection_index, int32_t sequence_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !index_in(sequence_index, get_collection_sequence_count(collection_index))) return nullptr;
    return &runtime->sequences[sequence_index];
}

const sequence_frame_data *get_sequence_frame(int32_t collection_index, int32_t sequence_index, int32_t frame_index)
{
    const sequence_data *sequence = get_sequence(collection_index, sequence_index);
    if (!sequence || !index_in(frame_index, sequence->frames_per_view)) return nullptr;
    return &loaded_collection(collection_index)
                ->frames[loaded_collection(collection_index)->first_frames[sequence_index] + frame_index];
}

const bitmap_instance_data *get_bitmap_instance(int32_t collection_index, int32_t instance_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime ||
        !index_in(instance_index,
                  get_collection_header(collection_index)->blocks[_collection_block_bitmap_instances].count))
        return nullptr;
    return &runtime->instances[instance_index];
}

const bitmap_reference *get_bitmap_reference(int32_t collection_index, int32_t bitmap_index)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !index_in(bitmap_index, get_collection_bitmap_count(collection_index))) return nullptr;
    return &runtime->bitmaps[bitmap_index];
}

int32_t get_sequence_instance_index(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame)
{
    const sequence_data *sequence = get_sequence(collection_index, sequence_index);
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

int32_t get_named_sequence_index(int32_t collection_index, const char *name)
{
    const collection_runtime *runtime = loaded_collection(collection_index);
    if (!runtime || !name) return NONE;
    const int32_t count = get_collection_sequence_count(collection_index);
    for (int32_t i = 0; i < count; ++i)
        if (strcasecmp_(runtime->sequence_names[i], name) == 0) return i;
    return NONE;
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

// ---- the object layer's shape procedures -------------------------------------

static bool shape_sequence_information_proc(int16_t collection_index, int16_t sequence_index,
                                            shape_sequence_information *information)
{
    const sequence_data *sequence = get_sequence(collection_index, sequence_index);
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
    const sequence_frame_data *frame = get_sequence_frame(collection_index, sequence_index, frame_index);
    if (!frame) return false;
    *offset = frame->key_point;
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
    register_shape_procedures(shape_sequence_information_proc, shape_key_point_proc);
    register_load_collection_header_data_procedure(load_collection_data_ahead);
    register_collection_holds_sequence_procedure(collection_holds_sequence);
}
