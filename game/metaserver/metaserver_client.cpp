// The lobby client's connection and pump.  See metaserver_client.h.

#include "metaserver/metaserver_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "iniparser3.0b/inifile.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver_lib/DiffieHellman.h"
#include "metaserver_lib/encodePackets.h"
#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "platform_events.h"
#include "uber/uber.h"

enum : int32_t
{
    // Holds the largest packet the stream may frame whole (the ring keeps
    // one byte free).
    MAXIMUM_METASERVER_BUFFER_SIZE = METASERVER_LINEAR_BUFFER_SIZE + 1,
    MAXIMUM_LINEAR_BUFFER_SIZE = METASERVER_LINEAR_BUFFER_SIZE,
    // Room for the encoding's 24 bytes after the largest packet.
    MAXIMUM_OUTGOING_BUFFER_SIZE = METASERVER_LINEAR_BUFFER_SIZE + LOBBY_CODEC_OVERHEAD,
    // Bytes the service has not taken yet; a service that stops reading
    // longer than this loses its connection, never the tail of a packet.
    OUTGOING_QUEUE_SIZE = 2 * METASERVER_LINEAR_BUFFER_SIZE,
    RECEIVE_CHUNK = 512,
    // Reads per stream-data event, so a flood cannot hold the frame.
    MAXIMUM_RECEIVES_PER_EVENT = 256,
};

static struct metaserver_globals
{
    volatile bool connected;
    metaserver_handler_procedure handler;
    circular_queue buffer; // "ms incoming"
    circular_queue outgoing; // "ms outgoing": encoded bytes the socket has not taken
    uint8_t *linear_buffer;
    uint8_t *outgoing_buffer;
    char password[METASERVER_PASSWORD_BUFFER_SIZE];
    Endpoint *volatile ep;
    void *user_context;
    login_data login;
    int16_t game_data_size;
    int16_t order;
    volatile bool closing, connected_to_room, current_room_went_down, room_change_failed;
    // The stream can no longer be framed or decoded: nothing more is read.
    bool stream_corrupt;
    bool valid_token;
    uint8_t token[MAXIMUM_HANDOFF_TOKEN_SIZE];
    buddy_entry buddies[MAXIMUM_BUDDIES];
    int16_t order_member_count;
    order_member order_members[MAXIMUM_ORDER_MEMBERS];
    int32_t user_id;
    uint32_t ticks_at_last_send;
    uint8_t session_key[8];
    bool valid_session_key;
    uint8_t my_private_key[8];
    bool connecting_to_room;
    char login_server_host_name[256];
    // The pump's depth: it runs again only inside a room change's waits.
    int32_t pump_depth;
    bool changing_room;
    // The sender the service wrote into the directed data being handled.
    uint32_t directed_data_sender;
    // The running room change's cancel: true ends its waits at once.
    bool (*room_change_cancel)(void);
    // The last room change ended because it was cancelled, not refused.
    bool room_change_cancelled;
} metaserver_globals;

// ---- the power user's setting ------------------------------------------------

struct lobby_ini_record
{
    bool allow_plaintext_password;
};
static lobby_ini_record lobby_ini_settings;

