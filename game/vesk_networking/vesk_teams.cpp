// Teams, the configuration relay and the game description while a network
// game is set up.  See vesk_teams.h.

#include "vesk_networking/vesk_teams.h"
#include "vesk_networking/vesk_join_dialogs.h"

#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "gameplay_versions.h"
#include "lobby_procedures.h"
#include "networking/network_constants.h"
#include "players.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "player_data_tags.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_random.h"

enum teams_refusal
{
    _refused_relay_from_client = 0, // a non-team item from a player other than the host's
    _refused_broadcast_from_client, // a broadcast not from the host's player
    _refused_description_from_client,
    _refused_malformed_description,
    NUMBER_OF_TEAMS_REFUSALS
};

static struct vesk_teams_globals
{
    // One log line per sender and reason: a hostile peer cannot fill the log.
    uint8_t refusals_logged[NUMBER_OF_TEAMS_REFUSALS][256 / 8];
} vesk_teams_globals;

static void log_refusal_once(teams_refusal reason, uint8_t from, const char *text)
{
    uint8_t &bits = vesk_teams_globals.refusals_logged[reason][from / 8];
    const uint8_t bit = (uint8_t)(1u << (from % 8));
    if (bits & bit) return;
    bits |= bit;
    LOG_REPEATED_OF_KIND(reason, NUMBER_OF_TEAMS_REFUSALS, "player %d: %s; dropped (logged once)", from, text);
}

static const char *host_or_client(void) { return local_player_is_network_originator() ? "HOST" : "CLIENT"; }

// The description the host decides on: its own editable one, else the current.
static const net_game_description *deciding_description(void)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    return globals->originator_game_description ? globals->originator_game_description
                                                : &globals->current_game_description;
}

// ---- the configuration relay ------------------------------------------------------

bool send_configuration_packet(bool to_host, int16_t item, int32_t param0)
{
    net_game_data *game = get_vesk_net_globals()->game;
    if (!game) return false;
    uint8_t packet[sizeof(configuration_packet)];
    const uint8_t to = to_host ? (uint8_t)NET_HOST_PLAYER_ID : (uint8_t)kSendToAllPlayers;
    const uint16_t flags = to_host ? _configuration_packet_request_flag : 0;
    if (!build_configuration_packet(packet, sizeof(packet), to, flags, item, param0)) return false;
    return net_send(game, packet, 0);
}

void handle_configuration_packet(void *packet)
{
    if (!packet) return;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (globals->state != _net_configuring_game)
    {
        LOG_REPEATED("(%s): Got a configuration packet in state %d", host_or_client(), globals->state);
        return;
    }
    const configuration_packet *configuration = (const configuration_packet *)packet;
    const uint8_t from = configuration->header.from;
    if (!(configuration->flags & _configuration_packet_request_flag))
    {
        // The dialog acts as if the item had been pressed: only the host decides that.
        if (from != NET_HOST_PLAYER_ID)
        {
            log_refusal_once(_refused_broadcast_from_client, from, "a configuration broadcast not from the host");
            return;
        }
        set_net_item_hit_via_network(configuration->item);
        return;
    }
    if (!local_player_is_network_originator()) return; // requests are the host's
    if (configuration->item == TEAM_REQUEST_ITEM)
    {
        const bool teams_allowed =
            deciding_description()->parameters.option_flags & _game_option_allow_multiplayer_teams_flag;
        if (configuration->param0 != NONE && !teams_allowed) return;
        handle_join_team_request(from, configuration->param0);
        return;
    }
    if (from != NET_HOST_PLAYER_ID)
    {
        log_refusal_once(_refused_relay_from_client, from, "a configuration request only the host may make");
        return;
    }
    send_configuration_packet(false, configuration->item, configuration->param0);
}

// ---- teams --------------------------------------------------------------------------

static void publish(new_player_data player) { update_player_data(&player); }

static int16_t count_team_members(int32_t captain_id)
{
    int16_t members = 0;
    for (int16_t i = 0; i < get_net_player_count(); ++i)
        if (get_net_player(i)->team_captain_identifier == captain_id) ++members;
    return members;
}

void disband_team(int32_t captain_id)
{
    // Publishing replaces list entries on the host: work from a copy.
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
    for (int16_t i = 0; i < count; ++i)
    {
        if (players[i].team_captain_identifier != captain_id) continue;
        players[i].team_captain_identifier = NONE;
        players[i].team_is_locked = false;
        publish(players[i]);
    }
}

