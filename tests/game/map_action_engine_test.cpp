// The engine: passes every 32 ticks, activation and deactivation lists,
// triggers and their stack, the deactivation modes, the version gates of
// the table and of a slot freed during its own trigger; and the flow-control
// and math procedures that need no units.

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "cseries/errors.h"
#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_block_writer.h"
#include "map_actions/action_procs.h"
#include "map_actions/flow_control_action_procs.h"
#include "map_actions/math_action_proc.h"
#include "map_actions/script_math.h"
#include "players.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "vesk_random.h"

namespace map_action_engine_test_file {

namespace {

std::vector<std::pair<int16_t, int32_t>> runs; // (identifier, game time) of each procedure run

uint32_t recording_proc(int32_t action_index)
{
    runs.push_back({get_map_action_identifier(action_index), game_->game_time});
    int32_t result = 0;
    get_indexed_long_integer_parameter(action_index, four("rslt"), _parameter_integer, &result, 0);
    return (uint32_t)result;
}

uint32_t deleting_proc(int32_t action_index)
{
    recording_proc(action_index);
    delete_map_action(action_index);
    return 0;
}

const registered_map_action_proc test_rows[] = {
    {FOUR_CHARACTER_CODE('d', 'e', 'l', 'e'), deleting_proc, "deleting_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'o', 'c', 'a'), recording_proc, "recording_proc", 0, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('r', 'e', 'c', 'd'), recording_proc, "recording_proc", 0, 0},
};

class map_action_engine_test : public ::testing::Test
{
protected:
    int32_t saved_version = current_gameplay_version;
    void SetUp() override
    {
        reset_game_core();
        ASSERT_TRUE(initialize_map_actions());
        initialize_map_actions_for_new_map();
        game_->game_time = 0;
        game_->type = _game_type_local;
        current_gameplay_version = 1820;
        set_random_seed(77);
        set_action_proc_table_for_tests(test_rows, NUMBER_OF(test_rows));
        runs.clear();
    }
    void TearDown() override
    {
        set_action_proc_table_for_tests(nullptr, 0);
        dispose_map_actions_from_old_map();
        current_gameplay_version = saved_version;
        clear_pending_error();
    }
    // Runs the passes from the current time to `last` (the map start's extra
    // pass included when starting at 0).
    void run_until(int32_t last)
    {
        if (game_->game_time == 0) update_map_actions();
        for (; game_->game_time <= last; game_->game_time++) update_map_actions();
        game_->game_time = last + 1;
    }
    std::vector<int32_t> times_of(int16_t identifier)
    {
        std::vector<int32_t> times;
        for (auto &[id, time] : runs)
            if (id == identifier) times.push_back(time);
        return times;
    }
    uint32_t flags_of(int32_t index) { return get_map_action(index)->flags; }
};

test_action recorder(int16_t identifier, uint32_t flags = 0, int16_t mode = _map_action_deactivates_never)
{
    test_action a{identifier, four("recd")};
    a.flags = flags;
    a.mode = mode;
    return a;
}

TEST_F(map_action_engine_test, two_passes_run_at_game_time_0_then_one_every_32_ticks)
{
    ASSERT_TRUE(import_test_actions({recorder(1, _map_action_initially_active_flag | _map_action_no_initial_delay_flag)}));
    run_until(70);
    EXPECT_EQ(times_of(1), (std::vector<int32_t>{0, 0, 32, 64}));
}

TEST_F(map_action_engine_test, an_action_activated_in_a_pass_runs_in_it_only_when_its_slot_comes_later)
{
    test_action before = recorder(1), activator = recorder(2, _map_action_initially_active_flag), after = recorder(3);
    activator.lower = 64;
    activator.ids(_map_action_field_name_activate_on_trigger, {1, 3});
    activator.mode = _map_action_deactivates_on_trigger;
    test_action late = recorder(4, _map_action_initially_active_flag, _map_action_deactivates_on_trigger);
    late.lower = 40;
    ASSERT_TRUE(import_test_actions({before, activator, after, late}));
    run_until(130);
    EXPECT_EQ(times_of(2), (std::vector<int32_t>{64}));
    EXPECT_EQ(times_of(3), (std::vector<int32_t>{64, 96, 128}));
    EXPECT_EQ(times_of(1), (std::vector<int32_t>{96, 128}));
    EXPECT_EQ(times_of(4), (std::vector<int32_t>{64})) << "a trigger time of 40 is reached at 64";
}

TEST_F(map_action_engine_test, each_mode_deactivates_by_the_result_of_the_run)
{
    const int32_t results[5] = {0, 1, 3, 5, 7};
    const bool expected[5][5] = {
        {true, true, true, true, true},     // on trigger
        {true, true, true, true, true},     // on execution (the engine adds bit 0)
        {false, false, true, true, true},   // on successful execution
        {false, false, false, true, true},  // never, unless the procedure asks
        {true, true, false, true, true},    // on failed execution
    };
    for (int16_t mode = 0; mode < NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES; mode++)
        for (int32_t r = 0; r < 5; r++)
        {
            dispose_map_actions_from_old_map();
            initialize_map_actions_for_new_map();
            game_->game_time = 0;
            test_action a = recorder(1, _map_action_initially_active_flag | _map_action_no_initial_delay_flag, mode);
            a.ints(four("rslt"), {results[r]});
            ASSERT_TRUE(import_test_actions({a}));
            update_map_actions();
            EXPECT_EQ((flags_of(0) & _map_action_is_active_flag) == 0, expected[mode][r])
                << "mode " << mode << " result " << results[r];
            EXPECT_EQ((flags_of(0) & _map_action_succeeded_flag) != 0, (results[r] & 2) != 0);
        }
}

TEST_F(map_action_engine_test, prerequisites_and_inhibitors_decide_in_entry_order)
{
    test_action done = recorder(1), idle = recorder(2), gate = recorder(3, _map_action_initially_active_flag);
    gate.ids(_map_action_field_name_prerequisites, {2, 1});
    test_action blocked = recorder(4, _map_action_initially_active_flag);
    blocked.ids(_map_action_field_name_inhibitors, {1})
        .ids(_map_action_field_name_prerequisites, {2})
        .ids(_map_action_field_name_activate_when_inhibited, {5})
        .ids(_map_action_field_name_activate_when_missing_prerequisites, {6});
    ASSERT_TRUE(import_test_actions({done, idle, gate, blocked, recorder(5), recorder(6)}));
    get_map_action(0)->flags |= _map_action_succeeded_flag;
    update_map_actions();
    EXPECT_EQ(times_of(3).size(), 1u) << "one succeeded action of the list is enough";
    EXPECT_TRUE(times_of(4).empty());
    EXPECT_TRUE(flags_of(4) & _map_action_is_active_flag) << "'acin' ran";
    EXPECT_FALSE(flags_of(5) & _map_action_is_active_flag) << "'acmp' did not";
}

TEST_F(map_action_engine_test, a_simultaneous_trigger_runs_an_inactive_action_without_touching_it)
{
    test_action a = recorder(1, _map_action_initially_active_flag | _map_action_no_initial_delay_flag);
    a.ids(_map_action_field_name_trigger_simultaneously, {2});
    test_action b = recorder(2);
    b.ints(four("rslt"), {2});
    ASSERT_TRUE(import_test_actions({a, b}));
    get_map_action(1)->trigger_time = 1234;
    update_map_actions();
    EXPECT_EQ(times_of(2).size(), 1u);
    EXPECT_FALSE(flags_of(1) & (_map_action_is_active_flag | _map_action_succeeded_flag));
    EXPECT_EQ(get_map_action(1)->trigger_time, 1234);
}

TEST_F(map_action_engine_test, triggers_nest_four_deep_and_never_recurse)
{
    std::vector<test_action> chain;
    for (int16_t i = 1; i <= 5; i++)
    {
        test_action a = recorder(i, i == 1 ? _map_action_initially_active_flag | _map_action_no_initial_delay_flag : 0);
        a.ids(_map_action_field_name_trigger_simultaneously, {(int16_t)(i + 1), 1});
        chain.push_back(a);
    }
    ASSERT_TRUE(import_test_actions(chain));
    update_map_actions();
    for (int16_t i = 1; i <= 4; i++) EXPECT_EQ(times_of(i).size(), 1u) << i;
    EXPECT_TRUE(times_of(5).empty());
    EXPECT_EQ(get_map_action_globals()->trigger_stack_size, 0);
}

TEST_F(map_action_engine_test, a_cycle_through_activation_and_deactivation_lists_ends_as_the_acyclic_script)
{
    test_action a = recorder(1, _map_action_initially_active_flag), b = recorder(2);
    a.lower = b.lower = 1000;
    a.ids(_map_action_field_name_activate_on_activation, {2});
    a.ids(_map_action_field_name_deactivate_on_deactivation, {2});
    test_action cyclic_b = b;
    cyclic_b.ids(_map_action_field_name_activate_on_activation, {1});
    cyclic_b.ids(_map_action_field_name_deactivate_on_deactivation, {1});
    for (const test_action &second : {b, cyclic_b})
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        game_->game_time = 0;
        ASSERT_TRUE(import_test_actions({a, second}));
        update_map_actions();
        EXPECT_TRUE(flags_of(0) & _map_action_is_active_flag);
        EXPECT_TRUE(flags_of(1) & _map_action_is_active_flag);
        deactivate_map_action(0);
        EXPECT_FALSE(flags_of(0) & _map_action_is_active_flag);
        EXPECT_FALSE(flags_of(1) & _map_action_is_active_flag);
        EXPECT_FALSE(map_action_is_in_transition(0) || map_action_is_in_transition(1));
    }
}

TEST_F(map_action_engine_test, a_slot_freed_in_its_own_trigger_draws_below_1720_and_is_never_touched_again)
{
    const int32_t versions[3] = {1719, 1720, 1721};
    const uint32_t draws[3] = {1, 0, 0};
    for (int32_t v = 0; v < 3; v++)
        for (int16_t mode : {(int16_t)_map_action_deactivates_never, (int16_t)_map_action_deactivates_on_trigger})
        {
            dispose_map_actions_from_old_map();
            initialize_map_actions_for_new_map();
            game_->game_time = 0;
            current_gameplay_version = versions[v];
            test_action a{1, four("dele")};
            a.flags = _map_action_initially_active_flag | _map_action_no_initial_delay_flag |
                      _map_action_deleted_on_deactivation_flag;
            a.mode = mode;
            a.delta = 100;
            ASSERT_TRUE(import_test_actions({a}));
            reset_random_draw_counts();
            update_map_actions();
            EXPECT_EQ(get_vesk_random_draw_count(), mode == _map_action_deactivates_never ? draws[v] : 0u)
                << versions[v] << " mode " << mode;
            EXPECT_EQ(get_map_action(0), nullptr);
        }
}

TEST_F(map_action_engine_test, local_procedures_restricted_to_other_players_run_as_unsuccessful_from_1721)
{
    local_player_index = 0;
    for (int32_t version : {1720, 1721})
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        game_->game_time = 0;
        current_gameplay_version = version;
        runs.clear();
        test_action a{1, four("loca")};
        a.flags = _map_action_initially_active_flag | _map_action_no_initial_delay_flag;
        a.mode = _map_action_deactivates_on_successful_execution;
        a.ints(four("rslt"), {2}).ints(_common_field_name_player_restriction_list, {3});
        ASSERT_TRUE(import_test_actions({a}));
        update_map_actions();
        EXPECT_EQ(runs.size(), version == 1720 ? 1u : 0u);
        EXPECT_EQ((flags_of(0) & _map_action_is_active_flag) != 0, version == 1721);
    }
}

TEST_F(map_action_engine_test, a_demo_game_sends_one_team_per_step)
{
    set_minimum_team_count(3);
    EXPECT_EQ(demo_attacking_team_index(96), 0);
    EXPECT_EQ(demo_attacking_team_index(128), 1);
    EXPECT_EQ(demo_attacking_team_index(160), 2);
    game_->type = _game_type_demo;
    ASSERT_TRUE(import_test_actions({recorder(1, _map_action_initially_active_flag | _map_action_no_initial_delay_flag)}));
    update_map_actions();
    EXPECT_TRUE(runs.empty()) << "no action is triggered in a demo";
}

TEST_F(map_action_engine_test, reboot_removes_only_run_time_entries_and_activates_again)
{
    test_action a = recorder(1, _map_action_initially_active_flag);
    a.ints(four("keep"), {1}).ints(four("#run"), {2}).ints(four("more"), {3});
    ASSERT_TRUE(import_test_actions({a}));
    update_map_actions();
    deactivate_map_action(0);
    reboot_map_action(0);
    EXPECT_EQ(get_map_action(0)->parameter_count, 2);
    EXPECT_TRUE(flags_of(0) & _map_action_is_active_flag);
}

// ---- the table ---------------------------------------------------------------------------------

TEST(action_procs, every_tag_is_found_only_above_its_version)
{
    initialize_action_procs();
    const int32_t saved = current_gameplay_version;
    int32_t count = 0;
    const registered_map_action_proc *rows = get_registered_map_action_procs(&count);
    ASSERT_EQ(count, 62);
    for (int32_t version : {1600, 1601, 1720, 1721})
    {
        current_gameplay_version = version;
        for (int32_t i = 0; i < count; i++)
            EXPECT_EQ(action_tag_to_action_proc(rows[i].tag) != nullptr, version > rows[i].implemented_after_gameplay_version)
                << tag_to_string(rows[i].tag) << " at " << version;
        EXPECT_EQ(action_tag_to_action_proc(four("zzzz")), nullptr);
        EXPECT_EQ(action_tag_to_action_proc(NONE), nullptr);
        EXPECT_EQ(action_tag_to_action_proc(four("atub")), nullptr);
    }
    current_gameplay_version = 1600;
    EXPECT_EQ(action_tag_to_action_proc(four("math")), nullptr);
    current_gameplay_version = 1720;
    EXPECT_EQ(action_tag_to_action_proc(four("end2")), nullptr);
    current_gameplay_version = saved;
}

// ---- procedures without units ----------------------------------------------------------------

class script_procedure_test : public map_action_engine_test
{
protected:
    void SetUp() override
    {
        map_action_engine_test::SetUp();
        set_action_proc_table_for_tests(nullptr, 0);
    }
    int32_t result_of(int32_t action_index, const char *name, int16_t type = _parameter_integer)
    {
        int32_t value = 12345;
        EXPECT_TRUE(get_indexed_long_integer_parameter(action_index, four(name), type, &value, 0)) << name;
        return value;
    }
};

TEST_F(script_procedure_test, math_follows_its_table)
{
    struct case_data
    {
        const char *what;
        void (*build)(test_action *a);
        uint32_t result;
        int32_t resu;
        int32_t refx;
    };
    const case_data cases[] = {
        {"no operator passes the left", [](test_action *a) { a->ints(four("lint"), {0}); }, 0, 0, 0},
        {"1.5 * -1.5", [](test_action *a) { a->fixeds(four("lfix"), {98304}).fixeds(four("rfix"), {-98304}).flag(four("*___")); }, 2, -3, -147456},
        {"-7 % 2", [](test_action *a) { a->ints(four("lint"), {-7}).ints(four("rint"), {2}).flag(four("%___")); }, 2, -1, -65536},
        {"the first operator", [](test_action *a) { a->ints(four("lint"), {5}).ints(four("rint"), {3}).flag(four("-___")).flag(four("+___")); }, 2, 8, 8 << 16},
        {"INT32_MIN % -1", [](test_action *a) { a->ints(four("lint"), {INT32_MIN}).ints(four("rint"), {-1}).flag(four("%___")); }, 0, 0, 0},
        {"7.5 / 2", [](test_action *a) { a->fixeds(four("lfix"), {7 * 65536 + 32768}).ints(four("rint"), {2}).flag(four("div_")); }, 2, 3, 3 << 16},
        {"not and negate", [](test_action *a) { a->ints(four("lint"), {0}).flag(four("lnot")).flag(four("lneg")); }, 2, -1, -65536},
        {"an identifier naming no action", [](test_action *a) { a->ids(four("lact"), {77}).ints(four("lfld"), {(int32_t)four("resu")}, _parameter_field_name); }, 0, 0, 0},
        // The left operand read from the action itself: its own results, an
        // empty first entry (the first value of that name is read instead),
        // a flag of the name (no number: nothing to sum).
        {"its own fixed result", [](test_action *a) { a->ids(four("lact"), {1}).ints(four("lfld"), {(int32_t)four("refx")}, _parameter_field_name).fixeds(four("refx"), {98304}).ints(four("rint"), {1}).flag(four("+___")); }, 2, 2, 163840},
        {"an empty result, then 4", [](test_action *a) { a->ids(four("lact"), {1}).ints(four("lfld"), {(int32_t)four("resu")}, _parameter_field_name).ints(four("resu"), {}).ints(four("resu"), {4}).ints(four("rint"), {1}).flag(four("+___")); }, 2, 5, 5 << 16},
        {"a flag of the name", [](test_action *a) { a->ids(four("lact"), {1}).ints(four("lfld"), {(int32_t)four("coun")}, _parameter_field_name).flag(four("coun")).ints(four("rint"), {1}).flag(four("+___")); }, 2, 1, 1 << 16},
        {"a fixed value of another name", [](test_action *a) { a->ids(four("lact"), {1}).ints(four("lfld"), {(int32_t)four("coun")}, _parameter_field_name).fixeds(four("coun"), {-32768}).ints(four("rint"), {1}).flag(four("+___")); }, 2, 0, 32768},
    };
    for (const case_data &c : cases)
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action a{1, four("math")};
        c.build(&a);
        ASSERT_TRUE(import_test_actions({a}));
        EXPECT_EQ(math_action_proc(0), c.result) << c.what;
        EXPECT_EQ(result_of(0, "resu"), c.resu) << c.what;
        EXPECT_EQ(result_of(0, "refx", _parameter_fixed), c.refx) << c.what;
    }
}

