#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
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

// Each method of the CRC (the argument) on 136 bytes (a hashed object record,
// where the set-up of folding counts), on 16 KB (a block of the state hash)
// and on 1 MiB.  A method this processor lacks is only named (an error would
// fail `make bench`).
static void crc32_by_method(benchmark::State &state)
{
    const crc32_method method = (crc32_method)state.range(0);
    const size_t size = (size_t)state.range(1);
    if (!crc32_method_is_available(method))
    {
        state.SetLabel(std::string(crc32_method_name(method)) + ": not on this processor");
        for (auto _ : state) benchmark::ClobberMemory();
        return;
    }
    state.SetLabel(crc32_method_name(method));
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 31);
    for (auto _ : state)
    {
        uint32_t crc = crc32_update_by_method(method, 0, data.data(), data.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}
BENCHMARK(crc32_by_method)->ArgsProduct({benchmark::CreateDenseRange(0, NUMBER_OF_CRC32_METHODS - 1, 1), {136, 16 * 1024, 1024 * 1024}});
