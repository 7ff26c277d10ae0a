// vesk_shot end to end on the demo data set: the main menu after 30 frames
// shows the title and every button where the dialog tag 'mmnu' puts them and
// matches the stored golden frame; a script pressing Quit ends the program;
// one pressing New Game logs the missing state and the menu comes back.  In a
// game (--map demo --camera ...) the frame shows the terrain under both bars,
// each in the rows its dialog tag gives, and the overhead map; it matches its
// own golden frame.
//
// The golden frames are tests/game/golden/main_menu.png and in_game.png.
// After a change that alters them on purpose, regenerate them with
//     VESK_UPDATE_GOLDEN=1 ctest -R vesk_shot_test
// from the build directory, and look at the new PNGs and at the difference
// images the run before wrote (<name>_difference.png beside the golden,
// written whenever the frame differs at all; never committed) before
// committing them.

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <regex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/stb_image_decoder.h"

#include "cseries/byte_swapping.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "image_files.h"
#include "input/input_definitions.h"
#include "mesh_format.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "shot_script.h"
#include "support/x_server.h"

namespace vesk_shot_test_file {

namespace {
namespace fs = std::filesystem;

const fs::path source_root = fs::path(source_tree_path(""));
const fs::path golden_path = source_root / "tests" / "game" / "golden" / "main_menu.png";

struct rgb_image
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t *at(int x, int y) const { return rgb.data() + ((size_t)y * width + x) * 3; }
};

rgb_image decode_png(const std::string &path)
{
    rgb_image image;
    const std::string bytes = read_whole_file(path);
    int channels = 0;
    uint8_t *pixels = bytes.empty() ? nullptr
                                    : stbi_load_from_memory((const uint8_t *)bytes.data(), (int)bytes.size(),
                                                            &image.width, &image.height, &channels, 3);
    if (!pixels) return rgb_image();
    image.rgb.assign(pixels, pixels + (size_t)image.width * image.height * 3);
    stbi_image_free(pixels);
    return image;
}

// An item of the dialog source: its code, identifier and rectangle.
struct menu_item
{
    std::string code;
    int id, top, left, bottom, right;
};

std::vector<menu_item> read_menu_items(void)
{
    std::vector<menu_item> items;
    std::ifstream source(source_root / "data" / "interface" / "dialogs" / "mmnu.txt");
    for (std::string line; std::getline(source, line);)
    {
        std::istringstream words(line);
        std::string keyword;
        menu_item item;
        if (words >> keyword && keyword == "item" &&
            words >> item.code >> item.id >> item.top >> item.left >> item.bottom >> item.right)
            items.push_back(item);
    }
    return items;
}

class vesk_shot_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk_shot"}; }

    // Runs vesk_shot with `arguments`; its standard output in `output`.
    int shot(const std::string &arguments, std::string *output)
    {
        const std::string command = "'" + bin + "/vesk_shot' --data '" + directory + "' " + arguments +
                                    " >shot.out 2>shot.err";
        const int status = exit_code_of(system(command.c_str()));
        *output = read_whole_file("shot.out");
        return status;
    }
    void write_script(const char *text) { std::ofstream("script.txt") << text; }
};

// How many pixels of the rectangle differ from `ground` by more than 24 in a channel.
int pixels_unlike(const rgb_image &image, int left, int top, int right, int bottom, const uint8_t ground[3])
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
        {
            const uint8_t *p = image.at(x, y);
            if (abs(p[0] - ground[0]) > 24 || abs(p[1] - ground[1]) > 24 || abs(p[2] - ground[2]) > 24) ++count;
        }
    return count;
}

// The button's face shades from top to bottom only: the caption is what
// differs from the face's colour at the same height beside it (at x `face`).
int caption_pixels(const rgb_image &image, int left, int top, int right, int bottom, int face)
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
    {
        const uint8_t *ground = image.at(face, y);
        for (int x = left; x < right; ++x)
        {
            const uint8_t *p = image.at(x, y);
            if (abs(p[0] - ground[0]) > 24 || abs(p[1] - ground[1]) > 24 || abs(p[2] - ground[2]) > 24) ++count;
        }
    }
    return count;
}

