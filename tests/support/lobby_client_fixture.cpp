// The lobby client's test set-up.  See lobby_client_fixture.h.

#include "support/lobby_client_fixture.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "cseries/timers.h"
#include "iniparser3.0b/inifile.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_preferences.h"
#include "support/game_core_fixture.h"
#include "uber/uber.h"
#include "vesk.h"

namespace lobby_client_test
{

const uint8_t test_salt[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                               0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};

// Twenty times faster, so the room change's 5000 ms waits end in a quarter
// second; or held still for the keepalive.
std::atomic<uint32_t> held_clock{0};
std::atomic<bool> clock_held{false};
uint32_t test_clock(void)
{
    if (clock_held) return held_clock;
    using namespace std::chrono;
    return (uint32_t)(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 20);
}

std::vector<recorded_event> events;
int32_t frame;
void record_event(int32_t event, void *, int32_t, void *) { events.push_back({event, frame}); }
int32_t count_events(int32_t event)
{
    int32_t count = 0;
    for (const recorded_event &e : events) count += e.event == event ? 1 : 0;
    return count;
}

void lobby_client::SetUp()
{
    store_test::SetUp();
    start_store();
    reset_game_core();
    set_vesk_headless(true);
    InitUber();
    set_machine_tick_count_for_tests(test_clock);
    clock_held = false;
    strcpy(player.appearance.name, "Anna");
    events.clear();
    frame = 0;
    set_metaserver_event_tap(record_event);
    set_metaserver_login_time_limit(20000 * 20);
}

void lobby_client::TearDown()
{
    logout_of_metaserver();
    set_metaserver_event_tap(nullptr);
    set_metaserver_login_time_limit(METASERVER_LOGIN_TIME_LIMIT);
    set_default_metaserver_host_for_tools(nullptr, 0);
    dispose_poweruser_settings();
    EndUber();
    set_machine_tick_count_for_tests(nullptr);
    set_vesk_headless(false);
    store_test::TearDown();
}

int16_t lobby_client::login(lobby_script_peer &service, const char *password)
{
    set_default_metaserver_host_for_tools("127.0.0.1", service.listener.port);
    return login_to_metaserver(&description, &player, "anna", password);
}

bool pump_lobby_until(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
    {
        ++frame;
        update_metaserver();
        std::this_thread::yield();
    }
    return done();
}

bool lobby_client::pump_until(const std::function<bool()> &done) { return pump_lobby_until(done); }

std::vector<lobby_script_step> login_host(int16_t type, const std::vector<uint8_t> &room_list)
{
    return concat_steps({lobby_login_opening(), lobby_challenge_and_rooms(type, test_salt, room_list),
                         {lobby_wait_for_close()}});
}

} // namespace lobby_client_test
