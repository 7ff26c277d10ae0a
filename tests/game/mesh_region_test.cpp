// The visible mesh region: the convex hull it is built from, and the region's
// properties for many cameras over a flat and a hilly map loaded through the
// mesh module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "bitmaps.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_surfaces.h"
#include "support/test_mesh.h"

namespace mesh_region_test_file {

namespace {

// ---- convex hull ------------------------------------------------------------------

typedef std::pair<int32_t, int32_t> point_key;

int64_t cross(const world_point2d &o, const world_point2d &a, const world_point2d &b)
{
    return (int64_t)(a.x - o.x) * (b.y - o.y) - (int64_t)(a.y - o.y) * (b.x - o.x);
}

// The hull's corners by brute force: p -> q is a clockwise hull edge when no
// point lies to its left and every point on its line lies between p and q.
// Empty when all points lie on one line.
std::set<point_key> brute_force_hull(const std::vector<world_point2d> &points)
{
    std::set<point_key> corners;
    for (const world_point2d &p : points)
    {
        for (const world_point2d &q : points)
        {
            if (p.x == q.x && p.y == q.y) continue;
            bool edge = true;
            for (const world_point2d &r : points)
            {
                const int64_t side = cross(p, q, r);
                if (side > 0) edge = false;
                if (side == 0 && (std::min(p.x, q.x) > r.x || r.x > std::max(p.x, q.x) || std::min(p.y, q.y) > r.y ||
                                  r.y > std::max(p.y, q.y)))
                    edge = false;
                if (!edge) break;
            }
            if (edge)
            {
                corners.insert({p.x, p.y});
                corners.insert({q.x, q.y});
            }
        }
    }
    // All on one line: no two distinct points, or every point on the line of the first two.
    bool one_line = true;
    for (const world_point2d &b : points)
    {
        if (b.x == points[0].x && b.y == points[0].y) continue;
        for (const world_point2d &r : points)
            if (cross(points[0], b, r) != 0) one_line = false;
        break;
    }
    if (one_line) corners.clear();
    return corners;
}

void expect_hull_matches_brute_force(std::vector<world_point2d> points, const char *what)
{
    const std::set<point_key> expected = brute_force_hull(points);
    std::multiset<point_key> before;
    for (const world_point2d &p : points) before.insert({p.x, p.y});

    const int32_t n = convex_hull(points.data(), (int32_t)points.size());

    std::multiset<point_key> after;
    for (const world_point2d &p : points) after.insert({p.x, p.y});
    EXPECT_EQ(before, after) << what << ": the points are only rearranged";
    ASSERT_EQ((size_t)n, expected.size()) << what;
    if (n == 0) return;

    std::set<point_key> got;
    for (int32_t i = 0; i < n; i++) got.insert({points[i].x, points[i].y});
    EXPECT_EQ(got, expected) << what;
    // Starts at the lowest (then leftmost) point and turns strictly clockwise.
    for (int32_t i = 1; i < n; i++)
        EXPECT_TRUE(points[0].y < points[i].y || (points[0].y == points[i].y && points[0].x < points[i].x)) << what;
    for (int32_t i = 0; i < n; i++)
        EXPECT_LT(cross(points[i], points[(i + 1) % n], points[(i + 2) % n]), 0) << what << " at corner " << i;
}

TEST(mesh_region_hull, convex_hull_agrees_with_a_brute_force_hull)
{
    std::mt19937 random(2604);
    for (int32_t trial = 0; trial < 400; trial++)
    {
        const int32_t count = 3 + (int32_t)(random() % 22);
        const int32_t range = trial % 3 == 0 ? 4 : (trial % 3 == 1 ? 40 : 1 << 27);
        std::vector<world_point2d> points;
        for (int32_t i = 0; i < count; i++)
        {
            if (i > 0 && random() % 4 == 0) points.push_back(points[random() % points.size()]); // a repeat
            else
                points.push_back({(int32_t)(random() % (2 * range + 1)) - range,
                                  (int32_t)(random() % (2 * range + 1)) - range});
        }
        expect_hull_matches_brute_force(points, "random");
    }
}

TEST(mesh_region_hull, degenerate_point_sets)
{
    struct
    {
        const char *what;
        std::vector<world_point2d> points;
    } cases[] = {
        {"too few", {{0, 0}, {5, 1}}},
        {"one line through the pivot", {{0, 0}, {3, 3}, {1, 1}, {7, 7}, {2, 2}}},
        {"one horizontal line", {{4, 0}, {1, 0}, {9, 0}, {1, 0}}},
        {"one vertical line", {{2, 9}, {2, 1}, {2, 5}}},
        {"one point repeated", {{6, 6}, {6, 6}, {6, 6}, {6, 6}}},
        {"the pivot repeated", {{0, 0}, {0, 0}, {4, 0}, {0, 4}, {0, 0}}},
        {"collinear on the edges", {{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}, {2, 2}}},
        {"collinear with the pivot inside", {{0, 0}, {5, 5}, {10, 10}, {10, 0}, {0, 10}}},
        {"a triangle with repeats", {{1, 1}, {9, 2}, {1, 1}, {4, 8}, {9, 2}, {4, 8}}},
        {"ties for the pivot", {{3, -2}, {-1, -2}, {5, 4}, {-1, -2}, {0, 6}}},
        {"five squares, as the frustum gives",
         {{-1536, -1536}, {1536, -1536}, {1536, 1536}, {-1536, 1536}, {98464, 50000}, {101536, 50000},
          {101536, 53072}, {98464, 53072}}},
    };
    for (auto &c : cases) expect_hull_matches_brute_force(c.points, c.what);
}

// ---- regions ------------------------------------------------------------------------

enum
{
    MAP_SIZE = 128,
    LAKE_HEIGHT = -300,
    SCREEN_WIDTH = 320,
    SCREEN_HEIGHT = 240,
};

// A flat map (height 0), or a hilly one with a lake: heights of a few
// overlapping waves, media over the cells below LAKE_HEIGHT.
std::vector<uint8_t> build_test_map(bool hilly)
{
    std::vector<mesh_cell> cells((size_t)MAP_SIZE * MAP_SIZE);
    for (int32_t y = 0; y < MAP_SIZE; y++)
    {
        for (int32_t x = 0; x < MAP_SIZE; x++)
        {
            mesh_cell cell = {0, 0, 0, NONE, NONE, 0};
            if (hilly)
            {
                const double h = 700.0 * std::sin(x * 0.21) + 500.0 * std::cos(y * 0.13 + x * 0.05) +
                                 300.0 * std::sin((x + y) * 0.37);
                cell.height = (int16_t)h;
                if (cell.height < LAKE_HEIGHT)
                {
                    cell.flags = _mesh_vertex_is_media_flag | _mesh_cell_triangle0_is_media_flag |
                                 _mesh_cell_triangle1_is_media_flag;
                    cell.media_height = LAKE_HEIGHT;
                }
            }
            cells[(size_t)(x + y * MAP_SIZE)] = cell;
        }
    }
    mesh_header header = test_mesh_header(MAP_SIZE, MAP_SIZE);
    header.observer_physics_constants_tag = NONE;
    header.media_tag = NONE;
    return test_mesh_bytes(header, cells);
}

struct camera
{
    world_point3d eye;
    angle yaw, pitch;
    float tan_half_fov;
    uint32_t flags;
};

// The documented viewer-space transform, written out here independently of
// the renderer's.
world_point3d viewer_space(const view_data *view, const world_point3d &world)
{
    const int16_t (*m)[3] = view->world_to_viewer_rotation;
    const int64_t dx = (int64_t)world.x - view->location.position.x;
    const int64_t dy = (int64_t)world.y - view->location.position.y;
    const int64_t dz = (int64_t)world.z - view->location.position.z;
    return {(int32_t)((m[0][0] * dx + m[1][0] * dy + m[2][0] * dz) >> 14),
            (int32_t)((m[0][1] * dx + m[1][1] * dy + m[2][1] * dz) >> 14),
            (int32_t)((m[0][2] * dx + m[1][2] * dy + m[2][2] * dz) >> 14)};
}

// Whether the point lands strictly inside the screen.
bool strictly_on_screen(const view_data *view, const world_point3d &p)
{
    if (p.z >= 0) return false;
    const double s = (double)view->fworld_to_screen / p.z;
    const double x = view->xk - p.x * s, y = view->yk + p.y * s;
    return x > 1 && x < view->screen_width - 1 && y > 1 && y < view->screen_height - 1;
}

world_point3d cell_world_point(const view_data *view, int32_t x, int32_t y)
{
    const mesh_cell *cell = get_mesh_cell(x, y);
    const bool media = (cell->flags & _mesh_vertex_is_media_flag) && !(view->flags & _render_view_omit_media_flag);
    return {x * WORLD_ONE, y * WORLD_ONE, media ? cell->media_height : cell->height};
}

class mesh_region_test : public ::testing::Test
{
protected:
    static std::vector<uint8_t> flat_map, hilly_map;
    static bitmap_data *screen;

