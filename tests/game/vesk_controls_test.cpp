// The game's own list, picker and key controls and the screen page, in real
// dialogs drawn with the demo data's art and fonts: chat rows (wrapping, the
// name on every row, bold carried on, the 1024-row limit, the autoscroll
// rules, missing names and colours); the plug-in lists (the base game row,
// the two orders, the search field, the encoder's refusal of lists that do
// not fit, the look-up button); the colour picker's square and its wheel and
// slider; the key-binding fields filled in turn; the screen preferences
// page's device change, vsync and frame-cap rule and resolution order.

#include "support/dialog_input_harness.h"

#include <SDL.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/color_picker.h"
#include "bitmap_dialogs/color_picker_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/keybinding_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/missing_plugins_list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/byte_swapping.h"
#include "hardware/hardware_rasterizers.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_preferences_page.h"
#include "screen_setup.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/tag_file_builder.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"
#include "world.h"
#include "networking_procedures.h"
#include "vesk_networking/vesk_chat.h"

namespace vesk_controls_test_file {

namespace {

// A map of a test plug-in: big-endian mesh flags, level, printed name.
test_tag plugin_map(const char *subgroup, uint32_t flags)
{
    std::string data(6, '\0');
    for (int i = 0; i < 4; ++i) data[(size_t)i] = (char)(flags >> (24 - 8 * i));
    data += "Map";
    data.push_back(0);
    data.push_back(0);
    return make_test_tag(MESH_GROUP_TAG, dialog_test_code(subgroup), subgroup, data);
}

bool plugin_map_reader(int32_t tag_index, full_entry_point *entry)
{
    const std::vector<uint8_t> bytes = read_tag_bytes(tag_index);
    if (bytes.size() < 8 || bytes.size() > 64) return false;
    entry->mesh_flags = (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
    entry->level = 0;
    return true;
}

SDL_Event shift_event(bool down)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.type = event.type;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = SDLK_LSHIFT;
    return event;
}

constexpr uint32_t solo_map = MESH_SINGLE_PLAYER_ENTRY_POINT_FLAG;

class vesk_controls : public dialog_input_test
{
protected:
    static std::vector<test_tag> *demo_tags;
    bool with_plugins = true;

    static void TearDownTestSuite()
    {
        delete demo_tags;
        demo_tags = nullptr;
    }

    void SetUp() override
    {
        std::string tool;
        REQUIRE_DATA_TOOL(tool);
        if (!demo_tags)
        {
            demo_tags = new std::vector<test_tag>;
            ASSERT_TRUE(make_demo_map_tags(tool, demo_tags));
            ASSERT_TRUE(make_interface_tags(tool, demo_tags));
        }
        make_store_folders();
        ASSERT_TRUE(write_foundation_files(*demo_tags));
        if (with_plugins)
        {
            // Solo maps: "zeta maps" 2, "Alpha maps" 1; "Looks" has none.
            ASSERT_TRUE(::write_monolithic_file("plugins/zeta maps", _tag_file_type_plugin,
                                              {plugin_map("zm01", solo_map), plugin_map("zm02", solo_map | 2)},
                                              "zeta maps", "example.org/zeta"));
            ASSERT_TRUE(::write_monolithic_file("plugins/Alpha maps", _tag_file_type_plugin,
                                              {plugin_map("am01", solo_map | 2)}, "Alpha maps", "example.org/a"));
            ASSERT_TRUE(::write_monolithic_file("plugins/Looks", _tag_file_type_plugin, {}, "Looks", "example.org/l"));
        }
        dialog_input_test::SetUp();
        // The core's hooks were just reset: the map reader goes in now and
        // the plug-ins are scanned again with it.
        register_entry_point_reader_procedure(plugin_map_reader);
        start_store();
        ASSERT_TRUE(initialize_font_definitions());
        ASSERT_TRUE(initialize_interface());
        ASSERT_TRUE(initialize_interface_without_map());
        initialize_input_device();
    }
    void TearDown() override
    {
        release_input_devices();
        close_all_dialogs();
        dispose_interface_from_old_map();
        dispose_font_definitions_from_old_map();
        dialog_input_test::TearDown();
    }

    // The demo data's string lists the controls read ('in#1': where lines
    // break; 'inkn': key names).  Its dialogs, '!prf' among them, are part
    // of the demo tags.
    static bool make_interface_tags(const std::string &tool, std::vector<test_tag> *tags)
    {
        std::vector<test_tag> lists;
        if (!make_string_list_tags(tool, &lists)) return false;
        size_t found = 0;
        for (const test_tag &list : lists)
            if (list.subgroup_tag == dialog_test_code("in#1") || list.subgroup_tag == dialog_test_code("inkn"))
                tags->push_back(list), found++;
        return found == 2;
    }

    bool feed(action_data action) { return dialogs_handled_action(&action); }
    void draw_frame(dialog_data *dialog)
    {
        screen.fill(0);
        set_dialog_dirty(dialog);
        render_dialogs(screen.bitmap);
    }
    void save_picture(const char *name)
    {
        ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", name, "png", 0));
        // VESK_CONTROL_PICTURES names a directory to keep the frames in, to look at them.
        const char *keep = getenv("VESK_CONTROL_PICTURES");
        if (keep && *keep)
            std::filesystem::copy_file(std::string("pictures/") + name + ".png",
                                       std::filesystem::path(keep) / (std::string(name) + ".png"),
                                       std::filesystem::copy_options::overwrite_existing);
    }
};
std::vector<test_tag> *vesk_controls::demo_tags = nullptr;

// ---- chat ----------------------------------------------------------------------------------

enum
{
    CHAT = 1,
};
const rectangle2d chat_bounds = {10, 10, 190, 290};

class chat_list : public vesk_controls
{
protected:
    dialog_data *dialog = nullptr;
    void SetUp() override
    {
        vesk_controls::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dialog = open_test_dialog("chat", {dialog_test_item("chat", CHAT, chat_bounds)});
        ASSERT_NE(dialog, nullptr);
    }
    std::vector<chat_list_data> rows(void)
    {
        std::vector<chat_list_data> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, CHAT); ++row)
        {
            chat_list_data data;
            int16_t size = (int16_t)sizeof(data);
            bitmap_get_listbox_row_data(dialog, CHAT, row, &data, &size);
            EXPECT_EQ(size, (int16_t)sizeof(data));
            out.push_back(data);
        }
        return out;
    }
    private_list_data *list(void) { return get_list_control_private_list(dialog, CHAT); }
    // Whether the view shows the last row (it cannot scroll further down).
    bool at_bottom(void)
    {
        const int32_t position = get_private_list_scroll_position(list());
        move_private_list_by_delta(list(), 1000000);
        const int32_t lowest = get_private_list_scroll_position(list());
        move_private_list_by_delta(list(), position - lowest);
        return position == lowest;
    }
    void say(int16_t type, const char *text, bool local = false)
    {
        const rgb_color red = {65535, 0, 0, 0};
        add_chat_text_full(dialog, CHAT, type, "Brannoc", &red, text, local);
    }
};

