#pragma once
// Local-network game discovery datagrams: the 512-byte query a searcher
// broadcasts to the game port, and the 56-byte big-endian reply a host sends
// back.  The searching side's procedures are tcp_NM*Enumeration (tcp_module.h).

#include <cstddef>
#include <cstdint>

enum : uint32_t
{
    kQuerySize = 512,
    kQueryFlag = 0xFAFBFCFDu,
    kReplyFlag = 0xAFBFCFDFu,
    kMaxGameNameLen = 31,
    TICKS_BETWEEN_ENUMERATION_REQUESTS = 500,
    TICKS_BEFORE_GAME_DROPPED = 2000,
    MAXIMUM_ENUMERATION_DATAGRAM = 1024,
};

// The reply; big-endian on the wire, custom data may follow (none here).
struct IPEnumerationResponsePacket
{
    uint32_t responseCode;
    int32_t gameID;
    int32_t version;
    uint32_t host;
    uint16_t port;
    uint16_t pad;
    char name[32]; // byte 31 always NUL
    uint32_t customEnumDataLen;
};
static_assert(sizeof(IPEnumerationResponsePacket) == 56, "reply is 56 bytes");
static_assert(offsetof(IPEnumerationResponsePacket, gameID) == 4 &&
                  offsetof(IPEnumerationResponsePacket, version) == 8 &&
                  offsetof(IPEnumerationResponsePacket, host) == 12 &&
                  offsetof(IPEnumerationResponsePacket, port) == 16 &&
                  offsetof(IPEnumerationResponsePacket, pad) == 18 &&
                  offsetof(IPEnumerationResponsePacket, name) == 20 &&
                  offsetof(IPEnumerationResponsePacket, customEnumDataLen) == 52,
              "reply offsets");

// Fills `buffer` (kQuerySize bytes) with the query.
void build_ip_enumeration_request_packet(uint8_t *buffer);
// A query is exactly kQuerySize bytes of FA FB FC FD repeated.
bool is_ip_request_packet(const void *data, int32_t length);
// A reply in host order; the name is cut to kMaxGameNameLen characters.
void build_ip_enumeration_response_packet(IPEnumerationResponsePacket *packet, int32_t game_id,
                                          int32_t version, uint32_t host, uint16_t port,
                                          const char *name);
// Converts a reply between host and wire order (either way).
void byteswap_ip_enumeration_packet(IPEnumerationResponsePacket *packet);
// Reads a datagram as a reply of `game_id` into host order.  False, with
// nothing read past the 56 bytes checked, when it is shorter than a reply,
// is not a reply or names another game; the name comes out NUL-terminated.
bool parse_ip_enumeration_response(const void *data, int32_t length, int32_t game_id,
                                   IPEnumerationResponsePacket *packet);
// The custom data after the reply's 56 bytes: false when the declared length
// does not fit in the `length` bytes received.
bool extract_enumeration_data_from_ip_response(const void *data, int32_t length,
                                               const void **custom, uint32_t *custom_length);

// Tests on loopback send the query to this address instead of the limited
// broadcast (host order; 0 restores the broadcast).
void set_enumeration_query_address_for_tests(uint32_t host);
uint32_t enumeration_query_address(void);
