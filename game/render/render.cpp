// The scene renderer's frame.  See render.h.

#include "render/render.h"
#include "render_procedures.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ingame_bar_procedures.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "connectors.h"
#include "front_end_procedures.h"
#include "hardware_rasterizer.h"
#include "interface.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "mirror_groups.h"
#include "objects.h"
#include "observer.h"
#include "pick.h"
#include "render/mesh_region.h"
#include "render/render_effects.h"
#include "render/render_models.h"
#include "render/render_objects.h"
#include "render/render_wireframe.h"
#include "render/render_particles.h"
#include "render/render_world_effects.h"
#include "render/render_rasterize.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "render/terrain_overlays.h"
#include "render/terrain_surfaces.h"
#include "screen.h"

render_globals_data render_globals;

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
    // A visible cell gives one render vertex (and its slot in the region's
    // table) and up to two triangles, and each surface costs the sort a
    // pointer and three 32-bit words of scratch.
    const size_t sort_scratch_per_surface = sizeof(void *) + 3 * sizeof(uint32_t);
    return round_to_alignment(sizeof(render_vertex)) + sizeof(render_vertex *) +
           2 * round_to_alignment(sizeof(render_triangle)) + 2 * sort_scratch_per_surface;
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

// ---- the view -------------------------------------------------------------------------------

// Float to integer by truncation toward zero, clamped to [low, high]; a value
// that is not a number gives 0.  Converting an out-of-range float is
// undefined, so every conversion of a derived quantity goes through here.
static int32_t truncate_clamped(double value, int32_t low, int32_t high)
{
    if (std::isnan(value)) return 0;
    if (value <= (double)low) return low;
    if (value >= (double)high) return high;
    return (int32_t)value;
}

static int16_t clamp16(int32_t value)
{
    return (int16_t)(value < INT16_MIN ? INT16_MIN : value > INT16_MAX ? INT16_MAX : value);
}

// The height of a bar's rectangle while it is shown, else 0.
static int32_t bar_height(bool (*visible)(rectangle2d *bounds))
{
    rectangle2d bounds;
    if (!visible || !visible(&bounds)) return 0;
    return bounds.bottom > bounds.top ? bounds.bottom - bounds.top : 0;
}

static void update_view_perspective(view_data *view, int32_t status_bar, int32_t control_bar)
{
    const float tangent = view->tangent_of_half_field_of_view;
    const float a = tangent / (float)view->resolution_width * (float)view->resolution_height;
    const float b0 = (2.0f * view->vertical_offset - 1.0f) * a;
    const float b1 = (2.0f * view->vertical_offset + 1.0f) * a;
    const float step = (b1 - b0) / (float)view->resolution_height;
    view->perspective.left = (2.0f * view->horizontal_offset - 1.0f) * tangent;
    view->perspective.right = (2.0f * view->horizontal_offset + 1.0f) * tangent;
    view->perspective.bottom = b0 + (float)control_bar * step;
    view->perspective.top = b1 - (float)status_bar * step;
}

