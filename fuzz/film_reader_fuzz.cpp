// Arbitrary bytes as the data of a film: its header is read and checked, and
// the film is replayed through the game's own reader, block by block, with
// every command it queues taken out again as the executor would.  Nothing may
// crash, hang or read outside a buffer; a replay must end.  The block and
// header checks also see the bytes directly.
//
// Runs in the working directory, where it writes "fuzz.film".

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "fuzz_support.h"
#include "game_records.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

static void quiet_message_box(const char *) {}

static bool set_up(void)
{
    set_message_box_proc(quiet_message_box);
    initialize_tag_files();
    initialize_game_record();
    return initialize_commands() && initialize_recording();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = set_up();
    if (!ready || size > (1 << 18)) return 0;
    // Copies of exactly the bytes given, so that any read past them is caught.
    if (size >= sizeof(recording_file_header))
    {
        recording_file_header header;
        memcpy(&header, data, sizeof(header));
        byte_swap_recording_header(&header);
        recording_header_problem(&header, (int32_t)size);
    }
    const size_t block = size < RECORDING_BUFFER_SIZE ? size : RECORDING_BUFFER_SIZE;
    uint8_t *commands = (uint8_t *)malloc(block ? block : 1);
    if (!commands) return 0;
    if (block) memcpy(commands, data, block);
    recording_block_problem(commands, (int32_t)block, size > 0 ? data[0] : 0);
    free(commands);

    // A fresh store: it keeps the size of a file it has opened by path.
    dispose_tag_files();
    initialize_tag_files();
    if (!write_fuzz_tag_file("fuzz.film", RECORDING_GROUP_TAG, RECORDING_VERSION_NUMBER, data, size)) return 0;
    new_game_data game;
    if (begin_film_from_path("fuzz.film", &game))
    {
        initialize_commands_for_new_map();
        game_->type = _game_type_replay;
        game_->game_time = 0;
        game_->target_time = 0;
        initialize_recording_for_new_map(&game);
        // Bounded: a film that never ends is a finding only if it keeps the
        // reader busy without moving time.
        for (int32_t pass = 0; pass < 4096 && !replay_over(); ++pass)
        {
            const int32_t before = game_->target_time;
            update_replay(30);
            while (command_header *command = dequeue_incoming_command(game_->target_time))
                if (command->size < MINIMUM_COMMAND_SIZE) abort();
            game_->game_time = game_->target_time;
            if (game_->target_time == before && pass > 64) break;
        }
        dispose_recording_from_old_map();
        dispose_commands_from_old_map();
    }
    clear_pending_error();
    return 0;
}
