// The game's own packets.  See vesk_packets.h.

#include "vesk_networking/vesk_packets.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/network_services.h"
#include "commands.h"
#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_records.h"
#include "monster_initializers.h"
#include "networking/network_constants.h"
#include "vesk_networking/packet_rules.h"

constexpr int32_t PLAYER_RECORD_SIZE = (int32_t)sizeof(new_player_data);
static_assert(sizeof(new_player_data) == 124);

bool vesk_packet_size_is_valid(uint16_t what, uint16_t length)
{
    const net_packet_rule *const rule = (what & kNetLibPacketBit) ? nullptr : get_net_packet_rule(_game_packet_kind, what);
    return rule && length >= rule->minimum_length && length <= rule->maximum_length;
}

// ---- builders ----------------------------------------------------------------

static net_message_header *begin_packet(void *packet, int32_t capacity, uint16_t what, int32_t length, uint8_t to)
{
    if (!packet || length > capacity || length > MAXIMUM_SINGLE_PACKET_SIZE || length < 8)
    {
        LOG_REPEATED("game packet %u of %d bytes refused: the buffer holds %d", (unsigned)what,
                     (int)length, (int)capacity);
        return nullptr;
    }
    memset(packet, 0, (size_t)length);
    net_message_header *header = (net_message_header *)packet;
    header->what = what;
    header->messageLen = (uint16_t)length;
    header->to = to;
    return header;
}

static uint8_t *body(void *packet) { return (uint8_t *)packet + sizeof(net_message_header); }

uint16_t build_begin_sync_data_packet(void *packet, int32_t capacity, uint8_t to)
{
    return begin_packet(packet, capacity, _begin_sync_data_packet, 8, to) ? 8 : 0;
}

uint16_t build_request_more_commands_packet(void *packet, int32_t capacity, uint8_t to)
{
    return begin_packet(packet, capacity, _request_more_commands_packet, 8, to) ? 8 : 0;
}

uint16_t build_server_command_packet(void *packet, int32_t capacity, uint8_t to, int16_t verb)
{
    if (!begin_packet(packet, capacity, _server_command_packet, sizeof(server_command_packet), to)) return 0;
    ((server_command_packet *)packet)->verb = verb;
    return sizeof(server_command_packet);
}

uint16_t build_player_sync_data_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id_from,
                                       uint16_t flags)
{
    if (!begin_packet(packet, capacity, _player_sync_data_packet, sizeof(player_sync_data_packet), to)) return 0;
    player_sync_data_packet *p = (player_sync_data_packet *)packet;
    p->player_id_from = player_id_from;
    p->flags = flags;
    return sizeof(player_sync_data_packet);
}

uint16_t build_player_sync_data_packet_with_final_state(void *packet, int32_t capacity, uint8_t to,
                                                        int16_t player_id_from, uint16_t flags,
                                                        const net_final_state *state)
{
    if (!state || !begin_packet(packet, capacity, _player_sync_data_packet, PLAYER_SYNC_FINAL_STATE_SIZE, to)) return 0;
    player_sync_data_packet *p = (player_sync_data_packet *)packet;
    p->player_id_from = player_id_from;
    p->flags = flags;
    // Written big-endian here: the byte swap converts the fixed part only.
    uint8_t *out = (uint8_t *)packet + sizeof(player_sync_data_packet);
    write_be32(out, (uint32_t)state->tick);
    write_be32(out + 4, state->state_hash);
    write_be32(out + 8, state->random_seed);
    return PLAYER_SYNC_FINAL_STATE_SIZE;
}

uint16_t build_player_departure_notice(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                       const net_final_state *state, int32_t reason)
{
    if (reason <= 0 || reason >= NUMBER_OF_DEPARTURE_REASONS || capacity < PLAYER_DEPARTURE_NOTICE_SIZE ||
        !build_player_sync_data_packet_with_final_state(packet, capacity, to, player_id, 0, state))
        return 0;
    ((net_message_header *)packet)->messageLen = PLAYER_DEPARTURE_NOTICE_SIZE;
    write_be32((uint8_t *)packet + PLAYER_SYNC_FINAL_STATE_SIZE, (uint32_t)reason);
    return PLAYER_DEPARTURE_NOTICE_SIZE;
}

