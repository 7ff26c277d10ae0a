// The control bar.  Its layout as a table over screen widths, picture widths
// and the game type (priorities, centring, the gaps after the ally and the
// special-ability entries, the inventory row's geometry); then the bar as the
// game makes it from the demo data's '!cba' dialog and collection and the
// 'incb' list: the buttons shown, enabled and named, showing and hiding, the
// inventory row with its toggle, each button's order through a recording
// fake, a bar without its dialog, and the bar drawn on a 640-pixel screen
// (VESK_CONTROL_BAR_FRAME names a file to keep its PNG in).

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_text.h"
#include "console/console.h"
#include "control_bar.h"
#include "game_preferences.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "players.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "tag_files/plugins.h"
#include "vesk/string_lists.h"

namespace control_bar_test_file {

namespace {

// The shift key going down or up, as the window system reports it.
void press_shift(bool down)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.type = event.type;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = SDLK_LSHIFT;
    queue_input_event_if_necessary(&event);
}

// ---- the layout as a table ----------------------------------------------------------------

// The demo's pictures: 52 x 22 order buttons, 28 x 28 formation buttons.
control_bar_layout_input demo_input(int32_t screen_width, bool network)
{
    control_bar_layout_input input = {};
    input.screen_width = screen_width;
    input.bar_height = 40;
    input.network_game = network;
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
        input.picture_sizes[entry] = entry < 7 ? point2d{52, 22} : point2d{28, 28};
    return input;
}

// The formations (0..9) a layout shows.
std::vector<int32_t> shown_formations(const control_bar_layout &layout)
{
    std::vector<int32_t> formations;
    for (int32_t entry = 7; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
        if (layout.shown[entry]) formations.push_back(entry - 7);
    return formations;
}

TEST(control_bar_layout, the_highest_priority_that_fits_is_chosen_at_each_width)
{
    // Network: 460 for the orders with their two gaps, then 36 a formation.
    // Alone: the chat and ally buttons and the gap after ally go (324).
    struct
    {
        int32_t width;
        bool network;
        int32_t priority, needed;
        std::vector<int32_t> formations;
    } const cases[] = {
        {1024, true, 3, 820, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {820, true, 2, 712, {0, 1, 2, 4, 7, 8, 9}}, // the width must exceed what is needed
        {800, true, 2, 712, {0, 1, 2, 4, 7, 8, 9}},
        {640, true, 1, 604, {0, 1, 4, 9}},
        {604, true, 0, 460, {}}, // too narrow for priority 1
        {300, true, 0, 460, {}}, // overflows: priority 0 is taken unchecked
        {1024, false, 3, 684, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {640, false, 2, 576, {0, 1, 2, 4, 7, 8, 9}},
        {500, false, 1, 468, {0, 1, 4, 9}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.width << (c.network ? " network" : " alone"));
        const control_bar_layout_input input = demo_input(c.width, c.network);
        control_bar_layout layout;
        layout_control_bar_buttons(&input, &layout);
        EXPECT_EQ(layout.max_priority, c.priority);
        EXPECT_EQ(layout.width_needed, c.needed);
        EXPECT_EQ(layout.offset, (c.width - c.needed) / 2);
        EXPECT_EQ(shown_formations(layout), c.formations);
        for (int32_t entry = 0; entry < 7; ++entry)
            EXPECT_EQ(layout.shown[entry], c.network || entry >= 2) << "order entry " << entry;
    }
}

TEST(control_bar_layout, buttons_are_centred_with_gaps_after_ally_and_special_ability)
{
    // Network at 1024: offset (1024 - 820) / 2 = 102; x starts at 8.
    const control_bar_layout_input network = demo_input(1024, true);
    control_bar_layout layout;
    layout_control_bar_buttons(&network, &layout);
    const int16_t network_lefts[NUMBER_OF_CONTROL_BAR_BUTTONS] = {
        110, 170, 246, 306, 366, 426, 486,                 // ally's gap before stop
        562, 598, 634, 670, 706, 742, 778, 814, 850, 886}; // special ability's gap before the formations
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        SCOPED_TRACE(entry);
        const rectangle2d &r = layout.bounds[entry];
        EXPECT_EQ(r.left, network_lefts[entry]);
        EXPECT_EQ(r.right - r.left, entry < 7 ? 52 : 28);
        EXPECT_EQ(r.top, entry < 7 ? 10 : 7) << "(40 - height) / 2 + 1";
        EXPECT_EQ(r.bottom - r.top, entry < 7 ? 22 : 28);
    }

    // Alone the ally entry's type is 0, so its gap goes with it; the gap
    // after special ability stays.  Offset (1024 - 684) / 2 = 170.
    const control_bar_layout_input alone = demo_input(1024, false);
    layout_control_bar_buttons(&alone, &layout);
    EXPECT_FALSE(layout.shown[0]);
    EXPECT_FALSE(layout.shown[1]);
    EXPECT_EQ(layout.bounds[2].left, 170 + 8) << "stop is the first button, no gap before it";
    EXPECT_EQ(layout.bounds[6].left, 170 + 8 + 4 * 60);
    EXPECT_EQ(layout.bounds[7].left, 170 + 8 + 5 * 60 + 16);
    EXPECT_EQ(control_bar_width_needed(&alone, 3) - control_bar_width_needed(&network, 3), -2 * 60 - 16);
}

TEST(control_bar_layout, an_entry_without_a_picture_takes_no_room_but_the_gaps_stay)
{
    control_bar_layout_input input = demo_input(1024, true);
    input.picture_sizes[1] = {0, 0};  // ally: no picture, its gap stays
    input.picture_sizes[6] = {0, 0};  // special ability: likewise
    input.picture_sizes[7] = {0, 0};  // formation 0
    EXPECT_EQ(control_bar_width_needed(&input, 3), 820 - 3 * 60 + 24);
    control_bar_layout layout;
    layout_control_bar_buttons(&input, &layout);
    EXPECT_EQ(layout.offset, (1024 - 664) / 2);
    EXPECT_EQ(layout.bounds[2].left, layout.offset + 8 + 60 + 16);
    EXPECT_EQ(layout.bounds[8].left, layout.offset + 8 + 5 * 60 + 32) << "formation 1 follows the special gap at once";
}

TEST(control_bar_layout, inventory_rows_are_sized_by_entry_count_and_never_exceed_ten_buttons)
{
    inventory_button_layout row;
    layout_inventory_buttons(1024, 3, &row); // w = (1024 - 64) / 3 = 320, capped at 128
    EXPECT_EQ(row.count, 3);
    EXPECT_EQ(row.width, 128);
    EXPECT_EQ(row.frame_sequence, _dialog_elements_long_button_sequence);
    const int16_t three[] = {16, 160, 304};
    for (int32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(row.bounds[i].left, three[i]);
        EXPECT_EQ(row.bounds[i].right, three[i] + 128);
        EXPECT_EQ(row.bounds[i].top, 8);
        EXPECT_EQ(row.bounds[i].bottom, 24);
    }

    layout_inventory_buttons(640, 6, &row); // w = (640 - 112) / 6 = 88: not capped
    EXPECT_EQ(row.width, 88);
    EXPECT_EQ(row.bounds[5].left, 16 + 5 * 104);

    layout_inventory_buttons(1024, 14, &row); // w = (1024 - 240) / 14 = 56: narrow buttons
    EXPECT_EQ(row.count, NUMBER_OF_INVENTORY_BUTTONS) << "only ten buttons exist";
    EXPECT_EQ(row.width, 66);
    EXPECT_EQ(row.frame_sequence, _dialog_elements_short_button_sequence);
    EXPECT_EQ(row.bounds[9].left, 16 + 9 * 82);

    layout_inventory_buttons(1024, 0, &row);
    EXPECT_EQ(row.count, 0);
    layout_inventory_buttons(1024, -5, &row);
    EXPECT_EQ(row.count, 0);
    layout_inventory_buttons(1024, 0x7fffffff, &row); // no overflow in the width
    EXPECT_EQ(row.count, NUMBER_OF_INVENTORY_BUTTONS);
    EXPECT_EQ(row.width, 66);
}

// ---- the bar from the demo data ----------------------------------------------------------

// What the selection fakes heard.
struct order_call
{
    int32_t type;
    bool shift;
    bool operator==(const order_call &o) const { return type == o.type && shift == o.shift; }
};
std::vector<order_call> orders;
std::vector<order_call> inventory_choices; // entry, shift
int32_t fake_inventory_count = 2, fake_inventory_selected = 0;
bool fake_has_inventory = true;

void record_order(int32_t type, bool shift) { orders.push_back({type, shift}); }
void record_inventory_choice(int32_t entry, bool shift) { inventory_choices.push_back({entry, shift}); }
bool fake_inventory(bool, int32_t *count, int32_t *selected)
{
    *count = fake_inventory_count;
    *selected = fake_inventory_selected;
    return fake_has_inventory;
}
void fake_format(char *buffer, int32_t size, int32_t index, bool, bool, bool)
{
    snprintf(buffer, (size_t)size, index < 0 ? "Unit" : "Item %d", (int)index);
}
// The selection's side of the bar, recorded and faked: no units are needed.
const control_bar_selection_procedures fake_selection = {record_order, fake_inventory, fake_format,
                                                          record_inventory_choice};

class control_bar : public bar_dialogs_test
{
protected:
    input_definition saved_definition;

    void SetUp() override
    {
        bar_dialogs_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        orders.clear();
        inventory_choices.clear();
        fake_inventory_count = 2;
        fake_inventory_selected = 0;
        fake_has_inventory = true;
        set_control_bar_selection_procedures(&fake_selection);
        saved_definition = *get_input_definition();
    }
    void TearDown() override
    {
        if (set_up) slam_current_settings(&saved_definition, get_mouse_controls(), 0);
        set_control_bar_selection_procedures(nullptr);
        bar_dialogs_test::TearDown();
    }

    // The list 'incb' from its source under data/strings/stli, a row a line.
    void store_interface_tags(void) override
    {
        const std::string source = source_tree_path("data/strings/stli/incb.txt");
        std::ifstream file(source);
        std::vector<std::string> rows;
        for (std::string line; std::getline(file, line);) rows.push_back(line);
        ASSERT_EQ(rows.size(), 2u) << source;
        std::vector<const char *> texts;
        for (const std::string &row : rows) texts.push_back(row.c_str());
        const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
        std::vector<uint8_t> data((size_t)size);
        ASSERT_EQ(encode_string_list_data(texts.data(), (int32_t)texts.size(), data.data(), size), size);
        write_local_tag(STRING_LIST_GROUP_TAG, "incb", STRING_LIST_VERSION, data.data(), size);
    }

    // A game of `type` with the local player on team 0; `team_players[t]`
    // players on team t.
    void start_game(int16_t type, std::vector<int16_t> team_players, uint32_t options = 0)
    {
        int16_t count = 0;
        for (int16_t n : team_players) count = (int16_t)(count + n);
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, count);
        int16_t player = 0;
        for (size_t t = 0; t < team_players.size(); ++t)
            for (int16_t i = 0; i < team_players[t]; ++i) data.players[player++].team_index = (int16_t)t;
        initialize_players();
        initialize_players_for_new_map(&data);
        game_->type = type;
        game_->option_flags = options;
        local_player_index = 0;
        local_player_team_index = 0;
    }
    void set_inventory_flag(bool on)
    {
        input_definition definition = *get_input_definition();
        if (on) definition.flags |= FLAG(_input_definition_control_bar_inventory);
        else definition.flags &= ~FLAG(_input_definition_control_bar_inventory);
        slam_current_settings(&definition, get_mouse_controls(), 0);
    }
    dialog_data *bar(void) { return get_control_bar_dialog(); }
    bool visible(int16_t item) { return bitmap_get_item_visible(bar(), item); }
    bool enabled(int16_t item) { return bitmap_get_item_enabled(bar(), item); }
    std::string name(int16_t item)
    {
        char text[128];
        get_button_control_name(bar(), item, text, sizeof(text));
        return text;
    }
    rectangle2d original(int16_t item)
    {
        rectangle2d r;
        get_button_control_original_bounds(bar(), item, &r);
        return r;
    }
    // The layout the bar should have on the test screen with the demo pictures.
    control_bar_layout expected_layout(bool network)
    {
        control_bar_layout_input input = demo_input(DIALOG_TEST_SCREEN_WIDTH, network);
        control_bar_layout layout;
        layout_control_bar_buttons(&input, &layout);
        return layout;
    }
    // A press and release in the middle of `item`, then the quiet actions
    // a pending press needs.
    void click_item(int16_t item, bool shift = false)
    {
        rectangle2d r, dialog;
        get_dialog_item_bounds(bar(), item, &r);
        get_dialog_bounds(bar(), &dialog);
        const int16_t x = (int16_t)(dialog.left + (r.left + r.right) / 2);
        const int16_t y = (int16_t)(dialog.top + (r.top + r.bottom) / 2);
        action_data down = make_click_action(x, y), up = make_release_action(x, y);
        if (shift)
        {
            down = with_action_flag(down, _shift_down_bit);
            up = with_action_flag(up, _shift_down_bit);
        }
        dialogs_handled_action(&down);
        dialogs_handled_action(&up);
        for (int32_t i = 0; i < DIALOG_VISIBLE_CLICK_TICKS + 1; ++i)
        {
            action_data quiet = make_test_action(1);
            dialogs_handled_action(&quiet);
        }
    }
};

TEST_F(control_bar, alone_the_bar_sits_at_the_bottom_with_the_orders_and_formations_that_fit)
{
    start_game(_game_type_local, {1});
    initialize_control_bar_for_new_map();
    ASSERT_NE(bar(), nullptr);
    EXPECT_TRUE(is_control_bar(bar()));
    EXPECT_FALSE(is_control_bar(nullptr));
    rectangle2d bounds;
    get_dialog_bounds(bar(), &bounds);
    EXPECT_EQ(bounds.top, DIALOG_TEST_SCREEN_HEIGHT - 40);
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.bottom, DIALOG_TEST_SCREEN_HEIGHT);
    EXPECT_EQ(bounds.right, DIALOG_TEST_SCREEN_WIDTH);
    EXPECT_EQ(bar()->background_sequence_index, CONTROL_BAR_BACKGROUND_SEQUENCE);
    EXPECT_EQ(button_mapping[0].button_type, _control_bar_button_none);
    EXPECT_EQ(button_mapping[1].button_type, _control_bar_button_none);

    const control_bar_layout layout = expected_layout(false);
    ASSERT_EQ(layout.max_priority, 2) << "the demo's pictures at 640 alone";
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        SCOPED_TRACE(entry);
        const int16_t item = button_mapping[entry].dialog_control_index;
        EXPECT_EQ(visible(item), layout.shown[entry]);
        if (!layout.shown[entry]) continue;
        EXPECT_EQ(original(item).left, layout.bounds[entry].left) << "the pictures are the sizes the table assumes";
        EXPECT_EQ(original(item).top, layout.bounds[entry].top);
        EXPECT_EQ(original(item).right, layout.bounds[entry].right);
        EXPECT_TRUE(find_control(bar(), item)->flags & _control_has_no_delay_flag);
    }

