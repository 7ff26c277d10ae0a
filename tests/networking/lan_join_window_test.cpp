// Two copies of the game, each in the window of an X server of the test's own,
// worked by xdotool as two players would: the joiner opens the create-or-join
// dialog first, the host then creates a game, and the joiner must see it
// appear as a row of the found-games list (on the screen), pick that row and
// press Join.  Both must then sit in the set-up, each listing both players.
// Everything goes over 127.0.0.1 in a network of the test's own; every press
// waits until the game has shown the answer to the one before, within a bound.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/demo_data.h"
#include "support/net_game_processes.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "support/x_server.h"

namespace lan_join_window_test_file {

namespace
{
using namespace std::chrono_literals;

// Points of the game's 640 x 480 window (the menus' screen; dialogs centred).
struct point
{
    int x, y;
};
struct box
{
    int left, top, right, bottom;
};
// The network selection and the create-or-join dialog (470 high, their items
// 30 under the title) lie 15 lower than their items' own numbers say; the
// set-up (480 high, 20 under the title) 10 lower.
const point network_game = {320, 204}, direct = {304, 205}, selection_ok = {534, 442}, player_name = {340, 60};
const point create_radio = {192, 61}, game_name = {380, 123}, accept = {535, 443};
const point first_found = {98, 113};
const box found_row = {42, 106, 460, 120};
const box player_rows[] = {{360, 65, 580, 79}, {360, 86, 580, 100}};
const box no_player = {360, 107, 580, 121};
const char game_title[] = "Frost Fort";

// All the case's waits end by one deadline, from the fixture's start: it only
// guards against a hang, at ten times the case's quiet time (some 45 s under
// the sanitizers on a busy machine), inside ctest's limit of 600 s (a grab or
// a press may take up to 20 s more): a step that stalls fails naming itself
// instead of being killed with nothing said.  Every step waits on what the
// game shows, never on a time.
constexpr std::chrono::seconds kCaseBound{450};
// Pixels a still window may change by between two grabs (a text caret), and
// the least a press that opens a dialog or types a name changes.
const int kCaretPixels = 200, kNewDialogPixels = 5000, kTypedPixels = 60;

struct image
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    // Pixels of `b` that differ from those of `other` at `b` moved down by `dy`.
    int differences(const box &b, const image &other, int dy = 0) const
    {
        int count = 0;
        for (int y = b.top; y < b.bottom; ++y)
            for (int x = b.left; x < b.right; ++x)
            {
                const size_t here = ((size_t)y * width + x) * 3, there = ((size_t)(y + dy) * other.width + x) * 3;
                if (rgb[here] != other.rgb[there] || rgb[here + 1] != other.rgb[there + 1] ||
                    rgb[here + 2] != other.rgb[there + 2])
                    ++count;
            }
        return count;
    }
};

class lan_join_window : public vesk_sim_fixture
{
protected:
    // Each game has a display of its own: the game centres its window
    // whenever it sets its screen up, so two on one display would overlap.
    own_x_server servers[2];
    std::string display; // the display the calls below work on
    const std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kCaseBound;

    bool in_time(void) const { return std::chrono::steady_clock::now() < deadline; }
    // Said beside a failed step: whether it failed by running out of time.
    std::string late(void) const { return in_time() ? "" : " (the case's deadline passed)"; }

    std::vector<std::string> programs_needed(void) const override { return {"vesk"}; }
    // The game's own fonts, so that the screen shows names as a player sees them.
    bool make_extra_tags(std::vector<test_tag> *tags) override { return use_demo_interface_fonts(tool, tags); }

    // A game's window on its display.
    struct game_window
    {
        std::string display;
        mutable std::string id; // looked up again when the game has made its window anew
        pid_t pid = -1;
    };

    // The game's visible window, as the game has it now: it makes its window
    // anew when it sets its screen up, so an id found earlier may be gone.
    bool find_window(const game_window &window)
    {
        const std::string list = directory + "/window.txt";
        const std::string search = "DISPLAY=" + window.display + " timeout 20 xdotool search --all --onlyvisible --pid " +
                                   std::to_string(window.pid) + " --name '^VESK$' >" + list + " 2>/dev/null";
        std::string id;
        if (system(search.c_str()) == 0) std::ifstream(list) >> id;
        if (!id.empty()) window.id = id;
        return !id.empty();
    }

