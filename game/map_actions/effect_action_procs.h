#pragma once
// Effect procedures: particle systems ('part'), local projectile groups ('lpgr') and fades ('fade'); the last two are local.
//
// 'part' changes the weather, which the simulation keeps.  'lpgr' and 'fade'
// only change what this machine shows: the groups and the flag they clear on
// their markers are left out of the state hash, and the fade belongs to the
// interface, reached through the registration point below.

#include <cstdint>

#include "rgb_color.h"

// 'swit' switches the snow; 'mult' (16.16) sets the target particle
// multiplier as 8.8.  2 after 'mult' or a switch that happened, else 0.
uint32_t particle_system_action_proc(int32_t action_index);
// 'grou' names markers of local projectile groups: '__on' makes the groups
// not yet in the world, 'opac' sets their opacity, '_off' turns them off.
// Always 2.
uint32_t local_projectile_group_action_proc(int32_t action_index);
// 'dura' ticks (required), 'durs' starting ticks (default 'dura'), 'colr'
// red, green, blue (all three or black).  2, or 0 without 'dura'.
uint32_t ingame_fade_action_proc(int32_t action_index);

// ---- registration points ------------------------------------------------------------

// The interface's full-screen fade: to `color` over `duration` ticks, starting
// `current_duration` ticks from its end.  Until filled 'fade' shows nothing.
typedef void (*set_ingame_fade_procedure)(const rgb_color *color, int32_t duration, int32_t current_duration);
bool register_set_ingame_fade_procedure(set_ingame_fade_procedure procedure);