    // Hidden until the main loop applies the preference.
    EXPECT_FALSE(bar()->private_flags & _dialog_is_visible_flag);
    rectangle2d untouched = {1, 2, 3, 4};
    EXPECT_EQ(control_bar_visible(&untouched), _control_bar_hidden);
    EXPECT_EQ(untouched.top, 1) << "no rectangle while hidden";

    {
        expected_assertions expect(1, "!control_bar.dialog");
        initialize_control_bar_for_new_map(); // a second bar for the same map is refused
    }
    dispose_control_bar_from_old_map();
    EXPECT_EQ(bar(), nullptr);
}

TEST_F(control_bar, in_network_games_chat_and_ally_follow_teams_options_and_shift)
{
    // Two players on the local team and two other teams with players.
    start_game(_game_type_networked, {2, 1, 1});
    initialize_control_bar_for_new_map();
    ASSERT_NE(bar(), nullptr);
    const control_bar_layout layout = expected_layout(true);
    EXPECT_EQ(layout.max_priority, 1);
    EXPECT_TRUE(visible(1));
    EXPECT_TRUE(visible(2));
    EXPECT_TRUE(enabled(1));
    EXPECT_TRUE(enabled(2)) << "two other teams with players";
    EXPECT_EQ(name(1), "Chat") << "a team of two keeps the dialog's caption until the first frame";

    set_control_bar_visibility(_control_bar_commands);
    update_control_bar();
    EXPECT_EQ(name(1), "Whisper");
    press_shift(true);
    update_control_bar();
    EXPECT_EQ(name(1), "Yell") << "shift chats to everyone";
    press_shift(false);
    initialize_console();
    ASSERT_TRUE(initialize_console_for_new_map());
    start_console_input("", 40);
    update_control_bar();
    EXPECT_EQ(name(1), "Yell") << "the caption stays while the console takes the keys";
    stop_console_input();
    update_control_bar();
    EXPECT_EQ(name(1), "Whisper");
    dispose_console_from_old_map();

    get_team_data(0)->flags |= _team_has_been_eliminated_flag;
    update_control_bar();
    EXPECT_FALSE(enabled(2)) << "an eliminated team makes no alliances";
    get_team_data(0)->flags &= (uint16_t)~_team_has_been_eliminated_flag;
    game_->option_flags = _game_option_cooperative_flag;
    update_control_bar();
    EXPECT_FALSE(enabled(2)) << "nor does a cooperative game";
    dispose_control_bar_from_old_map();

    // Alone on a team, against one other team: chat to everyone, no alliance.
    start_game(_game_type_networked, {1, 1});
    initialize_control_bar_for_new_map();
    EXPECT_EQ(name(1), "Yell");
    EXPECT_FALSE(enabled(2)) << "only one other team";
}

