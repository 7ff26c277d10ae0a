#pragma once
// Converting a packet in place between host order and wire order.

#include <cstdint>

// Converts a game packet (bit 15 of `what` clear) in place, in the direction
// `to_wire` gives; the game hands its procedure to the networking library.
typedef void (*net_packet_byteswap_procedure)(void *packet, bool to_wire);

// Converts `packet` (of which `available` bytes are readable) in place: a
// library packet by its own fields, any other through `game_byteswap`.  With
// `to_wire` the packet is in host order on entry, else in wire order (its
// type and length are read swapped first).  False, with nothing converted and
// a log line, when the length is below 8 or above `available` or 4096, the
// library type is not one of the eight, the packet is shorter than its fixed
// fields, or a game packet comes without a procedure.
bool byteswap_packet_norm(net_packet_byteswap_procedure game_byteswap, void *packet, int32_t available,
                          bool to_wire);
