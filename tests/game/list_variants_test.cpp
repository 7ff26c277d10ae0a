// The string, tag and map lists in a dialog drawn with the demo data's art
// and the data tool's fixed test font: string-list masks (the bits end at
// 32), identifiers and the walk over selected rows; the tag list's orders by
// name and by date; the map list's single-player rules (shift, secret maps,
// levels that open the next hundred, training maps) and its colours; and the
// getters on empty lists and on items of other types.

#include "support/dialog_input_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utime.h>
#include <vector>

#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_dialogs/tag_list_control.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/byte_swapping.h"
#include "game_preferences.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "mesh_format.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "vesk/string_lists.h"

namespace list_variants_test_file {

namespace {

enum
{
    STRINGS = 1,
    MORE_STRINGS = 2,
    TAGS = 3,
    MAPS = 4,
};

// A test map: "EPTS", then big-endian flags and level, then the printed name.
const char map_magic[] = "EPTS";

bool test_entry_point_reader(int32_t tag_index, full_entry_point *entry)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info) || info.size < 10 || info.size > 200) return false;
    uint8_t bytes[200] = {};
    if (!tag_file_read(tag_index, 0, info.size, bytes) || memcmp(bytes, map_magic, 4) != 0) return false;
    entry->mesh_flags = (uint32_t)bytes[4] << 24 | (uint32_t)bytes[5] << 16 | (uint32_t)bytes[6] << 8 | bytes[7];
    entry->level = (int16_t)(bytes[8] << 8 | bytes[9]);
    strlcpy(entry->printed_name, (const char *)bytes + 10, sizeof(entry->printed_name));
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

constexpr uint32_t single = _mesh_is_single_player_entry_point_flag;
constexpr uint32_t complete = _mesh_is_complete_flag;

class list_variants : public demo_interface_test
{
protected:
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        initialize_input_device();
        dialog = open_test_dialog("lsts", {dialog_test_item("slst", STRINGS, {10, 10, 100, 140}),
                                           dialog_test_item("slst", MORE_STRINGS, {110, 10, 190, 140}),
                                           dialog_test_item("lstg", TAGS, {10, 150, 100, 290}),
                                           dialog_test_item("lstm", MAPS, {110, 150, 190, 290})});
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override
    {
        release_input_devices();
        demo_interface_test::TearDown();
    }

    void store_strings(const char *subgroup, int32_t count)
    {
        std::vector<std::string> texts;
        for (int32_t i = 0; i < count; ++i) texts.push_back("String " + std::to_string(i));
        std::vector<const char *> pointers;
        for (const std::string &t : texts) pointers.push_back(t.c_str());
        std::vector<uint8_t> bytes((size_t)encode_string_list_data(pointers.data(), count, nullptr, 0));
        encode_string_list_data(pointers.data(), count, bytes.data(), (int32_t)bytes.size());
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    // The identifiers of the rows, in order, and which rows are enabled.
    std::vector<int32_t> identifiers(int16_t item_id)
    {
        std::vector<int32_t> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, item_id); ++row)
        {
            string_list_data data;
            int16_t size = (int16_t)sizeof(data);
            bitmap_get_listbox_row_data(dialog, item_id, row, &data, &size);
            out.push_back(data.identifier);
        }
        return out;
    }
    std::vector<int16_t> enabled_rows(int16_t item_id)
    {
        std::vector<int16_t> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, item_id); ++row)
            if (bitmap_list_item_enabled(dialog, item_id, row)) out.push_back(row);
        return out;
    }

    // A film tag whose file was last changed at `seconds`.
    int32_t film(const char *name, int32_t seconds)
    {
        const int32_t index = write_local_tag(RECORDING_GROUP_TAG, name, 1, "film", 4);
        const std::string path = std::string(FILMS_FOLDER) + "/" + tag_file_full_filename_get(index);
        const utimbuf times = {seconds, seconds};
        EXPECT_EQ(utime(path.c_str(), &times), 0) << path;
        return index;
    }
    std::vector<std::string> tag_rows(void)
    {
        std::vector<std::string> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, TAGS); ++row)
        {
            tag_list_data data;
            int16_t size = (int16_t)sizeof(data);
            bitmap_get_listbox_row_data(dialog, TAGS, row, &data, &size);
            out.push_back(tag_file_name_get(data.tag_index));
        }
        return out;
    }

    void store_map(const char *subgroup, uint32_t flags, int16_t level)
    {
        std::vector<uint8_t> bytes(map_magic, map_magic + 4);
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back((uint8_t)(flags >> shift));
        bytes.push_back((uint8_t)(level >> 8));
        bytes.push_back((uint8_t)level);
        const std::string name = std::string("Map ") + subgroup;
        bytes.insert(bytes.end(), name.begin(), name.end());
        bytes.push_back(0);
        write_local_tag(MESH_GROUP_TAG, subgroup, 1, bytes.data(), (int32_t)bytes.size());
    }
    // The maps of the single-player campaign and one multiplayer map, made entry points.
    void store_maps(void)
    {
        register_entry_point_reader_procedure(test_entry_point_reader);
        store_map("m101", single | complete, 101);
        store_map("m102", single | complete, 102);
        store_map("m201", single | complete, 201);
        store_map("m250", single | complete, 250);
        store_map("unfn", single, 103);
        store_map("03hp", single | complete, 300);
        store_map("trai", single | complete | _mesh_is_training_map_flag, 50);
        store_map("mult", 1 | complete, 10);
        entry_points_open(0, nullptr, 0);
    }
    // The maps listed, in order, with "-" before those that cannot be started.
    std::vector<std::string> maps(void)
    {
        std::vector<std::string> out;
        for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, MAPS); ++row)
        {
            const int32_t value = get_entry_point_list_item_value(dialog, MAPS, row);
            char code[5] = {(char)(value >> 24), (char)(value >> 16), (char)(value >> 8), (char)value, 0};
            out.push_back(std::string(bitmap_list_item_enabled(dialog, MAPS, row) ? "" : "-") + code);
        }
        return out;
    }
    void populate(uint32_t mask, const char *current, bool network = false)
    {
        populate_map_list_plugin_restricted(dialog, MAPS, mask, current ? dialog_test_code(current) : 0,
                                            BASE_GAME_PLUGIN_INDEX, network);
    }
    std::string selected_map(void)
    {
        const int32_t value = get_entry_point_list_item_value(dialog, MAPS, NONE);
        if (value == NONE) return "none";
        return {(char)(value >> 24), (char)(value >> 16), (char)(value >> 8), (char)value};
    }
};

