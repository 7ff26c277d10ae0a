// The hash of the synchronized game.  compute_state_hash gathers the bytes
// the procedures add in a block that stays in the first-level cache and hands
// the CRC a whole block at a time: thousands of calls over a few bytes each
// become a few dozen over 16 KB, which the CRC's folding kernels run at
// memory speed.  The bytes, their order and so the value are the same as one
// CRC call per piece.

#include "state_hash_kept_records.h"

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/crc.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "vesk_random.h"

static_assert((size_t)STATE_HASH_MAXIMUM_RESERVE <= STATE_HASH_BATCH_SIZE);

// compute_state_hash's batch (its hash is null between calls): a procedure
// called with any other hash (a test hashing one subsystem) goes straight to
// the CRC.
state_hash_batch state_hash_open_batch;

static bool processor_compares_wide(void)
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

static procedure_list<state_hash_procedure, MAXIMUM_STATE_HASH_PROCEDURES> state_hash_procedures("state hash");

static struct state_hash_globals
{
    bool afresh; // the pass writes every record afresh
    bool wide = processor_compares_wide(); // the passes compare 32 bytes at a time
#ifdef NDEBUG
    bool checking = false;
#else
    bool checking = true;
#endif
    state_hash_check_counts counts;
} state_hash_globals;

bool register_state_hash_procedure(state_hash_procedure procedure) { return state_hash_procedures.add(procedure); }

bool register_state_hash_procedure_at_start_up(state_hash_procedure procedure)
{
    return state_hash_procedures.add_at_start_up(procedure);
}

void reset_state_hash_procedures(void) { state_hash_procedures.clear(); }

static void flush_batch(state_hash_batch *batch)
{
    *batch->hash = crc32_update(*batch->hash, batch->bytes, batch->used);
    batch->used = 0;
}

// The batch of `hash` with room for `size` more bytes, or null when `hash`
// is not being batched or `size` exceeds a batch.
static inline state_hash_batch *batch_with_room(uint32_t *hash, size_t size)
{
    state_hash_batch *batch = &state_hash_open_batch;
    if (batch->hash != hash || size > STATE_HASH_BATCH_SIZE) return nullptr;
    if (batch->used + size > STATE_HASH_BATCH_SIZE) flush_batch(batch);
    return batch;
}

uint8_t *state_hash_reserve_slowly(uint32_t *hash, size_t size)
{
    if (size > STATE_HASH_MAXIMUM_RESERVE) return nullptr;
    state_hash_batch *batch = batch_with_room(hash, size);
    if (!batch) return nullptr;
    uint8_t *out = batch->bytes + batch->used;
    batch->used += size;
    return out;
}

void state_hash_add(uint32_t *hash, const void *data, size_t size)
{
    if (state_hash_batch *batch = batch_with_room(hash, size))
    {
        memcpy(batch->bytes + batch->used, data, size);
        batch->used += size;
        return;
    }
    // Not batched, or longer than a batch: what waits goes first.
    state_hash_batch *batch = &state_hash_open_batch;
    if (batch->hash == hash && batch->used) flush_batch(batch);
    *hash = crc32_update(*hash, data, size);
}

void state_hash_add_int32_slowly(uint32_t *hash, int32_t value)
{
    if (state_hash_batch *batch = batch_with_room(hash, 4))
    {
        write_be32(batch->bytes + batch->used, (uint32_t)value);
        batch->used += 4;
        return;
    }
    uint8_t bytes[4];
    write_be32(bytes, (uint32_t)value);
    *hash = crc32_update(*hash, bytes, sizeof(bytes));
}

void state_hash_add_int32s(uint32_t *hash, const int32_t *values, size_t count)
{
    // In pieces of 64 values: one CRC call per piece when not batched.
    uint8_t bytes[64 * 4];
    while (count > 0)
    {
        const size_t piece = count < 64 ? count : 64;
        state_hash_batch *batch = batch_with_room(hash, 4 * piece);
        uint8_t *out = batch ? batch->bytes + batch->used : bytes;
        for (size_t i = 0; i < piece; ++i) write_be32(out + 4 * i, (uint32_t)values[i]);
        if (batch) batch->used += 4 * piece;
        else *hash = crc32_update(*hash, bytes, 4 * piece);
        values += piece;
        count -= piece;
    }
}

bool state_hash_writes_afresh(void) { return state_hash_globals.afresh; }

bool set_state_hash_wide_comparison(bool on)
{
    state_hash_globals.wide = on && processor_compares_wide();
    return state_hash_globals.wide;
}

bool state_hash_compares_wide(void) { return state_hash_globals.wide; }

void state_hash_flush(uint32_t *hash)
{
    state_hash_batch *batch = &state_hash_open_batch;
    if (batch->hash == hash && batch->used) flush_batch(batch);
}

void prepare_state_hash_record_cache(state_hash_record_cache *cache, int32_t count, size_t record_size,
                                     size_t hash_size)
{
    const size_t slots = count > 0 ? (size_t)count : 0;
    if (cache->crcs.size() < slots)
    {
        cache->records.resize(slots * record_size, 0);
        cache->crcs.resize(slots);
    }
    if (cache->gathered.size() < slots) cache->gathered.resize(slots);
    if (cache->shift.size != hash_size) crc32_make_shift(&cache->shift, hash_size);
}

