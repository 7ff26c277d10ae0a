#include "monster_ambient_life.h"

#include <cstdio>
#include <cstring>

#include "cseries/log.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_life.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "script_math.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "unit_cell_scan.h"
#include "vesk_random.h"

enum
{
    // The movement executor has no running pace of its own: the bit travels
    // with the order so that a retreat is told apart from a wander.
    _command_movement_run_flag = 0x20,

    MOVEMENT_RADIUS_CLAMP_CELL = 512,
    AMBIENT_TICKS_PER_TRIGGER = 30,

    BEAR_WANDER_RADIUS_LOWER_BOUND = 512,
    BEAR_WANDER_RADIUS_DELTA = 5120,
    BEAR_THREAT_SCAN_WIDTH = 6,
    BEAR_RETREATING_TIME_LOWER_BOUND = 150,
    BEAR_RETREATING_TIME_DELTA = 60,
    BEAR_RETREAT_FROM_ATTACKER_RADIUS = 7680,
    BEAR_REST_TIME_DELTA = 240,

    DEER_WANDER_RADIUS_LOWER_BOUND = 512,
    DEER_WANDER_RADIUS_DELTA = 2560,
    DEER_THREAT_SCAN_WIDTH = 6,
    DEER_RETREATING_TIME_LOWER_BOUND = 150,
    DEER_RETREATING_TIME_DELTA = 60,
    DEER_REST_TIME_LOWER_BOUND = 540,
    DEER_REST_TIME_DELTA = 600,

    CHICKEN_FLEE_RADIUS_LOWER_BOUND = 1536,
    CHICKEN_FLEE_RADIUS_DELTA = 3072,
    CHICKEN_WANDER_RADIUS_DELTA = 2560,
    CHICKEN_THREAT_SCAN_WIDTH = 3,
    CHICKEN_TICKS_BETWEEN_MOVEMENT_DELTA = 150,
    CHICKEN_TICKS_BETWEEN_MOVEMENT_OFFSET = -60,

    PEASANT_WANDER_RADIUS_LOWER_BOUND = 5120,
    PEASANT_WANDER_RADIUS_DELTA = 5120,
    PEASANT_REST_TIME_OFFSET = -60,
    PEASANT_REST_TIME_DELTA = 300,

    SOARING_HEIGHT_LOWER_BOUND = 1280,
    SOARING_PHASE_LOWER_BOUND = 90,
    SOARING_PHASE_DELTA = 30,
    SOARING_POSITION_IN_CELL_DELTA = 511,
    SOARING_REST_TIME_OFFSET = -60,

    _walking_permutation = 18,
    _running_permutation = 19,
    _gliding_permutation = 20,
};

static struct
{
    uint8_t memory_pool[MAP_ACTION_MEMORY_POOL_SIZE];
    uint8_t scratch[MAP_ACTION_MEMORY_POOL_SIZE];
    int32_t memory_pool_size;
    int32_t free_space_left_in_pool;
    // The size each unit's block was allocated with: the unit's definition
    // may change afterwards, and compaction must copy what was handed out.
    uint8_t block_sizes[MAXIMUM_MONSTERS_PER_MAP];
} ambient_life_globals;

// ---- the pool ----------------------------------------------------------------------------

void initialize_monster_map_action_memory_pool_for_new_map(void)
{
    ambient_life_globals.memory_pool_size =
        current_gameplay_version < 1721 ? MAP_ACTION_MEMORY_POOL_SIZE_172 : MAP_ACTION_MEMORY_POOL_SIZE;
    ambient_life_globals.free_space_left_in_pool = ambient_life_globals.memory_pool_size;
    memset(ambient_life_globals.memory_pool, 0, sizeof(ambient_life_globals.memory_pool));
    memset(ambient_life_globals.block_sizes, 0, sizeof(ambient_life_globals.block_sizes));
}

int32_t get_free_space_left_in_pool(void) { return ambient_life_globals.free_space_left_in_pool; }
int32_t get_memory_pool_size(void) { return ambient_life_globals.memory_pool_size; }

