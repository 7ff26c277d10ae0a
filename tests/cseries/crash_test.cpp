// A crashing child writes the signal and a backtrace, runs the crash
// procedures, moves its log to the crash log name and dies by the signal.

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/crash.h"
#include "cseries/timers.h"
#include "support/machine_pace.h"
#include "support/scratch.h"

namespace crash_test_file {

// The unwinder may wait for ever on a lock the crashed code holds.  This
// stand-in for backtrace() does so on request, and otherwise forwards to the
// real one.
static volatile sig_atomic_t unwinder_hangs = 0;

extern "C" int backtrace(void **frames, int size)
{
    if (unwinder_hangs)
        for (;;) pause();
    static int (*const real)(void **, int) = (int (*)(void **, int))dlsym(RTLD_NEXT, "backtrace");
    return real ? real(frames, size) : 0;
}

// The sanitizer's own alternate stacks would hide a thread that has none.
extern "C" const char *__asan_default_options(void) { return "use_sigaltstack=0"; }

namespace {

std::vector<std::string> directory_names(const char *directory)
{
    std::vector<std::string> names;
    DIR *listing = opendir(directory);
    if (!listing) return names;
    while (const dirent *entry = readdir(listing))
    {
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(listing);
    return names;
}

std::string local_name_date(time_t when)
{
    struct tm local;
    localtime_r(&when, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y-%m-%d %H.%M.%S", &local);
    return text;
}

// Crash procedures: only open/write/chdir, as a real one must.
void append_marker(const char *text)
{
    const int descriptor = open("marker.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (descriptor < 0) return;
    if (write(descriptor, text, strlen(text)) < 0) {}
    close(descriptor);
}
void first_procedure(void) { append_marker("1"); }
void second_procedure_leaves_the_directory(void)
{
    append_marker("2");
    if (chdir("/") != 0) {}
}
void hanging_procedure(void)
{
    append_marker("h");
    for (;;) pause();
}
void crashing_procedure(void)
{
    append_marker("c");
    raise(SIGBUS);
}

__attribute__((no_sanitize("address", "undefined"))) void dereference_null(void)
{
    volatile int *volatile pointer = nullptr;
    *pointer = 1;
}
void raise_segmentation_fault(void) { raise(SIGSEGV); }
void raise_floating_point_exception(void) { raise(SIGFPE); }

struct crash_row
{
    const char *name;
    void (*trigger)(void);
    crash_procedure procedures[2];
    int expected_signal;
    const char *expected_marker;
    bool log_is_moved;
};

int crash_in_child(const void *context)
{
    const crash_row &row = *(const crash_row *)context;
    if (!open_log_file("crash test")) _exit(98);
    initialize_crash_handler();
    for (crash_procedure procedure : row.procedures)
    {
        if (procedure && !register_crash_procedure(procedure)) _exit(97);
    }
    log_message(__FILE__, __LINE__, "about to crash");
    row.trigger();
    return 99;
}

class crash_test : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void clear_directory(void)
    {
        for (const std::string &name : directory_names("."))
        {
            unlink(name.c_str());
        }
    }

    // Runs the row in a child; returns its wait status and the seconds it took.
    int run_crash(const crash_row &row, time_t *started, time_t *ended)
    {
        *started = time(nullptr);
        const int status = run_in_child(crash_in_child, &row, 30);
        *ended = time(nullptr);
        return status;
    }
};

TEST_F(crash_test, crash_writes_the_signal_and_backtrace_runs_procedures_and_moves_the_log)
{
    static const crash_row rows[] = {
        {"raised segmentation fault", raise_segmentation_fault,
         {first_procedure, second_procedure_leaves_the_directory}, SIGSEGV, "12", true},
        {"null dereference", dereference_null, {first_procedure, nullptr}, SIGSEGV, "1", true},
        {"abort", abort, {first_procedure, nullptr}, SIGABRT, "1", true},
        {"floating point exception", raise_floating_point_exception, {nullptr, nullptr}, SIGFPE, "", true},
        // A second crash inside the handler goes straight to the default action.
        {"crash inside a procedure", raise_segmentation_fault, {crashing_procedure, first_procedure}, SIGBUS, "c",
         false},
    };
    for (const crash_row &row : rows)
    {
        SCOPED_TRACE(row.name);
        clear_directory();
        time_t started, ended;
        const int status = run_crash(row, &started, &ended);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), row.expected_signal);
        EXPECT_EQ(read_whole_file("marker.txt"), row.expected_marker);

        std::string log_name = LOG_FILE_NAME;
        if (row.log_is_moved)
        {
            const std::vector<std::string> names = directory_names(".");
            std::vector<std::string> crash_logs;
            for (const std::string &name : names)
            {
                if (name.rfind("vesk_crashlog- ", 0) == 0) crash_logs.push_back(name);
            }
            ASSERT_EQ(crash_logs.size(), 1u);
            EXPECT_EQ(access(LOG_FILE_NAME, F_OK), -1);
            log_name = crash_logs[0];
            // The name carries the local time of the crash.
            ASSERT_TRUE(std::regex_match(log_name, std::regex(R"(vesk_crashlog- \d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d\.txt)")))
                << log_name;
            const std::string date = log_name.substr(15, 19);
            EXPECT_LE(local_name_date(started), date);
            EXPECT_GE(local_name_date(ended), date);
        }

        const std::string log = read_whole_file(log_name);
        EXPECT_NE(log.find("about to crash\n"), std::string::npos);
        const std::regex crash_line(R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  crash: signal )" +
                                    std::to_string(row.expected_signal == SIGBUS ? SIGSEGV : row.expected_signal) +
                                    "\n");
        EXPECT_TRUE(std::regex_search(log, crash_line)) << log;
        size_t frames = 0;
        for (size_t at = log.find("[0x"); at != std::string::npos; at = log.find("[0x", at + 1)) ++frames;
        EXPECT_GE(frames, 3u) << log;
        size_t crash_lines = 0;
        for (size_t at = log.find("crash: signal"); at != std::string::npos; at = log.find("crash: signal", at + 1))
            ++crash_lines;
        EXPECT_EQ(crash_lines, 1u);
    }
}

TEST_F(crash_test, hanging_procedure_is_ended_by_the_watchdog)
{
    const crash_row row = {"hang", raise_segmentation_fault, {hanging_procedure, first_procedure}, SIGALRM, "h", false};
    time_t started, ended;
    const int status = run_crash(row, &started, &ended);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGALRM);
    // The watchdog's own seconds, then the reference machine's 3 s for the
    // child to start and crash, scaled by this machine's pace.
    EXPECT_LE(ended - started, CRASH_WATCHDOG_SECONDS + scaled_milliseconds(3000) / 1000);
    EXPECT_EQ(read_whole_file("marker.txt"), "h");
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("crash: signal 11\n"), std::string::npos);
}

