// String lists, dialog string lists and strings.  See string_lists.h.

#include "vesk/string_lists.h"

#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/tags.h"
#include "tag_files/tag_files.h"

struct loaded_string_list
{
    tag group; // 0 for a free entry
    tag subgroup;
    bool refused; // the tag is corrupt: lookups give NONE until it is deleted
    int32_t count; // rows; 1 for a string
    char *data; // the stored bytes, checked at load, followed by one zero byte
};

static struct string_list_globals
{
    loaded_string_list lists[MAXIMUM_STRING_LISTS];
} string_list_globals;

static loaded_string_list *get_loaded_list(int32_t index)
{
    if (index < 0 || index >= MAXIMUM_STRING_LISTS) return nullptr;
    loaded_string_list *list = &string_list_globals.lists[index];
    return list->group && !list->refused ? list : nullptr;
}

static void release_list(loaded_string_list *list)
{
    free(list->data);
    memset(list, 0, sizeof(*list));
}

// ---- the stored layout ----------------------------------------------------------

int32_t validate_string_list_data(const void *data, int32_t size)
{
    const uint8_t *bytes = (const uint8_t *)data;
    if (!bytes || size < STRING_LIST_HEADER_SIZE || size > MAXIMUM_STRING_LIST_DATA_SIZE) return NONE;
    const int32_t count = read_be16(bytes);
    if (read_be16(bytes + 2) != 0) return NONE;
    const int32_t texts_begin = STRING_LIST_HEADER_SIZE + 4 * count;
    if (texts_begin > size) return NONE;
    for (int32_t row = 0; row < count; ++row)
    {
        const uint32_t offset = read_be32(bytes + STRING_LIST_HEADER_SIZE + 4 * row);
        if (offset < (uint32_t)texts_begin || offset >= (uint32_t)size) return NONE;
        if (!memchr(bytes + offset, 0, (size_t)(size - (int32_t)offset))) return NONE;
    }
    return count;
}

int32_t encode_string_list_data(const char *const *texts, int32_t count, void *buffer, int32_t size)
{
    if (count < 0 || count > 0xFFFF || (count > 0 && !texts)) return NONE;
    int64_t needed = STRING_LIST_HEADER_SIZE + 4 * (int64_t)count;
    for (int32_t row = 0; row < count; ++row)
    {
        needed += (int64_t)strlen(texts[row] ? texts[row] : "") + 1;
        if (needed > MAXIMUM_STRING_LIST_DATA_SIZE) return NONE;
    }
    if (!buffer) return (int32_t)needed;
    if (needed > size) return NONE;

    uint8_t *bytes = (uint8_t *)buffer;
    write_be16(bytes, (uint16_t)count);
    write_be16(bytes + 2, 0);
    uint32_t offset = (uint32_t)(STRING_LIST_HEADER_SIZE + 4 * count);
    for (int32_t row = 0; row < count; ++row)
    {
        const char *text = texts[row] ? texts[row] : "";
        const size_t length = strlen(text) + 1;
        write_be32(bytes + STRING_LIST_HEADER_SIZE + 4 * row, offset);
        memcpy(bytes + offset, text, length);
        offset += (uint32_t)length;
    }
    return (int32_t)needed;
}

// ---- loading ------------------------------------------------------------------

// Reads and checks the tag into `list`; false when it must be refused.
static bool read_list(loaded_string_list *list, int32_t tag_index)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return false;
    const int16_t known_version = list->group == STRING_GROUP_TAG ? STRING_VERSION : STRING_LIST_VERSION;
    if (info.version > known_version)
    {
        ERROR_MESSAGE(_error_data_version_mismatch, "%s:%s (%s) has version %d, newer than %d",
                      tag_to_string(list->group), tag_to_string(list->subgroup), info.name, (int)info.version,
                      (int)known_version);
        return false;
    }
    if (info.size < 1 || info.size > MAXIMUM_STRING_LIST_DATA_SIZE)
    {
        ERROR_MESSAGE(_error_data_corrupted, "%s:%s (%s) has a size of %d bytes", tag_to_string(list->group),
                      tag_to_string(list->subgroup), info.name, (int)info.size);
        return false;
    }

    list->data = (char *)malloc((size_t)info.size + 1);
    if (!list->data)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for a string list", (int)info.size + 1);
        return false;
    }
    if (!tag_file_read(tag_index, 0, info.size, list->data)) return false;
    list->data[info.size] = 0;

    if (list->group == STRING_GROUP_TAG)
    {
        if (!memchr(list->data, 0, (size_t)info.size))
        {
            ERROR_MESSAGE(_error_data_corrupted, "%s:%s (%s) does not end its text", tag_to_string(list->group),
                          tag_to_string(list->subgroup), info.name);
            return false;
        }
        list->count = 1;
        return true;
    }

    const int32_t count = validate_string_list_data(list->data, info.size);
    if (count == NONE)
    {
        ERROR_MESSAGE(_error_data_corrupted, "%s:%s (%s) is not a valid string list", tag_to_string(list->group),
                      tag_to_string(list->subgroup), info.name);
        return false;
    }
    list->count = count;
    return true;
}

