// The sound manager over a remembering output and a seeded local_random:
// which channel a request takes, reference counts, permutation rounds,
// subtitles of silent requests, orphaned sounds, and the attenuation, pan,
// master volume and volume keys.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/console_popup.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "shapes.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "sound/sound_vesk.h"
#include "mesh.h"
#include "support/test_mesh.h"
#include "cseries/byte_swapping.h"
#include "support/fake_sound_output.h"
#include "support/sound_signals.h"
#include "tag_files/store_fixture.h"
#include "vesk/string_lists.h"
#include "tag_files/preferences.h"
#include "vesk_random.h"

namespace sound_manager_test_file {

namespace {

world_location3d listener; // at the origin facing east unless a test moves it
const world_location3d *test_listener(void) { return &listener; }

uint32_t fake_now;
uint32_t fake_tick_count(void) { return fake_now; }

#define SUBTITLES_TAG FOUR_CHARACTER_CODE('s', 'u', 'b', 't')
#define VOLUME_STRINGS_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'v')

struct sound_spec
{
    uint32_t flags = 0;
    int16_t loudness = _sound_is_normal;
    int32_t permutations = 1;
    uint16_t play_fraction = 65535;
    uint16_t skip_fraction = 0;
    bool subtitles = false;
};

class sound_manager_test : public store_fixture::store_test
{
protected:
    std::vector<int16_t> tone = make_sine(64 * 4, 1, 440, 22050, 8000);
    int32_t sound_count = 0;

    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        ASSERT_TRUE(initialize_sound_definitions());
        initialize_sound_definitions_for_new_map();
        reset_fake_sound_output();
        set_sound_manager_platform_for_tests(&fake_sound_output_impl);
        set_sound_manager_listener_for_tests(test_listener);
        listener = world_location3d{};
        default_sound_preferences(get_sound_preferences());
        set_local_random_seed(0x5eed);
        game_->local_time = 100;
        ASSERT_TRUE(initialize_sound_manager());
        initialize_sound_manager_for_new_map();
        ASSERT_TRUE(get_sound_manager_globals()->initialized);
    }

    void TearDown() override
    {
        dispose_sound_manager();
        set_sound_manager_platform_for_tests(nullptr);
        set_sound_manager_listener_for_tests(nullptr);
        set_machine_tick_count_for_tests(nullptr);
        game_->state = _game_state_starting_up;
        dispose_sound_definitions_from_old_map();
        dispose_sound_definitions();
        store_test::TearDown();
    }

    void write_string_list(tag group, const char *name, const std::vector<const char *> &rows)
    {
        const int32_t size = encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0);
        std::vector<uint8_t> data((size_t)size);
        ASSERT_EQ(encode_string_list_data(rows.data(), (int32_t)rows.size(), data.data(), size), size);
        write_local_tag(group, name, STRING_LIST_VERSION, data.data(), size);
    }

    int16_t add_sound(const sound_spec &spec, const char *tag_name = nullptr)
    {
        sound_definition record;
        get_default_sound_definition(&record);
        record.flags = spec.flags;
        record.loudness = spec.loudness;
        record.play_fraction = spec.play_fraction;
        record.pitch_lower_bound = record.volume_lower_bound = 256;
        record.pitch_delta = record.volume_delta = 0;
        record.subtitle_string_list_tag = spec.subtitles ? SUBTITLES_TAG : (tag)NONE;
        record.first_subtitle_within_string_list_index = 1;
        std::vector<sound_pcm_permutation> permutations(
            (size_t)spec.permutations, {tone.data(), 64 * 4, 1, _sample_rate_22k, spec.skip_fraction, nullptr});
        const int32_t size = encode_sound_tag_data(&record, permutations.data(), spec.permutations, nullptr, 0);
        std::vector<uint8_t> bytes((size_t)size);
        EXPECT_EQ(encode_sound_tag_data(&record, permutations.data(), spec.permutations, bytes.data(), size), size);
        char name[5];
        if (tag_name)
            snprintf(name, sizeof(name), "%s", tag_name);
        else
            snprintf(name, sizeof(name), "s%03d", sound_count++);
        write_local_tag(SOUND_DEFINITION_GROUP_TAG, name, SOUND_DEFINITION_VERSION, bytes.data(), size);
        const int32_t index = try_definition_tag_to_index(
            &sound_definitions, FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]), true, 0);
        EXPECT_NE(index, NONE);
        return (int16_t)index;
    }

    static sound_variables request(int16_t loudness, int16_t volume)
    {
        sound_variables variables{};
        variables.original_volume = variables.volume = variables.left_volume = variables.right_volume = volume;
        variables.original_pitch = variables.pitch = 256;
        variables.loudness = loudness;
        return variables;
    }

    static world_location3d at(int32_t x, int32_t y)
    {
        world_location3d location{};
        location.position = {(world_distance)x, (world_distance)y, 0};
        return location;
    }
};

