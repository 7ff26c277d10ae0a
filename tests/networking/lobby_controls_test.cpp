// The lobby's controls and list events through real dialog items: the
// registration of the six control types, the status bar's clamping and
// single redraw, the banner's loop, the game list's order and countdown, the
// buddy list's query clock, and the list events' handling of good and bad
// entries.

#include "support/dialog_harness.h"
#include "support/lobby_client_fixture.h"
#include "support/lobby_list_packets.h"

#include <algorithm>
#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/status_bar_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "collection_builder.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_rooms.h"
#include "image_files.h"
#include "dialog_tag_writer.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "subsystems.h"
#include "tag_files/tag_files.h"

namespace lobby_controls_test_file {

namespace {

enum
{
    PLAYERS = 1,
    GAMES,
    BUDDIES,
    ORDER,
    STATUS,
    BANNER,
    SEARCH,
};

uint32_t test_clock = 0;
uint32_t read_test_clock(void) { return test_clock; }
int32_t buddy_queries = 0, order_queries = 0;
void count_buddy_query(void) { ++buddy_queries; }
void count_order_query(void) { ++order_queries; }

// A collection whose sequences have the given frame counts, one tick a frame.
std::vector<uint8_t> banner_collection(const std::vector<int32_t> &frames)
{
    builder_collection c;
    c.colors.color_count = 2;
    c.bitmaps.push_back(new_builder_bitmap("frame", 8, 8, _builder_flat_8bit, 1));
    c.instances.push_back(builder_instance(0, 0, 0, 0, 0));
    for (size_t i = 0; i < frames.size(); ++i)
    {
        builder_sequence s = new_builder_sequence("http://example.invalid/" + std::to_string(i));
        for (int32_t f = 0; f < frames[i]; ++f) s.frames.push_back({0});
        EXPECT_EQ(complete_builder_sequence(&s, &c), nullptr);
        c.sequences.push_back(s);
    }
    return build_collection_tag_data(c);
}

// A game entry of `size` bytes of game data (names "Game ID" and "Map").
std::vector<uint8_t> game_entry(int32_t id, int32_t size, uint16_t flags = 0, uint8_t verb = _add_game_verb)
{
    std::vector<uint8_t> data(568, 0);
    new_game_parameter_data parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.version = 2182;
    byte_swap_data("parameters", &parameters, sizeof(parameters), 1, new_game_parameter_data_byte_swapping_data);
    memcpy(data.data(), &parameters, sizeof(parameters));
    write_be16(data.data() + 564, flags);
    data[566] = 2;
    const std::string names = "Game " + std::to_string(id) + std::string(1, '\0') + "Map" + std::string(1, '\0');
    data.insert(data.end(), names.begin(), names.end());
    data.resize((size_t)size, 0);
    metaserver_game_aux_data aux;
    memset(&aux, 0, sizeof(aux));
    aux.game_id = id;
    aux.verb = verb;
    aux.seconds_remaining = -1;
    aux.game_data_size = (int16_t)size;
    std::vector<uint8_t> entry((const uint8_t *)&aux, (const uint8_t *)&aux + sizeof(aux));
    entry.insert(entry.end(), data.begin(), data.end());
    return entry;
}

net_game_description game(uint32_t id, uint16_t flags, uint16_t seconds = 0xFFFF)
{
    net_game_description g;
    memset(&g, 0, sizeof(g));
    g.game_id = id;
    g.flags = flags;
    g.game_seconds_remaining = seconds;
    snprintf(g.name, sizeof(g.name), "%u", (unsigned)id);
    return g;
}

class lobby_controls : public dialog_test
{
protected:
    dialog_data *dialog = nullptr;
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();

