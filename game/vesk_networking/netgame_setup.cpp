// The set-up decisions of a network game.  See netgame_setup.h.

#include "vesk_networking/netgame_setup.h"

#include <cstdio>
#include <cstring>

#include "vesk_networking/vesk_server.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "gameplay_plugins.h"
#include "gameplay_versions.h"
#include "networking/network_constants.h"
#include "players.h"
#include "uber/uber.h"
#include "vesk_networking/network.h"
#include "lobby_procedures.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_teams.h"

static bool host_observes(const new_game_parameter_data *parameters)
{
    return parameters->option_flags & _game_option_server_is_observer_flag;
}

static int32_t version_identifier_of(const new_game_parameter_data *parameters)
{
    return parameters->version & 0xFFFF;
}

// A captain that names a team: from the newer rules on, a watching host's
// team is none.
static bool names_a_team(int32_t captain, const new_game_parameter_data *parameters)
{
    if (captain == NONE) return false;
    return !(version_identifier_of(parameters) >= TEAM_CAPTAIN_RULES_VERSION && host_observes(parameters) &&
             captain == NET_HOST_PLAYER_ID);
}

// ---- ready marks ----------------------------------------------------------------

void netgame_setup_clear_ready_marks(void)
{
    if (!local_player_is_network_originator()) return;
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
    for (int16_t i = 0; i < count; ++i)
    {
        // The host's own record is always ready.
        if (players[i].unique_identifier == NET_HOST_PLAYER_ID || players[i].persistent_ready ||
            !players[i].agreed_to_play)
            continue;
        players[i].agreed_to_play = false;
        update_player_data(&players[i]);
    }
}

const char *netgame_setup_toggle_ready(bool shift_held, bool persistent_by_preference)
{
    new_player_data player;
    const int16_t local = find_net_player_index(get_local_player_id());
    if (local < 0) return nullptr;
    player = *get_net_player(local);
    if (player.agreed_to_play)
    {
        player.agreed_to_play = false;
        player.persistent_ready = false;
        update_player_data(&player);
        return nullptr;
    }
    const bool persistent = persistent_by_preference ? !shift_held : shift_held;
    i_agree_to_play_persistent(persistent);
    if (!shift_held) return nullptr;
    return persistent ? "Ready Status is Persistent." : "Ready Status is |iNot|p Persistent.";
}

// ---- starting -----------------------------------------------------------------

bool players_make_order_game(const new_player_data *players, int16_t count)
{
    int32_t captains[MAXIMUM_NET_GAME_PLAYERS];
    int16_t members[MAXIMUM_NET_GAME_PLAYERS] = {};
    int16_t orders[MAXIMUM_NET_GAME_PLAYERS] = {};
    bool one_order[MAXIMUM_NET_GAME_PLAYERS] = {};
    int16_t groups = 0;
    for (int16_t i = 0; i < count; ++i)
    {
        const int32_t captain = players[i].team_captain_identifier;
        if (captain == NONE) return false; // the players in no team never qualify
        int16_t group = 0;
        while (group < groups && captains[group] != captain) ++group;
        if (group == groups)
        {
            if (groups == MAXIMUM_NET_GAME_PLAYERS) return false;
            captains[group] = captain;
            orders[group] = players[i].order;
            one_order[group] = true;
            ++groups;
        }
        members[group] += 1;
        if (players[i].order != orders[group]) one_order[group] = false;
    }
    if (groups < 2) return false;
    for (int16_t group = 0; group < groups; ++group)
        if (members[group] < MINIMUM_ORDER_GAME_TEAM_SIZE || !one_order[group] || orders[group] == 0) return false;
    return true;
}

void compute_start_version(const new_player_data *players, int16_t count, int32_t description_version,
                           int32_t *version_identifier, int32_t *build_number)
{
    int32_t version = CURRENT_VERSION_IDENTIFIER;
    int32_t build = CURRENT_BUILD_NUMBER;
    for (int16_t i = 0; i < count; ++i)
    {
        if (players[i].version > version) continue;
        version = players[i].version;
        if (version < MINIMUM_JOINABLE_VERSION_IDENTIFIER) version = MINIMUM_JOINABLE_VERSION_IDENTIFIER;
        if (players[i].build_number < build) build = players[i].build_number;
    }
    *version_identifier = description_version < version ? description_version : version;
    *build_number = build;
}

