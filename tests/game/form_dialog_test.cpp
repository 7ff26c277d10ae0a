// The tests' form dialog (tests/data/interface/dialogs/form.txt: a name
// field, a string list of maps, a password field, a plain list, a popup and
// the default button), made by the data tool and drawn with the demo's dialog
// art and the tool's fixed test font, driven through the dialog layer's own
// input path with the test clock: a scripted session whose frame is written
// as PNG (VESK_FORM_FRAME names a file to keep it in), and seeded runs of
// random actions over the edit-text engine and the list controls that check
// the engines' invariants after every action (under the sanitizers in CI).
// The data is made once and shared through the data cache.

#include "tag_files/store_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/popup_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "font_builder.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_harness.h"
#include "support/dialog_input_harness.h"
#include "support/game_core_fixture.h"
#include "tag_files/definitions.h"
#include "vesk/string_lists.h"

namespace form_dialog_test_file {

namespace {

// The form's items (form.txt).
enum
{
    NAME_ITEM = 1,
    MAP_ITEM = 2,
    PASSWORD_ITEM = 3,
    PLAYERS_ITEM = 4,
    DIFFICULTY_ITEM = 5,
    START_ITEM = 6,
};
const rectangle2d form_bounds = {90, 120, 390, 520};

int16_t screen_x(int16_t x) { return (int16_t)(x + form_bounds.left); }
int16_t screen_y(int16_t y) { return (int16_t)(y + form_bounds.top); }

// The key code a typed byte comes with: its letter's key for letters, else
// one no control gives a meaning of its own.
int16_t key_code_of(uint8_t byte)
{
    static const int16_t letters[26] = {_key_a, _key_b, _key_c, _key_d, _key_e, _key_f, _key_g, _key_h, _key_i,
                                        _key_j, _key_k, _key_l, _key_m, _key_n, _key_o, _key_p, _key_q, _key_r,
                                        _key_s, _key_t, _key_u, _key_v, _key_w, _key_x, _key_y, _key_z};
    const uint8_t lower = (uint8_t)tolower(byte);
    if (lower >= 'a' && lower <= 'z') return letters[lower - 'a'];
    return _key_x;
}

class form_dialog : public store_fixture::store_test
{
protected:
    static std::vector<test_tag> *tags;  // the demo's interface and the test dialogs
    static std::vector<test_tag> *fixed; // the same with the fixed-thumb 'baie'
    dialog_test_screen screen;
    dialog_data *dialog = nullptr;
    std::vector<int16_t> heard; // the items the dialog's handler heard, in order
    static form_dialog *current;
    bool started = false;

    static void TearDownTestSuite()
    {
        delete tags;
        delete fixed;
        tags = fixed = nullptr;
    }

    void SetUp() override
    {
        store_test::SetUp();
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        if (!tags)
        {
            ASSERT_NE(demo_map_tags(), nullptr);
            tags = new std::vector<test_tag>(*demo_map_tags());
            ASSERT_TRUE(make_test_dialog_tags(tool, tags));
            // Double-byte text on, so that typed and listed text may hold two-byte characters.
            const char *rows[] = {"1", "...", " ", " -", "", ".,!?)", "49"};
            std::vector<uint8_t> list(4096);
            const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
            list.resize((size_t)size);
            tags->push_back({STRING_LIST_GROUP_TAG, FOUR_CHARACTER_CODE('i', 'n', '#', '1'), "in#1",
                             STRING_LIST_VERSION, list});
        }
        current = this;
    }

    // Loads `with` into the store and starts the interface, the dialog layer
    // and the test clock.
    void start(const std::vector<test_tag> &with)
    {
        reset_game_core();
        clear_all_registrations();
        register_shapes_hooks();
        register_dialog_hooks();
        started = true;
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(initialize_font_definitions());
        ASSERT_TRUE(initialize_interface());
        current_gameplay_version = 1811;
        ASSERT_TRUE(write_foundation_files(with));
        start_store();
        use_dialog_test_screen_bounds();
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
        ASSERT_TRUE(initialize_interface_without_map());
        install_test_clock(1000);
    }

    void TearDown() override
    {
        current = nullptr;
        if (!started) return store_test::TearDown();
        close_all_dialogs();
        remove_test_clock();
        dispose_interface_from_old_map();
        dispose_font_definitions_from_old_map();
        dispose_shapes_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        clear_all_registrations();
        restore_dialog_test_screen_bounds();
        reset_game_core();
        store_test::TearDown();
    }

