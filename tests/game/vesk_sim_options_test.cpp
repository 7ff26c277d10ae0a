// vesk_sim's command line: --help is an answer, not an error, and the log's
// copy of the command line keeps no password, in a log only its owner reads.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/net_peers.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace
{
class vesk_sim_options : public vesk_sim_fixture
{
};

TEST_F(vesk_sim_options, help_prints_the_usage_and_exits_0)
{
    EXPECT_EQ(run_vesk_sim("--help > help.out 2> help.err"), 0);
    EXPECT_EQ(read_whole_file("help.out").rfind("usage: vesk_sim", 0), 0u) << read_whole_file("help.out");
    EXPECT_EQ(read_whole_file("help.err"), "");
}

TEST_F(vesk_sim_options, the_logged_command_line_masks_the_password_in_a_log_of_mode_0600)
{
    uint16_t closed_port = 0;
    {
        raw_listener listener; // a lobby nobody answers once it closes
        closed_port = listener.port;
    }
    // A log an older run left world-readable is made private too.
    const char older[] = "an older run\n";
    write_whole_file("old.log", older, sizeof(older) - 1);
    chmod("old.log", 0644);
    for (const char *log : {"new.log", "old.log"})
    {
        SCOPED_TRACE(log);
        run_vesk_sim(std::string("--log ") + log + " --lobby 127.0.0.1:" + std::to_string(closed_port) +
                     " --user someone --password Sesame42 --join-listed --ticks 1 --wall-limit 5 > /dev/null 2>&1");
        const std::string text = read_whole_file(log);
        EXPECT_NE(text.find("--password ******** --join-listed"), std::string::npos) << text;
        EXPECT_EQ(text.find("Sesame42"), std::string::npos) << text;
        struct stat status = {};
        ASSERT_EQ(stat(log, &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
}
} // namespace
