// The points the program fills reach their owners: in a game brought up
// headless with the program's own registration (the demo map, and the
// every-tag map for its scripts), the frame's pending error and an
// out-of-sync game reach the player, the tutorial's overhead-map question
// reads the overhead map, a model effect ends with its projectile and its
// script's success, a script's unit indicator gets a font, and the key
// bindings' mouse options reach the selection.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "bitmaps.h"
#include "console/console.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "objects.h"
#include "overhead_map.h"
#include "overhead_text.h"
#include "screen.h"
#include "selection.h"
#include "sniffing.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "vesk.h"

namespace built_points_test_file {

namespace {

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};

std::vector<std::string> message_boxes;
void record_message_box(const char *text) { message_boxes.push_back(text ? text : ""); }

// The console's recent lines, newest first.
std::vector<std::string> console_lines(void)
{
    std::vector<std::string> lines;
    for (int32_t i = 0; const char *line = get_console_line_text(i); ++i) lines.push_back(line);
    return lines;
}

int32_t lines_containing(const std::string &text)
{
    int32_t count = 0;
    for (const std::string &line : console_lines()) count += line.find(text) != std::string::npos;
    return count;
}

// The objects over `origin` (a projectile's, or what it left when it came to rest).
int32_t objects_at(const world_point3d &origin)
{
    int32_t count = 0;
    for (int32_t i = 0; i < get_object_count(); ++i)
        if (const object_data *object = get_object(i))
            count += object->location.position.x == origin.x && object->location.position.y == origin.y;
    return count;
}

class built_points : public ::testing::Test
{
protected:
    std::string directory, previous, tool;

