// Attacks: the three aims against hand-computed values and against a real
// flight, the range gained over a drop, the friendly-fire preflight, misses,
// the exact draws of aim, execute and abort, the index rules, the line-of-fire
// services, a thrown object replaced by another held one, and a unit whose
// slot is refilled during its own strike.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "explosions.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_orders.h"
#include "monster_owners.h"
#include "monsters.h"
#include "object_definitions.h"
#include "sound_procedures.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"
#include "sound_procedures.h"

namespace monster_attacks_test_file {

namespace {

constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
constexpr tag MONSTER_TAG = FOUR_CHARACTER_CODE('m', 'o', 'n', 's');

// The units' definition plays sound index 100 + t for sound type t, so the
// object sounds heard give back the types.
constexpr int16_t SOUND_INDEX_OF_TYPE_0 = 100;
std::vector<int16_t> sounds_played;
void record_sound(int32_t, int16_t sound_index) { sounds_played.push_back((int16_t)(sound_index - SOUND_INDEX_OF_TYPE_0)); }

// ---- the aim solution, computed by hand ---------------------------------------------

projectile_aim_problem problem(world_point3d target, int32_t velocity, int32_t gravity)
{
    projectile_aim_problem p = {};
    p.origin = p.shooter = {0, 0, 0};
    p.target = target;
    p.velocity = velocity;
    p.gravity = gravity;
    return p;
}

TEST(projectile_aim, ballistic_arcs_match_the_hand_computed_roots)
{
    // v 100, g -2, 1000 away on the level: A = 4, B = -10000,
    // disc = 10^8 - 10^6 * 4 = 96,000,000, q = 9797.
    projectile_aim_solution s;
    projectile_aim_problem p = problem({1000, 0, 0}, 100, -2);
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
    EXPECT_EQ(s.kind, _projectile_aim_ballistic);
    // t^2 = 2 (10000 - 9797) / 4 = 101, t = 10; sin = (0 + 100) * 16384 / 1000 = 1638.
    EXPECT_EQ(s.flight_time, 10);
    EXPECT_EQ(s.pitch, arcsine(1638));
    EXPECT_GT(s.pitch, 1000); // about 5.7 degrees up
    EXPECT_LT(s.pitch, 1100);

    // The indirect (high) arc: t^2 = 2 (9797 + 10000) / 4 = 9898, t = 99;
    // sin = 9801 * 16384 / 9900 = 16220.
    p.aim_flags = _aim_projectile_indirect_flag;
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
    EXPECT_EQ(s.flight_time, 99);
    EXPECT_EQ(s.pitch, arcsine(16220));

    // Out of reach (v 20 over 5000): the pitch is half of the angle of
    // (-dz, h), 45 degrees, and the point moves to the reach
    // R = ((11585 * 20) >> 14)^2 * -2 / -2 = 14 * 14 = 196.
    p = problem({5000, 0, 0}, 20, -2);
    solve_projectile_aim(&p, &s);
    EXPECT_FALSE(s.solved);
    EXPECT_EQ(s.pitch, 8192);
    EXPECT_EQ(s.target.x, 196);
    EXPECT_EQ(s.target.y, 0);
    EXPECT_EQ(s.target.z, 0);
}

TEST(projectile_aim, straight_and_fixed_pitch_aims_match_the_hand_computed_values)
{
    projectile_aim_solution s;
    // Straight: h = 500, dz = 120: atan(0.24) is 2456.7 angle units;
    // flight isqrt(264400) / 50 = 514 / 50 = 10.
    projectile_aim_problem p = problem({300, 400, 120}, 50, 0);
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
    EXPECT_EQ(s.kind, _projectile_aim_straight);
    EXPECT_NEAR(s.pitch, 2457, 64);
    EXPECT_EQ(s.flight_time, 10);

    // Fixed pitch on the level, 2000 away: pitch 8192 (cos = sin = 11585),
    // drop = -2000, t = isqrt(2000) = 44, speed = (2000 << 14) / (11585 * 44) = 64.
    p = problem({2000, 0, 0}, 200, -2);
    p.fixed_pitch = true;
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
    EXPECT_EQ(s.kind, _projectile_aim_fixed_pitch);
    EXPECT_EQ(s.pitch, 8192);
    EXPECT_EQ(s.flight_time, 44);
    EXPECT_EQ(s.velocity, 64);
    // Faster than the projectile can go: no solution.
    p.velocity = 60;
    solve_projectile_aim(&p, &s);
    EXPECT_FALSE(s.solved);

    // A target more than 768 below and within 2048 is lobbed (ballistic).
    p = problem({1000, 0, -1000}, 200, -2);
    p.fixed_pitch = p.lob_to_hit_lower_nearby_units = true;
    solve_projectile_aim(&p, &s);
    EXPECT_EQ(s.kind, _projectile_aim_ballistic);
    EXPECT_TRUE(s.solved);
}

TEST(projectile_aim, degenerate_definitions_fail_without_dividing_by_zero)
{
    projectile_aim_solution s;
    // Fixed pitch whose flight rounds to 0 ticks: 2 * drop / g = 4 / 8 = 0.
    projectile_aim_problem p = problem({2, 0, 0}, 200, -8);
    p.fixed_pitch = true;
    solve_projectile_aim(&p, &s);
    EXPECT_FALSE(s.solved);
    // Fixed pitch without gravity, and with gravity pulling up (logged).
    p = problem({2000, 0, 0}, 200, 0);
    p.fixed_pitch = true;
    solve_projectile_aim(&p, &s);
    EXPECT_FALSE(s.solved);
    {
        expected_assertions expect(1, "gravity");
        p.gravity = 3;
        solve_projectile_aim(&p, &s);
        EXPECT_FALSE(s.solved);
    }
    // Zero speed: straight flights take 0 ticks, ballistic ones fall short at once.
    p = problem({2000, 0, 0}, 0, 0);
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
    EXPECT_EQ(s.flight_time, 0);
    p.gravity = -2;
    solve_projectile_aim(&p, &s);
    EXPECT_FALSE(s.solved);
    EXPECT_EQ(s.target.x, 0);
    // The same point: nothing to aim along.
    p = problem({0, 0, 0}, 100, -2);
    solve_projectile_aim(&p, &s);
    EXPECT_TRUE(s.solved);
}

TEST(projectile_aim, one_draw_per_sequence_choice_whatever_the_candidates)
{
    monster_attack_definition attack;
    memset(&attack, 0, sizeof(attack));
    for (auto &sequence : attack.sequences) sequence = {_sequence_normal_flag, NONE};
    attack.sequences[2] = {_sequence_normal_flag, 42};
    attack.sequences[3] = {_sequence_elevated_flag, 43};
    reset_random_draw_counts();
    EXPECT_EQ(get_monster_attack_sequence_index(&attack, 0), 2); // the one normal candidate
    EXPECT_EQ(get_monster_attack_sequence_index(&attack, 8000), 3); // aiming up
    EXPECT_EQ(get_monster_attack_sequence_index(&attack, 40000), 2); // down: no declinated one
    EXPECT_EQ(get_monster_attack_sequence_index(nullptr, 0), 0);
    EXPECT_EQ(get_vesk_random_draw_count(), 4u);
}

// ---- units ------------------------------------------------------------------------------

class monster_attacks_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(start_units_world_for_teams({0, 1}));
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        static const sound_procedures sound_table = {.play_object_sound = record_sound};
        register_sound_procedures(&sound_table);
        current_gameplay_version = 1820;
        sounds_played.clear();

