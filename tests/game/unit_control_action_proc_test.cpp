// Unit control ('ctrl') over a world of units: each gated change appears
// exactly above its version, markers rise with their draws before units are
// called in, 'elim' ends the procedure after the marker stage, 'igno' off
// also restores autotargeting, 'hefr' draws once per unit only with two
// values, the clamped mana carries to the next unit, 'deta' counts the
// free non-captain players of the unit's team, 'kill' with 'dele' kills from
// 1511 and deletes before, and a list position passed as a held slot before
// 1721 drops nothing the unit does not have.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <functional>
#include <string>
#include <vector>

#include "game_sounds.h"
#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_actions.h"
#include "markers.h"
#include "monster_hiding.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "spatial_groups.h"
#include "attack_ai.h"
#include "vesk_random.h"

namespace unit_control_action_proc_test_file {

namespace {

constexpr tag OTHER_MONSTER_TAG = FOUR_CHARACTER_CODE('m', 'o', 'n', '2');
constexpr uint32_t SUCCEEDED = _map_action_proc_executed_flag | _map_action_proc_succeeded_flag;

std::vector<std::pair<int32_t, uint32_t>> deaths; // (unit, died flags) as the died procedures hear them

void record_death(int32_t monster_index, uint32_t died_flags) { deaths.push_back({monster_index, died_flags}); }

mesh_marker hidden_unit_marker(int16_t palette, int16_t identifier, world_distance x, world_distance y)
{
    return {_marker_monster, palette, identifier, 0, _marker_is_invisible_flag, {x, y, 0}, 0, 0, NONE, 0};
}

class unit_control_action_proc_test : public script_test_world
{
protected:
    void SetUp() override
    {
        start_unit_store();
        // Units of 'mons' have a maximum mana of 5.0, those of 'mon2' 2.0.
        ASSERT_NO_FATAL_FAILURE(write_unit_tags([](monster_definition &m) {
            m.base_movement_speed = 0;
            m.maximum_mana = 5 * 256;
        }));
        monster_definition other;
        default_monster_definition(&other);
        other.collection_tag = COLLECTION_TAG;
        other.maximum_mana = 2 * 256;
        std::vector<uint8_t> bytes((uint8_t *)&other, (uint8_t *)&other + sizeof(other));
        ASSERT_TRUE(byte_swap_data("mon2", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "mon2", MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        ASSERT_NO_FATAL_FAILURE(initialize_script_modules());
        deaths.clear();
    }
    void TearDown() override
    {
        if (started) dispose_map_actions_from_old_map();
        reset_monster_died_procs();
        monster_test_world::TearDown();
    }

    // Players on the teams given (player 0 local), each with its own copy of
    // the unit type; palette entries 0 and 1 are teams 0 and 1.
    void start(int32_t version, std::vector<int16_t> teams = {0, 1}, std::vector<mesh_marker> markers = {})
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, (int16_t)teams.size());
        for (size_t i = 0; i < teams.size(); i++) data.players[i].team_index = teams[i];
        objects_world_map map;
        map.width = map.height = 32;
        map.palette = {{_marker_monster, 0, 0, UNIT_TAG, NONE, 0}, {_marker_monster, 1, 0, UNIT_TAG, NONE, 0}};
        map.markers = markers;
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_monster_owner_hooks();
        reset_monster_died_procs();
        register_monster_died_procedure(record_death);
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        local_player_team_index = 0;
        definition();
        for (int32_t i = 0; i < get_marker_palette_entry_count(_marker_monster); ++i)
            new_monster_palette_entry(get_marker_palette_entry(_marker_monster, i));
        for (int32_t p = 0; p < (int32_t)teams.size(); p++)
            ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, p), NONE);
        initialize_script_modules_for_new_map();
        set_random_seed(5);
    }
    // A unit of `player` with identifier `identifier`.
    int32_t soldier(int16_t player, int16_t identifier, world_point2d at = {4000, 4000})
    {
        const int32_t index = make_unit(player, at);
        unit(index)->identifier = identifier;
        return index;
    }
    // The unit holds (and wields) one bare object in slot 0.
    int32_t hold_object(int32_t index)
    {
        const int32_t object_index = new_unit_object({4000, 4000, 0});
        object_data *object = get_object(object_index);
        object->owner = _object_is_dormant_projectile;
        object->owner_index = NONE;
        object->state = 1;
        unit(index)->held_object_indexes[0] = (int16_t)object_index;
        unit(index)->held_object_count = 1;
        unit(index)->carrying_object_index = (int16_t)object_index;
        return object_index;
    }
    uint32_t run(test_action action)
    {
        EXPECT_TRUE(import_test_actions({action}));
        return trigger_map_action(0);
    }
};