uint16_t build_configuration_packet(void *packet, int32_t capacity, uint8_t to, uint16_t flags, int16_t item,
                                    int32_t param0)
{
    if (!begin_packet(packet, capacity, _configuration_packet, sizeof(configuration_packet), to)) return 0;
    configuration_packet *p = (configuration_packet *)packet;
    p->flags = flags;
    p->item = item;
    p->param0 = param0;
    return sizeof(configuration_packet);
}

uint16_t build_command_packet(void *packet, int32_t capacity, uint8_t to, const void *command, int32_t size)
{
    if (!command || size < (int32_t)sizeof(command_header) || ((const command_header *)command)->size != size)
    {
        LOG_REPEATED("command packet refused: %d bytes do not hold the command", (int)size);
        return 0;
    }
    if (!begin_packet(packet, capacity, _command_packet, 8 + size, to)) return 0;
    memcpy(body(packet), command, (size_t)size);
    return (uint16_t)(8 + size);
}

uint16_t build_chat_packet(void *packet, int32_t capacity, const chat_appearance *appearance, uint8_t to,
                           uint16_t flags, int16_t type, int16_t identifier, const char *text)
{
    if (!appearance || !text) return 0;
    const size_t length = strlen(text);
    if (length > (size_t)(MAXIMUM_SINGLE_PACKET_SIZE - CHAT_TEXT_OFFSET - 1))
    {
        LOG_REPEATED("chat line of %zu bytes refused", length);
        return 0;
    }
    const int32_t total = CHAT_TEXT_OFFSET + (int32_t)length + 1;
    if (!begin_packet(packet, capacity, _chat_packet, total, to)) return 0;
    chat_packet *p = (chat_packet *)packet;
    p->player = *appearance;
    p->flags = flags;
    p->type = type;
    p->identifier = identifier;
    uint8_t *out = (uint8_t *)packet + CHAT_TEXT_OFFSET;
    for (size_t i = 0; i < length; ++i)
    {
        uint8_t c = (uint8_t)text[i];
        if ((uint8_t)(c + CHAT_TEXT_SHIFT) == 0) c = '?'; // would end the line on the wire
        out[i] = (uint8_t)(c + CHAT_TEXT_SHIFT);
    }
    out[length] = 0;
    return (uint16_t)total;
}

uint16_t build_vesk_game_description_packet(void *packet, int32_t capacity, uint8_t to,
                                            net_game_description *description)
{
    if (!description) return 0;
    if (description->password[0]) description->flags |= _net_game_has_password_flag;
    const size_t a = strnlen(description->name, NET_GAME_NAME_SIZE - 1);
    const size_t b = strnlen(description->map_name, NET_GAME_MAP_NAME_SIZE - 1);
    const int32_t total = VESK_GAME_DESCRIPTION_FIXED_SIZE + (int32_t)(a + 1 + b + 1);
    if (!begin_packet(packet, capacity, _vesk_game_description_packet, total, to)) return 0;
    vesk_game_description_packet *p = (vesk_game_description_packet *)packet;
    memcpy(p->parameters, &description->parameters, sizeof(p->parameters));
    p->public_tags_checksum = (int32_t)description->public_tags_checksum;
    p->private_tags_checksum = (int32_t)description->private_tags_checksum;
    p->flags = description->flags;
    p->player_count = description->player_count;
    char *names = (char *)packet + VESK_GAME_DESCRIPTION_FIXED_SIZE;
    memcpy(names, description->name, a);
    names[a] = 0;
    memcpy(names + a + 1, description->map_name, b);
    names[a + 1 + b] = 0;
    return (uint16_t)total;
}

