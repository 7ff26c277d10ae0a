// The load and save dialogs and the film manager, opened from the demo's
// stand-in dialog tags (data/interface/dialogs, made by the data tool) and
// driven through the real modal loop with scripted passes that press items
// as the player would.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/tag_list_control.h"
#include "cseries/registration.h"
#include "film_dialogs.h"
#include "front_end_procedures.h"
#include "recording.h"
#include "recording_format.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "tag_files/tag_files.h"

namespace film_dialogs_test_file {

namespace
{

class film_dialogs : public dialog_input_test
{
protected:
    void SetUp() override
    {
        dialog_input_test::SetUp();
        if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
        const std::vector<test_tag> *demo = demo_map_tags();
        ASSERT_NE(demo, nullptr);
        // Only the three dialogs: the rest of the interface is not needed to run them.
        for (const test_tag &t : *demo)
        {
            if (t.group_tag != DIALOG_GROUP_TAG) continue;
            if (t.subgroup_tag != LOAD_GAME_DIALOG_TAG && t.subgroup_tag != SAVE_GAME_DIALOG_TAG &&
                t.subgroup_tag != REPLAY_DIALOG_TAG)
                continue;
            write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(),
                            (int32_t)t.data.size());
        }
        reset_film_dialogs();
        deletions_confirmed = true;
        replacement_confirmed = true;
        static const front_end_procedures front_end = {.sure_you_want_to_delete = confirm_delete,
                                                       .rename_tag = rename_to_renamed,
                                                       .unique_name_or_desires_replacement = confirm_replace};
        register_front_end_procedures(&front_end);
    }

    void TearDown() override
    {
        reset_film_dialogs();
        dialog_input_test::TearDown();
    }

    static bool deletions_confirmed, replacement_confirmed;
    static bool confirm_delete(int32_t) { return deletions_confirmed; }
    static bool confirm_replace(tag, const char *) { return replacement_confirmed; }
    static bool rename_to_renamed(int32_t *tag_index) { return tag_file_name_set(tag_index, "renamed"); }

    // A film or saved game whose header reads; its map is not in the store.
    int32_t make_film(tag group, const char *name, int16_t type = _normal_recording_type, int16_t game_type = 2,
                      tag map = FOUR_CHARACTER_CODE('n', 'o', 'n', 'e'), int16_t scoring = 0)
    {
        const int32_t tag_index = tag_file_new(group, name, RECORDING_VERSION_NUMBER);
        EXPECT_NE(tag_index, NONE);
        new_game_data game = {};
        game.parameters.type = game_type;
        game.parameters.scoring = scoring;
        game.parameters.scenario_tag = map;
        game.local_player_index = NONE;
        int32_t index = tag_index;
        const int32_t snapshot_length = type == _saved_game_recording_type ? SAVE_GAME_HEADER_SIZE : 0;
        EXPECT_TRUE(write_recording_header(&index, type, &game, 300, 0, 0, snapshot_length));
        if (snapshot_length > 0)
        {
            const std::vector<uint8_t> zeros((size_t)snapshot_length, 0);
            EXPECT_TRUE(tag_file_write(&index, RECORDING_FILE_HEADER_SIZE, snapshot_length, zeros.data()));
        }
        return index;
    }

    // Passes that run `work` on the modal dialog, then let a press complete.
    static script_step on_dialog(std::function<void(dialog_data *)> work)
    {
        return call_step([work](action_data &) { work(get_modal_dialog()); }, make_test_action());
    }
    static void press(int16_t item)
    {
        add_script_step(on_dialog([item](dialog_data *dialog) { press_item(dialog, nullptr, item); }));
        for (int i = 0; i < 4; ++i) add_script_step(action_step(make_test_action()));
    }
    static void inspect(std::function<void(dialog_data *)> work) { add_script_step(on_dialog(work)); }
};
bool film_dialogs::deletions_confirmed = true;
bool film_dialogs::replacement_confirmed = true;

// ---- the film manager ---------------------------------------------------------------------------

TEST_F(film_dialogs, the_film_manager_without_films_offers_only_done)
{
    bool looked = false;
    inspect([&](dialog_data *dialog) {
        looked = true;
        EXPECT_EQ(dialog->tag, REPLAY_DIALOG_TAG);
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_play_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_delete_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_rename_item));
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_play_last_item)); // no last recording
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_save_last_item));
        EXPECT_FALSE(bitmap_get_item_visible(dialog, _replay_description_item));
        EXPECT_FALSE(bitmap_get_item_visible(dialog, _replay_players_item));
    });
    press(_replay_done_item);
    new_game_data data = {};
    EXPECT_FALSE(replay_manager(&data));
    EXPECT_TRUE(looked);
    EXPECT_STREQ(get_begin_replay_button_name(), "Play");
    EXPECT_EQ(get_first_dialog(), nullptr); // disposed
}