// ---- which channel a request takes ------------------------------------------------------

struct busy_channel
{
    int16_t loudness, volume;
    bool full;
};

TEST_F(sound_manager_test, a_request_takes_the_lowest_free_or_abortable_channel_by_loudness_and_margin)
{
    const busy_channel five_normal[5] = {{1, 200, false}, {1, 200, false}, {1, 200, false}, {1, 200, false},
                                         {1, 200, false}};
    const busy_channel full_first[5] = {{1, 200, true}, {1, 200, false}, {1, 200, false}, {1, 200, false},
                                        {1, 200, false}};
    const struct
    {
        const char *what;
        const busy_channel *busy;
        int16_t loudness, volume;
        int32_t expected;
    } cases[] = {
        {"a louder class cuts off channel 0", five_normal, 2, 100, 0},
        {"equal class within the margin of 42 takes nothing", five_normal, 1, 242, NONE},
        {"equal class beyond the margin cuts off channel 0", five_normal, 1, 243, 0},
        {"a quieter class takes nothing", five_normal, 0, 256, NONE},
        {"a channel with both buffers queued is never cut off", full_first, 2, 100, 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        stop_all_sounds();
        for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
        {
            const sound_variables busy = request(c.busy[i].loudness, c.busy[i].volume);
            ASSERT_EQ(start_sound(add_sound({}), &busy), i);
            if (c.busy[i].full) get_fake_sound_output()->channels[i].state = _sound_channel_busy_and_full;
        }
        const sound_variables newcomer = request(c.loudness, c.volume);
        EXPECT_EQ(start_sound(add_sound({}), &newcomer), c.expected);
    }
}

TEST_F(sound_manager_test, a_sound_already_playing_takes_another_channel_only_when_it_may_occupy_several)
{
    const struct
    {
        const char *what;
        uint32_t flags;
        int16_t second_loudness;
        int32_t expected;
    } cases[] = {
        {"one channel only: dropped though channels are free", 0, 1, NONE},
        {"one channel only, louder: replaces itself", 0, 2, 0},
        {"cannot be restarted: dropped even when louder", _sound_cannot_be_restarted_flag, 2, NONE},
        {"several channels: a free one", _sound_can_occupy_multiple_channels_flag, 1, 1},
        {"several channels, cannot restart: a free one",
         _sound_can_occupy_multiple_channels_flag | _sound_cannot_be_restarted_flag, 1, 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        stop_all_sounds();
        const int16_t sound = add_sound({.flags = c.flags});
        const sound_variables first = request(1, 200), second = request(c.second_loudness, 200);
        ASSERT_EQ(start_sound(sound, &first), 0);
        EXPECT_EQ(start_sound(sound, &second), c.expected);
    }
}

// After any sequence of plays, stops, orphans and finished channels every
// definition is held by exactly the channels that play it.
TEST_F(sound_manager_test, reference_counts_match_the_channels_after_long_random_sequences)
{
    std::vector<int16_t> sounds;
    for (uint32_t flags : {0u, (uint32_t)_sound_can_occupy_multiple_channels_flag,
                           (uint32_t)_sound_stopped_when_source_disappears_flag, (uint32_t)_sound_cannot_be_restarted_flag})
        sounds.push_back(add_sound({.flags = flags, .permutations = 2}));
    uint32_t state = 7;
    auto next = [&](uint32_t n) { return (state = state * 1103515245u + 12345u) / 65536u % n; };
    for (int32_t step = 0; step < 4000; ++step)
    {
        const int16_t sound = sounds[next((uint32_t)sounds.size())];
        const int16_t source = (int16_t)next(4);
        switch (next(6))
        {
        case 0: case 1: {
            const world_location3d place = at((int32_t)next(20000), 0);
            play_sound_with_flags(sound, source, &place, 256, 0);
            break;
        }
        case 2: stop_sound(next(2) ? source : (int16_t)NONE, next(2) ? sound : (int16_t)NONE); break;
        case 3: orphan_sounds(source); break;
        case 4: get_fake_sound_output()->channels[next(TOTAL_NUMBER_OF_SOUND_CHANNELS)].state = _sound_channel_idle; break;
        case 5: ++game_->local_time; update_sound_manager(1); break;
        }
        for (int16_t s : sounds)
        {
            int32_t holders = 0;
            for (const sound_channel_data &channel : get_sound_manager_globals()->sound_channels)
                holders += channel.sound_index == s;
            ASSERT_EQ(get_sound_definition(s)->reference_count, holders) << "step " << step;
        }
    }
}

TEST_F(sound_manager_test, every_round_of_picks_plays_each_permutation_once)
{
    for (int32_t n = 1; n <= MAXIMUM_PERMUTATIONS_PER_SOUND; ++n)
    {
        const int16_t sound = add_sound({.permutations = n});
        for (int32_t round = 0; round < 50; ++round)
        {
            std::set<int32_t> picked;
            for (int32_t i = 0; i < n; ++i) picked.insert(pick_sound_permutation(sound));
            ASSERT_EQ((int32_t)picked.size(), n) << n << " permutations, round " << round;
            EXPECT_EQ(*picked.begin(), 0);
            EXPECT_EQ(*picked.rbegin(), n - 1);
        }
    }
    // Permutations nearly always skipped still give a pick, and in range.
    const int16_t skipping = add_sound({.permutations = 5, .skip_fraction = 65535});
    for (int32_t i = 0; i < 100; ++i)
    {
        const int32_t k = pick_sound_permutation(skipping);
        ASSERT_TRUE(k >= 0 && k < 5);
    }
}

// ---- subtitles and silence ---------------------------------------------------------------

TEST_F(sound_manager_test, silent_requests_still_print_their_subtitle)
{
    write_string_list(STRING_LIST_GROUP_TAG, "subt", {"unused", "first", "second", "third"});
    ASSERT_TRUE(initialize_shapes());
    initialize_shapes_for_new_map();
    initialize_console();
    ASSERT_TRUE(initialize_console_for_new_map());
    ASSERT_TRUE(initialize_game_preferences(false));
    const struct
    {
        const char *what;
        bool subtitles_on;
        int16_t master_volume;
        uint16_t play_fraction;
        bool muted;
        const char *expected; // null: nothing printed
    } cases[] = {
        {"a failed roll prints the first subtitle", true, 256, 0, false, "first"},
        {"subtitles off and volume up: nothing", false, 256, 65535, false, nullptr},
        {"master volume 0 forces the subtitle", false, 0, 65535, false, "first"},
        {"muted, subtitles on", true, 256, 65535, true, "first"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        game_preferences *preferences = get_game_preferences();
        preferences->flags = c.subtitles_on ? preferences->flags | _game_pref_show_subtitles_flag
                                            : preferences->flags & ~(uint32_t)_game_pref_show_subtitles_flag;
        get_sound_preferences()->master_volume = c.master_volume;
        sound_mute(c.muted);
        const int16_t sound = add_sound({.permutations = 1, .play_fraction = c.play_fraction, .subtitles = true});
        const int32_t lines = get_console_globals()->line_count;
        play_sound_with_flags(sound, NONE, nullptr, 256, 0);
        if (!c.expected)
        {
            EXPECT_EQ(get_console_globals()->line_count, lines);
            continue;
        }
        ASSERT_EQ(get_console_globals()->line_count, lines + 1);
        EXPECT_EQ(std::string(get_console_line_text(0)).substr(0, strlen(c.expected)), c.expected);
        EXPECT_EQ(get_sound_definition(sound)->local_tick_last_played, 100u);
    }
    sound_mute(false);
    dispose_console_from_old_map();
    dispose_shapes_from_old_map();
}

TEST_F(sound_manager_test, orphaned_sounds_stop_only_when_they_end_with_their_source)
{
    const int16_t stopping = add_sound({.flags = _sound_stopped_when_source_disappears_flag});
    const int16_t lingering = add_sound({});
    const world_location3d place = at(1000, 0);
    play_sound_with_flags(stopping, 3, &place, 256, 0);
    play_sound_with_flags(lingering, 3, &place, 256, 0);
    const sound_channel_data *channels = get_sound_manager_globals()->sound_channels;
    ASSERT_EQ(channels[0].sound_index, stopping);
    ASSERT_EQ(channels[1].sound_index, lingering);
    orphan_sounds(3);
    EXPECT_EQ(channels[0].sound_index, NONE);
    EXPECT_EQ(get_fake_sound_output()->channels[0].state, _sound_channel_idle);
    EXPECT_EQ(channels[1].sound_index, lingering);
    EXPECT_EQ(channels[1].source_identifier, NONE);
    EXPECT_EQ(channels[1].source.position.x, 1000);
    EXPECT_TRUE(sound_is_playing(lingering));
}

// ---- attenuation, pan and master volume ---------------------------------------------------

TEST_F(sound_manager_test, distance_curves_by_loudness)
{
    const struct
    {
        int16_t loudness;
        int32_t distance, expected;
    } cases[] = {
        {_sound_is_normal, 0, 256},     {_sound_is_normal, 6144, 256}, {_sound_is_normal, 12288, 128},
        {_sound_is_normal, 18432, 0},   {_sound_is_normal, 18433, 0},  {_sound_is_quiet, 8192, 128},
        {_sound_is_loud, 30000, 28},  {_sound_is_loud, 8192, 256},   {_sound_is_narration, 12288, 128},
    };
    for (const auto &c : cases)
    {
        const int16_t sound = add_sound({.loudness = c.loudness});
        sound_variables variables;
        const world_location3d place = at(c.distance, 0);
        new_sound_variables_from_source(&variables, sound, &place, 256, false, 0);
        EXPECT_EQ(variables.volume, c.expected) << c.loudness << " at " << c.distance;
        EXPECT_TRUE(variables.bHasSource);
    }
    // Under the water surface: a quiet sound is silent, a normal one half as loud at once.
    EXPECT_EQ(sound_distance_volume_factor(_sound_is_quiet, true, 0), 0);
    EXPECT_EQ(sound_distance_volume_factor(_sound_is_normal, true, 3584), 64);
    for (int16_t loudness = 0; loudness < NUMBER_OF_SOUND_LOUDNESSES; ++loudness)
        for (bool obstructed : {false, true})
            for (int32_t d = 0, last = 256; d < 30000; d += 37)
            {
                const int32_t factor = sound_distance_volume_factor(loudness, obstructed, d);
                ASSERT_LE(factor, last) << loudness << obstructed << d;
                last = factor;
            }
}

TEST_F(sound_manager_test, without_3D_the_far_ear_never_drops_below_a_quarter)
{
    toggle_3D_sound(false);
    const int16_t sound = add_sound({});
    const struct
    {
        const char *what;
        int32_t x, y;
        int32_t left, right;
    } cases[] = {
        {"on the listener", 0, 0, 256, 256},
        {"ahead", 3000, 0, 256, 256},
        {"to the left (north)", 0, 3000, 256, 64},
        {"to the right (south)", 0, -3000, 64, 256},
    };
    for (const auto &c : cases)
    {
        sound_variables variables;
        const world_location3d place = at(c.x, c.y);
        new_sound_variables_from_source(&variables, sound, &place, 256, false, 0);
        EXPECT_EQ(variables.left_volume, c.left) << c.what;
        EXPECT_EQ(variables.right_volume, c.right) << c.what;
    }
}

TEST_F(sound_manager_test, the_output_hears_the_master_volume_unless_the_request_is_full_volume)
{
    const int16_t plain = add_sound({}), full = add_sound({});
    get_sound_preferences()->master_volume = 128;
    play_sound_with_flags(plain, NONE, nullptr, 256, 0);
    play_sound_with_flags(full, NONE, nullptr, 256, _play_sound_full_volume_flag);
    const fake_sound_channel *sent = get_fake_sound_output()->channels;
    EXPECT_EQ(sent[0].variables.volume, 128);
    EXPECT_EQ(sent[1].variables.volume, 256);
    EXPECT_EQ(get_sound_manager_globals()->sound_channels[0].variables.volume, 256); // kept unscaled
    get_sound_preferences()->master_volume = 64;
    update_sound_volume();
    EXPECT_EQ(sent[0].variables.volume, 64);
}

TEST_F(sound_manager_test, volume_keys_ramp_jump_and_show_the_percentage)
{
    write_string_list(STRING_LIST_GROUP_TAG, "insv", {"Volume", "Off", "%d%%%s%n"});
    initialize_console_popup();
    initialize_console_popup_for_new_map();
    set_machine_tick_count_for_tests(fake_tick_count);
    game_->state = _game_state_running;
    const struct
    {
        const char *what;
        bool decrease, increase, jump;
        uint32_t held_ms;
        int16_t expected;
        const char *popup; // null: not checked
    } cases[] = {
        {"F4 for 333 ms", false, true, false, 333, 136, nullptr},
        {"F4 for 1332 ms", false, true, false, 1332, 224, nullptr},
        {"Shift+F3", true, false, true, 0, 0, "Off"},
        {"F3 at first press", true, false, false, 0, 127, nullptr},
        // The percentage text is data: a format with more than one integer is shown raw.
        {"hostile format", false, true, false, 0, 131, "%d%%%s%n"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        get_sound_preferences()->master_volume = 128;
        continuous_volume_adjustment(false, false, false);
        fake_now = 1000;
        continuous_volume_adjustment(c.decrease, c.increase, c.jump);
        fake_now += c.held_ms;
        continuous_volume_adjustment(c.decrease, c.increase, c.jump);
        EXPECT_EQ(get_sound_preferences()->master_volume, c.expected);
        EXPECT_STREQ(get_console_popup_globals()->left, "Volume");
        if (c.popup)
        {
            EXPECT_STREQ(get_console_popup_globals()->right, c.popup);
        }
    }
    dispose_console_popup_from_old_map();
}

// ---- ambient sound sources ------------------------------------------------------------------

struct ambient_spec
{
    uint32_t flags = _ambient_sound_has_infinite_radius_flag;
    int16_t inner_radius = 0, outer_radius = 0;
    int16_t background = NONE, random = NONE;
    int16_t random_sound_radius = 0;
};

struct captured_report
{
    bool positional;
    world_point3d at;
    int16_t ambient;
    int32_t volume;
};

void capture_report(void *user_data, const world_point3d *location, int16_t ambient, short_fixed volume)
{
    static_cast<std::vector<captured_report> *>(user_data)->push_back(
        {location != nullptr, location ? *location : world_point3d{}, ambient, volume});
}

class ambient_sound_test : public sound_manager_test
{
protected:
    int32_t ambient_count = 0;
    std::vector<marker_data> markers = std::vector<marker_data>(MAXIMUM_SOUND_SOURCES_PER_MAP);

    void SetUp() override
    {
        sound_manager_test::SetUp();
        ASSERT_TRUE(initialize_sound_vesk());
        initialize_sound_vesk_for_new_map();
    }

    void TearDown() override
    {
        dispose_sound_vesk_from_old_map();
        sound_manager_test::TearDown();
    }

    int16_t add_ambient(const ambient_spec &spec)
    {
        ambient_sound_definition record;
        get_default_ambient_sound_definition(&record);
        EXPECT_TRUE(byte_swap_data("ambient", &record, AMBIENT_SOUND_DEFINITION_SIZE, 1,
                                   ambient_sound_definition_byte_swapping_data));
        char name[5];
        snprintf(name, sizeof(name), "a%03d", ambient_count++);
        write_local_tag(AMBIENT_SOUND_DEFINITION_GROUP_TAG, name, AMBIENT_SOUND_DEFINITION_VERSION, &record,
                        sizeof(record));
        const int32_t index = try_definition_tag_to_index(
            &ambient_sound_definitions, FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]), true, 0);
        ambient_sound_definition *ambient = get_ambient_sound_definition(index);
        EXPECT_NE(ambient, nullptr);
        if (!ambient) return NONE;
        ambient->flags = spec.flags;
        ambient->inner_radius = spec.inner_radius;
        ambient->outer_radius = spec.outer_radius;
        ambient->sound_indexes[_ambient_sound_background_sound] = spec.background;
        ambient->sound_indexes[_ambient_sound_random_sound] = spec.random;
        ambient->random_sound_radius = spec.random_sound_radius;
        return (int16_t)index;
    }

    // A source of `ambient` placed by marker `identifier` at (x, y).
    void place_source(int16_t identifier, int16_t ambient, int32_t x, int32_t y)
    {
        marker_data &marker = markers[(size_t)identifier];
        marker = marker_data{};
        marker.type = _marker_sound_source;
        marker.identifier = identifier;
        marker.location = at(x, y);
        marker_palette_entry entry{};
        entry.tag_index = ambient;
        ASSERT_NE(new_sound_source(&marker, &entry), NONE);
    }

    std::vector<captured_report> reports(void)
    {
        std::vector<captured_report> seen;
        int32_t count = 0;
        report_ambient_sound_sources_proc(&seen, &count, capture_report);
        EXPECT_EQ(count, (int32_t)seen.size());
        return seen;
    }
};

// Of three candidates of one loudness the quietest, the later of equals, is dropped.
TEST_F(ambient_sound_test, the_two_most_important_candidates_take_the_ambient_channels)
{
    const int16_t volumes[3] = {100, 50, 50};
    int16_t loops[3];
    for (int16_t i = 0; i < 3; ++i)
    {
        loops[i] = add_sound({.permutations = 1});
        place_source((int16_t)(i + 1), add_ambient({.background = loops[i]}), 0, 0);
        adjust_ambient_sound_source_volume((int16_t)(i + 1), volumes[i], 0);
    }
    ++game_->local_time;
    update_sound_manager(1);
    const sound_manager_globals *globals = get_sound_manager_globals();
    EXPECT_EQ(globals->sound_channels[5].sound_index, loops[0]);
    EXPECT_EQ(globals->sound_channels[6].sound_index, loops[1]);
    EXPECT_EQ(get_fake_sound_output()->channels[5].variables.volume, 100);

    // A continuing candidate keeps its channel and is not restarted.
    const int32_t frees = get_fake_sound_output()->channels[5].frees;
    ++game_->local_time;
    update_sound_manager(1);
    EXPECT_EQ(globals->sound_channels[5].sound_index, loops[0]);
    EXPECT_EQ(get_fake_sound_output()->channels[5].frees, frees);

    // The same local time: nothing is done.
    const int32_t updates = get_fake_sound_output()->updates;
    update_sound_manager(0);
    EXPECT_EQ(get_fake_sound_output()->updates, updates);
}

TEST_F(ambient_sound_test, sources_fade_with_distance_and_are_silent_from_the_outer_radius)
{
    const int16_t ambient = add_ambient({.flags = 0, .inner_radius = 1000, .outer_radius = 3000});
    const int16_t everywhere = add_ambient({.flags = _ambient_sound_has_infinite_radius_flag | _ambient_sound_has_no_position_flag});
    const struct
    {
        int32_t distance;
        int32_t expected; // NONE: not reported
    } cases[] = {{0, 256}, {1000, 256}, {2000, 128}, {2999, 0 /* rounds to nothing */}, {3000, NONE}, {30000, NONE}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.distance);
        initialize_sound_vesk_for_new_map();
        place_source(1, ambient, c.distance, 0);
        const std::vector<captured_report> seen = reports();
        const int32_t expected = c.expected == 0 ? NONE : c.expected;
        ASSERT_EQ(seen.size(), expected == NONE ? 0u : 1u);
        if (expected == NONE) continue;
        EXPECT_EQ(seen[0].volume, expected);
        EXPECT_TRUE(seen[0].positional);
        EXPECT_EQ(seen[0].at.x, c.distance);
    }
    // Infinite radius and no position: heard anywhere, from nowhere in particular.
    initialize_sound_vesk_for_new_map();
    place_source(1, everywhere, 100000, 0);
    const std::vector<captured_report> seen = reports();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].positional);
    // At most seven reports.
    initialize_sound_vesk_for_new_map();
    for (int16_t i = 1; i <= 9; ++i) place_source(i, everywhere, 0, 0);
    EXPECT_EQ(reports().size(), (size_t)MAXIMUM_RAW_AMBIENT_SOUNDS);
}

