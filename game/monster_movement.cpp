// Unit movement: the moving action and the units' own mover.  See monster_movement.h.

#include "monster_movement.h"

#include "cseries/log.h"
#include "cseries/registration.h"
#include "flags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "scenery.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

enum
{
    MESH_BAND = 992, // a unit's position keeps this far inside the mesh border
    FOOTPRINT_TERRAINS = 0x680, // terrain types 7, 9 and 10 take footprints
    FOOTPRINT_THRESHOLD = 80,
    RE_AIM_TICKS = 15,
    OBSTRUCTIONS_BEFORE_PAUSING = 30,
    CONTRAIL_FADE_TICKS = 60,
};

int16_t sequence_of(const monster_definition *definition, int32_t sequence)
{
    return sequence >= 0 && sequence < NUMBER_OF_MONSTER_SEQUENCES ? definition->sequence_indexes[sequence]
                                                                  : (int16_t)NONE;
}

bool over_media(const world_point2d *point) { return get_mesh_media_height(point) != MESH_NO_HEIGHT; }

bool maintains_constant_height(const object_data *object)
{
    const object_definition *definition = get_object_definition(object->type);
    return definition && (definition->flags & _maintains_constant_height_above_ground_flag);
}

// The multiplier of a unit that turns and steps only on new animation frames:
// the frame's length in ticks, so it covers a frame's worth of ground at once.
int32_t frame_multiplier(const object_data *object, bool continuous)
{
    if (continuous) return 1;
    return object->shape_ticks_per_frame > 0 ? object->shape_ticks_per_frame : 1;
}

void pause_for_obstacle(monster_data *monster, const monster_definition *definition, object_data *object,
                        int16_t ticks)
{
    const int32_t object_index = monster->object_index;
    const int16_t sequence = sequence_of(definition, SEQUENCE_PAUSING);
    if (sequence != NONE) set_object_shape(object_index, sequence, 256, 0, 0, 0, 0);
    object = get_object(object_index);
    if (object) object->flags |= _object_pausing_for_obstacle_to_move_flag;
    obstacle_facts_changed(object_index);
    monster->attack_timer = ticks;
}

void lose_invisibility(monster_data *monster)
{
    if (!(monster->extra_flags & _monster_is_invisible_extra_flag)) return;
    monster->extra_flags &= ~(uint32_t)(_monster_is_invisible_extra_flag | _monster_does_not_autotarget_extra_flag |
                                        _monster_cannot_be_autotargeted_extra_flag);
    unit_obstacle_facts_changed(monster);
    if (object_data *object = get_object(monster->object_index))
        object->flags &= ~(uint32_t)(_object_has_no_shadow_flag | _object_rendered_transparently_flag |
                                     _object_is_not_rendered_flag);
}

bool try_attack(int32_t monster_index)
{
    return try_monster_attack(monster_index);
}

bool wants_to_attack_on_the_move(const monster_data *monster)
{
    return (monster->action == _monster_action_moving || monster->action == _monster_action_holding_for_attack) &&
           (monster->flags & (_monster_has_valid_target_flag | _monster_has_valid_target_index_flag)) &&
           monster->attack_timer < 1 && !(monster->flags & _monster_needs_to_retreat_flag);
}

// Attack indexes outside the four attacks (other than the artifact's) would
// read past the table: from 1601 they are clamped as the rules say, before it
// 0..3 stay as they are and anything else is clamped too.
const monster_attack_definition *attack_for_index(const monster_data *monster, monster_definition *definition,
                                                  int32_t attack_index)
{
    if (attack_index == ARTIFACT_ATTACK_INDEX)
    {
        const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
        if (artifact && (monster->artifact_index != NONE || current_gameplay_version < 1511))
            return &artifact->override_attack;
        return &definition->attacks[0];
    }
    if (current_gameplay_version >= 1601)
    {
        const int32_t last = definition->number_of_attacks - 1;
        if (attack_index > last) attack_index = last;
    }
    if (attack_index < 0) attack_index = 0;
    if (attack_index >= MAXIMUM_ATTACKS_PER_MONSTER) attack_index = MAXIMUM_ATTACKS_PER_MONSTER - 1;
    return &definition->attacks[attack_index];
}

// A melee strike against a target that holds for attack toward this unit
// makes the target block (this runs in the aiming unit's turn).
void trigger_block(int32_t monster_index, monster_data *monster, monster_definition *definition,
                   const object_data *object)
{
    const monster_attack_definition *attack = attack_for_index(monster, definition, monster->action_permutation);
    const projectile_definition *projectile = attack ? get_projectile_definition(attack->projectile_type) : nullptr;
    if (!projectile || !(projectile->flags & _projectile_is_melee_attack_flag)) return;
    if (!(monster->flags & _monster_has_valid_target_index_flag) ||
        (monster->flags & _monster_has_valid_target_location_flag) || (attack->flags & _monster_attack_is_reflexive_flag))
        return;
    monster_data *target = get_monster_data(monster->target_monster_index);
    const monster_definition *target_definition = target ? get_monster_definition(target->type) : nullptr;
    if (!target || !target_definition || sequence_of(target_definition, SEQUENCE_BLOCKING) == NONE ||
        target->target_monster_index != monster_index || target->action != _monster_action_holding_for_attack)
        return;
    const shape_sequence_information information =
        get_shape_sequence_information(object->shape_collection_index, object->shape_sequence_index);
    if (information.key_frame == NONE) return;
    const int32_t ticks = (information.key_frame - object->shape_frame_index) * information.ticks_per_frame;
    if (ticks <= 0 || ticks >= 26 || target->attack_timer >= 10) return;
    int32_t bonus = 0;
    if (target_definition->hack_flags & _monster_hack_increased_chance_to_block_flag)
        bonus = target_definition->terrain_costs[5] < -29 ? -29 : target_definition->terrain_costs[5];
    target->attack_timer = (int16_t)(target->attack_timer + 30 + bonus);
    set_monster_action(monster->target_monster_index, _monster_action_blocking, ticks + 4);
}

} // namespace

// ---- heights ------------------------------------------------------------------------

world_distance get_height_for_new_position(const world_point2d *new_position, bool floats,
                                           bool maintain_constant_height, int16_t current_height_above_mesh,
                                           bool *new_position_over_media)
{
    // The media are looked at only where the answer or the caller needs them
    // (every step of every unit asks for its height).
    const bool media = (new_position_over_media || (floats && !maintain_constant_height)) && over_media(new_position);
    if (new_position_over_media) *new_position_over_media = media;
    if (maintain_constant_height)
    {
        const world_distance surface = get_mesh_height(new_position, _mesh_surface_height);
        return surface == MESH_NO_HEIGHT ? MESH_NO_HEIGHT : surface + current_height_above_mesh;
    }
    if (floats && media) return get_mesh_height(new_position, _media_height);
    return get_mesh_height(new_position, _mesh_ground_height);
}

