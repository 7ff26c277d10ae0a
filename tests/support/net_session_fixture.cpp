#include "net_session_fixture.h"
#include "net_library_fixture.h"


#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/timers.h"
#include "networking/connection_manager.h"
#include "networking/network_constants.h"
#include "networking/tcp_module.h"
#include "uber/uber.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

uint32_t net_session_test_clock = 100000;

static uint32_t test_clock(void) { return net_session_test_clock; }

new_player_data test_net_player(const char *name)
{
    new_player_data player;
    memset(&player, 0, sizeof(player));
    player.team_index = NONE;
    player.flags = _player_uses_appearance_colors_flag;
    player.team_captain_identifier = NONE;
    player.version = CURRENT_VERSION_IDENTIFIER;
    player.build_number = CURRENT_BUILD_NUMBER;
    strlcpy(player.appearance.name, name, sizeof(player.appearance.name));
    return player;
}

static std::vector<uint8_t> wire_record(const new_player_data &player)
{
    new_player_data wire = player;
    byte_swap_new_player_data(&wire);
    const uint8_t *bytes = (const uint8_t *)&wire;
    return std::vector<uint8_t>(bytes, bytes + sizeof(wire));
}

// Starts the endpoint layer and the library's roles once per process, as the
// program does, and the session on the test clock.
static void enter_session(void)
{
    net_session_test_clock = 100000;
    set_machine_tick_count_for_tests(test_clock);
    InitUber();
    static bool registered = false;
    if (!registered) register_network_hooks();
    registered = true;
    ASSERT_TRUE(allocate_network_structures_for_game_session(FOUR_CHARACTER_CODE('I', 'n', 'e', 't')));
}

static void leave_session(void)
{
    // Closing waits on the machine clock: the real one, so that it ends.
    set_machine_tick_count_for_tests(nullptr);
    setdown_network_game_from_old_netgame_session(false, true);
    EndUber();
}

void net_session_host_fixture::SetUp(void)
{
    enter_session();
    const vesk_networking_globals *globals = get_vesk_net_globals();
    std::string failure;
    port = host_test_game_on_loopback(globals->game, "", wire_record(test_net_player("Host")), &failure);
    ASSERT_NE(port, 0) << failure;

    new_game_data defaults;
    get_default_new_game_data(&defaults, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    net_game_description description = {}; // as the session's record starts
    build_net_game_description(&description, "Test", "", &defaults.parameters, port, 0, 1);
    set_net_originator_game_description(&description);
    set_net_current_game_description(&description);
    initialize_game_server_for_new_game();
    ASSERT_TRUE(pump_until([] { return get_net_player_count() == 1; })) << "the host's own player was not listed";
}

void net_session_host_fixture::TearDown(void)
{
    leave_session();
    peers.clear();
}

size_t net_session_host_fixture::join_peer(const new_player_data &player)
{
    const int16_t before = get_net_player_count();
    peers.push_back(std::make_unique<raw_peer>(port, kNMStreamMode));
    received.emplace_back();
    peers.back()->send_bytes(raw_join_request(player.appearance.name, "", wire_record(player)));
    EXPECT_TRUE(pump_until([&] { return get_net_player_count() == before + 1; }))
        << player.appearance.name << " was not listed";
    return peers.size() - 1;
}

int32_t net_session_host_fixture::id_of_peer(size_t peer)
{
    // Peers are listed in order of joining, after the host's own player.
    const new_player_data *player = get_net_player((int16_t)(peer + 1));
    return player ? player->unique_identifier : NONE;
}

void net_session_host_fixture::send_game_packet(size_t peer, uint16_t what, uint8_t to,
                                                const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> packet(8 + body.size());
    const uint16_t length = (uint16_t)packet.size();
    packet[0] = (uint8_t)(what >> 8);
    packet[1] = (uint8_t)what;
    packet[2] = (uint8_t)(length >> 8);
    packet[3] = (uint8_t)length;
    packet[4] = to;
    std::copy(body.begin(), body.end(), packet.begin() + 8);
    peers[peer]->send_bytes(packet);
}

std::vector<uint8_t> chat_packet_bytes(const char *name, uint8_t to, uint16_t flags, int16_t type, int16_t identifier,
                                       const std::string &text)
{
    chat_appearance appearance = {};
    strlcpy(appearance.player_name, name, sizeof(appearance.player_name));
    appearance.red = 1;
    std::vector<uint8_t> packet(MAXIMUM_SINGLE_PACKET_SIZE);
    const uint16_t length =
        build_chat_packet(packet.data(), (int32_t)packet.size(), &appearance, to, flags, type, identifier, text.c_str());
    EXPECT_GT(length, 0);
    packet.resize(length);
    return packet;
}

void net_session_host_fixture::send_peer_record(size_t peer, const new_player_data &player)
{
    const int32_t id = id_of_peer(peer);
    std::vector<uint8_t> body = {(uint8_t)(id >> 8), (uint8_t)id};
    const std::vector<uint8_t> record = wire_record(player);
    body.insert(body.end(), record.begin(), record.end());
    peers[peer]->send_bytes(raw_library_packet(1, 254, body));
}

void net_session_host_fixture::send_peer_chat(size_t peer, const char *claimed_name, uint8_t to, uint16_t flags,
                                              int16_t type, int16_t identifier, const std::string &text)
{
    std::vector<uint8_t> packet = chat_packet_bytes(claimed_name, to, flags, type, identifier, text);
    vesk_packet_byteswapping(packet.data(), true);
    send_game_packet(peer, _chat_packet, to, std::vector<uint8_t>(packet.begin() + 8, packet.end()));
}

void net_session_host_fixture::pump_once(void)
{
    vesk_net_process();
    read_raw_peers(peers, received);
}

void net_session_host_fixture::pump_a_while(int32_t turns)
{
    for (int32_t turn = 0; turn < turns; turn++) pump_once();
}

std::vector<std::vector<uint8_t>> net_session_host_fixture::take_game_packets(size_t peer, uint16_t what)
{
    std::vector<std::vector<uint8_t>> taken, kept;
    for (std::vector<uint8_t> &packet : received[peer])
        (packet_what(packet) == what ? taken : kept).push_back(packet);
    received[peer] = kept;
    return taken;
}

void net_setup_host_fixture::SetUp(void)
{
    net_session_host_fixture::SetUp();
    set_net_state(_net_configuring_game);
}

void net_session_client_fixture::SetUp(void) { enter_session(); }

void net_session_client_fixture::TearDown(void) { leave_session(); }

void net_session_client_fixture::list_players(const std::vector<new_player_data> &players, int32_t local_id)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    set_net_player_list(players.data(), (int16_t)players.size());
    globals->game->client.local_player_id = (int16_t)local_id;
}
