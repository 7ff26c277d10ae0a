// The set-up's lobby steps.  See netgame_lobby.h.

#include "vesk_networking/netgame_lobby.h"

#include <arpa/inet.h>
#include <cstring>

#include "bitmap_dialogs/chat_list_control.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "networking/connection_manager.h"
#include "networking/net_module.h"
#include "networking/network_constants.h"
#include "networking/tcp_module.h"
#include "vesk/string_lists.h"
#include "vesk_networking/netgame_parameters_dialog.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_network_interface.h"
#include "game_records.h"
#include "mesh.h"
#include "mesh_format.h"
#include "scoring.h"
#include "vesk_networking/vesk_networking.h"

void netgame_listed_parameters(new_game_parameter_data *parameters, int16_t team_count, uint32_t map_scoring_flags)
{
    if (team_count <= 0 || (parameters->option_flags & _game_option_cooperative_flag)) return;
    const int16_t most = netgame_players_on_map(parameters->option_flags, team_count);
    if (parameters->maximum_players > most) parameters->maximum_players = most;
    parameters->scoring = scoring_played_on_map(parameters->scoring, map_scoring_flags);
}

void netgame_listed_description(net_game_description *description)
{
    mesh_header header;
    if (description && read_mesh_header(description->parameters.scenario_tag, &header))
        netgame_listed_parameters(&description->parameters, header.team_count, header.flags);
}

uint16_t netgame_lobby_listing_flags(bool accepting_connections, int32_t player_count, int32_t maximum_players,
                                     bool in_progress)
{
    uint16_t flags = 0;
    if (!accepting_connections || player_count >= maximum_players) flags |= _net_game_is_closed_flag;
    if (in_progress) flags |= _net_game_in_progress_flag;
    if (flags == _net_game_in_progress_flag) flags |= _net_game_supports_midgame_joining_flag;
    return flags;
}

void synchronize_netgame_description_with_metaserver(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!VASSERT(metaserver_connected(), "synchronize_netgame_description_with_metaserver without the lobby")) return;
    if (!VASSERT(local_player_is_network_originator(), "synchronize_netgame_description_with_metaserver off the host"))
        return;
    note_net_player_count_in_game_description();
    // The room is told what the game is: the players its map takes and the
    // scoring it plays.
    net_game_description listed = *get_net_edited_game_description();
    netgame_listed_description(&listed);
    const uint16_t flags =
        netgame_lobby_listing_flags(allow_connection_status(), get_net_player_count(),
                                    listed.parameters.maximum_players, net->state == _net_game_in_progress);
    synchronize_game_with_metaserver(_synchronize_with_metaserver_change_game_verb, &listed, flags);
}

int32_t lobby_game_id_of_session(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->metaserver_game_id >= 0 || !local_player_is_network_originator() || !metaserver_connected())
        return net->metaserver_game_id;
    return get_listed_metaserver_game_id();
}

void netgame_lobby_game_started(const new_game_data *data)
{
    if (!data || !local_player_is_network_originator() || !metaserver_connected()) return;
    start_metaserver_netgame_for_scoring(lobby_game_id_of_session(), data->players, data->player_count,
                                         metaserver_game_length_in_seconds(&data->parameters));
    synchronize_netgame_description_with_metaserver();
}

// Shows a notice in the set-up's chat (when its dialog shows) and keeps it.
static void add_lobby_notice(const char *text)
{
    dialog_data *dialog = get_vesk_net_globals()->configure_dialog;
    if (dialog)
        add_chat_text_full(dialog, _netgame_setup_chat_log_item, _motd_chat_message_type, nullptr, nullptr, text,
                           false);
    add_chat_to_back_log(_motd_chat_message_type, nullptr, nullptr, text);
}

// Connects out to a lobby player who cannot be reached directly.
static void connect_to_proxy_client(const void *data)
{
    proxy_client_join_packet join;
    memcpy(&join, data, sizeof(join));
    char host[sizeof(join.host) + 1];
    memcpy(host, join.host, sizeof(join.host));
    host[sizeof(join.host)] = 0; // the field need not hold its terminator
    in_addr address;
    if (inet_pton(AF_INET, host, &address) != 1)
    {
        log_message(__FILE__, __LINE__, "lobby join request refused: \"%s\" is no IPv4 address", host);
        return;
    }
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!net->game) return;
    ProtocolConfig *config =
        create_config_for_internet(kModuleID, net->current_game_description.name, ntohl(address.s_addr), join.port);
    if (!config) return;
    NMErr error = 0;
    if (!open_connection(net->game, config, kOpenAddToTopology, &error))
        log_message(__FILE__, __LINE__, "lobby join request: connecting to %s:%u failed (%d)", host,
                    (unsigned)join.port, (int)error);
    ProtocolDisposeConfig(config);
}

bool handle_metaserver_event_in_game_lobby(int32_t event, const void *data, int32_t length)
{
    const bool configuring = get_vesk_net_globals()->state == _net_configuring_game;
    switch (event)
    {
    case _proxy_client_join_message:
        if (data && allow_connection_status()) connect_to_proxy_client(data);
        return true;
    case _message_of_the_day_message:
    {
        if (!configuring) return false;
        char text[256];
        extract_event_text(text, data, length, sizeof(text));
        add_lobby_notice(text);
        return true;
    }
    case _metaserver_room_went_down:
        if (!configuring) return false;
        add_lobby_notice(translate_string("Vesk's connection to the metaserver has been lost. Other players can no "
                                          "longer join this game."));
        add_lobby_notice(translate_string("Metaserver-based stats and films will also be unavailable for this game."));
        return true;
    default: return false;
    }
}

int16_t choose_protocol_with_lobby_login(new_player_data *player, uint32_t *protocol, bool first_pass,
                                         bool *use_lobby, char *login, size_t login_size, char *password,
                                         size_t password_size)
{
    metaserver_parameters *lobby = read_metaserver_preferences();
    if (!lobby)
    {
        log_message(__FILE__, __LINE__, "the lobby preferences cannot be read: no network game");
        return 0;
    }
    uint16_t flags = lobby->flags;
    slprintf(login, login_size, "%s", lobby->user);
    decode_metaserver_password(lobby->password, password, password_size);
    if (first_pass) flags &= (uint16_t)~_reset_client_data_flag;
    // Until a room is entered again, no room is taken for ranked.
    reset_current_metaserver_room_ranked_guess(false);
    const int16_t result = net_select_protocol(&player->appearance, protocol, &flags, login, password);
    if (result != 1 && result != 2)
    {
        free_metaserver_preferences();
        return 0;
    }
    lobby = read_metaserver_preferences();
    if (lobby)
    {
        if (flags & _use_metaserver_flag)
            lobby->flags = flags;
        else
            lobby->flags &= (uint16_t)~_use_metaserver_flag;
        write_metaserver_preferences();
    }
    *use_lobby = (flags & _use_metaserver_flag) != 0;
    free_metaserver_preferences();
    return result;
}

bool send_chat_command_to_lobby_room(const char *line)
{
    dialog_data *dialog = metaserver_connected() ? get_metaserver_client_dialog() : nullptr;
    if (!dialog) return false;
    send_metaserver_chat_text(dialog, line);
    return true;
}
