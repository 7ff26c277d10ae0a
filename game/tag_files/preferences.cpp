// Preferences records over local 'pref' tags, and the plug-in component
// files.  See preferences.h.

#include "tag_files/preferences.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "cseries/errors.h"
#include "cseries/files.h"
#include "tag_files/tag_files.h"

// ---- finding the record ---------------------------------------------------------

// The name a record is written under before it replaces the stored one.
static void write_aside_name(const char *name, char aside[TAG_NAME_SIZE])
{
    aside[0] = '~';
    strlcpy(aside + 1, name, TAG_NAME_SIZE - 1);
}

// The stored record named `name`; when a write was cut short after the old
// record was deleted, the complete record written aside.  NONE when neither exists.
static int32_t find_preferences_tag(const char *name)
{
    const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, name);
    if (tag_index != NONE) return tag_index;
    char aside[TAG_NAME_SIZE];
    write_aside_name(name, aside);
    return tag_file_find_by_name(PREFERENCES_GROUP_TAG, aside);
}

// False when the preferences directory exists but cannot be listed: an I/O
// failure, unlike a directory that is simply not there yet.
static bool preferences_directory_is_readable(void)
{
    file_reference directory;
    file_reference_create(&directory, _file_reference_application_relative);
    file_reference_add_directory(&directory, PREFERENCES_FOLDER);
    char path[PATH_MAX];
    file_reference_get_name(&directory, _name_full_path, path, sizeof(path));
    DIR *handle = opendir(path);
    if (handle)
    {
        closedir(handle);
        return true;
    }
    return errno == ENOENT;
}

// ---- the folder's lock -------------------------------------------------------------

enum
{
    PREFERENCES_LOCK_TURNS = 300, // of 10 ms: a write takes a few
    PREFERENCES_LOCK_TURN_MICROSECONDS = 10000,
};

