// Pathfinding: the path array, the grid search and obstacle avoidance.  See path.h.

#include "path.h"

#include <bit>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cseries/log.h"
#include "fire.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "players.h"
#include "record_reader.h"
#include "scenery.h"
#include "state_hash_kept_records.h"
#include "tag_files/data.h"

const int8_t direction_delta_x[NUMBER_OF_DIRECTIONS] = {1, 1, -1, -1, 0, 1, 0, -1};
const int8_t direction_delta_y[NUMBER_OF_DIRECTIONS] = {1, -1, -1, 1, 1, 0, -1, 0};

enum
{
    MAXIMUM_GRID_WAYPOINTS = MAXIMUM_TEMPORARY_WAYPOINTS - 1, // 23 come from the grid route
    SEEN_STRIDE = PATH_BOX_WIDTH + 2,
    FIRE_CELL_FLAG = 0x200,
    OBSTRUCTING_TERRAIN_A = 14,
    OBSTRUCTING_TERRAIN_B = 15,
};

// What the search knows of a cell of its window, as a stamp: a search marks
// cells with its own pair of stamps (2g passable and taken, 2g + 1 barred or
// off the mesh, for its generation g), so any other value inside the window
// is a cell not seen yet and nothing is cleared between searches.  The frame
// around the window holds SEEN_FRAME, put back wherever a search stamped it.
enum
{
    SEEN_FRAME = 0xFFFF,
    LAST_SEEN_GENERATION = 0x7FFE, // 2g + 1 stays below SEEN_FRAME
    FRAME_CELLS = 4 * SEEN_STRIDE,
};

// The open list.  The search takes the node with the lowest total cost and,
// among equal totals, the newest one: the order of a list kept sorted by
// inserting each node before the first entry whose total is not lower.  So
// each total cost has its own stack of nodes (the newest on top), and three
// levels of bitmaps over the 65536 totals find the lowest one not empty.
struct open_list
{
    enum
    {
        BUCKETS = 65536, // every signed 16-bit total, lowest first
        LEAVES = BUCKETS / 64,
        MIDDLES = LEAVES / 64,
    };
    uint64_t top; // bit i: middle[i] is not empty
    uint64_t middle[MIDDLES]; // bit j of word i: leaves[i * 64 + j] is not empty
    uint64_t leaves[LEAVES]; // bit k of word w: bucket w * 64 + k holds a node
    int16_t heads[BUCKETS]; // each bucket's newest node (while its bit is set)
    int16_t below[MAXIMUM_NODES]; // the node under each node in its bucket
};

// The levels of one tangent search (find_avoidance_point and the calls it
// makes on itself).  A level's work depends only on its end point and on the
// obstacles' radii (which only ever drop to 0), so a level that meets the end
// point of an earlier level with the radii as they were then repeats the
// levels since, again and again, down to the cut-off: the search ends at once
// with the object the last level would choose.  Crowds make such loops
// common (two neighbours whose tangents lead back to each other).
struct avoidance_chain
{
    int32_t first_depth; // the depth the search was asked at
    int32_t levels; // recorded levels: level i ran at depth first_depth + i
    world_point2d points[ITERATION_CUTOFF + 1]; // each level's end point
    uint32_t generations[ITERATION_CUTOFF + 1]; // `generation` as each level began
    int16_t chosen[ITERATION_CUTOFF + 1]; // the object each level chose
    uint32_t generation; // bumped whenever an obstacle's radius drops to 0
    // The checker: a loop's answer is kept aside, the levels are walked in
    // full, and the two are compared when the search returns.
    bool checking, pending, fault;
    int16_t predicted;
    avoidance_loop_check_counts counts;
};

// Searches remembered for units' requests (the units of one order often ask
// the same).  A search's outcome follows from the request's cells, mask and
// fire factor, the mesh's size, and what it read of each cell: whether the
// mask bars it and, for a cell it took, whether it burns now.  So a remembered
// search answers a request when the key is the same and every cell it read
// still gives the same answers; nothing else needs to know when terrain or
// fire changes.  Local to this machine, never hashed.
// A search moved by whole cells goes step for step as the remembered one
// did as long as each cell it touches answers as the remembered one's did:
// the costs, the estimate and the order of the open list follow from cells
// relative to the start.  Only the frame around the window, the cells off
// the mesh (neither is read into the log), the start cell's directions (by
// the parity of its cell) and the full pool's edge nodes (by the window)
// know where the search stands.  So a search that touched neither frame nor
// off-mesh cells and did not fill its pool also answers the units of an
// order that ask the same step from other cells (the start and destination
// moved alike), where its touched cells moved stay inside the window and on
// the mesh and its start's directions are those of the same parity.
enum
{
    REMEMBERED_SEARCHES = 32,
    BARRED_TABLES = 4,
    MAXIMUM_REMEMBERED_READS = 2048, // a search that read more is not remembered
};

struct remembered_search
{
    bool used;
    int16_t x0, y0, x1, y1;
    uint16_t mask;
    int16_t fire_factor;
    int32_t mesh_width, mesh_height;
    const mesh_cell *cells;
    uint8_t start_barred; // which of the start cell's two types the mask bars
    bool found; // an end node (else no route)
    uint16_t partial; // _partial_path_flag or 0
    int32_t exit_cell; // as path_globals.exit_cell
    int32_t step_count;
    int8_t steps[MAXIMUM_NODES]; // from the end node back to the start
    // Whether it may answer a request moved by whole cells, and the box of
    // every cell it touched (the expanded cells and their neighbours).
    bool movable;
    int32_t box_left, box_top, box_right, box_bottom;
    int32_t read_count;
    int32_t reads[MAXIMUM_REMEMBERED_READS]; // cell index * 4, + 1 when barred, + 2 when taken and burning
};

struct remembered_searches
{
    remembered_search entries[REMEMBERED_SEARCHES];
    // Each entry's cells as search_key packs them, side by side for the
    // look-up (an entry not used may hold any).
    uint64_t keys[REMEMBERED_SEARCHES];
    // And its step from start to destination as search_step packs it, for a
    // movable entry (else 0, which no request has).
    uint64_t steps[REMEMBERED_SEARCHES];
    int32_t next; // the entry the next search takes
    // Whether a mask bars a cell, by the low byte of its flags (its two
    // triangles' types), for the last few masks asked (units of a few
    // kinds ask in turn); each is known once its table is filled.
    uint8_t barred[BARRED_TABLES][256];
    uint16_t barred_masks[BARRED_TABLES];
    bool barred_known[BARRED_TABLES];
    int32_t next_barred; // the table the next mask takes
    bool checking, fault;
    path_sharing_check_counts counts;
};

static struct path_globals
{
    datum_globals paths = {.name = "path", .size = sizeof(postprocessed_path_data), .maximum_count = MAXIMUM_PATHS};
    path_node nodes[MAXIMUM_NODES];
    int32_t node_count;
    int32_t window_left, window_top;
    int16_t fire_factor; // of the search under way
    uint16_t seen[SEEN_STRIDE * SEEN_STRIDE]; // the search window framed by a row or column on each side
    uint16_t seen_generation; // of the last search; 0: `seen` not laid out yet
    // The frame cells the last search stamped (each at most once).
    int16_t frame_stamped[FRAME_CELLS];
    int32_t frame_stamped_count;
    int32_t exit_cell; // the passable cell beyond the window the last search ended at, NONE
    // The box of the cells the last search expanded (empty when it ended
    // before the first).
    int32_t expanded_left, expanded_top, expanded_right, expanded_bottom;
    // What the last search read of each cell it marked, as remembered_search
    // keeps it; `read_count` goes on counting past the room.
    int32_t read_log[MAXIMUM_REMEMBERED_READS];
    int32_t read_count;
    remembered_searches remembered;
    obstruction_avoidance_globals avoidance;
    avoidance_chain chain; // of the tangent search under way
    open_list open; // of the search under way
    struct
    {
        bool checking, fault;
        obstacle_skipping_check_counts counts;
    } skipping; // of the obstacle collection
    // Bumped whenever the obstacles change (a collection, a radius dropping
    // to 0), so that what is worked out from them is known to be current.
    uint32_t obstacle_changes;
    // Each obstacle's reach (its radius and the mover's) and the widest, as
    // of `changes`: the same for every level of a tangent search.
    struct
    {
        uint32_t changes;
        int32_t count, monster_radius, friendly_monster_radius;
        int32_t widest;
        int32_t reach[MAXIMUM_OBSTACLES_TO_CONSIDER];
        bool valid;
    } obstacle_reach;
} path_globals;

// Kept CRCs of the paths (state_hash.h): local, never hashed.  A path whose
// waypoint did not move gives its kept CRC.
static state_hash_record_cache path_hash_records;

// ---- life cycle ----------------------------------------------------------------

bool initialize_pathfinding(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    return path_globals.paths.blocks || initialize_data(&path_globals.paths);
}

void initialize_pathfinding_for_new_map(void)
{
    initialize_data_for_new_map(&path_globals.paths);
    forget_remembered_searches();
    path_hash_records.forget();
}

void dispose_pathfinding_from_old_map(void)
{
    dispose_data_from_old_map(&path_globals.paths);
    path_hash_records.forget();
}

datum_globals *get_path_array(void) { return &path_globals.paths; }

postprocessed_path_data *get_path_data(int32_t path_index)
{
    if (!path_globals.paths.blocks || path_index < 0 || path_index >= path_globals.paths.capacity) return nullptr;
    return (postprocessed_path_data *)get_datum(&path_globals.paths, path_index);
}

enum { PATH_HASH_SIZE = 6 * 4 };

static void write_path_hash_bytes(int32_t index, const postprocessed_path_data *path, uint8_t *out)
{
    state_hash_cursor cursor = {out};
    cursor.put(index); cursor.put(path->identifier); cursor.put(path->flags); cursor.put(path->waypoint.x);
    cursor.put(path->waypoint.y); cursor.put(path->monster_index);
}

void hash_paths(uint32_t *hash)
{
    state_hash_add_kept_records<postprocessed_path_data, PATH_HASH_SIZE>(hash, &path_hash_records, &path_globals.paths,
                                                                         path_globals.paths.count,
                                                                         write_path_hash_bytes);
}

// ---- cells ------------------------------------------------------------------------

static bool cell_on_mesh(int32_t cell_x, int32_t cell_y)
{
    return cell_x >= 0 && cell_y >= 0 && cell_x < mesh_width && cell_y < mesh_height;
}

static bool terrain_bars(uint16_t flags, uint16_t terrain_mask)
{
    return ((terrain_mask >> (flags & 0xF)) | (terrain_mask >> ((flags >> 4) & 0xF))) & 1;
}

bool path_cell_is_passable(int32_t cell_x, int32_t cell_y, uint16_t terrain_mask)
{
    return cell_on_mesh(cell_x, cell_y) && !terrain_bars(get_mesh_cell(cell_x, cell_y)->flags, terrain_mask);
}

static bool cell_burns(int32_t cell_x, int32_t cell_y, uint16_t flags)
{
    return (flags & FIRE_CELL_FLAG) && cell_is_on_fire(cell_x, cell_y);
}

// ---- effect modifier ----------------------------------------------------------------

// The unit's magical-damage modifier under pathfinding's own version rules
// (the artifact counts from 1690).
static int32_t magical_effect_modifier(int32_t monster_index)
{
    const int32_t version = current_gameplay_version;
    return get_monster_effect_modifiers(monster_index, version > 1689, version < 1721,
                                        version > 1800)[_effect_modifier_magical];
}

int16_t path_fire_factor(int32_t monster_index)
{
    const monster_data *monster = monster_index == NONE ? nullptr : get_monster_data(monster_index);
    if (!monster) return 0;
    return (int16_t)(FIRE_PENALTY_MULTIPLIER * magical_effect_modifier(monster_index));
}

// ---- grid search --------------------------------------------------------------------

int32_t get_path_node_count(void) { return path_globals.node_count; }

const path_node *get_path_node(int32_t node_index)
{
    return node_index >= 0 && node_index < path_globals.node_count ? &path_globals.nodes[node_index] : nullptr;
}

void get_path_window_origin(int32_t *left, int32_t *top)
{
    *left = path_globals.window_left;
    *top = path_globals.window_top;
}

static int32_t window_edge(int32_t start, int32_t mesh_size)
{
    if (start <= PATH_BOX_WIDTH / 2 - 1) return 0;
    int32_t edge = start - PATH_BOX_WIDTH / 2;
    // On a mesh narrower than the window the window reaches past its far edge.
    if (mesh_size >= PATH_BOX_WIDTH && mesh_size - PATH_BOX_WIDTH < edge) edge = mesh_size - PATH_BOX_WIDTH;
    return edge;
}

static int32_t path_estimate(int32_t cell_x, int32_t cell_y, const path_variables *variables)
{
    int32_t dx = cell_x - variables->x1, dy = cell_y - variables->y1;
    if (dx < 0) dx = -dx;
    if (dy < 0) dy = -dy;
    return dx > dy ? COST_PER_CELL * dx + (COST_PER_CELL / 2) * dy : COST_PER_CELL * dy + (COST_PER_CELL / 2) * dx;
}

// Bit n of the entry: direction n may be tried from a cell whose triangles are
// barred as indexed (bit 0: the low nibble's type, bit 1: the high one's), by
// the parity of the cell's x + y.
static const uint8_t allowed_directions[4][2] = {{255, 255}, {157, 206}, {103, 59}, {5, 10}};

// Empties the list (only the words a search left set are touched).
static void open_list_clear(open_list *open)
{
    for (uint64_t middles = open->top; middles; middles &= middles - 1)
    {
        const int32_t i = std::countr_zero(middles);
        for (uint64_t leaves = open->middle[i]; leaves; leaves &= leaves - 1)
            open->leaves[i * 64 + std::countr_zero(leaves)] = 0;
        open->middle[i] = 0;
    }
    open->top = 0;
}

