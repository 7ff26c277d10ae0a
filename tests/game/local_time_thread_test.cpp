#include <gtest/gtest.h>

#include "cseries/timers.h"
#include "game_time.h"
#include "support/game_core_fixture.h"
#include "vesk.h"

namespace local_time_thread_test_file {

static bool advance_local_time_task(void *) { advance_local_time(); return true; }

TEST(local_time, wait_follows_the_timer_thread_and_never_hangs_without_it)
{
    reset_game_core();
    const int32_t task = install_timer_task(GAME_TICKS_PER_SECOND, advance_local_time_task, nullptr);
    ASSERT_NE(task, NONE);
    const int32_t before = game_->local_time.load();
    EXPECT_GE(wait_local_time(3), 3);
    EXPECT_GE(game_->local_time.load() - before, 3);
    pause_local_time(true);
    EXPECT_EQ(wait_local_time(1), 0) << "paused local time: the wait gives up";
    pause_local_time(false);
    ASSERT_TRUE(remove_timer_task(task));

    const uint32_t start = machine_tick_count();
    EXPECT_EQ(wait_local_time(3), 0) << "no timer: the wait gives up";
    EXPECT_LT(machine_tick_count() - start, 3000u);
}

} // namespace local_time_thread_test_file
