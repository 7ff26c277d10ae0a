// The preferences' volume slider under a real pointer: the game runs in a
// window of an X server of the test's own, its menu music recorded by the
// audio library's wave output, and xdotool moves the server's pointer as a
// player would: a drag of the thumb, a click on the track, each ended by OK.
// The slider ends where the pointer left it, and the music's level follows
// the new volume at once.  The recording stays beside the test
// (preferences_volume.wav) to be listened to.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/dialogs_private.h"
#include "action_queue_procedures.h"
#include "bitmap_dialogs/slider_control.h"
#include "cseries/log.h"
#include "game_states.h"
#include "game_hooks.h"
#include "game_time.h"
#include "preferences_ui.h"
#include "screen.h"
#include "screen_sdl.h"
#include "sound/sound_manager.h"
#include "sound/sound_openal.h"
#include "sound/sound_preferences.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/game_window.h"
#include "support/machine_pace.h"
#include "support/wave_output.h"
#include "vesk.h"

namespace preferences_volume_test_file {

namespace {

// The child takes some 13 s under the sanitizers on a busy machine: the
// bound only guards against a hang, at over ten times that.
enum { CHILD_TIMEOUT_SECONDS = 150 };

// One gesture of the table: where on the track (a fraction of the travel,
// in 1/100) the pointer ends, and whether it gets there by dragging the thumb
// or by a click beside it.
const struct gesture
{
    const char *what;
    bool drag;
    int32_t end_percent;
} gestures[] = {
    {"the thumb dragged from the right end to the middle", true, 50},
    {"a click on the track near the left", false, 20},
    {"the thumb dragged past the right end", true, 130},
};
const int32_t gesture_count = (int32_t)std::size(gestures);

// On the reference machine, each gesture waits this long after the dialog
// opens, and OK follows it after as long again: the level before and after
// is measured in between.  A hand's pauses between the steps of a gesture
// are a twentieth of a second.  Both are scaled by the machine's pace
// (support/machine_pace.h): the dialog opens, and the game reads the
// pointer, that much later on a slower or busier machine.
const double kSettleSeconds = 0.8, kStepSeconds = 0.05;
// The 50 ms windows of the recording within which the level reaches a
// gesture's volume after it starts to change, on the reference machine.
const size_t kFollowWindows = 60;

// `seconds` of the reference machine on this one, for xdotool's sleep.
std::string scaled_sleep(double seconds)
{
    return " sleep " + std::to_string(seconds * machine_slowness());
}

// The window-relative point of a dialog point.
struct window_point
{
    int32_t x, y;
};

// In the child: from the data in the current directory, the game up in the
// X window with its menu music, then for each gesture the preferences dialog
// run modally while xdotool plays the gesture and OK in the background.
// Writes "volumes.txt": each gesture's expected value and the volume it left.
int play_the_gestures(const void *)
{
    select_wave_output("alsoft.conf");
    register_built_subsystems();
    open_log_file_at("game.log", "preferences volume test");
    set_vesk_without_single_instance_lock(true);
    if (!initialize_vesk() || get_sound_mute()) return 1;
    set_game_state(_game_state_displaying_main_menu);
    apply_pending_game_state_change();
    if (game_->state != _game_state_displaying_main_menu) return 2;
    // The input's timer turns the window's events into actions, as in the game.
    const auto set_keyboard_task = get_action_queue_procedures()->set_keyboard_queue_task_state;
    if (!set_keyboard_task) return 6;
    set_keyboard_task(true);

    std::ofstream volumes("volumes.txt");
    for (int32_t i = 0; i < gesture_count; ++i)
    {
        const gesture &g = gestures[i];
        // Where the slider and OK are: the dialog opens at the same place each time.
        dialog_data *probe = open_preferences_dialog();
        if (!probe) return 3;
        rectangle2d screen;
        get_screen_bounds(&screen);
        const control_data *slider = find_control(probe, _preferences_volume_item);
        const control_data *ok = find_control(probe, _preferences_ok_item);
        if (!slider || !ok) return 4;
        const auto at = [&](int32_t x, int32_t y) {
            return window_point{screen.left + probe->bounds.left + x, screen.top + probe->bounds.top + y};
        };
        const rectangle2d track = slider->bounds;
        const int32_t travel = track.right - track.left - THUMB_WIDTH;
        const int32_t middle_y = (track.top + track.bottom) / 2;
        const int32_t volume = get_sound_preferences()->master_volume;
        const window_point thumb = at(track.left + HALF_THUMB_WIDTH + travel * volume / SOUND_PREFERENCES_MAXIMUM_VOLUME,
                                      middle_y);
        const window_point end = at(track.left + HALF_THUMB_WIDTH + travel * g.end_percent / 100, middle_y);
        const window_point done = at((ok->bounds.left + ok->bounds.right) / 2, (ok->bounds.top + ok->bounds.bottom) / 2);
        dispose_dialog(probe);
        const int32_t expected = std::min<int32_t>(g.end_percent * SOUND_PREFERENCES_MAXIMUM_VOLUME / 100, SOUND_PREFERENCES_MAXIMUM_VOLUME);

        // One xdotool command in the background; the pointer moves in steps
        // while the button is held, as a hand does.
        const std::string settle = scaled_sleep(kSettleSeconds);
        std::string events = "search --name '^" SCREEN_WINDOW_CAPTION "$'" + settle;
        const auto move = [&](window_point p) {
            events += " mousemove --window %1 " + std::to_string(p.x) + " " + std::to_string(p.y) + scaled_sleep(kStepSeconds);
        };
        move(g.drag ? thumb : end);
        if (g.drag)
        {
            events += " mousedown 1" + scaled_sleep(2 * kStepSeconds);
            for (int32_t step = 1; step <= 4; ++step) move({thumb.x + (end.x - thumb.x) * step / 4, thumb.y});
            events += scaled_sleep(2 * kStepSeconds) + " mouseup 1";
        }
        else events += " click 1";
        events += settle;
        move(done);
        events += " click 1";
        std::ofstream("gesture.log", std::ios::app) << events << "\n";
        if (system(("xdotool " + events + " >>gesture.log 2>&1 &").c_str()) != 0) return 5;
        handle_preferences_dialog();
        volumes << expected << " " << get_sound_preferences()->master_volume << "\n";
    }
    volumes.close();
    // Closing the output finishes the WAV's header.
    dispose_sound_manager();
    return 0;
}

// The root mean square of both sides over [begin, end).
double level(const recorded_wave &wave, size_t begin, size_t end)
{
    return std::hypot(root_mean_square(wave.left, begin, end), root_mean_square(wave.right, begin, end)) / std::sqrt(2);
}

using preferences_volume = game_window_fixture;

TEST_F(preferences_volume, the_slider_follows_a_real_pointer_and_the_music_follows_the_slider_at_once)
{
    std::vector<test_tag> music;
    std::vector<demo_tone> tracks;
    ASSERT_TRUE(make_demo_tone_tags([](const std::string &subgroup) { return subgroup.compare(0, 3, "mam") == 0; },
                                    &music, &tracks));
    ASSERT_EQ(tracks.size(), 4u);
    ASSERT_NO_FATAL_FAILURE(write_game_data(music));
    ASSERT_TRUE(write_wave_output_config("alsoft.conf", "preferences_volume.wav"));
    // Measured once here, before the child is started: its gestures and the
    // bound on the music's following share the figure.
    const double slowness = machine_slowness();
    const int status = run_in_child(play_the_gestures, nullptr, CHILD_TIMEOUT_SECONDS);
    ASSERT_EQ(exit_code_of(status), 0) << read_whole_file("game.log") << read_whole_file("gesture.log");
    keep_beside_test("preferences_volume.wav", "preferences_volume.wav");

    // The slider: each gesture left the value under the pointer (the thumb
    // centred on it), to within a pixel's worth of the travel.
    std::ifstream volumes("volumes.txt");
    std::vector<int32_t> left;
    for (int32_t i = 0; i < gesture_count; ++i)
    {
        int32_t expected = -1, heard = -1;
        ASSERT_TRUE(volumes >> expected >> heard) << read_whole_file("volumes.txt");
        EXPECT_NEAR(heard, expected, 3) << gestures[i].what;
        left.push_back(heard);
    }

    // The music: 50 ms windows; the level before the first gesture is that of
    // full volume.  From the first window that leaves the old level, the level
    // follows the pointer (a drag's steps, as fast as the machine delivers
    // them) to the full one times the output's gain for the new volume, and
    // stays there for a quarter of a second at least (five windows, the
    // exact level to within 3%).  The output plays in real time, so a busy
    // machine stretches a drag: the bound is generous and scaled by the
    // machine's pace, the level reached is exact.
    recorded_wave wave;
    ASSERT_TRUE(read_recorded_wave("preferences_volume.wav", &wave));
    const size_t window = (size_t)wave.rate / 20;
    std::vector<double> levels;
    for (size_t at = 0; at + window <= wave.left.size(); at += window) levels.push_back(level(wave, at, at + window));
    size_t first = 0;
    while (first < levels.size() && levels[first] < 0.05) ++first; // the music's start
    ASSERT_LT(first + 10, levels.size()) << "no music was heard";
    const double full = levels[first + 5];
    double before = full;
    size_t at = first + 5;
    const size_t follow_windows = (size_t)((double)kFollowWindows * slowness);
    for (int32_t i = 0; i < gesture_count; ++i)
    {
        const double after = full * openal_gain_for_volume(left[(size_t)i]);
        // The first window that left the old level: the change.
        while (at < levels.size() && std::fabs(levels[at] - before) < 0.05 * full) ++at;
        ASSERT_LT(at + 10, levels.size()) << gestures[i].what << ": the level never changed";
        // The first window from which the level stays at the new volume for
        // a quarter of a second: a dip of the tune between its notes, which a
        // busy machine's delays may bring before the gesture, is passed over.
        const auto stays_at = [&](size_t from) {
            for (size_t w = from; w < from + 5; ++w)
                if (std::fabs(levels[w] - after) > 0.03 * full) return false;
            return true;
        };
        size_t reached = at;
        while (reached < at + follow_windows && reached + 5 <= levels.size() && !stays_at(reached)) ++reached;
        ASSERT_LE(reached + 5, levels.size()) << gestures[i].what << ": the level never reached " << after;
        EXPECT_LT(reached, at + follow_windows) << gestures[i].what << ": the level did not follow the slider, or "
                                                << "did not stay where it went";
        before = after;
        at = reached + 4;
    }
}

} // namespace

} // namespace preferences_volume_test_file
