#pragma once
// The records that describe a game and its players: filled by the new-game and
// host dialogs, carried in films, saved games, preferences and network packets.
// Each is a fixed-size record of fixed-width fields, stored big-endian and
// converted in place by its byte-swap description (the same call both ways).
//
// Anything read from outside may be wrong: verify_new_game_data repairs what
// can be repaired and refuses the rest before a game is started from it.

#include "game_limits.h"
#include "rgb_color.h"
#include "tag_files/plugins.h"
#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

enum
{
    NUMBER_OF_GAME_SCORING_TYPES = 16,
    ENCODED_PLUGIN_DATA_SIZE = 512,
    PLAYER_NAME_SIZE = 32,

    CURRENT_VERSION_IDENTIFIER = 2185, // this program's version, as players and games carry it
    CURRENT_BUILD_NUMBER = 443,
    DEFAULT_DIFFICULTY_LEVEL = 2,
    DEFAULT_GAME_SCORING = 2, // what a scoring out of range becomes
    MINIMUM_BUILD_NUMBER_OF_EMPTY_LIST = 32767,
};

enum game_type
{
    _game_type_replay = 0,    // a film (or a saved game being restored)
    _game_type_networked = 1,
    _game_type_local = 2,     // single player
    _game_type_demo = 3,      // the game behind the main menu
    NUMBER_OF_GAME_TYPES
};

enum game_scoring
{
    _game_scoring_cattle_drive = 10,
    _game_scoring_assassination = 11,
    _game_scoring_hunting = 12,
    _game_scoring_custom = 13,
};

enum game_option_bits
{
    _game_option_allow_multiplayer_teams_bit = 1,
    _game_option_limited_visibility_bit = 2,
    _game_option_allow_unit_trading_bit = 4,
    _game_option_allow_veterans_bit = 5,
    _game_option_continuation_bit = 6,
    _game_option_cooperative_bit = 7,
    _game_option_camera_tracking_initially_on_bit = 10,
    _game_option_netgame_cutscenes_bit = 11,
    _game_option_allow_alliances_bit = 13,
    _game_option_allow_overhead_map_bit = 14,
    _game_option_order_game_bit = 15,
    _game_option_server_is_observer_bit = 16,
    _game_option_deathmatch_bit = 20,
    _game_option_uses_vux_bit = 21,
    _game_option_uses_anticlump_bit = 22,
    _game_option_team_captain_chosen_bit = 23,
    _game_option_version_151_bit = 24,
    _game_option_patch_version_bit0_bit = 25,
    _game_option_patch_version_bit1_bit = 26,
    _game_option_version_modifier_bit = 27,
    _game_option_broken_record_bit = 31, // never set by this program: marks a damaged record

    _game_option_allow_multiplayer_teams_flag = 1u << 1,
    _game_option_limited_visibility_flag = 1u << 2,
    _game_option_allow_unit_trading_flag = 1u << 4,
    _game_option_allow_veterans_flag = 1u << 5,
    _game_option_continuation_flag = 1u << 6,
    _game_option_cooperative_flag = 1u << 7,
    _game_option_camera_tracking_initially_on_flag = 1u << 10,
    _game_option_netgame_cutscenes_flag = 1u << 11,
    _game_option_allow_alliances_flag = 1u << 13,
    _game_option_allow_overhead_map_flag = 1u << 14,
    _game_option_order_game_flag = 1u << 15,
    _game_option_server_is_observer_flag = 1u << 16,
    _game_option_deathmatch_flag = 1u << 20,
    _game_option_uses_vux_flag = 1u << 21,
    _game_option_uses_anticlump_flag = 1u << 22,
    _game_option_team_captain_chosen_flag = 1u << 23,
    _game_option_version_151_flag = 1u << 24,
    _game_option_patch_version_bit0_flag = 1u << 25,
    _game_option_patch_version_bit1_flag = 1u << 26,
    _game_option_version_modifier_flag = 1u << 27,
    _game_option_broken_record_flag = 1u << 31,

