// Target scanning and switching.

#include "monster_targets.h"

#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "mesh.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_orders.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "record_reader.h"
#include "tag_files/data.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

// Unit classes (a definition's monster_class) beyond melee, missile and
// ambient life.
enum
{
    CLASS_SUICIDE = 2,
    CLASS_SPECIAL = 3,
    CLASS_HARMLESS = 4,
    CLASS_INVISIBLE_OBSERVER = 6,
};

constexpr int32_t NO_BEST_DISTANCE = 2560000;
constexpr int32_t PERIODIC_SQUARE_WIDTH = (int32_t)CLOSEST_MOST_APPROPRIATE_TARGET_DIAMETER / (int32_t)WORLD_ONE + 1; // 21
constexpr int32_t SECOND_TARGET_DIED_SQUARE_WIDTH = 12;
constexpr int32_t BECOMING_IDLE_SQUARE_WIDTH = 4;
constexpr int32_t BERSERK_SQUARE_WIDTH = 20;
constexpr int32_t CLEARLY_NEARER_DISTANCE = 2048;
constexpr int32_t CLEARLY_BETTER_FACING = 4096;

enum
{
    TARGET_SEARCH_MISMATCHES_LOGGED = 8,
};

// The check of the target search (monster_targets.h): local, never hashed.
struct
{
    bool checking, fault;
    target_search_check_counts counts;
} target_search;

const monster_definition *definition_of(const monster_data *monster)
{
    return monster ? get_monster_definition(monster->type) : nullptr;
}

// A used unit with an object.
monster_data *unit_with_object(int32_t monster_index, object_data **object)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *body = monster ? get_object(monster->object_index) : nullptr;
    if (!body) return nullptr;
    if (object) *object = body;
    return monster;
}

// The unit whose target index names `other` (a unit attacking it).
bool targets(const monster_data *monster, int32_t other)
{
    return has_flags(monster->flags, _monster_has_valid_target_index_flag) && monster->target_monster_index == other;
}

int32_t current_target_of(const monster_data *monster)
{
    return has_flags(monster->flags, _monster_has_valid_target_index_flag) ? (int32_t)monster->target_monster_index : (int32_t)NONE;
}

// The first cell of a square of `width` cells and the cells of it that lie
// inside the mesh along one axis.  The start is clamped to `upper` first and
// then to 0, so a square wider than the mesh starts at 0 and is cut at the
// far edge: no cell outside the mesh is visited.
void square_span(int32_t start, int32_t width, int32_t upper, int32_t size, int32_t *first, int32_t *end)
{
    if (start > upper) start = upper;
    if (start < 0) start = 0;
    *first = start;
    *end = start + width < size ? start + width : size;
}

// ---- the visibility contribution -----------------------------------------------------

void contribute_visibility(const monster_data *monster)
{
    const monster_definition *definition = definition_of(monster);
    const object_data *object = get_object(monster->object_index);
    if (!definition || !object) return;
    if (has_flags(monster->extra_flags, _monster_has_no_visibility_extra_flag)) return;
    if (definition->monster_class == _monster_class_ambient_life || definition->visibility_type == 0) return;
    const marker_data *marker = get_monster_marker(monster);
    const bool observer = marker && has_flags(marker->flags, _marker_is_invisible_observer_flag);
    bool contributes;
    if (has_flags(monster->flags, _monster_has_left_the_mesh_flag))
        contributes = observer;
    else
        contributes = local_player_team_index == NONE || monster->owner_team_index == local_player_team_index ||
                      observer;
    if (!contributes) return;
    const int32_t type = has_flags(object->flags, _object_wholly_under_media_flag) ? (int32_t)_visibility_type_submerged
                                                                                    : definition->visibility_type;
    rasterize_visibility_bitmap(type, object->location.position.x >> WORLD_FRACTIONAL_BITS,
                                object->location.position.y >> WORLD_FRACTIONAL_BITS, observer);
}

// ---- the scan of one unit --------------------------------------------------------------

