// The tag-file store: open files, the table of tag headers behind the tag
// indexes, precedence, reading, and the player's local tags.

#include "tag_files/tag_files.h"
#include "tag_files/collection_procedures.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/crc.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/tags.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files_internal.h"

enum
{
    MAXIMUM_TAG_SOURCES = 128,
    MAXIMUM_SALT = 0x7FFF,
    COPY_CHUNK_SIZE = 64 * KILO,
    MAXIMUM_FOLDER_FILES = 65535,
};

static const char *const foundation_file_names[NUMBER_OF_FOUNDATION_TAG_FILES] = {
    "foundation1.tags", "foundation2.tags", "foundation3.tags", "foundation4.tags", "foundation5.tags",
};

// The patches the shipped game cannot run without, checked at start-up.
static const struct
{
    const char *file_name;
    int16_t patch_number;
} required_patches[] = {
    {"patch1.tags", 1},
};

enum tag_header_flags
{
    _header_local_bit = 0,    // a local tag file
    _header_external_bit = 1, // opened by path: visible whatever the local-folder switch
    _header_dirty_bit = 2,    // written since the last flush
    _header_pending_bit = 3,  // a replacement still under its aside name, hidden until committed
    _header_unsettled_bit = 4, // a player's file just read, whose subgroup is not yet known to be its own

    _header_local_flag = 1 << _header_local_bit,
    _header_external_flag = 1 << _header_external_bit,
    _header_dirty_flag = 1 << _header_dirty_bit,
    _header_pending_flag = 1 << _header_pending_bit,
    _header_unsettled_flag = 1 << _header_unsettled_bit,
};

struct tag_header // behind one tag index (memory only)
{
    uint16_t salt; // 0: the slot is free
    int16_t source;
    int16_t directory; // local tags: their folder in the directory table
    uint16_t flags;
    tag group_tag;
    tag subgroup_tag;
    char name[TAG_NAME_SIZE];
    char file_name[TAG_NAME_SIZE * 3]; // local tags: the file's own name (a pending one's aside name)
    uint32_t user_data;
    int16_t version;
    int32_t size;
    uint32_t offset; // tags of monolithic files: where the data begins
    int32_t replaces; // pending tags: the index of the tag they replace (0: none left)
};

struct tag_source // one open file, or the local tags
{
    bool used;
    bool detached; // outside the precedence chain
    int16_t type;
    int16_t level;
    int32_t rank;
    int16_t foundation_index;
    int16_t patch_number;
    uint32_t checksum;
    char name[MAXIMUM_FILE_NAME];
    file_reference file; // monolithic files: open for reading
};

struct local_directory
{
    int16_t location;
    char path[MAXIMUM_FILE_REFERENCE_PATH];
};

// The subgroup a player's file was known by, kept for the life of the
// process (see settle_player_subgroups).
struct kept_subgroup
{
    uint64_t path_hash; // of the file's full path and its group
    tag subgroup_tag;
};

struct shadow_override
{
    tag group_tag;
    tag subgroup_tag;
    int32_t owner_index;
};

static struct tag_file_globals
{
    bool initialized;
    bool local_disabled;
    int16_t game_plugins[MAXIMUM_PLUGINS_PER_GAME];
    int32_t game_plugin_count;

    tag_source sources[MAXIMUM_TAG_SOURCES];
    int32_t local_source;

    tag_header *headers;
    int32_t header_capacity;
    int32_t header_high; // slots below this may be in use
    int32_t free_hint;
    uint16_t next_salt;

    int32_t *order; // slots of the chain, by group, subgroup, rank (high first), slot (high first)
    int32_t order_count;
    int32_t order_capacity;
    bool order_dirty;

    shadow_override *overrides;
    int32_t override_count;

    local_directory *directories;
    int32_t directory_count;

    uint64_t random_state;
    bool random_seeded;

    // Outlive every reopen (freed by dispose_tag_files only).
    kept_subgroup *kept_subgroups;
    int32_t kept_subgroup_count;

    int32_t temporary_source;
    int32_t temporary_plugin_index;
    int32_t temporary_collection_index;
} tag_file_globals;

// ---- handles and headers ---------------------------------------------------

static tag_header *header_from_index(int32_t tag_index)
{
    if (tag_index <= 0) return nullptr;
    int32_t slot = tag_index & 0xFFFF;
    uint16_t salt = (uint16_t)((uint32_t)tag_index >> 16);
    if (slot >= tag_file_globals.header_high) return nullptr;
    tag_header *header = &tag_file_globals.headers[slot];
    if (header->salt == 0 || header->salt != salt) return nullptr;
    return header;
}

static int32_t header_index(int32_t slot)
{
    return ((int32_t)tag_file_globals.headers[slot].salt << 16) | slot;
}

static int32_t header_slot(const tag_header *header) { return (int32_t)(header - tag_file_globals.headers); }

// A free slot with a fresh salt, or NONE when the handle space is full.
static int32_t header_new(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    int32_t slot = NONE;
    for (int32_t i = g->free_hint; i < g->header_high; i++)
        if (g->headers[i].salt == 0)
        {
            slot = i;
            break;
        }
    if (slot == NONE)
    {
        if (g->header_high >= MAXIMUM_TAG_HEADERS) return NONE;
        if (g->header_high == g->header_capacity)
        {
            int32_t capacity = g->header_capacity ? g->header_capacity * 2 : 1024;
            if (capacity > MAXIMUM_TAG_HEADERS) capacity = MAXIMUM_TAG_HEADERS;
            tag_header *headers = (tag_header *)realloc(g->headers, sizeof(tag_header) * (size_t)capacity);
            if (!headers) return NONE;
            g->headers = headers;
            g->header_capacity = capacity;
        }
        slot = g->header_high++;
    }
    g->free_hint = slot + 1;
    memset(&g->headers[slot], 0, sizeof(tag_header));
    g->headers[slot].salt = g->next_salt;
    g->headers[slot].directory = NONE;
    g->next_salt = (uint16_t)(g->next_salt >= MAXIMUM_SALT ? 1 : g->next_salt + 1);
    return slot;
}

static void header_free(int32_t slot)
{
    tag_file_globals.headers[slot].salt = 0;
    if (slot < tag_file_globals.free_hint) tag_file_globals.free_hint = slot;
}

// ---- the chain: sorted slots and winners ------------------------------------

static int compare_order(const void *a, const void *b)
{
    int32_t sa = *(const int32_t *)a, sb = *(const int32_t *)b;
    const tag_header *x = &tag_file_globals.headers[sa], *y = &tag_file_globals.headers[sb];
    int c = compare_tags(x->group_tag, y->group_tag);
    if (c) return c;
    c = compare_tags(x->subgroup_tag, y->subgroup_tag);
    if (c) return c;
    int32_t rx = tag_file_globals.sources[x->source].rank, ry = tag_file_globals.sources[y->source].rank;
    if (rx != ry) return rx > ry ? -1 : 1;
    return sa > sb ? -1 : (sa < sb ? 1 : 0);
}

static bool order_append(int32_t slot)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (g->order_count == g->order_capacity)
    {
        int32_t capacity = g->order_capacity ? g->order_capacity * 2 : 1024;
        int32_t *order = (int32_t *)realloc(g->order, sizeof(int32_t) * (size_t)capacity);
        if (!order) return false;
        g->order = order;
        g->order_capacity = capacity;
    }
    g->order[g->order_count++] = slot;
    g->order_dirty = true;
    return true;
}

static void order_sort(void)
{
    if (!tag_file_globals.order_dirty) return;
    qsort(tag_file_globals.order, (size_t)tag_file_globals.order_count, sizeof(int32_t), compare_order);
    tag_file_globals.order_dirty = false;
}

static void order_remove(int32_t slot)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t i = 0; i < g->order_count; i++)
        if (g->order[i] == slot)
        {
            memmove(&g->order[i], &g->order[i + 1], sizeof(int32_t) * (size_t)(g->order_count - i - 1));
            g->order_count--;
            return;
        }
}

// Local copies of game data drop out while the local folder is switched off;
// the player's own records never do.
static bool header_is_visible(const tag_header *header)
{
    if (header->flags & _header_pending_flag) return false;
    if (!(header->flags & _header_local_flag) || (header->flags & _header_external_flag)) return true;
    if (!tag_file_globals.local_disabled) return true;
    return header->group_tag == PREFERENCES_GROUP_TAG || header->group_tag == RECORDING_GROUP_TAG ||
           header->group_tag == SAVED_GAME_GROUP_TAG;
}

// The first position of (group, subgroup) in the sorted chain.
static int32_t order_lower_bound(tag group, tag subgroup)
{
    int32_t low = 0, high = tag_file_globals.order_count;
    while (low < high)
    {
        int32_t middle = low + (high - low) / 2;
        const tag_header *h = &tag_file_globals.headers[tag_file_globals.order[middle]];
        int c = compare_tags(h->group_tag, group);
        if (!c) c = compare_tags(h->subgroup_tag, subgroup);
        if (c < 0) low = middle + 1;
        else high = middle;
    }
    return low;
}

// The winner of the run of one (group, subgroup) starting at `start`; the
// run's end goes to `*end`.  NONE when nothing in it is visible.
static int32_t order_run_winner(int32_t start, int32_t *end)
{
    struct tag_file_globals *g = &tag_file_globals;
    const tag_header *first = &g->headers[g->order[start]];
    int32_t stop = start;
    while (stop < g->order_count && g->headers[g->order[stop]].group_tag == first->group_tag &&
           g->headers[g->order[stop]].subgroup_tag == first->subgroup_tag)
        stop++;
    if (end) *end = stop;

    int32_t owner = NONE;
    for (int32_t i = 0; i < g->override_count; i++)
        if (g->overrides[i].group_tag == first->group_tag && g->overrides[i].subgroup_tag == first->subgroup_tag)
            owner = g->overrides[i].owner_index;
    if (owner != NONE)
        for (int32_t i = start; i < stop; i++)
        {
            const tag_header *h = &g->headers[g->order[i]];
            if (h->source == owner && header_is_visible(h)) return g->order[i];
        }
    for (int32_t i = start; i < stop; i++)
        if (header_is_visible(&g->headers[g->order[i]])) return g->order[i];
    return NONE;
}

