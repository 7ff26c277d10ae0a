#pragma once
// What the film and saved-game fuzz targets share: a headless game brought up
// once, as vesk_sim brings it up, in a data directory of its own holding the
// demo data set, where the small golden-shore map is played, so that a replay
// or a continued game costs little; and the files a run writes from the
// fuzzer's bytes.
//
// The data directory is made inside the directory the fuzzer starts in (so
// that a finding, written into the current directory, is found there) and
// removed at exit.  Header only: each target includes it once.

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
#include "determinism_harness.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

// The golden-shore test map: 16 x 16, a shed and three warriors.
#define SMALL_GAME_MAP FOUR_CHARACTER_CODE('g', 'o', 'l', 'd')

static struct small_game_globals
{
    char data_directory[4096];
    char fuzzer_directory[4096]; // where the fuzzer reads and writes its corpus and findings
} small_game_globals;

// Each input runs in the data directory; between inputs the fuzzer's own
// directory is current, so that relative corpus paths work.  A finding
// written while an input runs lands in the data directory, which a crash
// leaves in place (inside the fuzzer's directory).
static void enter_small_game(void)
{
    if (chdir(small_game_globals.data_directory) != 0) abort();
}

static void leave_small_game(void)
{
    if (chdir(small_game_globals.fuzzer_directory) != 0) abort();
}

static void remove_small_game_directory(void)
{
    if (!small_game_globals.data_directory[0]) return;
    std::error_code ignored;
    std::filesystem::remove_all(small_game_globals.data_directory, ignored);
}

// The demo data set, made once per build by the data tool beside the fuzz
// targets ("<build>/bin/vesk_tags") with the demo data script, in
// "<build>/fuzz/demo_data" (made aside and renamed into place, so that
// targets started together never read a half-made set).  Its path, empty
// when it cannot be made.
static std::string small_game_demo_data(void)
{
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (length <= 0) return "";
    exe[length] = 0;
    const std::filesystem::path programs = std::filesystem::path(exe).parent_path();
    const std::string ready = (programs / "demo_data").string();
    if (std::filesystem::exists(ready + "/tags/foundation1.tags")) return ready;
    const std::string tool = (programs.parent_path() / "bin" / "vesk_tags").string();
    const std::string root = std::filesystem::path(__FILE__).parent_path().parent_path().string();
    std::string aside = (programs / "demo_data.XXXXXX").string();
    if (!mkdtemp(aside.data())) return "";
    const std::string command = "ln -s '" + tool + "' '" + aside + "/vesk_tags' && '" + root +
                                "/scripts/build_demo_data.sh' '" + aside + "' >/dev/null && rm '" + aside +
                                "/vesk_tags'";
    std::error_code ignored;
    if (system(command.c_str()) != 0)
    {
        fprintf(stderr, "the demo data could not be made with %s\n", tool.c_str());
        std::filesystem::remove_all(aside, ignored);
        return "";
    }
    // Another target may have renamed its set into place first: then this one goes.
    if (rename(aside.c_str(), ready.c_str()) != 0) std::filesystem::remove_all(aside, ignored);
    return std::filesystem::exists(ready + "/tags/foundation1.tags") ? ready : "";
}

// Makes the data directory (its "tags" files links to the demo data set),
// enters it and brings the game up headless there; the fuzzer's directory is
// current again on success.  False when any step fails.
static bool set_up_small_game(void)
{
    const std::string demo = small_game_demo_data();
    if (demo.empty()) return false;
    if (!getcwd(small_game_globals.fuzzer_directory, sizeof(small_game_globals.fuzzer_directory) - 64)) return false;
    snprintf(small_game_globals.data_directory, sizeof(small_game_globals.data_directory),
             "%s/vesk_small_game_XXXXXX", small_game_globals.fuzzer_directory);
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

// Writes the bytes as the data of a local tag file of `group` at `path`.
static bool write_small_game_file(const char *path, tag group, int16_t version, const uint8_t *data, size_t size)
{
    local_tag_file_header header;
    local_tag_file_header_build(&header, group, FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'), version, 0, "fuzz",
                                (int32_t)size);
    FILE *file = fopen(path, "wb");
    if (!file) return false;
    const bool ok = fwrite(&header, sizeof(header), 1, file) == 1 && (size == 0 || fwrite(data, size, 1, file) == 1);
    return fclose(file) == 0 && ok;
}

// Back to the state between maps, the store reopened (which closes the files
// opened by path: the next run's file of the same name is read anew).
static void reset_small_game(void)
{
    stop_simulation();
    dispose_vesk_from_old_map();
    initialize_vesk_for_new_map(nullptr, true);
    clear_pending_error();
}

// The tag data of the local tag file at `path` (after its header) when the
// environment variable VESK_FUZZ_SEED names a file: the seed a target makes
// is written there.  For making the seed corpus with the project's own code.
static void write_seed_if_asked(const char *path)
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
