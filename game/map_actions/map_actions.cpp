// Map actions: the records, the parameter buffer, the block stored in the
// mesh and the module's life cycle.

#include "map_actions.h"

#include <cstdlib>
#include <cstring>

#include "action_procs.h"
#include "attack_ai.h"
#include "spatial_groups.h"
#include "cseries/errors.h"
#include "game_hooks.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_ambient_life.h"
#include "mesh.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"

const byte_swap_code map_action_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte, _4byte, _4byte, _4byte, _4byte, _2byte, _2byte, _4byte, _2byte, 30, _4byte,
    _end_bs_array};

map_action_globals map_action_globals_record;

static struct map_actions_module_globals
{
    bool started; // initialize_map_actions ran
} map_actions_module_globals;

datum_globals map_action_data_globals = {
    .name = "map action", .size = sizeof(map_action), .maximum_count = MAXIMUM_MAP_ACTIONS_PER_MAP,
    .flags = _data_array_muids_flag};

datum_globals *get_map_action_array(void) { return &map_action_data_globals; }

// ---- life cycle ----------------------------------------------------------------

bool initialize_map_actions(void)
{
    map_action_globals *globals = &map_action_globals_record;
    if (map_actions_module_globals.started) return true;
    memset(globals, 0, sizeof(*globals));
    globals->maximum_parameter_buffer_size = PARAMETER_BUFFER_SIZE;
    initialize_spatial_groups();
    initialize_attack_ai();
    initialize_action_procs();
    if (!initialize_data(&map_action_data_globals))
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for map_action_globals",
                      (int)sizeof(map_action_globals));
        return false;
    }
    map_actions_module_globals.started = true;
    register_state_hash_procedure_at_start_up(hash_map_actions);
    register_state_hash_procedure_at_start_up(hash_monster_ambient_life);
    return true;
}

void initialize_map_actions_for_new_map(void)
{
    map_action_globals *globals = &map_action_globals_record;
    VASSERT(!globals->initialized, "!map_action_globals->initialized");
    if (!globals->parameter_buffer)
    {
        globals->parameter_buffer = (uint8_t *)calloc(1, PARAMETER_ARENA_SIZE);
        if (!globals->parameter_buffer)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for parameter buffer",
                          PARAMETER_ARENA_SIZE);
            return;
        }
    }
    memset(globals->parameter_buffer, 0, PARAMETER_ARENA_SIZE);
    initialize_spatial_groups_for_new_map();
    initialize_attack_ai_for_new_map();
    initialize_monster_map_action_memory_pool_for_new_map();
    initialize_data_for_new_map(&map_action_data_globals);
    globals->debug = false;
    globals->initial_actions_activated = false;
    globals->parameter_buffer_size = 0;
    globals->trigger_stack_size = 0;
    globals->map_actions_state = 0;
    globals->maximum_parameter_buffer_size = PARAMETER_BUFFER_SIZE;
    reset_map_action_engine();
    reset_map_action_parameter_cache();
    globals->initialized = true;
}

void dispose_map_actions_from_old_map(void)
{
    map_action_globals *globals = &map_action_globals_record;
    if (!globals->initialized) return;
    free(globals->parameter_buffer);
    globals->parameter_buffer = nullptr;
    globals->parameter_buffer_size = 0;
    dispose_spatial_groups_from_old_map();
    dispose_attack_ai_from_old_map();
    dispose_data_from_old_map(&map_action_data_globals);
    reset_map_action_engine();
    // Nothing found in the old map's actions may answer for a later one.
    reset_map_action_parameter_cache();
    globals->initialized = false;
}

// ---- the block ---------------------------------------------------------------------

