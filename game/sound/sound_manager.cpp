// The sound manager.  See sound_manager.h.

#include "sound_manager.h"

#include <cmath>
#include <cstring>

#include "bitmap_dialogs/game_graphic_control.h"
#include "console/console.h"
#include "console/console_popup.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "mesh.h"
#include "objects.h"
#include "observer.h"
#include "render/terrain_overlays.h"
#include "sound/sound_openal.h"
#include "sound_definitions.h"
#include "sound_vesk.h"
#include "fire.h"
#include "vesk/string_lists.h"
#include "vesk_random.h"

#define INTERNAL_SOUND_VOLUME_STRING_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'v')

enum
{
    NORMAL_PITCH = 256,
    FIRST_AMBIENT_SOUND_CHANNEL = NUMBER_OF_FOREGROUND_SOUND_CHANNELS,
    STEREO_SOUND_CHANNEL = FIRST_AMBIENT_SOUND_CHANNEL + NUMBER_OF_AMBIENT_SOUND_CHANNELS,
    _sound_volume_title_string_index = 0,
    _sound_volume_off_string_index = 1,
    _sound_volume_percentage_string_index = 2,
};

struct depth_curve_data
{
    int16_t maximum_volume, minimum_volume;
    int32_t maximum_volume_distance, minimum_volume_distance;
};

struct sound_loudness_behavior_definition
{
    depth_curve_data obstructed, unobstructed;
};

static const sound_loudness_behavior_definition sound_loudness_behavior_definitions[NUMBER_OF_SOUND_LOUDNESSES] = {
    {{0, 0, 0, 0}, {256, 0, 4096, 12288}}, // quiet
    {{128, 0, 0, 7168}, {256, 0, 6144, 18432}}, // normal
    {{192, 0, 0, 10240}, {256, 28, 8192, 24576}}, // loud
    {{128, 0, 0, 7168}, {256, 0, 6144, 18432}}, // narration
};

static struct sound_manager_module
{
    sound_manager_globals globals;
    platform_sound_impl platform_sound;
    const platform_sound_impl *platform_for_tests;
    sound_manager_listener_procedure listener_for_tests;
    // The volume keys' ramp.
    bool keys_last_active;
    int32_t keys_last_sign;
    uint32_t keys_start_ticks;
    int32_t keys_start_volume;
    int16_t last_played_music_index; // the menu track's position, NONE before the first
    // The menu's music was started and not stopped since: when everything
    // falls silent the next track follows.
    bool menu_music_playing;
} sound_manager = {
    {},
    {},
    nullptr,
    nullptr,
    false,
    0,
    0,
    0,
    NONE,
    false,
};

static sound_manager_globals &g = sound_manager.globals;

const sound_manager_globals *get_sound_manager_globals(void) { return &g; }

void set_sound_manager_platform_for_tests(const platform_sound_impl *platform)
{
    sound_manager.platform_for_tests = platform;
}

void set_sound_manager_listener_for_tests(sound_manager_listener_procedure procedure)
{
    sound_manager.listener_for_tests = procedure;
}

static const world_location3d *sound_listener(void)
{
    return sound_manager.listener_for_tests ? sound_manager.listener_for_tests() : sound_listener_proc();
}

static int32_t local_now(void) { return game_->local_time.load(); }

static bool manager_is_set_up(void) { return g.sound_manager_initialized && g.initialized; }

static void clear_channel(sound_channel_data *channel)
{
    memset(channel, 0, sizeof(*channel));
    channel->sound_index = NONE;
    channel->source_identifier = NONE;
    channel->dynamic_source_object = NONE;
    channel->dynamic_source_object_identifier = NONE;
}

// Frees what the channel holds: the output stops it and the definition loses a holder.
static void free_channel(int32_t channel_index)
{
    sound_channel_data *channel = &g.sound_channels[channel_index];
    if (channel->sound_index == NONE) return;
    if (manager_is_set_up()) sound_manager.platform_sound.channel_free(channel_index);
    if (sound_definition *definition = get_sound_definition(channel->sound_index)) --definition->reference_count;
    clear_channel(channel);
}

// ---- life ---------------------------------------------------------------------------

bool initialize_sound_manager(void)
{
    if (g.sound_manager_initialized)
    {
        sound_manager.platform_sound.dispose();
        g.sound_manager_initialized = false;
    }
    g.initialized = false;
    // The preferences panel stores a changed provider before it reboots.
    free_sound_preferences();
    read_sound_preferences(true);

    const int16_t provider = get_sound_preferences()->provider_id;
    if (provider != _sound_provider_native && provider != _sound_provider_openal) return false;

    memset(&g, 0, sizeof(g));
    for (sound_channel_data &channel : g.sound_channels) clear_channel(&channel);
    g.global_ambient_sound_index = NONE;
    g.enable_3D_sound = true;
    sound_manager.platform_sound = sound_manager.platform_for_tests ? *sound_manager.platform_for_tests : openal_impl;
    g.sound_manager_initialized = sound_manager.platform_sound.initialize();
    return g.sound_manager_initialized;
}

void initialize_sound_manager_for_new_map(void)
{
    if (!g.sound_manager_initialized) return;
    // One set of channels: a set still made is given up, never made over.
    if (!VASSERT(!g.initialized, "sound channels already made")) dispose_sound_manager_from_old_map();
    read_sound_preferences(false);
    if (!sound_manager.platform_sound.initialize_channels(get_sound_preferences()->flags))
    {
        log_message(__FILE__, __LINE__, "the sound output made no channels: the game runs silent");
        return;
    }
    // The output places every sound itself: the manager does not pan.
    toggle_3D_sound(true);
    for (sound_channel_data &channel : g.sound_channels) clear_channel(&channel);
    g.last_update_time = 0;
    g.initialized = true;
    log_message(nullptr, -1, "sound: %d channels made", (int)TOTAL_NUMBER_OF_SOUND_CHANNELS);
    g.mute = false;
    g.global_ambient_sound_index = NONE;
}

