// The edit-text engine and the edit and password controls, with the
// fixed-advance test font (every byte 6 pixels, two-byte codes 12, escapes
// 0) in a double-byte language, so that escape pairs and two-byte
// characters meet the caret, deletion, the width limit and hit-testing.
// The controls are driven through the dialog layer's own input path with
// the test clock behind machine_tick_count.  One frame of a focused field
// with its caret and of a field with a selection is written as PNG
// (VESK_EDITTEXT_FRAME names a file to keep it in).

#include "support/dialog_input_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/password_edittext.h"
#include "bitmap_text.h"
#include "cseries/timers.h"
#include "font_builder.h"
#include "image_files.h"
#include "game_hooks.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "support/expected_assertions.h"
#include "vesk/string_lists.h"

namespace edittext_test_file {

namespace {

const int32_t A = TEST_FONT_ADVANCE;
const char TWO_BYTE[] = "\x81\x40"; // one character of the test font's double-byte language

enum
{
    EDIT_ITEM = 1,
    PASSWORD_ITEM = 2,
    DEFAULT_ITEM = 3,
};

// Dialog coordinates (top, left, bottom, right); the dialog lies at (100, 100).
const rectangle2d edit_bounds = {60, 20, 80, 220};
const rectangle2d password_bounds = {100, 20, 120, 220};

action_data key(int16_t code, int16_t ascii = NONE, bool shift = false, bool control = false)
{
    action_data action = make_key_action(code, ascii);
    if (shift) action = with_action_flag(action, _shift_down_bit);
    if (control) action = with_action_flag(action, _control_down_bit);
    return action;
}

action_data typed(char character)
{
    return key(_key_q, (int16_t)(uint8_t)character);
}

class edittext : public dialog_input_test
{
protected:
    int32_t font = NONE;
    std::vector<edittext_data *> records;

    void SetUp() override
    {
        dialog_input_test::SetUp();
        ASSERT_TRUE(initialize_font_definitions());
        const std::vector<uint8_t> data = build_font_tag_data(make_test_font());
        write_local_tag(FONT_DEFINITION_GROUP_TAG, "test", FONT_DEFINITION_VERSION_NUMBER, data.data(),
                        (int32_t)data.size());
        // Language 1: two-byte characters are live.
        const char *rows[] = {"1", "...", " ", " -", "", ".,!?)", "81"};
        std::vector<uint8_t> list(4096);
        const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
        write_local_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list.data(), size);
        initialize_font_definitions_for_new_map();
        font = font_tag_to_font_index(FOUR_CHARACTER_CODE('t', 'e', 's', 't'));
        ASSERT_NE(font, NONE);
    }
    void TearDown() override
    {
        for (edittext_data *edit : records) dispose_edittext(edit);
        close_all_dialogs();
        dispose_font_definitions_from_old_map();
        dialog_input_test::TearDown();
    }

