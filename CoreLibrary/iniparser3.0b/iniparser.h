#pragma once
// The INI parser: reads "key = value" lines grouped under "[Section]" headings
// from a memory buffer and answers look-ups.  It knows nothing of value types;
// inifile.h turns texts into fields.
//
// Syntax:
// - A heading is "[Name]"; blanks inside the brackets are trimmed and the name
//   may hold any other characters, dots included ("Renderer.OpenGL").  A
//   heading that appears twice continues the same section.
// - A setting is "key = value".  Blanks around the key and the value are
//   trimmed; the value may be empty.  A value wholly inside double quotes loses
//   them and keeps its blanks and any ';' or '#' it holds (there are no escapes).
// - A line whose first non-blank character is ';' or '#' is a comment.  On a
//   heading or an unquoted value, a ';' or '#' that follows a blank starts a
//   trailing comment; one that follows another character is part of the text,
//   so "http://host/page#part" keeps its '#'.
// - Section and key names compare without regard to case (ASCII).
// - A key may be given several times in a section: every value is kept, in the
//   order of the file.
// - Lines end with LF; a CR before it is dropped.  A leading UTF-8 byte-order
//   mark is skipped.
// - A line that does not parse (no '=', an empty key, an unclosed heading or
//   quote, a NUL byte, a setting before the first heading or under a refused
//   heading) is skipped with one log line naming its number; the rest of the
//   buffer is still read.

#include <cstddef>
#include <cstdint>

enum
{
    // A larger buffer is refused whole.  Power-user files are a few hundred
    // bytes; the bound also keeps the linear look-ups of a hostile file (some
    // ten thousand headings at most) from taking noticeable time.
    MAXIMUM_INI_BUFFER_SIZE = 64 * 1024,
};

struct ini_pair
{
    const char *key;
    const char *value;
    int32_t section_index;
    int32_t line_number; // from 1
};

struct ini_file
{
    char *text; // private copy of the buffer; names and values point into it
    char **section_names;
    int32_t section_count;
    int32_t section_capacity;
    ini_pair *pairs; // in the order of the file
    int32_t pair_count;
    int32_t pair_capacity;
    int32_t refused_line_count;
};

// Parses `size` bytes of `data` (need not be terminated) into `file`, which it
// clears first (dispose a file that holds an earlier parse before);
// `source_name` names the buffer in log lines.  Broken lines are logged and
// skipped.  False only when the buffer is larger than
// MAXIMUM_INI_BUFFER_SIZE or memory runs out; `file` is then empty (but still
// safe to query and to dispose).  Dispose every parsed file.
bool ini_parse(ini_file *file, const char *data, size_t size, const char *source_name);

// Frees what ini_parse allocated and leaves an empty file.  Safe on an empty,
// zero-filled or already disposed file.
void ini_dispose(ini_file *file);

// The index of the section named `name` (case-blind), or NONE.
int32_t ini_find_section(const ini_file *file, const char *name);

// The last value given to `key` in the section, or null when the section is
// NONE or the key is absent.  The text lives until ini_dispose.
const char *ini_get_value(const ini_file *file, int32_t section_index, const char *key);

// Stores up to `maximum` values of `key` in the section into `values` (may be
// null when `maximum` is 0), in the order of the file.  Returns how many values
// the key has, which may exceed `maximum`; 0 when absent.
int32_t ini_get_values(const ini_file *file, int32_t section_index, const char *key,
                       const char **values, int32_t maximum);

// True when the section gives `key` at least once (even an empty value).
bool ini_key_present(const ini_file *file, int32_t section_index, const char *key);
