// Orders from the selection, driven by scripted action records over the
// selection's small world: presses, drags, bands, double clicks and keys, the
// commands they leave in the outgoing queue (decoded), and what the units do
// once a command is stamped and run.

#include <algorithm>
#include <set>

#include "support/expected_assertions.h"

#include "selection_world.h"

namespace selection_orders_test_file {

namespace {

class selection_orders_test : public selection_world
{
};

uint32_t input_options = 0;
uint32_t read_input_options(void) { return input_options; }

TEST_F(selection_orders_test, a_press_and_drag_on_a_selected_unit_turns_the_group_and_a_click_selects_it_alone)
{
    select({mine[0], mine[1], mine[2]});
    const point2d on = screen_of(mine[0]);
    press(on);
    drag({(int16_t)(on.x + 3), on.y});
    EXPECT_TRUE(outgoing().empty());
    drag({(int16_t)(on.x + 20), on.y}); // 20 pixels east: 160 world units
    release({(int16_t)(on.x + 20), on.y});
    const order turn = only_order();
    EXPECT_EQ(turn.verb, _command_movement);
    EXPECT_EQ(turn.flags, _command_movement_final_facing_flag);
    // From the unit's position to the ground under the pointer, which lies
    // 48 world units north of it on the sprite's middle and 160 east.
    EXPECT_EQ((angle)turn.field16(4), arctangent(160, 48));
    EXPECT_EQ(turn.units, identifiers_of({mine[0], mine[1], mine[2]})) << "the group turns, not the unit alone";
    EXPECT_TRUE(turn.waypoints.empty());
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[0], mine[1], mine[2]}));

    // Northward, on screen upward: a quarter turn.
    press(on);
    drag({on.x, (int16_t)(on.y - 30)});
    release({on.x, (int16_t)(on.y - 30)});
    const order north = only_order(true);
    EXPECT_EQ((angle)north.field16(4), 16384);
    stamp_and_run();
    for (int32_t u : {mine[0], mine[1], mine[2]})
    {
        EXPECT_TRUE(unit(u)->flags & _monster_has_final_desired_yaw_flag);
        EXPECT_EQ(unit(u)->final_desired_yaw, 16384);
    }
    EXPECT_FALSE(unit(mine[3])->flags & _monster_has_final_desired_yaw_flag);

    // Without a drag the pressed unit ends up selected alone, and nothing is ordered.
    wait(20);
    click(screen_of(mine[1]));
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[1]}));
    EXPECT_TRUE(outgoing().empty());
}

TEST_F(selection_orders_test, bands_replace_add_with_shift_subtract_with_command_and_escape_restores)
{
    // The band spans mine[2..5] (world x 3840..4224) and nobody else.
    const point2d from = ground(3800, 4000), to = ground(4300, 3500);
    // With units selected a plain drag on the ground is a gesture; with none, a band.
    select({});
    press(from);
    drag(to);
    release(to);
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[2], mine[3], mine[4], mine[5]})) << "a plain band selects";
    EXPECT_TRUE(outgoing().empty()) << "a band orders nothing";

    select({mine[0]});
    press(from, {_shift_down_bit});
    drag(to, {_shift_down_bit});
    release(to);
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[0], mine[2], mine[3], mine[4], mine[5]})) << "Shift adds";

    select({mine[0], mine[1], mine[2], mine[3]});
    press(from, {_command_down_bit});
    drag(to, {_command_down_bit});
    release(to);
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[0], mine[1]})) << "Command subtracts";

    // The band shrinks back: the units it no longer holds leave again.
    select({});
    press(from);
    drag(to);
    drag(ground(3900, 3500));
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[2]}));
    release(ground(3900, 3500));

    // Escape during a band puts back the selection the band started from:
    // with Shift the one from before, without it the emptied one.
    select({mine[0], mine[1]});
    press(from, {_shift_down_bit});
    drag(to, {_shift_down_bit});
    EXPECT_EQ(get_current_selection_count(), 6);
    key(_selection_cancel_bit, {_left_mouse_down_bit});
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[0], mine[1]}));
    drag(ground(4300, 3300));
    release(ground(4300, 3300));
    EXPECT_EQ(selection(), (std::vector<int32_t>{mine[0], mine[1]})) << "the cancelled press is over";
    select({});
    press(from);
    drag(to);
    key(_selection_cancel_bit, {_left_mouse_down_bit});
    release(to);
    EXPECT_EQ(get_current_selection_count(), 0);
    EXPECT_TRUE(outgoing().empty());

    // Enemies and units behind the band's edge are not taken.
    select({});
    press(ground(4400, 5000));
    drag(ground(5200, 4500));
    release(ground(5200, 4500));
    EXPECT_EQ(get_current_selection_count(), 0);
}

