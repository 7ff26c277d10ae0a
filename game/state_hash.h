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
#include "tag_files/data.h"

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
// record byte.  The tables are made once by writing probe records, and
// proved on random ones; a writer they do not describe (a condition, a
// lookup) is logged and has its changed records written out as before.
struct state_hash_record_cache
{
    // The copies, one record size each; a slot without one holds zeros.
    std::vector<uint8_t> records;
    std::vector<uint32_t> crcs; // crc32_of the bytes each copy gave (where there is one)
    std::vector<uint32_t> gathered; // one pass's CRCs in slot order
    std::vector<int32_t> changed, places; // one pass's renewed slots, and where in `gathered` their CRCs go
    crc32_shift shift = {}; // for the hashed size (size 0 until the first pass)
    // What a byte of the record adds to the CRC of the hashed bytes, for each
    // of its 256 values ([byte * 256 + value]), and a bit per record byte
    // (64 a word) for the bytes any hashed byte depends on.  Kept across
    // maps: they depend on the writer alone.
    std::vector<uint32_t> byte_tables;
    std::vector<uint64_t> hashed_bytes;
    int8_t linear = -1; // whether the tables describe the writer; -1: not probed yet
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

template <size_t SIZE> inline bool state_hash_records_are_equal(const uint8_t *a, const uint8_t *b)
{
#if defined(__SSE2__)
    static_assert(SIZE >= 16);
    constexpr size_t WHOLE = SIZE / 16 * 16;
    __m128i difference = _mm_setzero_si128();
#pragma GCC unroll 32
    for (size_t offset = 0; offset < WHOLE; offset += 16)
        difference = _mm_or_si128(difference, _mm_xor_si128(_mm_loadu_si128((const __m128i *)(a + offset)),
                                                             _mm_loadu_si128((const __m128i *)(b + offset))));
    // The last bytes as the last 16, over some already compared.
    if constexpr (WHOLE < SIZE)
        difference = _mm_or_si128(difference, _mm_xor_si128(_mm_loadu_si128((const __m128i *)(a + SIZE - 16)),
                                                             _mm_loadu_si128((const __m128i *)(b + SIZE - 16))));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(difference, _mm_setzero_si128())) == 0xFFFF;
#else
    return memcmp(a, b, SIZE) == 0;
#endif
}

// What turning the record `before` into `after` (SIZE bytes each) does to the
// CRC of its hashed bytes, from the cache's tables: one lookup per hashed
// byte that differs (a unit that walked changes a few of its hundreds).
template <size_t SIZE>
inline uint32_t state_hash_record_change(const state_hash_record_cache *cache, const uint8_t *before,
                                         const uint8_t *after)
{
    static_assert(SIZE >= 16);
    constexpr size_t CHUNKS = (SIZE + 15) / 16, GROUPS = (CHUNKS + 3) / 4;
    uint64_t differing[GROUPS] = {}; // bit b: byte b differs
#if defined(__SSE2__)
#pragma GCC unroll 32
    for (size_t chunk = 0; chunk < CHUNKS; ++chunk)
    {
        // The last chunk is read as the record's last 16 bytes, over some of
        // the previous chunk's.
        constexpr size_t BEYOND = (CHUNKS * 16 - SIZE) % 16;
        const size_t start = chunk + 1 < CHUNKS ? 16 * chunk : SIZE - 16;
        const __m128i same = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(before + start)),
                                            _mm_loadu_si128((const __m128i *)(after + start)));
        uint32_t differs = ~(uint32_t)_mm_movemask_epi8(same) & 0xFFFFu;
        if (chunk + 1 == CHUNKS) differs >>= BEYOND;
        differing[chunk / 4] |= (uint64_t)differs << (16 * (chunk % 4));
    }
#else
    for (size_t byte = 0; byte < SIZE; ++byte)
        differing[byte / 64] |= (uint64_t)(before[byte] != after[byte]) << (byte % 64);
#endif
    const uint32_t *tables = cache->byte_tables.data();
    const uint64_t *hashed = cache->hashed_bytes.data();
    uint32_t change = 0;
    for (size_t group = 0; group < GROUPS; ++group)
        for (uint64_t bits = differing[group] & hashed[group]; bits; bits &= bits - 1)
        {
            const size_t byte = 64 * group + (size_t)__builtin_ctzll(bits);
            change ^= tables[byte * 256 + (uint8_t)(before[byte] ^ after[byte])];
        }
    return change;
}

// Adds the used records of `array`'s slots 0 to count - 1 (a free slot adds
// nothing), each as the HASH_SIZE bytes that `write(index, record, out)`
// writes.  A slot's record is written out once, the first time it is seen;
// after that its CRC follows its changes through the tables (above), and
// every CRC joins the hash by combination.  The value is the one writing
// every record's bytes in turn gives.
//
// One pass over the slots compares each with its copy, sets aside the CRC of
// every used slot and notes the changed ones with the place of their CRC; a
// second pass renews those alone, so the first stays a tight loop.
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
    uint32_t *const gathered = cache->gathered.data(), *const crcs = cache->crcs.data();
    int32_t *const changed = cache->changed.data(), *const places = cache->places.data();
    uint8_t *const copies = cache->records.data();
    const int32_t fault_slot = cache->fault_slot;
    size_t gathered_count = 0, changed_count = 0;
    // A slot whose copy is all zeros has none (no used record equals it: its
    // identifier is not 0), so a record seen the first time counts as changed.
    auto visit = [&](int32_t index, const uint8_t *record) __attribute__((always_inline))
    {
        int16_t identifier;
        memcpy(&identifier, record, sizeof(identifier));
        const size_t used = identifier != 0;
        const uint8_t *copy = copies + (size_t)index * sizeof(Record);
        const bool renew = !state_hash_records_are_equal<sizeof(Record)>(copy, record) &&
                           (index != fault_slot || (copy[0] | copy[1]) == 0);
        changed[changed_count] = index;
        places[changed_count] = (int32_t)gathered_count;
        changed_count += used & (size_t)renew;
        gathered[gathered_count] = crcs[index];
        gathered_count += used;
    };
    // The first block holds slots 0 to maximum_count - 1 one after another;
    // a grown array's later slots are found one by one (a free one reads as
    // a record of zeros, which counts as free).
    static const Record free_record = {};
    const int32_t in_first_block = count < array->maximum_count ? count : array->maximum_count;
    const uint8_t *record = array->blocks[0];
    for (int32_t index = 0; index < in_first_block; ++index, record += sizeof(Record)) visit(index, record);
    for (int32_t index = in_first_block; index < count; ++index)
    {
        const uint8_t *grown = (const uint8_t *)get_datum(array, index);
        visit(index, grown ? grown : (const uint8_t *)&free_record);
    }
    const bool linear = cache->linear > 0;
    for (size_t i = 0; i < changed_count; ++i)
    {
        const int32_t index = changed[i];
        const uint8_t *now = index < in_first_block ? array->blocks[0] + (size_t)index * sizeof(Record)
                                                    : (const uint8_t *)get_datum(array, index);
        uint8_t *copy = copies + (size_t)index * sizeof(Record);
        uint32_t crc;
        if ((copy[0] | copy[1]) && linear)
            crc = crcs[index] ^ state_hash_record_change<sizeof(Record)>(cache, copy, now);
        else
        {
            uint8_t bytes[HASH_SIZE];
            write(index, (const Record *)now, bytes);
            crc = crc32_of(bytes, HASH_SIZE);
        }
        memcpy(copy, now, sizeof(Record));
        crcs[index] = crc;
        gathered[places[i]] = crc;
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
