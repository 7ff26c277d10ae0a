#pragma once
// Remote machines of a network game for tests, speaking the protocol from
// its wire format alone (big-endian 8-byte headers, whole packets back to
// back): a raw stream connection to a host, in mode 2 or 3, and a raw
// listener standing in for a host.  Nothing here includes the library's
// headers beyond the module's connection modes.
//
// Every wait is bounded by the milliseconds given.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A connection to a host on 127.0.0.1.  In mode 3 its datagram port is sent
// first (the host's 2 bytes come back first; `receive_packets` skips them).
struct raw_peer
{
    int stream = -1, datagram = -1;
    bool port_bytes_pending = false;
    std::vector<uint8_t> unframed; // received bytes not yet cut into packets
    bool ended = false;            // the host closed or reset the connection

    // `receive_buffer` > 0: SO_RCVBUF before connecting (a peer that reads slowly).
    // `source` (host order) > 0: the loopback address it connects from (127.x.y.z).
    raw_peer(uint16_t port, int32_t mode, int receive_buffer = 0, uint32_t source = 0);
    // An accepted connection (a raw host's side).
    explicit raw_peer(int accepted_stream);
    ~raw_peer();
    raw_peer(const raw_peer &) = delete;
    raw_peer &operator=(const raw_peer &) = delete;

    void send_bytes(const std::vector<uint8_t> &bytes);
    // Reads what is there within `milliseconds`: the bytes, or the errno of
    // a failed read (0 at the end of the stream) in `*error` (-1: nothing).
    std::vector<uint8_t> receive(int milliseconds, int *error);
    // Reads what is there now into `unframed` and cuts the whole packets out.
    std::vector<std::vector<uint8_t>> receive_packets(void);
};

// Reads what every peer has into `received` (same indexes), then waits at
// most a millisecond for more bytes: a pump's turn that does not spin.
// A null peer (closed by the test) is passed over.
void read_raw_peers(const std::vector<std::unique_ptr<raw_peer>> &peers,
                    std::vector<std::vector<std::vector<uint8_t>>> &received);

// A listening socket on 127.0.0.1 at a port of the system's choosing.
struct raw_listener
{
    int socket_fd = -1;
    uint16_t port = 0;
    raw_listener();
    ~raw_listener();
    // The next connection within `milliseconds`, or -1.
    int accept_connection(int milliseconds);
};

// A slow link from a host to a joiner on 127.0.0.1: a proxy on a port of its
// own passes what the joiner sends at once and what the host sends at
// `bytes_per_second`, reading no faster (with a small receive buffer), so
// the host's backlog stays in the host's own buffers, as on a slow line.
// `turn` moves what it can, waiting at most `milliseconds`.
struct throttled_link
{
    raw_listener listener;
    int joiner = -1, host = -1;
    uint16_t host_port;
    double bytes_per_second, credit = 0, last_seconds = -1;
    std::vector<uint8_t> to_joiner, to_host;
    // An end of the stream is passed on once what came before it has been:
    // the host's close reaches the joiner after the bytes the host sent.
    bool host_ended = false, joiner_ended = false;
    throttled_link(uint16_t port, double rate) : host_port(port), bytes_per_second(rate) {}
    ~throttled_link();
    void turn(int milliseconds);
    // Turns on a thread of its own until the link is destroyed, for a test
    // that waits on processes meanwhile.
    void turn_in_background(void);
    std::thread turner;
    std::atomic<bool> stopping = false;
};

// Big-endian fields of a packet.
inline uint16_t packet_what(const std::vector<uint8_t> &packet) { return (uint16_t)(packet[0] << 8 | packet[1]); }
inline uint16_t packet_length(const std::vector<uint8_t> &packet) { return (uint16_t)(packet[2] << 8 | packet[3]); }
inline int16_t packet_int16(const std::vector<uint8_t> &packet, size_t offset)
{
    return (int16_t)(packet[offset] << 8 | packet[offset + 1]);
}
inline int32_t packet_int32(const std::vector<uint8_t> &packet, size_t offset)
{
    return (int32_t)((uint32_t)packet[offset] << 24 | (uint32_t)packet[offset + 1] << 16 | packet[offset + 2] << 8 |
                     packet[offset + 3]);
}

// Library packets as a peer writes them.
std::vector<uint8_t> raw_join_request(const std::string &name, const std::string &password,
                                      const std::vector<uint8_t> &data);
std::vector<uint8_t> raw_new_player(uint8_t to, int16_t player_id, bool owner, const std::string &name,
                                    const std::vector<uint8_t> &data);
std::vector<uint8_t> raw_library_packet(uint16_t type, uint8_t to, const std::vector<uint8_t> &body);