void update_monster_location_height(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    const world_point2d point = {object->location.position.x, object->location.position.y};
    const world_distance z =
        get_height_for_new_position(&point, (object->flags & _object_floats_on_media_flag) != 0,
                                    maintains_constant_height(object), monster->height_over_mesh, nullptr);
    if (z != MESH_NO_HEIGHT) object->location.position.z = z;
}

angle heading_toward(world_distance dx, world_distance dy)
{
    static struct
    {
        world_distance dx, dy;
        angle heading;
    } last = {0, 0, 0}; // arctangent(0, 0) is 0
    if (dx != last.dx || dy != last.dy) last = {dx, dy, arctangent(dx, dy)};
    return last.heading;
}

int32_t monster_charge_speed_gain(int32_t speed, int8_t charge_byte)
{
    if (charge_byte < 1) return speed / 5;
    // The extended step: the quotient and the product in x87 80-bit precision.
    const long double fraction = (long double)charge_byte / 100.0L;
    const long double gain = (long double)speed * fraction;
    return (int32_t)gain;
}

// ---- the units' mover ------------------------------------------------------------------

namespace {

struct mover
{
    monster_data *monster;
    const monster_definition *definition;
    object_data *object;
    int32_t object_index;
    world_point3d start;
    world_point3d target;
    int32_t height_over_mesh;
    int32_t result;
    int32_t hits;
    bool passed_through; // walked into a unit it was allowed to be inside
    bool may_pass_through; // reach_of may let it pass through a unit this step
    bool constant_height; // maintains_constant_height of its object (its type stays through the step)
};

world_distance height_at(const mover *m, const world_point2d *point)
{
    const bool floats = (m->object->flags & _object_floats_on_media_flag) != 0;
    const world_distance z = get_height_for_new_position(point, floats, m->constant_height,
                                                         (int16_t)m->height_over_mesh, nullptr);
    return z == MESH_NO_HEIGHT ? m->object->location.position.z : z;
}

bool terrain_barred(uint16_t mask, const world_point2d *point)
{
    return (mask >> get_mesh_terrain_type(point)) & 1;
}

int32_t end_without_moving(mover *m)
{
    if (!m->passed_through) m->monster->extra_flags &= ~(uint32_t)_monster_inside_object_allowed_extra_flag;
    return m->result;
}

bool allied_units_keep_pathfinding_apart(const monster_data *a, const monster_data *b, int32_t b_index)
{
    if (game_->option_flags & _game_option_uses_vux_flag) return false;
    const uint32_t located = _monster_has_valid_target_flag | _monster_has_valid_target_location_flag;
    if ((a->flags & located) == located || (b->flags & located) == located) return false;
    auto engaged = [](const monster_data *u) {
        return u->action == _monster_action_holding_for_attack || u->action == _monster_action_aiming_attack ||
               u->action == _monster_action_attacking;
    };
    const uint32_t targeting = _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
    if (!(!engaged(a) && !engaged(b)) && !((a->flags & targeting) == targeting && a->target_monster_index != b_index))
        return false;
    // The alliance last, as it is the dearest test; both records are at hand,
    // so their teams are compared directly (what monsters_are_allied reads).
    return monster_records_are_allied(a, b);
}

// distance2d(p, there) >= distance2d(q, there) with at most one root: the
// floor root of a is at least that of b exactly when a is at least the
// square of b's (coordinates far apart take the distances themselves).
bool no_nearer(const world_point2d *p, const world_point2d *q, const world_point2d *there)
{
    const int64_t px = (int64_t)p->x - there->x, py = (int64_t)p->y - there->y;
    const int64_t qx = (int64_t)q->x - there->x, qy = (int64_t)q->y - there->y;
    constexpr int64_t near = (int64_t)1 << 30;
    if (px <= -near || px >= near || py <= -near || py >= near || qx <= -near || qx >= near || qy <= -near ||
        qy >= near)
        return distance2d(p, there) >= distance2d(q, there);
    const int64_t a = px * px + py * py, b = qx * qx + qy * qy;
    if (a >= b) return true;
    const int64_t root = isqrt64((uint64_t)b);
    return a >= root * root;
}

// The reach at which `other` stops the step, 0 when it is ignored.
int32_t reach_of(mover *m, int32_t other_index, const object_data *other)
{
    int32_t reach = m->object->radius + other->radius + MONSTER_MELEE_RADIUS;
    const world_point2d start = {m->start.x, m->start.y};
    const world_point2d there = {other->location.position.x, other->location.position.y};
    switch (other->owner)
    {
    case _object_is_monster:
    {
        const monster_data *unit = get_monster_data(other->owner_index);
        const monster_definition *definition = unit ? get_monster_definition(unit->type) : nullptr;
        if (!definition) break;
        const int32_t s = m->definition->size, o = definition->size;
        if ((s > 0 && o == 0) || (s == 0 && o > 0)) return 0;
        if (allied_units_keep_pathfinding_apart(m->monster, unit, other->owner_index))
            reach = m->definition->pathfinding_radius + definition->pathfinding_radius;
        if (m->may_pass_through &&
            distance2d(&start, &there) < m->definition->pathfinding_radius + definition->pathfinding_radius)
        {
            m->passed_through = true;
            return 0;
        }
        break;
    }
    case _object_is_projectile:
    case _object_is_dormant_projectile:
        if (current_gameplay_version >= 1301)
        {
            if ((m->monster->flags & _monster_wants_to_pick_up_object_flag) &&
                m->monster->pick_up_object_index == other_index)
                return 0;
            if (distance2d(&start, &there) < m->object->radius + other->radius + 2 * MONSTER_MELEE_RADIUS) return 0;
        }
        break;
    case _object_is_scenery:
    {
        const scenery_definition *definition = get_scenery_definition(other->owner_index);
        if (definition && (definition->flags & _scenery_marks_terrain_impassable_flag)) return 0;
        if (current_gameplay_version >= 1301 && definition && (definition->flags & _scenery_is_netgame_flag_flag))
            return 0;
        break;
    }
    default: break;
    }
    if (reach < 1) return 0;
    if (current_gameplay_version >= 1301 && m->hits > 0)
    {
        const world_point2d target = {m->target.x, m->target.y};
        if (current_gameplay_version < 1701)
        {
            const angle bearing = arctangent(there.x - target.x, there.y - target.y);
            const int32_t difference = current_gameplay_version >= 1601
                                           ? angular_difference(bearing, m->object->location.yaw)
                                           : (int32_t)bearing - (int32_t)m->object->location.yaw;
            const int32_t magnitude = difference < 0 ? -difference : difference;
            if (magnitude > (current_gameplay_version >= 1601 ? 20480 : 32768)) reach -= reach / 3;
        }
        else
        {
            world_point2d closest;
            closest_point_on_line_segment2d(&there, &start, &target, &closest);
            if (no_nearer(&closest, &start, &there)) return 0;
        }
    }
    return reach;
}

// The offsets d with -limit < d < limit, tested as one unsigned comparison
// (none for a limit below 1).
struct open_interval
{
    int64_t bias;
    uint64_t span;
};

open_interval interval_within(int64_t limit)
{
    return {limit - 1, limit >= 1 ? (uint64_t)(2 * limit - 1) : 0};
}

inline bool inside(int64_t d, open_interval interval) { return (uint64_t)(d + interval.bias) < interval.span; }

// Whether a point (x, y) lies, on one axis, at least `reach` from the target
// and, when the mover may pass through units, at least `passing` (the
// mover's pathfinding radius plus the largest any unit type has) from the
// start.
inline __attribute__((always_inline)) bool point_out_of_reach(const mover *m, int32_t x, int32_t y,
                                                              open_interval reach, open_interval passing)
{
    // From the target as search_objects measures (32 bits), from the start as
    // reach_of does (distance2d, 64 bits).
    const int32_t tx = x - m->target.x, ty = y - m->target.y;
    return !(inside(tx, reach) && inside(ty, reach)) &&
           !(m->may_pass_through && inside((int64_t)x - m->start.x, passing) &&
             inside((int64_t)y - m->start.y, passing));
}

// Whether `other` lies out of every reach reach_of can give it: the largest
// from the target and, for a mover that may pass through, the passing reach
// from the start.
// (`passing` is interval_within(passing_reach).)  Without passing through,
// an object also lies out of every reach when it is that far from the target
// in a straight line, as reach_of's own test then refuses it.
bool out_of_reach(const mover *m, const object_data *other, int64_t passing_reach, open_interval passing)
{
    const int64_t melee_reach = (int64_t)m->object->radius + other->radius + MONSTER_MELEE_RADIUS;
    const int64_t reach = melee_reach > passing_reach ? melee_reach : passing_reach;
    const int32_t x = other->location.position.x, y = other->location.position.y;
    // point_out_of_reach's test from the target, spelled out: every object in
    // a chain's reach asks it (a reach below 1 holds nothing).
    const int64_t tx = (int32_t)(x - m->target.x), ty = (int32_t)(y - m->target.y);
    const bool near_target = tx > -reach && tx < reach && ty > -reach && ty < reach;
    if (m->may_pass_through)
        return !near_target && !(inside((int64_t)x - m->start.x, passing) && inside((int64_t)y - m->start.y, passing));
    if (!near_target) return true;
    const int64_t dx = (int64_t)x - m->target.x, dy = (int64_t)y - m->target.y;
    return dx * dx + dy * dy >= reach * reach;
}

// The first object of a chain, from `index` on, that lies within `reach` of
// (x, y) on both axes, by the kept places alone; NONE when there is none.
// The same test as point_out_of_reach's first, in 32 bits: the offsets wrap
// as its do, and with 0 <= bias and span < 2^31 a wrapped sum lies beyond
// the span just as the true one does.
inline __attribute__((always_inline)) int32_t first_within(int32_t index, const int16_t *links,
                                                           const obstacle_facts *facts, int32_t x, int32_t y,
                                                           open_interval reach)
{
    const uint32_t bias = (uint32_t)reach.bias, span = (uint32_t)reach.span;
    while (index != NONE)
    {
        const obstacle_facts &place = facts[index];
        if ((uint32_t)place.x - (uint32_t)x + bias < span && (uint32_t)place.y - (uint32_t)y + bias < span)
            return index;
        index = links[index];
    }
    return NONE;
}

// Checks the step against the objects near the target.  False when the step
// ends without moving.
bool search_objects(mover *m)
{
    const int32_t tx = m->target.x >> WORLD_FRACTIONAL_BITS, ty = m->target.y >> WORLD_FRACTIONAL_BITS;
    const int32_t nx = (m->target.x & 511) > 255 ? tx + 1 : tx - 1;
    const int32_t ny = (m->target.y & 511) >= 256 ? ty + 1 : ty - 1;
    const int32_t cells[4][2] = {{tx, ty}, {nx, ty}, {tx, ny}, {nx, ny}};
    // reach_of never gives more than the larger of the two radii plus the
    // melee radius and the two pathfinding radii, and lets the unit pass
    // through only what stands within the pathfinding radii of its start
    // (only ever a unit without a target that was let inside another):
    // an object beyond both on one axis is passed over without it, with the
    // same answer.
    const uint32_t targeting = _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
    m->may_pass_through = current_gameplay_version >= 1301 &&
                          (m->monster->extra_flags & _monster_inside_object_allowed_extra_flag) &&
                          !(m->monster->flags & targeting);
    int32_t largest_radius = 0;
    const bool bounded = largest_pathfinding_radius(&largest_radius);
    const int64_t passing_reach = (int64_t)m->definition->pathfinding_radius + largest_radius;
    // Most objects of the four cells lie out of reach on one axis: the kept
    // obstacle facts (objects.h) give their place without their records, and
    // with the largest radius any of them may have, the widest reach; an
    // object beyond that is beyond its own reach too.  The obstacle facts
    // checker compares each place read here with the record.
    const int16_t *links = get_scan_chain_links();
    const obstacle_facts *facts = get_obstacle_facts();
    const bool checking = obstacle_facts_checking();
    const int64_t widest_melee_reach =
        (int64_t)m->object->radius + get_scan_chain_radius_bound() + MONSTER_MELEE_RADIUS;
    const open_interval widest_reach =
        interval_within(widest_melee_reach > passing_reach ? widest_melee_reach : passing_reach);
    const open_interval passing = interval_within(passing_reach);
    // Without passing through and without the checker, the chains are walked
    // by place alone up to each object in reach.
    const bool by_place = bounded && !checking && !m->may_pass_through && widest_reach.span < ((uint64_t)1 << 31);
    // The two rows of the four cells at once when both lie on the mesh (the
    // band keeps units well inside it); a cell off the mesh holds nothing.
    const int32_t low_y = ty < ny ? ty : ny;
    const int16_t *rows = mesh_cell_in_bounds(tx, ty) && low_y >= 0 && low_y + 2 <= mesh_height
                              ? get_scan_chain_rows(low_y, low_y + 2)
                              : nullptr;
    for (const auto &cell : cells)
    {
        int32_t first;
        if (rows && cell[0] >= 0 && cell[0] < mesh_width)
            first = rows[cell[0] + (cell[1] - low_y) * mesh_width];
        else if (mesh_cell_in_bounds(cell[0], cell[1]))
            first = first_scanned_object(cell[0], cell[1]);
        else
            continue;
        for (int32_t index = first; index != NONE;)
        {
            if (by_place)
            {
                index = first_within(index, links, facts, m->target.x, m->target.y, widest_reach);
                if (index == NONE) break;
            }
            const int32_t next = links[index];
            if (bounded && !by_place)
            {
                int32_t x = facts[index].x, y = facts[index].y;
                if (checking)
                {
                    const object_data *record = get_object(index);
                    if (record && (record->location.position.x != x || record->location.position.y != y))
                    {
                        count_obstacle_facts_mismatch(index);
                        x = record->location.position.x;
                        y = record->location.position.y;
                    }
                }
                if (point_out_of_reach(m, x, y, widest_reach, passing))
                {
                    index = next;
                    continue;
                }
            }
            const object_data *other = get_object(index);
            if (!other) break;
            if (index != m->object_index && index != m->object->transparent_object_index &&
                (other->flags & _object_is_solid_flag) && !(other->flags & _object_is_invisible_flag) &&
                !(bounded && out_of_reach(m, other, passing_reach, passing)))
            {
                const int32_t reach = reach_of(m, index, other);
                const int32_t dx = other->location.position.x - m->target.x;
                const int32_t dy = other->location.position.y - m->target.y;
                const int32_t dz = other->location.position.z - m->target.z;
                if (reach > 0 && dx < reach && dx > -reach && dy < reach && dy > -reach &&
                    (int64_t)dx * dx + (int64_t)dy * dy < (int64_t)reach * reach &&
                    dz > m->object->height0 - other->height1 && dz < m->object->height1 - other->height0)
                {
                    if (m->hits++ > 0)
                    {
                        m->result |= _move_struck_objects_flag;
                        return false;
                    }
                    const world_point2d there = {other->location.position.x, other->location.position.y};
                    const world_point2d start = {m->start.x, m->start.y};
                    const world_point2d target = {m->target.x, m->target.y};
                    world_point2d pushed;
                    closest_point_on_circle2d(&there, reach, &target, &pushed);
                    bool stay = false;
                    if (current_gameplay_version >= 1301 && !m->passed_through &&
                        (m->definition->more_hack_flags & _monster_more_hack_walks_around_blockage_flag))
                    {
                        const int32_t pushed_distance = distance2d(&pushed, &there);
                        const int32_t start_distance = distance2d(&start, &there);
                        const int32_t margin = reach < 171 ? reach - reach / 20 : reach - reach / 40;
                        stay = pushed_distance < start_distance && pushed_distance < margin &&
                               distance2d(&target, &there) <= start_distance;
                        if (!stay)
                        {
                            const mesh_cell *pushed_cell =
                                get_mesh_cell(pushed.x >> WORLD_FRACTIONAL_BITS, pushed.y >> WORLD_FRACTIONAL_BITS);
                            stay = (m->monster->terrain_impassability_flags >> ((pushed_cell->flags >> 4) & 0xF)) & 1;
                        }
                    }
                    const world_point2d landing = stay ? start : pushed;
                    m->target.x = landing.x;
                    m->target.y = landing.y;
                    m->target.z = stay ? m->start.z : height_at(m, &landing);
                    m->result |= _move_struck_object_flag | (int32_t)((uint32_t)(uint16_t)index << 16);
                    if ((other->flags | m->object->flags) & _object_is_permeable_flag)
                        m->result |= _move_struck_object_softly_flag;
                    if (other->owner == _object_is_projectile || other->owner == _object_is_dormant_projectile)
                        return false;
                }
            }
            index = next;
        }
    }
    return true;
}

// Clips the step to the obstructed boxes of the four cells beside the target.
void clip_to_obstructed_cells(mover *m)
{
    const int32_t tx = m->target.x >> WORLD_FRACTIONAL_BITS, ty = m->target.y >> WORLD_FRACTIONAL_BITS;
    obstructed_cell_bounds boxes[MAXIMUM_OBSTRUCTED_CELL_BOUNDS];
    int32_t count = 0;
    // Only a cell of the mesh that holds a model can report a box: the others
    // are passed over without asking (the cells are side by side, row by row).
    // A target with all four sides on the mesh (nearly always: the band keeps
    // units inside) has them told without a bound test each, and one without
    // a model among them has nothing to clip.
    const mesh_cell *cells = mesh_cell_in_bounds(tx, ty) ? get_mesh_cell(0, 0) : nullptr;
    if (cells && tx >= 1 && ty >= 1 && tx + 1 < mesh_width && ty + 1 < mesh_height)
    {
        const mesh_cell *middle = &cells[tx + ty * mesh_width];
        if (middle[-mesh_width].model_index == NONE && middle[mesh_width].model_index == NONE &&
            middle[-1].model_index == NONE && middle[1].model_index == NONE)
            return;
    }
    else if (!mesh_cell_in_bounds(0, 0))
        cells = nullptr;
    else
        cells = get_mesh_cell(0, 0);
    const int32_t sides[4][2] = {{tx, ty - 1}, {tx, ty + 1}, {tx - 1, ty}, {tx + 1, ty}};
    for (const auto &side : sides)
        if (cells && side[0] >= 0 && side[1] >= 0 && side[0] < mesh_width && side[1] < mesh_height &&
            cells[side[0] + side[1] * mesh_width].model_index != NONE)
            report_obstructed_cell_bounds(side[0], side[1], boxes, &count, m->object->radius);
    for (int32_t i = 0; i < count; ++i)
    {
        const obstructed_cell_bounds *box = &boxes[i];
        if (m->target.x < box->left || m->target.x > box->right || m->target.y < box->top ||
            m->target.y > box->bottom)
            continue;
        const world_point2d start = {m->start.x, m->start.y}, target = {m->target.x, m->target.y};
        world_point2d entry;
        const int32_t edge = clip_line_to_box(box->left, box->right, box->top, box->bottom, &start, &target, &entry);
        const int32_t length = distance2d(&start, &target);
        if (edge == _clip_vertical_edge)
        {
            m->target.x = start.x;
            m->target.y = target.y > start.y ? start.y + length : start.y - length;
        }
        else if (edge == _clip_horizontal_edge)
        {
            m->target.y = start.y;
            m->target.x = target.x > start.x ? start.x + length : start.x - length;
        }
        m->result |= _move_struck_cell_flag;
    }
}

// Keeps the step off impassable terrain.  False when the step ends without
// moving.
bool respect_terrain(mover *m)
{
    const uint16_t mask = m->monster->terrain_impassability_flags;
    if (!mask) return true;
    const uint8_t cell_flags = m->monster->cell_impassability_flags;
    const int32_t sx = m->start.x >> WORLD_FRACTIONAL_BITS, sy = m->start.y >> WORLD_FRACTIONAL_BITS;
    int32_t tx = m->target.x >> WORLD_FRACTIONAL_BITS, ty = m->target.y >> WORLD_FRACTIONAL_BITS;
    // Crossing a barred edge.
    const bool x_barred = (tx < sx && (cell_flags & 0x20)) || (tx > sx && (cell_flags & 0x80));
    const bool y_barred = (ty < sy && (cell_flags & 0x10)) || (ty > sy && (cell_flags & 0x40));
    const world_point2d target_point = {m->target.x, m->target.y};
    if ((x_barred || y_barred) && !(x_barred && y_barred && !terrain_barred(mask, &target_point)))
    {
        if (x_barred) m->target.x = m->start.x;
        if (y_barred) m->target.y = m->start.y;
        m->result |= _move_struck_cell_flag;
        tx = m->target.x >> WORLD_FRACTIONAL_BITS;
        ty = m->target.y >> WORLD_FRACTIONAL_BITS;
    }
    if (tx == sx && ty == sy)
    {
        if (cell_flags & 3)
        {
            // The triangle the point ends in, by the rule of get_mesh_triangle.
            int32_t x = m->target.x, y = m->target.y;
            const int32_t p = ((x ^ y) >> WORLD_FRACTIONAL_BITS) & 1;
            int32_t u = y & 511;
            if (p) u = 511 - u;
            const int32_t triangle = (x & 511) < u ? 0 : 1;
            if (cell_flags & (1 << triangle))
            {
                const int32_t base_x = x & ~511, base_y = y & ~511;
                if (current_gameplay_version < 1301 ||
                    (m->definition->hack_flags & _monster_hack_turns_in_a_curve_flag))
                {
                    x = base_x + (y & 511);
                    y = base_y + (y & 511);
                }
                else if (p == 0)
                {
                    // The side of the nudge follows the point's new place on the
                    // diagonal (x & 511 is u now), which keeps it in its cell.
                    const int32_t fraction = u;
                    x = base_x + u;
                    y = base_y + u;
                    if (!(cell_flags & 1))
                    {
                        if (fraction <= 256) ++y;
                        else --x;
                    }
                    else if (fraction < 256)
                        ++x;
                    else
                        --y;
                }
                else
                {
                    const int32_t fraction = u;
                    x = base_x + u;
                    y = base_y + (511 - u);
                    if (!(cell_flags & 1))
                    {
                        if (fraction > 256) --x;
                        else --y;
                    }
                    else if (fraction < 256)
                        ++x;
                    else
                        ++y;
                }
                m->target.x = x;
                m->target.y = y;
                m->result |= _move_struck_cell_flag;
            }
        }
    }
    else
    {
        const world_point2d point = {m->target.x, m->target.y};
        const uint8_t entered = build_cell_impassability_flags(mask, &point);
        if ((entered & 3) == 3 || (entered & 0xF0) == 0xF0 ||
            (((tx + ty) & 1) == 0 && ((entered & 0x91) == 0x91 || (entered & 0x62) == 0x62)))
        {
            m->result |= _move_struck_cell_flag;
            return false;
        }
    }
    if (current_gameplay_version >= 1301)
    {
        const world_point2d start = {m->start.x, m->start.y}, target = {m->target.x, m->target.y};
        if (terrain_barred(mask, &target) && !terrain_barred(mask, &start))
        {
            m->result |= _move_struck_cell_flag;
            const world_point2d along_x = {target.x, start.y}, along_y = {start.x, target.y};
            const bool x_open = !terrain_barred(mask, &along_x), y_open = !terrain_barred(mask, &along_y);
            if (x_open && !y_open)
                m->target.x = along_x.x, m->target.y = along_x.y;
            else if (!x_open && !y_open)
            {
                m->monster->flags |= _monster_needs_new_path_flag;
                unit_obstacle_facts_changed(m->monster);
                return false;
            }
            else if (!x_open && y_open)
                m->target.x = along_y.x, m->target.y = along_y.y;
            else if (current_gameplay_version >= 1501)
                m->target.x = along_y.x, m->target.y = along_y.y;
        }
    }
    return true;
}

} // namespace

