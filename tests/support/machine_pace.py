#!/usr/bin/env python3
"""The suite's yardstick of the machine for the Python cases and the release
checks (scripts/check_*.sh), as tests/support/machine_pace.h is for the C++
cases: how many times slower than the machine the figures were measured on
this one runs now, busy as it is, from a fixed piece of work timed against
the wall clock; at least 1, at most 8.  VESK_TEST_SLOWNESS (a number, at
least 1) sets it instead.

As a program it prints the slowness, or with a number of milliseconds of the
reference machine that number scaled ("machine_pace.py 5000" -> "11500").
"""

import os
import sys
import time

MAXIMUM_MACHINE_SLOWNESS = 8
# The work's processor time on the reference machine (Python 3.11), the least
# of eight runs; three samples, since a busy machine's scheduler gives a
# process its share over tens of milliseconds.
WORK_ROUNDS = 200000
REFERENCE_SECONDS = 0.0376
SAMPLES = 3

_slowness = None


def _work(rounds):
    x = 2463534242
    for _ in range(rounds):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
    return x


def _measure():
    try:
        value = float(os.environ.get("VESK_TEST_SLOWNESS", ""))
        if value >= 1:
            return min(value, MAXIMUM_MACHINE_SLOWNESS)
    except ValueError:
        pass
    started = time.monotonic()
    for _ in range(SAMPLES):
        _work(WORK_ROUNDS)
    slowness = (time.monotonic() - started) / (SAMPLES * REFERENCE_SECONDS)
    return min(max(slowness, 1.0), MAXIMUM_MACHINE_SLOWNESS)


def machine_slowness():
    """The slowness of this machine now, measured at the first call."""
    global _slowness
    if _slowness is None:
        _slowness = _measure()
    return _slowness


def scaled_seconds(seconds):
    """`seconds` of the reference machine, on this one."""
    return seconds * machine_slowness()


if __name__ == "__main__":
    if len(sys.argv) > 1:
        print(int(round(float(sys.argv[1]) * machine_slowness())))
    else:
        print("%.2f" % machine_slowness())
