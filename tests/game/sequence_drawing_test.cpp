// Sprites of collections drawn into a frame: where draw_bitmap_from_sequence
// puts a bitmap for every justification, inset and registration point, and
// which tile of a nine-part frame tile_and_bevel_rectangle puts where, with
// each tile painted its own colour so the picture names the tile at every
// pixel.  The placements in the tables are worked out by hand.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "bitmap_drawing.h"
#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "tag_files/tag_files.h"

namespace sequence_drawing_test_file {

namespace {

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');

// Tile sizes (width, height) of the nine states, all different so that every
// inset a corner records shows in the picture.
const int16_t tile_size[NUMBER_OF_TILE_RECTANGLE_STATES][2] = {
    {4, 4}, // centre
    {3, 2}, {2, 3}, {4, 2}, {3, 3}, // top-left, top-right, bottom-left, bottom-right corners
    {2, 2}, {2, 2}, {2, 1}, {1, 2}, // top, left, bottom, right bevels
};
// Colour indexes: tile state s is painted s + 1; the centre tile's top-left
// pixel is MARKER so the tiling origin shows; the sprite is SPRITE with its
// top-left pixel SPRITE_CORNER.
enum
{
    MARKER = 10,
    SPRITE = 11,
    SPRITE_CORNER = 12,
    SPRITE_WIDTH = 5,
    SPRITE_HEIGHT = 3,
    SPRITE_REGISTRATION_X = 1,
    SPRITE_REGISTRATION_Y = 2,
    TILE_SEQUENCE = 0,
    SPRITE_SEQUENCE = 1,
};

builder_collection tile_collection(void)
{
    builder_collection c;
    c.colors.color_count = 13;
    for (int32_t i = 1; i < 13; ++i)
        c.colors.colors[i] = {(uint16_t)(i * 5000), (uint16_t)(65535 - i * 5000), (uint16_t)(i & 1 ? 60000 : 9000), 0};
    for (int32_t s = 0; s < NUMBER_OF_TILE_RECTANGLE_STATES; ++s)
    {
        builder_bitmap tile = new_builder_bitmap("tile", tile_size[s][0], tile_size[s][1], _builder_flat_8bit, (uint16_t)(s + 1));
        if (s == _tile_rectangle_center) tile.pixels[0] = MARKER;
        c.bitmaps.push_back(tile);
    }
    builder_bitmap sprite = new_builder_bitmap("sprite", SPRITE_WIDTH, SPRITE_HEIGHT, _builder_flat_8bit, SPRITE);
    sprite.pixels[0] = SPRITE_CORNER;
    c.bitmaps.push_back(sprite);

    shadow_map_data shadow = {};
    c.shadow_maps.push_back(shadow);
    builder_sequence tiles = new_builder_sequence("tiles");
    tiles.data.number_of_views = 1;
    tiles.data.pixels_to_world = 0x10000;
    for (int16_t s = 0; s < NUMBER_OF_TILE_RECTANGLE_STATES; ++s)
    {
        c.instances.push_back(builder_instance(s, 0, 0, 0, 0));
        tiles.frames.push_back({(int16_t)(c.instances.size() - 1)});
        tiles.frame_shadow_maps.push_back(0);
    }
    EXPECT_EQ(complete_builder_sequence(&tiles, &c), nullptr);
    c.sequences.push_back(tiles);
    builder_sequence sprites = new_builder_sequence("sprite");
    sprites.data.number_of_views = 1;
    sprites.data.pixels_to_world = 0x10000;
    c.instances.push_back(builder_instance(NUMBER_OF_TILE_RECTANGLE_STATES, SPRITE_REGISTRATION_X, SPRITE_REGISTRATION_Y, 0, 0));
    sprites.frames.push_back({(int16_t)(c.instances.size() - 1)});
    sprites.frame_shadow_maps.push_back(0);
    EXPECT_EQ(complete_builder_sequence(&sprites, &c), nullptr);
    c.sequences.push_back(sprites);
    return c;
}

// The picture as colour indexes (0: untouched).
typedef std::vector<std::vector<int32_t>> picture;

class sequence_drawing : public store_fixture::store_test
{
protected:
    int32_t collection = NONE;
    std::map<uint32_t, int32_t> index_of_pixel; // the screen pixel of each colour index

    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
        reset_shading_table_permutation_data();
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.bit_depth = 32;
        active_screen.encoding = _32bit_encoding;
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        const std::vector<uint8_t> bytes = build_collection_tag_data(tile_collection());
        write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        initialize_shapes_for_new_map();
        collection = get_collection_index(COLL);
        ASSERT_NE(collection, NONE);
        const uint32_t *table = (const uint32_t *)temporary_shading_table(collection, nullptr, 0, true);
        ASSERT_NE(table, nullptr);
        for (int32_t i = 1; i <= SPRITE_CORNER; ++i) index_of_pixel[table[i]] = i;
        ASSERT_EQ(index_of_pixel.size(), (size_t)SPRITE_CORNER) << "every colour a distinct pixel";
        ASSERT_EQ(index_of_pixel.count(0), 0u);
    }
    void TearDown() override
    {
        active_screen = initial_active_screen();
        dispose_shapes_from_old_map();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    // What the bitmap shows, as colour indexes (NONE for a pixel of no colour).
    picture read(const bitmap_data *b)
    {
        picture p(b->height, std::vector<int32_t>(b->width, 0));
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x)
            {
                uint32_t v;
                memcpy(&v, b->row_addresses[y] + 4 * x, 4);
                if (v == 0) continue;
                const auto found = index_of_pixel.find(v);
                p[y][x] = found == index_of_pixel.end() ? NONE : found->second;
            }
        return p;
    }
};

bitmap_data *blank(int16_t w, int16_t h)
{
    bitmap_data *b = new_bitmap(w, h, 0, _32bit_encoding, 0);
    memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * h);
    return b;
}

