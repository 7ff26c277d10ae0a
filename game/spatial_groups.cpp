// Spatial groups: clusters of units of one team and type, rebuilt whenever the scripts run.

#include "spatial_groups.h"

#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "tag_files/data.h"

enum
{
    // A new group is started only while the groups so far take at most this.
    SPATIAL_GROUPS_START_LIMIT = MAXIMUM_SPATIAL_GROUPS_BUFFER_SIZE - MAXIMUM_SPATIAL_GROUP_SIZE, // 23728
};
static_assert(MONSTER_USED_FLAGS_SIZE * 32 >= MAXIMUM_MONSTERS_PER_MAP);

// What one build can hold at most: a unit joins one group, so there are never
// more groups, indexes or supergroups than unit slots.
struct spatial_group_storage
{
    spatial_group groups[MAXIMUM_MONSTERS_PER_MAP];
    spatial_supergroup supergroups[MAXIMUM_MONSTERS_PER_MAP];
    int16_t monster_indexes[MAXIMUM_MONSTERS_PER_MAP];
    spatial_group_attacker_entry attackers[MAXIMUM_SPATIAL_GROUP_ATTACKERS];
};

static struct spatial_group_globals
{
    spatial_group_storage *storage;
    spatial_group *first_group;
    spatial_supergroup *first_supergroup;
    int32_t group_count, supergroup_count, monster_index_count, attacker_count;
    int32_t bytes_used; // against MAXIMUM_SPATIAL_GROUPS_BUFFER_SIZE
    uint32_t monster_used_flags[MONSTER_USED_FLAGS_SIZE];
} spatial_group_globals;

// ---- life cycle ---------------------------------------------------------------------

bool initialize_spatial_groups(void)
{
    if (spatial_group_globals.storage) return true;
    spatial_group_globals.storage = (spatial_group_storage *)calloc(1, sizeof(spatial_group_storage));
    if (!spatial_group_globals.storage)
    {
        ERROR_MESSAGE(8, "couldn't allocate #%d bytes for spatial groups buffer", (int)sizeof(spatial_group_storage));
        return false;
    }
    initialize_spatial_groups_for_new_map();
    return true;
}

static void empty_spatial_groups(void)
{
    spatial_group_globals.first_group = nullptr;
    spatial_group_globals.first_supergroup = nullptr;
    spatial_group_globals.group_count = 0;
    spatial_group_globals.supergroup_count = 0;
    spatial_group_globals.monster_index_count = 0;
    spatial_group_globals.attacker_count = 0;
    spatial_group_globals.bytes_used = 0;
    memset(spatial_group_globals.monster_used_flags, 0, sizeof(spatial_group_globals.monster_used_flags));
}

void initialize_spatial_groups_for_new_map(void) { empty_spatial_groups(); }

void dispose_spatial_groups_from_old_map(void) {}

spatial_group *first_spatial_group(void) { return spatial_group_globals.first_group; }
spatial_supergroup *first_spatial_supergroup(void) { return spatial_group_globals.first_supergroup; }
int32_t spatial_groups_buffer_bytes_used(void) { return spatial_group_globals.bytes_used; }

// ---- groups -------------------------------------------------------------------------------

static bool monster_is_used(int32_t monster_index)
{
    return (spatial_group_globals.monster_used_flags[monster_index >> 5] >> (monster_index & 31)) & 1;
}

static void mark_monster_used(int32_t monster_index)
{
    spatial_group_globals.monster_used_flags[monster_index >> 5] |= FLAG(monster_index & 31);
}

static const object_data *visible_object_of(const monster_data *monster)
{
    const object_data *object = get_object(monster->object_index);
    return object && !(object->flags & _object_is_invisible_flag) ? object : nullptr;
}

