// The sound subsystem's registrations.  See sound_hooks.h.

#include "sound_hooks.h"

#include "game_hooks.h"
#include "sound_definitions.h"

static bool startup_sound_lists(void) { return initialize_sound_definitions(); }

static bool empty_sound_stores(const new_game_data *)
{
    initialize_sound_definitions_for_new_map();
    return true;
}

static void dispose_sound_stores(void) { dispose_sound_definitions_from_old_map(); }

void register_sound_hooks(void)
{
    register_startup_procedure(_startup_sound_lists, startup_sound_lists);
    register_map_store_procedures(_startup_sound_lists, empty_sound_stores, dispose_sound_stores);
    register_sound_definition_preloading();
}
