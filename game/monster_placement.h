#pragma once
// Unit trading: the unit types a team starts with, what each costs and how far
// its count may move, and the one command that changes a team's units before
// its game clock starts.
//
// The counts come from the team's unit markers (docs/formats.md, "Markers and
// palettes"): a palette entry with the trading flag lets its type be traded; a
// marker with the reserve flag makes no unit at the start but may be bought;
// a marker with the kept flag holds a unit that may not be traded away.  A
// unit costs its monster definition's experience point value (none when that
// is not positive).
//
// The command is synchronized state: it is built here from the trading
// dialog's counts, travels the command stream and is executed by the verb
// registered by register_monster_placement_hooks, integers only.

#include <cstdint>

#include "cseries/byte_swapping.h"

enum
{
    NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES = 8,
    // Unit types gathered before the version filters and the cut to 8.
    MAXIMUM_MONSTER_PLACEMENT_TYPES = 16,
};

enum monster_placement_flag_bits
{
    _monster_placement_tradable_bit = 0,
    _monster_placement_tradable_flag = 1u << _monster_placement_tradable_bit,
};

// One unit type of a team.  In memory only: the command carries counts alone.
struct monster_placement
{
    uint32_t flags; // monster_placement_flag_bits
    int16_t palette_index; // the first unit palette entry of the team naming the type
    int16_t unit_type; // 'unit' definition index
    int16_t count; // markers whose unit is on the map now
    int16_t minimum_count; // of those, the kept ones
    int16_t maximum_count; // markers that suit the game's difficulty and scoring
    int16_t cost_per_unit; // 0: free
};

// The flags of a unit adjustment command: the counts are the trading
// dialog's, one per record of get_monster_placement_data in its order.
enum unit_adjustment_flag_bits
{
    _unit_adjustment_from_trading_bit = 0,
    _unit_adjustment_from_trading_flag = 1u << _unit_adjustment_from_trading_bit,
    UNIT_ADJUSTMENT_FLAGS = _unit_adjustment_from_trading_flag,
};

// The command's record, followed by the array of 16-bit counts.  2 bytes,
// big-endian in the command.
struct command_unit_adjustment_data
{
    uint16_t flags; // unit_adjustment_flag_bits
};
static_assert(sizeof(command_unit_adjustment_data) == 2);
extern const byte_swap_code command_unit_adjustment_data_byte_swapping_data[];
extern const byte_swap_code unit_adjustment_count_byte_swapping_data[];

// The unit types of team `team_index`, newly allocated (the caller frees them
// with free()), `count` records; null with a count of 0 for the team NONE, a
// team out of range or memory running out.  Per unit type of the team's unit
// palette entries (at most 16 types, in the order of the first entry naming
// each): the markers counted are those of the game's scoring and, above
// gameplay version 1300, of at most its difficulty.  The type is tradable
// when an entry of it has the trading flag, unless its minimum equals its
// maximum.  From version 1710 types without markers are left out, above 1710
// types that are not tradable too; then the cheapest go first (cost
// ascending, then entry order) and at most
// NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES are kept.
monster_placement *get_monster_placement_data(int16_t team_index, int16_t *count);

// Encodes a unit adjustment command of `flags` with `count` counts and queues
// it outgoing (the local player's).  False, queueing nothing, for flags
// outside UNIT_ADJUSTMENT_FLAGS (an assertion), a count outside
// 0..NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES or a full queue.
bool queue_unit_adjustment_command(uint16_t flags, int16_t count, const int16_t *counts);

// Applies counts to the team of `player_index` as the verb does: the player
// must captain a team of a game that allows trading and has a planning time,
// the game time must be within UNIT_ADJUSTMENT_LATE_TICKS of its end, the
// counts must match the team's records one for one, each inside its
// minimum..maximum for a tradable type or equal to its count otherwise, and
// cost no more than the units the team has.  Otherwise the command is logged
// and refused whole.  A type losing units loses those of its highest marker
// indexes that may be traded away (removed without a death); a type gaining
// units takes the free markers of its lowest indexes.
enum
{
    // A command the dialog sent as the clock started arrives a moment later.
    UNIT_ADJUSTMENT_LATE_TICKS = 90,
};
bool apply_unit_adjustment(int16_t player_index, uint16_t flags, int16_t count, const int16_t *counts);

// Registers the unit adjustment verb.  Called by register_built_subsystems.
void register_monster_placement_hooks(void);
