// The game layer's session, pump, dispatcher and player list.

#include "vesk_networking.h"

#include <unistd.h>

#include <cstring>

#include "commands.h"
#include "console/console.h"
#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "monster_commands.h"
#include "players.h"
#include "game_ending.h"
#include "scoring.h"
#include "networking/connection_manager.h"
#include "networking/net_module.h"
#include "networking/public_packet_definitions.h"
#include "networking/tcp_module.h"
#include "lobby_procedures.h"
#include "networking_procedures.h"
#include "uber/uber.h"
#include "progress_dialog.h"
#include "vesk.h"
#include "session_state.h"
#include "unit_commands.h"
#include "vesk/string_lists.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_game_entry.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_midgame.h"
#include "player_data_tags.h"
#include "vesk_networking/vesk_net_commands.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_ping.h"
#include "vesk_networking/vesk_server.h"
#include "vesk_networking/web_links.h"
#include "vesk_networking/vesk_teams.h"
#include "vesk_networking/vesk_join_dialogs.h"

#define NETWORKING_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'm', 'n')
#define INTERNAL_NETWORK_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 's')
#define NETWORKING_UNAVAILABLE_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'u')

enum
{
    PLAYER_ADDED_STATUS_SIZE = 42 + NET_PLAYER_RECORD_SIZE,
    PLAYER_ADDED_ID_OFFSET = 40,
    PLAYER_ADDED_RECORD_OFFSET = 42,
    PLAYER_DATA_CHANGED_RECORD_OFFSET = 12,
    _networking_string_player_left = NETWORKING_STRING_NOT_CONNECTED,
    // The configuration dialog's items a network event acts on.
    _configuration_item_leave = 4,
    // A host leaving a game that runs waits this long at most for the
    // players' links to carry what it sent them.
    HOST_DEPARTURE_DRAIN_MS = 5000,
};

static struct
{
    vesk_networking_globals net;
    // Refusals already logged this game, one bit per reason, per sender id.
    uint8_t logged_refusals[MAXIMUM_PLAYER_ID + 1];
    // Packets refused this game, per sender id (see NET_REFUSED_PACKET_LIMIT).
    uint16_t refused_packets[MAXIMUM_PLAYER_ID + 1];
    // A client's host left the game in progress: it ends here once every
    // tick heard from the host has run.
    bool host_departed;
    bool host_link_lost; // the host departed by this player's link falling silent
} vesk_networking_module;

const vesk_networking_globals *get_vesk_net_globals(void) { return &vesk_networking_module.net; }

void log_game_packet_refusal(int32_t player_id, int16_t reason, const char *text)
{
    static_assert(NUMBER_OF_GAME_PACKET_REFUSALS <= 8, "one bit of logged_refusals per reason");
    static const char *const reasons[NUMBER_OF_GAME_PACKET_REFUSALS] = {
        "malformed", "not allowed from its sender", "its sender has not arrived", "it names a player not in the game",
        "not in this stage of the game", "its command does not decode", "its verb is not in the game's rules",
        "the host's record cannot check it"};
    if (reason < 0 || reason >= NUMBER_OF_GAME_PACKET_REFUSALS) return;
    const uint8_t id = (uint8_t)player_id & MAXIMUM_PLAYER_ID;
    uint8_t *logged = &vesk_networking_module.logged_refusals[id];
    if (!(*logged & (1u << reason)))
    {
        *logged = (uint8_t)(*logged | (1u << reason));
        // A record per reason and sender: a second player's refusal is
        // written with its name, not counted under the first's.
        LOG_REPEATED_OF_SUBJECT_AND_KIND(id, reason, NUMBER_OF_GAME_PACKET_REFUSALS,
                                         "dropped a packet from player %d (%s): %s", (int)player_id, reasons[reason],
                                         text);
    }
    // A peer that keeps sending what is refused is disconnected: the host
    // drops a remote player; a client leaves a host that does so (what other
    // players' packets the host relays is not the host's doing).
    net_game_data *const game = vesk_networking_module.net.game;
    if (!game || ++vesk_networking_module.refused_packets[id] != NET_REFUSED_PACKET_LIMIT) return;
    const bool host = net_i_am_the_server(game);
    if (host ? player_id == get_local_player_id() : player_id != NET_HOST_PLAYER_ID) return;
    LOG_REPEATED_OF_SUBJECT(id, "player %d sent %d refused packets: %s", (int)player_id, NET_REFUSED_PACKET_LIMIT,
                            host ? "dropping the player" : "leaving the host");
    drop_player_due_to_error(game, host ? (int16_t)player_id : game->client.local_player_id);
}