static const inifile_entry lobby_ini_entries[] = {
    {"AllowPlaintextPassword", _inifile_boolean, offsetof(lobby_ini_record, allow_plaintext_password), 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};

bool metaserver_plaintext_password_allowed(void)
{
    static const lobby_ini_record defaults = {false};
    const inifile_section section = {"Net.Lobby", nullptr, nullptr, lobby_ini_entries, &lobby_ini_settings, &defaults,
                                     (int32_t)sizeof(lobby_ini_record)};
    inifile_readsec(&section);
    return lobby_ini_settings.allow_plaintext_password;
}

// ---- buffers -----------------------------------------------------------------

static void free_buffers(void)
{
    auto &m = metaserver_globals;
    free_circular_queue(&m.buffer);
    free_circular_queue(&m.outgoing);
    free(m.linear_buffer);
    free(m.outgoing_buffer);
    m.linear_buffer = nullptr;
    m.outgoing_buffer = nullptr;
}

static bool allocate_buffers(void)
{
    auto &m = metaserver_globals;
    m.linear_buffer = (uint8_t *)calloc(1, MAXIMUM_LINEAR_BUFFER_SIZE);
    m.outgoing_buffer = (uint8_t *)calloc(1, MAXIMUM_OUTGOING_BUFFER_SIZE);
    if (allocate_circular_queue("ms incoming", &m.buffer, MAXIMUM_METASERVER_BUFFER_SIZE) &&
        allocate_circular_queue("ms outgoing", &m.outgoing, OUTGOING_QUEUE_SIZE) && m.linear_buffer &&
        m.outgoing_buffer)
        return true;
    free_buffers();
    return false;
}

// ---- closing -------------------------------------------------------------------

// Ends a connection whose stream can no longer be trusted: the handler sees
// the room go down (when in one) or the connection close, after this frame's reading.
// Closes the endpoint abortively once, as when it died: a room change under
// way fails and a room entered goes down.
static void abort_connection(void)
{
    auto &m = metaserver_globals;
    if (!m.ep || m.closing) return;
    m.room_change_failed = true;
    m.closing = true;
    if (m.connected_to_room)
    {
        m.connected_to_room = false;
        m.current_room_went_down = true;
    }
    ProtocolCloseEndpoint(m.ep, false);
}

static void close_corrupt_connection(const char *why)
{
    log_message(__FILE__, __LINE__, "lobby connection closed: %s", why);
    metaserver_globals.stream_corrupt = true;
    abort_connection();
}

void close_metaserver_connection(void)
{
    auto &m = metaserver_globals;
    m.connected_to_room = false;
    if (m.ep)
    {
        if (!m.closing)
        {
            m.closing = true;
            ProtocolCloseEndpoint(m.ep, true);
        }
        // The close completes inside the call; the wait only covers a module
        // that completes it later.
        const uint32_t start = machine_tick_count();
        while (m.connected && m.ep && machine_tick_count() - start < METASERVER_CLOSE_TIMEOUT)
            ProtocolIdle(m.ep);
    }
    m.connected = false;
    m.ep = nullptr;
}

static void flush_outgoing(void);

void disconnect_from_metaserver(void)
{
    auto &m = metaserver_globals;
    log_message(__FILE__, __LINE__, "Disconnecting from metaserver.");
    // What was sent last (a game's scores, just before the player leaves)
    // goes out before the connection closes; a socket that takes no more
    // drops the rest, which is said.
    flush_outgoing();
    if (m.ep && m.connected && !is_circular_queue_empty(&m.outgoing))
        log_message(__FILE__, __LINE__, "the lobby connection closes with data it could not send");
    close_metaserver_connection();
    free_buffers();
    m.user_context = nullptr;
    m.handler = nullptr;
    m.valid_token = false;
    m.valid_session_key = false;
    memset(m.password, 0, sizeof(m.password));
    forget_metaserver_game_listing();
}

// ---- the send path -----------------------------------------------------------

static void flush_outgoing(void)
{
    auto &m = metaserver_globals;
    while (m.ep && m.connected && !m.closing && !is_circular_queue_empty(&m.outgoing))
    {
        const int32_t run = circular_buffer_linear_write_size(&m.outgoing);
        const int32_t sent = ProtocolSend(m.ep, m.outgoing.buffer + m.outgoing.read_index, (uint32_t)run, 0);
        if (sent < 0)
        {
            close_corrupt_connection("the socket refused to send");
            return;
        }
        if (sent == 0) return; // the socket is full: the rest goes on a later pass
        m.outgoing.read_index = (m.outgoing.read_index + sent) % m.outgoing.size;
    }
}

// Sends the packet built in host order in `outgoing_buffer`.
static void send_outgoing_packet(int32_t length)
{
    auto &m = metaserver_globals;
    if (length < METASERVER_PACKET_HEADER_SIZE || !m.ep || !m.connected) return;
    uint8_t *packet = m.outgoing_buffer;
    if (!byteswap_packet(packet, length, true)) return;
    if (m.valid_session_key)
    {
        const int32_t body = encodeData(packet + METASERVER_PACKET_HEADER_SIZE, length - METASERVER_PACKET_HEADER_SIZE, m.session_key);
        if (body < 0) return;
        length = METASERVER_PACKET_HEADER_SIZE + body;
        write_be32(packet + 4, (uint32_t)length);
    }
    if (!copy_data_into_circular_queue(packet, length, &m.outgoing))
    {
        close_corrupt_connection("the service has stopped taking what is sent");
        return;
    }
    m.ticks_at_last_send = machine_tick_count();
    flush_outgoing();
}

static uint8_t *outgoing(void) { return metaserver_globals.outgoing_buffer; }

// ---- the endpoint's callback ---------------------------------------------------

// Takes from the socket only what the receive queue has room for: the rest
// waits there (and the service's sending slows) until the pump has taken
// whole packets out, so no packet the stream may hold is ever dropped.  The
// queue holds the largest packet whole, so a full queue always holds one.
static void receive_stream_data(void)
{
    auto &m = metaserver_globals;
    uint8_t chunk[RECEIVE_CHUNK];
    for (int32_t reads = 0; reads < MAXIMUM_RECEIVES_PER_EVENT && m.ep && !m.closing; ++reads)
    {
        const int32_t room = circular_buffer_free_size(&m.buffer);
        if (room <= 0) return;
        uint32_t length = (uint32_t)(room < (int32_t)sizeof(chunk) ? room : (int32_t)sizeof(chunk)), flags = 0;
        if (ProtocolReceive(m.ep, chunk, &length, &flags) != kNMNoError || length == 0) return;
        copy_data_into_circular_queue(chunk, (int32_t)length, &m.buffer);
    }
}

static void metaserver_endpoint_callback(Endpoint *endpoint, void *context, int32_t code, NMErr error, void *cookie)
{
    (void)context;
    (void)error;
    (void)cookie;
    auto &m = metaserver_globals;
    if (code == kNMOpenConnectionIdle)
    {
        platform_specific_update(false);
        return;
    }
    if (endpoint != m.ep) return;
    if (!m.connected && code != kNMCloseComplete)
    {
        if (code != kNMFlowClear) log_message(__FILE__, __LINE__, "Got a code of %d before we were connected??", code);
        return;
    }
    switch (code)
    {
    case kNMEndpointDied: abort_connection(); break;
    case kNMCloseComplete:
        m.connected = false;
        m.ep = nullptr;
        break;
    case kNMStreamData: receive_stream_data(); break;
    case kNMFlowClear: flush_outgoing(); break;
    default: break;
    }
}

// ---- opening -------------------------------------------------------------------

static bool open_endpoint(const char *host, uint16_t port)
{
    auto &m = metaserver_globals;
    if (!host || strchr(host, '\t'))
    {
        log_message(__FILE__, __LINE__, "lobby host name refused (empty or holding a TAB)");
        return false;
    }
    char text[512];
    const int32_t length = slprintf(text, sizeof(text),
                                    "type=%d\tversion=256\tgameID=%d\tgameName=<unused>\tmode=2\tIPaddr=%s\tIPport=%d\t",
                                    (int)kModuleID, (int)NETWORK_GAME_ID, host, (int)port);
    if (length <= 0 || length >= (int32_t)sizeof(text) - 1) return false;
    ProtocolConfig *config = nullptr;
    NMErr result = ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "", nullptr, 0, text, &config);
    if (result != kNMNoError || !config)
    {
        log_message(__FILE__, __LINE__, "lobby configuration refused (%d)", (int)result);
        return false;
    }
    Endpoint *endpoint = nullptr;
    m.ep = nullptr;
    result = ProtocolOpenEndpoint(config, metaserver_endpoint_callback, nullptr, &endpoint, 1);
    ProtocolDisposeConfig(config);
    if (result != kNMNoError || !endpoint) return false;
    m.ep = endpoint;
    m.connected = true;
    m.stream_corrupt = false;
    reset_circular_queue(&m.outgoing);
    return true;
}