// Compares `frame` with the golden frame `name`.png within the golden-frame
// tolerance (at most 0.5 % of the pixels differ, none by more than 8 in a
// channel), writing <name>_difference.png when anything differs; with
// VESK_UPDATE_GOLDEN set, stores the frame at `path` as the golden instead.
// True when the golden was rewritten (the caller skips).
bool compare_with_golden(const rgb_image &frame, const std::string &path, const char *name)
{
    const fs::path golden_file = golden_path.parent_path() / (std::string(name) + ".png");
    if (getenv("VESK_UPDATE_GOLDEN"))
    {
        fs::copy_file(path, golden_file, fs::copy_options::overwrite_existing);
        return true;
    }
    const rgb_image golden = decode_png(golden_file.string());
    EXPECT_EQ(golden.width, frame.width) << "no golden frame of this size at " << golden_file;
    EXPECT_EQ(golden.height, frame.height);
    if (golden.width != frame.width || golden.height != frame.height) return false;
    int differing = 0, worst = 0;
    for (size_t i = 0; i < frame.rgb.size(); i += 3)
    {
        int pixel_worst = 0;
        for (int c = 0; c < 3; ++c) pixel_worst = std::max(pixel_worst, abs(frame.rgb[i + c] - golden.rgb[i + c]));
        if (pixel_worst > 0) ++differing;
        worst = std::max(worst, pixel_worst);
    }
    EXPECT_LE(differing, frame.width * frame.height / 200) << "pixels differing from the golden frame " << name;
    EXPECT_LE(worst, 8) << "the largest difference from the golden frame " << name;
    if (differing > 0)
    {
        // The difference, eight times brighter, to look at beside the golden.
        std::vector<uint8_t> difference(frame.rgb.size());
        for (size_t i = 0; i < difference.size(); ++i)
            difference[i] = (uint8_t)std::min(255, 8 * abs(frame.rgb[i] - golden.rgb[i]));
        int32_t size = 0;
        uint8_t *png =
            compress_image_to_png_file_in_memory(difference.data(), frame.width, frame.height, frame.width * 3, &size);
        EXPECT_NE(png, nullptr);
        if (png)
        {
            const fs::path difference_path = golden_path.parent_path() / (std::string(name) + "_difference.png");
            EXPECT_TRUE(write_whole_file(difference_path.string(), png, (size_t)size));
            free(png);
        }
    }
    return false;
}

// The main menu's notice line (item 8) and the pixels of its gold letters.
enum { NOTICE_ITEM = 8 };
int notice_pixels(const rgb_image &frame, const menu_item &notice)
{
    int count = 0;
    for (int y = notice.top; y < notice.bottom; ++y)
        for (int x = notice.left; x < notice.right; ++x)
        {
            const uint8_t *p = &frame.rgb[3 * (y * frame.width + x)];
            count += p[0] > 180 && p[1] > 150 && p[2] < 160;
        }
    return count;
}

// The last line vesk_shot printed: the screenshot's path.
std::string shot_path(const std::string &output)
{
    const size_t start = output.rfind('\n', output.size() - 2) + 1;
    return output.substr(start, output.size() - 1 - start);
}