        ASSERT_NO_FATAL_FAILURE(write_unit_tags());

        arrow_object = add_object_definition(2);
        arrow = add_projectile(arrow_object);
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        dispose_projectiles_from_old_map();
        dispose_explosions_from_old_map();
        dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    int16_t add_object_definition(int16_t gravity)
    {
        object_definition o;
        memset(&o, 0, sizeof(o));
        for (auto &modifier : o.effect_modifiers) modifier = 256;
        o.gravity = gravity;
        o.maximum_vitality = 1000;
        o.scale_lower_bound = 256;
        return (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('o', 'b', '0', '0' + next_tag++), &o);
    }
    int16_t add_projectile(int16_t object, uint32_t flags = 0, int16_t damage_radius = 0)
    {
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = object;
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 400;
        d.inertia_lower_bound = 256;
        d.flags = flags;
        d.damage.type = NONE;
        d.damage.radius_lower_bound = damage_radius;
        return (int16_t)new_definition(get_projectile_definition_group(),
                                       FOUR_CHARACTER_CODE('p', 'r', '0', '0' + next_tag++), &d);
    }

    monster_definition *definition(void)
    {
        return get_monster_definition(try_definition_tag_to_index(&monster_definitions, MONSTER_TAG, true, 0));
    }
    // Attack `i`: a primary arrow of speed 100 reaching 8000, 30 ticks of recovery.
    monster_attack_definition &arrow_attack(int32_t i)
    {
        monster_attack_definition &a = definition()->attacks[i];
        a.flags = _monster_attack_is_primary_flag;
        a.projectile_type = arrow;
        a.maximum_range = 8000;
        a.initial_velocity_lower_bound = 100;
        a.repetitions = 1;
        a.recovery_time = 30;
        for (auto &sequence : a.sequences) sequence = {0, NONE};
        a.sequences[0] = {_sequence_normal_flag, 140};
        if (definition()->number_of_attacks <= i) definition()->number_of_attacks = (int16_t)(i + 1);
        return a;
    }

    int32_t make_unit(int16_t player, world_point3d at)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        const int32_t object_index = new_unit_object(at);
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const world_point2d location = {at.x, at.y};
        const int16_t type = (int16_t)subgroup_tag_to_definition_index(&monster_definitions, MONSTER_TAG);
        init_monster(monster_index, type, (int16_t)unit_type, object_index, player, player, 0, &location, true);
        for (int16_t i = 0; i < NUMBER_OF_MONSTER_DEFINITION_SOUNDS; ++i)
        {
            definition()->sound_types[i] = i;
            definition()->sound_indexes[i] = (int16_t)(SOUND_INDEX_OF_TYPE_0 + i);
        }
        get_object(object_index)->location.position = at;
        monster(monster_index)->attack_timer = 0;
        return monster_index;
    }
    monster_data *monster(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }
    void target(int32_t attacker, int32_t victim)
    {
        monster(attacker)->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
        monster(attacker)->target_monster_index = (int16_t)victim;
    }

    int16_t arrow_object = NONE, arrow = NONE;
    int32_t next_tag = 0;
};

TEST_F(monster_attacks_test, a_solved_ballistic_shot_lands_within_a_cell_of_its_target)
{
    arrow_attack(0).initial_velocity_lower_bound = 150; // reaches 150^2 / 2 = 11250
    const int32_t archer = make_unit(0, {1500, 4000, 0});
    const int32_t victim = make_unit(1, {6500, 4200, 0});
    target(archer, victim);
    ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_aim));
    EXPECT_EQ(monster(archer)->action, _monster_action_aiming_attack);
    EXPECT_GT(monster(archer)->estimated_projectile_pitch, 0);
    EXPECT_GT(monster(archer)->estimated_projectile_flight_time, 0);
    set_monster_action(archer, _monster_action_attacking, 0);
    ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_execute));
    ASSERT_EQ(get_projectile_count(), 1);
    int32_t object_index = NONE;
    for (int32_t i = 0; i < get_projectile_slot_count(); ++i)
        if (const projectile_data *p = get_projectile_data(i)) object_index = p->object_index;
    world_point3d landing = {};
    for (int32_t tick = 0; tick < 300; ++tick)
    {
        const object_data *o = get_object(object_index);
        if (!o) break;
        landing = o->location.position;
        if (tick > 0 && o->location.position.z <= 0) break;
        update_projectiles();
        ++game_->game_time;
    }
    const world_point2d landed = {landing.x, landing.y}, aimed = {6500, 4200};
    EXPECT_LE(distance2d(&landed, &aimed), WORLD_ONE) << landing.x << ", " << landing.y;
}

TEST_F(monster_attacks_test, a_target_far_below_extends_the_reach_by_the_height_rule)
{
    monster_attack_definition &a = arrow_attack(0);
    a.maximum_range = 1000;
    a.initial_velocity_lower_bound = 40;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t victim = make_unit(1, {7200, 4000, 0});
    target(archer, victim);
    // Level: 6200 - 1000.
    EXPECT_EQ(linear_distance_to_best_point_of_attack(archer), 5200);
    // 1000 below: the reach grows by (13369344 / 40 * 1000) >> 16 = 5099.
    body(archer)->location.position.z = 1000;
    EXPECT_EQ(linear_distance_to_best_point_of_attack(archer), 6200 - 6099);
    body(victim)->location.position.x = 7000;
    EXPECT_EQ(linear_distance_to_best_point_of_attack(archer), 0);
    EXPECT_EQ(monster(archer)->path_destination.x, 1000);
}

