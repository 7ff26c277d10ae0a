// 3D geometry turned into model-triangle surfaces.
#include "render/render_geometry.h"

#include <climits>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "geometry.h"
#include "media.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/render_wireframe.h"
#include "shapes.h"

bool whole_model_transparent_hack_required = false;

namespace {

struct cached_vertex
{
    int16_t in_visible_region;
    world_point3d view;
};

// Surfaces with both of these are drawn from either side; the negative flag
// says the viewer is behind.
constexpr uint16_t DOUBLE_SIDED_FROM_BEHIND = _geometry_surface_no_backface_cull_flag | _geometry_surface_negative_flag;

// One geometry during one call (render_geometry is not reentrant).
struct render_geometry_globals_data
{
    cached_vertex transformed_vertices[MAXIMUM_GEOMETRY_VERTICES];
    render_vertex *geometry_vertex_translation_table[MAXIMUM_GEOMETRY_VERTICES];
    render_model_triangle *surfaces_to_render[MAXIMUM_GEOMETRY_SURFACES];
    // Columns of the region's rectangle that lie in some row's span.
    bool visible_columns[TILES_MAXIMUM_MESH_REGION_WIDTH];
};
render_geometry_globals_data render_geometry_globals;

// Whether every count fits the tables and every index names something that
// exists; logs the first fault found.  Loaded geometry has passed the same
// checks, so this only catches definitions changed or made elsewhere.
bool geometry_is_drawable(const geometry_definition *geometry)
{
    if (geometry->vertex_count < 0 || geometry->vertex_count > MAXIMUM_GEOMETRY_VERTICES ||
        geometry->surface_count < 0 || geometry->surface_count > MAXIMUM_GEOMETRY_SURFACES ||
        geometry->material_count < 0 || geometry->material_count > MAXIMUM_GEOMETRY_MATERIALS ||
        geometry->dependency_count < 0)
    {
        log_message(__FILE__, __LINE__, "geometry of %d vertices, %d surfaces, %d materials not drawn",
                    (int32_t)geometry->vertex_count, (int32_t)geometry->surface_count,
                    (int32_t)geometry->material_count);
        return VASSERT(false, "geometry beyond the renderer's tables");
    }
    if ((geometry->vertex_count && !geometry->vertices) || (geometry->surface_count && !geometry->surfaces) ||
        (geometry->material_count && !geometry->materials) || (geometry->dependency_count && !geometry->dependency_list))
        return VASSERT(false, "geometry without its arrays");
    for (int32_t s = 0; s < geometry->surface_count; ++s)
    {
        const geometry_surface *surface = &geometry->surfaces[s];
        bool sound = surface->material_index >= 0 && surface->material_index < geometry->material_count;
        for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
            sound = sound && surface->corners[c].vertex_index >= 0 &&
                    surface->corners[c].vertex_index < geometry->vertex_count;
        const int32_t run = surface->dependency_table_index;
        sound = sound && (run == NONE || (run >= 0 && run < geometry->dependency_count));
        for (int32_t i = run; sound && run != NONE; ++i)
        {
            if (i >= geometry->dependency_count)
                sound = false; // the run does not end inside the list
            else if (geometry->dependency_list[i] == NONE)
                break;
            else
                sound = geometry->dependency_list[i] >= 0 && geometry->dependency_list[i] < geometry->surface_count;
        }
        if (!sound)
        {
            log_message(__FILE__, __LINE__, "geometry surface #%d names a corner, material or dependency out of range",
                        s);
            return VASSERT(false, "geometry index out of range");
        }
    }
    return true;
}

// Which columns of the region's rectangle some row's span covers, the right
// end excluded.
void mark_visible_columns(const mesh_region *region)
{
    bool *columns = render_geometry_globals.visible_columns;
    memset(columns, 0, sizeof(render_geometry_globals.visible_columns));
    for (int32_t y = region->y0; y < region->y1; ++y)
    {
        const mesh_span *span = get_mesh_region_span(region, y);
        if (!span || !span_is_wider_than_one_cell(span)) continue;
        for (int32_t x = span->x0; x < span->x1; ++x)
        {
            const int32_t column = x - region->original_x0;
            if (column >= 0 && column < TILES_MAXIMUM_MESH_REGION_WIDTH) columns[column] = true;
        }
    }
}

bool point_in_region(const mesh_region *region, const world_point3d *world)
{
    const int32_t cell_x = world->x >> WORLD_FRACTIONAL_BITS, cell_y = world->y >> WORLD_FRACTIONAL_BITS;
    if (cell_y < region->y0 || cell_y >= region->y1) return false;
    const int32_t column = cell_x - region->original_x0;
    return column >= 0 && column < TILES_MAXIMUM_MESH_REGION_WIDTH && render_geometry_globals.visible_columns[column];
}

// The point mirrored in the media surface of its cell; a point that lay above
// the surface moves with the surface's wobble.
void reflect_point_in_media(const view_data *view, const media_definition *media, world_point3d *point)
{
    const int32_t cell_x = point->x >> WORLD_FRACTIONAL_BITS, cell_y = point->y >> WORLD_FRACTIONAL_BITS;
    const mesh_cell *cell = get_mesh_cell(cell_x, cell_y);
    const bool above = point->z > cell->media_height;
    point->z = 2 * (int32_t)cell->media_height - point->z;
    if (above && media && mesh_cell_media_bit(cell, _mesh_vertex_is_animated_media_flag))
        wobble_media_vertex(media, cell_x, cell_y, view->tick_count, point);
}

// 1 when the material's texture has transparent pixels, 0 when not.
int32_t material_texture_is_transparent(const geometry_material *material)
{
    const bitmap_data *bitmap = get_bitmap(material->collection_index, material->bitmap_index);
    return bitmap && (bitmap->flags & TRANSPARENT_BITMAP_FLAGS) ? 1 : 0;
}

} // namespace

