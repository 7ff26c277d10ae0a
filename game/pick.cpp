// Picking: which object of the last rendered frame lies under a point or inside a rectangle.

#include "pick.h"

#include <cstring>

#include "cseries/log.h"
#include "render_procedures.h"
#include "objects.h"

static struct pick_globals
{
    const rendered_view_data *test_view;
    const render_surface *test_first_surface;
} pick_globals;

void install_test_render_frame(const rendered_view_data *view, const render_surface *first_surface)
{
    pick_globals.test_view = view;
    pick_globals.test_first_surface = view ? first_surface : nullptr;
}

const rendered_view_data *get_last_render_view(void)
{
    if (pick_globals.test_view) return pick_globals.test_view;
    const auto procedure = get_render_procedures()->last_render_view;
    return procedure ? procedure() : nullptr;
}

const render_surface *get_last_render_surface_list(void)
{
    if (pick_globals.test_view) return pick_globals.test_first_surface;
    const auto procedure = get_render_procedures()->last_render_surface_list;
    return procedure ? procedure() : nullptr;
}

// ---- starting a pick -------------------------------------------------------------------

static int16_t clamp16(int32_t value, int32_t low, int32_t high)
{
    return (int16_t)(value < low ? low : value > high ? high : value);
}

static void new_pick_state(pick_state *state, uint32_t flags, uint32_t kind)
{
    state->flags = (flags & ~(uint32_t)(_pick_by_point_flag | _pick_by_rectangle_flag | _pick_initialized_flag)) | kind;
    state->return_flags = 0;
    state->mesh_vertex = {0, 0};
    state->mesh_location = {0, 0};
    state->object_index = NONE;
    state->sloppy_object_pick = false;
    state->model_index = NONE;
    state->model_triangle_index = NONE;
    state->model_location = {0, 0, 0};
    state->surface = get_last_render_surface_list();
    state->surface_vertex_index = 0;
    state->slop = 0;
}

void new_pick_by_point_state(pick_state *state, point2d point, uint32_t flags)
{
    if (!ASSERT(state)) return;
    memset(state, 0, sizeof(*state));
    const rendered_view_data *view = get_last_render_view();
    const int32_t width = view ? view->screen_width : 0;
    const int32_t height = view ? view->screen_height : 0;
    state->point = {clamp16(point.x, 0, width), clamp16(point.y, 0, height)};
    new_pick_state(state, flags, _pick_by_point_flag);
}

void new_pick_by_rectangle_state(pick_state *state, const rectangle2d *rectangle, uint32_t flags)
{
    if (!ASSERT(state)) return;
    memset(state, 0, sizeof(*state));
    if (!ASSERT(rectangle)) return;
    const rendered_view_data *view = get_last_render_view();
    const int32_t width = view ? view->screen_width : 0;
    const int32_t height = view ? view->screen_height : 0;
    state->rectangle = *rectangle;
    if (state->rectangle.left < 0) state->rectangle.left = 0;
    if (state->rectangle.top < 0) state->rectangle.top = 0;
    if (state->rectangle.right > width) state->rectangle.right = (int16_t)width;
    if (state->rectangle.bottom > height) state->rectangle.bottom = (int16_t)height;
    new_pick_state(state, flags, _pick_by_rectangle_flag);
}

// ---- triangles -------------------------------------------------------------------------

static const render_vertex *corner_vertex(const render_surface *surface, int32_t corner)
{
    // Mesh, object and model triangles all put their corners first after the header.
    const render_triangle *triangle = (const render_triangle *)surface;
    return triangle->corners[corner].vertex;
}

static bool triangle_vertices(const render_surface *surface, const render_vertex *vertices[VERTICES_PER_TRIANGLE])
{
    for (int32_t i = 0; i < VERTICES_PER_TRIANGLE; ++i)
    {
        vertices[i] = corner_vertex(surface, i);
        if (!vertices[i]) return false;
    }
    return true;
}