// The gap to the best point of attack: the ranges are those of the chosen
// attack at the target's point, led ahead by the unit's attack timer when the
// target moves (speed 20 along +x), and taken level or 1000 above it.
TEST_F(monster_attacks_test, the_gap_takes_the_chosen_attacks_ranges_at_the_led_or_unled_point)
{
    struct row
    {
        const char *name;
        int32_t archer_z, victim_x, minimum;
        bool moved;
        int16_t timer;
        int32_t gap;
    };
    const row rows[] = {
        {"level, still", 0, 7200, 0, false, 0, 6200 - 1000},
        {"level, led ten ticks", 0, 7200, 0, true, 10, 6400 - 1000},
        {"moving, no ticks to lead", 0, 7200, 0, true, 0, 6200 - 1000},
        {"above, led", 1000, 7200, 0, true, 10, 6400 - 6099},
        {"above, still with a timer", 1000, 7200, 0, false, 10, 6200 - 6099},
        {"within reach", 0, 1800, 0, false, 0, 0},
        {"under the minimum", 0, 1200, 300, false, 0, 200 - 300},
        {"under the minimum, led past it", 0, 1200, 300, true, 10, 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        monster_attack_definition &a = arrow_attack(0);
        a.maximum_range = 1000;
        a.minimum_range = (int16_t)r.minimum;
        a.initial_velocity_lower_bound = 40;
        const int32_t archer = make_unit(0, {1000, 4000, r.archer_z});
        const int32_t victim = make_unit(1, {r.victim_x, 4000, 0});
        target(archer, victim);
        monster(archer)->base_movement_speed = 0;
        monster(archer)->attack_timer = r.timer;
        monster(archer)->path_destination = {9000, 9000};
        monster(victim)->base_movement_speed = 20;
        body(victim)->location.yaw = 0;
        if (r.moved) monster(victim)->extra_flags |= _monster_actually_moved_extra_flag;
        EXPECT_EQ(linear_distance_to_best_point_of_attack(archer), r.gap);
        EXPECT_EQ(monster(archer)->path_destination.x, r.gap == 0 ? 1000 : 9000);
    }
}

// After a choice that finds the target out of reach, the attack's choice is
// answered from the kept ranges only while the unit and its aim point stand
// where they stood: each row brings the target into reach (the reach is 1000;
// 10199 more from 2000 higher up).
TEST_F(monster_attacks_test, the_kept_out_of_reach_answer_is_not_taken_once_a_place_changes)
{
    struct row
    {
        const char *name;
        void (*change)(int32_t archer, object_data *archer_body, object_data *victim_body);
        int32_t immediate;
        int64_t answered;
    };
    const row rows[] = {
        {"nothing changed", [](int32_t, object_data *, object_data *) {}, NONE, 1},
        {"the target stepped into reach",
         [](int32_t, object_data *, object_data *victim) { victim->location.position.x = 1800; }, 0, 0},
        {"the unit stepped up to it",
         [](int32_t, object_data *archer, object_data *) { archer->location.position.x = 6500; }, 0, 0},
        {"the unit stands higher",
         [](int32_t, object_data *archer, object_data *) { archer->location.position.z = 2000; }, 0, 0},
        {"the unit aims at a point within reach",
         [](int32_t archer, object_data *, object_data *) {
             const world_point3d point = {1500, 4000, 0};
             set_monster_target_location(archer, &point, 0);
         },
         0, 0},
        {"the unit retreats (the reduction brings the target near)",
         [](int32_t archer, object_data *, object_data *) {
             get_monster_data(archer)->flags |= _monster_is_retreating_flag;
         },
         0, 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        monster_attack_definition &a = arrow_attack(0);
        a.maximum_range = 1000;
        a.initial_velocity_lower_bound = 40;
        definition()->turning_speed = 0;
        const int32_t archer = make_unit(0, {1000, 4000, 0});
        const int32_t victim = make_unit(1, {7200, 4000, 0});
        target(archer, victim);
        monster(victim)->base_movement_speed = 120; // 5400 off a retreating unit's 6200
        set_attack_choice_checking(true);
        EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_possible_attack_index), 0);
        r.change(archer, body(archer), body(victim));
        EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), r.immediate);
        EXPECT_EQ(get_attack_choice_check_counts().choices_answered, r.answered);
        EXPECT_EQ(get_attack_choice_check_counts().mismatches, 0);
        set_attack_choice_checking(false);
        delete_monster(archer, false);
        delete_monster(victim, false);
    }
}

TEST_F(monster_attacks_test, the_preflight_holds_fire_near_friends_unless_ordered)
{
    monster_attack_definition &a = arrow_attack(0);
    a.flags |= _monster_attack_avoids_friendly_units_flag;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t victim = make_unit(1, {5000, 5000, 0});
    const int32_t friend_unit = make_unit(0, {5000, 5400, 0});
    body(friend_unit)->vitality = 100;
    target(archer, victim);
    struct row
    {
        int16_t enemy;
        bool ordered, fires;
    };
    for (const row r : {row{250, false, false}, row{301, false, true}, row{250, true, true}, row{301, true, true}})
    {
        SCOPED_TRACE(r.enemy * 10 + r.ordered);
        sounds_played.clear();
        body(victim)->vitality = r.enemy;
        monster(archer)->flags &= ~(uint32_t)_monster_responding_to_target_command_flag;
        if (r.ordered) monster(archer)->flags |= _monster_responding_to_target_command_flag;
        set_monster_action(archer, _monster_action_holding_for_attack, 0);
        target(archer, victim);
        EXPECT_EQ(handle_monster_attack(archer, 0, _monster_attack_aim), r.fires);
        const bool warned = !sounds_played.empty() && sounds_played[0] == _monster_sound_attack_enemy_with_friendly_units_nearby;
        EXPECT_EQ(warned, r.ordered && r.enemy == 250);
    }
}

TEST_F(monster_attacks_test, a_miss_launches_nothing_and_still_recovers)
{
    monster_attack_definition &a = arrow_attack(0);
    a.miss_fraction = 65535;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    target(archer, make_unit(1, {4000, 4000, 0}));
    set_random_seed(7);
    monster(archer)->attack_timer = 0;
    EXPECT_TRUE(handle_monster_attack(archer, 0, _monster_attack_execute));
    EXPECT_EQ(get_projectile_count(), 0);
    EXPECT_FALSE(monster(archer)->flags & _monster_has_attacked_flag);
    EXPECT_GE(monster(archer)->attack_timer, 30);
    EXPECT_LE(monster(archer)->attack_timer, 35);
}

