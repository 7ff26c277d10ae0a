#include "cseries/crc.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

TEST(crc, known_vectors)
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
    };
    for (const auto &test : cases) EXPECT_EQ(crc32_of(test.text, strlen(test.text)), test.crc) << test.text;
}

TEST(crc, chained_pieces_equal_the_whole)
{
    std::vector<uint8_t> data(1000);
    std::mt19937 generator(7);
    for (uint8_t &byte : data) byte = (uint8_t)generator();
    const uint32_t whole = crc32_of(data.data(), data.size());

    for (size_t split : {(size_t)0, (size_t)1, (size_t)3, (size_t)500, (size_t)999, (size_t)1000})
    {
        uint32_t crc = crc32_update(0, data.data(), split);
        crc = crc32_update(crc, data.data() + split, data.size() - split);
        EXPECT_EQ(crc, whole) << split;
    }

    uint32_t crc = 0;
    for (uint8_t byte : data) crc = crc32_update(crc, &byte, 1);
    EXPECT_EQ(crc, whole);

    // One flipped bit changes the checksum.
    data[500] ^= 0x10;
    EXPECT_NE(crc32_of(data.data(), data.size()), whole);
}

} // namespace
