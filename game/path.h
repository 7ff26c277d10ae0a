#pragma once
// Pathfinding: the path array, the grid search and obstacle avoidance.
//
// A path never holds a whole route.  A best-first search over the mesh cells
// of a 128 x 128 window finds a chain of cells, the chain is straightened
// into at most 24 temporary waypoints, and only the end of the first leg that
// can be walked in a straight line becomes the path's one waypoint; the unit
// asks again when it gets there.  Obstacle avoidance then bends the current
// leg around the units and objects standing ahead of the unit.
//
// Simulation: integer arithmetic; search costs are signed 16-bit values that
// wrap on purpose; no random draws.  The node pool and the obstacle record are
// scratch space, valid during one call.  Every rule is in docs/determinism.md
// ("Pathfinding").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct datum_globals;

enum
{
    MAXIMUM_PATHS = 400,
    PATH_BOX_WIDTH = 128, // side of the search window, in cells
    MAXIMUM_NODES = 1024,
    COST_PER_CELL = 16,
    COST_PER_DIAGONAL_CELL = 22,
    FIRE_PENALTY_MULTIPLIER = 5,
    MAXIMUM_TEMPORARY_WAYPOINTS = 24,
    MINIMUM_AVOID_RADIUS = 85,
    FUDGE_FACTOR = 10,
    TRUE_AVOID_RADIUS = 255,
    FIND_POSSIBLE_OBSTACLES_BOX_WIDTH = 16,
    MAXIMUM_OBSTACLES_TO_CONSIDER = 64,
    ITERATION_CUTOFF = 20,
    MAXIMUM_PATH_SEGMENT_DISTANCE = 8192, // 16 cells
    OVERSHOOT_DISTANCE = 256,
    MINIMUM_ADJUST_RADIUS = 128,
    ATTACK_ADJUST_RADIUS = 512,
    DISTANCE_TO_AVOID_SLOWPOKES = 1024,
    NUMBER_OF_DIRECTIONS = 8,
    // Room report_obstructed_cell_bounds fills at most.
    MAXIMUM_OBSTRUCTED_CELL_BOUNDS = 4,
};

enum path_flags
{
    _partial_path_flag = 0x1, // the search did not reach the destination cell
};

enum avoidance_state
{
    _finding_leftmost = 0,
    _finding_rightmost = 1,
};

// Directions 0-3 are diagonal, 4-7 straight.
extern const int8_t direction_delta_x[NUMBER_OF_DIRECTIONS];
extern const int8_t direction_delta_y[NUMBER_OF_DIRECTIONS];

// One path, in the data array "path".  In memory only; hashed field by field.
struct postprocessed_path_data
{
    int16_t identifier; // 0: free slot
    uint16_t flags; // path_flags
    world_point2d waypoint; // where the unit walks next
    int32_t monster_index; // the owner
};

// A request, filled by the caller and partly rewritten here.
struct path_variables
{
    uint16_t flags; // receives _partial_path_flag
    uint16_t terrain_impassability_flags; // bit t: terrain type t cannot be entered
    int32_t owner_object_index; // the unit's object (its radius trims a lone waypoint)
    world_point2d p0, p1; // start and destination
    int16_t x0, y0, x1, y1; // their cells, filled by new_path
};

// One search node of the static pool.
struct path_node
{
    int16_t next_node; // NONE: the open list is kept beside the pool
    int16_t parent_node; // NONE for the start node
    uint8_t x, y; // cell relative to the search window
    int8_t direction; // how it was reached; -1 for the start node
    int16_t cost; // from the start (wraps)
    int16_t total_cost; // cost + estimate (wraps)
};

// ---- life cycle ----------------------------------------------------------------

// Start-up: the "path" array.  False when it cannot be made.
bool initialize_pathfinding(void);
void initialize_pathfinding_for_new_map(void);
void dispose_pathfinding_from_old_map(void);

datum_globals *get_path_array(void);
// The path at `path_index`, null for a free slot or an index out of range.
postprocessed_path_data *get_path_data(int32_t path_index);

// Adds every used path in index order (registered with the units' start-up).
void hash_paths(uint32_t *hash);

