// vesk_netprobe: the network transport seen from the command line, one
// printed line per event, packet or game.
//
//   vesk_netprobe listen [ADDRESS:]PORT [--advertise NAME] [--max N] [--mode 2|3] [--seconds S]
//       Opens a host's listener through the connection manager (mode 3
//       unless told, any address unless one is given), accepts connections and prints each
//       player's arrival and departure and every framed packet.  Answers
//       discovery queries only with --advertise.
//   vesk_netprobe connect HOST:PORT [--mode 2|3] [--seconds S]
//       Connects to a host and sends every line of standard input, read as
//       hexadecimal bytes, as it is (the header is the line's business);
//       prints the packets that come back.  Ends half a second after the
//       input ends, or when the connection closes.
//   vesk_netprobe find [--port P]... [--seconds S]
//       Searches the local network for games at each port (3453 by default)
//       and prints each game added or deleted.
//   vesk_netprobe host [ADDRESS:]PORT [--players N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]
//   vesk_netprobe join HOST:PORT [--name N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]
//       A game of the networking library's roles (probe_roles.cpp).
//
// Runs until --seconds pass (listen: until interrupted), then closes
// everything.  Exit status 0, 1 for a failure to start, 2 for bad arguments.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/timers.h"
#include "networking/connection_manager.h"
#include "networking/network_transport_hooks.h"
#include "networking_procedures.h"
#include "probe_network_game.h"
#include "netprobe.h"
#include "vesk_networking/network_hooks.h"
#include "tool_help.h"

static std::atomic<bool> interrupted{false};

static void on_signal(int) { interrupted = true; }

int usage(FILE *out)
{
    fprintf(out, "usage: vesk_netprobe listen [ADDRESS:]PORT [--advertise NAME] [--max N] [--mode 2|3] [--seconds S]\n"
                    "       vesk_netprobe connect HOST:PORT [--mode 2|3] [--seconds S]\n"
                    "       vesk_netprobe find [--port P]... [--seconds S]\n"
                    "       vesk_netprobe host [ADDRESS:]PORT [--players N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]\n"
                    "       vesk_netprobe join HOST:PORT [--name N] [--password P] [--send TYPE,TO,COUNT] [--seconds S]\n");
    return 2;
}

bool parse_number(const char *text, long minimum, long maximum, long *value)
{
    char *end = nullptr;
    const long number = strtol(text, &end, 10);
    if (!*text || *end || number < minimum || number > maximum) return false;
    *value = number;
    return true;
}

void print_address(uint32_t host, uint16_t port)
{
    printf("%u.%u.%u.%u:%u", (host >> 24) & 0xFF, (host >> 16) & 0xFF, (host >> 8) & 0xFF, host & 0xFF, port);
}

namespace {

void print_event(void *, probe_event_kind kind, int16_t player_id)
{
    switch (kind)
    {
    case _probe_player_added: printf("player %d joined\n", player_id); break;
    case _probe_player_removed: printf("player %d left\n", player_id); break;
    case _probe_connection_dropped: printf("player %d dropped: corrupt framing\n", player_id); break;
    case _probe_left_game: printf("connection closed\n"); break;
    case _probe_listener_closed: printf("listener closed\n"); break;
    }
}

void print_packet(void *, int16_t player_id, const uint8_t *packet, int32_t length)
{
    printf("packet from %d: what=%04X length=%d to=%u from=%u data=", player_id, (packet[0] << 8) | packet[1],
           length, packet[4], packet[5]);
    for (int32_t i = 8; i < length; i++) printf("%02X", packet[i]);
    printf("\n");
}

} // namespace

bool time_left(uint32_t start, long seconds)
{
    if (interrupted) return false;
    return seconds <= 0 || machine_tick_count() - start < (uint32_t)(seconds * 1000);
}

void pause_a_little(void) { usleep(2000); }

ProtocolConfig *default_config(const char *name)
{
    ProtocolConfig *config = nullptr;
    const NMErr error = ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, name, nullptr, 0, nullptr, &config);
    if (error) printf("configuration failed: %d\n", error);
    return error ? nullptr : config;
}

bool parse_listening_address(const char *text, uint32_t *address, long *port)
{
    *address = 0;
    std::string where = text;
    const size_t colon = where.rfind(':');
    if (colon != std::string::npos)
    {
        uint16_t ignored = 0;
        if (!lookup_machine(where.substr(0, colon).c_str(), 0, address, &ignored)) return false;
        where = where.substr(colon + 1);
    }
    return parse_number(where.c_str(), 1, 65535, port);
}

