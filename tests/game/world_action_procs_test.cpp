// The unit and world procedures over a world of units, models and markers:
// 'move' orders once at the pass its delay gives and succeeds when the units
// arrive, refuses too many or missing waypoints and faces by version;
// 'mean' draws its waits and wanders in a stated order and flees; 'mele'
// chooses its supergroup and attacks when close; 'moma' searches its rings,
// shifts units and hands bodies over; 'mece' changes cell flags; 'anim' tests
// and drives animations; 'moef' builds its effect record.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "attack_ai.h"
#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "markers.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "monster_update.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "vesk_random.h"

namespace world_action_procs_test_file {

namespace {

std::vector<int32_t> removed_from_selections;
void record_selection_removal(int32_t monster_index, uint32_t) { removed_from_selections.push_back(monster_index); }

constexpr int16_t MARKER_IDENTIFIER = 55;

class world_action_procs_test : public script_test_world
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(script_test_world::SetUp());
        // A box model and an eight-frame animation of it.
        ASSERT_TRUE(store_box_geometry_tag("boxg", 512));
        model_definition model;
        memset(&model, 0, sizeof(model));
        model.geometry_tag = FOUR_CHARACTER_CODE('b', 'o', 'x', 'g');
        model.model_permutation_count = 4;
        model.collection_tag = NONE;
        for (auto &permutation : model.model_permutations) permutation.collection_tag = NONE;
        ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, "boxm", &model, sizeof(model)));
        model_animation_definition animation;
        memset(&animation, 0, sizeof(animation));
        animation.number_of_frames = 8;
        animation.ticks_per_frame = 2;
        animation.forward_sound_type = animation.backward_sound_type = NONE;
        for (int i = 0; i < 8; ++i) animation.frame_model_tags[i] = FOUR_CHARACTER_CODE('b', 'o', 'x', 'm');
        ASSERT_TRUE(store_definition_tag(MODEL_ANIMATION_DEFINITION_GROUP_TAG, "door", &animation, sizeof(animation)));
        removed_from_selections.clear();
    }
    // A 64 x 64 world with one unit marker (identifier MARKER_IDENTIFIER).
    void start(int32_t version = 1820)
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = map.height = 64;
        map.palette = {{_marker_monster, 0, 0, FOUR_CHARACTER_CODE('u', 'n', 'i', 't'), NONE, 0}};
        map.markers = {{_marker_monster, 0, MARKER_IDENTIFIER, 0, 0, {1000, 1000, 0}, 0, 0, NONE, 0}};
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_monster_target_hooks();
        register_map_action_procedures(map_action_engine_procedures());
        register_remove_monster_from_selections_procedure(record_selection_removal);
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        definition();
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
        game_->winning_team_index = NONE;
        removed_from_selections.clear();
        set_random_seed(5);
    }
    // `count` units of `player` in a row from `at`, 100 apart; identifiers from `first`.
    std::vector<int16_t> army(int16_t player, int32_t count, world_point2d at, int16_t first)
    {
        std::vector<int16_t> identifiers;
        for (int32_t i = 0; i < count; i++)
            identifiers.push_back(soldier(player, {at.x + i * 100, at.y}, (int16_t)(first + i)));
        return identifiers;
    }
    monster_data *named(int16_t identifier) { return unit(index_of(identifier)); }
    std::vector<uint8_t> stored_globals(int32_t action_index, int32_t size)
    {
        std::vector<uint8_t> bytes((size_t)size);
        if (!get_map_action_structure(action_index, _common_internal_field_name_globals, size, bytes.data())) return {};
        return bytes;
    }
    static int16_t read16(const std::vector<uint8_t> &bytes, size_t offset)
    {
        int16_t value;
        memcpy(&value, bytes.data() + offset, 2);
        return value;
    }
    static int32_t read32(const std::vector<uint8_t> &bytes, size_t offset)
    {
        int32_t value;
        memcpy(&value, bytes.data() + offset, 4);
        return value;
    }
};

test_action &points(test_action &action, field_tag name, std::vector<world_point2d> values)
{
    return action.raw(_parameter_world_point2d, name, (int16_t)values.size(), values.data(),
                      (int32_t)(values.size() * sizeof(world_point2d)));
}

test_action &shorts(test_action &action, field_tag name, int16_t type, std::vector<int16_t> values)
{
    return action.raw(type, name, (int16_t)values.size(), values.data(), (int32_t)(values.size() * 2));
}