    // A record in the test font over `bounds` (left 0 unless given), holding `text`.
    edittext_data *make(const char *text, int32_t flags = 0, rectangle2d bounds = {0, 0, 20, 200})
    {
        edittext_data *edit = new_edittext(&bounds, flags);
        EXPECT_NE(edit, nullptr);
        records.push_back(edit);
        set_edittext_text_format(edit, font, -1, nullptr);
        set_edittext_string(edit, text);
        return edit;
    }
    static std::pair<int16_t, int16_t> selection(const edittext_data *edit)
    {
        int16_t start, end;
        get_edit_text_selection_range(edit, &start, &end);
        return {start, end};
    }
    static bool apply(edittext_data *edit, action_data action) { return handle_edittext_action(edit, &action); }
};

using selection_pair = std::pair<int16_t, int16_t>;

// ---- the engine -----------------------------------------------------------------------------

// "a|bc" + two-byte + "d": characters start at 0, 1, 3, 4, 6; the end is 7.
TEST_F(edittext, the_caret_steps_over_escape_pairs_and_two_byte_characters)
{
    const std::string text = std::string("a|bc") + TWO_BYTE + "d";
    edittext_data *edit = make(text.c_str());
    std::vector<int16_t> left, right;
    ASSERT_TRUE(apply(edit, key(_key_end)));
    for (int32_t i = 0; i < 6; ++i)
    {
        EXPECT_TRUE(apply(edit, key(_key_left_arrow)));
        EXPECT_EQ(selection(edit).first, selection(edit).second);
        left.push_back(selection(edit).first);
    }
    for (int32_t i = 0; i < 6; ++i)
    {
        EXPECT_TRUE(apply(edit, key(_key_right_arrow)));
        right.push_back(selection(edit).second);
    }
    EXPECT_EQ(left, (std::vector<int16_t>{6, 4, 3, 1, 0, 0}));
    EXPECT_EQ(right, (std::vector<int16_t>{1, 3, 4, 6, 7, 7}));

    // Shift moves one end only: left the start, right the end.
    const struct
    {
        const char *name;
        selection_pair from;
        action_data action;
        selection_pair to;
    } cases[] = {
        {"Home", {3, 4}, key(_key_home), {0, 0}},
        {"shift-Home", {3, 4}, key(_key_home, NONE, true), {0, 4}},
        {"End", {3, 4}, key(_key_end), {7, 7}},
        {"shift-End", {3, 4}, key(_key_end, NONE, true), {3, 7}},
        {"up arrow", {3, 4}, key(_key_up_arrow), {0, 0}},
        {"down arrow", {3, 4}, key(_key_down_arrow), {7, 7}},
        {"control-a", {3, 4}, key(_key_a, 'a', false, true), {0, 0}},
        {"control-e", {3, 4}, key(_key_e, 'e', false, true), {7, 7}},
        {"shift-left", {4, 6}, key(_key_left_arrow, NONE, true), {3, 6}},
        {"shift-right", {3, 4}, key(_key_right_arrow, NONE, true), {3, 6}},
        {"left collapses", {3, 6}, key(_key_left_arrow), {1, 1}},
        {"right collapses", {1, 4}, key(_key_right_arrow), {6, 6}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        select_edit_text_range(edit, c.from.first, c.from.second);
        EXPECT_TRUE(apply(edit, c.action));
        EXPECT_EQ(selection(edit), c.to);
        EXPECT_EQ(std::string(edit->string), text);
    }

    // Without control, 'a' is a letter; with caret movement off, Home is
    // character entry, and carries none.
    select_edit_text_range(edit, 0, 0);
    EXPECT_TRUE(apply(edit, key(_key_a, 'a')));
    EXPECT_EQ(std::string(edit->string), "a" + text);
    set_edittext_flag(edit, _no_cursor_movement_flag, true);
    EXPECT_FALSE(apply(edit, key(_key_home)));
    EXPECT_FALSE(apply(edit, key(_key_left_arrow)));
    EXPECT_EQ(selection(edit), (selection_pair{1, 1}));

    // A range set by the caller never splits a character.
    select_edit_text_range(edit, 6, 6);
    EXPECT_EQ(selection(edit), (selection_pair{5, 5}));
    select_edit_text_range(edit, 3, 6);
    EXPECT_EQ(selection(edit), (selection_pair{2, 7}));
    select_edit_text_range(edit, -4, 99);
    EXPECT_EQ(selection(edit), (selection_pair{0, 8}));
}

TEST_F(edittext, deletion_removes_exactly_one_character)
{
    const struct
    {
        const char *name;
        std::string text;
        selection_pair selected;
        int16_t key_code;
        bool handled;
        std::string result;
        int16_t caret;
    } cases[] = {
        {"backspace at 0", "abc", {0, 0}, _key_delete, false, "abc", 0},
        {"backspace after a", "abc", {1, 1}, _key_delete, true, "bc", 0},
        {"backspace after |b", "a|bc", {3, 3}, _key_delete, true, "ac", 1},
        {"backspace before |c", "ab|c", {2, 2}, _key_delete, true, "a|c", 1},
        {"backspace after a two-byte character", std::string("x") + TWO_BYTE + "y", {3, 3}, _key_delete, true, "xy", 1},
        {"backspace deletes a selection", "hello", {1, 3}, _key_delete, true, "hlo", 1},
        {"forward delete at |b", "a|bc", {1, 1}, _key_forward_delete, true, "ac", 1},
        {"forward delete at a two-byte character", std::string("x") + TWO_BYTE, {1, 1}, _key_forward_delete, true, "x", 1},
        {"forward delete at the end", "abc", {3, 3}, _key_forward_delete, false, "abc", 3},
        {"forward delete deletes a selection", "hello", {1, 3}, _key_forward_delete, true, "hlo", 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        edittext_data *edit = make(c.text.c_str());
        select_edit_text_range(edit, c.selected.first, c.selected.second);
        EXPECT_EQ(apply(edit, key(c.key_code)), c.handled);
        EXPECT_EQ(std::string(edit->string), c.result);
        EXPECT_EQ(selection(edit), (selection_pair{c.caret, c.caret}));
    }
}

TEST_F(edittext, typing_is_refused_when_the_field_is_full_too_wide_or_not_a_number)
{
    // Length: a full field refuses; a selection of n bytes makes room for one.
    edittext_data *edit = make("abc");
    set_edittext_maximum_length(edit, 3);
    select_edit_text_range(edit, 3, 3);
    EXPECT_FALSE(apply(edit, typed('d')));
    select_edit_text_range(edit, 1, 2);
    EXPECT_TRUE(apply(edit, typed('X')));
    EXPECT_EQ(std::string(edit->string), "aXc");
    EXPECT_EQ(selection(edit), (selection_pair{2, 2}));
    EXPECT_FALSE(apply(edit, key(_key_q, NONE))) << "a key without a character";
    EXPECT_FALSE(apply(edit, key(_key_q, 0))) << "a NUL would end the text";

    // Number-only.
    edittext_data *number = make("", _edittext_is_number_only_flag);
    std::string accepted;
    for (char c : std::string("-5.9/a0"))
        if (apply(number, typed(c))) accepted += c;
    EXPECT_EQ(accepted, "-590");
    EXPECT_EQ(std::string(number->string), "-590");

    // Width, to the pixel: refused when the text would be at least the
    // field's width less 2 (48 in a field 50 wide: 7 characters fit, the
    // 8th makes 48); one pixel more and the 8th fits.
    for (const auto &[right, fits] : {std::pair<int16_t, int32_t>{50, 7}, {51, 8}})
    {
        edittext_data *narrow = make("", 0, {0, 0, 20, right});
        int32_t taken = 0;
        for (int32_t i = 0; i < 12; ++i) taken += apply(narrow, typed('x'));
        EXPECT_EQ(taken, fits) << right;
        EXPECT_EQ((int32_t)strlen(narrow->string), fits);
        ASSERT_EQ(string_width(font, NONE, narrow->string), fits * A);
        // Replacing a selected character keeps the width.
        select_edit_text_range(narrow, 0, 1);
        EXPECT_TRUE(apply(narrow, typed('y')));
        EXPECT_EQ((int32_t)strlen(narrow->string), fits);
    }
    // Escapes take no width: "|b" pairs do not fill the field.
    edittext_data *styled = make("|b|b|b|b|b|b", 0, {0, 0, 20, 50});
    select_edit_text_range(styled, 12, 12);
    int32_t taken = 0;
    for (int32_t i = 0; i < 12; ++i) taken += apply(styled, typed('x'));
    EXPECT_EQ(taken, 7);
    // Wrapping fields are bounded only by their length.
    edittext_data *wrapping = make("", _allow_text_to_wrap_flag, {0, 0, 20, 50});
    taken = 0;
    for (int32_t i = 0; i < 40; ++i) taken += apply(wrapping, typed('x'));
    EXPECT_EQ(taken, 40);
}

TEST_F(edittext, the_maximum_length_cuts_whole_characters_and_copies_stay_in_bounds)
{
    edittext_data *edit = make("abcdef");
    select_edit_text_range(edit, 2, 6);
    set_edittext_maximum_length(edit, 3);
    EXPECT_EQ(std::string(edit->string), "abc");
    EXPECT_EQ(selection(edit), (selection_pair{2, 3}));
    set_edittext_string(edit, (std::string("ab") + TWO_BYTE).c_str());
    EXPECT_EQ(std::string(edit->string), "ab") << "never half a two-byte character";
    set_edittext_maximum_length(edit, MAXIMUM_EDITTEXT_LENGTH);
    set_edittext_string(edit, (std::string("ab") + TWO_BYTE).c_str());
    set_edittext_maximum_length(edit, 3);
    EXPECT_EQ(std::string(edit->string), "ab");
    {
        expected_assertions refused(2, "max_length");
        set_edittext_maximum_length(edit, 256);
        set_edittext_maximum_length(edit, -1);
    }
    EXPECT_EQ(edit->maximum_length, 3);

    // A text longer than the buffer is cut to the maximum.
    set_edittext_maximum_length(edit, MAXIMUM_EDITTEXT_LENGTH);
    const std::string long_text(1000, 'z');
    set_edittext_string(edit, long_text.c_str());
    EXPECT_EQ(strlen(edit->string), (size_t)MAXIMUM_EDITTEXT_LENGTH);
    EXPECT_EQ(selection(edit), (selection_pair{0, 0}));

    char buffer[8];
    memset(buffer, '#', sizeof(buffer));
    get_edittext_string(edit, buffer, 0);
    get_edittext_string(edit, buffer, -5);
    EXPECT_EQ(buffer[0], '#') << "no room, nothing written";
    get_edittext_string(edit, buffer, 4);
    EXPECT_STREQ(buffer, "zzz");
    EXPECT_EQ(buffer[4], '#');
}

TEST_F(edittext, a_bad_record_is_refused_without_being_touched)
{
    edittext_data zeroed;
    memset(&zeroed, 0, sizeof(zeroed));
    char buffer[4] = "ok";
    expected_assertions refused(5, "is bad");
    set_edittext_string(nullptr, "x");
    get_edittext_string(&zeroed, buffer, 4);
    action_data action = typed('x');
    EXPECT_FALSE(handle_edittext_action(&zeroed, &action));
    EXPECT_FALSE(get_edittext_flag(nullptr, _no_cursor_flag));
    draw_edittext(&zeroed, screen.bitmap, true);
    EXPECT_STREQ(buffer, "ok");
    EXPECT_EQ(zeroed.string[0], 0);
}

// The pointer maps to offsets through the displayed text: a password field
// measures its mask bytes, not its (here zero-width) escapes.
TEST_F(edittext, the_pointer_places_drags_and_extends_by_what_is_shown)
{
    edittext_data *plain = make("|b|b|bxy");
    edittext_data *password = make("|b|b|bxy", _edittext_is_password_flag);
    // x + 1 - left = 14: inside the third mask byte (12..18), before its middle.
    EXPECT_EQ(edittext_offset_at_point(password, {13, 5}), 2);
    EXPECT_EQ(edittext_offset_at_point(plain, {13, 5}), 8) << "past the 12 pixels of xy";

    edittext_data *edit = make("abcdefgh");
    set_edittext_user_refcon(edit, 0);
    advance_test_clock_milliseconds(1234);
    place_cursor(edit, {11, 5});
    EXPECT_EQ(selection(edit), (selection_pair{2, 2}));
    EXPECT_EQ(get_edit_text_select_click(edit), 2);
    EXPECT_EQ(get_edittext_last_click_meaning(edit), _meant_place_cursor);
    EXPECT_EQ((uint32_t)get_edittext_user_refcon(edit), machine_tick_count());
    make_selection(edit, {29, 5}, false);
    EXPECT_EQ(selection(edit), (selection_pair{2, 5})) << "dragged right of the anchor";
    make_selection(edit, {-5, 5}, false);
    EXPECT_EQ(selection(edit), (selection_pair{0, 2})) << "left of the field: offset 0";
    make_selection(edit, {190, 5}, false);
    EXPECT_EQ(selection(edit), (selection_pair{2, 8})) << "right of the field: the end";

    select_edit_text_range(edit, 2, 5);
    make_selection(edit, {41, 5}, true);
    EXPECT_EQ(selection(edit), (selection_pair{2, 7})) << "after the end moves the end";
    make_selection(edit, {17, 5}, true);
    EXPECT_EQ(selection(edit), (selection_pair{2, 7})) << "inside changes nothing";
    make_selection(edit, {5, 5}, true);
    EXPECT_EQ(selection(edit), (selection_pair{1, 7})) << "before the start moves the start";

    // An anchor left behind by a text that has since shrunk stays inside it.
    place_cursor(edit, {41, 5});
    EXPECT_EQ(get_edit_text_select_click(edit), 7);
    select_edit_text_range(edit, 3, 8);
    delete_selection(edit); // "abc"; the anchor stays at 7
    make_selection(edit, {5, 5}, false);
    EXPECT_EQ(selection(edit), (selection_pair{1, 3})) << "the anchor at the shorter text's end";
    EXPECT_EQ(get_edit_text_select_click(edit), 3);
}

// ---- the controls ----------------------------------------------------------------------------

class edittext_control : public edittext
{
protected:
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        edittext::SetUp();
        set_probe_answers(DEFAULT_ITEM, presses_at_once());
        dialog = open_test_dialog("edit", {dialog_test_item("edit", EDIT_ITEM, edit_bounds, "hello"),
                                           dialog_test_item("pass", PASSWORD_ITEM, password_bounds, "pw"),
                                           row_item(DEFAULT_ITEM)});
        ASSERT_NE(dialog, nullptr);
        set_default_dialog_item(dialog, DEFAULT_ITEM);
        for (int16_t id : {EDIT_ITEM, PASSWORD_ITEM}) get_edittext_item_record(dialog, id)->font = font;
        set_dialog_focus(dialog, EDIT_ITEM);
        handler_calls.clear();
    }

    edittext_data *record(int16_t id) { return get_edittext_item_record(dialog, id); }
    std::string text(int16_t id)
    {
        char buffer[EDITTEXT_BUFFER_SIZE];
        get_bitmap_dialog_edit_item_text(dialog, id, buffer, (int32_t)sizeof(buffer));
        return buffer;
    }
    bool feed(action_data action) { return dialogs_handled_action(&action); }
    // The whole dialog over a black screen.
    void draw_frame(void)
    {
        screen.fill(0);
        set_dialog_dirty(dialog);
        render_dialogs(screen.bitmap);
    }
    intptr_t idle(int16_t id) { return find_control(dialog, id)->handler(_control_idle_verb, dialog, id, nullptr); }
};

TEST_F(edittext_control, the_first_press_selects_all_later_presses_place_drag_and_extend)
{
    edittext_data *edit = record(PASSWORD_ITEM);
    EXPECT_TRUE(edit->flags & _edittext_is_password_flag) << "masked from creation";
    EXPECT_TRUE(edit->flags & _draw_focus_box_flag);
    set_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, "secret");
    const int16_t y = screen_y(110);
    // Mask bytes are 6 wide: x + 1 - 20 = 14 is offset 2, 32 is offset 5.
    const int16_t at2 = screen_x(33), at5 = screen_x(51);

    feed(make_click_action(at2, y));
    EXPECT_EQ(get_dialog_focus(dialog), PASSWORD_ITEM);
    EXPECT_EQ(selection(edit), (selection_pair{0, 6})) << "focusing selects all";
    feed(make_hold_action(at5, y));
    EXPECT_EQ(selection(edit), (selection_pair{0, 6})) << "dragging the focusing press changes nothing";
    feed(make_release_action(at5, y));
    EXPECT_EQ(edit->last_click_meant, _meant_nothing);
    EXPECT_EQ(selection(record(EDIT_ITEM)), (selection_pair{5, 5})) << "the field that lost the focus";

    feed(make_click_action(at2, y));
    EXPECT_EQ(selection(edit), (selection_pair{2, 2}));
    feed(make_hold_action(at5, y));
    EXPECT_EQ(selection(edit), (selection_pair{2, 5}));
    feed(make_release_action(at5, y));

    select_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, 3, 4);
    feed(with_action_flag(make_click_action(at5, y), _shift_down_bit));
    EXPECT_EQ(selection(edit), (selection_pair{3, 5})) << "shift extends the end";
    feed(make_release_action(at5, y));
    EXPECT_TRUE(handler_calls.empty()) << "presses never fire an edit field";
    EXPECT_EQ(text(PASSWORD_ITEM), "secret");
}

