// vesk_sim --orders end to end: timed unit orders become the players' own
// commands at their ticks, the film records them and replays in step, and a
// line that does not parse is refused with its number.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"

namespace vesk_sim_orders_test_file {

namespace {
namespace fs = std::filesystem;

class vesk_sim_orders_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk_sim", "vesk_film"}; }
    void write_orders(const char *text)
    {
        std::ofstream file("orders.txt");
        file << text;
    }
    int run(const std::string &arguments) { return run_vesk_sim(arguments); }
};

} // namespace

TEST_F(vesk_sim_orders_test, the_orders_go_into_the_film_at_their_ticks_for_their_players_and_replay)
{
    write_orders("# the demo's two sides\n"
                 "30 0 move 10,11,12 4000,7000 6000,7000\n"
                 "\n"
                 "45 1 attack 20,21 10,11   # every attacker its target\n"
                 "300 0 attack-ground 12 9000,7000\n"
                 "301 1 stop 22\n");
    ASSERT_EQ(run("--map demo --seed 1 --ticks 600 --orders orders.txt --record F > recorded.txt 2> err.txt"), 0)
        << read_whole_file("err.txt");
    ASSERT_EQ(system(("'" + bin + "/vesk_film' F > listing.txt").c_str()), 0);
    const std::string listing = read_whole_file("listing.txt");
    for (const char *line : {"time 30 verb 3 (movement) player 0", "time 45 verb 4 (target) player 1",
                             "time 300 verb 5 (attack location) player 0", "time 301 verb 2 (general) player 1"})
        EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;

    // The film replays the same trace.
    ASSERT_EQ(run("--film F > replayed.txt 2> err.txt"), 0) << read_whole_file("err.txt");
    EXPECT_EQ(read_whole_file("recorded.txt"), read_whole_file("replayed.txt"));
}

TEST_F(vesk_sim_orders_test, a_line_that_does_not_parse_is_refused_with_its_number)
{
    const struct
    {
        const char *text;
        const char *expected;
    } rows[] = {
        {"10 0 move 10 100,100\n20 4 stop 10\n", "line 2"},
        {"# c\n\n10 0 fly 10\n", "line 3"},
        {"10 0 move 10\n", "line 1"},
        {"10 0 move 10 1,2 3,4 5,6 7,8 9,9\n", "line 1"},
        {"10 0 stop 0\n", "line 1"},
        {"10 0 stop 10,x\n", "line 1"},
        {"20 0 stop 10\n10 0 stop 10\n", "line 2"},
        {"10 0 attack 10\n", "line 1"},
        {"0x10 0 stop 10\n", "line 1"},
        {"10 0 stop 10 extra\n", "line 1"},
    };
    for (const auto &row : rows)
    {
        write_orders(row.text);
        EXPECT_EQ(run("--map demo --seed 1 --ticks 5 --orders orders.txt > out.txt 2> err.txt"), 2) << row.text;
        EXPECT_NE(read_whole_file("err.txt").find(row.expected), std::string::npos)
            << row.text << read_whole_file("err.txt");
        EXPECT_EQ(read_whole_file("out.txt"), "") << "no game starts";
    }
    EXPECT_EQ(run("--film F --orders orders.txt > /dev/null 2>&1"), 2);
    EXPECT_EQ(run("--map demo --seed 1 --ticks 5 --orders missing.txt > /dev/null 2>&1"), 2);
}

} // namespace vesk_sim_orders_test_file
