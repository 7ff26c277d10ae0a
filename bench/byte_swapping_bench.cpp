#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/crc.h"

// A typical 64-byte record: header words, a raw name, a repeated block of halves.
static const byte_swap_code typical_record_description[] = {
    _begin_bs_array, 1,
        _4byte, _4byte, _2byte, _2byte,
        16,
        _begin_bs_array, 4, _2byte, _2byte, _4byte, _end_bs_array,
        _4byte,
    _end_bs_array};

static void byte_swap_data_64_kib(benchmark::State &state)
{
    enum { RECORD_SIZE = 64, DATA_SIZE = 64 * 1024 };
    std::vector<uint8_t> data(DATA_SIZE);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)i;
    if (byte_swap_description_size(typical_record_description) != RECORD_SIZE)
    {
        state.SkipWithError("the description does not walk 64 bytes");
        return;
    }
    for (auto _ : state)
    {
        byte_swap_data("bench", data.data(), RECORD_SIZE, DATA_SIZE / RECORD_SIZE, typical_record_description);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * DATA_SIZE);
}
BENCHMARK(byte_swap_data_64_kib);

static void crc32_1_mib(benchmark::State &state)
{
    std::vector<uint8_t> data(1024 * 1024);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 31);
    for (auto _ : state)
    {
        uint32_t crc = crc32_of(data.data(), data.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}
BENCHMARK(crc32_1_mib);