    bool x(const game_window &window, const std::string &arguments)
    {
        return system(("DISPLAY=" + window.display + " timeout 20 xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }

    // Starts the game on `server`; its window, still at the main menu (no id
    // when none shows within the bound).
    game_window start_game(vesk_sim_process *game, const own_x_server &server)
    {
        game_window window = {server.display, "", -1};
        setenv("DISPLAY", server.display.c_str(), 1);
        if (!game->start_game(bin, directory)) return window;
        window.pid = game->pid;
        while (in_time() && !find_window(window)) std::this_thread::sleep_for(200ms);
        // The menu answers once the game says it is there and has drawn it.
        const std::string log = game->directory + "/vesk_log.txt";
        while (in_time() && read_whole_file(log).find("-> main menu") == std::string::npos)
            std::this_thread::sleep_for(200ms);
        find_window(window);
        if (!window.id.empty()) still(window);
        return window;
    }

    // The window once two grabs a moment apart differ in fewer pixels than a
    // text field's caret blinking takes: the game has drawn what it was asked
    // to (a dialog fades in over a few frames).  Empty when no grab was made
    // within the bound.
    image still(const game_window &window)
    {
        image last = grab(window);
        while (in_time())
        {
            std::this_thread::sleep_for(300ms);
            image now = grab(window);
            const bool same = now.width > 0 && now.width == last.width && now.height == last.height &&
                              now.differences({0, 0, now.width, now.height}, last) < kCaretPixels;
            last = std::move(now);
            if (same) break;
        }
        return last;
    }

    // Runs `action`, then waits until at least `pixels` pixels of `region`
    // (the whole window when null) differ from the still picture before it,
    // and for the window to be still again: a press that opens a dialog is
    // answered before the next one is made, however slowly the game runs.
    // False when nothing changed within the bound.
    bool answered(const game_window &window, const std::function<void(void)> &action, int pixels,
                  const box *region = nullptr)
    {
        const image before = still(window);
        action();
        while (in_time())
        {
            const image now = grab(window);
            const box all = {0, 0, now.width, now.height};
            if (now.width > 0 && now.width == before.width && now.height == before.height &&
                now.differences(region ? *region : all, before) >= pixels)
            {
                still(window);
                return true;
            }
            std::this_thread::sleep_for(300ms);
        }
        return false;
    }

    void click(const game_window &window, point p)
    {
        const std::string at = " " + std::to_string(p.x) + " " + std::to_string(p.y) + " click 1";
        if (!x(window, "mousemove --window " + window.id + at) && find_window(window))
            x(window, "mousemove --window " + window.id + at);
    }

    // Clicks the text field at `p` and types `text` in place of what it held.
    void retype(const game_window &window, point p, const std::string &text)
    {
        click(window, p);
        x(window, "key End");
        x(window, "key --repeat 40 --delay 10 BackSpace");
        x(window, "type --delay 40 '" + text + "'");
    }

    image grab(const game_window &window)
    {
        image result = grab_once(window);
        if (result.width == 0 && find_window(window)) result = grab_once(window);
        return result;
    }

    image grab_once(const game_window &window)
    {
        image result;
        const std::string file = directory + "/grab.ppm";
        if (system(("timeout 20 xwd -silent -display " + window.display + " -id " + window.id +
                    " | timeout 20 xwdtopnm >'" + file + "' 2>/dev/null")
                       .c_str()))
            return result;
        // A binary PPM: "P6", width, height and maximum, comments between.
        std::ifstream in(file, std::ios::binary);
        std::string word;
        int numbers[3] = {0, 0, 0};
        in >> word;
        for (int i = 0; i < 3 && in && word == "P6";)
        {
            in >> std::ws;
            if (in.peek() == '#') in.ignore(1 << 16, '\n');
            else in >> numbers[i++];
        }
        in.get();
        if (in && word == "P6" && numbers[2] == 255)
        {
            result.width = numbers[0];
            result.height = numbers[1];
            result.rgb.resize((size_t)result.width * result.height * 3);
            if (!in.read((char *)result.rgb.data(), (std::streamsize)result.rgb.size())) result.rgb.clear();
        }
        if (result.rgb.empty()) result.width = result.height = 0;
        return result;
    }

    // The window kept beside the test, to be looked at.
    void keep(const game_window &window, const std::string &name)
    {
        if (system(("timeout 20 xwd -silent -display " + window.display + " -id " + window.id +
                    " | timeout 20 xwdtopnm 2>/dev/null | timeout 20 pnmtopng >'" + previous + "/" + name + "'")
                       .c_str()))
            ADD_FAILURE() << "no picture of the screen";
    }

    // From the main menu into the create-or-join dialog as `name` over TCP/IP,
    // each press made once the game has shown what the one before opened.
    void open_create_or_join(const game_window &window, const std::string &name)
    {
        ASSERT_TRUE(answered(window, [&] { click(window, network_game); }, kNewDialogPixels))
            << "the network selection did not open" << late();
        ASSERT_TRUE(answered(window, [&] { retype(window, player_name, name); }, kTypedPixels))
            << "the player's name was not typed" << late();
        click(window, direct);
        ASSERT_TRUE(answered(window, [&] { click(window, selection_ok); }, kNewDialogPixels))
            << "the create-or-join dialog did not open" << late();
    }
};

TEST_F(lan_join_window, a_game_found_on_the_local_network_shows_as_a_row_and_is_joined_through_it)
{
    std::string why;
    if (system("command -v xdotool >/dev/null && command -v xwd >/dev/null && command -v xwdtopnm >/dev/null") != 0)
        SKIP_OR_FAIL_UNDER_CI("no xdotool, xwd or netpbm");
    for (own_x_server &server : servers)
        if (!server.start(&why, "800x600x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    // The games found are the test's own, and its host may take the
    // well-known port, whatever else plays on the machine.  (The X servers
    // stay outside: the programs reach them through their socket files.)
    if (!enter_own_network(&why)) SKIP_OR_FAIL_UNDER_CI(why);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);

    vesk_sim_process joiner, host;
    const game_window host_window = start_game(&host, servers[0]);
    ASSERT_NE(host_window.id, "") << late() << read_whole_file(host.directory + "/vesk_log.txt");
    const game_window joiner_window = start_game(&joiner, servers[1]);
    ASSERT_NE(joiner_window.id, "") << late() << read_whole_file(joiner.directory + "/vesk_log.txt");

    ASSERT_NO_FATAL_FAILURE(open_create_or_join(joiner_window, "Brynja"));
    // The empty list (the dialog has stopped changing: it fades in).
    const image empty = still(joiner_window);
    ASSERT_GT(empty.width, 0) << "no picture of the joiner's window" << late();

    ASSERT_NO_FATAL_FAILURE(open_create_or_join(host_window, "Aldo"));
    ASSERT_TRUE(answered(host_window, [&] { click(host_window, create_radio); }, kTypedPixels))
        << "the dialog did not turn to creating" << late();
    ASSERT_TRUE(answered(host_window, [&] { retype(host_window, game_name, game_title); }, kTypedPixels))
        << "the game's name was not typed" << late();
    // The game keeps the port the searchers ask at.
    ASSERT_TRUE(answered(host_window, [&] { click(host_window, accept); }, kNewDialogPixels))
        << "the host's set-up did not open" << late();

    // The game's row shows in the joiner's list.
    int drawn = 0;
    while (drawn < 40 && in_time())
    {
        std::this_thread::sleep_for(300ms);
        const image now = grab(joiner_window);
        if (now.width == empty.width && now.height == empty.height) drawn = now.differences(found_row, empty);
    }
    keep(joiner_window, "lan_join_window_found.png");
    ASSERT_GE(drawn, 40) << "no row of the found-games list was drawn" << late();

    // The row picked (it shows picked), then Join.
    ASSERT_TRUE(answered(joiner_window, [&] { click(joiner_window, first_found); }, 40, &found_row))
        << "the found game's row was not picked" << late();
    ASSERT_TRUE(answered(joiner_window, [&] { click(joiner_window, accept); }, kNewDialogPixels))
        << "the joiner's set-up did not open" << late();
    const std::string joiner_log = read_whole_file(joiner.directory + "/vesk_log.txt");
    EXPECT_NE(joiner_log.find("joining '" + std::string(game_title) + "', found on the local network"),
              std::string::npos)
        << joiner_log;

    // Both set-ups list the two players, the same two rows, one name each:
    // the host's once the joiner's arrival has reached it.
    const auto both_rows_filled = [&](const image &setup) {
        return setup.width > 0 && setup.differences(player_rows[1], setup, no_player.top - player_rows[1].top) > 200;
    };
    image in_host = still(host_window), in_joiner = still(joiner_window);
    while (!(both_rows_filled(in_host) && both_rows_filled(in_joiner)) && in_time())
    {
        std::this_thread::sleep_for(300ms);
        in_host = still(host_window);
        in_joiner = still(joiner_window);
    }
    ASSERT_GT(in_host.width, 0) << late();
    ASSERT_EQ(in_host.width, in_joiner.width);
    for (const image *setup : {&in_host, &in_joiner})
        for (const box &row : player_rows)
            EXPECT_GT(setup->differences(row, *setup, no_player.top - row.top), 200) << "an empty player row" << late();
    EXPECT_GT(in_host.differences(player_rows[0], in_host, player_rows[1].top - player_rows[0].top), 20)
        << "two rows alike: one player twice";
    for (const box &row : player_rows)
        EXPECT_LT(in_host.differences(row, in_joiner), 20) << "the host and the joiner list different players";
    keep(host_window, "lan_join_window_host.png");
    keep(joiner_window, "lan_join_window_joiner.png");
}

} // namespace

} // namespace lan_join_window_test_file
