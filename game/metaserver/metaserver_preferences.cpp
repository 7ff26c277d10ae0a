// The "metaserver" preferences record.  See metaserver_preferences.h.

#include "metaserver/metaserver_preferences.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/system_info.h"
#include "metaserver/metaserver_strings.h"
#include "tag_files/preferences.h"
#include "vesk/string_lists.h"
#include "vesk_networking/vesk_network_interface.h"

const byte_swap_code metaserver_parameters_byte_swapping_data[] = {
    _begin_bs_array, 1, MAXIMUM_METASERVER_HOST_NAME, 32, 16, 16, _2byte, _2byte, _4byte,
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 96, _end_bs_array};

// The scramble's key: the bytes of this word in memory order.
static const uint32_t password_key_word = 0x5ac3e27d;

static struct metaserver_preferences_globals
{
    preferences_globals store;
    int32_t last_user_id;
    bool tool_host_set;
    char tool_host[MAXIMUM_METASERVER_HOST_NAME];
    uint16_t tool_port;
} metaserver_preferences_globals = {
    {METASERVER_PREFERENCES_NAME, (int32_t)sizeof(metaserver_parameters),
     (int16_t)METASERVER_PREFERENCES_VERSION_NUMBER, default_metaserver_preferences,
     verify_metaserver_preferences, metaserver_parameters_byte_swapping_data,
     FOUR_CHARACTER_CODE('m', 'e', 't', 'a'), nullptr, true},
    -1,
    false,
    {},
    0,
};

void parse_default_metaserver_host(const char *text, char *host_out, size_t host_size, uint16_t *port_out)
{
    char host[MAXIMUM_METASERVER_HOST_NAME];
    strlcpy(host, text ? text : "", sizeof(host));
    uint16_t port = DEFAULT_METASERVER_PORT;
    if (char *colon = strchr(host, ':'))
    {
        *colon = 0;
        char *end = nullptr;
        const long number = strtol(colon + 1, &end, 10);
        if (end != colon + 1 && number >= 1 && number <= 65535) port = (uint16_t)number;
    }
    if (host_out && host_size) strlcpy(host_out, host, host_size);
    if (port_out) *port_out = port;
}

void set_default_metaserver_host_for_tools(const char *host, uint16_t port)
{
    auto &m = metaserver_preferences_globals;
    m.tool_host_set = host != nullptr;
    strlcpy(m.tool_host, host ? host : "", sizeof(m.tool_host));
    m.tool_port = port;
}

void get_default_metaserver_host(char *host_out, size_t host_size, uint16_t *port_out)
{
    auto &m = metaserver_preferences_globals;
    if (m.tool_host_set)
    {
        if (host_out && host_size) strlcpy(host_out, m.tool_host, host_size);
        if (port_out) *port_out = m.tool_port;
        return;
    }
    const int32_t list = string_list_tag_to_string_index(METASERVER_STRINGS_TAG);
    parse_default_metaserver_host(get_string_from_list(list, _default_metaserver_host_string), host_out, host_size,
                                  port_out);
}

void default_metaserver_preferences(void *data)
{
    metaserver_parameters *record = (metaserver_parameters *)data;
    memset(record, 0, sizeof(*record));
    get_default_metaserver_host(record->host, sizeof(record->host), &record->port);
    record->flags = _default_metaserver_flags;
    get_name_from_system(record->user, sizeof(record->user), _system_name_login);
    record->user_id = -1;
}

bool parse_typed_metaserver_address(const char *text, char *host, size_t host_size, uint16_t *port)
{
    char name[MAXIMUM_METASERVER_HOST_NAME];
    uint16_t number = 0;
    if (!parse_host_and_port(text, DEFAULT_METASERVER_PORT, name, sizeof(name), &number)) return false;
    // A host name or dotted address: the lobby record keeps nothing else.
    for (const char *c = name; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '.' ||
              *c == '-'))
            return false;
    if (host && host_size) strlcpy(host, name, host_size);
    if (port) *port = number;
    return true;
}

void get_metaserver_address(char *text, size_t size)
{
    if (!text || !size) return;
    char host[MAXIMUM_METASERVER_HOST_NAME];
    uint16_t port = DEFAULT_METASERVER_PORT;
    if (const metaserver_parameters *record = read_metaserver_preferences())
    {
        strlcpy(host, record->host, sizeof(host));
        port = record->port;
        free_metaserver_preferences();
    }
    else
        get_default_metaserver_host(host, sizeof(host), &port);
    snprintf(text, size, "%s:%u", host, (unsigned)port);
}