static bool has_blacklisted_build(const new_player_data *players, int16_t count)
{
    for (int16_t i = 0; i < count; ++i)
        if (players[i].build_number == BLACKLISTED_BUILD_NUMBER_0 || players[i].build_number == BLACKLISTED_BUILD_NUMBER_1)
            return true;
    return false;
}

netgame_start_result netgame_setup_start(bool autohost, bool boot_extra_players, char *message, size_t size)
{
    char unused[8];
    if (!message)
    {
        message = unused;
        size = sizeof(unused);
    }
    if (size) message[0] = 0;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const net_game_description *description = get_net_host_game_description();
    if (!local_player_is_network_originator() || !description)
    {
        log_message(nullptr, -1, "only the host starts a network game");
        return _netgame_start_not_host;
    }
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
    const new_game_parameter_data *parameters = &description->parameters;

    if (!autohost && has_blacklisted_build(players, count))
    {
        snprintf(message, size,
                 "Some players with blacklisted build numbers (%s) are present in the game. Please ask them to "
                 "upgrade before continuing.",
                 "355, 422");
        return _netgame_start_blacklisted_builds;
    }
    if ((parameters->option_flags & _game_option_cooperative_flag) && count > MAXIMUM_COOPERATIVE_HUMAN_PLAYERS)
    {
        if (!autohost && !boot_extra_players)
        {
            snprintf(message, size,
                     "A co-operative game can not start with over %d human players present.\r\n\r\nDo you wish to "
                     "automatically boot the extra players and start the game?",
                     MAXIMUM_COOPERATIVE_HUMAN_PLAYERS);
            return _netgame_start_too_many_for_coop;
        }
        // The booted leave the list only when the library reports them gone:
        // the rest of the start counts the players who stay.
        for (int16_t i = count - 1; i >= MAXIMUM_COOPERATIVE_HUMAN_PLAYERS; --i)
            net_delete_player(globals->game, (int16_t)players[i].unique_identifier);
        count = MAXIMUM_COOPERATIVE_HUMAN_PLAYERS;
    }

    // The game plays the rules the host chose, patch bits and all (the
    // identifier alone cannot tell 1.8.2 from 1.8.2.5).  Joiners who cannot
    // play them were refused at the join; one who stayed while the host
    // changed the rules holds the start up, named, rather than lowering them.
    int32_t version_identifier, build_number;
    compute_start_version(players, count, version_identifier_of(parameters), &version_identifier, &build_number);
    const int32_t gameplay_version = compute_gameplay_version(parameters, build_number);
    if (gameplay_version == NONE)
    {
        log_message(nullptr, -1, "no gameplay version for version %d: the game does not start",
                    version_identifier_of(parameters));
        snprintf(message, size, "The game's rules are of %s, which this program cannot play.",
                 get_version_string(version_identifier_of(parameters), true));
        return _netgame_start_refused;
    }
    for (int16_t i = 0; i < count; ++i)
    {
        if (version_identifier_plays_gameplay_version(players[i].version, gameplay_version)) continue;
        log_message(nullptr, -1, "%.*s (version %d) cannot play gameplay version %d: the game does not start",
                    (int)PLAYER_NAME_SIZE, players[i].appearance.name, (int)players[i].version, (int)gameplay_version);
        snprintf(message, size, "%.*s cannot play the rules of Vesk II %s. Choose older rules or boot the player.",
                 (int)PLAYER_NAME_SIZE, players[i].appearance.name, gameplay_version_to_string(gameplay_version));
        return _netgame_start_refused;
    }
    version_identifier = find_gameplay_version(gameplay_version)->version_identifier;

    // The started game's parameters become the host's description.
    net_game_description started = *description;
    new_game_parameter_data *started_parameters = &started.parameters;
    remove_encoded_gameplay_plugins(started_parameters);
    if (players_make_order_game(players, count))
        started_parameters->option_flags |= _game_option_order_game_flag;
    else
        started_parameters->option_flags &= ~(uint32_t)_game_option_order_game_flag;
    update_game_parameters_for_gameplay_version(gameplay_version, started_parameters);
    set_net_originator_game_description(&started); // `parameters` reads the host's record: the started ones now

    const uint32_t veterans_and_continuation = _game_option_allow_veterans_flag | _game_option_continuation_flag;
    bool continued = false;
    if ((parameters->option_flags & _game_option_cooperative_flag) &&
        version_identifier >= MINIMUM_COOP_VETERANS_VERSION &&
        (parameters->option_flags & veterans_and_continuation) == veterans_and_continuation)
    {
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        if (build_coop_vets_packet(packet, sizeof(packet), kSendToAllPlayers, count, players))
            continued = net_send(globals->game, packet, 0);
    }
    if (!continued) change_net_host_game_option_flags(0, _game_option_continuation_flag);

    synchronize_game_description();
    send_configuration_packet(true, _netgame_setup_game_starts_item, 0);
    return _netgame_start_sent;
}

