// CRC-32, reflected IEEE polynomial, computed four ways that agree bit for
// bit: one table lookup per byte (the reference), eight or sixteen bytes a
// step through derived tables ("slicing"), and, on x86-64 processors that
// have it, carry-less multiplication that folds 64 or 128 bytes a step into a
// few registers and reduces them to 32 bits at the end.  The folding code is
// compiled for its instructions by target attributes and only runs after the
// processor said it has them, so the rest of the build needs no -m flags.
//
// Every kernel works on the running register (the complement of a finished
// CRC); crc32_update complements on the way in and out.

#include "cseries/crc.h"

#include <atomic>
#include <bit>
#include <cstring>

#include "cseries/log.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define CRC_HAS_FOLDING 1
#include <immintrin.h>
#else
#define CRC_HAS_FOLDING 0
#endif

// ---- tables ------------------------------------------------------------------------

constexpr int CRC_SLICES = 16;
constexpr uint32_t REFLECTED_POLYNOMIAL = 0xEDB88320u;

struct crc_tables
{
    uint32_t entries[CRC_SLICES][256]; // [k][b]: the register after byte b followed by k zero bytes
};

static constexpr crc_tables make_crc_tables(void)
{
    crc_tables tables{};
    for (uint32_t byte = 0; byte < 256; byte++)
    {
        uint32_t value = byte;
        for (int bit = 0; bit < 8; bit++) value = (value & 1) ? (value >> 1) ^ REFLECTED_POLYNOMIAL : value >> 1;
        tables.entries[0][byte] = value;
    }
    for (int k = 1; k < CRC_SLICES; k++)
        for (uint32_t byte = 0; byte < 256; byte++)
        {
            const uint32_t previous = tables.entries[k - 1][byte];
            tables.entries[k][byte] = (previous >> 8) ^ tables.entries[0][previous & 0xFF];
        }
    return tables;
}

static constexpr crc_tables crc_tables_of_polynomial = make_crc_tables();

// The method chosen for long inputs; NONE until the first one asks.  Every
// thread that races to choose chooses the same.
static struct crc_globals
{
    std::atomic<int32_t> fastest_method;
} crc_globals = {{-1}};

// ---- portable kernels ------------------------------------------------------------------

static uint32_t bytewise_kernel(uint32_t value, const uint8_t *bytes, size_t size)
{
    const uint32_t *t = crc_tables_of_polynomial.entries[0];
    for (; size; size--, bytes++) value = t[(value ^ *bytes) & 0xFF] ^ (value >> 8);
    return value;
}

