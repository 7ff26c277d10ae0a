// 'quni' writes one value per unit into every matching entry, linked ones
// too; 'soun' and 'ambi' reach the sound layer only through their recorded
// calls; 'suic' draws its delays in list order, places units only when the
// delay and the inhibitor allow, counts enemies in a block cut at the mesh
// edge, detonates in shallow media but walks in deep media, and ends when
// its last unit dies.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "map_actions/query_sound_suicide_action_procs.h"
#include "markers.h"
#include "monster_hiding.h"
#include "monster_life.h"
#include "monster_visibility.h"
#include "sound_procedures.h"
#include "spatial_groups.h"
#include "vesk_random.h"

namespace query_sound_suicide_action_procs_test_file {

namespace {

constexpr uint32_t EXECUTED = _map_action_proc_executed_flag;
constexpr uint32_t SUCCEEDED = _map_action_proc_executed_flag | _map_action_proc_succeeded_flag;
constexpr uint32_t DEACTIVATED = _map_action_proc_executed_flag | _map_action_proc_deactivate_flag;

struct sound_call
{
    int16_t sound;
    int32_t object_index; // NONE: played to the listener
};
std::vector<sound_call> sounds;
struct fade_call
{
    int16_t source;
    int32_t volume, ticks;
};
std::vector<fade_call> fades;
world_location3d listener;

void record_sound(int16_t sound, int16_t source, const world_location3d *location, int32_t pitch, uint32_t flags)
{
    EXPECT_EQ(source, NONE);
    EXPECT_EQ(location, nullptr);
    EXPECT_EQ(pitch, 256);
    sounds.push_back({sound, NONE});
}
void record_object_sound(int32_t object_index, int16_t sound) { sounds.push_back({sound, object_index}); }
void record_fade(int16_t source, int32_t volume, int32_t ticks) { fades.push_back({source, volume, ticks}); }
const world_location3d *test_listener(void) { return &listener; }

// Unit markers 60.. held off the field until a script calls them in.
constexpr int16_t FIRST_HIDDEN_MARKER = 60;

class query_sound_suicide_test : public script_test_world
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(script_test_world::SetUp());
        sounds.clear();
        fades.clear();
        memset(&listener, 0, sizeof(listener));
    }
    void TearDown() override
    {
        dispose_monster_visibility_from_old_map();
        script_test_world::TearDown();
    }
    // A 64 x 64 world, media on cell (10, 10), and unit markers of team 0
    // (identifiers FIRST_HIDDEN_MARKER + i) at `hidden`, not yet on the field.
    void start(int32_t version = 1820, std::vector<world_point2d> hidden = {})
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = map.height = 64;
        map.media_cells = {{10, 10}};
        map.media_height = 200;
        map.palette = {{_marker_monster, 0, 0, UNIT_TAG, NONE, 0}};
        for (size_t i = 0; i < hidden.size(); i++)
            map.markers.push_back({_marker_monster, 0, (int16_t)(FIRST_HIDDEN_MARKER + i), 0,
                                   _marker_is_invisible_flag, {hidden[i].x, hidden[i].y, 0}, 0, 0, NONE, 0});
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        // Resolve the palette as the placement loop does, so markers can be called in.
        for (int32_t i = 0; i < get_marker_palette_entry_count(_marker_monster); ++i)
            new_monster_palette_entry(get_marker_palette_entry(_marker_monster, i));
        register_monster_hooks();
        register_monster_target_hooks();
        register_map_action_procedures(map_action_engine_procedures());
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        definition();
        initialize_script_modules_for_new_map();
        ASSERT_TRUE(initialize_monster_visibility());
        ASSERT_TRUE(initialize_monster_visibility_for_new_map());
        game_->game_time = 0;
        set_random_seed(5);
    }
    monster_data *named(int16_t identifier) { return unit(index_of(identifier)); }
    // Calls in the unit of hidden marker `i`: its index.
    int32_t call_in(int32_t i)
    {
        const int32_t index = make_monster_visible((int16_t)(FIRST_HIDDEN_MARKER + i), NONE);
        EXPECT_NE(index, NONE);
        return index;
    }
    void register_sound_fakes(void)
    {
        static const sound_procedures sounds = {.play_object_sound = record_object_sound,
                                                .play_sound_with_flags = record_sound,
                                                .adjust_ambient_sound_source_volume = record_fade};
        ASSERT_TRUE(register_sound_procedures(&sounds));
        ASSERT_TRUE(register_sound_listener_procedure(test_listener));
    }
    // Makes the cells around (cell_x, cell_y) visible to the local player.
    void see_around(int32_t cell_x, int32_t cell_y)
    {
        rasterize_visibility_bitmap(_visibility_type_short, cell_x, cell_y, false);
        swap_visibility_buffers();
    }
    static test_action &sound_tag(test_action &action, int32_t sound_index)
    {
        return action.ints(four("soun"), {sound_index}, _parameter_sound_tag);
    }
    static test_action &shorts(test_action &action, const char *name, int16_t type, std::vector<int16_t> values)
    {
        return action.raw(type, four(name), (int16_t)values.size(), values.data(), (int32_t)(values.size() * 2));
    }
};

