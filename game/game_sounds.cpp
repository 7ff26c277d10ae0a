// Game sounds, played locally.

#include "game_sounds.h"

#include "cseries/registration.h"
#include "sound_procedures.h"

#include <cstring>

// The sound tags are the data set's ('soun' group); a missing tag plays nothing.
static const tag game_sound_tags[NUMBER_OF_GAME_SOUNDS] = {
    FOUR_CHARACTER_CODE('g', 'v', 'i', 'c'), FOUR_CHARACTER_CODE('g', 'd', 'e', 'f'),
    FOUR_CHARACTER_CODE('g', 'o', 'v', 'r'), FOUR_CHARACTER_CODE('g', 't', 'i', 'm'),
    FOUR_CHARACTER_CODE('g', 'f', 'c', 'p'), FOUR_CHARACTER_CODE('g', 'f', 'l', 's'),
    FOUR_CHARACTER_CODE('g', 't', 'e', 'l'), FOUR_CHARACTER_CODE('g', 'p', 'd', 'r'),
    FOUR_CHARACTER_CODE('g', 'p', 'j', 'n'), FOUR_CHARACTER_CODE('g', 'c', 'h', 't'),
    FOUR_CHARACTER_CODE('g', 'a', 'l', 'f'), FOUR_CHARACTER_CODE('g', 'a', 'l', 'b'),
    FOUR_CHARACTER_CODE('g', 'g', 'o', 'l'), FOUR_CHARACTER_CODE('g', 'o', 'b', 'c'),
    FOUR_CHARACTER_CODE('g', 'o', 'b', 'f'), FOUR_CHARACTER_CODE('g', 'r', 'e', 'i'),
    FOUR_CHARACTER_CODE('g', 'p', 'r', 'o'), FOUR_CHARACTER_CODE('g', 's', 'a', 'v'),
    FOUR_CHARACTER_CODE('g', 'c', 'l', 'k'), FOUR_CHARACTER_CODE('g', 'd', 't', 'c'),
    FOUR_CHARACTER_CODE('g', 'n', 'u', 'r'),
};

static struct game_sound_globals
{
    int32_t requests[NUMBER_OF_GAME_SOUNDS];
} game_sound_globals;

void initialize_game_sounds(void)
{
    memset(game_sound_globals.requests, 0, sizeof(game_sound_globals.requests));
}

tag get_game_sound_tag(int16_t sound)
{
    return sound >= 0 && sound < NUMBER_OF_GAME_SOUNDS ? game_sound_tags[sound] : (tag)NONE;
}

void queue_game_sound(int16_t sound)
{
    if (sound < 0 || sound >= NUMBER_OF_GAME_SOUNDS)
    {
        log_message(__FILE__, __LINE__, "game sound %d does not exist", sound);
        return;
    }
    ++game_sound_globals.requests[sound];
    if (const auto play = get_sound_procedures()->play_local_sound) play(game_sound_tags[sound]);
}

int32_t get_game_sound_request_count(int16_t sound)
{
    return sound >= 0 && sound < NUMBER_OF_GAME_SOUNDS ? game_sound_globals.requests[sound] : 0;
}
