#pragma once
// Unit lists: identifiers and indexes, the list filters, centre points, markers, evaluate_monster.
//
// Lists are arrays of 16-bit unit indexes ("monster" array slots) or of the
// units' 16-bit identifiers (what commands and map actions carry).  Every
// filter compacts its list in place, keeps the order of what stays and
// returns the new count; an index that names no used record (a free slot,
// NONE, out of range) is always dropped, so a list that has passed a filter
// can be read without checking each entry again.
//
// Simulation: integers only, no random draws.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct monster_data;
struct marker_data;

// The indexes of the units whose identifiers are given, in the order given:
// identifiers of no used record (0, NONE, a dead or deleted unit) are left
// out.  Returns the number written to `indexes` (at most `count`; a negative
// count gives 0).
int32_t monster_identifiers_to_monster_indexes(const int16_t *identifiers, int16_t *indexes, int32_t count);

// The identifier of each unit, 0 for an index that names no used record.
void monster_indexes_to_monster_identifiers(const int16_t *indexes, int16_t *identifiers, int32_t count);

// Drops units a player has ordered (`_monster_has_received_user_command_flag`).
int32_t remove_monster_indexes_under_user_control(int16_t *indexes, int32_t count);
// Drops units off the map (`_monster_has_left_the_mesh_flag`).
int32_t remove_monsters_that_have_left_the_mesh(int16_t *indexes, int32_t count);
// Drops stoned units (action stoned, whatever its permutation).
int32_t remove_incapacitated_monster_indexes(int16_t *indexes, int32_t count);

// The mean of the units' object positions (64-bit sums divided by the number
// of units that have an object, truncating toward zero) into `centre`, and
// the largest distance from it to one of them.  No such unit: (-1, -1) and 0.
world_distance get_centerpoint_of_monster_indexes(int32_t count, const int16_t *indexes, world_point2d *centre);

// The marker the unit was placed from, or null: by the unit's identifier
// among the unit markers before gameplay version 1711, by its marker index
// from 1711 on.
marker_data *get_monster_marker(const monster_data *monster);

// What a player may do with a unit, as bits.
enum monster_evaluation_flags
{
    // The player may order it: it is on the player's team and takes orders
    // (neither `_monster_ignores_user_commands_flag` nor
    // `_monster_is_uncontrollable_extra_flag`).
    _monster_is_commandable_evaluation_flag = 0x1,
    // Its team is allied towards the player's team (its own team included).
    _monster_is_friendly_evaluation_flag = 0x2,
    // The player owns it.
    _monster_is_owned_evaluation_flag = 0x4,
};

// The bits for `player_index`; 0 for a unit or player that does not exist and
// for an observer (no team).  The command executor applies bit 0 to the
// player who issued a command.
uint32_t evaluate_monster_for_player(int32_t monster_index, int32_t player_index);
// The bits for the local player; 0 while a film (or a saved game) replays.
uint32_t evaluate_monster(int32_t monster_index);
