// Unit trading on a small world: which unit types a team may trade under each
// gameplay version's rules, and the unit adjustment command through the
// command stream: trades that fit, trades that are refused whole, a second
// trade, and the same state when the same trade is played again.

#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "monster_life.h"
#include "monster_owners.h"
#include "monster_placement.h"
#include "monsters.h"
#include "players.h"
#include "state_hash.h"
#include "support/expected_assertions.h"
#include "support/unit_world_test.h"
#include "unit_commands.h"
#include "unit_definitions.h"

namespace monster_placement_test_file {

namespace
{

constexpr uint32_t TRADES = _marker_palette_allows_trading_flag;
constexpr uint32_t RESERVE = _marker_is_trade_reserve_flag;
constexpr uint32_t KEPT = _marker_is_kept_in_trading_flag;

mesh_marker unit_marker(int16_t palette, int16_t identifier, uint32_t flags = 0, int16_t difficulty = 0)
{
    const world_distance x = (world_distance)(512 + 384 * (identifier % 16));
    const world_distance y = (world_distance)(1024 + 1024 * (identifier / 16));
    return {_marker_monster, palette, identifier, difficulty, flags, {x, y, 0}, 0, 0, NONE, 0};
}

mesh_marker_palette_entry unit_entry(int16_t team, const char *unit, uint32_t flags)
{
    return {_marker_monster, team, flags, FOUR_CHARACTER_CODE(unit[0], unit[1], unit[2], unit[3]), NONE, 0};
}

// A placement as the test expects it: the unit by its tag.
struct expected_placement
{
    const char *unit;
    int16_t count, minimum, maximum, cost;
    bool tradable;
};

class monster_placement_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;
    bool started = false;

    void SetUp() override
    {
        start_unit_store();
        // Costs: "wa01" 2, "ar01" 3, "fr01" nothing, "sl01" 1 (worth -4: nothing either way).
        ASSERT_NO_FATAL_FAILURE(write_unit_tags([](monster_definition &m) { m.experience_point_value = 2; }));
        ASSERT_NO_FATAL_FAILURE(write_unit_type("ar01", "mon3", [](monster_definition &m) { m.experience_point_value = 3; }));
        ASSERT_NO_FATAL_FAILURE(write_unit_type("fr01", "mon0", [](monster_definition &m) { m.experience_point_value = 0; }));
        ASSERT_NO_FATAL_FAILURE(write_unit_type("sl01", "monn", [](monster_definition &m) { m.experience_point_value = -4; }));
        register_monster_life_hooks();
        register_monster_owner_hooks();
        register_monster_placement_hooks();
        ASSERT_TRUE(initialize_commands());
    }
    void TearDown() override
    {
        stop();
        current_gameplay_version = saved_version;
        clear_all_registrations();
        store_test::TearDown();
    }
    void stop(void)
    {
        if (!started) return;
        started = false;
        dispose_commands_from_old_map();
        dispose_projectiles_from_old_map();
        dispose_explosions_from_old_map();
        dispose_units_world();
    }