bool pick_vertex(const render_surface *surface, pick_state *state)
{
    if (!ASSERT(surface && state)) return false;
    if (!VASSERT(state->surface_vertex_index >= 0 && state->surface_vertex_index <= VERTICES_PER_TRIANGLE,
                 "state->surface_vertex_index>=0 && state->surface_vertex_index<=VERTICES_PER_TRIANGLE"))
    {
        state->surface_vertex_index = 0;
        return false;
    }
    const render_vertex *vertices[VERTICES_PER_TRIANGLE];
    if (triangle_vertices(surface, vertices))
    {
        for (int32_t i = state->surface_vertex_index; i < VERTICES_PER_TRIANGLE; ++i)
        {
            const point2d s = vertices[i]->screen;
            bool hit;
            if (state->flags & _pick_by_point_flag)
            {
                const int32_t dx = s.x - state->point.x, dy = s.y - state->point.y;
                hit = dx >= -PICK_VERTEX_RADIUS && dx <= PICK_VERTEX_RADIUS && dy >= -PICK_VERTEX_RADIUS &&
                      dy <= PICK_VERTEX_RADIUS;
            }
            else
            {
                if (!VASSERT(state->flags & _pick_by_rectangle_flag, "state->flags&_pick_by_rectangle_flag")) break;
                hit = s.x >= state->rectangle.left && s.x <= state->rectangle.right && s.y >= state->rectangle.top &&
                      s.y < state->rectangle.bottom;
            }
            if (hit)
            {
                state->mesh_vertex = vertices[i]->mesh_vertex;
                state->surface_vertex_index = (int16_t)(i + 1);
                return true;
            }
        }
    }
    state->surface_vertex_index = 0;
    return false;
}

static int64_t edge(point2d a, point2d b, point2d p)
{
    return (int64_t)(b.x - a.x) * (p.y - a.y) - (int64_t)(b.y - a.y) * (p.x - a.x);
}

static int32_t round_divide(int64_t numerator, int64_t denominator)
{
    // denominator > 0; to the nearest, halves away from zero
    const int64_t half = denominator / 2;
    return (int32_t)(numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator));
}

// The point's barycentric weights in the screen triangle (their sum in
// `area`, positive); false outside it or for a triangle of no area, which
// could only divide by zero.
static bool point_in_triangle(const render_vertex *const vertices[VERTICES_PER_TRIANGLE], point2d p, int64_t weights[3],
                              int64_t *area)
{
    const point2d a = vertices[0]->screen, b = vertices[1]->screen, c = vertices[2]->screen;
    int64_t total = edge(a, b, c);
    if (total == 0) return false;
    int64_t w0 = edge(b, c, p), w1 = edge(c, a, p), w2 = edge(a, b, p);
    if (total < 0) total = -total, w0 = -w0, w1 = -w1, w2 = -w2; // either winding
    if (w0 < 0 || w1 < 0 || w2 < 0) return false;
    weights[0] = w0, weights[1] = w1, weights[2] = w2;
    *area = total;
    return true;
}

static int32_t interpolate(const int64_t weights[3], int64_t area, int64_t a, int64_t b, int64_t c)
{
    return round_divide(weights[0] * a + weights[1] * b + weights[2] * c, area);
}

// A viewer-space point back in the world: the rotation's transpose undoes it.
static world_point3d viewer_to_world(const rendered_view_data *view, const world_point3d *p)
{
    const int16_t (*m)[3] = view->world_to_viewer_rotation;
    const int64_t x = p->x, y = p->y, z = p->z;
    world_point3d w;
    w.x = view->origin.x + (world_distance)((m[0][0] * x + m[0][1] * y + m[0][2] * z) >> 14);
    w.y = view->origin.y + (world_distance)((m[1][0] * x + m[1][1] * y + m[1][2] * z) >> 14);
    w.z = view->origin.z + (world_distance)((m[2][0] * x + m[2][1] * y + m[2][2] * z) >> 14);
    return w;
}

// ---- objects ---------------------------------------------------------------------------