int32_t get_map_action_data_size(action_tag tag)
{
    switch (tag)
    {
    case _bear_action_tag: return sizeof(bear_action_data);
    case _deer_action_tag: return sizeof(deer_action_data);
    case _chicken_action_tag: return sizeof(chicken_action_data);
    case _peasant_action_tag: return sizeof(peasant_action_data);
    case _soaring_action_tag: return sizeof(soaring_action_data);
    default: return 0;
    }
}

// The unit's block when its offset and recorded size lie inside the pool.
static uint8_t *block_of(const monster_data *monster, int32_t monster_index)
{
    if (!monster || monster->monster_map_action_data == NONE) return nullptr;
    const int32_t offset = monster->monster_map_action_data;
    const int32_t size = ambient_life_globals.block_sizes[monster_index];
    if (offset < 0 || size <= 0 || offset + size > ambient_life_globals.memory_pool_size) return nullptr;
    return ambient_life_globals.memory_pool + offset;
}

void *get_monster_map_action_data(int32_t monster_index)
{
    return block_of(get_monster_data(monster_index), monster_index);
}

void compact_map_action_memory_pool(void)
{
    datum_globals *units = get_monster_array();
    int32_t total = 0;
    for (int32_t index = 0; index < units->count && index < MAXIMUM_MONSTERS_PER_MAP; index++)
    {
        monster_data *monster = get_monster_data(index);
        if (!monster || monster->monster_map_action_data == NONE) continue;
        uint8_t *block = block_of(monster, index);
        const int32_t size = ambient_life_globals.block_sizes[index];
        if (!block || total + size > (int32_t)sizeof(ambient_life_globals.scratch))
        {
            // Nothing the pool handed out can get here; a block that would
            // is dropped rather than copied past either area.
            VASSERT(false, "an ambient-life block lies outside the pool");
            monster->monster_map_action_data = NONE;
            continue;
        }
        memcpy(ambient_life_globals.scratch + total, block, (size_t)size);
        monster->monster_map_action_data = total;
        total += size;
    }
    memcpy(ambient_life_globals.memory_pool, ambient_life_globals.scratch, (size_t)total);
    ambient_life_globals.free_space_left_in_pool = ambient_life_globals.memory_pool_size - total;
    VASSERT(ambient_life_globals.free_space_left_in_pool >= 0, "free_space_left_in_pool >= 0");
}

// ---- defaults ------------------------------------------------------------------------------

static const object_data *ambient_unit_object(const monster_data *monster)
{
    return monster ? get_object(monster->object_index) : nullptr;
}

static world_point2d object_position(const object_data *object)
{
    return {object->location.position.x, object->location.position.y};
}

static void initialize_bear_action_data_to_default(int32_t monster_index, void *block)
{
    bear_action_data *data = (bear_action_data *)block;
    const object_data *object = ambient_unit_object(get_monster_data(monster_index));
    data->flags = 0;
    data->ticks_until_next_movement = -1;
    if (object)
    {
        data->original_position = object_position(object);
        data->last_vitality = object->vitality;
    }
}

static void initialize_chicken_action_data_to_default(int32_t monster_index, void *block)
{
    chicken_action_data *data = (chicken_action_data *)block;
    const object_data *object = ambient_unit_object(get_monster_data(monster_index));
    data->ticks_until_next_movement = -1;
    if (object) data->original_position = object_position(object);
}

// Also lifts the bird: one draw for its height over the ground.
static void initialize_soaring_action_data_to_default(int32_t monster_index, void *block)
{
    soaring_action_data *data = (soaring_action_data *)block;
    data->ticks_until_next_movement = -1;
    data->ticks_until_glide_transition = -1;
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    const world_point2d at = object_position(object);
    const world_distance ground = get_mesh_height(&at, _mesh_ground_height);
    const int32_t z = ground + (vesk_random() >> 7) + SOARING_HEIGHT_LOWER_BOUND;
    object->location.position.z = z;
    monster->height_over_mesh = to_i16(z - ground);
}

