// The hosted game's listing, scoring and recording stream.  See metaserver_games.h.

#include "metaserver/metaserver_games.h"

#include <cstring>

#include "bitmap_dialogs/network_services.h"
#include "commands.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_rooms.h"
#include "statistics.h"
#include "tag_files/tag_files.h"
#include "vesk_networking/networking_preferences.h"

const byte_swap_code metaserver_game_description_byte_swapping_data[] = {
    _begin_bs_array, 1, NEW_GAME_PARAMETER_FIELDS, _4byte, _4byte, _2byte, 2, _end_bs_array};

static struct metaserver_games_globals
{
    bool game_created; // a game of ours is listed in the room
    bool stream_recording_to_metaserver;
    int32_t listed_game_id; // -1: not seen in the room's game list yet
    // The listing as last sent: the set-up keeps it in step on every pass,
    // and an unchanged listing is not sent again.
    uint8_t sent_packet[MAXIMUM_METASERVER_GAME_DATA_SIZE + 64];
    int32_t sent_length;
} metaserver_games_globals = {false, false, -1, {}, 0};

bool metaserver_game_created(void) { return metaserver_games_globals.game_created; }
bool metaserver_streaming_recording(void) { return metaserver_games_globals.stream_recording_to_metaserver; }
int32_t get_listed_metaserver_game_id(void) { return metaserver_games_globals.listed_game_id; }

void forget_metaserver_game_listing(void)
{
    metaserver_games_globals.game_created = false;
    metaserver_games_globals.stream_recording_to_metaserver = false;
    metaserver_games_globals.listed_game_id = -1;
    metaserver_games_globals.sent_length = 0;
}

// ---- the listed game's data --------------------------------------------------------

// Copies at most `maximum` characters of a field of `size` bytes that may lack
// its terminator; the length written, terminator excluded.
static int32_t copy_cut_name(char *destination, const char *source, size_t size, int32_t maximum)
{
    int32_t length = (int32_t)strnlen(source, size);
    if (length > maximum) length = maximum;
    memcpy(destination, source, (size_t)length);
    destination[length] = 0;
    return length;
}

int32_t build_metaserver_game_data(const net_game_description *description, uint16_t flags, int16_t room_id,
                                   uint8_t data[MAXIMUM_METASERVER_GAME_DATA_SIZE])
{
    metaserver_game_description fixed = {};
    fixed.parameters = description->parameters;
    // The version the game plays (its rules' identifier), which a room shows;
    // a description without one is listed as it always was.
    const int32_t played = description->parameters.version & 0xFFFF;
    fixed.parameters.version = played >= FIRST_LISTED_GAME_VERSION && played <= LAST_LISTED_GAME_VERSION
                                   ? description->parameters.version
                                   : LISTED_GAME_VERSION;
    fixed.parameters.buildnum = LISTED_GAME_BUILD_NUMBER;
    fixed.parameters.room_id = room_id;
    fixed.public_tags_checksum = (int32_t)tag_files_get_foundation_checksum();
    fixed.private_tags_checksum = (int32_t)description->private_tags_checksum;
    fixed.flags = flags;
    if (description->password[0]) fixed.flags |= _net_game_has_password_flag;
    fixed.player_count = description->player_count;
    byte_swap_data("metaserver_game_description", &fixed, sizeof(fixed), 1,
                   metaserver_game_description_byte_swapping_data);
    memcpy(data, &fixed, sizeof(fixed));
    char *text = (char *)data + sizeof(fixed);
    int32_t length = (int32_t)sizeof(fixed);
    length += copy_cut_name(text, description->name, sizeof(description->name), MAXIMUM_LISTED_GAME_NAME) + 1;
    length += copy_cut_name((char *)data + length, description->map_name, sizeof(description->map_name),
                            MAXIMUM_LISTED_MAP_NAME) + 1;
    return length;
}

// ---- listing ------------------------------------------------------------------------

// False when not connected or the data was refused (over 1024 bytes).
// Sends the listing unless `only_changes` and it is the one sent last.
static bool send_game_packet(int16_t port, int16_t order_game, const void *data, int32_t length, bool only_changes)
{
    auto &g = metaserver_games_globals;
    uint8_t *buffer = get_metaserver_packet_buffer();
    const int32_t built =
        buffer ? build_game_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, port, order_game, data, length) : 0;
    if (!built) return false;
    if (only_changes && built == g.sent_length && memcmp(buffer, g.sent_packet, (size_t)built) == 0) return true;
    g.sent_length = built <= (int32_t)sizeof(g.sent_packet) ? built : 0;
    if (g.sent_length) memcpy(g.sent_packet, buffer, (size_t)built);
    send_metaserver_packet(built);
    return true;
}

