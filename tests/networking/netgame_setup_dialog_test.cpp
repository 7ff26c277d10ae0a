// The set-up dialog over the demo's interface, its items pressed by a
// script: on a host with a real peer, the peer is listed, its chat shows,
// it gets ready and the host's start ends every dialog with the game to
// play; a joiner is driven to its end by the host's description and start
// broadcast, and one who is not ready when the start comes stays out.

#include "support/dialog_harness.h"
#include "support/net_session_fixture.h"

#include <cstring>
#include <functional>

#include "bitmap_dialogs/chat_list_control.h"
#include "game_records.h"
#include "game_states.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "networking/network_constants.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/netgame_setup_dialog.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_teams.h"

namespace netgame_setup_dialog_test_file {

namespace {

enum
{
    NOTHING_PRESSED = 7, // the hidden item: a pass in which the player does nothing
    SCRIPT_PASS_LIMIT = 400,
};

// The sessions of the other fixtures, set up inside a dialog test.
struct host_session : net_setup_host_fixture
{
    void TestBody() override {}
    using net_setup_host_fixture::id_of_peer;
    using net_setup_host_fixture::join_peer;
    using net_setup_host_fixture::peers;
    using net_setup_host_fixture::pump_once;
    using net_setup_host_fixture::pump_until;
    using net_setup_host_fixture::send_peer_chat;
    using net_setup_host_fixture::send_peer_record;
    using net_setup_host_fixture::SetUp;
    using net_setup_host_fixture::take_game_packets;
    using net_setup_host_fixture::TearDown;
};

struct client_session : net_session_client_fixture
{
    void TestBody() override {}
    using net_session_client_fixture::list_players;
    using net_session_client_fixture::SetUp;
    using net_session_client_fixture::TearDown;
};

// The script: one step per pass, each returning the item pressed; the set-up
// ends when its steps run out (the player leaves), so no script can hang.
using script_step_procedure = std::function<int16_t(dialog_data *)>;

struct setup_script
{
    std::vector<script_step_procedure> steps;
    size_t next = 0;
    int32_t passes = 0;

    static int16_t pass(dialog_data *dialog, void *context)
    {
        setup_script *script = (setup_script *)context;
        if (++script->passes > SCRIPT_PASS_LIMIT || script->next >= script->steps.size())
            return _netgame_setup_leave_item;
        return script->steps[script->next++](dialog);
    }
};

template <typename session_type> class setup_dialog_test : public demo_controls_test
{
protected:
    session_type session;
    setup_script script;

    void SetUp() override
    {
        demo_controls_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        session.SetUp();
        set_netgame_setup_script(setup_script::pass, &script);
    }
    void TearDown() override
    {
        set_netgame_setup_script(nullptr, nullptr);
        if (started) session.TearDown();
        demo_controls_test::TearDown();
    }

    bool run(new_game_data *data, net_game_description *game)
    {
        memset(game, 0, sizeof(*game));
        *game = get_vesk_net_globals()->current_game_description;
        return configure_netgame(data, game, false, false);
    }
};

// The chat log's rows as the player reads them.
std::string chat_log_text(dialog_data *dialog)
{
    std::string text;
    for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, _netgame_setup_chat_log_item); ++row)
    {
        chat_list_data line = {};
        int16_t size = (int16_t)sizeof(line);
        bitmap_get_listbox_row_data(dialog, _netgame_setup_chat_log_item, row, &line, &size);
        text += std::string(line.player_name) + ": " + line.message + "\n";
    }
    return text;
}

// The host's description packet (wire order), named "Scripted host", its
// random seed 4242.
std::vector<uint8_t> scripted_host_description(void)
{
    new_game_data defaults;
    get_default_new_game_data(&defaults, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    net_game_description sent;
    defaults.parameters.scenario_tag = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'); // a map with no preview of its own
    build_net_game_description(&sent, "Scripted host", "", &defaults.parameters, 3453, 0, 1);
    sent.parameters.random_seed = 4242;
    std::vector<uint8_t> packet(MAXIMUM_SINGLE_PACKET_SIZE);
    packet.resize(build_vesk_game_description_packet(packet.data(), (int32_t)packet.size(), kSendToAllPlayers, &sent));
    return packet;
}

// The host and this joiner (3) listed, the set-up entered, the host's
// description come.
void join_the_scripted_host(client_session &session)
{
    new_player_data host = test_net_player("Host"), local = test_net_player("Joiner");
    host.unique_identifier = NET_HOST_PLAYER_ID;
    local.unique_identifier = 3;
    session.list_players({host, local}, local.unique_identifier);
    set_net_state(_net_configuring_game);
    handle_vesk_game_description_packet(scripted_host_description().data());
}

using setup_dialog_host = setup_dialog_test<host_session>;
using setup_dialog_joiner = setup_dialog_test<client_session>;

} // namespace

