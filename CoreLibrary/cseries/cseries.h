#pragma once
// The portable base every module includes: fixed-width types, NONE, tags,
// flag helpers and the assertion macros.

#include <cstddef>
#include <cstdint>

#include "cseries/cstrings.h"
#include "cseries/log.h"

// "None" for tags, indexes and handles: all bits set.
enum : int32_t { NONE = -1 };

// A four-character code: the first character in the most significant byte,
// stored big-endian in files.  Tag groups and the tags inside a group are both
// named by such codes.  Ordering of tags (sorted tables) compares them as
// unsigned numbers: use `compare_tags`.
typedef int32_t tag;
typedef tag file_tag;

#define FOUR_CHARACTER_CODE(a, b, c, d) \
    ((tag)(((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | \
           ((uint32_t)(uint8_t)(c) << 8) | (uint32_t)(uint8_t)(d)))

inline int compare_tags(tag a, tag b)
{
    uint32_t ua = (uint32_t)a, ub = (uint32_t)b;
    return ua < ub ? -1 : (ua > ub ? 1 : 0);
}

// Bit helpers in the house spelling: `_x_bit` is a bit number, `_x_flag` its mask.
#define FLAG(bit) (1u << (bit))
#define TEST_FLAG(flags, bit) ((((uint32_t)(flags)) >> (bit)) & 1u)
#define SET_FLAG(flags, bit, value) \
    ((value) ? ((flags) |= FLAG(bit)) : ((flags) &= ~FLAG(bit)))

template <typename T, size_t N>
constexpr size_t array_count(T (&)[N]) { return N; }
#define NUMBER_OF(array) (sizeof(array) / sizeof((array)[0]))

#define KILO 1024
#define MEG (KILO * KILO)