// A fade begun in the tick the update also runs starts from where it was;
// a retargeted one leaves from the volume it had reached.
TEST_F(ambient_sound_test, fades_start_at_their_start_volume_and_retarget_from_the_current_one)
{
    const int16_t ambient = add_ambient({});
    place_source(7, ambient, 0, 0);
    adjust_ambient_sound_source_volume(7, 0, 30);
    const int32_t start = game_->local_time;
    const struct
    {
        int32_t at;
        int16_t retarget; // NONE: none
        int32_t expected;
    } steps[] = {{0, NONE, 256}, {15, NONE, 128}, {30, NONE, 0}, {31, NONE, 0},
                 {31, 256, 0}, {46, NONE, 128}, {46, 0, 128}, {61, NONE, 64}, {76, NONE, 0}};
    for (const auto &s : steps)
    {
        SCOPED_TRACE(s.at);
        game_->local_time = start + s.at;
        if (s.retarget != NONE) adjust_ambient_sound_source_volume(7, s.retarget, 30);
        const std::vector<captured_report> seen = reports();
        ASSERT_EQ(seen.size(), s.expected == 0 ? 0u : 1u);
        for (const captured_report &report : seen) EXPECT_EQ(report.volume, s.expected);
    }
    adjust_ambient_sound_source_volume(99, 256, 0); // no such source: nothing
    world_point3d point{1, 2, 3};
    EXPECT_FALSE(get_ambient_sound_source_location(99, &point));
    EXPECT_EQ(point.x, 0);
}