    void SetUp() override
    {
        tool = data_tool_path();
        if (!std::filesystem::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        ASSERT_TRUE(enter_demo_data_directory(tool, &directory, &previous));
        open_log_file("built points test");
        start_demo_game();
    }
    void TearDown() override
    {
        set_vesk_headless(true);
        stop_simulation();
        close_log_file();
        leave_demo_data_directory(directory, previous);
    }
    void start_demo_game(void)
    {
        char reason[256];
        ASSERT_TRUE(start_simulation(nullptr, DEMO, 3, reason, sizeof(reason))) << reason;
        ASSERT_TRUE(run_simulation(5, nullptr, 0, &normal, nullptr));
    }
};

// A pending error shows on the console in a game and in a message box
// outside one; an out-of-sync game says so once, with its tick, and the next
// game says so again.
TEST_F(built_points, the_frames_error_and_an_out_of_sync_game_reach_the_player)
{
    const auto report = get_front_end_procedures()->report_pending_error;
    ASSERT_NE(report, nullptr);
    ASSERT_NE(get_out_of_sync_procedure(), nullptr);
    set_vesk_headless(false); // a windowed game shows what a headless one only logs
    message_boxes.clear();
    set_message_box_proc(record_message_box);

    report(_error_data_missing, "the tag 'abcd' is missing");
    EXPECT_EQ(lines_containing("the tag 'abcd' is missing"), 1);
    EXPECT_TRUE(message_boxes.empty());

    const std::string first = "Out of sync at tick " + std::to_string(game_->game_time);
    game_is_out_of_sync(__FILE__, __LINE__);
    ASSERT_TRUE(run_simulation(3, nullptr, 0, &normal, nullptr));
    game_is_out_of_sync(__FILE__, __LINE__);
    EXPECT_EQ(lines_containing("Out of sync"), 1);
    EXPECT_EQ(lines_containing(first), 1);

    start_demo_game(); // a new game on a new map
    set_vesk_headless(false);
    set_message_box_proc(record_message_box);
    game_is_out_of_sync(__FILE__, __LINE__);
    EXPECT_EQ(lines_containing("Out of sync at tick " + std::to_string(game_->game_time)), 1);

    stop_simulation(); // no game: the main menu's state without a map
    set_vesk_headless(false);
    set_message_box_proc(record_message_box);
    report(_error_data_missing, "the film cannot be read");
    EXPECT_EQ(message_boxes, std::vector<std::string>{"the film cannot be read"});

    set_vesk_headless(true); // headless: the log keeps it, nobody is asked
    report(_error_data_missing, "quietly");
    EXPECT_EQ(message_boxes.size(), 1u);
}

// The tutorial's question "is the overhead map shown" is true only once the
// map is fully open, and false again as soon as it starts closing: the
// watcher puts the state into the stream as the player's input passes it,
// and the answer is the stream's once it has run.
TEST_F(built_points, the_tutorials_overhead_map_question_reads_the_overhead_map)
{
    // A headless game builds no overhead map: build the demo map's as a
    // window's game does, for a 32-bit screen.
    const active_color_environment saved_screen = active_screen;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = 1024, active_screen.height = 768;
    ASSERT_TRUE(initialize_overhead_map_for_new_game(nullptr));
    ASSERT_TRUE(overhead_map_initialized()) << "the demo map has its overhead picture";
    const new_sniffing_data question = {0, 7, _sniffing_overhead_map_is_shown, 0, 0, 0};
    const action_procedure watcher = get_action_procedure(_action_tutorial_watcher);
    ASSERT_NE(watcher, nullptr);
    // An input record passes the watcher, and the game runs a tick.
    const auto asked = [&](void) {
        action_data idle;
        memset(&idle, 0, sizeof(idle));
        idle.key_code = idle.ascii_code = NONE;
        watcher(&idle);
        EXPECT_TRUE(run_simulation(1, nullptr, 0, &normal, nullptr));
        return toggle_sniffing(&question);
    };
    EXPECT_FALSE(asked()) << "closed";
    set_overhead_map_visibility(true);
    EXPECT_FALSE(asked()) << "opening";
    ASSERT_TRUE(run_simulation(30, nullptr, 0, &normal, nullptr));
    advance_overhead_map_fade(30);
    EXPECT_FALSE(toggle_sniffing(&question)) << "open, but not in the stream yet";
    EXPECT_TRUE(asked()) << "open";
    set_overhead_map_visibility(false);
    EXPECT_FALSE(asked()) << "closing";
    dispose_overhead_map_from_old_game();
    active_screen = saved_screen;
}

// The every-tag map's script, 200 ticks in: its unit indicator put a text
// over its unit in interface font 1 (the script names no font; a text
// without a font is never drawn), and its model effect on the gate ended with
// the script's success and an arrow at the effect's origin.
TEST_F(built_points, the_every_tag_scripts_text_has_a_font_and_its_model_effect_ends_in_success)
{
    stop_simulation();
    std::vector<test_tag> every_tag;
    ASSERT_TRUE(make_demo_map_source_tags(tool, "every_tag.map", "ever", &every_tag));
    ASSERT_TRUE(make_string_list_tags(tool, &every_tag)); // the text's list, the map's mission list
    ASSERT_TRUE(write_demo_data_set(tool, every_tag));
    close_log_file();
    ASSERT_TRUE(open_log_file_at("every_tag_log.txt", "built points test"));
    char reason[256];
    ASSERT_TRUE(start_simulation(nullptr, FOUR_CHARACTER_CODE('e', 'v', 'e', 'r'), 3, reason, sizeof(reason))) << reason;
    ASSERT_TRUE(run_simulation(200, nullptr, 0, &normal, nullptr));

    const int32_t interface_font = get_interface_font_index(1);
    ASSERT_NE(interface_font, NONE);
    int32_t texts = 0;
    for (int32_t i = 0; i < MAXIMUM_OVERHEAD_TEXT_PER_MAP; ++i)
        if (const overhead_text_data *text = get_overhead_text(i))
        {
            ++texts;
            EXPECT_EQ(text->font_index, interface_font) << "text " << i;
        }
    EXPECT_EQ(texts, 1);

    EXPECT_EQ(objects_at({7168, 9728, 0}), 1) << "the model effect's arrow";
    close_log_file();
    const std::string log = read_whole_file("every_tag_log.txt");
    EXPECT_NE(log.find("MA [moef] every tag moef  succeeded"), std::string::npos);
}

// The current set's flags and mouse options, as the selection reads them.  The
// right click and the wheel do one thing each: the first of their flags.
TEST_F(built_points, the_key_bindings_options_reach_the_selection)
{
    struct options_case
    {
        const char *name;
        uint32_t set_flags, mouse_flags;
        std::vector<int32_t> bits;
    };
    const options_case cases[] = {
        {"nothing", 0, 0, {}},
        {"right click attacks", 0, _mouse_control_right_click_attack_flag, {_selection_input_right_click_attack_bit}},
        {"right button deselects", _input_definition_right_button_deselects_flag, 0,
         {_selection_input_right_button_deselects_bit}},
        {"right click ignored", 0, _mouse_control_right_click_ignored_flag, {_selection_input_right_click_ignored_bit}},
        {"attack wins over deselect and ignore", _input_definition_right_button_deselects_flag,
         _mouse_control_right_click_attack_flag | _mouse_control_right_click_ignored_flag,
         {_selection_input_right_click_attack_bit}},
        {"deselect wins over ignore", _input_definition_right_button_deselects_flag,
         _mouse_control_right_click_ignored_flag, {_selection_input_right_button_deselects_bit}},
        {"wheel cycles presets", 0, _mouse_control_wheel_cycle_presets_flag, {_selection_input_wheel_cycle_presets_bit}},
        {"wheel cycles the inventory", 0, _mouse_control_wheel_cycle_inventory_flag,
         {_selection_input_wheel_cycle_inventory_bit}},
        {"a zooming wheel cycles nothing", 0, _mouse_control_wheel_zooms_flag | _mouse_control_wheel_cycle_presets_flag,
         {}},
        {"set options", FLAG(_input_definition_alternate_preset_recall) |
                            FLAG(_input_definition_tilde_ignores_inventory) |
                            FLAG(_input_definition_control_bar_inventory),
         0,
         {_selection_input_alternate_preset_recall_bit, _selection_input_tilde_ignores_inventory_bit,
          _selection_input_control_bar_inventory_bit}},
        {"mouse options", 0, _mouse_control_vux_actions_flag | FLAG(_mouse_control_left_click_gestures_disabled),
         {_selection_input_vux_actions_bit, _selection_input_left_click_gestures_disabled_bit}},
    };
    const input_definition_snapshot saved = *get_input_definition_snapshot();
    for (const options_case &c : cases)
    {
        input_definition definition = saved.definition;
        mouse_control_data mouse = saved.mouse_controls;
        definition.flags = _input_definition_valid_flag | c.set_flags;
        mouse.flags = _mouse_control_enabled_flag | c.mouse_flags;
        slam_current_settings(&definition, &mouse, 0);
        for (int32_t bit = _selection_input_alternate_preset_recall_bit; bit <= _selection_input_wheel_cycle_inventory_bit;
             ++bit)
        {
            const bool expected = std::find(c.bits.begin(), c.bits.end(), bit) != c.bits.end();
            EXPECT_EQ(selection_input_option(bit), expected) << c.name << ", bit " << bit;
        }
    }
    slam_current_settings(&saved.definition, &saved.mouse_controls, saved.definition.set_index);
}

} // namespace

} // namespace built_points_test_file
