// The automatic host's playlist record.  See autohost_preferences.h.

#include "autohost_preferences.h"

#include <cstring>

#include "cseries/log.h"
#include "tag_files/preferences.h"
#include "vesk_networking/networking_preferences.h"

const byte_swap_code autohost_preferences_byte_swapping_data[] = {
    _begin_bs_array, MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES,
    NET_GAME_NAME_SIZE, NET_GAME_MAP_NAME_SIZE, NET_GAME_PASSWORD_SIZE,
    NEW_GAME_PARAMETER_FIELDS,
    _4byte, _4byte, // the union
    _2byte, _2byte, // port, flags
    _4byte, _4byte, _4byte, // game id, the two checksums
    1, 1, _2byte, // player count, unused, seconds remaining
    _end_bs_array};

static const char autohosted_game_name[] = "Autohosted Game";

static struct autohost_preferences_module
{
    int16_t playlist_index; // the entry started last
    net_game_description current_autohosted_game;
    preferences_globals store;
} autohost_globals = {
    0,
    {},
    {AUTOHOST_PREFERENCES_NAME, (int32_t)sizeof(autohost_preferences), AUTOHOST_PREFERENCES_VERSION,
     default_autohost_preferences, verify_autohost_preferences, autohost_preferences_byte_swapping_data,
     FOUR_CHARACTER_CODE('a', 'u', 't', 'o'), nullptr, true}, // entries keep their passwords
};

preferences_globals *get_autohost_preferences_store(void) { return &autohost_globals.store; }

bool autohost_entry_is_filled(const net_game_description *entry)
{
    return entry->parameters.scenario_tag != (tag)NONE;
}

void default_autohost_preferences(void *data)
{
    autohost_preferences *preferences = (autohost_preferences *)data;
    memset(preferences, 0, sizeof(*preferences));
    static new_game_data game_data; // 2.5 KB: kept off the stack
    get_default_new_game_data(&game_data, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    for (int32_t i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i)
    {
        net_game_description *entry = &preferences->playlist[i];
        build_net_game_description(entry, autohosted_game_name, "", &game_data.parameters,
                                   (uint16_t)get_net_hosting_prefs()->PortNumber, 0, 1);
        entry->parameters.option_flags |= _game_option_server_is_observer_flag;
        entry->parameters.plugin_count = 0;
        memset(entry->parameters.plugin_data, 0, sizeof(entry->parameters.plugin_data));
        if (i > 0) entry->parameters.scenario_tag = (tag)NONE;
    }
}

bool verify_autohost_preferences(void *data)
{
    autohost_preferences *preferences = (autohost_preferences *)data;
    // The playlist starts with its first entry and wraps to it: a record
    // whose first entry is empty was never written by the dialog, which
    // keeps the games at the front, and would host no map.
    if (!autohost_entry_is_filled(&preferences->playlist[0]))
    {
        log_message(nullptr, -1, "autohost: the stored playlist has no first game; the default playlist is used");
        return false;
    }
    for (net_game_description &entry : preferences->playlist)
    {
        verify_net_game_description(&entry, true);
        entry.parameters.option_flags |= _game_option_server_is_observer_flag;
    }
    return true;
}

const net_game_description *get_next_autohosted_game_description(void)
{
    autohost_preferences_module &g = autohost_globals;
    const autohost_preferences *preferences =
        (const autohost_preferences *)read_preferences_convert(&g.store, nullptr);
    if (!preferences)
    {
        log_message(nullptr, -1, "autohost: the playlist cannot be read; the same game is hosted again");
        return &g.current_autohosted_game;
    }
    int32_t next = g.playlist_index + 1;
    if (next < 0 || next >= MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES || !autohost_entry_is_filled(&preferences->playlist[next]))
        next = 0;
    g.playlist_index = (int16_t)next;
    g.current_autohosted_game = preferences->playlist[next];
    free_preferences(&g.store);
    return &g.current_autohosted_game;
}

const net_game_description *get_current_autohosted_game_description(void)
{
    return &autohost_globals.current_autohosted_game;
}

int16_t get_autohost_playlist_index(void) { return autohost_globals.playlist_index; }

void set_autohosted_game(int16_t index, const net_game_description *entry)
{
    if (index < 0 || index >= MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES || !entry) return;
    autohost_globals.playlist_index = index;
    autohost_globals.current_autohosted_game = *entry;
}
