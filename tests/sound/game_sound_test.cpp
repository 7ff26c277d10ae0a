// Sound through the whole game, heard in what the audio library's wave output
// records: the main menu's music starts one of the demo's tracks, then a demo
// unit on the listener's right answers through the object-sound point.  The
// recording and its spectrogram stay in the test's build folder
// (game_sound.wav, game_sound.png) to be looked at.  Then the life of the
// channels in the real output: sound reboots between maps, objects deleted
// under their sounds, and an output that cannot make a whole set.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cseries/files.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "main_menu.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "session_state.h"
#include "sound/load_openal.h"
#include "sound/sound_definitions.h"
#include "sound/sound_hooks.h"
#include "sound/sound_manager.h"
#include "sound/sound_openal.h"
#include "sound_procedures.h"
#include "tag_files/definitions.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/wave_output.h"
#include "vesk.h"

namespace game_sound_test_file {

namespace {

// The child takes some 10 s under the sanitizers on a busy machine: the
// bound only guards against a hang, at over ten times that.
enum { CHILD_TIMEOUT_SECONDS = 120 };

// The tones of data/sounds/tones.txt the test plays: the four menu tracks,
// the swordsman's answer and the arrow's whistle, with their frequencies.
std::vector<demo_tone> tones_played;

bool played(const std::string &subgroup)
{
    return subgroup.compare(0, 3, "mam") == 0 || subgroup == "wars" || subgroup == "arwh";
}

bool make_demo_sound_tags(std::vector<test_tag> *tags)
{
    tones_played.clear();
    return make_demo_tone_tags(played, tags, &tones_played) && tones_played.size() == 6;
}

world_location3d listener;
const world_location3d *test_listener(void) { return &listener; }

// The game's clock for `seconds`: one local tick and one sound update a tick.
void run_sound_for(double seconds)
{
    for (int32_t tick = 0; tick < (int32_t)(seconds * 30.0); ++tick)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
        ++game_->local_time;
        update_sound_manager(1);
    }
}

// In the child: the game up, from the data in the current directory, heard
// through the wave output, its main menu open.  False when any of it fails.
bool start_the_game_at_the_menu(void)
{
    select_wave_output("alsoft.conf");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    open_log_file_at("game.log", "game sound test");
    set_vesk_without_single_instance_lock(true);
    set_sound_manager_listener_for_tests(test_listener);
    set_openal_listener_procedure(test_listener);
    if (!initialize_vesk()) return false;
    set_game_state(_game_state_displaying_main_menu);
    apply_pending_game_state_change();
    return game_->state == _game_state_displaying_main_menu;
}

bool start_the_demo_map(void)
{
    set_game_state(_game_state_running);
    apply_pending_game_state_change();
    new_game_data data;
    get_simulation_game_data(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 1, &data);
    return initialize_vesk_for_new_map(&data, true);
}

// The sources the audio library holds in its current context (it names them
// with small integers).
int32_t live_openal_sources(void)
{
    const ALfunctions *al = openal_functions();
    int32_t count = 0;
    for (ALuint name = 1; name <= 4096; ++name) count += al->alIsSource(name) == AL_TRUE;
    return count;
}

// In the child: exits 0 with the menu track's position written to "track.txt".
int play_through_the_game(const void *)
{
    if (!start_the_game_at_the_menu() || get_sound_mute()) return 1;
    if (game_->state != _game_state_displaying_main_menu || get_last_played_music_index() == NONE) return 2;
    std::ofstream("track.txt") << get_last_played_music_index();
    run_sound_for(0.6);

    // Leaving the menu stops its music; the demo map starts.
    if (!start_the_demo_map()) return 3;
    // The arrow names its whistle: it loads, and with the sound.
    const projectile_definition *arrow = get_projectile_definition(subgroup_tag_to_definition_index(
        get_definition_group(PROJECTILE_DEFINITION_GROUP_TAG), FOUR_CHARACTER_CODE('a', 'r', 'r', 'o')));
    const int32_t whistle =
        subgroup_tag_to_definition_index(&sound_definitions, FOUR_CHARACTER_CODE('a', 'r', 'w', 'h'));
    if (!arrow || whistle == NONE || arrow->sound_indexes[_projectile_sound_flight] != whistle) return 5;
    run_sound_for(0.3);

    // The first unit with an answer, 2048 world units south of a listener
    // facing east: on its right.
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
    {
        const monster_data *monster = get_monster_data(i);
        const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (!definition || !object || definition->sound_types[0] != _monster_sound_selection ||
            definition->sound_indexes[0] == NONE)
            continue;
        listener = object->location;
        listener.position.y += 2048;
        listener.yaw = 0;
        // The output hears from where the listener was at its last update.
        run_sound_for(0.1);
        _play_object_sound(monster->object_index, definition->sound_indexes[0]);
        run_sound_for(0.8);
        dispose_vesk_from_old_map();
        // Closing the output finishes the WAV's header.
        dispose_sound_manager();
        return 0;
    }
    return 4;
}

// The sounding stretches of `wave`, split where both sides stay below
// `threshold` for more than a twentieth of a second.
struct stretch
{
    size_t begin, end;
};
std::vector<stretch> sounding_stretches(const recorded_wave &wave, float threshold)
{
    std::vector<stretch> stretches;
    const size_t gap = (size_t)wave.rate / 20;
    size_t quiet = gap + 1;
    for (size_t i = 0; i < wave.left.size(); ++i)
    {
        if (std::fabs(wave.left[i]) < threshold && std::fabs(wave.right[i]) < threshold)
        {
            ++quiet;
            continue;
        }
        if (quiet > gap) stretches.push_back({i, i + 1});
        stretches.back().end = i + 1;
        quiet = 0;
    }
    return stretches;
}

// The demo data with its tones in a scratch folder, for a child to play.
class game_sound : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void SetUp() override
    {
        ASSERT_TRUE(scratch.entered);
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        std::vector<test_tag> sounds;
        ASSERT_TRUE(make_demo_sound_tags(&sounds));
        ASSERT_EQ(mkdir("tags", 0755), 0);
        ASSERT_TRUE(write_demo_data_set(tool, sounds));
    }
};

