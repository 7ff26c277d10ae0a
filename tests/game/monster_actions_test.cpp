// The unit action machine: what entering each action does, the ways out of
// the actions that end by themselves, the version gates callers and films
// depend on, the refusal of an unknown action, the idle cycle's draws and the
// calls into attacks, items, projectile groups and the ordering script.

#include "support/unit_world_test.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_procedures.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "statistics.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"

namespace monster_actions_test_file {

namespace {

constexpr tag COLLECTION_A = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');

struct recorded
{
    std::vector<std::pair<int32_t, int32_t>> attacks; // unit, attack index
    std::vector<int32_t> groups; // projectile group types made
    std::vector<int32_t> given; // objects handed to a unit
    std::vector<int32_t> succeeded; // map action identifiers
    int32_t switch_calls = 0;
    bool clear_abort_on_attack = true;
};
recorded calls;

void record_attack(int32_t monster_index, int32_t attack_index, bool)
{
    calls.attacks.push_back({monster_index, attack_index});
    // A strike that is carried out is not aborted.
    if (calls.clear_abort_on_attack)
        get_monster_data(monster_index)->flags &= ~(uint32_t)_monster_attack_was_aborted_flag;
}
// Group types are the internal index + 500, so a made group names its index.
int16_t resolve_group(tag group_tag)
{
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i)
        if (get_internal_projectile_group_tag(i) == group_tag) return (int16_t)(500 + i);
    return NONE;
}
void record_group(const internal_projectile_group_request *request) { calls.groups.push_back(request->type); }
bool accept_object(int32_t, int32_t object_index)
{
    calls.given.push_back(object_index);
    return true;
}
void record_success(int32_t identifier) { calls.succeeded.push_back(identifier); }

// The strikes, hand-overs and groups the machine asks for, recorded instead of made.
const monster_action_test_procedures recorded_calls = {record_attack, accept_object, resolve_group, record_group};

class monster_actions_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        ASSERT_TRUE(start_units_world(&data));
        current_gameplay_version = 1820;
        calls = recorded();

        ASSERT_NO_FATAL_FAILURE(write_collection_reference("refa", COLLECTION_A));
        store_monster();
        uint8_t bytes[128];
        memset(bytes, 0, sizeof(bytes));
        memcpy(bytes, "mons", 4);
        memcpy(bytes + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa01", UNIT_DEFINITION_VERSION, bytes, sizeof(bytes));
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        game_->winning_team_index = NONE;
        dispose_units_world();
        set_monster_action_test_procedures(nullptr);
        clear_all_registrations();
        initialize_internal_projectile_groups_for_new_map();
        store_test::TearDown();
    }

