// Teams and the configuration relay on a host with real peers: joins and
// leaves in order (locked teams, members of other teams, a team of two and a
// captain leaving), the host relaying only its own player's items so no
// client can start, boot or close; the teams button's decision; the version
// window of a described game.

#include "support/net_session_fixture.h"

#include "cseries/cstrings.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_dialogs.h"
#include "tag_files/tag_files.h"

#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_teams.h"

namespace vesk_teams_test_file {

namespace {

class teams_host : public net_setup_host_fixture
{
protected:
    int32_t a = 0, b = 0, c = 0;
    size_t peer_a = 0, peer_b = 0;

    void SetUp(void) override
    {
        net_setup_host_fixture::SetUp();
        ASSERT_TRUE(change_net_host_game_option_flags(_game_option_allow_multiplayer_teams_flag, 0));
        peer_a = join_peer(test_net_player("A"));
        peer_b = join_peer(test_net_player("B"));
        join_peer(test_net_player("C"));
        a = id_of_peer(0);
        b = id_of_peer(1);
        c = id_of_peer(2);
    }

    static int32_t captain_of(int32_t id)
    {
        const int16_t index = find_net_player_index(id);
        return index < 0 ? -2 : get_net_player(index)->team_captain_identifier;
    }

    static void lock(int32_t id, bool locked)
    {
        new_player_data player = *get_net_player(find_net_player_index(id));
        player.team_is_locked = locked;
        update_player_data(&player);
    }

    // A configuration packet from peer `peer`, body in wire order.
    void send_configuration(size_t peer, bool request, int16_t item, int32_t param0)
    {
        send_game_packet(peer, _configuration_packet, 0,
                         {0, (uint8_t)request, (uint8_t)(item >> 8), (uint8_t)item, (uint8_t)(param0 >> 24),
                          (uint8_t)(param0 >> 16), (uint8_t)(param0 >> 8), (uint8_t)param0});
        pump_a_while();
    }
};

} // namespace

TEST_F(teams_host, requests_form_join_and_disband_teams)
{
    struct step
    {
        const char *what;
        int32_t requester, captain; // -1 leave; 99 nobody listed
        bool lock_b;
        int32_t after_a, after_b, after_c; // -1 none; 'b' etc. as ids below
    };
    const int32_t A = 1001, B = 1002, N = -1; // stand for the ids, resolved below
    const step steps[] = {
        {"joining an unteamed player makes it a captain", A, B, false, B, B, N},
        {"a locked team is not joined", 0, B, true, B, B, N},
        {"a member of another's team is not joined", 0, A, true, B, B, N},
        {"the unlocked team takes a third", 0, B, false, B, B, B},
        {"a member leaving a team of three keeps it", A, N, false, N, B, B},
        {"a member leaving a team of two disbands it", 0, N, false, N, N, N},
        {"the team forms again", 0, B, false, N, B, B},
        {"a captain leaving disbands it", B, N, false, N, N, N},
        {"a requester nobody lists changes nothing", 99, B, false, N, N, N},
    };
    auto id = [&](int32_t stand_in) { return stand_in == A ? a : stand_in == B ? b : stand_in == 0 ? c : stand_in; };
    for (const step &s : steps)
    {
        SCOPED_TRACE(s.what);
        lock(b, s.lock_b);
        handle_join_team_request(id(s.requester), id(s.captain));
        EXPECT_EQ(captain_of(a), id(s.after_a));
        EXPECT_EQ(captain_of(b), id(s.after_b));
        EXPECT_EQ(captain_of(c), id(s.after_c));
    }
    EXPECT_FALSE(get_net_player(find_net_player_index(b))->team_is_locked); // disbanding unlocks
}

// Only the host's own player has items relayed; a client's team request is
// taken from its sender; broadcasts count only from the host's player.
TEST_F(teams_host, only_the_host_has_items_relayed)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    struct attempt
    {
        const char *what;
        bool request;
        int16_t item;
    };
    const attempt attempts[] = {{"start", true, 5}, {"boot", true, 12}, {"settings", true, 3},
                                {"close", true, 13}, {"the game starts", true, 100},
                                {"a broadcast of its own", false, 100}};
    for (const attempt &at : attempts)
    {
        send_configuration(peer_a, at.request, at.item, 0);
        EXPECT_EQ(globals->item_hit_via_network, NET_NO_DIALOG_ITEM) << at.what;
        EXPECT_TRUE(take_game_packets(peer_b, _configuration_packet).empty()) << at.what;
    }

    send_configuration(peer_a, true, TEAM_REQUEST_ITEM, b);
    EXPECT_EQ(captain_of(a), b);
    EXPECT_EQ(captain_of(b), b);

