// Dialog redraw on the 32-bit memory screen filled with a sentinel: what a
// frame touches is exactly what was dirty, items meeting the dirt are drawn
// with it (and the items meeting those), the focused item comes last, dialogs
// reaching past any edge of the screen stay inside the buffer and land where
// they would, and marks made while drawing survive to the next frame.  Probe
// items paint their bounds in a colour of their own when drawn, as controls
// do, so the pictures name what was drawn.

#include "ingame_bar_procedures.h"
#include "support/dialog_harness.h"

#include "support/stb_image_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <vector>

#include "bitmap_dialogs/dialog_redraw.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_drawing.h"
#include "cseries/registration.h"
#include "fake_sdl_video.h"
#include "game_states.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "tag_files/definitions.h"
#include "vesk/string_lists.h"
#include "game_preferences.h"
#include "iniparser3.0b/inifile.h"
#include "screen_setup.h"
#include "render_procedures.h"
#include "support/expected_assertions.h"

namespace dialog_redraw_test_file {

namespace {

const rgb_color background_color = {0x2000, 0x4000, 0x6000, 0};

// The pixel a colour becomes on the 32-bit screen.
uint32_t screen_pixel_of(const rgb_color &color)
{
    bitmap_data *b = new_bitmap(1, 1, 0, _32bit_encoding, 0);
    const rectangle2d one = {0, 0, 1, 1};
    fill_rectangle_clipped(b, &color, &one, nullptr, 0, nullptr);
    uint32_t pixel;
    memcpy(&pixel, b->row_addresses[0], 4);
    free(b);
    return pixel;
}

rgb_color item_color(int16_t item_id)
{
    return {(uint16_t)(0x1000 * item_id), (uint16_t)(0xF000 - 0x1000 * item_id), 0x8000, 0};
}

void expect_rectangle(const rectangle2d &got, const rectangle2d &want)
{
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.bottom, want.bottom);
    EXPECT_EQ(got.right, want.right);
}

class dialog_redraw : public dialog_test
{
protected:
    dialog_test_screen screen;
    uint32_t background_pixel = 0;

    void SetUp() override
    {
        dialog_test::SetUp();
        clear_all_registrations(); // the control types too: the probe again
        ASSERT_TRUE(register_probe_control());
        background_pixel = screen_pixel_of(background_color);
        // Probe items paint their bounds in their own colour, as controls draw.
        set_probe_hook([](const probe_call &call) {
            if (call.verb != _control_draw_verb) return;
            rectangle2d bounds;
            get_dialog_item_bounds(call.dialog, call.item_id, &bounds);
            const rgb_color color = item_color(call.item_id);
            fill_rectangle_clipped(call.dialog_bitmap, &color, &bounds, nullptr, 0, nullptr);
        });
    }
    void TearDown() override
    {
        clear_all_registrations();
        dialog_test::TearDown();
    }

    // A dialog with a plain background colour (no collection) and the items.
    dialog_data *open(const char *name, rectangle2d bounds, std::vector<dialog_item_description> items,
                      uint16_t flags = _dialog_has_no_background_flag)
    {
        dialog_description d;
        d.bounds = bounds;
        d.items = std::move(items);
        dialog_data *dialog = open_dialog(name, d, flags);
        EXPECT_NE(dialog, nullptr);
        if (dialog && (flags & _dialog_has_no_background_flag)) set_dialog_background_color(dialog, &background_color);
        return dialog;
    }

    // Draws a frame, then fills the screen with the sentinel again.
    void settle(void)
    {
        render_dialogs(screen.bitmap);
        screen.fill();
        clear_probe_calls();
    }