// A fresh key pair, its public half sent unencoded.
static void send_session_key(void)
{
    auto &m = metaserver_globals;
    m.valid_session_key = false;
    uint8_t public_key[8];
    getPublicKey(public_key, m.my_private_key);
    send_outgoing_packet(build_sessionkey_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, public_key));
}

bool start_metaserver_connection(const char *host, uint16_t port, metaserver_handler_procedure handler,
                                 const metaserver_login_data *login, void *context)
{
    auto &m = metaserver_globals;
    if (!host || !login || !context) return false;
    if (m.ep) close_metaserver_connection();
    free_buffers();
    memset(&m, 0, sizeof(m));
    m.handler = handler;
    strlcpy_field(m.login.application, sizeof(m.login.application), login->application, sizeof(login->application));
    strlcpy_field(m.login.username, sizeof(m.login.username), login->user, sizeof(login->user));
    strlcpy_field(m.login.build_date, sizeof(m.login.build_date), login->build_date, sizeof(login->build_date));
    strlcpy_field(m.login.build_time, sizeof(m.login.build_time), login->build_time, sizeof(login->build_time));
    memcpy(m.password, login->password, sizeof(m.password));
    m.password[sizeof(m.password) - 1] = 0;
    strlcpy(m.login_server_host_name, host, sizeof(m.login_server_host_name));
    m.login.flags = (login->flags & _change_player_data_on_login_flag) ? _reset_player_data_flag : 0;
    m.game_data_size = login->game_data_size;
    int32_t player_data_size = login->player_data_size;
    if (!VASSERT(player_data_size >= 0 && player_data_size <= MAXIMUM_METASERVER_PLAYER_DATA_SIZE,
                 "player data of at most 128 bytes"))
        player_data_size = 0;
    memcpy(m.login.player_data, login->player_data, (size_t)player_data_size);
    m.login.player_data_size = (int16_t)player_data_size;
    m.login.platform_type = login->platform_type;
    m.login.max_authentication = _md5_encryption;
    m.login.user_id = login->user_id;
    m.user_id = login->user_id;
    m.login.country_code = login->country_code;
    m.user_context = context;

    if (!allocate_buffers())
    {
        log_message(__FILE__, __LINE__, "lobby connection: out of memory for its buffers");
        memset(&m, 0, sizeof(m));
        return false;
    }
    log_message(__FILE__, __LINE__, "Establishing connection with metaserver at %s:%d...", host, (int)port);
    if (!open_endpoint(host, port))
    {
        log_message(__FILE__, __LINE__, "  Could not connect!");
        free_buffers();
        m.user_context = nullptr;
        return false;
    }
    log_message(__FILE__, __LINE__, "  Connected.");
    m.connecting_to_room = false;
    send_session_key();
    return true;
}

