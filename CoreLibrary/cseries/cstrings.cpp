// Bounded string formatting and the small string helpers.

#include "cseries/cstrings.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "cseries/log.h"

char temporary[256];

// csprintf's texts are cut to this many bytes, the terminator included; the
// 256th byte of the buffer stays unused.
enum { CSPRINTF_LIMIT = 255 };

size_t strlcpy(char *destination, const char *source, size_t size)
{
    const size_t length = strlen(source);
    if (size != 0)
    {
        const size_t copied = length < size ? length : size - 1;
        memcpy(destination, source, copied);
        destination[copied] = '\0';
    }
    return length;
}

size_t strlcpy_field(char *destination, size_t size, const char *field, size_t field_size)
{
    if (size == 0) return 0;
    size_t length = 0;
    while (length < field_size && length + 1 < size && field[length]) ++length;
    memcpy(destination, field, length);
    destination[length] = '\0';
    return length;
}

int32_t vslprintf(char *buffer, size_t size, const char *format, va_list arguments)
{
    if (size == 0) return 0;
    const int written = vsnprintf(buffer, size, format, arguments);
    if (written < 0)
    {
        // The C library may leave part of the text behind on an encoding
        // error; callers get an empty text instead of a fragment.
        buffer[0] = '\0';
        return 0;
    }
    if ((size_t)written >= size) return (int32_t)(size - 1);
    return written;
}

int32_t slprintf(char *buffer, size_t size, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int32_t result = vslprintf(buffer, size, format, arguments);
    va_end(arguments);
    return result;
}

int32_t vslprintfcat(char *buffer, size_t size, const char *format, va_list arguments)
{
    if (size == 0) return 0;
    const char *end = (const char *)memchr(buffer, '\0', size);
    if (!end) return (int32_t)(size - 1);
    const size_t length = (size_t)(end - buffer);
    return (int32_t)length + vslprintf(buffer + length, size - length, format, arguments);
}

int32_t slprintfcat(char *buffer, size_t size, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int32_t result = vslprintfcat(buffer, size, format, arguments);
    va_end(arguments);
    return result;
}

char *csprintf(char *buffer, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vslprintf(buffer, CSPRINTF_LIMIT, format, arguments);
    va_end(arguments);
    return buffer;
}

char *cstrdup(const char *text)
{
    if (!text) return nullptr;
    const size_t size = strlen(text) + 1;
    char *copy = (char *)malloc(size);
    if (copy) memcpy(copy, text, size);
    return copy;
}

char *str_prepend(char *buffer, size_t size, const char *prefix)
{
    if (size == 0) return buffer;
    const size_t room = size - 1;
    const size_t prefix_length = strlen(prefix);
    if (prefix_length >= room)
    {
        memcpy(buffer, prefix, room);
        buffer[room] = '\0';
        return buffer;
    }
    // An unterminated buffer counts as full: its last byte becomes the terminator.
    const char *end = (const char *)memchr(buffer, '\0', size);
    const size_t text_length = end ? (size_t)(end - buffer) : room;
    const size_t kept = text_length < room - prefix_length ? text_length : room - prefix_length;
    memmove(buffer + prefix_length, buffer, kept);
    memcpy(buffer, prefix, prefix_length);
    buffer[prefix_length + kept] = '\0';
    return buffer;
}

static inline unsigned char lower_ascii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

char *strlwr(char *text)
{
    for (char *p = text; *p; ++p) *p = (char)lower_ascii((unsigned char)*p);
    return text;
}

static int compare_lowered(const char *a, const char *b)
{
    const unsigned char *pa = (const unsigned char *)a;
    const unsigned char *pb = (const unsigned char *)b;
    for (;; ++pa, ++pb)
    {
        const int ca = lower_ascii(*pa), cb = lower_ascii(*pb);
        if (ca != cb || ca == 0) return ca - cb;
    }
}

int csstrcmp(const char *a, const char *b)
{
    return compare_lowered(a, b);
}

int strcasecmp_(const char *a, const char *b)
{
    return compare_lowered(a, b);
}

void debug_printf(const char *format, ...)
{
}

int32_t mod(int32_t value, int32_t divisor)
{
    // A zero divisor would trap the process; INT32_MIN % -1 traps on x86 too.
    if (!VASSERT(divisor != 0, "mod by zero")) return 0;
    if (divisor == -1) return 0;
    const int32_t remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

enum
{
    MAXIMUM_FORMAT_FIELD_WIDTH = 255, // wider than any line a format from data makes
};

// Skips a field width or precision; false when it is wider than any line,
// which would only cost time (a width of 2^31 pads for many seconds).
static bool skip_format_number(const char **p)
{
    int32_t value = 0;
    for (; **p >= '0' && **p <= '9'; ++*p)
    {
        value = value * 10 + (**p - '0');
        if (value > MAXIMUM_FORMAT_FIELD_WIDTH) return false;
    }
    return true;
}

// The conversions of a printf format in order ('s', 'd', ...), or false for
// one this checker does not know (length modifiers, '*', '$', 'n' ...) or a
// width or precision wider than a line.
static bool format_conversions(const char *format, char *conversions, int32_t size)
{
    int32_t count = 0;
    for (const char *p = format; *p; ++p)
    {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && strchr("-+ #0", *p)) ++p;
        if (!skip_format_number(&p)) return false;
        if (*p == '.')
        {
            ++p;
            if (!skip_format_number(&p)) return false;
        }
        if (*p != 's' && *p != 'd') return false;
        if (count + 1 >= size) return false;
        conversions[count++] = *p;
    }
    conversions[count] = 0;
    return true;
}

bool format_has_conversions(const char *format, const char *expected)
{
    char conversions[8];
    return format && expected && format_conversions(format, conversions, (int32_t)sizeof(conversions)) &&
           strcmp(conversions, expected) == 0;
}

bool vformat_checked_line(char *buffer, int32_t size, const char *format, const char *expected, va_list arguments)
{
    if (!buffer || size <= 0) return false;
    buffer[0] = 0;
    if (!format) return false;
    char conversions[8];
    if (!expected || !format_conversions(format, conversions, (int32_t)sizeof(conversions)) ||
        strcmp(conversions, expected) != 0)
    {
        strlcpy(buffer, format, (size_t)size);
        return false;
    }
    vslprintf(buffer, (size_t)size, format, arguments);
    return true;
}

bool format_checked_line(char *buffer, int32_t size, const char *format, const char *expected, ...)
{
    va_list arguments;
    va_start(arguments, expected);
    bool formatted = vformat_checked_line(buffer, size, format, expected, arguments);
    va_end(arguments);
    return formatted;
}

