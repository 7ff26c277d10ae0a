#pragma once
// The battle of the battle benchmark, for tests: the demo map started by the
// determinism harness, its own units and the unit array filled to its 400
// units (200 a side in blocks of 20 x 10, every other column melee, the rest
// missile), every unit of a side ordered at the other side's units on the
// first tick that runs.  The demo data must be in the current directory (as
// vesk_sim_fixture writes it).

#include <cstdint>
#include <string>

// Starts the battle from `seed` and sets the harness's tick procedure that
// gives the orders; false with `reason` when it cannot be set up (nothing is
// left running then).  stop_full_battle ends it.
bool start_full_battle(uint32_t seed, std::string *reason);
void stop_full_battle(void);
