#pragma once
// The in-game dialogs, the tag dialogs and the preferences dialog joined to
// the layers below them: the front end's table members (quit and hints
// dialogs for the status bar, the unit trading rectangle for the view, the
// tag-save dialog for films, the film dialogs' confirmations), the
// preferences state and the map step that closes the in-game dialogs.
//
// Main thread only.

// Registers everything above.  Called once by register_built_subsystems.
void register_ingame_dialog_hooks(void);

// The map step: nothing to set up; the in-game dialogs close with the map.
bool initialize_ingame_dialogs_for_new_map(const struct new_game_data *data);
void dispose_ingame_dialogs_from_old_map(void);
