#pragma once
// The automatic host's playlist dialog ('srsw' over 'insh'): add, edit,
// delete and reorder the prepared games, and pick the one to start.  Every
// change is stored when the dialog closes, by start or by cancel.
//
// Main thread only.

#include <cstdint>

struct net_game_description;

#define AUTOHOST_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'r', 's', 'w')
#define AUTOHOST_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'h')

enum autohost_dialog_item
{
    _autohost_start_item = 1,
    _autohost_cancel_item = 2,
    _autohost_list_item = 3,
    _autohost_title_item = 4,
    _autohost_lobby_address_item = 5,       // the lobby's, hidden here
    _autohost_lobby_address_label_item = 6, // the lobby's, hidden here
    // Made by the dialog itself, below the list.
    _autohost_edit_item = 10,
    _autohost_add_item = 11,
    _autohost_delete_item = 12,
    _autohost_move_item = 13,
};

// True when the player started (or accepted) a game: the chosen entry is
// then copied into `description` and becomes the game being hosted.
// `called_from` goes on to the game parameters dialog; 1 titles the start
// button "OK", anything else "Start".  False at once when the dialog or the
// playlist cannot be read.
bool open_autohost_dialog(net_game_description *description, int16_t called_from);
