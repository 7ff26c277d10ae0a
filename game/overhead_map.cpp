// The overhead map: the battlefield's picture, blips, flags, sketches and the camera.
#include "overhead_map.h"

static overhead_map_globals overhead;

void set_overhead_map_visibility(bool) {}
bool get_overhead_map_state(void) { return overhead.initialized && overhead.state == _overhead_map_open; }
bool overhead_map_initialized(void) { return overhead.initialized; }
void toggle_overhead_map_drawing_state(void) {}
overhead_map_globals *get_overhead_map_globals(void) { return &overhead; }
void register_overhead_map_hooks(void) {}
