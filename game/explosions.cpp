// Explosions: expanding damage, one record per explosion.

#include "explosions.h"

#include <algorithm>

#include "cseries/log.h"
#include "state_hash.h"
#include "tag_files/data.h"

static datum_globals explosion_data_globals = {
    .name = "explosion", .size = sizeof(explosion_data), .maximum_count = MAXIMUM_EXPLOSIONS_PER_MAP};

// True while update_explosions runs: explosions made meanwhile wait a tick.
static bool updating_explosions = false;

static void hash_explosions(uint32_t *hash)
{
    for (int32_t index = 0; index < explosion_data_globals.count; ++index)
    {
        const explosion_data *explosion = get_explosion_data(index);
        if (!explosion) continue;
        const damage_definition &definition = explosion->definition;
        const damage_data &damage = explosion->damage;
        const int32_t fields[] = {
            index,
            explosion->identifier,
            explosion->flags,
            explosion->obstacle_index,
            explosion->obstacle_identifier,
            explosion->radius,
            explosion->current_radius,
            definition.type,
            definition.flags,
            definition.damage_lower_bound,
            definition.damage_delta,
            definition.radius_lower_bound,
            definition.radius_delta,
            definition.rate_of_expansion,
            definition.damage_to_velocity,
            damage.flags,
            damage.owner_unit_index,
            damage.owner_monster_index,
            damage.owner_monster_identifier,
            damage.detonation_projectile_group_type,
            damage.mana_used,
            damage.mana_proportion,
            damage.scale,
            damage.epicenter.x,
            damage.epicenter.y,
            damage.epicenter.z,
            damage.vector.i,
            damage.vector.j,
            damage.vector.k,
            damage.velocity,
            damage.damage,
            explosion->hit_count,
        };
        for (int32_t field : fields) state_hash_add_int32(hash, field);
        for (int32_t hit = 0; hit < explosion->hit_count; ++hit)
        {
            state_hash_add_int32(hash, explosion->hits[hit].object_index);
            state_hash_add_int32(hash, explosion->hits[hit].object_identifier);
        }
    }
}

bool initialize_explosions(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!explosion_data_globals.blocks && !initialize_data(&explosion_data_globals)) return false;
    register_state_hash_procedure_at_start_up(hash_explosions);
    return true;
}

void initialize_explosions_for_new_map(void) { initialize_data_for_new_map(&explosion_data_globals); }
void dispose_explosions_from_old_map(void) { dispose_data_from_old_map(&explosion_data_globals); }

explosion_data *get_explosion_data(int32_t index)
{
    if (!explosion_data_globals.blocks || index < 0 || index >= explosion_data_globals.count) return nullptr;
    return (explosion_data *)get_datum(&explosion_data_globals, index);
}

int32_t get_explosion_count(void)
{
    int32_t count = 0;
    for (int32_t index = 0; index < explosion_data_globals.count; ++index) count += get_explosion_data(index) != nullptr;
    return count;
}

int32_t new_explosion(const damage_definition *definition, const damage_data *data, world_distance radius,
                      int32_t obstacle_index)
{
    if (!definition || !data || definition->rate_of_expansion <= 0 || radius <= 0) return NONE;
    if (!explosion_data_globals.blocks)
    {
        log_message(__FILE__, __LINE__, "no explosion array: the damage is applied at once");
        return NONE;
    }
    const int32_t index = new_datum(&explosion_data_globals);
    if (index == NONE)
    {
        log_message(__FILE__, __LINE__, "all %d explosions in use: the damage is applied at once",
                    (int)MAXIMUM_EXPLOSIONS_PER_MAP);
        return NONE;
    }
    explosion_data *explosion = (explosion_data *)get_datum(&explosion_data_globals, index);
    const object_data *obstacle = get_object(obstacle_index);
    explosion->flags = updating_explosions ? _explosion_made_this_update_flag : 0;
    explosion->obstacle_index = obstacle ? (int16_t)obstacle_index : (int16_t)NONE;
    explosion->obstacle_identifier = obstacle ? obstacle->identifier : 0;
    explosion->radius = radius;
    explosion->current_radius = 0;
    explosion->definition = *definition;
    explosion->damage = *data;
    explosion->hit_count = 0;
    return index;
}

namespace {
struct explosion_visit
{
    int32_t explosion_index;
    int16_t explosion_identifier;
};
} // namespace

static void damage_object_reached_by_explosion(int32_t object_index, int16_t identifier, void *context)
{
    const explosion_visit *visit = (const explosion_visit *)context;
    // Re-read each time: a reaction may have made other explosions (never
    // this one's slot, which stays in use while it is being updated).
    explosion_data *explosion =
        (explosion_data *)get_datum_by_identifier(&explosion_data_globals, visit->explosion_index,
                                                  visit->explosion_identifier);
    if (!explosion) return;
    if (object_index == explosion->obstacle_index && identifier == explosion->obstacle_identifier) return;
    for (int32_t hit = 0; hit < explosion->hit_count; ++hit)
    {
        if (explosion->hits[hit].object_index == object_index && explosion->hits[hit].object_identifier == identifier)
            return;
    }
    if (!get_object_by_identifier(object_index, identifier)) return; // deleted by an earlier reaction
    if (explosion->hit_count >= MAXIMUM_OBJECTS_HIT_PER_EXPLOSION) return;
    // Recorded before the reaction runs, so nothing it causes can hit the object twice.
    explosion->hits[explosion->hit_count++] = {(int16_t)object_index, identifier};
    const damage_definition definition = explosion->definition;
    damage_data damage = explosion->damage;
    accelerate_object(&definition, &damage, object_index);
}

void update_explosions(void)
{
    if (!explosion_data_globals.blocks) return;
    updating_explosions = true;
    // The count is re-read after every explosion: reactions may make new
    // ones, which wait for the next tick.
    for (int32_t index = 0; index < explosion_data_globals.count; ++index)
    {
        explosion_data *explosion = get_explosion_data(index);
        if (!explosion || (explosion->flags & _explosion_made_this_update_flag)) continue;
        explosion->current_radius =
            (world_distance)std::min<int64_t>((int64_t)explosion->current_radius + explosion->definition.rate_of_expansion,
                                              explosion->radius);
        if (explosion->hit_count < MAXIMUM_OBJECTS_HIT_PER_EXPLOSION)
        {
            const explosion_visit visit = {index, explosion->identifier};
            const world_point3d epicenter = explosion->damage.epicenter;
            for_each_object_reached_by_damage(&epicenter, explosion->current_radius, damage_object_reached_by_explosion,
                                              (void *)&visit);
        }
        explosion = get_explosion_data(index);
        if (explosion && explosion->current_radius >= explosion->radius) delete_datum(&explosion_data_globals, index);
    }
    for (int32_t index = 0; index < explosion_data_globals.count; ++index)
    {
        if (explosion_data *explosion = get_explosion_data(index))
            explosion->flags &= (uint16_t)~_explosion_made_this_update_flag;
    }
    updating_explosions = false;
}