TEST_F(vesk_shot_test, the_main_menu_shows_its_title_and_buttons_where_the_tag_puts_them_and_matches_the_golden)
{
    std::string output;
    ASSERT_EQ(shot("--frames 30", &output), 0) << output << read_whole_file("shot.err");
    // The intro (no movie in the data) hands over to the main menu.
    EXPECT_NE(output.find("game state: starting up -> intro\ngame state: intro -> main menu\n"), std::string::npos)
        << output;
    const std::string path = output.substr(output.rfind('\n', output.size() - 2) + 1,
                                           output.size() - 1 - (output.rfind('\n', output.size() - 2) + 1));
    ASSERT_EQ(path.substr(path.size() - 4), ".png") << output;
    const rgb_image frame = decode_png(path);
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);

    // The picture behind: the dusk sky at the top, the dark panel between the buttons.
    const uint8_t sky[3] = {8, 14, 40}, panel[3] = {30, 34, 48}, banner[3] = {24, 20, 36};
    EXPECT_EQ(pixels_unlike(frame, 0, 0, 8, 8, sky), 0);
    const std::vector<menu_item> items = read_menu_items();
    ASSERT_EQ(items.size(), 8u);
    for (const menu_item &item : items)
    {
        SCOPED_TRACE(item.code + " " + std::to_string(item.id));
        const int area = (item.right - item.left) * (item.bottom - item.top);
        if (item.id == NOTICE_ITEM)
        {
            EXPECT_EQ(notice_pixels(frame, item), 0) << "the notice line is empty until a choice leads nowhere";
            continue;
        }
        if (item.code == "stat")
        {
            // The title's letters stand out from the banner.
            EXPECT_GT(pixels_unlike(frame, item.left, item.top, item.right, item.bottom, banner), 100);
            continue;
        }
        // The button's art covers its middle, and its caption adds colours to the face.
        const int middle = (item.left + item.right) / 2;
        EXPECT_GT(pixels_unlike(frame, middle - 40, item.top, middle + 40, item.bottom, panel), 80 * 20 * 9 / 10);
        EXPECT_GT(caption_pixels(frame, middle - 40, item.top + 4, middle + 40, item.bottom - 4, middle - 56), 20);
        (void)area;
    }
    // Between two buttons only the panel shows.
    EXPECT_EQ(pixels_unlike(frame, 260, 180, 380, 190, panel), 0);

    if (compare_with_golden(frame, path, "main_menu")) GTEST_SKIP() << "golden frame written to " << golden_path;
}

// A script names keys by name (any case) or by code, and presses either
// button; a key it cannot name is refused with the line.  Every code's name
// reads back as that code, so no two keys share a name.
TEST(shot_script, keys_are_named_and_either_button_is_pressed)
{
    const struct
    {
        const char *line;
        int16_t kind, key; // NONE: the line is refused
    } rows[] = {
        {"5 key Return", _shot_key, _key_return},       {"5 key return", _shot_key, _key_return},
        {"5 key 56", _shot_key, 56},                    {"5 key Space", _shot_key, _key_space},
        {"5 key Escape", _shot_key, _key_escape},       {"5 down Shift", _shot_key_down, _key_shift},
        {"5 up Digit1", _shot_key_up, _key_1},          {"5 key Insert", _shot_key, _key_help},
        {"5 key Enter", _shot_key, _keypad_enter},      {"5 key Keypad5", _shot_key, _keypad_5},
        {"5 key F12", _shot_key, _key_f12},             {"5 key Equals", _shot_key, _key_plus},
        {"5 right-press 10 20", _shot_right_press, 0},  {"5 right-release 10 20", _shot_right_release, 0},
        {"5 key Retrun", NONE, 0},                      {"5 key 100", NONE, 0},
        {"5 key -1", NONE, 0},                          {"5 key", NONE, 0},
        {"5 key Return Space", NONE, 0},                {"5 right-press 10", NONE, 0},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.line);
        std::vector<shot_event> events;
        char reason[256] = "";
        const bool read = parse_shot_script(row.line, "s", &events, reason, sizeof(reason));
        EXPECT_EQ(read, row.kind != NONE) << reason;
        if (!read)
        {
            EXPECT_EQ(std::string(reason).rfind("s:1:", 0), 0u) << reason;
            continue;
        }
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].frame, 5);
        EXPECT_EQ(events[0].kind, row.kind);
        if (row.kind == _shot_right_press || row.kind == _shot_right_release)
            EXPECT_TRUE(events[0].x == 10 && events[0].y == 20);
        else
            EXPECT_EQ(events[0].key_code, row.key);
    }
    for (int32_t code = 0; code < NUMBER_OF_KEYBOARD_DEVICE_CODES; ++code)
    {
        ASSERT_NE(shot_key_name(code), nullptr) << code;
        EXPECT_EQ(shot_key_code(shot_key_name(code)), code) << shot_key_name(code);
    }
    EXPECT_EQ(shot_key_name(NUMBER_OF_KEYBOARD_DEVICE_CODES), nullptr);
}