static bool monster_may_seed_group(int32_t monster_index, const monster_data *monster)
{
    if (monster_is_used(monster_index)) return false;
    if (monster->extra_flags & _monster_cannot_be_autotargeted_extra_flag) return false;
    if (!visible_object_of(monster)) return false;
    const monster_definition *definition = get_monster_definition(monster->type);
    return definition && definition->monster_class != _monster_class_ambient_life;
}

// The first cell of the 3 x 3 square around a cell, on one axis: one before
// it, kept inside [0, size - 3].
static int32_t nearby_square_start(int32_t cell, int32_t size)
{
    int32_t start = cell - 1;
    if (start > size - NEARBY_CELL_DIAMETER) start = size - NEARBY_CELL_DIAMETER;
    if (start < 0) start = 0;
    return start;
}

// Adds to the group every unit of its team and type in the 3 x 3 cells
// starting at (start_x, start_y) that is in no group yet.
static void gather_nearby_monsters(spatial_group *group, int32_t start_x, int32_t start_y)
{
    for (int32_t y = start_y; y < start_y + NEARBY_CELL_DIAMETER; ++y)
    {
        for (int32_t x = start_x; x < start_x + NEARBY_CELL_DIAMETER; ++x)
        {
            // A mesh narrower than three cells: the square reaches past it.
            if (!VASSERT(mesh_cell_in_bounds(x, y), "cell>=mesh_cells && cell<mesh_cells+mesh_width*mesh_height"))
                continue;
            // Units' objects are all in the scan chains, in the order of the
            // cells' chains: the arrows lying about are never walked.
            int32_t guard = 0;
            for (int32_t object_index = first_scanned_object(x, y); object_index != NONE;)
            {
                const object_data *object = get_object(object_index);
                // A chain longer than the objects that can exist is a loop: stop.
                if (!object || ++guard > INT16_MAX) break;
                object_index = next_scanned_object(object_index);
                if (object->owner != _object_is_monster || (object->flags & _object_is_invisible_flag)) continue;
                const int32_t monster_index = object->owner_index;
                const monster_data *monster = get_monster_data(monster_index);
                if (!monster || monster_index >= MAXIMUM_MONSTERS_PER_MAP || monster_is_used(monster_index)) continue;
                if (monster->extra_flags & _monster_cannot_be_autotargeted_extra_flag) continue;
                if ((int8_t)monster->owner_team_index != (int8_t)group->team_index) continue;
                if (monster->type != group->monster_type) continue;
                group->monster_indexes[group->monster_count++] = (int16_t)monster_index;
                ++spatial_group_globals.monster_index_count;
                mark_monster_used(monster_index);
            }
        }
    }
}

static short_world_distance clamp_to_short_distance(int64_t distance)
{
    return (short_world_distance)(distance > INT16_MAX ? INT16_MAX : distance);
}

// Centre, radius, facing, power, range and velocity from the members.
static void fill_group_fields(spatial_group *group)
{
    int32_t sum_x = 0, sum_y = 0, sum_i = 0, sum_j = 0, sum_cosine = 0, sum_sine = 0;
    world_distance min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    for (int32_t k = 0; k < group->monster_count; ++k)
    {
        const object_data *object = get_object(get_monster_data(group->monster_indexes[k])->object_index);
        const world_point3d *position = &object->location.position;
        sum_x = wrap_add32(sum_x, position->x);
        sum_y = wrap_add32(sum_y, position->y);
        sum_i += object->location.velocity.i;
        sum_j += object->location.velocity.j;
        sum_cosine += cosine_rounded(object->location.yaw);
        sum_sine += sine_rounded(object->location.yaw);
        if (k == 0 || position->x < min_x) min_x = position->x;
        if (k == 0 || position->x > max_x) max_x = position->x;
        if (k == 0 || position->y < min_y) min_y = position->y;
        if (k == 0 || position->y > max_y) max_y = position->y;
    }
    const int32_t count = group->monster_count;
    group->flags = 0;
    group->center.x = sum_x / count;
    group->center.y = sum_y / count;
    int64_t radius = (int64_t)max_x - group->center.x;
    if ((int64_t)max_y - group->center.y > radius) radius = (int64_t)max_y - group->center.y;
    if ((int64_t)group->center.x - min_x > radius) radius = (int64_t)group->center.x - min_x;
    if ((int64_t)group->center.y - min_y > radius) radius = (int64_t)group->center.y - min_y;
    group->radius = clamp_to_short_distance(radius);
    group->facing = arctangent(sum_cosine, sum_sine);
    group->power = (int16_t)(monster_type_combined_power(group->monster_type) * count);
    const monster_definition *definition = get_monster_definition(group->monster_type);
    group->range = definition ? definition->longest_range : 0;
    group->velocity.i = (int16_t)(sum_i / count);
    group->velocity.j = (int16_t)(sum_j / count);
    group->attacker_power = 0;
    group->power_ratio = 0;
    group->first_attacker = nullptr;
    group->owner_supergroup = nullptr;
}