static inline bool open_list_empty(const open_list *open) { return open->top == 0; }

static inline __attribute__((always_inline)) void open_list_push(open_list *open, const path_node *nodes,
                                                                  int32_t node)
{
    const uint32_t bucket = (uint16_t)nodes[node].total_cost ^ 0x8000u; // signed order
    const uint32_t leaf = bucket >> 6, bit = bucket & 63;
    if (open->leaves[leaf] >> bit & 1)
        open->below[node] = open->heads[bucket];
    else
    {
        open->below[node] = NONE;
        open->leaves[leaf] |= (uint64_t)1 << bit;
        open->middle[leaf >> 6] |= (uint64_t)1 << (leaf & 63);
        open->top |= (uint64_t)1 << (leaf >> 6);
    }
    open->heads[bucket] = (int16_t)node;
}

static inline int32_t open_list_pop(open_list *open)
{
    const uint32_t i = (uint32_t)std::countr_zero(open->top);
    const uint32_t leaf = i * 64 + (uint32_t)std::countr_zero(open->middle[i]);
    const uint32_t bucket = leaf * 64 + (uint32_t)std::countr_zero(open->leaves[leaf]);
    const int32_t node = open->heads[bucket];
    const int32_t below = open->below[node];
    if (below != NONE)
        open->heads[bucket] = (int16_t)below;
    else if ((open->leaves[leaf] &= open->leaves[leaf] - 1) == 0 &&
             (open->middle[i] &= ~((uint64_t)1 << (leaf & 63))) == 0)
        open->top &= ~((uint64_t)1 << i);
    return node;
}

static inline bool on_window_edge(const path_node *node)
{
    // x - 1 wraps to 255 at the near edge: one test per axis.
    return (uint8_t)(node->x - 1) >= PATH_BOX_WIDTH - 2 || (uint8_t)(node->y - 1) >= PATH_BOX_WIDTH - 2;
}

// How many nodes of the open list stand on the window's edge.
static int32_t count_open_edge_nodes(const open_list *open, const path_node *nodes)
{
    int32_t count = 0;
    for (uint64_t middles = open->top; middles; middles &= middles - 1)
    {
        const int32_t i = std::countr_zero(middles);
        for (uint64_t leaves = open->middle[i]; leaves; leaves &= leaves - 1)
        {
            const int32_t leaf = i * 64 + std::countr_zero(leaves);
            for (uint64_t buckets = open->leaves[leaf]; buckets; buckets &= buckets - 1)
                for (int32_t node = open->heads[leaf * 64 + std::countr_zero(buckets)]; node != NONE;
                     node = open->below[node])
                    if (on_window_edge(&nodes[node])) ++count;
        }
    }
    return count;
}

// Starts a search's generation of stamps: the frame cells the last search
// stamped are put back, and when the generations run out `seen` is laid out
// afresh (every cell unseen, the frame around it).
static uint16_t next_seen_generation(void)
{
    uint16_t *seen = path_globals.seen;
    for (int32_t i = 0; i < path_globals.frame_stamped_count; ++i) seen[path_globals.frame_stamped[i]] = SEEN_FRAME;
    path_globals.frame_stamped_count = 0;
    if (path_globals.seen_generation == 0 || path_globals.seen_generation >= LAST_SEEN_GENERATION)
    {
        for (int32_t y = 0; y < SEEN_STRIDE; ++y)
            for (int32_t x = 0; x < SEEN_STRIDE; ++x)
                seen[y * SEEN_STRIDE + x] =
                    x == 0 || y == 0 || x == SEEN_STRIDE - 1 || y == SEEN_STRIDE - 1 ? SEEN_FRAME : 0;
        path_globals.seen_generation = 0;
    }
    return ++path_globals.seen_generation;
}

// Notes what the search read of a cell it marks (see remembered_search).
static inline void log_read(int32_t answer)
{
    if (path_globals.read_count < MAXIMUM_REMEMBERED_READS) path_globals.read_log[path_globals.read_count] = answer;
    path_globals.read_count += 1;
}

static int32_t search_grid(path_variables *variables, int16_t fire_factor);

int32_t build_pathfinding_tree(int32_t monster_index, path_variables *variables)
{
    return search_grid(variables, path_fire_factor(monster_index));
}

namespace {

// The grid search under way: what every step from a node needs.
struct grid_search
{
    path_variables *variables;
    const mesh_cell *cells;
    path_node *nodes;
    open_list *open;
    uint16_t *seen;
    uint16_t mask;
    uint16_t taken, blocked; // this search's stamps
    int16_t fire_factor;
    bool window_on_mesh;
    int32_t left, top, width;
    int32_t goal; // the destination's cell index
    int32_t goal_x, goal_y; // and its cell
    int32_t best, best_estimate;
    // The node being expanded.
    int32_t current, cell_x, cell_y, cell, base_step, cost;
};

enum
{
    STEP_GOES_ON = -3, // neither NONE nor a node
};

// One step of the expansion of `s.current` in direction D (tried in
// ascending order): a node's index, or the current one's, when the search
// ends there, else STEP_GOES_ON.
template <int32_t D>
inline __attribute__((always_inline)) int32_t try_search_step(grid_search &s, uint16_t *here)
{
    constexpr int32_t dx = D < 4 ? (D == 0 || D == 1 ? 1 : -1) : (D == 5 ? 1 : (D == 7 ? -1 : 0));
    constexpr int32_t dy = D < 4 ? (D == 0 || D == 3 ? 1 : -1) : (D == 4 ? 1 : (D == 6 ? -1 : 0));
    static_assert(D >= 0 && D < NUMBER_OF_DIRECTIONS, "a direction");
    uint16_t *seen = here + (dy * SEEN_STRIDE + dx);
    const uint16_t state = *seen;
    if ((state | 1) == s.blocked) return STEP_GOES_ON; // taken or blocked
    const bool frame = state == SEEN_FRAME;
    const int32_t x = s.cell_x + dx, y = s.cell_y + dy;
    if ((frame || !s.window_on_mesh) && !cell_on_mesh(x, y))
    {
        *seen = s.blocked;
        if (frame) path_globals.frame_stamped[path_globals.frame_stamped_count++] = (int16_t)(seen - s.seen);
        return STEP_GOES_ON;
    }
    const int32_t index = s.cell + dy * s.width + dx;
    const uint16_t flags = s.cells[index].flags;
    if (terrain_bars(flags, s.mask))
    {
        *seen = s.blocked;
        if (frame) path_globals.frame_stamped[path_globals.frame_stamped_count++] = (int16_t)(seen - s.seen);
        log_read(index * 4 + 1);
        return STEP_GOES_ON;
    }
    if (frame)
    {
        path_globals.exit_cell = index; // read, passable, and not marked
        s.variables->flags |= _partial_path_flag;
        return s.current;
    }
    *seen = s.taken;

    int32_t step = s.base_step;
    const bool burns = cell_burns(x, y, flags);
    log_read(index * 4 + (burns ? 2 : 0));
    if (burns) step += (step * s.fire_factor) >> 8;
    if (path_globals.node_count >= MAXIMUM_NODES) return STEP_GOES_ON;

    const int32_t node = path_globals.node_count++;
    int32_t ex = x - s.goal_x, ey = y - s.goal_y; // path_estimate, with the goal's cell at hand
    if (ex < 0) ex = -ex;
    if (ey < 0) ey = -ey;
    const int32_t estimate =
        ex > ey ? COST_PER_CELL * ex + (COST_PER_CELL / 2) * ey : COST_PER_CELL * ey + (COST_PER_CELL / 2) * ex;
    path_node *n = &s.nodes[node];
    n->x = (uint8_t)(x - s.left);
    n->y = (uint8_t)(y - s.top);
    n->direction = (int8_t)D;
    n->parent_node = (int16_t)s.current;
    n->cost = (int16_t)(s.cost + step); // wraps on purpose
    n->total_cost = (int16_t)(n->cost + estimate); // wraps on purpose
    if (estimate < s.best_estimate)
    {
        s.best = node;
        s.best_estimate = estimate;
    }
    if (index == s.goal) return node;

    n->next_node = NONE;
    open_list_push(s.open, s.nodes, node);
    return STEP_GOES_ON;
}

// Expands the current node in every direction `allowed` lets it (all of
// them for every node but the start): STEP_GOES_ON, or where the search ends.
template <bool EVERY_DIRECTION>
inline __attribute__((always_inline)) int32_t expand_search_node(grid_search &s, uint32_t allowed)
{
    // The current node's mark, from which each neighbour's lies a fixed step away.
    uint16_t *const here = &s.seen[(s.nodes[s.current].y + 1) * SEEN_STRIDE + s.nodes[s.current].x + 1];
    int32_t result = STEP_GOES_ON;
#define TRY_SEARCH_STEP(D)                                                                                          \
    if ((EVERY_DIRECTION || (allowed >> (D) & 1)) && (result = try_search_step<D>(s, here)) != STEP_GOES_ON) return result;
    TRY_SEARCH_STEP(0)
    TRY_SEARCH_STEP(1)
    TRY_SEARCH_STEP(2)
    TRY_SEARCH_STEP(3)
    TRY_SEARCH_STEP(4)
    TRY_SEARCH_STEP(5)
    TRY_SEARCH_STEP(6)
    TRY_SEARCH_STEP(7)
#undef TRY_SEARCH_STEP
    return result;
}

} // namespace

// build_pathfinding_tree with the unit's fire factor worked out.
static int32_t search_grid(path_variables *variables, int16_t fire_factor)
{
    variables->flags &= ~(uint16_t)_partial_path_flag;
    path_globals.node_count = 0;
    path_globals.exit_cell = NONE;
    path_globals.read_count = 0;
    path_globals.expanded_left = path_globals.expanded_top = INT32_MAX;
    path_globals.expanded_right = path_globals.expanded_bottom = INT32_MIN;
    if (!VASSERT(variables->x0 != variables->x1 || variables->y0 != variables->y1,
                 "source_x != dest_x || source_y != dest_y"))
        return NONE;
    grid_search s;
    s.variables = variables;
    s.mask = variables->terrain_impassability_flags;
    s.left = window_edge(variables->x0, mesh_width);
    s.top = window_edge(variables->y0, mesh_height);
    path_globals.window_left = s.left;
    path_globals.window_top = s.top;
    path_globals.fire_factor = fire_factor;
    s.fire_factor = fire_factor;
    // Each cell of the window is looked up on the mesh once: a passable cell is
    // taken at once (as the bitmap of marked cells would have it), an impassable
    // or missing one is remembered as blocked, and the frame around the window
    // stands for the cells outside it.
    // The mesh keeps its cells row by row; the search reads them straight from
    // the array (every cell it reads lies on the mesh).
    s.cells = get_mesh_cell(0, 0);
    s.width = mesh_width;
    if (!VASSERT(get_mesh_cell(variables->x0, variables->y0) == &s.cells[variables->x0 + variables->y0 * mesh_width],
                 "mesh cells stored row by row"))
        return NONE;
    s.taken = (uint16_t)(next_seen_generation() * 2);
    s.blocked = (uint16_t)(s.taken + 1);
    s.seen = path_globals.seen;
    s.goal = variables->x1 + variables->y1 * mesh_width;
    s.goal_x = variables->x1;
    s.goal_y = variables->y1;

    path_node *nodes = path_globals.nodes;
    s.nodes = nodes;
    const int32_t start_estimate = path_estimate(variables->x0, variables->y0, variables);
    nodes[0] = {NONE, NONE, (uint8_t)(variables->x0 - s.left), (uint8_t)(variables->y0 - s.top), -1, 0,
                (int16_t)start_estimate};
    path_globals.node_count = 1;
    open_list *open = &path_globals.open;
    s.open = open;
    open_list_clear(open);
    open_list_push(open, nodes, 0);
    s.best = 0;
    s.best_estimate = start_estimate;

    // Once the pool is full nothing is added, so a node can only end the search
    // through a neighbour outside the window: only nodes on the window's edge
    // are worth expanding, and when none is left open the outcome is known.
    // They are counted when the pool fills (few searches fill it).
    int32_t open_edge_nodes = NONE;

    // The directions that may be tried from the start cell, which may be
    // impassable itself.
    const uint16_t start_flags = s.cells[variables->x0 + variables->y0 * mesh_width].flags;
    const int32_t start_barred =
        ((s.mask >> (start_flags & 0xF)) & 1) | (((s.mask >> ((start_flags >> 4) & 0xF)) & 1) << 1);
    const uint32_t start_directions = allowed_directions[start_barred][(variables->x0 + variables->y0) & 1];
    // On a mesh at least as wide and high as the window every cell of the
    // window lies on the mesh; only the frame around it may not.
    s.window_on_mesh = mesh_width >= PATH_BOX_WIDTH && mesh_height >= PATH_BOX_WIDTH;

    // The box of the expanded cells, for a remembered search (see remembered_search).
    int32_t expanded_left = INT32_MAX, expanded_top = INT32_MAX, expanded_right = INT32_MIN,
            expanded_bottom = INT32_MIN;
    int32_t end = STEP_GOES_ON;
    while (!open_list_empty(open))
    {
        const bool full = path_globals.node_count >= MAXIMUM_NODES;
        if (full)
        {
            if (open_edge_nodes == NONE) open_edge_nodes = count_open_edge_nodes(open, nodes);
            if (open_edge_nodes == 0) break;
        }
        const int32_t current = open_list_pop(open);
        if (full)
        {
            if (!on_window_edge(&nodes[current])) continue;
            --open_edge_nodes;
        }
        s.current = current;
        s.cell_x = s.left + nodes[current].x;
        s.cell_y = s.top + nodes[current].y;
        s.cell = s.cell_x + s.cell_y * s.width;
        expanded_left = s.cell_x < expanded_left ? s.cell_x : expanded_left;
        expanded_right = s.cell_x > expanded_right ? s.cell_x : expanded_right;
        expanded_top = s.cell_y < expanded_top ? s.cell_y : expanded_top;
        expanded_bottom = s.cell_y > expanded_bottom ? s.cell_y : expanded_bottom;
        // The step's cost follows how the current node was reached.
        s.base_step = nodes[current].direction < 4 ? COST_PER_DIAGONAL_CELL : COST_PER_CELL;
        s.cost = nodes[current].cost;
        // Every node but the start stands on a cell the search found passable
        // (neither triangle barred): all eight directions are tried from it.
        end = current == 0 ? expand_search_node<false>(s, start_directions) : expand_search_node<true>(s, 0xFF);
        if (end != STEP_GOES_ON) break;
    }
    path_globals.expanded_left = expanded_left, path_globals.expanded_right = expanded_right;
    path_globals.expanded_top = expanded_top, path_globals.expanded_bottom = expanded_bottom;
    if (end != STEP_GOES_ON) return end;
    if (s.best == 0) return NONE;
    variables->flags |= _partial_path_flag;
    return s.best;
}

