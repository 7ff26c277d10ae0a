#pragma once
// The tag-file store: every tag the game reads comes through here, from the
// five foundation files, patches, plug-ins and the player's local tags.
//
// A tag is found by (group, subgroup).  Films and saved games are the
// player's files, each its own tag: one whose file holds the subgroup of
// another of its group (a copy) is known by a free subgroup while open, the
// same one for the life of the process.  When several files hold the same
// pair, the one of highest precedence wins, lowest to highest: foundation
// files (and the interface file), patches and add-ons, component plug-ins
// (interface, then lobby), the game's plug-ins in list order, the local
// folder, and last an owner override (update_tag_header_shadows_for_owner_index).
//
// A tag index is a handle: salt in the high 16 bits, slot in the low 16.  It is
// positive and never 0; it goes stale at the next tag_files_open and when its
// tag is deleted, and every call refuses a stale index.
//
// Main thread only: the store takes no locks.

#include <cstdint>

#include "cseries/cseries.h"
#include "tag_files/tag_file_formats.h"

// Folders, relative to the working directory (the program's own).
#define TAG_FILES_FOLDER "tags"
#define PLUGINS_FOLDER "plugins"
#define PREFERENCES_FOLDER "preferences"
#define FILMS_FOLDER "films"
#define SAVED_GAMES_FOLDER "saved games"
#define LOCAL_TAGS_FOLDER "local"
#define OOS_CHECKER_FILMS_FOLDER "oos_checker_films"

enum
{
    NUMBER_OF_FOUNDATION_TAG_FILES = 5,
};

#define PREFERENCES_GROUP_TAG FOUR_CHARACTER_CODE('p', 'r', 'e', 'f')
#define RECORDING_GROUP_TAG FOUR_CHARACTER_CODE('r', 'e', 'c', 'o')
#define SAVED_GAME_GROUP_TAG FOUR_CHARACTER_CODE('s', 'a', 'v', 'e')
#define MESH_GROUP_TAG FOUR_CHARACTER_CODE('m', 'e', 's', 'h')
#define COLLECTION_GROUP_TAG FOUR_CHARACTER_CODE('.', '2', '5', '6')

// The description of a tag; also a filter for tag_file_enumerate, where a
// field that holds NONE (or an empty name) matches every tag.
struct tag_file_info
{
    char name[TAG_NAME_SIZE];
    uint32_t user_data;
    int16_t version;
    int16_t foundation_tag_file_index; // 0-4 for a tag of a foundation file, else NONE
    int16_t type;                      // the tag_file_type of the file that holds it
    int16_t owner_index;               // the open file that holds it (see update_tag_header_shadows_for_owner_index)
    int32_t size;                      // bytes of tag data
    tag group_tag;
    tag subgroup_tag;
};
static_assert(sizeof(tag_file_info) == 56);

// File name of foundation file `index` (0-4) inside "tags", or null.
const char *foundation_tag_file_name(int32_t index);

#define INTERFACE_TAG_FILE_NAME "interface.tags"

// ---- life cycle -----------------------------------------------------------

// Sets up the store and scans "plugins" (indexes 0..count-1 stay fixed until
// dispose_tag_files).  Opens no tag file: tag_files_open does.
void initialize_tag_files(void);

// Closes every file and forgets the plug-in table (tests, shutdown).
void dispose_tag_files(void);

// Closes every tag file and opens them again: the foundation files, the
// interface file, patches and add-ons from "tags", the chosen component
// plug-ins, the game's plug-ins in list order, and the local folders.
// `local_choice`: 1 leaves local copies of game data out, 0 takes them in, -1
// keeps the current choice.  `plugin_indexes` with `plugin_count` names the
// game's plug-ins (at most 16; bad and repeated indexes are dropped); null with
// -1 keeps the current choice.  `reserved` is -1 and `flags` 0.  Rebuilds the
// entry points.  Every earlier tag index goes stale.  Returns 0, or the first
// error code (already reported: 11 a missing foundation file, 10 a refused
// file) while every other file stays open.
int32_t tag_files_open(int32_t local_choice, const int16_t *plugin_indexes, int32_t plugin_count,
                       int32_t reserved, int32_t flags);

// ---- finding and describing tags -------------------------------------------

// The index of the winning tag of (group, subgroup), or NONE.
int32_t tag_file_open(tag group, tag subgroup);