void dispose_sound_manager_from_old_map(void)
{
    if (!manager_is_set_up()) return;
    for (int32_t i = 0; i < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++i) free_channel(i);
    sound_manager.platform_sound.dispose_channels();
    g.initialized = false;
    log_message(nullptr, -1, "sound: channels given up");
    write_sound_preferences();
}

void dispose_sound_manager(void)
{
    sound_manager.menu_music_playing = false;
    if (g.sound_manager_initialized)
    {
        dispose_sound_manager_from_old_map();
        sound_manager.platform_sound.dispose();
        g.sound_manager_initialized = false;
    }
    free_sound_preferences();
}

void reboot_sound_manager(void)
{
    // The mute of a mid-game join outlives the output it was set on.
    const bool muted = g.mute;
    dispose_sound_manager_from_old_map();
    initialize_sound_manager();
    initialize_sound_manager_for_new_map();
    if (g.initialized) g.mute = muted;
}

void initialize_sound_mesh_parameters_for_new_map(void)
{
    if (g.sound_manager_initialized) sound_manager.platform_sound.initialize_mesh_parameters();
}

// ---- choosing ------------------------------------------------------------------------

int32_t pick_sound_permutation(int16_t sound_index)
{
    sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return NONE;
    const int32_t n = definition->number_of_permutations;
    const sound_runtime *runtime = get_sound_runtime(sound_index);
    if (n < 1 || n > MAXIMUM_PERMUTATIONS_PER_SOUND || !runtime || !runtime->permutations) return NONE;

    const uint32_t all = (1u << n) - 1;
    int32_t k = local_random() % n;
    uint32_t played = definition->permutations_played_flags;
    if (played == all) played = 0; // a new round
    for (;;)
    {
        // Only a permutation not yet played this round may be chosen, and it
        // may still be skipped (it counts as played all the same).
        if (!(played & (1u << k)))
        {
            played |= 1u << k;
            if (runtime->permutations[k].skip_fraction <= local_random()) break;
        }
        k = k == 0 ? n - 1 : k - 1;
        if (played == all) break;
    }
    definition->permutations_played_flags = (uint16_t)played;
    return k;
}

// The roll and the pick of a request (a failed roll picks NONE), recorded as a play.
static int32_t roll_and_pick(int16_t sound_index, sound_definition *definition)
{
    int32_t permutation = NONE;
    if (definition->play_fraction >= local_random() && definition->number_of_permutations >= 1)
        permutation = pick_sound_permutation(sound_index);
    definition->local_tick_last_played = (uint32_t)local_now();
    definition->last_permutation_picked = (int16_t)permutation;
    return permutation;
}

static void print_subtitle(const sound_definition *definition, int32_t permutation)
{
    const game_preferences *preferences = get_game_preferences();
    const bool wanted = (preferences && (preferences->flags & _game_pref_show_subtitles_flag)) ||
                        get_sound_preferences()->master_volume == 0;
    if (!wanted || definition->subtitle_string_list_index == NONE) return;
    const int32_t offset =
        permutation == NONE || (definition->flags & _sound_all_permutations_use_same_subtitle_flag) ? 0 : permutation;
    cprintf(false, "%s",
            get_string_from_list(definition->subtitle_string_list_index,
                                 definition->first_subtitle_within_string_list_index + offset));
}

// The output's copy of `variables`: scaled by the master volume (unless full
// volume) and the master pitch.
static sound_variables scaled_variables(const sound_variables *variables)
{
    const int32_t m = (variables->flags & _play_sound_full_volume_flag) ? (int32_t)MAXIMUM_SOUND_VOLUME
                                                                        : get_sound_preferences()->master_volume;
    sound_variables copy = *variables;
    copy.volume = (short_fixed)((int32_t)variables->volume * m >> 8);
    copy.left_volume = (short_fixed)((int32_t)variables->left_volume * m >> 8);
    copy.right_volume = (short_fixed)((int32_t)variables->right_volume * m >> 8);
    copy.pitch = (short_fixed)((int32_t)variables->pitch * get_sound_preferences()->master_pitch >> 8);
    return copy;
}

static bool queue_permutation(int32_t channel_index, int16_t sound_index, int32_t permutation)
{
    const int16_t *samples = nullptr;
    const sampled_sound_header *header = get_sound_permutation_header(sound_index, permutation, &samples);
    if (!header || !(header->flags & _sound_is_ima_compressed_flag) || header->number_of_samples < 1) return false;
    const platform_sound_samples buffer{header->channels, header->logical_bits_per_sample, header->number_of_samples,
                                        header->sample_rate, samples};
    sound_manager.platform_sound.channel_buffer(channel_index, &buffer, NONE);
    return true;
}

