#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "networking/network_queues.h"
#include "support/wire_packets.h"

namespace network_queues_test_file {

namespace {

struct queue_fixture
{
    circular_queue queue;
    explicit queue_fixture(int32_t size, const char *name = "test") { EXPECT_TRUE(allocate_circular_queue(name, &queue, size)); }
    ~queue_fixture(void) { free_circular_queue(&queue); }
    bool append(const std::vector<uint8_t> &bytes)
    {
        return copy_data_into_circular_queue(bytes.data(), (int32_t)bytes.size(), &queue);
    }
    // Moves the indexes so that the next byte appended lands at `index`.
    void start_at(int32_t index) { queue.read_index = queue.write_index = index; }
};

TEST(network_queues, a_stream_cut_anywhere_comes_out_as_the_packets_that_went_in)
{
    // A small ring, so that packets wrap and the queue fills often; the model
    // is the byte stream itself.
    queue_fixture fixture(700);
    std::mt19937 random(42);
    std::deque<uint8_t> model;
    std::vector<uint8_t> stream, pending;
    int32_t packets_taken = 0, refusals = 0;
    uint8_t packet[4096];
    for (int32_t step = 0; step < 20000; ++step)
    {
        if (pending.empty())
        {
            const uint16_t length = (uint16_t)(8 + random() % 300);
            pending = wire_packet(0x0001, length, 1, 2, (uint8_t)step);
        }
        if (random() % 3 != 0) // appends outpace takes: the queue fills
        {
            const size_t chunk = 1 + random() % pending.size();
            const std::vector<uint8_t> bytes(pending.begin(), pending.begin() + (long)chunk);
            const bool fits = model.size() + chunk <= 699;
            ASSERT_EQ(fixture.append(bytes), fits) << "step " << step;
            if (fits)
            {
                model.insert(model.end(), bytes.begin(), bytes.end());
                pending.erase(pending.begin(), pending.begin() + (long)chunk);
            }
            else ++refusals;
        }
        else
        {
            const int32_t length = model.size() >= 8 ? (model[2] << 8 | model[3]) : 0;
            const bool whole = model.size() >= 8 && (int32_t)model.size() >= length;
            ASSERT_EQ(get_next_packet_from_queue(&fixture.queue, packet, sizeof(packet), true),
                      whole ? _queue_packet_taken : _queue_packet_incomplete)
                << "step " << step;
            if (whole)
            {
                ASSERT_TRUE(std::equal(model.begin(), model.begin() + length, packet)) << "step " << step;
                model.erase(model.begin(), model.begin() + length);
                ++packets_taken;
            }
        }
        ASSERT_EQ(circular_buffer_size(&fixture.queue), (int32_t)model.size());
        ASSERT_EQ(circular_buffer_free_size(&fixture.queue), 699 - (int32_t)model.size());
        ASSERT_EQ(is_circular_queue_empty(&fixture.queue), model.empty());
    }
    EXPECT_GT(packets_taken, 1000);
    EXPECT_GT(refusals, 20) << "the queue must have been full often";
}

TEST(network_queues, lengths_outside_the_frame_are_corrupt_and_nothing_is_taken)
{
    const struct
    {
        uint16_t length;
        queue_packet_result expected;
    } cases[] = {
        {0, _queue_packet_corrupt},   {7, _queue_packet_corrupt},    {8, _queue_packet_taken},
        {4096, _queue_packet_taken},  {4097, _queue_packet_corrupt}, {65535, _queue_packet_corrupt},
    };
    for (const auto &c : cases)
    {
        queue_fixture fixture(16384);
        fixture.start_at(16380); // the header straddles the ring's end
        std::vector<uint8_t> bytes = wire_packet(0x8003, c.length);
        bytes.resize(c.length < 8 ? 8 : (c.length > 4200 ? 4200 : c.length));
        ASSERT_TRUE(fixture.append(bytes));
        const int32_t queued = circular_buffer_size(&fixture.queue);
        std::vector<uint8_t> packet(4096 + 16, 0x11);
        for (int32_t call = 0; call < 2; ++call)
        {
            const queue_packet_result result = get_next_packet_from_queue(&fixture.queue, packet.data(), 4096, true);
            EXPECT_EQ(result, c.expected) << "length " << c.length;
            if (result == _queue_packet_taken) break;
            EXPECT_EQ(circular_buffer_size(&fixture.queue), queued) << "length " << c.length;
        }
        if (c.expected == _queue_packet_taken)
        {
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), packet.begin()));
            EXPECT_TRUE(is_circular_queue_empty(&fixture.queue));
        }
        else
        {
            EXPECT_EQ(packet[0], 0x11) << "nothing is copied out of a corrupt queue";
        }
        EXPECT_EQ(packet[4096], 0x11) << "nothing is written past the caller's maximum";
    }
}

