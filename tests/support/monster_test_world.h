#pragma once
// A world for the tests of target scanning and the per-tick update: a flat
// mesh (64 x 64 cells unless a test asks for another), two players on teams 0
// and 1, projectiles and explosions started, one unit definition 'mons' whose
// sequence n is 100 + n, and units placed directly with init_monster.
// Header-only: include it in a test file after the store fixture.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "explosions.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_targets.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

class monster_test_world : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;
    bool started = false;

    static constexpr tag COLLECTION_TAG = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
    static constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
    static constexpr tag MONSTER_TAG = FOUR_CHARACTER_CODE('m', 'o', 'n', 's');

    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(write_unit_tags([](monster_definition &m) { m.base_movement_speed = 0; }));
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        if (started)
        {
            game_->winning_team_index = NONE;
            dispose_projectiles_from_old_map();
            dispose_explosions_from_old_map();
            dispose_units_world();
        }
        clear_all_registrations();
        store_test::TearDown();
    }

    // Starts the world: `width` x `height` cells, players 0 and 1 on teams 0
    // and 1 (and 2 on team 0 when `players` is 3), the version given.
    void start_world(int16_t width = 64, int16_t height = 64, int32_t version = 1820, int16_t players = 2)
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, players);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        if (players > 2) data.players[2].team_index = 0;
        objects_world_map map;
        map.width = width;
        map.height = height;
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_monster_target_hooks();
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        // The definition as every unit of the test sees it, loaded once.
        definition();
    }

    monster_definition *definition(void)
    {
        return get_monster_definition(try_definition_tag_to_index(&monster_definitions, MONSTER_TAG, true, 0));
    }

    // A unit of `player` (its team is the player's) at `at`, facing `yaw`,
    // with an action timer of 0 and no idle animation draws pending.
    int32_t make_unit(int16_t player, world_point2d at, angle yaw = 0)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {at.x, at.y, 0};
        request.location.yaw = yaw;
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        EXPECT_NE(object_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const int16_t type = (int16_t)subgroup_tag_to_definition_index(&monster_definitions, MONSTER_TAG);
        const int16_t team = get_player_data(player)->team_index;
        init_monster(monster_index, type, (int16_t)unit_type, object_index, player, team, 0, &at, true);
        get_object(object_index)->location.yaw = yaw;
        get_object(object_index)->location.position = {at.x, at.y, 0};
        get_monster_data(monster_index)->attack_timer = 0;
        return monster_index;
    }
    monster_data *unit(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }

    // Moves a unit's object (relinked into the cell chains).
    void place(int32_t index, world_point2d at)
    {
        const int32_t object_index = unit(index)->object_index;
        disconnect_object_from_mesh(object_index);
        body(index)->location.position.x = at.x;
        body(index)->location.position.y = at.y;
        reconnect_object_to_mesh(object_index);
    }
    void aim(int32_t attacker, int32_t victim)
    {
        unit(attacker)->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
        unit(attacker)->target_monster_index = (int16_t)victim;
    }
};

// The centre of cell (x, y).
inline world_point2d cell_centre(int32_t x, int32_t y) { return {x * 512 + 256, y * 512 + 256}; }
