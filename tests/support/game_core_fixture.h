#pragma once
// Scaffolding for tests of the game core: an empty core, a started test game,
// and a trace that recording hooks append to.

#include <string>
#include <vector>

#include "game_records.h"

// Empties every hook, forgets any map and pending state, resets the game
// record, the state hash procedures and the pending error, and silences
// message boxes.
void reset_game_core(void);

// The default set-up of a game of `type` on map 'test' under
// `gameplay_version`, seeded with `seed`, with `player_count` human players
// (player 0 local when there is one).
new_game_data make_test_game_data(int16_t type, int32_t gameplay_version, uint32_t seed, int16_t player_count = 1);

// Starts a map from make_test_game_data.  A film (type 0) runs under the
// version given, as the film reader would set it.
bool start_test_game(int16_t type, int32_t gameplay_version, uint32_t seed);

// The names the recording hooks wrote, in call order.
extern std::vector<std::string> game_core_trace;
