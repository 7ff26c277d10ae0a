#pragma once
// CRC-32 (IEEE 802.3 polynomial, reflected, initial value and final xor
// 0xFFFFFFFF): "123456789" gives 0xCBF43926.  Checksums of plug-ins, of the
// foundation files and of tag files, and the state hash that films and sync
// snapshots store: every method below gives the same value, bit for bit.

#include <cstddef>
#include <cstdint>

// Continues `crc` (the result of an earlier call, or 0 to start) over `size`
// bytes and returns the CRC of everything so far.  Chaining calls over the
// pieces of a buffer gives the CRC of the whole buffer.  Uses the fastest
// method this processor runs (chosen once, at the first long input); any
// thread may call it.
uint32_t crc32_update(uint32_t crc, const void *data, size_t size);

// The CRC of one buffer.
inline uint32_t crc32_of(const void *data, size_t size) { return crc32_update(0, data, size); }

// Combination: the CRC of A followed by B from the CRC of each and B's length,
// with no byte of either read again.  crc32_combine(crc32_of(A), crc32_of(B),
// size of B) is crc32_of(A B), and crc32_combine(crc, crc32_of(B), size of B)
// is crc32_update(crc, B) for any crc.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, size_t size_b);

// The same for many pieces of one length, at four table lookups a piece:
// what one to four pieces' worth of bytes do to a CRC, kept for that length.
struct crc32_shift
{
    size_t size; // the length it was made for
    // Whether the processor's carry-less multiplication moves CRCs on (set
    // where it has it; a test may clear it to run the tables).
    bool carry_less;
    // Whether it has them on 256-bit registers too (VPCLMULQDQ and AVX2),
    // four products an instruction pair; a test may clear it likewise.
    bool wide_carry_less;
    uint64_t factors[32]; // [n]: x^(8 (n + 1) size) modulo the polynomial, reflected, one bit up
    uint64_t step_factors[32]; // [j]: the factor of the j-th of 32 pieces, moved on by those after it
    uint32_t table[4][4][256]; // [n][k][b]: byte b in place k of a CRC, moved on by (n + 1) `size` zero bytes
};
void crc32_make_shift(crc32_shift *shift, size_t size);
// crc32_update(crc, ...) over `count` pieces of shift->size bytes each, given
// each piece's crc32_of in `piece_crcs`.
uint32_t crc32_append_pieces(uint32_t crc, const uint32_t *piece_crcs, size_t count, const crc32_shift *shift);

// The ways of computing it, for tests and benchmarks.
enum crc32_method
{
    _crc32_bytewise = 0, // one table lookup per byte: the reference, runs anywhere
    _crc32_slicing_by_8, // eight bytes a step through eight tables, runs anywhere
    _crc32_slicing_by_16, // sixteen bytes a step through sixteen tables, runs anywhere
    _crc32_folding, // carry-less multiplication, 64 bytes a step (x86-64 with PCLMULQDQ and SSE4.1)
    _crc32_wide_folding, // the same on 256-bit registers, 128 bytes a step (x86-64 with VPCLMULQDQ and AVX2)
    NUMBER_OF_CRC32_METHODS
};

// Whether this processor runs the method (checked at run time).
bool crc32_method_is_available(crc32_method method);
// "bytewise", "slicing_by_8"...; "unknown" for a value outside the enum.
const char *crc32_method_name(crc32_method method);
// The method crc32_update uses for long inputs on this processor.
crc32_method crc32_fastest_method(void);
// crc32_update by one method.  A method this processor cannot run, or a value
// outside the enum, is refused with a logged assertion and gives the
// bytewise result, so a caller never executes an unsupported instruction.
uint32_t crc32_update_by_method(crc32_method method, uint32_t crc, const void *data, size_t size);
