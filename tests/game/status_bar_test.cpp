// The in-game status bar and its unit status line, made from the demo data's
// dialog '!sba' and collections '!sba' and 'isb6' by the data tool: the
// stretch on a wide screen, the buttons' inhibitor, the quit and help
// buttons against a fake front end, the map and sketch buttons, the
// once-per-map opening of the map, the selection's display against a fake
// selection; the status line's record exchange, counts and experience
// icons.  VESK_STATUS_BAR_FRAME names a file to keep the PNG of the bar in.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/monster_status_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmaps.h"
#include "commands.h"
#include "console/console_mission_text.h"
#include "front_end_procedures.h"
#include "bitmap_text.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "overhead_map.h"
#include "screen.h"
#include "shapes.h"
#include "status_bar.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/test_mesh.h"
#include "support/expected_assertions.h"
#include "tag_files/plugins.h"
#include "vesk/string_lists.h"
#include "mesh_builder.h"
#include "mesh_format.h"
#include "cseries/byte_swapping.h"

namespace status_bar_test_file {

namespace
{

// The fake front end and selection.
struct fakes
{
    bool quit_open = false, hints_open = false;
    std::vector<std::string> calls;
    bool selection_changed = false;
    bool unit_selected = false;
    status_control_data status = {};
    std::vector<int16_t> clicks;
} fake;

bool fake_quit_dialog(int16_t verb, bool local_game)
{
    if (verb == _ingame_dialog_is_open) return fake.quit_open;
    fake.quit_open = verb == _ingame_dialog_open;
    fake.calls.push_back(fake.quit_open ? "open quit" : "close quit");
    return true;
}

bool fake_hints_dialog(int16_t verb, bool local_game)
{
    if (verb == _ingame_dialog_is_open) return fake.hints_open;
    fake.hints_open = verb == _ingame_dialog_open;
    fake.calls.push_back(std::string(fake.hints_open ? "open hints" : "close hints") + (local_game ? " local" : ""));
    return true;
}

bool fake_selection_changed(void)
{
    const bool changed = fake.selection_changed;
    fake.selection_changed = false;
    return changed;
}

void fake_selection_status(status_bar_selection_data *selection)
{
    if (!fake.unit_selected) return;
    selection->portrait_collection_index = (int16_t)get_status_bar_collection_index();
    selection->portrait_sequence_index = _status_bar_portrait_frame_sequence;
    strcpy(selection->description, "A steady archer of the valley.");
    selection->status = fake.status;
}

void fake_selection_click(int16_t click)
{
    fake.clicks.push_back(click);
}

// A small flat map whose header carries `flags`, with one map action `action`
// (MAP_ACTION_RECORD_SIZE bytes as stored) when given, and the mission list `missions`.
std::vector<uint8_t> flat_map(uint32_t flags, const uint8_t *action = nullptr, tag missions = NONE)
{
    mesh_header header = test_mesh_header(4, 4);
    header.team_count = 2;
    header.flags = flags;
    header.map_description_string_list_tag = missions;
    std::vector<mesh_cell> cells(16, mesh_cell{0, 0, 0, NONE, NONE, 0});
    const mesh_builder_input input = {header, cells.data(), nullptr, 0, nullptr, 0, action, action ? 1 : 0,
                                      action ? MAP_ACTION_RECORD_SIZE : 0};
    int32_t size = 0;
    uint8_t *data = build_mesh_tag_data(&input, &size);
    std::vector<uint8_t> bytes(data, data + (data ? size : 0));
    free(data);
    return bytes;
}

class status_bar_test : public bar_dialogs_test
{
protected:
    void SetUp() override
    {
        bar_dialogs_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        ASSERT_NE(find_control_handler(MONSTER_STATUS_CONTROL_TAG), nullptr);
        fake = fakes();
        static const front_end_procedures front_end = {.quit_dialog = fake_quit_dialog,
                                                       .game_hints_dialog = fake_hints_dialog};
        ASSERT_TRUE(register_front_end_procedures(&front_end));
        static const status_bar_selection_procedures selection = {
            .changed = fake_selection_changed, .status = fake_selection_status, .click = fake_selection_click};
        set_status_bar_selection_procedures(&selection);
        get_game_preferences()->flags |= _game_pref_status_bar_visible_flag;
        start_game(_game_type_local, 0);
    }
    void TearDown() override
    {
        if (set_up) dispose_mesh_from_old_map();
        dispose_console_mission_text_from_old_map();
        set_status_bar_selection_procedures(nullptr);
        bar_dialogs_test::TearDown();
    }

