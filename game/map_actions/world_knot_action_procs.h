#pragma once
// Unit indicators ('uind', local) and world knots exchanging waves of units ('knot').
//
// 'uind' and the overhead-text step of 'ctrl' hand one line of text per unit
// to the interface's overhead texts through the registration points below;
// the unit remembers its text in `current_overhead_text_index`, a local field.
//
// A world knot is a ring of models.  A receiving knot brings in waves of
// units (the units of a wave container action's 'subj') each time its area is
// clear; a pair of partner knots swap the units standing inside them.  Each
// knot keeps its record in its action's '#glo' entry (host order, 260 bytes);
// a partner's record is read and written through the partner's action.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "map_actions.h"
#include "rgb_color.h"
#include "world.h"

enum
{
    MAXIMUM_OVERHEAD_TEXT_PER_MAP = 64,
    MAXIMUM_MODELS_PER_WORLD_KNOT = 5,
    MAXIMUM_WAVES_PER_KNOT = 16,
    MAXIMUM_MONSTERS_PER_WORLD_KNOT = 32,
};

// ---- overhead text ----------------------------------------------------------------

// The request handed to the interface's `new_overhead_text`: every field but
// the identifier is copied into the new text.
struct overhead_text_data
{
    int16_t identifier;
    int16_t monster_index;
    int32_t string_list_index;
    int32_t string_index;
    int32_t font_index;
    int32_t style;
    rgb_color color;
    uint32_t text_flags;
    int32_t timer; // ticks
};
static_assert(sizeof(overhead_text_data) == 36);
static_assert(offsetof(overhead_text_data, string_list_index) == 4);
static_assert(offsetof(overhead_text_data, color) == 20);
static_assert(offsetof(overhead_text_data, timer) == 32);

enum
{
    _overhead_text_default_flags = 1,
    _overhead_text_shadow_flag = 32,
    DEFAULT_OVERHEAD_TEXT_TIMER = 300,
};

uint32_t unit_indicators_action_proc(int32_t action_index);

// Gives each of the `count` units one text built from the action's 'otxt',
// 'otsi', 'otft', 'otim', 'otcl' and 'otsh'; the unit's previous text is
// deleted first.  Nothing without 'otxt'; an unknown list is traced.  Changes
// nothing the simulation reads.
void overhead_text_action_proc(int32_t action_index, const int16_t *monster_indexes, int32_t count);

// ---- world knots ------------------------------------------------------------------

enum world_knot_state : int16_t
{
    _state_idle = 0,
    _state_teleporting_in = 1,
    _state_teleporting_out = 2,
};

struct wave_data
{
    int16_t container_index; // the action whose 'subj' lists the wave's units, NONE
    int16_t activation_index; // activated when the wave arrives, NONE
    int16_t remote_knot_index; // the knot the wave goes to, NONE
};
static_assert(sizeof(wave_data) == 6);

// The knot's run-time record ('#glo').  Booleans are 4 bytes wide.
struct world_knot_globals
{
    int16_t state; // world_knot_state
    int16_t action_index;
    world_point2d center;
    world_distance radius;
    int32_t teleporting_out;
    int32_t ticks_at_last_transition_state;
    int32_t duration; // ticks
    int32_t model_count;
    int16_t model_indexes[MAXIMUM_MODELS_PER_WORLD_KNOT];
    int16_t initial_model_permutation[MAXIMUM_MODELS_PER_WORLD_KNOT];
    int16_t teleport_in_action_index;
    wave_data waves[MAXIMUM_WAVES_PER_KNOT]; // incoming queue, entry 0 the head
    int16_t wave_container_count;
    wave_data free_waves[MAXIMUM_WAVES_PER_KNOT];
    int16_t free_wave_container_count;
    int16_t next_world_knot_index; // the partner's action, NONE
    int32_t use_bounding_box_for_knot_center;
    int32_t use_bounding_box_for_wave_center;
};
static_assert(sizeof(world_knot_globals) == 260);
static_assert(offsetof(world_knot_globals, center) == 4);
static_assert(offsetof(world_knot_globals, radius) == 12);
static_assert(offsetof(world_knot_globals, teleporting_out) == 16);
static_assert(offsetof(world_knot_globals, ticks_at_last_transition_state) == 20);
static_assert(offsetof(world_knot_globals, duration) == 24);
static_assert(offsetof(world_knot_globals, model_count) == 28);
static_assert(offsetof(world_knot_globals, model_indexes) == 32);
static_assert(offsetof(world_knot_globals, initial_model_permutation) == 42);
static_assert(offsetof(world_knot_globals, teleport_in_action_index) == 52);
static_assert(offsetof(world_knot_globals, waves) == 54);
static_assert(offsetof(world_knot_globals, wave_container_count) == 150);
static_assert(offsetof(world_knot_globals, free_waves) == 152);
static_assert(offsetof(world_knot_globals, free_wave_container_count) == 248);
static_assert(offsetof(world_knot_globals, next_world_knot_index) == 250);
static_assert(offsetof(world_knot_globals, use_bounding_box_for_knot_center) == 252);
static_assert(offsetof(world_knot_globals, use_bounding_box_for_wave_center) == 256);

// Returns 0, _map_action_proc_deactivate_flag (a set-up error) or succeeded |
// deactivate (a knot without partner has brought in its last wave).
uint32_t world_knot_action_proc(int32_t action_index);

// Enters `state`: teleporting in brings the head incoming wave's units to the
// knot centre, teleporting out hides them; the models change permutation.
void set_knot_action_state(world_knot_globals *globals, int16_t state);

// The identifiers of visible units standing strictly inside the radius, in
// index order, at most MAXIMUM_MONSTERS_PER_WORLD_KNOT; their count.
int32_t get_monster_identifiers_inside_radius(world_point2d center, world_distance radius, int16_t *identifiers);

// Moves the head of the free queue to the end of the incoming queue; false
// (nothing changed) when the free queue is empty or the incoming queue full.
bool copy_wave_into_incoming_queue(world_knot_globals *globals);
// Drops the head of the free queue (nothing when it is empty).
void move_wave_free_queue_down(world_knot_globals *globals);

// Replaces every own entry `field_name` of `type` of the action by one entry
// holding the `count` identifiers; the count written (0 when the entry could
// not be made).
int32_t add_objects_to_parameter(int32_t action_index, field_tag field_name, int16_t type, const int16_t *identifiers,
                                 int32_t count);

// The overhead text module makes, deletes and finds the fonts of the texts
// through its table (overhead_text_procedures.h).
