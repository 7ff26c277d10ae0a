// The log line format, the message length limit and the assertion macros.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/timers.h"
#include "support/scratch.h"

namespace log_test_file {

namespace {

std::vector<std::string> log_lines(void)
{
    std::vector<std::string> lines;
    std::stringstream contents(read_whole_file(LOG_FILE_NAME));
    for (std::string line; std::getline(contents, line);) lines.push_back(line);
    return lines;
}

std::string local_date_now(void)
{
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Every test works in its own directory, because the log's name is fixed.
class log_test : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void TearDown() override
    {
        close_log_file();
        set_game_triggered_assert_proc(nullptr);
    }
};

TEST_F(log_test, lines_carry_the_local_date_the_source_base_name_and_line)
{
    const std::string before = local_date_now();
    ASSERT_TRUE(open_log_file("vesk 1.0 --window"));
    log_message("/home/builder/src/unit_file.cpp", 12, "hello %d", 5);
    log_message("C:\\source\\win_file.cpp", 7, "x");
    log_message(nullptr, -1, "Scanning for %s devices...", "input");
    const std::string after = local_date_now();

    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 4u);
    const char *date = R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )";
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(std::string(date) + "vesk 1\\.0 --window$"))) << lines[0];
    EXPECT_TRUE(std::regex_search(lines[1], std::regex(std::string(date) + "unit_file\\.cpp, line #12: hello 5$")))
        << lines[1];
    EXPECT_TRUE(std::regex_search(lines[2], std::regex(std::string(date) + "win_file\\.cpp, line #7: x$"))) << lines[2];
    EXPECT_TRUE(std::regex_search(lines[3], std::regex(std::string(date) + "Scanning for input devices\\.\\.\\.$")))
        << lines[3];
    // Local time, not UTC: the stamp lies between the two readings.
    for (const std::string &line : lines)
    {
        const std::string stamp = line.substr(0, 19);
        EXPECT_LE(before, stamp);
        EXPECT_GE(after, stamp);
    }
}

TEST_F(log_test, long_message_is_cut_and_the_next_line_stays_whole)
{
    ASSERT_TRUE(open_log_file("header"));
    const std::string long_text(5000, 'x');
    log_message("cut.cpp", 1, "%s", long_text.c_str());
    log_message("cut.cpp", 2, "after");

    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    const std::string prefix = "cut.cpp, line #1: ";
    const size_t body = lines[1].find(prefix);
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(lines[1].substr(body + prefix.size()), std::string(MAXIMUM_LOG_MESSAGE_LENGTH, 'x'));
    EXPECT_NE(lines[2].find("cut.cpp, line #2: after"), std::string::npos);
}

TEST_F(log_test, only_an_open_log_is_written_and_reopening_appends)
{
    log_message(nullptr, -1, "before open");
    EXPECT_FALSE(log_file_is_open());
    EXPECT_EQ(log_file_descriptor(), -1);
    ASSERT_TRUE(open_log_file("first run"));
    write_to_error_file("plain trace line", false);
    write_to_error_file("dated trace line", true);
    close_log_file();
    log_message(nullptr, -1, "after close");
    ASSERT_TRUE(open_log_file("second run"));
    close_log_file();

    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("first run"), std::string::npos);
    EXPECT_EQ(lines[1], "plain trace line");
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  dated trace line)")));
    EXPECT_NE(lines[3].find("second run"), std::string::npos);
}

// The hook must see the log as it was before the assertion's line.
int hook_calls = 0;
size_t lines_seen_by_hook = 0;
void counting_hook(void)
{
    ++hook_calls;
    lines_seen_by_hook = log_lines().size();
}

