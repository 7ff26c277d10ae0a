// The crash handler.  Everything done after the signal arrives is
// async-signal-safe: no allocation, no stdio, no locks, no localtime.  What the
// handler needs (the UTC offset, the absolute paths) is prepared at start-up.

#include "cseries/crash.h"

#include "cseries/registration.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

#include "cseries/log.h"

#define CRASH_LOG_PREFIX "vesk_crashlog- "

enum
{
    NUMBER_OF_CRASH_SIGNALS = 5,
    // Generous: backtrace() unwinds through libgcc on this stack, and the
    // sanitizers' instrumentation enlarges every frame.
    CRASH_STACK_SIZE = 256 * 1024,
    MAXIMUM_BACKTRACE_DEPTH = 64,
    // "YYYY-MM-DD hh:mm:ss" and room for a year beyond four digits.
    CRASH_DATE_LENGTH = 32,
};

static const int crash_signals[NUMBER_OF_CRASH_SIGNALS] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// An ordered list: its count is published after the entry is filled, so the
// handler, on any thread, reads only whole entries.
static procedure_list<crash_procedure, MAXIMUM_CRASH_PROCEDURES> crash_procedures("crash");

static struct crash_globals
{
    bool installed;
    // Set on entry to the handler: a second crash goes straight to the
    // default action instead of running the procedures again.
    std::atomic<bool> handling;
    // Local time minus UTC, taken when the handler was installed.
    int64_t utc_offset_seconds;
    // Absolute, because a crash procedure may change the working directory.
    char log_path[PATH_MAX + sizeof(LOG_FILE_NAME)];
    char crash_log_path[PATH_MAX + sizeof(CRASH_LOG_PREFIX) + CRASH_DATE_LENGTH + 8];
    size_t crash_log_prefix_length;
    void *stack_memory;
    stack_t previous_stack;
    struct sigaction previous_actions[NUMBER_OF_CRASH_SIGNALS];
} crash_globals;