TEST_F(script_procedure_test, math_refuses_division_by_zero_without_storing)
{
    test_action a{1, four("math")};
    a.ints(four("lint"), {7}).fixeds(four("rfix"), {32768}).flag(four("%___")).ints(four("resu"), {99});
    ASSERT_TRUE(import_test_actions({a}));
    EXPECT_EQ(math_action_proc(0), 0u);
    EXPECT_EQ(result_of(0, "resu"), 99);
}

TEST_F(script_procedure_test, a_math_action_reading_its_own_result_counts_up)
{
    test_action a{1, four("math")};
    a.ids(four("lact"), {1}).ints(four("lfld"), {(int32_t)four("resu")}, _parameter_field_name).ints(four("rint"), {1}).flag(four("+___"));
    test_action d{2, four("recd")};
    a.ids(four("dact"), {2}).ints(four("dfld"), {(int32_t)four("coun")}, _parameter_field_name);
    ASSERT_TRUE(import_test_actions({a, d}));
    for (int32_t i = 0; i < 100; i++) math_action_proc(0);
    EXPECT_EQ(result_of(0, "resu"), 100);
    EXPECT_EQ(result_of(1, "coun"), 100);
}

TEST_F(script_procedure_test, the_portable_multiply_matches_a_128_bit_product)
{
    std::mt19937_64 random(5);
    for (int32_t i = 0; i < 2000; i++)
    {
        const int64_t a = (int64_t)random(), b = i % 3 ? (int64_t)random() >> (i % 40) : -(int64_t)(random() >> 20);
        const __int128 exact = (__int128)a * b;
        EXPECT_EQ(mul_32_32_fixed(a, b), (int64_t)(exact >> 32)) << a << " * " << b;
    }
}