TEST_F(chat_list, messages_wrap_into_rows_that_each_carry_the_sender_and_the_style)
{
    say(_normal_chat_message_type, "hello there");
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_STREQ(rows()[0].message, "hello there");

    reset_chat_text(dialog, CHAT);
    ASSERT_EQ(bitmap_get_listbox_row_count(dialog, CHAT), 0);
    const std::string long_text = "the scouts report |bthree war parties crossing the river at the old ford "
                                  "and moving toward the hill fort before dawn|p so hold the bridge";
    say(_team_chat_message_type, long_text.c_str());
    const std::vector<chat_list_data> wrapped = rows();
    ASSERT_GE(wrapped.size(), 3u);
    std::string joined;
    bool carried_bold = false;
    const int32_t font = bitmap_get_list_font_id(dialog, CHAT);
    const int32_t width = bitmap_get_list_line_width(dialog, CHAT) - CHAT_MESSAGE_WRAP_INSET;
    for (size_t i = 0; i < wrapped.size(); ++i)
    {
        const chat_list_data &row = wrapped[i];
        EXPECT_EQ(row.type, _team_chat_message_type) << i;
        EXPECT_STREQ(row.player_name, "Brannoc") << i;
        EXPECT_EQ(row.player_color.red, 65535) << i;
        EXPECT_LT(string_width(font, -1, row.message), width) << "row " << i << " fits: " << row.message;
        std::string text = row.message;
        if (i > 0 && text.rfind("|b", 0) == 0)
        {
            carried_bold = true;
            text = text.substr(2);
        }
        joined += (i ? " " : "") + text;
    }
    EXPECT_TRUE(carried_bold) << "a bold span broken across rows goes on bold";
    EXPECT_EQ(joined, long_text) << "nothing lost but the blanks at the breaks";
    EXPECT_EQ(std::string(wrapped.back().message).rfind("|b", 0), std::string::npos)
        << "the last row starts after the span ended";

    draw_frame(dialog);
    save_picture("chat_list");
    int32_t red = 0;
    for (int16_t y = chat_bounds.top; y < chat_bounds.bottom; ++y)
        for (int16_t x = chat_bounds.left; x < chat_bounds.right; ++x)
            red += (screen.pixel(screen_x(x), screen_y(y)) & 0xFFFFFFu) == 0xFF0000u;
    EXPECT_GT(red, 200) << "the name tags in the sender's colour";

    // A message of the day has no name tag: it wraps wider, so into no more rows.
    reset_chat_text(dialog, CHAT);
    say(_motd_chat_message_type, long_text.c_str());
    EXPECT_LE(rows().size(), wrapped.size());

    // Continuation rows and unknown types are not messages.
    const int16_t before = bitmap_get_listbox_row_count(dialog, CHAT);
    say(_chat_message_continuation_type, "x");
    say(9, "x");
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, CHAT), before);

}

// The chat items of the network dialogs: an empty line sends nothing, a dot
// command answers in the chat and empties the edit line, the back log
// replays into a fresh chat item, and the half-typed line survives.
TEST_F(chat_list, the_network_dialogs_chat_answers_dot_commands_and_replays_the_back_log)
{
    enum { PLAYERS = 6, LOG = 8, EDIT = 9 };
    dialog_data *chat = open_test_dialog("ne#1", {dialog_test_item("plli", PLAYERS, {200, 10, 380, 200}),
                                                  dialog_test_item("chat", LOG, chat_bounds),
                                                  dialog_test_item("edit", EDIT, {10, 300, 190, 320})});
    ASSERT_NE(chat, nullptr);
    const auto first_row = [&] {
        chat_list_data data = {};
        int16_t size = (int16_t)sizeof(data);
        bitmap_get_listbox_row_data(chat, LOG, 0, &data, &size);
        return data;
    };
    char line[256];
    EXPECT_FALSE(send_chat_or_dot_command(chat));
    EXPECT_EQ(bitmap_get_listbox_row_count(chat, LOG), 0);
    set_bitmap_dialog_edit_item_text(chat, EDIT, ".help");
    EXPECT_TRUE(send_chat_or_dot_command(chat));
    EXPECT_EQ(first_row().type, _motd_chat_message_type);
    EXPECT_EQ(std::string(first_row().message).rfind("Available commands: .count", 0), 0u) << first_row().message;
    get_bitmap_dialog_edit_item_text(chat, EDIT, line, (int32_t)sizeof(line));
    EXPECT_STREQ(line, "");

    empty_chat_text_log();
    const rgb_color red = {65535, 0, 0, 0};
    add_chat_to_back_log(_team_chat_message_type, "Brannoc", &red, "kept");
    reset_chat_text(chat, LOG);
    add_chat_text_from_back_log(chat, LOG);
    ASSERT_EQ(bitmap_get_listbox_row_count(chat, LOG), 1);
    EXPECT_EQ(first_row().type, _team_chat_message_type);
    EXPECT_STREQ(first_row().player_name, "Brannoc");
    EXPECT_STREQ(first_row().message, "kept");

    set_bitmap_dialog_edit_item_text(chat, EDIT, "half");
    store_text_field_string(chat, EDIT);
    set_bitmap_dialog_edit_item_text(chat, EDIT, "");
    load_text_field_string(chat, EDIT, true);
    get_bitmap_dialog_edit_item_text(chat, EDIT, line, (int32_t)sizeof(line));
    EXPECT_STREQ(line, "half");
    empty_chat_text_log();
}

