// The terrain through OpenGL on Mesa's software driver in an Xvfb of the
// test's own: the colour map brought up to date tile by tile, chunk by chunk
// or whole, read back texel by texel against the builders; the multipass keys;
// which triangles each path draws, caught at the draw; and the shader and
// fixed-function detail layers against each other on real pixels.

#define GL_GLEXT_PROTOTYPES 1
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tag_files/collection_procedures.h"
#include "support/demo_data.h"
#include "support/demo_render_fixture.h"
#include "support/test_mesh.h"
#include "support/gl_pattern_display.h"
#include "support/x_server.h"

#include "bitmaps.h"
#include "cseries/registration.h"
#include "detail_maps.h"
#include "gl_pattern.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_terrain.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "iniparser3.0b/inifile.h"
#include "mesh.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "render_harness.h"
#include "screen.h"
#include "screen_preferences.h"

namespace opengl_terrain_test_file {


namespace {

const int32_t kSize = 128; // the window, square
const uint32_t kBlend = 1u << 30;

uint32_t detail_indexes(uint32_t first, uint32_t second, uint32_t third)
{
    return first << 9 | second << 16 | third << 23;
}
uint32_t detail_weights(uint32_t first, uint32_t second, uint32_t third) { return first | second << 3 | third << 6; }

// ---- the multipass keys ----------------------------------------------------------------

TEST(opengl_terrain_keys, a_triangle_gets_its_base_key_and_its_leading_layers_only)
{
    struct row
    {
        const char *what;
        uint32_t detail, triangle;
        std::vector<uint32_t> keys;
    };
    const row rows[] = {
        {"neither base nor layer", 0, 7, {}},
        {"weights without indexes", detail_weights(7, 7, 7), 7, {}},
        {"the plain base", kBlend, 7, {0x00000700}},
        {"layer 2 without layer 1 draws no layer", kBlend | detail_indexes(0, 5, 9) | detail_weights(7, 7, 7), 7,
         {0x00000700}},
        {"two layers without the base", detail_indexes(3, 5, 0) | detail_weights(3, 4, 0), 9,
         {0x03000901, 0x05000902}},
        {"everything at the last triangle number", kBlend | detail_indexes(127, 1, 2), 65535,
         {0x00FFFF00, 0x7FFFFF01, 0x01FFFF02, 0x02FFFF03}},
    };
    for (const row &r : rows)
    {
        uint32_t keys[MULTIPASS_MAXIMUM_KEYS_PER_TRIANGLE] = {};
        const int32_t count = build_multipass_triangle_keys(r.detail, r.triangle, keys);
        EXPECT_EQ(std::vector<uint32_t>(keys, keys + count), r.keys) << r.what;
    }
}

// ---- the display ---------------------------------------------------------------------------

// The landscape of the test map: every submesh's colour and shadow bitmaps
// are seeded random bytes.
uint8_t *random_landscape_bitmap(int32_t bitmap_index)
{
    static std::vector<uint8_t> bitmaps[32];
    if (bitmap_index < 0 || bitmap_index >= 32) return nullptr;
    std::vector<uint8_t> &bitmap = bitmaps[bitmap_index];
    if (bitmap.empty())
    {
        uint32_t seed = 1234567u * (uint32_t)(bitmap_index + 1);
        bitmap.resize(256 * 256);
        for (uint8_t &texel : bitmap) texel = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
    }
    return bitmap.data();
}

const ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new gl_pattern_environment("640x480x24", kSize, kSize, _screen_pref_32bit_flag | _screen_pref_landscape_textures_flag));

// ---- terrain triangles ------------------------------------------------------------------------

// A category of mesh triangles owned by the test, surface category 1
// pointing at them.  Corners are indexes into `vertices`.
struct test_terrain
{
    std::vector<render_vertex> vertices;
    std::vector<render_triangle> triangles;
    std::vector<render_surface *> surfaces;

