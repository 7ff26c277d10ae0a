#pragma once
// The sound manager: the game's one entry point for sound.  It owns eight
// output channels over the output's table of operations (platform_sound.h):
// channels 0-4 for the sounds units, projectiles, objects, scripts and the
// interface ask for, 5 and 6 for positional ambient sounds, 7 for the stereo
// background.  A request is rolled against its play fraction, picks a
// permutation, prints its subtitle, takes a foreground channel (possibly
// cutting off a quieter sound) and is sent with the game's own attenuation,
// pan and master volume.
//
// Sounds are heard, never simulated: every random choice here draws
// local_random, never the synchronized generator, and nothing here changes
// the game.  A channel follows the object that made its sound by the object's
// index and identifier, never through a pointer to a caller's record.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "sound/platform_sound.h"
#include "sound_preferences.h"
#include "world.h"

// Play flags (`flags` of play_sound_with_flags, kept in the variables' flags).
enum
{
    _play_sound_cannot_be_media_obstructed_flag = 1,
    _play_sound_static_source_flag = 2, // the location is copied once, never followed
    _play_sound_full_volume_flag = 4, // exempt from the master volume
};

enum
{
    _sound_channel_has_invalid_source_flag = 1, // started without a location
    // A busy channel of equal loudness is cut off only by a request louder by more than this.
    ABORT_VOLUME_THRESHHOLD = 42,
    MINIMUM_SOUND_VOLUME = 0,
    MAXIMUM_SOUND_VOLUME = 256,
    MINIMUM_SOUND_PITCH = 1,
    MAXIMUM_SOUND_PITCH = 25600,
    // How long the volume pop-up stays, in ticks.
    SOUND_VOLUME_POPUP_TICKS = 15,
};

struct sound_channel_data
{
    uint16_t flags;
    int16_t sound_index; // NONE: free
    int16_t source_identifier; // the caller's identifier of what made the sound, NONE for none
    // The object the channel follows each frame (NONE: it follows nothing and
    // keeps `source`): by index and identifier, so a deleted or reused slot
    // is never read as the source.
    int32_t dynamic_source_object;
    int16_t dynamic_source_object_identifier;
    world_location3d source; // the last known location
    sound_variables variables; // unscaled
    uint32_t start_tick; // local_time when the channel took the sound
};

struct sound_manager_globals
{
    bool sound_manager_initialized; // an output is up
    bool initialized; // channels exist for the current map or menu
    bool mute;
    bool enable_3D_sound; // false: the manager pans sounds itself
    int16_t global_ambient_sound_index;
    int32_t last_update_time;
    sound_channel_data sound_channels[TOTAL_NUMBER_OF_SOUND_CHANNELS];
};

// The manager's record, for the per-frame update and tests.
const sound_manager_globals *get_sound_manager_globals(void);

// ---- life ---------------------------------------------------------------------------

// Start-up and reboot: disposes an output that is up, re-reads the "sound"
// preferences, then brings up the provider's output (0 and 1: OpenAL;
// anything else stays silent).  True when an output is up.
bool initialize_sound_manager(void);
// Makes the channels for a map (or the menu) when an output is up, reading
// the preferences first when none are loaded.
void initialize_sound_manager_for_new_map(void);
// Frees every channel, the channels and every decoded sample block, and
// stores the preferences when they changed.
void dispose_sound_manager_from_old_map(void);
// Stops the output and releases the preferences (exit).
void dispose_sound_manager(void);
// After the preferences panel stored a changed provider: leaves the map's
// sound, brings up the provider's output again and makes new channels.
void reboot_sound_manager(void);
// Asks the output for the map's reverb once the mesh is loaded.
void initialize_sound_mesh_parameters_for_new_map(void);

// Tests put a fake output in place of the one the provider selects (null:
// the real one again).  Takes effect at the next initialize_sound_manager.
void set_sound_manager_platform_for_tests(const platform_sound_impl *platform);
// Tests give their own listener (null: the observer camera's again).
typedef const world_location3d *(*sound_manager_listener_procedure)(void);
void set_sound_manager_listener_for_tests(sound_manager_listener_procedure procedure);

// ---- requests ------------------------------------------------------------------------

// Plays `sound_index` for `source_identifier` (an object index, or NONE) at
// `location` (null: to the listener, not positional) with pitch scale `pitch`
// (8.8) and play flags.  Silent requests (no output, muted, too far) still
// roll, pick a permutation and print the subtitle.  `location` is copied.
void play_sound_with_flags(int16_t sound_index, int16_t source_identifier, const world_location3d *location,
                           int32_t pitch, uint32_t flags);
