// The software rasterizer: exact pixel sets of triangles, clipping against
// the unclipped drawing, seams drawn exactly once, scaled, mirrored and split
// sprites, blending at every level, the three encodings agreeing, terrain
// sampling, depth order through the whole sort, and refusal of what cannot
// be drawn safely.

#include "tag_files/store_fixture.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <vector>

#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "render/render.h"
#include "render/render_rasterize.h"
#include "render/render_sort.h"
#include "screen.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"

namespace render_rasterize_test_file {

namespace {

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');

enum
{
    GRID_BITMAP,   // 8 x 8 flat, no transparent texel
    SPRITE_BITMAP, // 4 x 3 run-length
    ODD_BITMAP,    // 6 x 4 flat: not a power of two
    KEYED_BITMAP,  // 8 x 8 flat with transparent (0) texels
};

const uint16_t T = BUILDER_TRANSPARENT;
const uint16_t sprite_pixels[3][4] = {{1, 2, T, 3}, {T, 4, 5, 6}, {7, T, T, 8}};

uint8_t grid_texel(int32_t x, int32_t y) { return (uint8_t)(1 + (x + 3 * y) % 15); }

const std::vector<uint8_t> &collection_bytes(void)
{
    static const std::vector<uint8_t> bytes = [] {
        builder_collection c;
        c.colors.color_count = 16;
        for (int32_t i = 0; i < 16; ++i)
            c.colors.colors[i] = {(uint16_t)(i * 4000), (uint16_t)(65535 - i * 4000), (uint16_t)((i * 7919) & 0xFFFF), 0};
        builder_bitmap grid = new_builder_bitmap("Grid", 8, 8, _builder_flat_8bit, 1);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x) grid.pixels[y * 8 + x] = grid_texel(x, y);
        builder_bitmap sprite = new_builder_bitmap("Sprite", 4, 3, _builder_rle_8bit, T);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x) sprite.pixels[y * 4 + x] = sprite_pixels[y][x];
        builder_bitmap keyed = grid;
        keyed.name = "Keyed";
        for (int32_t i = 0; i < 64; i += 3) keyed.pixels[i] = 0;
        for (const builder_bitmap &b : {grid, sprite, new_builder_bitmap("Odd", 6, 4, _builder_flat_8bit, 2), keyed})
            c.bitmaps.push_back(b);
        return build_collection_tag_data(c);
    }();
    return bytes;
}

struct bitmap_deleter
{
    void operator()(bitmap_data *bitmap) const { free(bitmap); }
};
typedef std::unique_ptr<bitmap_data, bitmap_deleter> bitmap_pointer;

// A destination of `encoding`, every pixel `fill`.
bitmap_pointer make_destination(int16_t width, int16_t height, int16_t encoding, uint32_t fill)
{
    bitmap_pointer bitmap(new_bitmap(width, height, 0, encoding, 0));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            if (encoding == _32bit_encoding)
                reinterpret_cast<uint32_t *>(bitmap->row_addresses[y])[x] = fill;
            else
                reinterpret_cast<uint16_t *>(bitmap->row_addresses[y])[x] = (uint16_t)fill;
        }
    return bitmap;
}

uint32_t pixel_at(const bitmap_data *bitmap, int32_t x, int32_t y)
{
    if (bitmap->encoding == _32bit_encoding) return reinterpret_cast<const uint32_t *>(bitmap->row_addresses[y])[x];
    return reinterpret_cast<const uint16_t *>(bitmap->row_addresses[y])[x];
}

const uint32_t BACKGROUND32 = 0xDEADBEEF; // shading-table pixels have alpha 0, blended ones 0xff

// Surfaces at stable addresses.
struct surface_store
{
    std::deque<render_vertex> vertices;
    std::deque<render_triangle> triangles;
    std::deque<render_model_triangle> model_triangles;
    std::deque<render_rectangle> rectangles;
    std::deque<render_filled_rectangle> filled;

    struct corner
    {
        int16_t x, y;
        int32_t u, v; // 16-bit texture fractions, or mesh cells
    };

    render_triangle *triangle(int32_t subtype, const corner (&c)[3], uint32_t identifier, uint32_t flags = 0)
    {
        render_triangle t = {};
        t.header.z = -1000;
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, subtype);
        t.bitmap_identifier = identifier;
        for (int32_t i = 0; i < 3; ++i)
        {
            vertices.push_back({});
            vertices.back().screen = {c[i].x, c[i].y};
            vertices.back().flags = _vertex_screen_transformed_flag | _vertex_clipped_flag;
            t.corners[i].vertex = &vertices.back();
            t.corners[i].interpolants[_texture_u] = (int16_t)(uint16_t)c[i].u;
            t.corners[i].interpolants[_texture_v] = (int16_t)(uint16_t)c[i].v;
        }
        triangles.push_back(t);
        return &triangles.back();
    }
    render_model_triangle *model_triangle(const corner (&c)[3], uint32_t identifier)
    {
        render_triangle *t = triangle(_surface_subtype_model_triangle, c, identifier);
        render_model_triangle m = {};
        memcpy(&m, t, offsetof(render_model_triangle, model_index));
        model_triangles.push_back(m);
        return &model_triangles.back();
    }
    render_rectangle *rectangle(int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint32_t identifier,
                                uint32_t flags = 0, uint16_t transparency = 0)
    {
        render_rectangle r = {};
        r.header.z = -1000;
        r.header.transparency = transparency;
        r.header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_object_rectangle);
        r.x0 = x0, r.y0 = y0, r.x1 = x1, r.y1 = y1;
        r.clip_top = -32768, r.clip_bottom = 32767;
        r.bitmap_identifier = identifier;
        rectangles.push_back(r);
        return &rectangles.back();
    }
    render_filled_rectangle *filled_rectangle(int16_t x0, int16_t y0, int16_t x1, int16_t y1, rgb_color color,
                                              uint16_t transparency = 0, int32_t z = -1000, uint32_t flags = 0)
    {
        render_filled_rectangle r = {};
        r.header.z = z;
        r.header.transparency = transparency;
        r.header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_filled_rectangle);
        r.x0 = x0, r.y0 = y0, r.x1 = x1, r.y1 = y1;
        r.clip_top = -32768, r.clip_bottom = 32767;
        r.color = color;
        filled.push_back(r);
        return &filled.back();
    }
};

