#pragma once
// A world for the script procedures that read units: the inventory world
// (two players on teams 0 and 1, bodies with an object definition of 20000
// vitality, projectile definitions and dormant objects) with the map
// actions started for the map, the random seed set, and helpers that place
// units with identifiers and read what a procedure wrote.

#include "monster_inventory_world.h"

#include <vector>

#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "monster_lists.h"
#include "vesk_random.h"

class script_unit_world : public inventory_world::world
{
protected:
    void SetUp() override
    {
        inventory_world::world::SetUp();
        ASSERT_TRUE(initialize_map_actions());
        initialize_map_actions_for_new_map();
        game_->game_time = 0;
        game_->difficulty_level = 2;
        set_random_seed(5);
    }
    void TearDown() override
    {
        dispose_map_actions_from_old_map();
        inventory_world::world::TearDown();
    }

    // A unit of `player` at `at` with identifier `identifier`.
    int32_t place_unit(int16_t player, world_point2d at, int16_t identifier)
    {
        const int32_t index = make_unit(player, {at.x, at.y, 0});
        monster(index)->identifier = identifier;
        return index;
    }
    int32_t index_of(int16_t identifier)
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
        if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                      name, type))
            return {};
        std::vector<value_type> values(parameter.count);
        copy_map_action_parameter_values(&parameter, values.data(), parameter.count);
        return values;
    }
    std::vector<int16_t> unit_list(int32_t action_index, const char *name)
    {
        return values_of<int16_t>(action_index, four(name), _parameter_monster_identifier);
    }
};

inline test_action &points(test_action &action, const char *name, std::vector<world_point2d> values)
{
    return action.raw(_parameter_world_point2d, four(name), (int16_t)values.size(), values.data(),
                      (int32_t)(values.size() * sizeof(world_point2d)));
}
inline test_action &names(test_action &action, const char *name, std::vector<const char *> values)
{
    std::vector<int32_t> tags;
    for (const char *value : values) tags.push_back(four(value));
    return action.ints(four(name), tags, _parameter_field_name);
}
