// Models and geometry as the renderer draws them: which surfaces of a solid
// are emitted from each side and how their corners run on the screen, faces
// drawn from both sides, the dependency lists' drawing order, the reflection
// pass, geometry the tables cannot hold; and, over real models, each model
// drawn once however many cells it stands on, twice while it cross-fades.

#include "tag_files/store_fixture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "collection_builder.h"
#include "cseries/registration.h"
#include "geometry.h"
#include "mesh.h"
#include "models.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_geometry.h"
#include "render/render_models.h"
#include "render/render_sort.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/objects_world.h"
#include "support/test_mesh.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"

namespace render_models_test_file {

namespace {

const int32_t MAP_CELLS = 16;
const world_point3d MAP_CENTRE = {MAP_CELLS * WORLD_ONE / 2, MAP_CELLS * WORLD_ONE / 2, 0};
const world_vector3d FORWARD = {16384, 0, 0}, UP = {0, 0, 16384}, UNIT_SCALE = {512, 512, 512};

// A geometry built in memory.  Triangles are given counter-clockwise seen
// from their front, the normal follows from that, and the corners are stored
// the other way round, running clockwise on the screen as the renderer draws
// them (the convention of stored geometry).
struct test_geometry
{
    std::vector<geometry_material> materials = {{0, 3, 2, 5}};
    std::vector<world_point3d> vertices;
    std::vector<geometry_surface> surfaces;
    std::vector<int16_t> dependencies;
    geometry_definition definition = {};

