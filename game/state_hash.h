#pragma once
// A hash of the synchronized game: what every machine of a game (and every
// replay of its film) must agree on tick by tick.  It covers game time, the
// synchronized seed, the synchronized fields of the game record, and every
// record that a later subsystem registers (units, projectiles, objects...).
// Local state (local time, pause, speed, camera, selection, interface) is
// never part of it.
//
// The sync snapshots carry it, so a machine that drifted is caught even when
// its seed still agrees.

#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#include "cseries/crc.h"
#include "cseries/cseries.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

enum { MAXIMUM_STATE_HASH_PROCEDURES = 32 };

// Adds a subsystem's synchronized records to the hash through state_hash_add.
// It must feed the same bytes on every machine: fields in a fixed order, in a
// fixed byte order (state_hash_add_int32 writes big-endian), no pointers, no
// padding bytes, records in index order.
typedef void (*state_hash_procedure)(uint32_t *hash);

// Registered procedures run in registration order; registering one again
// changes nothing.  False (logged) when the table is full or the procedure is null.
bool register_state_hash_procedure(state_hash_procedure procedure);
void reset_state_hash_procedures(void);

void state_hash_add(uint32_t *hash, const void *data, size_t size);
void state_hash_add_int32(uint32_t *hash, int32_t value);
// The same bytes as state_hash_add_int32 on each of `count` values in turn,
// fed to the CRC in large pieces: the way to hash a record's fields.
void state_hash_add_int32s(uint32_t *hash, const int32_t *values, size_t count);

// Room for the next `size` bytes of the hash, for a procedure that writes a
// record's bytes in place instead of gathering them first: while
// compute_state_hash runs, a pointer into the bytes it gathers, which the
// caller fills (all `size` of them) before adding anything else.  Null for
// any other hash (a test hashing one subsystem) or for more than
// STATE_HASH_MAXIMUM_RESERVE bytes: the caller then writes the bytes
// elsewhere and adds them with state_hash_add.
enum { STATE_HASH_MAXIMUM_RESERVE = 8192 };
uint8_t *state_hash_reserve(uint32_t *hash, size_t size);

// A record written in place: its bytes go to the hash's room when there is
// some, else to the caller's `unbatched` buffer of `size` bytes, which
// state_hash_end_record then adds.  `end` is where the writing stopped: a
// record that did not fill exactly its size is a fault (asserted).
inline uint8_t *state_hash_begin_record(uint32_t *hash, size_t size, uint8_t *unbatched)
{
    uint8_t *out = state_hash_reserve(hash, size);
    return out ? out : unbatched;
}
inline void state_hash_end_record(uint32_t *hash, const uint8_t *out, const uint8_t *end, const uint8_t *unbatched,
                                  size_t size)
{
    VASSERT(end == out + size, "state hash record of the wrong size");
    if (out == unbatched) state_hash_add(hash, unbatched, size);
}

// One value as state_hash_add_int32 hashes it, written at `out`.
inline void state_hash_write_int32(uint8_t *out, int32_t value)
{
    uint32_t word = (uint32_t)value;
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
    memcpy(out, &word, sizeof(word));
}

// Writes values in turn from `out` on, each as state_hash_add_int32 hashes
// it.  A procedure that puts a record's fields one statement after another
// moves each from its field to the hashed bytes with nothing between.
struct state_hash_cursor
{
    uint8_t *out;
    void put(int32_t value)
    {
        state_hash_write_int32(out, value);
        out += 4;
    }
};

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
// each byte that differs from the copy contributes, looked up in a table per
// half of a record byte.  The tables are made once by writing probe records, and
// proved on random ones; a writer they do not describe (a condition, a
// lookup) is logged and has its changed records written out as before.
struct state_hash_record_cache
{
    // The copies, one record size each; a slot without one holds zeros.
    std::vector<uint8_t> records;
    std::vector<uint32_t> crcs; // crc32_of the bytes each copy gave, where known
    std::vector<uint8_t> known; // whether the slot's CRC is
    std::vector<uint32_t> gathered; // one pass's CRCs in slot order
    crc32_shift shift = {}; // for the hashed size (size 0 until the first pass)
    // What each half of a record's byte adds to the CRC of the hashed bytes,
    // for each of its 16 values ([(byte * 2 + high half) * 16 + value]), and
    // per 8-byte word of the record the bytes any hashed byte depends on (0xFF
    // each).  Kept across maps: they depend on the writer alone.
    std::vector<uint32_t> nibble_tables;
    std::vector<uint64_t> hashed_bytes;
    int8_t linear = -1; // whether the tables describe the writer; -1: not probed yet
    // Test seam: a slot whose record counts as unchanged (its copy and CRC
    // are not renewed), NONE without one.
    int32_t fault_slot = NONE;

