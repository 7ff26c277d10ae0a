// The group movement procedures over a world of units: rout sends each unit
// to its nearest escape point, surround spreads units round the nearest
// enemy and charges on losses or time, look sees enemies reaching into the
// group, wander draws two values per unit, follow keeps behind the followed
// unit that runs ahead of the threat and re-orders by version, and lead
// checks its settings, arrives, leaves the band, flees, yells and finds a
// carried target object.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <string>
#include <vector>

#include "attack_ai.h"
#include "map_action_block_writer.h"
#include "map_actions/group_movement_action_procs.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "players.h"
#include "spatial_groups.h"
#include "vesk_random.h"

namespace group_movement_action_procs_test_file {

namespace {

using namespace follow_globals_flags;

constexpr uint32_t executed = _map_action_proc_executed_flag;
constexpr uint32_t succeeded = _map_action_proc_succeeded_flag;
constexpr uint32_t deactivated = _map_action_proc_deactivate_flag;

class group_movement_action_procs_test : public script_test_world
{
protected:
    void start(int32_t version = 1820)
    {
        start_world(64, 64, version);
        initialize_script_modules_for_new_map();
        game_->game_time = 32;
        set_random_seed(5);
    }
    monster_data *by_id(int16_t identifier) { return unit(index_of(identifier)); }
    // Where the unit was last sent alone (its first waypoint).
    world_point2d sent_to(int16_t identifier) { return by_id(identifier)->waypoints[0]; }
    // Triggers the action after rebuilding the spatial groups, as a pass does.
    uint32_t run(int32_t action_index)
    {
        build_spatial_groups();
        return trigger_map_action(action_index);
    }
    bool is_active(int32_t action_index)
    {
        return (get_map_action(action_index)->flags & _map_action_is_active_flag) != 0;
    }
    int32_t stored(int32_t action_index, const char *name) { return own_integer_of(action_index, name, 0x7EADBEEF); }
    void store(int32_t action_index, const char *name, int32_t value)
    {
        ASSERT_TRUE(set_unique_map_action_parameter(action_index, four(name), _parameter_integer, 1, &value));
    }
    int32_t log_count(const std::string &text)
    {
        const std::string log = log_text();
        int32_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
        return n;
    }
};

bool same_point(world_point2d a, world_point2d b) { return a.x == b.x && a.y == b.y; }

// ---- rout, look, wander ---------------------------------------------------------------------------

TEST_F(group_movement_action_procs_test, rout_sends_each_free_unit_to_its_nearest_escape_point_by_action_index)
{
    start();
    const int16_t west = soldier(0, {4000, 10000}, 21), east = soldier(0, {20000, 10000}, 22);
    const int16_t ordered_by_player = soldier(0, {20000, 12000}, 23);
    by_id(ordered_by_player)->flags |= _monster_has_received_user_command_flag;
    test_action rout{9, four("rout")};
    rout.units(four("subj"), {west, east, ordered_by_player});
    points(rout, "dest", {{1000, 1000}, {30000, 9000}, {1000, 1000}});
    test_action panic{10, four("rout")};
    panic.units(four("subj"), {ordered_by_player});
    test_action lost{11, four("rout")};
    lost.units(four("subj"), {west});
    ASSERT_TRUE(import_test_actions({rout, panic, lost}));

    EXPECT_EQ(run(0), executed);
    EXPECT_TRUE(same_point(sent_to(west), {1000, 1000}));
    EXPECT_TRUE(same_point(sent_to(east), {30000, 9000}));
    // The action's index, not its identifier, goes with the order.
    EXPECT_EQ(by_id(west)->internal_command_identifier, 0);
    EXPECT_EQ(by_id(east)->internal_command_identifier, 0);
    EXPECT_EQ(by_id(ordered_by_player)->internal_command_identifier, NONE);
    // Nobody left to rout: succeeded and deactivated at once.
    EXPECT_EQ(run(1), executed | succeeded | deactivated);
    // No escape point: nothing ordered.
    by_id(west)->internal_command_identifier = NONE;
    EXPECT_EQ(run(2), executed);
    EXPECT_EQ(by_id(west)->internal_command_identifier, NONE);
}

TEST_F(group_movement_action_procs_test, look_sees_an_enemy_group_whose_reach_enters_the_units_circle)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 31), b = soldier(0, {10000, 11000}, 32);
    const int16_t enemy = soldier(1, {30000, 10000}, 33);
    test_action look{5, four("look")};
    look.units(four("subj"), {a, b});
    test_action blind{6, four("look")};
    blind.units(four("subj"), {999});
    ASSERT_TRUE(import_test_actions({look, blind}));

