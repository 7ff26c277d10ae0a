// The lobby's small dialogs over the demo's dialogs, art and strings, driven
// through the real modal loop with scripted passes: the room chooser, the
// yes-or-no questions, the player search (its buttons, its results from the
// list event, the room it returns, cancel and a room that dies) and the
// player information (the answer's texts, the bars with their clamp and
// their guard against a best of 0, the score type and order choices).

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/status_bar_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "image_files.h"
#include "input/input_definitions.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_preferences.h"
#include "cseries/timers.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/metaserver_small_dialogs.h"
#include "register_vesk_controls.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "support/lobby_client_fixture.h"
#include "support/lobby_interface_fixture.h"
#include "support/lobby_list_packets.h"
#include "uber/uber.h"
#include "vesk.h"

namespace lobby_small_dialogs_test_file {

namespace
{

class lobby_small_dialogs : public lobby_interface_test
{
protected:
    void SetUp() override
    {
        lobby_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        initialize_metaserver_room_list();
        add_or_change_metaserver_room(3, 4, 1, 0, 6322, 0, 0);
        add_or_change_metaserver_room(7, 9, 2, 0, 6323, 0, 0);
        get_metaserver_context()->state = _metaserver_connected;
        get_metaserver_context()->desired_room = 3;
    }
    void TearDown() override
    {
        if (set_up) dispose_metaserver_room_list();
        lobby_interface_test::TearDown();
    }

    // With VESK_LOBBY_SMALL_DIALOGS_FRAMES naming a folder, the screen as
    // drawn now is kept there as NAME.png (to look at the dialogs' art).
    void keep_picture(const char *name)
    {
        const char *folder = getenv("VESK_LOBBY_SMALL_DIALOGS_FRAMES");
        if (!folder) return;
        screen.fill();
        set_all_dialogs_dirty();
        render_dialogs(screen.bitmap);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", name, "png", 0));
        std::filesystem::copy_file(std::string("pictures/") + name + ".png", std::string(folder) + "/" + name + ".png",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    static std::string text_of(dialog_data *dialog, int16_t item)
    {
        char text[256] = {};
        get_bitmap_dialog_static_item_text(dialog, item, text, sizeof(text));
        return text;
    }
};

// The row of a string list with `identifier`, NONE when none.
int16_t row_of(dialog_data *dialog, int16_t item, int32_t identifier)
{
    for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, item); ++row)
    {
        string_list_data data;
        int16_t size = (int16_t)sizeof(data);
        bitmap_get_listbox_row_data(dialog, item, row, &data, &size);
        if (data.identifier == identifier) return row;
    }
    return NONE;
}

void type_text(const char *text)
{
    for (; *text; ++text) add_script_step(action_step(make_key_action((int16_t)(_key_a + (*text - 'a')), *text)));
}

// A search answer: `name` is in room `room`.
std::vector<uint8_t> search_answer(const std::vector<std::pair<const char *, int32_t>> &players)
{
    std::vector<std::vector<uint8_t>> entries;
    uint32_t id = 1;
    for (const auto &[name, room] : players)
        entries.push_back(player_entry(id++, lobby_player_data(name), _add_player_verb, true, NONE, room));
    return list_packet(_player_search_list_packet, entries);
}

void deliver(int32_t event, std::vector<uint8_t> packet)
{
    handle_metaserver_list_event_for_lobby(get_metaserver_context(), event, packet.data(), (int32_t)packet.size());
}

// The information packet of the player "bea" (host order): ranked, 50 points
// against a best of 100, 3 wins where nobody has a best, damage inflicted
// over the best, 77 and 11 points for most kills of the player and his order.
std::vector<uint8_t> info_answer(void)
{
    player_info_packet info;
    memset(&info, 0, sizeof(info));
    info.primary_color = {65535, 0, 0, 0};
    info.icon_index = 1;
    info.overall_rank_data.total_users = 120;
    info.overall_rank_data.total_orders = 12;
    draxil_net_player_score_datum &ranked = info.scores[1];
    ranked = {};
    ranked.points = 50;
    ranked.wins = 3;
    ranked.damage_inflicted = 1000;
    ranked.damage_received = 10;
    ranked.games_played = 9;
    ranked.numerical_ranking = 7;
    game_rank_data &best = info.overall_rank_data.ranks[1];
    strcpy(best.top_ranked_player, "Ace");
    best.points = {25, 100};
    best.wins = {0, 0}; // nobody has won yet
    best.damage_inflicted = {250, 500};
    best.damage_received = {20, 40};
    info.scores[2].points = 77; // most kills, the player's
    info.scores[20].points = 11; // most kills, the order's
    std::vector<uint8_t> body((const uint8_t *)&info, (const uint8_t *)&info + sizeof(info));
    const char strings[] = "bea\0Bea\0Night Owls\0Ghent\0\0Belgium\0Hello";
    body.insert(body.end(), strings, strings + sizeof(strings));
    return list_packet(_player_info_packet, {body});
}

} // namespace

TEST_F(lobby_small_dialogs, the_room_chooser_lists_the_rooms_and_gives_the_chosen_one_or_minus_one)
{
    const struct
    {
        int16_t choose, press;
        int16_t expected;
    } cases[] = {{7, _room_dialog_ok_item, 7}, {7, _room_dialog_cancel_item, -1}};
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        inspect([&](dialog_data *dialog) {
            EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _room_dialog_list_item), 2);
            EXPECT_EQ(get_selected_room_identifier(dialog, _room_dialog_list_item), 3) << "the room we are in";
            select_room_by_identifier(dialog, _room_dialog_list_item, c.choose);
            keep_picture("room");
        });
        press(c.press);
        EXPECT_EQ(metaserver_change_room(), c.expected) << c.press;
        EXPECT_EQ(get_first_dialog(), nullptr);
    }
}