    void start_game(int16_t type, uint32_t options)
    {
        game_->type = type;
        game_->option_flags = options | _game_option_allow_overhead_map_flag;
        game_->scoring = 2;
        game_->difficulty_level = 2;
    }
    void set_screen_width(int16_t width)
    {
        active_screen.width = width;
    }
    // A new map: the bar made and a few actions run through it, so the
    // presses it made fire.
    dialog_data *open_bar(uint32_t mesh_flags = 0, const uint8_t *action = nullptr, tag missions = NONE)
    {
        dispose_status_bar_from_old_map();
        dispose_mesh_from_old_map();
        const std::vector<uint8_t> map = flat_map(mesh_flags, action, missions);
        EXPECT_TRUE(load_mesh_from_memory(map.data(), (int32_t)map.size()));
        dispose_console_mission_text_from_old_map();
        initialize_console_mission_text_for_new_map(missions);
        initialize_status_bar_for_new_map();
        pump();
        return get_status_bar_dialog();
    }
    // Lets pending presses fire.
    void pump(int32_t actions = 3)
    {
        for (int32_t i = 0; i < actions; ++i)
        {
            advance_test_clock_ticks(4);
            action_data idle = make_test_action(4);
            dialogs_handled_action(&idle);
        }
    }
    static int16_t state_of(int16_t item)
    {
        return get_button_control_state(get_status_bar_dialog(), item);
    }
    static rectangle2d bounds_of(int16_t item)
    {
        rectangle2d bounds;
        get_dialog_item_bounds(get_status_bar_dialog(), item, &bounds);
        return bounds;
    }
    static bool visible(int16_t item)
    {
        return bitmap_get_item_visible(get_status_bar_dialog(), item);
    }
};

// ---- layout ------------------------------------------------------------------------------------

TEST_F(status_bar_test, a_1024_pixel_screen_moves_the_buttons_and_widens_the_texts_by_384)
{
    ASSERT_NE(open_bar(), nullptr);
    rectangle2d bar;
    ASSERT_TRUE(status_bar_visible(&bar));
    EXPECT_EQ(bar.right - bar.left, 640);
    EXPECT_EQ(bar.bottom - bar.top, get_status_bar_height());
    EXPECT_EQ(get_status_bar_height(), 48);
    const int16_t moved[] = {_status_bar_quit_button, _status_bar_map_button, _status_bar_erase_sketch_button,
                             _status_bar_sketch_mode_button, _status_bar_help_button};
    const int16_t widened[] = {_status_bar_unit_status, _status_bar_description_text, _status_bar_scoring_text,
                               _status_bar_rules_text};
    std::vector<rectangle2d> narrow, narrow_original;
    for (int16_t item : moved)
    {
        narrow.push_back(bounds_of(item));
        rectangle2d original;
        get_button_control_original_bounds(get_status_bar_dialog(), item, &original);
        narrow_original.push_back(original);
    }
    for (int16_t item : widened) narrow.push_back(bounds_of(item));
    const rectangle2d portrait = bounds_of(_status_bar_portrait_button);

    // A change of resolution, and a later map at that resolution, both lay the bar out again.
    set_screen_width(1024);
    update_status_bar_for_new_resolution();
    for (int pass = 0; pass < 2; ++pass)
    {
        SCOPED_TRACE(pass == 0 ? "new resolution" : "next map");
        ASSERT_TRUE(status_bar_visible(&bar));
        EXPECT_EQ(bar.right - bar.left, 1024);
        for (size_t i = 0; i < std::size(moved); ++i)
        {
            const rectangle2d wide = bounds_of(moved[i]);
            EXPECT_EQ(wide.left, narrow[i].left + 384) << "item " << moved[i];
            EXPECT_EQ(wide.right, narrow[i].right + 384) << "item " << moved[i];
            EXPECT_EQ(wide.top, narrow[i].top);
            rectangle2d original;
            get_button_control_original_bounds(get_status_bar_dialog(), moved[i], &original);
            EXPECT_EQ(original.left, narrow_original[i].left + 384) << "item " << moved[i];
        }
        for (size_t i = 0; i < std::size(widened); ++i)
        {
            const rectangle2d wide = bounds_of(widened[i]);
            const rectangle2d &before = narrow[std::size(moved) + i];
            EXPECT_EQ(wide.left, before.left) << "item " << widened[i];
            EXPECT_EQ(wide.right, before.right + 384) << "item " << widened[i];
        }
        const rectangle2d still = bounds_of(_status_bar_portrait_button);
        EXPECT_EQ(still.left, portrait.left);
        EXPECT_EQ(still.right, portrait.right);
        open_bar();
    }
    set_screen_width(640);
    update_status_bar_for_new_resolution();
    EXPECT_EQ(bounds_of(_status_bar_help_button).left, narrow[std::size(moved) - 1].left) << "back at 640";
}

TEST_F(status_bar_test, visibility_follows_and_sets_the_game_preference)
{
    ASSERT_NE(open_bar(), nullptr);
    EXPECT_TRUE(is_status_bar(get_status_bar_dialog()));
    EXPECT_FALSE(is_status_bar(nullptr));
    set_status_bar_visibility(false);
    rectangle2d bounds = {1, 2, 3, 4};
    EXPECT_FALSE(status_bar_visible(&bounds));
    EXPECT_EQ(bounds.left, 2) << "bounds untouched while hidden";
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_status_bar_visible_flag);
    open_bar();
    EXPECT_FALSE(status_bar_visible(nullptr)) << "the next map keeps the bar hidden";
    set_status_bar_visibility(true);
    EXPECT_TRUE(get_game_preferences()->flags & _game_pref_status_bar_visible_flag);
    dispose_status_bar_from_old_map();
    EXPECT_EQ(get_status_bar_dialog(), nullptr);
    EXPECT_EQ(get_status_bar_collection_index(), NONE);
}

TEST_F(status_bar_test, a_bar_missing_items_skips_them)
{
    // A damaged '!sba' keeps only some of its items: the bar works with those.
    dialog_data *dialog = open_bar();
    ASSERT_NE(dialog, nullptr);
    for (int16_t item : {_status_bar_unit_status, _status_bar_description_text, _status_bar_portrait_button,
                         _status_bar_map_button, _status_bar_sketch_mode_button, _status_bar_rules_text})
        delete_control(dialog, item);
    initialize_status_bar_dialog();
    fake.unit_selected = true;
    fake.selection_changed = true;
    update_status_bar();
    push_overhead_map_button(_push_overhead_map_button_always);
    status_bar_dialog_handler_proc(dialog, _status_bar_sketch_mode_button, nullptr);
    pump();
    EXPECT_TRUE(push_pause_button());
    pump();
    EXPECT_TRUE(fake.quit_open);
}

// ---- buttons -------------------------------------------------------------------------------------

TEST_F(status_bar_test, the_quit_and_help_buttons_open_and_close_their_dialogs)
{
    ASSERT_NE(open_bar(), nullptr);
    fake.calls.clear();
    EXPECT_TRUE(push_pause_button());
    pump();
    EXPECT_TRUE(any_ingame_dialogs_open());
    EXPECT_TRUE(push_pause_button());
    pump();
    EXPECT_FALSE(any_ingame_dialogs_open());
    EXPECT_TRUE(push_help_button());
    pump();
    EXPECT_TRUE(any_ingame_dialogs_open());
    EXPECT_TRUE(push_help_button());
    pump();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"open quit", "close quit", "open hints local", "close hints local"}));
}

