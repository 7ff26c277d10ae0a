// Plug-ins, encoded plug-in lists and entry points.

#include "tag_files/plugins.h"

#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/files.h"
#include "cseries/registration.h"
#include "tag_files/tag_files.h"
#include "tag_files/tag_files_internal.h"

#define HTTP_PREFIX "http://"
#define UNKNOWN_TEXT "<unknown>"

struct plugin_entry // one installed plug-in with what the store keeps beside it
{
    plugin_datum datum;
    int16_t location; // of its file
    full_entry_point *entry_points; // malloc'd cache of its maps
    int32_t entry_point_count;
};

struct encoded_plugin // one decoded entry of an encoded list
{
    uint32_t checksum;
    char name[TAG_NAME_SIZE];
    char url[TAG_URL_SIZE];
};

static struct plugin_globals
{
    plugin_entry plugins[MAXIMUM_PLUGINS];
    int32_t plugin_count;

    char component_names[2][TAG_NAME_SIZE];
    int32_t component_indexes[2];

    // Entries keep their addresses for the life of the program; their
    // contents last until the next entry_points_open.
    full_entry_point entries[MAXIMUM_ENTRY_POINTS];
    full_entry_point *entry_pointers[MAXIMUM_ENTRY_POINTS];
    int32_t entry_count;
    full_entry_point base_entries[MAXIMUM_ENTRY_POINTS];
    int32_t base_entry_count;
    bool local_disabled;
} plugin_globals = {{}, 0, {}, {NONE, NONE}, {}, {}, 0, {}, 0, false};

// Outside plugin_globals: opening and closing the store never empties them.
static procedure_slot<entry_point_reader_procedure> entry_point_reader_slot("entry point reader");
static procedure_slot<plugin_question_procedure> question_slot("plugin question");

bool register_entry_point_reader_procedure(entry_point_reader_procedure procedure)
{
    return entry_point_reader_slot.fill(procedure);
}

bool register_plugin_question_procedure(plugin_question_procedure procedure) { return question_slot.fill(procedure); }

// Reads the entry point of one 'mesh' tag through the registered reader.
static bool read_entry_point(int32_t tag_index, int16_t plugin_index, full_entry_point *entry)
{
    if (!entry_point_reader_slot.get()) return false;
    memset(entry, 0, sizeof(*entry));
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info) || !entry_point_reader_slot.get()(tag_index, entry)) return false;
    entry->subgroup_tag = info.subgroup_tag;
    memcpy(entry->name, info.name, TAG_NAME_SIZE);
    entry->plugin_index = plugin_index;
    entry->printed_name[sizeof(entry->printed_name) - 1] = 0;
    entry->dependency_name[sizeof(entry->dependency_name) - 1] = 0;
    return true;
}

// ---- the plug-in table ----------------------------------------------------------

static int compare_plugins(const void *a, const void *b)
{
    const plugin_entry *x = (const plugin_entry *)a, *y = (const plugin_entry *)b;
    int c = csstrcmp(x->datum.name, y->datum.name);
    return c ? c : strcmp(x->datum.name, y->datum.name);
}

static void plugin_forget(plugin_entry *plugin)
{
    free(plugin->entry_points);
    plugin->entry_points = nullptr;
    plugin->entry_point_count = 0;
}

