// The lobby service's packets.  See metaserver_packets.h.

#include "metaserver_lib/metaserver_packets.h"

#include <algorithm>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "networking/network_queues.h"
#include "statistics.h"

constexpr int32_t HEADER = METASERVER_PACKET_HEADER_SIZE;
constexpr int32_t STANDINGS_HEAD = DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET; // with the team records
constexpr int32_t STANDINGS_PLAYER = DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE;

// ---- byte-swap descriptions -----------------------------------------------------

static const byte_swap_code header_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte, _end_bs_array};
static const byte_swap_code room_info_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte, _2byte, _2byte, _2byte,
                                              _2byte, _2byte, _2byte, _2byte, _2byte, _end_bs_array};
static const byte_swap_code player_aux_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, _4byte,
                                               _2byte, _2byte, _2byte, _2byte, _end_bs_array};
static const byte_swap_code game_aux_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _2byte, 1, 1, _4byte, _4byte,
                                             _2byte, 2, 8, _end_bs_array};
static const byte_swap_code data_chunk_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _4byte, _4byte, _end_bs_array};
static const byte_swap_code login_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, _2byte, _2byte,
                                          32, 32, 32, 32, MAXIMUM_METASERVER_PLAYER_DATA_SIZE, _2byte, _2byte,
                                          _end_bs_array};
static const byte_swap_code score_datum_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _4byte,
                                                _4byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _4byte,
                                                16, _end_bs_array};
static const byte_swap_code game_rank_bs[] = {_begin_bs_array, 1, 32, _4byte, _4byte, _4byte, _4byte, _4byte,
                                              _4byte, _4byte, _4byte, _4byte, _4byte, _end_bs_array};
static const byte_swap_code player_info_head_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _2byte, _2byte,
                                                     _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
                                                     _2byte, _end_bs_array};
static const byte_swap_code update_info_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _2byte, _2byte, _end_bs_array};
static const byte_swap_code buddy_bs[] = {_begin_bs_array, 1, _4byte, 4, _end_bs_array};
static const byte_swap_code order_member_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _end_bs_array};

static bool swap(uint8_t *data, int32_t size, int32_t count, const byte_swap_code *codes)
{
    return count <= 0 || byte_swap_data("lobby packet", data, size, count, codes);
}

static void swap_words(uint8_t *data, int32_t count, int16_t code)
{
    if (count > 0) byte_swap_memory("lobby packet", data, count, code);
}

// ---- sizes --------------------------------------------------------------------

int32_t metaserver_packet_minimum_length(int16_t type)
{
    switch (type)
    {
    case _room_list_packet:
    case _player_list_packet:
    case _game_list_packet:
    case _game_list_pref_packet:
    case _player_search_list_packet:
    case _buddy_list_packet:
    case _order_list_packet:
    case _message_of_the_day_packet:
    case _send_versions_packet:
    case _you_just_got_drunmed_sucka_packet:
    case _logout_packet:
    case _set_player_data_packet:
    case _remove_game_packet:
    case _password_response_packet:
    case _request_full_update_packet:
    case _reset_game_packet:
    case _player_search_query_packet:
    case _buddy_query_packet:
    case _order_query_packet:
    case _update_player_information_packet:
    case _room_broadcast_packet:
    case _keepalive_packet:
    case _session_key_packet:
    case _recording_stream_header_packet:
    case _recording_stream_command_packet:
    case _room_login_packet: return HEADER;
    case _server_message_packet:
    case _url_packet:
    case _player_info_query_packet:
    case _recording_stream_end_packet:
    case _game_player_list_packet: return HEADER + 4;
    case _data_chunk_packet:
    case _data_chunk_reply_packet: return HEADER + (int32_t)sizeof(data_chunk_identifier_data);
    case _password_challenge_packet:
    case _change_room_packet:
    case _set_player_mode_packet: return HEADER + 2;
    case _proxy_client_join_packet: return HEADER + (int32_t)sizeof(proxy_client_join_packet);
    case _user_successful_login_packet:
    case _room_login_successful_packet:
    case _update_buddy_packet:
    case _directed_data_packet: return 16;
    case _set_player_data_from_metaserver_packet: return HEADER + (int32_t)sizeof(metaserver_player_aux_data);
    case _player_info_packet: return HEADER + (int32_t)sizeof(player_info_packet);
    case _update_info_packet: return HEADER + (int32_t)sizeof(update_info_packet);
    case _update_player_buddy_list_packet: return HEADER + 16 * (int32_t)sizeof(buddy_entry);
    case _update_order_member_list_packet: return HEADER + 4;
    case _login_packet: return HEADER + (int32_t)sizeof(login_data);
    case _create_game_packet: return HEADER + 4;
    case _game_score_packet: return HEADER + 4 + STANDINGS_HEAD;
    case _start_game_packet: return 20;
    case _version_control_packet: return 24;
    default: return 0;
    }
}

