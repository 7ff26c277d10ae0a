// Damage: resolving a definition, the objects an area reaches, and handing
// the damage to each object's owner.

#include "damage.h"

#include <utility>
#include <algorithm>
#include <vector>

#include "cseries/log.h"
#include "explosions.h"
#include "game_hooks.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_reactions.h"
#include "projectiles.h"
#include "unit_helpers.h"
#include "vesk_random.h"

static struct damage_globals
{
    const damage_reaction_procedures *test_reactions; // null in the program
} damage_globals;

const damage_reaction_procedures *set_damage_reaction_procedures(const damage_reaction_procedures *procedures)
{
    return std::exchange(damage_globals.test_reactions, procedures);
}

void initialize_damage_data(damage_data *data)
{
    *data = damage_data{};
    data->owner_unit_index = NONE;
    data->owner_monster_index = NONE;
    data->detonation_projectile_group_type = NONE;
    data->scale = SHORT_FIXED_ONE;
}

static int32_t clamp_to_int16(int64_t value)
{
    return (int32_t)std::clamp<int64_t>(value, INT16_MIN, INT16_MAX);
}

resolved_damage resolve_damage(const damage_definition *definition, const damage_data *data)
{
    // Two draws at most, the amount's before the radius's.
    const int64_t drawn_damage = (int64_t)definition->damage_lower_bound + random_term(definition->damage_delta);
    const int64_t drawn_radius = (int64_t)definition->radius_lower_bound + random_term(definition->radius_delta);

    const int64_t scale = data->scale ? (int64_t)data->scale : (int64_t)SHORT_FIXED_ONE;
    int64_t damage = (drawn_damage * scale) >> SHORT_FIXED_FRACTIONAL_BITS;
    if (data->flags & _damage_proportional_to_mana_flag) damage = damage * data->mana_proportion / FIXED_FRACTION_ONE;
    const int64_t radius = std::max<int64_t>(0, (drawn_radius * scale) >> SHORT_FIXED_FRACTIONAL_BITS);

    resolved_damage resolved;
    resolved.damage = clamp_to_int16(damage);
    resolved.radius = (world_distance)std::min<int64_t>(radius, INT16_MAX);
    resolved.velocity = definition->damage_to_velocity
                            ? (int16_t)clamp_to_int16(((int64_t)resolved.damage * definition->damage_to_velocity) >>
                                                      SHORT_FIXED_FRACTIONAL_BITS)
                            : data->velocity;
    return resolved;
}

bool damage_reaches_object(const world_point3d *epicenter, world_distance radius, const object_data *object)
{
    const int64_t dx = (int64_t)object->location.position.x - epicenter->x;
    const int64_t dy = (int64_t)object->location.position.y - epicenter->y;
    const int64_t reach = (int64_t)std::max<world_distance>(radius, 0) + std::max<int16_t>(object->radius, 0);
    return dx * dx + dy * dy <= reach * reach;
}

bool object_takes_area_damage(const object_data *object)
{
    return (object->flags & (_object_is_solid_flag | _object_must_be_included_in_explosions_flag)) != 0;
}

namespace {
struct reached_object
{
    int16_t index;
    int16_t identifier;
};
} // namespace

void for_each_object_reached_by_damage(const world_point3d *epicenter, world_distance radius,
                                       damage_visit_procedure visit, void *context)
{
    if (!epicenter || !visit || radius < 0 || mesh_width <= 0 || mesh_height <= 0) return;

    // The cells to walk must hold every object whose footprint the radius
    // can reach, so the square is widened by the largest object radius.
    int32_t largest_radius = 0;
    const int32_t object_count = get_object_count();
    for (int32_t index = 0; index < object_count; ++index)
    {
        const object_data *object = get_object(index);
        if (object) largest_radius = std::max<int32_t>(largest_radius, object->radius);
    }
    const int64_t reach = (int64_t)radius + largest_radius;
    auto cell_of = [](int64_t world, int32_t size) {
        return (int32_t)std::clamp<int64_t>(world >> WORLD_FRACTIONAL_BITS, 0, size - 1);
    };
    const int32_t x0 = cell_of(epicenter->x - reach, mesh_width), x1 = cell_of(epicenter->x + reach, mesh_width);
    const int32_t y0 = cell_of(epicenter->y - reach, mesh_height), y1 = cell_of(epicenter->y + reach, mesh_height);

    // Taken whole before the first visit: a visit may delete, move or make
    // objects, which changes the chains.
    std::vector<reached_object> reached;
    for (int32_t y = y0; y <= y1; ++y)
    {
        for (int32_t x = x0; x <= x1; ++x)
        {
            int32_t guard = 0;
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE;)
            {
                const object_data *object = get_object(index);
                if (!object || ++guard > object_count) break; // a broken chain is never followed further
                if (object_takes_area_damage(object) && damage_reaches_object(epicenter, radius, object))
                    reached.push_back({(int16_t)index, object->identifier});
                index = object->next_object_index;
            }
        }
    }
    for (const reached_object &object : reached) visit(object.index, object.identifier, context);
}

