// The story dialogs' rules, and their loop driven by injected input on a test clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "story_dialogs.h"
#include "support/dialog_input_harness.h"
#include "tag_files/tag_file_formats.h"

namespace story_dialogs_test_file {

namespace
{

TEST(story_rules, fade_fractions_reach_255_in_6_and_8_steps)
{
    const struct
    {
        int32_t frames;
        std::vector<int32_t> fractions;
    } cases[] = {
        {6, {0, 42, 85, 128, 170, 213, 255}},
        {8, {0, 32, 64, 96, 128, 160, 192, 224, 255}},
    };
    for (const auto &test_case : cases)
    {
        std::vector<int32_t> fractions;
        for (int32_t step = 0; step <= test_case.frames; ++step) fractions.push_back(anylogue_fraction(step, test_case.frames));
        EXPECT_EQ(fractions, test_case.fractions) << test_case.frames << " steps";
    }
    EXPECT_EQ(anylogue_fraction(3, 0), 255) << "no division by zero";
    // A story text stays until read: 15 characters a second, 8 to 60 seconds.
    const struct
    {
        std::string text;
        int32_t ticks;
    } readings[] = {{"", 240}, {std::string(150, 'a'), 300}, {std::string(5000, 'a'), 1800}};
    for (const auto &reading : readings) EXPECT_EQ(story_reading_ticks(reading.text.c_str()), reading.ticks);
    EXPECT_EQ(story_reading_ticks(nullptr), 240);
}

std::string durations_text(int32_t count)
{
    std::string text;
    for (int32_t i = 1; i <= count; ++i) text += (i > 1 ? "," : "") + std::to_string(i);
    return text;
}

TEST(story_rules, durations_add_up_to_at_most_19_picture_ends)
{
    const struct
    {
        std::string text;
        int16_t count;
        int32_t last_end; // milliseconds, when count > 0
    } cases[] = {
        {"", 0, 0},
        {"4", 1, 4000},
        {durations_text(19), 19, 190000},
        {durations_text(25), 19, 190000},
        {"3, 5,x,2", 2, 8000},
        {"pictures", 0, 0},
        {"-2,3", 0, 0},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.text);
        int32_t ticks[MAXIMUM_INSET_GRAPHICS] = {};
        EXPECT_EQ(parse_inset_durations(test_case.text.c_str(), ticks), test_case.count);
        if (test_case.count > 0) { EXPECT_EQ(ticks[test_case.count - 1], test_case.last_end); }
        EXPECT_EQ(ticks[MAXIMUM_INSET_DURATIONS], 0) << "the 20th entry is never written";
    }
    int32_t ticks[MAXIMUM_INSET_GRAPHICS] = {};
    EXPECT_EQ(parse_inset_durations(nullptr, ticks), 0);
}

TEST(story_rules, the_picture_follows_the_elapsed_time_and_stops_at_the_last)
{
    inset_graphic_globals globals = {};
    EXPECT_EQ(inset_picture_index(&globals, 0), NONE) << "no durations, no pictures";
    globals.count = parse_inset_durations("2,3,1", globals.ticks); // ends at 2000, 5000, 6000
    const struct
    {
        int32_t elapsed;
        int16_t picture;
    } cases[] = {{0, 0}, {2000, 0}, {2001, 1}, {5000, 1}, {5001, 2}, {6000, 2}, {60000, 2}};
    for (const auto &test_case : cases)
        EXPECT_EQ(inset_picture_index(&globals, test_case.elapsed), test_case.picture) << test_case.elapsed;
    globals.count = 1;
    EXPECT_EQ(inset_picture_index(&globals, 99999), 0);
}

constexpr tag LEVEL_2 = FOUR_CHARACTER_CODE('c', 'a', 'm', '2');
constexpr tag LEVEL_B = FOUR_CHARACTER_CODE('c', 'a', 'm', 'b');

TEST(story_rules, the_epilogue_outcome_and_its_results_follow_the_table)
{
    const tag both[2] = {LEVEL_2, LEVEL_B};
    const tag first_only[2] = {LEVEL_2, NONE};
    const tag none[2] = {NONE, NONE};
    const int16_t local = _tag_file_type_local, foundation = _tag_file_type_foundation;
    const struct
    {
        const char *label;
        int16_t endgame;
        const tag *next;
        bool last_level;
        int16_t file_type;
        bool fallback;
        epilogue_outcome outcome;
        epilogue_step default_step; // where the default result leads
    } cases[] = {
        {"win", 1, first_only, false, foundation, false, {1, 0, 2, true, false}, {_epilogue_goes_to_level, LEVEL_2}},
        {"win of the last level", 1, first_only, true, foundation, false, {1, 0, 2, true, true},
         {_epilogue_goes_to_level, LEVEL_2}},
        {"win of a local map without a next", 1, none, false, local, false, {1, 0, 2, true, true},
         {_epilogue_goes_to_main_menu, NONE}},
        {"win of a foundation map without a next: no next level offered", 1, none, false, foundation, false,
         {1, 0, 5, true, false}, {_epilogue_goes_to_main_menu, NONE}},
        {"failed victory that continues", 2, both, false, foundation, false, {1, 0, 2, true, false},
         {_epilogue_goes_to_level, LEVEL_B}},
        {"failed victory without a second next level", 2, first_only, false, foundation, false,
         {2, 1, 3, false, false}, {_epilogue_goes_to_restore_or_retry, NONE}},
        {"failed victory of the last level", 2, first_only, true, foundation, false, {2, 1, 3, false, true},
         {_epilogue_goes_to_restore_or_retry, NONE}},
        {"loss", 3, both, true, local, false, {2, 1, 3, false, false}, {_epilogue_goes_to_restore_or_retry, NONE}},
        {"loss with the fallback art", 3, both, false, foundation, true, {2, 0, 3, false, false},
         {_epilogue_goes_to_restore_or_retry, NONE}},
        {"no state", 0, both, false, foundation, false, {NONE, 0, 3, false, false},
         {_epilogue_goes_to_restore_or_retry, NONE}},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.label);
        const epilogue_outcome outcome =
            choose_epilogue_outcome(test_case.endgame, test_case.next, test_case.last_level, test_case.file_type,
                                    test_case.fallback);
        EXPECT_EQ(outcome.movie, test_case.outcome.movie);
        EXPECT_EQ(outcome.picture, test_case.outcome.picture);
        EXPECT_EQ(outcome.default_result, test_case.outcome.default_result);
        EXPECT_EQ(outcome.can_continue, test_case.outcome.can_continue);
        EXPECT_EQ(outcome.closing_text, test_case.outcome.closing_text);
        const epilogue_step step = epilogue_result_step(outcome.default_result, test_case.endgame, test_case.next);
        EXPECT_EQ(step.goes_to, test_case.default_step.goes_to);
        EXPECT_EQ(step.level, test_case.default_step.level);
    }

