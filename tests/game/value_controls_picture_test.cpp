// The value controls drawn with the demo data's dialog art and the data
// tool's fixed test font: a dialog of every value control is drawn into the
// memory screen and written as PNG (VESK_VALUES_FRAME names a file to keep it
// in); the bitmap item cross-fades and then stops idling; a progress bar
// fills only its fraction; links in static text open through go_to_url.
// The demo data is made once for the whole program.

#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_harness.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"
#include "vesk/string_lists.h"
#include "networking_procedures.h"

namespace value_controls_picture_test_file {

namespace {

enum
{
    TITLE_ITEM = 1,
    NUMBER_ITEM,
    TIME_ITEM,
    CHOICE_ITEM,
    SLIDER_ITEM,
    PROGRESS_ITEM,
    PICTURE_ITEM,
    FILL_ITEM,
    DISABLED_ITEM,
};

const rectangle2d dialog_bounds = {80, 120, 400, 520};
const rectangle2d title_bounds = {16, 16, 36, 384};
const rectangle2d progress_bounds = {170, 16, 180, 216};
const rectangle2d picture_bounds = {200, 16, 260, 136};
const char title_text[] = "Help: |lexample.org/help|p and |lhttps://example.org/s|p";

std::vector<std::string> opened_urls;
void record_url(const char *url) { opened_urls.push_back(url); }

class value_controls_picture : public demo_controls_test
{
protected:
    dialog_data *dialog = nullptr;
    int32_t elements = NONE;

    void SetUp() override
    {
        demo_controls_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        elements = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        game_->local_time = 100;

        dialog_description d;
        d.bounds = dialog_bounds;
        d.items = {dialog_test_item("stat", TITLE_ITEM, title_bounds, title_text),
                   dialog_test_item("numb", NUMBER_ITEM, {50, 16, 74, 136}),
                   dialog_test_item("numb", TIME_ITEM, {50, 160, 74, 280}),
                   dialog_test_item("numb", CHOICE_ITEM, {90, 16, 114, 136}),
                   dialog_test_item("slid", SLIDER_ITEM, {130, 16, 150, 216}),
                   dialog_test_item("prog", PROGRESS_ITEM, progress_bounds),
                   dialog_test_item("bitm", PICTURE_ITEM, picture_bounds),
                   dialog_test_item("bitm", FILL_ITEM, {200, 160, 260, 280}),
                   dialog_test_item("numb", DISABLED_ITEM, {90, 160, 114, 280})};
        const std::vector<uint8_t> bytes = build_dialog_tag_data(d);
        write_local_tag(DIALOG_GROUP_TAG, "valu", CURRENT_DIALOG_VERSION, bytes.data(), (int32_t)bytes.size());
        dialog = new_dialog(dialog_test_code("valu"), nullptr, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
    }

    // The screen's pixels inside `area` (dialog coordinates).
    std::vector<uint32_t> pixels(const rectangle2d &area) const
    {
        std::vector<uint32_t> out;
        for (int32_t y = area.top; y < area.bottom; ++y)
            for (int32_t x = area.left; x < area.right; ++x)
                out.push_back(screen.pixel(dialog_bounds.left + x, dialog_bounds.top + y));
        return out;
    }

    // A button release at a dialog point, sent to the item's click verb.
    intptr_t release_on(int16_t item_id, int16_t x, int16_t y)
    {
        action_data action = {};
        action.pointer = {x, y};
        action.ascii_code = NONE;
        action.key_code = NONE;
        param_control_click_verb parameter = {&action};
        return find_control(dialog, item_id)->handler(_control_click_verb, dialog, item_id, &parameter);
    }
};

TEST_F(value_controls_picture, every_value_control_is_drawn_with_the_demo_art)
{
    static const enum_selector_data choices[] = {{nullptr, 2}, {"Legacy", 1}, {"Current", 2}};
    set_double_arrow_control_value(dialog, NUMBER_ITEM, 0, 100, 42);
    set_double_arrow_control_format_proc(dialog, TIME_ITEM, double_arrow_time_format);
    set_double_arrow_control_value(dialog, TIME_ITEM, 0, 810000, 930);
    ASSERT_TRUE(set_enum_selector_value(dialog, CHOICE_ITEM, choices, 2));
    set_double_arrow_control_value(dialog, DISABLED_ITEM, 0, 10, 7);
    bitmap_set_item_enabled(dialog, DISABLED_ITEM, false);
    set_slider_extrema(dialog, SLIDER_ITEM, 0, 100);
    set_slider_value(dialog, SLIDER_ITEM, 25);
    set_progress_bar_fraction(dialog, PROGRESS_ITEM, 128);
    set_dialog_bitmap_art(dialog, PICTURE_ITEM, (int16_t)elements, _dialog_elements_medium_button_sequence, 0);
    const rgb_color teal = {0x1000, 0x8000, 0x8000, 0};
    const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    set_bitmap_item_color(dialog, FILL_ITEM, &teal);
    set_dialog_bitmap_caption(dialog, FILL_ITEM, (int16_t)get_interface_font_index(0), &white, "Caption",
                              _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag);
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "values", "png", 0));
    if (const char *keep = getenv("VESK_VALUES_FRAME"))
        std::filesystem::copy_file("pictures/values.png", keep, std::filesystem::copy_options::overwrite_existing);

