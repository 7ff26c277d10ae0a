// The visible part of the terrain.
#include "render/mesh_region.h"

#include <cstring>
#include <utility>

#include "cseries/log.h"
#include "mesh.h"

int16_t global_maps_mode = _maps_mode_volatile;

// ---- spans and lookups ------------------------------------------------------------

const mesh_span *get_mesh_region_span(const mesh_region *region, int32_t y)
{
    if (!region || !region->spans || y < region->y0 || y > region->y1) return nullptr;
    return &region->spans[y - region->y0];
}

render_vertex *get_mesh_region_vertex(const mesh_region *region, int32_t x, int32_t y)
{
    if (!region || !region->vertices) return nullptr;
    const int32_t column = x - region->original_x0, row = y - region->original_y0;
    if (column < 0 || column >= region->original_width || row < 0 || row >= region->original_height) return nullptr;
    return region->vertices[row * region->original_width + column];
}

// ---- corners ----------------------------------------------------------------------

void add_corner_to_region(mesh_region *region, int32_t x, int32_t y)
{
    if (!VASSERT(region->frustum_corner_count + 4 <= MAXIMUM_PROJECTED_VIEW_PYRAMID_VERTICES,
                 "frustum corner list full"))
        return;
    const int32_t h = MESH_REGION_CORNER_SQUARE_HALF_SIZE;
    world_point2d *p = &region->frustum_corners[region->frustum_corner_count];
    p[0] = {x - h, y - h};
    p[1] = {x + h, y - h};
    p[2] = {x + h, y + h};
    p[3] = {x - h, y + h};
    region->frustum_corner_count += 4;
}

void add_polygon_corner_to_region(mesh_region *region, int32_t x, int32_t y)
{
    if (!VASSERT(region->polygon_corners && region->polygon_corner_count < MESH_REGION_POLYGON_CORNERS,
                 "polygon corner list full"))
        return;
    region->polygon_corners[region->polygon_corner_count++] = {x, y};
}

// ---- convex hull ------------------------------------------------------------------

// b.x * c.y - b.y * c.x: positive when c lies counter-clockwise of b (y up).
static int64_t cross2d(const world_point2d *b, const world_point2d *c)
{
    return (int64_t)b->x * c->y - (int64_t)b->y * c->x;
}

static int64_t squared_length2d(const world_point2d *p) { return (int64_t)p->x * p->x + (int64_t)p->y * p->y; }

int32_t convex_hull(world_point2d *points, int32_t count)
{
    if (count < 3) return 0;

    // The pivot: the lowest point, the leftmost of those (the first such).
    int32_t pivot = 0;
    for (int32_t i = 1; i < count; i++)
    {
        if (points[i].y < points[pivot].y || (points[i].y == points[pivot].y && points[i].x < points[pivot].x))
            pivot = i;
    }
    const world_point2d origin = points[pivot];
    points[pivot] = points[0];
    points[0] = origin;
    for (int32_t i = 0; i < count; i++)
    {
        points[i].x -= origin.x;
        points[i].y -= origin.y;
    }

    // Every point now lies at a polar angle in [0, pi) about the pivot, where
    // the cross product orders angles.  Selection sort by decreasing angle,
    // the farther first on a line through the pivot; repeats of the pivot
    // (the zero vector) come last.
    for (int32_t i = 1; i < count - 1; i++)
    {
        int32_t best = i;
        for (int32_t j = i + 1; j < count; j++)
        {
            const int64_t turn = cross2d(&points[best], &points[j]);
            if (turn > 0 || (turn == 0 && squared_length2d(&points[j]) > squared_length2d(&points[best]))) best = j;
        }
        std::swap(points[i], points[best]);
    }

    // Of each run on one line through the pivot only the first (farthest)
    // stays; swaps keep the array a permutation of the points.
    int32_t kept = 2;
    for (int32_t i = 2; i < count; i++)
    {
        if (cross2d(&points[kept - 1], &points[i]) != 0) std::swap(points[kept++], points[i]);
    }
    int32_t hull = 0;
    if (kept >= 3 && squared_length2d(&points[1]) != 0)
    {
        // Scan: drop the middle point of every triple that does not turn strictly clockwise.
        hull = 2;
        for (int32_t i = 2; i < kept; i++)
        {
            const world_point2d c = points[i];
            while (hull >= 2)
            {
                const world_point2d *a = &points[hull - 2], *b = &points[hull - 1];
                const int64_t turn =
                    ((int64_t)a->y - b->y) * ((int64_t)c.x - b->x) - ((int64_t)a->x - b->x) * ((int64_t)c.y - b->y);
                if (turn < 0) break;
                hull--;
            }
            std::swap(points[hull++], points[i]);
        }
        if (hull < 3) hull = 0;
    }

    for (int32_t i = 0; i < count; i++)
    {
        points[i].x += origin.x;
        points[i].y += origin.y;
    }
    return hull;
}

// ---- the edge walk ----------------------------------------------------------------

int32_t extend_spans(void *context, int32_t x, int32_t y)
{
    mesh_region *region = static_cast<mesh_region *>(context);
    if (y >= mesh_height - 1) return 0;
    const int32_t row = y - region->original_y0;
    if (row < 0 || row >= region->original_height) return 0;
    if (region->max_span_x < region->original_x0) return 0;
    if (x < region->original_x0) x = region->original_x0;
    if (x > region->max_span_x) x = region->max_span_x;

    mesh_span *span = &region->spans[row];
    if (x < span->x0) span->x0 = (int16_t)x;
    if (x > span->x1) span->x1 = (int16_t)x;
    if (x < region->x0) region->x0 = (int16_t)x;
    if (x > region->x1) region->x1 = (int16_t)x;
    if (y < region->y0) region->y0 = (int16_t)y;
    if (y > region->y1) region->y1 = (int16_t)y;
    return 0;
}

// ---- building ---------------------------------------------------------------------

void project_frustum_onto_plane(const view_data *view, int16_t plane_height, mesh_region_corner_procedure corner,
                                mesh_region *region, bool include_viewer)
{
    (void)view;
    (void)plane_height;
    (void)corner;
    (void)region;
    (void)include_viewer;
}

mesh_region *build_mesh_region(const view_data *view)
{
    (void)view;
    return nullptr;
}