TEST_F(game_sound, the_menu_track_then_a_unit_on_the_right_are_heard)
{
    ASSERT_TRUE(write_wave_output_config("alsoft.conf", "game_sound.wav"));
    const int status = run_in_child(play_through_the_game, nullptr, CHILD_TIMEOUT_SECONDS);
    ASSERT_EQ(exit_code_of(status), 0) << read_whole_file("game.log");

    // The artefacts beside the test, whatever the measurements say.
    const std::string kept = std::string(scratch.previous) + "/game_sound";
    ASSERT_EQ(system(("cp game_sound.wav '" + kept + ".wav'").c_str()), 0);
    EXPECT_EQ(system(("sox game_sound.wav -n spectrogram -o '" + kept + ".png'").c_str()), 0);

    int track = NONE;
    std::ifstream("track.txt") >> track;
    ASSERT_TRUE(track >= 0 && track < 4) << track;
    recorded_wave wave;
    ASSERT_TRUE(read_recorded_wave("game_sound.wav", &wave));
    // The track sounds from the start for 0.6 s; what the map's start plays
    // (the arrows it places whistle) may follow; the unit's answer is last.
    const std::vector<stretch> stretches = sounding_stretches(wave, 0.01f);
    ASSERT_GE(stretches.size(), 2u);
    const size_t tenth = (size_t)wave.rate / 10;
    ASSERT_GT(stretches.back().begin, stretches[0].begin + 8 * tenth) << "the answer comes after the track";
    struct
    {
        const char *what;
        double hertz;
        stretch heard;
        bool louder_right;
    } const heard[] = {
        {"the menu track", tones_played[(size_t)track].hertz, {stretches[0].begin + tenth, stretches[0].begin + 5 * tenth},
         false},
        {"the unit", tones_played[4].hertz, stretches.back(), true},
    };
    for (const auto &h : heard)
    {
        // Away from the edges, where the output fades in and out.
        const size_t margin = (h.heard.end - h.heard.begin) / 5;
        const size_t begin = h.heard.begin + margin, end = h.heard.end - margin;
        const double left = root_mean_square(wave.left, begin, end), right = root_mean_square(wave.right, begin, end);
        // The pitch in the ear that hears it best: the far one may hear next to nothing.
        EXPECT_NEAR(zero_crossings_per_second(left >= right ? wave.left : wave.right, begin, end, wave.rate),
                    2.0 * h.hertz, 2.0 * h.hertz * 0.02)
            << h.what;
        if (h.louder_right)
        {
            EXPECT_GT(right, left * 2.0) << h.what;
        }
    }
}