static void initialize_action_data_to_default(action_tag tag, int32_t monster_index, void *block)
{
    switch (tag)
    {
    case _bear_action_tag:
    case _deer_action_tag: initialize_bear_action_data_to_default(monster_index, block); break;
    case _chicken_action_tag:
    case _peasant_action_tag: initialize_chicken_action_data_to_default(monster_index, block); break;
    case _soaring_action_tag: initialize_soaring_action_data_to_default(monster_index, block); break;
    default: break;
    }
}

// ---- creation ------------------------------------------------------------------------------

bool create_map_action_for_monster(int32_t monster_index, action_tag tag)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    const int32_t action_index = new_map_action(NONE);
    // The unit simply has no behaviour ("couldn't create new map action for
    // ambient life monster %d" goes to a debug output this build leaves empty).
    if (action_index == NONE) return false;
    char name[64];
    snprintf(name, sizeof(name), "monster %d ambient action", (int)monster_index);
    set_map_action_name(action_index, name);
    set_map_action_tag(action_index, tag);
    map_action *action = get_map_action(action_index);
    action->flags |= _map_action_initially_active_flag;
    action->deactivation_mode = _map_action_deactivates_on_successful_execution;
    map_action_parameter subject;
    const int16_t identifier = monster->identifier;
    if (new_map_action_parameter(&subject, action_index, _common_field_name_subject, _parameter_monster_identifier))
        set_map_action_parameter(&subject, 1, &identifier);

    monster = get_monster_data(monster_index);
    monster->monster_map_action_data = NONE;
    const int32_t size = get_map_action_data_size(tag);
    if (size > 0)
    {
        if (current_gameplay_version >= 1721 && ambient_life_globals.free_space_left_in_pool < size)
        {
            compact_map_action_memory_pool();
            VASSERT(size <= ambient_life_globals.free_space_left_in_pool, "size <= free_space_left_in_pool");
        }
        if (ambient_life_globals.free_space_left_in_pool < size)
        {
            map_action_debug(action_index, "overflowed monster map action memory pool");
        }
        else
        {
            const int32_t offset = ambient_life_globals.memory_pool_size - ambient_life_globals.free_space_left_in_pool;
            uint8_t *block = ambient_life_globals.memory_pool + offset;
            memset(block, 0, (size_t)size);
            monster->monster_map_action_data = offset;
            ambient_life_globals.block_sizes[monster_index] = (uint8_t)size;
            ambient_life_globals.free_space_left_in_pool -= size;
            initialize_action_data_to_default(tag, monster_index, block);
        }
    }
    monster = get_monster_data(monster_index);
    monster->map_action_index = action_index;
    if (current_gameplay_version >= 1721) belated_initial_activation(action_index);
    return true;
}

bool create_map_action_for_new_monster(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!definition || definition->map_action_tag == NONE || definition->map_action_tag == 0) return false;
    return create_map_action_for_monster(monster_index, definition->map_action_tag);
}

// ---- commands ------------------------------------------------------------------------------

static void move_monster(int32_t monster_index, world_point2d destination, uint16_t flags)
{
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    command.flags = flags;
    const int16_t unit = (int16_t)monster_index;
    handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &unit, 1, &destination);
}

// random(d): the draw scaled to [0, d).
static int32_t ambient_random(int32_t delta) { return (int32_t)asr64((int64_t)vesk_random() * delta, 16); }

static world_point2d point_along(world_point2d origin, angle heading, int32_t radius)
{
    return {add32_wrap(origin.x, (int32_t)asr64(mul64(cosine_rounded(heading), radius), TRIG_SHIFT)),
            add32_wrap(origin.y, (int32_t)asr64(mul64(sine_rounded(heading), radius), TRIG_SHIFT))};
}