// ---- builders -------------------------------------------------------------------

static uint8_t *begin(void *buffer, int32_t capacity, int16_t type, int32_t length)
{
    if (!buffer || length < HEADER || length > capacity || length > METASERVER_LINEAR_BUFFER_SIZE)
    {
        log_message(__FILE__, __LINE__, "lobby packet %d of %d bytes refused: the buffer holds %d", (int)type,
                    (int)length, (int)capacity);
        return nullptr;
    }
    packet_header *header = (packet_header *)buffer;
    header->packet_identifier = PACKET_IDENTIFIER;
    header->type = type;
    header->length = length;
    return (uint8_t *)buffer + HEADER;
}

static int32_t empty_packet(void *buffer, int32_t capacity, int16_t type)
{
    return begin(buffer, capacity, type, HEADER) ? HEADER : 0;
}

static int32_t data_packet(void *buffer, int32_t capacity, int16_t type, const void *data, int32_t length)
{
    if (length < 0 || (length > 0 && !data)) return 0;
    uint8_t *body = begin(buffer, capacity, type, HEADER + length);
    if (!body) return 0;
    if (length > 0) memmove(body, data, (size_t)length);
    return HEADER + length;
}

static int32_t words_packet(void *buffer, int32_t capacity, int16_t type, std::initializer_list<int32_t> words)
{
    uint8_t *body = begin(buffer, capacity, type, HEADER + 4 * (int32_t)words.size());
    if (!body) return 0;
    for (int32_t word : words)
    {
        memcpy(body, &word, 4);
        body += 4;
    }
    return HEADER + 4 * (int32_t)words.size();
}

static int32_t short_packet(void *buffer, int32_t capacity, int16_t type, int16_t value)
{
    uint8_t *body = begin(buffer, capacity, type, HEADER + 2);
    if (!body) return 0;
    memcpy(body, &value, 2);
    return HEADER + 2;
}

int32_t build_login_packet(void *buffer, int32_t capacity, const login_data *login)
{
    return login ? data_packet(buffer, capacity, _login_packet, login, sizeof(*login)) : 0;
}

int32_t build_room_login_packet(void *buffer, int32_t capacity, const uint8_t token[MAXIMUM_HANDOFF_TOKEN_SIZE],
                                const char *user_name)
{
    if (!token || !user_name) return 0;
    const int32_t name = (int32_t)strnlen(user_name, MAXIMUM_METASERVER_USERNAME);
    uint8_t *body = begin(buffer, capacity, _room_login_packet, HEADER + MAXIMUM_HANDOFF_TOKEN_SIZE + name + 1);
    if (!body) return 0;
    memcpy(body, token, MAXIMUM_HANDOFF_TOKEN_SIZE);
    memcpy(body + MAXIMUM_HANDOFF_TOKEN_SIZE, user_name, (size_t)name);
    body[MAXIMUM_HANDOFF_TOKEN_SIZE + name] = 0;
    return HEADER + MAXIMUM_HANDOFF_TOKEN_SIZE + name + 1;
}

int32_t build_logout_packet(void *buffer, int32_t capacity) { return empty_packet(buffer, capacity, _logout_packet); }