// ---- the line test -----------------------------------------------------------------

namespace {

struct line_test
{
    const mesh_cell *cells; // the mesh's cells, row by row (null: none loaded)
    int32_t width, height; // the mesh's, in cells
    uint16_t mask;
    bool fire_test;
};

// Cells off the mesh (a line near an edge can compute one) do not block.
// Inlined: a line test asks it of every cell it crosses.
inline __attribute__((always_inline)) bool cell_blocks_line(const line_test *test, int32_t cell_x, int32_t cell_y)
{
    const int16_t x = (int16_t)cell_x, y = (int16_t)cell_y;
    if (x < 0 || y < 0 || x >= test->width || y >= test->height) return false;
    const uint16_t flags = test->cells ? test->cells[x + y * test->width].flags : get_mesh_cell(x, y)->flags;
    return terrain_bars(flags, test->mask) || (test->fire_test && cell_burns(x, y, flags));
}

// One piece of at most 30720 units on its long axis: true when blocked.
bool piece_is_blocked(const line_test *test, const world_point2d *p, const world_point2d *q)
{
    const int32_t px = (int16_t)(p->x >> WORLD_FRACTIONAL_BITS), py = (int16_t)(p->y >> WORLD_FRACTIONAL_BITS);
    const int32_t qx = (int16_t)(q->x >> WORLD_FRACTIONAL_BITS), qy = (int16_t)(q->y >> WORLD_FRACTIONAL_BITS);
    if (cell_blocks_line(test, px, py)) return true;
    if (py == qy)
    {
        if (px == qx) return false;
        // A run along a row of the mesh: any of its cells may block, read
        // in order without testing each against the mesh's bounds.
        const int32_t low = px < qx ? px + 1 : qx, high = px < qx ? qx : px - 1;
        if (test->cells && py >= 0 && py < test->height && low >= 0 && high < test->width)
        {
            const mesh_cell *row = test->cells + py * test->width;
            uint32_t barred = 0, fire = 0;
            for (int32_t x = low; x <= high; ++x)
            {
                barred |= terrain_bars(row[x].flags, test->mask);
                fire |= row[x].flags & FIRE_CELL_FLAG;
            }
            if (barred) return true;
            if (!test->fire_test || !fire) return false;
            for (int32_t x = low; x <= high; ++x)
                if (cell_burns(x, py, row[x].flags)) return true;
            return false;
        }
        const int32_t s = px < qx ? 1 : -1;
        for (int32_t x = px + s;; x += s)
        {
            if (cell_blocks_line(test, x, py)) return true;
            if (x == qx) return false;
        }
    }
    if (px == qx)
    {
        const int32_t s = py < qy ? 1 : -1;
        for (int32_t y = py + s;; y += s)
        {
            if (cell_blocks_line(test, px, y)) return true;
            if (y == qy) return false;
        }
    }
    const int32_t ex = q->x - p->x, ey = q->y - p->y;
    const int32_t abs_ex = ex < 0 ? -ex : ex, abs_ey = ey < 0 ? -ey : ey;
    if (abs_ex > abs_ey)
    {
        const int32_t s = px < qx ? 1 : -1;
        const int16_t m = (int16_t)(((int32_t)(int16_t)ey * 256) / ex);
        const int32_t b = p->y - ((p->x * m) >> 8);
        int32_t previous = py;
        for (int32_t x = px + s;; x += s)
        {
            const int32_t r = (int16_t)(((((x * WORLD_ONE) * m) >> 8) + b) >> WORLD_FRACTIONAL_BITS);
            if (r != previous && cell_blocks_line(test, s > 0 ? x - 1 : x, s > 0 ? r : previous)) return true;
            if (cell_blocks_line(test, x, r)) return true;
            previous = r;
            if (x == qx) return false;
        }
    }
    const int32_t s = py < qy ? 1 : -1;
    const int16_t m = (int16_t)(((int32_t)(int16_t)ex * 256) / ey);
    const int32_t b = p->x - ((p->y * m) >> 8);
    int32_t previous = px;
    for (int32_t y = py + s;; y += s)
    {
        const int32_t c = (int16_t)(((((y * WORLD_ONE) * m) >> 8) + b) >> WORLD_FRACTIONAL_BITS);
        if (c != previous && cell_blocks_line(test, s > 0 ? c : previous, s > 0 ? y - 1 : y)) return true;
        if (cell_blocks_line(test, c, y)) return true;
        previous = c;
        if (y == qy) return false;
    }
}

} // namespace

bool path_line_is_clear(const world_point2d *source, const world_point2d *target, uint16_t terrain_mask,
                        bool fire_test)
{
    const line_test test = {mesh_cell_in_bounds(0, 0) ? get_mesh_cell(0, 0) : nullptr, mesh_width, mesh_height,
                            terrain_mask, fire_test};
    const int32_t dx = target->x - source->x, dy = target->y - source->y;
    const int32_t abs_dx = dx < 0 ? -dx : dx, abs_dy = dy < 0 ? -dy : dy;
    const int32_t length = abs_dx > abs_dy ? abs_dx : abs_dy;
    const int32_t pieces = length <= 30720 ? 1 : length / 30720 + 1;
    for (int32_t j = 0; j < pieces; ++j)
    {
        const int32_t f0 = (256 * j) / pieces, f1 = (256 * (j + 1)) / pieces;
        const world_point2d p = {source->x + ((dx * f0) >> 8), source->y + ((dy * f0) >> 8)};
        const world_point2d q = {source->x + ((dx * f1) >> 8), source->y + ((dy * f1) >> 8)};
        if (piece_is_blocked(&test, &p, &q)) return false;
    }
    return true;
}

// ---- straightening ------------------------------------------------------------------

static world_point2d cell_centre(int32_t cell_x, int32_t cell_y)
{
    return {cell_x * WORLD_ONE + WORLD_ONE_HALF, cell_y * WORLD_ONE + WORLD_ONE_HALF};
}

// build_temporary_waypoints over the directions first, first + stride, ...
static int32_t waypoints_of_steps(int32_t cell_x, int32_t cell_y, const int8_t *first, ptrdiff_t stride,
                                  int32_t step_count, world_point2d *waypoints)
{
    int32_t count = 0;
    for (int32_t number = 0; number < step_count; ++number)
    {
        const int32_t direction = first[number * stride];
        if (direction < 0 || direction >= NUMBER_OF_DIRECTIONS)
        {
            char text[96];
            csprintf(text, "%p: step #%d (#%d) is not a direction", (const void *)first, (int)number,
                     (int)direction);
            VASSERT(false, text);
            VASSERT(false, "direction>=0 && direction<NUMBER_OF_DIRECTIONS");
            break;
        }
        // The run of steps in this direction, taken at once: its first step
        // adds a waypoint where there is room, and each step after it moves
        // the last waypoint (once the room is full, even one of an earlier
        // run) to where the run has got.
        int32_t run = 1;
        while (number + run < step_count && first[(number + run) * stride] == direction) ++run;
        cell_x += direction_delta_x[direction] * run;
        cell_y += direction_delta_y[direction] * run;
        if (run > 1 || count < MAXIMUM_GRID_WAYPOINTS)
        {
            if (count < MAXIMUM_GRID_WAYPOINTS) ++count;
            waypoints[count - 1] = cell_centre(cell_x, cell_y);
        }
        number += run - 1;
    }
    return count;
}

int32_t build_temporary_waypoints(int32_t cell_x, int32_t cell_y, const int8_t *directions, int32_t step_count,
                                  world_point2d *waypoints)
{
    return waypoints_of_steps(cell_x, cell_y, directions, 1, step_count, waypoints);
}

// The directions from the end node back to the start: their count.
static int32_t route_steps(int32_t end_node, int8_t *steps)
{
    int32_t step_count = 0;
    for (int32_t node = end_node; node > 0 && node < path_globals.node_count;
         node = path_globals.nodes[node].parent_node)
    {
        if (!VASSERT(step_count < MAXIMUM_NODES - 1, "step_count < MAXIMUM_NODES")) break;
        steps[step_count++] = path_globals.nodes[node].direction;
    }
    return step_count;
}

static void postprocess_route(postprocessed_path_data *path, const int8_t *steps, int32_t step_count,
                              const path_variables *variables, bool fire_test);

void postprocess_path(postprocessed_path_data *path, int32_t end_node, const path_variables *variables)
{
    // The directions from the start to the end node.
    int8_t steps[MAXIMUM_NODES];
    const int32_t step_count = route_steps(end_node, steps);
    const bool fire_test = get_monster_data(path->monster_index) && magical_effect_modifier(path->monster_index) != 0;
    postprocess_route(path, steps, step_count, variables, fire_test);
}

// `fire_test`: the path's unit exists and its magical-damage modifier is not 0.
static void postprocess_route(postprocessed_path_data *path, const int8_t *steps, int32_t step_count,
                              const path_variables *variables, bool fire_test)
{
    path->flags = variables->flags;
    const bool partial = (variables->flags & _partial_path_flag) != 0;

    // The waypoints along the route, from the start (the steps run from the end).
    world_point2d temporary[MAXIMUM_TEMPORARY_WAYPOINTS];
    const int32_t count =
        waypoints_of_steps(variables->x0, variables->y0, step_count > 0 ? steps + step_count - 1 : steps, -1, step_count,
                           temporary);

    // The line-of-sight pass keeps the waypoints a straight line cannot skip.
    world_point2d chosen[MAXIMUM_TEMPORARY_WAYPOINTS + 1];
    int32_t chosen_count = 0;
    VASSERT(count > 0, "waypoint_count");
    for (int32_t i = 1; i <= count; ++i)
    {
        if (partial && i == count)
        {
            chosen[chosen_count++] = temporary[count - 1];
            break;
        }
        const world_point2d *source = chosen_count ? &chosen[chosen_count - 1] : &variables->p0;
        const world_point2d *target = i < count ? &temporary[i] : &variables->p1;
        if (!path_line_is_clear(source, target, variables->terrain_impassability_flags, fire_test))
            chosen[chosen_count++] = temporary[i - 1];
    }
    // A whole path ends at its destination.
    if (!partial) chosen[chosen_count++] = variables->p1;
    VASSERT(chosen_count <= MAXIMUM_TEMPORARY_WAYPOINTS, "new_waypoint_count <= MAXIMUM_TEMPORARY_WAYPOINTS");

    // A lone final waypoint keeps the unit's body out of obstructed neighbours.
    world_point2d waypoint = chosen_count ? chosen[0] : variables->p0;
    if (chosen_count == 1 && !partial)
    {
        const object_data *object = get_object(variables->owner_object_index);
        const int32_t radius = object ? object->radius : 0;
        const int32_t x = waypoint.x >> WORLD_FRACTIONAL_BITS, y = waypoint.y >> WORLD_FRACTIONAL_BITS;
        const int32_t neighbours[4][2] = {{x, y - 1}, {x, y + 1}, {x - 1, y}, {x + 1, y}};
        // Most neighbours hold no model, told by the cell alone.
        const mesh_cell *cells = mesh_cell_in_bounds(0, 0) ? get_mesh_cell(0, 0) : nullptr;
        for (const auto &neighbour : neighbours)
        {
            if (cells && (!cell_on_mesh(neighbour[0], neighbour[1]) ||
                          cells[neighbour[0] + neighbour[1] * mesh_width].model_index == NONE))
                continue;
            obstructed_cell_bounds box;
            int32_t boxes = 0;
            report_obstructed_cell_bounds(neighbour[0], neighbour[1], &box, &boxes, radius);
            if (!boxes) continue;
            world_point2d entry;
            if (clip_line_to_box(box.left, box.right, box.top, box.bottom, &variables->p0, &waypoint, &entry) !=
                _clip_missed)
                waypoint = entry;
        }
    }
    path->waypoint = waypoint;
}

// ---- remembered searches ----------------------------------------------------------

// A request's start and destination cells in one word.
static uint64_t search_key(const path_variables *variables)
{
    return (uint64_t)(uint16_t)variables->x0 | (uint64_t)(uint16_t)variables->y0 << 16 |
           (uint64_t)(uint16_t)variables->x1 << 32 | (uint64_t)(uint16_t)variables->y1 << 48;
}

