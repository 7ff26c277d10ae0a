#pragma once
// Four-character codes as text.

#include "cseries/cseries.h"

// The code of `text`: its first four characters, the first in the most
// significant byte.  A shorter text is shifted in from the right, so "2" gives
// 0x00000032 and "" gives 0.  Old films depend on this packing.
tag string_to_tag(const char *text);

// Printable text of a code for messages and debug lines: its four characters,
// with zero and non-printable bytes shown as '.'; NONE gives "".  The result
// lives in a per-thread ring of 8 static buffers, so up to 8 results may be
// used in one expression; keep it no longer than that.
const char *tag_to_string(tag code);

// Same text, written into the caller's 5-byte buffer, which is returned.
char *tag_to_string_buffer(tag code, char buffer[5]);
