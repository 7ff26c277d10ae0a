// Fonts and styled text with the fixed-advance test font, whose measures are
// known by hand: loading (duplicates, the built-in space, style fonts,
// damaged records), decoding and markup, wrapping and truncation at exact
// widths, glyph blending against the formulas, the glyph atlas, and the
// hit-testing operations against brute force.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "font_builder.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

namespace bitmap_text_test_file {

namespace {

const tag TEST = FOUR_CHARACTER_CODE('t', 'e', 's', 't');
const tag BOLD = FOUR_CHARACTER_CODE('t', 'b', 'l', 'd');
const int32_t A = TEST_FONT_ADVANCE;

class bitmap_text : public store_fixture::store_test
{
protected:
    int32_t font = NONE;

    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(initialize_font_definitions());
    }
    void TearDown() override
    {
        dispose_hardware_font();
        dispose_font_definitions_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    void load(const char *language = "0", std::vector<std::pair<std::string, std::vector<uint8_t>>> extra = {})
    {
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        builder_font plain = make_test_font();
        plain.style_font_tags[_font_style_bold] = BOLD;
        plain.style_font_tags[_font_style_italic] = FOUR_CHARACTER_CODE('g', 'o', 'n', 'e');
        const std::vector<uint8_t> data = build_font_tag_data(plain);
        write_local_tag(FONT_DEFINITION_GROUP_TAG, "test", FONT_DEFINITION_VERSION_NUMBER, data.data(), (int32_t)data.size());
        builder_font bold = make_test_font();
        for (builder_glyph &g : bold.glyphs) g.advance = (int16_t)(g.advance + 1);
        const std::vector<uint8_t> bold_data = build_font_tag_data(bold);
        write_local_tag(FONT_DEFINITION_GROUP_TAG, "tbld", FONT_DEFINITION_VERSION_NUMBER, bold_data.data(),
                        (int32_t)bold_data.size());
        for (const auto &[name, bytes] : extra)
            write_local_tag(FONT_DEFINITION_GROUP_TAG, name.c_str(), FONT_DEFINITION_VERSION_NUMBER, bytes.data(),
                            (int32_t)bytes.size());
        const char *rows[] = {language, "...", " ", " -", "", ".,!?)", "49"};
        std::vector<uint8_t> list(4096);
        const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
        write_local_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list.data(), size);
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
        font = font_tag_to_font_index(TEST);
        ASSERT_NE(font, NONE);
    }
};

TEST_F(bitmap_text, fonts_load_with_their_styles_the_built_in_space_and_the_first_of_duplicates)
{
    builder_font spaceless;
    spaceless.ascending_height = 10;
    spaceless.descending_height = 5;
    builder_glyph a;
    a.character = 'a';
    a.advance = 3;
    spaceless.glyphs = {a, a};
    spaceless.glyphs[1].advance = 9; // a duplicate code: the first stays
    load("0", {{"nosp", build_font_tag_data(spaceless)}});
    const font_definition *definition = get_font_definition(font);
    EXPECT_EQ(definition->leading_width, (TEST_FONT_ASCENDING + TEST_FONT_DESCENDING) / 5);
    EXPECT_NE(definition->style_font_indexes[_font_style_bold], NONE);
    EXPECT_EQ(definition->style_font_indexes[_font_style_italic], NONE) << "a missing style font";
    EXPECT_EQ(string_width(font, NONE, "ab"), 2 * A);
    EXPECT_EQ(string_width(font, _font_style_bold, "ab"), 2 * (A + 1));
    EXPECT_EQ(string_width(font, _font_style_italic, "ab"), 2 * A) << "a style without its font draws plain";
    const int32_t other = font_tag_to_font_index(FOUR_CHARACTER_CODE('n', 'o', 's', 'p'));
    ASSERT_NE(other, NONE);
    EXPECT_EQ(string_width(other, NONE, "a a"), 3 + 4 + 3) << "the built-in space advances 4";
    EXPECT_EQ(get_font_definition(other)->leading_width, 3);
    adjust_font_line_height(font, -2);
    EXPECT_EQ(get_font_definition(font)->leading_height, TEST_FONT_LEADING - 2);
    EXPECT_EQ(get_font_definition(definition->style_font_indexes[_font_style_bold])->leading_height, TEST_FONT_LEADING - 2);
}

TEST_F(bitmap_text, damaged_font_tags_are_refused_or_indexed_up_to_the_last_whole_record)
{
    const std::vector<uint8_t> good = build_font_tag_data(make_test_font());
    int32_t glyphs;
    ASSERT_TRUE(check_font_tag_data(good.data(), (int32_t)good.size(), &glyphs));
    EXPECT_EQ(glyphs, (int32_t)make_test_font().glyphs.size());
    // A count below 0 and a block past the tag refuse the font.
    for (int32_t field : {12, 20})
    {
        std::vector<uint8_t> bad = good;
        bad[field] = 0x80;
        EXPECT_FALSE(check_font_tag_data(bad.data(), (int32_t)bad.size(), &glyphs)) << field;
    }
    // A damaged record is refused with a logged reason, never drawn nor
    // asserted: those whose size is broken end the indexing there.
    const int32_t count = (int32_t)make_test_font().glyphs.size();
    const int32_t second = 64 + 16;
    const int32_t third = second + font_character_record_size(TEST_FONT_INK_WIDTH, TEST_FONT_INK_HEIGHT);
    struct damage
    {
        const char *kind;
        int32_t at;
        std::vector<uint8_t> bytes;
        int32_t glyphs;
    } damages[] = {
        {"pixels past the block", third + 6, {0x7F}, 2},
        {"bitmap width below 0", second + 4, {0xFF}, 1},
        {"bitmap height below 0", second + 6, {0xFF}, 1},
        {"advance below 0", second + 2, {0xFF}, count - 1},
        {"bitmap 1024 wide (the space, 0 high)", 64 + 4, {0x04, 0x00}, count - 1},
        {"a header past the block", 15, {(uint8_t)(count + 1)}, count},
    };
    for (const damage &d : damages)
    {
        std::vector<uint8_t> bad = good;
        std::copy(d.bytes.begin(), d.bytes.end(), bad.begin() + d.at);
        EXPECT_TRUE(check_font_tag_data(bad.data(), (int32_t)bad.size(), &glyphs)) << d.kind;
        EXPECT_EQ(glyphs, d.glyphs) << d.kind;
    }
    // Through the registry: a refused font is NONE.
    std::vector<uint8_t> refused = good;
    refused[12] = 0x80;
    load("0", {{"bad!", refused}});
    set_ignore_errors(true);
    EXPECT_EQ(font_tag_to_font_index(FOUR_CHARACTER_CODE('b', 'a', 'd', '!')), NONE);
    set_ignore_errors(false);
}

TEST_F(bitmap_text, decoding_and_markup)
{
    load("1");
    struct row
    {
        const char *text;
        int32_t width;
    } rows[] = {
        {"||", A}, {"a|", 2 * A}, {"|qa", A}, {"\x81\x40", 2 * A}, {"\x81\x7F", 0}, {"a|0b|pc", 3 * A},
        {"|1", 0}, {"ab\rcdef", 2 * A}, {"", 0},
    };
    for (const row &r : rows) EXPECT_EQ(string_width(font, NONE, r.text), r.width) << r.text;
    int32_t index = 0;
    EXPECT_EQ(get_next_character("\x81\x40x", &index), 0x8140u);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(get_next_character("|3", &(index = 0)), 0x7C33u);
    EXPECT_EQ(get_next_character("||", &(index = 0)), (uint32_t)'|');
    EXPECT_EQ(compute_style_at_end_of_string("a|bc|id", NONE), _font_style_italic);
    EXPECT_EQ(compute_style_at_end_of_string("|ba|p", NONE), NONE);
    // The link colour and the link's text.
    parse_string_state state = fresh_parse_string_state("x|lhelp|p", NONE);
    parse_string(&state);
    EXPECT_EQ(state.color_index, NONE);
    parse_string(&state);
    EXPECT_EQ(state.color_index, LINK_TEXT_COLOR_INDEX);
    char link[16];
    ASSERT_TRUE(get_link_url_at_string_position("x|lhelp|p", 5, link, sizeof(link)));
    EXPECT_STREQ(link, "help");
    EXPECT_FALSE(get_link_url_at_string_position("x|lhelp", 5, link, sizeof(link))) << "an open link";
    EXPECT_STREQ(get_check_mark_string(), "!");
    EXPECT_EQ(get_application_country_code(), 49);
    EXPECT_EQ(get_text_language(), _language_japanese);
    EXPECT_TRUE(string_starts_with_fuzzy("\tABc", "   ab"));
    EXPECT_FALSE(string_starts_with_fuzzy("ab", "abc"));
    index = 3;
    {
        expected_assertions expect(0);
        EXPECT_EQ(get_previous_character("a||", &index), (uint32_t)'|');
    }
    EXPECT_EQ(index, 1);
}

TEST_F(bitmap_text, wrapping_and_truncation_at_exact_widths)
{
    load();
    wrap_string_result line;
    // "ab cd": the break falls after the space.
    wrap_string("ab cd", NONE, font, 4 * A, _draw_string_wrap_flag, &line);
    EXPECT_EQ(line.state, _wrap_string_end_of_line);
    EXPECT_EQ(line.line_length, 3);
    EXPECT_EQ(line.line_width, 3 * A);
    // A glyph fits while the width before it plus its ink is strictly below the width.
    wrap_string("abcdef", NONE, font, 2 * A + TEST_FONT_INK_WIDTH + 1, _draw_string_wrap_flag, &line);
    EXPECT_EQ(line.line_length, 4) << "three fit; the fourth ends the line without width";
    EXPECT_EQ(line.line_width, 3 * A);
    wrap_string("\rab", NONE, font, 100, _draw_string_wrap_flag, &line);
    EXPECT_EQ(line.line_length, 1) << "a line break belongs to its line";
    int32_t height;
    get_string_height("ab cd ef", font, NONE, 4 * A + get_font_definition(font)->leading_width, &height);
    const int32_t h = TEST_FONT_ASCENDING + TEST_FONT_DESCENDING;
    EXPECT_EQ(height, h + 2 * (h + TEST_FONT_LEADING));

    // Truncation: the width must be strictly below the room.
    const int32_t lead = get_font_definition(font)->leading_width;
    bitmap_data *b = new_bitmap(200, 20, 0, _32bit_encoding, 0);
    auto drawn_width = [&](const char *text, int32_t room) {
        memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
        const rectangle2d bounds = {0, 0, 20, (int16_t)(room + lead)};
        point2d origin = {0, 0};
        draw_string(b, &origin, &bounds, nullptr, font, NONE, &rgb_white, text, 0, 0);
        return (int32_t)origin.x;
    };
    EXPECT_EQ(drawn_width("abcd", 4 * A + 1), 4 * A);
    EXPECT_EQ(drawn_width("abcd", 4 * A), 4 * A) << "equal width truncates: 'a' and the truncation string";
    EXPECT_EQ(drawn_width("abcdefgh", 6 * A), 5 * A) << "two letters and '...'";
    std::string long_text(256 - 3, 'x');
    EXPECT_EQ(drawn_width(long_text.c_str(), 6 * A), (int32_t)long_text.size() * A) << "too long to truncate";
    free(b);
}

TEST_F(bitmap_text, glyphs_blend_by_the_formulas_and_ink_stays_in_the_measured_box)
{
    builder_font soft = make_test_font();
    for (builder_glyph &g : soft.glyphs)
        for (size_t i = 0; i < g.pixels.size(); ++i) g.pixels[i] = (uint8_t)(i * 37 % 256);
    load("0", {{"soft", build_font_tag_data(soft)}});
    const int32_t soft_font = font_tag_to_font_index(FOUR_CHARACTER_CODE('s', 'o', 'f', 't'));
    const font_character *glyph = get_font_character(soft_font, NONE, 'M');
    const uint8_t *table = get_transparency_table(_transparency_normal);
    const rgb_color color = {0xC000, 0x4000, 0x8000, 0};
    for (int16_t encoding : {(int16_t)_16bit_555_encoding, (int16_t)_16bit_565_encoding, (int16_t)_32bit_encoding})
        for (fixed_fraction transparency : {(fixed_fraction)0, (fixed_fraction)0x7000})
        {
            bitmap_data *b = new_bitmap(20, 12, 0, encoding, 0);
            memset(b->row_addresses[0], 0x66, (size_t)b->bytes_per_row * 12);
            bitmap_data *before = new_bitmap(20, 12, 0, encoding, 0);
            memcpy(before->row_addresses[0], b->row_addresses[0], (size_t)b->bytes_per_row * 12);
            const rectangle2d bounds = {0, 0, 12, 20};
            draw_string(b, nullptr, &bounds, nullptr, soft_font, NONE, &color, "M", 0, transparency);
            const int32_t bytes = b->logical_bit_depth / 8, left = get_font_definition(soft_font)->leading_width;
            const int32_t top = TEST_FONT_ASCENDING - TEST_FONT_INK_HEIGHT, t4 = transparency >> 12;
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 20; ++x)
                {
                    uint32_t d = 0, got = 0;
                    memcpy(&d, before->row_addresses[y] + x * bytes, (size_t)bytes);
                    memcpy(&got, b->row_addresses[y] + x * bytes, (size_t)bytes);
                    const int32_t gx = x - left, gy = y - top;
                    uint32_t want = d;
                    if (gx >= 0 && gx < glyph->bitmap_width && gy >= 0 && gy < glyph->bitmap_height)
                    {
                        const int32_t p = font_character_pixels(glyph)[gy * glyph->bitmap_width + gx];
                        const uint32_t s = encoding == _16bit_555_encoding ? rgb_color_to_pixel16_555(&color)
                                         : encoding == _16bit_565_encoding ? rgb_color_to_pixel16_565(&color)
                                                                           : 0xFF000000u | rgb_color_to_pixel32(&color);
                        const int32_t level = t4 ? 15 - ((15 - t4) * (15 - (p >> 4)) >> 4) : p >> 4;
                        int32_t dc[3], sc[3];
                        const int32_t shift[3] = {encoding == _16bit_555_encoding ? 10 : encoding == _16bit_565_encoding ? 11 : 19,
                                                  encoding == _16bit_555_encoding ? 5 : encoding == _16bit_565_encoding ? 6 : 11,
                                                  encoding == _32bit_encoding ? 3 : 0};
                        uint32_t out = encoding == _32bit_encoding ? 0xFF000000u : 0;
                        for (int32_t k = 0; k < 3; ++k)
                        {
                            dc[k] = (int32_t)(d >> shift[k]) & 31;
                            sc[k] = (int32_t)(s >> shift[k]) & 31;
                            out |= (uint32_t)((7 + level * dc[k] + (15 - level) * sc[k]) / 15) << shift[k];
                        }
                        if (p == 255) want = d;
                        else if (p == 0 && !t4) want = s;
                        else want = out;
                    }
                    ASSERT_EQ(got, want) << encoding << " t " << transparency << " at " << x << "," << y;
                }
            (void)table;
            free(b);
            free(before);
        }
}