    void triangle(int16_t a, int16_t b, int16_t c, uint16_t flags = 0)
    {
        geometry_surface s;
        memset(&s, 0, sizeof(s));
        s.flags = flags;
        s.dependency_table_index = NONE;
        const world_point3d &p = vertices[a], &q = vertices[b], &r = vertices[c];
        const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
        const double vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        s.normal = {(int16_t)(nx * 16384 / length), (int16_t)(ny * 16384 / length), (int16_t)(nz * 16384 / length)};
        s.d = (world_distance)(((int64_t)s.normal.i * p.x + (int64_t)s.normal.j * p.y + (int64_t)s.normal.k * p.z) >>
                               14);
        const int16_t stored[3] = {a, c, b};
        for (int32_t i = 0; i < 3; ++i)
        {
            s.corners[i].vertex_index = stored[i];
            s.corners[i].interpolants[0] = (int16_t)(1000 * i);
            s.corners[i].interpolants[1] = (int16_t)(100 * i);
        }
        surfaces.push_back(s);
    }
    void quad(int16_t a, int16_t b, int16_t c, int16_t d, uint16_t flags = 0)
    {
        triangle(a, b, c, flags);
        triangle(a, c, d, flags);
    }
    geometry_definition *get(void)
    {
        definition.vertex_count = (int16_t)vertices.size();
        definition.surface_count = (int16_t)surfaces.size();
        definition.material_count = (int16_t)materials.size();
        definition.dependency_count = (int16_t)dependencies.size();
        definition.materials = materials.data();
        definition.vertices = vertices.data();
        definition.surfaces = surfaces.data();
        definition.dependency_list = dependencies.empty() ? nullptr : dependencies.data();
        return &definition;
    }
};

// Faces of the cube, two triangles each, in this order.
enum cube_face
{
    _cube_bottom,
    _cube_top,
    _cube_south, // -y
    _cube_north, // +y
    _cube_west,  // -x
    _cube_east,  // +x
};

// A cube of `size` with its base centred on the origin.
test_geometry cube(world_distance size)
{
    test_geometry g;
    const world_distance h = size / 2;
    for (int32_t i = 0; i < 8; ++i) g.vertices.push_back({(i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? size : 0});
    g.quad(0, 2, 3, 1);
    g.quad(4, 5, 7, 6);
    g.quad(0, 1, 5, 4);
    g.quad(2, 6, 7, 3);
    g.quad(0, 4, 6, 2);
    g.quad(1, 3, 7, 5);
    return g;
}

// A square in the plane x = 0 facing +x, 512 wide and high.
test_geometry wall(uint16_t flags)
{
    test_geometry g;
    g.vertices = {{0, -256, 0}, {0, 256, 0}, {0, 256, 512}, {0, -256, 512}};
    g.quad(0, 1, 2, 3, flags);
    return g;
}

std::vector<uint8_t> flat_map_bytes(void)
{
    mesh_header header = test_mesh_header(MAP_CELLS, MAP_CELLS);
    header.media_type = NONE;
    return test_mesh_bytes(header);
}

angle degrees(double d) { return (angle)(int32_t)std::lround(d * 65536.0 / 360.0); }

class render_geometry_test : public ::testing::Test
{
protected:
    view_data view;
    render_surface_list list;
    mesh_region region;
    mesh_span spans[MAP_CELLS];

    void SetUp() override
    {
        static const std::vector<uint8_t> map = flat_map_bytes();
        ASSERT_FALSE(map.empty());
        initialize_mesh();
        ASSERT_TRUE(load_mesh_from_memory(map.data(), (int32_t)map.size()));
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        // The whole map is visible.
        memset(&region, 0, sizeof(region));
        region.original_width = region.original_height = MAP_CELLS;
        region.y0 = 0;
        region.y1 = MAP_CELLS;
        for (mesh_span &span : spans) span = {0, MAP_CELLS};
        region.spans = spans;
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        reset_render_for_tests();
    }

    // A 640 x 480 view from `eye` along (yaw, pitch) in degrees, its list empty.
    void look(world_point3d eye, double yaw, double pitch)
    {
        memset(&view, 0, sizeof(view));
        view.resolution_width = 640;
        view.resolution_height = 480;
        view.half_resolution_width = 320;
        view.half_resolution_height = 240;
        view.tangent_of_half_field_of_view = 0.7f;
        view.location.position = eye;
        view.location.yaw = degrees(yaw);
        view.location.pitch = degrees(pitch);
        update_view_data(&view);
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.region = &region;
    }

    void draw(test_geometry &g, bool reflection = false, fixed_fraction transparency = 0,
              world_point3d origin = MAP_CENTRE)
    {
        render_geometry(&view, &region, 7, g.get(), &origin, &UP, &FORWARD, &UNIT_SCALE, reflection, transparency);
    }

    std::vector<render_model_triangle *> drawn(void)
    {
        std::vector<render_model_triangle *> out;
        for (render_surface *s = list.first_surface; s; s = s->next_surface)
            out.push_back(reinterpret_cast<render_model_triangle *>(s));
        return out;
    }

    static std::set<int32_t> faces_of(const std::vector<render_model_triangle *> &triangles)
    {
        std::set<int32_t> faces;
        for (const render_model_triangle *t : triangles) faces.insert(t->triangle_index);
        return faces;
    }
};

// Clockwise with y downward, as the screen test wants front faces.
int64_t screen_turn(const render_model_triangle *t)
{
    const point2d a = t->corners[0].vertex->screen, b = t->corners[1].vertex->screen, c = t->corners[2].vertex->screen;
    return (int64_t)(b.x - a.x) * (c.y - a.y) - (int64_t)(b.y - a.y) * (c.x - a.x);
}

TEST_F(render_geometry_test, a_cube_emits_exactly_its_front_faces_running_clockwise_on_the_screen)
{
    struct side
    {
        const char *name;
        world_point3d eye;
        double yaw, pitch;
        std::set<int32_t> faces;
    };
    const int32_t x = MAP_CENTRE.x, y = MAP_CENTRE.y;
    const side sides[] = {
        {"east, level", {x + 3000, y, 256}, 180, 0, {_cube_east}},
        {"south, level", {x, y - 3000, 256}, 90, 0, {_cube_south}},
        {"north-east, above", {x + 2000, y + 2000, 2500}, 225, -35, {_cube_east, _cube_north, _cube_top}},
        {"west, high", {x - 2000, y, 4000}, 0, -55, {_cube_west, _cube_top}},
    };
    for (const side &s : sides)
    {
        SCOPED_TRACE(s.name);
        test_geometry g = cube(512);
        look(s.eye, s.yaw, s.pitch);
        draw(g);
        const std::vector<render_model_triangle *> triangles = drawn();
        std::set<int32_t> expected;
        for (int32_t face : s.faces)
        {
            expected.insert(2 * face);
            expected.insert(2 * face + 1);
        }
        EXPECT_EQ(faces_of(triangles), expected);
        EXPECT_EQ(triangles.size(), expected.size());
        for (const render_model_triangle *t : triangles)
        {
            EXPECT_GT(screen_turn(t), 0) << "surface " << t->triangle_index;
            EXPECT_EQ(surface_word_subtype(t->header.packed), _surface_subtype_model_triangle);
            EXPECT_EQ(t->model_index, 7);
            EXPECT_EQ(t->bitmap_identifier, make_bitmap_identifier(3, 5, 2, 0));
            EXPECT_LT(t->header.z, 0);
        }
    }
}

TEST_F(render_geometry_test, corners_are_shared_and_take_their_interpolants_crossed)
{
    test_geometry g = cube(512);
    look({MAP_CENTRE.x + 2000, MAP_CENTRE.y + 2000, 2500}, 225, -35);
    draw(g);
    const std::vector<render_model_triangle *> triangles = drawn();
    ASSERT_EQ(triangles.size(), 6u);
    // Vertex 7 (the top north-east corner) belongs to every visible face: one render vertex.
    std::set<const render_vertex *> sevens;
    for (const render_model_triangle *t : triangles)
        for (int32_t c = 0; c < 3; ++c)
        {
            const render_corner &corner = t->corners[c];
            const geometry_corner &source = g.surfaces[t->triangle_index].corners[c];
            EXPECT_EQ(corner.vertex->mesh_vertex.x, source.vertex_index);
            EXPECT_EQ(corner.interpolants[_texture_u], source.interpolants[1]);
            EXPECT_EQ(corner.interpolants[_texture_v], source.interpolants[0]);
            if (source.vertex_index == 7) sevens.insert(corner.vertex);
        }
    EXPECT_EQ(sevens.size(), 1u);
}

TEST_F(render_geometry_test, a_face_drawn_from_both_sides_turns_its_corners_round_when_seen_from_behind)
{
    test_geometry g = wall(_geometry_surface_no_backface_cull_flag);
    look({MAP_CENTRE.x + 2000, MAP_CENTRE.y, 256}, 180, 0);
    draw(g);
    std::vector<render_model_triangle *> front = drawn();
    ASSERT_EQ(front.size(), 2u);
    for (const render_model_triangle *t : front)
    {
        EXPECT_FALSE(g.surfaces[t->triangle_index].flags & _geometry_surface_negative_flag);
        for (int32_t c = 0; c < 3; ++c)
            EXPECT_EQ(t->corners[c].vertex->mesh_vertex.x, g.surfaces[t->triangle_index].corners[c].vertex_index);
        EXPECT_GT(screen_turn(t), 0);
    }

    look({MAP_CENTRE.x - 2000, MAP_CENTRE.y, 256}, 0, 0);
    draw(g);
    std::vector<render_model_triangle *> back = drawn();
    ASSERT_EQ(back.size(), 2u);
    for (const render_model_triangle *t : back)
    {
        EXPECT_TRUE(g.surfaces[t->triangle_index].flags & _geometry_surface_negative_flag);
        for (int32_t c = 0; c < 3; ++c)
            EXPECT_EQ(t->corners[c].vertex->mesh_vertex.x, g.surfaces[t->triangle_index].corners[2 - c].vertex_index);
        EXPECT_GT(screen_turn(t), 0);
    }

    // A one-sided face is not drawn from behind at all.
    test_geometry plain = wall(0);
    look({MAP_CENTRE.x - 2000, MAP_CENTRE.y, 256}, 0, 0);
    draw(plain);
    EXPECT_TRUE(drawn().empty());
}

TEST_F(render_geometry_test, a_surface_with_a_partner_at_the_same_depth_is_drawn_after_it)
{
    // Both halves of a wall squarely facing the viewer: every corner at one depth.
    test_geometry g = wall(0);
    g.dependencies = {1, NONE};
    g.surfaces[0].dependency_table_index = 0; // surface 0 is drawn after surface 1
    look({MAP_CENTRE.x + 2000, MAP_CENTRE.y, 256}, 180, 0);
    draw(g);
    std::vector<render_model_triangle *> triangles = drawn();
    ASSERT_EQ(triangles.size(), 2u);
    EXPECT_EQ(triangles[0]->triangle_index, 0) << "added in surface order";
    EXPECT_EQ(triangles[0]->header.z, triangles[1]->header.z + 1);

    postprocess_scene(&view, &list);
    // Sorted: first the nearest, which is drawn last.
    EXPECT_EQ(reinterpret_cast<render_model_triangle *>(list.first_surface)->triangle_index, 0);
    EXPECT_EQ(reinterpret_cast<render_model_triangle *>(list.last_surface)->triangle_index, 1);
}

TEST_F(render_geometry_test, depth_is_the_farthest_corner_or_the_nearest_with_the_closest_z_flag_and_its_nudges)
{
    test_geometry g = cube(512);
    g.surfaces[2 * _cube_east].flags = _geometry_surface_uses_closest_z_flag;
    g.surfaces[2 * _cube_east + 1].flags = _geometry_surface_uses_closest_z_flag | _geometry_surface_bit7_flag |
                                            _geometry_surface_under_mesh_flag;
    look({MAP_CENTRE.x + 2000, MAP_CENTRE.y + 150, 256}, 175, 0);
    draw(g);
    const std::vector<render_model_triangle *> triangles = drawn();
    ASSERT_EQ(triangles.size(), 2u);
    for (const render_model_triangle *t : triangles)
    {
        int32_t nearest = INT32_MIN;
        for (const render_corner &c : t->corners) nearest = std::max(nearest, c.vertex->p.z);
        const int32_t nudge = t->triangle_index == 2 * _cube_east ? 0 : 384 + 512;
        EXPECT_EQ(t->header.z, nearest - nudge) << t->triangle_index;
    }
    test_geometry far = cube(512);
    look({MAP_CENTRE.x + 2000, MAP_CENTRE.y + 150, 256}, 175, 0);
    draw(far);
    for (const render_model_triangle *t : drawn())
    {
        int32_t farthest = INT32_MAX;
        for (const render_corner &c : t->corners) farthest = std::min(farthest, c.vertex->p.z);
        EXPECT_EQ(t->header.z, farthest);
    }
}

TEST_F(render_geometry_test, the_reflection_pass_mirrors_marks_and_recolours_and_leaves_out_mirrors)
{
    for (int32_t y = 0; y < MAP_CELLS; ++y)
        for (int32_t x = 0; x < MAP_CELLS; ++x)
        {
            mesh_cell *cell = get_mesh_cell(x, y);
            cell->flags |= _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag;
            cell->media_height = 0;
        }
    test_geometry g = cube(512);
    g.surfaces[2 * _cube_north].flags = _geometry_surface_reflective_flag;
    g.surfaces[2 * _cube_north + 1].flags = _geometry_surface_reflective_flag;
    const world_point3d eye = {MAP_CENTRE.x + 2500, MAP_CENTRE.y + 2500, 1500};

    look(eye, 225, -25);
    draw(g);
    std::vector<render_model_triangle *> direct = drawn();
    EXPECT_EQ(faces_of(direct), (std::set<int32_t>{2 * _cube_east, 2 * _cube_east + 1, 2 * _cube_north,
                                                   2 * _cube_north + 1, 2 * _cube_top, 2 * _cube_top + 1}));
    for (const render_model_triangle *t : direct)
    {
        const bool mirror = t->triangle_index / 2 == _cube_north;
        EXPECT_EQ((bool)(surface_word_flags(t->header.packed) & _surface_media_flag), mirror) << t->triangle_index;
        EXPECT_FALSE(surface_word_flags(t->header.packed) & _surface_reflection_flag);
    }

    look(eye, 225, -25);
    draw(g, true, 30000);
    std::vector<render_model_triangle *> reflected = drawn();
    // Upside down the bottom shows and the top is out of sight; the mirror
    // shows nothing of itself.
    EXPECT_EQ(faces_of(reflected),
              (std::set<int32_t>{2 * _cube_east, 2 * _cube_east + 1, 2 * _cube_bottom, 2 * _cube_bottom + 1}));
    for (const render_model_triangle *t : reflected)
    {
        const uint32_t flags = surface_word_flags(t->header.packed);
        EXPECT_TRUE(flags & _surface_reflection_flag);
        EXPECT_TRUE(flags & _surface_transparent_flag);
        EXPECT_EQ(t->header.transparency, 30000);
        EXPECT_EQ(bitmap_identifier_color_table_permutation(t->bitmap_identifier), 3);
        EXPECT_GT(screen_turn(t), 0);
    }

    // Without media the copy is still drawn, but not in the reflection pass.
    look(eye, 225, -25);
    view.flags |= _render_view_omit_media_flag;
    draw(g, true);
    std::vector<render_model_triangle *> plain = drawn();
    ASSERT_FALSE(plain.empty());
    for (const render_model_triangle *t : plain)
        EXPECT_FALSE(surface_word_flags(t->header.packed) & _surface_reflection_flag);
}

TEST_F(render_geometry_test, surfaces_outside_the_region_or_without_a_texture_are_not_drawn)
{
    test_geometry g = cube(512);
    const world_point3d eye = {MAP_CENTRE.x + 3000, MAP_CENTRE.y, 256};
    // The cube's cells are in no row of the region.
    region.y1 = 4;
    look(eye, 180, 0);
    draw(g);
    EXPECT_TRUE(drawn().empty());
    region.y1 = MAP_CELLS;

    for (geometry_material gap : {geometry_material{0, 3, NONE, 5}, geometry_material{0, 3, 2, NONE}})
    {
        g.materials[0] = gap;
        look(eye, 180, 0);
        draw(g);
        EXPECT_TRUE(drawn().empty());
    }
}

TEST_F(render_geometry_test, geometry_beyond_the_tables_or_with_an_index_out_of_range_is_skipped)
{
    const world_point3d eye = {MAP_CENTRE.x + 3000, MAP_CENTRE.y, 256};
    std::vector<world_point3d> many(MAXIMUM_GEOMETRY_VERTICES + 1, world_point3d{0, 0, 0});
    struct fault
    {
        const char *name;
        void (*spoil)(test_geometry *, std::vector<world_point3d> *);
    };
    const fault faults[] = {
        {"2049 vertices",
         [](test_geometry *g, std::vector<world_point3d> *many) {
             g->get();
             g->definition.vertices = many->data();
             g->definition.vertex_count = MAXIMUM_GEOMETRY_VERTICES + 1;
         }},
        {"513 surfaces", [](test_geometry *g, std::vector<world_point3d> *) {
             g->surfaces.resize(MAXIMUM_GEOMETRY_SURFACES + 1, g->surfaces[0]);
             g->get();
         }},
        {"a corner", [](test_geometry *g, std::vector<world_point3d> *) {
             g->surfaces[3].corners[1].vertex_index = 8;
             g->get();
         }},
        {"a material", [](test_geometry *g, std::vector<world_point3d> *) {
             g->surfaces[5].material_index = 1;
             g->get();
         }},
        {"a dependency run", [](test_geometry *g, std::vector<world_point3d> *) {
             g->dependencies = {1, NONE};
             g->surfaces[0].dependency_table_index = 2;
             g->get();
         }},
        {"a dependency", [](test_geometry *g, std::vector<world_point3d> *) {
             g->dependencies = {12, NONE};
             g->surfaces[0].dependency_table_index = 0;
             g->get();
         }},
        {"an unended run", [](test_geometry *g, std::vector<world_point3d> *) {
             g->dependencies = {1, 2};
             g->surfaces[0].dependency_table_index = 0;
             g->get();
         }},
    };
    for (const fault &f : faults)
    {
        SCOPED_TRACE(f.name);
        test_geometry g = cube(512);
        f.spoil(&g, &many);
        look(eye, 180, 0);
        {
            expected_assertions expect(1);
            const world_point3d origin = MAP_CENTRE;
            render_geometry(&view, &region, 7, &g.definition, &origin, &UP, &FORWARD, &UNIT_SCALE, false, 0);
        }
        EXPECT_TRUE(drawn().empty());
    }
}

// The tower as the data tool writes it: every face seen from outside comes
// out, running clockwise, with the texture upright and whole on each side.
TEST_F(render_geometry_test, the_demo_tower_as_the_tool_writes_it_shows_its_faces_textured_upright)
{
    const std::string tool = data_tool_path();
    std::vector<test_tag> tags;
    if (!std::filesystem::exists(tool) || !make_demo_map_tags(tool, &tags))
        SKIP_OR_FAIL_UNDER_CI("the data tool did not make the demo tags");
    const test_tag *tower = nullptr;
    for (const test_tag &t : tags)
        if (t.group_tag == GEOMETRY_DEFINITION_GROUP_TAG && t.subgroup_tag == FOUR_CHARACTER_CODE('t', 'o', 'w', 'r'))
            tower = &t;
    ASSERT_NE(tower, nullptr);
    ASSERT_GE(tower->data.size(), sizeof(geometry_header));
    // The stored header: four big-endian counts, then the centre.
    const uint8_t *bytes = tower->data.data();
    auto s16 = [&](size_t at) { return (int16_t)((bytes[at] << 8) | bytes[at + 1]); };
    geometry_header header = {};
    header.vertex_count = s16(0);
    header.surface_count = s16(2);
    header.material_count = s16(4);
    header.dependency_count = s16(6);
    geometry_definition geometry = {};
    ASSERT_TRUE(load_geometry_arrays(&header, tower->data.data() + sizeof(header),
                                     (int32_t)(tower->data.size() - sizeof(header)), &geometry));
    for (int32_t m = 0; m < geometry.material_count; ++m)
        geometry.materials[m] = {geometry.materials[m].sequence_index, 3, 2, 5};

    look({MAP_CENTRE.x + 2500, MAP_CENTRE.y - 2500, 2500}, 135, -30);
    const world_point3d origin = MAP_CENTRE;
    render_geometry(&view, &region, 7, &geometry, &origin, &UP, &FORWARD, &UNIT_SCALE, false, 0);
    const std::vector<render_model_triangle *> triangles = drawn();
    // Top, south and east: two triangles each.
    EXPECT_EQ(triangles.size(), 6u);
    for (const render_model_triangle *t : triangles)
    {
        EXPECT_GT(screen_turn(t), 0);
        // The upper corners of a wall take the picture's top row, the lower
        // ones its bottom row.
        if (geometry.surfaces[t->triangle_index].normal.k != 0) continue;
        for (int32_t c = 0; c < 3; ++c)
        {
            const world_distance z = geometry.vertices[t->corners[c].vertex->mesh_vertex.x].z;
            EXPECT_EQ((uint16_t)t->corners[c].interpolants[_texture_v], z == 0 ? 65535 : 0) << t->triangle_index;
        }
    }
    free(geometry.storage);
}

// ---- models ---------------------------------------------------------------------------

const tag TEXTURES = FOUR_CHARACTER_CODE('m', 't', 'e', 'x');

// Two 64 x 64 textures animating one sequence (two ticks a frame), and a
// 48 x 64 picture that cannot texture a model.
std::vector<uint8_t> texture_collection(void)
{
    builder_collection c;
    c.colors.color_count = 4;
    c.bitmaps = {new_builder_bitmap("a", 64, 64, _builder_flat_8bit, 1),
                 new_builder_bitmap("b", 64, 64, _builder_flat_8bit, 2),
                 new_builder_bitmap("odd", 48, 64, _builder_flat_8bit, 3)};
    for (int16_t b = 0; b < 3; ++b) c.instances.push_back(builder_instance(b, 0, 0, 0, 0));
    builder_sequence anim = new_builder_sequence("anim");
    anim.data.number_of_views = 1;
    anim.data.ticks_per_frame = 2;
    anim.frames = {{0}, {1}};
    builder_sequence odd = new_builder_sequence("odd");
    odd.data.number_of_views = 1;
    odd.frames = {{2}};
    for (builder_sequence *sequence : {&anim, &odd})
    {
        EXPECT_EQ(complete_builder_sequence(sequence, &c), nullptr);
        c.sequences.push_back(*sequence);
    }
    return build_collection_tag_data(c);
}

class render_models_test : public store_fixture::store_test
{
protected:
    view_data view;
    render_surface_list list;
    mesh_region region;
    mesh_span spans[MAP_CELLS];
    int32_t model_index = NONE;

    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        const std::vector<uint8_t> collection = texture_collection();
        write_local_tag(COLLECTION_GROUP_TAG, "mtex", COLLECTION_VERSION_NUMBER, collection.data(),
                        (int32_t)collection.size());
        test_geometry box = cube(512);
        int32_t size = 0;
        uint8_t *data = build_geometry_tag_data(box.get(), &size);
        ASSERT_NE(data, nullptr);
        write_local_tag(GEOMETRY_DEFINITION_GROUP_TAG, "cube", GEOMETRY_DEFINITION_VERSION, data, size);
        free(data);
        model_definition model;
        memset(&model, 0, sizeof(model));
        model.geometry_tag = FOUR_CHARACTER_CODE('c', 'u', 'b', 'e');
        model.collection_tag = TEXTURES;
        model.model_permutation_count = 2;
        for (int32_t p = 0; p < MAXIMUM_MODEL_PERMUTATIONS; ++p)
        {
            model.model_permutations[p].collection_tag = NONE;
            model.model_permutations[p].color_table_index = (int16_t)p;
        }
        ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, "cubm", &model, sizeof(model)));
        initialize_shapes_for_new_map();
        ASSERT_NE(get_collection_index(TEXTURES), NONE);

