// Decoding a sound's samples: what the game pays the first time a sound is
// played or preloaded.  A 60-second stereo track at 22050 Hz is the largest
// the demo data holds (the menu music).

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "sound/sound_definitions.h"

static void sound_decode_stereo_track(benchmark::State &state)
{
    const int32_t frames = 60 * 22050;
    std::vector<int16_t> pcm((size_t)frames * 2);
    for (int32_t f = 0; f < frames; ++f)
    {
        pcm[(size_t)f * 2] = (int16_t)(12000 * std::sin(f * 0.125));
        pcm[(size_t)f * 2 + 1] = (int16_t)(9000 * std::sin(f * 0.0625 + 1));
    }
    sound_definition record;
    get_default_sound_definition(&record);
    const sound_pcm_permutation permutation = {pcm.data(), frames, 2, _sample_rate_22k, 0, "track"};
    const int32_t size = encode_sound_tag_data(&record, &permutation, 1, nullptr, 0);
    std::vector<uint8_t> data((size_t)size);
    encode_sound_tag_data(&record, &permutation, 1, data.data(), size);
    initialize_sound_definitions(); // the decompression buffer, as the game has it
    for (auto _ : state)
    {
        int32_t samples = 0;
        if (check_sound_tag_data(data.data(), size, &samples) != nullptr) return state.SkipWithError("refused");
        benchmark::DoNotOptimize(samples);
    }
    dispose_sound_definitions();
    state.SetLabel("60 s stereo, 22050 Hz");
}
BENCHMARK(sound_decode_stereo_track)->Unit(benchmark::kMillisecond);
