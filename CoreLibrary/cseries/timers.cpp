// Timer tasks, each on its own thread, and the machine clock.
//
// Every task sleeps on a condition variable bound to the monotonic clock, so
// setting the wall clock neither stalls nor hurries it.  Deadline n is
// start + n / frequency, computed afresh from n each time: rounding never
// accumulates into drift.  A task that falls more than a second behind (the
// machine was suspended, the procedure blocked) starts counting again from
// now instead of making up every missed call in a burst.

#include "cseries/timers.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <pthread.h>

#include "cseries/crash.h"
#include "cseries/cseries.h"

enum
{
    NANOSECONDS_PER_SECOND = 1000000000,
    NANOSECONDS_PER_MILLISECOND = 1000000,
};

// The lateness beyond which a task resynchronises instead of catching up.
static const int64_t MAXIMUM_TIMER_LATENESS_NANOSECONDS = NANOSECONDS_PER_SECOND;

enum timer_task_state
{
    _timer_task_free = 0,
    _timer_task_running, // its thread exists and has not been joined
    _timer_task_removing, // one caller of remove_timer_task is joining it
};

// A handle is built like a tag index: salt in the high 16 bits, slot in the
// low 16.  The salt changes each time a slot is given to a task and is never
// 0, so a handle is never a plain slot number and a stale handle never names
// the task that took its slot over.
enum
{
    TIMER_HANDLE_SLOT_MASK = 0xFFFF,
    TIMER_HANDLE_SALT_SHIFT = 16,
    MAXIMUM_TIMER_SALT = 0x7FFF, // keeps every handle positive
};

struct timer_task
{
    int32_t state; // timer_task_state, guarded by the globals' lock
    uint16_t salt; // of the running task's handle; 0 while the slot is not running
    int32_t calls_per_second;
    timer_task_procedure procedure;
    void *refcon;

    pthread_t thread;
    pthread_mutex_t mutex; // guards stop_requested and ended
    pthread_cond_t wake; // on CLOCK_MONOTONIC
    bool stop_requested;
    bool ended; // the procedure returned false, or the task was stopped
};

struct timer_globals
{
    std::mutex lock; // guards the table's states
    timer_task tasks[MAXIMUM_TIMER_TASKS];
    uint16_t next_salt = 0; // 0 before the first task: read as 1
};

static struct timer_globals timer_globals;

// ---- the clock --------------------------------------------------------------

static int64_t monotonic_nanoseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * NANOSECONDS_PER_SECOND + now.tv_nsec;
}

// The origin of machine_tick_count, fixed on first use; the static below makes
// that first use happen at program start-up.
static int64_t machine_tick_origin(void)
{
    static const int64_t origin = monotonic_nanoseconds();
    return origin;
}

[[maybe_unused]] static const int64_t machine_tick_origin_at_start_up = machine_tick_origin();

static std::atomic<machine_tick_count_procedure> machine_tick_count_for_tests;

void set_machine_tick_count_for_tests(machine_tick_count_procedure procedure)
{
    machine_tick_count_for_tests.store(procedure);
}

uint32_t machine_tick_count(void)
{
    const machine_tick_count_procedure replacement = machine_tick_count_for_tests.load();
    if (replacement) return replacement();
    const int64_t elapsed = monotonic_nanoseconds() - machine_tick_origin();
    return (uint32_t)(uint64_t)(elapsed / NANOSECONDS_PER_MILLISECOND);
}

// ---- the task thread --------------------------------------------------------

static struct timespec timespec_from_nanoseconds(int64_t nanoseconds)
{
    struct timespec result;
    result.tv_sec = (time_t)(nanoseconds / NANOSECONDS_PER_SECOND);
    result.tv_nsec = (long)(nanoseconds % NANOSECONDS_PER_SECOND);
    return result;
}

// Start + n / frequency without overflow for any n a program will reach.
static int64_t timer_deadline(int64_t start, int64_t n, int32_t calls_per_second)
{
    return start + (n / calls_per_second) * NANOSECONDS_PER_SECOND +
        ((n % calls_per_second) * NANOSECONDS_PER_SECOND) / calls_per_second;
}

static void *timer_task_thread(void *argument)
{
    install_thread_alternate_signal_stack(); // a crash here is then still handled
    timer_task *task = (timer_task *)argument;
    int64_t start = monotonic_nanoseconds();
    int64_t n = 0;

    pthread_mutex_lock(&task->mutex);
    for (;;)
    {
        n += 1;
        const int64_t deadline = timer_deadline(start, n, task->calls_per_second);
        const struct timespec deadline_time = timespec_from_nanoseconds(deadline);
        while (!task->stop_requested && monotonic_nanoseconds() < deadline)
        {
            // ETIMEDOUT and spurious wake-ups both lead back to the clock test.
            pthread_cond_timedwait(&task->wake, &task->mutex, &deadline_time);
        }
        if (task->stop_requested) break;
        pthread_mutex_unlock(&task->mutex);

        if (monotonic_nanoseconds() - deadline > MAXIMUM_TIMER_LATENESS_NANOSECONDS)
        {
            start = monotonic_nanoseconds();
            n = 0;
        }
        const bool keep_going = task->procedure(task->refcon);

        pthread_mutex_lock(&task->mutex);
        if (!keep_going) break;
    }
    task->ended = true;
    pthread_mutex_unlock(&task->mutex);
    return nullptr;
}