// False when the budget ran out (logged): the build ends there.
static bool build_groups(void)
{
    const int32_t limit = current_gameplay_version < 1301 ? MAXIMUM_SPATIAL_GROUP_MONSTERS_BEFORE_1301
                                                          : MAXIMUM_SPATIAL_GROUP_MONSTERS;
    spatial_group_storage *storage = spatial_group_globals.storage;
    spatial_group *last = nullptr;
    // The bound is read again each time: nothing here adds units, but the
    // array may be any size a test made it.
    for (int32_t seed = 0; seed < get_monster_array()->count && seed < MAXIMUM_MONSTERS_PER_MAP; ++seed)
    {
        const monster_data *monster = get_monster_data(seed);
        if (!monster || !monster_may_seed_group(seed, monster)) continue;
        if (spatial_group_globals.bytes_used > SPATIAL_GROUPS_START_LIMIT)
        {
            log_message(__FILE__, __LINE__, "### spatial groups overflowed internal buffer");
            return false;
        }

        spatial_group *group = &storage->groups[spatial_group_globals.group_count++];
        memset(group, 0, sizeof(*group));
        group->team_index = monster->owner_team_index;
        group->monster_type = monster->type;
        group->monster_indexes = &storage->monster_indexes[spatial_group_globals.monster_index_count++];
        group->monster_indexes[0] = (int16_t)seed;
        group->monster_count = 1;
        mark_monster_used(seed);
        // A square this group has read already holds nothing more for it:
        // its units only ever leave the pool, and a read takes every unit it
        // meets.  Skipping it changes nothing but the time spent.
        int32_t squares_read[MAXIMUM_MONSTERS_PER_MAP];
        int32_t square_count = 0;
        for (int32_t k = 0; k < group->monster_count && group->monster_count < limit; ++k)
        {
            const object_data *member = get_object(get_monster_data(group->monster_indexes[k])->object_index);
            const int32_t start_x = nearby_square_start(member->location.position.x >> WORLD_FRACTIONAL_BITS, mesh_width);
            const int32_t start_y = nearby_square_start(member->location.position.y >> WORLD_FRACTIONAL_BITS, mesh_height);
            const int32_t square = (start_y << 16) | (start_x & 0xFFFF);
            bool read = false;
            for (int32_t i = 0; i < square_count && !read; ++i) read = squares_read[i] == square;
            if (read) continue;
            if (square_count < MAXIMUM_MONSTERS_PER_MAP) squares_read[square_count++] = square;
            gather_nearby_monsters(group, start_x, start_y);
        }
        fill_group_fields(group);

        if (last) last->next_group = group;
        else spatial_group_globals.first_group = group;
        last = group;
        spatial_group_globals.bytes_used +=
            SPATIAL_GROUP_HEADER_SIZE + SPATIAL_GROUP_MONSTER_INDEX_SIZE * group->monster_count;
    }
    return true;
}

// ---- supergroups ----------------------------------------------------------------------

