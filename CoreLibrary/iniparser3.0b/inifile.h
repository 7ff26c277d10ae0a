#pragma once
// The power-user settings file "preferences/poweruser.txt" and the reading of
// its sections into records.
//
// A module that has settings there describes its section once (name, entry
// table, target record, defaults) and calls inifile_readsec whenever it wants
// the values: the target then holds the defaults overwritten by every key the
// file gives.  The file is optional; without it every section keeps its
// defaults.  Main thread only.
//
// How a value's text becomes a field:
// - boolean (a `bool` field): "1", "yes", "true", "on" or "0", "no", "false",
//   "off", case-blind;
// - integer (an `int32_t`): decimal with an optional sign, or hexadecimal
//   after "0x" ("0xFF0000"); a value outside the 32-bit range is refused;
// - float and double (`float`, `double`): a decimal number such as "-0.5" or
//   "1e-3"; infinities, NaNs and values outside the field's range are refused;
// - string (a `char` array of `capacity` bytes): cut to capacity - 1 characters
//   and terminated;
// - list of strings (`maximum_count` arrays of `capacity` bytes each, and an
//   `int32_t` count): every value of the repeated key in file order, the first
//   `maximum_count` of them; the count gets the number stored.
// A scalar key given several times takes its last value.  A value that is
// refused keeps the default and is logged.

#include <cstddef>
#include <cstdint>

#define POWERUSER_DIRECTORY_NAME "preferences"
#define POWERUSER_FILE_NAME "poweruser.txt"

enum inifile_value_type
{
    _inifile_boolean = 0,
    _inifile_integer = 1,
    _inifile_float = 2,
    _inifile_double = 3,
    _inifile_string = 4,
    _inifile_string_list = 5,
    NUMBER_OF_INIFILE_VALUE_TYPES
};

struct inifile_entry
{
    const char *key; // null ends the table
    int16_t type; // inifile_value_type
    int32_t offset; // of the field in the target record
    int32_t capacity; // strings and lists: bytes of each string, terminator included
    int32_t maximum_count; // lists: number of strings the field holds
    int32_t count_offset; // lists: offset of the int32_t count
};

typedef void (*inifile_default_procedure)(void *target);
typedef void (*inifile_verify_procedure)(void *target);

struct inifile_section
{
    const char *name; // the heading, e.g. "Renderer.OpenGL"
    inifile_default_procedure default_procedure; // may be null
    inifile_verify_procedure verify_procedure; // may be null; repairs the record in place
    const inifile_entry *entries;
    void *target;
    const void *defaults; // may be null; same layout as the target
    int32_t size; // bytes of the target (and of the defaults)
};

// Reads "preferences/poweruser.txt" from the working directory and keeps it
// parsed for inifile_readsec, replacing any file loaded before.  A missing
// file is normal and logs nothing; a file larger than MAXIMUM_INI_BUFFER_SIZE
// is logged and not read; one that cannot be opened or read is reported
// through the error manager (files.h).  False in all these cases; sections
// then keep their defaults.
bool load_poweruser_settings(void);

// Parses `size` bytes of `data` as the power-user file (load_poweruser_settings
// reads the file and hands it here).  False, with nothing loaded, when the
// text is refused as a whole (too large, memory short).
bool load_poweruser_settings_from_buffer(const char *data, size_t size);

// Forgets the loaded file; sections then read as defaults only.
void dispose_poweruser_settings(void);

// Fills the section's target: first a copy of `defaults` (when given), then
// the default procedure (when given), then every entry whose key the loaded
// file gives in that section, then the verify procedure (when given).
// Returns the number of entries that took a value from the file, or NONE when
// the description itself is unusable (no target, no entries, no name); an
// entry whose field lies outside `size` or whose type is unknown is logged and
// skipped.
int32_t inifile_readsec(const inifile_section *section);

// True when the loaded file gives `key` in the section (whatever its value),
// for callers that report only settings the user made.
bool inifile_key_present(const inifile_section *section, const char *key);
