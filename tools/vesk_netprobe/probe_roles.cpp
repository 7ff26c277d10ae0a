// vesk_netprobe host and join: a game of players through the networking
// library's roles, one printed line per library event and per game packet.
//
//   host [ADDRESS:]PORT [--players N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]
//       Creates a game (mode 3, any address unless one is given) and joins
//       its own player (0).  With --send it sends COUNT game packets of TYPE
//       to TO (254 the host, 255 everybody, or a player id) once N players
//       (its own included; 1 by default) are listed.
//   join HOST:PORT [--name N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]
//       Joins a game; with --send it sends once it has joined.  Ends when it
//       leaves or loses the game.
//
// Lines: "event player added id=I name=N", "event player deleted id=I",
// "event left game", "event player data changed id=I length=L",
// "event game data length=L"; "packet type=T from=F to=D length=L seq=S" for
// every game packet (S: the sequence number the sender wrote, -1 for a type
// with no room for one); "count type=T from=F: N in order" (or "out of
// order") at every thousandth packet of a sender and type and for each at the
// end; "sent TYPE: COUNT" when a --send is done.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/network_services.h"
#include "commands.h"
#include "cseries/timers.h"
#include "game_records.h"
#include "monster_initializers.h"
#include "netprobe.h"
#include "networking/connection_manager.h"
#include "networking/public_packet_definitions.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_packets.h"

