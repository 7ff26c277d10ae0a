// The plug-in choice dialog and the new-game dialog over the demo's dialogs,
// strings and maps (data/, made by the data tool), driven through the real
// modal loop with scripted passes: the choice of plug-ins with its cap of
// 16, and the new-game state from the dialog to the set-up of the game it
// starts (the scripted valley, a difficulty, the demo plug-in), with Cancel
// still keeping the choices.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "game_preferences.h"
#include "game_states.h"
#include "mesh.h"
#include "mesh_format.h"
#include "new_game_dialog.h"
#include "plugins_dialog.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

namespace new_game_dialog_test_file {

namespace
{

constexpr tag SCRIPTED_VALLEY = FOUR_CHARACTER_CODE('s', 'c', 'r', 'i');
constexpr int ADDON_PLUGINS = 17;
const char *const DEMO_PLUGIN = "Demo Plug-in";

class front_end_dialogs : public demo_interface_test
{
protected:
    std::vector<test_tag> valley;

    void SetUp() override
    {
        mkdir(PLUGINS_FOLDER, 0755);
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        // Plug-ins without maps: the demo one with its banner, and more than a game may use.
        ASSERT_EQ(run_data_tool("collection banner.tag --subgroup '##p#' --name banner '" +
                                source_tree_path("data/plugins/demo/collections/##p#.txt") + "'"),
                  0);
        const test_tag banner = {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('#', '#', 'p', '#'), "banner",
                                 COLLECTION_VERSION_NUMBER, local_tag_file_data("banner.tag")};
        ASSERT_TRUE(::write_monolithic_file(std::string(PLUGINS_FOLDER "/") + DEMO_PLUGIN, _tag_file_type_plugin,
                                          {banner}, DEMO_PLUGIN));
        for (int i = 1; i <= ADDON_PLUGINS; ++i)
        {
            char name[32];
            snprintf(name, sizeof(name), "Addon %02d", i);
            const test_tag text = make_test_tag(FOUR_CHARACTER_CODE('t', 'e', 'x', 't'), FOUR_CHARACTER_CODE('a', 'd', 'd', 'n'),
                                                name, name);
            ASSERT_TRUE(::write_monolithic_file(std::string(PLUGINS_FOLDER "/") + name, _tag_file_type_plugin, {text}, name));
        }
        ASSERT_TRUE(make_demo_map_source_tags(tool, "scripted_valley.map", "scri", &valley));
        ASSERT_TRUE(make_string_list_tags(tool, &valley));
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        initialize_game_preferences(false);
        // The maps' facts, read whenever the dialog lists the maps (the core's
        // registrations were emptied by the fixture).
        ASSERT_TRUE(register_entry_point_reader_procedure(read_mesh_entry_point));
    }
    void store_interface_tags(void) override
    {
        for (const test_tag &t : valley)
            write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
    }
    void TearDown() override
    {
        clear_pending_game_state();
        demo_interface_test::TearDown();
    }

    static int16_t plugin_named(const char *name) { return (int16_t)find_plugin_by_name(name); }

    static int16_t map_row(dialog_data *dialog, tag map)
    {
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, _new_game_map_list_item); ++row)
            if ((tag)get_entry_point_list_item_value(dialog, _new_game_map_list_item, row) == map) return row;
        return -1;
    }
    static int16_t plugin_row(dialog_data *dialog, int16_t list, int16_t plugin_index)
    {
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, list); ++row)
        {
            plugin_list_data data = {};
            int16_t size = sizeof(data);
            bitmap_get_listbox_row_data(dialog, list, row, &data, &size);
            if (size == sizeof(data) && data.plugin_index == plugin_index) return row;
        }
        return -1;
    }
};

TEST_F(front_end_dialogs, the_plugin_choice_takes_at_most_16_ok_encodes_the_active_list_and_cancel_keeps_the_data)
{
    uint8_t data[ENCODED_PLUGIN_LIST_SIZE];
    const int16_t first_two[] = {plugin_named("Addon 01"), plugin_named("Addon 02")};
    ASSERT_GE(tag_file_plugins_encode(first_two, 2, data), 0);
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(dialog->tag, CHOOSE_PLUGINS_DIALOG_TAG);
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _choose_plugins_active_list_item), 2);
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _choose_plugins_inactive_list_item), ADDON_PLUGINS - 2 + 1);
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _choose_plugins_add_item));
        // The filter, placed from OK, has the focus.
        rectangle2d ok, label, field;
        get_dialog_item_bounds(dialog, _choose_plugins_ok_item, &ok);
        get_dialog_item_bounds(dialog, _choose_plugins_filter_label_item, &label);
        get_dialog_item_bounds(dialog, _choose_plugins_filter_item, &field);
        EXPECT_EQ(label.left, ok.left - 354);
        EXPECT_EQ(label.top, ok.top + 5);
        EXPECT_EQ(label.right - label.left, 40);
        EXPECT_EQ(field.left, label.left + 50);
        EXPECT_EQ(field.right - field.left, 200);
        EXPECT_EQ(get_dialog_focus(dialog), _choose_plugins_filter_item);
    });
    for (int i = 0; i < 14; ++i)
    {
        inspect([](dialog_data *dialog) { bitmap_select_list_item(dialog, _choose_plugins_inactive_list_item, 0); });
        press(_choose_plugins_add_item);
    }
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _choose_plugins_active_list_item), 16);
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _choose_plugins_add_item)) << "16 is the most a game takes";
        EXPECT_EQ(get_dialog_focus(dialog), _choose_plugins_filter_item);
    });
    press(_choose_plugins_ok_item);
    EXPECT_TRUE(do_choose_plugins_dialog(data, 0));
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    ASSERT_TRUE(tag_file_plugins_decode(indexes, &count, data, nullptr, nullptr, 0));
    EXPECT_EQ(count, 16);
    EXPECT_EQ(get_first_dialog(), nullptr);

    // Removing one and cancelling changes nothing.
    uint8_t before[ENCODED_PLUGIN_LIST_SIZE];
    memcpy(before, data, sizeof(before));
    inspect([](dialog_data *dialog) { bitmap_select_list_item(dialog, _choose_plugins_active_list_item, 0); });
    press(_choose_plugins_remove_item);
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _choose_plugins_active_list_item), 15);
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _choose_plugins_add_item));
    });
    press(_choose_plugins_cancel_item);
    EXPECT_FALSE(do_choose_plugins_dialog(data, 0));
    EXPECT_EQ(memcmp(before, data, sizeof(before)), 0);
}