    void SetUp() override
    {
        dialog_test::SetUp();
        register_vesk_controls();
        register_metaserver_controls();
        test_clock = 100000;
        buddy_queries = order_queries = 0;
        set_machine_tick_count_for_tests(read_test_clock);
        set_lobby_list_queries_for_tests(count_buddy_query, count_order_query);
        const std::vector<uint8_t> banner = banner_collection({3});
        write_local_tag(COLLECTION_GROUP_TAG, "inmb", COLLECTION_VERSION_NUMBER, banner.data(), (int32_t)banner.size());
        dialog_description description;
        description.bounds = {0, 0, 600, 400};
        const struct
        {
            file_tag type;
            int16_t id;
        } items[] = {{PLAYER_LIST_CONTROL_TAG, PLAYERS}, {GAME_LIST_CONTROL_TAG, GAMES},
                     {BUDDY_LIST_CONTROL_TAG, BUDDIES}, {ORDER_LIST_CONTROL_TAG, ORDER},
                     {STATUS_BAR_CONTROL_TAG, STATUS}, {BANNER_CONTROL_TAG, BANNER},
                     {FOUR_CHARACTER_CODE('s', 'l', 's', 't'), SEARCH}};
        for (const auto &i : items)
        {
            dialog_item_description item;
            item.type = i.type;
            item.item_id = i.id;
            item.bounds = {(int16_t)(10 + 40 * i.id), 10, (int16_t)(40 + 40 * i.id), 300};
            description.items.push_back(item);
        }
        dialog = open_dialog("lbby", description);
        ASSERT_NE(dialog, nullptr);
        lists.dialog = dialog;
        lists.player_list_item = PLAYERS;
        lists.game_list_item = GAMES;
        lists.buddy_list_item = BUDDIES;
        lists.order_list_item = ORDER;
    }

    void TearDown() override
    {
        set_lobby_list_queries_for_tests(nullptr, nullptr);
        set_machine_tick_count_for_tests(nullptr);
        dialog_test::TearDown();
    }

    void add(net_game_description g) { add_game_to_list(dialog, GAMES, &g); }
    void change(net_game_description g) { change_game_in_list(dialog, GAMES, &g); }

    intptr_t idle(intptr_t (*procedure)(int16_t, dialog_data *, int16_t, void *), int16_t item)
    {
        return procedure(_control_idle_verb, dialog, item, nullptr);
    }

    std::vector<uint32_t> game_ids(void)
    {
        std::vector<uint32_t> ids;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, GAMES); ++row)
        {
            net_game_description g;
            int16_t size = (int16_t)sizeof(g);
            bitmap_get_listbox_row_data(dialog, GAMES, row, &g, &size);
            ids.push_back(g.game_id);
        }
        return ids;
    }

    std::vector<uint32_t> player_ids(int16_t item)
    {
        std::vector<uint32_t> ids;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, item); ++row)
            ids.push_back(get_player_list_item_id(dialog, item, row));
        return ids;
    }
};

TEST(lobby_controls_wiring, the_programs_registration_fills_the_six_lobby_control_types)
{
    clear_all_registrations();
    register_built_subsystems();
    const struct
    {
        file_tag code;
        control_def_proc procedure;
    } expected[] = {{BANNER_CONTROL_TAG, banner_control_handler},
                    {ROOM_GRAPHIC_CONTROL_TAG, room_graphic_control_handler},
                    {STATUS_BAR_CONTROL_TAG, status_bar_control_def_proc},
                    {GAME_LIST_CONTROL_TAG, game_list_control_handler},
                    {BUDDY_LIST_CONTROL_TAG, buddy_list_control_def_proc},
                    {ORDER_LIST_CONTROL_TAG, order_list_control_def_proc}};
    for (const auto &e : expected) EXPECT_EQ(find_control_handler(e.code), e.procedure) << e.code;
    EXPECT_EQ(get_lobby_procedures()->get_player_buddy_status, metaserver_player_buddy_status);
}

TEST_F(lobby_controls, the_status_bar_clamps_its_values_and_redraws_only_on_a_change)
{
    control_data *item = find_control(dialog, STATUS);
    ASSERT_NE(item, nullptr);
    const struct
    {
        int32_t value;
        int16_t stored;
        bool redrawn;
    } cases[] = {{300, 256, true}, {300, 256, false}, {-5, 0, true}, {-5, 0, false}, {100, 100, true}};
    for (const auto &c : cases)
    {
        item->flags &= (uint16_t)~_control_dirty_flag;
        set_status_bar_fraction(dialog, STATUS, c.value);
        EXPECT_EQ(get_status_bar_fraction(dialog, STATUS), c.stored) << c.value;
        EXPECT_EQ((item->flags & _control_dirty_flag) != 0, c.redrawn) << c.value;
        set_status_bar_average_point(dialog, STATUS, c.value);
        EXPECT_EQ(get_status_bar_average_point(dialog, STATUS), c.stored) << c.value;
    }
}

