#pragma once
// Platoon movement ('plmo', 'plsc'): platoons marching along interpolated waypoints and scouting.

#include <cstdint>

uint32_t platoon_movement_action_proc(int32_t action_index);
