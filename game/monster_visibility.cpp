// The local player's fog of war: the visibility buffers of the mesh.

#include "monster_visibility.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "mesh.h"
#include "objects.h"

namespace {

enum
{
    FOOTPRINT_ROWS = 2 * MAXIMUM_VISIBILITY_RADIUS + 1,
    CELLS_PER_WORD = 16,
};

// Every cell's visible bit, and every cell's revealed-for-good bit, of a word.
constexpr uint32_t VISIBLE_BITS = 0xAAAAAAAAu;
constexpr uint32_t REVEALED_BITS = 0x55555555u;

// Radius in cells of each type's disc; -1: no footprint.
const int8_t visibility_radii[NUMBER_OF_VISIBILITY_TYPES] = {-1, 4, 2, 8, 12, 16};

} // namespace

static struct monster_visibility_globals
{
    // half_widths[type][MAXIMUM_VISIBILITY_RADIUS + dy]: row dy of the
    // footprint spans the cells x - h .. x + h; -1 where the row is empty.
    int8_t half_widths[NUMBER_OF_VISIBILITY_TYPES][FOOTPRINT_ROWS];

    uint32_t *front, *back, *permanent;
    int32_t width, height; // cells of the mesh the buffers were made for
    int32_t row_words;
    world_point2d center;
    bool refusal_logged; // a bad type is logged once per map
} monster_visibility_globals;

static void build_footprints(void)
{
    for (int32_t type = 0; type < NUMBER_OF_VISIBILITY_TYPES; ++type)
    {
        const int32_t radius = visibility_radii[type];
        const int32_t reach = radius * radius + radius;
        for (int32_t dy = -MAXIMUM_VISIBILITY_RADIUS; dy <= MAXIMUM_VISIBILITY_RADIUS; ++dy)
        {
            // The cells whose centres lie within about radius + 1/2 of the
            // unit's cell centre (dx² + dy² <= r² + r): a round disc even when
            // small, and symmetric in both axes.
            int32_t half = -1;
            if (radius >= 0 && dy * dy <= reach)
            {
                half = 0;
                while ((half + 1) * (half + 1) + dy * dy <= reach) ++half;
            }
            monster_visibility_globals.half_widths[type][dy + MAXIMUM_VISIBILITY_RADIUS] = (int8_t)half;
        }
    }
}

static void free_buffers(void)
{
    struct monster_visibility_globals &g = monster_visibility_globals;
    free(g.front);
    free(g.back);
    free(g.permanent);
    g.front = g.back = g.permanent = nullptr;
    g.width = g.height = g.row_words = 0;
    g.center = {0, 0};
}

bool initialize_monster_visibility(void)
{
    free_buffers();
    memset(&monster_visibility_globals, 0, sizeof(monster_visibility_globals));
    build_footprints();
    return true;
}

bool initialize_monster_visibility_for_new_map(void)
{
    struct monster_visibility_globals &g = monster_visibility_globals;
    free_buffers();
    g.refusal_logged = false;
    if (!mesh_is_loaded() || mesh_width <= 0 || mesh_height <= 0)
    {
        log_message(__FILE__, __LINE__, "no visibility buffers: no mesh is loaded");
        return false;
    }
    // Rows hold every cell: a width that is not a multiple of 16 takes one
    // more, partly used word.
    const int32_t row_words = (mesh_width + CELLS_PER_WORD - 1) / CELLS_PER_WORD;
    const size_t words = (size_t)row_words * (size_t)mesh_height;
    g.front = (uint32_t *)calloc(words, sizeof(uint32_t));
    g.back = (uint32_t *)calloc(words, sizeof(uint32_t));
    g.permanent = (uint32_t *)calloc(words, sizeof(uint32_t));
    if (!g.front || !g.back || !g.permanent)
    {
        log_message(__FILE__, __LINE__, "no visibility buffers: %d words each could not be allocated", (int)words);
        free_buffers();
        return false;
    }
    g.width = mesh_width;
    g.height = mesh_height;
    g.row_words = row_words;
    g.center = {g.width / 2, g.height / 2};
    return true;
}

void dispose_monster_visibility_from_old_map(void)
{
    free_buffers();
}

// ---- writing ---------------------------------------------------------------------

// The middle of the bounding box of the visible cells of `buffer`; false when
// none is visible.
static bool visible_bounds_center(const uint32_t *buffer, world_point2d *center)
{
    const struct monster_visibility_globals &g = monster_visibility_globals;
    int32_t left = g.width, right = -1, top = -1, bottom = -1;
    for (int32_t y = 0; y < g.height; ++y)
    {
        const uint32_t *row = buffer + (size_t)y * g.row_words;
        int32_t first_word = -1, last_word = -1;
        for (int32_t w = 0; w < g.row_words; ++w)
        {
            if (!(row[w] & VISIBLE_BITS)) continue;
            if (first_word < 0) first_word = w;
            last_word = w;
        }
        if (first_word < 0) continue;
        if (top < 0) top = y;
        bottom = y;
        const int32_t first = first_word * CELLS_PER_WORD + std::countr_zero(row[first_word] & VISIBLE_BITS) / 2;
        const int32_t last = last_word * CELLS_PER_WORD + (31 - std::countl_zero(row[last_word] & VISIBLE_BITS)) / 2;
        if (first < left) left = first;
        if (last > right) right = last;
    }
    if (top < 0) return false;
    *center = {(left + right) / 2, (top + bottom) / 2};
    return true;
}

