#pragma once
// The chat payload the game carries inside lobby room broadcasts and directed
// data: a 24-byte big-endian record, the sender's name and the text, each
// terminated.

#include <cstddef>
#include <cstdint>

struct rgb_color;

enum
{
    _vesk_metaserver_chat_packet = 0, // the only payload type
    _chat_message_directed_flag = 1,
    MAXIMUM_METASERVER_CHAT_TEXT = 255,
    // The record, a name of 31 characters and a text of 255, with terminators.
    MAXIMUM_VESK_METASERVER_CHAT_SIZE = 24 + 32 + 256,
};

struct vesk_metaserver_chat_data
{
    int16_t type;
    int16_t length; // the whole payload
    uint16_t color[4]; // red, green, blue swapped; the fourth word travels as it is
    uint16_t flags;
    uint16_t pad;
    uint32_t player_id; // the sender's lobby identifier
    uint32_t selected_player_id; // the target; 0xFFFFFFFF for the room
};
static_assert(sizeof(vesk_metaserver_chat_data) == 24);
static_assert(offsetof(vesk_metaserver_chat_data, flags) == 12);
static_assert(offsetof(vesk_metaserver_chat_data, player_id) == 16);

// Writes the payload in host order into `buffer` (MAXIMUM_VESK_METASERVER_CHAT_SIZE
// bytes) and returns its length.  `color` null: black; `name` null: none.
// The name is cut to 31 characters and the text to 255.
int32_t build_vesk_metaserver_chat_packet(void *buffer, const rgb_color *color, uint16_t flags, uint32_t sender,
                                          uint32_t target, const char *name, const char *text);
// Swaps a payload of type 0 between host and wire order (`outgoing`: host
// order on entry); any other type is left alone.  False when fewer than 24
// bytes are given or the type is not 0.
bool byteswap_metaserver_packet(void *payload, int32_t available, bool outgoing);
// The text after the name, copied (at most `size` - 1 characters) into
// `text`.  False when the payload's own length is short of its record or
// exceeds `available`, or either string does not end inside it.
bool extract_message_from_vesk_metaserver_chat_packet(const void *payload, int32_t available, char *text,
                                                      size_t size);
bool extract_player_name_from_vesk_metaserver_chat_packet(const void *payload, int32_t available, char *name,
                                                          size_t size);