        objects_world_map map;
        map.width = map.height = MAP_CELLS;
        ASSERT_TRUE(load_objects_world(map));
        new_model_data made;
        memset(&made, 0, sizeof(made));
        made.type = (int16_t)try_definition_tag_to_index(&model_definitions, FOUR_CHARACTER_CODE('c', 'u', 'b', 'm'),
                                                         true, 0);
        // On the corner of four cells.
        made.location = {MAP_CENTRE.x, MAP_CENTRE.y, 0};
        model_index = new_model(&made);
        ASSERT_NE(model_index, NONE) << log_text();

        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        memset(&region, 0, sizeof(region));
        region.original_width = region.original_height = MAP_CELLS;
        region.y1 = MAP_CELLS;
        for (mesh_span &span : spans) span = {0, MAP_CELLS};
        region.spans = spans;
        look(0);
    }
    void TearDown() override
    {
        reset_render_for_tests();
        dispose_objects_world();
        dispose_shapes_from_old_map();
        clear_all_registrations();
        store_test::TearDown();
    }

    // From the north-east and above: the east, north and top faces show.
    void look(int32_t tick_count)
    {
        memset(&view, 0, sizeof(view));
        view.resolution_width = 640;
        view.resolution_height = 480;
        view.half_resolution_width = 320;
        view.half_resolution_height = 240;
        view.tangent_of_half_field_of_view = 0.7f;
        view.location.position = {MAP_CENTRE.x + 2000, MAP_CENTRE.y + 2000, 2500};
        view.location.yaw = degrees(225);
        view.location.pitch = degrees(-35);
        view.tick_count = tick_count;
        update_view_data(&view);
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.region = &region;
    }

