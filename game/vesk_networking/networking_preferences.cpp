// The "networking" preferences record, the hosting settings and the listed
// game's description.  See networking_preferences.h.

#include "networking_preferences.h"

#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/system_info.h"
#include "gameplay_versions.h"
#include "iniparser3.0b/inifile.h"
#include "tag_files/plugins.h"
#include "tag_files/preferences.h"
#include "vesk_networking/vesk_networking.h"

const byte_swap_code networking_preferences_byte_swapping_data[] = {
    _begin_bs_array, 1,
    // the last game's description
    NET_GAME_NAME_SIZE, NET_GAME_MAP_NAME_SIZE, NET_GAME_PASSWORD_SIZE,
    NEW_GAME_PARAMETER_FIELDS,
    _4byte, _4byte, // the union
    _2byte, _2byte, // port, flags
    _4byte, _4byte, _4byte, // game id, the two checksums
    4, // player count, unused byte and seconds remaining: raw bytes
    // the local player
    NEW_PLAYER_FIELDS,
    _4byte, _2byte, _2byte, // protocol, unused, plug-in count
    ENCODED_PLUGIN_DATA_SIZE, NETWORKING_LAST_HOST_SIZE,
    _end_bs_array};

static void verify_net_hosting_prefs(void *target);

static const net_hosting_preferences net_hosting_defaults = {WELLKNOWN_VESK_PORT};

static struct networking_preferences_module
{
    net_hosting_preferences hosting;
    bool hosting_read;
    preferences_globals store;
} networking_preferences_globals = {
    {WELLKNOWN_VESK_PORT},
    false,
    {NETWORKING_PREFERENCES_NAME, (int32_t)sizeof(networking_preferences), NETWORKING_PREFERENCES_VERSION,
     default_networking_preferences, verify_networking_preferences, networking_preferences_byte_swapping_data,
     FOUR_CHARACTER_CODE('n', 'e', 't', 'w'), nullptr, true},
};