void crash_with_a_hanging_unwinder(void)
{
    unwinder_hangs = 1;
    raise(SIGSEGV);
}

TEST_F(crash_test, an_unwinder_that_hangs_is_ended_by_the_watchdog)
{
    const crash_row row = {"unwinder hangs", crash_with_a_hanging_unwinder, {first_procedure, nullptr}, SIGALRM, "",
                           false};
    time_t started, ended;
    const int status = run_crash(row, &started, &ended);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGALRM);
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("crash: signal 11\n"), std::string::npos);
}

// Deep enough to overflow any thread's stack; not instrumented, so the fault
// is the plain one a release build meets.
volatile int32_t recursion_limit = INT32_MAX;

__attribute__((no_sanitize("address", "undefined"), noinline)) int32_t recurse_for_ever(int32_t depth)
{
    volatile char frame[4096];
    frame[0] = (char)depth;
    if (depth >= recursion_limit) return frame[0];
    return recurse_for_ever(depth + 1) + frame[0];
}

bool overflow_the_stack(void *) { return recurse_for_ever(0) != 0; }

void overflow_the_timer_thread(void)
{
    if (install_timer_task(100, overflow_the_stack, nullptr) == NONE) _exit(96);
    for (;;) pause();
}

// Without an alternate stack of its own, a thread whose stack overflowed has
// nowhere to run the handler: the process dies with no word in the log.
TEST_F(crash_test, a_stack_overflow_in_the_timer_thread_reaches_the_handler)
{
    const crash_row row = {"overflow", overflow_the_timer_thread, {first_procedure, nullptr}, SIGSEGV, "1", true};
    time_t started, ended;
    const int status = run_crash(row, &started, &ended);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_EQ(read_whole_file("marker.txt"), "1");
    EXPECT_EQ(access(LOG_FILE_NAME, F_OK), -1) << "the log was not moved: the handler never ran";
}

// (The list's refusals are the registration lists' own: registration_test.)
TEST_F(crash_test, dispose_empties_the_procedures_and_restores_the_previous_action)
{
    EXPECT_TRUE(register_crash_procedure(first_procedure));

    struct sigaction before, during, after;
    sigaction(SIGSEGV, nullptr, &before);
    initialize_crash_handler();
    sigaction(SIGSEGV, nullptr, &during);
    dispose_crash_handler();
    sigaction(SIGSEGV, nullptr, &after);
    EXPECT_NE(during.sa_sigaction, before.sa_sigaction);
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
    EXPECT_TRUE(register_crash_procedure(first_procedure));
    dispose_crash_handler();
}

} // namespace

} // namespace crash_test_file