void scan_monster(int32_t monster_index)
{
    object_data *object = nullptr;
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    contribute_visibility(monster);
    if (has_flags(monster->flags, _monster_has_left_the_mesh_flag)) return;
    monster = unit_with_object(monster_index, &object);
    const monster_definition *definition = definition_of(monster);
    if (!monster || !definition) return;
    object->flags &= ~(uint32_t)_object_was_chosen_to_take_damage_flag;

    const int32_t action = monster->action;
    if (game_->winning_team_index != NONE && monster->owner_team_index == game_->winning_team_index &&
        definition->monster_class != _monster_class_ambient_life &&
        !has_flags(monster->flags, _monster_has_celebrated_flag) &&
        (action == _monster_action_idle || action == _monster_action_moving || action == _monster_action_turning ||
         action == _monster_action_holding_for_attack))
        make_monster_celebrate(monster_index);

    if (monster->action == _monster_action_moving || monster->action == _monster_action_holding_for_attack)
    {
        if (has_flags(monster->flags, _monster_has_valid_target_flag))
        {
            if (linear_distance_to_best_point_of_attack(monster_index) != 0)
            {
                monster->flags |= _monster_needs_new_path_flag;
                unit_obstacle_facts_changed(monster);
            }
        }
        else if (has_flags(monster->flags, _monster_wants_to_pick_up_object_flag))
        {
            monster->flags |= _monster_needs_new_path_flag;
            unit_obstacle_facts_changed(monster);
        }
        else
        {
            adjust_path_destination_for_obstacles(monster_index);
            const world_point2d here = position_of(object);
            const world_distance length = distance2d(&here, &monster->path_destination);
            monster->path_segment_length = (int16_t)(length < INT16_MAX ? length : INT16_MAX);
            const bool keeps_final_facing = current_gameplay_version >= 1301 &&
                                            has_flags(monster->flags, _monster_has_final_desired_yaw_flag) &&
                                            (monster->target_monster_index == NONE ||
                                             monster->target_monster_index == monster_index);
            if (!keeps_final_facing)
                monster->desired_yaw = adjust_yaw_for_destination(monster->desired_yaw, &monster->path_destination, &here);
        }
    }

    if (monster->action == _monster_action_celebrating || monster->action == _monster_action_taunting ||
        monster->action == _monster_action_aiming_attack)
        return;

    const uint32_t busy = _monster_responding_to_command_flag | _monster_responding_to_target_command_flag |
                          _monster_is_retreating_flag | _monster_was_stopped_flag |
                          _monster_will_use_special_ability_flag | _monster_is_using_special_ability_flag;
    if (has_flags(monster->flags, busy) || has_flags(monster->extra_flags, _monster_does_not_autotarget_extra_flag))
        return;
    const int32_t target = closest_most_appropriate_target(monster_index, _closest_most_appropriate_target_periodic_scan);
    if (target != NONE)
        try_and_switch_target_indexes(monster_index, target,
                                      (uint32_t)_switch_target_activate_adjacents_flag | _switch_target_suppress_melee_attacks_flag);
}

// ---- switching ---------------------------------------------------------------------------

// The keep rule: true only when the offered unit is already the target; a
// melee unit that does not close on its target then obeys as if ordered.
bool keep_current_target(monster_data *monster, const monster_definition *definition, int32_t current, int32_t offered)
{
    if (current == NONE || current != offered) return false;
    if (current_gameplay_version >= 1401 && definition->monster_class == _monster_class_melee &&
        has_flags(definition->hack_flags, _monster_hack_doesnt_close_on_target_flag))
        monster->flags |= _monster_responding_to_command_flag;
    return true;
}

bool decides_to_retreat(const monster_data *monster, const monster_definition *definition,
                        const monster_definition *target_definition, bool had_target_index)
{
    bool retreat = false;
    switch (definition->monster_class)
    {
    case _monster_class_melee:
    case CLASS_SPECIAL:
        retreat = target_definition->monster_class == CLASS_SUICIDE ||
                  (has_flags(definition->hack_flags, _monster_hack_mixes_missile_melee_behaviour_flag) &&
                   has_flags(monster->flags, _monster_needs_to_retreat_flag));
        break;
    case _monster_class_missile: retreat = false; break;
    case CLASS_SUICIDE:
        if (!had_target_index &&
            (!has_flags(monster->flags, _monster_standing_ground_flag) ||
             !has_flags(game_->option_flags, _game_option_uses_vux_flag | _game_option_uses_anticlump_flag)))
            retreat = true;
        else
            retreat = has_flags(monster->flags, _monster_needs_to_retreat_flag);
        break;
    case CLASS_HARMLESS:
    case _monster_class_ambient_life:
    case CLASS_INVISIBLE_OBSERVER: retreat = true; break;
    default: HALT("unit of an unknown class chose a target"); break;
    }
    if (retreat && current_gameplay_version >= 1701 &&
        has_flags(monster->extra_flags, _monster_is_confused_extra_flag | _monster_is_berserk_extra_flag))
        retreat = false;
    return retreat;
}

