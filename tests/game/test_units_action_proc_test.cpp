// The unit test 'tuni': the empty-list matrix across 1710/1711, which of the
// per-unit thresholds is read, the local-only selection test, the tests that
// replace every earlier result, the power ratio's boundary, the averages over
// the largest list seen, 'devi' on the first trigger, the circle without a
// radius, the '#glo' record, the 'clos' draws against a known seed, and the
// power tests (with the geometry filter's) weighing units by their type.

#include "script_unit_world.h"

#include "support/expected_assertions.h"

#include <functional>

#include "game_records.h"
#include "commands.h"
#include "map_actions/test_units_action_proc.h"
#include "monster_commands.h"
#include "recording_procedures.h"
#include "unit_commands.h"

namespace test_units_action_proc_test_file {

namespace {

constexpr uint32_t ran = _map_action_proc_executed_flag;
constexpr uint32_t passed = _map_action_proc_executed_flag | _map_action_proc_succeeded_flag;

class test_units_action_proc_test : public script_unit_world
{
protected:
    // Imports one 'tuni' (identifier 1) built by `build` and triggers it.
    uint32_t run(const std::function<void(test_action &)> &build)
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action tuni{1, four("tuni")};
        build(tuni);
        EXPECT_TRUE(import_test_actions({tuni}));
        return trigger_map_action(0);
    }
};

TEST_F(test_units_action_proc_test, an_empty_list_fails_waypoint_and_unit_tests_only_from_1711)
{
    place_unit(1, {3000, 3000}, 77); // an enemy for 'same', 'diff' and 'clos'
    struct row
    {
        const char *name;
        std::function<void(test_action &)> build;
        uint32_t at_1710, at_1711;
    };
    const std::vector<row> rows = {
        {"count equal 0", [](test_action &a) { a.ints(four("___="), {0}); }, passed, passed},
        {"count above 0", [](test_action &a) { a.ints(four("___>"), {0}); }, ran, ran},
        {"fwan", [](test_action &a) { points(a, "fwan", {{100, 100}}); }, passed, ran},
        {"ammo", [](test_action &a) { a.ints(four("ammo"), {0}); }, passed, ran},
        {"taun", [](test_action &a) { a.flag(four("taun")); }, ran, ran},
        {"hold", [](test_action &a) { names(a, "hold", {"pra0"}); }, ran, ran},
        {"holi", [](test_action &a) { names(a, "holi", {"pra0"}); }, ran, ran},
        {"user", [](test_action &a) { a.flag(four("user")); }, ran, ran},
        {"same, empty enem", [](test_action &a) { a.flag(four("same")); }, passed, passed},
        {"same, an enemy", [](test_action &a) { a.flag(four("same")).units(four("enem"), {77}); }, ran, ran},
        {"diff", [](test_action &a) { a.flag(four("diff")).units(four("enem"), {77}); }, ran, ran},
        {"clos", [](test_action &a) { a.ints(four("clos"), {100000}, _parameter_world_distance); }, ran, ran},
    };
    for (int32_t version : {1710, 1711})
    {
        current_gameplay_version = version;
        for (const row &r : rows)
        {
            SCOPED_TRACE(std::string(r.name) + " at " + std::to_string(version));
            const uint32_t result = run([&](test_action &a) {
                a.units(four("subj"), {999}); // names no unit
                r.build(a);
            });
            EXPECT_EQ(result, version == 1710 ? r.at_1710 : r.at_1711);
        }
    }
}

TEST_F(test_units_action_proc_test, only_the_first_per_unit_threshold_present_is_read)
{
    const int32_t soldier = place_unit(0, {2000, 2000}, 10);
    monster(soldier)->ammunition_count = 5;
    monster(soldier)->experience = 0;
    monster(soldier)->mana = 0;
    definition()->maximum_mana = 256;
    // 'exp>' 10 would fail; it is not read when 'ammo' is there.
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("ammo"), {3}).ints(four("exp>"), {10}); }),
              passed);
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("exp>"), {10}); }), ran);
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("ammo"), {5}); }), ran);
    // With 'mana' present 'chr>' is not read (the unit carries no artifact).
    EXPECT_EQ(run([](test_action &a) {
                  a.units(four("subj"), {10}).fixeds(four("mana"), {-1}).ints(four("chr>"), {3});
              }),
              passed);
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("chr>"), {3}); }), ran);
}

