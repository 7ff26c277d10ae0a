// Registration points: the refusal rules hold for every slot of every point,
// steps are typed, registrations outlive every start-up and map change, and
// docs/architecture.md lists every point and every ordered list as the code
// has them.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "cseries/registration.h"
#include "networking/connection_manager.h"
#include "networking_procedures.h"
#include "object_definitions.h"
#include "overhead_map_procedures.h"
#include "recording_procedures.h"
#include "render_procedures.h"
#include "terrain_overlay_procedures.h"
#include "flags.h"
#include "action_queue_procedures.h"
#include "film_dialog_procedures.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "hardware_rasterizer.h"
#include "bitmaps.h"
#include "game_sounds.h"
#include "lightning.h"
#include "lobby_procedures.h"
#include "map_action_procedures.h"
#include "map_life.h"
#include "vesk.h"
#include "markers.h"
#include "mesh.h"
#include "monsters.h"
#include "model_animations.h"
#include "model_effects.h"
#include "objects.h"
#include "platform_events.h"
#include "players.h"
#include "scoring.h"
#include "selection.h"
#include "statistics.h"
#include "subsystems.h"
#include "support/expected_assertions.h"
#include "tag_files/collection_procedures.h"
#include "console_procedures.h"
#include "ingame_bar_procedures.h"
#include "overhead_text_procedures.h"
#include "screen_procedures.h"
#include "support/objects_world.h"
#include "support/demo_data.h"
#include "sound_procedures.h"

namespace registration_test_file {

namespace {

// A step of one list is not accepted where another list's step is expected,
// nor as a bare integer.
static_assert(std::is_invocable_v<decltype(&register_tick_procedure), tick_step, tick_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_tick_procedure), startup_step, tick_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_tick_procedure), int32_t, tick_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_startup_procedure), map_step, startup_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_map_procedures), tick_step, map_initialize_procedure,
                                   map_dispose_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_action_procedure), event_consumer, action_procedure>);
static_assert(!std::is_invocable_v<decltype(&register_event_consumer_procedure), action_consumer,
                                   event_consumer_procedure>);

void first_procedure(void) {}
void second_procedure(void) {}

class registration : public ::testing::Test
{
protected:
    void SetUp() override { clear_all_registrations(); }
    void TearDown() override { clear_all_registrations(); }
};

// Walks every table the program links: each slot takes its first procedure
// and refuses it again, another one and null, keeping the first; an index
// outside the table is refused.
TEST_F(registration, every_slot_refuses_a_second_or_null_procedure_and_keeps_the_first)
{
    register_built_subsystems(); // links every built module's points into this program
    clear_all_registrations();
    std::set<std::string> names;
    int32_t slot_count = 0;
    for (registration_table *table = first_registration_table(); table; table = table->next)
    {
        names.insert(table->name);
        for (int32_t i = 0; i < table->count; ++i, ++slot_count)
        {
            ASSERT_TRUE(fill_registration_slot(table, i, first_procedure)) << table->name << " " << i;
            {
                expected_assertions expect(3, "registration refused");
                EXPECT_FALSE(fill_registration_slot(table, i, first_procedure)) << "the same procedure again";
                EXPECT_FALSE(fill_registration_slot(table, i, second_procedure)) << table->name << " " << i;
                EXPECT_FALSE(fill_registration_slot(table, i, nullptr)) << table->name << " " << i;
            }
            EXPECT_EQ(table->slots[i], first_procedure) << table->name << " " << i;
        }
        expected_assertions expect(2, "outside its table");
        EXPECT_FALSE(fill_registration_slot(table, -1, first_procedure));
        EXPECT_FALSE(fill_registration_slot(table, table->count, first_procedure));
    }
    // One of each kind: step tables, pairs, per-type tables, single slots of
    // the core, of the event pump, of a world module and of the tag store.
    for (const char *kind : {"start-up step", "map step initializer", "map step disposer", "per-map stores initializer",
                             "tick step", "tick observer", "action consumer", "game state entry", "draw_frame",
                             "event consumer", "screen procedures", "front end procedures", "collection procedures",
                             "marker type placement", "entry point reader"})
        EXPECT_EQ(names.count(kind), 1u) << kind;
    EXPECT_GT(slot_count, (int32_t)NUMBER_OF_STARTUP_STEPS + (int32_t)NUMBER_OF_MAP_STEPS + (int32_t)NUMBER_OF_TICK_STEPS);
}