    static void handler(dialog_data *, int16_t item_id, action_data *)
    {
        if (current) current->heard.push_back(item_id);
    }

    void open_form(void)
    {
        dialog = new_dialog(dialog_test_code("form"), handler, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
        set_default_dialog_item(dialog, START_ITEM);
    }

    // One pass of the main loop with `action`, `milliseconds` after the last.
    void feed(action_data action, uint32_t milliseconds = 34)
    {
        advance_test_clock_milliseconds(milliseconds);
        action.time = game_->local_time.load();
        dialogs_handled_action(&action);
        idle_dialogs();
    }
    // A press and release at a dialog point.
    void click(int16_t x, int16_t y, bool shift = false)
    {
        action_data down = make_click_action(screen_x(x), screen_y(y));
        if (shift) down = with_action_flag(down, _shift_down_bit);
        feed(down);
        feed(make_release_action(screen_x(x), screen_y(y)));
    }
    void key(int16_t key_code, int16_t ascii = NONE, uint32_t milliseconds = 34, bool shift = false)
    {
        action_data action = make_key_action(key_code, ascii);
        if (shift) action = with_action_flag(action, _shift_down_bit);
        feed(action, milliseconds);
    }
    void type(const char *text, uint32_t milliseconds = 34)
    {
        for (const char *p = text; *p; ++p) key(key_code_of((uint8_t)*p), (uint8_t)*p, milliseconds);
    }
    std::string name_text(int16_t item_id = NAME_ITEM)
    {
        char text[EDITTEXT_BUFFER_SIZE];
        get_bitmap_dialog_edit_item_text(dialog, item_id, text, sizeof(text));
        return text;
    }
    // The test tags with the fixed-thumb dialog elements in place of the demo's.
    const std::vector<test_tag> &fixed_thumb_tags(void)
    {
        if (!fixed)
        {
            std::vector<test_tag> made;
            EXPECT_TRUE(make_fixed_thumb_dialog_elements_tag(data_tool_path(), &made));
            fixed = new std::vector<test_tag>;
            for (const test_tag &t : *tags)
                if (t.group_tag != COLLECTION_GROUP_TAG || t.subgroup_tag != INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG)
                    fixed->push_back(t);
            fixed->insert(fixed->end(), made.begin(), made.end());
        }
        return *fixed;
    }
    uint32_t pixel(int16_t x, int16_t y) const { return screen.pixel(screen_x(x), screen_y(y)); }
};
std::vector<test_tag> *form_dialog::tags = nullptr;
std::vector<test_tag> *form_dialog::fixed = nullptr;
form_dialog *form_dialog::current = nullptr;

// ---- the data ----------------------------------------------------------------------------

TEST_F(form_dialog, the_tool_writes_the_form)
{
    start(*tags);
    open_form();
    const struct
    {
        int16_t item_id;
        const char *type;
        rectangle2d bounds;
    } items[] = {{NAME_ITEM, "edit", {32, 16, 54, 184}},     {MAP_ITEM, "slst", {32, 208, 152, 384}},
                 {PASSWORD_ITEM, "pass", {82, 16, 104, 184}}, {PLAYERS_ITEM, "list", {136, 16, 232, 184}},
                 {START_ITEM, "butt", {252, 290, 274, 384}}};
    for (const auto &item : items)
    {
        const control_data *control = find_control(dialog, item.item_id);
        ASSERT_NE(control, nullptr) << item.type;
        EXPECT_EQ(control->tag, dialog_test_code(item.type));
        rectangle2d bounds;
        get_dialog_item_bounds(dialog, item.item_id, &bounds);
        if (item.item_id != START_ITEM)
        {
            EXPECT_TRUE(equal_rectangle2d(&bounds, &item.bounds)) << item.type;
        }
    }
    EXPECT_NE(find_control(dialog, DIFFICULTY_ITEM), nullptr);
    const int32_t elements = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    ASSERT_NE(elements, NONE);
    const sequence_data *scroll_bar = get_sequence(elements, _dialog_elements_scrollbar_sequence);
    ASSERT_NE(scroll_bar, nullptr);
    EXPECT_EQ(scroll_bar->number_of_views, 3);
    EXPECT_EQ(scroll_bar->frames_per_view, 7) << "the demo's art has the proportional thumb";
}

// ---- the scripted session ---------------------------------------------------------------

const struct
{
    const char *name;
    int32_t identifier;
} maps[] = {{"Apple Orchard", 10}, {"Bramble Moor", 11}, {"Abbey Ruins", 12}, {"Cinder Vale", 13},
            {"Ash Fields", 14},    {"Deep Ford", 15},    {"Ember Gate", 16},  {"Fallow Rise", 17},
            {"Grey Hollow", 18},   {"Heron Marsh", 19},  {"Iron Steps", 20},  {"Juniper Downs", 21},
            {"Kestrel Point", 22}, {"Long Barrow", 23},   {"Aaron's Ford", 24}};
const char *const players[] = {"Aldric", "Brena", "Corwin", "Dagny", "Eamon"};
const char *const difficulties[] = {"Easy", "Normal", "Hard"};

// The players' rows: NUL-terminated names, the selected one on a light box.
void draw_player_row(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                     const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    char name[64];
    snprintf(name, sizeof(name), "%.*s", (int)std::max<int16_t>(0, (int16_t)(length - 1)), (const char *)data);
    const rgb_color box = {0xE000, 0xD000, 0x9000, 0}, ink = {0x1000, 0x1000, 0x1000, 0},
                    light = {0xF000, 0xE800, 0xD000, 0};
    if (flags & _row_selected_flag) fill_rectangle_clipped(destination, &box, row_bounds, clip, 0, nullptr);
    draw_string(destination, nullptr, row_bounds, clip, font_id, NONE, (flags & _row_selected_flag) ? &ink : &light,
                name, _draw_string_center_vertical_flag, 0);
}

class form_session : public form_dialog
{
protected:
    void check_map_list_thumb(bool fixed_thumb);