TEST_F(lobby_controls, the_banner_loops_over_its_frames_then_over_its_sequences)
{
    const std::vector<uint8_t> two = banner_collection({3, 2});
    write_local_tag(COLLECTION_GROUP_TAG, "bnr2", COLLECTION_VERSION_NUMBER, two.data(), (int32_t)two.size());
    const struct
    {
        const char *collection;
        std::vector<std::pair<int16_t, int16_t>> shown; // sequence, bitmap after each step
    } cases[] = {{"inmb", {{0, 1}, {0, 2}, {0, 0}, {0, 1}}}, {"bnr2", {{0, 1}, {0, 2}, {1, 0}, {1, 1}, {0, 0}}}};
    for (const auto &c : cases)
    {
        game_->local_time = 0;
        const int32_t collection = get_collection_index(dialog_test_code(c.collection));
        ASSERT_NE(collection, NONE);
        set_banner_shape(dialog, BANNER, (int16_t)collection, 0);
        char url[64];
        EXPECT_TRUE(get_banner_url(dialog, BANNER, url, sizeof(url)));
        EXPECT_STREQ(url, "http://example.invalid/0");
        EXPECT_FALSE(get_banner_url(dialog, BANNER, url, 8)) << "a cut address is never given";
        for (const auto &[sequence, bitmap] : c.shown)
        {
            EXPECT_EQ(idle(banner_control_handler, BANNER), 0) << "one tick is not enough";
            game_->local_time = game_->local_time + 1;
            EXPECT_EQ(idle(banner_control_handler, BANNER), 0);
            game_->local_time = game_->local_time + 1;
            EXPECT_EQ(idle(banner_control_handler, BANNER), 1);
            EXPECT_EQ(get_banner_data(dialog, BANNER)->sequence_index, sequence) << c.collection;
            EXPECT_EQ(get_banner_data(dialog, BANNER)->bitmap_index, bitmap) << c.collection;
        }
    }
    set_banner_animated(dialog, BANNER, false);
    game_->local_time = game_->local_time + 10;
    EXPECT_EQ(idle(banner_control_handler, BANNER), 0);
}

TEST_F(lobby_controls, games_sort_open_closed_in_progress_by_time_left_then_invalid)
{
    add(game(1, _net_game_invalid_flag));             // T
    add(game(5, _net_game_in_progress_flag, 120));   // R
    add(game(2, _net_game_is_closed_flag));          // Q
    add(game(7, _net_game_in_progress_flag, 60));    // S
    add(game(9, 0));                                 // P
    EXPECT_EQ(game_ids(), (std::vector<uint32_t>{9, 2, 7, 5, 1}));
    EXPECT_TRUE(bitmap_list_item_enabled(dialog, GAMES, 0));
    EXPECT_FALSE(bitmap_list_item_enabled(dialog, GAMES, 1));

    // P starts: it is disabled and moves among the games in progress.
    change(game(9, _net_game_in_progress_flag, 90));
    EXPECT_EQ(game_ids(), (std::vector<uint32_t>{2, 7, 9, 5, 1}));
    select_game_by_id(dialog, GAMES, 5);
    net_game_description selected;
    ASSERT_TRUE(get_game_list_selection(dialog, GAMES, &selected));
    EXPECT_EQ(selected.game_id, 5u);
    delete_game_by_id(dialog, GAMES, 5);
    EXPECT_FALSE(get_game_list_selection(dialog, GAMES, &selected));
    clear_game_list(dialog, GAMES);
    EXPECT_TRUE(game_ids().empty());
}

TEST_F(lobby_controls, the_countdown_of_a_game_in_progress_stops_at_zero)
{
    add(game(3, _net_game_in_progress_flag, 1));
    add(game(4, _net_game_in_progress_flag, 0xFFFF));
    const struct
    {
        uint32_t advance;
        uint16_t seconds;
    } steps[] = {{1001, 0}, {500, 0}, {1001, 0}};
    idle_game_time_remaining(dialog, GAMES); // starts the countdown's clock
    for (const auto &s : steps)
    {
        test_clock += s.advance;
        idle(game_list_control_handler, GAMES);
        net_game_description g;
        int16_t size = (int16_t)sizeof(g);
        bitmap_get_listbox_row_data(dialog, GAMES, 0, &g, &size);
        EXPECT_EQ(g.game_seconds_remaining, s.seconds);
        bitmap_get_listbox_row_data(dialog, GAMES, 1, &g, &size);
        EXPECT_EQ(g.game_seconds_remaining, 0xFFFF) << "an unknown time left stays unknown";
    }
}

