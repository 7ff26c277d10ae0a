// Test signals.  See sound_signals.h.

#include "support/sound_signals.h"

#include <cmath>

std::vector<int16_t> make_sine(int32_t frames, int32_t channels, double hertz, int32_t rate, double amplitude)
{
    std::vector<int16_t> samples((size_t)frames * channels);
    for (int32_t f = 0; f < frames; ++f)
        for (int32_t c = 0; c < channels; ++c)
        {
            const double phase = 2 * M_PI * hertz * f / rate + c * M_PI / 2;
            samples[(size_t)f * channels + c] = (int16_t)std::lround(amplitude * std::sin(phase));
        }
    return samples;
}

std::vector<int16_t> make_noise(int32_t frames, int32_t channels, uint32_t seed)
{
    std::vector<int16_t> samples((size_t)frames * channels);
    uint32_t state = seed ? seed : 1;
    for (int16_t &s : samples)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        s = (int16_t)(state >> 16);
    }
    return samples;
}

std::vector<int16_t> make_clipped_sine(int32_t frames, int32_t channels)
{
    std::vector<int16_t> samples((size_t)frames * channels);
    for (int32_t f = 0; f < frames; ++f)
        for (int32_t c = 0; c < channels; ++c)
        {
            const double value = 65536.0 * std::sin(2 * M_PI * 97.0 * f / 22050 + c);
            samples[(size_t)f * channels + c] = (int16_t)(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
        }
    return samples;
}

double signal_to_noise_db(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded)
{
    double signal = 0, noise = 0;
    for (size_t i = 0; i < reference.size() && i < decoded.size(); ++i)
    {
        signal += (double)reference[i] * reference[i];
        const double error = (double)reference[i] - decoded[i];
        noise += error * error;
    }
    return noise == 0 ? 1000 : 10 * std::log10(signal / noise);
}