    // Sequence n of the definition is 100 + n, except those a test takes away.
    void store_monster(void)
    {
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = COLLECTION_A;
        m.base_movement_speed = 0;
        for (int32_t i = 0; i < 19; ++i) m.sequence_indexes[i] = (int16_t)(100 + i);
        m.attacks[0].repetitions = 3;
        m.attacks[0].sequences[0].sequence_index = 140;
        m.attacks[1].repetitions = 1;
        m.attacks[1].flags = _monster_attack_is_reflexive_flag;
        m.healing_fraction = 100;
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data("mons", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "mons", MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
    }

    monster_definition *definition(void)
    {
        return get_monster_definition(
            try_definition_tag_to_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'), true, 0));
    }

    int32_t make_unit(int16_t player = 0)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        EXPECT_NE(unit_type, NONE);
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {2000, 2000, 0};
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const world_point2d location = {2000, 2000};
        init_monster(monster_index, (int16_t)definition_index(), (int16_t)unit_type, object_index, player, player, 0,
                     &location, true);
        return monster_index;
    }
    int32_t definition_index(void)
    {
        return subgroup_tag_to_definition_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'));
    }
    monster_data *unit(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }

    // A unit with a target and a path, moving at some speed.
    void give_target_and_path(int32_t index)
    {
        monster_data *m = unit(index);
        m->flags |=
            _monster_has_valid_target_flag | _monster_has_valid_target_index_flag | _monster_needs_new_path_flag;
        m->flags &= ~(uint32_t)_monster_attack_was_aborted_flag;
        m->target_monster_index = 3;
        m->waypoint_count = 2;
        m->waypoint_index = 2;
        m->last_target_location = {5, 5};
        body(index)->location.velocity = {4, 4, 0};
    }
    // One tick of the current action with the given animation flags, after
    // the per-tick update's countdown of the action timer.
    void tick(int32_t index, uint32_t animation_flags)
    {
        const int32_t action = unit(index)->action;
        if (unit(index)->attack_timer >= 0 && action != 7 && action != 8 && action != 10)
            --unit(index)->attack_timer;
        object_data *object = body(index);
        object->flags = (object->flags & ~(uint32_t)_object_animation_flags) | animation_flags;
        monster_action_fns[unit(index)->action](index);
    }
};

TEST_F(monster_actions_test, entering_each_action_sets_look_priority_and_forgets_what_it_makes_stale)
{
    struct row
    {
        int32_t action, permutation;
        int32_t sequence; // -1: the object's sequence before
        int32_t stored;
        uint8_t priority;
        bool forgets_target, forgets_path;
    };
    const row rows[] = {
        {1, 7, 100, 26, 0, true, true},
        {2, 2, 109, 2, 25, true, true},
        {3, 4, 116, 4, 25, true, true},
        {4, 19, 113, 19, 25, false, false},
        {4, 20, 117, 20, 25, false, false},
        {4, 0, 101, 0, 25, false, false},
        {5, 0, 104, 0, 25, false, false},
        {6, 0, 115, 0, 25, false, false},
        {7, 20, 117, 20, 75, false, false},
        {8, 0, 140, 0, 100, false, true},
        {9, 12, 105, 12, 25, false, false},
        {10, 0, 107, 0, 25, false, false},
        {11, 0, 106, 0, 100, false, false},
        {12, 0, 106, 0, 100, false, false},
        {13, 21, -1, 21, 25, false, false},
        {14, 23, 106, 23, 100, false, false},
        {15, 0, 106, 0, 100, false, false},
        {16, 0, 118, 0, 100, false, false},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.action * 100 + r.permutation);
        const int32_t index = make_unit();
        give_target_and_path(index);
        set_object_shape(unit(index)->object_index, 123, 256, 0, 0, 0, 0);
        set_monster_action(index, r.action, r.permutation);
        const monster_data *m = unit(index);
        const object_data *o = body(index);
        EXPECT_EQ(m->action, r.action);
        EXPECT_EQ(m->action_permutation, r.stored);
        EXPECT_EQ(o->shape_sequence_index, r.sequence == -1 ? 123 : r.sequence);
        EXPECT_EQ(o->tracking_priority, r.priority);
        EXPECT_EQ(o->location.velocity.i, 0);
        EXPECT_EQ(m->target_monster_index == NONE, r.forgets_target);
        EXPECT_EQ((m->flags & _monster_attack_was_aborted_flag) != 0, r.forgets_target);
        EXPECT_EQ(m->waypoint_count == 0, r.forgets_path);
        EXPECT_EQ((m->flags & _monster_needs_new_path_flag) == 0, r.forgets_path);
        if (r.action == 8) { EXPECT_EQ(m->repeated_obstruction_count, 3); }
        delete_monster(index, false);
    }
}