// Eight bytes as a little-endian number, whatever the host's order and alignment.
static inline uint64_t load_le64(const uint8_t *bytes)
{
    uint64_t word;
    memcpy(&word, bytes, sizeof(word));
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

static uint32_t slicing_by_8_kernel(uint32_t value, const uint8_t *bytes, size_t size)
{
    const uint32_t(*const t)[256] = crc_tables_of_polynomial.entries;
    for (; size >= 8; size -= 8, bytes += 8)
    {
        const uint64_t word = load_le64(bytes) ^ value;
        value = t[7][word & 0xFF] ^ t[6][(word >> 8) & 0xFF] ^ t[5][(word >> 16) & 0xFF] ^ t[4][(word >> 24) & 0xFF] ^
                t[3][(word >> 32) & 0xFF] ^ t[2][(word >> 40) & 0xFF] ^ t[1][(word >> 48) & 0xFF] ^ t[0][word >> 56];
    }
    return bytewise_kernel(value, bytes, size);
}

static uint32_t slicing_by_16_kernel(uint32_t value, const uint8_t *bytes, size_t size)
{
    const uint32_t(*const t)[256] = crc_tables_of_polynomial.entries;
    for (; size >= 16; size -= 16, bytes += 16)
    {
        const uint64_t low = load_le64(bytes) ^ value, high = load_le64(bytes + 8);
        value = t[15][low & 0xFF] ^ t[14][(low >> 8) & 0xFF] ^ t[13][(low >> 16) & 0xFF] ^ t[12][(low >> 24) & 0xFF] ^
                t[11][(low >> 32) & 0xFF] ^ t[10][(low >> 40) & 0xFF] ^ t[9][(low >> 48) & 0xFF] ^ t[8][low >> 56] ^
                t[7][high & 0xFF] ^ t[6][(high >> 8) & 0xFF] ^ t[5][(high >> 16) & 0xFF] ^
                t[4][(high >> 24) & 0xFF] ^ t[3][(high >> 32) & 0xFF] ^ t[2][(high >> 40) & 0xFF] ^
                t[1][(high >> 48) & 0xFF] ^ t[0][high >> 56];
    }
    return slicing_by_8_kernel(value, bytes, size);
}

// ---- folding constants ---------------------------------------------------------------------
// Folding moves a 128-bit piece of the message D bits further on by
// multiplying its two halves by x^(D+32) and x^(D-32) modulo the polynomial
// (bit-reflected, one bit up, as the reflected carry-less product needs);
// Barrett reduction then takes the last 64 bits down to 32 with the
// quotient x^64 / P and P itself.  All of them are derived here from the
// polynomial alone.

static constexpr uint64_t FULL_POLYNOMIAL = 0x104C11DB7ull; // x^32 + ... + 1, unreflected

static constexpr uint64_t reflect_bits(uint64_t value, int bits)
{
    uint64_t result = 0;
    for (int i = 0; i < bits; i++)
        if (value >> i & 1) result |= 1ull << (bits - 1 - i);
    return result;
}

// x^n modulo the polynomial, unreflected.
static constexpr uint64_t x_power_modulo(int n)
{
    uint64_t remainder = 1;
    for (int i = 0; i < n; i++)
    {
        remainder <<= 1;
        if (remainder >> 32 & 1) remainder ^= FULL_POLYNOMIAL;
    }
    return remainder;
}

// The constant that moves a half by `distance` bits.
static constexpr uint64_t folding_constant(int distance) { return reflect_bits(x_power_modulo(distance), 32) << 1; }

// The quotient of x^64 by the polynomial, reflected over its 33 bits.
static constexpr uint64_t barrett_quotient(void)
{
    // Long division of x^64: each step clears the top bit of what is left.
    uint64_t quotient = 0, left_high = 1, left_low = 0; // x^64 as a 65-bit number
    for (int bit = 32; bit >= 0; bit--)
    {
        // The coefficient of x^(32 + bit) of what is left.
        const uint64_t top = bit == 32 ? left_high : (left_low >> (32 + bit)) & 1;
        if (!top) continue;
        quotient |= 1ull << bit;
        if (bit == 32) left_high = 0;
        left_low ^= FULL_POLYNOMIAL << bit;
    }
    return reflect_bits(quotient, 33);
}

struct folding_constants
{
    uint64_t by_512[2], by_128[2], by_64, barrett[2]; // barrett: P reflected, then the quotient
    uint64_t by_1024[2], by_256[2]; // for the 256-bit registers
};

static constexpr folding_constants crc_folding = {
    {folding_constant(512 + 32), folding_constant(512 - 32)},
    {folding_constant(128 + 32), folding_constant(128 - 32)},
    folding_constant(64),
    {reflect_bits(FULL_POLYNOMIAL, 33), barrett_quotient()},
    {folding_constant(1024 + 32), folding_constant(1024 - 32)},
    {folding_constant(256 + 32), folding_constant(256 - 32)},
};
// The published values for this polynomial: a slip in the derivation stops the build.
static_assert(crc_folding.by_512[0] == 0x154442BD4ull && crc_folding.by_512[1] == 0x1C6E41596ull);
static_assert(crc_folding.by_128[0] == 0x1751997D0ull && crc_folding.by_128[1] == 0x0CCAA009Eull);
static_assert(crc_folding.by_64 == 0x163CD6124ull);
static_assert(crc_folding.barrett[0] == 0x1DB710641ull && crc_folding.barrett[1] == 0x1F7011641ull);

// ---- folding kernels -------------------------------------------------------------------------

#if CRC_HAS_FOLDING

#define CRC_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))
#define CRC_WIDE_FOLDING_TARGET __attribute__((target("pclmul,sse4.1,avx2,vpclmulqdq")))

// `x` moved 128 bits on, plus the next 16 bytes `next`.
CRC_FOLDING_TARGET static inline __m128i fold_128(__m128i x, __m128i next, __m128i constants)
{
    const __m128i low = _mm_clmulepi64_si128(x, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(x, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Folds the remaining whole 16-byte pieces into `x` (the message so far,
// moved to its last 128 bits), reduces it to the register and runs the last
// bytes through the tables.
CRC_FOLDING_TARGET static inline uint32_t finish_folding(__m128i x, const uint8_t *bytes, size_t size)
{
    const __m128i by_128 = _mm_loadu_si128((const __m128i *)crc_folding.by_128);
    for (; size >= 16; size -= 16, bytes += 16) x = fold_128(x, _mm_loadu_si128((const __m128i *)bytes), by_128);

    // 128 bits to 64: the low half moved 64 bits on, onto the high half.
    const __m128i low_32_mask = _mm_setr_epi32(-1, 0, -1, 0);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, by_128, 0x10));
    // 64 bits to 32 + 32 more: the low word moved 32 bits on.
    const __m128i by_64 = _mm_loadl_epi64((const __m128i *)&crc_folding.by_64);
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low_32_mask), by_64, 0x00));
    // Barrett reduction to the 32-bit register.
    const __m128i barrett = _mm_loadu_si128((const __m128i *)crc_folding.barrett);
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low_32_mask), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low_32_mask), barrett, 0x00);
    const uint32_t value = (uint32_t)_mm_extract_epi32(_mm_xor_si128(x, t), 1);
    return slicing_by_8_kernel(value, bytes, size);
}