TEST_F(script_procedure_test, an_action_list_with_chances_of_the_wrong_length_activates_everything)
{
    test_action list{1, four("acli")};
    list.ids(four("acti"), {2, 3, 4}).fixeds(four("acch"), {0, 0});
    ASSERT_TRUE(import_test_actions({list, recorder(2), recorder(3), recorder(4)}));
    reset_random_draw_counts();
    EXPECT_EQ(action_list_action_proc(0), 2u);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    for (int32_t i = 1; i <= 3; i++) EXPECT_TRUE(flags_of(i) & _map_action_is_active_flag);
}

TEST_F(script_procedure_test, a_random_action_list_draws_a_start_then_one_per_position_tried)
{
    test_action list{1, four("acli")};
    list.ids(four("acti"), {2, 3, 4}).fixeds(four("acch"), {0, 0, 0}).flag(four("rand"));
    ASSERT_TRUE(import_test_actions({list, recorder(2), recorder(3), recorder(4)}));
    reset_random_draw_counts();
    EXPECT_EQ(action_list_action_proc(0), 0u) << "chances of 0 never pass";
    EXPECT_EQ(get_vesk_random_draw_count(), 4u);
}

TEST_F(script_procedure_test, a_lock_looks_up_its_state_entry_by_the_number_of_open_keys)
{
    for (int32_t version : {1600, 1601})
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        current_gameplay_version = version;
        runs.clear();
        set_action_proc_table_for_tests(test_rows, NUMBER_OF(test_rows));
        test_action lock{1, four("lock")};
        lock.ids(four("keys"), {2, 3});
        lock.ids(version >= 1601 ? four("___2") : FOUR_CHARACTER_CODE(0, 0, 0, '2'), {4});
        test_action key_a = recorder(2), key_b = recorder(3);
        key_a.ints(four("rslt"), {2});
        key_b.ints(four("rslt"), {2});
        ASSERT_TRUE(import_test_actions({lock, key_a, key_b, recorder(4)}));
        EXPECT_EQ(lock_action_proc(0), 0u);
        EXPECT_EQ(times_of(4).size(), 1u) << version;
        lock_action_globals state;
        ASSERT_TRUE(get_map_action_structure(0, four("#sta"), sizeof(state), &state));
        EXPECT_EQ(state.current_lock_count, 2);
        lock_action_proc(0);
        EXPECT_EQ(times_of(4).size(), 1u) << "the count did not change";
        set_action_proc_table_for_tests(nullptr, 0);
    }
}

