// The visible part of the terrain.
#include "render/mesh_region.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "cseries/log.h"
#include "media.h"
#include "mesh.h"
#include "render/render.h"
#include "render/render_surfaces.h"

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

// The frustum rays' length per unit of the 2.14 rotation: 16384 x 11.25 is
// MAXIMUM_VIEW_DISTANCE.
constexpr float FRUSTUM_RAY_SCALE = 11.25f;
// Projected points are kept this close to the origin, far beyond any map
// (1024 cells are 2^19 units), so that the hull's and the centroid's 64-bit
// products stay exact wherever the camera is.
constexpr int32_t PROJECTED_POINT_LIMIT = 1 << 26;

static int32_t clamp_to_projected_range(int64_t value)
{
    if (value > PROJECTED_POINT_LIMIT) return PROJECTED_POINT_LIMIT;
    if (value < -PROJECTED_POINT_LIMIT) return -PROJECTED_POINT_LIMIT;
    return (int32_t)value;
}

// A float offset truncated toward zero; a value that is not finite counts as
// 0 (the point lies under the viewer) and one beyond the range is clamped
// before the conversion, which would otherwise be undefined.
static int64_t truncate_offset(float value)
{
    if (!(value == value)) return 0;
    if (value >= (float)PROJECTED_POINT_LIMIT) return 2 * (int64_t)PROJECTED_POINT_LIMIT;
    if (value <= -(float)PROJECTED_POINT_LIMIT) return -2 * (int64_t)PROJECTED_POINT_LIMIT;
    return (int64_t)value;
}

// Where the ray through the view window point (u, v) meets the plane z = h,
// or its end at the full view distance when it does not within it.
static world_point2d project_window_point(const view_data *view, float u, float v, int16_t plane_height)
{
    const int16_t (*m)[3] = view->world_to_viewer_rotation;
    float d[3];
    for (int32_t i = 0; i < 3; i++)
        d[i] = FRUSTUM_RAY_SCALE * ((float)m[i][0] * u + (float)m[i][1] * v - (float)m[i][2]);
    if (d[2] != 0.0f)
    {
        const float t = ((float)plane_height - (float)view->location.position.z) / d[2];
        if (t > 0.0f && t < 1.0f)
        {
            d[0] *= t;
            d[1] *= t;
        }
    }
    const world_point3d *eye = &view->location.position;
    return {clamp_to_projected_range((int64_t)eye->x + truncate_offset(d[0])),
            clamp_to_projected_range((int64_t)eye->y + truncate_offset(d[1]))};
}

void project_frustum_onto_plane(const view_data *view, int16_t plane_height, mesh_region_corner_procedure corner,
                                mesh_region *region, bool include_viewer)
{
    const view_perspective *w = &view->perspective;
    if (include_viewer)
    {
        corner(region, clamp_to_projected_range(view->location.position.x),
               clamp_to_projected_range(view->location.position.y));
    }
    const float corners[4][2] = {{w->left, w->top}, {w->right, w->top}, {w->left, w->bottom}, {w->right, w->bottom}};
    for (const auto &c : corners)
    {
        const world_point2d p = project_window_point(view, c[0], c[1], plane_height);
        corner(region, p.x, p.y);
    }
}

struct mesh_region_mode
{
    int32_t half_size; // cells around the centre
    double distance_limit; // cells from the viewer to the centre
    int32_t maximum_width;
};

static const mesh_region_mode tiles_mode = {128, 126.0, TILES_MAXIMUM_MESH_REGION_WIDTH};
static const mesh_region_mode volatile_mode = {32, 30.0, MAXIMUM_MESH_REGION_WIDTH};

// Whether the current map leaves its water's render bits to the renderer: no
// cell carries any of them.  Found once per map (the mesh header it was found
// for, and the map hooks forget it).
static struct water_bits_globals
{
    const mesh_header *header;
    bool known, by_default;
} water_bits_globals;

void forget_mesh_water_bits(void) { water_bits_globals = {}; }