void add_game_to_room_list(int16_t port, int16_t order_game, const void *data, int32_t length)
{
    if (send_game_packet(port, order_game, data, length, false)) metaserver_games_globals.game_created = true;
}

void change_game_data(int16_t port, int16_t order_game, const void *data, int32_t length)
{
    if (metaserver_games_globals.game_created) send_game_packet(port, order_game, data, length, true);
}

// Sends a packet of the header alone (`build` of the packet builders).
static void send_empty_packet(int32_t (*build)(void *, int32_t))
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (buffer) send_metaserver_packet(build(buffer, METASERVER_LINEAR_BUFFER_SIZE));
}

void remove_game_from_room_list(void)
{
    auto &g = metaserver_games_globals;
    if (!g.game_created) return;
    send_empty_packet(build_remove_game_packet);
    g.game_created = false;
    g.sent_length = 0;
    g.stream_recording_to_metaserver = false;
    g.listed_game_id = -1;
}

void reset_metaserver_game_scoring(void)
{
    if (metaserver_games_globals.game_created) send_empty_packet(build_reset_game_packet);
}

void synchronize_game_with_metaserver(int16_t verb, const net_game_description *description, uint16_t flags)
{
    if (verb == _synchronize_with_metaserver_delete_game_verb)
    {
        remove_game_from_room_list();
        return;
    }
    if (verb != _synchronize_with_metaserver_create_game_verb && verb != _synchronize_with_metaserver_change_game_verb)
    {
        LOG_REPEATED("lobby listing: unknown verb %d refused", (int)verb);
        return;
    }
    if (!description) return;
    // The port the host listens on is its description's (kept in the
    // player's preferences); the hosting settings' port only when it has none.
    const uint16_t port = description->port ? description->port : (uint16_t)get_net_hosting_prefs()->PortNumber;
    // The description's texts may fill their fields without a terminator.
    char name[sizeof(description->name) + 1], password[sizeof(description->password) + 1];
    copy_cut_name(name, description->name, sizeof(description->name), (int32_t)sizeof(description->name));
    copy_cut_name(password, description->password, sizeof(description->password),
                  (int32_t)sizeof(description->password));
    net_game_description fresh;
    build_net_game_description(&fresh, name, password, &description->parameters, port, flags,
                               description->player_count);
    fresh.private_tags_checksum = description->private_tags_checksum;
    uint8_t data[MAXIMUM_METASERVER_GAME_DATA_SIZE];
    const int32_t length = build_metaserver_game_data(&fresh, flags, get_metaserver_context()->desired_room, data);
    const int16_t order_game = (fresh.parameters.option_flags >> _game_option_order_game_bit) & 1;
    if (verb == _synchronize_with_metaserver_create_game_verb)
        add_game_to_room_list((int16_t)port, order_game, data, length);
    else
        change_game_data((int16_t)port, order_game, data, length);
}

void note_listed_game_in_game_list(const void *packet, int32_t length)
{
    auto &g = metaserver_games_globals;
    if (!g.game_created || !packet) return;
    const int32_t user = get_metaserver_user_id();
    metaserver_list_walk walk;
    start_game_list_walk(&walk, packet, length);
    metaserver_game_aux_data aux;
    int32_t data_length;
    while (next_metaserver_list_entry(&walk, nullptr, &aux, &data_length))
    {
        if (aux.creating_player_id != user) continue;
        if (aux.verb == _delete_game_verb)
        {
            if (aux.game_id == g.listed_game_id) g.listed_game_id = -1;
        }
        else
            g.listed_game_id = aux.game_id;
    }
}

bool get_metaserver_scoring_data(metaserver_scoring_data *scoring)
{
    const auto &g = metaserver_games_globals;
    memset(scoring, 0, sizeof(*scoring));
    scoring->game_id = (uint32_t)-1;
    if (!g.game_created || g.listed_game_id < 0) return false;
    const metaserver_context_data *context = get_metaserver_context();
    scoring->local_player_id = (uint32_t)get_metaserver_user_id();
    scoring->game_id = (uint32_t)g.listed_game_id;
    scoring->local_player_caste = context->local_player_caste;
    return true;
}