int32_t move_monster_object(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!object || object->owner != _object_is_monster) return 0;
    monster_data *monster = get_monster_data(object->owner_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!monster || !definition || monster->object_index != object_index) return 0;

    // The unit has not moved yet; a pausing or still unit ends here.
    monster->extra_flags &= ~(uint32_t)_monster_actually_moved_extra_flag;
    if ((object->flags & _object_pausing_for_obstacle_to_move_flag) ||
        (object->location.velocity.i == 0 && object->location.velocity.j == 0))
    {
        monster->extra_flags &= ~(uint32_t)_monster_inside_object_allowed_extra_flag;
        return 0;
    }
    mover m = {};
    m.monster = monster;
    m.definition = definition;
    m.object = object;
    m.object_index = object_index;
    m.start = object->location.position;
    m.constant_height = maintains_constant_height(object);
    // Its height over the ground (the surface before 1301).
    const world_point2d start2d = {m.start.x, m.start.y};
    m.height_over_mesh = current_gameplay_version < 1301 ? m.start.z - get_mesh_height(&start2d, _mesh_surface_height)
                                                         : monster->height_over_mesh;
    // The target point, kept a band inside the mesh's edge.
    m.target = {m.start.x + object->location.velocity.i, m.start.y + object->location.velocity.j, m.start.z};
    const world_distance right = mesh_width * WORLD_ONE - (MESH_BAND + 1);
    const world_distance bottom = mesh_height * WORLD_ONE - (MESH_BAND + 1);
    if (m.target.x < MESH_BAND) m.target.x = MESH_BAND, m.result |= _move_struck_edge_of_mesh_flag;
    if (m.target.x > right) m.target.x = right, m.result |= _move_struck_edge_of_mesh_flag;
    if (m.target.y < MESH_BAND) m.target.y = MESH_BAND, m.result |= _move_struck_edge_of_mesh_flag;
    if (m.target.y > bottom) m.target.y = bottom, m.result |= _move_struck_edge_of_mesh_flag;
    // The target's height.
    const world_point2d target2d = {m.target.x, m.target.y};
    m.target.z = height_at(&m, &target2d);
    // Objects in the way.
    if (!search_objects(&m)) return end_without_moving(&m);
    // Obstructed cells clip a walker's step.
    if (!(definition->flags & _monster_flies_flag)) clip_to_obstructed_cells(&m);
    // Terrain the unit may not enter.
    if (!respect_terrain(&m)) return end_without_moving(&m);
    // A struck cell: the step slides along it unless an object stops it too.
    if (m.result & _move_struck_cell_flag)
    {
        if (m.result & _move_struck_object_flag) return end_without_moving(&m);
        m.target.z = object->location.position.z;
        if (!((definition->flags & _monster_flies_flag) && (definition->hack_flags & _monster_hack_walks_on_water_flag)))
        {
            const world_point2d point = {m.target.x, m.target.y};
            m.target.z = height_at(&m, &point);
        }
    }
    // Entering and leaving media.
    const world_point2d final2d = {m.target.x, m.target.y};
    const world_distance surface = get_mesh_media_height(&final2d);
    const bool walks_on_water = (definition->hack_flags & _monster_hack_walks_on_water_flag) != 0;
    uint32_t movement = _object_on_ground_flag;
    if (surface == MESH_NO_HEIGHT || (surface <= m.target.z && !walks_on_water))
    {
        if (object->flags & _object_partially_under_media_flag) m.result |= _move_exited_media_flag;
    }
    else
    {
        movement = _object_on_ground_flag | _object_partially_under_media_flag | _object_wholly_under_media_flag;
        if (surface <= m.target.z + object->height1)
            movement = _object_on_ground_flag | _object_partially_under_media_flag;
        if (!(object->flags & _object_partially_under_media_flag)) m.result |= _move_entered_media_flag;
    }
    // The move itself: the mesh link, the parasite, the movement flags.
    const bool moved = m.target.x != m.start.x || m.target.y != m.start.y || m.target.z != m.start.z;
    if (moved) monster->extra_flags |= _monster_actually_moved_extra_flag;
    const bool changed_cells = (m.target.x >> WORLD_FRACTIONAL_BITS) != (m.start.x >> WORLD_FRACTIONAL_BITS) ||
                               (m.target.y >> WORLD_FRACTIONAL_BITS) != (m.start.y >> WORLD_FRACTIONAL_BITS);
    if (changed_cells) disconnect_object_from_mesh(object_index);
    object->location.position = m.target;
    obstacle_facts_changed(object_index);
    object->location.height = 0;
    if (changed_cells)
    {
        reconnect_object_to_mesh(object_index);
        m.result |= _move_changed_cells_flag;
        monster->cell_impassability_flags =
            build_cell_impassability_flags(monster->terrain_impassability_flags, &final2d);
    }
    if (object_data *parasite = get_object(object->parasitic_object_index))
    {
        disconnect_object_from_mesh(object->parasitic_object_index);
        parasite->location = object->location;
        reconnect_object_to_mesh(object->parasitic_object_index);
    }
    object->flags = (object->flags & ~(uint32_t)_object_movement_flags) | movement;
    if (!m.passed_through) monster->extra_flags &= ~(uint32_t)_monster_inside_object_allowed_extra_flag;
    return m.result;
}

