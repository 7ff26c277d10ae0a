// Input on the overhead map: moving the camera, clicks for the selection, zoom and sketches.
#include "overhead_map_input.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bitmaps.h"
#include "camera_control.h"
#include "commands.h"
#include "console/console.h"
#include "cseries/log.h"
#include "game_records.h"
#include "game_hooks.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "observer.h"
#include "players.h"
#include "mesh.h"
#include "screen.h"
#include "status_bar.h"
#include "unit_commands.h"

static bool map_input_on_hardware(void) { return active_screen.rasterizer_code != _rasterizer_software; }
static int32_t map_input_local_time(void) { return game_->local_time.load(); }

// ---- positions ----------------------------------------------------------------------------------

point2d overhead_map_screen_to_picture(const point2d *screen)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    const float scale = overhead->scale > 0 ? overhead->scale : 1.0f;
    return {(int16_t)((screen->x - overhead->bounds.left) / scale), (int16_t)((screen->y - overhead->bounds.top) / scale)};
}

world_point2d overhead_map_screen_to_world(const point2d *screen)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    const int64_t ox = (int64_t)(overhead->offset.x * overhead->scale);
    const int64_t oy = (int64_t)(overhead->offset.y * overhead->scale);
    const int64_t world_width = (int64_t)mesh_width * 512, world_height = (int64_t)mesh_height * 512;
    const int64_t display_width = std::max<int64_t>(overhead->display_width, 1);
    const int64_t display_height = std::max<int64_t>(overhead->display_height, 1);
    world_point2d p;
    p.x = (int32_t)(world_width + ((overhead->bounds.left - screen->x - ox) * world_width) / display_width - 1);
    p.y = (int32_t)(((screen->y - overhead->bounds.top + oy) * world_height) / display_height);
    return p;
}

static bool pointer_inside_bounds(const point2d *p)
{
    const rectangle2d &b = get_overhead_map_globals()->bounds;
    return p->x >= b.left && p->x < b.right && p->y >= b.top && p->y < b.bottom;
}

// On the map: inside the bounds and, with limited visibility, on an explored
// (non-transparent) pixel of the working bitmap.
static bool pointer_on_map(const point2d *p)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    if (!pointer_inside_bounds(p)) return false;
    if (!overhead->limited_terrain_visibility) return true;
    const bitmap_data *bitmap = overhead->bitmap;
    const point2d pixel = overhead_map_screen_to_picture(p);
    if (!bitmap || pixel.x < 0 || pixel.y < 0 || pixel.x >= bitmap->width || pixel.y >= bitmap->height) return false;
    return bitmap->row_addresses[pixel.y][pixel.x] != 0;
}

// ---- sketches of team-mates --------------------------------------------------------------

bool execute_sketch_command(command_header *command)
{
    command_sketch_data data;
    int32_t count = 0;
    sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
    if (!decode_sketch_command(command, &data, &count, points)) return false;
    const int32_t player_index = command->player_index;
    const player_data *player = player_index >= 0 && player_index < get_player_count() ? get_player_data(player_index)
                                                                                      : nullptr;
    const bool show_all = game_->type == _game_type_replay && (game_->option_flags & _game_option_cooperative_flag);
    if (!show_all)
    {
        if (player_index == local_player_index) return true;
        if (local_player_team_index != NONE && (!player || player->team_index != local_player_team_index)) return true;
    }
    if (!get_overhead_map_globals()->initialized) return true;
    submit_sketch_points_to_overhead_map(player_index, count, points);
    if (data.flags & _command_sketch_start_flag) push_overhead_map_button(1);
    if (data.flags & _command_sketch_erase_flag) erase_sketch_points(false);
    return true;
}

// ---- the action ------------------------------------------------------------------------------------

// The sketch point under the pointer, in picture pixels over the granularity.
static bool sketch_point_at(const point2d *pointer, sketch_point2d *point)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    const int32_t px = pointer->x - overhead->bounds.left, py = pointer->y - overhead->bounds.top;
    if (px < 0 || py < 0 || px >= overhead->display_width || py >= overhead->display_height) return false;
    const float scale = overhead->scale > 0 ? overhead->scale : 1.0f;
    const int32_t x = (int32_t)(px / scale) + overhead->offset.x, y = (int32_t)(py / scale) + overhead->offset.y;
    point->x = (uint8_t)std::clamp(x / std::max<int32_t>(overhead->sketch_point_granularity_x, 1), 0, 255);
    point->y = (uint8_t)std::clamp(y / std::max<int32_t>(overhead->sketch_point_granularity_y, 1), 0, 255);
    return true;
}