struct crash_date
{
    int64_t year;
    int32_t month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date, by integer arithmetic
// only (localtime may lock and allocate).
static void civil_from_days(int64_t days, crash_date *date)
{
    days += 719468; // from 0000-03-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_from_march = (5 * day_of_year + 2) / 153;
    date->day = (int32_t)(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    date->month = (int32_t)(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    date->year = year_of_era + era * 400 + (date->month <= 2 ? 1 : 0);
}

static void local_crash_date(crash_date *date)
{
    const int64_t seconds = (int64_t)time(nullptr) + crash_globals.utc_offset_seconds;
    int64_t days = seconds / 86400;
    int64_t second_of_day = seconds % 86400;
    if (second_of_day < 0)
    {
        second_of_day += 86400;
        days -= 1;
    }
    civil_from_days(days, date);
    date->hour = (int32_t)(second_of_day / 3600);
    date->minute = (int32_t)(second_of_day / 60 % 60);
    date->second = (int32_t)(second_of_day % 60);
}

// Appends `value` in decimal, zero-padded to `width` digits; returns the new
// length.  `buffer` must have room for 20 more characters.
static size_t append_decimal(char *buffer, size_t length, int64_t value, int32_t width)
{
    char digits[24];
    int32_t count = 0;
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - (uint64_t)value : (uint64_t)value;
    do
    {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < width) digits[count++] = '0';
    if (negative) buffer[length++] = '-';
    while (count > 0) buffer[length++] = digits[--count];
    return length;
}

static size_t append_text(char *buffer, size_t length, const char *text)
{
    while (*text) buffer[length++] = *text++;
    return length;
}

// "YYYY-MM-DD" + `between` + hh, mm, ss separated by `time_separator`.
static size_t format_crash_date(char *buffer, const crash_date *date, char between, char time_separator)
{
    size_t length = append_decimal(buffer, 0, date->year, 4);
    buffer[length++] = '-';
    length = append_decimal(buffer, length, date->month, 2);
    buffer[length++] = '-';
    length = append_decimal(buffer, length, date->day, 2);
    buffer[length++] = between;
    length = append_decimal(buffer, length, date->hour, 2);
    buffer[length++] = time_separator;
    length = append_decimal(buffer, length, date->minute, 2);
    buffer[length++] = time_separator;
    length = append_decimal(buffer, length, date->second, 2);
    buffer[length] = 0;
    return length;
}

static void write_all_from_handler(int descriptor, const char *text, size_t length)
{
    while (length > 0)
    {
        const ssize_t written = write(descriptor, text, length);
        if (written < 0)
        {
            if (errno == EINTR) continue;
            return;
        }
        text += written;
        length -= (size_t)written;
    }
}

static void set_default_action_and_unblock(int signal_number)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
}

[[noreturn]] static void die_by_signal(int signal_number)
{
    set_default_action_and_unblock(signal_number);
    raise(signal_number);
    // A synchronous fault that was raised by the kernel comes back when the
    // handler returns; a raised one ends us above.  Neither should reach here.
    _exit(128 + signal_number);
}

static void handle_signal(int signal_number, siginfo_t *, void *)
{
    if (crash_globals.handling.exchange(true)) die_by_signal(signal_number);

    const int log_descriptor = log_file_descriptor();
    const int descriptor = log_descriptor >= 0 ? log_descriptor : STDERR_FILENO;

    crash_date date;
    local_crash_date(&date);

    char line[CRASH_DATE_LENGTH + 64];
    size_t length = format_crash_date(line, &date, ' ', ':');
    length = append_text(line, length, "  crash: signal ");
    length = append_decimal(line, length, signal_number, 1);
    line[length++] = '\n';
    // Armed before anything that may hang: backtrace() is not
    // async-signal-safe (the unwinder may wait for a lock the crashed code
    // holds), nor is a procedure bound to return (a full disk).  The default
    // SIGALRM action ends the process.
    set_default_action_and_unblock(SIGALRM);
    alarm(CRASH_WATCHDOG_SECONDS);

    write_all_from_handler(descriptor, line, length);

    void *frames[MAXIMUM_BACKTRACE_DEPTH];
    const int frame_count = backtrace(frames, MAXIMUM_BACKTRACE_DEPTH);
    backtrace_symbols_fd(frames, frame_count, descriptor);

    const int32_t procedure_count = crash_procedures.count();
    for (int32_t i = 0; i < procedure_count; ++i) crash_procedures.get(i)();
    alarm(0);

    if (log_descriptor >= 0)
    {
        char *crash_log_path = crash_globals.crash_log_path;
        length = crash_globals.crash_log_prefix_length;
        length += format_crash_date(crash_log_path + length, &date, ' ', '.');
        length = append_text(crash_log_path, length, ".txt");
        crash_log_path[length] = 0;
        rename(crash_globals.log_path, crash_log_path);
    }

    die_by_signal(signal_number);
}

// Builds `directory/name` into `buffer`; just `name` when the directory is
// unknown.  Returns the length.
static size_t join_path(char *buffer, size_t size, const char *directory, const char *name)
{
    int n = directory[0] ? snprintf(buffer, size, "%s/%s", directory, name) : snprintf(buffer, size, "%s", name);
    if (n < 0 || (size_t)n >= size)
    {
        n = snprintf(buffer, size, "%s", name);
    }
    return n < 0 ? 0 : (size_t)n;
}

void initialize_crash_handler(void)
{
    // The first backtrace() loads libgcc, which allocates; do it now rather
    // than inside the handler.
    void *frames[4];
    backtrace(frames, 4);

    const time_t now = time(nullptr);
    struct tm local;
    crash_globals.utc_offset_seconds = localtime_r(&now, &local) ? (int64_t)local.tm_gmtoff : 0;

    char directory[PATH_MAX];
    if (!getcwd(directory, sizeof(directory))) directory[0] = 0;
    join_path(crash_globals.log_path, sizeof(crash_globals.log_path), directory, LOG_FILE_NAME);
    // Leaves room after the prefix for the date and ".txt" (see the array size).
    crash_globals.crash_log_prefix_length =
        join_path(crash_globals.crash_log_path, sizeof(crash_globals.crash_log_path) - CRASH_DATE_LENGTH - 8,
                  directory, CRASH_LOG_PREFIX);

    if (!crash_globals.stack_memory)
    {
        void *memory = mmap(nullptr, CRASH_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED)
        {
            stack_t stack;
            memset(&stack, 0, sizeof(stack));
            stack.ss_sp = memory;
            stack.ss_size = CRASH_STACK_SIZE;
            if (sigaltstack(&stack, &crash_globals.previous_stack) == 0)
            {
                crash_globals.stack_memory = memory;
            }
            else
            {
                munmap(memory, CRASH_STACK_SIZE);
                log_message(__FILE__, __LINE__, "no alternate signal stack (errno %d)", errno);
            }
        }
    }

    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_sigaction = handle_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int32_t i = 0; i < NUMBER_OF_CRASH_SIGNALS; ++i)
    {
        struct sigaction *previous = crash_globals.installed ? nullptr : &crash_globals.previous_actions[i];
        if (sigaction(crash_signals[i], &action, previous) != 0)
        {
            log_message(__FILE__, __LINE__, "cannot handle signal %d (errno %d)", crash_signals[i], errno);
        }
    }
    crash_globals.installed = true;
}

// The alternate stack of a thread other than the main one; its destructor
// runs as the thread ends, on the thread itself, when the stack is not in use.
struct thread_alternate_stack
{
    void *memory = nullptr;