TEST_F(monster_attacks_test, aim_execute_and_abort_draw_exactly_as_documented)
{
    monster_attack_definition &a = arrow_attack(0);
    a.initial_velocity_delta = 20;
    a.initial_velocity_error = 3;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    target(archer, make_unit(1, {4000, 4000, 0}));

    // The draws of the projectile itself, made the same way.
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = arrow;
    request.location.position = {1000, 4000, 0};
    request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
    request.target_monster_index = NONE;
    reset_random_draw_counts();
    ASSERT_NE(new_projectile(&request), NONE);
    const uint32_t projectile_draws = get_vesk_random_draw_count();

    // Aim at 1750, where aiming changes no shape: sequence, speed, recovery.
    current_gameplay_version = 1750;
    reset_random_draw_counts();
    ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_aim));
    EXPECT_EQ(get_vesk_random_draw_count(), 3u);
    // Execute: the miss draw, three velocity errors, the projectile, recovery.
    reset_random_draw_counts();
    ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_execute));
    EXPECT_EQ(get_vesk_random_draw_count(), 1u + 3u + projectile_draws + 1u);
    // Once struck, an abort does nothing; before, it fumbles: the miss draw,
    // speed, pitch, yaw, three velocity errors, the projectile, recovery.
    reset_random_draw_counts();
    EXPECT_FALSE(handle_monster_attack(archer, 0, _monster_attack_abort));
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    monster(archer)->flags &= ~(uint32_t)_monster_has_attacked_flag;
    reset_random_draw_counts();
    ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_abort));
    EXPECT_EQ(get_vesk_random_draw_count(), 1u + 3u + 3u + projectile_draws + 1u);
}

TEST_F(monster_attacks_test, attack_indexes_follow_their_version_rules_and_never_leave_the_table)
{
    arrow_attack(0);
    arrow_attack(1);
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const monster_attack_definition *attacks = definition()->attacks;
    struct row
    {
        int32_t version, index;
        const monster_attack_definition *expected;
    };
    const row rows[] = {
        {1600, 3, &attacks[3]}, {1601, 3, &attacks[1]}, // beyond the attacks: the last from 1601
        {1600, 7, &attacks[3]}, {1600, -5, &attacks[0]}, {1601, -5, &attacks[0]}, // outside the table: clamped
        {1510, ARTIFACT_ATTACK_INDEX, nullptr}, {1511, ARTIFACT_ATTACK_INDEX, &attacks[0]}, // no artifact
    };
    for (const row &r : rows)
    {
        current_gameplay_version = r.version;
        EXPECT_EQ(get_monster_attack_definition(archer, r.index), r.expected) << r.version << " " << r.index;
    }
    EXPECT_EQ(get_monster_attack_definition(NONE, 0), nullptr);
}

TEST_F(monster_attacks_test, a_dead_target_is_not_aimed_at)
{
    arrow_attack(0);
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t victim = make_unit(1, {4000, 4000, 0});
    target(archer, victim);
    delete_monster(victim, false);
    reset_random_draw_counts();
    EXPECT_FALSE(handle_monster_attack(archer, 0, _monster_attack_aim));
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 0);
    EXPECT_FALSE(handle_monster_attack(NONE, 0, _monster_attack_aim));
    EXPECT_FALSE(handle_monster_attack(archer, NONE, _monster_attack_aim));
}

// The replacement of a unit whose slot its own strike freed.
int32_t respawn_slot = NONE;
int16_t respawn_type = NONE, respawn_unit_type = NONE;
void respawn_during_strike(int32_t monster_index, uint32_t)
{
    delete_monster(monster_index, false); // its object goes with it
    const int32_t body = new_unit_object({3000, 3000, 0});
    const int32_t index = new_datum(get_monster_array());
    ASSERT_EQ(index, monster_index);
    get_object(body)->owner_index = (int16_t)index;
    const world_point2d location = {3000, 3000};
    init_monster(index, respawn_type, respawn_unit_type, body, 0, 0, 0, &location, true);
    get_monster_data(index)->attack_timer = 0;
    respawn_slot = index;
}

TEST_F(monster_attacks_test, a_thrown_object_replaced_by_another_is_deleted_and_a_refilled_slot_is_left_alone)
{
    monster_attack_definition &a = arrow_attack(0);
    a.flags |= _monster_attack_uses_carried_projectile_flag;
    const int32_t thrower = make_unit(0, {1000, 4000, 0});
    target(thrower, make_unit(1, {4000, 4000, 0}));
    int16_t held[2];
    for (int16_t &object : held)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = arrow_object;
        request.scale = 256;
        request.owner = _object_is_dormant_projectile;
        request.owner_index = arrow;
        request.location.position = {1000, 4000, 0};
        request.collection_index = NONE;
        object = (int16_t)new_object(&request);
        get_object(object)->flags |= _object_is_invisible_flag;
    }
    monster_data *m = monster(thrower);
    m->held_object_indexes[0] = held[0];
    m->held_object_indexes[1] = held[1];
    m->held_object_count = 2;
    m->carrying_object_index = held[0];
    const int16_t thrown_identifier = get_object(held[0])->identifier;
    set_monster_action(thrower, _monster_action_attacking, 0);

    ASSERT_TRUE(handle_monster_attack(thrower, 0, _monster_attack_execute));
    m = monster(thrower);
    EXPECT_EQ(get_object(held[0]), nullptr) << "the thrown object's old body is freed";
    EXPECT_EQ(m->carrying_object_index, held[1]);
    EXPECT_EQ(m->held_object_count, 1);
    EXPECT_EQ(m->held_object_indexes[0], held[1]);
    EXPECT_EQ(m->action, _monster_action_holding_for_attack);
    int32_t projectile_object = NONE;
    for (int32_t i = 0; i < get_projectile_slot_count(); ++i)
        if (const projectile_data *p = get_projectile_data(i)) projectile_object = p->object_index;
    ASSERT_NE(projectile_object, NONE);
    EXPECT_EQ(get_object(projectile_object)->identifier, thrown_identifier);

    // The second throw: the unit is replaced in its slot while it lets go.
    // The object it takes up next carries an artifact that turns it into an
    // inanimate thing, which the selection is told of: there the slot is refilled.
    respawn_type = m->type;
    respawn_unit_type = m->unit_type;
    monster_definition inanimate = *definition();
    inanimate.flags |= _monster_is_inanimate_object_flag;
    const int32_t inanimate_type =
        new_definition(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', '2'), &inanimate);
    uint8_t unit_record[128];
    memset(unit_record, 0, sizeof(unit_record));
    unit_definition *unit = (unit_definition *)unit_record;
    unit->player_index = NONE;
    unit->monster_type = (int16_t)inanimate_type;
    const int32_t inanimate_unit = new_definition(&unit_definitions, FOUR_CHARACTER_CODE('w', 'a', '0', '2'), unit);
    artifact_definition relic;
    default_artifact_definition(&relic);
    relic.flags = _artifact_overrides_owner_monster_flag;
    relic.monster_override_type = (int16_t)inanimate_unit;
    const int16_t relic_projectile = add_projectile(arrow_object);
    ((projectile_definition *)try_and_get_definition(get_projectile_definition_group(), relic_projectile))
        ->artifact_index = (int16_t)new_definition(&artifact_definitions, FOUR_CHARACTER_CODE('a', 'r', 't', '0'), &relic);
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = arrow_object;
    request.scale = 256;
    request.owner = _object_is_dormant_projectile;
    request.owner_index = relic_projectile;
    request.location.position = {1000, 4000, 0};
    request.collection_index = NONE;
    m->held_object_indexes[1] = (int16_t)new_object(&request);
    m->held_object_count = 2;
    register_remove_monster_from_selections_procedure(respawn_during_strike);
    m->flags &= ~(uint32_t)_monster_has_attacked_flag;
    const int16_t old_identifier = m->identifier;
    EXPECT_TRUE(handle_monster_attack(thrower, 0, _monster_attack_execute));
    ASSERT_EQ(respawn_slot, thrower);
    EXPECT_NE(monster(thrower)->identifier, old_identifier);
    EXPECT_EQ(monster(thrower)->attack_timer, 0) << "no recovery for the newcomer";
}