// ---- sources -----------------------------------------------------------------

static int32_t source_new(int16_t type, int16_t level, int32_t position, bool detached)
{
    for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES; i++)
    {
        tag_source *source = &tag_file_globals.sources[i];
        if (source->used) continue;
        memset(source, 0, sizeof(*source));
        source->used = true;
        source->detached = detached;
        source->type = type;
        source->level = level;
        source->rank = level * 0x10000 + position;
        source->foundation_index = NONE;
        source->file.descriptor = -1;
        return i;
    }
    log_message(__FILE__, __LINE__, "too many open tag files");
    return NONE;
}

static void source_close(int32_t source_index)
{
    struct tag_file_globals *g = &tag_file_globals;
    tag_source *source = &g->sources[source_index];
    if (!source->used) return;
    bool chained = false;
    for (int32_t slot = 0; slot < g->header_high; slot++)
        if (g->headers[slot].salt && g->headers[slot].source == source_index)
        {
            if (!source->detached) chained = true;
            header_free(slot);
        }
    if (chained)
    {
        int32_t kept = 0;
        for (int32_t i = 0; i < g->order_count; i++)
            if (g->headers[g->order[i]].salt) g->order[kept++] = g->order[i];
        g->order_count = kept;
    }
    if (source->file.descriptor >= 0) file_close(&source->file);
    source->used = false;
}

// Opens and checks a monolithic file and gives every tag a header.  NONE
// (logged, with a pending code 10 when `report`) when it is refused whole.
static int32_t source_open_monolithic(file_reference *file, const char *label, int16_t level, int32_t position,
                                      bool detached, monolithic_tag_file_header *header_out)
{
    struct tag_file_globals *g = &tag_file_globals;
    monolithic_tag_file_header header;
    monolithic_tag_entry *entries = nullptr;
    file->descriptor = -1;
    if (!file_open(file, _permission_read_flag))
    {
        log_message(__FILE__, __LINE__, "tag file '%s' cannot be opened", label);
        return NONE;
    }
    if (!monolithic_tag_file_read_directory(label, file, true, &header, &entries))
    {
        file_close(file);
        return NONE;
    }
    int32_t used = 0;
    for (int32_t slot = 0; slot < g->header_high; slot++)
        if (g->headers[slot].salt) used++;
    int32_t source_index = NONE;
    if (used + header.tag_count > MAXIMUM_TAG_HEADERS)
        log_message(__FILE__, __LINE__, "tag file '%s' refused: its %d tags exceed the handle space", label,
                    (int)header.tag_count);
    else
        source_index = source_new((int16_t)header.type, level, position, detached);
    if (source_index == NONE)
    {
        free(entries);
        file_close(file);
        return NONE;
    }
    tag_source *source = &g->sources[source_index];
    source->file = *file;
    source->checksum = header.checksum;
    source->patch_number = header.patch_number;
    strlcpy(source->name, file->name, sizeof(source->name));
    for (int32_t i = 0; i < header.tag_count; i++)
    {
        int32_t slot = header_new();
        if (slot == NONE || (!detached && !order_append(slot)))
        {
            log_message(__FILE__, __LINE__, "tag file '%s' refused: out of tag headers", label);
            if (slot != NONE) header_free(slot);
            free(entries);
            source_close(source_index);
            return NONE;
        }
        tag_header *h = &g->headers[slot];
        h->source = (int16_t)source_index;
        h->group_tag = entries[i].group_tag;
        h->subgroup_tag = entries[i].subgroup_tag;
        memcpy(h->name, entries[i].name, TAG_NAME_SIZE);
        h->user_data = entries[i].user_data;
        h->version = entries[i].version;
        h->size = entries[i].size;
        h->offset = entries[i].offset;
    }
    free(entries);
    if (header_out) *header_out = header;
    return source_index;
}

int32_t tag_source_open_detached(file_reference *file, const char *label, monolithic_tag_file_header *header)
{
    return source_open_monolithic(file, label, _source_level_base, 0, true, header);
}

void tag_source_close(int32_t source_index)
{
    if (source_index >= 0 && source_index < MAXIMUM_TAG_SOURCES) source_close(source_index);
}

int32_t tag_source_enumerate_group(int32_t source_index, tag group, int32_t *indexes, int32_t maximum)
{
    struct tag_file_globals *g = &tag_file_globals;
    int32_t count = 0;
    // Slots of one file are given in directory order, which is by subgroup.
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (!h->salt || h->source != source_index || h->group_tag != group) continue;
        if (indexes && count < maximum) indexes[count] = header_index(slot);
        count++;
    }
    return count;
}

// ---- local tag files -----------------------------------------------------------

static int16_t directory_find_or_add(int16_t location, const char *path)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t i = 0; i < g->directory_count; i++)
        if (g->directories[i].location == location && strcmp(g->directories[i].path, path) == 0) return (int16_t)i;
    // A path cut to fit could name another folder.
    if (g->directory_count >= 0x7FFF || strlen(path) >= MAXIMUM_FILE_REFERENCE_PATH) return NONE;
    local_directory *directories =
        (local_directory *)realloc(g->directories, sizeof(local_directory) * (size_t)(g->directory_count + 1));
    if (!directories) return NONE;
    g->directories = directories;
    directories[g->directory_count].location = location;
    strlcpy(directories[g->directory_count].path, path, MAXIMUM_FILE_REFERENCE_PATH);
    return (int16_t)g->directory_count++;
}

// A reference to folder `directory` (and `name` in it, when not null).
static bool directory_reference(int32_t directory, const char *name, file_reference *file)
{
    const local_directory *d = &tag_file_globals.directories[directory];
    file_reference_create(file, d->location);
    if (d->location == _file_reference_absolute)
    {
        if (d->path[0] && !file_reference_add_directory(file, d->path)) return false;
    }
    else
    {
        char component[MAXIMUM_FILE_REFERENCE_PATH];
        const char *cursor = d->path;
        while (*cursor)
        {
            const char *end = strchr(cursor, '/');
            size_t length = end ? (size_t)(end - cursor) : strlen(cursor);
            if (length >= sizeof(component)) return false;
            memcpy(component, cursor, length);
            component[length] = 0;
            if (!file_reference_add_directory(file, component)) return false;
            cursor += length + (end ? 1 : 0);
        }
    }
    return !name || file_reference_set_name(file, name);
}

static bool local_reference(const tag_header *header, file_reference *file)
{
    return directory_reference(header->directory, header->file_name, file);
}

// Where films and saved games go instead of the program's directory (an
// absolute path, without its trailing '/'), or empty.  Outside the store's
// globals: it outlives dispose_tag_files.
static char player_folders_root[MAXIMUM_FILE_REFERENCE_PATH - 32]; // room for "/saved games"

// The path of the films' or saved games' `folder` and the kind of path it is
// (a directory table location; an absolute path is kept without its leading
// '/', as the table keeps it).
static int16_t player_folder(const char *folder, char *path, size_t size)
{
    if (!player_folders_root[0])
    {
        strlcpy(path, folder, size);
        return _file_reference_application_relative;
    }
    slprintf(path, size, "%s/%s", player_folders_root + 1, folder);
    return _file_reference_absolute;
}

// The folder where the store puts new local tags of `group`, and its location.
static int16_t group_folder(tag group, char *path, size_t size)
{
    if (group == PREFERENCES_GROUP_TAG) strlcpy(path, PREFERENCES_FOLDER, size);
    else if (group == RECORDING_GROUP_TAG) return player_folder(FILMS_FOLDER, path, size);
    else if (group == SAVED_GAME_GROUP_TAG) return player_folder(SAVED_GAMES_FOLDER, path, size);
    else
    {
        char directory[9];
        slprintf(path, size, "%s/%s", LOCAL_TAGS_FOLDER, tag_group_directory_name(group, directory));
    }
    return _file_reference_application_relative;
}

bool tag_files_set_player_folders_root(const char *directory)
{
    if (!directory || !directory[0])
    {
        player_folders_root[0] = 0;
        return true;
    }
    if (directory[0] != '/' || strlen(directory) >= sizeof(player_folders_root)) return false;
    strlcpy(player_folders_root, directory, sizeof(player_folders_root));
    size_t length = strlen(player_folders_root);
    while (length > 1 && player_folders_root[length - 1] == '/') player_folders_root[--length] = 0;
    if (length > 1) return true;
    player_folders_root[0] = 0; // never the root of the file system
    return false;
}

const char *tag_files_player_folders_root(void) { return player_folders_root; }

static int32_t ensure_local_source(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (g->local_source == NONE) g->local_source = source_new(_tag_file_type_local, _source_level_local, 0, false);
    return g->local_source;
}

// Films and saved games: the files the player keeps, copies and replaces.
static bool is_player_group(tag group) { return group == RECORDING_GROUP_TAG || group == SAVED_GAME_GROUP_TAG; }

