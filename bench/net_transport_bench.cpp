// The network transport's hot paths.  Taking a packet out of a connection's
// queue (framing check included) should cost at most 100 ns for a 64-byte
// packet.

#include <benchmark/benchmark.h>

#include <cstring>

#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "networking/packet_definitions.h"

// Takes 64-byte packets out of a 16384-byte queue; the queue is refilled
// outside the timing, 250 packets at a time, starting where the last batch
// ended so that packets straddle the ring's end as they do in a game.
static void take_64_byte_packets(benchmark::State &state)
{
    circular_queue queue;
    if (!allocate_circular_queue("s incoming 1", &queue, 16384))
    {
        state.SkipWithError("no queue");
        return;
    }
    uint8_t wire[64] = {};
    write_be16(wire, 0x0001);
    write_be16(wire + 2, sizeof(wire));
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    enum { BATCH = 250 };
    int64_t taken = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        for (int32_t i = 0; i < BATCH; ++i) copy_data_into_circular_queue(wire, sizeof(wire), &queue);
        state.ResumeTiming();
        for (int32_t i = 0; i < BATCH; ++i)
        {
            if (get_next_packet_from_queue(&queue, packet, sizeof(packet), true) == _queue_packet_taken) ++taken;
        }
        benchmark::DoNotOptimize(packet);
    }
    if (taken != (int64_t)state.iterations() * BATCH) state.SkipWithError("a packet was not taken");
    state.SetItemsProcessed(taken);
    free_circular_queue(&queue);
}
BENCHMARK(take_64_byte_packets);
