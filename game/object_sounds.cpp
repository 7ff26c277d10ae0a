// Sounds played at an object, through the sound layer's registered player.

#include "object_sounds.h"

#include "cseries/registration.h"

static procedure_slot<play_object_sound_procedure> play_object_sound_slot("play object sound");

bool register_play_object_sound_procedure(play_object_sound_procedure procedure)
{
    return play_object_sound_slot.fill(procedure);
}

void _play_object_sound(int32_t object_index, int16_t sound_index)
{
    const play_object_sound_procedure play = play_object_sound_slot.get();
    if (object_index == NONE || sound_index == NONE || !play) return;
    play(object_index, sound_index);
}
