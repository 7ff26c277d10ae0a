// Damage reactions: a hold's length, blocking, the throw's speed, timer,
// speed and odd destination, a hit while flying, a throw into the mesh edge,
// units without vitality, and the charm, confusion and berserk rules across
// their version gates.

#include "monster_inventory_world.h"

#include "support/expected_assertions.h"

#include <utility>

#include "damage.h"
#include "mesh.h"
#include "monster_owners.h"
#include "players.h"
#include "statistics.h"

namespace monster_reactions_test_file {

using namespace inventory_world;

namespace {

class monster_reactions_test : public world
{
protected:
    void SetUp() override
    {
        world::SetUp();
    }

    damage_definition damage_of(int16_t type, uint16_t flags = 0)
    {
        damage_definition d;
        memset(&d, 0, sizeof(d));
        d.type = type;
        d.flags = flags;
        return d;
    }
    damage_data hit(int32_t damage, int32_t attacker = NONE, world_point3d epicenter = {0, 0, 0}, int16_t velocity = 0)
    {
        damage_data data;
        initialize_damage_data(&data);
        data.damage = damage;
        data.epicenter = epicenter;
        data.velocity = velocity;
        if (attacker != NONE)
        {
            data.owner_monster_index = (int16_t)attacker;
            data.owner_monster_identifier = monster(attacker)->identifier;
            data.owner_unit_index = monster(attacker)->unit_type;
        }
        return data;
    }
};

TEST_F(monster_reactions_test, a_hold_of_two_lasts_sixty_ticks)
{
    const int32_t u = make_unit(1, {4000, 4000, 0});
    const damage_definition hold = damage_of(_damage_hold);
    damage_data data = hit(512);
    accelerate_monster(&hold, &data, u);
    EXPECT_EQ(monster(u)->action, _monster_action_being_held);
    EXPECT_EQ(monster(u)->attack_timer, 60);
    EXPECT_TRUE(data.flags & _detonation_projectile_group_handled_by_obstacle_flag);
    EXPECT_EQ(data.detonation_projectile_group_type, NONE);

    // A second hold on a held unit is ignored and leaves its record alone.
    damage_data again = hit(2560);
    accelerate_monster(&hold, &again, u);
    EXPECT_EQ(monster(u)->attack_timer, 60);
    EXPECT_FALSE(again.flags & _detonation_projectile_group_handled_by_obstacle_flag);

    // The tick counts the timer down (resting at -1) before the action.
    int32_t held_ticks = 0;
    for (int32_t tick = 0; tick < 200 && monster(u)->action == _monster_action_being_held; ++tick)
    {
        if (monster(u)->attack_timer >= 0) --monster(u)->attack_timer;
        monster_being_held(u);
        if (monster(u)->action == _monster_action_being_held) ++held_ticks;
    }
    EXPECT_EQ(held_ticks, 60);
    EXPECT_NE(monster(u)->action, _monster_action_being_held);
}

TEST_F(monster_reactions_test, a_blocking_unit_stops_a_blow_and_halves_an_unblockable_one)
{
    definition()->blocked_impact_projectile_group_type = 7;
    const int32_t attacker = make_unit(0, {3800, 4000, 0});
    const int32_t u = make_unit(1, {4000, 4000, 0});
    const int32_t full = body(u)->vitality;
    struct row
    {
        uint16_t flags;
        int32_t loss;
    };
    for (const row r : {row{0, 0}, row{_damage_cannot_be_blocked_flag, 500}})
    {
        SCOPED_TRACE(r.flags);
        body(u)->vitality = (short_fixed)full;
        monster(u)->action = _monster_action_blocking;
        monster(u)->target_monster_index = (int16_t)attacker;
        const damage_definition blow = damage_of(_damage_kinetic, r.flags);
        damage_data data = hit(1000, attacker);
        accelerate_monster(&blow, &data, u);
        EXPECT_EQ(body(u)->vitality, full - r.loss);
        EXPECT_TRUE(data.flags & _detonation_projectile_group_handled_by_obstacle_flag);
        EXPECT_EQ(data.detonation_projectile_group_type, 7);
    }
    // Not facing that attacker: the blow lands whole, and a slashing one
    // leaves the melee impact group.
    definition()->melee_impact_projectile_group_type = 9;
    body(u)->vitality = (short_fixed)full;
    monster(u)->action = _monster_action_blocking;
    monster(u)->target_monster_index = NONE;
    const damage_definition slash = damage_of(_damage_steel_slashing);
    damage_data data = hit(1000, attacker);
    accelerate_monster(&slash, &data, u);
    EXPECT_EQ(body(u)->vitality, full - 1000);
    EXPECT_EQ(data.detonation_projectile_group_type, 9);
}

TEST_F(monster_reactions_test, the_throw_speed_is_the_stated_double_step)
{
    EXPECT_EQ(monster_throw_speed(2560, 10, _damage_kinetic, 65535), 45 << 16);
    EXPECT_EQ(monster_throw_speed(2560, 6, _damage_kinetic, 65535), 45 << 16);
    EXPECT_EQ(monster_throw_speed(2560, 3, _damage_steel_slashing, 65535), 1474560); // 22.5
    EXPECT_EQ(monster_throw_speed(2560, 32, _damage_explosion, 65535), 245760); // f = 0.5: 3.75
    EXPECT_EQ(monster_throw_speed(2560, 200, _damage_explosion, 65535), 491520); // f capped at 1
    EXPECT_EQ(monster_throw_speed(2560, 6, _damage_kinetic, 32768), 1474582); // 0.75 x 32768 / 65535, truncated
    EXPECT_EQ(monster_throw_speed(0, 6, _damage_kinetic, 65535), 0);
}

TEST_F(monster_reactions_test, a_throw_sets_timer_speed_and_its_odd_destination_and_a_rehit_only_turns_it)
{
    definition()->flags |= _monster_can_be_propelled_flag;
    definition()->damage_to_propulsion = (int16_t)-1; // 65535 as stored
    const int32_t u = make_unit(1, {4000, 4000, 0});
    const damage_definition blow = damage_of(_damage_kinetic);
    damage_data data = hit(2560, NONE, {3900, 4000, 0}, 10);
    accelerate_monster(&blow, &data, u);
    ASSERT_EQ(monster(u)->action, _monster_action_being_propelled);
    EXPECT_EQ(monster(u)->propelled_timer, 450);
    EXPECT_EQ(monster(u)->propulsion_speed, 4950);
    EXPECT_EQ(monster(u)->propelled_yaw, 0);
    // Thrown east from a source to the west: 2 x 4000 - 3900, but not above
    // the mesh width in cells (16), compared as if it were a coordinate.
    EXPECT_EQ(monster(u)->path_destination.x, 16);
    EXPECT_EQ(monster(u)->path_destination.y, 4000);

    // Hit again from the east while flying fast: only the direction changes.
    monster(u)->propelled_timer = 300;
    damage_data again = hit(2560, NONE, {4100, 4000, 0}, 10);
    accelerate_monster(&blow, &again, u);
    EXPECT_EQ(monster(u)->propelled_yaw, 32768);
    EXPECT_EQ(monster(u)->propelled_timer, 300);
    EXPECT_EQ(monster(u)->propulsion_speed, 4950);
    EXPECT_EQ(monster(u)->path_destination.x, 16);
    // Nearly spent: a new throw.
    monster(u)->propulsion_speed = 1;
    damage_data third = hit(2560, NONE, {4100, 4000, 0}, 10);
    accelerate_monster(&blow, &third, u);
    EXPECT_EQ(monster(u)->propelled_timer, 450);
    EXPECT_EQ(monster(u)->propulsion_speed, 4950);
    EXPECT_EQ(monster(u)->path_destination.x, 100) << "the source's offset, taken as a position";
}

TEST_F(monster_reactions_test, a_thrown_unit_that_hits_the_edge_stops_and_shows_its_damage)
{
    definition()->flags |= _monster_can_be_propelled_flag;
    definition()->damage_to_propulsion = (int16_t)-1;
    const int32_t u = make_unit(1, {300, 4000, 0});
    const damage_definition blow = damage_of(_damage_kinetic);
    damage_data data = hit(2560, NONE, {400, 4000, 0}, 10);
    accelerate_monster(&blow, &data, u);
    ASSERT_EQ(monster(u)->action, _monster_action_being_propelled);
    monster_being_propelled(u);
    EXPECT_EQ(monster(u)->propulsion_speed, 0);
    EXPECT_EQ(monster(u)->action, _monster_action_taking_damage);
    EXPECT_EQ(monster(u)->propelled_timer, 449);
}

TEST_F(monster_reactions_test, a_unit_without_maximum_vitality_is_all_or_nothing)
{
    definition()->berserk_vitality = 128;
    definition()->berserk_system_shock = 100;
    const int32_t u = make_unit(1, {4000, 4000, 0});
    body(u)->maximum_vitality = body(u)->vitality = 0;
    const damage_definition blow = damage_of(_damage_kinetic);
    for (const int32_t amount : {0, -256})
    {
        damage_data data = hit(amount);
        accelerate_monster(&blow, &data, u);
        EXPECT_FALSE(monster(u)->extra_flags & _monster_is_berserk_extra_flag) << amount;
    }
    damage_data data = hit(256);
    accelerate_monster(&blow, &data, u);
    EXPECT_TRUE(monster(u)->extra_flags & _monster_is_berserk_extra_flag) << "a shock of 65535";
}

TEST_F(monster_reactions_test, charm_changes_sides_by_the_rule_of_its_version)
{
    int16_t stranger_unit = NONE;
    const int16_t stranger_type = add_monster_type(&stranger_unit);
    get_unit_definition(stranger_unit)->monster_type = stranger_type;
    get_unit_definition(stranger_unit)->player_index = 1;
    uint8_t record[128];
    memset(record, 0, sizeof(record));
    unit_definition *copy = (unit_definition *)record;
    copy->player_index = 1;
    copy->parent_unit_tag = inventory_world::UNIT_TAG;
    copy->monster_type = monster_type;
    const int16_t copy_unit =
        (int16_t)new_definition(&unit_definitions, FOUR_CHARACTER_CODE('c', 'o', 'p', '1'), copy);
    definition()->absorbed_fraction = 1000;
    definition()->absorbed_impact_projectile_group_type = 7;

    struct row
    {
        int32_t version;
        int16_t owner_unit; // the damage's owner unit type
        bool copy_exists;
        bool changes, cancels;
    };
    const int16_t shared = unit_type;
    for (const row r : {row{1500, copy_unit, true, true, true}, row{1500, shared, true, false, false},
                        row{1501, copy_unit, true, true, true}, row{1501, stranger_unit, false, false, true},
                        row{1600, shared, true, false, false}, row{1601, shared, true, true, true},
                        row{1601, stranger_unit, false, false, false}})
    {
        SCOPED_TRACE(r.version * 10 + r.owner_unit);
        current_gameplay_version = r.version;
        get_unit_definition(copy_unit)->player_index = (int16_t)(r.copy_exists ? 1 : 2);
        const int32_t attacker = make_unit(1, {3000, 4000, 0});
        const int32_t u = make_unit(0, {4000, 4000, 0});
        const damage_definition charm = damage_of(_damage_charm);
        damage_data data = hit(2560, attacker);
        data.owner_unit_index = r.owner_unit;
        accelerate_monster(&charm, &data, u);
        // A unit that changed hands took a traded identifier and its new
        // owner's copy of the unit type.
        EXPECT_EQ((uint16_t)monster(u)->identifier >= FIRST_TRADED_MONSTER_IDENTIFIER, r.changes);
        EXPECT_EQ(monster(u)->owner_player_index, r.changes ? 1 : 0);
        EXPECT_EQ((data.flags & _detonation_projectile_group_handled_by_obstacle_flag) != 0, !r.cancels);
        delete_monster(u, false);
        delete_monster(attacker, false);
    }
}

TEST_F(monster_reactions_test, damage_goes_into_the_statistics_by_version_scoring_and_flags)
{
    const uint32_t ignores = _monster_ignores_user_commands_flag;
    const uint32_t hidden = _monster_has_no_visibility_extra_flag, target = _monster_is_netgame_target_extra_flag,
                   hunted = _monster_is_hunted_creature_extra_flag;
    enum
    {
        no_owner,
        plain_owner,
        hunted_owner
    };
    struct row
    {
        int32_t version;
        int16_t scoring;
        uint32_t flags, extra_flags;
        int32_t owner;
        int32_t route;
    };
    const row rows[] = {
        // Up to 1300 and 1690-1700 a unit that ignores its owner is left out unless it is a target;
        // 1300 itself records every other hit normally.
        {1300, 0, ignores, hidden, plain_owner, _damage_not_recorded},
        {1300, 0, ignores, hidden | target, plain_owner, _damage_recorded_normally},
        {1300, _game_scoring_hunting, 0, 0, no_owner, _damage_recorded_normally},
        {1695, 0, ignores, hidden, plain_owner, _damage_not_recorded},
        {1695, 0, ignores, hidden | target, plain_owner, _damage_recorded_as_ambient},
        // Elsewhere a hidden unit that ignores its owner counts as ambient, unless it is a
        // target of assassination or hunting.
        {1500, 0, ignores, hidden, plain_owner, _damage_recorded_as_ambient},
        {1500, 0, ignores, 0, plain_owner, _damage_recorded_normally},
        {1701, _game_scoring_assassination, ignores, hidden | target, plain_owner, _damage_recorded_normally},
        {1701, _game_scoring_cattle_drive, ignores, hidden | target, plain_owner, _damage_recorded_as_ambient},
        // Hunting: the hunted creatures' damage is nobody's; damage without an owner too up to 1720.
        {1800, _game_scoring_hunting, 0, 0, hunted_owner, _damage_recorded_as_ambient_without_target},
        {1720, _game_scoring_hunting, 0, 0, no_owner, _damage_recorded_as_ambient},
        {1721, _game_scoring_hunting, 0, 0, no_owner, _damage_recorded_normally},
        {1721, _game_scoring_hunting, ignores, hidden | hunted, plain_owner, _damage_recorded_normally},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << r.version << " scoring " << r.scoring << " flags " << r.flags << "/"
                                        << r.extra_flags << " owner " << r.owner);
        current_gameplay_version = r.version;
        game_->scoring = r.scoring;
        const int32_t attacker = make_unit(1, {3000, 4000, 0});
        const int32_t u = make_unit(0, {4000, 4000, 0});
        monster(u)->flags |= r.flags;
        monster(u)->extra_flags |= r.extra_flags;
        if (r.owner == hunted_owner) monster(attacker)->extra_flags |= hunted;
        EXPECT_EQ(route_damage_statistics(u, r.owner == no_owner ? NONE : attacker), r.route);
        delete_monster(u, false);
        delete_monster(attacker, false);
    }
}

// Game killed in a hunt counts for the hunter's team, but under the earlier
// rules; a hunted creature (the quarry) counts from 1830.
TEST_F(monster_reactions_test, game_killed_in_a_hunt_counts_for_the_hunters_team)
{
    const struct { int32_t version; bool quarry; int32_t kills; } cases[] = {
        {1820, false, 0}, {1825, false, 1}, {1830, false, 1}, {1825, true, 0}, {1830, true, 1}};
    for (const auto &c : cases)
    {
        const int32_t version = c.version;
        current_gameplay_version = version;
        game_->scoring = _game_scoring_hunting;
        initialize_statistics_for_new_map(0);
        const int32_t hunter = make_unit(1, {3800, 4000, 0}), game = make_unit(0, {4000, 4000, 0});
        set_unit_statistics_type(monster(hunter)->unit_type, 1, 0);
        monster(game)->flags |= _monster_ignores_user_commands_flag;
        monster(game)->extra_flags |= _monster_has_no_visibility_extra_flag;
        if (c.quarry) monster(game)->extra_flags |= _monster_is_hunted_creature_extra_flag;
        const damage_definition arrow = damage_of(_damage_kinetic);
        damage_data data = hit(body(game)->vitality + 1000, hunter);
        accelerate_monster(&arrow, &data, game);
        EXPECT_EQ(get_team_statistics(get_player_data(1)->team_index)->game_kills, c.kills)
            << version << (c.quarry ? " quarry" : " ambient game");
        game_->scoring = 0;
        delete_monster(hunter, false);
        if (get_monster_data(game)) delete_monster(game, false);
    }
}

TEST_F(monster_reactions_test, confusion_and_berserk_follow_their_gates)
{
    for (const int32_t version : {1300, 1301, 1700, 1701})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        const int32_t u = make_unit(1, {4000, 4000, 0});
        monster(u)->target_monster_index = 3;
        monster(u)->flags |= _monster_has_valid_target_flag | _monster_needs_new_path_flag;
        monster(u)->waypoint_count = 2;
        const damage_definition gas = damage_of(_damage_gas);
        damage_data data = hit(512);
        accelerate_monster(&gas, &data, u);
        EXPECT_TRUE(monster(u)->extra_flags & _monster_is_confused_extra_flag);
        EXPECT_TRUE(monster(u)->extra_flags & _monster_does_not_autotarget_extra_flag);
        EXPECT_EQ(monster(u)->confusion_timer, version >= 1301 ? 60 : 0);
        EXPECT_EQ(monster(u)->target_monster_index, NONE);
        EXPECT_EQ(monster(u)->waypoint_count, 0);
        EXPECT_FALSE(monster(u)->flags & (_monster_has_valid_target_flag | _monster_needs_new_path_flag));
        EXPECT_TRUE(monster(u)->flags & _monster_attack_was_aborted_flag);
        // Spent mana sets the timer; a confused unit is not confused again.
        const int32_t v = make_unit(1, {5000, 4000, 0});
        damage_data spent = hit(512);
        spent.mana_used = 256;
        accelerate_monster(&gas, &spent, v);
        EXPECT_EQ(monster(v)->confusion_timer, 6);
        damage_data more = hit(2560);
        accelerate_monster(&gas, &more, v);
        EXPECT_EQ(monster(v)->confusion_timer, 6);

        // Berserk: a shock above the definition's takes a fresh identifier
        // from -32768 up.
        definition()->berserk_system_shock = 1000;
        definition()->flinch_system_shock = 65535; // no flinch to replace the taunt
        const int32_t w = make_unit(1, {6000, 4000, 0});
        monster(w)->flags |= _monster_was_stopped_flag;
        const damage_definition blow = damage_of(_damage_kinetic);
        damage_data strong = hit(2560);
        accelerate_monster(&blow, &strong, w);
        EXPECT_TRUE(monster(w)->extra_flags & _monster_is_berserk_extra_flag);
        EXPECT_EQ(monster(w)->identifier, -32768);
        EXPECT_EQ((monster(w)->flags & _monster_was_stopped_flag) != 0, version < 1701);
        EXPECT_EQ(monster(w)->action, _monster_action_taunting);
        definition()->berserk_system_shock = 0;
        definition()->flinch_system_shock = 0;
        delete_monster(u, false);
        delete_monster(v, false);
        delete_monster(w, false);
    }
}

} // namespace

} // namespace monster_reactions_test_file