// The triangle's corners, in screen order, each sharing the render vertex of
// its geometry vertex; the depth is the nearest corner's (the farthest's for a
// surface that uses the closest z).  False when no vertex is left.
static bool set_triangle_corners(render_geometry_globals_data *g, render_model_triangle *triangle,
                                 const geometry_corner *corners, bool exchange, bool closest, int64_t *z_out)
{
    int64_t &z = *z_out;
    z = closest ? INT32_MIN : INT32_MAX;
    for (int32_t c = 0; c < VERTICES_PER_TRIANGLE; ++c)
    {
        const geometry_corner *corner = &corners[exchange ? 2 - c : c];
        const int32_t v = corner->vertex_index;
        render_vertex *vertex = g->geometry_vertex_translation_table[v];
        if (!vertex)
        {
            vertex = render_new<render_vertex>();
            if (!vertex) return false;
            vertex->flags = 0;
            vertex->mesh_vertex = {(int16_t)v, 0};
            vertex->p = g->transformed_vertices[v].view;
            vertex->screen = {0, 0};
            g->geometry_vertex_translation_table[v] = vertex;
        }
        render_corner *out = &triangle->corners[c];
        out->vertex = vertex;
        out->interpolants[_texture_u] = corner->interpolants[1];
        out->interpolants[_texture_v] = corner->interpolants[0];
        if (closest ? vertex->p.z > z : vertex->p.z < z) z = vertex->p.z;
    }
    return true;
}

// Orders the collected triangles by their dependencies and hands them to the
// surface list, all transparent when the whole model must be.
static void add_model_triangles(view_data *view, const geometry_definition *geometry, render_geometry_globals_data *g,
                                uint32_t collected_transparent_flag)
{
    const int32_t surface_count = geometry->surface_count;
    // A surface another must be drawn before comes out at least one unit nearer.
    for (int32_t s = 0; s < surface_count; ++s)
    {
        render_model_triangle *triangle = g->surfaces_to_render[s];
        const int32_t run = geometry->surfaces[s].dependency_table_index;
        if (!triangle || run == NONE) continue;
        for (int32_t i = run; i < geometry->dependency_count && geometry->dependency_list[i] != NONE; ++i)
        {
            const render_model_triangle *before = g->surfaces_to_render[geometry->dependency_list[i]];
            if (before && triangle->header.z <= before->header.z) triangle->header.z = before->header.z + 1;
        }
    }

    for (int32_t s = 0; s < surface_count; ++s)
    {
        render_model_triangle *triangle = g->surfaces_to_render[s];
        if (!triangle) continue;
        if (collected_transparent_flag)
            triangle->header.packed =
                pack_surface_word(surface_word_flags(triangle->header.packed) | collected_transparent_flag,
                                  _surface_type_triangle, _surface_subtype_model_triangle);
        add_surface_to_surface_list(view, &triangle->header);
    }
}

