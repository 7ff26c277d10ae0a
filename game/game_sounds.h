#pragma once
// Game sounds: the fixed set of interface and announcer sounds the game plays
// on the local machine only (never through the simulation).  Each has a sound
// tag in a table; the sound subsystem registers the procedure that plays a
// tag, and until it does queue_game_sound only counts the request.

#include "cseries/cseries.h"

enum game_sound
{
    _game_sound_victory = 0,
    _game_sound_defeat,
    _game_sound_game_over,
    _game_sound_time_running_out,
    _game_sound_flag_captured,
    _game_sound_flag_lost,
    _game_sound_team_eliminated,
    _game_sound_player_dropped,
    _game_sound_player_joined,
    _game_sound_chat_received,
    _game_sound_ally_formed,
    _game_sound_ally_broken,
    _game_sound_goal_reached,
    _game_sound_objective_complete,
    _game_sound_objective_failed,
    _game_sound_reinforcements,
    _game_sound_unit_promoted,
    _game_sound_autosave,
    _game_sound_button_click,
    _game_sound_units_detached = 19,
    _game_sound_new_units_received = 20,
    NUMBER_OF_GAME_SOUNDS
};


// Once at start-up.
void initialize_game_sounds(void);

// The sound tag of a game sound, NONE for one out of range.
tag get_game_sound_tag(int16_t sound);

// Plays a game sound locally.  A sound out of range is ignored (logged).
// Draws no random number: it may be called from inside the tick.
void queue_game_sound(int16_t sound);

// Requests made since start-up (tests, and the count while no sound plays).
int32_t get_game_sound_request_count(int16_t sound);
