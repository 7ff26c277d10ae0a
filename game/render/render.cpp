// The scene renderer's frame.  See render.h.

#include "render/render.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "render/render_effects.h"

render_globals_data render_globals;

static procedure_slot<unit_trading_dialog_visible_procedure> unit_trading_dialog_visible_slot(
    "unit trading dialog visible");
static procedure_slot<bar_visible_procedure> control_bar_visible_slot("control bar visible");
static procedure_slot<bar_visible_procedure> status_bar_visible_slot("status bar visible");
static procedure_slot<set_bars_visible_procedure> set_bars_visible_slot("set bars visible");

bool register_unit_trading_dialog_visible_procedure(unit_trading_dialog_visible_procedure procedure)
{
    return unit_trading_dialog_visible_slot.fill(procedure);
}

bool register_bar_visible_procedures(bar_visible_procedure control_bar_visible, bar_visible_procedure status_bar_visible)
{
    return fill_procedure_pair(&control_bar_visible_slot, &status_bar_visible_slot, control_bar_visible,
                               status_bar_visible);
}

bool register_set_bars_visible_procedure(set_bars_visible_procedure procedure)
{
    return set_bars_visible_slot.fill(procedure);
}

// ---- rasterizer codes ------------------------------------------------------------------

int32_t rasterizer_code_to_id(int32_t code)
{
    static const int32_t identifiers[] = {
        (int32_t)(('s' << 24) | ('o' << 16) | ('f' << 8) | 't'),
        (int32_t)(('d' << 24) | ('3' << 16) | ('d' << 8) | 0),
        (int32_t)(('r' << 24) | ('a' << 16) | ('v' << 8) | 'e'),
        (int32_t)(('3' << 24) | ('d' << 16) | ('f' << 8) | 'x'),
        (int32_t)(('o' << 24) | ('g' << 16) | ('l' << 8) | 0),
        (int32_t)(('d' << 24) | ('x' << 16) | ('1' << 8) | '1'),
    };
    if (code < 0 || code >= (int32_t)(sizeof(identifiers) / sizeof(identifiers[0]))) return -1;
    return identifiers[code];
}

// ---- the render memory pool ---------------------------------------------------------------

static render_malloc_fail_procedure malloc_fail_override = nullptr;

static size_t round_to_alignment(size_t size)
{
    return (size + (RENDER_MEMORY_ALIGNMENT - 1)) & ~(size_t)(RENDER_MEMORY_ALIGNMENT - 1);
}

size_t render_memory_per_cell(void)
{
    // A visible cell gives one render vertex and up to two triangles, and each
    // surface costs the sort a pointer and three 32-bit words of scratch.
    const size_t sort_scratch_per_surface = sizeof(void *) + 3 * sizeof(uint32_t);
    return round_to_alignment(sizeof(render_vertex)) + 2 * round_to_alignment(sizeof(render_triangle)) +
           2 * sort_scratch_per_surface;
}

render_malloc_fail_procedure set_render_malloc_fail_procedure(render_malloc_fail_procedure procedure)
{
    render_malloc_fail_procedure previous = malloc_fail_override;
    malloc_fail_override = procedure;
    return previous;
}

void render_malloc_fail(void)
{
    if (malloc_fail_override)
    {
        malloc_fail_override();
        return;
    }
    error_message(_error_out_of_memory, __FILE__, __LINE__, "Out of render memory!");
    exit(-1);
}

// A block of `size` bytes (a multiple of 16), aligned to 16; null on failure.
static uint8_t *allocate_pool_block(size_t size)
{
    return static_cast<uint8_t *>(aligned_alloc(RENDER_MEMORY_ALIGNMENT, size));
}

static void install_pool(uint8_t *block, int32_t size)
{
    free(render_globals.render_memory_pool);
    render_globals.render_memory_pool = block;
    render_globals.render_memory_pool_size = block ? size : 0;
    render_globals.render_memory_pool_end = block ? block + size : nullptr;
    render_globals.top_of_render_memory_pool = block;
}

static size_t pool_bytes_left(void)
{
    if (!render_globals.render_memory_pool) return 0;
    return (size_t)(render_globals.render_memory_pool_end - render_globals.top_of_render_memory_pool);
}

void *render_malloc(size_t size)
{
    const size_t rounded = round_to_alignment(size);
    // The new top may not reach the end of the pool.
    if (rounded < size || rounded >= pool_bytes_left())
    {
        render_malloc_fail();
        return nullptr;
    }
    void *p = render_globals.top_of_render_memory_pool;
    render_globals.top_of_render_memory_pool += rounded;
    return p;
}

void *render_temporary(size_t size)
{
    const size_t rounded = round_to_alignment(size);
    // The scratch may not reach below the top, or it would overwrite what the
    // frame has already built.
    if (rounded < size || rounded > pool_bytes_left())
    {
        render_malloc_fail();
        return nullptr;
    }
    if (rounded > render_globals.largest_render_temporary) render_globals.largest_render_temporary = rounded;
    return render_globals.render_memory_pool_end - rounded;
}

enum
{
    MAXIMUM_RENDER_MEMORY_POOL_SIZE = 1 << 30,
};

