// The state hash is a function of the game's history alone: the demo battle
// drawn frame by frame in a window-less screen (vesk_shot: both bars, the
// overhead map, the console) while the local player's selection changes (a
// double click, a band, a preset set and recalled) gives, tick by tick, the
// trace vesk_sim prints headless for the same seed and orders; the film that
// drawn game recorded replays to the same trace, and `vesk --oos_check`
// finds it in step.  A lesson of the teaching map, played the same way,
// replays in step from its film and its save.  The status bar clears the selected units' display dirty
// flags every frame it draws, so hashing them would part the traces at the
// first click.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace drawn_trace_test_file {

namespace {
namespace fs = std::filesystem;

// Two sync commands (every 170 ticks) go into the film, which --oos_check compares.
constexpr int FRAMES = 360;

// Seen from the east of the valley, over the first team's units at the start
// (the grey one at 675, 410): a double click on it, the selection cancelled
// (the key under Escape), a band over the valley floor, the command key and
// 1 held until the band becomes preset 1, cancelled again, then preset 1
// recalled.  No click falls where it would give an order.
const char *const selection_script = "2 press 675 410\n"
                                     "3 release 675 410\n"
                                     "4 press 675 410\n"
                                     "5 release 675 410\n"
                                     "8 key 16\n"
                                     "10 press 100 150\n"
                                     "11 move 400 300\n"
                                     "12 move 800 500\n"
                                     "13 release 900 600\n"
                                     "20 down 70\n"
                                     "21 down 17\n"
                                     "40 up 17\n"
                                     "41 up 70\n"
                                     "45 key 16\n"
                                     "50 down 70\n"
                                     "51 key 17\n"
                                     "52 up 70\n";

class drawn_trace_test : public vesk_sim_fixture
{
protected:
    std::string orders;
    // A demo map's source under data/maps, built as `map_tag` too.
    const char *map_source = nullptr, *map_tag = nullptr;

    std::vector<std::string> programs_needed(void) const override { return {"vesk_sim", "vesk_shot", "vesk"}; }
    // The bars' texts and the map's mission list, as the demo data script puts them in.
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_string_list_tags(tool, tags) &&
               (!map_source || make_demo_map_source_tags(tool, map_source, map_tag, tags));
    }

    void SetUp() override
    {
        vesk_sim_fixture::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        orders = source_tree_path("data/orders/battle.txt");
        ASSERT_TRUE(fs::exists(orders)) << orders;
    }

    // Runs `command` through the shell with its output in `out` and its errors in `err`; the exit code.
    int run(const std::string &command, const char *out, const char *err)
    {
        return exit_code_of(system((command + " >" + out + " 2>" + err).c_str()));
    }

    // GAME played headless for `ticks` ticks, and drawn.film replayed, give the `drawn` trace.
    void expect_headless_and_filmed_alike(const std::string &game, int32_t ticks, const std::string &drawn)
    {
        ASSERT_EQ(run_vesk_sim(game + " --ticks " + std::to_string(ticks) + " >headless.trace 2>headless.err"), 0)
            << read_whole_file("headless.err");
        EXPECT_EQ(read_whole_file("headless.trace"), drawn) << "the drawn game's trace is the headless one";
        ASSERT_EQ(run_vesk_sim("--film drawn.film >replayed.trace 2>replayed.err"), 0) << read_whole_file("replayed.err");
        EXPECT_EQ(read_whole_file("replayed.trace"), drawn) << "its film replays to the same trace";
    }

    // The game's own check, headless, from the program's directory, finds
    // NAME.film in step to its last tick.
    void expect_in_step_in_the_games_check(const std::string &name, int32_t ticks)
    {
        fs::create_directory("oos_checker_films");
        fs::copy_file(name + ".film", "oos_checker_films/" + name);
        std::error_code failed;
        fs::create_hard_link(fs::path(bin) / "vesk", "vesk", failed);
        if (failed) fs::copy_file(fs::path(bin) / "vesk", "vesk");
        EXPECT_EQ(run("env -u DISPLAY -u WAYLAND_DISPLAY ./vesk --oos_check", "oos.out", "oos.err"), 0)
            << read_whole_file("oos.err");
        EXPECT_NE(read_whole_file("vesk_log.txt").find("film \"" + name + "\": in step at tick " + std::to_string(ticks)),
                  std::string::npos)
            << read_whole_file("vesk_log.txt");
    }
};

TEST_F(drawn_trace_test, a_drawn_game_with_a_changing_selection_hashes_as_the_headless_one_and_its_film_stays_in_step)
{
    std::ofstream("selection.txt") << selection_script;
    const std::string game = "--map demo --seed 7 --orders '" + orders + "'";
    ASSERT_EQ(run("'" + bin + "/vesk_shot' --data '" + directory + "' " + game +
                      " --camera 16,14,3,180,-30 --actions selection.txt --frames " + std::to_string(FRAMES) +
                      " --trace drawn.trace --record drawn.film",
                  "shot.out", "shot.err"),
              0)
        << read_whole_file("shot.err");
    // The selection did change: each step shows as the selection's size.
    const std::string shown = read_whole_file("shot.out");
    for (const char *step : {"frame 2: 1 units selected\n", "frame 4: 3 units selected\n", "frame 8: 0 units selected\n",
                             "frame 12: 3 units selected\n", "frame 45: 0 units selected\n",
                             "frame 51: 3 units selected\n"})
        EXPECT_NE(shown.find(step), std::string::npos) << step << "in:\n" << shown;

    const std::string drawn = read_whole_file("drawn.trace");
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), FRAMES) << "one tick a frame";
    expect_headless_and_filmed_alike(game, FRAMES, drawn);
    expect_in_step_in_the_games_check("drawn", FRAMES);
}

