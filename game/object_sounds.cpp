// Sounds played at an object, through the sound layer's registered player.

#include "object_sounds.h"

static play_object_sound_procedure play_object_sound_proc;

bool register_play_object_sound_procedure(play_object_sound_procedure procedure)
{
    if (!VASSERT(procedure, "a null object sound procedure")) return false;
    if (!VASSERT(!play_object_sound_proc, "the object sound procedure is registered already")) return false;
    play_object_sound_proc = procedure;
    return true;
}

void clear_play_object_sound_procedure(void) { play_object_sound_proc = nullptr; }

void _play_object_sound(int32_t object_index, int16_t sound_index)
{
    if (object_index == NONE || sound_index == NONE || !play_object_sound_proc) return;
    play_object_sound_proc(object_index, sound_index);
}