// Offers the new target to the unit's neighbours of its team and class.
void rouse_neighbours(int32_t monster_index, int32_t target_index)
{
    object_data *object = nullptr;
    const monster_data *monster = unit_with_object(monster_index, &object);
    const monster_definition *definition = definition_of(monster);
    object_data *target_object = nullptr;
    if (!monster || !definition || !unit_with_object(target_index, &target_object)) return;
    if (definition->monster_class == _monster_class_ambient_life) return;
    const int32_t warning = definition->warning_distance;
    const int32_t width = 2 * (warning >> WORLD_FRACTIONAL_BITS) + 1;
    int32_t x0, x1, y0, y1;
    // The start is clamped below size - width (an open bound, unlike the
    // target square's).
    square_span((object->location.position.x - warning) >> WORLD_FRACTIONAL_BITS, width, mesh_width - width - 1,
                mesh_width, &x0, &x1);
    square_span((object->location.position.y - warning) >> WORLD_FRACTIONAL_BITS, width, mesh_height - width - 1,
                mesh_height, &y0, &y1);
    const world_point2d target_position = position_of(target_object);
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            for (int32_t object_index = first_scanned_object(x, y); object_index != NONE;)
            {
                const object_data *other = get_object(object_index);
                if (!other) break;
                object_index = next_scanned_object(object_index);
                if (other->owner != _object_is_monster || has_flags(other->flags, _object_is_invisible_flag)) continue;
                const int32_t other_index = other->owner_index;
                if (other_index == monster_index) continue;
                const monster_data *neighbour = get_monster_data(other_index);
                const monster_definition *neighbour_definition = definition_of(neighbour);
                if (!neighbour_definition || has_flags(neighbour->flags, _monster_was_stopped_flag) ||
                    neighbour->owner_team_index != monster->owner_team_index ||
                    neighbour_definition->monster_class != definition->monster_class)
                    continue;
                if (current_gameplay_version >= 1301 && definition->monster_class != _monster_class_melee)
                {
                    const world_point2d here = position_of(other);
                    const int32_t reach =
                        neighbour_definition->critical_distance + neighbour_definition->activation_distance;
                    if (distance2d(&here, &target_position) >= reach) continue;
                }
                try_and_switch_target_indexes(other_index, target_index, 0);
            }
}

// Placement of a directional square: the fractions of its width behind and
// beside the origin for facing `facing` (a unit facing +x sits a quarter of
// the square from its rear edge, centred across it).
void directional_fractions(angle facing, int32_t *fx, int32_t *fy)
{
    const uint32_t g = (uint16_t)(facing + 0x2000);
    const uint32_t quadrant = (g >> 14) & 3;
    const int32_t u = (int32_t)(g & 0x3FFF) * 2 + 0x4000;
    switch (quadrant)
    {
    case 0: *fx = 0x4000, *fy = 0x10000 - u; break;
    case 1: *fx = u, *fy = 0x4000; break;
    case 2: *fx = 0xC000, *fy = u; break;
    default: *fx = 0x10000 - u, *fy = 0xC000; break;
    }
}

// The square a target search walks and what it weighs candidates by.
struct target_square
{
    int32_t monster_index;
    const monster_data *monster;
    const monster_definition *definition;
    const object_data *object;
    const monster_data *match_target;
    world_point2d origin;
    int32_t mode, excluded;
    int32_t x0, x1, y0, y1;
    bool penalised;
};

