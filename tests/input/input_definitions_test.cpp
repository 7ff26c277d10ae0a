// Key bindings and the "input" record: the defaults round trip with golden
// bytes, every repair of a bad stored record, the selector mappings both ways,
// the event-only flag after start-up, the snapshot the timer thread reads, the
// key names and the controls panel.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"
#include "support/demo_data.h"

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "tag_files/preferences.h"
#include "vesk/string_lists.h"

namespace input_definitions_test_file {

namespace {

class input_definitions : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
    }

    // `record` (host order) stored as the "input" tag of `version`.
    void store_record(const input_definitions_data &record, int16_t version = INPUT_DEFINITIONS_VERSION,
                      int32_t size = (int32_t)sizeof(input_definitions_data))
    {
        input_definitions_data swapped = record;
        ASSERT_TRUE(byte_swap_data("input", &swapped, sizeof(swapped), 1, input_definitions_byte_swapping_data));
        write_local_tag(PREFERENCES_GROUP_TAG, INPUT_DEFINITIONS_PREFERENCES_NAME, version, &swapped, size);
    }

    std::string stored_bytes(void)
    {
        const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, INPUT_DEFINITIONS_PREFERENCES_NAME);
        tag_file_info info;
        if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return "";
        std::string bytes((size_t)info.size, '\0');
        EXPECT_TRUE(tag_file_read(tag_index, 0, info.size, bytes.data()));
        return bytes;
    }

    static input_definitions_data defaults(void)
    {
        input_definitions_data record;
        default_input_preferences(&record);
        derive_input_selectors_from_flags(&record);
        return record;
    }

    static void load_all(input_definition *sets, mouse_control_data *mouse_sets, int16_t *layout)
    {
        load_input_definitions(sets, mouse_sets, layout);
    }
};

