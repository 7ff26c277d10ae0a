// Unit movement: the moving action and the units' own mover.  See monster_movement.h.

#include "monster_movement.h"

#include "mesh.h"
#include "monsters.h"

void monster_moving(int32_t) {}

int32_t move_monster_object(int32_t) { return 0; }

world_distance get_height_for_new_position(const world_point2d *, bool, bool, int16_t, bool *) { return 0; }

void update_monster_location_height(int32_t) {}

int32_t monster_charge_speed_gain(int32_t, int8_t) { return 0; }

void install_monster_movement_procedures(void) {}

void register_monster_movement_hooks(void) {}