    void add(uint32_t detail, int32_t a, int32_t b, int32_t c)
    {
        render_triangle triangle = {};
        triangle.header.packed = pack_surface_word(0, _surface_type_triangle, _surface_subtype_mesh_triangle);
        triangle.corners[0].vertex = &vertices[(size_t)a];
        triangle.corners[1].vertex = &vertices[(size_t)b];
        triangle.corners[2].vertex = &vertices[(size_t)c];
        triangle.detail = detail;
        triangles.push_back(triangle);
    }
    void install(void)
    {
        for (render_triangle &triangle : triangles) surfaces.push_back(&triangle.header);
        surface_category &mesh = surface_categories[_surface_category_mesh];
        mesh.surfaces = surfaces.data();
        mesh.count = (uint32_t)surfaces.size();
        mesh.sorted = false;
    }
};

// A 2 x 2 texture of one colour, repeated (a detail texture); its name is
// also kept in `names` for deletion.
uint32_t solid_texture(uint32_t argb, std::vector<uint32_t> *names)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    names->push_back(name);
    bind_texture_unit_for_update_opengl(0, (int32_t)name);
    const uint32_t texels[4] = {argb, argb, argb, argb};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return name;
}

// Every draw, as the back end issued it.
struct captured_draw
{
    opengl_draw_state state;
    std::vector<rendervert_t> vertices;
};
std::vector<captured_draw> captured;
void capture(uint32_t, const rendervert_t *vertices, int32_t count, const opengl_draw_state *state)
{
    captured.push_back({*state, std::vector<rendervert_t>(vertices, vertices + count)});
}

// ---- the fixture ----------------------------------------------------------------------------------

#define REQUIRE_GL()                                                                                             \
    do {                                                                                                         \
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);                   \
    } while (0)

class opengl_terrain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_GL();
        // The random landscape in place of a collection's (the demo map registers its own).
        clear_all_registrations();
        static const collection_procedures landscape = {.landscape_bitmap = random_landscape_bitmap};
        ASSERT_TRUE(register_collection_procedures(&landscape));
        initialize_scene(); // the volatile maps
        initialize_mesh();
        mesh_header header = test_mesh_header(64, 64);
        header.landscape_collection_tag = NONE;
        ASSERT_TRUE(load_test_mesh(header));
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 22));
    }
    void TearDown() override
    {
        if (!display().started) return;
        set_vertex_capture_procedure(nullptr);
        captured.clear();
        set_mesh_detail_layers_override(nullptr);
        surface_categories[_surface_category_mesh].surfaces = nullptr;
        surface_categories[_surface_category_mesh].count = 0;
        for (uint32_t name : textures) glDeleteTextures(1, &name);
        dispose_opengl_rasterizer_from_old_map();
        dispose_poweruser_settings();
        dispose_mesh_from_old_map();
        clear_all_registrations();
    }

    // A map start of the rasterizer under the settings of `ini`, with
    // conversion tables whose every entry differs.
    void start(const char *ini)
    {
        dispose_opengl_rasterizer_from_old_map();
        dispose_poweruser_settings();
        if (*ini) { ASSERT_TRUE(load_poweruser_settings_from_buffer(ini, strlen(ini))); }
        ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
        initialize_opengl_mesh_parameters_for_new_map();
        for (int32_t i = 0; i < SHADING_TABLES16 * 256; ++i) terrain_maps_globals.shade16[i] = (uint16_t)(i * 7 + 1);
        for (int32_t i = 0; i < SHADING_TABLES32 * 256; ++i)
            terrain_maps_globals.shade32[i] = (uint32_t)i * 2654435761u | 1;
        const preallocated_texture *cmap = volatile_cmap_texture_opengl();
        ASSERT_TRUE(cmap && cmap->user_data);
        cmap_name = gl_handle_to_name(cmap->user_data);
        ASSERT_EQ(volatile_cmap_texture_mode(), _cmap_texture_mode_32bit) << "32-bit, no lightmap blending";
    }

    // The colour map's texels (or another map's of its size) as 0xAARRGGBB, row by row.
    std::vector<uint32_t> read_cmap(uint32_t name = 0)
    {
        const int32_t width = volatile_cmap_texture_width();
        std::vector<uint32_t> texels((size_t)width * width);
        bind_texture_unit_for_update_opengl(0, (int32_t)(name ? name : cmap_name));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
        return texels;
    }

    // Counts texels of `after` that differ from `before` outside the square
    // at (x, y) of `size`, and those inside that differ from `block` (the
    // builder's xrgb texels, `size` per row).
    void expect_only_square_changed(const std::vector<uint32_t> &before, const std::vector<uint32_t> &after,
                                    int32_t x, int32_t y, int32_t size, const uint32_t *block)
    {
        const int32_t width = volatile_cmap_texture_width();
        int32_t outside = 0, inside = 0, changed = 0;
        for (int32_t row = 0; row < width; ++row)
            for (int32_t column = 0; column < width; ++column)
            {
                const size_t at = (size_t)row * width + column;
                if (column >= x && column < x + size && row >= y && row < y + size)
                {
                    inside += after[at] != (block[(row - y) * size + column - x] | 0xFF000000u);
                    changed += after[at] != before[at];
                }
                else outside += after[at] != before[at];
            }
        EXPECT_EQ(outside, 0);
        EXPECT_EQ(inside, 0);
        EXPECT_GT(changed, size * size / 2) << "the square was black before and holds random texels now";
    }

    // Detail entries 3 and 5 as two solid textures, in place of the map's.
    void use_two_detail_textures(uint32_t first_argb, uint32_t second_argb)
    {
        layers = {};
        layers.active = true;
        layers.textures[3] = solid_texture(first_argb, &textures);
        layers.textures[5] = solid_texture(second_argb, &textures);
        layers.scales[3][0] = layers.scales[3][1] = 0.25f;
        layers.scales[5][0] = 0.5f, layers.scales[5][1] = 0.125f;
        set_mesh_detail_layers_override(&layers);
    }

    uint32_t cmap_name = 0;
    mesh_detail_layers layers = {};
    std::vector<uint32_t> textures;
};