static bool water_bits_by_default(void)
{
    const mesh_header *header = get_mesh_header();
    if (!header) return false;
    if (water_bits_globals.known && water_bits_globals.header == header) return water_bits_globals.by_default;
    const uint16_t bits = _mesh_vertex_is_media_flag | _mesh_vertex_is_animated_media_flag | _mesh_cell_has_reflection_flag;
    bool any = false;
    for (int32_t y = 0; y < mesh_height && !any; ++y)
        for (int32_t x = 0; x < mesh_width && !any; ++x)
        {
            const mesh_cell *cell = get_mesh_cell(x, y);
            any = cell && (cell->flags & bits);
        }
    water_bits_globals = {header, true, !any};
    return !any;
}

bool mesh_cell_media_bit(const mesh_cell *cell, uint16_t flag)
{
    if (!cell) return false;
    if (cell->flags & flag) return true;
    return (cell->flags & _mesh_cell_carries_media_flags) == _mesh_cell_carries_media_flags && water_bits_by_default();
}

// Whether the cell's vertex stands on its media surface in this view.
static bool cell_shows_media(const view_data *view, const mesh_cell *cell, bool models_dont_limit)
{
    if (view->flags & _render_view_omit_media_flag) return false;
    // A map whose media record was refused shows its bed: no surface of
    // unknown look floats over it.
    const mesh_header *header = get_mesh_header();
    if (header && header->media_tag != NONE && header->media_tag != 0 && media_definitions.registered && header->media_type == NONE) return false;
    if (!mesh_cell_media_bit(cell, _mesh_vertex_is_media_flag)) return false;
    return !(models_dont_limit && cell->model_index != NONE);
}

static int32_t region_cell_height(const view_data *view, const mesh_cell *cell, bool models_dont_limit)
{
    return cell_shows_media(view, cell, models_dont_limit) ? cell->media_height : cell->height;
}

// The area centroid of the closed polygon (cells), or false when it has no area.
static bool polygon_centroid(const world_point2d *points, int32_t count, int32_t *x, int32_t *y)
{
    int64_t area = 0, sum_x = 0, sum_y = 0;
    for (int32_t i = 0; i < count; i++)
    {
        const world_point2d *a = &points[i], *b = &points[(i + 1) % count];
        const int64_t term = (int64_t)a->x * b->y - (int64_t)b->x * a->y;
        area += term;
        sum_x += ((int64_t)a->x + b->x) * term;
        sum_y += ((int64_t)a->y + b->y) * term;
    }
    if (area == 0) return false;
    *x = (int32_t)(sum_x / (3 * area));
    *y = (int32_t)(sum_y / (3 * area));
    return true;
}

// The animated media's wobble of a vertex: per axis sine(phase) x magnitude.
void wobble_media_vertex(const media_definition *media, int32_t x, int32_t y, int32_t tick_count,
                                world_point3d *point)
{
    // Only the low 16 bits of the phase count, so the products may wrap.
    const uint32_t t = (uint32_t)y * 211u + (uint32_t)tick_count + (uint32_t)x * 377u;
    int32_t *coordinates[3] = {&point->x, &point->y, &point->z};
    for (int32_t axis = 0; axis < 3; axis++)
    {
        if (media->wobble_magnitude[axis] == 0) continue;
        const uint32_t phase = ((uint32_t)(int32_t)media->wobble_phase_multiplier[axis] * t + 32u) & 65535u;
        const int32_t sine = sine_table[phase >> ANGLE_TO_TRIG_SHIFT];
        *coordinates[axis] += (sine * (int32_t)media->wobble_magnitude[axis]) >> TRIG_SHIFT;
    }
}