    void fill_form(void)
    {
        for (const auto &map : maps) ASSERT_GE(add_string_to_list(dialog, MAP_ITEM, map.name, map.identifier, true), 0);
        bitmap_set_list_draw_proc(dialog, PLAYERS_ITEM, draw_player_row);
        for (const char *player : players) ASSERT_GE(bitmap_add_text_to_list(dialog, PLAYERS_ITEM, player, true), 0);
        bitmap_select_list_item(dialog, PLAYERS_ITEM, 2);
        for (const char *difficulty : difficulties) ASSERT_GE(append_string_to_popup(dialog, DIFFICULTY_ITEM, difficulty), 0);
        set_popup_value(dialog, DIFFICULTY_ITEM, 1);
        set_bitmap_dialog_edit_item_text(dialog, PASSWORD_ITEM, "secret");
    }

    // The pixels of an item's rectangle (dialog coordinates).
    std::vector<uint32_t> pixels(const rectangle2d &area) const
    {
        std::vector<uint32_t> out;
        for (int16_t y = area.top; y < area.bottom; ++y)
            for (int16_t x = area.left; x < area.right; ++x) out.push_back(pixel(x, y));
        return out;
    }
    // The columns of `area` in which `a` and `b` differ.
    static std::vector<int16_t> differing_columns(const rectangle2d &area, const std::vector<uint32_t> &a,
                                                  const std::vector<uint32_t> &b)
    {
        std::vector<int16_t> columns;
        const int32_t width = area.right - area.left;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        {
            const int16_t x = (int16_t)(area.left + (int32_t)i % width);
            if (a[i] != b[i] && std::find(columns.begin(), columns.end(), x) == columns.end()) columns.push_back(x);
        }
        std::sort(columns.begin(), columns.end());
        return columns;
    }
};

// Click the name field, type "hello", Tab to the maps, type "ab" within half
// a second, Return: the name is "hello", type-ahead chose the first map
// starting with "ab" (not "Aaron's Ford", which "a" alone finds), and the
// default item fired.  Then back to the name field with the caret at its end
// and the frame is kept as PNG: the caret blinking in the name field (seen
// by its two phases differing in one column), the chosen map and player
// highlighted.
TEST_F(form_session, typing_tab_type_ahead_and_return_fill_in_the_form)
{
    start(*tags);
    open_form();
    fill_form();
    render_dialogs(screen.bitmap);

    click(60, 43);
    EXPECT_EQ(get_dialog_focus(dialog), NAME_ITEM);
    type("hello");
    key(_key_tab, '\t');
    EXPECT_EQ(get_dialog_focus(dialog), MAP_ITEM) << "Tab walks the tag's order";
    key(_key_a, 'a', 150);
    EXPECT_EQ(get_string_list_selected_identifier(dialog, MAP_ITEM), 24) << "\"a\" finds the first map with an A";
    key(_key_b, 'b', 300);
    heard.clear();
    key(_key_return, '\r');
    for (int32_t pass = 0; pass < 10; ++pass) feed(make_test_action());

    EXPECT_EQ(name_text(), "hello");
    EXPECT_EQ(get_string_list_selected_identifier(dialog, MAP_ITEM), 12);
    char chosen[STRING_LIST_TEXT_SIZE] = "";
    int16_t row = NONE;
    EXPECT_TRUE(get_list_selected_string(dialog, MAP_ITEM, chosen, sizeof(chosen), &row));
    EXPECT_STREQ(chosen, "Abbey Ruins");
    EXPECT_EQ(bitmap_get_listbox_value(dialog, MAP_ITEM), 1) << "the list is sorted";
    EXPECT_EQ(heard, (std::vector<int16_t>{START_ITEM})) << "Return presses the default item, not the list";
    printf("form: name \"%s\", map row %d \"%s\", fired item %d\n", name_text().c_str(),
           bitmap_get_listbox_value(dialog, MAP_ITEM), chosen, heard.empty() ? (int32_t)NONE : (int32_t)heard.back());
    EXPECT_EQ(name_text(PASSWORD_ITEM), "secret");
    EXPECT_EQ(bitmap_get_listbox_value(dialog, PLAYERS_ITEM), 2);
    EXPECT_EQ(get_popup_value(dialog, DIFFICULTY_ITEM), 1);

    // Back to the name field: it selects all; End leaves the caret at the end.
    key(_key_tab, '\t', 34, true);
    ASSERT_EQ(get_dialog_focus(dialog), NAME_ITEM);
    key(_key_end, NONE);
    const edittext_data *name = get_edittext_item_record(dialog, NAME_ITEM);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->selection_start, 5);
    EXPECT_EQ(name->selection_end, 5);
    render_dialogs(screen.bitmap);
    const rectangle2d field = {32, 16, 54, 184};
    const std::vector<uint32_t> shown = pixels(field);
    EXPECT_TRUE(name->flags & _cursor_is_visible_flag);
    feed(make_test_action(), 600);
    EXPECT_FALSE(name->flags & _cursor_is_visible_flag) << "600 ms after the key the caret is hidden";
    render_dialogs(screen.bitmap);
    const std::vector<int16_t> caret = differing_columns(field, shown, pixels(field));
    ASSERT_EQ(caret.size(), 1u) << "the caret is one column";
    EXPECT_GT(caret[0], field.left + 5 * TEST_FONT_ADVANCE) << "after \"hello\"";
    EXPECT_LT(caret[0], field.left + 5 * TEST_FONT_ADVANCE + 6);
    feed(make_test_action(), 450);
    EXPECT_TRUE(name->flags & _cursor_is_visible_flag) << "a second after the key it shows again";
    render_dialogs(screen.bitmap);
    EXPECT_EQ(pixels(field), shown);

