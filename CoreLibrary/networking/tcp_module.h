#pragma once
// The TCP/IP net module ('Inet'): endpoints with up to one datagram and one
// stream socket each, non-blocking, all polled together at a zero time-out
// whenever any endpoint idles; every event reaches the endpoint's callback
// synchronously.  Main thread only.  Also the protocol configuration and its
// text form, and the local-network enumeration (ip_enumeration.h).

#include "net_module.h"

enum : uint32_t
{
    kModuleID = FOUR_CHARACTER_CODE('I', 'n', 'e', 't'),
    kVersion = 256,
    config_cookie = FOUR_CHARACTER_CODE('I', 'P', 'c', 'f'),
    dead_cookie = FOUR_CHARACTER_CODE('b', 'a', 'd', ' '),
    debug_pass_through_selector = FOUR_CHARACTER_CODE('d', 'e', 'b', 'g'),
    // The peer's IPv4 address of a connection (host order) into the uint32_t
    // the data points at; kNMBadStateErr when the stream has no peer.
    peer_address_pass_through_selector = FOUR_CHARACTER_CODE('p', 'e', 'e', 'r'),
    // The bytes a connection's stream has taken but its peer has not
    // acknowledged (the system's send buffer) into the int32_t the data
    // points at; kNMBadStateErr when there is no stream.
    unsent_bytes_pass_through_selector = FOUR_CHARACTER_CODE('o', 'u', 't', 'q'),
};

enum : int32_t
{
    DEFAULT_TIMEOUT = 5000,
    OPEN_TIMEOUT = 30000,
    MAXIMUM_CONFIG_LENGTH = 1024,
    MAXIMUM_HOST_NAME_LENGTH = 255,
    MAXIMUM_GAME_NAME_LENGTH = 31,
    MAXIMUM_POLL_PASSES = 11,
    MAXIMUM_NEW_GAMES_PER_IDLE = 10,
};

// One game heard on the local network.
struct available_game_data
{
    int32_t host; // address, host order
    uint16_t port;
    uint16_t flags;
    int32_t ticks_at_last_response;
    char name[32];
};
enum : uint16_t
{
    _new_game_flag = 1,
    _duplicate_game_flag = 4,
};

// A protocol configuration; owned by its caller until tcp_NMDeleteConfig.
struct NMProtocolConfigPriv
{
    uint32_t cookie;
    NMType type;
    int32_t version;
    int32_t gameID;
    int32_t connectionMode;
    char host_name[MAXIMUM_HOST_NAME_LENGTH + 1]; // empty: use `host` as it is
    uint32_t host; // host order; 0 is any address for a listener
    uint16_t port;
    char name[32];
    char buffer[MAXIMUM_CONFIG_LENGTH];
    // The enumeration.
    int32_t game_count;
    available_game_data *games;
    NMEnumerationCallback callback;
    void *user_context;
    int enumeration_socket;
    bool enumerating;
    int32_t new_game_count;
    available_game_data new_games[MAXIMUM_NEW_GAMES_PER_IDLE];
    uint32_t ticks_at_last_enumeration_request;
};

typedef void (*NMStatusProcedure)(NMEndpointPriv *endpoint, const char *text);

// One endpoint of the module.
struct NMEndpointPriv
{
    NMEndpointPriv *next;
    uint32_t cookie; // kModuleID while alive, 'bad ' once freed
    int32_t version;
    int32_t gameID;
    uint32_t timeout;
    int32_t connectionMode;
    uint32_t valid_endpoints; // bit per socket kind, once usable
    NMEndpointCallback callback;
    void *user_context;
    char name[32];
    uint32_t host; // the local address the sockets are bound to, host order
    uint16_t port;
    bool alive;
    bool active;
    int socket[NUMBER_OF_SOCKET_KINDS];
    bool flowBlocked[NUMBER_OF_SOCKET_KINDS];
    bool dynamically_assign_remote_udp_port;
    bool listener;
    NMStatusProcedure status_proc;
    NMErr opening_error;
    bool dying;
    bool needToDie;
};

// The 25 procedures, in the endpoint layer's slot order.

// `info->size` is the caller's size of the record: below 84 → kNMModuleInfoTooSmall.
NMErr tcp_NMGetModuleInfo(NMModuleInfo *info);
// Opens a listener (`active` false) or a connection to the configured host.
// Blocks until the open completes or OPEN_TIMEOUT ms pass on machine_tick_count,
// raising kNMOpenConnectionIdle each turn.  On failure no endpoint is returned:
// kNMAddressNotFound, kNMOpenEndpointFailedErr, kNMOpenFailedErr, kNMInvalidConfigErr.
NMErr tcp_NMOpen(NMProtocolConfigPriv *config, NMEndpointCallback callback, void *context,
                 NMEndpointPriv **endpoint, bool active);
