#pragma once
// The lobby's settings: one preferences record named "metaserver" (the
// service's host and port, the login name, the saved password, the login
// options, the last room and the last user identifier).  The login reads and
// rewrites it before every connection; leaving the lobby saves the room.
//
// The record holds a saved password, so it is stored readable by its owner
// only.  The password scramble is a fixed-key obfuscation kept for the stored
// format: it hides nothing from someone who can read the file.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "lobby_procedures.h" // metaserver_preferences_flags

#define METASERVER_PREFERENCES_NAME "metaserver"

enum : int32_t
{
    METASERVER_PREFERENCES_VERSION_NUMBER = 1,
    MAXIMUM_METASERVER_HOST_NAME = 256,
    DEFAULT_METASERVER_PORT = 6321,
    // The room argument of save_metaserver_preferences that keeps the stored room.
    METASERVER_KEEP_STORED_ROOM = 65535,
    // The lobby string list's entry holding the default "host[:port]".
    _default_metaserver_host_string = 11,
};

// Stored big-endian but for `port` (kept in the machine's order) and the
// texts and byte arrays.  436 bytes.
struct metaserver_parameters
{
    char host[MAXIMUM_METASERVER_HOST_NAME];
    char user[32];
    char password[16]; // scrambled (encode_metaserver_password), terminated
    uint16_t port; // machine order
    uint8_t address_chosen; // 1: the player typed host and port (kept on every read); 0: the default's
    uint8_t unused[13];
    uint16_t flags; // metaserver_preferences_flags
    int16_t desired_room;
    int32_t user_id; // of the last login; -1: none
    int16_t preferred_junk_shorts[6]; // always written as zeros
    uint8_t preferred_junk[96];
};
static_assert(sizeof(metaserver_parameters) == 436);
static_assert(offsetof(metaserver_parameters, user) == 256);
static_assert(offsetof(metaserver_parameters, password) == 288);
static_assert(offsetof(metaserver_parameters, port) == 304);
static_assert(offsetof(metaserver_parameters, address_chosen) == 306);
static_assert(offsetof(metaserver_parameters, flags) == 320);
static_assert(offsetof(metaserver_parameters, desired_room) == 322);
static_assert(offsetof(metaserver_parameters, user_id) == 324);
static_assert(offsetof(metaserver_parameters, preferred_junk_shorts) == 328);

extern const byte_swap_code metaserver_parameters_byte_swapping_data[];

// Zeroes the record, then the default host and port, an empty password,
// flags 3, the system user's name (at most 31 characters) and user id -1.
void default_metaserver_preferences(void *record);
// Repairs the record on every read (host and port back to the default
// unless the player typed them and no tool names the service, an over-long
// user name replaced, an over-long password emptied, unknown flags reset,
// texts terminated); always true.
bool verify_metaserver_preferences(void *record);

// The default host text and port: entry 11 of the lobby string list 'inms'
// (at most 255 characters), cut at a colon whose number, when within
// 1..65535, is the port (else 6321).  A host given to
// set_default_metaserver_host_for_tools wins over the string list.
void get_default_metaserver_host(char *host_out, size_t host_size, uint16_t *port_out);
// Tools and tests name the service themselves (null: the string list again).
void set_default_metaserver_host_for_tools(const char *host, uint16_t port);
// The default host text as the string list would give it (`text` may hold
// ":port"); separated from the string list for the tests.
void parse_default_metaserver_host(const char *text, char *host_out, size_t host_size, uint16_t *port_out);

// Reads the record from the store (the defaults when it cannot), verified.
// Null only when the store cannot be read at all.  Valid until the next read
// or free.
metaserver_parameters *read_metaserver_preferences(void);
// Writes the record last read back whole.  False when nothing was read or the
// write fails (the stored record stays).
bool write_metaserver_preferences(void);
void free_metaserver_preferences(void);

// Reads the record, sets `desired_room` unless `room` is 65535, the host when
// `new_host` is given, the user id of the last login unless the anonymous
// flag is set, zeroes the junk, writes and frees it.
void save_metaserver_preferences(int32_t room, const char *new_host);
// The user id of the last login, for save_metaserver_preferences (the lobby
// client sets it; -1 until a login succeeds).
void set_metaserver_preferences_last_user_id(int32_t user_id);

// The scramble of the saved password: at most `size` - 1 characters and a
// terminator.  A scrambled byte is never zero; decoding gives every byte 1..255
// back (a scrambled 0xFF decodes to 0xFF, not to an early terminator).
void encode_metaserver_password(const char *text, char *output, size_t size);
void decode_metaserver_password(const char *text, char *output, size_t size);

// The lobby's address as the player sees it, "host:port" (the stored one the
// login uses).
void get_metaserver_address(char *text, size_t size);
// Stores an address the player typed, "host" or "host:port" (a host name or
// dotted address of letters, digits, dots and dashes, at most 255
// characters; a port 1 .. 65535), kept by every later read; an empty text
// goes back to the default.  False, nothing stored, for anything else (or
// when the record cannot be read or written).
bool set_metaserver_address(const char *text);
// Whether `text` is such an address (an empty one is not); `host` and `port`
// (each may be null) get its parts.
bool parse_typed_metaserver_address(const char *text, char *host, size_t host_size, uint16_t *port);