TEST_F(monster_attacks_test, out_of_ammunition_attack_refills_and_the_retreat_reduction_accumulates)
{
    monster_attack_definition &bow = arrow_attack(0);
    bow.flags |= _monster_attack_uses_ammunition_flag;
    monster_attack_definition &reload = arrow_attack(1);
    reload.flags |= _monster_attack_uses_ammunition_flag;
    reload.repetitions = -10;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    target(archer, make_unit(1, {4000, 4000, 0}));
    monster(archer)->ammunition_count = 0;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 1);
    ASSERT_TRUE(handle_monster_attack(archer, 1, _monster_attack_execute));
    EXPECT_EQ(monster(archer)->ammunition_count, 10);
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 0);

}

TEST_F(monster_attacks_test, a_retreating_unit_takes_the_speed_reduction_again_for_every_candidate)
{
    // The target 3000 away at speed 100: each candidate examined takes another
    // 100 * 45 = 4500 off the distance, so candidate i sees 3000 - 4500 (i + 1).
    for (int32_t i = 0; i < 4; ++i)
    {
        monster_attack_definition &x = arrow_attack(i);
        x.minimum_range = (int16_t)(3000 - 4500 * (i + 1) - 10);
        x.maximum_range = (int16_t)(3000 - 4500 * (i + 1) + 10);
    }
    definition()->turning_speed = 0;
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t enemy = make_unit(1, {4000, 4000, 0});
    target(archer, enemy);
    monster(enemy)->base_movement_speed = 100;
    monster(archer)->flags |= _monster_is_retreating_flag;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 0);
    definition()->attacks[0].maximum_range = -2000; // candidate 0 out of its window now
    definition()->attacks[1].maximum_range = -7000;
    definition()->attacks[2].maximum_range = -12000;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 3);
    monster(archer)->flags &= ~(uint32_t)_monster_is_retreating_flag;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), NONE);
}

TEST_F(monster_attacks_test, trying_an_attack_sets_the_timer_for_the_players_kind_and_reports_the_outcome)
{
    arrow_attack(0);
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t victim = make_unit(1, {4000, 4000, 0});
    target(archer, victim);
    monster(archer)->flags |= _monster_is_retreating_flag;
    EXPECT_TRUE(try_monster_attack(archer));
    EXPECT_EQ(monster(archer)->attack_timer, 15);
    EXPECT_FALSE(monster(archer)->flags & _monster_is_retreating_flag);
    EXPECT_TRUE(monster(archer)->extra_flags & _monster_chain_lightning_prevention_extra_flag);

    // A computer player's unit in a cooperative game waits longer at the easy levels.
    get_player_data(0)->type = _player_is_computer;
    game_->option_flags |= _game_option_cooperative_flag;
    for (const auto &[difficulty, ticks] : {std::pair{0, 45}, std::pair{1, 30}, std::pair{2, 15}})
    {
        game_->difficulty_level = (int16_t)difficulty;
        target(archer, victim);
        EXPECT_TRUE(try_monster_attack(archer));
        EXPECT_EQ(monster(archer)->attack_timer, ticks);
    }
    game_->option_flags &= ~(uint32_t)_game_option_cooperative_flag;

    // Nothing in range: the holding unit looks for a new path and is marked as failing.
    body(victim)->location.position.x = 15000;
    set_monster_action(archer, _monster_action_holding_for_attack, 0);
    target(archer, victim);
    EXPECT_FALSE(try_monster_attack(archer));
    EXPECT_TRUE(monster(archer)->flags & _monster_needs_new_path_flag);
    EXPECT_TRUE(monster(archer)->extra_flags & _monster_failed_to_attack_extra_flag);
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_special_ability_attack_index), NONE);
}

// ---- the line-of-fire services ----------------------------------------------------------