// Reads and checks the header of the local tag file `file`, then gives it a
// header in the local source.  A film or saved game comes back unsettled
// (settle_player_subgroups).  The slot, or NONE (logged) when refused.
// `quiet_when_foreign`: a file that does not start with the local magic is
// passed over without a word (other modules keep files in these folders).
static int32_t local_file_add(int32_t directory, const char *file_name, uint16_t flags, bool quiet_when_foreign)
{
    struct tag_file_globals *g = &tag_file_globals;
    file_reference file;
    char label[MAXIMUM_FILE_REFERENCE_PATH + MAXIMUM_FILE_NAME];
    if (!directory_reference(directory, file_name, &file)) return NONE;
    file_reference_get_name(&file, _name_full_path, label, sizeof(label));
    if (!file_open(&file, _permission_read_flag))
    {
        if (!quiet_when_foreign) log_message(__FILE__, __LINE__, "local tag file '%s' cannot be opened", label);
        return NONE;
    }
    local_tag_file_header header;
    int64_t size = file_get_size(&file);
    bool read = size >= (int64_t)sizeof(header) && file_read_from_position(&file, 0, sizeof(header), &header);
    file_close(&file);
    if (quiet_when_foreign && (!read || read_be32(&header.magic) != (uint32_t)LOCAL_TAG_FILE_MAGIC)) return NONE;
    if (!read) memset(&header, 0, sizeof(header));
    if (!local_tag_file_header_parse(label, &header, read ? size : 0)) return NONE;
    if (strlen(file_name) >= sizeof(g->headers[0].file_name))
    {
        log_message(__FILE__, __LINE__, "local tag file '%s' refused: file name too long", label);
        return NONE;
    }
    int32_t source = ensure_local_source();
    int32_t slot = source == NONE ? NONE : header_new();
    if (slot == NONE)
    {
        log_message(__FILE__, __LINE__, "local tag file '%s' refused: out of tag headers", label);
        return NONE;
    }
    if (!order_append(slot))
    {
        header_free(slot);
        return NONE;
    }
    tag_header *h = &g->headers[slot];
    h->source = (int16_t)source;
    h->directory = (int16_t)directory;
    h->flags = (uint16_t)(_header_local_flag | flags);
    h->group_tag = header.group_tag;
    h->subgroup_tag = header.subgroup_tag;
    memcpy(h->name, header.name, TAG_NAME_SIZE);
    // A player keeps a film or a save by copying its file under another name:
    // the copy is known by that name, not by the one written inside it, so
    // that no list shows it as the original and nothing that replaces the
    // original by name touches it.  (Pending files carry a hidden name, which
    // is no tag name: they keep theirs.)
    if (!(flags & _header_external_flag) && tag_name_is_valid(file_name)) strlcpy(h->name, file_name, TAG_NAME_SIZE);
    strlcpy(h->file_name, file_name, sizeof(h->file_name));
    h->user_data = header.user_data;
    h->version = header.version;
    h->size = header.data_size;
    // Its subgroup may be another file's (a copy): the caller settles it.
    if (is_player_group(h->group_tag) && !(flags & _header_pending_flag)) h->flags |= _header_unsettled_flag;
    return slot;
}

static int compare_file_names(const void *a, const void *b)
{
    return strcmp((const char *)a, (const char *)b);
}

int32_t folder_list(const file_reference *folder, bool directories, char (**names)[MAXIMUM_FILE_NAME])
{
    *names = nullptr;
    char path[PATH_MAX];
    file_reference_get_name(folder, _name_directory_flag, path, sizeof(path));
    DIR *handle = opendir(path);
    if (!handle) return -1;
    int32_t count = 0, capacity = 0;
    char(*list)[MAXIMUM_FILE_NAME] = nullptr;
    struct dirent *entry;
    while ((entry = readdir(handle)) != nullptr && count < MAXIMUM_FOLDER_FILES)
    {
        if (entry->d_name[0] == '.' || strlen(entry->d_name) >= MAXIMUM_FILE_NAME) continue;
        char full[PATH_MAX];
        struct stat status;
        if (slprintf(full, sizeof(full), "%s/%s", path, entry->d_name) >= (int32_t)sizeof(full) - 1) continue;
        if (stat(full, &status) != 0) continue;
        if (directories ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) continue;
        if (count == capacity)
        {
            capacity = capacity ? capacity * 2 : 64;
            char(*grown)[MAXIMUM_FILE_NAME] =
                (char(*)[MAXIMUM_FILE_NAME])realloc(list, (size_t)capacity * MAXIMUM_FILE_NAME);
            if (!grown) break;
            list = grown;
        }
        strlcpy(list[count++], entry->d_name, MAXIMUM_FILE_NAME);
    }
    closedir(handle);
    if (count > 1) qsort(list, (size_t)count, MAXIMUM_FILE_NAME, compare_file_names);
    *names = list;
    return count;
}

// folder_list of folder `directory` of the directory table.
static int32_t directory_list(int32_t directory, bool directories, char (**names)[MAXIMUM_FILE_NAME])
{
    file_reference folder;
    *names = nullptr;
    return directory_reference(directory, nullptr, &folder) ? folder_list(&folder, directories, names) : -1;
}

static void local_folder_scan(int16_t location, const char *path)
{
    int16_t directory = directory_find_or_add(location, path);
    if (directory == NONE) return;
    // What a write killed before it ended left aside goes at the next start.
    file_reference folder;
    char folder_path[PATH_MAX];
    if (directory_reference(directory, nullptr, &folder) &&
        file_reference_get_name(&folder, _name_full_path, folder_path, sizeof(folder_path)))
        remove_abandoned_aside_files(folder_path);
    char(*names)[MAXIMUM_FILE_NAME];
    int32_t count = directory_list(directory, false, &names);
    for (int32_t i = 0; i < count; i++) local_file_add(directory, names[i], 0, true);
    free(names);
}

static void settle_player_subgroups(void);

static void local_folders_scan(void)
{
    ensure_local_source();
    local_folder_scan(_file_reference_application_relative, PREFERENCES_FOLDER);
    char player_path[MAXIMUM_FILE_REFERENCE_PATH];
    static const char *const player_folders[] = {FILMS_FOLDER, SAVED_GAMES_FOLDER};
    for (const char *folder : player_folders)
    {
        const int16_t location = player_folder(folder, player_path, sizeof(player_path));
        local_folder_scan(location, player_path);
    }
    int16_t root = directory_find_or_add(_file_reference_application_relative, LOCAL_TAGS_FOLDER);
    if (root == NONE) return;
    char(*groups)[MAXIMUM_FILE_NAME];
    int32_t count = directory_list(root, true, &groups);
    for (int32_t i = 0; i < count; i++)
    {
        char path[MAXIMUM_FILE_REFERENCE_PATH];
        slprintf(path, sizeof(path), "%s/%s", LOCAL_TAGS_FOLDER, groups[i]);
        local_folder_scan(_file_reference_application_relative, path);
    }
    free(groups);
}

// The local tag of `group` whose file is named `name` (without regard to
// case) that the store manages in its folders, or NONE.  Files opened by path
// are not managed: nothing replaces or deletes them behind the player's back.
// Only the file's own name counts: a file copied under another name keeps
// the old name inside it, and replacing the original must not take the copy.
static int32_t local_find_by_name(tag group, const char *name, int32_t except_slot)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (!h->salt || slot == except_slot || h->group_tag != group) continue;
        if (!(h->flags & _header_local_flag) || (h->flags & (_header_external_flag | _header_pending_flag))) continue;
        if (strcasecmp_(h->file_name, name) == 0) return slot;
    }
    return NONE;
}

static bool subgroup_is_free(tag group, tag subgroup)
{
    if (subgroup == 0 || subgroup == NONE) return false;
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (h->salt && h->group_tag == group && h->subgroup_tag == subgroup) return false;
    }
    return true;
}

// A private generator for subgroups: films must never draw from the game's
// synchronized generator, or recording would change the game.
static uint32_t private_random(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (!g->random_seeded)
    {
        uint64_t seed = 0;
        int descriptor = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (descriptor >= 0)
        {
            if (read(descriptor, &seed, sizeof(seed)) != (ssize_t)sizeof(seed)) seed = 0;
            close(descriptor);
        }
        if (!seed)
        {
            struct timespec now;
            clock_gettime(CLOCK_REALTIME, &now);
            seed = ((uint64_t)now.tv_sec << 32) ^ (uint64_t)now.tv_nsec ^ ((uint64_t)getpid() << 16);
        }
        g->random_state = seed;
        g->random_seeded = true;
    }
    // splitmix64
    uint64_t z = (g->random_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return (uint32_t)(z ^ (z >> 31));
}

static tag random_free_subgroup(tag group)
{
    for (int32_t attempt = 0; attempt < 4096; attempt++)
    {
        tag subgroup = (tag)private_random();
        if (subgroup_is_free(group, subgroup)) return subgroup;
    }
    return NONE;
}

// ---- the player's files: one subgroup each ----------------------------------------

// Every film and saved game is its own file, found, listed and replaced by
// it.  The chain shows one tag per (group, subgroup), so two files of one
// group sharing a subgroup (a film copied under another name, a saved game
// copied over another, two tool-made saves) would hide each other, and
// replacing one by name would miss it.  A file that comes with a subgroup
// another file holds is known by a free one while the store has it open;
// the file itself is never rewritten for it.  What each file was known by is
// kept for the life of the process, so that a film being recorded or a saved
// game being played keeps its subgroup across the reopen of every map start,
// whatever files were copied in meanwhile.

// FNV-1a over the tag's file's full path and its group; 0 when it has no path.
static uint64_t player_file_hash(const tag_header *header)
{
    file_reference file;
    char path[PATH_MAX];
    if (!local_reference(header, &file)) return 0;
    file_reference_get_name(&file, _name_full_path, path, sizeof(path));
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char *c = path; *c; ++c) hash = (hash ^ (uint8_t)*c) * 0x100000001B3ull;
    for (int32_t shift = 24; shift >= 0; shift -= 8)
        hash = (hash ^ (uint8_t)(header->group_tag >> shift)) * 0x100000001B3ull;
    return hash;
}

static kept_subgroup *kept_subgroup_find(uint64_t hash)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t i = 0; i < g->kept_subgroup_count; i++)
        if (g->kept_subgroups[i].path_hash == hash) return &g->kept_subgroups[i];
    return nullptr;
}

// Remembers the subgroup of a settled film or saved game under its path.
static void keep_player_subgroup(const tag_header *header)
{
    struct tag_file_globals *g = &tag_file_globals;
    const uint64_t hash = player_file_hash(header);
    if (!hash) return;
    kept_subgroup *kept = kept_subgroup_find(hash);
    if (!kept)
    {
        kept_subgroup *grown =
            (kept_subgroup *)realloc(g->kept_subgroups, sizeof(kept_subgroup) * (size_t)(g->kept_subgroup_count + 1));
        if (!grown) return; // only the memory across reopens is lost
        g->kept_subgroups = grown;
        kept = &grown[g->kept_subgroup_count++];
        kept->path_hash = hash;
    }
    kept->subgroup_tag = header->subgroup_tag;
}

