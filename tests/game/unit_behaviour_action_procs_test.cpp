// The unit behaviours: assassins wait the runs they drew, one draw per unit
// in list order, then strike a lone enemy or step around a large body in the
// way; shamans heal the most wounded ally below the threshold or hand over to
// their fallback; pick-ups share the objects out in turn.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "map_actions/unit_behaviour_action_procs.h"
#include "markers.h"
#include "monster_commands.h"
#include "monster_hiding.h"
#include "monster_lists.h"
#include "objects.h"
#include "spatial_groups.h"
#include "vesk_random.h"

namespace unit_behaviour_action_procs_test_file {

namespace {

constexpr int16_t ASSASSIN_MARKERS[] = {60, 61, 62};

class unit_behaviour_test : public script_test_world
{
protected:
    // A 64 x 64 world of three players on teams 0, 1 and 2, and three
    // assassin markers of player 0 held off the battlefield.
    void start(void)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 3);
        for (int16_t player = 0; player < 3; player++) data.players[player].team_index = player;
        objects_world_map map;
        map.width = map.height = 64;
        map.palette = {{_marker_monster, 0, 0, UNIT_TAG, NONE, 0}};
        for (int16_t i = 0; i < 3; i++)
            map.markers.push_back({_marker_monster, 0, ASSASSIN_MARKERS[i], 0, _marker_is_invisible_flag,
                                   {5000 + 200 * i, 5000, 0}, 0, 0, 0, 0});
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_monster_target_hooks();
        register_map_action_procedures(map_action_engine_procedures());
        current_gameplay_version = 1820;
        game_->time_state = _game_time_no_countdown;
        definition();
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
        game_->winning_team_index = NONE;
        set_random_seed(5);
    }
    monster_data *named(int16_t identifier) { return unit(index_of(identifier)); }
    std::vector<uint8_t> stored_globals(int32_t action_index)
    {
        std::vector<uint8_t> bytes(72);
        if (!get_map_action_structure(action_index, _common_internal_field_name_globals, 72, bytes.data())) return {};
        return bytes;
    }
    static int16_t read16(const std::vector<uint8_t> &bytes, size_t offset)
    {
        int16_t value;
        memcpy(&value, bytes.data() + offset, 2);
        return value;
    }
    const spatial_supergroup *supergroup_of_team(int16_t team)
    {
        for (const spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next)
            if (s->team_index == team) return s;
        return nullptr;
    }
    int32_t make_thing(world_point2d at)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_scenery;
        request.location.position = {at.x, at.y, 0};
        request.collection_index = NONE;
        return new_object(&request);
    }
    void set_health(int16_t identifier, int32_t vitality, int32_t maximum)
    {
        object_data *object = get_object(named(identifier)->object_index);
        object->vitality = (short_fixed)vitality;
        object->maximum_vitality = (short_fixed)maximum;
    }
};

constexpr uint32_t EXECUTED = _map_action_proc_executed_flag;

// ---- 'assa' -----------------------------------------------------------------------------

