// The command rings and the field codec.

#include "commands.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cseries/cseries.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "recording_procedures.h"

const byte_swap_code command_header_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, 2, _4byte, _end_bs_array};

void byte_swap_command_header_big(command_header *command)
{
    if (!VASSERT(command, "header")) return;
    byte_swap_data("command header", command, sizeof(command_header), 1, command_header_byte_swapping_data);
}

// ---- the rings --------------------------------------------------------------

struct command_queue_data
{
    const char *name;
    int32_t read_offset;
    int32_t write_offset;
    int32_t wrap_offset;
    int32_t last_queue_time;
    int32_t buffer_size;
    uint8_t *buffer;
    bool initialized;
    // Records lie in the ring at any byte offset (the format has no padding).
    // The one handed out by a dequeue is copied here first, so that callers
    // read its header and fields at an aligned address.
    alignas(8) uint8_t taken[MAXIMUM_COMMAND_SIZE];
    // An empty ring starts again at offset 0.  Only the outgoing ring needs
    // it: an empty ring whose offsets stand late would refuse a record it can
    // hold, and only a ring smaller than twice the largest record can meet that.
    bool restart_when_empty;
};

static struct commands_globals
{
    command_queue_data *incoming;
    command_queue_data *outgoing;
} commands_globals;

static command_queue_data *allocate_command_queue(const char *name, int32_t buffer_size, bool restart_when_empty)
{
    // The record and its ring as one block.
    uint8_t *block = (uint8_t *)calloc(1, sizeof(command_queue_data) + (size_t)buffer_size);
    if (!block) return nullptr;
    command_queue_data *queue = new (block) command_queue_data();
    queue->name = name;
    queue->buffer_size = buffer_size;
    queue->buffer = block + sizeof(command_queue_data);
    queue->initialized = false;
    queue->restart_when_empty = restart_when_empty;
    return queue;
}

bool initialize_commands(void)
{
    // Start-up allocates once; a second call (tests) keeps the rings.
    if (!commands_globals.incoming)
    {
        commands_globals.incoming = allocate_command_queue("incoming", INCOMING_QUEUE_BUFFER_SIZE, false);
        if (!commands_globals.incoming)
        {
            error_message(_error_out_of_memory, __FILE__, __LINE__, "couldn't allocate incoming command queues");
            return false;
        }
    }
    if (!commands_globals.outgoing)
    {
        commands_globals.outgoing = allocate_command_queue("outgoing", OUTGOING_QUEUE_BUFFER_SIZE, true);
        if (!commands_globals.outgoing)
        {
            error_message(_error_out_of_memory, __FILE__, __LINE__, "couldn't allocate outgoing command queues");
            return false;
        }
    }
    commands_globals.incoming->initialized = false;
    commands_globals.outgoing->initialized = false;
    return true;
}

static void empty_command_queue(command_queue_data *queue)
{
    queue->read_offset = 0;
    queue->write_offset = 0;
    queue->wrap_offset = 0;
}

static void initialize_command_queue_for_new_map(command_queue_data *queue)
{
    if (!VASSERT(queue && !queue->initialized, "queue && !queue->initialized") && !queue) return;
    empty_command_queue(queue);
    queue->last_queue_time = INT32_MIN;
    queue->initialized = true;
}

bool initialize_commands_for_new_map(void)
{
    initialize_command_queue_for_new_map(commands_globals.incoming);
    initialize_command_queue_for_new_map(commands_globals.outgoing);
    return commands_globals.incoming && commands_globals.outgoing;
}

void dispose_commands_from_old_map(void)
{
    if (commands_globals.incoming) commands_globals.incoming->initialized = false;
    if (commands_globals.outgoing) commands_globals.outgoing->initialized = false;
}

// A record the rings can hold: 8 .. MAXIMUM_COMMAND_SIZE bytes, a time of at
// least 0.  Anything else (a size of 0 would be handed out forever, a
// negative one would become a huge copy) is refused.
static bool command_record_is_sound(const command_header *header)
{
    return header->size >= MINIMUM_COMMAND_SIZE && header->size <= MAXIMUM_COMMAND_SIZE && header->time >= 0;
}

static void log_bad_command(const char *format, const command_queue_data *queue, const void *command)
{
    char text[128];
    slprintf(text, sizeof(text), format, queue->name, command);
    assertion_failed(__FILE__, __LINE__, _assertion_vassert,
                     "size>=MINIMUM_COMMAND_SIZE && size<=MAXIMUM_COMMAND_SIZE && time>=0", text);
}