TEST_F(chat_list, a_missing_name_or_colour_and_overlong_texts_are_bounded)
{
    const std::string huge(1000, 'w');
    const std::string long_name(100, 'n');
    add_chat_text_full(dialog, CHAT, _directed_chat_message_type, nullptr, nullptr, "hi", false);
    add_chat_text_full(dialog, CHAT, _normal_chat_message_type, long_name.c_str(), nullptr, huge.c_str(), false);
    const std::vector<chat_list_data> all = rows();
    ASSERT_GE(all.size(), 2u);
    EXPECT_STREQ(all[0].player_name, "");
    EXPECT_EQ(memcmp(&all[0].player_color, &CHAT_DEFAULT_PLAYER_COLOR, sizeof(rgb_color)), 0);
    EXPECT_EQ(strlen(all[1].player_name), (size_t)CHAT_PLAYER_NAME_SIZE - 1);
    size_t total = 0;
    for (size_t i = 1; i < all.size(); ++i) total += strnlen(all[i].message, CHAT_STRING_LENGTH);
    EXPECT_EQ(total, (size_t)CHAT_STRING_LENGTH - 1) << "the text is cut to 255 characters, all of them kept";
    draw_frame(dialog);
}

TEST_F(chat_list, the_oldest_row_goes_after_1024_and_only_some_messages_follow_the_reader)
{
    char text[32];
    for (int i = 0; i < MAXIMUM_LINES_OF_CHAT_TEXT + 1; ++i)
    {
        snprintf(text, sizeof(text), "line %d", i);
        say(_normal_chat_message_type, text, true);
    }
    ASSERT_EQ(bitmap_get_listbox_row_count(dialog, CHAT), MAXIMUM_LINES_OF_CHAT_TEXT);
    EXPECT_STREQ(rows().front().message, "line 1");
    EXPECT_STREQ(rows().back().message, "line 1024");

    // The reader scrolls up: a remote normal message leaves the view alone;
    // a local, directed or team message, or the message of the day, follows.
    ASSERT_TRUE(at_bottom());
    move_private_list_by_delta(list(), -200);
    const int32_t up = get_private_list_scroll_position(list());
    ASSERT_FALSE(at_bottom());
    say(_normal_chat_message_type, "remote");
    EXPECT_EQ(list()->autoscroll_mode, _autoscroll_mode_only_at_bottom);
    EXPECT_FALSE(at_bottom());
    struct
    {
        int16_t type;
        bool local;
    } const followers[] = {{_normal_chat_message_type, true},
                           {_directed_chat_message_type, false},
                           {_team_chat_message_type, false},
                           {_motd_chat_message_type, false}};
    for (const auto &f : followers)
    {
        move_private_list_by_delta(list(), -200);
        say(f.type, "follow", f.local);
        EXPECT_EQ(list()->autoscroll_mode, _autoscroll_mode_always) << f.type;
        EXPECT_TRUE(at_bottom()) << f.type;
    }
    // At the bottom a remote message is followed too.
    say(_normal_chat_message_type, "remote at the bottom");
    EXPECT_TRUE(at_bottom());
    (void)up;
}

// ---- plug-in lists -------------------------------------------------------------------------

enum
{
    PLUGINS = 1,
    FILTER = 2,
    MISSING = 3,
};

// Row bytes come from whoever set them: a name that fills its field without
// a terminator is read only up to the field's end.
TEST(plugin_list_procedures, an_unterminated_name_is_read_within_its_field)
{
    std::unique_ptr<plugin_list_data> a(new plugin_list_data), b(new plugin_list_data);
    memset(a.get(), 0, sizeof(plugin_list_data));
    memset(b.get(), 0, sizeof(plugin_list_data));
    memset(a->name, 'b', sizeof(a->name));
    memset(b->name, 'a', sizeof(b->name));
    const int16_t length = (int16_t)sizeof(plugin_list_data);
    EXPECT_GT(plugin_list_sort_by_name(a.get(), length, b.get(), length), 0);
    EXPECT_LT(plugin_list_sort_by_entrypoint_count(b.get(), length, a.get(), length), 0);
    EXPECT_TRUE(plugin_list_match_proc(a.get(), length, "bbb"));
    EXPECT_FALSE(plugin_list_match_proc(a.get(), length, "abc"));
}

class plugin_lists : public vesk_controls
{
protected:
    dialog_data *dialog = nullptr;
    void SetUp() override
    {
        vesk_controls::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dialog = open_test_dialog("plgl", {dialog_test_item("lstp", PLUGINS, {10, 10, 120, 140}),
                                           dialog_test_item("edit", FILTER, {130, 10, 150, 140}),
                                           dialog_test_item("mpll", MISSING, {10, 150, 190, 290})});
        ASSERT_NE(dialog, nullptr);
    }
    std::vector<std::string> names(bool visible_only = false)
    {
        std::vector<std::string> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, PLUGINS); ++row)
        {
            if (visible_only && !bitmap_list_item_visible(dialog, PLUGINS, row)) continue;
            plugin_list_data data;
            int16_t size = (int16_t)sizeof(data);
            bitmap_get_listbox_row_data(dialog, PLUGINS, row, &data, &size);
            out.push_back(std::string(data.name) + (bitmap_get_listbox_value(dialog, PLUGINS) == row ? "*" : ""));
        }
        return out;
    }
};

class plugin_lists_without_plugins : public plugin_lists
{
protected:
    plugin_lists_without_plugins() { with_plugins = false; }
};

const char base_game[] = "Vesk II: Duskenwarder";

TEST_F(plugin_lists_without_plugins, the_solo_list_holds_only_the_base_game_selected)
{
    ASSERT_EQ(tag_file_get_plugin_count(), 0);
    initialize_plugin_list_control(dialog, PLUGINS, nullptr, 0, false, 0, _solo_plugin_list_control);
    EXPECT_EQ(names(), std::vector<std::string>{std::string(base_game) + "*"});
    int16_t index = 0;
    ASSERT_TRUE(get_plugin_list_selected_plugin_index(dialog, PLUGINS, &index));
    EXPECT_EQ(index, BASE_GAME_PLUGIN_INDEX);
}