TEST_F(status_bar_test, the_inhibitor_keeps_quit_and_help_apart)
{
    dialog_data *dialog = open_bar();
    ASSERT_NE(dialog, nullptr);
    fake.hints_open = true;
    EXPECT_FALSE(status_bar_dialog_inhibitor_proc(dialog, _status_bar_quit_button));
    EXPECT_TRUE(status_bar_dialog_inhibitor_proc(dialog, _status_bar_help_button));
    EXPECT_FALSE(push_pause_button()) << "quit while the hints are open";
    fake.hints_open = false;
    fake.quit_open = true;
    EXPECT_TRUE(status_bar_dialog_inhibitor_proc(dialog, _status_bar_quit_button));
    EXPECT_FALSE(status_bar_dialog_inhibitor_proc(dialog, _status_bar_help_button));
    EXPECT_FALSE(push_help_button()) << "help while the quit dialog is open";
    for (int16_t item = 2; item <= 9; ++item) EXPECT_TRUE(status_bar_dialog_inhibitor_proc(dialog, item));
}

TEST_F(status_bar_test, the_map_opens_once_per_map_unless_the_map_leaves_it_closed)
{
    ASSERT_NE(open_bar(), nullptr);
    EXPECT_EQ(state_of(_status_bar_map_button), 1) << "opened at the start";
    push_overhead_map_button(_push_overhead_map_button_to_close);
    pump();
    EXPECT_EQ(state_of(_status_bar_map_button), 0);
    update_status_bar();
    pump();
    EXPECT_EQ(state_of(_status_bar_map_button), 0) << "only once per map";

    open_bar();
    EXPECT_EQ(state_of(_status_bar_map_button), 1) << "the next map opens it again";
    open_bar(_mesh_leaves_overhead_map_closed_flag);
    EXPECT_EQ(state_of(_status_bar_map_button), 0) << "this map leaves it closed";
}

