#pragma once
// Checks every resize of an action's parameter run against the move the
// engine made before it left moved runs behind during a pass: the stored
// layout taken just before the resize (copy_settled_map_action_parameters),
// moved by that routine (the run copied to the end of the buffer, the gap
// closed, every offset past the run lowered by its size), must equal the
// stored layout just after it, every byte of the buffer and every used
// slot's offset.  One checker at a time; it watches from construction to
// destruction.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "map_actions/map_action_parameters.h"

class map_action_layout_checker
{
public:
    map_action_layout_checker();
    ~map_action_layout_checker();
    map_action_layout_checker(const map_action_layout_checker &) = delete;
    map_action_layout_checker &operator=(const map_action_layout_checker &) = delete;

    int32_t resizes = 0;
    int32_t mismatches = 0;
    std::string first_mismatch; // what differed at the first mismatch, and where
    // Called after each resize, before the comparison (plants faults).
    std::function<void(int32_t resize, int32_t action_index)> after_resize;

private:
    static void before(int32_t action_index, int32_t new_parameters_size);
    static void after(int32_t action_index, int32_t new_parameters_size);
    void compare(int32_t action_index, int32_t new_parameters_size);

    const map_action_run_resize_observer *previous;
    std::vector<uint8_t> expected, actual;
    std::vector<int32_t> expected_offsets, actual_offsets, sizes;
    int32_t expected_used = 0;
};

// Checks every lookup answered from the index of entries (a search step, a
// first match, an entry's place, an action's summary) against the walk of
// the stored entries (set_map_action_lookup_observer).  One at a time; it
// watches from construction to destruction.
class map_action_lookup_checker
{
public:
    map_action_lookup_checker();
    ~map_action_lookup_checker();
    map_action_lookup_checker(const map_action_lookup_checker &) = delete;
    map_action_lookup_checker &operator=(const map_action_lookup_checker &) = delete;

    int64_t lookups = 0;
    int64_t mismatches = 0;
    std::string first_mismatch; // the action and what differed at the first mismatch

private:
    static void compared(int32_t action_index, const char *difference);
    const map_action_lookup_observer *previous;
};
