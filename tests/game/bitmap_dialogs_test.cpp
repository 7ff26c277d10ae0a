// Dialogs loaded from stored dialog tags: the item order and texts, what the
// create verb alone sees, refusal of malformed tags, appending and shortening,
// replacing and deleting items (and what named them), cancelled presses,
// default and cancel items, centring, the "UI" settings, the cookie checks
// and the deferred free of a dialog disposed during a dispatch.

#include "support/dialog_harness.h"

#include <cstring>

#include "bitmap_dialogs/dialogs_private.h"
#include "iniparser3.0b/inifile.h"
#include "support/expected_assertions.h"
#include "vesk/string_lists.h"

namespace bitmap_dialogs_test_file {

namespace {

using dialog_core = dialog_test;

dialog_description three_items(void)
{
    dialog_description d;
    d.bounds = {40, 60, 240, 360};
    d.items.push_back(probe_item(1, {10, 10, 30, 110}, "ex", 0x0007));
    d.items.push_back(probe_item(2, {40, 10, 60, 110}, "why"));
    d.items.push_back(probe_item(3, {70, 10, 90, 110}, "zed"));
    return d;
}

std::vector<int16_t> list_ids(const dialog_data *dialog)
{
    std::vector<int16_t> ids;
    for (const control_data *c = get_first_dialog_control(dialog); c; c = c->next) ids.push_back(c->item_id);
    return ids;
}

// Forgets what creation marked dirty, as a drawn frame would.
void forget_dirt(dialog_data *dialog)
{
    dialog->dirty_bounds = {32767, 32767, -32768, -32768};
    dialog->private_flags &= ~_dialog_has_dirty_background_controls_flag;
    for (control_data *c = dialog->first_control; c; c = c->next)
        c->flags &= ~(_control_dirty_flag | _control_background_dirty_flag);
}

const uint16_t redraw_flags = _control_dirty_flag | _control_background_dirty_flag;

std::vector<std::string> created_texts(void)
{
    std::vector<std::string> texts;
    for (const probe_call &c : probe_calls())
        if (c.verb == _control_new_verb) texts.push_back(c.text);
    return texts;
}

TEST_F(dialog_core, a_tag_loads_its_records_in_reverse_order_with_their_inline_texts_and_bounds)
{
    probe_answers focus;
    focus.accepts_focus = true;
    set_probe_answers(1, focus);
    set_probe_answers(2, focus);
    dialog_data *dialog = open_dialog("thre", three_items());
    ASSERT_NE(dialog, nullptr);

    EXPECT_EQ(list_ids(dialog), (std::vector<int16_t>{3, 2, 1})) << "the tag's first record is the tail";
    EXPECT_EQ(created_texts(), (std::vector<std::string>{"ex", "why", "zed"}));
    const std::vector<int16_t> verbs = probe_verbs(1);
    ASSERT_GE(verbs.size(), 3u);
    EXPECT_EQ(std::vector<int16_t>(verbs.begin(), verbs.begin() + 3),
              (std::vector<int16_t>{_control_new_verb, _control_new_completion_verb, _control_requires_idle_time_verb}));
    rectangle2d bounds;
    get_dialog_bounds(dialog, &bounds);
    EXPECT_EQ(bounds.top, 40);
    EXPECT_EQ(bounds.right, 360);
    get_dialog_item_bounds(dialog, 2, &bounds);
    EXPECT_EQ(bounds.top, 40);
    EXPECT_EQ(bounds.bottom, 60);
    EXPECT_EQ(get_dialog_focus(dialog), 2) << "the forward search starts at the tag's last item";
    EXPECT_EQ(get_bitmap_item_tag(dialog, 3), PROBE_CONTROL_TAG);
    EXPECT_EQ(dialog->cookie, (int32_t)DIALOG_COOKIE);
    EXPECT_EQ(dialog->tag, dialog_test_code("thre"));
    EXPECT_TRUE(get_dialog_bounds_from_file(dialog_test_code("thre"), &bounds));
    EXPECT_EQ(bounds.left, 60);
    EXPECT_FALSE(get_dialog_bounds_from_file(dialog_test_code("thre"), nullptr));
    EXPECT_FALSE(get_dialog_bounds_from_file(dialog_test_code("gone"), &bounds));
}

TEST_F(dialog_core, the_records_flags_reach_only_the_create_verb)
{
    probe_answers idle;
    idle.wants_idle = true;
    set_probe_answers(3, idle);
    dialog_description d = three_items();
    d.items[2].flags = _control_has_no_delay_flag | _control_checked_flag;
    dialog_data *dialog = open_dialog("flag", d);
    ASSERT_NE(dialog, nullptr);

    const std::vector<probe_call> created = probe_calls_for(1, _control_new_verb);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].definition.flags, 0x0007);
    EXPECT_EQ(created[0].definition.tag, (uint32_t)PROBE_CONTROL_TAG);
    EXPECT_EQ(probe_calls_for(1, _control_new_completion_verb).at(0).item_flags, 0) << "cleared before verb 1";
    EXPECT_EQ(find_control(dialog, 1)->flags & ~redraw_flags, 0);
    EXPECT_EQ(find_control(dialog, 3)->flags & ~redraw_flags, _control_requires_idle_time_flag);
    EXPECT_TRUE(bitmap_get_item_visible(dialog, 1));
    EXPECT_TRUE(bitmap_get_item_enabled(dialog, 1));
    EXPECT_NE(get_dialog_item_extra_data(dialog, 1), nullptr);
    EXPECT_STREQ(((const probe_record *)get_dialog_item_extra_data(dialog, 1))->text, "ex");
}