int32_t start_sound(int16_t sound_index, const sound_variables *variables)
{
    sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return NONE;
    const int32_t permutation = roll_and_pick(sound_index, definition);
    print_subtitle(definition, permutation);
    if (permutation == NONE || variables->volume < 1 || !manager_is_set_up()) return NONE;

    bool is_free[NUMBER_OF_FOREGROUND_SOUND_CHANNELS], contains[NUMBER_OF_FOREGROUND_SOUND_CHANNELS],
        abortable[NUMBER_OF_FOREGROUND_SOUND_CHANNELS];
    bool any_contains = false;
    for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
    {
        const sound_channel_data *channel = &g.sound_channels[i];
        const int32_t state = channel->sound_index == NONE ? _sound_channel_idle
                                                           : sound_manager.platform_sound.channel_state(i);
        is_free[i] = channel->sound_index == NONE || state == _sound_channel_idle;
        contains[i] = !is_free[i] && channel->sound_index == sound_index;
        abortable[i] = !is_free[i] && state != _sound_channel_busy_and_full &&
                       (variables->loudness > channel->variables.loudness ||
                        (variables->loudness == channel->variables.loudness &&
                         variables->volume - channel->variables.volume > ABORT_VOLUME_THRESHHOLD));
        any_contains = any_contains || contains[i];
    }

    const bool cannot_restart = definition->flags & _sound_cannot_be_restarted_flag;
    int32_t chosen = NONE;
    auto first = [&](auto qualifies) {
        for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS && chosen == NONE; ++i)
            if (qualifies(i)) chosen = i;
    };
    if (definition->flags & _sound_can_occupy_multiple_channels_flag)
    {
        first([&](int32_t i) { return is_free[i]; });
        first([&](int32_t i) { return abortable[i] && !(cannot_restart && contains[i]); });
    }
    else if (any_contains)
    {
        if (!cannot_restart) first([&](int32_t i) { return contains[i] && abortable[i]; });
    }
    else
    {
        first([&](int32_t i) { return is_free[i]; });
        first([&](int32_t i) { return abortable[i]; });
    }
    if (chosen == NONE) return NONE;

    free_channel(chosen);
    preload_sound(sound_index);
    const sound_runtime *runtime = get_sound_runtime(sound_index);
    if (!runtime || !runtime->decoded) return chosen;

    const sampled_sound_header *header = get_sound_permutation_header(sound_index, permutation, nullptr);
    if (!header || !(header->flags & _sound_is_ima_compressed_flag) || header->number_of_samples < 1)
    {
        free_channel(chosen);
        return NONE;
    }
    sound_channel_data *channel = &g.sound_channels[chosen];
    channel->flags = 0;
    channel->start_tick = (uint32_t)local_now();
    channel->sound_index = sound_index;
    ++definition->reference_count;
    sound_channel_update(chosen, variables, true);
    queue_permutation(chosen, sound_index, permutation);
    return chosen;
}

void update_sound_permutations(int32_t channel_index)
{
    if (!manager_is_set_up() || channel_index < 0 || channel_index >= TOTAL_NUMBER_OF_SOUND_CHANNELS) return;
    const int16_t sound_index = g.sound_channels[channel_index].sound_index;
    sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return;
    while (sound_manager.platform_sound.channel_state(channel_index) != _sound_channel_busy_and_full)
    {
        const int32_t permutation = roll_and_pick(sound_index, definition);
        if (permutation == NONE) return;
        preload_sound(sound_index);
        if (!queue_permutation(channel_index, sound_index, permutation)) return;
    }
}

void preload_sound(int16_t sound_index)
{
    if (!manager_is_set_up() || sound_index == NONE || g.mute) return;
    const sound_runtime *runtime = get_sound_runtime(sound_index);
    if (!runtime || runtime->decoded) return;
    pause_local_time(true);
    load_sound_definition_data(sound_index);
    pause_local_time(false);
}

void play_sound_with_flags(int16_t sound_index, int16_t source_identifier, const world_location3d *location,
                           int32_t pitch, uint32_t flags)
{
    sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return;
    if (manager_is_set_up() && !g.mute)
    {
        sound_variables variables;
        new_sound_variables_from_source(&variables, sound_index, location, pitch, false, flags);
        if (variables.volume != 0)
        {
            const int32_t channel_index = start_sound(sound_index, &variables);
            if (channel_index == NONE) return;
            sound_manager.platform_sound.channel_3D(channel_index, location != nullptr);
            sound_channel_data *channel = &g.sound_channels[channel_index];
            channel->dynamic_source_object = NONE;
            channel->dynamic_source_object_identifier = NONE;
            if (!location)
            {
                channel->flags |= _sound_channel_has_invalid_source_flag;
                channel->source_identifier = NONE;
                return;
            }
            channel->source = *location;
            channel->variables.location = *location;
            channel->source_identifier = source_identifier;
            // Follow the object that made the sound, by its slot and identifier.
            if (!(flags & _play_sound_static_source_flag) && source_identifier != NONE)
                if (const object_data *object = get_object(source_identifier))
                {
                    channel->dynamic_source_object = source_identifier;
                    channel->dynamic_source_object_identifier = object->identifier;
                }
            return;
        }
    }
    // Silent: the request still counts as a play and still shows its subtitle.
    print_subtitle(definition, roll_and_pick(sound_index, definition));
}

// ---- stopping ------------------------------------------------------------------------

void stop_sound(int16_t source_identifier, int16_t sound_index)
{
    for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
    {
        const sound_channel_data *channel = &g.sound_channels[i];
        if (channel->sound_index == NONE) continue;
        if (sound_index != NONE && channel->sound_index != sound_index) continue;
        if (source_identifier != NONE && channel->source_identifier != source_identifier) continue;
        free_channel(i);
    }
}

void stop_all_sounds(void)
{
    for (int32_t i = 0; i < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++i) free_channel(i);
}

void fade_out_sound(int32_t)
{
    if (manager_is_set_up()) stop_all_sounds();
}

void orphan_sounds(int16_t source_identifier)
{
    if (!VASSERT(source_identifier >= 0, "source_identifier>=0")) return;
    for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
    {
        sound_channel_data *channel = &g.sound_channels[i];
        if (channel->sound_index == NONE || channel->source_identifier != source_identifier) continue;
        const sound_definition *definition = get_sound_definition(channel->sound_index);
        if (definition && (definition->flags & _sound_stopped_when_source_disappears_flag))
        {
            free_channel(i);
            continue;
        }
        channel->dynamic_source_object = NONE;
        channel->dynamic_source_object_identifier = NONE;
        channel->source_identifier = NONE;
    }
}

bool sound_is_playing(int16_t sound_index)
{
    if (!manager_is_set_up()) return false;
    for (int32_t i = 0; i < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++i)
    {
        const sound_channel_data *channel = &g.sound_channels[i];
        if (channel->sound_index == NONE || (sound_index != NONE && channel->sound_index != sound_index)) continue;
        if (sound_manager.platform_sound.channel_state(i) != _sound_channel_idle) return true;
    }
    return false;
}