// Four 128-bit lanes, 64 bytes a step.  At least 64 bytes.
CRC_FOLDING_TARGET static uint32_t folding_kernel(uint32_t value, const uint8_t *bytes, size_t size)
{
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128((const __m128i *)bytes), _mm_cvtsi32_si128((int)value));
    __m128i x1 = _mm_loadu_si128((const __m128i *)(bytes + 16));
    __m128i x2 = _mm_loadu_si128((const __m128i *)(bytes + 32));
    __m128i x3 = _mm_loadu_si128((const __m128i *)(bytes + 48));
    bytes += 64;
    size -= 64;
    const __m128i by_512 = _mm_loadu_si128((const __m128i *)crc_folding.by_512);
    for (; size >= 64; size -= 64, bytes += 64)
    {
        x0 = fold_128(x0, _mm_loadu_si128((const __m128i *)bytes), by_512);
        x1 = fold_128(x1, _mm_loadu_si128((const __m128i *)(bytes + 16)), by_512);
        x2 = fold_128(x2, _mm_loadu_si128((const __m128i *)(bytes + 32)), by_512);
        x3 = fold_128(x3, _mm_loadu_si128((const __m128i *)(bytes + 48)), by_512);
    }
    const __m128i by_128 = _mm_loadu_si128((const __m128i *)crc_folding.by_128);
    x1 = fold_128(x0, x1, by_128);
    x2 = fold_128(x1, x2, by_128);
    x3 = fold_128(x2, x3, by_128);
    return finish_folding(x3, bytes, size);
}

// Each 128-bit lane of `x` moved on by the distance of `constants`, plus `next`.
CRC_WIDE_FOLDING_TARGET static inline __m256i fold_256(__m256i x, __m256i next, __m256i constants)
{
    const __m256i low = _mm256_clmulepi64_epi128(x, constants, 0x00);
    const __m256i high = _mm256_clmulepi64_epi128(x, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

CRC_WIDE_FOLDING_TARGET static inline __m256i broadcast_constants(const uint64_t pair[2])
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i *)pair));
}