    // Players 0 and 2 on team 0 (0 its captain), 1 on team 1; the units placed
    // as the map step does, in a game with trading and 300 ticks of planning.
    void start(const std::vector<mesh_marker_palette_entry> &palette, const std::vector<mesh_marker> &markers,
               int32_t version = 1820, uint32_t options = _game_option_allow_unit_trading_flag, int16_t scoring = 0)
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 7, 3);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        data.players[2].team_index = 0;
        data.parameters.option_flags = options;
        data.parameters.pregame_time_limit = 300;
        data.parameters.difficulty_level = 2;
        data.parameters.scoring = scoring;
        objects_world_map map;
        map.width = map.height = 16;
        map.palette = palette;
        map.markers = markers;
        current_gameplay_version = version;
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        ASSERT_TRUE(initialize_commands_for_new_map());
        reset_command_executor();
        place_markers_of_type(_marker_monster);
    }

    static tag unit_tag_of(int16_t unit_type)
    {
        const unit_definition *unit = get_unit_definition(unit_type);
        return unit ? unit->parent_unit_tag : (tag)NONE;
    }

    static void expect_placements(int16_t team, const std::vector<expected_placement> &expected)
    {
        int16_t count = -1;
        monster_placement *placements = get_monster_placement_data(team, &count);
        ASSERT_EQ(count, (int16_t)expected.size());
        for (int16_t i = 0; i < count; ++i)
        {
            const expected_placement &e = expected[(size_t)i];
            const monster_placement &p = placements[i];
            SCOPED_TRACE(e.unit);
            EXPECT_EQ(unit_tag_of(p.unit_type), FOUR_CHARACTER_CODE(e.unit[0], e.unit[1], e.unit[2], e.unit[3]));
            EXPECT_EQ(p.count, e.count);
            EXPECT_EQ(p.minimum_count, e.minimum);
            EXPECT_EQ(p.maximum_count, e.maximum);
            EXPECT_EQ(p.cost_per_unit, e.cost);
            EXPECT_EQ((p.flags & _monster_placement_tradable_flag) != 0, e.tradable);
        }
        free(placements);
    }

    // The adjustment as the dialog sends it: queued outgoing, stamped for
    // `player` by the command stream, executed at the tick it is due.
    static void trade(int16_t player, const std::vector<int16_t> &counts)
    {
        ASSERT_TRUE(queue_unit_adjustment_command(_unit_adjustment_from_trading_flag, (int16_t)counts.size(),
                                                  counts.data()));
        queue_local_commands(game_->game_time, player);
        execute_monster_commands();
        EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr) << "the command ran";
    }

    // Team 0's units on the map, per unit tag.
    static std::vector<int32_t> units_of_team_0(std::initializer_list<const char *> units)
    {
        std::vector<int32_t> counts;
        for (const char *unit : units)
        {
            int32_t count = 0;
            for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
            {
                const monster_data *monster = get_monster_data(i);
                if (monster && monster->owner_team_index == 0 &&
                    unit_tag_of(monster->unit_type) == FOUR_CHARACTER_CODE(unit[0], unit[1], unit[2], unit[3]))
                    ++count;
            }
            counts.push_back(count);
        }
        return counts;
    }
};

