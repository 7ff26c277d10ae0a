#pragma once
// Input on the overhead map: moving the camera, clicks for the selection, zoom and sketches.
//
// Every input action passes through action_for_overhead_map while the map is
// built: a left press on the map moves the camera there, a right click (or an
// option-click) records a world point for the selection, shift-drag zooms
// (hardware renderer only) and shift-right-click resets the zoom; in sketch
// mode the left button draws lines that go to team-mates as sketch commands.
// It presses the status bar's map button (the map key, a team-mate's sketch),
// so it comes after the status bar; the map's zoom, sketches and their
// command record live with the map (overhead_map.h).
//
// Main thread only.

#include "overhead_map.h"

struct action_data;
struct command_header;

// The core's action consumer _action_overhead_map: true when the map used the
// action and the selection and camera must not see it.
bool action_for_overhead_map(action_data *action);

// Screen point to picture pixel and to world point (truncating toward zero).
point2d overhead_map_screen_to_picture(const point2d *screen);
world_point2d overhead_map_screen_to_world(const point2d *screen);

// The executor's procedure for verb 13: a team-mate's sketch reaches the map
// (and opens it when the sketch starts).
bool execute_sketch_command(command_header *command);

// Registers the action consumer and the sketch verb's procedure (game/subsystems.cpp).
void register_overhead_map_input_hooks(void);