// A request's step from start to destination, in cells, in one word (bit
// 32 set, so that no step is 0).
static uint64_t search_step(const path_variables *variables)
{
    return (uint64_t)(uint16_t)(variables->x1 - variables->x0) |
           (uint64_t)(uint16_t)(variables->y1 - variables->y0) << 16 | (uint64_t)1 << 32;
}

// Whether the box of cells lies inside the search window of a request
// starting at (x0, y0) (not on its frame) and on the mesh.
static bool box_inside_window(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t x0, int32_t y0)
{
    const int32_t window_left = window_edge(x0, mesh_width), window_top = window_edge(y0, mesh_height);
    return left >= 0 && top >= 0 && right < mesh_width && bottom < mesh_height && left >= window_left &&
           top >= window_top && right < window_left + PATH_BOX_WIDTH && bottom < window_top + PATH_BOX_WIDTH;
}

static uint8_t start_cell_barred(const mesh_cell *cells, const path_variables *variables)
{
    const uint16_t flags = cells[variables->x0 + variables->y0 * mesh_width].flags;
    const uint16_t mask = variables->terrain_impassability_flags;
    return (uint8_t)(((mask >> (flags & 0xF)) & 1) | (((mask >> ((flags >> 4) & 0xF)) & 1) << 1));
}

// Keeps the search just run, with what it read of the cells it marked, of the
// start cell, and of the cell it left the window by.
static void remember_search(const path_variables *variables, bool found, const int8_t *steps, int32_t step_count)
{
    if (path_globals.read_count > MAXIMUM_REMEMBERED_READS) return;
    remembered_searches *memory = &path_globals.remembered;
    remembered_search *r = &memory->entries[memory->next];
    const mesh_cell *cells = get_mesh_cell(0, 0);
    r->read_count = path_globals.read_count;
    memcpy(r->reads, path_globals.read_log, (size_t)r->read_count * sizeof(r->reads[0]));
    r->x0 = variables->x0, r->y0 = variables->y0, r->x1 = variables->x1, r->y1 = variables->y1;
    r->mask = variables->terrain_impassability_flags;
    r->fire_factor = path_globals.fire_factor;
    r->mesh_width = mesh_width, r->mesh_height = mesh_height;
    r->cells = cells;
    r->start_barred = start_cell_barred(cells, variables);
    r->found = found;
    r->partial = variables->flags & _partial_path_flag;
    r->exit_cell = path_globals.exit_cell;
    r->step_count = step_count;
    memcpy(r->steps, steps, (size_t)step_count);
    r->used = true;
    // The touched cells: those expanded and their neighbours (every read
    // cell is one).
    r->box_left = path_globals.expanded_left - 1, r->box_right = path_globals.expanded_right + 1;
    r->box_top = path_globals.expanded_top - 1, r->box_bottom = path_globals.expanded_bottom + 1;
    r->movable = path_globals.expanded_left <= path_globals.expanded_right &&
                 path_globals.node_count < MAXIMUM_NODES && path_globals.exit_cell == NONE &&
                 box_inside_window(r->box_left, r->box_top, r->box_right, r->box_bottom, variables->x0,
                                   variables->y0);
    memory->keys[memory->next] = search_key(variables);
    memory->steps[memory->next] = r->movable ? search_step(variables) : 0; // a request's has bit 32 set
    memory->next = (memory->next + 1) % REMEMBERED_SEARCHES;
}

// terrain_bars(flags, mask) by the low byte of the flags, as a table of the
// mask.
static const uint8_t *barred_by_mask(uint16_t mask)
{
    remembered_searches *memory = &path_globals.remembered;
    for (int32_t table = 0; table < BARRED_TABLES; ++table)
        if (memory->barred_known[table] && memory->barred_masks[table] == mask) return memory->barred[table];
    const int32_t table = memory->next_barred;
    memory->next_barred = (table + 1) % BARRED_TABLES;
    for (uint32_t flags = 0; flags < 256; ++flags) memory->barred[table][flags] = terrain_bars((uint16_t)flags, mask);
    memory->barred_masks[table] = mask;
    memory->barred_known[table] = true;
    return memory->barred[table];
}

// Whether every cell the remembered search read, `shift` cells on in the
// mesh's array, answers as it did.
static bool reads_answer_the_same(const remembered_search &r, const mesh_cell *cells, uint16_t mask, int32_t shift)
{
    // Most often nothing burns or could: the barred answers are compared
    // all at once (bit 0), and only a read touched by fire (a taken cell
    // that burned, bit 1, or one that may burn now) is looked at alone.
    const uint8_t *barred = barred_by_mask(mask);
    uint32_t differs = 0, every_read = 0, every_flag = 0;
    for (int32_t i = 0; i < r.read_count; ++i)
    {
        const uint32_t read = (uint32_t)r.reads[i];
        const uint32_t flags = cells[(int32_t)(read >> 2) + shift].flags;
        differs |= barred[flags & 0xFF] ^ read;
        every_read |= read;
        every_flag |= flags;
    }
    if (differs & 1) return false;
    if (!(every_read & 2) && !(every_flag & FIRE_CELL_FLAG)) return true;
    for (int32_t i = 0; i < r.read_count; ++i)
    {
        const int32_t read = r.reads[i], cell = (read >> 2) + shift;
        const uint16_t flags = cells[cell].flags;
        if (terrain_bars(flags, mask))
        {
            if ((read & 3) != 1) return false;
        }
        else if ((read & 3) == 1)
            return false;
        else if (((flags & FIRE_CELL_FLAG) || (read & 2)) &&
                 cell_burns(cell % mesh_width, cell / mesh_width, flags) != ((read & 2) != 0))
            return false;
    }
    return true;
}

// The remembered search that answers the request, null when none does: one
// of the same cells, or a movable one of the same step whose touched cells
// moved stay in the request's window (see remembered_search).
static const remembered_search *recall_search(const path_variables *variables, int16_t fire_factor)
{
    const remembered_searches *memory = &path_globals.remembered;
    const mesh_cell *cells = get_mesh_cell(0, 0);
    const uint16_t mask = variables->terrain_impassability_flags;
    const uint64_t key = search_key(variables), step = search_step(variables);
    for (int32_t entry = 0; entry < REMEMBERED_SEARCHES; ++entry)
    {
        const bool same_cells = memory->keys[entry] == key;
        if (!same_cells && memory->steps[entry] != step) continue;
        const remembered_search &r = memory->entries[entry];
        if (!r.used || r.x1 - r.x0 != variables->x1 - variables->x0 || r.y1 - r.y0 != variables->y1 - variables->y0 ||
            r.mask != mask || r.fire_factor != fire_factor || r.mesh_width != mesh_width ||
            r.mesh_height != mesh_height || r.cells != cells)
            continue;
        const int32_t dx = variables->x0 - r.x0, dy = variables->y0 - r.y0;
        if (dx != 0 || dy != 0)
        {
            // Moved: the touched cells stay clear of the frame and the mesh's
            // edge, and the start's directions follow from the same parity
            // (all eight when its cell is not barred at all).
            if (!r.movable || (r.start_barred != 0 && ((dx + dy) & 1) != 0) ||
                !box_inside_window(r.box_left + dx, r.box_top + dy, r.box_right + dx, r.box_bottom + dy,
                                   variables->x0, variables->y0))
                continue;
        }
        if (memory->fault) return &r; // the planted fault: the cells are not read again
        if (r.start_barred != start_cell_barred(cells, variables)) continue;
        if (r.exit_cell != NONE && terrain_bars(cells[r.exit_cell].flags, mask)) continue;
        if (reads_answer_the_same(r, cells, mask, dx + dy * mesh_width)) return &r;
    }
    return nullptr;
}

// The checker: the search was run again; its outcome against the remembered one.
static void check_recalled_search(const remembered_search *r, const path_variables *variables, bool found,
                                  const int8_t *steps, int32_t step_count)
{
    path_sharing_check_counts *counts = &path_globals.remembered.counts;
    counts->recalls_checked += 1;
    if (r->x0 != variables->x0 || r->y0 != variables->y0) counts->moved_recalls_checked += 1;
    if (r->found != found || r->partial != (variables->flags & _partial_path_flag) || r->step_count != step_count ||
        memcmp(r->steps, steps, (size_t)step_count) != 0)
        counts->mismatches += 1;
}

void set_path_sharing_checking(bool on)
{
    path_globals.remembered.checking = on;
    path_globals.remembered.counts = {};
}

path_sharing_check_counts get_path_sharing_check_counts(void) { return path_globals.remembered.counts; }

void plant_path_sharing_fault(bool on) { path_globals.remembered.fault = on; }

void forget_remembered_searches(void)
{
    for (remembered_search &r : path_globals.remembered.entries) r.used = false;
    path_globals.remembered.next = 0;
}

// ---- paths --------------------------------------------------------------------------

static void clamp_into_mesh(world_point2d *point)
{
    const world_distance right = mesh_width * WORLD_ONE - 1, bottom = mesh_height * WORLD_ONE - 1;
    if (point->x > right) point->x = right;
    if (point->y > bottom) point->y = bottom;
    if (point->x < 0) point->x = 0;
    if (point->y < 0) point->y = 0;
}

int32_t new_path(int32_t monster_index, path_variables *variables)
{
    clamp_into_mesh(&variables->p0);
    clamp_into_mesh(&variables->p1);
    variables->x0 = (int16_t)(variables->p0.x >> WORLD_FRACTIONAL_BITS);
    variables->y0 = (int16_t)(variables->p0.y >> WORLD_FRACTIONAL_BITS);
    variables->x1 = (int16_t)(variables->p1.x >> WORLD_FRACTIONAL_BITS);
    variables->y1 = (int16_t)(variables->p1.y >> WORLD_FRACTIONAL_BITS);

    const int32_t path_index = new_datum(&path_globals.paths);
    if (path_index == NONE) return NEW_PATH_ARRAY_FULL;
    postprocessed_path_data *path = get_path_data(path_index);
    path->monster_index = monster_index;
    if (variables->x0 == variables->x1 && variables->y0 == variables->y1)
    {
        variables->flags = 0;
        path->flags = 0;
        path->waypoint = variables->p1;
    }
    else
    {
        // A unit's request may be answered by a remembered search (see
        // remembered_search); tests asking without a unit see the node pool
        // of their own search.
        const bool shared = monster_index != NONE;
        // The unit's magical-damage modifier, read once for the search and
        // the straightening.
        const int32_t modifier = get_monster_data(monster_index) ? magical_effect_modifier(monster_index) : 0;
        const int16_t fire_factor = (int16_t)(FIRE_PENALTY_MULTIPLIER * modifier);
        const remembered_search *r = shared ? recall_search(variables, fire_factor) : nullptr;
        int8_t steps[MAXIMUM_NODES];
        int32_t step_count = 0;
        bool found;
        if (r && !path_globals.remembered.checking)
        {
            variables->flags = (uint16_t)((variables->flags & ~(uint16_t)_partial_path_flag) | r->partial);
            found = r->found;
            step_count = r->step_count;
            memcpy(steps, r->steps, (size_t)step_count);
        }
        else
        {
            const int32_t end_node = search_grid(variables, fire_factor);
            found = end_node != NONE;
            if (found) step_count = route_steps(end_node, steps);
            if (r) check_recalled_search(r, variables, found, steps, step_count);
            else if (shared) remember_search(variables, found, steps, step_count);
        }
        if (!found)
        {
            variables->p1 = variables->p0;
            delete_datum(&path_globals.paths, path_index);
            return NEW_PATH_NO_ROUTE;
        }
        postprocess_route(path, steps, step_count, variables, modifier != 0);
    }
    if (monster_data *monster = get_monster_data(monster_index)) monster->path_destination = path->waypoint;
    return path_index;
}

void delete_path(int16_t *path_index)
{
    if (!path_index) return;
    if (*path_index != NONE && get_path_data(*path_index)) delete_datum(&path_globals.paths, *path_index);
    *path_index = NONE;
}

// ---- unit services --------------------------------------------------------------------

bool use_monster_pathfinding_radius(int32_t monster_index, int32_t other_monster_index)
{
    if (!get_monster_data(monster_index) || !get_monster_data(other_monster_index)) return false;
    return monsters_are_allied(monster_index, other_monster_index);
}

void report_obstructed_cell_bounds(int32_t cell_x, int32_t cell_y, obstructed_cell_bounds *boxes, int32_t *count,
                                   int32_t radius)
{
    if (!boxes || !count || *count < 0 || *count >= MAXIMUM_OBSTRUCTED_CELL_BOUNDS) return;
    if (!cell_on_mesh(cell_x, cell_y)) return;
    const mesh_cell *cell = get_mesh_cell(cell_x, cell_y);
    if (cell->model_index == NONE) return;
    const int32_t a = cell->flags & 0xF, b = (cell->flags >> 4) & 0xF;
    if (a != OBSTRUCTING_TERRAIN_A && a != OBSTRUCTING_TERRAIN_B && b != OBSTRUCTING_TERRAIN_A &&
        b != OBSTRUCTING_TERRAIN_B)
        return;
    const int32_t far_x = cell_x + 1 < mesh_width ? cell_x + 1 : mesh_width - 1;
    const int32_t far_y = cell_y + 1 < mesh_height ? cell_y + 1 : mesh_height - 1;
    obstructed_cell_bounds *box = &boxes[(*count)++];
    box->left = cell_x * WORLD_ONE - radius;
    box->top = cell_y * WORLD_ONE - radius;
    box->right = far_x * WORLD_ONE + radius;
    box->bottom = far_y * WORLD_ONE + radius;
}

