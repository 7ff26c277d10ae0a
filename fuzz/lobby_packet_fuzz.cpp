// Lobby packets on arbitrary bytes, as the pump takes them: cut from the
// receive ring, then swapped to host order only when the swap accepts them.
// Nothing may be read or written outside the packet.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "metaserver_lib/metaserver_packets.h"
#include "networking/network_queues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536) return 0;
    static circular_queue queue;
    static bool made = allocate_circular_queue("lobby fuzz", &queue, 65537 + 8);
    if (!made) abort();
    reset_circular_queue(&queue);
    if (!copy_data_into_circular_queue(data, (int32_t)size, &queue)) return 0;
    std::vector<uint8_t> buffer(65536);
    for (int packets = 0; packets < 64; ++packets)
    {
        const metaserver_stream_result result = parse_network_stream(&queue, buffer.data(), (int32_t)buffer.size());
        if (result != _metaserver_stream_packet) break;
        const int32_t length = (int32_t)(buffer[4] << 24 | buffer[5] << 16 | buffer[6] << 8 | buffer[7]);
        // An exact-size copy, so reading past the packet is caught.
        std::vector<uint8_t> packet(buffer.begin(), buffer.begin() + length);
        if (byteswap_packet(packet.data(), length, false) && !byteswap_packet(packet.data(), length, true)) abort();
    }
    return 0;
}