TEST_F(status_bar_test, map_and_sketch_buttons_work_together)
{
    // Entering sketch mode tells the other players through a command.
    ASSERT_TRUE(initialize_commands());
    ASSERT_TRUE(initialize_commands_for_new_map());
    start_game(_game_type_networked, 0);
    dialog_data *dialog = open_bar();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(visible(_status_bar_sketch_mode_button));
    EXPECT_TRUE(visible(_status_bar_erase_sketch_button));
    ASSERT_EQ(state_of(_status_bar_map_button), 1);

    // With the map open, pushing it "to open" does nothing.
    push_overhead_map_button(_push_overhead_map_button_to_open);
    EXPECT_EQ(dialog->item_clicked, NONE);
    pump();
    EXPECT_EQ(state_of(_status_bar_map_button), 1);

    // Sketch mode on, then closing the map releases it.
    ASSERT_TRUE(press_item(dialog, nullptr, _status_bar_sketch_mode_button));
    pump();
    EXPECT_EQ(state_of(_status_bar_sketch_mode_button), 1);
    EXPECT_TRUE(get_overhead_map_globals()->sketching);
    push_overhead_map_button(_push_overhead_map_button_always);
    pump();
    EXPECT_EQ(state_of(_status_bar_map_button), 0);
    EXPECT_EQ(state_of(_status_bar_sketch_mode_button), 0) << "closing the map releases sketch mode";

    // Sketch mode with the map closed opens the map.
    ASSERT_TRUE(press_item(dialog, nullptr, _status_bar_sketch_mode_button));
    pump(4);
    EXPECT_EQ(state_of(_status_bar_sketch_mode_button), 1);
    EXPECT_EQ(state_of(_status_bar_map_button), 1) << "sketching opened the map";

    // A single-player game has no sketch buttons.
    start_game(_game_type_local, 0);
    open_bar();
    EXPECT_FALSE(visible(_status_bar_sketch_mode_button));
    EXPECT_FALSE(visible(_status_bar_erase_sketch_button));
    dispose_commands_from_old_map();
}

TEST_F(status_bar_test, a_game_without_the_overhead_map_dims_its_button)
{
    start_game(_game_type_local, 0);
    game_->option_flags &= ~(uint32_t)_game_option_allow_overhead_map_flag;
    ASSERT_NE(open_bar(), nullptr);
    const button_control_data *button =
        (const button_control_data *)get_dialog_item_extra_data(get_status_bar_dialog(), _status_bar_map_button);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->transparency, DISALLOWED_MAP_BUTTON_TRANSPARENCY);
}

// ---- the selection ---------------------------------------------------------------------------------