TEST_F(lobby_controls, the_buddy_and_order_lists_ask_at_once_and_then_once_a_minute)
{
    const struct
    {
        uint32_t advance;
        int32_t queries;
    } steps[] = {{0, 1}, {1, 1}, {59999, 1}, {1, 2}, {60000, 2}, {1, 3}};
    for (const auto &s : steps)
    {
        test_clock += s.advance;
        idle(buddy_list_control_def_proc, BUDDIES);
        idle(order_list_control_def_proc, ORDER);
        EXPECT_EQ(buddy_queries, s.queries) << test_clock;
        EXPECT_EQ(order_queries, s.queries) << test_clock;
    }
}

// A player's lobby data with `name` as raw bytes (any length).
std::vector<uint8_t> raw_named_player_data(const std::string &name)
{
    std::vector<uint8_t> data = lobby_player_data("");
    data.resize(data.size() - 6); // the empty name and "Team"
    data.insert(data.end(), name.begin(), name.end());
    const std::string team("\0Team\0", 6);
    data.insert(data.end(), team.begin(), team.end());
    return data;
}

TEST_F(lobby_controls, list_events_skip_malformed_entries_and_stop_at_one_that_does_not_fit)
{
    std::vector<uint8_t> unterminated = lobby_player_data("Cut");
    unterminated.pop_back();
    std::vector<uint8_t> trailing = lobby_player_data("Long");
    trailing.push_back(0);
    const struct
    {
        const char *name;
        std::vector<std::vector<uint8_t>> entries;
        std::vector<uint32_t> shown;
        const char *first_name = nullptr; // as the first row shows it
    } cases[] = {
        {"an empty name", {player_entry(1, raw_named_player_data(""))}, {1}, "(no name)"},
        {"a name of 40 letters", {player_entry(1, raw_named_player_data(std::string(40, 'n')))}, {1},
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
        {"control bytes", {player_entry(1, raw_named_player_data("a\x01\x1b[2Jb\x7f"))}, {1}, "a??[2Jb?"},
        {"two good players", {player_entry(1, lobby_player_data("A")), player_entry(2, lobby_player_data("B"))}, {1, 2}},
        {"37 bytes of data", {player_entry(1, std::vector<uint8_t>(37, 0)), player_entry(2, lobby_player_data("B"))}, {2}},
        {"a name running to the end", {player_entry(1, unterminated), player_entry(2, lobby_player_data("B"))}, {2}},
        {"bytes after the team name", {player_entry(1, trailing), player_entry(2, lobby_player_data("B"))}, {2}},
        {"data past the packet", {player_entry(1, lobby_player_data("A")), player_entry(2, lobby_player_data("B"), 0, false, 90)},
         {1}},
        {"a deletion without data",
         {player_entry(1, lobby_player_data("A")), player_entry(2, lobby_player_data("B")), player_entry(1, {}, _delete_player_verb)},
         {2}},
    };
    for (const auto &c : cases)
    {
        clear_player_list(dialog, PLAYERS);
        const std::vector<uint8_t> packet = list_packet(_player_list_packet, c.entries);
        handle_metaserver_player_list(&lists, nullptr, packet.data(), (int32_t)packet.size());
        EXPECT_EQ(player_ids(PLAYERS), c.shown) << c.name;
        new_player_data first;
        if (c.first_name && get_player_from_list_by_id(dialog, PLAYERS, c.shown[0], &first))
        {
            EXPECT_STREQ(first.appearance.name, c.first_name) << c.name;
        }
    }

    const struct
    {
        const char *name;
        std::vector<std::vector<uint8_t>> entries;
        std::vector<uint32_t> shown;
    } games[] = {
        {"567 and 568 bytes of game data", {game_entry(4, 567), game_entry(5, 568)}, {5}},
        {"with names", {game_entry(6, 600)}, {6}},
        {"a deletion without data", {game_entry(3, 600), game_entry(9, 600), game_entry(3, 0, 0, _delete_game_verb)},
         {9}},
        {"data past the packet", {game_entry(7, 600), game_entry(8, 600)}, {7}},
    };
    for (const auto &c : games)
    {
        clear_game_list(dialog, GAMES);
        std::vector<uint8_t> packet = list_packet(_game_list_packet, c.entries);
        if (std::string(c.name) == "data past the packet") packet.resize(packet.size() - 1);
        handle_metaserver_game_list(&lists, packet.data(), (int32_t)packet.size());
        EXPECT_EQ(game_ids(), c.shown) << c.name;
    }
    net_game_description shown;
    select_game_by_id(dialog, GAMES, 7);
    ASSERT_TRUE(get_game_list_selection(dialog, GAMES, &shown));
    EXPECT_STREQ(shown.name, "Game 7");
    EXPECT_STREQ(shown.map_name, "Map");
    EXPECT_EQ(shown.game_seconds_remaining, 0xFFFF);
}

TEST_F(lobby_controls, buddies_show_by_their_state_and_a_short_info_packet_is_ignored)
{
    buddy_entry buddies[MAXIMUM_BUDDIES];
    memset(buddies, 0xFF, sizeof(buddies));
    const uint8_t states[] = {_buddy_active, _buddy_inactive, _buddy_unacknowledged};
    for (uint32_t i = 0; i < 3; ++i) buddies[i] = {11 + i, states[i], {0, 0, 0}};
    handle_metaserver_buddy_update(buddies);
    EXPECT_EQ(metaserver_player_buddy_status(11), (char)_buddy_active);
    EXPECT_EQ(metaserver_player_buddy_status(99), 0);
    std::vector<std::vector<uint8_t>> entries;
    for (uint32_t id : {11u, 12u, 13u, 14u})
        entries.push_back(player_entry(id, lobby_player_data(("P" + std::to_string(id)).c_str()), 0, true));
    const std::vector<uint8_t> packet = list_packet(_buddy_list_packet, entries);
    handle_metaserver_buddy_or_order_list(dialog, BUDDIES, false, packet.data(), (int32_t)packet.size());
    // The active buddy first; the inactive one left out; the others shown inactive.
    std::vector<uint32_t> ids = player_ids(BUDDIES);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[0], 11u);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<uint32_t>{11, 13, 14}));
    EXPECT_TRUE(bitmap_list_item_enabled(dialog, BUDDIES, 0));
    EXPECT_FALSE(bitmap_list_item_enabled(dialog, BUDDIES, 1));
    EXPECT_FALSE(bitmap_list_item_enabled(dialog, BUDDIES, 2));

    const std::vector<uint8_t> fewer = list_packet(_buddy_list_packet, {entries[2]});
    handle_metaserver_buddy_or_order_list(dialog, BUDDIES, false, fewer.data(), (int32_t)fewer.size());
    EXPECT_EQ(player_ids(BUDDIES), (std::vector<uint32_t>{13}));

    order_member members[60];
    memset(members, 0, sizeof(members));
    set_player_order_list(60, members);
    int16_t count = 0;
    get_order_member_list(&count);
    EXPECT_EQ(count, MAXIMUM_ORDER_MEMBERS);

    static metaserver_player_stats stats;
    std::vector<uint8_t> info(METASERVER_PACKET_HEADER_SIZE + sizeof(player_info_packet) - 1, 0);
    EXPECT_FALSE(handle_metaserver_player_info(&stats, info.data(), (int32_t)info.size()));
    info.push_back(0);
    EXPECT_TRUE(handle_metaserver_player_info(&stats, info.data(), (int32_t)info.size()));
}

