#pragma once
// Map actions: the scripts every map carries.  Up to 1024 actions, each
// naming an action procedure by a four-character tag and owning one run of
// typed, named parameter entries in a shared 98304-byte buffer.  This module
// holds the records, the block stored in the mesh (import, preload, export),
// the life cycle and the engine that activates, triggers and deactivates the
// actions every 32 ticks.  The search and editing of parameters is
// map_action_parameters.h; the table of procedures is action_procs.h.
//
// Everything here is part of the lock-step simulation: it runs on the main
// thread inside the game tick, draws only vesk_random, in the order
// docs/determinism.md gives, and is gated on current_gameplay_version.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "mesh_format.h"
#include "tag_files/data.h"

typedef tag action_tag;
typedef tag field_tag;

enum
{
    PARAMETER_BUFFER_SIZE = MAP_ACTION_PARAMETER_BUFFER_SIZE, // 98304
    PARAMETER_ALIGNMENT = 4,
    MAP_ACTION_SIZE = MAP_ACTION_RECORD_SIZE, // 64
    MAP_ACTION_PARAMETER_HEADER_SIZE = 8,
    MAXIMUM_MAP_ACTION_VISUAL_INDENT = 5,
    MAP_ACTION_FREQUENCY = 32,
    MAXIMUM_TRIGGER_STACK_SIZE = 4,
    MAXIMUM_LOCAL_ACTION_IDENTIFIERS = 30,
    // A run or an entry whose size or count would pass this is refused: both
    // are stored in 16 bits.
    MAXIMUM_MAP_ACTION_RUN_SIZE = 32767,
    // The memory behind the parameter buffer.  Edits during a script pass
    // write each moved run after the last byte written and close the runs
    // left behind once at the end, so the buffer has room for that.
    PARAMETER_ARENA_SIZE = 4 * PARAMETER_BUFFER_SIZE,
};

// ---- the action record (the same 64 bytes in memory and, big-endian, in the block)

enum map_action_flag_bits
{
    _map_action_initially_active_bit = 0,
    _map_action_activates_only_once_bit,
    _map_action_no_initial_delay_bit,
    _map_action_only_initial_delay_bit,
    _map_action_deleted_on_deactivation_bit,
    _map_action_is_active_bit, // run-time from here on
    _map_action_succeeded_bit,
    _map_action_has_been_activated_bit,
    _map_action_was_just_activated_bit,
};

enum : uint32_t
{
    _map_action_initially_active_flag = FLAG(_map_action_initially_active_bit),
    _map_action_activates_only_once_flag = FLAG(_map_action_activates_only_once_bit),
    _map_action_no_initial_delay_flag = FLAG(_map_action_no_initial_delay_bit),
    _map_action_only_initial_delay_flag = FLAG(_map_action_only_initial_delay_bit),
    _map_action_deleted_on_deactivation_flag = FLAG(_map_action_deleted_on_deactivation_bit),
    _map_action_is_active_flag = FLAG(_map_action_is_active_bit),
    _map_action_succeeded_flag = FLAG(_map_action_succeeded_bit),
    _map_action_has_been_activated_flag = FLAG(_map_action_has_been_activated_bit),
    _map_action_was_just_activated_flag = FLAG(_map_action_was_just_activated_bit),
    _map_action_runtime_flags = 0x1E0,
};

enum map_action_deactivation_mode
{
    _map_action_deactivates_on_trigger = 0,
    _map_action_deactivates_on_execution,
    _map_action_deactivates_on_successful_execution,
    _map_action_deactivates_never,
    _map_action_deactivates_on_failed_execution,
    NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES
};

