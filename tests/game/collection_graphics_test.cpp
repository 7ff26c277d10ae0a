// Collections as drawing sees them: every stored form the data tools write
// loads back through the registry into ready bitmaps that answer the lookups
// the description implies; shading tables, recolouring, write-back, refusal of
// bitmaps that do not add up, and the landscape of the demo map.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "collection_builder.h"
#include "collection_references.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "screen.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"

namespace collection_graphics_test_file {

namespace {

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');

// Two colours a hue change recolours (reds), a grey, and the palette strip.
builder_collection sample_collection(void)
{
    builder_collection c;
    c.colors.color_count = 8;
    c.colors.colors[1] = {50000, 10000, 10000, 0};
    c.colors.colors[2] = {30000, 5000, 8000, 0};
    c.colors.colors[3] = {30000, 30000, 30000, 0};
    c.colors.colors[4] = {0, 40000, 0, 0};
    hue_change change = {};
    strcpy(change.name, "cloak");
    change.hue0 = 60000;
    change.hue1 = 2000; // wraps through red
    change.minimum_saturation = 1000;
    change.median_hue = 0;
    change.flags = _hue_change_primary_flag;
    update_colors_effected_by_hue_change(&c.colors, &change);
    c.hue_changes.push_back(change);

    // 0: flat 8-bit with a transparent corner; 1: run-length; 2: run-length
    // with nibbles; 3: flat nibbles; 4: 16-bit; 5: a palette strip.
    builder_bitmap flat = new_builder_bitmap("Flat", 6, 4, _builder_flat_8bit, 3);
    flat.pixels[0] = 0;
    builder_bitmap rle = new_builder_bitmap("Body", 9, 7, _builder_rle_8bit, BUILDER_TRANSPARENT);
    builder_fill_ellipse(&rle, 4, 3, 3, 2, 1);
    builder_outline(&rle, 2);
    builder_bitmap glow = new_builder_bitmap("Glow", 5, 3, _builder_rle_8bit_nibble, BUILDER_TRANSPARENT);
    builder_fill_rectangle(&glow, 1, 0, 4, 3, 0x0301);
    glow.pixels[2] = 0x0F01;
    builder_bitmap soft = new_builder_bitmap("Soft", 3, 2, _builder_flat_8bit_nibble, 0x0502);
    builder_bitmap deep = new_builder_bitmap("Deep", 3, 2, _builder_flat_16bit, 0xF800);
    deep.pixels[5] = 0x07E0;
    builder_bitmap strip = new_builder_bitmap("Strip", 4, 1, _builder_flat_8bit, 0);
    builder_vertical_gradient(&strip, 0, 0, 4, 1, 4, 4);
    strip.pixels[1] = 1;
    for (const builder_bitmap &b : {flat, rle, glow, soft, deep, strip}) c.bitmaps.push_back(b);

    shadow_map_data shadow = {};
    shadow.bitmap_index = 0;
    c.shadow_maps.push_back(shadow);
    // Sequences of 1, 2, 5 and 8 views (the last two mirrored), several frames.
    auto sequence = [&](const char *name, int16_t views, uint32_t flags, int32_t frames) {
        builder_sequence s = new_builder_sequence(name);
        s.data.number_of_views = views;
        s.data.flags = flags;
        s.data.pixels_to_world = 0x10000;
        const int32_t drawn = (flags & _sequence_uses_mirroring_flag) ? number_of_displayed_views_in_sequence(views) : views;
        for (int32_t f = 0; f < frames; ++f)
        {
            std::vector<int16_t> frame;
            for (int32_t v = 0; v < drawn; ++v)
            {
                c.instances.push_back(builder_instance(1, 4, 6, (int16_t)(5 + v), (int16_t)(1 + f)));
                frame.push_back((int16_t)(c.instances.size() - 1));
            }
            s.frames.push_back(frame);
            s.frame_shadow_maps.push_back(0);
        }
        EXPECT_EQ(complete_builder_sequence(&s, &c), nullptr) << name;
        c.sequences.push_back(s);
    };
    sequence("strip", 1, 0, 1);
    c.instances[c.sequences[0].frames[0][0]].bitmap_index = 5;
    sequence("pair", 2, 0, 3);
    sequence("five", 5, _sequence_uses_mirroring_flag, 2);
    sequence("eight", 8, _sequence_uses_mirroring_flag, 4);
    return c;
}

class collection_graphics : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
        reset_shading_table_permutation_data();
    }
    void TearDown() override
    {
        active_screen = initial_active_screen();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    int32_t load(const std::vector<uint8_t> &bytes)
    {
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        initialize_shapes_for_new_map();
        return get_collection_index(COLL);
    }
};

TEST_F(collection_graphics, every_stored_form_loads_into_ready_bitmaps)
{
    const builder_collection source = sample_collection();
    const int32_t c = load(build_collection_tag_data(source));
    ASSERT_NE(c, NONE);
    ASSERT_EQ(get_collection_bitmap_count(c), 6);
    EXPECT_EQ(get_color_table(c)->colors[0].red, 0) << "a sprite collection's colour 0 is black";

    bitmap_data *flat = get_bitmap(c, 0);
    ASSERT_NE(flat, nullptr);
    EXPECT_TRUE(flat->flags & _bitmap_color_key_transparency_flag) << "a 0 byte gives colour-key transparency";
    EXPECT_TRUE(flat->flags & _bitmap_in_collection_flag);
    EXPECT_EQ(flat->collection_index, c);
    EXPECT_EQ(flat->row_addresses[0][7], 3);

    // Each run-length form expands to the picture drawn.
    for (int32_t index : {1, 2})
    {
        const builder_bitmap &picture = source.bitmaps[index];
        bitmap_data *bitmap = get_bitmap(c, index);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->flags & _bitmap_color_key_transparency_flag, 0) << "run-length bitmaps are not scanned";
        std::vector<uint16_t> out((size_t)picture.width * picture.height);
        ASSERT_TRUE(decompress_bitmap(get_color_table(c), bitmap, out.data(), picture.width, picture.height,
                                      (int16_t)(2 * picture.width), _decompress_bitmap_88, false));
        for (size_t i = 0; i < out.size(); ++i)
        {
            const uint16_t p = picture.pixels[i];
            uint16_t want = 0;
            if (p != BUILDER_TRANSPARENT)
                want = index == 2 ? (uint16_t)((15 - (p >> 8)) * 17 << 8 | (p & 0xFF))
                                  : (uint16_t)((p & 0xFF ? 255 : 0) << 8 | (p & 0xFF));
            ASSERT_EQ(out[i], want) << index << " pixel " << i;
        }
    }
    const bitmap_data *soft = get_bitmap(c, 3);
    EXPECT_EQ(soft->row_addresses[0][0], 2);
    EXPECT_EQ(soft->row_addresses[0][1], 5);
    const bitmap_data *deep = get_bitmap(c, 4);
    uint16_t pixel;
    memcpy(&pixel, deep->row_addresses[0] + deep->bytes_per_row + 4, 2);
    EXPECT_EQ(pixel, 0x07E0) << "16-bit pixels in host order";
    EXPECT_EQ(deep->encoding, _16bit_565_encoding);