TEST_F(control_bar, showing_and_hiding_follow_the_preference_and_are_refused_in_films_and_without_a_team)
{
    start_game(_game_type_local, {1});
    initialize_control_bar_for_new_map();
    game_preferences *preferences = get_game_preferences();
    preferences->flags &= ~(uint32_t)_game_pref_control_bar_visible_flag;

    set_control_bar_visibility(_control_bar_commands);
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_commands);
    EXPECT_TRUE(bar()->private_flags & _dialog_is_visible_flag);
    EXPECT_TRUE(preferences->flags & _game_pref_control_bar_visible_flag);
    rectangle2d bounds = {};
    EXPECT_EQ(control_bar_visible(&bounds), _control_bar_commands);
    EXPECT_EQ(bounds.top, DIALOG_TEST_SCREEN_HEIGHT - 40);
    EXPECT_EQ(bounds.right, DIALOG_TEST_SCREEN_WIDTH);

    set_control_bar_visibility(_control_bar_hidden);
    EXPECT_FALSE(bar()->private_flags & _dialog_is_visible_flag);
    EXPECT_FALSE(preferences->flags & _game_pref_control_bar_visible_flag);

    local_player_team_index = NONE;
    set_control_bar_visibility(_control_bar_commands);
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden) << "an observer has no bar";
    local_player_team_index = 0;
    game_->type = _game_type_replay;
    set_control_bar_visibility(_control_bar_commands);
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden) << "nor does a film";
    game_->type = _game_type_local;
    set_control_bar_visibility(7);
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_hidden) << "an unknown state is ignored";
}