// The index of the winning visible tag of `group` whose name equals `name`
// without regard to case, or NONE.  Among several, the highest precedence.
int32_t tag_file_find_by_name(tag group, const char *name);

// Fills `info` for a live index.  False (info untouched) for a stale or bad one.
bool tag_file_info_get(int32_t tag_index, tag_file_info *info);

// Clears `info` so that, as a filter, it matches every tag.
void tag_file_info_new(tag_file_info *info);

// Counts the visible winning tags that match `filter`, writing up to
// `maximum` indexes into `indexes` when it is not null.  With a null buffer
// the full count is returned (pass -1 as maximum).  Order: by group, then
// subgroup, as unsigned codes.
int32_t tag_file_enumerate(const tag_file_info *filter, int32_t *indexes, int32_t maximum);

// The tag's name; "" for a stale index.  Valid until the tag is renamed,
// deleted or the store reopened.
const char *tag_file_name_get(int32_t tag_index);

// The tag's full file name: for a local tag the name of its file (the tag
// name), for a tag of a monolithic file the tag name.  "" for a stale index.
const char *tag_file_full_filename_get(int32_t tag_index);

// The modification time of a local tag's file (seconds since 1970, saturated
// to 32 bits), or -1 for a tag of a monolithic file or a stale index.
// `reserved` is null.
int32_t get_tag_modification_date(int32_t tag_index, void *reserved);

// Lets the tags of open file `owner_index` (tag_file_info.owner_index) win over
// every other tag of (group, subgroup); NONE removes the override.  Overrides
// last until the next tag_files_open.
void update_tag_header_shadows_for_owner_index(tag group, tag subgroup, int32_t owner_index);

// ---- reading and writing ---------------------------------------------------

// Reads `size` bytes at `offset` of the tag's data into `buffer`.
// False, reported with code 18, when the index is stale or the range lies
// outside the tag; nothing is read then.
bool tag_file_read(int32_t tag_index, int32_t offset, int32_t size, void *buffer);

// The same read, for the preloader's read-ahead.
bool tag_file_read_ahead(int32_t tag_index, int32_t offset, int32_t size, void *buffer);

// Writes `size` bytes at `offset` of the tag's data.  A write past the end
// grows the tag (a gap reads as zeros).  A tag of a monolithic file is first
// copied to the local folder (the monolithic file never changes) and
// `*tag_index` then names the copy.  False (reported) for a stale index, a
// negative range, or a failed file operation.
bool tag_file_write(int32_t *tag_index, int32_t offset, int32_t size, const void *data);

// Makes every local tag written since the last flush durable on disk, and
// commits every pending replacement (tag_file_commit).  False when one could
// not be synced or committed (reported); such a tag stays due, and the next
// flush tries it again.
bool tag_files_flush(void);

// Makes one local tag durable on disk and, when it is a pending replacement
// (tag_file_new over a taken name), puts it in the replaced tag's place.
// False (reported) for a stale index, a tag of a monolithic file, or when it
// could not be synced or renamed: a replaced tag is then still whole.
bool tag_file_commit(int32_t tag_index);

// Creates an empty local tag of `group` named `name` with tag version
// `version`; a local tag of that group with the same name (without regard to
// case) is replaced.  The subgroup is the replaced tag's, else the name's
// first four characters when free in the group, else a random free one.
// A replacement is written under a hidden name and is pending: its index
// reads, writes and describes it, but every search still finds the tag it
// replaces, until tag_file_commit (or tag_files_flush) flushes it and
// renames it over that tag in one step.  Deleting a pending tag, or a crash
// before the commit, leaves the replaced tag as it was; so does a commit
// that fails.  NONE (reported) for a name that is not allowed or a file that
// cannot be made; a tag it would have replaced then stays as it was.
int32_t tag_file_new(tag group, const char *name, int16_t version);

// Same, a file only its owner may read or write (mode 0600), for a record
// that holds a secret.
int32_t tag_file_new_owner_only(tag group, const char *name, int16_t version);

// Same, but the new tag is pending under a free name as well: nothing finds
// it, and no crash can leave it half written, before tag_file_commit.  For a
// file the player keeps (a saved game).
int32_t tag_file_new_pending(tag group, const char *name, int16_t version);