// Whether a settled tag of `group` other than `slot` holds `subgroup`.
static bool subgroup_held_by_another(tag group, tag subgroup, int32_t slot)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t other = 0; other < g->header_high; other++)
    {
        const tag_header *h = &g->headers[other];
        if (h->salt && other != slot && !(h->flags & _header_unsettled_flag) && h->group_tag == group &&
            h->subgroup_tag == subgroup)
            return true;
    }
    return false;
}

// Gives every unsettled film and saved game a subgroup no other tag of its
// group holds: first the subgroup its file had before in this process, when
// still free; then its own; else a fresh one (logged).
static void settle_player_subgroups(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t pass = 0; pass < 2; pass++)
        for (int32_t slot = 0; slot < g->header_high; slot++)
        {
            tag_header *h = &g->headers[slot];
            if (!h->salt || !(h->flags & _header_unsettled_flag)) continue;
            if (pass == 0)
            {
                const kept_subgroup *kept = kept_subgroup_find(player_file_hash(h));
                if (!kept || kept->subgroup_tag == 0 || kept->subgroup_tag == NONE ||
                    subgroup_held_by_another(h->group_tag, kept->subgroup_tag, slot))
                    continue;
                h->subgroup_tag = kept->subgroup_tag;
            }
            else if (subgroup_held_by_another(h->group_tag, h->subgroup_tag, slot))
            {
                const tag subgroup = random_free_subgroup(h->group_tag);
                char was[5], now[5];
                file_reference file;
                char path[PATH_MAX] = "";
                if (local_reference(h, &file)) file_reference_get_name(&file, _name_full_path, path, sizeof(path));
                if (subgroup == NONE)
                    log_message(__FILE__, __LINE__, "'%s' shares its subgroup %s with another file, and none is free",
                                path, tag_to_string_buffer(h->subgroup_tag, was));
                else
                {
                    log_message(__FILE__, __LINE__,
                                "'%s' shares its subgroup %s with another file: it is known by %s while open", path,
                                tag_to_string_buffer(h->subgroup_tag, was), tag_to_string_buffer(subgroup, now));
                    h->subgroup_tag = subgroup;
                }
            }
            h->flags &= (uint16_t)~_header_unsettled_flag;
            keep_player_subgroup(h);
            g->order_dirty = true;
        }
}

// Writes `count` zero bytes at `offset` of an open file.
static bool write_zeros(file_reference *file, int64_t offset, int64_t count)
{
    static const uint8_t zeros[4 * KILO] = {};
    while (count > 0)
    {
        int32_t length = (int32_t)(count < (int64_t)sizeof(zeros) ? count : (int64_t)sizeof(zeros));
        if (!file_write_to_position(file, offset, length, zeros)) return false;
        offset += length;
        count -= length;
    }
    return true;
}

// Makes a new local tag file (header, then `size` bytes from `copy_slot`'s
// data when it is not NONE) in the group's folder and gives it a header.  The
// file is written under a hidden name (folder scans pass over it).  A new name
// takes it at once (there is nothing to lose) unless `always_pending`.  When
// `replaced_slot` is not NONE the new tag stays pending under the hidden name, invisible, while the
// caller writes it; only local_tag_commit, once it is whole and on disk, gives
// it the replaced tag's place, so no crash or failure before then can cost
// the tag it replaces.  On failure nothing changes.
static int32_t local_tag_create(tag group, tag subgroup, const char *name_given, int16_t version, uint32_t user_data,
                                int32_t copy_slot, int32_t replaced_slot, bool always_pending = false,
                                uint32_t file_mode = 0644)
{
    struct tag_file_globals *g = &tag_file_globals;
    // The name may point into the header table (a copy of a packed tag takes
    // its name), which local_file_add below may move when it grows.
    char name[TAG_NAME_SIZE];
    strlcpy(name, name_given, sizeof(name));
    char path[MAXIMUM_FILE_REFERENCE_PATH];
    const int16_t location = group_folder(group, path, sizeof(path));
    int16_t directory = directory_find_or_add(location, path);
    file_reference folder, file, aside, replaced;
    if (directory == NONE || !directory_reference(directory, nullptr, &folder) || !file_create(&folder) ||
        !directory_reference(directory, name, &file))
    {
        ERROR_MESSAGE(_error_file_create, "Cannot make the folder for local tag '%s'", name);
        return NONE;
    }
    char file_path[PATH_MAX], aside_path[PATH_MAX], replaced_path[PATH_MAX] = "";
    file_reference_get_name(&file, _name_full_path, file_path, sizeof(file_path));
    if (replaced_slot != NONE && local_reference(&g->headers[replaced_slot], &replaced))
        file_reference_get_name(&replaced, _name_full_path, replaced_path, sizeof(replaced_path));
    if (file_exists(&file) && strcmp(file_path, replaced_path) != 0)
    {
        // A file of that name that the store does not manage as this group's
        // tag belongs to someone else: never overwrite it.
        ERROR_MESSAGE(_error_file_create, "Cannot create local tag '%s': a different file of that name exists", name);
        return NONE;
    }
    int32_t size = copy_slot == NONE ? 0 : g->headers[copy_slot].size;
    local_tag_file_header header;
    local_tag_file_header_build(&header, group, subgroup, version, user_data, name, size);
    // Written under a hidden name of this write's own (folder scans pass over
    // hidden files), which no player's file can have.
    if (!file_create_aside(&folder, name, file_mode, &aside)) return NONE;
    char aside_name[MAXIMUM_FILE_NAME];
    strlcpy(aside_name, aside.name, sizeof(aside_name));
    file_reference_get_name(&aside, _name_full_path, aside_path, sizeof(aside_path));
    bool ok = file_open(&aside, _permission_write_flag) && file_write_to_position(&aside, 0, sizeof(header), &header);
    if (ok && copy_slot != NONE)
    {
        uint8_t *chunk = (uint8_t *)malloc(COPY_CHUNK_SIZE);
        ok = chunk != nullptr;
        int32_t copy_index = header_index(copy_slot);
        for (int32_t done = 0; ok && done < size; done += COPY_CHUNK_SIZE)
        {
            int32_t length = size - done < COPY_CHUNK_SIZE ? size - done : COPY_CHUNK_SIZE;
            ok = tag_file_read(copy_index, done, length, chunk) &&
                 file_write_to_position(&aside, (int64_t)sizeof(header) + done, length, chunk);
        }
        free(chunk);
    }
    if (aside.descriptor >= 0) file_close(&aside);
    const bool pending = replaced_slot != NONE || always_pending;
    if (ok && !pending) ok = file_rename(&aside, &file);
    if (!ok)
    {
        unlink(aside_path);
        ERROR_MESSAGE(_error_file_write, "Cannot write local tag '%s'", name);
        return NONE;
    }
    int32_t slot = local_file_add(directory, pending ? aside_name : name, pending ? _header_pending_flag : 0, false);
    if (slot == NONE)
    {
        // A file the store cannot stand for would turn up as a stray tag at
        // the next reopen.
        if (pending) unlink(aside_path);
        else file_delete(&file);
        return NONE;
    }
    if (replaced_slot != NONE) g->headers[slot].replaces = header_index(replaced_slot);
    g->headers[slot].flags |= _header_dirty_flag;
    // Its subgroup was chosen free (a pending one is its replaced tag's).
    if (g->headers[slot].flags & _header_unsettled_flag)
    {
        g->headers[slot].flags &= (uint16_t)~_header_unsettled_flag;
        keep_player_subgroup(&g->headers[slot]);
    }
    return slot;
}

// Puts a local tag on disk: its file is flushed; a pending replacement then
// takes its own name over the replaced tag's file in one rename, the folder is
// flushed, and the replaced tag's header goes.  False (reported) while the
// tag is not yet on disk or still pending: the replaced tag is then whole.
static bool local_tag_commit(int32_t slot)
{
    struct tag_file_globals *g = &tag_file_globals;
    tag_header *h = &g->headers[slot];
    file_reference file;
    if (h->flags & _header_dirty_flag)
    {
        bool synced = local_reference(h, &file) && file_open(&file, _permission_read_flag);
        if (synced)
        {
            synced = file_synchronize(&file);
            file_close(&file);
        }
        if (!synced)
        {
            // Still dirty: the next flush tries again.
            ERROR_MESSAGE(_error_file_write, "Local tag '%s' could not be written to disk", h->name);
            return false;
        }
        h->flags &= (uint16_t)~_header_dirty_flag;
    }
    if (!(h->flags & _header_pending_flag)) return true;

    file_reference aside, replaced;
    char file_path[PATH_MAX], replaced_path[PATH_MAX] = "";
    tag_header *old = h->replaces ? header_from_index(h->replaces) : nullptr;
    if (!local_reference(h, &aside) || !directory_reference(h->directory, h->name, &file))
    {
        ERROR_MESSAGE(_error_file_write, "Cannot name local tag '%s'", h->name);
        return false;
    }
    file_reference_get_name(&file, _name_full_path, file_path, sizeof(file_path));
    if (old && local_reference(old, &replaced))
        file_reference_get_name(&replaced, _name_full_path, replaced_path, sizeof(replaced_path));
    if (file_exists(&file) && strcmp(file_path, replaced_path) != 0)
    {
        ERROR_MESSAGE(_error_file_write, "Cannot create local tag '%s': a different file of that name exists", h->name);
        return false;
    }
    if (!file_rename(&aside, &file)) return false;
    strlcpy(h->file_name, h->name, sizeof(h->file_name));
    h->flags &= (uint16_t)~_header_pending_flag;
    h->replaces = 0;
    if (is_player_group(h->group_tag)) keep_player_subgroup(h);
    // Reported when it fails, but the new file stands in its place either way.
    file_synchronize_directory(&file);
    if (old)
    {
        // Its file is gone already when the new one took its path.
        if (replaced_path[0] && strcmp(file_path, replaced_path) != 0) file_delete(&replaced);
        const int32_t old_slot = header_slot(old);
        order_remove(old_slot);
        header_free(old_slot);
    }
    return true;
}

// The pending replacement of `group` named `name`, or NONE.
static int32_t pending_find_by_name(tag group, const char *name)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (h->salt && h->group_tag == group && (h->flags & _header_pending_flag) && strcasecmp_(h->name, name) == 0)
            return slot;
    }
    return NONE;
}

