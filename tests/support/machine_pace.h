#pragma once
// The suite's yardstick of the machine: how many times slower than the
// machine its figures were measured on this one runs now, busy as it is.
// A case whose wait is more than a guard against a hang (the game must answer
// within about what it takes, not merely some day) scales its figure by it,
// so that a slow or loaded machine fails no correct case, while a case that
// waits far longer than the machine's pace explains still fails.
//
// Measured once per test process, at the first call, by timing a fixed piece
// of processor work (three samples of about 34 ms on the reference machine) against the wall
// clock: a slower processor and a share of a processor taken by other
// programs both stretch it.  The environment variable VESK_TEST_SLOWNESS
// (a number, at least 1) sets it instead, for a machine whose pace changes
// during the run more than the measure can see.
//
// Rules of the suite (README.md, "Tests and time"): no case
// asserts a wall-clock figure of its own; a bound that only guards against a
// hang is at least ten times the quiet time and says so, and needs no
// yardstick; any other wait is an event, an order of events, a ratio to a
// control run in the same case, or a figure scaled by this.

#include <chrono>
#include <cstdint>

enum : int32_t
{
    // The measure is kept within [1, MAXIMUM_MACHINE_SLOWNESS]: a faster
    // machine keeps the figures as they are, and a wildly busy moment does
    // not push a bound past ctest's limit of the case (tests/CMakeLists.txt).
    MAXIMUM_MACHINE_SLOWNESS = 8,
};

// The slowness of this machine now, measured at the first call (which takes
// about a tenth of a second on the reference machine, more on a slower one).
double machine_slowness(void);

// `milliseconds` of the reference machine, on this one.
int64_t scaled_milliseconds(int64_t milliseconds);
std::chrono::milliseconds scaled_duration(std::chrono::milliseconds reference);
