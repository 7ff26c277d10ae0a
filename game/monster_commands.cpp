// Unit commands: the order records, their builders and the executor's unit verbs.

#include "monster_commands.h"
#include "networking_procedures.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "commands.h"
#include "console_procedures.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "formations.h"
#include "game_hooks.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "monster_actions.h"
#include "monster_inventory.h"
#include "monster_lists.h"
#include "monster_orders.h"
#include "monster_owners.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "recording_procedures.h"
#include "unit_commands.h"
#include "unit_definitions.h"
#include "vesk_random.h"

// ---- byte-swap descriptions ---------------------------------------------------------------

const byte_swap_code command_movement_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte,
                                                                   _2byte, _end_bs_array};
const byte_swap_code command_general_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
const byte_swap_code command_target_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
const byte_swap_code command_attack_location_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, _4byte, _end_bs_array};
const byte_swap_code command_pick_up_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte,
                                                                  _2byte, _end_bs_array};
const byte_swap_code command_rename_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
const byte_swap_code command_rotation_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte,
                                                                   _4byte, _end_bs_array};
const byte_swap_code command_detach_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
const byte_swap_code command_chat_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
const byte_swap_code command_ally_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte,
                                                               _end_bs_array};
const byte_swap_code command_preset_selection_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte,
                                                                           _end_bs_array};
const byte_swap_code command_inventory_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte,
                                                                    _end_bs_array};
const byte_swap_code command_unit_identifier_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _end_bs_array};
const byte_swap_code command_waypoint_byte_swapping_data[] = {_begin_bs_array, 1, _4byte, _4byte, _end_bs_array};

// ---- registration points ------------------------------------------------------------------

static procedure_slot<preset_selection_procedure> preset_selection_slot("preset selection");

bool register_preset_selection_procedure(preset_selection_procedure procedure)
{
    return preset_selection_slot.fill(procedure);
}

// ---- globals --------------------------------------------------------------------------------

static struct monster_command_globals
{
    // The units and targets of the command being run, as indexes.
    int16_t units[MAXIMUM_UNITS_PER_COMMAND];
    int16_t targets[MAXIMUM_UNITS_PER_COMMAND];
    world_point2d destinations[MAXIMUM_UNITS_PER_COMMAND * MAXIMUM_WAYPOINTS_PER_COMMAND];
    // Scratch of the destinations: slots and each unit's slot.
    world_point2d slots[MAXIMUM_UNITS_PER_COMMAND];
    world_point2d positions[MAXIMUM_UNITS_PER_COMMAND];
    int16_t slot_of_unit[MAXIMUM_UNITS_PER_COMMAND];
    // A command being built.
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    // Each player's latest selection report, as unit identifiers; the
    // commands made them, so every machine and every replay holds the same.
    bool selection_reported;
    int16_t reported_selection_counts[MAXIMUM_PLAYERS_PER_MAP];
    int16_t reported_selections[MAXIMUM_PLAYERS_PER_MAP][MAXIMUM_UNITS_PER_COMMAND];
} monster_command_globals;

static void forget_reported_selections(void)
{
    monster_command_globals.selection_reported = false;
    memset(monster_command_globals.reported_selection_counts, 0,
           sizeof(monster_command_globals.reported_selection_counts));
}

bool selection_report_received(void) { return monster_command_globals.selection_reported; }

bool game_carries_local_player_input(void)
{
    if (game_->type == _game_type_local) return true;
    if (game_->type != _game_type_replay || local_player_index == NONE) return false;
    // A single-player game is cooperative too: only the type it was played
    // as tells it from a cooperative network game.
    const auto played_as = get_recording_procedures()->replay_game_type;
    return played_as && played_as() == _game_type_local;
}

bool monster_is_in_reported_selection(const monster_data *monster)
{
    if (!monster) return false;
    for (int32_t player = 0; player < MAXIMUM_PLAYERS_PER_MAP; ++player)
        for (int16_t i = 0; i < monster_command_globals.reported_selection_counts[player]; ++i)
            if (monster_command_globals.reported_selections[player][i] == monster->identifier) return true;
    return false;
}

int32_t maximum_units_per_command(void)
{
    return current_gameplay_version < 1301 ? (int32_t)MAXIMUM_UNITS_PER_COMMAND_BEFORE_1301
                                           : (int32_t)MAXIMUM_UNITS_PER_COMMAND;
}

// Who gives the order being run: a player (internal identifier NONE) or a map
// action (any other identifier; player NONE).
struct order_context
{
    int16_t internal_identifier;
    int16_t player_index;
    int16_t verb;
    int16_t time;
};

static bool order_is_from_player(const order_context *context)
{
    return context->internal_identifier == NONE;
}

static void log_skipped_order(const order_context *context, const char *reason)
{
    log_message(__FILE__, __LINE__, "unit command verb %d of player %d: %s; skipped", context->verb,
                context->player_index, reason);
}

// ---- building ------------------------------------------------------------------------------

static void begin_command(command_codec_state *state, int16_t verb, int16_t data_size, const void *data,
                          const byte_swap_code *bs_data)
{
    command_encode_new(state, monster_command_globals.buffer, verb);
    command_encode_data(state, data_size, data, bs_data);
}