// Another process of the same folder (a second game or tool beside this one)
// may save a record at the same moment: the record is written aside, the
// old one deleted and the new one renamed, and two such sequences
// interleaved delete each other's record, while a reader between two steps
// finds neither name.  A write holds an exclusive lock on the preferences
// folder throughout, a read a shared one; a holder that does not let go
// within the bound (a stopped process) is logged and the work goes on
// unlocked.  `making` makes the folder first (a write), so that even the
// first write is locked.  The descriptor to unlock with, -1 when none was
// taken.
static int lock_preferences_folder(bool exclusive, bool making)
{
    file_reference folder;
    file_reference_create(&folder, _file_reference_application_relative);
    file_reference_add_directory(&folder, PREFERENCES_FOLDER);
    if (making && !file_exists(&folder)) file_create(&folder);
    char path[PATH_MAX];
    file_reference_get_name(&folder, _name_full_path, path, sizeof(path));
    const int descriptor = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return -1; // no folder: nothing to read, or the write fails and says so
    for (int32_t turn = 0; turn < PREFERENCES_LOCK_TURNS; ++turn)
    {
        if (flock(descriptor, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return descriptor;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        usleep(PREFERENCES_LOCK_TURN_MICROSECONDS);
    }
    log_message(__FILE__, __LINE__, "preferences: the preferences folder stays locked; %s without the lock",
                exclusive ? "written" : "read");
    close(descriptor);
    return -1;
}

static void unlock_preferences_folder(int lock)
{
    if (lock >= 0) close(lock); // the lock goes with its descriptor
}

// The record's two names as the folder holds them now: another process may
// have written either since this one scanned the folder.
static void reload_preferences_names(const char *name)
{
    char aside[TAG_NAME_SIZE];
    write_aside_name(name, aside);
    tag_file_reload_local(PREFERENCES_GROUP_TAG, name);
    tag_file_reload_local(PREFERENCES_GROUP_TAG, aside);
}

// ---- reading ------------------------------------------------------------------

static bool verify_record(const preferences_globals *preferences, void *data)
{
    return !preferences->verify_preferences || preferences->verify_preferences(data);
}

static void use_defaults(const preferences_globals *preferences, void *data)
{
    memset(data, 0, (size_t)preferences->size);
    if (preferences->default_preferences) preferences->default_preferences(data);
    const bool valid = verify_record(preferences, data);
    ASSERT(valid);
}

// The stored record of the current version, swapped; false when it is not one.
static bool read_current_record(const preferences_globals *preferences, int32_t tag_index,
                                const tag_file_info *info, void *data)
{
    if (info->size != preferences->size)
    {
        log_message(__FILE__, __LINE__, "preferences '%s' hold %d bytes instead of %d; using the defaults",
                    preferences->name, (int)info->size, (int)preferences->size);
        return false;
    }
    if (!tag_file_read(tag_index, 0, preferences->size, data)) return false;
    if (preferences->byte_swapping_data &&
        !byte_swap_data(preferences->name, data, preferences->size, 1, preferences->byte_swapping_data))
        return false;
    return true;
}

// An older stored record moved into the current layout and converted.
static bool read_older_record(const preferences_globals *preferences, preferences_converter converter,
                              int32_t tag_index, const tag_file_info *info, void *data)
{
    if (!converter)
    {
        log_message(__FILE__, __LINE__, "preferences '%s' of version %d cannot be converted; using the defaults",
                    preferences->name, (int)info->version);
        return false;
    }
    if (info->size < 0 || info->size > MAXIMUM_PREFERENCES_SIZE)
    {
        log_message(__FILE__, __LINE__, "preferences '%s' hold %d bytes; using the defaults", preferences->name,
                    (int)info->size);
        return false;
    }
    const int32_t old_size = info->size > preferences->size ? info->size : preferences->size;
    uint8_t *old_data = (uint8_t *)calloc(1, (size_t)old_size);
    if (!old_data) return false;
    bool ok = info->size == 0 || tag_file_read(tag_index, 0, info->size, old_data);
    if (ok)
    {
        memcpy(data, old_data, (size_t)preferences->size);
        if (info->size < preferences->size)
            memset((uint8_t *)data + info->size, 0, (size_t)(preferences->size - info->size));
        ok = !preferences->byte_swapping_data ||
             byte_swap_data(preferences->name, data, preferences->size, 1, preferences->byte_swapping_data);
    }
    if (ok && !converter(old_data, data, info->version))
    {
        log_message(__FILE__, __LINE__, "preferences '%s' of version %d were refused; using the defaults",
                    preferences->name, (int)info->version);
        ok = false;
    }
    free(old_data);
    return ok;
}

void *read_preferences_convert(preferences_globals *preferences, preferences_converter converter)
{
    if (!VASSERT(preferences, "no preferences")) return nullptr;
    free_preferences(preferences);
    if (!VASSERT(preferences->size > 0 && preferences->size <= MAXIMUM_PREFERENCES_SIZE, preferences->name))
        return nullptr;
    if (preferences->byte_swapping_data &&
        !VASSERT(byte_swap_description_size(preferences->byte_swapping_data) == preferences->size,
                 preferences->name))
        return nullptr;
    if (!preferences_directory_is_readable())
    {
        log_message(__FILE__, __LINE__, "the preferences directory cannot be read; '%s' is not loaded",
                    preferences->name);
        return nullptr;
    }

    void *data = calloc(1, (size_t)preferences->size);
    if (!data)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for %s", (int)preferences->size,
                      preferences->name);
        return nullptr;
    }

    bool loaded = false;
    const int lock = lock_preferences_folder(false, false);
    reload_preferences_names(preferences->name);
    const int32_t tag_index = find_preferences_tag(preferences->name);
    tag_file_info info;
    if (tag_index != NONE && tag_file_info_get(tag_index, &info))
    {
        if (info.version > preferences->version_number)
            log_message(__FILE__, __LINE__, "preferences '%s' have version %d, newer than %d; using the defaults",
                        preferences->name, (int)info.version, (int)preferences->version_number);
        else if (info.version == preferences->version_number)
            loaded = read_current_record(preferences, tag_index, &info, data);
        else
            loaded = read_older_record(preferences, converter, tag_index, &info, data);

        if (loaded && !verify_record(preferences, data))
        {
            log_message(__FILE__, __LINE__, "preferences '%s' failed verification; using the defaults",
                        preferences->name);
            loaded = false;
        }
    }
    unlock_preferences_folder(lock);
    if (!loaded) use_defaults(preferences, data);
    preferences->data = data;
    return data;
}

void free_preferences(preferences_globals *preferences)
{
    if (!preferences || !preferences->data) return;
    free(preferences->data);
    preferences->data = nullptr;
}

// ---- writing ------------------------------------------------------------------

static bool write_preferences_record(preferences_globals *preferences);

bool write_preferences(preferences_globals *preferences)
{
    const int lock = lock_preferences_folder(true, true);
    const bool written = write_preferences_record(preferences);
    unlock_preferences_folder(lock);
    return written;
}

