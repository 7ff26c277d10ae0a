#pragma once
// Unit queries ('quni'), sounds ('soun', 'ambi', both local) and suicide units ('suic').
//
// 'quni' copies unit properties into every integer or fixed entry of the
// action (linked actions' entries too) whose name is one of its fields, one
// value per unit; 'math' and the like read them from there.  'soun' plays a
// sound at the nearest visible unit or to the local player; 'ambi' fades
// ambient sound sources; neither changes anything synchronized.  'suic'
// drives a band of units that blow themselves up among enemies.

#include <cstdint>

#include "world.h"

uint32_t query_units_action_proc(int32_t action_index);
uint32_t sound_action_proc(int32_t action_index);
uint32_t ambient_sound_action_proc(int32_t action_index);
uint32_t suicide_action_proc(int32_t action_index);

// ---- the camera's registration point -------------------------------------------------
// 'soun' and 'ambi' play and fade through the sound table (sound_procedures.h):
// nothing is heard and nothing fades until the sound subsystem fills it.

// Where the listener stands (the camera's), or null.  Until filled (or while
// it answers null) 'soun' takes the first visible unit of its list.
typedef const world_location3d *(*sound_listener_procedure)(void);
bool register_sound_listener_procedure(sound_listener_procedure procedure);
