// Bounded readers and the builder of the tag-file store's on-disk records.

#include "tag_files/tag_file_formats.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "cseries/crc.h"
#include "cseries/files.h"
#include "cseries/tags.h"

const byte_swap_code monolithic_tag_file_header_bs[] = {
    _begin_bs_array, 1,
    _4byte, _2byte, _2byte, _2byte, _2byte, 2 * _byte, _2byte, _4byte,
    _4byte, _4byte, _4byte, _4byte,
    TAG_NAME_SIZE, TAG_URL_SIZE, 124,
    _end_bs_array};

const byte_swap_code monolithic_tag_entry_bs[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, TAG_NAME_SIZE, _4byte, _2byte, _2byte, _4byte, _4byte, _4byte, _4byte,
    _end_bs_array};

const byte_swap_code local_tag_file_header_bs[] = {
    _begin_bs_array, 1,
    _4byte, _2byte, _2byte, _4byte, _4byte, _2byte, _2byte, _4byte, TAG_NAME_SIZE, _4byte, _4byte,
    _end_bs_array};

static char last_refusal[512];

// Logs why an input or a build was refused and keeps the text for tools.
static void refusal(int32_t line, const char *format, ...) PRINTF_LIKE(2, 3);
static void refusal(int32_t line, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vslprintf(last_refusal, sizeof(last_refusal), format, arguments);
    va_end(arguments);
    log_message(__FILE__, line, "%s", last_refusal);
}

const char *tag_file_last_refusal(void) { return last_refusal; }

bool tag_file_type_is_plugin(int32_t type)
{
    return type == _tag_file_type_plugin || type == _tag_file_type_interface_plugin ||
           type == _tag_file_type_lobby_plugin || type == _tag_file_type_gameplay_plugin;
}

bool tag_name_is_valid(const char *name)
{
    if (!name || !name[0] || name[0] == '.') return false;
    size_t length = strnlen(name, TAG_NAME_SIZE);
    if (length > MAXIMUM_TAG_NAME_LENGTH) return false;
    for (size_t i = 0; i < length; i++)
    {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
        if (c == '.' && name[i + 1] == '.') return false;
    }
    return true;
}

bool tag_name_field_is_valid(const char *field, int32_t size)
{
    int32_t length = 0;
    while (length < size && field[length]) length++;
    if (length == size) return false;
    for (int32_t i = length; i < size; i++)
        if (field[i]) return false;
    return true;
}

char *tag_group_directory_name(tag group, char buffer[9])
{
    bool portable = true;
    for (int i = 0; i < 4; i++)
    {
        char c = (char)((uint32_t)group >> (24 - 8 * i));
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                  (c == '-' && i > 0);
        if (!ok) portable = false;
        buffer[i] = c;
    }
    buffer[4] = 0;
    if (!portable) slprintf(buffer, 9, "%08x", (unsigned)(uint32_t)group);
    return buffer;
}

uint32_t tag_file_checksum_of(uint32_t crc) { return crc ? crc : 1; }

// ---- monolithic files ----------------------------------------------------

static bool all_zero(const void *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++)
        if (((const uint8_t *)bytes)[i]) return false;
    return true;
}

static bool monolithic_type_is_known(int32_t type)
{
    return type == _tag_file_type_foundation || type == _tag_file_type_plugin || type == _tag_file_type_patch ||
           type == _tag_file_type_interface_file || type == _tag_file_type_interface_plugin ||
           type == _tag_file_type_addon || type == _tag_file_type_lobby_plugin ||
           type == _tag_file_type_gameplay_plugin;
}