int32_t build_set_player_data_packet(void *buffer, int32_t capacity, const void *data, int32_t length)
{
    if (length > MAXIMUM_METASERVER_PLAYER_DATA_SIZE) return 0;
    return data_packet(buffer, capacity, _set_player_data_packet, data, length);
}

int32_t build_game_packet(void *buffer, int32_t capacity, int16_t port, int16_t order_game, const void *data,
                          int32_t length)
{
    if (length < 0 || length > MAXIMUM_METASERVER_GAME_DATA_SIZE || (length > 0 && !data)) return 0;
    uint8_t *body = begin(buffer, capacity, _create_game_packet, HEADER + 4 + length);
    if (!body) return 0;
    memcpy(body, &port, 2);
    memcpy(body + 2, &order_game, 2);
    if (length > 0) memcpy(body + 4, data, (size_t)length);
    return HEADER + 4 + length;
}

int32_t build_remove_game_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _remove_game_packet);
}

int32_t build_change_room_packet(void *buffer, int32_t capacity, int16_t room_id)
{
    return short_packet(buffer, capacity, _change_room_packet, room_id);
}

int32_t build_set_player_mode_packet(void *buffer, int32_t capacity, int16_t mode)
{
    return short_packet(buffer, capacity, _set_player_mode_packet, mode);
}

int32_t build_data_chunk_reply_packet(void *buffer, int32_t capacity, const data_chunk_identifier_data *chunk)
{
    return chunk ? data_packet(buffer, capacity, _data_chunk_reply_packet, chunk, sizeof(*chunk)) : 0;
}

int32_t build_password_response_packet(void *buffer, int32_t capacity, const void *response, int32_t length)
{
    return data_packet(buffer, capacity, _password_response_packet, response, length);
}

int32_t build_request_full_update_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _request_full_update_packet);
}

int32_t start_building_game_player_list_packet(void *buffer, int32_t capacity, int32_t game_id)
{
    return words_packet(buffer, capacity, _game_player_list_packet, {game_id});
}

bool add_game_player_data_to_packet(void *buffer, int32_t capacity, uint32_t player_id)
{
    packet_header *header = (packet_header *)buffer;
    if (!buffer || !VASSERT(header->packet_identifier == PACKET_IDENTIFIER,
                            "header->packet_identifier==PACKET_IDENTIFIER"))
        return false;
    if (header->length < HEADER || header->length + 4 > capacity) return false;
    memcpy((uint8_t *)buffer + header->length, &player_id, 4);
    header->length += 4;
    return true;
}

int32_t build_game_score_packet(void *buffer, int32_t capacity, uint32_t game_id,
                                const draxil_net_game_standings *standings)
{
    if (!standings) return 0;
    const int32_t players = std::max<int32_t>(MINIMUM_DRAXIL_NET_GAME_STANDINGS_PLAYERS,
                                              std::min<int32_t>(standings->number_of_players, MAXIMUM_PLAYERS_PER_GAME));
    const int32_t standings_size = STANDINGS_HEAD + STANDINGS_PLAYER * players;
    uint8_t *body = begin(buffer, capacity, _game_score_packet, HEADER + 4 + standings_size);
    if (!body) return 0;
    memcpy(body, &game_id, 4);
    memcpy(body + 4, standings, (size_t)standings_size);
    return HEADER + 4 + standings_size;
}

int32_t build_reset_game_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _reset_game_packet);
}

int32_t build_start_game_packet(void *buffer, int32_t capacity, int32_t game_seconds)
{
    return words_packet(buffer, capacity, _start_game_packet, {game_seconds, 0, 0});
}

int32_t build_version_control_packet(void *buffer, int32_t capacity, int32_t platform, int32_t version,
                                     int32_t patch, int32_t build)
{
    return words_packet(buffer, capacity, _version_control_packet, {platform, version, patch, build});
}

int32_t build_player_search_query_packet(void *buffer, int32_t capacity, const char *text)
{
    return text ? data_packet(buffer, capacity, _player_search_query_packet, text, (int32_t)strlen(text) + 1) : 0;
}

