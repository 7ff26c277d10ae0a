#pragma once
// Unit creation and death: units placed from markers or made at a point,
// killed with their death type, their drops and their respawn, and the
// removal of a beaten team's units.
//
// Simulation: everything here runs inside the tick and draws vesk_random
// only in the order docs/determinism.md ("Creation and death") writes down.
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct damage_data;
struct damage_definition;
struct marker_data;

// The unit placed at the marker, or NONE; always writes the marker's
// data_index (the result).  A marker whose unit is killed at once
// (detonates immediately) gives NONE, and that unit never respawns.
int32_t new_monster(marker_data *marker);

// A unit of the parent unit tag's type made at the location for the player,
// with the flags and extra flags added; its index or NONE (no definition for
// the player, a full array, or a unit that could not stand there and died at
// once).
int32_t new_monster_at_location(tag parent_unit_tag, const world_location3d *location, int16_t player_index,
                                uint32_t flags_to_add, uint32_t extra_flags_to_add);
// A projectile's promotion into a unit: new_monster_at_location with the
// projectile's origin named flag by flag.
int32_t new_monster_from_projectile(tag unit_tag, const world_location3d *location, int16_t player_index,
                                    bool ignores_user_commands, bool ambient_life, bool no_visibility);

// Kills the unit (damage definition and record may be null: without a
// record the death happens at the unit's object with velocity 10).  Nothing
// happens to a free slot's object, path or record.
void kill_monster(int32_t monster_index, const damage_definition *definition, const damage_data *data,
                  int16_t death_type);

// The projectile group of a death (NONE: none): soft takes the dying group,
// else the exploding one (and becomes hard); hard the exploding group, else
// the dying one; fire the burning group, else the dying one (both becoming
// soft).  `death_type_used` (may be null) gets the death it becomes.
struct monster_definition;
int16_t choose_death_projectile_group(const monster_definition *definition, int16_t death_type,
                                      int16_t *death_type_used);

// Disintegrates every unit of the team placed from a marker that is not
// ambient life; each such marker forgets its unit.
void eliminate_units_of_losing_team(int16_t team_index);

// ---- registration points (filled by the map scripts and the interface) ----------

// A new unit's ambient-life script is made, and a dying unit's script deleted
// (from gameplay version 1721), through the map actions' table
// (map_action_procedures.h); until it is registered no unit gets a script.

// Deletes the unit's script through the map actions' table (killing and
// removing a unit both do, from gameplay version 1721).
void delete_map_action_of_monster(int32_t monster_index);

// A dying unit's overhead text is deleted through the overhead text table
// (overhead_text_procedures.h): local only, it must not change the game.

// The unit marker row, promotion into units and the elimination of a team's
// units (game/subsystems.cpp).
void register_monster_life_hooks(void);
