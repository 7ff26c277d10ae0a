// The procedures that order units and end the game, over a world of units:
// 'atta' and 'gene' cut long lists into command-sized orders, 'atta' looks
// for points before objects before units and charms only above 1510, 'endg'
// and 'end2' end (or hold) the game, and 'dela' hands its units over at the
// passes their due ticks give.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <vector>

#include "attack_ai.h"
#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "game_ending.h"
#include "scoring.h"
#include "spatial_groups.h"
#include "vesk_random.h"

namespace unit_order_action_procs_test_file {

namespace {

class unit_order_action_procs_test : public script_test_world
{
protected:
    void start(int32_t version = 1820, int16_t width = 64)
    {
        start_world(width, width, version);
        initialize_script_modules_for_new_map();
        initialize_scoring();
        initialize_scoring_for_new_map();
        game_->game_time = 0;
        game_->winning_team_index = NONE;
        game_->endgame_state = _endgame_unresolved;
        set_random_seed(5);
    }
    // `count` units of `player` in rows from cell (x, y), identifiers from `first`.
    std::vector<int16_t> army(int16_t player, int32_t count, int32_t x, int32_t y, int16_t first)
    {
        std::vector<int16_t> identifiers;
        for (int32_t i = 0; i < count; i++)
            identifiers.push_back(soldier(player, {x * 512 + (i % 20) * 100, y * 512 + (i / 20) * 100}, (int16_t)(first + i)));
        return identifiers;
    }
    int32_t ordered(const std::vector<int16_t> &identifiers, int16_t internal_identifier)
    {
        int32_t n = 0;
        for (int16_t identifier : identifiers)
            if (unit(index_of(identifier))->internal_command_identifier == internal_identifier) n++;
        return n;
    }
    void delete_named(int32_t action_index, field_tag name)
    {
        map_action_parameter parameter;
        ASSERT_TRUE(get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, name, NONE));
        delete_map_action_parameter(&parameter);
    }
};

// 300 attackers in one order each of at most 126 units (30 before 1301):
// without the slicing the command would carry only the first slice.
TEST_F(unit_order_action_procs_test, attack_and_general_orders_reach_every_subject_in_command_sized_slices)
{
    for (int32_t version : {1300, 1820})
    {
        SCOPED_TRACE(version);
        start(version);
        const std::vector<int16_t> attackers = army(0, 300, 2, 2, 1000);
        const std::vector<int16_t> defenders = army(1, 3, 40, 40, 2000);
        test_action attack{7, four("atta")};
        attack.units(four("subj"), attackers).units(four("obje"), defenders);
        test_action general{8, four("gene")};
        general.units(four("subj"), attackers).ints(four("type"), {_command_general_stop});
        ASSERT_TRUE(import_test_actions({attack, general}));

        EXPECT_EQ(trigger_map_action(0), _map_action_proc_executed_flag | _map_action_proc_succeeded_flag);
        // The target order stores what 'atta' passed: its action index.
        EXPECT_EQ(ordered(attackers, 0), 300);
        for (int16_t identifier : {attackers[0], attackers[125], attackers[126], attackers[299]})
        {
            const int16_t target = unit(index_of(identifier))->target_monster_index;
            EXPECT_TRUE(target == index_of(defenders[0]) || target == index_of(defenders[1]) ||
                        target == index_of(defenders[2]))
                << identifier;
        }
        EXPECT_EQ(trigger_map_action(1), _map_action_proc_executed_flag | _map_action_proc_succeeded_flag);
        EXPECT_EQ(ordered(attackers, 8), 300);
        for (int16_t identifier : attackers)
            ASSERT_TRUE(unit(index_of(identifier))->flags & _monster_needs_to_stop_flag) << identifier;
        stop();
    }
}

TEST_F(unit_order_action_procs_test, attack_takes_a_point_before_an_object_before_units_drawing_one_value)
{
    start();
    const std::vector<int16_t> attackers = army(0, 2, 2, 2, 10);
    const std::vector<int16_t> defenders = army(1, 1, 20, 20, 20);
    const world_point2d point = {9000, 7000};
    test_action attack{7, four("atta")};
    attack.raw(_parameter_world_point2d, four("wayp"), 1, &point, sizeof(point));
    const int16_t object_identifier = 4242;
    attack.raw(_parameter_object_identifier, four("proj"), 1, &object_identifier, 2);
    attack.units(four("subj"), attackers).units(four("obje"), defenders);
    ASSERT_TRUE(import_test_actions({attack}));

    set_random_seed(9);
    vesk_random();
    const uint16_t after_one_draw = vesk_random();
    set_random_seed(9);
    EXPECT_EQ(trigger_map_action(0), _map_action_proc_executed_flag | _map_action_proc_succeeded_flag);
    EXPECT_EQ(vesk_random(), after_one_draw); // one draw: the point chosen
    for (int16_t identifier : attackers)
    {
        const monster_data *attacker = unit(index_of(identifier));
        EXPECT_TRUE(attacker->flags & _monster_has_valid_target_location_flag);
        EXPECT_EQ(attacker->target_location.x, point.x);
        EXPECT_EQ(attacker->target_location.y, point.y);
        EXPECT_EQ(attacker->target_monster_index, NONE);
        EXPECT_EQ(attacker->internal_command_identifier, 7); // a location order stores the identifier
    }

    // Without 'wayp' an object naming nothing present orders nothing, and
    // the units are never considered.
    delete_named(0, four("wayp"));
    for (int16_t identifier : attackers) unit(index_of(identifier))->internal_command_identifier = NONE;
    EXPECT_EQ(trigger_map_action(0), _map_action_proc_executed_flag);
    EXPECT_EQ(ordered(attackers, NONE), 2);

    // Without either, the units of 'obje' are attacked.
    delete_named(0, four("proj"));
    EXPECT_EQ(trigger_map_action(0), _map_action_proc_executed_flag | _map_action_proc_succeeded_flag);
    EXPECT_EQ(unit(index_of(attackers[0]))->target_monster_index, index_of(defenders[0]));
}

TEST_F(unit_order_action_procs_test, charm_is_ignored_up_to_1510)
{
    for (int32_t version : {1510, 1511})
    {
        SCOPED_TRACE(version);
        start(version);
        const std::vector<int16_t> attackers = army(0, 1, 2, 2, 10);
        const std::vector<int16_t> defenders = army(1, 1, 20, 20, 20);
        test_action attack{7, four("atta")};
        attack.units(four("subj"), attackers).units(four("obje"), defenders).flag(four("chrm"));
        ASSERT_TRUE(import_test_actions({attack}));
        // Player 0 has its own copy of the defender's unit: charmable.
        for (int32_t d = 0; d < unit_definitions.count; d++)
            if (unit_definition *definition = get_unit_definition(d)) definition->player_index = 0;
        const monster_data *defender = unit(index_of(defenders[0]));
        const monster_data *attacker = unit(index_of(attackers[0]));
        trigger_map_action(0);
        if (version == 1510)
        {
            EXPECT_EQ(defender->identifier, defenders[0]);
            EXPECT_EQ(defender->owner_team_index, 1);
            EXPECT_EQ(attacker->target_monster_index, index_of(defenders[0]));
        }
        else
        {
            // Charmed: handed to player 0 (its identifier given up for a
            // traded one); no target order.
            EXPECT_EQ((uint16_t)defender->identifier & 0x8000, 0x8000);
            EXPECT_EQ(attacker->internal_command_identifier, NONE);
            EXPECT_EQ(attacker->target_monster_index, NONE);
        }
        stop();
    }
}

TEST_F(unit_order_action_procs_test, endgame_procedures_end_or_hold_the_game)
{
    start();
    test_action light{1, four("endg")};
    light.flag(four("ligh")).flag(four("fail"));
    test_action dark{2, four("endg")};
    test_action hold{3, four("end2")};
    hold.ints(four("team"), {1}).flag(four("susp"));
    test_action release{4, four("end2")};
    release.ints(four("team"), {0});
    ASSERT_TRUE(import_test_actions({light, dark, hold, release}));

    // 'end2' with 'susp' holds the end: a later 'endg' waits until released.
    EXPECT_EQ(trigger_map_action(2), _map_action_proc_executed_flag);
    EXPECT_TRUE(game_->flags.load() & _game_is_suspended_flag);
    EXPECT_EQ(game_->endgame_state, _endgame_unresolved);
    EXPECT_EQ(game_->winning_team_index, 1);
    EXPECT_EQ(trigger_map_action(1), _map_action_proc_executed_flag); // team 1 by 'endg' without 'ligh'
    EXPECT_EQ(game_->winning_team_index, 1);
    EXPECT_EQ(game_->endgame_state, _endgame_unresolved);
    EXPECT_EQ(get_endgame_countdown(), NONE);
    // Released: the pending end happens, with the winner 'end2' names.
    EXPECT_EQ(trigger_map_action(3), _map_action_proc_executed_flag);
    EXPECT_FALSE(game_->flags.load() & _game_is_suspended_flag);
    EXPECT_EQ(game_->winning_team_index, 0);
    EXPECT_EQ(game_->endgame_state, _endgame_resolved);
    EXPECT_NE(get_endgame_countdown(), NONE);
    // An ended game is not ended again.
    EXPECT_EQ(trigger_map_action(2), _map_action_proc_executed_flag);
    EXPECT_FALSE(game_->flags.load() & _game_is_suspended_flag);
}

TEST_F(unit_order_action_procs_test, endgame_with_light_gives_team_0_its_victory_state)
{
    start();
    test_action light{1, four("endg")};
    light.flag(four("ligh")).flag(four("fail"));
    ASSERT_TRUE(import_test_actions({light}));
    trigger_map_action(0);
    EXPECT_EQ(game_->winning_team_index, 0);
    EXPECT_EQ(game_->endgame_state, _endgame_failed_victory);
    EXPECT_NE(get_endgame_countdown(), NONE);
    // Team 0 has won: a second run changes nothing.
    game_->endgame_state = _endgame_resolved;
    trigger_map_action(0);
    EXPECT_EQ(game_->endgame_state, _endgame_resolved);
}

// Four units spread over 2 seconds (60 ticks) from a first run at 64: due at
// 79, 94, 109 and 124, handed over at the first pass after each.
TEST_F(unit_order_action_procs_test, delay_hands_units_over_at_the_passes_after_their_due_ticks)
{
    start();
    const std::vector<int16_t> team = army(1, 4, 10, 10, 20);
    test_action delay{5, four("dela")};
    delay.flags = _map_action_no_initial_delay_flag | _map_action_only_initial_delay_flag;
    delay.mode = _map_action_deactivates_on_successful_execution;
    delay.units(four("subj"), team).fixeds(four("time"), {2 * 65536}).flag(four("dist")).ids(four("resu"), {6});
    test_action receiver{6, four("gene")};
    receiver.flags = _map_action_no_initial_delay_flag;
    receiver.mode = _map_action_deactivates_on_trigger;
    receiver.ints(four("type"), {_command_general_stop});
    ASSERT_TRUE(import_test_actions({delay, receiver}));
    game_->game_time = 64;
    activate_map_action(0);
    set_random_seed(5);
    const uint16_t before = vesk_random();
    set_random_seed(5);
    trigger_map_action(0); // the pass at 64 runs it so
    EXPECT_EQ(vesk_random(), before); // 'dist' draws nothing
    game_->game_time = 65;
    int32_t due[4] = {};
    map_action_parameter stored;
    ASSERT_TRUE(get_map_action_parameter(&stored, 0, 0, four("#del"), _parameter_integer));
    ASSERT_EQ(copy_map_action_parameter_values(&stored, due, 4), 4);
    EXPECT_EQ(std::vector<int32_t>(due, due + 4), (std::vector<int32_t>{79, 94, 109, 124}));
    EXPECT_EQ(ordered(team, 6), 0);

    run_until(96);
    EXPECT_EQ(ordered(team, 6), 2);
    EXPECT_EQ(unit(index_of(team[0]))->internal_command_identifier, 6);
    EXPECT_EQ(unit(index_of(team[1]))->internal_command_identifier, 6);
    run_until(128);
    EXPECT_EQ(ordered(team, 6), 4);
    EXPECT_TRUE(get_map_action(0)->flags & _map_action_is_active_flag);
    run_until(160); // everything handed: success, and mode 2 deactivates
    EXPECT_FALSE(get_map_action(0)->flags & _map_action_is_active_flag);
}

// A unit that joins the subjects after the first run has no due tick: it is
// due at once.  Without 'dist' every unit draws its own due tick.
TEST_F(unit_order_action_procs_test, delay_gives_units_that_joined_later_due_tick_0_and_draws_one_value_per_unit)
{
    start();
    const std::vector<int16_t> team = army(1, 3, 10, 10, 20);
    test_action delay{5, four("dela")};
    delay.units(four("subj"), {team[0], team[1]}).fixeds(four("time"), {100 * 65536}).ids(four("resu"), {6});
    test_action receiver{6, four("gene")};
    receiver.ints(four("type"), {_command_general_stop});
    ASSERT_TRUE(import_test_actions({delay, receiver}));
    game_->game_time = 32;
    set_random_seed(11);
    const uint32_t first = vesk_random(), second = vesk_random(), third = vesk_random();
    set_random_seed(11);
    trigger_map_action(0);
    EXPECT_EQ(vesk_random(), third); // two draws
    int32_t due[3] = {};
    map_action_parameter stored;
    ASSERT_TRUE(get_map_action_parameter(&stored, 0, 0, four("#del"), _parameter_integer));
    ASSERT_EQ(copy_map_action_parameter_values(&stored, due, 3), 2);
    EXPECT_EQ(due[0], (int32_t)(32 + ((int64_t)first * 3000 >> 16)));
    EXPECT_EQ(due[1], (int32_t)(32 + ((int64_t)second * 3000 >> 16)));

    map_action_parameter subjects;
    ASSERT_TRUE(get_map_action_parameter(&subjects, 0, 0, four("subj"), _parameter_monster_identifier));
    ASSERT_TRUE(append_to_map_action_parameter(&subjects, 1, &team[2]));
    game_->game_time = 64;
    trigger_map_action(0);
    trigger_map_action(1); // the receiver, which the hand-over activated
    EXPECT_EQ(ordered(team, 6), 1);
    EXPECT_EQ(unit(index_of(team[2]))->internal_command_identifier, 6);
}

} // namespace

} // namespace unit_order_action_procs_test_file