TEST_F(monster_actions_test, missing_sequences_fall_back_and_colour_effects_follow_the_action)
{
    monster_definition *d = definition();
    d->sequence_indexes[13] = NONE; // no running: moving
    d->sequence_indexes[18] = NONE; // no propelled: taking damage
    const int32_t index = make_unit();
    set_monster_action(index, 4, 19);
    EXPECT_EQ(body(index)->shape_sequence_index, 101);
    EXPECT_EQ(unit(index)->action_permutation, 19);
    set_monster_action(index, 16, 0);
    EXPECT_EQ(body(index)->shape_sequence_index, 106);

    // Without even an idle sequence no shape is set at all.
    d->sequence_indexes[1] = d->sequence_indexes[0] = NONE;
    d->sequence_indexes[13] = NONE;
    set_object_shape(unit(index)->object_index, 55, 256, 0, 0, 0, 0);
    set_monster_action(index, 4, 0);
    EXPECT_EQ(body(index)->shape_sequence_index, 55);

    // Stoned freezes the animation and fades to permutation 1; paralysed to 2;
    // healing a coloured unit fades back and cannot be stopped.
    set_monster_action(index, 13, 21);
    EXPECT_EQ(body(index)->shape_ticks_per_frame, 0);
    EXPECT_EQ(body(index)->color_table_permutation, 1);
    EXPECT_EQ(unit(index)->attack_timer, 45);
    set_monster_action(index, 11, 0);
    EXPECT_TRUE(unit(index)->extra_flags & _monster_was_stoned_prior_to_heal_extra_flag);
    EXPECT_TRUE(unit(index)->flags & _monster_healing_cannot_be_stopped_flag);
    EXPECT_EQ(body(index)->color_table_permutation, 0);
    set_monster_action(index, 14, 23);
    EXPECT_EQ(body(index)->color_table_permutation, 2);
    EXPECT_FALSE(unit(index)->extra_flags & _monster_was_stoned_prior_to_heal_extra_flag);

    // A unit that is not solid loses solidity only while moving or turning.
    d->flags |= _monster_is_not_solid_flag;
    set_monster_action(index, 5, 0);
    EXPECT_FALSE(body(index)->flags & _object_is_solid_flag);
    set_monster_action(index, 6, 0);
    EXPECT_TRUE(body(index)->flags & _object_is_solid_flag);
}

TEST_F(monster_actions_test, standing_ground_pausing_and_aiming_gates)
{
    const int32_t index = make_unit();
    unit(index)->flags |= _monster_standing_ground_flag;
    set_monster_action(index, 4, 0);
    EXPECT_EQ(unit(index)->action, 1);
    unit(index)->flags |= _monster_has_valid_target_index_flag;
    set_monster_action(index, 4, 0);
    EXPECT_EQ(unit(index)->action, 6);

    // A pause for an obstacle makes a move a no-op, and anything else ends it.
    unit(index)->flags &= ~(uint32_t)_monster_standing_ground_flag;
    body(index)->flags |= _object_pausing_for_obstacle_to_move_flag;
    const uint32_t flags = unit(index)->flags;
    set_monster_action(index, 4, 19);
    EXPECT_EQ(unit(index)->action, 6);
    EXPECT_EQ(unit(index)->flags, flags);
    set_monster_action(index, 5, 0);
    EXPECT_FALSE(body(index)->flags & _object_pausing_for_obstacle_to_move_flag);

    // Aiming changes no shape between 1721 and 1802.
    current_gameplay_version = 1750;
    set_object_shape(unit(index)->object_index, 55, 256, 0, 0, 0, 0);
    set_monster_action(index, 7, 19);
    EXPECT_EQ(body(index)->shape_sequence_index, 55);
    EXPECT_EQ(body(index)->tracking_priority, 75);
    current_gameplay_version = 1803;
    set_monster_action(index, 7, 19);
    EXPECT_EQ(body(index)->shape_sequence_index, 113);

    // Holding for attack enters through the door only from 1710.
    current_gameplay_version = 1709;
    set_object_shape(unit(index)->object_index, 55, 256, 0, 0, 0, 0);
    set_monster_action_holding_for_attack(index);
    EXPECT_EQ(unit(index)->action, 6);
    EXPECT_EQ(body(index)->shape_sequence_index, 55);
    current_gameplay_version = 1710;
    set_monster_action_holding_for_attack(index);
    EXPECT_EQ(body(index)->shape_sequence_index, 115);
}

TEST_F(monster_actions_test, an_unknown_action_is_refused_and_the_next_tick_runs)
{
    const int32_t index = make_unit();
    set_monster_action(index, 9, 5);
    {
        expected_assertions expect(2, "what is monster action");
        set_monster_action(index, 17, 0);
        set_monster_action(index, 0, 0);
    }
    EXPECT_EQ(unit(index)->action, 9);
    EXPECT_EQ(unit(index)->action_permutation, 5);
    ASSERT_NE(monster_action_fns[unit(index)->action], nullptr);
    tick(index, 0);
    EXPECT_EQ(unit(index)->action_permutation, 4);
}

