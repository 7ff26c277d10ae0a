// Ping and latency.  See vesk_ping.h.

#include "vesk_networking/vesk_ping.h"

#include <cstring>

#include "cseries/log.h"
#include "cseries/timers.h"
#include "networking/network_constants.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_packets.h"

#define UNKNOWN_4 LATENCY_UNKNOWN, LATENCY_UNKNOWN, LATENCY_UNKNOWN, LATENCY_UNKNOWN
static struct vesk_ping_globals
{
    ping_data data;
} vesk_ping_globals = {{0, {}, {UNKNOWN_4, UNKNOWN_4, UNKNOWN_4, UNKNOWN_4}}};
#undef UNKNOWN_4
static_assert(MAXIMUM_NET_GAME_PLAYERS == 16);

// Signed distance from `earlier` to `later` on the wrapping millisecond clock.
static int32_t elapsed_ms(uint32_t later, uint32_t earlier) { return (int32_t)(later - earlier); }

const ping_data *get_ping_data(void) { return &vesk_ping_globals.data; }

void clear_ping_data(void)
{
    ping_data &data = vesk_ping_globals.data;
    memset(&data, 0, sizeof(data));
    for (uint16_t &latency : data.latency) latency = LATENCY_UNKNOWN;
}

static bool session_is_up(void) { return is_vesk_networking() && get_vesk_net_globals()->game; }

void idle_ping(void)
{
    if (!VASSERT(local_player_is_network_originator(), "idle_ping on a machine that is not the host")) return;
    ping_data &data = vesk_ping_globals.data;
    const uint32_t now = machine_tick_count();
    if (elapsed_ms(now, data.last_ping_time) < PING_INTERVAL_MS) return;

    const int16_t count = get_net_player_count();
    for (int16_t index = 0; index < count; ++index)
    {
        const new_player_data *player = get_net_player(index);
        if (player->unique_identifier == NET_HOST_PLAYER_ID)
        {
            data.latency[index] = 0;
            data.last_pong_time[index] = 0;
            continue; // the host measures nothing of itself
        }
        if (elapsed_ms(now, data.last_pong_time[index]) > PING_SILENCE_MS) data.latency[index] = LATENCY_UNKNOWN;
    }
    for (int16_t index = 0; index < count; ++index)
    {
        const new_player_data *player = get_net_player(index);
        if (player->unique_identifier == NET_HOST_PLAYER_ID || player->version < MINIMUM_PING_VERSION) continue;
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        if (!build_ping_packet(packet, sizeof(packet), (uint8_t)player->unique_identifier, data.latency, count))
            continue;
        ((vesk_ping_packet *)packet)->ping_time = now;
        net_send(get_vesk_net_globals()->game, packet, 0);
    }
    data.last_ping_time = now;
}

static void answer_ping(void *packet)
{
    const net_message_header *header = (const net_message_header *)packet;
    if (header->from != NET_HOST_PLAYER_ID)
    {
        LOG_REPEATED("ping from player %d refused: only the host pings", header->from);
        return;
    }
    uint8_t pong[PING_FIXED_SIZE];
    if (build_pong_packet(pong, sizeof(pong), packet)) net_send(get_vesk_net_globals()->game, pong, 0);
    const int16_t count = get_net_player_count();
    // A ping listing fewer players than this list leaves the table as it was.
    extract_ping_packet_latencies(vesk_ping_globals.data.latency, count, packet);
}

static void measure_pong(const void *packet)
{
    ping_data &data = vesk_ping_globals.data;
    const int32_t player_id = ((const net_message_header *)packet)->from;
    const int16_t index = find_net_player_index(player_id);
    if (player_id == NET_HOST_PLAYER_ID || index < 0) return;

    const uint32_t now = machine_tick_count();
    const uint32_t sent = ((const vesk_ping_packet *)packet)->ping_time;
    // A time from the future, from after the last round, or older than the
    // last accepted answer is no answer to a ping of ours.
    if (elapsed_ms(now, sent) < 0 || elapsed_ms(sent, data.last_ping_time) > 0 ||
        elapsed_ms(sent, data.last_pong_time[index]) < 0)
        return;
    uint32_t round_trip = (uint32_t)elapsed_ms(now, sent);
    if (round_trip > LATENCY_UNKNOWN) round_trip = LATENCY_UNKNOWN;
    uint32_t latency = round_trip;
    if (data.latency[index] != LATENCY_UNKNOWN) latency = (3u * data.latency[index] + round_trip) >> 2;
    data.latency[index] = (uint16_t)latency;
    data.last_pong_time[index] = now;
}

void handle_ping_packet(void *packet)
{
    if (!packet || !session_is_up()) return;
    if (local_player_is_network_originator())
        measure_pong(packet);
    else
        answer_ping(packet);
}

bool vesk_ping_supported(void)
{
    if (!session_is_up()) return false;
    const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
    return host >= 0 && get_net_player(host)->version >= MINIMUM_PING_VERSION;
}

uint16_t vesk_ping_player_latency(int32_t player_id)
{
    if (!session_is_up()) return LATENCY_UNKNOWN;
    const int16_t index = find_net_player_index(player_id);
    return index < 0 ? (uint16_t)LATENCY_UNKNOWN : vesk_ping_globals.data.latency[index];
}

uint16_t vesk_ping_local_player_latency(void) { return vesk_ping_player_latency(get_local_player_id()); }

int16_t vesk_ping_player_list_latency(int32_t player_id)
{
    const uint16_t latency = vesk_ping_player_latency(player_id);
    return latency > PLAYER_LIST_LATENCY_UNKNOWN ? (int16_t)PLAYER_LIST_LATENCY_UNKNOWN : (int16_t)latency;
}