void sound_mute(bool mute) { g.mute = mute; }
bool get_sound_mute(void) { return !g.sound_manager_initialized || g.mute; }
void toggle_3D_sound(bool enable) { g.enable_3D_sound = enable; }
bool enable_3D_sound(void) { return g.enable_3D_sound; }
void set_global_ambient_sound_index(int16_t ambient_index) { g.global_ambient_sound_index = ambient_index; }

// ---- the stereo channel and the menu music ----------------------------------------------

enum
{
    NUMBER_OF_MAIN_MENU_MUSIC_TRACKS = 4,
};
static_assert(STEREO_SOUND_CHANNEL == TOTAL_NUMBER_OF_SOUND_CHANNELS - 1, "the stereo channel is the last");

struct main_menu_music_data
{
    tag sound_tag;
    int16_t weight;
};

static const main_menu_music_data main_menu_music_sound_tags[NUMBER_OF_MAIN_MENU_MUSIC_TRACKS] = {
    {FOUR_CHARACTER_CODE('m', 'a', 'm', 'm'), 20},
    {FOUR_CHARACTER_CODE('m', 'a', 'm', 'n'), 20},
    {FOUR_CHARACTER_CODE('m', 'a', 'm', 'o'), 10},
    {FOUR_CHARACTER_CODE('m', 'a', 'm', 'p'), 20},
};

int16_t get_last_played_music_index(void) { return sound_manager.last_played_music_index; }

void play_stereo_sound(int16_t sound_index)
{
    if (!manager_is_set_up() || sound_index == NONE || g.mute) return;
    sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return;
    sound_variables variables;
    new_sound_variables_from_source(&variables, sound_index, nullptr, 256, false, 0);
    if (variables.volume < 1) return;

    // Another sound gives the channel up; the same one goes on as it is.
    sound_channel_data *channel = &g.sound_channels[STEREO_SOUND_CHANNEL];
    if (channel->sound_index != sound_index)
    {
        free_channel(STEREO_SOUND_CHANNEL);
        channel->flags = 0;
        channel->sound_index = sound_index;
        channel->start_tick = (uint32_t)local_now();
        ++definition->reference_count;
    }
    // A failed roll leaves the channel claimed and silent.
    const int32_t permutation = roll_and_pick(sound_index, definition);
    if (permutation == NONE) return;
    preload_sound(sound_index);
    sound_channel_update(STEREO_SOUND_CHANNEL, &variables, true);
    queue_permutation(STEREO_SOUND_CHANNEL, sound_index, permutation);
}

void start_main_menu_music(void)
{
    if (!manager_is_set_up()) return;
    sound_manager.menu_music_playing = true;
    // A click still sounding keeps the music back until the next call.
    if (sound_is_playing(NONE)) return;
    const int16_t last = sound_manager.last_played_music_index;
    int32_t total = 0;
    for (int32_t i = 0; i < NUMBER_OF_MAIN_MENU_MUSIC_TRACKS; ++i)
        if (i != last) total += main_menu_music_sound_tags[i].weight;
    const int32_t r = total > 0 ? (int32_t)local_random() * total >> 16 : 0;
    int32_t sum = 0, sound_index = NONE;
    for (int32_t i = 0; i < NUMBER_OF_MAIN_MENU_MUSIC_TRACKS; ++i)
    {
        if (i == last) continue;
        sum += main_menu_music_sound_tags[i].weight;
        if (r < sum)
        {
            // Between maps the group may not be set up: nothing to load the track into.
            if (sound_definitions.registered && sound_definitions.count != NONE)
                sound_index = try_definition_tag_to_index(&sound_definitions, main_menu_music_sound_tags[i].sound_tag,
                                                          true, _definition_lookup_quiet_flag);
            sound_manager.last_played_music_index = (int16_t)i;
            break;
        }
    }
    play_stereo_sound((int16_t)sound_index);
}

void stop_main_menu_music(void)
{
    sound_manager.menu_music_playing = false;
    if (!manager_is_set_up()) return;
    int32_t tracks[NUMBER_OF_MAIN_MENU_MUSIC_TRACKS];
    for (int32_t i = 0; i < NUMBER_OF_MAIN_MENU_MUSIC_TRACKS; ++i)
        tracks[i] = subgroup_tag_to_definition_index(&sound_definitions, main_menu_music_sound_tags[i].sound_tag);
    for (int32_t c = 0; c < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++c)
    {
        const int16_t sound_index = g.sound_channels[c].sound_index;
        if (sound_index == NONE) continue;
        for (int32_t track : tracks)
            if (track != NONE && track == sound_index)
            {
                free_channel(c);
                return;
            }
    }
}

// ---- attenuation, pan and volume ---------------------------------------------------------

static short_fixed clamp_volume(int32_t volume)
{
    if (volume < MINIMUM_SOUND_VOLUME) volume = MINIMUM_SOUND_VOLUME;
    if (volume > MAXIMUM_SOUND_VOLUME) volume = MAXIMUM_SOUND_VOLUME;
    return (short_fixed)volume;
}

static short_fixed clamp_pitch(int32_t pitch)
{
    if (pitch < MINIMUM_SOUND_PITCH) pitch = MINIMUM_SOUND_PITCH;
    if (pitch > MAXIMUM_SOUND_PITCH) pitch = MAXIMUM_SOUND_PITCH;
    return (short_fixed)pitch;
}