TEST_F(monster_actions_test, an_attack_strikes_once_per_repetition_while_not_aborted)
{
    set_monster_action_test_procedures(&recorded_calls);
    const int32_t index = make_unit();
    give_target_and_path(index);
    set_monster_action(index, 8, 0);
    for (int32_t i = 0; i < 10 && unit(index)->action == 8; ++i)
        tick(index, _object_animation_key_frame_flag | _object_animation_last_frame_flag);
    EXPECT_EQ(calls.attacks.size(), 3u);
    EXPECT_NE(unit(index)->action, 8);

    // An aborted strike ends the repetitions at once.
    calls = recorded();
    calls.clear_abort_on_attack = false;
    give_target_and_path(index);
    set_monster_action(index, 8, 0);
    unit(index)->flags |= _monster_attack_was_aborted_flag;
    for (int32_t i = 0; i < 10 && unit(index)->action == 8; ++i)
        tick(index, _object_animation_key_frame_flag | _object_animation_last_frame_flag);
    EXPECT_EQ(calls.attacks.size(), 1u);

    // A reflexive attack needs no target.
    calls = recorded();
    unit(index)->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_attack_was_aborted_flag);
    definition()->attacks[1].repetitions = 2;
    set_monster_action(index, 8, 1);
    for (int32_t i = 0; i < 10 && unit(index)->action == 8; ++i)
        tick(index, _object_animation_key_frame_flag | _object_animation_last_frame_flag);
    EXPECT_EQ(calls.attacks.size(), 2u);
}

TEST_F(monster_actions_test, held_turns_to_stone_from_1511_and_goes_on_before)
{
    for (int32_t version : {1510, 1511})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        const int32_t index = make_unit();
        set_monster_action(index, 12, 0);
        EXPECT_EQ(unit(index)->attack_timer, MONSTER_HOLD_TICKS);
        body(index)->color_table_permutation = 1;
        unit(index)->attack_timer = 0;
        tick(index, 0);
        EXPECT_EQ(unit(index)->action, version >= 1511 ? 13 : 1);
        if (version >= 1511) { EXPECT_EQ(unit(index)->action_permutation, _monster_action_permutation_stoned); }
        delete_monster(index, false);
    }
}

TEST_F(monster_actions_test, stoning_and_paralysis_run_their_timers_to_the_end)
{
    const int32_t index = make_unit();
    set_monster_action(index, 13, _monster_action_permutation_turning_to_stone);
    for (int32_t i = 0; i <= 45; ++i) tick(index, 0);
    EXPECT_EQ(unit(index)->action_permutation, _monster_action_permutation_stoned);

    // 150-359 ticks scaled by the paralysis modifier (256 without an object
    // definition), one draw.
    set_monster_action(index, 14, _monster_action_permutation_being_paralyzed);
    for (int32_t i = 0; i <= 30; ++i) tick(index, 0);
    EXPECT_EQ(unit(index)->action_permutation, _monster_action_permutation_paralyzed);
    EXPECT_GE(unit(index)->attack_timer, 150);
    EXPECT_LE(unit(index)->attack_timer, 359);
    unit(index)->attack_timer = 0;
    tick(index, 0);
    EXPECT_EQ(unit(index)->action_permutation, _monster_action_permutation_recovering_from_paralysis);
    EXPECT_EQ(body(index)->color_table_permutation, 0);
    for (int32_t i = 0; i <= 30; ++i) tick(index, 0);
    EXPECT_EQ(unit(index)->action, 1);

    expected_assertions expect(1, "unknown permutation");
    set_monster_action(index, 13, 3);
    tick(index, 0);
}

TEST_F(monster_actions_test, the_most_appropriate_action_follows_target_waypoints_and_victory)
{
    const int32_t index = make_unit();
    give_target_and_path(index);
    unit(index)->flags |= _monster_has_valid_target_flag;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 6);

    unit(index)->flags |= _monster_is_retreating_flag;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 4);
    EXPECT_TRUE(unit(index)->flags & _monster_needs_new_path_flag);

    // Waypoints left: move on; none and no target: idle.
    unit(index)->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_is_retreating_flag);
    unit(index)->waypoint_count = 3;
    unit(index)->waypoint_index = 1;
    set_monster_action(index, 5, 0);
    unit(index)->extra_flags |= _monster_wants_to_run_extra_flag;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 4);
    EXPECT_EQ(unit(index)->action_permutation, _monster_action_permutation_running);
    unit(index)->waypoint_index = 3;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 1);

    // The winning team celebrates once.
    game_->winning_team_index = 0;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 2);
    EXPECT_TRUE(unit(index)->flags & _monster_has_celebrated_flag);
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 1);
}

