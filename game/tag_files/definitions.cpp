// The definitions registry.  See definitions.h for the contract.

#include "tag_files/definitions.h"

#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "tag_files/tag_files.h"

static struct definitions_globals
{
    definition_globals *groups[MAXIMUM_DEFINITION_GROUPS];
    int32_t group_count;
    int32_t load_depth; // loads in progress, outermost first
    // The definition whose dependencies are being reported (innermost load).
    const definition_globals *reporting_group;
    tag reporting_subgroup;
} definitions_globals;

// ---- slots ------------------------------------------------------------------

static bool group_is_set_up(const definition_globals *group)
{
    return group && group->registered && group->count != NONE;
}

bool definition_group_is_set_up(tag group_tag) { return group_is_set_up(get_definition_group(group_tag)); }

static bool slot_is_used(const definition_globals *group, int32_t index)
{
    return definition_slot_is_used(group, index);
}

static void *slot_record(definition_globals *group, int32_t index)
{
    return (uint8_t *)group->definitions + (size_t)index * (size_t)group->size;
}

static void *slot_runtime(definition_globals *group, int32_t index)
{
    return group->runtime_size > 0 ? (uint8_t *)group->runtimes + (size_t)index * (size_t)group->runtime_size
                                   : nullptr;
}

// Gives the module back what it kept in a slot's side record, then zeroes it.
static void release_runtime(definition_globals *group, int32_t index)
{
    if (group->runtime_size <= 0) return;
    if (group->release_runtime && group->flags[index] != 0) group->release_runtime(slot_runtime(group, index));
    memset(slot_runtime(group, index), 0, (size_t)group->runtime_size);
}

static void empty_slot(definition_globals *group, int32_t index)
{
    memset(slot_record(group, index), 0, (size_t)group->size);
    release_runtime(group, index);
    group->flags[index] = 0;
    group->subgroups[index] = NONE;
    group->tag_indexes[index] = NONE;
    group->tag_names[index][0] = 0;
}

// Empties a slot and lowers the count past the holes it leaves at the end.
static void release_slot(definition_globals *group, int32_t index)
{
    empty_slot(group, index);
    while (group->count > 0 && !(group->flags[group->count - 1] & _definition_used_flag)) group->count -= 1;
}

// The lowest hole, else the slot after the last; NONE when the group is full.
static int32_t find_free_slot(const definition_globals *group)
{
    for (int32_t index = 0; index < group->count; ++index)
    {
        if (!(group->flags[index] & _definition_used_flag)) return index;
    }
    return group->count < group->maximum_count ? group->count : NONE;
}

// Marks a free slot used; the count grows to cover it.
static void claim_slot(definition_globals *group, int32_t index, tag subgroup, uint8_t flags)
{
    group->flags[index] = (uint8_t)(_definition_used_flag | flags);
    group->subgroups[index] = subgroup;
    if (index >= group->count) group->count = index + 1;
}

// ---- registration -------------------------------------------------------------

definition_globals *get_definition_group(tag group_tag)
{
    for (int32_t i = 0; i < definitions_globals.group_count; ++i)
    {
        if (definitions_globals.groups[i]->group == group_tag) return definitions_globals.groups[i];
    }
    return nullptr;
}