void update_monster_impassability_for_cell(int32_t cell_x, int32_t cell_y)
{
    for (int32_t y = cell_y - 1; y <= cell_y + 1; ++y)
        for (int32_t x = cell_x - 1; x <= cell_x + 1; ++x)
        {
            if (!cell_on_mesh(x, y)) continue;
            for (int32_t object_index = first_scanned_object(x, y); object_index != NONE;)
            {
                const object_data *object = get_object(object_index);
                if (!object) break;
                if (object->owner == _object_is_monster)
                {
                    monster_data *monster = get_monster_data(object->owner_index);
                    if (monster && monster->object_index == object_index)
                    {
                        const world_point2d location = {object->location.position.x, object->location.position.y};
                        monster->cell_impassability_flags =
                            build_cell_impassability_flags(monster->terrain_impassability_flags, &location);
                    }
                }
                object_index = next_scanned_object(object_index);
            }
        }
}

// ---- obstacle avoidance ----------------------------------------------------------------

const obstruction_avoidance_globals *get_obstruction_avoidance_globals(void) { return &path_globals.avoidance; }

namespace {

// From 1601: a unit of a human player, not in a cooperative game's computer team.
bool plain_player_controlled(const monster_data *monster)
{
    if (current_gameplay_version < 1601) return false;
    if (monster->flags & _monster_ignores_user_commands_flag) return false;
    return monster->owner_team_index == 0 || !(game_->option_flags & _game_option_cooperative_flag);
}

bool walks_around_blockage(const monster_definition *definition)
{
    return (definition->more_hack_flags & _monster_more_hack_walks_around_blockage_flag) != 0;
}

bool scenery_definition_is_netgame_flag(int32_t index)
{
    const scenery_definition *definition = get_scenery_definition(index);
    return definition && (definition->flags & _scenery_is_netgame_flag_flag);
}

// angular_difference(a, b) < QUARTER_CIRCLE, worked out here: the obstacle
// collection asks it of most units it meets.
// The turn from b to a, either way, is under a quarter circle: a difference
// d (0..FULL_CIRCLE - 1) below QUARTER_CIRCLE or above FULL_CIRCLE -
// QUARTER_CIRCLE, which d + QUARTER_CIRCLE - 1 (as an angle) tells at once.
static inline bool facing_within_quarter(angle a, angle b)
{
    static_assert(FULL_CIRCLE == 65536 && QUARTER_CIRCLE == 16384, "the difference is an angle");
    return (angle)(a - b + QUARTER_CIRCLE - 1) < 2 * QUARTER_CIRCLE - 1;
}

// What the obstacle test needs of the mover, worked out once per call rather
// than once per object it meets.
struct mover_facts
{
    int32_t monster_index;
    const monster_data *monster;
    const monster_definition *definition;
    const object_data *object;
    world_point2d here;
    bool plain, walks_around, flies;
    int32_t target_type; // the type of the target unit, NONE without one
    // Alliances of the mover's team with teams 0-15, asked once each.
    uint16_t allied_known, allied;
    int32_t team; // the mover's owner_team_index
    // What refuses a moving unit (moving_unit_refused): the mover's facing
    // and speed; whether any unit facing its way is refused, or any ally
    // facing its way; whether those go whatever way they face.
    angle yaw;
    int16_t speed;
    bool refuses_facing, refuses_allied_facing, refuses_either_way;
    // The last unit type met and its definition.
    int32_t cached_type;
    const monster_definition *cached_definition;
    // Bit k: every facing in k * 1024 .. k * 1024 + 1023 lies within a
    // quarter circle of the mover's (facing_within_quarter).
    uint64_t facing_sectors;
};

// The sectors of 1024 facings (as scan_cell_motion counts them) that lie
// wholly within a quarter circle of `yaw`: facing_within_quarter(a, yaw)
// asks whether t = a - yaw + QUARTER_CIRCLE - 1 (as an angle) is below
// 2 * QUARTER_CIRCLE - 1.  With c = QUARTER_CIRCLE - 1 - yaw = q * 1024 + r,
// sector k starts at t = ((k + q) mod 64) * 1024 + r, and all its 1024
// facings pass when that start is at most 2 * QUARTER_CIRCLE - 1 - 1024.
static uint64_t sectors_facing_within_quarter(angle yaw)
{
    static_assert(FULL_CIRCLE == 65536 && QUARTER_CIRCLE == 16384, "64 sectors of 1024");
    const angle c = (angle)(QUARTER_CIRCLE - 1 - yaw);
    const int32_t q = c >> 10, r = c & 1023;
    const int32_t last = (2 * QUARTER_CIRCLE - 1 - 1024 - r) >> 10; // the highest (k + q) mod 64 that passes
    const uint64_t passing = ((uint64_t)2 << last) - 1;
    return std::rotr(passing, q);
}

static void fill_mover_facts(mover_facts *m, int32_t monster_index, const monster_data *mover,
                             const monster_definition *definition, const object_data *mover_object)
{
    m->monster_index = monster_index;
    m->monster = mover;
    m->definition = definition;
    m->object = mover_object;
    m->here = {mover_object->location.position.x, mover_object->location.position.y};
    m->plain = plain_player_controlled(mover);
    m->walks_around = walks_around_blockage(definition);
    m->flies = (definition->flags & _monster_flies_flag) != 0;
    m->target_type = NONE;
    if (mover->flags & _monster_has_valid_target_index_flag)
        if (const monster_data *target = get_monster_data(mover->target_monster_index)) m->target_type = target->type;
    m->allied_known = m->allied = 0;
    m->team = mover->owner_team_index;
    m->yaw = mover_object->location.yaw;
    m->speed = mover->base_movement_speed;
    m->refuses_facing = current_gameplay_version >= 1501 && m->plain;
    m->refuses_allied_facing = current_gameplay_version >= 1501 && m->walks_around;
    m->refuses_either_way = current_gameplay_version < 1721 && (int16_t)m->yaw >= 0;
    m->cached_type = NONE;
    m->cached_definition = nullptr;
    m->facing_sectors = sectors_facing_within_quarter(m->yaw);
}

// monster_records_are_allied(mover, other) for a unit of team `theirs`,
// each of teams 0-15 asked once.
static void learn_alliance(mover_facts *m, int32_t theirs)
{
    const uint16_t bit = (uint16_t)(1u << theirs);
    m->allied_known |= bit;
    if (m->team != NONE && teams_are_allied(m->team, theirs)) m->allied |= bit;
}

static inline bool mover_allied_with(mover_facts *m, int32_t theirs)
{
    if ((uint32_t)theirs < 16)
    {
        if (!(m->allied_known >> theirs & 1)) learn_alliance(m, theirs);
        return (m->allied >> theirs & 1) != 0;
    }
    return m->team != NONE && theirs != NONE && teams_are_allied(m->team, theirs);
}

static const monster_definition *definition_of_type(mover_facts *m, int32_t type)
{
    if (type == m->cached_type && m->cached_definition) return m->cached_definition;
    const monster_definition *definition = get_monster_definition(type);
    m->cached_type = type;
    m->cached_definition = definition;
    return definition;
}

// Whether another unit's object counts as an obstacle for the mover; fills
// the obstacle's radius and flags when it does.  Every test only refuses, so
// their order changes no answer: the caller has already refused the units
// whose own records refuse them (pausing for an obstacle, invisible, still
// to plan after an order) and those beyond the distance bound.
// The unit `glance` tells of (its kept obstacle facts) is farther from the
// mover than `limit`: compared squared when both lie within 2^24 of each
// other along each axis, else through the root itself.
static bool farther_than(const mover_facts *m, const obstacle_facts &glance, int32_t limit)
{
    const int64_t dx = (int64_t)glance.x - m->here.x, dy = (int64_t)glance.y - m->here.y;
    if (!(dx > -(1 << 24) && dx < (1 << 24) && dy > -(1 << 24) && dy < (1 << 24)))
    {
        const world_point2d there = {glance.x, glance.y};
        return distance2d(&m->here, &there) > limit;
    }
    return limit < 0 || dx * dx + dy * dy >= ((int64_t)limit + 1) * ((int64_t)limit + 1);
}

// A moving unit's refusals, from its kept facts alone: a moving ally going
// the same way (in a formation that has its orders, most units are refused
// here), and for plain or blockage-walking movers units going their way.
// `squared` is the squared distance when `near` (within 2^24 along each axis).
static inline bool moving_unit_refused(mover_facts *m, const obstacle_facts &glance, bool near, int64_t squared)
{
    static_assert(DISTANCE_TO_AVOID_SLOWPOKES >= 0, "compared squared");
    const bool allied = mover_allied_with(m, glance.team);
    const bool facing = facing_within_quarter(glance.yaw, m->yaw);
    if (allied && facing &&
        (m->speed <= glance.speed ||
         (near ? squared >= ((int64_t)DISTANCE_TO_AVOID_SLOWPOKES + 1) * ((int64_t)DISTANCE_TO_AVOID_SLOWPOKES + 1)
               : farther_than(m, glance, DISTANCE_TO_AVOID_SLOWPOKES))))
        return true;
    if (m->refuses_facing || (allied && m->refuses_allied_facing)) return facing || m->refuses_either_way;
    return false;
}

// Whether moving_unit_refused refuses every open object of a cell whatever
// its distance, from the cell's summary alone: each is a moving unit, and
// either the mover refuses units facing its way (or any way) and all do, or
// all are allies that facing its way are refused by their speed or by the
// mover's own rule for allies.
static bool moving_cell_refused(mover_facts *m, const scan_cell_motion &cell)
{
    if (cell.others || cell.yaw_sectors == 0) return false;
    const bool facing = (cell.yaw_sectors & ~m->facing_sectors) == 0;
    if (m->refuses_facing && (facing || m->refuses_either_way)) return true;
    for (uint32_t unknown = cell.teams & ~m->allied_known; unknown; unknown &= unknown - 1)
        learn_alliance(m, std::countr_zero(unknown));
    if ((cell.teams & ~m->allied) != 0) return false;
    if (facing && m->speed <= cell.slowest) return true;
    return m->refuses_allied_facing && (facing || m->refuses_either_way);
}

// Whether the unit counts as an obstacle once moving_unit_refused has let it
// pass: `glance` is its kept facts, `other` and `object` its records.
bool unit_is_obstacle(mover_facts *m, const obstacle_facts &glance, const monster_data *other,
                      const object_data *object, obstacle *result)
{
    const monster_definition *definition = m->definition;
    const bool plain = m->plain;
    const bool walks_around = m->walks_around;
    const world_point2d here = m->here;
    const world_point2d there = {glance.x, glance.y};
    const int64_t dx = (int64_t)there.x - here.x, dy = (int64_t)there.y - here.y;
    const bool near = dx > -(1 << 24) && dx < (1 << 24) && dy > -(1 << 24) && dy < (1 << 24);
    const bool allied = mover_allied_with(m, glance.team);
    const monster_definition *other_definition = definition_of_type(m, other->type);
    if (!other_definition) return false;
    const int32_t s = definition->size, o = other_definition->size;
    if ((s > 0 && o == 0) || (s == 0 && o > 0)) return false;
    if (current_gameplay_version >= 1301 && m->flies != ((other_definition->flags & _monster_flies_flag) != 0))
        return false;
    if (plain && !walks_around &&
        (near ? farther_than(m, glance, 1536 + definition->pathfinding_radius + other_definition->pathfinding_radius)
              : distance2d(&here, &there) - definition->pathfinding_radius - other_definition->pathfinding_radius >
                    1536))
        return false;
    if (m->target_type != NONE && !allied && other->type == m->target_type) return false;
    if (allied) // use_monster_pathfinding_radius: both units exist
    {
        result->radius = other_definition->pathfinding_radius;
        result->flags = _obstacle_is_friendly_monster_flag;
    }
    else
    {
        result->radius = object->radius;
        result->flags = 0;
    }
    if (other->action == _monster_action_moving || other->action == _monster_action_turning ||
        (other->flags & _monster_needs_new_path_flag))
        result->flags |= _obstacle_is_temporary_flag;
    return true;
}

bool object_is_obstacle(const monster_data *mover, const monster_definition *definition,
                        const object_data *mover_object, int32_t object_index, const object_data *object)
{
    if ((mover->flags & _monster_wants_to_pick_up_object_flag) && mover->pick_up_object_index == object_index &&
        mover->pick_up_object_identifier == object->identifier)
        return false;
    if ((game_->option_flags & _game_option_uses_vux_flag) && (object->flags & _object_is_flag_flag) &&
        (current_gameplay_version < 1601 || (mover_object->flags & _object_floats_on_media_flag)))
        return false;
    if (current_gameplay_version >= 1510 && (definition->flags & _monster_flies_flag) &&
        (object->owner == _object_is_scenery || object->owner == _object_is_projectile ||
         object->owner == _object_is_dormant_projectile) &&
        object->height1 - object->height0 < mover->height_over_mesh)
        return false;
    return true;
}

// Bit x - first set for each cell x in first..end - 1 (at most 32 of them)
// whose scan chain is not empty; a row of 16, the obstacle block's width,
// is read 8 cells at a time.
uint32_t occupied_cells(const int16_t *row, int32_t first, int32_t end)
{
#if defined(__SSE2__)
    if (end - first == 16)
    {
        const __m128i empty = _mm_set1_epi16(NONE);
        const __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(row + first)), empty);
        const __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(row + first + 8)), empty);
        return ~(uint32_t)_mm_movemask_epi8(_mm_packs_epi16(low, high)) & 0xFFFFu;
    }
#endif
    uint32_t occupied = 0;
    for (int32_t x = first; x < end; ++x) occupied |= (uint32_t)(row[x] != NONE) << (x - first);
    return occupied;
}

