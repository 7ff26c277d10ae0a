// Line overlays over the frame: flag contesting ranges and debug drawings.
#include "render/render_wireframe.h"

#include <cinttypes>
#include <cstdio>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "game_preferences.h"
#include "input/action_queue.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "models.h"
#include "objects.h"
#include "pick.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_effects.h"
#include "screen.h"

const rgb_color wireframe_color = {65535, 0, 0, 0};
const rgb_color model_wireframe_color = {0, 0, 65535, 0};
const rgb_color selection_color = {65535, 65535, 0, 0};

namespace {

const rgb_color flag_range_color = {65535, 0, 0, 0};
const rgb_color read_out_color = {65535, 65535, 65535, 0};

struct render_wireframe_globals_data
{
    int32_t visible_flag_count;
    int16_t visible_flags[MAXIMUM_FLAGS_PER_MAP]; // object indexes
};
render_wireframe_globals_data wireframe_globals;

struct viewer_point
{
    int64_t h, v, depth;
};

viewer_point to_viewer(const view_data *view, const world_point3d *p)
{
    const int16_t(*m)[3] = view->world_to_viewer_rotation;
    const int64_t dx = (int64_t)p->x - view->location.position.x;
    const int64_t dy = (int64_t)p->y - view->location.position.y;
    const int64_t dz = (int64_t)p->z - view->location.position.z;
    return {(m[0][0] * dx + m[1][0] * dy + m[2][0] * dz) >> 14, (m[0][1] * dx + m[1][1] * dy + m[2][1] * dz) >> 14,
            (m[0][2] * dx + m[1][2] * dy + m[2][2] * dz) >> 14};
}

int16_t clamp16_truncated(double value)
{
    if (!(value > -32768.0)) return -32768; // also NaN
    if (value > 32767.0) return 32767;
    return (int16_t)value; // toward zero
}

point2d project(const view_data *view, const viewer_point &p)
{
    const double depth = (double)p.depth;
    return {clamp16_truncated((double)view->xk - (double)p.h * (double)view->fworld_to_screen / depth),
            clamp16_truncated((double)view->yk + (double)p.v * (double)view->fworld_to_screen / depth)};
}

bool on_screen(const view_data *view, const point2d &p)
{
    return p.x >= 0 && p.x <= view->screen_width && p.y >= 0 && p.y <= view->screen_height;
}

void draw_screen_edge(bitmap_data *destination, const rgb_color *color, const render_vertex *a,
                      const render_vertex *b)
{
    if (!a || !b) return;
    if (!(a->flags & b->flags & _vertex_screen_transformed_flag)) return;
    draw_line(destination, color, 0, nullptr, nullptr, &a->screen, &b->screen);
}

bool on_submesh_line(const render_vertex *v)
{
    return v && (v->mesh_vertex.x % 32 == 0 || v->mesh_vertex.y % 32 == 0);
}

bool inside_mesh(const render_vertex *v)
{
    return v && v->mesh_vertex.x >= 0 && v->mesh_vertex.y >= 0 && v->mesh_vertex.x < mesh_width &&
           v->mesh_vertex.y < mesh_height;
}

} // namespace

bool draw_line3d(const view_data *view, const world_point3d *p0, const world_point3d *p1, const rgb_color *color)
{
    if (!view || !view->screen) return false;
    viewer_point a = to_viewer(view, p0), b = to_viewer(view, p1);
    const int64_t near_limit = -MINIMUM_VIEW_DISTANCE;
    if (a.depth >= near_limit && b.depth >= near_limit) return false;
    // Cut the part behind the near plane off: projecting it would flip it to
    // the other side of the screen.
    if (a.depth >= near_limit || b.depth >= near_limit)
    {
        viewer_point &behind = a.depth >= near_limit ? a : b;
        const viewer_point &front = a.depth >= near_limit ? b : a;
        const int64_t span = front.depth - behind.depth; // < 0
        const int64_t cut = front.depth - near_limit;   // < 0, |cut| <= |span|
        behind.h = front.h + (behind.h - front.h) * cut / span;
        behind.v = front.v + (behind.v - front.v) * cut / span;
        behind.depth = near_limit;
    }
    const point2d s0 = project(view, a), s1 = project(view, b);
    if (!on_screen(view, s0) && !on_screen(view, s1)) return false;
    draw_line(view->screen, color, 0, nullptr, nullptr, &s0, &s1);
    return true;
}