// Deletes a local tag's file and header.  False, with both kept, when the
// file is still there: its record would come back at the next open.
static bool local_tag_remove(int32_t slot)
{
    file_reference file;
    if (local_reference(&tag_file_globals.headers[slot], &file) && !file_delete(&file) && file_exists(&file))
        return false;
    order_remove(slot);
    header_free(slot);
    return true;
}

// The local tag that stands for `*tag_index` when it must change: itself, or
// for a tag of a monolithic file its local copy (made now when there is none).
static int32_t writable_slot(int32_t *tag_index)
{
    tag_header *h = header_from_index(*tag_index);
    if (!h) return NONE;
    int32_t slot = header_slot(h);
    if (h->flags & _header_local_flag) return slot;
    if (tag_file_globals.sources[h->source].detached)
    {
        log_message(__FILE__, __LINE__, "tag '%s' of a previewed plug-in cannot be written", h->name);
        return NONE;
    }
    // An existing local copy of the same tag (hidden while the local folder
    // is off) takes the write rather than being overwritten by a fresh copy.
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t other = 0; other < g->header_high; other++)
    {
        const tag_header *o = &g->headers[other];
        if (o->salt && (o->flags & _header_local_flag) && !(o->flags & (_header_external_flag | _header_pending_flag)) &&
            o->group_tag == h->group_tag && o->subgroup_tag == h->subgroup_tag)
        {
            *tag_index = header_index(other);
            return other;
        }
    }
    if (local_find_by_name(h->group_tag, h->name, NONE) != NONE)
    {
        ERROR_MESSAGE(_error_file_write, "Cannot copy tag '%s' to the local folder: another local tag has its name",
                      h->name);
        return NONE;
    }
    int32_t copy = local_tag_create(h->group_tag, h->subgroup_tag, h->name, h->version, h->user_data, slot, NONE);
    if (copy != NONE) *tag_index = header_index(copy);
    return copy;
}

// ---- life cycle ------------------------------------------------------------------

const char *foundation_tag_file_name(int32_t index)
{
    return index >= 0 && index < NUMBER_OF_FOUNDATION_TAG_FILES ? foundation_file_names[index] : nullptr;
}

static void close_everything(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    // Replacements never committed go with their hidden files; what they
    // would have replaced stays.
    for (int32_t slot = 0; slot < g->header_high; slot++)
        if (g->headers[slot].salt && (g->headers[slot].flags & _header_pending_flag))
        {
            file_reference aside;
            if (local_reference(&g->headers[slot], &aside)) file_delete(&aside);
        }
    tag_file_collection_close_temporary(-1);
    for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES; i++) source_close(i);
    g->local_source = NONE;
    g->order_count = 0;
    g->order_dirty = false;
    g->override_count = 0;
    g->header_high = 0;
    g->free_hint = 0;
    free(g->directories);
    g->directories = nullptr;
    g->directory_count = 0;
}

void initialize_tag_files(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (g->initialized) dispose_tag_files();
    g->initialized = true;
    g->local_source = NONE;
    g->temporary_source = NONE;
    g->temporary_plugin_index = NONE;
    g->temporary_collection_index = NONE;
    if (!g->next_salt) g->next_salt = 1;
    plugins_scan();
}

void dispose_tag_files(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (!g->initialized) return;
    close_everything();
    plugins_dispose();
    free(g->headers);
    free(g->order);
    free(g->overrides);
    free(g->kept_subgroups);
    g->headers = nullptr;
    g->order = nullptr;
    g->overrides = nullptr;
    g->kept_subgroups = nullptr;
    g->kept_subgroup_count = 0;
    g->header_capacity = g->order_capacity = 0;
    g->game_plugin_count = 0;
    g->local_disabled = false;
    g->initialized = false;
}

static int32_t open_file_in_tags(const char *name, int16_t level, int32_t position, int32_t expected_type)
{
    file_reference file;
    file_reference_create(&file, _file_reference_application_relative);
    if (!file_reference_add_directory(&file, TAG_FILES_FOLDER) || !file_reference_set_name(&file, name)) return NONE;
    monolithic_tag_file_header header;
    int32_t source = source_open_monolithic(&file, name, level, position, false, &header);
    if (source != NONE && expected_type != NONE && header.type != expected_type)
    {
        log_message(__FILE__, __LINE__, "tag file '%s' refused: it is of type %d, not %d", name, (int)header.type,
                    (int)expected_type);
        source_close(source);
        return NONE;
    }
    return source;
}

struct patch_candidate
{
    char name[MAXIMUM_FILE_NAME];
    int16_t patch_number;
};

static int compare_patches(const void *a, const void *b)
{
    const patch_candidate *x = (const patch_candidate *)a, *y = (const patch_candidate *)b;
    if (x->patch_number != y->patch_number) return x->patch_number < y->patch_number ? -1 : 1;
    return strcmp(x->name, y->name);
}

// Patches and add-ons: every other "*.tags" file in "tags", by patch number
// then file name.  Returns the first error code.
static int32_t open_patches(void)
{
    int16_t directory = directory_find_or_add(_file_reference_application_relative, TAG_FILES_FOLDER);
    char(*names)[MAXIMUM_FILE_NAME];
    int32_t count = directory == NONE ? -1 : directory_list(directory, false, &names);
    if (count <= 0) return 0;
    patch_candidate *candidates = (patch_candidate *)calloc((size_t)count, sizeof(patch_candidate));
    int32_t candidate_count = 0, error = 0;
    for (int32_t i = 0; candidates && i < count; i++)
    {
        size_t length = strlen(names[i]);
        if (length < 6 || strcmp(names[i] + length - 5, ".tags") != 0) continue;
        bool reserved = strcmp(names[i], INTERFACE_TAG_FILE_NAME) == 0;
        for (int32_t f = 0; f < NUMBER_OF_FOUNDATION_TAG_FILES; f++)
            if (strcmp(names[i], foundation_file_names[f]) == 0) reserved = true;
        if (reserved) continue;
        file_reference file;
        file_reference_create(&file, _file_reference_application_relative);
        file_reference_add_directory(&file, TAG_FILES_FOLDER);
        if (!file_reference_set_name(&file, names[i]) || !file_open(&file, _permission_read_flag)) continue;
        monolithic_tag_file_header header;
        bool read = file_get_size(&file) >= (int64_t)sizeof(header) &&
                    file_read_from_position(&file, 0, sizeof(header), &header);
        file_close(&file);
        if (read) byte_swap_data("monolithic_tag_file_header", &header, sizeof(header), 1, monolithic_tag_file_header_bs);
        if (!read || (header.type != _tag_file_type_patch && header.type != _tag_file_type_addon))
        {
            ERROR_MESSAGE(_error_data_corrupted, "Tag file '%s' in \"%s\" is not a patch or add-on; left out", names[i],
                          TAG_FILES_FOLDER);
            if (!error) error = _error_data_corrupted;
            continue;
        }
        strlcpy(candidates[candidate_count].name, names[i], MAXIMUM_FILE_NAME);
        candidates[candidate_count++].patch_number = header.type == _tag_file_type_patch ? header.patch_number : 0x7FFF;
    }
    free(names);
    if (candidate_count > 1) qsort(candidates, (size_t)candidate_count, sizeof(patch_candidate), compare_patches);
    for (int32_t i = 0; i < candidate_count; i++)
        if (open_file_in_tags(candidates[i].name, _source_level_patch, i, NONE) == NONE)
        {
            ERROR_MESSAGE(_error_data_corrupted, "Tag file '%s' is damaged and was left out", candidates[i].name);
            if (!error) error = _error_data_corrupted;
        }
    free(candidates);
    return error;
}

static int32_t open_plugin_source(int32_t plugin_index, int16_t level, int32_t position)
{
    file_reference file;
    if (!plugin_file_reference(plugin_index, &file)) return NONE;
    const plugin_datum *plugin = get_plugin_data(plugin_index);
    int32_t source = source_open_monolithic(&file, plugin ? plugin->name : file.name, level, position, false, nullptr);
    if (source == NONE)
        ERROR_MESSAGE(_error_data_corrupted, "Plug-in '%s' is damaged and was left out", plugin ? plugin->name : "");
    return source;
}

int32_t tag_files_open(int32_t local_choice, const int16_t *plugin_indexes, int32_t plugin_count, int32_t reserved,
                       int32_t flags)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (!g->initialized) initialize_tag_files();
    close_everything();

    if (local_choice == 0 || local_choice == 1) g->local_disabled = local_choice == 1;
    if (plugin_indexes || plugin_count != -1)
    {
        g->game_plugin_count = 0;
        for (int32_t i = 0; plugin_indexes && i < plugin_count; i++)
        {
            int16_t index = plugin_indexes[i];
            bool repeated = false;
            for (int32_t j = 0; j < g->game_plugin_count; j++) repeated |= g->game_plugins[j] == index;
            if (repeated || !get_plugin_data(index)) continue;
            if (g->game_plugin_count == MAXIMUM_PLUGINS_PER_GAME)
            {
                log_message(__FILE__, __LINE__, "more than %d plug-ins chosen; the rest left out",
                            (int)MAXIMUM_PLUGINS_PER_GAME);
                break;
            }
            g->game_plugins[g->game_plugin_count++] = index;
        }
    }

    int32_t error = 0;
    for (int32_t i = 0; i < NUMBER_OF_FOUNDATION_TAG_FILES; i++)
    {
        file_reference file;
        file_reference_create(&file, _file_reference_application_relative);
        file_reference_add_directory(&file, TAG_FILES_FOLDER);
        file_reference_set_name(&file, foundation_file_names[i]);
        if (!file_exists(&file))
        {
            ERROR_MESSAGE(_error_data_missing, "Foundation tag file '%s' is missing", foundation_file_names[i]);
            if (!error) error = _error_data_missing;
            continue;
        }
        int32_t source = open_file_in_tags(foundation_file_names[i], _source_level_base, i, _tag_file_type_foundation);
        if (source == NONE)
        {
            ERROR_MESSAGE(_error_data_corrupted, "Foundation tag file '%s' is damaged", foundation_file_names[i]);
            if (!error) error = _error_data_corrupted;
            continue;
        }
        g->sources[source].foundation_index = (int16_t)i;
    }
    {
        file_reference file;
        file_reference_create(&file, _file_reference_application_relative);
        file_reference_add_directory(&file, TAG_FILES_FOLDER);
        file_reference_set_name(&file, INTERFACE_TAG_FILE_NAME);
        if (file_exists(&file) &&
            open_file_in_tags(INTERFACE_TAG_FILE_NAME, _source_level_base, NUMBER_OF_FOUNDATION_TAG_FILES,
                              _tag_file_type_interface_file) == NONE)
        {
            ERROR_MESSAGE(_error_data_corrupted, "Tag file '%s' is damaged", INTERFACE_TAG_FILE_NAME);
            if (!error) error = _error_data_corrupted;
        }
    }
    int32_t patch_error = open_patches();
    if (!error) error = patch_error;

    for (int32_t which = 0; which < 2; which++)
    {
        int32_t plugin = component_plugin_index(which);
        if (plugin != NONE && open_plugin_source(plugin, _source_level_component, which) == NONE && !error)
            error = _error_data_corrupted;
    }
    for (int32_t i = 0; i < g->game_plugin_count; i++)
        if (open_plugin_source(g->game_plugins[i], _source_level_game_plugin, i) == NONE && !error)
            error = _error_data_corrupted;

    local_folders_scan();
    settle_player_subgroups();
    order_sort();

    int16_t plugins[MAXIMUM_PLUGINS_PER_GAME];
    memcpy(plugins, g->game_plugins, sizeof(plugins));
    entry_points_open(g->local_disabled ? 1 : 0, plugins, g->game_plugin_count);
    return error;
}