// One-shots fall within the ambient's radius of its source and inside the map;
// the first waits one full period; a non-positional ambient's play without a place.
TEST_F(ambient_sound_test, one_shots_stay_within_their_radius_and_the_map)
{
    initialize_mesh();
    ASSERT_TRUE(load_test_mesh(test_mesh_header(8, 8))); // 4096 x 4096
    const int16_t loop = add_sound({}), shot = add_sound({.flags = _sound_can_occupy_multiple_channels_flag});
    const int16_t corner = add_ambient({.background = loop, .random = shot, .random_sound_radius = 2000});
    ambient_sound_definition *definition = get_ambient_sound_definition(corner);
    definition->period_lower_bound = 1;
    definition->period_delta = 0;
    place_source(1, corner, 100, 4000);
    int32_t shots = 0;
    for (int32_t frame = 0; frame < 400; ++frame)
    {
        for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
            get_fake_sound_output()->channels[i].state = _sound_channel_idle;
        ++game_->local_time;
        update_sound_manager(1);
        if (frame < 1)
        {
            EXPECT_EQ(get_sound_manager_globals()->sound_channels[0].sound_index, NONE);
        }
        for (const sound_channel_data &channel : get_sound_manager_globals()->sound_channels)
        {
            if (channel.sound_index != shot) continue;
            ++shots;
            const world_point2d from{100, 4000}, to{channel.source.position.x, channel.source.position.y};
            EXPECT_LE(distance2d(&from, &to), 2001);
            EXPECT_GE(to.x, 0);
            EXPECT_LT(to.y, 4096);
        }
    }
    EXPECT_GT(shots, 50);

    initialize_sound_vesk_for_new_map();
    stop_all_sounds();
    const int16_t nowhere = add_ambient({.flags = _ambient_sound_has_infinite_radius_flag | _ambient_sound_has_no_position_flag,
                                         .background = loop, .random = shot, .random_sound_radius = 2000});
    get_ambient_sound_definition(nowhere)->period_lower_bound = 1;
    get_ambient_sound_definition(nowhere)->period_delta = 0;
    place_source(2, nowhere, 3000, 3000);
    bool heard = false;
    for (int32_t frame = 0; frame < 10; ++frame)
    {
        ++game_->local_time;
        update_sound_manager(1);
        for (int32_t i = 0; i < NUMBER_OF_FOREGROUND_SOUND_CHANNELS; ++i)
        {
            if (get_sound_manager_globals()->sound_channels[i].sound_index != shot) continue;
            heard = true;
            EXPECT_FALSE(get_fake_sound_output()->channels[i].variables.bHasSource);
        }
    }
    EXPECT_TRUE(heard);
    dispose_mesh_from_old_map();
}

} // namespace

