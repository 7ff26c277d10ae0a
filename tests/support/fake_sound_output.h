#pragma once
// A sound output that plays nothing and remembers what the manager sent it:
// each channel's state (which a test may set, as if the mixer had moved on),
// the last variables and the number of permutations queued.

#include <cstdint>

#include "sound/platform_sound.h"

struct fake_sound_channel
{
    int32_t state; // sound_channel_state
    sound_variables variables; // the last sent (scaled)
    int32_t buffers_queued;
    int32_t frees;
};

struct fake_sound_output
{
    bool initialize_result = true;
    fake_sound_channel channels[TOTAL_NUMBER_OF_SOUND_CHANNELS] = {};
    int32_t updates = 0;
};

// The table over the one fake output (reset by reset_fake_sound_output).
extern const platform_sound_impl fake_sound_output_impl;
fake_sound_output *get_fake_sound_output(void);
void reset_fake_sound_output(void);