TEST_F(control_bar, each_button_gives_its_order_with_the_shift_state)
{
    start_game(_game_type_networked, {2, 1, 1});
    initialize_control_bar_for_new_map();
    for (int16_t item = 1; item <= NUMBER_OF_CONTROL_BAR_BUTTONS; ++item)
    {
        action_data action = make_test_action();
        control_bar_dialog_handler_proc(bar(), item, &action);
        action = with_action_flag(action, _shift_down_bit);
        control_bar_dialog_handler_proc(bar(), item, &action);
    }
    control_bar_dialog_handler_proc(bar(), NONE, nullptr); // the sleep timer: nothing
    control_bar_dialog_handler_proc(bar(), 40, nullptr);   // no such item: nothing
    std::vector<order_call> expected;
    for (int32_t type = _control_bar_button_chat; type <= _control_bar_button_formation_9; ++type)
    {
        expected.push_back({type, false});
        expected.push_back({type, true});
    }
    EXPECT_EQ(orders, expected);

    // A real click reaches the handler on the next action.
    set_control_bar_visibility(_control_bar_commands);
    orders.clear();
    click_item(3);
    click_item(11, true); // formation 3 is not shown at 640 in a network game
    click_item(12, true);
    EXPECT_EQ(orders, (std::vector<order_call>{{_control_bar_button_stop, false},
                                               {_control_bar_button_formation_0 + 4, true}}));
    dispose_control_bar_from_old_map();

    // Alone the chat and ally items give nothing.
    start_game(_game_type_local, {1});
    initialize_control_bar_for_new_map();
    orders.clear();
    control_bar_dialog_handler_proc(bar(), 1, nullptr);
    control_bar_dialog_handler_proc(bar(), 2, nullptr);
    control_bar_dialog_handler_proc(bar(), 3, nullptr);
    EXPECT_EQ(orders, (std::vector<order_call>{{_control_bar_button_stop, false}}));
}

