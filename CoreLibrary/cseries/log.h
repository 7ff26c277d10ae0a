#pragma once
// The log file and the assertion macros.
//
// The log "vesk_log.txt" lives in the working directory (the program's own
// directory).  Every line starts with the local date and time
// "YYYY-MM-DD hh:mm:ss  "; a line from code names its source file (after the
// last '/' or '\') and line: "file.cpp, line #12: text".  Lines are written
// whole, from any thread.

#include <cstdarg>
#include <cstdint>

#define LOG_FILE_NAME "vesk_log.txt"
enum { MAXIMUM_LOG_MESSAGE_LENGTH = 1023 };

// Opens (appends to) the log in the working directory and writes the run's
// header line: `header` (the version string and the command line), dated.
// False when the file cannot be opened or is not a regular file (a fifo is
// refused without waiting for a reader); that is told on standard error, and
// logging then writes nothing.  A write that fails later is told on standard
// error once per opened log.
bool open_log_file(const char *header);
// The same for the log at `path` (a tool's "--log FILE").
bool open_log_file_at(const char *path, const char *header);
// A tool's own log, "<tool>_log.txt" (e.g. "vesk_sim_log.txt") in `directory`,
// or in the working directory when it is null: a tool run beside the game
// never writes into the game's log.
bool open_tool_log_file(const char *tool, const char *directory, const char *header);

// Closes the log; later messages are dropped.
void close_log_file(void);

// True while a log file is open.
bool log_file_is_open(void);

