// Films cut by a kill, and the tools with assertions fatal.  A recording
// vesk_sim is killed at 25 random points of its film (once the film has grown
// past a random size); each cut film replays in step with the whole run up to
// the tick it names, which is never a tick whose commands were cut.  The menu
// of vesk_shot, a recording, its replay and its listing run with every
// assertion fatal: none is caused by normal use.

#include <gtest/gtest.h>

#include <poll.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/net_game_processes.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace film_kill_processes_test_file {

namespace
{
namespace fs = std::filesystem;
constexpr int32_t TICKS = 1500, KILL_POINTS = 25, KILL_GROUPS = 5, PROCESS_LIMIT_MS = 60000;

class film_kill_processes : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk_sim", "vesk_shot", "vesk_film"}; }
    void SetUp() override
    {
        setenv("VESK_FATAL_ASSERTIONS", "1", 1);
        vesk_sim_fixture::SetUp();
        // Two moves every third tick: a block of the film is written every
        // hundred ticks or so, and may end between the two.
        std::ofstream orders("orders.txt");
        std::mt19937 random(5);
        for (int32_t tick = 30; tick < TICKS; tick += 3)
            for (const char *units : {"10,11", "12,13"})
                orders << tick << " 0 move " << units << " " << 2000 + random() % 10000 << ","
                       << 2000 + random() % 10000 << "\n";
    }
    void TearDown() override { vesk_sim_fixture::TearDown(), unsetenv("VESK_FATAL_ASSERTIONS"); }
    std::vector<std::string> recording_arguments(void) const
    {
        return {"--map", "demo", "--seed", "7", "--ticks", std::to_string(TICKS), "--orders", directory + "/orders.txt"};
    }
};

// The film a killed vesk_sim left in its folders under `temporary`, or "".
std::string film_left_under(const std::string &temporary)
{
    std::error_code error;
    for (const fs::directory_entry &folder : fs::directory_iterator(temporary, error))
        for (const fs::directory_entry &film : fs::directory_iterator(folder.path() / "films", error))
            if (film.is_regular_file()) return film.path();
    return "";
}

// The kill points in five cases of five, each case its own recording of the
// whole game: one case alone would take minutes beside other work.
class film_kill_groups : public film_kill_processes, public testing::WithParamInterface<int32_t>
{
};

TEST_P(film_kill_groups, a_film_cut_at_random_points_replays_in_step_to_the_tick_it_names)
{
    std::vector<std::string> whole_run = recording_arguments();
    whole_run.insert(whole_run.end(), {"--record", directory + "/whole.film"});
    vesk_sim_process whole;
    ASSERT_TRUE(whole.start(bin, directory, whole_run) && whole.wait(PROCESS_LIMIT_MS) && whole.exit_code == 0);
    const std::vector<std::string> trace = whole.hash_lines();
    const uintmax_t film_size = fs::file_size(directory + "/whole.film");
    std::mt19937 random(11);
    const int32_t first_point = GetParam() * (KILL_POINTS / KILL_GROUPS), end_point = first_point + KILL_POINTS / KILL_GROUPS;
    random.discard((unsigned long long)first_point);
    int32_t cut_films = 0;
    for (int32_t point = first_point; point < end_point; ++point)
    {
        const std::string temporary = directory + "/kill" + std::to_string(point);
        fs::create_directory(temporary);
        setenv("TMPDIR", temporary.c_str(), 1);
        vesk_sim_process recording, replay;
        ASSERT_TRUE(recording.start(bin, directory, recording_arguments()));
        unsetenv("TMPDIR");
        // Killed once its film has grown past a random size.  It is stopped
        // while its film is measured and runs a millisecond between two
        // measures, so that on a busy machine, which may leave this process
        // waiting long, the recording never runs far past the size.
        const uintmax_t kill_at = random() % film_size;
        std::string film;
        std::error_code error;
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS && !recording.wait(0); ++turn)
        {
            kill(recording.pid, SIGSTOP);
            if (!(film = film_left_under(temporary)).empty() && fs::file_size(film, error) >= kill_at) break;
            kill(recording.pid, SIGCONT);
            poll(nullptr, 0, 1);
        }
        recording.kill_now();
        if ((film = film_left_under(temporary)).empty() || recording.exit_code == 0) continue;

        ASSERT_TRUE(replay.start(bin, directory, {"--film", film}) && replay.wait(PROCESS_LIMIT_MS));
        const std::vector<std::string> replayed = replay.hash_lines();
        if (replay.exit_code == 0 && replayed == trace) continue; // killed after its film was closed
        if (replayed.empty() && replay.err().find("cannot be played") != std::string::npos) continue; // before its header
        const size_t at = replay.err().find("the film was cut short at tick ");
        ASSERT_NE(at, std::string::npos) << "kill point " << point << ": " << replay.err();
        EXPECT_EQ(replay.exit_code, 1);
        ASSERT_LE(replayed.size(), trace.size());
        EXPECT_TRUE(std::equal(replayed.begin(), replayed.end(), trace.begin())) << "kill point " << point;
        const int32_t named = atoi(replay.err().c_str() + at + 31);
        EXPECT_EQ(replayed.empty() ? 0 : atoi(replayed.back().c_str()), named) << replay.err();
        cut_films += named > 0;
    }
    EXPECT_GE(cut_films, KILL_POINTS / KILL_GROUPS / 2);
}

INSTANTIATE_TEST_SUITE_P(kill_points, film_kill_groups, testing::Range(0, KILL_GROUPS));

// The tools as a player's documentation uses them, every assertion fatal.
TEST_F(film_kill_processes, the_tools_run_their_common_commands_without_an_assertion)
{
    ASSERT_EQ(exit_code_of(system(("'" + bin + "/vesk_shot' --data '" + directory + "' --frames 30 > shot.txt 2>&1").c_str())), 0)
        << read_whole_file("shot.txt");
    std::vector<std::string> recorded = recording_arguments();
    recorded.insert(recorded.end(), {"--record", directory + "/F"});
    std::string arguments;
    for (const std::string &argument : recorded) arguments += " '" + argument + "'";
    ASSERT_EQ(run_vesk_sim(arguments + " > recorded.txt 2> err.txt"), 0) << read_whole_file("err.txt");
    ASSERT_EQ(run_vesk_sim("--film F --report > replayed.txt 2> err.txt"), 0) << read_whole_file("err.txt");
    EXPECT_EQ(read_whole_file("replayed.txt").rfind(read_whole_file("recorded.txt"), 0), 0u);
    EXPECT_EQ(exit_code_of(system(("'" + bin + "/vesk_film' F > listing.txt 2>&1").c_str())), 0)
        << read_whole_file("listing.txt");
    for (const char *log : {"vesk_shot_log.txt", "vesk_sim_log.txt"})
        EXPECT_EQ(read_whole_file(log).find("vassert"), std::string::npos) << log;
}
} // namespace

} // namespace film_kill_processes_test_file
