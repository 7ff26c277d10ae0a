#pragma once
// Preferences records: each setting record of the game is a named, versioned,
// fixed-size record stored big-endian as a local tag of group 'pref' (the tag's
// version is the record's version), described by one `preferences_globals`
// that its module owns.  The store reads, converts and verifies a record into
// `data`, and writes `data` back whole.  'pref' tags stay readable and writable
// while the local tag folder is left out of the game's data.
//
// Also here: the plug-in component files, small plain files in "preferences"
// that hold the name of the plug-in chosen for a component.
//
// Main thread only.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/tag_files.h" // PREFERENCES_GROUP_TAG, PREFERENCES_FOLDER

enum
{
    // Stored records larger than this are refused as corrupt (older versions
    // included), so a damaged size never asks for a huge buffer.
    MAXIMUM_PREFERENCES_SIZE = 256 * KILO,
};

struct preferences_globals
{
    char name[32]; // the 'pref' tag's name
    int32_t size; // bytes of the record, stored and in memory
    int16_t version_number; // the current version
    void (*default_preferences)(void *data); // fills `size` bytes; null: zeros
    bool (*verify_preferences)(void *data); // may correct the record; false: use the defaults; null: always true
    const byte_swap_code *byte_swapping_data; // null: the record is stored as it is in memory
    tag code; // an optional identity of the record; nothing reads it
    void *data; // the loaded record in host order, or null
    bool owner_only; // stored readable by its owner only (mode 0600): the record holds a secret
};

// Brings a record of an older stored `version` into the current layout.
// `old_data` holds the stored bytes exactly as on disk (big-endian), followed
// by zero bytes up to at least the current size; `new_data` holds the same
// bytes cut or zero-extended to the current size and swapped with the current
// description.  False refuses the record (the defaults are used).
typedef bool (*preferences_converter)(const void *old_data, void *new_data, int16_t version);

// Reads the record named by `preferences` into `preferences->data` (any
// record loaded before is freed) and returns it:
// - the current version, of exactly `size` bytes, is swapped and verified;
// - an older version is moved into the current layout and handed to
//   `converter` (null: refused), then verified;
// - a missing record, a newer version, a wrong size, a record that cannot be
//   read, or a refused conversion or verification gives the defaults, verified
//   (an assertion "valid" when even they fail); the stored tag is left as it is
//   until the next write_preferences.
// Reading never writes.  Null, with `data` null, only when the descriptor is
// malformed or the preferences directory exists but cannot be read.
void *read_preferences_convert(preferences_globals *preferences, preferences_converter converter);

// Stores `preferences->data` as the record's 'pref' tag, replacing the stored
// one whole: the new record is written and flushed aside (a tag named "~" and
// the record's name), then the old record is deleted and the aside one takes
// its name.  A read that finds no record but a complete aside one uses it, so
// a failure or a crash leaves the old record or the new one, never a mix.
// A file under either name that is no readable tag (a cut record) is first
// moved aside as ".<name>.damaged", keeping its bytes.
// A second process saving a record of the same folder waits for this write
// (an exclusive lock on the folder, bounded at 3 s and logged if given up).
// False when there is no data or the write fails (the old record stays).
bool write_preferences(preferences_globals *preferences);

// Releases `preferences->data`, when there is one.
void free_preferences(preferences_globals *preferences);

// ---- plug-in component files ------------------------------------------------

#define METASERVER_PLUGIN_COMPONENT_FILE_NAME "metaserver plugin"
#define INTERFACE_PLUGIN_COMPONENT_FILE_NAME "interface plugin"

enum { MAXIMUM_PLUGIN_COMPONENT_NAME_LENGTH = 31 };

// Reads the plug-in name stored in the component file `component_name` in
// "preferences" (program directory) into `chosen` (`size` bytes): at most 31
// characters, up to the first zero byte, without trailing line breaks.  False
// (and `chosen` empty) when the file is missing or cannot be read.  A longer
// file is cut at 31 characters: `was_cut` (may be null) tells the caller so,
// since a cut name names some other plug-in or none.
bool read_plugin_component_file(const char *component_name, char *chosen, size_t size, bool *was_cut = nullptr);

// Stores `chosen` (its characters, no terminator) as the component file,
// creating "preferences" when needed; the file is written aside and renamed
// over the old one.  An empty choice deletes the file.  False when it cannot
// be written (the old file stays).
bool write_plugin_component_file(const char *component_name, const char *chosen);