int32_t build_buddy_query_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _buddy_query_packet);
}

int32_t build_order_query_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _order_query_packet);
}

int32_t build_update_buddy_packet(void *buffer, int32_t capacity, int32_t player_id, bool add)
{
    return words_packet(buffer, capacity, _update_buddy_packet, {player_id, add ? 1 : 0});
}

int32_t build_player_info_query_packet(void *buffer, int32_t capacity, int32_t player_id)
{
    return words_packet(buffer, capacity, _player_info_query_packet, {player_id});
}

int32_t build_update_player_information_packet(void *buffer, int32_t capacity, const char *city, const char *state,
                                               const char *country, const char *personal)
{
    const char *strings[4] = {city, state, country, personal};
    uint8_t text[UPDATE_PLAYER_INFORMATION_STRINGS_SIZE];
    int32_t used = 0;
    bool cut = false;
    for (int32_t i = 0; i < 4; ++i)
    {
        // Room for this string's characters once it and every later string
        // keep their terminators.
        const int32_t room = UPDATE_PLAYER_INFORMATION_STRINGS_SIZE - used - (4 - i);
        const size_t length = cut || !strings[i] ? 0 : strlen(strings[i]);
        const int32_t taken = (int32_t)std::min<size_t>(length, (size_t)room);
        if ((size_t)taken < length) cut = true;
        if (taken > 0) memcpy(text + used, strings[i], (size_t)taken);
        text[used + taken] = 0;
        used += taken + 1;
    }
    return data_packet(buffer, capacity, _update_player_information_packet, text, used);
}

int32_t build_room_broadcast_packet(void *buffer, int32_t capacity, const void *data, int32_t length)
{
    return data_packet(buffer, capacity, _room_broadcast_packet, data, length);
}

int32_t build_directed_data_packet(void *buffer, int32_t capacity, uint32_t target_player, const void *data,
                                   int32_t length)
{
    if (length < 0 || (length > 0 && !data)) return 0;
    uint8_t *body = begin(buffer, capacity, _directed_data_packet, HEADER + 8 + length);
    if (!body) return 0;
    const int32_t one = 1;
    memcpy(body, &target_player, 4);
    memcpy(body + 4, &one, 4);
    if (length > 0) memcpy(body + 8, data, (size_t)length);
    return HEADER + 8 + length;
}

int32_t build_keepalive_packet(void *buffer, int32_t capacity)
{
    return empty_packet(buffer, capacity, _keepalive_packet);
}

int32_t build_sessionkey_packet(void *buffer, int32_t capacity, const uint8_t public_key[8])
{
    return public_key ? data_packet(buffer, capacity, _session_key_packet, public_key, 8) : 0;
}

int32_t build_recording_stream_header_packet(void *buffer, int32_t capacity, const void *data, int32_t length)
{
    return data_packet(buffer, capacity, _recording_stream_header_packet, data, length);
}

int32_t build_recording_stream_command_packet(void *buffer, int32_t capacity, const void *data, int32_t length)
{
    return data_packet(buffer, capacity, _recording_stream_command_packet, data, length);
}

int32_t build_recording_stream_end_packet(void *buffer, int32_t capacity, int32_t value)
{
    return words_packet(buffer, capacity, _recording_stream_end_packet, {value});
}

// ---- byte swap ------------------------------------------------------------------

// A 16- or 32-bit field as the host reads it, whichever order the packet is in.
static int32_t field16(const uint8_t *p, bool host_order)
{
    int16_t value;
    if (host_order) memcpy(&value, p, 2);
    else value = (int16_t)read_be16(p);
    return value;
}

static int32_t field32(const uint8_t *p, bool host_order)
{
    int32_t value;
    if (host_order) memcpy(&value, p, 4);
    else value = (int32_t)read_be32(p);
    return value;
}

static bool refuse(int16_t type, int32_t length, const char *why)
{
    log_message(__FILE__, __LINE__, "lobby packet %d of %d bytes refused: %s", (int)type, (int)length, why);
    return false;
}

