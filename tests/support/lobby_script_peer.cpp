// The scripted service end of lobby connections.  See lobby_script_peer.h.

#include "support/lobby_script_peer.h"

#include <chrono>
#include <cstring>

#include "metaserver_lib/DiffieHellman.h"
#include "metaserver_lib/encodePackets.h"

lobby_script_step lobby_accept(void) { return {lobby_script_step::accept_connection}; }
lobby_script_step lobby_expect(int16_t type, int32_t milliseconds)
{
    return {lobby_script_step::expect, type, {}, milliseconds};
}
lobby_script_step lobby_send(int16_t type, std::vector<uint8_t> body)
{
    return {lobby_script_step::send, type, std::move(body)};
}
lobby_script_step lobby_send_raw(std::vector<uint8_t> bytes)
{
    return {lobby_script_step::send_raw, 0, std::move(bytes)};
}
lobby_script_step lobby_send_key(void) { return {lobby_script_step::send_key}; }
lobby_script_step lobby_wait_for_close(int32_t milliseconds)
{
    return {lobby_script_step::wait_for_close, 0, {}, milliseconds};
}
lobby_script_step lobby_close(void) { return {lobby_script_step::close_connection}; }
lobby_script_step lobby_idle(int32_t milliseconds) { return {lobby_script_step::idle, 0, {}, milliseconds}; }

