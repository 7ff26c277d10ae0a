#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "cseries/queues.h"

namespace queue_thread_test_file {

namespace {

TEST(queue, ring_of_32_holds_31_by_either_interface)
{
    int32_t buffer[32];
    queue q;
    ASSERT_TRUE(queue_new(&q, buffer, sizeof(int32_t), 32));
    for (int32_t i = 0; i < 31; ++i)
    {
        int32_t *slot = (int32_t *)queue_write(&q);
        ASSERT_NE(slot, nullptr) << "slot " << i;
        *slot = i;
    }
    EXPECT_EQ(queue_write(&q), nullptr);
    EXPECT_EQ(queue_count(&q), 31);
    const int32_t extra = 99;
    EXPECT_FALSE(queue_push(&q, &extra));

    for (int32_t i = 0; i < 31; ++i)
    {
        int32_t value = -1;
        ASSERT_TRUE(queue_pop(&q, &value));
        EXPECT_EQ(value, i);
    }
    int32_t value = 12345;
    EXPECT_FALSE(queue_pop(&q, &value));
    EXPECT_EQ(value, 12345) << "a failed pop must leave the element alone";
    EXPECT_EQ(queue_read(&q), nullptr);

    for (int32_t i = 0; i < 31; ++i) ASSERT_TRUE(queue_push(&q, &i));
    EXPECT_FALSE(queue_push(&q, &extra));
    EXPECT_EQ(queue_write(&q), nullptr);
}

TEST(queue, keeps_fifo_order_across_the_wrap)
{
    // A diameter that does not divide the batch sizes, so the indexes wrap at
    // every possible position.
    int32_t buffer[7];
    queue q;
    ASSERT_TRUE(queue_new(&q, buffer, sizeof(int32_t), 7));
    int32_t next_in = 0, next_out = 0;
    for (int32_t round = 0; round < 50; ++round)
    {
        const int32_t batch = 1 + round % 6;
        for (int32_t i = 0; i < batch; ++i)
        {
            if (round % 2)
            {
                ASSERT_TRUE(queue_push(&q, &next_in));
            }
            else
            {
                int32_t *slot = (int32_t *)queue_write(&q);
                ASSERT_NE(slot, nullptr);
                *slot = next_in;
            }
            next_in += 1;
        }
        EXPECT_EQ(queue_count(&q), batch);
        for (int32_t i = 0; i < batch; ++i)
        {
            int32_t value = -1;
            if (round % 3)
            {
                ASSERT_TRUE(queue_pop(&q, &value));
            }
            else
            {
                const int32_t *slot = (const int32_t *)queue_read(&q);
                ASSERT_NE(slot, nullptr);
                value = *slot;
            }
            EXPECT_EQ(value, next_out);
            next_out += 1;
        }
        EXPECT_EQ(queue_count(&q), 0);
    }
}

TEST(queue, clear_empties_a_wrapped_ring)
{
    int32_t buffer[8];
    queue q;
    ASSERT_TRUE(queue_new(&q, buffer, sizeof(int32_t), 8));
    for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(queue_push(&q, &i));
    int32_t value;
    for (int32_t i = 0; i < 4; ++i) ASSERT_TRUE(queue_pop(&q, &value));
    for (int32_t i = 6; i < 10; ++i) ASSERT_TRUE(queue_push(&q, &i));

    queue_clear(&q);
    EXPECT_EQ(queue_count(&q), 0);
    EXPECT_FALSE(queue_pop(&q, &value));
    EXPECT_EQ(queue_read(&q), nullptr);
    // Full capacity is available again.
    for (int32_t i = 0; i < 7; ++i) ASSERT_TRUE(queue_push(&q, &i));
    EXPECT_FALSE(queue_push(&q, &value));
}

TEST(queue, refuses_bad_setup_and_then_fails_every_call)
{
    int32_t buffer[4];
    struct
    {
        void *buffer;
        int32_t element_size;
        int32_t diameter;
    } const cases[] = {
        {nullptr, 4, 4},
        {buffer, 0, 4},
        {buffer, -4, 4},
        {buffer, 4, 1},
        {buffer, 4, 0},
    };
    for (const auto &c : cases)
    {
        queue q;
        EXPECT_FALSE(queue_new(&q, c.buffer, c.element_size, c.diameter));
        int32_t value = 1;
        EXPECT_EQ(queue_write(&q), nullptr);
        EXPECT_EQ(queue_read(&q), nullptr);
        EXPECT_FALSE(queue_push(&q, &value));
        EXPECT_FALSE(queue_pop(&q, &value));
        EXPECT_EQ(queue_count(&q), 0);
    }
}

// Large enough that a copy torn between two writers, or read while being
// written, shows up as a mismatch between the header and the filler.
struct stress_record
{
    int32_t producer;
    int32_t sequence;
    uint32_t filler[30];
};

static uint32_t stress_filler(int32_t producer, int32_t sequence, int32_t word)
{
    return (uint32_t)producer * 0x9E3779B9u ^ (uint32_t)sequence * 0x85EBCA6Bu ^
        (uint32_t)word * 0xC2B2AE35u;
}

TEST(queue, two_producers_and_one_consumer_lose_tear_and_reorder_nothing)
{
    enum { PRODUCERS = 2, RECORDS_PER_PRODUCER = 50000, DIAMETER = 32 };
    stress_record buffer[DIAMETER];
    queue q;
    ASSERT_TRUE(queue_new(&q, buffer, sizeof(stress_record), DIAMETER));

    std::atomic<bool> go{false};
    std::atomic<int32_t> producers_done{0};
    std::vector<std::thread> producers;
    for (int32_t producer = 0; producer < PRODUCERS; ++producer)
    {
        producers.emplace_back([&q, &go, &producers_done, producer] {
            while (!go.load()) std::this_thread::yield();
            for (int32_t sequence = 0; sequence < RECORDS_PER_PRODUCER; ++sequence)
            {
                stress_record record;
                record.producer = producer;
                record.sequence = sequence;
                for (int32_t word = 0; word < 30; ++word)
                    record.filler[word] = stress_filler(producer, sequence, word);
                while (!queue_push(&q, &record)) std::this_thread::yield();
            }
            producers_done.fetch_add(1);
        });
    }

    int32_t next_sequence[PRODUCERS] = {};
    int32_t torn = 0, out_of_order = 0, unknown = 0;
    int32_t received = 0;
    go.store(true);
    while (received < PRODUCERS * RECORDS_PER_PRODUCER)
    {
        stress_record record;
        // Read "done" before popping: a failed pop after every producer
        // finished means the queue is really empty, and a lost record then
        // ends the run instead of hanging it.
        const bool all_done = producers_done.load() == PRODUCERS;
        if (!queue_pop(&q, &record))
        {
            if (all_done) break;
            std::this_thread::yield();
            continue;
        }
        received += 1;
        if (record.producer < 0 || record.producer >= PRODUCERS)
        {
            unknown += 1;
            continue;
        }
        for (int32_t word = 0; word < 30; ++word)
        {
            if (record.filler[word] != stress_filler(record.producer, record.sequence, word))
            {
                torn += 1;
                break;
            }
        }
        if (record.sequence != next_sequence[record.producer]) out_of_order += 1;
        next_sequence[record.producer] = record.sequence + 1;
    }
    for (std::thread &producer : producers) producer.join();

    EXPECT_EQ(unknown, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(out_of_order, 0) << "a record was lost, repeated or reordered";
    for (int32_t producer = 0; producer < PRODUCERS; ++producer)
        EXPECT_EQ(next_sequence[producer], (int32_t)RECORDS_PER_PRODUCER);
    stress_record left;
    EXPECT_FALSE(queue_pop(&q, &left));
}

} // namespace

} // namespace queue_thread_test_file