// One render vertex for cell (x, y), projected and classified; null when the
// pool is out (only when its fatal exit was replaced).
static render_vertex *make_cell_vertex(const view_data *view, const mesh_cell *cell, const media_definition *media,
                                       bool models_dont_limit, int32_t x, int32_t y)
{
    render_vertex *vertex = static_cast<render_vertex *>(render_malloc(sizeof(render_vertex)));
    if (!vertex) return nullptr;
    world_point3d world = {x * WORLD_ONE, y * WORLD_ONE, cell->height};
    if (cell_shows_media(view, cell, models_dont_limit))
    {
        world.z = cell->media_height;
        if (media && mesh_cell_media_bit(cell, _mesh_vertex_is_animated_media_flag))
            wobble_media_vertex(media, x, y, view->tick_count, &world);
    }
    transform_world_point_to_viewer_space(view, &world, &vertex->p, false);
    vertex->mesh_vertex = {(int16_t)x, (int16_t)y};
    vertex->screen = {0, 0};
    point2d screen;
    if (vertex->p.z < 0 && project_viewer_point(view, &vertex->p, &screen))
    {
        uint16_t flags = _vertex_screen_transformed_flag | _vertex_clipped_flag;
        if (screen.y <= 0) flags |= _vertex_out_top_flag;
        if (screen.y >= view->screen_height) flags |= _vertex_out_bottom_flag;
        if (screen.x <= 0) flags |= _vertex_out_left_flag;
        if (screen.x >= view->screen_width) flags |= _vertex_out_right_flag;
        vertex->flags = flags;
        vertex->screen = screen;
    }
    else
    {
        vertex->flags = _vertex_discarded_flag | _vertex_screen_transformed_flag | _vertex_clipped_flag;
    }
    return vertex;
}

// The rows' spans narrowed to the cells that land on the screen (below it is
// allowed: the terrain there still rises into view), then widened by two
// cells and two rows.
static void make_vertices_and_narrow_spans(mesh_region *region, const view_data *view)
{
    const mesh_header *header = get_mesh_header();
    const bool models_dont_limit = header && (header->flags & _mesh_models_dont_limit_rendering_flag);
    const media_definition *media = header ? get_media_definition(header->media_type) : nullptr;
    const int32_t rows = region->y1 - region->y0 + 1;
    mesh_span narrowed[MESH_REGION_SPAN_ROWS];

    for (int32_t row = 0; row < rows; row++)
    {
        const int32_t y = region->y0 + row;
        const mesh_span span = region->spans[row];
        empty_mesh_span(&narrowed[row]);
        for (int32_t x = span.x0; x <= span.x1; x++)
        {
            const mesh_cell *cell = get_mesh_cell(x, y);
            render_vertex *vertex = make_cell_vertex(view, cell, media, models_dont_limit, x, y);
            if (!vertex) break; // the pool is out (its fatal exit replaced): the row stays as far as it got
            region->vertices[(y - region->original_y0) * region->original_width + (x - region->original_x0)] = vertex;
            const uint16_t hidden =
                _vertex_out_left_flag | _vertex_out_right_flag | _vertex_out_top_flag | _vertex_discarded_flag;
            if (!(vertex->flags & hidden) || (models_dont_limit && cell->model_index != NONE))
            {
                if (x < narrowed[row].x0) narrowed[row].x0 = (int16_t)x;
                if (x > narrowed[row].x1) narrowed[row].x1 = (int16_t)x;
            }
        }
    }

    for (int32_t row = 0; row < rows; row++) empty_mesh_span(&region->spans[row]);
    for (int32_t row = 0; row < rows; row++)
    {
        if (mesh_span_is_empty(&narrowed[row])) continue;
        const int16_t x0 = (int16_t)std::max<int32_t>(narrowed[row].x0 - 2, region->x0);
        const int16_t x1 = (int16_t)std::min<int32_t>(narrowed[row].x1 + 2, region->x1);
        for (int32_t r = std::max(row - 2, 0); r <= std::min(row + 2, rows - 1); r++)
        {
            mesh_span *span = &region->spans[r];
            if (x0 < span->x0) span->x0 = x0;
            if (x1 > span->x1) span->x1 = x1;
        }
    }
}

