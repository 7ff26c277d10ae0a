#pragma once
// The service's end of lobby connections for the client's tests: a listener
// on 127.0.0.1 and a thread that plays a script on each connection it
// accepts, while the test's thread runs the client (whose room changes wait
// inside the pump).  The peer speaks the lobby's framing, key exchange and
// body codec; bodies are given and recorded in wire order.
//
// Every wait is bounded: a step that does not happen within its time ends
// the script, and the failure is reported by `finish`.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/net_peers.h"

struct lobby_script_step
{
    enum kind_t
    {
        accept_connection, // the next connection on the listener
        expect, // the next packet must be of `type` (a session key is answered by send_key)
        send, // `type` with `body`, encoded once keys are exchanged
        send_key, // the peer's session key, plain
        send_raw, // `body` as it is
        wait_for_close, // reads until the client closes the connection
        close_connection,
        idle, // does nothing for `milliseconds`
    } kind;
    int16_t type = 0;
    std::vector<uint8_t> body;
    int32_t milliseconds = 10000;
};

struct lobby_received_packet
{
    int16_t type;
    std::vector<uint8_t> body; // decoded, wire order
};

struct lobby_script_peer
{
    raw_listener listener;
    std::vector<lobby_script_step> script;
    std::vector<lobby_received_packet> received;
    std::string failure; // empty while the script went as written
    bool script_done = false;
    // The steps begun so far (read by the test's thread while the script runs).
    std::atomic<size_t> steps_begun{0};

    explicit lobby_script_peer(std::vector<lobby_script_step> steps);
    ~lobby_script_peer();
    // Starts the script's thread.
    void start(void);
    // Joins the thread; the failure, or "" when every step happened.
    std::string finish(void);
    // The room entry (24 bytes, wire order) of a room served by this peer.
    std::vector<uint8_t> room_entry(int16_t room_id, int16_t room_type = 0) const;
    // The body of a received packet of `type` (the first), empty when none.
    std::vector<uint8_t> body_of(int16_t type);

private:
    std::thread thread;
    std::mutex lock;
    void run(void);
};

// Script helpers.
lobby_script_step lobby_accept(void);
lobby_script_step lobby_expect(int16_t type, int32_t milliseconds = 10000);
lobby_script_step lobby_send(int16_t type, std::vector<uint8_t> body = {});
lobby_script_step lobby_send_raw(std::vector<uint8_t> bytes);
lobby_script_step lobby_send_key(void);
lobby_script_step lobby_wait_for_close(int32_t milliseconds = 10000);
lobby_script_step lobby_close(void);
lobby_script_step lobby_idle(int32_t milliseconds);

// The parts one after the other.
std::vector<lobby_script_step> concat_steps(std::vector<std::vector<lobby_script_step>> parts);

// Big-endian fields for bodies.
void put_be16(std::vector<uint8_t> &out, int32_t value);
void put_be32(std::vector<uint8_t> &out, int64_t value);
// A server message (type 3) body: the code and a text.
std::vector<uint8_t> lobby_server_message(int32_t code, const char *text = "");
// The steps of a login connection up to the login packet: accept, keys, login.
std::vector<lobby_script_step> lobby_login_opening(void);
// A challenge of `type` with `salt`, the response, the user id and token, and
// the room list of `rooms` (entries from room_entry).
std::vector<lobby_script_step> lobby_challenge_and_rooms(int16_t type, const uint8_t salt[16],
                                                         const std::vector<uint8_t> &rooms);
// A room connection that takes the client: keys, room login, player data,
// the login message and the room login answer; then waits for the close.
std::vector<lobby_script_step> lobby_room_welcome(void);