// ---- the moving action ------------------------------------------------------------------

// A unit's move of one tick as its steps share it: the unit and its object
// (looked up again after anything that may free them), how it moves this
// tick and what the move met.
struct unit_move
{
    int32_t monster_index;
    int16_t identifier;
    int32_t object_index;
    monster_data *monster;
    monster_definition *definition;
    object_data *object;
    bool continuous;
    int32_t multiplier;
    world_point2d here;
    int32_t turn;
    int32_t result;
    int32_t terrain;
};

// A unit gives up a target that has left the mesh, or one that flies when it
// cannot reach flying units.
static void give_up_unreachable_target(unit_move &move)
{
    const uint32_t aimed = _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
    if ((move.monster->flags & aimed) == aimed)
    {
        const monster_data *target = get_monster_data(move.monster->target_monster_index);
        const monster_definition *target_definition = target ? get_monster_definition(target->type) : nullptr;
        const bool cannot_target_flying =
            current_gameplay_version <= 1300 ||
            !(move.definition->more_hack_flags & _monster_more_hack_can_target_flying_flag);
        if (target && target_definition &&
            ((target->flags & _monster_has_left_the_mesh_flag) ||
             ((target_definition->flags & _monster_flies_flag) && move.definition->monster_class == 0 &&
              cannot_target_flying)))
        {
            move.monster->flags &= ~(uint32_t)(aimed | _monster_has_valid_target_location_flag);
            set_monster_action(move.monster_index, _monster_action_idle, 0);
        }
    }
}