static bool take_sketch_point(const action_data *action)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    if (!test_action_flag(action, _left_mouse_down_bit)) return false;
    sketch_point2d point;
    if (!sketch_point_at(&action->pointer, &point)) return false;
    const int32_t now = map_input_local_time();
    if (overhead->queued_sketch_point_count > 0)
    {
        const sketch_point2d last = overhead->queued_sketch_points[overhead->queued_sketch_point_count - 1];
        const int32_t dx = point.x - last.x, dy = point.y - last.y;
        const int32_t distance = (int32_t)std::sqrt((double)(dx * dx + dy * dy));
        if (distance < 11 && (distance < 3 || now == overhead->last_sketch_point_time)) return true;
    }
    overhead->last_sketch_point_time = now;
    overhead->queued_sketch_points[overhead->queued_sketch_point_count++] = point;
    add_visible_sketch_points(1, &point);
    mark_overhead_map_changed();
    if (overhead->queued_sketch_point_count > MAXIMUM_QUEUED_SKETCH_POINTS - 1) issue_sketch_command(false, 0);
    return true;
}

static bool act_on_press(const action_data *action)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    if (overhead->sketching) return take_sketch_point(action);
    const world_point2d location = overhead_map_screen_to_world(&action->pointer);
    const bool option = test_action_flag(action, _option_down_bit);
    if ((test_action_flag(action, _left_mouse_click_bit) && option) || test_action_flag(action, _right_mouse_click_bit))
    {
        overhead->valid_map_click_location = true;
        overhead->map_click_location = location;
        return true;
    }
    // A click takes the camera back from the tracking of an object (the
    // player's own choice, made with a key); only a script keeps it.
    const int16_t control = get_camera_control_flags();
    if (test_action_flag(action, _left_mouse_down_bit) && !option &&
        !(control & ~(int16_t)_camera_controlled_by_object_tracking_flag))
    {
        if (control) set_camera_control_flags(0);
        world_location3d camera;
        get_observer_location(&camera);
        camera.position.x = location.x;
        camera.position.y = location.y;
        set_observer_location(&camera);
        return true;
    }
    return false;
}

bool action_for_overhead_map(action_data *action)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    if (!overhead->initialized || !action) return false;
    bool used = false;
    overhead->valid_map_click_location = false;

    if (test_action_flag(action, _toggle_overhead_map_bit) && get_console_input_state() != 1 &&
        !test_action_flag(action, _command_down_bit))
        push_overhead_map_button(0);

    if (overhead->state != _overhead_map_closed && overhead->state != _overhead_map_closing)
    {
        const bool left_down = test_action_flag(action, _left_mouse_down_bit);
        const bool right_down = test_action_flag(action, _right_mouse_down_bit);
        const bool left_click = test_action_flag(action, _left_mouse_click_bit);
        if (!overhead->dragging && test_action_flag(action, _shift_down_bit) &&
            !test_action_flag(action, _option_down_bit) && pointer_inside_bounds(&action->pointer) &&
            (!overhead->limited_terrain_visibility || pointer_on_map(&action->pointer)))
        {
            overhead->drag_origin = overhead_map_screen_to_picture(&action->pointer);
            overhead->drag_original_bounds = overhead->bounds;
            if (right_down || (left_down && left_click && test_action_flag(action, _control_down_bit)))
            {
                zoom_overhead_map(overhead_map_default_scale());
                used = true;
            }
            else if (left_down && left_click)
            {
                overhead->dragging = true;
            }
        }
        if (!overhead->dragging && !used)
        {
            if (!left_down && !right_down)
            {
                overhead->mouse_state = 0;
                if (overhead->queued_sketch_point_count > 0) issue_sketch_command(true, 0);
            }
            else
            {
                const bool on_map = pointer_on_map(&action->pointer);
                bool acts;
                if (overhead->mouse_state == 0)
                {
                    overhead->mouse_state = on_map ? 2 : 1;
                    acts = on_map;
                }
                else
                    acts = overhead->mouse_state == 2 && on_map;
                if (acts) used = act_on_press(action);
            }
        }
        if (overhead->dragging)
        {
            if (!left_down)
                overhead->dragging = false;
            else if (map_input_on_hardware())
            {
                const int32_t dy = action->pointer.y - overhead->drag_original_bounds.top;
                if (dy >= 0 && overhead->drag_origin.y >= 0 && action->pointer.x - overhead->drag_original_bounds.left >= 0)
                    zoom_overhead_map(((float)dy + 0.5f) / ((float)overhead->drag_origin.y + 0.5f));
            }
            used = true;
        }
    }
    advance_overhead_map_fade(action->time_delta);
    return used;
}

// ---- registration ---------------------------------------------------------------------------------------

void register_overhead_map_input_hooks(void)
{
    register_action_procedure(_action_overhead_map, action_for_overhead_map);
    // Sketches of team-mates, from the network and from films.
    register_command_verb_procedure(_command_sketch, execute_sketch_command);
    register_command_verb_reader_procedure(_command_sketch, read_sketch_command);
}