static world_point2d clamped_to_mesh(world_point2d point)
{
    const int32_t right = mesh_width * MOVEMENT_RADIUS_CLAMP_CELL - 1;
    const int32_t bottom = mesh_height * MOVEMENT_RADIUS_CLAMP_CELL - 1;
    if (point.x > right) point.x = right;
    if (point.x < 0) point.x = 0;
    if (point.y > bottom) point.y = bottom;
    if (point.y < 0) point.y = 0;
    return point;
}

// distance / speed, 0 without speed.
static int32_t travel_ticks(const object_data *object, world_point2d destination, int32_t speed)
{
    if (speed == 0) return 0;
    const world_point2d at = object_position(object);
    return div32_guarded(distance2d(&at, &destination), speed);
}

// ---- threat scans ----------------------------------------------------------------------------

// The units in the square of cells `width` each side of the scanning unit's
// cell that are threats to it, in the scan's order; `visit` returns true to stop.
template <typename visitor>
static void scan_for_threats(const monster_data *monster, const object_data *object, int32_t width, bool closest_variant,
                             visitor visit)
{
    const world_point2d at = {object->location.position.x, object->location.position.y};
    scan_unit_objects_near(at, width, [&](const object_data *other, const monster_data *unit) {
        if (unit->unit_type == monster->unit_type) return false;
        if (!closest_variant)
        {
            if (unit->extra_flags & _monster_is_invisible_extra_flag) return false;
            const monster_definition *definition = get_monster_definition(unit->type);
            if (definition && definition->monster_class == _monster_class_ambient_life) return false;
        }
        return visit(other);
    });
}

static const object_data *first_threat(const monster_data *monster, const object_data *object, int32_t width)
{
    const object_data *threat = nullptr;
    scan_for_threats(monster, object, width, false, [&](const object_data *other) {
        threat = other;
        return true;
    });
    return threat;
}

static const object_data *closest_threat(const monster_data *monster, const object_data *object, int32_t width)
{
    const object_data *threat = nullptr;
    world_distance threat_distance = 0;
    const world_point2d at = object_position(object);
    scan_for_threats(monster, object, width, true, [&](const object_data *other) {
        const world_point2d there = object_position(other);
        const world_distance distance = distance2d(&at, &there);
        if (!threat || distance < threat_distance)
        {
            threat = other;
            threat_distance = distance;
        }
        return false;
    });
    return threat;
}

// ---- the behaviours ------------------------------------------------------------------------------

struct grazer_constants
{
    int32_t wander_radius_lower_bound, wander_radius_delta;
    int32_t rest_time_lower_bound, rest_time_delta;
};

// Steps 2 and 3 of the bear and the deer: retreat from an attacker that hurt
// it, then wander around its place when its time has come.
static void graze(int32_t monster_index, monster_data *monster, const object_data *object, bear_action_data *data,
                  uint32_t retreating_flag, const grazer_constants &constants)
{
    if (object->vitality < data->last_vitality)
    {
        const monster_data *aggressor = monster->aggressor_monster_index == NONE
                                            ? nullptr
                                            : get_monster_data(monster->aggressor_monster_index);
        const object_data *aggressor_object = ambient_unit_object(aggressor);
        if (aggressor_object)
        {
            const angle heading = arctangent(object->location.position.x - aggressor_object->location.position.x,
                                             object->location.position.y - aggressor_object->location.position.y);
            const world_point2d destination = clamped_to_mesh(
                point_along(data->original_position, heading, BEAR_RETREAT_FROM_ATTACKER_RADIUS));
            move_monster(monster_index, destination, _command_movement_run_flag);
            data->flags |= retreating_flag;
            data->ticks_until_next_movement = BEAR_RETREATING_TIME_LOWER_BOUND + ambient_random(BEAR_RETREATING_TIME_DELTA);
        }
        data->last_vitality = object->vitality;
    }

    if (data->ticks_until_next_movement < 1)
    {
        const angle heading = vesk_random();
        const int32_t radius = constants.wander_radius_lower_bound + ambient_random(constants.wander_radius_delta);
        if (data->flags & retreating_flag)
        {
            data->flags &= ~retreating_flag;
            data->original_position = object_position(object);
        }
        const world_point2d destination = clamped_to_mesh(point_along(data->original_position, heading, radius));
        move_monster(monster_index, destination, 0);
        set_monster_movement_animation(monster_index, _walking_permutation);
        const monster_data *after = get_monster_data(monster_index);
        const object_data *moved = ambient_unit_object(after);
        const int32_t speed = after ? after->base_movement_speed : 0;
        data->ticks_until_next_movement = constants.rest_time_lower_bound +
                                          (moved ? travel_ticks(moved, destination, speed) : 0) +
                                          ambient_random(constants.rest_time_delta);
    }
    else
    {
        data->ticks_until_next_movement -= AMBIENT_TICKS_PER_TRIGGER;
    }
}

