// The screen over a fake SDL: window or full screen by the desktop's size,
// what is presented, when the mode is re-opened, the lent back buffer, a
// refused video mode, the frame-rate sampler and read-out, the custom
// resolution, the view's frame under the bars, the pointer made relative to
// it, and the renderer's effect tables.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ingame_bar_procedures.h"
#include "fake_sdl_video.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"

#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_states.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "render/render_effects.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_sdl.h"
#include "screen_setup.h"
#include "networking_procedures.h"

namespace screen_test_file {

namespace {

class screen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        quiet_message_boxes();
        reset_screen_for_tests();
        fake_sdl::install();
    }
    void TearDown() override
    {
        reset_screen_for_tests();
        clear_screen_devices();
        fake_sdl::uninstall();
        clear_all_registrations();
        clear_pending_game_state();
        get_game_preferences()->flags &= ~_game_pref_use_transparency_flag;
    }

    // Starts the screen as initialize_screen does, with the default
    // preferences in place of the store's record, on a desktop of the size
    // offering `modes` (none: "any size").
    void start(int desktop_width, int desktop_height, std::vector<SDL_Rect> modes = {},
               void (*change_preferences)(screen_parameters *) = nullptr)
    {
        fake_sdl::state &fake = fake_sdl::current();
        fake.desktop_width = desktop_width;
        fake.desktop_height = desktop_height;
        fake.any_size = modes.empty();
        fake.modes = modes;
        initialize_drawing_manager();
        get_true_screen_dimensions(&original_screen_width, &original_screen_height);
        screen_parameters *prefs = (screen_parameters *)malloc(sizeof(screen_parameters));
        default_screen_parameters(prefs);
        ASSERT_TRUE(verify_screen_parameters(prefs));
        if (change_preferences) change_preferences(prefs);
        active_screen.prefs = prefs;
        active_screen.screen_initialized = true;
        set_screen_parameters(active_screen.device_index, active_screen.mode_index);
    }

    static const fake_sdl::mode_call &last_mode(void) { return fake_sdl::current().mode_calls.back(); }
    static SDL_Surface *surface(void) { return fake_sdl::current().surfaces.back(); }
};

SDL_Rect size(int width, int height) { return SDL_Rect{0, 0, (Uint16)width, (Uint16)height}; }

TEST_F(screen, the_main_menu_opens_full_screen_on_a_desktop_of_its_size_and_in_a_window_on_a_larger_one)
{
    start(640, 480, {size(640, 480)});
    ASSERT_EQ(fake_sdl::current().mode_calls.size(), 1u) << "full screen: one call";
    EXPECT_EQ(last_mode().width, 640);
    EXPECT_EQ(last_mode().height, 480);
    EXPECT_EQ(last_mode().depth, 32);
    EXPECT_TRUE(last_mode().flags & SDL_FULLSCREEN);
    EXPECT_FALSE(is_windowed_now());
    EXPECT_EQ(fake_sdl::current().caption, "VESK");
    EXPECT_TRUE(fake_sdl::current().icon_set);
    EXPECT_EQ(fake_sdl::current().x11_calls, 1);
    EXPECT_EQ(active_screen.encoding, _32bit_encoding);
    EXPECT_EQ(fake_sdl::current().grab, SDL_GRAB_ON);

    TearDown();
    SetUp();
    start(641, 481, {size(641, 481), size(640, 480)});
    ASSERT_EQ(fake_sdl::current().mode_calls.size(), 2u) << "a window is opened twice";
    EXPECT_FALSE(last_mode().flags & SDL_FULLSCREEN);
    EXPECT_TRUE(is_windowed_now());
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_EQ(active_screen.device_index, 0);
    EXPECT_EQ(active_screen.mode_index, 1);
    EXPECT_EQ(fake_sdl::current().grab, SDL_GRAB_OFF);

    // In a game a mode smaller than the desktop is a window only with the preference.
    EXPECT_FALSE(mode_opens_in_window(640, 480, true, false));
    EXPECT_TRUE(mode_opens_in_window(640, 480, true, true));
    EXPECT_FALSE(mode_opens_in_window(641, 480, false, true));

    // A full-screen round trip, remembered for the main menu.
    toggle_windowed_mode(false);
    EXPECT_FALSE(is_windowed_now());
    EXPECT_EQ(fake_sdl::current().grab, SDL_GRAB_ON);
    set_sdl_windowed_mode(false);
    EXPECT_EQ(fake_sdl::current().toggles, 1) << "already full screen";
    set_sdl_windowed_mode(true);
    EXPECT_TRUE(is_windowed_now());
    EXPECT_EQ(fake_sdl::current().toggles, 2);
    EXPECT_EQ(fake_sdl::current().grab, SDL_GRAB_OFF) << "the window left the full screen's grab behind";
}

