#pragma once
// Scaffolding the tests share: a private working directory per test, whole
// files read and written, bodies run in a child process, and the error
// manager's pending code and message boxes.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The test process works inside a fresh directory of its own while this
// lives, since tests run in parallel and many file names are fixed.
// Construction makes "<$TMPDIR or /tmp>/vesk_<test suite>_XXXXXX" and changes
// into it; when that fails it records a fatal test failure, so a fixture
// holding one never runs its test body (a plain test checks `entered`).
// Destruction changes back to the directory it started in and removes the
// scratch directory with everything in it.  Not for use across threads.
struct scratch_directory
{
    char path[PATH_MAX];
    char previous[PATH_MAX];
    bool entered;

    scratch_directory(void);
    ~scratch_directory(void);
    scratch_directory(const scratch_directory &) = delete;
    scratch_directory &operator=(const scratch_directory &) = delete;
};

// Makes a fresh, uniquely named directory "<$TMPDIR or /tmp>/vesk_<label>_XXXXXX"
// and writes its path into `path`.  False, with `path` empty, when it cannot be made.
bool make_scratch_directory(const char *label, char *path, size_t size);

// Removes `path` and everything below it, never following links.
// False when something could not be removed.
bool remove_directory_tree(const char *path);

// The permission bits of the one file below the working directory whose name
// holds `name` (links not followed), or -1 when there is none.
int stored_file_mode(const char *name);

// The whole file; empty when it is missing or unreadable.
std::string read_whole_file(const std::string &path);
// How often `what` occurs in `text` (a log's lines, a process's output).
size_t count_of(const std::string &text, const std::string &what);
std::vector<uint8_t> read_file_bytes(const std::string &path);
// The names in `folder` of the aside files of writes of `base`
// (".<base>.<process>-<mark>-<random>.new", cseries/files.h).
std::vector<std::string> aside_files_of(const std::string &folder, const std::string &base);

// Creates or truncates `path` and writes the bytes.  False when any step fails.
bool write_whole_file(const std::string &path, const void *data, size_t size);
bool write_file_bytes(const std::string &path, const std::vector<uint8_t> &bytes);

// Runs `body(context)` in a forked child, which ends with _exit(what `body`
// returns) and so never returns into the test framework.  Returns the
// child's wait status, -1 when it could not be started.  A child still
// running after `timeout_seconds` is killed and a test failure is added:
// a hang fails the test instead of stalling the run.
int run_in_child(int (*body)(const void *context), const void *context, int32_t timeout_seconds);

// The exit code in a wait status; -1 when the process did not exit normally.
int exit_code_of(int wait_status);

// Interrupts the disk at its `step`-th step that changes it (counted from 1
// over the file layer's steps while armed; 0 only counts): a kill ends the
// process there with SIGKILL, a full disk fails that one step with ENOSPC.
// Installs the file layer's step procedure; disarm() pauses counting, and
// stop_interrupting_disk_steps() removes the procedure.
enum disk_step_fault { _disk_step_kill, _disk_step_full };
void interrupt_disk_step(int32_t step, disk_step_fault fault);
void arm_disk_steps(bool armed);
int32_t disk_steps_taken(void);
void stop_interrupting_disk_steps(void);

// The code of the pending error, _error_none when there is none.  The error
// stays pending.
int32_t pending_error_code(void);

// The code of the pending error (_error_none when none), which is then cleared.
int32_t take_pending_error(void);

// Message boxes show nothing; errors are still logged and kept pending.
void quiet_message_boxes(void);

// Message boxes show nothing and non-fatal errors are only logged, never kept pending.
void quiet_error_manager(void);
