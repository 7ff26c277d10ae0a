// Password answers and the player's lobby data.  See metaserver_authentication.h.

#include "metaserver/metaserver_authentication.h"

#include <md5.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "cseries/byte_swapping.h"
#include "cseries/log.h"
#include "game_records.h"
#include "metaserver_lib/metaserver_packets.h"

const int16_t metaserver_player_data_byte_swapping_data[] = {
    _begin_bs_array, 1, 1, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _end_bs_array};

static void simple_encryption(const char *password, const uint8_t *salt, uint8_t *output)
{
    uint8_t block[MAXIMUM_ENCRYPTED_PASSWORD_SIZE];
    memset(block, '#', sizeof(block));
    // At most 15 characters, so the terminator always lands inside the block.
    const size_t length = strnlen(password, MAXIMUM_METASERVER_PASSWORD);
    memcpy(block, password, length);
    block[length] = 0;
    for (int32_t i = 0; i < MAXIMUM_ENCRYPTED_PASSWORD_SIZE; ++i) output[i] = block[i] ^ salt[i];
    for (int32_t i = 1; i < MAXIMUM_ENCRYPTED_PASSWORD_SIZE; ++i) output[i] ^= output[i - 1];
    for (int32_t i = 1; i < MAXIMUM_ENCRYPTED_PASSWORD_SIZE; ++i)
        output[i] = (uint8_t) ~(uint8_t)(output[i - 1] * output[i]);
}

static void md5_encryption(const char *password, const uint8_t *salt, uint8_t *output)
{
    // The stored password is 16 bytes: nothing past it is read.
    char text[METASERVER_PASSWORD_BUFFER_SIZE + 1] = {};
    memcpy(text, password, strnlen(password, METASERVER_PASSWORD_BUFFER_SIZE));
    for (int32_t i = 0; i < MAXIMUM_SALT_SIZE && text[i]; ++i) text[i] = (char)(text[i] ^ salt[i]);
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, (const uint8_t *)text, strlen(text));
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    for (int32_t i = 0; i < MD5_DIGEST_LENGTH; ++i) snprintf((char *)output + 2 * i, 3, "%02x", digest[i]);
}

int32_t encrypt_password(const char password[METASERVER_PASSWORD_BUFFER_SIZE], const uint8_t salt[MAXIMUM_SALT_SIZE],
                         uint8_t output[EXTENDED_MAXIMUM_ENCRYPTED_PASSWORD_SIZE], int16_t type)
{
    switch (type)
    {
    case _plaintext_encryption:
        memcpy(output, password, strnlen(password, MAXIMUM_METASERVER_PASSWORD));
        return MAXIMUM_ENCRYPTED_PASSWORD_SIZE;
    case _braindead_simple_encryption:
        simple_encryption(password, salt, output);
        return MAXIMUM_ENCRYPTED_PASSWORD_SIZE;
    case _md5_encryption:
        md5_encryption(password, salt, output);
        return EXTENDED_MAXIMUM_ENCRYPTED_PASSWORD_SIZE;
    default:
        LOG_REPEATED("Unknown authentication type: %d", (int)type);
        return MAXIMUM_ENCRYPTED_PASSWORD_SIZE;
    }
}

int32_t build_metaserver_player_data_from_appearance(uint8_t *output, const player_appearance_data *appearance,
                                                     int16_t state)
{
    metaserver_player_data data;
    memset(&data, 0, sizeof(data));
    data.coat_of_arms_bitmap_index = (uint8_t)appearance->coat_of_arms_bitmap_index;
    data.caste_bitmap_index = (uint8_t)appearance->caste_bitmap_index;
    data.state = state;
    memcpy(data.primary_color, &appearance->primary_color, sizeof(data.primary_color));
    memcpy(data.secondary_color, &appearance->secondary_color, sizeof(data.secondary_color));
    // The program's own version: joiners' game records take it from here,
    // and the host admits them by it.
    data.version = CURRENT_VERSION_IDENTIFIER;
    data.build_number = METASERVER_PLAYER_BUILD_NUMBER;
    byte_swap_data("metaserver_player_data", &data, sizeof(data), 1, metaserver_player_data_byte_swapping_data);
    memcpy(output, &data, sizeof(data));
    int32_t length = (int32_t)sizeof(data);
    for (const char *name : {appearance->name, appearance->team_name})
    {
        const size_t characters = strnlen(name, MAXIMUM_METASERVER_USERNAME);
        memcpy(output + length, name, characters);
        output[length + characters] = 0;
        length += (int32_t)characters + 1;
    }
    VASSERT(length <= MAXIMUM_METASERVER_PLAYER_DATA_SIZE, "length<=MAXIMUM_METASERVER_PLAYER_DATA_SIZE");
    return length;
}
