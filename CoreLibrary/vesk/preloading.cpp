// The preloader and the 'prel' group.  See preloading.h.

#include "preloading.h"

#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/tag_files.h"

const byte_swap_code preload_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _begin_bs_array, 8, _4byte, _end_bs_array, _end_bs_array};
const byte_swap_code preload_data_byte_swapping_data[] = {_begin_bs_array, 1, _4byte, _4byte, _end_bs_array};
const byte_swap_code bitmap_preload_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _end_bs_array};

enum
{
    // Both blocks full, back to back after the header: a larger tag holds
    // bytes no field reaches.
    MAXIMUM_PRELOAD_TAG_SIZE =
        PRELOAD_DEFINITION_SIZE + MAXIMUM_PRELOADED_TAGS_PER_MAP * (PRELOAD_DATA_SIZE + BITMAP_PRELOAD_DATA_SIZE),
};

// What a loaded 'prel' definition keeps: its lists, read whole by the postprocess.
struct preload_runtime
{
    preload_list *list;
};

static struct preloading_globals
{
    int32_t map_preload_index; // the map's 'prel' definition, NONE without one
} preloading_globals = {NONE};

// Outside preloading_globals: start-up and map changes never empty a registration.
static procedure_slot<bulk_data_procedure> font_character_data_slot("load font character data");
static procedure_slot<bulk_data_procedure> sound_permutation_data_slot("load sound permutation data");

// ---- the stored layout -------------------------------------------------------------

struct preload_block
{
    const char *offset_name, *count_name, *size_name;
    int32_t count, offset, size;
};

// A block of `count` records of `record_size` bytes lies after the header,
// aligned, inside the tag; an empty block may stand anywhere.
static const char *preload_block_refusal(const preload_block *block, int32_t record_size, int32_t tag_size)
{
    if (block->count < 0 || block->count > MAXIMUM_PRELOADED_TAGS_PER_MAP) return block->count_name;
    if ((int64_t)block->size != (int64_t)block->count * record_size) return block->size_name;
    if (block->count == 0) return nullptr;
    if (block->offset < PRELOAD_DEFINITION_SIZE || block->offset % PRELOAD_BLOCK_ALIGNMENT != 0 ||
        (int64_t)block->offset + block->size > tag_size)
        return block->offset_name;
    return nullptr;
}

const char *read_preload_tag_data(const void *data, int32_t size, preload_list *list)
{
    if (data == nullptr || size < PRELOAD_DEFINITION_SIZE) return "size (smaller than the header)";
    if (size > MAXIMUM_PRELOAD_TAG_SIZE) return "size (larger than both lists)";
    const uint8_t *bytes = (const uint8_t *)data;
    preload_definition *header = &list->header;
    memcpy(header, bytes, sizeof(*header));
    if (!byte_swap_data("preload_definition", header, sizeof(*header), 1, preload_definition_byte_swapping_data))
        return "preload_definition";

    const preload_block tags = {"preload_data_offset", "preload_data_count", "preload_data_size",
                                header->preload_data_count, header->preload_data_offset, header->preload_data_size};
    const preload_block bitmaps = {"bitmap_preload_data_offset", "bitmap_preload_data_count",
                                   "bitmap_preload_data_size", header->bitmap_preload_data_count,
                                   header->bitmap_preload_data_offset, header->bitmap_preload_data_size};
    if (const char *refusal = preload_block_refusal(&tags, PRELOAD_DATA_SIZE, size)) return refusal;
    if (const char *refusal = preload_block_refusal(&bitmaps, BITMAP_PRELOAD_DATA_SIZE, size)) return refusal;
    if (tags.count > 0 && bitmaps.count > 0 && (int64_t)bitmaps.offset < (int64_t)tags.offset + tags.size &&
        (int64_t)tags.offset < (int64_t)bitmaps.offset + bitmaps.size)
        return "bitmap_preload_data_offset (overlaps the preload data)";

    for (int32_t i = 0; i < tags.count; ++i)
    {
        preload_data *record = &list->tags[i];
        memcpy(record, bytes + tags.offset + (int64_t)i * PRELOAD_DATA_SIZE, PRELOAD_DATA_SIZE);
        byte_swap_data("preload_data", record, PRELOAD_DATA_SIZE, 1, preload_data_byte_swapping_data);
        if (record->group_tag == NONE || record->group_tag == 0) return "preload_data group_tag";
        if (record->subgroup_tag == NONE) return "preload_data subgroup_tag";
    }
    for (int32_t i = 0; i < bitmaps.count; ++i)
    {
        bitmap_preload_data *record = &list->bitmaps[i];
        memcpy(record, bytes + bitmaps.offset + (int64_t)i * BITMAP_PRELOAD_DATA_SIZE, BITMAP_PRELOAD_DATA_SIZE);
        byte_swap_data("bitmap_preload_data", record, BITMAP_PRELOAD_DATA_SIZE, 1,
                       bitmap_preload_data_byte_swapping_data);
        if (record->collection_tag == NONE) return "bitmap_preload_data collection_tag";
        if (record->bitmap_index < 0 || record->bitmap_index > MAXIMUM_PRELOADED_BITMAP_INDEX)
            return "bitmap_preload_data bitmap_index";
        if (record->pad != 0) return "bitmap_preload_data pad";
    }
    // The pointer words belong to the run time: whatever is stored there is ignored.
    header->preload_data = header->bitmap_preload_data = 0;
    return nullptr;
}