    // The double arrow grew to its picture and keeps its value box inside.
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, NUMBER_ITEM, &bounds);
    EXPECT_LE(bounds.left, 16);
    EXPECT_GE(bounds.right, 136);

    // The progress bar fills exactly its left half.
    const rectangle2d left_half = {progress_bounds.top, progress_bounds.left, progress_bounds.bottom, 116};
    const rectangle2d right_half = {progress_bounds.top, 116, progress_bounds.bottom, progress_bounds.right};
    const std::vector<uint32_t> half_left = pixels(left_half), half_right = pixels(right_half);
    set_progress_bar_fraction(dialog, PROGRESS_ITEM, 0);
    render_dialogs(screen.bitmap);
    EXPECT_NE(pixels(left_half), half_left);
    EXPECT_EQ(pixels(right_half), half_right);
}

// Frame 2 fades in over frame 1 for 30 ticks, redrawn each idle; then the
// item stops idling and shows frame 2 as a plain draw does.
TEST_F(value_controls_picture, the_bitmap_cross_fade_idles_thirty_ticks_then_stops)
{
    set_dialog_bitmap_art(dialog, PICTURE_ITEM, (int16_t)elements, _dialog_elements_medium_button_sequence, 2);
    render_dialogs(screen.bitmap);
    const std::vector<uint32_t> plain = pixels(picture_bounds);

    set_dialog_bitmap_drawing_flags(dialog, PICTURE_ITEM, 16 | _draw_bitmap_crossfade_flag);
    control_data *picture = find_control(dialog, PICTURE_ITEM);
    std::vector<uint32_t> halfway;
    for (int32_t tick = 1; tick <= 30; ++tick)
    {
        game_->local_time = 100 + tick;
        idle_dialogs();
        render_dialogs(screen.bitmap);
        ASSERT_TRUE(picture->flags & _control_requires_idle_time_flag) << tick;
        if (tick == 15) halfway = pixels(picture_bounds);
    }
    EXPECT_NE(halfway, plain) << "halfway the previous frame shows through";
    EXPECT_EQ(pixels(picture_bounds), plain) << "at 30 ticks the new frame is opaque";
    game_->local_time = 131;
    idle_dialogs();
    render_dialogs(screen.bitmap);
    EXPECT_FALSE(picture->flags & _control_requires_idle_time_flag);
    EXPECT_EQ(pixels(picture_bounds), plain);

    // Frame 0 has no previous frame: no fade starts.
    set_dialog_bitmap_art(dialog, PICTURE_ITEM, (int16_t)elements, _dialog_elements_medium_button_sequence, 0);
    set_dialog_bitmap_drawing_flags(dialog, PICTURE_ITEM, 16 | _draw_bitmap_crossfade_flag);
    EXPECT_FALSE(picture->flags & _control_requires_idle_time_flag);
}

TEST_F(value_controls_picture, a_link_click_opens_the_link_once_and_plain_text_fires)
{
    opened_urls.clear();
    static const networking_procedures networking_table = {.go_to_url = record_url};
    ASSERT_TRUE(register_networking_procedures(&networking_table));
    // The test font advances 6 pixels: "Help: " ends at 36, the first link
    // runs to 132, " and " to 162, the second link beyond.
    const int16_t y = (int16_t)(title_bounds.top + 5);
    EXPECT_EQ(release_on(TITLE_ITEM, (int16_t)(title_bounds.left + 60), y), 1);
    EXPECT_EQ(opened_urls, (std::vector<std::string>{"http://example.org/help"})) << "a scheme is put in front";
    EXPECT_EQ(release_on(TITLE_ITEM, (int16_t)(title_bounds.left + 200), y), 1);
    EXPECT_EQ(opened_urls, (std::vector<std::string>{"http://example.org/help", "https://example.org/s"}));
    // Outside the links the default press tracking decides: a release inside fires.
    EXPECT_EQ(release_on(TITLE_ITEM, (int16_t)(title_bounds.left + 10), y), 1);
    EXPECT_EQ(opened_urls.size(), 2u);
}

} // namespace

} // namespace value_controls_picture_test_file