// The checksum covers the bytes after the header only, so every header field
// is held to what the builder writes: the directory right after the header,
// and the reserved bytes zero.  (The directory and data are then checked to
// fill the rest of the file; see monolithic_entries_check.)
static bool monolithic_header_check(const char *label, monolithic_tag_file_header *header, int64_t size)
{
    const char *reason = nullptr;
    if (header->magic != (uint32_t)MONOLITHIC_TAG_FILE_MAGIC) reason = "not a tag file (wrong magic)";
    else if (header->format_version != MONOLITHIC_TAG_FILE_FORMAT_VERSION) reason = "unknown format version";
    else if (header->header_size != sizeof(monolithic_tag_file_header)) reason = "wrong header size";
    else if ((int64_t)header->file_size != size) reason = size < (int64_t)header->file_size ? "truncated" : "trailing bytes after the end";
    else if (header->tag_count < 0 || header->tag_count > MAXIMUM_TAG_HEADERS) reason = "tag count out of range";
    else if (!monolithic_type_is_known(header->type)) reason = "unknown type";
    else if (header->hidden > 1) reason = "hidden flag neither 0 nor 1";
    else if (header->pad0 != 0 || header->reserved0 != 0 || !all_zero(header->reserved, sizeof(header->reserved)))
        reason = "reserved bytes are not 0";
    else if (header->directory_offset != sizeof(monolithic_tag_file_header)) reason = "directory not right after the header";
    else if (header->directory_offset < sizeof(monolithic_tag_file_header) ||
             (int64_t)header->directory_offset + (int64_t)header->tag_count * (int64_t)sizeof(monolithic_tag_entry) > size)
        reason = "directory outside the file";
    else if (!tag_name_field_is_valid(header->name, TAG_NAME_SIZE)) reason = "file name without terminator";
    else if (!tag_name_field_is_valid(header->url, TAG_URL_SIZE)) reason = "url without terminator";
    if (reason)
    {
        refusal(__LINE__, "tag file '%s' refused: %s", label, reason);
        return false;
    }
    return true;
}

struct entry_range
{
    int64_t start, end;
    tag group, subgroup;
};

static int compare_ranges(const void *a, const void *b)
{
    const entry_range *x = (const entry_range *)a, *y = (const entry_range *)b;
    if (x->start != y->start) return x->start < y->start ? -1 : 1;
    return x->end < y->end ? -1 : (x->end > y->end ? 1 : 0);
}

static int compare_codes(const void *a, const void *b)
{
    const entry_range *x = (const entry_range *)a, *y = (const entry_range *)b;
    int c = compare_tags(x->group, y->group);
    return c ? c : compare_tags(x->subgroup, y->subgroup);
}

// Checks the directory (host order already) against the file's size.
static bool monolithic_entries_check(const char *label, const monolithic_tag_file_header *header,
                                     const monolithic_tag_entry *entries, int64_t size)
{
    int32_t count = header->tag_count;
    entry_range *ranges = (entry_range *)malloc(sizeof(entry_range) * (size_t)(count + 1));
    if (!ranges) return false;
    const char *reason = nullptr;
    int32_t bad = NONE;
    int64_t directory_start = header->directory_offset;
    int64_t directory_end = directory_start + (int64_t)count * (int64_t)sizeof(monolithic_tag_entry);
    for (int32_t i = 0; i < count && !reason; i++)
    {
        const monolithic_tag_entry *entry = &entries[i];
        int64_t start = entry->offset, end = start + (int64_t)entry->size;
        bad = i;
        if (!tag_name_field_is_valid(entry->name, TAG_NAME_SIZE)) reason = "name without terminator";
        else if (!tag_name_is_valid(entry->name)) reason = "name not allowed";
        else if (entry->group_tag == NONE || entry->group_tag == 0 || entry->subgroup_tag == NONE) reason = "group or subgroup is none";
        else if (entry->flags != 0 || entry->reserved[0] != 0 || entry->reserved[1] != 0) reason = "reserved bytes are not 0";
        else if (entry->size < 0) reason = "negative size";
        else if (start < (int64_t)sizeof(monolithic_tag_file_header) || end > size) reason = "data outside the file";
        else if (entry->size > 0 && start < directory_end && end > directory_start) reason = "data overlaps the directory";
        ranges[i] = {start, end, entry->group_tag, entry->subgroup_tag};
    }
    if (!reason)
    {
        qsort(ranges, (size_t)count, sizeof(entry_range), compare_ranges);
        bad = NONE;
        // The data fills the file from the directory's end, each range
        // padded to four bytes at most: bytes no tag holds mean a tag count
        // lowered by hand (the directory entries past it and their data
        // would be dropped unseen).
        int64_t reached = directory_end;
        for (int32_t i = 0; i < count && !reason; i++)
        {
            if (ranges[i].end == ranges[i].start) continue;
            if (ranges[i].start < reached) reason = "data ranges overlap";
            else if (ranges[i].start - reached > 3) reason = "bytes that no tag holds (wrong tag count?)";
            if (ranges[i].end > reached) reached = ranges[i].end;
        }
        if (!reason && size - reached > 3) reason = "bytes that no tag holds (wrong tag count?)";
        qsort(ranges, (size_t)count, sizeof(entry_range), compare_codes);
        for (int32_t i = 1; i < count && !reason; i++)
            if (compare_codes(&ranges[i - 1], &ranges[i]) == 0) reason = "two tags with the same group and subgroup";
    }
    free(ranges);
    if (reason)
    {
        if (bad != NONE) refusal(__LINE__, "tag file '%s' refused: tag #%d: %s", label, (int)bad, reason);
        else refusal(__LINE__, "tag file '%s' refused: %s", label, reason);
        return false;
    }
    return true;
}