namespace {

// Reads 16- and 32-bit fields of the block in the order it is stored in.
struct block_reader
{
    const uint8_t *bytes;
    bool big_endian;
    int16_t read16(int64_t offset) const
    {
        if (big_endian) return (int16_t)read_be16(bytes + offset);
        int16_t value;
        memcpy(&value, bytes + offset, sizeof(value));
        return value;
    }
    int32_t read32(int64_t offset) const
    {
        if (big_endian) return (int32_t)read_be32(bytes + offset);
        int32_t value;
        memcpy(&value, bytes + offset, sizeof(value));
        return value;
    }
};

bool refuse_block(const char *what, int32_t value)
{
    ERROR_MESSAGE(_error_data_corrupted, "map action block refused: %s (#%d)", what, value);
    return false;
}

// Converts one entry's header and values in place (either direction); the
// header is read in `header_is_big_endian` order.
void swap_parameter_entry(uint8_t *entry, bool header_is_big_endian)
{
    block_reader reader = {entry, header_is_big_endian};
    const int16_t type = reader.read16(0), count = reader.read16(2);
    byte_swap_memory("map action parameter header", entry, 2, _2byte);
    byte_swap_memory("map action parameter header", entry + 4, 1, _4byte);
    if (count <= 0) return;
    const parameter_definition *definition = get_parameter_definition(type);
    if (!definition || definition->swap_code == _byte) return;
    const int32_t word_size = definition->swap_code == _2byte ? 2 : 4;
    byte_swap_memory("map action parameter", entry + MAP_ACTION_PARAMETER_HEADER_SIZE,
                     count * (definition->size / word_size), definition->swap_code);
}

// The size of the entry at `offset` when it is sound and ends within
// `limit`, else NONE.  `type_error` is set for an unknown type with values.
int32_t checked_entry_size(const block_reader &reader, int64_t offset, int64_t limit, bool *type_error)
{
    *type_error = false;
    if (offset + MAP_ACTION_PARAMETER_HEADER_SIZE > limit) return NONE;
    const int16_t type = reader.read16(offset), count = reader.read16(offset + 2);
    if (count < 0) return NONE;
    if (count > 0 && (uint16_t)type >= NUMBER_OF_MAP_ACTION_PARAMETER_TYPES)
    {
        *type_error = true;
        return NONE;
    }
    const int32_t size = map_action_parameter_entry_size(type, count);
    if (size == NONE || offset + size > limit) return NONE;
    return size;
}

} // namespace

