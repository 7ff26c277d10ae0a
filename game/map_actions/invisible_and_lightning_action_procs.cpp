// 'invi': a search party hunts one invisible unit.  Searchers wander between
// waypoints, notice the unit when it moves close by, turn to watch or sniff,
// yell, attack the ground where they suspect it and finally attack it; the
// hunt ends when the unit shows itself, dies, or no searcher is left.
// 'ligh': a lightning projectile strikes at an ambient sound source, aimed at
// the nearest subject within a radius.

#include "invisible_and_lightning_action_procs.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "action_procs.h"
#include "map_action_engine.h"
#include "markers.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monsters.h"
#include "objects.h"
#include "projectiles.h"
#include "script_math.h"
#include "vesk_random.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MONSTERS_PER_SEARCH_GROUP = 32,
    MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP = 16,
    SEARCH_WAYPOINT_RADIUS = 1536,
    SEARCH_IN_MEDIA_DISTANCE_THRESHOLD = 4096,
    SEARCH_NORMAL_DISTANCE_THRESHOLD = 2048,
    SEARCH_INITIAL_SUSPICION = 0,
    SEARCH_SUSPICION_DELTA = 21, // on a scale where 256 is certainty
    SEARCH_SUSPICION_DECREMENT = 10,
    SEARCH_ATTACK_GROUND_SLOP = 1536,
    MAXIMUM_LIGHTNING_SUBJECTS = 400,
};

enum searcher_state : int16_t
{
    _unit_moving = 0,
    _unit_moving_dont_interrupt_unless_moves,
    _unit_watching_media,
    _unit_yelling,
    _unit_yelling_to_attack_ground,
    _unit_sniffing,
    _unit_attacking,
    _unit_attacking_ground,
    NUMBER_OF_SEARCHER_STATES
};

static const char *const state_names[NUMBER_OF_SEARCHER_STATES] = {
    "moving",   "moving (don't interrupt)", "watching media", "yelling", "yelling and attacking ground",
    "sniffing", "attacking",                "attacking ground",
};

// The run-time record stored whole in the action's '#glo' entry (host order,
// as every script's run-time record).
struct searcher_data
{
    int16_t monster_index;
    int16_t monster_identifier;
    int16_t state; // searcher_state
    int8_t delay; // triggers until the state's next step
    int8_t count; // ground attacks left
    short_fixed suspicion;
};
static_assert(sizeof(searcher_data) == 10);
static_assert(offsetof(searcher_data, delay) == 6);
static_assert(offsetof(searcher_data, suspicion) == 8);

struct invisible_globals
{
    int16_t invisible_monster_index;
    int16_t invisible_monster_identifier;
    world_point2d last_invisible_monster_location;
    uint8_t invisible_monster_moved; // boolean
    uint8_t pad[3];
    world_distance in_media_distance_threshold;
    world_distance normal_distance_threshold;
    int16_t action_index;
    short_fixed initial_suspicion;
    short_fixed suspicion_delta;
    short_fixed suspicion_decrement;
    world_distance attack_ground_slop;
    int16_t unit_count;
    searcher_data units[MAXIMUM_MONSTERS_PER_SEARCH_GROUP];
    int16_t waypoint_count;
    world_point2d waypoints[MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP];
    world_distance waypoint_radius;
};
static_assert(sizeof(invisible_globals) == 492);
static_assert(offsetof(invisible_globals, last_invisible_monster_location) == 4);
static_assert(offsetof(invisible_globals, invisible_monster_moved) == 12);
static_assert(offsetof(invisible_globals, in_media_distance_threshold) == 16);
static_assert(offsetof(invisible_globals, normal_distance_threshold) == 20);
static_assert(offsetof(invisible_globals, action_index) == 24);
static_assert(offsetof(invisible_globals, initial_suspicion) == 26);
static_assert(offsetof(invisible_globals, attack_ground_slop) == 32);
static_assert(offsetof(invisible_globals, unit_count) == 36);
static_assert(offsetof(invisible_globals, units) == 38);
static_assert(offsetof(invisible_globals, waypoint_count) == 358);
static_assert(offsetof(invisible_globals, waypoints) == 360);
static_assert(offsetof(invisible_globals, waypoint_radius) == 488);

