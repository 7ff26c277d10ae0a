#pragma once
// Files and directories over POSIX.  A `file_reference` names a file (location,
// directory path, name) and holds its descriptor while it is open.  Failures
// return false and leave a pending error (codes 3-7); nothing here aborts.
// A missing file is the one quiet failure of file_open, file_exists and
// file_read_into_memory: callers probe for files, so it leaves nothing pending.
// Not thread-safe for one reference; distinct references may be used from
// distinct threads.

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
// the name is empty, ".", "..", contains '/', or the path would not fit, so a
// reference can never climb out of its location's root.  For an absolute
// reference (location 2) `directory` may be a whole path ("/tmp/a/b"): each of
// its components is checked the same way.
bool file_reference_add_directory(file_reference *reference, const char *directory);

// Sets the file name ("" makes the reference name its directory).  False
// (nothing changed) when it does not fit or is "." or ".." or contains '/'.
bool file_reference_set_name(file_reference *reference, const char *name);

// Writes the parts asked for into `buffer` of `size` bytes (cut to fit) and
// returns it: 1 the directory (resolved, with the location's root), 2 the
// file name without its extension, 4 the extension with its dot, 7 the full path.
// The extension starts at the last '.' that is not the name's first character.
// Location 0 resolves to ".", location 1 to the data directory (or "."),
// location 2 to "/".  Nothing is written when `size` is 0.
char *file_reference_get_name(const file_reference *reference, int32_t parts,
                              char *buffer, size_t size = PATH_MAX);

// Creates the file, empty (an existing file is truncated); for a reference
// without a name, creates the directory (and its parents).  True when it exists
// afterwards.
bool file_create(file_reference *reference);
// Same, a file with the permission bits `mode` (0644 for file_create), less
// the umask.  An existing file loses the bits `mode` does not grant, so a
// secret stored earlier with wider permissions is closed off at its next
// write.
bool file_create_with_mode(file_reference *reference, uint32_t mode);

// Creates the file, empty, only when no file of that name exists (O_EXCL, so
// two processes never both get it).  False otherwise: with `*taken` true,
// quietly, when the name is on disk already; else reported.
bool file_create_exclusive(file_reference *reference, bool *taken);
// The same with the permission bits `mode` (through the umask).
bool file_create_exclusive_with_mode(file_reference *reference, uint32_t mode, bool *taken);

// Opens an existing regular file.  With the write flag it takes an exclusive
// advisory lock without waiting and fails when another holder has it; with the
// append flag (which implies writing) it positions at the end.  False when
// missing (nothing pending), when not a regular file (a fifo is refused at
// once, without waiting for its other end), when locked elsewhere,
// or when the reference is open already.  The lock belongs to the open file:
// a second file_open of the same file in this process conflicts as well.
bool file_open(file_reference *reference, int32_t permissions);

// Releases the lock and closes.  False when nothing was open or closing failed.
bool file_close(file_reference *reference);

// Removes the file, or for a reference without a name its (empty) directory.
bool file_delete(file_reference *reference);

// True when the file exists as a regular file (for a reference without a name:
// as a directory).  A missing file is a quiet false.
bool file_exists(const file_reference *reference);

// The size of the open file, or -1.
int64_t file_get_size(file_reference *reference);

// Reads exactly `length` bytes at `offset` of the open file; false when fewer
// are there.  The current position is left after the bytes read.
bool file_read_from_position(file_reference *reference, int64_t offset, int32_t length, void *buffer);

// Writes at the current position, or at `offset` (a gap past the end reads as
// zeros); the current position is left after the bytes written.  A negative
// length or offset is refused.
bool file_write(file_reference *reference, int32_t length, const void *data);
bool file_write_to_position(file_reference *reference, int64_t offset, int32_t length, const void *data);

// Cuts or extends the open file to `size` bytes.
bool file_set_size(file_reference *reference, int64_t size);

// Flushes the open file's data to the disk (fsync).  False when that failed:
// the data written may then not survive a crash.
bool file_synchronize(file_reference *reference);

// Flushes the reference's directory (its name is ignored), so that names made
// or changed in it, by file_create or file_rename, survive a crash.
bool file_synchronize_directory(const file_reference *reference);