    std::vector<render_model_triangle *> drawn(void)
    {
        std::vector<render_model_triangle *> out;
        for (render_surface *s = list.first_surface; s; s = s->next_surface)
            out.push_back(reinterpret_cast<render_model_triangle *>(s));
        return out;
    }
    model_data *model(void) { return get_model(model_index); }
    model_definition *definition(void) { return get_model_definition(model()->type); }
    geometry_definition *geometry(void) { return get_geometry_definition(definition()->geometry_index); }
};

TEST_F(render_models_test, a_model_on_four_visible_cells_is_drawn_once)
{
    for (int32_t y = 7; y <= 8; ++y)
        for (int32_t x = 7; x <= 8; ++x) ASSERT_EQ(get_model_index_from_mesh_cell(x, y), model_index);
    build_models_surface_list(&view, &region);
    const std::vector<render_model_triangle *> triangles = drawn();
    EXPECT_EQ(triangles.size(), 6u);
    for (const render_model_triangle *t : triangles) EXPECT_EQ(t->model_index, model_index);
}

TEST_F(render_models_test, a_cross_fading_model_is_drawn_twice_with_both_transparencies)
{
    model()->model_permutation = 0;
    model()->desired_model_permutation = 1;
    model()->transparency = 1000;
    model()->permutation_crossfade_amount = 40000;
    build_models_surface_list(&view, &region);
    int32_t incoming = 0, outgoing = 0;
    for (const render_model_triangle *t : drawn())
    {
        const int32_t table = bitmap_identifier_color_table_index(t->bitmap_identifier);
        if (table == 1 && t->header.transparency == 1000) ++incoming;
        else if (table == 0 && t->header.transparency == 40000) ++outgoing;
        else ADD_FAILURE() << "colour table " << table << ", transparency " << t->header.transparency;
        EXPECT_TRUE(surface_word_flags(t->header.packed) & _surface_transparent_flag);
    }
    EXPECT_EQ(incoming, 6);
    EXPECT_EQ(outgoing, 6);

    // Settled, the model is drawn once, opaque.
    model()->model_permutation = 1;
    model()->transparency = 0;
    look(0);
    build_models_surface_list(&view, &region);
    EXPECT_EQ(drawn().size(), 6u);
    for (const render_model_triangle *t : drawn())
        EXPECT_FALSE(surface_word_flags(t->header.packed) & _surface_transparent_flag);
}

