// The log file and assertion logging.

#include "cseries/log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/timers.h"

static struct log_globals
{
    // Atomic because callers test it without the lock and the crash handler
    // reads it from a signal handler; changed only under the lock.
    std::atomic<int> descriptor{-1};
    // The keyboard task logs from the timer thread; a line is formatted and
    // written whole under this lock.
    std::mutex lock;
    std::atomic<game_triggered_assert_procedure> assert_procedure{nullptr};
    std::atomic<assertion_observer_procedure> assertion_observer{nullptr};
    // A failed write is told on standard error once per opened log, not once
    // per line; changed under the lock.
    // Initialized here like every member, so that these globals are ready
    // before any other file's static constructors run.
    bool write_failure_reported = false;
    // The opened log's path, for that report (a tool may name its own log).
    char path[1024] = "";
    int64_t size_limit = LOG_FILE_SIZE_LIMIT;
    // Set when the log could neither be rotated nor begun again: no line more
    // goes in, rather than one past the limit.  Cleared by the next open.
    bool stopped = false;
    // The repeated lines' records and their list; this lock is taken before
    // the log's own, never after it.
    std::recursive_mutex repeated_lock;
    repeated_log_line *listed = nullptr;
} log_globals;

static const char *file_name_after_last_separator(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; ++p)
    {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

static size_t format_date_prefix(char *buffer, size_t size)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int n = snprintf(buffer, size, "%04d-%02d-%02d %02d:%02d:%02d  ", local.tm_year + 1900,
                     local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return n < 0 ? 0 : ((size_t)n < size ? (size_t)n : size - 1);
}

// Nothing else tells the player that the log is not being kept: standard
// error is the one place left.  The caller holds the lock.
static void report_write_failure_locked(int error)
{
    if (log_globals.write_failure_reported) return;
    log_globals.write_failure_reported = true;
    fprintf(stderr, "%s: cannot be written (%s); later lines may be lost\n",
            log_globals.path[0] ? log_globals.path : LOG_FILE_NAME, strerror(error));
}

static void write_all(int descriptor, const char *text, size_t length)
{
    while (length > 0)
    {
        ssize_t written = write(descriptor, text, length);
        if (written < 0)
        {
            if (errno == EINTR) continue;
            report_write_failure_locked(errno);
            return;
        }
        if (written == 0)
        {
            report_write_failure_locked(ENOSPC);
            return;
        }
        text += written;
        length -= (size_t)written;
    }
}

static int open_log_descriptor(const char *path, int *error);

// Writes a dated note of the log's own.
static void write_log_note(int descriptor, const char *note)
{
    char line[256];
    const size_t dated = format_date_prefix(line, sizeof(line));
    const int n = snprintf(line + dated, sizeof(line) - dated, "%s\n", note);
    if (n <= 0) return;
    const size_t written = (size_t)n < sizeof(line) - dated ? (size_t)n : sizeof(line) - dated - 1;
    write_all(descriptor, line, dated + written);
}

// Takes the log file's lock (flock: every process writing this log takes the
// lock of the file it holds, so that no two rotate one file, nor a line go
// in between a size check and its write).  Interrupted waits are retried.
static void lock_log_descriptor(int descriptor)
{
    while (flock(descriptor, LOCK_EX) != 0 && errno == EINTR) continue;
}

// Puts `fresh` in the place of the log's descriptor, locked.
static void switch_log_descriptor_locked(int fresh)
{
    const int previous = log_globals.descriptor;
    lock_log_descriptor(fresh);
    log_globals.descriptor = fresh;
    flock(previous, LOCK_UN);
    close(previous);
}

// The log could not become "<name>.old": it begins again in place rather
// than grow past its limit, and says why.  False when even that fails: the
// log then stops (told on standard error once).
static bool start_log_again_in_place_locked(int error)
{
    const int descriptor = log_globals.descriptor;
    if (ftruncate(descriptor, 0) != 0)
    {
        report_write_failure_locked(errno);
        log_globals.stopped = true;
        return false;
    }
    char note[192];
    snprintf(note, sizeof(note), "(the log could not be kept as its \".old\" file (%s): it begins again here)",
             strerror(error));
    write_log_note(descriptor, note);
    return true;
}

// Readies the log for a line of `length` bytes: the log file's lock is
// taken; a log another process of the same log rotated is followed to its
// new file; past the limit the log becomes "<name>.old" and a new one is
// begun.  True with the lock held (the caller writes, then unlocks); false
// when no line may be written.  The caller holds the mutex.
static bool prepare_log_for_line_locked(size_t length)
{
    for (int32_t round = 0; round < 4; ++round)
    {
        const int descriptor = log_globals.descriptor;
        if (descriptor < 0 || log_globals.stopped) return false;
        lock_log_descriptor(descriptor);
        struct stat open_status, named_status;
        if (fstat(descriptor, &open_status) != 0) return true;
        const bool named = stat(log_globals.path, &named_status) == 0;
        if (!named || named_status.st_ino != open_status.st_ino || named_status.st_dev != open_status.st_dev)
        {
            // Another process rotated this log (or it was taken away): the
            // file under its name is the log now.
            int error = 0;
            const int fresh = open_log_descriptor(log_globals.path, &error);
            if (fresh < 0)
            {
                // Kept on the file held while it has room; never past its limit.
                if (open_status.st_size + (int64_t)length <= log_globals.size_limit) return true;
                flock(descriptor, LOCK_UN);
                return false;
            }
            switch_log_descriptor_locked(fresh);
            continue;
        }
        if (open_status.st_size + (int64_t)length <= log_globals.size_limit) return true;
        char old_path[sizeof(log_globals.path) + 8];
        snprintf(old_path, sizeof(old_path), "%s.old", log_globals.path);
        if (rename(log_globals.path, old_path) != 0)
        {
            if (start_log_again_in_place_locked(errno)) return true;
            flock(descriptor, LOCK_UN);
            return false;
        }
        int error = 0;
        const int fresh = open_log_descriptor(log_globals.path, &error);
        if (fresh < 0)
        {
            // The lines so far are kept in ".old"; none goes past the limit.
            report_write_failure_locked(error);
            log_globals.stopped = true;
            flock(descriptor, LOCK_UN);
            return false;
        }
        switch_log_descriptor_locked(fresh);
        write_log_note(fresh, "(the log goes on from its \".old\" file)");
        return true;
    }
    return true;
}

// Writes one dated line; the caller holds the lock.
static void write_line_locked(const char *prefix, const char *body, bool dated)
{
    if (log_globals.descriptor < 0) return;
    // Date (21) + prefix (a file name and line) + body (1023) + newline.
    char line[32 + 320 + MAXIMUM_LOG_MESSAGE_LENGTH + 2];
    size_t length = dated ? format_date_prefix(line, sizeof(line)) : 0;
    int n = snprintf(line + length, sizeof(line) - length, "%s%s\n", prefix, body);
    if (n < 0) return;
    length += (size_t)n < sizeof(line) - length ? (size_t)n : sizeof(line) - length - 1;
    if (line[length - 1] != '\n') line[length - 1] = '\n';
    if (!prepare_log_for_line_locked(length)) return;
    // O_APPEND with one write per line: the file never holds half a line.
    write_all(log_globals.descriptor, line, length);
    flock(log_globals.descriptor, LOCK_UN);
}

bool open_log_file(const char *header)
{
    return open_log_file_at(LOG_FILE_NAME, header);
}

bool open_tool_log_file(const char *tool, const char *directory, const char *header)
{
    char path[sizeof(log_globals.path)];
    snprintf(path, sizeof(path), "%s%s%s_log.txt", directory ? directory : "", directory ? "/" : "", tool);
    return open_log_file_at(path, header);
}

// Opens the log at `path` for appending; -1 with `*error` when it cannot be
// opened or is not a regular file.
static int open_log_descriptor(const char *path, int *error)
{
    // Without blocking: a fifo in the log's place would otherwise hold the
    // start-up until something reads it.  Only a regular file is taken.
    // The log may hold players' names and addresses: only its owner reads it,
    // a log left world-readable by an older run included.
    int descriptor = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0600);
    *error = errno;
    struct stat status;
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)))
    {
        close(descriptor);
        descriptor = -1;
        *error = EINVAL;
    }
    if (descriptor >= 0)
    {
        const int flags = fcntl(descriptor, F_GETFL);
        if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
        if ((status.st_mode & 077) != 0) fchmod(descriptor, 0600);
    }
    return descriptor;
}

