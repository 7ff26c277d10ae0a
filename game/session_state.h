#pragma once
// What this machine's session is doing, as the main loop keeps it and the
// later subsystems set or read it: a chat display toggle, a mid-game join, a
// saved game being restored, and the texts and decisions that follow from
// them.  All local: none of it goes into the state hash, and simulation code
// never reads it.
//
// Main thread only.

#include <cstddef>

#include "cseries/cseries.h"

enum
{
    // Bytes get_time_remaining_string may write, terminator included.
    TIME_REMAINING_STRING_SIZE = 64,
};

// True while the console shows its backlog instead of the recent lines; the
// input layer's chat-display key toggles it.  False at start-up.
extern bool display_chat;
// Flips display_chat; returns its new value.
bool toggle_display_chat(void);

// True while the local player joins a network game in progress: the network
// layer sets it when the join begins (and then sends none of the local
// player's commands) and clears it when the add-player command naming the
// local player executes.  False at start-up.
extern bool joining_mid_game;

// True while a saved game is replayed up to its save point (the film layer
// sets it when the restore begins and clears it when the replay is over).
bool restoring_from_saved_game(void);
void set_restoring_from_saved_game(bool restoring);

// True when cutscenes are not to be played now: in a network game without
// _game_option_netgame_cutscenes_flag, while a saved game is restored, and
// while joining a game in progress.
bool prevent_cutscenes_from_playing(void);

// ---- the remaining time of a mid-game join ---------------------------------------

// Networking writes the text (`get_time_remaining_string` of its table,
// networking_procedures.h); until it does, the text is "".

// The remaining time of the join as text, into `buffer` of at least
// TIME_REMAINING_STRING_SIZE bytes; empty until the network layer registers.
// Returns `buffer`.
char *get_time_remaining_string(char *buffer);
