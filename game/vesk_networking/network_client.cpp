// The client's handlers of library packets.  See network_client.h.

#include "vesk_networking/network_client.h"

#include <cstdio>
#include <cstring>

#include "cseries/log.h"
#include "networking/packet_construction.h"
#include "networking/packet_definitions.h"
#include "networking/public_packet_definitions.h"

static int16_t read_int16(const void *packet, int32_t offset)
{
    int16_t value;
    memcpy(&value, (const uint8_t *)packet + offset, sizeof(value));
    return value;
}

static uint16_t read_uint16(const void *packet, int32_t offset) { return (uint16_t)read_int16(packet, offset); }

static void write_status_header(void *packet, const net_game_data *game, int32_t type, int32_t length)
{
    const net_message_header header = {(uint16_t)(kNetLibPacketBit | type), (uint16_t)length,
                                       (uint8_t)game->client.local_player_id, kSendToServer, 0};
    memcpy(packet, &header, sizeof(header));
}

static void queue_bare_status(net_game_data *game, int32_t type, int16_t player_id, bool with_player_id)
{
    uint8_t packet[PUBLIC_PLAYER_ID_OFFSET + sizeof(int16_t)];
    const int32_t length = with_player_id ? (int32_t)sizeof(packet) : (int32_t)sizeof(net_message_header);
    write_status_header(packet, game, type, length);
    if (with_player_id) memcpy(packet + PUBLIC_PLAYER_ID_OFFSET, &player_id, sizeof(player_id));
    queue_status_packet(game, packet);
}

void queue_player_left_game(net_game_data *game)
{
    queue_bare_status(game, _player_left_game_packet_public, 0, false);
}

static void queue_player_added(net_game_data *game, const char *name, int16_t player_id, const void *data,
                               int32_t data_length)
{
    uint8_t packet[(int32_t)PLAYER_ADDED_PUBLIC_DATA_OFFSET + (int32_t)NETWORK_PLAYER_DATA_SIZE] = {};
    write_status_header(packet, game, _player_added_packet_public, PLAYER_ADDED_PUBLIC_DATA_OFFSET + data_length);
    snprintf((char *)packet + PLAYER_ADDED_PUBLIC_NAME_OFFSET, PLAYER_ADDED_PUBLIC_NAME_SIZE, "%s", name);
    memcpy(packet + PLAYER_ADDED_PUBLIC_PLAYER_ID_OFFSET, &player_id, sizeof(player_id));
    memcpy(packet + PLAYER_ADDED_PUBLIC_DATA_OFFSET, data, (size_t)data_length);
    queue_status_packet(game, packet);
}

bool handle_new_player_packet(net_game_data *game, void *packet, int32_t)
{
    client_data *const client = &game->client;
    switch (client->state)
    {
    case _client_soliciting:
    case _client_deleting_player: return true;
    case _client_idle:
    case _client_joining: break;
    default: HALT("new player packet in an unexpected client state"); return true;
    }
    const int16_t player_id = read_int16(packet, LIBRARY_PACKET_PLAYER_ID_OFFSET);
    const uint16_t flags = read_uint16(packet, NEW_PLAYER_FLAGS_OFFSET);
    const char *const name = get_name_from_new_player_packet(packet);
    int32_t data_length = 0;
    const void *const data = get_player_data_from_new_player_packet(packet, &data_length);
    if (!name || !data || data_length != game->parameters.player_userdata_size || player_id < 0 ||
        player_id > MAXIMUM_PLAYER_ID)
    {
        LOG_REPEATED("new player packet refused: id %d, %d bytes of player data", player_id,
                     data_length);
        return true;
    }
    if (TEST_FLAG(flags, _sent_new_player_packet_to_owner_flag_bit))
    {
        client->state = _client_idle;
        client->local_player_id = player_id;
    }
    net_game_description_2 *const description = &client->game_desc;
    if (net_player_id_to_player_index(description, player_id) != NONE)
    {
        uint8_t status[(int32_t)PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET + (int32_t)NETWORK_PLAYER_DATA_SIZE];
        if (build_player_data_changed_packet_public(status, sizeof(status), (uint8_t)client->local_player_id,
                                                    player_id, data, data_length))
        {
            queue_status_packet(game, status);
        }
        return true;
    }
    // A host announcing more players than a game holds is not believed past
    // the list's end.
    if (description->player_count >= MAXIMUM_NETWORK_PLAYERS)
    {
        LOG_REPEATED("the host announced a player beyond %d (id %d): ignored",
                     MAXIMUM_NETWORK_PLAYERS, player_id);
        return true;
    }
    net_player_data *const player = &description->players[description->player_count++];
    memset(player, 0, sizeof(*player));
    snprintf(player->name, sizeof(player->name), "%s", name);
    player->player_id = player_id;
    queue_player_added(game, player->name, player_id, data, data_length);
    return true;
}