TEST_F(selection_orders_test, a_gesture_that_lasts_too_long_pauses_or_goes_too_far_becomes_a_band)
{
    // Each drag starts on the ground west of the units with two of them selected.
    const point2d start = ground(3200, 3400);
    struct case_
    {
        const char *name;
        std::vector<std::pair<point2d, int32_t>> path; // pointer and ticks waited before it
        bool band;
    } cases[] = {
        {"a brisk gesture", {{{(int16_t)(start.x + 10), start.y}, 0}, {{(int16_t)(start.x + 20), start.y}, 0}}, false},
        {"more than 15 ticks", {{{(int16_t)(start.x + 10), start.y}, 0}, {{(int16_t)(start.x + 20), start.y}, 15}}, true},
        {"two slow actions", {{{(int16_t)(start.x + 10), start.y}, 0}, {{(int16_t)(start.x + 12), start.y}, 0},
                              {{(int16_t)(start.x + 14), start.y}, 0}}, true},
        {"one slow action", {{{(int16_t)(start.x + 10), start.y}, 0}, {{(int16_t)(start.x + 12), start.y}, 0},
                             {{(int16_t)(start.x + 22), start.y}, 0}}, false},
        {"beyond 450 pixels", {{{(int16_t)(start.x + 200), start.y}, 0}, {{(int16_t)(start.x + 400), start.y}, 0},
                               {{(int16_t)(start.x + 460), start.y}, 0}}, true},
    };
    for (const case_ &c : cases)
    {
        SCOPED_TRACE(c.name);
        select({mine[0], mine[1]});
        wait(20);
        press(start);
        point2d last = start;
        for (const auto &[at, pause] : c.path)
        {
            wait(pause);
            drag(at);
            last = at;
        }
        release(last);
        const std::vector<order> orders = outgoing();
        if (c.band)
        {
            EXPECT_TRUE(orders.empty()) << "a band orders nothing";
            EXPECT_NE(selection(), (std::vector<int32_t>{mine[0], mine[1]})) << "and replaced the selection";
        }
        else
        {
            ASSERT_EQ(orders.size(), 1u);
            EXPECT_EQ(orders[0].flags & _command_movement_final_facing_flag, _command_movement_final_facing_flag);
            ASSERT_EQ(orders[0].waypoints.size(), 1u) << "a gesture on the ground moves there facing the drag";
            EXPECT_NEAR(orders[0].waypoints[0].x, 3200, 8);
            EXPECT_NEAR(orders[0].waypoints[0].y, 3400, 8);
            EXPECT_EQ((angle)orders[0].field16(4), 0);
        }
    }
}

TEST_F(selection_orders_test, a_double_click_collects_the_players_like_units_within_four_cells_transitively)
{
    // A chain along row 11: cells 1, 5 and 9 are linked by steps of four
    // cells, cell 14 is five cells from the nearest.  An enemy in reach and a
    // unit that ignores orders are not taken; the other units of the player
    // are moved out of reach.
    for (int32_t i = 0; i < 6; ++i) place(mine[i], cell_centre(2 + i, 1));
    const int32_t a = unit_at(0, cell_centre(1, 11)), b = unit_at(0, cell_centre(5, 11)),
                  c = unit_at(0, cell_centre(9, 11)), d = unit_at(0, cell_centre(14, 11));
    const int32_t stubborn = unit_at(0, cell_centre(6, 11));
    unit(stubborn)->flags |= _monster_ignores_user_commands_flag;
    const int32_t enemy = unit_at(1, cell_centre(4, 10));
    draw({b, a, c, d, enemy});
    const point2d on = screen_of(b);

    click(on);
    EXPECT_EQ(selection(), (std::vector<int32_t>{b}));
    send(action(on, {_double_left_mouse_down_bit}));
    release(on);
    std::vector<int32_t> got = selection();
    std::sort(got.begin(), got.end());
    std::vector<int32_t> want = {a, b, c};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_TRUE(outgoing().empty());

    // Once all are selected, a double click leaves the unit alone.
    wait(20);
    select({a, c});
    click(on, {_shift_down_bit});
    EXPECT_EQ(get_current_selection_count(), 3);
    send(action(on, {_double_left_mouse_down_bit}));
    release(on);
    EXPECT_EQ(selection(), (std::vector<int32_t>{b}));

    // Too late, or too far from the press: no double click.
    click(on);
    wait(10);
    send(action(on, {_double_left_mouse_down_bit}));
    EXPECT_EQ(selection(), (std::vector<int32_t>{b}));
    click(on);
    action_data far = action({(int16_t)(on.x + 8), on.y}, {_double_left_mouse_down_bit});
    send(far);
    EXPECT_EQ(selection(), (std::vector<int32_t>{b}));
}

