// The in-game fade: its timer per tick and what it draws into a 32-bit screen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "ingame_fades.h"
#include "render/render_surfaces.h"
#include "shapes.h"

namespace ingame_fades_test_file {

namespace
{
constexpr int16_t WIDTH = 16, HEIGHT = 8;
constexpr uint32_t BACKGROUND = 0x00204060u;
const rgb_color FADE_COLOR = {0xFFFF, 0x8000, 0x0000, 0};

class ingame_fades : public ::testing::Test
{
protected:
    bitmap_data *screen = nullptr;
    view_data view;

    // The blend needs the renderer's transparency tables, made by the
    // collections' start-up.
    static void SetUpTestSuite() { ASSERT_TRUE(initialize_shapes()); }

    void SetUp() override
    {
        screen = new_bitmap(WIDTH, HEIGHT, 0, _32bit_encoding, 0);
        ASSERT_NE(screen, nullptr);
        memset(&view, 0, sizeof(view));
        view.screen = screen;
        view.screen_width = WIDTH;
        view.screen_height = HEIGHT;
        initialize_ingame_fades_for_new_game();
    }
    void TearDown() override
    {
        initialize_ingame_fades_for_new_game();
        free(screen);
    }

    uint32_t pixel(int32_t x, int32_t y) const
    {
        uint32_t p;
        memcpy(&p, screen->row_addresses[0] + (size_t)y * (size_t)screen->bytes_per_row + (size_t)x * 4, 4);
        return p & 0x00FFFFFFu;
    }
    void clear(void)
    {
        for (int16_t y = 0; y < HEIGHT; ++y)
            for (int16_t x = 0; x < WIDTH; ++x)
                memcpy(screen->row_addresses[0] + (size_t)y * (size_t)screen->bytes_per_row + (size_t)x * 4,
                       &BACKGROUND, 4);
    }
    // Draws the fade over the background; the pixel every position got, or
    // 0xFFFFFFFF when the pixels differ (a fade covers the whole screen).
    uint32_t drawn(void)
    {
        clear();
        rasterize_ingame_fades(&view);
        const uint32_t first = pixel(0, 0);
        for (int16_t y = 0; y < HEIGHT; ++y)
            for (int16_t x = 0; x < WIDTH; ++x)
                if (pixel(x, y) != first) return 0xFFFFFFFFu;
        return first;
    }
    // The pixel a fill of the fade colour blended at `level` gives (always
    // through the table, as the fade is: its transparency is never 0).
    uint32_t at_level(int32_t level)
    {
        clear();
        const rectangle2d whole = {0, 0, HEIGHT, WIDTH};
        fill_rectangle_clipped(screen, &FADE_COLOR, &whole, nullptr, (fixed_fraction)((level << 12) | 0x800),
                               get_transparency_table(_transparency_normal));
        return pixel(3, 3);
    }
};

TEST_F(ingame_fades, a_positive_fade_with_no_current_duration_is_solid_for_one_tick_then_gone)
{
    const uint32_t solid = at_level(0);
    ASSERT_EQ(solid & 0xF8F8F8u, 0xF88000u) << "level 0 is the colour itself";
    set_ingame_fade(&FADE_COLOR, 30, 0);
    EXPECT_EQ(get_ingame_fade_timer(), 1);
    EXPECT_EQ(drawn(), solid);
    update_ingame_fades();
    EXPECT_EQ(get_ingame_fade_timer(), 0);
    EXPECT_EQ(drawn(), BACKGROUND);
    update_ingame_fades();
    EXPECT_EQ(get_ingame_fade_timer(), 0);

    // A full positive fade starts invisible and thickens as the timer falls.
    set_ingame_fade(&FADE_COLOR, 30, 30);
    EXPECT_EQ(drawn(), at_level(15));
    for (int32_t i = 0; i < 15; ++i) update_ingame_fades();
    EXPECT_EQ(get_ingame_fade_timer(), 15);
    EXPECT_EQ(drawn(), at_level(7)); // 15/30 of 65535 is level 7
    set_ingame_fade(&FADE_COLOR, 30, 45); // a start beyond the duration is the duration
    EXPECT_EQ(get_ingame_fade_timer(), 30);
}

TEST_F(ingame_fades, a_negative_fade_starts_part_cleared_and_is_held_at_minus_one)
{
    set_ingame_fade(&FADE_COLOR, -30, -10);
    EXPECT_EQ(get_ingame_fade_timer(), -10);
    // (-30 + 10) / -30 = 0.67 of 65535 = 43690: level 10.
    const uint32_t two_thirds = at_level(10);
    EXPECT_EQ(drawn(), two_thirds);
    EXPECT_NE(two_thirds, at_level(0));
    EXPECT_NE(two_thirds, BACKGROUND);
    for (int32_t i = 0; i < 9; ++i) update_ingame_fades();
    EXPECT_EQ(get_ingame_fade_timer(), -1);
    const uint32_t held = drawn();
    EXPECT_EQ(held, at_level(15));
    for (int32_t i = 0; i < 5; ++i) update_ingame_fades();
    EXPECT_EQ(get_ingame_fade_timer(), -1);
    EXPECT_EQ(drawn(), held);

    // A start earlier than the duration is the duration: the solid colour.
    set_ingame_fade(&FADE_COLOR, -30, -50);
    EXPECT_EQ(get_ingame_fade_timer(), -30);
    EXPECT_EQ(drawn(), 0xFF8000u); // transparency 0: the colour unblended
    set_ingame_fade(&FADE_COLOR, -30, 5); // a non-negative start holds at once
    EXPECT_EQ(get_ingame_fade_timer(), -1);
}

TEST_F(ingame_fades, duration_zero_and_a_new_map_clear_a_running_fade_at_once)
{
    set_ingame_fade(&FADE_COLOR, 30, 20);
    ASSERT_NE(drawn(), BACKGROUND);
    set_ingame_fade(&FADE_COLOR, 0, 20);
    EXPECT_EQ(get_ingame_fade_timer(), 0);
    EXPECT_EQ(drawn(), BACKGROUND);

    set_ingame_fade(&FADE_COLOR, -30, -30);
    ASSERT_NE(drawn(), BACKGROUND);
    initialize_ingame_fades_for_new_game();
    EXPECT_EQ(drawn(), BACKGROUND);

    // No colour is black; a view without a screen draws nothing.
    set_ingame_fade(nullptr, -30, -30);
    EXPECT_EQ(drawn(), 0u);
    view.screen = nullptr;
    rasterize_ingame_fades(&view);
    rasterize_ingame_fades(nullptr);
}
} // namespace

} // namespace ingame_fades_test_file
