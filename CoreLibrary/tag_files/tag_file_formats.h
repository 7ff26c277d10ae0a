#pragma once
// The on-disk records of the tag-file store: the monolithic tag file (header,
// directory, data) and the local tag file (header, data).  Every field is a
// fixed-width big-endian number or a byte array; each record has one byte-swap
// description.  docs/formats.md explains the layouts and why.
//
// Readers here are bounded: they check every count, offset and length against
// the bytes that are really there before anything is used, and refuse a file
// whole with a logged reason.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

enum
{
    MAXIMUM_TAG_NAME_LENGTH = 31, // characters, without the terminator
    TAG_NAME_SIZE = MAXIMUM_TAG_NAME_LENGTH + 1,
    MAXIMUM_TAG_URL_LENGTH = 63,
    TAG_URL_SIZE = MAXIMUM_TAG_URL_LENGTH + 1,

    // Slots of the tag index handle: the low 16 bits.  Slot 0xFFFF is never
    // issued, so no file may hold more tags than this.
    MAXIMUM_TAG_HEADERS = 0xFFFF,
};

#define MONOLITHIC_TAG_FILE_MAGIC FOUR_CHARACTER_CODE('v', 't', 'a', 'g')
#define LOCAL_TAG_FILE_MAGIC FOUR_CHARACTER_CODE('v', 'l', 'c', 'l')

enum
{
    MONOLITHIC_TAG_FILE_FORMAT_VERSION = 1,
    LOCAL_TAG_FILE_FORMAT_VERSION = 1,
};

// The kind of file that holds a tag (`tag_file_info.type`).  Values 1, 5, 7
// and 128 are the plug-in types that other modules test for.
enum tag_file_type
{
    _tag_file_type_foundation = 0,
    _tag_file_type_plugin = 1,
    _tag_file_type_patch = 2,
    _tag_file_type_local = 3,
    _tag_file_type_interface_file = 4,
    _tag_file_type_interface_plugin = 5,
    _tag_file_type_addon = 6,
    _tag_file_type_lobby_plugin = 7,
    _tag_file_type_gameplay_plugin = 128,
};

// True for the types that live in "plugins".
bool tag_file_type_is_plugin(int32_t type);

// ---- monolithic tag file ------------------------------------------------

struct monolithic_tag_file_header // 256 bytes at offset 0
{
    uint32_t magic;          // 'vtag'
    uint16_t format_version; // 1
    uint16_t header_size;    // 256
    uint16_t type;           // tag_file_type
    int16_t version;         // the plug-in version word (flags, or a gameplay version for 128)
    uint8_t hidden;          // 1: not offered in the plug-in list
    uint8_t pad0;
    int16_t patch_number;    // patches: their number; others 0
    uint32_t checksum;       // CRC-32 of every byte after this header, 0 nudged to 1
    int32_t tag_count;
    uint32_t directory_offset;
    uint32_t file_size;      // the whole file, so that truncation is seen
    uint32_t reserved0;
    char name[TAG_NAME_SIZE];
    char url[TAG_URL_SIZE];
    uint8_t reserved[124];
};
static_assert(sizeof(monolithic_tag_file_header) == 256);
static_assert(offsetof(monolithic_tag_file_header, type) == 8);
static_assert(offsetof(monolithic_tag_file_header, version) == 10);
static_assert(offsetof(monolithic_tag_file_header, hidden) == 12);
static_assert(offsetof(monolithic_tag_file_header, patch_number) == 14);
static_assert(offsetof(monolithic_tag_file_header, checksum) == 16);
static_assert(offsetof(monolithic_tag_file_header, tag_count) == 20);
static_assert(offsetof(monolithic_tag_file_header, directory_offset) == 24);
static_assert(offsetof(monolithic_tag_file_header, file_size) == 28);
static_assert(offsetof(monolithic_tag_file_header, name) == 36);
static_assert(offsetof(monolithic_tag_file_header, url) == 68);
static_assert(offsetof(monolithic_tag_file_header, reserved) == 132);

struct monolithic_tag_entry // 64 bytes per tag in the directory
{
    tag group_tag;
    tag subgroup_tag;
    char name[TAG_NAME_SIZE];
    uint32_t user_data;
    int16_t version;
    uint16_t flags; // 0
    int32_t size;   // bytes of tag data
    uint32_t offset; // of the data, from the start of the file
    uint32_t reserved[2];
};
static_assert(sizeof(monolithic_tag_entry) == 64);
static_assert(offsetof(monolithic_tag_entry, name) == 8);
static_assert(offsetof(monolithic_tag_entry, user_data) == 40);
static_assert(offsetof(monolithic_tag_entry, version) == 44);
static_assert(offsetof(monolithic_tag_entry, size) == 48);
static_assert(offsetof(monolithic_tag_entry, offset) == 52);