int32_t encode_preload_tag_data(const preload_data *tags, int32_t tag_count, const bitmap_preload_data *bitmaps,
                                int32_t bitmap_count, void *buffer, int32_t size)
{
    if (tag_count < 0 || tag_count > MAXIMUM_PRELOADED_TAGS_PER_MAP || bitmap_count < 0 ||
        bitmap_count > MAXIMUM_PRELOADED_TAGS_PER_MAP)
        return NONE;
    const int32_t needed =
        PRELOAD_DEFINITION_SIZE + tag_count * PRELOAD_DATA_SIZE + bitmap_count * BITMAP_PRELOAD_DATA_SIZE;
    if (buffer == nullptr) return needed;
    if (size < needed) return NONE;
    uint8_t *out = (uint8_t *)buffer;
    memset(out, 0, (size_t)needed);
    preload_definition header;
    memset(&header, 0, sizeof(header));
    header.preload_data_count = tag_count;
    header.preload_data_offset = tag_count ? PRELOAD_DEFINITION_SIZE : 0;
    header.preload_data_size = tag_count * PRELOAD_DATA_SIZE;
    header.bitmap_preload_data_count = bitmap_count;
    header.bitmap_preload_data_offset = bitmap_count ? PRELOAD_DEFINITION_SIZE + header.preload_data_size : 0;
    header.bitmap_preload_data_size = bitmap_count * BITMAP_PRELOAD_DATA_SIZE;
    byte_swap_data("preload_definition", &header, sizeof(header), 1, preload_definition_byte_swapping_data);
    memcpy(out, &header, sizeof(header));
    uint8_t *position = out + PRELOAD_DEFINITION_SIZE;
    for (int32_t i = 0; i < tag_count; ++i, position += PRELOAD_DATA_SIZE)
    {
        write_be32(position, tags[i].group_tag);
        write_be32(position + 4, tags[i].subgroup_tag);
    }
    for (int32_t i = 0; i < bitmap_count; ++i, position += BITMAP_PRELOAD_DATA_SIZE)
    {
        write_be32(position, bitmaps[i].collection_tag);
        write_be16(position + 4, (uint16_t)bitmaps[i].bitmap_index);
        write_be16(position + 6, (uint16_t)bitmaps[i].pad);
    }
    return needed;
}

// ---- the 'prel' group ------------------------------------------------------------

// The registry has read the 32-byte header; the whole tag is checked and its
// lists kept, or the tag is refused with code 10 naming the field.
static bool postprocess_preload_definition(definition_globals *group, int32_t index, int32_t tag_index, void *)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return false;
    const char *refusal = nullptr;
    uint8_t *bytes = nullptr;
    preload_list *list = nullptr;
    if (info.size < PRELOAD_DEFINITION_SIZE || info.size > MAXIMUM_PRELOAD_TAG_SIZE)
        refusal = "size";
    else
    {
        bytes = (uint8_t *)malloc((size_t)info.size);
        list = (preload_list *)malloc(sizeof(preload_list));
        if (bytes == nullptr || list == nullptr)
        {
            free(bytes);
            free(list);
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for preloading data",
                          (int)(info.size + sizeof(preload_list)));
            return false;
        }
        if (!tag_file_read(tag_index, 0, info.size, bytes))
            refusal = "data (cannot be read)";
        else
            refusal = read_preload_tag_data(bytes, info.size, list);
    }
    free(bytes);
    if (refusal)
    {
        free(list);
        ERROR_MESSAGE(_error_data_corrupted, "preload definition '%s' refused: %s", info.name, refusal);
        return false;
    }
    ((preload_runtime *)get_definition_runtime(group, index))->list = list;
    return true;
}

static void release_preload_runtime(void *runtime)
{
    preload_runtime *kept = (preload_runtime *)runtime;
    free(kept->list);
    kept->list = nullptr;
}

definition_globals preload_definitions = {
    .name = "preload",
    .group = PRELOAD_DEFINITION_GROUP_TAG,
    .current_version = PRELOAD_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_PRELOAD_DEFINITIONS_PER_MAP,
    .size = sizeof(preload_definition),
    .runtime_size = sizeof(preload_runtime),
    .dependencies = nullptr,
    .postprocess = postprocess_preload_definition,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = preload_definition_byte_swapping_data,
    .release_runtime = release_preload_runtime,
};