// Before 1830 'sele' reads this machine's selection, in a local game only;
// from 1830 it reads the selection reports the command stream carries, so a
// film (and a network game, which reports none) computes what the game did.
// From 1840 it counts in a single-player game and its films before any
// report too (nothing is selected then), and never in a network game.
TEST_F(test_units_action_proc_test, selection_counts_as_the_game_reported_it)
{
    place_unit(0, {2000, 2000}, 10); // not selected here
    place_unit(0, {2100, 2000}, 11);
    ASSERT_TRUE(initialize_commands());
    ASSERT_TRUE(initialize_commands_for_new_map());
    register_monster_command_hooks();
    const auto report = [](int16_t identifier) {
        ASSERT_TRUE(queue_selection_report_command(1, &identifier));
        queue_local_commands(game_->game_time, 0);
        execute_monster_commands();
    };
    const auto selected = [](test_action &a) { a.units(four("subj"), {10}).flag(four("sele")); };
    local_player_index = 0; // the films are a single-player game's
    static const recording_procedures films = {.replay_game_type = [] { return (int16_t)_game_type_local; }};
    ASSERT_TRUE(register_recording_procedures(&films));
    struct row
    {
        const char *state;
        int32_t version;
        int16_t reported; // NONE: no report yet
        uint32_t local, networked, film;
    } rows[] = {
        {"before the reports", 1825, NONE, ran, passed, passed},
        {"no report yet, from 1840", 1840, NONE, ran, passed, ran},
        {"no report yet", 1830, NONE, passed, passed, passed},
        {"another unit reported", 1830, 11, ran, ran, ran},
        {"another unit reported, from 1840", 1840, NONE, ran, passed, ran},
        {"the unit reported", 1830, 10, passed, passed, passed},
        {"the unit reported, from 1840", 1840, NONE, passed, passed, passed},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.state);
        current_gameplay_version = r.version;
        if (r.reported != NONE) report(r.reported);
        const int16_t types[] = {_game_type_local, _game_type_networked, _game_type_replay};
        const uint32_t results[] = {r.local, r.networked, r.film};
        for (int32_t i = 0; i < 3; ++i)
        {
            game_->type = types[i];
            EXPECT_EQ(run(selected), results[i]) << types[i];
        }
    }
    local_player_index = NONE;
}

TEST_F(test_units_action_proc_test, user_order_and_a_close_enemy_replace_earlier_failures)
{
    const int32_t soldier = place_unit(0, {2000, 2000}, 10);
    place_unit(1, {2050, 2000}, 20);
    // A count of 5 fails; 'user' decides instead.
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("___="), {5}).flag(four("user")); }), ran);
    monster(soldier)->flags |= _monster_has_received_user_command_flag;
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("___="), {5}).flag(four("user")); }),
              passed);
    // The enemy 50 away is within the minimum: no draw, success.
    const uint32_t seed = get_random_seed();
    EXPECT_EQ(run([](test_action &a) {
                  a.units(four("subj"), {10}).ints(four("___="), {5}).ints(four("clos"), {100},
                                                                             _parameter_world_distance);
              }),
              passed);
    EXPECT_EQ(get_random_seed(), seed);
    // 'clos' comes after 'user': a failed 'user' is replaced in turn.
    monster(soldier)->flags &= ~_monster_has_received_user_command_flag;
    EXPECT_EQ(run([](test_action &a) {
                  a.units(four("subj"), {10}).flag(four("user")).ints(four("clos"), {100}, _parameter_world_distance);
              }),
              passed);
}