    std::vector<int16_t> drawn_items(void)
    {
        std::vector<int16_t> items;
        for (const probe_call &c : probe_calls())
            if (c.verb == _control_draw_verb) items.push_back(c.item_id);
        return items;
    }
};

TEST_F(dialog_redraw, background_is_drawn_only_inside_the_dirt_and_a_clean_frame_draws_nothing)
{
    dialog_data *dialog = open("dlg1", {100, 100, 300, 400}, {probe_item(1, {150, 20, 180, 60})});
    ASSERT_NE(dialog, nullptr);

    // A new dialog is dirty all over: exactly its rectangle is drawn.
    rectangle2d dirty;
    ASSERT_TRUE(dialogs_are_dirty(&dirty, nullptr));
    expect_rectangle(dirty, dialog->bounds);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), dialog->bounds);
    EXPECT_EQ(screen.count_changed(), 200 * 300);
    EXPECT_EQ(screen.pixel(100, 100), background_pixel);
    EXPECT_EQ(screen.pixel(100 + 20, 100 + 150), screen_pixel_of(item_color(1)));
    screen.fill();
    clear_probe_calls();

    // Nothing dirty: nothing drawn, no verb sent.
    EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
    render_dialogs(screen.bitmap);
    EXPECT_EQ(screen.count_changed(), 0);
    EXPECT_TRUE(drawn_items().empty());

    // A rectangle meeting no item: the background there and nowhere else.
    const rectangle2d patch = {110, 300, 130, 350};
    invalidate_one_dialog_rectangle(dialog, &patch);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), patch);
    EXPECT_EQ(screen.count_changed(), 20 * 50);
    EXPECT_EQ(screen.pixel(300, 110), background_pixel);
    EXPECT_TRUE(drawn_items().empty());
    screen.fill();

    // A rectangle clipped by the dialog's edge: only the part inside.
    const rectangle2d across = {50, 50, 120, 130};
    invalidate_one_dialog_rectangle(dialog, &across);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), {100, 100, 120, 130});
    screen.fill();

    // A rectangle touching an item grows to the whole item, drawn over it.
    const rectangle2d corner = {245, 115, 255, 125};
    invalidate_dialog_rectangle(&corner);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), {245, 115, 280, 160});
    EXPECT_EQ(drawn_items(), std::vector<int16_t>({1}));
    EXPECT_EQ(screen.pixel(159, 279), screen_pixel_of(item_color(1)));
    EXPECT_EQ(screen.pixel(115, 245), background_pixel);
}

TEST_F(dialog_redraw, items_meeting_the_dirt_are_drawn_to_a_fixpoint)
{
    // A chain A-B-C of overlapping items and a separate D; E is hidden over A.
    dialog_data *dialog = open("dlg1", {0, 0, 200, 300},
                               {probe_item(1, {10, 10, 30, 50}), probe_item(2, {25, 45, 45, 90}),
                                probe_item(3, {40, 85, 60, 130}), probe_item(4, {100, 200, 120, 240}),
                                probe_item(5, {10, 10, 30, 50})});
    ASSERT_NE(dialog, nullptr);
    bitmap_set_item_visible(dialog, 5, false);
    settle();

    set_dialog_item_dirty(dialog, 1);
    rectangle2d dirty;
    ASSERT_TRUE(dialogs_are_dirty(&dirty, nullptr));
    expect_rectangle(dirty, {10, 10, 60, 130});
    render_dialogs(screen.bitmap);
    std::vector<int16_t> drawn = drawn_items();
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(drawn, std::vector<int16_t>({1, 2, 3}));
    expect_rectangle(screen.changed_bounds(), {10, 10, 60, 130});
    // The background was redrawn over the whole area, then every item over it:
    // a corner of the area between the items shows background.
    EXPECT_EQ(screen.pixel(125, 15), background_pixel);
    EXPECT_EQ(screen.pixel(100, 50), screen_pixel_of(item_color(3)));
    for (const control_data *item = get_first_dialog_control(dialog); item; item = item->next)
        EXPECT_EQ(item->flags & (_control_dirty_flag | _control_background_dirty_flag), 0) << item->item_id;
}

TEST_F(dialog_redraw, marking_an_item_under_a_front_dialog_invalidates_the_overlap_in_front)
{
    dialog_data *back = open("back", {0, 0, 200, 300}, {probe_item(1, {10, 10, 30, 50})});
    dialog_data *front = open("frnt", {150, 250, 400, 500}, {probe_item(7, {0, 0, 20, 20})});
    dialog_data *apart = open("aprt", {400, 520, 470, 630}, {});
    ASSERT_TRUE(back && front && apart);
    settle();

    set_dialog_item_dirty(back, 1);
    expect_rectangle(front->dirty_bounds, {150, 250, 200, 300});
    EXPECT_FALSE(apart->dirty_bounds.left < apart->dirty_bounds.right);
    render_dialogs(screen.bitmap);
    // The back dialog drew its item; the front one its part over the back
    // one, including its item there, last.
    const std::vector<int16_t> order = drawn_items();
    EXPECT_EQ(order, std::vector<int16_t>({1, 7}));
    EXPECT_EQ(screen.pixel(260, 160), screen_pixel_of(item_color(7)));
    EXPECT_EQ(screen.pixel(290, 190), background_pixel);
    EXPECT_EQ(screen.count_changed(&apart->bounds), 0);
    screen.fill();

    // Disposing the front dialog uncovers the back one, which redraws there.
    dispose_dialog(front);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), {150, 250, 200, 300});
}