// The identifiers of the units of the list, cut to the version's limit, free
// slots left out.
static void encode_unit_list(command_codec_state *state, int32_t count, const int16_t *indexes)
{
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t limit = maximum_units_per_command();
    if (count > limit) count = limit;
    int16_t used = 0;
    for (int32_t i = 0; indexes && i < count; ++i)
    {
        const monster_data *monster = get_monster_data(indexes[i]);
        if (monster) identifiers[used++] = monster->identifier;
    }
    command_encode_array(state, used, sizeof(int16_t), identifiers, command_unit_identifier_byte_swapping_data);
}

static bool run_unit_command(command_header *command, int16_t internal_identifier);

// Queues the built command, or carries it out now for a map action.
static bool finish_command(command_codec_state *state, int16_t internal_command_identifier)
{
    if (state->failed) return false;
    if (internal_command_identifier == NONE) return queue_outgoing_command(state->header);
    return run_unit_command(state->header, internal_command_identifier);
}

static bool handle_unit_list_command(int16_t verb, int16_t internal_command_identifier, int16_t data_size,
                                     const void *data, const byte_swap_code *bs_data, int32_t unit_count,
                                     const int16_t *unit_indexes)
{
    if (!VASSERT(data, "data")) return false;
    command_codec_state state;
    begin_command(&state, verb, data_size, data, bs_data);
    encode_unit_list(&state, unit_count, unit_indexes);
    return finish_command(&state, internal_command_identifier);
}

bool handle_movement_command(int16_t internal_command_identifier, const command_movement_data *data,
                             int32_t unit_count, const int16_t *unit_indexes, int32_t waypoint_count,
                             const world_point2d *waypoints)
{
    if (!VASSERT(data, "data")) return false;
    if (waypoint_count < 0 || !waypoints) waypoint_count = 0;
    if (waypoint_count > MAXIMUM_WAYPOINTS_PER_COMMAND) waypoint_count = MAXIMUM_WAYPOINTS_PER_COMMAND;
    command_codec_state state;
    begin_command(&state, _command_movement, sizeof(*data), data, command_movement_data_byte_swapping_data);
    encode_unit_list(&state, unit_count, unit_indexes);
    command_encode_array(&state, (int16_t)waypoint_count, sizeof(world_point2d), waypoints,
                         command_waypoint_byte_swapping_data);
    return finish_command(&state, internal_command_identifier);
}

bool handle_target_command(int16_t internal_command_identifier, const command_target_data *data,
                           int32_t aggressor_count, const int16_t *aggressor_indexes, int32_t target_count,
                           const int16_t *target_indexes)
{
    if (!VASSERT(data, "data")) return false;
    command_codec_state state;
    begin_command(&state, _command_target, sizeof(*data), data, command_target_data_byte_swapping_data);
    encode_unit_list(&state, aggressor_count, aggressor_indexes);
    encode_unit_list(&state, target_count, target_indexes);
    return finish_command(&state, internal_command_identifier);
}

bool handle_general_command(int16_t internal_command_identifier, const command_general_data *data,
                            int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_general, internal_command_identifier, sizeof(command_general_data), data,
                                    command_general_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_pick_up_command(int16_t internal_command_identifier, const command_pick_up_data *data,
                            int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_pick_up, internal_command_identifier, sizeof(command_pick_up_data), data,
                                    command_pick_up_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_attack_location_command(int16_t internal_command_identifier, const command_attack_location_data *data,
                                    int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_attack_location, internal_command_identifier,
                                    sizeof(command_attack_location_data), data,
                                    command_attack_location_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_rotation_command(int16_t internal_command_identifier, const command_rotation_data *data,
                             int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_rotation, internal_command_identifier, sizeof(command_rotation_data),
                                    data, command_rotation_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_detach_command(int16_t internal_command_identifier, const command_detach_data *data, int32_t unit_count,
                           const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_detach, internal_command_identifier, sizeof(command_detach_data), data,
                                    command_detach_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_inventory_command(int16_t internal_command_identifier, const command_inventory_data *data,
                              int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_inventory, internal_command_identifier, sizeof(command_inventory_data),
                                    data, command_inventory_data_byte_swapping_data, unit_count, unit_indexes);
}

bool handle_inventory_drop_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_inventory_drop, internal_command_identifier,
                                    sizeof(command_inventory_data), data, command_inventory_data_byte_swapping_data,
                                    unit_count, unit_indexes);
}

bool handle_inventory_next_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_inventory_next, internal_command_identifier,
                                    sizeof(command_inventory_data), data, command_inventory_data_byte_swapping_data,
                                    unit_count, unit_indexes);
}

bool handle_inventory_prev_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes)
{
    return handle_unit_list_command(_command_inventory_prev, internal_command_identifier,
                                    sizeof(command_inventory_data), data, command_inventory_data_byte_swapping_data,
                                    unit_count, unit_indexes);
}

bool handle_rename_command(int16_t internal_command_identifier, const command_rename_data *data, int32_t unit_count,
                           const int16_t *unit_indexes, const char *name)
{
    if (!VASSERT(data, "data") || !VASSERT(name, "name")) return false;
    command_codec_state state;
    begin_command(&state, _command_rename, sizeof(*data), data, command_rename_data_byte_swapping_data);
    encode_unit_list(&state, unit_count, unit_indexes);
    command_encode_string(&state, name, MAXIMUM_MONSTER_NAME_LENGTH);
    return finish_command(&state, internal_command_identifier);
}

