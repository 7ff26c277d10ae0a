#pragma once
// Wall time measured inside a benchmark's loop, for the counters a benchmark
// reports beside its own iteration time.

#include <chrono>

inline double microseconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}
