#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "console_procedures.h"
#include "commands.h"
#include "game_hooks.h"
#include "game_time.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"

namespace commands_test_file {

namespace
{

struct pair_record
{
    int16_t a;
    int32_t b;
} __attribute__((packed));
static_assert(sizeof(pair_record) == 6);
const byte_swap_code pair_record_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _4byte, _end_bs_array};

// Exactly MAXIMUM_COMMAND_SIZE bytes on the heap, so that AddressSanitizer
// catches the first byte written or read past a command's buffer.
struct command_buffer
{
    std::unique_ptr<uint8_t[]> bytes{new uint8_t[MAXIMUM_COMMAND_SIZE]()};
    uint8_t *data(void) { return bytes.get(); }
};

int32_t out_of_sync_reports = 0;
void count_out_of_sync(void)
{
    ++out_of_sync_reports;
}

class commands_test : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_game_core();
        static const console_procedures console = {.out_of_sync = count_out_of_sync};
        register_console_procedures(&console);
        out_of_sync_reports = 0;
        ASSERT_TRUE(initialize_commands());
        ASSERT_TRUE(initialize_commands_for_new_map());
    }
    void TearDown(void) override { dispose_commands_from_old_map(); }
};

// A queue record of `size` bytes: the header and a payload that tells one
// record from another.
std::vector<uint8_t> make_record(int32_t size, int32_t time, uint32_t tag)
{
    std::vector<uint8_t> bytes((size_t)size);
    command_header header = {(int16_t)size, (int8_t)(tag % 23), (int8_t)(tag % 5), time};
    memcpy(bytes.data(), &header, sizeof(header));
    for (int32_t i = (int32_t)sizeof(header); i < size; ++i) bytes[(size_t)i] = (uint8_t)(tag * 31 + (uint32_t)i);
    return bytes;
}

const command_header *as_header(const std::vector<uint8_t> &bytes)
{
    return reinterpret_cast<const command_header *>(bytes.data());
}

} // namespace

// ---- the codec ----------------------------------------------------------------

TEST(command_codec, fields_are_laid_out_big_endian_with_no_gaps)
{
    command_buffer buffer;
    command_codec_state state;
    command_encode_new(&state, buffer.data(), _command_chat);
    EXPECT_EQ(state.header->size, 8);
    command_header header_copy;
    memcpy(&header_copy, buffer.data(), sizeof(header_copy));
    byte_swap_command_header_big(&header_copy);
    const uint8_t header_only[8] = {0x00, 0x08, 10, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(&header_copy, header_only, sizeof(header_only)), 0);

    const pair_record record = {0x0102, 0x03040506};
    command_encode_data(&state, sizeof(record), &record, pair_record_byte_swapping_data);
    command_encode_array(&state, 0, sizeof(record), nullptr, pair_record_byte_swapping_data);
    EXPECT_EQ(state.header->size, 8 + 6 + 2);
    const pair_record two[2] = {{1, 2}, {-1, -2}};
    command_encode_array(&state, 2, sizeof(pair_record), two, pair_record_byte_swapping_data);
    command_encode_string(&state, "abc", 192);
    command_encode_string(&state, "", 192);
    command_encode_string(&state, "truncated", 4);
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(state.header->size, 8 + 6 + 2 + 14 + 4 + 1 + 5);

    const uint8_t expected_fields[] = {
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06,                                       // data
        0x00, 0x00,                                                               // empty array
        0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, // two records
        'a',  'b',  'c',  0,    0,    't',  'r',  'u',  'n',  0};
    EXPECT_EQ(memcmp(buffer.data() + 8, expected_fields, sizeof(expected_fields)), 0);
}