TEST_F(lobby_controls, the_pumps_list_events_reach_the_open_lobby_dialogs_lists)
{
    metaserver_context_data context;
    memset(&context, 0, sizeof(context));
    new_player_data local;
    memset(&local, 0, sizeof(local));
    context.player = &local;
    context.local_player_id = 2;
    static metaserver_player_stats stats;
    int16_t info_state = _player_info_requested;
    lists.player_stats = &stats;
    lists.player_info_state = &info_state;
    set_metaserver_lobby_lists(&lists);

    std::vector<uint8_t> packet = list_packet(_player_list_packet, {player_entry(2, lobby_player_data("Me"))});
    metaserver_handler_proc(_player_list_message, packet.data(), (int32_t)packet.size(), &context);
    EXPECT_EQ(player_ids(PLAYERS), (std::vector<uint32_t>{2}));

    // The local player's own data: 38 bytes and two texts, or nothing changes.
    const struct
    {
        std::vector<uint8_t> data;
        bool taken;
    } own[] = {{std::vector<uint8_t>(37, 0), false}, {lobby_player_data("Renamed"), true}};
    for (const auto &c : own)
    {
        std::vector<uint8_t> body = player_entry(7, c.data);
        packet = list_packet(_set_player_data_from_metaserver_packet, {body});
        EXPECT_EQ(handle_metaserver_set_player_data(&context, packet.data(), (int32_t)packet.size()), c.taken);
        EXPECT_STREQ(local.appearance.name, c.taken ? "Renamed" : "");
        EXPECT_EQ(context.local_player_id, c.taken ? 7u : 2u);
    }

    std::vector<uint8_t> info(METASERVER_PACKET_HEADER_SIZE + sizeof(player_info_packet), 0);
    const std::string texts = std::string("login") + '\0' + "Name" + '\0';
    info.insert(info.end(), texts.begin(), texts.end());
    metaserver_handler_proc(_player_info_message, info.data(), (int32_t)info.size(), &context);
    EXPECT_EQ(info_state, _player_info_received);
    EXPECT_STREQ(stats.login, "login");
    EXPECT_STREQ(stats.name, "Name");

    set_metaserver_lobby_lists(nullptr);
    packet = list_packet(_player_list_packet, {player_entry(3, lobby_player_data("Other"))});
    metaserver_handler_proc(_player_list_message, packet.data(), (int32_t)packet.size(), &context);
    EXPECT_EQ(player_ids(PLAYERS), (std::vector<uint32_t>{2})) << "a closed lobby dialog gets nothing";
    // A room sends its lists as it is entered, perhaps before the dialog is
    // there: they come to it when it is (a new login's room sends its own).
    set_metaserver_lobby_lists(&lists);
    EXPECT_EQ(player_ids(PLAYERS), (std::vector<uint32_t>{2, 3}));
    set_metaserver_lobby_lists(nullptr);
    packet = list_packet(_player_list_packet, {player_entry(4, lobby_player_data("Gone"))});
    metaserver_handler_proc(_player_list_message, packet.data(), (int32_t)packet.size(), &context);
    forget_pending_metaserver_list_events();
    set_metaserver_lobby_lists(&lists);
    EXPECT_EQ(player_ids(PLAYERS), (std::vector<uint32_t>{2, 3}));
    set_metaserver_lobby_lists(nullptr);
}