// Checks one file of "plugins" and adds it to the table (replacing one of the
// same name found earlier).
static void plugin_scan_file(int16_t location, const char *name)
{
    struct plugin_globals *g = &plugin_globals;
    if (!tag_name_is_valid(name))
    {
        log_message(__FILE__, __LINE__, "plug-in file '%s' left out: its name cannot name a plug-in", name);
        return;
    }
    file_reference file;
    file_reference_create(&file, location);
    if (!file_reference_add_directory(&file, PLUGINS_FOLDER) || !file_reference_set_name(&file, name)) return;
    monolithic_tag_file_header header;
    int32_t source = tag_source_open_detached(&file, name, &header);
    if (source == NONE) return;
    if (!tag_file_type_is_plugin(header.type))
    {
        log_message(__FILE__, __LINE__, "plug-in file '%s' left out: it is of type %d", name, (int)header.type);
        tag_source_close(source);
        return;
    }
    int32_t slot = NONE;
    for (int32_t i = 0; i < g->plugin_count; i++)
        if (strcasecmp_(g->plugins[i].datum.name, name) == 0) slot = i;
    if (slot == NONE)
    {
        if (g->plugin_count == MAXIMUM_PLUGINS)
        {
            log_message(__FILE__, __LINE__, "plug-in file '%s' left out: more than %d plug-ins", name, (int)MAXIMUM_PLUGINS);
            tag_source_close(source);
            return;
        }
        slot = g->plugin_count++;
    }
    plugin_entry *plugin = &g->plugins[slot];
    plugin_forget(plugin);
    memset(plugin, 0, sizeof(*plugin));
    plugin->location = location;
    plugin->datum.version = header.version;
    plugin->datum.cached_mono_index = NONE;
    plugin->datum.type = (uint8_t)header.type;
    plugin->datum.hidden = header.hidden;
    plugin->datum.checksum = header.checksum;
    strlcpy(plugin->datum.name, name, TAG_NAME_SIZE); // the file name wins over the header's
    strlcpy(plugin->datum.url, header.url, TAG_URL_SIZE);

    int32_t count = tag_source_enumerate_group(source, MESH_GROUP_TAG, nullptr, 0);
    int32_t *indexes = (int32_t *)malloc(sizeof(int32_t) * (size_t)(count + 1));
    plugin->entry_points = (full_entry_point *)malloc(sizeof(full_entry_point) * (size_t)(count + 1));
    if (indexes && plugin->entry_points)
    {
        tag_source_enumerate_group(source, MESH_GROUP_TAG, indexes, count);
        for (int32_t i = 0; i < count; i++)
        {
            full_entry_point *entry = &plugin->entry_points[plugin->entry_point_count];
            if (!read_entry_point(indexes[i], 0, entry)) continue;
            plugin->entry_point_count++;
            if (entry->mesh_flags & MESH_SINGLE_PLAYER_ENTRY_POINT_FLAG) plugin->datum.solo_entry_point_count++;
            if (entry->mesh_flags & MESH_MULTIPLAYER_ENTRY_POINTS_MASK) plugin->datum.multiplayer_entry_point_count++;
        }
    }
    free(indexes);
    tag_source_close(source);
}

static void plugin_scan_folder(int16_t location)
{
    file_reference folder;
    file_reference_create(&folder, location);
    if (!file_reference_add_directory(&folder, PLUGINS_FOLDER)) return;
    char(*names)[MAXIMUM_FILE_NAME];
    int32_t count = folder_list(&folder, false, &names);
    for (int32_t i = 0; i < count; i++) plugin_scan_file(location, names[i]);
    free(names);
}

void plugins_scan(void)
{
    plugins_dispose();
    plugin_scan_folder(_file_reference_application_relative);
    // The second data directory, when it is set and is another folder: its
    // plug-ins replace those of the same name.
    file_reference first, second;
    char first_path[PATH_MAX], second_path[PATH_MAX];
    file_reference_create(&first, _file_reference_application_relative);
    file_reference_create(&second, _file_reference_data_relative);
    file_reference_get_name(&first, _name_directory_flag, first_path, sizeof(first_path));
    file_reference_get_name(&second, _name_directory_flag, second_path, sizeof(second_path));
    if (strcmp(first_path, second_path) != 0) plugin_scan_folder(_file_reference_data_relative);

    struct plugin_globals *g = &plugin_globals;
    qsort(g->plugins, (size_t)g->plugin_count, sizeof(plugin_entry), compare_plugins);
    for (int32_t i = 0; i < g->plugin_count; i++)
    {
        g->plugins[i].datum.identifier = (int16_t)i;
        for (int32_t e = 0; e < g->plugins[i].entry_point_count; e++) g->plugins[i].entry_points[e].plugin_index = (int16_t)i;
    }
    update_component_plugin_indices();
}