void draw_cube(const view_data *view, const world_point3d *p0, const world_point3d *p1, const rgb_color *color)
{
    // Corner c of the face at x: bit 0 picks y, bit 1 picks z, walked around.
    const world_distance xs[2] = {p0->x, p1->x};
    const int32_t around[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    auto corner = [&](int32_t face, int32_t k) {
        return world_point3d{xs[face], around[k][0] ? p1->y : p0->y, around[k][1] ? p1->z : p0->z};
    };
    for (int32_t face = 0; face < 2; ++face)
        for (int32_t k = 0; k < 4; ++k)
        {
            const world_point3d a = corner(face, k), b = corner(face, (k + 1) & 3);
            draw_line3d(view, &a, &b, color);
        }
    for (int32_t k = 0; k < 4; ++k)
    {
        const world_point3d a = corner(0, k), b = corner(1, k);
        draw_line3d(view, &a, &b, color);
    }
}

int32_t rasterize_circle(const view_data *view, const world_point2d *centre, int32_t radius, const rgb_color *color)
{
    const int64_t six_radius = 6 * (int64_t)radius;
    int32_t n = MINIMUM_CIRCLE_SEGMENTS;
    if (six_radius >= 17 * MAXIMUM_LINEAR_SEPARATION) n = (int32_t)(six_radius >> 9);
    if (n > 4096) n = 4096; // a runaway radius would only draw single pixels
    const int64_t right = (int64_t)mesh_width * 512 - 1, bottom = (int64_t)mesh_height * 512 - 1;
    auto point = [&](int32_t k) {
        int64_t x = (int64_t)centre->x + radius, y = centre->y;
        if (k % n != 0)
        {
            const int32_t index = ((((int64_t)k << 16) / n + 32) & 0xFFFF) >> 6;
            x = (int64_t)centre->x + (((int64_t)cosine_table[index] * radius) >> 14);
            y = (int64_t)centre->y + (((int64_t)sine_table[index] * radius) >> 14);
        }
        x = x < 0 ? 0 : (x > right ? right : x);
        y = y < 0 ? 0 : (y > bottom ? bottom : y);
        world_point2d flat = {(world_distance)x, (world_distance)y};
        return world_point3d{flat.x, flat.y, get_mesh_height(&flat, _mesh_surface_height)};
    };
    int32_t drawn = 0;
    world_point3d previous = point(0);
    for (int32_t k = 1; k <= n; ++k)
    {
        const world_point3d next = point(k);
        if (previous.z != MESH_NO_HEIGHT && next.z != MESH_NO_HEIGHT && draw_line3d(view, &previous, &next, color))
            ++drawn;
        previous = next;
    }
    return drawn;
}

void record_visible_flags(const mesh_region *region)
{
    wireframe_globals.visible_flag_count = 0;
    const game_preferences *preferences = get_game_preferences();
    if (!region || !preferences || !(preferences->flags & _game_pref_show_contesting_radius_flag)) return;
    // The region's rows y0..y1 are all visible (the last one included).
    for (int32_t y = region->y0; y <= region->y1; ++y)
    {
        const mesh_span *span = get_mesh_region_span(region, y);
        if (!span || mesh_span_is_empty(span)) continue;
        for (int32_t x = span->x0; x <= span->x1; ++x)
        {
            if (x < 0 || y < 0 || x >= mesh_width || y >= mesh_height) continue;
            // A chain longer than the array can hold objects is corrupt: stop.
            int32_t steps = 0;
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE && steps <= get_object_count();
                 ++steps)
            {
                const object_data *object = get_object(index);
                if (!object) break;
                if (object->owner == _object_is_flag &&
                    !(object->flags & (_object_is_invisible_flag | _object_is_not_rendered_flag)))
                {
                    if (wireframe_globals.visible_flag_count >= MAXIMUM_FLAGS_PER_MAP) return;
                    wireframe_globals.visible_flags[wireframe_globals.visible_flag_count++] = (int16_t)index;
                }
                index = object->next_object_index;
            }
        }
    }
}

int32_t visible_flag_count(void) { return wireframe_globals.visible_flag_count; }

int16_t visible_flag(int32_t index)
{
    return index >= 0 && index < wireframe_globals.visible_flag_count ? wireframe_globals.visible_flags[index] : (int16_t)NONE;
}

void rasterize_flag_contesting_ranges(view_data *view)
{
    record_visible_flags(view->region);
    const int32_t radius = flag_contesting_radius();
    for (int32_t i = 0; i < wireframe_globals.visible_flag_count; ++i)
    {
        const object_data *object = get_object(wireframe_globals.visible_flags[i]);
        if (!object) continue;
        const world_point2d centre = {object->location.position.x, object->location.position.y};
        rasterize_circle(view, &centre, radius, &flag_range_color);
    }
}

void rasterize_model_bounds(int32_t model_index, bool selected)
{
    const view_data *view = last_render_view();
    const model_data *model = get_model(model_index);
    if (!view || !model) return;
    draw_cube(view, &model->bounds[0], &model->bounds[1], selected ? &selection_color : &model_wireframe_color);
}

