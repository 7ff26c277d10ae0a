// The dialogs over a running game and around its files, on the demo's
// dialogs and strings (data/, made by the data tool), worked through the
// real modal loop with scripted passes: the quit dialog's items per game
// type and its pause, the hints dialog's tips, unit trading's points and the
// counts it sends, the blood lock, the tag name
// dialog's refusals and the uniqueness of names, and the preferences
// dialog's game and sound panels over a sound output that plays nothing.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_tag_interface.h"
#include "commands.h"
#include "front_end_procedures.h"
#include "game_hints_dialog.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "ingame_dialog_support.h"
#include "gameplay_versions.h"
#include "monster_placement.h"
#include "no_blood_dialog.h"
#include "preferences_ui.h"
#include "quit_dialog.h"
#include "screen_preferences_page.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "sound/sound_preferences.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "support/fake_sound_output.h"
#include "support/scratch.h"
#include "tag_files/tag_files.h"
#include "unit_trading_dialog.h"

namespace ingame_dialogs_test_file {

namespace
{

class ingame_dialogs : public demo_interface_test
{
protected:
    std::vector<test_tag> strings; // the demo's string lists: tips, prompts, button names

    void SetUp() override
    {
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        ASSERT_TRUE(make_string_list_tags(tool, &strings));
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        initialize_game_preferences(false);
        game_->type = _game_type_local;
        game_->endgame_state = _endgame_unresolved;
        game_->flags &= ~(uint32_t)(_game_is_paused_flag | _game_is_over_flag);
        current_gameplay_version = 1811;
    }
    void store_interface_tags(void) override
    {
        for (const test_tag &t : strings)
            write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
    }
    void TearDown() override
    {
        dispose_quit_dialog();
        close_game_hints_dialog();
        dispose_unit_trading_dialog();
        game_->type = _game_type_local;
        game_->flags &= ~(uint32_t)(_game_is_paused_flag | _game_is_over_flag);
        demo_interface_test::TearDown();
    }

