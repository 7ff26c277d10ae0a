// The road of one order on the demo map: the local player clicks a unit and
// then the ground in a synthetic rendered frame, the selection puts a
// movement command in the outgoing queue, the command stream stamps it for a
// tick and the film records it, the executor runs it at that tick and the
// units walk; the film of that game then replays to the same per-tick state
// hashes, with no out-of-sync flag (the selection's object marks stay out of
// the hash).  The console's prompts come from the data set's string lists.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "cseries/byte_swapping.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "game_records.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "recording_format.h"
#include "selection.h"
#include "console/console.h"
#include "console/console_menu.h"
#include "console/console_popup.h"
#include "selection_orders.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "tag_files/tag_file_formats.h"
#include "support/tag_file_builder.h"
#include "synthetic_frame.h"
#include "vesk.h"

namespace selection_film_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};
enum
{
    CLICK_UNIT_TICK = 5,
    CLICK_GROUND_TICK = 12,
    GAME_TICKS = 90,
};

// What the scripted player does and sees, tick by tick.
struct script_state
{
    synthetic_frame *frame;
    int32_t clicked_unit = NONE;
    world_point2d destination = {};
    int32_t action_time = 1000;
    std::vector<uint8_t> order; // the movement command as it left the selection
    int32_t first_tick_with_waypoints = NONE;
    world_point2d start = {}, position_at_end = {};
};

action_data make_action(script_state *script, point2d at, std::initializer_list<int32_t> bits)
{
    action_data a = {};
    a.time = script->action_time++;
    a.time_delta = 1;
    a.pointer = at;
    a.key_code = a.ascii_code = -1;
    set_action_flag(&a, _action_pointer_valid_bit);
    for (int32_t bit : bits) set_action_flag(&a, bit);
    return a;
}

// A click as the input layer hands it to the core's consumers.
void click(script_state *script, point2d at)
{
    action_data press = make_action(script, at, {_left_mouse_click_bit, _left_mouse_down_bit});
    process_action(&press);
    action_data release = make_action(script, at, {});
    process_action(&release);
}

void play(int32_t tick, void *context)
{
    script_state *script = (script_state *)context;
    const monster_data *unit = get_monster_data(script->clicked_unit);
    if (tick == CLICK_UNIT_TICK)
    {
        for (const render_rectangle &r : script->frame->rectangles)
            if (r.object_index == unit->object_index)
                click(script, {(int16_t)((r.x0 + r.x1) / 2), (int16_t)((r.y0 + r.y1) / 2)});
        EXPECT_EQ(get_current_selection_count(), 1);
    }
    if (tick == CLICK_GROUND_TICK)
    {
        click(script, script->frame->screen(script->destination.x, script->destination.y));
        // Look at what left the selection, and leave it for the command stream.
        command_header *command = dequeue_outgoing_command();
        ASSERT_NE(command, nullptr);
        script->order.assign((uint8_t *)command, (uint8_t *)command + command->size);
        EXPECT_EQ(dequeue_outgoing_command(), nullptr);
        EXPECT_TRUE(queue_outgoing_command((const command_header *)script->order.data()));
    }
    if (unit && unit->waypoint_count > 0 && script->first_tick_with_waypoints == NONE)
        script->first_tick_with_waypoints = tick - 1; // the tick that just ran
    if (unit && tick == GAME_TICKS)
    {
        const object_data *body = get_object(unit->object_index);
        script->position_at_end = {body->location.position.x, body->location.position.y};
    }
}

// The selection's string list `subgroup` made by the data tool from its
// source in data/strings/stli, as the demo data script makes it.
bool make_string_list(const std::string &tool, const char *subgroup, std::vector<test_tag> *tags)
{
    const fs::path source = fs::path(source_tree_path("data/strings/stli")) /
                            (std::string(subgroup) + ".txt");
    const std::string command = "'" + tool + "' strings list.tag --group stli --subgroup " + subgroup + " --name " +
                                subgroup + " '" + source.string() + "' > /dev/null";
    if (system(command.c_str()) != 0) return false;
    const std::vector<uint8_t> file = read_file_bytes("list.tag");
    if (file.size() < sizeof(local_tag_file_header)) return false;
    test_tag made;
    made.group_tag = read_be32(file.data() + offsetof(local_tag_file_header, group_tag));
    made.subgroup_tag = read_be32(file.data() + offsetof(local_tag_file_header, subgroup_tag));
    made.version = (int16_t)read_be16(file.data() + offsetof(local_tag_file_header, version));
    made.name = subgroup;
    made.data.assign(file.begin() + sizeof(local_tag_file_header), file.end());
    tags->push_back(made);
    return true;
}