void plugins_dispose(void)
{
    struct plugin_globals *g = &plugin_globals;
    for (int32_t i = 0; i < g->plugin_count; i++) plugin_forget(&g->plugins[i]);
    g->plugin_count = 0;
    g->entry_count = 0;
    g->base_entry_count = 0;
    g->component_indexes[0] = g->component_indexes[1] = NONE;
}

bool plugin_file_reference(int32_t plugin_index, file_reference *file)
{
    const plugin_datum *plugin = get_plugin_data(plugin_index);
    if (!plugin) return false;
    file_reference_create(file, plugin_globals.plugins[plugin_index].location);
    return file_reference_add_directory(file, PLUGINS_FOLDER) && file_reference_set_name(file, plugin->name);
}

int32_t tag_file_get_plugin_count(void) { return plugin_globals.plugin_count; }

const plugin_datum *get_plugin_data(int32_t plugin_index)
{
    if (plugin_index < 0 || plugin_index >= plugin_globals.plugin_count) return nullptr;
    return &plugin_globals.plugins[plugin_index].datum;
}

int32_t find_plugin_by_name(const char *name)
{
    if (!name || !name[0]) return NONE;
    for (int32_t i = 0; i < plugin_globals.plugin_count; i++)
        if (strcasecmp_(plugin_globals.plugins[i].datum.name, name) == 0) return i;
    return NONE;
}

void set_component_plugin_names(const char *interface_name, const char *lobby_name)
{
    strlcpy(plugin_globals.component_names[0], interface_name ? interface_name : "", TAG_NAME_SIZE);
    strlcpy(plugin_globals.component_names[1], lobby_name ? lobby_name : "", TAG_NAME_SIZE);
    update_component_plugin_indices();
}

void update_component_plugin_indices(void)
{
    static const int32_t types[2] = {_tag_file_type_interface_plugin, _tag_file_type_lobby_plugin};
    for (int32_t which = 0; which < 2; which++)
    {
        int32_t index = find_plugin_by_name(plugin_globals.component_names[which]);
        if (index != NONE && plugin_globals.plugins[index].datum.type != types[which])
        {
            log_message(__FILE__, __LINE__, "plug-in '%s' is not of type %d; no component chosen",
                        plugin_globals.component_names[which], (int)types[which]);
            index = NONE;
        }
        plugin_globals.component_indexes[which] = index;
    }
}

int32_t component_plugin_index(int32_t which)
{
    return which == 0 || which == 1 ? plugin_globals.component_indexes[which] : NONE;
}

// ---- encoded plug-in lists --------------------------------------------------------
// u16 count (0-16), then per entry: u32 checksum, the name (not empty) and
// its terminator, the url and its terminator; zero bytes to the end of the 512.

int32_t tag_file_plugins_encode(const int16_t *plugin_indexes, int32_t count, void *encoded)
{
    uint8_t *bytes = (uint8_t *)encoded;
    memset(bytes, 0, ENCODED_PLUGIN_LIST_SIZE);
    const char *reason = nullptr;
    if (count < 0 || count > MAXIMUM_PLUGINS_PER_GAME || (count > 0 && !plugin_indexes)) reason = "more than 16 plug-ins";
    int32_t used = 2;
    for (int32_t i = 0; !reason && i < count; i++)
    {
        const plugin_datum *plugin = get_plugin_data(plugin_indexes[i]);
        if (!plugin)
        {
            reason = "not an installed plug-in";
            break;
        }
        size_t name_length = strlen(plugin->name), url_length = strlen(plugin->url);
        if (used + 4 + (int32_t)name_length + 1 + (int32_t)url_length + 1 > ENCODED_PLUGIN_LIST_SIZE)
        {
            reason = "the names and urls do not fit in 512 bytes";
            break;
        }
        write_be32(bytes + used, plugin->checksum);
        used += 4;
        memcpy(bytes + used, plugin->name, name_length + 1);
        used += (int32_t)name_length + 1;
        memcpy(bytes + used, plugin->url, url_length + 1);
        used += (int32_t)url_length + 1;
    }
    if (reason)
    {
        log_message(__FILE__, __LINE__, "cannot encode the plug-in list of %d: %s", (int)count, reason);
        memset(bytes, 0, ENCODED_PLUGIN_LIST_SIZE);
        return -1;
    }
    write_be16(bytes, (uint16_t)count);
    return used;
}