// ---- endings ------------------------------------------------------------------

static new_player_data computer_player(const char *name, int16_t team, rgb_color primary, rgb_color secondary)
{
    new_player_data player;
    memset(&player, 0, sizeof(player));
    player.team_index = team;
    player.type = _player_is_computer;
    player.flags = _player_uses_appearance_colors_flag;
    player.team_captain_identifier = NONE;
    player.unique_identifier = NONE;
    player.metaserver_player_id = NONE;
    player.version = CURRENT_VERSION_IDENTIFIER;
    player.build_number = CURRENT_BUILD_NUMBER;
    strlcpy(player.appearance.name, name, sizeof(player.appearance.name));
    strlcpy(player.appearance.team_name, name, sizeof(player.appearance.team_name));
    player.appearance.primary_color = primary;
    player.appearance.secondary_color = secondary;
    return player;
}

void build_game_start_players(const new_player_data *players, int16_t count, int32_t local_player_id,
                              new_game_data *data)
{
    new_game_parameter_data *parameters = &data->parameters;
    const bool cooperative = parameters->option_flags & _game_option_cooperative_flag;
    if (count > MAXIMUM_PLAYERS_PER_MAP) count = MAXIMUM_PLAYERS_PER_MAP;
    int32_t shared_captain = NONE;
    if (cooperative)
    {
        if (!(parameters->option_flags & _game_option_allow_multiplayer_teams_flag))
            shared_captain = NET_HOST_PLAYER_ID;
        else
        {
            bool chosen = false;
            for (int16_t i = count - 1; i >= 0 && !chosen; --i)
            {
                if (!names_a_team(players[i].team_captain_identifier, parameters)) continue;
                shared_captain = players[i].team_captain_identifier;
                chosen = true;
            }
            if (chosen)
                parameters->option_flags |= _game_option_team_captain_chosen_flag;
            else if (version_identifier_of(parameters) < TEAM_CAPTAIN_RULES_VERSION)
                shared_captain = NET_HOST_PLAYER_ID;
        }
        parameters->maximum_teams = NONE;
        parameters->time_limit = 0;
    }

    new_player_data sorted[MAXIMUM_PLAYERS_PER_MAP];
    memcpy(sorted, players, sizeof(new_player_data) * (size_t)count);
    sort_new_player_data(sorted, count, false);
    memset(data->players, 0, sizeof(data->players));
    data->local_player_index = NONE;
    // Outside a cooperative game the teams are the set-up's: the players of
    // one captain share a team, each player without a captain has one of his
    // own, numbered in the sorted order, so that every machine numbers alike.
    int32_t team_captains[MAXIMUM_PLAYERS_PER_MAP];
    int16_t team_count = 0;
    for (int16_t i = 0; i < count; ++i)
    {
        new_player_data &player = sorted[i];
        if (cooperative)
            player.team_index = 0;
        else
        {
            const int32_t captain = player.team_captain_identifier;
            int16_t team = NONE;
            for (int16_t t = 0; t < team_count && captain != NONE; ++t)
                if (team_captains[t] == captain) team = t;
            if (team == NONE)
            {
                team = team_count;
                team_captains[team_count++] = captain;
            }
            player.team_index = team;
        }
        player.type = _player_is_human;
        if (cooperative && shared_captain != NONE) player.team_captain_identifier = shared_captain;
        if (player.unique_identifier == local_player_id) data->local_player_index = i;
        data->players[i] = player;
    }
    data->player_count = count;
    // Players who kept the same colours (everybody's default) would field
    // armies alike: each team takes the first free colour pair, on every
    // machine alike, as the set-up's player list shows them.
    arbitrate_player_appearances(data->players, count);

    if (cooperative)
    {
        parameters->option_flags |= _game_option_allow_veterans_flag;
        if (data->player_count < MAXIMUM_PLAYERS_PER_MAP)
            data->players[data->player_count++] =
                computer_player("Dark", 1, rgb_color{0, 0, 65535, 0}, rgb_color{0, 65535, 65535, 0});
        if (data->player_count < MAXIMUM_PLAYERS_PER_MAP)
            data->players[data->player_count++] =
                computer_player("Neutral", 2, rgb_color{16384, 0, 0, 0}, rgb_color{16384, 0, 0, 0});
    }
    if (version_identifier_of(parameters) == 2151 || (parameters->option_flags & _game_option_version_151_flag))
    {
        parameters->option_flags |= _game_option_version_151_flag;
        parameters->version = 2151;
    }
}

