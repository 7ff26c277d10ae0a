// Chat packets as a client takes them from the host while a game is set up,
// with the back log behind them: any appearance, flags, type, identifier and
// text bytes (terminated or not, of any length the packet rules allow).
// Nothing may be read outside the packet, and every kept line must stay
// terminated inside its fields.  The text is also typed as a chat line, so
// the dot commands see arbitrary words; their notices must fit a line.
// The first byte picks the sender id; the rest is the packet after its
// 8-byte header, in wire order.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "networking/network_constants.h"
#include "networking/packet_definitions.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"

static bool start_session(void)
{
    if (!allocate_network_structures_for_game_session(FOUR_CHARACTER_CODE('I', 'n', 'e', 't'))) return false;
    new_player_data players[2];
    for (int16_t i = 0; i < 2; ++i)
    {
        new_player_data *player = &players[i];
        memset(player, 0, sizeof(*player));
        player->unique_identifier = i * 3;
        player->team_captain_identifier = NONE;
        strcpy(player->appearance.name, i ? "Me" : "Host");
    }
    set_net_player_list(players, 2);
    return true;
}

static void check_notice(void *, const char *text)
{
    if (strlen(text) > MAXIMUM_SHOWN_CHAT_TEXT_LENGTH) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool session = start_session();
    const size_t length = size - 1 + sizeof(net_message_header);
    if (!session || size < 1 || length < CHAT_TEXT_OFFSET + 1 || length > MAXIMUM_SINGLE_PACKET_SIZE) return 0;
    set_net_state(_net_configuring_game);
    // An exact-size copy, so reading past the packet is caught.
    std::vector<uint8_t> packet(length);
    memcpy(packet.data() + sizeof(net_message_header), data + 1, size - 1);
    packet[0] = 0; // _chat_packet, big-endian like the rest
    packet[1] = _chat_packet;
    packet[2] = (uint8_t)(length >> 8);
    packet[3] = (uint8_t)length;
    vesk_packet_byteswapping(packet.data(), false);
    net_message_header *header = (net_message_header *)packet.data();
    header->to = 3;
    header->from = data[0] % 4 == 0 ? 0 : data[0];
    handle_chat_packet(packet.data());

    const chat_back_log *log = get_chat_back_log();
    if (log->index < 0 || log->index >= CHAT_BACK_LOG_SIZE) abort();
    for (const chat_entry_record &entry : log->chat_list)
        if (!memchr(entry.name, 0, sizeof(entry.name)) || !memchr(entry.text, 0, sizeof(entry.text))) abort();

    if (const char *shifted = extract_text_from_chat_packet(packet.data()))
    {
        char line[MAXIMUM_SHOWN_CHAT_TEXT_LENGTH + 1];
        decode_chat_text(shifted, line, (int32_t)sizeof(line));
        run_chat_dot_command(line, nullptr, check_notice, nullptr);
    }
    return 0;
}