TEST_F(edittext_control, the_caret_blinks_half_of_every_second_after_the_last_key)
{
    for (uint32_t start : {0u, 0xFFFFFFFFu - 700u})
    {
        SCOPED_TRACE(start);
        install_test_clock(start);
        edittext_data *edit = record(EDIT_ITEM);
        set_edittext_flag(edit, _cursor_is_visible_flag, false);
        ASSERT_TRUE(feed(key(_key_end)));
        EXPECT_EQ((uint32_t)edit->user_refcon, start);
        std::vector<std::pair<intptr_t, bool>> seen;
        uint32_t now = 0;
        for (uint32_t at : {0u, 499u, 500u, 999u, 1000u})
        {
            advance_test_clock_milliseconds(at - now);
            now = at;
            const intptr_t redraw = idle(EDIT_ITEM);
            seen.push_back({redraw, (edit->flags & _cursor_is_visible_flag) != 0});
        }
        EXPECT_EQ(seen, (std::vector<std::pair<intptr_t, bool>>{{1, true}, {0, true}, {1, false}, {0, false}, {1, true}}));
        // No caret with a selection, nor in a field without the focus.
        select_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, 0, 2);
        advance_test_clock_milliseconds(500);
        EXPECT_EQ(idle(EDIT_ITEM), 0);
        select_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, 0, 0);
        EXPECT_EQ(idle(PASSWORD_ITEM), 0);
    }
}