    EXPECT_EQ(get_bitmap(c, 6), nullptr);
    EXPECT_EQ(get_bitmap(c, NONE), nullptr);
    EXPECT_EQ(get_named_bitmap_index(c, "BODY"), 1);
    const char literal[] = "Glow";
    EXPECT_EQ(get_named_bitmap_index(c, literal), 2);
    EXPECT_STREQ(literal, "Glow") << "the name is only read";
    EXPECT_EQ(get_shadow_map(c, 0)->bitmap_index, 0);

    // The palette strip: pixel i of its first row names the colour.
    rgb_color color;
    EXPECT_EQ(get_rgb_color_from_sequence(c, 0, 1, &color)->red, 50000);
    EXPECT_EQ(get_rgb_color_from_sequence(c, 0, 0, &color)->green, 40000);
    EXPECT_EQ(get_rgb_color_from_sequence(c, 0, 4, &color)->red, 65535) << "past the strip: white";
}

TEST_F(collection_graphics, sequences_of_one_two_five_and_eight_views)
{
    const int32_t c = load(build_collection_tag_data(sample_collection()));
    ASSERT_NE(c, NONE);
    EXPECT_EQ(count_sequence_bitmaps(c, 1, _count_views_times_frames), 6);
    EXPECT_EQ(count_sequence_bitmaps(c, 3, _count_frames_per_view), 4);
    EXPECT_EQ(count_sequence_bitmaps(c, 3, _count_views), 8);
    EXPECT_EQ(count_sequence_bitmaps(c, 3, 7), 0);
    EXPECT_EQ(get_named_sequence_index(c, "Five"), 2);
    // Five views: 3 and 4 show 2 and 1 mirrored, their key points flipped.
    point2d registration, key;
    for (const auto &[sequence, view, source] : {std::tuple{2, 3, 2}, {2, 4, 1}, {3, 5, 3}, {3, 7, 1}})
    {
        const int32_t mirrored = get_sequence_instance_index(c, sequence, view, 1);
        const int32_t original = get_sequence_instance_index(c, sequence, source, 1);
        EXPECT_EQ(get_bitmap_instance(c, mirrored)->flags & _bitmap_instance_mirror_horizontal_flag,
                  (uint32_t)_bitmap_instance_mirror_horizontal_flag);
        EXPECT_EQ(get_sequence_bitmap_index(c, sequence, view, 1, &registration, &key), 1);
        EXPECT_EQ(key.x, 9 - get_bitmap_instance(c, original)->key_point.x) << sequence << " view " << view;
    }
    // View NONE counts frames over all views: 4 views x 3 frames would put frame 9 at view 3, frame 0;
    // here 2 views x 3 frames: frame 4 is view 1, frame 1.
    EXPECT_EQ(get_sequence_instance_index(c, 1, NONE, 4), get_sequence_instance_index(c, 1, 1, 1));
    EXPECT_EQ(get_sequence_bitmap_index(c, NONE, 0, 0, nullptr, nullptr), NONE);
    EXPECT_NE(get_sequence_bitmap(c, 3, 6, 2, nullptr, nullptr), nullptr);
    EXPECT_TRUE(verify_bitmap_index(c, 5));
    EXPECT_FALSE(verify_bitmap_index(c, 6));
    clear_pending_error();
}