void update_view_data(view_data *view)
{
    if (view->screen)
    {
        view->screen_width = view->screen->width;
        view->screen_height = view->screen->height;
    }
    else
    {
        view->screen_width = view->resolution_width;
        view->screen_height = view->resolution_height;
    }
    view->half_screen_width = (int16_t)(view->screen_width >> 1);
    view->half_screen_height = (int16_t)(view->screen_height >> 1);

    int32_t status_bar = bar_height(get_ingame_bar_procedures()->status_bar_visible);
    int32_t control_bar = bar_height(get_ingame_bar_procedures()->control_bar_visible);

    view->hole.top = 0;
    view->hole.left = 0;
    view->hole.bottom = view->screen_height;
    view->hole.right = view->screen_width;
    const auto trading = get_front_end_procedures()->unit_trading_dialog_visible;
    rectangle2d trading_bounds;
    if (trading && trading(&trading_bounds)) view->hole.top = clamp16(trading_bounds.bottom - trading_bounds.top);
    if (gui_overlaps_screen_bitmap())
    {
        // The bars lie over the picture: the hole shrinks, the picture does not.
        view->hole.top = clamp16(view->hole.top + status_bar);
        view->hole.bottom = clamp16(view->hole.bottom - control_bar);
        status_bar = control_bar = 0;
    }

    update_view_perspective(view, status_bar, control_bar);

    rotation_matrix rotation;
    build_rotation_matrix(rotation, view->location.yaw, view->location.pitch);
    // The world's matrix has the viewer's axes as rows; the view keeps them as
    // columns, as every reader of the view transforms.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) view->world_to_viewer_rotation[r][c] = rotation[c][r];

    view->fworld_to_screen = (float)view->half_resolution_width / view->tangent_of_half_field_of_view;
    view->iworld_to_screen = (int16_t)truncate_clamped((double)view->fworld_to_screen + 0.5, INT16_MIN, INT16_MAX);

    const int32_t dx =
        truncate_clamped((double)view->horizontal_offset * view->resolution_width + 0.5, INT16_MIN, INT16_MAX);
    const int32_t dy =
        truncate_clamped((double)view->vertical_offset * view->resolution_height + 0.5, INT16_MIN, INT16_MAX);
    view->xk = clamp16(view->half_resolution_width + dx);
    view->yk = clamp16(view->half_resolution_height + dy);
    view->clip_right = view->xk;
    view->clip_left = clamp16(view->half_resolution_width - dx);
    view->clip_top = view->yk;
    view->clip_bottom = clamp16(view->half_resolution_height - dy);

    if (!view->tile_rendering)
    {
        int32_t x = view->screen ? view->screen->x0 : 0, y = view->screen ? view->screen->y0 : 0;
        int32_t width = view->screen_width, height = view->screen_height;
        if (active_screen.rasterizer_code != _rasterizer_software && active_screen.dpi != 96 && active_screen.dpi > 0)
        {
            // A device whose pixels are not the logical ones.
            y = y * active_screen.dpi / 96;
            x = 0;
            width = active_screen.physical_pixel_width;
            height = active_screen.physical_pixel_height - (control_bar + status_bar) * active_screen.dpi / 96;
        }
        view->viewport.top = clamp16(y);
        view->viewport.left = clamp16(x);
        view->viewport.bottom = clamp16(y + height);
        view->viewport.right = clamp16(x + width);
        view->yk = clamp16(view->yk - status_bar);
    }
    else
    {
        const view_perspective whole = view->perspective;
        const float w = (whole.right - whole.left) /
                        ((float)view->resolution_width / (float)(view->x_tile_size ? view->x_tile_size : 1));
        const float h = (whole.top - whole.bottom) /
                        ((float)view->resolution_height / (float)(view->y_tile_size ? view->y_tile_size : 1));
        view->perspective.left = whole.left + (float)view->x_tile * w;
        view->perspective.right = whole.left + (float)(view->x_tile + 1) * w;
        view->perspective.top = whole.top - (float)view->y_tile * h;
        view->perspective.bottom = whole.top - (float)(view->y_tile + 1) * h;
        view->viewport.top = 0;
        view->viewport.left = 0;
        view->viewport.bottom = clamp16((int32_t)view->y_tile_size);
        view->viewport.right = clamp16((int32_t)view->x_tile_size);
    }

    const view_data *last = render_globals.last_view_valid ? &render_globals.last_view : nullptr;
    if (!last || last->screen_width != view->screen_width || last->screen_height != view->screen_height ||
        last->location.position.x != view->location.position.x ||
        last->location.position.y != view->location.position.y ||
        last->location.position.z != view->location.position.z || last->location.yaw != view->location.yaw ||
        last->location.pitch != view->location.pitch)
        view->flags |= _render_view_moved_flag;

    render_globals.last_view = *view;
    render_globals.last_view_valid = true;
}

// Whether the view can be projected at all: a destination, a size and a
// finite, positive field of view.
static bool view_is_drawable(const view_data *view)
{
    return view->resolution_width > 0 && view->resolution_height > 0 && view->half_resolution_width > 0 &&
           std::isfinite(view->tangent_of_half_field_of_view) && view->tangent_of_half_field_of_view > 0.0f &&
           std::isfinite(view->horizontal_offset) && std::isfinite(view->vertical_offset) &&
           std::isfinite((float)view->half_resolution_width / view->tangent_of_half_field_of_view);
}

// ---- the frame -------------------------------------------------------------------------------

// The current pre-render effect's procedure gets the list through the view.
static void run_prerender_effect(render_effect_procedure procedure, int16_t priority, view_data *view)
{
    view->main_surface_list->override_precise_z = priority;
    procedure(view);
}

