#pragma once
// A network session's game layer in one test process: the host's session
// (the library's host on 127.0.0.1 with its own player joined, the host's
// description, the command server) with raw peers joining as the remote
// machines, each with a real player record; or a bare session that is no
// host, for the clients' handlers.  The machine clock is the test's own
// (`now_ms`), moved only by the test.
//
// Every wait pumps the game layer (`vesk_net_process`) and reads the peers,
// bounded in turns; none sleeps.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "game_records.h"
#include "support/net_peers.h"

// The test clock every session fixture installs.
extern uint32_t net_session_test_clock;

// A player record as the game's own dialogs make one: this program's version, build
// 443, no team, `name`.
new_player_data test_net_player(const char *name);

// A chat packet in host order, from `name`.
std::vector<uint8_t> chat_packet_bytes(const char *name, uint8_t to, uint16_t flags, int16_t type, int16_t identifier,
                                       const std::string &text);

class net_session_host_fixture : public ::testing::Test
{
protected:
    uint16_t port = 0;
    std::vector<std::unique_ptr<raw_peer>> peers;
    std::vector<std::vector<std::vector<uint8_t>>> received; // per peer, what it read

    void SetUp(void) override;
    void TearDown(void) override;

    // Joins a raw peer with `player` (host order): its index once the game
    // layer lists it (fails the test otherwise).
    size_t join_peer(const new_player_data &player);
    // The network id of peer `peer` in the game layer's list.
    int32_t id_of_peer(size_t peer);
    // Sends a game packet from peer `peer`: header fields in host order, the
    // body already in wire order.
    void send_game_packet(size_t peer, uint16_t what, uint8_t to, const std::vector<uint8_t> &body);

    // Peer `peer` publishes a changed record of its player (ready marks, teams).
    void send_peer_record(size_t peer, const new_player_data &player);
    // Peer `peer` asks the host to pass a chat line on (see chat_packet_bytes).
    void send_peer_chat(size_t peer, const char *claimed_name, uint8_t to, uint16_t flags, int16_t type,
                        int16_t identifier, const std::string &text);

    void pump_once(void);
    void pump_a_while(int32_t turns = 20);
    template <typename condition> bool pump_until(condition done)
    {
        for (int32_t turn = 0; turn < 2000; turn++)
        {
            pump_once();
            if (done()) return true;
        }
        return false;
    }
    // Game packets of type `what` peer `peer` read (wire order), and forgets them.
    std::vector<std::vector<uint8_t>> take_game_packets(size_t peer, uint16_t what);
};

// The host while a game is set up, as the set-up dialog keeps it: joiners
// are sent the description, departures repair teams.
class net_setup_host_fixture : public net_session_host_fixture
{
protected:
    void SetUp(void) override;
};

// A session that is no host: the library's record made, nobody connected;
// the test lists the players itself (`list_players`) and names the local one.
class net_session_client_fixture : public ::testing::Test
{
protected:
    void SetUp(void) override;
    void TearDown(void) override;
    void list_players(const std::vector<new_player_data> &players, int32_t local_id);
};
