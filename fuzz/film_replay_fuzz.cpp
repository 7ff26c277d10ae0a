// Arbitrary bytes as the data of a film of a small map, replayed to its end as
// `vesk_sim --film` replays it: the film gives the map, seed and players and
// the game runs to the film's ending time, then must say whether the film
// could be read to its end; a film left open (ending time 0) plays until its
// last whole command, as the game's film playback plays it.  A refused film
// must start nothing; a replayed one must run without reading outside a block
// or a command.  Only the fuzz target bounds the run: a film whose header
// ends it later than REPLAY_TICKS_LIMIT ticks is not played, and an open one
// plays at most that long, so that each input takes well under a second; the
// game's own checks are unchanged.
//
// VESK_FUZZ_SEED=FILE makes the target write the film of a 120-tick seeded
// game of the small map, with orders, to FILE before fuzzing, and check that
// it replays to its end: the seed corpus.

#include "small_game.h"

#include "game_records.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"

enum
{
    REPLAY_TICKS_LIMIT = 1200,
};

#define FUZZ_FILM_PATH "fuzz.film"

// Replays the film at FUZZ_FILM_PATH, whose data starts with `data`, to its
// end; the game time reached, NONE when it was refused, not run or could not
// be read to its end.
static int32_t replay(const uint8_t *data, size_t size)
{
    // The ending time as the film's header gives it, read before anything runs.
    recording_file_header header;
    if (size < sizeof(header)) return NONE;
    memcpy(&header, data, sizeof(header));
    byte_swap_recording_header(&header);
    if (header.recording_ending_time < 0 || header.recording_ending_time > REPLAY_TICKS_LIMIT) return NONE;
    char reason[512];
    int32_t ticks = 0;
    if (!start_simulation_from_film(nullptr, FUZZ_FILM_PATH, &ticks, reason, sizeof(reason))) return NONE;
    if (ticks != header.recording_ending_time) abort();
    if (ticks > 0)
        run_simulation(ticks, nullptr, 0, nullptr, nullptr);
    else
    {
        // Open: to its last whole command, within the bound.
        while (!replay_over() && game_->game_time < REPLAY_TICKS_LIMIT)
            if (!run_simulation(30, nullptr, 0, nullptr, nullptr)) break;
    }
    return replay_failed() ? NONE : game_->game_time;
}

// The seed, and a check that the target replays it to its end.
static bool make_seed(void)
{
    if (!getenv("VESK_FUZZ_SEED")) return true;
    char reason[512];
    if (!run_small_seed_game(120)) return false;
    stop_simulation();
    if (!save_simulation_film("seed.film", reason, sizeof(reason))) return false;
    write_seed_if_asked("seed.film");
    reset_small_game("seed.film");
    const std::vector<uint8_t> bytes = read_written_seed();
    const size_t size = bytes.size();
    if (!write_fuzz_tag_file(FUZZ_FILM_PATH, RECORDING_GROUP_TAG, RECORDING_VERSION_NUMBER, bytes.data(), size))
        return false;
    const int32_t reached = replay(bytes.data(), size);
    reset_small_game(FUZZ_FILM_PATH);
    if (reached != 120)
    {
        fprintf(stderr, "the seed film does not replay to its end (%d)\n", reached);
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
    if (write_fuzz_tag_file(FUZZ_FILM_PATH, RECORDING_GROUP_TAG, RECORDING_VERSION_NUMBER, data, size))
        replay(data, size);
    reset_small_game(FUZZ_FILM_PATH);
    leave_small_game();
    return 0;
}
