// Local-network discovery datagrams on arbitrary bytes: the classifier says
// "query" only for the exact 512-byte pattern, the reply reader refuses
// anything shorter than a reply before reading it and always yields a
// terminated name, and the custom data it points at lies inside the datagram.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "networking/ip_enumeration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so reading past the datagram is caught.
    std::vector<uint8_t> datagram(data, data + size);
    const int32_t length = (int32_t)size;
    if (is_ip_request_packet(datagram.data(), length))
    {
        uint8_t query[kQuerySize];
        build_ip_enumeration_request_packet(query);
        if (size != kQuerySize || memcmp(query, datagram.data(), kQuerySize) != 0) abort();
    }
    IPEnumerationResponsePacket reply;
    const int32_t game_id = size >= 8 ? (int32_t)read_be32(data + 4) : 0;
    if (parse_ip_enumeration_response(datagram.data(), length, game_id, &reply))
    {
        if (size < sizeof(IPEnumerationResponsePacket) || reply.responseCode != kReplyFlag) abort();
        if (strnlen(reply.name, sizeof(reply.name)) > kMaxGameNameLen) abort();
    }
    const void *custom = nullptr;
    uint32_t custom_length = 0;
    if (extract_enumeration_data_from_ip_response(datagram.data(), length, &custom, &custom_length) &&
        custom_length > 0)
    {
        const uint8_t *start = (const uint8_t *)custom;
        if (start < datagram.data() + sizeof(IPEnumerationResponsePacket) ||
            start + custom_length > datagram.data() + size)
            abort();
    }
    return 0;
}
