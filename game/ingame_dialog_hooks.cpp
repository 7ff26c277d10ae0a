// The in-game, tag and preferences dialogs joined to the layers below them.

#include "ingame_dialog_hooks.h"

#include "bitmap_tag_interface.h"
#include "front_end_hooks.h"
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

void register_ingame_dialog_hooks(void)
{
    // The front end's table is kept by pointer: these members are read from
    // the next call on, whether it was registered before or after.
    front_end_procedures *table = front_end_procedures_to_fill();
    table->quit_dialog = quit_dialog_verb;
    table->game_hints_dialog = game_hints_dialog_verb;
    table->unit_trading_dialog_visible = unit_trading_dialog_visible;
    table->tag_save_dialog = save_tag_from_dialog;
    table->sure_you_want_to_delete = confirm_tag_deletion;
    table->rename_tag = rename_tag_from_dialog;
    table->unique_name_or_desires_replacement = unique_name_or_desires_replacement;
    register_game_state_procedures(_game_state_preferences, enter_preferences_state, nullptr);
    register_map_procedures(_map_ingame_dialogs, initialize_ingame_dialogs_for_new_map,
                            dispose_ingame_dialogs_from_old_map);
}
