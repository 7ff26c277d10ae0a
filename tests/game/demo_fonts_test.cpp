// The demo data set's interface fonts, made by the data tool from the DejaVu
// faces as scripts/build_demo_data.sh makes them, load through the registry
// and draw a line in every style into 32-bit and 565 bitmaps: ink lies where
// the glyph metrics put it and never outside the string's measured box.
//
// With VESK_TEXT_FRAME set to a path, the 32-bit frame (every font, every
// style, a few copy modes) is written there as raw 640 x 480 RGB bytes, to be
// looked at.

#include "tag_files/store_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

namespace demo_fonts_test_file {

namespace {

const std::string tool = data_tool_path();
const std::string source_root = source_tree_path("");
const char *const faces = "/usr/share/fonts/truetype/dejavu";

struct demo_font
{
    std::string tags[5];
    std::string size, name;
};

std::vector<demo_font> read_font_list(void)
{
    std::ifstream in(source_root + "/data/fonts/interface.txt");
    std::vector<demo_font> fonts;
    for (std::string line; std::getline(in, line);)
    {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        demo_font f;
        for (std::string &t : f.tags) words >> t;
        words >> f.size >> f.name;
        fonts.push_back(f);
    }
    return fonts;
}

class demo_fonts : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(initialize_font_definitions());
    }
    void TearDown() override
    {
        dispose_font_definitions_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    // Runs the data tool and stores its tag as a local tag.
    bool make(const std::string &arguments, const std::string &subgroup)
    {
        const std::string out = "font." + subgroup;
        const std::string command = tool + " font " + out + " --subgroup " + subgroup + " --name " + subgroup + " " + arguments;
        if (system(command.c_str()) != 0) return false;
        std::ifstream in(out, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < sizeof(local_tag_file_header)) return false;
        write_local_tag(FONT_DEFINITION_GROUP_TAG, subgroup.c_str(), FONT_DEFINITION_VERSION_NUMBER,
                        bytes.data() + sizeof(local_tag_file_header),
                        (int32_t)(bytes.size() - sizeof(local_tag_file_header)));
        return true;
    }
};

TEST_F(demo_fonts, every_demo_font_draws_every_style_where_its_metrics_say)
{
    if (!std::filesystem::exists(tool) || !std::filesystem::exists(std::string(faces) + "/DejaVuSans.ttf"))
        SKIP_OR_FAIL_UNDER_CI("the data tool or the DejaVu faces are missing");
    const std::vector<demo_font> fonts = read_font_list();
    ASSERT_EQ(fonts.size(), 6u);
    start_store();
    const char *files[5] = {"DejaVuSans.ttf", "DejaVuSans-Oblique.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansCondensed.ttf",
                            "DejaVuSans.ttf"};
    for (const demo_font &f : fonts)
        for (int32_t s = 0; s < 5; ++s)
        {
            std::string arguments = std::string("--face ") + faces + "/" + files[s] + " --size " + f.size;
            if (s == 0)
                arguments += " --italic " + f.tags[1] + " --bold " + f.tags[2] + " --condensed " + f.tags[3] +
                             " --underlined " + f.tags[4];
            if (s == 4) arguments += " --underline";
            ASSERT_TRUE(make(arguments, f.tags[s])) << f.tags[s];
        }
    const char *rows[] = {"0", "...", " ", " -", "", ".,!?)", "1"};
    std::vector<uint8_t> list(1024);
    const int32_t list_size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
    write_local_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list.data(), list_size);
    initialize_shapes_for_new_map();
    initialize_font_definitions_for_new_map();

