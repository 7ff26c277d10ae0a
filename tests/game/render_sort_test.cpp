// The frame's surface list: keys and the screen test on adding, the depth sort
// against a stable sort (ties, the effect overrides, both walking
// directions), every categorisation rule, sorting a category by key and
// handing it out in chunks of one key.

#include "tag_files/store_fixture.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <random>
#include <vector>

#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "screen.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"

namespace render_sort_test_file {

namespace {

// A new frame: the pool the sort takes its arrays from, made on first use and
// reset.
void start_test_frame(void) { new_render_scene(0); }

// Surfaces of every kind, at stable addresses.
struct surface_store
{
    std::deque<render_vertex> vertices;
    std::deque<render_triangle> triangles;
    std::deque<render_model_triangle> model_triangles;
    std::deque<render_rectangle> rectangles;
    std::deque<render_filled_rectangle> filled;
    std::deque<std::vector<uint8_t>> texts;

    render_surface *rectangle(int32_t z, uint32_t flags = 0, int32_t subtype = _surface_subtype_object_rectangle)
    {
        rectangles.push_back({});
        render_rectangle *r = &rectangles.back();
        r->header.z = z;
        r->header.packed = pack_surface_word(flags, _surface_type_rectangle, subtype);
        return &r->header;
    }
    render_surface *text(int32_t z, uint32_t flags = 0)
    {
        texts.emplace_back(render_text_rectangle_size(5));
        render_text_rectangle *t = (render_text_rectangle *)texts.back().data();
        t->header.z = z;
        t->header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_text_rectangle);
        memcpy(t->string, "hello", 6);
        return &t->header;
    }
    // A triangle facing the viewer on a 640 x 480 screen, at depth z.
    render_surface *triangle(int32_t subtype, uint32_t flags, uint32_t identifier = 0, uint32_t detail = 0,
                             int32_t z = -1000)
    {
        render_triangle t = {};
        t.header.z = z;
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, subtype);
        t.bitmap_identifier = identifier;
        t.detail = detail;
        const world_point3d corners[3] = {{-100, 100, -1000}, {100, 100, -1000}, {-100, -100, -1000}};
        for (int i = 0; i < 3; ++i)
        {
            vertices.push_back({});
            vertices.back().p = corners[i];
            t.corners[i].vertex = &vertices.back();
        }
        if (subtype == _surface_subtype_model_triangle)
        {
            render_model_triangle m = {};
            memcpy(&m, &t, offsetof(render_model_triangle, model_index));
            model_triangles.push_back(m);
            return &model_triangles.back().header;
        }
        triangles.push_back(t);
        return &triangles.back().header;
    }
};

class render_sort_test : public ::testing::Test
{
protected:
    view_data view = {};
    render_surface_list list;
    surface_store store;

    void SetUp() override
    {
        start_test_frame();
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.screen_width = 640;
        view.screen_height = 480;
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 1000.0f;
    }
};

std::vector<render_surface *> walk_far_to_near(const render_surface_list &list)
{
    std::vector<render_surface *> order;
    for (render_surface *s = list.last_surface; s && (int32_t)order.size() <= list.surface_count; s = s->previous_surface)
        order.push_back(s);
    return order;
}
std::vector<render_surface *> walk_near_to_far(const render_surface_list &list)
{
    std::vector<render_surface *> order;
    for (render_surface *s = list.first_surface; s && (int32_t)order.size() <= list.surface_count; s = s->next_surface)
        order.push_back(s);
    return order;
}