void new_sound_variables_from_source(sound_variables *variables, int16_t sound_index,
                                     const world_location3d *location, int32_t pitch, bool full_volume,
                                     uint32_t flags)
{
    memset(variables, 0, sizeof(*variables));
    variables->flags = (uint16_t)flags;
    const sound_definition *definition = get_sound_definition(sound_index);
    if (!definition) return;
    // The pitch is drawn before the volume.
    const int32_t pitch_draw = definition->pitch_delta > 0 ? (int32_t)local_random() * definition->pitch_delta >> 16 : 0;
    variables->original_pitch = clamp_pitch((definition->pitch_lower_bound + pitch_draw) * pitch >> 8);
    const int32_t volume_draw =
        definition->volume_delta > 0 ? (int32_t)local_random() * definition->volume_delta >> 16 : 0;
    variables->original_volume = clamp_volume(definition->volume_lower_bound + volume_draw);
    variables->loudness = definition->loudness;
    if (!location)
    {
        variables->volume = variables->left_volume = variables->right_volume = variables->original_volume;
        variables->pitch = variables->original_pitch;
        variables->bHasSource = false;
        return;
    }
    // Without a listener the request has only its drawn volume.
    variables->volume = variables->left_volume = variables->right_volume = variables->original_volume;
    variables->pitch = variables->original_pitch;
    update_sound_variables(variables, sound_index, location, full_volume);
}

int32_t sound_distance_volume_factor(int16_t loudness, bool obstructed, int32_t distance)
{
    if (loudness < 0 || loudness >= NUMBER_OF_SOUND_LOUDNESSES) loudness = _sound_is_normal;
    const depth_curve_data &curve = obstructed ? sound_loudness_behavior_definitions[loudness].obstructed
                                               : sound_loudness_behavior_definitions[loudness].unobstructed;
    if (distance <= curve.maximum_volume_distance) return curve.maximum_volume;
    if (distance > curve.minimum_volume_distance) return curve.minimum_volume;
    return curve.minimum_volume + (curve.minimum_volume_distance - distance) *
                                      (curve.maximum_volume - curve.minimum_volume) /
                                      (curve.minimum_volume_distance - curve.maximum_volume_distance);
}

static bool source_is_under_media(const world_point3d *point)
{
    if (!mesh_texture_pixel_is_media(point->x >> 6, point->y >> 6)) return false;
    const world_point2d ground{point->x, point->y};
    return point->z < get_mesh_height(&ground, _media_height);
}

// The manager's own stereo: the far ear never drops below a quarter.
static void pan_sound_variables(sound_variables *variables, const world_location3d *listener)
{
    const int32_t volume = variables->volume;
    const world_point3d &source = variables->location.position;
    if (listener->position.x == source.x && listener->position.y == source.y)
    {
        variables->left_volume = variables->right_volume = (short_fixed)volume;
        return;
    }
    const uint32_t a = (uint16_t)(arctangent((world_distance)(listener->position.x - source.x),
                                             (world_distance)(listener->position.y - source.y)) -
                                  listener->yaw);
    const int32_t b = (int32_t)(a >= 16384 && a <= 49152 ? (a - 16384) & 0xFFFF : (16384 - a) & 0xFFFF);
    const int32_t q = volume - (volume >> 2);
    if (b <= 16384)
    {
        variables->right_volume = (short_fixed)volume;
        variables->left_volume = (short_fixed)(volume - (16384 - b) * q / 16384);
    }
    else
    {
        variables->left_volume = (short_fixed)volume;
        variables->right_volume = (short_fixed)(volume - (b - 16384) * q / 16384);
    }
}

void update_sound_variables(sound_variables *variables, int16_t sound_index, const world_location3d *location,
                            bool full_volume)
{
    if (!location)
    {
        variables->bHasSource = false;
        return;
    }
    variables->bHasSource = true;
    const world_location3d *listener = sound_listener();
    const sound_definition *definition = get_sound_definition(sound_index);
    if (!listener || !definition) return;
    variables->loudness = definition->loudness;
    variables->location = *location;
    variables->pitch = variables->original_pitch;
    if (full_volume)
        variables->volume = variables->original_volume;
    else
    {
        const world_point2d a{location->position.x, location->position.y},
            b{listener->position.x, listener->position.y};
        const bool obstructed = !(variables->flags & _play_sound_cannot_be_media_obstructed_flag) &&
                                !(definition->flags & _sound_cannot_be_media_obstructed_flag) &&
                                source_is_under_media(&location->position);
        const int32_t factor = sound_distance_volume_factor(definition->loudness, obstructed, distance2d(&a, &b));
        variables->volume = (short_fixed)(factor * variables->original_volume >> 8);
    }
    variables->left_volume = variables->right_volume = variables->volume;
    if (!g.enable_3D_sound) pan_sound_variables(variables, listener);
}

void sound_channel_update(int32_t channel_index, const sound_variables *variables, bool new_sound)
{
    if (!manager_is_set_up() || channel_index < 0 || channel_index >= TOTAL_NUMBER_OF_SOUND_CHANNELS) return;
    const sound_variables copy = scaled_variables(variables);
    sound_manager.platform_sound.channel_update(channel_index, &copy, new_sound);
    g.sound_channels[channel_index].variables = *variables;
}

void update_sound_volume(void)
{
    if (!manager_is_set_up()) return;
    for (int32_t i = 0; i < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++i)
        if (g.sound_channels[i].sound_index != NONE) sound_channel_update(i, &g.sound_channels[i].variables, false);
}

static void show_volume_popup(int32_t volume, int32_t percentage)
{
    const int32_t list = string_list_tag_to_string_index(INTERNAL_SOUND_VOLUME_STRING_TAG);
    char text[128];
    if (!g.sound_manager_initialized)
        strcpy(text, "(No Sound)");
    else if (volume == 0)
        snprintf(text, sizeof(text), "%s", get_string_from_list(list, _sound_volume_off_string_index));
    else
        // The text is data: only a lone integer conversion is formatted.
        format_checked_line(text, sizeof(text), get_string_from_list(list, _sound_volume_percentage_string_index),
                            "d", percentage);
    set_console_popup(get_string_from_list(list, _sound_volume_title_string_index), text, SOUND_VOLUME_POPUP_TICKS);
}