const rasterization_procs &procs_of(int16_t encoding)
{
    return encoding == _32bit_encoding ? procs_32bit : encoding == _16bit_565_encoding ? procs_16bit_565 : procs_16bit_555;
}

class rasterizer_test : public store_fixture::store_test
{
protected:
    int32_t collection = NONE;
    surface_store store;

    void SetUp() override
    {
        store_test::SetUp();
        new_render_scene(0);
        rasterizer_globals = rasterizer_globals_data{};
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        const std::vector<uint8_t> &bytes = collection_bytes();
        write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        load_for_encoding(_32bit_encoding);
    }
    void TearDown() override
    {
        rasterizer_globals.terrain = rasterizer_terrain_maps{};
        dispose_shapes_from_old_map();
        reset_screen_for_tests();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }

    // The collection's tables built for a software screen of `encoding`.
    void load_for_encoding(int16_t encoding)
    {
        if (collection != NONE) dispose_shapes_from_old_map();
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.encoding = encoding;
        active_screen.bit_depth = encoding == _32bit_encoding ? 32 : 16;
        initialize_shapes_for_new_map();
        collection = get_collection_index(COLL);
        ASSERT_NE(collection, NONE);
    }
    uint32_t id(int32_t bitmap) const { return make_bitmap_identifier(collection, bitmap, 0, 0); }
    uint32_t shade(uint8_t texel) const
    {
        const void *table = get_shading_table(collection, 0, 0);
        return get_shapes_encoding() == _32bit_encoding ? static_cast<const uint32_t *>(table)[texel]
                                                        : static_cast<const uint16_t *>(table)[texel];
    }
};

// ---- triangles -----------------------------------------------------------------------------

TEST_F(rasterizer_test, flat_triangles_cover_exactly_their_rows_and_columns_and_only_clockwise)
{
    // Integer corners with exact edges: a right triangle (a flat top and a
    // 45-degree hypotenuse) and an isosceles one with a flat bottom.
    struct shape
    {
        surface_store::corner c[3];
        int32_t (*left)(int32_t y), (*right)(int32_t y);
        int32_t rows;
    };
    const shape shapes[] = {
        {{{0, 0, 0, 0}, {8, 0, 65535, 0}, {0, 8, 0, 65535}},
         [](int32_t) { return 0; }, [](int32_t y) { return 8 - y; }, 8},
        {{{4, 0, 0, 0}, {8, 8, 65535, 65535}, {0, 8, 0, 65535}},
         [](int32_t y) { return (4 * 65536 - 32768 * y) >> 16; }, [](int32_t y) { return (4 * 65536 + 32768 * y) >> 16; },
         8},
    };
    for (const shape &s : shapes)
        for (int32_t rotation = 0; rotation < 3; ++rotation)
        {
            // Every corner order that keeps the winding gives the same pixels.
            const surface_store::corner c[3] = {s.c[rotation], s.c[(rotation + 1) % 3], s.c[(rotation + 2) % 3]};
            bitmap_pointer destination = make_destination(12, 12, _32bit_encoding, BACKGROUND32);
            procs_32bit.rasterize_triangle(destination.get(), &store.triangle(_surface_subtype_object_triangle, c,
                                                                               id(GRID_BITMAP))->header);
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 12; ++x)
                {
                    const bool inside = y < s.rows && x >= s.left(y) && x < s.right(y);
                    EXPECT_EQ(pixel_at(destination.get(), x, y) != BACKGROUND32, inside)
                        << "(" << x << ", " << y << ") rotation " << rotation;
                }

            // Reversed, the corners run counter-clockwise: nothing is drawn.
            const surface_store::corner reversed[3] = {c[0], c[2], c[1]};
            bitmap_pointer empty = make_destination(12, 12, _32bit_encoding, BACKGROUND32);
            procs_32bit.rasterize_triangle(empty.get(), &store.triangle(_surface_subtype_object_triangle, reversed,
                                                                         id(GRID_BITMAP))->header);
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(pixel_at(empty.get(), x, y), BACKGROUND32);
        }

    // Texels: one per pixel across the 8 x 8 grid, transparent texels left out.
    for (int32_t bitmap : {GRID_BITMAP, KEYED_BITMAP})
    {
        // 7 texels over 7 pixels: 8192 a pixel.
        bitmap_pointer destination = make_destination(8, 8, _32bit_encoding, BACKGROUND32);
        const surface_store::corner c[3] = {{0, 0, 0, 0}, {7, 0, 57344, 0}, {0, 7, 0, 57344}};
        procs_32bit.rasterize_triangle(destination.get(),
                                       &store.triangle(_surface_subtype_object_triangle, c, id(bitmap))->header);
        const bitmap_data *texture = get_bitmap(collection, bitmap);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x + y < 7; ++x)
            {
                const uint8_t texel = texture->row_addresses[0][y * texture->bytes_per_row + x];
                EXPECT_EQ(pixel_at(destination.get(), x, y), texel ? shade(texel) : BACKGROUND32) << x << ", " << y;
            }
    }
}

