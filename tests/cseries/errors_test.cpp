// Fatal codes end the process after the log line; other codes wait as the
// first pending error; message boxes fall back to standard error.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cseries/cseries.h"
#include "cseries/errors.h"
#include "support/scratch.h"

namespace errors_test_file {

namespace {

class errors_test : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void TearDown() override
    {
        close_log_file();
        clear_pending_error();
        set_ignore_errors(false);
        set_message_box_proc(nullptr);
    }
};

// Records what the box would show, and whether the log line was there first.
void recording_message_box(const char *text)
{
    const bool logged = read_whole_file(LOG_FILE_NAME).find(text) != std::string::npos;
    const std::string box = std::string(text) + (logged ? " (logged first)" : " (not logged)");
    if (!write_whole_file("box.txt", box.data(), box.size())) perror("box.txt");
}

int report_fatal_error(const void *context)
{
    int code = *(const int *)context;
    set_message_box_proc(recording_message_box);
    if (!open_log_file("header")) _exit(98);
    if (code < 0)
    {
        // Ignoring errors must not make a fatal one survivable.
        set_ignore_errors(true);
        code = -code;
    }
    error_message(code, "/deep/path/fatal_site.cpp", 42, "code %d", code);
    return 99;
}

TEST_F(errors_test, fatal_codes_log_show_a_box_and_exit_with_the_code)
{
    struct case_row
    {
        int argument;
        int status;
        const char *name;
    };
    static const case_row rows[] = {
        {8, 8, "Out of Memory"},
        {16, 16, "Assertion Failure"},
        {17, 17, "Out of Sync"},
        {-17, 17, "Out of Sync"},
    };
    for (const case_row &row : rows)
    {
        SCOPED_TRACE(row.argument);
        unlink(LOG_FILE_NAME);
        unlink("box.txt");
        const int status = run_in_child(report_fatal_error, &row.argument, 30);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), row.status);
        const std::string text = std::string(row.name) + ": code " + std::to_string(row.status);
        EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("  fatal_site.cpp, line #42: " + text + "\n"), std::string::npos)
            << read_whole_file(LOG_FILE_NAME);
        EXPECT_EQ(read_whole_file("box.txt"), text + " (logged first)");
    }
}