TEST_F(edittext_control, keys_reach_the_field_its_listener_and_the_handler_and_return_the_default_item)
{
    struct heard_keys
    {
        std::vector<int16_t> keys;
    } heard;
    set_edit_text_key_listener(
        dialog, EDIT_ITEM,
        [](dialog_data *, int16_t, action_data *action, void *context) {
            ((heard_keys *)context)->keys.push_back(action->key_code);
        },
        &heard);
    // The focus selected "hello": the first letter replaces it.
    for (char c : std::string("hi")) EXPECT_TRUE(feed(typed(c)));
    EXPECT_FALSE(feed(key(_key_q, NONE))) << "refused: not used";
    EXPECT_EQ(text(EDIT_ITEM), "hi");
    EXPECT_EQ(heard.keys, (std::vector<int16_t>{_key_q, _key_q, _key_q})) << "the listener hears refused keys too";
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{EDIT_ITEM, EDIT_ITEM})) << "the handler hears accepted keys";

    handler_calls.clear();
    EXPECT_TRUE(feed(make_key_action(_key_return, '\r')));
    action_data next = make_test_action();
    EXPECT_TRUE(handle_dialog_item_down(dialog, &next));
    EXPECT_EQ(handled_items(), std::vector<int16_t>{DEFAULT_ITEM});
    EXPECT_EQ(text(EDIT_ITEM), "hi") << "Return is not typed into the field";

    // Disabled while it has the focus: no keys, and it cannot take the focus back.
    bitmap_set_item_enabled(dialog, EDIT_ITEM, false);
    ASSERT_EQ(get_dialog_focus(dialog), EDIT_ITEM);
    handler_calls.clear();
    EXPECT_FALSE(feed(typed('x')));
    EXPECT_EQ(text(EDIT_ITEM), "hi");
    EXPECT_TRUE(handler_calls.empty());
    param_control_focus_verb gaining = {true};
    EXPECT_EQ(find_control(dialog, EDIT_ITEM)->handler(_control_focus_verb, dialog, EDIT_ITEM, &gaining), 0);
}