TEST_F(dialog_core, a_dialog_string_list_gives_the_texts_by_identifier)
{
    dialog_description d = three_items();
    store_dialog("ditl", d);
    store_dialog_string_list("ditl", {"one", "two", "three"});
    dialog_data *dialog = new_dialog(dialog_test_code("ditl"), nullptr, nullptr, NONE, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(created_texts(), (std::vector<std::string>{"one", "two", "three"}));
}

// What a broken tag does: refused whole (NULL, one code-10 line) or loaded
// as far as it is sound, never read past its end (ASan).
TEST_F(dialog_core, malformed_tags_are_refused_or_load_what_is_sound)
{
    const std::vector<uint8_t> good = build_dialog_tag_data(three_items());
    struct refused_case
    {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<refused_case> refused;
    {
        std::vector<uint8_t> b = good;
        write_be16(b.data(), 2);
        refused.push_back({"vers", b});
        b = good;
        write_be16(b.data() + 2, 0xFFFF);
        refused.push_back({"negc", b});
        b = good;
        write_be16(b.data() + 2, 4);
        refused.push_back({"bigc", std::vector<uint8_t>(b.begin(), b.begin() + 12 + 24 * 3 + 5)});
        refused.push_back({"shrt", std::vector<uint8_t>(good.begin(), good.begin() + 11)});
    }
    for (const refused_case &c : refused)
    {
        SCOPED_TRACE(c.name);
        store_dialog_bytes(c.name, c.bytes);
        clear_probe_calls();
        EXPECT_EQ(new_dialog(dialog_test_code(c.name), nullptr, nullptr, NONE, 0), nullptr);
        EXPECT_EQ(get_first_dialog(), nullptr);
        const std::string log = log_text();
        const size_t line = log.find(std::string("dialog '") + c.name + "': ");
        ASSERT_NE(line, std::string::npos);
        EXPECT_NE(log.find("; refused", line), std::string::npos);
        EXPECT_NE(log.rfind(error_code_name(_error_data_corrupted), line), std::string::npos);
        // every item made before the refusal was disposed again (LSan would see its record)
        EXPECT_EQ(probe_verbs().size(), 0u) << "header faults are found before any item is made";
    }
    EXPECT_NE(log_text().find("dialog 'vers': not of version 1; refused"), std::string::npos);

    // Texts cut short: the records load, the missing texts read as "".
    std::vector<uint8_t> cut(good.begin(), good.end() - 6); // "zed\0" and the 0 of "why" gone
    store_dialog_bytes("cutt", cut);
    clear_probe_calls();
    dialog_data *dialog = new_dialog(dialog_test_code("cutt"), nullptr, nullptr, NONE, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(created_texts(), (std::vector<std::string>{"ex", "", ""}));
    EXPECT_NE(log_text().find("text block is short"), std::string::npos);

    // An unknown type code: that item is skipped, the others load.
    dialog_description unknown = three_items();
    unknown.items[1].type = dialog_test_code("zzzz");
    dialog = open_dialog("unkn", unknown);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(list_ids(dialog), (std::vector<int16_t>{3, 1}));
    EXPECT_NE(log_text().find("'zzzz', which has no procedure; skipped"), std::string::npos);
}

int open_missing_dialog(const void *)
{
    new_dialog(dialog_test_code("gone"), nullptr, nullptr, NONE, 0);
    return 0;
}

TEST_F(dialog_core, a_missing_dialog_tag_ends_the_program)
{
    const int status = run_in_child(open_missing_dialog, nullptr, 20);
    EXPECT_EQ(exit_code_of(status), 255);
    EXPECT_NE(log_text().find("Unable to find dialog definiton 'gone'."), std::string::npos);
}

TEST_F(dialog_core, appending_numbers_after_the_items_and_shortening_disposes_those_above)
{
    dialog_description five;
    five.bounds = {0, 0, 200, 200};
    for (int16_t i = 1; i <= 5; ++i) five.items.push_back(probe_item(i, {0, 0, 10, 10}, "five"));
    dialog_description more;
    more.bounds = {1, 1, 2, 2};
    more.items.push_back(probe_item(1, {20, 0, 30, 10}, "first"));
    more.items.push_back(probe_item(2, {30, 0, 40, 10}, "second"));
    store_dialog("more", more);
    dialog_data *dialog = open_dialog("five", five);
    ASSERT_NE(dialog, nullptr);

    clear_probe_calls();
    append_ditl(dialog, dialog_test_code("more"));
    EXPECT_EQ(get_dialog_item_count(dialog), 7);
    EXPECT_EQ(created_texts(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(probe_calls_for(6, _control_new_verb).size(), 1u);
    EXPECT_EQ(probe_calls_for(6, _control_new_verb)[0].definition.item_id, 6);
    EXPECT_EQ(probe_calls_for(7, _control_new_verb)[0].text, "second");
    EXPECT_EQ(dialog->bounds.bottom, 200) << "the bounds stay";

    clear_probe_calls();
    shorten_ditl(dialog, 4);
    EXPECT_EQ(list_ids(dialog), (std::vector<int16_t>{4, 3, 2, 1}));
    std::vector<int16_t> disposed;
    for (const probe_call &c : probe_calls())
        if (c.verb == _control_dispose_verb) disposed.push_back(c.item_id);
    EXPECT_EQ(disposed, (std::vector<int16_t>{7, 6, 5}));
}

TEST_F(dialog_core, replacing_or_deleting_an_item_disposes_it_and_forgets_what_named_it)
{
    dialog_data *dialog = open_dialog("repl", three_items());
    ASSERT_NE(dialog, nullptr);
    void *old_record = get_dialog_item_extra_data(dialog, 2);
    dialog->item_inside = dialog->item_clicked = dialog->text_target_item = 2;
    dialog->default_item = dialog->cancel_item = 2;
    dialog->delay = 3;

    clear_probe_calls();
    const rectangle2d bounds = {5, 6, 7, 8};
    control_data *control = new_unpressed_control(dialog, PROBE_CONTROL_TAG, 2, &bounds, "again");
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(probe_calls().size() >= 2, true);
    EXPECT_EQ(probe_calls()[0].verb, _control_dispose_verb);
    EXPECT_EQ(probe_calls()[0].data, old_record);
    EXPECT_EQ(probe_calls_for(2, _control_new_verb).at(0).text, "again");
    EXPECT_EQ(get_dialog_item_count(dialog), 3);
    EXPECT_EQ(list_ids(dialog).front(), 2) << "made like any item: at the head";
    EXPECT_TRUE(control->flags & _control_has_hardcoded_modifications_flag);
    EXPECT_EQ(control->bounds.right, 8);
    EXPECT_EQ(dialog->item_inside, NONE);
    EXPECT_EQ(dialog->item_clicked, NONE);
    EXPECT_EQ(dialog->delay, 0);
    EXPECT_EQ(dialog->text_target_item, NONE);
    EXPECT_EQ(dialog->default_item, NONE);
    EXPECT_EQ(dialog->cancel_item, NONE);

    dialog->item_inside = dialog->item_clicked = dialog->text_target_item = 3;
    dialog->default_item = dialog->cancel_item = 3;
    clear_probe_calls();
    delete_control(dialog, 3);
    EXPECT_EQ(probe_verbs(), (std::vector<int16_t>{_control_dispose_verb}));
    EXPECT_EQ(list_ids(dialog), (std::vector<int16_t>{2, 1}));
    EXPECT_EQ(dialog->item_inside, NONE);
    EXPECT_EQ(dialog->item_clicked, NONE);
    EXPECT_EQ(dialog->text_target_item, NONE);
    EXPECT_EQ(dialog->default_item, NONE);
    EXPECT_EQ(dialog->cancel_item, NONE);

    make_control_frontmost(dialog, 2);
    EXPECT_EQ(list_ids(dialog), (std::vector<int16_t>{1, 2}));
    {
        expected_assertions expect(1, "control");
        delete_control(dialog, 9);
    }
}

// Items whose identifier is 0 or below are disposed like any other: the
// probe's records would leak otherwise (LSan).
TEST_F(dialog_core, disposing_a_dialog_disposes_every_item_whatever_its_identifier)
{
    dialog_description d;
    d.bounds = {0, 0, 50, 50};
    d.items.push_back(probe_item(0, {0, 0, 10, 10}));
    d.items.push_back(probe_item(-3, {0, 0, 10, 10}));
    d.items.push_back(probe_item(1, {0, 0, 10, 10}));
    dialog_data *dialog = open_dialog("zero", d);
    ASSERT_NE(dialog, nullptr);
    clear_probe_calls();
    dispose_dialog(dialog);
    EXPECT_EQ(probe_calls_for(0, _control_dispose_verb).size(), 1u);
    EXPECT_EQ(probe_calls_for(-3, _control_dispose_verb).size(), 1u);
    EXPECT_EQ(probe_calls_for(1, _control_dispose_verb).size(), 1u);
    EXPECT_EQ(get_first_dialog(), nullptr);
}

TEST_F(dialog_core, hiding_or_disabling_the_pressed_item_cancels_the_press)
{
    for (const bool hide : {true, false})
    {
        SCOPED_TRACE(hide ? "hide" : "disable");
        dialog_data *dialog = open_dialog("pres", three_items());
        ASSERT_NE(dialog, nullptr);
        control_data *control = find_control(dialog, 2);
        dialog->item_inside = dialog->item_clicked = 2;
        dialog->delay = 3;
        dialog->delay_was_set = true;
        control->state = _control_pressed;
        clear_probe_calls();
        if (hide) bitmap_set_item_visible(dialog, 2, false);
        else bitmap_set_item_enabled(dialog, 2, false);
        EXPECT_EQ(dialog->item_inside, NONE);
        EXPECT_EQ(dialog->item_clicked, NONE);
        EXPECT_EQ(dialog->delay, 0);
        EXPECT_FALSE(dialog->delay_was_set);
        EXPECT_EQ(control->state, _control_unpressed);
        const std::vector<probe_call> told = probe_calls_for(2, _control_accept_new_state_verb);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].enabled, hide ? -1 : 0);
        EXPECT_EQ(told[0].visible, hide ? 0 : -1);
        EXPECT_EQ(hide ? bitmap_get_item_visible(dialog, 2) : bitmap_get_item_enabled(dialog, 2), false);

        // The same state again changes nothing and tells nobody.
        clear_probe_calls();
        if (hide) bitmap_set_item_visible(dialog, 2, false);
        else bitmap_set_item_enabled(dialog, 2, false);
        EXPECT_TRUE(probe_calls().empty());
        dispose_dialog(dialog);
    }
    dialog_data *dialog = open_dialog("miss", three_items());
    expected_assertions expect(1, "Item 9 doesn't exist");
    bitmap_set_item_enabled(dialog, 9, false);
}

TEST_F(dialog_core, default_and_cancel_items_redraw_the_old_and_the_new_item)
{
    dialog_data *dialog = open_dialog("dflt", three_items());
    ASSERT_NE(dialog, nullptr);
    set_dialog_item_keyboard_equivalent(dialog, 1, 'a', 40);
    set_default_dialog_item(dialog, 3);
    EXPECT_EQ(get_dialog_default_item(dialog), 3);
    forget_dirt(dialog);

    set_default_dialog_item(dialog, 1);
    EXPECT_EQ(get_dialog_default_item(dialog), 1);
    EXPECT_EQ(find_control(dialog, 1)->keyboard_equivalent, NONE) << "Return is its key now";
    EXPECT_EQ(find_control(dialog, 1)->keyboard_flag_mask, NONE);
    EXPECT_TRUE(find_control(dialog, 3)->flags & _control_dirty_flag) << "the old default";
    EXPECT_TRUE(find_control(dialog, 1)->flags & _control_dirty_flag) << "the new default";

    set_dialog_cancel_item(dialog, 2);
    forget_dirt(dialog);
    set_dialog_cancel_item(dialog, 3);
    EXPECT_EQ(dialog->cancel_item, 3);
    EXPECT_TRUE(find_control(dialog, 2)->flags & _control_dirty_flag);
    EXPECT_TRUE(find_control(dialog, 3)->flags & _control_dirty_flag);
    set_dialog_cancel_item(dialog, NONE);
    EXPECT_EQ(dialog->cancel_item, NONE);
}

TEST_F(dialog_core, centring_places_the_dialog_by_its_flags)
{
    const struct
    {
        uint16_t flags;
        int16_t top, left;
        bool vertical, horizontal;
    } cases[] = {
        {_dialog_is_centered_flag, 190, 220, true, true},
        {_dialog_is_hcentered_flag, 10, 220, false, true},
        {_dialog_is_vcentered_flag, 190, 30, true, false},
        {_dialog_is_hcentered_flag | _dialog_is_vcentered_flag, 190, 220, true, true},
        {_dialog_is_centered_flag | _dialog_is_hcentered_flag, 10, 220, false, true},
        {0, 10, 30, false, false},
    };
    dialog_description d;
    d.bounds = {10, 30, 110, 230};
    store_dialog("cent", d);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.flags);
        dialog_data *dialog = new_dialog(dialog_test_code("cent"), nullptr, nullptr, NONE, c.flags);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->bounds.top, c.top);
        EXPECT_EQ(dialog->bounds.left, c.left);
        EXPECT_EQ(dialog->bounds.bottom - dialog->bounds.top, 100);
        EXPECT_EQ(dialog->bounds.right - dialog->bounds.left, 200);
        // idle_dialogs keeps it there after a move.
        const rectangle2d moved = {0, 0, 100, 200};
        move_dialog(dialog, &moved);
        idle_dialogs();
        EXPECT_EQ(dialog->bounds.top, c.vertical ? c.top : 0);
        EXPECT_EQ(dialog->bounds.left, c.horizontal ? c.left : 0);
        dispose_dialog(dialog);
    }
    rectangle2d r;
    EXPECT_FALSE(get_popup_dialog_union_rect(&r));
    dialog_data *a = new_dialog(dialog_test_code("cent"), nullptr, nullptr, NONE, _dialog_is_centered_flag);
    dialog_data *b = new_dialog(dialog_test_code("cent"), nullptr, nullptr, NONE, 0);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(get_popup_dialog_union_rect(&r));
    EXPECT_EQ(r.left, 220);
    EXPECT_EQ(r.top, 190);
    const rectangle2d corner = {0, 0, 11, 31};
    const rectangle2d away = {400, 600, 480, 640};
    EXPECT_TRUE(dialog_exists_in_rectangle(&corner));
    EXPECT_FALSE(dialog_exists_in_rectangle(&away));
    set_dialog_visible(b, false);
    EXPECT_FALSE(dialog_exists_in_rectangle(&corner));
}

