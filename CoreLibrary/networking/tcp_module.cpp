#include "tcp_module.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cseries/timers.h"
#include "ip_enumeration.h"
#include "net_config_tokens.h"

enum
{
    LISTEN_BACKLOG = 4,
    // Local ports tried for a stream and datagram pair that share one the
    // system chose.
    PORT_PAIR_ATTEMPTS = 8,
    // A listener drops at most this many stray datagrams per pass, so a flood
    // cannot hold the poll.
    MAXIMUM_DROPPED_DATAGRAMS_PER_PASS = 64,
    MAXIMUM_POLLED_SOCKETS = 2 * 256,
};

static struct tcp_module_globals
{
    NMEndpointPriv *endpointList;
    uint32_t endpointListState;
    bool gAdvertisingGames;
    NMCleanUpProcedure clean_up;
    int32_t last_idle_passes;
} tcp_module_globals = {nullptr, 0, true, nullptr, 0};

static bool valid_module_endpoint(const NMEndpointPriv *endpoint)
{
    if (!endpoint) return false;
    if (endpoint->cookie != kModuleID)
    {
        char text[96];
        snprintf(text, sizeof(text), "ep: %p cookie: 0x%x != 0x%x", (const void *)endpoint,
                 endpoint->cookie, (uint32_t)kModuleID);
        VASSERT(false, text);
        return false;
    }
    return true;
}

static bool valid_config(const NMProtocolConfigPriv *config)
{
    return config && VASSERT(config->cookie == config_cookie, "config->cookie==config_cookie");
}

static void raise_event(NMEndpointPriv *endpoint, int32_t code, NMErr error, void *cookie)
{
    if (endpoint->callback) endpoint->callback(endpoint, endpoint->user_context, code, error, cookie);
}

static uint16_t socket_local_port(int fd, uint32_t *host)
{
    sockaddr_in address{};
    socklen_t size = sizeof(address);
    if (getsockname(fd, (sockaddr *)&address, &size) != 0) return 0;
    if (host) *host = ntohl(address.sin_addr.s_addr);
    return ntohs(address.sin_port);
}

static sockaddr_in make_address(uint32_t host, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return address;
}

static void set_linger_reset(int fd)
{
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
}

static void close_socket(int *fd, bool abortive)
{
    if (*fd < 0) return;
    if (abortive) set_linger_reset(*fd);
    else shutdown(*fd, SHUT_RDWR);
    close(*fd);
    *fd = -1;
}

static bool set_non_blocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

