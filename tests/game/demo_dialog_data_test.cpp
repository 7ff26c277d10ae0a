// The demo data's dialog art and wait dialog, loaded as the game loads them:
// the dialog elements 'baie' hold the 22 sequences the dialogs and controls
// draw with, in the views and frames they index and at the sizes their
// geometry assumes; 'innb' is a nine-tile background; 'prdn' is the wait
// dialog with its message (1) and its cancel button (2); the progress dialog
// keeps its look across a map's start, which loads the collections anew.

#include "tag_files/store_fixture.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_drawing.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "gameplay_versions.h"
#include "preferences_ui.h"
#include "progress_dialog.h"
#include "screen_preferences_page.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_harness.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

namespace demo_dialog_data_test_file {

namespace {

class demo_dialog_data : public demo_shapes_test
{
protected:
    int32_t elements = NONE, wait_background = NONE;

    void SetUp() override
    {
        demo_shapes_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        elements = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        wait_background = try_and_get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG);
    }
    int32_t width(int32_t collection, int32_t sequence, int32_t view, int32_t frame)
    {
        const bitmap_data *b = get_sequence_bitmap(collection, sequence, view, frame, nullptr, nullptr);
        return b ? (int32_t)b->width : (int32_t)NONE;
    }
    int32_t height(int32_t collection, int32_t sequence, int32_t view, int32_t frame)
    {
        const bitmap_data *b = get_sequence_bitmap(collection, sequence, view, frame, nullptr, nullptr);
        return b ? (int32_t)b->height : (int32_t)NONE;
    }
    // Every view of a nine-tile background: each tile is there, and the
    // corners are as wide as the side bevels and as high as the top and
    // bottom ones, so that the bevels meet the corners without a gap.
    void expect_nine_tiles(int32_t collection, int32_t sequence)
    {
        SCOPED_TRACE(testing::Message() << "sequence " << sequence);
        ASSERT_EQ(count_sequence_bitmaps(collection, sequence, _count_frames_per_view), NUMBER_OF_TILE_RECTANGLE_STATES);
        for (int32_t v = 0; v < count_sequence_bitmaps(collection, sequence, _count_views); ++v)
        {
            for (int32_t corner = _tile_rectangle_top_left_corner; corner <= _tile_rectangle_bottom_right_corner; ++corner)
            {
                EXPECT_EQ(width(collection, sequence, v, corner), width(collection, sequence, v, _tile_rectangle_left_bevel));
                EXPECT_EQ(width(collection, sequence, v, corner), width(collection, sequence, v, _tile_rectangle_right_bevel));
                EXPECT_EQ(height(collection, sequence, v, corner), height(collection, sequence, v, _tile_rectangle_top_bevel));
                EXPECT_EQ(height(collection, sequence, v, corner), height(collection, sequence, v, _tile_rectangle_bottom_bevel));
            }
            EXPECT_GT(width(collection, sequence, v, _tile_rectangle_center), 0);
        }
    }
};

TEST_F(demo_dialog_data, the_dialog_elements_have_every_sequence_in_the_views_and_frames_the_controls_use)
{
    ASSERT_NE(elements, NONE);
    ASSERT_EQ(get_collection_sequence_count(elements), NUMBER_OF_DIALOG_ELEMENT_SEQUENCES);
    const struct
    {
        int32_t sequence, views, frames;
    } shapes[] = {
        {_dialog_elements_scrollbar_sequence, 3, 7}, // enabled, pressed, disabled x seven parts: a proportional thumb
        {_dialog_elements_checkbox_sequence, 2, 2}, // off, on x released, pressed
        {_dialog_elements_radio_button_sequence, 2, 2},
        {_dialog_elements_medium_button_sequence, 1, 3}, // released, pressed, disabled
        {_dialog_elements_scrollbar_background_sequence, 3, 9},
        {_dialog_elements_dialog_background_sequence, 1, 9},
        {_dialog_elements_control_background_sequence, 1, 9},
        {_dialog_elements_popup_icon_sequence, 1, 1},
        {_dialog_elements_short_button_sequence, 1, 3},
        {_dialog_elements_status_bar_background_sequence, 1, 9},
        {_dialog_elements_tiny_locking_button_sequence, 2, 2},
        {_dialog_elements_long_button_sequence, 1, 3},
        {_dialog_elements_longest_button_sequence, 1, 3},
        {_dialog_elements_dialog_colors_sequence, 1, 1},
        {_dialog_elements_slider_controls_sequence, 2, 1}, // idle, held
        {_dialog_elements_double_arrow_control_sequence, 1, 3}, // idle, upper held, lower held
        {_dialog_elements_tab_button_sequence, 1, 2}, // selected, not selected
        {_dialog_elements_right_arrow_button_sequence, 1, 2},
        {_dialog_elements_left_arrow_button_sequence, 1, 2},
        {_dialog_elements_three_state_button_sequence, 3, 2},
        {_dialog_elements_small_button_sequence, 1, 2},
        {_dialog_elements_help_button_sequence, 1, 2},
    };
    static_assert(sizeof(shapes) / sizeof(shapes[0]) == NUMBER_OF_DIALOG_ELEMENT_SEQUENCES);
    for (const auto &s : shapes)
    {
        SCOPED_TRACE(testing::Message() << "sequence " << s.sequence);
        EXPECT_EQ(count_sequence_bitmaps(elements, s.sequence, _count_views), s.views);
        EXPECT_EQ(count_sequence_bitmaps(elements, s.sequence, _count_frames_per_view), s.frames);
        for (int32_t v = 0; v < s.views; ++v)
            for (int32_t f = 0; f < s.frames; ++f) EXPECT_GT(width(elements, s.sequence, v, f), 0) << v << " " << f;
    }
    for (int32_t sequence : {_dialog_elements_scrollbar_background_sequence, _dialog_elements_dialog_background_sequence,
                             _dialog_elements_control_background_sequence,
                             _dialog_elements_status_bar_background_sequence})
        expect_nine_tiles(elements, sequence);

    // A button's default picture is chosen by the item's width (short up to
    // 65, medium up to 94, long from 95) and its bounds grow to the picture:
    // a picture wider than its class would widen every button of the class.
    EXPECT_LE(width(elements, _dialog_elements_short_button_sequence, 0, 0), 65);
    EXPECT_GE(width(elements, _dialog_elements_medium_button_sequence, 0, 0), 66);
    EXPECT_LE(width(elements, _dialog_elements_medium_button_sequence, 0, 0), 94);
    EXPECT_GE(width(elements, _dialog_elements_long_button_sequence, 0, 0), 95);
    EXPECT_GT(width(elements, _dialog_elements_longest_button_sequence, 0, 0),
              width(elements, _dialog_elements_long_button_sequence, 0, 0));
    // The scroll bar is 16 wide, its arrows 14 high.
    for (int32_t v = 0; v < 3; ++v)
        for (int32_t f = 0; f < 7; ++f) EXPECT_EQ(width(elements, _dialog_elements_scrollbar_sequence, v, f), 16);
    EXPECT_EQ(height(elements, _dialog_elements_scrollbar_sequence, 0, 0), 14);
    EXPECT_EQ(height(elements, _dialog_elements_scrollbar_sequence, 0, 1), 14);
}

TEST_F(demo_dialog_data, the_twelve_dialog_colours_are_distinct_entries_of_their_strip)
{
    ASSERT_NE(elements, NONE);
    std::set<uint64_t> seen;
    for (int32_t i = 0; i < NUMBER_OF_DIALOG_COLORS; ++i)
    {
        rgb_color color;
        get_rgb_color_from_sequence(elements, _dialog_elements_dialog_colors_sequence, i, &color);
        seen.insert((uint64_t)color.red << 32 | (uint64_t)color.green << 16 | color.blue);
    }
    EXPECT_EQ(seen.size(), (size_t)NUMBER_OF_DIALOG_COLORS);
    EXPECT_EQ(seen.count(0xFFFFFFFFFFFFull), 0u) << "white is what a strip too short answers";
}

TEST_F(demo_dialog_data, the_wait_dialog_has_its_message_and_cancel_button_on_its_own_background)
{
    ASSERT_NE(wait_background, NONE);
    expect_nine_tiles(wait_background, 0);

    const int32_t index = tag_file_open(DIALOG_GROUP_TAG, WAIT_DIALOG_TAG);
    ASSERT_NE(index, NONE);
    std::vector<uint8_t> bytes(SIZEOF_DIALOG_HEADER + 2 * SIZEOF_FILE_CONTROL_DATA);
    ASSERT_TRUE(tag_file_read(index, 0, (int32_t)bytes.size(), bytes.data()));
    EXPECT_EQ(read_be16(bytes.data()), CURRENT_DIALOG_VERSION);
    ASSERT_EQ(read_be16(bytes.data() + 2), 2);
    const uint8_t *first = bytes.data() + SIZEOF_DIALOG_HEADER, *second = first + SIZEOF_FILE_CONTROL_DATA;
    EXPECT_EQ(read_be32(first), FOUR_CHARACTER_CODE('s', 't', 'a', 't'));
    EXPECT_EQ(read_be16(first + 6), WAIT_DIALOG_MESSAGE_ITEM);
    EXPECT_EQ(read_be32(second), FOUR_CHARACTER_CODE('b', 'u', 't', 't'));
    EXPECT_EQ(read_be16(second + 6), WAIT_DIALOG_CANCEL_ITEM);
    const int16_t button_width = (int16_t)(read_be16(second + 22) - read_be16(second + 18));
    EXPECT_LE(button_width, 65) << "the cancel button takes the short picture";

    const int32_t list = dialog_string_list_tag_to_string_index(WAIT_DIALOG_TAG);
    ASSERT_NE(list, NONE);
    EXPECT_STREQ(get_string_from_list(list, WAIT_DIALOG_MESSAGE_ITEM - 1), "Please wait...");
    EXPECT_STREQ(get_string_from_list(list, WAIT_DIALOG_CANCEL_ITEM - 1), "Cancel");
}

// The dialogs that ask for a background of their own find it, nine tiles
// in sequence 0; the key-binding editor's was missing once.
TEST_F(demo_dialog_data, the_dialogs_own_backgrounds_are_there_as_nine_tiles)
{
    for (const char *name : {"!key", "!new", "in#1", "insg", "invs"})
    {
        SCOPED_TRACE(name);
        const int32_t background = try_and_get_collection_index(string_to_tag(name));
        ASSERT_NE(background, NONE);
        expect_nine_tiles(background, 0);
    }
}

// The progress dialog opens before a map's start (from the main menu) and
// stays through it; the start empties the collections and loads them again
// in its own order, and the indexes the dialog's look was made with then
// name other collections.  It must draw its own background still.
TEST_F(demo_controls_test, the_progress_dialog_keeps_its_look_when_a_maps_start_moves_its_collections)
{
    definition_globals *collections = get_definition_group(COLLECTION_GROUP_TAG);
    ASSERT_NE(collections, nullptr);
    progress_function(_progress_open_with_bar, "Loading", 0);
    progress_function(_progress_set_bar, nullptr, 64);
    const dialog_data *dialog = get_progress_dialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(get_definition_subgroup(collections, dialog->background_collection_index),
              PROGRESS_BAR_BACKGROUND_COLLECTION_TAG);
    const bool cancel_shown = bitmap_get_item_visible(dialog, _progress_cancel_item);

    // The map's start, where another collection comes first.
    dispose_shapes_from_old_map();
    initialize_shapes_for_new_map();
    ASSERT_EQ(get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG), 0);
    progress_function(_progress_set_bar, nullptr, 128);