TEST_F(monster_attacks_test, the_ground_check_follows_the_line_or_the_arc_and_ignores_the_outside)
{
    // A ridge across x = 2048..2560.
    for (int32_t y = 0; y < mesh_height; ++y)
        for (int32_t x = 4; x <= 5; ++x) get_mesh_cell(x, y)->height = 600;
    const world_point3d low = {500, 3000, 100}, far_side = {4000, 3000, 100};
    world_point3d hit;
    EXPECT_TRUE(check_for_ground_obstruction(&low, &far_side, 0, &hit, nullptr));
    EXPECT_GE(hit.x, 1536);
    EXPECT_LE(hit.x, 2560);
    const world_point3d high = {500, 3000, 900}, high_target = {4000, 3000, 900};
    EXPECT_FALSE(check_for_ground_obstruction(&high, &high_target, 0, nullptr, nullptr));
    // A falling object launched at 45 degrees clears the ridge on its arc.
    object_definition falling;
    memset(&falling, 0, sizeof(falling));
    falling.gravity = 2;
    EXPECT_TRUE(check_for_ground_obstruction(&low, &far_side, 0, nullptr, &falling));
    EXPECT_FALSE(check_for_ground_obstruction(&low, &far_side, 8192, nullptr, &falling));
    // Off the mesh nothing obstructs.
    const world_point3d outside = {-5000, -5000, -1000}, outside_target = {-1000, -5000, -1000};
    EXPECT_FALSE(check_for_ground_obstruction(&outside, &outside_target, 0, nullptr, nullptr));
}

TEST_F(monster_attacks_test, the_object_check_finds_the_nearest_blocker_within_its_reach)
{
    auto post = [&](world_point3d at, int16_t radius) {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_scenery;
        request.location.position = at;
        request.collection_index = NONE;
        const int32_t index = new_object(&request);
        object_data *o = get_object(index);
        o->radius = radius;
        o->height0 = 0;
        o->height1 = 200;
        o->flags |= _object_is_solid_flag;
        object_scan_membership_changed(index);
        return index;
    };
    const int32_t near_post = post({1600, 3010, 0}, 64);
    const int32_t far_post = post({2600, 2990, 0}, 64);
    const int32_t at_target = post({4000, 3000, 0}, 64);
    (void)at_target;
    const world_point3d origin = {1000, 3000, 100}, goal = {4000, 3000, 100};
    EXPECT_EQ(check_for_object_obstruction(NONE, &origin, &goal, 2048, 0, true, false, false), near_post);
    EXPECT_EQ(check_for_object_obstruction(near_post, &origin, &goal, 2048, 0, true, false, false), far_post);
    // Beyond the reach, or steered round by a guided projectile.
    EXPECT_EQ(check_for_object_obstruction(near_post, &origin, &goal, 768, 0, true, false, false), NONE);
    EXPECT_EQ(check_for_object_obstruction(near_post, &origin, &goal, 2048, 0, true, false, true), NONE);
    // Climbing at 45 degrees the line passes over both; without the pitch check it does not.
    EXPECT_EQ(check_for_object_obstruction(NONE, &origin, &goal, 2048, 8192, true, false, false), NONE);
    EXPECT_EQ(check_for_object_obstruction(NONE, &origin, &goal, 2048, 8192, false, false, false), near_post);
    // The object at the target end is what is shot at.
    const world_point3d short_goal = {4000, 3000, 100}, start = {3000, 3000, 100};
    EXPECT_EQ(check_for_object_obstruction(NONE, &start, &short_goal, 2048, 0, true, false, false), NONE);
}

TEST_F(monster_attacks_test, friends_in_the_line_of_fire_make_the_aim_fail_enemies_do_not)
{
    arrow_attack(0);
    definition()->attacks[0].projectile_type = add_projectile(add_object_definition(0));
    const int32_t archer = make_unit(0, {1000, 4000, 0});
    const int32_t victim = make_unit(1, {4000, 4000, 0});
    const int32_t blocker = make_unit(0, {1800, 4000, 0});
    for (const int32_t index : {archer, victim, blocker})
    {
        body(index)->radius = 64;
        body(index)->height1 = 200;
    }
    target(archer, victim);
    // A friend standing still: the archer steps aside and does not aim.
    EXPECT_FALSE(handle_monster_attack(archer, 0, _monster_attack_aim));
    EXPECT_EQ(monster(archer)->action, _monster_action_moving);
    EXPECT_TRUE(monster(archer)->flags & _monster_evading_obstacle_flag);
    EXPECT_NE(monster(archer)->desired_yaw, 0);
    // While it sidesteps it does not try to attack, and keeps its timer.
    EXPECT_TRUE(monster(archer)->flags & _monster_is_evading_obstacle_to_attack_flag);
    monster(archer)->attack_timer = 0;
    reset_random_draw_counts();
    EXPECT_FALSE(try_monster_attack(archer));
    EXPECT_EQ(monster(archer)->attack_timer, 0);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(monster(archer)->action, _monster_action_moving);
    // A moving friend: the complaint instead.
    monster(archer)->flags &= ~(uint32_t)(_monster_evading_obstacle_flag | _monster_is_evading_obstacle_to_attack_flag);
    monster(blocker)->action = _monster_action_moving;
    target(archer, victim);
    EXPECT_FALSE(handle_monster_attack(archer, 0, _monster_attack_aim));
    ASSERT_FALSE(sounds_played.empty());
    EXPECT_EQ(sounds_played.back(), _monster_sound_attack_obstructed_by_friendly_unit);
    // An enemy in the way does not block.
    monster(blocker)->owner_team_index = 1;
    monster(blocker)->owner_player_index = 1;
    EXPECT_TRUE(handle_monster_attack(archer, 0, _monster_attack_aim));
}

// ---- the choice and its version gates ------------------------------------------------------

TEST_F(monster_attacks_test, best_possible_takes_an_in_range_attack_else_the_last_out_of_range_one)
{
    // The target stands 3000 away on the level.
    struct row
    {
        const char *name;
        std::vector<std::pair<int16_t, int16_t>> ranges; // minimum, maximum
        int32_t best_possible, best_immediate;
    };
    const row rows[] = {
        {"two too far, the third in range", {{0, 1000}, {0, 2000}, {0, 5000}}, 2, 2},
        {"two too far: the second", {{0, 1000}, {0, 2000}}, 1, NONE},
        {"three too far: the third", {{0, 1000}, {0, 2000}, {0, 2500}}, 2, NONE},
        {"too close after too far: the far one stays", {{0, 1000}, {4000, 6000}}, 0, NONE},
        {"too far after too close replaces it", {{4000, 6000}, {0, 1000}}, 1, NONE},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        definition()->number_of_attacks = 0;
        for (size_t i = 0; i < r.ranges.size(); ++i)
        {
            monster_attack_definition &a = arrow_attack((int32_t)i);
            a.minimum_range = r.ranges[i].first;
            a.maximum_range = r.ranges[i].second;
        }
        const int32_t archer = make_unit(0, {1000, 4000, 0});
        target(archer, make_unit(1, {4000, 4000, 0}));
        EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_possible_attack_index), r.best_possible);
        EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), r.best_immediate);
    }
}

