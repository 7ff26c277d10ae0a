// The host's game parameters dialog ('!ngp') and the automatic host's
// playlist ('srsw') over the demo's dialogs, strings and map, driven through
// the real modal loop with scripted passes: the limits a stored game is
// brought into, the cooperative game's rules, options the map does not
// offer, cancel and the game name; the playlist's buttons, and the edits it
// keeps even when cancelled.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "game_preferences.h"
#include "input/input_definitions.h"
#include "mesh.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "tag_files/preferences.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/netgame_autohost_dialog.h"
#include "vesk_networking/netgame_parameters_dialog.h"
#include "vesk_networking/networking_preferences.h"

namespace netgame_parameters_dialog_test_file {

namespace
{

// A finished map of the demo, offered for network games (scoring type 0).
constexpr tag DEMO_MAP = FOUR_CHARACTER_CODE('s', 'c', 'r', 'i');

class network_game_dialogs : public demo_interface_test
{
protected:
    std::vector<test_tag> local_tags;

    void SetUp() override
    {
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        ASSERT_TRUE(make_demo_map_source_tags(tool, "scripted_valley.map", "scri", &local_tags));
        ASSERT_TRUE(make_string_list_tags(tool, &local_tags));
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        initialize_game_preferences(false);
        forget_net_hosting_prefs();
        ASSERT_TRUE(register_entry_point_reader_procedure(read_mesh_entry_point));
    }
    void store_interface_tags(void) override
    {
        for (const test_tag &t : local_tags)
            write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
    }

    // A game on the demo map as a host starts it.
    static net_game_description demo_game(const char *name = "Test Game")
    {
        static new_game_data data;
        get_default_new_game_data(&data, _game_type_networked, DEMO_MAP);
        net_game_description game;
        build_net_game_description(&game, name, "", &data.parameters, WELLKNOWN_VESK_PORT, 0, 1);
        return game;
    }

    // The stored playlist: `count` games named "game N" on the demo map.
    static void store_playlist(int count)
    {
        preferences_globals *store = get_autohost_preferences_store();
        autohost_preferences *record = (autohost_preferences *)read_preferences_convert(store, nullptr);
        ASSERT_NE(record, nullptr);
        for (int i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i)
        {
            char name[NET_GAME_NAME_SIZE];
            snprintf(name, sizeof(name), "game %d", i);
            record->playlist[i] = demo_game(name);
            if (i >= count) record->playlist[i].parameters.scenario_tag = (tag)NONE;
        }
        ASSERT_TRUE(write_preferences(store));
        free_preferences(store);
    }
    static std::vector<std::string> stored_playlist_names(void)
    {
        preferences_globals *store = get_autohost_preferences_store();
        const autohost_preferences *record = (const autohost_preferences *)read_preferences_convert(store, nullptr);
        std::vector<std::string> names;
        for (int i = 0; record && i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i)
            if (autohost_entry_is_filled(&record->playlist[i])) names.push_back(record->playlist[i].name);
        free_preferences(store);
        return names;
    }
};

} // namespace

// The host starts from his saved settings, where a time limit outside the
// control's range opens at its nearest end; the accepted game is saved back.
TEST_F(network_game_dialogs, a_saved_time_limit_opens_inside_the_offered_range_and_is_kept)
{
    game_preferences *preferences = get_game_preferences();
    const struct
    {
        int32_t stored, shown;
    } cases[] = {{600, 1800}, {900000, 810000}, {36000, 36000}, {NONE, NONE}, {0, 0}}; // no limit stays none
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.stored);
        preferences->multi_new_game_params = demo_game().parameters;
        preferences->multi_new_game_params.time_limit = c.stored;
        net_game_description game = demo_game(); // its own settings give way to the saved ones
        const int32_t shown = c.shown > 0 ? c.shown : NETGAME_NO_TIME_LIMIT;
        inspect([shown](dialog_data *dialog) {
            ASSERT_EQ(dialog->tag, NETGAME_PARAMETERS_DIALOG_TAG);
            EXPECT_EQ(get_double_arrow_control_value(dialog, _ngp_time_limit_item), shown);
        });
        press(_ngp_accept_item);
        ASSERT_TRUE(netgame_parameters_dialog(&game, 1, false, true));
        EXPECT_EQ(game.parameters.time_limit, c.shown);
        EXPECT_EQ(preferences->multi_new_game_params.time_limit, c.shown);
        EXPECT_TRUE(game.parameters.option_flags & _game_option_limited_visibility_flag);
        EXPECT_EQ(get_first_dialog(), nullptr);
    }
}

