#pragma once
// Cutscene movies: the intro, a level's opening movie and its win and loss
// movies, played full screen by the outside program "ffplay" in a child
// process while the game waits (its own loop does not run meanwhile).
//
// A movie is a file "cutscenes/<name>.<mov|smk|mpg>" under the working
// directory (location 0), then under the second data directory (location 1).
// A movie named by four characters may instead be copied out of the earlier
// game's archive "cutscenes/cutscene.gor" (location 0).  The copy is written
// aside and renamed only when the whole entry was read and written, so a
// damaged archive never leaves a truncated movie that later runs would find.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "cseries/byte_swapping.h"

struct file_reference;

#define CUTSCENE_DIRECTORY_NAME "cutscenes"
#define CUTSCENE_ARCHIVE_FILE_NAME "cutscene.gor"
#define CUTSCENE_PLAYER_PROGRAM "ffplay"
// The name the intro state plays.
#define INTRO_CUTSCENE_NAME "prologue.smk"

enum
{
    NUMBER_OF_CUTSCENE_EXTENSIONS = 3, // "mov", "smk", "mpg", tried in that order
    CUTSCENE_ARCHIVE_NAME_LENGTH = 4,
    CUTSCENE_ARCHIVE_HEADER_SIZE = 48,
    CUTSCENE_ARCHIVE_ENTRY_SIZE = 64,
    // Lines of the player's help text are read in pieces of this size.
    CUTSCENE_PLAYER_HELP_LINE_SIZE = 256,
};

// The archive's header (big-endian on disk); only the directory's place and
// its entry count are read.
struct cutscene_archive_header
{
    uint8_t unused0[40];
    int32_t directory_offset; // from the start of the file
    uint16_t entry_count;     // 0: no movies
    uint8_t unused1[2];
};
static_assert(sizeof(cutscene_archive_header) == CUTSCENE_ARCHIVE_HEADER_SIZE);
static_assert(offsetof(cutscene_archive_header, directory_offset) == 40);
static_assert(offsetof(cutscene_archive_header, entry_count) == 44);

// One directory entry (big-endian on disk), at directory_offset + i x 64.
struct cutscene_archive_entry
{
    uint8_t unused0[36];
    char name[CUTSCENE_ARCHIVE_NAME_LENGTH]; // compared byte for byte
    uint8_t unused1[8];
    int32_t data_offset; // from the start of the file
    int32_t data_length; // bytes
    uint8_t unused2[8];
};
static_assert(sizeof(cutscene_archive_entry) == CUTSCENE_ARCHIVE_ENTRY_SIZE);
static_assert(offsetof(cutscene_archive_entry, name) == 36);
static_assert(offsetof(cutscene_archive_entry, data_offset) == 48);
static_assert(offsetof(cutscene_archive_entry, data_length) == 52);

extern const byte_swap_code cutscene_archive_header_bs[];
extern const byte_swap_code cutscene_archive_entry_bs[];

// The options the player's help text offered (asked once per run).
struct ffplay_globals
{
    bool probed;
    bool has_autoexit;
    bool has_exitonkeydown;
    bool has_exitonmousedown;
};

// Start-up: makes the directory "cutscenes" under the working directory.
// Never stops the start-up (a read-only directory only loses the archive's copies).
bool initialize_cutscenes(void);

// Whether the movie exists as a file or can be copied out of the archive;
// otherwise a "Data Missing" warning names it.  `name` may carry an
// extension, which is ignored; it is never changed.
bool found_cutscene(const char *name);

// Plays the movie and waits for the player, in the cutscene state: each file
// found (mov, smk, mpg) is tried, then the archive's copy.  True when a
// player exited with status 0.  A player that fails is reported once per run.
// `flag` is accepted and not used.
bool display_cutscene(const char *name, bool flag);

// Plays movie `which` (0 opening, 1 win, 2 loss) of the level `mesh_tag`.
// False when cutscenes are prevented now, `which` is -1 (none) or out of
// range (logged), or the level has no such movie.
bool display_mesh_cutscene(tag mesh_tag, int16_t which);

// Copies the movie `name` (exactly four characters) out of the archive into
// "cutscenes/<name>.smk", which `out` then names.  False, with no file
// written, when the name, the archive or the entry is unsound (logged) or
// the copy cannot be written.
bool extract_vux_cutscene(file_reference *out, const char *name);

// ---- exposed for tests ----------------------------------------------------------

// One line of the player's help text into the options (a line sets at most one).
void parse_ffplay_help_line(ffplay_globals *globals, const char *line);
const ffplay_globals *get_ffplay_globals(void);
// Forgets the option probe and the once-per-run warning.
void reset_cutscenes_for_tests(void);