// A room that sends a player list and a game list in wire order: the pump
// swaps them and the lobby dialog's lists show them.
// The lobby client's fixture with the collections the game list reads.
class lobby_lists_on_the_wire : public lobby_client_test::lobby_client
{
protected:
    void SetUp() override
    {
        lobby_client::SetUp();
        ASSERT_TRUE(initialize_shapes());
        initialize_shapes_for_new_map();
    }
    void TearDown() override
    {
        close_all_dialogs();
        dispose_shapes_from_old_map();
        lobby_client::TearDown();
    }
};

TEST_F(lobby_lists_on_the_wire, a_rooms_lists_reach_the_lobby_dialogs_lists)
{
    register_vesk_controls();
    register_metaserver_controls();
    dialog_description description;
    description.bounds = {0, 0, 300, 300};
    constexpr int16_t ROOM = 3;
    for (const auto &[type, id] : {std::pair<file_tag, int16_t>{PLAYER_LIST_CONTROL_TAG, PLAYERS},
                                   std::pair<file_tag, int16_t>{GAME_LIST_CONTROL_TAG, GAMES},
                                   std::pair<file_tag, int16_t>{ROOM_GRAPHIC_CONTROL_TAG, ROOM}})
    {
        dialog_item_description item;
        item.type = type;
        item.item_id = id;
        item.bounds = {(int16_t)(10 + 140 * (id - 1)), 10, (int16_t)(140 + 140 * (id - 1)), 290};
        description.items.push_back(item);
    }
    const std::vector<uint8_t> tag = build_dialog_tag_data(description);
    dialog_data *dialog = new_dialog_from_tag_data(dialog_test_code("wire"), tag.data(), (int32_t)tag.size(), NONE,
                                                   nullptr, nullptr, NONE, _dialog_has_no_background_flag);
    ASSERT_NE(dialog, nullptr);
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();
    lists.dialog = dialog;
    lists.player_list_item = PLAYERS;
    lists.game_list_item = GAMES;
    lists.room_item = ROOM;
    set_metaserver_lobby_lists(&lists);

    std::vector<uint8_t> players, games;
    const std::vector<uint8_t> look = lobby_player_data("Wire");
    for (int32_t value : {(int32_t)_add_player_verb, 0}) put_be16(players, value);
    for (int64_t value : {0, 5, 2}) put_be32(players, value); // ranking, player, room
    for (int32_t value : {1, (int32_t)look.size(), 0, 0}) put_be16(players, value); // caste, length, order
    players.insert(players.end(), look.begin(), look.end());
    std::vector<uint8_t> data = game_entry(31, 600);
    data.erase(data.begin(), data.begin() + sizeof(metaserver_game_aux_data));
    for (int64_t value : {31, 0x7F000001}) put_be32(games, value);
    put_be16(games, 3453);
    games.insert(games.end(), {(uint8_t)_add_game_verb, 1});
    for (int64_t value : {90, 77}) put_be32(games, value); // seconds left, creator
    put_be16(games, (int32_t)data.size());
    games.resize(games.size() + 10);
    games.insert(games.end(), data.begin(), data.end());

    lobby_script_peer room({});
    room.script = lobby_room_welcome();
    room.script.insert(room.script.end() - 1, {lobby_send(_player_list_packet, players),
                                               lobby_send(_game_list_packet, games)});
    lobby_script_peer host(lobby_client_test::login_host(2, room.room_entry(0)));
    room.start();
    host.start();
    ASSERT_EQ(login(host), _metaserver_game_entered_successfully);
    EXPECT_TRUE(pump_until([&] { return bitmap_get_listbox_row_count(dialog, GAMES) == 1; }));
    new_player_data shown;
    ASSERT_TRUE(get_player_from_list_by_id(dialog, PLAYERS, 5, &shown));
    EXPECT_STREQ(shown.appearance.name, "Wire");
    select_game_by_id(dialog, GAMES, 31);
    net_game_description game;
    ASSERT_TRUE(get_game_list_selection(dialog, GAMES, &game));
    EXPECT_STREQ(game.name, "Game 31");
    EXPECT_EQ(game.port, 3453);
    EXPECT_EQ(game.host_or_selector.address.host, 0x7F000001u);
    EXPECT_EQ(game.game_seconds_remaining, 90);
    EXPECT_EQ(game.parameters.version, 2182);
    // The room's counts are its lists', not those of the table sent at the login.
    room_data counts;
    ASSERT_TRUE(get_metaserver_room_data(get_metaserver_context()->desired_room, &counts));
    EXPECT_EQ(counts.player_count, 1);
    EXPECT_EQ(counts.game_count, 1);
    set_metaserver_lobby_lists(nullptr);
    logout_of_metaserver();
    EXPECT_EQ(host.finish(), "");
    EXPECT_EQ(room.finish(), "");
}