TEST_F(input_definitions, defaults_are_written_as_golden_bytes_and_read_back_equal)
{
    ASSERT_TRUE(initialize_input_definition());
    input_definition sets[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse_sets[NUMBER_OF_INPUT_SETS];
    int16_t layout = -1;
    load_all(sets, mouse_sets, &layout);
    ASSERT_TRUE(save_input_definitions(sets, mouse_sets, 2, _keyboard_layout_qwerty));

    const std::string bytes = stored_bytes();
    ASSERT_EQ(bytes.size(), 2748u);
    const uint8_t *b = (const uint8_t *)bytes.data();
    EXPECT_EQ(read_be16(b + 0), 2);                  // selected set
    EXPECT_EQ(read_be16(b + 4), 1);                  // layout
    EXPECT_EQ(read_be32(b + 8 + 64), 0x00000002u);   // set 0: valid
    EXPECT_STREQ((const char *)b + 8, "Right Handed");
    EXPECT_EQ(read_be16(b + 8 + 94), 0);             // set index
    EXPECT_EQ(read_be16(b + 8 + 528 + 94), 1);
    // Set 0, control 8: the forward key, rebindable.
    EXPECT_EQ(read_be16(b + 8 + 96 + 8 * 8 + 0), _input_device_keyboard);
    EXPECT_EQ(read_be16(b + 8 + 96 + 8 * 8 + 2), _key_w);
    EXPECT_EQ(read_be16(b + 8 + 96 + 8 * 8 + 4), _move_forward_bit);
    EXPECT_EQ(read_be16(b + 8 + 96 + 8 * 8 + 6), _control_rebindable_flag);
    // Set 1 moves the camera keys to the keypad.
    EXPECT_EQ(read_be16(b + 8 + 528 + 96 + 8 * 8 + 2), _keypad_8);
    EXPECT_EQ(read_be32(b + 2648), (uint32_t)(_mouse_control_enabled_flag | _mouse_control_wheel_zooms_flag));
    EXPECT_EQ(read_be16(b + 2648 + 8), 6);

    input_definition again[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse_again[NUMBER_OF_INPUT_SETS];
    load_all(again, mouse_again, &layout);
    EXPECT_EQ(layout, _keyboard_layout_qwerty);
    EXPECT_EQ(memcmp(again, sets, sizeof(sets)), 0);
    EXPECT_EQ(memcmp(mouse_again, mouse_sets, sizeof(mouse_sets)), 0);

    load_input_definition(2);
    EXPECT_EQ(get_current_input_definition_set_index(), 2);
    EXPECT_EQ(get_current_keyboard_layout(), _keyboard_layout_qwerty);
}

TEST_F(input_definitions, default_tables_bind_the_documented_keys)
{
    const control_definition *right = get_default_controls(0);
    const control_definition *left = get_default_controls(1);
    // The digit keys drive the flag range at bit 25 with values 0-9.
    for (int32_t i = 0; i < 10; i++)
    {
        const control_definition &digit = right[37 + i];
        EXPECT_EQ(digit.device, _input_device_keyboard);
        EXPECT_EQ(digit.code, i == 9 ? _key_0 : _key_1 + i);
        EXPECT_EQ(digit.action_bit, _preset_selection_or_formation_valid_bit);
        EXPECT_EQ(digit.action_bit_flags & ~_control_event_only_flag, _control_sets_value_range_flag + i);
    }
    EXPECT_EQ(right[rotate_preset_control_index].action_bit, _selection_rotate_preset_bit);
    EXPECT_EQ(right[52].device, _input_device_none);
    EXPECT_EQ(right[53].device, _input_device_none);
    for (int32_t i = 0; i < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; i++)
    {
        const bool camera_key = i >= 8 && i < 18;
        EXPECT_EQ(left[i].code == right[i].code, !camera_key) << i;
        EXPECT_EQ(left[i].action_bit, right[i].action_bit) << i;
    }
}

TEST_F(input_definitions, bad_stored_controls_and_fields_are_repaired_from_the_defaults)
{
    input_definitions_data record = defaults();
    input_definition &set = record.sets[3];
    set.controls[8] = {_input_device_none, 0, 0, 0};                      // unbound: gets W back
    set.controls[9] = {_input_device_keyboard, _key_p, 30, 0};            // a changed action bit
    set.controls[10] = {_input_device_keyboard, -5, _move_left_bit, 0x80}; // a negative key code
    set.controls[11] = {_input_device_keyboard, 100, _move_right_bit, 0x80};
    set.controls[0] = {_input_device_mouse, 12, _left_mouse_down_bit, 0};  // no such button
    set.controls[12] = {9, _key_a, _yaw_left_bit, 0x80};                   // no such device
    set.controls[13] = {_input_device_keyboard, _key_k, _yaw_right_bit, 0x80}; // the player's key stays
    set.controls[34] = {_input_device_keyboard, 250, _pause_game_bit, 0x180};  // a global key on no key
    set.caps_lock_action = 7;
    set.flags |= 0x400;
    set.set_index = 40;
    memset(set.name, 'x', sizeof(set.name));
    record.mouse_sets[3].flags |= 0x80000;
    record.mouse_sets[3].encoded_horizontal_action = 5;
    record.last_selected_set = 3;
    store_record(record);

    ASSERT_TRUE(initialize_input_definition());
    const input_definition *current = get_input_definition();
    const control_definition *right = get_default_controls(0);
    EXPECT_EQ(current->set_index, 3);
    EXPECT_EQ(current->controls[8].code, _key_w);
    EXPECT_EQ(current->controls[8].device, _input_device_keyboard);
    EXPECT_EQ(current->controls[9].code, _key_p);
    EXPECT_EQ(current->controls[9].action_bit, _move_backward_bit);
    EXPECT_EQ(current->controls[10].code, _key_z);
    EXPECT_EQ(current->controls[11].code, _key_x);
    EXPECT_EQ(current->controls[0].code, _mouse_button_left);
    EXPECT_EQ(current->controls[12].device, _input_device_keyboard);
    EXPECT_EQ(current->controls[12].code, _key_a);
    EXPECT_EQ(current->controls[13].code, _key_k);
    EXPECT_EQ(current->controls[34].code, _key_escape) << "the pause key keeps its default";
    for (int32_t i = 0; i < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; i++)
        EXPECT_EQ(current->controls[i].action_bit_flags, right[i].action_bit_flags) << i;
    EXPECT_EQ(current->caps_lock_action, _caps_lock_selection_boxes);
    EXPECT_EQ(current->flags, (uint32_t)_input_definition_valid_flag);
    EXPECT_EQ(current->name[MAXIMUM_INPUT_DEFINITION_NAME_LENGTH], 0);
    EXPECT_EQ(get_mouse_controls()->flags, (uint32_t)(_mouse_control_enabled_flag | _mouse_control_wheel_zooms_flag));
    EXPECT_EQ(get_mouse_controls()->encoded_horizontal_action, 6);
    EXPECT_NE(log_text().find("out-of-range values repaired"), std::string::npos);
}

TEST_F(input_definitions, records_of_another_version_size_or_selection_give_the_defaults)
{
    input_definitions_data record = defaults();
    record.sets[0].controls[8].code = _key_k;
    record.last_selected_set = 9;
    record.keyboard_layout = 7;
    store_record(record, INPUT_DEFINITIONS_VERSION, 2000); // short
    ASSERT_TRUE(initialize_input_definition());
    EXPECT_EQ(get_input_definition()->controls[8].code, _key_w);

    dispose_tag_files();
    start_store();
    store_record(record, 2);
    ASSERT_TRUE(initialize_input_definition());
    EXPECT_EQ(get_input_definition()->controls[8].code, _key_w);

    dispose_tag_files();
    start_store();
    store_record(record);
    ASSERT_TRUE(initialize_input_definition());
    EXPECT_EQ(get_current_input_definition_set_index(), 0); // a selection out of range
    EXPECT_EQ(get_current_keyboard_layout(), _keyboard_layout_system_default);
    EXPECT_EQ(get_input_definition()->controls[8].code, _key_k);
}

TEST_F(input_definitions, event_only_controls_carry_their_flag_after_start_up)
{
    store_record(defaults()); // a record written before the flag existed
    ASSERT_TRUE(initialize_input_definition());
    const int16_t event_only[] = {10, 11, 12, 13, 14, 17, 18, 20, 21, 22, 24, 30, 31, 32, 53};
    for (int16_t set = 0; set < NUMBER_OF_INPUT_SETS; set++)
    {
        load_input_definition(set);
        const input_definition *current = get_input_definition();
        for (int32_t i = 0; i < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; i++)
        {
            const control_definition &control = current->controls[i];
            const bool expected = control.device != _input_device_none &&
                                  std::find(std::begin(event_only), std::end(event_only), control.action_bit) !=
                                      std::end(event_only);
            EXPECT_EQ((control.action_bit_flags & _control_event_only_flag) != 0, expected) << set << " " << i;
        }
    }
}

TEST_F(input_definitions, selector_words_and_flags_map_both_ways)
{
    struct
    {
        uint32_t horizontal;
        int16_t encoded;
    } const horizontal[] = {{1, 6}, {2, 4}, {0, (int16_t)32768}, {3, 0}};
    struct
    {
        uint32_t wheel;
        uint32_t flag;
    } const wheel[] = {{0, 0},
                       {1, _mouse_control_wheel_moves_flag},
                       {2, _mouse_control_wheel_zooms_flag},
                       {3, _mouse_control_wheel_cycle_presets_flag},
                       {4, _mouse_control_wheel_cycle_inventory_flag}};
    struct
    {
        uint32_t right_click;
        uint32_t mouse_flag;
        uint32_t set_flag;
    } const right_click[] = {{0, _mouse_control_right_click_ignored_flag, 0},
                             {1, 0, 0},
                             {2, _mouse_control_right_click_attack_flag, 0},
                             {3, 0, _input_definition_right_button_deselects_flag}};
    for (const auto &h : horizontal)
    {
        for (const auto &w : wheel)
        {
            for (const auto &r : right_click)
            {
                input_definitions_data record = defaults();
                // Stale flags that the selectors must replace.
                record.mouse_sets[2].flags |= _mouse_control_wheel_flags_mask | _mouse_control_right_click_attack_flag;
                record.sets[2].flags |= _input_definition_right_button_deselects_flag;
                record.mouse_sets[2].selectors = h.horizontal | w.wheel << 3 | r.right_click << 6;
                derive_input_flags_from_selectors(&record);
                EXPECT_EQ(record.mouse_sets[2].encoded_horizontal_action, h.encoded);
                EXPECT_EQ(record.mouse_sets[2].flags,
                          (uint32_t)_mouse_control_enabled_flag | w.flag | r.mouse_flag);
                EXPECT_EQ(record.sets[2].flags, (uint32_t)_input_definition_valid_flag | r.set_flag);
                record.mouse_sets[2].selectors = 0xdeadbeef;
                derive_input_selectors_from_flags(&record);
                EXPECT_EQ(record.mouse_sets[2].selectors, h.horizontal | w.wheel << 3 | r.right_click << 6);
            }
        }
    }
}

TEST_F(input_definitions, set_data_and_default_keybindings_swap)
{
    ASSERT_TRUE(initialize_input_definition());
    input_set_data sets[NUMBER_OF_INPUT_SETS];
    get_input_set_data(sets);
    EXPECT_TRUE(sets[4].used);
    EXPECT_STREQ(sets[1].name, "Left Handed");
    sets[4].used = false;
    strlcpy(sets[3].name, "Mine", sizeof(sets[3].name));
    ASSERT_TRUE(set_input_set_data(sets));
    get_input_set_data(sets);
    EXPECT_FALSE(sets[4].used);
    EXPECT_STREQ(sets[3].name, "Mine");

    load_input_definition(1);
    const input_definition_snapshot *left = get_input_definition_snapshot();
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->definition.controls[8].code, _keypad_8);
    switch_to_default_keybindings();
    EXPECT_EQ(get_input_definition()->controls[8].code, _key_w);
    EXPECT_EQ(get_input_definition_snapshot()->definition.controls[8].code, _key_w);
    EXPECT_EQ(left->definition.controls[8].code, _keypad_8); // an old snapshot is never changed
    restore_previous_user_keybindings();
    EXPECT_EQ(get_current_input_definition_set_index(), 1);
    EXPECT_EQ(get_input_definition_snapshot()->definition.controls[8].code, _keypad_8);

    expected_assertions expect(1, "set_index");
    slam_current_settings(get_input_definition(), get_mouse_controls(), 5);
}

TEST_F(input_definitions, key_and_action_names_come_from_their_lists)
{
    std::vector<const char *> rows;
    std::vector<std::string> names;
    for (int32_t i = 0; i < 55; i++) names.push_back("name " + std::to_string(i));
    for (const std::string &name : names) rows.push_back(name.c_str());
    const int32_t size = encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0);
    std::vector<uint8_t> data((size_t)size);
    ASSERT_EQ(encode_string_list_data(rows.data(), (int32_t)rows.size(), data.data(), size), size);
    write_local_tag(STRING_LIST_GROUP_TAG, "inkn", STRING_LIST_VERSION, data.data(), size);
    const int32_t list = string_list_tag_to_string_index(KEY_NAME_STRING_LIST_TAG);
    ASSERT_NE(list, NONE);
    EXPECT_STREQ(get_key_string(list, _key_w), "name 32");
    EXPECT_STREQ(get_key_string(list, -1), "");
    EXPECT_STREQ(get_key_string(list, 100), "");
    EXPECT_STREQ(get_control_action_string(list, _selection_rotate_preset_bit, 0), "name 11");
    EXPECT_STREQ(get_control_action_string(list, _selection_rotate_preset_bit,
                                           _input_definition_alternate_preset_recall_flag),
                 "name 54");
    EXPECT_STREQ(get_control_action_string(list, _selection_stop_bit, _input_definition_alternate_preset_recall_flag),
                 "name 12");
    dispose_string_lists();
}