std::vector<action_data> records_seen;
bool record_action(action_data *action)
{
    records_seen.push_back(*action);
    return false;
}

SDL_Event sdl_key(bool down, int32_t symbol)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = event.key.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.keysym.sym = (SDLKey)symbol;
    return event;
}

// A name typed into the focused field ("dddrb": d and r turn the camera)
// reaches the field alone, through the window events, the keyboard task and
// the queue as in the game: no record, of a press or of a held key, carries
// a flag bound to a key, and a press the field has no use for stops at the
// dialogs.  Then every key: the focus stays on a field and no flag leaks.
TEST_F(edittext_control, typed_keys_stay_in_the_field_and_never_reach_the_game)
{
    records_seen.clear();
    ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, record_action));
    ASSERT_TRUE(initialize_actions());
    remove_keyboard_queue_task();
    initialize_input_device();
    set_keyboard_queue_task_state(true);
    set_dialog_focus(dialog, NONE);
    set_dialog_focus(dialog, EDIT_ITEM);
    set_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, "");
    std::vector<bool> bound(NUMBER_OF_ACTION_FLAGS, false);
    for (const control_definition &control : get_input_definition()->controls)
        if (control.device == _input_device_keyboard && control.action_bit >= 0 && control.action_bit < NUMBER_OF_ACTION_FLAGS)
            bound[control.action_bit] = true;
    const auto press = [](int32_t symbol) {
        const SDL_Event down = sdl_key(true, symbol), up = sdl_key(false, symbol);
        queue_input_event_if_necessary(&down);
        keyboard_queue_task_proc(nullptr); // held for a tick
        update_actions();
        queue_input_event_if_necessary(&up);
        keyboard_queue_task_proc(nullptr);
        update_actions();
    };
    const auto leaked = [&](void) {
        int32_t count = 0;
        for (const action_data &record : records_seen)
            for (int32_t bit = 0; bit < NUMBER_OF_ACTION_FLAGS; ++bit)
            {
                // A press carries its own modifiers for the field (Option held is one).
                const bool modifier = bit == _shift_down_bit || bit == _option_down_bit || bit == _command_down_bit ||
                                      bit == _control_down_bit;
                if (bound[bit] && test_action_flag(&record, bit) && !(modifier && record.key_code != NONE)) ++count;
            }
        return count;
    };
    for (const int32_t symbol : {SDLK_d, SDLK_d, SDLK_d, SDLK_r, SDLK_b}) press(symbol);
    EXPECT_EQ(text(EDIT_ITEM), "dddrb");
    EXPECT_EQ(records_seen.size(), 5u * 3) << "a press and two ticks each";
    EXPECT_EQ(leaked(), 0);

    const action_procedure dialogs = get_action_procedure(_action_dialogs);
    ASSERT_NE(dialogs, nullptr);
    action_data f6 = make_key_action(_key_f6, NONE);
    EXPECT_TRUE(dialogs(&f6)) << "an unused key stops at the dialogs while a field has the focus";
    set_dialog_focus(dialog, NONE);
    EXPECT_FALSE(keyboard_given_to_text_field());
    f6 = make_key_action(_key_f6, NONE);
    EXPECT_FALSE(dialogs(&f6)) << "without a focused field the game gets it";
    set_dialog_focus(dialog, EDIT_ITEM);

    records_seen.clear();
    for (int16_t code = 0; code < NUMBER_OF_KEYBOARD_DEVICE_CODES; ++code)
    {
        const int32_t symbol = sdl_key_from_internal_key_code(code);
        if (symbol <= 0) continue;
        press(symbol);
        EXPECT_TRUE(text_field_has_keyboard_focus()) << "key " << code;
    }
    EXPECT_GT(records_seen.size(), 100u);
    EXPECT_EQ(leaked(), 0);
    EXPECT_LE(text(EDIT_ITEM).size(), (size_t)EDITTEXT_BUFFER_SIZE);
}

