// The screen's window on a real X server: the test starts its own Xvfb (it
// never uses a DISPLAY it finds), opens the main-menu mode, and reads the
// window back with xprop and xwininfo: the caption "VESK", the 128 x 128 icon
// property, the desktop file when the launcher named one, the size, and a
// round trip to full screen and back.

#include "tag_files/store_fixture.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "support/expected_assertions.h"
#include "support/x_server.h"

#include "screen.h"
#include "screen_sdl.h"
#include "screen_setup.h"


#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
static void disable_leak_checks(void) { __lsan_disable(); }
static void enable_leak_checks(void) { __lsan_enable(); }
#else
static void disable_leak_checks(void) {}
static void enable_leak_checks(void) {}
#endif

namespace {

std::string run(const std::string &command)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

class screen_window : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        alarm(60); // a window system that hangs fails the test instead of the whole run
        std::string why;
        if (!server.start(&why)) GTEST_SKIP() << why;
        setenv("DISPLAY", server.display.c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
        // SDL loads and unloads X extension libraries behind the test; what
        // they keep the leak checker cannot name once they are gone, so
        // allocations made while the window is up are not checked here (the
        // dummy driver's test checks the screen's own).
        disable_leak_checks();
        leak_checks_disabled = true;
        setenv("GIO_LAUNCHED_DESKTOP_FILE", "/usr/share/applications/vesk.desktop", 1);
        store_test::SetUp();
        start_store();
        reset_screen_for_tests();
    }
    void TearDown() override
    {
        restore_world_device();
        reset_screen_for_tests();
        clear_screen_devices();
        server.stop();
        store_test::TearDown();
        if (leak_checks_disabled) enable_leak_checks();
        leak_checks_disabled = false;
        alarm(0);
    }

    std::string x_tool(const char *tool, const char *arguments)
    {
        return run("DISPLAY=" + server.display + " " + tool + " -name " SCREEN_WINDOW_CAPTION " " + arguments +
                   " 2>&1");
    }

    own_x_server server;
    bool leak_checks_disabled = false;
};

TEST_F(screen_window, the_window_has_its_caption_icon_desktop_file_and_size_and_goes_full_screen_and_back)
{
    // A desktop session knows the desktop-file atom; the bare server learns it here.
    run("DISPLAY=" + server.display + " xprop -root -f _NET_WM_DESKTOP_FILE 8s -set _NET_WM_DESKTOP_FILE x");
    initialize_screen();
    ASSERT_TRUE(screen_surface_exists());
    EXPECT_GE(get_screen_device(0)->mode_count, 2) << "Xvfb lists its own modes";
    EXPECT_TRUE(is_windowed_now()) << "640 x 480 on a 1280 x 1024 desktop";
    clear_backbuffer();
    display_backbuffer(nullptr);

    const std::string names = x_tool("xprop", "WM_NAME _NET_WM_DESKTOP_FILE");
    EXPECT_NE(names.find("WM_NAME(STRING) = \"VESK\""), std::string::npos) << names;
    EXPECT_NE(names.find("_NET_WM_DESKTOP_FILE(STRING) = \"/usr/share/applications/vesk.desktop"), std::string::npos)
        << names;

    const std::string icon = x_tool("xprop", "-len 200000 -f _NET_WM_ICON 32c ' = $0+' _NET_WM_ICON");
    const size_t equals = icon.find("_NET_WM_ICON(CARDINAL) = ");
    ASSERT_NE(equals, std::string::npos) << icon.substr(0, 300);
    size_t values = 1;
    for (size_t i = equals; i < icon.size(); ++i) values += icon[i] == ',';
    EXPECT_EQ(values, (size_t)SCREEN_ICON_PROPERTY_COUNT);
    EXPECT_EQ(icon.compare(equals + 25, 10, "128, 128, "), 0) << icon.substr(equals, 60);

    const std::string geometry = x_tool("xwininfo", "");
    EXPECT_NE(geometry.find("Width: 640"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Height: 480"), std::string::npos) << geometry;

    toggle_windowed_mode(false);
    EXPECT_FALSE(is_windowed_now());
    set_sdl_windowed_mode(true);
    EXPECT_TRUE(is_windowed_now());
    EXPECT_EQ(active_screen.width, 640);
}

} // namespace
