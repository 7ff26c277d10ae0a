#pragma once
// The "networking" preferences record (the player's last network game, own
// player record, protocol and plug-in choice, so that the next visit to
// network play starts where the last one ended), the host's port from the
// power-user section "Net.Hosting", and the building and repairing of a
// listed game's description.
//
// The record is stored readable by its owner alone, and never with a
// password: the last game's password is cleared before the record is
// written, and a loaded description always has an empty one.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmap_dialogs/network_services.h" // net_game_description
#include "game_records.h"

#define NETWORKING_PREFERENCES_NAME "networking"
#define NET_HOSTING_SECTION_NAME "Net.Hosting"

enum
{
    NETWORKING_PREFERENCES_VERSION = 3,
    WELLKNOWN_VESK_PORT = 3453,
    NETWORKING_LAST_HOST_SIZE = 256,
    // The network strings ('inmn') of the default game name and of the
    // default team name pattern (one "%s": the player's name).
    _networking_string_default_game_name = 24,
    _networking_string_default_team_name = 25,
};

// The map of a fresh ordinary and a fresh cooperative game.
#define DEFAULT_NETWORK_GAME_SCENARIO FOUR_CHARACTER_CODE('8', '5', 'g', 'i')
#define DEFAULT_COOPERATIVE_GAME_SCENARIO FOUR_CHARACTER_CODE('l', '1', ' ', ' ')

// Stored big-endian, except the raw bytes the byte-swap description names
// (the description's player count, unused byte and seconds remaining, the
// player's lobby bytes), which are stored as they are in memory.
struct networking_preferences
{
    net_game_description game; // the last game; password always empty when stored
    new_player_data player; // the local player
    uint32_t protocol_type; // the protocol last used ('Inet')
    int16_t unused_short;
    int16_t plugin_count; // the plug-ins last chosen for a game
    uint8_t plugin_data[ENCODED_PLUGIN_DATA_SIZE]; // their encoded list
    char last_host[NETWORKING_LAST_HOST_SIZE]; // the last host's address, terminated
};
static_assert(sizeof(networking_preferences) == 1612);
static_assert(offsetof(networking_preferences, player) == 712);
static_assert(offsetof(networking_preferences, protocol_type) == 836);
static_assert(offsetof(networking_preferences, unused_short) == 840);
static_assert(offsetof(networking_preferences, plugin_count) == 842);
static_assert(offsetof(networking_preferences, plugin_data) == 844);
static_assert(offsetof(networking_preferences, last_host) == 1356);

extern const byte_swap_code networking_preferences_byte_swapping_data[];

struct net_hosting_preferences
{
    int32_t PortNumber; // the TCP port a host listens on; 1..65535
};

// The preferences store's default and verify procedures of the record
// (`data` is a networking_preferences).  Verification always succeeds: what
// is damaged is repaired.
void default_networking_preferences(void *data);
// A player renamed from `old_name`: a team name that is still the default one
// of the old name (or empty) becomes the default one of the new name; true
// when it changed.  A team name the player chose stays.
bool team_name_follows_player_name(char *team_name, size_t size, const char *old_name, const char *new_name);
bool verify_networking_preferences(void *data);

// The hosting settings: the section is read on the first call (a port other
// than 3453 is logged; a port outside 1..65535 is refused with a log line and
// 3453 used); later calls return what was read.
const net_hosting_preferences *get_net_hosting_prefs(void);
// Forgets the settings read, so the next call reads the section again (tests).
void forget_net_hosting_prefs(void);

// Fills `description` for a new game: name and password (at most 31
// characters each), the parameters, a fresh union, `port` and `flags` (the
// has-password bit follows the password), the map's display name from the
// parameters' plug-in list, `player_count`.
void build_net_game_description(net_game_description *description, const char *name, const char *password,
                                const new_game_parameter_data *parameters, uint16_t port, uint16_t flags,
                                uint8_t player_count);

// Repairs a description read from outside: names terminated; a network game;
// scoring, difficulty, damaged options and the plug-in list repaired (logged);
// the parameters brought to the current rules; a map not found in its plug-in
// list replaced by the default map of its kind (with `keep_unset_map`, a map
// of NONE stays); a list that does not decode against the installed plug-ins
// cleared.  Always true.
bool verify_net_game_description(net_game_description *description, bool keep_unset_map);

// True when the name holds at least one visible character (not a space).
bool valid_netgame_name(const char *name);

// Stores the given parts (any may be null): the description (its password is
// never stored), the player, the plug-in list and count of the game data's
// parameters, the protocol.  False when the record cannot be read or written.
bool save_netgame_preferences(const net_game_description *description, const new_player_data *player,
                              const new_game_data *game_data, const uint32_t *protocol);

// Reads the record and copies out the parts asked for (any may be null): the
// description with an empty password; the player; into the game data's
// parameters the stored plug-in list and count when the list decodes against
// the installed plug-ins, else an empty list; the protocol.  False when the
// record cannot be read.
bool load_netgame_preferences(net_game_description *description, new_player_data *player,
                              new_game_data *game_data, uint32_t *protocol);

// The address last typed to join a game: stored (cut to the field) or read
// back ("" when the record cannot be read).  False when it cannot be stored.
bool save_last_joined_host(const char *address);
void load_last_joined_host(char *address, size_t size);

// `pattern` (a text of the data) with its first "%s" replaced by `text` and
// "%%" read as "%"; any other directive is copied as it is, never formatted.
void format_networking_text(char *buffer, size_t size, const char *pattern, const char *text);
