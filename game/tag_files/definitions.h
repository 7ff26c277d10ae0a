#pragma once
// The definitions registry: each group of definitions (units, projectiles,
// collections, fonts, sounds...) is one `definition_globals` record that the
// owning module fills and registers at start-up.  The registry loads a
// group's tags on demand: it reads the stored record, byte-swaps it, gives a
// short record the defaults for its tail, converts an older version, loads the
// dependencies the group reports and lets the group postprocess the record.
//
// Definitions of a group live in one block of `maximum_count` records of
// `size` bytes allocated at registration, so a record never moves while the
// group is set up: dependency indexes may be written into it while other
// definitions load.  Records hold only the file layout; run-time pointers go in
// the definition's run-time side record (`runtime_size` bytes, zeroed when the
// definition is made, freed with it).
//
// Main thread only.

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

struct definition_globals;

// Dependency flags a group passes when it reports a dependency.
enum
{
    _dependency_optional_bit = 0, // a missing tag is not an error (one named but not there is logged)
    _dependency_load_eagerly_bit = 1, // accepted; every dependency is loaded at once anyway

    _dependency_optional_flag = FLAG(_dependency_optional_bit),
    _dependency_load_eagerly_flag = FLAG(_dependency_load_eagerly_bit),
};

// Per-definition flag byte (`definition_globals.flags`).
enum
{
    _definition_loading_bit = 0, // its dependencies and postprocess are running
    _definition_used_bit = 1, // the slot holds a definition
    _definition_preloaded_bit = 2, // the preloader has read the bulk data
    _definition_copy_bit = 3, // made by new_definition, not read from a tag

    _definition_loading_flag = FLAG(_definition_loading_bit),
    _definition_used_flag = FLAG(_definition_used_bit),
    _definition_preloaded_flag = FLAG(_definition_preloaded_bit),
    _definition_copy_flag = FLAG(_definition_copy_bit),
};

enum
{
    // Nested loads (a definition's dependencies, theirs, ...) deeper than this
    // are refused with code 14.
    MAXIMUM_DEFINITION_LOAD_DEPTH = 64,
    // Groups that can be registered at once.
    MAXIMUM_DEFINITION_GROUPS = 64,
    // Dependency indexes are 16-bit fields of the records.
    MAXIMUM_DEFINITIONS_PER_GROUP = 32767,
};

// Loads the dependency `dependency_tag` of group `group_tag` and writes its
// index (NONE when it cannot be loaded, or for a NONE tag) into `*index`.
typedef void (*definition_dependency_report)(tag group_tag, tag dependency_tag, int16_t *index,
                                             uint32_t dependency_flags);

// Reports each dependency of `definition` through `report`.
typedef void (*definition_dependencies_procedure)(definition_globals *group, int32_t definition_index,
                                                  int32_t tag_index, void *definition,
                                                  definition_dependency_report report);
// Makes the record usable; false refuses the tag (the slot becomes a hole).
typedef bool (*definition_postprocess_procedure)(definition_globals *group, int32_t definition_index,
                                                 int32_t tag_index, void *definition);
// Brings a record of an older stored `version` (already swapped to host order)
// up to the current layout in place; false refuses it.
typedef bool (*definition_convert_procedure)(definition_globals *group, int32_t tag_index,
                                             void *definition, int16_t version);
// Fills `definition` (`size` bytes) with the group's default record.
typedef void (*definition_default_procedure)(void *definition);
// Releases what a module keeps in a definition's side record (allocated
// arrays...) before the registry zeroes it: on delete, clear, reload and at the
// end of the map.
typedef void (*definition_release_runtime_procedure)(void *runtime);
// The user data a tool stores in a tag header for this record.
typedef uint32_t (*definition_tag_header_user_data_procedure)(const void *definition);

struct definition_globals
{
    // ---- set by the owning module before initialize_definitions
    char name[32];
    tag group;
    int16_t current_version;
    int32_t maximum_count;
    int32_t size; // bytes of one record, as stored
    int32_t runtime_size; // bytes of the run-time side record, 0 for none
    definition_dependencies_procedure dependencies; // may be null
    definition_postprocess_procedure postprocess; // may be null (always accepted)
    definition_convert_procedure convert; // null: older versions are refused
    definition_default_procedure default_definition; // null: zeros
    definition_tag_header_user_data_procedure tag_header_user_data; // may be null
    const byte_swap_code *byte_swapping_data; // null: the record is taken as stored
    definition_release_runtime_procedure release_runtime; // may be null

    // ---- kept by the registry
    void *definitions; // maximum_count records of size bytes
    uint8_t *flags; // one byte per definition
    int32_t count; // highest used index + 1; NONE while not set up for a map
    tag *subgroups; // NONE for a hole
    int32_t *tag_indexes; // the tag each definition was read from, NONE for copies
    char (*tag_names)[32];
    void *runtimes; // maximum_count side records of runtime_size bytes
    bool registered;
};

// Registers `group` once at start-up: allocates its tables and marks it not
// set up for a map (count NONE).  False, with a logged assertion, for a record
// that is malformed (no size, no room, a swap description that walks another
// size), a group registered twice, or when the registry is full; code 8 when
// memory is short.
bool initialize_definitions(definition_globals *group);

