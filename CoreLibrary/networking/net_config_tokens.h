#pragma once
// The protocol configuration's text form: key=value tokens separated by a TAB.
// Every reader stays inside the NUL-terminated text it is given.

#include <cstdint>

enum token_kind : int32_t
{
    _token_text = 0, // value copied with a NUL; length = value length + 1
    _token_number = 1, // int32_t; decimal digits, a leading '-', others skipped; saturates
    _token_boolean = 2, // bool; true when the value starts with 't'
    _token_hex = 3, // raw bytes written as upper-case hex pairs
};

enum { MAXIMUM_HEX_TOKEN_BYTES = 256 };

// Finds the token "key=" at the start of one of the text's TAB-separated tokens
// and reads its value into `out`.  `*length` is the room at `out` on entry and
// the size written on return.  False when the key is absent, the value does
// not fit, a number has no digit, or a hex value is odd or not hexadecimal;
// `out` may be partly written then.
bool get_token(const char *text, const char *key, int32_t kind, void *out, int32_t *length);

// Sets `key` in the NUL-terminated `buffer` (room `maximum` bytes, NUL
// included): the value of an existing token is replaced in place, else
// "key=value" is appended after a TAB (none before the first token).  `data`
// is an int32_t, a NUL-terminated text, a bool, or `length` raw bytes (at most
// 256).  False, with the buffer untouched, when the result would not fit.
bool put_token(char *buffer, int32_t maximum, const char *key, int32_t kind, const void *data,
               int32_t length);

// The number at `text` up to a TAB or the end, read as `get_token` does.
// `*valid` (when given) tells whether it held a digit.
int32_t atol_tab(const char *text, bool *valid);
// The length of `text` up to a TAB or the end.
int32_t strlen_tab(const char *text);
// Two upper-case hex digits for `byte`.
void hex_to_ascii(uint8_t byte, char out[2]);
// The byte of two hex digits; false when either is not one.
bool ascii_to_hex(const char in[2], uint8_t *byte);