// Entries of `aux` bytes each followed by the data length its 16-bit field at
// `length_offset` gives (read before swapping when outgoing), from `start`
// to exactly `end`; each entry may have a 4-byte room id in front.
static bool walk_entries(uint8_t *p, int32_t start, int32_t end, int32_t prefix, int32_t aux, int32_t length_offset,
                         const byte_swap_code *codes, bool outgoing, int16_t type)
{
    int32_t at = start;
    while (at < end)
    {
        if (end - at < prefix + aux) return refuse(type, end, "an entry runs past the packet");
        const int32_t data = field16(p + at + prefix + length_offset, outgoing);
        if (data < 0 || data > end - at - prefix - aux) return refuse(type, end, "an entry's data runs past the packet");
        at += prefix + aux + data;
    }
    for (at = start; at < end;)
    {
        const int32_t data = field16(p + at + prefix + length_offset, outgoing);
        if (prefix) swap_words(p + at, 1, _4byte);
        swap(p + at + prefix, aux, 1, codes);
        at += prefix + aux + data;
    }
    return true;
}

bool byteswap_packet(void *packet, int32_t available, bool outgoing)
{
    if (!packet || available < HEADER) return false;
    uint8_t *p = (uint8_t *)packet;
    const int16_t type = (int16_t)field16(p + 2, outgoing);
    const int32_t length = field32(p + 4, outgoing);
    const int32_t minimum = metaserver_packet_minimum_length(type);
    if (minimum == 0) return refuse(type, length, "What is packet type?");
    if (length < minimum || length > available) return refuse(type, length, "its length does not fit its type");
    const int32_t body = length - HEADER;
    bool ok = true;
    switch (type)
    {
    case _room_list_packet:
        if (body % (int32_t)sizeof(room_info) != 0) return refuse(type, length, "not whole room entries");
        ok = swap(p + HEADER, sizeof(room_info), body / (int32_t)sizeof(room_info), room_info_bs);
        break;
    case _game_player_list_packet:
        if ((body - 4) % 4 != 0) return refuse(type, length, "not whole player entries");
        swap_words(p + HEADER, body / 4, _4byte);
        break;
    case _player_list_packet:
        ok = walk_entries(p, HEADER, length, 0, sizeof(metaserver_player_aux_data),
                          offsetof(metaserver_player_aux_data, player_data_length), player_aux_bs, outgoing, type);
        break;
    case _game_list_packet:
    case _game_list_pref_packet:
        ok = walk_entries(p, HEADER, length, 0, sizeof(metaserver_game_aux_data),
                          offsetof(metaserver_game_aux_data, game_data_size), game_aux_bs, outgoing, type);
        break;
    case _player_search_list_packet:
    case _buddy_list_packet:
    case _order_list_packet:
        ok = walk_entries(p, HEADER, length, 4, sizeof(metaserver_player_aux_data),
                          offsetof(metaserver_player_aux_data, player_data_length), player_aux_bs, outgoing, type);
        break;
    case _player_info_packet:
    {
        uint8_t *at = p + HEADER;
        swap(at, 28, 1, player_info_head_bs);
        swap(at + 28, sizeof(draxil_net_player_score_datum), NUMBER_OF_SCORE_DATUMS, score_datum_bs);
        at += offsetof(player_info_packet, overall_rank_data);
        swap_words(at, 2, _4byte);
        swap(at + 8, sizeof(game_rank_data), NUMBER_OF_SCORE_DATUMS, game_rank_bs);
        break;
    }
    case _update_order_member_list_packet:
    {
        const int32_t count = field32(p + HEADER, outgoing);
        if (count < 0 || count > MAXIMUM_ORDER_MEMBERS || 4 + count * (int32_t)sizeof(order_member) > body)
            return refuse(type, length, "its member count does not fit");
        swap_words(p + HEADER, 1, _4byte);
        ok = swap(p + HEADER + 4, sizeof(order_member), count, order_member_bs);
        break;
    }
    case _game_score_packet:
    {
        const int32_t players_offset = HEADER + 4 + STANDINGS_HEAD;
        const int32_t declared = field16(p + HEADER + 4 + offsetof(draxil_net_game_standings, number_of_players),
                                         outgoing);
        const int32_t fit = (length - players_offset) / STANDINGS_PLAYER;
        const int32_t count = std::min(fit, std::max<int32_t>(MINIMUM_DRAXIL_NET_GAME_STANDINGS_PLAYERS,
                                                              std::min<int32_t>(declared, MAXIMUM_PLAYERS_PER_GAME)));
        swap_words(p + HEADER, 1, _4byte);
        swap(p + HEADER + 4, STANDINGS_HEAD, 1, draxil_net_game_standings_byte_swapping_data);
        ok = swap(p + players_offset, STANDINGS_PLAYER, count, draxil_net_game_standings_player_byte_swapping_data);
        break;
    }
    case _server_message_packet:
    case _url_packet:
    case _player_info_query_packet:
    case _recording_stream_end_packet: swap_words(p + HEADER, 1, _4byte); break;
    case _data_chunk_packet:
    case _data_chunk_reply_packet: swap(p + HEADER, sizeof(data_chunk_identifier_data), 1, data_chunk_bs); break;
    case _password_challenge_packet:
    case _proxy_client_join_packet:
    case _change_room_packet:
    case _set_player_mode_packet: swap_words(p + HEADER, 1, _2byte); break;
    case _user_successful_login_packet:
        swap_words(p + HEADER, 1, _4byte);
        swap_words(p + HEADER + 4, 2, _2byte);
        break;
    case _set_player_data_from_metaserver_packet: swap(p + HEADER, 24, 1, player_aux_bs); break;
    case _room_login_successful_packet:
        swap_words(p + HEADER, 1, _4byte);
        swap_words(p + HEADER + 4, 2, _2byte);
        break;
    case _update_info_packet: swap(p + HEADER, sizeof(update_info_packet), 1, update_info_bs); break;
    case _update_player_buddy_list_packet: ok = swap(p + HEADER, sizeof(buddy_entry), 16, buddy_bs); break;
    case _login_packet: swap(p + HEADER, sizeof(login_data), 1, login_bs); break;
    case _create_game_packet: swap_words(p + HEADER, 2, _2byte); break;
    case _start_game_packet: swap_words(p + HEADER, 1, _4byte); break;
    case _version_control_packet: swap_words(p + HEADER, 4, _4byte); break;
    case _update_buddy_packet:
    case _directed_data_packet: swap_words(p + HEADER, 2, _4byte); break;
    default: break; // the header alone
    }
    if (!ok) return refuse(type, length, "its entries do not fit");
    swap(p, HEADER, 1, header_bs);
    return true;
}

// ---- the stream -----------------------------------------------------------------

metaserver_stream_result parse_network_stream(circular_queue *queue, void *buffer, int32_t size)
{
    if (!buffer || !valid_queue(queue)) return _metaserver_stream_broken;
    const int32_t queued = circular_buffer_size(queue);
    if (queued < HEADER) return _metaserver_stream_incomplete;
    uint8_t header[HEADER];
    for (int32_t i = 0; i < HEADER; ++i) header[i] = queue->buffer[(queue->read_index + i) % queue->size];
    const int32_t length = (int32_t)read_be32(header + 4);
    if (length < HEADER || length > size)
    {
        log_message(__FILE__, __LINE__, "lobby stream '%s' broken: a packet of %d bytes", queue->name, (int)length);
        return _metaserver_stream_broken;
    }
    if (length > queued) return _metaserver_stream_incomplete;
    uint8_t *out = (uint8_t *)buffer;
    const int32_t first = std::min(length, queue->size - queue->read_index);
    memcpy(out, queue->buffer + queue->read_index, (size_t)first);
    memcpy(out + first, queue->buffer, (size_t)(length - first));
    queue->read_index = (queue->read_index + length) % queue->size;
    return _metaserver_stream_packet;
}
