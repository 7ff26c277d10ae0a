// Overlays the interface draws over the battlefield: the selection band and facing arrows.
#include "interface.h"

#include "bitmap_drawing.h"
#include "interface_definitions.h"
#include "game_preferences.h"
#include "objects.h"
#include "render/render.h"
#include "render/render_effects.h"
#include "render/render_sort.h"
#include "selection.h"

static struct interface_overlay_globals
{
    bool effects_registered;
} interface_overlay_globals;

// ---- the selection band -----------------------------------------------------------------

static void add_band_rectangle(view_data *view, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                               const rgb_color *color, uint16_t transparency)
{
    render_filled_rectangle *rectangle = render_new<render_filled_rectangle>();
    if (!rectangle) return; // only when a test replaced the pool's fatal exit
    *rectangle = {};
    rectangle->header.transparency = transparency;
    rectangle->header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_filled_rectangle);
    rectangle->header.z = 0;
    rectangle->x0 = (int16_t)x0;
    rectangle->y0 = (int16_t)y0;
    rectangle->x1 = (int16_t)x1;
    rectangle->y1 = (int16_t)y1;
    rectangle->clip_top = -32768;
    rectangle->clip_bottom = 32767;
    rectangle->color = *color;
    add_surface_to_surface_list(view, &rectangle->header);
}

// Widens [*low, *high) to at least `minimum`, inwards at the screen's far edge.
static void widen_span(int32_t *low, int32_t *high, int32_t minimum, int32_t limit)
{
    if (*high - *low >= minimum) return;
    *high = *low + minimum;
    if (*high > limit)
    {
        *high = limit;
        *low = limit - minimum;
    }
}

void build_interface_overlay_surface_list(view_data *view)
{
    rectangle2d band;
    if (!view || !view->main_surface_list || !get_band_selection_bounds(&band)) return;
    rgb_color color;
    get_interface_color(INTERFACE_OVERLAY_COLOR, &color);
    const int32_t width = view->screen_width, height = view->screen_height;
    const int32_t left = band.left, top = band.top, right = band.right, bottom = band.bottom;
    const int32_t b = SELECTION_BAND_BORDER;
    // The band clipped to the screen.
    int32_t cl = left < 0 ? 0 : left, ct = top < 0 ? 0 : top;
    int32_t cr = right > width ? width : right, cb = bottom > height ? height : bottom;
    if (right - left >= SELECTION_BAND_MINIMUM_FRAMED && bottom - top >= SELECTION_BAND_MINIMUM_FRAMED)
    {
        add_band_rectangle(view, left, top, right, top + b, &color, SELECTION_BAND_TRANSPARENCY);
        add_band_rectangle(view, left, bottom - b, right, bottom, &color, SELECTION_BAND_TRANSPARENCY);
        add_band_rectangle(view, left, top + b, left + b, bottom - b, &color, SELECTION_BAND_TRANSPARENCY);
        add_band_rectangle(view, right - b, top + b, right, bottom - b, &color, SELECTION_BAND_TRANSPARENCY);
        // Software blending of a large dark area costs more than it shows.
        if (view->rasterizer_code != 0)
        {
            static const rgb_color black = {0, 0, 0, 0};
            add_band_rectangle(view, cl + b, ct + b, cr - b, cb - b, &black, SELECTION_BAND_FILL_TRANSPARENCY);
        }
        return;
    }
    widen_span(&cl, &cr, b, width);
    widen_span(&ct, &cb, b, height);
    add_band_rectangle(view, cl, ct, cr, cb, &color, SELECTION_BAND_TRANSPARENCY);
}

// ---- facing arrows ----------------------------------------------------------------------

enum
{
    FACING_ARROW_SHAFT_HALF_WIDTH = 32,
    FACING_ARROW_SHAFT_LENGTH = 768,
    FACING_ARROW_LENGTH = 896,
    FACING_ARROW_HEAD_SIDE = 256,
    FACING_ARROW_SINGLE_TRIANGLE_LENGTH = FACING_ARROW_LENGTH * 16384 / 24576, // 597
    FACING_ARROW_SINGLE_TRIANGLE_SIDE = 384,
    FACING_ARROW_HEAD_HALF_ANGLE = 4096, // 22.5 degrees
    QUARTER_TURN = 16384,
    HALF_TURN = 32768,
};

static world_point3d moved(const world_point3d &from, int32_t distance, angle direction)
{
    return {(world_distance)(from.x + ((distance * cosine_rounded(direction)) >> TRIG_SHIFT)),
            (world_distance)(from.y + ((distance * sine_rounded(direction)) >> TRIG_SHIFT)), from.z};
}