TEST_F(selection_orders_test, a_target_order_on_a_crowd_reaches_at_most_thirty_targets)
{
    // 36 enemies packed into cells 10..13 x 2..4, the clicked one first; one
    // more far away in cell (2, 1).
    const int32_t target = unit_at(1, cell_centre(12, 4));
    std::vector<int32_t> crowd = {target};
    for (int32_t i = 0; crowd.size() < 36; ++i) crowd.push_back(unit_at(1, {5120 + 64 * (i % 32), 1024 + 300 * (i / 32) + 16 * (i % 7)}));
    const int32_t far = unit_at(1, cell_centre(2, 1));
    draw({target, mine[0], mine[1], mine[2]});

    select({mine[0], mine[1], mine[2]});
    click(screen_of(target));
    order attack = only_order(true);
    EXPECT_EQ(attack.verb, _command_target);
    EXPECT_EQ(attack.units, identifiers_of({mine[0], mine[1], mine[2]}));
    ASSERT_EQ(attack.targets.size(), (size_t)MAXIMUM_NUMBER_OF_TARGET_MONSTERS);
    EXPECT_EQ(attack.targets[0], unit(target)->identifier) << "the clicked unit first";
    std::set<int16_t> distinct(attack.targets.begin(), attack.targets.end());
    EXPECT_EQ(distinct.size(), attack.targets.size()) << "each target once";
    for (int16_t identifier : attack.targets)
    {
        EXPECT_NE(identifier, unit(far)->identifier);
        for (int32_t u : mine) EXPECT_NE(identifier, unit(u)->identifier);
    }
    stamp_and_run();
    EXPECT_TRUE(unit(mine[0])->flags & _monster_has_valid_target_flag);

    // Two attackers never target a group.
    wait(20);
    select({mine[0], mine[1]});
    click(screen_of(target));
    attack = only_order();
    EXPECT_EQ(attack.targets, identifiers_of({target}));
    EXPECT_EQ(attack.units.size(), 2u);
}

TEST_F(selection_orders_test, ground_clicks_patrol_loop_or_back_and_forth_and_a_fifth_click_sends_four)
{
    select({mine[0], mine[1]});
    const world_point2d p[5] = {{2560, 2560}, {5632, 2560}, {5632, 5632}, {2560, 5632}, {4096, 5200}};
    auto collect = [&](int32_t n) {
        for (int32_t i = 0; i < n; ++i)
        {
            wait(20);
            click(ground(p[i].x, p[i].y), {_shift_down_bit});
        }
        EXPECT_TRUE(outgoing().empty()) << "Shift collects without sending";
    };

    collect(3);
    wait(20);
    click(ground(p[1].x + 100, p[1].y));
    order patrol = only_order(true);
    EXPECT_EQ(patrol.flags & (_command_movement_loop_flag | _command_movement_loop_back_and_forth_flag),
              _command_movement_loop_flag | _command_movement_loop_back_and_forth_flag)
        << "near a later waypoint: back and forth";
    ASSERT_EQ(patrol.waypoints.size(), 3u) << "the point near a waypoint is not added";
    stamp_and_run();
    EXPECT_EQ(unit(mine[0])->waypoint_count, 3);
    EXPECT_TRUE(unit(mine[0])->flags & _monster_has_back_and_forth_looped_waypoints_flag);

    select({mine[0], mine[1]});
    collect(2);
    wait(20);
    click(ground(p[0].x, p[0].y + 200));
    patrol = only_order(true);
    EXPECT_EQ(patrol.flags & (_command_movement_loop_flag | _command_movement_loop_back_and_forth_flag),
              _command_movement_loop_flag)
        << "near the first: a loop";
    stamp_and_run();
    EXPECT_TRUE(unit(mine[1])->flags & _monster_has_looped_waypoints_flag);
    EXPECT_FALSE(unit(mine[1])->flags & _monster_has_back_and_forth_looped_waypoints_flag);

    // Four pending: a fifth click far from all sends the four without it.
    select({mine[0], mine[1]});
    collect(4);
    wait(20);
    click(ground(p[4].x, p[4].y));
    const order four = only_order();
    ASSERT_EQ(four.waypoints.size(), 4u);
    for (int32_t i = 0; i < 4; ++i)
    {
        EXPECT_NEAR(four.waypoints[i].x, p[i].x, 8);
        EXPECT_NEAR(four.waypoints[i].y, p[i].y, 8);
    }
    EXPECT_EQ(four.flags & _command_movement_loop_flag, 0);

    // A ground click on a plain order goes out at once, then the units walk.
    wait(20);
    click(ground(p[4].x, p[4].y));
    const order go = only_order(true);
    ASSERT_EQ(go.waypoints.size(), 1u);
    stamp_and_run();
    EXPECT_EQ(unit(mine[0])->waypoint_count, 1);
}

