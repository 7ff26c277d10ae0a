// The front-end dialogs' registrations.
#include "front_end_hooks.h"

#include "game_hooks.h"
#include "new_game_dialog.h"
#include "plugin_components.h"

// The plug-in components and the new-game state.
static void register_new_game_hooks(void)
{
    register_startup_procedure(_startup_plugin_component_preferences, initialize_plugin_component_preferences);
    register_game_state_procedures(_game_state_new_game, enter_new_game_state, nullptr);
}

void register_front_end_hooks(void)
{
    register_new_game_hooks();
}
