// vesk_sim's command line and films: --help is an answer, the logged command
// line keeps no password in a log its owner alone reads, and a film cut short
// replays in step to its last whole block and says so.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "support/net_peers.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "recording_format.h"
#include "tag_files/tag_file_formats.h"

namespace vesk_sim_options_test_file {

namespace
{
using vesk_sim_options = vesk_sim_fixture;

// Every program of the build, the game too, answers --help the same way.
TEST_F(vesk_sim_options, help_prints_the_usage_and_exits_0)
{
    for (const char *program : {"vesk_sim", "vesk", "vesk_film", "vesk_gl_probe", "vesk_lobby_probe", "vesk_netprobe",
                                "vesk_render", "vesk_shot", "vesk_sound", "vesk_tags", "vesk_test_lobby"})
    {
        const std::string command = "env -u DISPLAY '" + bin + "/" + program + "' --help > help.out 2> help.err";
        EXPECT_EQ(exit_code_of(system(command.c_str())), 0) << program;
        EXPECT_EQ(read_whole_file("help.out").rfind("usage: ", 0), 0u) << program << ": " << read_whole_file("help.out");
        EXPECT_EQ(read_whole_file("help.err"), "") << program;
    }
    EXPECT_EQ(run_vesk_sim("--help > help.out 2> help.err"), 0);
    EXPECT_EQ(read_whole_file("help.out").rfind("usage: vesk_sim", 0), 0u);
}

TEST_F(vesk_sim_options, the_logged_command_line_masks_the_password_in_a_log_of_mode_0600)
{
    uint16_t closed_port = raw_listener().port; // a lobby nobody answers
    write_whole_file("old.log", "older\n", 6);   // left world-readable by an older run
    chmod("old.log", 0644);
    for (const char *log : {"new.log", "old.log"})
    {
        run_vesk_sim(std::string("--log ") + log + " --lobby 127.0.0.1:" + std::to_string(closed_port) +
                     " --user u --password Sesame42 --join-listed --ticks 1 --wall-limit 5 > /dev/null 2>&1");
        const std::string text = read_whole_file(log);
        EXPECT_NE(text.find("--password ******** --join-listed"), std::string::npos) << text;
        EXPECT_EQ(text.find("Sesame42"), std::string::npos) << text;
        struct stat status = {};
        EXPECT_EQ(stat(log, &status) == 0 ? status.st_mode & 0777 : 0u, 0600u) << log;
    }
}

TEST_F(vesk_sim_options, a_film_cut_short_replays_to_its_last_whole_block_and_says_so)
{
    std::ofstream("orders.txt") << "30 0 move 10,11,12 4000,7000 6000,7000\n300 0 attack-ground 12 9000,7000\n";
    ASSERT_EQ(run_vesk_sim("--map demo --seed 1 --ticks 600 --orders orders.txt --record F > whole.txt"), 0);
    // What a kill leaves: no ending time, the last block only begun.
    std::string film = read_whole_file("F");
    film.resize(film.size() - 6);
    auto put_32 = [&](size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i) film[at + i] = (char)(value >> (24 - 8 * i));
    };
    put_32(offsetof(local_tag_file_header, data_size), (uint32_t)(film.size() - sizeof(local_tag_file_header)));
    put_32(sizeof(local_tag_file_header) + offsetof(recording_file_header, recording_ending_time), 0);
    ASSERT_TRUE(write_whole_file("cut", film.data(), film.size()));
    EXPECT_EQ(run_vesk_sim("--film cut > replayed.txt 2> err.txt"), 1);
    const std::string err = read_whole_file("err.txt"), replayed = read_whole_file("replayed.txt");
    const size_t at = err.find("the film was cut short at tick ");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_GT(atoi(err.c_str() + at + 31), 300) << err;
    ASSERT_FALSE(replayed.empty());
    EXPECT_EQ(read_whole_file("whole.txt").rfind(replayed, 0), 0u) << "in step as far as it went";
}
} // namespace

} // namespace vesk_sim_options_test_file