// Distinct procedures, enough to fill the largest list.
template <int I>
void numbered_procedure(void)
{
    static volatile int calls = I;
    calls = calls + 1;
}
template <int... I>
constexpr std::array<any_procedure, sizeof...(I)> numbered(std::integer_sequence<int, I...>)
{
    return {numbered_procedure<I>...};
}
const auto distinct = numbered(std::make_integer_sequence<int, 70>());

std::vector<int32_t> list_counts(void)
{
    std::vector<int32_t> counts;
    for (registration_list *list = first_registration_list(); list; list = list->next)
        counts.push_back(list->count.load());
    return counts;
}

// Every ordered list, whatever it holds: a null procedure, a repeat (the same
// procedure, or in a list of one per key the same key) and one past its room
// are refused alike, and change nothing; the very entry again from a
// start-up is no change; clearing the registrations empties it.
TEST_F(registration, every_list_refuses_a_null_a_repeat_and_one_past_its_room_alike)
{
    int32_t lists = 0;
    for (registration_list *list = first_registration_list(); list; list = list->next, ++lists)
    {
        SCOPED_TRACE(list->name);
        ASSERT_LE(list->capacity + 2, (int32_t)distinct.size());
        ASSERT_EQ(list->count.load(), 0);
        for (int32_t i = 0; i < list->capacity; ++i) ASSERT_TRUE(add_to_registration_list(list, distinct[i], i, false));
        EXPECT_TRUE(add_to_registration_list(list, distinct[0], 0, true)) << "the very entry again, at start-up";
        {
            expected_assertions expect(4, "registration refused");
            EXPECT_FALSE(add_to_registration_list(list, nullptr, -1, false));
            EXPECT_FALSE(add_to_registration_list(list, distinct[0], 0, false)) << "the very entry again";
            const bool per_key = list->order == _one_per_key;
            EXPECT_FALSE(add_to_registration_list(list, per_key ? distinct.back() : distinct[1], per_key ? 0 : -2, true))
                << "a repeat";
            EXPECT_FALSE(add_to_registration_list(list, distinct[list->capacity], -3, false)) << "one past its room";
        }
        EXPECT_EQ(list->count.load(), list->capacity);
        clear_all_registrations();
        EXPECT_EQ(list->count.load(), 0);
    }
    EXPECT_GE(lists, 6) << "unit died, state hash, two render effects, crash, control types";
}

// The program's registration run again after the slots and lists are
// emptied (as a test program repeating its cases does) fills each list as
// the first did: nothing is listed twice, nothing left over.
TEST_F(registration, the_programs_registration_run_again_lists_each_procedure_once)
{
    register_built_subsystems();
    const std::vector<int32_t> first = list_counts();
    clear_all_registrations();
    register_built_subsystems();
    EXPECT_EQ(list_counts(), first);
    EXPECT_GT(get_monster_died_proc_count(), 0);
}

bool initialize_a(const new_game_data *) { return true; }
bool initialize_b(const new_game_data *) { return true; }
void dispose_a(void) {}
void dispose_b(void) {}
const void *shading_a(void) { return nullptr; }
const void *shading_b(void) { return "b"; }
const uint8_t *blend_a(void) { return nullptr; }
const uint8_t *blend_b(void) { static const uint8_t b = 2; return &b; }

// A pair belongs to one owner: when either half is refused, neither is
// stored.  Typed entry points refuse what the tables refuse.
TEST_F(registration, a_pair_is_stored_whole_or_not_at_all)
{
    ASSERT_TRUE(register_map_procedures(_map_mesh, nullptr, dispose_a));
    {
        expected_assertions expect(1, "taken already");
        EXPECT_FALSE(register_map_procedures(_map_mesh, initialize_b, dispose_b));
    }
    EXPECT_EQ(get_map_initialize_procedure(_map_mesh), nullptr) << "the free half was not taken either";
    EXPECT_EQ(get_map_dispose_procedure(_map_mesh), dispose_a);
    {
        expected_assertions expect(3, "registration refused");
        EXPECT_FALSE(register_map_procedures(_map_players, nullptr, nullptr)) << "nothing offered";
        EXPECT_FALSE(register_map_procedures((map_step)NUMBER_OF_MAP_STEPS, initialize_a, dispose_a));
        EXPECT_FALSE(register_map_store_procedures((startup_step)-1, initialize_a, nullptr));
    }
    // A subsystem's table is one registration: a null table or a second one
    // is refused and the first stays whole.
    static const collection_procedures first = {.landscape_shading_table = shading_a, .landscape_blend_table = blend_a};
    static const collection_procedures second = {.landscape_shading_table = shading_b, .landscape_blend_table = blend_b};
    ASSERT_TRUE(register_collection_procedures(&first));
    {
        expected_assertions expect(2, "registration refused");
        EXPECT_FALSE(register_collection_procedures(&second));
        EXPECT_FALSE(register_collection_procedures(nullptr));
    }
    EXPECT_EQ(get_collection_procedures()->landscape_blend_table, blend_a);
    const marker_type_procedures markers = {nullptr, nullptr};
    {
        expected_assertions expect(2, "registration refused");
        EXPECT_FALSE(register_marker_type_procedures(_marker_scenery, &markers)) << "no procedure at all";
        EXPECT_FALSE(register_marker_type_procedures(NUMBER_OF_MARKER_TYPES, &markers));
    }
}

