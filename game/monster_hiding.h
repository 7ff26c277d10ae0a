#pragma once
// Hiding, calling in and healing units, and their special-ability modes.
//
// Simulation: runs inside the tick; draws are in docs/determinism.md
// ("Hiding, calling in and healing").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

// Modes of hiding and calling in.
enum monster_visibility_mode
{
    _monster_visibility_mode_none = -1, // no effect
    _monster_visibility_mode_projectile_group = 0, // the definition's exit or entrance group at the marker
    _monster_visibility_mode_teleport = 1, // a fade over 30 ticks with the teleport group
    _monster_visibility_mode_tain = 2, // a fade over 60 ticks with the tain group
    _monster_visibility_mode_fade = 3, // a plain fade over 30 ticks (about 30 to 60 when hiding)
};

// Results of get_monster_special_ability_mode.
enum monster_special_ability_mode
{
    _special_ability_unavailable = -1,
    _special_ability_reflexive = 0, // used at once
    _special_ability_needs_target = 1,
};

// Hides the unit of the unit marker `marker_identifier`: the marker is marked
// hidden; the unit leaves the mesh and is forgotten as a target.  Nothing for
// an unknown marker or one without a unit.
void make_monster_invisible(int16_t marker_identifier, int16_t mode);

// Calls in the unit of the marker, making it from the marker when it has
// none; its index, or NONE (no marker, a unit gone, or none could be made).
int32_t make_monster_visible(int16_t marker_identifier, int16_t mode);

// Action 11, once per tick: the healer is the unit's aggressor.
void monster_being_healed(int32_t monster_index);

// Whether the unit's special ability can be used now: -1, 0 (reflexive) or 1
// (needs a target).  `prompt_string_list_index` (may be null) gets the prompt
// list, whose strings 0 and 1 the console shows while a target is chosen: the
// wielded artifact's when the ability is its override attack, else the unit
// definition's; NONE for none (or a list that failed to load).  It is left
// alone when no special-ability attack exists.
int32_t get_monster_special_ability_mode(int32_t monster_index, int16_t *prompt_string_list_index);

bool special_ability_can_be_used_against_friendlies(int32_t monster_index);

// Whether a unit that dies of healing counts as a scoring target in the
// statistics: its netgame-target bit (from 1511 also its hunted-creature
// bit, except when a hunted creature heals it in a hunting game).
bool healing_death_counts_as_netgame_target(int32_t monster_index, int32_t healer_index);

// Installs the healing action into monster_action_fns (initialize_monsters
// calls it).
void install_monster_hiding_procedures(void);
