// The screen test of surfaces.
#include "render/render_clip.h"

#include "cseries/log.h"

// One projected coordinate, or false when it does not fit a signed 16-bit
// screen position (this includes a non-finite result from a degenerate view).
// The range is tested before the conversion, which would be undefined
// outside it.
static bool projected_coordinate(float value, int16_t *out)
{
    if (!(value > -32769.0f && value < 32768.0f)) return false;
    *out = (int16_t)(int32_t)value; // toward zero
    return true;
}

void clip_vertex(const view_data *view, render_vertex *vertex)
{
    if (vertex->flags & _vertex_clipped_flag) return;
    vertex->flags |= _vertex_screen_transformed_flag | _vertex_clipped_flag;
    if (!VASSERT(!(vertex->flags & _vertex_discarded_flag), "VERTEX_IS_EXTANT(vertex)")) return;

    int16_t x, y;
    bool projected = false;
    if (vertex->p.z < 0)
    {
        const float s = view->fworld_to_screen / (float)vertex->p.z;
        const float fx = (float)view->xk - (float)vertex->p.x * s;
        const float fy = (float)view->yk + (float)vertex->p.y * s;
        projected = projected_coordinate(fx, &x) && projected_coordinate(fy, &y);
    }
    if (!projected)
    {
        vertex->flags |= _vertex_discarded_flag;
        return;
    }

    uint16_t flags = vertex->flags;
    if (flags & _vertex_on_top_flag)
        y = 0;
    else if (y <= 0)
        flags |= _vertex_out_top_flag;
    if (flags & _vertex_on_bottom_flag)
        y = view->screen_height;
    else if (y >= view->screen_height)
        flags |= _vertex_out_bottom_flag;
    if (flags & _vertex_on_left_flag)
        x = 0;
    else if (x <= 0)
        flags |= _vertex_out_left_flag;
    if (flags & _vertex_on_right_flag)
        x = view->screen_width;
    else if (x >= view->screen_width)
        flags |= _vertex_out_right_flag;
    vertex->flags = flags;
    vertex->screen.x = x;
    vertex->screen.y = y;
}

void clip_surface(const view_data *view, render_surface *surface)
{
    const uint32_t flags = surface_word_flags(surface->packed);
    const int32_t type = surface_word_type(surface->packed);
    if (type != _surface_type_triangle || (flags & _surface_discarded_flag)) return;

    // Every triangle record puts its corners right after the header.
    render_triangle *triangle = (render_triangle *)surface;
    bool visible = true;
    uint16_t common_out = _vertex_out_flags;
    for (const render_corner &corner : triangle->corners)
    {
        render_vertex *vertex = corner.vertex;
        if (!VASSERT(vertex, "triangle corner without a vertex"))
        {
            visible = false;
            continue;
        }
        clip_vertex(view, vertex);
        if (vertex->flags & _vertex_discarded_flag) visible = false;
        common_out &= vertex->flags;
    }
    if (visible && !(common_out & _vertex_out_flags))
    {
        // Clockwise on the screen (y downward) faces the viewer.  Products of
        // 16-bit deltas reach 2^32, hence 64-bit.
        const point2d a = triangle->corners[0].vertex->screen;
        const point2d b = triangle->corners[1].vertex->screen;
        const point2d c = triangle->corners[2].vertex->screen;
        const int64_t facing = (int64_t)(a.y - b.y) * (c.x - a.x) + (int64_t)(c.y - a.y) * (b.x - a.x);
        visible = facing > 0;
    }
    else
        visible = false;
    if (!visible)
        surface->packed = pack_surface_word(flags | _surface_discarded_flag, type, surface_word_subtype(surface->packed));
}