void handle_join_team_request(int32_t requester_id, int32_t captain_id)
{
    const int16_t requester_index = find_net_player_index(requester_id);
    if (requester_index < 0) return;
    new_player_data requester = *get_net_player(requester_index);

    if (captain_id == NONE)
    {
        const int32_t own_captain = requester.team_captain_identifier;
        if (own_captain == NONE) return;
        if (own_captain == requester_id || count_team_members(own_captain) == 2)
        {
            disband_team(own_captain);
            return;
        }
        requester.team_captain_identifier = NONE;
        publish(requester);
        return;
    }

    const int16_t target_index = find_net_player_index(captain_id);
    if (target_index < 0) return;
    new_player_data target = *get_net_player(target_index);
    if (target.team_is_locked) return;
    if (target.team_captain_identifier == NONE)
    {
        target.team_captain_identifier = captain_id;
        publish(target);
        if (captain_id == requester_id) return; // it made itself a captain
    }
    else if (target.team_captain_identifier != captain_id)
        return; // a member of someone else's team
    requester = *get_net_player(find_net_player_index(requester_id));
    requester.team_captain_identifier = captain_id;
    publish(requester);
}

static void enable_team_start_item(dialog_data *dialog)
{
    if (dialog && dialog->tag == NETGAME_SETUP_DIALOG_TAG && local_player_is_network_originator())
        bitmap_set_item_enabled(dialog, _netgame_setup_start_item, enough_players_agree_to_start_game());
}

void handle_player_joined_setup(void)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    refresh_netgame_player_list(globals->configure_dialog, globals->player_count);
    if (!local_player_is_network_originator() || !globals->originator_game_description) return;
    const uint32_t options = get_net_host_game_description()->parameters.option_flags;
    const uint32_t continued_series = _game_option_cooperative_flag | _game_option_allow_veterans_flag;
    if ((options & continued_series) != continued_series)
        change_net_host_game_option_flags(0, _game_option_continuation_flag);
    synchronize_game_description();
    enable_team_start_item(globals->configure_dialog);
}

void handle_player_left_setup(const new_player_data *departed)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const int32_t captain = departed->team_captain_identifier;
    if (globals->state == _net_configuring_game && local_player_is_network_originator() && captain != NONE)
    {
        const bool dissolves = captain == departed->unique_identifier || count_team_members(captain) == 1;
        new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
        const int16_t count = get_net_player_count();
        for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
        for (int16_t i = 0; i < count; ++i)
        {
            if (players[i].team_captain_identifier != captain) continue;
            if (players[i].unique_identifier != get_local_player_id() && !players[i].persistent_ready)
                players[i].agreed_to_play = false;
            if (dissolves)
            {
                players[i].team_captain_identifier = NONE;
                players[i].team_is_locked = false;
            }
            publish(players[i]);
        }
    }
    dialog_data *dialog = globals->configure_dialog;
    if (!dialog) return;
    delete_player_from_list_by_id(dialog, _netgame_setup_player_list_item, (uint32_t)departed->unique_identifier);
    // The endgame dialog, open while a player leaves, shows no description.
    if (dialog_has_item(dialog, _netgame_setup_game_item)) set_dialog_item_dirty(dialog, _netgame_setup_game_item);
    if (globals->state == _net_configuring_game) refresh_netgame_player_list(dialog, globals->player_count);
    enable_team_start_item(dialog);
}

teams_button_state get_teams_button_state(const new_player_data *players, int16_t count, int32_t local_id,
                                          int32_t selected_id, bool teams_allowed)
{
    const new_player_data *local = nullptr;
    const new_player_data *selected = nullptr;
    for (int16_t i = 0; i < count; ++i)
    {
        if (players[i].unique_identifier == local_id) local = &players[i];
        if (selected_id != NONE && players[i].unique_identifier == selected_id) selected = &players[i];
    }
    teams_button_state state = {false, 0};
    if (!local) return state;
    if (local->team_captain_identifier != NONE) state.caption_string = local->team_captain_identifier == local_id ? 1 : 2;
    if (!teams_allowed || (local->flags & _player_is_observer_flag)) return state;
    if (local->team_captain_identifier != NONE)
        state.enabled = true;
    else
        state.enabled = selected && selected != local && !selected->team_is_locked &&
                        (selected->team_captain_identifier == NONE ||
                         selected->team_captain_identifier == selected->unique_identifier);
    return state;
}