static short_fixed clamp_suspicion(int32_t value)
{
    return (short_fixed)(value < 0 ? 0 : (value > INT16_MAX ? INT16_MAX : value));
}

// A draw modulo `range`, for the offsets round a point: 0 for an empty range
// (the draw is still taken, so the order of draws does not depend on it).
static int32_t random_below(int32_t range) { return rem32_guarded((int32_t)vesk_random(), range); }

static void move_searcher(const invisible_globals *globals, searcher_data *searcher, uint16_t flags, angle facing,
                          world_point2d destination)
{
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    command.flags = flags;
    command.final_facing = facing;
    handle_movement_command(get_map_action_identifier(globals->action_index), &command, 1, &searcher->monster_index,
                            1, &destination);
}

// Gives the searcher its new state and the order that goes with it.
static void set_unit_state(invisible_globals *globals, searcher_data *searcher, int16_t state,
                           const world_point2d *target)
{
    const int16_t identifier = get_map_action_identifier(globals->action_index);
    const int16_t unit = searcher->monster_index;
    world_point2d at = {0, 0};
    const bool placed = monster_position(unit, &at);
    searcher->state = state;
    switch (state)
    {
    case _unit_moving:
    case _unit_moving_dont_interrupt_unless_moves:
    {
        world_point2d destination;
        if (target)
        {
            destination = *target;
            move_searcher(globals, searcher, _command_movement_final_facing_flag,
                          arctangent(target->x - at.x, target->y - at.y), destination);
        }
        else if (globals->waypoint_count > 0)
        {
            destination = globals->waypoints[random_below(globals->waypoint_count)];
            const int32_t radius = globals->waypoint_radius;
            destination.x = add32_wrap(destination.x - radius, random_below(2 * radius));
            destination.y = add32_wrap(destination.y - radius, random_below(2 * radius));
            move_searcher(globals, searcher, 0, 0, destination);
        }
        else
        {
            // Nowhere to wander: the searcher stands still (no order, no draw)
            // and looks again after the shortest wait.
            searcher->delay = 2;
            break;
        }
        const monster_data *monster = get_monster_data(unit);
        const int32_t speed = monster ? monster->base_movement_speed : 0;
        int32_t delay = 2;
        if (speed > 0 && placed) delay += distance2d(&destination, &at) / (speed * 32);
        // The wait is kept in a signed byte: a long walk waits the longest it
        // can hold instead of wrapping to a wait that has already run out.
        searcher->delay = (int8_t)(delay > INT8_MAX ? INT8_MAX : delay);
        break;
    }
    case _unit_watching_media:
    case _unit_sniffing:
        if (!VASSERT(target, "target")) break;
        move_searcher(globals, searcher, _command_movement_final_facing_flag,
                      arctangent(target->x - at.x, target->y - at.y), at);
        searcher->delay = (int8_t)(2 + (vesk_random() & 3));
        break;
    case _unit_yelling:
    case _unit_yelling_to_attack_ground:
    {
        command_general_data command;
        memset(&command, 0, sizeof(command));
        command.type = _command_general_special_ability;
        handle_general_command(identifier, &command, 1, &unit);
        searcher->delay = 1;
        break;
    }
    case _unit_attacking:
    {
        command_target_data command;
        memset(&command, 0, sizeof(command));
        handle_target_command(identifier, &command, 1, &unit, 1, &globals->invisible_monster_index);
        break;
    }
    case _unit_attacking_ground:
    {
        if (!VASSERT(target, "target")) break;
        const int32_t slop = globals->attack_ground_slop;
        world_point2d point;
        point.x = add32_wrap(target->x - slop / 2, random_below(slop));
        point.y = add32_wrap(target->y - slop / 2, random_below(slop));
        world_distance height = get_mesh_height(&point, _mesh_ground_height);
        const mesh_cell *cell = get_mesh_cell(asr32(point.x, 9), asr32(point.y, 9));
        if ((cell->flags & _mesh_cell_carries_media_flags) && height < cell->media_height) height = cell->media_height;
        command_attack_location_data command;
        memset(&command, 0, sizeof(command));
        command.flags = _command_attack_location_from_map_action_flag;
        command.point = {point.x, point.y, height};
        handle_attack_location_command(identifier, &command, 1, &unit);
        searcher->delay = 4;
        if (searcher->count == 0) searcher->count = (int8_t)(vesk_random() % 6);
        break;
    }
    default:
    {
        char text[64];
        snprintf(text, sizeof(text), "what is state %d?", state);
        HALT(text);
        return;
    }
    }
    map_action_debug(globals->action_index, "unit %d set to state %s", unit, state_names[state]);
}

