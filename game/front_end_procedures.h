#pragma once
// What the game core, the films and saved games, the main menu, the renderer,
// the status bar and the film dialogs ask of the front end's dialogs, in one table that the front end
// registers whole (`register_front_end_procedures`).  This header is the front
// end's one face to the layers below it.
//
// Every member may be null, and each is until the front end's dialogs register their
// table; each caller then does what its member's comment says, which is what
// the program does without those dialogs.  Dialogs are interface: no member
// may change the synchronized game.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "point2d.h"

// The verbs of the quit dialog and the game hints dialog.
enum ingame_dialog_verb
{
    _ingame_dialog_open = 0,
    _ingame_dialog_close = 1,
    _ingame_dialog_is_open = 2, // the answer: whether it is open
};

struct front_end_procedures
{
    // The progress dialog: `step` of `step_count` map steps done, reported by
    // initialize_vesk_for_new_map after each step.  Null: nothing is shown.
    void (*map_loading_progress)(int32_t step, int32_t step_count);
    // When a game's ending countdown runs out (after _game_is_over_flag is
    // set).  Null: the state that follows a game of its type is asked for
    // (epilogue for single player, post-game for network games, main menu for
    // films and the demo).
    void (*game_over)(void);
    // The unit trading dialog's screen rectangle while it is shown (true).
    // Null: never shown, so the view's hole starts at the top of the screen.
    bool (*unit_trading_dialog_visible)(rectangle2d *bounds);
    // The status bar's quit dialog and game hints dialog, each answering an
    // `ingame_dialog_verb` (`local_game`: the game is a single-player one, for
    // the hints dialog's opening).  Null: the button opens nothing and the
    // dialog never counts as open.
    bool (*quit_dialog)(int16_t verb, bool local_game);
    bool (*game_hints_dialog)(int16_t verb, bool local_game);
    // The standard tag-save dialog: asks for a name (default `default_name`)
    // and creates a tag of `group` with tag version `version`; its index, or
    // NONE when cancelled.  Null: save_last_replay saves nothing (false).
    int32_t (*tag_save_dialog)(const char *prompt, tag group, const char *default_name, int16_t version,
                               const char *replaced_name);
    // The film dialogs' confirmations.  Whether the tag may be deleted (null:
    // nothing is deleted, logged); asks for a new name and renames the tag,
    // true when it did (null: nothing is renamed, logged); whether an existing
    // tag of that name may be replaced (null: a saved game is not replaced,
    // logged, and the save dialog stays).
    bool (*sure_you_want_to_delete)(int32_t tag_index);
    bool (*rename_tag)(int32_t *tag_index);
    bool (*unique_name_or_desires_replacement)(tag group, const char *name);
    // Shows the frame's pending error (`code`, `text`): a console line in a
    // game, a message box outside one.  Null: the error was logged only.
    void (*report_pending_error)(int32_t code, const char *text);
    // The dialogs the main menu opens over itself: the film manager (Films)
    // and the load dialog (Load Game).  Each runs its dialog and starts what
    // the player chose; the menu stays when nothing was.  Null (a program
    // without the front end): the press only says that the dialog is missing.
    void (*main_menu_films)(void);
    void (*main_menu_load_game)(void);
    // The progress of a continued saved game's replay up to its save point:
    // `event` a restore_progress_event of saved_games.h (open, one step of
    // `steps`, close).  Null: nothing is shown.
    void (*restore_progress)(int16_t event, int32_t steps);
};

// The front end's table, kept by pointer (a static record).  Refused
// (assertion, the first kept) for null or when a table is registered already.
bool register_front_end_procedures(const front_end_procedures *procedures);

// Whether a table is registered (a test or tool may register its own first).
bool front_end_procedures_registered(void);

// The registered table; never null: until one is registered, every member is null.
const front_end_procedures *get_front_end_procedures(void);