// ---- room change ---------------------------------------------------------------

void InetNToA(uint32_t address, char text[16])
{
    snprintf(text, 16, "%u.%u.%u.%u", (unsigned)(address >> 24) & 0xFF, (unsigned)(address >> 16) & 0xFF,
             (unsigned)(address >> 8) & 0xFF, (unsigned)address & 0xFF);
}

// Any address but 0 is the room's own: one whose first octet is 128 or more
// reads as negative in the signed field and is still an address.
void metaserver_room_host_text(int32_t host, const char *login_host, char *text, int32_t size)
{
    if (host != 0)
    {
        char address[16];
        InetNToA((uint32_t)host, address);
        strlcpy(text, address, (size_t)size);
    }
    else
        strlcpy(text, login_host ? login_host : "", (size_t)size);
}

static bool session_key_received_or_died(void)
{
    update_metaserver();
    return metaserver_session_key_received() || metaserver_endpoint_died();
}

static bool room_change_done(void)
{
    update_metaserver();
    return metaserver_room_change_complete();
}

bool metaserver_room_change_in_progress(void) { return metaserver_globals.changing_room; }

bool metaserver_room_change_was_cancelled(void) { return metaserver_globals.room_change_cancelled; }

static bool room_change_cancel_asked(void)
{
    return metaserver_globals.room_change_cancel && metaserver_globals.room_change_cancel();
}

// One of a room change's waits; false when it did not succeed, noting a
// cancel (by the caller's check or the wait dialog's Cancel) apart from a
// time-out.
static bool wait_for_room(bool (*condition)(void), const char *message)
{
    const int16_t result = wait_for_global_with_delayed_dialog(room_change_cancel_asked, condition, message,
                                                               METASERVER_ROOM_CHANGE_TIMEOUT);
    if (result == _gwait_cancel || result == _gwait_user_cancel) metaserver_globals.room_change_cancelled = true;
    return result == _gwait_success;
}

static bool change_to_room_now(int32_t host, int16_t port)
{
    auto &m = metaserver_globals;
    close_metaserver_connection();
    reset_circular_queue(&m.buffer);
    char host_text[256];
    metaserver_room_host_text(host, m.login_server_host_name, host_text, sizeof(host_text));
    m.closing = false;
    if (!open_endpoint(host_text, (uint16_t)port))
    {
        log_message(__FILE__, __LINE__, "lobby room at %s:%d does not answer", host_text, (int)(uint16_t)port);
        return false;
    }
    m.connected_to_room = false;
    m.current_room_went_down = false;
    m.room_change_failed = false;
    m.connecting_to_room = true;
    send_session_key();
    if (!wait_for_room(session_key_received_or_died, "Negotiating session key...") || !m.valid_session_key)
    {
        log_message(__FILE__, __LINE__, "lobby room at %s:%d: no session key", host_text, (int)(uint16_t)port);
        return false;
    }
    send_outgoing_packet(build_room_login_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, m.token, m.login.username));
    if (m.connected)
        send_outgoing_packet(build_set_player_data_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, m.login.player_data,
                                                          m.login.player_data_size));
    if (!wait_for_room(room_change_done, "Changing rooms..."))
    {
        log_message(__FILE__, __LINE__, "lobby room at %s:%d did not take the login", host_text, (int)(uint16_t)port);
        m.connected_to_room = false;
        return false;
    }
    return m.connected_to_room;
}