// The cooperative check box hides the scoring and shows the cutscenes;
// the game is then scored by its script, without a time limit or deathmatch.
TEST_F(network_game_dialogs, a_cooperative_game_has_custom_scoring_and_no_time_limit)
{
    net_game_description game = demo_game();
    game.parameters.option_flags |= _game_option_deathmatch_flag;
    game.parameters.time_limit = 36000;
    inspect([](dialog_data *dialog) {
        EXPECT_TRUE(bitmap_get_item_visible(dialog, _ngp_scoring_list_item));
        EXPECT_FALSE(bitmap_get_item_visible(dialog, _ngp_cutscenes_item));
        EXPECT_TRUE(get_checkbox_state(dialog, _ngp_deathmatch_item));
    });
    press(_ngp_cooperative_item);
    inspect([](dialog_data *dialog) {
        EXPECT_FALSE(bitmap_get_item_visible(dialog, _ngp_scoring_list_item));
        EXPECT_TRUE(bitmap_get_item_visible(dialog, _ngp_cutscenes_item));
        for (int16_t item : {_ngp_time_limit_item, _ngp_deathmatch_item, _ngp_planning_checkbox_item,
                             _ngp_unit_trading_item, _ngp_team_limit_item})
            EXPECT_FALSE(bitmap_get_item_enabled(dialog, item)) << item;
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _ngp_teams_item));
    });
    press(_ngp_accept_item);
    ASSERT_TRUE(netgame_parameters_dialog(&game, 1, false, false));
    EXPECT_TRUE(game.parameters.option_flags & _game_option_cooperative_flag);
    EXPECT_EQ(game.parameters.scoring, _game_scoring_custom);
    EXPECT_EQ(game.parameters.time_limit, NONE);
    EXPECT_EQ(game.parameters.pregame_time_limit, 0);
    EXPECT_FALSE(game.parameters.option_flags & _game_option_deathmatch_flag);
}

// Settings OKed leave the game as it was: no time limit stays none (the
// spinner's first choice, "No Limit", not its least minute) and veterans stay
// on a map whose box is disabled; "No Limit" can be chosen.  (Unit trading,
// which the demo map does not offer, is cleared as before.)
TEST_F(network_game_dialogs, ok_without_a_change_keeps_the_game_and_no_time_limit_can_be_chosen)
{
    const struct
    {
        int32_t time_limit, chosen, kept; // chosen -2: no change
        const char *shown;
    } cases[] = {{NONE, -2, NONE, "No Limit"}, {18000, -2, 18000, "10:00"}, {18000, 0, NONE, "No Limit"}, {NONE, 1800, 1800, "1:00"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.shown);
        net_game_description game = demo_game();
        game.parameters.time_limit = c.time_limit;
        const uint32_t flags = game.parameters.option_flags | _game_option_allow_veterans_flag;
        game.parameters.option_flags = flags;
        char shown[DOUBLE_ARROW_FORMAT_BUFFER_SIZE] = {};
        inspect([&shown, &c](dialog_data *dialog) {
            if (c.chosen != -2) set_double_arrow_control_value(dialog, _ngp_time_limit_item, -1, -1, c.chosen);
            get_double_arrow_control_data(dialog, _ngp_time_limit_item)
                ->format(shown, get_double_arrow_control_value(dialog, _ngp_time_limit_item));
        });
        press(_ngp_accept_item);
        ASSERT_TRUE(netgame_parameters_dialog(&game, 1, false, false));
        EXPECT_EQ(game.parameters.time_limit, c.kept);
        EXPECT_STREQ(shown, c.shown);
        const uint32_t dialogs = _game_option_limited_visibility_flag | _game_option_allow_unit_trading_flag;
        EXPECT_EQ(game.parameters.option_flags & ~dialogs, flags & ~dialogs);
    }
}

// The demo map offers neither unit trading nor veterans: their check boxes
// stay disabled; unit trading is cleared whatever its box shows, veterans
// stay as the game had them.
TEST_F(network_game_dialogs, options_the_map_does_not_offer_stay_off)
{
    net_game_description game = demo_game();
    game.parameters.option_flags |= _game_option_allow_unit_trading_flag | _game_option_allow_veterans_flag;
    game.parameters.pregame_time_limit = 900;
    inspect([](dialog_data *dialog) {
        EXPECT_TRUE(get_checkbox_state(dialog, _ngp_planning_checkbox_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _ngp_unit_trading_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _ngp_veterans_item));
        set_checkbox_state(dialog, _ngp_unit_trading_item, true);
    });
    press(_ngp_planning_checkbox_item); // off and on again: the map still decides
    press(_ngp_planning_checkbox_item);
    inspect([](dialog_data *dialog) { EXPECT_FALSE(bitmap_get_item_enabled(dialog, _ngp_unit_trading_item)); });
    press(_ngp_accept_item);
    ASSERT_TRUE(netgame_parameters_dialog(&game, 1, false, false));
    EXPECT_FALSE(game.parameters.option_flags & _game_option_allow_unit_trading_flag);
    EXPECT_TRUE(game.parameters.option_flags & _game_option_allow_veterans_flag);
    EXPECT_EQ(game.parameters.pregame_time_limit, 900);
}