// The lobby's controls drawn with the demo's art: every item draws inside its
// bounds, and the status bar fills exactly its fraction.
class lobby_controls_picture : public demo_controls_test
{
protected:
    const rectangle2d dialog_bounds = {20, 20, 460, 620};
    const rectangle2d room_bounds = {10, 10, 46, 74}, games_bounds = {10, 90, 250, 590};
    const rectangle2d banner_bounds = {260, 10, 320, 244}, bar_bounds = {330, 10, 340, 266};
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        demo_controls_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        register_metaserver_controls();
        initialize_metaserver_room_list();
        set_maximum_players_per_metaserver_room(20);
        add_or_change_metaserver_room(0, 4, 1, 0, 6321, _unranked_room, 0);
        add_or_change_metaserver_room(1, 20, 3, 0, 6321, _ranked_room, 0);
        add_or_change_metaserver_room(2, 7, 2, 0, 6321, _tournament_room, 3);
        dialog_description d;
        d.bounds = dialog_bounds;
        const struct
        {
            file_tag type;
            int16_t id;
            rectangle2d bounds;
        } items[] = {{ROOM_GRAPHIC_CONTROL_TAG, 1, room_bounds},
                     {GAME_LIST_CONTROL_TAG, 2, games_bounds},
                     {BANNER_CONTROL_TAG, 3, banner_bounds},
                     {STATUS_BAR_CONTROL_TAG, 4, bar_bounds}};
        for (const auto &i : items)
        {
            dialog_item_description item;
            item.type = i.type;
            item.item_id = i.id;
            item.bounds = i.bounds;
            d.items.push_back(item);
        }
        const std::vector<uint8_t> bytes = build_dialog_tag_data(d);
        write_local_tag(DIALOG_GROUP_TAG, "lbyp", CURRENT_DIALOG_VERSION, bytes.data(), (int32_t)bytes.size());
        dialog = new_dialog(dialog_test_code("lbyp"), nullptr, nullptr, NONE, _dialog_has_no_background_flag);
        ASSERT_NE(dialog, nullptr);
    }

    void TearDown() override
    {
        dispose_metaserver_room_list();
        demo_controls_test::TearDown();
    }

    int32_t changed(const rectangle2d &area)
    {
        const rectangle2d on_screen = {(int16_t)(area.top + dialog_bounds.top), (int16_t)(area.left + dialog_bounds.left),
                                       (int16_t)(area.bottom + dialog_bounds.top),
                                       (int16_t)(area.right + dialog_bounds.left)};
        return screen.count_changed(&on_screen);
    }
};