void fill(picture *p, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t value, const rectangle2d &clip)
{
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x)
            if (x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom) (*p)[y][x] = value;
}

TEST_F(sequence_drawing, bitmaps_are_placed_by_justification_inset_and_registration_point)
{
    const rectangle2d ten = {0, 0, 10, 10};
    struct placement
    {
        rectangle2d frame;
        uint32_t flags;
        int16_t inset;
        int32_t x, y;
    } placements[] = {
        // Centred: the odd pixel of room falls on the left and the top.
        {ten, 0, 0, 3, 4},
        {ten, _draw_bitmap_crossfade_flag, 0, 3, 4},
        {{3, 1, 12, 12}, 0, 7, 4, 6}, // the inset only moves a justified edge
        {ten, _draw_bitmap_left_justified_flag | _draw_bitmap_top_justified_flag, 2, 2, 2},
        {ten, _draw_bitmap_right_justified_flag | _draw_bitmap_bottom_justified_flag, 1, 4, 6},
        // Right wins over left, top over bottom.
        {ten, 0xF, 0, 5, 0},
        // The registration point moves to where the centre was.
        {ten, _draw_bitmap_respect_registration_point_flag, 0, 4, 3},
        {ten, _draw_bitmap_respect_registration_point_flag | _draw_bitmap_right_justified_flag, 1, 5, 3},
        // Partly outside the destination: the visible part lands where it would.
        {{-2, -4, 1, 0}, _draw_bitmap_left_justified_flag | _draw_bitmap_top_justified_flag, 1, -3, -1},
    };
    const rectangle2d whole = {0, 0, 14, 16};
    bitmap_data *b = blank(16, 14);
    for (const placement &p : placements)
        for (uint32_t adjust : {0u, (uint32_t)_draw_bitmap_return_adjusted_bounds_flag})
        {
            SCOPED_TRACE(testing::Message() << "flags " << (p.flags | adjust) << " frame " << p.frame.left << ","
                                            << p.frame.top << " inset " << p.inset);
            memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
            rectangle2d frame = p.frame;
            draw_bitmap_from_sequence(b, collection, SPRITE_SEQUENCE, 0, 0, &frame, nullptr, nullptr, 0,
                                      _transparency_normal, p.flags | adjust, p.inset);
            picture want(14, std::vector<int32_t>(16, 0));
            fill(&want, p.x, p.y, p.x + SPRITE_WIDTH, p.y + SPRITE_HEIGHT, SPRITE, whole);
            fill(&want, p.x, p.y, p.x + 1, p.y + 1, SPRITE_CORNER, whole);
            ASSERT_EQ(read(b), want);
            const rectangle2d drawn = {(int16_t)p.y, (int16_t)p.x, (int16_t)(p.y + SPRITE_HEIGHT), (int16_t)(p.x + SPRITE_WIDTH)};
            EXPECT_TRUE(equal_rectangle2d(&frame, adjust ? &drawn : &p.frame));
        }

    // A clip holds the copy; an explicit table colours it instead of the collection's colours.
    memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
    std::vector<uint32_t> explicit_table(256, 0);
    explicit_table[SPRITE] = 0xFF0000AAu;
    explicit_table[SPRITE_CORNER] = 0xFF0000BBu;
    rectangle2d frame = ten;
    const rectangle2d clip = {0, 0, 5, 5};
    draw_bitmap_from_sequence(b, collection, SPRITE_SEQUENCE, 0, 0, &frame, &clip, explicit_table.data(), 0,
                              _transparency_normal, _draw_bitmap_explicit_shading_table_provided_flag, 0);
    for (int32_t y = 0; y < 14; ++y)
        for (int32_t x = 0; x < 16; ++x)
        {
            uint32_t v;
            memcpy(&v, b->row_addresses[y] + 4 * x, 4);
            const uint32_t want = x == 3 && y == 4 ? 0xFF0000BBu : x >= 3 && x < 5 && y == 4 ? 0xFF0000AAu : 0;
            ASSERT_EQ(v, want) << x << "," << y;
        }

    // No such sequence: nothing drawn, the frame left alone.
    memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
    const picture empty = read(b);
    for (int32_t sequence : {(int32_t)NONE, 7})
    {
        frame = ten;
        draw_bitmap_from_sequence(b, collection, sequence, 0, 0, &frame, nullptr, nullptr, 0, _transparency_normal,
                                  _draw_bitmap_return_adjusted_bounds_flag, 0);
        EXPECT_EQ(read(b), empty) << sequence;
        EXPECT_TRUE(equal_rectangle2d(&frame, &ten));
    }
    clear_pending_error();
    free(b);
}