void build_scene(view_data *view, render_surface_list *list)
{
    view->shadow_map_overlays = nullptr;
    view->light_map_overlays = nullptr;
    view->main_surface_list = list;
    if (global_maps_mode == _maps_mode_tiles) prepare_tile_cache(view->region);
    begin_motion_interpolated_frame();
    if (!(view->flags & _render_view_omit_rasterization_effects_flag))
        run_prerender_effects(view, run_prerender_effect);
    list->override_precise_z = 0;
    if (view->game_ticks_elapsed != 0) update_local_projectiles(view->game_ticks_elapsed);
    build_media_local_projectile_effects(view, view->region);
    build_particle_system_splashes(view, view->region);
    build_local_projectiles_surface_list(view, view->region);
    const mesh_header *header = get_mesh_header();
    if (header && (header->flags & _mesh_can_catch_fire_flag)) build_mirror_groups_surface_list(view, view->region);
    build_mesh_effect_surface_list(view, view->region);
    build_lightning_surface_list(view, view->region);
    build_connector_surface_list(view, view->region);
    if (view->region && !(view->flags & _render_view_omit_objects_flag)) build_objects_surface_list(view, view->region);
    // Objects, models, the terrain maps and the terrain's own surfaces join
    // here, in that order, as their builders arrive.
    if (view->region && !(view->flags & _render_view_omit_models_flag)) build_models_surface_list(view, view->region);
    if (view->region) update_maps(view);
    if (view->region) build_mesh_surface_list(view, view->region);
}

// Draws each text rectangle with its style into the view's screen.
static void rasterize_text_rectangles(void *context, render_surface **surfaces, int32_t count)
{
    const view_data *view = static_cast<const view_data *>(context);
    if (!view->screen) return;
    for (int32_t i = 0; i < count; ++i)
    {
        const render_text_rectangle *text = reinterpret_cast<const render_text_rectangle *>(surfaces[i]);
        const rectangle2d bounds = {text->y0, text->x0, text->y1, text->x1};
        draw_string(view->screen, nullptr, &bounds, nullptr, text->font_index, text->style, &text->color,
                    text->string, text->text_flags, text->header.transparency);
    }
}

void rasterize_scene(view_data *view, render_surface_list *list)
{
    if (view->rasterizer_code == _rasterizer_software) rasterize_scene_software(view, list);
    else rasterize_scene_hardware(view, list);
    surface_category *text = &surface_categories[_surface_category_text_rectangles];
    if (text->count > 0) rasterize_surface_category(view, text, -1, false, 0, rasterize_text_rectangles);
    update_fps_only();
    if (!(view->flags & _render_view_omit_rasterization_effects_flag)) run_postrasterization_effects(view);
}

// The frame's region (which resets the pool) and its empty surface list, the
// list becoming the last.
static render_surface_list *begin_scene(view_data *view)
{
    view->region = build_mesh_region(view);
    if (!view->region) return nullptr;
    render_surface_list *list = render_new<render_surface_list>();
    if (!list) return nullptr;
    new_surface_list(list);
    render_globals.last_surface_list = list;
    return list;
}

// The software scene draws only where the world is; what lies beyond the
// map's edge would keep the last frame's pixels (and what the overhead map
// blended over them), so the game's view is cleared to black first, as the
// tools clear their pictures.  (Tools that fill their buffers themselves, to
// find what the scene left out, call render_scene directly.)
static void clear_view_screen(const view_data *view)
{
    bitmap_data *screen = view->screen;
    if (!screen || !screen->row_addresses[0] || screen->width <= 0 || screen->height <= 0) return;
    const int32_t depth = get_encoding_byte_depth(screen->encoding);
    if (depth <= 0) return;
    const size_t bytes = (size_t)screen->width * (size_t)depth;
    for (int32_t y = 0; y < screen->height; ++y)
    {
        uint8_t *row = (screen->flags & _no_row_address_table_flag)
                           ? screen->row_addresses[0] + (ptrdiff_t)y * screen->bytes_per_row
                           : screen->row_addresses[y];
        if (row) memset(row, 0, bytes);
    }
}

void render_scene(view_data *view)
{
    if (!view_is_drawable(view))
    {
        log_message(__FILE__, __LINE__, "a view of %d x %d with field of view tangent %g was not drawn",
                    (int32_t)view->resolution_width, (int32_t)view->resolution_height,
                    (double)view->tangent_of_half_field_of_view);
        return;
    }
    update_view_data(view);
    render_surface_list *list = begin_scene(view);
    if (!list) return;
    build_scene(view, list);
    postprocess_scene(view, list);
    rasterize_scene(view, list);
}