void bear_action(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = ambient_unit_object(monster);
    bear_action_data *data = (bear_action_data *)get_monster_map_action_data(monster_index);
    if (!object || !data) return;
    if (!(data->flags & _bear_was_previously_retreating))
    {
        if (const object_data *threat = first_threat(monster, object, BEAR_THREAT_SCAN_WIDTH))
        {
            command_target_data command;
            memset(&command, 0, sizeof(command));
            const int16_t unit = (int16_t)monster_index, target = threat->owner_index;
            handle_target_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &unit, 1, &target);
            return;
        }
    }
    static const grazer_constants constants = {BEAR_WANDER_RADIUS_LOWER_BOUND, BEAR_WANDER_RADIUS_DELTA, 0,
                                               BEAR_REST_TIME_DELTA};
    graze(monster_index, monster, object, data, _bear_was_previously_retreating, constants);
}

void deer_action(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = ambient_unit_object(monster);
    deer_action_data *data = (deer_action_data *)get_monster_map_action_data(monster_index);
    if (!object || !data) return;
    if (first_threat(monster, object, DEER_THREAT_SCAN_WIDTH))
    {
        command_general_data command;
        memset(&command, 0, sizeof(command));
        command.type = _command_general_retreat;
        const int16_t unit = (int16_t)monster_index;
        handle_general_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &unit);
        data->ticks_until_next_movement = DEER_RETREATING_TIME_LOWER_BOUND + ambient_random(DEER_RETREATING_TIME_DELTA);
        set_monster_movement_animation(monster_index, _running_permutation);
        data->flags |= _deer_was_previously_retreating;
        monster = get_monster_data(monster_index);
        object = ambient_unit_object(monster);
        if (!object) return;
    }
    static const grazer_constants constants = {DEER_WANDER_RADIUS_LOWER_BOUND, DEER_WANDER_RADIUS_DELTA,
                                               DEER_REST_TIME_LOWER_BOUND, DEER_REST_TIME_DELTA};
    graze(monster_index, monster, object, data, _deer_was_previously_retreating, constants);
}

void chicken_action(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = ambient_unit_object(monster);
    chicken_action_data *data = (chicken_action_data *)get_monster_map_action_data(monster_index);
    if (!object || !data) return;
    bool fled = false;
    world_point2d destination = data->original_position;
    if (const object_data *threat = closest_threat(monster, object, CHICKEN_THREAT_SCAN_WIDTH))
    {
        const angle heading = arctangent(object->location.position.x - threat->location.position.x,
                                         object->location.position.y - threat->location.position.y);
        const int32_t radius = CHICKEN_FLEE_RADIUS_LOWER_BOUND + ambient_random(CHICKEN_FLEE_RADIUS_DELTA);
        // Flight is not kept inside the map: the movement code stops it at the edge.
        destination = point_along(data->original_position, heading, radius);
        move_monster(monster_index, destination, 0);
        fled = true;
    }
    if (data->ticks_until_next_movement > 0)
    {
        data->ticks_until_next_movement -= AMBIENT_TICKS_PER_TRIGGER;
        if (!fled) return;
    }
    else
    {
        const angle heading = vesk_random();
        const int32_t radius = ambient_random(CHICKEN_WANDER_RADIUS_DELTA);
        destination = clamped_to_mesh(point_along(data->original_position, heading, radius));
        move_monster(monster_index, destination, 0);
    }
    monster = get_monster_data(monster_index);
    object = ambient_unit_object(monster);
    const int32_t rest = ambient_random(CHICKEN_TICKS_BETWEEN_MOVEMENT_DELTA) + CHICKEN_TICKS_BETWEEN_MOVEMENT_OFFSET;
    data->ticks_until_next_movement = rest + (object ? travel_ticks(object, destination, monster->base_movement_speed) : 0);
}

