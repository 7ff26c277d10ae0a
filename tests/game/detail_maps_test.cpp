// Detail maps and detail textures: the run coding of the index arrays, the
// compaction of the entries, the layer words and their fan over 2 x 2 blocks,
// and whole maps loaded through the registry from tags in a store: textures
// handed to the back end pixel for pixel, all-or-none texture loading, and
// detail maps or textures that do not fit refused with a warning.

#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cseries/registration.h"
#include "detail_maps.h"
#include "detail_textures.h"
#include "hardware_rasterizer.h"
#include "bitmaps.h"
#include "mesh.h"
#include "screen.h"
#include "screen_preferences.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/test_mesh.h"
#include "tag_files/definitions.h"

namespace detail_maps_test_file {

namespace {

typedef std::vector<uint8_t> bytes;

// Found before any test changes into its scratch directory.
const std::string tool = data_tool_path();

tag code(const char *text) { return FOUR_CHARACTER_CODE(text[0], text[1], text[2], text[3]); }

bytes expand(const bytes &pairs, int32_t count, bool *ok)
{
    bytes out((size_t)count, 0xEE);
    *ok = expand_detail_map_runs(pairs.data(), (int32_t)pairs.size(), out.data(), count);
    return out;
}

} // namespace

TEST(detail_map_runs, pairs_expand_cut_at_the_end_and_stop_at_the_data)
{
    bool ok;
    // A 0x04 0xFF pair writes 256 bytes of 4.
    EXPECT_EQ(expand({0x04, 0xFF}, 256, &ok), bytes(256, 4));
    EXPECT_TRUE(ok);
    // A run passing the end of the array is cut there.
    bytes crossing = expand({0x01, 0x02, 0x09, 0x0F}, 5, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(crossing, bytes({1, 1, 1, 9, 9}));
    // Pairs that end before the array is full fail, as does a lone byte.
    expand({0x01, 0x02}, 5, &ok);
    EXPECT_FALSE(ok);
    expand({0x01, 0x01, 0x07}, 3, &ok);
    EXPECT_FALSE(ok);
    expand({}, 1, &ok);
    EXPECT_FALSE(ok);

    // Coding and expanding give the values back, with runs longer than 256.
    bytes values(1000);
    for (size_t i = 0; i < values.size(); ++i) values[i] = (uint8_t)(i < 600 ? 3 : (i / 7) % 5);
    bytes pairs(values.size() * 2);
    pairs.resize((size_t)compress_detail_map_runs(values.data(), (int32_t)values.size(), pairs.data()));
    EXPECT_EQ(expand(pairs, 1000, &ok), values);
    EXPECT_TRUE(ok);
}

TEST(detail_map_compaction, duplicates_merge_and_unused_entries_drop)
{
    detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP];
    memset(entries, 0, sizeof(entries));
    for (auto &e : entries) e.dtex_id = (tag)NONE;
    entries[1].dtex_id = code("grss"), entries[1].pixels_per_cell = 7;
    entries[3].dtex_id = code("rock"), entries[3].pixels_per_cell = 3;
    entries[5].dtex_id = code("sand"), entries[5].pixels_per_cell = 3; // never used
    entries[6].dtex_id = code("rock"), entries[6].pixels_per_cell = 4; // same texture, other cell size
    entries[7].dtex_id = code("rock"), entries[7].pixels_per_cell = 3; // the same as entry 3
    strcpy(entries[7].name, "rock again");
    bytes v = {7, 3, 1, 0, 6, 200, 3, 7}; // 200: no entry; reads as 0
    bytes t = {0, 7, 5, 0, 1, 0, 0, 130, 0, 0, 0, 6, 0, 0, 0, 0};
    // Entry 5 is named only through the triangles: it is used.
    postprocess_detail_map(entries, v.data(), (int32_t)v.size(), t.data(), (int32_t)t.size());

    // Used: 0, 1, 3 (and 7 through it), 5, 6 -> 0, 1, 2, 3, 4.
    EXPECT_EQ(v, bytes({2, 2, 1, 0, 4, 0, 2, 2}));
    EXPECT_EQ(t, bytes({0, 2, 3, 0, 1, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0}));
    const tag expected[] = {(tag)NONE, code("grss"), code("rock"), code("sand"), code("rock")};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(entries[i].dtex_id, expected[i]) << i;
    EXPECT_EQ(entries[4].pixels_per_cell, 4);
    for (int i = 5; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        EXPECT_EQ(entries[i].dtex_id, (tag)NONE) << i;
        EXPECT_EQ(entries[i].pixels_per_cell, 0) << i;
        EXPECT_EQ(entries[i].name[0], 0) << i;
    }
}

TEST(detail_map_layers, triangle_words)
{
    struct
    {
        uint8_t c0, c1, c2, override_index;
        uint32_t word;
    } cases[] = {
        {0, 5, 5, 0, 0x40000A06}, // one layer, corners 1 and 2, blend
        {5, 5, 5, 0, (5u << 9) | 7}, // one layer everywhere, no blend
        {0, 0, 0, 0, 1u << 30}, // no layer: the blend bit alone
        {9, 2, 5, 0, (1u << 30) | (2u << 9) | (5u << 16) | (9u << 23) | (2u << 0) | (4u << 3) | (1u << 6)},
        {3, 3, 0, 0, (1u << 30) | (3u << 9) | 3u},
        {0, 5, 5, 12, (12u << 9) + 7}, // the override wins
        {127, 1, 1, 0, (1u << 30) | (1u << 9) | (127u << 16) | 6u | (1u << 3)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(detail_map_triangle_word(c.c0, c.c1, c.c2, c.override_index), c.word)
            << (int)c.c0 << " " << (int)c.c1 << " " << (int)c.c2 << " override " << (int)c.override_index;
}

TEST(detail_map_layers, blocks_fan_around_their_centres)
{
    // A 3 x 3 map whose vertex indexes are 1..9 and whose triangles of cell
    // (r, c) carry overrides only in cell (1, 1).
    const bytes v = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    bytes t(18, 0);
    std::vector<mesh_cell_detail_info> layers(9);
    build_detail_map_layer_info(v.data(), t.data(), 3, 3, layers.data());
    auto word = [&](int r, int c, int w) { return layers[(size_t)(r * 3 + c)].triangle_info[w]; };
    // The first block's centre is vertex (1, 1), index 5.
    EXPECT_EQ(word(0, 0, 0), detail_map_triangle_word(5, 1, 4, 0));
    EXPECT_EQ(word(0, 0, 1), detail_map_triangle_word(5, 2, 1, 0));
    EXPECT_EQ(word(0, 1, 0), detail_map_triangle_word(5, 3, 2, 0));
    EXPECT_EQ(word(0, 1, 1), detail_map_triangle_word(5, 6, 3, 0));
    EXPECT_EQ(word(1, 1, 0), detail_map_triangle_word(5, 9, 6, 0));
    EXPECT_EQ(word(1, 1, 1), detail_map_triangle_word(5, 8, 9, 0));
    EXPECT_EQ(word(1, 0, 0), detail_map_triangle_word(5, 7, 8, 0));
    EXPECT_EQ(word(1, 0, 1), detail_map_triangle_word(5, 4, 7, 0));
    // The last block starts at (2, 2): its centre lies outside the map (0).
    EXPECT_EQ(word(2, 2, 0), detail_map_triangle_word(0, 9, 0, 0));
    EXPECT_EQ(word(2, 2, 1), detail_map_triangle_word(0, 0, 9, 0));

    // Overrides of cell (1, 1): triangle 1 is t5 (word 0), triangle 0 is t4 (word 1).
    t[(1 * 3 + 1) * 2 + 0] = 20, t[(1 * 3 + 1) * 2 + 1] = 21;
    build_detail_map_layer_info(v.data(), t.data(), 3, 3, layers.data());
    EXPECT_EQ(word(1, 1, 0), (21u << 9) + 7);
    EXPECT_EQ(word(1, 1, 1), (20u << 9) + 7);

    // Every word of an odd-sized map is written (a word is never 0).
    std::mt19937 rng(9);
    bytes v2(7 * 5), t2(7 * 5 * 2);
    for (auto &b : v2) b = (uint8_t)(rng() % 4);
    for (auto &b : t2) b = (uint8_t)(rng() % 8 == 0 ? 3 : 0);
    std::vector<mesh_cell_detail_info> layers2(7 * 5, mesh_cell_detail_info{{0, 0}});
    build_detail_map_layer_info(v2.data(), t2.data(), 7, 5, layers2.data());
    for (const auto &cell : layers2)
    {
        EXPECT_NE(cell.triangle_info[0], 0u);
        EXPECT_NE(cell.triangle_info[1], 0u);
    }
}

TEST(detail_maps_enabled, only_with_a_hardware_rasterizer_and_the_preference)
{
    const active_color_environment saved = active_screen;
    screen_parameters prefs;
    memset(&prefs, 0, sizeof(prefs));
    active_screen.prefs = &prefs;
    struct
    {
        int16_t code;
        uint16_t flags;
        bool enabled;
    } cases[] = {
        {_rasterizer_software, _screen_pref_landscape_textures_flag, false},
        {_rasterizer_opengl, _screen_pref_landscape_textures_flag, true},
        {_rasterizer_dx11, _screen_pref_landscape_textures_flag, true},
        {_rasterizer_opengl, 0, false},
        {_rasterizer_3dfx, _screen_pref_landscape_textures_flag, false},
    };
    for (const auto &c : cases)
    {
        active_screen.rasterizer_code = c.code;
        prefs.flags = c.flags;
        EXPECT_EQ(detail_maps_enabled(), c.enabled) << c.code << " " << c.flags;
    }
    active_screen = saved;
}

// ---- whole maps through the registry -----------------------------------------------------

namespace {

// A back end that keeps what it is handed.
struct fake_texture
{
    int32_t width, height, encoding;
    uint32_t usage_flags;
    bytes pixels;
};
std::vector<fake_texture> fake_textures(16);
int32_t fake_texture_count = 0;

preallocated_texture *fake_initialize_texture(preallocated_texture *, bitmap_data *bitmap, int16_t, const void *,
                                              uint32_t usage_flags)
{
    if (fake_texture_count >= (int32_t)fake_textures.size()) return nullptr;
    fake_texture &t = fake_textures[(size_t)fake_texture_count++];
    t.width = bitmap->width, t.height = bitmap->height, t.encoding = bitmap->encoding, t.usage_flags = usage_flags;
    t.pixels.clear();
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        const uint8_t *row = bitmap->row_addresses[0] + (size_t)y * bitmap->bytes_per_row;
        t.pixels.insert(t.pixels.end(), row, row + bitmap->width * 3);
    }
    return (preallocated_texture *)&t;
}
bool fake_square(void) { return false; }
void fake_depth(int16_t *depth, int16_t *encoding) { *depth = 32, *encoding = _32bit_encoding; }
const hardware_rasterizer_procedures *fake_table(void)
{
    static hardware_rasterizer_procedures table;
    table.requires_square_textures = fake_square;
    table.get_shapes_bit_depth_and_encoding = fake_depth;
    table.initialize_preallocated_texture = fake_initialize_texture;
    return &table;
}

bytes texture_pixels(int32_t width, int32_t height, uint32_t seed)
{
    std::mt19937 rng(seed);
    bytes px((size_t)width * height * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = (uint8_t)((i % 3) * 60 + rng() % 40);
    return px;
}

struct map_entry
{
    int index;
    const char *texture;
    uint8_t pixels_per_cell;
};

} // namespace

class detail_maps_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        fake_texture_count = 0;
        ASSERT_TRUE(initialize_detail_maps());
        start_store();
        initialize_detail_map_stores_for_new_map();
    }
    void TearDown() override
    {
        dispose_detail_maps_from_old_map();
        dispose_detail_textures_from_old_map();
        dispose_mesh_from_old_map();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    void load_mesh(int16_t width, int16_t height, const char *landscape)
    {
        mesh_header header = test_mesh_header(width, height);
        header.media_tag = NONE;
        header.preload_tag = NONE;
        header.landscape_collection_tag = code(landscape);
        initialize_mesh();
        ASSERT_TRUE(load_test_mesh(header));
    }
    void write_texture(const char *subgroup, int32_t width, int32_t height)
    {
        const bytes px = texture_pixels(width, height, code(subgroup));
        int32_t size;
        uint8_t *data = build_detail_texture_tag_data(px.data(), width, height, &size);
        ASSERT_NE(data, nullptr);
        write_local_tag(DETAIL_TEXTURE_GROUP_TAG, subgroup, DETAIL_TEXTURE_VERSION, data, size);
        free(data);
    }
    static bytes map_data(int32_t width, int32_t height, const std::vector<map_entry> &named, const bytes &v,
                          const bytes &t)
    {
        detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP];
        memset(entries, 0, sizeof(entries));
        for (auto &e : entries) e.dtex_id = (tag)NONE;
        for (const map_entry &e : named)
            entries[e.index].dtex_id = code(e.texture), entries[e.index].pixels_per_cell = e.pixels_per_cell;
        int32_t size;
        uint8_t *data = build_detail_map_tag_data(width, height, entries, v.data(), t.data(), &size);
        bytes out(data, data + (data ? size : 0));
        free(data);
        return out;
    }
    void write_map(const char *subgroup, const bytes &data)
    {
        write_local_tag(DETAIL_MAP_GROUP_TAG, subgroup, DETAIL_MAP_VERSION, data.data(), (int32_t)data.size());
    }
    // A 4 x 4 map: grass (entry 1) on the left half, rock (entry 3, the same
    // as entry 5) on the right, one override of sand (entry 2) in cell (0, 0).
    bytes sample_map(void)
    {
        bytes v(16), t(32, 0);
        for (int i = 0; i < 16; ++i) v[(size_t)i] = (uint8_t)(i % 4 < 2 ? 1 : (i / 4) % 2 ? 5 : 3);
        t[0] = 2;
        return map_data(4, 4, {{1, "grss", 7}, {2, "sand", 1}, {3, "rock", 3}, {5, "rock", 3}}, v, t);
    }
    void load_map(void) { initialize_detail_maps_for_new_map(); }
    std::string log(void) { return log_text(); }
};

TEST_F(detail_maps_test, a_map_loads_its_textures_and_layers)
{
    register_hardware_rasterizer_procedures(fake_table());
    load_mesh(4, 4, "dval");
    write_texture("grss", 16, 16);
    write_texture("sand", 8, 4);
    write_texture("rock", 32, 8);
    write_map("dval", sample_map());
    load_map();

    ASSERT_TRUE(detail_maps_active());
    int32_t width, height;
    const mesh_cell_detail_info *layers = detail_map_layer_info(&width, &height);
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 4);
    // The override in cell (0, 0), triangle 0: word 0 of cell (0, 0) is fan
    // triangle t0.
    EXPECT_EQ(layers[0].triangle_info[0], (2u << 9) + 7);
    // Cell (0, 1) word 1 fans g4 (vertex (1, 1): grass), g5 (vertex (1, 2): rock, 5 -> 3), g2 (vertex (0, 2): rock).
    EXPECT_EQ(layers[1].triangle_info[1], detail_map_triangle_word(1, 3, 3, 0));

