#pragma once
// Conversion between big-endian file and wire order and host order, driven by
// a description of the record's layout.  The same call converts both ways.
//
// A description is a group: `_begin_bs_array, count, fields..., _end_bs_array`.
// A field is `_2byte` (a 16-bit word), `_4byte` (a 32-bit word) or a positive
// number of bytes left as they are (`_byte` is 1).  Groups nest; a group
// repeats its fields `count` times.  The size a description walks must equal the
// record size, else the record is refused untouched.

#include <cstdint>

typedef int16_t byte_swap_code;

enum
{
    _byte = 1,
    _2byte = -2,
    _4byte = -4,
    _begin_bs_array = -100,
    _end_bs_array = -101,
};

enum
{
    MAXIMUM_BYTE_SWAP_CODES = 4096, // a longer description is taken as unterminated
    MAXIMUM_BYTE_SWAP_DEPTH = 16,   // groups nested deeper are malformed
};

// The number of bytes the description walks, or -1 when it is malformed: it
// does not start with a group, its groups do not balance within
// MAXIMUM_BYTE_SWAP_CODES codes, a count is negative, a code is unknown (0, or
// negative other than -2, -4, -100, -101), nesting is too deep, or the size
// reaches 2 GiB.  The walk ends with the outer group's end; codes after it are
// not read.  A group of count 0 walks no bytes.
int32_t byte_swap_description_size(const byte_swap_code *codes);

// Converts `record_count` consecutive records of `record_size` bytes in place.
// `label` names the record in assertion lines.  Fields may sit at any offset.
// False, with a logged assertion and nothing changed, when `codes` is null or
// malformed or walks a size other than `record_size`.
bool byte_swap_data(const char *label, void *data, int32_t record_size, int32_t record_count,
                    const byte_swap_code *codes);

// Swaps `count` consecutive items of the size `code` gives (-2 or -4) in place.
// False, with a logged assertion, for another code.
bool byte_swap_memory(const char *label, void *data, int32_t count, int16_t code);

// Big-endian loads and stores at any alignment, for code that builds records by hand.
inline uint16_t read_be16(const void *p)
{
    const uint8_t *b = (const uint8_t *)p;
    return (uint16_t)((b[0] << 8) | b[1]);
}
inline uint32_t read_be32(const void *p)
{
    const uint8_t *b = (const uint8_t *)p;
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}
inline void write_be16(void *p, uint16_t v)
{
    uint8_t *b = (uint8_t *)p;
    b[0] = (uint8_t)(v >> 8);
    b[1] = (uint8_t)v;
}
inline void write_be32(void *p, uint32_t v)
{
    uint8_t *b = (uint8_t *)p;
    b[0] = (uint8_t)(v >> 24);
    b[1] = (uint8_t)(v >> 16);
    b[2] = (uint8_t)(v >> 8);
    b[3] = (uint8_t)v;
}
