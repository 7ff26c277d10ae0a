#pragma once
// Collection references ('core', "collection reference"): a sprite
// collection and the colour tables its permutations use (a unit drawn in its
// player's colours is a permutation).  64 bytes stored.
// custom_collection_reference makes a run-time copy in a player's colours.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"

#define COLLECTION_REFERENCE_GROUP_TAG FOUR_CHARACTER_CODE('c', 'o', 'r', 'e')

enum
{
    COLLECTION_REFERENCE_VERSION = 1,
    MAXIMUM_COLLECTION_REFERENCES_PER_MAP = 256,
    MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS = 8,
};

enum collection_reference_flag_bits
{
    _collection_reference_is_custom_bit = 0, // made by custom_collection_reference
    _collection_reference_is_custom_flag = FLAG(_collection_reference_is_custom_bit),
};

// 64 bytes stored.
struct collection_reference_definition
{
    tag collection_tag;
    int16_t collection_index; // run time
    int16_t number_of_permutations; // 0..8
    int16_t color_table_indexes[MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS];
    uint32_t flags; // collection_reference_flag_bits (run time)
    uint16_t primary_color[4]; // red, green, blue, flags; custom copies only
    uint16_t secondary_color[4];
    uint8_t unused[20];
};
static_assert(sizeof(collection_reference_definition) == 64);
static_assert(offsetof(collection_reference_definition, flags) == 24);

extern const byte_swap_code collection_reference_byte_swapping_data[];
extern definition_globals collection_references;

bool initialize_collection_references(void);
void initialize_collection_references_for_new_map(void);
void dispose_collection_references_from_old_map(void);

collection_reference_definition *get_collection_reference(int32_t index);

// A copy of the reference `reference_tag` carrying the player's colours (either
// colour may be null: that colour is the definition's own team colour, or,
// when the definition has none, left as the collection has it); its
// index, or NONE when the tag cannot be loaded or the group is full.  The
// collection module builds the colour tables from the copy when it draws.
// `share` reuses an earlier copy of the same tag and colours.
int32_t custom_collection_reference(tag reference_tag, const uint16_t primary_color[4],
                                    const uint16_t secondary_color[4], bool share);

// The collections module colours the copy (its permutations' colour tables in
// the copy's player colours) through its table (collection_procedures.h); until
// it registers, a copy keeps the tables of the reference it copies.

// The permutation whose colour table is `color_table_index`: the first match,
// 0 when none matches; NONE for a missing reference.
int32_t get_collection_reference_permutation(int32_t reference_index, int32_t color_table_index);