// How far the pick lies outside `r` (<= 0 inside); false when it misses even
// with the slop.  By rectangle an overlap gives 0 (touching edges do not count).
static bool rectangle_hit(const pick_state *state, int32_t left, int32_t top, int32_t right, int32_t bottom,
                          int32_t *distance)
{
    if (state->flags & _pick_by_point_flag)
    {
        const int32_t x = state->point.x, y = state->point.y;
        int32_t d = left - x;
        if (x - right > d) d = x - right;
        if (top - y > d) d = top - y;
        if (y - bottom > d) d = y - bottom;
        if (d > state->slop) return false;
        *distance = d;
        return true;
    }
    const rectangle2d *r = &state->rectangle;
    if (!(r->left < right && left < r->right && r->top < bottom && top < r->bottom)) return false;
    *distance = 0;
    return true;
}

// The solid object's screen rectangle from its radius and heights; false when
// it lies at or behind the eye (depth below 1), where no projection exists.
static bool object_extent_rectangle(const rendered_view_data *view, const object_data *object, int32_t *left,
                                    int32_t *top, int32_t *right, int32_t *bottom)
{
    const int16_t (*m)[3] = view->world_to_viewer_rotation;
    const int64_t dx = object->location.position.x - view->origin.x;
    const int64_t dy = object->location.position.y - view->origin.y;
    const int64_t dz = object->location.position.z - view->origin.z;
    const int64_t x = (m[0][0] * dx + m[1][0] * dy + m[2][0] * dz) >> 14;
    const int64_t y = (m[0][1] * dx + m[1][1] * dy + m[2][1] * dz) >> 14;
    const int64_t depth = -((m[0][2] * dx + m[1][2] * dy + m[2][2] * dz) >> 14);
    if (depth < 1) return false;
    const int64_t f = view->world_to_screen;
    *left = (int32_t)(view->centre.x + (x - object->radius) * f / depth);
    *right = (int32_t)(view->centre.x + (x + object->radius) * f / depth);
    *top = (int32_t)(view->centre.y - (y + object->height1) * f / depth);
    *bottom = (int32_t)(view->centre.y - (y + object->height0) * f / depth);
    return true;
}

// ---- the walk --------------------------------------------------------------------------

