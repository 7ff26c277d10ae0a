#pragma once
// The lobby client set up for tests against a scripted or test service on
// loopback: the store, the headless program, the endpoint layer, a machine
// clock running twenty times faster (or held still), every lobby event
// recorded with the frame it came in, and a login into the service.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap_dialogs/network_services.h"
#include "game_records.h"
#include "support/lobby_script_peer.h"
#include "tag_files/store_fixture.h"

namespace lobby_client_test
{

extern const uint8_t test_salt[16];

// The clock: twenty times the real one, or `held_clock` while `clock_held`.
extern std::atomic<uint32_t> held_clock;
extern std::atomic<bool> clock_held;
uint32_t test_clock(void);

struct recorded_event
{
    int32_t event;
    int32_t frame;
};
extern std::vector<recorded_event> events;
extern int32_t frame;
int32_t count_events(int32_t event);
// The event tap the fixture installs (a handler of the pump's events).
void record_event(int32_t event, void *data, int32_t length, void *context);
// Pumps (one frame each) until `done` or 10 s of real time: `done`'s answer.
bool pump_lobby_until(const std::function<bool()> &done);

class lobby_client : public store_fixture::store_test
{
protected:
    new_player_data player = {};
    net_game_description description = {};

    void SetUp() override;
    void TearDown() override;
    // Logs in as "anna" at the service's login port.
    int16_t login(lobby_script_peer &service, const char *password = "secret");
    // Pumps (one frame each) until `done` or 10 s.
    bool pump_until(const std::function<bool()> &done);
};

// A login host that takes a login with a challenge of `type`, lists the rooms
// of `room_list` and waits for the client to move on.
std::vector<lobby_script_step> login_host(int16_t type, const std::vector<uint8_t> &room_list);

} // namespace lobby_client_test
