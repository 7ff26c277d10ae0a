#pragma once
// The host's game parameters dialog ('!ngp'): map, map set, plug-ins,
// difficulty, scoring, time limits, player and team limits, options, name
// and password of a network game, edited with a live preview.  The new-game
// dialog's engine runs its map, map set, plug-in, difficulty and gameplay
// version controls in network mode.
//
// Main thread only.

#include <cstdint>

struct net_game_description;

// True when the player accepted: `description` then holds the new game;
// false when cancelled (it is left as it was).  `called_from` goes to the
// engine with every item hit; with `use_prefs` the parameters start from the
// player's saved multiplayer settings and are saved back there on accept.
bool netgame_parameters_dialog(net_game_description *description, int16_t called_from, bool continuation,
                               bool use_prefs);
