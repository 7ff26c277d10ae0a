// The in-game bars joined to the layers below them, with both bars made from
// the demo data's '!cba' and '!sba' at the map step "bars": the scene's frame
// and the console leave out exactly the shown bars; a bar whose dialog is
// missing covers nothing, even when its stored state says shown; translucent
// bars let the scene through; a screenshot's hiding gives back what each bar
// showed and the preferences as they were; a custom resolution lays both
// bars out on the new screen's edges.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_text.h"
#include "console/console.h"
#include "control_bar.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "ingame_bars.h"
#include "interface_definitions.h"
#include "screen.h"
#include "status_bar.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "tag_files/plugins.h"

namespace ingame_bars_test_file {

namespace {

class ingame_bars : public bar_dialogs_test
{
protected:
    void SetUp() override
    {
        bar_dialogs_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        register_ingame_bar_hooks();
        game_->type = _game_type_local;
        local_player_index = 0;
        local_player_team_index = 0;
        game_preferences *preferences = get_game_preferences();
        preferences->flags |= _game_pref_control_bar_visible_flag | _game_pref_status_bar_visible_flag;
        preferences->flags &= ~(uint32_t)_game_pref_use_transparency_flag;
    }
    // The map step "bars" as the core runs it.
    void make_bars(void)
    {
        const map_initialize_procedure initialize = get_map_initialize_procedure(_map_bars);
        ASSERT_NE(initialize, nullptr);
        ASSERT_TRUE(initialize(nullptr));
        ASSERT_NE(get_control_bar_dialog(), nullptr);
        ASSERT_NE(get_status_bar_dialog(), nullptr);
    }
    static rectangle2d frame(void)
    {
        rectangle2d result;
        calculate_destination_frame(&result);
        return result;
    }
};

TEST_F(ingame_bars, the_scene_and_the_console_leave_out_exactly_the_shown_bars)
{
    make_bars();
    const int16_t status_height = get_status_bar_height();
    ASSERT_GT(status_height, 0);
    rectangle2d control;
    ASSERT_TRUE(control_bar_covers(&control));
    EXPECT_EQ(control.bottom, DIALOG_TEST_SCREEN_HEIGHT) << "the control bar sits on the bottom edge";
    const int16_t control_height = (int16_t)(control.bottom - control.top);
    ASSERT_GT(control_height, 0);

    struct
    {
        const char *what;
        bool control_shown, status_shown;
    } const cases[] = {
        {"both shown", true, true},
        {"control bar hidden", false, true},
        {"status bar hidden", true, false},
        {"both hidden", false, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        set_control_bar_visibility(c.control_shown ? _control_bar_commands : _control_bar_hidden);
        set_status_bar_visibility(c.status_shown);
        const rectangle2d scene = frame();
        EXPECT_EQ(scene.top, c.status_shown ? status_height : 0);
        EXPECT_EQ(scene.bottom, DIALOG_TEST_SCREEN_HEIGHT - (c.control_shown ? control_height : 0));
        EXPECT_EQ(scene.left, 0);
        EXPECT_EQ(scene.right, DIALOG_TEST_SCREEN_WIDTH);
        rectangle2d seen = {};
        EXPECT_EQ(console_control_bar_visible(&seen), c.control_shown);
        if (c.control_shown) {
            EXPECT_EQ(seen.top, control.top);
        }
        EXPECT_EQ(console_status_bar_height(), c.status_shown ? status_height : 0);
    }

    // Translucent bars lie over the scene: the frame is the whole screen.
    set_control_bar_visibility(_control_bar_commands);
    set_status_bar_visibility(true);
    get_game_preferences()->flags |= _game_pref_use_transparency_flag;
    const rectangle2d whole = frame();
    EXPECT_EQ(whole.top, 0);
    EXPECT_EQ(whole.bottom, DIALOG_TEST_SCREEN_HEIGHT);
}

TEST_F(ingame_bars, a_bar_without_its_dialog_covers_nothing_whatever_its_state_says)
{
    // No map step ran: neither bar exists, yet the status bar can be told it is shown.
    set_status_bar_visibility(true);
    ASSERT_NE(status_bar_visible(nullptr), 0) << "the stored state says shown";
    rectangle2d untouched = {1, 2, 3, 4};
    EXPECT_FALSE(status_bar_covers(&untouched));
    EXPECT_FALSE(control_bar_covers(&untouched));
    EXPECT_EQ(untouched.top, 1);
    EXPECT_EQ(untouched.bottom, 3);
    EXPECT_EQ(status_bar_covered_height(), 0);
    EXPECT_EQ(control_bar_covered_height(), 0);
    const rectangle2d scene = frame();
    EXPECT_EQ(scene.top, 0);
    EXPECT_EQ(scene.bottom, DIALOG_TEST_SCREEN_HEIGHT);
    // Nothing to hide or show: harmless.
    set_ingame_bars_visible(false, false);
    set_ingame_bars_visible(true, true);
    EXPECT_EQ(get_control_bar_dialog(), nullptr);
}

TEST_F(ingame_bars, the_bars_step_shows_the_control_bar_only_when_the_preference_asks_and_disposes_both)
{
    get_game_preferences()->flags &= ~(uint32_t)_game_pref_control_bar_visible_flag;
    make_bars();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden);
    EXPECT_FALSE(control_bar_covers(nullptr));
    const map_dispose_procedure dispose = get_map_dispose_procedure(_map_bars);
    ASSERT_NE(dispose, nullptr);
    dispose();
    EXPECT_EQ(get_control_bar_dialog(), nullptr);
    EXPECT_EQ(get_status_bar_dialog(), nullptr);

    get_game_preferences()->flags |= _game_pref_control_bar_visible_flag;
    make_bars();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_commands);
    EXPECT_TRUE(control_bar_covers(nullptr));
}

// A restored saved game starts as a replay, without a bar, and is the
// player's game again at its save point: the bar shows then, as the
// preference asks; a film never gets it.
TEST_F(ingame_bars, a_restored_game_shows_the_control_bar_once_it_is_the_players_again)
{
    const struct
    {
        int16_t type_after;
        int16_t shown;
    } cases[] = {{_game_type_local, _control_bar_commands}, {_game_type_replay, _control_bar_hidden}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.type_after);
        game_->type = _game_type_replay;
        make_bars();
        EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden);
        game_->type = c.type_after;
        update_ingame_bars();
        EXPECT_EQ(control_bar_visible(nullptr), c.shown);
        get_map_dispose_procedure(_map_bars)();
    }
}