TEST_F(control_bar, the_inventory_row_shows_the_selection_and_toggles_back)
{
    set_inventory_flag(true);
    start_game(_game_type_local, {1});
    initialize_control_bar_for_new_map();
    set_control_bar_visibility(_control_bar_commands);
    for (int16_t item = FIRST_INVENTORY_BUTTON_ITEM; item < FIRST_INVENTORY_BUTTON_ITEM + NUMBER_OF_INVENTORY_BUTTONS; ++item)
    {
        ASSERT_NE(find_control(bar(), item), nullptr) << item;
        EXPECT_FALSE(visible(item));
    }

    toggle_control_bar_inventory();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_inventory);
    for (int16_t item = 1; item <= NUMBER_OF_CONTROL_BAR_BUTTONS; ++item) EXPECT_FALSE(visible(item)) << item;
    // The unit and its two items: w = (640 - 64) / 3 = 192, so 128 wide.
    const char *const names[] = {"Unit", "Item 0", "Item 1"};
    for (int16_t i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        const int16_t item = (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i);
        EXPECT_TRUE(visible(item));
        EXPECT_EQ(name(item), names[i]);
        EXPECT_EQ(original(item).left, 16 + i * 144);
        EXPECT_EQ(original(item).right - original(item).left, 128);
        rectangle2d hit;
        get_dialog_item_bounds(bar(), item, &hit);
        EXPECT_GE(hit.left, original(item).left - 1) << "the button's area follows its new place";
        const button_control_data *data = (const button_control_data *)get_dialog_item_extra_data(bar(), item);
        EXPECT_EQ(data->text_color.blue, i == 1 ? 30583 : 65535) << "entry 0 is the selected one";
    }
    EXPECT_FALSE(visible(FIRST_INVENTORY_BUTTON_ITEM + 3));

    // A frame with the same entries redraws none of the row's buttons.
    const uint16_t redraw = _control_dirty_flag | _control_background_dirty_flag;
    for (int16_t i = 0; i < 3; ++i) find_control(bar(), (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i))->flags &= (uint16_t)~redraw;
    update_control_bar();
    for (int16_t i = 0; i < 3; ++i)
        EXPECT_FALSE(find_control(bar(), (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i))->flags & redraw) << i;

    // A click picks entry item - 19; the order buttons do nothing meanwhile.
    control_bar_dialog_handler_proc(bar(), FIRST_INVENTORY_BUTTON_ITEM, nullptr);
    action_data shifted = with_action_flag(make_test_action(), _shift_down_bit);
    control_bar_dialog_handler_proc(bar(), FIRST_INVENTORY_BUTTON_ITEM + 2, &shifted);
    control_bar_dialog_handler_proc(bar(), 3, nullptr);
    EXPECT_EQ(inventory_choices, (std::vector<order_call>{{-1, false}, {1, true}}));
    EXPECT_TRUE(orders.empty());

    // More entries than buttons: ten narrow buttons, the rest not shown.
    fake_inventory_count = 30;
    update_control_bar();
    for (int16_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i)
    {
        EXPECT_TRUE(visible((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i))) << i;
        EXPECT_EQ(original((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i)).right -
                      original((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i)).left, 66);
    }
    EXPECT_EQ(name(FIRST_INVENTORY_BUTTON_ITEM + 9), "Item 8");
    EXPECT_EQ(get_dialog_item_count(bar()), FIRST_INVENTORY_BUTTON_ITEM + NUMBER_OF_INVENTORY_BUTTONS - 1)
        << "no item past the tenth button was made";

    // The selection lost its unit: the row empties.
    fake_has_inventory = false;
    update_control_bar();
    for (int16_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i) EXPECT_FALSE(visible((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i)));
    fake_has_inventory = true;

    // A new resolution keeps the row.
    update_control_bar_for_new_resolution();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_inventory);
    EXPECT_TRUE(visible(FIRST_INVENTORY_BUTTON_ITEM));
    EXPECT_FALSE(visible(3));

    // Toggling again returns to the order buttons that fit.
    toggle_control_bar_inventory();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_commands);
    const control_bar_layout layout = expected_layout(false);
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
        EXPECT_EQ(visible(button_mapping[entry].dialog_control_index), layout.shown[entry]) << entry;
    for (int16_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i) EXPECT_FALSE(visible((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i)));
    control_bar_dialog_handler_proc(bar(), FIRST_INVENTORY_BUTTON_ITEM, nullptr);
    EXPECT_EQ(inventory_choices.size(), 2u) << "the row is gone: its items do nothing";
}