bool import_map_actions(int32_t count, int32_t buffer_size, void *buffer, bool byte_swap)
{
    map_action_globals *globals = &map_action_globals_record;
    if (!globals->initialized || !globals->parameter_buffer) return refuse_block("no map is being loaded", 0);
    initialize_data_for_new_map(&map_action_data_globals);
    globals->parameter_buffer_size = 0;
    globals->map_actions_state++;
    reset_map_action_parameter_cache();

    // Everything is checked before anything is copied or converted.
    if (count < 0 || count > MAXIMUM_MAP_ACTIONS_PER_MAP) return refuse_block("map_action_count", count);
    if ((int64_t)buffer_size < (int64_t)count * MAP_ACTION_SIZE) return refuse_block("map_action_buffer_size", buffer_size);
    if (buffer_size > 0 && !buffer) return refuse_block("missing block", buffer_size);
    const int32_t area_size = buffer_size - count * MAP_ACTION_SIZE;
    if (area_size >= PARAMETER_BUFFER_SIZE) return refuse_block("parameter area too large", area_size);
    uint8_t *bytes = (uint8_t *)buffer;
    uint8_t *area = bytes ? bytes + count * MAP_ACTION_SIZE : nullptr;
    const block_reader area_reader = {area, byte_swap};

    // Where the entries begin: a run must begin at one, or the entries read
    // through it after the conversion would not be the ones checked here.
    static uint8_t entry_starts[PARAMETER_BUFFER_SIZE / PARAMETER_ALIGNMENT];
    memset(entry_starts, 0, sizeof(entry_starts));
    for (int64_t offset = 0; offset < area_size;)
    {
        entry_starts[offset / PARAMETER_ALIGNMENT] = 1;
        bool type_error;
        const int32_t size = checked_entry_size(area_reader, offset, area_size, &type_error);
        if (type_error)
        {
            ERROR_MESSAGE(_error_data_corrupted, "invalid map action parameter type #%d is not in (#%d, #%d)",
                          area_reader.read16(offset), 0, NUMBER_OF_MAP_ACTION_PARAMETER_TYPES - 1);
            return false;
        }
        if (size == NONE) return refuse_block("parameter entry", (int32_t)offset);
        offset += size;
    }

    static map_action records[MAXIMUM_MAP_ACTIONS_PER_MAP];
    struct run { int32_t offset, size; };
    static run runs[MAXIMUM_MAP_ACTIONS_PER_MAP];
    int32_t run_count = 0;
    for (int32_t i = 0; i < count; i++)
    {
        map_action *record = &records[i];
        memcpy(record, bytes + (int64_t)i * MAP_ACTION_SIZE, MAP_ACTION_SIZE);
        if (byte_swap) byte_swap_data("map action", record, MAP_ACTION_SIZE, 1, map_action_byte_swapping_data);
        if (record->parameter_count < 0 || record->parameters_size < 0 || record->parameters_offset < 0 ||
            (int64_t)record->parameters_offset + record->parameters_size > area_size)
            return refuse_block("map action parameters", i);
        // The engine knows no other way to end an action; it would halt.
        if (record->identifier != 0 &&
            (record->deactivation_mode < 0 || record->deactivation_mode >= NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES))
        {
            ERROR_MESSAGE(_error_data_corrupted, "map action block refused: action #%d deactivation_mode #%d not in 0..#%d",
                          i, record->deactivation_mode, NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES - 1);
            return false;
        }
        if (record->identifier == 0 || record->parameters_size == 0) continue;
        if (record->parameters_offset % PARAMETER_ALIGNMENT != 0 ||
            !entry_starts[record->parameters_offset / PARAMETER_ALIGNMENT])
            return refuse_block("map action parameters not at an entry", i);
        for (int32_t j = 0; j < run_count; j++)
            if (record->parameters_offset < runs[j].offset + runs[j].size &&
                runs[j].offset < record->parameters_offset + record->parameters_size)
                return refuse_block("overlapping parameter runs", i);
        runs[run_count++] = {record->parameters_offset, record->parameters_size};
    }
    // A run that holds fewer whole entries than its count says keeps those.
    for (int32_t i = 0; i < count; i++)
    {
        map_action *record = &records[i];
        const int64_t end = (int64_t)record->parameters_offset + record->parameters_size;
        int64_t offset = record->parameters_offset;
        int16_t entries = 0;
        while (entries < record->parameter_count)
        {
            bool type_error;
            const int32_t size = checked_entry_size(area_reader, offset, end, &type_error);
            if (size == NONE) break;
            offset += size;
            entries++;
        }
        if (entries < record->parameter_count)
        {
            VWARN(false, "parameter_count clamped to the entries its run holds");
            record->parameter_count = entries;
        }
    }

    if (byte_swap)
    {
        for (int32_t i = 0; i < count; i++)
            byte_swap_data("map action", bytes + (int64_t)i * MAP_ACTION_SIZE, MAP_ACTION_SIZE, 1,
                           map_action_byte_swapping_data);
        for (int32_t offset = 0; offset < area_size;)
        {
            const int32_t size = map_action_parameter_entry_size(area_reader.read16(offset), area_reader.read16(offset + 2));
            swap_parameter_entry(area + offset, true);
            offset += size;
        }
    }
    if (!import_data(&map_action_data_globals, records, count))
    {
        initialize_data_for_new_map(&map_action_data_globals);
        return refuse_block("map action records", count);
    }
    if (area_size > 0) memcpy(globals->parameter_buffer, area, (size_t)area_size);
    // Nothing of an earlier block stays past the bytes in use: the editors
    // leave bytes there zero, wherever their runs end up.
    if (area_size >= 0) memset(globals->parameter_buffer + area_size, 0, (size_t)(PARAMETER_ARENA_SIZE - area_size));
    globals->parameter_buffer_size = area_size;
    globals->map_actions_state++;
    return true;
}

bool import_map_actions_from_mesh(void)
{
    int32_t count = 0, size = 0;
    const void *stored = get_mesh_map_action_block(&count, &size);
    if (!stored || size <= 0) return import_map_actions(count, 0, nullptr, true);
    void *copy = malloc((size_t)size);
    if (!copy)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for the map action block", size);
        return false;
    }
    memcpy(copy, stored, (size_t)size);
    const bool ok = import_map_actions(count, size, copy, true);
    free(copy);
    return ok;
}

// Walks the entries of the action itself, calling `visit` with each
// entry's header and first value; stops when `visit` returns false.
template <typename F>
static void for_each_own_entry(const map_action *action, F visit)
{
    uint8_t *buffer = map_action_globals_record.parameter_buffer;
    int32_t offset = action->parameters_offset;
    for (int32_t i = 0; i < action->parameter_count; i++)
    {
        map_action_parameter_header *header = (map_action_parameter_header *)(buffer + offset);
        const int32_t size = map_action_parameter_entry_size(header->type, header->count);
        if (size == NONE) return;
        if (!visit(header, buffer + offset + MAP_ACTION_PARAMETER_HEADER_SIZE)) return;
        offset += size;
    }
}