// ---- 'quni' -------------------------------------------------------------------------

TEST_F(query_sound_suicide_test, quni_writes_one_value_per_unit_into_own_and_linked_entries_only)
{
    start();
    const int16_t a = soldier(0, {5000, 5000}, 100), b = soldier(1, {6000, 5000}, 101), c = soldier(0, {7000, 5000}, 102);
    get_object(named(a)->object_index)->vitality = 0x180;
    get_object(named(a)->object_index)->maximum_vitality = 0x300;
    get_object(named(b)->object_index)->maximum_vitality = 0; // fraction of a zero maximum: 0
    get_object(named(c)->object_index)->vitality = 0x100;
    get_object(named(c)->object_index)->maximum_vitality = 0x400;
    named(c)->experience = 7;

    test_action query{7, four("quni")};
    query.units(four("subj"), {a, b, 999, c}) // 999 names nobody and is left out
        .ints(four("vita"), {})
        .fixeds(four("fvit"), {1, 2, 3, 4, 5})
        .ints(four("nope"), {42}) // not a field
        .ints(four("expe"), {9}, _parameter_world_distance) // a field of the wrong type
        .ids(four("link"), {8});
    test_action linked{8, four("math")};
    linked.ints(four("team"), {}).ints(four("expe"), {0});
    ASSERT_TRUE(import_test_actions({query, linked}));

    EXPECT_EQ(trigger_map_action(0), SUCCEEDED);
    EXPECT_EQ((values_of<int32_t>(0, four("vita"), _parameter_integer)),
              (std::vector<int32_t>{0x180, get_object(named(b)->object_index)->vitality, 0x100}));
    EXPECT_EQ((values_of<int32_t>(0, four("fvit"), _parameter_fixed)),
              (std::vector<int32_t>{0x8000, 0, 0x4000}));
    EXPECT_EQ((values_of<int32_t>(0, four("nope"), _parameter_integer)), (std::vector<int32_t>{42}));
    EXPECT_EQ((values_of<int32_t>(0, four("expe"), _parameter_world_distance)), (std::vector<int32_t>{9}));
    EXPECT_EQ((values_of<int32_t>(1, four("team"), _parameter_integer)), (std::vector<int32_t>{0, 1, 0}));
    EXPECT_EQ((values_of<int32_t>(1, four("expe"), _parameter_integer)), (std::vector<int32_t>{0, 0, 7}));
}

TEST_F(query_sound_suicide_test, quni_without_result_entries_writes_nothing_and_does_not_succeed)
{
    start();
    const int16_t a = soldier(0, {5000, 5000}, 100);
    test_action query{7, four("quni")};
    query.units(four("subj"), {a}).ints(four("other"), {1});
    ASSERT_TRUE(import_test_actions({query}));
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ((values_of<int32_t>(0, four("other"), _parameter_integer)), (std::vector<int32_t>{1}));
}

// ---- 'soun' and 'ambi' --------------------------------------------------------------