int32_t editor_calls;
bool count_editor_call(void)
{
    editor_calls++;
    return true;
}

TEST_F(input_definitions, controls_panel_opens_the_editor_only_on_its_item)
{
    clear_all_registrations();
    editor_calls = 0;
    EXPECT_TRUE(controls_preferences_panel_handler(nullptr, 2, 4)); // nobody registered: nothing
    ASSERT_TRUE(register_key_binding_editor_procedure(count_editor_call));
    for (int16_t verb : {0, 1, 3, 4}) EXPECT_TRUE(controls_preferences_panel_handler(nullptr, verb, 4));
    EXPECT_TRUE(controls_preferences_panel_handler(nullptr, 2, 3));
    EXPECT_EQ(editor_calls, 0);
    EXPECT_TRUE(controls_preferences_panel_handler(nullptr, 2, 4));
    EXPECT_EQ(editor_calls, 1);
    {
        expected_assertions expect(1, "halt");
        EXPECT_TRUE(controls_preferences_panel_handler(nullptr, 9, 4));
    }
    clear_all_registrations();
}

} // namespace

namespace {

// The key names the data tool turns into 'inkn': one row per key code.
TEST(input_key_names, source_names_every_key_code)
{
    const std::string path = source_tree_path("data/strings/stli/inkn.txt");
    const std::string text = read_whole_file(path);
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        rows.push_back(text.substr(start, end - start));
    ASSERT_EQ(rows.size(), (size_t)NUMBER_OF_KEYBOARD_DEVICE_CODES);
    EXPECT_EQ(rows[_key_escape], "Escape");
    EXPECT_EQ(rows[_key_w], "W");
    EXPECT_EQ(rows[_key_plus], "=");
    EXPECT_EQ(rows[_keypad_period], "Keypad .");
}

} // namespace

} // namespace input_definitions_test_file
