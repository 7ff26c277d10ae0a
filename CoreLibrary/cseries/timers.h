#pragma once
// Timer tasks on their own threads, and the machine clock.

#include <cstdint>

// Called on the task's own thread; returning false ends the task.
typedef bool (*timer_task_procedure)(void *refcon);

enum { MAXIMUM_TIMER_TASKS = 8 };

// Starts a thread that calls `procedure(refcon)` `calls_per_second` times a
// second, at deadlines start + n/frequency on the monotonic clock (no drift; a
// task more than a second behind skips ahead instead of bursting), until the
// procedure returns false or the task is removed.  Returns a task handle
// (positive; salt in the high 16 bits, slot in the low 16, so a handle goes
// stale once its task is removed or its slot taken over, and never names the
// next task of that slot), or NONE when the frequency is not positive,
// the procedure is null, every slot is taken or no thread could be started.
// A task that ended by returning false keeps its slot until it is removed; only
// when every slot is taken does a new task take over such a slot (its old
// handle is then stale, and removing it is refused).
int32_t install_timer_task(int32_t calls_per_second, timer_task_procedure procedure,
                           void *refcon);

// Stops the task and waits for its thread; after the return the procedure is
// not running and is never called again.  Also frees the slot of a task that
// ended by itself.  False for an unknown or already removed handle.  Never call
// it from inside the task's own procedure (return false instead): it would wait
// for itself, so it logs the mistake and returns false, and the task goes on.
bool remove_timer_task(int32_t task);

// Milliseconds since the program started, on the monotonic clock.  It wraps
// after 49.7 days: compare two counts by their unsigned difference.
uint32_t machine_tick_count(void);

// Tests replace the machine clock with their own (null: the real one again).
// The timer tasks keep the monotonic clock.  Any thread may read the clock
// while it is replaced; replace it only while no other thread runs.
typedef uint32_t (*machine_tick_count_procedure)(void);
void set_machine_tick_count_for_tests(machine_tick_count_procedure procedure);