// A unit that may attack while moving tries to.  False when the tick ends here
// (it attacked, or it is gone).
static bool attack_on_the_move(unit_move &move)
{
    if (wants_to_attack_on_the_move(move.monster))
    {
        if (try_attack(move.monster_index)) return false;
        move.monster = same_unit(move.monster_index, move.identifier);
        if (!move.monster) return false;
        if (current_gameplay_version == 1690 && wants_to_attack_on_the_move(move.monster))
        {
            if (move.monster->target_monster_index == move.monster_index) return false;
            if (try_attack(move.monster_index)) return false;
            move.monster = same_unit(move.monster_index, move.identifier);
            if (!move.monster) return false;
        }
    }
    return true;
}

// How the unit moves this tick, and its aim at the path's destination, taken
// again every few ticks.  False when it does not move this tick (a unit that
// neither glides nor translates continuously moves on new frames only).
static bool re_aim(unit_move &move)
{
    move.continuous = move.monster->action_permutation == _monster_action_permutation_gliding ||
                      (move.definition->flags & _monster_translates_continuously_flag);
    move.multiplier = frame_multiplier(move.object, move.continuous);
    // A moving unit at the end of its segment needs a new path.
    if (move.monster->action == _monster_action_moving && move.monster->path_segment_length < 1)
    {
        move.monster->flags |= _monster_needs_new_path_flag;
        unit_obstacle_facts_changed(move.monster);
    }
    const int8_t countdown = move.monster->ticks_until_updating;
    if (countdown > 0) move.monster->ticks_until_updating = (int8_t)(countdown - 1);
    if (!move.continuous && !(move.object->flags & _object_animation_new_frame_flag)) return false;
    move.here = {move.object->location.position.x, move.object->location.position.y};
    if (countdown <= 0)
    {
        if (move.monster->action == _monster_action_moving)
        {
            const int32_t dx = move.monster->path_destination.x - move.here.x,
                          dy = move.monster->path_destination.y - move.here.y;
            const bool differs = current_gameplay_version < 1710 ? (dx != 0 && dy != 0) : (dx != 0 || dy != 0);
            if (differs) move.monster->desired_yaw = heading_toward(dx, dy);
        }
        move.monster->ticks_until_updating = RE_AIM_TICKS;
    }
    return true;
}