static bool write_preferences_record(preferences_globals *preferences)
{
    if (!VASSERT(preferences && preferences->data, "no preferences to write")) return false;
    uint8_t *stored = (uint8_t *)malloc((size_t)preferences->size);
    if (!stored)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for %s", (int)preferences->size,
                      preferences->name);
        return false;
    }
    // A write cut short by a crash after the old record was deleted left the
    // only complete copy under the aside name.  Writing aside again would
    // replace that copy before the new one is safe, so it takes its real name
    // first.
    char aside_name[TAG_NAME_SIZE];
    write_aside_name(preferences->name, aside_name);
    // What another process wrote under either name is a record like this
    // one's own: read again, it is known, and only a file that does not read
    // as a tag is moved aside.
    reload_preferences_names(preferences->name);
    // A file the store refused (cut, no tag at all) holds either name: it is
    // moved aside whole, so that the record can be written under its names
    // again rather than failing at every save.
    tag_file_set_aside_damaged(PREFERENCES_GROUP_TAG, preferences->name);
    tag_file_set_aside_damaged(PREFERENCES_GROUP_TAG, aside_name);
    if (tag_file_find_by_name(PREFERENCES_GROUP_TAG, preferences->name) == NONE)
    {
        int32_t leftover = tag_file_find_by_name(PREFERENCES_GROUP_TAG, aside_name);
        if (leftover != NONE && !tag_file_name_set(&leftover, preferences->name))
        {
            log_message(__FILE__, __LINE__, "preferences '%s': the record left aside could not be restored",
                        preferences->name);
        }
    }

    memcpy(stored, preferences->data, (size_t)preferences->size);
    bool ok = !preferences->byte_swapping_data ||
              byte_swap_data(preferences->name, stored, preferences->size, 1, preferences->byte_swapping_data);

    // Written and flushed aside first; only then is the old record deleted and
    // the new one given its name.  A crash in between leaves the complete new
    // record under the aside name, where reading finds it.
    int32_t aside = NONE;
    if (ok)
    {
        aside = preferences->owner_only
                    ? tag_file_new_owner_only(PREFERENCES_GROUP_TAG, aside_name, preferences->version_number)
                    : tag_file_new(PREFERENCES_GROUP_TAG, aside_name, preferences->version_number);
        ok = aside != NONE;
    }
    if (ok) ok = tag_file_write(&aside, 0, preferences->size, stored);
    if (ok) ok = tag_files_flush();
    if (ok)
    {
        const int32_t old = tag_file_find_by_name(PREFERENCES_GROUP_TAG, preferences->name);
        ok = old == NONE || tag_file_delete(old);
    }
    if (ok)
    {
        // Should the rename fail, the complete record stays under the aside name.
        ok = tag_file_name_set(&aside, preferences->name);
        if (!ok) aside = NONE;
    }
    if (!ok)
    {
        if (aside != NONE) tag_file_delete(aside);
        ERROR_MESSAGE(_error_file_write, "preferences '%s' could not be written", preferences->name);
    }
    free(stored);
    return ok;
}

// ---- plug-in component files ---------------------------------------------------

static bool component_file_reference(file_reference *file, const char *component_name)
{
    file_reference_create(file, _file_reference_application_relative);
    return file_reference_add_directory(file, PREFERENCES_FOLDER) &&
           component_name && component_name[0] && file_reference_set_name(file, component_name);
}

bool read_plugin_component_file(const char *component_name, char *chosen, size_t size, bool *was_cut)
{
    if (was_cut) *was_cut = false;
    if (chosen && size > 0) chosen[0] = 0;
    if (!chosen || size == 0) return false;
    file_reference file;
    if (!component_file_reference(&file, component_name) || !file_exists(&file)) return false;
    if (!file_open(&file, _permission_read_flag)) return false;
    // Two bytes past the cap: a hand-edited name of 31 characters may end in
    // a line break, which is not a longer name.
    enum { READ_LIMIT = MAXIMUM_PLUGIN_COMPONENT_NAME_LENGTH + 2 };
    char name[READ_LIMIT + 1] = {};
    const int64_t file_size = file_get_size(&file);
    const int32_t length = file_size < 0 ? 0 : file_size > READ_LIMIT ? READ_LIMIT : (int32_t)file_size;
    const bool ok = file_size >= 0 && (length == 0 || file_read_from_position(&file, 0, length, name));
    file_close(&file);
    if (!ok) return false;
    name[length] = 0;
    size_t end = strlen(name);
    while (end > 0 && (name[end - 1] == '\n' || name[end - 1] == '\r')) name[--end] = 0;
    if (end > MAXIMUM_PLUGIN_COMPONENT_NAME_LENGTH || file_size > READ_LIMIT)
    {
        if (was_cut) *was_cut = true;
        end = MAXIMUM_PLUGIN_COMPONENT_NAME_LENGTH;
        name[end] = 0;
    }
    strlcpy(chosen, name, size);
    return true;
}

bool write_plugin_component_file(const char *component_name, const char *chosen)
{
    file_reference file;
    if (!VASSERT(component_file_reference(&file, component_name), "bad plug-in component file name")) return false;
    if (!chosen || !chosen[0])
    {
        const int lock = lock_preferences_folder(true, false);
        const bool deleted = !file_exists(&file) || file_delete(&file);
        unlock_preferences_folder(lock);
        return deleted;
    }

    file_reference directory;
    file_reference_create(&directory, _file_reference_application_relative);
    file_reference_add_directory(&directory, PREFERENCES_FOLDER);
    if (!file_create(&directory)) return false;

    const int32_t length = (int32_t)strnlen(chosen, MAXIMUM_PLUGIN_COMPONENT_NAME_LENGTH);
    const int lock = lock_preferences_folder(true, true);
    const bool ok = file_write_from_memory(&file, length, chosen);
    unlock_preferences_folder(lock);
    if (!ok) ERROR_MESSAGE(_error_file_write, "the plug-in component file '%s' could not be written", component_name);
    return ok;
}
