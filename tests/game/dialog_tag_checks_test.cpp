// A dialog tag is checked whole before any item is made: one identifier used
// twice (the main menu's Load Game button renumbered onto its title), a
// record not written for its type, a rectangle inside out or off the screen's
// coordinates, and items a dialog's code needs but cannot find are each
// refused with a line naming the tag and the item.  Overlapping items and the
// demo's own dialogs pass.

#include "support/dialog_harness.h"

#include "bitmap_dialogs/dialogs_private.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"

namespace dialog_tag_checks_test_file {

namespace {

using dialog_tag_checks = dialog_test;

const file_tag OTHER_TYPE = FOUR_CHARACTER_CODE('z', 'z', 'z', 'z'); // a type besides the probe

dialog_description sound_dialog(void)
{
    dialog_description d;
    d.bounds = {40, 60, 240, 360}; // 300 x 200
    d.items.push_back(probe_item(1, {10, 10, 30, 110}, "ex"));
    d.items.push_back(probe_item(2, {40, 10, 60, 110}, "why"));
    d.items.push_back(probe_item(3, {70, 10, 90, 110}, "zed"));
    return d;
}

// The 16-bit identifier of record `index` in stored dialog bytes.
void set_record_item_id(std::vector<uint8_t> *bytes, int32_t index, int16_t item_id)
{
    write_be16(bytes->data() + SIZEOF_DIALOG_HEADER + SIZEOF_FILE_CONTROL_DATA * index + 6, (uint16_t)item_id);
}

// The tag was refused: no dialog, no item made, and a code-10 line naming it
// and the item with the fault.
void expect_refused(const std::string &log, const std::string &subgroup, const std::string &line_text)
{
    const size_t line = log.find("dialog '" + subgroup + "': " + line_text);
    ASSERT_NE(line, std::string::npos) << "no line \"" << line_text << "\" for '" << subgroup << "'";
    EXPECT_NE(log.find("; refused", line), std::string::npos);
    EXPECT_NE(log.rfind(error_code_name(_error_data_corrupted), line), std::string::npos);
}

TEST_F(dialog_tag_checks, every_kind_of_damaged_record_refuses_the_whole_tag_before_any_item_is_made)
{
    struct damage_case
    {
        const char *subgroup;
        std::function<void(dialog_description *)> damage;
        std::function<void(std::vector<uint8_t> *)> patch; // on the written bytes, may be empty
        const char *line;
    };
    const damage_case cases[] = {
        {"dupl", nullptr, [](std::vector<uint8_t> *b) { set_record_item_id(b, 2, 1); },
         "item 1 is there twice (two items with one identifier)"},
        {"none", nullptr, [](std::vector<uint8_t> *b) { set_record_item_id(b, 0, NONE); },
         "item -1 has an identifier out of range"},
        {"stat", [](dialog_description *d) { d->items[1].state = 1; }, nullptr,
         "item 2 has a record that does not fit its type"},
        {"bmid", [](dialog_description *d) { d->items[2].bitmap_ids[1] = 7; }, nullptr,
         "item 3 has a record that does not fit its type"},
        {"padd", nullptr, [](std::vector<uint8_t> *b) { write_be16(b->data() + SIZEOF_DIALOG_HEADER + 4, 0x4142); },
         "item 1 has a record that does not fit its type"},
        {"insd", [](dialog_description *d) { d->items[0].bounds = {30, 10, 10, 110}; }, nullptr,
         "item 1 has a rectangle turned inside out"},
        {"wrap", [](dialog_description *d) { d->items[1].bounds = {40, 10, 60, 32767}; }, nullptr,
         "item 2 lies outside the screen's coordinates"},
    };
    for (const damage_case &c : cases)
    {
        SCOPED_TRACE(c.subgroup);
        dialog_description d = sound_dialog();
        if (c.damage) c.damage(&d);
        std::vector<uint8_t> bytes = build_dialog_tag_data(d);
        if (c.patch) c.patch(&bytes);
        store_dialog_bytes(c.subgroup, bytes);
        clear_probe_calls();
        EXPECT_EQ(new_dialog(dialog_test_code(c.subgroup), nullptr, nullptr, NONE, 0), nullptr);
        EXPECT_EQ(get_first_dialog(), nullptr);
        EXPECT_TRUE(probe_verbs().empty()) << "checked before any item is made";
        expect_refused(log_text(), c.subgroup, c.line);
    }

    // What is allowed: the same rectangle twice, one item inside another,
    // items crossing, and items beyond the dialog's rectangle.
    dialog_description layered = sound_dialog();
    layered.items.push_back(probe_item(4, {10, 10, 30, 110}, "same place as 1"));
    layered.items.push_back(probe_item(5, {0, 0, 200, 300}, "a frame round them all"));
    layered.items.push_back(probe_item(6, {20, 50, 50, 200}, "across 1 and 2"));
    layered.items.push_back(probe_item(7, {0, 0, 0, 0}, "empty, at the corner"));
    layered.items.push_back(probe_item(8, {190, 280, 260, 400}, "past the corner"));
    EXPECT_NE(open_dialog("layr", layered), nullptr);
}

// The main menu's own tag as the data tool makes it, with the Load Game
// button's identifier (item 5, the fifth record) changed to 1, the title's:
// the title's static text found the button's record as its own and the game
// crashed at start-up.  Now the tag is refused and nothing is made.
TEST_F(dialog_tag_checks, the_main_menu_with_its_load_game_button_renumbered_onto_its_title_is_refused)
{
    const std::vector<test_tag> *demo = demo_map_tags();
    ASSERT_NE(demo, nullptr);
    const test_tag *menu = nullptr;
    for (const test_tag &t : *demo)
        if (t.group_tag == DIALOG_GROUP_TAG && t.subgroup_tag == dialog_test_code("mmnu")) menu = &t;
    ASSERT_NE(menu, nullptr);
    std::vector<uint8_t> bytes = menu->data;
    ASSERT_EQ(read_be16(bytes.data() + SIZEOF_DIALOG_HEADER + SIZEOF_FILE_CONTROL_DATA * 4 + 6), 5);
    set_record_item_id(&bytes, 4, 1);

    store_dialog_bytes("mmnu", bytes);
    EXPECT_EQ(new_dialog(dialog_test_code("mmnu"), nullptr, nullptr, NONE, 0), nullptr);
    EXPECT_EQ(get_first_dialog(), nullptr);
    expect_refused(log_text(), "mmnu", "item 1 is there twice");
}

// Every dialog the data tool makes from the demo's sources and the tests'
// own passes the checks.
TEST_F(dialog_tag_checks, every_dialog_the_data_tool_makes_passes)
{
    std::string tool;
    REQUIRE_DATA_TOOL(tool);
    const std::vector<test_tag> *demo = demo_map_tags();
    ASSERT_NE(demo, nullptr);
    std::vector<test_tag> tags = *demo;
    ASSERT_TRUE(make_test_dialog_tags(tool, &tags));
    int32_t dialogs = 0;
    for (const test_tag &t : tags)
    {
        if (t.group_tag != DIALOG_GROUP_TAG) continue;
        SCOPED_TRACE(t.name);
        dialog_data *dialog = new_dialog_from_tag_data(t.subgroup_tag, t.data.data(), (int32_t)t.data.size(), NONE,
                                                       nullptr, nullptr, NONE, 0);
        EXPECT_NE(dialog, nullptr);
        if (dialog) dispose_dialog(dialog);
        ++dialogs;
    }
    EXPECT_GE(dialogs, 11);
}

// Appended items are checked against the dialog they join; the items its
// code needs are checked once the dialog is made; a control asking for its
// record by identifier and type never gets another type's.
TEST_F(dialog_tag_checks, appended_tags_required_items_and_typed_lookups_are_checked)
{
    dialog_description gap;
    gap.bounds = {0, 0, 100, 100};
    gap.items.push_back(probe_item(2, {0, 0, 10, 10}));
    dialog_data *dialog = open_dialog("gapp", gap);
    ASSERT_NE(dialog, nullptr);
    dialog_description more;
    more.bounds = {0, 0, 100, 100};
    more.items.push_back(probe_item(1, {20, 0, 30, 10})); // base 1: becomes item 2
    store_dialog("more", more);
    append_ditl(dialog, dialog_test_code("more"));
    EXPECT_EQ(get_dialog_item_count(dialog), 1);
    expect_refused(log_text(), "more", "item 2 is already an item of the dialog it is added to");

    dialog_data *menu = open_dialog("need", sound_dialog());
    ASSERT_NE(menu, nullptr);
    const dialog_item_requirement present[] = {{1, PROBE_CONTROL_TAG}, {3, PROBE_CONTROL_TAG}};
    EXPECT_TRUE(dialog_has_items(menu, present, 2));
    const dialog_item_requirement missing[] = {{1, PROBE_CONTROL_TAG}, {4, PROBE_CONTROL_TAG}};
    EXPECT_FALSE(dialog_has_items(menu, missing, 2));
    expect_refused(log_text(), "need", "item 4 ('tprb') that its code needs is missing");
    const dialog_item_requirement retyped[] = {{2, OTHER_TYPE}};
    EXPECT_FALSE(dialog_has_items(menu, retyped, 1));
    expect_refused(log_text(), "need", "item 2 ('zzzz') that its code needs is of another type");

    // Two items with one identifier, as only code can make them now: each
    // type finds its own.
    file_control_data second = {};
    second.tag = (uint32_t)OTHER_TYPE;
    second.item_id = 2;
    register_control_procedure(OTHER_TYPE, default_control_handler);
    control_data *other = new_control(menu, &second, "other", 0);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(find_control(menu, 2), other) << "the newer item is first in the list";
    const control_data *probe = find_control_of_type(menu, 2, probe_control_def_proc);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->tag, PROBE_CONTROL_TAG);
    EXPECT_EQ(find_control_of_type(menu, 2, default_control_handler), other);
    {
        expected_assertions expect(1, "control");
        EXPECT_EQ(find_control_of_type(menu, 9, probe_control_def_proc), nullptr);
    }
}

} // namespace

} // namespace dialog_tag_checks_test_file
