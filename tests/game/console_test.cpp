// The in-game console and its companions, drawn with the data tool's fixed
// test font (the demo interface): the line pool against a queue model, the
// limits of long lines, chat and warnings, the backlog, the typed line's
// keys, what a frame draws (bands, fades, the blinking banner), the menu's
// and the popup's timing, and the mission objectives.

#include "support/dialog_input_harness.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "console/console.h"
#include "console/console_menu.h"
#include "console/console_mission_text.h"
#include "console/console_popup.h"
#include "game_hooks.h"
#include "game_time.h"
#include "image_files.h"
#include "gameplay_versions.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "networking_procedures.h"
#include "players.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "session_state.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "vesk.h"
#include "vesk/string_lists.h"

namespace console_test_file {

namespace {

// What an untouched pixel holds (the test screen's sentinel, alpha aside).
constexpr uint32_t BACKGROUND = DIALOG_TEST_SENTINEL & 0x00FFFFFFu;

// What the network game's back log was handed.
struct back_log_entry
{
    int32_t chat_mode;
    std::string name;
    rgb_color color;
    std::string text;
};
std::vector<back_log_entry> back_log;
void record_back_log(int32_t chat_mode, const char *name, const rgb_color *color, const char *text)
{
    back_log.push_back({chat_mode, name, *color, text});
}

// The selection's inventory as a fake: `inventory_count` entries, entry 1 selected.
int32_t inventory_count = 3;
bool fake_inventory(bool, int32_t *count, int32_t *selected)
{
    *count = inventory_count;
    *selected = 1;
    return inventory_count >= 0;
}
void fake_inventory_string(int32_t entry, char *buffer, size_t size) { snprintf(buffer, size, "entry %d", (int)entry); }
const console_menu_selection_procedures fake_selection = {fake_inventory, fake_inventory_string};

class console : public demo_interface_test
{
protected:
    view_data view;

    void SetUp() override
    {
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;

        new_game_data data = make_test_game_data(_game_type_local, DEFAULT_GAMEPLAY_VERSION, 1, 3);
        data.players[1].team_index = 0; // a teammate of the local player
        for (int16_t i = 0; i < 3; ++i)
        {
            snprintf(data.players[i].appearance.name, sizeof(data.players[i].appearance.name), "Player %d", i);
            data.players[i].appearance.primary_color = {(uint16_t)(0x4000 * (i + 1)), 0, 0xFFFF, 0};
        }
        ASSERT_TRUE(initialize_players_for_new_map(&data));
        local_player_index = 0;
        local_player_team_index = 0;

        back_log.clear();
        static const networking_procedures network = {.add_chat_to_back_log = record_back_log};
        register_networking_procedures(&network);
        clear_render_effects();
        initialize_console();
        set_console_mode(_console_mode_short);
        ASSERT_TRUE(initialize_console_for_new_map());
        game_->local_time = 1000;
        game_->game_time = 500;

        memset(&view, 0, sizeof(view));
        view.screen = screen.bitmap;
        view.screen_width = view.resolution_width = DIALOG_TEST_SCREEN_WIDTH;
        view.screen_height = view.resolution_height = DIALOG_TEST_SCREEN_HEIGHT;
        view.hole = {0, 0, DIALOG_TEST_SCREEN_HEIGHT, DIALOG_TEST_SCREEN_WIDTH};
    }
    // The language list: where lines may break.
    void store_interface_tags(void) override { store_list("in#1", {"0", "...", " ", " -", "", ".,!?)", "1"}); }
    void TearDown() override
    {
        dispose_console_from_old_map();
        set_console_menu_selection_procedures(nullptr);
        clear_render_effects();
        dispose_players_from_old_map();
        display_chat = false;
        joining_mid_game = false;
        local_player_index = NONE;
        local_player_team_index = NONE;
        demo_interface_test::TearDown();
    }

    void store_list(const char *subgroup, const std::vector<const char *> &rows)
    {
        std::vector<uint8_t> bytes((size_t)encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0));
        encode_string_list_data(rows.data(), (int32_t)rows.size(), bytes.data(), (int32_t)bytes.size());
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    // The console alone over the sentinel.
    void draw(void)
    {
        screen.fill();
        rasterize_console(&view);
    }
    uint32_t pixel(int32_t x, int32_t y) const { return screen.pixel(x, y) & 0x00FFFFFFu; }