// Joins an ended or stopped task's thread and frees its slot's resources.
// The caller owns the slot (its state keeps everyone else away).
static void timer_task_join_and_release(timer_task *task)
{
    pthread_mutex_lock(&task->mutex);
    task->stop_requested = true;
    pthread_cond_signal(&task->wake);
    pthread_mutex_unlock(&task->mutex);

    pthread_join(task->thread, nullptr);
    pthread_cond_destroy(&task->wake);
    pthread_mutex_destroy(&task->mutex);
}

static bool timer_task_has_ended(timer_task *task)
{
    pthread_mutex_lock(&task->mutex);
    const bool ended = task->ended;
    pthread_mutex_unlock(&task->mutex);
    return ended;
}

// Picks a free slot and marks it as being set up (state "removing" keeps every
// other caller away until it is running or free again).  When every slot is
// taken, a task that ended by itself gives up its slot.  NONE when full.
static int32_t timer_task_claim_slot(void)
{
    int32_t ended_index = NONE;
    {
        std::lock_guard<std::mutex> guard(timer_globals.lock);
        for (int32_t index = 0; index < MAXIMUM_TIMER_TASKS; ++index)
        {
            timer_task *task = &timer_globals.tasks[index];
            if (task->state == _timer_task_free)
            {
                task->state = _timer_task_removing;
                return index;
            }
        }
        for (int32_t index = 0; index < MAXIMUM_TIMER_TASKS; ++index)
        {
            timer_task *task = &timer_globals.tasks[index];
            if (task->state == _timer_task_running && timer_task_has_ended(task))
            {
                task->state = _timer_task_removing;
                task->salt = 0;
                ended_index = index;
                break;
            }
        }
    }
    if (ended_index != NONE)
    {
        timer_task_join_and_release(&timer_globals.tasks[ended_index]);
    }
    return ended_index;
}

static void timer_task_release_slot(int32_t index)
{
    std::lock_guard<std::mutex> guard(timer_globals.lock);
    timer_globals.tasks[index].state = _timer_task_free;
    timer_globals.tasks[index].salt = 0;
}

int32_t install_timer_task(int32_t calls_per_second, timer_task_procedure procedure,
                           void *refcon)
{
    if (calls_per_second <= 0 || !procedure) return NONE;

    const int32_t index = timer_task_claim_slot();
    if (index == NONE)
    {
        log_message(__FILE__, __LINE__, "install_timer_task: all %d timer tasks are in use",
                    (int)MAXIMUM_TIMER_TASKS);
        return NONE;
    }

    timer_task *task = &timer_globals.tasks[index];
    task->calls_per_second = calls_per_second;
    task->procedure = procedure;
    task->refcon = refcon;
    task->stop_requested = false;
    task->ended = false;

    bool ok = pthread_mutex_init(&task->mutex, nullptr) == 0;
    bool condition_made = false;
    if (ok)
    {
        pthread_condattr_t attributes;
        ok = pthread_condattr_init(&attributes) == 0;
        if (ok)
        {
            ok = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                pthread_cond_init(&task->wake, &attributes) == 0;
            pthread_condattr_destroy(&attributes);
            condition_made = ok;
        }
        int error = 0;
        if (ok)
        {
            error = pthread_create(&task->thread, nullptr, timer_task_thread, task);
            ok = error == 0;
        }
        if (!ok)
        {
            log_message(__FILE__, __LINE__, "install_timer_task: no thread could be started (%s)",
                        strerror(error ? error : errno));
            if (condition_made) pthread_cond_destroy(&task->wake);
            pthread_mutex_destroy(&task->mutex);
        }
    }
    if (!ok)
    {
        timer_task_release_slot(index);
        return NONE;
    }

    std::lock_guard<std::mutex> guard(timer_globals.lock);
    const uint16_t salt = timer_globals.next_salt ? timer_globals.next_salt : 1;
    timer_globals.next_salt = (uint16_t)(salt >= MAXIMUM_TIMER_SALT ? 1 : salt + 1);
    task->salt = salt;
    task->state = _timer_task_running;
    return ((int32_t)salt << TIMER_HANDLE_SALT_SHIFT) | index;
}

bool remove_timer_task(int32_t handle)
{
    if (handle <= 0) return false;
    const int32_t index = handle & TIMER_HANDLE_SLOT_MASK;
    const uint16_t salt = (uint16_t)((uint32_t)handle >> TIMER_HANDLE_SALT_SHIFT);
    if (salt == 0 || index >= MAXIMUM_TIMER_TASKS) return false;
    timer_task *task = &timer_globals.tasks[index];
    {
        std::lock_guard<std::mutex> guard(timer_globals.lock);
        if (task->state != _timer_task_running || task->salt != salt) return false;
        // Joining its own thread would wait forever.
        if (pthread_equal(task->thread, pthread_self()))
        {
            log_message(__FILE__, __LINE__,
                        "remove_timer_task: called from inside task %d's own procedure",
                        (int)index);
            return false;
        }
        task->state = _timer_task_removing;
    }
    timer_task_join_and_release(task);
    timer_task_release_slot(index);
    return true;
}