// ---- starting and scoring -------------------------------------------------------------

int32_t metaserver_game_length_in_seconds(const new_game_parameter_data *parameters)
{
    if (parameters->time_limit <= 0) return -1;
    const int64_t ticks = (int64_t)parameters->time_limit + (parameters->pregame_time_limit > 0
                                                                 ? parameters->pregame_time_limit
                                                                 : 0);
    return (int32_t)(ticks / 30);
}

void send_game_player_list_to_metaserver(int32_t game_id, const uint32_t *player_ids, int16_t count)
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (!buffer || !metaserver_games_globals.game_created) return;
    const int32_t length = start_building_game_player_list_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, game_id);
    if (!length) return;
    for (int16_t i = 0; i < count; ++i)
        if (!add_game_player_data_to_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, player_ids[i])) return;
    packet_header header;
    memcpy(&header, buffer, sizeof(header));
    send_metaserver_packet(header.length);
}

void send_start_game_to_metaserver(int32_t length_in_seconds, bool stream_recording)
{
    auto &g = metaserver_games_globals;
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (!buffer || !g.game_created)
    {
        g.stream_recording_to_metaserver = false;
        return;
    }
    send_metaserver_packet(build_start_game_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, length_in_seconds));
    g.stream_recording_to_metaserver = stream_recording;
}

// The current room carries both recording-stream flags: it supports and requires one.
static bool current_room_streams_recordings(void)
{
    room_data room;
    const int32_t both = _room_supports_recording_stream_flag | _room_requires_recording_stream_flag;
    return get_metaserver_room_data(get_metaserver_context()->desired_room, &room) && (room.room_flags & both) == both;
}

void start_metaserver_netgame_for_scoring(int32_t game_id, const new_player_data *players, int16_t player_count,
                                          int32_t length_in_seconds)
{
    if (!metaserver_connected())
    {
        metaserver_games_globals.stream_recording_to_metaserver = false;
        return;
    }
    reset_metaserver_game_scoring();
    uint32_t ids[MAXIMUM_METASERVER_GAME_PLAYERS];
    int16_t count = 0;
    for (int16_t i = 0; i < player_count && count < MAXIMUM_METASERVER_GAME_PLAYERS; ++i)
        ids[count++] = (uint32_t)players[i].metaserver_player_id;
    send_game_player_list_to_metaserver(game_id, ids, count);
    send_start_game_to_metaserver(length_in_seconds, current_room_streams_recordings());
}

void send_game_over_player_scores(int32_t game_id, const draxil_net_game_standings *standings)
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (buffer && standings)
        send_metaserver_packet(build_game_score_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, (uint32_t)game_id,
                                                       standings));
}

void metaserver_handle_network_endgame(int32_t game_id)
{
    if (!metaserver_connected()) return;
    if (game_id < 0)
    {
        log_message(__FILE__, __LINE__, "lobby scores not sent: the game's lobby identifier is unknown");
        return;
    }
    send_game_over_player_scores(game_id, get_draxil_net_game_standings());
}

// ---- the recording stream --------------------------------------------------------------

static bool streaming(void)
{
    const auto &g = metaserver_games_globals;
    return g.game_created && g.stream_recording_to_metaserver && metaserver_connected();
}

void send_recording_stream_header_to_metaserver(const void *data, int32_t length)
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (buffer && streaming())
        send_metaserver_packet(build_recording_stream_header_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, data, length));
}

void send_recording_stream_command_to_metaserver(const void *data, int32_t length)
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (buffer && streaming())
        send_metaserver_packet(build_recording_stream_command_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, data, length));
}

void send_recording_stream_end_to_metaserver(int32_t value)
{
    uint8_t *buffer = get_metaserver_packet_buffer();
    if (buffer && streaming())
        send_metaserver_packet(build_recording_stream_end_packet(buffer, METASERVER_LINEAR_BUFFER_SIZE, value));
}

void send_recorded_command_to_metaserver(const command_header *command)
{
    // The recorder hands the command as the film stores it: its size big-endian.
    const int32_t size = (int16_t)read_be16(&command->size);
    if (size < (int32_t)sizeof(command_header) || size > MAXIMUM_COMMAND_SIZE)
    {
        log_message(__FILE__, __LINE__, "lobby stream: a command of %d bytes is not sent", (int)size);
        return;
    }
    send_recording_stream_command_to_metaserver(command, size);
}