TEST_F(plugin_lists, solo_maps_sort_by_count_or_by_name_with_the_base_game_first)
{
    ASSERT_EQ(tag_file_get_plugin_count(), 3);
    const int32_t alpha = find_plugin_by_name("Alpha maps");
    ASSERT_NE(alpha, NONE);
    initialize_plugin_list_control(dialog, PLUGINS, nullptr, 0, false, get_plugin_data(alpha)->checksum,
                                   _solo_plugin_list_control);
    EXPECT_EQ(names(), (std::vector<std::string>{base_game, "zeta maps", "Alpha maps*"}))
        << "most maps first; the chosen map set is selected";
    set_plugin_list_sort_method(dialog, PLUGINS, true);
    EXPECT_EQ(names(), (std::vector<std::string>{base_game, "Alpha maps*", "zeta maps"}));
    // Whatever its name, the base game stays first.
    EXPECT_TRUE(add_plugin_to_list(dialog, PLUGINS, BASE_GAME_PLUGIN_INDEX, false, true));
    EXPECT_EQ(names().front(), base_game);
    EXPECT_EQ(names()[1], base_game);
    EXPECT_TRUE(remove_plugin_from_list(dialog, PLUGINS, BASE_GAME_PLUGIN_INDEX));
    EXPECT_FALSE(add_plugin_to_list(dialog, PLUGINS, 99, false, true)) << "not installed";

    // The choice dialog's lists: plug-ins without maps, given or not.
    const int16_t looks = (int16_t)find_plugin_by_name("Looks");
    initialize_plugin_list_control(dialog, PLUGINS, &looks, 1, false, 0, _active_plugin_list_control);
    EXPECT_EQ(names(), std::vector<std::string>{"Looks"});
    initialize_plugin_list_control(dialog, PLUGINS, &looks, 1, false, 0, _inactive_plugin_list_control);
    EXPECT_TRUE(names().empty());
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(&looks, 1, encoded), 0);
    initialize_plugin_list_control(dialog, PLUGINS, encoded, 0, true, 0, _active_plugin_list_control);
    EXPECT_EQ(names(), std::vector<std::string>{"Looks"}) << "the same from an encoded list";
    memset(encoded, 0xFF, sizeof(encoded));
    initialize_plugin_list_control(dialog, PLUGINS, encoded, 0, true, 0, _inactive_plugin_list_control);
    EXPECT_EQ(names(), std::vector<std::string>{"Looks"}) << "a list that does not decode gives none";

    draw_frame(dialog);
    save_picture("plugin_lists");
}

TEST_F(plugin_lists, the_search_field_filters_but_its_placeholder_does_not)
{
    initialize_plugin_list_control(dialog, PLUGINS, nullptr, 0, false, 0, _solo_plugin_list_control);
    set_plugin_list_filter_control(dialog, PLUGINS, FILTER);
    char text[64];
    get_bitmap_dialog_edit_item_text(dialog, FILTER, text, (int32_t)sizeof(text));
    EXPECT_STREQ(text, "(search)");
    refilter_plugin_list_now(dialog, PLUGINS, FILTER);
    EXPECT_EQ(names(true).size(), 3u) << "the placeholder is no filter";

    // Typing into the field refilters at every key, without regard to case.
    set_dialog_focus(dialog, FILTER);
    select_bitmap_dialog_edit_item_text(dialog, FILTER, 0, 100);
    for (char c : std::string("ZET")) feed(make_key_action(_key_q, c));
    get_bitmap_dialog_edit_item_text(dialog, FILTER, text, (int32_t)sizeof(text));
    EXPECT_STREQ(text, "ZET");
    EXPECT_EQ(names(true), std::vector<std::string>{"zeta maps"});
    set_plugin_list_filter_text(dialog, PLUGINS, "");
    EXPECT_EQ(names(true).size(), 3u);
}