TEST_F(film_dialogs, a_film_whose_map_is_missing_cannot_be_played_and_deleting_selects_the_row_above)
{
    make_film(RECORDING_GROUP_TAG, "older");
    make_film(RECORDING_GROUP_TAG, "newer");
    std::string deleted;
    make_film(SAVED_GAME_GROUP_TAG, "a save", _saved_game_recording_type); // not a film: not listed
    inspect([&](dialog_data *dialog) {
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _replay_list_item), 2);
        EXPECT_EQ(bitmap_get_listbox_value(dialog, _replay_list_item), -1); // none remembered yet
        bitmap_select_list_item(dialog, _replay_list_item, 1);
        setup_replay_dialog_to_match_header(dialog);
        deleted = tag_file_name_get(get_tag_list_selected_header(dialog, _replay_list_item));
        EXPECT_TRUE(bitmap_get_item_visible(dialog, _replay_description_item));
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _replay_delete_item));
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _replay_rename_item));
        // The map is not here and no plug-in is missing: nothing to find.
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _replay_play_item));
        char name[64];
        get_button_control_name(dialog, _replay_play_item, name, sizeof(name));
        EXPECT_STREQ(name, "Find Plugins");
    });
    press(_replay_delete_item);
    inspect([&](dialog_data *dialog) {
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _replay_list_item), 1);
        EXPECT_EQ(bitmap_get_listbox_value(dialog, _replay_list_item), 0);
        EXPECT_NE(get_tag_list_selected_header(dialog, _replay_list_item), NONE);
    });
    press(_replay_play_item); // disabled: nothing happens
    press(_replay_done_item);
    new_game_data data = {};
    EXPECT_FALSE(replay_manager(&data));
    EXPECT_EQ(tag_file_find_by_name(RECORDING_GROUP_TAG, deleted.c_str()), NONE);
    EXPECT_NE(tag_file_find_by_name(RECORDING_GROUP_TAG, deleted == "older" ? "newer" : "older"), NONE);

    // The selected row is remembered for the next opening.
    inspect([](dialog_data *dialog) { EXPECT_EQ(bitmap_get_listbox_value(dialog, _replay_list_item), 0); });
    press(_replay_done_item);
    EXPECT_FALSE(replay_manager(&data));
}

// A film asking for a scoring its map does not offer (the preference's) is
// described by the scoring the game played: the map's own.
TEST_F(film_dialogs, a_films_description_names_the_scoring_its_map_played)
{
    std::vector<test_tag> map;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "skirmish_hill.map", "skir", &map));
    for (const test_tag &t : map)
        write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
    make_film(RECORDING_GROUP_TAG, "hill", _normal_recording_type, 2, FOUR_CHARACTER_CODE('s', 'k', 'i', 'r'), 2);
    int16_t described = NONE;
    inspect([&](dialog_data *dialog) {
        bitmap_select_list_item(dialog, _replay_list_item, 0);
        setup_replay_dialog_to_match_header(dialog);
        const game_extra_data *record = (const game_extra_data *)get_dialog_item_extra_data(dialog, _replay_description_item);
        described = record->game.parameters.scoring;
    });
    press(_replay_done_item);
    new_game_data data = {};
    EXPECT_FALSE(replay_manager(&data));
    EXPECT_EQ(described, 0) << "Skirmish Hill offers scoring 0 alone";
}

TEST_F(film_dialogs, nothing_is_deleted_without_the_players_confirmation_and_rename_keeps_the_selection)
{
    make_film(RECORDING_GROUP_TAG, "only");
    deletions_confirmed = false;
    inspect([](dialog_data *dialog) {
        bitmap_select_list_item(dialog, _replay_list_item, 0);
        setup_replay_dialog_to_match_header(dialog);
    });
    press(_replay_delete_item);
    press(_replay_rename_item);
    inspect([](dialog_data *dialog) {
        const int32_t selected = get_tag_list_selected_header(dialog, _replay_list_item);
        ASSERT_NE(selected, NONE);
        EXPECT_STREQ(tag_file_name_get(selected), "renamed");
    });
    press(_replay_done_item);
    new_game_data data = {};
    EXPECT_FALSE(replay_manager(&data));
    EXPECT_NE(tag_file_find_by_name(RECORDING_GROUP_TAG, "renamed"), NONE);
}

// ---- the load dialog ---------------------------------------------------------------------------------

