#pragma once
// The geometry filter ('geom'): picks units and objects by area and team.

#include <cstdint>

uint32_t geometry_filter_action_proc(int32_t action_index);