static int32_t command_queue_free_space(const command_queue_data *queue)
{
    return queue->write_offset < queue->read_offset ? queue->read_offset - queue->write_offset
                                                    : queue->buffer_size - queue->write_offset + queue->read_offset;
}

static bool command_queue(command_queue_data *queue, const command_header *command)
{
    if (!VASSERT(queue && queue->initialized, "queue && queue->initialized")) return false;
    if (!VASSERT(command, "command")) return false;
    if (!command_record_is_sound(command))
    {
        log_bad_command("bad command size in %s queue(): %p", queue, command);
        return false;
    }
    if (command->time < queue->last_queue_time)
        log_message(__FILE__, __LINE__, "command (#%d,#%d,#%d) queued before last command (#%d<#%d);g;",
                    command->size, command->verb, command->player_index, command->time, queue->last_queue_time);
    else
        queue->last_queue_time = command->time;

    if (queue->restart_when_empty)
    {
        // The reader may have taken the last record before the wrap without
        // having moved back to 0 yet: the ring is empty all the same.
        if (queue->read_offset > queue->write_offset && queue->read_offset >= queue->wrap_offset)
            queue->read_offset = 0;
        if (queue->read_offset == queue->write_offset) empty_command_queue(queue);
    }

    const int32_t size = command->size;
    if (queue->write_offset >= queue->read_offset && queue->write_offset + size > queue->buffer_size)
    {
        // The reader at the start leaves no room to wrap into.
        if (queue->read_offset == 0) return false;
        queue->wrap_offset = queue->write_offset;
        queue->write_offset = 0;
    }
    if (command_queue_free_space(queue) <= size) return false;
    memcpy(queue->buffer + queue->write_offset, command, (size_t)size);
    queue->write_offset += size;
    return true;
}

static command_header *command_dequeue(command_queue_data *queue, int32_t time)
{
    if (!VASSERT(queue && queue->initialized, "queue && queue->initialized")) return nullptr;
    if (queue->read_offset > queue->write_offset && queue->read_offset >= queue->wrap_offset)
    {
        VASSERT(queue->read_offset == queue->wrap_offset, "queue->read_offset==queue->wrap_offset");
        queue->read_offset = 0;
    }
    if (queue->read_offset == queue->write_offset) return nullptr;

    // Valid data runs up to the writer, or up to the wrap while the writer
    // is behind the reader.
    const int32_t end = queue->read_offset < queue->write_offset ? queue->write_offset : queue->wrap_offset;
    command_header header;
    bool sound = end - queue->read_offset >= (int32_t)sizeof(header);
    if (sound)
    {
        memcpy(&header, queue->buffer + queue->read_offset, sizeof(header));
        sound = command_record_is_sound(&header) && header.size <= end - queue->read_offset;
    }
    if (!sound)
    {
        // The ring is damaged: nothing after this record can be trusted
        // either.  Dropping the lot loses commands, so the game is out of step.
        log_bad_command("bad command size in %s dequeue(): %p", queue, queue->buffer + queue->read_offset);
        empty_command_queue(queue);
        if (queue == commands_globals.incoming) game_is_out_of_sync(__FILE__, __LINE__);
        return nullptr;
    }
    if (header.time > time) return nullptr;
    memcpy(queue->taken, queue->buffer + queue->read_offset, (size_t)header.size);
    queue->read_offset += header.size;
    return (command_header *)queue->taken;
}

bool queue_outgoing_command(const command_header *command)
{
    // A full outgoing ring loses the command: the player gives it again.
    return command_queue(commands_globals.outgoing, command);
}

bool queue_incoming_command(const command_header *command)
{
    if (command_queue(commands_globals.incoming, command)) return true;
    // Every machine must run every command; one lost here leaves this game
    // behind the others.  game_is_out_of_sync reports once per game.
    if (!(game_->flags.load() & _game_is_out_of_sync_flag)) game_is_out_of_sync(__FILE__, __LINE__);
    return false;
}

command_header *dequeue_outgoing_command(void)
{
    return command_dequeue(commands_globals.outgoing, INT32_MAX);
}

command_header *dequeue_incoming_command(int32_t time)
{
    return command_dequeue(commands_globals.incoming, time);
}