TEST_F(monster_attacks_test, the_version_gates_of_the_choice_fall_at_their_boundaries)
{
    enum setup
    {
        out_of_arrows, // attack 0: the out-of-ammunition attack, no arrows left
        flying_target, // attack 0 prohibited against fliers, the target flies
        ground_special, // a special ability against a ground point, mode 2
        ground_reflexive_special,
    };
    struct row
    {
        const char *name;
        setup kind;
        int32_t version;
        int32_t mode;
        int32_t expected;
    };
    const row rows[] = {
        {"out of arrows, 1300", out_of_arrows, 1300, _choose_best_immediate_attack_index, NONE},
        {"out of arrows, 1301", out_of_arrows, 1301, _choose_best_immediate_attack_index, 0},
        {"prohibited against fliers, 1510", flying_target, 1510, _choose_best_immediate_attack_index, 0},
        {"prohibited against fliers, 1511", flying_target, 1511, _choose_best_immediate_attack_index, NONE},
        {"special at a ground point, 1300", ground_special, 1300, _choose_special_ability_attack_index, NONE},
        {"special at a ground point, 1301", ground_special, 1301, _choose_special_ability_attack_index, 0},
        {"reflexive special at a ground point, 1719", ground_reflexive_special, 1719,
         _choose_special_ability_attack_index, NONE},
        {"reflexive special at a ground point, 1720", ground_reflexive_special, 1720,
         _choose_special_ability_attack_index, 0},
    };
    const int16_t blade = add_projectile(arrow_object, _projectile_is_melee_attack_flag | _projectile_centered_on_target_flag);
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        monster_attack_definition &a = arrow_attack(0);
        definition()->flags &= ~(uint32_t)_monster_flies_flag;
        const int32_t archer = make_unit(0, {1000, 4000, 0});
        const int32_t victim = make_unit(1, {4000, 4000, 0});
        target(archer, victim);
        switch (r.kind)
        {
        case out_of_arrows:
            a.flags |= _monster_attack_uses_ammunition_flag;
            a.repetitions = -10;
            monster(archer)->ammunition_count = 0;
            break;
        case flying_target:
            a.extra_flags = _monster_attack_prohibited_vs_flying_extra_flag;
            definition()->flags |= _monster_flies_flag;
            break;
        case ground_special:
        case ground_reflexive_special:
            a.flags = _monster_attack_is_special_ability_flag |
                      (r.kind == ground_reflexive_special ? _monster_attack_is_reflexive_flag : 0);
            a.projectile_type = blade;
            monster(archer)->flags &= ~(uint32_t)_monster_has_valid_target_index_flag;
            monster(archer)->flags |= _monster_has_valid_target_location_flag;
            break;
        }
        current_gameplay_version = r.version;
        EXPECT_EQ(choose_monster_attack_index(archer, r.mode), r.expected);
        current_gameplay_version = 1820;
        a.extra_flags = 0;
        delete_monster(archer, false);
        delete_monster(victim, false);
    }
    definition()->flags &= ~(uint32_t)_monster_flies_flag;
}

class artifact_attacks_test : public monster_attacks_test
{
protected:
    int32_t archer = NONE, victim = NONE;
    int32_t artifact_type = NONE;
    int16_t wielded = NONE;

    // The archer wields an artifact whose override attack is an arrow in range;
    // its own attack 0 is in range too.
    artifact_definition *arm(uint32_t flags)
    {
        arrow_attack(0);
        archer = make_unit(0, {1000, 4000, 0});
        victim = make_unit(1, {4000, 4000, 0});
        target(archer, victim);
        artifact_definition a;
        default_artifact_definition(&a);
        a.flags = _artifact_overrides_owner_attack_flag | flags;
        a.override_attack = definition()->attacks[0];
        artifact_type = new_definition(&artifact_definitions, FOUR_CHARACTER_CODE('a', 'r', 't', '0' + next_tag++), &a);
        EXPECT_NE(artifact_type, NONE);
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.collection_index = NONE;
        request.location.position = {1000, 4000, 0};
        wielded = (int16_t)new_object(&request);
        monster(archer)->carrying_object_index = wielded;
        monster(archer)->artifact_index = (int16_t)artifact_type;
        return get_artifact_definition(artifact_type);
    }
    // A unit type of a second unit definition, of the same collection or not.
    int16_t other_unit_type(bool same_collection)
    {
        monster_definition m = *definition();
        m.collection_index = (int16_t)(definition()->collection_index + (same_collection ? 0 : 1));
        const int32_t monster_type = new_definition(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', '0' + next_tag++), &m);
        unit_definition u;
        memset(&u, 0, sizeof(u));
        u.monster_type = (int16_t)monster_type;
        u.player_index = NONE;
        return (int16_t)new_definition(&unit_definitions, FOUR_CHARACTER_CODE('u', 'n', 't', '0' + next_tag++), &u);
    }
    void restrict_to(artifact_definition *a, int16_t unit_type)
    {
        a->monster_restriction_tag = FOUR_CHARACTER_CODE('r', 'e', 's', 't');
        a->monster_restriction_type = unit_type;
    }
};

TEST_F(artifact_attacks_test, an_unrestricted_artifact_attack_comes_first)
{
    arm(0);
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), ARTIFACT_ATTACK_INDEX);
    // Spent charges take it out.
    artifact_definition *a = get_artifact_definition(artifact_type);
    a->initial_charges_lower_bound = 3;
    get_object(wielded)->state = 0;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 0);
    get_object(wielded)->state = 1;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), ARTIFACT_ATTACK_INDEX);
}

TEST_F(artifact_attacks_test, a_restricted_artifact_admits_its_own_unit_type_or_with_the_collection_rule_its_collection)
{
    artifact_definition *a = arm(_artifact_restrict_overrides_flag);
    const int16_t own = monster(archer)->unit_type;
    struct row
    {
        const char *name;
        int16_t unit_type;
        uint32_t collection_flag;
        int32_t expected;
    };
    const int16_t stranger = other_unit_type(false), cousin = other_unit_type(true);
    a = get_artifact_definition(artifact_type);
    const row rows[] = {
        {"the unit's own type", own, 0, ARTIFACT_ATTACK_INDEX},
        {"another type", stranger, 0, 0},
        {"another type of the same collection", cousin, 0, 0},
        {"the collection rule, same collection", cousin, _artifact_restricted_by_collection_flag, ARTIFACT_ATTACK_INDEX},
        {"the collection rule, another collection", stranger, _artifact_restricted_by_collection_flag, 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        restrict_to(a, r.unit_type);
        a->flags = (a->flags & ~(uint32_t)_artifact_restricted_by_collection_flag) | r.collection_flag;
        EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), r.expected);
    }
    // A restriction flag without a restriction tag admits everyone.
    a->monster_restriction_tag = NONE;
    a->monster_restriction_type = stranger;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), ARTIFACT_ATTACK_INDEX);
}

