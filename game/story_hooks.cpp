// The story of a campaign joined to the game core.

#include "story_hooks.h"

#include "cutscenes.h"
#include "game_hooks.h"
#include "game_states.h"
#include "sound/sound_preferences.h"
#include "story_dialogs.h"
#include "unit_trading_dialog.h"

// The intro movie, unless the player turned movies off; then the main menu.
static void enter_intro_state(void)
{
    const sound_preferences *preferences = get_sound_preferences();
    if (!preferences || !(preferences->flags & _sound_preferences_no_cutscenes_flag))
        display_cutscene(INTRO_CUTSCENE_NAME, false);
    if (!game_state_change_pending(nullptr)) set_game_state(_game_state_displaying_main_menu);
}

// A game that starts in its planning time offers its captain the trading.
static void enter_running_state(void)
{
    enter_running_state_for_story();
    open_unit_trading_dialog();
}

void register_story_hooks(void)
{
    register_startup_procedure(_startup_cutscenes, initialize_cutscenes);
    register_game_state_procedures(_game_state_displaying_intro_sequence, enter_intro_state, nullptr);
    register_game_state_procedures(_game_state_displaying_mesh_prologue, enter_prologue_state, nullptr);
    register_game_state_procedures(_game_state_displaying_mesh_epilogue, enter_epilogue_state, nullptr);
    register_game_state_procedures(_game_state_running, enter_running_state, leave_running_state_for_story);
}