monster_data *M(int32_t index) { return get_monster_data(index); }
object_data *O(int32_t index) { return get_object(get_monster_data(index)->object_index); }

// Each row's change happens at `above + 1` and not at `above`.
struct gated_change
{
    const char *name;
    int32_t above;
    std::function<void(test_action &)> parameters;
    std::function<bool(int32_t unit)> changed;
};

TEST_F(unit_control_action_proc_test, each_gated_change_appears_exactly_above_its_version)
{
    const std::vector<gated_change> rows = {
        {"ngtf", 1800, [](test_action &a) { a.raw(_parameter_flag, four("ngtf"), 1, "\1", 1); },
         [](int32_t u) { return (M(u)->extra_flags & _monster_is_netgame_target_extra_flag) != 0; }},
        {"hdcf", 1800, [](test_action &a) { a.raw(_parameter_flag, four("hdcf"), 1, "\1", 1); },
         [](int32_t u) { return (M(u)->extra_flags & _monster_is_hunted_creature_extra_flag) != 0; }},
        {"mamb", 1800, [](test_action &a) { a.raw(_parameter_flag, four("mamb"), 1, "\1", 1); },
         [](int32_t u) { return (M(u)->extra_flags & _monster_is_ambient_life_extra_flag) != 0; }},
        {"amm+", 1300, [](test_action &a) { a.ints(four("amm+"), {3}); },
         [](int32_t u) { return M(u)->ammunition_count == 3; }},
        {"swit", 1300, [](test_action &a) { a.ints(four("swit"), {(int32_t)four("null")}, _parameter_field_name); },
         [](int32_t u) { return M(u)->carrying_object_index == NONE; }},
        {"mana", 1300, [](test_action &a) { a.fixeds(four("mana"), {3 * 65536}); },
         [](int32_t u) { return M(u)->mana == 3 * 256; }},
        {"lhfr", 1300, [](test_action &a) { a.fixeds(four("lhfr"), {10 * 65536}); },
         [](int32_t u) { return O(u)->vitality == (100 - 10) * 256; }},
        {"kill", 1300, [](test_action &a) { a.ints(four("kill"), {1}); },
         [](int32_t u) { return M(u) == nullptr; }},
        {"exp+", 1510, [](test_action &a) { a.ints(four("exp+"), {300}); },
         [](int32_t u) { return M(u)->experience == 255; }},
        {"chr+", 1510, [](test_action &a) { a.ints(four("chr+"), {2}); },
         [](int32_t u) { return get_object(M(u)->carrying_object_index)->state == 3; }},
        {"smht", 1510, [](test_action &a) { a.ints(four("smht"), {300}); },
         [](int32_t u) { return O(u)->location.position.z == 300 && M(u)->height_over_mesh == 300; }},
        {"imht", 1510, [](test_action &a) { a.ints(four("imht"), {-100}); },
         [](int32_t u) { return O(u)->location.position.z == 0 && M(u)->height_over_mesh == 0; }},
        {"drop", 1600, [](test_action &a) { a.flag(four("drop")); },
         [](int32_t u) { return M(u)->held_object_count == 0; }},
        {"plyr", 1720, [](test_action &a) { a.ints(four("plyr"), {1}); },
         [](int32_t u) { return M(u)->owner_player_index == 1 && M(u)->owner_team_index == 1; }},
    };
    for (const gated_change &row : rows)
        for (const int32_t version : {row.above, row.above + 1})
        {
            SCOPED_TRACE(testing::Message() << row.name << " at " << version);
            start(version);
            const int32_t u = soldier(0, 10);
            hold_object(u);
            if (std::string(row.name) == "chr+") unit(u)->artifact_index = 0; // only an artifact is charged
            body(u)->maximum_vitality = body(u)->vitality = 100 * 256;
            unit(u)->ammunition_count = 0;
            unit(u)->experience = 0;
            if (std::string(row.name) == "imht") body(u)->location.position.z = 50;
            test_action control{1, four("ctrl")};
            control.units(four("subj"), {10});
            row.parameters(control);
            EXPECT_EQ(run(control), SUCCEEDED);
            EXPECT_EQ(row.changed(u), version > row.above);
            stop();
        }
}

