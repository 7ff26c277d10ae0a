// Picking over a hand-built last frame: three sprites, one model triangle and
// two terrain triangles, nearest first.  Exact hits win in list order, a
// sprite hit only within the slop waits as a candidate, bands return each
// object once, terrain picks give the world point under the pointer, and
// degenerate surfaces are skipped.

#include "support/expected_assertions.h"
#include "support/monster_test_world.h"

#include "pick.h"
#include "synthetic_frame.h"

namespace pick_test_file {

namespace {

class pick_test : public monster_test_world
{
protected:
    synthetic_frame frame;
    int32_t a = NONE, b = NONE, c = NONE;

    void SetUp() override
    {
        monster_test_world::SetUp();
        start_world(16, 16);
        a = sprite_object({3584, 4096});
        b = sprite_object({4608, 4096});
        c = sprite_object({4096, 4608});
    }
    void TearDown() override
    {
        install_test_render_frame(nullptr, nullptr);
        monster_test_world::TearDown();
    }
    int32_t sprite_object(world_point2d at)
    {
        const int32_t unit_index = make_unit(0, at);
        object_data *object = body(unit_index);
        object->radius = 64;
        object->height0 = 0;
        object->height1 = 128;
        object->flags |= _object_is_solid_flag;
        return unit(unit_index)->object_index;
    }
    void build_standard_frame(void)
    {
        frame.object_rectangle(a);
        frame.object_rectangle(b);
        frame.object_rectangle(c);
        const world_point3d roof[3] = {{5120, 5120, 300}, {5632, 5120, 300}, {5120, 5632, 300}};
        frame.model_triangle(roof, 7, 3);
        frame.mesh_triangle({5, 5}, {11, 5}, {5, 11});
        frame.mesh_triangle({11, 5}, {11, 11}, {5, 11});
        frame.link_and_install();
    }
};

TEST_F(pick_test, a_click_beside_a_sprite_is_sloppy_unless_an_exact_hit_comes_first)
{
    build_standard_frame();
    // a's sprite spans x 248..264, y 224..240; 10 pixels to its right lies terrain.
    pick_state state;
    new_pick_by_point_state(&state, {274, 232}, 428);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_objects_flag) << "the earlier sloppy sprite beats the later terrain";
    EXPECT_EQ(state.object_index, a);
    EXPECT_TRUE(state.sloppy_object_pick);
    EXPECT_EQ(pick(&state), (uint32_t)_pick_mesh_triangles_flag) << "then the terrain it gave way to";

    new_pick_by_point_state(&state, {274, 232}, _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u) << "without slop nothing is near enough";

    new_pick_by_point_state(&state, {256, 232}, 428);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_objects_flag);
    EXPECT_EQ(state.object_index, a);
    EXPECT_FALSE(state.sloppy_object_pick) << "inside the sprite is exact";

    // An exact hit later in the list wins over an earlier sloppy candidate;
    // among candidates the smallest overshoot wins.
    synthetic_frame second;
    second.object_rectangle(a);
    second.object_rectangle(b);
    second.link_and_install();
    new_pick_by_point_state(&state, {378, 232}, _pick_with_slop_flag | _pick_objects_flag);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_objects_flag);
    EXPECT_EQ(state.object_index, b);
    EXPECT_FALSE(state.sloppy_object_pick);
    new_pick_by_point_state(&state, {320, 232}, _pick_with_slop_flag | _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u) << "56 pixels from both";
    new_pick_by_point_state(&state, {271, 232}, _pick_with_slop_flag | _pick_objects_flag);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_objects_flag);
    EXPECT_EQ(state.object_index, a);
    EXPECT_TRUE(state.sloppy_object_pick);
    EXPECT_EQ(pick(&state), 0u);
}

TEST_F(pick_test, bands_return_each_object_once_and_never_one_they_only_touch)
{
    build_standard_frame();
    pick_state state;
    const rectangle2d touching = {200, 100, 300, 248}; // right edge on a's left edge
    new_pick_by_rectangle_state(&state, &touching, _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u);

    const rectangle2d all = {-100, -100, 1000, 1000};
    new_pick_by_rectangle_state(&state, &all, _pick_objects_flag);
    EXPECT_EQ(state.rectangle.right, 640) << "clipped to the screen";
    std::vector<int32_t> found;
    while (pick(&state)) found.push_back(state.object_index);
    EXPECT_EQ(found, (std::vector<int32_t>{a, b, c}));
    EXPECT_EQ(pick(&state), 0u) << "and nothing after the end";

    const rectangle2d off_screen = {500, 700, 600, 800};
    new_pick_by_rectangle_state(&state, &off_screen, _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u);
    const rectangle2d inverted = {300, 300, 200, 200};
    new_pick_by_rectangle_state(&state, &inverted, _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u);
}