void forget_game_packet_refusals(void)
{
    memset(vesk_networking_module.logged_refusals, 0, sizeof(vesk_networking_module.logged_refusals));
    memset(vesk_networking_module.refused_packets, 0, sizeof(vesk_networking_module.refused_packets));
}

// ---- texts --------------------------------------------------------------------------

// Used when the interface's string lists are not loaded (a headless run).
static const char *fallback_networking_string(int16_t index)
{
    switch (index)
    {
    case 3: return "Unable to join the game: %s";
    case 4: return "Waiting for %s...";
    case 5: return "Waiting for the other players to finish...";
    case 6: return "Waiting for the other players to start...";
    case 14: return "OK";
    case 26: return "Unable to create the game: %s";
    case 27: return "The network configuration could not be made.";
    case 19: return "Unable to host the game: %s";
    case _networking_string_player_left: return "You are no longer connected to the game.";
    case 22: return "This game ended undecided or with time still on the clock: the players cannot stay together.";
    case 23: return "Chat and Play Again are closed; press Leave to go back.";
    case 30: return "The player's record is damaged.";
    default: return "";
    }
}

static const char *fallback_internal_string(int16_t index)
{
    static const char *const texts[INTERNAL_NETWORK_MSG_COUNT] = {
        "Attempting to join the game...", "Cancelled.", "Timed out waiting to join the game.",
        "Could not reach the host: %s.", "Could not open the listening socket: %s.",
        "Not enough memory for the host's buffers.", "Not enough memory for the host's records.",
        "Could not close the connection.", "Could not close the players' connections.",
        "The game needs a password.", "The password is wrong."};
    return index >= 0 && index < INTERNAL_NETWORK_MSG_COUNT ? texts[index] : "";
}

static const char *string_from_list(tag list, int16_t index)
{
    const int32_t list_index = string_list_tag_to_string_index(list);
    if (list_index == NONE || index < 0 || index >= count_strings_in_list(list_index)) return nullptr;
    return get_string_from_list(list_index, index);
}

const char *get_networking_string(int16_t index)
{
    const char *text = string_from_list(NETWORKING_STRING_LIST_TAG, index);
    return text ? text : fallback_networking_string(index);
}

const char *get_internal_network_string(int16_t index)
{
    const char *text = string_from_list(INTERNAL_NETWORK_STRING_LIST_TAG, index);
    return text ? text : fallback_internal_string(index);
}

bool vesk_networking_available(char *message, size_t message_size)
{
    if (networking_available()) return true;
    const char *text = string_from_list(NETWORKING_UNAVAILABLE_STRING_LIST_TAG, 0);
    if (message && message_size) slprintf(message, message_size, "%s", text ? text : "No network is available.");
    return false;
}

// The front end's progress dialog for the library's and the barriers' waits;
// true when the player cancelled.  A headless run shows none.
bool network_progress(int16_t operation, const char *text, int32_t value)
{
    if (vesk_is_headless()) return false;
    return progress_function(operation, text, value) != 0 && operation == _progress_modal_pass;
}

// ---- the session -----------------------------------------------------------------------

bool allocate_network_structures_for_game_session(uint32_t protocol)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (!VASSERT(!net->game, "!vesk_net_globals.game")) return false;
    memset(&vesk_networking_module, 0, sizeof(vesk_networking_module));
    net->game = net_enter(0, DEFAULT_NET_QUEUE_SIZE, DEFAULT_NET_QUEUE_SIZE, handle_packet, vesk_packet_byteswapping,
                          NET_PLAYER_RECORD_SIZE, network_progress, get_internal_network_string,
                          allow_vesk_player_to_join);
    if (!net->game) return false;
    clear_vesk_sync_data();
    net->state = _net_idle;
    net->configure_dialog = nullptr;
    net->item_hit_via_network = NET_NO_DIALOG_ITEM;
    net->player_count = 0;
    net->protocol = protocol;
    net->metaserver_game_id = -1;
    return true;
}