TEST_F(test_units_action_proc_test, an_equal_power_ratio_passes_both_comparisons)
{
    place_unit(0, {2000, 2000}, 10);
    place_unit(0, {2100, 2000}, 11);
    place_unit(1, {2200, 2000}, 20);
    place_unit(1, {2300, 2000}, 21);
    const auto ratio = [](const char *name, int32_t value) {
        return [=](test_action &a) { a.units(four("subj"), {10, 11, 20, 21}).fixeds(four(name), {value}); };
    };
    EXPECT_EQ(run(ratio("por<", 65536)), passed);
    EXPECT_EQ(run(ratio("por>", 65536)), passed);
    EXPECT_EQ(run(ratio("por<", 65535)), ran);
    EXPECT_EQ(run(ratio("por>", 65537)), ran);
    // No unit of team 1: the ratio is the largest value.
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).fixeds(four("por>"), {0x7FFFFFFF}); }), passed);
}

// One blade of power 10 on team 0 against two bows of power 3 on team 1:
// counted by units team 0 would be the weaker side.
TEST_F(test_units_action_proc_test, power_tests_weigh_each_unit_by_its_types_combined_power)
{
    definition()->combined_power = 10;
    int16_t bow_unit = NONE;
    const int16_t bow = add_monster_type(&bow_unit);
    get_monster_definition(bow)->combined_power = 3;
    monster(make_unit(0, {2000, 2000, 0}))->identifier = 10;
    monster(make_unit(1, {2200, 2000, 0}, bow, bow_unit))->identifier = 20;
    monster(make_unit(1, {2400, 2000, 0}, bow, bow_unit))->identifier = 21;
    struct row
    {
        const char *name;
        int32_t value; // 16.16
        uint32_t result;
    } rows[] = {
        {"por>", 65536, passed}, // 10/6
        {"por<", 98304, ran},
        {"por<", 114688, passed},
        {">pow", 5 * 65536, passed}, // 16/3 a unit
        {"<pow", 5 * 65536, ran},
        {"<pow", 6 * 65536, passed},
    };
    for (const row &r : rows)
        EXPECT_EQ(run([&](test_action &a) { a.units(four("subj"), {10, 20, 21}).fixeds(four(r.name), {r.value}); }),
                  r.result)
            << r.name << " " << r.value;

    // The geometry filter keeps the units whose own power passes.
    const struct
    {
        const char *name;
        std::vector<int16_t> kept;
    } filters[] = {{"pow>", {10}}, {"pow<", {20, 21}}};
    for (const auto &f : filters)
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action geom{1, four("geom")};
        geom.units(four("subj"), {10, 20, 21}).flag(four("_map")).ids(four("resu"), {2}).ints(four(f.name), {5});
        names(geom, "insi", {"in__"});
        ASSERT_TRUE(import_test_actions({geom, test_action{2, (action_tag)NONE}}));
        trigger_map_action(0);
        EXPECT_EQ(unit_list(1, "in__"), f.kept) << f.name;
    }
}

TEST_F(test_units_action_proc_test, averages_divide_by_the_largest_list_seen_and_the_record_keeps_it)
{
    for (int16_t i = 0; i < 4; i++) place_unit(0, {2000 + i * 100, 2000}, (int16_t)(10 + i));
    test_action tuni{1, four("tuni")};
    tuni.units(four("subj"), {10, 11, 12, 13}).fixeds(four(">vit"), {32767}).fixeds(four("<vit"), {32769});
    ASSERT_TRUE(import_test_actions({tuni}));
    EXPECT_EQ(trigger_map_action(0), ran); // four at full health: 65536
    test_unit_globals globals;
    ASSERT_TRUE(get_map_action_structure(0, _common_internal_field_name_globals, sizeof(globals), &globals));
    EXPECT_EQ(globals.maximum_monster_count, 4);

    delete_monster(index_of(12), false);
    delete_monster(index_of(13), false);
    EXPECT_EQ(trigger_map_action(0), passed); // two of four: 32768
    ASSERT_TRUE(get_map_action_structure(0, _common_internal_field_name_globals, sizeof(globals), &globals));
    EXPECT_EQ(globals.maximum_monster_count, 4);
    EXPECT_EQ(values_of<uint8_t>(0, _common_internal_field_name_globals, _parameter_character).size(), 8u);
}

