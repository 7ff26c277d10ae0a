#pragma once
// The in-game quit dialog ('qudi'): opened over a running game by the status
// bar's quit button, it pauses the game and offers, by game type, to quit,
// resume, restore the last saved game, restart the level, save, or continue a
// saved game; in a network game the host may rehost or restart the game for
// everybody.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct action_data;
struct dialog_data;

#define QUIT_DIALOG_TAG FOUR_CHARACTER_CODE('q', 'u', 'd', 'i')
#define QUIT_DIALOG_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'p')

enum quit_dialog_item
{
    _quit_dialog_quit_item = 1,
    _quit_dialog_resume_item = 2,
    _quit_dialog_restore_item = 3, // network: rehost
    _quit_dialog_restart_item = 4,
    _quit_dialog_save_item = 5,
    _quit_dialog_originator_information_item = 6,
    _quit_dialog_continue_item = 7,
    _quit_dialog_joiner_information_item = 8,
    _quit_dialog_picture_item = 9,
};

// The items shown per game type (bit n: item n); a type with every bit set
// (the demo behind the main menu) never opens the dialog.
uint32_t quit_dialog_available_item_flags(int16_t game_type);

// Opens the dialog and pauses the game.  False (nothing opened) when another
// in-game dialog is open, the game type offers no dialog, or the tag is
// missing.  True when it opened or was open already.
bool open_quit_dialog(void);
// Closes it: the status bar's quit button is released when it is still
// pressed, the game resumes.  Nothing when closed.
void close_quit_dialog(void);
// Closes it without touching the status bar (the bar is going away).
void dispose_quit_dialog(void);
bool quit_dialog_is_open(void);
dialog_data *get_quit_dialog(void);

// Whether this machine may rehost or restart the network game: it is the
// originator, the game is networked and not over, and the gameplay version is
// above 1720.
bool can_restart_or_rehost(void);

void quit_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);

// The status bar's procedure (front_end_procedures.h): open, close, is open.
bool quit_dialog_verb(int16_t verb, bool local_game);