// Four 256-bit lanes, 128 bytes a step.  At least 128 bytes.
CRC_WIDE_FOLDING_TARGET static uint32_t wide_folding_kernel(uint32_t value, const uint8_t *bytes, size_t size)
{
    __m256i x0 = _mm256_xor_si256(_mm256_loadu_si256((const __m256i *)bytes),
                                  _mm256_zextsi128_si256(_mm_cvtsi32_si128((int)value)));
    __m256i x1 = _mm256_loadu_si256((const __m256i *)(bytes + 32));
    __m256i x2 = _mm256_loadu_si256((const __m256i *)(bytes + 64));
    __m256i x3 = _mm256_loadu_si256((const __m256i *)(bytes + 96));
    bytes += 128;
    size -= 128;
    const __m256i by_1024 = broadcast_constants(crc_folding.by_1024);
    for (; size >= 128; size -= 128, bytes += 128)
    {
        x0 = fold_256(x0, _mm256_loadu_si256((const __m256i *)bytes), by_1024);
        x1 = fold_256(x1, _mm256_loadu_si256((const __m256i *)(bytes + 32)), by_1024);
        x2 = fold_256(x2, _mm256_loadu_si256((const __m256i *)(bytes + 64)), by_1024);
        x3 = fold_256(x3, _mm256_loadu_si256((const __m256i *)(bytes + 96)), by_1024);
    }
    const __m256i by_256 = broadcast_constants(crc_folding.by_256);
    x1 = fold_256(x0, x1, by_256);
    x2 = fold_256(x1, x2, by_256);
    x3 = fold_256(x2, x3, by_256);
    // The two halves of the last register: the earlier one moved 128 bits on.
    const __m128i by_128 = _mm_loadu_si128((const __m128i *)crc_folding.by_128);
    const __m128i x = fold_128(_mm256_castsi256_si128(x3), _mm256_extracti128_si256(x3, 1), by_128);
    return finish_folding(x, bytes, size);
}

#endif

// ---- choosing --------------------------------------------------------------------------------

typedef uint32_t (*crc_kernel)(uint32_t value, const uint8_t *bytes, size_t size);

static const struct
{
    const char *name;
    crc_kernel kernel;
    size_t minimum_size; // below this the kernel hands over to slicing by 8
} crc_methods[NUMBER_OF_CRC32_METHODS] = {
    {"bytewise", bytewise_kernel, 0},
    {"slicing_by_8", slicing_by_8_kernel, 0},
    {"slicing_by_16", slicing_by_16_kernel, 0},
#if CRC_HAS_FOLDING
    {"folding", folding_kernel, 64},
    {"wide_folding", wide_folding_kernel, 128},
#else
    {"folding", nullptr, 0},
    {"wide_folding", nullptr, 0},
#endif
};

bool crc32_method_is_available(crc32_method method)
{
#if CRC_HAS_FOLDING
    // A static initializer may be the first caller, before the runtime has
    // asked the processor; asking again is harmless.
    __builtin_cpu_init();
#endif
    switch (method)
    {
    case _crc32_bytewise:
    case _crc32_slicing_by_8:
    case _crc32_slicing_by_16: return true;
#if CRC_HAS_FOLDING
    case _crc32_folding: return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    case _crc32_wide_folding:
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") &&
               __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
#endif
    default: return false;
    }
}

const char *crc32_method_name(crc32_method method)
{
    return method >= 0 && method < NUMBER_OF_CRC32_METHODS ? crc_methods[method].name : "unknown";
}

