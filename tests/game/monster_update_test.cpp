// The per-tick update: the interception predictor against hand-computed
// meeting points and its version gates, waypoint loops and the end of an
// order reported to the scripts, mana by version, entrance groups after the
// pregame, a unit made during the loop, the stale-target gate and the resting
// action timer; and a small battle, a hundred seeds with deaths, whose
// invariants hold on every tick.

#include "tag_files/collection_procedures.h"
#include "support/monster_test_world.h"

#include "support/expected_assertions.h"

#include <vector>

#include "map_action_procedures.h"
#include "monster_actions.h"
#include "monster_orders.h"
#include "monster_owners.h"
#include "monster_reactions.h"
#include "monster_update.h"
#include "object_definitions.h"
#include "path.h"
#include "projectile_definitions.h"
#include "vesk_random.h"
#include "sound_procedures.h"

namespace monster_update_test_file {

namespace {

std::vector<int32_t> succeeded;
void record_success(int32_t identifier) { succeeded.push_back(identifier); }

std::vector<int16_t> heard;
void record_sound(int16_t sound_index, int32_t, const world_point3d *, short_fixed, uint16_t)
{
    heard.push_back(sound_index);
}

class monster_update_test;
monster_update_test *running_test = nullptr;

class monster_update_test : public monster_test_world
{
public:
    int32_t spawn(world_point2d at) { return make_unit(0, at); }

protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        succeeded.clear();
        heard.clear();
        running_test = this;
    }
    void TearDown() override
    {
        running_test = nullptr;
        monster_test_world::TearDown();
    }

    world_point2d at(int32_t index) { return {body(index)->location.position.x, body(index)->location.position.y}; }
};

// ---- the interception point -----------------------------------------------------------

TEST_F(monster_update_test, the_interception_point_matches_the_hand_computed_meetings)
{
    start_world();
    const world_point2d origin = {10000, 10000};
    const int32_t hunter = make_unit(0, origin);
    const int32_t prey = make_unit(1, {12000, 10000});
    struct row
    {
        const char *name;
        int32_t version;
        int32_t dx; // prey - hunter
        int16_t vx;
        int32_t lead_x; // the expected destination - the prey's x
    };
    // s = 20.  At 1300 v = (8, 0): D = dx / 8, a = -336, b = 16 D, disc = 1600 D^2,
    // t = 56 D / 672 = D / 12, lead = 8 min(8t, 300).
    const row rows[] = {
        {"velocity (8, 0)", 1300, 2000, 8, 8 * 160}, // D 250, t 20
        {"just under the cap", 1300, 3552, 8, 8 * 296}, // D 444, t 37
        {"a solution past 300 ticks is capped", 1300, 3648, 8, 8 * 300}, // D 456, t 38: 304
        // From 1601 the velocity is halved: v = (4, 0), a = -384; 2000 east:
        // disc = 4e6 + 96e6, q = 10000, t = 12000 / 768 = 15, n = 120.
        {"halved velocity", 1820, 2000, 8, 4 * 120},
        // 8000 east: D = 1000, b = 8000, q = 40000, t = 48000 / 768 = 62: capped.
        {"8000 east at 1720", 1720, 8000, 8, 0},
        {"8000 east at 1721", 1721, 8000, 8, 4 * 300},
        // 8000 west: b = -8000, t = 32000 / 768 = 41: 328, capped.
        {"8000 west at 1720", 1720, -8000, 8, 4 * 300},
        {"8000 west at 1721", 1721, -8000, 8, 4 * 300},
        {"a target standing still", 1820, 2000, 0, 0},
        {"beyond 10239 on an axis", 1820, 10240, 8, 0},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        current_gameplay_version = r.version;
        unit(hunter)->base_movement_speed = 20;
        place(prey, {origin.x + r.dx, origin.y});
        body(prey)->location.velocity = {r.vx, 0, 0};
        world_point2d destination = {};
        ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
        EXPECT_EQ(destination.x, origin.x + r.dx + r.lead_x);
        EXPECT_EQ(destination.y, origin.y);
    }
}

TEST_F(monster_update_test, the_vux_option_and_rough_ground_round_the_target_prevent_a_lead)
{
    start_world();
    const int32_t hunter = make_unit(0, {10000, 10000});
    const int32_t prey = make_unit(1, {12000, 10000});
    unit(hunter)->base_movement_speed = 20;
    body(prey)->location.velocity = {8, 0, 0};
    world_point2d destination = {};
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000 + 4 * 120);