TEST_F(query_sound_suicide_test, soun_plays_at_the_nearest_visible_unit_or_to_the_owner)
{
    start();
    register_sound_fakes();
    const int16_t far_unit = soldier(0, {cell_centre(20, 20).x, cell_centre(20, 20).y}, 100);
    const int16_t near_unit = soldier(0, {cell_centre(22, 20).x, cell_centre(22, 20).y}, 101);
    const int16_t unseen = soldier(0, {cell_centre(50, 50).x, cell_centre(50, 50).y}, 102);
    const int16_t enemy = soldier(1, {cell_centre(21, 20).x, cell_centre(21, 20).y}, 103);
    listener.position = {cell_centre(30, 20).x, cell_centre(30, 20).y, 0};
    see_around(21, 20);

    test_action nearest{1, four("soun")};
    nearest.units(four("subj"), {far_unit, unseen, near_unit});
    sound_tag(nearest, 12);
    test_action nobody_seen{2, four("soun")};
    nobody_seen.units(four("subj"), {unseen});
    sound_tag(nobody_seen, 13);
    test_action everywhere{3, four("soun")};
    sound_tag(everywhere, 14);
    test_action to_owner{4, four("soun")};
    to_owner.units(four("subj"), {enemy, far_unit}).flag(four("ownr"));
    sound_tag(to_owner, 15);
    test_action to_enemy_team{5, four("soun")};
    to_enemy_team.units(four("subj"), {enemy}).flag(four("ownr")).flag(four("team"));
    sound_tag(to_enemy_team, 16);
    ASSERT_TRUE(import_test_actions({nearest, nobody_seen, everywhere, to_owner, to_enemy_team}));

    for (int32_t action = 0; action < 5; action++) EXPECT_EQ(trigger_map_action(action), SUCCEEDED);
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_EQ(sounds[0].sound, 12);
    EXPECT_EQ(sounds[0].object_index, named(near_unit)->object_index);
    EXPECT_EQ(sounds[1].sound, 14); // no 'subj': to the listener
    EXPECT_EQ(sounds[1].object_index, NONE);
    EXPECT_EQ(sounds[2].sound, 15); // one unit is the local player's
    EXPECT_EQ(sounds[2].object_index, NONE);

    // A film has no local player: nothing plays, and the action still succeeds.
    sounds.clear();
    local_player_index = NONE;
    local_player_team_index = NONE;
    EXPECT_EQ(trigger_map_action(3), SUCCEEDED);
    EXPECT_TRUE(sounds.empty());
}

TEST_F(query_sound_suicide_test, ambi_fades_each_source_and_refuses_missing_settings)
{
    start();
    register_sound_fakes();
    test_action fade{1, four("ambi")};
    shorts(fade, "subj", _parameter_sound_source_identifier, {3, 4});
    fade.fixeds(four("volu"), {0x8000}).fixeds(four("dura"), {2 << 16});
    test_action no_volume{2, four("ambi")};
    shorts(no_volume, "subj", _parameter_sound_source_identifier, {3});
    no_volume.fixeds(four("dura"), {1 << 16});
    test_action no_sources{3, four("ambi")};
    no_sources.fixeds(four("volu"), {0x8000}).fixeds(four("dura"), {1 << 16});
    test_action no_duration{4, four("ambi")};
    shorts(no_duration, "subj", _parameter_sound_source_identifier, {3});
    no_duration.fixeds(four("volu"), {0x8000});
    ASSERT_TRUE(import_test_actions({fade, no_volume, no_sources, no_duration}));

    for (int32_t action = 0; action < 4; action++) EXPECT_EQ(trigger_map_action(action), EXECUTED);
    ASSERT_EQ(fades.size(), 2u);
    EXPECT_EQ(fades[0].source, 3);
    EXPECT_EQ(fades[1].source, 4);
    EXPECT_EQ(fades[0].volume, 0x80);
    EXPECT_EQ(fades[0].ticks, 60); // 2.0 seconds
}

// ---- 'suic' -------------------------------------------------------------------------

