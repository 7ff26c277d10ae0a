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

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an
// alternate stack.  Call after the log is open.
void initialize_crash_handler(void);

// Adds a procedure to run inside the crash handler, in registration order.
// False when the table is full.  A procedure must do only what is safe in a
// signal handler and bounded in time.
bool register_crash_procedure(crash_procedure procedure);

// Removes every registered procedure and restores the default signal actions.
void dispose_crash_handler(void);