std::vector<any_procedure> snapshot_of_every_slot(void)
{
    std::vector<any_procedure> slots;
    for (registration_table *table = first_registration_table(); table; table = table->next)
        slots.insert(slots.end(), table->slots, table->slots + table->count);
    return slots;
}

// A module's start-up and its per-map set-up used to empty its globals record,
// hooks included: a subsystem registered before them lost its procedures.
TEST_F(registration, registrations_outlive_every_module_start_up_and_map_set_up)
{
    register_built_subsystems();
    const std::vector<any_procedure> before = snapshot_of_every_slot();

    initialize_mesh();
    initialize_flags();
    initialize_players();
    initialize_scoring();
    initialize_scoring_for_new_map();
    initialize_statistics();
    initialize_lightning();
    initialize_game_sounds();
    ASSERT_TRUE(initialize_markers());
    ASSERT_TRUE(initialize_objects());
    ASSERT_TRUE(initialize_model_animations());
    ASSERT_TRUE(initialize_model_effects());
    // Start-ups neither empty a slot nor fill one: the program registers
    // everything in register_built_subsystems, so the test above sees it all.
    const std::vector<any_procedure> after = snapshot_of_every_slot();
    ASSERT_EQ(after.size(), before.size());
    int32_t filled = 0;
    for (size_t i = 0; i < before.size(); ++i)
    {
        filled += before[i] != nullptr;
        EXPECT_EQ(after[i], before[i]) << "slot " << i;
    }
    EXPECT_GT(filled, 20);
}

// The program's registration hands the hardware front functions the OpenGL
// back end's frame and back-buffer entries, so the screen, the frame, the
// tiled renderer and sprite preloading reach it: OpenGL lends no linear back
// buffer (a "halt" line and null) and its frame, tile and preload entries do
// nothing.
TEST_F(registration, the_back_ends_frame_and_back_buffer_entries_are_reached_through_the_front_functions)
{
    register_built_subsystems();
    const hardware_rasterizer_procedures *table = get_hardware_rasterizer_procedures();
    EXPECT_TRUE(table->get_linear_backbuffer && table->release_linear_backbuffer &&
                table->preload_bitmap_into_cache && table->render_begin && table->render_end);
    const rectangle2d bounds = {0, 0, 480, 640};
    {
        expected_assertions expect(2, "linear back buffer");
        EXPECT_EQ(get_linear_backbuffer_hardware(&bounds), nullptr);
        release_linear_backbuffer_hardware();
    }
    bitmap_data bitmap = {};
    preload_bitmap_into_cache_hardware(&bitmap);
    render_begin_hardware();
    render_end_hardware();
}

// The null members of a table of procedure pointers.
template <typename T>
int32_t null_members(const T *table, const char *name)
{
    static_assert(sizeof(T) % sizeof(void (*)(void)) == 0, "a table of procedure pointers only");
    void (*member[sizeof(T) / sizeof(void (*)(void))])(void);
    memcpy(member, table, sizeof(member));
    int32_t nulls = 0;
    for (size_t i = 0; i < std::size(member); ++i)
        if (!member[i]) ADD_FAILURE() << name << " member " << i << " is null", ++nulls;
    return nulls;
}

