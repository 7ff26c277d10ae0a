#include "ip_enumeration.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/timers.h"
#include "tcp_module.h"

static struct ip_enumeration_globals
{
    uint32_t query_address; // host order; 0: the limited broadcast
} ip_enumeration_globals;

static const byte_swap_code response_packet_byte_swap[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _4byte, _2byte, _2byte, 32, _4byte, _end_bs_array};

void build_ip_enumeration_request_packet(uint8_t *buffer)
{
    for (uint32_t offset = 0; offset < kQuerySize; offset += 4) write_be32(buffer + offset, kQueryFlag);
}

bool is_ip_request_packet(const void *data, int32_t length)
{
    if (!data || length != (int32_t)kQuerySize) return false;
    for (uint32_t offset = 0; offset < kQuerySize; offset += 4)
        if (read_be32((const uint8_t *)data + offset) != kQueryFlag) return false;
    return true;
}

void build_ip_enumeration_response_packet(IPEnumerationResponsePacket *packet, int32_t game_id,
                                          int32_t version, uint32_t host, uint16_t port,
                                          const char *name)
{
    memset(packet, 0, sizeof(*packet));
    packet->responseCode = kReplyFlag;
    packet->gameID = game_id;
    packet->version = version;
    packet->host = host;
    packet->port = port;
    if (name) strncpy(packet->name, name, kMaxGameNameLen);
}

void byteswap_ip_enumeration_packet(IPEnumerationResponsePacket *packet)
{
    byte_swap_data("ip enumeration reply", packet, (int32_t)sizeof(*packet), 1, response_packet_byte_swap);
}

bool parse_ip_enumeration_response(const void *data, int32_t length, int32_t game_id,
                                   IPEnumerationResponsePacket *packet)
{
    // The length comes first: a short datagram's fields are never read.
    if (!data || length < (int32_t)sizeof(IPEnumerationResponsePacket)) return false;
    if (read_be32(data) != kReplyFlag) return false;
    memcpy(packet, data, sizeof(*packet));
    byteswap_ip_enumeration_packet(packet);
    packet->name[kMaxGameNameLen] = '\0';
    return packet->gameID == game_id;
}

bool extract_enumeration_data_from_ip_response(const void *data, int32_t length,
                                               const void **custom, uint32_t *custom_length)
{
    if (!data || length < (int32_t)sizeof(IPEnumerationResponsePacket)) return false;
    const uint32_t declared = read_be32((const uint8_t *)data + offsetof(IPEnumerationResponsePacket, customEnumDataLen));
    if (declared > (uint32_t)length - sizeof(IPEnumerationResponsePacket)) return false;
    *custom = declared ? (const uint8_t *)data + sizeof(IPEnumerationResponsePacket) : nullptr;
    *custom_length = declared;
    return true;
}

void set_enumeration_query_address_for_tests(uint32_t host)
{
    ip_enumeration_globals.query_address = host;
}

uint32_t enumeration_query_address(void)
{
    return ip_enumeration_globals.query_address ? ip_enumeration_globals.query_address : INADDR_BROADCAST;
}

// ---- the searching side -------------------------------------------------------

static bool valid_enumeration_config(NMProtocolConfigPriv *config)
{
    return config && VASSERT(config->cookie == config_cookie, "inConfig->cookie==config_cookie");
}

