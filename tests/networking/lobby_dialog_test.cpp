// The lobby dialog over the demo's dialogs and strings: the chat commands
// that match only exactly, chat from senders the room does not list or the
// player gagged, the join's move to the game's room and its wait for the
// player data on a test clock, and the states that end the item loop (a
// room that dies, the service sending the player elsewhere).

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "ingame_dialog_network.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/metaserver_small_dialogs.h"
#include "metaserver/metaserver_strings.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "cseries/timers.h"
#include "support/lobby_client_fixture.h"
#include "support/lobby_interface_fixture.h"
#include "support/lobby_list_packets.h"
#include "support/lobby_script_peer.h"
#include "support/scratch.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk_networking/vesk_networking.h"
#include "version.h"
#include "vesk.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"

namespace lobby_dialog_test_file {

namespace
{

enum : uint32_t
{
    LOCAL_ID = 10,
    LISTED_ID = 11,
    GAGGED_ID = 12,
    UNKNOWN_ID = 13,
};

// The set-player-data body (wire order) the room sends for the user `id`.
std::vector<uint8_t> player_data_body(uint32_t id)
{
    const std::vector<uint8_t> data = lobby_player_data("anna");
    std::vector<uint8_t> body;
    put_be16(body, _add_player_verb);
    put_be16(body, 0); // flags
    put_be32(body, 0); // ranking
    put_be32(body, id);
    put_be32(body, 7); // room
    put_be16(body, 0); // caste
    put_be16(body, (int32_t)data.size());
    put_be16(body, 0); // order
    put_be16(body, 0);
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

// How long the join waited for player data: from the pass that found the
// client in the game's room to the pass that found the lobby dialog modal
// again.  Each pass in the new room takes a tick and 100 ms; when the
// room sends the data, the first such pass reads them (they may come a
// little later in real time than the room's welcome).
uint32_t join_wait;
bool join_data_expected;
int32_t join_passes;
uint32_t join_moved_at;
dialog_data *join_lobby;
std::chrono::steady_clock::time_point join_deadline;

void watch_join_pass(action_data &)
{
    const bool moved = get_metaserver_context()->desired_room == 7;
    if (moved && join_moved_at == 0) join_moved_at = test_clock_milliseconds();
    if (moved && get_modal_dialog() == join_lobby)
    {
        join_wait = test_clock_milliseconds() - join_moved_at;
        press(iLEAVE_METASERVER);
        return;
    }
    if (std::chrono::steady_clock::now() > join_deadline)
    {
        ADD_FAILURE() << "the join did not end";
        return;
    }
    if (moved && join_data_expected)
    {
        EXPECT_TRUE(lobby_client_test::pump_lobby_until([] { return allow_join_game_raised(); }));
    }
    if (moved) advance_test_clock_milliseconds(100);
    // Ticks let the press complete; then, until the room change is over,
    // passes of a millisecond keep its own 5000 ms waits far away.
    script_step step = ++join_passes < 12 || moved ? action_step(make_test_action()) : idle_step(1);
    step.before = watch_join_pass;
    add_script_step(step);
}

void watch_join(dialog_data *lobby, bool data_expected)
{
    join_data_expected = data_expected;
    join_passes = 0;
    join_wait = 0;
    join_moved_at = 0;
    join_lobby = lobby;
    join_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    script_step step = action_step(make_test_action());
    step.before = watch_join_pass;
    add_script_step(step);
}

class lobby_dialog : public lobby_interface_test
{
protected:
    new_player_data player = {};
    net_game_description description = {};

    void SetUp() override
    {
        lobby_interface_test::SetUp();
        strcpy(player.appearance.name, "anna");
    }
    // The lobby dialog of a room with the local player, a listed player and
    // a gagged one, without a service behind it.
    void open_lobby(void)
    {
        initialize_metaserver_room_list();
        metaserver_context_data *context = get_metaserver_context();
        context->state = _metaserver_connected;
        context->desired_room = 3;
        context->local_player_id = LOCAL_ID;
        context->player = &player;
        context->game_description = &description;
        open_lobby_lists();
    }
    void open_lobby_lists(void)
    {
        ASSERT_TRUE(create_metaserver_client_dialog());
        dialog_data *dialog = get_metaserver_client_dialog();
        for (uint32_t id : {LOCAL_ID, LISTED_ID, GAGGED_ID})
        {
            new_player_data p = {};
            snprintf(p.appearance.name, sizeof(p.appearance.name), "p%u", (unsigned)id);
            add_player_to_list(dialog, iPLAYER_LIST, &p, 0, id, 3, true);
        }
        gag_player(dialog, iPLAYER_LIST, GAGGED_ID, true);
        show_metaserver_client_dialog(true);
    }
    void TearDown() override
    {
        if (set_up)
        {
            logout_of_metaserver();
            dispose_metaserver_client_dialog();
        }
        lobby_interface_test::TearDown();
    }
    static int16_t chat_rows(void) { return bitmap_get_listbox_row_count(get_metaserver_client_dialog(), iCHAT_LIST); }
};

TEST_F(lobby_dialog, only_the_exact_commands_run_and_everything_else_is_chat)
{
    open_lobby();
    const struct
    {
        const char *text;
        bool command;
    } cases[] = {{".clear", true},    {".userid", true},  {".version", true}, {".CLEAR", false},
                 {".clear all", false}, {" .clear", false}, {".clearx", false}, {"clear", false},
                 {".count", false},     {".help", false}};
    for (const auto &c : cases) EXPECT_EQ(metaserver_chat_command(c.text), c.command) << c.text;

    dialog_data *dialog = get_metaserver_client_dialog();
    add_chat_text_full(dialog, iCHAT_LIST, _normal_chat_message_type, "p11", nullptr, "hello", false);
    ASSERT_GT(chat_rows(), 0);
    EXPECT_TRUE(send_metaserver_chat_text(dialog, ".version"));
    std::string said;
    for (int16_t row = 0; row < chat_rows(); ++row)
    {
        chat_list_data line = {};
        int16_t size = (int16_t)sizeof(line);
        bitmap_get_listbox_row_data(dialog, iCHAT_LIST, row, &line, &size);
        said += line.message;
    }
    EXPECT_NE(said.find(VESK_VERSION_STRING), std::string::npos) << "the build's version: " << said;
    EXPECT_TRUE(send_metaserver_chat_text(dialog, ".clear"));
    EXPECT_EQ(chat_rows(), 0) << "the exact command empties the chat";
    EXPECT_FALSE(send_metaserver_chat_text(dialog, " \t ")) << "blanks are not sent";
}

// Directed data names its sender as the service stamped it: a line whose
// payload claims someone else is dropped, with one log line per impostor.
TEST_F(lobby_dialog, chat_is_shown_only_from_listed_senders_who_are_not_gagged_and_are_who_they_claim)
{
    open_lobby();
    const std::string log_path = testing::TempDir() + "lobby_chat_" + std::to_string(getpid()) + ".log";
    unlink(log_path.c_str());
    ASSERT_TRUE(open_log_file_at(log_path.c_str(), "lobby chat"));
    const struct
    {
        uint32_t claimed, stamped;
        int32_t event;
        bool shown;
    } cases[] = {{LISTED_ID, 0, _broadcast_message, true},
                 {LISTED_ID, LISTED_ID, _directed_message, true},
                 {GAGGED_ID, 0, _broadcast_message, false},
                 {UNKNOWN_ID, 0, _broadcast_message, false},
                 {UNKNOWN_ID, UNKNOWN_ID, _directed_message, false},
                 {LISTED_ID, UNKNOWN_ID, _directed_message, false},
                 {LOCAL_ID, UNKNOWN_ID, _directed_message, false},
                 {LISTED_ID, GAGGED_ID, _directed_message, false}};
    for (const auto &c : cases)
    {
        reset_chat_text(get_metaserver_client_dialog(), iCHAT_LIST);
        uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
        const int32_t length =
            build_vesk_metaserver_chat_packet(payload, nullptr, 0, c.claimed, 0xFFFFFFFFu, "someone", "hi there");
        ASSERT_TRUE(byteswap_metaserver_packet(payload, length, true));
        note_metaserver_directed_data_sender(c.stamped);
        EXPECT_TRUE(handle_metaserver_event_in_client_dialog(c.event, payload, length));
        EXPECT_EQ(chat_rows() > 0, c.shown) << c.claimed << " " << c.stamped << " " << c.event;
    }
    close_log_file();
    const std::vector<uint8_t> bytes = read_file_bytes(log_path);
    const std::string log(bytes.begin(), bytes.end());
    size_t impostor_lines = 0;
    for (size_t at = log.find("claiming to be player"); at != std::string::npos;
         at = log.find("claiming to be player", at + 1))
        ++impostor_lines;
    EXPECT_EQ(impostor_lines, 2u) << log; // UNKNOWN_ID once for its two lines, GAGGED_ID once
    unlink(log_path.c_str());
    // A payload whose strings run past the event's length is refused.
    uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
    const int32_t length = build_vesk_metaserver_chat_packet(payload, nullptr, 0, LISTED_ID, 0xFFFFFFFFu, "x", "hi");
    ASSERT_TRUE(byteswap_metaserver_packet(payload, length, true));
    reset_chat_text(get_metaserver_client_dialog(), iCHAT_LIST);
    handle_metaserver_event_in_client_dialog(_broadcast_message, payload, length - 2);
    EXPECT_EQ(chat_rows(), 0);
}

// A lobby that dropped in any state is logged out by the network game's
// teardown when it asks (its ranked guess forgotten), so that the next login
// finds the lobby free; the quit dialog reads the room's death.
TEST_F(lobby_dialog, a_teardown_that_logs_out_frees_the_lobby_whatever_its_state)
{
    const struct
    {
        int16_t state;
        bool logout, died;
    } cases[] = {{_metaserver_connected, true, false},         {_metaserver_room_died, true, true},
                 {_metaserver_pending_connection, true, false}, {_metaserver_room_died, false, true}};
    for (const auto &c : cases)
    {
        get_metaserver_context()->state = c.state;
        reset_current_metaserver_room_ranked_guess(true);
        EXPECT_EQ(ingame_dialog_lobby_connection_died(), c.died) << c.state;
        setdown_network_game_from_old_netgame_session(c.logout, true);
        EXPECT_EQ(get_metaserver_context()->state, c.logout ? (int16_t)_metaserver_uninitialized : c.state) << c.state;
        EXPECT_EQ(current_metaserver_room_is_ranked(), !c.logout) << c.state;
    }
    logout_of_metaserver();
}

// The events as the pump raises them: a room that goes down ends the loop with
// its message (state back to connected) while the player does nothing, and a
// redirection the player agrees to returns to the login instead of ending the
// program.
TEST_F(lobby_dialog, a_dying_room_or_a_redirection_ends_the_item_loop)
{
    open_lobby();
    char redirection[] = "http://127.0.0.1:6321/elsewhere\0Go elsewhere?";
    const struct
    {
        int32_t event;
        void *data;
        int32_t length;
        int16_t choice;
        int16_t state_after;
    } cases[] = {{_metaserver_room_went_down, nullptr, 0, _lobby_left, _metaserver_connected},
                 {_metaserver_requires_url, redirection, (int32_t)sizeof(redirection), _lobby_back_to_login,
                  _metaserver_sent_player_to_a_url}};
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        add_script_step(on_dialog([&](dialog_data *) {
            metaserver_handler_proc(c.event, c.data, c.length, get_metaserver_context());
        }));
        // The question before the address comes with the event (yes); the
        // room's message as soon as the modal run sees the state, with no
        // item pressed in the lobby (its button).
        const bool question = c.event == _metaserver_requires_url;
        if (question) press(_question_dialog_yes_item);
        if (!question)
        {
            inspect([](dialog_data *dialog) {
                ASSERT_NE(dialog, get_metaserver_client_dialog()) << "the room's message is up";
                char text[256] = {};
                get_bitmap_dialog_static_item_text(dialog, 1, text, sizeof(text));
                EXPECT_STREQ(text, get_metaserver_string(_metaserver_room_died_msg));
            });
            press(2);
        }
        EXPECT_EQ(run_metaserver_client_dialog_items(), c.choice) << c.event;
        EXPECT_EQ(get_metaserver_context()->state, c.state_after);
        get_metaserver_context()->state = _metaserver_connected;
    }
}

// The join's way into a game listed in another room, against two scripted
// rooms: the client moves to the game's room first, then waits for the
// player data the room sends; without them it gives up after 5000 ms of the
// test clock and stays in the lobby, in the new room.
TEST_F(lobby_dialog, joining_a_game_in_another_room_moves_there_and_waits_5000_ms_for_player_data)
{
    InitUber();
    set_vesk_headless(true);
    for (bool sends_player_data : {false, true})
    {
        set_machine_tick_count_for_tests(lobby_client_test::test_clock);
        lobby_script_peer first(lobby_room_welcome());
        lobby_script_peer second(lobby_room_welcome());
        if (sends_player_data) second.script.insert(second.script.end() - 1, lobby_send(8, player_data_body(77)));
        std::vector<uint8_t> rooms = first.room_entry(0);
        const std::vector<uint8_t> other = second.room_entry(7);
        rooms.insert(rooms.end(), other.begin(), other.end());
        lobby_script_peer host(lobby_client_test::login_host(2, rooms));
        first.start();
        second.start();
        host.start();
        *get_metaserver_context() = {};
        save_metaserver_preferences(0, nullptr); // the lobby keeps the room it was left in
        set_default_metaserver_host_for_tools("127.0.0.1", host.listener.port);
        restart_main_loop_script();
        pass_until([] { return get_metaserver_context()->state != _metaserver_pending_connection; });
        ASSERT_EQ(login_to_metaserver(&description, &player, "anna", "secret"), _metaserver_game_entered_successfully);
        ASSERT_EQ(get_metaserver_context()->desired_room, 0);
        install_test_clock();
        open_lobby_lists();

        net_game_description game = {};
        strcpy(game.name, "over there");
        game.game_id = 5;
        game.parameters.room_id = 7;
        game.public_tags_checksum = tag_files_get_foundation_checksum();
        add_game_to_list(get_metaserver_client_dialog(), iGAME_LIST, &game);
        select_game_by_id(get_metaserver_client_dialog(), iGAME_LIST, 5);

        restart_main_loop_script();
        // The watch's passes let the press complete (press() would queue its own).
        inspect([](dialog_data *dialog) { press_item(dialog, nullptr, iJOIN_GAME); });
        watch_join(get_metaserver_client_dialog(), sends_player_data);
        const int16_t choice = run_metaserver_client_dialog_items();
        EXPECT_EQ(get_metaserver_context()->desired_room, 7) << "moved to the game's room first";
        if (sends_player_data)
        {
            EXPECT_EQ(choice, _lobby_joined_game);
            EXPECT_EQ(description.game_id, 5u);
        }
        else
        {
            EXPECT_EQ(choice, _lobby_left);
            // The wait's last pass ends at or after 5000 ms (each pass a tick and 100 ms).
            EXPECT_GE(join_wait, 5000u);
            EXPECT_LE(join_wait, 5000u + 2 * 134u);
        }
        logout_of_metaserver();
        EXPECT_EQ(host.finish(), "");
        EXPECT_EQ(first.finish(), "");
        EXPECT_EQ(second.finish(), "");
    }
    set_default_metaserver_host_for_tools(nullptr, 0);
    install_test_clock();
    set_vesk_headless(false);
    EndUber();
}

// The session hands a joined game to the network session's start with the
// game's and the user's lobby ids; a start that fails brings the player back
// to the dialog with the description as it was.
struct started_session
{
    int16_t verb;
    uint32_t protocol;
    int32_t game_id, player_id;
    uint32_t description_game_id;
};
std::vector<started_session> started;
int16_t start_result;
int16_t fake_start(new_game_data *, net_game_description *description, new_player_data *, int16_t verb,
                   uint32_t protocol, int32_t game_id, int32_t player_id, int16_t, bool *failed)
{
    started.push_back({verb, protocol, game_id, player_id, description->game_id});
    *failed = start_result == 0;
    return start_result;
}

TEST_F(lobby_dialog, the_session_starts_a_joined_game_or_comes_back_to_the_dialog)
{
    open_lobby();
    set_metaserver_session_starter(fake_start);
    net_game_description game = {};
    game.game_id = 5;
    game.parameters.room_id = 3;
    game.public_tags_checksum = tag_files_get_foundation_checksum();
    add_game_to_list(get_metaserver_client_dialog(), iGAME_LIST, &game);
    new_game_data data = {};
    for (int16_t result : {1, 0})
    {
        started.clear();
        start_result = result;
        description.game_id = 9;
        select_game_by_id(get_metaserver_client_dialog(), iGAME_LIST, 5);
        restart_main_loop_script();
        press(iJOIN_GAME);
        if (!result) press(iLEAVE_METASERVER);
        EXPECT_EQ(handle_metaserver_dialog_for_session(&data, &description, &player, 7, true), result);
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0].verb, _lobby_joined_game);
        EXPECT_EQ(started[0].protocol, 7u);
        EXPECT_EQ(started[0].game_id, 5);
        EXPECT_EQ(started[0].player_id, (int32_t)LOCAL_ID);
        EXPECT_EQ(started[0].description_game_id, 5u);
        EXPECT_EQ(description.game_id, result ? 5u : 9u) << "restored when the session did not start";
    }
    set_metaserver_session_starter(nullptr);
}