TEST_F(film_dialogs, the_load_dialog_returns_the_chosen_saved_game_or_none)
{
    const int32_t first = make_film(SAVED_GAME_GROUP_TAG, "first", _saved_game_recording_type);
    make_film(RECORDING_GROUP_TAG, "a film"); // not a saved game: not listed
    int32_t chosen = NONE;
    inspect([&](dialog_data *dialog) {
        EXPECT_EQ(dialog->tag, LOAD_GAME_DIALOG_TAG);
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _load_game_list_item), 1);
        chosen = get_tag_list_selected_header(dialog, _load_game_list_item);
        EXPECT_TRUE(bitmap_get_item_enabled(dialog, _load_game_ok_item));
        // The date sits 8 pixels below the snapshot, 16 high and 160 wide.
        rectangle2d snapshot, date;
        get_dialog_item_bounds(dialog, _load_game_snapshot_item, &snapshot);
        get_dialog_item_bounds(dialog, _load_game_date_item, &date);
        EXPECT_EQ(date.top, snapshot.bottom + 8);
        EXPECT_EQ(date.bottom - date.top, 16);
        EXPECT_EQ(date.right - date.left, 160);
        // The chosen game's map under the date: this one's is installed nowhere.
        rectangle2d map;
        get_dialog_item_bounds(dialog, _load_game_map_item, &map);
        EXPECT_EQ(map.top, date.bottom + LOAD_GAME_MAP_GAP);
        char text[64];
        EXPECT_STREQ(get_bitmap_dialog_static_item_text(dialog, _load_game_map_item, text, sizeof(text)),
                     "map 'none' (not installed)");
    });
    press(_load_game_ok_item);
    EXPECT_EQ(select_game_to_load_dialog(), first);
    EXPECT_EQ(chosen, first);

    press(_load_game_cancel_item);
    EXPECT_EQ(select_game_to_load_dialog(), NONE);

    // Deleting the only game empties the list and disables OK.
    press(_load_game_delete_item);
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, _load_game_list_item), 0);
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _load_game_ok_item));
    });
    press(_load_game_cancel_item);
    EXPECT_EQ(select_game_to_load_dialog(), NONE);
    EXPECT_EQ(tag_file_find_by_name(SAVED_GAME_GROUP_TAG, "first"), NONE);
}

// ---- the save dialog --------------------------------------------------------------------------------

TEST_F(film_dialogs, the_save_dialog_needs_a_visible_name_and_asks_before_replacing)
{
    char name[SAVE_GAME_NAME_LENGTH + 1] = "untouched";
    // Cancel: false, nothing chosen.
    press(_save_game_cancel_item);
    EXPECT_EQ(save_game_dialog("Saved game", nullptr, 0, 0, 0, name, sizeof(name)), _saved_game_name_cancelled);
    EXPECT_STREQ(name, "");

    // Only blanks: OK is disabled and does nothing.
    inspect([](dialog_data *dialog) {
        EXPECT_EQ(dialog->tag, SAVE_GAME_DIALOG_TAG);
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _save_game_ok_item));
    });
    press(_save_game_ok_item);
    press(_save_game_cancel_item);
    EXPECT_EQ(save_game_dialog("   ", nullptr, 0, 0, 0, name, sizeof(name)), _saved_game_name_cancelled);

    // A new name is handed back, cut to the caller's buffer.
    press(_save_game_ok_item);
    char small[5];
    EXPECT_EQ(save_game_dialog("Castle siege", nullptr, 0, 0, 0, small, sizeof(small)), _saved_game_name_chosen);
    EXPECT_STREQ(small, "Cast");

    // An existing name: declined, the dialog stays; picking a game copies its name.
    const int32_t existing = make_film(SAVED_GAME_GROUP_TAG, "keep me", _saved_game_recording_type);
    replacement_confirmed = false;
    press(_save_game_ok_item);
    inspect([](dialog_data *dialog) {
        EXPECT_NE(dialog, nullptr); // still open
        char text[64];
        get_bitmap_dialog_edit_item_text(dialog, _save_game_name_item, text, sizeof(text));
        EXPECT_STREQ(text, "keep me");
    });
    press(_save_game_cancel_item);
    EXPECT_EQ(save_game_dialog("keep me", nullptr, 0, 0, 0, name, sizeof(name)), _saved_game_name_cancelled);
    EXPECT_EQ(tag_file_find_by_name(SAVED_GAME_GROUP_TAG, "keep me"), existing);

    // Accepted: the old game makes way for the new one.
    replacement_confirmed = true;
    inspect([](dialog_data *dialog) {
        bitmap_select_list_item(dialog, _save_game_list_item, 0);
        set_bitmap_dialog_edit_item_text(dialog, _save_game_name_item, "");
        set_modal_item_hit(_save_game_list_item); // as a click on the row does
    });
    add_script_step(action_step(make_test_action()));
    press(_save_game_ok_item);
    EXPECT_EQ(save_game_dialog("", nullptr, 0, 0, 0, name, sizeof(name)), _saved_game_name_chosen);
    EXPECT_STREQ(name, "keep me");
    // Not deleted by the dialog: the new saved game replaces it when made.
    EXPECT_EQ(tag_file_find_by_name(SAVED_GAME_GROUP_TAG, "keep me"), existing);
}

TEST_F(film_dialogs, a_missing_dialog_tag_is_reported_and_the_game_goes_on)
{
    for (file_tag dialog : {LOAD_GAME_DIALOG_TAG, SAVE_GAME_DIALOG_TAG, REPLAY_DIALOG_TAG})
        ASSERT_TRUE(tag_file_delete(tag_file_open(DIALOG_GROUP_TAG, dialog)));
    char name[8];
    EXPECT_EQ(save_game_dialog("x", nullptr, 0, 0, 0, name, sizeof(name)), _saved_game_name_dialog_failed);
    EXPECT_EQ(select_game_to_load_dialog(), NONE);
    new_game_data data = {};
    EXPECT_FALSE(replay_manager(&data));
    EXPECT_EQ(script_passes(), 0);
}

} // namespace

} // namespace film_dialogs_test_file
