// The network selection, the join-failed message and the missing plug-ins
// list on the demo's dialogs, worked through the real modal loop with
// scripted passes.

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/missing_plugins_list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "tag_files/plugins.h"
#include "cseries/byte_swapping.h"
#include "game_records.h"
#include "networking/packet_definitions.h"
#include "support/net_library_fixture.h"
#include "support/net_peers.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "networking_procedures.h"
#include "recording.h"
#include "recording_format.h"
#include "tag_files/tag_files.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_preferences.h"
#include "networking/net_module.h"
#include "networking/tcp_module.h"
#include "uber/uber.h"
#include "vesk_networking/vesk_join_dialogs.h"
#include "vesk_networking/vesk_network_interface.h"

namespace vesk_join_dialogs_test_file {

namespace
{

class join_dialogs : public demo_interface_test
{
protected:
    static std::vector<missing_plugin_info> two_missing(void)
    {
        std::vector<missing_plugin_info> missing(2);
        memset(missing.data(), 0, sizeof(missing_plugin_info) * missing.size());
        strlcpy(missing[0].name, "Red Hills", sizeof(missing[0].name));
        strlcpy(missing[0].url, "http://plugins.example/red", sizeof(missing[0].url));
        strlcpy(missing[1].name, "Blue Coast", sizeof(missing[1].name));
        return missing;
    }

    // The create-or-join dialog worked by `script` after `idle_steps` idle
    // passes of the main loop, as `role`; what it answered, and the name typed.
    struct create_or_join_result
    {
        bool joined_or_created;
        char name[CREATE_OR_JOIN_NAME_SIZE];
    };
    static create_or_join_result run_create_or_join(net_game_data *game, const char *role, int idle_steps,
                                                    network_dialog_script_procedure script, void *context)
    {
        restart_main_loop_script();
        for (int i = 0; i < idle_steps; ++i) add_script_step(idle_step());
        set_network_dialog_script(script, context);
        create_or_join_result result = {false, ""};
        char password[CREATE_OR_JOIN_NAME_SIZE] = "";
        const std::vector<uint8_t> record = player_record(5);
        result.joined_or_created = create_or_join_game(kModuleID, game, role, result.name, password, record.data(),
                                                       (int32_t)record.size());
        set_network_dialog_script(nullptr, nullptr);
        return result;
    }
};

TEST_F(join_dialogs, the_message_or_the_descriptions_own_reason_waits_for_ok)
{
    net_game_description obsolete = {};
    obsolete.parameters.version = 2180;
    struct
    {
        const net_game_description *description;
        const char *shown;
    } cases[] = {
        {nullptr, "The host left."},
        {&obsolete, "Join failed: The host is running an obsolete build of Vesk II 1.8."},
    };
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        std::string shown;
        inspect([&](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->tag, JOIN_GAME_FAILED_DIALOG_TAG);
            char text[JOIN_FAILED_MESSAGE_SIZE];
            shown = get_bitmap_dialog_static_item_text(dialog, _join_failed_message_item, text, sizeof(text));
        });
        press(_join_failed_ok_item);
        EXPECT_FALSE(do_join_game_failed_dialog("The host left.", c.description));
        EXPECT_EQ(shown, c.shown);
    }
}

TEST_F(join_dialogs, the_missing_plugins_list_answers_false_to_ok_and_true_when_closed_from_outside)
{
    const std::vector<missing_plugin_info> missing = two_missing();
    restart_main_loop_script();
    int16_t rows = 0;
    inspect([&](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        rows = bitmap_get_listbox_row_count(dialog, _missing_plugins_list_item);
    });
    press(_missing_plugins_ok_item);
    EXPECT_FALSE(open_missing_plugins_dialog(missing.data(), (int32_t)missing.size()));
    EXPECT_EQ(rows, 2);
    EXPECT_FALSE(missing_plugins_dialog_is_open());

    // A playable description arriving closes it; a second list replaces the first.
    restart_main_loop_script();
    inspect([&](dialog_data *dialog) {
        EXPECT_TRUE(open_missing_plugins_dialog(missing.data(), 1));
        rows = bitmap_get_listbox_row_count(dialog, _missing_plugins_list_item);
        close_missing_plugins_dialog();
    });
    settle(2);
    EXPECT_TRUE(open_missing_plugins_dialog(missing.data(), (int32_t)missing.size()));
    EXPECT_EQ(rows, 1);
    EXPECT_FALSE(missing_plugins_dialog_is_open());
}