void peasant_action(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = ambient_unit_object(monster);
    peasant_action_data *data = (peasant_action_data *)get_monster_map_action_data(monster_index);
    if (!object || !data) return;
    if (data->ticks_until_next_movement >= 1)
    {
        data->ticks_until_next_movement -= AMBIENT_TICKS_PER_TRIGGER;
        return;
    }
    const angle heading = vesk_random();
    const int32_t radius = PEASANT_WANDER_RADIUS_LOWER_BOUND + ambient_random(PEASANT_WANDER_RADIUS_DELTA);
    const world_point2d destination = clamped_to_mesh(point_along(data->original_position, heading, radius));
    move_monster(monster_index, destination, 0);
    monster = get_monster_data(monster_index);
    object = ambient_unit_object(monster);
    const int32_t travel = object ? travel_ticks(object, destination, monster->base_movement_speed) : 0;
    data->ticks_until_next_movement = travel + PEASANT_REST_TIME_OFFSET + ambient_random(PEASANT_REST_TIME_DELTA);
}

// random(cells − 1) cells (no draw for a map one cell wide) plus a spot in the cell.
static int32_t soaring_coordinate(int32_t cells)
{
    const int32_t cell = cells > 1 ? ambient_random(cells - 1) : 0;
    return cell * 512 + ambient_random(SOARING_POSITION_IN_CELL_DELTA);
}

void soaring_action(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = ambient_unit_object(monster);
    soaring_action_data *data = (soaring_action_data *)get_monster_map_action_data(monster_index);
    if (!object || !data) return;
    if (data->ticks_until_glide_transition >= 1)
    {
        data->ticks_until_glide_transition -= AMBIENT_TICKS_PER_TRIGGER;
    }
    else
    {
        data->ticks_until_glide_transition = SOARING_PHASE_LOWER_BOUND + ambient_random(SOARING_PHASE_DELTA);
        set_monster_movement_animation(monster_index, monster->action_permutation == _gliding_permutation
                                                          ? _walking_permutation
                                                          : _gliding_permutation);
        monster = get_monster_data(monster_index);
        object = ambient_unit_object(monster);
        if (!object) return;
    }
    const world_vector3d &velocity = object->location.velocity;
    if (monster->action == _monster_action_moving &&
        (velocity.i || velocity.j || velocity.k || object->location.height))
    {
        if (data->ticks_until_next_movement >= 1)
        {
            data->ticks_until_next_movement -= AMBIENT_TICKS_PER_TRIGGER;
            return;
        }
    }
    data->ticks_until_next_movement = 0;
    world_point2d destination;
    destination.x = soaring_coordinate(mesh_width);
    destination.y = soaring_coordinate(mesh_height);
    move_monster(monster_index, destination, 0);
    monster = get_monster_data(monster_index);
    object = ambient_unit_object(monster);
    const int32_t travel = object ? travel_ticks(object, destination, monster->base_movement_speed) : 0;
    data->ticks_until_next_movement = travel + SOARING_REST_TIME_OFFSET;
}

// ---- the shared procedure --------------------------------------------------------------------

static bool monster_can_act(const monster_data *monster)
{
    if (monster->action == _monster_action_paralyzed) return false;
    if (current_gameplay_version >= 1511 &&
        (monster->action == _monster_action_being_healed || monster->action == _monster_action_being_held ||
         monster->action == _monster_action_stoned))
        return false;
    if (current_gameplay_version >= 1696 && (monster->flags & _monster_has_left_the_mesh_flag)) return false;
    return true;
}

