#pragma once
// What the film and saved-game fuzz targets share: a headless game brought up
// once, as vesk_sim brings it up, in a data directory of its own holding the
// demo data set, where the small golden-shore map is played, so that a replay
// or a continued game costs little; and the files a run writes from the
// fuzzer's bytes.
//
// The data directory is made in /dev/shm (else in the directory the fuzzer
// starts in) and removed at exit; findings are written where the fuzzer
// started.  Header only: each target includes it once.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cseries/errors.h"
#include "demo_data_set.h"
#include "fuzz_support.h"
#include "determinism_harness.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "unit_orders.h"
#include "vesk.h"

// The golden-shore test map: 16 x 16, a shed and three warriors.
#define SMALL_GAME_MAP FOUR_CHARACTER_CODE('g', 'o', 'l', 'd')

static struct small_game_globals
{
    char data_directory[4096];
    char fuzzer_directory[4096]; // where the fuzzer reads and writes its corpus and findings
} small_game_globals;

// Each input runs in the data directory; between inputs the fuzzer's own
// directory is current, so that relative corpus paths work.
static inline void enter_small_game(void)
{
    if (chdir(small_game_globals.data_directory) != 0) abort();
}

static inline void leave_small_game(void)
{
    if (chdir(small_game_globals.fuzzer_directory) != 0) abort();
}

static inline void remove_small_game_directory(void)
{
    if (!small_game_globals.data_directory[0]) return;
    std::error_code ignored;
    std::filesystem::remove_all(small_game_globals.data_directory, ignored);
}

// Makes the data directory (its "tags" files links to the demo data set),
// enters it and brings the game up headless there, staying in it (the
// caller leaves with leave_small_game).  False when any step fails.
static inline bool set_up_small_game(void)
{
    const std::string demo = fuzz_demo_data_set();
    if (demo.empty()) return false;
    if (!getcwd(small_game_globals.fuzzer_directory, sizeof(small_game_globals.fuzzer_directory) - 64)) return false;
    // In memory where there is a memory file system: saved games are synced.
    const bool in_memory = access("/dev/shm", W_OK) == 0;
    snprintf(small_game_globals.data_directory, sizeof(small_game_globals.data_directory),
             "%s/vesk_small_game_XXXXXX", in_memory ? "/dev/shm" : small_game_globals.fuzzer_directory);
    if (!mkdtemp(small_game_globals.data_directory))
    {
        small_game_globals.data_directory[0] = 0;
        return false;
    }
    atexit(remove_small_game_directory);
    if (chdir(small_game_globals.data_directory) != 0) return false;
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(demo + "/tags", error))
        std::filesystem::create_symlink(entry.path(), std::filesystem::path(TAG_FILES_FOLDER) / entry.path().filename(),
                                        error);
    if (error) return false;
    // Started and stopped once, so that every later start only loads the map.
    char reason[512];
    if (!start_simulation(nullptr, SMALL_GAME_MAP, 1, reason, sizeof(reason)))
    {
        fprintf(stderr, "the small map does not start: %s\n", reason);
        return false;
    }
    stop_simulation();
    set_ignore_errors(true);
    return true;
}

// Back to the state between maps, with the file at `path` gone from the
// store and the disk.  A file opened by path stays open until the store is
// reopened (a map start does that) and keeps the size it had when opened: a
// start that failed before reopening it would leave the next input's file
// read at this one's size, so it is deleted through the store.
static inline void reset_small_game(const char *path)
{
    stop_simulation();
    dispose_vesk_from_old_map();
    const int32_t tag_index = tag_file_open_local_file(path);
    if (tag_index == NONE || !tag_file_delete(tag_index)) remove(path);
    clear_pending_error();
}