bool initialize_definitions(definition_globals *group)
{
    if (!VASSERT(group, "no definition group")) return false;
    if (!VASSERT(!group->registered, group->name)) return false;
    if (!VASSERT(group->size > 0 && group->maximum_count > 0 &&
                     group->maximum_count <= MAXIMUM_DEFINITIONS_PER_GROUP && group->runtime_size >= 0,
                 group->name))
        return false;
    if (group->byte_swapping_data &&
        !VASSERT(byte_swap_description_size(group->byte_swapping_data) == group->size, group->name))
        return false;
    if (!VASSERT(!get_definition_group(group->group), group->name)) return false;
    if (!VASSERT(definitions_globals.group_count < MAXIMUM_DEFINITION_GROUPS, "too many definition groups"))
        return false;

    const size_t count = (size_t)group->maximum_count;
    group->definitions = calloc(count, (size_t)group->size);
    group->flags = (uint8_t *)calloc(count, 1);
    group->subgroups = (tag *)calloc(count, sizeof(tag));
    group->tag_indexes = (int32_t *)calloc(count, sizeof(int32_t));
    group->tag_names = (char(*)[32])calloc(count, 32);
    group->runtimes = group->runtime_size > 0 ? calloc(count, (size_t)group->runtime_size) : nullptr;
    if (!group->definitions || !group->flags || !group->subgroups || !group->tag_indexes || !group->tag_names ||
        (group->runtime_size > 0 && !group->runtimes))
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d %s definitions", (int)group->maximum_count,
                      group->name);
        return false;
    }
    for (size_t i = 0; i < count; ++i)
    {
        group->subgroups[i] = NONE;
        group->tag_indexes[i] = NONE;
    }
    group->count = NONE;
    group->registered = true;
    definitions_globals.groups[definitions_globals.group_count++] = group;
    return true;
}

void initialize_definitions_for_new_map(definition_globals *group)
{
    if (!VASSERT(group && group->registered, "definition group not registered")) return;
    group->count = group->maximum_count; // so that every slot is emptied
    for (int32_t index = 0; index < group->maximum_count; ++index) empty_slot(group, index);
    group->count = 0;
}

void dispose_definitions_from_old_map(definition_globals *group)
{
    if (!VASSERT(group && group->registered, "definition group not registered")) return;
    initialize_definitions_for_new_map(group);
    group->count = NONE;
}

void dispose_definitions(void)
{
    for (int32_t i = 0; i < definitions_globals.group_count; ++i)
    {
        definition_globals *group = definitions_globals.groups[i];
        for (int32_t index = 0; group->flags && index < group->maximum_count; ++index) release_runtime(group, index);
        free(group->definitions);
        free(group->flags);
        free(group->subgroups);
        free(group->tag_indexes);
        free(group->tag_names);
        free(group->runtimes);
        group->definitions = nullptr;
        group->flags = nullptr;
        group->subgroups = nullptr;
        group->tag_indexes = nullptr;
        group->tag_names = nullptr;
        group->runtimes = nullptr;
        group->count = NONE;
        group->registered = false;
    }
    memset(&definitions_globals, 0, sizeof(definitions_globals));
}

// ---- loading ------------------------------------------------------------------

static void report_dependency(tag group_tag, tag dependency_tag, int16_t *index, uint32_t dependency_flags)
{
    if (!index) return;
    *index = NONE;
    if (dependency_tag == NONE) return;
    definition_globals *group = get_definition_group(group_tag);
    if (!VASSERT(group, "dependency on a group that is not registered")) return;
    const bool optional = (dependency_flags & _dependency_optional_flag) != 0;
    *index = (int16_t)try_definition_tag_to_index(group, dependency_tag, true,
                                                  optional ? (uint32_t)_definition_lookup_quiet_flag : 0u);
    // An optional dependency may be absent (none named), but one that is
    // named and not there is a fault of the data: said once for this load,
    // naming the definition that names it, and the definition goes on
    // without it.
    const definition_globals *parent = definitions_globals.reporting_group;
    if (optional && *index == NONE && dependency_tag != 0 && parent)
        log_message(__FILE__, __LINE__, "%s definition '%s' names the %s '%s', which is missing", parent->name,
                    tag_to_string(definitions_globals.reporting_subgroup), group->name, tag_to_string(dependency_tag));
}