// A lower layer reaches each of these subsystems only through its table, and
// the table is whole when it is registered (the front end's joins the members
// of two libraries first): the program's registration fills every member.
TEST_F(registration, the_program_fills_every_member_of_each_subsystems_table)
{
    register_built_subsystems();
    EXPECT_EQ(null_members(get_lobby_procedures(), "lobby"), 0);
    EXPECT_EQ(null_members(get_collection_procedures(), "collections"), 0);
    EXPECT_EQ(null_members(get_console_procedures(), "console"), 0);
    EXPECT_EQ(null_members(get_overhead_text_procedures(), "overhead text"), 0);
    EXPECT_EQ(null_members(get_ingame_bar_procedures(), "in-game bars"), 0);
    EXPECT_EQ(null_members(get_screen_procedures(), "screen"), 0);
    EXPECT_EQ(null_members(get_map_action_procedures(), "map actions"), 0);
    EXPECT_EQ(null_members(get_film_dialog_procedures(), "film dialogs"), 0);
    EXPECT_EQ(null_members(get_recording_procedures(), "films"), 0);
    EXPECT_EQ(null_members(get_action_queue_procedures(), "action queue"), 0);
    EXPECT_EQ(null_members(get_overhead_map_procedures(), "overhead map"), 0);
    EXPECT_EQ(null_members(get_render_procedures(), "renderer"), 0);
    EXPECT_EQ(null_members(get_terrain_overlay_procedures(), "terrain overlays"), 0);
    EXPECT_EQ(null_members(get_sound_procedures(), "sound"), 0);
    // The front end's own members and the in-game dialogs' ones.
    EXPECT_EQ(null_members(get_front_end_procedures(), "front end"), 0);
    EXPECT_EQ(null_members(get_networking_procedures(), "networking"), 0);
    EXPECT_EQ(null_members(get_connection_manager_game_procedures(), "connection manager"), 0);
    EXPECT_EQ(null_members(get_selection_procedures(), "selection"), 0);
}

// The core offers lightning a way to find its target object; the object world
// fills it, so a bolt strikes where its target stands, and its fixed end
// once the target is gone.
TEST_F(registration, a_bolt_strikes_its_target_object_where_the_object_world_says_it_stands)
{
    ASSERT_TRUE(load_objects_world(objects_world_map()));
    register_object_world_hooks();
    initialize_lightning();
    initialize_lightning_for_new_map();
    lightning_definition bolt_definition = {};
    bolt_definition.strike_ticks = 1;
    bolt_definition.linger_ticks = 1;
    const int32_t bolt_type =
        new_definition(get_lightning_definition_group(), FOUR_CHARACTER_CODE('b', 'o', 'l', 't'), &bolt_definition);
    object_definition definition = {};
    for (auto &modifier : definition.effect_modifiers) modifier = 256;
    definition.radius = 16;
    definition.height = 32;
    definition.scale_lower_bound = 256;
    const int32_t object_type = new_definition(&object_definitions, FOUR_CHARACTER_CODE('t', 'e', 's', 't'), &definition);
    ASSERT_NE(bolt_type, NONE);
    ASSERT_NE(object_type, NONE);
    new_object_data data = {};
    data.type = (int16_t)object_type;
    data.scale = 256;
    data.location.position = {1000, 1500, 0};
    const int32_t target = new_object(&data);
    ASSERT_NE(target, NONE);
    const world_point3d stands = get_object(target)->location.position;

    for (const bool alive : {true, false})
    {
        if (!alive) delete_object(target);
        const new_lightning_data bolt = {(int16_t)bolt_type, NONE, target, {0, 0, 0}, {100, 200, 0}};
        const int32_t index = new_lightning(&bolt);
        ASSERT_NE(index, NONE);
        update_lightning();
        ASSERT_EQ(get_lightning_state(index), _lightning_struck);
        const world_point3d strike = get_lightning_data(index)->strike_point;
        const world_point3d expected = alive ? stands : world_point3d{100, 200, 0};
        EXPECT_EQ(strike.x, expected.x) << (alive ? "alive" : "gone");
        EXPECT_EQ(strike.y, expected.y) << (alive ? "alive" : "gone");
        EXPECT_EQ(strike.z, expected.z) << (alive ? "alive" : "gone");
        update_lightning();
    }
    dispose_lightning_from_old_map();
    dispose_objects_world();
}