TEST(command_codec, a_command_decodes_to_what_was_encoded_after_travelling_big_endian)
{
    command_buffer buffer;
    command_codec_state state;
    command_encode_new(&state, buffer.data(), _command_rename);
    const pair_record record = {-300, 123456789};
    const pair_record list[3] = {{1, -1}, {2, -2}, {3, 0x7FFFFFFF}};
    command_encode_data(&state, sizeof(record), &record, pair_record_byte_swapping_data);
    command_encode_array(&state, 3, sizeof(pair_record), list, pair_record_byte_swapping_data);
    command_encode_string(&state, "name", 32);
    ASSERT_FALSE(state.failed);
    // As a film or a packet carries it, then back.
    byte_swap_command_header_big(state.header);
    byte_swap_command_header_big(state.header);

    command_codec_state reader;
    command_decode_new(&reader, state.header, _command_rename);
    const pair_record *decoded = (const pair_record *)command_decode_data(&reader, sizeof(pair_record),
                                                                          pair_record_byte_swapping_data);
    int16_t count = -1;
    const pair_record *records = (const pair_record *)command_decode_array(&reader, &count, sizeof(pair_record),
                                                                           pair_record_byte_swapping_data);
    const char *name = command_decode_string(&reader, 32);
    ASSERT_TRUE(decoded && records && name);
    EXPECT_EQ(decoded->a, -300);
    EXPECT_EQ(decoded->b, 123456789);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(records[2].b, 0x7FFFFFFF);
    EXPECT_EQ(records[0].a, 1);
    EXPECT_STREQ(name, "name");
    EXPECT_EQ(reader.offset, state.header->size);
}

TEST(command_codec, an_encoder_that_would_pass_the_limit_writes_nothing_more)
{
    const uint8_t block[1000] = {};
    const byte_swap_code bytes_1000[] = {_begin_bs_array, 1, 1000, _end_bs_array};
    const byte_swap_code bytes_1[] = {_begin_bs_array, 1, _byte, _end_bs_array};

    command_buffer buffer;
    command_codec_state state;
    command_encode_new(&state, buffer.data(), _command_sketch);
    for (int32_t i = 0; i < 4; ++i) command_encode_data(&state, 1000, block, bytes_1000);
    command_encode_data(&state, 1, block, bytes_1);
    const std::string long_text(199, 'x');
    const char *text = long_text.c_str();
    command_encode_string(&state, text, 78); // 4009 + 79 = 4088
    command_encode_array(&state, 1, 6, block, pair_record_byte_swapping_data); // 4096 exactly
    ASSERT_FALSE(state.failed);
    ASSERT_EQ(state.header->size, MAXIMUM_COMMAND_SIZE);
    {
        expected_assertions expect(1, "was about to exceed #4096 bytes");
        command_encode_data(&state, 1, block, bytes_1);
        command_encode_string(&state, "", 10);
        command_encode_array(&state, 0, 6, nullptr, pair_record_byte_swapping_data);
    }
    EXPECT_TRUE(state.failed);
    EXPECT_EQ(state.header->size, MAXIMUM_COMMAND_SIZE);

    // Each kind of field refuses on its own, before touching the buffer.
    const struct
    {
        int32_t kind;
        const char *expression;
    } cases[] = {{0, "data_size<=MAXIMUM"}, {1, "data_size*array_size<=MAXIMUM"}, {2, "string_length+1<=MAXIMUM"}};
    for (const auto &c : cases)
    {
        command_encode_new(&state, buffer.data(), _command_sketch);
        for (int32_t i = 0; i < 4; ++i) command_encode_data(&state, 1000, block, bytes_1000);
        {
            expected_assertions expect(1, c.expression);
            if (c.kind == 0) command_encode_data(&state, 100, block, pair_record_byte_swapping_data);
            if (c.kind == 1) command_encode_array(&state, 15, 6, block, pair_record_byte_swapping_data);
            if (c.kind == 2) command_encode_string(&state, text, 150);
        }
        EXPECT_TRUE(state.failed);
        EXPECT_EQ(state.header->size, 4008);
    }
}