// Bit x - first set for each cell x in first..end - 1 (at most 32 of them)
// whose count is 0, as occupied_cells reads a row.
inline uint32_t empty_counts(const int16_t *row, int32_t first, int32_t end)
{
#if defined(__SSE2__)
    if (end - first == 16)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(row + first)), zero);
        const __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(row + first + 8)), zero);
        return (uint32_t)_mm_movemask_epi8(_mm_packs_epi16(low, high)) & 0xFFFFu;
    }
#endif
    uint32_t empty = 0;
    for (int32_t x = first; x < end; ++x) empty |= (uint32_t)(row[x] == 0) << (x - first);
    return empty;
}

// Bit x - first set for each column x in from..to that lies in first..end - 1.
inline uint32_t block_columns(int64_t from, int64_t to, int32_t first, int32_t end)
{
    const int64_t low = from > first ? from : first, high = to < end - 1 ? to : end - 1;
    if (low > high) return 0;
    return (uint32_t)((((uint64_t)2 << (high - first)) - 1) & ~(((uint64_t)1 << (low - first)) - 1));
}

// The top-left cell of the block of cells searched for obstacles: the block
// lies mostly ahead of the unit (4 cells in from the side behind it), and
// stays on the mesh where the mesh is wide enough to hold it.
static void obstacle_block_corner(const monster_data *mover, const object_data *mover_object, int32_t *x,
                                  int32_t *y)
{
    const angle turned = (angle)(mover->desired_yaw + 0x2000);
    const int32_t quarter = turned >> 14;
    const int32_t f = (turned & 0x3FFF) * 2 + 0x4000;
    int32_t ox, oy;
    switch (quarter)
    {
    case 0: ox = 4, oy = (65536 - f) >> 12; break;
    case 1: ox = f >> 12, oy = 4; break;
    case 2: ox = 12, oy = f >> 12; break;
    default: ox = (65536 - f) >> 12, oy = 12; break;
    }
    const int32_t unit_x = mover_object->location.position.x >> WORLD_FRACTIONAL_BITS;
    const int32_t unit_y = mover_object->location.position.y >> WORLD_FRACTIONAL_BITS;
    int32_t corner_x = unit_x - ox, corner_y = unit_y - oy;
    if (corner_x > mesh_width - FIND_POSSIBLE_OBSTACLES_BOX_WIDTH)
        corner_x = mesh_width - FIND_POSSIBLE_OBSTACLES_BOX_WIDTH;
    if (corner_y > mesh_height - FIND_POSSIBLE_OBSTACLES_BOX_WIDTH)
        corner_y = mesh_height - FIND_POSSIBLE_OBSTACLES_BOX_WIDTH;
    // A mesh narrower than the block puts the corner off the mesh: only cells on it are visited.
    if (corner_x < 0) corner_x = 0;
    if (corner_y < 0) corner_y = 0;
    *x = corner_x;
    *y = corner_y;
}

// An object's obstacle facts as its record and its unit's say now (a free
// slot: refused).
obstacle_facts obstacle_facts_of_records(int32_t object_index)
{
    const object_data *object = get_object(object_index);
    if (!object) return {0, 0, 0, 0, 0, _obstacle_fact_refused_flag};
    const monster_data *unit = object->owner == _object_is_monster ? get_monster_data(object->owner_index) : nullptr;
    if (!unit) return obstacle_facts_of(object, nullptr);
    const obstacle_unit_facts said = unit_obstacle_facts(unit);
    return obstacle_facts_of(object, &said);
}

// The checker: the facts of every object the block's scan chains hold (rows
// first_row.. of `rows` rows, columns first..end - 1) as the records say,
// into `truths` (by object index), a difference from the kept ones counted,
// and so is a cell whose count of objects not refused (first_open..) is not
// that of its kept facts.  The walk then reads the truths, every cell.
const obstacle_facts *checked_obstacle_facts(const int16_t *first_row, const int16_t *first_open, int32_t rows,
                                             int32_t first, int32_t end,
                                             const int16_t *links, const obstacle_facts *kept,
                                             std::vector<obstacle_facts> *truths)
{
    truths->assign((size_t)(get_object_array()->capacity > 0 ? get_object_array()->capacity : 0), obstacle_facts{});
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = first; x < end; ++x)
        {
            const size_t cell = (size_t)y * (size_t)mesh_width + (size_t)x;
            int32_t open = 0;
            for (int32_t object_index = first_row[cell]; object_index != NONE; object_index = links[object_index])
            {
                const obstacle_facts truth = obstacle_facts_of_records(object_index);
                const obstacle_facts &copy = kept[object_index];
                if (truth.x != copy.x || truth.y != copy.y || truth.yaw != copy.yaw || truth.speed != copy.speed ||
                    truth.team != copy.team || truth.flags != copy.flags)
                    count_obstacle_facts_mismatch(object_index);
                (*truths)[(size_t)object_index] = truth;
                if (!(copy.flags & _obstacle_fact_refused_flag)) open += 1;
            }
            if (open != first_open[cell]) count_obstacle_facts_mismatch(first_row[cell]);
        }
    return truths->data();
}

// One obstacle collection's walk over its block of cells.
struct obstacle_walk
{
    mover_facts facts;
    const monster_data *mover;
    const monster_definition *definition;
    const object_data *mover_object;
    int32_t own_object;
    int32_t corner_x, corner_y, right, bottom;
    // unit_is_obstacle's first distance test (a squared distance; INT64_MAX
    // when the mover has none), taken before it is called.
    int64_t never_counts_from;
    // The block's columns that the distance bound may pass over (not the
    // mesh's edges, none past 2^24 from the unit along x), as bits.
    uint32_t distance_columns;
    const int16_t *links;
    const obstacle_facts *facts_of;
    // The records are read straight from their arrays (as get_object and
    // get_monster_data do, without the call).
    const record_reader *objects, *units;
    bool checking; // the obstacle facts' checker: every cell is walked
};

// The occupied cells of row `y` (bits from corner_x) that hold no unit that
// counts by the distance bound and nothing else: each point of such a cell
// lies `never_counts_from` or farther from the unit.  Edge cells also hold
// the objects beyond the mesh, and unit_is_obstacle takes the root itself
// past 2^24 along an axis: such cells are never passed over.
static uint32_t distance_passed_cells(const obstacle_walk &w, int32_t y, uint32_t occupied, const int16_t *others)
{
    const world_point2d here = w.facts.here;
    const int64_t axis_limit = (int64_t)1 << 24;
    const int64_t top = (int64_t)y << WORLD_FRACTIONAL_BITS, low = top + WORLD_ONE - 1;
    if (w.never_counts_from == INT64_MAX || y <= 0 || y >= mesh_height - 1 || top - here.y <= -axis_limit ||
        low - here.y >= axis_limit)
        return 0;
    // The distance columns may be passed over, except the near ones,
    // near_left..near_right: those within `reach` of the unit along x,
    // where `reach` is what this row's distance leaves of the bound.
    int64_t near_left = 1, near_right = 0;
    const int64_t dy = here.y < top ? top - here.y : (here.y > low ? here.y - low : 0);
    const int64_t left_over = w.never_counts_from - dy * dy;
    if (left_over > 0)
    {
        const int64_t reach = isqrt64((uint64_t)(left_over - 1));
        near_left = ((int64_t)here.x - reach) >> WORLD_FRACTIONAL_BITS;
        near_right = ((int64_t)here.x + reach) >> WORLD_FRACTIONAL_BITS;
    }
    return occupied & w.distance_columns & ~block_columns(near_left, near_right, w.corner_x, w.right) &
           (path_globals.skipping.fault ? ~0u : empty_counts(others, w.corner_x, w.right));
}

// Whether the cell's kept summary refuses it whole (a cell of allies
// marching the mover's way); the checker compares the summary with the
// scan chain's.
static bool moving_cell_passed(obstacle_walk &w, int32_t x, int32_t y, const scan_cell_motion &kept)
{
    auto &skipping = path_globals.skipping;
    scan_cell_motion fresh_summary;
    if (kept.stale) fresh_summary = get_scan_cell_motion(x, y);
    const scan_cell_motion &motion = kept.stale ? fresh_summary : kept;
    if (skipping.checking) [[unlikely]]
    {
        const scan_cell_motion fresh = summarize_scan_cell_motion(x, y);
        if (fresh.yaw_sectors != motion.yaw_sectors || fresh.teams != motion.teams ||
            fresh.slowest != motion.slowest || fresh.others != motion.others)
            skipping.counts.mismatches += 1;
    }
    if (!moving_cell_refused(&w.facts, motion)) return false;
    if (skipping.checking) skipping.counts.moving_cells_skipped += 1;
    return true;
}

// The cells of `cells` (bits from corner_x, their summaries from `motion`
// on) that moving_cell_passed passes over, for a walk without a checker:
// the mover's facts read once, and the common answers (a cell with other
// objects, or of units the mover refuses by their facings alone) taken
// before the whole test.
static inline __attribute__((always_inline)) uint32_t moving_cells_passed(obstacle_walk &w, int32_t y,
                                                                        const scan_cell_motion *motion, uint32_t cells)
{
    const uint64_t other_ways = ~w.facts.facing_sectors;
    const bool refuses_facing = w.facts.refuses_facing, either_way = w.facts.refuses_either_way;
    uint32_t passed = 0;
    for (; cells; cells &= cells - 1)
    {
        const int32_t bit = std::countr_zero(cells);
        const scan_cell_motion &cell = motion[bit];
        bool refused;
        if (cell.stale) [[unlikely]]
            refused = moving_cell_passed(w, w.corner_x + bit, y, cell);
        else if (cell.others || cell.yaw_sectors == 0)
            refused = false;
        else if (refuses_facing && (either_way || (cell.yaw_sectors & other_ways) == 0))
            refused = true;
        else
            refused = moving_cell_refused(&w.facts, cell);
        passed |= (uint32_t)refused << bit;
    }
    return passed;
}

// Walks the scan chain from `first`, adding the obstacles that count (one
// met in a cell that was to be passed over, `passed`, is a mismatch).
// False once the list is full: nothing later in the block can count then.
static bool walk_obstacle_cell(obstacle_walk &w, int32_t first, bool passed)
{
    obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
    const record_reader &objects = *w.objects, &units = *w.units;
    const world_point2d here = w.facts.here;
    for (int32_t object_index = first; object_index != NONE; object_index = w.links[object_index])
    {
        // The kept facts refuse most objects (units still to plan,
        // and allies moving their way) and rule out far units before
        // any record is read.
        const obstacle_facts &kept = w.facts_of[object_index];
        if ((kept.flags & _obstacle_fact_refused_flag) || object_index == w.own_object) continue;
        bool counts;
        obstacle candidate;
        if (kept.flags & _obstacle_fact_unit_flag)
        {
            const int64_t dx = (int64_t)kept.x - here.x, dy = (int64_t)kept.y - here.y;
            // -2^24 < dx, dy < 2^24, each in one unsigned comparison
            const bool near = (uint64_t)(dx + (1 << 24) - 1) < (uint64_t)(1 << 25) - 1 &&
                              (uint64_t)(dy + (1 << 24) - 1) < (uint64_t)(1 << 25) - 1;
            const int64_t squared = dx * dx + dy * dy;
            if (near && squared >= w.never_counts_from) continue;
            if ((kept.flags & _obstacle_fact_moving_flag) && moving_unit_refused(&w.facts, kept, near, squared))
                continue;
            const object_data *object = (const object_data *)objects.get(object_index);
            const monster_data *other = object ? (const monster_data *)units.get(object->owner_index) : nullptr;
            if (!other) continue; // the kept facts say otherwise: the checker counts it
            candidate = {0, {kept.x, kept.y}, object->radius, (int16_t)object_index};
            counts = unit_is_obstacle(&w.facts, kept, other, object, &candidate);
        }
        else
        {
            const object_data *object = (const object_data *)objects.get(object_index);
            if (!object) continue;
            candidate = {0, {kept.x, kept.y}, object->radius, (int16_t)object_index};
            counts = object_is_obstacle(w.mover, w.definition, w.mover_object, object_index, object);
        }
        if (!counts) continue;
        if (passed) path_globals.skipping.counts.mismatches += 1;
        avoidance->obstacles[avoidance->obstacle_count++] = candidate;
        if (avoidance->obstacle_count >= MAXIMUM_OBSTACLES_TO_CONSIDER) return false;
    }
    return true;
}

// The block's cells with objects not refused, as bits (from corner_x) into
// `open_cells` row by row, from their counts (first_open..); the rows with
// any, as bits from corner_y.  The checker has every row walked.
static uint32_t open_block_cells(const obstacle_walk &w, const int16_t *first_open, uint32_t columns,
                                 uint32_t *open_cells)
{
    uint32_t live = 0;
    for (int32_t y = 0; y < w.bottom - w.corner_y; ++y)
    {
        open_cells[y] = ~empty_counts(first_open + (size_t)y * (size_t)mesh_width, w.corner_x, w.right) & columns;
        live |= (uint32_t)(open_cells[y] != 0 || w.checking) << y;
    }
    return live;
}

