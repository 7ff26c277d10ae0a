// The attack AI: configurations and how they are read from an action, the
// per-pass buffer and its exact boundary, groups worked off in the order they
// came with targets from the nearest (or focused) enemy group, dead and
// replaced units left out, command-sized slices, units that fight keeping
// their targets, all units of a team, and the state hash.

#include "support/monster_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <map>
#include <vector>

#include "attack_ai.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "monster_commands.h"
#include "spatial_groups.h"
#include "state_hash.h"

namespace attack_ai_test_file {

namespace {

constexpr uint32_t FOCUS = FOUR_CHARACTER_CODE('a', 'i', 'f', 'o');
constexpr uint32_t RADIUS = FOUR_CHARACTER_CODE('a', 'i', 'r', 'a');

class attack_ai_test : public monster_test_world
{
protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        ASSERT_TRUE(initialize_spatial_groups());
        initialize_spatial_groups_for_new_map();
        ASSERT_TRUE(initialize_attack_ai());
        initialize_attack_ai_for_new_map();
    }

    // One pass of the scripts as the engine runs it, with `procedures` in between.
    template <typename F>
    void pass(F procedures)
    {
        build_spatial_groups();
        reset_attack_ai();
        procedures();
        update_attack_ai();
    }

    void attack(const std::vector<int16_t> &indexes, const attack_ai_configuration *configuration = nullptr)
    {
        attack_ai_configuration defaults;
        new_attack_ai_configuration(&defaults);
        attack_with_monster_indexes(configuration ? configuration : &defaults, (int32_t)indexes.size(),
                                    indexes.data());
    }

