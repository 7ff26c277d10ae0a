#pragma once
// Death notices and change of owner: who is told of a death, and units
// changing hands.
//
// Simulation: runs inside the tick; its order of work is in
// docs/determinism.md ("Death notices and owners").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

enum
{
    // Identifiers handed out by a change of owner start here (as unsigned
    // 16-bit values): markers never give them, so they never collide with a
    // living unit placed from a marker.
    FIRST_TRADED_MONSTER_IDENTIFIER = 0x8000,
    // From this gameplay version a unit changing hands always takes its new
    // owner's colours (detach_monster).
    FIRST_GAMEPLAY_VERSION_WITH_OWNER_COLOURS_ON_DETACH = 1850,
};

// The unit module's own died procedure: the censored-death effect, then every
// unit on the mesh that fought the dead one forgets it and looks for its next
// target, in index order.  Also safe for a slot already freed.
void monster_died(int32_t dead_monster_index, uint32_t died_flags);

// Gives the unit to another player: with `clear_identifier` it first takes
// the smallest identifier from FIRST_TRADED_MONSTER_IDENTIFIER up that no
// record holds.  The died procedures are told, the unit is detached and
// forgets its target.  Nothing for a free slot.
void change_monster_owner(int32_t monster_index, int16_t owner_player_index, bool clear_identifier);

// Moves the unit to the new owner's copy of its unit type.  Nothing happens
// for NONE, the current owner, a dropped or unknown player, or when no other
// unit type is found.  `silent`: no game sound.
void detach_monster(int32_t monster_index, int16_t new_owner_player_index, bool silent);

// Re-derives the unit type after `_monster_ignores_user_commands_flag`
// changed: the shared definition when the unit ignores its owner, else the
// owner's copy.
void monster_player_control_changed(int32_t monster_index);

// ---- registration point (filled by the selection) -----------------------------

// The unit leaves the local player's current selections; with
// _monster_died_clear_presets_flag in `died_flags` the presets too (a unit the
// local player loses).  Local only.  Until filled nothing is removed.
typedef void (*remove_monster_from_selections_procedure)(int32_t monster_index, uint32_t died_flags);
bool register_remove_monster_from_selections_procedure(remove_monster_from_selections_procedure procedure);
// Calls the procedure of the point above, if any (an artifact that turns a
// unit into an inanimate object calls it with no flags).
void remove_monster_from_selections(int32_t monster_index, uint32_t died_flags);

// The died procedure and the detach verb (game/subsystems.cpp).
void register_monster_owner_hooks(void);