static void begin_game(new_game_data *data)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (local_player_is_network_originator())
    {
        Endpoint *listener = net_get_listener_endpoint(globals->game);
        if (listener) ProtocolStopAdvertising(listener);
    }
    memset(data, 0, sizeof(*data));
    data->parameters = globals->current_game_description.parameters;
    int16_t count = net_get_player_count(globals->game);
    if (count != globals->player_count)
    {
        log_message(nullptr, -1, "globals.player_count: %d net_get_player: %d", globals->player_count, count);
        // Only listed players have records.
        if (count > globals->player_count) count = globals->player_count;
    }
    build_game_start_players(globals->players, count, get_local_player_id(), data);
    set_net_players_at_game_start(data->players, MAXIMUM_NET_GAME_PLAYERS, data->player_count);
    lobby_game_started(data);
}

static void continue_cooperative_series(new_game_data *data)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    memset(data, 0, sizeof(*data));
    data->parameters = globals->current_game_description.parameters;
    new_game_parameter_data *parameters = &data->parameters;
    VASSERT(parameters->option_flags & _game_option_cooperative_flag, "a continued game that is not cooperative");
    int32_t count = globals->player_count_at_game_start;
    if (count < 0) count = 0;
    if (count > MAXIMUM_PLAYERS_PER_MAP) count = MAXIMUM_PLAYERS_PER_MAP;
    if (parameters->option_flags & _game_option_allow_multiplayer_teams_flag)
    {
        for (int32_t i = 0; i < count; ++i)
            if (names_a_team(globals->players_at_game_start[i].team_captain_identifier, parameters))
                parameters->option_flags |= _game_option_team_captain_chosen_flag;
    }
    parameters->option_flags |= _game_option_allow_veterans_flag;
    parameters->maximum_teams = NONE;
    parameters->time_limit = 0;
    data->player_count = (int16_t)count;
    memcpy(data->players, globals->players_at_game_start, sizeof(new_player_data) * (size_t)count);
    data->local_player_index = NONE;
}