    game_->option_flags |= _game_option_uses_vux_flag;
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000);
    game_->option_flags &= ~(uint32_t)_game_option_uses_vux_flag;

    // A model two cells off the target's cell (23, 19) stops the lead; three off does not.
    get_mesh_cell(25, 17)->model_index = 0;
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000);
    get_mesh_cell(25, 17)->model_index = NONE;
    get_mesh_cell(26, 17)->model_index = 0;
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000 + 4 * 120);
    get_mesh_cell(26, 17)->model_index = NONE;

    // Four cells of a terrain the target cannot enter stop it; three do not.
    definition()->terrain_impassability_flags = 1u << 3;
    for (int32_t x = 21; x <= 23; ++x) get_mesh_cell(x, 21)->flags = 0x30;
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000 + 4 * 120);
    get_mesh_cell(24, 21)->flags = 0x03;
    ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
    EXPECT_EQ(destination.x, 12000);
}

// Each impassable mask reads its own table of barred cells, however many
// masks came between (another mask's table would misjudge the ground).
TEST_F(monster_update_test, rough_ground_is_judged_by_the_mask_asked_whatever_masks_came_before)
{
    start_world();
    const int32_t hunter = make_unit(0, {10000, 10000});
    const int32_t prey = make_unit(1, {12000, 10000});
    unit(hunter)->base_movement_speed = 20;
    body(prey)->location.velocity = {8, 0, 0};
    for (int32_t x = 21; x <= 24; ++x) get_mesh_cell(x, 21)->flags = 0x30; // four of terrain 3 by the target
    const uint16_t masks[] = {1u << 3, 1u << 5, 1u << 0, 1u << 7, (1u << 3) | (1u << 9), 1u << 12, 0};
    const bool rough[] = {true, false, true, false, true, false, false}; // terrain 0 is everywhere else
    for (int32_t pass = 0; pass < 14; ++pass)
    {
        definition()->terrain_impassability_flags = masks[pass % 7];
        world_point2d destination = {};
        ASSERT_TRUE(predict_interception_point(hunter, prey, &destination));
        EXPECT_EQ(destination.x, rough[pass % 7] ? 12000 : 12000 + 4 * 120) << "mask " << masks[pass % 7];
    }
}

// ---- waypoints and orders -----------------------------------------------------------------

TEST_F(monster_update_test, a_back_and_forth_loop_of_three_waypoints_turns_at_both_ends)
{
    start_world();
    const int32_t walker = make_unit(0, {5000, 5000});
    // Every waypoint within arrival distance: each update arrives and advances.
    const world_point2d points[3] = {{5010, 5000}, {5020, 5000}, {5030, 5000}};
    set_monster_waypoints(walker, 3, points, false, 0);
    unit(walker)->flags |= _monster_has_looped_waypoints_flag | _monster_has_back_and_forth_looped_waypoints_flag;
    std::vector<int32_t> visited;
    for (int32_t tick = 0; tick < 7; ++tick)
    {
        visited.push_back(unit(walker)->waypoint_index);
        update_monster(walker);
    }
    EXPECT_EQ(visited, (std::vector<int32_t>{0, 1, 2, 1, 0, 1, 2}));

    // A plain loop starts again at 0.
    set_monster_waypoints(walker, 3, points, false, 0);
    unit(walker)->flags |= _monster_has_looped_waypoints_flag;
    visited.clear();
    for (int32_t tick = 0; tick < 5; ++tick)
    {
        visited.push_back(unit(walker)->waypoint_index);
        update_monster(walker);
    }
    EXPECT_EQ(visited, (std::vector<int32_t>{0, 1, 2, 0, 1}));
}