bool change_to_room(int32_t host, int16_t port, bool (*cancel)(void))
{
    auto &m = metaserver_globals;
    m.room_change_cancelled = false;
    if (!m.valid_token || !m.user_context) return false;
    if (m.changing_room)
    {
        log_message(__FILE__, __LINE__, "lobby room change refused: another is under way");
        return false;
    }
    m.changing_room = true;
    m.room_change_cancel = cancel;
    const bool entered = change_to_room_now(host, port);
    m.room_change_cancel = nullptr;
    m.changing_room = false;
    return entered;
}

// ---- the pump ------------------------------------------------------------------

static void raise_event(int32_t event, void *data, int32_t length)
{
    auto &m = metaserver_globals;
    if (m.handler && m.user_context) m.handler(event, data, length, m.user_context);
}

static void answer_password_challenge(const uint8_t *body, int32_t body_length)
{
    auto &m = metaserver_globals;
    if (body_length < 2 + MAXIMUM_SALT_SIZE)
    {
        close_corrupt_connection("a password challenge without its salt");
        return;
    }
    int16_t type;
    memcpy(&type, body, 2);
    if (type == _plaintext_encryption && !metaserver_plaintext_password_allowed())
    {
        // Nothing authenticates the service: whoever stands in for it could
        // ask for the password in the clear.
        log_message(__FILE__, __LINE__, "lobby asked for a plaintext password: refused (Net.Lobby AllowPlaintextPassword)");
        raise_event(_connection_refused_metaserver_not_supported, nullptr, 0);
        close_corrupt_connection("plaintext password refused");
        return;
    }
    uint8_t response[EXTENDED_MAXIMUM_ENCRYPTED_PASSWORD_SIZE] = {};
    const int32_t length = encrypt_password(m.password, body + 2, response, type);
    send_outgoing_packet(build_password_response_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, response, length));
}

// What each server message code raises and does; codes without an event
// (and those beyond the table) pass their text on as an unknown message.
struct server_message_rule
{
    int16_t event;
    bool fails_room_change;
    bool enters_room;
    bool ends_frame; // the rest of the queue waits for the next frame
};

static const server_message_rule server_messages[] = {
    {NONE, false, false, false}, // syntax error
    {_connection_refused_game_not_allowed, false, false, false},
    {_connection_refused_bad_version, false, false, false},
    {_connection_refused_bad_user_or_password, false, false, false},
    {NONE, false, false, false}, // user not logged in
    {NONE, false, false, false}, // bad lobby version
    {_connection_refused_already_logged_in, true, false, false},
    {NONE, false, false, false}, // unknown game type
    {_connection_established, false, true, true},
    {NONE, false, false, false}, // logout successful
    {NONE, false, false, false}, // player not in room
    {NONE, false, false, false}, // game already exists
    {_connection_refused_already_logged_in, true, false, false},
    {_connection_refused_room_full, true, false, true},
    {_connection_refused_account_locked, true, false, false},
    {_connection_refused_metaserver_not_supported, true, false, false},
    {_connection_refused_guests_disallowed, false, false, false},
    {_connection_refused_guest_name_taken, false, false, false},
};
static_assert(sizeof(server_messages) / sizeof(server_messages[0]) == _login_failed_guest_name_taken + 1);

static void handle_server_message(uint8_t *body, int32_t body_length, bool *stop)
{
    auto &m = metaserver_globals;
    int32_t code;
    memcpy(&code, body, 4);
    char *text = (char *)body + 4;
    const int32_t text_room = body_length - 4;
    if (text_room > 0 && !memchr(text, 0, (size_t)text_room))
    {
        close_corrupt_connection("a server message whose text does not end inside it");
        return;
    }
    static char empty[1] = {0};
    if (text_room == 0) text = empty;
    if (code < 0 || code >= (int32_t)(sizeof(server_messages) / sizeof(server_messages[0])) ||
        server_messages[code].event == NONE)
    {
        raise_event(_unknown_text_message, text, (int32_t)strlen(text));
        return;
    }
    const server_message_rule &rule = server_messages[code];
    if (rule.fails_room_change) m.room_change_failed = true;
    if (rule.enters_room) m.connected_to_room = true;
    raise_event(rule.event, nullptr, 0);
    if (rule.ends_frame) *stop = true;
}