// ---- screenshots -----------------------------------------------------------------------------

static bool bar_shown(bool (*visible)(rectangle2d *bounds))
{
    rectangle2d bounds;
    return visible && visible(&bounds);
}

static void set_bars_visible(bool control_bar, bool status_bar)
{
    const auto set = get_ingame_bar_procedures()->set_bars_visible;
    if (set) set(control_bar, status_bar);
}

// The codes a hardware back end serves (a headless run has none).
static bool is_hardware_rasterizer(int16_t code) { return code >= _rasterizer_direct3d && code <= _rasterizer_dx11; }

bitmap_data *render_screenshot(int16_t width, int16_t height)
{
    if (width <= 0 || height <= 0 || !active_screen.screen_initialized || !render_globals.initialized)
    {
        log_message(__FILE__, __LINE__, "no %d x %d picture of the view: no map or screen to draw it", (int32_t)width,
                    (int32_t)height);
        return nullptr;
    }
    const int32_t tile_width = width < active_screen.width ? width : active_screen.width;
    const int32_t tile_height = height < active_screen.height ? height : active_screen.height;
    if (tile_width <= 0 || tile_height <= 0) return nullptr;
    const int32_t columns = (width + tile_width - 1) / tile_width;
    const int32_t rows = (height + tile_height - 1) / tile_height;
    const int16_t code = active_screen.rasterizer_code;
    if ((columns > 1 || rows > 1) && code != _rasterizer_opengl && code != _rasterizer_dx11) return nullptr;
    const int16_t encoding = active_screen.encoding;

    const bool control_bar_was_shown = bar_shown(get_ingame_bar_procedures()->control_bar_visible);
    const bool status_bar_was_shown = bar_shown(get_ingame_bar_procedures()->status_bar_visible);
    set_bars_visible(false, false);
    // The picture's view must not become the one picking reads.
    const view_data saved_last_view = render_globals.last_view;
    const bool saved_last_view_valid = render_globals.last_view_valid;

    view_data view;
    memset(&view, 0, sizeof(view));
    build_observer_view(&view, 0, width, height);
    view.rasterizer_code = code;
    view.flags |= _render_view_filtering_flag | _render_view_omit_rasterization_effects_flag |
                  _render_view_omit_selections_flag;
    view.tile_rendering = false;
    const rectangle2d bounds = {0, 0, height, width};
    view.screen = get_render_destination(&bounds);
    update_view_data(&view);
    if (view.screen) release_render_destination(view.screen);
    view.screen = nullptr;

    bitmap_data *result = nullptr;
    bool failed = !view_is_drawable(&view);
    render_surface_list *list = failed ? nullptr : begin_scene(&view);
    if (!list) failed = true;
    if (!failed)
    {
        build_scene(&view, list);
        postprocess_scene(&view, list);
        view.tile_rendering = true;
        view.x_tile_size = (uint32_t)tile_width;
        view.y_tile_size = (uint32_t)tile_height;
        if (columns > 1 || rows > 1)
        {
            result = new_bitmap(width, height, 0, encoding, 0);
            if (!result) failed = true;
        }
    }
    for (int32_t y = 0; !failed && y < rows; ++y)
    {
        for (int32_t x = 0; !failed && x < columns; ++x)
        {
            view.x_tile = (uint32_t)x;
            view.y_tile = (uint32_t)y;
            bitmap_data *tile = nullptr;
            if (!is_hardware_rasterizer(code))
            {
                tile = new_bitmap((int16_t)tile_width, (int16_t)tile_height, 0, encoding, 0);
                if (tile)
                {
                    view.screen = tile;
                    // A new bitmap's pixels are whatever the heap held (a freed
                    // bar or dialog, often): where the scene draws nothing
                    // (above the horizon, off the map) the picture is black.
                    clear_view_screen(&view);
                    update_view_data(&view);
                    rasterize_scene(&view, list);
                }
            }
            else
            {
                // The back end draws the tile into its frame buffer, then reads it back.
                const rectangle2d tile_bounds = {0, 0, (int16_t)tile_height, (int16_t)tile_width};
                view.screen = get_render_destination(&tile_bounds);
                if (view.screen)
                {
                    render_begin_hardware();
                    // The frame buffer still holds the last frame, its bars
                    // included, where the scene draws nothing (above the
                    // horizon): the picture starts black, as a software tile does.
                    clear_backbuffer();
                    update_view_data(&view);
                    rasterize_scene(&view, list);
                    render_end_hardware();
                    release_render_destination(view.screen);
                    tile = copy_bits_from_render_view_hardware(&tile_bounds);
                }
            }
            view.screen = nullptr;
            if (!tile)
            {
                // A picture with a hole in it would be reported as whole.
                failed = true;
                break;
            }
            tile->bitmap_index = (int16_t)NONE;
            if (!result)
            {
                result = tile;
                continue;
            }
            const point2d at = {(int16_t)(x * tile_width), (int16_t)(y * tile_height)};
            copy_bitmap(result, &at, tile, nullptr, nullptr, 0, nullptr);
            free(tile);
        }
    }
    if (failed)
    {
        free(result);
        result = nullptr;
        log_message(__FILE__, __LINE__, "the %d x %d picture of the view could not be made", (int32_t)width,
                    (int32_t)height);
    }

    // The pool now holds the picture's scene: no list until the next frame.
    render_globals.last_surface_list = nullptr;
    render_globals.last_view = saved_last_view;
    render_globals.last_view_valid = saved_last_view_valid;
    set_bars_visible(control_bar_was_shown, status_bar_was_shown);
    return result;
}

