#include "net_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "networking/net_module.h"

static sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

raw_peer::raw_peer(uint16_t port, int32_t mode, int receive_buffer, uint32_t source)
{
    sockaddr_in address = loopback(0);
    if (source) address.sin_addr.s_addr = htonl(source);
    stream = socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0) setsockopt(stream, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer));
    if (mode == kNMNormalMode)
    {
        datagram = socket(AF_INET, SOCK_DGRAM, 0);
        bind(datagram, (const sockaddr *)&address, sizeof(address));
        socklen_t size = sizeof(address);
        getsockname(datagram, (sockaddr *)&address, &size);
        const int on = 1;
        setsockopt(stream, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        bind(stream, (const sockaddr *)&address, sizeof(address));
    }
    else if (source)
        bind(stream, (const sockaddr *)&address, sizeof(address));
    const uint16_t own_port = ntohs(address.sin_port);
    address = loopback(port);
    if (connect(stream, (const sockaddr *)&address, sizeof(address)) != 0) ended = true;
    if (mode == kNMNormalMode)
    {
        const uint8_t bytes[2] = {(uint8_t)(own_port >> 8), (uint8_t)own_port};
        send(stream, bytes, 2, MSG_NOSIGNAL);
        port_bytes_pending = true;
    }
}

raw_peer::raw_peer(int accepted_stream) : stream(accepted_stream) {}

raw_peer::~raw_peer()
{
    if (stream >= 0) close(stream);
    if (datagram >= 0) close(datagram);
}