void setdown_network_game_from_old_netgame_session(bool logout, bool force)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (net->game)
    {
        // Between games of one session the session lives on.
        if (!force && net->state == _net_reenter_game) return;
        net->state = _vesk_net_coming_down;
        if (net_i_am_the_server(net->game))
        {
            // A host leaving a game that runs tells every player its last
            // stamped tick and gives their links a bounded time to carry the
            // rest of the stream: every player ends at that tick, the same
            // game, however slow its link.
            if (game_server_game_in_progress())
            {
                stamp_last_tick_of_departing_host();
                const uint32_t started = machine_tick_count();
                while (!net_links_drained(net->game) && machine_tick_count() - started < HOST_DEPARTURE_DRAIN_MS &&
                       !net_exit_cancelled())
                {
                    net_process(net->game);
                    usleep(1000);
                }
                log_message(__FILE__, __LINE__, "the players' links %s within %u ms of the host's leaving",
                            net_links_drained(net->game) ? "drained" : "did not drain",
                            (unsigned)(machine_tick_count() - started));
            }
            // The players need no notice of each other leaving as the game ends.
            dispose_game_server();
            set_send_delete_packets(false);
        }
        clear_ping_data();
        net_exit(net->game);
        // The lobby's connection goes through the same protocol: it stays up while the lobby does.
        if (!lobby_connected()) ProtocolShutdown(net->protocol ? net->protocol : kModuleID);
        net->game = nullptr;
        net->state = _vesk_net_down;
    }
    // Logged out, a lobby that died can be logged into again.
    if (logout) lobby_logout();
}

// A stream-and-datagram configuration of the local network: listening on
// `port` (any address) when `address` is 0, else reaching `address`:`port`.
static ProtocolConfig *local_network_config(const char *game_name, uint32_t address, uint16_t port)
{
    ProtocolConfig *config = nullptr;
    if (ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, game_name, nullptr, 0, nullptr, &config) != 0) return nullptr;
    config->configuration_data->connectionMode = kNMNormalMode;
    config->configuration_data->host = address;
    config->configuration_data->port = port;
    return config;
}

int32_t join_or_create_new_netgame_session(net_game_description *description, const new_player_data *player,
                                           uint32_t protocol, int16_t verb, char *failure, size_t failure_size)
{
    (void)protocol;
    vesk_networking_globals *net = &vesk_networking_module.net;
    char reason[NET_ALLOW_JOIN_REASON_SIZE] = "";
    if (failure && failure_size) failure[0] = 0;
    if (!net->game || !description || !player)
    {
        slprintf(failure, failure_size, "no network session");
        return 0;
    }
    new_player_data wire = *player;
    byte_swap_new_player_data(&wire);
    mark_player_data_with_local_tags(&wire); // the host refuses other data
    const char *name = player->appearance.name;
    bool hosting = false;
    ProtocolConfig *config = nullptr;
    switch (verb)
    {
    case _netgame_session_direct:
        hosting = description->host_or_selector.address.host == 0;
        config = local_network_config(description->name, description->host_or_selector.address.host,
                                      description->port);
        break;
    case _netgame_session_join_lobby:
        config = create_config_for_internet(kModuleID, description->name, description->host_or_selector.address.host,
                                            description->port);
        break;
    case _netgame_session_host_lobby:
        hosting = true;
        config = create_config_for_internet(kModuleID, description->name, 0, description->port);
        break;
    default:
    {
        char text[64];
        slprintf(text, sizeof(text), "Unknown verb: %d", verb);
        HALT(text);
        return 0;
    }
    }
    if (!config)
    {
        slprintf(failure, failure_size, "the network configuration was refused");
        return 0;
    }
    bool joined = false;
    if (hosting)
    {
        if (!create_game(net->game, config, description->password, true, reason, sizeof(reason)))
        {
            slprintf(failure, failure_size, get_networking_string(19), reason);
            ProtocolDisposeConfig(config);
            return 0;
        }
        joined = join_game(net->game, nullptr, name, description->password, &wire, NET_PLAYER_RECORD_SIZE, reason,
                           sizeof(reason), true);
    }
    else
        joined = join_game(net->game, config, name, description->password, &wire, NET_PLAYER_RECORD_SIZE, reason,
                           sizeof(reason), false);
    ProtocolDisposeConfig(config);
    if (!joined)
    {
        slprintf(failure, failure_size, get_networking_string(3), reason);
        log_message(__FILE__, __LINE__, "%s", failure ? failure : reason);
        return 0;
    }
    netgame_session_entered(description);
    return 1;
}