TEST_F(lobby_small_dialogs, the_questions_show_their_text_and_answer_yes_only_for_yes)
{
    const struct
    {
        bool (*ask)(const char *);
        int16_t press;
        bool expected;
    } cases[] = {{query_metaserver_url, _question_dialog_yes_item, true},
                 {query_metaserver_url, _question_dialog_no_item, false},
                 {metaserver_query_dialog, _question_dialog_yes_item, true},
                 {metaserver_query_dialog, _question_dialog_no_item, false}};
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        inspect([&](dialog_data *dialog) {
            EXPECT_EQ(text_of(dialog, _question_dialog_text_item), "Open the page?");
            EXPECT_EQ(get_dialog_default_item(dialog), _question_dialog_yes_item);
            keep_picture("meud");
        });
        press(c.press);
        EXPECT_EQ(c.ask("Open the page?"), c.expected);
    }
}

TEST_F(lobby_small_dialogs, the_search_finds_once_text_is_typed_and_goes_to_the_chosen_players_room)
{
    enum
    {
        go_to,
        cancel,
        room_dies
    };
    const struct
    {
        int end;
        int16_t expected;
    } cases[] = {{go_to, 7}, {cancel, PLAYER_SEARCH_CANCELLED}, {room_dies, PLAYER_SEARCH_CANCELLED}};
    for (const auto &c : cases)
    {
        get_metaserver_context()->state = _metaserver_connected;
        restart_main_loop_script();
        inspect([](dialog_data *dialog) {
            EXPECT_FALSE(bitmap_get_item_enabled(dialog, _search_dialog_find_item));
            EXPECT_FALSE(bitmap_get_item_enabled(dialog, _search_dialog_go_to_item));
            add_string_to_list(dialog, _search_dialog_list_item, "an earlier answer", 1, true);
        });
        type_text("bea");
        inspect([](dialog_data *dialog) { EXPECT_TRUE(bitmap_get_item_enabled(dialog, _search_dialog_find_item)); });
        press(_search_dialog_find_item);
        inspect([](dialog_data *dialog) {
            EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _search_dialog_list_item), 0) << "Find empties the list";
            deliver(_player_search_message, search_answer({{"bea", 3}, {"beatrix", 7}}));
            EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _search_dialog_list_item), 2);
            EXPECT_FALSE(bitmap_get_item_enabled(dialog, _search_dialog_go_to_item));
        });
        click_row(_search_dialog_list_item, [](dialog_data *dialog) { return row_of(dialog, _search_dialog_list_item, 7); });
        inspect([this](dialog_data *dialog) {
            EXPECT_TRUE(bitmap_get_item_enabled(dialog, _search_dialog_go_to_item));
            keep_picture("fipl");
        });
        if (c.end == go_to) press(_search_dialog_go_to_item);
        if (c.end == cancel) press(_search_dialog_cancel_item);
        if (c.end == room_dies)
        {
            inspect([](dialog_data *) { get_metaserver_context()->state = _metaserver_room_died; });
            settle(2);
        }
        EXPECT_EQ(do_player_search_dialog(), c.expected) << c.end;
        EXPECT_EQ(get_first_dialog(), nullptr);
        // Results that come after the dialog closed go nowhere.
        deliver(_player_search_message, search_answer({{"late", 3}}));
    }
}

