#pragma once
// Timer tasks on their own threads, and the machine clock.

#include <cstdint>

// Called on the task's own thread; returning false ends the task.
typedef bool (*timer_task_procedure)(void *refcon);

enum { MAXIMUM_TIMER_TASKS = 8 };

// Starts a thread that calls `procedure(refcon)` `calls_per_second` times a
// second, at deadlines start + n/frequency on the monotonic clock (no drift; a
// task more than a second behind skips ahead instead of bursting), until the
// procedure returns false or the task is removed.  Returns a task handle, or
// NONE when the frequency is not positive or no thread could be started.
int32_t install_timer_task(int32_t calls_per_second, timer_task_procedure procedure,
                           void *refcon);

// Stops the task and waits for its thread; after the return the procedure is
// not running and is never called again.  Never call it from inside the task's
// own procedure (return false instead).  False for an unknown handle.
bool remove_timer_task(int32_t task);

// Milliseconds since the program started, on the monotonic clock.  It wraps
// after 49.7 days: compare two counts by their unsigned difference.
uint32_t machine_tick_count(void);