TEST_F(list_variants, string_list_masks_pick_rows_and_bits_end_at_32)
{
    store_strings("str5", 3);
    store_strings("st34", 34);
    append_strings_to_list_with_mask(dialog, STRINGS, dialog_test_code("str5"), 5, false);
    EXPECT_EQ(identifiers(STRINGS), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(enabled_rows(STRINGS), (std::vector<int16_t>{0, 1}));

    bitmap_empty_list(dialog, STRINGS);
    append_strings_to_list_with_mask(dialog, STRINGS, dialog_test_code("str5"), 5, true);
    EXPECT_EQ(identifiers(STRINGS), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(enabled_rows(STRINGS), (std::vector<int16_t>{0, 2})) << "the excluded string is there, disabled";

    // Strings from 32 on have no bit: left out, or disabled with `all`.
    set_string_list_sorted(dialog, MORE_STRINGS, false);
    append_strings_to_list_with_mask(dialog, MORE_STRINGS, dialog_test_code("st34"), 0xFFFFFFFFu, false);
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, MORE_STRINGS), 32);
    bitmap_empty_list(dialog, MORE_STRINGS);
    append_strings_to_list_with_mask(dialog, MORE_STRINGS, dialog_test_code("st34"), 0xFFFFFFFFu, true);
    ASSERT_EQ(bitmap_get_listbox_row_count(dialog, MORE_STRINGS), 34);
    EXPECT_EQ(enabled_rows(MORE_STRINGS).size(), 32u);
    EXPECT_FALSE(bitmap_list_item_enabled(dialog, MORE_STRINGS, 32));
    EXPECT_FALSE(bitmap_list_item_enabled(dialog, MORE_STRINGS, 33));

    // A missing string list adds nothing.
    append_strings_to_list_with_mask(dialog, STRINGS, dialog_test_code("none"), 5, true);
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, STRINGS), 3);
}

