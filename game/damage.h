#pragma once
// Damage: what a detonation, a strike or an explosion does to the objects it
// reaches.  `cause_damage` resolves a damage definition into an amount and a
// radius (the only vesk_random draws of this module), hands it to the struck
// obstacle and to every object whose footprint the radius reaches, in one
// fixed order, or leaves it to an expanding explosion (game/explosions.h).
// `accelerate_object` sends the damage to the owner of the object: a unit's
// reaction, a projectile's, or the object's own vitality.
//
// The rules, the visiting order and the order of draws are written down in
// docs/determinism.md ("Damage and explosions").  Simulation only: integer
// arithmetic, main thread.

#include "cseries/cseries.h"
#include "objects.h"
#include "world.h"

// Bits of damage_data.flags.
enum damage_data_flag_bits
{
    // Written by the obstacle's reaction: it supplies its own detonation
    // group (detonation_projectile_group_type, NONE for none at all).
    _detonation_projectile_group_handled_by_obstacle_bit = 0,
    // Set by the caller for damage repeated every tick (a continually
    // detonating projectile): applied at once, never as an expanding explosion.
    _damage_caused_constantly_bit = 1,
    // Set by the caller when mana was spent: the amount is scaled by mana_proportion.
    _damage_proportional_to_mana_bit = 2,

    _detonation_projectile_group_handled_by_obstacle_flag = FLAG(_detonation_projectile_group_handled_by_obstacle_bit),
    _damage_caused_constantly_flag = FLAG(_damage_caused_constantly_bit),
    _damage_proportional_to_mana_flag = FLAG(_damage_proportional_to_mana_bit),
};

// One application of damage.  In memory only (an explosion carries a copy,
// which the state hash covers field by field).
struct damage_data
{
    uint16_t flags; // damage_data_flag_bits
    int16_t owner_unit_index; // unit definition of the damaging unit type, NONE
    int16_t owner_monster_index; // the damaging unit, NONE
    int16_t owner_monster_identifier; // its identifier when the damage began
    int16_t detonation_projectile_group_type; // written by the obstacle's reaction
    int16_t mana_used;
    fixed_fraction mana_proportion; // 65535 = the whole amount
    short_fixed scale; // 8.8; 0 counts as 1.0
    world_point3d epicenter;
    world_vector3d vector; // the velocity of what detonated
    int16_t velocity; // the damage's push, world units per tick
    int32_t damage; // 8.8; written by cause_damage: the amount every object takes
};

// Fills `data` for damage owned by nobody: owners and group NONE, scale 1.0,
// everything else 0.
void initialize_damage_data(damage_data *data);

// Applies `definition` with the record `data` (epicenter, owners, scale...).
// `obstacle_index` is the object struck directly (NONE when nothing was):
// it takes the damage first, through the caller's own record, and is never
// reached again by the area.  Writes data->damage (and data->velocity when
// the definition converts damage to velocity).  Returns
// _detonation_projectile_group_handled_by_obstacle_flag when the obstacle
// supplied its own detonation group (then in data->detonation_projectile_group_type),
// else 0.  Null arguments do nothing (logged) and return 0.
uint16_t cause_damage(int32_t obstacle_index, const damage_definition *definition, damage_data *data);

// The amount and radius of a definition under a record, drawn in the
// documented order (used by cause_damage; exposed for explosions and tests).
struct resolved_damage
{
    int32_t damage; // 8.8
    world_distance radius;
    int16_t velocity;
};
resolved_damage resolve_damage(const damage_definition *definition, const damage_data *data);

// True when the object's footprint (a disc of its radius around its position)
// meets the disc of `radius` around the epicenter: the distance in x and y
// is at most radius + the object's radius (heights are not compared).
bool damage_reaches_object(const world_point3d *epicenter, world_distance radius, const object_data *object);

// True for the objects area damage considers: solid ones and those with
// _object_must_be_included_in_explosions_flag.
bool object_takes_area_damage(const object_data *object);

// Calls `visit(object_index, identifier, context)` for every object that
// area damage of `radius` around the epicenter reaches, in the fixed order:
// cell rows from the lowest y to the highest, in each row the cells from the
// lowest x to the highest, in each cell its chain from first_object_index.
// The cells walked are those under the square epicenter +/- (radius + the
// largest object radius), clamped to the mesh (objects off the map sit in the
// edge cells).  The list is taken before the first visit, so a visit may
// delete or move objects: each visit re-checks the identifier.
typedef void (*damage_visit_procedure)(int32_t object_index, int16_t identifier, void *context);
void for_each_object_reached_by_damage(const world_point3d *epicenter, world_distance radius,
                                       damage_visit_procedure visit, void *context);

// Hands the damage to the object's owner: a unit to accelerate_monster
// (game/monster_reactions.h, with the unit's index), a projectile or a
// dormant projectile to accelerate_projectile (game/projectiles.h, with the
// object's index), any other object to damage_object.  Nothing for a free slot.
void accelerate_object(const damage_definition *definition, damage_data *data, int32_t object_index);

// Tests only: replaces the owners' reactions, so that the areas reached and
// the order of visits are checked on bare objects.  A null member keeps the
// real reaction; a null table restores both.  Returns the previous table
// (null when none).  The program never calls it.
typedef void (*accelerate_monster_procedure)(const damage_definition *definition, damage_data *data,
                                             int32_t monster_index);
typedef void (*accelerate_projectile_procedure)(const damage_definition *definition, damage_data *data,
                                                int32_t object_index);
struct damage_reaction_procedures
{
    accelerate_monster_procedure accelerate_monster;
    accelerate_projectile_procedure accelerate_projectile;
};
const damage_reaction_procedures *set_damage_reaction_procedures(const damage_reaction_procedures *procedures);

// Registers the explosions' start-up step, per-map stores, tick step and
// state hash (game/subsystems.cpp).
void register_damage_hooks(void);
