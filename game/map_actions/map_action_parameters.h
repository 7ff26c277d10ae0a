#pragma once
// Searching and editing the parameters of map actions, the identifier lists
// and the script trace.
//
// A search walks the action's own entries, then the entries of every action
// its 'link' entries name, breadth-first (a stack of 64 actions); a handle
// (map_action_parameter) names one entry by action and position.  Every edit
// may move any action's run to the end of the shared buffer: hold handles
// and indexes across an edit, never addresses into the buffer, and copy data
// out of the buffer before resizing (the editors copy what they are given
// before they move anything, so passing an address into the buffer is safe).
//
// Main thread only, inside the game tick.

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "map_actions.h"
#include "world.h"

struct rgb_color;

// A rectangle parameter: its minimum corner, then its maximum corner.
struct world_rectangle2d
{
    world_point2d minimum, maximum;
};
static_assert(sizeof(world_rectangle2d) == 16);

enum
{
    MAXIMUM_FIND_MAP_ACTION_PARAMETER_STACK_SIZE = 64,
};

enum find_map_action_parameter_flags : uint32_t
{
    _dont_resolve_links_flag = 1,
    _return_empty_arrays_flag = 2,
    _only_return_one_element_arrays_flag = 4,
};

struct find_map_action_parameter_stack_entry
{
    int16_t action_index;
    int16_t parameter_index; // the next entry to look at
};

struct find_map_action_parameter_state
{
    uint32_t flags;
    field_tag field_name_filter; // NONE: every name
    int16_t type_filter; // NONE: every type
    int16_t stack_index;
    int16_t stack_size;
    find_map_action_parameter_stack_entry stack[MAXIMUM_FIND_MAP_ACTION_PARAMETER_STACK_SIZE];
};

// Forgets every index of entries and where identifiers were found (a new
// map, a new block, records moved to other slots).
void reset_map_action_parameter_cache(void);

// ---- search -----------------------------------------------------------------------

void new_find_map_action_parameter_state(find_map_action_parameter_state *state, int32_t action_index,
                                         uint32_t flags, field_tag field_name_filter, int16_t type_filter);
// The next matching entry into `result` (may be null); false when none is left.
bool find_next_map_action_parameter(find_map_action_parameter_state *state, map_action_parameter *result);
// The first matching entry of the action (through the index of its entries);
// `result` may be null to test presence.  Flag parameters are found with
// _return_empty_arrays_flag.
bool get_map_action_parameter(map_action_parameter *result, int32_t action_index, uint32_t flags,
                              field_tag field_name, int16_t type);
// The entries the engine looks for on every trigger, one bit each in an
// action's summary: the lists it runs (action identifiers with at least one
// value), 'link' (the same) and 'debg' (a flag, empty or not).
struct map_action_summary_name
{
    field_tag field_name;
    int16_t type;
    bool empty_too;
};
inline constexpr map_action_summary_name map_action_summary_names[] = {
    {_map_action_field_name_activate_on_activation, _parameter_action_identifier, false},
    {_map_action_field_name_deactivate_on_activation, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_deactivation, _parameter_action_identifier, false},
    {_map_action_field_name_deactivate_on_deactivation, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_trigger, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_execution, _parameter_action_identifier, false},
    {_map_action_field_name_trigger_simultaneously, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_success, _parameter_action_identifier, false},
    {_map_action_field_name_deactivate_on_success, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_failure, _parameter_action_identifier, false},
    {_map_action_field_name_deactivate_on_failure, _parameter_action_identifier, false},
    {_map_action_field_name_activate_on_error, _parameter_action_identifier, false},
    {_map_action_field_name_deactivate_on_error, _parameter_action_identifier, false},
    {_map_action_field_name_activate_when_inhibited, _parameter_action_identifier, false},
    {_map_action_field_name_activate_when_missing_prerequisites, _parameter_action_identifier, false},
    {_map_action_field_name_prerequisites, _parameter_action_identifier, false},
    {_map_action_field_name_inhibitors, _parameter_action_identifier, false},
    {_map_action_field_name_link, _parameter_action_identifier, false},
    {_map_action_field_name_debug, _parameter_flag, true},
};
// The summary bit of a name of that table (0 for any other name).
constexpr uint32_t map_action_summary_bit(field_tag field_name)
{
    for (uint32_t i = 0; i < sizeof(map_action_summary_names) / sizeof(map_action_summary_names[0]); i++)
        if (map_action_summary_names[i].field_name == field_name) return 1u << i;
    return 0;
}
// Which of those entries the action itself holds (links not followed, read
// up to a damaged entry); 0 for a free slot.  Kept with the action's index
// of entries, and the last answer is kept again while no entry anywhere
// changes: the engine asks before each list and trace of one trigger.
struct map_action_summary_memo
{
    int32_t action_index; // NONE: nothing kept
    uint32_t layout_changes; // the module's count of changes it holds for
    uint32_t summary;
    const uint32_t *layout_changes_now;
};
extern map_action_summary_memo map_action_last_summary;
uint32_t look_up_map_action_own_entry_summary(int32_t action_index);
inline uint32_t get_map_action_own_entry_summary(int32_t action_index)
{
    const map_action_summary_memo &memo = map_action_last_summary;
    if (memo.action_index == action_index && *memo.layout_changes_now == memo.layout_changes) return memo.summary;
    return look_up_map_action_own_entry_summary(action_index);
}

