#include "support/machine_pace.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

// This file is compiled optimised whatever the build (tests/CMakeLists.txt):
// the work is then the same few instructions a round under every compiler and
// sanitizer, and REFERENCE_NANOSECONDS holds for all of them.
namespace {

// The work: a chain of shifts and exclusive ors no compiler can shorten, each
// round depending on the one before.
const int32_t WORK_ROUNDS = 20000000;
// The work's processor time on the machine the suite's figures were measured
// on (an 8-core x86-64 server), the least of ten runs.
const double REFERENCE_NANOSECONDS = 34.0e6;
// Three samples: a busy machine's scheduler gives a process its share over
// tens of milliseconds, not within one short sample.
const int32_t SAMPLES = 3;

volatile int32_t work_rounds = WORK_ROUNDS; // read at run time, so the loop is never folded away
volatile uint32_t work_result;

double now_nanoseconds(void)
{
    timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    return (double)at.tv_sec * 1e9 + (double)at.tv_nsec;
}

void do_the_work(void)
{
    uint32_t x = 2463534242u;
    const int32_t rounds = work_rounds;
    for (int32_t i = 0; i < rounds; ++i)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
    }
    work_result = x;
}

double measure(void)
{
    if (const char *set = getenv("VESK_TEST_SLOWNESS"))
    {
        char *end = nullptr;
        const double value = strtod(set, &end);
        if (end != set && value >= 1) return std::min<double>(value, MAXIMUM_MACHINE_SLOWNESS);
    }
    const double started = now_nanoseconds();
    for (int32_t i = 0; i < SAMPLES; ++i) do_the_work();
    const double slowness = (now_nanoseconds() - started) / (SAMPLES * REFERENCE_NANOSECONDS);
    return std::clamp<double>(slowness, 1, MAXIMUM_MACHINE_SLOWNESS);
}

} // namespace

double machine_slowness(void)
{
    static std::once_flag measured;
    static double slowness = 1;
    std::call_once(measured, [] { slowness = measure(); });
    return slowness;
}

int64_t scaled_milliseconds(int64_t milliseconds)
{
    return (int64_t)((double)milliseconds * machine_slowness() + 0.5);
}

std::chrono::milliseconds scaled_duration(std::chrono::milliseconds reference)
{
    return std::chrono::milliseconds(scaled_milliseconds(reference.count()));
}