// Reads the tag into the free (or reloading) slot `index`: the stored record,
// swapped, with the defaults past a short record, converted when older.
// False (the slot untouched apart from its record bytes) when it cannot be taken.
static bool read_definition(definition_globals *group, int32_t index, tag subgroup, int32_t tag_index,
                            bool error_if_not_found)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info))
    {
        if (error_if_not_found)
            ERROR_MESSAGE(_error_data_missing, "%s definition '%s' cannot be opened", group->name,
                          tag_to_string(subgroup));
        return false;
    }
    if (info.version > group->current_version)
    {
        ERROR_MESSAGE(_error_data_version_mismatch, "%s definition '%s' (%s) has version %d, newer than %d",
                      group->name, tag_to_string(subgroup), info.name, (int)info.version,
                      (int)group->current_version);
        return false;
    }

    uint8_t *record = (uint8_t *)slot_record(group, index);
    memset(record, 0, (size_t)group->size);
    const int32_t stored = info.size < 0 ? 0 : (info.size < group->size ? info.size : group->size);
    if (stored > 0 && !tag_file_read_ahead(tag_index, 0, stored, record))
    {
        if (error_if_not_found)
            ERROR_MESSAGE(_error_data_missing, "%s definition '%s' (%s) cannot be read", group->name,
                          tag_to_string(subgroup), info.name);
        return false;
    }
    if (group->byte_swapping_data &&
        !byte_swap_data(group->name, record, group->size, 1, group->byte_swapping_data))
        return false;
    if (stored < group->size)
    {
        // The tail gets the defaults in host order; swapping them would corrupt them.
        uint8_t *defaults = (uint8_t *)calloc(1, (size_t)group->size);
        if (!defaults)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for a %s definition",
                          (int)group->size, group->name);
            return false;
        }
        if (group->default_definition) group->default_definition(defaults);
        memcpy(record + stored, defaults + stored, (size_t)(group->size - stored));
        free(defaults);
    }
    if (info.version < group->current_version &&
        !(group->convert && group->convert(group, tag_index, record, info.version)))
    {
        ERROR_MESSAGE(_error_data_version_mismatch, "%s definition '%s' (%s) has version %d, which cannot become %d",
                      group->name, tag_to_string(subgroup), info.name, (int)info.version,
                      (int)group->current_version);
        return false;
    }
    strlcpy(group->tag_names[index], info.name, sizeof(group->tag_names[index]));
    group->tag_indexes[index] = tag_index;
    return true;
}

// The definition fetch_definition_tag_to_index is loading, met by
// try_definition_tag_to_index once the record is read.
static struct
{
    definition_globals *group;
    tag subgroup;
    definition_fetch_procedure procedure;
} pending_fetch;

int32_t try_definition_tag_to_index(definition_globals *group, tag subgroup, bool load, uint32_t flags)
{
    if (!VASSERT(group_is_set_up(group), group ? group->name : "no definition group")) return NONE;
    if (!load) return subgroup == NONE ? NONE : subgroup_tag_to_definition_index(group, subgroup);
    const bool error_if_not_found = (flags & _definition_lookup_quiet_flag) == 0;
    const bool reload = (flags & _definition_lookup_reload_flag) != 0;
    if (subgroup == NONE)
    {
        if (error_if_not_found) ERROR_MESSAGE(_error_data_missing, "%s definition of no tag", group->name);
        return NONE;
    }

    int32_t index = subgroup_tag_to_definition_index(group, subgroup);
    if (index != NONE && (!reload || (group->flags[index] & _definition_loading_flag))) return index;

    if (definitions_globals.load_depth >= MAXIMUM_DEFINITION_LOAD_DEPTH)
    {
        ERROR_MESSAGE(_error_fatal_recursion, "%s definition '%s' is nested more than %d definitions deep",
                      group->name, tag_to_string(subgroup), (int)MAXIMUM_DEFINITION_LOAD_DEPTH);
        return NONE;
    }

    const int32_t tag_index = tag_file_open(group->group, subgroup);
    if (tag_index == NONE)
    {
        if (index != NONE) release_slot(group, index);
        if (error_if_not_found)
            ERROR_MESSAGE(_error_data_missing, "%s definition '%s' is missing", group->name, tag_to_string(subgroup));
        return NONE;
    }

    if (index == NONE)
    {
        index = find_free_slot(group);
        if (index == NONE)
        {
            ERROR_MESSAGE(_error_array_full, "no room for the %s definition '%s' (at most %d)", group->name,
                          tag_to_string(subgroup), (int)group->maximum_count);
            return NONE;
        }
    }
    else
    {
        // A reload starts from an empty slot at the same index.
        empty_slot(group, index);
        claim_slot(group, index, NONE, 0);
    }

    if (!read_definition(group, index, subgroup, tag_index, error_if_not_found))
    {
        release_slot(group, index);
        return NONE;
    }

    // Reserved before the dependencies load, so that a reference back to this
    // definition, direct or through others, finds this slot.
    release_runtime(group, index);
    claim_slot(group, index, subgroup, _definition_loading_flag);

    void *record = slot_record(group, index);
    if (pending_fetch.procedure && pending_fetch.group == group && pending_fetch.subgroup == subgroup)
    {
        const definition_fetch_procedure fetch = pending_fetch.procedure;
        pending_fetch.procedure = nullptr; // only the definition asked for, never its dependencies
        if (fetch(group, tag_index, record, slot_runtime(group, index)))
            group->flags[index] |= _definition_preloaded_flag;
    }

    definitions_globals.load_depth += 1;
    const definition_globals *outer_group = definitions_globals.reporting_group;
    const tag outer_subgroup = definitions_globals.reporting_subgroup;
    definitions_globals.reporting_group = group, definitions_globals.reporting_subgroup = subgroup;
    if (group->dependencies) group->dependencies(group, index, tag_index, record, report_dependency);
    definitions_globals.reporting_group = outer_group, definitions_globals.reporting_subgroup = outer_subgroup;
    const bool accepted = !group->postprocess || group->postprocess(group, index, tag_index, record);
    definitions_globals.load_depth -= 1;

    if (!accepted)
    {
        char name[32];
        strlcpy(name, group->tag_names[index], sizeof(name));
        release_slot(group, index);
        if (error_if_not_found)
            ERROR_MESSAGE(_error_data_missing, "%s definition '%s' (%s) could not be used", group->name,
                          tag_to_string(subgroup), name);
        return NONE;
    }
    group->flags[index] &= (uint8_t)~_definition_loading_flag;
    return index;
}