// The average height of the cells of the rows wider than one cell; false
// when there are none.
static bool average_visible_height(const mesh_region *region, const view_data *view, int16_t *average)
{
    const mesh_header *header = get_mesh_header();
    const bool models_dont_limit = header && (header->flags & _mesh_models_dont_limit_rendering_flag);
    int64_t sum = 0, count = 0;
    for (int32_t y = region->y0; y <= region->y1; y++)
    {
        const mesh_span *span = &region->spans[y - region->y0];
        if (!span_is_wider_than_one_cell(span)) continue;
        for (int32_t x = span->x0; x <= span->x1; x++)
        {
            sum += region_cell_height(view, get_mesh_cell(x, y), models_dont_limit);
            count++;
        }
    }
    if (count == 0) return false;
    *average = (int16_t)(sum / count);
    return true;
}

static void cover_tiles(mesh_region *region)
{
    region->tile_x0 = (int16_t)cell_to_tile(region->x0);
    region->tile_y0 = (int16_t)cell_to_tile(region->y0);
    region->tile_x1 = (int16_t)cell_to_tile(region->x1);
    region->tile_y1 = (int16_t)cell_to_tile(region->y1);
    region->tile_width = (int16_t)(region->tile_x1 - region->tile_x0 + 1);
    region->tile_height = (int16_t)(region->tile_y1 - region->tile_y0 + 1);
    const int32_t tiles = region->tile_width * region->tile_height;
    region->tile_coverage_array = static_cast<uint8_t *>(render_malloc((size_t)tiles));
    region->tile_coverage_list = static_cast<uint16_t *>(render_malloc((size_t)tiles * sizeof(uint16_t)));
    if (!region->tile_coverage_array || !region->tile_coverage_list)
    {
        region->tile_coverage_array = nullptr;
        region->tile_coverage_list = nullptr;
        return;
    }
    memset(region->tile_coverage_array, 0, (size_t)tiles);
    for (int32_t y = region->y0; y <= region->y1; y++)
    {
        const mesh_span *span = &region->spans[y - region->y0];
        if (!span_is_wider_than_one_cell(span)) continue;
        const int32_t y_tile = cell_to_tile(y);
        const int32_t x_tile_start = cell_to_tile(span->x0), x_tile_end = cell_to_tile(span->x1);
        if (!VASSERT(x_tile_end < mesh_tile_width, "x_tile_end < mesh_tile_width")) continue;
        if (!VASSERT(y_tile < mesh_tile_height, "y_tile < mesh_tile_height")) continue;
        for (int32_t x_tile = x_tile_start; x_tile <= x_tile_end; x_tile++)
        {
            uint8_t *mark = &region->tile_coverage_array[(y_tile - region->tile_y0) * region->tile_width +
                                                         (x_tile - region->tile_x0)];
            if (*mark) continue;
            *mark = 1;
            region->tile_coverage_list[region->tile_coverage_list_size++] =
                (uint16_t)(x_tile + mesh_tile_width * y_tile);
        }
    }
}