// A snowing map: the particles drawn every frame (over the lake, seen from
// its southern bank) are this machine's alone, so the drawn game hashes as
// the headless one and its film replays in step.
struct snowing_trace_test : drawn_trace_test
{
    snowing_trace_test() { map_source = "ridge_pass.map", map_tag = "ridg"; }
};

TEST_F(snowing_trace_test, snow_drawn_on_every_frame_leaves_the_trace_as_the_headless_one)
{
    const std::string game = "--map ridg --seed 7";
    ASSERT_EQ(run("'" + bin + "/vesk_shot' --data '" + directory + "' " + game +
                      " --camera 8,4,3,90,-30 --frames 150 --trace drawn.trace --record drawn.film",
                  "shot.out", "shot.err"),
              0)
        << read_whole_file("shot.err");
    expect_headless_and_filmed_alike(game, 150, read_whole_file("drawn.trace"));
    EXPECT_EQ(read_whole_file("vesk_shot_log.txt").find("weather:"), std::string::npos) << "the look was found";
}

// The teaching map played through the input path: team 0's swordsmen
// selected (a double click), a stop the first lesson refuses, a move on the
// ground it passes, a forward key the second lesson swallows, an orbit key it
// passes.  The lessons' verdicts are in the film: it replays to the played
// trace (also as `vesk --oos_check` replays it), and so does the game saved
// after the lessons, continued.
struct teaching_trace_test : drawn_trace_test
{
    teaching_trace_test() { map_source = "teaching_valley.map", map_tag = "teac"; }
};

TEST_F(teaching_trace_test, a_lesson_played_through_the_input_path_replays_in_step_from_its_film_and_its_save)
{
    std::ofstream("lesson.txt") << "2 press 675 410\n3 release 675 410\n4 press 675 410\n5 release 675 410\n"
                                   "30 key 71\n"                       // space: stop, refused
                                   "60 press 500 200\n61 release 500 200\n" // a move: lesson one passes
                                   "150 down 32\n156 up 32\n"         // forward, swallowed
                                   "200 down 31\n203 up 31\n";        // orbit: lesson two passes
    ASSERT_EQ(run("'" + bin + "/vesk_shot' --data '" + directory + "' --map teac --seed 7 --camera 16,14,3,180,-30 " +
                      "--actions lesson.txt --frames 400 --trace played.trace --record lesson.film --save-at 300 " +
                      "lesson.save",
                  "shot.out", "shot.err"),
              0)
        << read_whole_file("shot.err");
    const std::string shown = read_whole_file("shot.out");
    EXPECT_NE(shown.find("frame 4: 3 units selected\n"), std::string::npos) << shown;
    const std::string played = read_whole_file("played.trace");
    EXPECT_EQ(std::count(played.begin(), played.end(), '\n'), 400) << "one tick a frame";
    const std::string log = read_whole_file("vesk_shot_log.txt");
    for (const char *verdict : {"lesson one: move", "lesson two: orbit"})
        for (const char *said : {"had an error", "succeeded"})
            EXPECT_NE(log.find(std::string(verdict) + "  " + said), std::string::npos) << verdict << " " << said;

    ASSERT_EQ(run_vesk_sim("--film lesson.film >replayed.trace 2>replayed.err"), 0) << read_whole_file("replayed.err");
    EXPECT_EQ(read_whole_file("replayed.trace"), played) << "the film replays the lessons";
    EXPECT_NE(read_whole_file("vesk_sim_log.txt").find("lesson two: orbit  succeeded"), std::string::npos)
        << "the verdict on a key came from the film";
    ASSERT_EQ(run_vesk_sim("--continue lesson.save --ticks 400 >continued.trace 2>continued.err"), 0)
        << read_whole_file("continued.err");
    EXPECT_EQ(read_whole_file("continued.trace"), played) << "the save, restored and continued";
    expect_in_step_in_the_games_check("lesson", 400);
}

// The tools' orders of the local player meet the lesson as the game's
// commands do, under the old rules (judged as queued) and the new (as they
// run): the computer player's stop is not the pupil's, the pupil's stop is
// refused with an error, the pupil's move passes.
TEST_F(teaching_trace_test, the_tools_orders_of_the_local_player_meet_the_lesson_as_the_games_commands_do)
{
    const struct
    {
        const char *orders;
        bool erred;
    } games[] = {{"5 1 stop 20,21\n10 0 move 10,11 4000,8000\n", false},
                 {"5 0 stop 10,11\n10 0 move 10,11 4000,8000\n", true}};
    for (const char *version : {"1830", "1840"})
        for (const auto &game : games)
        {
            SCOPED_TRACE(std::string(version) + ": " + game.orders);
            std::ofstream("orders.txt", std::ios::trunc) << game.orders;
            const std::string log_name = std::string("orders") + version + (game.erred ? "e" : "") + ".log";
            ASSERT_EQ(run_vesk_sim(std::string("--map teac --seed 7 --ticks 40 --gameplay-version ") + version +
                                   " --orders orders.txt --log " + log_name + " >orders.out 2>orders.err"),
                      0)
                << read_whole_file("orders.err");
            const std::string log = read_whole_file(log_name);
            EXPECT_NE(log.find("lesson one: move  succeeded"), std::string::npos);
            EXPECT_EQ(log.find("lesson one: move  had an error") != std::string::npos, game.erred);
        }
}

} // namespace

} // namespace drawn_trace_test_file
