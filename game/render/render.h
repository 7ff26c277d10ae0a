#pragma once
// The scene renderer's frame: the view, the render memory pool, rendering and
// screenshots.
//
// Once per displayed frame the screen hands render_scene the observer's view:
// the projection is derived from it (update_view_data), the visible terrain
// is found (build_mesh_region), every visible thing is collected as a surface
// into one list held in the per-frame render memory pool (build_scene), the
// list is sorted by depth (postprocess_scene) and drawn, and the registered
// 2D post-effects run over the result (rasterize_scene).
//
// Viewer space: a world point p is taken relative to the eye, d = p - eye,
// and turned by the view's 2.14 rotation: x = (m[0][0]dx + m[1][0]dy +
// m[2][0]dz) >> 14, y and z likewise with columns 1 and 2 (sums in 64 bits,
// arithmetic shift).  Points in front of the viewer have z < 0.  Projection:
// s = fworld_to_screen / z, screen x = xk - x*s, screen y = yk + y*s, each
// truncated toward zero (screen y grows downward, viewer y upward).
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "point2d.h"
#include "render/render_surfaces.h"
#include "world.h"

struct bitmap_data;
struct mesh_region;

// ---- view flags ------------------------------------------------------------------------

enum render_view_flag_bits
{
    _render_view_filtering_bit = 0,
    _render_view_omit_objects_bit = 1,
    _render_view_omit_models_bit = 2,
    _render_view_omit_media_bit = 3,
    _render_view_omit_rasterization_effects_bit = 4,
    _render_view_omit_reflections_bit = 5,
    _render_view_omit_selections_bit = 6,
    _render_view_moved_bit = 7, // set by update_view_data

    _render_view_filtering_flag = 1u << _render_view_filtering_bit,
    _render_view_omit_objects_flag = 1u << _render_view_omit_objects_bit,
    _render_view_omit_models_flag = 1u << _render_view_omit_models_bit,
    _render_view_omit_media_flag = 1u << _render_view_omit_media_bit,
    _render_view_omit_rasterization_effects_flag = 1u << _render_view_omit_rasterization_effects_bit,
    _render_view_omit_reflections_flag = 1u << _render_view_omit_reflections_bit,
    _render_view_omit_selections_flag = 1u << _render_view_omit_selections_bit,
    _render_view_moved_flag = 1u << _render_view_moved_bit,
};

// ---- rasterizer codes (rasterizer_code in screen.h) -------------------------------------

// The four-character identifier of a rasterizer code (first character in the
// high byte): 'soft', 'd3d\0', 'rave', '3dfx', 'ogl\0', 'dx11'; -1 for a code
// outside 0..5.  Only 0 and 4 are ever active.
int32_t rasterizer_code_to_id(int32_t code);

// Codes whose back end takes mesh triangles unclipped (4 and 5).
inline bool rasterizer_takes_unclipped_triangles(int32_t code) { return code == 4 || code == 5; }

// ---- the module record -----------------------------------------------------------------

struct render_globals_data
{
    bool initialized;              // between initialize_render_for_new_map and dispose_render_from_old_map
    bool last_view_valid;
    render_surface_list *last_surface_list; // none until a scene is rendered, and after a screenshot
    view_data last_view;           // a copy of the last view through update_view_data
    int16_t rasterizer_code;       // the screen's when the map was prepared

    // The render memory pool: one block, a bump allocator reset per frame.
    uint8_t *render_memory_pool;
    int32_t render_memory_pool_size;
    uint8_t *render_memory_pool_end;
    uint8_t *top_of_render_memory_pool;
    int32_t peak_render_memory_used; // of the frame before the current one
    size_t largest_render_temporary; // of the current frame
    rendered_view_data last_rendered_view; // what picking reads of last_view

    // The volatile terrain maps (allocated blocks, and the maps 516 bytes in).
    uint8_t *volatile_color_map_block, *volatile_shadow_map_block;
    uint8_t *volatile_color_map, *volatile_shadow_map;
};
extern render_globals_data render_globals;