TEST_F(status_bar_test, the_selection_replaces_the_game_texts_and_its_clicks_reach_the_selection)
{
    struct
    {
        int16_t type;
        uint32_t options;
        bool rules;
    } games[] = {
        {_game_type_local, 0, false},
        {_game_type_networked, 0, true},
        {_game_type_networked, _game_option_cooperative_flag, false},
    };
    for (const auto &game : games)
    {
        SCOPED_TRACE(game.type * 100 + (int)(game.options != 0));
        start_game(game.type, game.options);
        fake.unit_selected = false;
        ASSERT_NE(open_bar(), nullptr);
        EXPECT_TRUE(visible(_status_bar_scoring_text));
        EXPECT_EQ(visible(_status_bar_rules_text), game.rules);
        EXPECT_FALSE(visible(_status_bar_unit_status));
        EXPECT_FALSE(visible(_status_bar_portrait_button));
        char text[256];
        get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_scoring_text, text, sizeof(text));
        EXPECT_NE(strstr(text, "  ("), nullptr) << text;
    }
    // The map (or a script) changes the scoring after the bar was made: the
    // next update names the scoring the game plays.
    char text[256];
    get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_scoring_text, text, sizeof(text));
    EXPECT_EQ(strncmp(text, "Last Standing", 13), 0) << text;
    game_->scoring = 0;
    update_status_bar();
    get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_scoring_text, text, sizeof(text));
    EXPECT_EQ(strncmp(text, "Most Damage  (", 14), 0) << text; // as the films and network dialogs name it
    // A speed other than normal is named for as long as it lasts.
    for (const int16_t speed : {(int16_t)(NORMAL_GAME_SPEED_INDEX + 2), (int16_t)NORMAL_GAME_SPEED_INDEX})
    {
        game_->game_speed = speed;
        update_status_bar();
        get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_scoring_text, text, sizeof(text));
        EXPECT_EQ(strstr(text, "Speed ") != nullptr, speed != NORMAL_GAME_SPEED_INDEX) << text;
    }

    fake.unit_selected = true;
    strcpy(fake.status.name, "Aldo");
    fake.status.experience_allegiance = 0;
    fake.status.experience = 3;
    fake.status.ammunition_collection_index = NONE;
    fake.status.item_collection_index = NONE;
    update_status_bar();
    EXPECT_FALSE(visible(_status_bar_unit_status)) << "nothing changed, nothing forced";
    fake.selection_changed = true;
    update_status_bar();
    EXPECT_TRUE(visible(_status_bar_unit_status));
    EXPECT_TRUE(visible(_status_bar_description_text));
    EXPECT_TRUE(visible(_status_bar_portrait_button));
    EXPECT_FALSE(visible(_status_bar_scoring_text));
    EXPECT_FALSE(visible(_status_bar_rules_text));
    status_control_data shown;
    ASSERT_TRUE(get_status_control_data(get_status_bar_dialog(), _status_bar_unit_status, &shown));
    EXPECT_STREQ(shown.name, "Aldo");
    EXPECT_EQ(shown.collection_index, get_status_bar_exp_collection_index());
    EXPECT_NE(get_status_bar_exp_collection_index(), NONE);

    fake.clicks.clear();
    dialog_data *dialog = get_status_bar_dialog();
    status_bar_dialog_handler_proc(dialog, _status_bar_unit_status, nullptr);
    status_bar_dialog_handler_proc(dialog, _status_bar_portrait_button, nullptr);
    EXPECT_EQ(fake.clicks, (std::vector<int16_t>{_status_bar_rename_selection, _status_bar_point_observer_at_selection}));
}