bitmap_data *capture_screenshot(void)
{
    if (!active_screen.screen_initialized) return nullptr;
    rectangle2d bounds;
    get_screen_bounds(&bounds);
    if (is_hardware_rasterizer(active_screen.rasterizer_code))
    {
        // Only the back end can read its own frame buffer.
        bitmap_data *frame = copy_bits_from_render_view_hardware(&bounds);
        if (!frame) log_message(__FILE__, __LINE__, "no hardware back end to read the frame from");
        return frame;
    }
    bitmap_data *copy = new_bitmap(active_screen.width, active_screen.height, 0, active_screen.encoding, 0);
    if (!copy) return nullptr;
    copy->bitmap_index = (int16_t)NONE;
    bitmap_data *destination = get_render_destination(&bounds);
    if (!destination)
    {
        free(copy);
        return nullptr;
    }
    copy_bitmap(copy, nullptr, destination, nullptr, nullptr, 0, nullptr);
    release_render_destination(destination);
    return copy;
}

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
    const int64_t dx = (int64_t)world->x - view->location.position.x;
    const int64_t dy = (int64_t)world->y - view->location.position.y;
    int64_t dz = (int64_t)world->z - view->location.position.z;
    if (reflected)
    {
        const mesh_cell *cell = get_mesh_cell(world->x >> WORLD_FRACTIONAL_BITS, world->y >> WORLD_FRACTIONAL_BITS);
        const int64_t h = cell->media_height;
        if (world->z > h) dz = 2 * h - view->location.position.z - world->z;
    }
    const int16_t (*m)[3] = view->world_to_viewer_rotation;
    viewer->x = (world_distance)((m[0][0] * dx + m[1][0] * dy + m[2][0] * dz) >> TRIG_SHIFT);
    viewer->y = (world_distance)((m[0][1] * dx + m[1][1] * dy + m[2][1] * dz) >> TRIG_SHIFT);
    viewer->z = (world_distance)((m[0][2] * dx + m[1][2] * dy + m[2][2] * dz) >> TRIG_SHIFT);
}

bool project_viewer_point(const view_data *view, const world_point3d *viewer, point2d *screen)
{
    if (viewer->z >= 0) return false;
    const double s = (double)view->fworld_to_screen / (double)viewer->z;
    const double x = (double)view->xk - (double)viewer->x * s;
    const double y = (double)view->yk + (double)viewer->y * s;
    // Out-of-range conversions are undefined: test before truncating.
    if (!(x > -32769.0 && x < 32768.0 && y > -32769.0 && y < 32768.0)) return false;
    screen->x = (int16_t)x;
    screen->y = (int16_t)y;
    return true;
}

bool world_point3d_in_view(const view_data *view, const world_point3d *point)
{
    world_point3d viewer;
    transform_world_point_to_viewer_space(view, point, &viewer, false);
    point2d screen;
    if (!project_viewer_point(view, &viewer, &screen)) return false;
    return screen.x >= view->hole.left && screen.x < view->hole.right && screen.y >= view->hole.top &&
           screen.y < view->hole.bottom;
}