crc32_method crc32_fastest_method(void)
{
    int32_t method = crc_globals.fastest_method.load(std::memory_order_relaxed);
    if (method < 0)
    {
        // Wider folding first; sixteen-byte slicing runs everywhere.
        method = _crc32_slicing_by_16;
        for (crc32_method candidate : {_crc32_wide_folding, _crc32_folding})
            if (crc32_method_is_available(candidate))
            {
                method = candidate;
                break;
            }
        crc_globals.fastest_method.store(method, std::memory_order_relaxed);
    }
    return (crc32_method)method;
}

static uint32_t run_method(crc32_method method, uint32_t crc, const void *data, size_t size)
{
    const uint8_t *bytes = (const uint8_t *)data;
    // The running register is the complement of a finished CRC, so a result
    // can be fed back in to continue.
    const uint32_t value = ~crc;
    if (size < crc_methods[method].minimum_size)
    {
#if CRC_HAS_FOLDING
        // Too short for the 256-bit registers, long enough for the 128-bit
        // ones (a record's 64 to 127 bytes): both run on the same processors.
        if (method == _crc32_wide_folding && size >= crc_methods[_crc32_folding].minimum_size)
            return ~folding_kernel(value, bytes, size);
#endif
        return ~slicing_by_8_kernel(value, bytes, size);
    }
    return ~crc_methods[method].kernel(value, bytes, size);
}

uint32_t crc32_update(uint32_t crc, const void *data, size_t size)
{
    // Short pieces (a field of the state hash, a tag header) gain nothing from folding.
    if (size < 64) return ~slicing_by_8_kernel(~crc, (const uint8_t *)data, size);
    return run_method(crc32_fastest_method(), crc, data, size);
}

uint32_t crc32_update_by_method(crc32_method method, uint32_t crc, const void *data, size_t size)
{
    if (!VASSERT(method >= 0 && method < NUMBER_OF_CRC32_METHODS && crc32_method_is_available(method),
                 "crc32 method not run by this processor"))
        method = _crc32_bytewise;
    return run_method(method, crc, data, size);
}

// ---- combination ----------------------------------------------------------------------
// A finished CRC is linear in its bytes apart from the complements on the way
// in and out, and they cancel: crc32_update(a, B) = Z(a) ^ crc32_of(B), where
// Z is what |B| zero bytes do to a running register (a register of 0 stays 0
// through them).  Z is multiplication by x^(8 |B|) modulo the polynomial, in
// the reflected bit order: bit 31 of a register is x^0.

// a * b modulo the polynomial, both reflected.
static uint32_t multiply_modulo(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t bit = 1u << 31; bit; bit >>= 1)
    {
        if (a & bit) product ^= b;
        b = (b & 1) ? (b >> 1) ^ REFLECTED_POLYNOMIAL : b >> 1;
    }
    return product;
}

// x^(8 size) modulo the polynomial, reflected, by squaring.
static uint32_t power_of_zero_bytes(size_t size)
{
    uint32_t result = 1u << 31; // x^0
    uint32_t square = 1u << 23; // x^8: one byte
    for (; size; size >>= 1)
    {
        if (size & 1) result = multiply_modulo(result, square);
        square = multiply_modulo(square, square);
    }
    return result;
}

uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, size_t size_b)
{
    return multiply_modulo(crc_a, power_of_zero_bytes(size_b)) ^ crc_b;
}

void crc32_make_shift(crc32_shift *shift, size_t size)
{
    shift->size = size;
    shift->carry_less = crc32_method_is_available(_crc32_folding);
    shift->wide_carry_less = crc32_method_is_available(_crc32_wide_folding);
    const uint32_t power = power_of_zero_bytes(size);
    uint32_t powers = power;
    for (int n = 0; n < 32; n++, powers = multiply_modulo(powers, power))
    {
        shift->factors[n] = (uint64_t)powers << 1;
        if (n >= 4) continue;
        uint32_t bits[32]; // bit i of a register, moved on
        for (int i = 0; i < 32; i++) bits[i] = multiply_modulo(1u << i, powers);
        for (int k = 0; k < 4; k++)
            for (uint32_t byte = 0; byte < 256; byte++)
            {
                uint32_t value = 0;
                for (int i = 0; i < 8; i++)
                    if (byte & (1u << i)) value ^= bits[8 * k + i];
                shift->table[n][k][byte] = value;
            }
    }
    // The last piece of a step is not moved on: x^0, one bit up.
    for (int j = 0; j < 31; j++) shift->step_factors[j] = shift->factors[30 - j];
    shift->step_factors[31] = (uint64_t)1 << 32;
}

