#pragma once
// The crash handler: on a fatal signal it writes the signal and a backtrace to
// the log, runs the registered crash procedures (a later subsystem saves the
// film this way), moves the log to "vesk_crashlog- <date>.txt" and ends the
// process.  Only async-signal-safe work is done inside the handler; a crash
// procedure that hangs is ended by a watchdog alarm.

#include <cstdint>

typedef void (*crash_procedure)(void);

enum
{
    MAXIMUM_CRASH_PROCEDURES = 8,
    CRASH_WATCHDOG_SECONDS = 5,
};

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, with
// an alternate stack for the calling thread (other threads get theirs from
// install_thread_alternate_signal_stack).  Call from the main thread after the
// log is open, in the directory that holds the log: the paths of the log and
// of the crash log are fixed here.  Calling it again refreshes them.
void initialize_crash_handler(void);

// Adds a procedure to run inside the crash handler, in registration order.
// An ordered list (registration.h): a null procedure, one registered already
// and one past the list's room are refused with its logged assertion; false
// then.  Call at start-up from
// the main thread.  A procedure must do only what is safe in a signal handler
// and bounded in time: after CRASH_WATCHDOG_SECONDS the process is ended by
// SIGALRM, and the log is then left under its own name.
bool register_crash_procedure(crash_procedure procedure);

// Gives the calling thread an alternate signal stack of its own, so that a
// crash by stack overflow in it still reaches the handler.  Every thread the
// program starts calls it first thing in its entry procedure; the stack is
// freed when the thread ends.  False (logged) when none could be made; true
// at once when the thread has one already.
bool install_thread_alternate_signal_stack(void);

// Removes every registered procedure and restores the signal actions and the
// alternate stack that were in place before initialize_crash_handler.
void dispose_crash_handler(void);