TEST_F(rasterizer_test, a_triangle_off_the_top_left_equals_the_crop_of_its_whole_drawing)
{
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding})
    {
        load_for_encoding(encoding);
        const surface_store::corner clipped[3] = {{-5, -7, 1000, 2000}, {20, 3, 40000, 9000}, {2, 18, 7000, 50000}};
        surface_store::corner whole[3];
        for (int32_t i = 0; i < 3; ++i) whole[i] = {(int16_t)(clipped[i].x + 10), (int16_t)(clipped[i].y + 10), clipped[i].u,
                                                     clipped[i].v};
        for (int32_t subtype : {(int32_t)_surface_subtype_object_triangle, (int32_t)_surface_subtype_model_triangle})
        {
            bitmap_pointer small = make_destination(16, 16, encoding, 0xABCD);
            bitmap_pointer large = make_destination(40, 40, encoding, 0xABCD);
            rasterize_surface_procedure draw = subtype == _surface_subtype_object_triangle
                                                   ? procs_of(encoding).rasterize_triangle
                                                   : procs_of(encoding).rasterize_model_triangle;
            auto make = [&](const surface_store::corner(&c)[3]) -> render_surface * {
                if (subtype == _surface_subtype_object_triangle)
                    return &store.triangle(subtype, c, id(GRID_BITMAP))->header;
                return &store.model_triangle(c, id(GRID_BITMAP))->header;
            };
            draw(small.get(), make(clipped));
            draw(large.get(), make(whole));
            int32_t drawn = 0;
            for (int32_t y = 0; y < 16; ++y)
                for (int32_t x = 0; x < 16; ++x)
                {
                    ASSERT_EQ(pixel_at(small.get(), x, y), pixel_at(large.get(), x + 10, y + 10))
                        << x << ", " << y << " encoding " << encoding << " subtype " << subtype;
                    drawn += pixel_at(small.get(), x, y) != 0xABCD;
                }
            EXPECT_GT(drawn, 100);
        }
    }
}

// Fills the volatile maps with a pattern, and a colour-map shading table whose
// entries name their (level, colour) pair.
struct test_terrain
{
    std::vector<uint8_t> colors, shadows, blend;
    std::vector<uint32_t> shading32;
    std::vector<uint16_t> shading16;
    enum { GUARD = 516 };

    test_terrain()
        : colors(512 * 512 + 2 * GUARD), shadows(512 * 512 + 2 * GUARD), blend(65536), shading32(65536),
          shading16(64 * 256)
    {
        for (int32_t y = 0; y < 512; ++y)
            for (int32_t x = 0; x < 512; ++x)
            {
                colors[GUARD + y * 512 + x] = (uint8_t)(x * 7 + y * 13);
                shadows[GUARD + y * 512 + x] = (uint8_t)(x + y * 3);
            }
        for (int32_t i = 0; i < 65536; ++i)
        {
            blend[i] = (uint8_t)((i >> 8) ^ (i * 5));
            shading32[i] = 0x01000000u | (uint32_t)i;
        }
        for (int32_t i = 0; i < 64 * 256; ++i) shading16[i] = (uint16_t)(i * 3 + 1);
    }
    void install(int16_t encoding)
    {
        rasterizer_globals.terrain.color_map = colors.data() + GUARD;
        rasterizer_globals.terrain.shadow_map = shadows.data() + GUARD;
        rasterizer_globals.terrain.blend_table = blend.data();
        rasterizer_globals.terrain.shading_table =
            encoding == _32bit_encoding ? (const void *)shading32.data() : (const void *)shading16.data();
    }
    uint32_t expected(int16_t encoding, int32_t texel_x, int32_t texel_y) const
    {
        const int32_t index = GUARD + texel_y * 512 + texel_x;
        if (encoding == _32bit_encoding) return shading32[shadows[index] * 256 + colors[index]];
        return shading16[(shadows[index] >> 2) * 256 + colors[index]];
    }
};