void make_state_hash_byte_tables(state_hash_record_cache *cache, size_t record_size, size_t hash_size,
                                 const void *context, state_hash_probe_writer write)
{
    std::vector<uint64_t> words((record_size + 7) / 8);
    uint8_t *probe = (uint8_t *)words.data();
    std::vector<uint8_t> out(hash_size), zero_out(hash_size);
    write(context, probe, zero_out.data());
    const uint32_t zero_crc = crc32_of(zero_out.data(), hash_size);
    cache->byte_tables.assign(record_size, state_hash_byte_table{});
    cache->hashed_bytes.assign((record_size + 63) / 64 + 1, 0);
    for (size_t byte = 0; byte < record_size; ++byte)
    {
        state_hash_byte_table *table = &cache->byte_tables[byte];
        for (unsigned bit = 0; bit < 8; ++bit)
        {
            probe[byte] = (uint8_t)(1u << bit);
            write(context, probe, out.data());
            probe[byte] = 0;
            if (out != zero_out) cache->hashed_bytes[byte / 64] |= (uint64_t)1 << (byte % 64);
            const uint32_t entry = crc32_of(out.data(), hash_size) ^ zero_crc;
            // Plain stores: g++ 12 with -fsanitize=undefined loses stores
            // through a conditional choice of array.
            if (bit < 4) table->low[1u << bit] = entry;
            else table->high[1u << (bit - 4)] = entry;
        }
        for (unsigned value = 3; value < 16; ++value)
            if (value & (value - 1))
            {
                const unsigned rest = value & (value - 1), lowest = value & (0u - value);
                table->low[value] = table->low[rest] ^ table->low[lowest];
                table->high[value] = table->high[rest] ^ table->high[lowest];
            }
    }
    // Proved on records of random bytes (a generator of its own: the game's
    // are synchronized) and on all ones: a writer with a condition or a
    // lookup in it parts from its tables on nearly every one.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    bool linear = true;
    for (int32_t trial = 0; trial < 24 && linear; ++trial)
    {
        for (size_t byte = 0; byte < record_size; ++byte)
        {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            probe[byte] = trial == 0 ? 0xFF : (uint8_t)(state >> 24);
        }
        write(context, probe, out.data());
        uint32_t expected = zero_crc;
        for (size_t byte = 0; byte < record_size; ++byte)
            expected ^= cache->byte_tables[byte].low[probe[byte] & 15] ^ cache->byte_tables[byte].high[probe[byte] >> 4];
        linear = expected == crc32_of(out.data(), hash_size);
    }
    if (!linear)
        log_message(__FILE__, __LINE__,
                    "a state hash writer of %u-byte records is not linear in their bytes: its changed records are "
                    "written out",
                    (unsigned)record_size);
    cache->linear = linear ? 1 : 0;
}

// The game type and option bits are left out: a film replays as type 0 and,
// when it is not a solo film, without limited visibility, yet must hash as the
// game it recorded.
static uint32_t hash_the_game(bool afresh)
{
    uint32_t hash = 0;
    state_hash_batch *batch = &state_hash_open_batch;
    batch->hash = &hash;
    batch->used = 0;
    state_hash_globals.afresh = afresh;
    state_hash_add_int32(&hash, game_->game_time);
    state_hash_add_int32(&hash, (int32_t)get_random_seed());
    state_hash_add_int32(&hash, game_->scoring);
    state_hash_add_int32(&hash, game_->difficulty_level);
    state_hash_add_int32(&hash, (int32_t)(game_->flags.load() & SYNCHRONIZED_GAME_FLAGS));
    state_hash_add_int32(&hash, game_->time_state);
    state_hash_add_int32(&hash, game_->time_remaining);
    state_hash_add_int32(&hash, game_->endgame_state);
    state_hash_add_int32(&hash, game_->winning_team_index);
    state_hash_add_int32(&hash, game_->game_time_at_end);
    for (int32_t i = 0; i < state_hash_procedures.count(); ++i) state_hash_procedures.get(i)(&hash);
    flush_batch(batch);
    batch->hash = nullptr;
    state_hash_globals.afresh = false;
    return hash;
}

uint32_t compute_state_hash(void)
{
    if (!VASSERT(!state_hash_open_batch.hash, "compute_state_hash is not re-entrant")) return 0;
    const uint32_t hash = hash_the_game(false);
    if (!state_hash_globals.checking) return hash;
    // A kept CRC that no longer matches its record would part this machine
    // from its peers without a word: the fresh value is the true one.
    const uint32_t fresh = hash_the_game(true);
    state_hash_globals.counts.checks += 1;
    if (fresh == hash) return hash;
    state_hash_globals.counts.faults += 1;
    log_message(__FILE__, __LINE__, "state hash at tick %d: the kept records give %08x, the records written afresh %08x",
                (int)game_->game_time, (unsigned)hash, (unsigned)fresh);
    VWARN(false, "a kept state hash record differs from its record");
    return fresh;
}

uint32_t compute_fresh_state_hash(void)
{
    if (!VASSERT(!state_hash_open_batch.hash, "compute_state_hash is not re-entrant")) return 0;
    return hash_the_game(true);
}

void set_state_hash_checking(bool on)
{
    state_hash_globals.checking = on;
    state_hash_globals.counts = {0, 0};
}

bool state_hash_checking(void) { return state_hash_globals.checking; }

state_hash_check_counts get_state_hash_check_counts(void) { return state_hash_globals.counts; }