// Starts a request on a foreground channel: the channel, or NONE when it is
// not played (failed roll, too quiet, no channel may be taken).
int32_t start_sound(int16_t sound_index, const sound_variables *variables);
// Keeps an ambient or stereo channel's sound going, one permutation after another.
void update_sound_permutations(int32_t channel_index);
// Decodes the sound's sample block if it is not in memory (the local clock pauses meanwhile).
void preload_sound(int16_t sound_index);

// Foreground channels of `source_identifier` and/or `sound_index` (NONE: any).
void stop_sound(int16_t source_identifier, int16_t sound_index);
void stop_all_sounds(void);
// Stops every channel (no gradual fade: `ticks` is not used).
void fade_out_sound(int32_t ticks);
// The source is going away: its sounds that stop with their source stop;
// the rest finish where the source was last.
void orphan_sounds(int16_t source_identifier);
// Whether a channel plays `sound_index` (NONE: any sound).
bool sound_is_playing(int16_t sound_index);

void sound_mute(bool mute);
// True when muted or when no output is up.
bool get_sound_mute(void);
void toggle_3D_sound(bool enable);
bool enable_3D_sound(void);
void set_global_ambient_sound_index(int16_t ambient_index);

// ---- the stereo channel and the menu music ----------------------------------------------

// Plays one permutation of `sound_index` on the stereo channel (7), not
// positional, replacing another sound there.  Nothing without channels, for
// NONE, or while muted.
void play_stereo_sound(int16_t sound_index);
// When no channel still plays, starts one of the four menu tracks, chosen by
// weight among those other than the one played last.
void start_main_menu_music(void);
// Frees the first channel holding a menu track.
void stop_main_menu_music(void);
// The position (0..3) of the menu track played last, NONE before the first.
int16_t get_last_played_music_index(void);

// The permutation of `sound_index` to play next, NONE when it has none:
// every permutation is played once before any repeats (skipped ones count).
int32_t pick_sound_permutation(int16_t sound_index);

// ---- attenuation, pan and volume ---------------------------------------------------------

// A request's variables: random pitch (drawn first) and volume, then distance,
// obstruction and pan for `location` (null: not positional).
void new_sound_variables_from_source(sound_variables *variables, int16_t sound_index,
                                     const world_location3d *location, int32_t pitch, bool full_volume,
                                     uint32_t flags);
// Recomputes distance volume and pan for a (possibly moved) location.  Without
// a listener the volumes stay as they were.
void update_sound_variables(sound_variables *variables, int16_t sound_index, const world_location3d *location,
                            bool full_volume);
// The volume factor (8.8) of a sound of `loudness` at 2D distance `distance`.
int32_t sound_distance_volume_factor(int16_t loudness, bool obstructed, int32_t distance);
// Sends the channel a copy scaled by the master volume and pitch and keeps the unscaled one.
void sound_channel_update(int32_t channel_index, const sound_variables *variables, bool new_sound);
// Re-sends every held channel after a master-volume change.
void update_sound_volume(void);
// The volume keys, once per frame: decrease (F3), increase (F4), jump (Shift).
void continuous_volume_adjustment(bool decrease, bool increase, bool jump);

// The listener sounds are heard from (the test's, else the observer camera's); null when none.
const world_location3d *get_sound_listener(void);

// ---- the per-frame update ------------------------------------------------------------------

struct raw_ambient_sound_data; // sound_vesk.h

// Once per frame, skipped when local_time has not moved since the last
// update: the volume keys, finished and moving foreground sounds, the stereo
// background on channel 7 and the ambient candidates on channels 5 and 6.
void update_sound_manager(int32_t local_ticks);
// The ambient half: gathers the fire's and the sound sources' reports, fires
// their one-shots, keeps the two most important on channels 5 and 6.
void update_positional_ambient_sound_sources(int32_t local_ticks);
// Merges one report into the candidate list (`user_data`: MAXIMUM_RAW_AMBIENT_SOUNDS
// records); a report finding no room is dropped.
void report_ambient_sound_source(void *user_data, const world_point3d *location, int16_t ambient_sound_index,
                                 short_fixed volume);
// Merges one report into the single stereo record.
void report_stereo_ambient_sound_source(raw_ambient_sound_data *record, int16_t ambient_sound_index,
                                        short_fixed volume);
// The candidate to drop first among `count`: the lowest loudness, then the
// lowest volume, a later record winning ties; NONE when none is used.
int32_t lowest_priority_ambient_sound(const raw_ambient_sound_data *list, int32_t count);