bool point_in_visible_mesh_region(const world_point2d *point, const mesh_region *region)
{
    const mesh_span *span =
        get_mesh_region_span(region, point->y >> WORLD_FRACTIONAL_BITS);
    return span && cell_in_span_inclusive(span, point->x >> WORLD_FRACTIONAL_BITS);
}

bool cell_region_visibility_test(const mesh_region *region, int32_t cell_x, int32_t cell_y, int16_t *tile_flag)
{
    if (tile_flag) *tile_flag = 0;
    const mesh_span *span = get_mesh_region_span(region, cell_y);
    if (span && cell_in_span_inclusive(span, cell_x)) return true;
    if (global_maps_mode != _maps_mode_tiles || !region->tile_coverage_array) return false;
    const int32_t tile_x = cell_to_tile(cell_x), tile_y = cell_to_tile(cell_y);
    if (tile_x < region->tile_x0 || tile_x > region->tile_x1 || tile_y < region->tile_y0 || tile_y > region->tile_y1)
        return false;
    const int32_t column = tile_x - region->tile_x0, row = tile_y - region->tile_y0;
    if (column >= region->tile_width || row >= region->tile_height) return false;
    if (!region->tile_coverage_array[row * region->tile_width + column]) return false;
    if (tile_flag) *tile_flag = 1;
    return true;
}

void get_render_statistics(const view_data *view, render_statistics *statistics)
{
    memset(statistics, 0, sizeof(*statistics));
    if (render_globals.render_memory_pool)
    {
        statistics->used_memory =
            (int32_t)(render_globals.top_of_render_memory_pool - render_globals.render_memory_pool);
        statistics->total_memory = render_globals.render_memory_pool_size;
    }
    const render_surface_list *list = view->main_surface_list;
    if (!list) return;
    for (const render_surface *surface = list->first_surface; surface; surface = surface->next_surface)
    {
        const uint32_t flags = surface_word_flags(surface->packed);
        render_statistics::counts *counts =
            (flags & _surface_discarded_flag) ? &statistics->discarded : &statistics->extant;
        const bool reflected = (flags & _surface_reflection_flag) != 0;
        switch (surface_word_type(surface->packed))
        {
        case _surface_type_triangle:
            ++counts->triangle_count;
            if (surface_word_subtype(surface->packed) == _surface_subtype_mesh_triangle)
                ++(reflected ? counts->reflected_mesh_triangle_count : counts->mesh_triangle_count);
            else if (surface_word_subtype(surface->packed) == _surface_subtype_model_triangle)
                ++(reflected ? counts->reflected_model_triangle_count : counts->model_triangle_count);
            break;
        case _surface_type_rectangle:
            ++(reflected ? counts->reflected_rectangle_count : counts->rectangle_count);
            break;
        default:
            break;
        }
    }
}

// ---- life cycle -------------------------------------------------------------------------------

uint8_t *volatile_color_map(void) { return render_globals.volatile_color_map; }
uint8_t *volatile_shadow_map(void) { return render_globals.volatile_shadow_map; }

static uint8_t *allocate_volatile_map(const char *format)
{
    uint8_t *block = static_cast<uint8_t *>(calloc(1, VOLATILE_MAP_BLOCK_SIZE));
    if (!block)
    {
        error_message(_error_out_of_memory, __FILE__, __LINE__, format, (int32_t)VOLATILE_MAP_BLOCK_SIZE);
        exit(_error_out_of_memory);
    }
    return block;
}

void initialize_scene(void)
{
    if (!render_globals.volatile_color_map_block)
        render_globals.volatile_color_map_block =
            allocate_volatile_map("unable to allocate %d bytes for volatile color map.");
    if (!render_globals.volatile_shadow_map_block)
        render_globals.volatile_shadow_map_block =
            allocate_volatile_map("unable to allocate %d bytes for volatile shadow map.");
    render_globals.volatile_color_map = render_globals.volatile_color_map_block + VOLATILE_MAP_OFFSET;
    render_globals.volatile_shadow_map = render_globals.volatile_shadow_map_block + VOLATILE_MAP_OFFSET;
    initialize_render_wireframe();
    initialize_particle_system_surfaces();
}

