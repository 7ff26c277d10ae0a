#pragma once
// Test signals for the sound tags and their codec: generated, never recorded.

#include <cstdint>
#include <vector>

// `frames` frames of `channels` interleaved samples: a sine of `hertz` at
// `rate` Hz and peak `amplitude` (the right channel a quarter period later).
std::vector<int16_t> make_sine(int32_t frames, int32_t channels, double hertz, int32_t rate, double amplitude);

// Uniform noise over the whole 16-bit range from `seed`.
std::vector<int16_t> make_noise(int32_t frames, int32_t channels, uint32_t seed);

// A sine at twice full scale, clipped: full-scale steps the codec must clamp.
std::vector<int16_t> make_clipped_sine(int32_t frames, int32_t channels);

// Signal-to-noise ratio in dB of `decoded` against `reference` (same length).
double signal_to_noise_db(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded);