TEST_F(collection_graphics, shading_tables_lookups_offsets_and_limits)
{
    for (int16_t depth : {16, 32})
    {
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.bit_depth = depth;
        active_screen.encoding = depth == 16 ? _16bit_565_encoding : _32bit_encoding;
        const int32_t c = load(build_collection_tag_data(sample_collection()));
        ASSERT_NE(c, NONE);
        const int32_t table_size = depth == 16 ? 512 : 1024;
        // Two lookups of a collection without tables make exactly one default table.
        uint8_t *first = (uint8_t *)get_shading_table(c, 0, NONE);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(get_shading_table(c, 3, NONE), first);
        EXPECT_EQ(get_collection_shading_table_list(c)->count, 1);
        EXPECT_EQ((uint8_t *)get_unshaded_shading_table(c, 0), first + 7 * table_size);
        EXPECT_EQ((uint8_t *)get_shading_table(c, 0, 7), first + 7 * table_size) << "3584 bytes in 16 bits";
        EXPECT_EQ(add_shading_table_to_collection_index(c, nullptr, 0, _add_shading_table_for_tinting, 0, nullptr), 0);
        const rgb_color blue[1] = {{0, 0, 60000, 0}};
        EXPECT_EQ(add_shading_table_to_collection_index(c, blue, 1, _add_shading_table_for_tinting, 0, nullptr), 1);
        // Index past the end: the last table; negative: the first.
        EXPECT_EQ(get_shading_table_header(c, 5), get_shading_table_header(c, 1));
        EXPECT_EQ(get_shading_table_header(c, -4), get_shading_table_header(c, 0));
        EXPECT_EQ(get_shading_table_header(c, 1)->hue_change_count, 1);
        // The recoloured red became blue in the normal permutation.
        const rgb_color *red = &get_color_table(c)->colors[1];
        if (depth == 32)
        {
            uint32_t recoloured;
            memcpy(&recoloured, (uint8_t *)get_shading_table(c, 1, 0) + 4 * 1, 4);
            EXPECT_GT(recoloured & 0xFF, recoloured >> 16 & 0xFF) << std::hex << recoloured;
            uint32_t plain;
            memcpy(&plain, first + 4, 4);
            EXPECT_EQ(plain, rgb_color_to_pixel32(red));
        }
        for (int32_t i = 2; i < MAXIMUM_SHADING_TABLES_PER_COLLECTION; ++i)
            ASSERT_EQ(add_shading_table_to_collection_index(c, blue, 1, _add_shading_table_for_tinting, 0, nullptr), i);
        EXPECT_EQ(add_shading_table_to_collection_index(c, blue, 1, _add_shading_table_for_tinting, 0, nullptr), NONE);
        int32_t code = 0;
        EXPECT_TRUE(error_pending(&code, nullptr, 0));
        EXPECT_EQ(code, _error_array_full);
        clear_pending_error();
        EXPECT_EQ(add_shading_table_to_collection_index(c, nullptr, 0, _add_shading_table_for_tinting, 0, nullptr), 0);
        dispose_shapes_from_old_map();
        dispose_tag_files();
    }
}