void netgame_session_entered(const net_game_description *description)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (!net->game || !description) return;
    if (net_i_am_the_server(net->game))
    {
        initialize_game_server_for_new_game();
        net_set_maximum_players(net->game, description->parameters.maximum_players);
        net->originator_game_description_mem = *description;
        net->originator_game_description = &net->originator_game_description_mem;
        net->current_game_description = *description;
    }
    // A joiner's description is the host's alone: one that arrived while the
    // join was answered is kept, not replaced by the joiner's own draft.
}

// ---- the session's state -----------------------------------------------------------------

void set_net_state(int16_t state) { vesk_networking_module.net.state = state; }
void set_net_lobby_game_id(int32_t game_id) { vesk_networking_module.net.metaserver_game_id = game_id; }
void set_net_configure_dialog(dialog_data *dialog) { vesk_networking_module.net.configure_dialog = dialog; }
void set_net_item_hit_via_network(int16_t item) { vesk_networking_module.net.item_hit_via_network = item; }
void set_net_game_closed(bool closed) { vesk_networking_module.net.game_closed = closed; }
void set_net_endgame_raised(bool raised) { vesk_networking_module.net.endgame_raised = raised; }

void set_net_requested_more_commands_game_time(int32_t game_time)
{
    vesk_networking_module.net.requested_more_commands_game_time = game_time;
}

void set_net_player_list(const new_player_data *players, int16_t count)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (count < 0 || count > MAXIMUM_NET_GAME_PLAYERS || (count && !players)) return;
    // The caller may hand the list its own entries back.
    memmove(net->players, players, sizeof(new_player_data) * (size_t)count);
    net->player_count = count;
}

void set_net_player(int16_t index, const new_player_data *player)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (player && index >= 0 && index < net->player_count) net->players[index] = *player;
}

void set_net_players_at_game_start(const new_player_data *players, int32_t copied, int32_t count)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (copied < 0 || copied > MAXIMUM_NET_GAME_PLAYERS || (copied && !players)) return;
    memmove(net->players_at_game_start, players, sizeof(new_player_data) * (size_t)copied);
    net->player_count_at_game_start = count;
}

void set_net_current_game_description(const net_game_description *description)
{
    net_game_description *current = &vesk_networking_module.net.current_game_description;
    if (description && description != current) *current = *description;
}

void set_net_current_game_description_changed(bool changed)
{
    vesk_networking_module.net.current_game_description_changed = changed;
}

void set_net_game_description_received(bool received) { vesk_networking_module.net.game_description_received = received; }

void set_net_originator_game_description(const net_game_description *description)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (!description)
    {
        net->originator_game_description = nullptr;
        return;
    }
    if (description != &net->originator_game_description_mem) net->originator_game_description_mem = *description;
    net->originator_game_description = &net->originator_game_description_mem;
}

static net_game_description *host_game_description(void)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    return net->originator_game_description ? &net->originator_game_description_mem : nullptr;
}

const net_game_description *get_net_host_game_description(void) { return host_game_description(); }

bool change_net_host_game_option_flags(uint32_t set, uint32_t clear)
{
    net_game_description *own = host_game_description();
    if (!own) return false;
    own->parameters.option_flags = (own->parameters.option_flags | set) & ~clear;
    return true;
}

static net_game_description *edited_game_description(void)
{
    net_game_description *own = host_game_description();
    return own ? own : &vesk_networking_module.net.current_game_description;
}

const net_game_description *get_net_edited_game_description(void) { return edited_game_description(); }

void note_net_player_count_in_game_description(void)
{
    edited_game_description()->player_count = (uint8_t)get_net_player_count();
}

uint16_t build_edited_game_description_packet(void *packet, int32_t capacity, uint8_t to)
{
    return build_vesk_game_description_packet(packet, capacity, to, edited_game_description());
}

// ---- queries ----------------------------------------------------------------------------

bool is_vesk_networking(void) { return vesk_networking_module.net.state != _vesk_net_down; }

int32_t netgame_lobby_game_id(void)
{
    const auto lobby_game_id = get_lobby_procedures()->game_id;
    return lobby_game_id ? lobby_game_id() : vesk_networking_module.net.metaserver_game_id;
}

bool local_player_is_network_originator(void)
{
    return vesk_networking_module.net.game && net_i_am_the_server(vesk_networking_module.net.game);
}

bool net_i_am_host_in_netgame_lobby(void)
{
    const vesk_networking_globals *net = &vesk_networking_module.net;
    return (net->state == _net_configuring_game || net->state == _net_reenter_game) &&
           local_player_is_network_originator();
}

