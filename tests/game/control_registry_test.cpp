// The control registry (codes are case-sensitive, unbuilt types left out)
// and the default control procedure: the text copy of the create verb, the
// press tracking of the click verb, and the halt on an unknown verb.

#include "support/dialog_harness.h"

#include <cstdlib>
#include <cstring>

#include "cseries/registration.h"
#include "register_vesk_controls.h"
#include "support/expected_assertions.h"

namespace control_registry_test_file {

namespace {

intptr_t first_procedure(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter) { return 1; }
intptr_t second_procedure(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter) { return 2; }

// (A second procedure for a code, or a null one, is refused as by every
// registration list: registration_test.)
TEST(control_registry, codes_are_case_sensitive_and_the_start_up_leaves_unbuilt_types_out)
{
    clear_all_registrations();
    const file_tag upper = FOUR_CHARACTER_CODE('S', 'T', 'A', 'T'), lower = FOUR_CHARACTER_CODE('s', 't', 'a', 't');
    EXPECT_TRUE(register_control_procedure(upper, first_procedure));
    EXPECT_TRUE(register_control_procedure(lower, second_procedure));
    EXPECT_EQ(find_control_handler(upper), first_procedure);
    EXPECT_EQ(find_control_handler(lower), second_procedure);

    // The start-up registration leaves codes without a built control out, so
    // items of those types are skipped rather than made with no procedure.
    clear_all_registrations();
    register_vesk_controls();
    EXPECT_NE(find_control_handler(FOUR_CHARACTER_CODE('b', 'u', 't', 't')), nullptr);
    EXPECT_EQ(find_control_handler(FOUR_CHARACTER_CODE('p', 'b', 'l', 'i')), nullptr);
    clear_all_registrations();
}

TEST(control_registry, the_default_procedure_copies_the_text_and_frees_it)
{
    file_control_data definition;
    memset(&definition, 0, sizeof(definition));
    param_control_new_verb created = {&definition, "caption"};
    char *copy = (char *)default_control_handler(_control_new_verb, nullptr, 1, &created);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "caption");
    EXPECT_NE(copy, created.text);
    param_control_dispose_verb disposed = {copy};
    default_control_handler(_control_dispose_verb, nullptr, 1, &disposed); // LSan sees a leak otherwise

    created.text = nullptr;
    copy = (char *)default_control_handler(_control_new_verb, nullptr, 1, &created);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "") << "no text reads as empty";
    disposed.data = copy;
    default_control_handler(_control_dispose_verb, nullptr, 1, &disposed);

    for (int16_t verb : {1, 4, 5, 6, 7, 8, 9, 10})
        EXPECT_EQ(default_control_handler(verb, nullptr, 1, nullptr), 0) << verb;
    expected_assertions expect(1, "halt: What is verb: 11?");
    EXPECT_EQ(default_control_handler(NUMBER_OF_CONTROL_VERBS, nullptr, 1, nullptr), 0);
}

using default_press = dialog_test;

// Press inside, drag out, come back, release inside: the press completes
// exactly once, on the release; a release outside completes nothing.
TEST_F(default_press, tracking_completes_once_on_a_release_inside_the_item)
{
    dialog_description d;
    d.bounds = {0, 0, 200, 200};
    d.items.push_back(probe_item(1, {10, 10, 30, 110}));
    dialog_data *dialog = open_dialog("prss", d);
    ASSERT_NE(dialog, nullptr);
    control_data *item = find_control(dialog, 1);

    struct step
    {
        int16_t x, y;
        bool down;
        uint16_t state;
        intptr_t result;
        bool redrawn;
    } const steps[] = {
        {50, 20, true, _control_pressed, 0, true},    // press inside
        {50, 20, true, _control_pressed, 0, false},   // held: no change
        {150, 20, true, _control_unpressed, 0, true}, // dragged out
        {109, 29, true, _control_pressed, 0, true},   // back in (right and bottom exclusive)
        {50, 20, false, _control_unpressed, 1, true}, // released inside: fires
        {50, 20, true, _control_pressed, 0, true},    // a second press
        {110, 20, false, _control_unpressed, 0, true}, // released just outside
    };
    for (const step &s : steps)
    {
        SCOPED_TRACE(testing::Message() << s.x << "," << s.y << (s.down ? " down" : " up"));
        item->flags &= ~_control_dirty_flag;
        action_data action;
        memset(&action, 0, sizeof(action));
        action.pointer = {s.x, s.y};
        action.ascii_code = action.key_code = NONE;
        if (s.down) action.flags[_left_mouse_down_bit / 32] |= FLAG(_left_mouse_down_bit % 32);
        param_control_click_verb click = {&action};
        EXPECT_EQ(default_control_handler(_control_click_verb, dialog, 1, &click), s.result);
        EXPECT_EQ(item->state, s.state);
        EXPECT_EQ((item->flags & _control_dirty_flag) != 0, s.redrawn);
    }
}

} // namespace

} // namespace control_registry_test_file