TEST_F(plugin_lists, the_encoded_list_is_refused_whole_when_it_does_not_fit)
{
    initialize_plugin_list_control(dialog, PLUGINS, nullptr, 0, false, 0, _solo_plugin_list_control);
    std::vector<uint8_t> encoded(ENCODED_PLUGIN_LIST_SIZE, 0xAA); // exactly 512 bytes: ASan sees any write past
    EXPECT_EQ(get_encoded_plugin_data_from_list(dialog, PLUGINS, encoded.data()), 2)
        << "the two plug-ins, the base game's row left out";
    int16_t decoded[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    ASSERT_TRUE(tag_file_plugins_decode(decoded, &count, encoded.data(), nullptr, nullptr, 0));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(decoded[0], find_plugin_by_name("zeta maps")) << "in row order";

    // 1024 rows of plug-ins cannot be one game's list.
    bitmap_empty_list(dialog, PLUGINS);
    bitmap_set_list_sort_proc(dialog, PLUGINS, nullptr);
    for (int i = 0; i < MAXIMUM_PLUGIN_LIST_ROWS; ++i) add_plugin_to_list(dialog, PLUGINS, (int16_t)(i % 3), false, true);
    ASSERT_EQ(bitmap_get_listbox_row_count(dialog, PLUGINS), MAXIMUM_PLUGIN_LIST_ROWS);
    {
        expected_assertions refused(0);
        EXPECT_EQ(get_encoded_plugin_data_from_list(dialog, PLUGINS, encoded.data()), NONE);
    }
    EXPECT_EQ(encoded, std::vector<uint8_t>(ENCODED_PLUGIN_LIST_SIZE, 0)) << "512 zero bytes, never a cut list";
}

// Look-ups the test's networking answers: "found" plug-ins have a download page.
std::vector<std::string> looked_up;
std::vector<std::string> opened;
bool test_lookup(const char *name, const char *url, uint32_t, char *download_url, int32_t size)
{
    looked_up.push_back(name);
    if (strcmp(name, "found") != 0) return false;
    snprintf(download_url, (size_t)size, "http://%s/download", url);
    return true;
}
void test_go_to_url(const char *url) { opened.push_back(url); }

TEST_F(plugin_lists, one_look_up_per_press_and_release_on_a_rows_button)
{
    static const networking_procedures network = {.go_to_url = test_go_to_url, .lookup_plugin = test_lookup};
    register_networking_procedures(&network);
    looked_up.clear();
    opened.clear();
    missing_plugin_info found = {}, lost = {};
    strlcpy(found.name, "found", sizeof(found.name));
    strlcpy(found.url, "example.org/found", sizeof(found.url));
    strlcpy(lost.name, "lost", sizeof(lost.name));
    add_missing_plugin_to_list(dialog, MISSING, &found);
    add_missing_plugin_to_list(dialog, MISSING, &lost);
    ASSERT_EQ(bitmap_get_listbox_row_count(dialog, MISSING), 2);

    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    const bitmap_data *button = get_bitmap(elements, MISSING_PLUGIN_BUTTON_BITMAP);
    ASSERT_NE(button, nullptr);
    // A point on row `row`'s button, found from the row's own hit test.
    auto on_button = [&](int16_t row) {
        const int16_t line = bitmap_get_list_line_height(dialog, MISSING);
        const rectangle2d b = find_control(dialog, MISSING)->bounds;
        for (int16_t x = b.right; x > b.left; --x)
        {
            const point2d p = {x, (int16_t)(b.top + 2 + row * line + 3)};
            rectangle2d distances;
            if (bitmap_list_get_row_at_point(dialog, MISSING, p, &distances) == row && distances.right == 1) return p;
        }
        ADD_FAILURE() << "no row edge";
        return point2d{0, 0};
    };
    const point2d first = on_button(0), second = on_button(1);
    ASSERT_LT(first.y, second.y);

    feed(make_click_action(screen_x(first.x), screen_y(first.y)));
    feed(make_hold_action(screen_x(first.x), screen_y(first.y)));
    EXPECT_TRUE(looked_up.empty()) << "nothing while the button is held";
    feed(make_release_action(screen_x(first.x), screen_y(first.y)));
    EXPECT_EQ(looked_up, std::vector<std::string>{"found"});
    EXPECT_EQ(opened, std::vector<std::string>{"http://example.org/found/download"});

    // Released off the button: nothing.
    feed(make_click_action(screen_x(second.x), screen_y(second.y)));
    feed(make_release_action(screen_x((int16_t)(second.x - button->width - 4)), screen_y(second.y)));
    EXPECT_EQ(looked_up.size(), 1u);
    // Released on it: not found marks the row.
    feed(make_click_action(screen_x(second.x), screen_y(second.y)));
    feed(make_release_action(screen_x(second.x), screen_y(second.y)));
    EXPECT_EQ(looked_up, (std::vector<std::string>{"found", "lost"}));
    missing_plugins_list_row_data row;
    int16_t size = (int16_t)sizeof(row);
    bitmap_get_listbox_row_data(dialog, MISSING, 1, &row, &size);
    EXPECT_TRUE(row.not_found);
    EXPECT_FALSE(row.is_pressed);

    draw_frame(dialog);
    save_picture("missing_plugins");
    clear_missing_plugins_list(dialog, MISSING);
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, MISSING), 0);
}

// ---- colour picker -------------------------------------------------------------------------

enum
{
    PICKER = 1,
};

class color_picker : public vesk_controls
{
protected:
    dialog_data *dialog = nullptr;
    void SetUp() override
    {
        vesk_controls::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dialog = open_test_dialog("colr", {dialog_test_item("colr", PICKER, {20, 20, 80, 120})});
        ASSERT_NE(dialog, nullptr);
    }
    rgb_color color(void)
    {
        rgb_color c = {1, 1, 1, 1};
        get_color_picker_color(dialog, PICKER, &c);
        return c;
    }
    hsv_color hsv(void)
    {
        const rgb_color c = color();
        hsv_color h;
        rgb_color_to_hsv_color(&c, &h);
        return h;
    }
    bool press(point2d p)
    {
        action_data down = make_click_action(p.x, p.y);
        param_control_click_verb parameter = {&down};
        return color_picker_control_handler(_control_click_verb, dialog, PICKER, &parameter) != 0;
    }
};

TEST_F(color_picker, a_100_by_60_item_becomes_a_square_with_wheel_slider_and_swatch)
{
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, PICKER, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 100);
    EXPECT_EQ(bounds.bottom - bounds.top, 100);
    rectangle2d wheel, slider, swatch;
    ASSERT_TRUE(get_color_picker_layout(dialog, PICKER, &wheel, &slider, &swatch));
    // q = 24: wheel 72 x 72, slider x 75..99, swatch y 75..99.
    EXPECT_EQ(wheel.left - 20, 0);
    EXPECT_EQ(wheel.right - 20, 72);
    EXPECT_EQ(wheel.bottom - 20, 72);
    EXPECT_EQ(slider.left - 20, 75);
    EXPECT_EQ(slider.right - 20, 99);
    EXPECT_EQ(swatch.top - 20, 75);
    EXPECT_EQ(swatch.bottom - 20, 99);
    const rgb_color black = {0, 0, 0, 0};
    EXPECT_EQ(memcmp(&(const rgb_color &)color(), &black, 6), 0) << "black at creation";
}

TEST_F(color_picker, the_wheel_sets_hue_and_saturation_inside_its_circle_and_the_slider_only_the_value)
{
    rectangle2d wheel, slider;
    ASSERT_TRUE(get_color_picker_layout(dialog, PICKER, &wheel, &slider, nullptr));
    const rgb_color grey = {32768, 32768, 32768, 0};
    set_color_picker_color(dialog, PICKER, &grey);

    // r = 36: a click 36 pixels right of the centre is on the edge.
    const point2d centre = {(int16_t)(wheel.left + 36), (int16_t)(wheel.top + 36)};
    EXPECT_FALSE(press({centre.x, (int16_t)(centre.y - 36)}));
    EXPECT_EQ(memcmp(&(const rgb_color &)color(), &grey, 6), 0) << "the edge changes nothing";

    // Straight down from the centre (a quarter turn) at half the radius.
    ASSERT_TRUE(press({centre.x, (int16_t)(centre.y + 18)}));
    const hsv_color picked = hsv();
    EXPECT_NEAR(picked.hue, QUARTER_CIRCLE, 700);
    EXPECT_NEAR(picked.saturation, 32768, 1200);

    // Dragging down the slider: only the value moves.
    uint16_t last_value = 0;
    for (int16_t y = (int16_t)(slider.top + 10); y < slider.bottom; y += 20)
    {
        ASSERT_TRUE(press({(int16_t)(slider.left + 5), y}));
        const hsv_color now = hsv();
        EXPECT_NEAR(now.hue, picked.hue, 400) << y;
        EXPECT_NEAR(now.saturation, picked.saturation, 1200) << y;
        EXPECT_GT(now.value, last_value) << y;
        last_value = now.value;
    }

    // A release does nothing; the swatch does not change the colour.
    const rgb_color before = color();
    action_data up = make_release_action((int16_t)(slider.left + 5), (int16_t)(slider.top + 2));
    param_control_click_verb parameter = {&up};
    EXPECT_EQ(color_picker_control_handler(_control_click_verb, dialog, PICKER, &parameter), 0);
    EXPECT_EQ(memcmp(&(const rgb_color &)color(), &before, 6), 0);
}

