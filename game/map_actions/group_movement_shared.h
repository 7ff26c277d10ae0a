#pragma once
// What the group movement procedures share (group_movement_action_procs.cpp
// defines them); for those procedures only.

#include <cstdint>

#include "map_actions.h"
#include "world.h"

struct command_movement_data;

// The used units that the identifiers of every `name` entry (links followed,
// at most `maximum` identifiers, at most MAXIMUM_GROUP_MOVEMENT_UNITS) name,
// in the entries' order; the number written.  `identifier_count`, when given,
// gets the number of identifiers read.
int32_t group_movement_named_units(int32_t action_index, field_tag name, int16_t *indexes, int32_t maximum,
                                   int32_t *identifier_count);
// The unit's object's x and y; false for a free slot or a unit without object.
bool group_movement_unit_location(int32_t monster_index, world_point2d *location);
// One movement command with the single waypoint `destination`.
void group_movement_order(int16_t internal_command_identifier, const command_movement_data *data, int32_t unit_count,
                          const int16_t *unit_indexes, world_point2d destination);
// origin + (cos × distance >> 14, sin × distance >> 14), the products in 64 bits.
world_point2d group_movement_point_at(world_point2d origin, angle facing, int32_t distance);
