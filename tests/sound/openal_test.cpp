// The OpenAL output against the real library: the loader's refusals, the
// channel states and the reverb on the silent (null) output, and gain, pitch
// and placement measured in what the wave output records.  Everything that
// opens the library runs in a child process, which sets the library's
// environment before it opens and never shares its mixing thread.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "cseries/log.h"
#include "mesh.h"
#include "sound/load_openal.h"
#include "sound/sound_openal.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/test_mesh.h"
#include "support/wave_output.h"

namespace openal_test_file {

namespace {

enum { CHILD_TIMEOUT_SECONDS = 30 };

// The texts of the log's lines after its header, without their date and time.
std::vector<std::string> logged_texts(const std::string &path)
{
    std::istringstream log(read_whole_file(path));
    std::vector<std::string> texts;
    std::string line;
    for (std::getline(log, line); std::getline(log, line);) texts.push_back(line.substr(line.find("  ") + 2));
    return texts;
}

// A 441 Hz tone at half of full scale, 16-bit mono at 22050 Hz.
std::vector<int16_t> tone_samples(double seconds)
{
    std::vector<int16_t> samples((size_t)(seconds * 22050.0));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (int16_t)std::lround(16384.0 * std::sin(2.0 * M_PI * 441.0 * (double)i / 22050.0));
    return samples;
}

platform_sound_samples describe(const std::vector<int16_t> &samples)
{
    return platform_sound_samples{1, 16, (int32_t)samples.size(), 22050 << 16, samples.data()};
}

// At the origin, facing `listener_yaw` (0: world east, 16384: north).
angle listener_yaw;
const world_location3d *listener_at_origin(void)
{
    static world_location3d listener;
    memset(&listener, 0, sizeof(listener));
    listener.yaw = listener_yaw;
    return &listener;
}

// Runs update(true) until `channel` is idle; false after `seconds`.
bool wait_until_idle(int32_t channel, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do
    {
        openal_impl.update(true);
        if (openal_impl.channel_state(channel) == _sound_channel_idle) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// ---- the loader --------------------------------------------------------------------

TEST(openal_loader, refuses_a_missing_library_and_one_lacking_an_entry_point)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    static const char *const missing[] = {"libvesk_no_such_audio_library.so"};
    static const char *const stub[] = {OPENAL_STUB_LIBRARY};
    const std::string loaded = std::string("OpenAL: Loaded OpenAL library '") + OPENAL_STUB_LIBRARY + "'.";
    struct
    {
        const char *const *names;
        std::vector<std::string> lines; // between "Initializing" and "failed"
    } const rows[] = {
        {missing, {"OpenAL: OpenAL library not found. Sound will be disabled."}},
        {stub, {loaded, "OpenAL: Could not load OpenAL functions. Sound will be disabled."}},
    };
    const ALfunctions empty = {};
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.names[0]);
        set_openal_library_names(row.names, 1);
        ASSERT_TRUE(open_log_file_at("log.txt", "loader"));
        EXPECT_FALSE(openal_impl.initialize());
        close_log_file();
        std::vector<std::string> expected = row.lines;
        expected.insert(expected.begin(), "Initializing sound with OpenAL...");
        expected.push_back("OpenAL initialization failed.");
        EXPECT_EQ(logged_texts("log.txt"), expected);
        remove("log.txt");
        EXPECT_FALSE(openal_is_loaded());
        EXPECT_EQ(memcmp(openal_functions(), &empty, sizeof(empty)), 0);
        // The silent output's channels answer idle and touch nothing.
        expected_assertions expect(2, "al_globals.initialized");
        openal_impl.channel_free(0);
        EXPECT_EQ(openal_impl.channel_state(0), _sound_channel_idle);
    }
    set_openal_library_names(nullptr, 0);
}

// ---- gain and pitch ----------------------------------------------------------------

TEST(openal_output, gain_curve_and_pitch_stay_in_range)
{
    const std::pair<int32_t, float> gains[] = {{256, 1.0f}, {300, 1.0f}, {128, 0.668f},
                                               {64, 0.401f}, {0, 0.0f},   {-40, 0.0f}};
    for (const auto &[volume, gain] : gains) EXPECT_NEAR(openal_gain_for_volume(volume), gain, 0.001f) << volume;
    // Above the recorded rate plays at it; OpenAL refuses 0, so the slowest is 1/256.
    const std::pair<int32_t, float> pitches[] = {{512, 1.0f},    {256, 1.0f},  {128, 0.5f},
                                                 {1, 1.0f / 256}, {0, 1.0f / 256}, {-300, 1.0f / 256}};
    for (const auto &[pitch, expected] : pitches) EXPECT_FLOAT_EQ(openal_pitch_for_pitch(pitch), expected) << pitch;
}

// ---- the null output: channel states and reverb ------------------------------------

enum null_output_step
{
    _step_done, _step_initialize, _step_channels, _step_idle_at_start, _step_busy_after_one, _step_full_after_two,
    _step_third_refused, _step_idle_after_playing, _step_free_makes_idle, _step_mesh, _step_reverb_created,
    _step_reverb_clamped, _step_reverb_kept_for_none, _step_reverb_deleted,
};

int run_null_output(const void *)
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    unsetenv("ALSOFT_CONF");
    if (!openal_impl.initialize()) return _step_initialize;
    if (!openal_impl.initialize_channels(_sound_preferences_3D_positional_audio_flag)) return _step_channels;
    if (openal_impl.channel_state(0) != _sound_channel_idle) return _step_idle_at_start;
    {
        expected_assertions expect(1, "channel index");
        if (openal_impl.channel_state(TOTAL_NUMBER_OF_SOUND_CHANNELS) != _sound_channel_idle || expect.seen() != 1)
            return _step_idle_at_start;
    }