// ---- the render memory pool ------------------------------------------------------------
//
// Everything a frame builds (the region, render vertices, surfaces, overlay
// lists, sort arrays) lives in the pool and stays valid until the next frame
// begins (new_render_scene, called by build_mesh_region); nothing in it is
// freed on its own.  Every allocation is rounded up to 16 bytes and aligned
// to 16.  The pool starts at RENDER_MEMORY_POOL_SIZE and grows before each
// frame (new_render_scene), so that running out during a frame, which ends
// the program with "Out of render memory!", remains a last resort.

enum
{
    RENDER_MEMORY_POOL_SIZE = 2097152,
    RENDER_MEMORY_POOL_RESERVE = 1048576, // kept free beyond what the region's cells need
    RENDER_MEMORY_ALIGNMENT = 16,
    VOLATILE_MAP_BLOCK_SIZE = 263176,
    VOLATILE_MAP_OFFSET = 516,
};

// The bytes a frame may need per visible cell: a vertex, two triangles and
// their share of the sort's scratch, from the records' real sizes.
size_t render_memory_per_cell(void);

// n bytes (rounded up to 16) from the pool, not cleared.  When the pool cannot
// hold them: render_malloc_fail.
void *render_malloc(size_t size);
template <typename T>
inline T *render_new(size_t count = 1)
{
    return static_cast<T *>(render_malloc(sizeof(T) * count));
}

// Scratch of `size` bytes at the far end of the pool (the last size bytes,
// rounded up to 16).  It does not move the top: every call returns memory at
// the same end, so a block is valid only until the next call or until the
// top grows into it.  When the top already reaches into it:
// render_malloc_fail.
void *render_temporary(size_t size);

// The fatal exit of the pool: "Out of render memory!" as an out-of-memory
// error.  Tests may replace it (set_render_malloc_fail_procedure); when the
// replacement returns, render_malloc and render_temporary return null.
void render_malloc_fail(void);
typedef void (*render_malloc_fail_procedure)(void);
render_malloc_fail_procedure set_render_malloc_fail_procedure(render_malloc_fail_procedure procedure);

// Begins a frame whose region holds `cell_count` cells: grows the pool (by
// doubling) until it holds cell_count * render_memory_per_cell() plus the
// reserve, and doubles it once more when the previous frame used more than
// half of it; then resets the top to the start.  A growth that cannot be
// allocated keeps the old pool (logged); without any pool the allocation
// failure is fatal ("unable to allocate %d bytes for render_memory_pool").
void new_render_scene(int32_t cell_count);

// Tests: replaces the pool by one of `size` bytes (rounded up to 16), top at
// its start.  False (the old pool kept) when it cannot be allocated.
bool reset_render_memory_pool_for_tests(int32_t size);

// ---- frames ------------------------------------------------------------------------------

// Renders one frame of `view` into view->screen: update_view_data, the region
// (which resets the pool), a new surface list (the last one), build_scene,
// postprocess_scene, rasterize_scene.
void render_scene(view_data *view);

// Derives the projection, hole, perspective window, viewport and rotation of
// `view`, sets its moved flag when the size, position, yaw or pitch differ
// from the last view's (or no view was derived yet), and copies it into the
// last view.
void update_view_data(view_data *view);

// Collects the frame's surfaces into `list`, in order: the overlay lists
// cleared, the pre-render effects (unless rasterization effects are omitted;
// each with its priority as the list's override key), local projectiles,
// mirror groups, mesh effects, lightning, connectors, objects, models, the
// terrain maps and terrain surfaces.  Builders that do not exist yet are
// empty steps.
void build_scene(view_data *view, render_surface_list *list);

// Draws the sorted list: the back end of the screen's encoding, the text
// rectangles, the frame-rate sample, then the post-effects (unless
// rasterization effects are omitted).
void rasterize_scene(view_data *view, render_surface_list *list);

// ---- screenshots ---------------------------------------------------------------------------