constexpr uint32_t EXECUTED = _map_action_proc_executed_flag;
constexpr uint32_t SUCCEEDED = _map_action_proc_executed_flag | _map_action_proc_succeeded_flag;
constexpr uint32_t DEACTIVATED = _map_action_proc_executed_flag | _map_action_proc_deactivate_flag;

// ---- 'move' -----------------------------------------------------------------------------

// Activated at 0 with a delay of 90, the order goes out at the pass at 96, once,
// carrying the action's identifier; when the units arrive the action succeeds
// and its 'acos' list runs.
TEST_F(world_action_procs_test, move_orders_once_at_tick_96_and_succeeds_when_the_units_arrive)
{
    start();
    const std::vector<int16_t> team = army(0, 2, {5120, 5120}, 100);
    test_action move{7, four("move")};
    move.flags = _map_action_initially_active_flag;
    move.mode = _map_action_deactivates_on_trigger;
    move.lower = 90;
    move.units(four("subj"), team).ids(four("acos"), {8});
    points(move, four("wayp"), {{5210, 5120}});
    test_action next{8, four("gene")};
    next.ints(four("type"), {_command_general_stop});
    ASSERT_TRUE(import_test_actions({move, next}));

    run_until(95);
    for (int16_t identifier : team) EXPECT_EQ(named(identifier)->internal_command_identifier, NONE);
    run_until(96);
    for (int16_t identifier : team)
    {
        EXPECT_EQ(named(identifier)->internal_command_identifier, 7);
        ASSERT_EQ(named(identifier)->waypoint_count, 1);
    }
    // Each keeps its place in the group: the waypoint plus its offset from the centre.
    EXPECT_EQ(named(team[0])->waypoints[0].x, 5160);
    EXPECT_EQ(named(team[1])->waypoints[0].x, 5260);
    EXPECT_FALSE(get_map_action(0)->flags & _map_action_is_active_flag);
    EXPECT_FALSE(get_map_action(1)->flags & _map_action_is_active_flag);

    for (int32_t tick = 0; tick < 30 && !(get_map_action(0)->flags & _map_action_succeeded_flag); tick++)
        for (int16_t identifier : team) update_monster(index_of(identifier));
    EXPECT_TRUE(get_map_action(0)->flags & _map_action_succeeded_flag);
    EXPECT_TRUE(get_map_action(1)->flags & _map_action_is_active_flag);
    // Not ordered again.
    for (int16_t identifier : team) named(identifier)->internal_command_identifier = NONE;
    run_until(200);
    for (int16_t identifier : team) EXPECT_EQ(named(identifier)->internal_command_identifier, NONE);
}