TEST_F(join_dialogs, a_film_needing_a_missing_plugin_offers_it_before_it_is_refused)
{
    // The program's table offers the dialog; a test core may have none yet.
    if (!get_networking_procedures()->open_missing_plugins_dialog)
    {
        static const networking_procedures procedures = {.open_missing_plugins_dialog = offer_missing_plugins};
        ASSERT_TRUE(register_networking_procedures(&procedures));
    }
    // A film made with one plug-in this machine lacks.
    new_game_data game = {};
    game.parameters.type = _game_type_local;
    game.parameters.scenario_tag = FOUR_CHARACTER_CODE('n', 'o', 'n', 'e');
    game.local_player_index = NONE;
    const uint8_t header[] = {0, 1};
    uint8_t *list = game.parameters.plugin_data;
    memcpy(list, header, sizeof(header));
    write_be32(list + 2, 7);
    strcpy((char *)list + 6, "Gone");
    strcpy((char *)list + 11, "http://gone.example/x");
    game.parameters.plugin_count = 1;
    int32_t index = tag_file_new(RECORDING_GROUP_TAG, "needs gone", RECORDING_VERSION_NUMBER);
    ASSERT_NE(index, NONE);
    ASSERT_TRUE(write_recording_header(&index, _normal_recording_type, &game, 300, 0, 0, 0));
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(index, &info));

    restart_main_loop_script();
    std::string offered;
    inspect([&](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, MISSING_PLUGINS_DIALOG_TAG);
        if (bitmap_get_listbox_row_count(dialog, _missing_plugins_list_item) != 1) return;
        missing_plugins_list_row_data row = {};
        int16_t size = sizeof(row);
        bitmap_get_listbox_row_data(dialog, _missing_plugins_list_item, 0, &row, &size);
        offered = row.plugin.name;
    });
    press(_missing_plugins_ok_item);
    new_game_data data = {};
    EXPECT_FALSE(begin_replay(&data, info.subgroup_tag));
    EXPECT_EQ(offered, "Gone");
    EXPECT_FALSE(missing_plugins_dialog_is_open());
}

TEST_F(join_dialogs, the_network_selection_gives_the_lobby_or_the_protocol_and_a_bounded_login)
{
    InitUber(); // the protocols the list shows
    struct
    {
        uint16_t flags;
        int16_t pressed;
        const char *login;
        const char *typed_password;
        int16_t result;
        const char *expected_login, *expected_password;
        bool lobby;
    } cases[] = {
        // An empty login plays as the guest.
        {_use_metaserver_flag, _network_selection_accept_item, "", "", 1, GUEST_LOGIN, GUEST_PASSWORD, true},
        // The lobby password keeps at most 15 characters.
        {_use_metaserver_flag, _network_selection_accept_item, "ann", "abcdefghijklmnopqrst", 1, "ann",
         "abcdefghijklmno", true},
        {0, _network_selection_accept_item, "bob", "", 1, "bob", "", false},
        {0, _network_selection_cancel_item, "carl", "", 0, "", "", false},
    };
    for (const auto &c : cases)
    {
        player_appearance_data appearance = {};
        strlcpy(appearance.name, "Ann", sizeof(appearance.name));
        uint32_t protocol = 0;
        uint16_t flags = c.flags;
        char login[NETWORK_LOGIN_SIZE] = "", password[NETWORK_PASSWORD_SIZE] = "";
        restart_main_loop_script();
        inspect([&](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(bitmap_get_item_visible(dialog, _network_selection_login_item), c.lobby) << c.login;
            EXPECT_EQ(bitmap_get_item_visible(dialog, _network_selection_protocol_list_item), !c.lobby) << c.login;
            EXPECT_EQ(bitmap_get_item_enabled(dialog, _network_selection_server_item), c.lobby) << c.login;
            // The protocols are drawn by name; "Server" is whole in the
            // dialog and no other item lies over it.
            EXPECT_NE(get_list_control_private_list(dialog, _network_selection_protocol_list_item)->draw_proc, nullptr);
            rectangle2d server;
            get_dialog_item_bounds(dialog, _network_selection_server_item, &server);
            EXPECT_TRUE(server.left >= 0 && server.top >= 0 && server.right <= dialog->bounds.right - dialog->bounds.left &&
                        server.bottom <= dialog->bounds.bottom - dialog->bounds.top && server.right > server.left)
                << server.left << ".." << server.right;
            for (const control_data *item = get_first_dialog_control(dialog); item; item = item->next)
            {
                if (item->item_id == _network_selection_server_item || !bitmap_get_item_visible(dialog, item->item_id))
                    continue;
                EXPECT_FALSE(item->bounds.left < server.right && server.left < item->bounds.right &&
                             item->bounds.top < server.bottom && server.top < item->bounds.bottom)
                    << "item " << item->item_id << " lies over Server";
            }
            set_bitmap_dialog_edit_item_text(dialog, _network_selection_login_item, c.login);
            set_bitmap_dialog_edit_item_text(dialog, _network_selection_password_item, c.typed_password);
        });
        press(c.pressed);
        EXPECT_EQ(net_select_protocol(&appearance, &protocol, &flags, login, password), c.result) << c.login;
        EXPECT_STREQ(login, c.expected_login);
        EXPECT_STREQ(password, c.expected_password);
        EXPECT_EQ(protocol, c.result ? (uint32_t)kModuleID : 0u) << c.login;
        EXPECT_EQ((flags & _use_metaserver_flag) != 0, c.lobby && c.result) << c.login;
        EXPECT_STREQ(appearance.name, "Ann");
    }
    EndUber();
}