// The score type list's entries against the information packet's records.
TEST(lobby_player_info, each_score_type_reads_its_record_of_the_player_or_of_the_order)
{
    const struct
    {
        int16_t entry;
        bool order;
        int16_t slot;
    } cases[] = {{0, false, 1}, {5, false, 2}, {1, false, 3}, {13, false, 5}, {16, false, 15},
                 {0, true, 19},  {5, true, 20},  {16, true, 33}, {17, false, 1}, {-2, true, 19}};
    for (const auto &c : cases) EXPECT_EQ(info_score_slot(c.entry, c.order), c.slot) << c.entry << " " << c.order;
}

TEST_F(lobby_small_dialogs, the_information_shows_the_answer_with_bars_clamped_and_guarded_against_a_best_of_0)
{
    // The lobby dialog the answer is taken for.
    dialog_data *lobby = new_dialog(QUESTION_DIALOG_TAG, nullptr, nullptr, NONE, 0);
    ASSERT_NE(lobby, nullptr);
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();
    lists.dialog = lobby;
    set_metaserver_lobby_lists(&lists);

    const std::vector<uint8_t> answer = info_answer();

    const struct
    {
        int16_t bar;
        int16_t fraction, average;
    } bars[] = {{_info_dialog_points_bar_item, 128, 64},
                {_info_dialog_wins_bar_item, 0, 0},
                {_info_dialog_damage_inflicted_bar_item, 256, 128},
                {_info_dialog_damage_received_bar_item, 64, 128}};
    inspect([&](dialog_data *) { deliver(_player_info_message, answer); });
    settle(2);
    inspect([&](dialog_data *dialog) {
        EXPECT_EQ(text_of(dialog, _info_dialog_login_item), "Login: bea");
        EXPECT_EQ(text_of(dialog, _info_dialog_name_item), "Name: Bea");
        EXPECT_EQ(text_of(dialog, _info_dialog_order_name_item), "Order: Night Owls");
        EXPECT_EQ(text_of(dialog, _info_dialog_rank_item), "Rank: 7 / 120");
        EXPECT_EQ(text_of(dialog, _info_dialog_points_item), "Points: 50");
        EXPECT_EQ(text_of(dialog, _info_dialog_games_played_item), "Games played: 9");
        EXPECT_EQ(text_of(dialog, _info_dialog_best_player_item), "Best player: Ace");
        for (const auto &b : bars)
        {
            EXPECT_EQ(get_status_bar_fraction(dialog, b.bar), b.fraction) << b.bar;
            EXPECT_EQ(get_status_bar_average_point(dialog, b.bar), b.average) << b.bar;
        }
        char country[64];
        get_bitmap_dialog_edit_item_text(dialog, _info_dialog_country_item, country, sizeof(country));
        EXPECT_STREQ(country, "Belgium");
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _info_dialog_city_item)) << "another player's description";
        EXPECT_TRUE(bitmap_get_item_visible(dialog, _info_dialog_order_item));
        keep_picture("stat");
        // A second answer is not taken.
        deliver(_player_info_message, list_packet(_player_info_packet, {std::vector<uint8_t>(sizeof(player_info_packet), 0)}));
    });
    click_row(_info_dialog_score_type_item, [](dialog_data *dialog) {
        return row_of(dialog, _info_dialog_score_type_item, 5); // most kills
    });
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(text_of(dialog, _info_dialog_points_item), "Points: 77");
        EXPECT_EQ(text_of(dialog, _info_dialog_login_item), "Login: bea");
    });
    press(_info_dialog_order_item);
    inspect([](dialog_data *dialog) { EXPECT_EQ(text_of(dialog, _info_dialog_points_item), "Points: 11"); });
    press(_info_dialog_ok_item);
    do_player_info_dialog(lobby, 3, 9);
    EXPECT_EQ(get_first_dialog(), lobby);
    dispose_dialog(lobby);
}

