#pragma once
// The sound output as the sound manager sees it: one table of eleven
// operations over eight channels.  The manager never talks to an audio
// library; it copies a table (the OpenAL one, sound_openal.h) and calls it.
// A channel plays one queued buffer after another; the manager queues one
// permutation at a time and may queue a second behind it without a gap.
//
// Volumes and pitches are 8.8 fixed values: 256 is full volume and the
// recorded rate.  Main thread only; the output may mix on its own thread.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

enum
{
    NUMBER_OF_FOREGROUND_SOUND_CHANNELS = 5,
    NUMBER_OF_AMBIENT_SOUND_CHANNELS = 2,
    NUMBER_OF_STEREO_BACKGROUND_SOUND_CHANNELS = 1,
    TOTAL_NUMBER_OF_SOUND_CHANNELS = NUMBER_OF_FOREGROUND_SOUND_CHANNELS + NUMBER_OF_AMBIENT_SOUND_CHANNELS +
                                     NUMBER_OF_STEREO_BACKGROUND_SOUND_CHANNELS, // 8

    // Each channel owns this many buffers: one playing, one queued behind it.
    MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL = 2,
};

// A channel's state as of its output's last look at it.
enum sound_channel_state
{
    _sound_channel_idle, // nothing queued
    _sound_channel_busy, // one buffer queued
    _sound_channel_busy_and_full, // both queued: nothing more can be queued
};

// The preference flag the output reads (the "sound" preferences' flags):
// without it a map gets no reverb.
enum
{
    _sound_preferences_3D_positional_audio_bit = 0,
    _sound_preferences_3D_positional_audio_flag = 1u << _sound_preferences_3D_positional_audio_bit,
};

// One playing sound's state: what the manager computes per request and per
// frame, and sends (scaled by the master volume and pitch) to the output.
struct sound_variables
{
    short_fixed original_volume; // the request's random volume
    short_fixed volume; // after distance
    short_fixed left_volume, right_volume; // after the manager's own pan
    short_fixed original_pitch, pitch; // 256: the recorded rate
    int16_t loudness; // the definition's class
    uint16_t flags; // the play flags
    world_location3d location; // where a positional sound is
    bool bHasSource; // positional
};

// The samples of one permutation ready to play: the decoded block the
// definitions keep beside their stored 32-byte headers (whose pointer slot
// cannot hold an address), seen by the output only for the call.
struct platform_sound_samples
{
    int16_t channels; // 1 mono, 2 stereo (interleaved L, R)
    int16_t logical_bits_per_sample; // 8 or 16 (16-bit samples in host order)
    int32_t number_of_samples; // samples of all channels together (a stereo frame is two)
    fixed sample_rate; // 16.16; the integer part is the frequency in Hz
    const void *samples;
};

struct platform_sound_impl
{
    // Starts the output; false when it cannot play (the game stays silent).
    bool (*initialize)(void);
    // Makes the eight channels for a map (or the menu) with the sound
    // preference flags; false when they cannot be made.  The OpenAL output
    // places every sound itself: its caller keeps its own 3D mode on (no
    // pan of its own) while it is up.
    bool (*initialize_channels)(uint32_t sound_preference_flags);
    // Sets up the current map's reverb from its mesh header, once the mesh is loaded.
    bool (*initialize_mesh_parameters)(void);
    // Releases the channels (and the reverb) when the map ends.
    void (*dispose_channels)(void);
    // Stops the output (exit, reboot).
    void (*dispose)(void);
    // Once per frame: places the listener and refreshes every channel's state;
    // nothing at all with `update_listener` false.
    void (*update)(bool update_listener);
    // A sound_channel_state, as of the last update, queue or free.
    int32_t (*channel_state)(int32_t channel_index);
    // Stops the channel and drops what it has queued; it is idle afterwards.
    void (*channel_free)(int32_t channel_index);
    // Sends a channel its (scaled) variables: place, pitch and gain.  Nothing
    // for null variables.
    void (*channel_update)(int32_t channel_index, const sound_variables *variables, bool new_sound);
    // Queues one permutation's samples on the channel and starts it; nothing
    // (an assertion) when both its buffers are queued already.
    void (*channel_buffer)(int32_t channel_index, const platform_sound_samples *samples, tag sound_tag);
    // Tells whether the channel's sound is positional (the output decides in
    // channel_update instead; kept for outputs that need it).
    void (*channel_3D)(int32_t channel_index, bool positional);
};