// The best candidate of the square, in the order the cells' chains give.
// With `skips_weighed` a candidate met again (through another ally) is not
// weighed again; with `passes_over_losers` a candidate that cannot win even
// at its plain distance is passed over before its root and bearing are
// worked out.
int32_t best_target_in_square(const target_square &square, bool skips_weighed, bool passes_over_losers)
{
    const int32_t monster_index = square.monster_index;
    const monster_data *monster = square.monster;
    const monster_definition *definition = square.definition;
    const object_data *object = square.object;
    const monster_data *match_target = square.match_target;
    const world_point2d origin = square.origin;
    const int32_t mode = square.mode, excluded = square.excluded;
    const int32_t x0 = square.x0, x1 = square.x1, y0 = square.y0, y1 = square.y1;
    const bool penalised = square.penalised;
    const bool under_media = has_flags(object->flags, _object_wholly_under_media_flag);
    uint64_t weighed[(MAXIMUM_MONSTERS_PER_MAP + 63) / 64] = {};
    bool weighed_any = false;
    int32_t best = NONE, best_distance = NO_BEST_DISTANCE, best_score = 0;
    // The square holds up to 441 cells and, in a battle, several units per
    // cell: the records are read straight from their arrays, the cells'
    // scan chains a row at a time, and each team's alliance asked once.
    const record_reader objects(get_object_array());
    const record_reader units(get_monster_array());
    const int16_t *links = get_scan_chain_links();
    uint16_t allied_known = 0, allied_teams = 0;
    const auto allied_with = [&](const monster_data *other) {
        const int32_t theirs = other->owner_team_index;
        if (theirs < 0 || theirs >= 16) return monster_records_are_allied(monster, other);
        const uint16_t bit = (uint16_t)(1u << theirs);
        if (!(allied_known & bit))
        {
            allied_known |= bit;
            if (monster_records_are_allied(monster, other)) allied_teams |= bit;
        }
        return (allied_teams & bit) != 0;
    };
    for (int32_t y = y0; y < y1; ++y)
    {
        const int16_t *row = get_scan_chain_row(y);
        if (!row) continue;
        for (int32_t x = x0; x < x1; ++x)
            for (int32_t object_index = row[x]; object_index != NONE; object_index = links[object_index])
            {
                const object_data *found = (const object_data *)objects.get(object_index);
                if (!found) break;
                if (has_flags(found->flags, _object_is_invisible_flag) || found->owner != _object_is_monster) continue;
                if (has_flags(found->flags, _object_wholly_under_media_flag) != under_media) continue;
                const int32_t found_index = found->owner_index;
                const monster_data *found_monster = (const monster_data *)units.get(found_index);
                if (!found_monster) continue;
                int32_t candidate;
                if (allied_with(found_monster))
                {
                    if (!has_flags(found_monster->flags, _monster_has_valid_target_index_flag) ||
                        has_flags(found_monster->flags,
                                  _monster_responding_to_target_command_flag | _monster_needs_to_retreat_flag) ||
                        found_monster->unit_type != monster->unit_type)
                        continue;
                    candidate = found_monster->target_monster_index;
                }
                else
                {
                    if (mode == _closest_most_appropriate_target_becoming_idle_scan) continue;
                    candidate = found_index;
                }
                if (candidate == excluded || candidate == NONE || candidate == monster_index) continue;
                if (skips_weighed && candidate >= 0 && candidate < MAXIMUM_MONSTERS_PER_MAP)
                {
                    uint64_t &word = weighed[candidate / 64];
                    const uint64_t bit = (uint64_t)1 << (candidate % 64);
                    if ((word & bit) || (target_search.fault && weighed_any)) continue;
                    word |= bit;
                    weighed_any = true;
                }
                const monster_data *candidate_monster = (const monster_data *)units.get(candidate);
                const object_data *candidate_object =
                    candidate_monster ? (const object_data *)objects.get(candidate_monster->object_index) : nullptr;
                if (!candidate_object) continue;
                const world_point2d candidate_position = position_of(candidate_object);
                const bool same_type = match_target && candidate_monster->type == match_target->type;
                const bool autotargetable =
                    !has_flags(candidate_monster->extra_flags, _monster_cannot_be_autotargeted_extra_flag);
                // Whether the candidate at distance d becomes the best, with
                // its score; `nearer_than(limit)` is `d < limit`.
                int32_t score = 0;
                const auto wins = [&](const auto &nearer_than) {
                    const int32_t m = (same_type ? 1 : 0) + (nearer_than(definition->critical_distance) ? 1 : 0);
                    score = 0;
                    if (m > 0 || !match_target) score = m + (targets(candidate_monster, monster_index) ? 1 : 0);
                    bool tie;
                    if (penalised && nearer_than(best_distance) && (!match_target || same_type) &&
                        has_flags(monster->flags, _monster_should_close_on_target_flag))
                    {
                        score = best_score;
                        tie = true;
                    }
                    else
                        tie = score == best_score;
                    return (best == NONE || (tie && nearer_than(best_distance)) || score > best_score) && autotargetable;
                };
                // A nearer candidate never does worse (its score only rises
                // and it only wins ties more), and the facing penalty only
                // lengthens the distance: one that cannot win at its plain
                // distance is passed over before the root and the bearing
                // are worked out.  The plain distance is the floor root, so
                // `d < limit` is `dx² + dy² < limit²`; far points (where the
                // penalty could overflow) are always worked out in full.
                const int64_t dx = (int64_t)candidate_position.x - origin.x,
                              dy = (int64_t)candidate_position.y - origin.y;
                if (passes_over_losers && dx > -(1 << 28) && dx < (1 << 28) && dy > -(1 << 28) && dy < (1 << 28))
                {
                    const int64_t squared = dx * dx + dy * dy;
                    if (!wins([&](int32_t limit) { return limit > 0 && squared < (int64_t)limit * limit; })) continue;
                }
                int32_t d = distance2d(&candidate_position, &origin);
                if (penalised)
                {
                    // The plain difference of the two angles, never folded.
                    const angle bearing = arctangent(found->location.position.x - object->location.position.x,
                                                     found->location.position.y - object->location.position.y);
                    int32_t delta = (int32_t)monster->desired_yaw - (int32_t)bearing;
                    if (delta < 0) delta = -delta;
                    if (delta > 4096) d += d / 8;
                    if (delta > 8192) d += d / 6;
                    if (delta > 16384) d += d / 4;
                }
                if (wins([&](int32_t limit) { return d < limit; }))
                {
                    best = candidate;
                    best_distance = d;
                    best_score = score;
                }
            }
    }
    return best;
}

} // namespace

