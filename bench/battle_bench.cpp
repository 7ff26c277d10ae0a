// The tick time of a full battle: the demo map with the unit array full (400
// units, 200 a side, melee and missile mixed), both sides ordered to attack
// each other, arrows flying.  Each benchmark iteration is one tick; the
// counters give the median, the 99th percentile and the worst tick in
// milliseconds over the run, each beside its ratio to its target (on one
// core: median 0.3 ms, p99 and worst 1 ms, the order tick included),
// measured as the thread's CPU time so that other programs on a busy machine
// do not count.  The tick is timed alone,
// as a film replays it; the state hash that a determinism run takes after
// every tick is timed apart (hash_*) and with the tick (with_hash_*).  The
// argument is the seed.  With VESK_BATTLE_TRACE naming a file, every tick's
// "<seed> <tick> <hash>" is appended to it, so that two builds can be shown
// to simulate the same battle.  The order tick (all 400 units planning at
// once) has a benchmark of its own.  The same battle with 100, 200 and 400
// units (battle_tick_by_units) gives each size's figures, and
// battle_cost_per_doubling how the cost grows: each doubling of the units may
// cost at most 2.2 times the mean tick of the half.  battle_worst_tick gives
// each seed's worst tick with the machine's slow spells left out.  The state hash
// alone (battle_state_hash, at rest, and battle_state_hash_busy, after each
// tick of the moving battle) may cost 0.03 ms at any object count.  The demo
// data is read from the build's program directory
// (scripts/build_demo_data.sh); without it the benchmark fails, and so does
// the program (bench_main.cpp).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <ctime>
#include <vector>

#include "commands.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "mesh.h"
#include "objects.h"
#include "monster_commands.h"
#include "monster_life.h"
#include "monsters.h"
#include "projectiles.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "demo_map_bench.h"
#include "full_battle.h"


namespace {

// Targets on one core, in milliseconds, and the growth allowed per doubling.
constexpr double TARGET_MEDIAN_MS = 0.3, TARGET_WORST_MS = 1.0, TARGET_COST_PER_DOUBLING = 2.2;

// The CPU time of this thread in milliseconds.
double thread_milliseconds(void)
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1.0e6;
}

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The value below which 99% of the values lie (nearest rank).
double p99_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t rank = (values.size() * 99 + 99) / 100; // ceil(0.99 n), 1-based
    return values[rank - 1];
}

double mean_of(const std::vector<double> &values)
{
    double sum = 0;
    for (double value : values) sum += value;
    return sum / (double)values.size();
}

// Starts the demo map with `seed`, places its own units and fills the battle
// to `total` units.  False, with the benchmark skipped, when the battle cannot
// be set up.
bool set_up_the_battle(benchmark::State &state, uint32_t seed, full_battle *b, int32_t total = MAXIMUM_MONSTERS_PER_MAP)
{
    if (!start_demo_map_or_skip(state, seed)) return false;
    // The map's own units come first: run one tick so they are placed.
    run_simulation(1, nullptr, 0, nullptr, nullptr);
    std::string reason;
    if (!fill_full_battle(b, total, &reason))
    {
        stop_simulation();
        state.SkipWithError(reason.c_str());
        return false;
    }
    set_simulation_tick_procedure(order_full_battle_attack, b);
    return true;
}

// The counters of a battle's ticks, each figure beside its ratio to its target.
void report_ticks(benchmark::State &state, const std::vector<double> &milliseconds)
{
    const double median = median_of(milliseconds), p99 = p99_of(milliseconds);
    const double worst = *std::max_element(milliseconds.begin(), milliseconds.end());
    state.counters["median_ms"] = median;
    state.counters["median/0.3ms"] = median / TARGET_MEDIAN_MS;
    state.counters["p99_ms"] = p99;
    state.counters["p99/1ms"] = p99 / TARGET_WORST_MS;
    state.counters["worst_ms"] = worst;
    state.counters["worst/1ms"] = worst / TARGET_WORST_MS;
    state.counters["worst_tick"] =
        (double)(std::max_element(milliseconds.begin(), milliseconds.end()) - milliseconds.begin() + 2);
}