// ---- paths ---------------------------------------------------------------------

enum
{
    NEW_PATH_ARRAY_FULL = -1,
    NEW_PATH_NO_ROUTE = -2,
};

// Clamps the request's points into the mesh, fills its cells and makes a path
// for the unit: the new path's index, with the unit's path_destination set to
// its waypoint.  NEW_PATH_ARRAY_FULL when the array is full.  NEW_PATH_NO_ROUTE
// when nothing can be reached from the start: the request's p1 is then p0, so
// the same request asked again succeeds at once with a path to where the unit
// stands.  The caller frees the unit's old path first and stores the index.
int32_t new_path(int32_t monster_index, path_variables *variables);

// Units' requests (not those without a unit) may be answered from a
// remembered search with the same cells, mask and fire factor that read the
// same answers from every cell it read (barred, burning), or from one with
// the same step from start to destination made elsewhere, whose cells moved
// as far answer the same and whose touched cells stay clear of the window's
// frame and the mesh's edge; the node pool then keeps what the last search
// left in it.
// With checking on, every such answer is searched again and compared; the
// counts say how many were (of them how many moved) and how many differed.
// The fault (tests) answers without reading the cells again.
struct path_sharing_check_counts
{
    int64_t recalls_checked, moved_recalls_checked, mismatches;
};
void set_path_sharing_checking(bool on); // also sets the counts to 0
path_sharing_check_counts get_path_sharing_check_counts(void);
void plant_path_sharing_fault(bool on);
// Forgets every remembered search (a new map does too).
void forget_remembered_searches(void);

// Frees the path the field names (NONE or a free slot: nothing to free) and
// sets the field to NONE.
void delete_path(int16_t *path_index);

// The grid search behind new_path (start and destination in different cells,
// both on the mesh, cells filled).  The end node's index in the pool, NONE
// when there is no route; sets or clears _partial_path_flag in the request.
int32_t build_pathfinding_tree(int32_t monster_index, path_variables *variables);
// The temporary waypoints of a route of `step_count` directions from the cell:
// the centre of the cell each straight run ends in, at most 23 (see
// docs/determinism.md); returns their count.  `waypoints` holds
// MAXIMUM_TEMPORARY_WAYPOINTS.  A direction outside 0-7 is reported and ends
// the walk.
int32_t build_temporary_waypoints(int32_t cell_x, int32_t cell_y, const int8_t *directions, int32_t step_count,
                                  world_point2d *waypoints);
// Straightens the route ending at `end_node` into the path's waypoint.
void postprocess_path(postprocessed_path_data *path, int32_t end_node, const path_variables *variables);
// What the last search left in the pool: its node count, a node (null outside
// the pool), and the window's corner in cells.
int32_t get_path_node_count(void);
const path_node *get_path_node(int32_t node_index);
void get_path_window_origin(int32_t *left, int32_t *top);

// The line test: true when every cell the line from source to target crosses
// is passable for `terrain_mask` (and, with `fire_test`, not burning now).
// Cells off the mesh do not block.
bool path_line_is_clear(const world_point2d *source, const world_point2d *target, uint16_t terrain_mask,
                        bool fire_test);

// Whether the cell lies on the mesh and neither of its triangles' terrain types
// is set in `terrain_mask`.
bool path_cell_is_passable(int32_t cell_x, int32_t cell_y, uint16_t terrain_mask);

// The fire factor of the search (5 x the unit's magical-damage effect
// modifier, as a signed 16-bit value); 0 for no unit.
int16_t path_fire_factor(int32_t monster_index);

// ---- obstacle avoidance ----------------------------------------------------------

enum obstacle_flags
{
    _obstacle_is_friendly_monster_flag = 0x1,
    _obstacle_is_temporary_flag = 0x2,
};

struct obstacle
{
    uint16_t flags; // obstacle_flags
    world_point2d center;
    int16_t radius;
    int16_t object_index;
};

