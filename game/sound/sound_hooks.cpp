// The sound subsystem's registrations.  See sound_hooks.h.

#include "sound_hooks.h"

#include <cstdlib>

#include "fire.h"
#include "main_menu.h"
#include "game_hooks.h"
#include "mesh.h"
#include "objects.h"
#include "observer.h"
#include "session_state.h"
#include "sound_definitions.h"
#include "sound_manager.h"
#include "sound_procedures.h"
#include "sound_vesk.h"
#include "vesk.h"

#define FIRE_AMBIENT_SOUND_TAG FOUR_CHARACTER_CODE('a', 'm', 'f', 'i')

enum
{
    NORMAL_SOUND_PITCH = 256,
};

static bool startup_sound_lists(void) { return initialize_sound_definitions() && initialize_sound_vesk(); }

static bool empty_sound_stores(const new_game_data *)
{
    // Channels made between maps (the menu's, or a reboot's from the
    // preferences) hold sounds of the store emptied here: a map begins by
    // giving them up, so that it makes the one set there is.
    dispose_sound_manager_from_old_map();
    initialize_sound_definitions_for_new_map();
    initialize_sound_vesk_for_new_map();
    return true;
}

static void dispose_sound_stores(void)
{
    dispose_sound_vesk_from_old_map();
    dispose_sound_definitions_from_old_map();
}

// A missing output is no failure: the game runs silent.  A headless run
// (films checked, traces made) has nobody to hear it and opens no output.
static bool startup_sound_manager(void)
{
    if (!vesk_is_headless()) initialize_sound_manager();
    std::atexit(dispose_sound_manager);
    return true;
}

// After the mesh: the channels, the map's reverb and its global ambient sound.
static bool initialize_map_sound(const new_game_data *)
{
    initialize_sound_manager_for_new_map();
    // A mid-game join replays the game from its start at full speed: silent
    // until the add-player command makes the joiner a player.
    if (joining_mid_game) sound_mute(true);
    initialize_sound_mesh_parameters_for_new_map();
    // Only heard sound needs it: a silent or headless run loads no ambient sound.
    mesh_header *header = get_mesh_header();
    if (header && get_sound_manager_globals()->sound_manager_initialized)
    {
        header->global_ambient_sound_index =
            header->global_ambient_sound_tag == 0 || header->global_ambient_sound_tag == (tag)NONE
                ? (int16_t)NONE
                : (int16_t)try_definition_tag_to_index(&ambient_sound_definitions, header->global_ambient_sound_tag,
                                                       true, _definition_lookup_quiet_flag);
        set_global_ambient_sound_index(header->global_ambient_sound_index);
    }
    return true;
}

static void play_object_sound(int32_t object_index, int16_t sound_index)
{
    const object_data *object = get_object(object_index);
    if (!object) return;
    play_sound_with_flags(sound_index, (int16_t)object_index, &object->location, NORMAL_SOUND_PITCH, 0);
}

static void play_local_sound(tag sound_tag)
{
    // A program without sound (a tool) has no sound definitions to look in.
    if (sound_tag == (tag)NONE || !definition_group_is_set_up(SOUND_DEFINITION_GROUP_TAG)) return;
    const int32_t sound_index =
        try_definition_tag_to_index(&sound_definitions, sound_tag, true, _definition_lookup_quiet_flag);
    if (sound_index != NONE) play_sound_with_flags((int16_t)sound_index, NONE, nullptr, NORMAL_SOUND_PITCH, 0);
}

static void play_sound_at_location(int16_t sound_index, const world_point3d *location)
{
    world_location3d place{};
    place.position = *location;
    play_sound_with_flags(sound_index, NONE, &place, NORMAL_SOUND_PITCH, _play_sound_static_source_flag);
}

static void play_projectile_sound(int16_t sound_index, int32_t object_index, const world_point3d *location,
                                  short_fixed pitch, uint16_t flags)
{
    world_location3d place{};
    if (const object_data *object = get_object(object_index))
        place = object->location;
    else if (location)
        place.position = *location;
    else
        return;
    play_sound_with_flags(sound_index, (int16_t)object_index, &place, pitch, flags);
}

static bool get_fire_sound_parameters(fire_sound_parameters *parameters)
{
    const world_location3d *listener = sound_listener_proc();
    if (!listener) return false;
    const int32_t ambient = try_definition_tag_to_index(&ambient_sound_definitions, FIRE_AMBIENT_SOUND_TAG, true,
                                                        _definition_lookup_quiet_flag);
    const ambient_sound_definition *definition = get_ambient_sound_definition(ambient);
    if (!definition) return false;
    parameters->listener = listener->position;
    parameters->ambient_sound_index = (int16_t)ambient;
    parameters->near_distance = definition->inner_radius;
    parameters->far_distance = definition->outer_radius;
    return true;
}

// An object is being deleted: its sounds that stop with it stop, the rest
// finish where it was last.
static void orphan_object_sounds(int32_t object_index)
{
    if (object_index >= 0 && object_index <= INT16_MAX) orphan_sounds((int16_t)object_index);
}

void play_menu_music(void)
{
    const sound_manager_globals *globals = get_sound_manager_globals();
    if (globals->sound_manager_initialized && !globals->initialized)
    {
        // The tracks load into the sound group, which is a map's: between
        // maps the menu sets it up (the next map's start empties it again).
        if (sound_definitions.registered && sound_definitions.count == NONE) initialize_sound_definitions_for_new_map();
        initialize_sound_manager_for_new_map();
    }
    start_main_menu_music();
}

// Entering the menu.  Its channels stay when it is left (for the preferences
// dialog, whose box starts and stops the music); the next map gives them up.
static void start_menu_music(void)
{
    if (get_sound_preferences()->flags & _sound_preferences_disable_menu_music_flag) return;
    play_menu_music();
}

static const sound_procedures sound_manager_procedures = {
    play_object_sound,
    play_local_sound,
    play_sound_at_location,
    play_projectile_sound,
    play_sound_with_flags,
    adjust_ambient_sound_source_volume,
    get_fire_sound_parameters,
    update_sound_manager,
    orphan_object_sounds,
    start_menu_music,
    stop_main_menu_music,
};

void register_sound_hooks(void)
{
    register_startup_procedure(_startup_sound_manager, startup_sound_manager);
    register_startup_procedure(_startup_sound_lists, startup_sound_lists);
    register_map_store_procedures(_startup_sound_lists, empty_sound_stores, dispose_sound_stores);
    register_map_procedures(_map_sound, initialize_map_sound, dispose_sound_manager_from_old_map);
    register_sound_definition_preloading();
    register_sound_procedures(&sound_manager_procedures);
    static const marker_type_procedures sound_sources = {new_sound_source_palette_entry, new_sound_source};
    register_marker_type_procedures(_marker_sound_source, &sound_sources);
}

#undef FIRE_AMBIENT_SOUND_TAG