int16_t get_local_player_id(void)
{
    return vesk_networking_module.net.game ? net_get_local_player_id(vesk_networking_module.net.game) : -1;
}

bool get_local_player(new_player_data *player)
{
    const int16_t index = find_net_player_index(get_local_player_id());
    if (!VASSERT(index >= 0, "the local player is not in the player list")) return false;
    *player = vesk_networking_module.net.players[index];
    return true;
}

int16_t get_net_player_count(void) { return vesk_networking_module.net.player_count; }

const new_player_data *get_net_player(int16_t index)
{
    const vesk_networking_globals *net = &vesk_networking_module.net;
    return index >= 0 && index < net->player_count ? &net->players[index] : nullptr;
}

int16_t find_net_player_index(int32_t player_id)
{
    const vesk_networking_globals *net = &vesk_networking_module.net;
    for (int16_t i = 0; i < net->player_count; ++i)
        if (net->players[i].unique_identifier == player_id) return i;
    return -1;
}

void remove_player_from_player_list(int32_t player_id)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    const int16_t index = find_net_player_index(player_id);
    if (index < 0) return;
    memmove(&net->players[index], &net->players[index + 1],
            sizeof(new_player_data) * (size_t)(net->player_count - index - 1));
    remove_vesk_sync_player(index, net->player_count);
    net->player_count--;
}

void force_network_endgame(int16_t type)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (net->endgame_raised) return;
    handle_forced_endgame_command(type);
    net->endgame_raised = true;
}

// ---- publishing records ------------------------------------------------------------------

void update_player_data(new_player_data *player)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (!net->game) return;
    const int32_t player_id = player->unique_identifier;
    const int16_t index = find_net_player_index(player_id);
    if (net_i_am_the_server(net->game) && index >= 0)
    {
        if (!VASSERT(player != &net->players[index], "update_player_data given the list entry itself")) return;
        net->players[index] = *player;
    }
    byte_swap_new_player_data(player);
    net_set_player_data(net->game, (int16_t)player_id, player);
}

void handle_player_data_changed(int32_t player_id, const void *record, int32_t length)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (length != NET_PLAYER_RECORD_SIZE)
    {
        log_game_packet_refusal(player_id, _game_refusal_malformed, "a player record not of 124 bytes");
        return;
    }
    const int16_t index = find_net_player_index(player_id);
    if (index < 0) return;
    new_player_data player;
    memcpy(&player, record, sizeof(player));
    if (player_id == NET_HOST_PLAYER_ID) player.agreed_to_play = true;
    if (net->state == _net_configuring_game)
    {
        player.unique_identifier = player_id;
        net->players[index] = player;
    }
    else if (net->state == _net_game_in_progress)
        LOG_REPEATED("Got a player_information_packet in _net_game_in_progress..");
    else
        LOG_REPEATED("Got a player_information_packet in state %d..", net->state);
}

// ---- status packets ---------------------------------------------------------------------

static void handle_player_added(const uint8_t *packet, int32_t length)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    const int16_t index = net->player_count;
    int16_t player_id;
    memcpy(&player_id, packet + PLAYER_ADDED_ID_OFFSET, sizeof(player_id));
    if (length != PLAYER_ADDED_STATUS_SIZE || index >= MAXIMUM_NET_GAME_PLAYERS || player_id < 0 ||
        player_id > MAXIMUM_PLAYER_ID || find_net_player_index(player_id) >= 0)
    {
        log_game_packet_refusal(player_id, _game_refusal_malformed,
                                "a player-added notice with a list full, a known id or a record not of 124 bytes");
        return;
    }
    new_player_data player;
    memcpy(&player, packet + PLAYER_ADDED_RECORD_OFFSET, sizeof(player));
    byte_swap_new_player_data(&player);
    if (player_id == NET_HOST_PLAYER_ID) player.agreed_to_play = true;
    player.unique_identifier = player_id;
    net->players[index] = player;
    net->player_count++;
    clear_vesk_sync_player(index);
    vesk_networking_module.logged_refusals[player_id] = 0; // a new connection under this id
    vesk_networking_module.refused_packets[player_id] = 0;

    const bool host = net_i_am_the_server(net->game);
    if (net->state == _net_configuring_game)
        handle_player_joined_setup();
    else if (net->state == _net_game_in_progress && host)
        begin_late_joiner(player_id);
    else if (host && net->state != _net_configuring_game && net->state != _net_idle)
        LOG_REPEATED("host got _player_added_packet_public in unexpected state %d", net->state);
}