TEST_F(rasterizer_test, terrain_is_sampled_one_colour_per_pixel_pair_and_seams_are_drawn_once)
{
    test_terrain terrain;
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding, (int16_t)_16bit_555_encoding})
    {
        terrain.install(encoding);
        // 8 cells over 64 pixels: one texel a pixel, cell (3, 5) at the top left.
        bitmap_pointer destination = make_destination(64, 64, encoding, 0xFEED);
        const surface_store::corner c[3] = {{0, 0, 3, 5}, {64, 0, 11, 5}, {0, 64, 3, 13}};
        procs_of(encoding).rasterize_mesh_triangle(
            destination.get(), &store.triangle(_surface_subtype_mesh_triangle, c, 0)->header);
        for (int32_t y = 0; y < 64; ++y)
        {
            const int32_t right = 64 - y;
            for (int32_t x = 0; x < 64; ++x)
            {
                // Pairs start at the row's first pixel (rows of 64 pixels keep
                // 16-bit pairs aligned); an odd last pixel repeats the last pair.
                int32_t sample_x = x - (x & 1);
                if (right > 1 && (right & 1) && x == right - 1) sample_x = x - 2;
                const uint32_t expected = x < right ? terrain.expected(encoding, 24 + sample_x, 40 + y) : 0xFEEDu;
                ASSERT_EQ(pixel_at(destination.get(), x, y), expected) << x << ", " << y << " encoding " << encoding;
            }
        }
    }

    // A fan of irregular triangles around a centre, plain and filtered: every
    // pixel is written by at most one of them, and the square between the
    // two halves of a split quad exactly once.
    terrain.install(_32bit_encoding);
    const surface_store::corner centre = {31, 27, 8, 8};
    const surface_store::corner ring[] = {{3, 2, 0, 0},    {40, -3, 10, 0}, {70, 20, 16, 6}, {55, 61, 14, 16},
                                          {20, 70, 5, 17}, {-4, 35, 0, 9}};
    const int32_t n = (int32_t)(sizeof ring / sizeof ring[0]);
    for (uint32_t flags : {0u, (uint32_t)_surface_filtered_flag})
    {
        std::vector<int32_t> count(64 * 64, 0);
        for (int32_t i = 0; i < n; ++i)
        {
            const surface_store::corner c[3] = {centre, ring[i], ring[(i + 1) % n]};
            bitmap_pointer destination = make_destination(64, 64, _32bit_encoding, BACKGROUND32);
            procs_32bit.rasterize_mesh_triangle(destination.get(),
                                                &store.triangle(_surface_subtype_mesh_triangle, c, 0, flags)->header);
            for (int32_t y = 0; y < 64; ++y)
                for (int32_t x = 0; x < 64; ++x) count[y * 64 + x] += pixel_at(destination.get(), x, y) != BACKGROUND32;
        }
        for (int32_t i = 0; i < 64 * 64; ++i) ASSERT_LE(count[i], 1) << i % 64 << ", " << i / 64;
        // The fan surrounds the centre: a block around it is covered.
        for (int32_t y = 20; y < 35; ++y)
            for (int32_t x = 20; x < 40; ++x) ASSERT_EQ(count[y * 64 + x], 1) << x << ", " << y;
    }
    std::vector<int32_t> count(16 * 16, 0);
    const surface_store::corner quad[4] = {{0, 0, 0, 0}, {13, 0, 2, 0}, {13, 11, 2, 2}, {0, 11, 0, 2}};
    for (const auto &c : {std::array<surface_store::corner, 3>{quad[0], quad[1], quad[2]},
                          std::array<surface_store::corner, 3>{quad[0], quad[2], quad[3]}})
    {
        const surface_store::corner corners[3] = {c[0], c[1], c[2]};
        bitmap_pointer destination = make_destination(16, 16, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_mesh_triangle(destination.get(),
                                            &store.triangle(_surface_subtype_mesh_triangle, corners, 0)->header);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) count[y * 16 + x] += pixel_at(destination.get(), x, y) != BACKGROUND32;
    }
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(count[y * 16 + x], x < 13 && y < 11 ? 1 : 0) << x << ", " << y;
}

TEST_F(rasterizer_test, filtered_terrain_blends_each_texel_with_the_partner_its_quarter_names)
{
    // One cell over 64 pixels: eight pixels a texel, so the pairs walk every
    // u and v quarter, and each row's odd end repeats.
    test_terrain terrain;
    for (rasterizer_span_method method : {_spans_undecided, _spans_scalar})
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding, (int16_t)_16bit_555_encoding})
    {
        rasterizer_globals.span_method = method;
        terrain.install(encoding);
        bitmap_pointer destination = make_destination(64, 64, encoding, 0xFEED);
        const surface_store::corner c[3] = {{0, 0, 3, 5}, {64, 0, 4, 5}, {0, 64, 3, 6}};
        procs_of(encoding).rasterize_mesh_triangle(
            destination.get(), &store.triangle(_surface_subtype_mesh_triangle, c, 0, _surface_filtered_flag)->header);
        for (int32_t y = 0; y < 64; ++y)
        {
            const int32_t right = 64 - y;
            for (int32_t x = 0; x < right; ++x)
            {
                int32_t sample_x = x - (x & 1);
                if (right > 1 && (right & 1) && x == right - 1) sample_x = x - 2;
                const int32_t first = test_terrain::GUARD + (40 + y / 8) * 512 + 24 + sample_x / 8;
                const int32_t second = first + secondary_address_offset_table[(sample_x / 2 & 3) + 4 * (y / 2 & 3)];
                const uint32_t color = terrain.blend[terrain.colors[second] * 256 + terrain.colors[first]];
                const uint8_t shadow = terrain.shadows[second];
                const uint32_t expected = encoding == _32bit_encoding ? terrain.shading32[shadow * 256 + color]
                                                                      : terrain.shading16[(shadow >> 2) * 256 + color];
                ASSERT_EQ(pixel_at(destination.get(), x, y), expected)
                    << x << ", " << y << " encoding " << encoding << " method " << (int)method;
            }
        }
    }
}

TEST_F(rasterizer_test, terrain_spans_draw_the_same_pixels_by_either_method)
{
    // The method the processor picks (vector texel addresses where it can)
    // against the scalar loop, on irregular triangles of every size and
    // slope, plain and filtered, in every encoding, rows starting at odd and
    // even pixels.
    test_terrain terrain;
    uint32_t seed = 12345;
    int64_t drawn_pixels = 0;
    auto next = [&seed](int32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (int32_t)((seed >> 8) % (uint32_t)range);
    };
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding, (int16_t)_16bit_555_encoding})
    {
        terrain.install(encoding);
        for (int32_t i = 0; i < 60; ++i)
        {
            surface_store::corner c[3];
            for (surface_store::corner &corner : c)
                corner = {(int16_t)(next(300) - 50), (int16_t)(next(200) - 30), (int16_t)next(70), (int16_t)next(70)};
            const uint32_t flags = i & 1 ? (uint32_t)_surface_filtered_flag : 0u;
            bitmap_pointer drawn[2] = {make_destination(203, 150, encoding, 0xFEED),
                                       make_destination(203, 150, encoding, 0xFEED)};
            const rasterizer_span_method methods[2] = {_spans_undecided, _spans_scalar};
            for (int32_t m = 0; m < 2; ++m)
            {
                rasterizer_globals.span_method = methods[m];
                for (bool reversed : {false, true}) // one of the two windings draws
                {
                    const surface_store::corner r[3] = {c[0], reversed ? c[2] : c[1], reversed ? c[1] : c[2]};
                    procs_of(encoding).rasterize_mesh_triangle(
                        drawn[m].get(), &store.triangle(_surface_subtype_mesh_triangle, r, 0, flags)->header);
                }
            }
            for (int32_t y = 0; y < 150; ++y)
                for (int32_t x = 0; x < 203; ++x)
                {
                    ASSERT_EQ(pixel_at(drawn[0].get(), x, y), pixel_at(drawn[1].get(), x, y))
                        << x << ", " << y << " triangle " << i << " encoding " << encoding;
                    drawn_pixels += pixel_at(drawn[0].get(), x, y) != 0xFEEDu;
                }
        }
    }
    EXPECT_GT(drawn_pixels, 300000) << "the triangles cover the destinations";
}

