// Stand-ins for the attack AI and the spatial groups: see the header.

#include "attack_ai_placeholder.h"

void initialize_attack_ai(void) {}
void initialize_attack_ai_for_new_map(void) {}
void dispose_attack_ai_from_old_map(void) {}

void new_attack_ai_configuration(attack_ai_configuration *configuration)
{
    if (!configuration) return;
    configuration->flags = _attack_ai_no_focus_flag;
    configuration->focus = {0, 0};
    configuration->radius = 0;
}

bool parse_attack_ai_configuration(attack_ai_configuration *configuration, int32_t)
{
    new_attack_ai_configuration(configuration);
    return true;
}

void attack_with_monster_indexes(const attack_ai_configuration *, int32_t, const int16_t *) {}
void attack_with_all_monster_indexes(int16_t) {}
void reset_attack_ai(void) {}
void update_attack_ai(void) {}

void initialize_spatial_groups(void) {}
void initialize_spatial_groups_for_new_map(void) {}
void dispose_spatial_groups_from_old_map(void) {}
void build_spatial_groups(void) {}
