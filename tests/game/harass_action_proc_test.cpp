// The harass procedure 'girl': the record and its set-up draws, the approach
// boundary against an enemy group's reach, the side of the group, the choice
// of objects in both modes, the timid danger bands (reach 0 included),
// casualties, and an illegal state.

#include "script_unit_world.h"

#include "support/expected_assertions.h"

#include <functional>
#include <set>

#include "attack_ai.h"
#include "map_actions/harass_action_proc.h"
#include "monster_commands.h"
#include "spatial_groups.h"

namespace harass_action_proc_test_file {

namespace {

constexpr int16_t harasser_id = 10, second_id = 11, enemy_id = 50;

class harass_test : public script_unit_world
{
protected:
    int16_t enemy_type = NONE, enemy_unit_type = NONE;
    int16_t throwable = NONE; // volume 1, the harassers' desired volume
    uint32_t empty_attack_hash = 0;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(script_unit_world::SetUp());
        ASSERT_TRUE(initialize_spatial_groups());
        initialize_spatial_groups_for_new_map();
        ASSERT_TRUE(initialize_attack_ai());
        initialize_attack_ai_for_new_map();
        definition()->desired_projectile_volume = _volume_small;
        definition()->monster_class = _monster_class_melee;
        enemy_type = add_monster_type(&enemy_unit_type);
        throwable = add_projectile(_volume_small);
        projectile(throwable)->projectile_class = _projectile_class_nonlethal_object;
    }
    void TearDown() override
    {
        dispose_attack_ai_from_old_map();
        dispose_spatial_groups_from_old_map();
        script_unit_world::TearDown();
    }

    // A unit of `player` with no order.
    int32_t place(int16_t player, world_point2d at, int16_t identifier, int16_t type = NONE, int16_t unit = NONE)
    {
        const int32_t index = make_unit(player, {at.x, at.y, 0}, type, unit);
        monster(index)->identifier = identifier;
        monster(index)->internal_command_identifier = NONE;
        return index;
    }
    // Every unit and object goes, for the next round of a table.
    void stop_units(void)
    {
        for (int32_t i = 0; i < get_monster_array()->count; i++)
            if (get_monster_data(i)) delete_datum(get_monster_array(), i);
        for (int32_t i = 0; i < get_object_count(); i++)
            if (get_object(i)) delete_object(i);
    }
    int32_t place_enemy(world_point2d at) { return place(1, at, enemy_id, enemy_type, enemy_unit_type); }

    // Imports one 'girl' (identifier 1) over `subjects`, built further by `build`.
    void import(std::vector<int16_t> subjects, const std::function<void(test_action &)> &build = nullptr)
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action girl{1, four("girl")};
        girl.units(four("subj"), subjects);
        if (build) build(girl);
        ASSERT_TRUE(import_test_actions({girl}));
    }
    // Rebuilds the groups; `shape` may change the enemy's group (team 1)
    // before the procedure runs.
    uint32_t run(const std::function<void(spatial_group *)> &shape = nullptr)
    {
        build_spatial_groups();
        reset_attack_ai();
        empty_attack_hash = 0;
        hash_attack_ai(&empty_attack_hash);
        for (spatial_group *group = first_spatial_group(); group; group = group->next_group)
            if (group->team_index == 1 && shape) shape(group);
        return harass_action_proc(0);
    }
    harass_globals record(void)
    {
        harass_globals globals;
        memset(&globals, 0, sizeof(globals));
        EXPECT_TRUE(get_map_action_structure(0, four("#glo"), sizeof(globals), &globals));
        return globals;
    }
    int16_t state_of(int32_t unit_number) { return record().units[unit_number].state; }
    // Whether the attack AI holds an order: its hash differs from an empty buffer's.
    bool attack_ordered(void)
    {
        uint32_t with = 0;
        hash_attack_ai(&with);
        return with != empty_attack_hash;
    }
};

// An enemy group of one unit facing +x (its front), radius R and range G.
std::function<void(spatial_group *)> shaped(int16_t radius, int16_t range, angle facing = 0)
{
    return [=](spatial_group *group) {
        group->radius = radius;
        group->range = range;
        group->facing = facing;
    };
}