TEST_F(rasterizer_test, sixteen_bit_terrain_pairs_follow_the_offset_in_the_pixel_block)
{
    // A row starting at an odd pixel draws that pixel alone, then pairs.
    test_terrain terrain;
    terrain.install(_16bit_565_encoding);
    bitmap_pointer destination = make_destination(64, 8, _16bit_565_encoding, 0xFEED);
    const surface_store::corner c[3] = {{1, 0, 0, 0}, {65, 0, 8, 0}, {1, 64, 0, 8}};
    procs_16bit_565.rasterize_mesh_triangle(destination.get(),
                                            &store.triangle(_surface_subtype_mesh_triangle, c, 0)->header);
    EXPECT_EQ(pixel_at(destination.get(), 0, 0), 0xFEEDu);
    EXPECT_EQ(pixel_at(destination.get(), 1, 0), terrain.expected(_16bit_565_encoding, 0, 0));
    EXPECT_EQ(pixel_at(destination.get(), 2, 0), terrain.expected(_16bit_565_encoding, 1, 0));
    EXPECT_EQ(pixel_at(destination.get(), 3, 0), terrain.expected(_16bit_565_encoding, 1, 0));
    EXPECT_EQ(pixel_at(destination.get(), 4, 0), terrain.expected(_16bit_565_encoding, 3, 0));
}

// ---- sprites ---------------------------------------------------------------------------------

TEST_F(rasterizer_test, sprites_scale_mirror_and_split_without_gaps)
{
    // Twice the size: each texel covers 2 x 2 pixels, transparent ones nothing.
    {
        bitmap_pointer destination = make_destination(12, 10, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_rectangle(destination.get(), &store.rectangle(2, 1, 10, 7, id(SPRITE_BITMAP))->header);
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 12; ++x)
            {
                uint32_t expected = BACKGROUND32;
                if (x >= 2 && x < 10 && y >= 1 && y < 7)
                {
                    const uint16_t texel = sprite_pixels[(y - 1) / 2][(x - 2) / 2];
                    if (texel != T) expected = shade((uint8_t)texel);
                }
                EXPECT_EQ(pixel_at(destination.get(), x, y), expected) << x << ", " << y;
            }
    }

    // Mirrored equals the flipped drawing, at scales that do not divide
    // evenly, whole and cut off by the right edge.
    for (int16_t width : {4, 7, 11, 13})
    {
        bitmap_pointer plain = make_destination(40, 6, _32bit_encoding, BACKGROUND32);
        bitmap_pointer mirrored = make_destination(40, 6, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_rectangle(plain.get(), &store.rectangle(5, 0, (int16_t)(5 + width), 5, id(SPRITE_BITMAP))->header);
        procs_32bit.rasterize_rectangle(mirrored.get(), &store.rectangle(5, 0, (int16_t)(5 + width), 5, id(SPRITE_BITMAP),
                                                                         _surface_mirror_horizontal_flag)->header);
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t k = 0; k < width; ++k)
                ASSERT_EQ(pixel_at(mirrored.get(), 5 + k, y), pixel_at(plain.get(), 5 + width - 1 - k, y))
                    << "width " << width << " at " << k << ", " << y;

        // Cut at the right edge of a narrower screen: the visible part is the
        // crop, so the texture's left columns show at the screen's right edge.
        const int16_t screen_width = (int16_t)(5 + width / 2 + 1);
        bitmap_pointer cut = make_destination(screen_width, 6, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_rectangle(cut.get(), &store.rectangle(5, 0, (int16_t)(5 + width), 5, id(SPRITE_BITMAP),
                                                                    _surface_mirror_horizontal_flag)->header);
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < screen_width; ++x)
                ASSERT_EQ(pixel_at(cut.get(), x, y), pixel_at(mirrored.get(), x, y)) << "width " << width;
        // Cut at the left edge too.
        bitmap_pointer left_cut = make_destination(40, 6, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_rectangle(left_cut.get(), &store.rectangle(-3, 0, (int16_t)(-3 + width), 5, id(SPRITE_BITMAP),
                                                                         _surface_mirror_horizontal_flag)->header);
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < width - 3; ++x)
                ASSERT_EQ(pixel_at(left_cut.get(), x, y), pixel_at(mirrored.get(), x + 8, y)) << "width " << width;
    }

    // Drawn in two bands split by clip_top/clip_bottom, the sprite equals its
    // whole drawing; the clip is clamped to the screen and written back.
    for (int16_t split : {1, 4, 6, 9})
    {
        bitmap_pointer whole = make_destination(20, 12, _32bit_encoding, BACKGROUND32);
        bitmap_pointer bands = make_destination(20, 12, _32bit_encoding, BACKGROUND32);
        procs_32bit.rasterize_rectangle(whole.get(), &store.rectangle(1, -2, 15, 11, id(SPRITE_BITMAP),
                                                                      _surface_mirror_vertical_flag)->header);
        render_rectangle *top = store.rectangle(1, -2, 15, 11, id(SPRITE_BITMAP), _surface_mirror_vertical_flag);
        top->clip_top = -50;
        top->clip_bottom = split;
        render_rectangle *bottom = store.rectangle(1, -2, 15, 11, id(SPRITE_BITMAP), _surface_mirror_vertical_flag);
        bottom->clip_top = split;
        bottom->clip_bottom = 500;
        procs_32bit.rasterize_rectangle(bands.get(), &top->header);
        procs_32bit.rasterize_rectangle(bands.get(), &bottom->header);
        EXPECT_EQ(top->clip_top, 0);
        EXPECT_EQ(bottom->clip_bottom, 12);
        for (int32_t y = 0; y < 12; ++y)
            for (int32_t x = 0; x < 20; ++x)
                ASSERT_EQ(pixel_at(bands.get(), x, y), pixel_at(whole.get(), x, y)) << "split " << split;
    }
}