// The first entry of the name among the action's own entries, of any type
// and empty ones too (get_map_action_parameter with _dont_resolve_links_flag
// | _return_empty_arrays_flag and type NONE), and the address of its values,
// valid until the buffer next changes; null when there is none.
const void *find_own_map_action_parameter(map_action_parameter *result, int32_t action_index, field_tag field_name);

// Concatenates the values of every matching entry with values (links
// followed) into `data`, at most `maximum_count` values; the number copied.
int32_t get_combined_map_action_parameter(int32_t action_index, field_tag field_name, int16_t type, void *data,
                                          int32_t maximum_count);
// The address of the entry's first value; valid until the buffer next changes.
// Null (with an assertion) when the handle no longer matches its entry.
void *extract_parameter_array_address(const map_action_parameter *parameter);
// Copies `count` values (at most the entry's count) of the entry into `data`;
// the number copied.
int32_t copy_map_action_parameter_values(const map_action_parameter *parameter, void *data, int32_t count);
bool build_map_action_parameter(map_action_parameter *result, int32_t action_index, int32_t parameter_index);
// The stored header, or null for an index outside the action.
const map_action_parameter_header *get_map_action_parameter_header(int32_t action_index, int32_t parameter_index);

// ---- typed getters: false when absent, empty or the index is outside the values

bool get_indexed_long_integer_parameter(int32_t action_index, field_tag field_name, int16_t type, int32_t *out,
                                        int32_t index);
bool get_indexed_short_integer_parameter(int32_t action_index, field_tag field_name, int16_t type, int16_t *out,
                                         int32_t index);
bool get_indexed_byte_parameter(int32_t action_index, field_tag field_name, int16_t type, uint8_t *out,
                                int32_t index);
bool get_indexed_world_point2d_parameter(int32_t action_index, field_tag field_name, world_point2d *out,
                                         int32_t index);
bool get_indexed_world_point3d_parameter(int32_t action_index, field_tag field_name, world_point3d *out,
                                         int32_t index);
bool get_indexed_world_rectangle2d_parameter(int32_t action_index, field_tag field_name, world_rectangle2d *out,
                                             int32_t index);
bool get_indexed_color_parameter(int32_t action_index, field_tag field_name, rgb_color *out, int32_t index);
// Copies the entry's bytes (type 1, links not followed) when it holds exactly `size`.
bool get_map_action_structure(int32_t action_index, field_tag field_name, int32_t size, void *buffer);

// ---- resolved reads ----------------------------------------------------------------
//
// A procedure that reads many names of its action asks for them together:
// one look at the action's index of entries answers every request, and each
// read then goes straight to its entry instead of searching.  An answer is
// the first match get_map_action_parameter gives for the same name, type
// and flags; it holds until any entry is next edited (or moved), and a read
// after that looks its request up afresh, so a stale answer is never used.

enum
{
    MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS = 64,
    MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS = 8,
};

struct map_action_parameter_request
{
    field_tag field_name;
    int16_t type; // NONE: any type (not for values)
    uint32_t flags; // as get_map_action_parameter's; 0 for the values of the typed getters
};

// A procedure's requests, prepared once: which requests each entry's name
// may answer, so that resolving walks the action's few entries rather than
// looking up every request.  Most names hash to a bucket of their own: one
// look at the bucket's first request answers for the entry.
struct map_action_parameter_request_set
{
    const map_action_parameter_request *requests; // the caller's, kept while the set is used
    int32_t count;
    uint64_t own_only; // the requests that never follow links
    uint64_t any_name; // the requests without a name
    int8_t value_sizes[MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS]; // 0: the request answers for no values
    // Per bucket of names: its first request (NONE for none) and that
    // request's name; the requests after the first in a bucket, by bucket.
    int8_t first_of_bucket[1 << MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS];
    field_tag first_names[1 << MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS];
    uint64_t shared_buckets[(1 << MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS) / 64]; // buckets of more than one
    uint64_t by_name_hash[1 << MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS]; // requests whose name hashes to each bucket
};
void prepare_map_action_parameter_requests(map_action_parameter_request_set *set,
                                           const map_action_parameter_request *requests, int32_t count);

