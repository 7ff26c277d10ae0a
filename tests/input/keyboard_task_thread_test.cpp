#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "game_hooks.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/keyboard.h"
#include "support/game_core_fixture.h"
#include "support/machine_pace.h"

namespace keyboard_task_thread_test_file {

// The keyboard task is the program's clock: while its state is on it queues a
// record and advances local time every tick, on the timer thread; while it is
// off neither happens.

namespace {

int32_t records_seen = 0;

bool count_action(action_data *action)
{
    ++records_seen;
    EXPECT_EQ(action->key_code, NONE);
    EXPECT_EQ(action->ascii_code, NONE);
    return false;
}

// Waits (up to 10 s, so a loaded machine cannot fail it) until local time has
// moved `ticks` past `from`.
bool local_time_reaches(int32_t from, int32_t ticks)
{
    for (int32_t waited = 0; waited < 1000; ++waited)
    {
        if (game_->local_time.load() - from >= ticks) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(keyboard_task, queues_a_record_and_advances_local_time_each_tick_only_while_on)
{
    reset_game_core();
    ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, count_action));
    ASSERT_TRUE(initialize_actions());
    ASSERT_TRUE(initialize_keyboard()); // a second start keeps the one task

    const int32_t start = game_->local_time.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(game_->local_time.load(), start) << "the task runs while its state is off";

    set_keyboard_queue_task_state(true);
    ASSERT_TRUE(local_time_reaches(start, 3));
    set_keyboard_queue_task_state(false);
    std::this_thread::sleep_for(scaled_duration(std::chrono::milliseconds(60))); // a tick under way ends
    const int32_t stopped = game_->local_time.load();

    records_seen = 0;
    const int32_t ticks = update_actions();
    EXPECT_GE(records_seen, 3);
    EXPECT_GE(ticks, 3);
    EXPECT_LE(records_seen, stopped - start + 1);

    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(game_->local_time.load(), stopped);
    remove_keyboard_queue_task();
    remove_keyboard_queue_task(); // twice is harmless
}

// A main loop spinning far faster than 30 Hz must still count every tick: the
// frames' local ticks add up to exactly the ticks local time moved.
TEST(keyboard_task, frames_that_spin_between_ticks_count_every_tick)
{
    reset_game_core();
    ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, count_action));
    ASSERT_TRUE(initialize_actions());
    ASSERT_TRUE(initialize_keyboard());

    const int32_t start = game_->local_time.load();
    int32_t counted = 0;
    set_keyboard_queue_task_state(true);
    while (game_->local_time.load() - start < 10) counted += update_actions();
    set_keyboard_queue_task_state(false);
    std::this_thread::sleep_for(scaled_duration(std::chrono::milliseconds(60)));
    counted += update_actions();
    EXPECT_EQ(counted, game_->local_time.load() - start);
    remove_keyboard_queue_task();
}

} // namespace

} // namespace keyboard_task_thread_test_file