TEST_F(bitmap_text, the_glyph_atlas_keeps_every_live_slot_intact)
{
    builder_font sizes;
    sizes.ascending_height = 40;
    for (uint16_t c = 1; c < 600; ++c)
    {
        builder_glyph g;
        g.character = c;
        g.advance = 1;
        g.width = (int16_t)(1 + c * 7 % 40);
        g.height = (int16_t)(1 + c * 13 % 50);
        g.pixels.resize((size_t)g.width * g.height);
        for (size_t i = 0; i < g.pixels.size(); ++i) g.pixels[i] = (uint8_t)(c + i);
        sizes.glyphs.push_back(g);
    }
    builder_glyph huge;
    huge.character = 700;
    huge.width = 256;
    huge.height = 2;
    huge.pixels.resize(512);
    sizes.glyphs.push_back(huge);
    load("0", {{"size", build_font_tag_data(sizes)}});
    const int32_t f = font_tag_to_font_index(FOUR_CHARACTER_CODE('s', 'i', 'z', 'e'));
    ASSERT_NE(initialize_hardware_font(f), nullptr);
    std::mt19937 random(3);
    for (int32_t step = 0; step < 3000; ++step)
    {
        const font_character *glyph = get_font_character(f, NONE, 1 + random() % 599);
        int16_t x, y;
        ASSERT_TRUE(get_hardware_font_character_origin(glyph, &x, &y));
        if (step % 97 != 0) continue;
        const hardware_font *atlas = get_hardware_font();
        for (const hardware_character &slot : atlas->characters)
        {
            if (!slot.glyph) continue;
            for (int32_t r = 0; r < slot.height; ++r)
                for (int32_t c = 0; c < slot.width; ++c)
                    ASSERT_EQ(atlas->bitmap->row_addresses[0][(slot.y0 + r) * 256 + slot.x0 + c],
                              255 - font_character_pixels(slot.glyph)[r * slot.width + c])
                        << "slot of " << slot.character << " at step " << step;
        }
    }
    EXPECT_NE(hardware_font_changed(), nullptr);
    EXPECT_EQ(hardware_font_changed(), nullptr) << "the mark is cleared";
    int16_t x, y;
    EXPECT_FALSE(get_hardware_font_character_origin(get_font_character(f, NONE, 700), &x, &y)) << "too wide for the atlas";
}