TEST_F(dialog_core, a_custom_game_resolution_needs_at_least_640_by_480)
{
    const struct
    {
        const char *text;
        bool valid;
        int32_t width;
    } cases[] = {
        {"[UI]\nGameWidth=639\nGameHeight=480\n", false, 639},
        {"[UI]\nGameWidth=640\nGameHeight=480\n", true, 640},
        {"[UI]\nGameWidth=800\nGameHeight=479\n", false, 800},
        {"", false, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(load_poweruser_settings_from_buffer(c.text, strlen(c.text)));
        forget_dialog_settings();
        int32_t width = -1, height = -1;
        EXPECT_EQ(get_custom_game_resolution(&width, &height), c.valid);
        EXPECT_EQ(width, c.width);
    }
    dispose_poweruser_settings();
    forget_dialog_settings();
}

TEST_F(dialog_core, calls_with_a_null_foreign_or_disposed_dialog_are_refused_with_neutral_answers)
{
    dialog_data *dialog = open_dialog("cook", three_items());
    ASSERT_NE(dialog, nullptr);
    dialog_data foreign;
    memcpy((void *)&foreign, (const void *)dialog, sizeof(foreign)); // even with the right cookie
    {
        expected_assertions expect(6, "dialog->cookie== DIALOG_COOKIE");
        EXPECT_EQ(get_dialog_item_count(&foreign), 0);
        EXPECT_EQ(find_control(&foreign, 1), nullptr);
        EXPECT_EQ(get_dialog_item_refcon(&foreign, 1), -1);
        EXPECT_EQ(get_dialog_focus(&foreign), NONE);
        dispose_dialog(&foreign);
        set_dialog_item_refcon(&foreign, 1, 5);
    }
    {
        expected_assertions expect(2, "dialog");
        EXPECT_EQ(get_first_dialog_control(nullptr), nullptr);
        EXPECT_EQ(get_bitmap_item_tag(nullptr, 1), (file_tag)NONE);
    }
    EXPECT_EQ(get_dialog_item_count(dialog), 3) << "the real one is untouched";

    // Disposed inside a dispatch: unlinked and refused at once, freed when it ends.
    begin_dialog_dispatch();
    dispose_dialog(dialog);
    EXPECT_FALSE(dialog_is_open(dialog));
    EXPECT_EQ(dialog->cookie, 0) << "still readable until the dispatch ends";
    {
        expected_assertions expect(1, "dialog->cookie== DIALOG_COOKIE");
        dispose_dialog(dialog);
    }
    end_dialog_dispatch();
    {
        expected_assertions expect(1, "dialog->cookie== DIALOG_COOKIE");
        EXPECT_EQ(get_dialog_item_count(dialog), 0) << "a freed dialog is refused without being read";
    }
}

TEST_F(dialog_core, item_values_refcons_and_missing_items)
{
    dialog_data *dialog = open_dialog("refc", three_items());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(get_dialog_item_refcon(dialog, 2), 0);
    set_dialog_item_refcon(dialog, 2, -77);
    EXPECT_EQ(get_dialog_item_refcon(dialog, 2), -77);
    expected_assertions expect(6, "control");
    EXPECT_EQ(get_dialog_item_refcon(dialog, 9), -1);
    set_dialog_item_refcon(dialog, 9, 1);
    EXPECT_EQ(get_dialog_item_extra_data(dialog, 9), nullptr);
    EXPECT_FALSE(bitmap_get_item_visible(dialog, 9));
    EXPECT_FALSE(bitmap_get_item_enabled(dialog, 9));
    EXPECT_EQ(get_bitmap_item_tag(dialog, 9), (file_tag)NONE);
}

TEST_F(dialog_core, idle_time_goes_to_the_items_that_ask_and_a_nonzero_answer_redraws)
{
    probe_answers idle;
    idle.wants_idle = true;
    idle.idle_redraws = true;
    set_probe_answers(1, idle);
    idle.idle_redraws = false;
    set_probe_answers(2, idle);
    dialog_data *dialog = open_dialog("idle", three_items());
    ASSERT_NE(dialog, nullptr);
    forget_dirt(dialog);
    clear_probe_calls();
    idle_dialogs();
    EXPECT_EQ(probe_verbs(1), (std::vector<int16_t>{_control_idle_verb}));
    EXPECT_EQ(probe_verbs(2), (std::vector<int16_t>{_control_idle_verb}));
    EXPECT_TRUE(probe_verbs(3).empty());
    EXPECT_TRUE(find_control(dialog, 1)->flags & _control_dirty_flag);
    EXPECT_FALSE(find_control(dialog, 2)->flags & _control_dirty_flag);

    // An idle verb that removes the other item asking for idle time: the
    // removed one gets no idle verb (and is never read again).
    set_probe_hook([](const probe_call &call) {
        if (call.verb == _control_idle_verb) delete_control(call.dialog, call.item_id == 1 ? 2 : 1);
    });
    clear_probe_calls();
    idle_dialogs();
    const auto idle_verbs = [](int16_t item_id) {
        int32_t count = 0;
        for (int16_t verb : probe_verbs(item_id)) count += verb == _control_idle_verb;
        return count;
    };
    EXPECT_EQ(idle_verbs(1) + idle_verbs(2), 1);
    EXPECT_EQ(get_dialog_item_count(dialog), 2);

    // An item whose idle verb disposes of its own dialog ends the walk safely.
    set_probe_hook([](const probe_call &call) {
        if (call.verb == _control_idle_verb) dispose_dialog(call.dialog);
    });
    idle_dialogs();
    EXPECT_EQ(get_first_dialog(), nullptr);
}

TEST_F(dialog_core, dialogs_stack_front_to_back_and_close_all_logs_each)
{
    dialog_description d;
    d.bounds = {0, 0, 10, 10};
    store_dialog("stak", d);
    dialog_data *a = new_dialog(dialog_test_code("stak"), nullptr, nullptr, NONE, 0);
    dialog_data *b = new_dialog(dialog_test_code("stak"), nullptr, nullptr, NONE, 0);
    dialog_data *c = new_dialog(dialog_test_code("stak"), nullptr, nullptr, NONE, _dialog_bottom_zorder_flag);
    EXPECT_EQ(get_first_dialog(), c);
    EXPECT_EQ(get_last_dialog(), b);
    EXPECT_EQ(c->next, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->prev, a);
    close_all_dialogs();
    EXPECT_EQ(get_first_dialog(), nullptr);
    const std::string log = log_text();
    size_t count = 0;
    const std::string line = "dialog 'stak' (at 0,0 to 10,10) was still open at exit: closed";
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
}

} // namespace

} // namespace bitmap_dialogs_test_file