// The stored record: 548 bytes, units from offset 36, 8 bytes each.
struct stored_suicide_unit
{
    int16_t monster_index, identifier, fear, delay;
};
std::vector<stored_suicide_unit> stored_units(int32_t action_index)
{
    uint8_t bytes[548];
    if (!get_map_action_structure(action_index, _common_internal_field_name_globals, sizeof(bytes), bytes)) return {};
    int16_t count;
    memcpy(&count, bytes + 34, 2);
    std::vector<stored_suicide_unit> units((size_t)count);
    memcpy(units.data(), bytes + 36, (size_t)count * 8);
    return units;
}

TEST_F(query_sound_suicide_test, suic_draws_delays_in_order_and_places_units_only_when_they_run_out)
{
    start(1820, {{1000, 1000}, {1600, 1000}, {2200, 1000}});
    test_action band{7, four("suic")};
    band.units(four("subj"), {FIRST_HIDDEN_MARKER, FIRST_HIDDEN_MARKER + 1, FIRST_HIDDEN_MARKER + 2})
        .ints(four("dela"), {3})
        .ids(four("suin"), {8});
    test_action gate{8, four("dela")};
    ASSERT_TRUE(import_test_actions({band, gate}));

    set_random_seed(5);
    std::vector<int16_t> expected;
    for (int i = 0; i < 3; i++) expected.push_back((int16_t)(((int32_t)vesk_random() * 3) >> 16));
    set_random_seed(5);
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    std::vector<stored_suicide_unit> units = stored_units(0);
    ASSERT_EQ(units.size(), 3u);
    for (size_t i = 0; i < 3; i++)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(units[i].delay, expected[i]);
        // A unit whose delay is 0 was placed at once; the others are not on the field.
        EXPECT_EQ(units[i].monster_index != NONE, expected[i] == 0);
    }

    // While the inhibitor has not succeeded the delays do not run.
    for (int i = 0; i < 4; i++) trigger_map_action(0);
    units = stored_units(0);
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(units[i].delay, expected[i]);

    get_map_action(1)->flags |= _map_action_succeeded_flag;
    for (int i = 0; i < 4; i++) trigger_map_action(0);
    units = stored_units(0);
    for (size_t i = 0; i < 3; i++)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(units[i].delay, 0);
        ASSERT_NE(units[i].monster_index, NONE);
        EXPECT_EQ(unit(units[i].monster_index)->identifier, units[i].identifier);
    }
}

