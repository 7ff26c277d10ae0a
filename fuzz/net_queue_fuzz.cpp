// A game connection's stream on arbitrary bytes: they arrive in chunks of
// sizes the input picks, are framed by the incoming queue, converted from the
// wire and read by the library's packet readers.  No packet may be taken
// outside its frame, and every reader must stay inside the packet it is
// given (each is handed a heap copy of exactly its length).  After a corrupt
// frame the connection is dropped: the stream starts again on a new queue.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "networking/packet_byteswap.h"
#include "networking/packet_construction.h"
#include "networking/packet_definitions.h"
#include "networking/public_packet_definitions.h"

// The game converts its own packets' headers like the library's (the bodies
// are its business): afterwards a reader sees a length that frames the packet.
static void swap_game_packet(void *packet, bool)
{
    byte_swap_data("net_message_header", packet, sizeof(net_message_header), 1, net_message_header_byte_swap_codes);
}

static void touch(const void *data, int32_t length)
{
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < length; ++i) sum = (uint8_t)(sum + ((const uint8_t *)data)[i]);
}

static void read_packet(const uint8_t *bytes, int32_t length)
{
    std::vector<uint8_t> packet(bytes, bytes + length);
    if (!byteswap_packet_norm(swap_game_packet, packet.data(), length, false)) return;
    const char *name, *password;
    const void *data;
    int32_t data_length;
    if (parse_join_request_packet(packet.data(), &name, &password, &data, &data_length))
    {
        if (data_length < 0 || data_length > NETWORK_PLAYER_DATA_SIZE) abort();
        touch(name, (int32_t)strlen(name));
        touch(password, (int32_t)strlen(password));
        touch(data, data_length);
    }
    if (const char *player = get_name_from_new_player_packet(packet.data())) touch(player, (int32_t)strlen(player));
    if ((data = get_player_data_from_new_player_packet(packet.data(), &data_length)))
    {
        if (data_length < 0 || data_length > NETWORK_PLAYER_DATA_SIZE) abort();
        touch(data, data_length);
    }
    // The same bytes read as status packets (host order), as a client's
    // status queue would hold them.
    if ((data = extract_game_data_from_packet(packet.data(), &data_length))) touch(data, data_length);
    if ((data = extract_player_data_from_packet(packet.data(), &data_length))) touch(data, data_length);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    circular_queue queue;
    if (!allocate_circular_queue("s incoming 1", &queue, 5000)) abort();
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE + 1];
    size_t at = 0;
    while (at < size)
    {
        // One byte picks the chunk's size, the chunk follows.
        const size_t chunk = (data[at] * 37u) % 1500u;
        ++at;
        const size_t length = chunk < size - at ? chunk : size - at;
        if (!copy_data_into_circular_queue(data + at, (int32_t)length, &queue))
        {
            reset_circular_queue(&queue); // a peer that floods the queue is dropped
            continue;
        }
        at += length;
        for (;;)
        {
            packet[MAXIMUM_SINGLE_PACKET_SIZE] = 0x5A;
            const int32_t before = circular_buffer_size(&queue);
            const queue_packet_result result =
                get_next_packet_from_queue(&queue, packet, MAXIMUM_SINGLE_PACKET_SIZE, true);
            if (packet[MAXIMUM_SINGLE_PACKET_SIZE] != 0x5A) abort();
            if (result == _queue_packet_incomplete) break;
            if (result == _queue_packet_corrupt)
            {
                if (circular_buffer_size(&queue) != before) abort();
                reset_circular_queue(&queue); // the connection is dropped; a new one starts
                break;
            }
            const int32_t framed = read_be16(packet + 2);
            if (framed < 8 || framed > MAXIMUM_SINGLE_PACKET_SIZE || before - circular_buffer_size(&queue) != framed)
                abort();
            read_packet(packet, framed);
        }
    }
    free_circular_queue(&queue);
    return 0;
}
