#pragma once
// The in-game dialogs, the tag dialogs and the preferences dialog joined to
// the layers below them: their members of the front end's table (quit and
// hints dialogs for the status bar, the unit trading rectangle for the view,
// the tag-save dialog for films, the film dialogs' confirmations), the
// preferences state and the map step that closes the in-game dialogs.
//
// Main thread only.

struct front_end_procedures;

// These dialogs' members of the front end's table, the others null; the
// composition root hands them to register_front_end_hooks, which registers
// the table whole.  A static record: never null.
const front_end_procedures *ingame_dialog_front_end_procedures(void);

// Registers the preferences state and the map step.  Called once by
// register_built_subsystems.
void register_ingame_dialog_hooks(void);

// The map step: nothing to set up; the in-game dialogs close with the map.
bool initialize_ingame_dialogs_for_new_map(const struct new_game_data *data);
void dispose_ingame_dialogs_from_old_map(void);