// What the console shows after each change of mode.
std::vector<std::string> prompts;

class selection_film_test : public ::testing::Test
{
protected:
    std::string directory, previous;

    void SetUp() override
    {
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        ASSERT_TRUE(enter_demo_data_directory(tool, &directory, &previous, [&](std::vector<test_tag> *strings) {
            for (const char *list : {"insm", "insp"})
                if (!make_string_list(tool, list, strings)) return false;
            return true;
        }));
        open_log_file("selection film test");
    }
    void TearDown() override
    {
        set_simulation_tick_procedure(nullptr, nullptr);
        install_test_render_frame(nullptr, nullptr);
        stop_simulation();
        close_log_file();
        leave_demo_data_directory(directory, previous);
    }
};

// The commands of verb `verb` in the film at `path` (a local tag file): their times.
std::vector<int32_t> film_command_times(const std::string &path, int32_t verb)
{
    const int32_t LOCAL_HEADER = 64; // the store's local tag file header
    const std::vector<uint8_t> file = read_file_bytes(path);
    std::vector<int32_t> times;
    if (file.size() < (size_t)(LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE)) return times;
    recording_file_header header;
    memcpy(&header, &file[LOCAL_HEADER], sizeof(header));
    byte_swap_recording_header(&header);
    for (size_t at = (size_t)(LOCAL_HEADER + header.data_offset); at + 8 <= file.size();)
    {
        const uint32_t flags = read_be32(&file[at]);
        const int32_t size = (int16_t)read_be16(&file[at + 4]);
        for (int32_t offset = 0; offset + 8 <= size;)
        {
            const uint8_t *command = &file[at + 8 + (size_t)offset];
            if ((int8_t)command[2] == verb) times.push_back((int32_t)read_be32(command + 4));
            const int16_t length = (int16_t)read_be16(command);
            if (length < 8) break;
            offset += length;
        }
        at += 8 + (size_t)size;
        if (flags & 1) break;
    }
    return times;
}

// The per-tick hashes of a game on the demo map in which the scripted player
// clicks (or, with `script` null, does nothing).
std::vector<uint32_t> play_demo_game(script_state *script)
{
    char reason[256];
    EXPECT_TRUE(start_simulation(nullptr, DEMO, 21, reason, sizeof(reason))) << reason;
    EXPECT_EQ(local_player_index, 0);
    std::vector<uint32_t> hashes(GAME_TICKS, 0);
    // The frame: a camera over the local player's units, their sprites in
    // front of the terrain around them.
    synthetic_frame frame(3072, 7168);
    int32_t first = NONE;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
    {
        const monster_data *unit = get_monster_data(i);
        if (!unit) continue;
        frame.object_rectangle(unit->object_index);
        if (unit->owner_player_index == local_player_index && first == NONE) first = i;
    }
    EXPECT_NE(first, NONE);
    const int16_t top = mesh_height < 18 ? mesh_height : (int16_t)18;
    frame.mesh_triangle({1, 10}, {11, 10}, {1, top});
    frame.mesh_triangle({11, 10}, {11, top}, {1, top});
    frame.link_and_install();
    if (script)
    {
        script->frame = &frame;
        script->clicked_unit = first;
        const object_data *body = get_object(get_monster_data(first)->object_index);
        script->start = {body->location.position.x, body->location.position.y};
        script->destination = {4096, 7424};
        set_simulation_tick_procedure(play, script);
    }
    EXPECT_TRUE(run_simulation(GAME_TICKS, nullptr, 0, &normal, hashes.data()));
    set_simulation_tick_procedure(nullptr, nullptr);
    install_test_render_frame(nullptr, nullptr);
    EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
    stop_simulation();
    return hashes;
}

