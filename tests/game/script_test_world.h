#pragma once
// What the script procedure tests share: units found by identifier, point
// lists written into test actions, and a unit world with the map actions,
// spatial groups and attack AI started over monster_test_world, ended round
// by round of a table, and its script passes run.

#include "support/monster_test_world.h"

#include <vector>

#include "attack_ai.h"
#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "monster_lists.h"
#include "spatial_groups.h"

// The index of the unit with `identifier`; NONE when there is none.
inline int32_t index_of(int16_t identifier)
{
    int16_t index = NONE;
    monster_identifiers_to_monster_indexes(&identifier, &index, 1);
    return index;
}

// The values of the action's own entry `name` of `type` (empty when absent).
template <typename value_type>
std::vector<value_type> values_of(int32_t action_index, field_tag name, int16_t type)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag, name,
                                  type))
        return {};
    std::vector<value_type> values(parameter.count);
    copy_map_action_parameter_values(&parameter, values.data(), parameter.count);
    return values;
}
// The first value of the action's own integer entry `name`, or `otherwise`.
inline int32_t own_integer_of(int32_t action_index, const char *name, int32_t otherwise)
{
    map_action_parameter parameter;
    int32_t value;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, four(name), _parameter_integer) ||
        copy_map_action_parameter_values(&parameter, &value, 1) != 1)
        return otherwise;
    return value;
}

// The entry `name` of `action`: the points given.
inline test_action &points(test_action &action, const char *name, const std::vector<world_point2d> &values)
{
    return action.raw(_parameter_world_point2d, four(name), (int16_t)values.size(), values.data(),
                      (int32_t)(values.size() * sizeof(world_point2d)));
}

class script_test_world : public monster_test_world
{
protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        initialize_script_modules();
    }
    void TearDown() override
    {
        dispose_map_actions_from_old_map();
        monster_test_world::TearDown();
    }

    // The map actions, spatial groups and attack AI, once the store is set up.
    void initialize_script_modules(void)
    {
        ASSERT_TRUE(initialize_map_actions());
        ASSERT_TRUE(initialize_spatial_groups());
        ASSERT_TRUE(initialize_attack_ai());
    }
    // The same for the map, once the world is started.
    void initialize_script_modules_for_new_map(void)
    {
        initialize_map_actions_for_new_map();
        initialize_spatial_groups_for_new_map();
        initialize_attack_ai_for_new_map();
    }
    // Ends the world of one round of a table, so the next round starts anew.
    void stop(void)
    {
        dispose_map_actions_from_old_map();
        dispose_attack_ai_from_old_map();
        dispose_spatial_groups_from_old_map();
        dispose_projectiles_from_old_map();
        dispose_explosions_from_old_map();
        dispose_units_world();
        clear_all_registrations();
        started = false;
    }

    // A unit of `player` at `at` with identifier `identifier` and no order.
    int16_t soldier(int16_t player, world_point2d at, int16_t identifier)
    {
        const int32_t index = make_unit(player, at);
        unit(index)->identifier = identifier;
        unit(index)->internal_command_identifier = NONE;
        return identifier;
    }
    // Runs the script passes from the current time up to `last`.
    void run_until(int32_t last)
    {
        if (game_->game_time == 0) update_map_actions();
        for (; game_->game_time <= last; game_->game_time++) update_map_actions();
        game_->game_time = last + 1;
    }
};
