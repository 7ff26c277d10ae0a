// Arbitrary bytes as the data of a saved game of a small map, continued as
// the load dialog's choice is continued (continue_saved_game_from_header:
// both headers, the whole-file check, the replay set up) and, when accepted,
// started as the game starts it and run to a few ticks past the save (its
// film replays at full speed up to the save, then the game goes on).  A
// refused save must be refused cleanly, with nothing started; an accepted one
// must run without reading outside a block or a command.  A save whose game
// time lies further than SAVE_TICKS_LIMIT ticks on is only refused or set up,
// never run, so that each input takes well under a second.
//
// VESK_FUZZ_SEED=FILE makes the target write a whole save of the small map
// (taken at tick 60 of a seeded game) to FILE before fuzzing: the seed corpus.

#include "small_game.h"

#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"
#include "saved_games.h"

enum
{
    SAVE_TICKS_LIMIT = 1200,
    TICKS_AFTER_SAVE = 8,
};

#define FUZZ_SAVE_PATH "fuzz.save"

static bool make_seed(void)
{
    if (!getenv("VESK_FUZZ_SEED")) return true;
    char reason[512];
    if (!start_simulation(nullptr, SMALL_GAME_MAP, 7, reason, sizeof(reason)) ||
        !run_simulation(60, nullptr, 0, nullptr, nullptr) ||
        !save_simulation_game("seed.save", reason, sizeof(reason)))
        return false;
    write_seed_if_asked("seed.save");
    remove("seed.save");
    reset_small_game();
    return true;
}

// Before the first input: making the demo data set takes a while.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!set_up_small_game() || !make_seed()) abort();
    leave_small_game();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 18)) return 0;
    enter_small_game();
    if (!write_small_game_file(FUZZ_SAVE_PATH, SAVED_GAME_GROUP_TAG, SAVE_GAME_VERSION_NUMBER, data, size))
    {
        leave_small_game();
        return 0;
    }
    const int32_t tag_index = tag_file_open_local_file(FUZZ_SAVE_PATH);
    recording_file_header file_header;
    save_game_header header;
    new_game_data game;
    saved_game_restoration restoration;
    if (tag_index != NONE && read_saved_game_headers(tag_index, &file_header, &header) &&
        file_header.recording_ending_time >= 0 && file_header.recording_ending_time <= SAVE_TICKS_LIMIT &&
        continue_saved_game_from_header(tag_index, &game, &restoration))
    {
        if (game.parameters.type != _game_type_replay) abort();
        if (initialize_vesk_for_new_map(&game, true))
        {
            game_->state = _game_state_running;
            const int32_t end = restoration.save_game_ticks + TICKS_AFTER_SAVE;
            int32_t idle = 0;
            while (game_->game_time < end && idle < 64) idle = update_vesk(30) > 0 ? 0 : idle + 1;
            game_->state = _game_state_displaying_main_menu;
        }
    }
    reset_small_game();
    remove(FUZZ_SAVE_PATH);
    leave_small_game();
    return 0;
}
