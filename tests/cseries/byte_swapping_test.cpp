#include "cseries/byte_swapping.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "support/expected_assertions.h"

namespace byte_swapping_test_file {

namespace {

// Any assertion a test here does not declare fails it, so the silent cases
// need no count of their own.
class byte_swapping_test : public ::testing::Test
{
};

const byte_swap_code flat_description[] = {_begin_bs_array, 1, _4byte, _2byte, _2byte, 8, _4byte, _end_bs_array};
const byte_swap_code odd_description[] = {_begin_bs_array, 1, _byte, _4byte, 3, _2byte, _4byte, 1, _end_bs_array};
// A header, then 3 entries each holding a word and 2 pairs of halves, then a tail.
const byte_swap_code nested_description[] = {
    _begin_bs_array, 1,
        _4byte, 2,
        _begin_bs_array, 3,
            _2byte,
            _begin_bs_array, 2, _2byte, _2byte, _end_bs_array,
            _byte,
        _end_bs_array,
        _4byte,
    _end_bs_array};
const byte_swap_code repeated_outer_description[] = {_begin_bs_array, 4, _2byte, _byte, _4byte, _end_bs_array};
const byte_swap_code empty_group_description[] = {
    _begin_bs_array, 1, _2byte, _begin_bs_array, 0, _4byte, _4byte, _end_bs_array, _2byte, _end_bs_array};

TEST_F(byte_swapping_test, description_sizes_and_malformed_descriptions)
{
    const byte_swap_code negative_count[] = {_begin_bs_array, -1, _4byte, _end_bs_array};
    const byte_swap_code unknown_code[] = {_begin_bs_array, 1, -3, _end_bs_array};
    const byte_swap_code zero_code[] = {_begin_bs_array, 1, 0, _end_bs_array};
    const byte_swap_code no_group[] = {_4byte, _end_bs_array};
    std::vector<byte_swap_code> too_deep;
    for (int i = 0; i < MAXIMUM_BYTE_SWAP_DEPTH + 1; i++) too_deep.insert(too_deep.end(), {_begin_bs_array, 1});
    too_deep.push_back(_4byte);
    too_deep.insert(too_deep.end(), MAXIMUM_BYTE_SWAP_DEPTH + 1, _end_bs_array);
    // The outer group never closes: the walk stops at the code limit instead of running on.
    std::vector<byte_swap_code> unterminated(MAXIMUM_BYTE_SWAP_CODES + 8, _2byte);
    unterminated[0] = _begin_bs_array;
    unterminated[1] = 1;
    const byte_swap_code huge[] = {_begin_bs_array, 32767, _begin_bs_array, 32767, 32767, _end_bs_array, _end_bs_array};

    struct
    {
        const char *what;
        const byte_swap_code *codes;
        int32_t size;
    } const cases[] = {
        {"flat", flat_description, 20},
        {"odd", odd_description, 15},
        {"nested", nested_description, 4 + 2 + 3 * (2 + 2 * 4 + 1) + 4},
        {"repeated outer", repeated_outer_description, 4 * 7},
        {"empty group", empty_group_description, 4},
        {"null", nullptr, -1},
        {"negative count", negative_count, -1},
        {"unknown code", unknown_code, -1},
        {"zero code", zero_code, -1},
        {"no outer group", no_group, -1},
        {"too deep", too_deep.data(), -1},
        {"unterminated", unterminated.data(), -1},
        {"2 GiB or more", huge, -1},
    };
    for (const auto &test : cases) EXPECT_EQ(byte_swap_description_size(test.codes), test.size) << test.what;
}

TEST_F(byte_swapping_test, known_vectors_come_out_in_host_order)
{
    uint8_t word[4] = {0x00, 0x01, 0x02, 0x03};
    ASSERT_TRUE(byte_swap_memory("word", word, 1, _4byte));
    uint32_t host32;
    memcpy(&host32, word, 4);
    EXPECT_EQ(host32, 0x00010203u);

    uint8_t half[2] = {0x12, 0x34};
    ASSERT_TRUE(byte_swap_memory("half", half, 1, _2byte));
    uint16_t host16;
    memcpy(&host16, half, 2);
    EXPECT_EQ(host16, 0x1234);

    // The nested description against hand-written expected bytes.
    uint8_t record[43], expected[43];
    for (int i = 0; i < 43; i++) record[i] = (uint8_t)i;
    const int order[43] = {3, 2, 1, 0, 4, 5,
                           7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 16,
                           18, 17, 20, 19, 22, 21, 24, 23, 26, 25, 27,
                           29, 28, 31, 30, 33, 32, 35, 34, 37, 36, 38,
                           42, 41, 40, 39};
    for (int i = 0; i < 43; i++) expected[i] = (uint8_t)order[i];
    ASSERT_EQ(byte_swap_description_size(nested_description), 43);
    ASSERT_TRUE(byte_swap_data("nested", record, 43, 1, nested_description));
    EXPECT_EQ(memcmp(record, expected, 43), 0);

    // A group of count 0 moves nothing and converts nothing.
    uint8_t small[4] = {1, 2, 3, 4};
    ASSERT_TRUE(byte_swap_data("empty group", small, 4, 1, empty_group_description));
    const uint8_t small_expected[4] = {2, 1, 4, 3};
    EXPECT_EQ(memcmp(small, small_expected, 4), 0);
}

TEST_F(byte_swapping_test, fields_at_odd_offsets_match_big_endian_reads)
{
    // Records of 15 bytes placed one byte into the buffer: every word is misaligned.
    uint8_t buffer[1 + 15 * 3];
    for (size_t i = 0; i < sizeof(buffer); i++) buffer[i] = (uint8_t)(i * 37 + 11);
    uint8_t original[sizeof(buffer)];
    memcpy(original, buffer, sizeof(buffer));

    ASSERT_TRUE(byte_swap_data("odd", buffer + 1, 15, 3, odd_description));
    EXPECT_EQ(buffer[0], original[0]);
    for (int record = 0; record < 3; record++)
    {
        const uint8_t *big = original + 1 + record * 15, *host = buffer + 1 + record * 15;
        uint32_t word;
        uint16_t half;
        EXPECT_EQ(host[0], big[0]);
        memcpy(&word, host + 1, 4);
        EXPECT_EQ(word, read_be32(big + 1));
        EXPECT_EQ(memcmp(host + 5, big + 5, 3), 0);
        memcpy(&half, host + 8, 2);
        EXPECT_EQ(half, read_be16(big + 8));
        memcpy(&word, host + 10, 4);
        EXPECT_EQ(word, read_be32(big + 10));
        EXPECT_EQ(host[14], big[14]);
    }
}

TEST_F(byte_swapping_test, swapping_twice_restores_random_records)
{
    const byte_swap_code *const descriptions[] = {flat_description, odd_description, nested_description,
                                                  repeated_outer_description, empty_group_description};
    std::mt19937 generator(1234);
    for (const byte_swap_code *codes : descriptions)
    {
        const int32_t size = byte_swap_description_size(codes);
        ASSERT_GT(size, 0);
        for (int32_t count : {1, 2, 7})
        {
            std::vector<uint8_t> data((size_t)(size * count) + 1), original;
            for (uint8_t &byte : data) byte = (uint8_t)generator();
            original = data;
            ASSERT_TRUE(byte_swap_data("random", data.data() + 1, size, count, codes));
            EXPECT_NE(data, original);
            ASSERT_TRUE(byte_swap_data("random", data.data() + 1, size, count, codes));
            EXPECT_EQ(data, original);
        }
    }
}

TEST_F(byte_swapping_test, bad_descriptions_are_refused_with_the_data_untouched)
{
    const byte_swap_code malformed[] = {_begin_bs_array, 1, _4byte, -7, _end_bs_array};
    struct
    {
        const char *what;
        const byte_swap_code *codes;
        int32_t record_size, record_count;
    } const cases[] = {
        {"walks less than the record", flat_description, 24, 2},
        {"walks more than the record", flat_description, 16, 2},
        {"malformed", malformed, 4, 2},
        {"missing", nullptr, 20, 2},
        {"negative count", flat_description, 20, -1},
    };
    for (const auto &test : cases)
    {
        SCOPED_TRACE(test.what);
        uint8_t data[64], original[64];
        for (int i = 0; i < 64; i++) data[i] = original[i] = (uint8_t)i;
        {
            expected_assertions expect(1, test.what);
            EXPECT_FALSE(byte_swap_data(test.what, data, test.record_size, test.record_count, test.codes));
        }
        EXPECT_EQ(memcmp(data, original, sizeof(data)), 0);
    }

    uint8_t bytes[4] = {1, 2, 3, 4};
    {
        expected_assertions expect(2, "bytes");
        EXPECT_FALSE(byte_swap_memory("bytes", bytes, 1, _byte));
        EXPECT_FALSE(byte_swap_memory("bytes", bytes, -1, _4byte));
    }
    EXPECT_EQ(bytes[0], 1);
}

} // namespace

} // namespace byte_swapping_test_file
