// The search party and the scripted lightning over a world of units:
// 'invi' builds its record, notices a moving unit by facing or by a
// suspicion draw, sniffs and counts its ground attacks as stated, stands
// still without waypoints, announces a lost searcher once and ends when the
// unit is gone or visible; 'ligh' strikes at its sound-source marker, aimed
// at the nearest subject within the radius or at nobody.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "markers.h"
#include "mesh_format.h"
#include "monster_commands.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

namespace invisible_and_lightning_action_procs_test_file {

namespace {

constexpr int16_t SOUND_SOURCE_IDENTIFIER = 77;
constexpr world_point3d SOUND_SOURCE_AT = {20000, 20000, 300};

constexpr uint32_t EXECUTED = _map_action_proc_executed_flag;
constexpr uint32_t DEACTIVATED = _map_action_proc_executed_flag | _map_action_proc_deactivate_flag;

// The record's layout: searcher i at 38 + 10 i.
constexpr size_t GLOBALS_SIZE = 492;
constexpr size_t searcher_at(int32_t i) { return 38 + 10 * (size_t)i; }
enum { STATE = 4, DELAY = 6, COUNT = 7, SUSPICION = 8 };

class invisible_and_lightning_test : public script_test_world
{
protected:
    void start(void)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = map.height = 64;
        map.palette = {{_marker_sound_source, 0, 0, FOUR_CHARACTER_CODE('a', 'm', 's', 'o'), NONE, 0}};
        map.markers = {{_marker_sound_source, 0, SOUND_SOURCE_IDENTIFIER, 0, 0, SOUND_SOURCE_AT, 0, 0, NONE, 0}};
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_map_action_procedures(map_action_engine_procedures());
        current_gameplay_version = 1820;
        game_->time_state = _game_time_no_countdown;
        definition();
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
        set_random_seed(5);
    }
    monster_data *named(int16_t identifier) { return unit(index_of(identifier)); }
    void place(int16_t identifier, world_point2d at)
    {
        body(index_of(identifier))->location.position.x = at.x;
        body(index_of(identifier))->location.position.y = at.y;
    }

    std::vector<uint8_t> globals(int32_t action_index = 0)
    {
        std::vector<uint8_t> bytes(GLOBALS_SIZE);
        if (!get_map_action_structure(action_index, _common_internal_field_name_globals, (int32_t)GLOBALS_SIZE,
                                      bytes.data()))
            return {};
        return bytes;
    }
    void store(const std::vector<uint8_t> &bytes, int32_t action_index = 0)
    {
        ASSERT_TRUE(set_unique_map_action_parameter(action_index, _common_internal_field_name_globals,
                                                    _parameter_character, (int32_t)bytes.size(), bytes.data()));
    }
    static int16_t read16(const std::vector<uint8_t> &bytes, size_t offset)
    {
        int16_t value;
        memcpy(&value, bytes.data() + offset, 2);
        return value;
    }
    static void write16(std::vector<uint8_t> &bytes, size_t offset, int16_t value)
    {
        memcpy(bytes.data() + offset, &value, 2);
    }
    // Sets searcher i's state, delay, count and suspicion in the stored record.
    void set_searcher(int32_t i, int16_t state, int8_t delay, int8_t count, int16_t suspicion)
    {
        std::vector<uint8_t> bytes = globals();
        ASSERT_EQ(bytes.size(), GLOBALS_SIZE);
        write16(bytes, searcher_at(i) + STATE, state);
        bytes[searcher_at(i) + DELAY] = (uint8_t)delay;
        bytes[searcher_at(i) + COUNT] = (uint8_t)count;
        write16(bytes, searcher_at(i) + SUSPICION, suspicion);
        store(bytes);
    }
    int16_t state_of(int32_t i) { return read16(globals(), searcher_at(i) + STATE); }
    int8_t delay_of(int32_t i) { return (int8_t)globals()[searcher_at(i) + DELAY]; }
    int8_t count_of(int32_t i) { return (int8_t)globals()[searcher_at(i) + COUNT]; }
    int16_t suspicion_of(int32_t i) { return read16(globals(), searcher_at(i) + SUSPICION); }