// ---- blending ----------------------------------------------------------------------------------

TEST_F(rasterizer_test, filled_rectangles_blend_at_every_level_in_every_encoding)
{
    const rgb_color color = {0xC800, 0x3800, 0xF000, 0};
    const rgb_color under = {0x2000, 0xE800, 0x5000, 0};
    // The table's normal mode keeps L/15 of the destination, rounded.
    auto mix = [](uint32_t d, uint32_t s, uint32_t level) { return (7 + level * d + (15 - level) * s) / 15; };
    const uint32_t s[3] = {(uint32_t)color.red >> 11, (uint32_t)color.green >> 11, (uint32_t)color.blue >> 11};
    const uint32_t d[3] = {(uint32_t)under.red >> 11, (uint32_t)under.green >> 11, (uint32_t)under.blue >> 11};
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding, (int16_t)_16bit_555_encoding})
        for (uint32_t level = 0; level < 16; ++level)
        {
            const uint32_t background = encoding == _32bit_encoding     ? rgb_color_to_pixel32(&under)
                                        : encoding == _16bit_565_encoding ? rgb_color_to_pixel16_565(&under)
                                                                         : rgb_color_to_pixel16_555(&under);
            bitmap_pointer destination = make_destination(10, 8, encoding, background);
            render_filled_rectangle *r = store.filled_rectangle(-4, 2, 7, 20, color, (uint16_t)(level << 12 | 0x0ABC));
            r->clip_bottom = 6;
            procs_of(encoding).rasterize_filled_rectangle(destination.get(), &r->header);
            uint32_t channel[3];
            for (int32_t i = 0; i < 3; ++i) channel[i] = mix(d[i], s[i], level);
            const uint32_t expected = encoding == _32bit_encoding
                                          ? 0xFF000000u | channel[0] << 19 | channel[1] << 11 | channel[2] << 3
                                      : encoding == _16bit_565_encoding ? channel[0] << 11 | channel[1] << 6 | channel[2]
                                                                        : channel[0] << 10 | channel[1] << 5 | channel[2];
            for (int32_t y = 0; y < 8; ++y)
                for (int32_t x = 0; x < 10; ++x)
                {
                    const bool inside = x < 7 && y >= 2 && y < 6;
                    ASSERT_EQ(pixel_at(destination.get(), x, y), inside ? expected : background)
                        << x << ", " << y << " level " << level << " encoding " << encoding;
                }
        }
}

TEST_F(rasterizer_test, translucent_triangles_and_sprites_mix_each_texel_with_what_lies_under)
{
    // A keyed triangle one texel a pixel and a sprite two pixels a texel, at
    // levels from none kept to all kept: holes and transparent texels leave
    // the background, every other pixel mixes its texel at the level.
    auto mix = [](uint32_t d, uint32_t s, uint32_t level) { return (7 + level * d + (15 - level) * s) / 15; };
    auto blended = [&](uint32_t under, uint32_t over, uint32_t level) {
        uint32_t result = 0xFF000000u;
        for (int32_t shift : {19, 11, 3}) result |= mix(under >> shift & 31, over >> shift & 31, level) << shift;
        return result;
    };
    const bitmap_data *keyed = get_bitmap(collection, KEYED_BITMAP);
    for (bool sprite : {false, true})
        for (uint32_t level : {0u, 6u, 15u})
        {
            bitmap_pointer destination = make_destination(12, 10, _32bit_encoding, BACKGROUND32);
            const uint16_t transparency = (uint16_t)(level << 12 | 0x0123);
            if (sprite)
                procs_32bit.rasterize_rectangle(destination.get(),
                                                &store.rectangle(2, 1, 10, 7, id(SPRITE_BITMAP), 0, transparency)->header);
            else
            {
                const surface_store::corner c[3] = {{0, 0, 0, 0}, {7, 0, 57344, 0}, {0, 7, 0, 57344}};
                render_triangle *t = store.triangle(_surface_subtype_object_triangle, c, id(KEYED_BITMAP));
                t->header.transparency = transparency;
                procs_32bit.rasterize_triangle(destination.get(), &t->header);
            }
            for (int32_t y = 0; y < 10; ++y)
                for (int32_t x = 0; x < 12; ++x)
                {
                    int32_t texel = 0;
                    if (sprite && x >= 2 && x < 10 && y >= 1 && y < 7)
                        texel = sprite_pixels[(y - 1) / 2][(x - 2) / 2] == T ? 0 : sprite_pixels[(y - 1) / 2][(x - 2) / 2];
                    if (!sprite && y < 8 && x + y < 7) texel = keyed->row_addresses[0][y * keyed->bytes_per_row + x];
                    const uint32_t expected = texel ? blended(BACKGROUND32, shade((uint8_t)texel), level) : BACKGROUND32;
                    ASSERT_EQ(pixel_at(destination.get(), x, y), expected)
                        << x << ", " << y << (sprite ? " sprite" : " triangle") << " level " << level;
                }
        }
}

