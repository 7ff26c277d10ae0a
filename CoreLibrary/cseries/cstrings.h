#pragma once
// Bounded string formatting and the small string helpers of the portable base.
// No function here ever writes past the size it is given.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>

#define PRINTF_LIKE(format_index, first_argument) \
    __attribute__((format(printf, format_index, first_argument)))

// The shared 256-byte scratch buffer for formatted texts (assertion texts,
// messages); its contents last only until the next use.  Main thread only.
extern char temporary[256];

// Copies at most size-1 bytes of `source` and terminates `destination` when
// size is not 0.  Returns strlen(source), so a result >= size means truncation.
size_t strlcpy(char *destination, const char *source, size_t size);

// strlcpy for a fixed-size text field that may lack its terminator (a record
// from a file or another machine): reads at most `field_size` bytes of
// `field`, copies at most size-1 of them and terminates `destination` when
// size is not 0.  Returns the number of characters copied.
size_t strlcpy_field(char *destination, size_t size, const char *field, size_t field_size);

// Formats into `buffer`, cut to `size` bytes including the terminator.
// Returns the number of characters written: 0 for size 0 (nothing written),
// size-1 when the text was cut, 0 with an empty text on a formatting error.
int32_t vslprintf(char *buffer, size_t size, const char *format, va_list arguments);
int32_t slprintf(char *buffer, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);

// Appends the formatted text after the text already in `buffer` (of `size`
// bytes), truncating.  Returns the new length of the text.  A buffer that is
// not terminated within `size` is left alone and its size-1 is returned.
int32_t vslprintfcat(char *buffer, size_t size, const char *format, va_list arguments);
int32_t slprintfcat(char *buffer, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);

// `sprintfcat(array, format, ...)`: slprintfcat with the size of a char array
// taken from its type.  Passing a pointer does not compile, so the append is
// always bounded.
template <size_t N>
constexpr size_t char_array_capacity(char (&)[N]) { return N; }
#define sprintfcat(buffer, ...) slprintfcat((buffer), char_array_capacity(buffer), __VA_ARGS__)

// Formats into `buffer`, which must hold 256 bytes (callers pass `temporary`);
// the text is cut to 255 bytes including the terminator, so at most 254
// characters.  A formatting error leaves an empty text.  Returns `buffer`.
char *csprintf(char *buffer, const char *format, ...) PRINTF_LIKE(2, 3);

// An allocated copy of `text` (free with free()); null when memory is short.
char *cstrdup(const char *text);

// Puts `prefix` in front of the text in `buffer` (of `size` bytes), cutting the
// end of the result to fit.  Returns `buffer`.  `prefix` must not lie inside
// `buffer`.
char *str_prepend(char *buffer, size_t size, const char *prefix);

// Lower-cases `text` in place (ASCII) and returns it.
char *strlwr(char *text);

// Case-blind comparison: negative, zero or positive, as strcmp orders the
// lowered texts.  Orders string-list and tag-list rows.
int csstrcmp(const char *a, const char *b);

// 0 when the texts are equal without regard to case, else the difference of
// the first differing characters after lowering them.  Same as strcasecmp.
int strcasecmp_(const char *a, const char *b);

// Debug lines are written nowhere.
// Formats `format`, a text from data, with the arguments when its
// conversions are exactly `expected` in order (each 's' or 'd': "" none, "s",
// "dd" ...): true.  Otherwise (another conversion, '%n', '*', a length
// modifier, a width or precision over 255) copies the format as plain text:
// false.  Always terminates `buffer`.
bool format_checked_line(char *buffer, int32_t size, const char *format, const char *expected, ...);
bool vformat_checked_line(char *buffer, int32_t size, const char *format, const char *expected, va_list arguments);
// Whether `format`'s conversions are exactly `expected`, as above.
bool format_has_conversions(const char *format, const char *expected);

void debug_printf(const char *format, ...) PRINTF_LIKE(1, 2);

// The non-negative remainder of value / divisor for a positive divisor: the
// remainder plus the divisor when it is negative, so mod(-1, 5) is 4.
// A divisor of 0 is an assertion and gives 0 rather than a trap.
int32_t mod(int32_t value, int32_t divisor);