// Gives `from` the name of `to`, replacing a file of that name at once
// (rename(2)).  False, with nothing changed, when it cannot.
bool file_rename(const file_reference *from, const file_reference *to);

// The whole file (opened and closed here) in a new buffer followed by four
// zero bytes; the caller frees it with free().  `size` (may be null) gets the
// file's length.  Null when it cannot be opened or read, or is 2 GiB or more.
// It uses a descriptor of its own: the reference may be open or closed.
void *file_read_into_memory(file_reference *reference, int32_t *size);

// ---- aside files ---------------------------------------------------------------
// Every write that puts a file in place whole (the tag store's films, saved
// games and preferences, file_write_from_memory's settings and statistics,
// the tools' outputs) first writes an aside file beside it, named
// ".<name>.<process>-<mark>-<random>.new": hidden, which no tag name may be
// (so no player's file is ever taken for one), with the writer's process id,
// a mark drawn once per process and a random part, and created exclusively.

// Names an aside file for the file `base` (a name without folder) in `name`.
// False when the name would not fit in `size` or in a file name.
bool make_aside_file_name(const char *base, char *name, size_t size);

// Creates, empty and exclusively (O_EXCL), an aside file for `base` in the
// folder of `beside` (its name is ignored), with the permission bits `mode`;
// a name found taken is drawn again, a few times.  `aside` gets its
// reference, closed.  False, reported, when none can be made.
bool file_create_aside(const file_reference *beside, const char *base, uint32_t mode, file_reference *aside);

// Replaces the file with the `length` bytes of `data`, whole: they are written
// and flushed to an aside file of this write's own beside it, which then
// takes the file's name (the directory is flushed after), so the file is
// never seen half written, and two processes replacing one file at once
// never write into each other's aside file.
// False when the aside file cannot be made, written or renamed (or its name
// does not fit); the earlier file is then left as it was and no aside file
// remains.  The directory must exist.
bool file_write_from_memory(file_reference *reference, int32_t length, const void *data);

// The same for a plain path (the tools' outputs): the aside file is written,
// flushed and renamed over `path`, then the folder is flushed.  False with
// errno set and nothing reported when it cannot; `path` is then as it was
// and no aside file remains.  The aside files that writes of `path` killed
// before they ended left beside it are removed first (as below).
bool file_replace_whole(const char *path, int64_t length, const void *data);

// Removes from `folder` the aside files of writes that were killed before
// they ended: those of a process that no longer runs, and those of this
// process's id with another process's mark (an earlier process that had the
// same id).  Also the hidden ".<name>.new" of an older build's tag store left
// longer than a minute.  No other name is ever touched, whatever it ends
// with.  The number removed.
int32_t remove_abandoned_aside_files(const char *folder);

// ---- failure injection, for tests -------------------------------------------

// Every step here that changes the disk (creating, writing, resizing,
// flushing, renaming, deleting) first calls the installed procedure, with the
// step's name ("create", "write", "resize", "sync", "rename", "delete") and
// the path: false makes the step fail as a failing disk would (with the errno
// the procedure set, ENOSPC for a full disk, else EIO).  A test
// may also end the process inside it, to cut a write short at that step.
// Null (the default) removes it.  Returns the previous procedure.
typedef bool (*file_step_procedure)(const char *step, const char *path);
file_step_procedure set_file_step_procedure(file_step_procedure procedure);

// ---- the program's environment ------------------------------------------

// Changes the working directory to the directory of the running executable
// (/proc/self/exe).  False when it cannot be found or entered.
bool set_working_directory_to_executable(void);
// Writes the directory of the running executable (/proc/self/exe, whole) to
// `path` of `size` bytes.  False, reported, when it cannot be found or does
// not fit.
bool get_executable_directory(char *path, size_t size);

#define SINGLE_INSTANCE_LOCK_FILE_NAME "vesk.lock"

// Takes the single-instance lock (flock on "vesk.lock" in the working
// directory) for the life of the process; children do not inherit it.  False
// when another copy holds it.  When the lock file cannot be made or locked for
// any other reason the answer is true (nothing shows that another copy runs),
// and that is told once per process in the log and with show_message_box
// (which writes standard error as well).  True again when this process holds
// it already.
bool acquire_single_instance_lock(void);

// Releases it (tests, and before exec).
void release_single_instance_lock(void);