// The seeded game a seed is made of: the small map, seed 7, with the three
// warriors of player 0 given one order of every kind through the game's
// command builders (so that the film holds commands), run `ticks` ticks.
// False when it cannot start or run.
static inline bool run_small_seed_game(int32_t ticks)
{
    static const char orders_text[] = "2 0 move 10,11,12 4096,3000 4600,3300\n"
                                      "8 0 scatter 10,11\n"
                                      "14 0 attack-ground 12 4096,3800\n"
                                      "20 0 stop 10\n"
                                      "26 0 guard 11\n"
                                      "32 0 taunt 12\n"
                                      "38 0 celebrate 10\n"
                                      "44 0 special 11\n"
                                      "50 0 retreat 12\n"
                                      "56 0 attack 10 11\n"
                                      "90 0 move 10,11,12 3000,2000\n";
    FILE *file = fopen("seed.orders", "w");
    if (!file || fputs(orders_text, file) < 0 || fclose(file) != 0) return false;
    static std::vector<unit_order> orders;
    char reason[512];
    const bool read = read_unit_orders("seed.orders", &orders, reason, sizeof(reason));
    remove("seed.orders");
    if (!read || !start_simulation(nullptr, SMALL_GAME_MAP, 7, reason, sizeof(reason))) return false;
    set_simulation_tick_procedure(give_unit_orders_of_tick, &orders);
    const bool ran = run_simulation(ticks, nullptr, 0, nullptr, nullptr);
    set_simulation_tick_procedure(nullptr, nullptr);
    return ran;
}

// The flags the targets run under, added to the fuzzer's unless it has them:
// "-entropic=0", since every input starts a map, which reaches tens of
// thousands of features, and the entropic schedule's bookkeeping of each
// feature's frequency then costs more than the input itself (a third of the
// executions); and "-artifact_prefix=DIR/", DIR the directory the fuzzer
// starts in, since inputs run in the data directory, which may be elsewhere.
// libFuzzer reads its flags after LLVMFuzzerInitialize, which may change them.
static inline void add_small_game_flags(int *argc, char ***argv)
{
    static std::vector<char *> arguments;
    static char entropic[] = "-entropic=0";
    static char artifacts[4200];
    bool has_entropic = false, has_artifacts = false;
    for (int i = 1; i < *argc; ++i)
    {
        has_entropic = has_entropic || strncmp((*argv)[i], "-entropic=", 10) == 0;
        has_artifacts = has_artifacts || strncmp((*argv)[i], "-artifact_prefix=", 17) == 0;
    }
    arguments.assign(*argv, *argv + *argc);
    // The flags go before the corpus directories, with the others.
    if (!has_entropic) arguments.insert(arguments.begin() + 1, entropic);
    if (!has_artifacts)
    {
        snprintf(artifacts, sizeof(artifacts), "-artifact_prefix=%s/", small_game_globals.fuzzer_directory);
        arguments.insert(arguments.begin() + 1, artifacts);
    }
    *argc = (int)arguments.size();
    arguments.push_back(nullptr);
    *argv = arguments.data();
}

// The tag data of the local tag file at `path` (after its header) when the
// environment variable VESK_FUZZ_SEED names a file: the seed a target makes
// is written there.  For making the seed corpus with the project's own code.
static inline void write_seed_if_asked(const char *path)
{
    const char *seed = getenv("VESK_FUZZ_SEED");
    if (!seed || !seed[0]) return;
    FILE *in = fopen(path, "rb");
    if (!in) return;
    std::vector<uint8_t> bytes;
    uint8_t piece[4096];
    size_t count;
    while ((count = fread(piece, 1, sizeof(piece), in)) > 0) bytes.insert(bytes.end(), piece, piece + count);
    fclose(in);
    if (bytes.size() < sizeof(local_tag_file_header)) return;
    FILE *out = fopen(seed, "wb");
    if (!out) return;
    fwrite(bytes.data() + sizeof(local_tag_file_header), 1, bytes.size() - sizeof(local_tag_file_header), out);
    fclose(out);
}

// The seed just written by `write_seed_if_asked`, read back as a fuzz input
// (at most 256 KB, as the targets take); empty when there is none.
static inline std::vector<uint8_t> read_written_seed(void)
{
    std::vector<uint8_t> bytes(1 << 18);
    const char *path = getenv("VESK_FUZZ_SEED");
    FILE *seed = path ? fopen(path, "rb") : nullptr;
    const size_t size = seed ? fread(bytes.data(), 1, bytes.size(), seed) : 0;
    if (seed) fclose(seed);
    bytes.resize(size);
    return bytes;
}

// The LLVMFuzzerInitialize of a small-game target: the demo data set and the
// small map, then `make_seed` (which may write the target's seed input);
// aborts when any fails, since no input could run.  Making the data set
// takes a while: it is done once, before the first input.
static inline int initialize_small_game_target(int *argc, char ***argv, bool (*make_seed)(void))
{
    if (!set_up_small_game() || !make_seed()) abort();
    add_small_game_flags(argc, argv);
    leave_small_game();
    return 0;
}