TEST_F(monster_placement_test, a_team_is_offered_its_unit_types_by_the_rules_of_the_gameplay_version)
{
    const std::vector<mesh_marker_palette_entry> palette = {
        unit_entry(0, "wa01", TRADES), unit_entry(0, "ar01", TRADES), unit_entry(0, "fr01", 0),
        unit_entry(0, "sl01", TRADES | _marker_palette_hunted_creature_flag), unit_entry(1, "wa01", TRADES),
        unit_entry(0, "wa01", 0), // a second entry of the type: counted with the first
    };
    // "wa01": one unit, one kept, one reserve, one of a harder game (through
    // the second entry); "ar01": two units; "fr01": one; the hunted "sl01":
    // one; team 1: one "wa01".
    const std::vector<mesh_marker> markers = {
        unit_marker(0, 1), unit_marker(0, 2, KEPT), unit_marker(0, 3, RESERVE), unit_marker(5, 4, 0, 3),
        unit_marker(1, 5), unit_marker(1, 6), unit_marker(2, 7), unit_marker(3, 8), unit_marker(4, 20),
    };
    const struct
    {
        int32_t version;
        int16_t scoring;
        std::vector<expected_placement> expected; // cheapest first
    } cases[] = {
        // Above 1710 only tradable types with markers.
        {1820, 0, {{"wa01", 2, 1, 3, 2, true}, {"ar01", 2, 0, 2, 3, true}}},
        // 1710 keeps those that cannot be traded.
        {1710, 0, {{"fr01", 1, 0, 1, 0, false}, {"wa01", 2, 1, 3, 2, true}, {"ar01", 2, 0, 2, 3, true}}},
        // Before 1710 a type without markers stays; up to 1300 every
        // difficulty counts.
        {1300, 0,
         {{"fr01", 1, 0, 1, 0, false},
          {"sl01", 0, 0, 0, 0, false},
          {"wa01", 2, 1, 4, 2, true},
          {"ar01", 2, 0, 2, 3, true}}},
        // A hunting game counts the hunted creature's markers.
        {1820, _game_scoring_hunting, {{"sl01", 1, 0, 1, 0, true}, {"wa01", 2, 1, 3, 2, true}, {"ar01", 2, 0, 2, 3, true}}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version);
        ASSERT_NO_FATAL_FAILURE(start(palette, markers, c.version, _game_option_allow_unit_trading_flag, c.scoring));
        expect_placements(0, c.expected);
        stop();
    }
    int16_t count = -1;
    EXPECT_EQ(get_monster_placement_data(NONE, &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST_F(monster_placement_test, at_most_eight_types_are_offered)
{
    std::vector<mesh_marker_palette_entry> palette;
    std::vector<mesh_marker> markers;
    std::vector<expected_placement> expected;
    static const char *const names[] = {"u000", "u001", "u002", "u003", "u004", "u005", "u006", "u007", "u008"};
    for (int16_t i = 0; i < 9; ++i)
    {
        ASSERT_NO_FATAL_FAILURE(write_unit_type(names[i], "mons", [](monster_definition &m) { m.experience_point_value = 2; }));
        palette.push_back(unit_entry(0, names[i], TRADES));
        markers.push_back(unit_marker(i, (int16_t)(i + 1), RESERVE));
        if (i < NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES) expected.push_back({names[i], 0, 0, 1, 2, true});
    }
    ASSERT_NO_FATAL_FAILURE(start(palette, markers));
    expect_placements(0, expected);
}

TEST_F(monster_placement_test, the_adjustment_trades_units_that_fit_and_refuses_the_rest_whole)
{
    // "wa01" (2 points): a unit, a kept unit, a reserve; "ar01" (3 points):
    // two units and a reserve.  Ten points in all.
    const std::vector<mesh_marker_palette_entry> palette = {unit_entry(0, "wa01", TRADES), unit_entry(0, "ar01", TRADES),
                                                            unit_entry(1, "wa01", TRADES)};
    const std::vector<mesh_marker> markers = {unit_marker(0, 1), unit_marker(0, 2, KEPT), unit_marker(0, 3, RESERVE),
                                              unit_marker(1, 4), unit_marker(1, 5), unit_marker(1, 6, RESERVE),
                                              unit_marker(2, 20)};
    const struct
    {
        const char *what;
        std::vector<std::vector<int16_t>> trades; // by player 0 unless `player`
        std::vector<int32_t> units; // "wa01", "ar01" afterwards
        int16_t player = 0;
        uint32_t options = _game_option_allow_unit_trading_flag;
        int32_t game_time = 0;
    } cases[] = {
        {"a unit traded away", {{1, 2}}, {1, 2}},
        {"a unit for another", {{3, 1}}, {3, 1}},
        // A second trade starts from the first's units: what was traded away is spent.
        {"twice", {{3, 1}, {2, 1}, {3, 1}}, {2, 1}},
        {"more than the points", {{3, 2}}, {2, 2}},
        {"below the kept units", {{0, 2}}, {2, 2}},
        {"counts of other types", {{2}}, {2, 2}},
        {"not the captain", {{1, 2}}, {2, 2}, 2},
        {"a game without trading", {{1, 2}}, {2, 2}, 0, 0},
        {"late", {{1, 2}}, {2, 2}, 0, _game_option_allow_unit_trading_flag, 300 + UNIT_ADJUSTMENT_LATE_TICKS + 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(start(palette, markers, 1820, c.options));
        if (c.game_time > 0)
        {
            game_->time_state = _game_time_no_countdown;
            game_->game_time = c.game_time;
        }
        for (const auto &counts : c.trades) ASSERT_NO_FATAL_FAILURE(trade(c.player, counts));
        EXPECT_EQ(units_of_team_0({"wa01", "ar01"}), c.units);
        // The kept unit is never traded away.
        const marker_data *kept = get_marker_by_index(_marker_monster, 1);
        EXPECT_NE(get_monster_data(kept->data_index), nullptr);
        stop();
    }
    ASSERT_NO_FATAL_FAILURE(start(palette, markers));
    EXPECT_FALSE(apply_unit_adjustment(0, 2, 2, std::vector<int16_t>{2, 2}.data())) << "flags it does not know";
}

// Commands as a peer or a film could deliver them: each is skipped whole,
// the game stays in step and no unit moves.
TEST_F(monster_placement_test, a_malformed_adjustment_command_is_skipped_without_a_change)
{
    const std::vector<mesh_marker_palette_entry> palette = {unit_entry(0, "wa01", TRADES), unit_entry(0, "ar01", TRADES)};
    const std::vector<mesh_marker> markers = {unit_marker(0, 1), unit_marker(0, 2, RESERVE), unit_marker(1, 4),
                                              unit_marker(1, 5)};
    // The body after the header, big-endian: the flags, then the counts' array.
    const struct
    {
        const char *what;
        std::vector<uint8_t> body;
        bool undecodable = true; // the decoder's own assertion, else the verb's refusal
    } cases[] = {
        {"no record", {}},
        {"half a record", {0}},
        {"no array", {0, 1}},
        {"an array header cut short", {0, 1, 0}},
        {"fewer counts than declared", {0, 1, 0, 2, 0, 2}},
        {"a negative count", {0, 1, 0xFF, 0xFF, 0, 2, 0, 1}},
        {"an absurd count", {0, 1, 0x7F, 0xFF, 0, 2, 0, 1}},
        {"more counts than entries", {0, 1, 0, 9, 0, 2, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, false},
        {"counts out of range", {0, 1, 0, 2, 0x80, 0, 0x7F, 0xFF}, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(start(palette, markers));
        const uint32_t before = compute_state_hash();
        std::vector<uint8_t> bytes(sizeof(command_header));
        bytes.insert(bytes.end(), c.body.begin(), c.body.end());
        command_header header = {(int16_t)bytes.size(), _command_unit_adjustment, 0, game_->game_time};
        memcpy(bytes.data(), &header, sizeof(header));
        ASSERT_TRUE(queue_incoming_command((const command_header *)bytes.data()));
        {
            expected_assertions decoder(c.undecodable ? 1 : 0);
            execute_monster_commands();
        }
        EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr);
        EXPECT_EQ(units_of_team_0({"wa01", "ar01"}), (std::vector<int32_t>{1, 2}));
        EXPECT_EQ(compute_state_hash(), before);
        EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
        stop();
    }
}

TEST_F(monster_placement_test, the_same_trade_played_again_leaves_the_same_state)
{
    const std::vector<mesh_marker_palette_entry> palette = {unit_entry(0, "wa01", TRADES), unit_entry(0, "ar01", TRADES)};
    const std::vector<mesh_marker> markers = {unit_marker(0, 1), unit_marker(0, 2, RESERVE), unit_marker(1, 4),
                                              unit_marker(1, 5)};
    uint32_t hashes[2];
    for (uint32_t &hash : hashes)
    {
        ASSERT_NO_FATAL_FAILURE(start(palette, markers));
        ASSERT_NO_FATAL_FAILURE(trade(0, {2, 1}));
        hash = compute_state_hash();
        EXPECT_EQ(units_of_team_0({"wa01", "ar01"}), (std::vector<int32_t>{2, 1}));
        stop();
    }
    EXPECT_EQ(hashes[0], hashes[1]);
}

} // namespace

} // namespace monster_placement_test_file
