// The screen over the real SDL with its headless "dummy" video driver: start
// up as the game does, open 640 x 480 at 32 and at 16 bits, lend the back
// buffer, draw into it with the 2D primitives, present it, and find on the
// video surface exactly what was drawn, in the encoding its masks name.

#include "tag_files/store_fixture.h"

#include <SDL.h>

#include <cstdlib>

#include "support/expected_assertions.h"

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "render/render_effects.h"
#include "screen.h"
#include "screen_sdl.h"
#include "screen_setup.h"

namespace screen_dummy_driver_test_file {


namespace {

class screen_dummy_driver : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        store_test::SetUp();
        start_store();
        reset_screen_for_tests();
    }
    void TearDown() override
    {
        restore_world_device();
        reset_screen_for_tests();
        clear_screen_devices();
        store_test::TearDown();
    }

    // Fills the bounds with a blue ground, a red rectangle and a white
    // diagonal, presents them, and compares every pixel of the surface.
    static void draw_and_compare(void)
    {
        rectangle2d bounds;
        get_screen_bounds(&bounds);
        bitmap_data *buffer = get_linear_backbuffer(&bounds);
        ASSERT_NE(buffer, nullptr);
        const rectangle2d inner = {100, 200, 300, 500};
        const point2d from = {0, 0}, to = {479, 479};
        fill_rectangle_clipped(buffer, &rgb_blue, &bounds, &bounds, 0, nullptr);
        fill_rectangle_clipped(buffer, &rgb_red, &inner, &bounds, 0, nullptr);
        draw_line(buffer, &rgb_white, 0, nullptr, &bounds, &from, &to);
        release_linear_backbuffer(buffer);
        display_backbuffer(nullptr);

        SDL_Surface *surface = SDL_GetVideoSurface();
        ASSERT_NE(surface, nullptr);
        const bool sixteen = surface->format->BitsPerPixel == 16;
        EXPECT_EQ(active_screen.encoding, sixteen ? (surface->format->Gmask == 0x7E0 ? _16bit_565_encoding
                                                                                        : _16bit_555_encoding)
                                                  : _32bit_encoding);
        auto pixel_of = [&](const rgb_color &c) -> uint32_t {
            if (!sixteen) return rgb_color_to_pixel32(&c) & 0xFFFFFF;
            return active_screen.encoding == _16bit_565_encoding ? rgb_color_to_pixel16_565(&c)
                                                                  : rgb_color_to_pixel16_555(&c);
        };
        int32_t mismatches = 0;
        if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
            {
                const uint8_t *p = (const uint8_t *)surface->pixels + y * surface->pitch + x * (sixteen ? 2 : 4);
                const uint32_t actual = sixteen ? *(const uint16_t *)p : (*(const uint32_t *)p & 0xFFFFFF);
                const rgb_color &expected = x == y                                   ? rgb_white
                                            : (y >= 100 && y < 300 && x >= 200 && x < 500) ? rgb_red
                                                                                           : rgb_blue;
                if (actual != pixel_of(expected) && ++mismatches < 5)
                    ADD_FAILURE() << "pixel " << x << ", " << y << " is " << std::hex << actual;
            }
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        EXPECT_EQ(mismatches, 0);
    }
};

TEST_F(screen_dummy_driver, the_main_menu_mode_opens_and_shows_what_is_drawn_at_32_and_16_bits)
{
    initialize_screen();
    ASSERT_TRUE(active_screen.screen_initialized);
    ASSERT_GT(get_screen_device_count(), 0) << "\"any size\" gives the software device its modes";
    EXPECT_STREQ(get_screen_device(0)->name, "Software");
    EXPECT_EQ(active_screen.width, 640);
    EXPECT_EQ(active_screen.height, 480);
    EXPECT_NE(active_screen.mode_index, NONE) << "640 x 480 is among the common sizes";
    EXPECT_EQ(postrasterization_effect_count(), 1) << "the frame-rate read-out";
    ASSERT_TRUE(screen_surface_exists());
    EXPECT_EQ(SDL_GetVideoSurface()->format->BitsPerPixel, 32);
    draw_and_compare();

    // The same mode at 16 bits: the surface's masks decide between 555 and 565.
    device_info *device = get_screen_device(active_screen.device_index);
    ASSERT_NE(device, nullptr);
    device->modes[active_screen.mode_index].bit_depth = 16;
    set_screen_parameters(active_screen.device_index, active_screen.mode_index);
    ASSERT_TRUE(screen_surface_exists());
    ASSERT_EQ(SDL_GetVideoSurface()->format->BitsPerPixel, 16);
    draw_and_compare();
}

} // namespace

} // namespace screen_dummy_driver_test_file