TEST(command_codec, a_decoder_refuses_what_does_not_lie_inside_the_command_and_stays_failed)
{
    const pair_record record = {1, 2};
    struct decoder_case
    {
        const char *what;
        void (*build)(command_codec_state *state, const pair_record *record);
        int16_t size_cut; // bytes taken off the end after building
        const char *assertion;
    };
    const decoder_case cases[] = {
        {"data past the end", [](command_codec_state *s, const pair_record *r) {
             command_encode_data(s, sizeof(*r), r, pair_record_byte_swapping_data); }, 1, "data [#8,#14)"},
        {"array header past the end", [](command_codec_state *, const pair_record *) {}, 0, "array header [#8,#10)"},
        {"array records past the end", [](command_codec_state *s, const pair_record *r) {
             command_encode_array(s, 1, sizeof(*r), r, pair_record_byte_swapping_data); }, 1, "array [#10,#16)"},
        {"negative count", [](command_codec_state *s, const pair_record *) {
             const uint8_t minus_one[2] = {0xFF, 0xFF};
             const byte_swap_code raw[] = {_begin_bs_array, 1, 2, _end_bs_array};
             command_encode_data(s, 2, minus_one, raw); }, 0, "array_header->size>=0"},
        {"string without terminator", [](command_codec_state *s, const pair_record *) {
             command_encode_string(s, "abc", 10); }, 1, "string [#8,#12)"},
        {"string longer than its maximum", [](command_codec_state *s, const pair_record *) {
             command_encode_string(s, "abcdef", 10); }, 0, "wasn't null terminated"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        SCOPED_TRACE(cases[i].what);
        command_buffer buffer;
        command_codec_state state;
        command_encode_new(&state, buffer.data(), _command_sketch);
        cases[i].build(&state, &record);
        ASSERT_FALSE(state.failed);
        state.header->size = (int16_t)(state.header->size - cases[i].size_cut);

        command_codec_state reader;
        command_decode_new(&reader, state.header, _command_sketch);
        int16_t count = 7;
        void *result = nullptr;
        {
            expected_assertions expect(1, cases[i].assertion);
            if (i == 0) result = command_decode_data(&reader, sizeof(pair_record), pair_record_byte_swapping_data);
            else if (i <= 3)
                result = command_decode_array(&reader, &count, sizeof(pair_record), pair_record_byte_swapping_data);
            else result = command_decode_string(&reader, 3);
        }
        EXPECT_EQ(result, nullptr);
        EXPECT_TRUE(reader.failed);
        EXPECT_EQ(count, i == 0 || i >= 4 ? 7 : 0);
        // Every later field of that command is refused quietly.
        EXPECT_EQ(command_decode_data(&reader, sizeof(pair_record), pair_record_byte_swapping_data), nullptr);
        EXPECT_EQ(command_decode_string(&reader, 10), nullptr);
        EXPECT_EQ(command_decode_array(&reader, &count, sizeof(pair_record), pair_record_byte_swapping_data), nullptr);
    }
}

TEST(command_codec, a_decoder_refuses_a_command_of_another_verb_or_an_impossible_size)
{
    command_buffer buffer;
    command_codec_state state;
    command_encode_new(&state, buffer.data(), _command_ally);
    command_codec_state reader;
    {
        expected_assertions expect(1, "to have verb #13 (NOT #14).");
        command_decode_new(&reader, state.header, _command_sketch);
    }
    EXPECT_EQ(command_decode_string(&reader, 10), nullptr);

    state.header->size = MAXIMUM_COMMAND_SIZE + 1;
    {
        expected_assertions expect(1);
        command_decode_new(&reader, state.header, _command_ally);
    }
    EXPECT_TRUE(reader.failed);
}

// ---- the rings ------------------------------------------------------------------

TEST_F(commands_test, the_outgoing_ring_never_fills_to_its_last_byte)
{
    // Eight-byte records: 255 fit (2040 bytes); the 256th would end exactly at
    // the end with the reader at 0, leaving no byte free.
    const std::vector<uint8_t> record = make_record(8, 0, 1);
    int32_t stored = 0;
    while (queue_outgoing_command(as_header(record))) ++stored;
    EXPECT_EQ(stored, 255);

    // With odd sizes the ring holds 2047 bytes at most.
    dispose_commands_from_old_map();
    ASSERT_TRUE(initialize_commands_for_new_map());
    const std::vector<uint8_t> ninety = make_record(90, 0, 2);
    for (int32_t i = 0; i < 22; ++i) ASSERT_TRUE(queue_outgoing_command(as_header(ninety)));
    EXPECT_FALSE(queue_outgoing_command(as_header(ninety))); // cannot wrap: the reader is at 0
    EXPECT_FALSE(queue_outgoing_command(as_header(make_record(68, 0, 3))));
    EXPECT_TRUE(queue_outgoing_command(as_header(make_record(67, 0, 3)))); // 1980 + 67 = 2047
    EXPECT_FALSE(queue_outgoing_command(as_header(make_record(8, 0, 3))));
}

TEST_F(commands_test, an_empty_outgoing_ring_takes_any_record_it_can_hold)
{
    // Take records until the offsets stand near the end, then offer one that
    // does not fit in front of the offsets: the empty ring starts over at 0.
    const std::vector<uint8_t> small = make_record(600, 0, 1);
    for (int32_t i = 0; i < 3; ++i)
    {
        ASSERT_TRUE(queue_outgoing_command(as_header(small)));
        ASSERT_NE(dequeue_outgoing_command(), nullptr);
    }
    const std::vector<uint8_t> large = make_record(2000, 0, 2);
    ASSERT_TRUE(queue_outgoing_command(as_header(large)));
    const command_header *taken = dequeue_outgoing_command();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(memcmp(taken, large.data(), large.size()), 0);
    EXPECT_EQ(dequeue_outgoing_command(), nullptr);
}

TEST_F(commands_test, incoming_records_leave_in_queue_order_when_due)
{
    const std::vector<uint8_t> at_5 = make_record(12, 5, 1);
    const std::vector<uint8_t> at_3 = make_record(16, 3, 2);
    ASSERT_TRUE(queue_incoming_command(as_header(at_5)));
    // Earlier than the last queued: warned about, kept behind it.
    ASSERT_TRUE(queue_incoming_command(as_header(at_3)));
    EXPECT_EQ(dequeue_incoming_command(4), nullptr);
    const command_header *first = dequeue_incoming_command(5);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->time, 5);
    const command_header *second = dequeue_incoming_command(5);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->size, 16);
    EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr);
    EXPECT_EQ(free_space_in_incoming_queue(), INCOMING_QUEUE_BUFFER_SIZE - MAXIMUM_COMMAND_SIZE);
    EXPECT_EQ(out_of_sync_reports, 0);
}