// A terminated text of at most `maximum` characters at bytes[*position], all
// inside `size`; false otherwise.
static bool parse_text(const uint8_t *bytes, int32_t size, int32_t *position, char *out, int32_t maximum)
{
    int32_t length = 0;
    while (*position + length < size && bytes[*position + length])
    {
        if (length == maximum) return false;
        length++;
    }
    if (*position + length >= size) return false;
    memcpy(out, bytes + *position, (size_t)length);
    out[length] = 0;
    *position += length + 1;
    return true;
}

// Parses an encoded list of `size` bytes (at most 512 are looked at).  The
// entry count, or -1 when it does not decode.
static int32_t parse_plugin_list(const void *encoded, int32_t size, encoded_plugin *entries)
{
    if (!encoded || size < 2) return -1;
    if (size > ENCODED_PLUGIN_LIST_SIZE) size = ENCODED_PLUGIN_LIST_SIZE;
    const uint8_t *bytes = (const uint8_t *)encoded;
    int32_t count = read_be16(bytes);
    if (count > MAXIMUM_PLUGINS_PER_GAME) return -1;
    int32_t position = 2;
    for (int32_t i = 0; i < count; i++)
    {
        if (position + 4 > size) return -1;
        entries[i].checksum = read_be32(bytes + position);
        position += 4;
        // Every plug-in has a name, so an empty one is a count that runs
        // into the zero padding.
        if (!parse_text(bytes, size, &position, entries[i].name, MAXIMUM_TAG_NAME_LENGTH) || !entries[i].name[0] ||
            !parse_text(bytes, size, &position, entries[i].url, MAXIMUM_TAG_URL_LENGTH))
            return -1;
    }
    for (; position < size; position++)
        if (bytes[position]) return -1;
    return count;
}

// The installed plug-in that an entry names: same name without regard to
// case and the same checksum (same name, other content would go out of step).
static int32_t find_encoded_plugin(const encoded_plugin *entry)
{
    for (int32_t i = 0; i < plugin_globals.plugin_count; i++)
    {
        const plugin_datum *plugin = &plugin_globals.plugins[i].datum;
        if (plugin->checksum == entry->checksum && strcasecmp_(plugin->name, entry->name) == 0) return i;
    }
    return NONE;
}

bool tag_file_plugins_decode(int16_t *plugin_indexes, int32_t *count, const void *encoded,
                             int32_t *highest_gameplay_version, char *reason, int32_t reason_size)
{
    if (reason && reason_size > 0) reason[0] = 0;
    if (count) *count = 0;
    if (highest_gameplay_version) *highest_gameplay_version = -1;
    encoded_plugin entries[MAXIMUM_PLUGINS_PER_GAME];
    int32_t entry_count = parse_plugin_list(encoded, ENCODED_PLUGIN_LIST_SIZE, entries);
    if (entry_count < 0)
    {
        log_message(__FILE__, __LINE__, "an encoded plug-in list does not decode");
        return false;
    }
    bool all_installed = true;
    int32_t found = 0, highest = -1;
    for (int32_t i = 0; i < entry_count; i++)
    {
        int32_t index = find_encoded_plugin(&entries[i]);
        if (index == NONE)
        {
            all_installed = false;
            if (reason && reason_size > 0)
            {
                const char *name = entries[i].name[0] ? entries[i].name : UNKNOWN_TEXT;
                const char *url = entries[i].url[0] ? entries[i].url : UNKNOWN_TEXT;
                bool prefixed = !entries[i].url[0] || strncmp(url, HTTP_PREFIX, strlen(HTTP_PREFIX)) == 0;
                slprintfcat(reason, (size_t)reason_size, "%s - %s%s\r", name, prefixed ? "" : HTTP_PREFIX, url);
            }
            continue;
        }
        const plugin_datum *plugin = &plugin_globals.plugins[index].datum;
        if (plugin->type == _tag_file_type_gameplay_plugin)
        {
            if (plugin->version > highest) highest = plugin->version;
            continue;
        }
        if (plugin_indexes) plugin_indexes[found] = (int16_t)index;
        found++;
    }
    if (count) *count = found;
    if (highest_gameplay_version) *highest_gameplay_version = highest;
    return all_installed;
}

