#pragma once
// The answers to the lobby's password challenge and the player's lobby data.
//
// The service chooses the scheme: plaintext (0), a simple scramble (1) or an
// MD5 digest (2).  The client announces that it understands up to MD5, and
// refuses plaintext unless the power user allows it (the connection, not this
// module, decides that).

#include <cstddef>
#include <cstdint>

struct player_appearance_data;

enum authentication_type : int16_t
{
    _plaintext_encryption = 0,
    _braindead_simple_encryption = 1,
    _md5_encryption = 2,
};

enum : int32_t
{
    MAXIMUM_SALT_SIZE = 16,
    MAXIMUM_ENCRYPTED_PASSWORD_SIZE = 16,
    EXTENDED_MAXIMUM_ENCRYPTED_PASSWORD_SIZE = 64,
    // The stored password: at most 15 characters and a terminator.
    METASERVER_PASSWORD_BUFFER_SIZE = 16,
};

// Fills `output` (64 bytes, zeroed by the caller) with the answer to a
// challenge of `type` for `password` (a 16-byte buffer, read no further) and
// `salt` (16 bytes).  Returns the bytes to send: 64 for MD5, else 16; an
// unknown type is logged and leaves the output zero.
int32_t encrypt_password(const char password[METASERVER_PASSWORD_BUFFER_SIZE],
                         const uint8_t salt[MAXIMUM_SALT_SIZE], uint8_t output[EXTENDED_MAXIMUM_ENCRYPTED_PASSWORD_SIZE],
                         int16_t type);

enum
{
    _player_state_idle = 0,
    _player_state_in_game = 1,
};

// The lobby's fixed record of a player's look (big-endian), followed by the
// player's name and team name, each terminated.
struct metaserver_player_data
{
    uint8_t coat_of_arms_bitmap_index;
    uint8_t caste_bitmap_index;
    int16_t state;
    uint16_t primary_color[4];
    uint16_t secondary_color[4];
    int16_t order_index;
    int16_t version;
    int16_t build_number;
    int16_t unused[6];
};
static_assert(sizeof(metaserver_player_data) == 38);
extern const int16_t metaserver_player_data_byte_swapping_data[];

enum : int16_t
{
    METASERVER_PLAYER_VERSION = 2182, // the version the lobby service is told (its player data carry the program's)
    METASERVER_PLAYER_BUILD_NUMBER = 443,
};

// Writes the lobby data of `appearance` with `state` into `output` (128
// bytes): the record in wire order and both names cut to 31 characters.
// Returns its length.
int32_t build_metaserver_player_data_from_appearance(uint8_t *output, const player_appearance_data *appearance,
                                                     int16_t state);