TEST_F(setup_dialog_host, a_peer_joins_chats_gets_ready_and_the_host_starts_the_game)
{
    new_player_data joiner = test_net_player("Joiner");
    int32_t joiner_id = NONE;
    bool listed = false, chat_shown = false;
    auto pump_until = [&](std::function<bool(dialog_data *)> done) -> script_step_procedure
    {
        return [this, done](dialog_data *dialog)
        {
            session.pump_until([&] { return done(dialog); });
            return (int16_t)NOTHING_PRESSED;
        };
    };
    script.steps = {
        [&](dialog_data *) {
            session.join_peer(joiner);
            joiner_id = session.id_of_peer(0);
            return (int16_t)NOTHING_PRESSED;
        },
        pump_until([&](dialog_data *dialog) {
            return listed = player_id_in_list(dialog, _netgame_setup_player_list_item, (uint32_t)joiner_id);
        }),
        [&](dialog_data *) {
            session.send_peer_chat(0, "Joiner", 0, _chat_packet_relay_request_flag, _broadcast_chat_message, NONE,
                                   "hello from the joiner");
            return (int16_t)NOTHING_PRESSED;
        },
        pump_until([&](dialog_data *dialog) {
            return chat_shown = chat_log_text(dialog).find("Joiner: hello from the joiner") != std::string::npos;
        }),
        [&](dialog_data *) {
            joiner.agreed_to_play = true;
            joiner.unique_identifier = joiner_id;
            session.send_peer_record(0, joiner);
            return (int16_t)NOTHING_PRESSED;
        },
        pump_until([&](dialog_data *dialog) { return bitmap_get_item_enabled(dialog, _netgame_setup_start_item); }),
        [](dialog_data *) { return (int16_t)_netgame_setup_start_item; },
    };
    for (int32_t i = 0; i < 50; ++i)
        script.steps.push_back([this](dialog_data *) {
            session.pump_once();
            return (int16_t)NOTHING_PRESSED;
        });

    new_game_data data;
    net_game_description game;
    ASSERT_TRUE(run(&data, &game));
    EXPECT_TRUE(listed);
    EXPECT_TRUE(chat_shown);
    EXPECT_EQ(data.player_count, 2);
    ASSERT_GE(data.local_player_index, 0);
    EXPECT_EQ(data.players[data.local_player_index].unique_identifier, NET_HOST_PLAYER_ID);
    EXPECT_EQ(data.parameters.scenario_tag, game.parameters.scenario_tag);
    EXPECT_EQ(get_vesk_net_globals()->state, _net_idle);
    EXPECT_EQ(get_vesk_net_globals()->configure_dialog, nullptr);
    session.pump_until([&] { return !session.take_game_packets(0, _configuration_packet).empty(); });
    EXPECT_EQ(get_netgame_setup_dialog(), nullptr);
}

// A joiner, ready or not when the host's start broadcast arrives after its
// description: only a ready one plays the described game.
TEST_F(setup_dialog_joiner, the_description_and_the_start_broadcast_end_the_set_up)
{
    for (bool ready : {true, false})
    {
        SCOPED_TRACE(ready ? "ready" : "not ready");
        new_player_data host = test_net_player("Host"), local = test_net_player("Joiner");
        host.unique_identifier = NET_HOST_PLAYER_ID;
        host.agreed_to_play = true;
        local.unique_identifier = 3;
        local.agreed_to_play = ready;
        session.list_players({host, local}, local.unique_identifier);
        set_net_state(_net_reenter_game);

        std::vector<uint8_t> description = scripted_host_description(), start(MAXIMUM_SINGLE_PACKET_SIZE);
        start.resize(build_configuration_packet(start.data(), (int32_t)start.size(), kSendToAllPlayers, 0,
                                                _netgame_setup_game_starts_item, 0));
        bool described = false;
        script = {};
        script.steps = {
            [&](dialog_data *) {
                handle_vesk_game_description_packet(description.data());
                return (int16_t)NOTHING_PRESSED;
            },
            [&](dialog_data *) {
                described = strcmp(get_vesk_net_globals()->current_game_description.name, "Scripted host") == 0;
                handle_configuration_packet(start.data());
                return (int16_t)NOTHING_PRESSED;
            },
        };
        new_game_data data;
        net_game_description game;
        EXPECT_EQ(run(&data, &game), ready);
        EXPECT_TRUE(described);
        EXPECT_EQ(script.next, 2u) << "the start ended the set-up at once";
        EXPECT_EQ(get_vesk_net_globals()->state, ready ? _net_idle : _net_reenter_game);
        if (ready) { EXPECT_EQ(data.parameters.random_seed, 4242u); }
    }
}