    static void type_into(int16_t item, const char *text)
    {
        inspect([=](dialog_data *dialog) { set_bitmap_dialog_edit_item_text(dialog, item, text); });
    }
};

TEST_F(ingame_dialogs, the_quit_dialog_shows_the_items_of_the_game_type_and_its_pause_balances)
{
    const struct
    {
        int16_t type;
        int32_t version;
        bool opens;
        std::vector<int16_t> shown;
    } cases[] = {
        {_game_type_replay, 1811, true, {1, 2, 9}},
        {_game_type_local, 1811, true, {1, 2, 3, 4, 5, 7, 9}},
        // Only the host may rehost or restart: a joiner, and every game at
        // 1720 or below, gets the information line instead.
        {_game_type_networked, 1811, true, {1, 2, 8, 9}},
        {_game_type_networked, 1720, true, {1, 2, 8, 9}},
        {_game_type_demo, 1811, false, {}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.type);
        game_->type = c.type;
        current_gameplay_version = c.version;
        EXPECT_FALSE(game_is_paused());
        ASSERT_EQ(open_quit_dialog(), c.opens);
        if (!c.opens)
        {
            EXPECT_FALSE(quit_dialog_is_open());
            continue;
        }
        std::vector<int16_t> shown;
        for (int16_t item = 1; item <= 9; ++item)
            if (bitmap_get_item_visible(get_quit_dialog(), item)) shown.push_back(item);
        EXPECT_EQ(shown, c.shown);
        EXPECT_FALSE(can_restart_or_rehost());
        if (c.type != _game_type_networked)
        {
            EXPECT_TRUE(game_is_paused());
        }
        close_quit_dialog();
        EXPECT_FALSE(quit_dialog_is_open());
        EXPECT_FALSE(game_is_paused());
    }
    // A game paused before the dialog stays paused after it.
    game_->type = _game_type_local;
    pause_game(true);
    ASSERT_TRUE(open_quit_dialog());
    close_quit_dialog();
    EXPECT_TRUE(game_is_paused());
    pause_game(false);
}

TEST_F(ingame_dialogs, the_quit_dialogs_resume_closes_and_no_other_ingame_dialog_opens_over_it)
{
    ASSERT_TRUE(quit_dialog_verb(_ingame_dialog_open, true));
    EXPECT_TRUE(quit_dialog_verb(_ingame_dialog_is_open, true));
    EXPECT_FALSE(open_game_hints_dialog(true));
    quit_dialog_handler_proc(get_quit_dialog(), _quit_dialog_resume_item, nullptr);
    EXPECT_FALSE(quit_dialog_is_open());
    EXPECT_FALSE(game_is_paused());
    // The hints dialog in turn keeps the quit dialog shut.
    ASSERT_TRUE(game_hints_dialog_verb(_ingame_dialog_open, true));
    EXPECT_FALSE(open_quit_dialog());
    EXPECT_TRUE(game_is_paused());
    game_hints_dialog_verb(_ingame_dialog_close, true);
    EXPECT_FALSE(game_is_paused());
}

TEST_F(ingame_dialogs, each_quit_dialog_item_reaches_its_procedure)
{
    const struct
    {
        int16_t type, item;
        bool game_over, state_change;
    } cases[] = {
        // Quit ends the game and asks for the state that follows it.
        {_game_type_local, _quit_dialog_quit_item, true, true},
        // No saved game: restore and restart ask to start the level again,
        // which this fixture (no level loaded) refuses; the game goes on.
        {_game_type_local, _quit_dialog_restore_item, false, false},
        {_game_type_local, _quit_dialog_restart_item, false, false},
        // A joiner may not rehost: the dialog only closes.
        {_game_type_networked, _quit_dialog_restore_item, false, false},
        {_game_type_local, _quit_dialog_resume_item, false, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.item);
        game_->type = c.type;
        game_->flags &= ~(uint32_t)_game_is_over_flag;
        clear_pending_game_state();
        ASSERT_TRUE(open_quit_dialog());
        quit_dialog_handler_proc(get_quit_dialog(), c.item, nullptr);
        EXPECT_FALSE(quit_dialog_is_open());
        EXPECT_FALSE(game_is_paused());
        EXPECT_EQ((game_->flags & _game_is_over_flag) != 0, c.game_over);
        int16_t next = NONE;
        EXPECT_EQ(game_state_change_pending(&next), c.state_change);
    }
    clear_pending_game_state();
}

TEST_F(ingame_dialogs, game_tips_step_around_both_ways_and_none_disable_the_step)
{
    const struct
    {
        int32_t index, count;
        bool backward;
        int32_t expected;
    } steps[] = {{0, 5, false, 1}, {4, 5, false, 0}, {0, 5, true, 4}, {3, 5, true, 2}, {0, 0, false, 0}, {0, 0, true, 0}};
    for (const auto &s : steps) EXPECT_EQ(step_game_tip_index(s.index, s.count, s.backward), s.expected);

    // The demo's tips: five, the stored index past the last is brought back to it.
    get_game_preferences()->current_tip_index = 40;
    ASSERT_TRUE(open_game_hints_dialog(false));
    char text[64];
    get_bitmap_dialog_static_item_text(get_game_hints_dialog(), _game_hints_tip_number_item, text, sizeof(text));
    EXPECT_STREQ(text, "5 / 5");
    game_hints_dialog_handler_proc(get_game_hints_dialog(), _game_hints_next_tip_item, nullptr);
    get_bitmap_dialog_static_item_text(get_game_hints_dialog(), _game_hints_tip_number_item, text, sizeof(text));
    EXPECT_STREQ(text, "1 / 5");
    game_hints_dialog_handler_proc(get_game_hints_dialog(), _game_hints_done_item, nullptr);
    EXPECT_FALSE(game_hints_dialog_is_open());
    EXPECT_EQ(get_game_preferences()->current_tip_index, 0);
}

// The arithmetic counted afresh: the points are the tradable units' worth at
// opening less the worth chosen; a count may rise to what the points left
// buy, never past its most, and a free unit always to its most.
TEST_F(ingame_dialogs, unit_trading_counts_its_points_and_maxima_and_sends_the_counts_chosen)
{
    const monster_placement types[] = {
        {_monster_placement_tradable_flag, 0, 10, 4, 1, 6, 3},
        {_monster_placement_tradable_flag, 1, 11, 2, 0, 5, 2},
        {_monster_placement_tradable_flag, 2, 12, 1, 0, 3, 0}, // free
        {0, 3, 13, 5, 5, 5, 9}, // not tradable: hidden, sent as it is
    };
    const int16_t count = (int16_t)std::size(types);
    const auto open = [&] {
        auto *copy = (monster_placement *)malloc(sizeof(types));
        memcpy(copy, types, sizeof(types));
        ASSERT_TRUE(open_unit_trading_dialog_with(copy, count));
    };
    ASSERT_TRUE(initialize_commands());
    ASSERT_TRUE(initialize_commands_for_new_map());
    game_->time_state = _game_time_pregame;
    ASSERT_NO_FATAL_FAILURE(open());
    dialog_data *dialog = get_unit_trading_dialog();
    for (int16_t item = 24; item <= 43; ++item) EXPECT_FALSE(bitmap_get_item_visible(dialog, item)) << item;
    EXPECT_TRUE(bitmap_get_item_visible(dialog, 23));

    const auto count_item = [](int16_t k) { return (int16_t)(15 + 4 * k); };
    const std::vector<std::vector<int16_t>> choices = {
        {4, 2, 1}, {1, 2, 1}, {1, 5, 1}, {1, 5, 3}, {4, 2, 3}, {5, 0, 3},
    };
    int32_t total = 0;
    for (int16_t k = 0; k < 3; ++k) total += types[k].count * types[k].cost_per_unit;
    for (const auto &values : choices)
    {
        SCOPED_TRACE(::testing::PrintToString(values));
        // As a player would: the counts that fall first, then those that rise.
        for (const bool rising : {false, true})
            for (int16_t k = 0; k < 3; ++k)
            {
                double_arrow_control_data *arrows = get_double_arrow_control_data(dialog, count_item(k));
                ASSERT_NE(arrows, nullptr);
                if ((values[(size_t)k] > arrows->value) != rising) continue;
                set_double_arrow_control_value(dialog, count_item(k), -1, -1, values[(size_t)k]);
                ASSERT_NE(arrows->value_listener, nullptr);
                arrows->value_listener(dialog, count_item(k));
            }
        int32_t left = total;
        for (int16_t k = 0; k < 3; ++k) left -= values[(size_t)k] * types[k].cost_per_unit;
        char text[64], expected[64];
        snprintf(expected, sizeof(expected), "Points left: %d", (int)left);
        get_bitmap_dialog_static_item_text(dialog, _unit_trading_points_left_item, text, sizeof(text));
        EXPECT_STREQ(text, expected);
        for (int16_t k = 0; k < 3; ++k)
        {
            const int32_t most = types[k].cost_per_unit == 0
                                     ? types[k].maximum_count
                                     : std::min<int32_t>(types[k].maximum_count,
                                                         values[(size_t)k] + left / types[k].cost_per_unit);
            EXPECT_EQ(get_double_arrow_control_data(dialog, count_item(k))->maximum, most) << k;
            EXPECT_EQ(get_double_arrow_control_value(dialog, count_item(k)), values[(size_t)k]) << k;
        }
    }

    // Reset, then OK: the counts leave as one command, the hidden type's own included.
    unit_trading_dialog_handler_proc(dialog, _unit_trading_reset_item, nullptr);
    set_double_arrow_control_value(dialog, count_item(0), -1, -1, 2);
    get_double_arrow_control_data(dialog, count_item(0))->value_listener(dialog, count_item(0));
    unit_trading_dialog_handler_proc(dialog, _unit_trading_accept_item, nullptr);
    EXPECT_FALSE(unit_trading_dialog_is_open());
    const auto sent_counts = [] {
        std::vector<int16_t> counts;
        command_header *command = dequeue_outgoing_command();
        if (!command) return std::vector<int16_t>{-1};
        command_codec_state state;
        command_decode_new(&state, command, _command_unit_adjustment);
        const auto *data = (const command_unit_adjustment_data *)command_decode_data(
            &state, sizeof(command_unit_adjustment_data), command_unit_adjustment_data_byte_swapping_data);
        int16_t n = 0;
        const auto *values = (const int16_t *)command_decode_array(&state, &n, sizeof(int16_t),
                                                                   unit_adjustment_count_byte_swapping_data);
        if (!data || data->flags != _unit_adjustment_from_trading_flag) return std::vector<int16_t>{-2};
        for (int16_t i = 0; i < n; ++i) counts.push_back(values[i]);
        return counts;
    };
    EXPECT_EQ(sent_counts(), (std::vector<int16_t>{2, 2, 1, 5}));

    // Cancel sends nothing; the clock starting sends what is shown.
    ASSERT_NO_FATAL_FAILURE(open());
    unit_trading_dialog_handler_proc(get_unit_trading_dialog(), _unit_trading_cancel_item, nullptr);
    EXPECT_EQ(dequeue_outgoing_command(), nullptr);
    ASSERT_NO_FATAL_FAILURE(open());
    rectangle2d bounds;
    EXPECT_TRUE(unit_trading_dialog_visible(&bounds));
    EXPECT_EQ(bounds.top, 0) << "no status bar: the top of the screen";
    unit_trading_dialog_handler_proc(get_unit_trading_dialog(), NONE, nullptr);
    EXPECT_TRUE(unit_trading_dialog_is_open()) << "the clock has not started";
    game_->time_state = _game_time_no_countdown;
    unit_trading_dialog_handler_proc(get_unit_trading_dialog(), NONE, nullptr);
    EXPECT_FALSE(unit_trading_dialog_visible(&bounds));
    EXPECT_EQ(sent_counts(), (std::vector<int16_t>{4, 2, 1, 5}));
    dispose_commands_from_old_map();
}

TEST_F(ingame_dialogs, the_blood_lock_takes_two_empty_fields_and_the_unlock_only_the_password)
{
    strcpy(get_game_preferences()->no_blood_password, "old");
    restart_main_loop_script();
    // Two different entries are refused and cleared; two empty ones lock.
    type_into(_no_blood_password_item, "one");
    type_into(_no_blood_confirmation_item, "two");
    press(_no_blood_ok_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        char text[NO_BLOOD_PASSWORD_SIZE];
        get_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, text, sizeof(text));
        EXPECT_STREQ(text, "");
    });
    press(_no_blood_ok_item);
    EXPECT_TRUE(lock_no_blood_dialog());
    EXPECT_STREQ(get_game_preferences()->no_blood_password, "");