void new_render_scene(int32_t cell_count)
{
    const int64_t used = render_globals.render_memory_pool
                             ? (int64_t)(render_globals.top_of_render_memory_pool - render_globals.render_memory_pool) +
                                   (int64_t)render_globals.largest_render_temporary
                             : 0;
    render_globals.peak_render_memory_used = (int32_t)(used < INT32_MAX ? used : INT32_MAX);
    render_globals.largest_render_temporary = 0;
    // The pool is reset: the last list lies in it.
    render_globals.last_surface_list = nullptr;

    const int64_t cells = cell_count > 0 ? cell_count : 0;
    const int64_t required = cells * (int64_t)render_memory_per_cell() + RENDER_MEMORY_POOL_RESERVE;
    int64_t size = render_globals.render_memory_pool_size > 0 ? render_globals.render_memory_pool_size
                                                              : RENDER_MEMORY_POOL_SIZE;
    while (size < required && size < MAXIMUM_RENDER_MEMORY_POOL_SIZE) size *= 2;
    // A frame that used more than half of the pool may need more than all of
    // it next time.
    if (used > size / 2 && size < MAXIMUM_RENDER_MEMORY_POOL_SIZE) size *= 2;
    if (size > MAXIMUM_RENDER_MEMORY_POOL_SIZE) size = MAXIMUM_RENDER_MEMORY_POOL_SIZE;

    if (size != render_globals.render_memory_pool_size || !render_globals.render_memory_pool)
    {
        uint8_t *block = allocate_pool_block((size_t)size);
        if (block)
        {
            install_pool(block, (int32_t)size);
        }
        else if (render_globals.render_memory_pool)
        {
            log_message(__FILE__, __LINE__, "the render memory pool could not grow to %d bytes: it stays at %d",
                        (int32_t)size, render_globals.render_memory_pool_size);
        }
        else
        {
            error_message(_error_out_of_memory, __FILE__, __LINE__, "unable to allocate %d bytes for render_memory_pool",
                          (int32_t)size);
            exit(_error_out_of_memory);
        }
    }
    render_globals.top_of_render_memory_pool = render_globals.render_memory_pool;
}

bool reset_render_memory_pool_for_tests(int32_t size)
{
    if (size <= 0) return false;
    const size_t rounded = round_to_alignment((size_t)size);
    uint8_t *block = allocate_pool_block(rounded);
    if (!block) return false;
    install_pool(block, (int32_t)rounded);
    render_globals.largest_render_temporary = 0;
    render_globals.peak_render_memory_used = 0;
    render_globals.last_surface_list = nullptr;
    return true;
}

// ---- frames (skeletons until the builders arrive) -------------------------------------------

void update_view_data(view_data *view) { (void)view; }

void build_scene(view_data *view, render_surface_list *list)
{
    (void)view;
    (void)list;
}

void rasterize_scene(view_data *view, render_surface_list *list)
{
    (void)view;
    (void)list;
}

void render_scene(view_data *view) { (void)view; }

bitmap_data *render_screenshot(int16_t width, int16_t height)
{
    (void)width;
    (void)height;
    return nullptr;
}

bitmap_data *capture_screenshot(void) { return nullptr; }

// ---- queries ---------------------------------------------------------------------------------

const view_data *last_render_view(void)
{
    return render_globals.last_view_valid ? &render_globals.last_view : nullptr;
}

render_surface_list *last_render_surface_list(void)
{
    VASSERT(render_globals.initialized, "render_globals.initialized");
    return render_globals.last_surface_list;
}

void transform_world_point_to_viewer_space(const view_data *view, const world_point3d *world, world_point3d *viewer,
                                           bool reflected)
{
    (void)reflected;
    (void)view;
    *viewer = *world;
}

bool project_viewer_point(const view_data *view, const world_point3d *viewer, point2d *screen)
{
    (void)view;
    (void)viewer;
    (void)screen;
    return false;
}

bool world_point3d_in_view(const view_data *view, const world_point3d *point)
{
    (void)view;
    (void)point;
    return false;
}

bool point_in_visible_mesh_region(const world_point2d *point, const mesh_region *region)
{
    (void)point;
    (void)region;
    return false;
}

bool cell_region_visibility_test(const mesh_region *region, int32_t cell_x, int32_t cell_y, int16_t *tile_flag)
{
    (void)region;
    (void)cell_x;
    (void)cell_y;
    if (tile_flag) *tile_flag = 0;
    return false;
}

void get_render_statistics(const view_data *view, render_statistics *statistics)
{
    (void)view;
    memset(statistics, 0, sizeof(*statistics));
}

// ---- life cycle -------------------------------------------------------------------------------

uint8_t *volatile_color_map(void) { return render_globals.volatile_color_map; }
uint8_t *volatile_shadow_map(void) { return render_globals.volatile_shadow_map; }

void initialize_scene(void) {}

void initialize_render(void)
{
    uint8_t *block = allocate_pool_block(RENDER_MEMORY_POOL_SIZE);
    if (!block)
    {
        error_message(_error_out_of_memory, __FILE__, __LINE__, "unable to allocate %d bytes for render_memory_pool",
                      (int32_t)RENDER_MEMORY_POOL_SIZE);
        exit(_error_out_of_memory);
    }
    install_pool(block, RENDER_MEMORY_POOL_SIZE);
    render_globals.initialized = false;
    render_globals.last_view_valid = false;
    initialize_scene();
}

bool initialize_render_for_new_map(void) { return true; }

void dispose_render_from_old_map(void) {}

void register_render_hooks(void) {}

void reset_render_for_tests(void)
{
    free(render_globals.render_memory_pool);
    free(render_globals.volatile_color_map_block);
    free(render_globals.volatile_shadow_map_block);
    memset(&render_globals, 0, sizeof(render_globals));
    render_globals.largest_render_temporary = 0;
    malloc_fail_override = nullptr;
}