void render_geometry(view_data *view, const mesh_region *region, int32_t model_index, geometry_definition *geometry,
                     const world_point3d *origin, const world_vector3d *up, const world_vector3d *rotation,
                     const world_vector3d *scale, bool reflection, fixed_fraction transparency)
{
    if (!VASSERT(view, "view") || !VASSERT(view->main_surface_list, "view->main_surface_list") ||
        !VASSERT(geometry, "geometry") || !VASSERT(region, "region"))
        return;
    if (!geometry_is_drawable(geometry)) return;

    render_geometry_globals_data *g = &render_geometry_globals;
    const int32_t vertex_count = geometry->vertex_count, surface_count = geometry->surface_count;
    memset(g->geometry_vertex_translation_table, 0, sizeof(render_vertex *) * (size_t)vertex_count);
    memset(g->surfaces_to_render, 0, sizeof(render_model_triangle *) * (size_t)surface_count);
    mark_visible_columns(region);

    geometry_matrix to_world, to_geometry;
    get_geometry_matrices(rotation, up, scale, &to_world, &to_geometry);
    const mesh_header *header = get_mesh_header();
    const media_definition *media = header ? get_media_definition(header->media_type) : nullptr;

    for (int32_t v = 0; v < vertex_count; ++v)
    {
        world_point3d world;
        transform_geometry_point_to_world(origin, &geometry->center, &geometry->vertices[v], &to_world, &world);
        if (reflection) reflect_point_in_media(view, media, &world);
        cached_vertex *cached = &g->transformed_vertices[v];
        transform_world_point_to_viewer_space(view, &world, &cached->view, false);
        cached->in_visible_region = cached->view.z < -MINIMUM_VIEW_DISTANCE && point_in_region(region, &world);
    }

    // The viewer in geometry space, for the back-face tests.
    world_point3d viewer = view->location.position;
    if (reflection)
        viewer.z = 2 * (int32_t)get_mesh_cell(viewer.x >> WORLD_FRACTIONAL_BITS, viewer.y >> WORLD_FRACTIONAL_BITS)
                           ->media_height -
                   viewer.z;
    world_point3d geometry_viewer;
    transform_world_point_to_geometry(origin, &geometry->center, &viewer, &to_geometry, &geometry_viewer);

    int32_t material_transparent[MAXIMUM_GEOMETRY_MATERIALS];
    for (int32_t m = 0; m < geometry->material_count; ++m) material_transparent[m] = -1; // not looked up yet
    uint32_t collected_transparent_flag = 0;
    const uint32_t reflection_flags =
        reflection && !(view->flags & _render_view_omit_media_flag) ? (uint32_t)_surface_reflection_flag : 0u;

    for (int32_t s = 0; s < surface_count; ++s)
    {
        geometry_surface *surface = &geometry->surfaces[s];
        const geometry_material *material = &geometry->materials[surface->material_index];
        if (material->color_table_index == NONE || material->bitmap_index == NONE) continue;
        const int32_t facing = point_in_plane_test(&surface->normal, surface->d, &geometry_viewer);
        const bool double_sided = surface->flags & _geometry_surface_no_backface_cull_flag;
        if (double_sided)
        {
            if (facing < 1) surface->flags |= _geometry_surface_negative_flag;
            else surface->flags &= (uint16_t)~_geometry_surface_negative_flag;
        }
        if (facing <= 0 && !double_sided) continue;
        const geometry_corner *corners = surface->corners;
        if (!g->transformed_vertices[corners[0].vertex_index].in_visible_region &&
            !g->transformed_vertices[corners[1].vertex_index].in_visible_region &&
            !g->transformed_vertices[corners[2].vertex_index].in_visible_region)
            continue;
        // A mirror shows no reflection of itself.
        if (reflection && (surface->flags & _geometry_surface_reflective_flag)) continue;

        render_model_triangle *triangle = render_new<render_model_triangle>();
        if (!triangle) return; // the pool's fatal exit was replaced (tests)
        memset(&triangle->header, 0, sizeof(triangle->header));
        triangle->triangle_index = (uint16_t)s;
        triangle->model_index = (uint16_t)model_index;
        triangle->bitmap_identifier = make_bitmap_identifier(material->collection_index, material->bitmap_index,
                                                             material->color_table_index, reflection ? 3 : 0);
        uint32_t flags = reflection_flags;

        // Seen from behind, a double-sided surface turns its corners round so
        // that it still runs clockwise on the screen; a reflection mirrors
        // every surface, which turns the rule round.
        bool exchange = (surface->flags & DOUBLE_SIDED_FROM_BEHIND) == DOUBLE_SIDED_FROM_BEHIND;
        if (reflection) exchange = !exchange;

        const fixed_fraction surface_transparency = surface->transparency > transparency ? surface->transparency
                                                                                         : transparency;
        triangle->header.transparency = surface_transparency;
        if (surface_transparency == 0 && !(surface->flags & _geometry_surface_is_transparent_flag))
        {
            int32_t *known = &material_transparent[surface->material_index];
            if (*known < 0) *known = material_texture_is_transparent(material);
            if (*known) flags |= _surface_transparent_flag;
        }
        else
        {
            flags |= _surface_transparent_flag;
        }

        const bool closest = surface->flags & _geometry_surface_uses_closest_z_flag;
        int64_t z;
        if (!set_triangle_corners(g, triangle, corners, exchange, closest, &z)) return;
        if (surface->flags & _geometry_surface_under_mesh_flag) z -= GEOMETRY_UNDER_MESH_DEPTH_ADJUSTMENT;
        if (closest && (surface->flags & _geometry_surface_bit7_flag)) z -= GEOMETRY_BIT7_DEPTH_ADJUSTMENT;
        // Reflective surfaces sort with the reflective objects.
        if (surface->flags & _geometry_surface_reflective_flag) flags |= _surface_media_flag;

        if (z < INT32_MIN) z = INT32_MIN;
        triangle->header.z = (int32_t)z;
        triangle->header.packed = pack_surface_word(flags, _surface_type_triangle, _surface_subtype_model_triangle);
        if (z < 0)
        {
            g->surfaces_to_render[s] = triangle;
            if (whole_model_transparent_hack_required) collected_transparent_flag |= flags & _surface_transparent_flag;
        }
    }

    add_model_triangles(view, geometry, g, collected_transparent_flag);
}
