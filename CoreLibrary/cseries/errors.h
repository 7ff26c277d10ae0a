#pragma once
// The error manager: every failure reported to the player goes through
// `error_message` with one of the 19 codes.  Codes 8, 16 and 17 end the
// program with the code as exit status after the log line and a fatal message
// box; the others wait as one pending message that the main loop collects once
// per frame.

#include <cstddef>
#include <cstdint>

enum error_code
{
    _error_none = 0,
    _error_unknown,
    _error_user_cancel,
    _error_file_read,
    _error_file_write,
    _error_file_open,
    _error_file_create,
    _error_file_general,
    _error_out_of_memory, // fatal
    _error_data_version_mismatch,
    _error_data_corrupted,
    _error_data_missing,
    _error_data_mismatch,
    _error_array_full,
    _error_fatal_recursion,
    _error_array_out_of_bounds,
    _error_assertion_failure, // fatal
    _error_out_of_sync, // fatal
    _error_warning,
    NUMBER_OF_ERROR_CODES
};

// "None", "Unknown", ... "Warning"; "Unknown" for a code out of range.
const char *error_code_name(int32_t code);

// True for the codes that end the program (8, 16, 17).
bool error_code_is_fatal(int32_t code);

// Reports an error.  The line "<name>: <text>" is logged with the source file
// and line.  A fatal code then shows a message box and exits with the code as
// status.  Any other code becomes the pending error unless one is pending
// already (the first one is kept until cleared) or errors are ignored.
void error_message(int32_t code, const char *file, int32_t line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// While true, non-fatal errors are still logged but leave nothing pending.
// Fatal codes stay fatal.
void set_ignore_errors(bool ignore);

// The pending error, if any: its code and text (cut to `size`).  Either out
// argument may be null.  False when nothing is pending.
bool error_pending(int32_t *code, char *text, size_t size);

// Forgets the pending error.  The main loop calls this once per frame.
void clear_pending_error(void);

// Shows `text` in a blocking message box: "zenity", else "xmessage" (only
// with a DISPLAY).  The text is written to standard error as well, so it is
// never lost when no box can be shown.  Returns when the box is closed.
void show_message_box(const char *text);

// Replaces how message boxes are shown (tests use it to stay quiet); null
// restores the default.
typedef void (*message_box_procedure)(const char *text);
void set_message_box_proc(message_box_procedure procedure);

#define ERROR_MESSAGE(code, ...) error_message((code), __FILE__, __LINE__, __VA_ARGS__)
