#pragma once
// Connectors: drawn links between things.  Nothing in the game makes one yet,
// so the module keeps its place in the life cycle, the tick and the renderer
// with steps that do nothing.

struct view_data;

void initialize_connectors(void);
void initialize_connectors_for_new_map(void);
void dispose_connectors_from_old_map(void);
void update_connectors(void);
void build_connector_surface_list(view_data *view, void *region);
