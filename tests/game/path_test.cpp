// Pathfinding: the grid search and straightening on hand-drawn grids whose
// waypoints were worked out by hand, the line test's asymmetries, properties
// over random grids, obstacle avoidance, the path array's life and the cell
// services the movement code uses.

#include "support/path_test_world.h"

#include "support/expected_assertions.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "fire.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "path.h"
#include "state_hash.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

namespace path_test_file {

namespace {

world_point2d centre(int32_t x, int32_t y) { return {x * 512 + 256, y * 512 + 256}; }

class path_test : public path_test_world
{
};

// ---- grid search and straightening ---------------------------------------------------

TEST_F(path_test, a_destination_in_the_start_cell_is_the_waypoint_without_a_search)
{
    start_world(16, 16);
    const request_result r = request(NONE, {1000, 1000}, {1300, 1200});
    ASSERT_GE(r.index, 0);
    EXPECT_EQ(path(r.index)->flags, 0);
    EXPECT_EQ(path(r.index)->waypoint.x, 1300);
    EXPECT_EQ(path(r.index)->waypoint.y, 1200);
}

TEST_F(path_test, hand_drawn_grids_give_the_waypoints_worked_out_by_hand)
{
    struct row
    {
        const char *name;
        std::vector<std::string> art;
        world_point2d from, to;
        world_point2d waypoint;
        uint16_t flags;
    };
    const row rows[] = {
        // The wall's one gap is in the lower row: the first leg ends in the gap's
        // neighbour, the last cell seen from the start.
        {"wall with one gap", {"..#...", "......"}, centre(0, 0), centre(4, 0), centre(2, 1), 0},
        // Nothing reaches the destination: the reachable cell nearest to it.
        {"enclosed destination",
         {"........", "........", "........", "........", "........", "........", "......##", ".....###"},
         centre(0, 0), centre(7, 7), centre(7, 5), _partial_path_flag},
        {"straight corridor", {"########", "........", "########", "########"}, centre(0, 1), centre(7, 1),
         centre(7, 1), 0},
        // Both triangles barred: an even cell leaves only diagonally along +x+y
        // or -x-y, an odd one along +x-y or -x+y; every line from inside it is
        // blocked, so the first step's cell is the waypoint.
        {"doubly impassable even start", {"........", "........", "..#.....", "........", "........", "........"},
         centre(2, 2), centre(6, 2), centre(3, 3), 0},
        {"doubly impassable odd start", {"........", "........", "...#....", "........", "........", "........"},
         centre(3, 2), centre(7, 2), centre(4, 1), 0},
        // Around a wall cell both ways cost alike: the newest node is taken
        // first, so the route passes west of it.
        {"newest first among equal totals", {"....", "....", ".#..", "....", "....", "...."}, centre(1, 1), centre(1, 3),
         centre(0, 2), 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(r.art);
        const request_result result = request(NONE, r.from, r.to);
        ASSERT_GE(result.index, 0);
        EXPECT_EQ(path(result.index)->waypoint.x, r.waypoint.x);
        EXPECT_EQ(path(result.index)->waypoint.y, r.waypoint.y);
        EXPECT_EQ(path(result.index)->flags, r.flags);
    }
}

TEST_F(path_test, an_enclosed_start_has_no_route_once_then_a_path_to_itself)
{
    start_world({"......", ".###..", ".#.#..", ".###..", "......", "......"});
    path_variables variables;
    memset(&variables, 0, sizeof(variables));
    variables.terrain_impassability_flags = WALL_MASK;
    variables.owner_object_index = NONE;
    variables.p0 = {2 * 512 + 100, 2 * 512 + 300};
    variables.p1 = centre(5, 5);
    EXPECT_EQ(new_path(NONE, &variables), NEW_PATH_NO_ROUTE);
    EXPECT_EQ(variables.p1.x, variables.p0.x);
    EXPECT_EQ(variables.p1.y, variables.p0.y);
    EXPECT_EQ(get_path_array()->count, 0); // the record was given back
    const int32_t again = new_path(NONE, &variables);
    ASSERT_GE(again, 0);
    EXPECT_EQ(path(again)->waypoint.x, 2 * 512 + 100);
    EXPECT_EQ(path(again)->waypoint.y, 2 * 512 + 300);
}

TEST_F(path_test, a_route_leaving_the_window_ends_before_the_first_cell_outside_it)
{
    std::vector<std::string> art(4, std::string(140, '#'));
    art[1] = std::string(140, '.');
    start_world(art);
    const request_result r = request(NONE, centre(2, 1), centre(135, 1));
    ASSERT_GE(r.index, 0);
    EXPECT_EQ(path(r.index)->flags, _partial_path_flag);
    EXPECT_EQ(path(r.index)->waypoint.x, centre(127, 1).x);
    EXPECT_EQ(path(r.index)->waypoint.y, centre(127, 1).y);
}

TEST_F(path_test, points_off_the_mesh_are_clamped_into_it)
{
    start_world(8, 8);
    const request_result r = request(NONE, {-5000, -300}, {99999, 2000});
    ASSERT_GE(r.index, 0);
    EXPECT_EQ(r.variables.p0.x, 0);
    EXPECT_EQ(r.variables.p0.y, 0);
    EXPECT_EQ(r.variables.p1.x, 8 * 512 - 1);
    EXPECT_EQ(r.variables.x1, 7);
    EXPECT_EQ(path(r.index)->waypoint.x, 8 * 512 - 1);
    EXPECT_EQ(path(r.index)->waypoint.y, 2000);
}

TEST_F(path_test, runs_beyond_the_twenty_third_only_move_its_end_with_repeated_steps)
{
    // 30 steps alternating +x+y and +x, then three more +x.
    std::vector<int8_t> steps;
    for (int32_t i = 0; i < 30; ++i) steps.push_back(i % 2 ? 5 : 0);
    world_point2d waypoints[MAXIMUM_TEMPORARY_WAYPOINTS];
    // Every step is a new run: the 23 first run ends are kept.
    EXPECT_EQ(build_temporary_waypoints(0, 0, steps.data(), (int32_t)steps.size(), waypoints), 23);
    EXPECT_EQ(waypoints[0].x, centre(1, 1).x);
    EXPECT_EQ(waypoints[22].x, centre(23, 12).x);
    EXPECT_EQ(waypoints[22].y, centre(23, 12).y);
    // Steps 31 (+x after +x) and on move the 23rd to the cell they reach.
    steps.insert(steps.end(), {5, 5, 5});
    EXPECT_EQ(build_temporary_waypoints(0, 0, steps.data(), (int32_t)steps.size(), waypoints), 23);
    EXPECT_EQ(waypoints[22].x, centre(33, 15).x);
    EXPECT_EQ(waypoints[22].y, centre(33, 15).y);
    // A straight run keeps only its end.
    const int8_t straight[] = {4, 4, 4, 0, 0};
    EXPECT_EQ(build_temporary_waypoints(3, 3, straight, 5, waypoints), 2);
    EXPECT_EQ(waypoints[0].y, centre(3, 6).y);
    EXPECT_EQ(waypoints[1].x, centre(5, 8).x);
    const int8_t broken[] = {4, 9};
    {
        expected_assertions expect(2);
        EXPECT_EQ(build_temporary_waypoints(3, 3, broken, 2, waypoints), 1);
    }
}

TEST_F(path_test, waypoints_of_random_routes_are_those_of_the_routes_walked_step_by_step)
{
    // Each step adds the centre of its cell, or moves the last one when it
    // goes the way of the step before, while there is room for 23.
    const auto walked = [](int32_t x, int32_t y, const std::vector<int8_t> &steps, world_point2d *out) {
        int32_t count = 0, previous = NONE;
        for (const int8_t direction : steps)
        {
            x += direction_delta_x[direction], y += direction_delta_y[direction];
            if (direction == previous) --count;
            if (count < 23) out[count++] = centre(x, y);
            previous = direction;
        }
        return count;
    };
    std::mt19937 generator(66);
    for (int32_t trial = 0; trial < 300; ++trial)
    {
        SCOPED_TRACE(trial);
        // Runs of 1 to 1 + trial % 9 steps, some routes past 23 runs.
        std::vector<int8_t> steps;
        const int32_t runs = 1 + (int32_t)(generator() % 40), longest = 1 + trial % 9;
        for (int32_t run = 0; run < runs; ++run)
            steps.insert(steps.end(), 1 + generator() % longest, (int8_t)(generator() % NUMBER_OF_DIRECTIONS));
        world_point2d expected[MAXIMUM_TEMPORARY_WAYPOINTS], got[MAXIMUM_TEMPORARY_WAYPOINTS];
        const int32_t count = walked(200, 200, steps, expected);
        ASSERT_EQ(build_temporary_waypoints(200, 200, steps.data(), (int32_t)steps.size(), got), count);
        for (int32_t i = 0; i < count; ++i) ASSERT_TRUE(got[i].x == expected[i].x && got[i].y == expected[i].y) << i;
    }
}

TEST_F(path_test, a_burning_cell_is_avoided_only_when_the_fire_modifier_is_positive)
{
    start_world({"........", "........", "........", "........", "........", "........"});
    ASSERT_TRUE(get_mesh_header());
    get_mesh_header()->flags |= _mesh_can_catch_fire_flag;
    initialize_fire();
    initialize_fire_for_new_map();
    ASSERT_TRUE(try_to_start_fire(NONE, NONE, 0, 3, 2));
    ASSERT_TRUE(try_to_start_fire(NONE, NONE, 0, 4, 2));
    const int32_t unit = make_unit(centre(0, 2));
    auto passes_fire = [&](void) {
        path_variables v;
        memset(&v, 0, sizeof(v));
        v.terrain_impassability_flags = WALL_MASK;
        v.p0 = centre(0, 2);
        v.p1 = centre(7, 2);
        v.x0 = 0, v.y0 = 2, v.x1 = 7, v.y1 = 2;
        const int32_t end = build_pathfinding_tree(unit, &v);
        bool through = false;
        for (const auto &cell : route_cells(end)) through |= cell.second == 2 && (cell.first == 3 || cell.first == 4);
        return through;
    };
    EXPECT_GT(path_fire_factor(unit), 0);
    EXPECT_FALSE(passes_fire());
    const world_point2d west = centre(0, 2), east = centre(7, 2);
    EXPECT_FALSE(path_line_is_clear(&west, &east, WALL_MASK, true));

    // A unit whose object takes no magical damage walks through.
    object_definition immune;
    memset(&immune, 0, sizeof(immune));
    for (short_fixed &modifier : immune.effect_modifiers) modifier = 256;
    immune.effect_modifiers[_effect_modifier_magical] = 0;
    const int32_t type = new_definition(&object_definitions, FOUR_CHARACTER_CODE('i', 'm', 'm', 'u'), &immune);
    ASSERT_NE(type, NONE);
    get_object(get_monster_data(unit)->object_index)->type = (int16_t)type;
    EXPECT_EQ(path_fire_factor(unit), 0);
    EXPECT_TRUE(passes_fire());
    EXPECT_TRUE(path_line_is_clear(&west, &east, WALL_MASK, false));
    dispose_fire_from_old_map();
}

TEST_F(path_test, a_remembered_search_answers_a_unit_only_while_every_cell_it_read_answers_the_same)
{
    struct row
    {
        const char *name;
        int32_t change; // 0 none, 1 a wall across the route, 2 a fire on it
        bool fault; // the cells are not read again
        int64_t recalled, mismatches;
    };
    const row rows[] = {
        {"unchanged", 0, false, 1, 0},
        {"a wall across the route", 1, false, 0, 0},
        {"a fire on the route", 2, false, 0, 0},
        {"a wall, with the cells not read again", 1, true, 1, 1},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world({"........", "........", "........", "........", "........", "........"});
        get_mesh_header()->flags |= _mesh_can_catch_fire_flag;
        initialize_fire();
        initialize_fire_for_new_map();
        const int32_t unit = make_unit(centre(0, 2));
        ASSERT_GT(path_fire_factor(unit), 0);
        forget_remembered_searches();
        set_path_sharing_checking(true);
        plant_path_sharing_fault(r.fault);
        ASSERT_GE(request(unit, centre(0, 2), centre(7, 2)).index, 0);
        if (r.change == 1)
            for (int32_t y = 0; y < 5; ++y) get_mesh_cell(4, y)->flags = 0x11;
        if (r.change == 2)
        {
            ASSERT_TRUE(try_to_start_fire(NONE, NONE, 0, 3, 2));
            ASSERT_TRUE(try_to_start_fire(NONE, NONE, 0, 4, 2));
        }
        ASSERT_GE(request(unit, centre(0, 2), centre(7, 2)).index, 0);
        EXPECT_EQ(get_path_sharing_check_counts().recalls_checked, r.recalled);
        EXPECT_EQ(get_path_sharing_check_counts().mismatches, r.mismatches);
        plant_path_sharing_fault(false);
        set_path_sharing_checking(false);
        dispose_fire_from_old_map();
    }
}

TEST_F(path_test, a_remembered_search_answers_a_request_moved_by_whole_cells_only_where_it_would_go_the_same)
{
    struct row
    {
        const char *name;
        std::vector<std::string> art;
        int32_t x, y; // the first request goes from (1, 2) to (8, 2), the second from (x, y) by as far
        bool fault; // the cells are not read again
        int64_t recalled, mismatches;
    };
    const std::vector<std::string> open = {"............", "............", "............", "............",
                                           "............", "............", "............", "............"};
    const std::vector<std::string> wall = {"............", "............", "............", "............",
                                           "............", ".....#......", "............", "............"};
    const std::vector<std::string> half = {".a..........", ".a..........", ".a..........", ".a..........",
                                           ".a..........", ".a..........", ".a..........", ".a.........."};
    const row rows[] = {
        {"three rows down over open cells", open, 1, 5, false, 1, 0},
        {"three rows down onto a wall", wall, 1, 5, false, 0, 0},
        {"onto a wall, with the cells not read again", wall, 1, 5, true, 1, 1},
        {"up against the mesh's edge", open, 1, 0, false, 0, 0},
        {"from a half-barred start by an even step", half, 1, 4, false, 1, 0},
        {"from a half-barred start by an odd step", half, 1, 3, false, 0, 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(r.art);
        const int32_t unit = make_unit(centre(1, 2));
        forget_remembered_searches();
        set_path_sharing_checking(true);
        plant_path_sharing_fault(r.fault);
        ASSERT_GE(request(unit, centre(1, 2), centre(8, 2)).index, 0);
        ASSERT_GE(request(unit, centre(r.x, r.y), centre(r.x + 7, r.y)).index, 0);
        EXPECT_EQ(get_path_sharing_check_counts().recalls_checked, r.recalled);
        EXPECT_EQ(get_path_sharing_check_counts().moved_recalls_checked, r.recalled);
        EXPECT_EQ(get_path_sharing_check_counts().mismatches, r.mismatches);
        plant_path_sharing_fault(false);
        set_path_sharing_checking(false);
    }
}

TEST_F(path_test, the_line_test_walks_plus_x_and_minus_x_through_different_cells)
{
    const world_point2d p = {500, 10}, q = {1500, 600};
    struct row
    {
        const char *name;
        std::vector<std::string> art;
        bool forward_clear, backward_clear;
    };
    const row rows[] = {
        // Toward +x each column takes the row at its left edge: (2, 0), never
        // the end cell (2, 1); toward -x the row change tests (1, 1).
        {"wall beside the end", {"..#.", "....", "....", "...."}, false, true},
        {"wall on the far diagonal", {"....", ".#..", "....", "...."}, true, false},
        {"open", {"....", "....", "....", "...."}, true, true},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(r.art);
        EXPECT_EQ(path_line_is_clear(&p, &q, WALL_MASK, false), r.forward_clear);
        // The backward walk computes row -1 for column 0: off the mesh, it does not block.
        EXPECT_EQ(path_line_is_clear(&q, &p, WALL_MASK, false), r.backward_clear);
    }
}

TEST_F(path_test, lines_longer_than_one_piece_test_every_column)
{
    std::vector<std::string> art(20, std::string(140, '.'));
    start_world(art);
    const world_point2d a = centre(0, 0), b = centre(139, 19);
    EXPECT_TRUE(path_line_is_clear(&a, &b, WALL_MASK, false));
    EXPECT_TRUE(path_line_is_clear(&b, &a, WALL_MASK, false));
    for (int32_t column : {30, 60, 61, 121, 139})
    {
        SCOPED_TRACE(column);
        for (int32_t y = 0; y < 20; ++y) get_mesh_cell(column, y)->flags = 0x11;
        EXPECT_FALSE(path_line_is_clear(&a, &b, WALL_MASK, false));
        EXPECT_FALSE(path_line_is_clear(&b, &a, WALL_MASK, false));
        for (int32_t y = 0; y < 20; ++y) get_mesh_cell(column, y)->flags = 0;
    }
    // Along one row only that row's cells count.
    const world_point2d c = centre(0, 5), d = centre(139, 5);
    get_mesh_cell(70, 4)->flags = get_mesh_cell(70, 6)->flags = 0x11;
    EXPECT_TRUE(path_line_is_clear(&c, &d, WALL_MASK, false));
}

TEST_F(path_test, random_grids_keep_the_search_inside_its_bounds_and_repeat_exactly)
{
    std::mt19937 generator(7);
    for (int32_t trial = 0; trial < 40; ++trial)
    {
        SCOPED_TRACE(trial);
        const int32_t size = trial % 2 ? 24 : 40;
        std::vector<std::string> art(size, std::string(size, '.'));
        for (auto &line : art)
            for (char &c : line)
            {
                const uint32_t roll = generator() % 100;
                c = roll < 22 ? '#' : roll < 26 ? 'a' : roll < 30 ? 'b' : '.';
            }
        int32_t sx, sy, dx, dy;
        do
        {
            sx = (int32_t)(generator() % size), sy = (int32_t)(generator() % size);
            dx = (int32_t)(generator() % size), dy = (int32_t)(generator() % size);
        } while ((sx == dx && sy == dy) || art[sy][sx] != '.');
        if (world_started) dispose_units_world();
        start_world(art);
        const world_point2d from = {sx * 512 + 37, sy * 512 + 401}, to = centre(dx, dy);
        const request_result first = request(NONE, from, to);
        const int32_t nodes = get_path_node_count();
        ASSERT_NE(first.index, NEW_PATH_ARRAY_FULL);
        EXPECT_LE(nodes, MAXIMUM_NODES);
        int32_t left, top;
        get_path_window_origin(&left, &top);
        for (int32_t i = 1; i < nodes; ++i)
        {
            const path_node *n = get_path_node(i);
            EXPECT_TRUE(path_cell_is_passable(left + n->x, top + n->y, WALL_MASK)) << i;
            const path_node *parent = get_path_node(n->parent_node);
            ASSERT_TRUE(parent);
            EXPECT_EQ(parent->x + direction_delta_x[n->direction], n->x);
            EXPECT_EQ(parent->y + direction_delta_y[n->direction], n->y);
        }
        if (first.index < 0) continue;
        const postprocessed_path_data result = *path(first.index);
        // A complete path's waypoint passes the line test from the start, unless
        // it is the end of the route's first straight run, which no line tests.
        if (!(result.flags & _partial_path_flag))
        {
            path_variables v = first.variables;
            std::vector<int8_t> directions;
            for (const path_node *n = get_path_node(build_pathfinding_tree(NONE, &v)); n && n->direction >= 0;
                 n = get_path_node(n->parent_node))
                directions.insert(directions.begin(), n->direction);
            world_point2d runs[MAXIMUM_TEMPORARY_WAYPOINTS];
            build_temporary_waypoints(v.x0, v.y0, directions.data(), (int32_t)directions.size(), runs);
            if (result.waypoint.x != runs[0].x || result.waypoint.y != runs[0].y)
            {
                EXPECT_TRUE(path_line_is_clear(&first.variables.p0, &result.waypoint, WALL_MASK, false));
            }
        }
        const request_result second = request(NONE, from, to);
        ASSERT_GE(second.index, 0);
        EXPECT_EQ(get_path_node_count(), nodes);
        EXPECT_EQ(path(second.index)->waypoint.x, result.waypoint.x);
        EXPECT_EQ(path(second.index)->waypoint.y, result.waypoint.y);
        EXPECT_EQ(path(second.index)->flags, result.flags);
    }
}

// The search as first written: a sorted singly linked open list, each node
// inserted before the first entry whose total is not lower, and a bitmap of
// marked cells.  The search's own open list must give exactly its nodes.
struct reference_search
{
    path_node nodes[MAXIMUM_NODES];
    int32_t node_count = 0;
    uint16_t flags = 0;

    int32_t run(const path_variables &v)
    {
        static const uint8_t allowed_directions[4][2] = {{255, 255}, {157, 206}, {103, 59}, {5, 10}};
        auto edge = [](int32_t start, int32_t size) {
            if (start <= 63) return 0;
            int32_t e = start - 64;
            if (size >= 128 && size - 128 < e) e = size - 128;
            return e;
        };
        auto estimate = [&](int32_t x, int32_t y) {
            const int32_t dx = std::abs(x - v.x1), dy = std::abs(y - v.y1);
            return dx > dy ? 16 * dx + 8 * dy : 16 * dy + 8 * dx;
        };
        auto passable = [&](int32_t x, int32_t y) { return path_cell_is_passable(x, y, v.terrain_impassability_flags); };
        const int32_t left = edge(v.x0, mesh_width), top = edge(v.y0, mesh_height);
        std::vector<bool> marked(128 * 128, false);
        nodes[0] = {NONE, NONE, (uint8_t)(v.x0 - left), (uint8_t)(v.y0 - top), -1, 0, (int16_t)estimate(v.x0, v.y0)};
        node_count = 1;
        flags = 0;
        int32_t open = 0, best = 0, best_estimate = estimate(v.x0, v.y0);
        while (open != NONE)
        {
            const int32_t current = open;
            open = nodes[current].next_node;
            const int32_t cx = left + nodes[current].x, cy = top + nodes[current].y;
            const uint16_t cell = get_mesh_cell(cx, cy)->flags;
            const int32_t a = (v.terrain_impassability_flags >> (cell & 0xF)) & 1;
            const int32_t b = (v.terrain_impassability_flags >> ((cell >> 4) & 0xF)) & 1;
            const uint32_t allowed = allowed_directions[a | b << 1][(cx + cy) & 1];
            const int32_t base_step = nodes[current].direction < 4 ? 22 : 16;
            for (int32_t d = 0; d < 8; ++d)
            {
                if (!(allowed & (1u << d))) continue;
                const int32_t x = cx + direction_delta_x[d], y = cy + direction_delta_y[d];
                if (x < 0 || y < 0 || x >= mesh_width || y >= mesh_height) continue;
                const int32_t rx = x - left, ry = y - top;
                if (rx < 0 || ry < 0 || rx >= 128 || ry >= 128)
                {
                    if (!passable(x, y)) continue;
                    flags = _partial_path_flag;
                    return current;
                }
                if (marked[ry * 128 + rx] || !passable(x, y)) continue;
                marked[ry * 128 + rx] = true;
                if (node_count >= MAXIMUM_NODES) continue;
                const int32_t node = node_count++;
                path_node *n = &nodes[node];
                *n = {NONE, (int16_t)current, (uint8_t)rx, (uint8_t)ry, (int8_t)d,
                      (int16_t)(nodes[current].cost + base_step), 0};
                n->total_cost = (int16_t)(n->cost + estimate(x, y));
                if (estimate(x, y) < best_estimate) best = node, best_estimate = estimate(x, y);
                if (x == v.x1 && y == v.y1) return node;
                int32_t previous = NONE;
                for (int32_t e = open; e != NONE && nodes[e].total_cost < n->total_cost; e = nodes[e].next_node)
                    previous = e;
                if (previous == NONE) n->next_node = (int16_t)open, open = node;
                else n->next_node = nodes[previous].next_node, nodes[previous].next_node = (int16_t)node;
            }
        }
        if (best == 0) return NONE;
        flags = _partial_path_flag;
        return best;
    }
};

TEST_F(path_test, the_open_list_takes_nodes_in_the_order_of_a_sorted_list_on_random_grids)
{
    std::mt19937 generator(1234);
    const std::unique_ptr<reference_search> reference = std::make_unique<reference_search>();
    int32_t partial = 0, pool_filled = 0, left_window = 0;
    for (int32_t trial = 0; trial < 120; ++trial)
    {
        SCOPED_TRACE(trial);
        // Small meshes, meshes narrower than the window, and a few wider ones.
        // (Mesh sides are even.)
        const int32_t width = trial % 10 == 0 ? 150 + 2 * (int32_t)(generator() % 10) : 8 + 2 * (int32_t)(generator() % 30);
        const int32_t height = trial % 10 == 5 ? 140 : trial % 10 == 0 ? 8 : 8 + 2 * (int32_t)(generator() % 30);
        const uint32_t density = trial % 10 == 0 ? 5 : 5 + generator() % 35;
        std::vector<std::string> art(height, std::string(width, '.'));
        for (auto &line : art)
            for (char &c : line)
            {
                const uint32_t roll = generator() % 100;
                c = roll < density ? '#' : roll < density + 4 ? 'a' : roll < density + 8 ? 'b' : '.';
            }
        int32_t sx, sy, dx, dy;
        do
        {
            sx = (int32_t)(generator() % width), sy = (int32_t)(generator() % height);
            dx = (int32_t)(generator() % width), dy = (int32_t)(generator() % height);
            if (trial % 10 == 0) sx %= 8, dx = width - 1 - dx % 8; // a long way east, through the window's edge
        } while (sx == dx && sy == dy);
        if (world_started) dispose_units_world();
        start_world(art);
        const world_point2d from = {sx * 512 + 100, sy * 512 + 300}, to = {dx * 512 + 400, dy * 512 + 17};

        path_variables v;
        memset(&v, 0, sizeof(v));
        v.terrain_impassability_flags = WALL_MASK;
        v.p0 = from;
        v.p1 = to;
        v.x0 = (int16_t)sx, v.y0 = (int16_t)sy, v.x1 = (int16_t)dx, v.y1 = (int16_t)dy;
        if (trial == 61)
        {
            // The search marks its cells with one of 32766 generations: the
            // search below comes back to the generation of this one, its
            // marks left behind, after as many one-step searches between.
            path_variables same = v, step = v;
            build_pathfinding_tree(NONE, &same);
            step.terrain_impassability_flags = 0;
            step.x1 = (int16_t)(sx + 1 < width ? sx + 1 : sx - 1), step.y1 = (int16_t)sy;
            for (int32_t i = 0; i < 32765; ++i) ASSERT_NE(build_pathfinding_tree(NONE, &step), NONE);
        }
        const int32_t expected_end = reference->run(v);
        const int32_t end = build_pathfinding_tree(NONE, &v);
        ASSERT_EQ(end, expected_end);
        ASSERT_EQ(v.flags, reference->flags);
        ASSERT_EQ(get_path_node_count(), reference->node_count);
        for (int32_t i = 0; i < reference->node_count; ++i)
        {
            const path_node *n = get_path_node(i), *r = &reference->nodes[i];
            ASSERT_TRUE(n->x == r->x && n->y == r->y && n->direction == r->direction &&
                        n->parent_node == r->parent_node && n->cost == r->cost && n->total_cost == r->total_cost)
                << "node " << i;
        }
        partial += (v.flags & _partial_path_flag) != 0;
        pool_filled += reference->node_count == MAXIMUM_NODES;
        left_window += width > 128 && (v.flags & _partial_path_flag) && end != NONE &&
                       (get_path_node(end)->x == 0 || get_path_node(end)->x == 127);

        // And the whole request agrees with itself when asked again.
        const request_result first = request(NONE, from, to);
        const request_result second = request(NONE, from, to);
        ASSERT_EQ(first.index >= 0, second.index >= 0);
        if (first.index >= 0)
        {
            EXPECT_EQ(path(first.index)->waypoint.x, path(second.index)->waypoint.x);
            EXPECT_EQ(path(first.index)->waypoint.y, path(second.index)->waypoint.y);
        }
    }
    // The grids reach the search's three endings.
    EXPECT_GT(partial, 10);
    EXPECT_GT(pool_filled, 3);
    EXPECT_GT(left_window, 0);
}

TEST_F(path_test, a_big_open_window_stops_at_the_node_pool)
{
    std::vector<std::string> art(140, std::string(140, '.'));
    for (int32_t x = 0; x < 140; ++x) art[100][x] = '#'; // the destination lies beyond a wall
    start_world(art);
    const request_result r = request(NONE, centre(70, 70), centre(70, 120));
    EXPECT_EQ(get_path_node_count(), MAXIMUM_NODES);
    ASSERT_GE(r.index, 0);
    EXPECT_EQ(path(r.index)->flags, _partial_path_flag);
}

// ---- the path array ------------------------------------------------------------------

TEST_F(path_test, paths_are_freed_by_delete_path_by_the_action_machine_and_with_their_unit)
{
    start_world(16, 16);
    register_state_hash_procedure(hash_paths);
    const int32_t unit = make_unit(centre(2, 2));
    monster_data *m = get_monster_data(unit);
    const uint32_t empty_hash = compute_state_hash();
    const request_result r = request(unit, centre(2, 2), centre(10, 9));
    ASSERT_GE(r.index, 0);
    m->path_index = (int16_t)r.index;
    EXPECT_EQ(m->path_destination.x, path(r.index)->waypoint.x);
    EXPECT_NE(compute_state_hash(), empty_hash);

    int16_t field = m->path_index;
    delete_path(&field);
    EXPECT_EQ(field, NONE);
    EXPECT_FALSE(get_path_data(r.index));
    delete_path(&field); // NONE: nothing to free
    m->path_index = (int16_t)request(unit, centre(2, 2), centre(10, 9)).index;
    const int32_t second = m->path_index;
    set_monster_action(unit, _monster_action_idle, 0); // forgets the path
    EXPECT_EQ(m->path_index, NONE);
    EXPECT_FALSE(get_path_data(second));

    m->path_index = (int16_t)request(unit, centre(2, 2), centre(10, 9)).index;
    const int32_t third = m->path_index;
    delete_monster(unit, false);
    EXPECT_FALSE(get_path_data(third));
}

TEST_F(path_test, a_full_path_array_answers_minus_one)
{
    start_world(16, 16);
    for (int32_t i = 0; i < MAXIMUM_PATHS; ++i) ASSERT_GE(request(NONE, centre(1, 1), centre(1, 1)).index, 0);
    EXPECT_EQ(request(NONE, centre(1, 1), centre(5, 5)).index, NEW_PATH_ARRAY_FULL);
}

// ---- cell services ---------------------------------------------------------------------

TEST_F(path_test, obstructed_cell_bounds_cover_model_cells_of_terrain_14_and_15_up_to_the_last_column)
{
    start_world(16, 16);
    get_mesh_cell(3, 4)->model_index = 0;
    get_mesh_cell(3, 4)->flags = 0x0E;
    get_mesh_cell(15, 15)->model_index = 2;
    get_mesh_cell(15, 15)->flags = 0xF0;
    get_mesh_cell(15, 0)->model_index = 2;
    get_mesh_cell(15, 0)->flags = 0x0F;
    get_mesh_cell(6, 6)->model_index = 1;
    get_mesh_cell(6, 6)->flags = 0xDD; // terrain 13: nothing
    get_mesh_cell(7, 7)->flags = 0xEE; // no model: nothing
    obstructed_cell_bounds boxes[MAXIMUM_OBSTRUCTED_CELL_BOUNDS];
    int32_t count = 0;
    for (const auto &cell : std::vector<std::pair<int32_t, int32_t>>{{3, 4}, {6, 6}, {7, 7}, {-1, 4}, {16, 2}, {15, 15}, {15, 0}})
        report_obstructed_cell_bounds(cell.first, cell.second, boxes, &count, 40);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(boxes[0].left, 3 * 512 - 40);
    EXPECT_EQ(boxes[0].top, 4 * 512 - 40);
    EXPECT_EQ(boxes[0].right, 4 * 512 + 40);
    EXPECT_EQ(boxes[0].bottom, 5 * 512 + 40);
    EXPECT_EQ(boxes[1].left, 15 * 512 - 40);
    EXPECT_EQ(boxes[1].right, 15 * 512 + 40); // the last column's far edge
    EXPECT_EQ(boxes[1].bottom, 15 * 512 + 40); // and the last row's
    EXPECT_EQ(boxes[2].top, -40);
    EXPECT_EQ(boxes[2].bottom, 512 + 40);
    report_obstructed_cell_bounds(3, 4, boxes, &count, 40);
    EXPECT_EQ(count, 4);
    report_obstructed_cell_bounds(3, 4, boxes, &count, 40); // full: nothing more
    EXPECT_EQ(count, 4);
}

TEST_F(path_test, a_lone_waypoint_stops_where_the_line_enters_an_obstructed_neighbour)
{
    start_world(16, 16);
    get_mesh_cell(8, 3)->model_index = 0;
    get_mesh_cell(8, 3)->flags = 0xEE;
    const int32_t unit = make_unit(centre(2, 2), 0, 100);
    path_variables v;
    memset(&v, 0, sizeof(v));
    v.owner_object_index = get_monster_data(unit)->object_index;
    v.p0 = {1024, 1536};
    v.p1 = {4000, 1536 + 100}; // cell (7, 3); its neighbour (8, 3) is obstructed
    const int32_t index = new_path(unit, &v);
    ASSERT_GE(index, 0);
    // The box of (8, 3) grown by 100 begins at x = 3996: the line stops there.
    EXPECT_EQ(path(index)->waypoint.x, 8 * 512 - 100);
    EXPECT_EQ(path(index)->flags, 0);
}

TEST_F(path_test, units_rebuild_their_footprint_when_a_neighbouring_cell_changes)
{
    start_world(16, 16);
    const int32_t unit = make_unit(centre(5, 5));
    const int32_t far = make_unit(centre(12, 12));
    EXPECT_EQ(get_monster_data(unit)->cell_impassability_flags, 0);
    get_mesh_cell(6, 5)->flags = 0x11;
    get_mesh_cell(12, 11)->flags = 0x11;
    update_monster_impassability_for_cell(6, 5);
    EXPECT_EQ(get_monster_data(unit)->cell_impassability_flags, 0x80); // leaving toward higher x
    EXPECT_EQ(get_monster_data(far)->cell_impassability_flags, 0); // not near the changed cell
    update_monster_impassability_for_cell(15, 15); // the corner: only cells on the mesh
}

TEST_F(path_test, allies_keep_apart_by_pathfinding_radius_and_enemies_by_their_bodies)
{
    start_world(16, 16);
    const int32_t a = make_unit(centre(2, 2), 0), b = make_unit(centre(4, 2), 0), enemy = make_unit(centre(6, 2), 1);
    EXPECT_TRUE(use_monster_pathfinding_radius(a, b));
    EXPECT_FALSE(use_monster_pathfinding_radius(a, enemy));
    EXPECT_FALSE(use_monster_pathfinding_radius(a, NONE));
}

// ---- obstacle avoidance ---------------------------------------------------------------

class avoidance_test : public path_test
{
protected:
    int32_t unit = NONE;
    void aim(world_point2d waypoint)
    {
        monster_data *m = get_monster_data(unit);
        const world_point2d here = {2000, 2000};
        m->path_index = (int16_t)request(unit, here, waypoint).index;
        ASSERT_NE(m->path_index, NONE);
        m->desired_yaw = 0;
    }
};

TEST_F(avoidance_test, one_obstacle_ahead_is_passed_on_the_side_away_from_it)
{
    for (int32_t side : {+1, -1})
    {
        SCOPED_TRACE(side);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        unit = make_unit({2000, 2000});
        aim({6000, 2000});
        const int32_t object = make_solid_object({3000, 2000 + side * 100}, 100);
        adjust_path_destination_for_obstacles(unit);
        const monster_data *m = get_monster_data(unit);
        EXPECT_TRUE(m->flags & _monster_has_obstructed_path_flag);
        EXPECT_EQ(m->avoiding_object_index, object);
        // The tangent point lies 918 + 256 from the unit, on the side opposite the obstacle.
        const world_point2d start = {2000, 2000};
        EXPECT_NEAR(distance2d(&start, &m->path_destination), 1174, 2);
        EXPECT_LT((m->path_destination.y - 2000) * side, -300);
        EXPECT_EQ((m->extra_flags & _monster_deviating_left_extra_flag) != 0, side < 0);
    }
}

TEST_F(avoidance_test, a_unit_inside_an_obstacle_gets_a_quarter_turn_tangent_and_zeroes_its_radius)
{
    start_world(16, 16);
    unit = make_unit({2000, 2000});
    aim({6000, 2000});
    make_solid_object({2200, 2000}, 100);
    adjust_path_destination_for_obstacles(unit);
    const obstruction_avoidance_globals *avoidance = get_obstruction_avoidance_globals();
    EXPECT_EQ(avoidance->obstacles[0].radius, 0);
    EXPECT_EQ(avoidance->leftmost_point.x, 2000); // a quarter turn off the bearing, 50 + 256 away
    EXPECT_EQ(avoidance->leftmost_point.y, 2306);
    EXPECT_LT(get_monster_data(unit)->path_destination.y, 2000); // the right side turns less
}

TEST_F(avoidance_test, a_recursion_that_never_clears_leaves_destination_and_flags)
{
    start_world(16, 16);
    unit = make_unit({2000, 2000});
    aim({6000, 2000});
    monster_data *m = get_monster_data(unit);
    m->avoiding_object_index = 77;
    make_solid_object({2100, 2000}, 100); // the unit stays inside it even with its radius zeroed
    adjust_path_destination_for_obstacles(unit);
    EXPECT_EQ(m->path_destination.x, 6000);
    EXPECT_EQ(m->path_destination.y, 2000);
    EXPECT_EQ(m->avoiding_object_index, 77);
    EXPECT_FALSE(m->flags & _monster_has_obstructed_path_flag);
}

TEST_F(avoidance_test, a_destination_inside_an_obstacle_is_pulled_back_and_near_ones_need_no_avoidance)
{
    start_world(16, 16);
    unit = make_unit({2000, 2000});
    aim({4000, 2000});
    make_solid_object({4300, 2000}, 200); // clearance 200 + 95 + 50 = 345
    adjust_path_destination_for_obstacles(unit);
    // k = 9 gives (3800, 2000), 500 from the centre: outside.
    EXPECT_EQ(get_monster_data(unit)->path_destination.x, 3800);
    EXPECT_EQ(get_monster_data(unit)->path_destination.y, 2000);

    monster_data *m = get_monster_data(unit);
    delete_path(&m->path_index);
    aim({2040, 2040});
    m->flags |= _monster_has_obstructed_path_flag;
    adjust_path_destination_for_obstacles(unit);
    EXPECT_FALSE(m->flags & _monster_has_obstructed_path_flag);
    delete_path(&m->path_index);
    adjust_path_destination_for_obstacles(unit); // no path: stays where it is
    EXPECT_EQ(m->path_destination.x, 2000);
}

TEST_F(avoidance_test, a_mesh_narrower_than_the_obstacle_block_finds_only_cells_on_it)
{
    start_world(12, 12);
    unit = make_unit({1000, 1000});
    aim({5500, 5500});
    get_monster_data(unit)->desired_yaw = 8192;
    make_solid_object({5700, 5700}, 50);
    make_solid_object({3000, 3100}, 100);
    adjust_path_destination_for_obstacles(unit);
    EXPECT_EQ(get_obstruction_avoidance_globals()->obstacle_count, 2);
    EXPECT_TRUE(get_monster_data(unit)->flags & _monster_has_obstructed_path_flag);
}

// Blocks of a wide mesh, wherever they start (the mesh's left edge, a
// multiple of 64 or beside one, the right edge), find the objects of their
// first and last columns and none beside them, with the checker and without.
TEST_F(avoidance_test, a_wide_mesh_block_finds_its_edge_columns_on_either_side_of_a_word)
{
    for (const int32_t corner : {0, 48, 56, 63, 64, 100, 144})
        for (const bool checking : {false, true})
        {
            SCOPED_TRACE(testing::Message() << "corner " << corner << (checking ? ", checking" : ""));
            if (world_started) dispose_units_world();
            start_world(160, 16);
            const world_point2d here = centre(corner + 4, 8);
            unit = make_unit(here);
            monster_data *m = get_monster_data(unit);
            m->path_index = (int16_t)request(unit, here, centre(corner + 12, 8)).index;
            ASSERT_NE(m->path_index, NONE);
            m->desired_yaw = 0;
            for (const int32_t x : {corner - 1, corner, corner + 15, corner + 16})
                if (x >= 0 && x < 160) make_solid_object(centre(x, 2), 50);
            set_obstacle_facts_checking(checking);
            adjust_path_destination_for_obstacles(unit);
            EXPECT_EQ(get_obstruction_avoidance_globals()->obstacle_count, 2);
            EXPECT_EQ(obstacle_facts_mismatches(), 0);
            EXPECT_TRUE(object_chains_are_consistent());
            set_obstacle_facts_checking(false);
        }
}

TEST_F(avoidance_test, a_destination_is_pulled_back_by_the_clearance_each_version_gives_the_obstacle)
{
    // The waypoint lies 300 from the obstacle's centre; the full clearance
    // (200 + 95 + 50 = 345, or 200 + 95 + 81 in 1500) pulls it back to 3800,
    // half of it does not.
    struct row
    {
        const char *name;
        int32_t version;
        int16_t owner;
        int16_t owner_index;
        bool flag_object;
        bool pulled;
    };
    const row rows[] = {
        {"scenery, 1300", 1300, _object_is_scenery, 3, false, true},
        {"scenery, 1301", 1301, _object_is_scenery, 3, false, false},
        // In 1500 a projectile is judged by the scenery definition at its own
        // index: none is loaded at 100, so it is halved, flag or no flag.
        {"flag-carrying projectile 100, 1500", 1500, _object_is_projectile, 100, true, false},
        {"flag-carrying projectile 100, 1501", 1501, _object_is_projectile, 100, true, true},
        {"flag-carrying projectile 100, 1499", 1499, _object_is_projectile, 100, true, true},
        {"projectile, 1501", 1501, _object_is_projectile, 100, false, false},
        {"dormant projectile, 1501", 1501, _object_is_dormant_projectile, 100, true, false},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = r.version;
        unit = make_unit({2000, 2000});
        aim({4000, 2000});
        const int32_t object = make_solid_object({4300, 2000}, 200);
        get_object(object)->owner = r.owner;
        get_object(object)->owner_index = r.owner_index;
        if (r.flag_object) get_object(object)->flags |= _object_is_flag_flag;
        adjust_path_destination_for_obstacles(unit);
        ASSERT_EQ(get_obstruction_avoidance_globals()->obstacle_count, 1);
        // Pulled back to 3800 the leg clears the obstacle; left at 4000 it has to bend round it.
        const monster_data *m = get_monster_data(unit);
        if (r.pulled)
        {
            EXPECT_EQ(m->path_destination.x, 3800);
            EXPECT_EQ(m->path_destination.y, 2000);
        }
        EXPECT_EQ((m->flags & _monster_has_obstructed_path_flag) != 0, !r.pulled);
    }
}

TEST_F(avoidance_test, moving_units_stop_being_obstacles_by_the_rules_of_each_version)
{
    struct row
    {
        const char *name;
        int32_t version;
        bool walks_around;
        angle mover_yaw, other_yaw;
        int16_t other_action;
        world_point2d other_at;
        int16_t other_player;
        int32_t obstacles;
    };
    // The mover (speed 20) faces east; the ally ahead is slower (10) and near,
    // so the rule of allies walking the same way does not pass it over.
    const row rows[] = {
        // From 1501 a unit that walks around blockages passes over a moving ally facing its way.
        {"facing ally, 1500", 1500, true, 65000, 65000, _monster_action_moving, {2800, 2000}, 0, 1},
        {"facing ally, 1501", 1501, true, 65000, 65000, _monster_action_moving, {2800, 2000}, 0, 0},
        {"facing ally, 1501, not walking around", 1501, false, 65000, 65000, _monster_action_moving, {2800, 2000}, 0, 1},
        // Before 1721 a mover facing a non-negative yaw passes over any moving ally.
        {"oncoming ally, 1720", 1720, true, 0, HALF_CIRCLE, _monster_action_moving, {2800, 2000}, 0, 0},
        {"oncoming ally, 1721", 1721, true, 0, HALF_CIRCLE, _monster_action_moving, {2800, 2000}, 0, 1},
        // From 1601 a plain player-controlled unit ignores units more than 1536 beyond their radii.
        {"distant enemy, 1600", 1600, false, 0, 0, _monster_action_idle, {7000, 2000}, 1, 1},
        {"distant enemy, 1601", 1601, false, 0, 0, _monster_action_idle, {7000, 2000}, 1, 0},
        {"near enemy, 1601", 1601, false, 0, 0, _monster_action_idle, {3500, 2000}, 1, 1},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = r.version;
        unit = make_unit({2000, 2000});
        aim({6000, 2000});
        const int32_t other = make_unit(r.other_at, r.other_player);
        monster_definition *definition = get_monster_definition(get_monster_data(unit)->type);
        definition->more_hack_flags = r.walks_around ? _monster_more_hack_walks_around_blockage_flag : 0;
        set_monster_action(other, r.other_action, 0);
        monster_data *m = get_monster_data(unit), *o = get_monster_data(other);
        o->flags &= ~(uint32_t)_monster_needs_new_path_flag;
        m->base_movement_speed = 20;
        o->base_movement_speed = 10;
        get_object(m->object_index)->location.yaw = r.mover_yaw;
        get_object(o->object_index)->location.yaw = r.other_yaw;
        unit_obstacle_facts_changed(o); // what the game's writers of these fields do
        adjust_path_destination_for_obstacles(unit);
        EXPECT_EQ(get_obstruction_avoidance_globals()->obstacle_count, r.obstacles);
        definition->more_hack_flags = 0;
    }
}

} // namespace

} // namespace path_test_file