// The unit turns toward its desired yaw at its turning speed, turning in place
// when the turn is wide; a finished turn ends a turning action or looses an
// aimed attack.  False when the tick ends here.
static bool turn_toward_desired_yaw(unit_move &move)
{
    if (current_gameplay_version >= 1601 && move.here.x == move.monster->path_destination.x &&
        move.here.y == move.monster->path_destination.y && move.monster->target_monster_index == move.monster_index)
    {
        move.monster->desired_yaw = move.object->location.yaw;
        move.turn = 0;
    }
    else
        move.turn = signed_angular_difference(move.object->location.yaw, move.monster->desired_yaw);
    if (!(move.turn == 0 && move.monster->action == _monster_action_moving))
    {
        const int32_t rate = move.definition->turning_speed * move.multiplier;
        const int32_t magnitude = move.turn < 0 ? -move.turn : move.turn;
        angle yaw = move.object->location.yaw;
        if (rate < magnitude)
        {
            const bool curves = (move.definition->hack_flags & _monster_hack_turns_in_a_curve_flag) &&
                                distance2d(&move.here, &move.monster->path_destination) >= 768;
            yaw = (angle)(move.turn > 0 ? yaw + rate : yaw - rate);
            if (!curves)
            {
                if (magnitude > QUARTER_CIRCLE && sequence_of(move.definition, SEQUENCE_TURNING) != NONE)
                    set_monster_action(move.monster_index, _monster_action_turning, move.monster->action_permutation);
            }
            else if (move.monster->action == _monster_action_holding_for_attack)
                set_monster_action(move.monster_index, _monster_action_turning, move.monster->action_permutation);
        }
        else
        {
            yaw = move.monster->desired_yaw;
            if (move.monster->action == _monster_action_turning)
                set_most_appropriate_monster_action(move.monster_index);
            else if (move.monster->action == _monster_action_aiming_attack)
            {
                set_monster_action(move.monster_index, _monster_action_attacking, move.monster->action_permutation);
                if (move.monster->flags & _monster_will_use_special_ability_flag)
                    move.monster->flags = (move.monster->flags & ~(uint32_t)_monster_will_use_special_ability_flag) |
                                          _monster_is_using_special_ability_flag;
                if ((move.object = get_object(move.object_index)))
                    trigger_block(move.monster_index, move.monster, move.definition, move.object);
            }
        }
        if ((move.object = get_object(move.object_index))) move.object->location.yaw = yaw;
        obstacle_facts_changed(move.object_index);
        if (move.monster->action != _monster_action_moving) return false;
    }
    if (!(move.object = get_object(move.object_index))) return false;
    return true;
}