TEST_F(monster_actions_test, a_finished_special_ability_resumes_or_idles_by_version)
{
    const int32_t index = make_unit();
    // From 1601 a unit with waypoints moves on; at 1600 it needs an attack
    // made and a deferred order, else it idles and forgets its waypoints.
    for (int32_t version : {1600, 1601})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        set_monster_action(index, 6, 0);
        unit(index)->flags |= _monster_is_using_special_ability_flag;
        unit(index)->waypoint_count = 2;
        unit(index)->waypoint_index = 0;
        set_most_appropriate_monster_action(index);
        EXPECT_EQ(unit(index)->action, version >= 1601 ? 4 : 1);
        EXPECT_EQ(unit(index)->waypoint_count, version >= 1601 ? 2 : 0);
    }
    // A deferred second use moves on with a new path, even without waypoints.
    set_monster_action(index, 6, 0);
    unit(index)->waypoint_count = 0;
    unit(index)->flags |= _monster_is_using_special_ability_flag;
    unit(index)->extra_flags |= _monster_deferred_uses_special_extra_flag;
    set_most_appropriate_monster_action(index);
    EXPECT_EQ(unit(index)->action, 4);
    EXPECT_TRUE(unit(index)->flags & _monster_will_use_special_ability_flag);
    EXPECT_FALSE(unit(index)->extra_flags & _monster_deferred_uses_special_extra_flag);
}

TEST_F(monster_actions_test, an_attack_ending_on_a_deferred_order_clears_target_bits_by_version)
{
    struct row
    {
        int32_t version;
        uint32_t kept;
    };
    const uint32_t bits = _monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag;
    const row rows[] = {{1300, 0}, {1600, 0}, {1601, _monster_has_valid_target_flag}, {1691, 0}};
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.version);
        current_gameplay_version = r.version;
        const int32_t index = make_unit();
        give_target_and_path(index);
        definition()->attacks[0].repetitions = 1;
        set_monster_action(index, 8, 0);
        unit(index)->flags |= _monster_has_valid_target_flag | bits;
        unit(index)->extra_flags |= _monster_has_deferred_movement_command_extra_flag;
        unit(index)->waypoint_count = 0;
        tick(index, _object_animation_last_frame_flag);
        const monster_data *m = unit(index);
        const bool deferred_kept = r.version < 1301;
        EXPECT_EQ((m->extra_flags & _monster_has_deferred_movement_command_extra_flag) != 0, deferred_kept);
        if (r.version >= 1601)
        {
            EXPECT_EQ(m->flags & (bits | _monster_has_valid_target_flag), r.kept);
        }
        delete_monster(index, false);
    }
}

