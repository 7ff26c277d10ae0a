#pragma once
// The kept records of the state hash: the copies, CRCs and byte tables that
// let a record array's hash follow only what changed.  Apart from the hash's
// own header because of the vector instructions its passes compare with,
// whose headers cost every file that includes them most of a second to
// compile: only the modules that keep records include this one.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cseries/crc.h"
#include "state_hash.h"
#include "tag_files/data.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// ---- kept records ------------------------------------------------------------
// A record array whose hashed bytes are a function of the slot and of the
// record's own bytes alone keeps, per slot, a copy of the record and the CRC
// of the bytes it gave.  A record equal to its copy byte for byte (the arrows
// lying on the ground, the scenery, the resting dead) is neither written nor
// read by the CRC again.  Any write to a record, by whichever code, changes
// its bytes, so no writer has to report a change.  Every kept CRC joins the
// others by CRC combination, which gives the value the bytes themselves
// would.  The cache is local, never hashed, and may be forgotten at any time.
//
// A record that changed is not written out again either.  The CRC is linear:
// for two byte strings of one length, crc(A) ^ crc(B) depends on A ^ B alone.
// A writer that only moves, swaps, sign- or zero-extends and masks the
// record's bits (each hashed bit the XOR of record bits, plus what the slot
// alone gives) keeps that linearity, so the new CRC is the kept one XOR what
// each byte that differs from the copy contributes, looked up in two tables
// of 16 entries per record byte, one per half of the byte: the few places a
// tick changes then stay in the first-level cache, where a table of all 256
// values per byte (hundreds of kilobytes) missed after the tick had run
// through its own data.  The tables are made once by writing probe records,
// and proved on random ones; a writer they do not describe (a condition, a
// lookup) is logged and has its changed records written out as before.

// What a record byte of value v adds to the CRC of the hashed bytes:
// low[v & 15] ^ high[v >> 4].  One cache line each.
struct alignas(64) state_hash_byte_table
{
    uint32_t low[16];
    uint32_t high[16];
};

struct state_hash_record_cache
{
    // The copies, one record size each; a slot without one holds zeros.
    std::vector<uint8_t> records;
    std::vector<uint32_t> crcs; // crc32_of the bytes each copy gave (where there is one)
    std::vector<uint32_t> gathered; // one pass's CRCs in slot order
    crc32_shift shift = {}; // for the hashed size (size 0 until the first pass)
    // What each byte of the record adds to the CRC of the hashed bytes, and
    // a bit per record byte (64 a word) for the bytes any hashed byte
    // depends on.  Kept across maps: they depend on the writer alone.
    std::vector<state_hash_byte_table> byte_tables;
    std::vector<uint64_t> hashed_bytes;
    int8_t linear = -1; // whether the tables describe the writer; -1: not probed yet
    // Whether the next pass renews every used record with a kept copy
    // without first asking whether it differs: set when a third of the used
    // records changed in the last pass (two thirds for records shorter than
    // 128 bytes) -- the units of a moving battle, most of which change each
    // tick -- where the question costs more than the empty renewal of the
    // few that did not.  The value is the same either way.
    bool renews_every_record = false;
    // Test seam: a slot whose record counts as unchanged (its copy and CRC
    // are not renewed), NONE without one.
    int32_t fault_slot = NONE;

    void forget(void)
    {
        records.clear();
        crcs.clear();
    }
};

// Whether this pass writes every record afresh (the checker's pass), so that
// no kept CRC is used or renewed.
bool state_hash_writes_afresh(void);
// Hands the CRC whatever was added to `hash` and waits in a batch, so that
// *hash is the CRC of everything added so far.
void state_hash_flush(uint32_t *hash);
// Makes room in `cache` for `count` slots of `record_size` bytes hashed as `hash_size`.
void prepare_state_hash_record_cache(state_hash_record_cache *cache, int32_t count, size_t record_size,
                                     size_t hash_size);

// Writes the hashed bytes of the record at `record` (of slot 0) to `out`.
typedef void (*state_hash_probe_writer)(const void *context, const uint8_t *record, uint8_t *out);
// Makes cache->byte_tables and hashed_bytes by writing probe records of
// `record_size` bytes, and sets cache->linear (logged when the writer is not
// linear).
void make_state_hash_byte_tables(state_hash_record_cache *cache, size_t record_size, size_t hash_size,
                                 const void *context, state_hash_probe_writer write);

// Whether the passes compare records 32 bytes at a time (on a processor with
// AVX2; 16 otherwise): on from the start where the processor has it.  The
// value is the same either way.  Asking for it where the processor lacks
// AVX2 leaves it off; returns whether it is on.
bool set_state_hash_wide_comparison(bool on);
bool state_hash_compares_wide(void);