TEST_F(lobby_controls_picture, the_lobby_controls_draw_with_the_demo_art)
{
    set_room_graphic_bitmap(dialog, 1, 2);
    net_game_description open = game(9, 0), running = game(5, _net_game_in_progress_flag, 120);
    open.parameters.version = running.parameters.version = 2182;
    open.player_count = 2;
    open.parameters.maximum_players = 8;
    open.parameters.time_limit = 9000;
    snprintf(open.map_name, sizeof(open.map_name), "Demo Valley");
    running.parameters.type = 1;
    add_game_to_list(dialog, 2, &open);
    add_game_to_list(dialog, 2, &running);
    select_game_by_id(dialog, 2, 9);
    set_status_bar_fraction(dialog, 4, 128);
    set_status_bar_average_point(dialog, 4, 200);
    screen.fill();
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "lobby_controls", "png", 0));
    if (const char *keep = getenv("VESK_LOBBY_CONTROLS_FRAME"))
        std::filesystem::copy_file("pictures/lobby_controls.png", keep, std::filesystem::copy_options::overwrite_existing);
    for (const rectangle2d &area : {room_bounds, games_bounds, banner_bounds, bar_bounds})
        EXPECT_GT(changed(area), 0) << area.top << " " << area.left;
    // Filled over its first half; past that only the marker at 200 of 256.
    const int16_t half = (int16_t)(bar_bounds.left + 128), marker = (int16_t)(bar_bounds.left + 200);
    const int16_t top = bar_bounds.top, bottom = bar_bounds.bottom;
    EXPECT_EQ(changed({top, bar_bounds.left, bottom, half}), 128 * (bottom - top));
    EXPECT_EQ(changed({top, half, bottom, marker}), 0);
    EXPECT_EQ(changed({top, marker, bottom, (int16_t)(marker + 2)}), 2 * (bottom - top));
    EXPECT_EQ(changed({top, (int16_t)(marker + 2), bottom, bar_bounds.right}), 0);
    // A game played since emptied the store of the rows' art: the icons come back.
    const int32_t games_drawn = changed(games_bounds);
    delete_collection_tag(GAME_LIST_COLLECTION_TAG);
    screen.fill();
    set_dialog_item_dirty(dialog, 2);
    render_dialogs(screen.bitmap);
    EXPECT_EQ(changed(games_bounds), games_drawn);
}

} // namespace

} // namespace lobby_controls_test_file