TEST_F(commands_test, damaged_records_are_refused_and_the_incoming_refusal_puts_the_game_out_of_sync_once)
{
    const int32_t sizes[] = {0, 7, -1, 5000};
    for (int32_t size : sizes)
    {
        SCOPED_TRACE(size);
        command_header header = {(int16_t)size, _command_chat, 0, 1};
        expected_assertions expect(2, "bad command size in");
        EXPECT_FALSE(queue_outgoing_command(&header));
        EXPECT_FALSE(queue_incoming_command(&header));
    }
    {
        command_header negative_time = {8, _command_null, 0, -1};
        expected_assertions expect(1, "bad command size in incoming queue()");
        EXPECT_FALSE(queue_incoming_command(&negative_time));
    }
    EXPECT_EQ(out_of_sync_reports, 1);
    EXPECT_TRUE(game_->flags.load() & _game_is_out_of_sync_flag);
    EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr);
    EXPECT_EQ(dequeue_outgoing_command(), nullptr);
    flush_incoming_queue();

    // The rings still work.
    const std::vector<uint8_t> good = make_record(8, 2, 4);
    EXPECT_TRUE(queue_incoming_command(as_header(good)));
    EXPECT_NE(dequeue_incoming_command(2), nullptr);
}

TEST_F(commands_test, a_full_incoming_ring_puts_the_game_out_of_sync_once)
{
    const std::vector<uint8_t> record = make_record(MAXIMUM_COMMAND_SIZE, 1, 1);
    EXPECT_TRUE(queue_incoming_command(as_header(record)));
    EXPECT_TRUE(queue_incoming_command(as_header(record)));
    EXPECT_EQ(free_space_in_incoming_queue(), 0);
    EXPECT_FALSE(queue_incoming_command(as_header(record)));
    EXPECT_FALSE(queue_incoming_command(as_header(record)));
    EXPECT_EQ(out_of_sync_reports, 1);
    flush_incoming_queue();
    EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr);
}