void continuous_volume_adjustment(bool decrease, bool increase, bool jump)
{
    if (decrease == increase)
    {
        sound_manager.keys_last_active = false;
        return;
    }
    const int32_t sign = decrease ? -1 : 1;
    const uint32_t now = machine_tick_count();
    if (!sound_manager.keys_last_active || sign != sound_manager.keys_last_sign)
    {
        sound_manager.keys_start_ticks = now;
        sound_manager.keys_last_sign = sign;
        sound_manager.keys_last_active = true;
        sound_manager.keys_start_volume = get_sound_preferences()->master_volume;
    }

    int32_t volume, percentage;
    if (jump)
    {
        volume = decrease ? 0 : MAXIMUM_SOUND_VOLUME;
        percentage = decrease ? 0 : 100;
    }
    else
    {
        const double t = (double)(now - sound_manager.keys_start_ticks) / 666.0;
        const double u = t < 1.0 ? t : 1.0;
        int32_t step = (int32_t)std::lround((u * u * 0.5 + (t - u)) * 64.0);
        if (step < 1) step = 1;
        volume = sound_manager.keys_start_volume + sign * step;
        if (volume > MAXIMUM_SOUND_VOLUME) volume = MAXIMUM_SOUND_VOLUME;
        if (volume < 0) volume = 0;
        percentage = volume * 100 >> 8;
        const int32_t start_percentage = sound_manager.keys_start_volume * 100 / 256;
        // A key held must show a change: move on until the percentage moves.
        while (percentage == start_percentage && volume != 0 && volume != MAXIMUM_SOUND_VOLUME)
        {
            volume = clamp_volume(volume + sign);
            percentage = volume * 100 >> 8;
        }
    }
    get_sound_preferences()->master_volume = (int16_t)volume;
    if (game_->state == _game_state_running) show_volume_popup(volume, percentage);
    update_sound_volume();
}

// ---- the per-frame update ------------------------------------------------------------------

const world_location3d *get_sound_listener(void) { return sound_listener(); }

static bool ambient_is_heard(void) { return get_sound_preferences()->flags & _sound_preferences_ambient_flag; }

static void clear_raw_ambient_sound(raw_ambient_sound_data *raw)
{
    memset(raw, 0, sizeof(*raw));
    raw->ambient_sound_index = NONE;
}

static int16_t background_sound_of(int16_t ambient_sound_index)
{
    const ambient_sound_definition *ambient = get_ambient_sound_definition(ambient_sound_index);
    return ambient ? ambient->sound_indexes[_ambient_sound_background_sound] : (int16_t)NONE;
}

// Raises the record's volumes to the background sound's own (drawn at full
// volume) times `volume`, or to full without a background sound.
static void raise_raw_ambient_volumes(raw_ambient_sound_data *raw, const world_point3d *location,
                                      short_fixed volume)
{
    const int16_t background = background_sound_of(raw->ambient_sound_index);
    int32_t v = MAXIMUM_SOUND_VOLUME, left = MAXIMUM_SOUND_VOLUME, right = MAXIMUM_SOUND_VOLUME;
    if (get_sound_definition(background))
    {
        world_location3d place{};
        if (location) place.position = *location;
        sound_variables drawn;
        new_sound_variables_from_source(&drawn, background, location ? &place : nullptr, NORMAL_PITCH, true, 0);
        v = drawn.volume * volume >> 8;
        left = drawn.left_volume * volume >> 8;
        right = drawn.right_volume * volume >> 8;
    }
    sound_variables &variables = raw->variables;
    if (v > variables.volume) variables.volume = (short_fixed)v;
    if (left > variables.left_volume) variables.left_volume = (short_fixed)left;
    if (right > variables.right_volume) variables.right_volume = (short_fixed)right;
}

void report_ambient_sound_source(void *user_data, const world_point3d *location, int16_t ambient_sound_index,
                                 short_fixed volume)
{
    raw_ambient_sound_data *list = (raw_ambient_sound_data *)user_data;
    if (!list || !get_ambient_sound_definition(ambient_sound_index)) return;
    const sound_definition *background = get_sound_definition(background_sound_of(ambient_sound_index));
    const bool mergeable = background && !(background->flags & _sound_can_occupy_multiple_channels_flag);
    for (int32_t i = 0; i < MAXIMUM_RAW_AMBIENT_SOUNDS; ++i)
    {
        raw_ambient_sound_data *raw = &list[i];
        if (raw->ambient_sound_index == NONE)
        {
            clear_raw_ambient_sound(raw);
            raw->ambient_sound_index = ambient_sound_index;
            raw->variables.original_pitch = raw->variables.pitch = NORMAL_PITCH;
            raw->variables.original_volume = volume;
            raw->variables.bHasSource = location != nullptr;
            if (location) raw->variables.location.position = *location;
            if (!background)
            {
                raw->variables.volume = raw->variables.left_volume = raw->variables.right_volume =
                    MAXIMUM_SOUND_VOLUME;
                return;
            }
            raise_raw_ambient_volumes(raw, location, volume);
            return;
        }
        // A merged record keeps where it was first reported.
        if (mergeable && raw->ambient_sound_index == ambient_sound_index)
        {
            raise_raw_ambient_volumes(raw, location, volume);
            return;
        }
    }
}

void report_stereo_ambient_sound_source(raw_ambient_sound_data *record, int16_t ambient_sound_index,
                                        short_fixed volume)
{
    if (!record || !get_ambient_sound_definition(ambient_sound_index)) return;
    if (record->ambient_sound_index == NONE)
    {
        clear_raw_ambient_sound(record);
        record->ambient_sound_index = ambient_sound_index;
        record->variables.original_volume = volume;
        record->variables.original_pitch = record->variables.pitch = NORMAL_PITCH;
    }
    else
    {
        if (record->ambient_sound_index != ambient_sound_index) return;
        const sound_definition *background = get_sound_definition(background_sound_of(ambient_sound_index));
        if (background && (background->flags & _sound_can_occupy_multiple_channels_flag)) return;
    }
    raise_raw_ambient_volumes(record, nullptr, volume);
}