struct map_action
{
    int16_t identifier; // 0: a free slot
    int16_t deactivation_mode;
    action_tag tag; // NONE: no procedure
    uint32_t flags;
    int32_t trigger_time_lower_bound;
    int32_t trigger_time_delta;
    int16_t parameter_count;
    int16_t parameters_size;
    int32_t parameters_offset;
    int16_t visual_indent;
    int16_t reserved[15];
    int32_t trigger_time;
};
static_assert(sizeof(map_action) == MAP_ACTION_SIZE);
static_assert(offsetof(map_action, tag) == 4);
static_assert(offsetof(map_action, flags) == 8);
static_assert(offsetof(map_action, trigger_time_lower_bound) == 12);
static_assert(offsetof(map_action, trigger_time_delta) == 16);
static_assert(offsetof(map_action, parameter_count) == 20);
static_assert(offsetof(map_action, parameters_size) == 22);
static_assert(offsetof(map_action, parameters_offset) == 24);
static_assert(offsetof(map_action, visual_indent) == 28);
static_assert(offsetof(map_action, reserved) == 30);
static_assert(offsetof(map_action, trigger_time) == 60);
extern const byte_swap_code map_action_byte_swapping_data[];

// ---- parameters --------------------------------------------------------------

enum map_action_parameter_type
{
    _parameter_flag = 0,
    _parameter_character,
    _parameter_monster_identifier,
    _parameter_action_identifier,
    _parameter_angle,
    _parameter_integer,
    _parameter_world_distance,
    _parameter_field_name,
    _parameter_fixed,
    _parameter_projectile_group_tag,
    _parameter_string_list_tag,
    _parameter_sound_tag,
    _parameter_projectile_tag,
    _parameter_world_point2d,
    _parameter_world_rectangle2d,
    _parameter_object_identifier,
    _parameter_model_identifier,
    _parameter_sound_source_identifier,
    _parameter_world_point3d,
    _parameter_local_projectile_group_identifier,
    _parameter_model_animation_identifier,
    NUMBER_OF_MAP_ACTION_PARAMETER_TYPES
};

// One entry's header in the buffer; its values follow, padded to 4 bytes.
struct map_action_parameter_header
{
    int16_t type;
    int16_t count;
    field_tag field_name;
};
static_assert(sizeof(map_action_parameter_header) == MAP_ACTION_PARAMETER_HEADER_SIZE);
static_assert(offsetof(map_action_parameter_header, field_name) == 4);

// A handle to one entry: valid until any entry of that action changes.
struct map_action_parameter
{
    field_tag field_name;
    int16_t type;
    int16_t count;
    int16_t action_index; // the action holding the entry (maybe a linked one)
    int16_t parameter_index; // its position in that action
};

struct parameter_definition
{
    int16_t size; // bytes per value
    int16_t swap_code; // _byte, _2byte or _4byte: each value is swapped as size / |code| words
};
inline constexpr parameter_definition parameter_definitions[NUMBER_OF_MAP_ACTION_PARAMETER_TYPES] = {
    {1, _byte},  {1, _byte},  {2, _2byte}, {2, _2byte}, {2, _2byte}, {4, _4byte}, {4, _4byte},
    {4, _4byte}, {4, _4byte}, {4, _4byte}, {4, _4byte}, {4, _4byte}, {4, _4byte}, {8, _4byte},
    {16, _4byte}, {2, _2byte}, {2, _2byte}, {2, _2byte}, {12, _4byte}, {2, _2byte}, {2, _2byte},
};
// The definition of a type 0..20, or null.
inline const parameter_definition *get_parameter_definition(int32_t type)
{
    return type >= 0 && type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES ? &parameter_definitions[type] : nullptr;
}
// The bytes an entry of `count` values of `type` takes, header included;
// NONE for an unknown type or a negative count.
inline int32_t map_action_parameter_entry_size(int32_t type, int32_t count)
{
    if (count < 0) return NONE;
    if (count == 0) return MAP_ACTION_PARAMETER_HEADER_SIZE;
    const parameter_definition *definition = get_parameter_definition(type);
    if (!definition) return NONE;
    const int64_t values = (int64_t)count * definition->size;
    return (int32_t)(MAP_ACTION_PARAMETER_HEADER_SIZE + ((values + PARAMETER_ALIGNMENT - 1) & ~(int64_t)3));
}

