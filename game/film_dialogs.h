#pragma once
// The load and save dialogs and the film manager.
//
// Each dialog is built from its dialog tag and run modally; only the item
// numbers below are fixed, layout and art come from the interface data.  The
// confirmations (delete, rename, replace) belong to the front end and arrive
// through registration points: until it registers, a deletion or rename is
// refused with a log line and an existing name is not replaced.  Main thread
// only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "saved_games.h"

struct dialog_data;
struct new_game_data;

#define LOAD_GAME_DIALOG_TAG FOUR_CHARACTER_CODE('o', 'p', 's', 'g')
#define LOAD_GAME_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', '#', '1')
#define SAVE_GAME_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'a', 'g', 'd')
#define SAVE_GAME_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'g')
#define REPLAY_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'e', 'r', 'd')
#define REPLAY_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'v', 's')

enum // the load dialog 'opsg'
{
    _load_game_ok_item = 1,
    _load_game_cancel_item = 2,
    _load_game_list_item = 4,
    _load_game_snapshot_item = 5,
    _load_game_delete_item = 6,
    _load_game_date_item = 7, // made by the dialog 8 pixels below the snapshot
    _load_game_map_item = 8,  // the chosen game's map, made by the dialog 4 pixels below the date
    LOAD_GAME_DATE_GAP = 8,
    LOAD_GAME_DATE_HEIGHT = 16,
    LOAD_GAME_DATE_WIDTH = 160,
    LOAD_GAME_MAP_GAP = 4,
};

enum // the save dialog 'sagd'
{
    _save_game_ok_item = 1,
    _save_game_cancel_item = 2,
    _save_game_name_item = 3,
    _save_game_list_item = 4,
    _save_game_snapshot_item = 6,
    SAVE_GAME_NAME_LENGTH = 32, // characters the name field takes
};

enum // the film manager 'serd'
{
    _replay_play_item = 1,
    _replay_done_item = 2,
    _replay_list_item = 3,
    _replay_description_item = 5,
    _replay_players_item = 6,
    _replay_save_last_item = 7,
    _replay_delete_item = 8,
    _replay_play_last_item = 9,
    _replay_rename_item = 13,
    BEGIN_REPLAY_BUTTON_NAME_SIZE = 64,
};

// The saved games listed by the load dialog: the chosen tag's index, or NONE
// when cancelled or when the dialog cannot open.
int32_t select_game_to_load_dialog(void);

// The save dialog: asks for a name (prefilled with `default_name`) and shows
// the snapshot (width x height pixels, 16-bit, or 32-bit for encoding 3; none
// when `snapshot` is NULL).  OK with a name that already names a saved game
// asks whether to replace it (the new tag of that name takes the old one's
// place when the caller makes it); on no the dialog stays.  Chosen with the
// name in `name` (at most `name_size` - 1 characters), cancelled, or failed
// when the dialog cannot open.  The saved-game module creates the tag.
saved_game_name_result save_game_dialog(const char *default_name, const void *snapshot, int16_t width,
                                        int16_t height, int16_t encoding, char *name, size_t name_size);

// The film manager: true when a replay was started (into `data`).
bool replay_manager(new_game_data *data);
// Enables, names and fills the film manager's items for the selected film.
void setup_replay_dialog_to_match_header(dialog_data *dialog);
// The label item 1 had when the film manager last opened ("" before).
const char *get_begin_replay_button_name(void);

// ---- registration points ----------------------------------------------------------

// The confirmations of deleting and replacing and the rename dialog are the
// front end's (front_end_procedures.h); until it fills them, nothing is
// deleted, renamed or replaced (each logged).

// Joins the film dialogs to the core.
void register_film_dialog_hooks(void);
// Test support: forgets the remembered row and the button name.
void reset_film_dialogs(void);
