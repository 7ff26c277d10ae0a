// The chat payload.  See vesk_metaserver_packets.h.

#include "metaserver/vesk_metaserver_packets.h"

#include <cstring>

#include "cseries/byte_swapping.h"
#include "metaserver/metaserver_readers.h"
#include "rgb_color.h"

static const byte_swap_code chat_data_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, 2,
                                              _2byte, _2byte, _4byte, _4byte, _end_bs_array};

int32_t build_vesk_metaserver_chat_packet(void *buffer, const rgb_color *color, uint16_t flags, uint32_t sender,
                                          uint32_t target, const char *name, const char *text)
{
    vesk_metaserver_chat_data header;
    memset(&header, 0, sizeof(header));
    header.type = _vesk_metaserver_chat_packet;
    if (color) memcpy(header.color, color, sizeof(header.color));
    header.flags = flags;
    header.player_id = sender;
    header.selected_player_id = target;
    uint8_t *out = (uint8_t *)buffer;
    int32_t length = (int32_t)sizeof(header);
    const size_t name_length = name ? strnlen(name, 31) : 0;
    memcpy(out + length, name ? name : "", name_length);
    out[length + name_length] = 0;
    length += (int32_t)name_length + 1;
    const size_t text_length = text ? strnlen(text, MAXIMUM_METASERVER_CHAT_TEXT) : 0;
    memcpy(out + length, text ? text : "", text_length);
    out[length + text_length] = 0;
    length += (int32_t)text_length + 1;
    header.length = (int16_t)length;
    memcpy(out, &header, sizeof(header));
    return length;
}

bool byteswap_metaserver_packet(void *payload, int32_t available, bool outgoing)
{
    if (!payload || available < (int32_t)sizeof(vesk_metaserver_chat_data)) return false;
    const uint8_t *p = (const uint8_t *)payload;
    int16_t type;
    if (outgoing) memcpy(&type, p, 2);
    else type = (int16_t)read_be16(p);
    if (type != _vesk_metaserver_chat_packet) return false;
    return byte_swap_data("vesk_metaserver_chat_data", payload, sizeof(vesk_metaserver_chat_data), 1, chat_data_bs);
}

// The name and the text of a payload in host order, each ending inside it.
static bool chat_strings(const void *payload, int32_t available, const char **name, const char **text,
                         const char **end)
{
    if (!payload || available < (int32_t)sizeof(vesk_metaserver_chat_data)) return false;
    vesk_metaserver_chat_data header;
    memcpy(&header, payload, sizeof(header));
    if (header.length < (int32_t)sizeof(header) + 2 || header.length > available) return false;
    *end = (const char *)payload + header.length;
    *name = (const char *)payload + sizeof(header);
    const char *after_name = (const char *)memchr(*name, 0, (size_t)(*end - *name));
    if (!after_name || after_name + 1 >= *end) return false;
    *text = after_name + 1;
    return memchr(*text, 0, (size_t)(*end - *text)) != nullptr;
}

// The name (`want_name`) or the text of a payload, copied into `out`.
static bool extract_chat_string(const void *payload, int32_t available, bool want_name, char *out, size_t size)
{
    const char *name, *text, *end;
    if (!chat_strings(payload, available, &name, &text, &end)) return false;
    extract_string(out, want_name ? name : text, size, end);
    return true;
}

bool extract_message_from_vesk_metaserver_chat_packet(const void *payload, int32_t available, char *text,
                                                      size_t size)
{
    return extract_chat_string(payload, available, false, text, size);
}

bool extract_player_name_from_vesk_metaserver_chat_packet(const void *payload, int32_t available, char *name,
                                                          size_t size)
{
    return extract_chat_string(payload, available, true, name, size);
}