TEST_F(vesk_shot_test, pressing_quit_ends_the_program_and_a_broken_script_line_is_refused)
{
    std::string output;
    write_script("# Quit, at the centre of item 7\n2 press 320 375\n4 release 320 375\n");
    EXPECT_EQ(shot("--frames 30 --actions script.txt", &output), 0) << read_whole_file("shot.err");
    EXPECT_NE(output.find("game state: main menu -> quit\n"), std::string::npos) << output;

    write_script("2 press 320\n");
    EXPECT_EQ(shot("--actions script.txt", &output), 2) << "a broken script line is refused";
    EXPECT_NE(read_whole_file("shot.err").find("script.txt:1:"), std::string::npos);
}

// ---- in a game ---------------------------------------------------------------------

// The top and bottom of the rectangle a dialog source gives ("bounds T L B R").
bool dialog_source_rows(const char *subgroup, int *top, int *bottom)
{
    std::ifstream source(source_root / "data" / "interface" / "dialogs" / (std::string(subgroup) + ".txt"));
    for (std::string line; std::getline(source, line);)
    {
        std::istringstream words(line);
        std::string keyword;
        int left, right;
        if (words >> keyword && keyword == "bounds" && words >> *top >> left >> *bottom >> right) return true;
    }
    return false;
}

// The colours of a collection source ("color N R G B", 16 bits a channel) as 8-bit triples.
std::vector<std::array<int, 3>> collection_source_colors(const char *subgroup)
{
    std::vector<std::array<int, 3>> colors;
    std::ifstream source(source_root / "data" / "interface" / "collections" / (std::string(subgroup) + ".txt"));
    for (std::string line; std::getline(source, line);)
    {
        std::istringstream words(line);
        std::string keyword;
        int index, r, g, b;
        if (words >> keyword && keyword == "color" && words >> index >> r >> g >> b)
            colors.push_back({r >> 8, g >> 8, b >> 8});
    }
    return colors;
}

// The share of row `y` drawn in the colours of `colors` (within 12 a channel).
double row_share_in_colors(const rgb_image &image, int y, const std::vector<std::array<int, 3>> &colors)
{
    int count = 0;
    for (int x = 0; x < image.width; ++x)
    {
        const uint8_t *p = image.at(x, y);
        for (const auto &c : colors)
            if (abs(p[0] - c[0]) <= 12 && abs(p[1] - c[1]) <= 12 && abs(p[2] - c[2]) <= 12)
            {
                ++count;
                break;
            }
    }
    return (double)count / image.width;
}

// The interface's string lists (the bars' texts, the map's mission list)
// join the demo data set, as the demo data script puts them in.
class vesk_shot_in_game_test : public vesk_shot_test
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override { return make_string_list_tags(tool, tags); }
};

TEST_F(vesk_shot_in_game_test, a_game_frame_shows_the_terrain_between_both_bars_and_matches_the_golden)
{
    std::string output;
    ASSERT_EQ(shot("--map demo --camera 16,30,10,-90,-28 --frames 60", &output), 0)
        << output << read_whole_file("shot.err");
    EXPECT_NE(output.find("game state: starting up -> running\n"), std::string::npos) << output;
    const std::string path = shot_path(output);
    ASSERT_EQ(path.substr(path.size() - 4), ".png") << output;
    const rgb_image frame = decode_png(path);
    ASSERT_GT(frame.width, 640);
    ASSERT_GT(frame.height, 480);

    // The status bar along the top and the control bar along the bottom, each
    // as tall as its dialog tag and drawn in its own collection's colours;
    // the rows beside them are the scene's.
    int status_top, status_bottom, control_top, control_bottom;
    ASSERT_TRUE(dialog_source_rows("!sba", &status_top, &status_bottom));
    ASSERT_TRUE(dialog_source_rows("!cba", &control_top, &control_bottom));
    const int status_height = status_bottom - status_top, control_height = control_bottom - control_top;
    const auto status_colors = collection_source_colors("!sba"), control_colors = collection_source_colors("!cba");
    ASSERT_FALSE(status_colors.empty());
    ASSERT_FALSE(control_colors.empty());
    for (int y = 0; y < status_height; ++y)
        EXPECT_GT(row_share_in_colors(frame, y, status_colors), 0.85) << "status bar row " << y;
    EXPECT_LT(row_share_in_colors(frame, status_height, status_colors), 0.5) << "the row under the status bar";
    for (int y = frame.height - control_height; y < frame.height; ++y)
        EXPECT_GT(row_share_in_colors(frame, y, control_colors), 0.85) << "control bar row " << y;
    EXPECT_LT(row_share_in_colors(frame, frame.height - control_height - 1, control_colors), 0.5)
        << "the row over the control bar";
    // The terrain fills the middle: grass green somewhere on the middle row.
    int green = 0;
    for (int x = 0; x < frame.width; ++x)
    {
        const uint8_t *p = frame.at(x, frame.height / 2);
        if (p[1] > p[0] + 16 && p[1] > p[2] + 16) ++green;
    }
    EXPECT_GT(green, frame.width / 10) << "the terrain under the bars";

    if (compare_with_golden(frame, path, "in_game")) GTEST_SKIP() << "golden frame in_game.png written";
}