// ---- the stereo channel, the menu music and the preferences --------------------------------

namespace {

const char *const music_tags[] = {"mamm", "mamn", "mamo", "mamp"};
const int32_t music_weights[] = {20, 20, 10, 20};

} // namespace

// Each draw excludes the track played last and weighs the others 20/20/10/20:
// counted per previous track, every next track stays within binomial bounds.
TEST_F(sound_manager_test, the_menu_music_follows_its_weights_and_never_repeats)
{
    int16_t tracks[4];
    for (int32_t i = 0; i < 4; ++i) tracks[i] = add_sound({}, music_tags[i]);
    int32_t counts[4][4] = {};
    int32_t previous = NONE;
    for (int32_t draw = 0; draw < 7000; ++draw)
    {
        get_fake_sound_output()->channels[7].state = _sound_channel_idle; // the track has ended
        start_main_menu_music();
        const int32_t position = get_last_played_music_index();
        ASSERT_TRUE(position >= 0 && position < 4);
        ASSERT_EQ(get_sound_manager_globals()->sound_channels[7].sound_index, tracks[position]);
        ASSERT_NE(position, previous) << "draw " << draw;
        if (previous != NONE) ++counts[previous][position];
        previous = position;
    }
    for (int32_t from = 0; from < 4; ++from)
    {
        int32_t n = 0, total = 0;
        for (int32_t to = 0; to < 4; ++to) n += counts[from][to];
        for (int32_t to = 0; to < 4; ++to) total += to == from ? 0 : music_weights[to];
        ASSERT_GT(n, 500);
        for (int32_t to = 0; to < 4; ++to)
        {
            if (to == from) continue;
            const double p = (double)music_weights[to] / total;
            const double sigma = std::sqrt(n * p * (1 - p));
            EXPECT_NEAR(counts[from][to], n * p, 4 * sigma) << music_tags[from] << " -> " << music_tags[to];
        }
    }
    EXPECT_EQ(get_sound_definition(tracks[previous])->reference_count, 1);
}