bool handle_ally_command(int16_t internal_command_identifier, const command_ally_data *data)
{
    if (!VASSERT(data, "data")) return false;
    command_codec_state state;
    begin_command(&state, _command_ally, sizeof(*data), data, command_ally_data_byte_swapping_data);
    return finish_command(&state, internal_command_identifier);
}

bool queue_chat_command(const command_chat_data *data, const char *text)
{
    if (!VASSERT(data, "data") || !VASSERT(text, "text")) return false;
    command_codec_state state;
    begin_command(&state, _command_chat, sizeof(*data), data, command_chat_data_byte_swapping_data);
    command_encode_string(&state, text, MAXIMUM_CHAT_MESSAGE_LENGTH);
    return finish_command(&state, NONE);
}

bool queue_preset_selection_command(const command_preset_selection_data *data, int32_t unit_count,
                                    const int16_t *unit_identifiers)
{
    if (!VASSERT(data, "data")) return false;
    const int32_t limit = maximum_units_per_command();
    if (unit_count < 0 || !unit_identifiers) unit_count = 0;
    if (unit_count > limit) unit_count = limit;
    command_codec_state state;
    begin_command(&state, _command_preset_selection, sizeof(*data), data,
                  command_preset_selection_data_byte_swapping_data);
    command_encode_array(&state, (int16_t)unit_count, sizeof(int16_t), unit_identifiers,
                         command_unit_identifier_byte_swapping_data);
    return finish_command(&state, NONE);
}

bool queue_selection_report_command(int32_t unit_count, const int16_t *unit_identifiers)
{
    const command_preset_selection_data data = {_preset_selection_reports_current_selection_flag, (int16_t)NONE};
    return queue_preset_selection_command(&data, unit_count, unit_identifiers);
}

// ---- destinations ----------------------------------------------------------------------------

// A player's order (from 1840) sends no unit past the playable area, formation
// slots included: a unit that walks into the mesh's border band leaves the
// game.  The units' points at each waypoint move together, so that the group
// keeps its shape along the border rather than crowding onto one point and
// pushing one another over it; a group wider than the area is then clamped
// point by point.  A script's order (player NONE) goes where the map maker
// put it.
static void keep_players_destinations_on_the_map(int32_t player_index, world_point2d *destinations,
                                                 int32_t unit_count, int32_t waypoint_count)
{
    if (player_index == NONE || current_gameplay_version < 1840) return;
    for (int32_t w = 0; w < waypoint_count; ++w)
    {
        world_point2d lowest = destinations[w], highest = destinations[w];
        for (int32_t i = 1; i < unit_count; ++i)
        {
            const world_point2d &p = destinations[i * waypoint_count + w];
            lowest = {std::min(lowest.x, p.x), std::min(lowest.y, p.y)};
            highest = {std::max(highest.x, p.x), std::max(highest.y, p.y)};
        }
        world_point2d low = lowest, high = highest;
        clamp_point_to_playable_area(&low);
        clamp_point_to_playable_area(&high);
        // The shift that brings the far side in, else the near side.
        const world_distance dx = low.x != lowest.x ? low.x - lowest.x : high.x - highest.x;
        const world_distance dy = low.y != lowest.y ? low.y - lowest.y : high.y - highest.y;
        for (int32_t i = 0; i < unit_count; ++i)
        {
            world_point2d &p = destinations[i * waypoint_count + w];
            p = {p.x + dx, p.y + dy};
            clamp_point_to_playable_area(&p);
        }
    }
}

void build_movement_command_destinations(const command_movement_data *data, int32_t player_index,
                                         const int16_t *unit_indexes, int32_t unit_count,
                                         const world_point2d *waypoints, int32_t waypoint_count,
                                         world_point2d *destinations)
{
    if (!data || !unit_indexes || !waypoints || !destinations || unit_count < 1 || waypoint_count < 1) return;
    if (unit_count > MAXIMUM_UNITS_PER_COMMAND) unit_count = MAXIMUM_UNITS_PER_COMMAND;
    if (waypoint_count > MAXIMUM_WAYPOINTS_PER_COMMAND) waypoint_count = MAXIMUM_WAYPOINTS_PER_COMMAND;
    const bool formation = (data->flags & _command_movement_formation_flag) != 0;
    if (formation && !valid_formation_index(data->formation_index)) return;

    world_point2d centre;
    get_centerpoint_of_monster_indexes(unit_count, unit_indexes, &centre);
    world_point2d *positions = monster_command_globals.positions;
    for (int32_t i = 0; i < unit_count; ++i)
    {
        const monster_data *monster = get_monster_data(unit_indexes[i]);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        positions[i] = object ? world_point2d{object->location.position.x, object->location.position.y} : centre;
    }

    if (!formation)
    {
        // The group keeps its shape around each waypoint.
        for (int32_t i = 0; i < unit_count; ++i)
            for (int32_t w = 0; w < waypoint_count; ++w)
            {
                world_point2d point = {waypoints[w].x + (positions[i].x - centre.x),
                                       waypoints[w].y + (positions[i].y - centre.y)};
                clamp_point_to_mesh(&point);
                destinations[i * waypoint_count + w] = point;
            }
        keep_players_destinations_on_the_map(player_index, destinations, unit_count, waypoint_count);
        return;
    }

    world_point2d *slots = monster_command_globals.slots;
    int16_t *slot_of_unit = monster_command_globals.slot_of_unit;
    world_point2d previous = centre;
    angle facing = 0;
    for (int32_t w = 0; w < waypoint_count; ++w)
    {
        const bool last = w == waypoint_count - 1;
        if (last && (data->flags & _command_movement_final_facing_flag))
            facing = data->final_facing;
        else
            facing = adjust_yaw_for_destination(facing, &waypoints[w], &previous);
        previous = waypoints[w];
        build_formation_slots(data->formation_index, unit_count, &waypoints[w], facing, slots);
        // One slot per unit for the whole order, chosen at the first waypoint.
        if (w == 0) assign_formation_slots(unit_count, positions, &centre, slots, slot_of_unit);
        for (int32_t i = 0; i < unit_count; ++i) destinations[i * waypoint_count + w] = slots[slot_of_unit[i]];
    }
    keep_players_destinations_on_the_map(player_index, destinations, unit_count, waypoint_count);
}