void enable_teams_button_if_appropriate(dialog_data *dialog)
{
    if (!dialog) return;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const int32_t local_id = get_local_player_id();
    const int16_t list = _netgame_setup_player_list_item;
    const bool teams_allowed = globals->current_game_description.parameters.option_flags &
                               _game_option_allow_multiplayer_teams_flag;
    const int32_t selected =
        bitmap_get_listbox_value(dialog, list) >= 0 ? (int32_t)get_selected_player_user_id(dialog, list) : NONE;
    teams_button_state state = {false, 0};
    if (player_id_in_list(dialog, list, (uint32_t)local_id))
        state = get_teams_button_state(globals->players, globals->player_count, local_id, selected, teams_allowed);
    bitmap_set_item_enabled(dialog, _netgame_setup_teams_item, state.enabled);
    static const char *const captions[] = {"Join Team", "Disband Team", "Leave Team"};
    const char *caption = get_networking_string(state.caption_string);
    set_button_control_name(dialog, _netgame_setup_teams_item, *caption ? caption : captions[state.caption_string]);
}

void refresh_netgame_player_list(dialog_data *dialog, int16_t count)
{
    if (!dialog || count < 0) return;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (count > MAXIMUM_NET_GAME_PLAYERS) count = MAXIMUM_NET_GAME_PLAYERS;
    if (count > globals->player_count) count = globals->player_count;
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    memcpy(players, globals->players, sizeof(new_player_data) * (size_t)count);
    sort_new_player_data(players, count, false);
    arbitrate_player_appearances(players, count);
    const int16_t list = _netgame_setup_player_list_item;
    for (int16_t i = 0; i < count; ++i)
    {
        const uint32_t id = (uint32_t)players[i].unique_identifier;
        const int16_t host = 2; // a version other than this program's is shown
        if (player_id_in_list(dialog, list, id))
            set_player_data_in_list(dialog, list, &players[i], host, id);
        else
            add_player_to_list(dialog, list, &players[i], host, id, NONE, true);
    }
    if (dialog_has_item(dialog, _netgame_setup_game_item)) set_dialog_item_dirty(dialog, _netgame_setup_game_item);
}

// ---- the game description -----------------------------------------------------------

// Seeds chosen by the program rather than drawn (fix_network_game_seeds).
static struct
{
    bool fixed;
    uint32_t random_seed;
    int16_t initial_team_random_seed;
} fixed_game_seeds;

void fix_network_game_seeds(uint32_t random_seed, int16_t initial_team_random_seed)
{
    fixed_game_seeds = {true, random_seed, initial_team_random_seed};
}

void synchronize_game_description(void)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (!VASSERT(local_player_is_network_originator(), "synchronize_game_description off the host")) return;
    if (!VASSERT(globals->originator_game_description, "the host has no description of its own")) return;
    net_game_description description = *get_net_host_game_description();
    // Every joiner checks that it plays on the same data.
    description.public_tags_checksum = tag_files_get_foundation_checksum();
    description.private_tags_checksum = tag_files_get_patch_checksum();
    if (fixed_game_seeds.fixed)
    {
        description.parameters.random_seed = fixed_game_seeds.random_seed;
        description.parameters.initial_team_random_seed = fixed_game_seeds.initial_team_random_seed;
    }
    else
    {
        reset_game_seeds(&description.parameters, "synchronize_game_description");
    }
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const bool built = build_vesk_game_description_packet(packet, sizeof(packet), kSendToAllPlayers, &description);
    set_net_originator_game_description(&description); // the new seeds and the has-password bit
    if (built)
        net_send(globals->game, packet, 0);
    else
        log_message(nullptr, -1, "the game description could not be sent");
    set_net_current_game_description(&description);
    handle_game_description_updated();
    if (lobby_connected()) lobby_synchronize_game_description();
}

void handle_vesk_game_description_packet(void *packet)
{
    if (!packet) return;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (local_player_is_network_originator()) return; // the host's own broadcast
    if (globals->state != _net_configuring_game)
    {
        LOG_REPEATED("(%s): Got a game description packet in state %d", host_or_client(), globals->state);
        return;
    }
    const uint8_t from = ((const net_message_header *)packet)->from;
    if (from != NET_HOST_PLAYER_ID)
    {
        log_refusal_once(_refused_description_from_client, from, "a game description not from the host");
        return;
    }
    // Decoded over a copy of the current description and kept whole either
    // way, as a decoding straight into it would leave it.
    net_game_description received = globals->current_game_description;
    const bool decoded = game_description_packet_to_net_game_description(packet, &received);
    set_net_current_game_description(&received);
    if (!decoded)
    {
        log_refusal_once(_refused_malformed_description, from, "a malformed game description");
        return;
    }
    set_net_current_game_description_changed(true);
    set_net_game_description_received(true);
}