static int64_t absolute64(int64_t value) { return value < 0 ? -value : value; }

// Whether some unit of `a` and some unit of `b` stand closer than 768 by the
// estimate max(|dx|, |dy|) + min(|dx|, |dy|) / 2.
static bool groups_touch(const spatial_group *a, const spatial_group *b)
{
    for (int32_t i = 0; i < a->monster_count; ++i)
    {
        const world_point3d *p = &get_object(get_monster_data(a->monster_indexes[i])->object_index)->location.position;
        for (int32_t j = 0; j < b->monster_count; ++j)
        {
            const world_point3d *q =
                &get_object(get_monster_data(b->monster_indexes[j])->object_index)->location.position;
            const int64_t dx = absolute64((int64_t)p->x - q->x), dy = absolute64((int64_t)p->y - q->y);
            const int64_t estimate = dx > dy ? dx + dy / 2 : dy + dx / 2;
            if (estimate < SUPERGROUP_UNIT_CONTACT_DISTANCE) return true;
        }
    }
    return false;
}

static bool group_joins_supergroup(const spatial_group *seed, const spatial_group *weighed, const spatial_group *candidate)
{
    if (candidate->flags & _spatial_group_in_supergroup) return false;
    if (candidate->team_index != seed->team_index || candidate->monster_type == seed->monster_type) return false;
    const int32_t dx = candidate->center.x - weighed->center.x, dy = candidate->center.y - weighed->center.y;
    if (!isqrt_distance2d_less_than(dx, dy, candidate->radius + weighed->radius + SUPERGROUP_SEPARATION_DISTANCE))
        return false;
    return weighed->monster_count > 0 && groups_touch(weighed, candidate);
}

// Halves both until each fits in 31 bits: the direction is what counts.
static angle arctangent64(int64_t x, int64_t y)
{
    while (absolute64(x) > INT32_MAX / 2 || absolute64(y) > INT32_MAX / 2)
    {
        x >>= 1;
        y >>= 1;
    }
    return arctangent((world_distance)x, (world_distance)y);
}

static void build_supergroup(spatial_supergroup *supergroup, spatial_group *seed)
{
    memset(supergroup, 0, sizeof(*supergroup));
    supergroup->team_index = seed->team_index;
    supergroup->monster_index = seed->monster_indexes[0];
    seed->flags |= _spatial_group_in_supergroup;
    seed->owner_supergroup = supergroup;

    spatial_group *work[MAXIMUM_COMBINED_GROUPS];
    int32_t work_count = 0;
    work[work_count++] = seed;
    int64_t sum_x = 0, sum_y = 0, sum_i = 0, sum_j = 0, sum_cosine = 0, sum_sine = 0;
    for (int32_t w = 0; w < work_count; ++w)
    {
        spatial_group *h = work[w];
        supergroup->monster_count = (int16_t)(supergroup->monster_count + h->monster_count);
        supergroup->power = (int16_t)(supergroup->power + h->power);
        sum_x += (int64_t)h->center.x * h->power;
        sum_y += (int64_t)h->center.y * h->power;
        sum_i += (int64_t)h->velocity.i * h->power;
        sum_j += (int64_t)h->velocity.j * h->power;
        sum_cosine += (int64_t)cosine_rounded(h->facing) * h->power;
        sum_sine += (int64_t)sine_rounded(h->facing) * h->power;
        for (spatial_group *e = h->next_group; e; e = e->next_group)
        {
            if (!group_joins_supergroup(seed, h, e)) continue;
            e->flags |= _spatial_group_in_supergroup;
            e->owner_supergroup = supergroup;
            if (work_count < MAXIMUM_COMBINED_GROUPS) work[work_count++] = e;
        }
    }
    if (supergroup->power == 0) return;
    supergroup->center.x = (world_distance)(sum_x / supergroup->power);
    supergroup->center.y = (world_distance)(sum_y / supergroup->power);
    supergroup->velocity.i = (int16_t)(sum_i / supergroup->power);
    supergroup->velocity.j = (int16_t)(sum_j / supergroup->power);
    supergroup->facing = arctangent64(sum_cosine, sum_sine);
    int64_t radius = 0, range = 0;
    for (int32_t w = 0; w < work_count; ++w)
    {
        const int64_t dx = (int64_t)work[w]->center.x - supergroup->center.x;
        const int64_t dy = (int64_t)work[w]->center.y - supergroup->center.y;
        const int64_t d = isqrt64((uint64_t)(dx * dx + dy * dy));
        if (d + work[w]->radius > radius) radius = d + work[w]->radius;
        if (d + work[w]->range > range) range = d + work[w]->range;
    }
    supergroup->radius = clamp_to_short_distance(radius);
    supergroup->range = clamp_to_short_distance(range);
}