void accelerate_object(const damage_definition *definition, damage_data *data, int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!object || !definition || !data) return;
    const damage_reaction_procedures *replaced = damage_globals.test_reactions;
    switch (object->owner)
    {
    case _object_is_monster:
        if (replaced && replaced->accelerate_monster) replaced->accelerate_monster(definition, data, object->owner_index);
        else accelerate_monster(definition, data, object->owner_index);
        return;
    case _object_is_projectile:
    case _object_is_dormant_projectile:
        if (replaced && replaced->accelerate_projectile) replaced->accelerate_projectile(definition, data, object_index);
        else accelerate_projectile(definition, data, object_index);
        return;
    default:
        break;
    }
    damage_object(object_index, definition, data->damage, 0, nullptr, nullptr);
}

namespace {
struct area_damage_context
{
    const damage_definition *definition;
    const damage_data *data;
    int32_t obstacle_index;
    int16_t obstacle_identifier;
};
} // namespace

static void damage_reached_object(int32_t object_index, int16_t identifier, void *context)
{
    const area_damage_context *area = (const area_damage_context *)context;
    if (object_index == area->obstacle_index && identifier == area->obstacle_identifier) return;
    // A reaction earlier in the walk may have deleted (or replaced) the object.
    if (!get_object_by_identifier(object_index, identifier)) return;
    // Each object gets its own copy: what one reaction writes into the record
    // (its detonation group) must not reach the next object or the caller.
    damage_data copy = *area->data;
    accelerate_object(area->definition, &copy, object_index);
}

uint16_t cause_damage(int32_t obstacle_index, const damage_definition *definition, damage_data *data)
{
    if (!definition || !data)
    {
        log_message(__FILE__, __LINE__, "cause_damage() without a %s", definition ? "damage record" : "definition");
        return 0;
    }
    const resolved_damage resolved = resolve_damage(definition, data);
    data->damage = resolved.damage;
    data->velocity = resolved.velocity;
    data->flags &= (uint16_t)~_detonation_projectile_group_handled_by_obstacle_flag;

    // The struck obstacle first, through the caller's record so that its
    // reaction can hand back its own detonation group.
    const object_data *obstacle = get_object(obstacle_index);
    const int16_t obstacle_identifier = obstacle ? obstacle->identifier : 0;
    if (obstacle) accelerate_object(definition, data, obstacle_index);
    const uint16_t result = data->flags & _detonation_projectile_group_handled_by_obstacle_flag;

    if (resolved.radius > 0)
    {
        damage_data area = *data;
        area.flags &= (uint16_t)~_detonation_projectile_group_handled_by_obstacle_flag;
        const bool expands = definition->rate_of_expansion > 0 && !(data->flags & _damage_caused_constantly_flag);
        // A full explosion array applies the damage at once rather than lose it.
        if (!expands || new_explosion(definition, &area, resolved.radius, obstacle ? obstacle_index : NONE) == NONE)
        {
            area_damage_context context = {definition, &area, obstacle ? obstacle_index : NONE, obstacle_identifier};
            for_each_object_reached_by_damage(&area.epicenter, resolved.radius, damage_reached_object, &context);
        }
    }
    return result;
}

// ---- registration ----------------------------------------------------------

static bool startup_explosions(void) { return initialize_explosions(); }
static bool empty_explosion_stores(const new_game_data *)
{
    initialize_explosions_for_new_map();
    return true;
}

void register_damage_hooks(void)
{
    register_startup_procedure(_startup_explosions, startup_explosions);
    register_map_store_procedures(_startup_explosions, empty_explosion_stores, dispose_explosions_from_old_map);
    register_tick_procedure(_tick_explosions, update_explosions);
}
