// vesk_sim with the scripted test map end to end: its script orders the
// attack at the first pass at or after tick 90 (tick 96), hands team 1 over
// through the lock and the delay, ends the game when a team is gone and names
// the winner; the trace of the 'debg' actions lands in "vesk_sim_log.txt" in the
// directory it was called from; the same seed gives the same output twice, and the film
// replays it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "support/scratch.h"

namespace vesk_sim_scripts_test_file {

namespace {
namespace fs = std::filesystem;

constexpr int TICKS = 1200;

class vesk_sim_scripts_test : public vesk_sim_fixture
{
protected:
    void SetUp() override
    {
        vesk_sim_fixture::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        // vesk_sim runs from elsewhere: the log lands there, not in the data directory.
        fs::create_directory(directory + "/elsewhere");
    }
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "scripted_valley.map", "scri", tags);
    }
    // Runs vesk_sim from "elsewhere"; its standard output, and the log it left.
    int run(const std::string &arguments, std::string *output, std::string *log = nullptr)
    {
        fs::remove(directory + "/elsewhere/vesk_sim_log.txt");
        const std::string out = directory + "/out.txt";
        const int status = system(("cd '" + directory + "/elsewhere' && " +
                                   vesk_sim_command(arguments + " > '" + out + "' 2> '" + directory + "/err.txt'"))
                                      .c_str());
        *output = read_whole_file(out);
        if (log) *log = read_whole_file(directory + "/elsewhere/vesk_sim_log.txt");
        EXPECT_FALSE(fs::exists(directory + "/vesk_sim_log.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// The game time of the first trace line holding `text`, or -1.
int first_time_of(const std::string &log, const std::string &text)
{
    std::istringstream lines(log);
    const std::regex time("^@game_time (\\d+) ");
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch match;
        if (line.find(text) != std::string::npos && std::regex_search(line, match, time)) return std::stoi(match[1]);
    }
    return -1;
}

TEST_F(vesk_sim_scripts_test, the_script_attacks_at_tick_96_hands_over_and_ends_the_game_when_a_team_is_gone)
{
    const std::string arguments = "--map scri --seed 7 --ticks " + std::to_string(TICKS) + " --report";
    std::string first, second, log;
    ASSERT_EQ(run(arguments, &first, &log), 0) << read_whole_file(directory + "/err.txt");
    ASSERT_EQ(run(arguments, &second), 0);
    EXPECT_EQ(first, second);
    // The tool wrote into the game's folder only its log: no first start's
    // interface choice, no movie folder.
    for (const char *made : {"preferences/interface plugin", "cutscenes"})
        EXPECT_FALSE(std::filesystem::exists(directory + "/" + made)) << made;

    // The counter opens the lock at 64; the hand-over passes two units at 96
    // and two at 128; team 0's attack waits for the first pass after 90.
    EXPECT_EQ(first_time_of(log, "MA [math] pass counter  3.000000 + 1.000000 = 4.000000"), 64) << log;
    EXPECT_EQ(first_time_of(log, "MA [lock] the counter's lock  key count changed from -1 to 1"), 64);
    EXPECT_EQ(first_time_of(log, "MA [dela] team 1 joins in turns  2 monsters added to team 1 counterattacks"), 96);
    EXPECT_EQ(first_time_of(log, "MA [atta] team 1 counterattacks  normal attack: attackers: 2 defenders: 4"), 96);
    EXPECT_EQ(first_time_of(log, "MA [atta] team 0 attacks  trigger"), 96);
    EXPECT_EQ(first_time_of(log, "MA [atta] team 0 attacks  normal attack: attackers: 4 defenders: 4"), 96);
    EXPECT_EQ(first_time_of(log, "MA [dela] team 1 joins in turns  succeeded"), 160);

    // One team has no unit left, and the script named the other the winner.
    const std::regex team("team ([01]) placed 4 alive (\\d+)");
    int gone = -1;
    for (std::sregex_iterator i(first.begin(), first.end(), team), end; i != end; ++i)
        if (std::stoi((*i)[2]) == 0) gone = std::stoi((*i)[1]);
    ASSERT_NE(gone, -1) << first.substr(first.find("team "));
    const int winner = 1 - gone;
    EXPECT_NE(first.find("winning team " + std::to_string(winner)), std::string::npos) << first.substr(first.find("team "));
    const int ended = first_time_of(log, "MA [endg] team " + std::to_string(winner) + " wins  team " +
                                             std::to_string(winner) + " victory");
    EXPECT_GT(ended, 96) << log;
    EXPECT_EQ(ended % 32, 0);
}

TEST_F(vesk_sim_scripts_test, the_film_of_the_scripted_map_replays_to_the_same_trace)
{
    std::string recorded, replayed;
    ASSERT_EQ(run("--map scri --seed 3 --ticks " + std::to_string(TICKS) + " --report --record scripted.film", &recorded),
              0)
        << read_whole_file(directory + "/err.txt");
    ASSERT_EQ(run("--film scripted.film --report", &replayed), 0) << read_whole_file(directory + "/err.txt");
    EXPECT_EQ(replayed, recorded);
    EXPECT_NE(recorded.find("winning team"), std::string::npos);
}

// The scripted valley without its battle, under custom scoring: at the
// first pass after tick 200 a script gives team 0 a point, and a test of
// whether team 0 leads, run every pass, ends the game for it.  Nothing
// forces the rankings before the end.
class vesk_sim_leader_test : public vesk_sim_scripts_test
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        std::string map = read_whole_file(source_tree_path("data/maps/scripted_valley.map"));
        map = map.substr(0, map.find("\n# The script.")) + "\n";
        const size_t flags = map.find("\nflags ");
        map.replace(flags, map.find('\n', flags + 1) - flags, "\nflags 0x112000 # custom scoring");
        map += "action 50 scor 9 1 200 0\n"
               "parameter name character team 0 takes the lead\n"
               "parameter debg flag\n"
               "parameter team integer 0\n"
               "parameter adds integer 1\n"
               "action 51 ngty 1 3 0 0\n"
               "parameter name character team 0 leads\n"
               "parameter debg flag\n"
               "parameter team integer 0\n"
               "parameter acos action 52\n"
               "action 52 end2 4 0 0 0\n"
               "parameter name character team 0 wins\n"
               "parameter team integer 0\n";
        const std::string path = fs::absolute("leader_valley.map").string();
        std::ofstream(path) << map;
        return make_demo_map_source_tags(tool, path, "lead", tags);
    }
};

TEST_F(vesk_sim_leader_test, a_script_sees_the_leader_at_the_next_pass_from_1830_and_never_before)
{
    for (const char *version : {"1830", "1825"})
    {
        std::string output, log;
        ASSERT_EQ(run(std::string("--map lead --seed 5 --ticks 400 --report --gameplay-version ") + version, &output,
                      &log),
                  0)
            << read_whole_file(directory + "/err.txt");
        const int scored = first_time_of(log, "MA [scor] team 0 takes the lead");
        ASSERT_EQ(scored, 224) << log;
        const int led = first_time_of(log, "MA [ngty] team 0 leads  succeeded");
        if (std::string(version) == "1830")
        {
            EXPECT_EQ(led, scored + 32) << log;
            EXPECT_NE(output.find("winning team 0"), std::string::npos) << output;
        }
        else
        {
            EXPECT_EQ(led, -1) << log;
            EXPECT_EQ(output.find("winning team"), std::string::npos) << output;
        }
    }
}

} // namespace

} // namespace vesk_sim_scripts_test_file