int32_t fetch_definition_tag_to_index(definition_globals *group, tag subgroup, definition_fetch_procedure fetch)
{
    pending_fetch.group = group;
    pending_fetch.subgroup = subgroup;
    pending_fetch.procedure = fetch;
    const int32_t index = try_definition_tag_to_index(group, subgroup, true, 0);
    pending_fetch.procedure = nullptr;
    return index;
}

// ---- lookups and edits ------------------------------------------------------------

int32_t subgroup_tag_to_definition_index(definition_globals *group, tag subgroup)
{
    if (!group_is_set_up(group) || subgroup == NONE) return NONE;
    for (int32_t index = 0; index < group->count; ++index)
    {
        if ((group->flags[index] & (_definition_used_flag | _definition_copy_flag)) == _definition_used_flag &&
            group->subgroups[index] == subgroup)
            return index;
    }
    return NONE;
}

int32_t new_definition(definition_globals *group, tag subgroup, const void *definition)
{
    if (!VASSERT(group_is_set_up(group), group ? group->name : "no definition group")) return NONE;
    if (!VASSERT(definition, "no definition to copy")) return NONE;
    const int32_t index = find_free_slot(group);
    if (index == NONE)
    {
        ERROR_MESSAGE(_error_array_full, "no room for a copy of the %s definition '%s' (at most %d)", group->name,
                      tag_to_string(subgroup), (int)group->maximum_count);
        return NONE;
    }
    empty_slot(group, index);
    memmove(slot_record(group, index), definition, (size_t)group->size);
    claim_slot(group, index, subgroup, _definition_copy_flag);
    return index;
}

bool delete_definition(definition_globals *group, int32_t index)
{
    if (!slot_is_used(group, index)) return false;
    release_slot(group, index);
    return true;
}

void clear_definition(definition_globals *group, int32_t index)
{
    delete_definition(group, index);
}

tag get_definition_subgroup(definition_globals *group, int32_t index)
{
    return slot_is_used(group, index) ? group->subgroups[index] : NONE;
}

const char *get_definition_name(definition_globals *group, int32_t index)
{
    if (!slot_is_used(group, index) || !group->tag_names[index][0]) return "<unknown>";
    return group->tag_names[index];
}

int32_t get_definition_tag_header(definition_globals *group, int32_t index)
{
    return slot_is_used(group, index) ? group->tag_indexes[index] : NONE;
}
