#pragma once
// Data arrays: fixed-capacity pools of equal-size records (units, paths,
// projectiles, map actions, overhead texts, sound sources...).
//
// Every record starts with its 16-bit identifier; 0 marks a free slot.  The
// identifier belongs to this module: change it through set_datum_identifier.
// An array with machine-unique identifiers keeps count of the values in use,
// so one written into a record behind its back could be handed out again; it
// says so (an assertion) when it next meets such a record.  A
// record is addressed by its index (16-bit, 0 .. capacity-1) and, when it must
// be remembered across ticks, by the 32-bit datum identifier
// (identifier << 16) | index, which goes stale once the slot is freed or reused.
//
// The slot that new_datum picks and the identifier it hands out are part of
// the lock-step simulation: every machine, and every replay of a film, must
// make the same choices from the same sequence of calls.  So slot choice and
// identifiers depend only on the array's own history since the map began,
// never on pointer values, memory or time.
//
// Simulation thread only: nothing here is locked.
//
// Each owning module declares its array statically, the runtime fields left
// zero, and creates it once at start-up:
//
//     static datum_globals monster_data_globals = {
//         .name = "monster", .size = sizeof(monster_data), .maximum_count = 400};
//     ...
//     initialize_data(&monster_data_globals);

#include <cstring>

#include "cseries/cseries.h"

enum
{
    MAXIMUM_DATA_ARRAY_NAME_LENGTH = 20,
    // Indexes are 16-bit and must never read as NONE, so no array (not even a
    // grown one) holds more records than this.
    MAXIMUM_DATA_ARRAY_COUNT = 32767,
    // The identifier sequence runs 1 .. 0x7FFF and wraps back to 1: never 0
    // (free) and never negative, so a datum identifier is never NONE.
    MAXIMUM_DATUM_IDENTIFIER = 0x7FFF,
};

enum data_array_flag_bits
{
    // Machine-unique identifiers.  With this bit new_datum skips every value
    // of the sequence that another used slot still holds, so no two used
    // records share an identifier unless a caller forced one with
    // set_datum_identifier.  Without it new_datum takes the next value of the
    // sequence as it is; two records may then share an identifier (arrays
    // whose records take their marker's identifier need no more than that),
    // and the index half of the datum identifier tells them apart.
    _data_array_muids_bit,
    // When every slot is used, new_datum adds another block of
    // `maximum_count` records instead of failing, up to
    // MAXIMUM_DATA_ARRAY_COUNT records.  Growth happens only when the array
    // is full, so it follows from the sequence of calls alone and is the same
    // on every machine.  Blocks are never moved: a record pointer stays valid
    // while the record is used, even across new_datum.  Grown blocks are
    // released when the map ends.
    _data_array_growable_bit,
    NUMBER_OF_DATA_ARRAY_FLAG_BITS
};

enum
{
    _data_array_muids_flag = FLAG(_data_array_muids_bit),
    _data_array_growable_flag = FLAG(_data_array_growable_bit),
};

// The descriptor of one data array.  The owner fills the first three or four
// fields; the rest belong to this module (callers may read `count`).
struct datum_globals
{
    char name[MAXIMUM_DATA_ARRAY_NAME_LENGTH + 1];
    int32_t size; // bytes per record, at least 2 (the identifier)
    int32_t maximum_count; // records at start-up; the block size of a growable array
    uint32_t flags = 0; // _data_array_..._flag

    // Highest used index + 1: walk indexes 0 .. count-1 and skip free slots.
    int32_t count = 0;
    int32_t capacity = 0; // records that fit now (maximum_count unless grown)
    int16_t next_identifier = 0; // the next value of the identifier sequence
    int32_t first_free_hint = 0; // no slot below it is free
    int32_t block_count = 0; // entries of `blocks`
    uint8_t **blocks = nullptr; // `maximum_count` records each; null before initialize_data
    // Arrays with machine-unique identifiers only: how many used slots hold
    // each identifier 1 .. MAXIMUM_DATUM_IDENTIFIER, and the identifier this
    // module last gave each slot, so new_datum finds an unused value without
    // reading every record.
    uint16_t *identifier_counts = nullptr;
    int16_t *slot_identifiers = nullptr;
};

// ---- the 32-bit datum identifier ---------------------------------------

// (identifier << 16) | index, computed on unsigned bits so that a forced
// negative identifier still packs without overflow.
inline int32_t build_datum_identifier(int16_t identifier, int16_t index)
{
    return (int32_t)(((uint32_t)(uint16_t)identifier << 16) | (uint32_t)(uint16_t)index);
}
inline int16_t datum_identifier_to_index(int32_t datum_identifier)
{
    return (int16_t)(uint16_t)((uint32_t)datum_identifier & 0xFFFFu);
}
inline int16_t datum_identifier_to_identifier(int32_t datum_identifier)
{
    return (int16_t)(uint16_t)((uint32_t)datum_identifier >> 16);
}

