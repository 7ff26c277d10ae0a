#pragma once
// Script arithmetic: the few operations whose width or rounding the scripts
// depend on, with loud names.  Every script procedure uses these instead of
// the plain operators wherever an overflow, a shift of a negative number or a
// division could differ between machines or be undefined in C++.  Products
// whose width no rule states are taken in 64 bits (`mul64`).

#include <cstdint>

// The low 32 bits of the product, read as a signed number.
inline int32_t mul32_wrap(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a * (uint32_t)b);
}

// a + b and a - b wrapping at 32 and 64 bits.
inline int32_t add32_wrap(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }
inline int64_t add64_wrap(int64_t a, int64_t b) { return (int64_t)((uint64_t)a + (uint64_t)b); }
inline int64_t sub64_wrap(int64_t a, int64_t b) { return (int64_t)((uint64_t)a - (uint64_t)b); }
inline int64_t neg64_wrap(int64_t a) { return (int64_t)(0 - (uint64_t)a); }

// Exact 64-bit product of two 32-bit values.
inline int64_t mul64(int32_t a, int32_t b) { return (int64_t)a * (int64_t)b; }

// Arithmetic (sign-filling) right shifts.
inline int32_t asr32(int32_t value, int32_t shift)
{
    return value >= 0 ? (int32_t)((uint32_t)value >> shift) : (int32_t)~(~(uint32_t)value >> shift);
}
inline int64_t asr64(int64_t value, int32_t shift)
{
    return value >= 0 ? (int64_t)((uint64_t)value >> shift) : (int64_t)~(~(uint64_t)value >> shift);
}

// Division truncating toward zero; a zero divisor gives 0 and INT_MIN / -1
// wraps to INT_MIN.  Callers that must refuse a zero divisor test it first.
inline int32_t div32_guarded(int32_t a, int32_t b)
{
    if (b == 0) return 0;
    if (b == -1) return (int32_t)(0 - (uint32_t)a);
    return a / b;
}
inline int64_t div64_guarded(int64_t a, int64_t b)
{
    if (b == 0) return 0;
    if (b == -1) return neg64_wrap(a);
    return a / b;
}
// Remainder with the sign of the dividend; a zero divisor and INT_MIN % -1 give 0.
inline int32_t rem32_guarded(int32_t a, int32_t b)
{
    if (b == 0 || b == -1) return 0;
    return a % b;
}

// The low 16 bits, read as signed or unsigned.
inline int16_t to_i16(int32_t value) { return (int16_t)(uint16_t)(uint32_t)value; }
inline uint16_t to_u16(int32_t value) { return (uint16_t)(uint32_t)value; }

// The exact product of two signed 64-bit numbers divided by 2^32 and rounded
// toward minus infinity, kept to 64 bits: the product of two 32.32 values.
// Portable (no 128-bit type needed).
inline int64_t mul_32_32_fixed(int64_t a, int64_t b)
{
    const bool negative = (a < 0) != (b < 0);
    const uint64_t ua = a < 0 ? 0 - (uint64_t)a : (uint64_t)a;
    const uint64_t ub = b < 0 ? 0 - (uint64_t)b : (uint64_t)b;
    const uint64_t a_lo = ua & 0xFFFFFFFFu, a_hi = ua >> 32, b_lo = ub & 0xFFFFFFFFu, b_hi = ub >> 32;
    const uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
    const uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + (lo_hi & 0xFFFFFFFFu);
    uint64_t low = (middle << 32) | (lo_lo & 0xFFFFFFFFu);
    uint64_t high = hi_hi + (hi_lo >> 32) + (lo_hi >> 32) + (middle >> 32);
    if (negative)
    {
        // Two's complement of the 128-bit magnitude.
        low = ~low + 1;
        high = ~high + (low == 0 ? 1 : 0);
    }
    // Bits 32..95 of the 128-bit product: an arithmetic shift by 32 rounds
    // toward minus infinity.
    return (int64_t)((high << 32) | (low >> 32));
}