TEST_F(render_models_test, materials_follow_the_permutation_and_the_clock)
{
    const int32_t collection = get_collection_index(TEXTURES);
    geometry_material *material = &geometry()->materials[0];
    // The model's index, the tick and the material's index make the clock;
    // two ticks a frame.
    const int32_t ticks[2] = {0 - model_index, 2 - model_index};
    for (int32_t frame = 0; frame < 2; ++frame)
    {
        look(ticks[frame] + 4 * 1000);
        render_model_permutation(&view, &region, model_index, 2 + 1, 0); // 3 modulo 2 counts
        EXPECT_EQ(material->collection_index, collection);
        EXPECT_EQ(material->color_table_index, 1);
        EXPECT_EQ(material->bitmap_index, frame);
        ASSERT_EQ(drawn().size(), 6u);
        EXPECT_EQ(drawn()[0]->bitmap_identifier, make_bitmap_identifier(collection, frame, 1, 0));
    }

    // Nothing is drawn of a material hidden by its view byte, of a picture
    // that is no power-of-two texture, or of a material without a sequence.
    definition()->model_permutations[0].permutations[0] = 255;
    look(0);
    render_model_permutation(&view, &region, model_index, 0, 0);
    EXPECT_EQ(material->bitmap_index, NONE);
    EXPECT_TRUE(drawn().empty());
    definition()->model_permutations[0].permutations[0] = 0;
    material->sequence_index = 1;
    look(0);
    render_model_permutation(&view, &region, model_index, 0, 0);
    EXPECT_EQ(material->bitmap_index, NONE);
    EXPECT_TRUE(drawn().empty());
    material->sequence_index = NONE;
    look(0);
    render_model_permutation(&view, &region, model_index, 0, 0);
    EXPECT_EQ(material->color_table_index, NONE);
    EXPECT_TRUE(drawn().empty());
}