TEST_F(monster_update_test, reaching_the_last_waypoint_ends_the_order_and_tells_the_scripts)
{
    start_world();
    static const map_action_procedures scripts = {.map_action_succeeded = record_success};
    register_map_action_procedures(&scripts);
    definition()->turning_speed = 1;
    const int32_t walker = make_unit(0, {5000, 5000});
    const world_point2d point = {5040, 5000};
    set_monster_waypoints(walker, 1, &point, true, 12345);
    unit(walker)->flags |= _monster_responding_to_command_flag;
    unit(walker)->internal_command_identifier = 17;
    update_monster(walker);
    EXPECT_EQ(succeeded, std::vector<int32_t>{17});
    EXPECT_EQ(unit(walker)->waypoint_count, 0);
    EXPECT_EQ(unit(walker)->desired_yaw, 12345);
    EXPECT_EQ(unit(walker)->action, _monster_action_turning);
    EXPECT_FALSE(unit(walker)->flags & (_monster_responding_to_command_flag | _monster_has_final_desired_yaw_flag));

    // A player's order reports nothing.
    set_monster_action(walker, _monster_action_idle, 0);
    set_monster_waypoints(walker, 1, &point, false, 0);
    unit(walker)->flags |= _monster_responding_to_command_flag;
    unit(walker)->internal_command_identifier = NONE;
    update_monster(walker);
    EXPECT_EQ(succeeded.size(), 1u);
    EXPECT_EQ(unit(walker)->waypoint_count, 0);
}

// ---- timers, mana, stale targets ------------------------------------------------------------

TEST_F(monster_update_test, mana_recharges_and_drains_by_version)
{
    start_world();
    definition()->maximum_mana = 100;
    definition()->mana_recharge_rate = -2;
    const int32_t caster = make_unit(0, {5000, 5000});
    struct row
    {
        int32_t version;
        std::vector<int32_t> mana;
    };
    // From 1301 a negative rate drains to 0; up to 1300 min(mana + rate, maximum) runs on below 0.
    for (const row &r : {row{1301, {3, 1, 0, 0}}, row{1300, {3, 1, -1, -3}}})
    {
        SCOPED_TRACE(r.version);
        current_gameplay_version = r.version;
        unit(caster)->mana = 5;
        std::vector<int32_t> seen;
        for (size_t tick = 0; tick < r.mana.size(); ++tick)
        {
            update_monster(caster);
            seen.push_back(unit(caster)->mana);
        }
        EXPECT_EQ(seen, r.mana);
    }
    // From 1301 a unit with no visibility keeps its mana; a positive rate stops at the maximum.
    current_gameplay_version = 1820;
    unit(caster)->mana = 5;
    unit(caster)->extra_flags |= _monster_has_no_visibility_extra_flag;
    update_monster(caster);
    EXPECT_EQ(unit(caster)->mana, 5);
    unit(caster)->extra_flags &= ~(uint32_t)_monster_has_no_visibility_extra_flag;
    definition()->mana_recharge_rate = 3;
    unit(caster)->mana = 98;
    update_monster(caster);
    EXPECT_EQ(unit(caster)->mana, 100);
}

TEST_F(monster_update_test, the_action_timer_rests_at_minus_one_and_stale_targets_by_version)
{
    start_world();
    const int32_t idle = make_unit(0, {5000, 5000});
    unit(idle)->attack_timer = 1;
    std::vector<int32_t> timers;
    for (int32_t tick = 0; tick < 3; ++tick)
    {
        update_monster(idle);
        timers.push_back(unit(idle)->attack_timer);
    }
    EXPECT_EQ(timers, (std::vector<int32_t>{0, -1, -1}));

    struct row
    {
        int32_t version;
        uint32_t location;
        bool keeps_target;
    };
    for (const row r : {row{1690, 0, true}, row{1691, 0, false}, row{1691, _monster_has_valid_target_location_flag, true}})
    {
        current_gameplay_version = r.version;
        set_monster_action(idle, _monster_action_blocking, 100); // no planning
        unit(idle)->target_monster_index = NONE;
        unit(idle)->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag | r.location;
        update_monster(idle);
        EXPECT_FALSE(unit(idle)->flags & _monster_has_valid_target_index_flag) << r.version;
        EXPECT_EQ((unit(idle)->flags & _monster_has_valid_target_flag) != 0, r.keeps_target) << r.version;
        unit(idle)->flags &= ~(uint32_t)_monster_has_valid_target_location_flag;
    }
}

