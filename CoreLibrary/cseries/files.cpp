// Files and directories over POSIX descriptors, and the program's environment
// (its own directory, the single-instance lock).

#include "cseries/files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <mutex>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/errors.h"
#include "cseries/log.h"

static struct file_globals
{
    std::mutex lock; // guards data_directory
    char data_directory[MAXIMUM_FILE_REFERENCE_PATH];
    int single_instance_descriptor = -1;
    std::atomic<file_step_procedure> step_procedure{nullptr};
} file_globals;

file_step_procedure set_file_step_procedure(file_step_procedure procedure)
{
    return file_globals.step_procedure.exchange(procedure);
}

// False when the installed test procedure fails this step, with the errno it
// set (ENOSPC for a full disk), else EIO.
static bool step_allowed(const char *step, const char *path)
{
    const file_step_procedure procedure = file_globals.step_procedure.load();
    if (!procedure) return true;
    errno = 0;
    if (procedure(step, path)) return true;
    if (errno == 0) errno = EIO;
    return false;
}

// ---- names ----------------------------------------------------------------

static bool is_missing_error(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// A component that stays inside its directory: not empty, not "." or "..",
// no separator.
static bool valid_path_component(const char *name, size_t length)
{
    if (length == 0) return false;
    if (length == 1 && name[0] == '.') return false;
    if (length == 2 && name[0] == '.' && name[1] == '.') return false;
    return memchr(name, '/', length) == nullptr;
}

// Appends `text` of `length` bytes at buffer[*used], cutting it to fit `size`.
static void append_cut(char *buffer, size_t size, size_t *used, const char *text, size_t length)
{
    if (*used + 1 >= size) return;
    size_t room = size - 1 - *used;
    if (length > room) length = room;
    memcpy(buffer + *used, text, length);
    *used += length;
    buffer[*used] = 0;
}

// The resolved directory of a reference: the location's root joined with its
// path.  False when it does not fit.
static bool resolve_directory(const file_reference *reference, char *buffer, size_t size)
{
    char root[MAXIMUM_FILE_REFERENCE_PATH];
    switch (reference->location)
    {
    case _file_reference_data_relative:
    {
        std::lock_guard<std::mutex> guard(file_globals.lock);
        snprintf(root, sizeof(root), "%s", file_globals.data_directory[0] ? file_globals.data_directory : ".");
        break;
    }
    case _file_reference_absolute:
        root[0] = 0; // the path supplies the leading '/'
        break;
    default:
        snprintf(root, sizeof(root), ".");
        break;
    }

    int length;
    if (reference->location == _file_reference_absolute)
        length = snprintf(buffer, size, "/%s", reference->directory);
    else if (reference->directory[0])
        length = snprintf(buffer, size, "%s/%s", root, reference->directory);
    else
        length = snprintf(buffer, size, "%s", root);
    return length >= 0 && (size_t)length < size;
}

// The path the system calls use: the directory, or the directory and name.
static bool resolve_path(const file_reference *reference, char *buffer, size_t size)
{
    if (!resolve_directory(reference, buffer, size)) return false;
    if (!reference->name[0]) return true;
    size_t length = strlen(buffer);
    int added = snprintf(buffer + length, size - length, "%s%s",
                         (length && buffer[length - 1] == '/') ? "" : "/", reference->name);
    return added >= 0 && (size_t)added < size - length;
}

// Resolves the path, reporting `code` when it is too long.
static bool resolve_path_or_report(const file_reference *reference, char *buffer, size_t size, int32_t code)
{
    if (resolve_path(reference, buffer, size)) return true;
    ERROR_MESSAGE(code, "The path of '%s' is too long", reference->name);
    return false;
}

void set_data_directory(const char *path)
{
    std::lock_guard<std::mutex> guard(file_globals.lock);
    file_globals.data_directory[0] = 0;
    if (!path) return;
    size_t length = strlen(path);
    while (length > 1 && path[length - 1] == '/') length--;
    if (length >= sizeof(file_globals.data_directory))
    {
        log_message(__FILE__, __LINE__, "The data directory path is too long; it is not used");
        return;
    }
    memcpy(file_globals.data_directory, path, length);
    file_globals.data_directory[length] = 0;
}

void file_reference_create(file_reference *reference, int16_t location)
{
    memset(reference, 0, sizeof(*reference));
    if (location < 0 || location >= NUMBER_OF_FILE_REFERENCE_LOCATIONS) location = _file_reference_application_relative;
    reference->location = location;
    reference->descriptor = -1;
    reference->locked = false;
}

bool file_reference_add_directory(file_reference *reference, const char *directory)
{
    if (!directory) return false;
    char path[MAXIMUM_FILE_REFERENCE_PATH];
    size_t used = strlen(reference->directory);
    if (used >= sizeof(path)) return false;
    memcpy(path, reference->directory, used + 1);

    const bool absolute = reference->location == _file_reference_absolute;
    const char *cursor = directory;
    bool added = false;
    while (*cursor)
    {
        if (absolute && *cursor == '/')
        {
            cursor++;
            continue;
        }
        const char *end = cursor;
        while (*end && !(absolute && *end == '/')) end++;
        size_t length = (size_t)(end - cursor);
        if (!valid_path_component(cursor, length)) return false;
        size_t separator = used ? 1 : 0;
        if (used + separator + length >= sizeof(path)) return false;
        if (separator) path[used++] = '/';
        memcpy(path + used, cursor, length);
        used += length;
        path[used] = 0;
        added = true;
        cursor = end;
    }
    if (!added) return false;
    memcpy(reference->directory, path, used + 1);
    return true;
}

bool file_reference_set_name(file_reference *reference, const char *name)
{
    if (!name) return false;
    size_t length = strlen(name);
    if (length >= sizeof(reference->name)) return false;
    if (length && !valid_path_component(name, length)) return false;
    memcpy(reference->name, name, length + 1);
    return true;
}

char *file_reference_get_name(const file_reference *reference, int32_t parts, char *buffer, size_t size)
{
    if (!buffer || size == 0) return buffer;
    buffer[0] = 0;
    size_t used = 0;

    const char *name = reference->name;
    const char *dot = strrchr(name, '.');
    if (dot == name) dot = nullptr; // ".hidden" has no extension
    size_t stem_length = dot ? (size_t)(dot - name) : strlen(name);

    if (parts & _name_directory_flag)
    {
        char directory[MAXIMUM_FILE_REFERENCE_PATH + MAXIMUM_FILE_REFERENCE_PATH];
        if (!resolve_directory(reference, directory, sizeof(directory))) directory[0] = 0;
        size_t length = strlen(directory);
        append_cut(buffer, size, &used, directory, length);
        bool name_follows = (parts & (_name_file_flag | _name_extension_flag)) && name[0];
        if (name_follows && length && directory[length - 1] != '/') append_cut(buffer, size, &used, "/", 1);
    }
    if (parts & _name_file_flag) append_cut(buffer, size, &used, name, stem_length);
    if ((parts & _name_extension_flag) && dot) append_cut(buffer, size, &used, dot, strlen(dot));
    return buffer;
}

// ---- creating, opening, closing ----------------------------------------------

// Takes an exclusive flock on `descriptor` or gives up at once: 0, or the
// errno (EWOULDBLOCK when another holder has it).
static int lock_exclusive_without_waiting(int descriptor)
{
    int result;
    do result = flock(descriptor, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

// mkdir -p of `path` (modified during the walk, restored after).
static bool make_directories(char *path)
{
    for (char *slash = path + 1; *slash; slash++)
    {
        if (*slash != '/') continue;
        *slash = 0;
        bool made = mkdir(path, 0755) == 0 || errno == EEXIST;
        *slash = '/';
        if (!made) return false;
    }
    if (mkdir(path, 0755) == 0) return true;
    struct stat status;
    return errno == EEXIST && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool file_create(file_reference *reference)
{
    return file_create_with_mode(reference, 0644);
}

bool file_create_with_mode(file_reference *reference, uint32_t mode)
{
    char path[PATH_MAX];
    if (!resolve_path_or_report(reference, path, sizeof(path), _error_file_create)) return false;

    if (!reference->name[0])
    {
        if (step_allowed("create", path) && make_directories(path)) return true;
        ERROR_MESSAGE(_error_file_create, "Cannot create the directory '%s' (%s)", path, strerror(errno));
        return false;
    }

    int descriptor =
        step_allowed("create", path) ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, (mode_t)mode) : -1;
    if (descriptor < 0)
    {
        ERROR_MESSAGE(_error_file_create, "Cannot create '%s' (%s)", path, strerror(errno));
        return false;
    }
    // open() applies the mode only to a new file (through the umask): an
    // existing one loses the bits `mode` does not grant, and gains none.
    struct stat status;
    if (fstat(descriptor, &status) == 0 && (status.st_mode & 07777 & ~(mode_t)mode) != 0 &&
        fchmod(descriptor, status.st_mode & 07777 & (mode_t)mode) != 0)
    {
        ERROR_MESSAGE(_error_file_create, "Cannot set the permissions of '%s' (%s)", path, strerror(errno));
        close(descriptor);
        return false;
    }
    close(descriptor);
    return true;
}

bool file_create_exclusive(file_reference *reference, bool *taken)
{
    return file_create_exclusive_with_mode(reference, 0644, taken);
}

bool file_create_exclusive_with_mode(file_reference *reference, uint32_t mode, bool *taken)
{
    *taken = false;
    char path[PATH_MAX];
    if (!reference->name[0] || !resolve_path_or_report(reference, path, sizeof(path), _error_file_create)) return false;
    const int descriptor =
        step_allowed("create", path) ? open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, (mode_t)mode) : -1;
    if (descriptor >= 0)
    {
        close(descriptor);
        return true;
    }
    if (errno == EEXIST) *taken = true;
    else ERROR_MESSAGE(_error_file_create, "Cannot create '%s' (%s)", path, strerror(errno));
    return false;
}

bool file_open(file_reference *reference, int32_t permissions)
{
    char path[PATH_MAX];
    if (reference->descriptor >= 0)
    {
        ERROR_MESSAGE(_error_file_open, "'%s' is open already", reference->name);
        return false;
    }
    if (!reference->name[0])
    {
        ERROR_MESSAGE(_error_file_open, "A directory cannot be opened as a file");
        return false;
    }
    if (!resolve_path_or_report(reference, path, sizeof(path), _error_file_open)) return false;

    const bool writing = (permissions & (_permission_write_flag | _permission_append_flag)) != 0;
    // Without blocking, so that a fifo (or a device) in a file's place is
    // refused below instead of holding the caller until someone writes to it.
    int descriptor = open(path, (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
    {
        if (!is_missing_error(errno))
            ERROR_MESSAGE(_error_file_open, "Cannot open '%s' (%s)", path, strerror(errno));
        return false;
    }

    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    {
        close(descriptor);
        ERROR_MESSAGE(_error_file_open, "'%s' is not a regular file", path);
        return false;
    }
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);

    if (writing)
    {
        const int error = lock_exclusive_without_waiting(descriptor);
        if (error)
        {
            close(descriptor);
            if (error == EWOULDBLOCK)
                ERROR_MESSAGE(_error_file_open, "'%s' is in use by another program", path);
            else
                ERROR_MESSAGE(_error_file_open, "Cannot lock '%s' (%s)", path, strerror(error));
            return false;
        }
    }

    if ((permissions & _permission_append_flag) && lseek(descriptor, 0, SEEK_END) < 0)
    {
        close(descriptor);
        ERROR_MESSAGE(_error_file_open, "Cannot seek to the end of '%s' (%s)", path, strerror(errno));
        return false;
    }

    reference->descriptor = descriptor;
    reference->locked = writing;
    return true;
}

bool file_close(file_reference *reference)
{
    if (reference->descriptor < 0) return false;
    int descriptor = reference->descriptor;
    reference->descriptor = -1;
    if (reference->locked) flock(descriptor, LOCK_UN);
    reference->locked = false;
    // Linux releases the descriptor even when close reports an error; retrying
    // could close a descriptor another thread has just been given.
    if (close(descriptor) != 0 && errno != EINTR)
    {
        ERROR_MESSAGE(_error_file_general, "Closing '%s' failed (%s)", reference->name, strerror(errno));
        return false;
    }
    return true;
}

bool file_delete(file_reference *reference)
{
    char path[PATH_MAX];
    if (!resolve_path_or_report(reference, path, sizeof(path), _error_file_general)) return false;
    int result = !step_allowed("delete", path) ? -1 : reference->name[0] ? unlink(path) : rmdir(path);
    if (result == 0) return true;
    ERROR_MESSAGE(_error_file_general, "Cannot delete '%s' (%s)", path, strerror(errno));
    return false;
}

bool file_exists(const file_reference *reference)
{
    char path[PATH_MAX];
    if (!resolve_path(reference, path, sizeof(path))) return false;
    struct stat status;
    if (stat(path, &status) != 0)
    {
        if (!is_missing_error(errno))
            ERROR_MESSAGE(_error_file_general, "Cannot examine '%s' (%s)", path, strerror(errno));
        return false;
    }
    return reference->name[0] ? S_ISREG(status.st_mode) : S_ISDIR(status.st_mode);
}

// ---- reading and writing -----------------------------------------------------

int64_t file_get_size(file_reference *reference)
{
    if (reference->descriptor < 0) return -1;
    struct stat status;
    if (fstat(reference->descriptor, &status) != 0)
    {
        ERROR_MESSAGE(_error_file_general, "Cannot examine '%s' (%s)", reference->name, strerror(errno));
        return -1;
    }
    return (int64_t)status.st_size;
}

// Reads up to `length` bytes at `offset`; returns the count read (short at the
// end of the file) or -1 on an error.
static int64_t read_fully(int descriptor, int64_t offset, int64_t length, void *buffer)
{
    int64_t done = 0;
    while (done < length)
    {
        ssize_t got = pread(descriptor, (char *)buffer + done, (size_t)(length - done), (off_t)(offset + done));
        if (got < 0)
        {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

static bool write_fully(int descriptor, int64_t offset, int64_t length, const void *data)
{
    int64_t done = 0;
    while (done < length)
    {
        ssize_t put = pwrite(descriptor, (const char *)data + done, (size_t)(length - done), (off_t)(offset + done));
        if (put < 0)
        {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0)
        {
            errno = ENOSPC;
            return false;
        }
        done += put;
    }
    return true;
}

bool file_read_from_position(file_reference *reference, int64_t offset, int32_t length, void *buffer)
{
    if (reference->descriptor < 0 || offset < 0 || length < 0 || (length && !buffer))
    {
        ERROR_MESSAGE(_error_file_read, "Bad read of %d bytes at %lld from '%s'", (int)length,
                      (long long)offset, reference->name);
        return false;
    }
    int64_t got = read_fully(reference->descriptor, offset, length, buffer);
    if (got != length)
    {
        if (got < 0)
            ERROR_MESSAGE(_error_file_read, "Reading '%s' failed (%s)", reference->name, strerror(errno));
        else
            ERROR_MESSAGE(_error_file_read, "'%s' holds %lld of the %d bytes at %lld", reference->name,
                          (long long)got, (int)length, (long long)offset);
        return false;
    }
    lseek(reference->descriptor, (off_t)(offset + length), SEEK_SET);
    return true;
}

bool file_write_to_position(file_reference *reference, int64_t offset, int32_t length, const void *data)
{
    if (reference->descriptor < 0 || offset < 0 || length < 0 || (length && !data))
    {
        ERROR_MESSAGE(_error_file_write, "Bad write of %d bytes at %lld to '%s'", (int)length,
                      (long long)offset, reference->name);
        return false;
    }
    if (!step_allowed("write", reference->name) || !write_fully(reference->descriptor, offset, length, data))
    {
        ERROR_MESSAGE(_error_file_write, "Writing '%s' failed (%s)", reference->name, strerror(errno));
        return false;
    }
    lseek(reference->descriptor, (off_t)(offset + length), SEEK_SET);
    return true;
}

bool file_write(file_reference *reference, int32_t length, const void *data)
{
    if (reference->descriptor < 0)
    {
        ERROR_MESSAGE(_error_file_write, "'%s' is not open", reference->name);
        return false;
    }
    off_t position = lseek(reference->descriptor, 0, SEEK_CUR);
    if (position < 0)
    {
        ERROR_MESSAGE(_error_file_write, "Writing '%s' failed (%s)", reference->name, strerror(errno));
        return false;
    }
    return file_write_to_position(reference, position, length, data);
}

bool file_set_size(file_reference *reference, int64_t size)
{
    if (reference->descriptor < 0 || size < 0)
    {
        ERROR_MESSAGE(_error_file_write, "Bad size %lld for '%s'", (long long)size, reference->name);
        return false;
    }
    int result = -1;
    if (step_allowed("resize", reference->name))
    {
        do result = ftruncate(reference->descriptor, (off_t)size);
        while (result != 0 && errno == EINTR);
    }
    if (result != 0)
    {
        ERROR_MESSAGE(_error_file_write, "Cannot resize '%s' (%s)", reference->name, strerror(errno));
        return false;
    }
    return true;
}

bool file_synchronize(file_reference *reference)
{
    if (reference->descriptor < 0)
    {
        ERROR_MESSAGE(_error_file_write, "'%s' is not open", reference->name);
        return false;
    }
    int result = -1;
    if (step_allowed("sync", reference->name))
    {
        do result = fsync(reference->descriptor);
        while (result != 0 && errno == EINTR);
    }
    if (result != 0)
    {
        ERROR_MESSAGE(_error_file_write, "Cannot flush '%s' to the disk (%s)", reference->name, strerror(errno));
        return false;
    }
    return true;
}

bool file_rename(const file_reference *from, const file_reference *to)
{
    char from_path[PATH_MAX], to_path[PATH_MAX];
    if (!resolve_path_or_report(from, from_path, sizeof(from_path), _error_file_write) ||
        !resolve_path_or_report(to, to_path, sizeof(to_path), _error_file_write))
        return false;
    if (step_allowed("rename", to_path) && rename(from_path, to_path) == 0) return true;
    ERROR_MESSAGE(_error_file_write, "Cannot rename '%s' to '%s' (%s)", from_path, to_path, strerror(errno));
    return false;
}

// Flushes the directory at `path` so that a name just made or changed in it
// survives a crash.
static bool synchronize_directory_path(const char *path)
{
    int result = -1;
    if (step_allowed("sync", path))
    {
        const int descriptor = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor >= 0)
        {
            do result = fsync(descriptor);
            while (result != 0 && errno == EINTR);
            const int error = errno;
            close(descriptor);
            errno = error;
        }
    }
    if (result == 0) return true;
    // Logged, not raised as an error: the file is whole and in place, and
    // some file systems refuse to flush a folder at all.
    log_message(__FILE__, __LINE__, "Cannot flush the folder '%s' to the disk (%s)", path, strerror(errno));
    return false;
}

bool file_synchronize_directory(const file_reference *reference)
{
    file_reference folder = *reference;
    folder.name[0] = 0;
    char path[PATH_MAX];
    return resolve_path_or_report(&folder, path, sizeof(path), _error_file_write) && synchronize_directory_path(path);
}

void *file_read_into_memory(file_reference *reference, int32_t *size)
{
    enum { TRAILING_ZEROS = 4 };
    if (size) *size = 0;
    if (!reference->name[0]) return nullptr;
    // A descriptor of its own, so the caller's reference may be open or closed.
    file_reference own = *reference;
    own.descriptor = -1;
    own.locked = false;
    if (!file_open(&own, _permission_read_flag)) return nullptr;

    const int64_t length = file_get_size(&own);
    char *buffer = nullptr;
    if (length > (int64_t)(INT32_MAX - TRAILING_ZEROS))
    {
        ERROR_MESSAGE(_error_file_read, "'%s' is too large (%lld bytes)", own.name, (long long)length);
    }
    else if (length >= 0 && !(buffer = (char *)malloc((size_t)length + TRAILING_ZEROS)))
    {
        ERROR_MESSAGE(_error_file_read, "No memory for the %lld bytes of '%s'", (long long)length, own.name);
    }
    else if (buffer && !file_read_from_position(&own, 0, (int32_t)length, buffer))
    {
        // A file that shrank under us, or an I/O error: never hand out a
        // partly filled buffer.
        free(buffer);
        buffer = nullptr;
    }
    if (buffer)
    {
        memset(buffer + length, 0, TRAILING_ZEROS);
        if (size) *size = (int32_t)length;
    }
    file_close(&own);
    return buffer;
}

enum
{
    // A hidden aside file of an older build's tag store (".<name>.new",
    // without its writer's process in its name) is abandoned after this long.
    ABANDONED_ASIDE_FILE_SECONDS = 60,
    ASIDE_NAME_ATTEMPTS = 16,
};

static const char ASIDE_SUFFIX[] = ".new";

// A random word: the system's generator, else the clock mixed with a count.
static uint32_t random_word(void)
{
    uint32_t word = 0;
    if (getrandom(&word, sizeof(word), GRND_NONBLOCK) == (ssize_t)sizeof(word)) return word;
    static std::atomic<uint32_t> count{0};
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    word = (uint32_t)now.tv_nsec ^ ((uint32_t)now.tv_sec << 20) ^ (uint32_t)getpid() * 2654435761u;
    return word ^ (++count * 0x9e3779b9u);
}

// This process's own mark in its aside files' names: a leftover of an earlier
// process that had the same id (a container's process 1 after a restart)
// carries another one.
static uint32_t process_instance(void)
{
    static std::atomic<uint32_t> instance{0};
    uint32_t value = instance.load();
    while (value == 0)
    {
        uint32_t drawn = random_word();
        if (drawn == 0) drawn = 1;
        if (instance.compare_exchange_strong(value, drawn)) value = drawn;
    }
    return value;
}

bool make_aside_file_name(const char *base, char *name, size_t size)
{
    if (!base || !base[0] || !name || size == 0) return false;
    const int n = snprintf(name, size, ".%s.%ld-%08x-%08x%s", base, (long)getpid(), (unsigned)process_instance(),
                           (unsigned)random_word(), ASIDE_SUFFIX);
    return n > 0 && (size_t)n < size && (size_t)n < MAXIMUM_FILE_NAME;
}

// Reads the writer's process and mark of an aside file's name
// (".<base>.<process>-<mark>-<random>.new"); `base_length` gets the length of
// its base.  False for any other name.
static bool parse_aside_file_name(const char *name, long *process, uint32_t *instance, size_t *base_length)
{
    const size_t length = strlen(name), suffix_length = sizeof(ASIDE_SUFFIX) - 1;
    if (name[0] != '.' || length <= suffix_length + 1 || strcmp(name + length - suffix_length, ASIDE_SUFFIX) != 0)
        return false;
    // The last '.' before the suffix starts the writer's part.
    const char *middle = nullptr;
    for (const char *at = name + length - suffix_length - 1; at > name + 1 && !middle; --at)
        if (*at == '.') middle = at;
    if (!middle) return false;
    unsigned mark = 0, random = 0;
    if (sscanf(middle, ".%ld-%8x-%8x", process, &mark, &random) != 3 || *process <= 0 || *process > INT32_MAX)
        return false;
    // Exactly the form make_aside_file_name writes, nothing more or less.
    char expected[64];
    snprintf(expected, sizeof(expected), ".%ld-%08x-%08x%s", *process, mark, random, ASIDE_SUFFIX);
    if (strcmp(expected, middle) != 0) return false;
    *instance = mark;
    *base_length = (size_t)(middle - name) - 1;
    return true;
}

// Whether `name` (in the folder open as `folder`) is an aside file of a
// write that was killed; `base`, when given, the replaced file's name it
// must belong to.  Only names no player can choose qualify (hidden ones:
// the tag store refuses a name that begins with '.').
static bool is_abandoned_aside_file(int folder, const char *name, const char *base)
{
    long process = 0;
    uint32_t instance = 0;
    size_t base_length = 0;
    if (parse_aside_file_name(name, &process, &instance, &base_length))
    {
        if (base && (strlen(base) != base_length || strncmp(name + 1, base, base_length) != 0)) return false;
        if (process == (long)getpid()) return instance != process_instance();
        return kill((pid_t)process, 0) != 0 && errno == ESRCH;
    }
    // The hidden ".<name>.new" of an older build's tag store, left that long.
    const size_t length = strlen(name), suffix_length = sizeof(ASIDE_SUFFIX) - 1;
    if (name[0] != '.' || length <= suffix_length + 1 || strcmp(name + length - suffix_length, ASIDE_SUFFIX) != 0)
        return false;
    if (base && (length != strlen(base) + suffix_length + 1 || strncmp(name + 1, base, strlen(base)) != 0))
        return false;
    struct stat status;
    return fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
           time(nullptr) - status.st_mtime >= ABANDONED_ASIDE_FILE_SECONDS;
}

// Removes the abandoned aside files of `folder` (of `base` when given).
static int32_t remove_abandoned_aside_files_of(const char *folder, const char *base)
{
    DIR *handle = opendir(folder);
    if (!handle) return 0;
    int32_t removed = 0;
    for (const struct dirent *entry; (entry = readdir(handle));)
    {
        if (!is_abandoned_aside_file(dirfd(handle), entry->d_name, base)) continue;
        if (unlinkat(dirfd(handle), entry->d_name, 0) == 0)
        {
            ++removed;
            log_message(__FILE__, __LINE__, "removed '%s' in '%s', left by a write that was killed", entry->d_name,
                        folder);
        }
    }
    closedir(handle);
    return removed;
}

int32_t remove_abandoned_aside_files(const char *folder)
{
    return folder && folder[0] ? remove_abandoned_aside_files_of(folder, nullptr) : 0;
}

// What one try at an aside file came to.
enum aside_attempt
{
    _aside_made,
    _aside_taken,   // the name drawn was taken: draw another
    _aside_failed,  // the folder refused it (errno says why)
    _aside_unnamed, // no aside name fits
};

// Draws aside names for `base` and has `create` make each, until one is made
// or a few were found taken (_aside_taken then).
static aside_attempt make_aside_file(const char *base, aside_attempt (*create)(const char *name, void *context),
                                     void *context)
{
    char name[MAXIMUM_FILE_NAME];
    for (int32_t attempt = 0; attempt < ASIDE_NAME_ATTEMPTS; ++attempt)
    {
        if (!make_aside_file_name(base, name, sizeof(name))) return _aside_unnamed;
        const aside_attempt made = create(name, context);
        if (made != _aside_taken) return made;
    }
    return _aside_taken;
}

struct aside_reference_creation
{
    file_reference *aside;
    uint32_t mode;
};

static aside_attempt create_aside_reference(const char *name, void *context)
{
    const aside_reference_creation *creation = (const aside_reference_creation *)context;
    bool taken = false;
    if (!file_reference_set_name(creation->aside, name)) return _aside_unnamed;
    if (file_create_exclusive_with_mode(creation->aside, creation->mode, &taken)) return _aside_made;
    return taken ? _aside_taken : _aside_failed;
}

bool file_create_aside(const file_reference *beside, const char *base, uint32_t mode, file_reference *aside)
{
    *aside = *beside;
    aside->descriptor = -1;
    aside->locked = false;
    aside_reference_creation creation = {aside, mode};
    switch (make_aside_file(base, create_aside_reference, &creation))
    {
    case _aside_made:
        return true;
    case _aside_unnamed:
        ERROR_MESSAGE(_error_file_create, "No aside file can be named for '%s'", base ? base : "");
        return false;
    case _aside_taken:
        ERROR_MESSAGE(_error_file_create, "Every aside name tried for '%s' was taken", base ? base : "");
        return false;
    case _aside_failed:
        break;
    }
    return false;
}

struct aside_path_creation
{
    const char *path;
    size_t folder_length;
    char *aside; // PATH_MAX bytes
    int descriptor;
};

static aside_attempt create_aside_path(const char *name, void *context)
{
    aside_path_creation *creation = (aside_path_creation *)context;
    if (creation->folder_length + strlen(name) >= PATH_MAX) return _aside_unnamed;
    memcpy(creation->aside, creation->path, creation->folder_length);
    strcpy(creation->aside + creation->folder_length, name);
    creation->descriptor = step_allowed("create", creation->aside)
                               ? open(creation->aside, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)
                               : -1;
    if (creation->descriptor >= 0) return _aside_made;
    return errno == EEXIST ? _aside_taken : _aside_failed;
}

bool file_replace_whole(const char *path, int64_t length, const void *data)
{
    char aside[PATH_MAX];
    if (!path || !path[0] || length < 0 || (length > 0 && !data))
    {
        errno = EINVAL;
        return false;
    }
    if (strlen(path) >= sizeof(aside))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    // The aside file sits beside `path`: ".<name>.<process>-<mark>-<random>.new".
    const char *last_slash = strrchr(path, '/');
    const char *base = last_slash ? last_slash + 1 : path;
    const size_t folder_length = last_slash ? (size_t)(last_slash - path) + 1 : 0;
    {
        char folder[PATH_MAX];
        memcpy(folder, path, folder_length);
        folder[folder_length] = 0;
        remove_abandoned_aside_files_of(folder_length ? folder : ".", base);
    }
    aside_path_creation creation = {path, folder_length, aside, -1};
    const aside_attempt made = make_aside_file(base, create_aside_path, &creation);
    if (made == _aside_unnamed) errno = ENAMETOOLONG;
    if (made != _aside_made) return false;
    const int descriptor = creation.descriptor;
    bool ok = step_allowed("write", aside) && write_fully(descriptor, 0, length, data) &&
              step_allowed("sync", aside) && fsync(descriptor) == 0;
    int error = errno;
    if (close(descriptor) != 0 && ok)
    {
        ok = false;
        error = errno;
    }
    if (ok && !(step_allowed("rename", path) && rename(aside, path) == 0))
    {
        ok = false;
        error = errno;
    }
    if (!ok)
    {
        unlink(aside);
        errno = error;
        return false;
    }
    // The new name must outlive a crash as well; the file is whole either way.
    char folder[PATH_MAX];
    strcpy(folder, path);
    char *slash = strrchr(folder, '/');
    if (slash) *(slash == folder ? slash + 1 : slash) = 0;
    synchronize_directory_path(slash ? folder : ".");
    return true;
}

bool file_write_from_memory(file_reference *reference, int32_t length, const void *data)
{
    char path[PATH_MAX];
    if (!reference->name[0] || length < 0 || (length > 0 && !data) ||
        !resolve_path_or_report(reference, path, sizeof(path), _error_file_write))
        return false;
    if (file_replace_whole(path, length, data)) return true;
    ERROR_MESSAGE(_error_file_write, "Writing '%s' failed (%s)", path, strerror(errno));
    return false;
}

// ---- the program's environment ---------------------------------------------

bool get_executable_directory(char *directory, size_t size)
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0 || (size_t)length >= sizeof(path) - 1)
    {
        ERROR_MESSAGE(_error_file_general, "Cannot find the program's own path");
        return false;
    }
    path[length] = 0;
    char *slash = strrchr(path, '/');
    if (!slash)
    {
        ERROR_MESSAGE(_error_file_general, "The program's path '%s' has no directory", path);
        return false;
    }
    if (slash == path) slash++; // the program sits in "/"
    *slash = 0;
    if (strlen(path) >= size)
    {
        ERROR_MESSAGE(_error_file_general, "The program's directory '%s' is too long", path);
        return false;
    }
    strcpy(directory, path);
    return true;
}

bool set_working_directory_to_executable(void)
{
    char path[PATH_MAX];
    if (!get_executable_directory(path, sizeof(path))) return false;
    if (chdir(path) != 0)
    {
        ERROR_MESSAGE(_error_file_general, "Cannot enter '%s' (%s)", path, strerror(errno));
        return false;
    }
    return true;
}

// A lock that cannot be taken leaves nothing to stop a second copy of the
// game: told in the log, on standard error and in a message box (the way the
// second copy's refusal is shown; show_message_box writes standard error
// too), once per process.
static void report_single_instance_lock_failure(const char *what, int error)
{
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    char text[256];
    snprintf(text, sizeof(text), "Cannot %s the lock file '%s' (%s): a second copy of the game would not be noticed.",
             what, SINGLE_INSTANCE_LOCK_FILE_NAME, strerror(error));
    log_message(__FILE__, __LINE__, "%s", text);
    show_message_box(text);
}

bool acquire_single_instance_lock(void)
{
    if (file_globals.single_instance_descriptor >= 0) return true;

    int descriptor = open(SINGLE_INSTANCE_LOCK_FILE_NAME, O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (descriptor < 0)
    {
        report_single_instance_lock_failure("create", errno);
        return true;
    }
    const int error = lock_exclusive_without_waiting(descriptor);
    if (error)
    {
        close(descriptor);
        if (error == EWOULDBLOCK) return false;
        report_single_instance_lock_failure("lock", error);
        return true;
    }
    file_globals.single_instance_descriptor = descriptor;
    return true;
}

void release_single_instance_lock(void)
{
    if (file_globals.single_instance_descriptor < 0) return;
    flock(file_globals.single_instance_descriptor, LOCK_UN);
    close(file_globals.single_instance_descriptor);
    file_globals.single_instance_descriptor = -1;
}