// The most common way to end a game: Escape opens the Game Menu (the
// centred 'qudi', 320 pixels square on the 1024x768 screen) and its Quit
// (item 1, rows 278-306, columns 16-156) is pressed.  The run keeps the film
// through the end screens, and the film replays in step in the tools and in
// the game's own check.
TEST_F(vesk_shot_in_game_test, a_game_quit_from_its_game_menu_leaves_a_film_that_replays_in_step)
{
    for (const char *program : {"vesk_sim", "vesk"})
        if (!fs::exists(fs::path(bin) / program)) SKIP_OR_FAIL_UNDER_CI(std::string(program) + " is missing");
    write_script("100 key 0\n110 press 438 516\n112 release 438 516\n");
    std::string output;
    ASSERT_EQ(shot("--map demo --seed 7 --actions script.txt --frames 600 --record F", &output), 0)
        << output << read_whole_file("shot.err");
    EXPECT_NE(output.find("game state: running -> epilogue\n"), std::string::npos) << output;
    ASSERT_TRUE(fs::exists("F")) << output;
    EXPECT_EQ(run_vesk_sim("--film F > replayed.txt 2> replay.err"), 0) << read_whole_file("replay.err");
    fs::create_directory("oos_checker_films");
    fs::copy_file("F", "oos_checker_films/F");
    fs::copy_file(fs::path(bin) / "vesk", "vesk");
    const int checked = system("env -u DISPLAY -u WAYLAND_DISPLAY ./vesk --oos_check > oos.txt 2>&1");
    EXPECT_TRUE(WIFEXITED(checked) && WEXITSTATUS(checked) == 0) << read_whole_file("oos.txt");

    // The same check while a game holds the folder, on a display: it says why
    // on standard error and ends, never showing a box nobody will close.
    const int held = open(SINGLE_INSTANCE_LOCK_FILE_NAME, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    fs::create_directory("boxes");
    const std::string box = "#!/bin/sh\ntouch shown\nsleep 600\n";
    ASSERT_TRUE(write_whole_file("boxes/zenity", box.data(), box.size()));
    fs::permissions("boxes/zenity", fs::perms::owner_all);
    fs::copy_file("boxes/zenity", "boxes/xmessage");
    own_x_server server;
    std::string why;
    if (!server.start(&why))
    {
        close(held);
        SKIP_OR_FAIL_UNDER_CI("no X server for the busy check: " + why);
    }
    const std::string busy_check =
        "DISPLAY=" + server.display + " PATH=\"$PWD/boxes:$PATH\" timeout 300 ./vesk --oos_check > busy.txt 2>&1";
    const int busy = system(busy_check.c_str());
    close(held);
    EXPECT_TRUE(WIFEXITED(busy) && WEXITSTATUS(busy) != 0 && WEXITSTATUS(busy) != 124) << read_whole_file("busy.txt");
    EXPECT_NE(read_whole_file("busy.txt").find("Another copy of the game is already running."), std::string::npos);
    EXPECT_FALSE(fs::exists("shown")) << "a box was shown";
}

// The scripted map, whose script ends the game when a team is gone.
class vesk_shot_scripted_test : public vesk_shot_test
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "scripted_valley.map", "scri", tags);
    }
};