TEST_F(dialog_redraw, the_focused_item_is_drawn_last_with_the_focus_flag)
{
    probe_answers focusable;
    focusable.accepts_focus = true;
    set_probe_answers(2, focusable);
    // Tag order 1, 2, 3: drawn 3, 2, 1 by list order, but 2 has the focus.
    dialog_data *dialog = open("dlg1", {0, 0, 100, 200},
                               {probe_item(1, {0, 0, 20, 20}), probe_item(2, {0, 30, 20, 50}),
                                probe_item(3, {0, 60, 20, 80})});
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(get_dialog_focus(dialog), 2);
    clear_probe_calls();
    render_dialogs(screen.bitmap);
    const std::vector<probe_call> draws = [] {
        std::vector<probe_call> v;
        for (const probe_call &c : probe_calls())
            if (c.verb == _control_draw_verb) v.push_back(c);
        return v;
    }();
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].item_id, 3);
    EXPECT_EQ(draws[1].item_id, 1);
    EXPECT_EQ(draws[2].item_id, 2);
    EXPECT_EQ(draws[0].draw_flags, 0);
    EXPECT_EQ(draws[1].draw_flags, 0);
    EXPECT_EQ(draws[2].draw_flags, _control_draw_has_focus_flag);
    // The item bitmap's origin is the dialog's top-left.
    EXPECT_EQ(draws[2].dialog_bitmap->width, 200);
    EXPECT_EQ(draws[2].dialog_bitmap->height, 100);
}

TEST_F(dialog_redraw, a_fully_transparent_background_is_not_drawn_but_its_items_are)
{
    dialog_data *dialog = open("dlg1", {100, 100, 200, 300}, {probe_item(1, {10, 10, 30, 50})});
    ASSERT_NE(dialog, nullptr);
    set_dialog_background_transparency(dialog, 65535);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), {110, 110, 130, 150});
    EXPECT_EQ(drawn_items(), std::vector<int16_t>({1}));

    // A tiled background (its collection given) is skipped the same way.
    screen.fill();
    set_dialog_background(dialog, 0, 5);
    set_dialog_dirty(dialog);
    render_dialogs(screen.bitmap);
    expect_rectangle(screen.changed_bounds(), {110, 110, 130, 150});
}

TEST_F(dialog_redraw, dialogs_past_the_screen_edges_draw_only_inside_it_where_they_would_lie)
{
    const std::vector<dialog_item_description> items = {probe_item(1, {5, 5, 25, 80}), probe_item(2, {50, 120, 90, 200})};
    // The same dialog drawn well inside the screen is the reference picture.
    dialog_data *reference = open("refr", {100, 100, 200, 300}, items);
    ASSERT_NE(reference, nullptr);
    render_dialogs(screen.bitmap);
    auto reference_pixel = [&](int32_t x, int32_t y) { return screen.pixel(100 + x, 100 + y); };
    std::vector<uint32_t> picture;
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 200; ++x) picture.push_back(reference_pixel(x, y));
    dispose_dialog(reference);

    struct placement
    {
        int16_t left, top;
    } placements[] = {{-50, 100}, {630, 100}, {100, -30}, {-150, -60}, {600, 430}, {-250, 100}, {700, 100},
                      {100, 500}, {100, -100}};
    char name[5] = "pla0";
    for (const placement &p : placements)
    {
        name[3] = (char)(name[3] + 1);
        SCOPED_TRACE(testing::Message() << "dialog at " << p.left << ", " << p.top);
        screen.fill();
        const rectangle2d bounds = {p.top, p.left, (int16_t)(p.top + 100), (int16_t)(p.left + 200)};
        dialog_data *dialog = open(name, bounds, items);
        ASSERT_NE(dialog, nullptr);
        render_dialogs(screen.bitmap);
        const rectangle2d visible = {(int16_t)std::max<int32_t>(bounds.top, 0), (int16_t)std::max<int32_t>(bounds.left, 0),
                                     (int16_t)std::min<int32_t>(bounds.bottom, 480), (int16_t)std::min<int32_t>(bounds.right, 640)};
        const bool on_screen = visible.left < visible.right && visible.top < visible.bottom;
        if (!on_screen)
        {
            EXPECT_EQ(screen.count_changed(), 0);
        }
        else
        {
            expect_rectangle(screen.changed_bounds(), visible);
            int32_t wrong = 0;
            for (int32_t y = visible.top; y < visible.bottom; ++y)
                for (int32_t x = visible.left; x < visible.right; ++x)
                    if (screen.pixel(x, y) != picture[(size_t)(y - bounds.top) * 200 + (x - bounds.left)]) ++wrong;
            EXPECT_EQ(wrong, 0);
        }
        // Drawn or not, the dirt is gone.
        EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
        dispose_dialog(dialog);
        EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
    }
}

