#pragma once
// Stand-ins for the attack AI and the spatial groups (game/attack_ai.h,
// game/spatial_groups.h) until those modules are built: the same
// declarations, trivial bodies.  The scripts call only these names, so the
// stand-ins go once the real modules exist (include their headers instead).

#include <cstdint>

#include "world.h"

enum attack_ai_configuration_flags : uint32_t
{
    _attack_ai_no_focus_flag = 1,
};

struct attack_ai_configuration
{
    uint32_t flags;
    world_point2d focus;
    world_distance radius;
};

void initialize_attack_ai(void);
void initialize_attack_ai_for_new_map(void);
void dispose_attack_ai_from_old_map(void);
void new_attack_ai_configuration(attack_ai_configuration *configuration);
bool parse_attack_ai_configuration(attack_ai_configuration *configuration, int32_t action_index);
void attack_with_monster_indexes(const attack_ai_configuration *configuration, int32_t count, const int16_t *indexes);
void attack_with_all_monster_indexes(int16_t team_index);
void reset_attack_ai(void);
void update_attack_ai(void);

void initialize_spatial_groups(void);
void initialize_spatial_groups_for_new_map(void);
void dispose_spatial_groups_from_old_map(void);
void build_spatial_groups(void);