TEST(network_queues, edge_cases_of_filling_reading_and_resetting)
{
    uint8_t packet[64];
    {
        // A 16384-byte queue takes 16383 bytes, then refuses one more and
        // is full with the read index just after the write index.
        queue_fixture fixture(16384);
        fixture.start_at(100);
        ASSERT_TRUE(fixture.append(std::vector<uint8_t>(16383, 1)));
        EXPECT_FALSE(fixture.append({2}));
        EXPECT_EQ(circular_buffer_free_size(&fixture.queue), 0);
        EXPECT_EQ(fixture.queue.read_index, (fixture.queue.write_index + 1) % 16384);
    }
    {
        // Seven bytes, or a header asking for more than is queued: no packet,
        // nothing consumed.
        queue_fixture fixture(256);
        std::vector<uint8_t> bytes = wire_packet(0x8000, 20);
        ASSERT_TRUE(fixture.append(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7)));
        EXPECT_EQ(get_next_packet_from_queue(&fixture.queue, packet, sizeof(packet), true), _queue_packet_incomplete);
        ASSERT_TRUE(fixture.append(std::vector<uint8_t>(bytes.begin() + 7, bytes.begin() + 19)));
        EXPECT_EQ(get_next_packet_from_queue(&fixture.queue, packet, sizeof(packet), true), _queue_packet_incomplete);
        EXPECT_EQ(circular_buffer_size(&fixture.queue), 19);
    }
    {
        // Wire order: length bytes 00 10 are 16 bytes; host order (a status
        // queue) reads the same field natively.
        queue_fixture fixture(256);
        ASSERT_TRUE(fixture.append(wire_packet(0x8000, 16)));
        EXPECT_EQ(get_next_packet_from_queue(&fixture.queue, packet, sizeof(packet), true), _queue_packet_taken);
        EXPECT_TRUE(is_circular_queue_empty(&fixture.queue));
        uint8_t host[12] = {};
        const uint16_t length = sizeof(host);
        memcpy(host + 2, &length, sizeof(length));
        ASSERT_TRUE(copy_data_into_circular_queue(host, sizeof(host), &fixture.queue));
        EXPECT_EQ(get_next_packet_from_queue(&fixture.queue, packet, sizeof(packet), false), _queue_packet_taken);
    }
    {
        // After a reset the queue is empty and its buffer all fill bytes.
        queue_fixture fixture(64);
        ASSERT_TRUE(fixture.append(std::vector<uint8_t>(40, 3)));
        reset_circular_queue(&fixture.queue);
        EXPECT_TRUE(is_circular_queue_empty(&fixture.queue));
        EXPECT_EQ(std::vector<uint8_t>(fixture.queue.buffer, fixture.queue.buffer + 64),
                  std::vector<uint8_t>(64, CIRCULAR_QUEUE_FILL_BYTE));
    }
}

TEST(network_queues, a_queue_copy_moves_everything_or_nothing)
{
    const struct
    {
        int32_t destination_used;
        bool moves;
    } cases[] = {{0, true}, {63 - 30, true}, {63 - 29, false}};
    for (const auto &c : cases)
    {
        queue_fixture source(64, "source"), destination(64, "destination");
        source.start_at(50);
        destination.start_at(40);
        std::vector<uint8_t> bytes(30);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)i;
        ASSERT_TRUE(source.append(bytes));
        ASSERT_TRUE(destination.append(std::vector<uint8_t>((size_t)c.destination_used, 0xCC)));
        // A queue's whole state: its indexes and every byte of its ring.
        const auto state = [](const circular_queue &q) {
            std::vector<uint8_t> bytes(q.buffer, q.buffer + q.size);
            bytes.push_back((uint8_t)q.read_index);
            bytes.push_back((uint8_t)q.write_index);
            return bytes;
        };
        const std::vector<uint8_t> source_before = state(source.queue), destination_before = state(destination.queue);

        ASSERT_EQ(copy_queue_into_queue(&source.queue, &destination.queue), c.moves);
        if (!c.moves)
        {
            EXPECT_EQ(state(source.queue), source_before);
            EXPECT_EQ(state(destination.queue), destination_before);
            continue;
        }
        EXPECT_TRUE(is_circular_queue_empty(&source.queue));
        ASSERT_EQ(circular_buffer_size(&destination.queue), c.destination_used + 30);
        // What moved arrives in order after what was there.
        std::vector<uint8_t> moved(30);
        for (int32_t i = 0; i < 30; ++i)
            moved[(size_t)i] = destination.queue.buffer[(destination.queue.read_index + c.destination_used + i) % 64];
        EXPECT_EQ(moved, bytes);
    }
}

} // namespace

} // namespace network_queues_test_file