// ---- colour-map updates -------------------------------------------------------------------------

TEST_F(opengl_terrain, a_dirty_tile_uploads_its_page_alone_and_tiles_without_a_page_in_the_map_are_skipped)
{
    start("");
    ASSERT_EQ(volatile_cmap_texture_width(), TILED_CMAP_TEXTURE_WIDTH) << "tiles on llvmpipe with 64 MiB";
    const std::vector<uint32_t> before = read_cmap();

    mesh_tile tiles[3];
    for (mesh_tile &tile : tiles) tile = terrain_maps_globals.mesh_tiles[5];
    tiles[0].page = 19, tiles[0].page_x = 384, tiles[0].page_y = 128;
    tiles[1].page = MESH_TILE_NO_FREE_PAGE, tiles[1].page_x = 0, tiles[1].page_y = 0;
    tiles[2].page = 20, tiles[2].page_x = 1990, tiles[2].page_y = 0; // past the texture's edge
    mesh_tile *dirty[] = {&tiles[0], nullptr, &tiles[1], &tiles[2]};
    mesh_region region = {};
    region.dirty_tile_list = dirty;
    region.dirty_tile_list_size = 4;
    update_tile_texture_opengl(&region);

    std::vector<uint32_t> page(PAGE_TEXTURE_WIDTH * PAGE_TEXTURE_WIDTH);
    build_mesh_tile_texture(&tiles[0], page.data(), PAGE_TEXTURE_WIDTH, _cmap_texture_mode_32bit);
    expect_only_square_changed(before, read_cmap(), 384, 128, PAGE_TEXTURE_WIDTH, page.data());
}

