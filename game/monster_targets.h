#pragma once
// Target scanning and switching: units pick their own targets.  Every tick one
// unit in SCAN_FOR_TARGETS_COUNT is examined: it feeds the local player's fog
// of war, celebrates a won game, refreshes its path towards a moving
// destination and, when free to choose, takes the most appropriate enemy in a
// square of mesh cells around it.  Switching decides whether a unit drops its
// target for another and may rouse its idle neighbours (one level deep).
//
// Simulation: integer arithmetic; the only draw is a celebration's
// (docs/determinism.md, "Target scanning").  Every square visits only cells
// inside the mesh.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "monster_actions.h"

enum
{
    SCAN_FOR_TARGETS_COUNT = 64,
    SCAN_FOR_TARGETS_MASK = SCAN_FOR_TARGETS_COUNT - 1,
    CLOSEST_MOST_APPROPRIATE_TARGET_DIAMETER = 10240, // 21 cells: this in cells, plus one
};

// Modes of closest_most_appropriate_target.
enum closest_most_appropriate_target_mode
{
    _closest_most_appropriate_target_periodic_scan = 0,
    _closest_most_appropriate_target_target_died_scan,
    _closest_most_appropriate_target_second_target_died_scan,
    _closest_most_appropriate_target_becoming_idle_scan,
};

// Flags of try_and_switch_target_indexes, beside the action machine's
// _switch_target_activate_adjacents_flag (0x2).
constexpr uint32_t _switch_target_command_override_flag = 0x1;
constexpr uint32_t _switch_target_close_range_flag = 0x4;
constexpr uint32_t _switch_target_suppress_melee_attacks_flag = 0x8;

// The staggered scan of the tick: units k, k + 64, k + 128, ... for
// k = game time & 63; the visibility buffers are swapped first when k is 0.
void scan_for_targets(void);

// The local player's picture at the start of a map, after every unit is
// placed: the buffers started over, then twice a swap and every unit's sight.
// The map step "unit visibility"; always true (the picture is local).
bool build_initial_monster_visibility(void);

// The most appropriate target for the unit within the square of `mode`
// (closest_most_appropriate_target_mode), or NONE: a free slot, a confused
// unit and an empty square find nothing.  An unknown mode is logged ("halt")
// and finds nothing.
int32_t closest_most_appropriate_target(int32_t monster_index, int32_t mode);

// The check of the target search: a candidate met again through another ally
// is weighed once (outside the target-died scan, whose weighing depends on
// the ally that led to it), and a candidate that cannot win at its plain
// distance is passed over before its distance and bearing are worked out.
// With checking on, every search is done a second time weighing every
// meeting in full, and a different choice is logged and counted as a
// mismatch.  The fault (tests) skips every candidate after the first.
struct target_search_check_counts
{
    int64_t searches_checked, mismatches;
};
void set_target_search_checking(bool on); // also sets the counts to 0
target_search_check_counts get_target_search_check_counts(void);
void plant_target_search_fault(bool on);

// Offers `possible_target_monster_index` to the unit.  True when the unit now
// targets it (newly, or it already did, in which case nothing changes), false
// when it refused (also for a free slot on either side).  With
// _switch_target_activate_adjacents_flag a fresh target is offered to
// the unit's idle neighbours of its team and class, who never rouse others.
bool try_and_switch_target_indexes(int32_t monster_index, int32_t possible_target_monster_index, uint32_t flags);

// Fills the action machine's closest-target and switch-target points and
// registers the map step "unit visibility" (game/subsystems.cpp).
void register_monster_target_hooks(void);