    void forget(void)
    {
        records.clear();
        crcs.clear();
        known.clear();
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
// Makes cache->nibble_tables and hashed_bytes by writing probe records of
// `record_size` bytes, and sets cache->linear (logged when the writer is not
// linear).
void make_state_hash_byte_tables(state_hash_record_cache *cache, size_t record_size, size_t hash_size,
                                 const void *context, state_hash_probe_writer write);

template <size_t SIZE> inline bool state_hash_records_are_equal(const uint8_t *a, const uint8_t *b)
{
#if defined(__SSE2__)
    constexpr size_t WHOLE = SIZE / 16 * 16;
    __m128i difference = _mm_setzero_si128();
#pragma GCC unroll 32
    for (size_t offset = 0; offset < WHOLE; offset += 16)
        difference = _mm_or_si128(difference, _mm_xor_si128(_mm_loadu_si128((const __m128i *)(a + offset)),
                                                             _mm_loadu_si128((const __m128i *)(b + offset))));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(difference, _mm_setzero_si128())) == 0xFFFF &&
           memcmp(a + WHOLE, b + WHOLE, SIZE - WHOLE) == 0;
#else
    return memcmp(a, b, SIZE) == 0;
#endif
}

// What turning the record `before` into `after` (SIZE bytes each) does to the
// CRC of its hashed bytes, from the cache's tables: for each 8-byte word with
// a hashed byte changed, its sixteen half-bytes' entries, all looked up (no
// branch per byte to mispredict; the tables stay in the first-level cache).
template <size_t SIZE>
inline uint32_t state_hash_record_change(const state_hash_record_cache *cache, const uint8_t *before,
                                         const uint8_t *after)
{
    const uint32_t *tables = cache->nibble_tables.data();
    const uint64_t *hashed = cache->hashed_bytes.data();
    uint32_t change = 0;
#pragma GCC unroll 32
    for (size_t word = 0; word < (SIZE + 7) / 8; ++word)
    {
        const size_t offset = 8 * word, length = SIZE - offset < 8 ? SIZE - offset : 8;
        uint64_t a = 0, b = 0;
        memcpy(&a, before + offset, length);
        memcpy(&b, after + offset, length);
        if constexpr (std::endian::native == std::endian::big)
        {
            a = __builtin_bswap64(a);
            b = __builtin_bswap64(b);
        }
        const uint64_t difference = (a ^ b) & hashed[word];
        if (!difference) continue;
        const uint32_t *word_tables = tables + offset * 32;
        uint32_t even = 0, odd = 0;
#pragma GCC unroll 8
        for (unsigned nibble = 0; nibble < 16; nibble += 2)
        {
            even ^= word_tables[nibble * 16 + ((difference >> (4 * nibble)) & 15)];
            odd ^= word_tables[(nibble + 1) * 16 + ((difference >> (4 * nibble + 4)) & 15)];
        }
        change ^= even ^ odd;
    }
    return change;
}

// Adds the records of slots 0 to count - 1 that `get(index)` gives (a null
// pointer: a free slot, which adds nothing), each as the HASH_SIZE bytes that
// `write(index, record, out)` writes.  A slot's record is written out once,
// the first time it is seen; after that its CRC follows its changes through
// the byte tables (above), and every CRC joins the hash by combination.  The
// value is the one writing every record's bytes in turn gives.  A used
// record's first field is its identifier, never 0.
template <class Record, size_t HASH_SIZE, class Get, class Write>
void state_hash_add_kept_records(uint32_t *hash, state_hash_record_cache *cache, int32_t count, Get get, Write write)
{
    static_assert(offsetof(Record, identifier) == 0 && sizeof(Record{}.identifier) == 2);
    static_assert(alignof(Record) <= alignof(uint64_t), "probe records are made of 8-byte words");
    if (state_hash_writes_afresh())
    {
        for (int32_t index = 0; index < count; ++index)
        {
            const Record *record = get(index);
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
    uint32_t *gathered = cache->gathered.data(), *crcs = cache->crcs.data();
    uint8_t *copies = cache->records.data(), *known = cache->known.data();
    const int32_t fault_slot = cache->fault_slot;
    const bool linear = cache->linear > 0;
    size_t gathered_count = 0;
    for (int32_t index = 0; index < count; ++index)
    {
        const uint8_t *record = (const uint8_t *)get(index);
        if (!record) continue;
        uint8_t *copy = copies + (size_t)index * sizeof(Record);
        if (!known[index])
        {
            uint8_t bytes[HASH_SIZE];
            write(index, (const Record *)record, bytes);
            crcs[index] = crc32_of(bytes, HASH_SIZE);
            memcpy(copy, record, sizeof(Record));
            known[index] = 1;
        }
        else if (!state_hash_records_are_equal<sizeof(Record)>(copy, record) && index != fault_slot)
        {
            if (linear) crcs[index] ^= state_hash_record_change<sizeof(Record)>(cache, copy, record);
            else
            {
                uint8_t bytes[HASH_SIZE];
                write(index, (const Record *)record, bytes);
                crcs[index] = crc32_of(bytes, HASH_SIZE);
            }
            memcpy(copy, record, sizeof(Record));
        }
        gathered[gathered_count++] = crcs[index];
    }
    state_hash_flush(hash);
    *hash = crc32_append_pieces(*hash, gathered, gathered_count, &cache->shift);
}

// ---- the hash ---------------------------------------------------------------

// The hash of the synchronized game as it stands.  One thread at a time (the
// tick's): the bytes are gathered in one block of this module.  A call from
// inside a procedure is refused (asserted) with 0.
uint32_t compute_state_hash(void);

// The same with every record written afresh: no kept CRC used or renewed.
uint32_t compute_fresh_state_hash(void);

// The checker: while on, every compute_state_hash computes the fresh hash as
// well; a difference (a kept CRC that no longer matches its record) is a
// logged fault, counted, and the fresh value is the one returned.  On from
// the start in a build with assertions, off in a release build.
struct state_hash_check_counts
{
    int64_t checks;
    int64_t faults;
};
void set_state_hash_checking(bool on); // also sets the counts to 0
bool state_hash_checking(void);
state_hash_check_counts get_state_hash_check_counts(void);