    const std::vector<int16_t> tone = tone_samples(0.2);
    const platform_sound_samples samples = describe(tone);
    openal_impl.channel_buffer(0, &samples, NONE);
    if (openal_impl.channel_state(0) != _sound_channel_busy) return _step_busy_after_one;
    openal_impl.channel_buffer(0, &samples, NONE);
    if (openal_impl.channel_state(0) != _sound_channel_busy_and_full) return _step_full_after_two;
    {
        expected_assertions expect(1, "0");
        openal_impl.channel_buffer(0, &samples, NONE);
        if (expect.seen() != 1 || openal_impl.channel_state(0) != _sound_channel_busy_and_full)
            return _step_third_refused;
    }
    if (!wait_until_idle(0, 5.0)) return _step_idle_after_playing;

    openal_impl.channel_buffer(1, &samples, NONE);
    openal_impl.channel_free(1);
    if (openal_impl.channel_state(1) != _sound_channel_idle) return _step_free_makes_idle;

    initialize_mesh();
    mesh_header header = test_mesh_header(8, 8);
    header.reverb_environment = 2;
    if (!load_test_mesh(header)) return _step_mesh;

    typedef ALboolean (*is_name_procedure)(ALuint);
    const ALfunctions *al = openal_functions();
    const is_name_procedure is_effect = (is_name_procedure)al->alGetProcAddress("alIsEffect");
    const is_name_procedure is_slot = (is_name_procedure)al->alGetProcAddress("alIsAuxiliaryEffectSlot");
    ALuint slot = 0, effect = 0;
    al->alGetError();
    // Every preset lies within the ranges OpenAL accepts; then the map's own.
    for (int32_t environment = 0; environment < NUMBER_OF_REVERB_ENVIRONMENTS; ++environment)
    {
        get_mesh_header()->reverb_environment = environment;
        openal_impl.initialize_mesh_parameters();
        if (al->alGetError() != AL_NO_ERROR) return _step_reverb_created;
    }
    // The map's own, with its volume, decay and damping beyond their limits.
    mesh_header *map = get_mesh_header();
    map->reverb_environment = 2;
    map->reverb_volume = 0.9f;
    map->reverb_decay_time = 30.0f;
    map->reverb_damping = 0.01f;
    openal_impl.initialize_mesh_parameters();
    typedef void (*get_effect_procedure)(ALuint, ALenum, ALfloat *);
    const get_effect_procedure get_effect = (get_effect_procedure)al->alGetProcAddress("alGetEffectf");
    float gain = 0, decay = 0, damping = 0;
    if (get_openal_reverb(&slot, &effect) && get_effect)
    {
        get_effect(effect, AL_EAXREVERB_GAIN, &gain);
        get_effect(effect, AL_EAXREVERB_DECAY_TIME, &decay);
        get_effect(effect, AL_EAXREVERB_DECAY_HFRATIO, &damping);
    }
    if (gain != 0.5f || decay != 20.0f || damping != 0.1f) return _step_reverb_clamped;
    if (!is_effect || !is_slot || !get_openal_reverb(&slot, &effect) || !is_effect(effect) || !is_slot(slot) ||
        al->alGetError() != AL_NO_ERROR)
        return _step_reverb_created;

    // A positional sound sends to the reverb: its slot is in use when the next
    // map takes the reverb away.
    sound_variables variables;
    memset(&variables, 0, sizeof(variables));
    variables.volume = variables.pitch = 256;
    variables.bHasSource = true;
    openal_impl.channel_update(2, &variables, true);

    get_mesh_header()->reverb_environment = NONE;
    openal_impl.initialize_mesh_parameters();
    if (!get_openal_reverb(nullptr, nullptr) || !is_effect(effect) || al->alGetError() != AL_NO_ERROR)
        return _step_reverb_kept_for_none;