// ---- the rings against a reference --------------------------------------------

namespace
{

// The ring's rules over a list of stored records: the writer wraps to 0 only
// when the reader has left 0, a record is stored only while the free space is
// strictly greater than its size, the reader skips from the wrap back to 0; an
// outgoing ring that is empty starts again at 0.
struct reference_ring
{
    int32_t capacity;
    bool restart_when_empty;
    int32_t read = 0, write = 0, wrap = 0;
    std::deque<std::vector<uint8_t>> records;

    void wrap_reader(void)
    {
        if (read > write && read >= wrap) read = 0;
    }
    bool store(const std::vector<uint8_t> &record)
    {
        const int32_t size = (int32_t)record.size();
        if (restart_when_empty)
        {
            wrap_reader();
            if (records.empty()) read = write = wrap = 0;
        }
        if (write >= read && write + size > capacity)
        {
            if (read == 0) return false;
            wrap = write;
            write = 0;
        }
        const int32_t free_space = write < read ? read - write : capacity - write + read;
        if (free_space <= size) return false;
        records.push_back(record);
        write += size;
        return true;
    }
    const std::vector<uint8_t> *take(int32_t time)
    {
        wrap_reader();
        if (records.empty()) return nullptr;
        const command_header *header = as_header(records.front());
        if (header->time > time) return nullptr;
        read += header->size;
        taken = records.front();
        records.pop_front();
        return &taken;
    }
    std::vector<uint8_t> taken;
};

void run_against_reference(bool outgoing, uint32_t seed)
{
    std::mt19937 random(seed);
    reference_ring reference{outgoing ? OUTGOING_QUEUE_BUFFER_SIZE : INCOMING_QUEUE_BUFFER_SIZE, outgoing};
    int32_t time = 0, now = 0, stored = 0, taken = 0, wraps = 0, refused = 0;
    for (int32_t step = 0; step < 10000; ++step)
    {
        SCOPED_TRACE(step);
        if (random() % 100 < 55)
        {
            // Mostly small records, sometimes large ones, up to the limit.
            const uint32_t pick = random() % 20;
            const int32_t size = pick == 0 ? 8 + (int32_t)(random() % (MAXIMUM_COMMAND_SIZE - 7))
                                 : pick < 4 ? 400 + (int32_t)(random() % 700)
                                            : 8 + (int32_t)(random() % 120);
            if (!outgoing) time += (int32_t)(random() % 3);
            const std::vector<uint8_t> record = make_record(size, outgoing ? 0 : time, (uint32_t)step);
            const int32_t wrap_before = reference.wrap;
            const bool expected = reference.store(record);
            const bool actual = outgoing ? queue_outgoing_command(as_header(record))
                                         : queue_incoming_command(as_header(record));
            ASSERT_EQ(actual, expected) << "size " << size;
            stored += actual;
            wraps += reference.wrap != wrap_before;
            refused += !actual;
        }
        else
        {
            if (!outgoing) now += (int32_t)(random() % 4);
            const std::vector<uint8_t> *expected = reference.take(now);
            const command_header *actual = outgoing ? dequeue_outgoing_command() : dequeue_incoming_command(now);
            ASSERT_EQ(actual != nullptr, expected != nullptr);
            if (actual)
            {
                ASSERT_EQ(actual->size, (int16_t)expected->size());
                ASSERT_EQ(memcmp(actual, expected->data(), expected->size()), 0);
                ++taken;
            }
        }
    }
    EXPECT_GT(stored, 1000);
    EXPECT_GT(taken, 1000);
    EXPECT_GT(wraps, 10);
    EXPECT_GT(refused, 10);
    // A refused incoming record puts the game out of sync, once.
    EXPECT_EQ(out_of_sync_reports, outgoing ? 0 : 1);
}

} // namespace

TEST_F(commands_test, the_outgoing_ring_follows_the_reference_over_random_traffic)
{
    run_against_reference(true, 12);
}

TEST_F(commands_test, the_incoming_ring_follows_the_reference_over_random_traffic)
{
    run_against_reference(false, 34);
}

} // namespace commands_test_file
