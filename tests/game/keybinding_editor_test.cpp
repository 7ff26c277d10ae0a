// The key-binding editor's logic without a window: key names to codes,
// duplicate keys blocking OK and set switching, set round trips through the
// items, OK writing "input" and Cancel discarding every set, the bounded
// duplicate message, and the layouts of the editor and the on-screen list.

#include "tag_files/store_fixture.h"

#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "cseries/registration.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "cseries/errors.h"
#include "keybinding_dialogs.h"
#include "tag_files/preferences.h"
#include "vesk/string_lists.h"

namespace keybinding_editor_test_file {

namespace {

// Control indexes of the default right-handed set and their places in the
// configurable list.
constexpr int16_t FORWARD = 8, BACKWARD = 9, ROTATE_PRESET = 19;
constexpr int16_t FORWARD_ROW = 0, BACKWARD_ROW = 1, ROTATE_PRESET_ROW = 11;

class keybinding_editor : public store_fixture::store_test
{
protected:
    virtual bool with_action_names(void) const { return true; }

    void write_list(const char *subgroup, const std::vector<std::string> &rows)
    {
        std::vector<const char *> texts;
        for (const std::string &row : rows) texts.push_back(row.c_str());
        std::vector<uint8_t> bytes((size_t)encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0));
        encode_string_list_data(texts.data(), (int32_t)texts.size(), bytes.data(), (int32_t)bytes.size());
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    void SetUp() override
    {
        store_test::SetUp();
        std::vector<std::string> keys, actions;
        for (int i = 0; i < NUMBER_OF_KEYBOARD_DEVICE_CODES; i++) keys.push_back("K" + std::to_string(i));
        keys[_keypad_9] = keys[_keypad_8] = "Pad"; // two keys with one name: the later code wins
        for (int i = 0; i < 54; i++) actions.push_back("action " + std::to_string(i));
        actions.push_back("formation");
        write_list("inkn", keys);
        if (with_action_names()) write_list("inan", actions);
        write_list("inps", {"%s is taken by %s as well as %s"});
        start_store();
        ASSERT_TRUE(initialize_input_definition());
    }

    void TearDown() override
    {
        dispose_string_lists();
        store_test::TearDown();
    }

