#pragma once
// The host's game parameters dialog ('!ngp'): map, map set, plug-ins,
// difficulty, scoring, time limits, player and team limits, options, name
// and password of a network game, edited with a live preview.  The new-game
// dialog's engine runs its map, map set, plug-in, difficulty and gameplay
// version controls in network mode.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/double_arrow_control.h"

struct dialog_data;
struct net_game_description;
struct ngd_data;

#define NETGAME_PARAMETERS_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'n', 'g', 'p')
#define NETGAME_PARAMETERS_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 'n', 'g', 'p')

enum netgame_parameters_item
{
    _ngp_accept_item = 1,
    _ngp_cancel_item = 2,
    _ngp_cooperative_item = 3,
    _ngp_map_list_item = 4,
    _ngp_preview_item = 5,
    _ngp_tagset_button_item = 6,
    _ngp_vvux_item = 7,
    _ngp_anticlump_item = 8,
    _ngp_scoring_label_item = 9, // shown and hidden with the scoring list
    _ngp_scoring_list_item = 10,
    _ngp_name_item = 12,
    _ngp_password_item = 14,
    _ngp_difficulty_list_item = 16,
    _ngp_time_limit_label_item = 17,
    _ngp_maximum_players_item = 18,
    _ngp_players_label_item = 19,
    _ngp_time_limit_item = 20,
    _ngp_planning_checkbox_item = 21,
    _ngp_planning_time_item = 22,
    _ngp_unit_trading_item = 23,
    _ngp_gameplay_version_item = 24,
    _ngp_observer_item = 25,
    _ngp_overhead_map_item = 26,
    _ngp_veterans_item = 27,
    _ngp_alliances_item = 28,
    _ngp_teams_item = 29,
    _ngp_team_limit_checkbox_item = 30,
    _ngp_team_limit_item = 31,
    _ngp_deathmatch_item = 32,
    _ngp_cutscenes_item = 33,
    _ngp_mapset_list_item = 34,
    _ngp_mapset_filter_item = 35,
    _ngp_mapset_label_item = 36,
    _ngp_plugin_banner_item = 37,
    _ngp_tagset_list_item = 40,
    _ngp_difficulty_selector_item = 41,
    _ngp_difficulty_explanation_item = 42,
    _ngp_plugin_icon_item = 43,
};

enum
{
    NUMBER_OF_NETGAME_OPTION_CHECKBOXES = 8,
    NETGAME_NAME_MAXIMUM_LENGTH = 31,
    NETGAME_MAXIMUM_PLAYERS = 16,
    NETGAME_MAXIMUM_TEAMS = 16,
    NETGAME_NO_TIME_LIMIT = 0,                 // the time limit control's "No Limit"
    NETGAME_MINIMUM_TIME_LIMIT = 1800,         // ticks: one minute
    NETGAME_MINIMUM_RANKED_TIME_LIMIT = 10800, // six minutes
    NETGAME_MINIMUM_PLANNING_TIME = 450,
    NETGAME_MAXIMUM_PLANNING_TIME = 18000,
};

// One option check box and the option flag it sets.
struct netgame_option_checkbox
{
    int16_t item;
    uint32_t flag;
};
extern const netgame_option_checkbox game_options[NUMBER_OF_NETGAME_OPTION_CHECKBOXES];
extern const double_arrow_delta planning_time_double_arrow_deltas[3];
extern const double_arrow_delta time_limit_double_arrow_deltas[5];

// True when the player accepted: `description` then holds the new game;
// false when cancelled (it is left as it was).  `called_from` goes to the
// engine with every item hit; with `use_prefs` the parameters start from the
// player's saved multiplayer settings and are saved back there on accept.
// `continuation` has no effect.
bool netgame_parameters_dialog(net_game_description *description, int16_t called_from, bool continuation,
                               bool use_prefs);
// The same for an entry of the automatic host's playlist: the host observes,
// so the observer option is set and cannot be changed.
bool autohost_entry_parameters_dialog(net_game_description *description, int16_t called_from);

// The scoring types the map offers: its entry-point flags, where bit n offers
// type n; in a ranked room bit 20 is taken out; the hill (9) brings the
// single hill (14), territories (7) the whole map (15).
uint32_t netgame_scoring_mask(uint32_t entry_point_flags, bool ranked);

// The enabling rules of the cooperative check box (the working description
// says whether the game is cooperative), and of the selected map (the
// scoring types it offers, unit trading, veterans, its team count).
void sync_dialog_with_cooperative_checkbox(dialog_data *dialog, net_game_description *description);
void setup_dialog_for_current_map(dialog_data *dialog);

// Reads every control into `description` (the working copy, whose
// parameters the engine edits) and builds `preview` from it, shown by the
// preview item.
void rebuild_game_description(ngd_data *ngd, net_game_description *description, net_game_description *preview);

// The most players a game of `option_flags` takes on a map of `team_count`
// teams (0: unknown): without teams of many players each player is a side,
// so no more than the map's; a cooperative game puts everybody on one.  What
// the lobby lists and the settings offer.
int16_t netgame_players_on_map(uint32_t option_flags, int16_t team_count);
