#pragma once
// A world for the script procedures that read units: the inventory world
// (two players on teams 0 and 1, bodies with an object definition of 20000
// vitality, projectile definitions and dormant objects) with the map
// actions started for the map, the random seed set, and helpers that place
// units with identifiers and read what a procedure wrote.

#include "monster_inventory_world.h"
#include "script_test_world.h"

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
    std::vector<int16_t> unit_list(int32_t action_index, const char *name)
    {
        return values_of<int16_t>(action_index, four(name), _parameter_monster_identifier);
    }
};

inline test_action &names(test_action &action, const char *name, std::vector<const char *> values)
{
    std::vector<int32_t> tags;
    for (const char *value : values) tags.push_back(four(value));
    return action.ints(four(name), tags, _parameter_field_name);
}