// Volatile maps of texels that differ from their neighbours.
void fill_volatile_maps(void)
{
    uint8_t *colors = volatile_color_map(), *shadows = volatile_shadow_map();
    ASSERT_TRUE(colors && shadows);
    for (int32_t i = 0; i < 512 * 512; ++i)
    {
        colors[i] = (uint8_t)(i * 13 + (i >> 9));
        shadows[i] = (uint8_t)(i * 5 + (i >> 9) * 3);
    }
}

TEST_F(opengl_terrain, changed_chunks_upload_alone_or_the_whole_map_is_rebuilt_in_place_and_uploaded)
{
    fill_volatile_maps();
    const int32_t chunk = 43, chunk_x = (chunk & 7) * 64, chunk_y = (chunk >> 3) * 64; // column 3, row 5
    std::vector<uint32_t> block(64 * 64);
    uint8_t chunks[] = {(uint8_t)chunk, 64, 255}; // the last two are outside the 8 x 8 grid
    mesh_region region = {};
    region.volatile_chunk_coverage_list = chunks;
    region.volatile_chunk_coverage_list_size = 3;

    // Chunked: only the listed chunk's square changes.
    start("[Renderer.OpenGL]\nUseCMapTiles=0\n");
    ASSERT_EQ(volatile_cmap_texture_width(), VOLATILE_CMAP_TEXTURE_WIDTH);
    build_volatile_chunk_texture(block.data(), 0, 0, 64, chunk_x, chunk_y, _cmap_texture_mode_32bit);
    std::vector<uint32_t> before = read_cmap();
    terrain_maps_globals.volatile_maps_changed = true;
    update_volatile_cmap_texture_opengl(&region);
    EXPECT_FALSE(terrain_maps_globals.volatile_maps_changed);
    expect_only_square_changed(before, read_cmap(), chunk_x, chunk_y, 64, block.data());

    // In place: texels written straight into the texture's own bitmap reach
    // the texture with an empty list, and a listed chunk is rebuilt among them.
    start("[Renderer.OpenGL]\nUpdateCMapChunked=0\n");
    ASSERT_EQ(volatile_cmap_texture_width(), VOLATILE_CMAP_TEXTURE_WIDTH) << "tiles need chunked updates";
    bitmap_data *bitmap = volatile_cmap_texture_opengl()->bitmap;
    ASSERT_TRUE(bitmap && bitmap->row_addresses[0]);
    uint32_t *texels = reinterpret_cast<uint32_t *>(bitmap->row_addresses[0]);
    for (int32_t i = 0; i < 512 * 512; ++i) texels[i] = (uint32_t)i * 2246822519u;
    std::vector<uint32_t> pattern(texels, texels + 512 * 512);
    region.volatile_chunk_coverage_list_size = 0;
    update_volatile_cmap_texture_opengl(&region);
    before = read_cmap();
    int32_t mismatches = 0;
    for (int32_t i = 0; i < 512 * 512; ++i) mismatches += before[i] != (pattern[i] | 0xFF000000u);
    EXPECT_EQ(mismatches, 0) << "an empty list still uploads the whole map";
    region.volatile_chunk_coverage_list_size = 3;
    update_volatile_cmap_texture_opengl(&region);
    expect_only_square_changed(before, read_cmap(), chunk_x, chunk_y, 64, block.data());
}

