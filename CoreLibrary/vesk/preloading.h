#pragma once
// The preloader: a map's 'prel' tag lists the definitions the map needs, so
// that they are read together when the map starts instead of one by one when
// the game first meets them.  For collections and fonts the bulk data (the
// collection's data block, the font's character block) is read ahead by the
// module that owns it, through the readers registered here, and the definition
// is marked as preloaded (`_definition_preloaded_flag`, value 4) so that its
// postprocess does not read it again.
//
// Stored layout of a 'prel' tag (big-endian, version 1), see docs/formats.md:
//   0   preload_definition (32 bytes)
//   the preload data block: preload_data_count records of 8 bytes
//   (group tag, subgroup tag), at preload_data_offset
//   the bitmap block: bitmap_preload_data_count records of 8 bytes
//   (collection tag, bitmap index, pad), at bitmap_preload_data_offset
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"

#define PRELOAD_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('p', 'r', 'e', 'l')
// The font module registers its definitions under this code and fills the
// font reader below.
#define FONT_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('f', 'o', 'n', 't')
// The sound module registers its definitions under this code and fills the
// permutation reader below.
#define SOUND_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('s', 'o', 'u', 'n')

enum
{
    PRELOAD_DEFINITION_VERSION = 1,
    PRELOAD_DEFINITION_SIZE = 32,
    PRELOAD_DATA_SIZE = 8,
    BITMAP_PRELOAD_DATA_SIZE = 8,
    MAXIMUM_PRELOADED_TAGS_PER_MAP = 2048, // records of each block
    MAXIMUM_PRELOAD_DEFINITIONS_PER_MAP = 4,
    MAXIMUM_PRELOADED_BITMAP_INDEX = 16383, // a collection holds at most 16384 bitmaps
    PRELOAD_BLOCK_ALIGNMENT = 4,
};

// The header of a 'prel' tag and its registry record.  Counts are records,
// sizes bytes, offsets from the start of the tag's data.  The two pointer
// words are the run-time lists of an earlier layout: written 0, ignored when
// read (the lists are kept in the definition's side record).
struct preload_definition
{
    int32_t preload_data_count;
    int32_t preload_data_offset;
    int32_t preload_data_size;
    uint32_t preload_data;
    int32_t bitmap_preload_data_count;
    int32_t bitmap_preload_data_offset;
    int32_t bitmap_preload_data_size;
    uint32_t bitmap_preload_data;
};
static_assert(sizeof(preload_definition) == PRELOAD_DEFINITION_SIZE);
static_assert(offsetof(preload_definition, preload_data_offset) == 4);
static_assert(offsetof(preload_definition, preload_data_size) == 8);
static_assert(offsetof(preload_definition, preload_data) == 12);
static_assert(offsetof(preload_definition, bitmap_preload_data_count) == 16);
static_assert(offsetof(preload_definition, bitmap_preload_data_offset) == 20);
static_assert(offsetof(preload_definition, bitmap_preload_data_size) == 24);
static_assert(offsetof(preload_definition, bitmap_preload_data) == 28);

// One definition to read: the registry group and the tag.
struct preload_data
{
    tag group_tag;
    tag subgroup_tag;
};
static_assert(sizeof(preload_data) == PRELOAD_DATA_SIZE);
static_assert(offsetof(preload_data, subgroup_tag) == 4);

// One bitmap of a collection to prepare ahead (by the collection module).
struct bitmap_preload_data
{
    tag collection_tag;
    int16_t bitmap_index; // 0..16383
    int16_t pad; // 0
};
static_assert(sizeof(bitmap_preload_data) == BITMAP_PRELOAD_DATA_SIZE);
static_assert(offsetof(bitmap_preload_data, bitmap_index) == 4);
static_assert(offsetof(bitmap_preload_data, pad) == 6);

extern const byte_swap_code preload_definition_byte_swapping_data[];
extern const byte_swap_code preload_data_byte_swapping_data[];
extern const byte_swap_code bitmap_preload_data_byte_swapping_data[];

extern definition_globals preload_definitions;

// ---- the stored layout, for the registry, tools, tests and the fuzzer -------

// A 'prel' tag's data read whole: the header and both lists in host order.
struct preload_list
{
    preload_definition header;
    preload_data tags[MAXIMUM_PRELOADED_TAGS_PER_MAP];
    bitmap_preload_data bitmaps[MAXIMUM_PRELOADED_TAGS_PER_MAP];
};

// Checks `size` bytes of a 'prel' tag's data as stored and reads them into
// `list`.  Returns null when they are valid, else the name of the first field
// found wrong (nothing is read past `size`; `list` is then unspecified).
const char *read_preload_tag_data(const void *data, int32_t size, preload_list *list);

// Writes the stored form of `tag_count` definitions and `bitmap_count` bitmaps
// (host order) into `buffer` (`size` bytes): the header, the definitions right
// after it, then the bitmaps.  Returns the bytes used; with a null buffer the
// bytes needed.  NONE when a count is out of range or the buffer is too small.
int32_t encode_preload_tag_data(const preload_data *tags, int32_t tag_count, const bitmap_preload_data *bitmaps,
                                int32_t bitmap_count, void *buffer, int32_t size);

// ---- start-up and maps ----------------------------------------------------------

// Registers the 'prel' group (start-up).  False when the registry refuses it.
bool initialize_preloading(void);
// Empties the group for the map that begins / frees it when the map ends.
void initialize_preloading_for_new_map(void);
void dispose_preloading_from_old_map(void);

// Reads the map's 'prel' tag `preload_tag` and fetches every definition it
// lists, in its order, whose group is registered and set up for the map and
// whose tag exists (the others are skipped: the game loads them when it meets
// them, or never).  True for NONE and when preloading is not set up (tools and
// tests without it).  False when the tag is missing or refused (code 10, the
// field named in the log); nothing is fetched then.
bool preload_map_definitions(tag preload_tag);

// The bitmaps the map's 'prel' tag lists (host order) and their count; null
// and 0 when no 'prel' tag is loaded.  For the collection module.
const bitmap_preload_data *get_preloaded_bitmaps(int32_t *count);

// The definition of group `group_tag` read from `subgroup`, loaded now when it
// is missing; for a collection or a font, its bulk data is read ahead with
// load_collection_header_data / load_font_character_data /
// load_sound_permutation_data (read-ahead on) and,
// when that succeeds, the definition carries flag 4.  NONE when the group is
// not registered or set up, or the definition cannot be loaded.
int32_t fetch_definition_from_tag(tag group_tag, tag subgroup);

// ---- bulk readers: filled by the collection, font and sound modules ---------

// Allocates and reads a definition's bulk data into its side record `runtime`
// (through the store's read-ahead buffer when `read_ahead` is set).  True when
// it was read.  The record is already byte-swapped; its postprocess has not run.
typedef bool (*bulk_data_procedure)(int32_t tag_index, void *definition, void *runtime, bool read_ahead);

// Shared registration slots (cseries/registration.h): a second procedure or a
// null one is refused (logged assertion, false) and the first stays.
bool register_load_font_character_data_procedure(bulk_data_procedure procedure);
bool register_load_sound_permutation_data_procedure(bulk_data_procedure procedure);

// The collections module's reader (tag_files/collection_procedures.h); until
// it registers: nothing to load, false.
bool load_collection_header_data(int32_t tag_index, void *header, void *runtime, bool read_ahead);
bool load_font_character_data(int32_t tag_index, void *font, void *runtime, bool read_ahead);
bool load_sound_permutation_data(int32_t tag_index, void *sound, void *runtime, bool read_ahead);