// The packets handed to the handler as they are, with what each event gets.
enum forwarded_data : int8_t
{
    _forward_nothing,
    _forward_packet, // the packet and its length
    _forward_body, // the body and its length
    _forward_body_without_length, // the body and 0
};

struct forwarded_packet
{
    int16_t type;
    int16_t event;
    int8_t data; // forwarded_data
};

static const forwarded_packet forwarded_packets[] = {
    {_player_list_packet, _player_list_message, _forward_packet},
    {_game_list_packet, _game_list_message, _forward_packet},
    {_data_chunk_packet, _data_chunk_message, _forward_nothing},
    {_room_login_successful_packet, _set_player_room_id_message, _forward_body},
    {_message_of_the_day_packet, _message_of_the_day_message, _forward_body},
    {_send_versions_packet, _metaserver_awaiting_versions_message, _forward_nothing},
    {_game_list_pref_packet, _game_list_pref_message, _forward_packet},
    {_player_search_list_packet, _player_search_message, _forward_packet},
    {_buddy_list_packet, _buddy_list_message, _forward_packet},
    {_order_list_packet, _order_list_message, _forward_packet},
    {_player_info_packet, _player_info_message, _forward_packet},
    {_update_info_packet, _update_info_message, _forward_packet},
    {_update_player_buddy_list_packet, _update_player_buddy_list_message, _forward_body_without_length},
    {_update_order_member_list_packet, _update_order_member_list_message, _forward_packet},
    {_you_just_got_drunmed_sucka_packet, _you_just_got_drunmed_sucka_message, _forward_body_without_length},
    {_proxy_client_join_packet, _proxy_client_join_message, _forward_body_without_length},
    {_room_broadcast_packet, _broadcast_message, _forward_body},
};

// Dispatches one packet in host order; `stop` ends this frame's reading.
static void dispatch_packet(uint8_t *packet, int32_t length, bool *stop)
{
    auto &m = metaserver_globals;
    int16_t type;
    memcpy(&type, packet + 2, 2);
    uint8_t *body = packet + METASERVER_PACKET_HEADER_SIZE;
    const int32_t body_length = length - METASERVER_PACKET_HEADER_SIZE;
    switch (type)
    {
    case _room_list_packet:
        raise_event(_room_list_message, packet, length);
        if (!m.connected_to_room) *stop = true;
        return;
    case _server_message_packet: handle_server_message(body, body_length, stop); return;
    case _password_challenge_packet: answer_password_challenge(body, body_length); return;
    case _user_successful_login_packet:
        if (body_length < 8 + MAXIMUM_HANDOFF_TOKEN_SIZE)
        {
            close_corrupt_connection("a login answer without its token");
            return;
        }
        memcpy(&m.user_id, body, 4);
        memcpy(&m.order, body + 4, 2);
        memcpy(m.token, body + 8, MAXIMUM_HANDOFF_TOKEN_SIZE);
        m.valid_token = true;
        set_metaserver_preferences_last_user_id(m.user_id);
        return;
    case _set_player_data_from_metaserver_packet:
    {
        metaserver_player_aux_data aux;
        int32_t data = 0;
        if (const uint8_t *player_data = get_player_data_from_metaserver(packet, length, &data, &aux))
        {
            memcpy(m.login.player_data, player_data, (size_t)data);
            m.login.player_data_size = (int16_t)data;
        }
        raise_event(_set_player_data_message, packet, length);
        return;
    }
    case _directed_data_packet:
    {
        // The service writes the sender's user id over the target: only it says who sent the data.
        uint32_t sender;
        memcpy(&sender, body, 4);
        note_metaserver_directed_data_sender(sender);
        raise_event(_directed_message, body + 8, body_length - 8);
        return;
    }
    case _keepalive_packet: send_outgoing_packet(build_keepalive_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE)); return;
    case _session_key_packet:
        if (body_length < 8)
        {
            close_corrupt_connection("a session key packet without its key");
            return;
        }
        getSessionKey(m.session_key, m.my_private_key, body);
        m.valid_session_key = true;
        if (!m.connecting_to_room)
            send_outgoing_packet(build_login_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, &m.login));
        return;
    default: break;
    }
    for (const forwarded_packet &rule : forwarded_packets)
    {
        if (rule.type != type) continue;
        switch (rule.data)
        {
        case _forward_packet: raise_event(rule.event, packet, length); break;
        case _forward_body: raise_event(rule.event, body, body_length); break;
        case _forward_body_without_length: raise_event(rule.event, body, 0); break;
        default: raise_event(rule.event, nullptr, 0); break;
        }
        return;
    }
    // The URL packet and the client's own types are not for the handler.
}