struct resolved_map_action_parameters
{
    int32_t action_index;
    const map_action_parameter_request_set *set;
    uint32_t layout_changes; // the entries the answers hold for (every index forgotten counts too)
    const uint32_t *layout_changes_now; // the module's, to compare with
    const uint8_t *parameter_buffer;
    uint64_t found; // one bit per request
    map_action_parameter handles[MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS];
    int32_t offsets[MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS]; // of each entry found, in the buffer
};

void resolve_map_action_parameters(resolved_map_action_parameters *resolved, int32_t action_index,
                                   const map_action_parameter_request_set *set);
// The answers as the lookups would give them now (no request looked up afresh).
inline bool resolved_map_action_parameters_current(const resolved_map_action_parameters *resolved)
{
    return *resolved->layout_changes_now == resolved->layout_changes;
}

// The same, answering from the lookups (any request, the answers stale or not).
bool look_up_resolved_map_action_parameter(const resolved_map_action_parameters *resolved, int32_t request,
                                           map_action_parameter *result);
bool look_up_resolved_indexed_value(const resolved_map_action_parameters *resolved, int32_t request, int32_t index,
                                    void *out, int32_t out_size);

// get_map_action_parameter for request `request`; `result` may be null.
// Inline: a procedure reads many of its answers on every run.
inline bool get_resolved_map_action_parameter(const resolved_map_action_parameters *resolved, int32_t request,
                                              map_action_parameter *result)
{
    if (request < 0 || request >= resolved->set->count || !resolved_map_action_parameters_current(resolved))
        return look_up_resolved_map_action_parameter(resolved, request, result);
    if (!((resolved->found >> request) & 1)) return false;
    if (result) *result = resolved->handles[request];
    return true;
}

// The typed getters' answer for request `request` (flags 0): value `index`
// of the entry into `out`, false when it is absent or has no such value.
// T is the type of one value (int32_t for 4 bytes, int16_t for 2, ...).
template <typename T>
inline bool get_resolved_indexed_value(const resolved_map_action_parameters *resolved, int32_t request, int32_t index,
                                       T *out)
{
    if (request < 0 || request >= resolved->set->count || !resolved_map_action_parameters_current(resolved) ||
        resolved->set->value_sizes[request] != (int32_t)sizeof(T))
        return look_up_resolved_indexed_value(resolved, request, index, out, (int32_t)sizeof(T));
    if (!((resolved->found >> request) & 1)) return false;
    const int32_t offset = resolved->offsets[request];
    if (index < 0 || index >= resolved->handles[request].count || offset == NONE) return false;
    memcpy(out, resolved->parameter_buffer + offset + MAP_ACTION_PARAMETER_HEADER_SIZE + (int64_t)index * sizeof(T),
           sizeof(T));
    return true;
}

// ---- editors: each change increments map_actions_state ----------------------------

// Resizes the action's run, which moves to the end of the buffer (see the
// stored layout below); false (nothing changed) when the buffer would reach
// PARAMETER_BUFFER_SIZE or the run would pass MAXIMUM_MAP_ACTION_RUN_SIZE.
bool adjust_map_action_parameters_size(int32_t action_index, int32_t new_parameters_size);
// Resizes one entry to `new_count` values, or removes it for NONE.
bool adjust_map_action_parameter_size(int32_t action_index, int32_t parameter_index, int32_t new_count);
bool new_map_action_parameter(map_action_parameter *result, int32_t action_index, field_tag field_name,
                              int16_t type);
bool set_map_action_parameter(map_action_parameter *parameter, int32_t new_count, const void *data);
bool append_to_map_action_parameter(map_action_parameter *parameter, int32_t appended_count, const void *data);
bool copy_map_action_parameter(const map_action_parameter *source, map_action_parameter *destination);
void delete_map_action_parameter(map_action_parameter *parameter);
bool set_unique_map_action_parameter(int32_t action_index, field_tag field_name, int16_t type, int32_t count,
                                     const void *data);