    // The other items of 'epdi'.
    const struct
    {
        int16_t result;
        int16_t endgame;
        epilogue_step step;
    } results[] = {
        {_epilogue_result_restart, 1, {_epilogue_goes_to_restart, NONE}},
        {_epilogue_result_main_menu, 1, {_epilogue_goes_to_main_menu, NONE}},
        {_epilogue_result_next_level_after_success, 2, {_epilogue_goes_to_level, LEVEL_2}},
        {_epilogue_result_next_level, 2, {_epilogue_goes_to_level, LEVEL_B}},
        {42, 1, {_epilogue_goes_to_restore_or_retry, NONE}},
    };
    for (const auto &r : results)
    {
        const epilogue_step step = epilogue_result_step(r.result, r.endgame, both);
        EXPECT_EQ(step.goes_to, r.step.goes_to) << r.result;
        EXPECT_EQ(step.level, r.step.level) << r.result;
    }
    EXPECT_EQ(story_endgame_state_from_game(_endgame_successful_victory, false), _story_endgame_loss);
    EXPECT_EQ(story_endgame_state_from_game(_endgame_failed_victory, true), _story_endgame_failed_victory);
    EXPECT_EQ(story_endgame_state_from_game(_endgame_resolved, true), _story_endgame_successful_victory);
    EXPECT_EQ(story_endgame_state_from_game(_endgame_resolved, false), _story_endgame_loss);
}

// ---- the loop ---------------------------------------------------------------------------

std::vector<int32_t> steps_seen;
void record_step(anylogue_state *, int32_t fraction) { steps_seen.push_back(fraction); }

script_step tick(void) { return action_step(make_test_action()); }
script_step escape(void) { return action_step(make_key_action(_key_escape, 27)); }

class story_loop : public dialog_input_test
{
protected:
    anylogue_state state = {};

    void SetUp() override
    {
        dialog_input_test::SetUp();
        game_->state = _game_state_displaying_mesh_prologue;
        steps_seen.clear();
        state.dialog = open_test_dialog("prdi", {probe_item(1, {10, 10, 30, 100})});
        ASSERT_NE(state.dialog, nullptr);
        state.item_hit = NONE;
    }
    void TearDown() override
    {
        if (state.dialog && dialog_is_open(state.dialog)) dispose_dialog(state.dialog);
        dialog_input_test::TearDown();
    }
    void add_ticks(int32_t count, int32_t escape_at = NONE)
    {
        for (int32_t i = 0; i < count; ++i) add_script_step(i == escape_at ? escape() : tick());
    }
};

TEST_F(story_loop, a_fade_runs_whole_through_escape_and_waits_its_period_on_local_time)
{
    add_ticks(40, 2);
    const int32_t start = game_->local_time.load();
    handle_anylogue_dialog(&state, 6, 2, record_step, nullptr, false);
    EXPECT_EQ(steps_seen, (std::vector<int32_t>{0, 42, 85, 128, 170, 213, 255}));
    EXPECT_FALSE(state.done);
    EXPECT_GE(game_->local_time.load() - start, 7 * 2) << "each step waits its period";
    EXPECT_EQ(game_->state, _game_state_displaying_mesh_prologue);
}

TEST_F(story_loop, escape_space_return_and_a_double_click_end_an_abortable_phase)
{
    const action_data enders[] = {make_key_action(_key_escape, 27), make_key_action(_key_space, ' '),
                                  make_key_action(_key_return, '\r'),
                                  with_action_flag(make_click_action(150, 150), _double_left_mouse_down_bit)};
    for (const action_data &ender : enders)
    {
        SCOPED_TRACE(ender.key_code);
        steps_seen.clear();
        state.done = false;
        restart_main_loop_script();
        add_script_steps({tick(), tick(), tick(), action_step(ender), tick(), tick()});
        handle_anylogue_dialog(&state, PROLOGUE_BIG_MAP_HOLD_TICKS, 1, record_step, nullptr, true);
        EXPECT_TRUE(state.done);
        EXPECT_EQ(steps_seen.size(), 4u) << "the hold ends at the key, not after 151 steps";
    }
    // Other keys do nothing.
    steps_seen.clear();
    state.done = false;
    restart_main_loop_script();
    add_script_steps({action_step(make_key_action(_key_a, 'a'))});
    add_ticks(12);
    handle_anylogue_dialog(&state, 8, 1, record_step, nullptr, true);
    EXPECT_FALSE(state.done);
    EXPECT_EQ(steps_seen.size(), 9u);
}

} // namespace

} // namespace story_dialogs_test_file