    // Every texture reached the back end whole: a round trip through the codec.
    ASSERT_EQ(fake_texture_count, 3);
    const char *order[] = {"grss", "sand", "rock"};
    const int32_t sizes[3][2] = {{16, 16}, {8, 4}, {32, 8}};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(fake_textures[(size_t)i].width, sizes[i][0]);
        EXPECT_EQ(fake_textures[(size_t)i].height, sizes[i][1]);
        EXPECT_EQ(fake_textures[(size_t)i].encoding, _24bit_rgb_888_texture_encoding);
        EXPECT_EQ(fake_textures[(size_t)i].usage_flags, (uint32_t)DETAIL_TEXTURE_USAGE_FLAGS);
        EXPECT_EQ(fake_textures[(size_t)i].pixels, texture_pixels(sizes[i][0], sizes[i][1], code(order[i])))
            << order[i];
    }
    // Slots by compacted entry: 1 grass, 2 sand, 3 rock; 0 and 4.. empty.
    preallocated_texture *const *handles = hardware_format_detail_textures();
    const float (*scales)[2] = detail_texture_scales();
    EXPECT_EQ(handles[0], nullptr);
    EXPECT_EQ(handles[1], (preallocated_texture *)&fake_textures[0]);
    EXPECT_EQ(handles[2], (preallocated_texture *)&fake_textures[1]);
    EXPECT_EQ(handles[3], (preallocated_texture *)&fake_textures[2]);
    EXPECT_EQ(handles[4], nullptr);
    EXPECT_FLOAT_EQ(scales[1][0], 8.0f / 16);
    EXPECT_FLOAT_EQ(scales[1][1], 8.0f / 16);
    EXPECT_FLOAT_EQ(scales[2][0], 2.0f / 8);
    EXPECT_FLOAT_EQ(scales[2][1], 2.0f / 4);
    EXPECT_FLOAT_EQ(scales[3][0], 4.0f / 32);
    EXPECT_FLOAT_EQ(scales[3][1], 4.0f / 8);
    EXPECT_EQ(scales[0][0], 0.0f);

    toggle_detail_maps();
    EXPECT_FALSE(detail_maps_active());
    toggle_detail_maps();
    EXPECT_TRUE(detail_maps_active());
    dispose_detail_map_data();
    EXPECT_FALSE(detail_maps_active());
    EXPECT_EQ(detail_map_layer_info(&width, &height), nullptr);
    EXPECT_EQ(hardware_format_detail_textures()[1], nullptr);
    toggle_detail_maps(); // no layers: stays off
    EXPECT_FALSE(detail_maps_active());
}