TEST_F(screen, without_a_mode_of_the_main_menus_size_the_640_by_480_fallback_opens)
{
    start(1920, 1080, {size(1920, 1080), size(1280, 1024)});
    EXPECT_EQ(active_screen.device_index, NONE);
    EXPECT_EQ(active_screen.mode_index, NONE);
    EXPECT_EQ(active_screen.device, nullptr);
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_EQ(active_screen.height, 480);
    EXPECT_EQ(active_screen.rasterizer_code, _rasterizer_software);
    EXPECT_TRUE(screen_surface_exists());
}

TEST_F(screen, display_backbuffer_shows_the_whole_screen_for_null_nothing_for_empty_and_stays_on_the_surface)
{
    start(1024, 768);
    std::vector<SDL_Rect> &updates = fake_sdl::current().updates;
    updates.clear();
    display_backbuffer(nullptr);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].x, 0);
    EXPECT_EQ(updates[0].w, 640);
    EXPECT_EQ(updates[0].h, 480);

    updates.clear();
    const rectangle2d empty_rectangles[] = {{10, 10, 10, 20}, {10, 20, 30, 20}, {30, 40, 10, 50}};
    for (const rectangle2d &r : empty_rectangles) display_backbuffer(&r);
    EXPECT_TRUE(updates.empty());

    const rectangle2d partly_outside = {-20, 600, 100, 900};
    display_backbuffer(&partly_outside);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].x, 600);
    EXPECT_EQ(updates[0].y, 0);
    EXPECT_EQ(updates[0].w, 40);
    EXPECT_EQ(updates[0].h, 100);
}

TEST_F(screen, the_mode_is_reopened_only_when_it_changes_and_the_frame_rate_samples_always_clear)
{
    start(1024, 768);
    const size_t opened = fake_sdl::current().mode_calls.size();
    auto dirty_samples = [] {
        frame_rate_samples.current_fps = 30.0f;
        frame_rate_samples.frame_count_buckets[3] = 4;
        frame_rate_samples.bucket_start_ticks[5] = 99;
    };
    auto samples_clear = [] {
        for (int i = 0; i < FPS_HISTORY_PERIODS; ++i)
            if (frame_rate_samples.frame_count_buckets[i] || frame_rate_samples.bucket_start_ticks[i]) return false;
        return frame_rate_samples.current_fps == 0.0f;
    };

    dirty_samples();
    active_screen.gamma = 300;
    active_screen.in_game = 1;
    set_screen_parameters(active_screen.device_index, active_screen.mode_index);
    EXPECT_EQ(fake_sdl::current().mode_calls.size(), opened) << "gamma and the in-game flag keep the mode";
    EXPECT_TRUE(samples_clear());

    // The running game's preferred mode (the desktop's 1024 x 768): a new mode.
    dirty_samples();
    const int16_t old_device = active_screen.device_index, old_mode = active_screen.mode_index;
    active_screen.device_index = active_screen.prefs->device_index;
    active_screen.mode_index = active_screen.prefs->mode_index;
    set_screen_parameters(old_device, old_mode);
    EXPECT_GT(fake_sdl::current().mode_calls.size(), opened);
    EXPECT_EQ(last_mode().width, 1024);
    EXPECT_TRUE(last_mode().flags & SDL_FULLSCREEN) << "the desktop's own size in a game";
    EXPECT_TRUE(samples_clear());

    // The state step puts the main-menu mode back outside the game.
    const size_t before_menu = fake_sdl::current().mode_calls.size();
    set_screen_parameters_for_new_state(_game_state_displaying_main_menu);
    EXPECT_GT(fake_sdl::current().mode_calls.size(), before_menu);
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_EQ(active_screen.in_game, 0);
    EXPECT_EQ(active_screen.in_game_type, 255);
    const size_t menu_calls = fake_sdl::current().mode_calls.size();
    set_screen_parameters_for_new_state(_game_state_preferences);
    EXPECT_EQ(fake_sdl::current().mode_calls.size(), menu_calls) << "the same mode: not re-opened";
}