void flush_incoming_queue(void)
{
    // Ends: every dequeue advances by a whole record or empties the ring.
    while (dequeue_incoming_command(INT32_MAX)) {}
}

int32_t free_space_in_incoming_queue(void)
{
    const command_queue_data *queue = commands_globals.incoming;
    if (!queue || !queue->initialized) return 0;
    const int32_t free_space = command_queue_free_space(queue) - MAXIMUM_COMMAND_SIZE;
    return free_space > 0 ? free_space : 0;
}

int32_t get_local_command_latency(void)
{
    return 0;
}

// ---- the command stream -----------------------------------------------------

static procedure_slot<command_sniffing_procedure> command_sniffing_slot("command sniffing");

bool register_command_sniffing_procedure(command_sniffing_procedure procedure)
{
    return command_sniffing_slot.fill(procedure);
}

bool command_passes_sniffing(command_header *command, command_sniffing_moment moment)
{
    const bool when_run = current_gameplay_version >= FIRST_GAMEPLAY_VERSION_SNIFFING_RUNNING_COMMANDS;
    if (when_run != (moment == _command_sniffed_when_run)) return true;
    const command_sniffing_procedure sniff = command_sniffing_slot.get();
    return !sniff || sniff(command);
}

void queue_local_commands(int32_t target_time, int16_t player_index)
{
    command_header *command;
    while ((command = dequeue_outgoing_command()) != nullptr)
    {
        command->time = target_time;
        command->player_index = (int8_t)player_index;
        if (!command_passes_sniffing(command, _command_sniffed_when_queued)) continue;
        // Only what will run goes into the film.
        if (!queue_incoming_command(command)) continue;
        const auto record = get_recording_procedures()->record_incoming_command;
        if (record) record(command);
    }
}

void queue_sync_command(const sync_command_data *data)
{
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_sync);
    command_encode_data(&state, sizeof(*data), data, sync_command_data_byte_swapping_data);
    if (sync_chains_in_use())
    {
        // The chain that ends at the tick it names (every tick since the
        // previous sync command's); none kept is an empty one of no tick.
        sync_chain_data chain = {NONE, 0, 0};
        get_sync_chain(data->snapshot_time, &chain);
        command_encode_data(&state, sizeof(chain), &chain, sync_chain_data_byte_swapping_data);
    }
    if (!state.failed) queue_outgoing_command(state.header);
}

// ---- the codec --------------------------------------------------------------

// While a check runs, a decoder's failure is its answer, kept here; nothing is asserted.
static struct command_check_globals
{
    int32_t depth;
    const char *problem; // the first failure's reason (a static text), or null
} command_check_globals;

void begin_command_check(void)
{
    ++command_check_globals.depth;
    command_check_globals.problem = nullptr;
}

const char *end_command_check(void)
{
    if (command_check_globals.depth > 0) --command_check_globals.depth;
    const char *problem = command_check_globals.problem;
    command_check_globals.problem = nullptr;
    return problem;
}

// Logs the first failure of a codec state and makes it stick; during a check
// it keeps `reason` instead.
__attribute__((format(printf, 5, 6))) static void codec_failed(command_codec_state *state, int32_t line,
                                                                const char *expression, const char *reason,
                                                                const char *format, ...)
{
    if (state->failed) return;
    state->failed = true;
    if (command_check_globals.depth > 0)
    {
        if (!command_check_globals.problem) command_check_globals.problem = reason;
        return;
    }
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    assertion_failed(__FILE__, line, _assertion_vassert, expression, text);
}

// An argument a caller must give; a missing one fails the state.
static bool codec_argument(command_codec_state *state, bool present, int32_t line, const char *expression)
{
    if (present) return true;
    if (!state->failed && command_check_globals.depth > 0 && !command_check_globals.problem)
        command_check_globals.problem = "the codec was called without a field";
    else if (!state->failed)
        assertion_failed(__FILE__, line, _assertion_assert, expression, nullptr);
    state->failed = true;
    return false;
}

static uint8_t *codec_bytes(command_codec_state *state)
{
    return (uint8_t *)state->header + state->offset;
}

static void encoder_overflow(command_codec_state *state, int32_t line, const char *expression)
{
    codec_failed(state, line, expression, "a command too large to encode",
                 "#%d byte command @%p was about to exceed #%d bytes", state->offset, (void *)state->header,
                 MAXIMUM_COMMAND_SIZE);
}

