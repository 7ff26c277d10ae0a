#pragma once
// Unit definitions ('unit'): a unit kind pairs a monster definition ('mons')
// with a collection reference ('core', its sprites and colour tables).
// Markers, map actions and statistics name units by their unit tag.  Each
// player may have copies in the player's colours; a copy keeps the tag it
// stands for (`parent_unit_tag`) and its player.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

#define UNIT_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('u', 'n', 'i', 't')

enum
{
    UNIT_DEFINITION_VERSION = 1,
    MAXIMUM_UNIT_DEFINITIONS_PER_MAP = 512,
};

// 128 bytes stored.
struct unit_definition
{
    tag monster_tag; // 'mons'
    tag collection_reference_tag; // 'core'
    uint8_t unused[110]; // zero in files
    // Run time; stored bytes are ignored.
    int16_t player_index; // owner of a custom copy, NONE for the shared definition
    tag parent_unit_tag; // the unit tag the definition stands for
    int16_t monster_type;
    int16_t collection_reference_index;
};
static_assert(sizeof(unit_definition) == 128);
static_assert(offsetof(unit_definition, collection_reference_tag) == 4);
static_assert(offsetof(unit_definition, player_index) == 118);
static_assert(offsetof(unit_definition, parent_unit_tag) == 120);
static_assert(offsetof(unit_definition, monster_type) == 124);
static_assert(offsetof(unit_definition, collection_reference_index) == 126);

// Only the two tags are swapped; the rest is taken as stored.
extern const byte_swap_code unit_definition_byte_swapping_data[];

// Both tags NONE, everything else 0.
void default_unit_definition(void *record);

// Checks a loaded, swapped record: false (logged) when either tag is missing.
// The run-time fields are reset (player NONE, indexes NONE, parent NONE) so
// that nothing stored in them survives the load.
bool validate_unit_definition(unit_definition *definition, const char *name);