void client_connection_ended(net_game_data *game)
{
    client_data *const client = &game->client;
    if (client->state != _client_joining)
    {
        queue_player_left_game(game);
        return;
    }
    if (client->failure_reason && client->failure_reason_length > 0)
        snprintf(client->failure_reason, (size_t)client->failure_reason_length, "%s",
                 "The host closed the connection without answering the join.");
    client->state = _client_refused;
}

bool handle_join_request_denied_packet(net_game_data *game, void *packet, int32_t length)
{
    char text[NETWORK_MESSAGE_LENGTH + 1] = "";
    if (length > (int32_t)sizeof(net_message_header) + 1)
    {
        char *const body = (char *)packet + LIBRARY_PACKET_BODY_OFFSET;
        const int32_t body_length = length - LIBRARY_PACKET_BODY_OFFSET;
        body[body_length - 1] = 0;
        snprintf(text, sizeof(text), "%s", body);
        const int32_t first_length = (int32_t)strlen(body) + 1;
        int32_t error = NONE;
        if (first_length < body_length && sscanf(body + first_length, "error=%d", &error) == 1 && error >= 0 &&
            error < INTERNAL_NETWORK_MSG_COUNT)
        {
            const char *const local = get_internal_network_message(game, (int16_t)error);
            log_message(__FILE__, __LINE__, "got %s via err %d - vs: %s", local, error, text);
            snprintf(text, sizeof(text), "%s", local);
        }
    }
    client_data *const client = &game->client;
    // To a player that has joined, the same packet is the host's last word
    // before it drops the player: why.  (Earlier programs ignore it.)
    if (client->state != _client_joining)
    {
        if (client->local_player_id != 0 && client->state == _client_idle)
        {
            snprintf(client->dropped_because, sizeof(client->dropped_because), "%s", text);
            log_message(__FILE__, __LINE__, "the host drops this player: %s", text);
        }
        return true;
    }
    if (client->failure_reason && client->failure_reason_length > 0)
    {
        snprintf(client->failure_reason, (size_t)client->failure_reason_length, "%s", text);
    }
    client->state = _client_refused;
    return true;
}

bool handle_server_deleted_player_packet(net_game_data *game, void *packet, int32_t)
{
    client_data *const client = &game->client;
    if (client->state != _client_idle && client->state != _client_deleting_player) return true;
    const int16_t player_id = read_int16(packet, LIBRARY_PACKET_PLAYER_ID_OFFSET);
    net_game_description_2 *const description = &client->game_desc;
    if (player_id == client->local_player_id)
    {
        client->state = _client_idle;
        description->player_count = 0;
        queue_player_left_game(game);
        return true;
    }
    const int16_t index = net_player_id_to_player_index(description, player_id);
    if (index == NONE) return true;
    queue_bare_status(game, _player_deleted_packet_public, player_id, true);
    memmove(&description->players[index], &description->players[index + 1],
            sizeof(description->players[0]) * (size_t)(description->player_count - index - 1));
    description->player_count--;
    return true;
}

bool handle_game_data_packet(net_game_data *game, void *packet, int32_t length)
{
    uint8_t status[(int32_t)GAME_DATA_PUBLIC_DATA_OFFSET + (int32_t)MAXIMUM_USER_GAME_DATA_SIZE];
    if (build_game_data_packet_public(status, sizeof(status), (uint8_t)game->client.local_player_id,
                                      (const uint8_t *)packet + LIBRARY_PACKET_BODY_OFFSET,
                                      length - LIBRARY_PACKET_BODY_OFFSET))
    {
        queue_status_packet(game, status);
    }
    return true;
}

bool handle_client_connection_closed_packet(net_game_data *game, void *, int32_t)
{
    queue_player_left_game(game);
    return true;
}