    // The chosen map is highlighted: its row changes when nothing is chosen.
    const rectangle2d map_list = {32, 208, 152, 384};
    const std::vector<uint32_t> chosen_map = pixels(map_list);

    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "form", "png", 0));
    std::error_code error;
    std::filesystem::copy_file("pictures/form.png", std::filesystem::path(scratch.previous) / "form_dialog_frame.png",
                               std::filesystem::copy_options::overwrite_existing, error);
    EXPECT_FALSE(error) << error.message();
    if (const char *keep = getenv("VESK_FORM_FRAME"))
        std::filesystem::copy_file("pictures/form.png", keep, std::filesystem::copy_options::overwrite_existing);

    bitmap_clear_selections(dialog, MAP_ITEM);
    render_dialogs(screen.bitmap);
    EXPECT_NE(pixels(map_list), chosen_map);
}

// The map list's thumb: proportional with the demo's art (the view's share
// of the track), the fixed 14 pixels with the six-frame variant.  Both draw.
void form_session::check_map_list_thumb(bool fixed_thumb)
{
    start(fixed_thumb ? fixed_thumb_tags() : *tags);
    const int32_t elements = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    ASSERT_NE(elements, NONE);
    const sequence_data *scroll_bar = get_sequence(elements, _dialog_elements_scrollbar_sequence);
    ASSERT_NE(scroll_bar, nullptr);
    EXPECT_EQ(scroll_bar->number_of_views, 3);
    EXPECT_EQ(scroll_bar->frames_per_view, fixed_thumb ? 6 : 7);
    EXPECT_EQ(get_collection_sequence_count(elements), NUMBER_OF_DIALOG_ELEMENT_SEQUENCES);
    open_form();
    fill_form();
    const private_list_data *list = get_list_control_private_list(dialog, MAP_ITEM);
    rectangle2d bar, thumb;
    get_private_list_scrollbar_bounds(list, &bar);
    ASSERT_TRUE(calculate_scroll_element_bounds(list, &bar, nullptr, nullptr, &thumb));
    const int32_t view = list->bounds.bottom - list->bounds.top - 2 * list->vertical_gutter;
    const int32_t track = bar.bottom - bar.top - 2 * 14;
    const int32_t expected = fixed_thumb ? 14 : std::max(14, track * view / get_private_list_visible_rows_height(list));
    EXPECT_EQ(thumb.bottom - thumb.top, expected);
    if (!fixed_thumb)
    {
        EXPECT_GT(expected, 14) << "the view shows most rows: a long thumb";
    }
    render_dialogs(screen.bitmap);
}