// 32 bytes as one vector: inlined into a procedure compiled for AVX2, one
// register; elsewhere the compiler makes two of 16 bytes.
typedef uint64_t state_hash_vector __attribute__((vector_size(32)));

// Whether the records at `a` and `b` (SIZE bytes each, at least 16) differ.
// The last 32 bytes are read as such, over some already compared; a record
// shorter than 32 bytes is read as its first and its last 16.
template <size_t SIZE>
inline __attribute__((always_inline)) bool state_hash_records_differ(const uint8_t *a, const uint8_t *b)
{
    static_assert(SIZE >= 16);
    if constexpr (SIZE < 32)
    {
        typedef uint64_t half __attribute__((vector_size(16)));
        half x, y, z, w;
        memcpy(&x, a, sizeof(x));
        memcpy(&y, b, sizeof(y));
        memcpy(&z, a + SIZE - 16, sizeof(z));
        memcpy(&w, b + SIZE - 16, sizeof(w));
        const half difference = (x ^ y) | (z ^ w);
        return (difference[0] | difference[1]) != 0;
    }
    else
    {
        constexpr size_t WHOLE = SIZE / 32 * 32;
        state_hash_vector difference = {};
        auto compare = [&](size_t offset) __attribute__((always_inline))
        {
            state_hash_vector x, y;
            memcpy(&x, a + offset, sizeof(x));
            memcpy(&y, b + offset, sizeof(y));
            difference |= x ^ y;
        };
#pragma GCC unroll 16
        for (size_t offset = 0; offset < WHOLE; offset += 32) compare(offset);
        if constexpr (WHOLE < SIZE) compare(SIZE - 32);
        return (difference[0] | difference[1] | difference[2] | difference[3]) != 0;
    }
}

#if defined(__x86_64__)
// The same in the passes compiled for AVX2 (SIZE at least 32), ending in one
// test of the joined difference instead of four lanes taken out and joined.
// Not always_inline: a function of another target may not inline it, and
// the passes compiled for AVX2 do.
template <size_t SIZE>
inline __attribute__((target("avx2"))) bool state_hash_records_differ_wide(const uint8_t *a, const uint8_t *b)
{
    static_assert(SIZE >= 32);
    constexpr size_t WHOLE = SIZE / 32 * 32;
    __m256i difference = _mm256_setzero_si256();
#pragma GCC unroll 16
    for (size_t offset = 0; offset < SIZE; offset += 32)
    {
        // The last 32 bytes are read as such, over some already compared.
        const size_t start = offset < WHOLE ? offset : SIZE - 32;
        difference = _mm256_or_si256(difference, _mm256_xor_si256(_mm256_loadu_si256((const __m256i *)(a + start)),
                                                                   _mm256_loadu_si256((const __m256i *)(b + start))));
    }
    return !_mm256_testz_si256(difference, difference);
}
#endif

// Sets bit b of differing[b / 64] for each byte b at which the records at
// `record` and `copy` (SIZE bytes, at least 16) differ.  The last chunk is
// read as the record's last 16 bytes, over some of the chunk before.
template <size_t SIZE>
inline __attribute__((always_inline)) void state_hash_find_differing_bytes(const uint8_t *record, const uint8_t *copy,
                                                                          uint64_t *differing)
{
    constexpr size_t CHUNKS = (SIZE + 15) / 16;
#if defined(__SSE2__)
#pragma GCC unroll 32
    for (size_t chunk = 0; chunk < CHUNKS; ++chunk)
    {
        const size_t start = chunk + 1 < CHUNKS ? 16 * chunk : SIZE - 16;
        const __m128i same = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(record + start)),
                                            _mm_loadu_si128((const __m128i *)(copy + start)));
        uint32_t differs = ~(uint32_t)_mm_movemask_epi8(same) & 0xFFFFu;
        if (chunk + 1 == CHUNKS) differs >>= 16 * chunk - start;
        differing[chunk / 4] |= (uint64_t)differs << (16 * (chunk % 4));
    }
#else
    for (size_t byte = 0; byte < SIZE; ++byte)
        differing[byte / 64] |= (uint64_t)(record[byte] != copy[byte]) << (byte % 64);
#endif
}

#if defined(__x86_64__)
// The same 32 bytes at a time (SIZE at least 32), for the passes compiled
// for AVX2: half the compares and masks a changed unit paid.
template <size_t SIZE>
inline __attribute__((target("avx2"))) void state_hash_find_differing_bytes_wide(const uint8_t *record,
                                                                                const uint8_t *copy,
                                                                                uint64_t *differing)
{
    static_assert(SIZE >= 32);
    constexpr size_t CHUNKS = (SIZE + 31) / 32;
#pragma GCC unroll 32
    for (size_t chunk = 0; chunk < CHUNKS; ++chunk)
    {
        const size_t start = chunk + 1 < CHUNKS ? 32 * chunk : SIZE - 32;
        const __m256i same = _mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)(record + start)),
                                               _mm256_loadu_si256((const __m256i *)(copy + start)));
        uint64_t differs = (uint32_t)~_mm256_movemask_epi8(same);
        if (chunk + 1 == CHUNKS) differs >>= 32 * chunk - start;
        differing[chunk / 2] |= differs << (32 * (chunk % 2));
    }
}
#endif