// The flags offer the object world a way to follow a pushed ball: with the
// program's registration the ball's object stands where the flag record
// says, in the cell under that point; a banner does not move.
TEST_F(registration, a_pushed_ball_takes_its_object_along_and_a_banner_stays)
{
    ASSERT_TRUE(load_objects_world(objects_world_map()));
    register_built_subsystems();
    initialize_flags();
    initialize_flags_for_new_map();
    object_definition definition = {};
    for (auto &modifier : definition.effect_modifiers) modifier = 256;
    definition.radius = 16;
    definition.height = 32;
    definition.scale_lower_bound = 256;
    const int32_t object_type = new_definition(&object_definitions, FOUR_CHARACTER_CODE('b', 'a', 'l', 'l'), &definition);
    ASSERT_NE(object_type, NONE);

    for (const int16_t type : {(int16_t)_flag_ball, (int16_t)_flag_banner})
    {
        new_object_data data = {};
        data.type = (int16_t)object_type;
        data.scale = 256;
        data.location.position = {2000, 2000, 0};
        const int32_t object_index = new_object(&data);
        ASSERT_NE(object_index, NONE);
        const world_point3d start = get_object(object_index)->location.position;
        const int32_t flag_index = new_flag(type, 0, 0, object_index, &start);
        ASSERT_NE(flag_index, NONE);
        // From the west, 2 x 512 world units: two cells east.
        const world_point2d pusher = {start.x - 100, start.y};
        push_flag_from_point(&pusher, object_index, (2 * WORLD_ONE) << BALL_PUSH_STRENGTH_SHIFT, 0, 0);

        const object_data *object = get_object(object_index);
        const world_point3d expected = type == _flag_ball ? get_flag_data(flag_index)->location : start;
        EXPECT_EQ(object->location.position.x, expected.x) << type;
        EXPECT_EQ(object->location.position.y, expected.y) << type;
        EXPECT_EQ(object->cell_x, expected.x / WORLD_ONE) << type;
        EXPECT_EQ(object->cell_y, expected.y / WORLD_ONE) << type;
        if (type == _flag_ball) { EXPECT_EQ(object->location.position.x, start.x + 2 * WORLD_ONE); }
        EXPECT_TRUE(object_chains_are_consistent());
    }
    dispose_objects_world();
}

// ---- the documentation agrees with the code ------------------------------------

std::string read_architecture_document(void)
{
    const std::filesystem::path path =
        source_tree_path("docs/architecture.md");
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The items of the list marked "<!-- list NAME -->" ... "<!-- end list -->":
// one paragraph, items separated by "; ", ending with ".".
std::vector<std::string> documented_list(const std::string &document, const std::string &name)
{
    std::vector<std::string> items;
    const std::string begin = "<!-- list " + name + " -->";
    const size_t start = document.find(begin);
    if (start == std::string::npos) return items;
    const size_t end = document.find("<!-- end list -->", start);
    std::string text = document.substr(start + begin.size(), end - start - begin.size());
    text = std::regex_replace(text, std::regex(R"(\s+)"), " ");
    text = std::regex_replace(text, std::regex(R"(^ | $|\.? $)"), "");
    std::istringstream separated(std::regex_replace(text, std::regex("; "), "\n"));
    for (std::string item; std::getline(separated, item);) items.push_back(item);
    return items;
}

template <typename E>
std::vector<std::string> code_list(int32_t count, const char *(*name)(E))
{
    std::vector<std::string> items;
    for (int32_t i = 0; i < count; ++i) items.push_back(name((E)i));
    return items;
}

TEST(registration_documents, the_ordered_lists_in_the_architecture_document_are_the_lists_in_code)
{
    const std::string document = read_architecture_document();
    ASSERT_FALSE(document.empty());
    EXPECT_EQ(documented_list(document, "startup_step"), code_list(NUMBER_OF_STARTUP_STEPS, startup_step_name));
    EXPECT_EQ(documented_list(document, "map_step"), code_list(NUMBER_OF_MAP_STEPS, map_step_name));
    EXPECT_EQ(documented_list(document, "tick_step"), code_list(NUMBER_OF_TICK_STEPS, tick_step_name));
    EXPECT_EQ(documented_list(document, "action_consumer"),
              code_list(NUMBER_OF_ACTION_CONSUMERS, action_consumer_name));
    EXPECT_EQ(documented_list(document, "event_consumer"), code_list(NUMBER_OF_EVENT_CONSUMERS, event_consumer_name));
}

// The map of the design stays short enough to read in one sitting: at most
// 450 lines of at most 120 characters.
TEST(registration_documents, the_architecture_document_stays_short)
{
    std::istringstream lines(read_architecture_document());
    int32_t count = 0;
    for (std::string line; std::getline(lines, line); ++count)
    {
        int32_t characters = 0; // UTF-8: every byte but the continuation bytes
        for (const char c : line) characters += ((uint8_t)c & 0xC0) != 0x80;
        EXPECT_LE(characters, 120) << "line " << count + 1;
    }
    EXPECT_GT(count, 0);
    EXPECT_LE(count, 450);
}

// The game-state table lists each state of the list, with its number, once,
// and marks exactly the interrupting ones.
TEST(registration_documents, the_game_state_table_is_the_list_in_code)
{
    const std::string document = read_architecture_document();
    const size_t start = document.find("### Game states");
    ASSERT_NE(start, std::string::npos);
    std::istringstream lines(document.substr(start, document.find("\n\n", document.find("| Number", start)) - start));
    std::vector<std::string> documented, expected;
    const std::regex row(R"(^\| (\d+) \| ([^|]+) \| ([^|]*)\|$)");
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch match;
        if (!std::regex_match(line, match, row)) continue;
        const bool interrupting = match[3].str().find("interrupting") != std::string::npos;
        documented.push_back(match[1].str() + " " + match[2].str() + (interrupting ? " (interrupting)" : ""));
    }
#define GAME_STATE_ROW(identifier, number, name, interrupting) \
    expected.push_back(std::to_string(number) + " " + name + (interrupting ? " (interrupting)" : ""));
    GAME_STATE_LIST(GAME_STATE_ROW)
#undef GAME_STATE_ROW
    EXPECT_EQ(documented, expected);
}

