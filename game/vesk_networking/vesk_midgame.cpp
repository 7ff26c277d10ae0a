// Joining a cooperative game in progress: admission, the joiner's start and
// the feeding of the host's history.

#include "vesk_midgame.h"

#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "game_records.h"
#include "player_data_tags.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "lobby_procedures.h"
#include "players.h"
#include "session_state.h"
#include "sound/sound_manager.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_net_commands.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

enum
{
    // The configuration dialog's item that enters the game.
    _configuration_item_enter_game = 101,
};

// The rules the game being set up is to play: those its description names
// (the host's own while it edits one); NONE before there is one.
static int32_t rules_of_the_set_up(void)
{
    const net_game_description *description = get_net_edited_game_description();
    if (!description || !(description->parameters.version & 0xFFFF)) return NONE;
    return compute_gameplay_version(&description->parameters, -1);
}

bool allow_vesk_player_to_join(const void *data, int32_t length, char *message)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (length != NET_PLAYER_RECORD_SIZE || !data)
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "%s", get_networking_string(_networking_string_bad_player_record));
        return false;
    }
    // The host takes nobody now: why, in the player's words.
    if (net->game && local_player_is_network_originator() && !net_get_allow_connections_state(net->game))
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "%s",
                 net->state == _net_game_in_progress
                     ? "The game has started, and only a co-operative game takes players once it runs."
                     : "The host has closed the game to new players.");
        return false;
    }
    new_player_data player;
    memcpy(&player, data, sizeof(player));
    byte_swap_new_player_data(&player);
    // The game uses the lobby when its host came through it; the host's own
    // record, not yet listed, is the first to ask.
    const int16_t host = find_net_player_index(get_local_player_id());
    const bool lobby_game = host >= 0 ? get_net_player(host)->metaserver_player != 0 : player.metaserver_player != 0;
    if (!lobby_game && player.metaserver_player)
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "Game is not hosted on a metaserver.");
        return false;
    }
    if (lobby_game && !player.metaserver_player)
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "Game only accepting players via metaserver");
        return false;
    }
    // A joiner who could not play the game's rules is told so now, before
    // the set-up counts on him: the rules are the host's choice, never lowered.
    const int32_t rules = net->state == _net_game_in_progress ? current_gameplay_version : rules_of_the_set_up();
    if (rules != NONE && !version_identifier_plays_gameplay_version(player.version, rules))
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "The game is played under the rules of Vesk II %s, which %s cannot play.",
                 gameplay_version_to_string(rules), get_version_string(player.version, true));
        LOG_REPEATED("refused a joiner of version %d: the game plays %d", (int)player.version, (int)rules);
        return false;
    }
    // Another program's data would play another game, out of step from its
    // first tick: the joiner is told now, not the set-up.
    uint32_t foundation = 0, patch = 0;
    char other[NET_ALLOW_JOIN_REASON_SIZE];
    const bool tagged = get_player_data_tags(&player, &foundation, &patch);
    if (tagged && describe_other_data(foundation, patch, false, other, sizeof(other)))
    {
        slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "%s", other);
        LOG_REPEATED("refused a joiner on other data (foundation %08x, patches %08x)", (unsigned)foundation,
                     (unsigned)patch);
        return false;
    }
    if (net->state == _net_game_in_progress)
    {
        if (player.version < MIDGAME_JOIN_MINIMUM_VERSION)
        {
            slprintf(message, NET_ALLOW_JOIN_REASON_SIZE,
                     "Mid-game joining is only supported in Vesk II 1.8.2 or later.");
            return false;
        }
        int32_t waiting = 0;
        const vesk_sync_data_s *sync = get_vesk_sync_data();
        for (int16_t i = 0; i < net->player_count; ++i)
            if (!sync->players_data[i].arrived) ++waiting;
        if (waiting + get_player_count() >= MAXIMUM_PLAYERS_PER_GAME)
        {
            slprintf(message, NET_ALLOW_JOIN_REASON_SIZE, "Mid-game join failed as no more players are able to join.");
            return false;
        }
    }
    // An earlier build names no data: it is admitted unchecked, and said so;
    // its game stays checked by the sync commands its rules carry.
    if (!tagged)
        LOG_REPEATED("admitted a joiner of version %d that names no data: its data are not compared, only its game's "
                     "sync commands",
                     (int)player.version);
    return true;
}

bool send_begin_game_midgame_to_player(int32_t player_id)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_begin_game_midgame_packet(packet, sizeof(packet), (uint8_t)player_id,
                                                            (int16_t)net->player_count_at_game_start,
                                                            net->players_at_game_start);
    return length && net_send(net->game, packet, 0);
}

void begin_late_joiner(int32_t player_id)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    const int16_t index = find_net_player_index(player_id);
    if (index < 0) return;
    get_vesk_sync_data()->players_data[index].arrived = false;
    // The lobby lists and scores the joiner with the others.
    if (lobby_connected())
    {
        lobby_synchronize_game_description();
        uint32_t ids[MAXIMUM_NET_GAME_PLAYERS];
        int16_t count = 0;
        for (int16_t i = 0; i < net->player_count && count < MAXIMUM_NET_GAME_PLAYERS; ++i)
            ids[count++] = (uint32_t)get_net_player(i)->metaserver_player_id;
        lobby_send_game_player_list(netgame_lobby_game_id(), ids, count);
    }
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    if (build_edited_game_description_packet(packet, sizeof(packet), (uint8_t)player_id))
        net_send(net->game, packet, 0);
    send_begin_game_midgame_to_player(player_id);
    if (build_begin_sync_data_packet(packet, sizeof(packet), (uint8_t)player_id)) net_send(net->game, packet, 0);
}