static void send_drop_player_command(int32_t player_id)
{
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_header *command = build_drop_player_command(buffer, player_id);
    if (command) send_command_to_host(command);
}

static void handle_player_deleted(const uint8_t *packet)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    int16_t player_id;
    memcpy(&player_id, packet + sizeof(net_message_header), sizeof(player_id));
    if (in_netsync())
    {
        note_player_dropped_during_netsync(player_id);
        return;
    }
    const int16_t index = find_net_player_index(player_id);
    if (index < 0) return;
    const bool arrived = get_vesk_sync_data()->players_data[index].arrived;
    const new_player_data departed = *get_net_player(index);
    remove_player_from_player_list(player_id);
    handle_player_left_setup(&departed);
    if (net->state == _net_configuring_game || net->state == _net_game_in_progress) announce_player_departure(&departed);
    if (net_i_am_the_server(net->game) && arrived && net->state == _net_game_in_progress)
        send_drop_player_command(player_id);
    // The lobby's listing counts the players who remain, during play too.
    if (net_i_am_the_server(net->game) && net->state == _net_game_in_progress && lobby_connected())
        lobby_synchronize_game_description();
}

// The host of the game in progress is gone (it quit, or its link died): the
// player hears it by the host's name, and the game ends once every tick heard
// from the host has run (end_game_whose_host_departed).
static void announce_host_departure(void)
{
    const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
    char name[PLAYER_NAME_SIZE] = "";
    if (host >= 0)
        strlcpy_field(name, sizeof(name), get_net_player(host)->appearance.name,
                      sizeof(get_net_player(host)->appearance.name));
    char text[CHAT_ENTRY_TEXT_SIZE];
    slprintf(text, sizeof(text), "%s, the host, has left the game.", name[0] ? name : "The host");
    // Nothing heard while the others may play on: this player's own link is
    // gone, not the game, which it leaves (no Victory or Defeat of a game
    // that goes on without it).
    vesk_networking_module.host_link_lost = connection_to_host_fell_silent();
    add_network_notice(vesk_networking_module.host_link_lost ? "The connection to the host was lost." : text);
    vesk_networking_module.host_departed = true;
}

bool network_game_host_link_lost(void) { return vesk_networking_module.host_link_lost; }

// The game whose host departed ends as it stands at the last tick the host
// stamped: standings, report and film as at any end, the host's player
// marked as departed; no countdown, for no tick follows.
static void end_game_whose_host_departed(void)
{
    if (!vesk_networking_module.host_departed || !vesk_map_is_loaded() ||
        (game_->flags.load() & _game_is_over_flag) || game_->game_time < game_->target_time)
        return;
    log_message(__FILE__, __LINE__, "the game whose host left ends at tick %d", game_->game_time);
    const int16_t host_player = find_player_by_unique_identifier(NET_HOST_PLAYER_ID);
    if (host_player != NONE) drop_player(host_player);
    // A player whose own link fell silent left, as through the quit dialog.
    end_game(vesk_networking_module.host_link_lost ? _game_end_player_left : _game_end_no_tick_follows);
}

bool network_game_host_departed(void) { return vesk_networking_module.host_departed; }

const char *network_game_dropped_because(void)
{
    const net_game_data *game = vesk_networking_module.net.game;
    return game && !game->server && game->client.dropped_because[0] ? game->client.dropped_because : nullptr;
}

// The host dropped this player from the game in progress and said why: the
// player is told that, not that the host left, and its game ends as one
// whose host departed (at the last tick heard, no end barrier).
static void announce_dropped_by_host(const char *why)
{
    char text[CHAT_ENTRY_TEXT_SIZE];
    slprintf(text, sizeof(text), "The host dropped you from the game. %s", why);
    add_network_notice(text); // which logs it too
    vesk_networking_module.host_departed = true;
}

static void handle_player_left_game(void)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    if (net->state == _net_configuring_game)
    {
        const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
        if (!local_player_is_network_originator() && network_endgame_lost_its_host())
        {
            if (host >= 0) announce_player_departure(get_net_player(host));
            add_network_notice(get_networking_string(_networking_string_player_left));
        }
        else
            net->item_hit_via_network = _configuration_item_leave;
    }
    else if (net->state == _net_game_in_progress)
    {
        // A host that fell silent is named as such: the player sees why.
        if (connection_to_host_fell_silent())
        {
            char text[128];
            slprintf(text, sizeof(text), "Nothing heard from the host for %d seconds.", net_silence_limit_ms() / 1000);
            add_network_notice(text);
            log_message(__FILE__, __LINE__, "%s", text);
        }
        if (!local_player_is_network_originator() && vesk_map_is_loaded())
        {
            if (const char *why = network_game_dropped_because()) announce_dropped_by_host(why);
            else announce_host_departure();
            return;
        }
        add_network_notice(get_networking_string(_networking_string_player_left));
        log_message(__FILE__, __LINE__, "%s", get_networking_string(_networking_string_player_left));
        set_console_error(_console_error_general);
    }
}