TEST_F(dialog_redraw, a_mark_made_while_drawing_is_logged_and_kept_for_the_next_frame)
{
    dialog_data *dialog = open("dlg1", {0, 0, 100, 200}, {probe_item(1, {10, 10, 30, 50}), probe_item(2, {60, 60, 80, 90})});
    ASSERT_NE(dialog, nullptr);
    int32_t marks = 0;
    set_probe_hook([&](const probe_call &call) {
        if (call.verb != _control_draw_verb || call.item_id != 1 || marks > 0) return;
        ++marks;
        EXPECT_TRUE(is_drawing_dialog());
        set_dialog_item_dirty(call.dialog, 1);
        const rectangle2d r = {0, 150, 10, 160};
        invalidate_dialog_rectangle(&r);
    });
    {
        expected_assertions expect(2, "!drawing_dialog");
        render_dialogs(screen.bitmap);
    }
    EXPECT_FALSE(is_drawing_dialog());
    rectangle2d dirty;
    ASSERT_TRUE(dialogs_are_dirty(&dirty, nullptr));
    expect_rectangle(dirty, {0, 10, 30, 160});
    screen.fill();
    clear_probe_calls();
    render_dialogs(screen.bitmap);
    EXPECT_EQ(drawn_items(), std::vector<int16_t>({1}));
    expect_rectangle(screen.changed_bounds(), {0, 10, 30, 160});
    EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
}

TEST_F(dialog_redraw, dirt_is_reported_for_visible_dialogs_with_the_backdrop_and_transparent_ones)
{
    dialog_data *plain = open("plan", {0, 0, 50, 50}, {});
    dialog_data *backdrop = open("bkdp", {100, 100, 150, 150}, {},
                                 _dialog_has_no_background_flag | _dialog_draws_black_backdrop_flag);
    ASSERT_TRUE(plain && backdrop);
    bool black = false;
    rectangle2d dirty;
    ASSERT_TRUE(dialogs_are_dirty(&dirty, &black));
    EXPECT_TRUE(black);
    expect_rectangle(dirty, {0, 0, 150, 150});
    settle();
    EXPECT_FALSE(dialogs_are_dirty(&dirty, &black));
    EXPECT_TRUE(black);

    // A hidden dialog keeps no dirt and no backdrop.
    set_dialog_visible(backdrop, false);
    set_dialog_dirty(backdrop);
    EXPECT_FALSE(dialogs_are_dirty(nullptr, &black));
    EXPECT_FALSE(black);

    // A transparent dialog always counts, except while a modal dialog runs.
    dialog_data *glass = open("glas", {200, 200, 250, 250}, {}, _dialog_has_no_background_flag | _dialog_is_transparent_flag);
    ASSERT_NE(glass, nullptr);
    settle();
    EXPECT_TRUE(dialogs_are_dirty(&dirty, nullptr));
    EXPECT_TRUE(dirty.left >= dirty.right);
    render_dialogs(screen.bitmap);
    EXPECT_EQ(screen.count_changed(), 0);
}

