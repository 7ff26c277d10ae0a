#pragma once
// The automatic host's playlist dialog: add, edit, delete and reorder the
// prepared games, and pick the one to start.
//
// Main thread only.

#include <cstdint>

struct net_game_description;

// True when the player started (or accepted) a game: the chosen entry is
// then copied into `description` and becomes the game being hosted.
// `called_from` goes on to the game parameters dialog; 1 titles the start
// button "OK", anything else "Start".
bool open_autohost_dialog(net_game_description *description, int16_t called_from);
