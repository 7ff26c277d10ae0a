#pragma once
// Plug-ins (monolithic tag files in "plugins"), the encoded plug-in list that
// films, network games and preferences carry, and the entry points (maps)
// offered to the player.

#include <cstdint>

#include "cseries/cseries.h"
#include "tag_files/tag_file_formats.h"

enum
{
    MAXIMUM_PLUGINS = 256,                 // installed plug-ins
    MAXIMUM_PLUGINS_PER_GAME = 16,         // in an encoded list and in a game
    ENCODED_PLUGIN_LIST_SIZE = 512,
    MAXIMUM_MISSING_PLUGINS = 64,
    MAXIMUM_ENTRY_POINTS = 1024,
    MAXIMUM_PLUGIN_REASON_TEXT = 1024,
};

// Bits of a plug-in's version word (not for type 128, whose word is a gameplay version).
enum plugin_version_bits
{
    _plugin_safe_with_earlier_gameplay_bit = 1,
    _plugin_requires_other_plugin_bit = 2,
};
#define PLUGIN_VERSION_NO_FLAGS ((int16_t)-1)

// Plug-in indexes of the base game and of local maps in entry points.
enum
{
    BASE_GAME_PLUGIN_INDEX = -1,
};

// Mesh flags that decide the solo and multiplayer entry-point counts.
#define MESH_SINGLE_PLAYER_ENTRY_POINT_FLAG 0x10000u
#define MESH_MULTIPLAYER_ENTRY_POINTS_MASK 0xFFFFu

struct plugin_datum // one installed plug-in (in memory only)
{
    int16_t identifier;        // its index
    int16_t version;           // version word
    int16_t cached_mono_index; // NONE: nothing is cached
    uint8_t type;              // tag_file_type
    uint8_t hidden;
    uint32_t checksum;
    uint16_t solo_entry_point_count;
    uint16_t multiplayer_entry_point_count;
    char name[TAG_NAME_SIZE]; // also its file name in "plugins"
    char url[TAG_URL_SIZE];   // or, with the requires-other bit, that plug-in's name
};

struct missing_plugin_info
{
    char name[TAG_NAME_SIZE];
    char url[TAG_URL_SIZE];
    uint32_t checksum;
};

struct full_entry_point // one map offered to the player
{
    uint32_t mesh_flags;
    tag subgroup_tag; // the map's mesh tag
    char name[TAG_NAME_SIZE];
    char printed_name[64];
    char dependency_name[TAG_NAME_SIZE]; // the plug-in the map requires
    int16_t level;
    int16_t plugin_index; // BASE_GAME_PLUGIN_INDEX for foundation and local maps
    int16_t priority;
};

// ---- hooks -----------------------------------------------------------------

// Reads the entry-point facts of the 'mesh' tag at `tag_index` into `entry`
// (mesh_flags, printed_name, dependency_name, level, priority); the store
// fills subgroup_tag, name and plugin_index.  False: the tag offers no map.
// The game core registers it before the store first opens; until then no
// tag is an entry point.
typedef bool (*entry_point_reader_procedure)(int32_t tag_index, full_entry_point *entry);
bool register_entry_point_reader_procedure(entry_point_reader_procedure procedure);

// Asks the player a yes/no question (title, text); true for yes.  The dialog
// layer installs one; until then every question is answered no.
typedef bool (*plugin_question_procedure)(const char *title, const char *text);
bool register_plugin_question_procedure(plugin_question_procedure procedure);

// ---- the plug-in table -----------------------------------------------------

// The number of installed plug-ins (indexes 0..count-1).
int32_t tag_file_get_plugin_count(void);

// The plug-in at `plugin_index`, or null.
const plugin_datum *get_plugin_data(int32_t plugin_index);

// The index of the installed plug-in named `name` (without regard to case), or NONE.
int32_t find_plugin_by_name(const char *name);

// Chooses the interface (type 5) and lobby (type 7) component plug-ins by
// name ("" or null: none); they take effect at the next tag_files_open.
void set_component_plugin_names(const char *interface_name, const char *lobby_name);