namespace {

// Packets sent a frame.  A receiver pours everything its socket holds into a
// 16384-byte queue at every frame and drops a connection that overflows it:
// small bursts let a receiver fall many frames behind before that happens.
constexpr int32_t SEND_BATCH = 16;

struct send_plan
{
    int32_t type; // NONE: nothing to send
    uint8_t to;
    int32_t count;
    int32_t sent;
};

struct arrival_count
{
    int32_t count;
    int32_t next_sequence;
    bool out_of_order;
};

struct probe_roles_globals
{
    net_game_data *game;
    bool left_game;
    arrival_count arrivals[256][NUMBER_OF_VESK_PACKETS];
} probe_roles_globals;

const char *const library_texts[INTERNAL_NETWORK_MSG_COUNT] = {
    "Attempting to join the game...",
    "Cancelled.",
    "Timed out waiting to join the game.",
    "Unable to connect: %s.",
    "Unable to open the listening socket: %s.",
    "Not enough memory for the host's buffers.",
    "Not enough memory for the host's records.",
    "Failure deleting the connection to the host",
    "Failure deleting the host's connections",
    "The game requires a password.",
    "The password is wrong.",
};

const char *library_text(int16_t index)
{
    return index >= 0 && index < INTERNAL_NETWORK_MSG_COUNT ? library_texts[index] : "";
}

int16_t read_int16(const uint8_t *packet, int32_t offset)
{
    int16_t value;
    memcpy(&value, packet + offset, sizeof(value));
    return value;
}

int32_t read_int32(const uint8_t *packet, int32_t offset)
{
    int32_t value;
    memcpy(&value, packet + offset, sizeof(value));
    return value;
}

void print_status_packet(const uint8_t *packet, int32_t type)
{
    switch (type)
    {
    case _player_added_packet_public:
    {
        char name[PLAYER_ADDED_PUBLIC_NAME_SIZE + 1] = {};
        memcpy(name, packet + PLAYER_ADDED_PUBLIC_NAME_OFFSET, PLAYER_ADDED_PUBLIC_NAME_SIZE);
        printf("event player added id=%d name=%s\n", read_int16(packet, PLAYER_ADDED_PUBLIC_PLAYER_ID_OFFSET), name);
        break;
    }
    case _player_deleted_packet_public:
        printf("event player deleted id=%d\n", read_int16(packet, PUBLIC_PLAYER_ID_OFFSET));
        break;
    case _player_left_game_packet_public:
        printf("event left game\n");
        probe_roles_globals.left_game = true;
        break;
    case _player_data_changed_packet_public:
        printf("event player data changed id=%d length=%d\n", read_int16(packet, PUBLIC_PLAYER_ID_OFFSET),
               read_int16(packet, PLAYER_DATA_CHANGED_PUBLIC_LENGTH_OFFSET));
        break;
    case _game_data_packet_public:
        printf("event game data length=%d\n", read_int16(packet, GAME_DATA_PUBLIC_LENGTH_OFFSET));
        break;
    default: printf("event unknown type=%d\n", type); break;
    }
}

// The sequence number a probe wrote into a packet of `type`, or -1.
int32_t sequence_of(const uint8_t *packet, int32_t type)
{
    switch (type)
    {
    case _chat_packet:
    {
        const char *const shifted = extract_text_from_chat_packet(packet);
        char text[16] = "";
        if (shifted) decode_chat_text(shifted, text, sizeof(text));
        char *end = nullptr;
        const long value = strtol(text, &end, 10);
        return text[0] && !*end && value >= 0 && value <= INT32_MAX ? (int32_t)value : -1;
    }
    case _command_packet: return read_int32(packet, 8 + (int32_t)offsetof(command_header, time));
    case _configuration_packet: return read_int32(packet, (int32_t)offsetof(configuration_packet, param0));
    case _ping_packet: return read_int32(packet, (int32_t)offsetof(vesk_ping_packet, ping_time));
    case _vesk_game_description_packet:
    {
        net_game_description description = {};
        int32_t value = -1;
        if (game_description_packet_to_net_game_description(packet, &description) &&
            sscanf(description.name, "probe %d", &value) != 1)
        {
            value = -1;
        }
        return value;
    }
    default: return -1;
    }
}

void print_count(int32_t type, int32_t from, const arrival_count &arrival)
{
    printf("count type=%d from=%d: %d %s\n", type, from, arrival.count,
           arrival.out_of_order ? "out of order" : "in order");
}

void count_game_packet(const uint8_t *packet, int32_t type, uint8_t from)
{
    const int32_t sequence = sequence_of(packet, type);
    printf("packet type=%d from=%u to=%u length=%u seq=%d\n", type, from, packet[4],
           ((const net_message_header *)packet)->messageLen, sequence);
    arrival_count &arrival = probe_roles_globals.arrivals[from][type];
    if (sequence >= 0)
    {
        if (sequence != arrival.next_sequence) arrival.out_of_order = true;
        arrival.next_sequence = sequence + 1;
    }
    if (++arrival.count % 1000 == 0) print_count(type, from, arrival);
}

void probe_packet_handler(void *packet_pointer)
{
    const uint8_t *const packet = (const uint8_t *)packet_pointer;
    const net_message_header *const header = (const net_message_header *)packet;
    if (header->what & kNetLibPacketBit) print_status_packet(packet, header->what & kNetLibPacketMask);
    else if (header->what < NUMBER_OF_VESK_PACKETS) count_game_packet(packet, header->what, header->from);
    else printf("packet type=%u from=%u: no game packet\n", header->what, header->from);
}

bool parse_send_plan(const char *text, send_plan *plan)
{
    long type = 0, to = 0, count = 0;
    char type_text[16], to_text[16], count_text[16], extra;
    if (sscanf(text, "%15[^,],%15[^,],%15[^,]%c", type_text, to_text, count_text, &extra) != 3 ||
        !parse_number(type_text, 0, NUMBER_OF_VESK_PACKETS - 1, &type) || !parse_number(to_text, 0, 255, &to) ||
        !parse_number(count_text, 1, 10000000, &count) || (to > MAXIMUM_PLAYER_ID && to < kSendToServer))
    {
        return false;
    }
    *plan = {(int32_t)type, (uint8_t)to, (int32_t)count, 0};
    return true;
}

// A well-formed game packet of the plan's type (host order) carrying
// `sequence` where the type has room for it; its length, or 0.
uint16_t build_probe_packet(uint8_t *packet, int32_t capacity, const send_plan &plan, int32_t sequence)
{
    const int16_t local_id = net_get_local_player_id(probe_roles_globals.game);
    const bool to_host = plan.to == kSendToServer;
    new_player_data player = {};
    switch (plan.type)
    {
    case _chat_packet:
    {
        chat_appearance appearance = {};
        snprintf(appearance.player_name, sizeof(appearance.player_name), "probe %d", local_id);
        char text[16];
        snprintf(text, sizeof(text), "%d", sequence);
        return build_chat_packet(packet, capacity, &appearance, plan.to, 0, _broadcast_chat_message, NONE, text);
    }
    case _command_packet:
    {
        const command_header command = {(int16_t)sizeof(command_header), 0, (int8_t)NONE, sequence};
        return build_command_packet(packet, capacity, plan.to, &command, (int32_t)sizeof(command));
    }
    case _configuration_packet:
        return build_configuration_packet(packet, capacity, plan.to, to_host ? _configuration_packet_request_flag : 0, 0,
                                          sequence);
    case _player_sync_data_packet:
        return build_player_sync_data_packet(packet, capacity, plan.to, local_id,
                                             to_host ? _player_sync_data_packet_destined_for_server_flag : 0);
    case _begin_sync_data_packet: return build_begin_sync_data_packet(packet, capacity, plan.to);
    case _server_command_packet:
        return build_server_command_packet(packet, capacity, plan.to,
                                           sequence % 2 ? _stop_sending_null_commands : _start_sending_null_commands);
    case _vesk_game_description_packet:
    {
        net_game_description description = {};
        snprintf(description.name, sizeof(description.name), "probe %d", sequence);
        snprintf(description.map_name, sizeof(description.map_name), "probe map");
        return build_vesk_game_description_packet(packet, capacity, plan.to, &description);
    }
    case _vesk_player_data_packet:
        return build_vesk_player_data_packet(packet, capacity, plan.to, local_id, 0, &player, sizeof(player));
    case _coop_vets_packet:
    {
        // One empty unit initializer: the builder takes the game's own
        // veterans, which a probe has none of.
        const uint16_t length = (uint16_t)(sizeof(net_message_header) + sizeof(monster_initializer));
        if (capacity < length) return 0;
        memset(packet, 0, length);
        const net_message_header header = {_coop_vets_packet, length, plan.to, 0, 0};
        memcpy(packet, &header, sizeof(header));
        return length;
    }
    case _ping_packet:
    {
        const uint16_t length = build_ping_packet(packet, capacity, plan.to, nullptr, 0);
        if (length) ((vesk_ping_packet *)packet)->ping_time = (uint32_t)sequence;
        return length;
    }
    case _begin_game_midgame_packet: return build_begin_game_midgame_packet(packet, capacity, plan.to, 1, &player);
    case _request_more_commands_packet: return build_request_more_commands_packet(packet, capacity, plan.to);
    default: return 0;
    }
}

// Whether every queue a burst of `bytes` passes through on this machine has
// room for it: net_send drops a player whose queue is full.
bool room_for(const net_game_data *game, int32_t bytes)
{
    if (circular_buffer_free_size(&game->outgoing_buffer) <= bytes ||
        circular_buffer_free_size(&game->incoming_buffer) <= bytes)
    {
        return false;
    }
    if (!game->server) return true;
    for (const server_net_player_data &slot : game->server->server_players)
    {
        if (slot.player_id == NONE) continue;
        if (circular_buffer_free_size(&slot.incoming_buffer) <= bytes ||
            circular_buffer_free_size(&slot.outgoing_buffer) <= bytes)
        {
            return false;
        }
    }
    return true;
}

void send_some(send_plan *plan)
{
    if (plan->type == NONE || plan->sent >= plan->count) return;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_probe_packet(packet, sizeof(packet), *plan, 0);
    if (!length)
    {
        printf("send failed: type %d cannot be built\n", plan->type);
        plan->type = NONE;
        return;
    }
    if (!room_for(probe_roles_globals.game, SEND_BATCH * length)) return;
    for (int32_t turn = 0; turn < SEND_BATCH && plan->sent < plan->count; turn++)
    {
        if (!build_probe_packet(packet, sizeof(packet), *plan, plan->sent) ||
            !net_send(probe_roles_globals.game, packet, 0))
        {
            printf("send failed at %d\n", plan->sent);
            plan->type = NONE;
            return;
        }
        plan->sent++;
    }
    if (plan->sent == plan->count) printf("sent %d: %d\n", plan->type, plan->count);
}

struct role_options
{
    const char *where;
    const char *name;
    const char *password;
    long players;
    long seconds;
    send_plan plan;
};

bool parse_role_options(int argc, char **argv, bool host, role_options *options)
{
    if (argc < 1) return false;
    *options = {argv[0], "probe", "", 1, 0, {NONE, 0, 0, 0}};
    for (int i = 1; i < argc; i++)
    {
        if (i + 1 >= argc) return false;
        const char *const option = argv[i], *const value = argv[++i];
        if (!strcmp(option, "--password") && strlen(value) <= MAXIMUM_NETWORK_PASSWORD_LENGTH) options->password = value;
        else if (!strcmp(option, "--send") && parse_send_plan(value, &options->plan)) continue;
        else if (!strcmp(option, "--seconds") && parse_number(value, 1, 86400, &options->seconds)) continue;
        else if (host && !strcmp(option, "--players") && parse_number(value, 1, MAXIMUM_NETWORK_PLAYERS, &options->players))
            continue;
        else if (!host && !strcmp(option, "--name") && strlen(value) <= MAXIMUM_NETWORK_PLAYER_NAME_LENGTH)
            options->name = value;
        else return false;
    }
    return true;
}

bool enter_game(void)
{
    probe_roles_globals = {};
    probe_roles_globals.game =
        net_enter(0, DEFAULT_NET_QUEUE_SIZE, DEFAULT_NET_QUEUE_SIZE, probe_packet_handler, vesk_packet_byteswapping,
                  (int16_t)sizeof(new_player_data), nullptr, library_text, nullptr);
    if (!probe_roles_globals.game) printf("entering the network failed\n");
    return probe_roles_globals.game != nullptr;
}

// Frames until the time is up, the game is left or (`ready`) the plan is due.
int run_game(const role_options &options, bool host)
{
    send_plan plan = options.plan;
    for (const uint32_t start = machine_tick_count(); time_left(start, options.seconds) && !probe_roles_globals.left_game;)
    {
        net_process(probe_roles_globals.game);
        if (!host || net_get_player_count(probe_roles_globals.game) >= options.players) send_some(&plan);
        pause_a_little();
    }
    for (int32_t from = 0; from < 256; from++)
    {
        for (int32_t type = 0; type < NUMBER_OF_VESK_PACKETS; type++)
        {
            const arrival_count &arrival = probe_roles_globals.arrivals[from][type];
            if (arrival.count) print_count(type, from, arrival);
        }
    }
    net_exit(probe_roles_globals.game);
    probe_roles_globals.game = nullptr;
    printf("done\n");
    return 0;
}

} // namespace