void command_encode_new(command_codec_state *state, void *buffer, int16_t verb)
{
    state->header = (command_header *)buffer;
    state->offset = 0;
    state->failed = false;
    if (!codec_argument(state, buffer != nullptr, __LINE__, "buffer")) return;
    state->header->size = MINIMUM_COMMAND_SIZE;
    state->header->verb = (int8_t)verb;
    state->header->player_index = NONE;
    state->header->time = 0;
    state->offset = MINIMUM_COMMAND_SIZE;
}

void command_encode_data(command_codec_state *state, int16_t data_size, const void *data,
                         const byte_swap_code *bs_data)
{
    if (state->failed) return;
    if (!codec_argument(state, data_size > 0, __LINE__, "data_size>0") ||
        !codec_argument(state, data != nullptr, __LINE__, "data") ||
        !codec_argument(state, bs_data != nullptr, __LINE__, "bs_data"))
        return;
    if (state->offset + data_size > MAXIMUM_COMMAND_SIZE)
    {
        encoder_overflow(state, __LINE__, "state->offset+data_size<=MAXIMUM_COMMAND_SIZE");
        return;
    }
    uint8_t *field = codec_bytes(state);
    memcpy(field, data, (size_t)data_size);
    if (!byte_swap_data("command data", field, data_size, 1, bs_data))
    {
        state->failed = true;
        return;
    }
    state->offset = (int16_t)(state->offset + data_size);
    state->header->size = state->offset;
}

void command_encode_array(command_codec_state *state, int16_t array_size, int16_t data_size, const void *data,
                          const byte_swap_code *bs_data)
{
    if (state->failed) return;
    if (!codec_argument(state, array_size >= 0 && data_size > 0, __LINE__, "array_size>=0 && data_size>0") ||
        !codec_argument(state, array_size == 0 || data != nullptr, __LINE__, "data") ||
        !codec_argument(state, bs_data != nullptr, __LINE__, "bs_data"))
        return;
    const int32_t bytes = (int32_t)data_size * array_size;
    if (state->offset + (int32_t)sizeof(command_array_header) + bytes > MAXIMUM_COMMAND_SIZE)
    {
        encoder_overflow(state, __LINE__,
                         "state->offset + sizeof(struct command_array_header) + data_size*array_size<=MAXIMUM_COMMAND_SIZE");
        return;
    }
    uint8_t *field = codec_bytes(state);
    write_be16(field, (uint16_t)array_size);
    if (bytes > 0)
    {
        memcpy(field + sizeof(command_array_header), data, (size_t)bytes);
        if (!byte_swap_data("command array", field + sizeof(command_array_header), data_size, array_size, bs_data))
        {
            state->failed = true;
            return;
        }
    }
    state->offset = (int16_t)(state->offset + (int32_t)sizeof(command_array_header) + bytes);
    state->header->size = state->offset;
}

void command_encode_string(command_codec_state *state, const char *string, int16_t maximum_string_length)
{
    if (state->failed) return;
    if (!codec_argument(state, string != nullptr, __LINE__, "string")) return;
    const int32_t length = (int32_t)strnlen(string, maximum_string_length > 0 ? (size_t)maximum_string_length : 0);
    if (state->offset + length + 1 > MAXIMUM_COMMAND_SIZE)
    {
        encoder_overflow(state, __LINE__, "state->offset+string_length+1<=MAXIMUM_COMMAND_SIZE");
        return;
    }
    uint8_t *field = codec_bytes(state);
    memcpy(field, string, (size_t)length);
    field[length] = 0;
    state->offset = (int16_t)(state->offset + length + 1);
    state->header->size = state->offset;
}

void command_decode_new(command_codec_state *state, command_header *header, int16_t verb)
{
    state->header = header;
    state->offset = MINIMUM_COMMAND_SIZE;
    state->failed = false;
    if (!codec_argument(state, header != nullptr, __LINE__, "header")) return;
    if (header->verb != verb)
    {
        codec_failed(state, __LINE__, "header->verb==verb", "a verb other than its reader's",
                     "expected command @%p to have verb #%d (NOT #%d).", (void *)header, verb, header->verb);
        return;
    }
    // Every field is read inside `size`; a size outside the record's range
    // cannot be trusted to say where the command ends.
    if (header->size < MINIMUM_COMMAND_SIZE || header->size > MAXIMUM_COMMAND_SIZE)
        codec_failed(state, __LINE__, "header->size>=MINIMUM_COMMAND_SIZE && header->size<=MAXIMUM_COMMAND_SIZE",
                     "a size outside 8..4096", "command @%p has #%d bytes", (void *)header, header->size);
}