static bool project_arrow_point(const view_data *view, const world_point3d &point, point2d *screen)
{
    world_point3d viewer;
    transform_world_point_to_viewer_space(view, &point, &viewer, false);
    return project_viewer_point(view, &viewer, screen);
}

bool build_facing_arrow_polygons(const view_data *view, const world_point3d *world_start, angle theta,
                                 facing_arrow_polygons *arrow)
{
    if (!view || !world_start || !arrow) return false;
    *arrow = {};
    const world_point3d start = *world_start;
    const game_preferences *preferences = get_game_preferences();
    world_point3d corners[2][4];
    if (preferences && (preferences->flags & _game_pref_vux_facing_arrows_flag))
    {
        const world_point3d tip = moved(start, FACING_ARROW_SINGLE_TRIANGLE_LENGTH, theta);
        corners[0][0] = tip;
        corners[0][1] = moved(tip, FACING_ARROW_SINGLE_TRIANGLE_SIDE, (angle)(theta + HALF_TURN + FACING_ARROW_HEAD_HALF_ANGLE));
        corners[0][2] = moved(tip, FACING_ARROW_SINGLE_TRIANGLE_SIDE, (angle)(theta + HALF_TURN - FACING_ARROW_HEAD_HALF_ANGLE));
        arrow->polygon_count = 1;
        arrow->vertex_counts[0] = 3;
    }
    else
    {
        const world_point3d left = moved(start, FACING_ARROW_SHAFT_HALF_WIDTH, (angle)(theta + QUARTER_TURN));
        const world_point3d right = moved(start, FACING_ARROW_SHAFT_HALF_WIDTH, (angle)(theta - QUARTER_TURN));
        corners[0][0] = left;
        corners[0][1] = moved(left, FACING_ARROW_SHAFT_LENGTH, theta);
        corners[0][2] = moved(right, FACING_ARROW_SHAFT_LENGTH, theta);
        corners[0][3] = right;
        const world_point3d tip = moved(start, FACING_ARROW_LENGTH, theta);
        corners[1][0] = tip;
        corners[1][1] = moved(tip, FACING_ARROW_HEAD_SIDE, (angle)(theta + HALF_TURN + FACING_ARROW_HEAD_HALF_ANGLE));
        corners[1][2] = moved(tip, FACING_ARROW_HEAD_SIDE, (angle)(theta + HALF_TURN - FACING_ARROW_HEAD_HALF_ANGLE));
        arrow->polygon_count = 2;
        arrow->vertex_counts[0] = 4;
        arrow->vertex_counts[1] = 3;
    }
    for (int32_t p = 0; p < arrow->polygon_count; ++p)
        for (int32_t i = 0; i < arrow->vertex_counts[p]; ++i)
            if (!project_arrow_point(view, corners[p][i], &arrow->vertices[p][i]))
            {
                arrow->polygon_count = 0;
                return false;
            }
    return true;
}

void draw_facing_arrow(view_data *view, const world_point3d *world_start, angle theta)
{
    facing_arrow_polygons arrow;
    if (!view || !view->screen || !build_facing_arrow_polygons(view, world_start, theta, &arrow)) return;
    rgb_color color;
    get_interface_color(INTERFACE_OVERLAY_COLOR, &color);
    for (int32_t p = 0; p < arrow.polygon_count; ++p)
        fill_polygon(view->screen, &color, &view->hole, 0, nullptr, arrow.vertices[p], arrow.vertex_counts[p]);
}

void draw_arrows_for_selected_monsters(view_data *view, angle theta)
{
    const int32_t count = get_current_selection_count();
    for (int32_t i = 0; i < count; ++i)
    {
        const object_data *object = get_selection_unit_object(get_current_selection_index(i));
        if (object) draw_facing_arrow(view, &object->location.position, theta);
    }
}

void rasterize_interface_effects(view_data *view)
{
    bool on_unit = false;
    world_point3d start, end;
    if (!view || !get_gesture_vector(&on_unit, &start, &end)) return;
    const angle theta = arctangent(end.x - start.x, end.y - start.y);
    if (on_unit) draw_arrows_for_selected_monsters(view, theta);
    else draw_facing_arrow(view, &start, theta);
}

// ---- life cycle -------------------------------------------------------------------------

void initialize_interface_overlays(void)
{
    if (interface_overlay_globals.effects_registered) return;
    interface_overlay_globals.effects_registered =
        register_prerender_effect_procedure(build_interface_overlay_surface_list,
                                            INTERFACE_OVERLAY_PRERENDER_PRIORITY) &&
        register_postrasterization_effect_procedure(rasterize_interface_effects,
                                                    INTERFACE_EFFECTS_POSTRASTERIZATION_PRIORITY);
}
