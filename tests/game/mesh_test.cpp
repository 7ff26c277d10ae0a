#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "tag_files/collection_procedures.h"
#include "terrain_overlay_procedures.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "vesk_random.h"

namespace mesh_test_file {

namespace {

// A width x height map whose vertex (x, y) is 10x + 100y high, with two
// palette entries, a marker per team and one empty map action.
struct synthetic_map
{
    mesh_builder_input input;
    std::vector<mesh_cell> cells;
    mesh_marker_palette_entry palette[2];
    mesh_marker markers[2];
    uint8_t map_action[64 + 8];
    std::vector<uint8_t> bytes;

    synthetic_map(int16_t width, int16_t height)
    {
        memset(&input, 0, sizeof(input));
        cells.resize((size_t)width * height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) cells[x + y * width] = {0, (int16_t)(10 * x + 100 * y), 0, 0, 0, 0};
        mesh_header &h = input.header;
        h.mesh_width = width;
        h.mesh_height = height;
        h.team_count = 2;
        h.flags = _mesh_is_single_player_entry_point_flag | 3;
        h.landscape_collection_tag = FOUR_CHARACTER_CODE('l', 'a', 'n', 'd');
        h.reverb_environment = NONE;
        h.fog_density = 0.25f;
        h.transition_point = FIXED_ONE / 2;
        strcpy(h.printed_name, "Synthetic Ridge");
        for (int i = 0; i < 2; i++)
        {
            palette[i] = {_marker_monster, (int16_t)i, 0, FOUR_CHARACTER_CODE('u', 'n', 'i', 't'), NONE, 0};
            markers[i] = {_marker_monster, (int16_t)i, (int16_t)(i + 1), 0, 0, {600, 700 + i, 5}, 16384, 0, NONE, 0};
        }
        memset(map_action, 0, sizeof(map_action));
        write_be16(map_action, 1);
        write_be16(map_action + 22, 8); // parameters_size: one empty entry
        input.palette = palette;
        input.palette_count = 2;
        input.markers = markers;
        input.marker_count = 2;
        input.map_actions = map_action;
        input.map_action_count = 1;
        input.map_action_size = sizeof(map_action);
    }

    // Lays the tag out; cells must be final before this.
    const std::vector<uint8_t> &build()
    {
        input.cells = cells.data();
        int32_t size = 0;
        uint8_t *data = build_mesh_tag_data(&input, &size);
        EXPECT_NE(data, nullptr);
        bytes.assign(data, data + size);
        free(data);
        return bytes;
    }
    mesh_cell &cell(int x, int y) { return cells[x + y * input.header.mesh_width]; }
};

class mesh_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        initialize_mesh();
        clear_pending_error();
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        clear_pending_error();
    }
    static int32_t pending_code()
    {
        int32_t code = 0;
        return error_pending(&code, nullptr, 0) ? code : 0;
    }
};

TEST_F(mesh_test, synthetic_map_loads_with_its_sizes_header_and_blocks)
{
    synthetic_map map(34, 30);
    map.cell(5, 5).height = -77;
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    EXPECT_EQ(mesh_width, 34);
    EXPECT_EQ(mesh_height, 30);
    EXPECT_EQ(submesh_width, 2);
    EXPECT_EQ(submesh_height, 1);
    EXPECT_EQ(mesh_tile_width, 3);
    EXPECT_EQ(mesh_tile_height, 3);
    EXPECT_EQ(min_cell_height, -77);
    const mesh_header *header = get_mesh_header();
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->printed_name, "Synthetic Ridge");
    EXPECT_EQ(header->landscape_collection_tag, FOUR_CHARACTER_CODE('l', 'a', 'n', 'd'));
    EXPECT_EQ(header->fog_density, 0.25f);
    EXPECT_EQ(header->transition_point, FIXED_ONE / 2);
    EXPECT_EQ(header->media_type, NONE);
    EXPECT_EQ(get_mesh_cell(3, 2)->height, 230);
    EXPECT_EQ(get_mesh_cell(3, 2)->first_object_index, NONE);

    int32_t count, size;
    const mesh_marker *markers = get_mesh_markers(&count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(markers[1].position.y, 701);
    EXPECT_EQ(markers[1].yaw, 16384);
    EXPECT_EQ(get_mesh_marker_palette_entries(&count)[1].team_index, 1);
    const uint8_t *actions = (const uint8_t *)get_mesh_map_action_block(&count, &size);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 72);
    EXPECT_EQ(read_be16(actions), 1); // left as stored for the importer

    mesh_header only;
    EXPECT_TRUE(read_mesh_header_from_memory(bytes.data(), MESH_HEADER_SIZE, &only));
    EXPECT_EQ(only.team_count, 2);
}

