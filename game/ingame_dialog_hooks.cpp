// The in-game, tag and preferences dialogs joined to the layers below them.

#include "ingame_dialog_hooks.h"

#include "bitmap_tag_interface.h"
#include "front_end_procedures.h"
#include "game_hints_dialog.h"
#include "game_hooks.h"
#include "preferences_ui.h"
#include "quit_dialog.h"
#include "unit_trading_dialog.h"

bool initialize_ingame_dialogs_for_new_map(const new_game_data *) { return true; }

void dispose_ingame_dialogs_from_old_map(void)
{
    dispose_quit_dialog();
    close_game_hints_dialog();
    dispose_unit_trading_dialog();
}

const front_end_procedures *ingame_dialog_front_end_procedures(void)
{
    static const front_end_procedures procedures = {
        .unit_trading_dialog_visible = unit_trading_dialog_visible,
        .quit_dialog = quit_dialog_verb,
        .game_hints_dialog = game_hints_dialog_verb,
        .tag_save_dialog = save_tag_from_dialog,
        .sure_you_want_to_delete = confirm_tag_deletion,
        .rename_tag = rename_tag_from_dialog,
        .unique_name_or_desires_replacement = unique_name_or_desires_replacement,
    };
    return &procedures;
}

void register_ingame_dialog_hooks(void)
{
    register_game_state_procedures(_game_state_preferences, enter_preferences_state, nullptr);
    register_map_procedures(_map_ingame_dialogs, initialize_ingame_dialogs_for_new_map,
                            dispose_ingame_dialogs_from_old_map);
}