// The registration table of the architecture document.
std::string registration_table_text(const std::string &document)
{
    const size_t start = document.find("### Registration table");
    if (start == std::string::npos) return "";
    return document.substr(start, document.find("\n### ", start + 1) - start);
}

std::filesystem::path source_root(void) { return source_tree_path(""); }

// Every header of the game's libraries, whole.
std::vector<std::string> every_header(void)
{
    std::vector<std::string> headers;
    for (const char *directory : {"CoreLibrary", "game"})
        for (const auto &entry : std::filesystem::recursive_directory_iterator(source_root() / directory))
        {
            if (entry.path().extension() != ".h") continue;
            std::ifstream file(entry.path());
            std::stringstream text;
            text << file.rdbuf();
            headers.push_back(text.str());
        }
    return headers;
}

// The text of the parenthesised list opening at `open` (which holds '('),
// across lines.
std::string parenthesised(const std::string &text, size_t open)
{
    int32_t depth = 0;
    for (size_t i = open; i < text.size(); ++i)
    {
        depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
        if (depth == 0) return text.substr(open + 1, i - open - 1);
    }
    return text.substr(open + 1);
}

// The names of every procedure type the headers define (`typedef R (*name)(...)`,
// `using name = R (*)(...)`) and of every record of procedures only
// (`struct name { R (*member)(...); ... };`): a parameter of one of these
// types hands a procedure over.
std::set<std::string> procedure_types_in(const std::vector<std::string> &headers)
{
    std::set<std::string> types;
    const std::regex pointer_type(R"(typedef[^;]*?\(\s*\*\s*(\w+)\s*\)|using\s+(\w+)\s*=[^;]*\(\s*\*\s*\))");
    const std::regex record(R"(\bstruct\s+(\w+)\s*\{([^{}]*)\})");
    const std::regex word(R"(\w+)");
    std::vector<std::pair<std::string, std::string>> records;
    for (const std::string &header : headers)
    {
        for (std::sregex_iterator it(header.begin(), header.end(), pointer_type), end; it != end; ++it)
            types.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
        for (std::sregex_iterator it(header.begin(), header.end(), record), end; it != end; ++it)
            records.push_back({(*it)[1], (*it)[2]});
    }
    // A record of procedures: every member a procedure.
    const std::regex comment(R"(//[^\n]*)");
    for (const auto &[name, body] : records)
    {
        std::istringstream members(std::regex_replace(body, comment, ""));
        bool all = true, any = false;
        for (std::string member; std::getline(members, member, ';');)
        {
            if (member.find_first_not_of(" \t\n") == std::string::npos) continue;
            bool procedure = member.find("(*") != std::string::npos;
            for (std::sregex_iterator w(member.begin(), member.end(), word), none; w != none && !procedure; ++w)
                procedure = types.count((*w)[0]) != 0;
            all = all && procedure;
            any = true;
        }
        if (all && any) types.insert(name);
    }
    return types;
}

// The points a header declares, whatever they return: every `register_*`
// that takes something (one that takes nothing, `register_*_hooks`, is a
// subsystem's registration call, not a point), and every `set_*` that takes
// a procedure, a procedure type or a record of procedures, its parameters
// spread over lines or not.
std::set<std::string> points_declared_in(const std::vector<std::string> &headers)
{
    std::set<std::string> points;
    const std::set<std::string> types = procedure_types_in(headers);
    // A declaration: a return type, then the name, at the start of a line.
    const std::regex declaration(R"((?:^|\n)[ \t]*(?:[A-Za-z_][\w:<>,]*[ \t*&]+)+((register|set)_\w+)[ \t]*\()");
    const std::regex word(R"(\w+)");
    for (const std::string &header : headers)
        for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        {
            const std::string prefix = (*it)[0];
            if (prefix.find("return") != std::string::npos) continue;
            const std::string parameters =
                parenthesised(header, (size_t)(it->position(0) + it->length(0) - 1));
            const std::string trimmed = std::regex_replace(parameters, std::regex(R"(\s+)"), " ");
            if (trimmed.empty() || trimmed == "void" || trimmed == " " || trimmed == " void ") continue;
            const std::string name = (*it)[1];
            bool takes_procedure = (*it)[2] == "register" || trimmed.find("(*") != std::string::npos ||
                                   std::regex_search(name, std::regex(R"(_(procedures?|procs?)$)"));
            for (std::sregex_iterator w(trimmed.begin(), trimmed.end(), word), none; w != none; ++w)
                takes_procedure = takes_procedure || types.count((*w)[0]) != 0;
            if (takes_procedure) points.insert(name);
        }
    return points;
}

