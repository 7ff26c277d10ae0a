#pragma once
// What every command of the data tool shares: reading a whole input file,
// the number and four-character-code syntax of its options and sources, the
// one-line refusal, and writing a local tag file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cseries/tags.h"

// Reads all of `path` into `*bytes`.  False, with `*reason` saying why, when
// it cannot be opened or read or holds more than `limit` bytes: a file is
// never taken cut short.
bool tool_read_file(const char *path, size_t limit, std::string *bytes, std::string *reason);

// Splits a text source into its lines: a line break ends a line, a carriage
// return just before it is dropped, and text after the last break is a last
// line.  A line may be of any length.
void tool_split_lines(const std::string &text, std::vector<std::string> *lines);

// One statement of a word-based source: its line number and its words,
// comments ('#' to the end of the line) dropped.
struct source_line
{
    size_t number;
    std::vector<std::string> words;
};

// Reads the source at `path` (at most `limit` bytes) into its statements,
// blank and comment-only lines left out; lines are taken whole, however
// long.  False after the refusal line when it cannot be read.
bool tool_read_source(const char *path, size_t limit, std::vector<source_line> *lines);

// Writes `size` bytes to `path`, replacing it whole: they are written and
// flushed to an aside file of its own beside it (file_replace_whole), which
// then takes the name.  False when any step
// fails, with errno telling why; a file at `path` is then left as it was, and
// no aside file remains.  Anything but a regular file at `path` (a directory,
// a device) is refused untouched.
bool tool_write_file(const char *path, const void *data, size_t size);

// Writes a local tag file of the given tag: its header, then the data.
// False after the refusal line when it cannot be written; nothing is left
// at `path` then.
bool tool_write_local_tag_file(const char *path, tag group, tag subgroup, int16_t version, uint32_t user_data,
                               const char *name, const void *data, int32_t size);

// A number of a source file: `text` as a whole number from `minimum` to
// `maximum`, in decimal or with "0x" in hex, after an optional '-'.  False for
// anything else: a leading 0 before more digits (no octal), other signs,
// spaces, trailing characters, overflow.
bool tool_parse_number(const char *text, int64_t minimum, int64_t maximum, int64_t *value);

// The value of a hexadecimal digit (either case); -1 for any other character.
int tool_hex_digit(char c);

// A number of the command line: decimal only (an optional '-', then digits;
// "010" is ten), from `minimum` to `maximum`.  False for anything else: hex,
// other signs, spaces, trailing characters, overflow.
bool tool_parse_argument_number(const char *text, int64_t minimum, int64_t maximum, int64_t *value);

// `text` as a four-character code.  With `none_allowed` the word "none" is
// NONE; otherwise "none" is just the code 'none'.  False for any other length
// and for the all-ones code, which would read as NONE.
bool tool_parse_code(const char *text, bool none_allowed, tag *code);

// Prints "vesk_tags: PATH: REASON" (or "PATH:LINE:") on standard error and
// returns 1, the tool's exit status for a refused input.
int tool_refuse(const char *path, const char *reason);
int tool_refuse_line(const char *path, size_t line, const char *reason);