    ~thread_alternate_stack()
    {
        if (!memory) return;
        stack_t current;
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory)
        {
            stack_t disabled;
            memset(&disabled, 0, sizeof(disabled));
            disabled.ss_flags = SS_DISABLE;
            sigaltstack(&disabled, nullptr);
        }
        munmap(memory, CRASH_STACK_SIZE);
        memory = nullptr;
    }
};

static thread_local thread_alternate_stack thread_stack;

bool install_thread_alternate_signal_stack(void)
{
    if (thread_stack.memory) return true;
    // One given by someone else (a sanitizer's runtime) is kept: it is theirs
    // to free.
    stack_t current;
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return true;
    void *memory = mmap(nullptr, CRASH_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
    {
        log_message(__FILE__, __LINE__, "no alternate signal stack for a thread (errno %d)", errno);
        return false;
    }
    stack_t stack;
    memset(&stack, 0, sizeof(stack));
    stack.ss_sp = memory;
    stack.ss_size = CRASH_STACK_SIZE;
    if (sigaltstack(&stack, nullptr) != 0)
    {
        log_message(__FILE__, __LINE__, "no alternate signal stack for a thread (errno %d)", errno);
        munmap(memory, CRASH_STACK_SIZE);
        return false;
    }
    thread_stack.memory = memory;
    return true;
}

bool register_crash_procedure(crash_procedure procedure)
{
    return crash_procedures.add(procedure);
}

void dispose_crash_handler(void)
{
    crash_procedures.clear();
    if (crash_globals.installed)
    {
        for (int32_t i = 0; i < NUMBER_OF_CRASH_SIGNALS; ++i)
        {
            sigaction(crash_signals[i], &crash_globals.previous_actions[i], nullptr);
        }
        crash_globals.installed = false;
    }
    if (crash_globals.stack_memory)
    {
        // Only ours is replaced: never free a stack that is still in use.
        stack_t current;
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == crash_globals.stack_memory &&
            !(current.ss_flags & SS_ONSTACK))
        {
            sigaltstack(&crash_globals.previous_stack, nullptr);
            munmap(crash_globals.stack_memory, CRASH_STACK_SIZE);
            crash_globals.stack_memory = nullptr;
        }
    }
    crash_globals.handling.store(false);
}

#undef CRASH_LOG_PREFIX