TEST_F(render_sort_test, surfaces_join_the_list_with_their_key)
{
    render_surface *a = store.rectangle(-1000);
    render_surface *b = store.rectangle(-3);
    render_surface *c = store.rectangle(-1000, _surface_precise_z_flag);
    c->precise_z = 12345;
    add_surface_to_surface_list(&view, a);
    add_surface_to_surface_list(&view, b);
    add_surface_to_surface_list(&view, c);
    EXPECT_EQ((uint32_t)a->precise_z, (uint32_t)-1000 << 14);
    EXPECT_GT((uint32_t)b->precise_z, (uint32_t)a->precise_z) << "nearer is larger";
    EXPECT_EQ(c->precise_z, 12345);

    // While an effect adds surfaces, they take its priority whatever their depth.
    list.override_precise_z = -2;
    render_surface *d = store.rectangle(-184320);
    render_surface *e = store.rectangle(-5, _surface_precise_z_flag);
    add_surface_to_surface_list(&view, d);
    add_surface_to_surface_list(&view, e);
    EXPECT_EQ(d->precise_z, -2);
    EXPECT_EQ(e->precise_z, -2);

    EXPECT_EQ(list.surface_count, 5);
    EXPECT_EQ(walk_near_to_far(list), (std::vector<render_surface *>{a, b, c, d, e})) << "appended in order";
    EXPECT_EQ(list.first_surface->previous_surface, nullptr);

    // The screen test drops what cannot be seen, except mesh triangles for a
    // hardware back end, which draws them unclipped.
    list.override_precise_z = 0;
    render_surface *away = store.triangle(_surface_subtype_object_triangle, 0);
    std::swap(((render_triangle *)away)->corners[0], ((render_triangle *)away)->corners[1]);
    add_surface_to_surface_list(&view, away);
    EXPECT_EQ(list.surface_count, 5);
    EXPECT_EQ(list.last_surface, e);

    for (const int16_t code : {(int16_t)_rasterizer_software, (int16_t)_rasterizer_opengl, (int16_t)_rasterizer_dx11})
    {
        view.rasterizer_code = code;
        render_surface *mesh = store.triangle(_surface_subtype_mesh_triangle, 0);
        std::swap(((render_triangle *)mesh)->corners[0], ((render_triangle *)mesh)->corners[1]);
        const int32_t before = list.surface_count;
        add_surface_to_surface_list(&view, mesh);
        EXPECT_EQ(list.surface_count - before, code == _rasterizer_software ? 0 : 1) << code;
        EXPECT_EQ(((render_triangle *)mesh)->corners[0].vertex->flags, code == _rasterizer_software ? 0x600 : 0) << code;
    }
}

TEST_F(render_sort_test, depth_sort_is_stable_and_ascending_in_both_directions)
{
    std::mt19937 random(26);
    for (const int32_t count : {1, 2, 3, 50, 3000})
    {
        start_test_frame();
        new_surface_list(&list);
        std::vector<std::pair<uint32_t, render_surface *>> expected;
        for (int32_t i = 0; i < count; ++i)
        {
            const uint32_t pick = random() % 10;
            list.override_precise_z = pick == 0 ? -1 : pick == 1 ? -2 : 0;
            render_surface *s;
            if (pick < 5)
                // Few depths, so many ties.
                s = store.rectangle(-(int32_t)(random() % 8) * 20000 - 1);
            else if (pick < 8)
                s = store.rectangle(-(int32_t)(random() % 184320) - 1);
            else
            {
                // Builder keys over the whole unsigned range, ties included.
                s = store.rectangle(-1, _surface_precise_z_flag);
                s->precise_z = (int32_t)(random() % 4 == 0 ? random() % 4 : random());
            }
            add_surface_to_surface_list(&view, s);
            expected.push_back({(uint32_t)s->precise_z, s});
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto &x, const auto &y) { return x.first < y.first; });
        std::vector<render_surface *> far_to_near;
        for (const auto &e : expected) far_to_near.push_back(e.second);

        postprocess_scene(&view, &list);
        EXPECT_EQ(list.surface_count, count);
        EXPECT_EQ(walk_far_to_near(list), far_to_near) << count;
        std::vector<render_surface *> near_to_far = walk_near_to_far(list);
        std::reverse(near_to_far.begin(), near_to_far.end());
        EXPECT_EQ(near_to_far, far_to_near) << count;
        EXPECT_EQ(list.first_surface->previous_surface, nullptr);
        EXPECT_EQ(list.last_surface->next_surface, nullptr);

        // Rectangles are all translucent: the category holds the whole frame, far to near.
        const surface_category &translucent = surface_categories[_surface_category_translucent_objects];
        ASSERT_EQ(translucent.count, (uint32_t)count);
        EXPECT_EQ(std::vector<render_surface *>(translucent.surfaces, translucent.surfaces + count), far_to_near);
        for (int32_t c = 0; c < NUMBER_OF_SURFACE_CATEGORIES; ++c)
        {
            if (c == _surface_category_translucent_objects) continue;
            EXPECT_EQ(surface_categories[c].count, 0u) << c;
        }
    }

    // An empty frame empties every category.
    start_test_frame();
    new_surface_list(&list);
    postprocess_scene(&view, &list);
    for (const surface_category &category : surface_categories)
    {
        EXPECT_EQ(category.count, 0u) << category.name;
        EXPECT_EQ(category.surfaces, nullptr) << category.name;
        EXPECT_FALSE(category.sorted) << category.name;
    }
}