TEST_F(errors_test, first_pending_error_is_kept_until_cleared_and_ignored_ones_are_only_logged)
{
    ASSERT_TRUE(open_log_file("header"));
    int32_t code = NONE;
    char text[256];
    EXPECT_FALSE(error_pending(&code, text, sizeof(text)));

    ERROR_MESSAGE(_error_file_read, "couldn't read '%s'", "maps/one");
    ERROR_MESSAGE(_error_data_missing, "interface appearance missing.");
    ASSERT_TRUE(error_pending(&code, text, sizeof(text)));
    EXPECT_EQ(code, _error_file_read);
    EXPECT_STREQ(text, "couldn't read 'maps/one'");
    char short_text[6];
    ASSERT_TRUE(error_pending(nullptr, short_text, sizeof(short_text)));
    EXPECT_STREQ(short_text, "could");

    clear_pending_error();
    EXPECT_FALSE(error_pending(&code, text, sizeof(text)));
    set_ignore_errors(true);
    ERROR_MESSAGE(_error_warning, "detail texture missing");
    EXPECT_FALSE(error_pending(&code, text, sizeof(text)));
    set_ignore_errors(false);
    ERROR_MESSAGE(_error_data_corrupted, "bad tag");
    ASSERT_TRUE(error_pending(&code, nullptr, 0));
    EXPECT_EQ(code, _error_data_corrupted);

    const std::string log = read_whole_file(LOG_FILE_NAME);
    for (const char *line : {"File system Read: couldn't read 'maps/one'", "Data Missing: interface appearance missing.",
                             "Warning: detail texture missing", "Data Corrupted: bad tag"})
    {
        EXPECT_NE(log.find(std::string("errors_test.cpp, line #")), std::string::npos);
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
}

// Shows a box with a PATH holding only the fake box programs the row asks for:
// no real one of the machine runs, nor reaches an X server that may hold the
// display named (":97" is never started here).
struct box_row
{
    const char *display;
    const char *zenity_status; // null: no zenity
    const char *xmessage_status; // null: no xmessage
    const char *expected_runs;
};
const box_row box_rows[] = {
    {nullptr, "0", "0", ""}, // no display: standard error only
    {":97", nullptr, "0", "xmessage"},
    {":97", "0", "0", "zenity"},
    {":97", "127", "1", "zenity xmessage"}, // zenity missing its libraries, xmessage unable to connect
};
// A fake program must be executable: written whole, then marked.
void write_script(const char *path, const char *text)
{
    if (!write_whole_file(path, text, strlen(text)) || chmod(path, 0755) != 0) perror(path);
}

int show_box_with_fake_programs(const void *context)
{
    const box_row &row = *(const box_row *)context;
    // The fake programs note that they ran and with which text.
    const char *script = "#!/bin/sh\nfor a; do last=\"$a\"; done\nprintf '%%s %%s\\n' \"${0##*/}\" \"$last\" >> runs.txt\nexit %s\n";
    char text[512];
    if (mkdir("bin", 0755) != 0) _exit(97);
    if (row.zenity_status)
    {
        snprintf(text, sizeof(text), script, row.zenity_status);
        write_script("bin/zenity", text);
    }
    if (row.xmessage_status)
    {
        snprintf(text, sizeof(text), script, row.xmessage_status);
        write_script("bin/xmessage", text);
    }
    char path[PATH_MAX + 8];
    if (!getcwd(path, PATH_MAX)) _exit(96);
    strcat(path, "/bin");
    setenv("PATH", path, 1);
    if (row.display) setenv("DISPLAY", row.display, 1);
    else unsetenv("DISPLAY");
    const int descriptor = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(descriptor, STDERR_FILENO);
    set_message_box_proc(nullptr);
    show_message_box("Another copy of the game is already running.");
    return 0;
}

TEST_F(errors_test, message_box_tries_zenity_then_xmessage_and_always_writes_standard_error)
{
    for (const box_row &row : box_rows)
    {
        SCOPED_TRACE(row.expected_runs);
        const int status = run_in_child(show_box_with_fake_programs, &row, 30);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(read_whole_file("stderr.txt"), "Another copy of the game is already running.\n");
        std::string expected;
        std::istringstream programs(row.expected_runs);
        for (std::string program; programs >> program;)
        {
            expected += program + " " + (program == "zenity" ? "--text=" : "") +
                        "Another copy of the game is already running.\n";
        }
        EXPECT_EQ(read_whole_file("runs.txt"), expected);
        EXPECT_TRUE(remove_directory_tree("bin"));
        unlink("runs.txt");
        unlink("stderr.txt");
    }
}

// The program's own termination handler (as the window library's is): it
// only notes the signal.
volatile sig_atomic_t program_saw_signal = 0;
void program_termination_handler(int) { program_saw_signal = 1; }

// A box nobody closes, and a termination signal while it is up: the box is
// closed, the program's own handler gets the signal, and no box is shown after.
int terminate_while_a_box_is_up(const void *)
{
    if (mkdir("bin", 0755) != 0) _exit(97);
    write_script("bin/zenity", "#!/bin/sh\necho $$ > box.pid\nexec /bin/sleep 60\n");
    char path[PATH_MAX + 8];
    if (!getcwd(path, PATH_MAX)) _exit(96);
    strcat(path, "/bin");
    setenv("PATH", path, 1);
    setenv("DISPLAY", ":97", 1);
    signal(SIGTERM, program_termination_handler);
    const pid_t program = getpid();
    if (fork() == 0)
    {
        // The machine's shutdown, once the box is up.
        for (int i = 0; i < 500 && access("box.pid", F_OK) != 0; ++i) usleep(10 * 1000);
        usleep(50 * 1000);
        kill(program, SIGTERM);
        _exit(0);
    }
    set_message_box_proc(nullptr);
    show_message_box("The game could not be saved.");
    const std::string box = read_whole_file("box.pid");
    if (box.empty()) return 10;
    if (!program_saw_signal) return 11;
    if (kill((pid_t)atoi(box.c_str()), 0) == 0) return 12; // the box is still up
    unlink("box.pid");
    show_message_box("A second error on the way out.");
    return access("box.pid", F_OK) == 0 ? 13 : 0;
}

TEST_F(errors_test, a_termination_signal_closes_the_message_box_and_reaches_the_program)
{
    const int status = run_in_child(terminate_while_a_box_is_up, nullptr, 30);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(remove_directory_tree("bin"));
}

} // namespace

} // namespace errors_test_file