TEST_F(artifact_attacks_test, from_1511_an_artifact_attack_that_hides_the_others_ends_the_search)
{
    artifact_definition *a = arm(_artifact_override_attack_hides_other_monster_attacks_flag);
    a->override_attack.maximum_range = 1000; // out of range
    current_gameplay_version = 1510;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), 0);
    current_gameplay_version = 1511;
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_immediate_attack_index), NONE);
    EXPECT_EQ(choose_monster_attack_index(archer, _choose_best_possible_attack_index), ARTIFACT_ATTACK_INDEX);
}

// ---- the version gates of aim, strike and tail ----------------------------------------------

TEST_F(monster_attacks_test, a_failed_aim_takes_up_the_deferred_target_from_1301_and_forgets_its_special_from_1501)
{
    arrow_attack(0); // reaches about 100^2 / 2 = 5000
    for (int32_t version : {1300, 1301, 1500, 1501})
    {
        SCOPED_TRACE(version);
        const int32_t archer = make_unit(0, {500, 4000, 0});
        const int32_t far_away = make_unit(1, {7800, 4000, 0});
        const int32_t deferred = make_unit(1, {2000, 5000, 0});
        target(archer, far_away);
        monster(archer)->deferred_target_index = (int16_t)deferred;
        monster(archer)->extra_flags |= _monster_deferred_uses_special_extra_flag;
        current_gameplay_version = version;
        EXPECT_FALSE(handle_monster_attack(archer, 0, _monster_attack_aim));
        const monster_data *m = monster(archer);
        EXPECT_EQ(m->target_monster_index, version >= 1301 ? deferred : far_away);
        EXPECT_EQ(m->deferred_target_index, version >= 1301 ? NONE : deferred);
        EXPECT_EQ((m->flags & _monster_will_use_special_ability_flag) != 0, version >= 1301);
        EXPECT_EQ((m->extra_flags & _monster_deferred_uses_special_extra_flag) != 0, version < 1501);
        current_gameplay_version = 1820;
        for (const int32_t unit : {archer, far_away, deferred}) delete_monster(unit, false);
    }
}

TEST_F(monster_attacks_test, the_strike_and_its_tail_follow_their_version_gates)
{
    struct row
    {
        const char *name;
        int32_t version;
        bool deferred_command, no_recovery;
        bool keeps_target_flag, recovers;
    };
    const row rows[] = {
        // A strike that resumes a deferred movement order: from 1691 the target flag goes too.
        {"deferred order, 1690", 1690, true, false, true, true},
        {"deferred order, 1691", 1691, true, false, false, true},
        // From 1511 an attack may need no recovery time.
        {"no recovery, 1510", 1510, false, true, true, true},
        {"no recovery, 1511", 1511, false, true, true, false},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        monster_attack_definition &a = arrow_attack(0);
        a.extra_flags = r.no_recovery ? _monster_attack_does_not_require_recovery_time_extra_flag : 0;
        const int32_t archer = make_unit(0, {1000, 4000, 0});
        const int32_t victim = make_unit(1, {4000, 4000, 0});
        target(archer, victim);
        if (r.deferred_command) monster(archer)->extra_flags |= _monster_has_deferred_movement_command_extra_flag;
        current_gameplay_version = r.version;
        ASSERT_TRUE(handle_monster_attack(archer, 0, _monster_attack_execute));
        const monster_data *m = monster(archer);
        EXPECT_TRUE(m->flags & _monster_has_attacked_flag);
        EXPECT_EQ((m->flags & _monster_has_valid_target_flag) != 0, r.keeps_target_flag);
        if (r.deferred_command)
        {
            EXPECT_FALSE(m->flags & _monster_has_valid_target_index_flag);
            EXPECT_TRUE(m->flags & _monster_needs_new_path_flag);
        }
        EXPECT_EQ(m->attack_timer >= 30, r.recovers);
        EXPECT_EQ(m->attack_timer == 0, !r.recovers);
        current_gameplay_version = 1820;
        a.extra_flags = 0;
        delete_monster(archer, false);
        delete_monster(victim, false);
    }
}

TEST_F(monster_attacks_test, from_1501_a_thrower_takes_up_another_object_of_the_kind_it_threw)
{
    monster_attack_definition &a = arrow_attack(0);
    a.flags |= _monster_attack_uses_carried_projectile_flag;
    const int16_t axe = add_projectile(arrow_object);
    for (int32_t version : {1500, 1501})
    {
        SCOPED_TRACE(version);
        const int32_t thrower = make_unit(0, {1000, 4000, 0});
        const int32_t victim = make_unit(1, {4000, 4000, 0});
        target(thrower, victim);
        // Held: an arrow (wielded), an axe, another arrow.
        int16_t held[3];
        const int16_t kinds[3] = {arrow, axe, arrow};
        for (int32_t i = 0; i < 3; ++i)
        {
            new_object_data request;
            memset(&request, 0, sizeof(request));
            request.type = arrow_object;
            request.scale = 256;
            request.owner = _object_is_dormant_projectile;
            request.owner_index = kinds[i];
            request.location.position = {1000, 4000, 0};
            request.collection_index = NONE;
            held[i] = (int16_t)new_object(&request);
            get_object(held[i])->flags |= _object_is_invisible_flag;
            monster(thrower)->held_object_indexes[i] = held[i];
        }
        monster(thrower)->held_object_count = 3;
        monster(thrower)->carrying_object_index = held[0];
        current_gameplay_version = version;
        ASSERT_TRUE(handle_monster_attack(thrower, 0, _monster_attack_execute));
        // Before 1501 the object now in the thrown one's place (the axe).
        EXPECT_EQ(monster(thrower)->carrying_object_index, version >= 1501 ? held[2] : held[1]);
        EXPECT_EQ(monster(thrower)->held_object_count, 2);
        current_gameplay_version = 1820;
        delete_monster(thrower, false);
        delete_monster(victim, false);
    }
}

} // namespace

} // namespace monster_attacks_test_file
