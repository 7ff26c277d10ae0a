// Surfaces made of a collection's bitmaps: quads, rectangles and oriented quads.
#include "render/bitmap_surfaces.h"

#include "render/render.h"
#include "render/render_sort.h"
#include "shapes.h"

namespace {

const int16_t NEAR = (int16_t)BITMAP_SURFACE_TEXTURE_NEAR;
const int16_t FAR = (int16_t)(uint16_t)BITMAP_SURFACE_TEXTURE_FAR; // stored as its 16-bit pattern

void set_corner(render_corner *corner, render_vertex *vertex, int16_t u, int16_t v)
{
    corner->vertex = vertex;
    corner->interpolants[_texture_u] = u;
    corner->interpolants[_texture_v] = v;
}

// The first triangle takes corners (a: far, near), (b: near, near), (c: near,
// far); the second (c: near, far), (d: far, far), (a: far, near).
void fill_quad_triangles(view_data *view, render_triangle *triangles[2], uint32_t flags, fixed_fraction transparency,
                         uint32_t bitmap_identifier, int32_t z, render_vertex *a, render_vertex *b,
                         render_vertex *c, render_vertex *d)
{
    for (int32_t t = 0; t < 2; ++t)
    {
        render_triangle *triangle = render_new<render_triangle>();
        triangles[t] = triangle;
        if (!triangle) return; // only when a test replaced the fatal pool exit
        *triangle = {};
        triangle->header.packed = pack_surface_word(flags, _surface_type_triangle, _surface_subtype_object_triangle);
        triangle->header.transparency = transparency;
        triangle->header.z = z;
        triangle->bitmap_identifier = bitmap_identifier;
        if (t == 0)
        {
            set_corner(&triangle->corners[0], a, FAR, NEAR);
            set_corner(&triangle->corners[1], b, NEAR, NEAR);
            set_corner(&triangle->corners[2], c, NEAR, FAR);
        }
        else
        {
            set_corner(&triangle->corners[0], c, NEAR, FAR);
            set_corner(&triangle->corners[1], d, FAR, FAR);
            set_corner(&triangle->corners[2], a, FAR, NEAR);
        }
        add_surface_to_surface_list(view, &triangle->header);
    }
}

// 16.16 product, shifted back to world units.
int32_t scaled(int64_t distance, int64_t unit) { return (int32_t)((distance * unit) >> 16); }

} // namespace

void quad_into_triangles(view_data *view, const quad_triangle_data *data, render_triangle *surfaces[2])
{
    render_triangle *triangles[2] = {};
    const uint32_t identifier =
        make_bitmap_identifier(data->collection_index, data->bitmap_instance ? data->bitmap_instance->bitmap_index : 0,
                               data->color_table_index, data->is_reflection ? 3 : 0);
    fill_quad_triangles(view, triangles, data->flags, data->transparency, identifier, data->surface_z,
                        data->vertices[0], data->vertices[3], data->vertices[2], data->vertices[1]);
    if (surfaces)
    {
        surfaces[0] = triangles[0];
        surfaces[1] = triangles[1];
    }
}

render_rectangle *build_bitmap_surface_rectangle(const bitmap_instance_data *instance, view_data *view,
                                                 int16_t collection_index, int16_t color_table_index,
                                                 fixed_fraction transparency, const world_point3d *transformed,
                                                 const rectangle2d_32 *viewer_rectangle, int16_t x0, int16_t x1,
                                                 int16_t y0, int16_t y1)
{
    // Effects' sprites are held to the same check as objects' (logged once per bitmap).
    if (!sprite_instance_is_drawable(collection_index, instance)) return nullptr;
    render_rectangle *rectangle = render_new<render_rectangle>();
    if (!rectangle) return nullptr;
    *rectangle = {};
    uint32_t flags = 0;
    if (instance->flags & _bitmap_instance_mirror_horizontal_flag) flags |= _surface_mirror_horizontal_flag;
    if (instance->flags & _bitmap_instance_mirror_vertical_flag) flags ^= _surface_mirror_vertical_flag;
    if (instance->flags & _bitmap_instance_transparent_flag)
        flags |= _surface_transparent_flag | _surface_transparent_overlay_flag;
    if (transparency != 0) flags |= _surface_transparent_flag;
    rectangle->header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_object_rectangle);
    rectangle->header.transparency = transparency;
    rectangle->header.obj_view_y = transformed->y;
    rectangle->header.z = transformed->z;
    rectangle->object_index = -1;
    rectangle->bitmap_identifier = make_bitmap_identifier(collection_index, instance->bitmap_index, color_table_index, 0);
    rectangle->x0 = x0;
    rectangle->y0 = y0;
    rectangle->x1 = x1;
    rectangle->y1 = y1;
    rectangle->clip_top = -32768; // no split at a media line
    rectangle->clip_bottom = 32767;
    rectangle->viewer_rect = *viewer_rectangle;
    rectangle->viewer_clip_top = 32767;
    rectangle->viewer_clip_bottom = -32768;
    add_surface_to_surface_list(view, &rectangle->header);
    return rectangle;
}

