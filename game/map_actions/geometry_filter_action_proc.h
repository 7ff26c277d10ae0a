#pragma once
// The geometry filter ('geom'): picks units and objects by area and team.
//
// Gathers a test list (units, unit markers, objects of projectile types or
// objects by identifier), filters units by their state, marks each item
// inside or outside a polygon, a circle, the whole map, a team, a unit type
// or a count, and writes the identifiers or locations of the items inside
// and outside into named parameters of result actions.  Succeeds
// (_map_action_proc_succeeded_flag) when at least one list received an item.
//
// Lock-step simulation: 'rand' draws vesk_random in the order
// docs/determinism.md ("The geometry filter") gives.

#include <cstdint>

#include "world.h"

enum
{
    MAXIMUM_GEOMETRY_TEST_ITEMS = 400,
};

// One item of the test list (in memory only).
struct monster_or_object_identifier
{
    int16_t identifier; // a unit, unit marker or object identifier
    world_point3d location;
    int32_t inside; // boolean
};

uint32_t geometry_filter_action_proc(int32_t action_index);

// The random choices of the written lists, exposed for their tests: each
// takes `candidate_count` item positions, draws as docs/determinism.md says
// and writes the chosen positions, in the order chosen, to `chosen`;
// returns how many were chosen (at most `maximum`).
int32_t random_select(const int16_t *candidates, int32_t candidate_count, int32_t maximum, int16_t *chosen);
int32_t bogo_select(const int16_t *candidates, int32_t candidate_count, int32_t maximum, int16_t *chosen);