// ---- finding and describing ---------------------------------------------------------

int32_t tag_file_open(tag group, tag subgroup)
{
    order_sort();
    int32_t start = order_lower_bound(group, subgroup);
    if (start >= tag_file_globals.order_count) return NONE;
    const tag_header *h = &tag_file_globals.headers[tag_file_globals.order[start]];
    if (h->group_tag != group || h->subgroup_tag != subgroup) return NONE;
    int32_t winner = order_run_winner(start, nullptr);
    return winner == NONE ? NONE : header_index(winner);
}

int32_t tag_file_find_by_name(tag group, const char *name)
{
    if (!name) return NONE;
    struct tag_file_globals *g = &tag_file_globals;
    order_sort();
    int32_t best = NONE;
    for (int32_t i = order_lower_bound(group, 0); i < g->order_count;)
    {
        if (g->headers[g->order[i]].group_tag != group) break;
        int32_t end;
        int32_t winner = order_run_winner(i, &end);
        i = end;
        if (winner == NONE) continue;
        // A local tag answers to its file's name (see local_file_add).
        const tag_header *h = &g->headers[winner];
        const bool local_file = (h->flags & _header_local_flag) && !(h->flags & _header_pending_flag);
        if (strcasecmp_(local_file ? h->file_name : h->name, name) != 0) continue;
        if (best == NONE || g->sources[g->headers[winner].source].rank > g->sources[g->headers[best].source].rank)
            best = winner;
    }
    return best == NONE ? NONE : header_index(best);
}

bool tag_file_info_get(int32_t tag_index, tag_file_info *info)
{
    const tag_header *h = header_from_index(tag_index);
    if (!h || !info) return false;
    const tag_source *source = &tag_file_globals.sources[h->source];
    memset(info, 0, sizeof(*info));
    memcpy(info->name, h->name, TAG_NAME_SIZE);
    info->user_data = h->user_data;
    info->version = h->version;
    info->foundation_tag_file_index = source->foundation_index;
    info->type = source->type;
    info->owner_index = h->source;
    info->size = h->size;
    info->group_tag = h->group_tag;
    info->subgroup_tag = h->subgroup_tag;
    return true;
}

void tag_file_info_new(tag_file_info *info)
{
    memset(info, 0, sizeof(*info));
    info->user_data = (uint32_t)NONE;
    info->version = NONE;
    info->foundation_tag_file_index = NONE;
    info->type = NONE;
    info->owner_index = NONE;
    info->size = NONE;
    info->group_tag = NONE;
    info->subgroup_tag = NONE;
}

static bool info_matches(const tag_file_info *filter, int32_t slot)
{
    tag_file_info info;
    tag_file_info_get(header_index(slot), &info);
    return (!filter->name[0] || strcasecmp_(filter->name, info.name) == 0) &&
           (filter->user_data == (uint32_t)NONE || filter->user_data == info.user_data) &&
           (filter->version == NONE || filter->version == info.version) &&
           (filter->foundation_tag_file_index == NONE || filter->foundation_tag_file_index == info.foundation_tag_file_index) &&
           (filter->type == NONE || filter->type == info.type) &&
           (filter->owner_index == NONE || filter->owner_index == info.owner_index) &&
           (filter->size == NONE || filter->size == info.size) &&
           (filter->group_tag == NONE || filter->group_tag == info.group_tag) &&
           (filter->subgroup_tag == NONE || filter->subgroup_tag == info.subgroup_tag);
}

int32_t tag_file_enumerate(const tag_file_info *filter, int32_t *indexes, int32_t maximum)
{
    struct tag_file_globals *g = &tag_file_globals;
    order_sort();
    int32_t count = 0;
    for (int32_t i = 0; i < g->order_count;)
    {
        int32_t end;
        int32_t winner = order_run_winner(i, &end);
        i = end;
        if (winner == NONE || (filter && !info_matches(filter, winner))) continue;
        if (indexes)
        {
            if (count >= maximum) break;
            indexes[count] = header_index(winner);
        }
        count++;
    }
    return count;
}

int32_t tag_files_enumerate_level(tag group, int32_t level, int32_t *indexes, int32_t maximum)
{
    struct tag_file_globals *g = &tag_file_globals;
    order_sort();
    int32_t count = 0;
    for (int32_t i = order_lower_bound(group, 0); i < g->order_count && count < maximum;)
    {
        if (g->headers[g->order[i]].group_tag != group) break;
        int32_t end;
        int32_t winner = order_run_winner(i, &end);
        i = end;
        if (winner == NONE || g->sources[g->headers[winner].source].level != level) continue;
        indexes[count++] = header_index(winner);
    }
    return count;
}

const char *tag_file_name_get(int32_t tag_index)
{
    const tag_header *h = header_from_index(tag_index);
    return h ? h->name : "";
}

const char *tag_file_full_filename_get(int32_t tag_index)
{
    const tag_header *h = header_from_index(tag_index);
    if (!h) return "";
    return (h->flags & _header_local_flag) ? h->file_name : h->name;
}

int32_t get_tag_modification_date(int32_t tag_index, void *reserved)
{
    const tag_header *h = header_from_index(tag_index);
    file_reference file;
    if (!h || !(h->flags & _header_local_flag) || !local_reference(h, &file)) return -1;
    char path[PATH_MAX];
    file_reference_get_name(&file, _name_full_path, path, sizeof(path));
    struct stat status;
    if (stat(path, &status) != 0) return -1;
    int64_t seconds = (int64_t)status.st_mtime;
    if (seconds > INT32_MAX) seconds = INT32_MAX;
    if (seconds < 0) seconds = 0;
    return (int32_t)seconds;
}

void update_tag_header_shadows_for_owner_index(tag group, tag subgroup, int32_t owner_index)
{
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t i = 0; i < g->override_count; i++)
        if (g->overrides[i].group_tag == group && g->overrides[i].subgroup_tag == subgroup)
        {
            if (owner_index == NONE) g->overrides[i] = g->overrides[--g->override_count];
            else g->overrides[i].owner_index = owner_index;
            return;
        }
    if (owner_index == NONE) return;
    shadow_override *overrides =
        (shadow_override *)realloc(g->overrides, sizeof(shadow_override) * (size_t)(g->override_count + 1));
    if (!overrides) return;
    g->overrides = overrides;
    overrides[g->override_count++] = {group, subgroup, owner_index};
}

// ---- reading and writing ------------------------------------------------------------

static bool read_tag(int32_t tag_index, int32_t offset, int32_t size, void *buffer)
{
    const tag_header *h = header_from_index(tag_index);
    if (!h || offset < 0 || size < 0 || (!buffer && size > 0) || (int64_t)offset + size > h->size)
    {
        ERROR_MESSAGE(_error_warning, "Reading %d bytes at %d of tag %s %s failed: %s", (int)size, (int)offset,
                      h ? tag_to_string(h->group_tag) : "", h ? tag_to_string(h->subgroup_tag) : "",
                      h ? "outside the tag" : "no such tag");
        return false;
    }
    if (size == 0) return true;
    bool ok;
    if (h->flags & _header_local_flag)
    {
        file_reference file;
        ok = local_reference(h, &file) && file_open(&file, _permission_read_flag);
        if (ok)
        {
            ok = file_read_from_position(&file, (int64_t)sizeof(local_tag_file_header) + offset, size, buffer);
            file_close(&file);
        }
    }
    else
    {
        tag_source *source = &tag_file_globals.sources[h->source];
        ok = file_read_from_position(&source->file, (int64_t)h->offset + offset, size, buffer);
    }
    if (!ok)
        ERROR_MESSAGE(_error_warning, "Reading tag %s %s ('%s') failed", tag_to_string(h->group_tag),
                      tag_to_string(h->subgroup_tag), h->name);
    return ok;
}

bool tag_file_read(int32_t tag_index, int32_t offset, int32_t size, void *buffer)
{
    return read_tag(tag_index, offset, size, buffer);
}

bool tag_file_read_ahead(int32_t tag_index, int32_t offset, int32_t size, void *buffer)
{
    return read_tag(tag_index, offset, size, buffer);
}