void swap_visibility_buffers(void)
{
    struct monster_visibility_globals &g = monster_visibility_globals;
    if (!g.front) return;
    uint32_t *const finished = g.back;
    g.back = g.front;
    g.front = finished;
    // The new back buffer starts from the cells revealed for good.
    const size_t words = (size_t)g.row_words * (size_t)g.height;
    for (size_t i = 0; i < words; ++i)
    {
        const uint32_t revealed = g.permanent[i] & REVEALED_BITS;
        g.back[i] = revealed | (revealed << 1);
    }
    world_point2d center;
    if (visible_bounds_center(g.front, &center)) g.center = center;
}

int32_t get_visibility_radius(int32_t type)
{
    if (type < 0 || type >= NUMBER_OF_VISIBILITY_TYPES) return -1;
    return visibility_radii[type];
}

// ORs `pattern` into the cells x0..x1 (inside the row) of one row.
static void or_cell_run(uint32_t *row, int32_t x0, int32_t x1, uint32_t pattern)
{
    for (int32_t w = x0 / CELLS_PER_WORD; w <= x1 / CELLS_PER_WORD; ++w)
    {
        const int32_t a = w * CELLS_PER_WORD > x0 ? 0 : x0 - w * CELLS_PER_WORD;
        const int32_t b = (w + 1) * CELLS_PER_WORD - 1 < x1 ? CELLS_PER_WORD - 1 : x1 - w * CELLS_PER_WORD;
        const int32_t cells = b - a + 1;
        const uint32_t mask = (cells == CELLS_PER_WORD ? 0xFFFFFFFFu : ((1u << (2 * cells)) - 1u)) << (2 * a);
        row[w] |= mask & pattern;
    }
}

void rasterize_visibility_bitmap(int32_t type, int32_t cell_x, int32_t cell_y, bool permanent)
{
    struct monster_visibility_globals &g = monster_visibility_globals;
    if (type < 0 || type >= NUMBER_OF_VISIBILITY_TYPES)
    {
        if (!g.refusal_logged)
            log_message(__FILE__, __LINE__, "visibility type %d refused: the types are 0..%d", (int)type,
                        (int)NUMBER_OF_VISIBILITY_TYPES - 1);
        g.refusal_logged = true;
        return;
    }
    if (!g.front) return;
    const int32_t radius = visibility_radii[type];
    if (radius < 0) return;
    // Far off the mesh nothing is in reach (and nothing below can overflow).
    if (cell_x < -radius || cell_y < -radius || cell_x >= g.width + radius || cell_y >= g.height + radius) return;
    const uint32_t pattern = permanent ? 0xFFFFFFFFu : VISIBLE_BITS;
    for (int32_t dy = -radius; dy <= radius; ++dy)
    {
        const int32_t y = cell_y + dy;
        const int32_t half = g.half_widths[type][dy + MAXIMUM_VISIBILITY_RADIUS];
        if (y < 0 || y >= g.height || half < 0) continue;
        int32_t x0 = cell_x - half, x1 = cell_x + half;
        if (x0 < 0) x0 = 0;
        if (x1 >= g.width) x1 = g.width - 1;
        if (x0 > x1) continue;
        const size_t row = (size_t)y * g.row_words;
        or_cell_run(g.back + row, x0, x1, pattern);
        or_cell_run(g.permanent + row, x0, x1, pattern);
    }
}

// ---- reading ---------------------------------------------------------------------

const uint32_t *visibility_front_buffer(void)
{
    return monster_visibility_globals.front;
}

const uint32_t *visibility_permanent_buffer(void)
{
    return monster_visibility_globals.permanent;
}

int32_t visibility_buffer_row_words(void)
{
    return monster_visibility_globals.row_words;
}

uint32_t get_cell_visibility(const uint32_t *buffer, int32_t cell_x, int32_t cell_y)
{
    const struct monster_visibility_globals &g = monster_visibility_globals;
    if (!buffer || (buffer != g.front && buffer != g.permanent)) return 0;
    if (cell_x < 0 || cell_y < 0 || cell_x >= g.width || cell_y >= g.height) return 0;
    const uint32_t word = buffer[(size_t)cell_y * g.row_words + cell_x / CELLS_PER_WORD];
    return (word >> (2 * (cell_x % CELLS_PER_WORD))) & CELL_VISIBILITY_MASK;
}

void get_center_of_visibility_buffer(world_point2d *center)
{
    if (center) *center = monster_visibility_globals.center;
}

bool get_local_object_visibility_lowlevel(const object_data *object, uint32_t cell_visibility, bool *fully_visible)
{
    bool drawn = false, fully = false;
    if (object)
    {
        if (!(game_->option_flags & _game_option_limited_visibility_flag) || !monster_visibility_globals.front)
        {
            drawn = fully = true;
        }
        else
        {
            fully = visibility_is_visible(cell_visibility);
            drawn = fully || !(object->flags & _object_respects_monster_visibility_flag);
        }
    }
    if (fully_visible) *fully_visible = fully;
    return drawn;
}

// ---- registration ------------------------------------------------------------------

static bool map_visibility_buffers(const new_game_data *)
{
    return initialize_monster_visibility_for_new_map();
}

void register_monster_visibility_hooks(void)
{
    register_startup_procedure(_startup_visibility_buffers, initialize_monster_visibility);
    register_map_procedures(_map_visibility_buffers, map_visibility_buffers, dispose_monster_visibility_from_old_map);
}
