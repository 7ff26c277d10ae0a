// vesk_sim with the campaign test map end to end: one seed gives one trace
// twice and another seed another trace, the traces of its platoon and its
// filter land in the log, and its film replays to the recorded trace.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/demo_data.h"
#include "support/scratch.h"

namespace {
namespace fs = std::filesystem;

class vesk_sim_campaign_test : public ::testing::Test
{
protected:
    std::string directory, previous, bin;

    void SetUp() override
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        bin = fs::absolute(fs::path(previous) / ".." / "bin").string();
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        if (!fs::exists(fs::path(bin) / "vesk_sim")) SKIP_OR_FAIL_UNDER_CI("vesk_sim is missing");
        directory = enter_test_directory();
        std::vector<test_tag> campaign;
        ASSERT_TRUE(make_demo_map_source_tags(tool, "campaign_valley.map", "camp", &campaign));
        ASSERT_TRUE(write_demo_data_set(tool, campaign));
    }
    void TearDown() override
    {
        if (chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
    }
    // Runs vesk_sim in the data directory; its standard output.
    int run(const std::string &arguments, std::string *output)
    {
        const std::string out = directory + "/out.txt";
        const int status = system(("cd '" + directory + "' && '" + bin + "/vesk_sim' --data '" + directory + "' " +
                                   arguments + " > '" + out + "' 2> '" + directory + "/err.txt'")
                                      .c_str());
        *output = read_whole_file(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(vesk_sim_campaign_test, one_seed_gives_one_trace_another_seed_another_and_the_film_replays_it)
{
    const std::string ticks = " --ticks 600 --report";
    std::string first, again, other, replayed;
    ASSERT_EQ(run("--map camp --seed 7" + ticks + " --log campaign.log --record campaign.film", &first), 0)
        << read_whole_file(directory + "/err.txt");
    ASSERT_EQ(run("--map camp --seed 7" + ticks, &again), 0);
    ASSERT_EQ(run("--map camp --seed 8" + ticks, &other), 0);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_NE(first.find("team 0 placed 9"), std::string::npos) << first.substr(first.find("team "));

    const std::string log = read_whole_file(directory + "/campaign.log");
    EXPECT_NE(log.find("MA [plat] the platoon "), std::string::npos);
    EXPECT_NE(log.find("MA [geom] stragglers in the south-east "), std::string::npos);

    ASSERT_EQ(run("--film campaign.film --report", &replayed), 0) << read_whole_file(directory + "/err.txt");
    EXPECT_EQ(replayed, first);
}

} // namespace