TEST_F(color_picker, wheel_pixels_have_their_angles_hue_and_nothing_is_drawn_outside_the_bitmap)
{
    const rgb_color white = {65535, 65535, 65535, 0};
    set_color_picker_color(dialog, PICKER, &white);
    draw_frame(dialog);
    save_picture("color_picker");
    rectangle2d wheel;
    ASSERT_TRUE(get_color_picker_layout(dialog, PICKER, &wheel, nullptr, nullptr));
    // The pixel 30 to the right of the centre (hue 0, red) and 30 below it
    // (a quarter turn) at full value.
    const uint32_t right = screen.pixel(screen_x((int16_t)(wheel.left + 36 + 30)), screen_y((int16_t)(wheel.top + 36)));
    const uint32_t below = screen.pixel(screen_x((int16_t)(wheel.left + 36)), screen_y((int16_t)(wheel.top + 36 + 30)));
    for (const auto &[pixel, hue] : {std::pair{right, 0}, std::pair{below, (int)QUARTER_CIRCLE}})
    {
        const rgb_color c = {(uint16_t)(((pixel >> 16) & 0xFF) * 257), (uint16_t)(((pixel >> 8) & 0xFF) * 257),
                             (uint16_t)((pixel & 0xFF) * 257), 0};
        hsv_color h;
        rgb_color_to_hsv_color(&c, &h);
        EXPECT_NEAR(h.hue, hue, 800) << std::hex << pixel;
        EXPECT_GT(h.saturation, 40000) << std::hex << pixel;
    }

    // A wheel far larger than the bitmap it is drawn into stays inside it.
    bitmap_data *small = new_bitmap(40, 30, 0, _32bit_encoding, 0);
    ASSERT_NE(small, nullptr);
    const rectangle2d huge = {-50, -60, 150, 140};
    rasterize_color_picker_wheel(small, &huge, 65535);
    rasterize_color_picker_slider(small, &huge, 0, 65535, 0, 65535);
    free(small);
}

// ---- key binding -----------------------------------------------------------------------------

enum
{
    KEY_1 = 1,
    KEY_2 = 2,
    KEY_3 = 3,
    DEFAULT_BUTTON = 4,
};

class key_binding : public vesk_controls
{
protected:
    dialog_data *dialog = nullptr;
    void SetUp() override
    {
        vesk_controls::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        set_probe_answers(DEFAULT_BUTTON, presses_at_once());
        dialog = open_test_dialog("keyb", {dialog_test_item("keyb", KEY_1, {10, 10, 30, 150}),
                                           dialog_test_item("keyb", KEY_2, {40, 10, 60, 150}),
                                           dialog_test_item("keyb", KEY_3, {70, 10, 90, 150}),
                                           probe_item(DEFAULT_BUTTON, {150, 200, 180, 280})});
        ASSERT_NE(dialog, nullptr);
        set_default_dialog_item(dialog, DEFAULT_BUTTON);
        handler_calls.clear();
    }
    std::string text(int16_t id)
    {
        char buffer[EDITTEXT_BUFFER_SIZE];
        buffer[0] = 0;
        get_bitmap_dialog_edit_item_text(dialog, id, buffer, (int32_t)sizeof(buffer));
        return buffer;
    }
};

TEST_F(key_binding, keys_fill_the_fields_in_turn_and_the_dialogs_keys_stay_the_dialogs)
{
    const int32_t names = string_list_tag_to_string_index(INTERNAL_KEY_NAMES_TAG);
    ASSERT_NE(names, NONE);
    EXPECT_EQ(get_dialog_item_refcon(dialog, KEY_1), names);

    set_dialog_focus(dialog, KEY_1);
    EXPECT_TRUE(feed(make_key_action(_key_a, 'a')));
    EXPECT_EQ(get_dialog_focus(dialog), KEY_2);
    EXPECT_TRUE(feed(make_key_action(_key_f1, NONE)));
    EXPECT_EQ(get_dialog_focus(dialog), KEY_3);
    EXPECT_TRUE(feed(make_key_action(_key_z, 'z')));
    EXPECT_EQ(text(KEY_1), get_key_string(names, _key_a));
    EXPECT_EQ(text(KEY_2), "F1");
    EXPECT_EQ(text(KEY_3), get_key_string(names, _key_z));
    EXPECT_FALSE(text(KEY_1).empty());
    draw_frame(dialog);
    save_picture("key_binding");

    // Tab and Return are the dialog's: focus moves, the default item fires,
    // the focused field's text stays.
    set_dialog_focus(dialog, KEY_2);
    feed(make_key_action(_key_tab, '\t'));
    EXPECT_EQ(get_dialog_focus(dialog), KEY_3);
    EXPECT_EQ(text(KEY_2), "F1");
    handler_calls.clear();
    EXPECT_TRUE(feed(make_key_action(_key_return, '\r')));
    action_data next = make_test_action();
    handle_dialog_item_down(dialog, &next);
    EXPECT_EQ(handled_items(), std::vector<int16_t>{DEFAULT_BUTTON});
    EXPECT_EQ(text(KEY_3), get_key_string(names, _key_z));

    // A code without a name shows an empty text.
    set_keybinding_control_key(dialog, KEY_1, 120);
    EXPECT_EQ(text(KEY_1), "");
    set_keybinding_control_key(dialog, KEY_1, _key_b);
    EXPECT_EQ(text(KEY_1), get_key_string(names, _key_b));
}