void collect_obstacles(int32_t monster_index, const monster_data *mover, const monster_definition *definition,
                       const object_data *mover_object)
{
    path_globals.obstacle_changes += 1;
    obstacle_walk w;
    w.mover = mover;
    w.definition = definition;
    w.mover_object = mover_object;
    w.own_object = mover->object_index;
    obstacle_block_corner(mover, mover_object, &w.corner_x, &w.corner_y);
    w.right = w.corner_x + FIND_POSSIBLE_OBSTACLES_BOX_WIDTH < mesh_width ? w.corner_x + FIND_POSSIBLE_OBSTACLES_BOX_WIDTH
                                                                          : mesh_width;
    w.bottom = w.corner_y + FIND_POSSIBLE_OBSTACLES_BOX_WIDTH < mesh_height
                   ? w.corner_y + FIND_POSSIBLE_OBSTACLES_BOX_WIDTH
                   : mesh_height;
    // For a plain unit that does not walk round blockages, no unit farther
    // than 1536 + both pathfinding radii counts, and none has a radius above
    // the largest any unit type has.
    w.never_counts_from = INT64_MAX;
    int32_t largest_radius = 0;
    if (plain_player_controlled(mover) && !walks_around_blockage(definition) &&
        largest_pathfinding_radius(&largest_radius))
    {
        const int64_t limit = (int64_t)1536 + definition->pathfinding_radius + largest_radius;
        if (limit >= 0) w.never_counts_from = (limit + 1) * (limit + 1);
    }
    fill_mover_facts(&w.facts, monster_index, mover, definition, mover_object);
    {
        const int64_t axis_limit = (int64_t)1 << 24, x = w.facts.here.x;
        const int64_t bound_left = ((x - axis_limit) >> WORLD_FRACTIONAL_BITS) + 1;
        const int64_t bound_right = (x + axis_limit - WORLD_ONE) >> WORLD_FRACTIONAL_BITS;
        w.distance_columns = block_columns(bound_left > 1 ? bound_left : 1,
                                           bound_right < mesh_width - 2 ? bound_right : mesh_width - 2, w.corner_x,
                                           w.right);
    }
    const record_reader objects(get_object_array()), units(get_monster_array());
    w.objects = &objects;
    w.units = &units;
    auto &skipping = path_globals.skipping;
    const scan_chain_block block = get_scan_chain_block(w.corner_y, w.bottom);
    w.links = block.links;
    w.facts_of = block.facts;
    const int16_t *first_row = block.first_row, *first_others = block.others, *first_open = block.open;
    const int16_t *first_still = block.still;
    const scan_cell_motion *first_motion = block.motion;
    if (!first_row) return;
    std::vector<obstacle_facts> truths;
    w.checking = obstacle_facts_checking();
    if (w.checking) [[unlikely]]
        w.facts_of = checked_obstacle_facts(first_row, first_open, w.bottom - w.corner_y, w.corner_x, w.right, w.links,
                                            w.facts_of, &truths);
    const uint32_t columns = (uint32_t)(((uint64_t)1 << (w.right - w.corner_x)) - 1); // the block's, as bits
    uint32_t open_cells[FIND_POSSIBLE_OBSTACLES_BOX_WIDTH];
    for (uint32_t live_rows = open_block_cells(w, first_open, columns, open_cells); live_rows;
         live_rows &= live_rows - 1)
    {
        const int32_t y = w.corner_y + std::countr_zero(live_rows);
        const size_t row_start = (size_t)(y - w.corner_y) * (size_t)mesh_width;
        const int16_t *row = first_row + row_start;
        // The row's occupied cells of the block as bits (the block is 16
        // wide), so that the walk goes from one to the next without a test
        // of each empty cell, and an empty row costs nothing more.
        static_assert(FIND_POSSIBLE_OBSTACLES_BOX_WIDTH <= 32, "the occupied cells of a row fit one word");
        // Cells whose every object the kept facts refuse are passed over (a
        // walk that checks the kept facts reads them all): a cell with an
        // object they do not refuse is occupied, so its count tells both.
        uint32_t occupied = w.checking ? occupied_cells(row, w.corner_x, w.right) : open_cells[y - w.corner_y];
        if (!occupied) continue;
        // Cells of allies marching the mover's way are passed over too; only
        // a cell of nothing but moving units may be one.
        uint32_t moving = 0;
        if (!w.checking && !skipping.checking) [[likely]]
            moving = moving_cells_passed(w, y, first_motion + row_start + w.corner_x,
                                         occupied & empty_counts(first_still + row_start, w.corner_x, w.right));
        else if (!w.checking)
        {
            const uint32_t cells = occupied & empty_counts(first_still + row_start, w.corner_x, w.right);
            for (uint32_t left = cells; left; left &= left - 1)
            {
                const int32_t bit = std::countr_zero(left), x = w.corner_x + bit;
                if (moving_cell_passed(w, x, y, first_motion[row_start + (size_t)x])) moving |= (uint32_t)1 << bit;
            }
            // The plain walk's answer for the same cells (their summaries
            // are current now) is this one.
            if (moving_cells_passed(w, y, first_motion + row_start + w.corner_x, cells) != moving)
                skipping.counts.mismatches += 1;
        }
        // The occupied cells that may be passed over by the distance bound,
        // as bits.  A checking walk still visits every cell passed over, to
        // count any that should not have been.
        if (!skipping.checking) occupied &= ~moving;
        if (!occupied) continue;
        const uint32_t passed = distance_passed_cells(w, y, occupied, first_others + row_start);
        if (skipping.checking) skipping.counts.cells_skipped += std::popcount(passed);
        else occupied &= ~passed;
        for (; occupied; occupied &= occupied - 1)
        {
            const int32_t bit = std::countr_zero(occupied), x = w.corner_x + bit;
            if (!walk_obstacle_cell(w, row[x], (((passed | moving) >> bit) & 1) != 0)) return;
        }
    }
}

int32_t obstacle_clearance(const obstacle *o)
{
    const obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
    int32_t clearance = o->radius + 95 +
                        ((o->flags & _obstacle_is_friendly_monster_flag) ? avoidance->friendly_monster_radius
                                                                        : avoidance->monster_radius);
    if (current_gameplay_version < 1301) return clearance;
    const object_data *object = get_object(o->object_index);
    if (!object) return clearance;
    bool halved = false;
    const bool version_1500 = current_gameplay_version == 1500;
    switch (object->owner)
    {
    case _object_is_scenery: halved = !scenery_definition_is_netgame_flag(object->owner_index); break;
    case _object_is_projectile:
        halved = version_1500 ? !scenery_definition_is_netgame_flag(object->owner_index)
                              : !(object->flags & _object_is_flag_flag);
        break;
    case _object_is_dormant_projectile:
        halved = version_1500 ? !scenery_definition_is_netgame_flag(object->owner_index) : true;
        break;
    default: break;
    }
    return halved ? clearance / 2 : clearance;
}

bool destination_inside_obstacle(const world_point2d *destination)
{
    const obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
    for (int32_t i = 0; i < avoidance->obstacle_count; ++i)
    {
        const obstacle *o = &avoidance->obstacles[i];
        if (o->flags & _obstacle_is_temporary_flag) continue;
        if (distance2d(destination, &o->center) < obstacle_clearance(o)) return true;
    }
    return false;
}

void clamp_point_into_mesh(world_point2d *point)
{
    const world_distance right = mesh_width * WORLD_ONE, bottom = mesh_height * WORLD_ONE;
    if (point->x < 0) point->x = 0;
    if (point->y < 0) point->y = 0;
    if (point->x >= right) point->x = right - 1;
    if (point->y >= bottom) point->y = bottom - 1;
}

bool point_cell_is_passable(const world_point2d *point, uint16_t mask)
{
    return path_cell_is_passable(point->x >> WORLD_FRACTIONAL_BITS, point->y >> WORLD_FRACTIONAL_BITS, mask);
}

} // namespace

void set_avoidance_loop_checking(bool on)
{
    path_globals.chain.checking = on;
    path_globals.chain.counts = {};
}

avoidance_loop_check_counts get_avoidance_loop_check_counts(void) { return path_globals.chain.counts; }

void plant_avoidance_loop_fault(bool on) { path_globals.chain.fault = on; }

void set_obstacle_skipping_checking(bool on)
{
    path_globals.skipping.checking = on;
    path_globals.skipping.counts = {};
}

obstacle_skipping_check_counts get_obstacle_skipping_check_counts(void) { return path_globals.skipping.counts; }

void plant_obstacle_skipping_fault(bool on) { path_globals.skipping.fault = on; }

static bool avoidance_level(const world_point2d *end_point, int32_t state, int32_t avoided_object_index,
                            int32_t depth);

bool find_avoidance_point(const world_point2d *end_point, int32_t state, int32_t avoided_object_index, int32_t depth)
{
    avoidance_chain *chain = &path_globals.chain;
    chain->first_depth = depth;
    chain->levels = 0;
    chain->generation = 0;
    chain->pending = false;
    const bool result = avoidance_level(end_point, state, avoided_object_index, depth);
    if (chain->pending)
    {
        const obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
        const int16_t walked =
            state == _finding_leftmost ? avoidance->leftmost_object_index : avoidance->rightmost_object_index;
        chain->counts.loops_checked += 1;
        if (!result || walked != chain->predicted) chain->counts.mismatches += 1;
        chain->pending = false;
    }
    return result;
}

// A chain of levels that comes back to a point it has passed, with the same
// radii, repeats until the depth cut-off: the object the last level would
// choose is known without walking there.  Records this level's point when no
// loop is found.  True when the chain's answer is taken (outside the check's
// own runs); the check then compares it with the walked one.
static bool answer_from_recorded_chain(avoidance_chain *chain, obstruction_avoidance_globals *avoidance,
                                       int32_t state, const world_point2d &p, int32_t level)
{
    for (int32_t j = 0; j < level; ++j)
    {
        if (chain->points[j].x != p.x || chain->points[j].y != p.y || chain->generations[j] != chain->generation)
            continue;
        // Levels j .. level - 1 repeat until the level at depth
        // ITERATION_CUTOFF, the last to run; each chose an object and
        // returned true, and none changed a radius.
        const int32_t period = level - j, last = ITERATION_CUTOFF - chain->first_depth;
        const int16_t object = chain->chosen[j + ((last - j) + (chain->fault ? 1 : 0)) % period];
        chain->counts.loops_found += 1;
        if (!chain->checking)
        {
            if (state == _finding_leftmost) avoidance->leftmost_object_index = object;
            else avoidance->rightmost_object_index = object;
            return true;
        }
        chain->pending = true;
        chain->predicted = object;
        break;
    }
    if (!chain->pending)
    {
        chain->points[level] = p;
        chain->generations[level] = chain->generation;
        chain->chosen[level] = NONE;
        chain->levels = level + 1;
    }
    return false;
}

// The obstacle in the way that the mover must turn widest to pass (or the
// first it stands inside).
struct avoidance_choice
{
    int32_t index;
    uint16_t alpha;
    int32_t r, big_r, d, mover_radius;
    angle beta;
    bool inside;
};

// Finds the obstacle in the way from `start` toward `p` (`d` apart) that
// needs the widest turn; its index is NONE when nothing is in the way.
static void choose_avoided_obstacle(const obstruction_avoidance_globals *avoidance, const world_point2d &start,
                                    const world_point2d &p, int32_t d, avoidance_choice *choice)
{
    int32_t &chosen = choice->index;
    uint16_t &chosen_alpha = choice->alpha;
    int32_t &chosen_r = choice->r, &chosen_big_r = choice->big_r, &chosen_d = choice->d;
    int32_t &chosen_mover_radius = choice->mover_radius;
    angle &chosen_beta = choice->beta;
    bool &inside = choice->inside;
    *choice = {NONE, 0, 0, 0, 0, 0, 0, false};
    // Each obstacle's segment runs from start toward p, longer for a larger
    // radius; the shifts round down, so within one unit every such segment
    // lies on the longest one, and a centre `big_r` or more outside the
    // longest's box along one axis is passed over (below) before its own
    // segment is worked out.
    const int32_t count = avoidance->obstacle_count < MAXIMUM_OBSTACLES_TO_CONSIDER ? avoidance->obstacle_count
                                                                                  : MAXIMUM_OBSTACLES_TO_CONSIDER;
    auto &cached = path_globals.obstacle_reach;
    const auto reach_of = [&](int32_t i) {
        const obstacle *o = &avoidance->obstacles[i];
        return o->radius + ((o->flags & _obstacle_is_friendly_monster_flag) ? avoidance->friendly_monster_radius
                                                                            : avoidance->monster_radius);
    };
    const bool current = cached.valid && cached.changes == path_globals.obstacle_changes && cached.count == count &&
                         cached.monster_radius == avoidance->monster_radius &&
                         cached.friendly_monster_radius == avoidance->friendly_monster_radius;
    if (current && path_globals.chain.checking)
    {
        // The checker: the kept reaches against the obstacles as they are now.
        bool same = true;
        for (int32_t i = 0; i < count; ++i) same = same && cached.reach[i] == reach_of(i);
        if (!same) path_globals.chain.counts.mismatches += 1;
    }
    if (!current)
    {
        cached.valid = true;
        cached.changes = path_globals.obstacle_changes;
        cached.count = count;
        cached.monster_radius = avoidance->monster_radius;
        cached.friendly_monster_radius = avoidance->friendly_monster_radius;
        cached.widest = 0;
        for (int32_t i = 0; i < count; ++i)
        {
            cached.reach[i] = reach_of(i);
            if (i == 0 || cached.reach[i] > cached.widest) cached.widest = cached.reach[i];
        }
    }
    const int32_t widest = cached.widest;
    world_point2d far_end = start;
    if (d != 0)
    {
        const int64_t f = ((int64_t)(widest + MINIMUM_AVOID_RADIUS + d) * 65536) / d;
        far_end.x = start.x + (world_distance)(((int64_t)(p.x - start.x) * f) >> 16);
        far_end.y = start.y + (world_distance)(((int64_t)(p.y - start.y) * f) >> 16);
    }
    const int64_t reach_low_x = (int64_t)(start.x < far_end.x ? start.x : far_end.x) - 2;
    const int64_t reach_high_x = (int64_t)(start.x < far_end.x ? far_end.x : start.x) + 1;
    const int64_t reach_low_y = (int64_t)(start.y < far_end.y ? start.y : far_end.y) - 2;
    const int64_t reach_high_y = (int64_t)(start.y < far_end.y ? far_end.y : start.y) + 1;
    for (int32_t i = 0; i < count && !inside; ++i)
    {
        const obstacle *o = &avoidance->obstacles[i];
        const int32_t r = cached.reach[i], big_r = r + MINIMUM_AVOID_RADIUS;
        if (big_r <= 32767 && ((int64_t)o->center.x - reach_high_x >= big_r || reach_low_x - o->center.x >= big_r ||
                               (int64_t)o->center.y - reach_high_y >= big_r || reach_low_y - o->center.y >= big_r))
            continue;
        world_point2d e = start;
        if (d != 0)
        {
            const int64_t f = ((int64_t)(big_r + d) * 65536) / d;
            e.x = start.x + (world_distance)(((int64_t)(p.x - start.x) * f) >> 16);
            e.y = start.y + (world_distance)(((int64_t)(p.y - start.y) * f) >> 16);
        }
        // The foot lies on the segment from start to e, within one unit of
        // its box (the shifts round down): a centre `big_r` or more outside
        // that box along one axis is never within `big_r` of the foot, so it
        // is passed over before the exact test, with the same answer.
        if (big_r <= 32767)
        {
            const int64_t low_x = (int64_t)(start.x < e.x ? start.x : e.x) - 1, high_x = start.x < e.x ? e.x : start.x;
            const int64_t low_y = (int64_t)(start.y < e.y ? start.y : e.y) - 1, high_y = start.y < e.y ? e.y : start.y;
            if ((int64_t)o->center.x - high_x >= big_r || low_x - o->center.x >= big_r ||
                (int64_t)o->center.y - high_y >= big_r || low_y - o->center.y >= big_r)
                continue;
        }
        world_point2d foot;
        if (!closest_point_on_line_segment2d(&o->center, &start, &e, &foot) ||
            !world_distance2d_less_than(&foot, &o->center, big_r))
            continue;
        const angle beta = arctangent(o->center.x - start.x, o->center.y - start.y);
        const int32_t distance = distance2d(&o->center, &start);
        angle alpha;
        bool stands_inside = false;
        if (distance < r + TRUE_AVOID_RADIUS)
        {
            if (distance <= r + 94)
            {
                alpha = QUARTER_CIRCLE;
                stands_inside = true;
            }
            else
                alpha = arcsine(((r + 95) * TRIG_MAGNITUDE) / distance);
        }
        else
            alpha = arcsine(((r + TRUE_AVOID_RADIUS) * TRIG_MAGNITUDE) / distance);
        if (stands_inside || alpha > chosen_alpha)
        {
            chosen = i;
            chosen_alpha = alpha;
            chosen_r = r;
            chosen_big_r = big_r;
            chosen_d = distance;
            chosen_beta = beta;
            chosen_mover_radius = (o->flags & _obstacle_is_friendly_monster_flag) ? avoidance->friendly_monster_radius
                                                                                  : avoidance->monster_radius;
            inside = stands_inside;
        }
    }
}

