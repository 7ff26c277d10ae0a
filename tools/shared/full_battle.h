#pragma once
// The full battle the benchmarks measure and the tests check: the demo map's
// own units joined by up to 200 a side in blocks of 20 x 10 (team 0 east,
// team 1 west of the ridge; every other column melee, the rest missile),
// every unit of a side ordered at the other side's units on the first tick
// that runs.  Its placement is fixed, so its trace is the one the benchmarks'
// trace files record.

#include <cstdint>
#include <string>
#include <vector>

struct full_battle
{
    std::vector<int16_t> sides[2];
    bool ordered;
};

// The units alive in the unit array.
int32_t count_living_units(void);

// With the map's first tick run (its own units placed): the map's units of
// players 0 and 1 join their sides, then units are made until the array holds
// `total` (team 0 takes at most half of the blocks' places).  False with
// `reason` when fewer could be made.
bool fill_full_battle(full_battle *battle, int32_t total, std::string *reason);

// A tick procedure of the determinism harness (context: the full_battle):
// gives both sides' orders, once, in commands of the largest size.
void order_full_battle_attack(int32_t tick, void *context);

// The battle on the demo map from `seed` (the demo data in the current
// directory), its orders given by the harness's tick procedure; false with
// `reason` when it cannot be set up (nothing is left running then).
// stop_full_battle ends it.
bool start_full_battle(uint32_t seed, std::string *reason);
void stop_full_battle(void);
