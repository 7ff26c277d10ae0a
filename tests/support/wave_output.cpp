#include "support/wave_output.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/scratch.h"

bool write_wave_output_config(const std::string &config_path, const std::string &wave_path)
{
    const std::string text = "[general]\n"
                             "drivers = wave\n"
                             "channels = stereo\n"
                             "sample-type = int16\n"
                             "frequency = 44100\n"
                             "hrtf = false\n"
                             "[wave]\n"
                             "file = " +
                             wave_path + "\n";
    return write_whole_file(config_path, text.data(), text.size());
}

void select_wave_output(const std::string &config_path)
{
    setenv("ALSOFT_CONF", config_path.c_str(), 1);
    unsetenv("ALSOFT_DRIVERS");
}

namespace {

uint32_t little32(const uint8_t *bytes) { return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24; }
uint16_t little16(const uint8_t *bytes) { return (uint16_t)(bytes[0] | bytes[1] << 8); }

} // namespace

bool read_recorded_wave(const std::string &path, recorded_wave *wave)
{
    const std::vector<uint8_t> bytes = read_file_bytes(path);
    if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    int32_t channels = 0, bits = 0;
    wave->rate = 0;
    wave->left.clear();
    wave->right.clear();
    for (size_t at = 12; at + 8 <= bytes.size();)
    {
        const uint8_t *chunk = bytes.data() + at;
        // A chunk's size may be unset while it is written: take what is there.
        const size_t size = std::min<size_t>(little32(chunk + 4), bytes.size() - at - 8);
        if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16)
        {
            channels = little16(chunk + 10);
            wave->rate = (int32_t)little32(chunk + 12);
            bits = little16(chunk + 22);
        }
        else if (memcmp(chunk, "data", 4) == 0)
        {
            if (channels < 1 || channels > 2 || bits != 16 || wave->rate <= 0) return false;
            for (size_t offset = 0; offset + 2 * (size_t)channels <= size; offset += 2 * (size_t)channels)
            {
                const uint8_t *frame = chunk + 8 + offset;
                wave->left.push_back((float)(int16_t)little16(frame) / 32768.0f);
                wave->right.push_back((float)(int16_t)little16(frame + 2 * (channels - 1)) / 32768.0f);
            }
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

bool find_sound(const recorded_wave &wave, float threshold, size_t *begin, size_t *end)
{
    bool found = false;
    for (size_t i = 0; i < wave.left.size(); ++i)
    {
        if (std::fabs(wave.left[i]) > threshold || std::fabs(wave.right[i]) > threshold)
        {
            if (!found) *begin = i;
            *end = i + 1;
            found = true;
        }
    }
    return found;
}

double root_mean_square(const std::vector<float> &samples, size_t begin, size_t end)
{
    if (end <= begin) return 0.0;
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i) sum += (double)samples[i] * samples[i];
    return std::sqrt(sum / (double)(end - begin));
}

double zero_crossings_per_second(const std::vector<float> &samples, size_t begin, size_t end, int32_t rate)
{
    if (end <= begin + 1) return 0.0;
    int32_t crossings = 0;
    for (size_t i = begin + 1; i < end; ++i)
        if ((samples[i - 1] < 0.0f) != (samples[i] < 0.0f)) ++crossings;
    return (double)crossings * rate / (double)(end - begin - 1);
}