    // A hunted unit (identifier 200, invisible) at `hidden` and one searcher
    // (identifier 100, facing +x) at `searcher`; the first trigger builds the
    // record.
    void hunt(world_point2d hidden, world_point2d searcher, bool with_waypoints = true,
              std::vector<test_action> more = {})
    {
        soldier(1, hidden, 200);
        named(200)->extra_flags |= _monster_is_invisible_extra_flag;
        soldier(0, searcher, 100);
        named(100)->base_movement_speed = 4;
        test_action invisible{7, four("invi")};
        invisible.units(four("invi"), {200}).units(four("subj"), {100}).ids(four("casu"), {8}).ids(four("visi"), {9});
        if (with_waypoints) points(invisible, "wayp", {{30000, 30000}});
        std::vector<test_action> actions = {invisible};
        actions.insert(actions.end(), more.begin(), more.end());
        ASSERT_TRUE(import_test_actions(actions));
        ASSERT_EQ(trigger_map_action(0), EXECUTED);
        ASSERT_EQ(globals().size(), GLOBALS_SIZE);
    }
};

// ---- 'invi' ---------------------------------------------------------------------------

// The record: the hunted unit, the constants, each searcher's first wait
// drawn modulo 12, the waypoints and their radius.
TEST_F(invisible_and_lightning_test, invisible_builds_its_record_with_a_drawn_wait_per_searcher)
{
    start();
    soldier(1, {5000, 5000}, 200);
    named(200)->extra_flags |= _monster_is_invisible_extra_flag;
    soldier(0, {40000, 40000}, 100);
    soldier(0, {40100, 40000}, 101);
    test_action invisible{7, four("invi")};
    invisible.units(four("invi"), {200}).units(four("subj"), {100, 101});
    points(invisible, "wayp", {{30000, 30000}, {31000, 30000}});
    ASSERT_TRUE(import_test_actions({invisible}));
    // A seed whose waits are both at least 1, so neither searcher wanders yet.
    uint32_t seed = 1;
    uint16_t r0, r1;
    for (;; seed++)
    {
        set_random_seed(seed);
        r0 = vesk_random();
        r1 = vesk_random();
        if (r0 % 12 >= 1 && r1 % 12 >= 1) break;
    }
    set_random_seed(seed);
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    const std::vector<uint8_t> g = globals();
    ASSERT_EQ(g.size(), GLOBALS_SIZE);
    EXPECT_EQ(read16(g, 0), index_of(200));
    EXPECT_EQ(read16(g, 2), 200);
    EXPECT_EQ(read16(g, 24), 0); // action index
    EXPECT_EQ(read16(g, 28), 21);
    EXPECT_EQ(read16(g, 30), 10);
    EXPECT_EQ(read16(g, 36), 2);
    EXPECT_EQ(read16(g, searcher_at(1)), index_of(101));
    EXPECT_EQ(read16(g, 358), 2);
    int32_t radius, slop, in_media, normal;
    memcpy(&radius, g.data() + 488, 4);
    memcpy(&slop, g.data() + 32, 4);
    memcpy(&in_media, g.data() + 16, 4);
    memcpy(&normal, g.data() + 20, 4);
    EXPECT_EQ(radius, 1536);
    EXPECT_EQ(slop, 1536);
    EXPECT_EQ(in_media, 4096);
    EXPECT_EQ(normal, 2048);
    // The first trigger also ran each searcher's first step.
    EXPECT_EQ(delay_of(0), (int8_t)(r0 % 12 - 1));
    EXPECT_EQ(delay_of(1), (int8_t)(r1 % 12 - 1));
}

// No record (and the action keeps trying) for two hidden units or more than
// 16 waypoints.
TEST_F(invisible_and_lightning_test, invisible_refuses_two_hidden_units_or_seventeen_waypoints)
{
    for (bool two : {true, false})
    {
        SCOPED_TRACE(two);
        start();
        soldier(1, {5000, 5000}, 200);
        soldier(1, {5100, 5000}, 201);
        soldier(0, {40000, 40000}, 100);
        test_action invisible{7, four("invi")};
        invisible.units(four("subj"), {100});
        if (two)
            invisible.units(four("invi"), {200, 201});
        else
        {
            invisible.units(four("invi"), {200});
            points(invisible, "wayp", std::vector<world_point2d>(17, world_point2d{3000, 3000}));
        }
        ASSERT_TRUE(import_test_actions({invisible}));
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_TRUE(globals().empty());
        EXPECT_EQ(named(100)->internal_command_identifier, NONE);
        stop();
    }
}

// A searcher with suspicion 128 that does not face the moving unit notices
// it (sniffing, turned towards it) on about half of the triggers; one that
// faces it always does, without a draw.
TEST_F(invisible_and_lightning_test, invisible_suspicion_128_behind_is_a_coin_flip_and_facing_always_notices)
{
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000})); // the unit is behind the searcher
    const int32_t rounds = 400;
    int32_t noticed = 0;
    for (int32_t round = 0; round < rounds; round++)
    {
        set_searcher(0, 0, 100, 0, 128);
        place(200, {9000 + (round + 1) % 2, 10000 + round % 7});
        set_random_seed((uint32_t)(1000 + round));
        trigger_map_action(0);
        if (state_of(0) == 5) noticed++;
    }
    EXPECT_GT(noticed, rounds * 40 / 100);
    EXPECT_LT(noticed, rounds * 60 / 100);

    // In front: noticed at once, no sighting draw.
    set_searcher(0, 0, 100, 0, 0);
    place(200, {11000, 10000});
    const uint32_t before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(state_of(0), 5);
    EXPECT_EQ(get_vesk_random_draw_count() - before, 1u); // the turning wait only
    EXPECT_EQ(named(100)->internal_command_identifier, 7);

    // Beyond 2048 nothing is noticed, and a unit in media is noticed from
    // 4096 away (watching, not sniffing).
    set_searcher(0, 0, 100, 0, 0);
    place(200, {13000, 10000});
    trigger_map_action(0);
    EXPECT_EQ(state_of(0), 0);
    body(index_of(200))->flags |= _object_on_media_flag;
    place(200, {13001, 10000});
    trigger_map_action(0);
    EXPECT_EQ(state_of(0), 2);
}

