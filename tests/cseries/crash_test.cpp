// A crashing child writes the signal and a backtrace, runs the crash
// procedures, moves its log to the crash log name and dies by the signal.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/crash.h"
#include "support/scratch.h"

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
    EXPECT_LE(ended - started, CRASH_WATCHDOG_SECONDS + 3);
    EXPECT_EQ(read_whole_file("marker.txt"), "h");
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("crash: signal 11\n"), std::string::npos);
}

TEST_F(crash_test, procedure_table_is_bounded_and_dispose_restores_the_previous_action)
{
    for (int32_t i = 0; i < MAXIMUM_CRASH_PROCEDURES; ++i) EXPECT_TRUE(register_crash_procedure(first_procedure));
    EXPECT_FALSE(register_crash_procedure(first_procedure));
    EXPECT_FALSE(register_crash_procedure(nullptr));

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