// ---- decoding the units ---------------------------------------------------------------------

// Decodes a list of unit identifiers into `indexes`: each must name a unit on
// the mesh, once, and for a player's command a unit that player may command.
// False when the list cannot be decoded or names more units than a command
// may (nothing is run then).  Refused units are left out with one log line.
static bool decode_ordered_units(command_codec_state *state, const order_context *context, bool check_player,
                                 int16_t *indexes, int32_t *count)
{
    *count = 0;
    int16_t listed = 0;
    const int16_t *identifiers = (const int16_t *)command_decode_array(state, &listed, sizeof(int16_t),
                                                                       command_unit_identifier_byte_swapping_data);
    if (!identifiers) return false;
    if (listed > maximum_units_per_command())
    {
        log_skipped_order(context, "more units than a command may name");
        state->failed = true;
        return false;
    }
    // The identifiers resolve in one pass, in list order, those naming no unit
    // left out; each unit is then taken once, at its first mention.
    int16_t resolved[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t resolved_count = monster_identifiers_to_monster_indexes(identifiers, resolved, listed);
    uint64_t taken[(MAXIMUM_MONSTERS_PER_MAP + 63) / 64] = {};
    int32_t found = 0, refused = listed - resolved_count, gone = 0;
    for (int32_t i = 0; i < resolved_count; ++i)
    {
        const int16_t index = resolved[i];
        const monster_data *monster = get_monster_data(index);
        bool valid = !(monster->flags & _monster_has_left_the_mesh_flag);
        gone += !valid;
        if (valid && index < MAXIMUM_MONSTERS_PER_MAP)
        {
            valid = !(taken[index >> 6] >> (index & 63) & 1);
            taken[index >> 6] |= (uint64_t)1 << (index & 63);
        }
        else
            for (int32_t j = 0; valid && j < found; ++j) valid = indexes[j] != index;
        if (valid && check_player)
            valid = (evaluate_monster_for_player(index, context->player_index) &
                     _monster_is_commandable_evaluation_flag) &&
                    !(monster->flags & _monster_ignores_user_commands_flag);
        if (valid)
            indexes[found++] = index;
        else
            ++refused;
    }
    // A script names its units by identifier pass after pass: one that walked
    // off the map is left out quietly, or its order would be logged every pass.
    if (refused > (context->player_index == NONE ? gone : 0))
        LOG_REPEATED("unit command verb %d of player %d: %d of %d units refused", context->verb,
                     context->player_index, refused, listed);
    *count = found;
    return true;
}

// Marks a unit as carrying out the order being run.
static void mark_ordered_unit(monster_data *monster, const order_context *context)
{
    monster->flags |= _monster_responding_to_command_flag;
    if (order_is_from_player(context)) monster->flags |= _monster_has_received_user_command_flag;
    monster->internal_command_identifier = context->internal_identifier;
}

// Units busy in an action that planning does not interrupt resume the order
// when the action ends.
static void defer_movement_if_busy(monster_data *monster)
{
    if (current_gameplay_version > 1300 && monster->action >= _monster_action_attacking)
        monster->extra_flags |= _monster_has_deferred_movement_command_extra_flag;
}

static world_point2d monster_position(const monster_data *monster)
{
    const object_data *object = get_object(monster->object_index);
    return object ? world_point2d{object->location.position.x, object->location.position.y} : world_point2d{0, 0};
}

// ---- the verbs ------------------------------------------------------------------------------------

// An order as the prelude shared by every verb left it: the codec past the
// verb's record and, for a verb that names units, past its unit list.
struct decoded_order
{
    command_codec_state state;
    const void *record; // the verb's record, in host order; NULL for a verb without one
    int16_t *units;     // the named units the validity filter kept (monster_command_globals.units)
    int32_t count;      // 0 for a verb that names none
};

static bool run_movement(decoded_order *order, const order_context *context)
{
    const command_movement_data *data = (const command_movement_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    int16_t waypoint_count = 0;
    const world_point2d *waypoints = (const world_point2d *)command_decode_array(
        &order->state, &waypoint_count, sizeof(world_point2d), command_waypoint_byte_swapping_data);
    if (!waypoints || order->state.failed) return false;
    if (waypoint_count > MAXIMUM_WAYPOINTS_PER_COMMAND)
    {
        log_skipped_order(context, "more waypoints than a unit can hold");
        return true;
    }
    if ((data->flags & _command_movement_formation_flag) && !valid_formation_index(data->formation_index))
    {
        log_skipped_order(context, "a formation outside 0..9");
        return true;
    }
    const bool facing = (data->flags & _command_movement_final_facing_flag) != 0;
    if (waypoint_count == 0 && !facing) return true;

    world_point2d copy[MAXIMUM_WAYPOINTS_PER_COMMAND];
    memcpy(copy, waypoints, sizeof(world_point2d) * (size_t)waypoint_count);
    world_point2d *destinations = monster_command_globals.destinations;
    if (waypoint_count > 0)
        build_movement_command_destinations(data, context->player_index, units, count, copy, waypoint_count,
                                            destinations);
    uint32_t loop_flags = 0;
    if (data->flags & (_command_movement_loop_flag | _command_movement_loop_back_and_forth_flag))
        loop_flags |= _monster_has_looped_waypoints_flag;
    if (data->flags & _command_movement_loop_back_and_forth_flag)
        loop_flags |= _monster_has_back_and_forth_looped_waypoints_flag;
    const int16_t formation_identifier =
        (data->flags & _command_movement_formation_flag) && count > 0 ? get_formation_identifier() : (int16_t)NONE;
    for (int32_t i = 0; i < count; ++i)
    {
        set_monster_waypoints(units[i], waypoint_count, &destinations[i * waypoint_count], facing,
                              data->final_facing);
        monster_data *monster = get_monster_data(units[i]);
        if (waypoint_count > 1) monster->flags |= loop_flags;
        if (formation_identifier != NONE)
        {
            monster->formation_identifier = formation_identifier;
            monster->formation_angle = facing ? data->final_facing
                                              : adjust_yaw_for_destination(monster->formation_angle,
                                                                           &copy[waypoint_count - 1],
                                                                           waypoint_count > 1 ? &copy[waypoint_count - 2]
                                                                                              : &copy[0]);
        }
        defer_movement_if_busy(monster);
        mark_ordered_unit(monster, context);
    }
    return true;
}

static bool run_target(decoded_order *order, const order_context *context)
{
    const command_target_data *data = (const command_target_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    int32_t target_count = 0;
    int16_t *targets = monster_command_globals.targets;
    if (!decode_ordered_units(&order->state, context, false, targets, &target_count)) return false;
    if (target_count == 0) return true;

    int32_t closest = NONE;
    if (data->flags & _command_target_attack_closest_flag)
    {
        world_point2d centre;
        get_centerpoint_of_monster_indexes(count, units, &centre);
        int64_t best = 0;
        for (int32_t t = 0; t < target_count; ++t)
        {
            const world_point2d position = monster_position(get_monster_data(targets[t]));
            const int64_t dx = (int64_t)position.x - centre.x, dy = (int64_t)position.y - centre.y;
            const int64_t distance = dx * dx + dy * dy;
            if (closest == NONE || distance < best)
            {
                closest = targets[t];
                best = distance;
            }
        }
    }
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t target = closest != NONE ? closest : targets[i % target_count];
        monster_data *monster = get_monster_data(units[i]);
        if (target == units[i]) continue;
        if ((data->flags & _command_target_dont_override_existing_target_flag) &&
            (monster->flags & _monster_has_valid_target_flag))
            continue;
        set_monster_waypoints(units[i], 0, nullptr, false, 0);
        monster->target_monster_index = (int16_t)target;
        monster->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag |
                          _monster_responding_to_target_command_flag;
        if (data->flags & _command_target_close_flag) monster->flags |= _monster_should_close_on_target_flag;
        if (data->flags & _command_target_special_ability_flag)
            monster->flags |= _monster_will_use_special_ability_flag;
        if (data->flags & _command_target_use_closest_attack_flag)
            monster->extra_flags |= _monster_should_use_closest_range_attack_extra_flag;
        mark_ordered_unit(monster, context);
    }
    return true;
}

static bool run_attack_location(decoded_order *order, const order_context *context)
{
    const command_attack_location_data *data = (const command_attack_location_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    const uint32_t flags = data->flags & (_command_attack_location_special_ability_flag |
                                          _command_attack_location_ignore_model_collision_flag);
    for (int32_t i = 0; i < count; ++i)
    {
        set_monster_target_location(units[i], &data->point, flags);
        monster_data *monster = get_monster_data(units[i]);
        monster->flags |= _monster_responding_to_target_command_flag;
        mark_ordered_unit(monster, context);
    }
    return true;
}

static bool run_pick_up(decoded_order *order, const order_context *context)
{
    const command_pick_up_data *data = (const command_pick_up_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    if (!get_object_by_identifier(data->object_index, data->object_identifier))
    {
        // Someone took it first, or the sender named an object that never was.
        log_skipped_order(context, "the object to pick up is gone");
        return true;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        set_monster_waypoints(units[i], 0, nullptr, false, 0);
        monster_data *monster = get_monster_data(units[i]);
        monster->flags |= _monster_wants_to_pick_up_object_flag;
        monster->pick_up_object_index = data->object_index;
        monster->pick_up_object_identifier = data->object_identifier;
        mark_ordered_unit(monster, context);
    }
    return true;
}

// Scatter: each unit, in list order, runs 1024..2047 world units away from
// the group's centre, turned by up to an eighth of a turn either way (two
// draws: the turn, then the distance); a unit on the centre takes the first
// draw as its whole direction.
static void scatter_units(const int16_t *units, int32_t count)
{
    world_point2d centre;
    get_centerpoint_of_monster_indexes(count, units, &centre);
    for (int32_t i = 0; i < count; ++i)
    {
        const world_point2d position = monster_position(get_monster_data(units[i]));
        const uint16_t turn = vesk_random();
        const uint16_t reach = vesk_random();
        angle direction;
        if (position.x == centre.x && position.y == centre.y)
            direction = turn;
        else
            direction = (angle)(arctangent(position.x - centre.x, position.y - centre.y) +
                                (((int32_t)turn * QUARTER_CIRCLE) >> 16) - EIGHTH_CIRCLE);
        const int32_t distance = 2 * WORLD_ONE + (((int32_t)reach * 2 * WORLD_ONE) >> 16);
        world_point2d point = position;
        point.x += (world_distance)(((int64_t)distance * cosine_rounded(direction)) >> TRIG_SHIFT);
        point.y += (world_distance)(((int64_t)distance * sine_rounded(direction)) >> TRIG_SHIFT);
        set_monster_waypoints(units[i], 1, &point, false, 0);
    }
}

// Retreat: away from the unit's target unit, else from the unit that last
// hurt it, else straight back from its facing.
static void retreat_unit(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const world_point2d position = monster_position(monster);
    world_point2d threat = position;
    const monster_data *target = (monster->flags & _monster_has_valid_target_index_flag)
                                     ? get_monster_data(monster->target_monster_index)
                                     : nullptr;
    if (!target && monster->aggressor_monster_index != NONE &&
        !monsters_are_allied(monster_index, monster->aggressor_monster_index))
        target = get_monster_data(monster->aggressor_monster_index);
    if (target && target != monster) threat = monster_position(target);
    world_point2d destination;
    if (generate_point_of_retreat(monster_index, &threat, &destination, nullptr))
        set_monster_waypoints(monster_index, 1, &destination, false, 0);
}

static bool run_general(decoded_order *order, const order_context *context)
{
    const command_general_data *data = (const command_general_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    if (data->type < 0 || data->type >= NUMBER_OF_COMMAND_GENERAL_TYPES)
    {
        log_skipped_order(context, "a general order outside the table");
        return true;
    }
    if (data->type == _command_general_scatter) scatter_units(units, count);
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t index = units[i];
        monster_data *monster = get_monster_data(index);
        switch (data->type)
        {
        case _command_general_stop:
        case _command_general_special_ability:
        case _command_general_guard:
        {
            // The next update stops the unit (and uses its reflexive special
            // ability when told to); a guard then holds where it stands.
            set_monster_waypoints(index, 0, nullptr, false, 0);
            monster->flags &= ~(uint32_t)_monster_needs_new_path_flag;
            unit_obstacle_facts_changed(monster);
            monster->flags |= _monster_needs_to_stop_flag | _monster_was_stopped_flag;
            if (data->type == _command_general_special_ability)
                monster->flags |= _monster_will_use_special_ability_flag;
            if (data->type == _command_general_guard) monster->flags |= _monster_standing_ground_flag;
            break;
        }
        case _command_general_retreat: retreat_unit(index); break;
        case _command_general_taunt: make_monster_taunt(index); break;
        case _command_general_celebrate: make_monster_celebrate(index); break;
        default: break; // scatter: above
        }
        monster = get_monster_data(index);
        if (monster) mark_ordered_unit(monster, context);
    }
    return true;
}

static bool run_rename(decoded_order *order, const order_context *context)
{
    int16_t *units = order->units;
    const int32_t count = order->count;
    const char *name = command_decode_string(&order->state, MAXIMUM_MONSTER_NAME_LENGTH);
    if (!name) return false;
    for (int32_t i = 0; i < count; ++i)
    {
        monster_data *monster = get_monster_data(units[i]);
        if (!monster) continue;
        memset(monster->name, 0, sizeof(monster->name));
        strncpy(monster->name, name, MAXIMUM_MONSTER_NAME_LENGTH);
        monster->display_dirty_flags |= _monster_name_dirty_flag;
        if (order_is_from_player(context)) monster->flags |= _monster_has_received_user_command_flag;
    }
    return true;
}

static bool run_rotation(decoded_order *order, const order_context *context)
{
    const command_rotation_data *data = (const command_rotation_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    const angle turn = (angle)(0x10000 - data->rotation_angle);
    for (int32_t i = 0; i < count; ++i)
    {
        monster_data *monster = get_monster_data(units[i]);
        const object_data *object = get_object(monster->object_index);
        world_point2d points[MAXIMUM_WAYPOINTS_PER_MONSTER];
        int32_t point_count = monster->waypoint_count;
        if (point_count < 0 || point_count > MAXIMUM_WAYPOINTS_PER_MONSTER) point_count = 0;
        if (point_count > 0)
            memcpy(points, monster->waypoints, sizeof(world_point2d) * (size_t)point_count);
        else
        {
            points[0] = monster_position(monster);
            point_count = 1;
        }
        for (int32_t p = 0; p < point_count; ++p) rotate_point2d(&points[p], &data->center, turn);
        const angle yaw = (monster->flags & _monster_has_final_desired_yaw_flag) ? monster->final_desired_yaw
                          : object                                               ? object->location.yaw
                                                                                 : (angle)0;
        const uint32_t loops = monster->flags & (_monster_has_looped_waypoints_flag |
                                                 _monster_has_back_and_forth_looped_waypoints_flag);
        set_monster_waypoints(units[i], point_count, points, true, (angle)(yaw + turn));
        monster->flags |= loops;
        defer_movement_if_busy(monster);
        mark_ordered_unit(monster, context);
    }
    return true;
}

// A player of the game who has not dropped.
static bool player_is_in_game(int32_t player_index)
{
    if (player_index < 0 || player_index >= get_player_count()) return false;
    const player_data *player = get_player_data(player_index);
    return player && !(player->flags & FLAG(_player_has_been_dropped_bit));
}

static bool run_detach(decoded_order *order, const order_context *context)
{
    const command_detach_data *data = (const command_detach_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    if (!player_is_in_game(data->new_owner_player_index))
    {
        log_skipped_order(context, "a new owner who is not in the game");
        return true;
    }
    for (int32_t i = 0; i < count; ++i) detach_monster(units[i], data->new_owner_player_index, false);
    return true;
}

static bool run_inventory(decoded_order *order, const order_context *context)
{
    const command_inventory_data *data = (const command_inventory_data *)order->record;
    int16_t *units = order->units;
    const int32_t count = order->count;
    const command_inventory_data copy = *data;
    if (count > 0) handle_monster_inventory_command(context->verb, context->player_index, &copy, count, units);
    return true;
}

static bool run_ally(decoded_order *order, const order_context *context)
{
    const command_ally_data *data = (const command_ally_data *)order->record;
    const int32_t teams = get_team_count();
    if (data->team0 < 0 || data->team0 >= teams || data->team1 < 0 || data->team1 >= teams ||
        data->team0 == data->team1)
    {
        log_skipped_order(context, "an alliance of teams outside the game");
        return true;
    }
    if (order_is_from_player(context))
    {
        // A player speaks for its own team only.
        const player_data *player = get_player_data(context->player_index);
        if (!player || player->team_index != data->team0)
        {
            log_skipped_order(context, "an alliance for another team");
            return true;
        }
    }
    ally_with_team(data->team0, data->team1, true);
    return true;
}

static bool run_chat(decoded_order *order, const order_context *context)
{
    const command_chat_data *data = (const command_chat_data *)order->record;
    const char *text = command_decode_string(&order->state, MAXIMUM_CHAT_MESSAGE_LENGTH);
    if (!text) return false;
    const auto chat = get_console_procedures()->chat_command;
    if (chat)
        chat(context->player_index, data->flags, text);
    else
        log_message(__FILE__, __LINE__, "chat of player %d: %s", context->player_index, text);
    return true;
}

static bool run_preset_selection(decoded_order *order, const order_context *context)
{
    const command_preset_selection_data *data = (const command_preset_selection_data *)order->record;
    int16_t count = 0;
    const int16_t *identifiers = (const int16_t *)command_decode_array(&order->state, &count, sizeof(int16_t),
                                                                      command_unit_identifier_byte_swapping_data);
    if (!identifiers) return false;
    if ((data->flags & _preset_selection_reports_current_selection_flag) && count >= 0 && count <= maximum_units_per_command() &&
        context->player_index >= 0 && context->player_index < MAXIMUM_PLAYERS_PER_MAP)
    {
        monster_command_globals.selection_reported = true;
        monster_command_globals.reported_selection_counts[context->player_index] = count;
        memcpy(monster_command_globals.reported_selections[context->player_index], identifiers,
               sizeof(int16_t) * (size_t)count);
        return true;
    }
    if (data->preset_index < 0 || data->preset_index >= MAXIMUM_PRESET_SELECTIONS ||
        count > maximum_units_per_command())
    {
        log_skipped_order(context, "a preset outside 0..15 or too many units");
        return true;
    }
    // Presets are the local player's own: only that player's command fills one.
    const preset_selection_procedure preset = preset_selection_slot.get();
    if (preset && context->player_index == local_player_index && local_player_index != NONE)
        preset(data->preset_index, count, identifiers);
    return true;
}

static bool run_drop_player(decoded_order *order, const order_context *context)
{
    if (order->state.failed) return false;
    if (!player_is_in_game(context->player_index))
    {
        log_skipped_order(context, "the player has dropped already");
        return true;
    }
    drop_player(context->player_index);
    delete_custom_unit_definitions_for_player(context->player_index);
    const auto forget = get_networking_procedures()->forget_dropped_player;
    const player_data *player = get_player_data(context->player_index);
    if (forget && player && game_->type == _game_type_networked) forget(player->unique_identifier);
    return true;
}

typedef bool (*unit_verb_procedure)(decoded_order *order, const order_context *context);

// One row a verb: what carries it out and what its command holds before the
// verb's own fields: its record (none when `record_size` is 0) and, when
// `names_units`, the list of units it orders.  Verbs that are not the
// units' have no row.  The four inventory verbs share one procedure, which
// reads the verb from the context.
// What a verb's procedure reads after the prelude (read_unit_command reads it
// too, so that a command is known to decode before it travels).
enum unit_verb_tail : uint8_t
{
    _no_tail,
    _waypoints_tail,  // an array of world_point2d
    _units_tail,      // a second list of unit identifiers
    _name_tail,       // a string of at most MAXIMUM_MONSTER_NAME_LENGTH
    _chat_tail,       // a string of at most MAXIMUM_CHAT_MESSAGE_LENGTH
};

struct unit_verb
{
    unit_verb_procedure run;
    int16_t record_size;
    const byte_swap_code *record_byte_swapping;
    bool names_units;
    unit_verb_tail tail;
};
#define UNIT_VERB(procedure, record, names_units, tail) \
    unit_verb{procedure, (int16_t)sizeof(record), record##_byte_swapping_data, names_units, tail}

static constexpr std::array<unit_verb, NUMBER_OF_COMMAND_VERBS> unit_verbs = [] {
    std::array<unit_verb, NUMBER_OF_COMMAND_VERBS> table{};
    table[_command_general] = UNIT_VERB(run_general, command_general_data, true, _no_tail);
    table[_command_movement] = UNIT_VERB(run_movement, command_movement_data, true, _waypoints_tail);
    table[_command_target] = UNIT_VERB(run_target, command_target_data, true, _units_tail);
    table[_command_attack_location] = UNIT_VERB(run_attack_location, command_attack_location_data, true, _no_tail);
    table[_command_pick_up] = UNIT_VERB(run_pick_up, command_pick_up_data, true, _no_tail);
    table[_command_rename] = UNIT_VERB(run_rename, command_rename_data, true, _name_tail);
    table[_command_rotation] = UNIT_VERB(run_rotation, command_rotation_data, true, _no_tail);
    table[_command_drop_player] = unit_verb{run_drop_player, 0, nullptr, false, _no_tail};
    table[_command_chat] = UNIT_VERB(run_chat, command_chat_data, false, _chat_tail);
    table[_command_detach] = UNIT_VERB(run_detach, command_detach_data, true, _no_tail);
    table[_command_ally] = UNIT_VERB(run_ally, command_ally_data, false, _no_tail);
    table[_command_preset_selection] =
        UNIT_VERB(run_preset_selection, command_preset_selection_data, false, _units_tail);
    table[_command_inventory] = UNIT_VERB(run_inventory, command_inventory_data, true, _no_tail);
    table[_command_inventory_drop] = UNIT_VERB(run_inventory, command_inventory_data, true, _no_tail);
    table[_command_inventory_prev] = UNIT_VERB(run_inventory, command_inventory_data, true, _no_tail);
    table[_command_inventory_next] = UNIT_VERB(run_inventory, command_inventory_data, true, _no_tail);
    return table;
}();
#undef UNIT_VERB

// Carries out a unit verb's command: a player's queued one (`internal_identifier`
// NONE) or a map action's (its identifier).  The prelude every verb shares
// decodes the record and the units it names; a command that does not decode
// is refused (false) before the verb's procedure sees it.
static bool run_unit_command(command_header *command, int16_t internal_identifier)
{
    const int32_t verb = command->verb;
    if (verb < 0 || verb >= NUMBER_OF_COMMAND_VERBS || !unit_verbs[verb].run) return false;
    const unit_verb *row = &unit_verbs[verb];
    order_context context;
    context.internal_identifier = internal_identifier;
    context.player_index = internal_identifier == NONE ? command->player_index : (int16_t)NONE;
    context.verb = command->verb;
    context.time = 0;

    decoded_order order;
    order.record = nullptr;
    order.units = monster_command_globals.units;
    order.count = 0;
    command_decode_new(&order.state, command, context.verb);
    if (row->record_size > 0)
    {
        order.record = command_decode_data(&order.state, row->record_size, row->record_byte_swapping);
        if (!order.record) return false;
    }
    if (row->names_units &&
        !decode_ordered_units(&order.state, &context, order_is_from_player(&context), order.units, &order.count))
        return false;
    return row->run(&order, &context);
}

// The executor's procedure of every unit verb: a queued command, the
// player's (already checked by the executor to be one of the game).
static bool execute_queued_unit_command(command_header *command)
{
    return run_unit_command(command, NONE);
}

// The reader of every unit verb: the prelude's fields and the verb's tail,
// each only as to its shape (which units it names is the executor's to judge).
static void read_unit_command(command_codec_state *state, command_header *command)
{
    const int32_t verb = command->verb;
    command_decode_new(state, command, command->verb);
    if (verb < 0 || verb >= NUMBER_OF_COMMAND_VERBS || !unit_verbs[verb].run) return;
    const unit_verb *row = &unit_verbs[verb];
    int16_t count = 0;
    if (row->record_size > 0) command_decode_data(state, row->record_size, row->record_byte_swapping);
    if (row->names_units)
        command_decode_array(state, &count, sizeof(int16_t), command_unit_identifier_byte_swapping_data);
    switch (row->tail)
    {
    case _waypoints_tail:
        command_decode_array(state, &count, sizeof(world_point2d), command_waypoint_byte_swapping_data);
        break;
    case _units_tail:
        command_decode_array(state, &count, sizeof(int16_t), command_unit_identifier_byte_swapping_data);
        break;
    case _name_tail: command_decode_string(state, MAXIMUM_MONSTER_NAME_LENGTH); break;
    case _chat_tail: command_decode_string(state, MAXIMUM_CHAT_MESSAGE_LENGTH); break;
    case _no_tail: break;
    }
}

void register_monster_command_hooks(void)
{
    for (int16_t verb = 0; verb < NUMBER_OF_COMMAND_VERBS; ++verb)
        if (unit_verbs[verb].run)
        {
            register_command_verb_procedure(verb, execute_queued_unit_command);
            register_command_verb_reader_procedure(verb, read_unit_command);
        }
    // The selection reports are per map too; this module's map step is the formations'.
    register_map_store_procedures(_startup_formations,
                                  [](const new_game_data *) {
                                      forget_reported_selections();
                                      return initialize_formations_for_new_map();
                                  },
                                  dispose_formations_from_old_map);
    register_startup_procedure(_startup_formations, initialize_formations);
}