// A level its script ends ('endg', 'end2') names its objective (the mission
// list's, as a script moves it on) or "Last side standing", never a scoring
// type; a network game between sides, or a map without an end, keeps its words.
TEST_F(status_bar_test, a_level_its_script_decides_names_its_objective_not_a_scoring_type)
{
    const char *const missions[] = {"Test Hill", "Take the hill.", "Keep one unit alive."};
    std::vector<uint8_t> list((size_t)encode_string_list_data(missions, 3, nullptr, 0));
    encode_string_list_data(missions, 3, list.data(), (int32_t)list.size());
    write_local_tag(STRING_LIST_GROUP_TAG, "thmi", STRING_LIST_VERSION, list.data(), (int32_t)list.size());
    const struct
    {
        const char *action, *missions;
        int16_t type;
        uint32_t options;
        const char *words, *rules;
    } rows[] = {
        {"endg", "thmi", _game_type_local, 0, "Objective  (", "Keep one unit alive."},
        {"end2", "thmi", _game_type_networked, _game_option_cooperative_flag, "Objective  (", "Keep one unit alive."},
        {"endg", "none", _game_type_local, 0, "Last side standing  (", "The last side with units on the field wins."},
        {"endg", "thmi", _game_type_networked, 0, "Last Standing  (", "Stand alone on the hill to take it; the team "
                                                                       "holding it at the end wins."},
        {"move", "thmi", _game_type_local, 0, "Last Standing  (", nullptr},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(std::string(row.action) + " " + std::to_string(row.type) + " " + row.missions);
        start_game(row.type, row.options);
        game_->played_type = row.type;
        uint8_t action[MAP_ACTION_RECORD_SIZE] = {0, 1};
        write_be32(&action[4], string_to_tag(row.action));
        ASSERT_NE(open_bar(0, action, string_to_tag(row.missions)), nullptr);
        advance_mission(true); // a script moved on to the second objective
        update_status_bar();
        char words[256], rules[256];
        get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_scoring_text, words, sizeof(words));
        get_bitmap_dialog_static_item_text(get_status_bar_dialog(), _status_bar_rules_text, rules, sizeof(rules));
        EXPECT_EQ(strncmp(words, row.words, strlen(row.words)), 0) << words;
        EXPECT_EQ(visible(_status_bar_rules_text), row.rules != nullptr);
        if (row.rules) { EXPECT_STREQ(rules, row.rules); }
    }
}

// ---- the unit status line ----------------------------------------------------------------------------

class status_line_test : public status_bar_test
{
protected:
    dialog_data *dialog = nullptr;
    int32_t icons = NONE;
    uint32_t icon_pixel = 0;

    void SetUp() override
    {
        status_bar_test::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // A unit is selected, so the line is shown.
        fake.unit_selected = true;
        dialog = open_bar();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(visible(_status_bar_unit_status));
        icons = get_status_bar_exp_collection_index();
        ASSERT_NE(icons, NONE);
        // The dark fill of the gold (view 0) icons of 'isb6': colour 2.
        const rgb_color *dark = &get_color_table(icons)->colors[2];
        icon_pixel = rgb_color_to_pixel32(dark);
    }
    status_control_data line(int16_t experience, bool full_vets)
    {
        status_control_data data = {};
        strcpy(data.name, "Aldo");
        strcpy(data.type, "Archer");
        data.show_full_vets = full_vets;
        data.experience = experience;
        data.experience_allegiance = 0;
        data.ammunition_collection_index = NONE;
        data.item_collection_index = NONE;
        data.collection_index = (int16_t)icons;
        data.color = rgb_color{0xFFFF, 0xFFFF, 0xFFFF, 0};
        return data;
    }
    // Icons drawn in the status line: runs of columns holding the icons' dark fill.
    int32_t count_icons(void)
    {
        screen.fill();
        set_dialog_dirty(dialog);
        render_dialogs(screen.bitmap);
        const rectangle2d b = bounds_of(_status_bar_unit_status);
        int32_t runs = 0;
        bool in_run = false;
        for (int32_t x = b.left; x < b.right; ++x)
        {
            bool found = false;
            for (int32_t y = b.top; y < b.bottom && !found; ++y) found = screen.pixel(x, y) == icon_pixel;
            if (found && !in_run) ++runs;
            in_run = found;
        }
        return runs;
    }
};

TEST_F(status_line_test, the_same_record_twice_is_no_change)
{
    status_control_data data = line(4, false);
    EXPECT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    EXPECT_FALSE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    // Bytes after a name's terminator are not part of the record's value.
    status_control_data noisy = data;
    memset(noisy.name + 5, 'x', 20);
    EXPECT_FALSE(set_status_control_data(dialog, _status_bar_unit_status, &noisy));
    noisy.item_count = -40;
    EXPECT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &noisy));
    // A name without a terminator is cut, never read past.
    memset(noisy.name, 'n', sizeof(noisy.name));
    EXPECT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &noisy));
    status_control_data stored;
    ASSERT_TRUE(get_status_control_data(dialog, _status_bar_unit_status, &stored));
    EXPECT_EQ(strlen(stored.name), sizeof(stored.name) - 1);

    expected_assertions refused(2, "not a unit status line");
    EXPECT_FALSE(set_status_control_data(dialog, _status_bar_help_button, &data));
    EXPECT_FALSE(get_status_control_data(dialog, _status_bar_help_button, &stored));
}