// A name of spaces disables OK; a visible letter enables it again.  Cancel
// after any edits gives back the description as it came.
TEST_F(network_game_dialogs, the_name_decides_ok_and_cancel_gives_back_the_game_unchanged)
{
    net_game_description game = demo_game();
    const net_game_description before = game;
    inspect([](dialog_data *dialog) {
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _ngp_accept_item));
        set_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, "");
        set_dialog_focus(dialog, _ngp_name_item);
    });
    const struct
    {
        int16_t key, ascii;
        bool enabled;
    } keys[] = {{_key_space, ' '}, {_key_x, 'x', true}};
    for (const auto &k : keys)
    {
        add_script_step(action_step(make_key_action(k.key, k.ascii)));
        const bool enabled = k.enabled;
        inspect([enabled](dialog_data *dialog) { EXPECT_EQ(bitmap_get_item_enabled(dialog, _ngp_accept_item), enabled); });
    }
    press(_ngp_cooperative_item);
    press(_ngp_teams_item);
    press(_ngp_cancel_item);
    EXPECT_FALSE(netgame_parameters_dialog(&game, 1, false, false));
    EXPECT_EQ(memcmp(&game, &before, sizeof(game)), 0);
    EXPECT_EQ(get_first_dialog(), nullptr);
}

// With one game Delete is off; with 32 Add is off; start hands out the
// selected game as the one being hosted.
TEST_F(network_game_dialogs, the_playlist_offers_add_and_delete_as_its_size_allows)
{
    const struct
    {
        int count;
        bool add, remove;
    } cases[] = {{1, true, false}, {2, true, true}, {MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES, false, true}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.count);
        store_playlist(c.count);
        const int count = c.count;
        const bool add = c.add, remove = c.remove;
        inspect([=](dialog_data *dialog) {
            ASSERT_EQ(dialog->tag, AUTOHOST_DIALOG_TAG);
            EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _autohost_list_item), count);
            EXPECT_EQ(bitmap_get_item_enabled(dialog, _autohost_add_item), add);
            EXPECT_EQ(bitmap_get_item_enabled(dialog, _autohost_delete_item), remove);
            bitmap_select_list_item(dialog, _autohost_list_item, (int16_t)(count - 1));
        });
        press(_autohost_start_item);
        net_game_description game = {};
        ASSERT_TRUE(open_autohost_dialog(&game, 2));
        EXPECT_EQ(std::string(game.name), "game " + std::to_string(count - 1));
        EXPECT_EQ(get_autohost_playlist_index(), count - 1);
        EXPECT_EQ(memcmp(get_current_autohosted_game_description(), &game, sizeof(game)), 0);
    }
}

// Edit (through the parameters dialog, where the host must observe), move
// and delete are all stored, though the player then cancels.
TEST_F(network_game_dialogs, the_playlist_keeps_its_edits_when_cancelled)
{
    store_playlist(3);
    press(_autohost_edit_item);
    inspect([](dialog_data *dialog) {
        ASSERT_EQ(dialog->tag, NETGAME_PARAMETERS_DIALOG_TAG);
        EXPECT_TRUE(get_checkbox_state(dialog, _ngp_observer_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _ngp_observer_item));
        set_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, "edited");
    });
    press(_ngp_accept_item);
    // The lower arrow moves the selected game up the list.
    inspect([](dialog_data *dialog) { bitmap_select_list_item(dialog, _autohost_list_item, 2); });
    auto lower_arrow = [](dialog_data *dialog) {
        rectangle2d bounds;
        get_dialog_item_bounds(dialog, _autohost_move_item, &bounds);
        return point2d{(int16_t)(dialog->bounds.left + bounds.left + 5), (int16_t)(dialog->bounds.top + bounds.bottom - 3)};
    };
    add_script_step(call_step(
        [lower_arrow](action_data &action) {
            const point2d at = lower_arrow(get_modal_dialog());
            action = make_click_action(at.x, at.y);
        },
        make_test_action()));
    add_script_step(call_step(
        [lower_arrow](action_data &action) {
            const point2d at = lower_arrow(get_modal_dialog());
            action = make_release_action(at.x, at.y);
        },
        make_test_action()));
    settle();
    inspect([](dialog_data *dialog) { bitmap_select_list_item(dialog, _autohost_list_item, 2); });
    press(_autohost_delete_item);
    press(_autohost_cancel_item);
    net_game_description game = {};
    EXPECT_FALSE(open_autohost_dialog(&game, 2));
    EXPECT_EQ(stored_playlist_names(), (std::vector<std::string>{"edited", "game 2"}));
}

// A stored playlist with a gap behind its first game: deleting that game must
// not leave the gap in front, where the record would read back as the defaults.
TEST_F(network_game_dialogs, deleting_the_first_game_before_a_gap_keeps_the_rest)
{
    store_playlist(3);
    preferences_globals *store = get_autohost_preferences_store();
    autohost_preferences *record = (autohost_preferences *)read_preferences_convert(store, nullptr);
    ASSERT_NE(record, nullptr);
    record->playlist[1].parameters.scenario_tag = (tag)NONE;
    ASSERT_TRUE(write_preferences(store));
    free_preferences(store);

    inspect([](dialog_data *dialog) { bitmap_select_list_item(dialog, _autohost_list_item, 0); });
    press(_autohost_delete_item);
    press(_autohost_cancel_item);
    net_game_description game = {};
    EXPECT_FALSE(open_autohost_dialog(&game, 2));
    EXPECT_EQ(stored_playlist_names(), (std::vector<std::string>{"game 2"}));
}

} // namespace netgame_parameters_dialog_test_file