static void cover_volatile_chunks(mesh_region *region)
{
    // The list first: the marks are scratch at the pool's far end, which the
    // pool top must not grow into while they are in use.
    region->volatile_chunk_coverage_list = static_cast<uint8_t *>(render_malloc(MAXIMUM_MESH_REGION_CHUNKS));
    uint8_t *marks = static_cast<uint8_t *>(render_temporary(MAXIMUM_MESH_REGION_CHUNKS));
    if (!region->volatile_chunk_coverage_list || !marks)
    {
        region->volatile_chunk_coverage_list = nullptr;
        return;
    }
    memset(marks, 0, MAXIMUM_MESH_REGION_CHUNKS);
    const int32_t last = MESH_REGION_CHUNKS_PER_ROW - 1;
    for (int32_t r = 0; r <= region->y1 - region->y0; r++)
    {
        const mesh_span *span = &region->spans[r];
        if (!span_is_wider_than_one_cell(span)) continue;
        // A row's cells reach the vertices of the next row.
        const int32_t cy0 = r >> 3, cy1 = std::min(r + 1, MAXIMUM_MESH_REGION_WIDTH - 1) >> 3;
        const int32_t cx0 = (span->x0 - region->x0) >> 3, cx1 = (span->x1 - region->x0) >> 3;
        if (!VASSERT(cy0 >= 0 && cy0 <= last, "cy0 >= 0 && cy0 <= MAXIMUM_MESH_REGION_WIDTH-1")) continue;
        if (!VASSERT(cy1 >= 0 && cy1 <= last, "cy1 >= 0 && cy1 <= MAXIMUM_MESH_REGION_WIDTH-1")) continue;
        if (!VASSERT(cx0 >= 0 && cx0 <= last, "cx0 >= 0 && cx0 <= MAXIMUM_MESH_REGION_WIDTH-1")) continue;
        if (!VASSERT(cx1 >= 0 && cx1 <= last, "cx1 >= 0 && cx1 <= MAXIMUM_MESH_REGION_WIDTH-1")) continue;
        for (int32_t cy = cy0; cy <= cy1; cy++)
        {
            for (int32_t cx = cx0; cx <= cx1; cx++)
            {
                const int32_t chunk = cy * MESH_REGION_CHUNKS_PER_ROW + cx;
                if (marks[chunk]) continue;
                marks[chunk] = 1;
                region->volatile_chunk_coverage_list[region->volatile_chunk_coverage_list_size++] = (uint8_t)chunk;
            }
        }
    }
}

