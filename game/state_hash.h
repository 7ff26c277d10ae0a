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

#include "cseries/cseries.h"

enum { MAXIMUM_STATE_HASH_PROCEDURES = 32 };

// Adds a subsystem's synchronized records to the hash through state_hash_add.
// It must feed the same bytes on every machine: fields in a fixed order, in a
// fixed byte order (state_hash_add_int32 writes big-endian), no pointers, no
// padding bytes, records in index order.
typedef void (*state_hash_procedure)(uint32_t *hash);

// Registered procedures run in registration order, an ordered list
// (cseries/registration.h): a null one, one registered already and one past
// the list's room are refused with its logged assertion.
bool register_state_hash_procedure(state_hash_procedure procedure);
// What a module's start-up calls: tests and tools run a start-up again (a
// fixture's and its base's), and a start-up run again keeps the listing its
// first one made.  Anything else is registered as above.
bool register_state_hash_procedure_at_start_up(state_hash_procedure procedure);
void reset_state_hash_procedures(void);

// The bytes added to compute_state_hash's hash and not yet given to the CRC.
// Seen here so that the common case of the two calls below, a few bytes
// into a batch with room for them, costs a compare and a store in the
// procedure instead of a call per field.
enum { STATE_HASH_BATCH_SIZE = 16 * 1024 };
struct state_hash_batch
{
    uint32_t *hash; // the hash they belong to; null between passes
    size_t used;
    alignas(64) uint8_t bytes[STATE_HASH_BATCH_SIZE];
};
extern state_hash_batch state_hash_open_batch;

void state_hash_add(uint32_t *hash, const void *data, size_t size);
inline void state_hash_add_int32(uint32_t *hash, int32_t value);
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
uint8_t *state_hash_reserve_slowly(uint32_t *hash, size_t size);
inline uint8_t *state_hash_reserve(uint32_t *hash, size_t size)
{
    state_hash_batch *batch = &state_hash_open_batch;
    const size_t used = batch->used;
    if (batch->hash == hash && size <= STATE_HASH_MAXIMUM_RESERVE && size <= STATE_HASH_BATCH_SIZE - used) [[likely]]
    {
        batch->used = used + size;
        return batch->bytes + used;
    }
    return state_hash_reserve_slowly(hash, size);
}

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

void state_hash_add_int32_slowly(uint32_t *hash, int32_t value);
inline void state_hash_add_int32(uint32_t *hash, int32_t value)
{
    state_hash_batch *batch = &state_hash_open_batch;
    const size_t used = batch->used;
    if (batch->hash == hash && used <= STATE_HASH_BATCH_SIZE - 4) [[likely]]
    {
        state_hash_write_int32(batch->bytes + used, value);
        batch->used = used + 4;
        return;
    }
    state_hash_add_int32_slowly(hash, value);
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