void initialize_render(void)
{
    if (!render_globals.render_memory_pool)
    {
        uint8_t *block = allocate_pool_block(RENDER_MEMORY_POOL_SIZE);
        if (!block)
        {
            error_message(_error_out_of_memory, __FILE__, __LINE__,
                          "unable to allocate %d bytes for render_memory_pool", (int32_t)RENDER_MEMORY_POOL_SIZE);
            exit(_error_out_of_memory);
        }
        install_pool(block, RENDER_MEMORY_POOL_SIZE);
    }
    render_globals.initialized = false;
    render_globals.last_view_valid = false;
    render_globals.last_surface_list = nullptr;
    initialize_scene();
    initialize_rasterizer();
}

bool initialize_render_for_new_map(void)
{
    VASSERT(!render_globals.initialized, "!render_globals.initialized");
    render_globals.initialized = false;
    render_globals.last_surface_list = nullptr;
    // The software rasterizer needs nothing per map; a hardware back end
    // starts its rasterizer for the map here.
    if (is_hardware_rasterizer(active_screen.rasterizer_code))
    {
        if (!initialize_hardware_rasterizer_for_new_map())
        {
            log_message(__FILE__, __LINE__, "the hardware rasterizer could not be started for the map");
            return false;
        }
        initialize_rasterizer_mesh_parameters_for_new_map();
        clear_backbuffer();
    }
    initialize_rasterizer_for_new_map();
    initialize_world_effects_for_new_map();
    initialize_particle_system_surfaces_for_new_map();
    active_screen.rasterizer_initialized = true;
    render_globals.initialized = true;
    render_globals.rasterizer_code = active_screen.rasterizer_code;
    return true;
}

void dispose_render_from_old_map(void)
{
    if (!render_globals.initialized) return;
    render_globals.initialized = false;
    render_globals.last_surface_list = nullptr;
    dispose_rasterizer_from_old_map();
    if (render_globals.rasterizer_code == _rasterizer_software)
    {
        clear_backbuffer();
        display_backbuffer(nullptr);
    }
    else if (is_hardware_rasterizer(render_globals.rasterizer_code)) dispose_hardware_rasterizer_from_old_map();
    active_screen.rasterizer_initialized = false;
}

// ---- joining the core, the screen and picking --------------------------------------------------

static bool startup_renderer(void)
{
    initialize_render();
    initialize_interface_overlays();
    return true;
}

static bool initialize_render_map_step(const new_game_data *data)
{
    (void)data;
    initialize_local_sprites_for_new_map();
    return initialize_render_for_new_map();
}

static void render_scene_into(view_data *view, bitmap_data *destination)
{
    view->screen = destination;
    view->rasterizer_code = active_screen.rasterizer_code;
    if (view->rasterizer_code == _rasterizer_software) clear_view_screen(view);
    render_scene(view);
}

// What picking reads of the last frame: the view's projection facts, and the
// first surface of the list (none after a screenshot, until the next frame).
static const rendered_view_data *picking_last_view(void)
{
    if (!render_globals.last_view_valid) return nullptr;
    const view_data &view = render_globals.last_view;
    rendered_view_data &facts = render_globals.last_rendered_view;
    facts.screen_width = view.screen_width;
    facts.screen_height = view.screen_height;
    facts.centre.x = view.xk;
    facts.centre.y = view.yk;
    facts.origin = view.location.position;
    memcpy(facts.world_to_viewer_rotation, view.world_to_viewer_rotation, sizeof(facts.world_to_viewer_rotation));
    facts.world_to_screen = view.iworld_to_screen;
    return &facts;
}

static const render_surface *picking_last_surfaces(void)
{
    const render_surface_list *list = render_globals.last_surface_list;
    return list ? list->first_surface : nullptr;
}

void register_render_hooks(void)
{
    register_startup_procedure(_startup_renderer, startup_renderer);
    register_map_procedures(_map_render, initialize_render_map_step, dispose_render_from_old_map);
    static const render_procedures procedures = {
        .render_scene = render_scene_into,
        .last_render_view = picking_last_view,
        .last_render_surface_list = picking_last_surfaces,
    };
    register_render_procedures(&procedures);
    register_terrain_overlay_hooks();
    register_render_objects_hooks();
}

void reset_render_for_tests(void)
{
    free(render_globals.render_memory_pool);
    free(render_globals.volatile_color_map_block);
    free(render_globals.volatile_shadow_map_block);
    memset(&render_globals, 0, sizeof(render_globals));
    malloc_fail_override = nullptr;
}
