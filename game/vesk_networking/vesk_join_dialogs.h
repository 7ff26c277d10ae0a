#pragma once
// The two dialogs a player meets when a network game or a film cannot be
// played here: the join-failed message ('jogf') and the list of the plug-ins
// that are missing, each with its look-up button ('srsw' with an 'mpll'
// list).
//
// Main thread only.

#include <cstdint>

struct net_game_description;
struct missing_plugin_info;

#define JOIN_GAME_FAILED_DIALOG_TAG FOUR_CHARACTER_CODE('j', 'o', 'g', 'f')
#define JOIN_GAME_FAILED_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'j', 'g')
#define MISSING_PLUGINS_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'r', 's', 'w')

enum
{
    _join_failed_ok_item = 1,
    _join_failed_message_item = 2,
    _missing_plugins_ok_item = 1,
    _missing_plugins_list_item = 5,
    MISSING_PLUGINS_LIST_HEIGHT = 204,
    JOIN_FAILED_MESSAGE_SIZE = 1024,
};

// Tells the player why the game cannot be joined.  With a description whose
// plug-ins are not all installed, the missing-plug-ins dialog is shown
// instead (or, when one is open, its list replaced: true); its answer is
// returned.  Otherwise the message (replaced by the reason the description
// fails, when it gives one) waits for OK: false.  False (logged) when no
// dialog can be shown.
bool do_join_game_failed_dialog(const char *message, const net_game_description *description);

// Lists `count` missing plug-ins with their look-up buttons until the player
// presses OK (false) or a playable description closes it (true).  False
// (logged) when no dialog can be shown.
bool open_missing_plugins_dialog(const missing_plugin_info *missing, int32_t count);

// Whether the missing-plug-ins dialog is open; closing it makes it answer true.
bool missing_plugins_dialog_is_open(void);
void close_missing_plugins_dialog(void);

// The networking table's member: the film that needs `missing` offers them.
void offer_missing_plugins(const missing_plugin_info *missing, int32_t count, int16_t mode);