int32_t tag_file_plugins_decode_missing(const void *encoded, int32_t size, missing_plugin_info *missing,
                                        int32_t maximum)
{
    encoded_plugin entries[MAXIMUM_PLUGINS_PER_GAME];
    int32_t entry_count = parse_plugin_list(encoded, size, entries);
    if (entry_count < 0)
    {
        log_message(__FILE__, __LINE__, "an encoded plug-in list does not decode");
        return -1;
    }
    int32_t missing_count = 0;
    for (int32_t i = 0; i < entry_count; i++)
    {
        if (find_encoded_plugin(&entries[i]) != NONE) continue;
        if (missing && missing_count < maximum)
        {
            memcpy(missing[missing_count].name, entries[i].name, TAG_NAME_SIZE);
            memcpy(missing[missing_count].url, entries[i].url, TAG_URL_SIZE);
            missing[missing_count].checksum = entries[i].checksum;
        }
        missing_count++;
    }
    return missing_count;
}

bool tag_files_build_plugin_indices_for_entrypoint(int16_t *plugin_indexes, int32_t *count, int32_t maximum,
                                                   const int16_t *user_indexes, int32_t user_count,
                                                   int32_t user_maximum, int32_t entry_point_plugin_index,
                                                   const char *required_name, bool *uses_earlier_gameplay,
                                                   int32_t minimum_gameplay_version, bool interactive)
{
    if (maximum > MAXIMUM_PLUGINS_PER_GAME) maximum = MAXIMUM_PLUGINS_PER_GAME;
    if (user_count > user_maximum) user_count = user_maximum;
    int16_t result[3 * MAXIMUM_PLUGINS_PER_GAME + 2];
    int32_t result_count = 0;
    int32_t wanted[MAXIMUM_PLUGINS_PER_GAME + 2];
    int32_t wanted_count = 0;
    for (int32_t i = 0; user_indexes && i < user_count && wanted_count < MAXIMUM_PLUGINS_PER_GAME; i++)
        wanted[wanted_count++] = user_indexes[i];

    if (required_name && required_name[0])
    {
        int32_t required = find_plugin_by_name(required_name);
        if (required == NONE)
        {
            log_message(__FILE__, __LINE__, "the map needs plug-in '%s', which is not installed", required_name);
            bool go_on = interactive && question_slot.get() &&
                         question_slot.get()("Missing plugin required", "Continue anyways?");
            if (!go_on) return false;
        }
        else wanted[wanted_count++] = required;
    }
    wanted[wanted_count++] = entry_point_plugin_index;

    for (int32_t i = 0; i < wanted_count; i++)
    {
        if (!get_plugin_data(wanted[i])) continue;
        bool repeated = false;
        for (int32_t j = 0; j < result_count; j++) repeated |= result[j] == wanted[i];
        if (!repeated) result[result_count++] = (int16_t)wanted[i];
    }
    if (result_count > maximum)
    {
        log_message(__FILE__, __LINE__, "the map needs %d plug-ins; at most %d can be used", (int)result_count,
                    (int)maximum);
        return false;
    }
    for (int32_t i = 0; i < result_count; i++)
    {
        const plugin_datum *plugin = get_plugin_data(result[i]);
        bool safe = plugin->type == _tag_file_type_gameplay_plugin ||
                    (plugin->version != PLUGIN_VERSION_NO_FLAGS &&
                     TEST_FLAG(plugin->version, _plugin_safe_with_earlier_gameplay_bit));
        if (!safe && uses_earlier_gameplay) *uses_earlier_gameplay = false;
        if (plugin_indexes) plugin_indexes[i] = result[i];
    }
    if (count) *count = result_count;
    return true;
}