uint16_t build_vesk_player_data_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                       uint16_t flags, const void *data, int16_t length)
{
    if (!data || length != PLAYER_RECORD_SIZE)
    {
        LOG_REPEATED("player data of %d bytes refused: a player record is %d", (int)length,
                     (int)PLAYER_RECORD_SIZE);
        return 0;
    }
    const int32_t total = (int32_t)sizeof(vesk_set_player_data_packet) + length;
    if (!begin_packet(packet, capacity, _vesk_player_data_packet, total, to)) return 0;
    vesk_set_player_data_packet *p = (vesk_set_player_data_packet *)packet;
    p->player_id = player_id;
    p->flags = flags;
    p->data_length = length;
    memcpy(p + 1, data, (size_t)length);
    return (uint16_t)total;
}

uint16_t build_coop_vets_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_count,
                                const new_player_data *players)
{
    adjust_monster_initializers_for_coop(player_count, players, MAXIMUM_COOP_VETS_INITIALIZERS);
    int32_t length = 0;
    export_monster_initializers(nullptr, &length);
    if (!VASSERT(length < COOP_VETS_LIMIT, "veterans too large for a packet")) return 0;
    if (length == 0) return 0;
    if (!begin_packet(packet, capacity, _coop_vets_packet, 8 + length, to)) return 0;
    export_monster_initializers(body(packet), &length);
    return (uint16_t)(8 + length);
}

uint16_t build_ping_packet(void *packet, int32_t capacity, uint8_t to, const uint16_t *latencies, int16_t count)
{
    if (count < 0 || count > MAXIMUM_PING_LATENCIES || (count > 0 && !latencies)) return 0;
    const int32_t total = PING_FIXED_SIZE + 2 * count;
    if (!begin_packet(packet, capacity, _ping_packet, total, to)) return 0;
    ((vesk_ping_packet *)packet)->ping_time = machine_tick_count();
    uint8_t *out = (uint8_t *)packet + PING_FIXED_SIZE;
    for (int16_t i = 0; i < count; ++i)
    {
        out[2 * i] = (uint8_t)(latencies[i] >> 8);
        out[2 * i + 1] = (uint8_t)latencies[i];
    }
    return (uint16_t)total;
}

uint16_t build_pong_packet(void *packet, int32_t capacity, const void *ping)
{
    if (!ping) return 0;
    const uint32_t ping_time = ((const vesk_ping_packet *)ping)->ping_time;
    if (!begin_packet(packet, capacity, _ping_packet, PING_FIXED_SIZE, kSendToServer)) return 0;
    ((vesk_ping_packet *)packet)->ping_time = ping_time;
    return PING_FIXED_SIZE;
}

uint16_t build_begin_game_midgame_packet(void *packet, int32_t capacity, uint8_t to, int16_t count,
                                         const new_player_data *players)
{
    if (count > MAXIMUM_MIDGAME_PLAYERS || (count > 0 && !players)) return 0;
    const int16_t sent = count < 1 ? 0 : count;
    const int32_t total = BEGIN_GAME_MIDGAME_FIXED_SIZE + PLAYER_RECORD_SIZE * sent;
    if (!begin_packet(packet, capacity, _begin_game_midgame_packet, total, to)) return 0;
    uint8_t *out = body(packet);
    out[0] = (uint8_t)((uint16_t)count >> 8);
    out[1] = (uint8_t)count;
    if (sent > 0)
    {
        memcpy(out + 2, players, (size_t)(PLAYER_RECORD_SIZE * sent));
        byte_swap_data("new_player_data", out + 2, PLAYER_RECORD_SIZE, sent, new_player_data_byte_swapping_data);
    }
    return (uint16_t)total;
}

// ---- byte swap ---------------------------------------------------------------

static const byte_swap_code header_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte, _end_bs_array};
static const byte_swap_code chat_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte, 32,
                                             _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
                                             _end_bs_array};
static const byte_swap_code configuration_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte,
                                                      _2byte, _2byte, _4byte, _end_bs_array};
static const byte_swap_code player_sync_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte,
                                                    _2byte, _2byte, _end_bs_array};
static const byte_swap_code server_command_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte,
                                                       _2byte, _end_bs_array};
static const byte_swap_code player_data_fields[] = {_begin_bs_array, 1, _2byte, _2byte, 1, 1, _2byte,
                                                    _2byte, _2byte, _2byte, _end_bs_array};