static inline uint32_t moved_on(const uint32_t (*t)[256], uint32_t crc)
{
    return t[0][crc & 0xFF] ^ t[1][(crc >> 8) & 0xFF] ^ t[2][(crc >> 16) & 0xFF] ^ t[3][crc >> 24];
}

// Four pieces a step: the running CRC moves on by all four at once while
// the first three pieces' CRCs move on beside it, so the chain from step to
// step is one lookup deep instead of four.
static uint32_t append_pieces_by_tables(uint32_t crc, const uint32_t *piece_crcs, size_t count,
                                        const crc32_shift *shift)
{
    const uint32_t(*const t)[4][256] = shift->table;
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        crc = moved_on(t[3], crc) ^ moved_on(t[2], piece_crcs[i]) ^ moved_on(t[1], piece_crcs[i + 1]) ^
              moved_on(t[0], piece_crcs[i + 2]) ^ piece_crcs[i + 3];
    for (; i < count; i++) crc = moved_on(t[0], crc) ^ piece_crcs[i];
    return crc;
}

#if CRC_HAS_FOLDING
// Sixteen pieces a step: each piece's CRC multiplied by its power of x
// without reduction (a carry-less product of a register and a factor one
// bit up is the 64-bit reflected product) and summed as a tree, which does
// not wait for the running CRC; then the running CRC's product joins the
// sum, which is reduced once: the high half is the low-order part as it
// stands, the low half is x^32 times a register, which four zero bytes
// reduce.  The chain from step to step is one product, one sum and one
// reduction long.
CRC_FOLDING_TARGET static uint32_t append_pieces_by_folding(uint32_t crc, const uint32_t *piece_crcs, size_t count,
                                                            const crc32_shift *shift)
{
    const uint32_t(*const t)[256] = crc_tables_of_polynomial.entries;
    enum { STEP = 16 };
    const uint64_t *const factors = shift->factors;
    auto product = [factors](uint32_t value, int power) __attribute__((always_inline, target("pclmul,sse4.1")))
    {
        return _mm_clmulepi64_si128(_mm_cvtsi32_si128((int)value), _mm_loadl_epi64((const __m128i *)&factors[power]),
                                    0x00);
    };
    size_t i = 0;
    for (; i + STEP <= count; i += STEP)
    {
        const uint32_t *p = piece_crcs + i;
        // Piece j moves on by the STEP - 1 - j pieces after it.
        __m128i a = _mm_xor_si128(product(p[0], 14), product(p[1], 13));
        __m128i b = _mm_xor_si128(product(p[2], 12), product(p[3], 11));
        __m128i c = _mm_xor_si128(product(p[4], 10), product(p[5], 9));
        __m128i d = _mm_xor_si128(product(p[6], 8), product(p[7], 7));
        a = _mm_xor_si128(a, _mm_xor_si128(product(p[8], 6), product(p[9], 5)));
        b = _mm_xor_si128(b, _mm_xor_si128(product(p[10], 4), product(p[11], 3)));
        c = _mm_xor_si128(c, _mm_xor_si128(product(p[12], 2), product(p[13], 1)));
        d = _mm_xor_si128(d, product(p[14], 0));
        const __m128i pieces = _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
        const uint64_t sum = (uint64_t)_mm_cvtsi128_si64(_mm_xor_si128(pieces, product(crc, STEP - 1)));
        const uint32_t low = (uint32_t)sum;
        crc = (uint32_t)(sum >> 32) ^ t[3][low & 0xFF] ^ t[2][(low >> 8) & 0xFF] ^ t[1][(low >> 16) & 0xFF] ^
              t[0][low >> 24] ^ p[STEP - 1];
    }
    return append_pieces_by_tables(crc, piece_crcs + i, count - i, shift);
}