    static void SetUpTestSuite()
    {
        flat_map = build_test_map(false);
        hilly_map = build_test_map(true);
        screen = new_bitmap(SCREEN_WIDTH, SCREEN_HEIGHT, 0, _32bit_encoding, 0);
    }
    static void TearDownTestSuite()
    {
        free(screen);
        screen = nullptr;
    }

    void SetUp() override
    {
        initialize_mesh();
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        global_maps_mode = _maps_mode_volatile;
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        global_maps_mode = _maps_mode_volatile;
    }

    static void load(const std::vector<uint8_t> &bytes)
    {
        ASSERT_FALSE(bytes.empty());
        ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    }

    // A view as the observer fills it, derived by the renderer.
    view_data make_view(const camera &c)
    {
        view_data view;
        memset(&view, 0, sizeof(view));
        view.screen = screen;
        view.flags = c.flags;
        view.resolution_width = SCREEN_WIDTH;
        view.resolution_height = SCREEN_HEIGHT;
        view.half_resolution_width = SCREEN_WIDTH / 2;
        view.half_resolution_height = SCREEN_HEIGHT / 2;
        view.tangent_of_half_field_of_view = c.tan_half_fov;
        view.location.position = c.eye;
        view.location.yaw = c.yaw;
        view.location.pitch = c.pitch;
        view.tick_count = 1234;
        update_view_data(&view);
        return view;
    }