TEST_F(unit_control_action_proc_test, obeying_again_restores_sight_and_autotargeting_unless_the_action_forbids_it)
{
    struct
    {
        int32_t version;
        bool dnat_on;
        uint32_t extra_left; // of no-visibility | does-not-autotarget
    } const rows[] = {
        {1300, false, _monster_does_not_autotarget_extra_flag}, // only sight comes back
        {1301, false, 0},
        {1301, true, _monster_does_not_autotarget_extra_flag},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.version << (row.dnat_on ? " dnat on" : ""));
        start(row.version);
        const int32_t u = soldier(0, 10);
        unit(u)->flags |= _monster_ignores_user_commands_flag;
        unit(u)->extra_flags |= _monster_has_no_visibility_extra_flag | _monster_does_not_autotarget_extra_flag;
        test_action control{1, four("ctrl")};
        control.units(four("subj"), {10}).raw(_parameter_flag, four("igno"), 1, "\0", 1);
        if (row.dnat_on) control.raw(_parameter_flag, four("dnat"), 1, "\1", 1);
        EXPECT_EQ(run(control), SUCCEEDED);
        EXPECT_FALSE(unit(u)->flags & _monster_ignores_user_commands_flag);
        EXPECT_EQ(unit(u)->extra_flags & (_monster_has_no_visibility_extra_flag | _monster_does_not_autotarget_extra_flag),
                  row.extra_left);
        stop();
    }
    // A flag entry without a byte switches nothing.
    start(1820);
    const int32_t u = soldier(0, 10);
    unit(u)->flags |= _monster_ignores_user_commands_flag;
    test_action control{1, four("ctrl")};
    control.units(four("subj"), {10}).flag(four("igno"));
    EXPECT_EQ(run(control), SUCCEEDED);
    EXPECT_TRUE(unit(u)->flags & _monster_ignores_user_commands_flag);
}

TEST_F(unit_control_action_proc_test, markers_rise_with_one_draw_each_before_their_units_are_called_in)
{
    start(1820, {0, 1},
          {hidden_unit_marker(0, 30, 3000, 3000), hidden_unit_marker(1, 31, 6000, 3000)});
    const int32_t sounds = get_game_sound_request_count(_game_sound_new_units_received);
    test_action control{1, four("ctrl")};
    control.units(four("subj"), {30, 99, 31}).ints(four("heig"), {100, 300}, _parameter_world_distance);
    control.flag(four("visi")).flag(four("rein"));
    set_random_seed(21);
    const int32_t first = 100 + vesk_random() % 200;
    const int32_t second = 100 + vesk_random() % 200;
    set_random_seed(21);
    EXPECT_EQ(run(control), SUCCEEDED);

    const marker_data *a = get_marker_by_identifier(_marker_monster, 30);
    const marker_data *b = get_marker_by_identifier(_marker_monster, 31);
    EXPECT_EQ(a->location.position.z, first);
    EXPECT_EQ(b->location.position.z, second);
    // Both units came, each at the height over the mesh the last marker gave.
    for (const int16_t identifier : {30, 31})
    {
        const int32_t u = index_of(identifier);
        ASSERT_NE(u, NONE) << identifier;
        EXPECT_EQ(unit(u)->height_over_mesh, second);
    }
    // Only the unit of the local team is announced.
    EXPECT_EQ(get_game_sound_request_count(_game_sound_new_units_received), sounds + 1);

    // 'elim' ends the procedure after the marker stage: the hiding happens,
    // the team of the first unit is eliminated and nothing later changes.
    const int32_t other = soldier(1, 40);
    unit(other)->ammunition_count = 7;
    test_action eliminate{2, four("ctrl")};
    eliminate.units(four("subj"), {40, 30}).flag(four("invi")).flag(four("elim")).ints(four("ammo"), {1});
    eliminate.ints(four("kill"), {1});
    ASSERT_TRUE(import_test_actions({eliminate}));
    EXPECT_EQ(trigger_map_action(0), SUCCEEDED);
    EXPECT_TRUE(a->flags & _marker_is_invisible_flag);
    EXPECT_TRUE(get_team_data(1)->flags & _team_has_been_eliminated_flag);
    EXPECT_FALSE(get_team_data(0)->flags & _team_has_been_eliminated_flag);
    ASSERT_NE(unit(other), nullptr);
    EXPECT_EQ(unit(other)->ammunition_count, 7);
}

TEST_F(unit_control_action_proc_test, health_fractions_draw_once_per_unit_in_list_order_only_with_two_values)
{
    start(1820);
    const int32_t units[] = {soldier(0, 10), soldier(0, 11), soldier(1, 12)};
    for (const int32_t u : units) body(u)->maximum_vitality = 400;

    test_action half{1, four("ctrl")};
    half.units(four("subj"), {12, 10, 11}).fixeds(four("hefr"), {32768});
    reset_random_draw_counts();
    EXPECT_EQ(run(half), SUCCEEDED);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    for (const int32_t u : units) EXPECT_EQ(body(u)->vitality, 200);

    // Between 0.25 and 1.5: delta 320 in 8.8; the draws go to 12, 10, 11.
    test_action drawn{1, four("ctrl")};
    drawn.units(four("subj"), {12, 10, 11}).fixeds(four("hefr"), {16384, 98304});
    set_random_seed(33);
    int32_t expected[3];
    for (int32_t &e : expected) e = (((vesk_random() * 320) >> 16) + 64) * 400 >> 8;
    set_random_seed(33);
    reset_random_draw_counts();
    EXPECT_EQ(run(drawn), SUCCEEDED);
    EXPECT_EQ(get_vesk_random_draw_count(), 3u);
    EXPECT_EQ(body(units[2])->vitality, expected[0]);
    EXPECT_EQ(body(units[0])->vitality, expected[1]);
    EXPECT_EQ(body(units[1])->vitality, expected[2]);
}

