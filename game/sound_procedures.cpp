// The sound subsystem's one registration point.

#include "sound_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<sound_procedures> sound_table_slot("sound procedures");

bool register_sound_procedures(const sound_procedures *procedures) { return sound_table_slot.fill(procedures); }

const sound_procedures *get_sound_procedures(void) { return sound_table_slot.get(); }

void _play_object_sound(int32_t object_index, int16_t sound_index)
{
    const auto play = get_sound_procedures()->play_object_sound;
    if (object_index == NONE || sound_index == NONE || !play) return;
    play(object_index, sound_index);
}

void _orphan_object_sounds(int32_t object_index)
{
    if (const auto orphan = get_sound_procedures()->orphan_object_sounds) orphan(object_index);
}