    EXPECT_EQ(run(0), executed);
    place(index_of(enemy), {10300, 10500});
    EXPECT_EQ(run(0), executed | succeeded);
    // An allied team is no enemy.
    ally_with_team(0, 1, true);
    EXPECT_EQ(run(0), executed);
    // Without units the look succeeds.
    EXPECT_EQ(run(1), executed | succeeded);
}

TEST_F(group_movement_action_procs_test, wander_draws_an_angle_then_a_distance_per_unit_and_refuses_radius_0)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 41), b = soldier(0, {12000, 10000}, 42);
    const world_point2d centre = {16000, 16000};
    test_action wander{7, four("wand")};
    wander.units(four("subj"), {a, b}).ints(four("radi"), {3000}, _parameter_world_distance);
    points(wander, "cent", {centre});
    test_action still{8, four("wand")};
    still.units(four("subj"), {a, b}).ints(four("radi"), {0}, _parameter_world_distance);
    points(still, "cent", {centre});
    ASSERT_TRUE(import_test_actions({wander, still}));

    set_random_seed(77);
    uint16_t draws[5];
    for (uint16_t &draw : draws) draw = vesk_random();
    set_random_seed(77);
    EXPECT_EQ(run(0), executed | succeeded);
    EXPECT_EQ(vesk_random(), draws[4]); // four draws
    const int16_t units[2] = {a, b};
    for (int32_t i = 0; i < 2; i++)
    {
        const angle facing = draws[2 * i];
        const int32_t r = draws[2 * i + 1] % 3000;
        const world_point2d expected = {centre.x + ((cosine_rounded(facing) * r) >> 14),
                                        centre.y + ((sine_rounded(facing) * r) >> 14)};
        EXPECT_TRUE(same_point(sent_to(units[i]), expected)) << i;
        EXPECT_EQ(by_id(units[i])->internal_command_identifier, 7); // the action's identifier
    }

    // A radius of 0 is refused without a draw.
    set_map_action_debug_status(_map_action_debug_on);
    set_random_seed(77);
    EXPECT_EQ(run(1), executed);
    EXPECT_EQ(vesk_random(), draws[0]);
    EXPECT_EQ(log_count("no random radius"), 1);
}

// ---- surround -------------------------------------------------------------------------------------

TEST_F(group_movement_action_procs_test, surround_turns_units_round_the_enemy_at_most_a_sixth_of_a_turn)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 51), b = soldier(0, {10000, 10512}, 52);
    soldier(1, {20000, 9800}, 53); // one group centred on (20000, 10000), radius 200
    soldier(1, {20000, 10200}, 54);
    test_action surround{7, four("surr")};
    surround.units(four("subj"), {a, b});
    ASSERT_TRUE(import_test_actions({surround}));
    EXPECT_EQ(run(0), executed);

    const spatial_group *enemy = nullptr;
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
        if (group->team_index == 1) enemy = group;
    ASSERT_NE(enemy, nullptr);
    const int32_t reach = enemy->radius + enemy->range;
    ASSERT_GE(reach, 200);
    // a is pushed away from b, straight down (a quarter turn from its
    // bearing off the enemy): clamped to 10922 from half a turn.
    const angle turned = (angle)((int32_t)HALF_CIRCLE + MAXIMUM_SURROUND_ANGULAR_DELTA);
    const world_point2d expected = {enemy->center.x + (int32_t)(((int64_t)cosine_rounded(turned) * reach) >> 14),
                                    enemy->center.y + (int32_t)(((int64_t)sine_rounded(turned) * reach) >> 14)};
    EXPECT_TRUE(same_point(sent_to(a), expected));
    EXPECT_EQ(by_id(a)->internal_command_identifier, 0); // the action's index
    surround_action_proc_globals globals;
    ASSERT_TRUE(get_map_action_structure(0, four("#cst"), sizeof(globals), &globals));
    EXPECT_EQ(globals.state, _surround_state_surrounding);
    EXPECT_EQ(globals.original_monster_count, 2);
    EXPECT_EQ(globals.losses_causing_a_charge, NONE);
}

