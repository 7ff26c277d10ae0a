// Game flags.

#include "flags.h"

#include "cseries/registration.h"

#include "game_records.h"
#include "game_time.h"
#include "mesh.h"
#include "objects.h"
#include "players.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "unit_facts.h"

static datum_globals flag_data_globals = {.name = "flags", .size = sizeof(flag_data),
                                          .maximum_count = MAXIMUM_FLAGS_PER_MAP};

// Registrations: the module's start-up and map changes never empty them.
static procedure_slot<teams_near_point_procedure> teams_near_point_slot("teams near point");

static void hash_flags(uint32_t *hash)
{
    for (int32_t i = 0; i < flag_data_globals.count; ++i)
    {
        const flag_data *flag = (const flag_data *)get_datum(&flag_data_globals, i);
        if (!flag) continue;
        state_hash_add_int32(hash, i);
        state_hash_add_int32(hash, flag->identifier);
        state_hash_add_int32(hash, flag->type);
        state_hash_add_int32(hash, flag->number);
        state_hash_add_int32(hash, flag->owner_team_index);
        state_hash_add_int32(hash, flag->home_team_index);
        state_hash_add_int32(hash, flag->controlling_team_index);
        state_hash_add_int32(hash, flag->object_index);
        state_hash_add_int32(hash, flag->location.x);
        state_hash_add_int32(hash, flag->location.y);
        state_hash_add_int32(hash, flag->location.z);
    }
}

void initialize_flags(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!flag_data_globals.blocks) initialize_data(&flag_data_globals);
    register_state_hash_procedure_at_start_up(hash_flags);
}

void initialize_flags_for_new_map(void) { initialize_data_for_new_map(&flag_data_globals); }
void dispose_flags_from_old_map(void) { dispose_data_from_old_map(&flag_data_globals); }

int32_t new_flag(int16_t type, int16_t number, int16_t owner_team_index, int32_t object_index,
                 const world_point3d *location)
{
    if (number < NONE || number > 31)
    {
        log_message(__FILE__, __LINE__, "flag number %d outside 0..31: made unnumbered", number);
        number = NONE;
    }
    const int32_t index = new_datum(&flag_data_globals);
    if (index == NONE)
    {
        log_message(__FILE__, __LINE__, "no room for another flag (%d at most)", (int32_t)MAXIMUM_FLAGS_PER_MAP);
        return NONE;
    }
    flag_data *flag = (flag_data *)get_datum(&flag_data_globals, index);
    flag->type = type;
    flag->number = number;
    flag->owner_team_index = owner_team_index;
    flag->home_team_index = owner_team_index;
    flag->controlling_team_index = NONE;
    flag->object_index = object_index;
    flag->location = *location;
    flag->home = *location;
    return index;
}

flag_data *get_flag_data(int32_t flag_index)
{
    if (flag_index < 0 || flag_index >= flag_data_globals.count) return nullptr;
    return (flag_data *)get_datum(&flag_data_globals, flag_index);
}

int32_t get_flag_slot_count(void) { return flag_data_globals.count; }

int32_t find_flag_by_object(int32_t object_index)
{
    if (object_index == NONE) return NONE;
    for (int32_t i = 0; i < flag_data_globals.count; ++i)
    {
        const flag_data *flag = get_flag_data(i);
        if (flag && flag->object_index == object_index) return i;
    }
    return NONE;
}

bool register_teams_near_point_procedure(teams_near_point_procedure procedure)
{
    return teams_near_point_slot.fill(procedure);
}

// A moved ball takes its object along: the object stands where the flag
// record now says, in the cell under that point.
static void move_flag_object(int32_t object_index, const world_point3d *location)
{
    object_data *object = get_object(object_index);
    if (!object) return;
    disconnect_object_from_mesh(object_index);
    object->location.position = *location;
    reconnect_object_to_mesh(object_index);
}

int32_t flag_contesting_radius(void)
{
    return game_->scoring == _game_scoring_cattle_drive ? CATTLE_DRIVE_CONTESTED_FLAG_RADIUS
                                                        : EVERYTHING_ELSE_CONTESTED_FLAG_RADIUS;
}

static world_distance clamp_distance(world_distance value, world_distance maximum)
{
    if (value < 0) return 0;
    if (maximum > 0 && value > maximum - 1) return maximum - 1;
    return value;
}

int32_t monster_bumped_flag(int32_t unit_index, int32_t flag_object_index, int32_t strength)
{
    unit_facts unit;
    if (!get_unit_facts(unit_index, &unit)) return 0;
    const world_point2d pusher = {unit.position.x, unit.position.y};
    return push_flag_from_point(&pusher, flag_object_index, strength, (world_distance)mesh_width * WORLD_ONE,
                                (world_distance)mesh_height * WORLD_ONE);
}

int32_t push_flag_from_point(const world_point2d *pusher, int32_t flag_object_index, int32_t strength,
                             world_distance map_width, world_distance map_height)
{
    const int32_t flag_index = find_flag_by_object(flag_object_index);
    if (flag_index == NONE) return 0;
    flag_data *flag = get_flag_data(flag_index);
    if (flag->type == _flag_banner) return 0;

    // Away from the pusher, along the line through both centres; a pusher
    // standing on the ball's centre pushes it along +x.
    const world_point2d ball = {flag->location.x, flag->location.y};
    const angle direction = (pusher->x == ball.x && pusher->y == ball.y)
                                ? (angle)0
                                : arctangent(ball.x - pusher->x, ball.y - pusher->y);
    const int32_t distance = strength < 0 ? 0 : strength >> BALL_PUSH_STRENGTH_SHIFT;
    flag->location.x = clamp_distance(flag->location.x + ((distance * cosine_rounded(direction)) >> TRIG_SHIFT),
                                      map_width);
    flag->location.y = clamp_distance(flag->location.y + ((distance * sine_rounded(direction)) >> TRIG_SHIFT),
                                      map_height);
    move_flag_object(flag->object_index, &flag->location);
    return 1;
}

void reclaim_dormant_flag(int32_t object_index)
{
    const int32_t flag_index = find_flag_by_object(object_index);
    if (flag_index == NONE) return;
    flag_data *flag = get_flag_data(flag_index);
    flag->location = flag->home;
    flag->owner_team_index = flag->home_team_index;
    move_flag_object(flag->object_index, &flag->location);
}

void update_flag_control(void)
{
    const int32_t radius = flag_contesting_radius();
    // Units of a team the game does not have (damaged map data) hold nothing:
    // the scoring rules index the teams by the controlling team.
    const uint32_t existing_teams = (1u << get_team_count()) - 1;
    for (int32_t i = 0; i < flag_data_globals.count; ++i)
    {
        flag_data *flag = get_flag_data(i);
        if (!flag) continue;
        const world_point2d point = {flag->location.x, flag->location.y};
        const uint32_t teams =
            teams_near_point_slot.get() ? teams_near_point_slot.get()(&point, radius) & existing_teams : 0;
        // Exactly one bit: that team alone stands there.
        flag->controlling_team_index = NONE;
        if (teams != 0 && (teams & (teams - 1)) == 0)
        {
            int16_t team = 0;
            while (!(teams & (1u << team))) ++team;
            flag->controlling_team_index = team;
        }
    }
}
