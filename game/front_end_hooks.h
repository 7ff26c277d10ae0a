#pragma once
// The front-end dialogs joined to the layers below them: the front end's
// table of procedures (map loading progress, the end of a game), the
// pending-error report, the main menu's Films and Load Game, the saved-game
// restore's progress and the post-game control types; the plug-in components'
// start-up step and the new-game state.
//
// Main thread only.

#include <cstdint>

struct front_end_procedures;

// Registers everything above.  The front end's table is registered whole:
// the members the dialogs of later libraries give in `later_dialogs` (null:
// none) joined to this library's own.  The table is left alone (logged) when
// a test or tool registered its own first.  Called once by
// register_built_subsystems.
void register_front_end_hooks(const front_end_procedures *later_dialogs);

// The main menu's Films: the film manager, then the chosen film is played.
void main_menu_films(void);
// The main menu's Load Game: the load dialog, then the chosen saved game is
// continued (its replay to the save point shows the restoring progress).
void main_menu_load_game(void);

// The map loading progress as the core reports it: `step` of `step_count`
// map steps done.  The first step opens the dialog, the last closes it.
void map_loading_progress(int32_t step, int32_t step_count);

// The end of a game: a single-player game on a screen shows its carnage
// report over the paused game and, when that closes, asks for the state that
// follows the game; any other game (or a headless run) asks at once.
void front_end_game_over(void);