static void handle_player_data_changed_status(const uint8_t *packet, int32_t length)
{
    int16_t player_id, data_length;
    memcpy(&player_id, packet + 8, sizeof(player_id));
    memcpy(&data_length, packet + 10, sizeof(data_length));
    if (data_length != NET_PLAYER_RECORD_SIZE || length != PLAYER_DATA_CHANGED_RECORD_OFFSET + data_length)
    {
        log_game_packet_refusal(player_id, _game_refusal_malformed, "a player record not of 124 bytes");
        return;
    }
    new_player_data player;
    memcpy(&player, packet + PLAYER_DATA_CHANGED_RECORD_OFFSET, sizeof(player));
    byte_swap_new_player_data(&player);
    handle_player_data_changed(player_id, &player, data_length);
}

static void handle_status_packet(const uint8_t *packet, int32_t length)
{
    const net_message_header *header = (const net_message_header *)packet;
    switch (header->what & ~kNetLibPacketBit)
    {
    case _player_added_packet_public: handle_player_added(packet, length); break;
    case _player_deleted_packet_public: handle_player_deleted(packet); break;
    case _player_left_game_packet_public: handle_player_left_game(); break;
    case _player_data_changed_packet_public: handle_player_data_changed_status(packet, length); break;
    default:
        LOG_REPEATED("Unknown (%d) networking library packet", header->what & ~kNetLibPacketBit);
        break;
    }
}

// ---- game packets ------------------------------------------------------------------------

static void handle_server_command_packet(void *packet)
{
    // The command server consumes every server command on the host, and the
    // packet rules keep them from a client: one here was misrouted.
    log_game_packet_refusal(((const net_message_header *)packet)->from, _game_refusal_not_allowed,
                            "a server command outside the host's own game");
}

static void handle_vesk_player_data_packet(void *packet)
{
    const vesk_set_player_data_packet *data = (const vesk_set_player_data_packet *)packet;
    if (data->header.from != NET_HOST_PLAYER_ID)
    {
        log_game_packet_refusal(data->header.from, _game_refusal_not_allowed, "a player data packet");
        return;
    }
    if (data->data_length != NET_PLAYER_RECORD_SIZE)
    {
        log_game_packet_refusal(data->header.from, _game_refusal_malformed, "a player record not of 124 bytes");
        return;
    }
    new_player_data player;
    memcpy(&player, (const uint8_t *)packet + sizeof(*data), sizeof(player));
    byte_swap_new_player_data(&player);
    handle_player_data_changed(data->player_id, &player, data->data_length);
}

typedef void (*vesk_packet_handler)(void *packet);
static const vesk_packet_handler vesk_packet_handlers[NUMBER_OF_VESK_PACKETS] = {
    handle_chat_packet,                     // 0
    handle_command_packet,                  // 1
    handle_configuration_packet,            // 2
    handle_player_sync_data_packet,         // 3
    handle_begin_sync_data_packet,          // 4
    handle_server_command_packet,           // 5
    handle_vesk_game_description_packet,    // 6
    handle_vesk_player_data_packet,         // 7
    handle_coop_vets_data_packet,           // 8
    handle_ping_packet,                     // 9
    handle_begin_game_midgame_packet,       // 10
    handle_request_more_commands_packet,    // 11
};

static const char *const game_packet_names[NUMBER_OF_VESK_PACKETS] = {
    "a chat line",   "a command",           "a configuration",  "a barrier report", "a barrier begin",
    "a server command", "a game description", "a player record", "cooperative veterans", "a ping",
    "a mid-game start", "a history request",
};

// Where this client's session stands, for the packet rules.
static net_client_stage client_stage(const vesk_networking_globals *net)
{
    if (net->state == _net_game_in_progress) return _client_stage_playing;
    return net->game_description_received ? _client_stage_described : _client_stage_undescribed;
}