// Up to four waypoints; 'clos' above 1690 keeps the nearest (cutting the
// entry to it) and, with no waypoint to keep, is refused like too many.
TEST_F(world_action_procs_test, move_refuses_more_than_four_or_missing_waypoints_and_clos_keeps_the_nearest)
{
    const std::vector<world_point2d> five = {{20000, 20000}, {6000, 5200}, {9000, 9000}, {6000, 5200}, {30000, 1000}};
    struct
    {
        const char *name;
        int32_t version;
        bool closest;
        int32_t waypoint_count; // NONE: no 'wayp' entry
        bool ordered;
    } cases[] = {
        {"five", 1820, false, 5, false},
        {"four", 1820, false, 4, true},
        {"five, clos above 1690", 1691, true, 5, true},
        {"five, clos ignored at 1690", 1690, true, 5, false},
        {"clos with an empty entry", 1820, true, 0, false},
        {"clos without the entry", 1820, true, NONE, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        start(c.version);
        const std::vector<int16_t> team = army(0, 1, {5000, 5000}, 100);
        test_action move{7, four("move")};
        move.units(four("subj"), team);
        if (c.waypoint_count != NONE)
            points(move, four("wayp"), std::vector<world_point2d>(five.begin(), five.begin() + c.waypoint_count));
        if (c.closest) move.flag(four("clos"));
        ASSERT_TRUE(import_test_actions({move}));
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ(named(team[0])->internal_command_identifier, c.ordered ? 7 : NONE);
        if (c.ordered && c.closest)
        {
            ASSERT_EQ(named(team[0])->waypoint_count, 1);
            EXPECT_EQ(named(team[0])->waypoints[0].x, 6000); // the first of the two nearest
            map_action_parameter kept;
            ASSERT_TRUE(get_map_action_parameter(&kept, 0, 0, four("wayp"), _parameter_world_point2d));
            EXPECT_EQ(kept.count, 1);
        }
        stop();
    }
}

// The final facing: below 1301 the 'obfa' units win over 'fifa', from 1301
// 'fifa' wins; the loop, formation and facing bits reach the units.
TEST_F(world_action_procs_test, move_takes_the_facing_of_obfa_before_1301_and_of_fifa_from_it)
{
    for (int32_t version : {1300, 1301})
    {
        SCOPED_TRACE(version);
        start(version);
        const std::vector<int16_t> team = army(0, 2, {5000, 5000}, 100);
        const std::vector<int16_t> watched = army(1, 1, {5050, 9000}, 200); // due north of the centre
        test_action move{7, four("move")};
        move.units(four("subj"), team).units(four("obfa"), watched).flag(four("back"));
        shorts(move, four("fifa"), _parameter_angle, {(int16_t)HALF_CIRCLE});
        move.ints(four("form"), {2});
        points(move, four("wayp"), {{7000, 5000}, {9000, 5000}});
        ASSERT_TRUE(import_test_actions({move}));
        trigger_map_action(0);
        for (int16_t identifier : team)
        {
            const monster_data *mover = named(identifier);
            EXPECT_EQ(mover->final_desired_yaw, version == 1300 ? QUARTER_CIRCLE : HALF_CIRCLE);
            EXPECT_TRUE(mover->flags & _monster_has_back_and_forth_looped_waypoints_flag);
            EXPECT_NE(mover->formation_identifier, NONE);
        }
        stop();
    }
}

// ---- 'mean' ------------------------------------------------------------------------------

// First run: one draw per unit for its wait (% 12), in order; a unit whose
// wait runs out draws the waypoint, x, y and its next wait, in that order.
// Without waypoints it is sent to (0, 0); with them within 2560 of one.
TEST_F(world_action_procs_test, meander_draws_waits_then_wanders_near_waypoints_or_to_the_origin)
{
    for (bool with_waypoints : {false, true})
    {
        SCOPED_TRACE(with_waypoints);
        start();
        const std::vector<int16_t> team = army(0, 2, {10000, 10000}, 100);
        for (int16_t identifier : team) named(identifier)->base_movement_speed = with_waypoints ? 4 : 0;
        test_action meander{7, four("mean")};
        meander.units(four("subj"), team);
        const std::vector<world_point2d> waypoints = {{16000, 16000}, {20000, 12000}};
        if (with_waypoints) points(meander, four("wayp"), waypoints);
        ASSERT_TRUE(import_test_actions({meander}));

        // A seed whose first wait is 1 and second at least 3: the first run
        // draws twice, the second runs the first unit's wander alone.
        uint32_t seed = 1;
        uint16_t r0, r1;
        for (;; seed++)
        {
            set_random_seed(seed);
            r0 = vesk_random();
            r1 = vesk_random();
            if (r0 % 12 == 1 && r1 % 12 >= 3) break;
        }
        const uint16_t choice = vesk_random(), dx = vesk_random(), dy = vesk_random(), wait_draw = vesk_random();
        set_random_seed(seed);
        const uint32_t draws = get_vesk_random_draw_count();
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ(get_vesk_random_draw_count() - draws, 2u);
        std::vector<uint8_t> globals = stored_globals(0, 656);
        ASSERT_EQ(globals.size(), 656u);
        EXPECT_EQ(read16(globals, 0), 0);
        EXPECT_EQ(read16(globals, 2), 2);
        EXPECT_EQ(read16(globals, 4 + 4), 0);
        EXPECT_EQ(read16(globals, 10 + 4), r1 % 12 - 1);
        EXPECT_EQ(read16(globals, 390), with_waypoints ? 2 : 0);
        EXPECT_EQ(read32(globals, 648), with_waypoints ? 2560 : 0);
        EXPECT_EQ(read32(globals, 652), 3);

        const int32_t first = index_of(team[0]);
        EXPECT_EQ(unit(first)->internal_command_identifier, NONE);
        trigger_map_action(0);
        EXPECT_EQ(get_vesk_random_draw_count() - draws, 6u);
        EXPECT_EQ(unit(first)->internal_command_identifier, 7);
        EXPECT_EQ(named(team[1])->internal_command_identifier, NONE);
        ASSERT_EQ(unit(first)->waypoint_count, 1);
        const world_point2d destination = unit(first)->waypoints[0];
        globals = stored_globals(0, 656);
        const int16_t wait = read16(globals, 4 + 4);
        if (!with_waypoints)
        {
            EXPECT_EQ(destination.x, 0);
            EXPECT_EQ(destination.y, 0);
            EXPECT_EQ(wait, 1);
        }
        else
        {
            const world_point2d w = waypoints[choice % 2];
            EXPECT_EQ(destination.x, w.x + dx % 5120 - 2560);
            EXPECT_EQ(destination.y, w.y + dy % 5120 - 2560);
            const world_point2d at = {body(first)->location.position.x, body(first)->location.position.y};
            const int32_t half = (distance2d(&destination, &at) / (4 * 32) + 2) / 2;
            EXPECT_EQ(wait, half + wait_draw % half);
        }
        stop();
    }
}

// With 'thre' the nearest visible enemy within the scan sends the unit 4096
// away from it (order -2, no draw, wait 0); an invisible one or one beyond
// the scan does not.
TEST_F(world_action_procs_test, meander_flees_the_nearest_visible_enemy_within_the_scan)
{
    start();
    const std::vector<int16_t> team = army(0, 1, {10240 + 256, 10240 + 256}, 100);
    const std::vector<int16_t> hidden = army(1, 1, {10240 + 256, 10240 + 256 + 512}, 200); // north, invisible
    const std::vector<int16_t> enemy = army(1, 1, {10240 + 256 - 1024, 10240 + 256}, 300); // two cells west
    const std::vector<int16_t> far = army(1, 1, {10240 + 256 + 4 * 512, 10240 + 256}, 400); // four cells east
    body(index_of(hidden[0]))->flags |= _object_is_invisible_flag;
    test_action meander{7, four("mean")};
    meander.units(four("subj"), team).flag(four("thre"));
    ASSERT_TRUE(import_test_actions({meander}));
    trigger_map_action(0);
    const uint32_t before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(get_vesk_random_draw_count(), before);
    const monster_data *runner = named(team[0]);
    EXPECT_EQ(runner->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
    ASSERT_EQ(runner->waypoint_count, 1);
    EXPECT_EQ(runner->waypoints[0].x, 10240 + 256 + 4096);
    EXPECT_EQ(runner->waypoints[0].y, 10240 + 256);
    EXPECT_EQ(read16(stored_globals(0, 656), 4 + 4), 0);

    // Without the western enemy no threat is in reach: its wait of 0 runs
    // out and it wanders instead.
    delete_monster(index_of(enemy[0]), false);
    trigger_map_action(0);
    EXPECT_EQ(named(team[0])->internal_command_identifier, 7);
    (void)far;
}

// A dead unit leaves the list and activates 'casu'; with none left the
// action deactivates.
TEST_F(world_action_procs_test, meander_announces_casualties_and_ends_when_its_units_are_gone)
{
    start();
    const std::vector<int16_t> team = army(0, 2, {10000, 10000}, 100);
    test_action meander{7, four("mean")};
    meander.units(four("subj"), team).ids(four("casu"), {8});
    test_action casualty{8, four("gene")};
    casualty.ints(four("type"), {_command_general_stop});
    ASSERT_TRUE(import_test_actions({meander, casualty}));
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    delete_monster(index_of(team[0]), false);
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_TRUE(get_map_action(1)->flags & _map_action_is_active_flag);
    EXPECT_EQ(read16(stored_globals(0, 656), 2), 1);
    delete_monster(index_of(team[1]), false);
    EXPECT_EQ(trigger_map_action(0) & _map_action_proc_deactivate_flag, _map_action_proc_deactivate_flag);
}

// More than 32 waypoints: no record, nothing ordered.
TEST_F(world_action_procs_test, meander_refuses_more_than_32_waypoints)
{
    start();
    const std::vector<int16_t> team = army(0, 1, {10000, 10000}, 100);
    test_action meander{7, four("mean")};
    meander.units(four("subj"), team);
    points(meander, four("wayp"), std::vector<world_point2d>(33, world_point2d{3000, 3000}));
    ASSERT_TRUE(import_test_actions({meander}));
    for (int32_t run = 0; run < 12; run++) EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_TRUE(stored_globals(0, 656).empty());
    EXPECT_EQ(named(team[0])->internal_command_identifier, NONE);
}

// ---- 'mele' -------------------------------------------------------------------------------

// Without 'obje' the nearest enemy supergroup is approached in formation
// (order -2); 'obje' restricts the choice to supergroups holding a target;
// within the band's radius the band attacks.
TEST_F(world_action_procs_test, melee_approaches_the_chosen_supergroup_and_attacks_when_close)
{
    start();
    const std::vector<int16_t> band = army(0, 3, {5000, 5000}, 100);
    const std::vector<int16_t> near_group = army(1, 2, {10000, 5000}, 200);
    const std::vector<int16_t> far_group = army(1, 2, {25000, 25000}, 300);
    test_action melee{7, four("mele")};
    melee.units(four("subj"), band).ints(four("form"), {1});
    test_action targeted{8, four("mele")};
    targeted.units(four("subj"), band).units(four("obje"), {far_group[1]});
    ASSERT_TRUE(import_test_actions({melee, targeted}));
    build_spatial_groups();

    auto nearest_waypoint_to = [&](int16_t identifier) {
        const monster_data *mover = named(identifier);
        EXPECT_EQ(mover->internal_command_identifier, INTERNAL_COMMAND_IDENTIFIER_NO_ACTION);
        EXPECT_EQ(mover->waypoint_count, 1);
        return mover->waypoints[0];
    };
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    world_point2d to = nearest_waypoint_to(band[0]);
    EXPECT_LT(std::abs(to.x - 10050), 1500);
    EXPECT_LT(std::abs(to.y - 5000), 1500);
    std::vector<uint8_t> globals = stored_globals(0, 16);
    ASSERT_EQ(globals.size(), 16u);
    EXPECT_EQ(read32(globals, 0), 1); // initialized
    EXPECT_EQ(read16(globals, 4), 0);
    EXPECT_EQ(read16(globals, 6), 0); // approaching
    EXPECT_EQ(read32(globals, 8), 1);
    EXPECT_EQ(read32(globals, 12), 1536);

    EXPECT_EQ(trigger_map_action(1), EXECUTED);
    to = nearest_waypoint_to(band[0]);
    EXPECT_LT(std::abs(to.x - 25050), 1500);
    EXPECT_LT(std::abs(to.y - 25000), 1500);

    // Within reach: the band goes to the attack AI.
    for (size_t i = 0; i < band.size(); i++) place(index_of(band[i]), {9500 + (int32_t)i * 100, 5000});
    build_spatial_groups();
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ(read16(stored_globals(0, 16), 6), 1);

    // The band gone: deactivated.
    for (int16_t identifier : band) delete_monster(index_of(identifier), false);
    EXPECT_EQ(trigger_map_action(0), DEACTIVATED);
}

// ---- 'moma' -------------------------------------------------------------------------------

// The marker goes to the first free cell on the rings around the team's
// largest supergroup: its own cell when free, else ring by ring in the
// stated order; a cell found only on ring 19 counts as none (the centre).
TEST_F(world_action_procs_test, move_marker_searches_the_rings_around_the_largest_supergroup)
{
    start();
    army(1, 1, {3000, 3000}, 100); // a smaller supergroup elsewhere
    // An open field: the units in cell (30, 30) are made non-solid, so their
    // own cell is free.
    for (int16_t identifier : army(1, 2, {15360 + 100, 15360 + 200}, 200))
        body(index_of(identifier))->flags &= ~(uint32_t)_object_is_solid_flag;
    build_spatial_groups();
    world_point2d centre = {};
    for (const spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next)
        if (s->monster_count == 2) centre = s->center;
    ASSERT_EQ(centre.x >> 9, 30);
    ASSERT_EQ(centre.y >> 9, 30);
    test_action move{7, four("moma")};
    move.units(four("subj"), {MARKER_IDENTIFIER}).ints(four("team"), {1});
    ASSERT_TRUE(import_test_actions({move}));
    auto blocked = [](int32_t ring) {
        for (int32_t y = 30 - ring; y <= 30 + ring; y++)
            for (int32_t x = 30 - ring; x <= 30 + ring; x++) get_mesh_cell(x, y)->model_index = 0;
    };
    auto free_all = []() {
        for (int32_t y = 0; y < 64; y++)
            for (int32_t x = 0; x < 64; x++) get_mesh_cell(x, y)->model_index = NONE;
    };
    const marker_data *marker = get_marker_by_identifier(_marker_monster, MARKER_IDENTIFIER);
    ASSERT_NE(marker, nullptr);
    struct
    {
        const char *name;
        int32_t blocked_ring; // every ring up to this one blocked; NONE: none
        std::vector<std::pair<int32_t, int32_t>> also_blocked;
        int32_t cell_x, cell_y; // NONE: the supergroup's centre itself
    } cases[] = {
        {"own cell", NONE, {}, 30, 30},
        {"ring 1 starts at the left column", 0, {}, 29, 29},
        {"then the right column", 0, {{29, 29}, {29, 30}, {29, 31}}, 31, 29},
        {"then the top and bottom rows", 0, {{29, 29}, {29, 30}, {29, 31}, {31, 29}, {31, 30}, {31, 31}}, 30, 29},
        {"ring 18", 17, {}, 12, 12},
        {"ring 19 counts as none", 18, {}, NONE, NONE},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        free_all();
        if (c.blocked_ring != NONE) blocked(c.blocked_ring);
        for (auto [x, y] : c.also_blocked) get_mesh_cell(x, y)->model_index = 0;
        EXPECT_EQ(trigger_map_action(0), SUCCEEDED);
        const world_point2d spot = c.cell_x == NONE ? centre : world_point2d{c.cell_x * 512 + 256, c.cell_y * 512 + 256};
        EXPECT_EQ(marker->location.position.x, spot.x);
        EXPECT_EQ(marker->location.position.y, spot.y);
        EXPECT_EQ(marker->location.position.z, 0);
        EXPECT_EQ(marker->location.yaw, arctangent(centre.x - spot.x, centre.y - spot.y));
    }
    free_all();
}

// 'dest' shifts the units keeping their formation (out of the selections
// first); 'targ' hands each subject the target's place and body, and the
// colour permutation only below 1721.
TEST_F(world_action_procs_test, move_marker_shifts_units_or_hands_them_other_units_places)
{
    for (int32_t version : {1720, 1721})
    {
        SCOPED_TRACE(version);
        start(version);
        const std::vector<int16_t> team = army(0, 2, {5000, 5000}, 100);
        const std::vector<int16_t> others = army(1, 1, {20000, 21000}, 200);
        test_action shift{7, four("moma")};
        shift.units(four("subj"), team);
        points(shift, four("dest"), {{10050, 8000}});
        test_action swap{8, four("moma")};
        swap.units(four("subj"), {team[0]}).units(four("targ"), others);
        test_action nothing{9, four("moma")};
        nothing.units(four("targ"), others);
        ASSERT_TRUE(import_test_actions({shift, swap, nothing}));

        EXPECT_EQ(trigger_map_action(0), SUCCEEDED);
        EXPECT_EQ(body(index_of(team[0]))->location.position.x, 10000);
        EXPECT_EQ(body(index_of(team[1]))->location.position.x, 10100);
        EXPECT_EQ(body(index_of(team[1]))->location.position.y, 8000);
        EXPECT_EQ(body(index_of(team[1]))->cell_x, 10100 >> 9);
        EXPECT_EQ(removed_from_selections, (std::vector<int32_t>{index_of(team[0]), index_of(team[1])}));

        monster_data *target = named(others[0]);
        object_data *target_body = body(index_of(others[0]));
        target->experience = 40;
        target->battles_survived = 3;
        strcpy(target->name, "Tamsin");
        target_body->vitality = 77;
        target_body->color_table_permutation = 5;
        target_body->location.yaw = 999;
        EXPECT_EQ(trigger_map_action(2), SUCCEEDED); // no subjects: nothing
        EXPECT_EQ(body(index_of(team[0]))->location.position.x, 10000);
        EXPECT_EQ(trigger_map_action(1), SUCCEEDED);
        const monster_data *subject = named(team[0]);
        const object_data *subject_body = body(index_of(team[0]));
        EXPECT_EQ(subject_body->location.position.x, 20000);
        EXPECT_EQ(subject_body->location.yaw, 999);
        EXPECT_EQ(subject_body->cell_y, 21000 >> 9);
        EXPECT_EQ(subject_body->vitality, 77);
        EXPECT_EQ(subject_body->color_table_permutation, version == 1720 ? 5 : 0);
        EXPECT_EQ(subject->experience, 40);
        EXPECT_EQ(subject->battles_survived, 3);
        EXPECT_STREQ(subject->name, "Tamsin");
        EXPECT_EQ(target->experience, 0);
        EXPECT_EQ(target->battles_survived, 0);
        stop();
    }
}

// ---- 'mece' --------------------------------------------------------------------------------

// 'teco' writes both terrain nibbles, masked to the low byte (20 must not
// reach the media bits); 'kill' sets or clears the hidden bit; points off the
// mesh are skipped; no points: nothing, result 0.
TEST_F(world_action_procs_test, mesh_cell_sets_terrain_nibbles_masked_and_the_hidden_bit)
{
    start();
    const uint16_t reflection = FLAG(_mesh_cell_has_reflection_bit);
    const uint16_t hidden = FLAG(_mesh_cell_is_not_rendered_bit);
    struct
    {
        const char *name;
        std::vector<int32_t> terrain; // empty: no 'teco'
        std::vector<int32_t> kill;
        uint16_t before, after;
    } cases[] = {
        {"teco 3", {3}, {}, reflection | 0x12, reflection | 0x33},
        {"teco 20 masked", {20}, {}, reflection, reflection | 0x54},
        {"kill", {}, {1}, 0x21, hidden | 0x21},
        {"unkill and teco", {1}, {0}, hidden | 0x21, 0x11},
    };
    std::vector<test_action> actions;
    for (const auto &c : cases)
    {
        test_action cells{(int16_t)(7 + actions.size()), four("mece")};
        points(cells, four("pnts"), {{5 * 512 + 10, 6 * 512 + 500}, {-10, 100}, {7 * 512, 6 * 512}});
        if (!c.terrain.empty()) cells.ints(four("teco"), c.terrain);
        if (!c.kill.empty()) cells.ints(four("kill"), c.kill);
        actions.push_back(cells);
    }
    test_action empty{20, four("mece")};
    empty.ints(four("teco"), {3});
    actions.push_back(empty);
    ASSERT_TRUE(import_test_actions(actions));
    for (size_t i = 0; i < NUMBER_OF(cases); i++)
    {
        const auto &c = cases[i];
        SCOPED_TRACE(c.name);
        get_mesh_cell(5, 6)->flags = c.before;
        get_mesh_cell(7, 6)->flags = c.before;
        get_mesh_cell(6, 6)->flags = 0x0F;
        EXPECT_EQ(trigger_map_action((int32_t)i), SUCCEEDED);
        EXPECT_EQ(get_mesh_cell(5, 6)->flags, c.after);
        EXPECT_EQ(get_mesh_cell(7, 6)->flags, c.after);
        EXPECT_EQ(get_mesh_cell(6, 6)->flags, 0x0F);
    }
    EXPECT_EQ(trigger_map_action((int32_t)NUMBER_OF(cases)), EXECUTED);
}

// ---- 'anim' and 'moef' ----------------------------------------------------------------------

class world_action_model_test : public world_action_procs_test
{
protected:
    int32_t new_animation(int16_t identifier, int32_t frame)
    {
        const int16_t definition = (int16_t)try_definition_tag_to_index(
            &model_animation_definitions, FOUR_CHARACTER_CODE('d', 'o', 'o', 'r'), true, 0);
        EXPECT_NE(definition, NONE);
        const world_point3d at = {4000 + identifier * 1000, 4000, 0};
        const int32_t index = new_model_animation(definition, &at, 0, 0);
        EXPECT_NE(index, NONE);
        get_model_animation(index)->identifier = identifier;
        jump_model_animation_to_frame(index, frame);
        return index;
    }
};

// '___=' 5 over animations at frames 5 and 6: the first starts, the second is
// left alone, and the result is 0; when every test passes the result is 2.
TEST_F(world_action_model_test, model_animation_drives_only_the_animations_that_pass_their_tests)
{
    start();
    const int32_t at_five = new_animation(1, 5), at_six = new_animation(2, 6);
    test_action equal{7, four("anim")};
    shorts(equal, four("subj"), _parameter_model_animation_identifier, {1, 2});
    equal.ints(four("___="), {5}).flag(four("stfo")).flag(four("cycl"));
    test_action backward{8, four("anim")};
    shorts(backward, four("subj"), _parameter_model_animation_identifier, {1, 2});
    backward.ints(four("___>"), {4}).ints(four("___<"), {7}).flag(four("stba")).flag(four("rese"));
    test_action step{9, four("anim")};
    shorts(step, four("subj"), _parameter_model_animation_identifier, {2});
    step.flag(four("adva")).flag(four("stop"));
    test_action none{10, four("anim")};
    shorts(none, four("subj"), _parameter_model_animation_identifier, {99});
    ASSERT_TRUE(import_test_actions({equal, backward, step, none}));

    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ(get_model_animation(at_five)->state, _model_animation_running);
    EXPECT_EQ(get_model_animation(at_five)->flags, _model_animation_forward_flag | _model_animation_cycles_flag);
    EXPECT_EQ(get_model_animation(at_six)->state, _model_animation_stopped);
    EXPECT_EQ(get_model_animation(at_six)->flags, 0);

    EXPECT_EQ(trigger_map_action(1), SUCCEEDED);
    for (int32_t index : {at_five, at_six})
    {
        EXPECT_EQ(get_model_animation(index)->current_frame_index, 7);
        EXPECT_EQ(get_model_animation(index)->state, _model_animation_running);
        EXPECT_FALSE(get_model_animation(index)->flags & _model_animation_forward_flag);
    }
    EXPECT_EQ(trigger_map_action(2), SUCCEEDED);
    EXPECT_EQ(get_model_animation(at_six)->current_frame_index, 6);
    EXPECT_EQ(get_model_animation(at_six)->state, _model_animation_stopped);
    EXPECT_EQ(trigger_map_action(3), EXECUTED);
}

// The effect record from the entries: fixed seconds to ticks, 'insc' for
// both scales, 65535 - 'mafi' as the material's final transparency, the
// action's identifier; the animation's model wins over 'mode'.
TEST_F(world_action_model_test, model_effect_builds_its_record_and_prefers_the_animations_model)
{
    start();
    new_model_data data;
    memset(&data, 0, sizeof(data));
    data.type = (int16_t)try_definition_tag_to_index(&model_definitions, FOUR_CHARACTER_CODE('b', 'o', 'x', 'm'),
                                                     true, 0);
    data.location = {2000, 2000, 0};
    const int32_t model = new_model(&data);
    ASSERT_NE(model, NONE);
    get_model(model)->identifier = 33;
    const int32_t animation = new_animation(4, 0);
    const int32_t animated_model = get_model_animation(animation)->current_model_index;

    test_action effect{7, four("moef")};
    shorts(effect, four("mode"), _parameter_model_identifier, {33});
    effect.fixeds(four("dura"), {2 * 65536}).fixeds(four("insc"), {98304}).ints(four("mate"), {0});
    effect.fixeds(four("mafi"), {16384}).flag(four("fain"));
    shorts(effect, four("dyaw"), _parameter_angle, {1000});
    test_action animated{8, four("moef")};
    shorts(animated, four("mode"), _parameter_model_identifier, {33});
    shorts(animated, four("anim"), _parameter_model_animation_identifier, {4});
    animated.flag(four("faou")).fixeds(four("mafi"), {-5});
    test_action missing{9, four("moef")};
    shorts(missing, four("mode"), _parameter_model_identifier, {34});
    ASSERT_TRUE(import_test_actions({effect, animated, missing}));

    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    const model_effect_data *started_effect = get_model_effect(get_model_effect_index(model));
    ASSERT_NE(started_effect, nullptr);
    EXPECT_EQ(started_effect->duration, 60);
    EXPECT_EQ(started_effect->map_action_identifier, 7);
    EXPECT_EQ(started_effect->initial_scale, 768);
    EXPECT_EQ(started_effect->final_scale, 768);
    EXPECT_EQ(started_effect->material_fading_index, 0);
    EXPECT_EQ(started_effect->final_material_transparency, 65535 - 16384);
    EXPECT_EQ(started_effect->delta_yaw, 1000);
    EXPECT_EQ(started_effect->flags, _model_effect_fade_in_flag | _model_effect_scale_flag);

    EXPECT_EQ(trigger_map_action(1), EXECUTED);
    const model_effect_data *animated_effect = get_model_effect(get_model_effect_index(animated_model));
    ASSERT_NE(animated_effect, nullptr);
    EXPECT_EQ(animated_effect->map_action_identifier, 8);
    EXPECT_EQ(animated_effect->flags, _model_effect_fade_out_flag);
    EXPECT_EQ(animated_effect->material_fading_index, NONE); // 'mafi' without 'mate'
    EXPECT_EQ(trigger_map_action(2), EXECUTED);
}

} // namespace

} // namespace world_action_procs_test_file