// Every point a header declares is named in the registration table, and
// every point the table names is still declared somewhere.
TEST(registration_documents, every_registration_point_is_in_the_table_and_every_name_there_is_a_point)
{
    const std::string table = registration_table_text(read_architecture_document());
    ASSERT_FALSE(table.empty());
    const std::vector<std::string> headers = every_header();
    ASSERT_GT(headers.size(), 10u);

    std::set<std::string> points = points_declared_in(headers);
#define CORE_POINT(name, result, parameters) points.insert("register_" #name "_procedure");
    CORE_PROCEDURE_LIST(CORE_POINT)
#undef CORE_POINT
    for (const std::string &point : points)
        EXPECT_NE(table.find("`" + point + "`"), std::string::npos) << point << " is not in the registration table";

    const std::regex named_point(R"(`((?:register|set)_\w+)`)");
    int32_t named = 0;
    for (std::sregex_iterator it(table.begin(), table.end(), named_point), end; it != end; ++it, ++named)
    {
        const std::string point = (*it)[1];
        bool declared = points.count(point) != 0;
        for (const std::string &header : headers)
            declared = declared || header.find(point + "(") != std::string::npos;
        EXPECT_TRUE(declared) << "the registration table names " << point << ", which no header declares";
    }
    EXPECT_GT(named, 100);
}

// The code's text: every header and source of the game, its core library
// and its tools.
std::string every_source_text(void)
{
    std::string text;
    for (const char *directory : {"CoreLibrary", "game", "tools"})
        for (const auto &entry : std::filesystem::recursive_directory_iterator(source_root() / directory))
        {
            if (entry.path().extension() != ".h" && entry.path().extension() != ".cpp") continue;
            std::ifstream file(entry.path());
            std::stringstream read;
            read << file.rdbuf();
            text += read.str();
        }
    return text;
}

// Every `register_*` or `set_*` name a document gives in backticks is a
// function of the code (declared or defined as `name(`), or a point the game
// core's list makes: the prose says what the code does.
TEST(registration_documents, every_register_or_set_name_in_the_documents_is_in_the_code)
{
    const std::string code = every_source_text();
    ASSERT_GT(code.size(), 1000000u);
    std::set<std::string> made;
#define CORE_POINT(name, result, parameters) made.insert("register_" #name "_procedure");
    CORE_PROCEDURE_LIST(CORE_POINT)
#undef CORE_POINT
    const std::regex named(R"(`((?:register|set)_\w+))");
    int32_t names = 0;
    for (const auto &entry : std::filesystem::directory_iterator(source_root() / "docs"))
    {
        if (entry.path().extension() != ".md") continue;
        std::ifstream file(entry.path());
        std::stringstream read;
        read << file.rdbuf();
        const std::string document = read.str();
        for (std::sregex_iterator it(document.begin(), document.end(), named), end; it != end; ++it, ++names)
        {
            const std::string name = (*it)[1];
            EXPECT_TRUE(made.count(name) || code.find(name + "(") != std::string::npos)
                << entry.path().filename().string() << " names " << name << ", which the code does not have";
        }
    }
    EXPECT_GT(names, 100);
}

// ---- every built point is filled ----------------------------------------------------

// The slots that may stay empty, each with its reason: the items of the list
// marked "<!-- optional slots -->", `table: slot, slot`: reason (an item may
// run on over indented lines; a table of one slot goes by the table's name).
struct optional_slot
{
    std::string key, reason;
};

