#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cseries/cseries.h"
#include "cseries/timers.h"
#include "support/machine_pace.h"

namespace timer_thread_test_file {

namespace {

using clock_type = std::chrono::steady_clock;

static void sleep_milliseconds(int32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Waits until `condition` holds, at most `limit_ms`; true when it held.
template <typename Condition>
static bool wait_for(Condition condition, int32_t limit_ms)
{
    const clock_type::time_point end = clock_type::now() + std::chrono::milliseconds(limit_ms);
    while (!condition())
    {
        if (clock_type::now() > end) return false;
        sleep_milliseconds(1);
    }
    return true;
}

struct cadence_record
{
    clock_type::time_point origin;
    std::atomic<int32_t> calls;
    int64_t call_microseconds[1000]; // when each call happened, after `origin`
};

static bool record_call(void *refcon)
{
    cadence_record *record = (cadence_record *)refcon;
    const int32_t index = record->calls.load();
    if (index < 1000)
    {
        record->call_microseconds[index] = std::chrono::duration_cast<std::chrono::microseconds>(
            clock_type::now() - record->origin).count();
    }
    record->calls.store(index + 1);
    return true;
}

// The task keeps its own times, so a slow test thread on a loaded machine
// does not blur the record.  Call n is due n * 10 ms after the task's start,
// which follows `origin`: none may come earlier (a timer running fast), and
// the lateness must not grow with n (a timer running slow, or one measuring
// each wait from the last call).  A busy machine makes calls late, never
// early, and a late task catches up, so the least lateness over many calls
// stays that of the machine's wake-ups.
TEST(timer_task, calls_at_its_frequency_without_drift)
{
    static cadence_record record;
    record.calls.store(0);
    record.origin = clock_type::now();
    const int32_t task = install_timer_task(100, record_call, &record);
    ASSERT_NE(task, NONE);
    // 3.3 s of calls; the bound only guards against a hang, at ten times that.
    EXPECT_TRUE(wait_for([] { return record.calls.load() >= 330; }, 33000));
    ASSERT_TRUE(remove_timer_task(task));

    const int32_t calls = std::min(record.calls.load(), 1000);
    ASSERT_GE(calls, 330);
    for (int32_t i = 0; i < calls; ++i)
        ASSERT_GE(record.call_microseconds[i], (int64_t)(i + 1) * 10000) << "call " << i + 1 << " came early";

    // The least lateness over a window of calls stays put when deadlines
    // are absolute; it grows with the call number when each wait is measured
    // from the last call.  The tolerance is the reference machine's 10 ms,
    // scaled by this machine's pace (support/machine_pace.h).
    auto least_lateness = [calls](int32_t first, int32_t end) {
        int64_t least = INT64_MAX;
        for (int32_t i = first; i < std::min(end, calls); ++i)
            least = std::min(least, record.call_microseconds[i] - (int64_t)(i + 1) * 10000);
        return least;
    };
    EXPECT_LT(least_lateness(250, 330) - least_lateness(0, 50), scaled_milliseconds(10) * 1000)
        << "the calls drift later and later";
}

struct stopping_record
{
    std::atomic<int32_t> calls;
    std::atomic<bool> inside;
};

static bool stop_after_five_calls(void *refcon)
{
    stopping_record *record = (stopping_record *)refcon;
    return record->calls.fetch_add(1) + 1 < 5;
}

TEST(timer_task, returning_false_ends_the_task)
{
    static stopping_record record;
    record.calls.store(0);
    const int32_t task = install_timer_task(200, stop_after_five_calls, &record);
    ASSERT_NE(task, NONE);
    ASSERT_TRUE(wait_for([] { return record.calls.load() >= 5; }, 5000));
    sleep_milliseconds(100);
    EXPECT_EQ(record.calls.load(), 5);
    // The ended task still holds its slot until removed, once.
    EXPECT_TRUE(remove_timer_task(task));
    EXPECT_FALSE(remove_timer_task(task));
}

static bool slow_procedure(void *refcon)
{
    stopping_record *record = (stopping_record *)refcon;
    record->inside.store(true);
    sleep_milliseconds(3);
    record->calls.fetch_add(1);
    record->inside.store(false);
    return true;
}

TEST(timer_task, remove_waits_for_the_procedure_and_stops_all_calls)
{
    static stopping_record record;
    for (int32_t attempt = 0; attempt < 20; ++attempt)
    {
        record.calls.store(0);
        record.inside.store(false);
        const int32_t task = install_timer_task(250, slow_procedure, &record);
        ASSERT_NE(task, NONE);
        ASSERT_TRUE(wait_for([] { return record.calls.load() >= 1; }, 5000));
        sleep_milliseconds(attempt % 5);
        ASSERT_TRUE(remove_timer_task(task));
        EXPECT_FALSE(record.inside.load()) << "the procedure still runs after removal";
        const int32_t calls_at_removal = record.calls.load();
        sleep_milliseconds(20);
        EXPECT_EQ(record.calls.load(), calls_at_removal);
        EXPECT_FALSE(remove_timer_task(task));
    }
}

struct self_removing_record
{
    std::atomic<int32_t> handle;
    std::atomic<int32_t> result; // -1 until tried, then 0 or 1
};

static bool try_to_remove_itself(void *refcon)
{
    self_removing_record *record = (self_removing_record *)refcon;
    const int32_t handle = record->handle.load();
    if (handle == NONE) return true;
    record->result.store(remove_timer_task(handle) ? 1 : 0);
    return true;
}

TEST(timer_task, removing_itself_from_inside_is_refused_without_deadlock)
{
    static self_removing_record record;
    record.handle.store(NONE);
    record.result.store(-1);
    const int32_t task = install_timer_task(100, try_to_remove_itself, &record);
    ASSERT_NE(task, NONE);
    record.handle.store(task);
    ASSERT_TRUE(wait_for([] { return record.result.load() != -1; }, 5000))
        << "remove_timer_task from inside the procedure did not return";
    EXPECT_EQ(record.result.load(), 0);
    EXPECT_TRUE(remove_timer_task(task));
}

static bool count_call(void *refcon)
{
    ((std::atomic<int32_t> *)refcon)->fetch_add(1);
    return true;
}

TEST(timer_task, refuses_bad_arguments_and_a_full_table)
{
    static std::atomic<int32_t> calls{0};
    EXPECT_EQ(install_timer_task(0, count_call, &calls), NONE);
    EXPECT_EQ(install_timer_task(-30, count_call, &calls), NONE);
    EXPECT_EQ(install_timer_task(30, nullptr, &calls), NONE);
    EXPECT_FALSE(remove_timer_task(NONE));
    EXPECT_FALSE(remove_timer_task(MAXIMUM_TIMER_TASKS));

    int32_t tasks[MAXIMUM_TIMER_TASKS];
    for (int32_t i = 0; i < MAXIMUM_TIMER_TASKS; ++i)
    {
        tasks[i] = install_timer_task(10, count_call, &calls);
        ASSERT_NE(tasks[i], NONE);
        for (int32_t j = 0; j < i; ++j) EXPECT_NE(tasks[i], tasks[j]);
    }
    EXPECT_EQ(install_timer_task(10, count_call, &calls), NONE);
    for (int32_t i = 0; i < MAXIMUM_TIMER_TASKS; ++i) EXPECT_TRUE(remove_timer_task(tasks[i]));
}

// A handle names one task, not a slot: once a slot serves another task the
// old handle must not stop it, whether the first task was removed or ended by
// itself and had its slot taken over.
TEST(timer_task, a_stale_handle_never_stops_the_task_that_reuses_its_slot)
{
    static std::atomic<int32_t> calls{0};
    const int32_t first = install_timer_task(50, count_call, &calls);
    ASSERT_NE(first, NONE);
    EXPECT_GT(first, 0);
    ASSERT_TRUE(remove_timer_task(first));
    const int32_t second = install_timer_task(50, count_call, &calls);
    ASSERT_NE(second, NONE);
    EXPECT_NE(second, first);
    EXPECT_EQ(second & 0xFFFF, first & 0xFFFF) << "the test expects the freed slot to be reused";
    EXPECT_FALSE(remove_timer_task(first));
    const int32_t calls_before = calls.load();
    EXPECT_TRUE(wait_for([calls_before] { return calls.load() > calls_before; }, 5000))
        << "a stale handle stopped the task now in its slot";
    EXPECT_TRUE(remove_timer_task(second));

    // Fill the table with one task that ends by itself, then take its slot over.
    static stopping_record record;
    record.calls.store(0);
    int32_t tasks[MAXIMUM_TIMER_TASKS];
    tasks[0] = install_timer_task(200, stop_after_five_calls, &record);
    ASSERT_NE(tasks[0], NONE);
    for (int32_t i = 1; i < MAXIMUM_TIMER_TASKS; ++i) ASSERT_NE(tasks[i] = install_timer_task(10, count_call, &calls), NONE);
    ASSERT_TRUE(wait_for([] { return record.calls.load() >= 5; }, 5000));
    sleep_milliseconds(50);
    const int32_t taker = install_timer_task(10, count_call, &calls);
    ASSERT_NE(taker, NONE);
    EXPECT_NE(taker, tasks[0]);
    EXPECT_FALSE(remove_timer_task(tasks[0]));
    EXPECT_TRUE(remove_timer_task(taker));
    for (int32_t i = 1; i < MAXIMUM_TIMER_TASKS; ++i) EXPECT_TRUE(remove_timer_task(tasks[i]));
}

TEST(machine_tick_count, follows_the_monotonic_clock_in_milliseconds)
{
    const uint32_t before = machine_tick_count();
    sleep_milliseconds(200);
    const uint32_t elapsed = machine_tick_count() - before;
    EXPECT_GE(elapsed, 195u);
    EXPECT_LT(elapsed, 5000u);
}

} // namespace

} // namespace timer_thread_test_file