// Runs the battle of `seed` with `total` units for the benchmark's
// iterations, one tick each, into `milliseconds`; appends "<seed> <tick>
// <hash>" lines to `trace` when given.  False when it could not run.
bool run_the_battle(benchmark::State &state, uint32_t seed, int32_t total, FILE *trace,
                    std::vector<double> *milliseconds)
{
    static full_battle b;
    if (!set_up_the_battle(state, seed, &b, total)) return false;
    std::vector<double> hash_milliseconds, with_hash_milliseconds;
    int64_t projectiles_seen = 0, most_projectiles = 0, units_seen = 0;
    for (auto _ : state)
    {
        const auto start = thread_milliseconds();
        const bool ran = run_simulation(1, nullptr, 0, nullptr, nullptr);
        const auto end = thread_milliseconds();
        if (!ran)
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        const uint32_t hash = compute_state_hash();
        const auto hashed = thread_milliseconds();
        milliseconds->push_back(end - start);
        hash_milliseconds.push_back(hashed - end);
        with_hash_milliseconds.push_back(hashed - start);
        if (trace) fprintf(trace, "%u %d %08x\n", (unsigned)seed, (int)milliseconds->size() + 1, (unsigned)hash);
        projectiles_seen += get_projectile_count();
        units_seen += count_living_units();
        most_projectiles = std::max<int64_t>(most_projectiles, get_projectile_count());
    }
    const int32_t alive = count_living_units();
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    if (milliseconds->empty()) return false;
    report_ticks(state, *milliseconds);
    state.counters["hash_median_ms"] = median_of(hash_milliseconds);
    state.counters["with_hash_median_ms"] = median_of(with_hash_milliseconds);
    state.counters["with_hash_worst_ms"] =
        *std::max_element(with_hash_milliseconds.begin(), with_hash_milliseconds.end());
    state.counters["projectiles_mean"] = (double)projectiles_seen / (double)milliseconds->size();
    state.counters["projectiles_most"] = (double)most_projectiles;
    state.counters["units_at_end"] = alive;
    state.counters["units_mean"] = (double)units_seen / (double)milliseconds->size();
    return true;
}

void BM_full_battle_tick(benchmark::State &state)
{
    FILE *trace = nullptr;
    if (const char *path = getenv("VESK_BATTLE_TRACE")) trace = fopen(path, "a");
    std::vector<double> milliseconds;
    run_the_battle(state, (uint32_t)state.range(0), MAXIMUM_MONSTERS_PER_MAP, trace, &milliseconds);
    if (trace) fclose(trace);
}

// Seed 1's battle with `units` units: the tick's figures.
void BM_battle_tick_by_units(benchmark::State &state)
{
    std::vector<double> milliseconds;
    if (!run_the_battle(state, 1, (int32_t)state.range(0), nullptr, &milliseconds)) return;
    state.counters["mean_ms"] = mean_of(milliseconds);
}

// The battle of `seed` with `total` units for `ticks` ticks, each tick's
// time kept as the least of what it took in this and earlier rounds
// (`least`, grown to `ticks`); `living` gets the mean count of living units.
// The battle is the same every round, tick for tick, so the least time of a
// tick is its cost with the machine's slow spells left out.
bool time_battle_round(benchmark::State &state, uint32_t seed, int32_t total, int32_t ticks,
                       std::vector<double> *least, double *living)
{
    static full_battle b;
    if (!set_up_the_battle(state, seed, &b, total)) return false;
    least->resize((size_t)ticks, HUGE_VAL);
    int64_t units_seen = 0;
    bool ran = true;
    for (int32_t tick = 0; tick < ticks && ran; ++tick)
    {
        const auto start = thread_milliseconds();
        ran = run_simulation(1, nullptr, 0, nullptr, nullptr);
        const double taken = thread_milliseconds() - start;
        (*least)[(size_t)tick] = std::min((*least)[(size_t)tick], taken);
        compute_state_hash(); // as a game does between ticks
        units_seen += count_living_units();
    }
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    if (!ran) state.SkipWithError("the game stopped running ticks");
    *living = (double)units_seen / (double)ticks;
    return ran;
}