TEST_F(group_movement_action_procs_test, surround_charges_once_after_its_losses_or_its_runs_and_keeps_attacking)
{
    start();
    std::vector<int16_t> team;
    for (int16_t i = 0; i < 10; i++) team.push_back(soldier(0, {4000 + i * 300, 4000}, (int16_t)(60 + i)));
    soldier(1, {20000, 20000}, 90);
    test_action by_losses{7, four("surr")};
    by_losses.units(four("subj"), team).ints(four("loss"), {3}).ids(four("acat"), {20});
    test_action by_time{8, four("surr")};
    by_time.units(four("subj"), team).ints(four("time"), {2});
    test_action charge{20, four("gene")};
    charge.ints(four("type"), {_command_general_stop});
    ASSERT_TRUE(import_test_actions({by_losses, by_time, charge}));
    auto state_of = [](int32_t action_index) {
        surround_action_proc_globals globals;
        EXPECT_TRUE(get_map_action_structure(action_index, four("#cst"), sizeof(globals), &globals));
        return globals.state;
    };

    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(state_of(0), _surround_state_surrounding);
    EXPECT_FALSE(is_active(2));
    // Three of the ten gone: the charge starts and 'acat' runs.
    std::vector<int16_t> survivors(team.begin() + 3, team.end());
    map_action_parameter subjects;
    ASSERT_TRUE(get_map_action_parameter(&subjects, 0, 0, four("subj"), _parameter_monster_identifier));
    ASSERT_TRUE(set_map_action_parameter(&subjects, (int32_t)survivors.size(), survivors.data()));
    for (int16_t identifier : team) by_id(identifier)->internal_command_identifier = NONE;
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(state_of(0), _surround_state_attacking);
    EXPECT_TRUE(is_active(2));
    // Handed to the attack AI, which orders them after the pass.
    EXPECT_EQ(by_id(survivors[0])->internal_command_identifier, NONE);
    update_attack_ai();
    EXPECT_EQ(by_id(survivors[0])->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    // Later runs attack again; 'acat' is not run again.
    // (The attack AI keeps their targets now: its buffer shows the hand-over.)
    deactivate_map_action(2);
    reset_attack_ai();
    uint32_t empty = 0, handed = 0;
    hash_attack_ai(&empty);
    EXPECT_EQ(run(0), executed);
    EXPECT_FALSE(is_active(2));
    hash_attack_ai(&handed);
    EXPECT_NE(handed, empty);

    // 'time' 2 charges on the third run.
    EXPECT_EQ(run(1), executed);
    EXPECT_EQ(run(1), executed);
    EXPECT_EQ(state_of(1), _surround_state_surrounding);
    EXPECT_EQ(run(1), executed);
    EXPECT_EQ(state_of(1), _surround_state_attacking);

    // Everyone gone: deactivated, the record kept.
    const int16_t nobody = 999;
    ASSERT_TRUE(get_map_action_parameter(&subjects, 1, 0, four("subj"), _parameter_monster_identifier));
    ASSERT_TRUE(set_map_action_parameter(&subjects, 1, &nobody));
    EXPECT_EQ(run(1), executed | deactivated);
    EXPECT_EQ(state_of(1), _surround_state_attacking);
}

// ---- follow ---------------------------------------------------------------------------------------

// An enemy west of the follower pushes the threat east; of the two followed
// units the nearer lies beside the follower, the farther east of it, ahead
// along the threat: that one is the target, and the follower is sent 256
// beyond it, facing back west.
TEST_F(group_movement_action_procs_test, follow_targets_a_followed_unit_ahead_of_the_threat_even_when_not_nearest)
{
    start();
    const int16_t follower = soldier(0, {10000, 10000}, 71);
    const int16_t beside = soldier(0, {10000, 11000}, 72), ahead = soldier(0, {11500, 10000}, 73);
    soldier(1, {6000, 10000}, 74);
    test_action follow{7, four("foll")};
    follow.units(four("subj"), {follower}).units(four("obje"), {beside, ahead});
    ASSERT_TRUE(import_test_actions({follow}));
    set_map_action_debug_status(_map_action_debug_on);

    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(log_count("too far forward 00010000,00000000"), 1);
    EXPECT_TRUE(same_point(sent_to(follower), {11500 + 256, 10000}));
    EXPECT_EQ(by_id(follower)->final_desired_yaw, HALF_CIRCLE);
    EXPECT_EQ(by_id(follower)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    follow_action_proc_globals globals;
    ASSERT_TRUE(get_map_action_structure(0, four("#glo"), sizeof(globals), &globals));
    EXPECT_EQ(globals.flags, (uint32_t)(_globals_initialized_flag | _followed_monsters_valid_flag));
    EXPECT_EQ(globals.visibility_radius, DEFAULT_FOLLOW_VISIBILITY_RADIUS);
    EXPECT_TRUE(same_point(globals.desired_centerpoint, {11756, 10000}));
}

// The desired point has not moved: up to 1300 nobody is re-ordered (and
// 'stop' marks the followers stopped); from 1301 a follower still farther
// than the follow radius from it is.  A desired point 3244 away is falling
// behind: 'acfa' runs the first time only.
TEST_F(group_movement_action_procs_test, follow_reorders_a_distant_follower_from_1301_and_tells_falling_behind_once)
{
    for (int32_t version : {1300, 1301})
    {
        SCOPED_TRACE(version);
        start(version);
        const int16_t follower = soldier(0, {10000, 10000}, 71), leader = soldier(0, {13500, 10000}, 72);
        test_action follow{7, four("foll")};
        follow.units(four("subj"), {follower}).units(four("obje"), {leader}).flag(four("stop"));
        follow.ids(four("acfa"), {20}).ids(four("erel"), {21});
        test_action fallen{20, four("gene")}, released{21, four("gene")};
        fallen.ints(four("type"), {_command_general_stop});
        released.ints(four("type"), {_command_general_stop});
        ASSERT_TRUE(import_test_actions({follow, fallen, released}));

        EXPECT_EQ(run(0), executed);
        // No threat: the follower is kept on its own side, 256 short of the leader.
        EXPECT_TRUE(same_point(sent_to(follower), {13244, 10000}));
        EXPECT_TRUE(is_active(1));
        deactivate_map_action(1);
        by_id(follower)->internal_command_identifier = NONE;
        by_id(follower)->flags &= ~_monster_was_stopped_flag;

        EXPECT_EQ(run(0), executed);
        EXPECT_FALSE(is_active(1));
        if (version == 1300)
        {
            EXPECT_EQ(by_id(follower)->internal_command_identifier, NONE);
            EXPECT_TRUE(by_id(follower)->flags & _monster_was_stopped_flag);
        }
        else
            EXPECT_EQ(by_id(follower)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
        follow_action_proc_globals globals;
        ASSERT_TRUE(get_map_action_structure(0, four("#glo"), sizeof(globals), &globals));
        EXPECT_TRUE(globals.flags & _falling_behind_flag);

        // The followers are gone: 'erel' runs and the follow ends.
        by_id(follower)->identifier = 500;
        EXPECT_EQ(run(0), executed | deactivated);
        EXPECT_TRUE(is_active(2));
        stop();
    }
}

// ---- lead -----------------------------------------------------------------------------------------

class lead_test : public group_movement_action_procs_test
{
protected:
    int16_t leader = 0;
    std::vector<int16_t> group;
    // Team 0: the leader at (10000, 10000) and two followers 50 either side
    // of `group_at` in x (the first of them is nearest the leader).
    void people(world_point2d group_at)
    {
        leader = soldier(0, {10000, 10000}, 100);
        group = {soldier(0, {group_at.x - 50, group_at.y}, 101), soldier(0, {group_at.x + 50, group_at.y}, 102)};
    }
    // A lead to `waypoints` with ranges 1000 / 2000 / 3000 and the result
    // lists 'flee' 30, 'beck' 31, 'succ' 32, 'gone' 33, 'died' 34.
    test_action lead(const std::vector<world_point2d> &waypoints, int32_t type = 0)
    {
        test_action action{9, four("lead")};
        action.units(four("subj"), group).units(four("lead"), {leader});
        action.ints(four("mira"), {1000}, _parameter_world_distance);
        action.ints(four("dera"), {2000}, _parameter_world_distance);
        action.ints(four("mara"), {3000}, _parameter_world_distance);
        action.ints(four("type"), {type});
        if (!waypoints.empty()) points(action, "wayp", waypoints);
        action.ids(four("flee"), {30}).ids(four("beck"), {31}).ids(four("succ"), {32});
        action.ids(four("gone"), {33}).ids(four("died"), {34});
        return action;
    }
    bool import_lead(const test_action &action)
    {
        std::vector<test_action> actions = {action};
        for (int16_t identifier = 30; identifier <= 34; identifier++)
        {
            test_action listener{identifier, four("gene")};
            listener.ints(four("type"), {_command_general_stop});
            actions.push_back(listener);
        }
        return import_test_actions(actions);
    }
    // Index of listener 30 + n.
    static int32_t listener(int32_t n) { return 1 + n; }
};

TEST_F(lead_test, settings_are_checked_in_order_and_refuse_with_an_error)
{
    start();
    people({10000, 12500});

    // 'mira' 2048 with 'mara' 1024.
    test_action misordered = lead({{20000, 10000}});
    misordered.parameters.erase(misordered.parameters.begin() + 2, misordered.parameters.begin() + 5);
    misordered.ints(four("mira"), {2048}, _parameter_world_distance)
        .ints(four("dera"), {2048}, _parameter_world_distance)
        .ints(four("mara"), {1024}, _parameter_world_distance);
    std::vector<world_point2d> fifteen, sixteen;
    for (int32_t i = 0; i < 16; i++) (i < 15 ? fifteen : sixteen).push_back({20000 + i * 10, 10000});
    sixteen.insert(sixteen.begin(), fifteen.begin(), fifteen.end());
    test_action too_many = lead(sixteen), enough = lead(fifteen);
    test_action untyped = lead({{20000, 10000}});
    untyped.parameters.erase(untyped.parameters.begin() + 5);
    enough.identifier = 10;
    too_many.identifier = 11;
    untyped.identifier = 12;
    ASSERT_TRUE(import_test_actions({misordered, too_many, enough, untyped}));

    EXPECT_EQ(run(0), executed | deactivated);
    EXPECT_EQ(log_count("min range must be <= desired range <= max range"), 1);
    EXPECT_EQ(stored(0, "#stt"), 0x7EADBEEF); // nothing stored
    EXPECT_EQ(run(1), executed | deactivated);
    EXPECT_EQ(log_count("Can't have more than 16 waypoints"), 1);
    EXPECT_EQ(run(2), executed);
    EXPECT_EQ(stored(2, "#stt"), 1);
    EXPECT_EQ(run(3), executed | deactivated);
    EXPECT_EQ(log_count("missing target type"), 1);
    EXPECT_EQ(log_count("XXX"), 3); // each reported as an error
}

TEST_F(lead_test, arrival_moves_to_the_next_waypoint_without_an_order_and_the_last_one_succeeds)
{
    start();
    people({10000, 12500});
    ASSERT_TRUE(import_lead(lead({{10500, 10000}, {20000, 10000}, {30000, 10000}})));
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(stored(0, "#way"), 1);
    EXPECT_EQ(by_id(leader)->internal_command_identifier, NONE);
    EXPECT_FALSE(is_active(listener(2)));

    store(0, "#way", 2);
    place(index_of(leader), {29500, 10000});
    EXPECT_EQ(run(0), executed | deactivated); // never succeeded through its result
    EXPECT_EQ(stored(0, "#way"), 3);
    EXPECT_TRUE(is_active(listener(2))); // 'succ'
    EXPECT_EQ(by_id(leader)->internal_command_identifier, NONE);
}

// The group unit nearest the leader stands 4000 away (outside 1000..3000)
// near waypoint 2: '#way' jumps to 2, but this run's order still heads for
// waypoint 0, from the circle of 2000 round that unit.
TEST_F(lead_test, leaving_the_band_picks_the_waypoint_nearest_the_group_but_heads_for_the_old_one)
{
    start();
    people({10000, 14000});
    ASSERT_TRUE(import_lead(lead({{30000, 14000}, {20000, 30000}, {10000, 18000}})));
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(stored(0, "#way"), 2);
    EXPECT_EQ(stored(0, "#stt"), 1);
    EXPECT_TRUE(same_point(sent_to(leader), {11950, 14000}));
    EXPECT_EQ(by_id(leader)->internal_command_identifier, 9); // the action's identifier
}

// Inside the band a success reported for the action makes the leader wait
// and beckon; a state change restores the call counts.
TEST_F(lead_test, waiting_inside_the_band_beckons_and_a_state_change_restores_the_counts)
{
    start();
    people({10000, 12000});
    test_action action = lead({{30000, 10000}});
    action.ints(four("yect"), {2}).ints(four("bect"), {1});
    ASSERT_TRUE(import_lead(action));
    get_map_action(0)->flags |= _map_action_succeeded_flag;
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(stored(0, "#stt"), 0);
    EXPECT_EQ(stored(0, "#yel"), 2);
    EXPECT_EQ(stored(0, "#bec"), 0); // restored to 1, then one beckoning
    EXPECT_EQ(stored(0, "#tbe"), 32 + 120);
    EXPECT_TRUE(is_active(listener(1)));
    EXPECT_EQ(by_id(leader)->internal_command_identifier, NONE);
    // Without a new success the waiting goes on, with no beckoning left.
    deactivate_map_action(listener(1));
    game_->game_time = 512;
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(stored(0, "#stt"), 0);
    EXPECT_FALSE(is_active(listener(1)));
}

// An enemy near the destination makes the leader run 'flra' from the
// group's centre, away from the enemy; allies count, team NONE does not.
TEST_F(lead_test, a_unit_of_another_team_near_the_destination_makes_the_leader_flee_from_it)
{
    for (int32_t kind = 0; kind < 3; kind++)
    {
        SCOPED_TRACE(kind);
        start();
        people({10000, 6000});
        const int16_t stranger = soldier(1, {10000, 9000}, 120);
        if (kind == 1) ally_with_team(0, 1, true);
        if (kind == 2) by_id(stranger)->owner_team_index = NONE;
        ASSERT_TRUE(import_lead(lead({{10000, 30000}})));
        EXPECT_EQ(run(0), executed);
        // The destination, 2000 from the nearest group unit towards the
        // waypoint, is (9954, 8000), 1001 from the stranger.  The group's
        // centre is (10000, 6000), the stranger due north of it: the
        // refuge lies 1024 south.
        if (kind < 2)
        {
            EXPECT_TRUE(same_point(sent_to(leader), {10000, 6000 - 1024}));
            EXPECT_TRUE(is_active(listener(0))); // the first yell: '#tye' started at 0
        }
        else
        {
            EXPECT_TRUE(same_point(sent_to(leader), {9954, 8000})); // led on
            EXPECT_FALSE(is_active(listener(0)));
        }
        stop();
    }
}

// 'deby' is used only with exactly two values; the first flight yells at
// once, and 'yect' 2 allows two yells, the later one after the delay.
TEST_F(lead_test, yells_follow_the_delay_pair_and_stop_at_yect)
{
    struct
    {
        std::vector<int32_t> deby;
        int32_t next_yell; // after the yell at 32
    } const cases[] = {{{}, 32 + 120}, {{50}, 32 + 120}, {{50, 0, 7}, 32 + 120}, {{50, 0}, 32 + 50}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.deby.size());
        start();
        people({10000, 6000});
        soldier(1, {10000, 9000}, 120);
        test_action action = lead({{10000, 30000}});
        action.ints(four("yect"), {2});
        if (!c.deby.empty()) action.ints(four("deby"), c.deby);
        ASSERT_TRUE(import_lead(action));
        EXPECT_EQ(run(0), executed);
        EXPECT_EQ(stored(0, "#tye"), c.next_yell);
        EXPECT_EQ(stored(0, "#yel"), 1);
        stop();
    }

    // With a random extra: one draw, the signed product shifted.
    start();
    people({10000, 6000});
    soldier(1, {10000, 9000}, 120);
    test_action action = lead({{10000, 30000}});
    action.ints(four("yect"), {2}).ints(four("deby"), {50, 100});
    ASSERT_TRUE(import_lead(action));
    set_random_seed(3);
    const uint16_t draw = vesk_random();
    const uint16_t after = vesk_random();
    set_random_seed(3);
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(vesk_random(), after);
    EXPECT_EQ(stored(0, "#tye"), 32 + 50 + ((draw * 100) >> 16));
    // Before the next yell time: no yell.
    deactivate_map_action(listener(0));
    game_->game_time = 64;
    EXPECT_EQ(run(0), executed);
    EXPECT_FALSE(is_active(listener(0)));
    // The second yell, then none.
    game_->game_time = 256;
    EXPECT_EQ(run(0), executed);
    EXPECT_TRUE(is_active(listener(0)));
    EXPECT_EQ(stored(0, "#yel"), 0);
    deactivate_map_action(listener(0));
    game_->game_time = 1024;
    EXPECT_EQ(run(0), executed);
    EXPECT_FALSE(is_active(listener(0)));
    // A state change in a run without flight restores the count.
    store(0, "#stt", 0);
    place(index_of(120), {30000, 30000});
    EXPECT_EQ(run(0), executed);
    EXPECT_EQ(stored(0, "#yel"), 2);
}

TEST_F(lead_test, a_carried_target_object_is_followed_to_another_teams_carrier_and_ends_the_lead_with_its_own)
{
    start();
    people({10000, 12500});
    const int16_t carrier = soldier(1, {30000, 10000}, 130);
    const int32_t object_index = new_unit_object({30000, 10000, 0});
    ASSERT_NE(object_index, NONE);
    get_object(object_index)->flags |= _object_is_invisible_flag;
    const int16_t object_identifier = get_object(object_index)->identifier;
    by_id(carrier)->carrying_object_index = (int16_t)object_index;
    test_action action = lead({}, 2);
    action.raw(_parameter_object_identifier, four("obje"), 1, &object_identifier, 2);
    ASSERT_TRUE(import_lead(action));

    EXPECT_EQ(run(0), executed);
    // Led towards the carrier: 2000 from the nearest group unit.
    const world_point2d unit_at = {9950, 12500};
    world_point2d expected;
    const world_point2d carrier_at = {30000, 10000};
    closest_point_on_circle2d(&unit_at, 2000, &carrier_at, &expected);
    EXPECT_TRUE(same_point(sent_to(leader), expected));

    // Picked up by a unit of the leader's team: success.
    by_id(carrier)->carrying_object_index = NONE;
    by_id(group[1])->carrying_object_index = (int16_t)object_index;
    EXPECT_EQ(run(0), executed | deactivated);
    EXPECT_TRUE(is_active(listener(2)));

    // Nowhere: gone.
    by_id(group[1])->carrying_object_index = NONE;
    EXPECT_EQ(run(0), executed | deactivated);
    EXPECT_TRUE(is_active(listener(3)));
}

TEST_F(lead_test, a_dead_leader_runs_died_and_a_dead_group_ends_quietly)
{
    start();
    people({10000, 12500});
    ASSERT_TRUE(import_lead(lead({{30000, 10000}})));
    by_id(leader)->identifier = 555;
    EXPECT_EQ(run(0), executed | deactivated);
    EXPECT_TRUE(is_active(listener(4)));
    for (int16_t identifier : group) by_id(identifier)->identifier = (int16_t)(identifier + 1000);
    EXPECT_EQ(run(0), executed | deactivated);
    EXPECT_FALSE(is_active(listener(3)));
}

} // namespace

} // namespace group_movement_action_procs_test_file