TEST_F(monster_actions_test, draws_of_the_entry_operations_and_the_idle_cycle)
{
    // No sequence of this definition asks set_object_shape for draws: only
    // the machine's own draws are counted.
    monster_definition *d = definition();
    for (int16_t &sequence : d->sequence_indexes) sequence = NONE;
    const int32_t index = make_unit();
    reset_random_draw_counts();
    set_monster_action(index, 1, 0);
    EXPECT_EQ(get_vesk_random_draw_count(), 1u);
    reset_random_draw_counts();
    make_monster_celebrate(index);
    EXPECT_EQ(get_vesk_random_draw_count(), 2u);
    EXPECT_GE(unit(index)->action_permutation, 30);
    EXPECT_LE(unit(index)->action_permutation, 49);
    reset_random_draw_counts();
    tick(index, _object_animation_last_frame_flag); // a restart draws its rate
    EXPECT_EQ(get_vesk_random_draw_count(), 1u);
    reset_random_draw_counts();
    make_monster_taunt(index);
    EXPECT_EQ(get_vesk_random_draw_count(), 2u);
    EXPECT_GE(unit(index)->action_permutation, 3);
    EXPECT_LE(unit(index)->action_permutation, 5);

    // Held in an effect, neither celebrates nor taunts, and draws nothing.
    set_monster_action(index, 12, 0);
    reset_random_draw_counts();
    make_monster_celebrate(index);
    make_monster_taunt(index);
    EXPECT_EQ(unit(index)->action, 12);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);

    // Idle: one draw per completed primary cycle; the secondary and both
    // transitions draw nothing and last one cycle each.
    set_monster_action(index, 1, 0);
    reset_random_draw_counts();
    tick(index, 0);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    int32_t cycles = 0;
    while (unit(index)->action_permutation == _monster_idle_primary && cycles < 1000)
    {
        tick(index, _object_animation_last_frame_flag);
        ++cycles;
    }
    EXPECT_EQ(get_vesk_random_draw_count(), (uint32_t)cycles);
    const int32_t sequence[] = {_monster_idle_transition_to_secondary, _monster_idle_secondary,
                                _monster_idle_transition_to_primary, _monster_idle_primary};
    for (int32_t expected : sequence)
    {
        EXPECT_EQ(unit(index)->action_permutation, expected);
        if (expected != _monster_idle_primary) tick(index, _object_animation_last_frame_flag);
    }
    EXPECT_EQ(get_vesk_random_draw_count(), (uint32_t)cycles);

    // A free slot is never taunted.
    delete_monster(index, false);
    reset_random_draw_counts();
    make_monster_taunt(index);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
}

TEST_F(monster_actions_test, groups_items_and_the_ordering_script_are_reached_from_the_actions)
{
    set_monster_action_test_procedures(&recorded_calls);
    static const map_action_procedures scripts = {.map_action_succeeded = record_success};
    register_map_action_procedures(&scripts);
    initialize_internal_projectile_groups_for_new_map();
    EXPECT_EQ(get_internal_projectile_group_type(11), NONE) << "older games look up no internal group";
    current_gameplay_version = FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS;
    initialize_internal_projectile_groups_for_new_map();
    current_gameplay_version = 1820;
    EXPECT_EQ(get_internal_projectile_group_type(11), 511);
    EXPECT_EQ(get_internal_projectile_group_tag(11), get_internal_projectile_group_tag(12));
    EXPECT_EQ(get_internal_projectile_group_type(14), NONE);

    const int32_t index = make_unit();
    set_monster_action(index, 11, 0);
    set_monster_action(index, 13, 21);
    tick(index, 0);
    set_monster_action(index, 14, 23);
    tick(index, 0);
    set_monster_action(index, 12, 0);
    tick(index, 0);
    unit(index)->extra_flags |= _monster_immobile_extra_flag;
    set_monster_action(index, 13, 21);
    const std::vector<int32_t> expected = {500, 505, 506, 502, 503, 513};
    EXPECT_EQ(calls.groups, expected);

    // Picking up on the key frame within reach, for a map action's order.
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = NONE;
    request.scale = 256;
    request.location.position = {2100, 2100, 0};
    const int32_t item = new_object(&request);
    unit(index)->pick_up_object_index = (int16_t)item;
    unit(index)->pick_up_object_identifier = get_object(item)->identifier;
    unit(index)->flags |= _monster_responding_to_command_flag;
    unit(index)->internal_command_identifier = 42;
    set_monster_action(index, 10, 0);
    tick(index, _object_animation_key_frame_flag);
    EXPECT_EQ(calls.given, std::vector<int32_t>{item});
    EXPECT_EQ(calls.succeeded, std::vector<int32_t>{42});
    tick(index, _object_animation_last_frame_flag);
    EXPECT_NE(unit(index)->action, 10);

    // Beyond 256 world units nothing is handed over.
    get_object(item)->location.position = {2000 + 257, 2000, 0};
    set_monster_action(index, 10, 0);
    tick(index, _object_animation_key_frame_flag);
    EXPECT_EQ(calls.given.size(), 1u);
}

} // namespace

} // namespace monster_actions_test_file