    ASSERT_TRUE(send_configuration_packet(true, _netgame_setup_start_item, 0));
    std::vector<std::vector<uint8_t>> relayed;
    ASSERT_TRUE(pump_until([&] {
        relayed = take_game_packets(peer_b, _configuration_packet);
        return !relayed.empty();
    }));
    EXPECT_EQ(relayed[0][5], 0); // from the host's player
    EXPECT_EQ(packet_int16(relayed[0], 8), 0); // a broadcast
    EXPECT_EQ(packet_int16(relayed[0], 10), _netgame_setup_start_item);
    EXPECT_TRUE(pump_until([&] { return globals->item_hit_via_network == _netgame_setup_start_item; }));

    // Without teams in the game, a join is ignored; outside the set-up, all is.
    ASSERT_TRUE(change_net_host_game_option_flags(0, _game_option_allow_multiplayer_teams_flag));
    send_configuration(peer_b, true, TEAM_REQUEST_ITEM, a);
    EXPECT_EQ(captain_of(b), b);
    set_net_state(_net_idle);
    send_configuration(peer_a, true, TEAM_REQUEST_ITEM, NONE);
    EXPECT_EQ(captain_of(a), b);
}

TEST(teams_button, is_offered_only_where_a_request_can_succeed)
{
    auto player = [](int32_t id, int32_t captain, bool locked = false, uint16_t flags = 0) {
        new_player_data p = test_net_player("p");
        p.unique_identifier = id;
        p.team_captain_identifier = captain;
        p.team_is_locked = locked;
        p.flags |= flags;
        return p;
    };
    struct row
    {
        const char *what;
        std::vector<new_player_data> players; // the first is the local player
        int32_t selected;
        bool teams_allowed, enabled;
        int16_t caption;
    };
    const row rows[] = {
        {"join an unteamed player", {player(1, -1), player(2, -1)}, 2, true, true, 0},
        {"join a captain", {player(1, -1), player(2, 2)}, 2, true, true, 0},
        {"nothing selected", {player(1, -1), player(2, -1)}, -1, true, false, 0},
        {"a locked team", {player(1, -1), player(2, 2, true)}, 2, true, false, 0},
        {"a member of another's team", {player(1, -1), player(2, 3), player(3, 3)}, 2, true, false, 0},
        {"a captain may disband", {player(1, 1), player(2, 1)}, -1, true, true, 1},
        {"a member may leave", {player(1, 2), player(2, 2)}, -1, true, true, 2},
        {"an observer never", {player(1, -1, false, _player_is_observer_flag), player(2, -1)}, 2, true, false, 0},
        {"a game without teams", {player(1, -1), player(2, -1)}, 2, false, false, 0},
    };
    for (const row &r : rows)
    {
        const teams_button_state state =
            get_teams_button_state(r.players.data(), (int16_t)r.players.size(), 1, r.selected, r.teams_allowed);
        EXPECT_EQ(state.enabled, r.enabled) << r.what;
        EXPECT_EQ(state.caption_string, r.caption) << r.what;
    }
}

TEST(net_game_validity, the_version_window)
{
    struct row
    {
        int32_t version;
        int16_t build;
        bool valid;
        const char *reason_part;
    };
    const row rows[] = {
        {2150, 443, false, "Game versions don't match"}, {2151, 443, true, ""},
        {2183, 443, true, ""},                            {2200, 443, false, "Game versions don't match"},
        {2199, 443, false, "Game versions don't match"}, // in the window, but no rules this program knows
        {2180, 0, false, "obsolete build"},               {2180, 443, true, ""},
    };
    for (const row &r : rows)
    {
        net_game_description description;
        memset(&description, 0, sizeof(description));
        description.parameters.version = r.version;
        description.parameters.buildnum = r.build;
        char reason[256];
        EXPECT_EQ(is_net_game_valid(&description, false, reason, sizeof(reason)), r.valid) << r.version;
        EXPECT_NE(strstr(reason, r.reason_part), nullptr) << r.version << ": " << reason;
    }
}

// A game names the data its host plays on (its tag files and patches): in
// every kind of game only the same data can be played, and the reason says
// which differ; 0 is an older host's (not known), except for a game the lobby
// lists, which always names its tag files.
TEST(net_game_validity, the_data_checksums)
{
    if (!lobby_procedures_registered()) register_metaserver_hooks();
    enum checksum { same, other, zero };
    const struct
    {
        bool connected, check;
        checksum files, patches;
        bool valid;
        const char *reason_part;
    } rows[] = {
        {true, true, same, zero, true, ""},
        {true, true, other, zero, false, "(its tag files differ from yours)"},
        {true, true, zero, zero, false, ""}, // listed without its tag files: not this data
        {true, false, other, zero, false, "(its tag files differ from yours)"},
        {false, true, other, same, false, "(its tag files differ from yours)"},
        {false, false, same, other, false, "(its patches differ from yours)"},
        {false, false, other, other, false, "(its tag files and patches differ from yours)"},
        {false, false, same, same, true, ""},
        {false, false, zero, zero, true, ""},
    };
    const auto value = [](checksum c, uint32_t local) { return c == same ? local : c == other ? local ^ 1u : 0u; };
    for (const auto &r : rows)
    {
        net_game_description description;
        memset(&description, 0, sizeof(description));
        description.parameters.version = 2182;
        description.parameters.buildnum = 443;
        description.public_tags_checksum = value(r.files, tag_files_get_foundation_checksum());
        description.private_tags_checksum = value(r.patches, tag_files_get_patch_checksum());
        get_metaserver_context()->state = r.connected ? _metaserver_connected : _metaserver_uninitialized;
        char reason[256];
        EXPECT_EQ(is_net_game_valid(&description, r.check, reason, sizeof(reason)), r.valid)
            << r.connected << r.check << r.files << r.patches;
        EXPECT_NE(strstr(reason, r.reason_part), nullptr) << reason;
    }
    get_metaserver_context()->state = _metaserver_uninitialized;
}

