#pragma once
// Damage reactions: what a unit does about damage that reaches it (held,
// healed, stoned, blocked, hurt, charmed, confused, flinching, thrown,
// berserk, turning on its attacker, dying) and the detonation group the
// damage should make; and the throw itself (action 16).
//
// Simulation: integer arithmetic except the throw speed, one stated double
// step truncated toward zero; every vesk_random draw and its order is in
// docs/determinism.md ("Damage reactions").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct damage_data;
struct damage_definition;

enum
{
    PROPELLING_TIMER = 10, // the throw's ticks per unit of speed
    PROPULSION_SPEED = 110, // the throw's starting speed per unit of speed
    // A thrown unit hit again keeps flying while 1.25 x its speed reaches
    // this over the new throw speed.
    PROPULSION_REHIT_NUMERATOR = 7208960,
};

// The throw speed (16.16) of damage `damage` (8.8) pushed at `velocity` of
// damage type `damage_type` for a definition's `damage_to_propulsion` (a
// 16-bit fraction, 65535 = 1): f = min(velocity, 6) for kinetic and
// steel-slashing damage, else min(1, velocity / 64);
// s = damage x f x (0.75 x propulsion / 65535) / 256 x 65536, in double,
// truncated toward zero.
int32_t monster_throw_speed(int32_t damage, int32_t velocity, int32_t damage_type, uint16_t damage_to_propulsion);

// The unit's reaction to damage (the damage code's accelerate_object hands
// units here).  Writes the damage record's detonation group (and the
// handled-by-obstacle flag) as the reaction decides.  Nothing for a free slot
// or null arguments.
void accelerate_monster(const damage_definition *definition, damage_data *data, int32_t monster_index);

// Action 16: one tick of the throw.
void monster_being_propelled(int32_t monster_index);

// How a hit on the unit goes into the statistics, by version, scoring and the
// unit's flags; `owner_monster_index` is the damage's owner unit (NONE: none).
enum damage_statistics_route
{
    _damage_not_recorded,
    _damage_recorded_normally, // by the damage's owner unit type
    _damage_recorded_as_ambient, // as game: the owner unit type's from 1825 (nobody's before), target flags kept
    _damage_recorded_as_ambient_without_target, // nobody's, not a scoring target
};
int32_t route_damage_statistics(int32_t monster_index, int32_t owner_monster_index);

// Fills action 16 of monster_action_fns (idempotent; initialize_monsters calls it).
void install_monster_reaction_procedures(void);