TEST_F(script_procedure_test, the_munger_gives_each_target_the_next_entry_and_survives_editing_itself)
{
    test_action munger{1, four("mung")};
    munger.ids(four("pins"), {2, 3}).ints(four("aaaa"), {1}).ints(four("bbbb"), {2, 3});
    munger.ids(four("pins"), {1}).text(four("self"), "grown").ids(four("adel"), {1}).ids(four("aact"), {2});
    ASSERT_TRUE(import_test_actions({munger, recorder(2), recorder(3)}));
    EXPECT_EQ(munger_action_proc(0), 0u);
    EXPECT_EQ(result_of(1, "aaaa"), 1);
    int32_t second = 0;
    EXPECT_TRUE(get_indexed_long_integer_parameter(2, four("bbbb"), _parameter_integer, &second, 1));
    EXPECT_EQ(second, 3);
    EXPECT_EQ(get_map_action(0), nullptr) << "the munger deleted itself";
    EXPECT_FALSE(flags_of(1) & _map_action_is_active_flag) << "the walk stopped with it";
}

TEST_F(script_procedure_test, reboot_in_a_munger_exists_from_1721)
{
    for (int32_t version : {1720, 1721})
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        current_gameplay_version = version;
        test_action munger{1, four("mung")};
        munger.ids(four("areb"), {2});
        test_action target = recorder(2);
        target.ints(four("#run"), {1});
        ASSERT_TRUE(import_test_actions({munger, target}));
        munger_action_proc(0);
        EXPECT_EQ(get_map_action(1)->parameter_count, version == 1720 ? 1 : 0) << version;
    }
}

} // namespace

} // namespace map_action_engine_test_file