    strcpy(get_game_preferences()->no_blood_password, "Secret");
    restart_main_loop_script();
    type_into(_no_blood_password_item, "secret");
    press(_no_blood_ok_item);
    type_into(_no_blood_password_item, "Secret");
    press(_no_blood_ok_item);
    EXPECT_TRUE(unlock_no_blood_dialog());

    restart_main_loop_script();
    press(_no_blood_cancel_item);
    EXPECT_FALSE(unlock_no_blood_dialog());
}

TEST_F(ingame_dialogs, names_with_separators_control_characters_or_dots_are_refused)
{
    // `refusal`: what the name dialog says beside its greyed Save.
    const struct
    {
        const char *name;
        bool accepted, safe;
        const char *refusal;
    } names[] = {
        {"Valley 1", true, true, nullptr},
        {"a/b", true, false, "A name cannot hold \"/\" or \"\\\"."},
        {"a\\b", true, false, "A name cannot hold \"/\" or \"\\\"."},
        {"a\x01z", true, false, "A name cannot hold a control character."},
        {"..", false, false, "A name cannot begin with \".\"."},
        {".", false, false, "A name cannot begin with \".\"."},
        {".x", false, true, "A name cannot begin with \".\"."},
        {"../../outside.new", false, false, "A name cannot begin with \".\"."},
        {"   ", false, true, "Type a name."},
        {"", false, false, "Type a name."},
        {"0123456789012345678901234567890", true, true, nullptr},
        {"01234567890123456789012345678901", true, false, "A name has at most 31 characters."},
    };
    for (const auto &n : names)
    {
        SCOPED_TRACE(n.name);
        EXPECT_EQ(tag_name_may_be_accepted(n.name, nullptr), n.accepted);
        EXPECT_EQ(tag_name_is_safe(n.name), n.safe);
        EXPECT_STREQ(tag_name_refusal(n.name, nullptr), n.refusal);
    }
    EXPECT_FALSE(tag_name_may_be_accepted("Last Game", "Last Game"));
    EXPECT_STREQ(tag_name_refusal("Last Game", "Last Game"), "Choose another name.");
}