// ---- entry points -------------------------------------------------------------

static void entry_add(const full_entry_point *entry)
{
    struct plugin_globals *g = &plugin_globals;
    if (g->entry_count == MAXIMUM_ENTRY_POINTS)
    {
        log_message(__FILE__, __LINE__, "more than %d entry points; the rest left out", (int)MAXIMUM_ENTRY_POINTS);
        return;
    }
    g->entries[g->entry_count] = *entry;
    g->entry_pointers[g->entry_count] = &g->entries[g->entry_count];
    g->entry_count++;
}

int32_t entry_points_open(int32_t local_choice, int16_t *plugin_indexes, int32_t count)
{
    struct plugin_globals *g = &plugin_globals;
    if (local_choice == 0 || local_choice == 1) g->local_disabled = local_choice == 1;
    for (int32_t i = 0; plugin_indexes && i < count;)
    {
        if (plugin_indexes[i] == NONE) plugin_indexes[i] = plugin_indexes[--count];
        else i++;
    }
    if (!plugin_indexes) count = 0;

    g->entry_count = 0;
    g->base_entry_count = 0;
    static int32_t indexes[MAXIMUM_ENTRY_POINTS];
    for (int32_t level = _source_level_base; level <= _source_level_patch; level++)
    {
        int32_t found = tag_files_enumerate_level(MESH_GROUP_TAG, level, indexes, MAXIMUM_ENTRY_POINTS);
        for (int32_t i = 0; i < found && g->base_entry_count < MAXIMUM_ENTRY_POINTS; i++)
            if (read_entry_point(indexes[i], BASE_GAME_PLUGIN_INDEX, &g->base_entries[g->base_entry_count]))
                entry_add(&g->base_entries[g->base_entry_count++]);
    }
    if (!g->local_disabled)
    {
        int32_t found = tag_files_enumerate_level(MESH_GROUP_TAG, _source_level_local, indexes, MAXIMUM_ENTRY_POINTS);
        for (int32_t i = 0; i < found; i++)
        {
            full_entry_point entry;
            if (read_entry_point(indexes[i], BASE_GAME_PLUGIN_INDEX, &entry)) entry_add(&entry);
        }
    }
    for (int32_t i = 0; plugin_indexes && i < count; i++)
    {
        if (!get_plugin_data(plugin_indexes[i])) continue;
        const plugin_entry *plugin = &g->plugins[plugin_indexes[i]];
        for (int32_t e = 0; e < plugin->entry_point_count; e++) entry_add(&plugin->entry_points[e]);
    }
    return count;
}

void get_cached_entry_points(int32_t *count, full_entry_point *const **entries, void *reserved)
{
    if (count) *count = plugin_globals.entry_count;
    if (entries) *entries = plugin_globals.entry_pointers;
}

bool get_mesh_display_name_in_plugin_list(tag mesh_tag, char *name, int32_t size, const void *encoded,
                                          int32_t encoded_size)
{
    struct plugin_globals *g = &plugin_globals;
    const full_entry_point *found = nullptr;
    for (int32_t i = 0; i < g->base_entry_count && !found; i++)
        if (g->base_entries[i].subgroup_tag == mesh_tag) found = &g->base_entries[i];
    if (!found && encoded)
    {
        encoded_plugin entries[MAXIMUM_PLUGINS_PER_GAME];
        int32_t entry_count = parse_plugin_list(encoded, encoded_size, entries);
        for (int32_t i = 0; i < entry_count && !found; i++)
        {
            int32_t index = find_encoded_plugin(&entries[i]);
            if (index == NONE) continue;
            const plugin_entry *plugin = &g->plugins[index];
            for (int32_t e = 0; e < plugin->entry_point_count && !found; e++)
                if (plugin->entry_points[e].subgroup_tag == mesh_tag) found = &plugin->entry_points[e];
        }
    }
    if (found && name && size > 0) strlcpy(name, found->printed_name, (size_t)size);
    return found != nullptr;
}

#undef HTTP_PREFIX
#undef UNKNOWN_TEXT
