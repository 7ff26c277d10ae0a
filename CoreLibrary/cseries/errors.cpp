// The error manager: pending errors, fatal exits and message boxes.

#include "cseries/errors.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
} error_globals;

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

// Runs `program` with `arguments` and waits; true when it could be started and
// exited normally.
static bool run_message_program(const char *program, char *const arguments[])
{
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0)
    {
        // The box must not hold the single-instance lock or the log open for
        // its lifetime; exec closes O_CLOEXEC descriptors.
        execvp(program, arguments);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
    {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) != 127;
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
    if (getenv("DISPLAY") && *getenv("DISPLAY"))
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