bool set_metaserver_address(const char *text)
{
    char host[MAXIMUM_METASERVER_HOST_NAME];
    uint16_t port = 0;
    const bool to_default = text && !text[0];
    if (!to_default && !parse_typed_metaserver_address(text, host, sizeof(host), &port))
    {
        log_message(__FILE__, __LINE__, "lobby address refused: '%.300s' is no host or host:port", text ? text : "");
        return false;
    }
    metaserver_parameters *record = read_metaserver_preferences();
    if (!record) return false;
    if (to_default)
        record->address_chosen = 0, get_default_metaserver_host(record->host, sizeof(record->host), &record->port);
    else
        record->address_chosen = 1, strlcpy(record->host, host, sizeof(record->host)), record->port = port;
    const bool written = write_metaserver_preferences();
    free_metaserver_preferences();
    if (written) log_message(__FILE__, __LINE__, "lobby address: %s", to_default ? "the default" : text);
    return written;
}

bool verify_metaserver_preferences(void *data)
{
    metaserver_parameters *record = (metaserver_parameters *)data;
    // An address the player typed stays (unless a tool names the service);
    // anything else, or a damaged one, is the default's.
    record->host[sizeof(record->host) - 1] = 0;
    const bool typed = record->address_chosen == 1 && !metaserver_preferences_globals.tool_host_set &&
                       record->port != 0 && parse_typed_metaserver_address(record->host, nullptr, 0, nullptr);
    if (!typed)
    {
        record->address_chosen = 0;
        get_default_metaserver_host(record->host, sizeof(record->host), &record->port);
    }
    if (strnlen(record->user, sizeof(record->user)) > sizeof(record->user) - 1)
    {
        log_message(__FILE__, __LINE__, "lobby preferences: the user name is too long; using the system's");
        get_name_from_system(record->user, sizeof(record->user), _system_name_login);
    }
    if (strnlen(record->password, sizeof(record->password)) > sizeof(record->password) - 1)
    {
        log_message(__FILE__, __LINE__, "lobby preferences: the saved password is too long; emptied");
        memset(record->password, 0, sizeof(record->password));
    }
    if (record->flags > _all_metaserver_flags) record->flags = _default_metaserver_flags;
    record->host[sizeof(record->host) - 1] = 0;
    record->user[sizeof(record->user) - 1] = 0;
    record->password[sizeof(record->password) - 1] = 0;
    return true;
}

metaserver_parameters *read_metaserver_preferences(void)
{
    return (metaserver_parameters *)read_preferences_convert(&metaserver_preferences_globals.store, nullptr);
}

bool write_metaserver_preferences(void)
{
    preferences_globals &store = metaserver_preferences_globals.store;
    if (!store.data) return false;
    metaserver_parameters *record = (metaserver_parameters *)store.data;
    memset(record->preferred_junk_shorts, 0, sizeof(record->preferred_junk_shorts));
    memset(record->preferred_junk, 0, sizeof(record->preferred_junk));
    if (write_preferences(&store)) return true;
    log_message(__FILE__, __LINE__, "lobby preferences: the record could not be stored");
    return false;
}

void free_metaserver_preferences(void) { free_preferences(&metaserver_preferences_globals.store); }

void set_metaserver_preferences_last_user_id(int32_t user_id)
{
    metaserver_preferences_globals.last_user_id = user_id;
}

void save_metaserver_preferences(int32_t room, const char *new_host)
{
    metaserver_parameters *record = read_metaserver_preferences();
    if (!record) return;
    if (room != METASERVER_KEEP_STORED_ROOM) record->desired_room = (int16_t)room;
    if (new_host) strlcpy(record->host, new_host, sizeof(record->host));
    if (!(record->flags & _login_anonymous_flag)) record->user_id = metaserver_preferences_globals.last_user_id;
    write_metaserver_preferences();
    free_metaserver_preferences();
}

static uint8_t key_byte(size_t i)
{
    uint8_t key[4];
    memcpy(key, &password_key_word, 4);
    return key[i % 4];
}

// Both directions: `step` turns one byte; the whole output is always terminated.
static void scramble(const char *text, char *output, size_t size, uint8_t (*step)(uint8_t, size_t))
{
    if (!output || size == 0) return;
    size_t i = 0;
    for (; text && i + 1 < size && text[i]; ++i) output[i] = (char)step((uint8_t)text[i], i);
    if (text && i + 1 == size && text[i])
        log_message(__FILE__, __LINE__, "lobby password cut to %d characters", (int)(size - 1));
    output[i] = 0;
}

static uint8_t encode_byte(uint8_t c, size_t i)
{
    const int32_t s = c + key_byte(i);
    return (uint8_t)(s < 256 ? s : s - 255);
}

// A difference of 0 only comes from an encoded 0xFF (255 + k - 255 = k): it
// is 0xFF again, never a terminator in the middle of the password.
static uint8_t decode_byte(uint8_t c, size_t i)
{
    const int32_t d = c - key_byte(i);
    return (uint8_t)(d > 0 ? d : d + 255);
}

void encode_metaserver_password(const char *text, char *output, size_t size)
{
    scramble(text, output, size, encode_byte);
}

void decode_metaserver_password(const char *text, char *output, size_t size)
{
    scramble(text, output, size, decode_byte);
}