static void swap(void *data, int32_t size, const byte_swap_code *codes)
{
    byte_swap_data("game packet", data, size, 1, codes);
}

void vesk_packet_byteswapping(void *packet, bool to_wire)
{
    if (!packet) return;
    net_message_header *header = (net_message_header *)packet;
    uint16_t what = header->what, length = header->messageLen;
    if (!to_wire)
    {
        what = (uint16_t)(what >> 8 | what << 8);
        length = (uint16_t)(length >> 8 | length << 8);
    }
    if (what >= NUMBER_OF_VESK_PACKETS) return;
    const bool whole = vesk_packet_size_is_valid(what, length);
    uint8_t *p = (uint8_t *)packet;
    switch (whole ? (int32_t)what : (int32_t)NUMBER_OF_VESK_PACKETS)
    {
    case _chat_packet: swap(p, CHAT_TEXT_OFFSET, chat_fields); return;
    case _configuration_packet: swap(p, sizeof(configuration_packet), configuration_fields); return;
    case _player_sync_data_packet: swap(p, sizeof(player_sync_data_packet), player_sync_fields); return;
    case _server_command_packet: swap(p, sizeof(server_command_packet), server_command_fields); return;
    case _command_packet:
        swap(p, 8, header_fields);
        byte_swap_command_header_big((command_header *)(p + 8));
        return;
    case _vesk_game_description_packet:
        swap(p, 8, header_fields);
        byte_swap_data("new_game_parameter_data", p + 8, 556, 1, new_game_parameter_data_byte_swapping_data);
        byte_swap_memory("game packet", p + 564, 2, _4byte);
        byte_swap_memory("game packet", p + 576, 1, _2byte);
        return;
    case _vesk_player_data_packet:
        swap(p, sizeof(vesk_set_player_data_packet), player_data_fields);
        byte_swap_data("new_player_data", p + sizeof(vesk_set_player_data_packet), PLAYER_RECORD_SIZE, 1,
                       new_player_data_byte_swapping_data);
        return;
    default: swap(p, 8, header_fields); return;
    }
}

// ---- extractors --------------------------------------------------------------

static uint16_t packet_length(const void *packet) { return ((const net_message_header *)packet)->messageLen; }

// Every extractor first asks the size table, so none reads a fixed field
// past a packet too short for its type, whoever calls it.
static bool sized(const void *packet, uint16_t what)
{
    if (packet && vesk_packet_size_is_valid(what, packet_length(packet))) return true;
    if (packet)
        LOG_REPEATED("game packet %u of %u bytes refused: not a size of its type", (unsigned)what,
                     (unsigned)packet_length(packet));
    return false;
}

const char *extract_text_from_chat_packet(const void *packet)
{
    if (!sized(packet, _chat_packet)) return nullptr;
    const int32_t length = packet_length(packet);
    const char *text = (const char *)packet + CHAT_TEXT_OFFSET;
    if (!memchr(text, 0, (size_t)(length - CHAT_TEXT_OFFSET))) return nullptr;
    return text;
}

void decode_chat_text(const char *shifted, char *text, int32_t size)
{
    if (!text || size <= 0) return;
    int32_t i = 0;
    for (; shifted && shifted[i] && i < size - 1; ++i) text[i] = (char)((uint8_t)shifted[i] - CHAT_TEXT_SHIFT);
    text[i] = 0;
}