TEST_F(screen, a_lent_bitmap_starts_at_the_bounds_top_left_with_the_surfaces_pitch)
{
    start(1024, 768);
    SDL_Surface *s = surface();
    const rectangle2d bounds = {10, 20, 110, 220};
    bitmap_data *bitmap = get_render_destination(&bounds);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 200);
    EXPECT_EQ(bitmap->height, 100);
    EXPECT_EQ(bitmap->bytes_per_row, s->pitch);
    EXPECT_EQ(bitmap->encoding, _32bit_encoding);
    EXPECT_EQ(bitmap->row_addresses[0], (uint8_t *)s->pixels + 10 * s->pitch + 20 * 4);
    EXPECT_EQ(bitmap->row_addresses[99], (uint8_t *)s->pixels + 109 * s->pitch + 20 * 4);
    release_render_destination(bitmap);
    EXPECT_EQ(fake_sdl::current().locks, 0) << "a software surface needs no lock";

    // Bounds past the surface are cut to it.
    const rectangle2d past = {400, 600, 900, 1000};
    bitmap = get_linear_backbuffer(&past);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 40);
    EXPECT_EQ(bitmap->height, 80);
    release_linear_backbuffer(bitmap);

    // Clearing zeroes the whole buffer and nothing past a row.
    memset(s->pixels, 0x5A, (size_t)s->pitch * s->h);
    clear_backbuffer();
    const uint8_t *row = (const uint8_t *)s->pixels + 479 * s->pitch;
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[640 * 4 - 1], 0);
    EXPECT_EQ(row[640 * 4], 0x5A) << "the pitch's padding is not the buffer's";
}

TEST_F(screen, a_surface_that_wants_locking_is_locked_for_each_lend)
{
    fake_sdl::current().extra_surface_flags = SDL_HWSURFACE;
    start(1024, 768);
    const rectangle2d bounds = {0, 0, 480, 640};
    bitmap_data *bitmap = get_linear_backbuffer(&bounds);
    ASSERT_NE(bitmap, nullptr);
    release_linear_backbuffer(bitmap);
    EXPECT_EQ(fake_sdl::current().locks, 1);
    EXPECT_EQ(fake_sdl::current().unlocks, 1);
}

TEST_F(screen, a_refused_video_mode_falls_back_to_a_640_by_480_window)
{
    fake_sdl::current().failing_video_modes = 1;
    start(1920, 1080, {size(1920, 1080), size(1024, 768), size(640, 480)},
          [](screen_parameters *prefs) { prefs->mode_index = 1; });
    // The main menu's 640 x 480 was refused once; the fallback opened it as a window.
    ASSERT_TRUE(screen_surface_exists());
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_EQ(active_screen.device, nullptr);
    EXPECT_TRUE(is_windowed_now());

    // In a game: the refused 1024 x 768 also falls back.
    fake_sdl::current().failing_video_modes = 1;
    active_screen.in_game = 1;
    const int16_t old_device = active_screen.device_index, old_mode = active_screen.mode_index;
    active_screen.device_index = 0;
    active_screen.mode_index = 1;
    set_screen_parameters(old_device, old_mode);
    EXPECT_EQ(fake_sdl::current().mode_calls[fake_sdl::current().mode_calls.size() - 2].width, 640);
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_TRUE(screen_surface_exists());
    const rectangle2d bounds = {0, 0, 480, 640};
    bitmap_data *bitmap = get_linear_backbuffer(&bounds);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->height, 480);
    release_linear_backbuffer(bitmap);
}

TEST_F(screen, when_no_mode_opens_at_all_the_program_stops_with_a_message)
{
    fake_sdl::current().fail_all_video_modes = true;
    EXPECT_EXIT(start(1024, 768), ::testing::ExitedWithCode(1), "");
}

TEST_F(screen, the_frame_rate_reads_steady_sixty_and_dashes_after_a_stall)
{
    uint32_t now = 10000;
    for (int frame = 0; frame < 180; ++frame) // three seconds at 60 frames per second
    {
        update_fps_only_at(now);
        now = 10000 + (uint32_t)((frame + 1) * 1000 / 60);
    }
    EXPECT_NEAR(frame_rate_samples.current_fps, 60.0f, 1.0f);

    toggle_fps_display();
    char text[64];
    build_fps_display_text(text, sizeof(text));
    ASSERT_EQ(std::string(text, 5), "fps: ");
    EXPECT_NEAR(atof(text + 5), 60.0, 1.0);
    EXPECT_EQ(text[strlen(text) - 1], '\r');

    update_fps_only_at(now + 1200); // a stall of more than a second
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "fps: --\r");
    toggle_fps_display();
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "") << "two toggles: nothing shown";

    // The clock wraps without a jump in the reading.
    memset(&frame_rate_samples, 0, sizeof(frame_rate_samples));
    now = 0xFFFFFFFFu - 1500;
    for (int frame = 0; frame < 180; ++frame) update_fps_only_at(now + (uint32_t)(frame * 1000 / 60));
    EXPECT_NEAR(frame_rate_samples.current_fps, 60.0f, 1.0f);
}