TEST_F(harass_test, set_up_reads_defaults_spreads_delays_and_marks_who_can_carry)
{
    place(0, {1000, 1000}, harasser_id);
    place(0, {1200, 1000}, second_id);
    import({harasser_id, second_id, 99});
    const uint32_t before = get_vesk_random_draw_count();
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(get_vesk_random_draw_count(), before); // 'dela' absent: no draw
    harass_globals globals = record();
    EXPECT_EQ(globals.unit_count, 2); // 99 names no unit
    EXPECT_EQ(globals.visibility_radius, DEFAULT_VISIBILITY_RADIUS);
    EXPECT_EQ(globals.suicide_fraction, 0x40);
    EXPECT_EQ(globals.retreat_fraction, 0x100);
    EXPECT_EQ(globals.delay_before_reevaluating, 1);
    EXPECT_EQ(globals.team_index, 0);
    EXPECT_TRUE(globals.flags & harass_globals_flags::_globals_initialized_flag);
    EXPECT_FALSE(globals.flags & harass_globals_flags::_globals_has_waypoint_flag);
    for (int32_t i = 0; i < 2; i++) EXPECT_EQ(globals.units[i].delay, 0);

    // 'dela' 90 over many units: one draw each, spread over 0..89.
    std::vector<int16_t> ids;
    for (int16_t i = 0; i < 40; i++)
    {
        place(0, {(int16_t)(300 + 150 * (i % 8)), (int16_t)(300 + 150 * (i / 8))}, (int16_t)(100 + i));
        ids.push_back((int16_t)(100 + i));
    }
    import(ids, [](test_action &a) { a.ints(four("dela"), {90}); });
    const uint32_t mark = get_vesk_random_draw_count();
    run();
    EXPECT_EQ(get_vesk_random_draw_count() - mark, 40u);
    globals = record();
    std::set<int16_t> delays;
    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        EXPECT_GE(globals.units[i].delay, 0);
        EXPECT_LT(globals.units[i].delay, 90);
        delays.insert(globals.units[i].delay);
    }
    EXPECT_GT(delays.size(), 10u);

    // A type that wants no projectile cannot carry; sought starts at 0.
    definition()->desired_projectile_volume = NONE;
    import({harasser_id});
    run();
    EXPECT_EQ(record().units[0].flags, _harass_unit_cant_carry_item_flag);
    EXPECT_EQ(record().units[0].sought_object_index, 0);
}