    // Cameras over the map: steep ones see all they show within the region's
    // limits; the rest look anywhere from straight down to above the horizon.
    static camera random_camera(std::mt19937 &random, bool steep)
    {
        camera c;
        const int32_t x = (int32_t)(random() % (MAP_SIZE + 16)) - 8, y = (int32_t)(random() % (MAP_SIZE + 16)) - 8;
        const int32_t above = steep ? 3 + (int32_t)(random() % 12) : 1 + (int32_t)(random() % 40);
        c.eye = {x * WORLD_ONE + (int32_t)(random() % WORLD_ONE), y * WORLD_ONE + (int32_t)(random() % WORLD_ONE),
                 1024 + above * WORLD_ONE};
        c.yaw = (angle)random();
        const int32_t degrees = steep ? -90 + (int32_t)(random() % 31) : -90 + (int32_t)(random() % 100);
        c.pitch = (angle)(int32_t)std::lround(degrees * 65536.0 / 360.0);
        c.tan_half_fov = steep ? 0.4f + (float)(random() % 60) / 100.0f : 0.2f + (float)(random() % 150) / 100.0f;
        c.flags = random() % 3 == 0 ? _render_view_omit_media_flag : 0;
        return c;
    }

    // What every region holds, whatever the camera.
    static void expect_region_is_sound(const view_data *view, const mesh_region *region, const char *what)
    {
        const int32_t limit = global_maps_mode == _maps_mode_tiles ? TILES_MAXIMUM_MESH_REGION_WIDTH
                                                                    : MAXIMUM_MESH_REGION_WIDTH;
        ASSERT_NE(region, nullptr) << what;
        EXPECT_EQ(region->original_x0 & 1, 0) << what;
        EXPECT_EQ(region->original_y0 & 1, 0) << what;
        EXPECT_LE(region->original_width, limit) << what;
        EXPECT_LE(region->original_height, limit) << what;
        EXPECT_GE(region->original_x0, 0) << what;
        EXPECT_GE(region->original_y0, 0) << what;
        if (region->y0 > region->y1 || (region->y0 == 0 && region->y1 == 0 && region->x0 == 0 && region->x1 == 0 &&
                                        mesh_span_is_empty(&region->spans[0])))
            return;
        for (int32_t y = region->y0; y <= region->y1; y++)
        {
            const mesh_span *span = get_mesh_region_span(region, y);
            ASSERT_NE(span, nullptr) << what;
            if (mesh_span_is_empty(span)) continue;
            // Every span cell lies on the map, off its last row, and in the rectangle.
            EXPECT_GE(span->x0, 0) << what << " row " << y;
            EXPECT_LT(span->x1, mesh_width) << what << " row " << y;
            EXPECT_LT(y, mesh_height - 1) << what;
            EXPECT_GE(span->x0, region->original_x0) << what << " row " << y;
            EXPECT_LE(span->x1, region->max_span_x) << what << " row " << y;
            EXPECT_GE(span->x0, region->x0) << what;
            EXPECT_LE(span->x1, region->x1) << what;
            EXPECT_GE(y, region->original_y0) << what;
            EXPECT_LT(y, region->original_y0 + region->original_height) << what;

            // Cells whose vertex lands on the screen (below it allowed) are
            // in the span, and every cell between two of them has a vertex.
            int32_t first = INT32_MAX, last = INT32_MIN;
            for (int32_t x = region->original_x0; x < region->original_x0 + region->original_width; x++)
            {
                const render_vertex *vertex = get_mesh_region_vertex(region, x, y);
                if (!vertex) continue;
                const uint16_t hidden = _vertex_out_left_flag | _vertex_out_right_flag | _vertex_out_top_flag |
                                        _vertex_discarded_flag;
                if (vertex->flags & hidden) continue;
                EXPECT_TRUE(cell_in_span_inclusive(span, x)) << what << " cell " << x << "," << y;
                // So are the cells two around it, within the hull's rows and columns.
                for (int32_t r = std::max<int32_t>(y - 2, region->y0); r <= std::min<int32_t>(y + 2, region->y1); r++)
                {
                    const mesh_span *near = get_mesh_region_span(region, r);
                    EXPECT_LE(near->x0, std::max<int32_t>(x - 2, region->x0)) << what << " row " << r;
                    EXPECT_GE(near->x1, std::min<int32_t>(x + 2, region->x1)) << what << " row " << r;
                }
                first = std::min(first, x);
                last = std::max(last, x);
            }
            for (int32_t x = first; x <= last; x++)
                EXPECT_NE(get_mesh_region_vertex(region, x, y), nullptr) << what << " cell " << x << "," << y;
        }

        // Each vertex made is its cell's point, in viewer space and on the screen.
        for (int32_t y = region->original_y0; y < region->original_y0 + region->original_height; y++)
        {
            for (int32_t x = region->original_x0; x < region->original_x0 + region->original_width; x++)
            {
                const render_vertex *vertex = get_mesh_region_vertex(region, x, y);
                if (!vertex) continue;
                EXPECT_EQ(vertex->mesh_vertex.x, x);
                EXPECT_EQ(vertex->mesh_vertex.y, y);
                const world_point3d expected = viewer_space(view, cell_world_point(view, x, y));
                EXPECT_EQ(vertex->p.x, expected.x) << what << " cell " << x << "," << y;
                EXPECT_EQ(vertex->p.y, expected.y) << what << " cell " << x << "," << y;
                EXPECT_EQ(vertex->p.z, expected.z) << what << " cell " << x << "," << y;
                EXPECT_EQ(vertex->flags & (_vertex_screen_transformed_flag | _vertex_clipped_flag),
                          _vertex_screen_transformed_flag | _vertex_clipped_flag);
                if (strictly_on_screen(view, expected))
                {
                    EXPECT_EQ(vertex->flags & (_vertex_out_flags | _vertex_discarded_flag), 0) << what;
                }
                if (expected.z >= 0)
                {
                    EXPECT_TRUE(vertex->flags & _vertex_discarded_flag) << what;
                }
            }
        }
    }