// The same on 256-bit registers, 32 pieces a step: four pieces' CRCs
// widened to 64 bits each and multiplied by their four factors in two
// instructions, the eight factor registers kept from step to step, instead
// of a move from a general register, a load of the factor and a product for
// each piece; and half the steps, whose chain (the running CRC's product
// and reduction) set the pace.  The last piece's factor is x^0, which puts
// it in the high half as the step above adds it.
CRC_WIDE_FOLDING_TARGET static inline __m256i four_products(const uint32_t *four, __m256i four_factors)
{
    const __m256i pieces = _mm256_cvtepu32_epi64(_mm_loadu_si128((const __m128i *)four));
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(pieces, four_factors, 0x00),
                            _mm256_clmulepi64_epi128(pieces, four_factors, 0x11));
}

CRC_WIDE_FOLDING_TARGET static uint32_t append_pieces_by_wide_folding(uint32_t crc, const uint32_t *piece_crcs,
                                                                      size_t count, const crc32_shift *shift)
{
    const uint32_t(*const t)[256] = crc_tables_of_polynomial.entries;
    enum { STEP = 32 };
    const __m256i *const factors = (const __m256i *)shift->step_factors;
    __m256i f[STEP / 4];
    for (int k = 0; k < STEP / 4; k++) f[k] = _mm256_loadu_si256(factors + k);
    const __m128i running = _mm_loadl_epi64((const __m128i *)&shift->factors[STEP - 1]);
    size_t i = 0;
    for (; i + STEP <= count; i += STEP)
    {
        const uint32_t *p = piece_crcs + i;
        const __m256i a = _mm256_xor_si256(four_products(p, f[0]), four_products(p + 4, f[1]));
        const __m256i b = _mm256_xor_si256(four_products(p + 8, f[2]), four_products(p + 12, f[3]));
        const __m256i c = _mm256_xor_si256(four_products(p + 16, f[4]), four_products(p + 20, f[5]));
        const __m256i d = _mm256_xor_si256(four_products(p + 24, f[6]), four_products(p + 28, f[7]));
        const __m256i sums = _mm256_xor_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d));
        const __m128i pieces = _mm_xor_si128(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
        const uint64_t sum = (uint64_t)_mm_cvtsi128_si64(
            _mm_xor_si128(pieces, _mm_clmulepi64_si128(_mm_cvtsi32_si128((int)crc), running, 0x00)));
        const uint32_t low = (uint32_t)sum;
        crc = (uint32_t)(sum >> 32) ^ t[3][low & 0xFF] ^ t[2][(low >> 8) & 0xFF] ^ t[1][(low >> 16) & 0xFF] ^
              t[0][low >> 24];
    }
    // The rest sixteen at a time where it can, then by the tables.
    return append_pieces_by_folding(crc, piece_crcs + i, count - i, shift);
}
#endif

uint32_t crc32_append_pieces(uint32_t crc, const uint32_t *piece_crcs, size_t count, const crc32_shift *shift)
{
#if CRC_HAS_FOLDING
    if (shift->wide_carry_less && shift->carry_less)
        return append_pieces_by_wide_folding(crc, piece_crcs, count, shift);
    if (shift->carry_less) return append_pieces_by_folding(crc, piece_crcs, count, shift);
#endif
    return append_pieces_by_tables(crc, piece_crcs, count, shift);
}

#undef CRC_HAS_FOLDING
#undef CRC_FOLDING_TARGET
#undef CRC_WIDE_FOLDING_TARGET