// Sniffing with suspicion 39 + 21 = 60: a draw of 60 and above wanders, 30
// to 59 walks to the unit, below 30 yells and attacks the ground.
TEST_F(invisible_and_lightning_test, invisible_sniffing_thresholds_60_and_30)
{
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000}));
    struct band
    {
        int32_t low, high;
        int16_t state;
    };
    for (const band &b : {band{60, 255, 1}, band{30, 59, 1}, band{0, 29, 4}})
    {
        SCOPED_TRACE(b.low);
        uint32_t seed = 1;
        for (;; seed++)
        {
            set_random_seed(seed);
            const int32_t r = vesk_random() & 0xff;
            if (r >= b.low && r <= b.high) break;
        }
        set_searcher(0, 5, 0, 0, 39);
        named(100)->internal_command_identifier = NONE;
        set_random_seed(seed);
        trigger_map_action(0); // the unit has not moved: no sighting
        EXPECT_EQ(state_of(0), b.state);
        EXPECT_EQ(suspicion_of(0), 60);
        const monster_data *searcher = named(100);
        if (b.state == 4)
            EXPECT_EQ(delay_of(0), 1);
        else
        {
            EXPECT_EQ(searcher->internal_command_identifier, 7);
            ASSERT_GE(searcher->waypoint_count, 1);
            const world_point2d to = searcher->waypoints[searcher->waypoint_count - 1];
            if (b.low == 30)
                EXPECT_TRUE(to.x == 9000 && to.y == 10000);
            else
                EXPECT_TRUE(to.x >= 30000 - 1536 && to.x < 30000 + 1536 && to.y >= 30000 - 1536 && to.y < 30000 + 1536);
        }
    }
}

// The ground attack: each entry with count 0 draws a count of 0 to 5 (after
// the x and y offsets), also when a series has counted down to exactly 0; a
// trigger in which the unit moved adds one attack; an expiry below 0 ends the
// series and the searcher wanders.
TEST_F(invisible_and_lightning_test, invisible_ground_attack_count_series)
{
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000}));

    // Count 1, expiry, still: down to 0, so it attacks again with a new count.
    set_searcher(0, 7, 0, 1, 0);
    set_random_seed(21);
    const uint16_t dx = vesk_random(), dy = vesk_random(), drawn = vesk_random();
    set_random_seed(21);
    uint32_t before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(get_vesk_random_draw_count() - before, 3u);
    EXPECT_EQ(state_of(0), 7);
    EXPECT_EQ(delay_of(0), 4);
    EXPECT_EQ(count_of(0), drawn % 6);
    const monster_data *searcher = named(100);
    EXPECT_EQ(searcher->internal_command_identifier, 7);
    (void)dx;
    (void)dy;

    // Count 2, not yet expired, the unit moves: one more attack, no draw.
    set_searcher(0, 7, 3, 2, 0);
    place(200, {9001, 10000});
    before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(get_vesk_random_draw_count(), before);
    EXPECT_EQ(count_of(0), 3);
    EXPECT_EQ(delay_of(0), 2);

    // Count 3, expiry: 2 left, attacking again without a new count.
    set_searcher(0, 7, 0, 3, 0);
    before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(get_vesk_random_draw_count() - before, 2u);
    EXPECT_EQ(count_of(0), 2);
    EXPECT_EQ(state_of(0), 7);

    // Count 0, expiry, the unit moved: +1 - 1 = 0, a new count is drawn.
    set_searcher(0, 7, 0, 0, 0);
    place(200, {9002, 10000});
    before = get_vesk_random_draw_count();
    trigger_map_action(0);
    EXPECT_EQ(get_vesk_random_draw_count() - before, 3u);
    EXPECT_EQ(state_of(0), 7);

    // Count 0, expiry, still: below 0, the series ends and it wanders.
    set_searcher(0, 7, 0, 0, 0);
    trigger_map_action(0);
    EXPECT_EQ(state_of(0), 0);
    EXPECT_EQ(count_of(0), 0);
}