// The water's map takes a listed chunk's texels through the media's tables
// where the chunk (or the ring of cells around it) has water, and leaves a
// dry chunk as it was.
TEST_F(opengl_terrain, the_water_map_takes_the_media_texels_of_the_chunks_with_water_alone)
{
    fill_volatile_maps();
    start("[Renderer.OpenGL]\nUseCMapTiles=0\n");
    ASSERT_EQ(volatile_cmap_texture_width(), VOLATILE_CMAP_TEXTURE_WIDTH);
    EXPECT_EQ(water_cmap_texture_name_opengl(), 0u) << "a map without media has no water map";
    // Media tables of their own (freed with the map's tables), and water in
    // the block of cells (26, 42), which lies in chunk 43 (cells 24-31, 40-47).
    terrain_maps_globals.media_shade16 = (uint16_t *)calloc(SHADING_TABLES16 * 256, sizeof(uint16_t));
    terrain_maps_globals.media_shade32 = (uint32_t *)calloc(SHADING_TABLES32 * 256, sizeof(uint32_t));
    ASSERT_TRUE(terrain_maps_globals.media_shade16 && terrain_maps_globals.media_shade32);
    for (int32_t i = 0; i < SHADING_TABLES32 * 256; ++i)
        terrain_maps_globals.media_shade32[i] = (uint32_t)i * 2246822519u | 2;
    initialize_volatile_cmap_texture_opengl();
    const uint32_t water = water_cmap_texture_name_opengl();
    ASSERT_NE(water, 0u);
    terrain_maps_globals.volatile_x0 = terrain_maps_globals.volatile_y0 = 0;
    const_cast<uint16_t *>(get_mesh_LOD_data())[13 + (mesh_width / 2) * 21] |= 0x0100;

    uint8_t chunks[] = {43, 0};
    mesh_region region = {};
    region.volatile_chunk_coverage_list = chunks;
    region.volatile_chunk_coverage_list_size = 2;
    const std::vector<uint32_t> before = read_cmap(water);
    update_volatile_cmap_texture_opengl(&region);
    std::vector<uint32_t> block(64 * 64);
    build_volatile_chunk_texture(block.data(), 0, 0, 64, 3 * 64, 5 * 64,
                                 _cmap_texture_mode_32bit | _cmap_texture_media_flag);
    expect_only_square_changed(before, read_cmap(water), 3 * 64, 5 * 64, 64, block.data());
    EXPECT_NE(block[0], terrain_maps_globals.shade32[(volatile_shadow_map()[5 * 64 * 512 + 3 * 64] << 8) |
                                                     volatile_color_map()[5 * 64 * 512 + 3 * 64]])
        << "the water's texels are the media's, not the ground's";
}

// ---- what is drawn ---------------------------------------------------------------------------------

TEST_F(opengl_terrain, the_multipass_draws_the_base_and_each_leading_layer_once_with_its_texture_and_weights)
{
    start("[Renderer.OpenGL]\nUseShaders=0\n");
    use_two_detail_textures(0xFF996633, 0xFF336699);
    struct row
    {
        const char *what;
        uint32_t detail;
        std::vector<int32_t> layers; // each draw: 0 the base, else the detail entry
        std::vector<uint8_t> alphas; // each draw's three corner alphas
    };
    const row rows[] = {
        {"neither base nor layers: nothing", 0, {}, {}},
        {"the plain base", kBlend, {0}, {255, 255, 255}},
        {"bit 30 clear and two layers: drawn twice", detail_indexes(3, 5, 0) | detail_weights(3, 4, 0),
         {3, 5},
         {255, 255, 0, 0, 0, 255}},
        {"a second layer without a first draws the base alone", kBlend | detail_indexes(0, 5, 0) | detail_weights(0, 7, 0),
         {0},
         {255, 255, 255}},
        {"a layer whose texture cannot be had is left out", kBlend | detail_indexes(3, 7, 0) | detail_weights(1, 6, 0),
         {0, 3},
         {255, 255, 255, 255, 0, 0}},
    };
    set_vertex_capture_procedure(capture);
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.what);
        test_terrain terrain;
        terrain.vertices = {{0, {2, 3}, {0, 0, 0}, {}}, {0, {4, 3}, {512, 0, 0}, {}}, {0, {2, 5}, {0, 512, 0}, {}}};
        terrain.add(r.detail, 0, 1, 2);
        terrain.install();
        captured.clear();
        rasterize_mesh_category(nullptr, _surface_category_mesh);
        ASSERT_EQ(captured.size(), r.layers.size());
        for (size_t d = 0; d < captured.size(); ++d)
        {
            const captured_draw &draw = captured[d];
            ASSERT_EQ(draw.vertices.size(), 3u);
            EXPECT_EQ(draw.state.textures[0], (int32_t)cmap_name);
            if (r.layers[d] == 0)
            {
                EXPECT_EQ(draw.state.shader_mode, _shader_mesh_0);
                EXPECT_EQ(draw.state.blend_mode, _blend_mode_replace);
                continue;
            }
            const int32_t index = r.layers[d];
            EXPECT_EQ(draw.state.shader_mode, _shader_fixed_multitexture);
            EXPECT_EQ(draw.state.blend_mode, _blend_mode_alpha);
            EXPECT_EQ(draw.state.textures[1], (int32_t)layers.textures[index]);
            for (int32_t c = 0; c < 3; ++c)
            {
                const render_vertex *vertex = terrain.triangles[0].corners[c].vertex;
                EXPECT_EQ(draw.vertices[c].color[3], r.alphas[d * 3 + c]) << "corner " << c;
                EXPECT_FLOAT_EQ(draw.vertices[c].texcoord[2], -vertex->mesh_vertex.x * layers.scales[index][0]);
                EXPECT_FLOAT_EQ(draw.vertices[c].texcoord[3], vertex->mesh_vertex.y * layers.scales[index][1]);
            }
        }
    }
}