// Whether [offset, offset + bytes) lies inside the command; logs `what` when not.
static bool decoder_has_room(command_codec_state *state, int32_t bytes, int32_t line, const char *expression,
                             const char *what)
{
    if (state->offset + bytes <= state->header->size) return true;
    codec_failed(state, line, expression, "a field runs past the end of the command",
                 "%s [#%d,#%d) can't be decoded from %p [0,#%d)", what, state->offset, state->offset + bytes,
                 (void *)state->header, state->header->size);
    return false;
}

void *command_decode_data(command_codec_state *state, int16_t data_size, const byte_swap_code *bs_data)
{
    if (state->failed) return nullptr;
    if (!codec_argument(state, data_size > 0, __LINE__, "data_size>0") ||
        !codec_argument(state, bs_data != nullptr, __LINE__, "bs_data"))
        return nullptr;
    if (!decoder_has_room(state, data_size, __LINE__, "state->offset+data_size<=state->header->size", "data"))
        return nullptr;
    uint8_t *field = codec_bytes(state);
    if (!byte_swap_data("command data", field, data_size, 1, bs_data))
    {
        state->failed = true;
        return nullptr;
    }
    state->offset = (int16_t)(state->offset + data_size);
    return field;
}

void *command_decode_array(command_codec_state *state, int16_t *array_size, int16_t data_size,
                           const byte_swap_code *bs_data)
{
    if (array_size) *array_size = 0;
    if (state->failed) return nullptr;
    if (!codec_argument(state, array_size != nullptr, __LINE__, "array_size") ||
        !codec_argument(state, data_size > 0, __LINE__, "data_size>0") ||
        !codec_argument(state, bs_data != nullptr, __LINE__, "bs_data"))
        return nullptr;
    if (!decoder_has_room(state, (int32_t)sizeof(command_array_header), __LINE__,
                          "state->offset+sizeof(struct command_array_header)<=state->header->size", "array header"))
        return nullptr;
    uint8_t *count_field = codec_bytes(state);
    const int16_t count = (int16_t)read_be16(count_field);
    if (count < 0)
    {
        codec_failed(state, __LINE__, "array_header->size>=0", "an array of a negative count",
                     "array @%p has #%d records", (void *)count_field, count);
        return nullptr;
    }
    const int32_t bytes = (int32_t)count * data_size;
    state->offset = (int16_t)(state->offset + (int32_t)sizeof(command_array_header));
    if (!decoder_has_room(state, bytes, __LINE__, "state->offset+data_size*array_size<=state->header->size", "array"))
        return nullptr;
    uint8_t *records = codec_bytes(state);
    if (count > 0 && !byte_swap_data("command array", records, data_size, count, bs_data))
    {
        state->failed = true;
        return nullptr;
    }
    memcpy(count_field, &count, sizeof(count)); // the count too is in host order now
    state->offset = (int16_t)(state->offset + bytes);
    *array_size = count;
    return records;
}

char *command_decode_string(command_codec_state *state, int16_t maximum_string_length)
{
    if (state->failed) return nullptr;
    char *text = (char *)codec_bytes(state);
    const int32_t left = state->header->size - state->offset;
    const int32_t maximum = maximum_string_length > 0 ? maximum_string_length : 0;
    // The terminator must follow at most `maximum` characters, inside the command.
    const int32_t searched = left < maximum + 1 ? left : maximum + 1;
    const char *end = searched > 0 ? (const char *)memchr(text, 0, (size_t)searched) : nullptr;
    if (!end)
    {
        if (searched < maximum + 1)
            decoder_has_room(state, searched + 1, __LINE__, "state->offset+string_length+1<=state->header->size",
                             "string");
        else
            codec_failed(state, __LINE__, "string_length<=maximum_string_length", "a string longer than its limit",
                         "string @%p decode from %p wasn't null terminated", (void *)text, (void *)state->header);
        return nullptr;
    }
    state->offset = (int16_t)(state->offset + (end - text) + 1);
    return text;
}