    // The options a damaged option word is replaced by; also the default options.
    DEFAULT_GAME_OPTION_FLAGS = _game_option_allow_overhead_map_flag | _game_option_allow_veterans_flag |
                                _game_option_allow_unit_trading_flag | _game_option_limited_visibility_flag,
    // The bits that name a gameplay version rather than a rule.
    GAMEPLAY_VERSION_OPTION_FLAGS = _game_option_patch_version_bit0_flag | _game_option_patch_version_bit1_flag |
                                    _game_option_version_151_flag | _game_option_version_modifier_flag,
};

// The parameters of a game.  556 bytes stored.  `unused` and `buildnum` are
// swapped as one 32-bit word, so that stored records carry `buildnum` in the
// first two bytes of the pair (as films and peers expect).
struct new_game_parameter_data
{
    int16_t type;                     // game_type
    int16_t scoring;                  // 0..15
    uint32_t option_flags;            // game_option_bits
    int32_t time_limit;               // ticks; NONE or 0: none
    tag scenario_tag;                 // the map's mesh tag
    int16_t difficulty_level;         // 0..4
    int16_t maximum_players;
    int16_t initial_team_random_seed;
    int16_t maximum_teams;            // NONE: unlimited
    uint32_t random_seed;
    int32_t pregame_time_limit;       // ticks; 0: none
    int16_t unused;
    int16_t buildnum;
    int32_t version;                  // low 16 bits: the version identifier (2151..2199)
    int16_t room_id;
    int16_t plugin_count;
    uint8_t plugin_data[ENCODED_PLUGIN_DATA_SIZE]; // the encoded plug-in list
};
static_assert(sizeof(new_game_parameter_data) == 556);
static_assert(offsetof(new_game_parameter_data, option_flags) == 4);
static_assert(offsetof(new_game_parameter_data, scenario_tag) == 12);
static_assert(offsetof(new_game_parameter_data, random_seed) == 24);
static_assert(offsetof(new_game_parameter_data, unused) == 32);
static_assert(offsetof(new_game_parameter_data, buildnum) == 34);
static_assert(offsetof(new_game_parameter_data, version) == 36);
static_assert(offsetof(new_game_parameter_data, plugin_count) == 42);
static_assert(offsetof(new_game_parameter_data, plugin_data) == 44);


// A player's look as shown to others.  84 bytes stored.
struct player_appearance_data
{
    int16_t coat_of_arms_bitmap_index;
    int16_t caste_bitmap_index;
    char name[PLAYER_NAME_SIZE];      // terminated
    char team_name[PLAYER_NAME_SIZE]; // terminated
    rgb_color primary_color;
    rgb_color secondary_color;
};
static_assert(sizeof(player_appearance_data) == 84);
static_assert(offsetof(player_appearance_data, name) == 4);
static_assert(offsetof(player_appearance_data, team_name) == 36);
static_assert(offsetof(player_appearance_data, primary_color) == 68);
static_assert(offsetof(player_appearance_data, secondary_color) == 76);

enum player_type
{
    _player_is_human = 0,
    _player_is_computer = 1,
};

enum new_player_flag_bits
{
    _player_uses_appearance_colors_flag = 1,
    _player_is_from_lobby_flag = 2,
    _player_has_been_dropped_flag = 4,
    _player_is_observer_flag = 64,
};

// A player in a game's set-up.  124 bytes stored; `metaserver_player`,
// `persistent_ready` and `data_tags` are stored as raw bytes.
struct new_player_data
{
    int16_t team_index;
    int16_t type;                     // player_type
    uint16_t flags;                   // new_player_flag_bits
    int16_t order;
    int32_t team_captain_identifier;
    int32_t unique_identifier;
    uint8_t agreed_to_play;
    uint8_t team_is_locked;
    uint8_t pad[2];
    int32_t metaserver_player_id;
    uint8_t metaserver_player;
    uint8_t persistent_ready;
    uint8_t data_tags[10];            // the data its program plays on (player_data_tags.h); 0s from older programs
    int16_t version;                  // version identifier, CURRENT_VERSION_IDENTIFIER for this program
    int16_t build_number;             // 443 for this program
    player_appearance_data appearance;
};
static_assert(sizeof(new_player_data) == 124);
static_assert(offsetof(new_player_data, team_captain_identifier) == 8);
static_assert(offsetof(new_player_data, agreed_to_play) == 16);
static_assert(offsetof(new_player_data, metaserver_player_id) == 20);
static_assert(offsetof(new_player_data, metaserver_player) == 24);
static_assert(offsetof(new_player_data, data_tags) == 26);
static_assert(offsetof(new_player_data, version) == 36);
static_assert(offsetof(new_player_data, appearance) == 40);