void handle_packet(void *packet)
{
    const net_message_header *header = (const net_message_header *)packet;
    const vesk_networking_globals *net = &vesk_networking_module.net;
    const bool host = net->game && net_i_am_the_server(net->game);
    if (header->messageLen < sizeof(net_message_header) || header->messageLen > MAXIMUM_SINGLE_PACKET_SIZE)
    {
        LOG_REPEATED("warning: ignoring incorrect-length packet (length=%d, should be %d to %d)",
                     header->messageLen, (int)sizeof(net_message_header), MAXIMUM_SINGLE_PACKET_SIZE);
        return;
    }
    if (header->what & kNetLibPacketBit)
    {
        handle_status_packet((const uint8_t *)packet, header->messageLen);
        return;
    }
    if (header->what >= NUMBER_OF_VESK_PACKETS) return;
    if (host && handle_game_server_packet(packet, header->messageLen, header->to, header->from)) return;
    if (!host && check_client_packet_stage(header->what, client_stage(net),
                                           net->current_game_description.parameters.option_flags &
                                               _game_option_cooperative_flag) != _packet_accepted)
    {
        log_game_packet_refusal(header->from, _game_refusal_wrong_stage, game_packet_names[header->what]);
        return;
    }
    vesk_packet_handlers[header->what](packet);
}

// ---- the pump --------------------------------------------------------------------------

void vesk_net_process(void)
{
    vesk_networking_globals *net = &vesk_networking_module.net;
    end_game_whose_host_departed();
    if (!net->game || net->state == _vesk_net_down || !networking_active(net->game)) return;
    accept_early_commands();
    // The game over, its map is disposed before the end barrier: its final
    // state is taken while it stands.
    if (net->state == _net_game_in_progress && vesk_map_is_loaded() && (game_->flags.load() & _game_is_over_flag))
        note_network_game_final_state();
    // The rings hold commands only while a map is loaded.
    if (!joining_mid_game && net->state == _net_game_in_progress && vesk_map_is_loaded())
    {
        command_header *command;
        while ((command = dequeue_outgoing_command()) != nullptr) send_command_to_host(command);
    }
    if (joining_mid_game && game_->state == _game_state_running) request_more_commands_if_needed();
    tell_of_network_game_drift();
    if (net_i_am_the_server(net->game))
    {
        idle_game_server();
        idle_ping();
        idle_command_history();
    }
    net_process(net->game);
    if (net->game && net_i_am_the_server(net->game)) drop_players_who_left();
}

// ---- registration -------------------------------------------------------------------------

// A drop-player command ran: the player leaves this layer's list too.
static void forget_dropped_player(int32_t player_id)
{
    LOG_REPEATED_OF_SUBJECT(player_id, "player %d was dropped from the game at tick %d", (int)player_id,
                            game_->game_time);
    // Named here unless its leaving the list was (the host's notice may come first).
    const int16_t index = find_net_player_index(player_id);
    const new_player_data departed = index >= 0 ? *get_net_player(index) : new_player_data{};
    remove_player_from_player_list(player_id);
    if (index >= 0) announce_player_departure(&departed);
}

void register_vesk_networking_hooks(void)
{
    // The whole table at once.
    static const networking_procedures procedures = {
        .vesk_net_process = vesk_net_process,
        .networked_game_supports_ping = vesk_ping_supported,
        .get_local_player_latency = vesk_ping_local_player_latency,
        .get_player_latency = vesk_ping_player_list_latency,
        .enough_players_for_ranked_game = net_enough_players_for_ranked_game,
        .get_time_remaining_string = get_midgame_time_remaining_string,
        .go_to_url = web_go_to_url,
        .lookup_plugin = web_lookup_plugin,
        .open_missing_plugins_dialog = offer_missing_plugins,
        .local_player_is_network_originator = local_player_is_network_originator,
        .add_chat_to_back_log = add_console_chat_to_back_log,
        .forget_dropped_player = forget_dropped_player,
    };
    register_networking_procedures(&procedures);
    set_net_relay_heeded_check(chat_relay_is_heeded);
    register_net_command_verbs();
    register_game_state_procedures(_game_state_network_setup, enter_network_setup_state, nullptr);
    register_game_state_procedures(_game_state_post_game, enter_network_post_game_state, nullptr);
}

#undef NETWORKING_STRING_LIST_TAG
#undef INTERNAL_NETWORK_STRING_LIST_TAG
#undef NETWORKING_UNAVAILABLE_STRING_LIST_TAG
