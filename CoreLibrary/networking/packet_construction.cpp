#include "packet_construction.h"

#include <cstdio>
#include <cstring>

#include "cseries/cseries.h"
#include "network_constants.h"
#include "packet_definitions.h"
#include "public_packet_definitions.h"

// A packet under construction: appends past the room refuse the whole packet.
struct packet_writer
{
    uint8_t *bytes;
    int32_t room; // the smaller of the caller's capacity and the protocol's limit
    int32_t length;
    const char *refusal; // why the packet was refused; null while it fits
};

static packet_writer start_packet(void *packet, int32_t capacity, uint16_t what, uint8_t to)
{
    packet_writer writer = {(uint8_t *)packet, capacity < MAXIMUM_SINGLE_PACKET_SIZE ? capacity
                                                                                    : MAXIMUM_SINGLE_PACKET_SIZE,
                            0, nullptr};
    if (!VASSERT(packet, "packet")) writer.refusal = "no buffer";
    else if (writer.room < (int32_t)sizeof(net_message_header)) writer.refusal = "no room for the header";
    else
    {
        const net_message_header header = {what, 0, to, 0, 0};
        memcpy(writer.bytes, &header, sizeof(header));
        writer.length = sizeof(header);
    }
    return writer;
}

static void append_bytes(packet_writer *writer, const void *data, int32_t length)
{
    if (writer->refusal) return;
    if (length < 0 || (length > 0 && !data)) writer->refusal = "a negative length or missing data";
    else if (length > writer->room - writer->length) writer->refusal = "too long for the packet";
    else
    {
        if (length > 0) memcpy(writer->bytes + writer->length, data, (size_t)length);
        writer->length += length;
    }
}

static void append_string(packet_writer *writer, const char *text)
{
    if (!text) text = "";
    append_bytes(writer, text, (int32_t)strlen(text) + 1);
}

static void append_int16(packet_writer *writer, int16_t value)
{
    append_bytes(writer, &value, sizeof(value));
}

static void check_data_length(packet_writer *writer, int32_t length, int32_t maximum, const char *refusal)
{
    if (!writer->refusal && length > maximum) writer->refusal = refusal;
}

// messageLen, or 0 after logging why the packet was refused.
static int32_t finish_packet(packet_writer *writer, const char *name)
{
    if (writer->refusal)
    {
        LOG_REPEATED("%s refused: %s", name, writer->refusal);
        return 0;
    }
    const uint16_t length = (uint16_t)writer->length;
    memcpy(writer->bytes + offsetof(net_message_header, messageLen), &length, sizeof(length));
    return writer->length;
}

static uint16_t library_what(int32_t type)
{
    return (uint16_t)(kNetLibPacketBit | type);
}

static const char player_data_too_long[] = "player data longer than a player's record";
static const char game_data_too_long[] = "game data longer than 480 bytes";

int32_t build_join_request_packet(void *packet, int32_t capacity, uint8_t to, const char *name,
                                  const char *password, const void *data, int32_t data_length)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_join_request_packet), to);
    check_data_length(&writer, data_length, NETWORK_PLAYER_DATA_SIZE, player_data_too_long);
    append_string(&writer, name);
    append_string(&writer, password);
    append_bytes(&writer, data, data_length);
    return finish_packet(&writer, "join request");
}

int32_t build_player_data_changed_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                         const void *data, int32_t data_length)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_player_data_changed_packet), to);
    check_data_length(&writer, data_length, NETWORK_PLAYER_DATA_SIZE, player_data_too_long);
    append_int16(&writer, player_id);
    append_bytes(&writer, data, data_length);
    return finish_packet(&writer, "player data changed");
}

static int32_t build_game_data(void *packet, int32_t capacity, int32_t type, uint8_t to, const void *data,
                               int32_t data_length, const char *name)
{
    packet_writer writer = start_packet(packet, capacity, library_what(type), to);
    check_data_length(&writer, data_length, MAXIMUM_USER_GAME_DATA_SIZE, game_data_too_long);
    append_bytes(&writer, data, data_length);
    return finish_packet(&writer, name);
}