static bool monolithic_checksum_check(const char *label, const monolithic_tag_file_header *header, uint32_t crc)
{
    if (tag_file_checksum_of(crc) != header->checksum)
    {
        refusal(__LINE__, "tag file '%s' refused: checksum mismatch (%08x stored, %08x computed)",
                    label, (unsigned)header->checksum, (unsigned)tag_file_checksum_of(crc));
        return false;
    }
    return true;
}

static monolithic_tag_entry *swap_entries(const void *directory, int32_t count)
{
    monolithic_tag_entry *entries = (monolithic_tag_entry *)malloc(sizeof(monolithic_tag_entry) * (size_t)(count + 1));
    if (!entries) return nullptr;
    if (count > 0)
    {
        memcpy(entries, directory, sizeof(monolithic_tag_entry) * (size_t)count);
        byte_swap_data("monolithic_tag_entry", entries, sizeof(monolithic_tag_entry), count, monolithic_tag_entry_bs);
    }
    return entries;
}

bool monolithic_tag_file_parse(const char *label, const void *buffer, int64_t size, bool verify_checksum,
                               monolithic_tag_file_header *header, monolithic_tag_entry **entries)
{
    *entries = nullptr;
    if (size < (int64_t)sizeof(monolithic_tag_file_header))
    {
        refusal(__LINE__, "tag file '%s' refused: truncated (no header)", label);
        return false;
    }
    memcpy(header, buffer, sizeof(*header));
    byte_swap_data("monolithic_tag_file_header", header, sizeof(*header), 1, monolithic_tag_file_header_bs);
    if (!monolithic_header_check(label, header, size)) return false;
    const uint8_t *bytes = (const uint8_t *)buffer;
    monolithic_tag_entry *list = swap_entries(bytes + header->directory_offset, header->tag_count);
    if (!list) return false;
    if (!monolithic_entries_check(label, header, list, size) ||
        (verify_checksum &&
         !monolithic_checksum_check(label, header,
                                    crc32_update(0, bytes + sizeof(*header), (size_t)(size - (int64_t)sizeof(*header))))))
    {
        free(list);
        return false;
    }
    *entries = list;
    return true;
}

bool monolithic_tag_file_read_directory(const char *label, file_reference *file, bool verify_checksum,
                                        monolithic_tag_file_header *header, monolithic_tag_entry **entries)
{
    *entries = nullptr;
    int64_t size = file_get_size(file);
    if (size < (int64_t)sizeof(monolithic_tag_file_header) ||
        !file_read_from_position(file, 0, sizeof(*header), header))
    {
        refusal(__LINE__, "tag file '%s' refused: truncated (no header)", label);
        return false;
    }
    byte_swap_data("monolithic_tag_file_header", header, sizeof(*header), 1, monolithic_tag_file_header_bs);
    if (!monolithic_header_check(label, header, size)) return false;

    int32_t directory_size = header->tag_count * (int32_t)sizeof(monolithic_tag_entry);
    void *directory = malloc((size_t)directory_size + 1);
    if (!directory) return false;
    bool ok = directory_size == 0 || file_read_from_position(file, header->directory_offset, directory_size, directory);
    monolithic_tag_entry *list = ok ? swap_entries(directory, header->tag_count) : nullptr;
    free(directory);
    if (!list)
    {
        refusal(__LINE__, "tag file '%s' refused: directory unreadable", label);
        return false;
    }
    if (!monolithic_entries_check(label, header, list, size))
    {
        free(list);
        return false;
    }
    if (verify_checksum)
    {
        enum { CHUNK = 64 * KILO };
        uint8_t *chunk = (uint8_t *)malloc(CHUNK);
        uint32_t crc = 0;
        ok = chunk != nullptr;
        for (int64_t position = sizeof(*header); ok && position < size; position += CHUNK)
        {
            int32_t length = (int32_t)(size - position < (int64_t)CHUNK ? size - position : (int64_t)CHUNK);
            ok = file_read_from_position(file, position, length, chunk);
            if (ok) crc = crc32_update(crc, chunk, (size_t)length);
        }
        free(chunk);
        if (!ok) refusal(__LINE__, "tag file '%s' refused: data unreadable", label);
        if (!ok || !monolithic_checksum_check(label, header, crc))
        {
            free(list);
            return false;
        }
    }
    *entries = list;
    return true;
}