struct obstruction_avoidance_globals
{
    obstacle obstacles[MAXIMUM_OBSTACLES_TO_CONSIDER];
    int32_t obstacle_count;
    int32_t monster_index;
    world_point2d start; // the unit's position
    int32_t monster_radius;
    int32_t friendly_monster_radius;
    world_point2d leftmost_point, rightmost_point; // (-1, -1) when not found
    int16_t leftmost_object_index, rightmost_object_index;
    bool avoiding_same_object_again;
};

// Puts the path's waypoint (the unit's own position without a path) into the
// unit's path_destination and bends it around the obstacles ahead; sets or
// clears _monster_has_obstructed_path_flag, _monster_deviating_left_extra_flag
// and avoiding_object_index.
void adjust_path_destination_for_obstacles(int32_t monster_index);

// One tangent point around the obstacles of the current avoidance call (see
// adjust_path_destination_for_obstacles): true when it met a blocking
// obstacle.  Recursive, cut off past depth ITERATION_CUTOFF.
bool find_avoidance_point(const world_point2d *end_point, int32_t state, int32_t avoided_object_index,
                          int32_t depth);

// The tangent search ends a loop at once (a level that meets an earlier
// level's end point with every obstacle as it was then repeats the levels in
// between down to the cut-off).  With checking on, each loop's answer is kept
// aside and the levels are walked in full; the counts say how many loops were
// found and checked and how many answers differed.  Each obstacle's reach
// (its radius and the mover's) is worked out once for all the levels and
// again only when an obstacle changes; with checking on, the kept reaches
// are also compared with the obstacles at every level, and a difference
// counts as a mismatch.  The fault (tests) makes the answer that of the
// wrong level.
struct avoidance_loop_check_counts
{
    int64_t loops_found, loops_checked, mismatches;
};
void set_avoidance_loop_checking(bool on); // also sets the counts to 0
avoidance_loop_check_counts get_avoidance_loop_check_counts(void);
void plant_avoidance_loop_fault(bool on);

// The obstacle collection passes over a cell of its block when every unit in
// the cell stands too far from a plain unit to count and the cell holds
// nothing else, and over a cell whose every object its kept facts do not
// refuse is a moving unit that the mover's rules for moving units refuse
// whatever its distance (allies marching its way), as the cell's kept
// summary (scan_cell_motion, objects.h) says.  With checking on, those cells
// are walked all the same and counted, any obstacle met in one is counted as
// a mismatch, and so is a kept summary that differs from the scan chain's.
// The fault (tests) passes over the first kind of cell whatever else it holds.
struct obstacle_skipping_check_counts
{
    int64_t cells_skipped, moving_cells_skipped, mismatches;
};
void set_obstacle_skipping_checking(bool on); // also sets the counts to 0
obstacle_skipping_check_counts get_obstacle_skipping_check_counts(void);
void plant_obstacle_skipping_fault(bool on);

// The obstacle record of the last avoidance call (tests, benchmarks).
const obstruction_avoidance_globals *get_obstruction_avoidance_globals(void);

// ---- unit services ------------------------------------------------------------------

// Whether two units keep apart by their definitions' pathfinding radii rather
// than their objects' radii: true when both exist and are allied.
bool use_monster_pathfinding_radius(int32_t monster_index, int32_t other_monster_index);

// A box a unit's centre may not enter: left, top, right, bottom.
struct obstructed_cell_bounds
{
    world_distance left, top, right, bottom;
};

// For a cell on the mesh that holds a model and has terrain type 14 or 15 in
// either triangle, appends (x * 512 - radius, y * 512 - radius, (x + 1) * 512 +
// radius, (y + 1) * 512 + radius) to `boxes` at *count and counts it; a far
// edge at the last column or row is (mesh size - 1) * 512 + radius.  Other
// cells, and a full list (MAXIMUM_OBSTRUCTED_CELL_BOUNDS), add nothing.
void report_obstructed_cell_bounds(int32_t cell_x, int32_t cell_y, obstructed_cell_bounds *boxes, int32_t *count,
                                   int32_t radius);

// Rebuilds cell_impassability_flags of every unit whose object stands in the
// cell or one of its eight neighbours (cells on the mesh only): call after the
// terrain of the cell changed.
void update_monster_impassability_for_cell(int32_t cell_x, int32_t cell_y);