// A new game: its parameters and its players.  2556 bytes stored; the player
// records past `player_count` are zero.
struct new_game_data
{
    new_game_parameter_data parameters;
    int16_t player_count;
    int16_t local_player_index;       // NONE: no local player (films, observers)
    uint8_t reserved[12];
    new_player_data players[MAXIMUM_PLAYERS_PER_MAP];
};
static_assert(sizeof(new_game_data) == 2556);
static_assert(offsetof(new_game_data, player_count) == 556);
static_assert(offsetof(new_game_data, local_player_index) == 558);
static_assert(offsetof(new_game_data, players) == 572);

// The fields of new_game_parameter_data in a byte-swap description, for the
// records that embed it.
#define NEW_GAME_PARAMETER_FIELDS                                                                      \
    _2byte, _2byte, /* type, scoring */                                                                \
    _4byte, _4byte, _4byte, /* option_flags, time_limit, scenario_tag */                               \
    _2byte, _2byte, _2byte, _2byte, /* difficulty, maximum players, team seed, maximum teams */        \
    _4byte, _4byte, /* random_seed, pregame_time_limit */                                              \
    _4byte, /* unused and buildnum as one word: stored buildnum first */                               \
    _4byte, _2byte, _2byte, /* version, room_id, plugin_count */                                       \
    ENCODED_PLUGIN_DATA_SIZE

// The fields of new_player_data (and of its appearance) in a byte-swap
// description, for the records that embed a player.
#define PLAYER_APPEARANCE_FIELDS                                                                       \
    _2byte, _2byte, PLAYER_NAME_SIZE, PLAYER_NAME_SIZE, /* bitmaps, name, team name */                \
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte /* two colours */

#define NEW_PLAYER_FIELDS                                                                              \
    _2byte, _2byte, _2byte, _2byte, /* team, type, flags, order */                                     \
    _4byte, _4byte, /* captain, unique identifier */                                                   \
    4, /* agreed, locked, pad */                                                                       \
    _4byte, /* metaserver_player_id */                                                                 \
    12, /* metaserver_player, persistent_ready, data_tags: raw bytes */                                \
    _2byte, _2byte, /* version, build_number */                                                        \
    PLAYER_APPEARANCE_FIELDS

extern const byte_swap_code new_game_parameter_data_byte_swapping_data[];
extern const byte_swap_code new_player_data_byte_swapping_data[];
extern const byte_swap_code new_game_data_byte_swapping_data[];

// Convert one record in place between host and big-endian order.  Call once
// on a record read or about to be written; twice restores it.
void byte_swap_new_game_parameter_data(new_game_parameter_data *parameters);
void byte_swap_new_player_data(new_player_data *player);
void byte_swap_new_game_data(new_game_data *data);

// Repairs what a damaged parameter record may carry: a scoring above 15
// becomes 2, a difficulty outside 0..4 becomes 2, an option word with bit 31
// set becomes the default options, a plug-in count outside 0..64 becomes 0
// with the list cleared.  Returns the number of fields repaired (each logged).
int32_t repair_new_game_parameter_data(new_game_parameter_data *parameters);

// Checks a game's set-up before a game starts from it (films, saved games,
// packets): the parameters are repaired as above; names are terminated; player
// records past the count are cleared.  False (logged, record unusable) when
// the game type is unknown, the player count lies outside 0..16 or the local
// player index is neither NONE nor one of the players.
bool verify_new_game_data(new_game_data *data);

// The lowest `build_number` among the players of type human; 32767 for an
// empty list (or no human player), NONE when that lowest number is 0.
int32_t compute_minimum_build_number_from_player(const new_player_data *players, int32_t count);
// The same over the data's players (a count out of range counts as 0).
int32_t compute_minimum_build_number(const new_game_data *data);

// Fills `data` with the defaults of a game of `type` on `scenario_tag` under
// the default rules (1820): no players, local player NONE.  Films and the demo
// (types 0 and 3) never limit visibility.
void get_default_new_game_data(new_game_data *data, int16_t type, tag scenario_tag);
