// Arbitrary bytes as the data of a saved game of a small map, stored as a save
// is stored (a new local tag in the saved-games folder), continued as
// continue_saved_game continues the load dialog's choice
// (continue_saved_game_from_header: both headers, the whole-file check, the
// replay set up) and, when accepted, started as the game starts it and run to
// a few ticks past the save (its film replays at full speed up to the save,
// then the game goes on).  A refused save must be refused cleanly, with
// nothing started; an accepted one must run without reading outside a block
// or a command.  A save whose headers put it further than SAVE_TICKS_LIMIT
// ticks on is not continued, so that each input takes well under a second.
//
// VESK_FUZZ_SEED=FILE makes the target write a whole save of the small map
// (taken at tick 60 of a seeded game with orders) to FILE before fuzzing, and
// check that it continues: the seed corpus.

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

#define FUZZ_SAVE_SUBGROUP FOUR_CHARACTER_CODE('f', 'u', 'z', 'z')

// The bytes as the saved game "fuzz", made as a save is made (a new local tag
// in the saved-games folder, written and committed); its index, NONE when it
// could not be made.
static int32_t store_saved_game(const uint8_t *data, size_t size)
{
    int32_t tag_index = tag_file_new(SAVED_GAME_GROUP_TAG, "fuzz", SAVE_GAME_VERSION_NUMBER);
    if (tag_index == NONE) return NONE;
    if ((size > 0 && !tag_file_write(&tag_index, 0, (int32_t)size, data)) || !tag_file_commit(tag_index))
    {
        tag_file_delete(tag_index);
        return NONE;
    }
    return tag_index;
}

// Back between maps, the saved game "fuzz" deleted.
static void remove_saved_game(void)
{
    stop_simulation();
    dispose_vesk_from_old_map();
    const int32_t tag_index = tag_file_open(SAVED_GAME_GROUP_TAG, FUZZ_SAVE_SUBGROUP);
    if (tag_index != NONE) tag_file_delete(tag_index);
    clear_pending_error();
}

// Continues the saved game at `tag_index` as the load dialog's choice is
// continued and runs it to a few ticks past the save, the map started as
// the game starts a continued game (its local folder, where saved games are,
// in use); the game time reached, NONE when it was refused or not run or its
// film could not be read to the save.
static int32_t continue_and_run(int32_t tag_index)
{
    recording_file_header file_header;
    save_game_header header;
    new_game_data game;
    saved_game_restoration restoration;
    if (tag_index == NONE || !read_saved_game_headers(tag_index, &file_header, &header) ||
        file_header.recording_ending_time < 0 || file_header.recording_ending_time > SAVE_TICKS_LIMIT ||
        !continue_saved_game_from_header(tag_index, &game, &restoration))
        return NONE;
    if (game.parameters.type != _game_type_replay) abort();
    if (!initialize_vesk_for_new_map(&game, false)) return NONE;
    game_->state = _game_state_running;
    const int32_t end = restoration.save_game_ticks + TICKS_AFTER_SAVE;
    int32_t idle = 0;
    while (game_->game_time < end && idle < 64) idle = update_vesk(30) > 0 ? 0 : idle + 1;
    game_->state = _game_state_displaying_main_menu;
    return replay_failed() ? NONE : game_->game_time;
}

// The seed, and a check that the target continues it past the save.
static bool make_seed(void)
{
    if (!getenv("VESK_FUZZ_SEED")) return true;
    char reason[512];
    if (!run_small_seed_game(60) || !save_simulation_game("seed.save", reason, sizeof(reason))) return false;
    write_seed_if_asked("seed.save");
    reset_small_game("seed.save");
    const std::vector<uint8_t> bytes = read_written_seed();
    const size_t size = bytes.size();
    const int32_t reached = continue_and_run(store_saved_game(bytes.data(), size));
    remove_saved_game();
    if (reached < 60 + TICKS_AFTER_SAVE)
    {
        fprintf(stderr, "the seed save is not continued past its tick (%d)\n", reached);
        return false;
    }
    return true;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    return initialize_small_game_target(argc, argv, make_seed);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 18)) return 0;
    enter_small_game();
    continue_and_run(store_saved_game(data, size));
    remove_saved_game();
    leave_small_game();
    return 0;
}
