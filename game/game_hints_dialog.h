#pragma once
// The in-game hints dialog ('gati'): the game's tips, the level's tips and
// the mission objectives, opened by the status bar's help button; it pauses
// the game while open.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct action_data;
struct dialog_data;

#define GAME_HINTS_DIALOG_TAG FOUR_CHARACTER_CODE('g', 'a', 't', 'i')
#define GAME_HINTS_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'h')
#define GAME_TIPS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 't')

enum game_hints_item
{
    _game_hints_done_item = 1,
    _game_hints_show_objectives_item = 2, // the box: the objectives dialog is shown
    _game_hints_tip_text_item = 3,
    _game_hints_objectives_list_item = 4,
    _game_hints_next_tip_item = 5, // with Shift held: the previous tip
    _game_hints_tabs_item = 6,     // tab 0 the game's tips, tab 1 the level's
    _game_hints_tip_number_item = 7,
};

// Opens the dialog, pausing the game when `pause`.  False (nothing opened)
// when another in-game dialog is open, the map is a training map, the console
// takes input, or the tag is missing.  True when open.
bool open_game_hints_dialog(bool pause);
// Closes it and resumes the game when it paused it.  Nothing when closed.
void close_game_hints_dialog(void);
bool game_hints_dialog_is_open(void);
dialog_data *get_game_hints_dialog(void);

void game_hints_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);

// The tip after (or, `backward`, before) `index` among `count`, wrapping
// around; 0 when there are none.
int32_t step_game_tip_index(int32_t index, int32_t count, bool backward);

// The status bar's procedure (front_end_procedures.h): open, close, is open.
bool game_hints_dialog_verb(int16_t verb, bool local_game);