// A host on loopback that wants the password "secret": the first join,
// without one, is refused as the library refuses it; the second is taken.
// Each attempt is its own connection (a refused joiner closes its own).
class password_host
{
public:
    raw_listener listener;
    std::string passwords[2];
    std::atomic<bool> done{false};

    password_host() : thread_([this] { serve(); }) {}
    ~password_host()
    {
        done = true;
        thread_.join();
    }

private:
    std::thread thread_;

    void serve(void)
    {
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            const int accepted = listener.accept_connection(10000);
            if (accepted < 0) return;
            raw_peer peer(accepted);
            peer.port_bytes_pending = true; // each side's datagram port comes first
            peer.send_bytes({0, 0});
            bool answered = false;
            for (int turn = 0; turn < 500 && !peer.ended && !(answered && (attempt == 0 || done)); ++turn)
            {
                pollfd readable = {peer.stream, POLLIN, 0};
                poll(&readable, 1, 20);
                for (const std::vector<uint8_t> &packet : peer.receive_packets())
                {
                    if (answered || packet_what(packet) != (0x8000 | _join_request_packet)) continue;
                    const char *body = (const char *)packet.data() + 8;
                    passwords[attempt] = body + strlen(body) + 1;
                    answered = true;
                    if (attempt == 0)
                    {
                        static const char refusal[] = "The game needs a password.\0error=9";
                        std::vector<uint8_t> text(refusal, refusal + sizeof(refusal));
                        std::vector<uint8_t> denied = raw_library_packet(_join_request_denied_packet, 1, text);
                        denied[5] = 254;
                        peer.send_bytes(denied);
                    }
                    else
                        peer.send_bytes(raw_new_player(1, 1, true, "client", player_record(5)));
                }
            }
        }
    }
};

// Every pass of a networking dialog: join the typed address, then answer the
// host's password question.
struct joining_script
{
    int32_t step;
    std::string address;
};

static int16_t join_with_password(dialog_data *dialog, void *context)
{
    joining_script *script = (joining_script *)context;
    if (dialog->tag == GAME_PASSWORD_DIALOG_TAG)
    {
        set_bitmap_dialog_edit_item_text(dialog, 3, "secret");
        return 1;
    }
    switch (script->step++)
    {
    case 0:
        set_checkbox_state(dialog, _create_or_join_by_address_item, true);
        return _create_or_join_by_address_item;
    case 1:
        set_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, script->address.c_str());
        return _create_or_join_address_item;
    case 2: return _create_or_join_accept_item;
    default: return _create_or_join_cancel_item;
    }
}

TEST_F(join_dialogs, a_game_that_wants_a_password_is_joined_after_the_question)
{
    net_game_data *game = enter_test_network_game();
    ASSERT_NE(game, nullptr);
    password_host host;
    joining_script script = {0, "127.0.0.1:" + std::to_string(host.listener.port)};
    EXPECT_TRUE(run_create_or_join(game, "client", 400, join_with_password, &script).joined_or_created);
    host.done = true;
    EXPECT_EQ(host.passwords[0], "");
    EXPECT_EQ(host.passwords[1], "secret");
    net_exit(game);
    EndUber();
}

// Create with an empty name (refused: the dialog stays), then with a name
// and a port.
struct creating_script
{
    int32_t step;
    std::string port;
    bool accept_enabled_without_name;
};

static int16_t create_after_a_refusal(dialog_data *dialog, void *context)
{
    creating_script *script = (creating_script *)context;
    switch (script->step++)
    {
    case 0: return _create_or_join_create_radio_item;
    case 1:
        set_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, " ");
        return _create_or_join_name_item;
    case 2:
        script->accept_enabled_without_name = bitmap_get_item_enabled(dialog, _create_or_join_accept_item);
        return _create_or_join_accept_item;
    case 3:
        set_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, "Ours");
        set_bitmap_dialog_edit_item_text(dialog, _create_or_join_port_item, script->port.c_str());
        return _create_or_join_port_item;
    case 4: return _create_or_join_accept_item;
    default: return _create_or_join_cancel_item;
    }
}