TEST_F(dialog_redraw, debug_control_bounds_frame_items_placed_by_code_red_and_hidden_ones_dim)
{
    const char ini[] = "[UI]\nDebugControlBounds=1\n";
    ASSERT_TRUE(load_poweruser_settings_from_buffer(ini, sizeof(ini) - 1));
    forget_dialog_settings();
    set_probe_hook(nullptr); // the frames alone
    dialog_data *dialog = open("dlg1", {0, 0, 100, 200}, {probe_item(1, {10, 10, 30, 50}), probe_item(2, {50, 10, 70, 50})});
    ASSERT_NE(dialog, nullptr);
    const rectangle2d placed = {10, 100, 40, 150};
    new_unpressed_control(dialog, PROBE_CONTROL_TAG, 3, &placed, "");
    bitmap_set_item_visible(dialog, 2, false);
    render_dialogs(screen.bitmap);
    const rgb_color dim_green = {0, 32767, 0, 0};
    EXPECT_EQ(screen.pixel(10, 10), screen_pixel_of(rgb_green));
    EXPECT_EQ(screen.pixel(20, 20), background_pixel);
    EXPECT_EQ(screen.pixel(10, 50), screen_pixel_of(dim_green));
    EXPECT_EQ(screen.pixel(100, 10), screen_pixel_of(rgb_red));
    dispose_poweruser_settings();
    forget_dialog_settings();
}

// Translucent bars are blended onto the scene only where they were redrawn:
// blending a clean part again would darken it frame after frame.
TEST_F(dialog_redraw, translucent_bars_blend_only_their_freshly_drawn_part)
{
    static dialog_data *bar = nullptr;
    static const ingame_bar_procedures bars = {.is_control_bar = [](const dialog_data *d) { return d == bar; },
                                               .is_status_bar = [](const dialog_data *) { return false; }};
    ASSERT_TRUE(register_ingame_bar_procedures(&bars));
    game_preferences *preferences = get_game_preferences();
    const uint32_t old_flags = preferences->flags;
    preferences->flags |= _game_pref_use_transparency_flag;
    bar = open("cbar", {400, 0, 480, 640}, {probe_item(1, {10, 10, 30, 50})});
    ASSERT_NE(bar, nullptr);
    const uint32_t scene = 0x00808080u;
    screen.fill(scene);
    render_dialogs(screen.bitmap);
    const uint32_t blended = screen.pixel(300, 450);
    EXPECT_NE(blended, scene);
    EXPECT_NE(blended, background_pixel);
    EXPECT_EQ(screen.pixel(300, 399), scene);
    ASSERT_NE(bar->internal_bitmap, nullptr);

    // The scene redrawn under the bar, and only the bar's item marked: the
    // item is blended once more, the rest of the bar is left alone.
    const uint32_t item_blended = screen.pixel(20, 420);
    EXPECT_NE(item_blended, scene);
    screen.fill(scene);
    set_dialog_item_dirty(bar, 1);
    render_dialogs(screen.bitmap);
    EXPECT_EQ(screen.pixel(20, 420), item_blended);
    EXPECT_EQ(screen.pixel(300, 450), scene);
    preferences->flags = old_flags;
    bar = nullptr;
}

TEST_F(dialog_redraw, a_hardware_rasterizer_gets_each_dialog_in_its_internal_bitmap)
{
    dialog_data *first = open("frst", {0, 0, 50, 60}, {probe_item(1, {10, 10, 20, 20})});
    dialog_data *hidden = open("hidn", {0, 0, 50, 60}, {}, _dialog_has_no_background_flag | _dialog_is_initially_invisible_flag);
    dialog_data *second = open("scnd", {100, 200, 140, 260}, {});
    ASSERT_TRUE(first && hidden && second);
    active_screen.rasterizer_code = _rasterizer_opengl;
    render_dialogs(nullptr);
    ASSERT_NE(first->internal_bitmap, nullptr);
    EXPECT_EQ(hidden->internal_bitmap, nullptr);
    ASSERT_NE(second->internal_bitmap, nullptr);
    EXPECT_EQ(second->internal_bitmap->width, 60);
    EXPECT_EQ(second->internal_bitmap->height, 40);
    uint32_t pixel;
    memcpy(&pixel, first->internal_bitmap->row_addresses[15] + 4 * 15, 4);
    EXPECT_EQ(pixel, screen_pixel_of(item_color(1)));
    EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));

    dialog_rasterization_data data = {};
    ASSERT_TRUE(get_dialog_to_rasterize(&data));
    EXPECT_EQ(data.dialog, first);
    EXPECT_EQ(data.bitmap, first->internal_bitmap);
    ASSERT_TRUE(get_dialog_to_rasterize(&data));
    EXPECT_EQ(data.dialog, second);
    EXPECT_EQ(data.origin.x, 200);
    EXPECT_EQ(data.origin.y, 100);
    EXPECT_EQ(data.transparency, 0);
    EXPECT_FALSE(get_dialog_to_rasterize(&data));
    active_screen.rasterizer_code = _rasterizer_software;
}

