#pragma once
// Gameplay plug-ins in a game's parameters.  A gameplay plug-in (tag file
// type 128) carries a gameplay version in its version word; the host's chosen
// rules travel to peers and films as those plug-ins in the encoded plug-in
// list, where decoding turns them into the highest gameplay version and keeps
// them out of the list of plug-ins to open.

#include "cseries/cseries.h"

struct new_game_parameter_data;

// Adds to the parameters' encoded plug-in list every installed gameplay
// plug-in whose version word is the gameplay version `gameplay_selector_value`
// selects (get_gameplay_selector_settings), after the plug-ins already listed;
// `plugin_count` follows.  False (logged), with the parameters untouched, when
// the list does not decode (a listed plug-in is not installed) or the result
// would not fit; true also when there was nothing to add.
bool add_encoded_gameplay_plugins(new_game_parameter_data *parameters, int32_t gameplay_selector_value);

// Removes every gameplay plug-in from the parameters' encoded plug-in list,
// keeping the others in order; `plugin_count` follows.  False (logged), with
// the parameters untouched, when the list does not decode.
bool remove_encoded_gameplay_plugins(new_game_parameter_data *parameters);
