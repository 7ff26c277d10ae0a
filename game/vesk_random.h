#pragma once
// The two random generators.  Both are the linear congruential generator
// seed = seed * 1664525 + 1013904223 (32-bit) returning the upper 16 bits of
// the new seed, on separate seeds.
//
// `vesk_random` is synchronized: every machine in a game and every replay of
// its film draws the same values in the same order, so it may only be drawn
// by simulation code, inside the tick, in a stated order.  `local_random` is
// for what only this machine sees or hears (effects, sounds, camera) and never
// touches the synchronized seed.

#include "cseries/cseries.h"

// The next synchronized value, 0..65535; advances the seed.
uint16_t vesk_random(void);

// The next local value, 0..65535; advances only the local seed.
uint16_t local_random(void);

// Draws exactly one vesk_random value r.  While current_gameplay_version is at
// most `version_threshold`: r <= fraction.  Above it: fraction > r, or true
// when the fraction exceeds 65534 and the version is above 1805 (so a certain
// event stays certain).
bool vesk_random_frequency_corrected(int32_t fraction, int32_t version_threshold);

// The synchronized seed (it goes into the state hash and the sync snapshots),
// readable by name as the later subsystems read it (".seeds" prints it); only
// set_random_seed changes it.
extern const uint32_t &random_seed;
uint32_t get_random_seed(void);
// Sets the synchronized seed (map start, films, tests).
void set_random_seed(uint32_t seed);

// Draws fresh seeds for a new game's parameters (`random_seed` and
// `initial_team_random_seed`) from the local generator, never from the
// synchronized one; logs them with `caller`.
struct new_game_parameter_data;
void reset_game_seeds(new_game_parameter_data *parameters, const char *caller);

uint32_t get_local_random_seed(void);
void set_local_random_seed(uint32_t seed);

// Draws made since the counters were last reset: tests use them to check that
// a procedure draws the synchronized generator exactly as often as it should.
uint32_t get_vesk_random_draw_count(void);
uint32_t get_local_random_draw_count(void);
void reset_random_draw_counts(void);