TEST_F(detail_maps_test, a_software_build_computes_the_layers_without_textures)
{
    load_mesh(4, 4, "dval");
    write_texture("grss", 16, 16);
    write_texture("sand", 8, 4);
    write_texture("rock", 32, 8);
    write_map("dval", sample_map());
    load_map();
    EXPECT_TRUE(detail_maps_active());
    int32_t width, height;
    EXPECT_NE(detail_map_layer_info(&width, &height), nullptr);
    EXPECT_EQ(hardware_format_detail_textures()[1], nullptr);
    EXPECT_FLOAT_EQ(detail_texture_scales()[1][0], 0.5f);
}

TEST_F(detail_maps_test, one_missing_texture_clears_every_slot)
{
    register_hardware_rasterizer_procedures(fake_table());
    load_mesh(4, 4, "dval");
    write_texture("grss", 16, 16);
    write_texture("rock", 32, 8); // no "sand"
    write_map("dval", sample_map());
    load_map();
    EXPECT_FALSE(detail_maps_active());
    int32_t width, height;
    EXPECT_EQ(detail_map_layer_info(&width, &height), nullptr);
    for (int i = 0; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        EXPECT_EQ(hardware_format_detail_textures()[i], nullptr);
        EXPECT_EQ(detail_texture_scales()[i][0], 0.0f);
    }
    EXPECT_NE(log().find("Warning: Detail map not applied because some textures could not be found."),
              std::string::npos);
    EXPECT_EQ(take_pending_error(), 0); // errors of the missing texture are not recorded
}