bool parse_host_address(const char *text, uint32_t *host, uint16_t *port)
{
    return strlen(text) <= MAXIMUM_HOST_NAME_LENGTH && strchr(text, ':') && lookup_machine(text, 0, host, port) &&
           *port;
}

namespace {

int listen_command(int argc, char **argv)
{
    if (argc < 1) return usage();
    const char *name = "";
    bool advertise = false;
    long maximum = MAXIMUM_NETWORK_PLAYERS, seconds = 0, port = 0, mode = kNMNormalMode;
    uint32_t address = 0;
    if (!parse_listening_address(argv[0], &address, &port)) return usage();
    for (int i = 1; i < argc; i++)
    {
        if (!strcmp(argv[i], "--advertise") && i + 1 < argc) advertise = true, name = argv[++i];
        else if (!strcmp(argv[i], "--max") && i + 1 < argc && parse_number(argv[++i], 1, 64, &maximum)) continue;
        else if (!strcmp(argv[i], "--mode") && i + 1 < argc && parse_number(argv[++i], 2, 3, &mode)) continue;
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc && parse_number(argv[++i], 1, 86400, &seconds))
            continue;
        else return usage();
    }

    ProtocolConfig *config = default_config(name);
    if (!config) return 1;
    config->configuration_data->host = address;
    config->configuration_data->host_name[0] = 0;
    config->configuration_data->port = (uint16_t)port;
    config->configuration_data->connectionMode = (int32_t)mode;

    probe_network_game game;
    if (!initialize_probe_network_game(&game, true)) return 1;
    game.report = print_event;
    initialize_connection_manager();
    set_game_maximum_players((int32_t)maximum);
    NMErr error = 0;
    game.listener = open_connection(&game, config, kOpenListen, &error);
    ProtocolDisposeConfig(config);
    if (!game.listener)
    {
        printf("listen failed: %d\n", error);
        dispose_probe_network_game(&game);
        return 1;
    }
    if (advertise) ProtocolStartAdvertising(game.listener);
    else ProtocolStopAdvertising(game.listener);
    printf("listening ");
    print_address(address, (uint16_t)port);
    printf("%s%s\n", advertise ? " as " : "", name);

    for (const uint32_t start = machine_tick_count(); time_left(start, seconds) && game.listener;)
    {
        idle_endpoints(&game);
        take_probe_packets(&game, print_packet, nullptr);
        pause_a_little();
    }
    dispose_probe_network_game(&game);
    printf("done\n");
    return 0;
}

// Reads hexadecimal bytes ("80 00 00 08 ..." or "80000008...") into `bytes`.
bool parse_hex_line(const char *line, std::vector<uint8_t> *bytes)
{
    bytes->clear();
    int high = -1;
    for (const char *c = line; *c; c++)
    {
        if (isspace((unsigned char)*c)) continue;
        if (!isxdigit((unsigned char)*c)) return false;
        const int digit = isdigit((unsigned char)*c) ? *c - '0' : (tolower((unsigned char)*c) - 'a' + 10);
        if (high < 0) high = digit;
        else bytes->push_back((uint8_t)(high << 4 | digit)), high = -1;
    }
    return high < 0;
}

int connect_command(int argc, char **argv)
{
    if (argc < 1) return usage();
    long mode = kNMNormalMode, seconds = 0;
    for (int i = 1; i < argc; i++)
    {
        if (!strcmp(argv[i], "--mode") && i + 1 < argc && parse_number(argv[++i], 2, 3, &mode)) continue;
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc && parse_number(argv[++i], 1, 86400, &seconds))
            continue;
        else return usage();
    }
    uint32_t host = 0;
    uint16_t port = 0;
    if (!parse_host_address(argv[0], &host, &port)) return usage();
    ProtocolConfig *config = default_config("");
    if (!config) return 1;
    snprintf(config->configuration_data->host_name, sizeof(config->configuration_data->host_name), "%s", argv[0]);
    config->configuration_data->port = port;
    config->configuration_data->connectionMode = (int32_t)mode;

    probe_network_game game;
    if (!initialize_probe_network_game(&game, false)) return 1;
    game.report = print_event;
    initialize_connection_manager();
    NMErr error = 0;
    game.client_endpoint = open_connection(&game, config, 0, &error);
    ProtocolDisposeConfig(config);
    if (!game.client_endpoint)
    {
        printf("open failed: %d\n", error);
        dispose_probe_network_game(&game);
        return 1;
    }
    printf("connected to ");
    print_address(host, port);
    printf(" in mode %ld\n", mode);

    std::string pending;
    bool input_open = true;
    uint32_t input_ended = 0;
    for (const uint32_t start = machine_tick_count(); time_left(start, seconds) && game.client_endpoint;)
    {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        while (input_open && poll(&input, 1, 0) > 0)
        {
            char chunk[4096];
            const ssize_t got = read(STDIN_FILENO, chunk, sizeof(chunk));
            if (got <= 0)
            {
                input_open = false;
                input_ended = machine_tick_count();
                break;
            }
            pending.append(chunk, (size_t)got);
            for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            {
                std::vector<uint8_t> bytes;
                const std::string line = pending.substr(0, end);
                if (!parse_hex_line(line.c_str(), &bytes)) printf("bad line: %s\n", line.c_str());
                else if (!bytes.empty())
                {
                    const int32_t sent = send_packet(game.client_endpoint, bytes.data(), (uint32_t)bytes.size(),
                                                     kNMBlocking);
                    printf("sent %d bytes\n", sent);
                }
            }
        }
        idle_endpoints(&game);
        take_probe_packets(&game, print_packet, nullptr);
        if (!input_open && machine_tick_count() - input_ended > 500) break;
        pause_a_little();
    }
    if (game.client_endpoint) close_connection(game.client_endpoint, true);
    dispose_probe_network_game(&game);
    printf("done\n");
    return 0;
}