std::vector<optional_slot> optional_slots(const std::string &document)
{
    std::vector<optional_slot> slots;
    const std::string begin = "<!-- optional slots -->";
    const size_t start = document.find(begin);
    if (start == std::string::npos) return slots;
    const size_t end = document.find("<!-- end optional slots -->", start);
    const std::string block =
        std::regex_replace(document.substr(start + begin.size(), end - start - begin.size()), std::regex(R"(\n +)"), " ");
    std::istringstream lines(block);
    const std::regex item(R"(^- `([^`]+)`: (.*)$)");
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch match;
        if (!std::regex_match(line, match, item)) continue;
        const std::string key = match[1];
        const size_t colon = key.find(": ");
        if (colon == std::string::npos)
        {
            slots.push_back({key, match[2]});
            continue;
        }
        std::istringstream names(key.substr(colon + 2));
        for (std::string name; std::getline(names, name, ',');)
            slots.push_back({key.substr(0, colon + 2) + name.substr(name.find_first_not_of(' ')), match[2]});
    }
    return slots;
}

// The two tables of a pair, filled together, are judged as one table named
// by their common words: a slot is empty when both halves are.
struct judged_table
{
    std::string name;
    std::vector<std::string> slot_names;
    std::vector<bool> empty;
};

std::string common_words(const std::string &a, const std::string &b)
{
    size_t end = 0;
    for (size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i)
        if (a[i] == ' ') end = i;
    return a.substr(0, end);
}

std::vector<judged_table> judged_tables(void)
{
    static const char *const pairs[][2] = {{"map step initializer", "map step disposer"},
                                           {"per-map stores initializer", "per-map stores disposer"},
                                           {"game state entry", "game state exit"},
                                           {"marker type palette entry", "marker type placement"}};
    std::vector<judged_table> tables;
    std::set<registration_table *> halves;
    for (const auto &pair : pairs)
    {
        registration_table *first = nullptr, *second = nullptr;
        for (registration_table *table = first_registration_table(); table; table = table->next)
        {
            if (std::string(table->name) == pair[0]) first = table;
            if (std::string(table->name) == pair[1]) second = table;
        }
        if (!first || !second || first->count != second->count) continue;
        halves.insert({first, second});
        judged_table judged{common_words(first->name, second->name), {}, {}};
        for (int32_t i = 0; i < first->count; ++i)
        {
            // A number the list leaves out ("unknown") goes by its number.
            const std::string name = first->slot_name ? first->slot_name(i) : "unknown";
            judged.slot_names.push_back(name == "unknown" ? std::to_string(i) : name);
            judged.empty.push_back(!first->slots[i] && !second->slots[i]);
        }
        tables.push_back(judged);
    }
    for (registration_table *table = first_registration_table(); table; table = table->next)
    {
        if (halves.count(table)) continue;
        judged_table judged{table->name, {}, {}};
        for (int32_t i = 0; i < table->count; ++i)
        {
            judged.slot_names.push_back(table->count == 1 ? "" : table->slot_name ? table->slot_name(i)
                                                                                   : std::to_string(i));
            judged.empty.push_back(!table->slots[i]);
        }
        tables.push_back(judged);
    }
    return tables;
}

// The program's own registration leaves no slot empty, in any table (steps,
// game states and per-map stores included), that the document does not list
// as optional with its reason; and every listed slot exists and is still
// empty, so a subsystem that fills one must take it off the list.
TEST(registration_documents, every_slot_is_filled_after_the_programs_registration_or_listed_as_optional)
{
    clear_all_registrations();
    register_built_subsystems(); // as main() and the tools do, before anything else
    const std::vector<judged_table> tables = judged_tables();
    const std::vector<optional_slot> optional = optional_slots(read_architecture_document());
    // (Some stay empty whatever is built: none found means the list was not read.)
    ASSERT_GT(optional.size(), 5u) << "the optional slots of docs/architecture.md";
    std::set<std::string> keys;
    for (const optional_slot &slot : optional)
    {
        EXPECT_TRUE(keys.insert(slot.key).second) << slot.key << " is listed twice";
        EXPECT_GT(slot.reason.size(), 10u) << slot.key << ": optional without a reason";
    }

    std::set<std::string> used;
    for (const judged_table &table : tables)
        for (size_t i = 0; i < table.empty.size(); ++i)
        {
            const std::string slot = table.slot_names[i].empty() ? table.name : table.name + ": " + table.slot_names[i];
            if (!table.empty[i])
            {
                EXPECT_EQ(keys.count(slot), 0u) << slot << " is filled: delete it from the optional slots";
                continue;
            }
            // A table of several slots is never exempted whole: each empty
            // slot has its own mark, so emptying another one fails here.
            if (keys.count(slot)) used.insert(slot);
            else ADD_FAILURE() << "empty after register_built_subsystems and not listed as optional: " << slot;
        }
    for (const std::string &key : keys)
        EXPECT_EQ(used.count(key), 1u) << key << ": no such empty slot (filled, renamed or gone): delete it from the list";
    clear_all_registrations();
}

} // namespace

} // namespace registration_test_file
