#pragma once
// Effect procedures: particle systems ('part'), local projectile groups ('lpgr') and fades ('fade'); the last two are local.

#include <cstdint>

uint32_t particle_system_action_proc(int32_t action_index);
uint32_t local_projectile_group_action_proc(int32_t action_index);
uint32_t ingame_fade_action_proc(int32_t action_index);