TEST_F(dialog_redraw, a_freed_dialog_is_refused_by_every_redraw_call)
{
    dialog_data *dialog = open("dlg1", {0, 0, 50, 50}, {probe_item(1, {0, 0, 10, 10})});
    ASSERT_NE(dialog, nullptr);
    settle();
    {
        expected_assertions expect(1, "control");
        set_dialog_item_dirty(dialog, 9);
    }
    EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
    dialog_data foreign = {};
    {
        expected_assertions expect(4, "cookie");
        set_dialog_item_dirty(&foreign, 1);
        set_dialog_dirty(&foreign);
        invalidate_one_dialog_rectangle(&foreign, &dialog->bounds);
        draw_dialog_into_bitmap(screen.bitmap, &foreign);
    }
    EXPECT_EQ(screen.count_changed(), 0);
}


// The screen's frame with the dialog layer's drawing pair: what the dialogs
// drew is shown, a clean frame shows nothing, the scene's rectangle makes the
// dialogs over it redraw, and a black backdrop clears what it redraws.
class dialog_frame : public dialog_redraw
{
protected:
    void SetUp() override
    {
        dialog_redraw::SetUp();
        reset_screen_for_tests();
        fake_sdl::install();
        fake_sdl::state &fake = fake_sdl::current();
        fake.desktop_width = 640;
        fake.desktop_height = 480;
        fake.any_size = true;
        initialize_screen();
        game_->state = _game_state_running;
        register_dialog_redraw_hooks();
    }
    void TearDown() override
    {
        close_all_dialogs();
        reset_screen_for_tests();
        clear_screen_devices();
        fake_sdl::uninstall();
        dialog_redraw::TearDown();
    }
    // The back buffer's pixel.
    uint32_t back_pixel(int16_t x, int16_t y)
    {
        const rectangle2d whole = {0, 0, 480, 640};
        bitmap_data *b = get_linear_backbuffer(&whole);
        uint32_t pixel = 0;
        if (b) memcpy(&pixel, b->row_addresses[y] + 4 * x, 4);
        release_linear_backbuffer(b);
        return pixel;
    }
    void fill_back_buffer(uint32_t pixel)
    {
        const rectangle2d whole = {0, 0, 480, 640};
        bitmap_data *b = get_linear_backbuffer(&whole);
        ASSERT_NE(b, nullptr);
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) memcpy(b->row_addresses[y] + 4 * x, &pixel, 4);
        release_linear_backbuffer(b);
    }
    static std::vector<SDL_Rect> &updates(void) { return fake_sdl::current().updates; }
};

TEST_F(dialog_frame, the_frame_shows_what_the_dialogs_drew_and_the_scene_makes_them_redraw)
{
    ASSERT_EQ(active_screen.encoding, _32bit_encoding);
    dialog_data *dialog = open("dlg1", {100, 100, 200, 300}, {probe_item(1, {10, 10, 30, 50})});
    ASSERT_NE(dialog, nullptr);
    fill_back_buffer(0x00123456u);
    updates().clear();
    draw_frame(0, false);
    ASSERT_EQ(updates().size(), 1u);
    EXPECT_EQ(updates()[0].x, 100);
    EXPECT_EQ(updates()[0].y, 100);
    EXPECT_EQ(updates()[0].w, 200);
    EXPECT_EQ(updates()[0].h, 100);
    EXPECT_EQ(back_pixel(150, 150), background_pixel);
    EXPECT_EQ(back_pixel(99, 150), 0x00123456u);

    // Clean: nothing drawn, nothing shown.
    updates().clear();
    clear_probe_calls();
    draw_frame(0, false);
    EXPECT_TRUE(updates().empty());
    EXPECT_TRUE(drawn_items().empty());

    // The world shown: the scene's frame (the whole screen) overwrote the
    // dialog, which draws again.
    draw_frame(0, true);
    EXPECT_EQ(drawn_items(), std::vector<int16_t>({1}));
    EXPECT_FALSE(dialogs_are_dirty(nullptr, nullptr));
}