TEST_F(key_binding, a_click_focuses_the_field_without_a_caret_and_never_fires)
{
    set_dialog_focus(dialog, KEY_3);
    const int16_t x = screen_x(60), y = screen_y(20);
    feed(make_click_action(x, y));
    EXPECT_EQ(get_dialog_focus(dialog), KEY_1);
    const edittext_data *edit = (const edittext_data *)get_dialog_item_extra_data(dialog, KEY_1);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->last_click_meant, _meant_focus);
    feed(make_release_action(x, y));
    EXPECT_EQ(edit->last_click_meant, _meant_nothing);
    // A second press on the focused field still places no caret.
    feed(make_click_action(x, y));
    EXPECT_EQ(edit->last_click_meant, _meant_focus);
    feed(make_release_action(x, y));
    action_data next = make_test_action();
    handle_dialog_item_down(dialog, &next);
    EXPECT_TRUE(handled_items().empty()) << "presses never fire the field";
}

// ---- the screen page -----------------------------------------------------------------------------

class screen_page : public vesk_controls
{
protected:
    dialog_data *dialog = nullptr;
    screen_parameters record = {};
    screen_parameters *old_prefs = nullptr;
    int16_t software = NONE, opengl = NONE;
    device_info_opengl opengl_extra = {};

    void SetUp() override
    {
        vesk_controls::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The page enables what the back end answers for each device.
        register_opengl_hardware_rasterizer();
        clear_screen_devices();
        device_info device;
        memset(&device, 0, sizeof(device));
        device.rasterizer_code = _rasterizer_software;
        device.rasterizer_id = SOFTWARE_RASTERIZER_ID;
        strlcpy(device.name, "Software", sizeof(device.name));
        add_device_mode(&device, 0, 1280, 720, 32, 60, 1.0f);
        add_device_mode(&device, 0, 800, 600, 32, 60, 1.0f);
        add_device_mode(&device, _device_mode_preferred_flag, 1024, 768, 32, 60, 1.0f);
        add_device_mode(&device, 0, 640, 480, 32, 60, 2.0f); // HiDPI: never on the software device
        report_device(&device);
        memset(&device, 0, sizeof(device));
        device.rasterizer_code = _rasterizer_opengl;
        device.rasterizer_id = OPENGL_RASTERIZER_ID;
        opengl_extra.opengl2_device = true;
        device.extra_data = &opengl_extra;
        strlcpy(device.name, "OpenGL", sizeof(device.name));
        add_device_mode(&device, 0, 1024, 768, 32, 75, 1.0f);
        add_device_mode(&device, 0, 1600, 900, 32, 60, 1.0f);
        add_device_mode(&device, 0, 1024, 768, 32, 60, 1.0f);
        add_device_mode(&device, 0, 500, 300, 32, 60, 2.0f);
        add_device_mode(&device, 0, 800, 600, 32, 60, 1.0f);
        report_device(&device);
        sort_screen_devices();
        ASSERT_TRUE(find_device(SOFTWARE_RASTERIZER_ID, nullptr, &software));
        ASSERT_TRUE(find_device(OPENGL_RASTERIZER_ID, nullptr, &opengl));

        default_screen_parameters(&record);
        record.device_index = opengl;
        record.mode_index = 2; // 1024 x 768 at 60
        record.rasterizer_id = OPENGL_RASTERIZER_ID;
        record.flags = _screen_pref_fog_enabled_flag | _screen_pref_windowed_flag |
                       _screen_pref_fullscreen_windowed_flag | _screen_pref_texture_cache_size_updated_flag |
                       _screen_pref_landscape_textures_flag | _screen_pref_vsync_enabled_flag;
        record.max_fps = -90;
        record.gamma = 256;
        old_prefs = active_screen.prefs;
        active_screen.prefs = &record;

        // The demo data's preferences dialog, as the data tool made it.
        dialog = new_dialog(dialog_test_code("!prf"), recording_handler, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
        screen_preferences_panel_handler(dialog, _preferences_panel_setup, NONE);
    }
    void TearDown() override
    {
        active_screen.prefs = old_prefs;
        clear_screen_devices();
        vesk_controls::TearDown();
    }
    std::vector<std::string> resolutions(void)
    {
        std::vector<std::string> out;
        char text[STRING_LIST_TEXT_SIZE];
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, 24); ++row)
        {
            string_list_data data;
            int16_t size = (int16_t)sizeof(data);
            bitmap_get_listbox_row_data(dialog, 24, row, &data, &size);
            strlcpy(text, data.string, sizeof(text));
            out.push_back(text);
        }
        return out;
    }
    void choose_device(int16_t device_index)
    {
        ASSERT_TRUE(select_string_list_by_identifier(dialog, 22, device_index));
        screen_preferences_panel_handler(dialog, _preferences_panel_item_hit, 22);
    }
    void click_check_box(int16_t id, bool on)
    {
        set_checkbox_state(dialog, id, on);
        screen_preferences_panel_handler(dialog, _preferences_panel_item_hit, id);
    }
};

TEST_F(screen_page, setup_lists_devices_by_preference_and_modes_by_their_numbers)
{
    string_list_data first;
    int16_t size = (int16_t)sizeof(first);
    bitmap_get_listbox_row_data(dialog, 22, 0, &first, &size);
    EXPECT_STREQ(first.string, "OpenGL  |i(Recommended)");
    EXPECT_EQ(first.identifier, opengl);
    EXPECT_EQ(get_string_list_selected_identifier(dialog, 22), opengl);
    EXPECT_EQ(resolutions(),
              (std::vector<std::string>{"800 x 600", "1000 x 600 [HiDPI]", "1024 x 768", "1024 x 768", "1600 x 900"}))
        << "by width, not by text; a scaled mode shows its device size";
    EXPECT_EQ(get_string_list_selected_identifier(dialog, 24), 2);
    EXPECT_FALSE(bitmap_get_item_visible(dialog, 39));
    EXPECT_TRUE(bitmap_get_item_enabled(dialog, 20)) << "OpenGL has a texture cache";
    EXPECT_EQ(get_slider_value(dialog, 26), 512);

    // Rows that read as fewer numbers come first; the markup is skipped.
    string_list_data a = {}, b = {};
    strlcpy(a.string, "|i900 x 700|p", sizeof(a.string));
    strlcpy(b.string, "1000 x 600", sizeof(b.string));
    EXPECT_LT(resolution_list_sort_proc(&a, sizeof(a), &b, sizeof(b)), 0);
    strlcpy(b.string, "900 x", sizeof(b.string));
    EXPECT_GT(resolution_list_sort_proc(&a, sizeof(a), &b, sizeof(b)), 0);
    strlcpy(b.string, "900 x 600", sizeof(b.string));
    EXPECT_GT(resolution_list_sort_proc(&a, sizeof(a), &b, sizeof(b)), 0);

    draw_frame(dialog);
    save_picture("screen_page");
}

