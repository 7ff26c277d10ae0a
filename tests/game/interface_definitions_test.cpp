// The interface definition through the registry: what its postprocess
// requires and fills in, the lazy lookup of fonts 3-5, the swatch colours
// (including strips too short or not 8-bit), the demo data set's own
// definition and interface collection made by the data tool, and the
// frame-rate read-out drawn with its font 2.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "image_files.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "font_builder.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "interface_definitions.h"
#include "mouse_cursor/mouse_cursor.h"
#include "render/render_surfaces.h"
#include "screen.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_harness.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"
#include "vesk/string_lists.h"

namespace interface_definitions_test_file {

namespace {

const std::string tool = data_tool_path();
const std::string source_root = source_tree_path("");

tag code(const char *text) { return FOUR_CHARACTER_CODE(text[0], text[1], text[2], text[3]); }

// A collection source: colour i + 1 for swatch i; the strip as given.
std::string strip_collection(const std::string &strip)
{
    std::string s = "color 0 0 0 0\n";
    for (int i = 1; i <= 60; ++i)
        s += "color " + std::to_string(i) + " " + std::to_string(i * 1000) + " " + std::to_string(65535 - i * 1000) +
             " " + std::to_string(i * 7) + "\n";
    s += strip;
    s += "bitmap dot 2 2 1\ninstance 0 0 0 0 0\nsequence one\nviews 1\nframe 0\n";
    return s;
}

class interface_definitions_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(initialize_font_definitions());
        ASSERT_TRUE(initialize_interface());
        start_store();
    }
    void TearDown() override
    {
        dispose_interface_from_old_map();
        dispose_font_definitions_from_old_map();
        dispose_shapes_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    bool have_tool(void) { return std::filesystem::exists(tool); }
    // Runs the data tool on `source` text and stores its tag as a local tag.
    bool make(const std::string &command, tag group, int16_t version, const char *subgroup, const std::string &source)
    {
        const std::string in = std::string(subgroup) + ".txt", out = std::string(subgroup) + ".tag";
        std::ofstream(in) << source;
        const std::string line =
            tool + " " + command + " " + out + " --subgroup " + subgroup + " --name " + subgroup + " " + in;
        if (system(line.c_str()) != 0) return false;
        const std::vector<uint8_t> bytes = read_file_bytes(out);
        if (bytes.size() < sizeof(local_tag_file_header)) return false;
        write_local_tag(group, subgroup, version, bytes.data() + sizeof(local_tag_file_header),
                        (int32_t)(bytes.size() - sizeof(local_tag_file_header)));
        return true;
    }
    void font(const char *subgroup)
    {
        const std::vector<uint8_t> data = build_font_tag_data(make_test_font());
        write_local_tag(FONT_DEFINITION_GROUP_TAG, subgroup, FONT_DEFINITION_VERSION_NUMBER, data.data(),
                        (int32_t)data.size());
    }
    // An 'inte' tag written as stored: big-endian tags.
    void interface(const char *subgroup, const char *collection, std::vector<const char *> fonts)
    {
        interface_definition d;
        memset(&d, 0, sizeof(d));
        d.collection_tag = collection ? code(collection) : (tag)NONE;
        for (size_t i = 0; i < NUMBER_OF_INTERFACE_FONTS; ++i)
            d.font_tags[i] = i < fonts.size() && fonts[i] ? code(fonts[i]) : (tag)NONE;
        byte_swap_data("test", &d, sizeof(d), 1, interface_definition_byte_swapping_data);
        write_local_tag(INTERFACE_DEFINITION_GROUP_TAG, subgroup, INTERFACE_DEFINITION_VERSION_NUMBER, &d, sizeof(d));
    }
    // The demo's interface collection and definition, made by the data tool,
    // as the menu's own definition (the groups set up without a map).  The
    // demo's fonts are checked by their own test; the fixed test font stands
    // in for each of them here.
    void load_demo_interface(void)
    {
        auto source = [](const std::string &path) {
            std::ifstream in(source_root + "/" + path);
            return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        };
        ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "intf", source("data/interface/collections/intf.txt")));
        ASSERT_TRUE(make("interface", INTERFACE_DEFINITION_GROUP_TAG, INTERFACE_DEFINITION_VERSION_NUMBER, "menu",
                         source("data/interface/inte/menu.txt")));
        for (const char *f : {"fn09", "fn10", "fn11", "fn12", "fn14", "fn18"}) font(f);
        ASSERT_TRUE(initialize_interface_without_map());
    }
    void begin_map(void)
    {
        const char *rows[] = {"0", "...", " ", " -", "", ".,!?)", "49"};
        std::vector<uint8_t> list(4096);
        const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
        write_local_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list.data(), size);
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
    }
};