TEST_F(render_models_test, a_reflecting_model_is_drawn_again_in_the_reflection_pass)
{
    model()->flags |= _model_has_reflection_flag;
    model()->transparency = 1000;
    build_models_surface_list(&view, &region);
    int32_t direct = 0, reflected = 0;
    for (const render_model_triangle *t : drawn())
    {
        if (surface_word_flags(t->header.packed) & _surface_reflection_flag)
        {
            ++reflected;
            // The map's media lets everything show: 1 - (1 - 0)(1 - t), in
            // 16-bit fractions.
            EXPECT_EQ(t->header.transparency, 1001);
            EXPECT_EQ(bitmap_identifier_color_table_permutation(t->bitmap_identifier), 3);
        }
        else
        {
            ++direct;
            EXPECT_EQ(t->header.transparency, 1000);
        }
    }
    EXPECT_EQ(direct, 6);
    EXPECT_GT(reflected, 0);

    look(0);
    view.flags |= _render_view_omit_reflections_flag;
    build_models_surface_list(&view, &region);
    EXPECT_EQ(drawn().size(), 6u);
}

TEST_F(render_models_test, a_definition_without_permutations_is_skipped_with_a_log_line)
{
    definition()->model_permutation_count = 0;
    {
        expected_assertions expect(1, "permutations");
        build_models_surface_list(&view, &region);
    }
    EXPECT_TRUE(drawn().empty());
}