TEST_F(join_dialogs, a_created_game_needs_a_name_and_listens_as_the_local_network_expects)
{
    net_game_data *game = enter_test_network_game();
    ASSERT_NE(game, nullptr);
    uint16_t port = 0;
    creating_script script;
    create_or_join_result created = {};
    // A port found free may be taken by another test's process before the
    // dialog listens on it: then the creation is tried again on another.
    for (int32_t attempt = 0; attempt < 3 && !created.joined_or_created; ++attempt)
    {
        {
            raw_listener free_port; // a port nobody uses once it closes
            port = free_port.port;
        }
        script = {0, std::to_string(port), true};
        created = run_create_or_join(game, "host", 100, create_after_a_refusal, &script);
    }
    EXPECT_TRUE(created.joined_or_created);
    const char *name = created.name;
    EXPECT_FALSE(script.accept_enabled_without_name);
    EXPECT_EQ(script.step, 5) << "the refused press left the dialog open for the next one";
    EXPECT_STREQ(name, "Ours");
    ASSERT_TRUE(net_i_am_the_server(game));

    // Stream and datagram: the host's datagram port comes first on a new connection.
    raw_peer peer(port, kNMNormalMode);
    std::vector<uint8_t> bytes;
    for (int turn = 0; turn < 200 && bytes.size() < 2 && !peer.ended; ++turn)
    {
        net_process(game);
        int error = -1;
        const std::vector<uint8_t> got = peer.receive(5, &error);
        bytes.insert(bytes.end(), got.begin(), got.end());
    }
    EXPECT_GE(bytes.size(), 2u);
    net_exit(game);
    EndUber();
}

// Found games as the enumeration hands them in: each row shows the reply's
// name, cut between characters, its broken bytes marked, or a placeholder.
struct found_names_script
{
    bool drawn_by_a_row_drawer = false;
    std::vector<std::string> rows;
};

static int16_t add_found_games(dialog_data *dialog, void *context);

const struct
{
    const char *name, *shown;
} found_names[] = {
    {"Frost Fort", "Frost Fort"},
    {"", FOUND_GAME_PLACEHOLDER_NAME},
    {"   ", FOUND_GAME_PLACEHOLDER_NAME},
    {"tab\there\x7F", "tab?here?"},
    {"0123456789abcdefghijklmnopqrstuvwxyz", "0123456789abcdefghijklmnopqrstu"},
    // A two-byte letter that would end past the 31st byte is left out whole.
    {"0123456789abcdefghijklmnopqrst\xC3\xA9", "0123456789abcdefghijklmnopqrst"},
    {"bad \xFF\xC3 end", "bad ?? end"},
    {"overlong \xC0\xAF", "overlong ??"},
    {"cut \xE2\x82", "cut ??"},
};

static int16_t add_found_games(dialog_data *dialog, void *context)
{
    found_names_script *script = (found_names_script *)context;
    const private_list_data *list = get_list_control_private_list(dialog, _create_or_join_games_item);
    script->drawn_by_a_row_drawer = list && list->draw_proc;
    NMHostID id = 1;
    for (const auto &c : found_names)
    {
        const NMEnumerationItem item = {id++, c.name, 0, nullptr};
        game_callback(dialog, kNMEnumAdd, &item);
    }
    const NMEnumerationItem none = {id, nullptr, 0, nullptr};
    game_callback(dialog, kNMEnumAdd, &none);
    for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, _create_or_join_games_item); ++row)
    {
        char text[CREATE_OR_JOIN_NAME_SIZE + 1] = "";
        int16_t size = CREATE_OR_JOIN_NAME_SIZE;
        bitmap_get_listbox_row_data(dialog, _create_or_join_games_item, row, text, &size);
        script->rows.push_back(text);
    }
    return _create_or_join_cancel_item;
}

TEST_F(join_dialogs, found_games_show_their_names_cut_marked_or_as_a_placeholder)
{
    net_game_data *game = enter_test_network_game();
    ASSERT_NE(game, nullptr);
    found_names_script script;
    EXPECT_FALSE(run_create_or_join(game, "client", 20, add_found_games, &script).joined_or_created);
    EXPECT_TRUE(script.drawn_by_a_row_drawer);
    const size_t count = sizeof(found_names) / sizeof(found_names[0]);
    ASSERT_EQ(script.rows.size(), count + 1);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(script.rows[i], found_names[i].shown) << found_names[i].name;
    EXPECT_EQ(script.rows[count], FOUND_GAME_PLACEHOLDER_NAME) << "a reply without a name";
    net_exit(game);
    EndUber();
}

} // namespace

} // namespace vesk_join_dialogs_test_file
