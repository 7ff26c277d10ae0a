// The error manager: pending errors, fatal exits and message boxes.

#include "cseries/errors.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

#include "cseries/log.h"

enum { MAXIMUM_ERROR_TEXT = 1024 };

static const char *const error_code_names[NUMBER_OF_ERROR_CODES] = {
    "None", "Unknown", "User Quit or Cancel", "File system Read", "File system Write",
    "File system Open", "File system Create", "File system General", "Out of Memory",
    "Data Version Mismatch", "Data Corrupted", "Data Missing", "Data Mismatch", "Array Full",
    "Fatal Recursion", "Array Out of Bounds", "Assertion Failure", "Out of Sync", "Warning",
};

static struct error_globals
{
    std::mutex lock;
    bool ignore_errors = false;
    bool pending = false;
    int32_t pending_code = _error_none;
    char pending_text[MAXIMUM_ERROR_TEXT] = "";
    std::atomic<message_box_procedure> message_box{nullptr};
    // Set by the first fatal error: exit() run twice (a fatal error from an
    // exit handler or from a second thread) is undefined behaviour.
    std::atomic<bool> exiting{false};
    // The termination signal (SIGTERM, SIGINT) that came while a box was up;
    // from then on nobody is there to close one, and none is shown.
    std::atomic<int> termination_signal{0};
} error_globals;
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

const char *error_code_name(int32_t code)
{
    if (code < 0 || code >= NUMBER_OF_ERROR_CODES) return error_code_names[_error_unknown];
    return error_code_names[code];
}

bool error_code_is_fatal(int32_t code)
{
    return code == _error_out_of_memory || code == _error_assertion_failure || code == _error_out_of_sync;
}

void error_message(int32_t code, const char *file, int32_t line, const char *format, ...)
{
    char text[MAXIMUM_ERROR_TEXT];
    va_list arguments;
    va_start(arguments, format);
    if (!format || vsnprintf(text, sizeof(text), format, arguments) < 0) text[0] = 0;
    va_end(arguments);

    log_message(file, line, "%s: %s", error_code_name(code), text);

    if (error_code_is_fatal(code))
    {
        if (error_globals.exiting.exchange(true)) _exit(code);
        char box[MAXIMUM_ERROR_TEXT + 64];
        snprintf(box, sizeof(box), "%s: %s", error_code_name(code), text);
        show_message_box(box);
        // Buffered streams of other modules are flushed; the log is written
        // line by line already.
        exit(code);
    }

    std::lock_guard<std::mutex> guard(error_globals.lock);
    if (error_globals.ignore_errors || error_globals.pending) return;
    error_globals.pending = true;
    error_globals.pending_code = code;
    snprintf(error_globals.pending_text, sizeof(error_globals.pending_text), "%s", text);
}

void set_ignore_errors(bool ignore)
{
    std::lock_guard<std::mutex> guard(error_globals.lock);
    error_globals.ignore_errors = ignore;
}

bool error_pending(int32_t *code, char *text, size_t size)
{
    std::lock_guard<std::mutex> guard(error_globals.lock);
    if (!error_globals.pending) return false;
    if (code) *code = error_globals.pending_code;
    if (text && size > 0) snprintf(text, size, "%s", error_globals.pending_text);
    return true;
}

void clear_pending_error(void)
{
    std::lock_guard<std::mutex> guard(error_globals.lock);
    error_globals.pending = false;
    error_globals.pending_code = _error_none;
    error_globals.pending_text[0] = 0;
}

void set_message_box_proc(message_box_procedure procedure)
{
    error_globals.message_box = procedure;
}

static void note_termination_signal(int signal_number) { error_globals.termination_signal.store(signal_number); }

// Runs `program` with `arguments` and waits; true when it could be started and
// exited normally.  A termination signal while it waits closes the box and
// then reaches the program's own handler (or the default action) as if no box
// had been up: a box nobody closes (a machine shutting down, a test's
// display) must not keep the program from ending.
static bool run_message_program(const char *program, char *const arguments[])
{
    struct sigaction watch = {}, previous_term = {}, previous_int = {};
    watch.sa_handler = note_termination_signal;
    sigemptyset(&watch.sa_mask);
    sigaction(SIGTERM, &watch, &previous_term);
    sigaction(SIGINT, &watch, &previous_int);
    pid_t child = fork();
    if (child == 0)
    {
        // The box must not hold the single-instance lock or the log open for
        // its lifetime; exec closes O_CLOEXEC descriptors (and resets the
        // handlers above).
        execvp(program, arguments);
        _exit(127);
    }
    int status = 0;
    bool exited = false;
    while (child > 0)
    {
        const pid_t waited = waitpid(child, &status, WNOHANG);
        if (waited == child)
        {
            exited = true;
            break;
        }
        if (waited < 0 && errno != EINTR) break;
        if (error_globals.termination_signal.load())
        {
            kill(child, SIGTERM);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) continue;
            break;
        }
        usleep(20 * 1000);
    }
    sigaction(SIGTERM, &previous_term, nullptr);
    sigaction(SIGINT, &previous_int, nullptr);
    if (const int received = error_globals.termination_signal.load())
    {
        log_message(__FILE__, __LINE__, "signal %d while a message box was up: the box is closed", received);
        raise(received);
        return true; // nothing more is shown
    }
    return exited && WIFEXITED(status) && WEXITSTATUS(status) != 127;
}

void show_message_box(const char *text)
{
    message_box_procedure procedure = error_globals.message_box;
    if (procedure)
    {
        procedure(text);
        return;
    }
    const char *message = text ? text : "";
    // Always on standard error as well: a box program that cannot reach the
    // X server exits like one that was closed, and the text would be lost.
    fprintf(stderr, "%s\n", message);
    if (getenv("DISPLAY") && *getenv("DISPLAY") && !error_globals.termination_signal.load())
    {
        char zenity_text[MAXIMUM_ERROR_TEXT + 16];
        snprintf(zenity_text, sizeof(zenity_text), "--text=%s", message);
        char *const zenity_arguments[] = {(char *)"zenity", (char *)"--error", (char *)"--no-markup",
                                          zenity_text, nullptr};
        if (run_message_program("zenity", zenity_arguments)) return;
        char *const xmessage_arguments[] = {(char *)"xmessage", (char *)"-center", (char *)message, nullptr};
        run_message_program("xmessage", xmessage_arguments);
    }
}