void handle_game_description_updated(void)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    dialog_data *dialog = globals->configure_dialog;
    if (!dialog || dialog->tag != NETGAME_SETUP_DIALOG_TAG) return;
    const net_game_description *description = &globals->current_game_description;

    set_game_control_description(dialog, _netgame_setup_game_item, description);
    refresh_netgame_player_list(dialog, globals->player_count);

    int32_t plugins = 0;
    const bool has_plugins = description->parameters.plugin_count > 0 &&
                             tag_file_plugins_decode(nullptr, &plugins, description->parameters.plugin_data,
                                                     nullptr, nullptr, 0) &&
                             plugins > 0;
    set_tab_enabled(dialog, _netgame_setup_tabs_item, 1, has_plugins);
    if (!has_plugins)
    {
        set_game_graphic_show_plugin_list(dialog, _netgame_setup_game_item, false);
        set_selected_tab(dialog, _netgame_setup_tabs_item, 0);
    }

    char reason[1024];
    if (is_net_game_valid(description, false, reason, sizeof(reason)))
    {
        // An earlier host names no data: not silently passed as the same.
        if (!local_player_is_network_originator() && !description->public_tags_checksum &&
            !description->private_tags_checksum)
            LOG_REPEATED("the host names no data (an earlier build): the data are not compared, only the game's "
                         "sync commands");
        close_missing_plugins_dialog();
        return;
    }
    if (local_player_is_network_originator()) return;
    new_player_data local;
    if (!get_local_player(&local)) return;
    const bool was_ready = local.agreed_to_play;
    if (was_ready)
    {
        local.agreed_to_play = false;
        new_player_data published = local;
        update_player_data(&published);
        vesk_net_process();
    }
    if (!do_join_game_failed_dialog(reason, description))
        set_net_item_hit_via_network(_netgame_setup_leave_item);
    else if (was_ready && local.persistent_ready)
    {
        local.agreed_to_play = true;
        update_player_data(&local);
    }
}

bool is_net_game_valid(const net_game_description *description, bool check_checksum, char *reason,
                       size_t reason_size)
{
    char unused[8];
    if (!reason)
    {
        reason = unused;
        reason_size = sizeof(unused);
    }
    if (reason_size) reason[0] = 0;
    const int32_t version = description->parameters.version & 0xFFFF;
    if (version == 2180 && description->parameters.buildnum == 0)
    {
        strlcpy(reason, "Join failed: The host is running an obsolete build of Vesk II 1.8.", reason_size);
        return false;
    }
    // Rules this program does not know (a newer host's) would stop it at the
    // start: it is refused now.  A plain 2151 is 1.5.1, as the start makes it.
    new_game_parameter_data rules = description->parameters;
    if (version == 2151) rules.option_flags |= _game_option_version_151_flag;
    if (version < MINIMUM_JOINABLE_VERSION_IDENTIFIER || version > MAXIMUM_JOINABLE_VERSION_IDENTIFIER ||
        compute_gameplay_version(&rules, -1) == NONE)
    {
        snprintf(reason, reason_size, "Game versions don't match. The game is being played using %s.\r",
                 get_version_string(version, true));
        return false;
    }
    // A lobby lists games of every data set; only one on the same foundation
    // tags can be played (the join-failed dialog gives the reason).
    if (check_checksum && lobby_connected() &&
        description->public_tags_checksum != tag_files_get_foundation_checksum())
    {
        describe_other_data(description->public_tags_checksum, 0, true, reason, reason_size);
        return false;
    }
    // The host names its data (its tags and its patches) in every kind of
    // game; other data would play another game.  0 is an older host's: not
    // known.
    if (describe_other_data(description->public_tags_checksum, description->private_tags_checksum, true, reason,
                            reason_size))
        return false;
    return tag_file_plugins_decode(nullptr, nullptr, description->parameters.plugin_data, nullptr, reason,
                                   (int32_t)reason_size);
}
