// Orders from the selection: each action record's pass through the selection
// (update_selection), the release that sends a movement or facing order, the
// idle keys, the console's finished lines, the keys acting on the whole
// selection, rotation, formations and detaching.  Works on the selection's
// record (selection.cpp).

#include "selection_orders.h"

#include <cstring>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "console_procedures.h"
#include "formations.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "input/input_definitions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_inventory.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "monster_queries.h"
#include "monsters.h"
#include "objects.h"
#include "observer.h"
#include "players.h"
#include "selection_interface.h"
#include "selection_shared.h"
#include "session_state.h"
#include "vesk/string_lists.h"

// ---- what only the orders ask of later subsystems ----------------------------------------

// (Through the selection's table, selection.h.)

// ---- shared with selection.cpp -----------------------------------------------------------

static selection_globals_ &shared_selection = *get_mutable_selection_globals();

// ---- orders from the selection ---------------------------------------------------------

static void reference_point(const monster_data *m, world_point2d *at)
{
    const object_data *object = get_object(m->object_index);
    if (m->waypoint_count > 0 && m->waypoint_count <= MAXIMUM_WAYPOINTS_PER_MONSTER) *at = m->waypoints[m->waypoint_count - 1];
    else if (object) *at = {object->location.position.x, object->location.position.y};
}

static void draw_destination_markers(const command_movement_data *data, bool preview)
{
    const selection_data *s = &shared_selection.current_selection;
    const int32_t n = shared_selection.waypoint_count;
    if (n <= 0 || s->count <= 0) return;
    static world_point2d destinations[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS * MAXIMUM_SELECTION_WAYPOINTS];
    build_movement_command_destinations(data, local_player_index, s->monster_indexes, s->count,
                                        shared_selection.waypoints, n, destinations);
    for (int32_t u = 0; u < s->count; ++u)
    {
        const monster_data *m = get_monster_data(s->monster_indexes[u]);
        if (!m) continue;
        for (int32_t w = 0; w < n; ++w)
        {
            const world_point2d *at = &destinations[u * n + w];
            const int32_t terrain = get_mesh_terrain_type(at);
            const bool impassable = terrain >= 0 && terrain < 16 && (m->terrain_impassability_flags & (1u << terrain));
            const int16_t sequence = impassable ? _interface_sequence_impassable_destination_marker
                                     : (!preview && w == n - 1) ? _interface_sequence_destination_marker
                                                                : _interface_sequence_waypoint_marker;
            new_selection_local_sprite(at, sequence);
        }
    }
}

