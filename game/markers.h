#pragma once
// Markers: the places a map names for the things it starts with (units,
// scenery, models, model animations, projectiles, sound sources, local
// projectile groups, camera starts), each with a palette entry naming what is
// made there.  They are copied from the mesh tag when a map begins, kept per
// type in marker order, and placed in one fixed order (see
// place_markers_of_type) that depends only on the map and the game's
// difficulty, never on the machine or the frame rate.
//
// Behaviour by type is a table of procedures: the core fills the observer,
// scenery, model and model-animation rows; units, projectiles, sound sources
// and local projectile groups register theirs at start-up.

#include "cseries/cseries.h"
#include "mesh_format.h"
#include "world.h"

enum marker_flag_bits
{
    _marker_is_invisible_bit = 0, // held off the battlefield / silent / not yet made
    _marker_is_trade_reserve_bit = 1, // unit trading: no unit at the start; a captain may buy one
    _marker_detonates_immediately_bit = 2,
    _marker_is_invisible_observer_bit = 3,
    _marker_is_netgame_target_bit = 4,
    _marker_respawns_bit = 5,
    _marker_manual_respawn_bit = 6,
    _marker_remembers_location_bit = 7,
    _marker_uses_monster_entrance_bit = 8,
    _marker_is_kept_in_trading_bit = 9, // unit trading: its unit may not be traded away

    _marker_is_invisible_flag = FLAG(_marker_is_invisible_bit),
    _marker_detonates_immediately_flag = FLAG(_marker_detonates_immediately_bit),
    _marker_is_invisible_observer_flag = FLAG(_marker_is_invisible_observer_bit),
    _marker_is_netgame_target_flag = FLAG(_marker_is_netgame_target_bit),
    _marker_respawns_flag = FLAG(_marker_respawns_bit),
    _marker_manual_respawn_flag = FLAG(_marker_manual_respawn_bit),
    _marker_remembers_location_flag = FLAG(_marker_remembers_location_bit),
    _marker_uses_monster_entrance_flag = FLAG(_marker_uses_monster_entrance_bit),
    _marker_is_trade_reserve_flag = FLAG(_marker_is_trade_reserve_bit),
    _marker_is_kept_in_trading_flag = FLAG(_marker_is_kept_in_trading_bit),
};

enum marker_palette_flag_bits
{
    _marker_palette_uncontrollable_bit = 0,
    _marker_palette_may_use_veterans_bit = 2,
    _marker_palette_must_use_veterans_bit = 3,
    _marker_palette_ambient_life_bit = 4,
    _marker_palette_hunted_creature_bit = 5,
    _marker_palette_allows_trading_bit = 6, // unit trading: the entry's units may be traded

    _marker_palette_uncontrollable_flag = FLAG(_marker_palette_uncontrollable_bit),
    _marker_palette_may_use_veterans_flag = FLAG(_marker_palette_may_use_veterans_bit),
    _marker_palette_must_use_veterans_flag = FLAG(_marker_palette_must_use_veterans_bit),
    _marker_palette_ambient_life_flag = FLAG(_marker_palette_ambient_life_bit),
    _marker_palette_hunted_creature_flag = FLAG(_marker_palette_hunted_creature_bit),
    _marker_palette_allows_trading_flag = FLAG(_marker_palette_allows_trading_bit),
};

struct marker_palette_entry
{
    int16_t type; // marker_type
    int16_t team_index;
    uint32_t flags; // marker_palette_flag_bits
    file_tag tag;
    int16_t player_index;
    int16_t tag_index; // the definition made from `tag`; NONE until resolved or when missing
    int16_t count; // things made from the entry
    int16_t resolved; // 0 not yet, 1 usable, -1 refused
};

struct marker_data
{
    int16_t type;
    int16_t palette_index; // among the entries of its type
    int16_t identifier;
    int16_t minimum_difficulty_level;
    uint32_t flags; // marker_flag_bits
    world_location3d location;
    int16_t player_index; // NONE: the palette entry's
    int16_t marker_index; // its index among the markers of its type
    int16_t data_index; // what was made from it; NONE when nothing (now)
    int16_t data_identifier;
};

// Resolves a palette entry's tag into `tag_index` (its definition).  False:
// the entry cannot be used and its markers are skipped (logged once).
typedef bool (*marker_palette_procedure)(marker_palette_entry *entry);
// Makes the thing of one marker; returns its index (the loop stores it in
// data_index and counts it in the palette entry) or NONE.  The procedure sets
// data_identifier.
typedef int32_t (*marker_placement_procedure)(marker_data *marker, marker_palette_entry *entry);

struct marker_type_procedures
{
    marker_palette_procedure new_palette_entry;
    marker_placement_procedure new_from_marker;
};

// Installs the procedures of a type (start-up), one owner per type.  Refused
// with an assertion, changing nothing: a type out of range, no procedures, a
// type another owner holds already.
bool register_marker_type_procedures(int16_t type, const marker_type_procedures *procedures);

bool initialize_markers(void);
// Copies the current mesh's palette and markers (the mesh must be loaded);
// entries and markers of unknown types or naming a palette entry that does
// not exist are dropped with a log line.  False when nothing could be copied.
bool initialize_markers_for_new_map(void);
void dispose_markers_from_old_map(void);

int32_t get_marker_count(int16_t type);
int32_t get_marker_palette_entry_count(int16_t type);
// Null for a type or index out of range.
marker_data *get_marker_by_index(int16_t type, int32_t marker_index);
// The marker of that type and identifier (the lowest index), or null.
marker_data *get_marker_by_identifier(int16_t type, int16_t identifier);
marker_palette_entry *get_marker_palette_entry(int16_t type, int32_t palette_index);
// Adds a palette entry of `type` (a copy of `entry`, count 0, unresolved);
// its index, or NONE when the type's palette is full.
int32_t new_marker_palette_entry(int16_t type, const marker_palette_entry *entry);

// Whether the entry's units take part under the current game's scoring:
// hunted creatures only in hunting games; everything else always.
bool palette_compatible_with_game_scoring(const marker_palette_entry *entry);

// Places every marker of `type` in marker order: markers whose palette entry
// cannot be resolved, or whose minimum difficulty exceeds the game's, are
// skipped; the others go to the type's procedure.  Entries are resolved in
// palette order just before.  Returns the number of things made.
int32_t place_markers_of_type(int16_t type);

// The order of placement: observers, models, model animations, scenery,
// projectiles, units, local projectile groups, sound sources, then any other
// type in type order.  `types` gets NUMBER_OF_MARKER_TYPES entries.
void get_marker_placement_order(int16_t *types);
// Places every type in that order; returns the things made.
int32_t place_all_markers(void);

// Installs the start-up, map and tick procedures of objects, models, scenery,
// markers, model animations and model effects into the game core's hooks.
// The whole object world begins with the map step "model animations" (after
// the mesh) and each placement step places its types.
void register_object_world_hooks(void);

// Whether markers of the type stand for local, per-machine records (sound
// sources, local projectile groups): the state hash leaves those out.
bool marker_type_is_local(int16_t type);

// Adds the synchronized markers and palette entries to the state hash.
void hash_markers(uint32_t *hash);