TEST_F(interface_definitions_test, postprocess_needs_the_collection_and_fonts_0_to_2)
{
    if (!have_tool()) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "coll", strip_collection("bitmap swatches 57 1 5\n")));
    for (const char *f : {"fnta", "fntb", "fntc", "fntd"}) font(f);
    interface("good", "coll", {"fnta", "fntb", "fntc", "gone", "fntd"});
    interface("nof1", "coll", {"fnta", nullptr, "fntc"});
    interface("bad2", "coll", {"fnta", "fntb", "gone"});
    interface("noco", "gone", {"fnta", "fntb", "fntc"});
    begin_map();

    struct refusal_case
    {
        const char *subgroup, *why;
    };
    for (const refusal_case &c : {refusal_case{"nof1", "font 1 absent"}, refusal_case{"bad2", "font 2 missing"},
                                  refusal_case{"noco", "collection missing"}, refusal_case{"none", "no such tag"}})
    {
        EXPECT_FALSE(initialize_interface_for_new_map(code(c.subgroup))) << c.why;
        EXPECT_EQ(take_pending_error(), _error_data_missing) << c.why;
        EXPECT_EQ(get_interface_definition(), nullptr) << c.why;
        EXPECT_EQ(get_interface_collection(), NONE) << c.why;
    }

    const int16_t leading = get_font_definition(font_tag_to_font_index(code("fnta")))->leading_height;
    ASSERT_TRUE(initialize_interface_for_new_map(code("good")));
    const interface_definition *d = get_interface_definition();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->collection_index, get_collection_index(code("coll")));
    EXPECT_NE(d->color_table_index, NONE);
    EXPECT_NE(get_interface_shading_tables(), nullptr);
    EXPECT_NE(get_interface_bitmap(0), nullptr);
    EXPECT_EQ(get_interface_bitmap(2), nullptr) << "past the collection's bitmaps";
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(d->font_indexes[i], font_tag_to_font_index(d->font_tags[i])) << i;
    for (int32_t i = 3; i < 6; ++i) EXPECT_EQ(d->font_indexes[i], NONE) << "font " << i << " waits for its first use";
    EXPECT_EQ(get_font_definition(d->font_indexes[0])->leading_height, leading - 2);

    // Font 3 names a missing font: NONE, and its tag is dropped so that it is
    // not looked up again; font 4 is looked up once and kept; font 5 is absent.
    EXPECT_EQ(get_interface_font_index(3), NONE);
    EXPECT_EQ(d->font_tags[3], (tag)NONE);
    EXPECT_EQ(get_interface_font_index(3), NONE);
    const int32_t fourth = get_interface_font_index(4);
    EXPECT_EQ(fourth, font_tag_to_font_index(code("fntd")));
    EXPECT_EQ(d->font_indexes[4], fourth);
    EXPECT_EQ(get_interface_font_index(5), NONE);
    EXPECT_EQ(get_interface_font_index(0), d->font_indexes[0]);
    {
        expected_assertions expect(2, "index>=0");
        EXPECT_EQ(get_interface_font_index(6), NONE);
        EXPECT_EQ(get_interface_font_index(-1), NONE);
    }

    dispose_interface_from_old_map();
    EXPECT_EQ(get_interface_definition(), nullptr);
    EXPECT_EQ(get_interface_collection(), NONE);
}