TEST_F(form_session, the_demo_art_gives_a_proportional_thumb) { check_map_list_thumb(false); }
TEST_F(form_session, the_fixed_thumb_art_gives_the_fourteen_pixel_thumb) { check_map_list_thumb(true); }

// ---- random actions ----------------------------------------------------------------------

// Bytes random text is made of: plain letters and digits, the escape bar,
// markup codes, two-byte leads and trails, the mask byte, a line break.
const uint8_t text_bytes[] = {'a', 'b', 'z', 'A', '0', '7', '-', ' ', '|', '|', 'b', 'p', 'l', '3', 0x81, 0x82, 0xA1,
                              0x40, 0xA1, 0x7F, 0xA5, 0xC3, '\r', '.', 0xFE};

std::string random_text(std::mt19937 &random, int32_t longest)
{
    const int32_t length = (int32_t)(random() % (uint32_t)(longest + 1));
    std::string text;
    for (int32_t i = 0; i < length; ++i)
    {
        uint8_t byte = text_bytes[random() % sizeof(text_bytes)];
        text.push_back((char)byte);
    }
    return text;
}

// A character boundary of `text`, or now and then an offset before its
// start or past its end.
int32_t random_offset(std::mt19937 &random, const char *text)
{
    const int32_t length = (int32_t)strlen(text);
    if (random() % 8 == 0) return random() % 2 ? -1 - (int32_t)(random() % 20) : length + 1 + (int32_t)(random() % 300);
    std::vector<int32_t> starts = {0};
    for (int32_t index = 0; index < length;)
    {
        const int32_t before = index;
        get_next_character(text, &index);
        if (index <= before) index = before + 1;
        starts.push_back(std::min(index, length));
    }
    return starts[random() % starts.size()];
}

// True when a character of `text` begins (or the text ends) at `at`.
bool is_character_boundary(const std::string &text, int32_t at)
{
    int32_t index = 0;
    while (index < at)
    {
        const int32_t before = index;
        get_next_character(text.c_str(), &index);
        if (index <= before) return false;
    }
    return index == at;
}

// True when the cut at `at` splits a two-byte character of `text` (escape
// pairs may be cut: they are two characters of the text as typed).
bool splits_two_byte_character(const std::string &text, int32_t at)
{
    int32_t index = 0;
    while (index < (int32_t)text.size() && index < at)
    {
        const int32_t before = index;
        const uint32_t character = get_next_character(text.c_str(), &index);
        if (index > at && character > 0xFF && text[(size_t)before] != '|') return true;
        if (index <= before) break;
    }
    return false;
}

void expect_edit_invariants(const edittext_data *edit, int32_t step)
{
    const void *end = memchr(edit->string, 0, sizeof(edit->string));
    ASSERT_NE(end, nullptr) << step;
    const int32_t length = (int32_t)strlen(edit->string);
    ASSERT_LE(edit->maximum_length, MAXIMUM_EDITTEXT_LENGTH) << step;
    ASSERT_LE(length, edit->maximum_length) << step;
    ASSERT_GE(edit->selection_start, 0) << step;
    ASSERT_LE(edit->selection_start, edit->selection_end) << step;
    ASSERT_LE(edit->selection_end, length) << step;
}