// A room's lists and the buddies come during the login, before the lobby
// dialog exists: the dialog shows them, and its tabs and buddy button, when
// it opens.
TEST_F(lobby_dialog, what_the_login_brought_shows_when_the_dialog_opens)
{
    const struct
    {
        const char *what;
        bool buddies, orders;
    } rows[] = {{"nothing", false, false}, {"buddies", true, false}, {"an order", false, true}, {"both", true, true}};
    for (const auto &r : rows)
    {
        SCOPED_TRACE(r.what);
        forget_pending_metaserver_list_events();
        metaserver_context_data *context = get_metaserver_context();
        context->state = _metaserver_pending_connection;
        context->player = &player;
        context->local_player_id = LOCAL_ID;
        std::vector<uint8_t> players = list_packet(_player_list_packet, {player_entry(LISTED_ID, lobby_player_data("Bo"))});
        metaserver_handler_proc(_player_list_message, players.data(), (int32_t)players.size(), context);
        if (r.buddies)
        {
            buddy_entry buddies[MAXIMUM_BUDDIES];
            memset(buddies, 0xFF, sizeof(buddies));
            buddies[0] = {LISTED_ID, _buddy_active, {0, 0, 0}};
            metaserver_handler_proc(_update_player_buddy_list_message, buddies, (int32_t)sizeof(buddies), context);
            std::vector<uint8_t> list =
                list_packet(_buddy_list_packet, {player_entry(LISTED_ID, lobby_player_data("Bo"), 0, true)});
            metaserver_handler_proc(_buddy_list_message, list.data(), (int32_t)list.size(), context);
        }
        if (r.orders)
        {
            std::vector<uint8_t> order = list_packet(_update_order_member_list_packet, {{0, 0, 0, 0}});
            metaserver_handler_proc(_update_order_member_list_message, order.data(), (int32_t)order.size(), context);
        }
        context->state = _metaserver_connected;
        ASSERT_TRUE(create_metaserver_client_dialog());
        dialog_data *dialog = get_metaserver_client_dialog();
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, iPLAYER_LIST), 1);
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, iBUDDY_LIST), r.buddies ? 1 : 0);
        EXPECT_EQ(bitmap_get_item_visible(dialog, iPLAYER_LIST_TAB), r.buddies || r.orders);
        EXPECT_EQ(bitmap_get_item_visible(dialog, iBUDDY_BUTTON), r.buddies);
        dispose_metaserver_client_dialog();
    }
}

} // namespace

} // namespace lobby_dialog_test_file