    int16_t target_of(int32_t index) { return unit(index)->target_monster_index; }
    bool has_target(int32_t index) { return unit(index)->flags & _monster_has_valid_target_flag; }
};

TEST_F(attack_ai_test, a_configuration_defaults_to_no_focus_and_reads_focus_and_radius_from_its_action)
{
    attack_ai_configuration c;
    memset(&c, 0x5A, sizeof(c));
    new_attack_ai_configuration(&c);
    EXPECT_EQ(c.flags, _attack_ai_no_focus_flag);
    EXPECT_EQ(c.focus.x, 0);
    EXPECT_EQ(c.focus.y, 0);
    EXPECT_EQ(c.radius, 0);

    ASSERT_TRUE(initialize_map_actions());
    initialize_map_actions_for_new_map();
    const int32_t with_both = new_map_action(NONE);
    const int32_t with_neither = new_map_action(NONE);
    const int32_t negative = new_map_action(NONE);
    const int32_t wrong_type = new_map_action(NONE);
    const world_point2d focus = {7000, -300};
    const world_distance radius = 2048, minus_one = -1;
    const int32_t one = 1;
    ASSERT_TRUE(set_unique_map_action_parameter(with_both, FOCUS, _parameter_world_point2d, 1, &focus));
    ASSERT_TRUE(set_unique_map_action_parameter(with_both, RADIUS, _parameter_world_distance, 1, &radius));
    ASSERT_TRUE(set_unique_map_action_parameter(negative, RADIUS, _parameter_world_distance, 1, &minus_one));
    ASSERT_TRUE(set_unique_map_action_parameter(wrong_type, FOCUS, _parameter_integer, 1, &one));
    EXPECT_TRUE(parse_attack_ai_configuration(&c, with_both));
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(c.focus.x, 7000);
    EXPECT_EQ(c.focus.y, -300);
    EXPECT_EQ(c.radius, 2048);

    EXPECT_TRUE(parse_attack_ai_configuration(&c, with_neither)) << "an action without them gives the defaults";
    EXPECT_EQ(c.flags, _attack_ai_no_focus_flag);
    EXPECT_TRUE(parse_attack_ai_configuration(&c, wrong_type)) << "a focus of the wrong type is absent";
    EXPECT_EQ(c.flags, _attack_ai_no_focus_flag);
    EXPECT_FALSE(parse_attack_ai_configuration(&c, 900)) << "no such action";

    const size_t log_before = log_text().size();
    EXPECT_FALSE(parse_attack_ai_configuration(&c, negative));
    EXPECT_EQ(c.radius, 0);
    EXPECT_NE(log_text().find("negative radius", log_before), std::string::npos);
}

// A group takes 16 bytes and 4 per unit: ten groups of 400 leave 224 bytes,
// room for 52 units and not for 53.
TEST_F(attack_ai_test, a_group_that_does_not_fit_the_buffer_is_dropped_with_its_log_line)
{
    start_world();
    const int32_t soldier = make_unit(0, cell_centre(10, 10));
    const std::vector<int16_t> full((size_t)MAXIMUM_MONSTERS_PER_MAP, (int16_t)soldier);
    reset_attack_ai();
    auto hash = [] {
        uint32_t h = 0;
        hash_attack_ai(&h);
        return h;
    };
    for (int32_t i = 0; i < 10; ++i) attack(full);
    const uint32_t ten_groups = hash();
    size_t log_before = log_text().size();
    attack(std::vector<int16_t>(53, (int16_t)soldier));
    EXPECT_NE(log_text().find("### overwrote attack ai buffer", log_before), std::string::npos);
    EXPECT_EQ(hash(), ten_groups) << "nothing of it was written";

    log_before = log_text().size();
    attack(std::vector<int16_t>(52, (int16_t)soldier));
    EXPECT_EQ(log_text().find("### overwrote attack ai buffer", log_before), std::string::npos);
    EXPECT_NE(hash(), ten_groups);
    attack({(int16_t)soldier});
    EXPECT_NE(log_text().find("### overwrote attack ai buffer", log_before), std::string::npos) << "full to the byte";

    reset_attack_ai();
    attack({(int16_t)soldier});
    EXPECT_EQ(log_text().find("### overwrote attack ai buffer", log_text().size()), std::string::npos);
}

TEST_F(attack_ai_test, the_buffer_joins_the_state_hash_and_only_units_that_exist_are_kept)
{
    start_world();
    const int32_t a = make_unit(0, cell_centre(10, 10));
    const int32_t b = make_unit(0, cell_centre(12, 10));
    const uint32_t empty = compute_state_hash();
    reset_attack_ai();
    attack({(int16_t)a, 399, NONE, (int16_t)b});
    const uint32_t with_group = compute_state_hash();
    EXPECT_NE(with_group, empty);
    reset_attack_ai();
    attack({(int16_t)a, (int16_t)b});
    EXPECT_EQ(compute_state_hash(), with_group) << "free slots are not stored";
    reset_attack_ai();
    attack({399, NONE});
    EXPECT_EQ(compute_state_hash(), empty) << "a group with nobody adds nothing";
}

// Groups are worked off in the order they came; each goes for the nearest
// enemy group, its units paired with that group's units in order.
TEST_F(attack_ai_test, each_group_attacks_the_nearest_enemy_group_in_the_order_groups_came)
{
    start_world(64, 64, 1820, 3);
    const int32_t west_1 = make_unit(0, cell_centre(5, 20));
    const int32_t west_2 = make_unit(0, cell_centre(5, 21));
    const int32_t east = make_unit(2, cell_centre(50, 20)); // player 2: team 0
    const int32_t near_west_1 = make_unit(1, cell_centre(10, 20));
    const int32_t near_west_2 = make_unit(1, cell_centre(10, 21));
    const int32_t near_east = make_unit(1, cell_centre(45, 20));

    pass([&] {
        attack({(int16_t)east});
        attack({(int16_t)west_1, (int16_t)west_2});
    });
    EXPECT_EQ(target_of(west_1), near_west_1);
    EXPECT_EQ(target_of(west_2), near_west_2);
    EXPECT_EQ(target_of(east), near_east);
    EXPECT_EQ(unit(west_1)->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    EXPECT_FALSE(has_target(near_west_1)) << "the enemy was not ordered";

    // The attack AI marks whom it sent against each group.
    const spatial_group *west_enemy = nullptr;
    for (spatial_group *g = first_spatial_group(); g; g = g->next_group)
        if (g->monster_indexes[0] == near_west_1) west_enemy = g;
    ASSERT_NE(west_enemy, nullptr);
    EXPECT_EQ(west_enemy->attacker_power, 2);
    EXPECT_EQ(west_enemy->power_ratio, FIXED_ONE);
    ASSERT_NE(west_enemy->first_attacker, nullptr);
    EXPECT_EQ(west_enemy->first_attacker->monster_index, west_2);
    EXPECT_EQ(west_enemy->first_attacker->next_attacker->monster_index, west_1);
}

TEST_F(attack_ai_test, a_focus_with_a_radius_sends_units_against_the_group_near_it)
{
    start_world();
    const int32_t soldier = make_unit(0, cell_centre(5, 20));
    make_unit(1, cell_centre(10, 20));
    const int32_t far_enemy = make_unit(1, cell_centre(40, 40));
    attack_ai_configuration focused;
    new_attack_ai_configuration(&focused);
    focused.flags = 0;
    focused.focus = cell_centre(41, 40);
    focused.radius = 1024;
    pass([&] { attack({(int16_t)soldier}, &focused); });
    EXPECT_EQ(target_of(soldier), far_enemy);

    // Nothing within the radius: no order at all.
    unit(soldier)->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag);
    unit(soldier)->target_monster_index = NONE;
    focused.focus = cell_centre(60, 5);
    pass([&] { attack({(int16_t)soldier}, &focused); });
    EXPECT_FALSE(has_target(soldier));
    EXPECT_EQ(target_of(soldier), NONE);
}

// A unit handed over twice takes the order of the group that came first: the
// later one finds it fighting already.
TEST_F(attack_ai_test, a_unit_in_two_groups_follows_the_one_that_came_first)
{
    start_world();
    const int32_t soldier = make_unit(0, cell_centre(5, 20));
    const int32_t near = make_unit(1, cell_centre(10, 20));
    const int32_t far = make_unit(1, cell_centre(40, 40));
    attack_ai_configuration towards_far;
    new_attack_ai_configuration(&towards_far);
    towards_far.flags = 0;
    towards_far.focus = cell_centre(40, 40);
    towards_far.radius = 512;
    for (const bool focused_first : {true, false})
    {
        unit(soldier)->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag);
        pass([&] {
            if (focused_first) attack({(int16_t)soldier}, &towards_far);
            attack({(int16_t)soldier});
            if (!focused_first) attack({(int16_t)soldier}, &towards_far);
        });
        EXPECT_EQ(target_of(soldier), focused_first ? far : near) << focused_first;
    }
}