TEST_F(bitmap_text, stepping_click_points_and_wrap_points_respect_every_boundary)
{
    load("1");
    std::mt19937 random(9);
    const char *pieces[] = {"a", "b", " ", "|1", "|p", "||", "\x81\x40", "-", "x"};
    for (int32_t trial = 0; trial < 200; ++trial)
    {
        std::string text;
        const int32_t count = 1 + (int32_t)(random() % 12);
        for (int32_t i = 0; i < count; ++i) text += pieces[random() % 9];
        // Boundaries forward, then backward.
        std::vector<int32_t> forward = {0};
        for (int32_t index = 0; index < (int32_t)text.size();)
        {
            get_next_character(text.c_str(), &index);
            forward.push_back(index);
        }
        std::vector<int32_t> backward = {(int32_t)text.size()};
        for (int32_t index = (int32_t)text.size(); index > 0;)
        {
            get_previous_character(text.c_str(), &index);
            backward.insert(backward.begin(), index);
        }
        ASSERT_EQ(forward, backward) << text;
        // A click lands on the boundary nearest the point (past the middle of a
        // character goes beyond it), among those not followed by a markup code.
        for (int32_t offset = 0; offset <= (int32_t)text.size() * A + 2; offset += 2)
        {
            int32_t end = (int32_t)text.size();
            ASSERT_TRUE(find_string_click_point(font, NONE, text.c_str(), offset, &end));
            int32_t want = 0, best = -1;
            for (int32_t b : forward)
            {
                const int32_t width = string_width(font, NONE, text.substr(0, b).c_str());
                if (width <= offset && width > best) best = width, want = b;
                else if (width <= offset && width == best && b > want) want = b;
            }
            // One character further when the point is past its middle.
            for (int32_t b : forward)
            {
                const int32_t width = string_width(font, NONE, text.substr(0, b).c_str());
                if (width > best)
                {
                    if ((width - best) / 2 + best < offset) want = b;
                    break;
                }
            }
            ASSERT_EQ(string_width(font, NONE, text.substr(0, end).c_str()),
                      string_width(font, NONE, text.substr(0, want).c_str()))
                << ::testing::PrintToString(text) << " offset " << offset << " end " << end << " want " << want;
            ASSERT_TRUE(std::find(forward.begin(), forward.end(), end) != forward.end()) << text << " splits a code";
        }
        int32_t end = (int32_t)text.size();
        find_string_wrap_point(font, NONE, text.c_str(), 3 * A, 0, &end);
        ASSERT_TRUE(std::find(forward.begin(), forward.end(), end) != forward.end()) << text << " wrap splits a code";
    }
    // A click exactly in the middle of a character stays before it.
    int32_t end = 3;
    find_string_click_point(font, NONE, "abc", 2 * A + A / 2, &end);
    EXPECT_EQ(end, 2);
    end = 3;
    find_string_click_point(font, NONE, "abc", 2 * A + A / 2 + 1, &end);
    EXPECT_EQ(end, 3);
    // A single word wider than the width has no wrap point.
    end = 6;
    EXPECT_TRUE(find_string_wrap_point(font, NONE, "abcdef", 2 * A, 0, &end));
    EXPECT_EQ(end, 6);
}