// How the tick's cost grows with the units: the battle with 100, 200 and 400
// units, run in turn for a few rounds so that all three meet the machine in
// the same moods, each tick's least time kept.  Each doubling may cost at
// most 2.2 times the mean tick of the half.  The larger armies keep more of
// their units alive through the fight, so the same growth is also given per
// living unit: per_living_doubling is the cost had the living units doubled
// exactly, which an engine whose cost per unit does not grow with the crowd
// keeps at 2 whatever the survivors do.
void BM_battle_cost_per_doubling(benchmark::State &state)
{
    constexpr int32_t SIZES[] = {100, 200, 400}, ROUNDS = 5, TICKS = 1800;
    std::vector<double> least[std::size(SIZES)];
    double living[std::size(SIZES)] = {};
    for (auto _ : state)
        for (int32_t round = 0; round < ROUNDS; ++round)
            for (size_t size = 0; size < std::size(SIZES); ++size)
                if (!time_battle_round(state, 1, SIZES[size], TICKS, &least[size], &living[size])) return;
    double mean[std::size(SIZES)];
    for (size_t size = 0; size < std::size(SIZES); ++size)
    {
        mean[size] = mean_of(least[size]);
        state.counters["mean_ms_" + std::to_string(SIZES[size])] = mean[size];
        state.counters["living_" + std::to_string(SIZES[size])] = living[size];
    }
    for (size_t size = 1; size < std::size(SIZES); ++size)
    {
        const std::string to = std::to_string(SIZES[size]);
        const double growth = mean[size] / mean[size - 1], living_growth = living[size] / living[size - 1];
        state.counters["per_doubling_to_" + to] = growth;
        state.counters["per_doubling_to_" + to + "/2.2"] = growth / TARGET_COST_PER_DOUBLING;
        state.counters["per_living_doubling_to_" + to] = 2 * growth / living_growth;
        state.counters["per_living_doubling_to_" + to + "/2.2"] = 2 * growth / living_growth / TARGET_COST_PER_DOUBLING;
    }
}

// The worst tick of the battle of the seed: the full battle's worst_ms is
// one sample of each tick, so one interrupt or slow spell of the machine
// decides it.  Here the battle runs a few times over, each tick keeps its
// least time, and the worst of those is the dearest tick's own cost.
void BM_battle_worst_tick(benchmark::State &state)
{
    constexpr int32_t ROUNDS = 5, TICKS = 1800;
    std::vector<double> least;
    double living = 0;
    for (auto _ : state)
        for (int32_t round = 0; round < ROUNDS; ++round)
            if (!time_battle_round(state, (uint32_t)state.range(0), MAXIMUM_MONSTERS_PER_MAP, TICKS, &least, &living))
                return;
    if (least.empty()) return;
    report_ticks(state, least);
}

