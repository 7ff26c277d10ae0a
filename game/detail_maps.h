#pragma once
// Detail maps ('dmap').

// Joins detail maps to the map's life.
void register_detail_map_hooks(void);