// Strings that end inside an escape or a two-byte code, or run past the
// 256-byte buffers, each held in a block of exactly its size so that a read
// past its terminator is caught: they measure to the glyphs they hold, step,
// hit-test and wrap inside themselves, and draw nothing outside their bounds.
TEST_F(bitmap_text, broken_and_overlong_strings_stay_inside_their_bytes)
{
    load("1");
    struct row
    {
        std::string text;
        int32_t width;
    };
    std::string pairs;
    for (int32_t i = 0; i < 150; ++i) pairs += "\x81\x40";
    const row rows[] = {
        {"ab|", 3 * A}, // a lone bar at the end is a bar
        {"|", A},
        {"x|lhelp", 5 * A}, // a link never closed
        {"ab|\x81", 2 * A}, // an escape of a stray lead byte
        {"ab\x81", 2 * A}, // a lead byte with no trail
        {"\x81", 0},
        {std::string(300, 'x'), 300 * A},
        {pairs + "\x81", 300 * A},
        {std::string(255, 'y') + "|", 256 * A},
    };
    bitmap_data *b = new_bitmap(200, 24, 0, _32bit_encoding, 0);
    const rectangle2d bounds = {2, 3, 16, 150};
    const rectangle2d held = {2, 3, 17, 151}; // the bounds and the shadow's
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "string of " << r.text.size() << " bytes starting " << r.text.substr(0, 8));
        const int32_t length = (int32_t)r.text.size();
        const std::unique_ptr<char[]> text(new char[(size_t)length + 1]);
        memcpy(text.get(), r.text.c_str(), (size_t)length + 1);
        EXPECT_EQ(string_width(font, NONE, text.get()), r.width);
        int32_t lines = 0;
        EXPECT_EQ(string_width_multiline(font, NONE, text.get(), &lines), r.width);
        int32_t height = 0;
        get_string_height(text.get(), font, NONE, 40, &height);
        EXPECT_GT(height, 0);
        wrap_string_result line;
        for (uint32_t flags : {0u, (uint32_t)_draw_string_wrap_flag})
        {
            wrap_string(text.get(), NONE, font, 40, flags, &line);
            EXPECT_LE(line.line_length, length);
        }
        // Stepping forward and back visits the same boundaries and stops at the end.
        std::vector<int32_t> forward = {0};
        for (int32_t index = 0; index < length;)
        {
            get_next_character(text.get(), &index);
            forward.push_back(index);
        }
        EXPECT_EQ(forward.back(), length);
        std::vector<int32_t> backward = {length};
        for (int32_t index = length; index > 0;)
        {
            get_previous_character(text.get(), &index);
            backward.insert(backward.begin(), index);
        }
        EXPECT_EQ(backward, forward);
        for (int32_t offset : {-1, 0, A + 1, r.width / 2, r.width + 50})
        {
            int32_t end = length;
            EXPECT_TRUE(find_string_click_point(font, NONE, text.get(), offset, &end));
            EXPECT_GE(end, 0);
            EXPECT_LE(end, length);
            end = length;
            find_string_click_point_wrapped(font, NONE, text.get(), 40, offset, 2 * TEST_FONT_LEADING + 20, &end);
            EXPECT_LE(end, length);
        }
        int32_t end = length;
        find_string_wrap_point(font, NONE, text.get(), 40, 0, &end);
        EXPECT_LE(end, length);
        char link[8];
        for (int32_t position = 0; position <= length; position += 1 + position / 16)
        {
            if (get_link_url_at_string_position(text.get(), position, link, sizeof(link)))
            {
                EXPECT_LT(strlen(link), sizeof(link));
            }
        }
        // Drawn plain, wrapped and shadowed: nothing outside the bounds.
        for (uint32_t flags : {0u, (uint32_t)_draw_string_wrap_flag, (uint32_t)_draw_string_shadow_flag,
                               (uint32_t)(_draw_string_right_justified_flag | _draw_string_color_codes_flag)})
        {
            memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
            point2d origin = {0, 0};
            draw_string(b, &origin, &bounds, nullptr, font, NONE, &rgb_white, text.get(), flags, 0);
            if (flags == 0 && length < 256 - 3 && r.width < bounds.right - bounds.left - 2 * A)
            {
                EXPECT_EQ(origin.x, r.width) << "drawn whole";
            }
            for (int32_t y = 0; y < b->height; ++y)
                for (int32_t x = 0; x < b->width; ++x)
                {
                    if (x < held.left || x >= held.right || y < held.top || y >= held.bottom)
                    {
                        ASSERT_EQ(b->row_addresses[y][4 * x], 0) << x << "," << y << " flags " << flags;
                    }
                }
        }
    }
    free(b);
}