TEST_F(selection_orders_test, spread_units_move_in_the_default_formation_and_bunched_ones_in_none)
{
    for (int32_t u : mine) unit(u)->formation_index = NONE; // no formation shared
    auto order_flags = [&](void) {
        wait(20);
        click(ground(4096, 2560));
        const order o = only_order();
        return std::make_pair(o.flags & _command_movement_formation_flag, o.field16(2));
    };
    select({mine[0], mine[1], mine[2]});
    EXPECT_EQ(order_flags().first, 0) << "bunched: no formation";

    place(mine[2], {7936, 7936}); // beyond 5120 from both others
    select({mine[0], mine[1], mine[2]});
    auto spread = order_flags();
    EXPECT_EQ(spread.first, _command_movement_formation_flag);
    EXPECT_EQ(spread.second, get_default_formation_index());

    // A shared formation is kept whatever the spread.
    for (int32_t u : mine) unit(u)->formation_index = 4;
    select({mine[0], mine[1], mine[2]});
    spread = order_flags();
    EXPECT_EQ(spread.first, _command_movement_formation_flag);
    EXPECT_EQ(spread.second, 4);
}

TEST_F(selection_orders_test, before_1301_more_than_thirty_units_count_as_spread)
{
    std::vector<int32_t> crowd;
    for (int32_t i = 0; i < 31; ++i) crowd.push_back(unit_at(0, {2048 + 32 * (i % 8), 2048 + 32 * (i / 8)}));
    for (int32_t i = 0; i < 31; ++i) unit(crowd[i])->formation_index = (int16_t)(i % 2);
    for (int32_t version : {1300, 1301})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        select_nothing();
        for (int32_t u : crowd) add_monster_index_to_current_selection(u);
        wait(20);
        click(ground(5120, 5120));
        const order o = only_order();
        EXPECT_EQ(o.units.size(), version < 1301 ? 30u : 31u) << "the builders' own cut";
        EXPECT_EQ(o.flags & _command_movement_formation_flag, version < 1301 ? _command_movement_formation_flag : 0);
    }
}

TEST_F(selection_orders_test, a_right_click_is_ignored_when_the_mouse_options_say_so)
{
    select({mine[0], mine[1]});
    set_selection_input_options_procedure_for_tests(read_input_options);
    input_options = (1u << _selection_input_right_click_ignored_bit) | (1u << _selection_input_right_button_deselects_bit);
    for (int32_t bit : {_right_mouse_click_bit, _right_mouse_down_bit, _double_right_mouse_down_bit})
    {
        action_data a = action(ground(5120, 5120), {bit, _right_mouse_down_bit});
        send(a);
        release(ground(5120, 5120));
    }
    EXPECT_EQ(get_current_selection_count(), 2);
    EXPECT_TRUE(outgoing().empty());

    input_options = 1u << _selection_input_right_button_deselects_bit;
    action_data a = action(ground(5120, 5120), {_right_mouse_click_bit, _right_mouse_down_bit});
    send(a);
    EXPECT_EQ(get_current_selection_count(), 0) << "without the option the right button deselects";
    input_options = 0;
}