// Big-endian edits of a sound tag; each must be refused with code 10 and
// leave the map loaded before it in place.
TEST_F(mesh_test, corrupted_meshes_are_refused_and_the_old_map_stays)
{
    synthetic_map map(4, 4);
    map.cell(1, 1).flags = _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag;
    const std::vector<uint8_t> good = map.build();
    const int32_t cells = (int32_t)read_be32(&good[112]);
    const int32_t actions = (int32_t)read_be32(&good[132]), coverage = (int32_t)read_be32(&good[140]);
    const int32_t markers = (int32_t)read_be32(&good[156]);
    ASSERT_GT(coverage, 0);

    struct corruption
    {
        const char *name;
        std::function<void(std::vector<uint8_t> &)> apply;
    };
    auto set16 = [](int32_t at, int v) { return [=](std::vector<uint8_t> &b) { write_be16(&b[at], (uint16_t)v); }; };
    auto set32 = [](int32_t at, int64_t v) { return [=](std::vector<uint8_t> &b) { write_be32(&b[at], (uint32_t)v); }; };
    const corruption corruptions[] = {
        {"odd width", set16(8, 5)},
        {"zero height", set16(10, 0)},
        {"huge width", set16(8, 2048)},
        {"negative height", set16(10, -4)},
        {"too many teams", set16(12, 17)},
        {"camera zone wider than the map", set16(18, 3)},
        {"cells size disagrees", set32(116, 4 * 4 * 12 - 12)},
        {"cells outside the tag", set32(112, (int64_t)good.size() - 12)},
        {"cells inside the header", set32(112, 1000)},
        {"cells unaligned", set32(112, cells + 2)},
        {"negative offset", set32(120, -8)},
        {"LOD overlaps cells", set32(120, cells + 12)},
        {"LOD size disagrees", set32(124, 6)},
        {"too many map actions", set32(128, 1025)},
        {"map actions larger than their block", set32(128, 2)},
        {"parameter area overflows its buffer", set32(136, 64 + 98304)},
        {"parameters beyond the area", set32(actions + 24, 4)},
        {"negative parameter count", set16(actions + 20, -1)},
        {"odd coverage size", set32(144, 3)},
        {"coverage row does not increase",
         [=](std::vector<uint8_t> &b) {
             int32_t at = coverage;
             while (read_be16(&b[at]) == 32) at += 2; // the first row with media
             write_be16(&b[at + 2], read_be16(&b[at]));
         }},
        {"coverage beyond the width", set16(coverage, 33)},
        {"coverage size cuts a row", set32(144, (int64_t)read_be32(&good[144]) - 2)},
        {"negative marker count", set32(160, -1)},
        {"marker palette index out of range", set16(markers + 32 + 2, 2)},
        {"marker type out of range", set16(markers, 99)},
        {"marker difficulty", set16(markers + 6, 5)},
        {"palette team", set16((int32_t)read_be32(&good[148]) + 2, 16)},
        {"unit marker of player 16", set16(markers + 28, 16)},
        {"unit marker of player -2", set16(markers + 32 + 28, -2)},
        {"unit palette entry of player 16", set16((int32_t)read_be32(&good[148]) + 16 + 12, 16)},
        {"reverb environment", set32(164, 26)},
        {"tag cut short", [](std::vector<uint8_t> &b) { b.resize(b.size() - 4); }},
        {"tag smaller than a header", [](std::vector<uint8_t> &b) { b.resize(1000); }},
    };

    synthetic_map other(6, 8);
    const std::vector<uint8_t> loaded = other.build();
    ASSERT_TRUE(load_mesh_from_memory(loaded.data(), (int32_t)loaded.size()));
    for (const corruption &c : corruptions)
    {
        std::vector<uint8_t> bytes = good;
        c.apply(bytes);
        clear_pending_error();
        EXPECT_FALSE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size())) << c.name;
        EXPECT_EQ(pending_code(), _error_data_corrupted) << c.name;
        EXPECT_EQ(mesh_width, 6) << c.name;
        EXPECT_EQ(get_mesh_cell(5, 7)->height, 750) << c.name;
    }
    clear_pending_error();
    EXPECT_TRUE(load_mesh_from_memory(good.data(), (int32_t)good.size()));
    EXPECT_EQ(pending_code(), 0);
    // The last player a game can have owns a unit.
    std::vector<uint8_t> last = good;
    write_be16(&last[markers + 28], 15);
    write_be16(&last[(int32_t)read_be32(&good[148]) + 12], 15);
    EXPECT_TRUE(load_mesh_from_memory(last.data(), (int32_t)last.size()));
    EXPECT_EQ(pending_code(), 0);
}