TEST_F(screen, the_ping_line_shows_only_in_network_games_that_measure_it)
{
    frame_rate_samples.display_flags = _display_fps_flag | _display_ping_flag;
    frame_rate_samples.current_fps = 42.0f;
    active_screen.in_game = 1;
    active_screen.in_game_type = _game_type_networked;
    char text[64];
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "fps: 42.0\r") << "nobody measures latency yet";

    static uint16_t latency = 65535;
    static const networking_procedures network = {.networked_game_supports_ping = [] { return true; },
                                                  .get_local_player_latency = [] { return latency; }};
    ASSERT_TRUE(register_networking_procedures(&network));
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "fps: 42.0\rping: \xB0\r");
    latency = 87;
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "fps: 42.0\rping: 87 ms\r");
    active_screen.in_game_type = _game_type_local;
    build_fps_display_text(text, sizeof(text));
    EXPECT_STREQ(text, "fps: 42.0\r");
}

TEST_F(screen, a_custom_resolution_divides_the_physical_size_by_its_density)
{
    start(1920, 1080);
    set_active_screen_to_custom_resolution(1920, 1080, 144, 2, true);
    EXPECT_EQ(active_screen.width, 1280);
    EXPECT_EQ(active_screen.height, 720);
    EXPECT_EQ(active_screen.physical_pixel_width, 1920);
    EXPECT_EQ(active_screen.prefs->pixel_zoom_factor, 2);
    EXPECT_EQ(last_mode().width, 1280);
    rectangle2d bounds;
    get_physical_screen_bounds(&bounds);
    EXPECT_EQ(bounds.right, 1920);
    const size_t calls = fake_sdl::current().mode_calls.size();
    set_active_screen_to_custom_resolution(1920, 1080, 144, 2, true);
    EXPECT_EQ(fake_sdl::current().mode_calls.size(), calls) << "unchanged: nothing happens";

    // The dialogs over the whole new screen are drawn again.
    static rectangle2d marked;
    ASSERT_TRUE(register_draw_dialogs_procedures([](const rectangle2d *r) { marked = *r; },
                                                 [](bitmap_data *, rectangle2d *) {}));
    set_active_screen_to_custom_resolution(1600, 1200, 96, 1, true);
    EXPECT_EQ(marked.right, 1600);
    EXPECT_EQ(marked.bottom, 1200);
}

TEST_F(screen, the_views_frame_leaves_the_bars_out_unless_they_are_drawn_over_it)
{
    start(1024, 768);
    rectangle2d frame;
    calculate_destination_frame(&frame);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.bottom, 480) << "bars hidden until they exist";

    static const ingame_bar_procedures bars = {.control_bar_height = []() -> int16_t { return 60; },
                                               .status_bar_height = []() -> int16_t { return 20; }};
    ASSERT_TRUE(register_ingame_bar_procedures(&bars));
    calculate_destination_frame(&frame);
    EXPECT_EQ(frame.top, 20);
    EXPECT_EQ(frame.bottom, 420);
    EXPECT_FALSE(gui_overlaps_screen_bitmap());

    register_screen_hooks();
    action_data action = {};
    action.pointer = {100, 50};
    EXPECT_FALSE(get_action_procedure(_action_pointer_to_view)(&action));
    EXPECT_EQ(action.pointer.x, 100);
    EXPECT_EQ(action.pointer.y, 30);

    get_game_preferences()->flags |= _game_pref_use_transparency_flag;
    EXPECT_TRUE(gui_overlaps_screen_bitmap());
    calculate_destination_frame(&frame);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.bottom, 480);
}

std::vector<int> effect_trace;
template <int N>
void traced_effect(view_data *)
{
    effect_trace.push_back(N);
}

TEST_F(screen, effects_run_by_descending_priority_and_a_full_table_refuses_more)
{
    effect_trace.clear();
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<0>, 0));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<1>, -100));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<2>, 3));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<3>, 0));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<4>, 1));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<5>, -500));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<6>, 2));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<7>, 3));
    EXPECT_TRUE(register_postrasterization_effect_procedure(traced_effect<7>, 3)) << "a start-up run again";
    {
        expected_assertions expect(3, "registration refused");
        EXPECT_FALSE(register_postrasterization_effect_procedure(traced_effect<8>, 9)) << "a ninth";
        EXPECT_FALSE(register_postrasterization_effect_procedure(nullptr, 0));
        EXPECT_FALSE(register_postrasterization_effect_procedure(traced_effect<7>, 4)) << "again elsewhere";
    }
    run_postrasterization_effects(nullptr);
    EXPECT_EQ(effect_trace, (std::vector<int>{2, 7, 6, 4, 0, 3, 1, 5}));

    EXPECT_TRUE(register_prerender_effect_procedure(traced_effect<0>, -1));
    EXPECT_TRUE(register_prerender_effect_procedure(traced_effect<1>, -2));
    expected_assertions expect(1, "is full");
    EXPECT_FALSE(register_prerender_effect_procedure(traced_effect<2>, -3));
}

} // namespace

} // namespace screen_test_file
