#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "game_hooks.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "support/game_core_fixture.h"

namespace action_queue_thread_test_file {

// The keyboard task queues a record per tick on the timer thread while the
// event pump queues key presses on the main thread, which also drains and
// flushes the queue.  Each record carries its writer in `ascii_code` and its
// sequence number in `pointer.x`.

namespace {

enum
{
    TIMER_WRITER = 1,
    MAIN_WRITER = 2,
    RECORDS_PER_WRITER = 20000,
};

std::vector<action_data> delivered;

bool capture_action(action_data *action)
{
    delivered.push_back(*action);
    return false;
}

action_data numbered_action(int16_t writer, int32_t sequence)
{
    action_data action = {};
    action.ascii_code = writer;
    action.key_code = NONE;
    action.pointer.x = (int16_t)sequence;
    return action;
}

struct stress_result
{
    int32_t queued[3];
    int32_t received[3];
    bool in_order;
    bool stamps_follow_each_other;
};

// Runs both writers to the end; the main thread drains every few records and,
// with `flush_every` above 0, flushes every so many records.
stress_result run_two_writers(int32_t flush_every)
{
    reset_game_core();
    delivered.clear();
    EXPECT_TRUE(register_action_procedure(_action_cursor_visibility, capture_action));
    EXPECT_TRUE(initialize_actions());

    std::atomic<int32_t> timer_queued{0};
    std::thread timer([&timer_queued] {
        int32_t queued = 0;
        for (int32_t i = 0; i < RECORDS_PER_WRITER; ++i)
        {
            const action_data action = numbered_action(TIMER_WRITER, i);
            if (queue_action(&action)) ++queued;
            advance_local_time();
            if (i % 64 == 0) std::this_thread::yield();
        }
        timer_queued.store(queued);
    });

    stress_result result = {};
    for (int32_t i = 0; i < RECORDS_PER_WRITER; ++i)
    {
        const action_data action = numbered_action(MAIN_WRITER, i);
        if (queue_action(&action)) ++result.queued[MAIN_WRITER];
        if (i % 7 == 0)
        {
            EXPECT_GE(update_actions(), 0);
        }
        if (flush_every > 0 && i % flush_every == 0) flush_actions();
    }
    timer.join();
    result.queued[TIMER_WRITER] = timer_queued.load();
    update_actions();
    update_actions();

    int32_t last[3] = {-1, -1, -1};
    result.in_order = true;
    result.stamps_follow_each_other = true;
    for (size_t i = 0; i < delivered.size(); ++i)
    {
        const action_data &action = delivered[i];
        const int16_t writer = action.ascii_code;
        if (writer != TIMER_WRITER && writer != MAIN_WRITER)
        {
            result.in_order = false;
            continue;
        }
        ++result.received[writer];
        if (action.pointer.x <= last[writer]) result.in_order = false; // lost order or seen twice
        last[writer] = action.pointer.x;
        if (i > 0)
        {
            const int32_t elapsed = action.time - delivered[i - 1].time;
            const int32_t expected_delta = elapsed < 0 ? 0 : elapsed > 1 ? 1 : elapsed;
            if (elapsed < 0 || action.time_delta != expected_delta) result.stamps_follow_each_other = false;
        }
    }
    return result;
}

TEST(action_queue_threads, two_writers_lose_nothing_but_what_a_full_queue_drops)
{
    const stress_result result = run_two_writers(0);
    EXPECT_TRUE(result.in_order) << "every writer's records arrive once each, in the order queued";
    EXPECT_TRUE(result.stamps_follow_each_other) << "each stamp follows the record queued before it";
    for (int32_t writer : {TIMER_WRITER, MAIN_WRITER})
    {
        EXPECT_EQ(result.received[writer], result.queued[writer]) << "writer " << writer;
        EXPECT_GT(result.queued[writer], 0) << "writer " << writer;
    }
}

TEST(action_queue_threads, flushing_while_the_timer_queues_keeps_whole_records)
{
    const stress_result result = run_two_writers(5);
    EXPECT_TRUE(result.in_order) << "a flush drops records whole; none is seen twice or out of order";
    for (int32_t writer : {TIMER_WRITER, MAIN_WRITER})
        EXPECT_LE(result.received[writer], result.queued[writer]) << "writer " << writer;
}

} // namespace

} // namespace action_queue_thread_test_file