static void build_supergroups(void)
{
    spatial_supergroup *last = nullptr;
    for (spatial_group *group = spatial_group_globals.first_group; group; group = group->next_group)
    {
        if (group->flags & _spatial_group_in_supergroup) continue;
        if (MAXIMUM_SPATIAL_GROUPS_BUFFER_SIZE - spatial_group_globals.bytes_used < SPATIAL_SUPERGROUP_SIZE)
        {
            log_message(__FILE__, __LINE__, "### spatial supergroups overflowed internal buffer");
            return;
        }
        spatial_supergroup *supergroup =
            &spatial_group_globals.storage->supergroups[spatial_group_globals.supergroup_count++];
        build_supergroup(supergroup, group);
        if (last) last->next = supergroup;
        else spatial_group_globals.first_supergroup = supergroup;
        last = supergroup;
        spatial_group_globals.bytes_used += SPATIAL_SUPERGROUP_SIZE;
    }
}

void build_spatial_groups(void)
{
    empty_spatial_groups();
    if (!spatial_group_globals.storage) return;
    if (build_groups()) build_supergroups();
}

// ---- readers ---------------------------------------------------------------------------

spatial_group *obstructing_group(const world_point2d *origin, const spatial_group *target,
                                 int16_t friendly_team_index)
{
    if (!origin || !target) return nullptr;
    const angle direction = arctangent(origin->x - target->center.x, origin->y - target->center.y);
    const int64_t target_distance = squared_distance64(origin, &target->center);
    for (spatial_group *group = spatial_group_globals.first_group; group; group = group->next_group)
    {
        const monster_definition *definition = get_monster_definition(group->monster_type);
        if (!definition || definition->monster_class != _monster_class_melee) continue;
        if (group == target || group->team_index != target->team_index) continue;
        if (group->team_index == friendly_team_index || teams_are_allied(group->team_index, friendly_team_index))
            continue;
        if (target_distance <= squared_distance64(origin, &group->center) - group->radius) continue;
        const angle group_direction = arctangent(origin->x - group->center.x, origin->y - group->center.y);
        if (angular_difference(direction, group_direction) >= MINIMUM_OBSTRUCTION_ANGLE) continue;
        return group;
    }
    return nullptr;
}

bool add_spatial_group_attacker(spatial_group *group, int16_t monster_index)
{
    if (!group || !spatial_group_globals.storage) return false;
    if (spatial_group_globals.attacker_count >= MAXIMUM_SPATIAL_GROUP_ATTACKERS) return false;
    spatial_group_attacker_entry *entry =
        &spatial_group_globals.storage->attackers[spatial_group_globals.attacker_count++];
    entry->monster_index = monster_index;
    entry->next_attacker = group->first_attacker;
    group->first_attacker = entry;
    const monster_data *monster = get_monster_data(monster_index);
    const int16_t power = monster ? monster_type_combined_power(monster->type) : 0;
    group->attacker_power = (int16_t)(group->attacker_power + power);
    group->power_ratio = group->power ? (fixed)(((int64_t)group->attacker_power << 16) / group->power) : 0;
    return true;
}