int32_t pool_failures = 0;
void count_pool_failure(void) { ++pool_failures; }

TEST_F(render_sort_test, a_pool_too_small_for_the_sort_leaves_the_frame_unsorted)
{
    // Room for the pointer array but not for the scratch, then for neither.
    for (const int32_t pool_size : {2048, 64})
    {
        ASSERT_TRUE(reset_render_memory_pool_for_tests(pool_size));
        const render_malloc_fail_procedure old = set_render_malloc_fail_procedure(count_pool_failure);
        pool_failures = 0;
        new_surface_list(&list);
        std::vector<render_surface *> added;
        for (int32_t i = 0; i < 100; ++i)
        {
            added.push_back(store.rectangle(-1 - i % 7));
            add_surface_to_surface_list(&view, added.back());
        }
        postprocess_scene(&view, &list);
        set_render_malloc_fail_procedure(old);
        EXPECT_EQ(pool_failures, 1) << pool_size;
        EXPECT_EQ(walk_near_to_far(list), added) << "the list as it was built";
        for (const surface_category &category : surface_categories) EXPECT_EQ(category.count, 0u) << category.name;
    }
    // A pool of the usual size for the next test.
    ASSERT_TRUE(reset_render_memory_pool_for_tests(RENDER_MEMORY_POOL_SIZE));
}

// A category over surfaces whose keys the test chose, sorted by those keys.
struct keyed_category
{
    std::deque<render_triangle> triangles;
    std::vector<render_surface *> pointers;
    surface_category category = {};

    keyed_category(const std::vector<uint32_t> &details)
    {
        for (const uint32_t detail : details)
        {
            triangles.push_back({});
            triangles.back().detail = detail;
            pointers.push_back(&triangles.back().header);
        }
        category = surface_categories[_surface_category_mesh];
        category.surfaces = pointers.data();
        category.count = (uint32_t)pointers.size();
        category.sorted = false;
    }
    uint32_t detail(int32_t i) const { return ((const render_triangle *)pointers[i])->detail; }
};

struct chunk_log
{
    std::vector<std::pair<int32_t, int32_t>> chunks; // first index, length
    render_surface **base;
    static void record(void *context, render_surface **surfaces, int32_t count)
    {
        chunk_log *log = (chunk_log *)context;
        log->chunks.push_back({(int32_t)(surfaces - log->base), count});
    }
};