// 'dela' 3 draws one wait of 0, 1 or 2 per assassin, in list order, on the
// first run only; an assassin is called in when its wait is over and strikes
// the lone enemy on that run, so a wait of 2 acts on the third run.
TEST_F(unit_behaviour_test, assassins_wait_their_drawn_runs_then_strike_a_lone_enemy)
{
    start();
    // A seed whose three draws hold both 0 and 2.
    uint32_t seed = 1;
    std::vector<int16_t> waits;
    for (;; seed++)
    {
        set_random_seed(seed);
        waits.clear();
        for (int i = 0; i < 3; i++) waits.push_back((int16_t)(vesk_random() % 3));
        if (std::count(waits.begin(), waits.end(), 0) && std::count(waits.begin(), waits.end(), 2)) break;
    }
    const int16_t lone = soldier(1, {9000, 5000}, 200);
    test_action assassins{7, four("assa")};
    assassins.units(four("subj"), {60, 61, 62}).ints(four("dela"), {3});
    ASSERT_TRUE(import_test_actions({assassins}));
    set_random_seed(seed);

    for (int16_t run = 1; run <= 3; run++)
    {
        build_spatial_groups();
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        const std::vector<uint8_t> globals = stored_globals(0);
        ASSERT_EQ(globals.size(), 72u);
        EXPECT_EQ(read16(globals, 8), 0);
        EXPECT_EQ(read16(globals, 10), 3);
        for (int i = 0; i < 3; i++)
        {
            const bool called_in = waits[(size_t)i] < run;
            EXPECT_EQ(read16(globals, 12 + 6 * (size_t)i + 2), ASSASSIN_MARKERS[i]);
            EXPECT_EQ(read16(globals, 12 + 6 * (size_t)i + 4), called_in ? 0 : waits[(size_t)i] - run)
                << "unit " << i << " run " << run;
            const monster_data *assassin = named(ASSASSIN_MARKERS[i]);
            ASSERT_EQ(assassin != nullptr, called_in) << "unit " << i << " run " << run;
            if (assassin)
            {
                EXPECT_EQ(assassin->internal_command_identifier, 0) << "a target order in the action's index";
                EXPECT_EQ(assassin->target_monster_index, index_of(lone));
            }
        }
    }

    // Every assassin gone: the action ends.
    for (int16_t identifier : ASSASSIN_MARKERS) delete_monster(index_of(identifier), false);
    EXPECT_EQ(trigger_map_action(0) & _map_action_proc_deactivate_flag, _map_action_proc_deactivate_flag);
}