TEST_F(log_test, assertions_run_the_hook_then_log_their_line_and_go_on)
{
    ASSERT_TRUE(open_log_file("header"));
    EXPECT_EQ(set_game_triggered_assert_proc(counting_hook), nullptr);

    struct case_row
    {
        void (*fail)(void);
        const char *expected;
    };
    static const case_row rows[] = {
        {[] { ASSERT(1 + 1 == 3); }, "assert: 1 + 1 == 3"},
        {[] { VASSERT(false, "count is negative"); }, "vassert: false - count is negative"},
        {[] { VWARN(2 < 1, "odd order"); }, "vwarn: 2 < 1 - odd order"},
        {[] { VPAUSE("stop here"); }, "vpause: stop here"},
        {[] { HALT("no way out"); }, "halt: no way out"},
        {[] { HALT(nullptr); }, "halt"},
    };
    for (const case_row &row : rows)
    {
        SCOPED_TRACE(row.expected);
        const int calls = hook_calls;
        const size_t before = log_lines().size();
        {
            expected_assertions expect(1, row.expected);
            row.fail();
        }
        EXPECT_EQ(hook_calls, calls + 1);
        EXPECT_EQ(lines_seen_by_hook, before);
        const std::vector<std::string> lines = log_lines();
        ASSERT_EQ(lines.size(), before + 1);
        const std::regex expected(std::string(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  log_test\.cpp, line #\d+: )") +
                                  std::regex_replace(row.expected, std::regex(R"([.+*?()|\[\]{}^$\\])"), R"(\$&)") +
                                  "$");
        EXPECT_TRUE(std::regex_search(lines.back(), expected)) << lines.back();
    }

    // Passing assertions are silent; each macro evaluates once and yields it.
    const int calls = hook_calls;
    const size_t before = log_lines().size();
    int evaluations = 0;
    EXPECT_TRUE(ASSERT(++evaluations == 1));
    EXPECT_TRUE(VASSERT(++evaluations == 2, "unused"));
    EXPECT_TRUE(VWARN(++evaluations == 3, "unused"));
    EXPECT_EQ(hook_calls, calls);
    EXPECT_EQ(log_lines().size(), before);
    {
        expected_assertions expect(2);
        EXPECT_FALSE(VASSERT(++evaluations == 0, "fails"));
        EXPECT_FALSE(ASSERT(++evaluations == 0));
    }
    EXPECT_EQ(evaluations, 5);
    EXPECT_EQ(hook_calls, calls + 2);

    EXPECT_EQ(set_game_triggered_assert_proc(nullptr), counting_hook);
    expected_assertions expect(1);
    ASSERT(false);
    EXPECT_EQ(hook_calls, calls + 2);
}

// The log cannot tell of its own trouble: it goes to standard error, once.
// Each case runs in a child whose standard error is a file, with a timeout
// so that a log open that waits (a fifo) fails instead of hanging.
enum { CHILD_DONE = 7 };

std::string run_with_captured_stderr(int (*body)(const void *))
{
    const int status = run_in_child(body, nullptr, 10);
    EXPECT_EQ(exit_code_of(status), CHILD_DONE);
    return read_whole_file("stderr.txt");
}

void capture_stderr(void)
{
    FILE *file = freopen("stderr.txt", "w", stderr);
    if (!file) _exit(1);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

int open_log_in_child(const void *)
{
    capture_stderr();
    return open_log_file("header") ? 1 : log_file_is_open() ? 2 : CHILD_DONE;
}

int write_past_the_size_limit_in_child(const void *)
{
    capture_stderr();
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {300, 300};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !open_log_file("header")) return 1;
    for (int i = 0; i < 20; i++) log_message(__FILE__, __LINE__, "line %d of a log that fills up", i);
    return CHILD_DONE;
}

// A log opened by path (a tool's "--log FILE") that fills up is told by that path.
int write_past_the_size_limit_of_a_named_log_in_child(const void *)
{
    capture_stderr();
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {300, 300};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !open_log_file_at("named_log.txt", "header")) return 1;
    for (int i = 0; i < 20; i++) log_message(__FILE__, __LINE__, "line %d of a log that fills up", i);
    return CHILD_DONE;
}

size_t count_lines(const std::string &text)
{
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST_F(log_test, a_log_that_cannot_be_opened_or_written_is_told_on_standard_error_once)
{
    ASSERT_EQ(mkfifo(LOG_FILE_NAME, 0644), 0);
    std::string told = run_with_captured_stderr(open_log_in_child);
    EXPECT_EQ(count_lines(told), 1u) << told;
    EXPECT_NE(told.find(LOG_FILE_NAME), std::string::npos) << told;
    EXPECT_NE(told.find("not a regular file"), std::string::npos) << told;

    ASSERT_EQ(unlink(LOG_FILE_NAME), 0);
    ASSERT_EQ(mkdir(LOG_FILE_NAME, 0755), 0);
    told = run_with_captured_stderr(open_log_in_child);
    EXPECT_EQ(count_lines(told), 1u) << told;
    EXPECT_NE(told.find(LOG_FILE_NAME), std::string::npos) << told;

    ASSERT_EQ(rmdir(LOG_FILE_NAME), 0);
    told = run_with_captured_stderr(write_past_the_size_limit_in_child);
    EXPECT_EQ(count_lines(told), 1u) << told;
    EXPECT_NE(told.find("cannot be written"), std::string::npos) << told;

    told = run_with_captured_stderr(write_past_the_size_limit_of_a_named_log_in_child);
    EXPECT_EQ(count_lines(told), 1u) << told;
    EXPECT_EQ(told.find(LOG_FILE_NAME), std::string::npos) << told;
    EXPECT_NE(told.find("named_log.txt: cannot be written"), std::string::npos) << told;
}

uint32_t test_now_ms = 0;

// A line a peer repeats, at the machine milliseconds given: written once a
// period, its count written when the next period begins (by a call or by the
// idle's flush), and no count when nothing came.
TEST_F(log_test, a_repeated_line_is_written_once_a_period_and_then_counted)
{
    set_machine_tick_count_for_tests([] { return test_now_ms; });
    ASSERT_TRUE(open_log_file("repeat"));
    repeated_log_line record = {};
    const struct
    {
        uint32_t at_ms;
        int32_t peer; // 0: the idle's flush instead of the line
        std::vector<std::string> written;
    } steps[] = {
        {1000, 1, {"from 1"}},
        {1001, 2, {}},
        {10999, 3, {}},
        {10999, 0, {}}, // the period has not ended
        {11000, 4, {"from 1 ... 2 more in the last 10 s", "from 4"}},
        {25000, 0, {}}, // nothing came in that period
        {25001, 5, {"from 5"}},
    };
    std::vector<std::string> expected = log_lines();
    for (const auto &step : steps)
    {
        test_now_ms = step.at_ms;
        if (step.peer == 0)
            flush_repeated_log_line(&record, "peer.cpp", 1);
        else
            log_repeated_message(&record, "peer.cpp", 1, "Got a connect request from %d", step.peer);
        for (const std::string &text : step.written)
            expected.push_back("peer.cpp, line #1: Got a connect request " + text);
        const std::vector<std::string> lines = log_lines();
        ASSERT_EQ(lines.size(), expected.size()) << step.at_ms;
        for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(21), expected[i]) << step.at_ms;
    }
    // Thousands in a period are one line and one count, readable at a glance.
    for (int32_t i = 0; i < 6648; ++i) log_repeated_message(&record, "peer.cpp", 1, "flood");
    test_now_ms += 10000;
    flush_repeated_log_line(&record, "peer.cpp", 1);
    EXPECT_EQ(log_lines().back().substr(21),
              "peer.cpp, line #1: Got a connect request from 5 ... 6,648 more in the last 10 s");
    set_machine_tick_count_for_tests(nullptr);
}