// Empties the group for the map that begins (count 0).
void initialize_definitions_for_new_map(definition_globals *group);

// Frees the group's definitions of the map that ends and marks it not set up
// (count NONE).  Side records are handed to the group's `release_runtime`
// procedure first.
void dispose_definitions_from_old_map(definition_globals *group);

// How try_definition_tag_to_index treats a tag it loads.
enum definition_lookup_flags
{
    // An already loaded definition is read again from the tag that now wins
    // (its side record goes through `release_runtime` and is zeroed first).
    _definition_lookup_reload_bit = 0,
    // A missing tag, or one the group's postprocess refuses, is not reported
    // (the caller has a fallback or reports it in its own words).
    _definition_lookup_quiet_bit = 1,

    _definition_lookup_reload_flag = FLAG(_definition_lookup_reload_bit),
    _definition_lookup_quiet_flag = FLAG(_definition_lookup_quiet_bit),
};

// The index of the group's definition read from the tag `subgroup`.  With
// `load` false only an already loaded definition is found (nothing is read,
// nothing reported); with `load` true a definition not yet loaded is loaded
// and postprocessed.  NONE when it is not there or cannot be loaded.
// A missing tag or a refused postprocess reports code 11 unless `flags` has
// _definition_lookup_quiet_flag; a version the group cannot take is code 9, a
// full group code 13, loads nested deeper than MAXIMUM_DEFINITION_LOAD_DEPTH
// code 14.  A definition that depends on itself, directly or through others,
// gets the index of its slot, which is reserved before its dependencies load.
int32_t try_definition_tag_to_index(definition_globals *group, tag subgroup, bool load, uint32_t flags);

// Reads bulk data of a definition ahead, before its dependencies and
// postprocess run (the preloader); true when it read them.
typedef bool (*definition_fetch_procedure)(definition_globals *group, int32_t tag_index, void *definition,
                                           void *runtime);

// As try_definition_tag_to_index, loading the definition when it is missing,
// except that a definition read now from its tag is first handed to `fetch`;
// when `fetch` answers true the definition carries _definition_preloaded_flag
// before its postprocess runs, so that the postprocess can skip the read.  An
// already loaded definition is returned as it is.
int32_t fetch_definition_tag_to_index(definition_globals *group, tag subgroup, definition_fetch_procedure fetch);

// The index of an already loaded definition read from `subgroup`; NONE when
// none is loaded.  Copies made by new_definition are not found by tag.
int32_t subgroup_tag_to_definition_index(definition_globals *group, tag subgroup);

// Whether `index` names a used slot of a group set up for a map.  Inline with
// the two lookups below: units, objects and shapes look their definitions up
// millions of times a game.
inline bool definition_slot_is_used(const definition_globals *group, int32_t index)
{
    return group && group->registered && group->count != NONE && index >= 0 && index < group->count &&
           (group->flags[index] & _definition_used_flag);
}

// The record at `index`, or null for a hole, an index out of range, or a group
// not set up.
inline void *try_and_get_definition(definition_globals *group, int32_t index)
{
    return definition_slot_is_used(group, index) ? (uint8_t *)group->definitions + (size_t)index * (size_t)group->size
                                                 : nullptr;
}

// The run-time side record of the definition at `index`; null when the group
// has none or the slot is empty.
inline void *get_definition_runtime(definition_globals *group, int32_t index)
{
    return definition_slot_is_used(group, index) && group->runtime_size > 0
               ? (uint8_t *)group->runtimes + (size_t)index * (size_t)group->runtime_size
               : nullptr;
}

// Adds a copy of `definition` (size bytes) with the subgroup `subgroup` in the
// lowest hole, else at the end; its side record is zeroed.  NONE when the group
// is full (code 13) or not set up.
int32_t new_definition(definition_globals *group, tag subgroup, const void *definition);

// Removes the definition at `index`: the last one shrinks the count past the
// holes below it, any other leaves a hole.  False when there was nothing to delete.
bool delete_definition(definition_globals *group, int32_t index);

// Empties one slot so that the next lookup reads the tag again; the same as
// delete_definition without a result.
void clear_definition(definition_globals *group, int32_t index);

// The subgroup tag of the definition at `index`; NONE for a hole.
tag get_definition_subgroup(definition_globals *group, int32_t index);

// The name of the tag the definition was read from; "<unknown>" when none.
const char *get_definition_name(definition_globals *group, int32_t index);

// The tag index behind a loaded definition, for further reads of its data;
// NONE for a copy or a hole.  Stale after the tag files are reopened.
int32_t get_definition_tag_header(definition_globals *group, int32_t index);

// The registered group of `group_tag`, or null.
definition_globals *get_definition_group(tag group_tag);
// Whether the group of `group_tag` is registered and set up (its store
// exists), so that lookups in it may be made.
bool definition_group_is_set_up(tag group_tag);

// Forgets every registered group (their tables are freed).  Tests and shut-down.
void dispose_definitions(void);