// The host may describe its game while the join is still being answered:
// the joiner's own draft, handed to the session and the set-up after, must
// not replace it (a blank map there made the joiner leave the game).  Its
// map has no preview picture of its own: the solo picture shows, no error.
TEST_F(setup_dialog_joiner, a_description_that_came_during_the_join_is_kept)
{
    join_the_scripted_host(session);

    net_game_description draft;
    memset(&draft, 0, sizeof(draft));
    strcpy(draft.name, "Joiner's draft");
    netgame_session_entered(&draft);
    std::string shown;
    clear_pending_error();
    script = {};
    script.steps = {[&](dialog_data *) { return (int16_t)NOTHING_PRESSED; },
                    [&](dialog_data *) {
                        shown = get_vesk_net_globals()->current_game_description.name;
                        return (int16_t)_netgame_setup_leave_item;
                    }};
    new_game_data data;
    EXPECT_FALSE(configure_netgame(&data, &draft, false, false));
    EXPECT_EQ(shown, "Scripted host");
    char error[256] = "";
    EXPECT_FALSE(error_pending(nullptr, error, sizeof(error))) << "the map's missing preview is no error: " << error;
}

// The window closed while the set-up is open: the set-up is left on that
// pass, as Leave, so one close ends the program (before, the set-up ran on
// and a second close was needed).
TEST_F(setup_dialog_joiner, closing_the_window_leaves_the_set_up_at_once)
{
    join_the_scripted_host(session);
    bool ran_on = false;
    script = {};
    script.steps = {[&](dialog_data *) { return set_game_state(_game_state_quit), (int16_t)NONE; },
                    [&](dialog_data *) { return ran_on = true, (int16_t)_netgame_setup_leave_item; }};
    new_game_data data;
    net_game_description game = get_vesk_net_globals()->current_game_description;
    EXPECT_FALSE(configure_netgame(&data, &game, false, false));
    EXPECT_FALSE(ran_on) << "the set-up ran on after the window closed";
    clear_pending_game_state();
}

// The automatic host takes the playlist's next game five seconds after the
// set-up began: every ready mark but the persistent ones is cleared; leaving
// turns the automatic host off.
TEST_F(setup_dialog_host, new_settings_clear_the_ready_marks_but_the_persistent)
{
    new_player_data ready = test_net_player("Ready"), persistent = test_net_player("Persistent");
    ready.agreed_to_play = persistent.agreed_to_play = true;
    persistent.persistent_ready = true;
    set_netgame_autohost(true);
    request_next_autohosted_game();
    bool ready_kept = true, persistent_kept = false;
    script.steps = {
        [&](dialog_data *) {
            session.join_peer(ready);
            session.join_peer(persistent);
            return (int16_t)NOTHING_PRESSED;
        },
        [&](dialog_data *) {
            net_session_test_clock += AUTOHOST_SETTLING_MS;
            return (int16_t)NOTHING_PRESSED;
        },
        // The pass between is the automatic host's: the settings item.
        [&](dialog_data *) {
            const new_player_data *first = get_net_player(find_net_player_index(session.id_of_peer(0)));
            const new_player_data *second = get_net_player(find_net_player_index(session.id_of_peer(1)));
            ready_kept = !first || first->agreed_to_play;
            persistent_kept = second && second->agreed_to_play;
            return (int16_t)_netgame_setup_leave_item;
        },
    };
    new_game_data data;
    net_game_description game;
    EXPECT_FALSE(run(&data, &game));
    EXPECT_EQ(script.passes, 3);
    EXPECT_FALSE(ready_kept);
    EXPECT_TRUE(persistent_kept);
    EXPECT_FALSE(netgame_autohost_is_on());
}

} // namespace netgame_setup_dialog_test_file
