// The remembering sound output.  See fake_sound_output.h.

#include "support/fake_sound_output.h"

static fake_sound_output fake;

fake_sound_output *get_fake_sound_output(void) { return &fake; }
void reset_fake_sound_output(void) { fake = fake_sound_output(); }

static bool valid(int32_t channel) { return channel >= 0 && channel < TOTAL_NUMBER_OF_SOUND_CHANNELS; }

const platform_sound_impl fake_sound_output_impl = {
    [] { return fake.initialize_result; },
    [](uint32_t) { return true; },
    [] { return true; },
    [] {},
    [] {},
    [](bool) { ++fake.updates; },
    [](int32_t channel) { return valid(channel) ? fake.channels[channel].state : (int32_t)_sound_channel_idle; },
    [](int32_t channel) {
        if (!valid(channel)) return;
        fake.channels[channel].state = _sound_channel_idle;
        ++fake.channels[channel].frees;
    },
    [](int32_t channel, const sound_variables *variables, bool) {
        if (valid(channel) && variables) fake.channels[channel].variables = *variables;
    },
    [](int32_t channel, const platform_sound_samples *, tag) {
        if (!valid(channel) || fake.channels[channel].state == _sound_channel_busy_and_full) return;
        ++fake.channels[channel].buffers_queued;
        fake.channels[channel].state =
            fake.channels[channel].state == _sound_channel_idle ? _sound_channel_busy : _sound_channel_busy_and_full;
    },
    [](int32_t, bool) {},
};
