// Arbitrary bytes as the data of a saved game: both headers are read and
// checked, the snapshot is read through the game's own reader and the whole
// file is checked as continuing it would.  Nothing
// may crash, read outside a buffer or allocate more than the bytes given
// could describe; a picture handed back must be as large as it says.
//
// Runs in the working directory, where it writes "saved games/fuzz".

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "fuzz_support.h"
#include "game_records.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"
#include "saved_games.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

static void quiet_message_box(const char *) {}

static bool set_up(void)
{
    set_message_box_proc(quiet_message_box);
    initialize_tag_files();
    initialize_game_record();
    return initialize_recording();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = set_up();
    if (!ready || size > (1 << 18)) return 0;
    // The checks on copies of exactly the bytes given.
    if (size >= RECORDING_FILE_HEADER_SIZE + SAVE_GAME_HEADER_SIZE)
    {
        recording_file_header file_header;
        save_game_header header;
        memcpy(&file_header, data, sizeof(file_header));
        memcpy(&header, data + RECORDING_FILE_HEADER_SIZE, sizeof(header));
        byte_swap_recording_header(&file_header);
        byte_swap_save_game_header(&header);
        save_game_header_problem(&file_header, &header);
    }

    dispose_tag_files();
    mkdir(SAVED_GAMES_FOLDER, 0755);
    if (!write_fuzz_tag_file(SAVED_GAMES_FOLDER "/fuzz", SAVED_GAME_GROUP_TAG, SAVE_GAME_VERSION_NUMBER, data,
                             size)) return 0;
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    const int32_t tag_index = tag_file_open(SAVED_GAME_GROUP_TAG, FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'));
    int16_t width = 0, height = 0, encoding = 0;
    void *pixels = read_save_game_snapshot(tag_index, &width, &height, &encoding);
    if (pixels)
    {
        const size_t bytes = (size_t)width * (size_t)height * (encoding == 3 ? 4u : 2u);
        if (width <= 0 || height <= 0 || encoding < 1 || encoding > 3 || bytes > size) abort();
        // Touch every byte: a short buffer is caught by the sanitizer.
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < bytes; ++i) sum = (uint8_t)(sum + ((const uint8_t *)pixels)[i]);
        free(pixels);
    }
    // The whole file as continuing it checks it: blocks, the last one, the
    // ending time.  A replay set up and never started is replaced next time.
    new_game_data game;
    if (tag_index != NONE) private_start_replay(FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'), &game, false);
    clear_pending_error();
    return 0;
}