// Unlinks, closes the sockets (a reset when not orderly) and frees the endpoint;
// one that became alive first gets kNMCloseComplete and its owner's clean-up.
NMErr tcp_NMClose(NMEndpointPriv *endpoint, bool orderly);
// Accepts the listener's pending connection into a new alive endpoint: the new
// endpoint gets kNMAcceptComplete (cookie: the listener), the listener
// kNMHandoffComplete (cookie: the new endpoint).  A failed accept leaves no
// endpoint and returns kNMAcceptFailedErr.
NMErr tcp_NMAcceptConnection(NMEndpointPriv *listener, void *cookie, NMEndpointCallback callback,
                             void *context);
// Accepts and resets the pending connection: the peer sees ECONNRESET.
NMErr tcp_NMRejectConnection(NMEndpointPriv *listener, void *cookie);
bool tcp_NMIsAlive(NMEndpointPriv *endpoint);
NMErr tcp_NMSetTimeout(NMEndpointPriv *endpoint, uint32_t milliseconds);
// A configuration from `text` (null: the defaults for `game_id` and `name`).
// A bad or missing token → kNMInvalidConfigErr, and no configuration.
NMErr tcp_NMCreateConfig(const char *text, int32_t game_id, const char *name,
                         const void *enumeration_data, int32_t enumeration_data_length,
                         NMProtocolConfigPriv **config);
// The length of the text form, NUL excluded.
int32_t tcp_NMGetConfigLen(NMProtocolConfigPriv *config);
// Copies the text form (NUL included) into `buffer`; `*length` is the room on
// entry and the text's length on return.  Too little room →
// kNMConfigStringTooSmallErr (the first `*length` bytes are copied).
NMErr tcp_NMGetConfig(NMProtocolConfigPriv *config, char *buffer, int32_t *length);
NMErr tcp_NMDeleteConfig(NMProtocolConfigPriv *config);
// Polls every endpoint of the module: up to 11 passes, stopping after one that
// did nothing.  Datagrams dropped unread by a listener count as nothing.
NMErr tcp_NMIdle(NMEndpointPriv *endpoint);
// 'debg' stores the status procedure at `data`; any other → kNMUnknownPassThrough.
NMErr tcp_NMFunctionPassThrough(NMEndpointPriv *endpoint, uint32_t selector, void *data);
NMErr tcp_NMInitProtocol(void);
NMErr tcp_NMShutdownProtocol(void);
// 0, kNMFlowErr when the datagram did not go whole, or an error.
NMErr tcp_NMSendDatagram(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags);
// 0 with `*length` the datagram's size, or kNMNoDataErr.
NMErr tcp_NMReceiveDatagram(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
// Bytes sent (with kNMBlocking, all of them) or an error.  Never raises SIGPIPE.
int32_t tcp_NMSend(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags);
// 0 with `*length` the bytes read, or kNMNoDataErr (a closed peer also marks
// the endpoint to die).
NMErr tcp_NMReceive(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
NMErr tcp_NMBindEnumerationItemToConfig(NMProtocolConfigPriv *config, NMHostID host);
NMErr tcp_NMStartEnumeration(NMProtocolConfigPriv *config, NMEnumerationCallback callback,
                             void *context, bool active);
NMErr tcp_NMIdleEnumeration(NMProtocolConfigPriv *config);
NMErr tcp_NMEndEnumeration(NMProtocolConfigPriv *config);
// Answering local-network queries, for the whole module (on at start).
NMErr tcp_NMStopAdvertising(NMEndpointPriv *endpoint);
NMErr tcp_NMStartAdvertising(NMEndpointPriv *endpoint);

// The owner's clean-up after a close (the endpoint layer's); none by default.
void tcp_set_clean_up_procedure(NMCleanUpProcedure procedure);

// Resolves "name-or-dotted[:port]" (at most 255 characters); the port is
// `default_port` without a colon.  Names go to the resolver; dotted text
// must be digits and at most three dots.  False when it cannot be resolved.
bool lookup_machine(const char *text, uint16_t default_port, uint32_t *host, uint16_t *port);

// The passes the last tcp_NMIdle ran (for tests and the benchmark).
int32_t tcp_last_idle_pass_count(void);
// The local port of the endpoint's socket of `kind`, or 0.
uint16_t tcp_endpoint_local_port(NMEndpointPriv *endpoint, int32_t kind);