// The frame of "frame F: the carnage report opens" (or "closes"), or -1.
int report_frame(const std::string &output, const char *change)
{
    std::smatch match;
    const std::regex line(std::string("frame (\\d+): the carnage report ") + change + "\n");
    return std::regex_search(output, match, line) ? std::stoi(match[1]) : -1;
}

// A game's end screens pass frame by frame: the carnage report ignores
// Return pressed as it opens, as the game does in its first second, and a
// click on its Done a second of frames later leads to the epilogue.
TEST_F(vesk_shot_scripted_test, a_click_on_the_carnage_reports_done_leads_to_the_epilogue)
{
    std::string output;
    ASSERT_EQ(shot("--map scri --seed 7 --frames 1500", &output), 0) << output << read_whole_file("shot.err");
    const int opened = report_frame(output, "opens");
    ASSERT_GT(opened, 0) << output;
    EXPECT_EQ(report_frame(output, "closes"), -1) << "nothing closes the report";

    // Done at the centre of item 1 of the report ('pocr', 620 x 384, Done at
    // rows 350-372 and columns 516-596), centred on the 1024 x 768 screen.
    const int done_x = (1024 - 620) / 2 + (516 + 596) / 2, done_y = (768 - 384) / 2 + (350 + 372) / 2;
    const std::string script = std::to_string(opened + 2) + " key Return\n" + std::to_string(opened + 40) + " press " +
                               std::to_string(done_x) + " " + std::to_string(done_y) + "\n" +
                               std::to_string(opened + 41) + " release " + std::to_string(done_x) + " " +
                               std::to_string(done_y) + "\n";
    write_script(script.c_str());
    ASSERT_EQ(shot("--map scri --seed 7 --actions script.txt --frames " + std::to_string(opened + 200), &output), 0)
        << output << read_whole_file("shot.err");
    EXPECT_EQ(report_frame(output, "opens"), opened);
    EXPECT_GE(report_frame(output, "closes"), opened + 40) << output;
    EXPECT_NE(output.find("game state: running -> epilogue\n"), std::string::npos) << output;
}

// A unit clicked at the start of the demo: its selection box, its vitality bar
// in the interface's graded colour of a full bar (a green, not the wheel's
// magenta) and its type named in the status bar.  Seen from the east, over
// the first team's soldier at 675, 350 (one pixel is four world units, so he
// stands about 150 pixels tall here).
TEST_F(vesk_shot_in_game_test, a_selected_unit_shows_its_box_its_graded_bar_and_its_name)
{
    write_script("2 press 675 350\n3 release 675 350\n");
    std::string output;
    ASSERT_EQ(shot("--map demo --camera 16,14,3,180,-30 --actions script.txt --frames 30", &output), 0)
        << output << read_whole_file("shot.err");
    ASSERT_NE(output.find("frame 2: 1 units selected\n"), std::string::npos) << output;
    const rgb_image frame = decode_png(shot_path(output));
    ASSERT_GE(frame.width, 1024);

    // Interface colour 12 + 20 (a full bar: 21 * 65535 >> 16) is colour 33 of 'intf'.
    const auto colors = collection_source_colors("intf");
    ASSERT_GT(colors.size(), 33u);
    const std::array<int, 3> full = colors[33];
    EXPECT_GT(full[1], full[0] + 64) << "a full bar is green";
    int bar = 0, bar_top = frame.height, bar_bottom = 0;
    for (int y = 60; y < frame.height - 60; ++y)
        for (int x = 0; x < 760; ++x)
        {
            const uint8_t *p = frame.at(x, y);
            if (abs(p[0] - full[0]) <= 12 && abs(p[1] - full[1]) <= 12 && abs(p[2] - full[2]) <= 12)
            {
                ++bar;
                bar_top = std::min(bar_top, y);
                bar_bottom = std::max(bar_bottom, y);
            }
        }
    // Six pixels wide, as tall as the box, which fits the soldier (not three times his height).
    EXPECT_GT(bar, 6 * 100) << "the vitality bar";
    EXPECT_GT(bar_bottom - bar_top, 100);
    EXPECT_LT(bar_bottom - bar_top, 220) << "the box fits the unit";
    EXPECT_GT(bar_bottom, 350);
    EXPECT_LT(bar_top, 350);

    // "(Swordsman)", not "()": text in the status bar's description line, in
    // pixels unlike the line's commonest colour (its background).
    std::map<int, int> counts;
    for (int y = 2; y < 20; ++y)
        for (int x = 40; x < 300; ++x)
        {
            const uint8_t *p = frame.at(x, y);
            counts[p[0] << 16 | p[1] << 8 | p[2]]++;
        }
    const int common = std::max_element(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
                           return a.second < b.second;
                       })->first;
    const uint8_t ground[3] = {(uint8_t)(common >> 16), (uint8_t)(common >> 8), (uint8_t)common};
    const int text = pixels_unlike(frame, 40, 2, 300, 20, ground);
    EXPECT_GT(text, 200) << "the unit's name in the status bar (\"()\" is about 80 pixels)";
}

