// The game started with a sound system that never answers (an audio library
// whose device never opens, first in its library path): it gives up on it,
// reaches the main menu silent, and its log says why.  A control game started
// beside it with the system's own audio library shows what the start-up takes
// on this machine now: the blocked game may take the sound system's limit
// more, not a wait of its own.

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

// The case takes some 5 seconds; its wait only guards against a game that
// hangs, at over ten times that.
const std::chrono::seconds HANG_GUARD{60};

// A game started at `started`, waited on until its log says it is at the main menu.
struct timed_game
{
    vesk_sim_process process;
    std::chrono::steady_clock::time_point started, at_menu;
    std::string log;

    bool at_main_menu(void)
    {
        if (at_menu != std::chrono::steady_clock::time_point()) return true;
        log = read_whole_file(process.directory + "/vesk_log.txt");
        if (log.find("-> main menu") == std::string::npos) return false;
        at_menu = std::chrono::steady_clock::now();
        return true;
    }
    double seconds_to_menu(void) const { return std::chrono::duration<double>(at_menu - started).count(); }
};

TEST_F(sound_startup_processes, a_sound_system_that_never_answers_leaves_the_game_silent_at_its_main_menu)
{
    own_x_server servers[2];
    std::string why;
    for (own_x_server &server : servers)
        if (!server.start(&why)) GTEST_SKIP() << why;
    // Each game on a display of its own, started together, so that both meet
    // the same load.
    timed_game blocked, control;
    const char *old_path = getenv("LD_LIBRARY_PATH");
    const std::string kept = old_path ? old_path : "";
    setenv("DISPLAY", servers[0].display.c_str(), 1);
    setenv("LD_LIBRARY_PATH", (std::string(BLOCKING_OPENAL_DIRECTORY) + (kept.empty() ? "" : ":" + kept)).c_str(), 1);
    blocked.started = std::chrono::steady_clock::now();
    const bool blocked_running = blocked.process.start_game(bin, directory);
    kept.empty() ? unsetenv("LD_LIBRARY_PATH") : setenv("LD_LIBRARY_PATH", kept.c_str(), 1);
    // The control's audio library opens its silent device at once, whatever
    // sound server this machine has or has left locked.
    setenv("DISPLAY", servers[1].display.c_str(), 1);
    setenv("ALSOFT_DRIVERS", "null", 1);
    control.started = std::chrono::steady_clock::now();
    const bool control_running = control.process.start_game(bin, directory);
    unsetenv("ALSOFT_DRIVERS");
    ASSERT_TRUE(blocked_running);
    ASSERT_TRUE(control_running);
    const auto guard = std::chrono::steady_clock::now() + HANG_GUARD;
    // (Both logs are read each turn: `&`, not `&&`.)
    while (std::chrono::steady_clock::now() < guard && !blocked.process.wait(0) && !control.process.wait(0) &&
           !(blocked.at_main_menu() & control.at_main_menu()))
        poll(nullptr, 0, 10);
    ASSERT_TRUE(control.at_main_menu()) << control.log;
    ASSERT_TRUE(blocked.at_main_menu()) << "the game hangs on its sound system\n" << blocked.log;
    // The limit once (half as long again for a busy machine's late wake-up),
    // and the rest of the start-up at about the control's pace (up to twice
    // its time, for the two runs' shares of the machine): not a second wait
    // on the sound system, nor one of the game's own.
    const double limit = (double)OPENAL_STARTUP_LIMIT_MS / 1000;
    EXPECT_LT(blocked.seconds_to_menu(), 1.5 * limit + 2 * control.seconds_to_menu())
        << "the control game took " << control.seconds_to_menu() << " s";
    const std::string gave_up = "OpenAL did not open a device within " + std::to_string(OPENAL_STARTUP_LIMIT_MS / 1000) +
                                " seconds";
    EXPECT_NE(blocked.log.find(gave_up), std::string::npos) << blocked.log;
    EXPECT_LT(blocked.log.find(gave_up), blocked.log.find("-> main menu")) << "the menu came once the game gave up";
    EXPECT_EQ(blocked.log.find("OpenAL initialized successfully"), std::string::npos) << blocked.log;
    EXPECT_EQ(control.log.find(gave_up), std::string::npos) << control.log;
}
} // namespace

} // namespace sound_startup_processes_test_file
