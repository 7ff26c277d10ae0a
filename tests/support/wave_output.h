#pragma once
// Listening to what the audio library plays: its wave output writes the mix
// to a WAV file (in real time) when a configuration file named by
// ALSOFT_CONF selects it.  Tests set that up in a child process before the
// library opens, then measure the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes the configuration selecting the wave output into `wave_path`:
// stereo, 16-bit, 44100 Hz, no head-related filtering.  False when it cannot
// be written.
bool write_wave_output_config(const std::string &config_path, const std::string &wave_path);

// Points the library at the configuration (ALSOFT_CONF) and drops any
// driver override.  Call in the child, before the library is opened.
void select_wave_output(const std::string &config_path);

// A recorded mix, both channels in -1..1.
struct recorded_wave
{
    int32_t rate;
    std::vector<float> left, right;
};

// Reads a 16-bit PCM WAV of one or two channels (mono is copied to both
// sides).  False for anything else.
bool read_recorded_wave(const std::string &path, recorded_wave *wave);

// The stretch [begin, end) from the first to the last sample of either side
// louder than `threshold`; false when the whole file is quieter.
bool find_sound(const recorded_wave &wave, float threshold, size_t *begin, size_t *end);

// The root mean square of samples [begin, end).
double root_mean_square(const std::vector<float> &samples, size_t begin, size_t end);

// Sign changes per second over [begin, end): twice the frequency of a tone.
double zero_crossings_per_second(const std::vector<float> &samples, size_t begin, size_t end, int32_t rate);