// Renders the current observer view at width x height, by tiles of at most
// the screen's size (more than one tile only with a hardware rasterizer).
// Null when tiles would be needed in software, or when any tile or the result
// bitmap cannot be made (everything made is freed).  The last view is kept
// as it was before the call, and the last surface list is none (in picking's
// slot too) until the next render_scene.  The caller frees the result.
bitmap_data *render_screenshot(int16_t width, int16_t height);

// A copy of what the render destination shows now (the screen's size and
// encoding); null when it cannot be made.  The caller frees it.
bitmap_data *capture_screenshot(void);

// ---- queries -------------------------------------------------------------------------------

// The copy of the last derived view, or null while none was derived.
const view_data *last_render_view(void);
// The surface list of the last render_scene (valid until the next), or null.
// Asserts "render_globals.initialized".
render_surface_list *last_render_surface_list(void);

// The viewer-space transform (above).  With `reflected`, a point above the
// media surface h of its cell is mirrored in it: the vertical difference used
// is 2h - eye z - p.z; a point at or below h is transformed unmirrored.
void transform_world_point_to_viewer_space(const view_data *view, const world_point3d *world,
                                           world_point3d *viewer, bool reflected);

// Projects a viewer-space point with z < 0 (false for z >= 0, or when the
// projection does not fit 16 bits).
bool project_viewer_point(const view_data *view, const world_point3d *viewer, point2d *screen);

// In front of the viewer (z < 0) and projected inside the hole (left and top
// included, right and bottom excluded).
bool world_point3d_in_view(const view_data *view, const world_point3d *point);

// The cell of `point` lies in the region: its row within [y0, y1] and its
// column within that row's span (both ends included).
bool point_in_visible_mesh_region(const world_point2d *point, const mesh_region *region);

// The cell lies within its row's span (both ends included); otherwise, in
// tiles maps mode, its tile (cell / 14) lies in the region's tile bounds and
// is marked in the tile coverage, and *tile_flag is set to 1 (0 in every
// other case).
bool cell_region_visibility_test(const mesh_region *region, int32_t cell_x, int32_t cell_y, int16_t *tile_flag);

struct render_statistics
{
    int32_t used_memory, total_memory;
    struct counts
    {
        int32_t triangle_count;
        int32_t mesh_triangle_count, reflected_mesh_triangle_count;
        int32_t model_triangle_count, reflected_model_triangle_count;
        int32_t rectangle_count, reflected_rectangle_count;
        int32_t polygon_count;
    } extant, discarded;
};
// Pool use, and the main list's surfaces counted by kind into `discarded`
// (discarded flag set) or `extant`.
void get_render_statistics(const view_data *view, render_statistics *statistics);

// ---- life cycle --------------------------------------------------------------------------

// Once at start-up (the core's step "renderer"): the pool, the volatile maps,
// the flag contesting ranges post-effect.
void initialize_render(void);
// Allocates the volatile colour and shadow maps (zeroed) and registers the
// scene's post-effect.
void initialize_scene(void);
// The map step: the rasterizer for the map.  False when it cannot be made.
bool initialize_render_for_new_map(void);
void dispose_render_from_old_map(void);

// The volatile terrain maps (null before initialize_scene).
uint8_t *volatile_color_map(void);
uint8_t *volatile_shadow_map(void);

// ---- what the renderer asks of later subsystems --------------------------------------------

// The unit trading dialog's rectangle, while shown, is the front end's
// (front_end_procedures.h): the view's hole starts below it.

// The control bar (bottom) and status bar (top) say where they are shown and
// are hidden for screenshots through their table (ingame_bar_procedures.h);
// until they register: never shown, and nothing to hide.

// Joins the renderer to the core (the start-up step "renderer", the map step
// _map_render), the screen (the scene procedure) and picking (the last frame).
void register_render_hooks(void);

// Forgets the renderer's state as before start-up, freeing the pool and the
// maps (tests).
void reset_render_for_tests(void);