TEST_F(unit_control_action_proc_test, the_clamped_mana_carries_on_to_the_next_unit)
{
    start(1820);
    const int32_t small = soldier(0, 10), large = soldier(0, 11);
    unit(small)->type = (int16_t)try_definition_tag_to_index(&monster_definitions, OTHER_MONSTER_TAG, true, 0);
    ASSERT_NE(unit(small)->type, NONE);
    test_action control{1, four("ctrl")};
    control.units(four("subj"), {10, 11}).fixeds(four("mana"), {4 * 65536});
    EXPECT_EQ(run(control), SUCCEEDED);
    EXPECT_EQ(unit(small)->mana, 2 * 256);
    EXPECT_EQ(unit(large)->mana, 2 * 256); // not 4: the first unit's maximum carried on
}

TEST_F(unit_control_action_proc_test, detaching_counts_the_free_non_captain_players_of_the_units_team)
{
    // Team 0: captain 0, then 2 (dropped), 3, 4; team 1: captain 1, then 5, 6.
    start(1820, {0, 1, 0, 0, 0, 1, 1});
    get_player_data(2)->flags |= FLAG(_player_has_been_dropped_bit);
    const int32_t ours = soldier(0, 10), theirs = soldier(1, 11), lone = soldier(3, 12);
    test_action second{1, four("ctrl")};
    second.units(four("subj"), {10, 11}).ints(four("deta"), {2});
    EXPECT_EQ(run(second), SUCCEEDED);
    EXPECT_EQ(unit(ours)->owner_player_index, 4);
    EXPECT_EQ(unit(theirs)->owner_player_index, 6);

    test_action captain{1, four("ctrl")};
    captain.units(four("subj"), {12}).ints(four("deta"), {0});
    EXPECT_EQ(run(captain), SUCCEEDED);
    EXPECT_EQ(unit(lone)->owner_player_index, 0);

    // No fourth such player: the unit stays.
    test_action none{1, four("ctrl")};
    none.units(four("subj"), {10}).ints(four("deta"), {4});
    EXPECT_EQ(run(none), SUCCEEDED);
    EXPECT_EQ(unit(ours)->owner_player_index, 4);
}

TEST_F(unit_control_action_proc_test, kill_with_delete_kills_from_1511_and_deletes_before)
{
    for (const int32_t version : {1510, 1511})
    {
        SCOPED_TRACE(version);
        start(version);
        const int32_t u = soldier(0, 10);
        test_action control{1, four("ctrl")};
        control.units(four("subj"), {10}).flag(four("dele")).ints(four("kill"), {0});
        deaths.clear();
        EXPECT_EQ(run(control), SUCCEEDED);
        EXPECT_EQ(unit(u), nullptr);
        // A deletion tells the died procedures without the censored death, a
        // death with it; the deleted unit is not killed again.
        ASSERT_EQ(deaths.size(), 1u);
        EXPECT_EQ(deaths[0].second, version == 1510 ? (uint32_t)_monster_died_clear_presets_flag
                                                     : (uint32_t)(_monster_died_clear_presets_flag |
                                                                  _monster_died_show_censored_death_flag));
        stop();
    }
}

TEST_F(unit_control_action_proc_test, a_list_position_standing_for_a_held_slot_drops_nothing_the_unit_lacks)
{
    for (const int32_t version : {1720, 1721})
    {
        SCOPED_TRACE(version);
        start(version);
        soldier(0, 10);
        const int32_t second = soldier(0, 11);
        hold_object(second);
        test_action control{1, four("ctrl")};
        control.units(four("subj"), {10, 11}).flag(four("drop"));
        EXPECT_EQ(run(control), SUCCEEDED);
        // Before 1721 the unit's position (1) is passed as its slot: it holds
        // only slot 0, so nothing is dropped.
        EXPECT_EQ(unit(second)->held_object_count, version >= 1721 ? 0 : 1);
        stop();
    }
}

} // namespace

} // namespace unit_control_action_proc_test_file