TEST_F(collection_graphics, recolouring_by_hue_reversed_and_wrapping)
{
    color_table table = {};
    table.color_count = 4;
    table.colors[0] = {60000, 3000, 3000, 0}; // red: hue near 0
    table.colors[1] = {60000, 3000, 12000, 0}; // just below a full turn
    table.colors[2] = {3000, 60000, 3000, 0}; // green: outside
    table.colors[3] = {30000, 30000, 30000, 0}; // grey: no saturation
    hue_change change = {};
    change.hue0 = 60000;
    change.hue1 = 3000;
    change.minimum_saturation = 100;
    update_colors_effected_by_hue_change(&table, &change);
    EXPECT_EQ(change.colors_effected[0], 0x03) << "the range wraps through red, grey and green stay out";
    hsv_color original[2];
    for (int i = 0; i < 2; ++i) rgb_color_to_hsv_color(&table.colors[i], &original[i]);
    change.median_hue = original[0].hue;
    const rgb_color blue = {0, 0, 65535, 0};
    hsv_color target;
    rgb_color_to_hsv_color(&blue, &target);
    for (uint16_t flags : {(uint16_t)0, (uint16_t)_color_reversed_flag})
    {
        rgb_color replacement = blue;
        replacement.flags = flags;
        color_table out;
        colorize_color_table(&table, &out, &change, 1, &replacement);
        hsv_color h;
        rgb_color_to_hsv_color(&out.colors[1], &h);
        const int32_t offset = (int16_t)(original[1].hue - original[0].hue);
        const uint16_t want = (uint16_t)(target.hue + (flags ? -offset : offset));
        EXPECT_NEAR((int16_t)(h.hue - want), 0, 8) << "reversed " << flags;
        EXPECT_EQ(out.colors[2].green, 60000) << "unmarked colours stay";
    }
    rgb_color unused = blue;
    unused.flags = _color_unused_flag;
    color_table out;
    colorize_color_table(&table, &out, &change, 1, &unused);
    EXPECT_EQ(memcmp(&out, &table, sizeof(table)), 0);
    const rgb_color plain = {1, 1, 1, 0};
    EXPECT_FALSE(test_collection_replacement_colors(NONE, &plain, 1, &plain, &plain));
}

TEST_F(collection_graphics, bitmaps_that_do_not_add_up_are_refused)
{
    builder_collection wide = sample_collection();
    wide.bitmaps[0] = new_builder_bitmap("wide", 4096, 1, _builder_flat_8bit, 1);
    EXPECT_NE(load(build_collection_tag_data(wide)), NONE);
    dispose_shapes_from_old_map();
    dispose_tag_files();
    wide.bitmaps[0] = new_builder_bitmap("wider", 4097, 1, _builder_flat_8bit, 1);
    EXPECT_EQ(load(build_collection_tag_data(wide)), NONE);
    clear_pending_error();
    dispose_shapes_from_old_map();
    dispose_tag_files();

    // A run-length row whose span runs past the width, and one whose pixel count lies.
    const std::vector<uint8_t> good = build_collection_tag_data(sample_collection());
    ASSERT_TRUE(check_collection_tag_data(good.data(), (int32_t)good.size(), "good"));
    collection_header header;
    memcpy(&header, good.data(), sizeof(header));
    byte_swap_data("test", &header, sizeof(header), 1, collection_header_byte_swapping_data);
    bitmap_reference reference;
    memcpy(&reference, good.data() + COLLECTION_HEADER_SIZE + header.blocks[_collection_block_bitmap_references].offset +
                           BITMAP_REFERENCE_SIZE, sizeof(reference));
    byte_swap_data("test", &reference, sizeof(reference), 1, bitmap_reference_byte_swapping_data);
    const size_t first_row = COLLECTION_HEADER_SIZE + reference.offset + STORED_BITMAP_HEADER_SIZE + 4 * 7;
    for (const auto &[offset, value] : {std::pair{first_row + 6, 20}, {first_row + 2, 5}, {first_row, 0x7FFF}})
    {
        std::vector<uint8_t> bad = good;
        write_be16(&bad[offset], (uint16_t)value);
        EXPECT_FALSE(check_collection_tag_data(bad.data(), (int32_t)bad.size(), "bad"));
        clear_pending_error();
    }
    // Two references sharing bytes: each would swap the other's rows after its check.
    std::vector<uint8_t> shared = good;
    const size_t second = COLLECTION_HEADER_SIZE + header.blocks[_collection_block_bitmap_references].offset +
                          2 * BITMAP_REFERENCE_SIZE + 64;
    memcpy(&shared[second], &shared[second - BITMAP_REFERENCE_SIZE], 64); // the same stored bitmap, whole
    EXPECT_FALSE(check_collection_tag_data(shared.data(), (int32_t)shared.size(), "bad"));
    clear_pending_error();
    std::vector<uint8_t> shallow = good; // an 8-bit bitmap claiming 16-bit pixels in the same bytes
    write_be16(&shallow[COLLECTION_HEADER_SIZE + reference.offset + 8], 16);
    EXPECT_FALSE(check_collection_tag_data(shallow.data(), (int32_t)shallow.size(), "bad"));
    clear_pending_error();
}