TEST_F(ingame_dialogs, the_put_dialog_refuses_a_path_and_names_differing_in_case_are_one_past_2048_tags)
{
    // Each name's first four characters are its subgroup, all below "Save"'s:
    // the store lists "Save" last, past the 2048 tags an early scan stopped at.
    for (int i = 0; i < 2100; ++i)
    {
        char name[32];
        snprintf(name, sizeof(name), "%04d game", i);
        ASSERT_NE(tag_file_new(SAVED_GAME_GROUP_TAG, name, 1), NONE);
    }
    ASSERT_NE(tag_file_new(SAVED_GAME_GROUP_TAG, "Save", 1), NONE);
    ASSERT_TRUE(tag_files_flush());
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = SAVED_GAME_GROUP_TAG;
    std::vector<int32_t> listed(2101);
    ASSERT_EQ(tag_file_enumerate(&filter, listed.data(), 2101), 2101);
    EXPECT_STREQ(tag_file_name_get(listed[2100]), "Save");
    EXPECT_EQ(find_tag_named_ignoring_case(SAVED_GAME_GROUP_TAG, "save"), listed[2100]);
    EXPECT_EQ(find_tag_named_ignoring_case(SAVED_GAME_GROUP_TAG, "saved"), NONE);

    restart_main_loop_script();
    // "save" is "Save": the replace question comes, and is declined.
    type_into(_tag_dialog_name_item, "save");
    press(_tag_dialog_ok_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, TAG_REPLACE_DIALOG_TAG);
    });
    press(_tag_dialog_cancel_item);
    // A path is refused and the dialog stays, saying why under the list.
    type_into(_tag_dialog_name_item, "../../outside.new");
    press(_tag_dialog_ok_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, TAG_PUT_DIALOG_TAG);
        EXPECT_FALSE(bitmap_get_item_enabled(dialog, _tag_dialog_ok_item));
        char reason[64];
        EXPECT_STREQ(get_bitmap_dialog_static_item_text(dialog, _tag_dialog_reason_item, reason, sizeof(reason)),
                     "A name cannot begin with \".\".");
    });
    type_into(_tag_dialog_name_item, "Fresh Save");
    press(_tag_dialog_ok_item);
    int32_t made = bitmap_standard_put_tag("", SAVED_GAME_GROUP_TAG, "Untitled", 1, nullptr);
    ASSERT_NE(made, NONE);
    EXPECT_STREQ(tag_file_name_get(made), "Fresh Save");

    // A rename to a free name renames; the film dialogs reach it through their table member.
    int32_t renamed = made;
    restart_main_loop_script();
    type_into(_tag_dialog_name_item, "Older Save");
    press(_tag_dialog_ok_item);
    ASSERT_TRUE(rename_tag_from_dialog(&renamed));
    EXPECT_STREQ(tag_file_name_get(renamed), "Older Save");
    made = renamed;

    // The deletion asks first.
    restart_main_loop_script();
    press(_tag_dialog_cancel_item);
    EXPECT_FALSE(confirm_tag_deletion(made));
    restart_main_loop_script();
    press(_tag_dialog_ok_item);
    EXPECT_TRUE(confirm_tag_deletion(made));
}