struct search
{
    uint16_t port;
    ProtocolConfig *config;
};

void print_game(void *context, int32_t command, const NMEnumerationItem *item)
{
    const search *const where = (const search *)context;
    if (command == kNMEnumClear || !item) return;
    // The item names no port; the list entry being reported still holds it
    // (an added game keeps its new flag there during the call).
    uint16_t port = 0;
    for (int32_t i = 0; i < where->config->configuration_data->game_count; i++)
    {
        const available_game_data &game = where->config->configuration_data->games[i];
        if ((uint32_t)game.host != item->id || strcmp(game.name, item->name)) continue;
        port = game.port;
        if (command != kNMEnumAdd || (game.flags & _new_game_flag)) break;
    }
    printf("%s ", command == kNMEnumAdd ? "added" : "deleted");
    print_address(item->id, port);
    printf(" %s\n", item->name);
}

int find_command(int argc, char **argv)
{
    long seconds = 5;
    std::vector<search> searches;
    for (int i = 0; i < argc; i++)
    {
        long port = 0;
        if (!strcmp(argv[i], "--port") && i + 1 < argc && parse_number(argv[++i], 1, 65535, &port))
            searches.push_back({(uint16_t)port, nullptr});
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc && parse_number(argv[++i], 1, 86400, &seconds))
            continue;
        else return usage();
    }
    if (searches.empty()) searches.push_back({DEFAULT_NETWORK_GAME_PORT, nullptr});
    for (search &where : searches)
    {
        where.config = default_config("");
        if (!where.config) return 1;
        where.config->configuration_data->port = where.port;
        const NMErr error = ProtocolStartEnumeration(where.config, print_game, &where, true);
        if (error || !where.config->configuration_data->enumerating)
        {
            printf("search failed at port %u: %d\n", where.port, error);
            return 1;
        }
        printf("searching port %u\n", where.port);
    }
    for (const uint32_t start = machine_tick_count(); time_left(start, seconds);)
    {
        for (search &where : searches) ProtocolIdleEnumeration(where.config);
        pause_a_little();
    }
    for (search &where : searches)
    {
        ProtocolEndEnumeration(where.config);
        ProtocolDisposeConfig(where.config);
    }
    printf("done\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    if (argc < 2) return usage();
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGPIPE, SIG_IGN);

    // The module manager starts as the program starts it.  The connection
    // manager takes one game: the library's roles for a game of players,
    // the bare probe game for raw connections.
    register_network_transport_hooks();
    start_network_module_manager();
    const bool roles = !strcmp(argv[1], "host") || !strcmp(argv[1], "join");
    if (roles) register_network_hooks();
    else register_probe_network_game();

    int status = 2;
    if (!strcmp(argv[1], "listen")) status = listen_command(argc - 2, argv + 2);
    else if (!strcmp(argv[1], "connect")) status = connect_command(argc - 2, argv + 2);
    else if (!strcmp(argv[1], "find")) status = find_command(argc - 2, argv + 2);
    else if (!strcmp(argv[1], "host")) status = host_command(argc - 2, argv + 2);
    else if (!strcmp(argv[1], "join")) status = join_command(argc - 2, argv + 2);
    else usage();
    EndUber();
    return status;
}