// A scene without terrain: opaque and translucent textured triangles, sprites
// and a filled rectangle over a grey background.
void draw_scene_without_terrain(const rasterization_procs &procs, bitmap_data *destination, surface_store &store,
                                uint32_t grid, uint32_t keyed, uint32_t sprite)
{
    const surface_store::corner a[3] = {{-3, 2, 0, 0}, {50, 10, 65535, 9000}, {10, 45, 3000, 65535}};
    const surface_store::corner b[3] = {{20, 5, 0, 0}, {60, 30, 40000, 0}, {5, 40, 0, 40000}};
    procs.rasterize_triangle(destination, &store.triangle(_surface_subtype_object_triangle, a, grid)->header);
    render_triangle *translucent = store.triangle(_surface_subtype_object_triangle, b, keyed);
    translucent->header.transparency = 0x7000;
    procs.rasterize_triangle(destination, &translucent->header);
    procs.rasterize_rectangle(destination, &store.rectangle(30, 20, 62, 44, sprite)->header);
    procs.rasterize_rectangle(destination,
                              &store.rectangle(2, 30, 14, 48, sprite, _surface_mirror_horizontal_flag, 0x9000)->header);
    procs.rasterize_filled_rectangle(destination,
                                     &store.filled_rectangle(8, 8, 40, 24, {0x9000, 0x2000, 0xE000, 0}, 0x5000)->header);
}

TEST_F(rasterizer_test, the_encodings_agree_in_the_top_five_bits_of_every_channel)
{
    const rgb_color grey = {0x7000, 0x7800, 0x8000, 0};
    std::vector<std::array<uint32_t, 3>> reference;
    for (int16_t encoding : {(int16_t)_32bit_encoding, (int16_t)_16bit_565_encoding, (int16_t)_16bit_555_encoding})
    {
        load_for_encoding(encoding);
        const uint32_t background = encoding == _32bit_encoding     ? rgb_color_to_pixel32(&grey)
                                    : encoding == _16bit_565_encoding ? rgb_color_to_pixel16_565(&grey)
                                                                     : rgb_color_to_pixel16_555(&grey);
        bitmap_pointer destination = make_destination(64, 48, encoding, background);
        draw_scene_without_terrain(procs_of(encoding), destination.get(), store, id(GRID_BITMAP), id(KEYED_BITMAP),
                                   id(SPRITE_BITMAP));
        std::vector<std::array<uint32_t, 3>> channels;
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x)
            {
                const uint32_t p = pixel_at(destination.get(), x, y);
                if (encoding == _32bit_encoding)
                    channels.push_back({(p >> 19) & 31, (p >> 11) & 31, (p >> 3) & 31});
                else if (encoding == _16bit_565_encoding)
                    channels.push_back({(p >> 11) & 31, (p >> 6) & 31, p & 31});
                else
                    channels.push_back({(p >> 10) & 31, (p >> 5) & 31, p & 31});
            }
        if (reference.empty())
        {
            reference = channels;
            continue;
        }
        for (size_t i = 0; i < channels.size(); ++i)
            ASSERT_EQ(channels[i], reference[i]) << "pixel " << i % 64 << ", " << i / 64 << " encoding " << encoding;
    }
}

// ---- scenes ----------------------------------------------------------------------------------

TEST_F(rasterizer_test, the_nearest_surface_wins_through_the_sort_and_the_passes)
{
    bitmap_pointer destination = make_destination(40, 10, _32bit_encoding, BACKGROUND32);
    view_data view = {};
    render_surface_list list;
    new_surface_list(&list);
    view.main_surface_list = &list;
    view.screen = destination.get();
    view.screen_width = 40;
    view.screen_height = 10;
    view.rasterizer_code = _rasterizer_software;

    const rgb_color red = {0xF800, 0, 0, 0}, green = {0, 0xF800, 0, 0}, blue = {0, 0, 0xF800, 0},
                    white = {0xF800, 0xF800, 0xF800, 0};
    auto add = [&](int16_t x0, rgb_color color, int32_t z, uint32_t flags = 0) {
        add_surface_to_surface_list(&view, &store.filled_rectangle(x0, 0, (int16_t)(x0 + 5), 10, color, 0, z, flags)->header);
    };
    // Columns 0-4: the nearer of two, added nearest first.
    add(0, green, -1000);
    add(0, red, -2000);
    // Columns 5-9: equal keys, the later one on top.
    add(5, blue, -1500);
    add(5, white, -1500);
    // Columns 10-14: a reflection, however near, under a far primary surface;
    // columns 15-19: media under a reflection; 20-24: discarded never drawn.
    add(10, green, -3000);
    add(10, red, -10, _surface_reflection_flag);
    // Media are triangles: a textured quad.
    const surface_store::corner media[2][3] = {{{15, 0, 0, 0}, {20, 0, 9000, 0}, {20, 10, 9000, 9000}},
                                               {{15, 0, 0, 0}, {20, 10, 9000, 9000}, {15, 10, 0, 9000}}};
    for (const auto &c : media)
        add_surface_to_surface_list(
            &view, &store.triangle(_surface_subtype_object_triangle, c, id(GRID_BITMAP), _surface_media_flag)->header);
    add(15, white, -3000, _surface_reflection_flag);
    add(20, red, -10, _surface_discarded_flag);
    // Columns 25-29: a pre-effect's surface (its priority as the key) over
    // the nearest ordinary one.
    add(25, blue, -1);
    list.override_precise_z = -1;
    add(25, red, -5000);
    list.override_precise_z = 0;
    postprocess_scene(&view, &list);
    rasterize_scene_software(&view, &list);

    const uint32_t expected[6] = {rgb_color_to_pixel32(&green) | 0xFF000000u, rgb_color_to_pixel32(&white) | 0xFF000000u,
                                  rgb_color_to_pixel32(&green) | 0xFF000000u, rgb_color_to_pixel32(&white) | 0xFF000000u,
                                  BACKGROUND32, rgb_color_to_pixel32(&red) | 0xFF000000u};
    for (int32_t band = 0; band < 6; ++band)
        for (int32_t y = 0; y < 10; y += 3) EXPECT_EQ(pixel_at(destination.get(), band * 5 + 2, y), expected[band]) << band;
    EXPECT_EQ(pixel_at(destination.get(), 35, 5), BACKGROUND32);
}