// The tick on which the 400 orders arrive and every unit plans its path: each
// iteration sets the battle up again and times that tick alone.
void BM_battle_order_tick(benchmark::State &state)
{
    static full_battle b;
    std::vector<double> milliseconds;
    for (auto _ : state)
    {
        state.PauseTiming();
        if (!set_up_the_battle(state, 1, &b)) return;
        state.ResumeTiming();
        const auto start = thread_milliseconds();
        const bool ran = run_simulation(1, nullptr, 0, nullptr, nullptr);
        const auto end = thread_milliseconds();
        state.PauseTiming();
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        state.ResumeTiming();
        if (!ran)
        {
            state.SkipWithError("the game stopped running ticks");
            return;
        }
        milliseconds.push_back(end - start);
    }
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = median_of(milliseconds);
    state.counters["median/1ms"] = median_of(milliseconds) / TARGET_WORST_MS;
    state.counters["worst_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
    state.counters["worst/1ms"] = *std::max_element(milliseconds.begin(), milliseconds.end()) / TARGET_WORST_MS;
}

// The battle's first `ticks` ticks, before what a benchmark times; a game
// that stops running ticks skips the benchmark.
static void run_battle_ticks(benchmark::State &state, int64_t ticks)
{
    for (int64_t tick = 0; tick < ticks; ++tick)
        if (!run_simulation(1, nullptr, 0, nullptr, nullptr))
        {
            state.SkipWithError("the game stopped running ticks");
            return;
        }
}

// The state hash alone, again and again, on the battle as it stands after
// `range(0)` ticks (arrows lying about, units dead and alive): the figure to
// compare with hash_median_ms without the noise of the ticks around it.
void BM_battle_state_hash(benchmark::State &state)
{
    static full_battle b;
    if (!set_up_the_battle(state, 1, &b)) return;
    run_battle_ticks(state, state.range(0));
    std::vector<double> milliseconds;
    for (auto _ : state)
    {
        const auto start = thread_milliseconds();
        benchmark::DoNotOptimize(compute_state_hash());
        milliseconds.push_back(thread_milliseconds() - start);
    }
    const int32_t objects = get_object_count();
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = median_of(milliseconds);
    state.counters["median/0.03ms"] = median_of(milliseconds) / 0.03; // the target per tick
    state.counters["object_slots"] = objects;
}

// The state hash of a battle on the move: after each of the `range(0)` +
// 1st, 2nd... ticks (units walking and fighting, arrows flying and landing),
// the hash that a determinism run takes, timed alone.  Where the records
// change between two hashes, which the quiet figure above never sees.
void BM_battle_state_hash_busy(benchmark::State &state)
{
    static full_battle b;
    if (!set_up_the_battle(state, 1, &b)) return;
    run_battle_ticks(state, state.range(0));
    compute_state_hash(); // what the ticks before left behind is not this tick's change
    const int32_t objects = get_object_count();
    std::vector<double> milliseconds;
    for (auto _ : state)
    {
        state.PauseTiming();
        const bool ran = run_simulation(1, nullptr, 0, nullptr, nullptr);
        state.ResumeTiming();
        if (!ran)
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        const auto start = thread_milliseconds();
        benchmark::DoNotOptimize(compute_state_hash());
        milliseconds.push_back(thread_milliseconds() - start);
    }
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    if (milliseconds.empty()) return;
    state.counters["median_ms"] = median_of(milliseconds);
    state.counters["median/0.03ms"] = median_of(milliseconds) / 0.03;
    state.counters["worst_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
    state.counters["object_slots"] = objects;
}

} // namespace

// A fixed length: the battle from the order to the first deaths and beyond.
// Seed 1 is the figure to quote; the others show the same code on other
// battles.
BENCHMARK(BM_full_battle_tick)->Arg(1)->Arg(2)->Arg(3)->ArgName("seed")->Iterations(1800)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_battle_tick_by_units)->Arg(100)->Arg(200)->Arg(400)->ArgName("units")->Iterations(1800)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_battle_cost_per_doubling)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_battle_worst_tick)->Arg(1)->Arg(2)->Arg(3)->ArgName("seed")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_battle_state_hash)->Arg(0)->Arg(900)->Arg(1800)->ArgName("ticks")->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_battle_state_hash_busy)->Arg(0)->Arg(900)->Arg(1800)->ArgName("ticks")->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_battle_order_tick)->Iterations(20)->Unit(benchmark::kMicrosecond);
