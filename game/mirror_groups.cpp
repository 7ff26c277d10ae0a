// Mirror groups: no maker exists, so every step is empty.

#include "mirror_groups.h"

void initialize_mirror_groups(void) {}
void initialize_mirror_groups_for_new_map(void) {}
void dispose_mirror_groups_from_old_map(void) {}
void update_mirror_groups(void) {}
