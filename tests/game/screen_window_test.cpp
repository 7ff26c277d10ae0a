// The screen's window on a real X server: the test starts its own Xvfb (it
// never uses a DISPLAY it finds), opens the main-menu mode, and reads the
// window back with xprop and xwininfo: the caption "VESK", the 128 x 128 icon
// property, the desktop file when the launcher named one, the size, and a
// round trip to full screen and back.

#include "tag_files/store_fixture.h"

#include <SDL.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <unistd.h>

#include "support/expected_assertions.h"
#include "support/machine_pace.h"
#include "support/x_server.h"

#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_controller_sdl.h"
#include "platform_events.h"
#include "screen.h"
#include "screen_sdl.h"
#include "screen_setup.h"


#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace screen_window_test_file {

#if defined(__SANITIZE_ADDRESS__)
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

// Where the window is: its corner on the desktop and its size.
struct geometry
{
    int x = -1, y = -1, width = -1, height = -1;
    bool operator==(const geometry &) const = default;
};

std::ostream &operator<<(std::ostream &out, const geometry &g)
{
    return out << g.width << " x " << g.height << " at (" << g.x << ", " << g.y << ")";
}

class screen_window : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        alarm(60); // a window system that hangs fails the test instead of the whole run
        std::string why;
        if (!server.start(&why, screen_size())) GTEST_SKIP() << why;
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

    // Xvfb's screen for the test (width x height x depth).
    virtual const char *screen_size(void) const { return "1280x1024x24"; }

    geometry window_geometry(void)
    {
        const std::string info = x_tool("xwininfo", "");
        geometry g;
        auto field = [&](const char *name) {
            const size_t at = info.find(name);
            return at == std::string::npos ? -1 : atoi(info.c_str() + at + strlen(name));
        };
        g.x = field("Absolute upper-left X:");
        g.y = field("Absolute upper-left Y:");
        g.width = field("Width:");
        g.height = field("Height:");
        return g;
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

    // A write whose reader is gone (as a dead X server) fails rather than
    // ending the program, which then says why and closes its film.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    EXPECT_EQ(write(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(ends[1]);
}

// Every change of mode puts the window where the rules say: the main menu's
// 640 x 480 window centred on the desktop, a film full screen from the
// desktop's corner (its mode is the desktop's own size), and after the film
// the menu's window centred again, never partly off the screen.
class screen_window_on_desktop : public screen_window, public ::testing::WithParamInterface<const char *>
{
protected:
    const char *screen_size(void) const override { return GetParam(); }
};

TEST_P(screen_window_on_desktop, each_mode_change_places_the_whole_window_on_the_desktop)
{
    const int desktop_width = atoi(GetParam()), desktop_height = atoi(strchr(GetParam(), 'x') + 1);
    const geometry menu = {(desktop_width - 640) / 2, (desktop_height - 480) / 2, 640, 480};
    const geometry film = {0, 0, desktop_width, desktop_height};
    initialize_screen();
    ASSERT_TRUE(screen_surface_exists());
    EXPECT_EQ(window_geometry(), menu) << "the main menu";

    game_->type = _game_type_replay;
    set_screen_parameters_for_new_state(_game_state_running);
    EXPECT_FALSE(is_windowed_now()) << "the desktop's own size opens full screen";
    EXPECT_EQ(window_geometry(), film) << "a film";

    set_screen_parameters_for_new_state(_game_state_displaying_main_menu);
    EXPECT_TRUE(is_windowed_now());
    EXPECT_EQ(window_geometry(), menu) << "after the film";
    game_->type = _game_type_local;
}

INSTANTIATE_TEST_SUITE_P(desktops, screen_window_on_desktop, ::testing::Values("1024x768x24", "1280x1024x24"));

// Full screen grabs the input; a film hides an idle pointer.  The pointer,
// hidden, still reports where it is, so a move shows it again and a click
// lands under it (SDL's own hiding would freeze its position).
TEST_F(screen_window, a_hidden_pointer_in_full_screen_still_reports_where_it_moves)
{
    initialize_screen();
    game_->type = _game_type_replay;
    set_screen_parameters_for_new_state(_game_state_running);
    ASSERT_FALSE(is_windowed_now());
    initialize_input_device();
    hide_cursor();
    int16_t x = -1, y = -1;
    for (const auto &to : {std::pair{300, 200}, std::pair{970, 22}})
    {
        run("DISPLAY=" + server.display + " xdotool mousemove " + std::to_string(to.first) + " " +
            std::to_string(to.second) + " 2>&1");
        // Until the pointer's event came; the bound (10 s) only guards against a hang.
        for (int i = 0; i < 500 && (x != to.first || y != to.second); ++i)
        {
            SDL_Event event;
            while (SDL_PollEvent(&event)) queue_input_event_if_necessary(&event);
            get_mouse_position(&x, &y);
            usleep(20000);
        }
        EXPECT_EQ(x, to.first);
        EXPECT_EQ(y, to.second);
    }
    show_cursor();
    set_screen_parameters_for_new_state(_game_state_displaying_main_menu);
    game_->type = _game_type_local;
}

// Real X wheel events (buttons 4 and 5 over the window) reach the input
// layer as notches: up is -40 a notch, down +40, as the camera reads them.
TEST_F(screen_window, wheel_notches_from_the_x_server_reach_the_input_layer)
{
    initialize_screen();
    ASSERT_TRUE(screen_surface_exists());
    initialize_input_device();
    run("DISPLAY=" + server.display + " xdotool mousemove 640 512 click 4 click 4 sleep 0.2 2>&1");
    // Up to a second of the reference machine for the server's events, and
    // a tenth of one more once the first came; both scaled by this machine's pace.
    const int32_t polls = (int32_t)(50 * machine_slowness()), settle = (int32_t)(5 * machine_slowness());
    auto notches = [polls, settle](void) {
        int32_t delta = 0, total = 0;
        for (int i = 0; i < polls; ++i)
        {
            SDL_Event event;
            while (SDL_PollEvent(&event)) queue_input_event_if_necessary(&event);
            get_mouse_wheel_delta_for_axis(_mouse_wheel_axis_y, &delta);
            total += delta;
            if (total != 0 && i > settle) break;
            usleep(20000);
        }
        return total;
    };
    EXPECT_EQ(notches(), -80) << "two notches up";
    run("DISPLAY=" + server.display + " xdotool click 5 2>&1");
    EXPECT_EQ(notches(), 40) << "one notch down";
}

} // namespace

} // namespace screen_window_test_file