TEST_F(harass_test, reach_boundary_in_front_circles_at_1023_and_attacks_at_1024)
{
    for (int32_t gap : {1023, 1024})
    {
        SCOPED_TRACE(gap);
        stop_units();
        const int32_t unit = place(0, {(int16_t)(3000 + 1000 + gap), 4000}, harasser_id);
        place_enemy({3000, 4000});
        import({harasser_id});
        run(shaped(0, 1000));
        EXPECT_EQ(state_of(0), _harass_state_circling_around_enemy);
        if (gap == 1023)
        {
            // A movement order, given at once, and no attack.
            EXPECT_EQ(monster(unit)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
            EXPECT_FALSE(attack_ordered());
        }
        else
        {
            EXPECT_EQ(monster(unit)->internal_command_identifier, NONE);
            EXPECT_TRUE(attack_ordered());
        }
    }
}

TEST_F(harass_test, behind_the_group_a_unit_retreats_from_melee_and_attacks_missile_units)
{
    for (int16_t enemy_class : {(int16_t)_monster_class_melee, (int16_t)_monster_class_missile})
    {
        SCOPED_TRACE(enemy_class);
        stop_units();
        get_monster_definition(enemy_type)->monster_class = enemy_class;
        place(0, {2500, 4000}, harasser_id); // x below the centre: behind a group facing +x
        place_enemy({3000, 4000});
        import({harasser_id});
        run(shaped(0, 200));
        EXPECT_EQ(state_of(0), enemy_class == _monster_class_missile ? _harass_state_attacking_enemy
                                                                      : _harass_state_retreating_from_enemy);
    }
    // No enemy in sight: a retreating unit goes idle.
    stop_units();
    place(0, {2500, 4000}, harasser_id);
    import({harasser_id}, [](test_action &a) { a.ints(four("radi"), {100}, _parameter_world_distance); });
    run();
    EXPECT_EQ(state_of(0), _harass_state_idle);
}

TEST_F(harass_test, two_harassers_never_seek_one_object_and_explosives_come_first)
{
    const int16_t lethal = add_projectile(_volume_small);
    projectile(lethal)->projectile_class = _projectile_class_lethal_object;
    const int16_t explosive = add_projectile(_volume_small);
    projectile(explosive)->projectile_class = _projectile_class_explosive_object;
    const int16_t large = add_projectile(_volume_large);
    projectile(large)->projectile_class = _projectile_class_explosive_object;

    const int32_t a = place(0, {2000, 2000}, harasser_id);
    const int32_t b = place(0, {2100, 2000}, second_id);
    make_dormant(large, {2050, 2000, 0}); // the wrong volume
    const int32_t plain = make_dormant(throwable, {2060, 2000, 0});
    const int32_t near_lethal = make_dormant(lethal, {2300, 2000, 0});
    const int32_t far_explosive = make_dormant(explosive, {3500, 2000, 0});
    import({harasser_id, second_id});
    run();
    harass_globals globals = record();
    EXPECT_EQ(globals.units[0].state, _harass_state_picking_up_item_to_throw);
    EXPECT_EQ(globals.units[1].state, _harass_state_picking_up_item_to_throw);
    EXPECT_EQ(globals.units[0].sought_object_index, far_explosive);
    EXPECT_EQ(globals.units[1].sought_object_index, near_lethal); // never the same one
    EXPECT_EQ(monster(a)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    EXPECT_EQ(monster(b)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);

    // Asked again, a unit gets what no unit of the group seeks: its own
    // choice counts too; then nothing is left.
    EXPECT_EQ(find_nearby_object(&globals, 0), plain);
    globals.units[2] = globals.units[1];
    globals.units[2].sought_object_index = (int16_t)plain;
    globals.unit_count = 3;
    EXPECT_EQ(find_nearby_object(&globals, 0), NONE);
    EXPECT_EQ(find_nearby_object(&globals, 7), NONE); // no such unit
}

TEST_F(harass_test, timid_units_may_seek_one_object_and_wait_by_their_speed)
{
    place(0, {2000, 2000}, harasser_id);
    place(0, {2000, 2100}, second_id);
    const int32_t object = make_dormant(throwable, {2000, 3000, 0});
    for (int32_t version : {1510, 1511})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        definition()->base_movement_speed = 10;
        for (int32_t i = 0; i < get_monster_array()->count; i++)
            if (monster_data *m = get_monster_data(i)) m->base_movement_speed = 20;
        import({harasser_id, second_id}, [](test_action &a) { a.flag(four("timd")); });
        run(); // no enemy, no waypoint, free to carry: look for an item
        EXPECT_EQ(state_of(0), _harass_state_looking_for_item);
        run(); // delay 0 fell below 0: look
        harass_globals globals = record();
        for (int32_t i = 0; i < 2; i++)
        {
            EXPECT_EQ(globals.units[i].state, _harass_state_picking_up_item_to_throw);
            // 2 + distance / (speed x 32): the definition's speed before 1511.
            const int32_t distance = i == 0 ? 1000 : 900;
            EXPECT_EQ(globals.units[i].delay, 2 + distance / ((version < 1511 ? 10 : 20) * 32));
        }
        (void)object;
    }
}

TEST_F(harass_test, timid_danger_bands_and_a_reach_of_zero)
{
    struct row
    {
        const char *name;
        int32_t distance; // from the enemy centre, in front of it
        int16_t reach; // the enemy's range, radius 0
        bool carries;
        int16_t state_after;
        bool ordered_at_once; // a movement or stand-ground order
        bool attacked;
    };
    const std::vector<row> rows = {
        {"suicidal: danger below 0.25", 200, 1000, false, _harass_state_attacking_enemy, false, true},
        {"retreat: below 1.0, state kept", 900, 1000, false, _harass_state_idle, true, false},
        {"between 1.0 and 2.0, free: look", 1500, 1000, false, _harass_state_looking_for_item, false, false},
        {"between 1.0 and 2.0, carrying: stand", 1500, 1000, true, _harass_state_idle, true, false},
        {"far: move in", 2500, 1000, false, _harass_state_moving_in, false, true},
        {"reach 0: the far band", 2500, 0, false, _harass_state_moving_in, false, true},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        stop_units();
        const int32_t unit = place(0, {(int16_t)(3000 + r.distance), 4000}, harasser_id);
        place_enemy({3000, 4000});
        if (r.carries) monster(unit)->carrying_object_index = (int16_t)make_dormant(throwable, {100, 100, 0});
        import({harasser_id}, [](test_action &a) { a.flag(four("timd")); });
        EXPECT_EQ(run(shaped(0, r.reach)), 0u);
        EXPECT_EQ(state_of(0), r.state_after);
        EXPECT_EQ(monster(unit)->internal_command_identifier,
                  r.ordered_at_once ? (int16_t)INTERNAL_COMMAND_IDENTIFIER_NO_ACTION : (int16_t)NONE);
        EXPECT_EQ(attack_ordered(), r.attacked);
    }
}

TEST_F(harass_test, casualties_leave_once_fire_casu_and_the_last_one_deactivates)
{
    const int32_t first = place(0, {1000, 1000}, harasser_id);
    const int32_t second = place(0, {1500, 1000}, second_id);
    dispose_map_actions_from_old_map();
    initialize_map_actions_for_new_map();
    test_action girl{1, four("girl")};
    girl.units(four("subj"), {harasser_id, second_id}).ids(four("casu"), {2});
    test_action mourner{2, four("mung")};
    ASSERT_TRUE(import_test_actions({girl, mourner}));
    get_map_action(1)->flags &= ~(uint32_t)_map_action_is_active_flag;
    run();
    EXPECT_FALSE(get_map_action(1)->flags & _map_action_is_active_flag);

    monster(first)->identifier = 77; // its slot now holds another unit
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(record().unit_count, 1);
    EXPECT_EQ(record().units[0].monster_index, second);
    EXPECT_TRUE(get_map_action(1)->flags & _map_action_is_active_flag);
    get_map_action(1)->flags &= ~(uint32_t)_map_action_is_active_flag;
    run();
    EXPECT_FALSE(get_map_action(1)->flags & _map_action_is_active_flag); // once only

    monster(second)->identifier = 78;
    EXPECT_EQ(run(), (uint32_t)_map_action_proc_deactivate_flag);
    EXPECT_EQ(record().unit_count, 0);
}

TEST_F(harass_test, without_enemies_units_head_back_to_the_waypoint_beyond_its_radius)
{
    const int32_t unit = place(0, {1000, 1000}, harasser_id);
    import({harasser_id}, [](test_action &a) { points(a, "wayp", {{5000, 1000}}); });
    run();
    EXPECT_EQ(state_of(0), _harass_state_returning_to_waypoint);
    EXPECT_EQ(monster(unit)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    get_object(monster(unit)->object_index)->location.position.x = 5000 - 2559;
    run();
    EXPECT_EQ(state_of(0), _harass_state_idle);

    // Back with an object: idle within the wander radius, else sent back.
    harass_globals globals = record();
    globals.units[0].state = _harass_state_picking_up_item_to_throw;
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("#glo"), _parameter_character, sizeof(globals), &globals));
    monster(unit)->carrying_object_index = (int16_t)make_dormant(throwable, {100, 100, 0});
    get_object(monster(unit)->object_index)->location.position.x = 5000 - 2561;
    run();
    EXPECT_EQ(state_of(0), _harass_state_returning_to_waypoint);
}