// One entry for set_unique_map_action_parameters.
struct map_action_parameter_value
{
    field_tag field_name;
    int16_t type;
    int32_t count;
    const void *data;
};
// set_unique_map_action_parameter for each value in turn (the same bytes,
// offsets and answers); false when any of them failed.  Values that each
// replace one entry of their size move the action's entries once.
bool set_unique_map_action_parameters(int32_t action_index, const map_action_parameter_value *values, int32_t count);
void set_map_action_parameter_type(map_action_parameter *parameter, int16_t type);
void set_map_action_parameter_field_name(map_action_parameter *parameter, field_tag field_name);
// A new action (tag NONE, no entries), or a copy of the parent's record and
// entries; NONE when the array is full.
int32_t new_map_action(int32_t parent_action_index);
// Traces "deleted", empties the run, clears the counts and run-time flags and
// frees the slot.  A free slot is left alone.
void delete_map_action(int32_t action_index);

// ---- the stored layout --------------------------------------------------------------
//
// Between begin and end (which nest; the engine brackets each script pass)
// an edit writes the run it moves after the last byte written and leaves the
// old run behind, so the records hold where runs lie in memory and the
// buffer holds dead runs.  The last end, or settle, puts both into the
// stored layout: the bytes and offsets that moving each edited run to the
// end of the buffer, one edit at a time, gives.  Outside a pass every edit
// settles at once.  Only this module reads the records' offsets or the
// buffer while a pass is open; the hash and the export settle first.

void begin_map_action_parameter_edits(void);
void end_map_action_parameter_edits(void);
void settle_map_action_parameters(void);
// The stored layout without settling: PARAMETER_BUFFER_SIZE bytes into
// `buffer`, and for each slot of the array its stored offset (NONE for a
// free slot) into `offsets`.
void copy_settled_map_action_parameters(uint8_t *buffer, int32_t *offsets);

// Test seams; each returns the previous setting.  Settling after every edit
// inside a pass too; and calls around every resize of a run that passed its
// checks (`before` ahead of any change, `after` once the run is resized).
bool set_map_action_parameters_settled_every_edit(bool every_edit);
struct map_action_run_resize_observer
{
    void (*before)(int32_t action_index, int32_t new_parameters_size);
    void (*after)(int32_t action_index, int32_t new_parameters_size);
};
const map_action_run_resize_observer *set_map_action_run_resize_observer(const map_action_run_resize_observer *observer);
// Every lookup answers from an index of each action's entries (local, never
// hashed, kept by every edit made here).  While a lookup observer is set,
// each lookup through the index (a search step, a first match, an entry's
// place, an action's summary) is made again by walking the stored entries,
// and `compared` gets the action and null when both agree, or what differed.
struct map_action_lookup_observer
{
    void (*compared)(int32_t action_index, const char *difference);
};
const map_action_lookup_observer *set_map_action_lookup_observer(const map_action_lookup_observer *observer);

// ---- identifier lists -------------------------------------------------------------------

int32_t action_identifier_to_action_index(int32_t identifier);
typedef void (*map_action_function)(int32_t action_index);
void call_function_with_action_identifiers(map_action_function function, const int16_t *identifiers, int32_t count);
bool call_functions_with_actions_in_parameter(map_action_function function, int32_t action_index,
                                              field_tag field_name);
bool test_actions_for_success(const int16_t *identifiers, int32_t count, bool all);

// ---- trace ---------------------------------------------------------------------------------

enum map_action_debug_status
{
    _map_action_debug_on = 0,
    _map_action_debug_off,
    _map_action_debug_toggle,
};

void map_action_debug(int32_t action_index, const char *format, ...) __attribute__((format(printf, 2, 3)));
void map_action_error(int32_t action_index, const char *format, ...) __attribute__((format(printf, 2, 3)));
void map_action_debug_varargs(int32_t action_index, bool error, const char *format, va_list arguments);
void set_map_action_debug_status(int32_t new_status);
// True when map_action_debug would write a line for the action.  Most
// actions are traced neither alone nor with every action: their summary,
// at hand while the engine triggers them, says so without a search.
bool map_action_debug_wanted(int32_t action_index);
inline bool map_action_debug_enabled(int32_t action_index)
{
    constexpr uint32_t mask =
        map_action_summary_bit(_map_action_field_name_debug) | map_action_summary_bit(_map_action_field_name_link);
    if (!get_map_action_globals()->debug && (action_index == NONE || !(get_map_action_own_entry_summary(action_index) & mask)))
        return false;
    return map_action_debug_wanted(action_index);
}