TEST_F(sound_manager_test, the_menu_music_waits_for_clicks_and_gives_way_to_narration)
{
    int16_t tracks[4];
    for (int32_t i = 0; i < 4; ++i) tracks[i] = add_sound({}, music_tags[i]);
    const int16_t click = add_sound({});
    const int16_t narration = add_sound({});
    const sound_channel_data *channels = get_sound_manager_globals()->sound_channels;

    stop_main_menu_music();
    EXPECT_EQ(get_fake_sound_output()->channels[7].frees, 0) << "no music: nothing stopped";

    play_sound_with_flags(click, NONE, nullptr, 256, 0);
    ASSERT_EQ(channels[0].sound_index, click);
    start_main_menu_music();
    EXPECT_EQ(channels[7].sound_index, NONE) << "a click still sounding keeps the music back";
    EXPECT_EQ(get_last_played_music_index(), NONE);

    get_fake_sound_output()->channels[0].state = _sound_channel_idle;
    start_main_menu_music();
    const int16_t music = channels[7].sound_index;
    ASSERT_NE(music, NONE);
    EXPECT_EQ(music, tracks[get_last_played_music_index()]);

    play_stereo_sound(narration);
    EXPECT_EQ(channels[7].sound_index, narration) << "narration replaces the music";
    EXPECT_EQ(get_sound_definition(music)->reference_count, 0);
    EXPECT_EQ(get_sound_definition(narration)->reference_count, 1);
    stop_main_menu_music();
    EXPECT_EQ(channels[7].sound_index, narration) << "only music is stopped";

    get_fake_sound_output()->channels[7].state = _sound_channel_idle;
    start_main_menu_music();
    ASSERT_NE(channels[7].sound_index, narration);
    stop_main_menu_music();
    EXPECT_EQ(channels[7].sound_index, NONE);
}