TEST_F(front_end_dialogs, the_new_game_state_sets_up_the_chosen_map_difficulty_and_plugin)
{
    mark_solo_level_as_visited(SCRIPTED_VALLEY, BASE_GAME_PLUGIN_INDEX);
    const int16_t demo = plugin_named(DEMO_PLUGIN);
    ASSERT_NE(demo, NONE);
    inspect([](dialog_data *dialog) { ASSERT_EQ(dialog->tag, NEW_GAME_DIALOG_TAG); });
    click_row(_new_game_map_list_item, [](dialog_data *dialog) { return map_row(dialog, SCRIPTED_VALLEY); });
    click_row(_new_game_difficulty_list_item, [](dialog_data *) { return (int16_t)4; });
    press(_new_game_tagset_button_item);
    // The plug-in choice, over the new-game dialog.
    inspect([demo](dialog_data *dialog) {
        ASSERT_EQ(dialog->tag, CHOOSE_PLUGINS_DIALOG_TAG);
        bitmap_select_list_item(dialog, _choose_plugins_inactive_list_item,
                                plugin_row(dialog, _choose_plugins_inactive_list_item, demo));
    });
    press(_choose_plugins_add_item);
    press(_choose_plugins_ok_item);
    inspect([demo](dialog_data *dialog) {
        ASSERT_EQ(dialog->tag, NEW_GAME_DIALOG_TAG);
        EXPECT_EQ(plugin_row(dialog, _new_game_tagset_list_item, demo), 0) << "the game's plug-ins are shown";
        EXPECT_EQ(get_string_list_selected_identifier(dialog, _new_game_difficulty_list_item), 4);
    });
    press(_new_game_ok_item);

    enter_new_game_state();
    int16_t next = NONE;
    ASSERT_TRUE(game_state_change_pending(&next));
    EXPECT_EQ(next, _game_state_displaying_mesh_prologue) << "a level begins with its story";
    const new_game_data *game = get_next_game_data();
    EXPECT_EQ(game->parameters.scenario_tag, SCRIPTED_VALLEY);
    EXPECT_EQ(game->parameters.difficulty_level, 4);
    EXPECT_EQ(game->parameters.type, _game_type_local);
    EXPECT_EQ(game->local_player_index, 0);
    EXPECT_EQ(game->parameters.plugin_count, 1);
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    ASSERT_TRUE(tag_file_plugins_decode(indexes, &count, game->parameters.plugin_data, nullptr, nullptr, 0));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(indexes[0], demo);
    EXPECT_EQ(get_game_preferences()->solo_new_game_params.difficulty_level, 4) << "the choice is kept";
    EXPECT_EQ(get_first_dialog(), nullptr);
}

TEST_F(front_end_dialogs, cancel_goes_back_to_the_menu_and_still_keeps_the_choice)
{
    mark_solo_level_as_visited(SCRIPTED_VALLEY, BASE_GAME_PLUGIN_INDEX);
    get_game_preferences()->solo_new_game_params.difficulty_level = 2;
    click_row(_new_game_map_list_item, [](dialog_data *dialog) { return map_row(dialog, SCRIPTED_VALLEY); });
    click_row(_new_game_difficulty_list_item, [](dialog_data *) { return (int16_t)0; });
    press(_new_game_vvux_checkbox_item);
    press(_new_game_anticlump_checkbox_item);
    inspect([](dialog_data *dialog) {
        EXPECT_TRUE(get_checkbox_state(dialog, _new_game_anticlump_checkbox_item));
        EXPECT_FALSE(get_checkbox_state(dialog, _new_game_vvux_checkbox_item)) << "one gameplay at a time";
    });
    press(_new_game_cancel_item);
    new_game_data data = {};
    EXPECT_FALSE(new_game_dialog(&data));
    const game_preferences *preferences = get_game_preferences();
    EXPECT_EQ(preferences->solo_new_game_params.scenario_tag, SCRIPTED_VALLEY);
    EXPECT_EQ(preferences->solo_new_game_params.difficulty_level, 0);
    EXPECT_EQ(preferences->solo_new_game_params.option_flags & (_game_option_uses_vux_flag | _game_option_uses_anticlump_flag),
              (uint32_t)_game_option_uses_anticlump_flag);

    press(_new_game_cancel_item);
    enter_new_game_state();
    int16_t next = NONE;
    ASSERT_TRUE(game_state_change_pending(&next));
    EXPECT_EQ(next, _game_state_displaying_main_menu);
}

} // namespace

} // namespace new_game_dialog_test_file
