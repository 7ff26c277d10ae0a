// The determinism harness on the demo map with its trees and watchtower: the
// same seed and commands give the same per-tick state hashes however the
// frames fall, whatever the game speed and however often the local generator
// is drawn; one perturbed value shows from its tick on; failed starts leave
// nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "map_life.h"
#include "markers.h"
#include "mesh.h"
#include "mesh_format.h"
#include "models.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "support/tag_file_builder.h"
#include "vesk.h"

namespace determinism_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const tag BROKEN = FOUR_CHARACTER_CODE('b', 'r', 'o', 'k');
const tag MISSING = FOUR_CHARACTER_CODE('n', 'o', 'n', 'e');
const tag NO_INTERFACE = FOUR_CHARACTER_CODE('n', 'o', 'i', 'n');
const tag NO_FONT_1 = FOUR_CHARACTER_CODE('n', 'o', 'f', '1');

std::vector<int32_t> progress_steps;
void record_progress(int32_t step, int32_t step_count)
{
    EXPECT_EQ(step_count, NUMBER_OF_MAP_STEPS);
    progress_steps.push_back(step);
}
// The slot takes one table for the life of the process, which may run
// several cases.
void listen_to_progress(void)
{
    static const front_end_procedures front_end = {.map_loading_progress = record_progress};
    static const bool registered = register_front_end_procedures(&front_end);
    EXPECT_TRUE(registered);
}

class determinism_test : public vesk_sim_fixture
{
protected:
    // The harness runs in this process; the tests that run vesk_sim check for it themselves.
    std::vector<std::string> programs_needed(void) const override { return {}; }
    bool make_extra_tags(std::vector<test_tag> *extra) override
    {
        std::vector<test_tag> tags;
        if (!make_demo_map_tags(tool, &tags)) return false;
        // A map whose header reads well but whose body is cut short: refused
        // by the mesh step, after the steps before it have set up.
        test_tag broken = tags.front();
        broken.subgroup_tag = BROKEN;
        broken.name = "broken valley";
        broken.data.resize(MESH_HEADER_SIZE + 16);
        // The demo map naming no interface, and naming one without font 1.
        test_tag no_interface = tags.front(), no_font_1 = tags.front();
        no_interface.subgroup_tag = NO_INTERFACE;
        write_be32(no_interface.data.data() + offsetof(mesh_header, interface_tag), (uint32_t)NONE);
        no_font_1.subgroup_tag = NO_FONT_1;
        write_be32(no_font_1.data.data() + offsetof(mesh_header, interface_tag), NO_FONT_1);
        const auto menu = std::find_if(tags.begin(), tags.end(), [](const test_tag &t) {
            return t.group_tag == INTERFACE_DEFINITION_GROUP_TAG && t.subgroup_tag == INTERFACE_FILE_DEFINITION_TAG;
        });
        if (menu == tags.end())
        {
            ADD_FAILURE() << "the demo tags hold the interface file's definition";
            return false;
        }
        test_tag look_without_font_1 = *menu;
        look_without_font_1.subgroup_tag = NO_FONT_1;
        write_be32(look_without_font_1.data.data() + offsetof(interface_definition, font_tags) + 4, (uint32_t)NONE);
        extra->insert(extra->end(), {broken, no_interface, no_font_1, look_without_font_1});
        return true;
    }
    void TearDown() override
    {
        stop_simulation();
        vesk_sim_fixture::TearDown();
    }

    void start(uint32_t seed)
    {
        char reason[256];
        ASSERT_TRUE(start_simulation(nullptr, DEMO, seed, reason, sizeof(reason))) << reason;
    }
    std::vector<uint32_t> run(int32_t ticks, const std::vector<simulation_command> &commands,
                              const simulation_pacing &pacing)
    {
        std::vector<uint32_t> hashes((size_t)ticks, 0);
        EXPECT_TRUE(run_simulation(ticks, commands.data(), (int32_t)commands.size(), &pacing, hashes.data()));
        return hashes;
    }
    std::vector<uint32_t> trace(uint32_t seed, const std::vector<simulation_command> &commands,
                                const simulation_pacing &pacing, int32_t ticks = 240)
    {
        start(seed);
        std::vector<uint32_t> hashes = run(ticks, commands, pacing);
        stop_simulation();
        return hashes;
    }
};