bool netgame_setup_finish(int16_t item, bool start_immediately, int16_t old_state, new_game_data *data,
                          net_game_description *game)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    bool starts = false;
    if (item == _netgame_setup_game_starts_item)
    {
        const int16_t local = find_net_player_index(get_local_player_id());
        const bool left_out = !start_immediately && local >= 0 && !get_net_player(local)->agreed_to_play;
        if (!left_out)
        {
            begin_game(data);
            starts = true;
        }
    }
    else if (item == _netgame_setup_continue_item)
    {
        continue_cooperative_series(data);
        starts = true;
    }

    if (globals->game) net_allow_connections(globals->game, false);
    set_net_configure_dialog(nullptr);
    if (local_player_is_network_originator() && globals->originator_game_description)
    {
        *game = *globals->originator_game_description;
        save_netgame_preferences(game, nullptr, starts ? data : nullptr, &globals->protocol);
        set_net_originator_game_description(nullptr);
    }
    if (starts)
    {
        game->parameters = data->parameters;
        set_net_state(_net_idle);
        if (local_player_is_network_originator()) initialize_game_server_for_new_game();
    }
    else
        set_net_state(old_state);
    return starts;
}

// ---- the automatic host ---------------------------------------------------------

autohost_readiness count_autohost_readiness(const new_player_data *players, int16_t count, int32_t host_id)
{
    autohost_readiness readiness = {0, 0, 0};
    int32_t host_captain = NONE;
    for (int16_t i = 0; i < count; ++i)
        if (players[i].unique_identifier == host_id) host_captain = players[i].team_captain_identifier;
    int32_t ready_captains[MAXIMUM_NET_GAME_PLAYERS];
    int16_t captains = 0;
    for (int16_t i = 0; i < count && i < MAXIMUM_NET_GAME_PLAYERS; ++i)
    {
        const new_player_data &player = players[i];
        const int32_t captain = player.team_captain_identifier;
        if (player.unique_identifier == host_id || (host_captain != NONE && captain == host_captain)) continue;
        readiness.players += 1;
        if (!player.agreed_to_play) continue;
        readiness.ready += 1;
        int16_t known = 0;
        while (captain != NONE && known < captains && ready_captains[known] != captain) ++known;
        if (captain != NONE && known < captains) continue;
        if (captain != NONE) ready_captains[captains++] = captain;
        readiness.ready_teams += 1;
    }
    return readiness;
}

bool autohost_players_may_start(const autohost_readiness &readiness, bool cooperative)
{
    const int16_t half = (int16_t)((readiness.players + 1) / 2);
    const int16_t needed = half > 2 ? half : 2;
    return readiness.ready >= needed && readiness.ready_teams >= (cooperative ? 1 : 2);
}

autohost_countdown_event advance_autohost_countdown(autohost_countdown *countdown, bool players_may_start,
                                                    uint32_t now, uint32_t settled_ms, int32_t *seconds_left)
{
    *seconds_left = AUTOHOST_COUNTDOWN_SECONDS;
    const bool settled = now - settled_ms >= (uint32_t)AUTOHOST_SETTLING_MS;
    if (!players_may_start || !settled)
    {
        if (!countdown->running) return _autohost_countdown_quiet;
        countdown->running = false;
        return _autohost_countdown_aborted;
    }
    if (!countdown->running)
    {
        countdown->running = true;
        countdown->start_ms = now;
        countdown->next_update_seconds = AUTOHOST_COUNTDOWN_FIRST_UPDATE_SECONDS;
        return _autohost_countdown_begun;
    }
    const uint32_t elapsed = now - countdown->start_ms;
    if (elapsed > (uint32_t)AUTOHOST_COUNTDOWN_SECONDS * 1000 - 1)
    {
        countdown->running = false;
        *seconds_left = 0;
        return _autohost_countdown_finished;
    }
    if (elapsed < (uint32_t)countdown->next_update_seconds * 1000) return _autohost_countdown_quiet;
    *seconds_left = AUTOHOST_COUNTDOWN_SECONDS - countdown->next_update_seconds;
    countdown->next_update_seconds += AUTOHOST_COUNTDOWN_UPDATE_PERIOD_SECONDS;
    return _autohost_countdown_announced;
}
