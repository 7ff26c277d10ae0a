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

// ---- the registry row "unit" ------------------------------------------------

struct definition_globals;
extern definition_globals unit_definitions;

// Registers the group once at start-up (false: logged by the registry).
bool initialize_unit_definitions(void);
void initialize_unit_definitions_for_new_map(void);
void dispose_unit_definitions_from_old_map(void);

const unit_definition *get_default_unit_definition(void);
// Stored in every 'unit' tag header: -1.
uint32_t get_unit_definition_tag_header_user_data(const void *definition);

// The definition at `index`, or null for a hole or an index out of range.
unit_definition *get_unit_definition(int32_t index);

// The definition's collection reference (the player index is not used: a
// player's copy already carries its own reference).  NONE for no definition.
int32_t get_unit_collection_reference_index(int32_t unit_index, int32_t player_index);

// The first definition in index order, holes skipped, that is `player_index`'s
// copy of the unit tag `parent_unit_tag`; NONE when there is none.
int32_t find_unit_definition_for_player(int32_t player_index, tag parent_unit_tag);

// The player's copy of the unit tag, made when it does not exist yet: a copy
// of the shared definition whose collection reference carries the player's
// colours (when the player uses appearance colours).  NONE when the tag cannot
// be loaded or the group is full; a colour reference made for a copy that
// could not be added is deleted again.
int32_t customize_unit_definition_for_player(tag unit_tag, int32_t player_index);

// Removes every copy of the player (a player dropped from the game), last
// first; each copy's own colour reference goes with it and the statistics of
// its unit type are cleared.  NONE is refused (logged).
void delete_custom_unit_definitions_for_player(int32_t player_index);