// A wander far away at a slow pace waits the longest the record holds
// (127) rather than a wrapped, already expired wait.
TEST_F(invisible_and_lightning_test, invisible_long_wander_waits_127)
{
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {2000, 2000}));
    named(100)->base_movement_speed = 1;
    set_searcher(0, 0, 0, 0, 0);
    trigger_map_action(0);
    EXPECT_EQ(state_of(0), 0);
    EXPECT_EQ(delay_of(0), 127);
    EXPECT_EQ(named(100)->internal_command_identifier, 7);
}

// A stored record with a searcher in a state no step knows, or of another
// action, counts as missing: it is built anew instead of halting the game.
TEST_F(invisible_and_lightning_test, invisible_record_in_an_unknown_state_is_built_anew)
{
    struct damage
    {
        int16_t state, action_index;
    };
    for (const damage d : {damage{8, 0}, damage{-1, 0}, damage{0, 3}})
    {
        SCOPED_TRACE(d.state * 10 + d.action_index);
        start();
        ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {40000, 40000}, false));
        set_searcher(0, d.state, 5, 0, 50);
        std::vector<uint8_t> bytes = globals();
        write16(bytes, 24, d.action_index);
        store(bytes);
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_EQ(read16(globals(), 24), 0);
        EXPECT_GE(state_of(0), 0);
        EXPECT_LT(state_of(0), 8);
        stop();
    }
}

// Without waypoints a searcher whose wait runs out stands still: no order,
// no draw.
TEST_F(invisible_and_lightning_test, invisible_searcher_without_waypoints_stands_still)
{
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {40000, 40000}, false));
    set_searcher(0, 0, 0, 0, 50);
    named(100)->internal_command_identifier = NONE;
    const uint32_t before = get_vesk_random_draw_count();
    EXPECT_EQ(trigger_map_action(0), EXECUTED);
    EXPECT_EQ(get_vesk_random_draw_count(), before);
    EXPECT_EQ(named(100)->internal_command_identifier, NONE);
    EXPECT_EQ(state_of(0), 0);
    EXPECT_EQ(suspicion_of(0), 40);
}

// A lost searcher activates 'casu' once; the hunt ends when the last one is
// lost, when the unit is gone (no sighting draw) or when it is visible
// ('visi' activated).
TEST_F(invisible_and_lightning_test, invisible_announces_casualties_once_and_ends_as_stated)
{
    test_action casualty{8, four("gene")};
    casualty.ints(four("type"), {_command_general_stop});
    test_action visible{9, four("gene")};
    visible.ints(four("type"), {_command_general_stop});

    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000}, true, {casualty, visible}));
    delete_monster(index_of(100), false);
    EXPECT_EQ(trigger_map_action(0), DEACTIVATED);
    EXPECT_TRUE(get_map_action(1)->flags & _map_action_is_active_flag);
    EXPECT_FALSE(get_map_action(2)->flags & _map_action_is_active_flag);
    get_map_action(1)->flags &= ~_map_action_is_active_flag;
    trigger_map_action(0);
    EXPECT_FALSE(get_map_action(1)->flags & _map_action_is_active_flag);
    stop();

    // The hunted unit gone: it ends with no draw, even when it would have
    // been seen moving.
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000}, true, {casualty, visible}));
    set_searcher(0, 0, 100, 0, 255);
    delete_monster(index_of(200), false);
    uint32_t before = get_vesk_random_draw_count();
    EXPECT_EQ(trigger_map_action(0), DEACTIVATED);
    EXPECT_EQ(get_vesk_random_draw_count(), before);
    EXPECT_FALSE(get_map_action(2)->flags & _map_action_is_active_flag);
    stop();

    // Visible again: 'visi' runs.
    start();
    ASSERT_NO_FATAL_FAILURE(hunt({9000, 10000}, {10000, 10000}, true, {casualty, visible}));
    named(200)->extra_flags &= ~_monster_is_invisible_extra_flag;
    EXPECT_EQ(trigger_map_action(0), DEACTIVATED);
    EXPECT_TRUE(get_map_action(2)->flags & _map_action_is_active_flag);
    EXPECT_FALSE(get_map_action(1)->flags & _map_action_is_active_flag);
}