bool tag_file_write(int32_t *tag_index, int32_t offset, int32_t size, const void *data)
{
    if (!tag_index || offset < 0 || size < 0 || (!data && size > 0) || (int64_t)offset + size > INT32_MAX - 64)
    {
        ERROR_MESSAGE(_error_file_write, "Writing %d bytes at %d of a tag: bad range", (int)size, (int)offset);
        return false;
    }
    if (!header_from_index(*tag_index))
    {
        ERROR_MESSAGE(_error_file_write, "Writing a tag that is no longer open");
        return false;
    }
    int32_t slot = writable_slot(tag_index);
    if (slot == NONE) return false;
    tag_header *h = &tag_file_globals.headers[slot];
    file_reference file;
    if (!local_reference(h, &file) || !file_open(&file, _permission_write_flag))
    {
        ERROR_MESSAGE(_error_file_write, "Cannot open local tag '%s' for writing", h->name);
        return false;
    }
    const int64_t data_start = sizeof(local_tag_file_header);
    bool ok = true;
    int32_t end = offset + size;
    if (end > h->size)
    {
        // Bytes past the recorded end (left by an interrupted write) must not
        // show through the gap: cut them, then zero-fill explicitly.
        ok = file_set_size(&file, data_start + h->size) && write_zeros(&file, data_start + h->size, offset - h->size > 0 ? offset - h->size : 0);
    }
    if (ok && size > 0) ok = file_write_to_position(&file, data_start + offset, size, data);
    if (ok && end > h->size)
    {
        uint8_t field[4];
        write_be32(field, (uint32_t)end);
        ok = file_write_to_position(&file, offsetof(local_tag_file_header, data_size), 4, field);
        if (ok) h->size = end;
    }
    file_close(&file);
    if (!ok)
    {
        ERROR_MESSAGE(_error_file_write, "Writing local tag '%s' failed", h->name);
        return false;
    }
    h->flags |= _header_dirty_flag;
    return true;
}

bool tag_files_flush(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    bool ok = true;
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (h->salt && (h->flags & (_header_dirty_flag | _header_pending_flag)) && !local_tag_commit(slot)) ok = false;
    }
    return ok;
}

bool tag_file_commit(int32_t tag_index)
{
    const tag_header *h = header_from_index(tag_index);
    if (!h || !(h->flags & _header_local_flag))
    {
        ERROR_MESSAGE(_error_file_write, "Committing a tag that is %s", h ? "not a local tag" : "no longer open");
        return false;
    }
    return local_tag_commit(header_slot(h));
}

static int32_t new_local_tag(tag group, const char *name, int16_t version, bool random_subgroup,
                             bool always_pending = false, uint32_t file_mode = 0644)
{
    if (!tag_file_globals.initialized) initialize_tag_files();
    if (group == NONE || group == 0 || !tag_name_is_valid(name))
    {
        log_message(__FILE__, __LINE__, "cannot create local tag '%s' of group %s: name not allowed", name ? name : "",
                    tag_to_string(group));
        return NONE;
    }
    tag subgroup = NONE;
    int32_t replaced = local_find_by_name(group, name, NONE);
    if (replaced != NONE && !random_subgroup) subgroup = tag_file_globals.headers[replaced].subgroup_tag;
    if (subgroup == NONE && !random_subgroup)
    {
        char code[5] = {};
        strncpy(code, name, 4);
        tag derived = string_to_tag(code);
        if (subgroup_is_free(group, derived)) subgroup = derived;
    }
    if (subgroup == NONE) subgroup = random_free_subgroup(group);
    if (subgroup == NONE)
    {
        ERROR_MESSAGE(_error_array_full, "No free subgroup for local tag '%s'", name);
        return NONE;
    }
    if (ensure_local_source() == NONE) return NONE;
    // An earlier replacement never committed would share the hidden file.
    const int32_t abandoned = pending_find_by_name(group, name);
    if (abandoned != NONE && !local_tag_remove(abandoned)) return NONE;
    int32_t slot = local_tag_create(group, subgroup, name, version, 0, NONE, replaced, always_pending, file_mode);
    return slot == NONE ? NONE : header_index(slot);
}

int32_t tag_file_new_owner_only(tag group, const char *name, int16_t version)
{
    return new_local_tag(group, name, version, false, false, 0600);
}

int32_t tag_file_new_pending(tag group, const char *name, int16_t version)
{
    return new_local_tag(group, name, version, false, true);
}

int32_t tag_file_new(tag group, const char *name, int16_t version)
{
    return new_local_tag(group, name, version, false);
}

int32_t tag_file_new_with_random_subgroup_tag(tag group, const char *name, int16_t version)
{
    return new_local_tag(group, name, version, true);
}

int32_t tag_file_reload_local(tag group, const char *name)
{
    if (!tag_file_globals.initialized) initialize_tag_files();
    if (!name || !*name || strlen(name) >= TAG_NAME_SIZE) return NONE;
    struct tag_file_globals *g = &tag_file_globals;
    int32_t slot = local_find_by_name(group, name, NONE);
    if (slot != NONE)
    {
        if (g->headers[slot].flags & _header_dirty_flag) return header_index(slot);
        order_remove(slot);
        header_free(slot);
    }
    char path[MAXIMUM_FILE_REFERENCE_PATH];
    const int16_t directory = directory_find_or_add(group_folder(group, path, sizeof(path)), path);
    file_reference file;
    if (directory == NONE || !directory_reference(directory, name, &file) || !file_exists(&file)) return NONE;
    slot = local_file_add(directory, name, 0, true);
    if (slot == NONE) return NONE;
    if (g->headers[slot].group_tag != group)
    {
        order_remove(slot);
        header_free(slot);
        return NONE;
    }
    return header_index(slot);
}

bool tag_file_set_aside_damaged(tag group, const char *name)
{
    if (!name || !*name || strlen(name) >= TAG_NAME_SIZE) return false;
    if (tag_file_find_by_name(group, name) != NONE) return false;
    char path[MAXIMUM_FILE_REFERENCE_PATH];
    const int16_t location = group_folder(group, path, sizeof(path));
    const int16_t directory = directory_find_or_add(location, path);
    file_reference file, aside;
    if (directory == NONE || !directory_reference(directory, name, &file) || !file_exists(&file)) return false;
    for (int32_t attempt = 1; attempt <= 100; ++attempt)
    {
        char aside_name[TAG_NAME_SIZE + 16];
        if (attempt == 1) slprintf(aside_name, sizeof(aside_name), ".%s.damaged", name);
        else slprintf(aside_name, sizeof(aside_name), ".%s.damaged-%d", name, (int)attempt);
        if (!directory_reference(directory, aside_name, &aside)) return false;
        if (file_exists(&aside)) continue;
        if (!file_rename(&file, &aside)) break;
        file_synchronize_directory(&aside);
        log_message(__FILE__, __LINE__, "'%s' in '%s' was no readable tag; it is kept as '%s'", name, path, aside_name);
        return true;
    }
    ERROR_MESSAGE(_error_file_write, "Cannot move the damaged file '%s' in '%s' aside", name, path);
    return false;
}

bool tag_file_delete(int32_t tag_index)
{
    tag_header *h = header_from_index(tag_index);
    if (!h || !(h->flags & _header_local_flag))
    {
        log_message(__FILE__, __LINE__, "tag_file_delete: %s", h ? "tags of monolithic files never change" : "no such tag");
        return false;
    }
    return local_tag_remove(header_slot(h));
}

bool tag_file_name_set(int32_t *tag_index, const char *name)
{
    if (!tag_index || !header_from_index(*tag_index)) return false;
    if (!tag_name_is_valid(name))
    {
        log_message(__FILE__, __LINE__, "cannot rename tag to '%s': name not allowed", name ? name : "");
        return false;
    }
    tag_header *current = header_from_index(*tag_index);
    if (current->flags & _header_pending_flag)
    {
        log_message(__FILE__, __LINE__, "cannot rename tag '%s' before it is committed", current->name);
        return false;
    }
    if (local_find_by_name(current->group_tag, name, header_slot(current)) != NONE)
    {
        log_message(__FILE__, __LINE__, "cannot rename tag to '%s': another tag of the group has that name", name);
        return false;
    }
    int32_t slot = writable_slot(tag_index);
    if (slot == NONE) return false;
    tag_header *h = &tag_file_globals.headers[slot];
    file_reference from, to;
    char from_path[PATH_MAX], to_path[PATH_MAX];
    if (!local_reference(h, &from) || !directory_reference(h->directory, name, &to)) return false;
    file_reference_get_name(&from, _name_full_path, from_path, sizeof(from_path));
    file_reference_get_name(&to, _name_full_path, to_path, sizeof(to_path));
    if (strcmp(from_path, to_path) != 0 && file_exists(&to))
    {
        log_message(__FILE__, __LINE__, "cannot rename tag to '%s': a different file of that name exists", name);
        return false;
    }
    if (!file_rename(&from, &to)) return false;
    strlcpy(h->file_name, name, sizeof(h->file_name));
    char field[TAG_NAME_SIZE] = {};
    strncpy(field, name, TAG_NAME_SIZE - 1);
    bool ok = file_open(&to, _permission_write_flag);
    if (ok)
    {
        ok = file_write_to_position(&to, offsetof(local_tag_file_header, name), TAG_NAME_SIZE, field);
        file_close(&to);
    }
    if (!ok)
    {
        ERROR_MESSAGE(_error_file_write, "Cannot write the new name into '%s'", to_path);
        return false;
    }
    memcpy(h->name, field, TAG_NAME_SIZE);
    h->flags |= _header_dirty_flag;
    if (is_player_group(h->group_tag)) keep_player_subgroup(h);
    return true;
}

// ---- local files given by path -------------------------------------------------------

// The folder of `path` as a canonical absolute path (no ".", ".." or links,
// which file references refuse) and the file name after it.  False when the
// folder does not exist or the path does not fit.
static bool resolve_local_path(const char *path, char directory[PATH_MAX], const char **file_name)
{
    const char *slash = strrchr(path, '/');
    *file_name = slash ? slash + 1 : path;
    char part[PATH_MAX];
    if (!slash) strlcpy(part, ".", sizeof(part));
    else if (slash == path) strlcpy(part, "/", sizeof(part));
    else
    {
        size_t length = (size_t)(slash - path);
        if (length >= sizeof(part)) return false;
        memcpy(part, path, length);
        part[length] = 0;
    }
    return realpath(part, directory) != nullptr;
}