TEST_F(selection_orders_test, keys_send_general_orders_and_rotations_to_the_selection)
{
    select({mine[0], mine[1]});
    const struct
    {
        int32_t bit;
        int16_t type;
    } keys[] = {{_selection_stop_bit, _command_general_stop},
                {_selection_scatter_bit, _command_general_scatter},
                {_selection_retreat_bit, _command_general_retreat},
                {_selection_guard_bit, _command_general_guard},
                {_selection_taunt_bit, _command_general_taunt}};
    for (const auto &k : keys)
    {
        key(k.bit);
        const order o = only_order();
        EXPECT_EQ(o.verb, _command_general);
        EXPECT_EQ(o.field16(2), k.type);
        EXPECT_EQ(o.units, identifiers_of({mine[0], mine[1]}));
    }

    key(_selection_rotate_clockwise_bit);
    const order turn = only_order();
    EXPECT_EQ(turn.verb, _command_rotation);
    EXPECT_EQ((angle)turn.field16(2), (angle)-ROTATION_AMOUNT);
    EXPECT_EQ(turn.field32(4), (3584 + 3712) / 2) << "about the units' mean";
    EXPECT_EQ(turn.field32(8), 3584);

    select({mine[0]});
    key(_selection_rotate_counterclockwise_bit);
    EXPECT_TRUE(outgoing().empty()) << "one unit cannot rotate";
    select({});
    key(_selection_stop_bit);
    EXPECT_TRUE(outgoing().empty()) << "no selection, no order";
}

TEST_F(selection_orders_test, bad_actions_are_ignored_without_reading_outside_the_frame)
{
    select({mine[0], mine[1]});
    // Pointers far off the screen, every button and modifier at once, zero and huge times.
    const point2d wild[] = {{-32768, -32768}, {32767, 32767}, {640, 480}, {-1, 240}};
    for (const point2d &at : wild)
    {
        action_data a = action(at, {_left_mouse_click_bit, _left_mouse_down_bit, _right_mouse_click_bit,
                                    _right_mouse_down_bit, _double_left_mouse_down_bit, _shift_down_bit,
                                    _command_down_bit, _option_down_bit, _control_down_bit});
        a.time_delta = 0;
        send(a);
        a.time = INT32_MAX;
        send(a);
        action_data up = action(at, {});
        up.time = INT32_MIN;
        send(up);
    }
    for (const std::vector<order> orders = outgoing(); const order &o : orders)
    {
        EXPECT_LE(o.units.size(), (size_t)MAXIMUM_NUMBER_OF_SELECTED_MONSTERS);
        EXPECT_LE(o.waypoints.size(), (size_t)MAXIMUM_SELECTION_WAYPOINTS);
    }

    // A huge time delta ends every countdown instead of wrapping it.
    select({mine[0], mine[1]});
    key(_selection_stop_bit);
    outgoing();
    EXPECT_FALSE(body(mine[0])->flags & _object_is_selected_flag) << "an order hides the marks for a while";
    for (int32_t delta : {0, 65530, INT32_MAX})
    {
        SCOPED_TRACE(delta);
        key(_selection_stop_bit);
        outgoing();
        action_data a = action({10, 10}, {});
        a.time_delta = delta;
        send(a);
        if (delta) { EXPECT_TRUE(body(mine[0])->flags & _object_is_selected_flag) << "and they come back"; }
        else { EXPECT_FALSE(body(mine[0])->flags & _object_is_selected_flag); }
    }

    // An empty surface list and a frame that shows a unit that is gone.
    synthetic_frame empty;
    empty.link_and_install();
    click({100, 100});
    key(_selection_all_bit);
    EXPECT_EQ(get_current_selection_count(), 0);
    draw({mine[0], mine[1]});
    select({mine[0]});
    const point2d on = screen_of(mine[1]);
    remove_monster_index_from_all_selections(mine[1], _monster_died_clear_presets_flag);
    delete_monster(mine[1], false);
    click(on);
    key(_selection_all_bit);
    for (int32_t u : selection()) EXPECT_NE(u, mine[1]);
}

} // namespace

} // namespace selection_orders_test_file