int32_t build_game_data_changed_packet(void *packet, int32_t capacity, uint8_t to, const void *data,
                                       int32_t data_length)
{
    return build_game_data(packet, capacity, _game_data_changed_packet, to, data, data_length, "game data changed");
}

int32_t build_game_data_packet(void *packet, int32_t capacity, uint8_t to, const void *data, int32_t data_length)
{
    return build_game_data(packet, capacity, _game_data_packet, to, data, data_length, "game data");
}

int32_t build_new_player_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id, const char *name,
                                const void *data, int32_t data_length)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_new_player_packet), to);
    check_data_length(&writer, data_length, NETWORK_PLAYER_DATA_SIZE, player_data_too_long);
    append_int16(&writer, player_id);
    const uint16_t flags = to == player_id ? FLAG(_sent_new_player_packet_to_owner_flag_bit) : 0;
    append_bytes(&writer, &flags, sizeof(flags));
    append_string(&writer, name);
    append_bytes(&writer, data, data_length);
    return finish_packet(&writer, "new player");
}

int32_t build_join_request_denied_packet(void *packet, int32_t capacity, uint8_t to, const char *message,
                                         int32_t error)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_join_request_denied_packet), to);
    append_string(&writer, message);
    if (error != -1)
    {
        char code[24];
        snprintf(code, sizeof(code), "error=%d", (int)error);
        append_string(&writer, code);
    }
    return finish_packet(&writer, "join request denied");
}

int32_t build_server_deleted_player_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_server_deleted_player_packet), to);
    append_int16(&writer, player_id);
    return finish_packet(&writer, "server deleted player");
}

int32_t build_client_connection_closed_packet(void *packet, int32_t capacity, uint8_t to)
{
    packet_writer writer = start_packet(packet, capacity, library_what(_client_connection_closed_packet), to);
    return finish_packet(&writer, "client connection closed");
}

// A status packet comes from the host's side of the library.
static packet_writer start_public_packet(void *packet, int32_t capacity, int32_t type, uint8_t to)
{
    packet_writer writer = start_packet(packet, capacity, library_what(type), to);
    if (!writer.refusal) writer.bytes[offsetof(net_message_header, from)] = kSendToServer;
    return writer;
}

int32_t build_game_data_packet_public(void *packet, int32_t capacity, uint8_t to, const void *data,
                                      int32_t length)
{
    packet_writer writer = start_public_packet(packet, capacity, _game_data_packet_public, to);
    check_data_length(&writer, length, MAXIMUM_USER_GAME_DATA_SIZE, game_data_too_long);
    append_int16(&writer, (int16_t)length);
    append_bytes(&writer, data, length);
    return finish_packet(&writer, "game data status");
}

int32_t build_player_data_changed_packet_public(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                                const void *data, int32_t length)
{
    packet_writer writer = start_public_packet(packet, capacity, _player_data_changed_packet_public, to);
    check_data_length(&writer, length, NETWORK_PLAYER_DATA_SIZE, player_data_too_long);
    append_int16(&writer, player_id);
    append_int16(&writer, (int16_t)length);
    append_bytes(&writer, data, length);
    return finish_packet(&writer, "player data changed status");
}

// ---- readers ------------------------------------------------------------

// The packet's length when it is of library or status type `type` and holds
// at least `minimum` bytes; 0 (logged) otherwise.
static int32_t checked_length(const void *packet, int32_t type, int32_t minimum, const char *name)
{
    if (!VASSERT(packet, "packet")) return 0;
    net_message_header header;
    memcpy(&header, packet, sizeof(header));
    if (header.what != library_what(type))
    {
        LOG_REPEATED("%s refused: type 0x%04x", name, (unsigned)header.what);
        return 0;
    }
    if (header.messageLen < minimum || header.messageLen > MAXIMUM_SINGLE_PACKET_SIZE)
    {
        LOG_REPEATED("%s refused: %u bytes", name, (unsigned)header.messageLen);
        return 0;
    }
    return header.messageLen;
}

// The terminated text at `offset`, or null when no terminator lies before `end`.
static const char *bounded_string(const void *packet, int32_t offset, int32_t end)
{
    const char *text = (const char *)packet + offset;
    return offset < end && memchr(text, 0, (size_t)(end - offset)) ? text : nullptr;
}