const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};

const std::vector<simulation_command> script = {
    {5, _simulation_score_points, 0, 3, 0, 0},      {12, _simulation_new_mesh_effect, 1, 0, 4000, 4000},
    {30, _simulation_damage, NONE, NONE, 25, 1},    {31, _simulation_ally, 0, 1, 1, 0},
    {60, _simulation_start_fire, 0, 0, 3, 3},       {90, _simulation_switch_snowing, 0, 0, 0, 0},
};

TEST_F(determinism_test, the_demo_map_starts_with_its_objects_placed_in_marker_order)
{
    start(3);
    EXPECT_EQ(game_->state, _game_state_running);
    EXPECT_EQ(get_model_count(), 1);
    const int32_t trees = get_marker_count(_marker_scenery);
    ASSERT_GT(trees, 0);
    // Scenery, then what lies about, then the units of both teams.
    const int32_t units = get_marker_count(_marker_monster);
    EXPECT_EQ(units, 8);
    EXPECT_EQ(get_object_count(), trees + get_marker_count(_marker_projectile) + units);
    for (int32_t i = 0; i < trees; ++i) EXPECT_EQ(get_marker_by_index(_marker_scenery, i)->data_index, i);
    for (int32_t i = 0; i < units; ++i)
    {
        const marker_data *marker = get_marker_by_index(_marker_monster, i);
        const monster_data *unit = get_monster_data(marker->data_index);
        ASSERT_NE(unit, nullptr) << "unit marker " << marker->identifier;
        EXPECT_EQ(unit->identifier, marker->identifier);
        EXPECT_EQ(unit->marker_index, i);
        EXPECT_EQ(get_object(unit->object_index)->owner_index, marker->data_index);
    }
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(determinism_test, same_seed_gives_the_same_trace_whatever_the_pacing_speed_and_local_draws)
{
    const std::vector<uint32_t> reference = trace(77, script, normal);
    EXPECT_NE(reference.front(), reference.back());
    const simulation_pacing pacings[] = {
        {1, NORMAL_GAME_SPEED_INDEX, 0}, {4, NORMAL_GAME_SPEED_INDEX, 0}, {7, NORMAL_GAME_SPEED_INDEX, 13},
        {1, 0, 0},                       {3, NUMBER_OF_GAME_SPEEDS - 1, 5},
    };
    for (const auto &pacing : pacings)
        EXPECT_EQ(trace(77, script, pacing), reference)
            << "frames of " << pacing.local_ticks_per_frame << ", speed " << pacing.game_speed;
    EXPECT_NE(trace(78, script, normal), reference);
}

// The trace of 150 ticks and then 90 more, with `plant` run between them.
static std::vector<uint32_t> split_trace(const std::vector<simulation_command> &commands, void (*plant)(void))
{
    std::vector<simulation_command> first, second;
    for (const auto &command : commands) (command.tick < 150 ? first : second).push_back(command);
    char reason[256];
    EXPECT_TRUE(start_simulation(nullptr, DEMO, 5, reason, sizeof(reason))) << reason;
    std::vector<uint32_t> hashes(240, 0);
    EXPECT_TRUE(run_simulation(150, first.data(), (int32_t)first.size(), &normal, hashes.data()));
    if (plant) plant();
    EXPECT_TRUE(run_simulation(90, second.data(), (int32_t)second.size(), &normal, hashes.data() + 150));
    stop_simulation();
    return hashes;
}

TEST_F(determinism_test, a_planted_fault_changes_the_trace_from_its_tick_on)
{
    const std::vector<uint32_t> reference = split_trace(script, nullptr);
    EXPECT_EQ(reference, trace(5, script, normal)) << "a pause between runs changes nothing";

    std::vector<simulation_command> faulty = script;
    faulty.push_back({150, _simulation_damage, NONE, NONE, 1, 0}); // one counted value moves
    struct
    {
        const char *what;
        std::vector<uint32_t> trace;
    } const planted[] = {
        {"statistics", split_trace(faulty, nullptr)},
        {"a tree's height", split_trace(script, [] { get_object(0)->location.position.z += 1; })},
        {"a tree's shape phase", split_trace(script, [] { get_object(1)->shape_phase ^= 1; })},
        {"a scorched cell", split_trace(script, [] { get_mesh_cell(9, 9)->flags ^= _mesh_cell_was_or_is_on_fire_flag; })},
    };
    for (const auto &fault : planted)
    {
        for (size_t t = 0; t < 150; ++t) ASSERT_EQ(fault.trace[t], reference[t]) << fault.what << " at " << t;
        for (size_t t = 150; t < fault.trace.size(); ++t) ASSERT_NE(fault.trace[t], reference[t]) << fault.what << " at " << t;
    }
}

TEST_F(determinism_test, failed_starts_dispose_what_was_set_up_and_rest_in_the_main_menu)
{
    listen_to_progress();
    std::vector<int32_t> every_step;
    for (int32_t step = 1; step <= NUMBER_OF_MAP_STEPS; ++step) every_step.push_back(step);
    const std::vector<int32_t> before_mesh(every_step.begin(), every_step.begin() + _map_mesh);
    char reason[256];
    for (int32_t i = 0; i < 6; ++i)
    {
        const struct
        {
            tag map;
            const char *reason;
        } refused[] = {{MISSING, "none"}, {BROKEN, "brok"}};
        for (const auto &bad : refused)
        {
            progress_steps.clear();
            EXPECT_FALSE(start_simulation(nullptr, bad.map, (uint32_t)i, reason, sizeof(reason)));
            EXPECT_NE(std::string(reason).find(bad.reason), std::string::npos) << reason;
            EXPECT_EQ(progress_steps, before_mesh) << "each step reported once, in order, up to the failure";
            EXPECT_FALSE(vesk_map_is_loaded());
            EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
            EXPECT_EQ(get_player_count(), 0);
            EXPECT_EQ(get_object_count(), 0);
            EXPECT_EQ(get_model_count(), 0);
        }
        progress_steps.clear();
        start((uint32_t)i);
        EXPECT_EQ(progress_steps, every_step);
        EXPECT_EQ(get_player_count(), 2);
        EXPECT_GT(get_object_count(), 0);
        run(10, {}, normal);
        stop_simulation();
        EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
        EXPECT_EQ(get_player_count(), 0);
        EXPECT_EQ(get_object_count(), 0);
    }
}

// Every map names its interface: one naming none, or one whose definition
// lacks a required font, stops at the interface step with the data-missing
// error, and leaves nothing set up.
TEST_F(determinism_test, a_map_without_a_usable_interface_does_not_start)
{
    ASSERT_TRUE(open_log_file("interface test"));
    listen_to_progress();
    std::vector<int32_t> up_to_interface;
    for (int32_t step = 1; step <= _map_interface; ++step) up_to_interface.push_back(step);
    char reason[256];
    for (const tag map : {NO_INTERFACE, NO_FONT_1})
    {
        progress_steps.clear();
        EXPECT_FALSE(start_simulation(nullptr, map, 1, reason, sizeof(reason))) << tag_to_string(map);
        EXPECT_NE(std::string(reason).find("interface appearance missing."), std::string::npos) << reason;
        EXPECT_EQ(progress_steps, up_to_interface) << tag_to_string(map);
        EXPECT_FALSE(vesk_map_is_loaded());
        EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
        EXPECT_EQ(get_interface_definition(), nullptr);
        EXPECT_EQ(get_player_count(), 0);
    }
    close_log_file();
    const std::string log = read_whole_file(LOG_FILE_NAME);
    EXPECT_EQ(count_of(log, "Data Missing: interface appearance missing."), 2u) << log;
    EXPECT_NE(log.find("interface font 1 ("), std::string::npos) << log;

    // The demo map's own interface loads, with its fonts.
    start(1);
    ASSERT_NE(get_interface_definition(), nullptr);
    EXPECT_EQ(get_definition_subgroup(&interface_definitions, 0), INTERFACE_FILE_DEFINITION_TAG);
    for (int32_t font = 0; font < NUMBER_OF_INTERFACE_FONTS; ++font)
        EXPECT_NE(get_interface_font_index(font), NONE) << font;
    stop_simulation();
    EXPECT_EQ(get_interface_definition(), nullptr);
}

TEST_F(determinism_test, the_tool_prints_one_hash_per_tick_and_refuses_a_missing_map)
{
    const std::string sim = (fs::path(bin) / "vesk_sim").string();
    if (!fs::exists(sim)) SKIP_OR_FAIL_UNDER_CI("vesk_sim is missing");
    const std::string base = "'" + sim + "' --data '" + directory + "' --seed 9 --ticks 20";
    const std::string good = base + " --map demo > out.txt 2> err.txt";
    const std::string bad = base + " --map none > bad_out.txt 2> bad.txt";
    EXPECT_EQ(system(good.c_str()), 0);
    const std::string text = read_whole_file("out.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20);
    EXPECT_EQ(text.rfind("20 ", 0) == std::string::npos && text.find("\n20 ") != std::string::npos, true);
    EXPECT_EQ(read_whole_file("err.txt"), "");
    // The log is the tool's own, where it was called from (here the data directory).
    EXPECT_NE(read_whole_file("vesk_sim_log.txt").find("vesk_sim started"), std::string::npos);

    // The tool runs exactly what the harness runs: the same hashes.
    start(9);
    const std::vector<uint32_t> hashes = run(20, {}, normal);
    char line[32];
    snprintf(line, sizeof(line), "20 %08x\n", hashes.back());
    EXPECT_NE(text.find(line), std::string::npos) << text;

    // A refusal goes to standard error; standard output holds the trace alone.
    const int status = system(bad.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    const std::string refusal = read_whole_file("bad.txt");
    EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 1);
    EXPECT_EQ(read_whole_file("bad_out.txt"), "");

    // --log names the log.
    const std::string logged = base + " --map demo --log other_log.txt > /dev/null 2>&1";
    EXPECT_EQ(system(logged.c_str()), 0);
    EXPECT_NE(read_whole_file("other_log.txt").find("map 'demo' started"), std::string::npos);
}

// A tool run with --data on the game's directory from another folder,
// recording or not, leaves the player's last film and the game's log as they
// were and the game's folder without its pictures and logs: it logs to a file
// named after itself where it was called from, puts its shots there, and
// keeps its films in a folder of its own that goes with it.
TEST_F(determinism_test, the_tools_leave_the_players_last_game_and_log_alone)
{
    const struct
    {
        const char *program, *arguments;
    } runs[] = {
        {"vesk_sim", "--map demo --seed 2 --ticks 30"},
        {"vesk_sim", "--map demo --seed 2 --ticks 30 --record tool.film"},
        {"vesk_shot", "--map demo --frames 10"},
        {"vesk_shot", "--map demo --frames 10 --record tool.film"},
    };
    fs::create_directories("films");
    fs::create_directories("tool_temporary");
    fs::create_directories("caller");
    const std::string players_film = "the player's film", players_log = "the player's log\n";
    for (const auto &run : runs)
    {
        SCOPED_TRACE(std::string(run.program) + " " + run.arguments);
        const std::string program = (fs::path(bin) / run.program).string();
        if (!fs::exists(program)) SKIP_OR_FAIL_UNDER_CI(std::string(run.program) + " is missing");
        ASSERT_TRUE(write_file_bytes("films/Last Game", {players_film.begin(), players_film.end()}));
        ASSERT_TRUE(write_file_bytes(LOG_FILE_NAME, {players_log.begin(), players_log.end()}));
        fs::remove("caller/tool.film");
        const std::string command = "cd caller && TMPDIR='" + directory + "/tool_temporary' '" + program +
                                    "' --data '" + directory + "' " + run.arguments + " > ../tool.out 2> ../tool.err";
        ASSERT_EQ(system(command.c_str()), 0) << read_whole_file("tool.err");
        EXPECT_EQ(read_whole_file("films/Last Game"), players_film);
        EXPECT_EQ(std::distance(fs::directory_iterator("films"), fs::directory_iterator()), 1);
        EXPECT_EQ(read_whole_file(LOG_FILE_NAME), players_log);
        const std::string tool_log = std::string(run.program) + "_log.txt";
        EXPECT_NE(read_whole_file("caller/" + tool_log).find(" started"), std::string::npos);
        EXPECT_FALSE(fs::exists(tool_log)) << "the tool's log in the game's folder";
        EXPECT_FALSE(fs::exists("screenshots")) << "the tool's shot in the game's folder";
        EXPECT_EQ(fs::exists("caller/screenshots"), strcmp(run.program, "vesk_shot") == 0);
        EXPECT_EQ(fs::exists("caller/tool.film"), strstr(run.arguments, "--record") != nullptr);
        EXPECT_TRUE(fs::is_empty("tool_temporary")) << "the tool's own folder went with it";
    }
}

// Numbers are decimal: a leading zero never makes octal, and anything that
// is not plainly a decimal number in range is refused (status 2).
TEST_F(determinism_test, the_tool_reads_numbers_as_decimal_only)
{
    const std::string sim = (fs::path(bin) / "vesk_sim").string();
    if (!fs::exists(sim)) GTEST_SKIP() << "vesk_sim is missing";
    const std::string base = "'" + sim + "' --data '" + directory + "' --map demo";
    const auto run_tool = [&](const std::string &arguments, const char *output) {
        const std::string command = base + " " + arguments + " > " + output + " 2> /dev/null";
        const int status = system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(run_tool("--seed 10 --ticks 5", "ten.txt"), 0);
    ASSERT_EQ(run_tool("--seed 010 --ticks 5", "zero_ten.txt"), 0);
    ASSERT_EQ(run_tool("--seed 8 --ticks 5", "eight.txt"), 0);
    EXPECT_EQ(read_whole_file("zero_ten.txt"), read_whole_file("ten.txt"));
    EXPECT_NE(read_whole_file("zero_ten.txt"), read_whole_file("eight.txt"));

    const char *const refused[] = {
        "--seed 0x10 --ticks 5", "--seed +5 --ticks 5", "--seed -1 --ticks 5", "--seed 7x --ticks 5",
        "--seed '' --ticks 5", "--seed 4294967296 --ticks 5", "--seed 99999999999999999999 --ticks 5",
        "--seed 7 --ticks 1e3", "--seed 7 --ticks 5 --command 1 score 65536 1 0 0",
        "--seed 7 --ticks 5 --command 010x score 0 1 0 0", "--seed 7 --ticks 5 --command 1 score 0 1 ' 5' 0",
    };
    for (const char *arguments : refused) EXPECT_EQ(run_tool(arguments, "/dev/null"), 2) << arguments;
    EXPECT_EQ(run_tool("--seed 7 --ticks 5 --command 1 score 0 -3 -7 0", "/dev/null"), 0) << "signed fields take a sign";
}

} // namespace

} // namespace determinism_test_file