int host_command(int argc, char **argv)
{
    role_options options;
    if (!parse_role_options(argc, argv, true, &options)) return usage();
    uint32_t address = 0;
    long port = 0;
    if (!parse_listening_address(options.where, &address, &port)) return usage();
    ProtocolConfig *const config = default_config("probe");
    if (!config || !enter_game()) return 1;
    config->configuration_data->host = address;
    config->configuration_data->host_name[0] = 0;
    config->configuration_data->port = (uint16_t)port;

    char failure[NETWORK_MESSAGE_LENGTH + 1] = "";
    new_player_data player = {};
    const bool created = create_game(probe_roles_globals.game, config, options.password, false, failure, sizeof(failure));
    ProtocolDisposeConfig(config);
    if (!created || !join_game(probe_roles_globals.game, nullptr, "host", options.password, &player, sizeof(player),
                               failure, sizeof(failure), true))
    {
        printf("hosting failed: %s\n", failure);
        net_exit(probe_roles_globals.game);
        return 1;
    }
    printf("hosting ");
    print_address(address, (uint16_t)port);
    printf(" as player %d\n", net_get_local_player_id(probe_roles_globals.game));
    return run_game(options, true);
}

int join_command(int argc, char **argv)
{
    role_options options;
    if (!parse_role_options(argc, argv, false, &options)) return usage();
    uint32_t host = 0;
    uint16_t port = 0;
    if (!parse_host_address(options.where, &host, &port)) return usage();
    ProtocolConfig *const config = default_config("probe");
    if (!config || !enter_game()) return 1;
    snprintf(config->configuration_data->host_name, sizeof(config->configuration_data->host_name), "%s",
             options.where);
    config->configuration_data->port = port;

    char failure[NETWORK_MESSAGE_LENGTH + 1] = "";
    new_player_data player = {};
    const bool joined = join_game(probe_roles_globals.game, config, options.name, options.password, &player,
                                  sizeof(player), failure, sizeof(failure), false);
    ProtocolDisposeConfig(config);
    if (!joined)
    {
        printf("join failed: %s\n", failure);
        net_exit(probe_roles_globals.game);
        return 1;
    }
    printf("joined ");
    print_address(host, port);
    printf(" as player %d\n", net_get_local_player_id(probe_roles_globals.game));
    return run_game(options, false);
}