TEST_F(mesh_test, heights_at_corners_edges_and_both_triangles)
{
    synthetic_map map(4, 4);
    // Cell (0, 0) has its diagonal from (0,0) to (1,1); cell (1, 0) from (1,0) to (0,1).
    map.cell(1, 1).height = 600; // off the plane, so the two triangles differ
    map.cell(2, 0).flags = _mesh_cell_triangle0_is_media_flag;
    map.cell(2, 0).media_height = 500;
    map.cell(1, 2).flags = _mesh_cell_triangle1_is_media_flag; // the other diagonal
    map.cell(1, 2).media_height = 700;
    map.cell(3, 3).flags = _mesh_cell_is_not_rendered_flag;
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));

    const struct { int32_t x, y, type; world_distance expected; } cases[] = {
        {0, 0, _mesh_ground_height, 0},
        {512, 512, _mesh_ground_height, 600},          // a vertex
        {1024, 0, _mesh_ground_height, 20},
        {256, 0, _mesh_ground_height, 5},               // midpoint of the top edge
        {0, 256, _mesh_ground_height, 50},              // midpoint of the left edge
        {256, 256, _mesh_ground_height, 300},           // on the diagonal of cell (0, 0)
        {100, 400, _mesh_ground_height, (100 * 500 + 400 * 100) >> 9},     // triangle 0: (0,0) (0,1) (1,1)
        {400, 100, _mesh_ground_height, (400 * 10 + 100 * 590) >> 9},      // triangle 1: (0,0) (1,0) (1,1)
        {512 + 100, 100, _mesh_ground_height, 10 + ((100 * 10 + 100 * 590) >> 9)}, // cell (1,0) triangle 0
        {512 + 400, 400, _mesh_ground_height, 120 + ((480 * 112 - 100 * 112) >> 9)}, // cell (1,0) triangle 1
        {1990, 1990, _mesh_ground_height, 330},         // last cell: flat
        {1536 + 256, 512 + 256, _mesh_ground_height, 180}, // last column: its far vertices are its own
        {512 + 256, 1536 + 256, _mesh_ground_height, 315}, // last row
        {1024 + 50, 300, _media_height, 500},          // media triangle
        {1024 + 400, 100, _media_height, MESH_NO_HEIGHT}, // the other triangle is dry
        {512 + 400, 1024 + 400, _media_height, 700},      // triangle 1 of an odd cell
        {512 + 50, 1024 + 50, _media_height, MESH_NO_HEIGHT},
        {1024 + 50, 300, _mesh_surface_height, 500},
        {1024 + 400, 100, _mesh_surface_height, (20 * 512 + 400 * 10 + 100 * 100) >> 9},
        {1536 + 10, 1536 + 10, _mesh_surface_height, MESH_NO_HEIGHT}, // not rendered
        {-1, 0, _mesh_ground_height, MESH_NO_HEIGHT},
        {0, 2048, _mesh_surface_height, MESH_NO_HEIGHT},
        {INT32_MIN, INT32_MAX, _media_height, MESH_NO_HEIGHT},
        {100, 100, 7, MESH_NO_HEIGHT},
    };
    for (const auto &c : cases)
    {
        world_point2d p = {c.x, c.y};
        EXPECT_EQ(get_mesh_height(&p, c.type), c.expected) << c.x << "," << c.y << " type " << c.type;
    }
}