static void set_no_delay(int fd)
{
    // Commands are small and latency-bound: Nagle would hold them back.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// ---- creating ------------------------------------------------------------

static NMErr create_socket(NMEndpointPriv *endpoint, int32_t kind, bool active, uint32_t host,
                           uint16_t port, uint16_t local_port)
{
    const int fd = socket(AF_INET, kind == _datagram_socket ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0) return kNMOpenEndpointFailedErr;
    endpoint->socket[kind] = fd;
    const int on = 1;
    sockaddr_in local;
    if (active)
    {
        local = make_address(INADDR_ANY, local_port);
        if (local_port != 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    }
    else
    {
        // A listener binds the configured address (0: any), never a resolved name.
        local = make_address(host, port);
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    }
    if (kind == _stream_socket) set_no_delay(fd);
    if (bind(fd, (sockaddr *)&local, sizeof(local)) != 0) return kNMOpenEndpointFailedErr;
    uint32_t bound_host = 0;
    const uint16_t bound_port = socket_local_port(fd, &bound_host);
    if (bound_port == 0) return kNMInternalErr;
    endpoint->host = bound_host;
    endpoint->port = bound_port;
    if (!set_non_blocking(fd)) return kNMInternalErr;
    if (active)
    {
        const sockaddr_in remote = make_address(host, port);
        if (connect(fd, (const sockaddr *)&remote, sizeof(remote)) != 0 && errno != EINPROGRESS &&
            errno != EAGAIN)
            return kNMOpenEndpointFailedErr;
    }
    else if (kind == _stream_socket && listen(fd, LISTEN_BACKLOG) != 0)
        return kNMInternalErr;
    return kNMNoError;
}

static void free_endpoint(NMEndpointPriv *endpoint)
{
    endpoint->cookie = dead_cookie;
    free(endpoint);
}

static NMEndpointPriv *allocate_endpoint(int32_t mode, bool active, NMEndpointCallback callback,
                                         void *context)
{
    NMEndpointPriv *endpoint = (NMEndpointPriv *)calloc(1, sizeof(NMEndpointPriv));
    if (!endpoint) return nullptr;
    endpoint->cookie = kModuleID;
    endpoint->timeout = DEFAULT_TIMEOUT;
    endpoint->connectionMode = mode;
    endpoint->callback = callback;
    endpoint->user_context = context;
    endpoint->active = active;
    endpoint->socket[0] = endpoint->socket[1] = -1;
    endpoint->flowBlocked[0] = endpoint->flowBlocked[1] = true;
    endpoint->dynamically_assign_remote_udp_port = mode == kNMNormalMode;
    return endpoint;
}

static void link_endpoint(NMEndpointPriv *endpoint)
{
    endpoint->next = tcp_module_globals.endpointList;
    tcp_module_globals.endpointList = endpoint;
}

static void unlink_endpoint(NMEndpointPriv *endpoint)
{
    for (NMEndpointPriv **link = &tcp_module_globals.endpointList; *link; link = &(*link)->next)
    {
        if (*link == endpoint)
        {
            *link = endpoint->next;
            tcp_module_globals.endpointListState++;
            return;
        }
    }
}

static void close_endpoint(NMEndpointPriv *endpoint, bool orderly)
{
    unlink_endpoint(endpoint);
    close_socket(&endpoint->socket[_datagram_socket], false);
    close_socket(&endpoint->socket[_stream_socket], !orderly);
    if (endpoint->alive)
    {
        endpoint->alive = false;
        raise_event(endpoint, kNMCloseComplete, kNMNoError, nullptr);
        if (tcp_module_globals.clean_up) tcp_module_globals.clean_up(endpoint->user_context, orderly);
    }
    free_endpoint(endpoint);
}

static NMErr create_endpoint(NMProtocolConfigPriv *config, uint32_t host, uint16_t port, bool active,
                             NMEndpointCallback callback, void *context, NMEndpointPriv **result)
{
    NMEndpointPriv *endpoint = allocate_endpoint(config->connectionMode, active, callback, context);
    if (!endpoint) return kNMOutOfMemoryErr;
    endpoint->listener = !active;
    endpoint->version = config->version;
    endpoint->gameID = config->gameID;
    NMErr error = kNMNoError;
    for (int32_t attempt = 1;; attempt++)
    {
        uint16_t datagram_port = 0;
        if (config->connectionMode & kNMDatagramMode)
        {
            error = create_socket(endpoint, _datagram_socket, active, host, port, 0);
            if (error == kNMNoError) datagram_port = endpoint->port;
        }
        // The active stream socket shares the datagram socket's local port, so the
        // peer can tell both apart by address alone.
        // A listener asked for any port takes the datagram socket's for its
        // stream too: searchers find it at the port they connect to.
        if (error == kNMNoError && (config->connectionMode & kNMStreamMode))
            error = create_socket(endpoint, _stream_socket, active, host,
                                  !active && port == 0 ? datagram_port : port, datagram_port);
        // The system chose the datagram port without asking the streams (an
        // active pair's, or a listener's asked for any port): when a stream
        // holds it already, another pair is tried.
        const bool port_taken = error != kNMNoError && (errno == EADDRINUSE || errno == EADDRNOTAVAIL);
        if ((!active && port != 0) || !datagram_port || !port_taken || attempt == PORT_PAIR_ATTEMPTS) break;
        close_socket(&endpoint->socket[_datagram_socket], false);
        close_socket(&endpoint->socket[_stream_socket], true);
    }
    if (error != kNMNoError)
    {
        close_endpoint(endpoint, false);
        return error;
    }
    link_endpoint(endpoint);
    *result = endpoint;
    return kNMNoError;
}

// ---- the poll --------------------------------------------------------------

static void must_die(NMEndpointPriv *endpoint)
{
    endpoint->needToDie = true;
}

static void die_now(NMEndpointPriv *endpoint)
{
    endpoint->needToDie = true;
    endpoint->dying = true;
    raise_event(endpoint, kNMEndpointDied, kNMNoError, nullptr);
}

static void send_local_datagram_port(NMEndpointPriv *endpoint)
{
    const uint16_t port = tcp_endpoint_local_port(endpoint, _datagram_socket);
    uint8_t bytes[2];
    bytes[0] = (uint8_t)(port >> 8);
    bytes[1] = (uint8_t)port;
    send(endpoint->socket[_stream_socket], bytes, 2, MSG_NOSIGNAL);
}

// Answers or drops what waits on a datagram socket; true when the owner was told.
static bool process_datagram_socket(NMEndpointPriv *endpoint, bool *list_changed)
{
    const int fd = endpoint->socket[_datagram_socket];
    for (int32_t dropped = 0; dropped < MAXIMUM_DROPPED_DATAGRAMS_PER_PASS; dropped++)
    {
        uint8_t buffer[kQuerySize + 1];
        sockaddr_in sender{};
        socklen_t sender_size = sizeof(sender);
        const ssize_t size = recvfrom(fd, buffer, sizeof(buffer), MSG_PEEK | MSG_TRUNC,
                                      (sockaddr *)&sender, &sender_size);
        if (size < 0) return false;
        if (is_ip_request_packet(buffer, (int32_t)size))
        {
            recvfrom(fd, buffer, sizeof(buffer), 0, (sockaddr *)&sender, &sender_size);
            if (tcp_module_globals.gAdvertisingGames)
            {
                IPEnumerationResponsePacket reply;
                build_ip_enumeration_response_packet(&reply, endpoint->gameID, endpoint->version,
                                                     endpoint->host, endpoint->port, endpoint->name);
                byteswap_ip_enumeration_packet(&reply);
                sendto(fd, &reply, sizeof(reply), MSG_NOSIGNAL, (sockaddr *)&sender, sender_size);
            }
            continue;
        }
        if (endpoint->listener)
        {
            // Nobody reads a listener's datagrams: drop them, or they would
            // keep the socket readable forever.
            recv(fd, buffer, 1, 0);
            continue;
        }
        if (!endpoint->alive) return false;
        const uint32_t state = tcp_module_globals.endpointListState;
        raise_event(endpoint, kNMDatagramData, kNMNoError, (void *)(intptr_t)size);
        *list_changed = state != tcp_module_globals.endpointListState;
        return true;
    }
    return false;
}

// A mode-3 stream starts with the peer's datagram port (2 bytes), which is
// never data: takes it once both bytes are there.  False while they are not.
static bool take_peer_datagram_port(NMEndpointPriv *endpoint)
{
    const int fd = endpoint->socket[_stream_socket];
    uint8_t bytes[2];
    if (recv(fd, bytes, 2, MSG_PEEK) != 2 || recv(fd, bytes, 2, 0) != 2) return false;
    endpoint->dynamically_assign_remote_udp_port = false;
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    if (getpeername(fd, (sockaddr *)&peer, &size) == 0)
    {
        peer.sin_port = htons((uint16_t)((bytes[0] << 8) | bytes[1]));
        connect(endpoint->socket[_datagram_socket], (sockaddr *)&peer, sizeof(peer));
    }
    return true;
}

static bool process_stream_socket(NMEndpointPriv *endpoint, short revents, bool *list_changed)
{
    const int fd = endpoint->socket[_stream_socket];
    const uint32_t state = tcp_module_globals.endpointListState;
    if (endpoint->listener)
    {
        if (!endpoint->alive) return false;
        raise_event(endpoint, kNMConnectRequest, kNMNoError, endpoint);
        *list_changed = state != tcp_module_globals.endpointListState;
        return true;
    }
    uint8_t peek[4];
    const ssize_t pending = recv(fd, peek, sizeof(peek), MSG_PEEK);
    if (pending < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (pending > 0 && endpoint->dynamically_assign_remote_udp_port &&
        endpoint->socket[_datagram_socket] >= 0)
    {
        // The peer's datagram port comes first and is never delivered as data.
        // Half a port from a peer that has closed never completes: it dies.
        if (pending < 2)
        {
            if (!(revents & (POLLRDHUP | POLLHUP))) return false;
            if (endpoint->alive) die_now(endpoint);
            else must_die(endpoint);
            *list_changed = state != tcp_module_globals.endpointListState;
            return true;
        }
        return take_peer_datagram_port(endpoint);
    }
    if (pending <= 0)
    {
        if (endpoint->alive) die_now(endpoint);
        else
        {
            endpoint->opening_error = kNMAcceptFailedErr;
            must_die(endpoint);
        }
        *list_changed = state != tcp_module_globals.endpointListState;
        return true;
    }
    if (!endpoint->alive) return false;
    raise_event(endpoint, kNMStreamData, kNMNoError, (void *)(intptr_t)pending);
    *list_changed = state != tcp_module_globals.endpointListState;
    return true;
}

static bool process_endpoint_socket(NMEndpointPriv *endpoint, int32_t kind, short revents,
                                    bool *list_changed)
{
    const uint32_t state = tcp_module_globals.endpointListState;
    if (revents & (POLLERR | POLLPRI))
    {
        if (!endpoint->alive)
        {
            endpoint->opening_error = kNMOpenFailedErr;
            must_die(endpoint);
            return true;
        }
        die_now(endpoint);
        *list_changed = state != tcp_module_globals.endpointListState;
        return true;
    }
    bool activity = false;
    if (revents & (POLLIN | POLLHUP | POLLRDHUP))
    {
        activity = kind == _datagram_socket ? process_datagram_socket(endpoint, list_changed)
                                            : process_stream_socket(endpoint, revents, list_changed);
        if (*list_changed || endpoint->dying) return true;
    }
    if ((revents & POLLOUT) && endpoint->flowBlocked[kind])
    {
        activity = true;
        endpoint->flowBlocked[kind] = false;
        if (endpoint->valid_endpoints & (1u << kind))
        {
            raise_event(endpoint, kNMFlowClear, kNMNoError, nullptr);
            *list_changed = state != tcp_module_globals.endpointListState;
        }
        else
        {
            endpoint->valid_endpoints |= 1u << kind;
            if (kind == _stream_socket && endpoint->active && endpoint->socket[_datagram_socket] >= 0)
                send_local_datagram_port(endpoint);
        }
    }
    return activity;
}

// One pass over every socket of the module; true when it did something.
static bool poll_endpoints_once(void)
{
    const uint32_t state = tcp_module_globals.endpointListState;
    for (NMEndpointPriv *endpoint = tcp_module_globals.endpointList; endpoint; endpoint = endpoint->next)
    {
        if (endpoint->needToDie && !endpoint->dying)
        {
            endpoint->dying = true;
            if (endpoint->alive) raise_event(endpoint, kNMEndpointDied, kNMNoError, nullptr);
            if (state != tcp_module_globals.endpointListState) return true;
        }
    }
    pollfd fds[MAXIMUM_POLLED_SOCKETS];
    NMEndpointPriv *owners[MAXIMUM_POLLED_SOCKETS];
    int32_t kinds[MAXIMUM_POLLED_SOCKETS];
    nfds_t count = 0;
    for (NMEndpointPriv *endpoint = tcp_module_globals.endpointList; endpoint && count < MAXIMUM_POLLED_SOCKETS;
         endpoint = endpoint->next)
    {
        if (endpoint->dying) continue;
        for (int32_t kind = 0; kind < NUMBER_OF_SOCKET_KINDS && count < MAXIMUM_POLLED_SOCKETS; kind++)
        {
            if (endpoint->socket[kind] < 0) continue;
            fds[count].fd = endpoint->socket[kind];
            fds[count].events = (short)(POLLIN | POLLPRI | POLLRDHUP | (endpoint->flowBlocked[kind] ? POLLOUT : 0));
            fds[count].revents = 0;
            owners[count] = endpoint;
            kinds[count] = kind;
            count++;
        }
    }
    if (count == 0 || poll(fds, count, 0) <= 0) return false;
    bool activity = false;
    for (nfds_t i = 0; i < count; i++)
    {
        if (fds[i].revents == 0 || owners[i]->dying) continue;
        bool list_changed = false;
        if (process_endpoint_socket(owners[i], kinds[i], fds[i].revents, &list_changed)) activity = true;
        // A callback closed an endpoint: the records gathered above may be gone.
        if (list_changed || state != tcp_module_globals.endpointListState) return true;
    }
    return activity;
}

static int32_t run_poll(void)
{
    int32_t passes = 0;
    while (passes < MAXIMUM_POLL_PASSES)
    {
        passes++;
        if (!poll_endpoints_once()) break;
    }
    return passes;
}

static NMErr wait_for_open_complete(NMEndpointPriv *endpoint)
{
    if (endpoint->listener && endpoint->socket[_stream_socket] >= 0)
        endpoint->valid_endpoints |= 1u << _stream_socket;
    const uint32_t start = machine_tick_count();
    uint32_t wanted = 0;
    for (int32_t kind = 0; kind < NUMBER_OF_SOCKET_KINDS; kind++)
        if (endpoint->connectionMode & (1 << kind)) wanted |= 1u << kind;
    bool failed = false;
    while (!failed)
    {
        if (machine_tick_count() - start >= (uint32_t)OPEN_TIMEOUT)
        {
            failed = true;
            break;
        }
        if (endpoint->socket[_stream_socket] >= 0)
        {
            int error = 0;
            socklen_t size = sizeof(error);
            if (getsockopt(endpoint->socket[_stream_socket], SOL_SOCKET, SO_ERROR, &error, &size) != 0 ||
                (error != 0 && error != EINPROGRESS))
            {
                failed = true;
                break;
            }
        }
        run_poll();
        raise_event(endpoint, kNMOpenConnectionIdle, kNMNoError, nullptr);
        if ((endpoint->valid_endpoints & wanted) == wanted) break;
        if (endpoint->opening_error != kNMNoError) failed = true;
    }
    if (failed)
    {
        endpoint->alive = false;
        close_endpoint(endpoint, false);
        return kNMOpenFailedErr;
    }
    endpoint->alive = true;
    return kNMNoError;
}

// ---- the procedures ----------------------------------------------------------

NMErr tcp_NMGetModuleInfo(NMModuleInfo *info)
{
    if (!info) return kNMParameterErr;
    if (info->size < (int16_t)sizeof(NMModuleInfo)) return kNMModuleInfoTooSmall;
    memset(info, 0, sizeof(*info));
    info->size = (int16_t)sizeof(NMModuleInfo);
    info->type = kModuleID;
    strcpy(info->name, "TCP/IP");
    strcpy(info->copyright, "IPv4 stream and datagram");
    info->maxPacketSize = 1500;
    info->maxEndpoints = kNMNoEndpointLimit;
    info->flags = kNMModuleHasStream | kNMModuleHasDatagram | kNMModuleHasExpedited;
    return kNMNoError;
}

NMErr tcp_NMOpen(NMProtocolConfigPriv *config, NMEndpointCallback callback, void *context,
                 NMEndpointPriv **endpoint, bool active)
{
    if (!endpoint) return kNMParameterErr;
    *endpoint = nullptr;
    if (!valid_config(config)) return kNMInvalidConfigErr;
    if ((config->connectionMode & kNMNormalMode) == 0 || (config->connectionMode & ~kNMNormalMode))
        return kNMInvalidConfigErr;
    if (active && config->host_name[0] != '\0')
    {
        if (!lookup_machine(config->host_name, config->port, &config->host, &config->port))
            return kNMAddressNotFound;
    }
    NMEndpointPriv *created = nullptr;
    const NMErr error = create_endpoint(config, config->host, config->port, active, callback, context, &created);
    if (error != kNMNoError) return error;
    snprintf(created->name, sizeof(created->name), "%s", config->name);
    const NMErr open_error = wait_for_open_complete(created);
    if (open_error != kNMNoError) return open_error;
    *endpoint = created;
    return kNMNoError;
}

static bool endpoint_is_listed(const NMEndpointPriv *endpoint)
{
    for (const NMEndpointPriv *listed = tcp_module_globals.endpointList; listed; listed = listed->next)
        if (listed == endpoint) return true;
    return false;
}

NMErr tcp_NMClose(NMEndpointPriv *endpoint, bool orderly)
{
    if (!valid_module_endpoint(endpoint)) return kNMParameterErr;
    // Closing again from inside its own kNMCloseComplete would free it twice.
    if (!endpoint_is_listed(endpoint)) return kNMBadStateErr;
    close_endpoint(endpoint, orderly);
    return kNMNoError;
}

static int accept_pending(NMEndpointPriv *listener, sockaddr_in *peer)
{
    socklen_t size = sizeof(*peer);
    return accept(listener->socket[_stream_socket], (sockaddr *)peer, &size);
}

NMErr tcp_NMAcceptConnection(NMEndpointPriv *listener, void *cookie, NMEndpointCallback callback,
                             void *context)
{
    (void)cookie;
    if (!valid_module_endpoint(listener) || listener->socket[_stream_socket] < 0) return kNMParameterErr;
    sockaddr_in peer{};
    const int fd = accept_pending(listener, &peer);
    // A connection that vanished before the accept leaves no endpoint behind.
    if (fd < 0) return kNMAcceptFailedErr;
    NMEndpointPriv *endpoint = allocate_endpoint(listener->connectionMode, false, callback, context);
    if (!endpoint)
    {
        close(fd);
        return kNMOutOfMemoryErr;
    }
    endpoint->socket[_stream_socket] = fd;
    endpoint->version = listener->version;
    endpoint->gameID = listener->gameID;
    endpoint->host = listener->host;
    endpoint->port = listener->port;
    endpoint->status_proc = listener->status_proc;
    memcpy(endpoint->name, listener->name, sizeof(endpoint->name));
    set_no_delay(fd);
    bool ok = set_non_blocking(fd);
    if (ok && (endpoint->connectionMode & kNMDatagramMode))
    {
        const int datagram = socket(AF_INET, SOCK_DGRAM, 0);
        endpoint->socket[_datagram_socket] = datagram;
        const sockaddr_in any = make_address(INADDR_ANY, 0);
        ok = datagram >= 0 && bind(datagram, (const sockaddr *)&any, sizeof(any)) == 0 &&
             connect(datagram, (const sockaddr *)&peer, sizeof(peer)) == 0 && set_non_blocking(datagram);
    }
    if (!ok)
    {
        close_endpoint(endpoint, false);
        return kNMAcceptFailedErr;
    }
    endpoint->alive = true;
    link_endpoint(endpoint);
    if (endpoint->connectionMode == kNMNormalMode) send_local_datagram_port(endpoint);
    raise_event(endpoint, kNMAcceptComplete, kNMNoError, listener);
    if (valid_module_endpoint(listener)) raise_event(listener, kNMHandoffComplete, kNMNoError, endpoint);
    return kNMNoError;
}

NMErr tcp_NMRejectConnection(NMEndpointPriv *listener, void *cookie)
{
    (void)cookie;
    if (!valid_module_endpoint(listener) || listener->socket[_stream_socket] < 0) return kNMParameterErr;
    sockaddr_in peer{};
    int fd = accept_pending(listener, &peer);
    if (fd < 0) return kNMAcceptFailedErr;
    set_linger_reset(fd);
    close(fd);
    return kNMNoError;
}

bool tcp_NMIsAlive(NMEndpointPriv *endpoint)
{
    return valid_module_endpoint(endpoint) && endpoint->alive;
}

NMErr tcp_NMSetTimeout(NMEndpointPriv *endpoint, uint32_t milliseconds)
{
    if (!valid_module_endpoint(endpoint)) return kNMParameterErr;
    endpoint->timeout = milliseconds;
    return kNMNoError;
}

NMErr tcp_NMIdle(NMEndpointPriv *endpoint)
{
    if (endpoint && !valid_module_endpoint(endpoint)) return kNMParameterErr;
    tcp_module_globals.last_idle_passes = run_poll();
    return kNMNoError;
}

NMErr tcp_NMFunctionPassThrough(NMEndpointPriv *endpoint, uint32_t selector, void *data)
{
    if (!valid_module_endpoint(endpoint)) return kNMParameterErr;
    if (selector == peer_address_pass_through_selector)
    {
        sockaddr_in peer{};
        socklen_t size = sizeof(peer);
        const int fd = endpoint->socket[_stream_socket];
        if (!data || fd < 0 || getpeername(fd, (sockaddr *)&peer, &size) != 0 || peer.sin_family != AF_INET)
            return kNMBadStateErr;
        *(uint32_t *)data = ntohl(peer.sin_addr.s_addr);
        return kNMNoError;
    }
    if (selector == unsent_bytes_pass_through_selector)
    {
        int unsent = 0;
        const int fd = endpoint->socket[_stream_socket];
        if (!data || fd < 0 || ioctl(fd, TIOCOUTQ, &unsent) != 0) return kNMBadStateErr;
        *(int32_t *)data = unsent;
        return kNMNoError;
    }
    if (selector != debug_pass_through_selector) return kNMUnknownPassThrough;
    endpoint->status_proc = (NMStatusProcedure)data;
    return kNMNoError;
}

NMErr tcp_NMInitProtocol(void) { return kNMNoError; }
NMErr tcp_NMShutdownProtocol(void) { return kNMNoError; }

static int32_t send_data(NMEndpointPriv *endpoint, int32_t kind, const void *data, uint32_t length,
                         uint32_t flags)
{
    const int fd = endpoint->socket[kind];
    if (fd < 0) return kNMWrongModeErr;
    uint32_t sent = 0;
    do
    {
        const ssize_t count = send(fd, (const uint8_t *)data + sent, length - sent, MSG_NOSIGNAL);
        if (count < 0)
        {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kNMInternalErr;
            if (flags & kNMBlocking)
            {
                // Waiting for room is the caller's request; the wait is short
                // and bounded by the peer reading.
                pollfd writable{fd, POLLOUT, 0};
                poll(&writable, 1, 10);
            }
            continue;
        }
        sent += (uint32_t)count;
    } while ((flags & kNMBlocking) && sent < length);
    return (int32_t)sent;
}

NMErr tcp_NMSendDatagram(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags)
{
    if (!valid_module_endpoint(endpoint) || (!data && length)) return kNMParameterErr;
    const int32_t sent = send_data(endpoint, _datagram_socket, data, length, flags & ~kNMBlocking);
    if (sent < 0) return sent;
    if ((uint32_t)sent < length)
    {
        endpoint->flowBlocked[_datagram_socket] = true;
        return kNMFlowErr;
    }
    return kNMNoError;
}

int32_t tcp_NMSend(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags)
{
    if (!valid_module_endpoint(endpoint) || (!data && length) || length > INT32_MAX) return kNMParameterErr;
    const int32_t sent = send_data(endpoint, _stream_socket, data, length, flags);
    if (sent >= 0 && (uint32_t)sent < length) endpoint->flowBlocked[_stream_socket] = true;
    return sent;
}

static NMErr receive_data(NMEndpointPriv *endpoint, int32_t kind, void *buffer, uint32_t *length)
{
    if (!length) return kNMParameterErr;
    const uint32_t room = *length;
    *length = 0;
    if (endpoint->needToDie || endpoint->socket[kind] < 0) return kNMNoDataErr;
    // A read between the port's arrival and the poll that takes it must not
    // hand the port over as data.
    if (kind == _stream_socket && endpoint->dynamically_assign_remote_udp_port &&
        endpoint->socket[_datagram_socket] >= 0 && !take_peer_datagram_port(endpoint))
        return kNMNoDataErr;
    const ssize_t count = recv(endpoint->socket[kind], buffer, room, 0);
    if (count == 0 && kind == _stream_socket && room > 0)
    {
        must_die(endpoint);
        return kNMNoDataErr;
    }
    if (count <= 0) return kNMNoDataErr;
    *length = (uint32_t)count;
    return kNMNoError;
}

NMErr tcp_NMReceiveDatagram(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags)
{
    if (!valid_module_endpoint(endpoint)) return kNMParameterErr;
    if (flags) *flags = 0;
    return receive_data(endpoint, _datagram_socket, buffer, length);
}

NMErr tcp_NMReceive(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags)
{
    if (!valid_module_endpoint(endpoint)) return kNMParameterErr;
    if (flags) *flags = 0;
    return receive_data(endpoint, _stream_socket, buffer, length);
}

NMErr tcp_NMStopAdvertising(NMEndpointPriv *endpoint)
{
    (void)endpoint;
    tcp_module_globals.gAdvertisingGames = false;
    return kNMNoError;
}

NMErr tcp_NMStartAdvertising(NMEndpointPriv *endpoint)
{
    (void)endpoint;
    tcp_module_globals.gAdvertisingGames = true;
    return kNMNoError;
}

void tcp_set_clean_up_procedure(NMCleanUpProcedure procedure)
{
    tcp_module_globals.clean_up = procedure;
}

int32_t tcp_last_idle_pass_count(void)
{
    return tcp_module_globals.last_idle_passes;
}

uint16_t tcp_endpoint_local_port(NMEndpointPriv *endpoint, int32_t kind)
{
    if (!endpoint || kind < 0 || kind >= NUMBER_OF_SOCKET_KINDS || endpoint->socket[kind] < 0) return 0;
    return socket_local_port(endpoint->socket[kind], nullptr);
}

// ---- addresses ----------------------------------------------------------------

bool lookup_machine(const char *text, uint16_t default_port, uint32_t *host, uint16_t *port)
{
    if (!text || strlen(text) > MAXIMUM_HOST_NAME_LENGTH) return false;
    char name[MAXIMUM_HOST_NAME_LENGTH + 1];
    strcpy(name, text);
    uint16_t result_port = default_port;
    char *colon = strchr(name, ':');
    if (colon)
    {
        *colon = '\0';
        const char *digits = colon + 1;
        if (*digits == '\0' || strspn(digits, "0123456789") != strlen(digits) || strlen(digits) > 5) return false;
        const long value = strtol(digits, nullptr, 10);
        if (value > 65535) return false;
        result_port = (uint16_t)value;
    }
    if (name[0] < '0' || name[0] > '9')
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo *found = nullptr;
        if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found)
        {
            VWARN(false, "get_host_by_name returned NULL!");
            return false;
        }
        *host = ntohl(((const sockaddr_in *)found->ai_addr)->sin_addr.s_addr);
        freeaddrinfo(found);
        *port = result_port;
        return true;
    }
    uint32_t address = 0, part = 0;
    int32_t dots = 0;
    for (const char *p = name; *p; p++)
    {
        if (*p == '.')
        {
            if (++dots > 3) return false;
            address = (address << 8) | (part & 255);
            part = 0;
        }
        else if (*p >= '0' && *p <= '9') part = (part * 10 + (uint32_t)(*p - '0')) & 0xFFFF;
        else return false;
    }
    address = (address << 8) | (part & 255);
    *host = address << (8 * (3 - dots));
    *port = result_port;
    return true;
}

// ---- configurations --------------------------------------------------------------

static uint16_t default_port_for(int32_t game_id)
{
    return (uint16_t)((uint32_t)game_id % 31736u + 1024u);
}

NMErr tcp_NMCreateConfig(const char *text, int32_t game_id, const char *name,
                         const void *enumeration_data, int32_t enumeration_data_length,
                         NMProtocolConfigPriv **result)
{
    (void)enumeration_data;
    (void)enumeration_data_length;
    if (!result) return kNMParameterErr;
    *result = nullptr;
    NMProtocolConfigPriv *config = (NMProtocolConfigPriv *)calloc(1, sizeof(NMProtocolConfigPriv));
    if (!config) return kNMOutOfMemoryErr;
    config->cookie = config_cookie;
    config->type = kModuleID;
    config->version = kVersion;
    config->gameID = game_id;
    config->connectionMode = kNMNormalMode;
    strcpy(config->host_name, "localhost");
    config->port = default_port_for(game_id);
    config->enumeration_socket = -1;
    if (name) snprintf(config->name, sizeof(config->name), "%s", name);
    if (text)
    {
        int32_t type = 0, version = 0, id = 0, mode = 0, port = 0;
        int32_t length;
        bool ok = true;
        length = 4;
        ok = ok && get_token(text, "type", _token_number, &type, &length) && (uint32_t)type == kModuleID;
        length = 4;
        ok = ok && get_token(text, "version", _token_number, &version, &length) && version == (int32_t)kVersion;
        length = 4;
        ok = ok && get_token(text, "gameID", _token_number, &id, &length);
        length = sizeof(config->name);
        ok = ok && get_token(text, "gameName", _token_text, config->name, &length);
        length = 4;
        ok = ok && get_token(text, "mode", _token_number, &mode, &length) && mode >= 1 && mode <= 3;
        length = sizeof(config->host_name);
        ok = ok && get_token(text, "IPaddr", _token_text, config->host_name, &length);
        length = 4;
        ok = ok && get_token(text, "IPport", _token_number, &port, &length) && port >= 0 && port <= 65535;
        if (!ok)
        {
            log_message(__FILE__, __LINE__, "refused a protocol configuration with a bad or missing token");
            tcp_NMDeleteConfig(config);
            return kNMInvalidConfigErr;
        }
        config->gameID = id;
        config->connectionMode = mode;
        config->port = (uint16_t)port;
    }
    *result = config;
    return kNMNoError;
}

static bool build_config_text(NMProtocolConfigPriv *config)
{
    char *buffer = config->buffer;
    buffer[0] = '\0';
    const int32_t type = (int32_t)config->type, version = config->version, id = config->gameID,
                  mode = config->connectionMode, port = config->port;
    const int32_t room = MAXIMUM_CONFIG_LENGTH;
    const bool ok = put_token(buffer, room, "type", _token_number, &type, 4) &&
                    put_token(buffer, room, "version", _token_number, &version, 4) &&
                    put_token(buffer, room, "gameID", _token_number, &id, 4) &&
                    put_token(buffer, room, "gameName", _token_text, config->name, 0) &&
                    put_token(buffer, room, "mode", _token_number, &mode, 4) &&
                    put_token(buffer, room, "IPaddr", _token_text, config->host_name, 0) &&
                    put_token(buffer, room, "IPport", _token_number, &port, 4);
    return VASSERT(ok, "Unable to build the config string into the config buffer!");
}

int32_t tcp_NMGetConfigLen(NMProtocolConfigPriv *config)
{
    if (!valid_config(config) || !build_config_text(config)) return 0;
    return (int32_t)strlen(config->buffer);
}

NMErr tcp_NMGetConfig(NMProtocolConfigPriv *config, char *buffer, int32_t *length)
{
    if (!valid_config(config) || !buffer || !length || *length < 0) return kNMParameterErr;
    if (!build_config_text(config)) return kNMInternalErr;
    const int32_t text_length = (int32_t)strlen(config->buffer);
    if (text_length + 1 > *length)
    {
        if (*length > 0)
        {
            memcpy(buffer, config->buffer, (size_t)*length - 1);
            buffer[*length - 1] = '\0';
        }
        return kNMConfigStringTooSmallErr;
    }
    memcpy(buffer, config->buffer, (size_t)text_length + 1);
    *length = text_length;
    return kNMNoError;
}

NMErr tcp_NMDeleteConfig(NMProtocolConfigPriv *config)
{
    if (!valid_config(config)) return kNMParameterErr;
    if (config->enumerating) tcp_NMEndEnumeration(config);
    config->cookie = dead_cookie;
    free(config);
    return kNMNoError;
}