void preload_map_action_tags(void)
{
    map_action_globals *globals = &map_action_globals_record;
    if (!globals->initialized) return;
    for (int32_t index = 0; index < map_action_data_globals.count; index++)
    {
        const map_action *action = get_map_action(index);
        if (!action) continue;
        for_each_own_entry(action, [](map_action_parameter_header *header, uint8_t *values) {
            if (header->count < 1) return true;
            tag group_tag = NONE;
            switch (header->type)
            {
            case _parameter_projectile_group_tag: group_tag = PROJECTILE_GROUP_DEFINITION_GROUP_TAG; break;
            case _parameter_sound_tag: group_tag = FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'); break;
            case _parameter_projectile_tag: group_tag = FOUR_CHARACTER_CODE('p', 'r', 'o', 'j'); break;
            case _parameter_string_list_tag: break;
            default: return true;
            }
            definition_globals *group = group_tag != NONE ? get_definition_group(group_tag) : nullptr;
            for (int32_t i = 0; i < header->count; i++)
            {
                int32_t value;
                memcpy(&value, values + i * 4, 4);
                value = group ? try_definition_tag_to_index(group, value, true, 0) : NONE;
                memcpy(values + i * 4, &value, 4);
            }
            return true;
        });
    }
    globals->map_actions_state++;
}

void *export_map_actions(int32_t *count, int32_t *buffer_size)
{
    map_action_globals *globals = &map_action_globals_record;
    settle_map_action_parameters();
    compress_data(&map_action_data_globals);
    // The records moved to other slots.
    reset_map_action_parameter_cache();
    const int32_t records = map_action_data_globals.count;
    const int32_t area_size = globals->parameter_buffer_size;
    const int32_t total = records * MAP_ACTION_SIZE + area_size;
    uint8_t *block = (uint8_t *)malloc(total > 0 ? (size_t)total : 1);
    if (!block) return nullptr;
    for (int32_t i = 0; i < records; i++)
    {
        uint8_t *record = block + i * MAP_ACTION_SIZE;
        memcpy(record, get_datum(&map_action_data_globals, i), MAP_ACTION_SIZE);
        byte_swap_data("map action", record, MAP_ACTION_SIZE, 1, map_action_byte_swapping_data);
    }
    uint8_t *area = block + records * MAP_ACTION_SIZE;
    if (area_size > 0) memcpy(area, globals->parameter_buffer, (size_t)area_size);
    for (int32_t offset = 0; offset + MAP_ACTION_PARAMETER_HEADER_SIZE <= area_size;)
    {
        const map_action_parameter_header *header = (const map_action_parameter_header *)(globals->parameter_buffer + offset);
        const int32_t size = map_action_parameter_entry_size(header->type, header->count);
        if (size == NONE || offset + size > area_size) break;
        swap_parameter_entry(area + offset, false);
        offset += size;
    }
    globals->map_actions_state++;
    if (count) *count = records;
    if (buffer_size) *buffer_size = total;
    return block;
}

void offset_map_actions(int32_t dx, int32_t dy)
{
    const mesh_header *header = get_mesh_header();
    const int32_t width = header ? header->mesh_width : 0, height = header ? header->mesh_height : 0;
    const int32_t maximum_x = width * 512 - 513, maximum_y = height * 512 - 513;
    for (int32_t index = 0; index < map_action_data_globals.count; index++)
    {
        const map_action *action = get_map_action(index);
        if (!action) continue;
        for_each_own_entry(action, [&](map_action_parameter_header *header, uint8_t *values) {
            if (header->type != _parameter_world_point2d) return true;
            for (int32_t i = 0; i < header->count * 2; i++)
            {
                int32_t value;
                memcpy(&value, values + i * 4, 4);
                int64_t moved = (int64_t)value + ((i & 1) ? dy : dx);
                const int32_t maximum = (i & 1) ? maximum_y : maximum_x;
                if (moved > maximum) moved = maximum;
                if (moved < 0) moved = 0;
                value = (int32_t)moved;
                memcpy(values + i * 4, &value, 4);
            }
            return true;
        });
    }
    map_action_globals_record.map_actions_state++;
}

int32_t get_map_action_parameter_buffer_size(void)
{
    return map_action_globals_record.parameter_buffer_size;
}

// ---- accessors ----------------------------------------------------------------------

action_tag get_map_action_tag(int32_t action_index)
{
    const map_action *action = get_map_action(action_index);
    return action ? action->tag : NONE;
}

void set_map_action_tag(int32_t action_index, action_tag new_tag)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    action->tag = new_tag;
    map_action_globals_record.map_actions_state++;
}

