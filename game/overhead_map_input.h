#pragma once
// Input on the overhead map: moving the camera, clicks for the selection, zoom and sketches.
//
// Every input action passes through action_for_overhead_map while the map is
// built: a left press on the map moves the camera there, a right click (or an
// option-click) records a world point for the selection, shift-drag zooms
// (hardware renderer only) and shift-right-click resets the zoom; in sketch
// mode the left button draws lines that go to team-mates as sketch commands.
//
// Sketch command (verb 13): the 4-byte record `command_sketch_data` (u16
// flags, u16 pad, big-endian), then an array of at most 20 `sketch_point2d`
// (a 2-byte count, then two bytes per point).  Films and peers carry it, so
// its layout never changes.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "overhead_map.h"

struct action_data;
struct command_header;

enum command_sketch_flags
{
    _command_sketch_start_flag = 1, // the sender entered sketch mode
    _command_sketch_erase_flag = 2, // the sender erased
};

struct command_sketch_data
{
    uint16_t flags; // command_sketch_flags
    uint16_t pad;
};
static_assert(sizeof(command_sketch_data) == 4);
static_assert(offsetof(command_sketch_data, flags) == 0);
static_assert(offsetof(command_sketch_data, pad) == 2);
extern const byte_swap_code command_sketch_data_byte_swapping_data[];

// The core's action consumer _action_overhead_map: true when the map used the
// action and the selection and camera must not see it.
bool action_for_overhead_map(action_data *action);

// Sets the scale (hardware renderer only, once the map is built) and stores
// it in the game preferences relative to the default scale.
void zoom_overhead_map(float scale);
// The saved zoom applied again (the screen's resolution changed).
void rezoom_overhead_map(void);
// The default scale: a 154-pixel map on a 1024 x 768 screen.
float overhead_map_default_scale(void);

// The world point clicked by the last action when it was such a click, else null.
const world_point2d *get_overhead_map_click_location(void);

// Screen point to picture pixel and to world point (truncating toward zero).
point2d overhead_map_screen_to_picture(const point2d *screen);
world_point2d overhead_map_screen_to_world(const point2d *screen);

// The status bar's sketch and eraser buttons; erase_sketch_points(false) also
// for a team-mate's erase command.
void change_sketch_mode(bool sketching);
void erase_sketch_points(bool forward);
// A team-mate's sketch points (command execution): `count` is clamped to
// 0..MAXIMUM_POINTS_PER_SKETCH_COMMAND; the oldest visible points make room.
void submit_sketch_points_to_overhead_map(int32_t player_index, int32_t count, const sketch_point2d *points);
// Sends the queued points as one command (see overhead_map_input.cpp).
void issue_sketch_command(bool end_of_line, uint16_t flags);

// Encodes a sketch command and queues it outgoing: `count` (0..20) points.
// False (logged) for a count out of range or a full ring.
bool queue_sketch_command(const command_sketch_data *data, int32_t count, const sketch_point2d *points);
// Reads a sketch command (header in host order, fields big-endian, decoded in
// place).  False, with nothing stored, for a command that is not verb 13, is
// truncated or holds more than 20 points.  Points with a coordinate beyond the
// picture are clamped to its last sketch unit.
bool decode_sketch_command(command_header *command, command_sketch_data *data, int32_t *count,
                           sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND]);
// The executor's procedure for verb 13: a team-mate's sketch reaches the map.
bool execute_sketch_command(command_header *command);