// Thousands of seeded random actions on edit records of random flags and
// widths: typing any byte, editing and caret keys with and without shift and
// control, new texts and maxima, selections, presses and drags, draws and
// reads into buffers of every size.  After each the record's invariants hold;
// backspace removes exactly the character before the caret; a new text is
// a prefix of what was given, cut only between characters.
TEST_F(form_dialog, random_actions_keep_the_edit_engine_consistent)
{
    start(*tags);
    std::mt19937 random(20261207);
    const int16_t caret_keys[] = {_key_home, _key_end, _key_left_arrow, _key_right_arrow, _key_up_arrow,
                                  _key_down_arrow, _key_a, _key_e};
    const int32_t flag_choices[] = {0, _edittext_is_password_flag, _edittext_is_number_only_flag,
                                    _allow_text_to_wrap_flag, _no_cursor_movement_flag,
                                    _allow_text_to_wrap_flag | _edittext_is_password_flag};
    int32_t steps = 0;
    for (int32_t record = 0; record < 12; ++record)
    {
        const int16_t width = (int16_t)(20 + random() % 600);
        const rectangle2d bounds = {10, 10, (int16_t)(10 + 12 + random() % 40), (int16_t)(10 + width)};
        edittext_data *edit = new_edittext(&bounds, flag_choices[record % 6]);
        ASSERT_NE(edit, nullptr);
        for (int32_t action_index = 0; action_index < 400; ++action_index, ++steps)
        {
            const std::string before(edit->string);
            int16_t start = edit->selection_start, end = edit->selection_end;
            const uint32_t choice = random() % 100;
            SCOPED_TRACE(testing::Message() << "step " << steps << " choice " << choice << " text \"" << before
                                            << "\" selection " << start << ".." << end << " flags " << edit->flags
                                            << " maximum " << edit->maximum_length);
            if (choice < 40)
            {
                const uint8_t byte = text_bytes[random() % sizeof(text_bytes)];
                action_data action = make_key_action(key_code_of(byte), byte);
                const bool accepted = handle_edittext_action(edit, &action);
                if (accepted)
                    EXPECT_EQ((int32_t)strlen(edit->string), (int32_t)before.size() - (end - start) + 1) << steps;
                else EXPECT_EQ(before, edit->string) << steps;
            }
            else if (choice < 52)
            {
                action_data action = make_key_action(_key_delete, NONE);
                handle_edittext_action(edit, &action);
                // Typing can leave the caret inside a pair ('|' before a '|',
                // a lead byte before a trail byte); from there one byte goes.
                if (start == end && start > 0 && is_character_boundary(before, start))
                {
                    int32_t back = start;
                    get_previous_character(before.c_str(), &back);
                    const std::string expected = before.substr(0, (size_t)back) + before.substr((size_t)start);
                    EXPECT_EQ(std::string(edit->string), expected) << steps << " caret " << start;
                    EXPECT_EQ(edit->selection_start, back) << steps;
                }
            }
            else if (choice < 56)
            {
                action_data action = make_key_action(_key_forward_delete, NONE);
                handle_edittext_action(edit, &action);
            }
            else if (choice < 72)
            {
                action_data action = make_key_action(caret_keys[random() % 8], NONE);
                if (random() % 2) action = with_action_flag(action, _shift_down_bit);
                if (random() % 3 == 0) action = with_action_flag(action, _control_down_bit);
                handle_edittext_action(edit, &action);
            }
            else if (choice < 78)
            {
                const std::string text = random_text(random, random() % 4 == 0 ? 600 : 40);
                set_edittext_string(edit, text.c_str());
                const std::string now(edit->string);
                EXPECT_EQ(text.compare(0, now.size(), now), 0) << steps << ": a prefix";
                EXPECT_FALSE(splits_two_byte_character(text, (int32_t)now.size())) << steps;
                EXPECT_EQ(edit->selection_start, 0);
            }
            else if (choice < 81)
            {
                set_edittext_maximum_length(edit, (int32_t)(random() % (MAXIMUM_EDITTEXT_LENGTH + 1)));
                EXPECT_FALSE(splits_two_byte_character(before, (int32_t)strlen(edit->string))) << steps;
            }
            else if (choice < 86)
            {
                select_edit_text_range(edit, random_offset(random, edit->string), random_offset(random, edit->string));
            }
            else if (choice < 88)
            {
                set_edit_text_select_click(edit, random_offset(random, edit->string));
            }
            else if (choice < 90)
            {
                delete_selection(edit);
            }
            else if (choice < 95)
            {
                const point2d point = {(int16_t)((int32_t)(random() % 700) - 30), (int16_t)(random() % 80)};
                // Drags also from an anchor an edit has left behind past the text.
                if (random() % 2) place_cursor(edit, point);
                else make_selection(edit, point, random() % 2);
            }
            else if (choice < 97)
            {
                set_edittext_flag(edit, _cursor_is_visible_flag, random() % 2);
                draw_edittext(edit, screen.bitmap, random() % 2);
            }
            else
            {
                const size_t size = random() % 300;
                std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
                get_edittext_string(edit, size ? buffer.get() : nullptr, (int32_t)size);
                if (size)
                {
                    EXPECT_EQ(std::string(buffer.get()), before.substr(0, std::min(before.size(), size - 1)));
                }
            }
            expect_edit_invariants(edit, steps);
            if (HasFatalFailure()) break;
        }
        dispose_edittext(edit);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(steps, 12 * 400);
}

void expect_list_invariants(const private_list_data *list, const char *which, int32_t step)
{
    ASSERT_NE(list, nullptr) << which;
    const int32_t count = list->actual_row_count;
    ASSERT_GE(count, 0) << which << " " << step;
    ASSERT_LE(count, list->allocated_row_count) << which << " " << step;
    ASSERT_GE(list->maximum_row_count, 1) << which << " " << step;
    int32_t sum = 0, selected = 0, last_top = 0;
    for (int32_t row = 0; row < count; ++row)
    {
        const row_data &r = *get_private_list_row(list, (int16_t)row);
        list_span bounds;
        get_row_bounds_private_list((int16_t)row, &bounds, nullptr, list);
        ASSERT_EQ(bounds.top, sum) << which << " " << step << " row " << row;
        last_top = bounds.top;
        if (r.flags & _row_visible_flag) sum += r.height;
        if (r.flags & _row_selected_flag) ++selected;
        ASSERT_TRUE(r.data || r.length == 0) << which << " " << step;
    }
    EXPECT_LE(selected, 1) << which << " " << step;
    const int32_t view = list->bounds.bottom - list->bounds.top - 2 * list->vertical_gutter;
    const int32_t content = count ? last_top + get_private_list_row(list, (int16_t)(count - 1))->height : 0;
    EXPECT_EQ(content, get_private_list_content_height(list)) << which << " " << step;
    const int32_t position = get_private_list_scroll_position(list);
    EXPECT_GE(position, 0) << which << " " << step;
    EXPECT_LE(position, std::max(0, content - view)) << which << " " << step;
    if (count)
    {
        EXPECT_GE(list->top_visible_row, 0) << which << " " << step;
        EXPECT_LT(list->top_visible_row, count) << which << " " << step;
        EXPECT_EQ((list->flags & _list_has_vertical_scroll_flag) != 0, content > view) << which << " " << step;
    }
}

// Thousands of seeded random actions on the whole form through the dialog
// layer: presses, drags and double clicks anywhere (scroll bars, rows, the
// popup, the fields), keys of every kind with Tab moving the focus, the
// wheel, rows of random text (escapes, two-byte codes, long lines) added,
// deleted, hidden, disabled, sorted and selected, line heights and maxima
// changed, with the clock crossing its 32-bit wrap.  After each action both
// lists, both fields and the popup keep their invariants; frames are drawn
// now and then.
TEST_F(form_session, random_actions_keep_the_lists_and_fields_consistent)
{
    start(*tags);
    install_test_clock(0xFFFFFFFFu - 40000u);
    open_form();
    fill_form();
    std::mt19937 random(30);
    const int16_t keys[] = {_key_up_arrow,  _key_down_arrow, _key_home,  _key_end,    _key_page_up,
                            _key_page_down, _key_tab,        _key_delete, _key_left_arrow, _key_right_arrow,
                            _key_forward_delete};
    const rectangle2d targets[] = {{32, 208, 152, 384}, {136, 16, 232, 184}, {184, 208, 206, 384},
                                   {32, 16, 54, 184},   {82, 16, 104, 184},  {0, 0, 300, 400}};
    const int32_t steps = 2500;
    for (int32_t step = 0; step < steps; ++step)
    {
        const uint32_t pause = random() % 8 == 0 ? 1000 + random() % 2000 : random() % 200;
        const uint32_t choice = random() % 100;
        if (choice < 25)
        {
            const rectangle2d &t = targets[random() % 6];
            auto point_in = [&](void) {
                return point2d{(int16_t)(t.left + (int32_t)(random() % (uint32_t)(t.right - t.left + 16)) - 8),
                               (int16_t)(t.top + (int32_t)(random() % (uint32_t)(t.bottom - t.top + 16)) - 8)};
            };
            point2d at = point_in();
            action_data down = make_click_action(screen_x(at.x), screen_y(at.y));
            if (random() % 6 == 0) down = with_action_flag(down, _double_left_mouse_down_bit);
            if (random() % 6 == 0) down = with_action_flag(down, _shift_down_bit);
            feed(down, pause);
            for (uint32_t held = random() % 5; held > 0; --held)
            {
                if (random() % 2) at = point_in();
                feed(make_hold_action(screen_x(at.x), screen_y(at.y)));
            }
            feed(make_release_action(screen_x(at.x), screen_y(at.y)));
        }
        else if (choice < 50)
        {
            if (random() % 2)
            {
                key(keys[random() % (sizeof(keys) / sizeof(keys[0]))], NONE, pause, random() % 3 == 0);
            }
            else
            {
                const uint8_t byte = text_bytes[random() % sizeof(text_bytes)];
                key(key_code_of(byte), byte, pause);
            }
        }
        else if (choice < 55)
        {
            const rectangle2d &t = targets[random() % 2];
            action_data wheel = make_wheel_action(screen_x((int16_t)(t.left + 20)), screen_y((int16_t)(t.top + 10)),
                                                  (int16_t)((int32_t)(random() % 81) - 40));
            feed(wheel, pause);
        }
        else
        {
            advance_test_clock_milliseconds(pause);
            const int16_t list_item = random() % 2 ? MAP_ITEM : PLAYERS_ITEM;
            const int16_t count = bitmap_get_listbox_row_count(dialog, list_item);
            const int16_t row = count ? (int16_t)(random() % (uint32_t)count) : 0;
            const uint32_t what = random() % 14;
            if (what < 4)
            {
                const std::string text = random_text(random, list_item == MAP_ITEM ? 200 : (random() % 4 ? 30 : 600));
                if (list_item == MAP_ITEM)
                {
                    EXPECT_GE(add_string_to_list(dialog, MAP_ITEM, text.c_str(), (int32_t)random() % 1000, random() % 4),
                              0);
                }
                else
                {
                    EXPECT_GE(bitmap_add_text_to_list(dialog, PLAYERS_ITEM, text.c_str(), random() % 4), 0);
                }
            }
            else if (what == 4 && count) bitmap_delete_listbox_row(dialog, list_item, row);
            else if (what == 5 && count) bitmap_set_row_visible(dialog, list_item, row, random() % 3);
            else if (what == 6 && count) bitmap_set_row_enabled(dialog, list_item, row, random() % 3);
            else if (what == 7) bitmap_set_list_line_height(dialog, list_item, (int16_t)(random() % 40));
            else if (what == 8) bitmap_sort_list(dialog, list_item);
            else if (what == 9 && count) bitmap_select_list_item(dialog, list_item, row);
            else if (what == 10) bitmap_set_list_maximum_row_count(dialog, PLAYERS_ITEM, (int16_t)(1 + random() % 64));
            else if (what == 11)
            {
                const std::string text = random_text(random, random() % 4 ? 20 : 300);
                set_bitmap_dialog_edit_item_text(dialog, random() % 2 ? NAME_ITEM : PASSWORD_ITEM, text.c_str());
            }
            else if (what == 12) set_popup_value(dialog, DIFFICULTY_ITEM, (int32_t)(random() % 5) - 1);
            else if (count && random() % 8 == 0) bitmap_empty_list(dialog, list_item);
            else bitmap_focus_on_list_item(dialog, list_item, -1);
        }
        if (step % 25 == 0) render_dialogs(screen.bitmap);
        expect_list_invariants(get_list_control_private_list(dialog, MAP_ITEM), "maps", step);
        expect_list_invariants(get_list_control_private_list(dialog, PLAYERS_ITEM), "players", step);
        expect_edit_invariants(get_edittext_item_record(dialog, NAME_ITEM), step);
        expect_edit_invariants(get_edittext_item_record(dialog, PASSWORD_ITEM), step);
        const int32_t value = get_popup_value(dialog, DIFFICULTY_ITEM);
        EXPECT_GE(value, -1);
        EXPECT_LT(value, get_popup_number_of_items(dialog, DIFFICULTY_ITEM));
        if (HasFailure()) FAIL() << "at step " << step;
    }
    render_dialogs(screen.bitmap);
    EXPECT_GT(test_clock_milliseconds(), 0u);
    EXPECT_LT(test_clock_milliseconds(), 0x80000000u) << "the clock wrapped during the run";
}

} // namespace

} // namespace form_dialog_test_file