extern const byte_swap_code monolithic_tag_file_header_bs[];
extern const byte_swap_code monolithic_tag_entry_bs[];

// ---- local tag file -----------------------------------------------------

struct local_tag_file_header // 64 bytes, then `data_size` bytes of tag data
{
    uint32_t magic;          // 'vlcl'
    uint16_t format_version; // 1
    uint16_t header_size;    // 64
    tag group_tag;
    tag subgroup_tag;
    int16_t version;
    uint16_t flags; // 0
    uint32_t user_data;
    char name[TAG_NAME_SIZE];
    int32_t data_size;
    uint32_t reserved;
};
static_assert(sizeof(local_tag_file_header) == 64);
static_assert(offsetof(local_tag_file_header, group_tag) == 8);
static_assert(offsetof(local_tag_file_header, subgroup_tag) == 12);
static_assert(offsetof(local_tag_file_header, version) == 16);
static_assert(offsetof(local_tag_file_header, user_data) == 20);
static_assert(offsetof(local_tag_file_header, name) == 24);
static_assert(offsetof(local_tag_file_header, data_size) == 56);

extern const byte_swap_code local_tag_file_header_bs[];

// The text of the last refusal logged by the readers and the builder below
// (for tools that print it); "" when nothing was refused yet.
const char *tag_file_last_refusal(void);

// ---- names --------------------------------------------------------------

// True when `name` may name a tag and therefore a local file: 1 to 31
// characters, no '/' or '\', no "..", no leading '.', no control character.
bool tag_name_is_valid(const char *name);

// True when the `size`-byte field holds a terminated name followed only by
// zero bytes (the one way the tools write it).
bool tag_name_field_is_valid(const char *field, int32_t size);

// The directory name of a group under a local folder: the four characters
// when they are letters, digits, '_' or '-' (and the first is not '-'), else
// eight lower-case hex digits.  `buffer` holds at least 9 bytes.
char *tag_group_directory_name(tag group, char buffer[9]);

// ---- reading and writing ------------------------------------------------

// The checksum rule of monolithic files: CRC-32, with 0 nudged to 1 so that a
// checksum of 0 keeps meaning "the base game".
uint32_t tag_file_checksum_of(uint32_t crc);

// Checks a monolithic file given whole in memory: its header and every
// directory entry against the buffer's `size`, no overlaps, no duplicates, and
// (with `verify_checksum`) the checksum.  On success the host-order header and
// `tag_count` host-order entries (allocated with malloc; free() them) are
// returned.  False with a logged reason naming `label` otherwise; nothing
// outside the buffer is read.
bool monolithic_tag_file_parse(const char *label, const void *buffer, int64_t size, bool verify_checksum,
                               monolithic_tag_file_header *header, monolithic_tag_entry **entries);

// Checks the header and directory of an open monolithic file without reading
// its data, then (with `verify_checksum`) streams the data through the
// checksum.  Same results as above.
struct file_reference;
bool monolithic_tag_file_read_directory(const char *label, file_reference *file, bool verify_checksum,
                                        monolithic_tag_file_header *header, monolithic_tag_entry **entries);

// Checks a local tag file's header against the `file_size` bytes of its file.
// `header` arrives big-endian as read and leaves in host order.  False with a
// logged reason otherwise.
bool local_tag_file_header_parse(const char *label, local_tag_file_header *header, int64_t file_size);

// The big-endian bytes of a local tag file header.
void local_tag_file_header_build(local_tag_file_header *out, tag group, tag subgroup, int16_t version,
                                 uint32_t user_data, const char *name, int32_t data_size);

// One tag to pack into a monolithic file.
struct tag_pack_item
{
    tag group_tag;
    tag subgroup_tag;
    char name[TAG_NAME_SIZE];
    uint32_t user_data;
    int16_t version;
    int32_t size;
    const void *data;
};

// What goes into a monolithic file's header besides its directory.
struct tag_pack_parameters
{
    int32_t type;
    int16_t version; // the plug-in version word
    uint8_t hidden;
    int16_t patch_number;
    char name[TAG_NAME_SIZE];
    char url[TAG_URL_SIZE];
};

// Builds a whole monolithic file in memory: tags ordered by (group, subgroup)
// as unsigned codes, data 4-byte aligned, checksum set.  Returns a malloc'd
// buffer (free() it) and its size; null with a logged reason for a bad item
// (invalid name, negative size, duplicate group and subgroup, too many tags).
void *monolithic_tag_file_build(const tag_pack_parameters *parameters, const tag_pack_item *items,
                                int32_t count, int32_t *size);