int32_t lowest_priority_ambient_sound(const raw_ambient_sound_data *list, int32_t count)
{
    int32_t lowest = NONE;
    for (int32_t i = 0; i < count; ++i)
    {
        const raw_ambient_sound_data *raw = &list[i];
        if (raw->ambient_sound_index == NONE) continue;
        if (lowest == NONE || raw->variables.loudness < list[lowest].variables.loudness ||
            (raw->variables.loudness == list[lowest].variables.loudness &&
             raw->variables.volume <= list[lowest].variables.volume))
            lowest = i;
    }
    return lowest;
}

// Scales a candidate by its background sound's own volume and takes that
// sound's loudness; false (the candidate is dropped) when nothing is left.
static bool scale_by_background_sound(raw_ambient_sound_data *raw)
{
    const sound_definition *background = get_sound_definition(background_sound_of(raw->ambient_sound_index));
    if (!background) return false;
    sound_variables &variables = raw->variables;
    variables.volume = (short_fixed)(variables.volume * background->volume_lower_bound >> 8);
    if (variables.volume <= 0) return false;
    variables.left_volume = (short_fixed)(variables.left_volume * background->volume_lower_bound >> 8);
    variables.right_volume = (short_fixed)(variables.right_volume * background->volume_lower_bound >> 8);
    variables.loudness = background->loudness;
    return true;
}

// Gives `channel_index` the candidate's background sound as a new sound.
static void claim_ambient_channel(int32_t channel_index, const raw_ambient_sound_data *raw)
{
    const int16_t background = background_sound_of(raw->ambient_sound_index);
    sound_definition *definition = get_sound_definition(background);
    if (!definition) return;
    sound_channel_data *channel = &g.sound_channels[channel_index];
    clear_channel(channel);
    channel->sound_index = background;
    channel->start_tick = (uint32_t)local_now();
    if (!raw->variables.bHasSource) channel->flags |= _sound_channel_has_invalid_source_flag;
    channel->source = raw->variables.location;
    ++definition->reference_count;
    sound_manager.platform_sound.channel_3D(channel_index, raw->variables.bHasSource);
    sound_channel_update(channel_index, &raw->variables, true);
}

// A random one-shot around a candidate, within the ambient's radius and the map.
static void play_ambient_one_shot(const raw_ambient_sound_data *raw, const ambient_sound_definition *ambient)
{
    const int16_t sound_index = ambient->sound_indexes[_ambient_sound_random_sound];
    const int32_t radius =
        ambient->random_sound_radius > 0 ? (int32_t)local_random() * ambient->random_sound_radius >> 16 : 0;
    if (sound_index == NONE || !get_sound_definition(sound_index)) return;
    if (!manager_is_set_up() || g.mute)
    {
        play_sound_with_flags(sound_index, NONE, nullptr, NORMAL_PITCH, 0); // the roll and the subtitle only
        return;
    }
    sound_variables variables;
    world_location3d place{};
    // An ambient heard from nowhere in particular plays its one-shots the same way.
    const bool positional = raw->variables.bHasSource;
    if (positional)
    {
        const angle a = (angle)local_random();
        int32_t x = raw->variables.location.position.x + cosine_rounded(a) * radius / TRIG_MAGNITUDE;
        int32_t y = raw->variables.location.position.y + sine_rounded(a) * radius / TRIG_MAGNITUDE;
        const mesh_header *header = get_mesh_header();
        const int32_t width = header ? header->mesh_width * WORLD_ONE : 0;
        const int32_t height = header ? header->mesh_height * WORLD_ONE : 0;
        x = x < 0 ? 0 : x > width - 1 ? (width > 0 ? width - 1 : 0) : x;
        y = y < 0 ? 0 : y > height - 1 ? (height > 0 ? height - 1 : 0) : y;
        place.position = {x, y, raw->variables.location.position.z};
    }
    new_sound_variables_from_source(&variables, sound_index, positional ? &place : nullptr, NORMAL_PITCH, false, 0);
    const int32_t channel_index = start_sound(sound_index, &variables);
    if (channel_index == NONE) return;
    sound_manager.platform_sound.channel_3D(channel_index, positional);
    sound_channel_data *channel = &g.sound_channels[channel_index];
    channel->source = place;
    channel->source_identifier = NONE;
    channel->dynamic_source_object = NONE;
    channel->dynamic_source_object_identifier = NONE;
    if (!positional) channel->flags |= _sound_channel_has_invalid_source_flag;
}

static void advance_one_shots(const raw_ambient_sound_data *raw, int32_t ticks)
{
    ambient_sound_definition *ambient = get_ambient_sound_definition(raw->ambient_sound_index);
    if (!ambient || ambient->sound_indexes[_ambient_sound_random_sound] == NONE) return;
    const int32_t phase = ambient->phase + ticks;
    ambient->phase = (int16_t)(phase > 0x7FFF ? 0x7FFF : phase);
    if (ambient->phase <= ambient->period) return;
    // A period of 0 is the map's start: the first one-shot waits a full period.
    if (ambient->period != 0) play_ambient_one_shot(raw, ambient);
    ambient->phase = 0;
    ambient->period = (int16_t)(ambient->period_lower_bound +
                                (ambient->period_delta > 0 ? (int32_t)local_random() * ambient->period_delta >> 16 : 0));
}