uint32_t pick(pick_state *state)
{
    if (!ASSERT(state)) return 0;
    state->return_flags = 0;
    state->slop = (state->flags & _pick_with_slop_flag) ? PICK_SLOP : 0;
    const rendered_view_data *view = get_last_render_view();
    if (!view) return 0;
    const bool by_point = state->flags & _pick_by_point_flag;
    const bool by_rectangle = state->flags & _pick_by_rectangle_flag;
    if (!VASSERT(!(by_point && by_rectangle), "pick by point and by rectangle at once")) return 0;
    if (by_point)
    {
        if (state->point.x < 0 || state->point.y < 0 || state->point.x > view->screen_width ||
            state->point.y > view->screen_height)
            return 0;
    }
    else if (by_rectangle)
    {
        if (!VASSERT(!(state->flags & _pick_triangle_flags), "!(flags&_pick_triangle_flags)")) return 0;
        rectangle2d *r = &state->rectangle;
        if (r->right < r->left || r->bottom < r->top || r->right <= 0 || r->bottom <= 0 ||
            r->left >= view->screen_width || r->top >= view->screen_height)
            return 0;
        if (r->left < 0) r->left = 0;
        if (r->top < 0) r->top = 0;
        if (r->right > view->screen_width) r->right = view->screen_width;
        if (r->bottom > view->screen_height) r->bottom = view->screen_height;
    }
    else
        return 0;

    bool have_candidate = false;
    int32_t candidate_distance = 0;
    int16_t candidate_object = NONE;
    // Lists are the renderer's; a cycle would hang us, so the walk is bounded.
    int32_t budget = 1 << 22;
    for (const render_surface *surface = state->surface; surface && budget > 0;
         surface = surface->next_surface, --budget)
    {
        const uint32_t surface_flags = surface_word_flags(surface->packed);
        if (surface_flags & (_surface_discarded_flag | _surface_reflection_flag)) continue;
        const int32_t type = surface_word_type(surface->packed);
        const int32_t subtype = surface_word_subtype(surface->packed);
        if (type == _surface_type_triangle &&
            (subtype == _surface_subtype_mesh_triangle || subtype == _surface_subtype_model_triangle))
        {
            const bool mesh = subtype == _surface_subtype_mesh_triangle;
            const uint32_t vertex_flag = mesh ? _pick_mesh_vertices_flag : _pick_model_vertices_flag;
            if ((state->flags & vertex_flag) && pick_vertex(surface, state))
            {
                state->surface = surface; // the next call tries this triangle's next vertex
                return state->return_flags = vertex_flag;
            }
            const uint32_t triangle_flag = mesh ? _pick_mesh_triangles_flag : _pick_model_triangles_flag;
            if (!(state->flags & triangle_flag) || !by_point) continue;
            const render_vertex *vertices[VERTICES_PER_TRIANGLE];
            int64_t weights[3], area;
            if (!triangle_vertices(surface, vertices) || !point_in_triangle(vertices, state->point, weights, &area))
                continue;
            if (have_candidate)
            {
                state->object_index = candidate_object;
                state->sloppy_object_pick = true;
                state->surface = surface;
                return state->return_flags = _pick_objects_flag;
            }
            if (mesh)
            {
                state->mesh_location.x = interpolate(weights, area, (int64_t)vertices[0]->mesh_vertex.x * 512,
                                                     (int64_t)vertices[1]->mesh_vertex.x * 512,
                                                     (int64_t)vertices[2]->mesh_vertex.x * 512);
                state->mesh_location.y = interpolate(weights, area, (int64_t)vertices[0]->mesh_vertex.y * 512,
                                                     (int64_t)vertices[1]->mesh_vertex.y * 512,
                                                     (int64_t)vertices[2]->mesh_vertex.y * 512);
            }
            else
            {
                const render_model_triangle *triangle = (const render_model_triangle *)surface;
                world_point3d p;
                p.x = interpolate(weights, area, vertices[0]->p.x, vertices[1]->p.x, vertices[2]->p.x);
                p.y = interpolate(weights, area, vertices[0]->p.y, vertices[1]->p.y, vertices[2]->p.y);
                p.z = interpolate(weights, area, vertices[0]->p.z, vertices[1]->p.z, vertices[2]->p.z);
                state->model_index = (int16_t)triangle->model_index;
                state->model_triangle_index = (int16_t)triangle->triangle_index;
                state->model_location = viewer_to_world(view, &p);
            }
            state->surface = surface->next_surface;
            return state->return_flags = triangle_flag;
        }
        if (type == _surface_type_rectangle && subtype == _surface_subtype_object_rectangle &&
            (state->flags & _pick_objects_flag))
        {
            const render_rectangle *rectangle = (const render_rectangle *)surface;
            if (rectangle->object_index == NONE) continue;
            const object_data *object = get_object(rectangle->object_index);
            if (!object) continue; // gone since the frame was drawn
            const bool solid = object->flags & _object_is_solid_flag;
            if (!solid && (state->flags & _pick_only_solid_objects_flag)) continue;
            int32_t d;
            if (!rectangle_hit(state, rectangle->x0, rectangle->y0, rectangle->x1, rectangle->y1, &d)) continue;
            if (solid)
            {
                int32_t left, top, right, bottom;
                if (!object_extent_rectangle(view, object, &left, &top, &right, &bottom)) continue;
                if (!rectangle_hit(state, left, top, right, bottom, &d)) continue;
            }
            if (d < 1)
            {
                state->object_index = rectangle->object_index;
                state->sloppy_object_pick = false;
                state->surface = surface->next_surface;
                return state->return_flags = _pick_objects_flag;
            }
            if (!have_candidate || d < candidate_distance)
            {
                have_candidate = true;
                candidate_distance = d;
                candidate_object = rectangle->object_index;
            }
        }
    }
    state->surface = nullptr;
    if (!have_candidate) return 0;
    state->object_index = candidate_object;
    state->sloppy_object_pick = true;
    return state->return_flags = _pick_objects_flag;
}
