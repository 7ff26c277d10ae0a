// The create-or-join dialog's keyword rewrite, its figure printed beside its
// target (the counter ending in "target"): one `replace_keyword` over a
// 255-character configuration text of the module's own keys: at most 5 us.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "vesk_networking/vesk_network_interface.h"

static void replace_keyword_over_255_characters(benchmark::State &state)
{
    std::string text = "type=1231975284\tversion=1\tgameID=1986359147\tgameName=";
    text += std::string(255 - text.size() - 40, 'g');
    text += "\tmode=3\tIPaddr=192.0.2.1\tIPport=3453";
    text.resize(255, 'x');
    char buffer[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH];
    double spent_us = 0;
    int64_t calls = 0;
    for (auto _ : state)
    {
        strcpy(buffer, text.c_str());
        const auto start = std::chrono::steady_clock::now();
        const bool fitted = replace_keyword(buffer, sizeof(buffer), "IPport", "6000");
        spent_us += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(fitted);
        benchmark::DoNotOptimize(buffer);
        ++calls;
    }
    state.counters["us_per_call"] = calls ? spent_us / (double)calls : 0;
    state.counters["us_per_call_target"] = 5;
}
BENCHMARK(replace_keyword_over_255_characters)->Iterations(100000)->Unit(benchmark::kMicrosecond);