void set_log_file_size_limit_for_tests(int64_t bytes)
{
    std::lock_guard<std::mutex> guard(log_globals.lock);
    log_globals.size_limit = bytes > 0 ? bytes : LOG_FILE_SIZE_LIMIT;
}

bool open_log_file_at(const char *path, const char *header)
{
    std::lock_guard<std::mutex> guard(log_globals.lock);
    if (log_globals.descriptor >= 0) close(log_globals.descriptor);
    log_globals.descriptor = -1;
    log_globals.write_failure_reported = false;
    log_globals.stopped = false;
    // Kept whole: a program that changes its directory later (a tool entering
    // its data folder) must still rotate this log, not a file of that name there.
    char whole[sizeof(log_globals.path)];
    char directory[sizeof(log_globals.path)];
    if (path[0] != '/' && getcwd(directory, sizeof(directory)) &&
        snprintf(whole, sizeof(whole), "%s/%s", directory, path) < (int)sizeof(whole))
        path = whole;
    int error = 0;
    const int descriptor = open_log_descriptor(path, &error);
    if (descriptor < 0)
    {
        fprintf(stderr, "%s: cannot be opened (%s); the game runs without a log\n", path,
                error == EINVAL || error == ENXIO ? "not a regular file" : strerror(error));
        return false;
    }
    log_globals.descriptor = descriptor;
    snprintf(log_globals.path, sizeof(log_globals.path), "%s", path);
    write_line_locked("", header ? header : "", true);
    return true;
}

