// The lobby's key exchange and body codec: keys both ends agree on, the
// public values against an independent power, and the codec's round trips
// and refusals.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "metaserver_lib/DiffieHellman.h"
#include "metaserver_lib/encodePackets.h"

namespace lobby_codec_test_file {

namespace {

// Square-and-multiply in 64 bits: another way to the same power.
int32_t independent_power(int64_t base, int64_t exponent, int64_t modulus)
{
    int64_t result = 1 % modulus;
    base %= modulus;
    for (; exponent > 0; exponent >>= 1, base = base * base % modulus)
        if (exponent & 1) result = result * base % modulus;
    return (int32_t)result;
}

int32_t value(const uint8_t bytes[8], int k) { return bytes[2 * k] | bytes[2 * k + 1] << 8; }

} // namespace

TEST(lobby_key_exchange, both_ends_agree_and_public_values_are_the_generators_power)
{
    for (int round = 0; round < 20; ++round)
    {
        uint8_t client_public[8], client_private[8], server_public[8], server_private[8];
        getPublicKey(client_public, client_private);
        getPublicKey(server_public, server_private);
        for (int k = 0; k < 4; ++k)
        {
            EXPECT_LT(value(client_private, k), LOBBY_DIFFIE_HELLMAN_PRIME - 1);
            EXPECT_EQ(value(client_public, k), independent_power(LOBBY_DIFFIE_HELLMAN_GENERATOR,
                                                                 value(client_private, k), LOBBY_DIFFIE_HELLMAN_PRIME));
        }
        uint8_t client_key[8], server_key[8];
        getSessionKey(client_key, client_private, server_public);
        getSessionKey(server_key, server_private, client_public);
        EXPECT_EQ(memcmp(client_key, server_key, 8), 0);
    }
    // Draws from a repeatable source: each private value is the drawn word
    // modulo 32716, and the public value the generator's power of it.
    set_lobby_random_procedure([](void *buffer, int32_t size) { memset(buffer, 0x01, (size_t)size); });
    uint8_t repeatable_public[8], repeatable_private[8];
    getPublicKey(repeatable_public, repeatable_private);
    set_lobby_random_procedure(nullptr);
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ(value(repeatable_private, k), (int32_t)(0x01010101u % 32716u));
        EXPECT_EQ(value(repeatable_public, k),
                  independent_power(LOBBY_DIFFIE_HELLMAN_GENERATOR, 0x01010101u % 32716u, LOBBY_DIFFIE_HELLMAN_PRIME));
    }

    // A private value of 0 gives the public value 1 and a session value of 1.
    CDiffieHellman pair(LOBBY_DIFFIE_HELLMAN_PRIME, LOBBY_DIFFIE_HELLMAN_GENERATOR);
    pair.setPrivateKey(0);
    EXPECT_EQ(pair.getPublicKey(), 1);
    EXPECT_EQ(pair.getSessionKey(12345), 1);
    EXPECT_EQ(CDiffieHellman::powerMod(32716, 32715, 32717), independent_power(32716, 32715, 32717));
}

TEST(lobby_codec, bodies_round_trip_and_damage_or_another_key_is_refused)
{
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t other_key[8] = {1, 2, 3, 4, 5, 6, 7, 9};
    for (int32_t n : {0, 1, 7, 100, 4000})
    {
        SCOPED_TRACE(n);
        std::vector<uint8_t> body((size_t)n);
        for (int32_t i = 0; i < n; ++i) body[(size_t)i] = (uint8_t)(i * 37 + 5);
        std::vector<uint8_t> first(body), second(body);
        first.resize((size_t)n + LOBBY_CODEC_OVERHEAD);
        second.resize((size_t)n + LOBBY_CODEC_OVERHEAD);
        ASSERT_EQ(encodeData(first.data(), n, key), n + 24);
        ASSERT_EQ(encodeData(second.data(), n, key), n + 24);
        EXPECT_NE(first, second) << "random words make every encoding differ";
        std::vector<uint8_t> wrong(first);
        EXPECT_EQ(decodeData(wrong.data(), n + 24, other_key), -1);
        EXPECT_EQ(wrong, std::vector<uint8_t>((size_t)n + 24, 0)) << "a refused body is zeroed";
        std::vector<uint8_t> damaged(first);
        damaged[5] ^= 0x40;
        EXPECT_EQ(decodeData(damaged.data(), n + 24, key), -1);
        ASSERT_EQ(decodeData(first.data(), n + 24, key), n);
        ASSERT_EQ(decodeData(second.data(), n + 24, key), n);
        EXPECT_TRUE(std::equal(body.begin(), body.end(), first.begin()));
        EXPECT_TRUE(std::equal(body.begin(), body.end(), second.begin()));
    }
    // Fewer than 24 bytes can hold no check blocks: refused without a read
    // outside them (an exact-size buffer, under the address sanitizer).
    for (int32_t n : {-1, 0, 23})
    {
        std::vector<uint8_t> short_buffer((size_t)(n > 0 ? n : 1), 0xAA);
        EXPECT_EQ(decodeData(short_buffer.data(), n, key), -1) << n;
    }
    EXPECT_EQ(encodeData(nullptr, -1, key), -1);
}

} // namespace lobby_codec_test_file