// The whole history has been sent to the joiner at `index`: it takes live
// commands from now on and the add-player command gives it its place.
static void complete_join(int16_t index)
{
    vesk_sync_player_data *data = &get_vesk_sync_data()->players_data[index];
    const new_player_data *player = get_net_player(index);
    data->arrived = true;
    data->wants_more_commands = false;
    data->command_history_to_send = nullptr;
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_header *command = build_add_player_command(buffer, player->unique_identifier, 0, player->version,
                                                       player->metaserver_player_id, &player->appearance);
    if (!command) return;
    // The host's own command: every machine knows the host's record.
    command->player_index = (int8_t)NET_HOST_PLAYER_ID;
    vesk_server_send_command(command);
}

void midgame_joiner_reported(int16_t index)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    vesk_sync_player_data *data = &get_vesk_sync_data()->players_data[index];
    const int32_t player_id = get_net_player(index)->unique_identifier;
    if (data->arrived || data->command_history_to_send)
    {
        log_game_packet_refusal(player_id, _game_refusal_not_allowed, "a second barrier report in a running game");
        drop_player_due_to_error(net->game, (int16_t)player_id);
        return;
    }
    for (int16_t i = 0; i < net->player_count; ++i)
        send_player_sync_data_confirmation(net->game, (uint8_t)player_id, (int16_t)net->players[i].unique_identifier);
    data->command_history_to_send = get_command_history_head();
    data->wants_more_commands = true;
    // Nothing to replay yet: the joiner is fed at once.
    if (!data->command_history_to_send) complete_join(index);
}

void handle_begin_game_midgame_packet(void *packet)
{
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = extract_players_from_begin_game_midgame_packet(packet, players, MAXIMUM_NET_GAME_PLAYERS);
    if (count < 1)
    {
        log_game_packet_refusal(((net_message_header *)packet)->from, _game_refusal_malformed,
                                "a mid-game start whose player count is out of range");
        return;
    }
    set_net_players_at_game_start(players, count, count);
    set_net_item_hit_via_network(_configuration_item_enter_game);
    joining_mid_game = true;
    // The game replays from its start at full speed: nothing of it is heard
    // until the add-player command makes this machine a player.
    sound_mute(true);
}

void handle_request_more_commands_packet(void *packet)
{
    const uint8_t from = ((net_message_header *)packet)->from;
    const int16_t index = find_net_player_index(from);
    if (index < 0)
    {
        log_game_packet_refusal(from, _game_refusal_unknown_player, "a history request from a player not listed");
        return;
    }
    vesk_sync_player_data *data = &get_vesk_sync_data()->players_data[index];
    if (data->command_history_to_send && !data->arrived) data->wants_more_commands = true;
}

void handle_coop_vets_data_packet(void *packet)
{
    if (!import_monster_initializers_from_coop_vets_packet(packet))
        log_game_packet_refusal(((net_message_header *)packet)->from, _game_refusal_malformed,
                                "cooperative veterans that were refused");
}

bool request_more_commands_for_mid_game_join(void)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    net_game_data *game = get_vesk_net_globals()->game;
    return game && build_request_more_commands_packet(packet, sizeof(packet), NET_HOST_PLAYER_ID) &&
           net_send(game, packet, 0);
}

void request_more_commands_if_needed(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (game_->target_time > game_->game_time + 1 || game_->game_time == net->requested_more_commands_game_time)
        return;
    request_more_commands_for_mid_game_join();
    set_net_requested_more_commands_game_time(game_->game_time);
}

// One batch for the joiner at `index`.
static void feed_joiner(int16_t index, int32_t budget_limit)
{
    net_game_data *game = get_vesk_net_globals()->game;
    vesk_sync_player_data *data = &get_vesk_sync_data()->players_data[index];
    const int32_t player_id = get_net_player(index)->unique_identifier;
    int32_t budget = net_get_player_client_outgoing_buffer_free_size(game, (int16_t)player_id);
    if (budget > budget_limit) budget = budget_limit;
    const int32_t first_time = data->command_history_to_send->command.time;
    for (command_packet_history_entry *entry = data->command_history_to_send; entry;)
    {
        // The newest entry, far after the batch's start, waits for the next
        // request: the joiner then replays what it has first.
        if (!entry->next && entry->command.time - first_time > MIDGAME_BATCH_TICK_SPAN) break;
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        const uint16_t length =
            build_command_packet(packet, sizeof(packet), (uint8_t)player_id, &entry->command, entry->command.size);
        if (!length || length > budget) break;
        net_send(game, packet, 0);
        budget -= length;
        entry = entry->next;
        data->command_history_to_send = entry;
    }
    data->wants_more_commands = false;
    LOG_REPEATED("fed joiner %d the history from tick %d (%d bytes left unused)", player_id,
                 first_time, budget);
    if (!data->command_history_to_send) complete_join(index);
}

void idle_command_history_with_budget(int32_t budget_limit)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_game_in_progress) return;
    const vesk_sync_data_s *sync = get_vesk_sync_data();
    for (int16_t i = 0; i < net->player_count; ++i)
    {
        const vesk_sync_player_data *data = &sync->players_data[i];
        if (!data->wants_more_commands || !data->command_history_to_send) continue;
        if (!VASSERT(!data->arrived, "a joiner fed after it arrived")) continue;
        feed_joiner(i, budget_limit);
    }
}

void idle_command_history(void) { idle_command_history_with_budget(MIDGAME_MAXIMUM_BATCH_BYTES); }

void get_midgame_time_remaining_string(char *buffer, size_t size)
{
    if (!buffer || !size) return;
    buffer[0] = 0;
    if (!joining_mid_game) return;
    const int32_t remaining = game_->target_time - game_->game_time;
    time_to_string_bounded(remaining > 0 ? remaining : 0, buffer, size);
}