TEST_F(status_line_test, counts_read_as_thousands_and_percentages)
{
    struct
    {
        int32_t count;
        bool percentage;
        const char *text;
    } cases[] = {
        {12345, false, "12k"}, {9999, false, "9999"}, {-40, true, "40%"}, {-40, false, "-40"}, {0, true, "0"},
        {32767, true, "32k"},
    };
    for (const auto &c : cases)
    {
        char text[16];
        format_status_control_count(text, sizeof(text), c.count, c.percentage);
        EXPECT_STREQ(text, c.text) << c.count;
    }
}

TEST_F(status_line_test, experience_shows_icons_or_a_number_and_one_icon)
{
    status_control_data data = line(12, false);
    ASSERT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    EXPECT_EQ(count_icons(), 1) << "12 without full veterans: the number and one icon";
    data = line(12, true);
    ASSERT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    EXPECT_EQ(count_icons(), 12) << "12 with full veterans";
    data = line(5, false);
    ASSERT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    EXPECT_EQ(count_icons(), 5);
    data = line(0, true);
    ASSERT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    EXPECT_EQ(count_icons(), 0);
}

TEST_F(status_line_test, a_double_click_toggles_full_veterans_and_the_preference)
{
    get_game_preferences()->flags &= ~(uint32_t)_game_pref_show_full_vets_flag;
    status_control_data data = line(12, false);
    ASSERT_TRUE(set_status_control_data(dialog, _status_bar_unit_status, &data));
    const rectangle2d b = bounds_of(_status_bar_unit_status);
    action_data click = with_action_flag(make_click_action((int16_t)(b.left + 4), (int16_t)(b.top + 4)),
                                         _double_left_mouse_down_bit);
    param_control_click_verb parameter = {&click};
    EXPECT_EQ(monster_status_control_handler(_control_click_verb, dialog, _status_bar_unit_status, &parameter), 0);
    status_control_data stored;
    ASSERT_TRUE(get_status_control_data(dialog, _status_bar_unit_status, &stored));
    EXPECT_TRUE(stored.show_full_vets);
    EXPECT_TRUE(get_game_preferences()->flags & _game_pref_show_full_vets_flag);
    EXPECT_EQ(count_icons(), 12);
    // The bar keeps the player's choice when the selection refreshes the line.
    fake.unit_selected = true;
    fake.status = line(12, false);
    fake.selection_changed = true;
    update_status_bar();
    ASSERT_TRUE(get_status_control_data(dialog, _status_bar_unit_status, &stored));
    EXPECT_TRUE(stored.show_full_vets);
    EXPECT_EQ(monster_status_control_handler(_control_click_verb, dialog, _status_bar_unit_status, &parameter), 0);
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_show_full_vets_flag);
}

TEST_F(status_line_test, the_drawn_bar_is_written_as_a_picture)
{
    fake.unit_selected = true;
    fake.status = line(7, false);
    fake.status.battles_survived = 2;
    fake.status.ammunition_count = 12345;
    fake.status.ammunition_collection_index = (int16_t)icons;
    fake.status.ammunition_sequence_index = EXPERIENCE_ICON_SEQUENCE;
    fake.status.item_collection_index = (int16_t)icons;
    fake.status.item_sequence_index = EXPERIENCE_ICON_SEQUENCE;
    fake.status.item_count = -40;
    fake.selection_changed = true;
    update_status_bar();
    screen.fill();
    set_all_dialogs_dirty();
    render_dialogs(screen.bitmap);
    rectangle2d bar;
    ASSERT_TRUE(status_bar_visible(&bar));
    const rectangle2d changed = screen.changed_bounds();
    EXPECT_EQ(changed.top, 0);
    EXPECT_EQ(changed.bottom, bar.bottom) << "the bar covers its rows and no more";
    EXPECT_EQ(changed.right, 640);
    EXPECT_EQ(count_icons(), 1 + 1 + 7) << "ammunition, item and seven experience icons (the battles are red)";
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "status_bar", "png", 0));
    if (const char *keep = getenv("VESK_STATUS_BAR_FRAME"))
        std::filesystem::copy_file("pictures/status_bar.png", keep, std::filesystem::copy_options::overwrite_existing);
}

} // namespace

} // namespace status_bar_test_file
