#pragma once
// The lobby's session-key exchange: four independent Diffie-Hellman pairs
// over a 15-bit prime, as the lobby service requires.  It gives no secrecy
// (anyone who sees the exchange can recover the key); it only keeps the
// protocol.  Private values come from the system's random source, never from
// a time-seeded generator.

#include <cstdint>

constexpr int32_t LOBBY_DIFFIE_HELLMAN_PRIME = 32717;
constexpr int32_t LOBBY_DIFFIE_HELLMAN_GENERATOR = 18334;

class CDiffieHellman
{
public:
    // Both below 32768, the generator below the prime (checked at compile
    // time for the lobby's pair; a wrong pair at run time is refused by an
    // assertion and the class then computes with the lobby's).
    CDiffieHellman(int32_t prime, int32_t generator);

    void makePrivateKey(void);
    void setPrivateKey(int32_t key);
    int32_t getPrivateKey(void); // makes one first when there is none
    int32_t getPublicKey(void); // generator ^ private mod prime
    int32_t getSessionKey(int32_t peer_public); // peer ^ private mod prime
    // `exponent` rounds of result = result * base % modulus from 1; an
    // exponent below 1 gives 1.
    static int32_t powerMod(int32_t base, int32_t exponent, int32_t modulus);

private:
    int32_t m_nPrime;
    int32_t m_nGenerator;
    int32_t m_nPrivateKey; // -1 until made
};
static_assert(LOBBY_DIFFIE_HELLMAN_PRIME < 32768);
static_assert(LOBBY_DIFFIE_HELLMAN_GENERATOR < LOBBY_DIFFIE_HELLMAN_PRIME);

// The random source of private values and of the codec's words: fills
// `buffer` with `size` random bytes.  Null restores the system's source.
// Tests make the draws repeatable with it.
typedef void (*lobby_random_procedure)(void *buffer, int32_t size);
void set_lobby_random_procedure(lobby_random_procedure procedure);
void lobby_random_bytes(void *buffer, int32_t size);

// A fresh key pair: four private values and their public values, each
// 16-bit value stored low byte first (bytes 2k and 2k + 1).
void getPublicKey(uint8_t public_out[8], uint8_t private_out[8]);
// The session key from my private values and the peer's public ones.
void getSessionKey(uint8_t key_out[8], const uint8_t my_private[8], const uint8_t peer_public[8]);
