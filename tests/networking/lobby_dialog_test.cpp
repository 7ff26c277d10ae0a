// The lobby dialog over the demo's dialogs and strings: the chat commands
// that match only exactly, chat from senders the room does not list or the
// player gagged, the join's move to the game's room and its wait for the
// player data on a test clock, and the states that end the item loop (a
// room that dies, the service sending the player elsewhere).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "register_vesk_controls.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"

namespace
{

enum : uint32_t
{
    LOCAL_ID = 10,
    LISTED_ID = 11,
    GAGGED_ID = 12,
    UNKNOWN_ID = 13,
};

class lobby_dialog : public demo_interface_test
{
protected:
    std::vector<test_tag> local_tags;
    new_player_data player = {};
    net_game_description description = {};

    void SetUp() override
    {
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        ASSERT_TRUE(make_string_list_tags(tool, &local_tags));
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        register_vesk_controls();
        register_metaserver_controls();
        initialize_metaserver_room_list();
        metaserver_context_data *context = get_metaserver_context();
        context->state = _metaserver_connected;
        context->desired_room = 3;
        context->local_player_id = LOCAL_ID;
        context->player = &player;
        context->game_description = &description;
        strcpy(player.appearance.name, "anna");
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
            dispose_metaserver_client_dialog();
            dispose_metaserver_room_list();
        }
        *get_metaserver_context() = {};
        demo_interface_test::TearDown();
    }
    void store_interface_tags(void) override
    {
        for (const test_tag &t : local_tags)
            write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
    }
    static int16_t chat_rows(void) { return bitmap_get_listbox_row_count(get_metaserver_client_dialog(), iCHAT_LIST); }
};

TEST_F(lobby_dialog, only_the_exact_commands_run_and_everything_else_is_chat)
{
    const struct
    {
        const char *text;
        bool command;
    } cases[] = {{".clear", true},    {".userid", true},  {".version", true}, {".CLEAR", false},
                 {".clear all", false}, {" .clear", false}, {".clearx", false}, {"clear", false}};
    for (const auto &c : cases) EXPECT_EQ(metaserver_chat_command(c.text), c.command) << c.text;

    dialog_data *dialog = get_metaserver_client_dialog();
    add_chat_text_full(dialog, iCHAT_LIST, _normal_chat_message_type, "p11", nullptr, "hello", false);
    ASSERT_GT(chat_rows(), 0);
    EXPECT_TRUE(send_metaserver_chat_text(dialog, ".version"));
    EXPECT_TRUE(send_metaserver_chat_text(dialog, ".clear"));
    EXPECT_EQ(chat_rows(), 0) << "the exact command empties the chat";
    EXPECT_FALSE(send_metaserver_chat_text(dialog, " \t ")) << "blanks are not sent";
}

TEST_F(lobby_dialog, chat_is_shown_only_from_listed_senders_who_are_not_gagged)
{
    const struct
    {
        uint32_t sender;
        int32_t event;
        bool shown;
    } cases[] = {{LISTED_ID, _broadcast_message, true},
                 {LISTED_ID, _directed_message, true},
                 {GAGGED_ID, _broadcast_message, false},
                 {UNKNOWN_ID, _broadcast_message, false},
                 {UNKNOWN_ID, _directed_message, false}};
    for (const auto &c : cases)
    {
        reset_chat_text(get_metaserver_client_dialog(), iCHAT_LIST);
        uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
        const int32_t length =
            build_vesk_metaserver_chat_packet(payload, nullptr, 0, c.sender, 0xFFFFFFFFu, "someone", "hi there");
        ASSERT_TRUE(byteswap_metaserver_packet(payload, length, true));
        EXPECT_TRUE(handle_metaserver_event_in_client_dialog(c.event, payload, length));
        EXPECT_EQ(chat_rows() > 0, c.shown) << c.sender << " " << c.event;
    }
    // A payload whose strings run past the event's length is refused.
    uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
    const int32_t length = build_vesk_metaserver_chat_packet(payload, nullptr, 0, LISTED_ID, 0xFFFFFFFFu, "x", "hi");
    ASSERT_TRUE(byteswap_metaserver_packet(payload, length, true));
    reset_chat_text(get_metaserver_client_dialog(), iCHAT_LIST);
    handle_metaserver_event_in_client_dialog(_broadcast_message, payload, length - 2);
    EXPECT_EQ(chat_rows(), 0);
}

TEST_F(lobby_dialog, a_dying_room_or_a_redirection_ends_the_item_loop)
{
    const struct
    {
        int16_t state;
        int16_t choice;
        int16_t state_after;
    } cases[] = {{_metaserver_room_died, _lobby_left, _metaserver_connected},
                 {_metaserver_sent_player_to_a_url, _lobby_back_to_login, _metaserver_sent_player_to_a_url}};
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        add_script_step(on_dialog([&](dialog_data *) { get_metaserver_context()->state = c.state; }));
        press(iGAME_LIST_TAB);
        // The room's message is shown with its button; pressing it ends the loop.
        press(2);
        EXPECT_EQ(run_metaserver_client_dialog_items(), c.choice) << c.state;
        EXPECT_EQ(get_metaserver_context()->state, c.state_after);
        get_metaserver_context()->state = _metaserver_connected;
    }
}

} // namespace
