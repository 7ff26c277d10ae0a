// The bitmap surface builders: the corners and texture of streaks along each
// axis, about the bitmap's centre and scaled; the 64-bit normalisation of a
// long direction; the zero direction the screen test throws away; the
// reflected streak; a quad's two triangles; a particle rectangle's flags.
// The view looks along -z with no turn, so a viewer-space point at depth
// -1000 lands at (320 + x, 240 - y).

#include "support/expected_assertions.h"

#include <array>
#include <deque>

#include "render/bitmap_surfaces.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "shapes.h"

namespace bitmap_surfaces_test_file {

namespace {

const int16_t NEAR = 64, FAR = (int16_t)(uint16_t)65472;

class bitmap_surfaces_test : public ::testing::Test
{
protected:
    view_data view = {};
    render_surface_list list;
    bitmap_instance_data instance = {};
    build_bitmap_triangles_data data = {};
    const world_point3d position = {0, 0, -1000};

    void SetUp() override
    {
        new_render_scene(0);
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.screen_width = 640;
        view.screen_height = 480;
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 1000.0f;
        for (int32_t i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
        instance.world_left = -8;
        instance.world_right = 8;
        instance.world_top = 12;
        instance.world_bottom = -4;
        instance.bitmap_index = 5;
        data.collection_index = 7;
        data.color_table_index = 2;
        data.transparency = 1000;
        data.horizontal_scale = 256;
        data.vertical_scale = 256;
    }

    // The streak's corners P1..P4 (triangle 1 is P1, P4, P3; triangle 2 is
    // P3, P2, P1), viewer space.
    std::array<world_point3d, 4> streak(world_vector3d direction, render_triangle *out[2] = nullptr)
    {
        render_triangle *t[2] = {};
        build_extended_bitmap_surface_triangles(&instance, &position, &direction, &view, t, &data);
        if (out)
        {
            out[0] = t[0];
            out[1] = t[1];
        }
        return {t[0]->corners[0].vertex->p, t[1]->corners[1].vertex->p, t[0]->corners[2].vertex->p,
                t[0]->corners[1].vertex->p};
    }
};

bool same(const world_point3d &a, const world_point3d &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

#define EXPECT_POINT(actual, x_, y_, z_)                                                                           \
    EXPECT_TRUE(same(actual, world_point3d{x_, y_, z_}))                                                           \
        << #actual << " = (" << (actual).x << ", " << (actual).y << ", " << (actual).z << ")"

TEST_F(bitmap_surfaces_test, streaks_along_each_axis_reach_back_by_the_direction_and_span_the_bitmap)
{
    // Along x: back is -x, the side axis is +y; top 12, bottom -4.
    data.overlap_amount = 20;
    render_triangle *t[2];
    auto p = streak({100, 0, 0}, t);
    EXPECT_POINT(p[0], -120, 12, -1000);
    EXPECT_POINT(p[1], -120, -4, -1000);
    EXPECT_POINT(p[2], 0, -4, -1000);
    EXPECT_POINT(p[3], 0, 12, -1000);
    EXPECT_EQ(t[1]->corners[0].vertex, t[0]->corners[2].vertex) << "the triangles share P3 and P1";
    EXPECT_EQ(t[1]->corners[2].vertex, t[0]->corners[0].vertex);

    // Along y: back is -y, the side axis is -x.
    data.overlap_amount = 0;
    p = streak({0, 50, 0});
    EXPECT_POINT(p[0], -12, -50, -1000);
    EXPECT_POINT(p[1], 4, -50, -1000);
    EXPECT_POINT(p[2], 4, 0, -1000);
    EXPECT_POINT(p[3], -12, 0, -1000);

    // Along z: only the depth moves, and the side axis vanishes.
    p = streak({0, 0, -30});
    EXPECT_POINT(p[0], 0, 0, -970);
    EXPECT_POINT(p[2], 0, 0, -1000);

    // About the bitmap's centre, twice as wide: from the left extent to the right one.
    data.flags = _orient_about_bitmap_center_flag;
    data.horizontal_scale = 512;
    data.vertical_scale = 128;
    p = streak({100, 0, 0});
    EXPECT_POINT(p[0], -16, 6, -1000);
    EXPECT_POINT(p[1], -16, -2, -1000);
    EXPECT_POINT(p[2], 16, -2, -1000);
    EXPECT_POINT(p[3], 16, 6, -1000);
}

TEST_F(bitmap_surfaces_test, streak_texture_and_surface_fields)
{
    render_triangle *t[2];
    streak({100, 0, 0}, t);
    const int16_t uv[2][3][2] = {{{FAR, NEAR}, {NEAR, NEAR}, {NEAR, FAR}}, {{NEAR, FAR}, {FAR, FAR}, {FAR, NEAR}}};
    for (int32_t i = 0; i < 2; ++i)
    {
        for (int32_t c = 0; c < 3; ++c)
        {
            EXPECT_EQ(t[i]->corners[c].interpolants[_texture_u], uv[i][c][0]) << i << c;
            EXPECT_EQ(t[i]->corners[c].interpolants[_texture_v], uv[i][c][1]) << i << c;
        }
        EXPECT_EQ(surface_word_flags(t[i]->header.packed), (uint32_t)_surface_transparent_flag);
        EXPECT_EQ(surface_word_subtype(t[i]->header.packed), _surface_subtype_object_triangle);
        EXPECT_EQ(t[i]->header.z, -1000);
        EXPECT_EQ(t[i]->header.transparency, 1000);
        EXPECT_EQ(t[i]->bitmap_identifier, make_bitmap_identifier(7, 5, 2, 0));
    }
    EXPECT_EQ(list.surface_count, 2) << "a streak facing the viewer passes the screen test";
}

TEST_F(bitmap_surfaces_test, a_long_direction_is_normalised_without_overflow)
{
    // Its squared length is past 2^31: a 32-bit normalisation would wrap.
    // The streak reaches back by the direction itself, to within rounding.
    const auto p = streak({32000, -32000, 32000});
    EXPECT_NEAR(p[3].x - p[0].x, 32000, 2);
    EXPECT_NEAR(p[3].y - p[0].y, -32000, 2);
    EXPECT_NEAR(p[2].z - p[0].z, 32000, 2);
}

TEST_F(bitmap_surfaces_test, a_zero_direction_is_discarded_by_the_screen_test)
{
    render_triangle *t[2];
    const auto p = streak({0, 0, 0}, t);
    for (const world_point3d &corner : p) EXPECT_POINT(corner, 0, 0, -1000);
    EXPECT_EQ(list.surface_count, 0);
    EXPECT_TRUE(surface_word_flags(t[0]->header.packed) & _surface_discarded_flag);
    EXPECT_TRUE(surface_word_flags(t[1]->header.packed) & _surface_discarded_flag);
}

TEST_F(bitmap_surfaces_test, the_reflected_streak_is_flipped_mirrored_and_drawn_in_the_reflection_pass)
{
    data.flags = _is_reflection_flag;
    render_triangle *t[2];
    // Top and bottom are negated and exchanged (4, -12), the direction's z negated.
    auto p = streak({100, 0, 0}, t);
    EXPECT_POINT(p[0], -100, 4, -1000);
    EXPECT_POINT(p[1], -100, -12, -1000);
    for (render_triangle *triangle : t)
    {
        EXPECT_EQ(surface_word_flags(triangle->header.packed), 76u);
        EXPECT_EQ(bitmap_identifier_color_table_permutation(triangle->bitmap_identifier), 3);
    }
    p = streak({0, 0, -30});
    EXPECT_POINT(p[0], 0, 0, -1030);
}

TEST_F(bitmap_surfaces_test, a_quad_becomes_two_triangles_over_its_corners)
{
    // Corners in order: left top, left bottom, right bottom, right top on the
    // screen, which makes both triangles run clockwise.
    std::deque<render_vertex> vertices;
    const world_point3d corners[4] = {{-50, 50, -1000}, {-50, -50, -1000}, {50, -50, -1000}, {50, 50, -1000}};
    quad_triangle_data quad = {};
    for (int32_t i = 0; i < 4; ++i)
    {
        vertices.push_back({});
        vertices.back().p = corners[i];
        quad.vertices[i] = &vertices.back();
    }
    quad.flags = 0xFFFF0000u | _surface_transparent_flag | _surface_filtered_flag;
    quad.collection_index = 3;
    quad.color_table_index = 1;
    quad.transparency = 4096;
    quad.bitmap_instance = &instance;
    quad.surface_z = -999;
    render_triangle *t[2];
    quad_into_triangles(&view, &quad, t);
    const int32_t order[2][3] = {{0, 3, 2}, {2, 1, 0}};
    for (int32_t i = 0; i < 2; ++i)
    {
        for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(t[i]->corners[c].vertex, quad.vertices[order[i][c]]) << i << c;
        EXPECT_EQ(surface_word_flags(t[i]->header.packed), (uint32_t)(_surface_transparent_flag | _surface_filtered_flag))
            << "only the low 11 bits become surface flags";
        EXPECT_EQ(t[i]->header.z, -999);
        EXPECT_EQ(t[i]->bitmap_identifier, make_bitmap_identifier(3, 5, 1, 0));
    }
    EXPECT_EQ(t[0]->corners[0].interpolants[_texture_u], FAR);
    EXPECT_EQ(t[1]->corners[1].interpolants[_texture_v], FAR);
    EXPECT_EQ(list.surface_count, 2);

    quad.is_reflection = true;
    quad_into_triangles(&view, &quad, t);
    EXPECT_EQ(bitmap_identifier_color_table_permutation(t[0]->bitmap_identifier), 3);
}

TEST_F(bitmap_surfaces_test, particle_rectangles_take_mirroring_and_transparency_from_the_instance)
{
    const rectangle2d_32 viewer = {-10, 10, 10, -10};
    struct
    {
        uint32_t instance_flags;
        fixed_fraction transparency;
        uint32_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1, _surface_transparent_flag},
        {_bitmap_instance_transparent_flag, 0, 0x88},
        {_bitmap_instance_mirror_horizontal_flag | _bitmap_instance_mirror_vertical_flag, 0,
         _surface_mirror_horizontal_flag | _surface_mirror_vertical_flag},
    };
    for (const auto &c : cases)
    {
        instance.flags = c.instance_flags;
        const world_point3d at = {5, -7, -800};
        render_rectangle *r =
            build_bitmap_surface_rectangle(&instance, &view, 4, 1, c.transparency, &at, &viewer, 10, 20, 30, 45);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(surface_word_flags(r->header.packed), c.expected) << c.instance_flags;
        EXPECT_EQ(surface_word_subtype(r->header.packed), _surface_subtype_object_rectangle);
        EXPECT_EQ(r->header.z, -800);
        EXPECT_EQ(r->header.obj_view_y, -7);
        EXPECT_EQ(r->x0, 10);
        EXPECT_EQ(r->x1, 20);
        EXPECT_EQ(r->y0, 30);
        EXPECT_EQ(r->y1, 45);
        EXPECT_EQ(r->object_index, -1);
        EXPECT_EQ(r->bitmap_identifier, make_bitmap_identifier(4, 5, 1, 0));
    }
    EXPECT_EQ(list.surface_count, 4);
}

} // namespace

} // namespace bitmap_surfaces_test_file

// The test programs compile their files together: this file's macros end here.
#undef EXPECT_POINT