NMErr tcp_NMStartEnumeration(NMProtocolConfigPriv *config, NMEnumerationCallback callback,
                             void *context, bool active)
{
    (void)active;
    if (!valid_enumeration_config(config)) return kNMParameterErr;
    if (config->enumerating) return kNMAlreadyEnumeratingErr;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return kNMEnumerationFailedErr;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    const int on = 1;
    const int flags = fcntl(fd, F_GETFL, 0);
    if (bind(fd, (const sockaddr *)&any, sizeof(any)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0 || flags < 0 ||
        fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        close(fd);
        return kNMEnumerationFailedErr;
    }
    config->enumeration_socket = fd;
    config->callback = callback;
    config->user_context = context;
    config->enumerating = true;
    config->game_count = 0;
    config->games = nullptr;
    config->new_game_count = 0;
    config->ticks_at_last_enumeration_request = 0;
    // The first idle queries at once, whatever the clock reads.
    config->ticks_at_last_enumeration_request = machine_tick_count() - TICKS_BETWEEN_ENUMERATION_REQUESTS - 1;
    if (callback) callback(context, kNMEnumClear, nullptr);
    return kNMNoError;
}

static void take_reply(NMProtocolConfigPriv *config, const IPEnumerationResponsePacket *reply, uint32_t now)
{
    // A host that answered twice within one idle is one game.
    for (int32_t i = 0; i < config->new_game_count; i++)
    {
        available_game_data *game = &config->new_games[i];
        if ((uint32_t)game->host == reply->host && game->port == reply->port)
        {
            game->ticks_at_last_response = (int32_t)now;
            return;
        }
    }
    if (config->new_game_count >= MAXIMUM_NEW_GAMES_PER_IDLE) return;
    available_game_data *game = &config->new_games[config->new_game_count++];
    memset(game, 0, sizeof(*game));
    game->host = (int32_t)reply->host;
    game->port = reply->port;
    game->flags = _new_game_flag;
    game->ticks_at_last_response = (int32_t)now;
    memcpy(game->name, reply->name, kMaxGameNameLen);
}

static void merge_new_games(NMProtocolConfigPriv *config)
{
    for (int32_t i = 0; i < config->new_game_count; i++)
    {
        const available_game_data *fresh = &config->new_games[i];
        bool listed = false;
        for (int32_t j = 0; j < config->game_count && !listed; j++)
        {
            available_game_data *game = &config->games[j];
            if (game->host == fresh->host && game->port == fresh->port)
            {
                game->ticks_at_last_response = fresh->ticks_at_last_response;
                listed = true;
            }
        }
        if (listed) continue;
        available_game_data *grown = (available_game_data *)realloc(
            config->games, sizeof(available_game_data) * (size_t)(config->game_count + 1));
        if (!grown) break;
        config->games = grown;
        config->games[config->game_count++] = *fresh;
    }
    config->new_game_count = 0;
}

NMErr tcp_NMIdleEnumeration(NMProtocolConfigPriv *config)
{
    if (!valid_enumeration_config(config)) return kNMParameterErr;
    if (!config->enumerating) return kNMNotEnumeratingErr;
    const uint32_t now = machine_tick_count();
    config->new_game_count = 0;
    for (;;)
    {
        uint8_t datagram[MAXIMUM_ENUMERATION_DATAGRAM];
        sockaddr_in sender{};
        socklen_t size = sizeof(sender);
        const ssize_t length = recvfrom(config->enumeration_socket, datagram, sizeof(datagram), 0,
                                        (sockaddr *)&sender, &size);
        if (length < 0) break;
        IPEnumerationResponsePacket reply;
        if (!parse_ip_enumeration_response(datagram, (int32_t)length, config->gameID, &reply)) continue;
        // Where the reply came from, not what it claims.
        reply.host = ntohl(sender.sin_addr.s_addr);
        reply.port = ntohs(sender.sin_port);
        take_reply(config, &reply, now);
    }
    merge_new_games(config);
    int32_t kept = 0;
    for (int32_t i = 0; i < config->game_count; i++)
    {
        available_game_data game = config->games[i];
        if (now - (uint32_t)game.ticks_at_last_response > TICKS_BEFORE_GAME_DROPPED)
        {
            if (!(game.flags & _new_game_flag) && config->callback)
            {
                const NMEnumerationItem item = {(NMHostID)game.host, game.name, 0, nullptr};
                config->callback(config->user_context, kNMEnumDelete, &item);
            }
            continue;
        }
        if (game.flags & _new_game_flag)
        {
            game.flags &= (uint16_t)~_new_game_flag;
            if (config->callback)
            {
                const NMEnumerationItem item = {(NMHostID)game.host, game.name, 0, nullptr};
                config->callback(config->user_context, kNMEnumAdd, &item);
            }
        }
        config->games[kept++] = game;
    }
    config->game_count = kept;
    if (now - config->ticks_at_last_enumeration_request > TICKS_BETWEEN_ENUMERATION_REQUESTS)
    {
        uint8_t query[kQuerySize];
        build_ip_enumeration_request_packet(query);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = htonl(enumeration_query_address());
        target.sin_port = htons(config->port);
        // A failed query is not reported: the next idle tries again.
        sendto(config->enumeration_socket, query, sizeof(query), MSG_NOSIGNAL, (const sockaddr *)&target,
               sizeof(target));
        config->ticks_at_last_enumeration_request = now;
    }
    return kNMNoError;
}

NMErr tcp_NMBindEnumerationItemToConfig(NMProtocolConfigPriv *config, NMHostID host)
{
    if (!valid_enumeration_config(config)) return kNMParameterErr;
    if (!config->enumerating) return kNMNotEnumeratingErr;
    for (int32_t i = 0; i < config->game_count; i++)
    {
        if ((NMHostID)config->games[i].host != host) continue;
        config->host = host;
        config->port = config->games[i].port;
        config->host_name[0] = '\0';
        return kNMNoError;
    }
    return kNMInvalidConfigErr;
}

NMErr tcp_NMEndEnumeration(NMProtocolConfigPriv *config)
{
    if (!valid_enumeration_config(config)) return kNMParameterErr;
    if (!config->enumerating) return kNMNotEnumeratingErr;
    free(config->games);
    config->games = nullptr;
    config->game_count = 0;
    config->callback = nullptr;
    config->user_context = nullptr;
    config->enumerating = false;
    close(config->enumeration_socket);
    config->enumeration_socket = -1;
    return kNMNoError;
}