TEST_F(list_variants, string_list_identifiers_select_only_enabled_rows_and_walk_the_selection)
{
    EXPECT_EQ(add_string_to_list(dialog, STRINGS, "Beta", 7, true), 0);
    EXPECT_EQ(add_string_to_list(dialog, STRINGS, "alpha", 7, false), 0) << "sorted case-blind";
    add_string_to_list(dialog, STRINGS, "Gamma", 9, false);
    EXPECT_EQ(get_string_list_selected_identifier(dialog, STRINGS), NONE);
    EXPECT_TRUE(select_string_list_by_identifier(dialog, STRINGS, 7));
    EXPECT_EQ(bitmap_get_listbox_value(dialog, STRINGS), 1) << "the disabled row with the identifier is skipped";
    EXPECT_FALSE(select_string_list_by_identifier(dialog, STRINGS, 9)) << "only a disabled row has it";
    EXPECT_EQ(get_string_list_selected_identifier(dialog, STRINGS), 7);

    // The walk: the text cut to the buffer, the row left one past the find.
    char text[3];
    int16_t row = 0;
    EXPECT_TRUE(get_list_selected_string(dialog, STRINGS, text, (int32_t)sizeof(text), &row));
    EXPECT_STREQ(text, "Be");
    EXPECT_EQ(row, 2);
    EXPECT_FALSE(get_list_selected_string(dialog, STRINGS, text, (int32_t)sizeof(text), &row));
    EXPECT_STREQ(text, "");

    // Renaming and deleting take the first row with the identifier.
    EXPECT_TRUE(change_string_list_item_name(dialog, STRINGS, 7, "Omega"));
    EXPECT_FALSE(change_string_list_item_name(dialog, STRINGS, 8, "None"));
    delete_string_by_id(dialog, STRINGS, 7);
    EXPECT_EQ(identifiers(STRINGS), (std::vector<int32_t>{7, 9}));
    row = 0;
    EXPECT_TRUE(get_list_selected_string(dialog, STRINGS, text, (int32_t)sizeof(text), &row));
    EXPECT_STREQ(text, "Be") << "Beta stayed";

    // Unsorted rows keep their order until sorting is turned on again.
    set_string_list_sorted(dialog, STRINGS, false);
    add_string_to_list(dialog, STRINGS, "Aardvark", 3, true);
    EXPECT_EQ(identifiers(STRINGS), (std::vector<int32_t>{7, 9, 3}));
    set_string_list_sorted(dialog, STRINGS, true);
    EXPECT_EQ(identifiers(STRINGS), (std::vector<int32_t>{3, 7, 9}));

    // A text of 300 bytes keeps 255 and its terminator.
    const std::string long_text(300, 'x');
    const int16_t long_row = add_string_to_list(dialog, STRINGS, long_text.c_str(), 4, true);
    string_list_data data;
    int16_t size = (int16_t)sizeof(data);
    bitmap_get_listbox_row_data(dialog, STRINGS, long_row, &data, &size);
    EXPECT_EQ(strlen(data.string), 255u);

    bitmap_clear_selections(dialog, STRINGS);
    select_string_list_first_enabled_item(dialog, STRINGS);
    EXPECT_EQ(get_string_list_selected_identifier(dialog, STRINGS), 3);

    // String-list calls on another list type are refused.
    expected_assertions expect(2, "not a string list");
    EXPECT_EQ(add_string_to_list(dialog, TAGS, "no", 1, true), NONE);
    EXPECT_EQ(get_string_list_selected_identifier(dialog, MAPS), NONE);
}

TEST_F(list_variants, the_tag_list_sorts_by_date_newest_first_only_when_rows_are_sorted)
{
    film("Old", 1000000);
    const int32_t newest = film("Newest", 3000000);
    film("Middle", 2000000);
    film("Skipped", 4000000);
    set_tag_list_sort_order(dialog, TAGS, TAG_LIST_SORT_BY_DATE);
    append_tags_to_tag_list(
        dialog, TAGS, RECORDING_GROUP_TAG,
        [](int32_t tag_index, void *context) { return strcmp(tag_file_name_get(tag_index), (const char *)context) != 0; },
        (void *)"Skipped", true);
    EXPECT_EQ(tag_rows(), (std::vector<std::string>{"Newest", "Middle", "Old"}));
    EXPECT_EQ(get_tag_list_selected_header(dialog, TAGS), newest) << "row 0 is selected";

    // Choosing the order does not reorder; the next sort does.
    set_tag_list_sort_order(dialog, TAGS, TAG_LIST_SORT_BY_NAME);
    EXPECT_EQ(tag_rows(), (std::vector<std::string>{"Newest", "Middle", "Old"}));
    bitmap_sort_list(dialog, TAGS);
    EXPECT_EQ(tag_rows(), (std::vector<std::string>{"Middle", "Newest", "Old"}));

    // A group without tags adds nothing and selects nothing.
    bitmap_empty_list(dialog, TAGS);
    append_tags_to_tag_list(dialog, TAGS, SAVED_GAME_GROUP_TAG, nullptr, nullptr, true);
    EXPECT_EQ(get_tag_list_selected_header(dialog, TAGS), NONE);
}

