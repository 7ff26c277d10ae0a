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

// ---- registration points (sound and the camera come later) ----------------------------

// Plays sound definition `sound_index`; `source_identifier` NONE and a null
// `location` play it to the listener everywhere.  Pitch 256 is normal.
// Until filled nothing is heard.
typedef void (*play_sound_with_flags_procedure)(int16_t sound_index, int16_t source_identifier,
                                                const world_location3d *location, int32_t pitch, uint32_t flags);
bool register_play_sound_with_flags_procedure(play_sound_with_flags_procedure procedure);

// Fades ambient sound source `source_identifier` to `volume` (0..255 of full)
// over `fade_ticks`.  Until filled nothing changes.
typedef void (*adjust_ambient_sound_source_volume_procedure)(int16_t source_identifier, int32_t volume,
                                                             int32_t fade_ticks);
bool register_adjust_ambient_sound_source_volume_procedure(adjust_ambient_sound_source_volume_procedure procedure);

// Where the listener stands (the camera's), or null.  Until filled (or while
// it answers null) 'soun' takes the first visible unit of its list.
typedef const world_location3d *(*sound_listener_procedure)(void);
bool register_sound_listener_procedure(sound_listener_procedure procedure);