int16_t get_map_action_identifier(int32_t action_index)
{
    const map_action *action = get_map_action(action_index);
    return action ? action->identifier : (int16_t)NONE;
}

void set_map_action_trigger_time(int32_t action_index, int32_t trigger_time_lower_bound, int32_t trigger_time_delta)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    action->trigger_time_lower_bound = trigger_time_lower_bound;
    action->trigger_time_delta = trigger_time_delta;
    map_action_globals_record.map_actions_state++;
}

const char *get_map_action_name(int32_t action_index)
{
    enum { NAME_BUFFERS = 4, NAME_SIZE = 128 };
    static char names[NAME_BUFFERS][NAME_SIZE];
    static int32_t next_name;
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag,
                                  _map_action_field_name_name, _parameter_character))
        return "<unnamed action>";
    char *name = names[next_name];
    next_name = (next_name + 1) % NAME_BUFFERS;
    const int32_t copied = copy_map_action_parameter_values(&parameter, name, NAME_SIZE - 1);
    name[copied] = 0;
    return name;
}

bool set_map_action_name(int32_t action_index, const char *name)
{
    if (!name) return false;
    const size_t length = strlen(name);
    if (length >= MAXIMUM_MAP_ACTION_RUN_SIZE) return false;
    return set_unique_map_action_parameter(action_index, _map_action_field_name_name, _parameter_character,
                                           (int32_t)length + 1, name);
}

map_action *get_map_action_by_identifier(int16_t identifier)
{
    const int32_t index = action_identifier_to_action_index(identifier);
    return index == NONE ? nullptr : get_map_action(index);
}

// ---- hooks ------------------------------------------------------------------------------

void hash_map_actions(uint32_t *hash)
{
    const map_action_globals *globals = &map_action_globals_record;
    if (!globals->initialized) return;
    settle_map_action_parameters();
    state_hash_add_int32(hash, map_action_data_globals.count);
    for (int32_t index = 0; index < map_action_data_globals.count; index++)
    {
        const map_action *action = get_map_action(index);
        if (!action)
        {
            state_hash_add_int32(hash, 0);
            continue;
        }
        uint8_t record[MAP_ACTION_SIZE];
        memcpy(record, action, MAP_ACTION_SIZE);
        byte_swap_data("map action", record, MAP_ACTION_SIZE, 1, map_action_byte_swapping_data);
        state_hash_add(hash, record, MAP_ACTION_SIZE);
    }
    state_hash_add_int32(hash, globals->parameter_buffer_size);
    state_hash_add_int32(hash, globals->initial_actions_activated ? 1 : 0);
    // The bytes in use, entry by entry in the stored (big-endian) order.
    static uint8_t scratch[PARAMETER_BUFFER_SIZE];
    const int32_t size = globals->parameter_buffer_size;
    if (size <= 0) return;
    memcpy(scratch, globals->parameter_buffer, (size_t)size);
    for (int32_t offset = 0; offset + MAP_ACTION_PARAMETER_HEADER_SIZE <= size;)
    {
        const map_action_parameter_header *header = (const map_action_parameter_header *)(globals->parameter_buffer + offset);
        const int32_t entry_size = map_action_parameter_entry_size(header->type, header->count);
        if (entry_size == NONE || offset + entry_size > size) break;
        swap_parameter_entry(scratch + offset, false);
        offset += entry_size;
    }
    state_hash_add(hash, scratch, (size_t)size);
}

// ---- registration ------------------------------------------------------------------------

static bool startup_map_actions(void) { return initialize_map_actions(); }

static bool map_step_map_actions(const new_game_data *)
{
    initialize_map_actions_for_new_map();
    if (!map_action_globals_record.initialized) return false;
    if (import_map_actions_from_mesh()) return true;
    // The core disposes only the steps before a failing one.
    dispose_map_actions_from_old_map();
    return false;
}

static bool map_step_preload_map_action_tags(const new_game_data *)
{
    preload_map_action_tags();
    return true;
}

void register_map_action_hooks(void)
{
    register_startup_procedure(_startup_map_actions, startup_map_actions);
    register_map_procedures(_map_map_actions, map_step_map_actions, dispose_map_actions_from_old_map);
    register_map_procedures(_map_preload_map_action_tags, map_step_preload_map_action_tags, nullptr);
    register_tick_procedure(_tick_map_actions, update_map_actions);
    register_map_action_procedures(map_action_engine_procedures());
}
