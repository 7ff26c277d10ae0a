#pragma once
// Veterans: the unit initializers carried from level to level.  Each one
// names a unit (its 'unit' and 'mons' tags), the player it belongs to and what
// it has lived through (experience, battles, colours, name).  A unit marker
// whose palette entry allows veterans asks for one when it is placed
// (get_monster_initializer), which marks it used for the rest of the map.
//
// The set travels in films (the film layer's registration) and between the
// machines of a cooperative game as an array of 40-byte big-endian records.
// It is part of a game's set-up, never changed inside the tick except by
// get_monster_initializer, whose choice depends only on the set and the order
// of the calls.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

struct new_player_data;

enum
{
    MAXIMUM_MONSTER_INITIALIZERS = 400,
    MONSTER_INITIALIZER_NAME_SIZE = 18,
};

enum monster_initializer_flag_bits
{
    _monster_initializer_used_bit = 0, // a unit of this map took it

    _monster_initializer_used_flag = FLAG(_monster_initializer_used_bit),
};

// 40 bytes, big-endian when exported.
struct monster_initializer
{
    uint32_t flags; // monster_initializer_flag_bits
    uint32_t owner_player_identifier; // the player's unique (network) identifier
    tag unit_tag; // 'unit'
    tag monster_tag; // 'mons'
    uint8_t experience;
    int8_t battles_survived;
    int8_t color_table_permutation;
    int8_t original_name_string_index;
    uint16_t pad;
    char name[MONSTER_INITIALIZER_NAME_SIZE]; // ends with 0 within the field, or fills it
};
static_assert(sizeof(monster_initializer) == 40);
static_assert(offsetof(monster_initializer, owner_player_identifier) == 4);
static_assert(offsetof(monster_initializer, unit_tag) == 8);
static_assert(offsetof(monster_initializer, monster_tag) == 12);
static_assert(offsetof(monster_initializer, experience) == 16);
static_assert(offsetof(monster_initializer, battles_survived) == 17);
static_assert(offsetof(monster_initializer, color_table_permutation) == 18);
static_assert(offsetof(monster_initializer, original_name_string_index) == 19);
static_assert(offsetof(monster_initializer, pad) == 20);
static_assert(offsetof(monster_initializer, name) == 22);

extern const byte_swap_code monster_initializer_byte_swapping_data[];

// Start-up: no initializers.
void initialize_monster_initializers(void);
// Clears every initializer's used bit (a map begins: each veteran may be taken again).
void mark_monster_initializers_as_unused(void);
// Sets the number of initializers to 0.
void reset_monster_initializers(void);

// Writes the set as big-endian records into `buffer` (when given) and their
// length in bytes (40 per record) into `*length`.  With no buffer only the
// length is written.  `buffer` must hold that length.
void export_monster_initializers(void *buffer, int32_t *length);
// Replaces the set by the big-endian records of `buffer` (`length` bytes);
// every imported record's flags are cleared.  A length that is negative, not
// a multiple of 40 or longer than MAXIMUM_MONSTER_INITIALIZERS records, or a
// missing buffer with a length, is refused with a log line and the set stays
// as it was.  True when imported.
bool import_monster_initializers(const void *buffer, int32_t length);

// Gives every initializer to one player of a cooperative game: the first of
// `players` (in order) who is no observer and is its own team's captain (a
// captain identifier of -1 or its own).  The set is cut to `maximum` records
// and each record's owner becomes that player's unique identifier.  With no
// players, no such player, or one whose identifier is -1, the set empties.
void adjust_monster_initializers_for_coop(int16_t player_count, const new_player_data *players, int32_t maximum);

// The set (read only) and its number of records.
const monster_initializer *get_monster_initializers(int32_t *count);

// The first unused initializer of player `player_index` (matched by the
// player's unique identifier) whose unit tag is `parent_unit_tag` or, failing
// any, whose monster tag is `monster_tag`; it is marked used.  Null when there
// is none (or no such player).
const monster_initializer *get_monster_initializer(tag parent_unit_tag, tag monster_tag, int16_t player_index);
// Gives back a veteran that get_monster_initializer handed out but whose unit
// was not placed after all: its used bit is cleared.  Anything that is not
// one of the set's records is ignored.
void release_monster_initializer(const monster_initializer *initializer);

// What a film records (game/recording): the length export would write, and
// the export into a buffer of exactly that length (false for any other length).
int32_t get_monster_initializers_export_length(void);
bool export_monster_initializers_to_buffer(void *buffer, int32_t length);