TEST_F(pick_test, terrain_and_model_picks_give_the_world_point_under_the_pointer)
{
    build_standard_frame();
    pick_state state;
    new_pick_by_point_state(&state, {200, 300}, _pick_mesh_triangles_flag);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_mesh_triangles_flag);
    // (320 - 120 * 8 ... ): x = 4096 + (200 - 320) * 8, y = 4096 - (300 - 240) * 8
    EXPECT_EQ(state.mesh_location.x, 3136);
    EXPECT_EQ(state.mesh_location.y, 3616);
    EXPECT_EQ(pick(&state), 0u) << "one triangle under a point";

    new_pick_by_point_state(&state, {450, 110}, _pick_mesh_triangles_flag); // the second triangle
    ASSERT_EQ(pick(&state), (uint32_t)_pick_mesh_triangles_flag);
    EXPECT_EQ(state.mesh_location.x, 5136);
    EXPECT_EQ(state.mesh_location.y, 5136);

    // The model triangle: screen (448..512, 48..112).
    new_pick_by_point_state(&state, {464, 100}, _pick_triangle_flags);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_model_triangles_flag);
    EXPECT_EQ(state.model_index, 7);
    EXPECT_EQ(state.model_triangle_index, 3);
    EXPECT_EQ(state.model_location.x, 4096 + 144 * 8);
    EXPECT_EQ(state.model_location.y, 4096 + 140 * 8);
    EXPECT_EQ(state.model_location.z, 300);

    {
        expected_assertions expect(1, "_pick_triangle_flags");
        const rectangle2d band = {0, 0, 100, 100};
        new_pick_by_rectangle_state(&state, &band, _pick_mesh_triangles_flag);
        EXPECT_EQ(pick(&state), 0u) << "triangles cannot be picked by rectangle";
    }
    {
        expected_assertions expect(1);
        state.flags |= _pick_by_point_flag;
        EXPECT_EQ(pick(&state), 0u) << "a point and a rectangle at once";
    }
}

TEST_F(pick_test, vertex_picks_walk_vertex_by_vertex)
{
    frame.mesh_triangle({5, 5}, {11, 5}, {5, 11});
    frame.mesh_triangle({11, 5}, {11, 11}, {5, 11});
    frame.link_and_install();
    // Cells (5, 5) and (11, 5) lie at screen (128, 432) and (512, 432).
    const rectangle2d band = {400, 100, 440, 600};
    pick_state state;
    new_pick_by_rectangle_state(&state, &band, _pick_mesh_vertices_flag);
    std::vector<std::pair<int, int>> cells;
    while (pick(&state)) cells.push_back({state.mesh_vertex.x, state.mesh_vertex.y});
    EXPECT_EQ(cells, (std::vector<std::pair<int, int>>{{5, 5}, {11, 5}, {11, 5}}));

    new_pick_by_point_state(&state, {130, 429}, _pick_mesh_vertices_flag);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_mesh_vertices_flag);
    EXPECT_EQ(state.mesh_vertex.x, 5);
    {
        expected_assertions expect(1, "VERTICES_PER_TRIANGLE");
        state.surface_vertex_index = 9;
        EXPECT_FALSE(pick_vertex(frame.order[0], &state));
        EXPECT_EQ(state.surface_vertex_index, 0);
    }
}

TEST_F(pick_test, degenerate_surfaces_missing_objects_and_missing_frames_are_skipped)
{
    pick_state state;
    new_pick_by_point_state(&state, {200, 300}, 428);
    EXPECT_EQ(pick(&state), 0u) << "no frame drawn yet";

    // A triangle of no area right on the pointer, a sprite whose object is
    // gone, one behind the eye, then the real terrain.
    frame.mesh_triangle_on_screen({200, 300}, {200, 300}, {200, 300});
    frame.mesh_triangle_on_screen({100, 300}, {200, 300}, {300, 300});
    render_surface *ghost = frame.object_rectangle(a);
    ((render_rectangle *)ghost)->x0 = 190, ((render_rectangle *)ghost)->x1 = 210;
    ((render_rectangle *)ghost)->y0 = 290, ((render_rectangle *)ghost)->y1 = 310;
    ((render_rectangle *)ghost)->object_index = 2000;
    get_object(b)->location.position.z = 5000;
    render_surface *behind = frame.object_rectangle(a);
    ((render_rectangle *)behind)->object_index = (int16_t)b;
    ((render_rectangle *)behind)->x0 = 190, ((render_rectangle *)behind)->x1 = 210;
    ((render_rectangle *)behind)->y0 = 290, ((render_rectangle *)behind)->y1 = 310;
    frame.mesh_triangle({5, 5}, {11, 5}, {5, 11});
    frame.link_and_install();
    new_pick_by_point_state(&state, {200, 300}, 428);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_mesh_triangles_flag);
    EXPECT_EQ(state.mesh_location.x, 3136);

    // A discarded sprite is not seen; an empty list finds nothing.
    synthetic_frame discarded;
    render_surface *s = discarded.object_rectangle(a);
    s->packed = pack_surface_word(_surface_discarded_flag, _surface_type_rectangle, _surface_subtype_object_rectangle);
    discarded.link_and_install();
    new_pick_by_point_state(&state, {256, 232}, _pick_objects_flag);
    EXPECT_EQ(pick(&state), 0u);
    synthetic_frame empty;
    empty.link_and_install();
    new_pick_by_point_state(&state, {-50, 9000}, _pick_objects_flag);
    EXPECT_EQ(state.point.x, 0);
    EXPECT_EQ(state.point.y, 480);
    EXPECT_EQ(pick(&state), 0u);
}

} // namespace

} // namespace pick_test_file
