#pragma once
// The player's sound settings: the "sound" preferences record (12 bytes,
// big-endian when stored, version 1), kept by the preferences store as a
// local tag.  The sound manager reads it when it starts (and again when a
// map starts without it), writes it back when it leaves a map and releases
// it at exit; the volume keys and the preferences panel change it in place.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "sound/platform_sound.h" // _sound_preferences_3D_positional_audio_flag

#define SOUND_PREFERENCES_NAME "sound"

enum
{
    SOUND_PREFERENCES_VERSION_NUMBER = 1,
    MINIMUM_SOUND_CHANNEL_COUNT = 1,
    MAXIMUM_SOUND_CHANNEL_COUNT = 5,
    SOUND_PREFERENCES_MAXIMUM_VOLUME = 256,
    SOUND_PREFERENCES_NORMAL_PITCH = 256,
};

// The record's flags beside the output's 3D flag (bit 0, platform_sound.h).
enum
{
    // Ambient sources and the in-game stereo background are heard.
    _sound_preferences_ambient_flag = 1u << 1,
    // Read by whoever plays cutscenes; the sound code ignores it.
    _sound_preferences_no_cutscenes_flag = 1u << 2,
    // The main menu starts no music.
    _sound_preferences_disable_menu_music_flag = 1u << 3,
};

// Output providers (`provider_id`).
enum
{
    _sound_provider_none = -1,
    _sound_provider_native = 0, // read as OpenAL, stored as OpenAL once verified
    _sound_provider_openal = 1,
};

struct sound_preferences
{
    uint16_t flags;
    int16_t sound_channel_count; // 1..5: kept and edited; the manager always has five foreground channels
    int16_t master_volume; // 8.8, 0..256
    int16_t master_pitch; // 8.8, always 256
    int16_t provider_id;
    uint16_t padding;
};
static_assert(sizeof(sound_preferences) == 12);
static_assert(offsetof(sound_preferences, sound_channel_count) == 2);
static_assert(offsetof(sound_preferences, master_volume) == 4);
static_assert(offsetof(sound_preferences, master_pitch) == 6);
static_assert(offsetof(sound_preferences, provider_id) == 8);
static_assert(offsetof(sound_preferences, padding) == 10);

// Six 16-bit words.
extern const byte_swap_code sound_preferences_byte_swapping_data[];

// Flags 2 (ambient), five channels, volume and pitch 256, OpenAL.
void default_sound_preferences(void *record);
// Corrects the record in place and always accepts it: channel count into
// 1..5, volume into 0..256, pitch 256, a provider other than none or OpenAL
// becomes OpenAL.
bool verify_sound_preferences(void *record);

// The record in force; never null (the defaults until one is read).
sound_preferences *get_sound_preferences(void);
// Reads the stored record (verified, or the verified defaults when it is
// missing or refused) into the record in force, unless one is loaded already
// and `again` is false.
void read_sound_preferences(bool again);
// Stores the record in force when it differs from what was read or last
// written.  False when it could not be written (or nothing was read).
bool write_sound_preferences(void);
// Releases the stored copy; the record in force keeps its values.
void free_sound_preferences(void);
// False: the record in force is the caller's alone, never read from nor
// written to the store (tools that choose their own output).  On by default.
void use_sound_preferences_store(bool use);
