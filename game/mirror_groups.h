#pragma once
// Mirror groups: mirrored copies of things drawn on maps that can catch fire.
// Nothing in the game makes one yet, so the module keeps its place in the
// life cycle, the tick and the renderer with steps that do nothing.

struct view_data;

void initialize_mirror_groups(void);
void initialize_mirror_groups_for_new_map(void);
void dispose_mirror_groups_from_old_map(void);
void update_mirror_groups(void);
// The renderer calls it only on maps that can catch fire.
void build_mirror_groups_surface_list(view_data *view, void *region);