    const char *text = "The quick brown fox";
    bitmap_data *frame = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    bitmap_data *frame565 = new_bitmap(640, 480, 0, _16bit_565_encoding, 0);
    const rgb_color backdrop = {0x2000, 0x2800, 0x3800, 0};
    const rectangle2d screen = {0, 0, 480, 640};
    fill_rectangle_clipped(frame, &backdrop, &screen, nullptr, 0, nullptr);
    int32_t y = 4;
    for (const demo_font &f : fonts)
    {
        const int32_t font = font_tag_to_font_index(FOUR_CHARACTER_CODE(f.tags[0][0], f.tags[0][1], f.tags[0][2], f.tags[0][3]));
        ASSERT_NE(font, NONE) << f.name;
        const font_definition *definition = get_font_definition(font);
        for (int32_t style = 0; style < NUMBER_OF_FONT_STYLES; ++style)
            EXPECT_NE(definition->style_font_indexes[style], NONE) << f.name << " style " << style;
        const int32_t line = get_font_line_height(font) + definition->leading_height;
        int32_t x = 4;
        for (int16_t style : {(int16_t)NONE, (int16_t)_font_style_italic, (int16_t)_font_style_bold,
                              (int16_t)_font_style_condensed, (int16_t)_font_style_underlined})
        {
            const int32_t width = string_width(font, style, text);
            ASSERT_GT(width, 0);
            if (x + width + 2 * definition->leading_width + 4 > 640)
            {
                x = 4;
                y += line + 6;
            }
            const rectangle2d bounds = {(int16_t)y, (int16_t)x, (int16_t)(y + line + 4),
                                        (int16_t)(x + width + 2 * definition->leading_width + 4)};
            for (bitmap_data *b : {frame565, frame})
            {
                const rgb_color white = rgb_white;
                if (b == frame565) memset(b->row_addresses[0], 0, (size_t)b->bytes_per_row * b->height);
                point2d origin = {0, 0};
                draw_string(b, &origin, &bounds, nullptr, font, style, &white, text, 0, 0);
                EXPECT_EQ(origin.x, width) << f.name << " style " << style;
                if (b != frame565) continue;
                // Ink only inside the measured box, and some in the first glyph's box.
                const int32_t left = x + definition->leading_width, baseline = y + definition->ascending_height;
                const font_character *first = get_font_character(font, style, 'T');
                bool first_inked = false;
                for (int32_t py = 0; py < 480; ++py)
                    for (int32_t px = 0; px < 640; ++px)
                    {
                        uint16_t p;
                        memcpy(&p, b->row_addresses[py] + 2 * px, 2);
                        if (!p) continue;
                        ASSERT_TRUE(px >= left - 2 && px < left + width + 2 && py >= baseline - definition->ascending_height - 1 &&
                                    py < baseline + definition->descending_height + 1)
                            << f.name << " style " << style << " ink at " << px << "," << py;
                        if (px >= left - first->bitmap_origin_x && px < left - first->bitmap_origin_x + first->bitmap_width &&
                            py >= baseline - first->bitmap_origin_y && py < baseline - first->bitmap_origin_y + first->bitmap_height)
                            first_inked = true;
                    }
                EXPECT_TRUE(first_inked) << f.name << " style " << style;
            }
            x += width + 2 * definition->leading_width + 12;
        }
        y += line + 6;
    }
    // A few copies and fills under the text, for the eye.
    const rgb_color red = {0xE000, 0x3000, 0x2000, 0};
    const rectangle2d box = {(int16_t)(y + 10), 20, (int16_t)(y + 90), 200};
    fill_rectangle_clipped(frame, &red, &box, nullptr, 0x8000, nullptr);
    const point2d triangle[3] = {{(int16_t)240, (int16_t)(y + 90)}, {(int16_t)320, (int16_t)(y + 10)}, {(int16_t)400, (int16_t)(y + 90)}};
    const rgb_color green = {0x3000, 0xD000, 0x5000, 0};
    fill_polygon(frame, &green, nullptr, 0x4000, get_transparency_table(_transparency_normal), triangle, 3);
    const point2d at = {430, (int16_t)(y + 10)};
    const rectangle2d source_box = {0, 0, 60, 120};
    fill_rectangle_clipped(frame565, &red, &source_box, nullptr, 0, nullptr);
    copy_bitmap(frame, &at, frame565, &(const rectangle2d &)rectangle2d{(int16_t)(y + 10), 430, (int16_t)(y + 70), 550},
                nullptr, 0, nullptr);
    const rectangle2d wrap_box = {(int16_t)(y + 100), 20, (int16_t)(y + 200), 300};
    const int32_t body = font_tag_to_font_index(FOUR_CHARACTER_CODE('f', 'n', '1', '2'));
    draw_string(frame, nullptr, &wrap_box, nullptr, body, NONE, &rgb_white,
                "Wrapped |bbold|p and |iitalic|p text with a |lhelp link|p and |Ccolour |Ncodes|p, long enough to break "
                "over several lines of the box.",
                _draw_string_wrap_flag | _draw_string_color_codes_flag | _draw_string_shadow_flag, 0);
    const rectangle2d cut_box = {(int16_t)(y + 100), 320, (int16_t)(y + 130), 470};
    draw_string(frame, nullptr, &cut_box, nullptr, body, NONE, &rgb_white, "A line too long for its box is cut", 0, 0);

    if (const char *path = getenv("VESK_TEXT_FRAME"))
    {
        std::vector<uint8_t> rgb;
        for (int32_t py = 0; py < 480; ++py)
            for (int32_t px = 0; px < 640; ++px)
            {
                uint32_t p;
                memcpy(&p, frame->row_addresses[py] + 4 * px, 4);
                rgb.push_back((uint8_t)(p >> 16));
                rgb.push_back((uint8_t)(p >> 8));
                rgb.push_back((uint8_t)p);
            }
        std::ofstream(path, std::ios::binary).write((const char *)rgb.data(), (std::streamsize)rgb.size());
    }
    free(frame);
    free(frame565);
}

} // namespace

} // namespace demo_fonts_test_file