// ---- the scan --------------------------------------------------------------------------

void scan_for_targets(void)
{
    const int32_t first = game_->game_time & SCAN_FOR_TARGETS_MASK;
    if (first == 0) swap_visibility_buffers();
    for (int32_t index = first; index < get_monster_array()->count; index += SCAN_FOR_TARGETS_COUNT)
        scan_monster(index);
}

bool build_initial_monster_visibility(void)
{
    initialize_monster_visibility_for_new_map();
    for (int32_t pass = 0; pass < 2; ++pass)
    {
        swap_visibility_buffers();
        for (int32_t index = 0; index < get_monster_array()->count; ++index)
            if (const monster_data *monster = get_monster_data(index)) contribute_visibility(monster);
    }
    return true;
}

static bool map_unit_visibility(const new_game_data *) { return build_initial_monster_visibility(); }

// ---- the most appropriate target ---------------------------------------------------------

int32_t closest_most_appropriate_target(int32_t monster_index, int32_t mode)
{
    object_data *object = nullptr;
    const monster_data *monster = unit_with_object(monster_index, &object);
    const monster_definition *definition = definition_of(monster);
    if (!monster || !definition) return NONE;
    if (has_flags(monster->extra_flags, _monster_is_confused_extra_flag)) return NONE;

    // The match target: the unit's current target (a free slot is none).
    object_data *match_object = nullptr;
    const int32_t match = current_target_of(monster);
    const monster_data *match_target = match != NONE ? unit_with_object(match, &match_object) : nullptr;
    world_point2d origin = position_of(object);
    bool directional = true;
    int32_t excluded = NONE, width = 0;
    switch (mode)
    {
    case _closest_most_appropriate_target_periodic_scan:
    case _closest_most_appropriate_target_target_died_scan:
        width = has_flags(monster->flags, _monster_has_valid_target_index_flag)
                    ? PERIODIC_SQUARE_WIDTH
                    : (definition->activation_distance >> WORLD_FRACTIONAL_BITS) + 1;
        if (mode == _closest_most_appropriate_target_target_died_scan)
        {
            ASSERT(match_target);
            excluded = monster->target_monster_index;
        }
        break;
    case _closest_most_appropriate_target_second_target_died_scan:
        if (!ASSERT(match_target)) return NONE;
        excluded = monster->target_monster_index;
        width = SECOND_TARGET_DIED_SQUARE_WIDTH;
        origin = position_of(match_object);
        directional = false;
        break;
    case _closest_most_appropriate_target_becoming_idle_scan: width = BECOMING_IDLE_SQUARE_WIDTH; break;
    default: HALT("unknown mode of closest_most_appropriate_target"); width = 0; break;
    }
    if (has_flags(monster->extra_flags, _monster_is_berserk_extra_flag))
    {
        width = BERSERK_SQUARE_WIDTH;
        directional = false;
    }
    const bool shoots = definition->monster_class == _monster_class_missile ||
                        (definition->monster_class == _monster_class_melee &&
                         has_flags(definition->hack_flags, _monster_hack_mixes_missile_melee_behaviour_flag));
    if (shoots && has_flags(monster->extra_flags, _monster_failed_to_attack_extra_flag) &&
        !has_flags(monster->flags, _monster_responding_to_target_command_flag))
        match_target = nullptr;
    if (width < 1) return NONE;

    int32_t fx = 0x8000, fy = 0x8000;
    if (directional)
    {
        angle facing = object->location.yaw;
        if (match_target)
        {
            const int32_t dx = match_object->location.position.x - object->location.position.x;
            const int32_t dy = match_object->location.position.y - object->location.position.y;
            if (!(current_gameplay_version >= 1710 && dx == 0 && dy == 0)) facing = arctangent(dx, dy);
        }
        directional_fractions(facing, &fx, &fy);
    }
    int32_t x0, x1, y0, y1;
    square_span((origin.x >> WORLD_FRACTIONAL_BITS) - ((width * fx) >> 16), width, mesh_width - width, mesh_width, &x0,
                &x1);
    square_span((origin.y >> WORLD_FRACTIONAL_BITS) - ((width * fy) >> 16), width, mesh_height - width, mesh_height,
                &y0, &y1);

    target_square square;
    square.monster_index = monster_index;
    square.monster = monster;
    square.definition = definition;
    square.object = object;
    square.match_target = match_target;
    square.origin = origin;
    square.mode = mode;
    square.excluded = excluded;
    square.x0 = x0, square.x1 = x1, square.y0 = y0, square.y1 = y1;
    square.penalised = mode == _closest_most_appropriate_target_target_died_scan && current_gameplay_version >= 1301;
    // Without the penalty a candidate's worth is its own, whoever led to it:
    // one already weighed can never beat the best it was weighed against.
    const int32_t best = best_target_in_square(square, !square.penalised, true);
    if (target_search.checking)
    {
        target_search.counts.searches_checked += 1;
        const int32_t plain = best_target_in_square(square, false, false);
        if (plain != best)
        {
            if (target_search.counts.mismatches < TARGET_SEARCH_MISMATCHES_LOGGED)
                log_message(__FILE__, __LINE__, "unit %d: the target search chose %d, the whole search %d",
                            (int)monster_index, (int)best, (int)plain);
            target_search.counts.mismatches += 1;
        }
    }
    return best;
}