    static std::string key_name(int16_t code)
    {
        return "K" + std::to_string(code);
    }
    static void type_key(key_binding_editor &editor, int16_t row, const std::string &text)
    {
        strlcpy(editor.items.key_texts[row], text.c_str(), sizeof(editor.items.key_texts[row]));
    }
    static int16_t hit(key_binding_editor &editor, int16_t item)
    {
        return key_binding_editor_item_hit(&editor, item);
    }
    static input_definitions_data stored(void)
    {
        input_definitions_data record;
        load_input_definitions(record.sets, record.mouse_sets, &record.keyboard_layout);
        return record;
    }
};

TEST_F(keybinding_editor, key_texts_match_names_and_unknown_texts_leave_the_binding)
{
    const int32_t keys = string_list_tag_to_string_index(KEY_NAME_STRING_LIST_TAG);
    EXPECT_EQ(find_key_code_by_name(keys, "K30"), 30);
    EXPECT_EQ(find_key_code_by_name(keys, "Pad"), _keypad_9);
    EXPECT_EQ(find_key_code_by_name(keys, "k30"), NONE);
    EXPECT_EQ(find_key_code_by_name(keys, ""), NONE);
    EXPECT_EQ(find_key_code_by_name(keys, nullptr), NONE);

    key_binding_editor editor;
    ASSERT_TRUE(open_key_binding_editor(&editor));
    EXPECT_EQ(editor.items.count, 32);
    EXPECT_EQ(editor.items.controls[FORWARD_ROW], FORWARD);
    EXPECT_EQ(std::string(editor.items.key_texts[FORWARD_ROW]), key_name(_key_w));
    type_key(editor, FORWARD_ROW, "no such key");
    type_key(editor, BACKWARD_ROW, "Pad");
    EXPECT_EQ(hit(editor, iKEY + 2 * FORWARD_ROW), _key_binding_editor_stays);
    EXPECT_EQ(editor.sets[0].controls[FORWARD].code, _key_w);
    EXPECT_EQ(editor.sets[0].controls[BACKWARD].code, _keypad_9);
    EXPECT_TRUE(editor.items.ok_enabled);
}

TEST_F(keybinding_editor, two_actions_on_one_key_disable_ok_and_block_switching_sets)
{
    const input_definitions_data before = stored();
    key_binding_editor editor;
    ASSERT_TRUE(open_key_binding_editor(&editor));
    type_key(editor, BACKWARD_ROW, key_name(_key_w));
    hit(editor, iKEY + 2 * BACKWARD_ROW);
    EXPECT_FALSE(editor.items.ok_enabled);
    EXPECT_EQ(std::string(editor.items.status_text), key_name(_key_w) + " is taken by action " +
                                                          std::to_string(editor.sets[0].controls[BACKWARD].action_bit) +
                                                          " as well as action " +
                                                          std::to_string(editor.sets[0].controls[FORWARD].action_bit));

    // Neither the set selector nor OK gets past the duplicate.
    editor.items.selected_set = 3;
    EXPECT_EQ(hit(editor, iCONTROL_SET_SELECTOR), _key_binding_editor_stays);
    EXPECT_EQ(editor.items.selected_set, 0);
    EXPECT_EQ(editor.selected_set, 0);
    EXPECT_EQ(hit(editor, iKEY_BINDING_OK), _key_binding_editor_stays);
    const input_definitions_data unchanged = stored();
    EXPECT_EQ(memcmp(&unchanged.sets[0], &before.sets[0], sizeof(input_definition)), 0);

    // Changing one of them clears the message and frees both.
    type_key(editor, BACKWARD_ROW, key_name(_key_k));
    hit(editor, iKEY + 2 * BACKWARD_ROW);
    EXPECT_TRUE(editor.items.ok_enabled);
    EXPECT_STREQ(editor.items.status_text, "");
    editor.items.selected_set = 3;
    hit(editor, iCONTROL_SET_SELECTOR);
    EXPECT_EQ(editor.selected_set, 3);
    EXPECT_EQ(std::string(editor.items.key_texts[BACKWARD_ROW]), key_name(_key_s));
}

TEST_F(keybinding_editor, cancel_discards_every_sets_changes_and_restores_the_layout)
{
    const input_definitions_data before = stored();
    const int16_t layout = get_current_keyboard_layout();
    const input_definition current = *get_input_definition();

    key_binding_editor editor;
    ASSERT_TRUE(open_key_binding_editor(&editor));
    type_key(editor, FORWARD_ROW, key_name(_key_k));
    editor.items.checked[iVUX_MOUSE_ACTIONS - FIRST_KEY_BINDING_CHECKBOX] = true;
    editor.items.selected_set = 2;
    hit(editor, iCONTROL_SET_SELECTOR);
    type_key(editor, BACKWARD_ROW, key_name(_key_j));
    editor.items.selectors[_mouse_wheel_selector] = _mouse_wheel_cycle_presets;
    hit(editor, iWHEEL_SELECTOR);
    EXPECT_EQ(editor.sets[0].controls[FORWARD].code, _key_k);
    EXPECT_EQ(editor.sets[2].controls[BACKWARD].code, _key_j);

    set_current_keyboard_layout(layout == _keyboard_layout_qwerty ? _keyboard_layout_system_default
                                                                  : _keyboard_layout_qwerty);
    EXPECT_EQ(hit(editor, iKEY_BINDING_CANCEL), _key_binding_editor_cancelled);
    EXPECT_EQ(get_current_keyboard_layout(), layout);
    const input_definitions_data after = stored();
    EXPECT_EQ(memcmp(after.sets, before.sets, sizeof(after.sets)), 0);
    EXPECT_EQ(memcmp(after.mouse_sets, before.mouse_sets, sizeof(after.mouse_sets)), 0);
    EXPECT_EQ(memcmp(get_input_definition()->controls, current.controls, sizeof(current.controls)), 0);
}

TEST_F(keybinding_editor, ok_writes_every_set_and_makes_the_selected_one_current)
{
    key_binding_editor editor;
    ASSERT_TRUE(open_key_binding_editor(&editor));
    type_key(editor, FORWARD_ROW, key_name(_key_k));
    editor.items.selected_set = 4;
    hit(editor, iCONTROL_SET_SELECTOR);
    type_key(editor, FORWARD_ROW, key_name(_key_j));
    editor.items.selectors[_horizontal_movement_selector] = _horizontal_movement_orbit;
    editor.items.selectors[_caps_lock_selector] = _caps_lock_chat_backlog;
    editor.items.checked[iCONTROL_BAR_INVENTORY - FIRST_KEY_BINDING_CHECKBOX] = true;
    // Nothing reaches the record or the current set before OK.
    EXPECT_EQ(stored().sets[0].controls[FORWARD].code, _key_w);
    EXPECT_EQ(get_input_definition()->controls[FORWARD].code, _key_w);

    EXPECT_EQ(hit(editor, iKEY_BINDING_OK), _key_binding_editor_saved);
    const input_definitions_data after = stored();
    EXPECT_EQ(after.sets[0].controls[FORWARD].code, _key_k);
    EXPECT_EQ(after.sets[4].controls[FORWARD].code, _key_j);
    EXPECT_EQ(after.sets[4].caps_lock_action, _caps_lock_chat_backlog);
    EXPECT_TRUE(after.sets[4].flags & FLAG(_input_definition_control_bar_inventory));
    EXPECT_EQ(after.mouse_sets[4].encoded_horizontal_action, 0); // orbit
    EXPECT_EQ(get_current_input_definition_set_index(), 4);
    EXPECT_EQ(get_input_definition()->controls[FORWARD].code, _key_j);

    // The next opening shows the saved set.
    ASSERT_TRUE(open_key_binding_editor(&editor));
    EXPECT_EQ(editor.selected_set, 4);
    EXPECT_EQ(std::string(editor.items.key_texts[FORWARD_ROW]), key_name(_key_j));
    EXPECT_EQ(editor.items.selectors[_horizontal_movement_selector], _horizontal_movement_orbit);
    EXPECT_EQ(editor.items.selectors[_caps_lock_selector], _caps_lock_chat_backlog);
}

TEST_F(keybinding_editor, items_carry_a_set_both_ways_and_follow_their_checkboxes)
{
    key_binding_editor editor;
    ASSERT_TRUE(open_key_binding_editor(&editor));
    key_binding_items &items = editor.items;
    EXPECT_STREQ(items.captions[ROTATE_PRESET_ROW],
                 ("action " + std::to_string(editor.sets[0].controls[ROTATE_PRESET].action_bit)).c_str());

    items.checked[iALTERNATE_PRESET_RECALL - FIRST_KEY_BINDING_CHECKBOX] = true;
    hit(editor, iALTERNATE_PRESET_RECALL);
    EXPECT_STREQ(items.captions[ROTATE_PRESET_ROW], "formation");
    EXPECT_TRUE(editor.sets[0].flags & _input_definition_alternate_preset_recall_flag);

    ASSERT_TRUE(items.camera_corner_items_enabled);
    items.checked[iMOUSE_MOVEMENT_ENABLED - FIRST_KEY_BINDING_CHECKBOX] = false;
    hit(editor, iMOUSE_MOVEMENT_ENABLED);
    EXPECT_FALSE(items.camera_corner_items_enabled);
    EXPECT_FALSE(editor.mouse_sets[0].flags & _mouse_control_enabled_flag);

    // Every selector row goes into the record and comes back; a value from
    // no row keeps the set's own.
    for (int16_t s = 0; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
    {
        int16_t count = 0;
        const key_binding_selector_row *rows = get_key_binding_selector_rows(s, &count);
        ASSERT_GT(count, 0);
        for (int16_t r = 0; r < count; r++)
        {
            items.selectors[s] = rows[r].value;
            hit(editor, iCAPS_LOCK_SELECTOR);
            setup_dialog_for_input_definition(&items, &editor.sets[0], &editor.mouse_sets[0], editor.action_list_index,
                                              editor.key_list_index);
            EXPECT_EQ(items.selectors[s], rows[r].value) << s << " " << rows[r].text;
        }
        const int16_t kept = items.selectors[s];
        items.selectors[s] = 7;
        hit(editor, iCAPS_LOCK_SELECTOR);
        setup_dialog_for_input_definition(&items, &editor.sets[0], &editor.mouse_sets[0], editor.action_list_index,
                                          editor.key_list_index);
        EXPECT_EQ(items.selectors[s], kept);
    }

    // Revert gives the chosen set its factory bindings and options.
    type_key(editor, FORWARD_ROW, key_name(_key_k));
    hit(editor, iKEY + 2 * FORWARD_ROW);
    EXPECT_EQ(editor.sets[0].controls[FORWARD].code, _key_k);
    hit(editor, iREVERT_SET);
    EXPECT_EQ(editor.sets[0].controls[FORWARD].code, _key_w);
    EXPECT_EQ(std::string(items.key_texts[FORWARD_ROW]), key_name(_key_w));
    EXPECT_TRUE(items.camera_corner_items_enabled);
    EXPECT_STREQ(items.captions[ROTATE_PRESET_ROW],
                 ("action " + std::to_string(editor.sets[0].controls[ROTATE_PRESET].action_bit)).c_str());
}

class keybinding_editor_without_action_names : public keybinding_editor
{
protected:
    bool with_action_names(void) const override { return false; }
};

TEST_F(keybinding_editor_without_action_names, the_editor_does_not_open_and_nothing_changes)
{
    const int16_t set_index = get_current_input_definition_set_index();
    key_binding_editor editor;
    EXPECT_FALSE(open_key_binding_editor(&editor));
    EXPECT_EQ(get_current_input_definition_set_index(), set_index);
}

TEST(keybinding_messages, the_duplicate_message_takes_only_its_texts_and_stays_in_its_buffer)
{
    const char *arguments[] = {"Q", "Attack", "Scatter"};
    char buffer[64];
    format_key_binding_message(buffer, sizeof(buffer), "%s: %s and %s (100%%)", arguments, 3);
    EXPECT_STREQ(buffer, "Q: Attack and Scatter (100%)");
    // Conversions other than %s are the data's own text, never read as arguments.
    format_key_binding_message(buffer, sizeof(buffer), "%n%d%s%s%s%s%x", arguments, 3);
    EXPECT_STREQ(buffer, "%n%dQAttackScatter%x");
    format_key_binding_message(buffer, sizeof(buffer), nullptr, arguments, 3);
    EXPECT_STREQ(buffer, "");
    const std::string whole = "Q: Attack and Scatter";
    for (size_t size = 1; size <= 40; size++)
    {
        std::vector<char> small(size, 'x');
        format_key_binding_message(small.data(), size, "%s: %s and %s", arguments, 3);
        EXPECT_EQ(std::string(small.data()), whole.substr(0, std::min(size - 1, whole.size())));
    }
}

TEST(keybinding_layout, editor_rows_and_the_on_screen_list_fill_two_columns)
{
    const int16_t widths[] = {40, 42, 10, 47, 48, 60};
    // 40 -> 45; 42 does not pass 45; 47 -> 52; 48 does not; 60 -> 65.
    EXPECT_EQ(key_binding_caption_width(widths, 6), 65);
    EXPECT_EQ(key_binding_caption_width(widths, 0), 0);

    rectangle2d caption, key;
    key_binding_row_bounds({20, 40}, {300, 40}, 65, 2, 5, &caption, &key);
    EXPECT_EQ(caption.left, 20);
    EXPECT_EQ(caption.top, 40 + 2 * 18 + 2);
    EXPECT_EQ(caption.bottom - caption.top, 17);
    EXPECT_EQ(key.left, 20 + 65 + 3);
    EXPECT_EQ(key.top, 40 + 2 * 18);
    EXPECT_EQ(key.right - key.left, 115);
    key_binding_row_bounds({20, 40}, {300, 40}, 65, 3, 5, &caption, &key);
    EXPECT_EQ(caption.left, 300);
    EXPECT_EQ(key.top, 40);

    input_definition definition = {};
    memcpy(definition.controls, get_default_controls(0), sizeof(definition.controls));
    definition.controls[0].action_bit_flags |= _control_rebindable_flag; // a mouse control counts for the list
    EXPECT_EQ(keybinding_overlay_rows_per_column(&definition), 17);
    const rectangle2d hole = {10, 20, 470, 660};
    rectangle2d row = keybinding_overlay_row_bounds(hole, 0, 17);
    EXPECT_EQ(row.left, 23);
    EXPECT_EQ(row.top, 13);
    EXPECT_EQ(row.right - row.left, 310);
    EXPECT_EQ(row.bottom - row.top, 25);
    row = keybinding_overlay_row_bounds(hole, 16, 17);
    EXPECT_EQ(row.top, 13 + 16 * 25);
    row = keybinding_overlay_row_bounds(hole, 17, 17);
    EXPECT_EQ(row.left, 20 + 323);
    EXPECT_EQ(row.top, 13);
}

// ---- the dialog, driven by injected input --------------------------------------------------

class keybinding_dialog : public dialog_input_test
{
protected:
    virtual bool with_dialog_tag(void) const { return true; }

    void SetUp() override
    {
        dialog_input_test::SetUp();
        game_->state = _game_state_displaying_main_menu;
        std::vector<std::string> keys, actions;
        for (int i = 0; i < NUMBER_OF_KEYBOARD_DEVICE_CODES; i++) keys.push_back("K" + std::to_string(i));
        for (int i = 0; i < 55; i++) actions.push_back("action " + std::to_string(i));
        write_list("inkn", keys);
        write_list("inan", actions);
        write_list("inps", {"%s twice"});
        ASSERT_TRUE(initialize_input_definition());

        // The editor's items as the data file places them, on a dialog the
        // size of the test screen so that screen and dialog points agree.
        dialog_description dialog;
        dialog.bounds = {0, 0, 480, 640};
        const auto item = [&](const char *type, int16_t id, rectangle2d bounds, const char *text = "") {
            dialog_item_description d;
            d.type = dialog_test_code(type);
            d.item_id = id;
            d.bounds = bounds;
            d.text = text;
            dialog.items.push_back(d);
        };
        item("stat", 6, {12, 20, 30, 100}, "Key Set");
        item("numb", 7, {10, 100, 32, 300});
        item("butt", 8, {10, 320, 32, 420}, "Defaults");
        item("stat", 4, {44, 20, 45, 21});
        item("stat", 5, {44, 325, 45, 326});
        for (int16_t id = 9; id <= 15; id += 2)
        {
            item("stat", id, {(int16_t)(338 + 12 * (id - 9)), 20, (int16_t)(356 + 12 * (id - 9)), 140}, "selector");
            item("numb", (int16_t)(id + 1), {(int16_t)(336 + 12 * (id - 9)), 140, (int16_t)(358 + 12 * (id - 9)), 320});
        }
        for (int16_t id = 17; id <= 27; id++)
            item("chek", id, {(int16_t)(336 + 12 * (id - 17)), 330, (int16_t)(346 + 12 * (id - 17)), 480}, "box");
        item("stat", 3, {448, 20, 466, 400});
        item("butt", 1, {446, 480, 468, 550}, "OK");
        item("butt", 2, {446, 560, 468, 630}, "Cancel");
        if (with_dialog_tag()) store_dialog("!key", dialog);
    }

    void write_list(const char *subgroup, const std::vector<std::string> &rows)
    {
        std::vector<const char *> texts;
        for (const std::string &row : rows) texts.push_back(row.c_str());
        std::vector<uint8_t> bytes((size_t)encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0));
        encode_string_list_data(texts.data(), (int32_t)texts.size(), bytes.data(), (int32_t)bytes.size());
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    // A press and release of the button whose centre is (x, y), with the
    // ticks a visible click takes.
    static void press(int16_t x, int16_t y)
    {
        add_script_steps({action_step(make_click_action(x, y)), action_step(make_release_action(x, y))});
        for (int i = 0; i < 8; i++) add_script_step(action_step(make_test_action()));
    }
    static void press_ok(void) { press(515, 457); }
    static void press_cancel(void) { press(595, 457); }

    static input_definitions_data stored(void)
    {
        input_definitions_data record;
        load_input_definitions(record.sets, record.mouse_sets, &record.keyboard_layout);
        return record;
    }
};

TEST_F(keybinding_dialog, a_key_typed_into_a_field_is_stored_only_on_ok)
{
    // The focus starts in the first key field (move forward): a key press renames it.
    add_script_step(action_step(make_key_action(_key_k, 'k')));
    press_cancel();
    EXPECT_FALSE(modal_control_prefs_dialog());
    // These data have no '!key' background: logged, and no error box for the player.
    EXPECT_FALSE(error_pending(nullptr, nullptr, 0));
    EXPECT_EQ(stored().sets[0].controls[FORWARD].code, _key_w);
    EXPECT_EQ(get_input_definition()->controls[FORWARD].code, _key_w);

    restart_main_loop_script();
    add_script_step(action_step(make_key_action(_key_k, 'k')));
    press_ok();
    EXPECT_TRUE(modal_control_prefs_dialog());
    EXPECT_EQ(stored().sets[0].controls[FORWARD].code, _key_k);
    EXPECT_EQ(get_input_definition()->controls[FORWARD].code, _key_k);
}

TEST_F(keybinding_dialog, ok_stays_disabled_while_two_fields_name_one_key)
{
    // Forward takes S, which backward holds: OK does nothing; then backward
    // takes K and OK saves both.
    add_script_step(action_step(make_key_action(_key_s, 's')));
    press_ok();
    add_script_step(action_step(make_key_action(_key_k, 'k')));
    press_ok();
    EXPECT_TRUE(modal_control_prefs_dialog());
    const input_definitions_data after = stored();
    EXPECT_EQ(after.sets[0].controls[FORWARD].code, _key_s);
    EXPECT_EQ(after.sets[0].controls[BACKWARD].code, _key_k);
}

class keybinding_dialog_without_its_tag : public keybinding_dialog
{
protected:
    bool with_dialog_tag(void) const override { return false; }
};

TEST_F(keybinding_dialog_without_its_tag, the_editor_does_not_open_and_the_game_goes_on)
{
    EXPECT_FALSE(modal_control_prefs_dialog());
    EXPECT_EQ(script_passes(), 0);
}

} // namespace

} // namespace keybinding_editor_test_file