TEST_F(render_sort_test, categories_sort_by_key_once_and_chunk_by_runs_of_one_key)
{
    std::mt19937 random(102);
    for (int32_t round = 0; round < 60; ++round)
    {
        start_test_frame();
        const int32_t count = 1 + (int32_t)(random() % (round < 50 ? 300 : 3000));
        const int32_t distinct = 1 + (int32_t)(random() % 6);
        std::vector<uint32_t> details;
        for (int32_t i = 0; i < count; ++i)
            // Keys in the masked bits, noise outside them.
            details.push_back(((uint32_t)(random() % distinct) * 0x00BE0200u & 0x3ffffe00u) | (uint32_t)(random() & 0xC00001FFu));
        keyed_category k(details);

        const int32_t maxima[] = {0, -1, 1, 2, 7, 64, 65, 200, 100000};
        const int32_t maximum = maxima[random() % 9];
        chunk_log log;
        log.base = k.pointers.data();
        rasterize_surface_category(&log, &k.category, maximum, true, 0, chunk_log::record);

        // Sorted, stably, by the masked key.
        std::vector<uint32_t> expected = details;
        std::stable_sort(expected.begin(), expected.end(),
                         [](uint32_t x, uint32_t y) { return (x & 0x3ffffe00u) < (y & 0x3ffffe00u); });
        ASSERT_TRUE(k.category.sorted);
        for (int32_t i = 0; i < count; ++i) ASSERT_EQ(k.detail(i), expected[i]) << i;

        // The chunks, by a naive splitter: maximal runs of one key, cut at the maximum.
        std::vector<std::pair<int32_t, int32_t>> naive;
        const int32_t limit = maximum > 0 ? maximum : count;
        for (int32_t pos = 0; pos < count;)
        {
            int32_t end = pos + 1;
            while (end < count && end - pos < limit && (expected[end] & 0x3ffffe00u) == (expected[pos] & 0x3ffffe00u))
                ++end;
            naive.push_back({pos, end - pos});
            pos = end;
        }
        EXPECT_EQ(log.chunks, naive) << "round " << round << " maximum " << maximum;

        // Sorted once a frame: a second call hands out the same order.
        std::swap(k.pointers[0], k.pointers[count - 1]);
        const uint32_t first = k.detail(0);
        sort_surface_category(&k.category, 0);
        EXPECT_EQ(k.detail(0), first);
    }

    // A narrower key mask: chunks of equal first detail entry (bits 9-15),
    // sorting by the category's own mask keeps those runs together.
    {
        start_test_frame();
        std::vector<uint32_t> details;
        for (int32_t i = 0; i < 500; ++i) details.push_back((uint32_t)(random() % 3) << 9);
        keyed_category k(details);
        chunk_log log;
        log.base = k.pointers.data();
        rasterize_surface_category(&log, &k.category, 8192, true, 0x0000fe00u, chunk_log::record);
        ASSERT_LE(log.chunks.size(), 3u);
        int32_t total = 0;
        for (const auto &c : log.chunks)
        {
            for (int32_t i = c.first; i < c.first + c.second; ++i) EXPECT_EQ(k.detail(i), k.detail(c.first));
            total += c.second;
        }
        EXPECT_EQ(total, 500);
    }
}

TEST_F(render_sort_test, categories_without_key_go_out_in_storage_order)
{
    start_test_frame();
    keyed_category k(std::vector<uint32_t>(8193, 0));
    k.category.sort_offset = -1;
    struct
    {
        int32_t maximum;
        bool by_key;
        std::vector<std::pair<int32_t, int32_t>> chunks;
    } const cases[] = {
        {8192, false, {{0, 8192}, {8192, 1}}},
        {8192, true, {{0, 8192}, {8192, 1}}}, // no key: by storage
        {0, false, {{0, 8193}}},
        {-1, false, {{0, 8193}}},
        {3000, false, {{0, 3000}, {3000, 3000}, {6000, 2193}}},
    };
    for (const auto &c : cases)
    {
        chunk_log log;
        log.base = k.pointers.data();
        rasterize_surface_category(&log, &k.category, c.maximum, c.by_key, 0, chunk_log::record);
        EXPECT_EQ(log.chunks, c.chunks) << c.maximum << " " << c.by_key;
    }

    // An empty category calls nothing, keyed or not, limited or not.
    surface_category empty = surface_categories[_surface_category_mesh];
    empty.surfaces = nullptr;
    empty.count = 0;
    chunk_log log;
    for (const int32_t maximum : {-1, 0, 8192})
        for (const bool by_key : {false, true}) rasterize_surface_category(&log, &empty, maximum, by_key, 0, chunk_log::record);
    EXPECT_TRUE(log.chunks.empty());
}

// ---- categories -------------------------------------------------------------------------

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');