// The local tag already standing for the file at `full_path`, however it was
// reached (a managed folder or another spelling of the path), or NONE.  Two
// headers on one file would each keep their own size and go stale.
static int32_t local_slot_of_file(const char *full_path)
{
    struct stat target;
    if (stat(full_path, &target) != 0) return NONE;
    struct tag_file_globals *g = &tag_file_globals;
    for (int32_t slot = 0; slot < g->header_high; slot++)
    {
        const tag_header *h = &g->headers[slot];
        file_reference file;
        char path[PATH_MAX];
        struct stat status;
        if (!h->salt || !(h->flags & _header_local_flag) || !local_reference(h, &file)) continue;
        file_reference_get_name(&file, _name_full_path, path, sizeof(path));
        if (stat(path, &status) == 0 && status.st_dev == target.st_dev && status.st_ino == target.st_ino) return slot;
    }
    return NONE;
}

int32_t tag_file_open_local_file(const char *path)
{
    if (!tag_file_globals.initialized) initialize_tag_files();
    if (!path || !path[0]) return NONE;
    char directory_path[PATH_MAX];
    const char *file_name;
    if (!resolve_local_path(path, directory_path, &file_name))
    {
        log_message(__FILE__, __LINE__, "local tag file '%s' cannot be opened: no such folder", path);
        return NONE;
    }
    if (!file_name[0] || strlen(file_name) >= sizeof(tag_file_globals.headers[0].file_name)) return NONE;
    int16_t directory = directory_find_or_add(_file_reference_absolute, directory_path + 1);
    if (directory == NONE) return NONE;
    char full_path[PATH_MAX];
    slprintf(full_path, sizeof(full_path), "%s/%s", directory_path[1] ? directory_path : "", file_name);
    int32_t slot = local_slot_of_file(full_path);
    if (slot == NONE)
    {
        slot = local_file_add(directory, file_name, _header_external_flag, false);
        settle_player_subgroups();
    }
    return slot == NONE ? NONE : header_index(slot);
}

int32_t tag_files_open_local_folder(const char *path, int32_t *indexes, int32_t maximum)
{
    if (!path || !path[0]) return -1;
    char absolute[PATH_MAX];
    if (!realpath(path, absolute)) return -1;
    int16_t directory = directory_find_or_add(_file_reference_absolute, absolute + 1);
    if (directory == NONE) return -1;
    char(*names)[MAXIMUM_FILE_NAME];
    int32_t count = directory_list(directory, false, &names);
    if (count < 0) return -1;
    int32_t opened = 0;
    for (int32_t i = 0; i < count && opened < maximum; i++)
    {
        char file_path[PATH_MAX];
        slprintf(file_path, sizeof(file_path), "%s/%s", absolute, names[i]);
        int32_t index = tag_file_open_local_file(file_path);
        if (index == NONE) continue;
        if (indexes) indexes[opened] = index;
        opened++;
    }
    free(names);
    return opened;
}

// ---- checksums and patches -------------------------------------------------------------

uint32_t tag_files_get_foundation_checksum(void)
{
    uint8_t words[NUMBER_OF_FOUNDATION_TAG_FILES * 4] = {};
    for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES; i++)
    {
        const tag_source *source = &tag_file_globals.sources[i];
        if (source->used && !source->detached && source->foundation_index != NONE)
            write_be32(&words[source->foundation_index * 4], source->checksum);
    }
    return crc32_of(words, sizeof(words));
}

uint32_t tag_files_get_patch_checksum(void)
{
    // By patch number (then checksum), so the order the files were found in
    // does not count; the count leads, so no patches at all gives a checksum
    // of its own.
    struct patch_word
    {
        uint32_t number, checksum;
    } patches[MAXIMUM_TAG_SOURCES];
    int32_t count = 0;
    for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES; i++)
    {
        const tag_source *source = &tag_file_globals.sources[i];
        if (!source->used || source->detached || source->type != _tag_file_type_patch) continue;
        patch_word word = {(uint32_t)(uint16_t)source->patch_number, source->checksum};
        int32_t at = count++;
        while (at > 0 && (patches[at - 1].number > word.number ||
                          (patches[at - 1].number == word.number && patches[at - 1].checksum > word.checksum)))
        {
            patches[at] = patches[at - 1];
            --at;
        }
        patches[at] = word;
    }
    uint8_t words[4 + MAXIMUM_TAG_SOURCES * 8];
    write_be32(words, (uint32_t)count);
    for (int32_t i = 0; i < count; i++)
    {
        write_be32(&words[4 + i * 8], patches[i].number);
        write_be32(&words[8 + i * 8], patches[i].checksum);
    }
    return crc32_of(words, 4 + (size_t)count * 8);
}

int32_t tag_files_get_patch_version(void)
{
    int32_t version = 0;
    for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES; i++)
    {
        const tag_source *source = &tag_file_globals.sources[i];
        if (source->used && !source->detached && source->type == _tag_file_type_patch && source->patch_number > version)
            version = source->patch_number;
    }
    return version;
}

const char *required_patch_file_name(int32_t index)
{
    return index >= 0 && index < (int32_t)NUMBER_OF(required_patches) ? required_patches[index].file_name : nullptr;
}

int32_t required_patch_number(int32_t index)
{
    return index >= 0 && index < (int32_t)NUMBER_OF(required_patches) ? required_patches[index].patch_number : (int32_t)NONE;
}

bool tag_files_check_required_patches(char *missing, int32_t size)
{
    for (int32_t r = 0; r < (int32_t)NUMBER_OF(required_patches); r++)
    {
        bool found = false;
        for (int32_t i = 0; i < MAXIMUM_TAG_SOURCES && !found; i++)
        {
            const tag_source *source = &tag_file_globals.sources[i];
            found = source->used && !source->detached && source->type == _tag_file_type_patch &&
                    source->patch_number == required_patches[r].patch_number &&
                    strcmp(source->name, required_patches[r].file_name) == 0;
        }
        if (!found)
        {
            if (missing && size > 0) strlcpy(missing, required_patches[r].file_name, (size_t)size);
            return false;
        }
    }
    return true;
}

void tag_files_verify_required_patches(void)
{
    char missing[MAXIMUM_FILE_NAME];
    if (tag_files_check_required_patches(missing, sizeof(missing))) return;
    char text[MAXIMUM_FILE_NAME + 64];
    slprintf(text, sizeof(text), "Required patch file '%s' is missing.", missing);
    log_message(__FILE__, __LINE__, "%s", text);
    show_message_box(text);
    exit(_error_data_missing);
}

// ---- temporary collection preview ---------------------------------------------------------

// The collections module loads and disposes the preview's collection
// (collection_procedures.h).
static void temporary_collection_dispose(void)
{
    struct tag_file_globals *g = &tag_file_globals;
    const auto dispose = get_collection_procedures()->dispose_temporary_collection;
    if (g->temporary_collection_index != NONE && dispose) dispose(g->temporary_collection_index);
    g->temporary_collection_index = NONE;
}

int32_t tag_file_collection_open_temporary(int32_t plugin_index, tag collection_tag)
{
    struct tag_file_globals *g = &tag_file_globals;
    temporary_collection_dispose();
    if (g->temporary_source != NONE && g->temporary_plugin_index != plugin_index)
    {
        source_close(g->temporary_source);
        g->temporary_source = NONE;
        g->temporary_plugin_index = NONE;
    }
    if (g->temporary_source == NONE)
    {
        file_reference file;
        if (!plugin_file_reference(plugin_index, &file)) return NONE;
        g->temporary_source = tag_source_open_detached(&file, file.name, nullptr);
        if (g->temporary_source == NONE) return NONE;
        g->temporary_plugin_index = plugin_index;
    }
    int32_t tag_index = NONE;
    for (int32_t slot = 0; slot < g->header_high && tag_index == NONE; slot++)
    {
        const tag_header *h = &g->headers[slot];
        if (h->salt && h->source == g->temporary_source && h->group_tag == COLLECTION_GROUP_TAG &&
            h->subgroup_tag == collection_tag)
            tag_index = header_index(slot);
    }
    const auto load = get_collection_procedures()->load_temporary_collection;
    if (tag_index == NONE || !load) return NONE;
    g->temporary_collection_index = load(tag_index);
    return g->temporary_collection_index;
}

void tag_file_collection_close_temporary(int32_t which)
{
    struct tag_file_globals *g = &tag_file_globals;
    temporary_collection_dispose();
    if (g->temporary_source != NONE) source_close(g->temporary_source);
    g->temporary_source = NONE;
    g->temporary_plugin_index = NONE;
}

bool tag_file_plugins_open(const int16_t *plugin_indexes, int32_t count, bool preview)
{
    struct tag_file_globals *g = &tag_file_globals;
    if (count < 0 || count > MAXIMUM_PLUGINS_PER_GAME || (count > 0 && !plugin_indexes))
    {
        log_message(__FILE__, __LINE__, "cannot open %d plug-ins (0 to %d)", (int)count,
                    (int)MAXIMUM_PLUGINS_PER_GAME);
        return false;
    }
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    for (int32_t i = 0; i < count; i++)
    {
        if (!get_plugin_data(plugin_indexes[i]))
        {
            log_message(__FILE__, __LINE__, "cannot open plug-in #%d: it is not installed", (int)plugin_indexes[i]);
            return false;
        }
        indexes[i] = plugin_indexes[i];
    }
    int16_t saved[MAXIMUM_PLUGINS_PER_GAME];
    int32_t saved_count = g->game_plugin_count;
    memcpy(saved, g->game_plugins, sizeof(saved));
    const int32_t error = tag_files_open(-1, indexes, count, -1, 0);
    if (preview)
    {
        // The next tag_files_open that keeps the choice goes back to the game's own.
        memcpy(g->game_plugins, saved, sizeof(saved));
        g->game_plugin_count = saved_count;
    }
    return error == 0;
}

bool tag_file_plugins_open_encoded(const void *encoded, bool preview)
{
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    if (!encoded || !tag_file_plugins_decode(indexes, &count, encoded, nullptr, nullptr, 0)) return false;
    return tag_file_plugins_open(indexes, count, preview);
}