TEST_F(screen_page, choosing_the_software_device_keeps_three_flags_and_carries_the_mode)
{
    choose_device(software);
    EXPECT_EQ(record.device_index, software);
    EXPECT_EQ(record.flags, _screen_pref_fog_enabled_flag | _screen_pref_windowed_flag |
                                _screen_pref_fullscreen_windowed_flag | _screen_pref_landscape_filtering_flag)
        << "fog, windowed and full-screen window kept; landscape filtering set; the cache-updated bit cleared";
    EXPECT_EQ(record.mode_index, 2) << "the software device's 1024 x 768";
    EXPECT_EQ(record.width, 1024);
    EXPECT_EQ(record.height, 768);
    EXPECT_EQ(record.rasterizer_id, SOFTWARE_RASTERIZER_ID);
    EXPECT_STREQ(record.device_name, "Software");
    EXPECT_EQ(resolutions(), (std::vector<std::string>{"800 x 600", "|i1024 x 768|p", "1280 x 720"}));
    EXPECT_FALSE(bitmap_get_item_enabled(dialog, 20)) << "no texture cache on the software device";
    EXPECT_TRUE(bitmap_get_item_enabled(dialog, 13));

    // Back to OpenGL: the most similar mode is the 60 Hz 1024 x 768 one.
    record.mode_index = 2;
    choose_device(opengl);
    EXPECT_EQ(record.mode_index, 2);
    EXPECT_TRUE(record.flags & _screen_pref_vsync_enabled_flag) << "from the OpenGL panel defaults";
    EXPECT_LT(record.max_fps, 0) << "vsync on: the frame cap goes off";

    // Discard puts the stored record back.
    screen_preferences_panel_handler(dialog, _preferences_panel_commit, NONE);
    screen_parameters saved = record;
    record.gamma = 300;
    screen_preferences_panel_handler(dialog, _preferences_panel_discard, NONE);
    EXPECT_EQ(record.gamma, saved.gamma);
    EXPECT_EQ(record.device_index, saved.device_index);
}

TEST_F(screen_page, vsync_and_the_frame_cap_exclude_each_other_unless_shift_is_held)
{
    ASSERT_TRUE(bitmap_get_item_enabled(dialog, 14));
    ASSERT_TRUE(get_checkbox_state(dialog, 14));
    click_check_box(17, true);
    EXPECT_FALSE(get_checkbox_state(dialog, 14));
    EXPECT_EQ(record.max_fps, 90);
    EXPECT_FALSE(record.flags & _screen_pref_vsync_enabled_flag);
    click_check_box(14, true);
    EXPECT_FALSE(get_checkbox_state(dialog, 17));
    EXPECT_EQ(record.max_fps, -90);
    EXPECT_TRUE(record.flags & _screen_pref_vsync_enabled_flag);

    const SDL_Event down = shift_event(true);
    queue_input_event_if_necessary(&down);
    ASSERT_TRUE(key_down(SHIFT_KEYBOARD_CODE));
    click_check_box(17, true);
    EXPECT_TRUE(get_checkbox_state(dialog, 14));
    EXPECT_EQ(record.max_fps, 90);
    EXPECT_TRUE(record.flags & _screen_pref_vsync_enabled_flag);
    const SDL_Event up = shift_event(false);
    queue_input_event_if_necessary(&up);

    {
        expected_assertions halt(1);
        EXPECT_TRUE(screen_preferences_panel_handler(dialog, 9, NONE));
    }
}

} // namespace

namespace {

// ---- every control type ------------------------------------------------------------------------

// The control types of the core's and the game's tables, in their order.
const char *const all_control_types[] = {
    "butt", "stat", "bitm", "radi", "chek", "edit", "list", "popu", "slst", "pass", "colr", "prog", "slid",
    "numb", "tabc", "sacc", "chat", "plli", "pbli", "poli", "bann", "cgrf", "cstt", "ched", "room", "game",
    "gaml", "snap", "ipop", "STAT", "prol", "keyb", "lstg", "repo", "lstp", "lstm", "mpll",
};

TEST_F(vesk_controls, one_item_of_every_registered_type_is_made_drawn_and_disposed_without_a_leak)
{
    // This types are all registered.
    for (const char *code : {"colr", "chat", "plli", "game", "snap", "ipop", "prol", "keyb", "lstp", "mpll"})
        EXPECT_NE(find_control_handler(dialog_test_code(code)), nullptr) << code;

    std::vector<dialog_item_description> items;
    int16_t id = 1;
    for (const char *code : all_control_types)
    {
        if (!find_control_handler(dialog_test_code(code))) continue;
        // A grid of 7 columns of 40 x 30 items.
        const int16_t column = (int16_t)((id - 1) % 7), row = (int16_t)((id - 1) / 7);
        items.push_back(dialog_test_item(code, id, {(int16_t)(5 + row * 34), (int16_t)(5 + column * 42),
                                        (int16_t)(35 + row * 34), (int16_t)(45 + column * 42)},
                             "text"));
        ++id;
    }
    ASSERT_GE(items.size(), 26u);
    dialog_data *dialog = open_test_dialog("ever", items);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(get_dialog_item_count(dialog), (int16_t)items.size()) << "every item was made";
    for (const dialog_item_description &d : items)
        EXPECT_EQ(get_bitmap_item_tag(dialog, d.item_id), d.type) << d.item_id;
    draw_frame(dialog);
    dispose_dialog(dialog);
    // LeakSanitizer, at the end of the run, finds any record a dispose verb left behind.
}

} // namespace

} // namespace vesk_controls_test_file