void raw_peer::send_bytes(const std::vector<uint8_t> &bytes)
{
    send(stream, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::vector<uint8_t> raw_peer::receive(int milliseconds, int *error)
{
    std::vector<uint8_t> bytes;
    *error = -1;
    pollfd readable{stream, POLLIN, 0};
    if (poll(&readable, 1, milliseconds) != 1) return bytes;
    uint8_t buffer[8192];
    const ssize_t got = recv(stream, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (got > 0) bytes.assign(buffer, buffer + got);
    else *error = got == 0 ? 0 : errno;
    return bytes;
}

std::vector<std::vector<uint8_t>> raw_peer::receive_packets(void)
{
    for (int turn = 0; turn < 64 && !ended; turn++)
    {
        int error = -1;
        const std::vector<uint8_t> bytes = receive(0, &error);
        if (error >= 0 && error != EAGAIN) ended = true;
        if (bytes.empty()) break;
        unframed.insert(unframed.end(), bytes.begin(), bytes.end());
    }
    if (port_bytes_pending && unframed.size() >= 2)
    {
        unframed.erase(unframed.begin(), unframed.begin() + 2);
        port_bytes_pending = false;
    }
    std::vector<std::vector<uint8_t>> packets;
    size_t start = 0;
    while (!port_bytes_pending && unframed.size() - start >= 8)
    {
        const size_t length = (size_t)(unframed[start + 2] << 8 | unframed[start + 3]);
        if (length < 8 || unframed.size() - start < length) break;
        packets.emplace_back(unframed.begin() + (long)start, unframed.begin() + (long)(start + length));
        start += length;
    }
    unframed.erase(unframed.begin(), unframed.begin() + (long)start);
    return packets;
}

raw_listener::raw_listener()
{
    socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    bind(socket_fd, (const sockaddr *)&address, sizeof(address));
    socklen_t size = sizeof(address);
    getsockname(socket_fd, (sockaddr *)&address, &size);
    port = ntohs(address.sin_port);
    listen(socket_fd, 4);
}

raw_listener::~raw_listener()
{
    if (socket_fd >= 0) close(socket_fd);
}

int raw_listener::accept_connection(int milliseconds)
{
    pollfd readable{socket_fd, POLLIN, 0};
    if (poll(&readable, 1, milliseconds) != 1) return -1;
    return accept(socket_fd, nullptr, nullptr);
}

throttled_link::~throttled_link()
{
    stopping = true;
    if (turner.joinable()) turner.join();
    for (const int fd : {joiner, host})
        if (fd >= 0) close(fd);
}

// Sends what `pending` holds that `fd` takes now.
static void send_pending(int fd, std::vector<uint8_t> &pending)
{
    const ssize_t sent = pending.empty() ? 0 : send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) pending.erase(pending.begin(), pending.begin() + sent);
}

void throttled_link::turn(int milliseconds)
{
    if (joiner < 0 && (joiner = listener.accept_connection(milliseconds)) >= 0)
    {
        host = socket(AF_INET, SOCK_STREAM, 0);
        const int small = 2048;
        setsockopt(host, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        const sockaddr_in address = loopback(host_port);
        connect(host, (const sockaddr *)&address, sizeof(address));
    }
    if (joiner < 0) return;
    pollfd ready[2] = {{joiner, (short)(joiner_ended ? 0 : POLLIN), 0}, {host, (short)(host_ended ? 0 : POLLIN), 0}};
    poll(ready, 2, milliseconds);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double seconds = now.tv_sec + now.tv_nsec / 1e9;
    if (last_seconds >= 0)
        credit = std::min(credit + (seconds - last_seconds) * bytes_per_second, bytes_per_second / 5);
    last_seconds = seconds;
    uint8_t bytes[4096];
    const ssize_t from_joiner = joiner_ended ? -1 : recv(joiner, bytes, sizeof(bytes), MSG_DONTWAIT);
    if (from_joiner > 0) to_host.insert(to_host.end(), bytes, bytes + from_joiner);
    joiner_ended = joiner_ended || from_joiner == 0;
    const ssize_t from_host = to_joiner.empty() && credit >= 1 && !host_ended
                                  ? recv(host, bytes, std::min(sizeof(bytes), (size_t)credit), MSG_DONTWAIT)
                                  : -1;
    if (from_host > 0) to_joiner.insert(to_joiner.end(), bytes, bytes + from_host), credit -= (double)from_host;
    host_ended = host_ended || from_host == 0;
    send_pending(host, to_host);
    send_pending(joiner, to_joiner);
    if (joiner_ended && to_host.empty()) shutdown(host, SHUT_WR);
    if (host_ended && to_joiner.empty()) shutdown(joiner, SHUT_WR);
}

void throttled_link::turn_in_background(void)
{
    turner = std::thread([this] {
        while (!stopping) turn(5);
    });
}

std::vector<uint8_t> raw_library_packet(uint16_t type, uint8_t to, const std::vector<uint8_t> &body)
{
    const uint16_t what = (uint16_t)(0x8000 | type), length = (uint16_t)(8 + body.size());
    std::vector<uint8_t> packet = {(uint8_t)(what >> 8), (uint8_t)what, (uint8_t)(length >> 8), (uint8_t)length, to, 0, 0,
                                   0};
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

std::vector<uint8_t> raw_join_request(const std::string &name, const std::string &password,
                                      const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> body(name.begin(), name.end());
    body.push_back(0);
    body.insert(body.end(), password.begin(), password.end());
    body.push_back(0);
    body.insert(body.end(), data.begin(), data.end());
    return raw_library_packet(0, 254, body);
}

std::vector<uint8_t> raw_new_player(uint8_t to, int16_t player_id, bool owner, const std::string &name,
                                    const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> body = {(uint8_t)(player_id >> 8), (uint8_t)player_id, 0, (uint8_t)owner};
    body.insert(body.end(), name.begin(), name.end());
    body.push_back(0);
    body.insert(body.end(), data.begin(), data.end());
    std::vector<uint8_t> packet = raw_library_packet(3, to, body);
    packet[5] = 254;
    return packet;
}

void read_raw_peers(const std::vector<std::unique_ptr<raw_peer>> &peers,
                    std::vector<std::vector<std::vector<uint8_t>>> &received)
{
    std::vector<pollfd> readable;
    for (size_t index = 0; index < peers.size(); index++)
    {
        if (!peers[index]) continue; // a peer the test has closed
        for (std::vector<uint8_t> &packet : peers[index]->receive_packets()) received[index].push_back(packet);
        if (!peers[index]->ended) readable.push_back({peers[index]->stream, POLLIN, 0});
    }
    if (!readable.empty()) poll(readable.data(), readable.size(), 1);
}
