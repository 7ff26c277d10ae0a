#pragma once
// A unit world for the group and platoon procedures: the map actions,
// spatial groups and attack AI started over monster_test_world, a table of
// the group procedures plus a recording state ('recd') and one that hands
// its group a new state ('chng': the group's state becomes the action's
// 'next' list), and helpers to place armies and read run-time entries.

#include "script_test_world.h"

#include <vector>

#include "attack_ai.h"
#include "map_action_block_writer.h"
#include "map_actions/action_procs.h"
#include "map_actions/group_action_procs.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "map_actions/platoon_movement_action_proc.h"
#include "monster_lists.h"
#include "spatial_groups.h"
#include "vesk_random.h"

namespace group_script_world_detail {

// The identifier of each run of 'recd' and 'chng'.
inline std::vector<int16_t> &recorded_runs(void)
{
    static std::vector<int16_t> runs;
    return runs;
}

inline uint32_t recording_proc(int32_t action_index)
{
    recorded_runs().push_back(get_map_action_identifier(action_index));
    return 0;
}

inline uint32_t changing_proc(int32_t action_index)
{
    recorded_runs().push_back(get_map_action_identifier(action_index));
    int16_t owner = NONE;
    get_indexed_short_integer_parameter(action_index, FOUR_CHARACTER_CODE('o', 'w', 'g', 'r'),
                                        _parameter_action_identifier, &owner, 0);
    int16_t next[16];
    const int32_t count = get_combined_map_action_parameter(action_index, FOUR_CHARACTER_CODE('n', 'e', 'x', 't'),
                                                            _parameter_action_identifier, next, 16);
    set_group_action_state(action_identifier_to_action_index(owner), next, count);
    return 0;
}

inline const registered_map_action_proc group_test_rows[] = {
    {FOUR_CHARACTER_CODE('c', 'h', 'n', 'g'), changing_proc, "changing_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'r', 'o', 'u'), group_action_proc, "group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'u', 'a', 'r'), guard_group_action_proc, "guard_group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'a', 't'), platoon_action_proc, "platoon_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'm', 'o'), platoon_movement_action_proc, "platoon_movement_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 's', 'c'), platoon_movement_action_proc, "platoon_movement_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('r', 'e', 'c', 'd'), recording_proc, "recording_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'p', 'u', 'p'), split_up_group_action_proc, "split_up_group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'q', 'u', 'a'), squad_action_proc, "squad_action_proc", 0, 0},
};

} // namespace group_script_world_detail

class group_script_world : public script_test_world
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(script_test_world::SetUp());
        set_action_proc_table_for_tests(group_script_world_detail::group_test_rows,
                                        NUMBER_OF(group_script_world_detail::group_test_rows));
        group_script_world_detail::recorded_runs().clear();
    }
    void TearDown() override
    {
        set_action_proc_table_for_tests(nullptr, 0);
        script_test_world::TearDown();
    }
    void start(int32_t version = 1820)
    {
        start_world(64, 64, version);
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
        set_random_seed(5);
    }
    // Ends the world of one round of a table, so the next round starts anew.
    void stop(void)
    {
        script_test_world::stop();
        runs().clear();
    }
    std::vector<int16_t> &runs(void) { return group_script_world_detail::recorded_runs(); }

    int32_t action(int16_t identifier) { return action_identifier_to_action_index(identifier); }

    // The first value of an action's own entry, or `otherwise`.
    int32_t own_integer(int16_t identifier, const char *name, int32_t otherwise = -12345)
    {
        return own_integer_of(action(identifier), name, otherwise);
    }
    // The values of an action's own identifier entry (empty when absent).
    std::vector<int16_t> own_identifiers(int16_t identifier, const char *name, int16_t type = _parameter_action_identifier)
    {
        return values_of<int16_t>(action(identifier), four(name), type);
    }
    bool has_own(int16_t identifier, const char *name, int16_t type)
    {
        return get_map_action_parameter(nullptr, action(identifier), _dont_resolve_links_flag | _return_empty_arrays_flag,
                                        four(name), type);
    }
    bool succeeded(int16_t identifier) { return get_map_action(action(identifier))->flags & _map_action_succeeded_flag; }
    // Draws since the mark.
    uint32_t draws_since(uint32_t mark) { return get_vesk_random_draw_count() - mark; }
};

inline test_action &angles(test_action &a, const char *name, std::vector<int16_t> values)
{
    return a.raw(_parameter_angle, four(name), (int16_t)values.size(), values.data(), (int32_t)(values.size() * 2));
}
inline test_action &distances(test_action &a, const char *name, std::vector<int32_t> values)
{
    return a.ints(four(name), values, _parameter_world_distance);
}