void update_positional_ambient_sound_sources(int32_t ticks)
{
    raw_ambient_sound_data list[MAXIMUM_RAW_AMBIENT_SOUNDS];
    for (raw_ambient_sound_data &raw : list) clear_raw_ambient_sound(&raw);
    int32_t count = 0;
    report_fire_as_sound_source(list, &count, report_ambient_sound_source);
    if (ambient_is_heard()) report_ambient_sound_sources_proc(list, &count, report_ambient_sound_source);
    if (count == 0)
    {
        free_channel(FIRST_AMBIENT_SOUND_CHANNEL);
        free_channel(FIRST_AMBIENT_SOUND_CHANNEL + 1);
        return;
    }

    int32_t remaining = 0;
    for (raw_ambient_sound_data &raw : list)
    {
        if (raw.ambient_sound_index == NONE) continue;
        advance_one_shots(&raw, ticks);
        if (scale_by_background_sound(&raw))
            ++remaining;
        else
            raw.ambient_sound_index = NONE;
    }
    for (; remaining > NUMBER_OF_AMBIENT_SOUND_CHANNELS; --remaining)
        list[lowest_priority_ambient_sound(list, MAXIMUM_RAW_AMBIENT_SOUNDS)].ambient_sound_index = NONE;

    // Sounds already playing stay on their channel and are not restarted.
    bool given[NUMBER_OF_AMBIENT_SOUND_CHANNELS] = {};
    for (raw_ambient_sound_data &raw : list)
    {
        if (raw.ambient_sound_index == NONE) continue;
        const int16_t background = background_sound_of(raw.ambient_sound_index);
        for (int32_t k = 0; k < NUMBER_OF_AMBIENT_SOUND_CHANNELS; ++k)
        {
            const int32_t channel_index = FIRST_AMBIENT_SOUND_CHANNEL + k;
            if (given[k] || g.sound_channels[channel_index].sound_index != background) continue;
            given[k] = true;
            sound_channel_update(channel_index, &raw.variables, false);
            raw.ambient_sound_index = NONE;
            break;
        }
    }
    for (int32_t k = 0; k < NUMBER_OF_AMBIENT_SOUND_CHANNELS; ++k)
    {
        if (given[k]) continue;
        const int32_t channel_index = FIRST_AMBIENT_SOUND_CHANNEL + k;
        free_channel(channel_index);
        for (raw_ambient_sound_data &raw : list)
        {
            if (raw.ambient_sound_index == NONE) continue;
            claim_ambient_channel(channel_index, &raw);
            raw.ambient_sound_index = NONE;
            break;
        }
    }
    for (int32_t k = 0; k < NUMBER_OF_AMBIENT_SOUND_CHANNELS; ++k)
        update_sound_permutations(FIRST_AMBIENT_SOUND_CHANNEL + k);
}

// The map-wide stereo background on channel 7.
static void update_stereo_background(void)
{
    const bool running = game_->state == _game_state_running;
    raw_ambient_sound_data record;
    clear_raw_ambient_sound(&record);
    int32_t count = 0;
    if (!running || ambient_is_heard())
    {
        if (g.global_ambient_sound_index != NONE)
        {
            report_stereo_ambient_sound_source(&record, g.global_ambient_sound_index, MAXIMUM_SOUND_VOLUME);
            ++count;
        }
        const mesh_header *header = get_mesh_header();
        // The map's own background is usually the one the map start made global: reported once.
        if (sound_listener() && header && header->global_ambient_sound_index != NONE &&
            header->global_ambient_sound_index != g.global_ambient_sound_index)
        {
            report_stereo_ambient_sound_source(&record, header->global_ambient_sound_index, MAXIMUM_SOUND_VOLUME);
            ++count;
        }
    }
    if (count == 0)
    {
        if (running) free_channel(STEREO_SOUND_CHANNEL);
        return;
    }
    if (count > MAXIMUM_STEREO_BACKGROUND_SOUNDS)
        log_message(__FILE__, __LINE__, "%d stereo background sounds at once: only the first plays", (int)count);
    if (record.ambient_sound_index != NONE && !scale_by_background_sound(&record))
        record.ambient_sound_index = NONE;
    const int16_t background =
        record.ambient_sound_index == NONE ? (int16_t)NONE : background_sound_of(record.ambient_sound_index);
    if (background != NONE && g.sound_channels[STEREO_SOUND_CHANNEL].sound_index == background)
        sound_channel_update(STEREO_SOUND_CHANNEL, &record.variables, false);
    else
    {
        free_channel(STEREO_SOUND_CHANNEL);
        if (background != NONE) claim_ambient_channel(STEREO_SOUND_CHANNEL, &record);
    }
    update_sound_permutations(STEREO_SOUND_CHANNEL);
}

void update_sound_manager(int32_t local_ticks)
{
    continuous_volume_adjustment(key_down(_key_f3), key_down(_key_f4), key_down(_key_shift));
    if (!manager_is_set_up()) return;
    const int32_t now = local_now();
    if (now == g.last_update_time) return;
    sound_manager.platform_sound.update(true);

    for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
    {
        sound_channel_data *channel = &g.sound_channels[i];
        if (channel->sound_index == NONE) continue;
        if (sound_manager.platform_sound.channel_state(i) == _sound_channel_idle)
        {
            free_channel(i);
            continue;
        }
        if (channel->flags & _sound_channel_has_invalid_source_flag) continue;
        if (channel->dynamic_source_object != NONE)
        {
            if (const object_data *object =
                    get_object_by_identifier(channel->dynamic_source_object, channel->dynamic_source_object_identifier))
                channel->source = object->location;
            else
                channel->dynamic_source_object = NONE; // gone: the sound finishes where it was last
        }
        sound_variables variables = channel->variables;
        update_sound_variables(&variables, channel->sound_index, &channel->source,
                               variables.flags & _play_sound_full_volume_flag);
        if (variables.volume <= 0)
        {
            free_channel(i);
            continue;
        }
        sound_channel_update(i, &variables, false);
    }

    update_stereo_background();
    update_positional_ambient_sound_sources(local_ticks);
    // The menu's music goes on: when a track ends and nothing else sounds,
    // the next is chosen as the first was (never the same twice running).
    if (sound_manager.menu_music_playing && game_->state != _game_state_running) start_main_menu_music();
    sound_manager.platform_sound.update(false);
    g.last_update_time = now;
}

#undef INTERNAL_SOUND_VOLUME_STRING_TAG