// Cuts, decodes and swaps the next packet into the linear buffer: its length,
// 0 when none is whole yet, -1 when the connection was closed for it.
static int32_t next_packet(void)
{
    auto &m = metaserver_globals;
    const metaserver_stream_result cut = parse_network_stream(&m.buffer, m.linear_buffer, MAXIMUM_LINEAR_BUFFER_SIZE);
    if (cut == _metaserver_stream_incomplete) return 0;
    if (cut == _metaserver_stream_broken)
    {
        close_corrupt_connection("its stream holds an impossible packet length");
        return -1;
    }
    uint8_t *packet = m.linear_buffer;
    if (read_be16(packet) != PACKET_IDENTIFIER)
    {
        close_corrupt_connection("a packet without the lobby's identifier");
        return -1;
    }
    int32_t length = (int32_t)read_be32(packet + 4);
    if (m.valid_session_key)
    {
        const int32_t body = decodeData(packet + METASERVER_PACKET_HEADER_SIZE, length - METASERVER_PACKET_HEADER_SIZE, m.session_key);
        if (body < 0)
        {
            close_corrupt_connection("a packet whose body does not decode");
            return -1;
        }
        length = METASERVER_PACKET_HEADER_SIZE + body;
        write_be32(packet + 4, (uint32_t)length);
    }
    const int16_t type = (int16_t)read_be16(packet + 2);
    if (type == _directed_data_packet && length < 16)
    {
        close_corrupt_connection("directed data shorter than its two words");
        return -1;
    }
    if (!byteswap_packet(packet, length, false))
    {
        close_corrupt_connection("a packet that does not fit its type");
        return -1;
    }
    return length;
}

// Dispatches the whole packets of the receive queue, up to a packet that ends
// this frame's reading or a stream that closes the connection.
static void read_queued_packets(void)
{
    auto &m = metaserver_globals;
    bool stop = false;
    // What the service sent before its connection ended is still read: a
    // refusal followed at once by the close must not turn into "closed".
    while (!stop && m.user_context && !m.stream_corrupt)
    {
        const int32_t length = next_packet();
        if (length <= 0) break;
        dispatch_packet(m.linear_buffer, length, &stop);
    }
}

void update_metaserver(void)
{
    auto &m = metaserver_globals;
    if (!m.user_context || !m.linear_buffer) return;
    if (m.pump_depth > 0 && !m.changing_room)
    {
        log_message(__FILE__, __LINE__, "lobby pump entered again from its own handler: skipped");
        return;
    }
    ++m.pump_depth;
    if (m.ep)
    {
        if (m.connected && machine_tick_count() - m.ticks_at_last_send > TICKS_BEFORE_SENDING_KEEPALIVE)
            send_outgoing_packet(build_keepalive_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE));
        flush_outgoing();
        if (m.ep) ProtocolIdle(m.ep);
    }
    read_queued_packets();
    --m.pump_depth;
    if (!m.user_context) return;
    // A room whose connection ended before its welcome was read went down
    // after all.
    if (m.closing && m.connected_to_room && !m.changing_room)
    {
        m.connected_to_room = false;
        m.current_room_went_down = true;
    }
    if (m.current_room_went_down)
    {
        m.current_room_went_down = false;
        raise_event(_metaserver_room_went_down, nullptr, 0);
        return;
    }
    if (m.closing && !m.changing_room)
    {
        m.closing = false;
        raise_event(_connection_closed_by_metaserver, nullptr, 0);
    }
}

// ---- queries and senders -------------------------------------------------------

bool metaserver_endpoint_died(void) { return metaserver_globals.ep == nullptr; }
bool metaserver_session_key_received(void) { return metaserver_globals.valid_session_key; }
bool metaserver_room_change_complete(void)
{
    return metaserver_globals.room_change_failed || metaserver_globals.connected_to_room;
}
bool metaserver_connected_to_room(void) { return metaserver_globals.connected_to_room; }
int32_t get_metaserver_user_id(void) { return metaserver_globals.user_id; }
uint32_t get_metaserver_directed_data_sender(void) { return metaserver_globals.directed_data_sender; }
void note_metaserver_directed_data_sender(uint32_t sender) { metaserver_globals.directed_data_sender = sender; }
int16_t get_metaserver_order_id(void) { return metaserver_globals.order; }

static bool can_send(void) { return metaserver_globals.connected && metaserver_globals.outgoing_buffer; }

void request_full_update_from_metaserver(void)
{
    if (can_send()) send_outgoing_packet(build_request_full_update_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE));
}