static int16_t read_int16(const void *packet, int32_t offset)
{
    int16_t value;
    memcpy(&value, (const uint8_t *)packet + offset, sizeof(value));
    return value;
}

bool parse_join_request_packet(const void *packet, const char **name, const char **password, const void **data,
                               int32_t *data_length)
{
    const int32_t length = checked_length(packet, _join_request_packet, LIBRARY_PACKET_BODY_OFFSET + 2,
                                          "join request");
    if (!length) return false;
    const char *found_name = bounded_string(packet, LIBRARY_PACKET_BODY_OFFSET, length);
    const int32_t password_offset = found_name ? LIBRARY_PACKET_BODY_OFFSET + (int32_t)strlen(found_name) + 1 : 0;
    const char *found_password = found_name ? bounded_string(packet, password_offset, length) : nullptr;
    if (!found_password)
    {
        LOG_REPEATED("join request refused: a name or password without its terminator");
        return false;
    }
    const int32_t data_offset = password_offset + (int32_t)strlen(found_password) + 1;
    if (length - data_offset > NETWORK_PLAYER_DATA_SIZE)
    {
        LOG_REPEATED("join request refused: %d bytes of player data", length - data_offset);
        return false;
    }
    if (name) *name = found_name;
    if (password) *password = found_password;
    if (data) *data = (const uint8_t *)packet + data_offset;
    if (data_length) *data_length = length - data_offset;
    return true;
}

const char *get_name_from_new_player_packet(const void *packet)
{
    const int32_t length = checked_length(packet, _new_player_packet, NEW_PLAYER_NAME_OFFSET + 1, "new player");
    if (!length) return nullptr;
    const char *name = bounded_string(packet, NEW_PLAYER_NAME_OFFSET, length);
    if (!name) LOG_REPEATED("new player refused: a name without its terminator");
    return name;
}

const void *get_player_data_from_new_player_packet(const void *packet, int32_t *length)
{
    const char *name = get_name_from_new_player_packet(packet);
    if (!name) return nullptr;
    const int32_t packet_length = read_int16(packet, offsetof(net_message_header, messageLen)) & 0xFFFF;
    const int32_t offset = NEW_PLAYER_NAME_OFFSET + (int32_t)strlen(name) + 1;
    if (packet_length - offset > NETWORK_PLAYER_DATA_SIZE)
    {
        LOG_REPEATED("new player refused: %d bytes of player data", packet_length - offset);
        return nullptr;
    }
    if (length) *length = packet_length - offset;
    return (const uint8_t *)packet + offset;
}

// Data of `declared` bytes at `offset` must end the packet exactly and stay
// within `maximum`.
static const void *status_data(const void *packet, int32_t packet_length, int32_t offset, int32_t declared,
                               int32_t maximum, int32_t *length, const char *name)
{
    if (declared < 0 || declared > maximum || offset + declared != packet_length)
    {
        LOG_REPEATED("%s refused: %d bytes of data in %d", name, declared, packet_length);
        return nullptr;
    }
    if (length) *length = declared;
    return (const uint8_t *)packet + offset;
}

const void *extract_game_data_from_packet(const void *packet, int32_t *length)
{
    const int32_t packet_length = checked_length(packet, _game_data_packet_public, GAME_DATA_PUBLIC_DATA_OFFSET,
                                                 "game data status");
    if (!packet_length) return nullptr;
    return status_data(packet, packet_length, GAME_DATA_PUBLIC_DATA_OFFSET,
                       read_int16(packet, GAME_DATA_PUBLIC_LENGTH_OFFSET), MAXIMUM_USER_GAME_DATA_SIZE, length,
                       "game data status");
}

const void *extract_player_data_from_packet(const void *packet, int32_t *length)
{
    const int32_t packet_length = checked_length(packet, _player_data_changed_packet_public,
                                                 PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET, "player data status");
    if (!packet_length) return nullptr;
    return status_data(packet, packet_length, PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET,
                       read_int16(packet, PLAYER_DATA_CHANGED_PUBLIC_LENGTH_OFFSET), NETWORK_PLAYER_DATA_SIZE,
                       length, "player data status");
}