TEST_F(edittext_control, dialog_calls_check_the_item_type)
{
    set_bitmap_dialog_edit_item_maximum_length(dialog, EDIT_ITEM, 3);
    EXPECT_EQ(text(EDIT_ITEM), "hel");
    set_edit_text_text_format(dialog, EDIT_ITEM, _draw_string_shadow_flag, false);
    EXPECT_EQ(record(EDIT_ITEM)->text_flags, _draw_string_center_vertical_flag);
    set_edit_text_flag(dialog, EDIT_ITEM, _no_cursor_flag, true);
    EXPECT_TRUE(get_edittext_flag(record(EDIT_ITEM), _no_cursor_flag));

    // The probe item is no edit field: setters ignore it, getters refuse it.
    set_bitmap_dialog_edit_item_text(dialog, DEFAULT_ITEM, "x");
    set_edit_text_flag(dialog, DEFAULT_ITEM, _no_cursor_flag, true);
    char buffer[8] = "same";
    {
        expected_assertions refused(2, "edit");
        get_bitmap_dialog_edit_item_text(dialog, DEFAULT_ITEM, buffer, (int32_t)sizeof(buffer));
        select_bitmap_dialog_edit_item_text(dialog, DEFAULT_ITEM, 0, 1);
    }
    EXPECT_STREQ(buffer, "same");
    EXPECT_STREQ(((probe_record *)find_control(dialog, DEFAULT_ITEM)->extra_data)->text, "");
}

