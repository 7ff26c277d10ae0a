// vesk_sim with the demo battle end to end: the demo map places both teams'
// units, the battle orders run and one side is beaten, the report counts each
// team's units, the same seed gives the same trace and another seed another;
// every row of the gameplay-version table fights it through; a chosen gameplay
// version runs, is carried into the film and replays; a version between the
// table's rows is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
#include "support/tag_file_builder.h"

namespace vesk_sim_battle_test_file {

namespace {
namespace fs = std::filesystem;

constexpr int TICKS = 900;

class vesk_sim_battle_test : public vesk_sim_fixture
{
protected:
    std::string orders;

    void SetUp() override
    {
        vesk_sim_fixture::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        orders = source_tree_path("data/orders/battle.txt");
        ASSERT_TRUE(fs::exists(orders)) << orders;
    }
    // Runs vesk_sim; its standard output lands in `output`.
    int run(const std::string &arguments, std::string *output = nullptr)
    {
        const std::string out = directory + "/out.txt";
        const int status = run_vesk_sim("--log '" + directory + "/sim_log.txt' " + arguments + " > '" + out + "' 2> '" +
                                        directory + "/err.txt'");
        if (output)
        {
            std::ifstream file(out);
            std::stringstream text;
            text << file.rdbuf();
            *output = text.str();
        }
        return status;
    }
    std::string battle(int seed, const std::string &extra = "", int ticks = TICKS)
    {
        std::string output;
        EXPECT_EQ(run("--map demo --seed " + std::to_string(seed) + " --ticks " + std::to_string(ticks) +
                          " --orders '" + orders + "' --report " + extra,
                      &output),
                  0);
        return output;
    }
};

// The hash lines, without the report.
std::string trace_of(const std::string &output)
{
    std::string trace;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') trace += line + "\n";
    return trace;
}

TEST_F(vesk_sim_battle_test, the_battle_places_both_teams_reports_them_and_repeats_its_trace)
{
    const std::string first = battle(7), second = battle(7), other = battle(8);
    EXPECT_EQ(first, second);
    EXPECT_NE(trace_of(first), trace_of(other));
    const std::regex team("^team ([01]) placed (\\d+) alive (\\d+)$");
    int teams = 0;
    bool beaten = false; // a team eliminated or down to fewer than half its units
    std::istringstream lines(first);
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch match;
        if (std::regex_match(line, match, team))
        {
            ++teams;
            EXPECT_EQ(std::stoi(match[2]), 4) << line; // the demo's four unit markers a team
            EXPECT_LE(std::stoi(match[3]), 4) << line;
            beaten |= 2 * std::stoi(match[3]) < std::stoi(match[2]);
        }
        else if (std::regex_match(line, match, std::regex("^player \\d team \\d kills \\d+ losses \\d+ damage (\\d+) taken \\d+ score (\\d+) place \\d$")))
            EXPECT_EQ(match[1], match[2]) << "attrition: one player a team scores the damage it dealt";
        else
            EXPECT_TRUE(std::regex_match(line, std::regex("^\\d+ [0-9a-f]{8}$|^winning team \\d+$|^team \\d place \\d score \\d+$")))
                << line;
    }
    EXPECT_EQ(teams, 2);
    EXPECT_TRUE(beaten) << "the teams did not fight:\n" << first.substr(first.find("team "));
    // The hashes, two team lines, two ranked teams, two players, and the winner when there is one.
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), TICKS + 6 + (first.find("winning") != std::string::npos));
}

// Every row of the gameplay-version table, each on one side of the gates the
// unit tests pin, runs the battle through its first fights without a crash
// (half the length keeps the sweep fast).
TEST_F(vesk_sim_battle_test, the_battle_runs_under_every_gameplay_version)
{
    for (const char *version :
         {"1300", "1400", "1500", "1510", "1600", "1690", "1695", "1700", "1710", "1720", "1800", "1805", "1810", "1820", "1825", "1830", "1840", "1850"})
    {
        const std::string output = battle(7, std::string("--gameplay-version ") + version, TICKS / 2);
        EXPECT_NE(output.find("team 1 placed 4 alive"), std::string::npos) << version;
    }
}

TEST_F(vesk_sim_battle_test, a_chosen_gameplay_version_runs_goes_into_the_film_and_a_version_between_rows_is_refused)
{
    for (const char *version : {"1301", "1721", "1999", "12"})
        EXPECT_EQ(run(std::string("--map demo --seed 7 --ticks 10 --gameplay-version ") + version), 2) << version;

    // The rules before the owners were counted: in step, reported alike, no team scored.
    const std::string recorded = battle(7, "--gameplay-version 1820 --record battle.film");
    std::string replayed;
    ASSERT_EQ(run("--film battle.film --report", &replayed), 0);
    EXPECT_EQ(replayed, recorded);
    EXPECT_NE(recorded.find("team 0 place 1 score 0\nteam 1 place 1 score 0\n"), std::string::npos) << recorded;
    EXPECT_EQ(run("--film battle.film --gameplay-version 1820"), 2);
}

} // namespace

} // namespace vesk_sim_battle_test_file
