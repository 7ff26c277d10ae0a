#pragma once
// The game preferences record "game 2": the player's game settings, the last
// new-game choices and the single-player levels reached.  Stored as a
// preferences record (a local 'pref' tag), big-endian, 1720 bytes.
//
// A missing record gives the defaults; a damaged one is repaired field by
// field by verify_game_preferences (a gameplay selector that names no known
// version falls back to the default rules; the game parameters are repaired
// as game_records.h says).

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "game_records.h"

#define GAME_PREFERENCES_NAME "game 2"

enum
{
    GAME_PREFERENCES_VERSION = 1,
    MAXIMUM_VISITED_SOLO_LEVELS = 64,
    NO_BLOOD_PASSWORD_SIZE = 64,
    DEFAULT_ZOOM_FACTOR = 0x10000, // 1.0 in 16.16
};

enum game_preferences_flag_bits
{
    _game_pref_censored_flag = 1u << 0,
    _game_pref_show_subtitles_flag = 1u << 2,
    _game_pref_status_bar_visible_flag = 1u << 4,
    _game_pref_control_bar_visible_flag = 1u << 5,
    _game_pref_show_contesting_radius_flag = 1u << 6,
    _game_pref_show_mission_objectives_dialog_flag = 1u << 8,
    _game_pref_use_transparency_bit = 9,
    _game_pref_use_transparency_flag = 1u << 9,
    _game_pref_vux_facing_arrows_flag = 1u << 10,
    _game_pref_no_persistent_formations_flag = 1u << 11,
    _game_pref_use_persistent_ready_flag = 1u << 13,
    _game_pref_vux_selection_boxes_flag = 1u << 16,
    _game_pref_autosave_films_flag = 1u << 17,
    _game_pref_motion_interpolation_flag = 1u << 19,
    _game_pref_show_full_vets_flag = 1u << 20,
    _game_pref_alphabetical_mapset_sorting_flag = 1u << 21,
    _game_pref_show_player_latencies_flag = 1u << 22,
    _game_pref_alternate_metaserver_ui_flag = 1u << 23,
};

struct visited_solo_level
{
    tag mesh_tag;
    int16_t plugin_index; // NONE: the level is not in a plug-in
    int16_t unused;
};
static_assert(sizeof(visited_solo_level) == 8);

struct game_preferences
{
    uint32_t flags;                                  // game_preferences_flag_bits
    int32_t zoom_factor;                             // camera zoom, 16.16
    float overhead_map_scale_relative_to_default;    // > 0
    int16_t current_tip_index;
    int16_t visited_level_count;                     // 0..64
    int32_t solo_gameplay_selector_value;
    int32_t multi_gameplay_selector_value;
    uint32_t chosen_solo_mapset_checksum;
    uint32_t chosen_multi_mapset_checksum;
    char no_blood_password[NO_BLOOD_PASSWORD_SIZE];  // terminated
    new_game_parameter_data solo_new_game_params;
    new_game_parameter_data multi_new_game_params;
    visited_solo_level visited_levels[MAXIMUM_VISITED_SOLO_LEVELS]; // oldest first
};
static_assert(sizeof(game_preferences) == 1720);
static_assert(offsetof(game_preferences, overhead_map_scale_relative_to_default) == 8);
static_assert(offsetof(game_preferences, no_blood_password) == 32);
static_assert(offsetof(game_preferences, solo_new_game_params) == 96);
static_assert(offsetof(game_preferences, multi_new_game_params) == 652);
static_assert(offsetof(game_preferences, visited_levels) == 1208);

extern const byte_swap_code game_preferences_byte_swapping_data[];

// The default and verify procedures of the record (for the preferences store).
// verify repairs in place and always keeps the record (true).
void default_game_preferences(void *record);
bool verify_game_preferences(void *record);

// Loads the record: the defaults, then, `from_store`, the stored record of
// the preferences store (the 'pref' local tag named "game 2", read once the
// tag files are open) when there is one.  The game core's start-up step
// loads from the store; without it (tests) the record lives in memory only.
// Always true (a missing or refused record leaves the defaults, logged).
bool initialize_game_preferences(bool from_store);

// The record in memory; callers may change it and then write it.
game_preferences *get_game_preferences(void);

// Stores the record.  False when it was not loaded from the store, or the
// write failed.
bool write_game_preferences(void);

// Whether the player has reached the level.
bool solo_level_visited(tag mesh_tag, int16_t plugin_index);

// Records a level as reached (once); when the list is full the oldest entry
// makes room.  The caller writes the preferences when it wants them kept.
void mark_solo_level_as_visited(tag mesh_tag, int16_t plugin_index);
