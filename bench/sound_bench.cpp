// Decoding a sound's samples: what the game pays the first time a sound is
// played or preloaded; and the sound manager's update, which runs every frame.  A 60-second stereo track at 22050 Hz is the largest
// the demo data holds (the menu music).

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <cmath>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "game_time.h"
#include "markers.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "sound/sound_preferences.h"
#include "sound/sound_vesk.h"
#include "support/fake_sound_output.h"
#include "tag_files/tag_files.h"
#include "vesk_random.h"

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

// ---- the per-frame update ------------------------------------------------------------------

// Once per local tick with every channel busy: five foreground sounds that
// follow their places, two ambient loops, the stereo background, and 64
// marker sources of eight ambients (weighed, merged, their one-shots fired).
static void write_bench_tag(tag group, const char *name, int16_t version, const void *data, int32_t size)
{
    int32_t index = tag_file_new(group, name, version);
    if (index != NONE && size > 0) tag_file_write(&index, 0, size, data);
    if (index != NONE) tag_file_commit(index);
}

static const world_location3d *bench_listener(void)
{
    static const world_location3d origin{};
    return &origin;
}

static void sound_update_manager(benchmark::State &state)
{
    const bench_scratch_directory directory("sound_bench");
    if (!directory.ready()) return state.SkipWithError("no scratch directory");
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    clear_pending_error();
    initialize_sound_definitions();
    initialize_sound_definitions_for_new_map();
    initialize_sound_vesk();
    initialize_sound_vesk_for_new_map();

    // One short mono sound per role, loaded through the registry.
    std::vector<int16_t> pcm(512);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (int16_t)(8000 * std::sin((double)i * 0.125));
    sound_definition record;
    get_default_sound_definition(&record);
    const sound_pcm_permutation permutation = {pcm.data(), (int32_t)pcm.size(), 1, _sample_rate_22k, 0, nullptr};
    const int32_t size = encode_sound_tag_data(&record, &permutation, 1, nullptr, 0);
    std::vector<uint8_t> data((size_t)size);
    encode_sound_tag_data(&record, &permutation, 1, data.data(), size);
    int16_t sounds[16];
    for (int32_t i = 0; i < 16; ++i)
    {
        char name[5];
        snprintf(name, sizeof(name), "s%03d", (int)i);
        write_bench_tag(SOUND_DEFINITION_GROUP_TAG, name, SOUND_DEFINITION_VERSION, data.data(), size);
        sounds[i] = (int16_t)try_definition_tag_to_index(&sound_definitions,
                                                         FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]), true, 0);
        if (sounds[i] == NONE) return state.SkipWithError("sound refused");
    }
    int16_t ambients[8];
    for (int32_t i = 0; i < 8; ++i)
    {
        ambient_sound_definition ambient;
        get_default_ambient_sound_definition(&ambient);
        byte_swap_data("ambient", &ambient, AMBIENT_SOUND_DEFINITION_SIZE, 1, ambient_sound_definition_byte_swapping_data);
        char name[5];
        snprintf(name, sizeof(name), "a%03d", (int)i);
        write_bench_tag(AMBIENT_SOUND_DEFINITION_GROUP_TAG, name, AMBIENT_SOUND_DEFINITION_VERSION, &ambient,
                        sizeof(ambient));
        ambients[i] = (int16_t)try_definition_tag_to_index(&ambient_sound_definitions,
                                                           FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]), true, 0);
        ambient_sound_definition *loaded = get_ambient_sound_definition(ambients[i]);
        if (!loaded) return state.SkipWithError("ambient refused");
        loaded->flags = 0;
        loaded->inner_radius = 2048;
        loaded->outer_radius = 16384;
        loaded->sound_indexes[_ambient_sound_background_sound] = sounds[i];
        loaded->sound_indexes[_ambient_sound_random_sound] = sounds[8 + i];
        loaded->random_sound_radius = 1024;
        loaded->period_lower_bound = 30;
        loaded->period_delta = 60;
    }

    reset_fake_sound_output();
    set_sound_manager_platform_for_tests(&fake_sound_output_impl);
    set_sound_manager_listener_for_tests(bench_listener);
    use_sound_preferences_store(false); // the defaults: ambient sources heard, full volume
    default_sound_preferences(get_sound_preferences());
    set_local_random_seed(0x5eed);
    game_->local_time = 1;
    initialize_sound_manager();
    initialize_sound_manager_for_new_map();

    static marker_data markers[MAXIMUM_SOUND_SOURCES_PER_MAP];
    for (int32_t i = 0; i < MAXIMUM_SOUND_SOURCES_PER_MAP; ++i)
    {
        markers[i] = marker_data{};
        markers[i].type = _marker_sound_source;
        markers[i].identifier = (int16_t)(i + 1);
        markers[i].location.position = {(i % 8 - 4) * 1500, (i / 8 - 4) * 1500, 0};
        marker_palette_entry entry{};
        entry.tag_index = ambients[i % 8];
        new_sound_source(&markers[i], &entry);
    }
    set_global_ambient_sound_index(ambients[0]);
    for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
    {
        world_location3d place{};
        place.position = {1000 * (i + 1), -500 * i, 0};
        play_sound_with_flags(sounds[i], NONE, &place, 256, _play_sound_static_source_flag);
    }

    int32_t busy = 0;
    for (auto _ : state)
    {
        ++game_->local_time;
        update_sound_manager(1);
    }
    for (const sound_channel_data &channel : get_sound_manager_globals()->sound_channels)
        busy += channel.sound_index != NONE;
    state.SetLabel(std::to_string(busy) + " busy channels, 64 sources");

    dispose_sound_manager();
    set_sound_manager_platform_for_tests(nullptr);
    set_sound_manager_listener_for_tests(nullptr);
    dispose_sound_vesk_from_old_map();
    dispose_sound_definitions_from_old_map();
    dispose_sound_definitions();
    dispose_tag_files();
}
BENCHMARK(sound_update_manager)->Unit(benchmark::kMicrosecond);