// In the child, ten times: the menu is left for the preferences, whose OK
// reboots the sound through "None" and back and plays the music; the menu
// comes back; a map starts.  One set of eight sources each time (a second set
// would also trip the manager's assertion, which ends the child).  Then a
// mid-game join's map loads muted, and objects are deleted under their sounds.
int reboot_and_delete_through_the_game(const void *)
{
    if (!start_the_game_at_the_menu()) return 1;
    for (int32_t cycle = 0; cycle < 10; ++cycle)
    {
        leave_main_menu();
        for (int16_t provider : {(int16_t)_sound_provider_none, (int16_t)_sound_provider_openal})
        {
            get_sound_preferences()->provider_id = provider;
            write_sound_preferences(); // as the preferences' OK does before it reboots
            reboot_sound_manager();
            if (get_sound_manager_globals()->initialized != (provider == _sound_provider_openal)) return 50;
        }
        play_menu_music();
        enter_main_menu();
        if (live_openal_sources() != TOTAL_NUMBER_OF_SOUND_CHANNELS || !sound_is_playing(NONE)) return 10 + cycle;
        if (!start_the_demo_map() || live_openal_sources() != TOTAL_NUMBER_OF_SOUND_CHANNELS) return 30 + cycle;
        dispose_vesk_from_old_map();
        set_game_state(_game_state_displaying_main_menu);
        apply_pending_game_state_change();
    }
    joining_mid_game = true;
    if (!start_the_demo_map() || !get_sound_mute()) return 2;
    joining_mid_game = false;
    sound_mute(false);

    const int16_t answer =
        (int16_t)subgroup_tag_to_definition_index(&sound_definitions, FOUR_CHARACTER_CODE('w', 'a', 'r', 's'));
    const monster_data *monster = get_monster_data(0);
    if (answer == NONE || !monster || !get_object(monster->object_index)) return 3;
    listener = get_object(monster->object_index)->location;
    const sound_channel_data *channel = &get_sound_manager_globals()->sound_channels[0];
    for (const bool stops_with_its_source : {true, false})
    {
        get_sound_definition(answer)->flags =
            stops_with_its_source ? (uint32_t)_sound_stopped_when_source_disappears_flag : 0u;
        stop_all_sounds();
        const int32_t object = duplicate_object(monster->object_index);
        _play_object_sound(object, answer);
        if (channel->sound_index != answer || channel->source_identifier != object) return 4;
        delete_object(object);
        if (sound_is_playing(answer) == stops_with_its_source || channel->source_identifier != NONE) return 5;
    }
    dispose_vesk_from_old_map();
    dispose_sound_manager();
    return 0;
}

// In the child, with an output that has room for fewer sources than a set
// needs: no channels at all, and silence.
int start_without_room_for_the_channels(const void *)
{
    if (!start_the_game_at_the_menu()) return 1;
    play_menu_music();
    if (get_sound_manager_globals()->initialized || sound_is_playing(NONE) || live_openal_sources() != 0) return 2;
    dispose_sound_manager();
    return 0;
}

TEST_F(game_sound, channels_are_one_set_whatever_reboots_and_deletions_and_none_without_room)
{
    const struct
    {
        const char *output_limit; // added to the output's configuration
        int (*body)(const void *);
        const char *logged;
    } cases[] = {
        {"", reboot_and_delete_through_the_game, "sound: 8 channels made"},
        {"[general]\nsources = 4\n", start_without_room_for_the_channels, "could not make sound channel 4"},
    };
    for (const auto &c : cases)
    {
        ASSERT_TRUE(write_wave_output_config("alsoft.conf", "channels.wav"));
        std::ofstream("alsoft.conf", std::ios::app) << c.output_limit;
        const int status = run_in_child(c.body, nullptr, CHILD_TIMEOUT_SECONDS);
        const std::string log = read_whole_file("game.log");
        EXPECT_EQ(exit_code_of(status), 0) << log;
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
}

} // namespace

} // namespace game_sound_test_file