// Formats the message (cut to 1023 characters) and appends it as one line,
// flushed.  `file` may be null (information lines) and `line` -1.  Never fails,
// never stops the program; with no log open nothing is written.
void log_message(const char *file, int32_t line, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void vlog_message(const char *file, int32_t line, const char *format, va_list arguments);

// ---- lines a peer can repeat ---------------------------------------------
// A line that another machine can make the program write again and again (a
// flood of connections or of refused packets) is written once, then counted:
// the first call after REPEATED_LOG_PERIOD_MS writes "TEXT ... 6,647 more in
// the last 10 s" when any came meanwhile, and starts a new period with the
// line itself.  So such a flood adds a few lines every period, however fast
// it comes.  One record per kind of line, zeroed before its first use (a
// static record); any thread (the records share one lock).
enum
{
    REPEATED_LOG_PERIOD_MS = 10000,
    REPEATED_LOG_TEXT_SIZE = 160,
};
struct repeated_log_line
{
    uint32_t first_ms;                  // the machine millisecond of the period's written line
    int32_t more;                       // calls counted since, not written
    bool written;                       // a period has begun
    bool listed;                        // on the list flush_repeated_log_lines walks
    char text[REPEATED_LOG_TEXT_SIZE];  // the written line's text, cut, for the count's line
    const char *file;                   // where the line was last written from, for its count
    int32_t line;
    repeated_log_line *next_listed;
};
void log_repeated_message(repeated_log_line *record, const char *file, int32_t line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// Writes the count of a record whose period has ended (an idle calls it, so
// the count of a flood that stopped is not held back until the next line).
void flush_repeated_log_line(repeated_log_line *record, const char *file, int32_t line);
// The same for every listed record (those of LOG_REPEATED); the network's
// idle calls it, and closing the log writes every count still held, whatever
// its period.
void flush_repeated_log_lines(void);
// log_repeated_message for a record that lives as long as the program (a
// static one), put on the list flush_repeated_log_lines walks.
void log_listed_repeated_message(repeated_log_line *record, const char *file, int32_t line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// A line a peer can make this place write again and again: written once,
// then counted, with a record of its own (the place's).  For every line that
// a received packet or connection reaches.
#define LOG_REPEATED(...)                                                           \
    do                                                                              \
    {                                                                               \
        static repeated_log_line repeated_log_record_;                              \
        log_listed_repeated_message(&repeated_log_record_, __FILE__, __LINE__, __VA_ARGS__); \
    } while (0)

// The same with a record for each of `kinds` kinds of line at one place (a
// refusal's reasons): one kind repeated does not hide the first of another.
// `kind` outside 0 .. kinds - 1 shares the last record.
#define LOG_REPEATED_OF_KIND(kind, kinds, ...)                                                       \
    do                                                                                              \
    {                                                                                               \
        static repeated_log_line repeated_log_records_[(kinds)];                                    \
        const int32_t repeated_log_kind_ = (int32_t)(kind);                                         \
        log_listed_repeated_message(                                                                \
            &repeated_log_records_[repeated_log_kind_ >= 0 && repeated_log_kind_ < (kinds) ? repeated_log_kind_ \
                                                                                           : (kinds) - 1], \
            __FILE__, __LINE__, __VA_ARGS__);                                                       \
    } while (0)

// The same with a record for each subject a line names (a player, by its
// id 0 .. 127; a connection, by its player's id): a second player's line
// within the period is written with its name, not counted under the
// first's.  Each subject's line is still written once, then counted.
enum
{
    REPEATED_LOG_SUBJECTS = 128,
};
#define LOG_REPEATED_OF_SUBJECT(subject, ...) LOG_REPEATED_OF_KIND((subject), REPEATED_LOG_SUBJECTS, __VA_ARGS__)
// Both: a record per subject and kind (a player's refusals by reason).
#define LOG_REPEATED_OF_SUBJECT_AND_KIND(subject, kind, kinds, ...)                                         \
    LOG_REPEATED_OF_KIND(repeated_log_subject_kind((subject), (kind), (kinds)), (int32_t)REPEATED_LOG_SUBJECTS *(int32_t)(kinds), \
                         __VA_ARGS__)
// The record index of LOG_REPEATED_OF_SUBJECT_AND_KIND: a subject or kind out
// of range shares the last.
static inline int32_t repeated_log_subject_kind(int32_t subject, int32_t kind, int32_t kinds)
{
    const int32_t s = subject >= 0 && subject < REPEATED_LOG_SUBJECTS ? subject : REPEATED_LOG_SUBJECTS - 1;
    const int32_t k = kind >= 0 && kind < kinds ? kind : kinds - 1;
    return s * kinds + k;
}

// ---- the log's size ---------------------------------------------------------
// The log never grows past LOG_FILE_SIZE_LIMIT: a line that would carry it
// past renames it to "<name>.old" (replacing an older one) and starts it anew,
// so the two never hold more than twice the limit, whatever comes.  Its path
// is made whole when it opens (a later change of directory does not move
// it).  Processes sharing one log rotate it under the log file's lock
// (flock), and one that finds the file under the log's name changed follows
// it.  When the rename fails the log begins again in place (emptied, its
// first line saying why); when even that fails, or no new log can be made,
// no line more is written.  Never a line past the limit.
enum : int64_t
{
    LOG_FILE_SIZE_LIMIT = 8 * 1024 * 1024,
};
// For tests: another limit (0 restores LOG_FILE_SIZE_LIMIT).
void set_log_file_size_limit_for_tests(int64_t bytes);

// Appends `text` as a line to the log; with `timestamp` it gets the date and
// time prefix like every log_message line, without it the text stands alone.
void write_to_error_file(const char *text, bool timestamp);

// The file descriptor of the open log, or -1; for the crash handler, which may
// only write(2) to it.
int log_file_descriptor(void);

// ---- assertions ---------------------------------------------------------
// An assertion never stops the program: the hook runs, then the line is logged
// with its source file and line, and execution goes on.  The hook is where a
// later subsystem (the console) reacts; it defaults to doing nothing.

typedef void (*game_triggered_assert_procedure)(void);

// Installs the assertion hook (null restores the default).  Returns the previous one.
game_triggered_assert_procedure set_game_triggered_assert_proc(game_triggered_assert_procedure procedure);

// Calls the installed hook.  Every assertion calls it before its log line.
void game_triggered_assert(void);

// Sees every failed assertion after its line is logged, with the line's text
// ("vassert: count >= 0 - negative count").  For test harnesses, which turn an
// assertion nobody declared into a failure; the game leaves it empty.  Called
// on whatever thread failed the assertion.  Null empties the slot.  Returns the
// previous observer.
typedef void (*assertion_observer_procedure)(const char *file, int32_t line, const char *message);
assertion_observer_procedure set_assertion_observer(assertion_observer_procedure procedure);

enum assertion_kind
{
    _assertion_assert, // "assert: %s"
    _assertion_vassert, // "vassert: %s - %s"
    _assertion_vwarn, // "vwarn: %s - %s"
    _assertion_vpause, // "vpause: %s"
    _assertion_halt, // "halt: %s", or the bare "halt" without a text
};

// Runs the hook and logs the line for a failed assertion of `kind`.
void assertion_failed(const char *file, int32_t line, int32_t kind,
                      const char *expression, const char *text);

inline bool assertion_check(bool ok, const char *file, int32_t line, int32_t kind,
                            const char *expression, const char *text)
{
    if (!ok) assertion_failed(file, line, kind, expression, text);
    return ok;
}

// Each macro evaluates its expression once and yields it as a bool, so code
// can write `if (!VASSERT(count >= 0, "negative count")) return false;`.
#define ASSERT(expression) \
    assertion_check(!!(expression), __FILE__, __LINE__, _assertion_assert, #expression, nullptr)
#define VASSERT(expression, text) \
    assertion_check(!!(expression), __FILE__, __LINE__, _assertion_vassert, #expression, (text))
#define VWARN(expression, text) \
    assertion_check(!!(expression), __FILE__, __LINE__, _assertion_vwarn, #expression, (text))
#define VPAUSE(text) assertion_failed(__FILE__, __LINE__, _assertion_vpause, nullptr, (text))
#define HALT(text) assertion_failed(__FILE__, __LINE__, _assertion_halt, nullptr, (text))