TEST_F(interface_definitions_test, swatch_colours_come_from_flat_8bit_strips_only)
{
    if (!have_tool()) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    std::string full = "bitmap swatches 57 1\n";
    for (int i = 0; i < 57; ++i)
        full += "rectangle " + std::to_string(i) + " 0 " + std::to_string(i + 1) + " 1 " + std::to_string(i + 1) + "\n";
    ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "full", strip_collection(full)));
    ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "shrt", strip_collection("bitmap swatches 10 1 7\n")));
    ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "wide", strip_collection("bitmap swatches 57 1 0x1234 flat16\n")));
    ASSERT_TRUE(make("collection", COLLECTION_GROUP_TAG, 1, "rled", strip_collection("bitmap swatches 57 1 9 rle\n")));
    for (const char *f : {"fnta", "fntb", "fntc"}) font(f);
    for (const char *c : {"full", "shrt", "wide", "rled"}) interface(c, c, {"fnta", "fntb", "fntc"});
    begin_map();

    struct swatch_case
    {
        const char *collection;
        int32_t index;
        uint8_t entry; // of the colour table
    };
    const swatch_case cases[] = {
        {"full", 0, 1}, {"full", 1, 2}, {"full", 56, 57}, {"full", 57, 0}, {"full", -1, 0},
        {"shrt", 0, 7}, {"shrt", 9, 7}, {"shrt", 10, 0}, {"shrt", 56, 0},
        {"wide", 0, 0}, {"wide", 3, 0}, // 16-bit pixels are no colour indexes
        {"rled", 0, 0}, {"rled", 5, 0}, // nor are run-length rows
    };
    for (const swatch_case &c : cases)
    {
        ASSERT_TRUE(initialize_interface_for_new_map(code(c.collection))) << c.collection;
        const color_table *table = get_color_table(get_interface_collection());
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(get_interface_color_index(c.index), c.entry) << c.collection << " " << c.index;
        rgb_color color = {1, 2, 3, 4};
        EXPECT_EQ(get_interface_color(c.index, &color), &color);
        EXPECT_EQ(memcmp(&color, &table->colors[c.entry], sizeof(color)), 0) << c.collection << " " << c.index;
    }
    dispose_interface_from_old_map();
    rgb_color none = {1, 2, 3, 4};
    get_interface_color(1, &none);
    EXPECT_EQ(none.red + none.green + none.blue, 0) << "black without a definition";
}