TEST_F(monster_update_test, a_confused_idle_unit_wanders_with_three_draws_until_its_confusion_ends)
{
    start_world();
    const int32_t dazed = make_unit(0, {8000, 8000});
    const int32_t enemy = make_unit(1, {9000, 8000});
    aim(dazed, enemy);
    set_monster_action(dazed, _monster_action_idle, 0);
    aim(dazed, enemy);
    unit(dazed)->extra_flags |= _monster_is_confused_extra_flag | _monster_does_not_autotarget_extra_flag;
    unit(dazed)->confusion_timer = 3;
    reset_random_draw_counts();
    update_monster(dazed);
    // Whether to strike, the direction, the waypoint order's final yaw (no melee attack to strike with),
    // then the idle action's one draw for the cycle its one-frame sequence completed.
    EXPECT_EQ(get_vesk_random_draw_count(), 4u);
    EXPECT_EQ(unit(dazed)->target_monster_index, NONE);
    ASSERT_EQ(unit(dazed)->waypoint_count, 1);
    const world_point2d start = {8000, 8000};
    const world_distance reach = distance2d(&start, &unit(dazed)->waypoints[0]);
    EXPECT_GE(reach, 510);
    EXPECT_LE(reach, 512);
    EXPECT_EQ(unit(dazed)->confusion_timer, 2);

    update_monster(dazed); // plans the walk: no longer idle, no wander
    update_monster(dazed); // the timer runs out
    EXPECT_FALSE(unit(dazed)->extra_flags & (_monster_is_confused_extra_flag | _monster_does_not_autotarget_extra_flag));
}

// ---- the loop ---------------------------------------------------------------------------------

TEST_F(monster_update_test, entrance_groups_wait_for_the_end_of_the_pregame)
{
    start_world();
    static const sound_procedures sound_table = {.play_projectile_sound = record_sound};
    register_sound_procedures(&sound_table);
    projectile_group_definition group;
    default_projectile_group_definition(&group);
    group.sound_index = 7;
    const int16_t group_type = (int16_t)new_definition(get_projectile_group_definition_group(),
                                                       FOUR_CHARACTER_CODE('g', 'r', '0', '0'), &group);
    ASSERT_NE(group_type, NONE);
    definition()->entrance_projectile_group_type = group_type;
    const int32_t newcomer = make_unit(0, {5000, 5000});
    unit(newcomer)->extra_flags |= _monster_should_spawn_entrance_proj_group_extra_flag;

    game_->time_state = _game_time_pregame;
    update_monsters();
    EXPECT_TRUE(heard.empty());
    EXPECT_TRUE(unit(newcomer)->extra_flags & _monster_should_spawn_entrance_proj_group_extra_flag);
    // Never in the old update.
    game_->time_state = _game_time_no_countdown;
    update_monsters_13();
    EXPECT_TRUE(heard.empty());

    update_monsters();
    EXPECT_EQ(heard, std::vector<int16_t>{7});
    EXPECT_FALSE(unit(newcomer)->extra_flags & _monster_should_spawn_entrance_proj_group_extra_flag);
    update_monsters();
    EXPECT_EQ(heard.size(), 1u);
}

void spawn_during_the_loop(int32_t monster_index)
{
    // Once: the spawner then blocks as usual.
    monster_action_fns[_monster_action_blocking] = monster_blocking;
    running_test->spawn({8000, 8000});
}

