// Scaffolding the tests share.

#include "scratch.h"

#include "support/expected_assertions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cseries/cseries.h"
#include "cseries/errors.h"
#include "cseries/files.h"

// A helper of its own because FAIL() returns from the function it stands in.
static void fail_scratch_directory(const char *what, const char *path)
{
    FAIL() << what << " '" << path << "': " << strerror(errno);
}

scratch_directory::scratch_directory(void) : path(), previous(), entered(false)
{
    // Named after the suite so that a directory left by a killed test says whose it was.
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    char label[64];
    strlcpy(label, info ? info->test_suite_name() : "test", sizeof(label));
    for (char *c = label; *c; ++c)
    {
        if (*c == '/') *c = '_'; // parameterised suites are "prefix/name"
    }

    if (!getcwd(previous, sizeof(previous)))
        fail_scratch_directory("cannot read the working directory", "");
    else if (!make_scratch_directory(label, path, sizeof(path)))
        fail_scratch_directory("cannot make a scratch directory for", label);
    else if (chdir(path) != 0)
        fail_scratch_directory("cannot enter", path);
    else
        entered = true;
}

scratch_directory::~scratch_directory(void)
{
    if (entered && chdir(previous) != 0) ADD_FAILURE() << "cannot return to '" << previous << "'";
    if (path[0] && !remove_directory_tree(path)) ADD_FAILURE() << "cannot remove '" << path << "'";
}

bool make_scratch_directory(const char *label, char *path, size_t size)
{
    const char *base = getenv("TMPDIR");
    if (!base || !base[0]) base = "/tmp";
    const int length = snprintf(path, size, "%s/vesk_%s_XXXXXX", base, label);
    if (length >= 0 && (size_t)length < size && mkdtemp(path)) return true;
    if (size > 0) path[0] = 0;
    return false;
}

static int remove_tree_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

bool remove_directory_tree(const char *path)
{
    // Depth first, so each directory is empty by the time it is reached.
    return nftw(path, remove_tree_entry, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

std::string read_whole_file(const std::string &path)
{
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

size_t count_of(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::vector<std::string> aside_files_of(const std::string &folder, const std::string &base)
{
    std::vector<std::string> names;
    DIR *handle = opendir(folder.c_str());
    if (!handle) return names;
    const std::string prefix = "." + base + ".";
    for (const struct dirent *entry; (entry = readdir(handle));)
    {
        const std::string name = entry->d_name;
        if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - 4, 4, ".new") == 0)
            names.push_back(name);
    }
    closedir(handle);
    return names;
}

std::vector<uint8_t> read_file_bytes(const std::string &path)
{
    const std::string text = read_whole_file(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool write_whole_file(const std::string &path, const void *data, size_t size)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = size == 0 || fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

bool write_file_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    return write_whole_file(path, bytes.data(), bytes.size());
}

int run_in_child(int (*body)(const void *context), const void *context, int32_t timeout_seconds)
{
    fflush(nullptr); // or the child would write the parent's buffered output again
    const pid_t child = fork();
    if (child < 0)
    {
        ADD_FAILURE() << "cannot fork: " << strerror(errno);
        return -1;
    }
    if (child == 0)
    {
        const int code = body(context);
        _exit(unexpected_assertion_count() ? UNEXPECTED_ASSERTION_EXIT_CODE : code);
    }

    int status = -1;
    for (int32_t waited = 0;; ++waited) // in steps of 10 ms
    {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) break;
        if (ended < 0 && errno != EINTR) return -1;
        if (waited >= timeout_seconds * 100)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the child did not end within " << timeout_seconds << " seconds";
            break;
        }
        usleep(10000);
    }
    return status;
}

int exit_code_of(int wait_status)
{
    return wait_status != -1 && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

int32_t pending_error_code(void)
{
    int32_t code = _error_none;
    return error_pending(&code, nullptr, 0) ? code : _error_none;
}

int32_t take_pending_error(void)
{
    const int32_t code = pending_error_code();
    clear_pending_error();
    return code;
}

static void silent_message_box(const char *) {}

void quiet_message_boxes(void)
{
    set_message_box_proc(silent_message_box);
}

void quiet_error_manager(void)
{
    quiet_message_boxes();
    set_ignore_errors(true);
}

// ---- interrupted disk steps --------------------------------------------------

static struct
{
    int32_t step, taken;
    disk_step_fault fault;
    bool armed;
} disk_steps;

static bool interrupt_chosen_step(const char *, const char *)
{
    if (!disk_steps.armed || ++disk_steps.taken != disk_steps.step) return true;
    if (disk_steps.fault == _disk_step_kill) raise(SIGKILL);
    errno = ENOSPC;
    return false;
}

void interrupt_disk_step(int32_t step, disk_step_fault fault)
{
    disk_steps = {step, 0, fault, true};
    set_file_step_procedure(interrupt_chosen_step);
}

void arm_disk_steps(bool armed) { disk_steps.armed = armed; }

int32_t disk_steps_taken(void) { return disk_steps.taken; }

void stop_interrupting_disk_steps(void)
{
    set_file_step_procedure(nullptr);
    disk_steps = {};
}

int stored_file_mode(const char *name)
{
    int mode = -1;
    std::function<void(const std::string &)> walk = [&](const std::string &folder) {
        DIR *directory = opendir(folder.c_str());
        if (!directory) return;
        while (const dirent *entry = readdir(directory))
        {
            const std::string child = folder + "/" + entry->d_name;
            struct stat status;
            if (entry->d_name[0] == '.' || lstat(child.c_str(), &status) != 0) continue;
            if (S_ISDIR(status.st_mode)) walk(child);
            else if (strstr(entry->d_name, name)) mode = (int)(status.st_mode & 0777);
        }
        closedir(directory);
    };
    walk(".");
    return mode;
}