// Field names the engine itself reads.
enum : int32_t
{
    _map_action_field_name_name = FOUR_CHARACTER_CODE('n', 'a', 'm', 'e'),
    _map_action_field_name_debug = FOUR_CHARACTER_CODE('d', 'e', 'b', 'g'),
    _map_action_field_name_link = FOUR_CHARACTER_CODE('l', 'i', 'n', 'k'),
    _map_action_field_name_prerequisites = FOUR_CHARACTER_CODE('p', 'r', 'e', 'r'),
    _map_action_field_name_inhibitors = FOUR_CHARACTER_CODE('i', 'n', 'h', 'i'),
    _map_action_field_name_activate_on_activation = FOUR_CHARACTER_CODE('a', 'c', 'o', 'a'),
    _map_action_field_name_deactivate_on_activation = FOUR_CHARACTER_CODE('d', 'e', 'o', 'a'),
    _map_action_field_name_activate_on_deactivation = FOUR_CHARACTER_CODE('a', 'c', 'o', 'd'),
    _map_action_field_name_deactivate_on_deactivation = FOUR_CHARACTER_CODE('d', 'e', 'o', 'd'),
    _map_action_field_name_activate_on_trigger = FOUR_CHARACTER_CODE('a', 'c', 'o', 't'),
    _map_action_field_name_activate_on_execution = FOUR_CHARACTER_CODE('a', 'c', 'o', 'e'),
    _map_action_field_name_trigger_simultaneously = FOUR_CHARACTER_CODE('t', 'r', 's', 'i'),
    _map_action_field_name_activate_on_success = FOUR_CHARACTER_CODE('a', 'c', 'o', 's'),
    _map_action_field_name_deactivate_on_success = FOUR_CHARACTER_CODE('d', 'e', 'o', 's'),
    _map_action_field_name_activate_on_failure = FOUR_CHARACTER_CODE('a', 'c', 'o', 'f'),
    _map_action_field_name_deactivate_on_failure = FOUR_CHARACTER_CODE('d', 'e', 'o', 'f'),
    _map_action_field_name_activate_on_error = FOUR_CHARACTER_CODE('a', 'c', 'e', 'r'),
    _map_action_field_name_deactivate_on_error = FOUR_CHARACTER_CODE('d', 'e', 'e', 'r'),
    _map_action_field_name_activate_when_inhibited = FOUR_CHARACTER_CODE('a', 'c', 'i', 'n'),
    _map_action_field_name_activate_when_missing_prerequisites = FOUR_CHARACTER_CODE('a', 'c', 'm', 'p'),
    _common_field_name_subject = FOUR_CHARACTER_CODE('s', 'u', 'b', 'j'),
    _common_field_name_object = FOUR_CHARACTER_CODE('o', 'b', 'j', 'e'),
    _common_field_name_player_restriction_list = FOUR_CHARACTER_CODE('p', 'l', 'y', 'r'),
    _common_field_name_team_restriction_list = FOUR_CHARACTER_CODE('t', 'e', 'a', 'm'),
    _common_internal_field_name_globals = FOUR_CHARACTER_CODE('#', 'g', 'l', 'o'),
    _common_internal_field_name_prefix = '#',
};

// ---- the module's record -------------------------------------------------------

struct map_action_globals
{
    bool initialized; // a map is loaded
    bool debug; // trace every action
    bool initial_actions_activated;
    int32_t parameter_buffer_size; // bytes in use
    int32_t maximum_parameter_buffer_size; // PARAMETER_BUFFER_SIZE
    uint8_t *parameter_buffer; // PARAMETER_ARENA_SIZE bytes
    int16_t trigger_stack_size;
    int16_t trigger_stack[MAXIMUM_TRIGGER_STACK_SIZE];
    // Incremented by every change to any parameter or action; drops the
    // parameter cache.
    uint32_t map_actions_state;
};