TEST_F(test_units_action_proc_test, health_change_fails_on_the_first_trigger_after_activation)
{
    const int32_t soldier = place_unit(0, {2000, 2000}, 10);
    test_action tuni{1, four("tuni")};
    tuni.units(four("subj"), {10}).fixeds(four("devi"), {1000});
    ASSERT_TRUE(import_test_actions({tuni}));
    activate_map_action(0);
    body(soldier)->vitality = 10000; // already hurt: still a failure, the reference is taken
    EXPECT_EQ(trigger_map_action(0), ran);
    EXPECT_EQ(trigger_map_action(0), ran); // unchanged since
    body(soldier)->vitality = 5000;
    EXPECT_EQ(trigger_map_action(0), passed); // moved by a quarter
}

TEST_F(test_units_action_proc_test, a_one_point_circle_without_radius_keeps_nothing_reversed_everything_visible)
{
    place_unit(0, {2000, 2000}, 10);
    const int32_t hidden = place_unit(0, {2100, 2000}, 11);
    body(hidden)->flags |= _object_is_invisible_flag;
    const auto circle = [](bool reversed) {
        return [=](test_action &a) {
            a.units(four("subj"), {10, 11});
            points(a, "radi", {{2000, 2000}});
            if (reversed) a.flag(four("repo"));
            a.ints(four("___="), {reversed ? 1 : 0});
        };
    };
    EXPECT_EQ(run(circle(false)), passed);
    EXPECT_EQ(run(circle(true)), passed);
    // Two points: the radius reaches the rim.
    EXPECT_EQ(run([](test_action &a) {
                  a.units(four("subj"), {10});
                  points(a, "radi", {{1900, 2000}, {2200, 2000}});
                  a.ints(four("___="), {1});
              }),
              passed);
}

// Three enemies 600 from the unit with radii 100..1100: each draw passes when
// its high byte is below (500 * 256) / 1000 = 128.  The search stops at the
// first close enemy; the draws taken are exactly those before it.
TEST_F(test_units_action_proc_test, close_enemy_search_draws_once_per_candidate_in_list_order)
{
    place_unit(0, {2000, 2000}, 10);
    place_unit(1, {2600, 2000}, 20);
    place_unit(1, {2000, 2600}, 21);
    place_unit(1, {1400, 2000}, 22);
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u})
    {
        SCOPED_TRACE(seed);
        set_random_seed(seed);
        std::vector<uint16_t> draws;
        for (int i = 0; i < 5; i++) draws.push_back(vesk_random());
        int32_t taken = 0;
        bool found = false;
        while (taken < 3 && !found) found = ((draws[taken++] >> 8) & 0xFF) < 128;

        set_random_seed(seed);
        const uint32_t result = run([](test_action &a) {
            a.units(four("subj"), {10}).units(four("enem"), {20, 21, 22});
            a.ints(four("clos"), {100, 1100}, _parameter_world_distance);
        });
        EXPECT_EQ(result, found ? passed : ran);
        EXPECT_EQ(vesk_random(), draws[taken]);
    }
}

// Without 'enem' every other team's unit is a candidate, in slot order; an
// ambient-life unit takes its draw but is no enemy.
TEST_F(test_units_action_proc_test, close_search_without_an_enemy_list_skips_own_team_and_ambient_life)
{
    place_unit(0, {2000, 2000}, 10);
    place_unit(0, {2010, 2000}, 11); // own team, inside the minimum: not a candidate
    place_unit(1, {2050, 2000}, 20);
    definition()->monster_class = _monster_class_ambient_life;
    set_random_seed(9);
    const uint32_t seed = get_random_seed();
    EXPECT_EQ(run([](test_action &a) { a.units(four("subj"), {10}).ints(four("clos"), {10, 1000}, _parameter_world_distance); }),
              ran);
    set_random_seed(seed);
    vesk_random();
    const uint16_t after_one = vesk_random();
    set_random_seed(seed);
    run([](test_action &a) { a.units(four("subj"), {10}).ints(four("clos"), {10, 1000}, _parameter_world_distance); });
    EXPECT_EQ(vesk_random(), after_one); // the animal's draw was taken
}

} // namespace

} // namespace test_units_action_proc_test_file
