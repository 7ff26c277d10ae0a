#pragma once
// The networking library's roles in one test process: a host made by the
// library itself (net_enter, create_game in mode 2 on 127.0.0.1, its own
// player joined) with raw peers as the remote machines, or a library client
// facing a raw listener.  The game's side records every packet the library
// hands it, in host order.
//
// Every wait pumps the library and reads the peers, bounded in turns and in
// time; none sleeps.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/net_peers.h"
#include "vesk_networking/network.h"

// The game's side of a library game: what its packet handler was given.
extern std::vector<std::vector<uint8_t>> delivered_packets;
void record_delivered_packet(void *packet);
// "message N", message 3 "message 3 (%d)".
const char *test_network_message(int16_t index);
// A player record of 124 bytes filled with `fill`.
std::vector<uint8_t> player_record(uint8_t fill);

// Enters network play for a test: uber started, the roles registered, the
// library's record made with the recording handler.  Null on failure.
net_game_data *enter_test_network_game(net_progress_procedure progress = nullptr);

// Hosts `game` on 127.0.0.1 at a port the system picks and joins it as the
// host's own player "Host" with `own_record`: the port, or 0 with the reason
// in `failure`.
uint16_t host_test_game_on_loopback(net_game_data *game, const char *password, const std::vector<uint8_t> &own_record,
                                    std::string *failure);

class net_host_fixture : public ::testing::Test
{
protected:
    net_game_data *game = nullptr;
    uint16_t port = 0;
    std::vector<std::unique_ptr<raw_peer>> peers;
    // What each peer received, in order (indexes as `peers`).
    std::vector<std::vector<std::vector<uint8_t>>> received;

    void SetUp(void) override;
    void TearDown(void) override;
    // Hosts with `password` (SetUp hosts without one).
    void host(const char *password);

    // Runs the host's network pass and reads every peer until `done` (at
    // most 3000 turns or 5 s); whether it came true.
    template <typename condition> bool pump_until(condition done)
    {
        for (int32_t turn = 0; turn < 3000 && !out_of_time(turn); turn++)
        {
            pump_once();
            if (done()) return true;
        }
        return false;
    }
    // A few passes with nothing expected (a late arrival would show).
    void pump_a_while(int32_t turns = 30);
    void pump_once(void);

    // Connects a raw peer (not joined): its index.
    size_t connect_peer(int receive_buffer = 0);
    // Connects a peer and joins as `name`: its index; its id is the owner
    // packet's.  Fails the test when the join is not completed.
    size_t join_peer(const std::string &name, const std::string &password = "", int receive_buffer = 0);
    // The id the host gave peer `peer` (from its own new-player packet), or -1.
    int16_t id_of_peer(size_t peer);
    // The packets peer `peer` received of library type `type` (0x8000 | type).
    std::vector<std::vector<uint8_t>> library_packets_of(size_t peer, uint16_t type);
    // Game packets of type `what` peer `peer` received.
    std::vector<std::vector<uint8_t>> game_packets_of(size_t peer, uint16_t what);
    int16_t host_player_count(void);

  private:
    bool out_of_time(int32_t turn);
    uint64_t started_ms = 0;
};