TEST_F(mesh_test, terrain_types_follow_the_alternating_diagonal)
{
    synthetic_map map(4, 4);
    map.cell(0, 0).flags = 1 | (2 << 4);
    map.cell(1, 0).flags = 3 | (4 << 4);
    map.cell(3, 3).flags = 5 | (6 << 4);
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    const struct { int32_t x, y, type; } cases[] = {
        {100, 400, 1}, {400, 100, 2}, {200, 200, 2},            // parity 0: triangle 0 when fx < fy
        {512 + 100, 100, 3}, {512 + 400, 400, 4},               // parity 1: triangle 0 when fx + fy < 511
        {512 + 300, 210, 3}, {512 + 300, 211, 4},
        {-5000, -1, 2}, {99999, 99999, 6},                      // off the map: the nearest point on it
    };
    for (const auto &c : cases)
    {
        world_point2d p = {c.x, c.y};
        EXPECT_EQ(get_mesh_terrain_type(&p), c.type) << c.x << "," << c.y;
    }
    mesh_cell *outside = get_mesh_cell(-1, 2);
    outside->height = 999;
    outside->first_object_index = 12;
    EXPECT_EQ(get_mesh_cell(4, 0)->height, 0);
    EXPECT_EQ(get_mesh_cell(4, 0)->first_object_index, NONE);
    EXPECT_TRUE(get_mesh_cell(0, 4)->flags & _mesh_cell_is_not_rendered_flag);
}

TEST_F(mesh_test, level_of_detail_words_agree_on_shared_edges)
{
    synthetic_map map(8, 8);
    map.cell(3, 3).height = 900; // the centre of block (2, 2) rises
    map.cell(6, 1).flags = _mesh_cell_triangle0_is_media_flag;
    map.cell(0, 6).flags = _mesh_cell_is_not_rendered_flag;
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    const uint16_t *words = get_mesh_LOD_data();
    EXPECT_EQ(get_mesh_LOD_word_index(5, 7), 2 + 4 * 3);
    EXPECT_EQ(get_mesh_LOD_word_index(8, 0), NONE);

    EXPECT_EQ(words[0] & 0xF, 0);                        // a flat block: two large triangles
    EXPECT_EQ(words[0] & 0xF0, 0xF0);
    EXPECT_EQ(words[1 + 4 * 1] & 0xF, 0xF);              // the raised block
    EXPECT_EQ(words[3] >> 8, 1 << 6);                     // cell 3 of block (6, 0), triangle 0
    EXPECT_EQ(words[3] & 0xF, 0xF);                       // mixed media needs the fan
    for (int by = 0; by < 4; by++)
        for (int bx = 0; bx < 4; bx++)
        {
            uint16_t w = words[bx + 4 * by];
            if (bx + 1 < 4)
            {
                EXPECT_EQ((w >> 1) & 1, (words[bx + 1 + 4 * by] >> 3) & 1) << bx << "," << by;
            }
            if (by + 1 < 4)
            {
                EXPECT_EQ((w >> 2) & 1, words[bx + 4 * (by + 1)] & 1) << bx << "," << by;
            }
        }
    EXPECT_EQ(words[0 + 4 * 3] & 0xF0, 0xF0 & ~0x10);    // cell (0, 6) hidden
}