TEST_F(query_sound_suicide_test, suic_counts_enemies_in_the_block_cut_at_the_mesh_edge)
{
    struct
    {
        const char *name;
        std::vector<world_point2d> enemy_cells;
        bool detonates;
    } cases[] = {
        // One group of three either way, so only the count decides.
        {"three within the corner block", {{2, 2}, {2, 1}, {1, 2}}, true},
        {"one just outside", {{2, 2}, {2, 1}, {3, 1}}, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        start(1820, {cell_centre(0, 0)});
        const int32_t bomber = call_in(0);
        int16_t identifier = 200;
        for (const world_point2d &cell : c.enemy_cells) soldier(1, cell_centre(cell.x, cell.y), identifier++);
        test_action band{7, four("suic")};
        band.units(four("subj"), {FIRST_HIDDEN_MARKER}).ints(four("deth"), {3});
        ASSERT_TRUE(import_test_actions({band}));
        build_spatial_groups();
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ((unit(bomber)->flags & _monster_will_use_special_ability_flag) != 0, c.detonates);
        stop();
    }
}

TEST_F(query_sound_suicide_test, suic_detonates_in_shallow_media_and_walks_in_deep_media)
{
    struct
    {
        const char *name;
        uint32_t media_flags;
        int16_t z; // with a top of `height1`, its middle at z + height1 / 2
        bool detonates;
    } cases[] = {
        {"dry", 0, 0, true},
        {"shallow: the middle above the surface", _object_partially_under_media_flag, 200, true},
        {"partly under, the middle below the surface", _object_partially_under_media_flag, -400, false},
        {"wholly under", _object_wholly_under_media_flag, 0, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        start(1820, {cell_centre(10, 10)});
        const int32_t bomber = call_in(0);
        for (int16_t i = 0; i < 3; i++)
            soldier(1, {cell_centre(10, 10).x + 300, cell_centre(10, 10).y + i * 100}, (int16_t)(200 + i));
        object_data *object = body(bomber);
        object->flags = (object->flags & ~(uint32_t)(_object_partially_under_media_flag | _object_wholly_under_media_flag)) |
                        c.media_flags;
        object->location.position.z = c.z;
        object->height1 = 256;
        get_mesh_cell(10, 10)->media_height = 200;
        test_action band{7, four("suic")};
        band.units(four("subj"), {FIRST_HIDDEN_MARKER});
        ASSERT_TRUE(import_test_actions({band}));
        build_spatial_groups();
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ((unit(bomber)->flags & _monster_will_use_special_ability_flag) != 0, c.detonates);
        // Too deep to go off: it walks on towards its target instead.
        if (!c.detonates) { EXPECT_EQ(unit(bomber)->waypoint_count, 1); }
        stop();
    }
}

// The supergroup of `team` (the first one listed).
const spatial_supergroup *supergroup_of(int32_t team)
{
    for (const spatial_supergroup *group = first_spatial_supergroup(); group; group = group->next)
        if (group->team_index == team) return group;
    return nullptr;
}

// Far from enemies the unit closes on the enemy supergroup's centre; with a
// friend closer than the detonation radius it first steps out to the friend's
// radius plus the detonation radius, straight away from the friend.
TEST_F(query_sound_suicide_test, suic_advances_on_the_enemy_and_steps_away_from_a_close_friend)
{
    for (const bool with_friend : {false, true})
    {
        SCOPED_TRACE(with_friend ? "a friend close by" : "alone");
        start(1820, {{10000, 10000}});
        const int32_t bomber = call_in(0);
        for (int16_t i = 0; i < 5; i++) soldier(1, {20000 + i * 100, 20000}, (int16_t)(200 + i));
        if (with_friend) soldier(0, {9000, 10000}, 300);
        test_action band{7, four("suic")};
        band.units(four("subj"), {FIRST_HIDDEN_MARKER});
        ASSERT_TRUE(import_test_actions({band}));
        build_spatial_groups();
        const spatial_supergroup *enemy = supergroup_of(1);
        ASSERT_NE(enemy, nullptr);
        world_point2d expected = enemy->center;
        if (with_friend)
        {
            const spatial_supergroup *friendly = nullptr;
            for (const spatial_supergroup *group = first_spatial_supergroup(); group; group = group->next)
                if (group->team_index == 0 && group->center.x == 9000) friendly = group;
            ASSERT_NE(friendly, nullptr);
            expected = {friendly->center.x + friendly->radius + 4096, friendly->center.y};
        }
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_FALSE(unit(bomber)->flags & _monster_will_use_special_ability_flag);
        ASSERT_EQ(unit(bomber)->waypoint_count, 1);
        EXPECT_EQ(unit(bomber)->waypoints[0].x, expected.x);
        EXPECT_EQ(unit(bomber)->waypoints[0].y, expected.y);
        stop();
    }
}

TEST_F(query_sound_suicide_test, suic_ends_when_its_last_unit_dies_and_reports_the_casualty_once)
{
    start(1820, {cell_centre(30, 30)});
    const int32_t bomber = call_in(0);
    test_action band{7, four("suic")};
    band.units(four("subj"), {FIRST_HIDDEN_MARKER}).ids(four("casu"), {8});
    test_action casualty{8, four("dela")};
    ASSERT_TRUE(import_test_actions({band, casualty}));
    build_spatial_groups();
    EXPECT_EQ(trigger_map_action(0), EXECUTED); // nobody to fight: idle
    EXPECT_EQ(unit(bomber)->waypoint_count, 0);
    ASSERT_EQ(stored_units(0).size(), 1u);

    delete_monster(bomber, false);
    EXPECT_EQ(trigger_map_action(0), DEACTIVATED);
    EXPECT_TRUE(get_map_action(1)->flags & _map_action_is_active_flag);
}

} // namespace

} // namespace query_sound_suicide_action_procs_test_file