TEST_F(collection_graphics, a_bitmap_written_back_loads_again)
{
    int32_t c = load(build_collection_tag_data(sample_collection()));
    ASSERT_NE(c, NONE);
    bitmap_data *deep = get_bitmap(c, 4);
    const uint16_t yellow = 0xFFE0;
    memcpy(deep->row_addresses[0], &yellow, 2);
    ASSERT_TRUE(write_bitmap_to_collection(c, 4, deep));
    bitmap_data *body = get_bitmap(c, 1);
    encoded_span_header row;
    memcpy(&row, body->row_addresses[3], sizeof(row));
    body->row_addresses[3][4 + 4 * row.span_count] = 4; // the row's first pixel
    ASSERT_TRUE(write_bitmap_to_collection(c, 1, body));
    // Read again from the tag written.
    dispose_shapes_from_old_map();
    initialize_shapes_for_new_map();
    c = get_collection_index(COLL);
    ASSERT_NE(c, NONE);
    uint16_t pixel;
    memcpy(&pixel, get_bitmap(c, 4)->row_addresses[0], 2);
    EXPECT_EQ(pixel, yellow);
    EXPECT_EQ(get_bitmap(c, 1)->row_addresses[3][4 + 4 * row.span_count], 4);
    bitmap_data *other = new_bitmap(6, 3, NONE, _8bit_encoding, 0);
    {
        expected_assertions expect(1, "bitmap->height==stored->height");
        EXPECT_FALSE(write_bitmap_to_collection(c, 0, other));
    }
    free(other);
}

// The demo map's landscape: loaded with the map, every submesh's maps reached
// through the mesh, with its lighting table and blend table.
TEST_F(collection_graphics, the_demo_landscape_loads_with_the_demo_map)
{
    WRITE_DEMO_FOUNDATION_FILES();
    start_store();
    initialize_shapes_for_new_map();
    initialize_mesh();
    ASSERT_TRUE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o')));
    const mesh_header *header = get_mesh_header();
    ASSERT_NE(header->landscape_collection_index, NONE);
    for (int32_t s = 0; s < submesh_width * submesh_height; ++s)
    {
        EXPECT_NE(get_submesh_color_map_base_address(s, false), nullptr) << s;
        EXPECT_NE(get_submesh_shadow_map_base_address(s, false), nullptr) << s;
    }
    EXPECT_EQ(get_submesh_color_map_base_address(submesh_width * submesh_height, false), nullptr);
    EXPECT_NE(get_color_map_shading_table(), nullptr);
    ASSERT_NE(get_color_map_blend_table(), nullptr);
    EXPECT_EQ(get_color_map_blend_table()[5 * 256 + 0], 5);
    EXPECT_EQ(get_collection_shading_table_list(header->landscape_collection_index)->count, 1);
    dispose_mesh_from_old_map();
}

} // namespace

} // namespace collection_graphics_test_file
