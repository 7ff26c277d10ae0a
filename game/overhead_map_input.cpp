// Input on the overhead map: moving the camera, clicks for the selection, zoom and sketches.
#include "overhead_map_input.h"

bool action_for_overhead_map(action_data *) { return false; }
const world_point2d *get_overhead_map_click_location(void) { return nullptr; }
void change_sketch_mode(bool) {}
void erase_sketch_points(bool) {}
void submit_sketch_points_to_overhead_map(int32_t, int32_t, const sketch_point2d *) {}