// The frame: a focused field with its caret, a password field with a
// selection, and an empty field showing its placeholder.
TEST_F(edittext_control, a_field_draws_its_caret_selection_and_placeholder)
{
    const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    for (int16_t id : {EDIT_ITEM, PASSWORD_ITEM}) set_edittext_text_format(record(id), -1, -1, &white);
    set_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, "a|bb|pc");
    select_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, 4, 4); // after "a|bb"
    set_edit_text_flag(dialog, EDIT_ITEM, _cursor_is_visible_flag, true);
    set_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, "secret");
    select_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, 1, 4);
    draw_frame();
    std::filesystem::create_directories("pictures");
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "edittext", "png", 0));
    if (const char *keep = getenv("VESK_EDITTEXT_FRAME"))
        std::filesystem::copy_file("pictures/edittext.png", keep, std::filesystem::copy_options::overwrite_existing);

    // The caret: one column at the inner left + 2 characters + 1, the glyph
    // tops of the vertically centred line (18 inner pixels, 10 of text).
    const int32_t caret_x = screen_x(edit_bounds.left) + 1 + 2 * A + 1;
    const int32_t top = screen_y(edit_bounds.top) + 1 + 4;
    const uint32_t caret = screen.pixel(caret_x, top + 3);
    EXPECT_EQ(screen.pixel(caret_x, top - 1), screen.pixel(caret_x - 1, top - 1)) << "nothing above the line";
    // The selection box: lighter than the unselected background beside it.
    const int32_t box_y = screen_y(password_bounds.top) + 1 + 4 + 8; // below the ink, inside the box
    const int32_t box_x = screen_x(password_bounds.left) + 1 + 2 + A + 3;
    const uint32_t selected = screen.pixel(box_x, box_y), unselected = screen.pixel(box_x + 4 * A, box_y);
    EXPECT_GT(selected & 0xFF, unselected & 0xFF);

    // Hidden in the other half of the blink, the caret's column shows the background.
    set_edit_text_flag(dialog, EDIT_ITEM, _cursor_is_visible_flag, false);
    draw_frame();
    EXPECT_NE(screen.pixel(caret_x, top + 3), caret);

    // Empty with a placeholder: drawn faintly, the caret still at 0.
    static const char placeholder[] = "name";
    set_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, "");
    set_edit_text_placeholder_string(dialog, EDIT_ITEM, placeholder);
    set_edit_text_flag(dialog, EDIT_ITEM, _cursor_is_visible_flag, true);
    draw_frame();
    const int32_t ink_x = screen_x(edit_bounds.left) + 1 + 2 + 1;
    const uint32_t faint = screen.pixel(ink_x, top + 3);
    set_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, "nnnn");
    select_bitmap_dialog_edit_item_text(dialog, EDIT_ITEM, 4, 4);
    draw_frame();
    const uint32_t opaque = screen.pixel(ink_x, top + 3);
    EXPECT_LT(faint & 0xFF, opaque & 0xFF);
    EXPECT_GT(faint & 0xFF, 0u);
}

} // namespace

} // namespace edittext_test_file