// The picture of the frame below: bounds 13 x 11 at (5, 4), each state's
// tiles painted over what came before, in the drawing order.
picture expected_frame(const int16_t *map, const rectangle2d &clip)
{
    struct layer
    {
        int32_t state, left, top, right, bottom;
    } layers[] = {
        {_tile_rectangle_center, 5, 4, 18, 15},
        // Each corner in its own corner of the bounds.
        {_tile_rectangle_top_left_corner, 5, 4, 8, 6},
        {_tile_rectangle_top_right_corner, 16, 4, 18, 7},
        {_tile_rectangle_bottom_left_corner, 5, 13, 9, 15},
        {_tile_rectangle_bottom_right_corner, 15, 12, 18, 15},
        // Each bevel between the corners of its edge: the top from x 8 to 16
        // in four tiles; the left from y 6 to 13, whose fourth tile reaches
        // into the corner below (only the bounds hold the last tile); the
        // bottom from x 9 to 15; the right from y 7 to 12, its third tile
        // reaching y 13.
        {_tile_rectangle_top_bevel, 8, 4, 16, 6},
        {_tile_rectangle_left_bevel, 5, 6, 7, 14},
        {_tile_rectangle_bottom_bevel, 9, 14, 15, 15},
        {_tile_rectangle_right_bevel, 17, 7, 18, 13},
    };
    picture p(20, std::vector<int32_t>(24, 0));
    for (int32_t i = 0; i < NUMBER_OF_TILE_RECTANGLE_STATES; ++i)
    {
        const int32_t state = map ? map[i] : i;
        if (state == NONE) continue;
        const layer &l = layers[state];
        fill(&p, l.left, l.top, l.right, l.bottom, state + 1, clip);
        if (state == _tile_rectangle_center)
            for (int32_t y = l.top; y < l.bottom; y += 4)
                for (int32_t x = l.left; x < l.right; x += 4) fill(&p, x, y, x + 1, y + 1, MARKER, clip);
    }
    return p;
}

TEST_F(sequence_drawing, each_tile_state_lands_in_its_part_of_the_frame)
{
    const rectangle2d bounds = {4, 5, 15, 18};
    const rectangle2d everything = {-100, -100, 100, 100};
    bitmap_data *b = blank(24, 20);
    auto draw = [&](const rectangle2d *clip, const int16_t *map) {
        memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
        tile_and_bevel_rectangle(b, collection, TILE_SEQUENCE, 0, &bounds, clip, nullptr, 0, _transparency_normal, map);
        return read(b);
    };
    EXPECT_EQ(draw(nullptr, nullptr), expected_frame(nullptr, everything));

    // A state map: NONE leaves that part undrawn, and the order is the map's.
    const int16_t no_top_bevel[] = {0, 1, 2, 3, 4, NONE, 6, 7, 8};
    EXPECT_EQ(draw(nullptr, no_top_bevel), expected_frame(no_top_bevel, everything));
    const int16_t no_centre[] = {NONE, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(draw(nullptr, no_centre), expected_frame(no_centre, everything));
    const int16_t centre_last[] = {1, 2, 3, 4, 5, 6, 7, 8, 0};
    EXPECT_EQ(draw(nullptr, centre_last), expected_frame(centre_last, everything));

    // A clip cuts the same picture; a clip apart from the bounds draws nothing.
    const rectangle2d clip = {6, 0, 13, 16};
    EXPECT_EQ(draw(&clip, nullptr), expected_frame(nullptr, clip));
    const rectangle2d apart = {0, 0, 3, 24};
    EXPECT_EQ(draw(&apart, nullptr), picture(20, std::vector<int32_t>(24, 0)));
    free(b);
}

} // namespace

} // namespace sequence_drawing_test_file