TEST_F(list_variants, the_map_list_follows_the_single_player_rules)
{
    store_maps();
    // Unvisited: the first level and those ending in 01 can be started; the
    // unfinished, training and secret maps are not listed; the lowest level
    // is selected.
    populate(single, nullptr);
    EXPECT_EQ(maps(), (std::vector<std::string>{"m101", "-m102", "m201", "-m250"}));
    EXPECT_EQ(selected_map(), "m101");

    // A visited level opens; the secret map shows once it is current or visited.
    mark_solo_level_as_visited(dialog_test_code("m102"), BASE_GAME_PLUGIN_INDEX);
    populate(single, "03hp");
    EXPECT_EQ(maps(), (std::vector<std::string>{"m101", "m102", "m201", "-m250", "03hp"}));
    EXPECT_EQ(selected_map(), "03hp");
    populate(single, nullptr);
    EXPECT_EQ(maps().size(), 4u) << "neither current nor visited: hidden again";
    mark_solo_level_as_visited(dialog_test_code("03hp"), BASE_GAME_PLUGIN_INDEX);
    populate(single, nullptr);
    EXPECT_EQ(maps().size(), 5u);

    // Shift shows unfinished and training maps and unlocks every level;
    // training maps stay out of network games.
    const SDL_Event down = shift_event(true);
    queue_input_event_if_necessary(&down);
    ASSERT_TRUE(key_down(KEY_TO_SHOW_ALL_UNFINISHED_MAPS));
    populate(single, nullptr);
    EXPECT_EQ(maps(), (std::vector<std::string>{"trai", "m101", "m102", "unfn", "m201", "m250", "03hp"}));
    EXPECT_EQ(selected_map(), "m101") << "training maps are never the first entry";
    populate(single, nullptr, true);
    EXPECT_EQ(maps(), (std::vector<std::string>{"m101", "m102", "unfn", "m201", "m250", "03hp"}));
    const SDL_Event up = shift_event(false);
    queue_input_event_if_necessary(&up);

    // Outside single-player play every qualifying map is open, without prefix.
    populate(0xFFFF, nullptr, true);
    EXPECT_EQ(maps(), (std::vector<std::string>{"mult"}));
    char name[6];
    EXPECT_TRUE(get_entry_point_list_item_name(dialog, MAPS, 0, name, (int32_t)sizeof(name)));
    EXPECT_STREQ(name, "Map m") << "cut to the buffer";
    ep_list_data row;
    int16_t size = (int16_t)sizeof(row);
    bitmap_get_listbox_row_data(dialog, MAPS, 0, &row, &size);
    EXPECT_EQ(row.prefix_symbol, NONE);
    EXPECT_EQ(get_entry_point_list_item_mesh_flags(dialog, MAPS, NONE), (int32_t)(1 | complete));
    EXPECT_EQ(get_entry_point_list_item_plugin_index(dialog, MAPS, NONE), BASE_GAME_PLUGIN_INDEX);

    // Another plug-in's list is empty: every getter gives its failure value.
    populate_map_list_plugin_restricted(dialog, MAPS, single, 0, 3, false);
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, MAPS), 0);
    EXPECT_EQ(get_entry_point_list_item_value(dialog, MAPS, NONE), NONE);
    EXPECT_EQ(get_entry_point_list_item_mesh_flags(dialog, MAPS, NONE), NONE);
    EXPECT_FALSE(get_entry_point_list_item_name(dialog, MAPS, NONE, name, (int32_t)sizeof(name)));
    EXPECT_STREQ(name, "");
    const full_entry_point *entry = (const full_entry_point *)1;
    EXPECT_FALSE(get_entry_point_list_item_data(dialog, MAPS, NONE, &entry));
    EXPECT_EQ(entry, nullptr);
    expected_assertions expect(1, "not a map list");
    EXPECT_EQ(get_entry_point_list_item_value(dialog, STRINGS, 0), NONE);
}

TEST_F(list_variants, a_disabled_map_row_is_drawn_two_thirds_as_bright)
{
    store_maps();
    populate(single, nullptr);
    ASSERT_EQ(maps()[3], "-m250");
    const full_entry_point *entry = nullptr;
    ASSERT_TRUE(get_entry_point_list_item_data(dialog, MAPS, 3, &entry));
    rgb_color color;
    get_entry_point_row_color(&color, entry, false);
    EXPECT_EQ(color.red, 44288 * 43690LL / 65536);
    EXPECT_EQ(color.green, 3584 * 43690LL / 65536);
    EXPECT_EQ(color.blue, 58880 * 43690LL / 65536);
    get_entry_point_row_color(&color, entry, true);
    EXPECT_EQ(color.red, 44288);

    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "maps", "png", 0));
    if (const char *keep = getenv("VESK_MAP_LIST_FRAME"))
        std::filesystem::copy_file("pictures/maps.png", keep, std::filesystem::copy_options::overwrite_existing);
    get_entry_point_row_color(&color, entry, false);
    const uint32_t expected = rgb_color_to_pixel32(&color) & 0xFFFFFFu;
    int32_t found = 0;
    for (int32_t y = 110; y < 190; ++y)
        for (int32_t x = 150; x < 290; ++x) found += (screen.pixel(screen_x((int16_t)x), screen_y((int16_t)y)) & 0xFFFFFFu) == expected;
    EXPECT_GT(found, 0) << "the dimmed colour of level 250 is on the screen";
}

} // namespace

} // namespace list_variants_test_file