// Brings the copy of a record (SIZE bytes) up to date and returns what the
// change does to the CRC of the hashed bytes, from the cache's tables: two
// lookups per hashed byte that differs (a unit that walked changes a few of
// its hundreds).  The copy is written whole, at places known from the start:
// a few 4-byte stores at places found late held up the loads of the records
// after them.
// Adds 1 to *changed when any byte differed (hashed or not).
template <size_t SIZE, bool WIDE>
inline __attribute__((always_inline)) uint32_t state_hash_renew_copy(const state_hash_record_cache *cache,
                                                                     const uint8_t *record, uint8_t *copy,
                                                                     size_t *changed)
{
    constexpr size_t GROUPS = (SIZE + 63) / 64;
    uint64_t differing[GROUPS] = {}; // bit b: byte b differs
#if defined(__x86_64__)
    if constexpr (WIDE && SIZE >= 32) state_hash_find_differing_bytes_wide<SIZE>(record, copy, differing);
    else
#endif
        state_hash_find_differing_bytes<SIZE>(record, copy, differing);
    uint64_t any = 0;
    for (size_t group = 0; group < GROUPS; ++group) any |= differing[group];
    *changed += any != 0;
    const state_hash_byte_table *tables = cache->byte_tables.data();
    const uint64_t *hashed = cache->hashed_bytes.data();
    uint32_t change = 0;
#pragma GCC unroll 8
    for (size_t group = 0; group < GROUPS; ++group)
        for (uint64_t bits = differing[group] & hashed[group]; bits; bits &= bits - 1)
        {
            const size_t byte = 64 * group + (size_t)__builtin_ctzll(bits);
            const unsigned value = record[byte] ^ copy[byte];
            change ^= tables[byte].low[value & 15] ^ tables[byte].high[value >> 4];
        }
    memcpy(copy, record, SIZE);
    return change;
}

// One pass over the slots of a kept array.
template <class Record, class Write> struct state_hash_kept_pass
{
    state_hash_record_cache *cache;
    datum_globals *array;
    int32_t count;
    const Write *write;
};

// A record seen the first time, or one whose writer the tables do not
// describe: its bytes written out and their CRC taken.
template <class Record, size_t HASH_SIZE, class Write>
__attribute__((noinline)) void state_hash_write_out_record(const state_hash_kept_pass<Record, Write> &pass,
                                                           int32_t index, const uint8_t *record, uint8_t *copy)
{
    uint8_t bytes[HASH_SIZE];
    (*pass.write)(index, (const Record *)record, bytes);
    pass.cache->crcs[index] = crc32_of(bytes, HASH_SIZE);
    memcpy(copy, record, sizeof(Record));
}

// Visits the slots of `pass`: renews the copy and CRC of each used one that
// differs from its copy, while both are fresh in the cache, and sets aside
// the CRC of every used one; returns how many it set aside.  Inlined into the
// two procedures below, one of them compiled for AVX2.
template <class Record, size_t HASH_SIZE, class Write, bool WIDE>
inline __attribute__((always_inline)) size_t state_hash_visit_kept_slots(const state_hash_kept_pass<Record, Write> &pass)
{
    constexpr size_t SIZE = sizeof(Record);
    state_hash_record_cache *const cache = pass.cache;
    uint32_t *const gathered = cache->gathered.data(), *const crcs = cache->crcs.data();
    uint8_t *const copies = cache->records.data();
    const int32_t fault_slot = cache->fault_slot;
    const bool linear = cache->linear > 0;
    const bool renews_every_record = cache->renews_every_record;
    size_t gathered_count = 0, changed_count = 0;
    auto visit = [&](int32_t index, const uint8_t *record) __attribute__((always_inline))
    {
        int16_t identifier;
        memcpy(&identifier, record, sizeof(identifier));
        const size_t used = identifier != 0;
        uint8_t *copy = copies + (size_t)index * SIZE;
        bool differs;
#if defined(__x86_64__)
        if constexpr (WIDE && SIZE >= 32)
            differs = used && (renews_every_record || state_hash_records_differ_wide<SIZE>(record, copy));
        else
#endif
            differs = used && (renews_every_record || state_hash_records_differ<SIZE>(record, copy));
        if (differs) [[unlikely]]
        {
            // A copy of all zeros is none (a used record's identifier is
            // not 0): the record is seen the first time.
            const bool kept = (copy[0] | copy[1]) != 0;
            if (kept && linear && index != fault_slot)
                crcs[index] ^= state_hash_renew_copy<SIZE, WIDE>(cache, record, copy, &changed_count);
            else if (!kept || index != fault_slot)
            {
                state_hash_write_out_record<Record, HASH_SIZE, Write>(pass, index, record, copy);
                ++changed_count;
            }
        }
        gathered[gathered_count] = crcs[index];
        gathered_count += used;
    };
    // Each block holds maximum_count slots one after another (a grown
    // array's later blocks too); a slot past them, which no used record has,
    // is found as get_datum finds it (a free one reads as a record of zeros,
    // which counts as free).
    static const Record free_record = {};
    datum_globals *const array = pass.array;
    const int32_t walked = pass.count < array->capacity ? pass.count : array->capacity;
    int32_t index = 0;
    for (int32_t block = 0; index < walked && block < array->block_count && array->blocks[block]; ++block)
    {
        const int32_t end = walked - index < array->maximum_count ? walked : index + array->maximum_count;
        const uint8_t *record = array->blocks[block];
        for (; index < end; ++index, record += SIZE) visit(index, record);
    }
    for (; index < pass.count; ++index)
    {
        const uint8_t *found = (const uint8_t *)get_datum(array, index);
        visit(index, found ? found : (const uint8_t *)&free_record);
    }
    // Changes are counted in a renewing pass too, so a battle that comes to
    // rest turns it off again.
    // Asking is cheap for a short record: it takes most of them changing.
    constexpr size_t SHARE = SIZE >= 128 ? 1 : 2; // thirds
    cache->renews_every_record = linear && gathered_count > 0 && 3 * changed_count >= SHARE * gathered_count;
    return gathered_count;
}