// Same as tag_file_new, always with a fresh random subgroup that is free in the group and is
// neither 0 nor NONE.  The draws come from a private generator seeded from
// /dev/urandom (or the clock), never from the game's synchronized one.
int32_t tag_file_new_with_random_subgroup_tag(tag group, const char *name, int16_t version);

// Reads the local tag file `name` of `group` again from the group's folder,
// where another process may have written, replaced or removed it since the
// folder was scanned: the store's header for it is replaced by the file's
// (dropped when there is no file).  The file is never changed.  A header
// with writes not yet on disk is kept as it is.  The tag's index, or NONE
// when the folder holds no readable tag of the group by that name.
int32_t tag_file_reload_local(tag group, const char *name);

// Moves a file that holds `name` in the group's folder but is no tag of the
// group (damaged, cut to nothing by a crash) aside to the hidden name
// ".<name>.damaged" (".<name>.damaged-2" ... when that is taken), keeping
// its bytes, so that a tag the game rewrites under a fixed name can be made
// again.  False, with nothing moved, when the name is free, is a tag the
// store knows, or cannot be moved (reported).
bool tag_file_set_aside_damaged(tag group, const char *name);

// Deletes a local tag and its file; its index goes stale.  False for a stale
// index, a tag of a monolithic file (which never changes), or a file that
// could not be removed (reported; the tag then stays, index and all).
bool tag_file_delete(int32_t tag_index);

// Renames a tag (at most 31 characters, no '/', "..", leading '.' or control
// characters).  A tag of a monolithic file is copied to the local folder first
// and `*tag_index` then names the copy.  False when the name is not allowed
// or another local tag of the group has it already.
bool tag_file_name_set(int32_t *tag_index, const char *name);

// Keeps the films and saved games ("films", "saved games") under the absolute
// `directory` instead of the program's directory, from the next tag_files_open
// on: a tool run beside a player's game makes and reads its own, never the
// player's.  Null or empty goes back to the program's directory.  False, with
// nothing changed, for a relative or too long path.
bool tag_files_set_player_folders_root(const char *directory);
// That directory, or "" for the program's own.
const char *tag_files_player_folders_root(void);

// ---- local tag files outside the local folders ----------------------------

// Opens the local tag file at `path` (a film given on the command line) as a
// local tag of the highest precedence, visible whatever the local-folder
// switch.  Its index, or NONE when the file is missing or refused (logged).
// It stays open until the next tag_files_open.
int32_t tag_file_open_local_file(const char *path);

// Opens every local tag file in the folder `path` (e.g. "oos_checker_films")
// the same way, in file-name order, writing up to `maximum` indexes.  Returns
// how many were opened; -1 when the folder cannot be read.
int32_t tag_files_open_local_folder(const char *path, int32_t *indexes, int32_t maximum);

// ---- checksums and patches -------------------------------------------------

// CRC-32 over the five foundation files' checksums (big-endian, in file order,
// 0 for a file that is not open).  Changes with any byte of their data.
uint32_t tag_files_get_foundation_checksum(void);

// CRC-32 over the open patches (their count, then each one's number and
// checksum, by patch number), never 0 in practice: with the foundation
// checksum it names the data a film or a network game is played on.
uint32_t tag_files_get_patch_checksum(void);

// The highest patch number among the open patches, 0 without patches.
int32_t tag_files_get_patch_version(void);

// True when every required patch is open.  Otherwise false and, when
// `missing` is not null, the file name of the first missing one.
bool tag_files_check_required_patches(char *missing, int32_t size);

// Start-up check: when a required patch is missing, shows "Required patch file
// '%s' is missing." in a message box and exits with status 11.
void tag_files_verify_required_patches(void);

// The file name of required patch `index`, or null past the last one.
const char *required_patch_file_name(int32_t index);
int32_t required_patch_number(int32_t index);

// ---- temporary collection preview ----------------------------------------

// The collections module loads and disposes the preview's collection through
// its table (tag_files/collection_procedures.h).

// Opens collection `collection_tag` of plug-in `plugin_index` for a preview,
// outside the precedence chain, discarding the previous temporary collection
// first (and closing its plug-in's file when the plug-in differs).  Returns
// the collection index from the load hook, or NONE (also without a hook).
int32_t tag_file_collection_open_temporary(int32_t plugin_index, tag collection_tag);

// Discards the temporary collection and closes its file.  Pass -1.
void tag_file_collection_close_temporary(int32_t which);