bool initialize_preloading(void)
{
    preloading_globals.map_preload_index = NONE;
    return preload_definitions.registered || initialize_definitions(&preload_definitions);
}

void initialize_preloading_for_new_map(void)
{
    preloading_globals.map_preload_index = NONE;
    if (preload_definitions.registered) initialize_definitions_for_new_map(&preload_definitions);
}

void dispose_preloading_from_old_map(void)
{
    preloading_globals.map_preload_index = NONE;
    if (preload_definitions.registered) dispose_definitions_from_old_map(&preload_definitions);
}

static const preload_list *map_preload_list(void)
{
    if (preloading_globals.map_preload_index == NONE) return nullptr;
    const preload_runtime *kept =
        (const preload_runtime *)get_definition_runtime(&preload_definitions, preloading_globals.map_preload_index);
    return kept ? kept->list : nullptr;
}

bool preload_map_definitions(tag preload_tag)
{
    preloading_globals.map_preload_index = NONE;
    if (preload_tag == NONE) return true;
    if (!preload_definitions.registered || preload_definitions.count == NONE) return true;
    if (tag_file_open(PRELOAD_DEFINITION_GROUP_TAG, preload_tag) == NONE)
    {
        ERROR_MESSAGE(_error_data_corrupted, "preload tag '%s' is missing", tag_to_string(preload_tag));
        return false;
    }
    const int32_t index = try_definition_tag_to_index(&preload_definitions, preload_tag, true, 0);
    if (index == NONE) return false;
    preloading_globals.map_preload_index = index;

    const preload_list *list = map_preload_list();
    const int32_t count = list ? list->header.preload_data_count : 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const preload_data *entry = &list->tags[i];
        definition_globals *group = get_definition_group(entry->group_tag);
        if (group == nullptr || group->count == NONE) continue; // a group this program does not load (yet)
        if (tag_file_open(entry->group_tag, entry->subgroup_tag) == NONE)
        {
            char group_name[5], subgroup_name[5];
            log_message(nullptr, -1, "preloading: no %s '%s'; skipped", tag_to_string_buffer(entry->group_tag, group_name),
                        tag_to_string_buffer(entry->subgroup_tag, subgroup_name));
            continue;
        }
        fetch_definition_from_tag(entry->group_tag, entry->subgroup_tag);
    }
    return true;
}

const bitmap_preload_data *get_preloaded_bitmaps(int32_t *count)
{
    const preload_list *list = map_preload_list();
    if (count) *count = list ? list->header.bitmap_preload_data_count : 0;
    return list && list->header.bitmap_preload_data_count ? list->bitmaps : nullptr;
}

// ---- fetching ------------------------------------------------------------------------

static bool read_bulk_data_ahead(definition_globals *group, int32_t tag_index, void *definition, void *runtime)
{
    if (group->group == COLLECTION_GROUP_TAG) return load_collection_header_data(tag_index, definition, runtime, true);
    if (group->group == FONT_DEFINITION_GROUP_TAG) return load_font_character_data(tag_index, definition, runtime, true);
    if (group->group == SOUND_DEFINITION_GROUP_TAG)
        return load_sound_permutation_data(tag_index, definition, runtime, true);
    return false;
}

int32_t fetch_definition_from_tag(tag group_tag, tag subgroup)
{
    definition_globals *group = get_definition_group(group_tag);
    if (group == nullptr || group->count == NONE || subgroup == NONE) return NONE;
    return fetch_definition_tag_to_index(group, subgroup, read_bulk_data_ahead);
}

// ---- bulk readers --------------------------------------------------------------------

bool register_load_font_character_data_procedure(bulk_data_procedure procedure)
{
    return font_character_data_slot.fill(procedure);
}

bool load_collection_header_data(int32_t tag_index, void *header, void *runtime, bool read_ahead)
{
    const bulk_data_procedure procedure = get_collection_procedures()->load_collection_header_data;
    return procedure != nullptr && procedure(tag_index, header, runtime, read_ahead);
}

bool load_font_character_data(int32_t tag_index, void *font, void *runtime, bool read_ahead)
{
    const bulk_data_procedure procedure = font_character_data_slot.get();
    return procedure != nullptr && procedure(tag_index, font, runtime, read_ahead);
}

bool register_load_sound_permutation_data_procedure(bulk_data_procedure procedure)
{
    return sound_permutation_data_slot.fill(procedure);
}

bool load_sound_permutation_data(int32_t tag_index, void *sound, void *runtime, bool read_ahead)
{
    const bulk_data_procedure procedure = sound_permutation_data_slot.get();
    return procedure != nullptr && procedure(tag_index, sound, runtime, read_ahead);
}