static int32_t find_or_load(tag group, tag subgroup)
{
    if (subgroup == NONE) return NONE;
    int32_t free_index = NONE;
    for (int32_t index = 0; index < MAXIMUM_STRING_LISTS; ++index)
    {
        const loaded_string_list *list = &string_list_globals.lists[index];
        if (list->group == group && list->subgroup == subgroup) return list->refused ? NONE : index;
        if (!list->group && free_index == NONE) free_index = index;
    }

    const int32_t tag_index = tag_file_open(group, subgroup);
    if (tag_index == NONE) return NONE;
    if (free_index == NONE)
    {
        ERROR_MESSAGE(_error_array_full, "no room for %s:%s (at most %d lists)", tag_to_string(group),
                      tag_to_string(subgroup), (int)MAXIMUM_STRING_LISTS);
        return NONE;
    }

    loaded_string_list *list = &string_list_globals.lists[free_index];
    list->group = group;
    list->subgroup = subgroup;
    if (!read_list(list, tag_index))
    {
        // Kept as refused, so that a corrupt list is reported once.
        release_list(list);
        list->group = group;
        list->subgroup = subgroup;
        list->refused = true;
        return NONE;
    }
    return free_index;
}

int32_t string_list_tag_to_string_index(tag subgroup)
{
    return find_or_load(STRING_LIST_GROUP_TAG, subgroup);
}

int32_t dialog_string_list_tag_to_string_index(tag subgroup)
{
    return find_or_load(DIALOG_STRING_LIST_GROUP_TAG, subgroup);
}

int32_t string_tag_to_string_index(tag subgroup)
{
    return find_or_load(STRING_GROUP_TAG, subgroup);
}

// ---- reading ------------------------------------------------------------------

const char *get_string_from_list(int32_t list_index, int32_t row)
{
    const loaded_string_list *list = get_loaded_list(list_index);
    if (!list || row < 0 || row >= list->count) return "";
    // A string is its one row; a list's offsets were checked when it was read.
    if (list->group == STRING_GROUP_TAG) return list->data;
    return list->data + read_be32(list->data + STRING_LIST_HEADER_SIZE + 4 * row);
}

int32_t count_strings_in_list(int32_t list_index)
{
    const loaded_string_list *list = get_loaded_list(list_index);
    return list ? list->count : 0;
}

const char *get_string(int32_t string_index, int32_t *length)
{
    const loaded_string_list *list = get_loaded_list(string_index);
    const char *text = list && list->group == STRING_GROUP_TAG ? list->data : "";
    if (length) *length = (int32_t)strlen(text);
    return text;
}

void delete_string_list_definition(int32_t list_index)
{
    if (list_index < 0 || list_index >= MAXIMUM_STRING_LISTS) return;
    loaded_string_list *list = &string_list_globals.lists[list_index];
    if (list->group) release_list(list);
}

void delete_string_list_definition_tag(tag subgroup)
{
    for (int32_t index = 0; index < MAXIMUM_STRING_LISTS; ++index)
    {
        loaded_string_list *list = &string_list_globals.lists[index];
        if (list->group == STRING_LIST_GROUP_TAG && list->subgroup == subgroup) release_list(list);
    }
}

void dispose_string_lists(void)
{
    for (int32_t index = 0; index < MAXIMUM_STRING_LISTS; ++index)
    {
        loaded_string_list *list = &string_list_globals.lists[index];
        if (list->group) release_list(list);
    }
}

const char *translate_string(const char *text)
{
    return text;
}
