#pragma once
// The sound output over OpenAL: each of the manager's eight channels is one
// OpenAL source fed by two buffers, placed in OpenAL's space with the game's
// own gain curve, with a per-map reverb through the effects extension when
// the device has it.  OpenAL applies no distance attenuation: the manager
// computes every volume.
//
// World units (512 to a cell; x east, y north, z up) map to OpenAL as
// (x, y, z) -> (-x / 512, z / 512, y / 512), velocities the same way.
//
// Main thread only; OpenAL mixes on its own thread, and the device is opened
// on a thread of its own (see OPENAL_STARTUP_LIMIT_MS).

#include <cstdint>

#include "mesh_format.h"
#include "sound/load_openal.h"
#include "sound/platform_sound.h"

// The OpenAL output's table.
extern const platform_sound_impl openal_impl;

enum : int32_t
{
    // The output's start waits this long for OpenAL to open its device; a
    // driver that has not answered by then leaves the game silent (logged).
    OPENAL_STARTUP_LIMIT_MS = 4000,
};

// The reverb presets of the 26 EAX environments (generic 0 ... psychotic 25,
// NUMBER_OF_REVERB_ENVIRONMENTS): one row of the 23 EAX reverb parameters
// each, in parameter order.

struct openal_reverb_properties
{
    float density, diffusion, gain, gain_hf, gain_lf;
    float decay_time, decay_hf_ratio, decay_lf_ratio;
    float reflections_gain, reflections_delay, reflections_pan[3];
    float late_reverb_gain, late_reverb_delay, late_reverb_pan[3];
    float echo_time, echo_depth, modulation_time, modulation_depth;
    float air_absorption_gain_hf, hf_reference, lf_reference, room_rolloff_factor;
    int32_t decay_hf_limit;
};

extern const openal_reverb_properties reverb_presets[NUMBER_OF_REVERB_ENVIRONMENTS];

// The gain OpenAL gets for an 8.8 volume: v = volume / 256 clamped to 0..1,
// raised to (1.5 - v^0.125); 256 gives 1, 128 about 0.668, 0 gives 0.
float openal_gain_for_volume(int32_t volume);

// The OpenAL pitch for an 8.8 pitch, within 1/256..1: pitches above the
// recorded rate play at it, and OpenAL refuses a pitch of 0.
float openal_pitch_for_pitch(int32_t pitch);

// The listener the output places each frame: the observer's
// (sound_listener_proc) by default; tests give their own.  Null restores the
// default.  Returns the previous one.
typedef const world_location3d *(*openal_listener_procedure)(void);
openal_listener_procedure set_openal_listener_procedure(openal_listener_procedure procedure);

// Whether the map's reverb exists, with its slot and effect names (0 when
// not); for tests and the log.
bool get_openal_reverb(ALuint *effect_slot, ALuint *effect);
