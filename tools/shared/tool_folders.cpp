#include "tool_folders.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

#include "tag_files/tag_files.h"

enum
{
    // The folders the store makes are two deep; deeper trees are left.
    MAXIMUM_REMOVED_DEPTH = 8,
};

// The signals whose default ends the process and which a handler can catch:
// however the tool is stopped (SIGKILL aside), its folder goes with it.  The
// faults are caught only where nothing else (a sanitizer) handles them.
static const int ending_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGABRT};
static const int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

static struct tool_folders_globals
{
    char root[1024];
    pid_t owner; // a forked child never removes its parent's folder
} tool_folders_globals;

// Removes `name` under the directory `parent` with all it holds, using only
// calls a signal handler may make (no allocation, no buffered streams).
static void remove_tree_at(int parent, const char *name, int depth)
{
    if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return;
    if (depth >= MAXIMUM_REMOVED_DEPTH) return;
    const int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    // A pass that removes entries may leave the reading position past others:
    // the folder is read again until a pass finds nothing but "." and "..".
    for (bool removed = true; removed;)
    {
        removed = false;
        if (lseek(folder, 0, SEEK_SET) != 0) break;
        char entries[2048];
        for (ssize_t length; (length = getdents64(folder, entries, sizeof(entries))) > 0;)
            for (ssize_t at = 0; at < length;)
            {
                const struct dirent64 *entry = (const struct dirent64 *)(entries + at);
                at += entry->d_reclen;
                if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
                remove_tree_at(folder, entry->d_name, depth + 1);
                removed = true;
            }
    }
    close(folder);
    unlinkat(parent, name, AT_REMOVEDIR);
}

static void remove_private_player_folders(void)
{
    if (!tool_folders_globals.root[0] || getpid() != tool_folders_globals.owner) return;
    const int saved_errno = errno;
    remove_tree_at(AT_FDCWD, tool_folders_globals.root, 0);
    tool_folders_globals.root[0] = 0;
    errno = saved_errno;
}

// The folder goes, then the signal does what it would have done.
static void remove_folders_and_end(int signal_number)
{
    remove_private_player_folders();
    signal(signal_number, SIG_DFL);
    // A fault comes back when the handler returns, and ends the process then.
    raise(signal_number);
}

static void remove_folders_at_every_catchable_end(void)
{
    atexit(remove_private_player_folders);
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = remove_folders_and_end;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : ending_signals) sigaddset(&action.sa_mask, signal_number);
    for (const int signal_number : ending_signals)
    {
        struct sigaction previous;
        // A signal the caller set aside (SIGPIPE ignored by a network tool) stays so.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL)
            sigaction(signal_number, &action, nullptr);
    }
    for (const int signal_number : fault_signals)
    {
        struct sigaction previous;
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL &&
            !(previous.sa_flags & SA_SIGINFO))
            sigaction(signal_number, &action, nullptr);
    }
}

void report_failed_writes(void)
{
    // Past the file-size limit a write then fails (EFBIG) and is reported by
    // the code that made it, instead of the signal ending the process.
    signal(SIGXFSZ, SIG_IGN);
}

// Removes the folders "<tool>.<process>.XXXXXX" under `temporary` of this
// user's processes that are gone: a run killed by SIGKILL could not remove
// its own.
static void remove_folders_of_killed_runs(const char *temporary, const char *tool)
{
    DIR *handle = opendir(temporary);
    if (!handle) return;
    const size_t tool_length = strlen(tool);
    for (const struct dirent *entry; (entry = readdir(handle));)
    {
        const char *name = entry->d_name;
        long process = 0;
        int consumed = 0;
        if (strncmp(name, tool, tool_length) != 0 || sscanf(name + tool_length, ".%ld.%n", &process, &consumed) != 1 ||
            consumed == 0 || strlen(name + tool_length + consumed) != 6 || process <= 0)
            continue;
        struct stat status;
        if (fstatat(dirfd(handle), name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != getuid())
            continue;
        if (kill((pid_t)process, 0) == 0 || errno != ESRCH) continue;
        remove_tree_at(dirfd(handle), name, 0);
    }
    closedir(handle);
}

bool use_private_player_folders(const char *tool)
{
    if (tool_folders_globals.root[0]) return true;
    report_failed_writes();
    const char *temporary = getenv("TMPDIR");
    if (!temporary || temporary[0] != '/') temporary = "/tmp";
    remove_folders_of_killed_runs(temporary, tool);
    // The process in the name tells a later run whether its owner is gone.
    const std::string pattern = std::string(temporary) + "/" + tool + "." + std::to_string(getpid()) + ".XXXXXX";
    if (pattern.size() >= sizeof(tool_folders_globals.root))
    {
        fprintf(stderr, "%s: the temporary directory's path is too long\n", tool);
        return false;
    }
    // A signal after the folder is made and before its handlers are set
    // would end the run with the folder left behind: the ending signals wait
    // until both are done, and then find the handlers.
    sigset_t ending, previous_mask;
    sigemptyset(&ending);
    for (const int signal_number : ending_signals) sigaddset(&ending, signal_number);
    sigprocmask(SIG_BLOCK, &ending, &previous_mask);
    strcpy(tool_folders_globals.root, pattern.c_str());
    const bool made = mkdtemp(tool_folders_globals.root) != nullptr;
    if (!made || !tag_files_set_player_folders_root(tool_folders_globals.root))
    {
        const int error = errno;
        if (made) rmdir(tool_folders_globals.root); // refused: not left behind
        tool_folders_globals.root[0] = 0;
        sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
        fprintf(stderr, "%s: no folder of its own for films and saved games under \"%s\": %s\n", tool, temporary,
                strerror(error));
        return false;
    }
    tool_folders_globals.owner = getpid();
    remove_folders_at_every_catchable_end();
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
    return true;
}
