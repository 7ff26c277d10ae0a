// The CRC's methods against the bytewise reference: known vectors, every
// length up to a few folding blocks at every start within 32 bytes, chained
// pieces, combined CRCs, and what crc32_update (the method the processor
// chose) gives.  A
// method this processor lacks is reported and skipped, never run.

#include "cseries/crc.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "support/expected_assertions.h"

namespace crc_test_file {

namespace {

std::vector<crc32_method> available_methods(void)
{
    std::vector<crc32_method> methods;
    for (int32_t m = 0; m < NUMBER_OF_CRC32_METHODS; ++m)
        if (crc32_method_is_available((crc32_method)m)) methods.push_back((crc32_method)m);
        else printf("crc32 method %s: not on this processor\n", crc32_method_name((crc32_method)m));
    return methods;
}

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> data(size);
    std::mt19937 generator(seed);
    for (uint8_t &byte : data) byte = (uint8_t)generator();
    return data;
}

TEST(crc, every_method_gives_the_known_vectors)
{
    struct
    {
        const char *text;
        uint32_t crc;
    } const cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        // Long enough to fold (64, 128 and 256 bytes and a tail).
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", 0xA77CAC63u},
        {"The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. "
         "The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. "
         "The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog.",
         0xD551ACDBu},
    };
    for (crc32_method method : available_methods())
        for (const auto &test : cases)
            EXPECT_EQ(crc32_update_by_method(method, 0, test.text, strlen(test.text)), test.crc)
                << crc32_method_name(method) << ": " << test.text;
    for (const auto &test : cases) EXPECT_EQ(crc32_of(test.text, strlen(test.text)), test.crc) << test.text;
    // A million zero bytes: the folding loops run long and the constants must hold.
    const std::vector<uint8_t> zeros(1000000, 0);
    for (crc32_method method : available_methods())
        EXPECT_EQ(crc32_update_by_method(method, 0, zeros.data(), zeros.size()), 0x1279CB9Eu)
            << crc32_method_name(method);
}

TEST(crc, every_method_agrees_with_the_bytewise_loop_at_every_length_and_start)
{
    const std::vector<uint8_t> data = random_bytes(1200 + 32, 7);
    for (crc32_method method : available_methods())
        for (size_t start = 0; start < 32; ++start)
            for (size_t size = 0; size + start <= data.size(); size += (size < 600 ? 1 : 37))
            {
                const uint8_t *bytes = data.data() + start;
                // A non-zero starting CRC too: the register enters the first lane.
                for (uint32_t crc : {0u, 0x9E3779B9u})
                {
                    const uint32_t reference = crc32_update_by_method(_crc32_bytewise, crc, bytes, size);
                    ASSERT_EQ(crc32_update_by_method(method, crc, bytes, size), reference)
                        << crc32_method_name(method) << " start " << start << " size " << size << " crc " << crc;
                    ASSERT_EQ(crc32_update(crc, bytes, size), reference) << "start " << start << " size " << size;
                }
            }
}

TEST(crc, chained_pieces_equal_the_whole)
{
    std::vector<uint8_t> data = random_bytes(1000, 11);
    const uint32_t whole = crc32_of(data.data(), data.size());
    for (crc32_method method : available_methods())
    {
        for (size_t split : {(size_t)0, (size_t)1, (size_t)3, (size_t)64, (size_t)500, (size_t)999, (size_t)1000})
        {
            uint32_t crc = crc32_update_by_method(method, 0, data.data(), split);
            crc = crc32_update_by_method(method, crc, data.data() + split, data.size() - split);
            EXPECT_EQ(crc, whole) << crc32_method_name(method) << " " << split;
        }
        uint32_t crc = 0;
        for (uint8_t byte : data) crc = crc32_update_by_method(method, crc, &byte, 1);
        EXPECT_EQ(crc, whole) << crc32_method_name(method);
    }
    // One flipped bit changes the checksum.
    data[500] ^= 0x10;
    EXPECT_NE(crc32_of(data.data(), data.size()), whole);
}

// Combining CRCs of pieces gives the CRC of the pieces in turn, for pieces
// of the record sizes the state hash keeps and for odd ones, from a running
// CRC, with the carry-less products on 256-bit and on 128-bit registers and
// with the tables; counts about the steps of 16 and 32 pieces.
TEST(crc, combined_pieces_equal_the_bytes_in_turn)
{
    struct combine_case
    {
        size_t piece_size, count;
        uint32_t start;
    };
    const combine_case cases[] = {
        {136, 0, 0x12345678}, {136, 1, 0},  {136, 7, 0xFFFFFFFF}, {136, 8, 1},  {136, 9, 0xCBF43926}, {96, 16, 0xA5A5A5A5},
        {338, 17, 0},         {104, 100, 7}, {1, 33, 0x80000000},  {5, 4, 0x55}, {3000, 3, 0x0BADF00D},
        {24, 31, 3},          {24, 32, 0},   {68, 64, 0x01020304}, {96, 2622, 9}, {16, 49, 0xFFFFFFFF},
    };
    for (const combine_case &c : cases)
    {
        const std::vector<uint8_t> data = random_bytes(c.piece_size * c.count, (uint32_t)(c.piece_size + c.count));
        std::vector<uint32_t> piece_crcs;
        for (size_t i = 0; i < c.count; ++i) piece_crcs.push_back(crc32_of(data.data() + i * c.piece_size, c.piece_size));
        const uint32_t expected = crc32_update(c.start, data.data(), data.size());
        uint32_t combined = c.start;
        for (uint32_t piece : piece_crcs) combined = crc32_combine(combined, piece, c.piece_size);
        EXPECT_EQ(combined, expected) << c.piece_size << " x " << c.count;
        static crc32_shift shift;
        crc32_make_shift(&shift, c.piece_size);
        const bool has_wide = shift.wide_carry_less, has_narrow = shift.carry_less;
        for (int way = 0; way < 3; ++way)
        {
            const bool wide = way == 0, carry_less = way < 2;
            if ((wide && !has_wide) || (carry_less && !has_narrow)) continue; // not on this processor
            shift.wide_carry_less = wide;
            shift.carry_less = carry_less;
            EXPECT_EQ(crc32_append_pieces(c.start, piece_crcs.data(), piece_crcs.size(), &shift), expected)
                << c.piece_size << " x " << c.count
                << (wide ? " by wide products" : carry_less ? " by products" : " by tables");
        }
    }
}

TEST(crc, a_method_outside_the_enum_is_refused_and_gives_the_bytewise_result)
{
    const std::vector<uint8_t> data = random_bytes(300, 3);
    const uint32_t reference = crc32_update_by_method(_crc32_bytewise, 0, data.data(), data.size());
    expected_assertions expect(1, "crc32 method");
    EXPECT_EQ(crc32_update_by_method(NUMBER_OF_CRC32_METHODS, 0, data.data(), data.size()), reference);
    EXPECT_STREQ(crc32_method_name(NUMBER_OF_CRC32_METHODS), "unknown");
}

} // namespace

} // namespace crc_test_file