// Destinations text cannot be drawn into: run-length, two-byte and grey-scale
// bitmaps are refused with a line and left as they were; a hardware frame
// buffer with no atlas is refused, and with an atlas but no back end every
// glyph is a "halt" line and nothing else.
TEST_F(bitmap_text, refused_and_hardware_destinations_are_never_written)
{
    load();
    for (int16_t flag : {_1bit_transparency_encoded_flag, _4bit_light_mask_encoded_flag, _4bit_transparency_encoded_flag,
                         _grayscale_bitmap_flag})
    {
        bitmap_data *b = new_bitmap(40, 12, 0, _32bit_encoding, 0);
        memset(b->row_addresses[0], 0x5A, (size_t)b->bytes_per_row * b->height);
        b->flags |= flag;
        const std::vector<uint8_t> before(b->row_addresses[0], b->row_addresses[0] + (size_t)b->bytes_per_row * b->height);
        {
            expected_assertions expect(1, "draw_string");
            draw_string(b, nullptr, nullptr, nullptr, font, NONE, &rgb_white, "abc", _draw_string_shadow_flag, 0);
        }
        EXPECT_EQ(std::vector<uint8_t>(b->row_addresses[0], b->row_addresses[0] + (size_t)b->bytes_per_row * b->height),
                  before)
            << flag;
        free(b);
    }
    bitmap_data frame_buffer;
    initialize_bitmap_data_lite(&frame_buffer, nullptr, 64, 16, 0, _opengl_frame_buffer_encoding);
    {
        expected_assertions expect(1, "global_hardware_font");
        draw_string(&frame_buffer, nullptr, nullptr, nullptr, font, NONE, &rgb_white, "ab", 0, 0);
    }
    ASSERT_NE(initialize_hardware_font(font), nullptr);
    {
        expected_assertions expect(2, "halt");
        draw_string(&frame_buffer, nullptr, nullptr, nullptr, font, NONE, &rgb_white, "a b", 0, 0);
    }
}

} // namespace

} // namespace bitmap_text_test_file