TEST_F(monster_update_test, a_unit_made_during_the_loop_is_updated_in_the_same_tick)
{
    start_world();
    const int32_t spawner = make_unit(0, {5000, 5000});
    set_monster_action(spawner, _monster_action_blocking, 100);
    // A unit without an action procedure (action 0) is passed over.
    const int32_t inert = make_unit(0, {6000, 5000});
    unit(inert)->action = _monster_action_none;
    const monster_action_procedure saved = monster_action_fns[_monster_action_blocking];
    monster_action_fns[_monster_action_blocking] = spawn_during_the_loop;
    update_monsters();
    monster_action_fns[_monster_action_blocking] = saved;
    ASSERT_EQ(get_monster_array()->count, 3);
    EXPECT_EQ(unit(2)->attack_timer, -1); // made with 0, counted once
    EXPECT_EQ(unit(inert)->attack_timer, 0); // action 0 counts nothing and runs nothing

    // A unit whose object is gone is logged and skipped.
    delete_object(unit(inert)->object_index);
    {
        expected_assertions expect(1, "SLOT_IS_USED");
        update_monsters();
    }
    unit(inert)->object_index = NONE;
}

// ---- a battle --------------------------------------------------------------------------------

bool battle_shape_information(int16_t, int16_t, shape_sequence_information *information)
{
    information->frames_per_view = 4;
    information->number_of_views = 1;
    information->ticks_per_frame = 1;
    information->key_frame = 2;
    return true;
}

class monster_battle_test : public monster_update_test
{
protected:
    int16_t add_arrow(void)
    {
        object_definition o;
        memset(&o, 0, sizeof(o));
        for (auto &modifier : o.effect_modifiers) modifier = 256;
        o.gravity = 2;
        o.maximum_vitality = 1000;
        o.scale_lower_bound = 256;
        const int16_t object_type =
            (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('o', 'b', '0', '0'), &o);
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = object_type;
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 200;
        d.inertia_lower_bound = 256;
        // Kinetic damage around where it lands that kills a unit of 256 in
        // one or two hits.
        d.damage.type = _damage_kinetic;
        d.damage.damage_lower_bound = 160;
        d.damage.damage_delta = 128;
        d.damage.radius_lower_bound = 512;
        return (int16_t)new_definition(get_projectile_definition_group(), FOUR_CHARACTER_CODE('p', 'r', '0', '0'), &d);
    }

    // The invariants of every tick; the first broken one is reported.
    void check_invariants(int32_t seed, int32_t tick)
    {
        const int32_t far_edge_x = mesh_width * WORLD_ONE - 993, far_edge_y = mesh_height * WORLD_ONE - 993;
        for (int32_t index = 0; index < get_monster_array()->count; ++index)
        {
            const monster_data *m = get_monster_data(index);
            if (!m) continue;
            SCOPED_TRACE(testing::Message() << "seed " << seed << " tick " << tick << " unit " << index);
            const object_data *o = get_object(m->object_index);
            ASSERT_NE(o, nullptr);
            ASSERT_EQ(o->owner, _object_is_monster);
            ASSERT_EQ(o->owner_index, index);
            if (m->path_index != NONE)
            {
                const postprocessed_path_data *path = get_path_data(m->path_index);
                ASSERT_NE(path, nullptr);
                ASSERT_EQ(path->monster_index, index);
            }
            ASSERT_TRUE(m->target_monster_index == NONE || get_monster_data(m->target_monster_index));
            ASSERT_GE(m->held_object_count, 0);
            ASSERT_LE(m->held_object_count, MAXIMUM_HELD_OBJECTS_PER_MONSTER);
            ASSERT_GE(o->location.position.x, 992);
            ASSERT_GE(o->location.position.y, 992);
            ASSERT_LE(o->location.position.x, far_edge_x);
            ASSERT_LE(o->location.position.y, far_edge_y);
        }
    }
};