void set_target_search_checking(bool on)
{
    target_search.checking = on;
    target_search.counts = {};
}

target_search_check_counts get_target_search_check_counts(void) { return target_search.counts; }

void plant_target_search_fault(bool on) { target_search.fault = on; }

// ---- switching ---------------------------------------------------------------------------

bool try_and_switch_target_indexes(int32_t monster_index, int32_t possible_target_monster_index, uint32_t flags)
{
    object_data *object = nullptr, *offered_object = nullptr;
    monster_data *monster = unit_with_object(monster_index, &object);
    const monster_definition *definition = definition_of(monster);
    const int32_t offered = possible_target_monster_index;
    const monster_data *offered_monster = unit_with_object(offered, &offered_object);
    const monster_definition *offered_definition = definition_of(offered_monster);
    if (!monster || !definition || !offered_definition) return false;

    if (current_gameplay_version >= 1301)
    {
        if (has_flags(monster->extra_flags, _monster_does_not_autotarget_extra_flag) &&
            !has_flags(monster->flags, _monster_responding_to_target_command_flag))
            return false;
        if (monster->deferred_target_index != NONE) return false;
    }
    // (The keep rule asks only whether the target index names the offered
    // unit, which is used: its slot need not be looked at.)
    if (has_flags(monster->extra_flags, _monster_is_confused_extra_flag) ||
        monster_records_are_allied(monster, offered_monster) ||
        (has_flags(monster->flags, _monster_responding_to_command_flag) &&
         !(flags & _switch_target_command_override_flag)))
        return keep_current_target(monster, definition, current_target_of(monster), offered);

    // A target index naming a free slot is no target.
    object_data *current_object = nullptr;
    int32_t current = current_target_of(monster);
    const monster_data *current_monster = current != NONE ? unit_with_object(current, &current_object) : nullptr;
    if (!current_monster) current = NONE;

    bool replacement = false;
    if (current != NONE)
    {
        const bool failed = has_flags(monster->extra_flags, _monster_failed_to_attack_extra_flag);
        const bool ordered = has_flags(monster->flags, _monster_responding_to_target_command_flag);
        const bool straight =
            (definition->monster_class == _monster_class_missile && failed && !ordered) ||
            (definition->monster_class != _monster_class_missile && failed && (flags & _switch_target_close_range_flag) &&
             offered_monster->type == current_monster->type);
        if (!straight)
        {
            if (has_flags(monster->flags, _monster_target_has_caused_melee_damage_flag) ||
                (ordered && !(flags & _switch_target_command_override_flag) &&
                 offered_monster->type != current_monster->type) ||
                !targets(offered_monster, monster_index) || targets(current_monster, monster_index))
                return keep_current_target(monster, definition, current, offered);
            const world_point2d here = position_of(object);
            const world_point2d offered_position = position_of(offered_object);
            const world_point2d current_position = position_of(current_object);
            bool better;
            if (!(flags & _switch_target_close_range_flag))
                better = distance2d(&here, &current_position) - distance2d(&here, &offered_position) >
                         CLEARLY_NEARER_DISTANCE;
            else if (has_flags(definition->flags, _monster_concentrates_on_single_attacker_flag))
            {
                const angle yaw = object->location.yaw;
                const int32_t offered_off = angular_difference(
                    yaw, arctangent(offered_position.x - here.x, offered_position.y - here.y));
                const int32_t current_off = angular_difference(
                    yaw, arctangent(current_position.x - here.x, current_position.y - here.y));
                better = current_off - offered_off > CLEARLY_BETTER_FACING;
            }
            else
                better = true;
            if (!better) return keep_current_target(monster, definition, current, offered);
        }
        if (offered == current)
        {
            keep_current_target(monster, definition, current, offered);
            return true;
        }
        replacement = !failed;
    }

    const bool retreat = decides_to_retreat(monster, definition, offered_definition, current != NONE);
    object->flags &= ~(uint32_t)_object_pausing_for_obstacle_to_move_flag;
    monster->extra_flags &=
        ~(uint32_t)(_monster_failed_to_attack_extra_flag | _monster_chain_lightning_prevention_extra_flag);
    monster->flags &= ~(uint32_t)(_monster_has_obstructed_path_flag | _monster_in_proximity_to_target_flag |
                                  _monster_did_not_get_targeting_solution_flag | _monster_evading_obstacle_flag |
                                  _monster_is_retreating_flag | _monster_was_stopped_flag |
                                  _monster_will_use_special_ability_flag | _monster_is_using_special_ability_flag |
                                  _monster_target_has_caused_melee_damage_flag);
    monster->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag |
                      _monster_needs_new_path_flag | _monster_attack_was_aborted_flag;
    unit_obstacle_facts_changed(monster); // its pausing flag too
    monster->target_monster_index = (int16_t)offered;
    if (current_gameplay_version >= 1401 && definition->monster_class == _monster_class_melee &&
        has_flags(definition->hack_flags, _monster_hack_doesnt_close_on_target_flag))
        monster->flags |= _monster_responding_to_command_flag;
    if (retreat)
        monster->flags |= _monster_needs_to_retreat_flag;
    else
        monster->flags &= ~(uint32_t)_monster_needs_to_retreat_flag;

    if (!replacement && !retreat && (flags & _switch_target_activate_adjacents_flag))
        rouse_neighbours(monster_index, offered);
    return true;
}

void register_monster_target_hooks(void)
{
    register_map_procedures(_map_unit_visibility, map_unit_visibility, nullptr);
}