    get_mesh_header()->reverb_environment = NUMBER_OF_REVERB_ENVIRONMENTS;
    openal_impl.initialize_mesh_parameters();
    if (get_openal_reverb(nullptr, nullptr) || is_effect(effect) || is_slot(slot) || al->alGetError() != AL_NO_ERROR)
        return _step_reverb_deleted;

    openal_impl.dispose_channels();
    openal_impl.dispose();
    return _step_done;
}

TEST(openal_output, channels_fill_and_drain_and_reverb_follows_the_map)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    EXPECT_EQ(exit_code_of(run_in_child(run_null_output, nullptr, CHILD_TIMEOUT_SECONDS)), _step_done)
        << "the first step that failed (null_output_step)";
}

// ---- the wave output: what is heard -------------------------------------------------

struct played_tone
{
    const char *name;
    int32_t volume, pitch;
    bool positional;
    world_point3d location;
    angle listener_yaw;
};

int play_tone_into_wave(const void *context)
{
    const played_tone &tone = *static_cast<const played_tone *>(context);
    select_wave_output("alsoft.conf");
    listener_yaw = tone.listener_yaw;
    set_openal_listener_procedure(listener_at_origin);
    if (!openal_impl.initialize() || !openal_impl.initialize_channels(0)) return 1;
    openal_impl.update(true);

    sound_variables variables;
    memset(&variables, 0, sizeof(variables));
    variables.volume = (short_fixed)tone.volume;
    variables.pitch = (short_fixed)tone.pitch;
    variables.bHasSource = tone.positional;
    variables.location.position = tone.location;
    const std::vector<int16_t> samples = tone_samples(0.3);
    const platform_sound_samples description = describe(samples);
    openal_impl.channel_update(0, &variables, true);
    openal_impl.channel_buffer(0, &description, NONE);
    if (!wait_until_idle(0, 5.0)) return 2;
    // The output writes what it mixed every few milliseconds: let the tail out.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    openal_impl.dispose_channels();
    openal_impl.dispose();
    return 0;
}

struct heard_tone
{
    double left, right, crossings_per_second;
};

// Plays `tone` into its own WAV file and measures the middle of what sounded.
bool hear(const played_tone &tone, heard_tone *heard)
{
    const std::string wave_path = std::string(tone.name) + ".wav";
    if (!write_wave_output_config("alsoft.conf", wave_path)) return false;
    const int status = run_in_child(play_tone_into_wave, &tone, CHILD_TIMEOUT_SECONDS);
    EXPECT_EQ(exit_code_of(status), 0) << tone.name;
    recorded_wave wave;
    size_t begin = 0, end = 0;
    if (!read_recorded_wave(wave_path, &wave) || !find_sound(wave, 0.01f, &begin, &end)) return false;
    // Away from the edges, where the resampler starts and stops.
    const size_t margin = (end - begin) / 5;
    begin += margin;
    end -= margin;
    heard->left = root_mean_square(wave.left, begin, end);
    heard->right = root_mean_square(wave.right, begin, end);
    heard->crossings_per_second = zero_crossings_per_second(wave.left, begin, end, wave.rate);
    return true;
}

TEST(openal_output, wave_output_hears_gain_pitch_and_side)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    const world_point3d origin = {0, 0, 0};
    const played_tone full = {"full", 256, 256, false, origin, 0};
    const played_tone half = {"half", 128, 256, false, origin, 0};
    const played_tone fast = {"fast", 256, 512, false, origin, 0};
    heard_tone heard_full, heard_half, heard_fast;
    ASSERT_TRUE(hear(full, &heard_full));
    ASSERT_TRUE(hear(half, &heard_half));
    ASSERT_TRUE(hear(fast, &heard_fast));
    const double ratio = (heard_half.left + heard_half.right) / (heard_full.left + heard_full.right);
    EXPECT_NEAR(ratio, 0.668, 0.668 * 0.03);
    EXPECT_NEAR(heard_full.crossings_per_second, 882.0, 882.0 * 0.02);
    EXPECT_NEAR(heard_fast.crossings_per_second, heard_full.crossings_per_second,
                heard_full.crossings_per_second * 0.02);

    // Which ear hears a positional sound, whatever the way the listener faces.
    struct
    {
        played_tone tone;
        bool right;
    } const sides[] = {
        {{"south_facing_east", 256, 256, true, {0, -2048, 0}, 0}, true},
        {{"north_facing_east", 256, 256, true, {0, 2048, 0}, 0}, false},
        {{"east_facing_north", 256, 256, true, {2048, 0, 0}, QUARTER_CIRCLE}, true},
    };
    for (const auto &side : sides)
    {
        heard_tone heard;
        ASSERT_TRUE(hear(side.tone, &heard));
        const double louder = side.right ? heard.right : heard.left, quieter = side.right ? heard.left : heard.right;
        EXPECT_GT(louder, 1.5 * quieter) << side.tone.name;
    }
}

} // namespace

} // namespace openal_test_file
