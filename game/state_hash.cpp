// The hash of the synchronized game.

#include "state_hash.h"

#include "cseries/byte_swapping.h"
#include "cseries/crc.h"
#include "game_time.h"
#include "vesk_random.h"

static struct state_hash_globals
{
    state_hash_procedure procedures[MAXIMUM_STATE_HASH_PROCEDURES];
    int32_t count;
} state_hash_globals;

bool register_state_hash_procedure(state_hash_procedure procedure)
{
    if (!procedure || state_hash_globals.count >= MAXIMUM_STATE_HASH_PROCEDURES)
    {
        log_message(__FILE__, __LINE__, "state hash procedure refused (null or table full)");
        return false;
    }
    // A module started twice (tests) must not count its records twice.
    for (int32_t i = 0; i < state_hash_globals.count; ++i)
        if (state_hash_globals.procedures[i] == procedure) return true;
    state_hash_globals.procedures[state_hash_globals.count++] = procedure;
    return true;
}

void reset_state_hash_procedures(void)
{
    state_hash_globals.count = 0;
}

void state_hash_add(uint32_t *hash, const void *data, size_t size)
{
    *hash = crc32_update(*hash, data, size);
}

void state_hash_add_int32(uint32_t *hash, int32_t value)
{
    uint8_t bytes[4];
    write_be32(bytes, (uint32_t)value);
    state_hash_add(hash, bytes, sizeof(bytes));
}

void state_hash_add_int32s(uint32_t *hash, const int32_t *values, size_t count)
{
    // One CRC call per 64 values instead of one per value: the CRC runs eight
    // bytes a step only on long inputs, and the hash of every record's fields
    // after every tick is a large part of a determinism run.
    uint8_t bytes[64 * 4];
    while (count > 0)
    {
        const size_t piece = count < 64 ? count : 64;
        for (size_t i = 0; i < piece; ++i) write_be32(bytes + 4 * i, (uint32_t)values[i]);
        state_hash_add(hash, bytes, 4 * piece);
        values += piece;
        count -= piece;
    }
}

// The game type and option bits are left out: a film replays as type 0 and,
// when it is not a solo film, without limited visibility, yet must hash as the
// game it recorded.
uint32_t compute_state_hash(void)
{
    uint32_t hash = 0;
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
    for (int32_t i = 0; i < state_hash_globals.count; ++i) state_hash_globals.procedures[i](&hash);
    return hash;
}