// The first frame of a game looks at the local team's units (blue, team 0),
// not at the ground ahead of the start marker they stand around.  Two frames:
// the headless pointer rests in a corner, and edge scrolling soon moves on.
TEST_F(vesk_shot_in_game_test, the_first_frame_shows_the_local_teams_units)
{
    std::string output;
    ASSERT_EQ(shot("--map demo --frames 2", &output), 0) << output << read_whole_file("shot.err");
    const rgb_image frame = decode_png(shot_path(output));
    ASSERT_GE(frame.height, 480);
    int blue = 0;
    for (int y = 60; y < frame.height - 50; ++y)
        for (int x = 0; x < frame.width; ++x)
        {
            const uint8_t *p = frame.at(x, y);
            if (p[2] >= 150 && p[2] > p[0] + 80 && p[2] > p[1] + 40) ++blue;
        }
    EXPECT_GT(blue, 500) << "team 0's tunics in the first view";
}

// What lies beyond the map's edge is cleared every frame, not left as an
// earlier frame drew it: looking south along the western edge (the world
// beyond it at the top left), the corner is black after 5 frames and after 9
// alike, whatever the first frames (the start marker's view, the overhead
// map fading in over it) put there.
TEST_F(vesk_shot_in_game_test, the_view_beyond_the_maps_edge_is_cleared_every_frame)
{
    std::vector<rgb_image> frames;
    for (const char *count : {"5", "9"})
    {
        std::string output;
        ASSERT_EQ(shot(std::string("--map demo --camera 2,14,3,90,-20 --frames ") + count, &output), 0)
            << output << read_whole_file("shot.err");
        frames.push_back(decode_png(shot_path(output)));
        ASSERT_GE(frames.back().width, 1024);
    }
    int lit = 0, differing = 0;
    for (int y = 60; y < 110; ++y)
        for (int x = 0; x < 60; ++x)
        {
            const uint8_t *a = frames[0].at(x, y), *b = frames[1].at(x, y);
            lit += a[0] + a[1] + a[2] > 0;
            differing += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
        }
    EXPECT_EQ(lit, 0) << "pixels beyond the edge keep an earlier frame";
    EXPECT_EQ(differing, 0);
    // The terrain itself is drawn: the centre of the view is grass.
    const uint8_t *centre = frames[1].at(frames[1].width / 2, frames[1].height / 2);
    EXPECT_GT(centre[1], centre[2] + 16);
}