// A paused game whose camera stays put keeps its scene on the screen: the
// frame is drawn again, the scene under the dialogs too, only when a dialog
// changes; a running game's scene is drawn every frame.
TEST_F(dialog_frame, a_paused_unchanged_scene_is_drawn_again_only_when_a_dialog_changes)
{
    static int32_t scenes;
    static const render_procedures counting = {.render_scene = [](view_data *, bitmap_data *) { ++scenes; }};
    ASSERT_TRUE(register_render_procedures(&counting));
    dialog_data *dialog = open("dlg1", {100, 100, 200, 300}, {probe_item(1, {10, 10, 30, 50})});
    ASSERT_NE(dialog, nullptr);
    // Paused, whether a dialog changed; drawn (scene, dialog and shown) or not.
    const struct { bool paused, changed, drawn; } frames[] = {
        {true, false, true}, {true, false, false}, {true, true, true}, {true, false, false}, {false, false, true}};
    for (const auto &f : frames)
    {
        pause_game(f.paused);
        scenes = 0, updates().clear(), clear_probe_calls();
        if (f.changed) set_dialog_item_dirty(dialog, 1);
        draw_frame(0, true);
        EXPECT_EQ(scenes, f.drawn ? 1 : 0) << "frame " << &f - frames;
        EXPECT_EQ(updates().empty() || drawn_items().empty(), !f.drawn) << "frame " << &f - frames;
    }
    pause_game(false);
}

TEST_F(dialog_frame, a_black_backdrop_clears_the_dirty_area_before_the_dialogs_draw)
{
    dialog_data *dialog = open("dlg1", {100, 100, 200, 300}, {probe_item(1, {10, 10, 30, 50})},
                               _dialog_has_no_background_flag | _dialog_draws_black_backdrop_flag);
    ASSERT_NE(dialog, nullptr);
    set_dialog_background_transparency(dialog, 65535);
    fill_back_buffer(0x00123456u);
    draw_frame(0, false);
    EXPECT_EQ(back_pixel(200, 150), 0u) << "no background: the backdrop shows";
    EXPECT_EQ(back_pixel(115, 115), screen_pixel_of(item_color(1)));
    EXPECT_EQ(back_pixel(99, 150), 0x00123456u) << "outside the dirt nothing is cleared";
}


// The demo data's wait dialog 'prdn', centred on the screen with probe items
// standing in for its static text and button (each painting its bounds in
// the dialog colour that control draws its text in), written as PNG by the
// image writers and read back by an independent decoder: the background's
// rims, corners and centre tiles and the dialog colours are where the 'baie'
// art (data/interface/collections/baie.txt) puts them, and nothing lies
// outside the dialog.  VESK_DIALOG_FRAME names a file to keep the PNG in.
class demo_dialog_picture : public demo_shapes_test
{
protected:
    int32_t elements = NONE;

    void SetUp() override
    {
        demo_shapes_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        elements = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        reset_probe();
        for (const char *code : {"stat", "butt"})
            ASSERT_TRUE(register_control_procedure(dialog_test_code(code), probe_control_def_proc));
        set_probe_hook([](const probe_call &call) {
            if (call.verb != _control_draw_verb) return;
            rectangle2d bounds;
            get_dialog_item_bounds(call.dialog, call.item_id, &bounds);
            rgb_color color;
            get_dialog_color(&color, call.item_id == WAIT_DIALOG_MESSAGE_ITEM ? _dialog_static_text_color
                                                                              : _dialog_button_text_color);
            fill_rectangle_clipped(call.dialog_bitmap, &color, &bounds, nullptr, 0, nullptr);
        });
    }
    void TearDown() override
    {
        if (started)
        {
            close_all_dialogs();
            reset_probe();
        }
        demo_shapes_test::TearDown();
    }
};

struct rgb8
{
    int r, g, b;
};

