#pragma once
// Sounds played at an object.  Scripts and the simulation ask for them; the
// sound layer, which comes later, registers the procedure that plays them.
// Until then nothing is heard.  Playing a sound changes nothing synchronized.

#include "cseries/cseries.h"

typedef void (*play_object_sound_procedure)(int32_t object_index, int16_t sound_index);

// The sound layer's player.  Refused (assertion, the first kept) for a null
// procedure or when one is registered already.
bool register_play_object_sound_procedure(play_object_sound_procedure procedure);

// Plays the sound definition `sound_index` at the object `object_index`.
// Nothing for a NONE object or sound, or before the sound layer registers.
void _play_object_sound(int32_t object_index, int16_t sound_index);