void build_extended_bitmap_surface_triangles(const bitmap_instance_data *instance, const world_point3d *transformed,
                                             const world_vector3d *direction, view_data *view,
                                             render_triangle *surfaces[2], const build_bitmap_triangles_data *data)
{
    const bool reflection = (data->flags & _is_reflection_flag) != 0;
    int32_t top = instance->world_top, bottom = instance->world_bottom;
    const int32_t left = instance->world_left, right = instance->world_right;
    int64_t dx = direction->i, dy = direction->j, dz = direction->k;
    if (reflection)
    {
        const int32_t old_top = top;
        top = -bottom;
        bottom = -old_top;
        dz = -dz;
    }

    // Into viewer space, then to a 16.16 unit vector.  Squares and shifts in
    // 64 bits: a long direction would overflow 32.
    const int16_t(*m)[3] = view->world_to_viewer_rotation;
    int64_t d[3];
    for (int32_t c = 0; c < 3; ++c) d[c] = (m[0][c] * dx + m[1][c] * dy + m[2][c] * dz) >> 14;
    const int64_t length = isqrt64((uint64_t)(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
    if (length != 0)
        for (int64_t &component : d) component = component * 65536 / length;
    const int64_t along = length + data->overlap_amount;

    const int32_t l = left * data->horizontal_scale >> 8, r = right * data->horizontal_scale >> 8;
    const int32_t t = top * data->vertical_scale >> 8, b = bottom * data->vertical_scale >> 8;
    const int64_t back[3] = {-d[0], -d[1], -d[2]};
    const int64_t side[2] = {-d[1], d[0]};

    // Corner at `a` along the back axis and `s` across it.
    auto corner = [&](int64_t a, int64_t s) {
        render_vertex *vertex = render_new<render_vertex>();
        if (!vertex) return vertex;
        *vertex = {};
        vertex->p.x = transformed->x + scaled(a, back[0]) + scaled(s, side[0]);
        vertex->p.y = transformed->y + scaled(a, back[1]) + scaled(s, side[1]);
        vertex->p.z = transformed->z + scaled(a, back[2]);
        return vertex;
    };
    const bool centred = (data->flags & _orient_about_bitmap_center_flag) != 0;
    const int64_t far_end = centred ? r : along, near_end = centred ? l : 0;
    render_vertex *p1 = corner(far_end, t), *p2 = corner(far_end, b);
    render_vertex *p3 = corner(near_end, b), *p4 = corner(near_end, t);
    render_triangle *triangles[2] = {};
    if (p1 && p2 && p3 && p4)
    {
        const uint32_t flags = reflection ? _surface_transparent_flag | _surface_reflection_flag |
                                                _surface_mirror_vertical_flag
                                          : _surface_transparent_flag;
        const uint32_t identifier = make_bitmap_identifier(data->collection_index, instance->bitmap_index,
                                                           data->color_table_index, reflection ? 3 : 0);
        fill_quad_triangles(view, triangles, flags, data->transparency, identifier, transformed->z, p1, p4, p3, p2);
    }
    if (surfaces)
    {
        surfaces[0] = triangles[0];
        surfaces[1] = triangles[1];
    }
}