TEST_F(monster_battle_test, a_hundred_seeds_of_a_small_battle_with_deaths_keep_every_invariant)
{
    start_world(32, 32);
    static const collection_procedures shapes = {.shape_sequence_information = battle_shape_information};
    register_collection_procedures(&shapes);
    // Hits reach the units' reactions, and deaths tell the owners' died procedure.
    register_monster_owner_hooks();
    monster_definition *d = definition();
    d->flags |= _monster_translates_continuously_flag;
    d->monster_class = _monster_class_missile;
    d->base_movement_speed = 24;
    d->turning_speed = 2048;
    d->activation_distance = 8000;
    d->critical_distance = 1500;
    d->warning_distance = 1500;
    d->visibility_type = 3;
    monster_attack_definition &a = d->attacks[0];
    a.flags = _monster_attack_is_primary_flag;
    a.projectile_type = add_arrow();
    a.maximum_range = 6000;
    a.initial_velocity_lower_bound = 150;
    a.repetitions = 1;
    a.recovery_time = 20;
    for (auto &sequence : a.sequences) sequence = {0, NONE};
    a.sequences[0] = {_sequence_normal_flag, 140};
    d->number_of_attacks = 1;

    int32_t deaths = 0;
    for (int32_t seed = 1; seed <= 100 && !HasFatalFailure(); ++seed)
    {
        SCOPED_TRACE(seed);
        set_random_seed((uint32_t)seed);
        game_->game_time = 0;
        std::vector<int32_t> units;
        for (int32_t i = 0; i < 16; ++i)
        {
            const int16_t side = (int16_t)(i & 1);
            const int32_t jitter = (int32_t)(vesk_random() % 2048);
            const world_point2d where = {side ? 8500 + jitter : 4000 + jitter, 2500 + i * 700 + jitter / 4};
            units.push_back(make_unit(side, where, side ? 32768 : 0));
            // A body that arrows can strike.
            body(units.back())->vitality = body(units.back())->maximum_vitality = 256;
            body(units.back())->radius = 64;
            body(units.back())->height1 = 256;
        }
        // Some are ordered across the field, the rest find their targets by scanning.
        for (int32_t i = 0; i < 16; i += 3)
        {
            const world_point2d across = {(i & 1) ? 3000 : 13000, 8000};
            set_monster_waypoints(units[(size_t)i], 1, &across, false, 0);
            unit(units[(size_t)i])->flags |= _monster_responding_to_command_flag;
        }
        std::vector<int16_t> identifiers;
        for (int32_t index : units) identifiers.push_back(unit(index)->identifier);
        auto living = [&](size_t i) {
            const monster_data *m = get_monster_data(units[i]);
            return m && m->identifier == identifiers[i];
        };
        const world_point2d walker_start = at(units[0]);
        int32_t most_in_flight = 0;
        for (int32_t tick = 0; tick < 90 && !HasFatalFailure(); ++tick)
        {
            update_projectiles();
            update_monsters();
            ++game_->game_time;
            check_invariants(seed, tick);
            if (get_projectile_count() > most_in_flight) most_in_flight = get_projectile_count();
        }
        // A battle took place: shots fired, orders walked, and units that
        // are left took targets.
        int32_t with_targets = 0, alive = 0;
        for (size_t i = 0; i < units.size(); ++i)
        {
            if (!living(i))
            {
                ++deaths;
                continue;
            }
            ++alive;
            if (get_monster_data(units[i])->target_monster_index != NONE) ++with_targets;
        }
        EXPECT_TRUE(alive == 0 || with_targets > 0);
        EXPECT_GT(most_in_flight, 0);
        if (living(0))
        {
            const world_point2d walker_end = at(units[0]);
            EXPECT_GT(distance2d(&walker_start, &walker_end), 500);
        }
        for (size_t i = 0; i < units.size(); ++i)
            if (living(i)) delete_monster(units[i], false);
    }
    // Shots hit home: units died, and the invariants held over their deaths.
    EXPECT_GT(deaths, 100);
}

} // namespace

} // namespace monster_update_test_file