enum
{
    SOLID_BITMAP, // no transparent pixel
    KEYED_BITMAP, // a colour-0 pixel: colour-key transparency
    SPRITE_BITMAP, // run-length rows: 1-bit transparency
    GLOW_BITMAP,  // index-and-nibble pixels: 4-bit transparency
    MISSING_BITMAP,
};

class surface_category_rules : public store_fixture::store_test
{
protected:
    int32_t collection = NONE;

    void SetUp() override
    {
        store_test::SetUp();
        start_test_frame();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;

        builder_collection c;
        c.colors.color_count = 4;
        c.colors.colors[3] = {30000, 30000, 30000, 0};
        builder_bitmap keyed = new_builder_bitmap("Keyed", 4, 4, _builder_flat_8bit, 3);
        keyed.pixels[5] = 0;
        builder_bitmap sprite = new_builder_bitmap("Sprite", 7, 5, _builder_rle_8bit, BUILDER_TRANSPARENT);
        builder_fill_ellipse(&sprite, 3, 2, 2, 2, 3);
        for (const builder_bitmap &b : {new_builder_bitmap("Solid", 4, 4, _builder_flat_8bit, 3), keyed, sprite,
                                        new_builder_bitmap("Glow", 3, 2, _builder_flat_8bit_nibble, 0x0503)})
            c.bitmaps.push_back(b);
        const std::vector<uint8_t> bytes = build_collection_tag_data(c);
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        initialize_shapes_for_new_map();
        collection = get_collection_index(COLL);
    }
    void TearDown() override
    {
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
};

TEST_F(surface_category_rules, every_rule_in_order)
{
    ASSERT_NE(collection, NONE);
    // The bitmaps are what the rules are about.
    ASSERT_EQ(get_bitmap(collection, SOLID_BITMAP)->flags & 0x16, 0);
    ASSERT_EQ(get_bitmap(collection, KEYED_BITMAP)->flags & 0x16, _bitmap_color_key_transparency_flag);
    ASSERT_EQ(get_bitmap(collection, SPRITE_BITMAP)->flags & 0x16, _1bit_transparency_encoded_flag);
    ASSERT_EQ(get_bitmap(collection, GLOW_BITMAP)->flags & 0x16, _4bit_transparency_encoded_flag);
    ASSERT_EQ(get_bitmap(collection, MISSING_BITMAP), nullptr);

    enum kind
    {
        mesh = _surface_subtype_mesh_triangle,
        model = _surface_subtype_model_triangle,
        object = _surface_subtype_object_triangle,
        sprite = _surface_subtype_object_rectangle,
        filled = _surface_subtype_filled_rectangle,
        text = _surface_subtype_text_rectangle,
    };
    const uint32_t media = _surface_media_flag, discarded = _surface_discarded_flag,
                   reflection = _surface_reflection_flag, transparent = _surface_transparent_flag;
    struct
    {
        const char *name;
        int32_t subtype;
        uint32_t flags;
        int32_t bitmap;
        int32_t category;
        bool made_transparent;
        int32_t assertions;
    } const cases[] = {
        {"mesh", mesh, 0, SOLID_BITMAP, _surface_category_mesh, false, 0},
        {"mesh under media", mesh, media, SOLID_BITMAP, _surface_category_media, false, 0},
        {"mesh, discarded", mesh, discarded, SOLID_BITMAP, _surface_category_mesh, false, 0},
        {"mesh, reflected", mesh, reflection, KEYED_BITMAP, _surface_category_mesh, false, 0},
        {"model, discarded", model, discarded | media, SOLID_BITMAP, _surface_category_discarded, false, 0},
        {"sprite, discarded", sprite, discarded, SOLID_BITMAP, _surface_category_discarded, false, 0},
        {"reflective model", model, media | reflection, KEYED_BITMAP, _surface_category_reflective_objects, false, 0},
        {"reflective object", object, media, SOLID_BITMAP, _surface_category_reflective_objects, false, 0},
        {"media-flagged sprite", sprite, media, SOLID_BITMAP, _surface_category_translucent_objects, false, 1},
        {"media-flagged text", text, media, SOLID_BITMAP, _surface_category_translucent_objects, false, 1},
        {"reflected model", model, reflection, SPRITE_BITMAP, _surface_category_reflections, false, 0},
        {"reflected text", text, reflection, SOLID_BITMAP, _surface_category_reflections, false, 0},
        {"opaque model", model, 0, SOLID_BITMAP, _surface_category_opaque_objects, false, 0},
        {"opaque model, missing bitmap", model, 0, MISSING_BITMAP, _surface_category_opaque_objects, false, 0},
        {"model, colour-keyed", model, 0, KEYED_BITMAP, _surface_category_translucent_objects, true, 0},
        {"model, 1-bit", model, 0, SPRITE_BITMAP, _surface_category_translucent_objects, true, 0},
        {"model, 4-bit", model, 0, GLOW_BITMAP, _surface_category_translucent_objects, true, 0},
        {"transparent model", model, transparent, SOLID_BITMAP, _surface_category_translucent_objects, false, 0},
        {"object, opaque bitmap", object, 0, SOLID_BITMAP, _surface_category_translucent_objects, false, 0},
        {"object, 1-bit", object, 0, SPRITE_BITMAP, _surface_category_translucent_objects, true, 0},
        {"sprite", sprite, 0, SPRITE_BITMAP, _surface_category_translucent_objects, false, 0},
        {"filled rectangle", filled, 0, SOLID_BITMAP, _surface_category_translucent_objects, false, 0},
        {"text", text, 0, SOLID_BITMAP, _surface_category_text_rectangles, false, 0},
    };
    surface_store store;
    for (const auto &c : cases)
    {
        render_surface *s;
        const uint32_t identifier = make_bitmap_identifier(collection, c.bitmap, 0, 0);
        if (c.subtype == text)
            s = store.text(-100, c.flags);
        else if (c.subtype == sprite || c.subtype == filled)
            s = store.rectangle(-100, c.flags, c.subtype);
        else
            s = store.triangle(c.subtype, c.flags, identifier);
        expected_assertions expect(c.assertions, c.assertions ? "media surfaces must be triangles" : nullptr);
        EXPECT_EQ(surface_category_of(s), c.category) << c.name;
        EXPECT_EQ(surface_word_flags(s->packed), c.flags | (c.made_transparent ? transparent : 0)) << c.name;
        EXPECT_EQ(surface_word_subtype(s->packed), c.subtype) << c.name;
    }

    // Through the whole frame: each category holds its surfaces far to near.
    view_data view = {};
    render_surface_list list;
    new_surface_list(&list);
    view.main_surface_list = &list;
    view.rasterizer_code = _rasterizer_opengl; // mesh triangles unclipped
    std::vector<render_surface *> added;
    for (int32_t i = 0; i < 6; ++i)
    {
        const int32_t z = -1000 + 100 * (i % 3);
        added.push_back(store.triangle(mesh, i < 3 ? media : 0, 0, 0, z));
        list.override_precise_z = 0;
        render_surface *t = store.text(z);
        add_surface_to_surface_list(&view, added.back());
        add_surface_to_surface_list(&view, t);
        added.push_back(t);
    }
    postprocess_scene(&view, &list);
    EXPECT_EQ(surface_categories[_surface_category_media].count, 3u);
    EXPECT_EQ(surface_categories[_surface_category_mesh].count, 3u);
    EXPECT_EQ(surface_categories[_surface_category_text_rectangles].count, 6u);
    for (const surface_category &category : surface_categories)
        for (uint32_t i = 1; i < category.count; ++i)
            EXPECT_LE((uint32_t)category.surfaces[i - 1]->precise_z, (uint32_t)category.surfaces[i]->precise_z)
                << category.name;
    EXPECT_EQ(surface_categories[_surface_category_media].surfaces + 3, surface_categories[_surface_category_mesh].surfaces)
        << "one array, sliced in category order";
}

} // namespace

} // namespace render_sort_test_file