// The multipass numbers a category's triangles in 16 bits: past 65536 it
// takes them in slices.
TEST_F(opengl_terrain, a_category_of_seventy_thousand_triangles_is_drawn_whole_by_every_path)
{
    const int32_t count = 70000;
    struct path
    {
        const char *what, *ini;
        bool detail;
        int32_t draws_per_triangle;
    } paths[] = {
        {"plain", "", false, 1},
        {"shader detail", "", true, 1},
        {"multipass", "[Renderer.OpenGL]\nUseShaders=0\n", true, 2},
    };
    static int64_t vertices, largest;
    for (const path &p : paths)
    {
        SCOPED_TRACE(p.what);
        start(p.ini);
        use_two_detail_textures(0xFF808080, 0xFF808080);
        layers.active = p.detail;
        test_terrain terrain; // every triangle a point off the window
        terrain.vertices = {{0, {0, 0}, {-51200, -51200, 0}, {}}};
        for (int32_t t = 0; t < count; ++t) terrain.add(kBlend | detail_indexes(3, 0, 0) | 7, 0, 0, 0);
        terrain.install();
        vertices = largest = 0;
        set_vertex_capture_procedure([](uint32_t, const rendervert_t *, int32_t n, const opengl_draw_state *) {
            vertices += n;
            largest = std::max(largest, (int64_t)n);
        });
        rasterize_mesh_category(nullptr, _surface_category_mesh);
        EXPECT_EQ(vertices, (int64_t)count * 3 * p.draws_per_triangle);
        EXPECT_LE(largest, (int64_t)MAXIMUM_RENDER_VERTS);
    }
}

// ---- shaders against the multipass ---------------------------------------------------------------

// The window's pixels, top row first.
std::vector<uint32_t> read_back_window(void)
{
    const rectangle2d all = {0, 0, (int16_t)kSize, (int16_t)kSize};
    bitmap_data *frame = copy_bits_from_opengl_render_buffer(&all);
    EXPECT_NE(frame, nullptr);
    std::vector<uint32_t> pixels;
    if (frame)
        for (int32_t y = 0; y < kSize; ++y)
        {
            const uint32_t *row = reinterpret_cast<const uint32_t *>(frame->row_addresses[0] + y * frame->bytes_per_row);
            pixels.insert(pixels.end(), row, row + kSize);
        }
    free(frame);
    return pixels;
}

// Per channel: the mean absolute difference and the largest, in 1/255.
void compare_frames(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, double *mean, int32_t *largest)
{
    double sum = 0;
    *largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int32_t shift = 0; shift < 24; shift += 8)
        {
            const int32_t d = std::abs((int32_t)((a[i] >> shift) & 255) - (int32_t)((b[i] >> shift) & 255));
            sum += d;
            *largest = std::max(*largest, d);
        }
    *mean = sum / (3.0 * (double)a.size());
}

} // namespace