// Whether the mover keeps meeting the object it avoided last: one that walks
// around blockages, or a player's plain unit near the obstacle, notes it.
static void note_avoiding_same_object(obstruction_avoidance_globals *avoidance, const monster_data *mover,
                                      const monster_definition *definition, const object_data *mover_object,
                                      const obstacle *o, int32_t avoided_object_index)
{
    const bool plain = plain_player_controlled(mover);
    bool may = walks_around_blockage(definition);
    if (!may && plain)
    {
        const world_point2d here = {mover_object->location.position.x, mover_object->location.position.y};
        const object_data *obstacle_object = get_object(o->object_index);
        const world_point2d there =
            obstacle_object ? world_point2d{obstacle_object->location.position.x,
                                            obstacle_object->location.position.y}
                            : o->center;
        may = world_distance2d_less_than(&here, &there, definition->pathfinding_radius + o->radius + 512);
    }
    if (may && avoided_object_index != NONE && avoided_object_index == o->object_index &&
        (plain || definition->pathfinding_radius > 99))
        avoidance->avoiding_same_object_again = true;
}

static bool avoidance_level(const world_point2d *end_point, int32_t state, int32_t avoided_object_index,
                            int32_t depth)
{
    if (depth > ITERATION_CUTOFF) return false;
    if (!VASSERT(state == _finding_leftmost || state == _finding_rightmost,
                 "state== _finding_leftmost || state== _finding_rightmost"))
        return false;
    obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
    const monster_data *mover = get_monster_data(avoidance->monster_index);
    const monster_definition *definition = mover ? get_monster_definition(mover->type) : nullptr;
    const object_data *mover_object = mover ? get_object(mover->object_index) : nullptr;
    if (!definition || !mover_object) return false;
    const world_point2d start = avoidance->start;
    const world_point2d p = *end_point;

    avoidance_chain *chain = &path_globals.chain;
    const int32_t level = depth - chain->first_depth;
    const bool recorded = !chain->pending && level >= 0 && level <= ITERATION_CUTOFF && level == chain->levels;
    if (recorded && answer_from_recorded_chain(chain, avoidance, state, p, level)) return true;
    const int32_t d = distance2d(&p, &start);

    avoidance_choice choice;
    choose_avoided_obstacle(avoidance, start, p, d, &choice);
    const int32_t chosen = choice.index;
    const uint16_t chosen_alpha = choice.alpha;
    const int32_t chosen_r = choice.r, chosen_big_r = choice.big_r, chosen_d = choice.d;
    const int32_t chosen_mover_radius = choice.mover_radius;
    const angle chosen_beta = choice.beta;
    const bool inside = choice.inside;
    if (chosen == NONE)
    {
        if (state == _finding_leftmost) avoidance->leftmost_point = p;
        else avoidance->rightmost_point = p;
        return false;
    }

    obstacle *o = &avoidance->obstacles[chosen];
    int32_t tangent;
    if (chosen_d > chosen_big_r)
    {
        const int32_t reach = chosen_d < chosen_r + TRUE_AVOID_RADIUS ? chosen_big_r : chosen_r + TRUE_AVOID_RADIUS;
        tangent = (int32_t)isqrt64((uint64_t)((int64_t)chosen_d * chosen_d - (int64_t)reach * reach));
    }
    else
        tangent = chosen_mover_radius;
    tangent += OVERSHOOT_DISTANCE;
    VASSERT(tangent != 0, "distance_to_tangent!=0");

    const angle plus = (angle)(chosen_beta + chosen_alpha), minus = (angle)(chosen_beta - chosen_alpha);
    const world_point2d a = {start.x + ((cosine_rounded(plus) * tangent) >> TRIG_SHIFT),
                             start.y + ((sine_rounded(plus) * tangent) >> TRIG_SHIFT)};
    const world_point2d b = {start.x + ((cosine_rounded(minus) * tangent) >> TRIG_SHIFT),
                             start.y + ((sine_rounded(minus) * tangent) >> TRIG_SHIFT)};
    if (inside)
    {
        if (o->radius != 0)
        {
            chain->generation += 1;
            path_globals.obstacle_changes += 1;
        }
        o->radius = 0;
    }
    if (recorded && chain->levels == level + 1) chain->chosen[level] = o->object_index;

    const int64_t side = (int64_t)(a.x - start.x) * (p.y - start.y) - (int64_t)(a.y - start.y) * (p.x - start.x);
    const world_point2d next = (state == _finding_leftmost) == (side <= 0) ? a : b;

    if (current_gameplay_version >= 1301)
        note_avoiding_same_object(avoidance, mover, definition, mover_object, o, avoided_object_index);
    if (state == _finding_leftmost) avoidance->leftmost_object_index = o->object_index;
    else avoidance->rightmost_object_index = o->object_index;
    avoidance_level(&next, state, avoided_object_index, depth + 1);
    return true;
}

void adjust_path_destination_for_obstacles(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!monster || !definition || !object) return;
    const world_point2d unit = {object->location.position.x, object->location.position.y};

    // Without a path the unit stays where it is.
    const postprocessed_path_data *path = monster->path_index == NONE ? nullptr : get_path_data(monster->path_index);
    if (!path)
    {
        monster->path_destination = unit;
        return;
    }
    monster->path_destination = path->waypoint;

    // 2-4.
    obstruction_avoidance_globals *avoidance = &path_globals.avoidance;
    avoidance->obstacle_count = 0;
    avoidance->monster_index = monster_index;
    const bool walks_around = walks_around_blockage(definition);
    if (current_gameplay_version == 1500)
        avoidance->monster_radius = definition->pathfinding_radius + 21;
    else if ((game_->option_flags & (_game_option_uses_vux_flag | _game_option_uses_anticlump_flag)) ||
             (current_gameplay_version >= 1501 && walks_around))
        avoidance->monster_radius =
            definition->pathfinding_radius > object->radius ? definition->pathfinding_radius : object->radius;
    else
        avoidance->monster_radius = object->radius;
    avoidance->friendly_monster_radius = definition->pathfinding_radius;
    // A unit with a target never pulls its destination back, so its obstacles
    // are only needed past the test for a destination near enough (below):
    // a unit closing on its target is often there.
    const bool pulls_back = !(monster->flags & _monster_has_valid_target_index_flag);
    if (pulls_back && mesh_width > 0 && mesh_height > 0) collect_obstacles(monster_index, monster, definition, object);

    // A destination inside an obstacle is pulled back toward the unit.
    world_point2d destination = monster->path_destination;
    if (pulls_back && avoidance->obstacle_count > 0)
    {
        const world_point2d first = destination;
        for (int32_t k = 9; k >= 0 && destination_inside_obstacle(&destination); --k)
        {
            destination.x = unit.x + ((first.x - unit.x) * k) / 10;
            destination.y = unit.y + ((first.y - unit.y) * k) / 10;
        }
    }
    monster->path_destination = destination;

    // A destination near enough (nearer still with a target) needs no adjusting.
    int32_t dx = destination.x - unit.x, dy = destination.y - unit.y;
    const int32_t abs_dx = dx < 0 ? -dx : dx, abs_dy = dy < 0 ? -dy : dy;
    if ((abs_dx < MINIMUM_ADJUST_RADIUS && abs_dy < MINIMUM_ADJUST_RADIUS) ||
        ((monster->flags & _monster_has_valid_target_index_flag) && abs_dx < ATTACK_ADJUST_RADIUS &&
         abs_dy < ATTACK_ADJUST_RADIUS))
    {
        monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
        return;
    }

    // The leg is cut to 16 cells.
    const int64_t length = isqrt64((uint64_t)((int64_t)dx * dx + (int64_t)dy * dy));
    if (length > MAXIMUM_PATH_SEGMENT_DISTANCE)
    {
        destination.x = unit.x + (world_distance)(((int64_t)dx * MAXIMUM_PATH_SEGMENT_DISTANCE) / length);
        destination.y = unit.y + (world_distance)(((int64_t)dy * MAXIMUM_PATH_SEGMENT_DISTANCE) / length);
        monster->path_destination = destination;
    }
    if (!pulls_back && mesh_width > 0 && mesh_height > 0)
        collect_obstacles(monster_index, monster, definition, object);
    avoidance->start = unit;
    avoidance->leftmost_point = avoidance->rightmost_point = {-1, -1};
    avoidance->leftmost_object_index = avoidance->rightmost_object_index = NONE;
    avoidance->avoiding_same_object_again = false;
    if (avoidance->obstacle_count == 0) return;

    // The points around the obstacles on the left and on the right.
    bool result = find_avoidance_point(&destination, _finding_leftmost, monster->avoiding_object_index, 0);
    if (result) result = find_avoidance_point(&destination, _finding_rightmost, monster->avoiding_object_index, 0);

    // The side: the open one, else the smaller turn, else the side taken last time.
    world_point2d left = avoidance->leftmost_point, right = avoidance->rightmost_point;
    if (left.x == -1 || left.y == -1 || right.x == -1 || right.y == -1) return;
    clamp_point_into_mesh(&left);
    clamp_point_into_mesh(&right);
    const bool left_open = point_cell_is_passable(&left, definition->terrain_impassability_flags);
    const bool right_open = point_cell_is_passable(&right, definition->terrain_impassability_flags);
    if (!left_open && !right_open)
    {
        monster->flags |= _monster_has_obstructed_path_flag;
        return;
    }
    bool take_left;
    if (left_open != right_open)
        take_left = left_open;
    else
    {
        const angle bearing = arctangent(destination.x - unit.x, destination.y - unit.y);
        const int32_t left_turn = angular_difference(arctangent(left.x - unit.x, left.y - unit.y), bearing);
        const int32_t right_turn = angular_difference(arctangent(right.x - unit.x, right.y - unit.y), bearing);
        take_left = left_turn < right_turn;
    }
    const bool plain = plain_player_controlled(monster);
    if (result && current_gameplay_version >= 1301 && avoidance->avoiding_same_object_again &&
        (plain || definition->pathfinding_radius > 99) && (plain || walks_around))
        take_left = (monster->extra_flags & _monster_deviating_left_extra_flag) != 0;

    // Head for the chosen side.
    if (take_left)
    {
        monster->path_destination = left;
        monster->extra_flags |= _monster_deviating_left_extra_flag;
        monster->avoiding_object_index = avoidance->leftmost_object_index;
    }
    else
    {
        monster->path_destination = right;
        monster->extra_flags &= ~(uint32_t)_monster_deviating_left_extra_flag;
        monster->avoiding_object_index = avoidance->rightmost_object_index;
    }
    if (result)
        monster->flags |= _monster_has_obstructed_path_flag;
    else
    {
        monster->avoiding_object_index = NONE;
        monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
    }
}