TEST_F(detail_maps_test, detail_maps_and_textures_that_do_not_fit_are_refused)
{
    load_mesh(4, 4, "dval");
    write_texture("grss", 16, 16);
    write_texture("sand", 8, 4);
    write_texture("rock", 32, 8);
    bytes v(16, 1), t(32, 0);
    const bytes good = map_data(4, 4, {{1, "grss", 7}}, v, t);
    auto with_word = [&](const bytes &data, size_t offset, uint32_t value) {
        bytes out = data;
        for (int b = 0; b < 4; ++b) out[offset + (size_t)b] = (uint8_t)(value >> (24 - 8 * b));
        return out;
    };
    auto cut = [&](const bytes &data, size_t size) { return bytes(data.begin(), data.begin() + (long)size); };
    struct
    {
        const char *why;
        bytes data;
    } cases[] = {
        {"smaller than the mesh", map_data(2, 4, {{1, "grss", 7}}, bytes(8, 1), bytes(16, 0))},
        {"wider than 4096", with_word(good, 0, 4097)},
        {"height 0", with_word(good, 4, 0)},
        {"entries past the end", with_word(good, 24, (uint32_t)good.size() - 8000)},
        {"vertex runs past the end", with_word(good, 8, (uint32_t)good.size() + 1)},
        {"triangle runs short", cut(good, good.size() - 1)},
        {"vertex runs short", with_word(good, 8, (uint32_t)good.size() - 1)},
        {"a huge size", with_word(with_word(good, 0, 0xFFFFFFFF), 4, 0xFFFFFFFF)},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.why);
        initialize_detail_map_stores_for_new_map();
        write_map("dval", c.data);
        load_map();
        EXPECT_FALSE(detail_maps_active());
        int32_t width, height;
        EXPECT_EQ(detail_map_layer_info(&width, &height), nullptr);
        EXPECT_NE(log().find("Warning: Detail map"), std::string::npos);
    }

    // Index bytes of 128 or more read as entry 0: the map loads.
    bytes high(16, 1);
    high[5] = 200;
    initialize_detail_map_stores_for_new_map();
    write_map("dval", map_data(4, 4, {{1, "grss", 7}}, high, t));
    load_map();
    EXPECT_TRUE(detail_maps_active());
    dispose_detail_map_data();

    // A texture whose byte count runs past its tag, or whose stream is
    // damaged, keeps the whole map off.
    for (int damage = 0; damage < 2; ++damage)
    {
        initialize_detail_map_stores_for_new_map();
        const bytes px = texture_pixels(16, 16, 1);
        int32_t size;
        uint8_t *data = build_detail_texture_tag_data(px.data(), 16, 16, &size);
        if (damage == 0) data[16] = (uint8_t)(data[16] + 1); // one byte more than the tag holds
        else memset(data + 20, 0xFF, (size_t)size - 20); // endless one-bits
        write_local_tag(DETAIL_TEXTURE_GROUP_TAG, "grss", DETAIL_TEXTURE_VERSION, data, size);
        free(data);
        write_map("dval", good);
        load_map();
        EXPECT_FALSE(detail_maps_active()) << damage;
    }
    EXPECT_NE(log().find("detail texture grss refused"), std::string::npos);
}