// ---- the demo valley -----------------------------------------------------------------------------

namespace {

// The demo map started for the software renderer, one of its golden views
// rendered, and its terrain drawn again through OpenGL from the surfaces and
// volatile maps that frame left behind.
class opengl_demo_terrain : public demo_render_fixture
{
protected:
    void TearDown() override
    {
        if (display().started)
        {
            set_mesh_detail_layers_override(nullptr);
            for (uint32_t name : textures) glDeleteTextures(1, &name);
            textures.clear();
            dispose_opengl_rasterizer_from_old_map();
            dispose_poweruser_settings();
            if (rendered) active_screen = software_screen;
        }
        free(buffer);
        demo_render_fixture::TearDown();
    }

    // Renders the camera in software at the window's size; false when it cannot.
    bool render_software(const char *camera_text)
    {
        render_camera camera = {};
        char reason[256];
        if (!parse_render_camera(camera_text, &camera) || !render_camera_is_usable(&camera, reason, sizeof(reason)))
            return false;
        buffer = new_render_back_buffer((int16_t)kSize, (int16_t)kSize);
        if (!buffer) return false;
        const render_frame_options options = {(int16_t)kSize, (int16_t)kSize, true, true};
        build_render_camera_view(&view, &camera, &options, buffer);
        render_camera_view(&view);
        software_screen = active_screen;
        rendered = true;
        return true;
    }

    // Mesh triangles of the frame by how many detail layers they carry (0..3).
    std::vector<int32_t> layer_counts(void)
    {
        std::vector<int32_t> counts(4, 0);
        const surface_category &mesh = surface_categories[_surface_category_mesh];
        for (uint32_t i = 0; i < mesh.count; ++i)
        {
            const uint32_t detail = reinterpret_cast<const render_triangle *>(mesh.surfaces[i])->detail;
            int32_t layers = 0;
            while (layers < 3 && (detail >> (9 + 7 * layers) & 127)) ++layers;
            ++counts[layers];
        }
        return counts;
    }

    // The mesh category of the software frame through OpenGL under `ini`,
    // with or without its detail layers, read back.
    std::vector<uint32_t> draw_through_opengl(const char *ini, bool detail = true)
    {
        active_screen = display().screen;
        dispose_opengl_rasterizer_from_old_map();
        dispose_poweruser_settings();
        EXPECT_TRUE(load_poweruser_settings_from_buffer(ini, strlen(ini)));
        if (!initialize_opengl_rasterizer_for_new_map()) return {};
        initialize_opengl_mesh_parameters_for_new_map();
        EXPECT_EQ(volatile_cmap_texture_width(), VOLATILE_CMAP_TEXTURE_WIDTH);
        uint8_t every_chunk[64];
        for (int32_t i = 0; i < 64; ++i) every_chunk[i] = (uint8_t)i;
        mesh_region region = {};
        region.volatile_chunk_coverage_list = every_chunk;
        region.volatile_chunk_coverage_list_size = 64;
        update_volatile_cmap_texture_opengl(&region);

        // The map's detail scales with near-neutral solid textures.
        layers = {};
        layers.active = detail;
        const uint32_t colors[3] = {0xFF8F9980, 0xFF706680, 0xFF888070};
        for (int32_t entry = 1; entry <= 3; ++entry)
        {
            layers.textures[entry] = solid_texture(colors[entry - 1], &textures);
            layers.scales[entry][0] = detail_texture_scales()[entry][0];
            layers.scales[entry][1] = detail_texture_scales()[entry][1];
        }
        set_mesh_detail_layers_override(&layers);

        // The view's perspective: screen x = xk + x f / -z, y = yk - y f / -z,
        // in cells (the shaders' 1/512, or the model-view matrix's).
        const float f = view.fworld_to_screen, w = (float)kSize, h = (float)kSize;
        const float near = 0.25f, far = 400.0f;
        projection_mode_data &projection = projections[_projection_mode_perspective];
        projection = {};
        projection.proj_mat[0] = 2.0f * f / w;
        projection.proj_mat[8] = -(2.0f * view.xk / w - 1.0f);
        projection.proj_mat[5] = 2.0f * f / h;
        projection.proj_mat[9] = -(1.0f - 2.0f * view.yk / h);
        projection.proj_mat[10] = -(far + near) / (far - near);
        projection.proj_mat[11] = -1.0f;
        projection.proj_mat[14] = -2.0f * far * near / (far - near);
        projection.view_mat[0] = projection.view_mat[5] = projection.view_mat[10] = 1.0f / 512.0f;
        projection.view_mat[15] = 1.0f;
        projection.viewport[2] = projection.viewport[3] = kSize;
        build_orthogonal_projection();
        load_texture_matrix_opengl(0, nullptr);
        glActiveTexture(GL_TEXTURE1);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
        glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 2.0f);
        glActiveTexture(GL_TEXTURE0);

