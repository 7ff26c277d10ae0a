// The screen test: which triangles survive projection and the edge and
// facing checks, how single vertices project (the 16-bit range, the "on"
// snaps), and that a vertex shared by several triangles is projected once.
// A 640 x 480 screen whose focal length equals the depth used, so a vertex at
// viewer depth -1000 lands at (320 + x, 240 - y).

#include "support/expected_assertions.h"

#include <cmath>
#include <deque>
#include <limits>

#include "render/render_clip.h"

namespace render_clip_test_file {

namespace {

const int32_t DEPTH = -1000;

class render_clip_test : public ::testing::Test
{
protected:
    view_data view = {};
    std::deque<render_vertex> vertices;
    std::deque<render_triangle> triangles;

    void SetUp() override
    {
        view.screen_width = 640;
        view.screen_height = 480;
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 1000.0f;
    }

    render_vertex *vertex_at(int32_t sx, int32_t sy, int32_t z = DEPTH, uint16_t flags = 0)
    {
        // At depth -1000 the scale is exactly -1; at other depths the point is
        // placed on the same ray.
        render_vertex v = {};
        v.flags = flags;
        v.p = {(world_distance)((int64_t)(sx - 320) * -z / 1000), (world_distance)((int64_t)(240 - sy) * -z / 1000),
               (world_distance)z};
        vertices.push_back(v);
        return &vertices.back();
    }
    render_triangle *triangle(render_vertex *a, render_vertex *b, render_vertex *c, uint32_t flags = 0,
                              int32_t subtype = _surface_subtype_object_triangle)
    {
        render_triangle t = {};
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, subtype);
        t.corners[0].vertex = a;
        t.corners[1].vertex = b;
        t.corners[2].vertex = c;
        triangles.push_back(t);
        return &triangles.back();
    }
    bool discarded(const render_triangle *t) const
    {
        return surface_word_flags(t->header.packed) & _surface_discarded_flag;
    }
};

TEST_F(render_clip_test, triangles_that_cannot_be_seen_are_discarded)
{
    struct point
    {
        int32_t x, y, z;
    };
    struct
    {
        const char *name;
        point corners[3];
        bool kept;
    } const cases[] = {
        {"on screen, clockwise", {{100, 100, DEPTH}, {200, 100, DEPTH}, {100, 200, DEPTH}}, true},
        {"counter-clockwise", {{100, 100, DEPTH}, {100, 200, DEPTH}, {200, 100, DEPTH}}, false},
        {"zero area", {{100, 100, DEPTH}, {150, 150, DEPTH}, {200, 200, DEPTH}}, false},
        {"all on the left edge or beyond", {{-50, 100, DEPTH}, {0, 100, DEPTH}, {-50, 200, DEPTH}}, false},
        {"all beyond the right edge", {{640, 100, DEPTH}, {700, 100, DEPTH}, {640, 200, DEPTH}}, false},
        {"all beyond the top edge", {{100, -90, DEPTH}, {200, -90, DEPTH}, {100, 0, DEPTH}}, false},
        {"all beyond the bottom edge", {{100, 480, DEPTH}, {200, 480, DEPTH}, {100, 600, DEPTH}}, false},
        {"one corner in", {{-50, 100, DEPTH}, {1, 100, DEPTH}, {-50, 200, DEPTH}}, true},
        {"corners beyond different edges", {{-100, -100, DEPTH}, {900, -100, DEPTH}, {-100, 900, DEPTH}}, true},
        // Deltas of 64000 make facing products beyond 2^31.
        {"huge", {{-31000, -31000, DEPTH}, {31000, -31000, DEPTH}, {-31000, 31000, DEPTH}}, true},
        {"huge, counter-clockwise", {{-31000, -31000, DEPTH}, {-31000, 31000, DEPTH}, {31000, -31000, DEPTH}}, false},
        {"a corner behind the viewer", {{100, 100, DEPTH}, {200, 100, 50}, {100, 200, DEPTH}}, false},
        {"a corner at the viewer's depth", {{100, 100, DEPTH}, {200, 100, 0}, {100, 200, DEPTH}}, false},
        {"a corner that projects beyond 16 bits", {{100, 100, DEPTH}, {40000, 100, DEPTH}, {100, 200, DEPTH}}, false},
        {"nearer corners on the same rays", {{100, 100, -10}, {200, 100, DEPTH}, {100, 200, -100}}, true},
    };
    for (const auto &c : cases)
    {
        render_vertex *v[3];
        for (int i = 0; i < 3; ++i) v[i] = vertex_at(c.corners[i].x, c.corners[i].y, c.corners[i].z);
        render_triangle *t = triangle(v[0], v[1], v[2]);
        clip_surface(&view, &t->header);
        EXPECT_EQ(!discarded(t), c.kept) << c.name;
        EXPECT_EQ(surface_word_subtype(t->header.packed), _surface_subtype_object_triangle) << c.name;
        EXPECT_EQ(surface_word_type(t->header.packed), _surface_type_triangle) << c.name;
    }
}

TEST_F(render_clip_test, vertices_project_classify_and_snap)
{
    struct
    {
        const char *name;
        int32_t x, y;
        uint16_t flags;
        bool projected;
        int16_t sx, sy;
        uint16_t out;
    } const cases[] = {
        {"inside", 10, 20, 0, true, 10, 20, 0},
        {"on the top-left corner", 0, 0, 0, true, 0, 0, _vertex_out_left_flag | _vertex_out_top_flag},
        {"at the far edges", 640, 480, 0, true, 640, 480, _vertex_out_right_flag | _vertex_out_bottom_flag},
        {"one short of the far edges", 639, 479, 0, true, 639, 479, 0},
        {"snapped left and top", 3, 4, _vertex_on_left_flag | _vertex_on_top_flag, true, 0, 0, 0},
        {"snapped right and bottom", 600, 470, _vertex_on_right_flag | _vertex_on_bottom_flag, true, 640, 480, 0},
        {"largest 16-bit x", 32767, 10, 0, true, 32767, 10, _vertex_out_right_flag},
        {"one past it", 32768, 10, 0, false, 0, 0, 0},
        {"smallest 16-bit y", 10, -32768, 0, true, 10, -32768, _vertex_out_top_flag},
        {"one below it", 10, -32769, 0, false, 0, 0, 0},
    };
    for (const auto &c : cases)
    {
        render_vertex *v = vertex_at(c.x, c.y, DEPTH, c.flags);
        clip_vertex(&view, v);
        EXPECT_TRUE(v->flags & _vertex_clipped_flag) << c.name;
        EXPECT_TRUE(v->flags & _vertex_screen_transformed_flag) << c.name;
        EXPECT_EQ(!(v->flags & _vertex_discarded_flag), c.projected) << c.name;
        if (!c.projected) continue;
        EXPECT_EQ(v->screen.x, c.sx) << c.name;
        EXPECT_EQ(v->screen.y, c.sy) << c.name;
        EXPECT_EQ(v->flags & _vertex_out_flags, c.out) << c.name;
    }

    // Truncation toward zero: -0.5 pixels is column 0, on the left edge.
    render_vertex *half = vertex_at(0, 100);
    half->p.x = -320 * 2 - 1;
    half->p.z = 2 * DEPTH;
    clip_vertex(&view, half);
    EXPECT_EQ(half->screen.x, 0);
    EXPECT_TRUE(half->flags & _vertex_out_left_flag);
}

TEST_F(render_clip_test, a_shared_vertex_is_projected_once)
{
    render_vertex *shared = vertex_at(200, 200);
    render_triangle *first = triangle(vertex_at(100, 100), vertex_at(300, 100), shared);
    clip_surface(&view, &first->header);
    ASSERT_FALSE(discarded(first));
    EXPECT_EQ(shared->screen.x, 200);

    // A second projection would now see the vertex behind the viewer.
    shared->p.z = 100;
    render_triangle *second = triangle(shared, vertex_at(100, 300), vertex_at(100, 250));
    clip_surface(&view, &second->header);
    EXPECT_FALSE(shared->flags & _vertex_discarded_flag);
    EXPECT_EQ(shared->screen.x, 200);
    EXPECT_EQ(shared->screen.y, 200);
}

TEST_F(render_clip_test, only_live_triangles_are_examined)
{
    render_rectangle rectangle = {};
    rectangle.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_rectangle);
    rectangle.x0 = -500;
    rectangle.x1 = -400;
    clip_surface(&view, &rectangle.header);
    EXPECT_EQ(rectangle.header.packed, pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_rectangle));

    render_vertex *v = vertex_at(100, 100);
    render_triangle *t = triangle(v, vertex_at(200, 100), vertex_at(100, 200), _surface_discarded_flag);
    clip_surface(&view, &t->header);
    EXPECT_EQ(v->flags, 0) << "a discarded triangle's corners are not projected";
}

TEST_F(render_clip_test, degenerate_views_and_vertices_are_refused_safely)
{
    // A builder that marked a vertex discarded before projection: logged, and
    // the triangle goes.
    {
        expected_assertions expect(1, "VERTEX_IS_EXTANT");
        render_triangle *t =
            triangle(vertex_at(100, 100, DEPTH, _vertex_discarded_flag), vertex_at(200, 100), vertex_at(100, 200));
        clip_surface(&view, &t->header);
        EXPECT_TRUE(discarded(t));
    }
    // A view with no usable focal length projects nothing.
    for (const float f : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f})
    {
        view.fworld_to_screen = f;
        render_triangle *t = triangle(vertex_at(100, 100), vertex_at(200, 100), vertex_at(100, 200));
        clip_surface(&view, &t->header);
        EXPECT_TRUE(discarded(t)) << f;
    }
}

} // namespace

} // namespace render_clip_test_file