// The user's own information: the fields are his to change, and OK sends them
// to the room the user is in.
TEST_F(lobby_small_dialogs, the_users_own_description_goes_to_the_room_on_ok)
{
    InitUber();
    set_vesk_headless(true);
    set_machine_tick_count_for_tests(lobby_client_test::test_clock);
    lobby_script_peer room({});
    room.script = lobby_room_welcome();
    room.script.insert(room.script.end() - 1,
                       {lobby_expect(_player_info_query_packet), lobby_expect(_update_player_information_packet)});
    lobby_script_peer host(lobby_client_test::login_host(2, room.room_entry(0)));
    room.start();
    host.start();
    *get_metaserver_context() = {};
    set_default_metaserver_host_for_tools("127.0.0.1", host.listener.port);
    new_player_data player = {};
    strcpy(player.appearance.name, "Anna");
    net_game_description description = {};
    pass_until([] { return get_metaserver_context()->state != _metaserver_pending_connection; });
    EXPECT_EQ(login_to_metaserver(&description, &player, "anna", "secret"), _metaserver_game_entered_successfully);
    EXPECT_TRUE(lobby_client_test::pump_lobby_until([] { return get_metaserver_context()->local_player_id == 77; }));
    install_test_clock();
    restart_main_loop_script();

    dialog_data *lobby = new_dialog(QUESTION_DIALOG_TAG, nullptr, nullptr, NONE, 0);
    ASSERT_NE(lobby, nullptr);
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();
    lists.dialog = lobby;
    set_metaserver_lobby_lists(&lists);
    inspect([](dialog_data *) { deliver(_player_info_message, info_answer()); });
    settle(2);
    inspect([](dialog_data *dialog) {
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _info_dialog_city_item));
        set_bitmap_dialog_edit_item_text(dialog, _info_dialog_city_item, "Bruges");
    });
    press(_info_dialog_ok_item);
    do_player_info_dialog(lobby, 3, 77);
    dispose_dialog(lobby);

    set_machine_tick_count_for_tests(lobby_client_test::test_clock);
    EXPECT_TRUE(lobby_client_test::pump_lobby_until(
        [&] { return room.script_done || !room.body_of(_update_player_information_packet).empty(); }));
    const std::vector<uint8_t> sent = room.body_of(_update_player_information_packet);
    const std::string texts(sent.begin(), sent.end());
    EXPECT_NE(texts.find(std::string("Bruges\0\0Belgium\0Hello", 21)), std::string::npos);
    logout_of_metaserver();
    EXPECT_EQ(host.finish(), "");
    EXPECT_EQ(room.finish(), "");
    set_default_metaserver_host_for_tools(nullptr, 0);
    install_test_clock();
    set_vesk_headless(false);
    EndUber();
}

} // namespace lobby_small_dialogs_test_file