TEST_F(control_bar, without_its_dialog_the_map_has_no_bar_and_every_operation_is_harmless)
{
    // A store without the dialog '!cba'.
    dispose_tag_files();
    std::vector<test_tag> without;
    for (const test_tag &t : *demo_map_tags())
        if (!(t.group_tag == DIALOG_GROUP_TAG && t.subgroup_tag == CONTROL_BAR_DIALOG_TAG)) without.push_back(t);
    ASSERT_TRUE(write_foundation_files(without));
    start_store();
    initialize_shapes_for_new_map();

    start_game(_game_type_local, {1});
    initialize_control_bar_for_new_map();
    EXPECT_EQ(bar(), nullptr);
    EXPECT_NE(log_text().find("no control bar"), std::string::npos);
    initialize_control_bar();
    update_control_bar_for_new_resolution();
    set_control_bar_visibility(_control_bar_commands);
    toggle_control_bar_inventory();
    update_control_bar();
    update_inventory_buttons();
    rebuild_inventory_buttons(3);
    rectangle2d bounds = {1, 2, 3, 4};
    EXPECT_EQ(control_bar_visible(&bounds), _control_bar_hidden);
    EXPECT_EQ(bounds.top, 1);
    dispose_control_bar_from_old_map();
}

TEST_F(control_bar, a_dialog_missing_buttons_leaves_them_out_without_asking_for_them_again)
{
    // '!cba' without item 5 (scatter) and with a probe, not a button, as item 6.
    dispose_tag_files();
    std::vector<test_tag> without;
    for (const test_tag &t : *demo_map_tags())
        if (!(t.group_tag == DIALOG_GROUP_TAG && t.subgroup_tag == CONTROL_BAR_DIALOG_TAG)) without.push_back(t);
    ASSERT_TRUE(write_foundation_files(without));
    start_store();
    initialize_shapes_for_new_map();
    dialog_description partial;
    partial.bounds = {440, 0, 480, 640};
    for (int16_t item = 1; item <= NUMBER_OF_CONTROL_BAR_BUTTONS; ++item)
    {
        if (item == 5) continue;
        dialog_item_description d;
        d.type = item == 6 ? PROBE_CONTROL_TAG : BUTTON_CONTROL_TAG;
        d.item_id = item;
        d.bounds = {10, 10, 32, 62};
        partial.items.push_back(d);
    }
    store_dialog("!cba", partial);
    set_inventory_flag(true);
    start_game(_game_type_local, {1});

    initialize_control_bar_for_new_map(); // no assertion: the two are left out
    ASSERT_NE(bar(), nullptr);
    EXPECT_NE(log_text().find("has no button 5"), std::string::npos);
    EXPECT_NE(log_text().find("has no button 6"), std::string::npos);
    EXPECT_EQ(original(7).left, original(4).left + 60) << "no room is kept for the missing buttons";
    set_control_bar_visibility(_control_bar_commands);
    update_control_bar();
    toggle_control_bar_inventory();
    update_control_bar();
    toggle_control_bar_inventory();
    update_control_bar_for_new_resolution();
    EXPECT_EQ(control_bar_visible(nullptr), _control_bar_commands);
    EXPECT_TRUE(visible(7));
}