// The formation a ground order carries: the one all local commandable units
// share, else the default one when the group is spread out.
static void choose_formation(command_movement_data *data)
{
    const selection_data *s = &shared_selection.current_selection;
    int32_t counts[10] = {}, total = 0;
    for (int32_t i = 0; i < s->count; ++i)
    {
        const monster_data *m = get_monster_data(s->monster_indexes[i]);
        if (!m || m->owner_team_index != local_player_team_index ||
            !(evaluate_monster_for_selection_purposes(s->monster_indexes[i]) & _monster_is_commandable_evaluation_flag))
            continue;
        ++total;
        if (m->formation_index >= 0 && m->formation_index < 10) ++counts[m->formation_index];
    }
    for (int32_t f = 0; f < 10; ++f)
        if (counts[f] == total)
        {
            data->flags |= _command_movement_formation_flag;
            data->formation_index = (int16_t)f;
            if (total > 0 || f == 9) return;
        }
    const int32_t cap = current_gameplay_version < 1301 ? 30 : MAXIMUM_NUMBER_OF_SELECTED_MONSTERS;
    int16_t gathered[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    bool taken[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS] = {};
    int32_t count = 0;
    if (s->count > 0) gathered[count++] = s->monster_indexes[0], taken[0] = true;
    for (int32_t next = 0; next < count && count < cap; ++next)
    {
        const object_data *a = get_selection_unit_object(gathered[next]);
        if (!a) continue;
        for (int32_t i = 0; i < s->count && count < cap; ++i)
        {
            const object_data *b = get_selection_unit_object(s->monster_indexes[i]);
            if (taken[i] || !b) continue;
            const int64_t dx = a->location.position.x - b->location.position.x;
            const int64_t dy = a->location.position.y - b->location.position.y;
            if (dx * dx + dy * dy < (int64_t)MAXIMUM_SEPARATION_BEFORE_REFORMING * MAXIMUM_SEPARATION_BEFORE_REFORMING)
                gathered[count++] = s->monster_indexes[i], taken[i] = true;
        }
    }
    data->flags &= ~(uint16_t)_command_movement_formation_flag;
    data->formation_index = 0;
    if (count < s->count && get_default_formation_index() != NONE)
    {
        data->flags |= _command_movement_formation_flag;
        data->formation_index = get_default_formation_index();
    }
}

static void send_movement(command_movement_data *data)
{
    const selection_data *s = &shared_selection.current_selection;
    handle_movement_command(NONE, data, s->count, s->monster_indexes, shared_selection.waypoint_count,
                            shared_selection.waypoints);
    draw_destination_markers(data, false);
    remove_selection_local_sprites(false);
    play_monsters_sound(s->monster_indexes, s->count, 3);
    shared_selection.waypoint_count = 0;
    finish_selection_order();
}

static void ground_order(world_point2d point, uint16_t flags, angle facing, bool collect)
{
    command_movement_data data = {flags, 0, facing, 0};
    int32_t near = -1;
    for (int32_t i = 0; i < shared_selection.waypoint_count && near < 0; ++i)
        if (distance2d(&point, &shared_selection.waypoints[i]) < MINIMUM_WAYPOINT_SEPARATION) near = i;
    bool send = true;
    if (near >= 0)
    {
        data.flags |= _command_movement_loop_flag;
        if (near > 0) data.flags |= _command_movement_loop_back_and_forth_flag;
    }
    else
    {
        if (shared_selection.waypoint_count < MAXIMUM_SELECTION_WAYPOINTS)
            shared_selection.waypoints[shared_selection.waypoint_count++] = point;
        send = !collect;
    }
    choose_formation(&data);
    if (!send)
    {
        remove_selection_local_sprites(true);
        draw_destination_markers(&data, true);
        return;
    }
    send_movement(&data);
}

static void release(void)
{
    const int16_t state = shared_selection.state;
    // A consumed press (locked) ends with its release too, or no press would
    // ever be taken again.
    if (state == _selection_locked) shared_selection.state = _selection_idle;
    if (state < _selection_possible_gesture || state > _selection_band) return;
    const action_data *press = &shared_selection.original_action;
    const pick_state *picked = &shared_selection.original_pick;
    if ((state == _selection_possible_gesture || state == _selection_possible_band) &&
        shared_selection.sloppy_monster_index != NONE && !shared_selection.suppress_selection)
    {
        handle_single_friendly_monster_click(shared_selection.sloppy_monster_index);
        shared_selection.double_click_mode = _selection_double_click_select_like_units;
        shared_selection.old_selected_monster_index = shared_selection.sloppy_monster_index;
    }
    else if (state != _selection_band && selection_is_usable())
    {
        const bool gesture = state == _selection_gesture;
        angle facing = 0;
        if (gesture)
        {
            // The facing from the press point to where the pointer is now.
            pick_state end;
            new_pick_by_point_state(&end, shared_selection.last_action.pointer, _pick_triangle_flags);
            world_point2d start = picked->mesh_location;
            if (picked->return_flags == _pick_objects_flag)
            {
                const object_data *o = get_object(picked->object_index);
                if (o) start = {o->location.position.x, o->location.position.y};
            }
            const uint32_t r = pick(&end);
            if (r == _pick_mesh_triangles_flag) facing = arctangent(end.mesh_location.x - start.x, end.mesh_location.y - start.y);
            else if (r == _pick_model_triangles_flag)
                facing = arctangent(end.model_location.x - start.x, end.model_location.y - start.y);
        }
        const uint16_t gesture_flags = gesture ? _command_movement_final_facing_flag : 0;
        switch (picked->return_flags)
        {
        case _pick_model_triangles_flag: break;
        case _pick_objects_flag:
            if (gesture)
            {
                const int16_t saved = shared_selection.waypoint_count;
                shared_selection.waypoint_count = 0;
                command_movement_data data = {_command_movement_final_facing_flag, 0, facing, 0};
                send_movement(&data);
                shared_selection.waypoint_count = saved;
            }
            else if (shared_selection.waypoint_count > 0)
            {
                command_movement_data data = {_command_movement_loop_flag | _command_movement_last_waypoint_is_centerpoint_flag, 0, 0, 0};
                send_movement(&data);
            }
            break;
        case _pick_mesh_triangles_flag:
            ground_order(picked->mesh_location, gesture_flags, facing, shift(press));
            break;
        default:
            log_message(__FILE__, __LINE__, "original_pick(%p) returned #%d.", (const void *)picked, (int)picked->return_flags);
            break;
        }
    }
    shared_selection.state = _selection_idle;
}

void selection_rotate(bool clockwise)
{
    const selection_data *s = &shared_selection.current_selection;
    if (!selection_is_usable() || s->count < 2) return;
    const angle rotation = (angle)(clockwise ? -ROTATION_AMOUNT : ROTATION_AMOUNT);
    int64_t sx = 0, sy = 0;
    world_point2d points[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    for (int32_t i = 0; i < s->count; ++i)
    {
        points[i] = {0, 0};
        const monster_data *m = get_monster_data(s->monster_indexes[i]);
        if (m) reference_point(m, &points[i]);
        sx += points[i].x, sy += points[i].y;
    }
    const world_point2d centre = {(world_distance)(sx / s->count), (world_distance)(sy / s->count)};
    const command_rotation_data data = {0, rotation, centre};
    handle_rotation_command(NONE, &data, s->count, s->monster_indexes);
    for (int32_t i = 0; i < s->count; ++i)
    {
        rotate_point2d(&points[i], &centre, (angle)-rotation);
        const monster_data *m = get_monster_data(s->monster_indexes[i]);
        const int32_t terrain = get_mesh_terrain_type(&points[i]);
        const bool impassable = m && terrain >= 0 && terrain < 16 && (m->terrain_impassability_flags & (1u << terrain));
        new_selection_local_sprite(&points[i], impassable ? _interface_sequence_impassable_destination_marker
                                                : _interface_sequence_destination_marker);
    }
    remove_selection_local_sprites(false);
    play_monsters_sound(s->monster_indexes, s->count, 3);
    finish_selection_order();
}

void assign_formation_to_selection(int32_t formation_index, bool in_place)
{
    if (!valid_formation_index(formation_index)) return;
    const selection_data *s = &shared_selection.current_selection;
    int32_t counts[10] = {}, best = formation_index, best_count = 0, n = 0;
    int16_t units[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    for (int32_t i = 0; i < s->count; ++i)
    {
        monster_data *m = get_monster_data(s->monster_indexes[i]);
        if (!m || m->owner_team_index != local_player_team_index || monster_is_ambient_for_selection_purposes(s->monster_indexes[i]) ||
            !(evaluate_monster_for_selection_purposes(s->monster_indexes[i]) & _monster_is_commandable_evaluation_flag))
            continue;
        if (m->formation_index >= 0 && m->formation_index < 10 && ++counts[m->formation_index] > best_count)
            best_count = counts[m->formation_index], best = m->formation_index;
        m->formation_index = (int16_t)formation_index; // local: the simulation never reads it
        units[n++] = s->monster_indexes[i];
    }
    shared_selection.formation_index = (int16_t)formation_index;
    if (!in_place || n == 0)
    {
        change_selection_mode(_selection_mode_formation);
        return;
    }
    int64_t sx = 0, sy = 0, sc = 0, ss = 0;
    world_point2d points[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    for (int32_t i = 0; i < n; ++i)
    {
        const monster_data *m = get_monster_data(units[i]);
        points[i] = {0, 0};
        reference_point(m, &points[i]);
        sx += points[i].x, sy += points[i].y;
        const object_data *o = get_object(m->object_index);
        const angle yaw = m->waypoint_count > 0 ? m->final_desired_yaw : (o ? o->location.yaw : 0);
        sc += cosine_table[trig_index_rounded(yaw)], ss += sine_table[trig_index_rounded(yaw)];
    }
    const world_point2d centre = {(world_distance)(sx / n), (world_distance)(sy / n)};
    const angle facing = arctangent((world_distance)(sc / n), (world_distance)(ss / n));
    const double ux = cosine_rounded(facing) / 16384.0, uy = sine_rounded(facing) / 16384.0;
    double low = 0, high = 0;
    for (int32_t i = 0; i < n; ++i)
    {
        const double d = (points[i].x - centre.x) * ux + (points[i].y - centre.y) * uy;
        if (i == 0 || d < low) low = d;
        if (i == 0 || d > high) high = d;
    }
    const double along = (best <= 4 || best == 8) ? high : (best == 6 || best == 7) ? low : 0.0;
    const world_point2d destination = {(world_distance)(centre.x + ux * along + (ux * along >= 0 ? 0.5 : -0.5)),
                                       (world_distance)(centre.y + uy * along + (uy * along >= 0 ? 0.5 : -0.5))};
    bool near = false;
    for (int32_t i = 0; i < shared_selection.waypoint_count; ++i)
        near |= distance2d(&destination, &shared_selection.waypoints[i]) < MINIMUM_WAYPOINT_SEPARATION;
    if (!near && shared_selection.waypoint_count < MAXIMUM_SELECTION_WAYPOINTS)
        shared_selection.waypoints[shared_selection.waypoint_count++] = destination;
    command_movement_data data = {_command_movement_formation_flag | _command_movement_final_facing_flag,
                                  (int16_t)formation_index, facing, 0};
    send_movement(&data);
}

void selection_detach_command(int32_t new_owner_player_index)
{
    if (new_owner_player_index == NONE)
    {
        int32_t found = 0;
        for (int32_t p = 0; p < get_player_count(); ++p)
        {
            const player_data *player = get_player_data(p);
            if (!player || p == local_player_index || player->team_index != local_player_team_index ||
                (player->flags & _player_has_been_dropped_flag))
                continue;
            VWARN(found == 0, "more than one teammate to detach to");
            new_owner_player_index = p, ++found;
        }
    }
    const selection_data *s = &shared_selection.current_selection;
    if (new_owner_player_index == NONE || s->count <= 0) return;
    const command_detach_data data = {0, (int16_t)new_owner_player_index};
    handle_detach_command(NONE, &data, s->count, s->monster_indexes);
    change_selection_mode(_selection_mode_none);
    if (new_owner_player_index != local_player_index) select_nothing();
    for (int32_t i = 0; i < s->count; ++i) set_selection_object_mark(s->monster_indexes[i], _object_is_selected_flag, false);
    shared_selection.ticks_until_reselection_after_command = TICKS_UNTIL_RESELECTION_AFTER_COMMAND;
}

static void centre_camera_on_selection(void)
{
    const selection_data *s = &shared_selection.current_selection;
    world_point2d centre;
    if (s->count <= 0) return;
    if (get_centerpoint_of_monster_indexes(s->count, s->monster_indexes, &centre) == 0 && centre.x == -1) return;
    // The camera keeps its height and yaw; only its ground point moves.
    world_location3d camera;
    get_observer_location(&camera);
    camera.position.x = centre.x;
    camera.position.y = centre.y;
    set_observer_location(&camera);
}

// Shift with the inventory key: what the selection holds in hand goes down
// (nothing when the hands are empty or the item may not be discarded).
static void drop_wielded_items(void)
{
    if (!selection_is_usable() || !build_selection_inventory(true)) return;
    const int16_t wielded = get_selection_inventory()->selected_unique_index;
    if (wielded != NONE) set_selection_inventory_unique(wielded, true);
}

// A digit in the inventory mode wields that item (9: empty hands); with
// Shift it drops it instead, as a shifted click on the control bar's
// inventory row does.  The inventory is read afresh, so the units that are
// selected now get the item they hold now.  A digit past the inventory
// keeps the mode.
static void choose_inventory_item(int32_t digit, bool drop)
{
    const int32_t entry = digit == 9 ? -1 : digit;
    if (!selection_is_usable() || !build_selection_inventory(drop))
    {
        change_selection_mode(_selection_mode_none);
        return;
    }
    if (entry >= get_selection_inventory()->unique_count) return;
    set_selection_inventory_unique(entry, drop);
    change_selection_mode(_selection_mode_none);
}

void handle_selection_action(const action_data *action)
{
    if (!action) return;
    const bool shifted = shift(action);
    if (test_action_flag(action, _selection_rotate_preset_bit))
    {
        int32_t found = match_current_selection_preset2(false);
        if (found < 0) found = match_current_selection_preset2(true);
        int32_t chosen = -1;
        for (int32_t k = 0; k < NUMBER_OF_SELECTION_PRESETS && chosen < 0; ++k)
        {
            int32_t p;
            if (found < 0) p = shifted ? NUMBER_OF_SELECTION_PRESETS - 1 - k : k;
            else p = (found + (shifted ? -(k + 1) : k + 1) + 2 * NUMBER_OF_SELECTION_PRESETS) % NUMBER_OF_SELECTION_PRESETS;
            if (found >= 0 && p == found) break;
            if (get_selection_preset_usable_count(&shared_selection.preset_selections[p]) > 0) chosen = p;
        }
        if (chosen >= 0)
        {
            recall_preset_selection(chosen, nullptr);
            if (!test_action_flag(action, _dont_move_observer_bit) && !shifted) centre_camera_on_selection();
        }
    }
    if (test_action_flag(action, _selection_clear_preset_bit) && selection_is_usable())
    {
        const int32_t p = match_current_selection_preset2(false);
        if (p >= 0)
        {
            shared_selection.preset_selections[p].count = 0;
            select_nothing();
        }
    }
    if (test_action_flag(action, _selection_all_bit)) select_all();
    if (test_action_flag(action, _selection_center_selection_bit)) centre_camera_on_selection();
    if (test_action_flag(action, _latched_preset_selection_bit)) change_selection_mode(_selection_mode_recall_preset);
    if (test_action_flag(action, _selection_rename_bit)) change_selection_mode(_selection_mode_rename);
    if (test_action_flag(action, _selection_chat_bit) && !(get_selection_procedures()->any_ingame_dialogs_open && get_selection_procedures()->any_ingame_dialogs_open()) &&
        !joining_mid_game && local_player_team_index != NONE)
    {
        const team_data *team = get_team_data(local_player_team_index);
        change_selection_mode((team && team->number_of_players == 1) || shifted ? _selection_mode_yell : _selection_mode_whisper);
    }
    if (test_action_flag(action, _selection_inventory_bit))
    {
        if (shifted) drop_wielded_items();
        else if (option_key(action)) change_selection_mode(_selection_mode_inventory_next);
        else if (selection_input_option(_selection_input_control_bar_inventory_bit))
        {
            if (const auto toggle = get_selection_procedures()->toggle_inventory) toggle();
        }
        else
            change_selection_mode(_selection_mode_inventory);
    }
    if (test_action_flag(action, _selection_choose_formation_bit))
        change_selection_mode(shifted ? _selection_mode_set_formation_in_place : _selection_mode_set_formation);
    if (test_action_flag(action, _selection_detach_units_bit)) change_selection_mode(_selection_mode_detach_units);
    if (test_action_flag(action, _selection_ally_bit)) change_selection_mode(_selection_mode_ally);
    if (test_action_flag(action, _selection_scatter_bit)) send_selection_general_order(_command_general_scatter);
    if (test_action_flag(action, _selection_retreat_bit)) send_selection_general_order(_command_general_retreat);
    if (test_action_flag(action, _selection_guard_bit)) send_selection_general_order(_command_general_guard);
    if (test_action_flag(action, _selection_taunt_bit)) send_selection_general_order(_command_general_taunt);
    if (test_action_flag(action, _selection_special_ability_bit)) change_selection_mode(_selection_mode_special_ability);
    if (test_action_flag(action, _selection_stop_bit)) send_selection_general_order(_command_general_stop);
    if (test_action_flag(action, _latched_attack_bit) && !shifted) change_selection_mode(_selection_mode_attack);
    if (selection_input_option(_selection_input_right_click_attack_bit) && test_action_flag(action, _right_mouse_click_bit))
        change_selection_mode(_selection_mode_attack);
    if (test_action_flag(action, _selection_rotate_clockwise_bit)) selection_rotate(true);
    if (test_action_flag(action, _selection_rotate_counterclockwise_bit)) selection_rotate(false);
}

enum
{
    FIRST_DIGIT_KEY_CODE = 17, // keys 1..9, 0
    LAST_DIGIT_KEY_CODE = 26,
};

// In the inventory mode the backquote key stands for the digit that empties
// the hands, unless the key bindings leave it to cancel.
static bool backquote_chooses_empty_hands(const action_data *action)
{
    return shared_selection.mode == _selection_mode_inventory && action->key_code == _key_backquote &&
           !test_action_flag(action, _key_repeat_bit) && !selection_input_option(_selection_input_tilde_ignores_inventory_bit);
}

// The wheel, as the mouse options say: a notch steps through the presets
// (up: backwards, the camera stays) or the wielded item (down: the next,
// up: the previous), else it is an ordinary action.  A notch up is a
// negative delta.
static void wheel(const action_data *action)
{
    const bool up = action->wheel_delta < 0;
    if (selection_input_option(_selection_input_wheel_cycle_presets_bit))
    {
        action_data copy = *action;
        if (up) set_action_flag(&copy, _shift_down_bit);
        else clear_action_flag(&copy, _shift_down_bit);
        set_action_flag(&copy, _selection_rotate_preset_bit);
        set_action_flag(&copy, _dont_move_observer_bit);
        handle_selection_action(&copy);
        return;
    }
    if (selection_input_option(_selection_input_wheel_cycle_inventory_bit))
        change_selection_mode(up ? _selection_mode_inventory_prev : _selection_mode_inventory_next);
    handle_selection_action(action);
}

static void idle_keys(const action_data *action)
{
    const bool alternate = selection_input_option(_selection_input_alternate_preset_recall_bit);
    int16_t *ticks = &shared_selection.modifier_key_ticks;
    if (shared_selection.mode == _selection_mode_recall_preset)
    {
        if (test_action_flag(action, _selection_preset_selection_bit)) *ticks = alternate ? 0 : MODIFIER_STICKY_TICKS;
        else if ((*ticks = selection_count_down(*ticks, action)) < 0) change_selection_mode(_selection_mode_none);
    }
    else if (shared_selection.mode == _selection_mode_attack)
    {
        if (test_action_flag(action, _selection_attack_bit)) *ticks = 0;
        else if ((*ticks = selection_count_down(*ticks, action)) < 0) change_selection_mode(_selection_mode_none);
    }
    int32_t digit = -1;
    if (!test_action_flag(action, _key_repeat_bit) && action->key_code >= FIRST_DIGIT_KEY_CODE && action->key_code <= LAST_DIGIT_KEY_CODE)
        digit = action->key_code - FIRST_DIGIT_KEY_CODE;
    if (backquote_chooses_empty_hands(action)) digit = 9;
    const bool preset_mode = shared_selection.mode == _selection_mode_recall_preset && !alternate;
    if (preset_mode) digit = get_action_flag_range(action, _preset_selection_or_formation_valid_bit, NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS);
    if (digit < 0 && !preset_mode)
    {
        if (action->wheel_delta != 0) wheel(action);
        else handle_selection_action(action);
        return;
    }
    if (digit > 9) digit = -1;
    switch (shared_selection.mode)
    {
    case _selection_mode_recall_preset:
        if (alternate)
        {
            if (digit >= 0) set_preset_selection(digit), change_selection_mode(_selection_mode_none);
        }
        else if (digit >= 0)
        {
            shared_selection.preset_selection_index = (int16_t)digit;
            if (shared_selection.current_selection.count == 0) recall_preset_selection(digit, action);
            else if ((shared_selection.preset_selection_ticks += selection_action_ticks(action)) > WAIT_FOR_SELECTION_SET_PRESET)
            {
                set_preset_selection(digit);
                shared_selection.preset_selection_index = NONE;
                change_selection_mode(_selection_mode_none);
            }
        }
        else if (shared_selection.preset_selection_index != NONE)
        {
            recall_preset_selection(shared_selection.preset_selection_index, action);
            shared_selection.preset_selection_index = NONE;
            shared_selection.preset_selection_ticks = 0;
        }
        break;
    case _selection_mode_detach_units:
    {
        int16_t mates[MAXIMUM_PLAYERS_PER_GAME];
        const int32_t count = get_selection_local_teammates(mates);
        const int32_t pick_index = shift(action) && count > digit + 10 ? digit + 10 : digit;
        if (pick_index >= 0 && pick_index < count) selection_detach_command(mates[pick_index]);
        change_selection_mode(_selection_mode_none);
        break;
    }
    case _selection_mode_ally:
    {
        int16_t teams[MAXIMUM_TEAMS_PER_GAME];
        const int32_t count = get_selection_other_live_teams(teams);
        const int32_t pick_index = shift(action) && count > digit + 10 ? digit + 10 : digit;
        if (pick_index >= 0 && pick_index < count && local_player_team_index != NONE && selection_team_is_live(local_player_team_index))
        {
            const command_ally_data data = {0, 0, local_player_team_index, teams[pick_index]};
            handle_ally_command(NONE, &data);
        }
        change_selection_mode(_selection_mode_none);
        break;
    }
    case _selection_mode_inventory: choose_inventory_item(digit, shift(action)); break;
    case _selection_mode_set_formation:
    case _selection_mode_set_formation_in_place:
        if (valid_formation_index(digit))
            assign_formation_to_selection(digit, shared_selection.mode == _selection_mode_set_formation_in_place);
        break;
    default:
    {
        const bool twice = test_action_flag(action, _key_double_bit) && !test_action_flag(action, _selection_preset_selection_bit);
        if (!alternate)
        {
            if (valid_formation_index(digit)) assign_formation_to_selection(digit, twice);
        }
        else if (digit >= 0)
        {
            recall_preset_selection(digit, action);
            if (twice) centre_camera_on_selection();
        }
        break;
    }
    }
}

static void console_input_completion(void)
{
    const auto input = get_console_procedures()->input;
    if (!input) return;
    char buffer[256] = {};
    const int32_t result = input(buffer, (int32_t)sizeof(buffer) - 1);
    buffer[sizeof(buffer) - 1] = 0;
    if (result == 2)
    {
        const selection_data *s = &shared_selection.current_selection;
        if (shared_selection.mode == _selection_mode_rename && selection_is_usable() && buffer[0])
        {
            const command_rename_data data = {0, 0};
            handle_rename_command(NONE, &data, s->count, s->monster_indexes, buffer);
        }
        else if ((shared_selection.mode == _selection_mode_whisper || shared_selection.mode == _selection_mode_yell) && buffer[0])
        {
            const command_chat_data data = {
                (uint16_t)(shared_selection.mode == _selection_mode_whisper ? _command_chat_private_flag : 0), 0};
            queue_chat_command(&data, buffer);
        }
    }
    if (result == 2 || result == 3) change_selection_mode(_selection_mode_none);
}

static void end_of_action(const action_data *action)
{
    if (shared_selection.target_highlight_ticks > 0)
    {
        shared_selection.target_highlight_ticks = selection_count_down(shared_selection.target_highlight_ticks, action);
        if (shared_selection.target_highlight_ticks <= 0)
        {
            shared_selection.target_highlight_ticks = 0;
            highlight_selection_targets(false);
        }
    }
    console_input_completion();
    shared_selection.last_action = *action;
    const auto update = get_selection_procedures()->update_inventory_buttons;
    if (selection_input_option(_selection_input_control_bar_inventory_bit) && update) update();
}

bool update_selection(action_data *action)
{
    if (!action || !get_last_render_view()) return false;
    if (!VWARN(shared_selection.state != _selection_uninitialized, "update_selection() without a map")) return false;
    selection_data *s = &shared_selection.current_selection;
    if (shared_selection.ticks_until_reselection_after_command != 0)
    {
        shared_selection.ticks_until_reselection_after_command =
            selection_count_down(shared_selection.ticks_until_reselection_after_command, action);
        if (shared_selection.ticks_until_reselection_after_command <= 0)
        {
            shared_selection.ticks_until_reselection_after_command = 0;
            for (int32_t i = 0; i < s->count; ++i) set_selection_object_mark(s->monster_indexes[i], _object_is_selected_flag, true);
        }
    }
    if (!in_replay() && (s->flags & _selection_is_not_controllable_flag) && s->count > 0)
    {
        bool all = true;
        for (int32_t i = 0; i < s->count && all; ++i) all = monster_is_commandable_on_mesh_for_selection(s->monster_indexes[i]);
        if (all) s->flags &= ~(uint16_t)_selection_is_not_controllable_flag;
        else
            for (int32_t i = s->count - 1; i >= 0; --i)
                if (!get_local_monster_visibility(s->monster_indexes[i]))
                    adjust_monster_index_in_selection(s, s->monster_indexes[i], _adjust_selection_subtract);
    }
    update_selection_mouse_over_highlight(action);
    if (selection_input_option(_selection_input_right_click_ignored_bit) &&
        (test_action_flag(action, _right_mouse_down_bit) || test_action_flag(action, _right_mouse_click_bit) ||
         test_action_flag(action, _double_right_mouse_down_bit)))
        return false;
    const auto console_handled_action = get_console_procedures()->handled_action;
    if (console_handled_action && console_handled_action(action))
    {
        end_of_action(action);
        return true;
    }
    const int32_t elapsed = action->time - shared_selection.original_action.time;
    if (test_action_flag(action, _selection_cancel_bit) && !backquote_chooses_empty_hands(action))
    {
        const int16_t state = shared_selection.state;
        const selection_data saved = shared_selection.saved_selection;
        select_nothing();
        if (state == _selection_band)
            for (int32_t i = 0; i < saved.count; ++i) adjust_monster_index_in_selection(s, saved.monster_indexes[i], _adjust_selection_invert);
        shared_selection.state = _selection_locked;
    }
    else if (test_action_flag(action, _double_left_mouse_down_bit) &&
             selection_pointer_distance(action->pointer, shared_selection.original_action.pointer) < BAND_SELECTION_START_RADIUS &&
             elapsed >= 0 && elapsed < WAIT_FOR_DOUBLE_CLICK_DELAY)
    {
        handle_selection_double_click(action);
        shared_selection.state = _selection_locked;
        shared_selection.double_click_mode = NONE;
    }
    else
    {
        if (selection_input_option(_selection_input_right_click_attack_bit) && test_action_flag(action, _right_mouse_click_bit))
            change_selection_mode(_selection_mode_attack);
        if (test_action_flag(action, _right_mouse_click_bit) && selection_input_option(_selection_input_right_button_deselects_bit))
            select_nothing();
        const bool idle = shared_selection.state == _selection_idle;
        const bool pressed = idle ? (test_action_flag(action, _left_mouse_click_bit) || test_action_flag(action, _right_mouse_click_bit))
                                  : (test_action_flag(action, _left_mouse_down_bit) || test_action_flag(action, _right_mouse_down_bit));
        if (pressed)
        {
            shared_selection.suppress_selection = option_key(action) || test_action_flag(action, _right_mouse_down_bit);
            const int16_t mode = shared_selection.mode;
            if (mode == _selection_mode_recall_preset)
            {
                shared_selection.state = _selection_idle;
                change_selection_mode(_selection_mode_none);
            }
            if (mode >= _selection_mode_rename && mode <= _selection_mode_ally)
            {
                shared_selection.state = _selection_locked;
                change_selection_mode(_selection_mode_none);
            }
            else
                switch (shared_selection.state)
                {
                case _selection_idle: start_new_selection(action); break;
                case _selection_possible_gesture:
                    if (test_action_flag(action, _left_mouse_down_bit) && selection_input_option(_selection_input_left_click_gestures_disabled_bit))
                        shared_selection.state = _selection_possible_band;
                    update_band_selection_or_gesture(action);
                    break;
                case _selection_gesture:
                case _selection_possible_band:
                case _selection_band: update_band_selection_or_gesture(action); break;
                case _selection_locked: break;
                default: log_message(__FILE__, __LINE__, "what is selection state #%d?", (int)shared_selection.state); break;
                }
        }
        else
        {
            release();
            idle_keys(action);
        }
    }
    end_of_action(action);
    return false;
}