// ---- local files ----------------------------------------------------------

bool local_tag_file_header_parse(const char *label, local_tag_file_header *header, int64_t file_size)
{
    const char *reason = nullptr;
    if (file_size < (int64_t)sizeof(*header)) reason = "truncated (no header)";
    else
    {
        byte_swap_data("local_tag_file_header", header, sizeof(*header), 1, local_tag_file_header_bs);
        if (header->magic != (uint32_t)LOCAL_TAG_FILE_MAGIC) reason = "not a local tag file (wrong magic)";
        else if (header->format_version != LOCAL_TAG_FILE_FORMAT_VERSION) reason = "unknown format version";
        else if (header->header_size != sizeof(*header)) reason = "wrong header size";
        else if (header->group_tag == NONE || header->group_tag == 0 || header->subgroup_tag == NONE) reason = "group or subgroup is none";
        else if (!tag_name_field_is_valid(header->name, TAG_NAME_SIZE)) reason = "name without terminator";
        else if (!tag_name_is_valid(header->name)) reason = "name not allowed";
        else if (header->data_size < 0) reason = "negative size";
        else if ((int64_t)sizeof(*header) + header->data_size > file_size) reason = "truncated";
    }
    if (reason)
    {
        refusal(__LINE__, "local tag file '%s' refused: %s", label, reason);
        return false;
    }
    return true;
}

void local_tag_file_header_build(local_tag_file_header *out, tag group, tag subgroup, int16_t version,
                                 uint32_t user_data, const char *name, int32_t data_size)
{
    memset(out, 0, sizeof(*out));
    out->magic = LOCAL_TAG_FILE_MAGIC;
    out->format_version = LOCAL_TAG_FILE_FORMAT_VERSION;
    out->header_size = sizeof(*out);
    out->group_tag = group;
    out->subgroup_tag = subgroup;
    out->version = version;
    out->user_data = user_data;
    strncpy(out->name, name, TAG_NAME_SIZE - 1);
    out->data_size = data_size;
    byte_swap_data("local_tag_file_header", out, sizeof(*out), 1, local_tag_file_header_bs);
}

// ---- building monolithic files -------------------------------------------

static const tag_pack_item *pack_sort_items;

static int compare_pack_order(const void *a, const void *b)
{
    const tag_pack_item *x = &pack_sort_items[*(const int32_t *)a], *y = &pack_sort_items[*(const int32_t *)b];
    int c = compare_tags(x->group_tag, y->group_tag);
    if (!c) c = compare_tags(x->subgroup_tag, y->subgroup_tag);
    if (!c) c = *(const int32_t *)a < *(const int32_t *)b ? -1 : 1;
    return c;
}

