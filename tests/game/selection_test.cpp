// The selection over a small world (16 x 16 cells, two teams, a synthetic
// frame putting each unit's sprite on screen and terrain under it):
// membership, modes, deaths, and orders checked by decoding the outgoing
// command queue, never by looking inside the selection.

#include "support/expected_assertions.h"

#include "selection_world.h"

#include <string>
#include <vector>

#include "console_procedures.h"

namespace selection_test_file {

namespace {

class selection_test : public selection_world
{
protected:
    static int16_t be16(const std::vector<uint8_t> &b, size_t at) { return (int16_t)(b[at] << 8 | b[at + 1]); }
};

TEST_F(selection_test, membership_changes_only_what_it_must_and_a_full_list_stays_full)
{
    add_monster_index_to_current_selection(mine[0]);
    const selection_globals_ *g = get_selection_globals();
    EXPECT_EQ(get_current_selection_count(), 1);
    EXPECT_TRUE(body(mine[0])->flags & _object_is_selected_flag);
    selection_data copy = g->current_selection;
    copy.flags = 0;
    adjust_monster_index_in_selection(&copy, mine[0], _adjust_selection_add);
    adjust_monster_index_in_selection(&copy, mine[1], _adjust_selection_subtract);
    EXPECT_EQ(copy.count, 1);
    EXPECT_EQ(copy.flags, 0) << "adding a present unit and subtracting an absent one change nothing";

    selection_data full = {};
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS; ++i) full.monster_indexes[full.count++] = mine[0];
    full.flags = 0;
    adjust_monster_index_in_selection(&full, mine[1], _adjust_selection_add);
    EXPECT_EQ(full.count, MAXIMUM_NUMBER_OF_SELECTED_MONSTERS) << "the 127th addition is ignored";
    EXPECT_TRUE(full.flags & _selection_is_dirty_flag) << "yet marks the list dirty";

    {
        expected_assertions expect(1);
        EXPECT_EQ(get_current_selection_index(5), NONE);
    }
}

TEST_F(selection_test, modes_drop_waypoints_and_follow_their_rules)
{
    select({mine[0], mine[1]});
    EXPECT_TRUE(change_selection_mode(_selection_mode_attack));
    EXPECT_FALSE(change_selection_mode(_selection_mode_yell)) << "chat needs a network game";
    EXPECT_FALSE(change_selection_mode(_selection_mode_ally)) << "ally needs a network game";
    game_->type = _game_type_networked;
    EXPECT_TRUE(change_selection_mode(_selection_mode_yell));
    game_->option_flags |= _game_option_allow_alliances_flag;
    EXPECT_FALSE(change_selection_mode(_selection_mode_ally)) << "two teams only";
    game_->type = _game_type_replay;
    EXPECT_FALSE(change_selection_mode(_selection_mode_recall_preset)) << "a film allows only none";
    EXPECT_TRUE(change_selection_mode(_selection_mode_none));
    game_->type = _game_type_local;
    select_nothing();
    EXPECT_FALSE(change_selection_mode(_selection_mode_attack)) << "needs a selection";
    EXPECT_EQ(get_selection_globals()->mode, _selection_mode_none);
}

TEST_F(selection_test, a_death_with_presets_cleared_leaves_every_list_and_one_without_keeps_presets)
{
    select({mine[0], mine[1]});
    set_preset_selection(3);
    outgoing();
    remove_monster_index_from_all_selections(mine[0], 0);
    EXPECT_EQ(find_monster_index_in_current_selection(mine[0]), -1);
    EXPECT_EQ(get_selection_globals()->preset_selections[3].count, 2) << "kept without the flag";
    remove_monster_index_from_all_selections(mine[1], _monster_died_clear_presets_flag);
    EXPECT_EQ(get_selection_globals()->preset_selections[3].count, 1);
    EXPECT_EQ(get_current_selection_count(), 0);

    const int16_t identifiers[] = {unit(mine[2])->identifier, 999, unit(mine[3])->identifier};
    set_preset_selection_by_identifiers(5, 3, identifiers);
    EXPECT_EQ(get_selection_globals()->preset_selections[5].count, 2);
    set_preset_selection_by_identifiers(16, 3, identifiers);
    set_preset_selection_by_identifiers(-1, 3, identifiers);
    recall_preset_selection(5, nullptr);
    EXPECT_EQ(get_current_selection_count(), 2);
}

TEST_F(selection_test, a_click_selects_a_unit_and_a_ground_click_sends_one_movement_command)
{
    click(screen_of(mine[0]));
    EXPECT_EQ(get_current_selection_count(), 1);
    EXPECT_EQ(get_current_selection_index(0), mine[0]);
    EXPECT_TRUE(outgoing().empty());

    const point2d there = ground(6144, 5632);
    wait(20);
    click(there);
    const auto commands = outgoing();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].verb, _command_movement);
    const std::vector<uint8_t> &b = commands[0].bytes;
    EXPECT_EQ(be16(b, 16), 1) << "one unit";
    EXPECT_EQ(be16(b, 18), unit(mine[0])->identifier);
    EXPECT_EQ(be16(b, 20), 1) << "one waypoint";

    // Shift collects without sending; a click near the first waypoint loops.
    wait(20);
    click(synthetic_frame::project(5120, 5120), {_shift_down_bit});
    wait(20);
    click(synthetic_frame::project(6144, 5120), {_shift_down_bit});
    EXPECT_TRUE(outgoing().empty());
    wait(20);
    click(synthetic_frame::project(5130, 5120));
    const auto loop = outgoing();
    ASSERT_EQ(loop.size(), 1u);
    EXPECT_EQ(be16(loop[0].bytes, 8) & _command_movement_loop_flag, _command_movement_loop_flag);
}

TEST_F(selection_test, select_all_twice_empties_and_general_keys_send_their_type)
{
    action_data all = action({0, 0}, {_selection_all_bit});
    update_selection(&all);
    EXPECT_EQ(get_current_selection_count(), 6);
    static std::vector<std::string> printed;
    printed.clear();
    static const console_procedures console = {.print_to_console = [](const char *text) { printed.push_back(text); }};
    register_console_procedures(&console);
    update_selection(&all);
    EXPECT_EQ(get_current_selection_count(), 0);
    EXPECT_EQ(printed, std::vector<std::string>{"Selection emptied."}) << "the second press says what it did";

    select({mine[0], mine[1]});
    action_data retreat = action({0, 0}, {_selection_retreat_bit});
    update_selection(&retreat);
    const auto commands = outgoing();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].verb, _command_general);
    EXPECT_EQ(be16(commands[0].bytes, 10), _command_general_retreat);

    select({mine[0]});
    selection_rotate(true);
    EXPECT_TRUE(outgoing().empty()) << "a single unit cannot rotate";
}

TEST_F(selection_test, nothing_happens_before_a_frame_is_drawn)
{
    install_test_render_frame(nullptr, nullptr);
    action_data all = action({0, 0}, {_selection_all_bit});
    EXPECT_FALSE(update_selection(&all));
    EXPECT_EQ(get_current_selection_count(), 0);
}

} // namespace

} // namespace selection_test_file