// The renderer's media test over the coverage region.
bool texel_is_media_by_region(const uint16_t *values, int32_t size, int32_t x, int32_t y)
{
    const int32_t W = mesh_width * 8;
    int32_t position = 0;
    for (int32_t row = 0; row < y; row++)
        while (values[position++] < W) {}
    (void)size;
    const uint16_t *b = values + position;
    if (x <= b[0]) return false;
    int32_t k = 1;
    while (b[k] < x) k++;
    return (k & 1) != 0;
}

TEST_F(mesh_test, coverage_region_matches_the_media_triangles)
{
    synthetic_map map(6, 4);
    map.cell(2, 1).flags = _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag;
    map.cell(3, 1).flags = _mesh_cell_triangle1_is_media_flag;
    map.cell(0, 2).flags = _mesh_cell_triangle0_is_media_flag; // touches column 0
    map.cell(5, 3).flags = _mesh_cell_triangle1_is_media_flag; // touches the last column
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    int32_t size;
    const uint16_t *values = get_media_coverage_region(&size);
    ASSERT_NE(values, nullptr);
    for (int32_t y = 0; y < 32; y++)
        for (int32_t x = 0; x < 48; x++)
        {
            world_point2d centre = {x * 64 + 32, y * 64 + 32};
            bool expected = x > 0 && get_mesh_height(&centre, _media_height) != MESH_NO_HEIGHT;
            ASSERT_EQ(texel_is_media_by_region(values, size, x, y), expected) << x << "," << y;
        }
}

std::vector<permanent_overlay_data> stains;
void record_stain(const permanent_overlay_data *overlay) { stains.push_back(*overlay); }
uint8_t landscape_bitmaps[8][16];
uint8_t *landscape_bitmap(int32_t index) { return index < 8 ? landscape_bitmaps[index] : nullptr; }

TEST_F(mesh_test, stains_draw_their_generator_even_off_the_map_and_submesh_maps_are_bounded)
{
    synthetic_map map(66, 34); // 3 x 2 submeshes
    const std::vector<uint8_t> &bytes = map.build();
    ASSERT_TRUE(load_mesh_from_memory(bytes.data(), (int32_t)bytes.size()));
    stains.clear();
    static const terrain_overlay_procedures overlays = {.permanent_overlay = record_stain};
    register_terrain_overlay_procedures(&overlays);
    set_random_seed(99);
    set_local_random_seed(77);
    const uint16_t first_synchronized = vesk_random();
    const uint16_t first_local = local_random();
    set_random_seed(99);
    set_local_random_seed(77);
    reset_random_draw_counts();
    world_point2d on = {1000, 2000}, off = {-1, 2000};
    stain_mesh(4, 2, &on);
    stain_mesh(4, 2, &off);
    local_stain_mesh(4, 3, &on);
    bloody_mesh(&on); // no blood collection loaded: draws locally, paints nothing
    EXPECT_EQ(get_vesk_random_draw_count(), 2u);
    EXPECT_EQ(get_local_random_draw_count(), 2u);
    ASSERT_EQ(stains.size(), 2u);
    EXPECT_EQ(stains[0].index, first_synchronized);
    EXPECT_EQ(stains[0].origin.x, 1000 >> 6);
    EXPECT_EQ(stains[0].origin.y, 2000 >> 6);
    EXPECT_EQ(stains[1].sequence_index, 3);
    EXPECT_EQ(stains[1].index, first_local);

    static const collection_procedures landscape = {.landscape_bitmap = landscape_bitmap};
    register_collection_procedures(&landscape);
    EXPECT_EQ(get_submesh_color_map_base_address(3, false), landscape_bitmaps[6]);
    EXPECT_EQ(get_submesh_shadow_map_base_address(3, false), landscape_bitmaps[7]);
    EXPECT_EQ(get_submesh_color_map_base_address(-1, false), nullptr);
    EXPECT_EQ(get_submesh_color_map_base_address(6, false), nullptr);
    EXPECT_EQ(get_mesh_media_projectile_group_type(2), NONE);
    clear_all_registrations();
}

} // namespace

} // namespace mesh_test_file