// A lone enemy nearer than a large body but in its direction is not attacked:
// the assassin steps about 1024 units round the body on the circle of its
// radius + 3072, the side set by the parity of its slot.  The lone enemy on
// the far side is attacked; without a lone enemy the body is approached.
TEST_F(unit_behaviour_test, assassins_circle_a_large_body_in_the_way_of_their_target)
{
    start();
    test_action assassin{7, four("assa")};
    assassin.units(four("subj"), {60});
    ASSERT_TRUE(import_test_actions({assassin}));
    for (int i = 0; i < 3; i++) soldier(1, {6400 + 100 * i, 5000}, (int16_t)(100 + i));
    const int16_t lone = soldier(2, {6000, 5000}, 200);
    const int32_t slot = make_monster_visible(60, NONE);
    ASSERT_NE(slot, NONE);
    place(slot, {5000, 5000});
    build_spatial_groups();
    const spatial_supergroup *body = supergroup_of_team(1);
    ASSERT_NE(body, nullptr);
    ASSERT_EQ(body->monster_count, 3);
    const world_point2d centre = body->center;
    const int32_t radius = body->radius + 3072;

    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    const monster_data *mover = unit(slot);
    EXPECT_EQ(mover->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    ASSERT_EQ(mover->waypoint_count, 1);
    const world_point2d to = mover->waypoints[0];
    EXPECT_NEAR(distance2d(&to, &centre), radius, 2);
    const world_point2d behind = {centre.x - radius, centre.y};
    EXPECT_NEAR(distance2d(&to, &behind), 1020, 20) << "an arc of about 1024";
    if (slot % 2 == 0)
        EXPECT_LT(to.y, centre.y) << "an even slot turns forwards";
    else
        EXPECT_GT(to.y, centre.y) << "an odd slot turns backwards";

    // The lone enemy behind the assassin: the dot product is negative.
    place(index_of(lone), {4000, 5000});
    build_spatial_groups();
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ(mover->internal_command_identifier, 0);
    EXPECT_EQ(mover->target_monster_index, index_of(lone));

    // No lone enemy, the body farther than 3071: the assassin goes for it.
    delete_monster(index_of(lone), false);
    for (int i = 0; i < 3; i++) place(index_of((int16_t)(100 + i)), {20000 + 100 * i, 5000});
    build_spatial_groups();
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ(mover->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    ASSERT_EQ(mover->waypoint_count, 1);
    EXPECT_EQ(mover->waypoints[0].x, supergroup_of_team(1)->center.x);
    EXPECT_EQ(mover->waypoints[0].y, supergroup_of_team(1)->center.y);
}

// ---- 'sham' -----------------------------------------------------------------------------

// The most wounded ally below both 1.0 and the threshold is healed (the first
// of equals); with none, 'fall' runs; without a threshold nothing happens.
TEST_F(unit_behaviour_test, shamans_heal_the_most_wounded_ally_or_fall_back)
{
    start();
    const int16_t healer = soldier(0, {3000, 3000}, 100);
    const std::vector<int16_t> allies = {soldier(0, {3200, 3000}, 101), soldier(0, {3400, 3000}, 102),
                                         soldier(0, {3600, 3000}, 103)};
    const int16_t bystander = soldier(0, {9000, 9000}, 104);
    test_action shaman{7, four("sham")};
    shaman.units(four("subj"), {healer}).units(four("ally"), allies).fixeds(four("<vit"), {32768}).ids(four("fall"), {8});
    test_action fallback{8, four("gene")};
    fallback.units(four("subj"), {bystander}).ints(four("type"), {_command_general_stop});
    test_action unsure{9, four("sham")};
    unsure.units(four("subj"), {healer}).units(four("ally"), allies);
    ASSERT_TRUE(import_test_actions({shaman, fallback, unsure}));

    set_health(allies[0], 200, 256); // 0.78
    set_health(allies[1], 64, 256); // 0.25
    set_health(allies[2], 32, 128); // 0.25
    EXPECT_EQ(shaman_action_proc(0), (uint32_t)_map_action_proc_succeeded_flag);
    EXPECT_EQ(named(healer)->internal_command_identifier, 0);
    EXPECT_EQ(named(healer)->target_monster_index, index_of(allies[1]));
    EXPECT_EQ(named(bystander)->internal_command_identifier, NONE);

    // Hurt, but above the threshold: the fallback runs.
    set_health(allies[1], 200, 256);
    set_health(allies[2], 220, 256);
    EXPECT_EQ(shaman_action_proc(0), 0u);
    EXPECT_NE(named(bystander)->internal_command_identifier, NONE);

    unit(index_of(allies[2]))->internal_command_identifier = NONE;
    set_health(allies[2], 10, 256);
    unit(index_of(healer))->internal_command_identifier = NONE;
    EXPECT_EQ(shaman_action_proc(2), 0u);
    EXPECT_EQ(named(healer)->internal_command_identifier, NONE) << "no threshold, no healing";
}

// ---- 'pick' -----------------------------------------------------------------------------

// Unit k goes for object k modulo the objects that exist; with no unit or no
// object nothing is ordered.
TEST_F(unit_behaviour_test, pick_up_shares_the_objects_out_in_turn)
{
    start();
    const std::vector<int16_t> units = {soldier(0, {3000, 3000}, 100), soldier(0, {3200, 3000}, 101),
                                        soldier(0, {3400, 3000}, 102)};
    const int32_t first = make_thing({4000, 4000}), second = make_thing({4200, 4000}), gone = make_thing({4400, 4000});
    const int16_t gone_identifier = get_object(gone)->identifier;
    delete_object(gone);
    test_action pick{7, four("pick")};
    pick.units(four("subj"), units)
        .raw(_parameter_object_identifier, four("obje"), 3,
             std::vector<int16_t>{get_object(first)->identifier, gone_identifier, get_object(second)->identifier}.data(),
             6);
    test_action nothing{8, four("pick")};
    nothing.units(four("subj"), units).raw(_parameter_object_identifier, four("obje"), 1, &gone_identifier, 2);
    ASSERT_TRUE(import_test_actions({pick, nothing}));

    EXPECT_EQ(pick_up_object_action_proc(1), 0u);
    for (int16_t identifier : units) EXPECT_EQ(named(identifier)->internal_command_identifier, NONE);

    EXPECT_EQ(pick_up_object_action_proc(0), 0u);
    const int32_t expected[] = {first, second, first};
    for (size_t k = 0; k < units.size(); k++)
    {
        EXPECT_EQ(named(units[k])->pick_up_object_index, expected[k]) << "unit " << k;
        EXPECT_EQ(named(units[k])->pick_up_object_identifier, get_object(expected[k])->identifier);
        EXPECT_EQ(named(units[k])->internal_command_identifier, 7) << "in the action's name";
    }
}

} // namespace

} // namespace unit_behaviour_action_procs_test_file