void rasterize_wireframe_over_surfaces(bitmap_data *destination, uint32_t exclusion_flags, int32_t wireframe_mode)
{
    const render_surface_list *list = render_globals.last_surface_list;
    if (!destination || !list) return;
    const uint32_t skipped = exclusion_flags | _surface_discarded_flag | _surface_reflection_flag;
    for (const render_surface *surface = list->first_surface; surface; surface = surface->next_surface)
    {
        if (surface_word_type(surface->packed) != _surface_type_triangle) continue;
        if (surface_word_flags(surface->packed) & skipped) continue;
        const int32_t subtype = surface_word_subtype(surface->packed);
        const render_triangle *triangle = reinterpret_cast<const render_triangle *>(surface);
        const render_vertex *v[3] = {triangle->corners[0].vertex, triangle->corners[1].vertex,
                                     triangle->corners[2].vertex};
        const bool mesh = subtype == _surface_subtype_mesh_triangle;
        bool all_edges = false;
        switch (wireframe_mode)
        {
        case WIREFRAME_TRIANGLES:
            all_edges = true;
            break;
        case WIREFRAME_CELLS:
            if (!mesh) break;
            draw_screen_edge(destination, &wireframe_color, v[0], v[1]);
            draw_screen_edge(destination, &wireframe_color, v[1], v[2]);
            break;
        case WIREFRAME_SUBMESHES:
            // A debug view: edges 1-2 and 0-2 only, with both ends on a line
            // of the 32-cell grid; edge 0-1 is not examined.
            if (!mesh) break;
            if (on_submesh_line(v[1]) && on_submesh_line(v[2]))
                draw_screen_edge(destination, &wireframe_color, v[1], v[2]);
            if (on_submesh_line(v[0]) && on_submesh_line(v[2]))
                draw_screen_edge(destination, &wireframe_color, v[0], v[2]);
            break;
        case TERRAIN_FILLED_TRIANGLES:
            if (!mesh) break;
            if (inside_mesh(v[0]) && inside_mesh(v[1]) && inside_mesh(v[2]) &&
                (v[0]->flags & v[1]->flags & v[2]->flags & _vertex_screen_transformed_flag))
            {
                const world_point2d centroid = {
                    (world_distance)((v[0]->mesh_vertex.x + v[1]->mesh_vertex.x + v[2]->mesh_vertex.x) * 512 / 3),
                    (world_distance)((v[0]->mesh_vertex.y + v[1]->mesh_vertex.y + v[2]->mesh_vertex.y) * 512 / 3)};
                if (get_mesh_terrain_type(&centroid) != 6)
                {
                    const point2d corners[3] = {v[0]->screen, v[1]->screen, v[2]->screen};
                    fill_polygon(destination, &wireframe_color, nullptr, 32768, nullptr, corners, 3);
                }
            }
            all_edges = true;
            break;
        case WIREFRAME_MESH_TRIANGLES:
            all_edges = mesh;
            break;
        case WIREFRAME_MODEL_TRIANGLES:
            all_edges = subtype == _surface_subtype_model_triangle;
            break;
        default:
            break;
        }
        if (all_edges)
            for (int32_t k = 0; k < 3; ++k) draw_screen_edge(destination, &wireframe_color, v[k], v[(k + 1) % 3]);
    }

    int16_t x = 0, y = 0;
    if (!get_mouse_position_vesk(&x, &y)) return;
    rectangle2d frame;
    calculate_destination_frame(&frame);
    pick_state state;
    new_pick_by_point_state(&state, point2d{(int16_t)(x - frame.left), (int16_t)(y - frame.top)},
                            _pick_mesh_vertices_flag);
    if (!(pick(&state) & _pick_mesh_vertices_flag)) return;
    const mesh_cell *cell = get_mesh_cell(state.mesh_vertex.x, state.mesh_vertex.y);
    char text[96];
    snprintf(text, sizeof(text), "Mesh Vertex = (%d, %d, %d, 0x%x)", (int)state.mesh_vertex.x,
             (int)state.mesh_vertex.y, (int)cell->height, (unsigned)cell->flags);
    const rectangle2d bounds = {0, 0, 480, 640};
    point2d origin = {0, 0};
    draw_string(destination, &origin, &bounds, nullptr, get_interface_font_index(1), 0, &read_out_color, text,
                _draw_string_wrap_flag, 0);
}

void initialize_render_wireframe(void)
{
    wireframe_globals = {};
    register_postrasterization_effect_procedure(rasterize_flag_contesting_ranges, FLAG_CONTESTING_RANGES_PRIORITY);
}