// The engine's record, for the modules of the map actions only (inline:
// every trigger reads and counts in it several times).
extern map_action_globals map_action_globals_record;
inline map_action_globals *get_map_action_globals(void) { return &map_action_globals_record; }
datum_globals *get_map_action_array(void);
// The "map action" array itself, for get_map_action only: everything else
// goes through get_map_action_array.
extern datum_globals map_action_data_globals;
// The record at `action_index`, null for a free slot or an index out of range.
// Inline: every search, edit and pass goes through here many times per
// action, so the records of the first block are read in place (the same
// answer as get_datum, whose checks the bounds cover).
inline map_action *get_map_action(int32_t action_index)
{
    if ((uint32_t)action_index >= (uint32_t)map_action_data_globals.count || !map_action_data_globals.blocks)
        return nullptr;
    if (action_index >= map_action_data_globals.maximum_count)
        return (map_action *)get_datum(&map_action_data_globals, action_index);
    map_action *action = (map_action *)(map_action_data_globals.blocks[0] + (size_t)action_index * sizeof(map_action));
    return action->identifier != 0 ? action : nullptr;
}

// ---- life cycle -----------------------------------------------------------------

// Once at start-up: the record, the spatial groups, the attack AI, the
// procedure table and the "map action" array.  False (fatal code 8 reported)
// when memory runs out.
bool initialize_map_actions(void);
// A map begins: the parameter buffer (fatal code 8 when it cannot be had),
// the spatial groups and attack AI for the map, an empty array, every flag
// and counter cleared.
void initialize_map_actions_for_new_map(void);
void dispose_map_actions_from_old_map(void);

// Loads a block as stored in the mesh: `count` records of 64 bytes, then the
// parameter area, `buffer_size` bytes in all, big-endian when `byte_swap`
// (the buffer is converted in place then).  Everything is checked before
// anything is copied: a negative or too large count, a buffer smaller than
// the records, an area of PARAMETER_BUFFER_SIZE bytes or more, an entry that
// runs past the area, a negative count, an unknown type with values, or a
// record whose run lies outside the area refuse the block with error code 10
// and false, the actions left empty.  A run holding fewer whole entries than
// its record's parameter_count has the count clamped (logged assertion).
bool import_map_actions(int32_t count, int32_t buffer_size, void *buffer, bool byte_swap);
// The map step: imports the mesh's stored block (a copy; the mesh keeps its own).
bool import_map_actions_from_mesh(void);
// Turns the stored tags of types 9, 11 and 12 into definition indexes (NONE
// when not found) and every type 10 value into NONE.
void preload_map_action_tags(void);
// A new block in the stored layout (big-endian; the caller frees it with
// free()), or null when memory runs out.  Compacts the array first.
void *export_map_actions(int32_t *count, int32_t *buffer_size);
// Moves every world_point2d value by (dx, dy), clamped into the mesh.
void offset_map_actions(int32_t dx, int32_t dy);
int32_t get_map_action_parameter_buffer_size(void);

// ---- accessors ---------------------------------------------------------------------

action_tag get_map_action_tag(int32_t action_index); // NONE for a free slot
void set_map_action_tag(int32_t action_index, action_tag new_tag);
int16_t get_map_action_identifier(int32_t action_index); // NONE for a free slot
void set_map_action_trigger_time(int32_t action_index, int32_t trigger_time_lower_bound, int32_t trigger_time_delta);
// The first 'name' entry of the action itself (links not followed), cut at
// its count and terminated, or "<unnamed action>".  The text lives in a small
// ring of static buffers.
const char *get_map_action_name(int32_t action_index);
bool set_map_action_name(int32_t action_index, const char *name);
map_action *get_map_action_by_identifier(int16_t identifier);

// ---- hooks ---------------------------------------------------------------------------

// The map life, tick and state-hash registrations, and the map actions'
// table (map_action_procedures.h), whole.  game/subsystems.cpp calls it.
void register_map_action_hooks(void);
// The state hash's contribution (records and the bytes in use).
void hash_map_actions(uint32_t *hash);