// Fills the log with `count` lines of 100 'f's, each naming `who` and its number.
void fill_log(int32_t count, int32_t who)
{
    const std::string filler(100, 'f');
    for (int32_t i = 0; i < count; ++i) log_message("peer.cpp", who * 1000 + i, "%s", filler.c_str());
}

// However much is written, the log and its ".old" file each stay within the
// limit, and the new log says where the earlier lines went: also when the
// program changed its directory after opening its log by a relative path,
// when the rename fails, and when two processes share one log.
TEST_F(log_test, the_log_starts_anew_past_its_limit_and_keeps_one_older_file)
{
    enum way { _plain, _moved_away, _rename_fails, _two_processes };
    struct row
    {
        const char *what;
        way how;
    };
    const row rows[] = {
        {"one process", _plain},
        {"a relative log, the program then elsewhere", _moved_away},
        {"the rename to \".old\" fails", _rename_fails},
        {"two processes on one log", _two_processes},
    };
    set_log_file_size_limit_for_tests(4096);
    for (const row &row : rows)
    {
        SCOPED_TRACE(row.what);
        const std::string folder = "case" + std::to_string((int)row.how);
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        // The ".old" name taken by a folder that is not empty: rename(2) refuses it.
        if (row.how == _rename_fails)
        {
            ASSERT_EQ(mkdir(LOG_FILE_NAME ".old", 0755), 0);
            ASSERT_TRUE(write_whole_file(LOG_FILE_NAME ".old/keep", "k", 1));
        }
        ASSERT_TRUE(open_log_file("limit"));
        if (row.how == _moved_away)
        {
            ASSERT_EQ(mkdir("elsewhere", 0755), 0);
            ASSERT_EQ(chdir("elsewhere"), 0);
        }
        if (row.how == _two_processes)
        {
            pid_t children[2];
            for (int32_t who = 0; who < 2; ++who)
                if ((children[who] = fork()) == 0)
                {
                    // A process of its own opens the log as the program does.
                    _exit(open_log_file("child") ? (fill_log(500, who + 1), close_log_file(), 0) : 1);
                }
            for (pid_t child : children)
            {
                int status = 0;
                ASSERT_EQ(waitpid(child, &status, 0), child);
                EXPECT_EQ(exit_code_of(status), 0);
            }
        }
        else
            fill_log(500, 0);
        if (row.how == _moved_away)
        {
            EXPECT_NE(access(LOG_FILE_NAME, F_OK), 0) << "no log was begun where the program went";
            ASSERT_EQ(chdir(".."), 0);
        }
        struct stat status;
        ASSERT_EQ(stat(LOG_FILE_NAME, &status), 0);
        EXPECT_LE(status.st_size, 4096);
        const std::vector<std::string> lines = log_lines();
        ASSERT_FALSE(lines.empty());
        if (row.how == _rename_fails)
        {
            EXPECT_NE(lines.front().find("could not be kept as its \".old\" file"), std::string::npos)
                << lines.front();
        }
        else
        {
            ASSERT_EQ(stat(LOG_FILE_NAME ".old", &status), 0);
            EXPECT_LE(status.st_size, 4096);
            EXPECT_GT(status.st_size, 3900) << "a full log, never a fresh one put over it";
            EXPECT_NE(lines.front().find("(the log goes on from its \".old\" file)"), std::string::npos);
        }
        if (row.how != _two_processes) { EXPECT_NE(lines.back().find("line #499: f"), std::string::npos); }
        const std::regex whole_line(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  (\(the log .*\)|limit|child|peer\.cpp, line #\d+: f{100})$)");
        for (const std::string &line : lines) EXPECT_TRUE(std::regex_match(line, whole_line)) << line;
        close_log_file();
        ASSERT_EQ(chdir(".."), 0);
    }
    set_log_file_size_limit_for_tests(0);
}

} // namespace

} // namespace log_test_file
