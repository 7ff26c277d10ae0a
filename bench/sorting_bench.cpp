// Radix sorts against the standard library on the renderer's sizes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "cseries/sorting.h"

static std::vector<uint32_t> random_keys(size_t count)
{
    std::mt19937 random(99);
    std::vector<uint32_t> keys(count);
    for (uint32_t &key : keys) key = random();
    return keys;
}

static void fastradix_keys_64k(benchmark::State &state)
{
    const int32_t passes = (int32_t)state.range(0);
    const std::vector<uint32_t> original = random_keys(64 * 1024);
    std::vector<uint32_t> keys(original.size()), buffer1(keys.size()), buffer2(keys.size());
    for (auto _ : state)
    {
        memcpy(keys.data(), original.data(), keys.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(fastradix(keys.data(), buffer1.data(), buffer2.data(),
                                           (int32_t)keys.size(), passes, radix_mode_keys));
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)keys.size());
}
BENCHMARK(fastradix_keys_64k)->Arg(1)->Arg(2)->Arg(3);

static void fastradix_indices_64k(benchmark::State &state)
{
    std::vector<uint32_t> keys = random_keys(64 * 1024);
    std::vector<uint32_t> buffer1(keys.size()), buffer2(keys.size());
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(fastradix(keys.data(), buffer1.data(), buffer2.data(),
                                           (int32_t)keys.size(), 3, radix_mode_indices));
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)keys.size());
}
BENCHMARK(fastradix_indices_64k);

static void std_stable_sort_64k(benchmark::State &state)
{
    const std::vector<uint32_t> original = random_keys(64 * 1024);
    std::vector<uint32_t> keys(original.size());
    for (auto _ : state)
    {
        memcpy(keys.data(), original.data(), keys.size() * sizeof(uint32_t));
        std::stable_sort(keys.begin(), keys.end());
        benchmark::DoNotOptimize(keys.data());
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)keys.size());
}
BENCHMARK(std_stable_sort_64k);

struct bench_record
{
    float position[3];
    uint32_t depth;
    uint32_t flags;
};

// 16k records sorted by a mask that takes one, two or three passes.
static void radix_sort_struct_pointers2_16k(benchmark::State &state)
{
    const uint32_t mask = (uint32_t)state.range(0);
    const int32_t count = 16 * 1024;
    std::mt19937 random(5);
    std::vector<bench_record> records(count);
    for (bench_record &record : records) record.depth = random();
    std::vector<void *> original(count), pointers(count), scratch(3 * (size_t)count);
    for (int32_t i = 0; i < count; ++i) original[i] = &records[i];
    for (auto _ : state)
    {
        memcpy(pointers.data(), original.data(), count * sizeof(void *));
        benchmark::DoNotOptimize(radix_sort_struct_pointers2(
            pointers.data(), scratch.data(), count, offsetof(bench_record, depth), mask, true));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(radix_sort_struct_pointers2_16k)->Arg(0x7FF)->Arg(0x3FFFFF)->Arg(0xFFFFFFFF);

static void std_stable_sort_pointers_16k(benchmark::State &state)
{
    const int32_t count = 16 * 1024;
    std::mt19937 random(5);
    std::vector<bench_record> records(count);
    for (bench_record &record : records) record.depth = random();
    std::vector<bench_record *> original(count), pointers(count);
    for (int32_t i = 0; i < count; ++i) original[i] = &records[i];
    for (auto _ : state)
    {
        pointers = original;
        std::stable_sort(pointers.begin(), pointers.end(),
                         [](const bench_record *a, const bench_record *b) { return a->depth < b->depth; });
        benchmark::DoNotOptimize(pointers.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(std_stable_sort_pointers_16k);