// The unit steps along its yaw at its speed on this terrain (doubled, or its
// charge gained, when it runs).  False when it is gone after the move.
static bool take_step(unit_move &move)
{
    move.terrain = get_mesh_terrain_type(&move.here);
    int32_t s = move.monster->base_movement_speed * (move.definition->movement_modifiers[move.terrain] + 1);
    if (move.monster->action_permutation == _monster_action_permutation_running &&
        sequence_of(move.definition, SEQUENCE_RUNNING) != NONE)
    {
        if (move.definition->hack_flags & _monster_hack_unit_can_charge_flag)
            s += monster_charge_speed_gain(s, move.definition->terrain_costs[8]);
        else
            s *= 2;
    }
    const int32_t step = (s * move.multiplier) >> 8;
    // Straight onto the destination when it is within the step.
    const int32_t dx = move.monster->path_destination.x - move.here.x,
                  dy = move.monster->path_destination.y - move.here.y;
    const angle yaw = move.object->location.yaw;
    if (dx >= -32767 && dx <= 32766 && dy >= -32767 && dy <= 32766 &&
        (int64_t)dx * dx + (int64_t)dy * dy < (int64_t)step * step)
    {
        move.object->location.velocity = {(int16_t)dx, (int16_t)dy, 0};
        move.monster->path_segment_length = 0;
    }
    else
    {
        move.object->location.velocity = {(int16_t)((cosine_rounded(yaw) * step) >> TRIG_SHIFT),
                                          (int16_t)((sine_rounded(yaw) * step) >> TRIG_SHIFT), 0};
        move.monster->path_segment_length = (int16_t)(move.monster->path_segment_length - step);
    }
    move.result = move_monster_object(move.object_index);
    if (!(move.monster = same_unit(move.monster_index, move.identifier)) ||
        !(move.object = get_object(move.object_index)))
        return false;
    if (!move.continuous)
    {
        const int32_t plain = s >> 8;
        move.object->location.velocity = {(int16_t)((cosine_rounded(yaw) * plain) >> TRIG_SHIFT),
                                          (int16_t)((sine_rounded(yaw) * plain) >> TRIG_SHIFT), 0};
    }
    return true;
}

// A walking unit darkens the ground under a foot, or splashes in shallow media.
// False when it is gone after the splash.
static bool leave_footprint_or_splash(unit_move &move)
{
    if (!(move.definition->flags & (_monster_floats_flag | _monster_flies_flag)) &&
        !(move.result & (_move_struck_object_flag | _move_struck_cell_flag)))
    {
        const int32_t side = (move.object->shape_frame_index & 1) ? 0 : 0x8000;
        const int32_t index = ((move.object->location.yaw + 0x4020 - side) & 0xFFFF) >> ANGLE_TO_TRIG_SHIFT;
        const world_point2d mark = {
            move.object->location.position.x + ((cosine_table[index] * move.object->radius) >> 15),
            move.object->location.position.y + ((sine_table[index] * move.object->radius) >> 15)};
        const bool under = over_media(&mark);
        if (!under && ((FOOTPRINT_TERRAINS >> move.terrain) & 1) &&
            !(move.object->flags & _object_floats_on_land_flag) && mark.x >= 0 && mark.y >= 0 &&
            mark.x < mesh_width * WORLD_ONE && mark.y < mesh_height * WORLD_ONE)
        {
            const int32_t submesh = (mark.y >> 14) * submesh_width + (mark.x >> 14);
            uint8_t *shadow = get_submesh_shadow_map_base_address(submesh, false);
            if (shadow)
            {
                uint8_t *texel = &shadow[((mark.y >> 6) & 255) * 256 + ((mark.x >> 6) & 255)];
                if (*texel > FOOTPRINT_THRESHOLD) *texel = (uint8_t)(*texel - 6 - (local_random() & 3));
            }
        }
        else if (under && (move.object->flags & _object_partially_under_media_flag) &&
                 !(move.object->flags & _object_wholly_under_media_flag))
        {
            const int32_t type = get_mesh_media_projectile_group_type(_media_splash_footstep);
            if (type != NONE)
            {
                new_projectile_group_data splash = {};
                splash.flags = _new_projectile_group_uses_epicenter_as_origin_flag;
                splash.type = (int16_t)type;
                splash.owner_object_index = splash.bounds_object_index = (int16_t)move.object_index;
                splash.owner_monster_index = NONE;
                const mesh_cell *cell = get_mesh_cell(move.object->location.position.x >> WORLD_FRACTIONAL_BITS,
                                                      move.object->location.position.y >> WORLD_FRACTIONAL_BITS);
                splash.epicenter = {mark.x, mark.y, cell->media_height};
                new_projectile_group(&splash);
                if (!(move.monster = same_unit(move.monster_index, move.identifier)) ||
                    !(move.object = get_object(move.object_index)))
                    return false;
            }
        }
    }
    return true;
}