// A model's shadow stamps, row by row, the texels whose centres lie in each
// flattened triangle (either winding, edges included): the row's interval
// against that rule texel by texel, on ordinary, edge-on and point-like
// triangles, corners on centres, and a seeded batch of random ones.
TEST(model_shadow_rows, each_row_holds_exactly_the_texels_whose_centres_lie_in_the_triangle)
{
    std::vector<std::array<world_point2d, 3>> triangles = {
        {{{0, 0}, {640, 0}, {0, 640}}},      {{{0, 0}, {0, 640}, {640, 0}}},     {{{32, 32}, {608, 96}, {96, 608}}},
        {{{-300, 40}, {900, 40}, {300, 41}}}, {{{10, 10}, {330, 650}, {170, 330}}}, {{{96, 96}, {96, 96}, {96, 96}}},
        {{{96, -500}, {96, 700}, {96, 100}}}, {{{-1000, -700}, {1200, 300}, {-50, 900}}}};
    uint32_t seed = 99;
    const auto next = [&seed] { return (int32_t)(((seed = seed * 1103515245u + 12345u) >> 8) % 1800u) - 900; };
    for (int32_t i = 0; i < 300; ++i) triangles.push_back({{{next(), next()}, {next(), next()}, {next(), next()}}});
    for (const std::array<world_point2d, 3> &t : triangles)
        for (int64_t y = -992; y < 1024; y += 64)
        {
            int32_t first = 0, last = 31; // texel tx's centre is at (-992 + 64 tx, y)
            const bool any = model_shadow_row_texels(-992, y, t[0], t[1], t[2], &first, &last);
            for (int32_t tx = 0; tx <= 31; ++tx)
            {
                int32_t positive = 0, negative = 0;
                for (int32_t k = 0; k < 3; ++k)
                {
                    const world_point2d &a = t[k], &b = t[(k + 1) % 3];
                    const int64_t x = -992 + 64 * tx;
                    const int64_t edge = (int64_t)(b.x - a.x) * (y - a.y) - (int64_t)(b.y - a.y) * (x - a.x);
                    positive += edge >= 0;
                    negative += edge <= 0;
                }
                ASSERT_EQ(any && tx >= first && tx <= last, positive == 3 || negative == 3) << tx << ", " << y;
            }
        }
}

} // namespace

} // namespace render_models_test_file
