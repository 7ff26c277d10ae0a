#pragma once
// Unit inventory, artifacts and effects: what a unit may pick up, carries,
// wields, throws and drops, and the effect modifiers it takes damage with.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct new_projectile_group_data;

// Pick-up flags for the unit and the object (index and identifier), 0 when it
// may not take it.
uint32_t monster_could_pick_up_object(int32_t monster_index, int32_t object_index, int16_t object_identifier);

// The wielded artifact expired: it leaves the held list.
void delete_monster_carried_object_monsters(int32_t monster_index);

// The 16 effect modifiers the unit takes damage with (8.8; 256 takes a damage
// as it comes).  The pointer stays valid until the definitions change.
const short_fixed *get_monster_effect_modifiers(int32_t monster_index, bool use_artifact,
                                                bool prefer_monster_override_effects,
                                                bool default_to_object_effect_modifiers);

// Drops the held object as the group describes; whether it was dropped.
bool drop_carried_object(int32_t monster_index, int32_t object_index, const new_projectile_group_data *data);