// ---- what cannot be drawn safely ---------------------------------------------------------------

TEST_F(rasterizer_test, unusable_destinations_and_textures_draw_nothing)
{
    // A destination of another encoding: "halt", once, and nothing written.
    bitmap_pointer eight = make_destination(16, 16, _32bit_encoding, 0);
    set_bitmap_encoding(eight.get(), _8bit_encoding);
    std::vector<uint8_t> before(eight->row_addresses[0], eight->row_addresses[0] + 16 * 16 * 4);
    view_data view = {};
    render_surface_list list;
    new_surface_list(&list);
    view.main_surface_list = &list;
    view.screen = eight.get();
    view.screen_width = view.screen_height = 16;
    add_surface_to_surface_list(&view, &store.filled_rectangle(0, 0, 16, 16, {0xFFFF, 0, 0, 0})->header);
    postprocess_scene(&view, &list);
    {
        expected_assertions expect(1, "halt");
        rasterize_scene_software(&view, &list);
        rasterize_scene_software(&view, &list);
    }
    EXPECT_TRUE(std::equal(before.begin(), before.end(), eight->row_addresses[0]));
    // A procedure called on a destination of the wrong pixel size writes nothing.
    bitmap_pointer narrow = make_destination(4, 4, _16bit_565_encoding, 0x1234);
    procs_32bit.rasterize_filled_rectangle(narrow.get(), &store.filled_rectangle(0, 0, 4, 4, {0xFFFF, 0, 0, 0})->header);
    EXPECT_EQ(pixel_at(narrow.get(), 3, 3), 0x1234u);

    // A model texture that is not a power of two is logged and not drawn; an
    // object triangle skips it quietly; a run-length one is no triangle texture.
    bitmap_pointer destination = make_destination(16, 16, _32bit_encoding, BACKGROUND32);
    const surface_store::corner c[3] = {{0, 0, 0, 0}, {16, 0, 65535, 0}, {0, 16, 0, 65535}};
    {
        expected_assertions expect(1, "texture->flags&_power_of_two_flag");
        procs_32bit.rasterize_model_triangle(destination.get(), &store.model_triangle(c, id(ODD_BITMAP))->header);
    }
    procs_32bit.rasterize_triangle(destination.get(),
                                   &store.triangle(_surface_subtype_object_triangle, c, id(ODD_BITMAP))->header);
    {
        expected_assertions expect(2, "_1bit_transparency_encoded_flag");
        procs_32bit.rasterize_triangle(destination.get(),
                                       &store.triangle(_surface_subtype_object_triangle, c, id(SPRITE_BITMAP))->header);
        procs_32bit.rasterize_model_triangle(destination.get(), &store.model_triangle(c, id(SPRITE_BITMAP))->header);
    }
    // A flat texture is no sprite; a missing bitmap draws nothing; a clip
    // band that is empty is logged.
    procs_32bit.rasterize_rectangle(destination.get(), &store.rectangle(0, 0, 16, 16, id(GRID_BITMAP))->header);
    procs_32bit.rasterize_rectangle(destination.get(), &store.rectangle(0, 0, 16, 16, id(200))->header);
    render_rectangle *empty_band = store.rectangle(0, 0, 16, 16, id(SPRITE_BITMAP));
    empty_band->clip_top = empty_band->clip_bottom = 5;
    {
        expected_assertions expect(1, "rectangle->clip_top<rectangle->clip_bottom");
        procs_32bit.rasterize_rectangle(destination.get(), &empty_band->header);
    }
    // Terrain without its maps draws nothing.
    procs_32bit.rasterize_mesh_triangle(destination.get(),
                                        &store.triangle(_surface_subtype_mesh_triangle, c, 0)->header);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(pixel_at(destination.get(), x, y), BACKGROUND32) << x << ", " << y;

    // A damaged run-length row (a span past the width) is logged and skipped;
    // the other rows are drawn.
    bitmap_data *sprite = get_bitmap(collection, SPRITE_BITMAP);
    uint8_t *row = sprite->row_addresses[1];
    int16_t end;
    memcpy(&end, row + 4 + 2, 2);
    const int16_t damaged = 400;
    memcpy(row + 4 + 2, &damaged, 2);
    {
        expected_assertions expect(2, "texture_start<texture_end");
        procs_32bit.rasterize_rectangle(destination.get(), &store.rectangle(0, 0, 8, 6, id(SPRITE_BITMAP))->header);
    }
    memcpy(row + 4 + 2, &end, 2);
    EXPECT_EQ(pixel_at(destination.get(), 2, 2), BACKGROUND32) << "the damaged row";
    EXPECT_EQ(pixel_at(destination.get(), 0, 0), shade(1));
}

} // namespace

} // namespace render_rasterize_test_file