// A unit that died after it was handed over, or whose slot holds a new unit,
// is not ordered; units that fight already keep their targets.
TEST_F(attack_ai_test, dead_or_replaced_units_are_left_out_and_fighting_units_keep_their_targets)
{
    start_world();
    const int32_t doomed = make_unit(0, cell_centre(5, 20));
    const int32_t fighter = make_unit(0, cell_centre(5, 21));
    const int32_t idle = make_unit(0, cell_centre(5, 22));
    const int32_t enemy = make_unit(1, cell_centre(10, 20));
    const int32_t old_foe = make_unit(1, cell_centre(30, 30));
    aim(fighter, old_foe);
    pass([&] {
        attack({(int16_t)doomed, (int16_t)fighter, (int16_t)idle});
        delete_monster(doomed, false);
        const int32_t newcomer = make_unit(0, cell_centre(6, 20));
        ASSERT_EQ(newcomer, doomed) << "the slot is reused";
    });
    EXPECT_FALSE(has_target(doomed)) << "the newcomer was never handed over";
    EXPECT_EQ(target_of(fighter), old_foe);
    EXPECT_EQ(target_of(idle), enemy);
}

// More units than one command may name go in command-sized slices, so every
// one of them gets a target.
TEST_F(attack_ai_test, a_group_larger_than_a_command_is_ordered_in_slices)
{
    start_world();
    std::vector<int16_t> soldiers;
    for (int32_t i = 0; i < 130; ++i) soldiers.push_back((int16_t)make_unit(0, cell_centre(2 + i % 20, 2 + i / 20)));
    make_unit(1, cell_centre(40, 40));
    for (const int32_t version : {1300, 1301})
    {
        current_gameplay_version = version;
        for (const int16_t s : soldiers)
            unit(s)->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag);
        pass([&] { attack(soldiers); });
        int32_t ordered = 0;
        for (const int16_t s : soldiers) ordered += has_target(s);
        EXPECT_EQ(ordered, 130) << version;
    }
}

TEST_F(attack_ai_test, all_units_of_a_team_on_the_map_attack_as_one_group)
{
    start_world(64, 64, 1820, 3);
    const int32_t a = make_unit(0, cell_centre(5, 20));
    const int32_t gone = make_unit(2, cell_centre(5, 21));
    const int32_t b = make_unit(2, cell_centre(5, 22));
    const int32_t enemy = make_unit(1, cell_centre(10, 20));
    unit(gone)->flags |= _monster_has_left_the_mesh_flag;
    pass([&] { attack_with_all_monster_indexes(0); });
    EXPECT_EQ(target_of(a), enemy);
    EXPECT_EQ(target_of(b), enemy);
    EXPECT_FALSE(has_target(gone));
    EXPECT_FALSE(has_target(enemy));
}

} // namespace

} // namespace attack_ai_test_file