    dialog = get_progress_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(get_definition_subgroup(collections, dialog->background_collection_index),
              PROGRESS_BAR_BACKGROUND_COLLECTION_TAG);
    EXPECT_EQ(get_progress_bar_fraction(dialog, _progress_bar_item), 128) << "made anew as it stood";
    EXPECT_EQ(bitmap_get_item_visible(dialog, _progress_cancel_item), cancel_shown);
    reset_progress_dialog();
}

// The slider draws only its thumb; the preferences dialog's own background
// gives each slider its track.  Drawn over the shared background and then
// over its own, the dialog differs only inside the sliders' items, and there
// along the whole travel: a slider moved in the dialog without its track
// moved (or the other way round) shows here.
TEST_F(demo_controls_test, the_preferences_background_is_the_shared_one_with_a_track_under_each_slider)
{
    const int32_t own = try_and_get_collection_index(PREFERENCES_DIALOG_TAG);
    ASSERT_NE(own, NONE);
    auto draw = [&](dialog_test_screen &into, bool own_background, rectangle2d *bounds) {
        dialog_data *dialog = new_dialog(PREFERENCES_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
        ASSERT_NE(dialog, nullptr);
        if (own_background) set_dialog_background(dialog, (int16_t)own, 0);
        *bounds = dialog->bounds;
        render_dialogs(into.bitmap);
        close_all_dialogs();
    };
    dialog_test_screen shared, with_tracks;
    rectangle2d bounds = {}, sliders[2] = {};
    draw(shared, false, &bounds);
    draw(with_tracks, true, &bounds);
    dialog_data *dialog = new_dialog(PREFERENCES_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    ASSERT_NE(dialog, nullptr);
    get_dialog_item_bounds(dialog, _preferences_volume_item, &sliders[0]);
    get_dialog_item_bounds(dialog, _screen_page_gamma_item, &sliders[1]);

    int32_t outside = 0;
    std::vector<int32_t> on_middle_row(2, 0);
    for (int32_t y = 0; y < DIALOG_TEST_SCREEN_HEIGHT; ++y)
        for (int32_t x = 0; x < DIALOG_TEST_SCREEN_WIDTH; ++x)
        {
            if (shared.pixel(x, y) == with_tracks.pixel(x, y)) continue;
            const int32_t dx = x - bounds.left, dy = y - bounds.top;
            int32_t inside = NONE;
            for (int32_t i = 0; i < 2; ++i)
                if (dx >= sliders[i].left && dx < sliders[i].right && dy >= sliders[i].top && dy < sliders[i].bottom) inside = i;
            if (inside == NONE) ++outside;
            else if (dy == (sliders[inside].top + sliders[inside].bottom) / 2) ++on_middle_row[inside];
        }
    EXPECT_EQ(outside, 0) << "the rest of the dialog keeps the shared look";
    for (int32_t i = 0; i < 2; ++i)
        EXPECT_GE(on_middle_row[i], sliders[i].right - sliders[i].left - THUMB_WIDTH)
            << "the track runs under the whole travel of slider " << i;
}

} // namespace

} // namespace demo_dialog_data_test_file
