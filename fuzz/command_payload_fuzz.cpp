// Arbitrary bytes as one command as it travels (big-endian, header first), the
// way a damaged film, a damaged saved game or a hostile peer hands it over,
// judged with the program's own verb readers: the check answers without an
// assertion; a film and a saved game holding the command as their one block
// are refused at load exactly when the command does not decode; and a film
// that loads replays without an assertion.  Any assertion is a finding.
//
// Runs in the working directory, where it writes "fuzz.film".

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "fuzz_support.h"
#include "game_records.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"
#include "subsystems.h"
#include "unit_commands.h"

static void crash_on_assertion(const char *, int32_t, const char *) { abort(); }

static bool set_up(void)
{
    quiet_fuzz_errors();
    set_assertion_observer(crash_on_assertion);
    register_built_subsystems(); // every verb's reader
    initialize_tag_files();
    initialize_game_record();
    return initialize_commands() && initialize_recording();
}

// A closed film or saved game whose one block, marked last, is the command.
static std::vector<uint8_t> recording_of(const uint8_t *command, size_t size, int16_t type)
{
    recording_file_header header;
    memset(&header, 0, sizeof(header));
    header.version = RECORDING_VERSION_NUMBER;
    header.type = type;
    header.snapshot_offset = RECORDING_FILE_HEADER_SIZE;
    header.monster_initializers_offset = header.monster_placement_offset = header.data_offset =
        RECORDING_FILE_HEADER_SIZE;
    header.recording_ending_time = 30;
    byte_swap_recording_header(&header);
    recording_block_header block = {_last_recording_block_flag, (uint16_t)size, 1};
    byte_swap_recording_block_header(&block);
    std::vector<uint8_t> file((const uint8_t *)&header, (const uint8_t *)&header + sizeof(header));
    file.insert(file.end(), (const uint8_t *)&block, (const uint8_t *)&block + sizeof(block));
    file.insert(file.end(), command, command + size);
    return file;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = set_up();
    if (!ready || size < sizeof(command_header) || size > MAXIMUM_COMMAND_SIZE) return 0;
    // The command whole and exactly its bytes: its size field says the input's length.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;
    copy[0] = (uint8_t)(size >> 8), copy[1] = (uint8_t)size;
    // Its tick lies inside the film's 30: a later one is another refusal.
    copy[4] = copy[5] = copy[6] = 0, copy[7] = (uint8_t)(copy[7] % 31);
    alignas(command_header) uint8_t command[MAXIMUM_COMMAND_SIZE];
    memcpy(command, copy, size);
    byte_swap_command_header_big((command_header *)command);
    const bool decodes = command_decode_problem((const command_header *)command) == nullptr;

    // The block check sees the command as a film block does.
    if ((recording_block_problem(copy, (int32_t)size, 1) == nullptr) != decodes) abort();

    // A film and a saved game: each is begun (its whole file checked) only
    // when the command decodes; a film begun plays, and every command it
    // queues comes out whole and decoding.
    for (const int16_t type : {(int16_t)_normal_recording_type, (int16_t)_saved_game_recording_type})
    {
        const std::vector<uint8_t> file = recording_of(copy, size, type);
        const bool film = type == _normal_recording_type;
        dispose_tag_files();
        initialize_tag_files();
        if (!write_fuzz_tag_file("fuzz.film", film ? RECORDING_GROUP_TAG : SAVED_GAME_GROUP_TAG,
                                 film ? RECORDING_VERSION_NUMBER : SAVE_GAME_VERSION_NUMBER, file.data(), file.size()))
            break;
        new_game_data game;
        const bool begun =
            film ? begin_film_from_path("fuzz.film", &game) : begin_saved_game_from_path("fuzz.film", &game);
        if (begun && !decodes) abort();
        if (begun && film)
        {
            initialize_commands_for_new_map();
            game_->type = _game_type_replay;
            game_->game_time = game_->target_time = 0;
            initialize_recording_for_new_map(&game);
            for (int32_t pass = 0; pass < 64 && !replay_over(); ++pass)
            {
                update_replay(30);
                while (command_header *queued = dequeue_incoming_command(game_->target_time))
                    if (command_decode_problem(queued)) abort();
                game_->game_time = game_->target_time;
            }
            dispose_recording_from_old_map();
            dispose_commands_from_old_map();
        }
        clear_pending_error();
    }
    free(copy);
    return 0;
}
