#pragma once
// Unit creation and death: units placed from markers or made at a point,
// killed with their death type, their drops and their respawn.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct damage_data;
struct damage_definition;
struct marker_data;

// The unit placed at the marker, or NONE; always writes the marker's
// data_index (the result).
int32_t new_monster(marker_data *marker);

// A unit of the parent unit tag's type made at the location for the player,
// with the flags and extra flags added; its index or NONE.
int32_t new_monster_at_location(tag parent_unit_tag, const world_location3d *location, int16_t player_index,
                                uint32_t flags_to_add, uint32_t extra_flags_to_add);

// Kills the unit (damage definition and record may be null).
void kill_monster(int32_t monster_index, const damage_definition *definition, const damage_data *data,
                  int16_t death_type);