TEST_F(demo_dialog_picture, the_wait_dialog_shows_its_background_and_colours_where_the_art_puts_them)
{
    ASSERT_NE(elements, NONE);
    dialog_data *dialog = new_dialog(WAIT_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    ASSERT_NE(dialog, nullptr);
    expect_rectangle(dialog->bounds, {184, 160, 296, 480});
    dialog_test_screen screen;
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "prdn", "png", 0));
    const std::string bytes = read_whole_file("pictures/prdn.png");
    if (const char *keep = getenv("VESK_DIALOG_FRAME"))
        std::ofstream(keep, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
    int width = 0, height = 0, channels = 0;
    uint8_t *pixels = stbi_load_from_memory((const stbi_uc *)bytes.data(), (int)bytes.size(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    const std::vector<uint8_t> rgb(pixels, pixels + (size_t)width * height * 3);
    stbi_image_free(pixels);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);

    // At dialog coordinates (x, y).
    auto at = [&](int32_t x, int32_t y) {
        const size_t i = ((size_t)(184 + y) * 640 + (size_t)(160 + x)) * 3;
        return rgb8{rgb[i], rgb[i + 1], rgb[i + 2]};
    };
    const color_table *table = get_color_table(elements);
    ASSERT_NE(table, nullptr);
    auto art = [&](int32_t index) {
        const rgb_color &c = table->colors[index];
        return rgb8{c.red >> 8, c.green >> 8, c.blue >> 8};
    };
    auto same = [](rgb8 a, rgb8 b) { return abs(a.r - b.r) <= 1 && abs(a.g - b.g) <= 1 && abs(a.b - b.b) <= 1; };

    const struct
    {
        const char *what;
        int32_t x, y, color_index;
    } expected[] = {
        // The corner tiles: the dark plate (6) with the bronze stud (8, 10 its shine).
        {"top-left corner", 0, 0, 6},
        {"top-left stud", 4, 4, 8},
        {"top-left shine", 3, 3, 10},
        {"bottom-right corner", 319, 111, 6},
        {"top-right stud", 316, 4, 8},
        // The bevels: the outline (42) on the outer edge, then the light (4, 5)
        // or dark (7, 6) faces.
        {"top rim", 100, 0, 42},
        {"top face", 100, 2, 4},
        {"top face, lower", 100, 6, 5},
        {"left rim", 0, 66, 42},
        {"bottom rim", 100, 111, 42},
        {"bottom face", 100, 108, 6},
        {"right rim", 319, 66, 42},
        {"right face", 317, 66, 6},
        // Centre tiles of 32 x 32 laid from the dialog's corner: slate (1)
        // with lighter (2) and darker (3) specks at their places in the tile.
        {"centre tile (0, 0)", 32, 64, 1},
        {"centre speck (15, 0)", 47, 64, 2},
        {"centre speck (8, 8)", 40, 72, 2},
        {"centre speck (10, 7)", 42, 71, 3},
        {"centre speck (13, 13) of the next tile", 64 + 13, 64 + 13, 2},
        // The items, in the dialog colours: static text (100) and button text (102).
        {"message item", 100, 40, 100},
        {"cancel item", 160, 83, 102},
    };
    for (const auto &e : expected)
    {
        const rgb8 got = at(e.x, e.y), want = art(e.color_index);
        EXPECT_TRUE(same(got, want)) << e.what << " at " << e.x << ", " << e.y << ": " << got.r << " " << got.g << " "
                                     << got.b << " instead of colour " << e.color_index << " (" << want.r << " "
                                     << want.g << " " << want.b << ")";
    }
    // Nothing outside the dialog.
    const rgb8 sentinel = {(int)((DIALOG_TEST_SENTINEL >> 16) & 255), (int)((DIALOG_TEST_SENTINEL >> 8) & 255),
                           (int)(DIALOG_TEST_SENTINEL & 255)};
    int32_t outside_changed = 0;
    for (int32_t y = 0; y < 480; ++y)
        for (int32_t x = 0; x < 640; ++x)
        {
            if (x >= 160 && x < 480 && y >= 184 && y < 296) continue;
            const size_t i = ((size_t)y * 640 + x) * 3;
            if (!same(rgb8{rgb[i], rgb[i + 1], rgb[i + 2]}, sentinel)) ++outside_changed;
        }
    EXPECT_EQ(outside_changed, 0);
}

} // namespace

} // namespace dialog_redraw_test_file