// The demo map's header names its mission list and its overhead-map picture,
// and the data tools make both: the list with a title and two objectives, the
// picture as a collection of the map's landscape.
TEST(demo_map_data, the_mission_list_and_the_overhead_picture_the_map_names_are_made)
{
    const std::string tool = data_tool_path();
    if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    const scratch_directory scratch;
    std::vector<test_tag> tags;
    ASSERT_TRUE(make_demo_map_tags(tool, &tags));
    ASSERT_TRUE(make_string_list_tags(tool, &tags));
    const auto find = [&](tag group, tag subgroup) -> const test_tag * {
        for (const test_tag &t : tags)
            if (t.group_tag == group && t.subgroup_tag == subgroup) return &t;
        return nullptr;
    };
    const test_tag *mesh = find(MESH_GROUP_TAG, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'));
    ASSERT_NE(mesh, nullptr);
    ASSERT_GE(mesh->data.size(), sizeof(mesh_header));
    const tag missions = (tag)read_be32(mesh->data.data() + offsetof(mesh_header, map_description_string_list_tag));
    const tag overhead = (tag)read_be32(mesh->data.data() + offsetof(mesh_header, overhead_map_collection_tag));
    EXPECT_EQ(missions, FOUR_CHARACTER_CODE('d', 'v', 'm', 'i'));
    EXPECT_EQ(overhead, FOUR_CHARACTER_CODE('d', 'v', 'o', 'v'));
    EXPECT_NE(find(STRING_LIST_GROUP_TAG, missions), nullptr) << "the mission list is made";
    EXPECT_NE(find(COLLECTION_GROUP_TAG, overhead), nullptr) << "the overhead-map picture is made";
    std::ifstream source(source_root / "data" / "strings" / "stli" / "dvmi.txt");
    int rows = 0;
    for (std::string line; std::getline(source, line);) ++rows;
    EXPECT_EQ(rows, 3) << "a title and two objectives";
}

TEST_F(vesk_shot_in_game_test, a_map_that_cannot_start_or_a_camera_without_a_map_is_refused)
{
    std::string output;
    EXPECT_EQ(shot("--map nope --frames 3", &output), 1) << output;
    EXPECT_NE(read_whole_file("shot.err").find("the map 'nope' did not start"), std::string::npos)
        << read_whole_file("shot.err");
    EXPECT_EQ(shot("--camera 16,30,10,-90,-28", &output), 2);
    EXPECT_EQ(shot("--map demo --camera 16,30,10", &output), 2);
    EXPECT_EQ(shot("--map toolong", &output), 2);
}

} // namespace

// ---- the main menu with a damaged dialog tag ---------------------------------------------

namespace {

// The main menu's dialog tag damaged as it once crashed the game at start-up:
// the Load Game button (item 5, the fifth record) renumbered 1, the title's
// identifier, in a local tag over the demo's.  The game refuses the dialog,
// says so and quits through the state machine.
TEST_F(vesk_shot_test, a_main_menu_with_two_items_of_one_identifier_is_refused_and_the_game_quits_cleanly)
{
    const std::vector<test_tag> *demo = demo_map_tags();
    ASSERT_NE(demo, nullptr);
    const test_tag *menu = nullptr;
    for (const test_tag &t : *demo)
        if (t.group_tag == FOUR_CHARACTER_CODE('b', 'i', 'n', 'a') && t.subgroup_tag == FOUR_CHARACTER_CODE('m', 'm', 'n', 'u'))
            menu = &t;
    ASSERT_NE(menu, nullptr);
    test_tag damaged = *menu;
    write_be16(damaged.data.data() + 12 + 24 * 4 + 6, 1);
    fs::create_directories(fs::path(directory) / LOCAL_TAGS_FOLDER / "bina");
    ASSERT_TRUE(write_local_file((fs::path(directory) / LOCAL_TAGS_FOLDER / "bina" / "mmnu").string(), damaged));

    std::string output;
    const int status = shot("--frames 30", &output);
    const std::string log = read_whole_file((fs::path(directory) / "vesk_shot_log.txt").string());
    EXPECT_NE(log.find("dialog 'mmnu': item 1 is there twice"), std::string::npos) << log;
    EXPECT_NE(log.find("the main menu's dialog could not be made: quitting"), std::string::npos) << log;
    EXPECT_NE(output.find("game state: intro -> main menu\ngame state: main menu -> quit\n"), std::string::npos)
        << output;
    EXPECT_EQ(status, 0) << output << read_whole_file("shot.err");
}

} // namespace

} // namespace vesk_shot_test_file