static void write_count_locked(repeated_log_line *record, uint32_t elapsed, const char *file, int32_t line);

void close_log_file(void)
{
    {
        // The counts still held are the log's last word on those floods.
        std::lock_guard<std::recursive_mutex> repeated(log_globals.repeated_lock);
        const uint32_t now = machine_tick_count();
        for (repeated_log_line *record = log_globals.listed; record; record = record->next_listed)
        {
            if (record->written) write_count_locked(record, now - record->first_ms, record->file, record->line);
            record->written = false;
        }
    }
    std::lock_guard<std::mutex> guard(log_globals.lock);
    if (log_globals.descriptor >= 0) close(log_globals.descriptor);
    log_globals.descriptor = -1;
}

bool log_file_is_open(void)
{
    return log_globals.descriptor >= 0;
}

int log_file_descriptor(void)
{
    return log_globals.descriptor;
}

void vlog_message(const char *file, int32_t line, const char *format, va_list arguments)
{
    if (log_globals.descriptor < 0) return;
    char body[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    if (!format || vsnprintf(body, sizeof(body), format, arguments) < 0) body[0] = 0;
    char prefix[320] = "";
    if (file) snprintf(prefix, sizeof(prefix), "%s, line #%d: ", file_name_after_last_separator(file), (int)line);
    std::lock_guard<std::mutex> guard(log_globals.lock);
    write_line_locked(prefix, body, true);
}

void log_message(const char *file, int32_t line, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vlog_message(file, line, format, arguments);
    va_end(arguments);
}

// "6,647": the count of a flood reads at a glance.
static void format_count(char *buffer, size_t size, int32_t count)
{
    char digits[16];
    const int length = snprintf(digits, sizeof(digits), "%d", count);
    size_t at = 0;
    for (int i = 0; i < length && at + 2 < size; ++i)
    {
        if (i > 0 && (length - i) % 3 == 0) buffer[at++] = ',';
        buffer[at++] = digits[i];
    }
    buffer[at] = 0;
}

// Writes the count of `record`'s period, when any came, and ends the period.
// The caller holds the repeated lines' lock.
static void write_count_locked(repeated_log_line *record, uint32_t elapsed, const char *file, int32_t line)
{
    record->written = false;
    if (record->more <= 0) return;
    char count[24];
    format_count(count, sizeof(count), record->more);
    record->more = 0;
    log_message(file, line, "%s ... %s more in the last %u s", record->text, count, (elapsed + 999) / 1000);
}

void flush_repeated_log_line(repeated_log_line *record, const char *file, int32_t line)
{
    if (!record) return;
    std::lock_guard<std::recursive_mutex> repeated(log_globals.repeated_lock);
    if (!record->written) return;
    const uint32_t elapsed = machine_tick_count() - record->first_ms;
    if (elapsed < (uint32_t)REPEATED_LOG_PERIOD_MS) return;
    write_count_locked(record, elapsed, file, line);
}

void flush_repeated_log_lines(void)
{
    std::lock_guard<std::recursive_mutex> repeated(log_globals.repeated_lock);
    for (repeated_log_line *record = log_globals.listed; record; record = record->next_listed)
        flush_repeated_log_line(record, record->file, record->line);
}

static void vlog_repeated_message(repeated_log_line *record, const char *file, int32_t line, const char *format,
                                  va_list arguments)
{
    std::lock_guard<std::recursive_mutex> repeated(log_globals.repeated_lock);
    flush_repeated_log_line(record, file, line);
    if (record->written)
    {
        if (record->more < INT32_MAX) ++record->more;
        return;
    }
    if (!format || vsnprintf(record->text, sizeof(record->text), format, arguments) < 0) record->text[0] = 0;
    record->written = true;
    record->first_ms = machine_tick_count();
    record->more = 0;
    record->file = file;
    record->line = line;
    log_message(file, line, "%s", record->text);
}

void log_repeated_message(repeated_log_line *record, const char *file, int32_t line, const char *format, ...)
{
    if (!record) return;
    va_list arguments;
    va_start(arguments, format);
    vlog_repeated_message(record, file, line, format, arguments);
    va_end(arguments);
}

void log_listed_repeated_message(repeated_log_line *record, const char *file, int32_t line, const char *format, ...)
{
    if (!record) return;
    {
        std::lock_guard<std::recursive_mutex> repeated(log_globals.repeated_lock);
        if (!record->listed)
        {
            record->listed = true;
            record->next_listed = log_globals.listed;
            log_globals.listed = record;
        }
    }
    va_list arguments;
    va_start(arguments, format);
    vlog_repeated_message(record, file, line, format, arguments);
    va_end(arguments);
}

void write_to_error_file(const char *text, bool timestamp)
{
    if (log_globals.descriptor < 0) return;
    char body[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    snprintf(body, sizeof(body), "%s", text ? text : "");
    std::lock_guard<std::mutex> guard(log_globals.lock);
    write_line_locked("", body, timestamp);
}

game_triggered_assert_procedure set_game_triggered_assert_proc(game_triggered_assert_procedure procedure)
{
    return log_globals.assert_procedure.exchange(procedure);
}

void game_triggered_assert(void)
{
    game_triggered_assert_procedure procedure = log_globals.assert_procedure;
    if (procedure) procedure();
}

assertion_observer_procedure set_assertion_observer(assertion_observer_procedure procedure)
{
    return log_globals.assertion_observer.exchange(procedure);
}

void assertion_failed(const char *file, int32_t line, int32_t kind, const char *expression, const char *text)
{
    game_triggered_assert();
    const char *e = expression ? expression : "";
    const char *t = text ? text : "";
    char message[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    switch (kind)
    {
    case _assertion_assert: snprintf(message, sizeof(message), "assert: %s", e); break;
    case _assertion_vassert: snprintf(message, sizeof(message), "vassert: %s - %s", e, t); break;
    case _assertion_vwarn: snprintf(message, sizeof(message), "vwarn: %s - %s", e, t); break;
    case _assertion_vpause: snprintf(message, sizeof(message), "vpause: %s", t); break;
    default:
        if (text) snprintf(message, sizeof(message), "halt: %s", t);
        else snprintf(message, sizeof(message), "halt");
        break;
    }
    log_message(file, line, "%s", message);
    assertion_observer_procedure observer = log_globals.assertion_observer;
    if (observer) observer(file, line, message);
    // The process tests run the programs with assertions fatal, so that one
    // logged where nobody reads the log still fails them.  Warnings stay.
    static const bool fatal = getenv("VESK_FATAL_ASSERTIONS") && *getenv("VESK_FATAL_ASSERTIONS");
    if (fatal && kind != _assertion_vwarn)
    {
        fprintf(stderr, "%s:%d: %s (assertions are fatal: VESK_FATAL_ASSERTIONS)\n", file ? file_name_after_last_separator(file) : "",
                (int)line, message);
        abort();
    }
}