TEST_F(detail_maps_test, the_demo_valley_has_a_detail_map_made_by_the_data_tool)
{
    if (!std::filesystem::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    std::vector<test_tag> tags;
    ASSERT_TRUE(make_demo_map_tags(tool, &tags));
    register_hardware_rasterizer_procedures(fake_table());
    int32_t detail_tags = 0;
    for (const test_tag &t : tags)
    {
        if (t.group_tag == FOUR_CHARACTER_CODE('m', 'e', 's', 'h'))
        {
            initialize_mesh();
            ASSERT_TRUE(load_mesh_from_memory(t.data.data(), (int32_t)t.data.size()));
        }
        if (t.group_tag == DETAIL_MAP_GROUP_TAG || t.group_tag == DETAIL_TEXTURE_GROUP_TAG)
        {
            const std::string subgroup = tag_to_string(t.subgroup_tag);
            write_local_tag(t.group_tag, subgroup.c_str(), t.version, t.data.data(), (int32_t)t.data.size());
            ++detail_tags;
        }
    }
    ASSERT_EQ(detail_tags, 4); // the map and its three textures
    ASSERT_EQ(get_mesh_header()->landscape_collection_tag, code("dval"));
    load_map();
    ASSERT_TRUE(detail_maps_active());
    int32_t width, height;
    const mesh_cell_detail_info *layers = detail_map_layer_info(&width, &height);
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(width, mesh_width);
    EXPECT_EQ(height, mesh_height);
    EXPECT_EQ(fake_texture_count, 3);
    // Grass covers most of the valley: entry 1 is in use in most words.
    int32_t grass = 0;
    for (int32_t i = 0; i < width * height; ++i)
        for (uint32_t word : layers[i].triangle_info)
            if (((word >> 9) & 127) == 1) ++grass;
    EXPECT_GT(grass, width * height);
}

} // namespace detail_maps_test_file