TEST_F(selection_film_test, an_order_given_through_the_selection_is_stamped_recorded_run_and_replayed_and_prompts_are_read)
{
    script_state script;
    const std::vector<uint32_t> recorded = play_demo_game(&script);
    char reason[256];
    ASSERT_TRUE(save_simulation_film("clicked.film", reason, sizeof(reason))) << reason;

    // What left the selection: one movement command of the clicked unit to the
    // ground under the pointer, not yet stamped.
    ASSERT_GE(script.order.size(), 8u + 8u + 4u + 2u + 8u);
    const command_header *header = (const command_header *)script.order.data();
    EXPECT_EQ(header->verb, _command_movement);
    EXPECT_EQ(header->player_index, NONE);
    EXPECT_EQ(header->time, 0);
    const uint8_t *fields = script.order.data() + 8 + sizeof(command_movement_data);
    EXPECT_EQ((int16_t)read_be16(fields), 1) << "one unit";
    EXPECT_EQ((int16_t)read_be16(fields + 4), 1) << "one waypoint";
    EXPECT_NEAR((int32_t)read_be32(fields + 6), script.destination.x, 16);
    EXPECT_NEAR((int32_t)read_be32(fields + 10), script.destination.y, 16);

    // Stamped for a tick after the click, recorded in the film, run at that tick.
    const std::vector<int32_t> times = film_command_times("clicked.film", _command_movement);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0], CLICK_GROUND_TICK);
    EXPECT_EQ(script.first_tick_with_waypoints, times[0]) << "the units got their waypoints at the stamped tick";
    const int64_t dx = script.position_at_end.x - script.start.x, dy = script.position_at_end.y - script.start.y;
    EXPECT_GT(dx * dx + dy * dy, 256 * 256) << "and walked";

    // The order shows in the state hash from its tick on ...
    const std::vector<uint32_t> idle = play_demo_game(nullptr);
    for (int32_t t = 0; t < times[0]; ++t) ASSERT_EQ(idle[(size_t)t], recorded[(size_t)t]) << "tick " << t;
    EXPECT_NE(idle.back(), recorded.back());

    // ... and the film replays to the same hashes without going out of step.
    int32_t ticks = 0;
    ASSERT_TRUE(start_simulation_from_film(nullptr, "clicked.film", &ticks, reason, sizeof(reason))) << reason;
    EXPECT_EQ(ticks, GAME_TICKS);
    std::vector<uint32_t> replayed((size_t)GAME_TICKS, 0);
    EXPECT_TRUE(run_simulation(GAME_TICKS, nullptr, 0, &normal, replayed.data()));
    EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
    stop_simulation();
    EXPECT_EQ(replayed, recorded);

    // The console's prompts and the preset pop-up's title come from the
    // string lists of the data set.
    ASSERT_TRUE(start_simulation(nullptr, DEMO, 3, reason, sizeof(reason))) << reason;
    synthetic_frame frame(3072, 7168);
    frame.link_and_install();
    // The console fills the selection's points, so they are read from it.
    const console_globals_data *console = get_console_globals();
    ASSERT_TRUE(console->initialized);
    const auto record_console_prompts = [&]() {
        prompts.push_back(std::string(console->left_prompt) + "|" + console->right_prompt + "|" +
                          std::to_string(get_console_menu_globals()->menu_mode));
    };
    prompts.clear();
    int32_t first = NONE;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP && first == NONE; ++i)
        if (get_monster_data(i) && get_monster_data(i)->owner_player_index == local_player_index) first = i;
    add_monster_index_to_current_selection(first);
    ASSERT_TRUE(change_selection_mode(_selection_mode_attack));
    record_console_prompts();
    ASSERT_TRUE(change_selection_mode(_selection_mode_set_formation_in_place));
    record_console_prompts();
    ASSERT_TRUE(change_selection_mode(_selection_mode_none));
    record_console_prompts();
    EXPECT_EQ(prompts, (std::vector<std::string>{"Attack:|Click a target or the ground|-1",
                                                 "Formation:|(change in place)|-1", "||-1"}))
        << "in-place formations share the formation prompt";
    set_preset_selection(2);
    EXPECT_STREQ(get_console_popup_globals()->left, "Preset 3:");
    stop_simulation();
}

} // namespace

} // namespace selection_film_test_file