    static std::vector<std::string> lines(void)
    {
        std::vector<std::string> texts;
        for (int32_t i = 0; i < get_console_globals()->line_count; ++i) texts.push_back(get_console_line_text(i));
        return texts;
    }
};

const rgb_color console_black_for_tests = {0, 0, 0, 0};

std::string text_of(size_t length, char first = 'a')
{
    std::string s(length, ' ');
    for (size_t i = 0; i < length; ++i) s[i] = (char)(first + (char)(i % 26));
    return s;
}

// ---- the line pool -----------------------------------------------------------------------

// A plain queue of what the console should show, newest first.
struct model_line
{
    std::string text;
    int32_t time;
};

TEST_F(console, random_lines_and_ticks_keep_the_pool_bounded_and_every_text_intact)
{
    std::mt19937 random(31);
    for (int16_t mode : {_console_mode_long, _console_mode_short})
    {
        dispose_console_from_old_map();
        set_console_mode(mode);
        ASSERT_TRUE(initialize_console_for_new_map());
        const size_t maximum = mode == _console_mode_long ? 50 : 6;
        const int32_t solid = mode == _console_mode_long ? 180 : 90;
        std::deque<model_line> model;
        std::deque<std::string> backlog;
        for (int32_t step = 0; step < 350; ++step)
        {
            const uint32_t kind = random() % 20;
            if (kind < 3)
            {
                // Time passes; a frame drops what has faded out.
                game_->local_time += (int32_t)(random() % (uint32_t)(solid / 4));
                const int32_t now = game_->local_time;
                for (size_t i = 0; i < model.size(); ++i)
                    if (now - model[i].time > solid + 14)
                    {
                        model.resize(i);
                        break;
                    }
                draw();
            }
            else
            {
                const bool replace = random() % 5 == 0;
                const bool formatted = random() % 2 == 0;
                // Half the lines short, so counts as well as bytes fill the console.
                const size_t length = random() % 2 ? random() % 41 : random() % 1101;
                const std::string text = text_of(length, (char)('a' + random() % 26));
                std::string shown;
                if (formatted)
                {
                    cprintf(replace, "%s", text.c_str());
                    shown = text.substr(0, 1021) + "\r";
                }
                else
                {
                    expected_assertions expect(length >= CONSOLE_LINE_BUFFER_SIZE ? 1 : 0,
                                               "string_length<CONSOLE_LINE_BUFFER_SIZE");
                    cputs(replace, NONE, text.c_str(), NONE);
                    shown = text.substr(0, 1023);
                }
                if (replace && !model.empty()) model.pop_front();
                size_t pool = 0;
                for (const model_line &line : model) pool += line.text.size() + 1;
                while (!model.empty() && (pool + shown.size() + 1 > 4096 || model.size() >= maximum))
                {
                    pool -= model.back().text.size() + 1;
                    model.pop_back();
                }
                model.push_front({shown, game_->local_time});
                backlog.push_back(shown.substr(0, 255));
                if (backlog.size() > 10) backlog.pop_front();
            }
            const console_globals_data *g = get_console_globals();
            ASSERT_LE(g->string_pool_size, MAXIMUM_CONSOLE_STRING_POOL_SIZE);
            ASSERT_LE((size_t)g->line_count, maximum);
            ASSERT_EQ((size_t)g->line_count, model.size()) << "step " << step;
            int32_t pool = 0;
            for (int32_t i = 0; i < g->line_count; ++i)
            {
                ASSERT_EQ(get_console_line_text(i), model[(size_t)i].text) << "step " << step << " line " << i;
                pool += g->lines[i].size;
            }
            ASSERT_EQ(pool, g->string_pool_size);
            ASSERT_EQ((size_t)g->cached_line_count, backlog.size());
            for (size_t i = 0; i < backlog.size(); ++i) ASSERT_EQ(g->cached_lines[i].string, backlog[i]);
        }
    }
}

TEST_F(console, the_mode_sets_how_many_lines_stay_and_replacing_keeps_the_older_lines)
{
    for (int32_t i = 1; i <= 7; ++i) cprintf(false, "line %d", (int)i);
    ASSERT_EQ(lines().size(), 6u);
    EXPECT_EQ(lines().front(), "line 7\r");
    EXPECT_EQ(lines().back(), "line 2\r");

    dispose_console_from_old_map();
    set_console_mode(_console_mode_long);
    ASSERT_TRUE(initialize_console_for_new_map());
    for (int32_t i = 1; i <= 51; ++i) cprintf(false, "line %d", (int)i);
    ASSERT_EQ(lines().size(), 50u);
    EXPECT_EQ(lines().back(), "line 2\r");

    // Replacing twice leaves one new line; the lines before it keep their
    // texts, and a full console loses no older line for it.
    cprintf(true, "first");
    cprintf(true, "second");
    ASSERT_EQ(lines().size(), 50u);
    EXPECT_EQ(lines()[0], "second\r");
    EXPECT_EQ(lines()[1], "line 50\r");
    EXPECT_EQ(lines().back(), "line 2\r");

    // Texts filling the pool push out old lines before the count does.
    dispose_console_from_old_map();
    ASSERT_TRUE(initialize_console_for_new_map());
    for (int32_t i = 0; i < 5; ++i) cputs(false, NONE, text_of(1000, (char)('a' + i)).c_str(), NONE);
    EXPECT_EQ(lines().size(), 4u);
    EXPECT_EQ(lines()[0][0], 'e');
    EXPECT_LE(get_console_globals()->string_pool_size, 4096);
    set_console_mode(_console_mode_short);
}

TEST_F(console, over_long_lines_are_cut_and_nothing_is_printed_outside_a_map)
{
    // A formatted line keeps room for its carriage return.
    const std::string long_text = text_of(1100);
    cprintf(false, "%s", long_text.c_str());
    EXPECT_EQ(lines()[0], long_text.substr(0, 1021) + "\r");
    {
        expected_assertions expect(1, "string_length<CONSOLE_LINE_BUFFER_SIZE");
        cputs(false, NONE, long_text.c_str(), NONE);
    }
    EXPECT_EQ(lines()[0], long_text.substr(0, 1023));
    // A line in the pool may be printed again: it is copied before the pool moves.
    cputs(false, NONE, get_console_line_text(0), NONE);
    EXPECT_EQ(lines()[0], lines()[1]);

    cprintf(false, nullptr);
    cputs(false, NONE, nullptr, NONE);
    EXPECT_EQ(lines().size(), 3u);
    dispose_console_from_old_map();
    cprintf(false, "late");
    cputs(false, NONE, "late", NONE);
    append_chat(0, "late", 0);
    EXPECT_EQ(get_console_globals()->line_count, 3);
}

TEST_F(console, chat_lines_reach_the_back_log_only_for_players_of_the_game)
{
    cputs(false, 2, "hello", 7);
    ASSERT_EQ(back_log.size(), 1u);
    EXPECT_EQ(back_log[0].chat_mode, 7);
    EXPECT_EQ(back_log[0].name, "Player 2");
    EXPECT_EQ(back_log[0].color.red, 0xC000);
    EXPECT_EQ(back_log[0].text, "hello");
    EXPECT_EQ(get_console_globals()->lines[0].owner_player_index, 2);

    // Indexes from other machines are checked before any record is read.
    for (int32_t bad : {3, 16, 127, 40000, -2})
    {
        cputs(false, bad, "forged", 0);
        EXPECT_EQ(get_console_globals()->lines[0].owner_player_index, NONE) << bad;
    }
    EXPECT_EQ(back_log.size(), 1u);
    draw(); // lines of no player draw without a name box
}

TEST_F(console, chat_is_wrapped_into_lines_that_fit_beside_the_name_box)
{
    std::string message = "word0";
    for (int32_t i = 1; i < 60; ++i) message += " word" + std::to_string(i);
    dispose_console_from_old_map();
    set_console_mode(_console_mode_long);
    ASSERT_TRUE(initialize_console_for_new_map());
    append_chat(1, message.c_str(), 0);
    const std::vector<std::string> shown = lines();
    ASSERT_GT(shown.size(), 1u);
    const int32_t font = get_console_globals()->input_edittext->font;
    std::string joined;
    for (auto line = shown.rbegin(); line != shown.rend(); ++line)
    {
        EXPECT_LE(string_width(font, NONE, line->c_str()), (int32_t)DIALOG_TEST_SCREEN_WIDTH - (int32_t)CONSOLE_NAME_BOX_WIDTH);
        EXPECT_NE((*line)[0], ' ');
        joined += (joined.empty() ? "" : " ") + *line;
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(back_log.size(), shown.size());

    // A text longer than a line is cut at 1023 characters, never read past.
    const std::string endless(5000, 'x');
    append_chat(NONE, endless.c_str(), 0);
    size_t total = 0;
    for (int32_t i = 0; i < get_console_globals()->line_count; ++i)
        if (get_console_line_text(i)[0] == 'x') total += strlen(get_console_line_text(i));
    EXPECT_EQ(total, 1023u);
    set_console_mode(_console_mode_short);
}

TEST_F(console, the_backlog_keeps_ten_lines_of_255_characters_and_restores_them_clamped)
{
    for (int32_t i = 0; i < 11; ++i) cputs(false, i % 2 ? 1 : NONE, (std::to_string(i) + text_of(300)).c_str(), 0);
    cached_line saved[MAXIMUM_CACHED_CONSOLE_LINES];
    int16_t count = 0;
    save_cached_console_text(saved, &count);
    ASSERT_EQ(count, 10);
    EXPECT_EQ(saved[0].string[0], '1');
    EXPECT_EQ(saved[0].owner_player_index, 1);
    EXPECT_EQ(saved[9].string[0], '1');
    EXPECT_EQ(saved[9].string[1], '0');
    EXPECT_EQ(strlen(saved[9].string), 255u);

    memset(saved[2].string, 'z', sizeof(saved[2].string)); // no terminator
    restore_cached_console_text(saved, 99);
    EXPECT_EQ(get_console_globals()->cached_line_count, 10);
    EXPECT_EQ(strlen(get_console_globals()->cached_lines[2].string), 255u);
    restore_cached_console_text(saved, -4);
    EXPECT_EQ(get_console_globals()->cached_line_count, 0);
}

TEST_F(console, errors_keep_the_first_warnings_are_copied_and_the_assert_flag_is_the_cores)
{
    EXPECT_EQ(get_console_error(), NONE);
    set_console_error(1);
    set_console_error(2);
    EXPECT_EQ(get_console_error(), 1);

    {
        char dying[64];
        strcpy(dying, "The lobby is going down");
        set_console_warning(dying, 90);
        memset(dying, 'q', sizeof(dying) - 1);
    }
    EXPECT_STREQ(get_console_globals()->warning, "The lobby is going down");
    EXPECT_EQ(get_console_globals()->warning_end_time, 590);
    const std::string long_warning = text_of(400);
    set_console_warning(long_warning.c_str(), 10);
    EXPECT_EQ(strlen(get_console_globals()->warning), 255u);

    set_console_assert_logged(true);
    EXPECT_TRUE(vesk_assert_warning_given());
    set_vesk_assert_warning_given(false);
    EXPECT_FALSE(console_assert_logged());
}

// ---- the typed line ------------------------------------------------------------------------

TEST_F(console, typing_ends_with_return_or_keypad_enter_and_a_press_cancels_it_but_reaches_the_game)
{
    action_data key = make_key_action(_key_c, 'c');
    EXPECT_FALSE(console_handled_action(&key)) << "idle: not the console's";
    char buffer[64] = "unchanged";
    EXPECT_EQ(get_console_input(buffer, sizeof(buffer)), 0);

    set_console_prompts("Say:", "(team)");
    start_console_input("ab", 3);
    game_->local_time = 1234;
    EXPECT_TRUE(console_handled_action(&key));
    EXPECT_EQ(get_console_globals()->input_ticks, 1234);
    action_data full = make_key_action(_key_d, 'd');
    game_->local_time = 1300;
    EXPECT_TRUE(console_handled_action(&full)) << "a key the field refuses is still the console's";
    EXPECT_EQ(get_console_globals()->input_ticks, 1234);
    EXPECT_EQ(get_console_input(buffer, sizeof(buffer)), _console_input_typing);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(get_console_input(buffer, 3), _console_input_typing);
    EXPECT_STREQ(buffer, "ab");

    for (int16_t enter : {(int16_t)_key_return, (int16_t)_keypad_enter})
    {
        start_console_input("hi", 49);
        action_data accept = make_key_action(enter, NONE);
        EXPECT_TRUE(console_handled_action(&accept));
        EXPECT_EQ(get_console_input(buffer, sizeof(buffer)), _console_input_accepted);
        EXPECT_STREQ(buffer, "hi");
        EXPECT_FALSE(console_handled_action(&key)) << "a finished line takes no more keys";
    }
    for (bool right : {false, true})
    {
        start_console_input(nullptr, 49);
        action_data press = right ? make_right_click_action(10, 10) : make_click_action(10, 10);
        EXPECT_FALSE(console_handled_action(&press));
        EXPECT_EQ(get_console_input_state(), _console_input_cancelled);
    }
    stop_console_input();
    EXPECT_EQ(get_console_input_state(), _console_input_idle);

    // Without a map there is no field: nothing starts.
    dispose_console_from_old_map();
    start_console_input("x", 10);
    EXPECT_EQ(get_console_input_state(), _console_input_idle);
    {
        expected_assertions expect(1, "console_globals.initialized");
        EXPECT_FALSE(console_handled_action(&key));
    }
}

// ---- drawing ---------------------------------------------------------------------------------

TEST_F(console, lines_are_drawn_in_bands_from_the_bottom_that_fade_and_go)
{
    draw();
    EXPECT_EQ(screen.count_changed(), 0) << "nothing to show";

    dispose_console_from_old_map();
    set_console_mode(_console_mode_long);
    ASSERT_TRUE(initialize_console_for_new_map());
    cputs(false, NONE, "older", NONE);
    cputs(false, 1, "newer", NONE);
    draw();
    // Row 0 is 20 high at the bottom, row 1 22 above it; the text leaves the right end free.
    const uint32_t band = pixel(630, 470);
    EXPECT_NE(band, BACKGROUND);
    EXPECT_EQ(pixel(630, 460), pixel(630, 479));
    EXPECT_EQ(pixel(630, 438), band);
    EXPECT_EQ(pixel(630, 459), band);
    EXPECT_EQ(pixel(630, 437), BACKGROUND);
    // The player's line has the player's colour in its name box.
    const uint32_t box = pixel(2, 462);
    EXPECT_NE(box, band);
    EXPECT_GT(box & 0xFF, (box >> 16) & 0xFF) << "blue over red";
    EXPECT_EQ(pixel(2, 440), band) << "the older line is no player's";

    // Fading: (age - 180) / 15 of the way to invisible; at 187 the bands are
    // lighter, at 195 the lines are gone.
    game_->local_time += 187;
    draw();
    const uint32_t fading = pixel(630, 470);
    EXPECT_GT(fading & 0xFF, band & 0xFF);
    EXPECT_LT(fading & 0xFF, BACKGROUND & 0xFF);
    {
        bitmap_data *reference = new_bitmap(4, 4, 0, _32bit_encoding, 0);
        const rectangle2d all = {0, 0, 4, 4};
        const rgb_color black = {0, 0, 0, 0};
        memcpy(reference->row_addresses[0], &DIALOG_TEST_SENTINEL, 4);
        const int32_t fade = 7 * 65536 / 15;
        fill_rectangle_clipped(reference, &black, &all, nullptr,
                               (fixed_fraction)(0xD000 + ((fade * (65535 - 0xD000)) >> 16)), nullptr);
        uint32_t expected;
        memcpy(&expected, reference->row_addresses[0], 4);
        EXPECT_EQ(fading, expected & 0x00FFFFFFu);
        free(reference);
    }
    game_->local_time += 8;
    draw();
    EXPECT_EQ(screen.count_changed(), 0);
    EXPECT_EQ(get_console_globals()->line_count, 0);
    EXPECT_EQ(get_console_globals()->string_pool_size, 0);

    // The backlog shows instead while the chat display is on, oldest on top, never fading.
    display_chat = true;
    draw();
    EXPECT_EQ(pixel(630, 470), band);
    EXPECT_EQ(pixel(630, 440), band);
    EXPECT_EQ(pixel(2, 470), box) << "the newest, the player's, at the bottom";
    set_console_mode(_console_mode_short);
}

TEST_F(console, a_prompt_raises_the_lines_over_the_input_band_and_the_caret_blinks)
{
    cputs(false, NONE, "message", NONE);
    set_console_prompts("Say:", nullptr);
    start_console_input("typed", 49);
    draw();
    EXPECT_NE(pixel(630, 440), BACKGROUND) << "row 0 now ends 30 higher";
    EXPECT_EQ(pixel(630, 451), BACKGROUND);
    EXPECT_NE(pixel(630, 460), BACKGROUND) << "the input band";
    EXPECT_EQ(pixel(637, 460), BACKGROUND) << "4 in from the hole's right";
    EXPECT_EQ(pixel(630, 477), BACKGROUND);

    // The typed text follows the prompt inside the band.
    const rectangle2d field = {454, 40, 476, 200};
    screen.fill();
    fill_rectangle_clipped(screen.bitmap, &console_black_for_tests, &field, nullptr, 32768, nullptr);
    const uint32_t empty_band = pixel(100, 460);
    draw();
    int32_t ink = 0;
    for (int16_t x = field.left; x < field.right; ++x)
        for (int16_t y = field.top; y < field.bottom; ++y) ink += pixel(x, y) != empty_band;
    EXPECT_GT(ink, 0);
    stop_console_input();
    draw();
    int32_t prompt_only = 0;
    for (int16_t x = field.left; x < field.right; ++x)
        for (int16_t y = field.top; y < field.bottom; ++y) prompt_only += pixel(x, y) != empty_band;
    EXPECT_LT(prompt_only, ink) << "without typing only the prompt is drawn";

    // A whole frame to look at: VESK_CONSOLE_FRAME names the PNG to write.
    if (const char *keep = getenv("VESK_CONSOLE_FRAME"))
    {
        set_console_menu_selection_procedures(&fake_selection);
        cputs(false, 1, "a teammate's chat line", 0);
        cprintf(false, "Game speed is now 2x");
        set_console_popup("Filtering", "on", 15);
        set_console_menu_mode(_console_menu_inventory);
        start_console_input("hello the", 49);
        draw();
        ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "console", "png", 0));
        std::filesystem::copy_file("pictures/console.png", keep, std::filesystem::copy_options::overwrite_existing);
    }
}

TEST_F(console, the_banner_blinks_and_a_warning_shows_until_its_game_time)
{
    // Box 300 x 22 centred in the hole: (170, 229) .. (470, 251); its corner holds no text.
    set_console_error(_console_error_assert);
    for (int32_t t = 0; t < 64; ++t)
    {
        game_->local_time = 2048 + t;
        draw();
        const bool hidden = (t & 24) == 8;
        EXPECT_EQ(pixel(172, 231) == BACKGROUND, hidden) << t;
        EXPECT_EQ(pixel(168, 231), BACKGROUND);
    }
    dispose_console_from_old_map();
    ASSERT_TRUE(initialize_console_for_new_map());
    game_->local_time = 0;
    set_console_warning("Lobby closing", 30);
    game_->game_time = 529;
    draw();
    const uint32_t warning = pixel(172, 231);
    EXPECT_NE(warning, BACKGROUND);
    EXPECT_GT((warning >> 16) & 0xFF, warning & 0xFF) << "dark red";
    game_->game_time = 530;
    draw();
    EXPECT_EQ(screen.count_changed(), 0);
}

// ---- the menu and the popup ---------------------------------------------------------------------

TEST_F(console, the_menu_shows_the_brief_inventory_1750_ms_fading_in_the_last_250)
{
    install_test_clock(0xFFFFFF00u); // across the clock's wrap
    const uint32_t start = test_clock_milliseconds();
    set_console_menu_mode(_console_menu_inventory_briefly);
    uint16_t text = 0, background = 0;
    for (uint32_t at : {0u, 1000u, 1500u})
    {
        ASSERT_TRUE(get_console_menu_transparency(start + at, &text, &background)) << at;
        EXPECT_EQ(text, 0);
        EXPECT_EQ(background, 32768);
    }
    uint16_t previous = 0;
    for (uint32_t at = 1501; at < 1750; ++at)
    {
        ASSERT_TRUE(get_console_menu_transparency(start + at, &text, &background)) << at;
        EXPECT_GT(text, previous);
        EXPECT_EQ(background, (text + 65536) / 2);
        previous = text;
    }
    EXPECT_FALSE(get_console_menu_transparency(start + 1750, &text, &background));
    EXPECT_EQ(get_console_menu_globals()->menu_mode, _console_menu_none);

    // Toggled off, an open list stays 250 ms more; off again, it closes at once.
    set_console_menu_mode(_console_menu_teammates);
    EXPECT_TRUE(get_console_menu_transparency(start + 100000, &text, &background)) << "no end while open";
    set_console_menu_mode(_console_menu_none);
    EXPECT_TRUE(get_console_menu_transparency(start + 249, &text, &background));
    EXPECT_FALSE(get_console_menu_transparency(start + 250, &text, &background));
    set_console_menu_mode(_console_menu_teams);
    set_console_menu_mode(_console_menu_none);
    set_console_menu_mode(_console_menu_none);
    EXPECT_FALSE(get_console_menu_transparency(start, &text, &background));
}

TEST_F(console, the_inventory_menu_stacks_its_rows_above_the_hole_and_closes_without_a_unit)
{
    // The real selection, rebuilt as the brief menu asks: no unit is selected.
    set_console_menu_mode(_console_menu_inventory_briefly);
    draw();
    EXPECT_EQ(get_console_menu_globals()->menu_mode, _console_menu_none) << "no unit, no inventory";

    set_console_menu_selection_procedures(&fake_selection);
    inventory_count = 3;
    set_console_menu_mode(_console_menu_inventory);
    draw();
    // Row k has its top at 480 - 26 (5 - k): only the selected entry (k = 1, top 376) is filled.
    EXPECT_NE(pixel(630, 380), BACKGROUND);
    EXPECT_NE(pixel(202, 380), BACKGROUND);
    EXPECT_EQ(pixel(200, 380), BACKGROUND) << "435 wide, 4 inside the hole";
    EXPECT_EQ(pixel(630, 398), BACKGROUND) << "rows are 22 high";
    EXPECT_EQ(pixel(630, 354), BACKGROUND) << "entry 0 is not filled";
    const rectangle2d title = {298, 201, 320, 636};
    EXPECT_GT(screen.count_changed(&title), 0) << "\"Inventory:\" at 480 - 26 * 7";

    inventory_count = -1;
    draw();
    EXPECT_EQ(get_console_menu_globals()->menu_mode, _console_menu_none);
}

TEST_F(console, teammates_and_teams_stack_in_rows_of_their_colours_above_the_hole)
{
    // Players 0 (local) and 1 on team 0, player 2 alone on team 2; team 1 is empty.
    set_console_menu_mode(_console_menu_teammates);
    draw();
    // One teammate, N = 1: its row's top at 480 - 26 * 2, 290 wide, 4 inside the hole.
    const uint32_t teammate = pixel(630, 430);
    EXPECT_NE(teammate, BACKGROUND);
    EXPECT_GT(teammate & 0xFF, (teammate >> 16) & 0xFF) << "player 1's colour";
    EXPECT_NE(pixel(348, 430), BACKGROUND);
    EXPECT_EQ(pixel(344, 430), BACKGROUND);
    EXPECT_EQ(pixel(630, 426), BACKGROUND);
    EXPECT_EQ(pixel(630, 450), BACKGROUND);
    const rectangle2d local_row = {454, 346, 476, 636};
    EXPECT_EQ(screen.count_changed(&local_row), 0) << "the local player has no row";

    // Teams: N = 3 teams, one row for team 2 at 480 - 26 * 4, in its captain's colour.
    set_console_menu_mode(_console_menu_teams);
    draw();
    const uint32_t team = pixel(630, 380);
    EXPECT_NE(team, BACKGROUND);
    EXPECT_NE(team, teammate) << "player 2's colour is redder";
    EXPECT_EQ(pixel(630, 406), BACKGROUND) << "no second row: team 1 has no players";
    get_team_data(2)->flags |= _team_has_been_eliminated_flag;
    draw();
    EXPECT_EQ(screen.count_changed(), 0) << "an eliminated team is left out";
}

TEST_F(console, the_popup_is_opaque_for_its_visible_time_fades_over_six_ticks_and_goes_at_the_22nd)
{
    game_->local_time = 0; // a popup set at time 0 shows too
    set_console_popup("Game speed", "2x", 15);
    const int32_t left = string_width(get_interface_font_index(1), NONE, "Game speed");
    EXPECT_EQ(get_console_popup_globals()->popup_width,
              left + left / 10 + string_width(get_interface_font_index(1), NONE, "2x") + 50);
    uint16_t text = 0, background = 0;
    for (int32_t tick = 0; tick <= 15; ++tick)
    {
        ASSERT_TRUE(get_console_popup_transparency(tick, &text, &background)) << tick;
        EXPECT_EQ(text, 0);
        EXPECT_EQ(background, 16384); // dark enough that what lies under it reads as under it
    }
    for (int32_t tick = 16; tick <= 21; ++tick)
    {
        ASSERT_TRUE(get_console_popup_transparency(tick, &text, &background)) << tick;
        EXPECT_EQ(text, (tick - 15) * 65536 / 7);
        EXPECT_EQ(background, 16384 + text * 3 / 4);
    }
    EXPECT_FALSE(get_console_popup_transparency(22, &text, &background));
    EXPECT_EQ(get_console_popup_globals()->ticks, -1);

    // Drawn at a third of the height, centred, while no banner is up.
    set_console_popup("Filtering on", nullptr, 15);
    const int32_t width = get_console_popup_globals()->popup_width;
    draw();
    const int16_t top = (DIALOG_TEST_SCREEN_HEIGHT - 22) / 3;
    const int16_t x = (int16_t)((DIALOG_TEST_SCREEN_WIDTH - width) / 2);
    EXPECT_NE(pixel(x + 1, top + 1), BACKGROUND);
    EXPECT_EQ(pixel(x - 2, top + 1), BACKGROUND);
    EXPECT_EQ(pixel(x + 1, top - 1), BACKGROUND);
    set_console_error(0);
    draw();
    EXPECT_EQ(pixel(x + 1, top + 1), BACKGROUND) << "the banner takes the popup's place";
}

// ---- the mission objectives and the hooks ----------------------------------------------------------

TEST_F(console, missions_stay_within_the_objectives_and_a_map_without_a_list_has_none)
{
    store_list("miss", {"The valley", "Hold the bridge", "Take the mill", "Escort the cart"});
    dispose_console_mission_text_from_old_map();
    initialize_console_mission_text_for_new_map(FOUR_CHARACTER_CODE('m', 'i', 's', 's'));
    EXPECT_EQ(get_mission_count(), 3);
    advance_mission(false);
    EXPECT_EQ(get_mission_objective_index(), 0);
    for (int32_t i = 0; i < 5; ++i) advance_mission(true);
    EXPECT_EQ(get_mission_objective_index(), 2);
    advance_mission(false);
    EXPECT_EQ(get_mission_objective_index(), 1);

    for (tag list : {(tag)NONE, (tag)FOUR_CHARACTER_CODE('n', 'o', 'n', 'e')})
    {
        dispose_console_mission_text_from_old_map();
        initialize_console_mission_text_for_new_map(list);
        EXPECT_EQ(get_mission_count(), 0);
        advance_mission(true);
        advance_mission(false);
        EXPECT_EQ(get_mission_objective_index(), 0);
    }
}

TEST_F(console, the_console_prints_for_the_core_and_shows_chat_commands)
{
    register_console_hooks();
    print_to_console_procedure print = get_print_to_console_procedure();
    ASSERT_NE(print, nullptr);
    print("Screenshot saved.");
    EXPECT_EQ(lines()[0], "Screenshot saved.\r");
    EXPECT_NE(get_startup_procedure(_startup_console), nullptr);
    EXPECT_NE(get_map_initialize_procedure(_map_console), nullptr);
}

} // namespace

} // namespace console_test_file