bool game_description_packet_to_net_game_description(const void *packet, net_game_description *description)
{
    if (!description || !sized(packet, _vesk_game_description_packet)) return false;
    const int32_t length = packet_length(packet);
    const vesk_game_description_packet *p = (const vesk_game_description_packet *)packet;
    const char *names = (const char *)packet + VESK_GAME_DESCRIPTION_FIXED_SIZE;
    const int32_t room = length - VESK_GAME_DESCRIPTION_FIXED_SIZE;
    const char *name_end = room > 0 ? (const char *)memchr(names, 0, (size_t)room) : nullptr;
    const char *map = name_end ? name_end + 1 : nullptr;
    const char *map_end = map ? (const char *)memchr(map, 0, (size_t)(names + room - map)) : nullptr;
    if (!map_end || map_end + 1 != names + room || p->player_count > MAXIMUM_NETWORK_PLAYERS ||
        name_end - names >= NET_GAME_NAME_SIZE || map_end - map >= NET_GAME_MAP_NAME_SIZE)
    {
        LOG_REPEATED("game description of %d bytes refused: its names or %u players do not fit",
                     (int)length, (unsigned)p->player_count);
        return false;
    }
    char password[NET_GAME_PASSWORD_SIZE];
    memcpy(password, description->password, sizeof(password));
    memset(description, 0, sizeof(*description));
    memcpy(&description->parameters, p->parameters, sizeof(description->parameters));
    description->flags = p->flags;
    description->public_tags_checksum = (uint32_t)p->public_tags_checksum;
    description->private_tags_checksum = (uint32_t)p->private_tags_checksum;
    description->player_count = p->player_count;
    memcpy(description->name, names, (size_t)(name_end - names) + 1);
    memcpy(description->map_name, map, (size_t)(map_end - map) + 1);
    memcpy(description->password, password, sizeof(password));
    return true;
}

bool extract_ping_packet_latencies(uint16_t *latencies, int16_t count, const void *packet)
{
    if (!latencies || count < 0 || !sized(packet, _ping_packet) || packet_length(packet) < PING_FIXED_SIZE + 2 * count)
        return false;
    const uint8_t *in = (const uint8_t *)packet + PING_FIXED_SIZE;
    for (int16_t i = 0; i < count; ++i) latencies[i] = (uint16_t)(in[2 * i] << 8 | in[2 * i + 1]);
    return true;
}

bool extract_final_state_from_player_sync_data_packet(const void *packet, net_final_state *state)
{
    if (!state || !sized(packet, _player_sync_data_packet) || packet_length(packet) != PLAYER_SYNC_FINAL_STATE_SIZE)
        return false;
    const uint8_t *in = (const uint8_t *)packet + sizeof(player_sync_data_packet);
    state->tick = (int32_t)read_be32(in);
    state->state_hash = read_be32(in + 4);
    state->random_seed = read_be32(in + 8);
    return true;
}

bool extract_player_departure_notice(const void *packet, net_final_state *state, int32_t *reason)
{
    if (!state || !reason || !sized(packet, _player_sync_data_packet) ||
        packet_length(packet) != PLAYER_DEPARTURE_NOTICE_SIZE)
        return false;
    const uint8_t *in = (const uint8_t *)packet + sizeof(player_sync_data_packet);
    const int32_t said = (int32_t)read_be32(in + 12);
    if (said <= 0 || said >= NUMBER_OF_DEPARTURE_REASONS) return false;
    state->tick = (int32_t)read_be32(in);
    state->state_hash = read_be32(in + 4);
    state->random_seed = read_be32(in + 8);
    *reason = said;
    return true;
}

bool import_monster_initializers_from_coop_vets_packet(const void *packet)
{
    if (!sized(packet, _coop_vets_packet)) return false;
    return import_monster_initializers(body((void *)packet), packet_length(packet) - 8);
}

int16_t extract_players_from_begin_game_midgame_packet(const void *packet, new_player_data *players, int16_t maximum)
{
    if (!players || !sized(packet, _begin_game_midgame_packet)) return -1;
    const uint8_t *in = (const uint8_t *)packet + 8;
    const int16_t count = (int16_t)(in[0] << 8 | in[1]);
    if (count < 1 || count > MAXIMUM_MIDGAME_PLAYERS || count > maximum ||
        packet_length(packet) != BEGIN_GAME_MIDGAME_FIXED_SIZE + PLAYER_RECORD_SIZE * count)
    {
        LOG_REPEATED("midgame packet of %u bytes refused: it names %d players",
                     (unsigned)packet_length(packet), (int)count);
        return -1;
    }
    memcpy(players, in + 2, (size_t)(PLAYER_RECORD_SIZE * count));
    byte_swap_data("new_player_data", players, PLAYER_RECORD_SIZE, count, new_player_data_byte_swapping_data);
    return count;
}