void change_player_data(const void *data, int32_t length)
{
    auto &m = metaserver_globals;
    if (!can_send() || length < 0 || length > MAXIMUM_METASERVER_PLAYER_DATA_SIZE) return;
    memmove(m.login.player_data, data, (size_t)length);
    m.login.player_data_size = (int16_t)length;
    send_outgoing_packet(build_set_player_data_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, data, length));
}

void room_broadcast_data(const void *data, int32_t length)
{
    if (can_send()) send_outgoing_packet(build_room_broadcast_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, data, length));
}

void send_message_to_player(uint32_t player_id, int32_t second_word, const void *data, int32_t length)
{
    (void)second_word; // the service's second word is always 1 on the way out
    if (can_send())
        send_outgoing_packet(build_directed_data_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, player_id, data, length));
}

void send_version_data_to_metaserver(int32_t patch_version)
{
    if (can_send())
        send_outgoing_packet(build_version_control_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, _platform_is_linux,
                                                          METASERVER_PLAYER_VERSION, patch_version,
                                                          METASERVER_PLAYER_BUILD_NUMBER));
}

// ---- buddies, orders and their queries ----------------------------------------------

void send_buddy_query(void)
{
    if (can_send()) send_outgoing_packet(build_buddy_query_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE));
}

void send_order_query(void)
{
    if (can_send()) send_outgoing_packet(build_order_query_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE));
}

void send_update_buddy(int32_t player_id, bool add)
{
    if (can_send())
        send_outgoing_packet(build_update_buddy_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, player_id, add));
}

void send_player_search_query(const char *text)
{
    if (can_send() && text)
        send_outgoing_packet(build_player_search_query_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, text));
}

void send_player_info_query(int32_t player_id)
{
    if (can_send())
        send_outgoing_packet(build_player_info_query_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, player_id));
}

void send_player_info_update(const char *city, const char *state, const char *country, const char *personal)
{
    if (!can_send()) return;
    send_outgoing_packet(build_update_player_information_packet(outgoing(), MAXIMUM_LINEAR_BUFFER_SIZE, city ? city : "",
                                                                state ? state : "", country ? country : "",
                                                                personal ? personal : ""));
}

const buddy_entry *get_player_buddy_list(void) { return metaserver_globals.buddies; }

void set_player_buddy_list(const buddy_entry *list)
{
    if (list) memcpy(metaserver_globals.buddies, list, sizeof(metaserver_globals.buddies));
}

char metaserver_player_buddy_status(int32_t player_id)
{
    for (const buddy_entry &buddy : metaserver_globals.buddies)
        if (buddy.player_id == (uint32_t)player_id) return (char)buddy.active;
    return 0;
}

const order_member *get_order_member_list(int16_t *count)
{
    if (count) *count = metaserver_globals.order_member_count;
    return metaserver_globals.order_members;
}

void set_player_order_list(int32_t count, const order_member *members)
{
    auto &m = metaserver_globals;
    if (count < 0 || !members) count = 0;
    if (count > MAXIMUM_ORDER_MEMBERS) count = MAXIMUM_ORDER_MEMBERS;
    memset(m.order_members, 0, sizeof(m.order_members));
    if (count > 0) memcpy(m.order_members, members, sizeof(order_member) * (size_t)count);
    m.order_member_count = (int16_t)count;
}

uint8_t *get_metaserver_packet_buffer(void) { return can_send() ? outgoing() : nullptr; }

void send_metaserver_packet(int32_t length)
{
    if (can_send()) send_outgoing_packet(length);
}

// ---- the fuzzer's entry ----------------------------------------------------------

void read_metaserver_stream_for_fuzzing(const void *bytes, int32_t size, const uint8_t *key,
                                        metaserver_handler_procedure handler)
{
    auto &m = metaserver_globals;
    static int32_t fuzz_context;
    if (!m.linear_buffer && !allocate_buffers()) return;
    reset_circular_queue(&m.buffer);
    m.ep = nullptr;
    m.connected = false;
    m.closing = false;
    m.connected_to_room = false;
    m.stream_corrupt = false;
    m.valid_token = false;
    m.handler = handler;
    m.user_context = &fuzz_context;
    m.valid_session_key = key != nullptr;
    if (key) memcpy(m.session_key, key, sizeof(m.session_key));
    if (size > circular_buffer_free_size(&m.buffer)) size = circular_buffer_free_size(&m.buffer);
    if (size > 0) copy_data_into_circular_queue(bytes, size, &m.buffer);
    read_queued_packets();
    m.user_context = nullptr;
}