mesh_region *build_mesh_region(const view_data *view)
{
    // The frustum's footprint on the lowest ground, with the viewer, as
    // the hull of 3-cell squares around the projected points, in cells.
    mesh_region local;
    memset(&local, 0, sizeof(local));
    project_frustum_onto_plane(view, min_cell_height, add_corner_to_region, &local, true);
    local.frustum_corner_count = convex_hull(local.frustum_corners, local.frustum_corner_count);
    for (int32_t i = 0; i < local.frustum_corner_count; i++)
    {
        local.frustum_corners[i].x >>= WORLD_FRACTIONAL_BITS;
        local.frustum_corners[i].y >>= WORLD_FRACTIONAL_BITS;
    }

    // 2, 3. The centre: the hull's centroid, at most the mode's limit from
    // the viewer (the viewer's own cell when the hull has no area).
    const mesh_region_mode *mode = global_maps_mode == _maps_mode_tiles ? &tiles_mode : &volatile_mode;
    const int32_t viewer_x = view->location.position.x >> WORLD_FRACTIONAL_BITS;
    const int32_t viewer_y = view->location.position.y >> WORLD_FRACTIONAL_BITS;
    int32_t centre_x = viewer_x, centre_y = viewer_y;
    if (!polygon_centroid(local.frustum_corners, local.frustum_corner_count, &centre_x, &centre_y))
    {
        centre_x = viewer_x;
        centre_y = viewer_y;
    }
    const double dx = (double)centre_x - viewer_x, dy = (double)centre_y - viewer_y;
    const double distance = std::sqrt(dx * dx + dy * dy);
    if (distance > mode->distance_limit)
    {
        centre_x = viewer_x + (int32_t)(dx * mode->distance_limit / distance);
        centre_y = viewer_y + (int32_t)(dy * mode->distance_limit / distance);
    }

    // The rectangle: the square around the centre, within the hull's
    // bounding box and the map.  Left and top even.  A rectangle that misses
    // the map is empty (nothing is visible), never a stray cell.
    int32_t left = centre_x - mode->half_size, top = centre_y - mode->half_size;
    int32_t right = centre_x + mode->half_size, bottom = centre_y + mode->half_size;
    if (local.frustum_corner_count > 0)
    {
        int32_t min_x = local.frustum_corners[0].x, max_x = min_x;
        int32_t min_y = local.frustum_corners[0].y, max_y = min_y;
        for (int32_t i = 1; i < local.frustum_corner_count; i++)
        {
            min_x = std::min(min_x, local.frustum_corners[i].x);
            max_x = std::max(max_x, local.frustum_corners[i].x);
            min_y = std::min(min_y, local.frustum_corners[i].y);
            max_y = std::max(max_y, local.frustum_corners[i].y);
        }
        left = std::max(left, min_x);
        right = std::min(right, max_x);
        top = std::max(top, min_y);
        bottom = std::min(bottom, max_y);
    }
    else
    {
        right = left;
    }
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, (int32_t)mesh_width);
    bottom = std::min(bottom, (int32_t)mesh_height);
    int32_t width = 0, height = 0;
    if (right > left && bottom > top)
    {
        left &= ~1;
        top &= ~1;
        width = std::min(mode->maximum_width, right + 1 - left);
        height = std::min(mode->maximum_width, bottom + 1 - top);
    }
    else
    {
        left = top = 0;
    }

    // 5, 6. The pool, reset for this frame, and the region in it.
    new_render_scene(width * height);
    mesh_region *region = static_cast<mesh_region *>(render_malloc(sizeof(mesh_region)));
    render_vertex **vertices =
        static_cast<render_vertex **>(render_malloc(sizeof(render_vertex *) * (size_t)std::max(1, width * height)));
    mesh_span *spans = static_cast<mesh_span *>(render_malloc(sizeof(mesh_span) * MESH_REGION_SPAN_ROWS));
    if (!region || !vertices || !spans) return nullptr;
    *region = local;
    memset(vertices, 0, sizeof(render_vertex *) * (size_t)std::max(1, width * height));
    for (int32_t i = 0; i < MESH_REGION_SPAN_ROWS; i++) empty_mesh_span(&spans[i]);
    region->vertices = vertices;
    region->spans = spans;
    region->original_x0 = (int16_t)left;
    region->original_y0 = (int16_t)top;
    region->original_width = (int16_t)width;
    region->original_height = (int16_t)height;
    region->max_span_x = (int16_t)(left + width - 2);
    region->max_span_y = (int16_t)(top + height - 2);
    region->x0 = region->y0 = EMPTY_SPAN_X0;
    region->x1 = region->y1 = EMPTY_SPAN_X1;

    // 7, 8. The hull's edges walked into the rows' spans.
    if (width > 0 && height > 0)
    {
        for (int32_t i = 0; i < region->frustum_corner_count; i++)
        {
            const world_point2d *a = &region->frustum_corners[i];
            const world_point2d *b = &region->frustum_corners[(i + 1) % region->frustum_corner_count];
            DDA(a->x, a->y, b->x, b->y, region, extend_spans);
        }
    }
    if (region->y0 > region->y1)
    {
        region->x0 = region->x1 = region->y0 = region->y1 = 0;
        return region;
    }
    region->spans += region->y0 - region->original_y0;

    // 9, 10. A vertex per span cell, the spans narrowed to the screen and widened.
    make_vertices_and_narrow_spans(region, view);

    // The frustum's footprint on the plane of the visible cells' average height.
    int16_t average = 0;
    if (average_visible_height(region, view, &average))
    {
        region->polygon_corners =
            static_cast<world_point2d *>(render_malloc(sizeof(world_point2d) * MESH_REGION_POLYGON_CORNERS));
        if (region->polygon_corners)
        {
            project_frustum_onto_plane(view, average, add_polygon_corner_to_region, region, false);
            region->polygon_corner_count = convex_hull(region->polygon_corners, region->polygon_corner_count);
        }
    }

    // The central sight line: through the window's middle column, a
    // quarter of the way down.
    const view_perspective *w = &view->perspective;
    region->central_ray[0] = {view->location.position.x, view->location.position.y};
    region->central_ray[1] = project_window_point(view, w->left + 0.5f * (w->right - w->left),
                                                  w->top + 0.25f * (w->bottom - w->top), average);

    // 13, 14. What the terrain texturing must prepare.
    if (global_maps_mode == _maps_mode_tiles) cover_tiles(region);
    else cover_volatile_chunks(region);
    return region;
}