std::vector<lobby_script_step> concat_steps(std::vector<std::vector<lobby_script_step>> parts)
{
    std::vector<lobby_script_step> all;
    for (auto &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void put_be16(std::vector<uint8_t> &out, int32_t value)
{
    out.push_back((uint8_t)(value >> 8));
    out.push_back((uint8_t)value);
}

void put_be32(std::vector<uint8_t> &out, int64_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((uint8_t)(value >> shift));
}

std::vector<uint8_t> lobby_server_message(int32_t code, const char *text)
{
    std::vector<uint8_t> body;
    put_be32(body, code);
    body.insert(body.end(), text, text + strlen(text) + 1);
    return body;
}

std::vector<lobby_script_step> lobby_login_opening(void)
{
    return {lobby_accept(), lobby_expect(203), lobby_send_key(), lobby_expect(100)};
}

std::vector<lobby_script_step> lobby_challenge_and_rooms(int16_t type, const uint8_t salt[16],
                                                         const std::vector<uint8_t> &rooms)
{
    std::vector<uint8_t> challenge;
    put_be16(challenge, type);
    challenge.insert(challenge.end(), salt, salt + 16);
    std::vector<uint8_t> login;
    put_be32(login, 77); // user id
    put_be16(login, 5); // order
    put_be16(login, 0);
    for (int i = 0; i < 32; ++i) login.push_back((uint8_t)('A' + i % 26));
    return {lobby_send(6, challenge), lobby_expect(109), lobby_send(7, login), lobby_send(0, rooms)};
}

std::vector<lobby_script_step> lobby_room_welcome(void)
{
    std::vector<uint8_t> room_login;
    put_be32(room_login, 77);
    put_be16(room_login, 40); // players per room
    put_be16(room_login, 0);
    return {lobby_accept(),
            lobby_expect(203),
            lobby_send_key(),
            lobby_expect(101),
            lobby_expect(103),
            lobby_send(3, lobby_server_message(8)),
            lobby_send(9, room_login),
            lobby_wait_for_close()};
}

lobby_script_peer::lobby_script_peer(std::vector<lobby_script_step> steps) : script(std::move(steps)) {}

lobby_script_peer::~lobby_script_peer()
{
    if (thread.joinable()) thread.join();
}

void lobby_script_peer::start(void) { thread = std::thread([this] { run(); }); }

std::string lobby_script_peer::finish(void)
{
    if (thread.joinable()) thread.join();
    return failure;
}

std::vector<uint8_t> lobby_script_peer::room_entry(int16_t room_id, int16_t room_type) const
{
    std::vector<uint8_t> entry;
    put_be16(entry, room_id);
    put_be16(entry, 3); // players
    put_be32(entry, 0x7F000001); // 127.0.0.1
    put_be16(entry, listener.port);
    put_be16(entry, 1); // games
    put_be16(entry, room_type);
    put_be16(entry, 0); // flags
    entry.resize(24, 0);
    return entry;
}

std::vector<uint8_t> lobby_script_peer::body_of(int16_t type)
{
    std::lock_guard<std::mutex> guard(lock);
    for (const lobby_received_packet &packet : received)
        if (packet.type == type) return packet.body;
    return {};
}

void lobby_script_peer::run(void)
{
    using clock = std::chrono::steady_clock;
    std::unique_ptr<raw_peer> connection;
    std::vector<uint8_t> unframed;
    uint8_t my_private[8], key[8];
    bool keyed = false, peer_key_seen = false;
    uint8_t peer_public[8] = {};

    // The next packet within `milliseconds`: false at the end of the stream or time.
    auto next_packet = [&](int32_t milliseconds, lobby_received_packet *packet, bool *ended) -> bool {
        const clock::time_point deadline = clock::now() + std::chrono::milliseconds(milliseconds);
        *ended = false;
        for (;;)
        {
            if (unframed.size() >= 8)
            {
                const uint32_t length = (uint32_t)unframed[4] << 24 | (uint32_t)unframed[5] << 16 |
                                        (uint32_t)unframed[6] << 8 | unframed[7];
                if (length >= 8 && unframed.size() >= length)
                {
                    packet->type = (int16_t)(unframed[2] << 8 | unframed[3]);
                    packet->body.assign(unframed.begin() + 8, unframed.begin() + length);
                    unframed.erase(unframed.begin(), unframed.begin() + length);
                    if (keyed && packet->type != 203)
                    {
                        const int32_t body = decodeData(packet->body.data(), (int32_t)packet->body.size(), key);
                        if (body < 0) return false;
                        packet->body.resize((size_t)body);
                    }
                    return true;
                }
            }
            const int32_t left =
                (int32_t)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) return false;
            int error = -1;
            const std::vector<uint8_t> bytes = connection->receive(left < 50 ? left : 50, &error);
            if (error >= 0)
            {
                *ended = true;
                return false;
            }
            unframed.insert(unframed.end(), bytes.begin(), bytes.end());
        }
    };
    auto send_packet = [&](int16_t type, std::vector<uint8_t> body, bool encode) {
        if (encode)
        {
            const size_t plain = body.size();
            body.resize(plain + LOBBY_CODEC_OVERHEAD);
            encodeData(body.data(), (int32_t)plain, key);
        }
        std::vector<uint8_t> packet = {0xDE, 0xAD};
        put_be16(packet, type);
        put_be32(packet, (int64_t)(8 + body.size()));
        packet.insert(packet.end(), body.begin(), body.end());
        connection->send_bytes(packet);
    };

    for (size_t i = 0; i < script.size() && failure.empty(); ++i)
    {
        const lobby_script_step &step = script[i];
        steps_begun = i + 1;
        const std::string where = "step " + std::to_string(i) + ": ";
        if (step.kind != lobby_script_step::accept_connection && step.kind != lobby_script_step::idle && !connection)
        {
            failure = where + "no connection";
            break;
        }
        switch (step.kind)
        {
        case lobby_script_step::accept_connection:
        {
            const int fd = listener.accept_connection(step.milliseconds);
            if (fd < 0) failure = where + "nobody connected";
            connection.reset(fd >= 0 ? new raw_peer(fd) : nullptr);
            unframed.clear();
            keyed = false;
            peer_key_seen = false;
            break;
        }
        case lobby_script_step::expect:
        {
            lobby_received_packet packet;
            bool ended = false;
            if (!next_packet(step.milliseconds, &packet, &ended))
            {
                failure = where + "no packet " + std::to_string(step.type) + (ended ? " (closed)" : "");
                break;
            }
            if (packet.type != step.type)
            {
                failure = where + "packet " + std::to_string(packet.type) + " instead of " + std::to_string(step.type);
                break;
            }
            if (packet.type == 203 && packet.body.size() >= 8)
            {
                memcpy(peer_public, packet.body.data(), 8);
                peer_key_seen = true;
            }
            std::lock_guard<std::mutex> guard(lock);
            received.push_back(packet);
            break;
        }
        case lobby_script_step::send_key:
        {
            uint8_t my_public[8];
            getPublicKey(my_public, my_private);
            if (!peer_key_seen)
            {
                failure = where + "no key of the client's";
                break;
            }
            getSessionKey(key, my_private, peer_public);
            send_packet(203, std::vector<uint8_t>(my_public, my_public + 8), false);
            keyed = true;
            break;
        }
        case lobby_script_step::send: send_packet(step.type, step.body, keyed); break;
        case lobby_script_step::send_raw: connection->send_bytes(step.body); break;
        case lobby_script_step::wait_for_close:
        {
            lobby_received_packet packet;
            bool ended = false;
            const clock::time_point deadline = clock::now() + std::chrono::milliseconds(step.milliseconds);
            while (!ended && clock::now() < deadline)
            {
                const int32_t left =
                    (int32_t)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
                if (next_packet(left, &packet, &ended))
                {
                    std::lock_guard<std::mutex> guard(lock);
                    received.push_back(packet);
                }
                else if (!ended)
                    break;
            }
            if (!ended) failure = where + "the client did not close";
            break;
        }
        case lobby_script_step::close_connection: connection.reset(); break;
        case lobby_script_step::idle: std::this_thread::sleep_for(std::chrono::milliseconds(step.milliseconds)); break;
        }
    }
    script_done = failure.empty();
}