void *monolithic_tag_file_build(const tag_pack_parameters *parameters, const tag_pack_item *items,
                                int32_t count, int32_t *size)
{
    *size = 0;
    if (count < 0 || count > MAXIMUM_TAG_HEADERS)
    {
        refusal(__LINE__, "cannot pack %d tags: at most %d fit", (int)count, (int)MAXIMUM_TAG_HEADERS);
        return nullptr;
    }
    if (strlen(parameters->name) > MAXIMUM_TAG_NAME_LENGTH || strlen(parameters->url) > MAXIMUM_TAG_URL_LENGTH)
    {
        refusal(__LINE__, "cannot pack: file name or url too long");
        return nullptr;
    }
    int32_t *order = (int32_t *)malloc(sizeof(int32_t) * (size_t)(count + 1));
    if (!order) return nullptr;
    int64_t total = sizeof(monolithic_tag_file_header) + (int64_t)count * (int64_t)sizeof(monolithic_tag_entry);
    for (int32_t i = 0; i < count; i++)
    {
        order[i] = i;
        const tag_pack_item *item = &items[i];
        const char *reason = nullptr;
        if (!tag_name_is_valid(item->name)) reason = "name not allowed";
        else if (item->group_tag == NONE || item->group_tag == 0 || item->subgroup_tag == NONE) reason = "group or subgroup is none";
        else if (item->size < 0 || (item->size > 0 && !item->data)) reason = "bad size";
        if (reason)
        {
            refusal(__LINE__, "cannot pack tag '%s' (%s %s): %s", item->name,
                        tag_to_string(item->group_tag), tag_to_string(item->subgroup_tag), reason);
            free(order);
            return nullptr;
        }
        total += ((int64_t)item->size + 3) & ~(int64_t)3;
    }
    if (total > 0x7FFFFFF0)
    {
        refusal(__LINE__, "cannot pack: the file would reach 2 GiB");
        free(order);
        return nullptr;
    }
    pack_sort_items = items;
    qsort(order, (size_t)count, sizeof(int32_t), compare_pack_order);
    for (int32_t i = 1; i < count; i++)
    {
        const tag_pack_item *a = &items[order[i - 1]], *b = &items[order[i]];
        if (a->group_tag == b->group_tag && a->subgroup_tag == b->subgroup_tag)
        {
            refusal(__LINE__, "cannot pack: two tags are %s %s ('%s' and '%s')",
                        tag_to_string(a->group_tag), tag_to_string(a->subgroup_tag), a->name, b->name);
            free(order);
            return nullptr;
        }
    }

    uint8_t *buffer = (uint8_t *)calloc(1, (size_t)total);
    if (!buffer)
    {
        free(order);
        return nullptr;
    }
    monolithic_tag_file_header header;
    memset(&header, 0, sizeof(header));
    header.magic = MONOLITHIC_TAG_FILE_MAGIC;
    header.format_version = MONOLITHIC_TAG_FILE_FORMAT_VERSION;
    header.header_size = sizeof(header);
    header.type = (uint16_t)parameters->type;
    header.version = parameters->version;
    header.hidden = parameters->hidden;
    header.patch_number = parameters->patch_number;
    header.tag_count = count;
    header.directory_offset = sizeof(header);
    header.file_size = (uint32_t)total;
    strncpy(header.name, parameters->name, TAG_NAME_SIZE - 1);
    strncpy(header.url, parameters->url, TAG_URL_SIZE - 1);

    uint32_t position = (uint32_t)(sizeof(header) + (size_t)count * sizeof(monolithic_tag_entry));
    for (int32_t i = 0; i < count; i++)
    {
        const tag_pack_item *item = &items[order[i]];
        monolithic_tag_entry entry;
        memset(&entry, 0, sizeof(entry));
        entry.group_tag = item->group_tag;
        entry.subgroup_tag = item->subgroup_tag;
        strncpy(entry.name, item->name, TAG_NAME_SIZE - 1);
        entry.user_data = item->user_data;
        entry.version = item->version;
        entry.size = item->size;
        entry.offset = position;
        if (item->size > 0) memcpy(buffer + position, item->data, (size_t)item->size);
        position += (uint32_t)(((int64_t)item->size + 3) & ~(int64_t)3);
        byte_swap_data("monolithic_tag_entry", &entry, sizeof(entry), 1, monolithic_tag_entry_bs);
        memcpy(buffer + sizeof(header) + (size_t)i * sizeof(entry), &entry, sizeof(entry));
    }
    free(order);
    header.checksum = tag_file_checksum_of(crc32_update(0, buffer + sizeof(header), (size_t)(total - (int64_t)sizeof(header))));
    byte_swap_data("monolithic_tag_file_header", &header, sizeof(header), 1, monolithic_tag_file_header_bs);
    memcpy(buffer, &header, sizeof(header));
    *size = (int32_t)total;
    return buffer;
}