TEST_F(interface_definitions_test, the_demo_interface_definition_and_collection_load)
{
    if (!have_tool()) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    ASSERT_NO_FATAL_FAILURE(load_demo_interface());
    const interface_definition *d = get_interface_definition();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(get_definition_subgroup(&interface_definitions, 0), INTERFACE_FILE_DEFINITION_TAG);
    for (int32_t i = 0; i < NUMBER_OF_INTERFACE_FONTS; ++i) EXPECT_NE(get_interface_font_index(i), NONE) << i;

    const int32_t collection = get_interface_collection();
    ASSERT_EQ(collection, get_collection_index(code("intf")));
    const color_table *table = get_color_table(collection);
    rgb_color color;
    get_interface_color(56, &color);
    EXPECT_EQ(color.red & color.green & color.blue, 0xFFFF) << "console text is white";
    get_interface_color(1, &color);
    EXPECT_GT(color.green, color.red) << "the selection band is green";
    for (int32_t i = 0; i < NUMBER_OF_INTERFACE_COLORS; ++i)
        EXPECT_EQ(get_interface_color_index(i), i + 1) << i;
    EXPECT_EQ(get_interface_color_index(57), 0);
    ASSERT_NE(table, nullptr);

    // With VESK_INTERFACE_OUT set to a directory, every bitmap of the
    // interface collection is drawn side by side into interface.png there,
    // to be looked at (the swatch strip stretched to four rows).
    if (const char *out = getenv("VESK_INTERFACE_OUT"))
    {
        bitmap_data *sheet = new_bitmap(12 * 20 + 60, 24, 0, _32bit_encoding, 0);
        const rgb_color backdrop = {0x4000, 0x4000, 0x5000, 0};
        const rectangle2d all = {0, 0, 24, (int16_t)(12 * 20 + 60)};
        fill_rectangle_clipped(sheet, &backdrop, &all, nullptr, 0, nullptr);
        for (int16_t i = 0; i < get_collection_bitmap_count(collection); ++i)
            for (int16_t row = 0; row < (i == 0 ? 4 : 1); ++row)
            {
                const point2d at = {(int16_t)(i == 0 ? 2 : 60 + 20 * (i - 1)), (int16_t)(4 + row)};
                copy_bitmap(sheet, &at, get_interface_bitmap(i), nullptr, get_interface_shading_tables(), 0,
                            get_transparency_table(_transparency_normal));
            }
        EXPECT_TRUE(write_bitmap_to_file_highlevel(sheet, nullptr, "", "interface", "png", 95));
        write_file_bytes(std::string(out) + "/interface.png", read_file_bytes("interface.png"));
        free(sheet);
    }

    // Sequence 3 holds the seven cursors; 0, 1, 2 and 4 the markers.
    ASSERT_EQ(get_collection_sequence_count(collection), 5);
    EXPECT_EQ(get_sequence(collection, 3)->number_of_views, 7);
    for (int32_t view = 0; view < 7; ++view)
        EXPECT_NE(get_sequence_bitmap_index(collection, 3, view, 0, nullptr, nullptr), NONE) << view;
    for (int32_t sequence : {0, 1, 2, 4})
        EXPECT_NE(get_sequence_bitmap_index(collection, sequence, 0, 0, nullptr, nullptr), NONE) << sequence;

    // Setting up the interface set up the cursor: the windows pointer's sprite.
    const mouse_cursor_globals_data *cursor = get_mouse_cursor_globals();
    EXPECT_EQ(cursor->cursor_type, _mouse_cursor_pointer_windows);
    EXPECT_EQ(cursor->collection_index, collection);
    EXPECT_EQ(cursor->sequence_index, 3);
    EXPECT_EQ(cursor->view_index, _mouse_cursor_pointer_windows);
    EXPECT_EQ(cursor->color_table_index, get_interface_color_table_index());

    // The attack cursor (a cross registered at its centre) drawn at the pointer.
    set_mouse_position(20, 30);
    set_mouse_cursor(_mouse_cursor_attack);
    EXPECT_EQ(cursor->view_index, _mouse_cursor_attack);
    bitmap_data *target = new_bitmap(64, 64, 0, _32bit_encoding, 0);
    ASSERT_NE(target, nullptr);
    memset(target->row_addresses[0], 0, (size_t)target->bytes_per_row * 64);
    rasterize_mouse_cursor(target);
    auto lit = [&](int x, int y) {
        const uint8_t *p = target->row_addresses[y] + x * 4;
        return (p[0] | p[1] | p[2]) != 0;
    };
    EXPECT_TRUE(lit(20, 30)) << "the cross's centre on the pointer";
    EXPECT_TRUE(lit(20, 23)) << "its top arm";
    EXPECT_FALSE(lit(20, 21)) << "above the sprite";
    EXPECT_FALSE(lit(12, 22)) << "the sprite's transparent corner";
    free(target);

    // Leaving the map forgets the cursor; drawing then leaves the bitmap alone.
    dispose_interface_from_old_map();
    EXPECT_EQ(cursor->cursor_type, NONE);
    EXPECT_EQ(cursor->collection_index, NONE);
}

// The screen's frame-rate read-out, drawn by the interface's procedure that
// the real program registers: nothing until toggled on, then text in the
// top-left corner of the view's hole, clear of the overhead map's top right
// and of the console's lines at the bottom, inside the screen's edge, and
// nothing again when toggled off.
TEST_F(interface_definitions_test, the_frame_rate_read_out_is_drawn_in_the_holes_corner_only_while_on)
{
    if (!have_tool()) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    ASSERT_NO_FATAL_FAILURE(load_demo_interface());
    register_interface_definition_hooks();
    frame_rate_samples = {};
    frame_rate_samples.current_fps = 42.0f;
    dialog_test_screen screen;
    view_data view = {};
    view.screen = screen.bitmap;
    view.hole = {20, 0, 420, 640}; // under a status bar, over a control bar
    for (const int toggles : {0, 1, 2})
    {
        SCOPED_TRACE(toggles);
        screen.fill();
        frame_rate_samples.display_flags = 0;
        for (int i = 0; i < toggles; ++i) toggle_fps_display();
        update_fps_display(&view); // the post-rasterization effect
        const rectangle2d lit = screen.changed_bounds();
        EXPECT_EQ(screen.count_changed() > 0, toggles == 1);
        if (toggles != 1) continue;
        EXPECT_GE(lit.top, view.hole.top + 4) << "on the hole's first lines, clear of the console's";
        EXPECT_LT(lit.bottom, view.hole.top + 40);
        EXPECT_GE(lit.left, view.hole.left + 4) << "inside the screen's edge";
        EXPECT_LT(lit.right, view.hole.left + 160) << "left-justified, clear of the overhead map";
    }
    frame_rate_samples = {};
}

} // namespace

} // namespace interface_definitions_test_file