TEST_F(control_bar, the_bar_is_drawn_along_the_bottom_of_the_screen)
{
    start_game(_game_type_networked, {2, 1, 1});
    initialize_control_bar_for_new_map();
    set_control_bar_visibility(_control_bar_commands);
    update_control_bar();
    screen.fill();
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "control_bar", "png", 0));
    if (const char *keep = getenv("VESK_CONTROL_BAR_FRAME"))
        std::filesystem::copy_file("pictures/control_bar.png", keep, std::filesystem::copy_options::overwrite_existing);

    const rectangle2d above = {0, 0, DIALOG_TEST_SCREEN_HEIGHT - 40, DIALOG_TEST_SCREEN_WIDTH};
    EXPECT_EQ(screen.count_changed(&above), 0) << "nothing above the bar";
    const rectangle2d changed = screen.changed_bounds();
    EXPECT_EQ(changed.top, DIALOG_TEST_SCREEN_HEIGHT - 40);
    EXPECT_EQ(changed.left, 0);
    EXPECT_EQ(changed.bottom, DIALOG_TEST_SCREEN_HEIGHT);
    EXPECT_EQ(changed.right, DIALOG_TEST_SCREEN_WIDTH);
    // A button's face differs from the background beside it.
    const control_bar_layout layout = expected_layout(true);
    const rectangle2d stop = layout.bounds[2];
    const int32_t y = DIALOG_TEST_SCREEN_HEIGHT - 40 + (stop.top + stop.bottom) / 2;
    EXPECT_NE(screen.pixel(stop.left + 3, y), screen.pixel(stop.left - 4, y));
}

} // namespace

} // namespace control_bar_test_file
