// The game started with a sound system that never answers (an audio library
// whose device never opens, first in its library path): it reaches the main
// menu within 10 seconds, silent, and its log says why.

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "sound/sound_openal.h"
#include "support/net_game_processes.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "support/x_server.h"

namespace sound_startup_processes_test_file {

namespace
{
class sound_startup_processes : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk"}; }
};

TEST_F(sound_startup_processes, a_sound_system_that_never_answers_leaves_the_game_silent_at_its_main_menu)
{
    own_x_server server;
    std::string why;
    if (!server.start(&why)) GTEST_SKIP() << why;
    setenv("DISPLAY", server.display.c_str(), 1);
    const char *old_path = getenv("LD_LIBRARY_PATH");
    const std::string kept = old_path ? old_path : "";
    setenv("LD_LIBRARY_PATH", (std::string(BLOCKING_OPENAL_DIRECTORY) + (kept.empty() ? "" : ":" + kept)).c_str(), 1);
    vesk_sim_process game;
    const auto started = std::chrono::steady_clock::now();
    const bool running = game.start_game(bin, directory);
    kept.empty() ? unsetenv("LD_LIBRARY_PATH") : setenv("LD_LIBRARY_PATH", kept.c_str(), 1);
    ASSERT_TRUE(running);
    std::string log;
    for (int32_t turn = 0; turn < 3000 && !game.wait(0); ++turn) // at most 30 s
    {
        log = read_whole_file(game.directory + "/vesk_log.txt");
        if (log.find("-> main menu") != std::string::npos) break;
        poll(nullptr, 0, 10);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_NE(log.find("-> main menu"), std::string::npos) << log;
    EXPECT_LT(seconds, 10.0);
    EXPECT_NE(log.find("OpenAL did not open a device within " + std::to_string(OPENAL_STARTUP_LIMIT_MS / 1000) +
                       " seconds"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("OpenAL initialized successfully"), std::string::npos) << log;
}
} // namespace

} // namespace sound_startup_processes_test_file