// ---- 'ligh' ---------------------------------------------------------------------------

class lightning_test : public invisible_and_lightning_test
{
protected:
    int16_t projectile_type = NONE;

    void start_with_projectile(void)
    {
        ASSERT_NO_FATAL_FAILURE(start());
        soldier(0, {0, 0}, 999); // a body whose object definition the projectile borrows
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = body(index_of(999))->type;
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 100;
        projectile_type =
            (int16_t)new_definition(get_projectile_definition_group(), FOUR_CHARACTER_CODE('b', 'o', 'l', 't'), &d);
        ASSERT_NE(projectile_type, NONE);
    }
    test_action lightning(std::vector<int16_t> subjects, int32_t radius)
    {
        test_action a{7, four("ligh")};
        a.units(four("subj"), subjects);
        a.raw(_parameter_sound_source_identifier, four("soun"), 1, &SOUND_SOURCE_IDENTIFIER, 2);
        a.ints(four("radi"), {radius}, _parameter_world_distance);
        a.ints(four("proj"), {projectile_type}, _parameter_projectile_tag);
        return a;
    }
    // The projectiles in use.
    std::vector<const projectile_data *> projectiles(void)
    {
        std::vector<const projectile_data *> found;
        for (int32_t i = 0; i < get_projectile_slot_count(); i++)
            if (const projectile_data *p = get_projectile_data(i)) found.push_back(p);
        return found;
    }
};

// The bolt starts at the sound-source marker (no sound module is running)
// and is aimed at the nearest subject within the radius, or at nobody.
TEST_F(lightning_test, lightning_strikes_at_its_marker_aimed_at_the_nearest_subject_or_nobody)
{
    for (bool in_reach : {true, false})
    {
        SCOPED_TRACE(in_reach);
        ASSERT_NO_FATAL_FAILURE(start_with_projectile());
        soldier(0, {SOUND_SOURCE_AT.x + 900, SOUND_SOURCE_AT.y}, 100);
        soldier(0, {SOUND_SOURCE_AT.x, SOUND_SOURCE_AT.y - 700}, 101);
        soldier(0, {SOUND_SOURCE_AT.x - 700, SOUND_SOURCE_AT.y}, 102); // ties with 101: the first wins
        ASSERT_TRUE(import_test_actions({lightning({100, 101, 102}, in_reach ? 1000 : 700)}));
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        const std::vector<const projectile_data *> made = projectiles();
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0]->target_monster_index, in_reach ? index_of(101) : NONE);
        EXPECT_TRUE(made[0]->flags & _projectile_detonates_immediately_flag);
        const object_data *bolt = get_object(made[0]->object_index);
        ASSERT_NE(bolt, nullptr);
        EXPECT_EQ(bolt->location.position.x, SOUND_SOURCE_AT.x);
        EXPECT_EQ(bolt->location.position.y, SOUND_SOURCE_AT.y);
        stop();
    }
}

// Missing subjects, source, radius or tag: nothing is made and the action
// keeps its schedule.
TEST_F(lightning_test, lightning_without_its_settings_makes_nothing)
{
    for (int32_t missing = 0; missing < 4; missing++)
    {
        SCOPED_TRACE(missing);
        ASSERT_NO_FATAL_FAILURE(start_with_projectile());
        soldier(0, {SOUND_SOURCE_AT.x, SOUND_SOURCE_AT.y}, 100);
        test_action a = lightning(missing == 0 ? std::vector<int16_t>{555} : std::vector<int16_t>{100}, 1000);
        if (missing > 0) a.parameters.erase(a.parameters.begin() + missing);
        ASSERT_TRUE(import_test_actions({a}));
        EXPECT_EQ(trigger_map_action(0), EXECUTED);
        EXPECT_TRUE(projectiles().empty());
        stop();
    }
}

} // namespace

} // namespace invisible_and_lightning_action_procs_test_file