// Looks up the chosen components' indexes again (after a plug-in rescan).
void update_component_plugin_indices(void);

// ---- encoded plug-in lists -------------------------------------------------

// Encodes `count` plug-ins (at most 16, order kept) into the 512-byte list
// `encoded` (zero-filled past the end).  Returns the bytes used; -1 with a
// logged reason (and 512 zero bytes written) when an index is bad, there are
// more than 16, or the names and urls do not fit: a list is never cut.
int32_t tag_file_plugins_encode(const int16_t *plugin_indexes, int32_t count, void *encoded);

// Decodes a list: true when every listed plug-in is installed (same name
// without regard to case and same checksum).  Writes the indexes (at most 16,
// type-128 plug-ins left out) and their count, the highest version word of the
// type-128 ones (-1 without), and for each missing plug-in the line
// "name - http://url\r" into `reason` (emptied first, `reason_size` bytes).
// Any argument but `encoded` may be null.  False for a list that does not
// decode; nothing past its 512 bytes is read.
bool tag_file_plugins_decode(int16_t *plugin_indexes, int32_t *count, const void *encoded,
                             int32_t *highest_gameplay_version, char *reason, int32_t reason_size);

// The listed plug-ins that are not installed (at most `maximum` written);
// returns how many are missing, or -1 when the list (of `size` bytes, at most
// 512 of which are read) does not decode.
int32_t tag_file_plugins_decode_missing(const void *encoded, int32_t size, missing_plugin_info *missing,
                                        int32_t maximum);

// Reopens the store with the `count` plug-ins of `plugin_indexes` as the
// game's plug-ins, so that their tags take effect.  With `preview` the game's
// own plug-in choice is kept: the next tag_files_open that keeps the choice
// goes back to it (a described game's map is read, then the player's choice
// returns).  False, with the store untouched, for a count outside 0..16 or an
// index that names no installed plug-in; false also when reopening reported an
// error (the files that could be opened are open then).
bool tag_file_plugins_open(const int16_t *plugin_indexes, int32_t count, bool preview);

// The same for the plug-ins of a 512-byte encoded list (films, network
// games).  False, with the store untouched, when the list does not decode or
// a listed plug-in is not installed.
bool tag_file_plugins_open_encoded(const void *encoded, bool preview);

// Resolves the plug-ins a map needs: the user's choice (order kept, bad and
// repeated indexes dropped), the required plug-in named `required_name`, then
// the map's own plug-in.  When the required one is missing: with
// `interactive` the player is asked whether to go on ("no" fails), without it
// the call fails.  `*uses_earlier_gameplay` is cleared when a resolved plug-in
// is not marked safe with earlier gameplay.  `minimum_gameplay_version` is
// not used at this level.  False also when more than `maximum` (at most 16)
// would result.
bool tag_files_build_plugin_indices_for_entrypoint(int16_t *plugin_indexes, int32_t *count, int32_t maximum,
                                                   const int16_t *user_indexes, int32_t user_count,
                                                   int32_t user_maximum, int32_t entry_point_plugin_index,
                                                   const char *required_name, bool *uses_earlier_gameplay,
                                                   int32_t minimum_gameplay_version, bool interactive);

// ---- entry points ----------------------------------------------------------

// Rebuilds the entry points: foundation maps, the local ones (unless
// `local_choice` is 1; -1 keeps the current choice), then those of each
// listed plug-in.  NONE entries are first removed from `plugin_indexes` in
// place (the last entry fills each gap); returns the remaining count.
// Entries stay at fixed addresses until the next call.
int32_t entry_points_open(int32_t local_choice, int16_t *plugin_indexes, int32_t count);

// The current entry points: `*count` of them in `*entries`, owned by the store.
void get_cached_entry_points(int32_t *count, full_entry_point *const **entries, void *reserved);

// True when map `mesh_tag` is a foundation map or a map of a plug-in in the
// encoded list; writes its printed name (cut to `size`) when `name` is not null.
bool get_mesh_display_name_in_plugin_list(tag mesh_tag, char *name, int32_t size, const void *encoded,
                                          int32_t encoded_size);
