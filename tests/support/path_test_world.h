#pragma once
// A world for the tests of pathfinding and unit movement: a flat mesh drawn
// from ASCII art or of a given size, two players on teams 0 and 1, one unit
// definition 'mons' that finds terrain type 1 barred, and units and solid
// objects placed directly.  Header-only: include it in a test file.

#include "support/unit_world_test.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "unit_definitions.h"

inline constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
inline constexpr uint16_t WALL_MASK = 1u << 1; // terrain type 1 is barred

class path_test_world : public unit_world_test
{
protected:
    // A test's own fields of the units' definition, on top of the barred
    // terrain, the pathfinding radius and the zero base speed set here.
    virtual void adjust_definition(monster_definition &) {}

    int32_t saved_version = current_gameplay_version;
    bool world_started = false;

    void SetUp() override
    {
        start_unit_store();
        register_monster_hooks();
        current_gameplay_version = 1820;

        ASSERT_NO_FATAL_FAILURE(write_unit_tags([this](monster_definition &m) {
            m.terrain_impassability_flags = WALL_MASK;
            m.pathfinding_radius = 60;
            m.base_movement_speed = 0;
            adjust_definition(m);
        }));
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        if (world_started) dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    // Rows of the art are y, columns x: '.' open, '#' both triangles barred,
    // 'a' only the low nibble's triangle barred, 'b' only the high one's.
    void start_world(const std::vector<std::string> &art)
    {
        objects_world_map map;
        map.width = (int16_t)art[0].size();
        map.height = (int16_t)art.size();
        start_world(map.width, map.height);
        for (int32_t y = 0; y < map.height; ++y)
            for (int32_t x = 0; x < map.width; ++x)
            {
                const char c = art[y][x];
                get_mesh_cell(x, y)->flags = c == '#' ? 0x11 : c == 'a' ? 0x01 : c == 'b' ? 0x10 : 0;
            }
    }
    void start_world(int16_t width, int16_t height)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = width;
        map.height = height;
        ASSERT_TRUE(start_units_world(&data, &map));
        world_started = true;
    }

    int32_t definition_index(void)
    {
        return subgroup_tag_to_definition_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'));
    }
    int32_t make_unit(world_point2d at, int16_t player = 0, int16_t radius = 50)
    {
        try_definition_tag_to_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'), true, 0);
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        const int32_t object_index = new_unit_object({at.x, at.y, 0});
        const int32_t monster_index = new_datum(get_monster_array());
        get_object(object_index)->owner_index = (int16_t)monster_index;
        get_object(object_index)->radius = radius;
        init_monster(monster_index, (int16_t)definition_index(), (int16_t)unit_type, object_index, player, player, 0,
                     &at, true);
        return monster_index;
    }
    int32_t make_solid_object(world_point2d at, int16_t radius)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.location.position = {at.x, at.y, 0};
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        get_object(object_index)->radius = radius;
        get_object(object_index)->flags |= _object_is_solid_flag;
        object_scan_membership_changed(object_index);
        return object_index;
    }

    struct request_result
    {
        int32_t index;
        path_variables variables;
    };
    request_result request(int32_t monster_index, world_point2d from, world_point2d to, uint16_t mask = WALL_MASK)
    {
        request_result r;
        memset(&r.variables, 0, sizeof(r.variables));
        r.variables.terrain_impassability_flags = mask;
        r.variables.owner_object_index = NONE;
        r.variables.p0 = from;
        r.variables.p1 = to;
        r.index = new_path(monster_index, &r.variables);
        return r;
    }
    const postprocessed_path_data *path(int32_t index) { return get_path_data(index); }

    // The cells of the route the last search ended at, end first.
    std::vector<std::pair<int32_t, int32_t>> route_cells(int32_t end_node)
    {
        int32_t left, top;
        get_path_window_origin(&left, &top);
        std::vector<std::pair<int32_t, int32_t>> cells;
        for (const path_node *n = get_path_node(end_node); n; n = get_path_node(n->parent_node))
            cells.push_back({left + n->x, top + n->y});
        return cells;
    }
};