// The preferences dialog over the demo's '!prf' with the sound manager on a
// fake output.
class preferences_dialog : public ingame_dialogs
{
protected:
    void SetUp() override
    {
        ingame_dialogs::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        ASSERT_TRUE(initialize_sound_definitions());
        initialize_sound_definitions_for_new_map();
        reset_fake_sound_output();
        set_sound_manager_platform_for_tests(&fake_sound_output_impl);
        default_sound_preferences(get_sound_preferences());
        ASSERT_TRUE(initialize_sound_manager());
        initialize_sound_manager_for_new_map();
    }
    void TearDown() override
    {
        if (set_up)
        {
            dispose_sound_manager();
            set_sound_manager_platform_for_tests(nullptr);
            dispose_sound_definitions_from_old_map();
            dispose_sound_definitions();
        }
        ingame_dialogs::TearDown();
    }

    static void move_volume(int32_t value)
    {
        inspect([=](dialog_data *dialog) {
            // What the dialog's loop does when the thumb is let go.
            set_slider_value(dialog, _preferences_volume_item, value);
            sound_preferences_panel_handler(dialog, _preferences_panel_item_hit, _preferences_volume_item);
        });
    }
};

TEST_F(preferences_dialog, the_volume_applies_at_once_and_cancel_restores_it)
{
    restart_main_loop_script();
    move_volume(64);
    inspect([](dialog_data *) { EXPECT_EQ(get_sound_preferences()->master_volume, 64); });
    press(_preferences_cancel_item);
    handle_preferences_dialog();
    EXPECT_EQ(get_sound_preferences()->master_volume, 256);
    EXPECT_FALSE(get_sound_mute());
}