uint32_t ambient_action_proc(int32_t action_index, ambient_behaviour_procedure behaviour)
{
    const int32_t limit = current_gameplay_version < 1301 ? MAXIMUM_UNITS_PER_COMMAND_BEFORE_1301
                                                          : MAXIMUM_UNITS_PER_COMMAND;
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND];
    int16_t indexes[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t identifier_count = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                                       _parameter_monster_identifier, identifiers, limit);
    const int32_t count = monster_identifiers_to_monster_indexes(identifiers, indexes, identifier_count);
    for (int32_t i = 0; i < count; i++)
    {
        const monster_data *monster = get_monster_data(indexes[i]);
        if (!monster || !get_monster_map_action_data(indexes[i]) || !monster_can_act(monster)) continue;
        behaviour(indexes[i]);
    }
    return 0;
}

uint32_t bear_action_proc(int32_t action_index) { return ambient_action_proc(action_index, bear_action); }
uint32_t chicken_action_proc(int32_t action_index) { return ambient_action_proc(action_index, chicken_action); }
uint32_t deer_action_proc(int32_t action_index) { return ambient_action_proc(action_index, deer_action); }
uint32_t peasant_action_proc(int32_t action_index) { return ambient_action_proc(action_index, peasant_action); }
uint32_t soaring_action_proc(int32_t action_index) { return ambient_action_proc(action_index, soaring_action); }

// ---- hooks ---------------------------------------------------------------------------------------

void hash_monster_ambient_life(uint32_t *hash)
{
    state_hash_add_int32(hash, ambient_life_globals.memory_pool_size);
    state_hash_add_int32(hash, ambient_life_globals.free_space_left_in_pool);
    // Field by field, so the hash does not depend on the host's byte order;
    // the size each block was given tells its layout.
    const datum_globals *units = get_monster_array();
    const int32_t count = units->count < MAXIMUM_MONSTERS_PER_MAP ? units->count : MAXIMUM_MONSTERS_PER_MAP;
    for (int32_t index = 0; index < count; index++)
    {
        // A unit without a block size has no block (block_of): a battle
        // without ambient life costs a look at each eight sizes, not each
        // unit.
        if (index % 8 == 0 && index + 8 <= count)
        {
            uint64_t eight;
            memcpy(&eight, &ambient_life_globals.block_sizes[index], sizeof(eight));
            if (eight == 0)
            {
                index += 7;
                continue;
            }
        }
        if (ambient_life_globals.block_sizes[index] == 0) continue;
        const monster_data *monster = get_monster_data(index);
        const uint8_t *block = block_of(monster, index);
        if (!block) continue;
        state_hash_add_int32(hash, index);
        state_hash_add_int32(hash, monster->monster_map_action_data);
        switch (ambient_life_globals.block_sizes[index])
        {
        case sizeof(bear_action_data):
        {
            bear_action_data data;
            memcpy(&data, block, sizeof(data));
            const int32_t fields[] = {(int32_t)data.flags, data.ticks_until_next_movement, data.original_position.x,
                                      data.original_position.y, data.last_vitality};
            state_hash_add_int32s(hash, fields, NUMBER_OF(fields));
            break;
        }
        case sizeof(chicken_action_data):
        {
            chicken_action_data data;
            memcpy(&data, block, sizeof(data));
            const int32_t fields[] = {data.ticks_until_next_movement, data.original_position.x, data.original_position.y};
            state_hash_add_int32s(hash, fields, NUMBER_OF(fields));
            break;
        }
        case sizeof(soaring_action_data):
        {
            soaring_action_data data;
            memcpy(&data, block, sizeof(data));
            const int32_t fields[] = {data.ticks_until_next_movement, data.ticks_until_glide_transition};
            state_hash_add_int32s(hash, fields, NUMBER_OF(fields));
            break;
        }
        default: break;
        }
    }
}

