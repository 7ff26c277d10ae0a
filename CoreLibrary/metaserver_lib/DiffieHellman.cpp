// The lobby's session-key exchange.  See DiffieHellman.h.

#include "metaserver_lib/DiffieHellman.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "cseries/log.h"

static struct diffie_hellman_globals
{
    lobby_random_procedure random;
} diffie_hellman_globals;

static void system_random_bytes(void *buffer, int32_t size)
{
    uint8_t *out = (uint8_t *)buffer;
    int32_t done = 0;
    // getrandom blocks only until the pool is first seeded; it may return
    // short for large requests or when a signal arrives.
    for (int32_t tries = 0; done < size && tries < 64; ++tries)
    {
        const ssize_t got = getrandom(out + done, (size_t)(size - done), 0);
        if (got > 0) done += (int32_t)got;
        else if (got < 0 && errno != EINTR) break;
    }
    if (done < size)
    {
        // Never leave the bytes as they were: a fixed value would be a worse key.
        log_message(__FILE__, __LINE__, "the system's random source failed (%s)", strerror(errno));
        for (int32_t i = done; i < size; ++i) out[i] = (uint8_t)(i * 151 + 17);
    }
}

void set_lobby_random_procedure(lobby_random_procedure procedure) { diffie_hellman_globals.random = procedure; }

void lobby_random_bytes(void *buffer, int32_t size)
{
    if (!buffer || size <= 0) return;
    (diffie_hellman_globals.random ? diffie_hellman_globals.random : system_random_bytes)(buffer, size);
}

CDiffieHellman::CDiffieHellman(int32_t prime, int32_t generator)
    : m_nPrime(prime), m_nGenerator(generator), m_nPrivateKey(-1)
{
    if (!VASSERT(prime > 1 && prime < 32768, "nPrime < 32768") ||
        !VASSERT(generator >= 0 && generator < prime, "nGenerator < nPrime"))
    {
        m_nPrime = LOBBY_DIFFIE_HELLMAN_PRIME;
        m_nGenerator = LOBBY_DIFFIE_HELLMAN_GENERATOR;
    }
}

void CDiffieHellman::makePrivateKey(void)
{
    uint32_t value = 0;
    lobby_random_bytes(&value, sizeof(value));
    m_nPrivateKey = (int32_t)(value % (uint32_t)(m_nPrime - 1));
}

void CDiffieHellman::setPrivateKey(int32_t key) { m_nPrivateKey = key; }

int32_t CDiffieHellman::getPrivateKey(void)
{
    if (m_nPrivateKey < 0) makePrivateKey();
    return m_nPrivateKey;
}

int32_t CDiffieHellman::getPublicKey(void) { return powerMod(m_nGenerator, getPrivateKey(), m_nPrime); }

int32_t CDiffieHellman::getSessionKey(int32_t peer_public)
{
    return powerMod(peer_public, getPrivateKey(), m_nPrime);
}

int32_t CDiffieHellman::powerMod(int32_t base, int32_t exponent, int32_t modulus)
{
    if (modulus <= 0) return 0;
    // Products of two values below 32768 fit 32 unsigned bits.
    const uint32_t b = (uint32_t)base % (uint32_t)modulus;
    uint32_t result = 1 % (uint32_t)modulus;
    for (int32_t i = 0; i < exponent; ++i) result = result * b % (uint32_t)modulus;
    return (int32_t)result;
}

static int32_t read_value(const uint8_t bytes[8], int32_t k)
{
    return (int32_t)(bytes[2 * k] | bytes[2 * k + 1] << 8);
}

static void write_value(uint8_t bytes[8], int32_t k, int32_t value)
{
    bytes[2 * k] = (uint8_t)value;
    bytes[2 * k + 1] = (uint8_t)(value >> 8);
}

void getPublicKey(uint8_t public_out[8], uint8_t private_out[8])
{
    for (int32_t k = 0; k < 4; ++k)
    {
        CDiffieHellman pair(LOBBY_DIFFIE_HELLMAN_PRIME, LOBBY_DIFFIE_HELLMAN_GENERATOR);
        pair.makePrivateKey();
        write_value(private_out, k, pair.getPrivateKey());
        write_value(public_out, k, pair.getPublicKey());
    }
}

void getSessionKey(uint8_t key_out[8], const uint8_t my_private[8], const uint8_t peer_public[8])
{
    for (int32_t k = 0; k < 4; ++k)
    {
        CDiffieHellman pair(LOBBY_DIFFIE_HELLMAN_PRIME, LOBBY_DIFFIE_HELLMAN_GENERATOR);
        pair.setPrivateKey(read_value(my_private, k));
        write_value(key_out, k, pair.getSessionKey(read_value(peer_public, k)));
    }
}