TEST_F(ingame_dialogs, a_dialog_whose_own_background_art_is_missing_keeps_the_shared_one_without_an_error)
{
    dialog_data *dialog = new_dialog_if_present(QUIT_DIALOG_TAG, "quit", nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    const int16_t shared = dialog->background_collection_index;
    set_dialog_background_from(dialog, FOUR_CHARACTER_CODE('z', 'z', 'z', 'z'), 0);
    EXPECT_EQ(dialog->background_collection_index, shared);
    EXPECT_EQ(pending_error_code(), 0);
    dispose_dialog(dialog);
}

TEST_F(preferences_dialog, ok_with_no_sound_system_reboots_silent_and_writes_the_game_flags)
{
    get_game_preferences()->flags |= _game_pref_alternate_metaserver_ui_flag | _game_pref_show_subtitles_flag;
    restart_main_loop_script();
    inspect([](dialog_data *dialog) {
        // A dialog without item 42 clears its flag; the subtitles box is turned off.
        delete_control(dialog, _preferences_alternate_lobby_item);
        set_checkbox_state(dialog, _preferences_subtitles_item, false);
        set_button_control_state(dialog, _preferences_sound_system_item, 1);
    });
    press(_preferences_ok_item);
    handle_preferences_dialog();
    EXPECT_EQ(get_sound_preferences()->provider_id, _sound_provider_none);
    EXPECT_TRUE(get_sound_mute());
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_alternate_metaserver_ui_flag);
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_show_subtitles_flag);
}

TEST_F(preferences_dialog, the_blood_button_unlocks_without_a_password_and_locks_through_its_dialog)
{
    get_game_preferences()->flags |= _game_pref_censored_flag;
    get_game_preferences()->no_blood_password[0] = 0;
    restart_main_loop_script();
    press(_preferences_blood_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, PREFERENCES_DIALOG_TAG);
        EXPECT_FALSE(get_game_preferences()->flags & _game_pref_censored_flag);
    });
    // Censoring again asks for a password: two empty fields lock.
    press(_preferences_blood_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, NO_BLOOD_LOCK_DIALOG_TAG);
    });
    press(_no_blood_ok_item);
    inspect([](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->tag, PREFERENCES_DIALOG_TAG);
        EXPECT_TRUE(get_game_preferences()->flags & _game_pref_censored_flag);
    });
    press(_preferences_cancel_item);
    handle_preferences_dialog();
}

} // namespace

} // namespace ingame_dialogs_test_file
