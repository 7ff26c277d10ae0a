// Sound through the whole game, heard in what the audio library's wave output
// records: the main menu's music starts one of the demo's tracks, then a demo
// unit on the listener's right answers through the object-sound point.  The
// recording and its spectrogram stay in the test's build folder
// (game_sound.wav, game_sound.png) to be looked at.

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
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "sound/sound_openal.h"
#include "sound_procedures.h"
#include "tag_files/definitions.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/wave_output.h"
#include "vesk.h"

namespace {

enum { CHILD_TIMEOUT_SECONDS = 60 };

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

// In the child, from the data in the current directory: exits 0 with the
// menu track's position written to "track.txt".
int play_through_the_game(const void *)
{
    select_wave_output("alsoft.conf");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    open_log_file_at("game.log", "game sound test");
    set_vesk_without_single_instance_lock(true);
    set_sound_manager_listener_for_tests(test_listener);
    set_openal_listener_procedure(test_listener);
    if (!initialize_vesk() || get_sound_mute()) return 1;

    set_game_state(_game_state_displaying_main_menu);
    apply_pending_game_state_change();
    if (game_->state != _game_state_displaying_main_menu || get_last_played_music_index() == NONE) return 2;
    std::ofstream("track.txt") << get_last_played_music_index();
    run_sound_for(0.6);

    // Leaving the menu stops its music; the demo map starts.
    set_game_state(_game_state_running);
    apply_pending_game_state_change();
    new_game_data data;
    get_simulation_game_data(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 1, &data);
    if (!initialize_vesk_for_new_map(&data, true)) return 3;
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

TEST(game_sound, the_menu_track_then_a_unit_on_the_right_are_heard)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    std::string tool;
    REQUIRE_DATA_TOOL(tool);
    std::vector<test_tag> sounds;
    ASSERT_TRUE(make_demo_sound_tags(&sounds));
    ASSERT_EQ(mkdir("tags", 0755), 0);
    ASSERT_TRUE(write_demo_data_set(tool, sounds));
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

} // namespace