namespace {

class description_client : public net_session_client_fixture
{
};

} // namespace

// A client takes a description only from the host's player, only while the
// game is set up, and keeps its own password.
TEST_F(description_client, comes_only_from_the_host)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    net_game_description own = globals->current_game_description;
    strlcpy(own.password, "mine", NET_GAME_PASSWORD_SIZE);
    set_net_current_game_description(&own);
    net_game_description sent;
    memset(&sent, 0, sizeof(sent));
    strlcpy(sent.name, "Sent", sizeof(sent.name));
    strlcpy(sent.password, "theirs", sizeof(sent.password));
    std::vector<uint8_t> packet(4096);
    packet.resize(build_vesk_game_description_packet(packet.data(), (int32_t)packet.size(), 255, &sent));
    struct row
    {
        const char *what;
        int16_t state;
        uint8_t from;
        bool taken;
    };
    const row rows[] = {{"from another player", _net_configuring_game, 5, false},
                        {"outside the set-up", _net_idle, 0, false},
                        {"from the host", _net_configuring_game, 0, true}};
    for (const row &r : rows)
    {
        set_net_state(r.state);
        set_net_current_game_description_changed(false);
        ((net_message_header *)packet.data())->from = r.from;
        handle_vesk_game_description_packet(packet.data());
        EXPECT_EQ(globals->current_game_description_changed, r.taken) << r.what;
        EXPECT_STREQ(globals->current_game_description.name, r.taken ? "Sent" : "") << r.what;
    }
    EXPECT_STREQ(globals->current_game_description.password, "mine");
}

namespace {

class departures : public net_setup_host_fixture
{
protected:
    // A ready peer (persistently when asked): its index.
    size_t ready_peer(bool persistent)
    {
        new_player_data player = test_net_player("Member");
        player.agreed_to_play = true;
        player.persistent_ready = persistent;
        return join_peer(player);
    }

    static const new_player_data &record_of(int32_t id) { return *get_net_player(find_net_player_index(id)); }
    static void lock(int32_t id)
    {
        new_player_data player = record_of(id);
        player.team_is_locked = true;
        update_player_data(&player);
    }
};

} // namespace

// A joiner of the set-up hears the description; a departure repairs the team.
TEST_F(departures, repair_the_team_of_the_player_who_left)
{
    struct row
    {
        const char *what;
        int16_t members; // the captain included
        int16_t leaving; // the index among them that leaves (0 the captain)
        bool dissolves;
    };
    const row rows[] = {{"the captain of three", 3, 0, true},
                        {"a member of three", 3, 2, false},
                        {"a member of two", 2, 1, true}};
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.what);
        std::vector<size_t> team;
        std::vector<int32_t> ids;
        for (int16_t i = 0; i < r.members; i++)
        {
            team.push_back(ready_peer(i == 1));
            ids.push_back(get_net_player(get_net_player_count() - 1)->unique_identifier);
            EXPECT_TRUE(pump_until([&] { return !take_game_packets(team.back(), _vesk_game_description_packet).empty(); }))
                << "the joiner was not sent the description";
            handle_join_team_request(ids.back(), ids[0]);
        }
        lock(ids[0]);
        const int16_t before = get_net_player_count();
        peers[team[(size_t)r.leaving]].reset();
        ASSERT_TRUE(pump_until([&] { return get_net_player_count() == before - 1; }));
        for (int16_t i = 0; i < r.members; i++)
        {
            if (i == r.leaving) continue;
            const new_player_data &member = record_of(ids[(size_t)i]);
            EXPECT_EQ(member.team_captain_identifier, r.dissolves ? NONE : ids[0]) << "member " << i;
            EXPECT_EQ(member.team_is_locked != 0, !r.dissolves && i == 0) << "member " << i;
            EXPECT_EQ(member.agreed_to_play != 0, i == 1) << "member " << i << ": only the persistent stay ready";
        }
    }
}

} // namespace vesk_teams_test_file