    // Steep cameras: every cell of the map that lands strictly inside the
    // screen lies in its row's span.
    static void expect_every_cell_on_screen_is_in_the_region(const view_data *view, const mesh_region *region,
                                                             const char *what)
    {
        for (int32_t y = 0; y < mesh_height - 1; y++)
        {
            for (int32_t x = 0; x < mesh_width; x++)
            {
                if (!strictly_on_screen(view, viewer_space(view, cell_world_point(view, x, y)))) continue;
                const mesh_span *span = get_mesh_region_span(region, y);
                EXPECT_TRUE(span && cell_in_span_inclusive(span, x)) << what << " cell " << x << "," << y;
            }
        }
    }

    // The chunks (volatile) or tiles (tiles mode) the texturing must prepare,
    // cell by cell: a row's cells reach the vertices of the next row.
    static void expect_coverage_matches_the_spans(const mesh_region *region, const char *what)
    {
        std::set<int32_t> expected;
        for (int32_t y = region->y0; y <= region->y1 && region->y0 <= region->y1; y++)
        {
            const mesh_span *span = get_mesh_region_span(region, y);
            if (!span || span->x1 <= span->x0) continue;
            for (int32_t x = span->x0; x <= span->x1; x++)
            {
                if (global_maps_mode == _maps_mode_tiles)
                {
                    expected.insert(x / 14 + mesh_tile_width * (y / 14));
                    continue;
                }
                const int32_t r = y - region->y0;
                for (int32_t row : {r, std::min(r + 1, MAXIMUM_MESH_REGION_WIDTH - 1)})
                    expected.insert((row / 8) * 8 + (x - region->x0) / 8);
            }
        }
        std::vector<int32_t> listed;
        if (global_maps_mode == _maps_mode_tiles)
        {
            for (int32_t i = 0; i < region->tile_coverage_list_size; i++)
                listed.push_back(region->tile_coverage_list[i]);
            int32_t marked = 0;
            for (int32_t i = 0; i < region->tile_width * region->tile_height; i++)
                marked += region->tile_coverage_array[i] != 0;
            EXPECT_EQ(marked, (int32_t)expected.size()) << what;
            for (int32_t tile : expected)
            {
                const int32_t tx = tile % mesh_tile_width - region->tile_x0;
                const int32_t ty = tile / mesh_tile_width - region->tile_y0;
                ASSERT_TRUE(tx >= 0 && tx < region->tile_width && ty >= 0 && ty < region->tile_height) << what;
                EXPECT_TRUE(region->tile_coverage_array[ty * region->tile_width + tx]) << what;
            }
        }
        else
        {
            for (int32_t i = 0; i < region->volatile_chunk_coverage_list_size; i++)
                listed.push_back(region->volatile_chunk_coverage_list[i]);
        }
        const std::set<int32_t> listed_set(listed.begin(), listed.end());
        EXPECT_EQ(listed.size(), listed_set.size()) << what << ": listed once each";
        EXPECT_EQ(listed_set, expected) << what;
    }
};

std::vector<uint8_t> mesh_region_test::flat_map, mesh_region_test::hilly_map;
bitmap_data *mesh_region_test::screen = nullptr;

TEST_F(mesh_region_test, regions_hold_what_the_screen_shows_for_many_cameras)
{
    std::mt19937 random(26104);
    for (const std::vector<uint8_t> *map : {&flat_map, &hilly_map})
    {
        load(*map);
        for (int32_t trial = 0; trial < 150; trial++)
        {
            const bool steep = trial % 2 == 0;
            global_maps_mode = trial % 5 == 4 ? _maps_mode_tiles : _maps_mode_volatile;
            const camera c = random_camera(random, steep);
            view_data view = make_view(c);
            const mesh_region *region = build_mesh_region(&view);
            const char *what = map == &flat_map ? (steep ? "flat, steep" : "flat") : (steep ? "hilly, steep" : "hilly");
            expect_region_is_sound(&view, region, what);
            if (HasFatalFailure() || HasFailure()) return;
            if (steep) expect_every_cell_on_screen_is_in_the_region(&view, region, what);
            expect_coverage_matches_the_spans(region, what);
            if (HasFailure()) return;
        }
    }
}

TEST_F(mesh_region_test, cameras_off_the_map_or_with_a_broken_field_of_view_give_sound_regions)
{
    load(hilly_map);
    const float nan = std::numeric_limits<float>::quiet_NaN(), infinity = std::numeric_limits<float>::infinity();
    const int32_t middle = MAP_SIZE / 2 * WORLD_ONE;
    struct
    {
        const char *what;
        camera c;
        bool empty;
    } cases[] = {
        {"far east of the map", {{1 << 30, middle, 8192}, 0, 60000, 0.8f, 0}, true},
        {"far west, looking away", {{-(1 << 30), middle, 8192}, 32768, 60000, 0.8f, 0}, true},
        {"at the extremes of the coordinates", {{INT32_MAX, INT32_MIN, INT32_MAX}, 1000, 50000, 1.0f, 0}, true},
        {"beside the map, looking away", {{-40 * WORLD_ONE, middle, 4096}, 32768, 62000, 1.0f, 0}, true},
        {"below the map, looking down", {{middle, middle, -30000}, 0, 49152, 1.0f, 0}, false},
        {"zero field of view", {{middle, middle, 8192}, 0, 58000, 0.0f, 0}, false},
        {"negative field of view", {{middle, middle, 8192}, 0, 58000, -1.0f, 0}, false},
        {"field of view not a number", {{middle, middle, 8192}, 0, 58000, nan, 0}, false},
        {"infinite field of view", {{middle, middle, 8192}, 0, 58000, infinity, 0}, false},
        {"huge field of view", {{middle, middle, 8192}, 0, 58000, 1e30f, 0}, false},
        {"tiny field of view", {{middle, middle, 8192}, 0, 58000, 1e-30f, 0}, false},
    };
    for (auto &c : cases)
    {
        for (int16_t mode : {(int16_t)_maps_mode_volatile, (int16_t)_maps_mode_tiles})
        {
            global_maps_mode = mode;
            view_data view = make_view(c.c);
            const mesh_region *region = build_mesh_region(&view);
            expect_region_is_sound(&view, region, c.what);
            if (!region || !c.empty) continue;
            EXPECT_EQ(region->y0, 0) << c.what;
            EXPECT_EQ(region->y1, 0) << c.what;
            EXPECT_EQ(region->x0, 0) << c.what;
            EXPECT_EQ(region->x1, 0) << c.what;
            EXPECT_TRUE(mesh_span_is_empty(get_mesh_region_span(region, 0))) << c.what;
            EXPECT_EQ(region->polygon_corner_count, 0) << c.what;
            EXPECT_EQ(region->volatile_chunk_coverage_list_size + region->tile_coverage_list_size, 0) << c.what;
            for (int32_t i = 0; i < region->original_width * region->original_height; i++)
                EXPECT_EQ(region->vertices[i], nullptr) << c.what;
        }
    }
}

TEST_F(mesh_region_test, a_view_of_the_horizon_keeps_the_region_near_the_viewer)
{
    load(flat_map);
    // Looking east along the map from its west edge: the frustum's rays run
    // the full view distance, far past the map.
    for (angle pitch : {(angle)0, (angle)2000, (angle)63000})
    {
        view_data view = make_view({{10 * WORLD_ONE, 64 * WORLD_ONE, 2048}, 0, pitch, 1.0f, 0});
        const mesh_region *region = build_mesh_region(&view);
        expect_region_is_sound(&view, region, "horizon");
        ASSERT_LE(region->y0, region->y1);
        EXPECT_EQ(region->original_width, MAXIMUM_MESH_REGION_WIDTH);
        int32_t cells = 0;
        for (int32_t y = region->y0; y <= region->y1; y++)
        {
            const mesh_span *span = get_mesh_region_span(region, y);
            if (mesh_span_is_empty(span)) continue;
            cells += span_cell_count_inclusive(span);
            // The centre at most 30 cells out, the region 32 around it.
            EXPECT_LE(span->x1, 10 + 30 + 32);
            EXPECT_LE(std::abs(y - 64), 30 + 32);
        }
        EXPECT_GT(cells, 0);
    }
}

TEST_F(mesh_region_test, cells_under_models_stay_in_the_spans_off_screen_when_models_do_not_limit_rendering)
{
    load(flat_map);
    const camera c = {{40 * WORLD_ONE, 50 * WORLD_ONE, 12 * WORLD_ONE}, 3000, 54000, 0.5f, 0};
    view_data view = make_view(c);
    const mesh_region *region = build_mesh_region(&view);
    ASSERT_LE(region->y0, region->y1);

    // Cells that got a vertex off the screen's sides or top, outside their row's span.
    std::vector<std::pair<int32_t, int32_t>> hidden;
    for (int32_t y = region->y0; y <= region->y1; y++)
    {
        for (int32_t x = region->original_x0; x < region->original_x0 + region->original_width; x++)
        {
            const render_vertex *vertex = get_mesh_region_vertex(region, x, y);
            if (vertex && (vertex->flags & (_vertex_out_left_flag | _vertex_out_right_flag | _vertex_out_top_flag)) &&
                !cell_in_span_inclusive(get_mesh_region_span(region, y), x))
                hidden.push_back({x, y});
        }
    }
    ASSERT_GE(hidden.size(), 3u);
    hidden.resize(3);
    for (auto &cell : hidden) get_mesh_cell(cell.first, cell.second)->model_index = 0;
    get_mesh_header()->flags |= _mesh_models_dont_limit_rendering_flag;

    region = build_mesh_region(&view);
    for (auto &cell : hidden)
    {
        const mesh_span *span = get_mesh_region_span(region, cell.second);
        ASSERT_NE(span, nullptr);
        EXPECT_TRUE(cell_in_span_inclusive(span, cell.first)) << cell.first << "," << cell.second;
    }
}

} // namespace

} // namespace mesh_region_test_file