// While the menu stays, each track that ends is followed by another, chosen
// as the first was; once the music is stopped, nothing follows.
TEST_F(sound_manager_test, the_menu_music_goes_on_until_it_is_stopped)
{
    int16_t tracks[4];
    for (int32_t i = 0; i < 4; ++i) tracks[i] = add_sound({}, music_tags[i]);
    const int16_t *playing = &get_sound_manager_globals()->sound_channels[7].sound_index;
    game_->state = _game_state_displaying_main_menu;
    start_main_menu_music();
    for (int32_t track = 0; track < 8; ++track)
    {
        if (track == 6) stop_main_menu_music();
        const int16_t previous = *playing;
        get_fake_sound_output()->channels[7].state = _sound_channel_idle;
        ++game_->local_time;
        update_sound_manager(1);
        EXPECT_EQ(*playing, track < 6 ? tracks[get_last_played_music_index()] : (int16_t)NONE) << track;
        EXPECT_TRUE(track >= 6 || *playing != previous) << track;
    }
}

// The stored record is corrected on reading, written back when the manager
// leaves a map, and its provider decides whether a reboot is heard.
TEST_F(sound_manager_test, stored_preferences_are_corrected_and_choose_the_output_on_reboot)
{
    sound_preferences stored = {0, 9, 300, 100, 0, 0};
    ASSERT_TRUE(byte_swap_data("sound", &stored, sizeof(stored), 1, sound_preferences_byte_swapping_data));
    write_local_tag(PREFERENCES_GROUP_TAG, SOUND_PREFERENCES_NAME, SOUND_PREFERENCES_VERSION_NUMBER, &stored,
                    (int32_t)sizeof(stored));
    reboot_sound_manager();
    const sound_preferences *record = get_sound_preferences();
    EXPECT_EQ(record->sound_channel_count, 5);
    EXPECT_EQ(record->master_volume, 256);
    EXPECT_EQ(record->master_pitch, 256);
    EXPECT_EQ(record->provider_id, _sound_provider_openal);

    const int16_t sound = add_sound({});
    const struct
    {
        int16_t provider;
        bool muted;
    } cases[] = {{_sound_provider_none, true}, {_sound_provider_openal, false}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.provider);
        get_sound_preferences()->provider_id = c.provider;
        ASSERT_TRUE(write_sound_preferences());
        reset_fake_sound_output();
        reboot_sound_manager();
        EXPECT_EQ(get_sound_mute(), c.muted);
        play_sound_with_flags(sound, NONE, nullptr, 256, 0);
        EXPECT_EQ(get_fake_sound_output()->channels[0].buffers_queued, c.muted ? 0 : 1);
    }

    get_sound_preferences()->master_volume = 77;
    dispose_sound_manager_from_old_map();
    free_sound_preferences();
    get_sound_preferences()->master_volume = 256;
    read_sound_preferences(false);
    EXPECT_EQ(get_sound_preferences()->master_volume, 77) << "leaving the map stored the change";
}

} // namespace sound_manager_test_file

// The test programs compile their files together: this file's macros end here.
#undef SUBTITLES_TAG
#undef VOLUME_STRINGS_TAG
