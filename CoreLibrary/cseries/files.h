#pragma once
// Files and directories over POSIX.  A `file_reference` names a file (location,
// directory path, name) and holds its descriptor while it is open.  Failures
// return false and leave a pending error (codes 3-7); nothing here aborts.

#include <cstddef>
#include <cstdint>
#include <limits.h>

enum file_reference_location
{
    _file_reference_application_relative = 0, // relative to the working (program) directory
    _file_reference_data_relative = 1,        // relative to the second data directory
    _file_reference_absolute = 2,             // an absolute path
    NUMBER_OF_FILE_REFERENCE_LOCATIONS
};

enum file_permission_flags
{
    _permission_read_flag = 1,
    _permission_write_flag = 2, // takes an exclusive flock, without waiting
    _permission_append_flag = 4,
};

enum file_name_parts
{
    _name_directory_flag = 1,
    _name_file_flag = 2,
    _name_extension_flag = 4,
    _name_full_path = 7,
};

enum { MAXIMUM_FILE_REFERENCE_PATH = 1024, MAXIMUM_FILE_NAME = 256 };

struct file_reference
{
    int16_t location;
    char directory[MAXIMUM_FILE_REFERENCE_PATH]; // relative to the location; "" for its root
    char name[MAXIMUM_FILE_NAME];                // "" for a directory reference
    int32_t descriptor;                          // -1 when not open
    bool locked;
};

// Names the second data directory (location 1).  "" or null clears it; a
// reference to location 1 then resolves like location 0.
void set_data_directory(const char *path);

// An empty reference to the root of `location`.
void file_reference_create(file_reference *reference, int16_t location);

// Appends one directory to the reference's path.  False (nothing changed) when
// the name is empty or the path would not fit.
bool file_reference_add_directory(file_reference *reference, const char *directory);

// Sets the file name.  False when it does not fit.
bool file_reference_set_name(file_reference *reference, const char *name);

// Writes the parts asked for into `buffer` of `size` bytes (cut to fit) and
// returns it: 1 the directory (resolved, with the location's root), 2 the
// file name without its extension, 4 the extension with its dot, 7 the full path.
char *file_reference_get_name(const file_reference *reference, int32_t parts,
                              char *buffer, size_t size = PATH_MAX);

// Creates the file, empty (an existing file is truncated); for a reference
// without a name, creates the directory (and its parents).  True when it exists
// afterwards.
bool file_create(file_reference *reference);

// Opens an existing regular file.  With the write flag it takes an exclusive
// advisory lock without waiting and fails when another holder has it; with the
// append flag it positions at the end.  False when missing.
bool file_open(file_reference *reference, int32_t permissions);

// Releases the lock and closes.  False when nothing was open or closing failed.
bool file_close(file_reference *reference);

bool file_delete(file_reference *reference);
bool file_exists(const file_reference *reference);

// The size of the open file, or -1.
int64_t file_get_size(file_reference *reference);

// Reads exactly `length` bytes at `offset` of the open file; false when fewer
// are there.
bool file_read_from_position(file_reference *reference, int64_t offset, int32_t length, void *buffer);

// Writes at the current position, or at `offset` (a gap past the end reads as zeros).
bool file_write(file_reference *reference, int32_t length, const void *data);
bool file_write_to_position(file_reference *reference, int64_t offset, int32_t length, const void *data);

// Cuts or extends the open file to `size` bytes.
bool file_set_size(file_reference *reference, int64_t size);

// The whole file (opened and closed here) in a new buffer followed by four
// zero bytes; the caller frees it with free().  `size` (may be null) gets the
// file's length.  Null when it cannot be opened or read.
void *file_read_into_memory(file_reference *reference, int32_t *size);

// ---- the program's environment ------------------------------------------

// Changes the working directory to the directory of the running executable
// (/proc/self/exe).  False when it cannot be found or entered.
bool set_working_directory_to_executable(void);

#define SINGLE_INSTANCE_LOCK_FILE_NAME "vesk.lock"

// Takes the single-instance lock (flock on "vesk.lock" in the working
// directory) for the life of the process.  False when another copy holds it.
bool acquire_single_instance_lock(void);

// Releases it (tests, and before exec).
void release_single_instance_lock(void);