// A struck enemy becomes the target; a moving friend makes the unit pause;
// anything else is an obstruction, and repeated obstructions pause it.
// False when the unit is gone.
static bool respond_to_collision(unit_move &move)
{
    bool obstruction = false, paused_now = false;
    if (!(move.result & _move_struck_object_flag))
        move.monster->repeated_obstruction_count = 0;
    else
    {
        const int32_t struck_index = move_flags_struck_object_index(move.result);
        const object_data *struck = get_object(struck_index);
        if (!struck)
            obstruction = true;
        else if (struck->owner == _object_is_projectile || struck->owner == _object_is_dormant_projectile)
        {
        }
        else if (struck->owner == _object_is_flag)
            obstruction = !monster_bumped_flag(move.monster_index, struck_index, 2 * move.monster->base_movement_speed);
        else if (struck->owner == _object_is_monster && get_monster_data(struck->owner_index))
        {
            const int32_t other_index = struck->owner_index;
            monster_data *other = get_monster_data(other_index);
            // Both records are at hand: their teams are compared directly.
            const bool enemy = !monster_records_are_allied(move.monster, other);
            if (enemy || (move.monster->flags & _monster_has_valid_target_index_flag))
            {
                if (enemy)
                {
                    lose_invisibility(move.monster);
                    lose_invisibility(other);
                }
                const uint32_t mode =
                    (move.result & _move_struck_objects_flag) &&
                            angular_difference(move.object->location.yaw, move.monster->desired_yaw) > 8191
                        ? 5
                        : 4;
                if (!switch_monster_target(move.monster_index, other_index, mode))
                    obstruction = true;
                else if ((move.monster = same_unit(move.monster_index, move.identifier)))
                {
                    move.monster->action_permutation = 0;
                    if (move.definition->monster_class != _monster_class_missile)
                        set_monster_action(move.monster_index, _monster_action_holding_for_attack, 0);
                }
                if (!move.monster) return false;
            }
            else
            {
                const object_data *other_object = get_object(other->object_index);
                if (other->action == _monster_action_moving && other_object &&
                    !(other_object->flags & _object_pausing_for_obstacle_to_move_flag))
                {
                    if (!(move.object->flags & _object_pausing_for_obstacle_to_move_flag))
                        pause_for_obstacle(move.monster, move.definition, move.object, 10);
                    paused_now = true;
                }
                else
                    obstruction = true;
            }
        }
        else
            obstruction = true;
    }
    if (!(move.object = get_object(move.object_index))) return false;
    if (obstruction)
    {
        move.monster->repeated_obstruction_count = (int16_t)(move.monster->repeated_obstruction_count + 1);
        if (move.monster->repeated_obstruction_count >= OBSTRUCTIONS_BEFORE_PAUSING &&
            !(move.monster->flags & _monster_has_valid_target_index_flag))
        {
            pause_for_obstacle(move.monster, move.definition, move.object, 30);
            move.monster->repeated_obstruction_count = 0;
            paused_now = true;
        }
    }
    if (!paused_now && (move.object->flags & _object_pausing_for_obstacle_to_move_flag) &&
        move.monster->attack_timer < 0)
    {
        const int16_t sequence = sequence_of(move.definition, SEQUENCE_MOVING);
        if (sequence != NONE) set_object_shape(move.object_index, sequence, 256, 0, 0, 0, 0);
        if ((move.object = get_object(move.object_index)))
            move.object->flags &= ~(uint32_t)_object_pausing_for_obstacle_to_move_flag;
        obstacle_facts_changed(move.object_index);
    }
    return true;
}

// A unit that walks off the edge of the mesh leaves the game.  False when it
// is gone.
static bool leave_the_mesh(unit_move &move)
{
    const uint32_t aimed = _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
    if ((move.result & _move_struck_edge_of_mesh_flag) && (move.object = get_object(move.object_index)))
    {
        move.object->flags |= _object_is_invisible_flag;
        obstacle_facts_changed(move.object_index);
        move.monster->flags |= _monster_has_left_the_mesh_flag;
        if (current_gameplay_version >= 1701)
        {
            move.monster->flags &= ~(uint32_t)(aimed | _monster_has_valid_target_location_flag);
            move.monster->target_monster_index = move.monster->aggressor_monster_index = NONE;
            move.monster->deferred_target_index = NONE;
        }
        call_monster_died_procedures(move.monster_index, _monster_died_clear_presets_flag);
        if (!(move.monster = same_unit(move.monster_index, move.identifier))) return false;
    }
    return true;
}

// A unit that must still turn at the end of its segment stops to turn; any
// other steps.  False when the tick ends here.
static bool move_along_path(unit_move &move)
{
    const bool stops =
        !(move.monster->flags & _monster_has_obstructed_path_flag) && move.turn != 0 &&
        move.monster->path_segment_length < 1 &&
        (current_gameplay_version <= 1300 || !(move.monster->extra_flags & _monster_wants_to_run_extra_flag) ||
         move.monster->action_permutation == _monster_action_permutation_running);
    if (stops)
        move.object->location.velocity = {0, 0, 0};
    else
    {
        if (!take_step(move) || !leave_footprint_or_splash(move) || !respond_to_collision(move) ||
            !leave_the_mesh(move))
            return false;
    }
    return true;
}

// A unit that leaves a contrail leaves a fading copy of itself on new frames.
static void leave_monster_contrail(unit_move &move)
{
    move.object = get_object(move.object_index);
    if (move.object && (move.definition->flags & _monster_leaves_contrail_flag) &&
        (move.object->flags & _object_animation_new_frame_flag))
    {
        const int32_t copy = duplicate_object(move.object_index);
        if (copy != NONE && fade_object(true, copy, 0, CONTRAIL_FADE_TICKS) == NONE &&
            current_gameplay_version >= 1301)
            delete_object(copy);
    }
}

void monster_moving(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!monster || !definition || !get_object(monster->object_index)) return;

    unit_move move = {};
    move.monster_index = monster_index;
    move.identifier = monster->identifier;
    move.object_index = monster->object_index;
    move.monster = monster;
    move.definition = definition;
    give_up_unreachable_target(move);
    if (!attack_on_the_move(move)) return;
    move.object = get_object(move.object_index);
    if (!move.object) return;
    if (!re_aim(move) || !turn_toward_desired_yaw(move) || !move_along_path(move)) return;
    leave_monster_contrail(move);
}

// ---- registration ------------------------------------------------------------------------

void install_monster_movement_procedures(void)
{
    monster_action_fns[_monster_action_moving] = monster_moving;
    monster_action_fns[_monster_action_turning] = monster_moving;
    monster_action_fns[_monster_action_holding_for_attack] = monster_moving;
    monster_action_fns[_monster_action_aiming_attack] = monster_moving;
}