TEST_F(ingame_bars, a_screenshot_gives_back_what_each_bar_showed_and_the_preferences)
{
    make_bars();
    struct
    {
        const char *what;
        int32_t control_bar;
        bool status_bar;
    } const cases[] = {
        {"orders and status", _control_bar_commands, true},
        {"inventory row, no status", _control_bar_inventory, false},
        {"nothing shown", _control_bar_hidden, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        set_control_bar_visibility(c.control_bar);
        set_status_bar_visibility(c.status_bar);
        const uint32_t preferences = get_game_preferences()->flags;
        // As the renderer's screenshot does: hide both, then show what was shown.
        set_ingame_bars_visible(false, false);
        EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden);
        EXPECT_EQ(status_bar_visible(nullptr), 0);
        EXPECT_EQ(frame().bottom, DIALOG_TEST_SCREEN_HEIGHT);
        set_ingame_bars_visible(c.control_bar != _control_bar_hidden, c.status_bar);
        EXPECT_EQ(control_bar_visible(nullptr), c.control_bar);
        EXPECT_EQ(status_bar_visible(nullptr) != 0, c.status_bar);
        EXPECT_EQ(get_game_preferences()->flags, preferences);
    }
}

// A custom resolution during the game: at the next frame the bars are laid
// out on the new screen's edges.
TEST_F(ingame_bars, a_custom_resolution_lays_the_bars_out_for_the_new_screen)
{
    make_bars();
    const struct
    {
        int16_t physical_width, physical_height, dpi;
        int16_t width, height; // logical
    } cases[] = {{1024, 768, 96, 1024, 768}, {1600, 1200, 192, 800, 600}, {640, 480, 96, 640, 480}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.width);
        set_active_screen_to_custom_resolution(c.physical_width, c.physical_height, c.dpi, 1, false);
        update_ingame_bars(); // the screen's per-frame update of the bars
        rectangle2d control, status;
        ASSERT_TRUE(control_bar_covers(&control));
        ASSERT_TRUE(status_bar_covers(&status));
        EXPECT_EQ(control.bottom, c.height) << "on the bottom edge";
        EXPECT_EQ(status.top, 0);
        EXPECT_EQ(status.right - status.left, c.width) << "as wide as the screen";
    }
}

TEST_F(ingame_bars, translucent_bars_let_the_scene_through)
{
    make_bars();
    set_status_bar_visibility(false);
    rectangle2d control;
    ASSERT_TRUE(control_bar_covers(&control));
    // A point of the bar's background: its left margin, halfway down.
    const int32_t x = control.left + 2, y = (control.top + control.bottom) / 2;

    screen.fill();
    render_dialogs(screen.bitmap);
    const uint32_t opaque = screen.pixel(x, y);
    ASSERT_NE(opaque, DIALOG_TEST_SENTINEL) << "the bar was drawn";

    get_game_preferences()->flags |= _game_pref_use_transparency_flag;
    set_control_bar_visibility(_control_bar_hidden);
    set_control_bar_visibility(_control_bar_commands); // shown again: drawn again
    screen.fill();
    render_dialogs(screen.bitmap);
    const uint32_t translucent = screen.pixel(x, y);
    EXPECT_NE(translucent, opaque) << "the scene shows through the translucent bar";
    EXPECT_NE(translucent, DIALOG_TEST_SENTINEL) << "the bar is still drawn";
}

} // namespace

} // namespace ingame_bars_test_file