template <class Record, size_t HASH_SIZE, class Write>
__attribute__((noinline)) size_t state_hash_visit_kept_slots_narrow(const state_hash_kept_pass<Record, Write> &pass)
{
    return state_hash_visit_kept_slots<Record, HASH_SIZE, Write, false>(pass);
}

#if defined(__x86_64__)
template <class Record, size_t HASH_SIZE, class Write>
__attribute__((noinline, target("avx2"))) size_t state_hash_visit_kept_slots_wide(
    const state_hash_kept_pass<Record, Write> &pass)
{
    return state_hash_visit_kept_slots<Record, HASH_SIZE, Write, true>(pass);
}
#endif

// Adds the used records of `array`'s slots 0 to count - 1 (a free slot adds
// nothing), each as the HASH_SIZE bytes that `write(index, record, out)`
// writes.  A slot's record is written out once, the first time it is seen;
// after that its CRC follows its changes through the tables (above), and
// every CRC joins the hash by combination.  The value is the one writing
// every record's bytes in turn gives.
template <class Record, size_t HASH_SIZE, class Write>
void state_hash_add_kept_records(uint32_t *hash, state_hash_record_cache *cache, datum_globals *array, int32_t count,
                                 Write write)
{
    static_assert(offsetof(Record, identifier) == 0 && sizeof(Record{}.identifier) == 2);
    static_assert(alignof(Record) <= alignof(uint64_t), "probe records are made of 8-byte words");
    if (!array->blocks || count <= 0) return;
    if (!VASSERT(array->size == (int32_t)sizeof(Record), "state hash records of the wrong size")) return;
    if (state_hash_writes_afresh())
    {
        for (int32_t index = 0; index < count; ++index)
        {
            const Record *record = (const Record *)get_datum(array, index);
            if (!record) continue;
            uint8_t unbatched[HASH_SIZE];
            uint8_t *out = state_hash_begin_record(hash, HASH_SIZE, unbatched);
            write(index, record, out);
            state_hash_end_record(hash, out, out + HASH_SIZE, unbatched, HASH_SIZE);
        }
        return;
    }
    if (cache->linear < 0)
        make_state_hash_byte_tables(cache, sizeof(Record), HASH_SIZE, &write,
                                    [](const void *context, const uint8_t *record, uint8_t *out) {
                                        (*(const Write *)context)(0, (const Record *)record, out);
                                    });
    prepare_state_hash_record_cache(cache, count, sizeof(Record), HASH_SIZE);
    const state_hash_kept_pass<Record, Write> pass = {cache, array, count, &write};
#if defined(__x86_64__)
    const size_t gathered_count = state_hash_compares_wide()
                                      ? state_hash_visit_kept_slots_wide<Record, HASH_SIZE, Write>(pass)
                                      : state_hash_visit_kept_slots_narrow<Record, HASH_SIZE, Write>(pass);
#else
    const size_t gathered_count = state_hash_visit_kept_slots_narrow<Record, HASH_SIZE, Write>(pass);
#endif
    state_hash_flush(hash);
    *hash = crc32_append_pieces(*hash, cache->gathered.data(), gathered_count, &cache->shift);
}