        set_render_mode_opengl(_shader_mesh_0, _projection_mode_perspective, _depth_mode_full, _blend_mode_replace);
        clear_opengl_backbuffer();
        rasterize_mesh_category(&view, _surface_category_mesh);
        std::vector<uint32_t> pixels = read_back_window();
        set_mesh_detail_layers_override(nullptr);
        for (uint32_t name : textures) glDeleteTextures(1, &name);
        textures.clear();
        return pixels;
    }

    bitmap_data *buffer = nullptr;
    bool rendered = false;
    view_data view = {};
    active_color_environment software_screen = {};
    mesh_detail_layers layers = {};
    std::vector<uint32_t> textures;
};

// 'dval' lays grass, rock and mud: the golden view over the lake's shore
// crosses their borders, where triangles carry two layers, and the shaders'
// sum of the layers and the passes' blend of them agree there.
TEST_F(opengl_demo_terrain, the_shore_view_carries_two_detail_layers_which_both_paths_draw_alike)
{
    REQUIRE_GL();
    // The window's own map start left the terrain in tiles mode; the software frame wants its volatile maps.
    dispose_opengl_rasterizer_from_old_map();
    ASSERT_TRUE(start(32, kSize, kSize));
    ASSERT_TRUE(detail_maps_active()) << "the demo valley's detail map loads";
    ASSERT_TRUE(render_software("2,30,5,-40,-35"));
    const std::vector<int32_t> counts = layer_counts();
    EXPECT_GT(counts[2], 0) << "two-layer triangles in view";

    const char *shaders = "[Renderer.OpenGL]\nUseCMapTiles=0\n";
    const std::vector<uint32_t> plain = draw_through_opengl(shaders, false);
    const std::vector<uint32_t> shaded = draw_through_opengl(shaders);
    const std::vector<uint32_t> passes = draw_through_opengl("[Renderer.OpenGL]\nUseCMapTiles=0\nUseShaders=0\n");
    ASSERT_EQ(shaded.size(), (size_t)(kSize * kSize));
    ASSERT_EQ(passes.size(), shaded.size());
    ASSERT_EQ(plain.size(), shaded.size());
    double mean, layers_mean;
    int32_t largest, layers_largest;
    compare_frames(shaded, plain, &layers_mean, &layers_largest);
    EXPECT_GT(layers_mean, 4.0) << "the layers show";
    compare_frames(shaded, passes, &mean, &largest);
    printf("demo shore view: %d plain, %d one-layer, %d two-layer, %d three-layer triangles; layers change the "
           "frame by %.3f/255 on average; shader against multipass: mean %.3f/255, largest %d/255\n",
           (int)counts[0], (int)counts[1], (int)counts[2], (int)counts[3], layers_mean, mean, (int)largest);
    EXPECT_LE(mean, 1.0);
    EXPECT_LE(largest, 16);
}

} // namespace

} // namespace opengl_terrain_test_file

// The test programs compile their files together: this file's macros end here.
#undef REQUIRE_GL