static const inifile_entry net_hosting_entries[] = {
    {"PortNumber", _inifile_integer, (int32_t)offsetof(net_hosting_preferences, PortNumber), 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};

static const inifile_section net_hosting_section = {
    NET_HOSTING_SECTION_NAME, nullptr, verify_net_hosting_prefs, net_hosting_entries,
    &networking_preferences_globals.hosting, &net_hosting_defaults, (int32_t)sizeof(net_hosting_preferences),
};

// ---- hosting settings ----------------------------------------------------------

static void verify_net_hosting_prefs(void *target)
{
    net_hosting_preferences *hosting = (net_hosting_preferences *)target;
    if (hosting->PortNumber < 1 || hosting->PortNumber > 65535)
    {
        log_message(nullptr, -1, "[%s] PortNumber %d is not a TCP port; using %d", NET_HOSTING_SECTION_NAME,
                    hosting->PortNumber, WELLKNOWN_VESK_PORT);
        hosting->PortNumber = WELLKNOWN_VESK_PORT;
    }
}

const net_hosting_preferences *get_net_hosting_prefs(void)
{
    networking_preferences_module &g = networking_preferences_globals;
    if (!g.hosting_read)
    {
        inifile_readsec(&net_hosting_section);
        if (g.hosting.PortNumber != WELLKNOWN_VESK_PORT)
            log_message(nullptr, -1, "Using Game Hosting Port Number = %d", g.hosting.PortNumber);
        g.hosting_read = true;
    }
    return &g.hosting;
}

void forget_net_hosting_prefs(void)
{
    networking_preferences_globals.hosting_read = false;
    networking_preferences_globals.hosting = net_hosting_defaults;
}

// ---- strings ---------------------------------------------------------------------

// A network string of the interface data, or `fallback` when the data has none.
static const char *networking_string(int16_t index, const char *fallback)
{
    const char *text = get_networking_string(index);
    return *text ? text : fallback;
}

// `pattern` with its first "%s" replaced by `name` and "%%" read as "%".  A
// pattern from data is never handed to printf: any other directive is copied
// as text.
static void format_with_name(char *buffer, size_t size, const char *pattern, const char *name)
{
    size_t used = 0;
    bool substituted = false;
    auto put = [&](char c) {
        if (used + 1 < size) buffer[used++] = c;
    };
    for (const char *p = pattern; *p; ++p)
    {
        if (p[0] == '%' && p[1] == 's' && !substituted)
        {
            for (const char *n = name; *n; ++n) put(*n);
            substituted = true;
            ++p;
        }
        else if (p[0] == '%' && p[1] == '%')
        {
            put('%');
            ++p;
        }
        else
            put(*p);
    }
    if (size) buffer[used] = 0;
}

// ---- descriptions ----------------------------------------------------------------

static void set_map_display_name(net_game_description *description)
{
    description->map_name[0] = 0;
    if (!get_mesh_display_name_in_plugin_list(description->parameters.scenario_tag, description->map_name,
                                              NET_GAME_MAP_NAME_SIZE, description->parameters.plugin_data,
                                              ENCODED_PLUGIN_DATA_SIZE))
        description->map_name[0] = 0;
    description->map_name[NET_GAME_MAP_NAME_SIZE - 1] = 0;
}

void build_net_game_description(net_game_description *description, const char *name, const char *password,
                                const new_game_parameter_data *parameters, uint16_t port, uint16_t flags,
                                uint8_t player_count)
{
    memset(description, 0, sizeof(*description));
    strlcpy(description->name, name ? name : "", NET_GAME_NAME_SIZE);
    strlcpy(description->password, password ? password : "", NET_GAME_PASSWORD_SIZE);
    description->parameters = *parameters;
    description->host_or_selector.fresh.mapset_checksum = 0;
    description->host_or_selector.fresh.gameplay_selector_value = 0x7FFFFFFF;
    description->port = port;
    description->flags = flags;
    set_map_display_name(description);
    if (description->password[0])
        description->flags |= _net_game_has_password_flag;
    else
        description->flags &= (uint16_t)~_net_game_has_password_flag;
    description->player_count = player_count;
}

bool verify_net_game_description(net_game_description *description, bool keep_unset_map)
{
    description->name[NET_GAME_NAME_SIZE - 1] = 0;
    description->password[NET_GAME_PASSWORD_SIZE - 1] = 0;
    description->map_name[NET_GAME_MAP_NAME_SIZE - 1] = 0;

    new_game_parameter_data *parameters = &description->parameters;
    parameters->type = _game_type_networked;
    repair_new_game_parameter_data(parameters);
    update_game_parameters_for_gameplay_version(DEFAULT_GAMEPLAY_VERSION, parameters);

    const bool unset_kept = keep_unset_map && parameters->scenario_tag == (tag)NONE;
    if (!unset_kept && !get_mesh_display_name_in_plugin_list(parameters->scenario_tag, nullptr, 0,
                                                             parameters->plugin_data, ENCODED_PLUGIN_DATA_SIZE))
    {
        parameters->scenario_tag = (parameters->option_flags & _game_option_cooperative_flag)
                                       ? DEFAULT_COOPERATIVE_GAME_SCENARIO
                                       : DEFAULT_NETWORK_GAME_SCENARIO;
    }
    if (!tag_file_plugins_decode(nullptr, nullptr, parameters->plugin_data, nullptr, nullptr, 0))
    {
        memset(parameters->plugin_data, 0, sizeof(parameters->plugin_data));
        parameters->plugin_count = 0;
    }
    return true;
}

bool valid_netgame_name(const char *name)
{
    if (!name) return false;
    for (const unsigned char *p = (const unsigned char *)name; *p; ++p)
    {
        // Bytes above 127 are parts of UTF-8 letters, which are visible.
        if ((*p > ' ' && *p < 127) || *p >= 128) return true;
    }
    return false;
}

bool team_name_follows_player_name(char *team_name, size_t size, const char *old_name, const char *new_name)
{
    if (!team_name || !old_name || !new_name || size == 0 || strcmp(old_name, new_name) == 0) return false;
    const char *pattern = networking_string(_networking_string_default_team_name, "%s's Team");
    char old_default[PLAYER_NAME_SIZE];
    format_with_name(old_default, sizeof(old_default), pattern, old_name);
    if (team_name[0] && strcmp(team_name, old_default) != 0) return false;
    format_with_name(team_name, size < (size_t)PLAYER_NAME_SIZE ? size : (size_t)PLAYER_NAME_SIZE, pattern, new_name);
    return true;
}

// ---- the record ------------------------------------------------------------------

void default_networking_preferences(void *data)
{
    networking_preferences *preferences = (networking_preferences *)data;
    memset(preferences, 0, sizeof(*preferences));

    static new_game_data game_data; // 2.5 KB: kept off the stack
    get_default_new_game_data(&game_data, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    build_net_game_description(&preferences->game,
                               networking_string(_networking_string_default_game_name, "Network Game"), "",
                               &game_data.parameters, (uint16_t)get_net_hosting_prefs()->PortNumber, 0, 1);

    new_player_data *player = &preferences->player;
    player->team_index = NONE;
    player->type = _player_is_human;
    player->flags = _player_uses_appearance_colors_flag;
    player->team_captain_identifier = NONE;
    get_name_from_system(player->appearance.name, PLAYER_NAME_SIZE, _system_name_login);
    format_with_name(player->appearance.team_name, PLAYER_NAME_SIZE,
                     networking_string(_networking_string_default_team_name, "%s's Team"),
                     player->appearance.name);
    player->appearance.primary_color = {22936, 2291, 12107, 0};
    player->appearance.secondary_color = {50212, 36018, 6695, 0};
    player->version = CURRENT_VERSION_IDENTIFIER;
    player->build_number = CURRENT_BUILD_NUMBER;
}

bool verify_networking_preferences(void *data)
{
    networking_preferences *preferences = (networking_preferences *)data;
    preferences->last_host[NETWORKING_LAST_HOST_SIZE - 1] = 0;
    verify_net_game_description(&preferences->game, false);
    new_player_data *player = &preferences->player;
    player->team_index = NONE;
    player->type = _player_is_human;
    player->flags = _player_uses_appearance_colors_flag;
    player->version = CURRENT_VERSION_IDENTIFIER;
    player->build_number = CURRENT_BUILD_NUMBER;
    player->appearance.name[PLAYER_NAME_SIZE - 1] = 0;
    player->appearance.team_name[PLAYER_NAME_SIZE - 1] = 0;
    return true;
}

bool save_netgame_preferences(const net_game_description *description, const new_player_data *player,
                              const new_game_data *game_data, const uint32_t *protocol)
{
    preferences_globals *store = &networking_preferences_globals.store;
    networking_preferences *preferences = (networking_preferences *)read_preferences_convert(store, nullptr);
    if (!preferences)
    {
        log_message(nullptr, -1, "networking preferences: the store cannot be read; nothing saved");
        return false;
    }
    if (description)
    {
        preferences->game = *description;
        // The password is a secret of that one game: it is never put on disk.
        memset(preferences->game.password, 0, sizeof(preferences->game.password));
    }
    if (player) preferences->player = *player;
    if (game_data)
    {
        preferences->plugin_count = game_data->parameters.plugin_count;
        memcpy(preferences->plugin_data, game_data->parameters.plugin_data, sizeof(preferences->plugin_data));
    }
    if (protocol) preferences->protocol_type = *protocol;
    const bool written = write_preferences(store);
    if (!written) log_message(nullptr, -1, "networking preferences: the record could not be stored");
    free_preferences(store);
    return written;
}

bool load_netgame_preferences(net_game_description *description, new_player_data *player,
                              new_game_data *game_data, uint32_t *protocol)
{
    preferences_globals *store = &networking_preferences_globals.store;
    const networking_preferences *preferences =
        (const networking_preferences *)read_preferences_convert(store, nullptr);
    if (!preferences) return false;
    if (description)
    {
        *description = preferences->game;
        memset(description->password, 0, sizeof(description->password));
    }
    if (player) *player = preferences->player;
    if (game_data)
    {
        new_game_parameter_data *parameters = &game_data->parameters;
        if (preferences->plugin_count >= 0 && preferences->plugin_count <= MAXIMUM_PLUGINS_PER_GAME &&
            tag_file_plugins_decode(nullptr, nullptr, preferences->plugin_data, nullptr, nullptr, 0))
        {
            parameters->plugin_count = preferences->plugin_count;
            memcpy(parameters->plugin_data, preferences->plugin_data, sizeof(parameters->plugin_data));
        }
        else
        {
            parameters->plugin_count = 0;
            memset(parameters->plugin_data, 0, sizeof(parameters->plugin_data));
        }
    }
    if (protocol) *protocol = preferences->protocol_type;
    free_preferences(store);
    return true;
}

bool save_last_joined_host(const char *address)
{
    preferences_globals *store = &networking_preferences_globals.store;
    networking_preferences *preferences = (networking_preferences *)read_preferences_convert(store, nullptr);
    if (!preferences) return false;
    strlcpy(preferences->last_host, address ? address : "", sizeof(preferences->last_host));
    const bool written = write_preferences(store);
    if (!written) log_message(nullptr, -1, "networking preferences: the record could not be stored");
    free_preferences(store);
    return written;
}

void load_last_joined_host(char *address, size_t size)
{
    if (!address || !size) return;
    address[0] = 0;
    preferences_globals *store = &networking_preferences_globals.store;
    const networking_preferences *preferences =
        (const networking_preferences *)read_preferences_convert(store, nullptr);
    if (!preferences) return;
    // The stored field is read within its size, terminated or not.
    const size_t length = strnlen(preferences->last_host, sizeof(preferences->last_host));
    const size_t kept = length < size - 1 ? length : size - 1;
    memcpy(address, preferences->last_host, kept);
    address[kept] = 0;
    free_preferences(store);
}

void format_networking_text(char *buffer, size_t size, const char *pattern, const char *text)
{
    format_with_name(buffer, size, pattern ? pattern : "", text ? text : "");
}