// ---- life cycle ----------------------------------------------------------

// Allocates the records of a statically declared array, all free.  Call once at
// start-up.  False, with an assertion logged, when the descriptor is unusable
// (no name, size below 2, maximum_count outside 1 .. MAXIMUM_DATA_ARRAY_COUNT)
// or already initialized; out of memory is reported as a fatal error.
bool initialize_data(datum_globals *globals);

// Frees every record and restarts the identifier sequence at 1, so a replay
// from the map start hands out the same identifiers.  Call when a map begins.
void initialize_data_for_new_map(datum_globals *globals);

// Frees every record and releases the blocks a growable array gained during
// the map.  Call when a map ends.
void dispose_data_from_old_map(datum_globals *globals);

// Releases all memory of the array; it must be initialized again before use.
// For shutdown and for tools and tests that create arrays of their own.
void dispose_data(datum_globals *globals);

// ---- records -------------------------------------------------------------

// Takes the lowest free slot, zero-fills the record and gives it the next
// identifier of the sequence (see _data_array_muids_bit).  Returns its index,
// or NONE when the array is full (and cannot grow).
int32_t new_datum(datum_globals *globals);

// Frees the record at `index` (its identifier becomes 0) and lowers `count`
// past every free slot at the end.  An index out of range or a slot already
// free is refused with an assertion.
void delete_datum(datum_globals *globals, int32_t index);

// Replaces the identifier of the used record at `index` (a unit takes its
// marker's identifier).  Refused with an assertion for an index out of range,
// a free slot, or identifier 0 (which would free the slot behind the array's
// back).  The identifier sequence is not touched.
void set_datum_identifier(datum_globals *globals, int32_t index, int16_t identifier);

// The record at `index` when it is used and still holds `identifier`; null
// when the slot is free or holds another identifier (the remembered record
// died or its slot was reused).  Null with an assertion for an index out of range.
void *get_datum_by_identifier(datum_globals *globals, int32_t index, int16_t identifier);

// get_datum for any index: its out-of-line half.
void *get_datum_checked(datum_globals *globals, int32_t index);

// The record at `index`, null when the slot is free.  Null with an assertion
// for an index out of range.  Inline (the lookup sits under every walk of
// every array); every refusal goes through get_datum_checked.
inline void *get_datum(datum_globals *globals, int32_t index)
{
    if (globals && globals->blocks && index >= 0 && index < globals->capacity)
    {
        // Most arrays never grow: the first block then needs no division,
        // and the blocks of those that do hold a power of two records.
        const int32_t size = globals->size, block_size = globals->maximum_count;
        uint8_t *record;
        if (index < block_size) record = globals->blocks[0] + (size_t)index * (size_t)size;
        else if ((block_size & (block_size - 1)) == 0)
        {
            const int shift = __builtin_ctz((unsigned)block_size);
            record = globals->blocks[index >> shift] + (size_t)(index & (block_size - 1)) * (size_t)size;
        }
        else record = globals->blocks[index / block_size] + (size_t)(index % block_size) * (size_t)size;
        int16_t identifier;
        memcpy(&identifier, record, sizeof(identifier));
        return identifier != 0 ? record : nullptr;
    }
    return get_datum_checked(globals, index);
}

// Copies `count` records of the array's record size from `buffer`, in order,
// into the free slots from the lowest one up; each record takes the next free
// slot after the one before.  A record with identifier 0 leaves its slot free
// (the records after it keep their places).  A record whose non-zero identifier
// another used slot already holds gets the next identifier of the sequence
// that no used slot holds, after a logged assertion.  False, with nothing
// copied, when `count` is negative or the records do not fit.
bool import_data(datum_globals *globals, const void *buffer, int32_t count);

// Moves the used records down to the lowest slots, keeping their relative
// order and identifiers; `count` becomes the number of used records.  Indexes
// (and datum identifiers) of moved records change: never call it while
// anything remembers them.
void compress_data(datum_globals *globals);

// ---- iteration -----------------------------------------------------------

// Walks the used records in index order.  `count` is read at every step, so
// the walk may delete the record it stands on, and it also visits records
// created behind it.
struct data_iterator
{
    datum_globals *globals;
    int32_t index; // index of the record last returned; NONE before the first and at the end
    int32_t next_index; // where the walk goes on
};

data_iterator data_iterator_new(datum_globals *globals);

// The next used record, its index left in `iterator->index`; null, with
// `iterator->index` == NONE, at the end.
void *data_iterator_next(data_iterator *iterator);