TEST_F(harass_test, a_retreating_unit_close_and_below_half_turns_suicidal_when_its_stored_vitality_is_lower)
{
    for (bool stored_below_current : {true, false})
    {
        SCOPED_TRACE(stored_below_current);
        stop_units();
        const int32_t unit = place(0, {3500, 4000}, harasser_id);
        place_enemy({3000, 4000});
        import({harasser_id});
        run(shaped(0, 200)); // in front within reach: circling
        harass_globals globals = record();
        globals.units[0].state = _harass_state_retreating_from_enemy;
        object_data *body = get_object(monster(unit)->object_index);
        body->vitality = (short_fixed)(body->maximum_vitality / 2 - 1);
        // As the procedure reads it: the stored vitality below the current one.
        globals.units[0].last_vitality = (short_fixed)(stored_below_current ? body->vitality - 1 : body->vitality);
        ASSERT_TRUE(set_unique_map_action_parameter(0, four("#glo"), _parameter_character, sizeof(globals), &globals));
        run(shaped(0, 200));
        EXPECT_EQ(state_of(0), stored_below_current ? _harass_state_suiciding_enemy : _harass_state_retreating_from_enemy);
        EXPECT_EQ(attack_ordered(), stored_below_current);
        EXPECT_EQ(record().units[0].last_vitality, body->vitality);
    }
}

TEST_F(harass_test, an_illegal_state_is_logged_and_kept)
{
    place(0, {1000, 1000}, harasser_id);
    import({harasser_id});
    run();
    harass_globals globals = record();
    globals.units[0].state = 42;
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("#glo"), _parameter_character, sizeof(globals), &globals));
    {
        expected_assertions expect(1, "illegal state");
        EXPECT_EQ(run(), 0u);
    }
    EXPECT_EQ(state_of(0), 42);
}

} // namespace

} // namespace harass_action_proc_test_file
