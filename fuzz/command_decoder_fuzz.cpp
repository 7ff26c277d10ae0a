// Arbitrary bytes as one command, as a film or a peer could hand it over: the
// incoming ring must refuse what it cannot hold, the executor must run or skip
// it without reading outside it, and the decoder must never read past `size`.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "cseries/byte_swapping.h"
#include "game_time.h"
#include "unit_commands.h"

static const byte_swap_code four_bytes[] = {_begin_bs_array, 1, _4byte, _end_bs_array};
static const byte_swap_code two_bytes[] = {_begin_bs_array, 1, _2byte, _end_bs_array};

// Reads the fields the `program` bytes name, two bits each (data, array,
// string, stop), the way a verb's decoder would.
static void walk_fields(command_header *command, const uint8_t *program, size_t program_size)
{
    command_codec_state state;
    command_decode_new(&state, command, command->verb);
    for (size_t i = 0; i < program_size * 4; ++i)
    {
        const int32_t operation = (program[i / 4] >> (2 * (i % 4))) & 3;
        if (operation == 3) break;
        if (operation == 0)
        {
            if (command_decode_data(&state, 4, four_bytes) && state.offset > command->size) abort();
        }
        else if (operation == 1)
        {
            int16_t count = -1;
            if (command_decode_array(&state, &count, 2, two_bytes) && (count < 0 || state.offset > command->size))
                abort();
        }
        else
        {
            const char *text = command_decode_string(&state, MAXIMUM_CHAT_MESSAGE_LENGTH);
            if (text && (text + strlen(text) >= (const char *)command + command->size)) abort();
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        register_command_hooks();
        return initialize_commands();
    }();
    if (!ready || size < sizeof(command_header) || size > MAXIMUM_COMMAND_SIZE + 64) return 0;

    // An exact-size copy, so that a read past the end is caught; the header as
    // films carry it, big-endian.
    uint8_t *copy = (uint8_t *)malloc(size);
    if (!copy) return 0;
    memcpy(copy, data, size);
    command_header *command = (command_header *)copy;
    byte_swap_command_header_big(command);

    // The ring reads `size` bytes of what it stores: a caller hands it no
    // more than it has.  Sizes outside the record's range are refused unread.
    initialize_commands_for_new_map();
    game_->flags.store(0);
    game_->game_time = 0;
    const bool whole = command->size <= (int32_t)size;
    if (whole || command->size < MINIMUM_COMMAND_SIZE || command->size > MAXIMUM_COMMAND_SIZE)
    {
        const bool queued = queue_incoming_command(command);
        const bool sound = command->size >= MINIMUM_COMMAND_SIZE && command->size <= MAXIMUM_COMMAND_SIZE &&
                           command->time >= 0;
        if (queued != sound) abort();
        if (queued)
        {
            game_->game_time = command->time;
            execute_monster_commands();
            if (dequeue_incoming_command(INT32_MAX)) abort();
        }
    }

    // The decoder on the same bytes, fresh: the walk's program is the tail of
    // the input.
    if (whole && command->size >= MINIMUM_COMMAND_SIZE)
    {
        memcpy(copy, data, size);
        byte_swap_command_header_big(command);
        walk_fields(command, data + command->size, size - (size_t)command->size);
    }
    dispose_commands_from_old_map();
    free(copy);
    return 0;
}