static bool new_invisible_globals(int32_t action_index, invisible_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->initial_suspicion = SEARCH_INITIAL_SUSPICION;
    globals->suspicion_delta = SEARCH_SUSPICION_DELTA;
    globals->suspicion_decrement = SEARCH_SUSPICION_DECREMENT;
    globals->attack_ground_slop = SEARCH_ATTACK_GROUND_SLOP;
    globals->action_index = (int16_t)action_index;

    int16_t hunted[2];
    int32_t identifier_count = 0;
    const int32_t hunted_count =
        named_units(action_index, field('i', 'n', 'v', 'i'), hunted, 2, &identifier_count);
    if (hunted_count != 1 || identifier_count != 1)
    {
        map_action_error(action_index, "unable to get the invisible unit! (or more than 1)");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    globals->invisible_monster_index = hunted[0];
    globals->invisible_monster_identifier = get_monster_data(hunted[0])->identifier;

    int16_t searchers[MAXIMUM_MONSTERS_PER_SEARCH_GROUP];
    const int32_t count =
        named_units(action_index, _common_field_name_subject, searchers, MAXIMUM_MONSTERS_PER_SEARCH_GROUP);
    for (int32_t i = 0; i < count; i++)
    {
        searcher_data *searcher = &globals->units[i];
        searcher->monster_index = searchers[i];
        searcher->monster_identifier = get_monster_data(searchers[i])->identifier;
        searcher->state = _unit_moving;
        searcher->delay = (int8_t)(vesk_random() % 12);
        searcher->count = 0;
        searcher->suspicion = globals->initial_suspicion;
    }
    globals->unit_count = (int16_t)count;
    map_action_debug(action_index, "#%d pursuing monsters active", count);

    world_point2d waypoints[MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP + 1];
    const int32_t waypoint_count = get_combined_map_action_parameter(
        action_index, field('w', 'a', 'y', 'p'), _parameter_world_point2d, waypoints,
        MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP + 1);
    if (waypoint_count > MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP)
    {
        map_action_error(action_index, "too many waypoints in search group!");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    memcpy(globals->waypoints, waypoints, sizeof(world_point2d) * (size_t)waypoint_count);
    globals->waypoint_count = (int16_t)waypoint_count;
    globals->waypoint_radius = SEARCH_WAYPOINT_RADIUS;

    globals->in_media_distance_threshold = SEARCH_IN_MEDIA_DISTANCE_THRESHOLD;
    globals->normal_distance_threshold = SEARCH_NORMAL_DISTANCE_THRESHOLD;
    return true;
}

// The searcher faces P: the projection of S->P on its yaw is positive.
static bool searcher_faces(const object_data *object, world_point2d p)
{
    const angle yaw = object->location.yaw;
    const int64_t dot = (int64_t)cosine_rounded(yaw) * ((int64_t)p.x - object->location.position.x) +
                        (int64_t)sine_rounded(yaw) * ((int64_t)p.y - object->location.position.y);
    return dot > 0;
}

static void step_searcher(invisible_globals *globals, searcher_data *searcher, bool moved, world_point2d p)
{
    searcher->delay = (int8_t)(searcher->delay - 1);
    const int32_t d = searcher->delay;
    switch (searcher->state)
    {
    case _unit_moving:
    case _unit_moving_dont_interrupt_unless_moves:
        if (d < 0)
        {
            set_unit_state(globals, searcher, _unit_moving, nullptr);
            searcher->suspicion = clamp_suspicion(searcher->suspicion - globals->suspicion_decrement);
        }
        break;
    case _unit_watching_media:
        if (d <= 1)
        {
            if (moved)
                set_unit_state(globals, searcher, _unit_yelling, nullptr);
            else if (d < 0)
            {
                searcher->suspicion = clamp_suspicion(searcher->suspicion + globals->suspicion_delta);
                const int32_t r = vesk_random() & 0xff;
                if (r < searcher->suspicion)
                    set_unit_state(globals, searcher, _unit_yelling, nullptr);
                else
                    set_unit_state(globals, searcher, _unit_moving_dont_interrupt_unless_moves, nullptr);
            }
        }
        break;
    case _unit_yelling:
        if (d < 0) set_unit_state(globals, searcher, _unit_attacking, nullptr);
        break;
    case _unit_yelling_to_attack_ground:
        if (d < 0) set_unit_state(globals, searcher, _unit_attacking_ground, &p);
        break;
    case _unit_sniffing:
        if (d < 0)
        {
            searcher->suspicion = clamp_suspicion(searcher->suspicion + globals->suspicion_delta);
            const int32_t r = vesk_random() & 0xff;
            if (r >= searcher->suspicion)
                set_unit_state(globals, searcher, _unit_moving_dont_interrupt_unless_moves, nullptr);
            else if (r >= searcher->suspicion / 2)
                set_unit_state(globals, searcher, _unit_moving_dont_interrupt_unless_moves, &p);
            else
                set_unit_state(globals, searcher, _unit_yelling_to_attack_ground, nullptr);
        }
        break;
    case _unit_attacking:
        break;
    case _unit_attacking_ground:
        if (moved) searcher->count = (int8_t)(searcher->count + 1);
        if (d < 0)
        {
            searcher->count = (int8_t)(searcher->count - 1);
            if (searcher->count >= 0)
                set_unit_state(globals, searcher, _unit_attacking_ground, &p);
            else
            {
                set_unit_state(globals, searcher, _unit_moving, nullptr);
                searcher->count = 0;
            }
        }
        break;
    default:
    {
        // A state no step knows is kept as it is.
        char text[64];
        snprintf(text, sizeof(text), "what is state: %d?", searcher->state);
        HALT(text);
        break;
    }
    }
}

static bool searchers_sound(int32_t action_index, const invisible_globals &globals)
{
    if (globals.action_index != action_index) return false;
    const int32_t maximum = MAXIMUM_MONSTERS_PER_SEARCH_GROUP;
    const int32_t count = globals.unit_count < 0 ? 0 : (globals.unit_count > maximum ? maximum : globals.unit_count);
    for (int32_t i = 0; i < count; i++)
        if (globals.units[i].state < 0 || globals.units[i].state >= NUMBER_OF_SEARCHER_STATES) return false;
    return true;
}

uint32_t invisible_action_proc(int32_t action_index)
{
    invisible_globals globals;
    const field_tag globals_name = _common_internal_field_name_globals;
    // A stored record of another action or with a searcher in a state no
    // step knows counts as missing, like one of the wrong size.
    if ((!get_map_action_structure(action_index, globals_name, sizeof(globals), &globals) ||
         !searchers_sound(action_index, globals)) &&
        !new_invisible_globals(action_index, &globals))
        return 0;
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");
    if (globals.unit_count < 0 || globals.unit_count > MAXIMUM_MONSTERS_PER_SEARCH_GROUP) globals.unit_count = 0;
    if (globals.waypoint_count < 0 || globals.waypoint_count > MAXIMUM_WAYPOINTS_PER_SEARCH_GROUP)
        globals.waypoint_count = 0;

    const monster_data *hunted = get_monster_data(globals.invisible_monster_index);
    world_point2d p = {0, 0};
    const bool exists = hunted && hunted->identifier == globals.invisible_monster_identifier &&
                        monster_position(globals.invisible_monster_index, &p);
    // A vanished unit has not moved: no sighting, no draw.
    bool moved = false, in_media = false;
    if (exists)
    {
        const object_data *object = monster_object(globals.invisible_monster_index);
        in_media = (object->flags & (_object_on_media_flag | _object_partially_under_media_flag |
                                     _object_wholly_under_media_flag)) != 0;
        moved = to_u16(p.x) != to_u16(globals.last_invisible_monster_location.x) ||
                to_u16(p.y) != to_u16(globals.last_invisible_monster_location.y);
    }
    globals.invisible_monster_moved = moved;

    int32_t kept = 0;
    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        searcher_data searcher = globals.units[i];
        const monster_data *monster = get_monster_data(searcher.monster_index);
        const object_data *object = monster_object(searcher.monster_index);
        if (!monster || monster->identifier != searcher.monster_identifier || !object)
        {
            call_functions_with_actions_in_parameter(activate_map_action, action_index, field('c', 'a', 's', 'u'));
            continue;
        }
        if (moved && (searcher.state == _unit_moving || searcher.state == _unit_moving_dont_interrupt_unless_moves))
        {
            const world_point2d at = {object->location.position.x, object->location.position.y};
            const world_distance threshold =
                in_media ? globals.in_media_distance_threshold : globals.normal_distance_threshold;
            if (distance2d(&at, &p) < threshold &&
                (searcher_faces(object, p) || (int32_t)(vesk_random() & 0xff) < searcher.suspicion))
                set_unit_state(&globals, &searcher, in_media ? _unit_watching_media : _unit_sniffing, &p);
        }
        globals.units[kept++] = searcher;
    }
    globals.unit_count = (int16_t)kept;
    if (exists) globals.last_invisible_monster_location = p;

    // The lists just run may have changed the world: look the unit up again.
    hunted = exists ? get_monster_data(globals.invisible_monster_index) : nullptr;
    uint32_t result = 0;
    if (kept == 0 || !hunted || hunted->identifier != globals.invisible_monster_identifier)
        result = _map_action_proc_deactivate_flag;
    else if (!(hunted->extra_flags & _monster_is_invisible_extra_flag))
    {
        call_functions_with_actions_in_parameter(activate_map_action, action_index, field('v', 'i', 's', 'i'));
        result = _map_action_proc_deactivate_flag;
    }
    else
    {
        for (int32_t i = 0; i < globals.unit_count; i++) step_searcher(&globals, &globals.units[i], moved, p);
    }
    // Kept also when the hunt ends, so an action activated again does not
    // announce the same casualties twice.
    set_unique_map_action_parameter(action_index, globals_name, _parameter_character, sizeof(globals), &globals);
    return result;
}

// The strike point: the sound-source marker's position, whether or not any
// sound plays, so silent and audible machines agree.  (0, 0, 0) when the map
// has no such marker.
static world_point3d ambient_sound_source_location(int16_t identifier)
{
    const marker_data *marker = get_marker_by_identifier(_marker_sound_source, identifier);
    return marker ? marker->location.position : world_point3d{0, 0, 0};
}

uint32_t lightning_action_proc(int32_t action_index)
{
    int16_t subjects[MAXIMUM_LIGHTNING_SUBJECTS];
    const int32_t subject_count =
        named_units(action_index, _common_field_name_subject, subjects, MAXIMUM_LIGHTNING_SUBJECTS);
    if (subject_count == 0)
    {
        map_action_error(action_index, "no subjects found!");
        return 0;
    }
    int16_t source;
    if (!first_short(action_index, field('s', 'o', 'u', 'n'), _parameter_sound_source_identifier, &source))
    {
        map_action_debug(action_index, "no central sound source identifier found!");
        return 0;
    }
    int32_t radius;
    if (!first_long(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance, &radius))
    {
        map_action_debug(action_index, "no radius parameter found!");
        return 0;
    }
    int32_t projectile_type;
    if (!first_long(action_index, field('p', 'r', 'o', 'j'), _parameter_projectile_tag, &projectile_type))
    {
        map_action_debug(action_index, "no lightning tag found!");
        return 0;
    }

    const world_point3d location = ambient_sound_source_location(source);
    const world_point2d center = {location.x, location.y};
    int32_t target = NONE;
    world_distance nearest = 0;
    for (int32_t i = 0; i < subject_count; i++)
    {
        world_point2d at;
        if (!monster_position(subjects[i], &at)) continue;
        const world_distance distance = distance2d(&center, &at);
        if (distance < radius && (target == NONE || distance < nearest))
        {
            target = subjects[i];
            nearest = distance;
        }
    }

    new_projectile_data data;
    memset(&data, 0, sizeof(data));
    // A tag that named no definition was resolved to NONE; the projectile
    // module refuses it.
    data.type = projectile_type >= 0 && projectile_type <= INT16_MAX ? (int16_t)projectile_type : (int16_t)NONE;
    data.flags = _projectile_detonates_immediately_flag;
    data.location.position = location;
    data.damage_scale = 0x100;
    data.owner_monster_index = data.owner_projectile_index = data.owner_object_index = NONE;
    data.target_monster_index = (int16_t)target;
    new_projectile(&data);
    return 0;
}
