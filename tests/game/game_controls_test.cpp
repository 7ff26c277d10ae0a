// The game's picture controls driven through their procedures on real
// dialogs: the icon popup's grid (columns, the swap at place 0, disabled
// icons, the value kept in range), the game description's lines from the
// option bits and hostile string lists, the snapshot centred and clipped in
// 32 and 16 bits, and the prologue's scrolling, fades and blend in 555, 565
// and 32-bit without a pixel outside its dialog.

#include "support/dialog_harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/icon_popup_control.h"
#include "bitmap_dialogs/prologue_control.h"
#include "bitmap_dialogs/snapshot_control.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "bitmap_text.h"
#include "collection_builder.h"
#include "font_builder.h"
#include "image_files.h"
#include "cseries/cstrings.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

namespace game_controls_test_file {

namespace {

enum
{
    POPUP_ITEM = 1,
    GAME_ITEM,
    SNAPSHOT_ITEM,
    PROLOGUE_ITEM,
    ICON_SIZE = 16,
};

const tag ICONS = FOUR_CHARACTER_CODE('i', 'c', 'o', 'n');
// Sequences of the icon collection.
enum
{
    HIGHLIGHT_SEQUENCE = 0,
    TEN_SEQUENCE,
    SEVENTY_SEQUENCE,
    ONE_SEQUENCE,
};

const rectangle2d popup_bounds = {10, 10, 30, 30};
const rectangle2d game_bounds = {40, 10, 200, 250};
const rectangle2d snapshot_bounds = {100, 300, 160, 380};
const rectangle2d prologue_bounds = {220, 10, 300, 110};

dialog_item_description item(file_tag code, int16_t id, rectangle2d bounds)
{
    dialog_item_description d;
    d.type = code;
    d.item_id = id;
    d.bounds = bounds;
    return d;
}

// With VESK_GAME_CONTROLS_PICTURES naming a directory, the frame is written
// there as PNG to be looked at.
void keep_picture(const bitmap_data *bitmap, const char *name)
{
    const char *directory = getenv("VESK_GAME_CONTROLS_PICTURES");
    if (!directory) return;
    const int32_t depth = bitmap->encoding == _32bit_encoding ? 4 : 2;
    std::vector<uint8_t> rgb((size_t)bitmap->width * bitmap->height * 3);
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
        {
            const uint8_t *p = bitmap->row_addresses[0] + (size_t)y * bitmap->bytes_per_row + (size_t)x * depth;
            uint8_t *out = &rgb[((size_t)y * bitmap->width + x) * 3];
            if (depth == 4)
            {
                const uint32_t v = load_pixel32(p);
                out[0] = (uint8_t)(v >> 16), out[1] = (uint8_t)(v >> 8), out[2] = (uint8_t)v;
            }
            else
            {
                const uint32_t v = load_pixel16(p);
                const bool is_565 = bitmap->encoding == _16bit_565_encoding;
                out[0] = (uint8_t)((is_565 ? v >> 11 : v >> 10) << 3);
                out[1] = (uint8_t)(is_565 ? (v >> 5 & 63) << 2 : (v >> 5 & 31) << 3);
                out[2] = (uint8_t)((v & 31) << 3);
            }
        }
    int32_t size = 0;
    uint8_t *png = compress_image_to_png_file_in_memory(rgb.data(), bitmap->width, bitmap->height, bitmap->width * 3, &size);
    ASSERT_NE(png, nullptr);
    const std::string path = std::string(directory) + "/" + name + ".png";
    FILE *file = fopen(path.c_str(), "wb");
    if (file)
    {
        fwrite(png, 1, (size_t)size, file);
        fclose(file);
    }
    free(png);
}

builder_collection icon_collection(void)
{
    builder_collection c;
    c.colors.color_count = 4;
    c.colors.colors[1] = {65535, 0, 0, 0};
    c.colors.colors[2] = {0, 65535, 0, 0};
    c.bitmaps.push_back(new_builder_bitmap("icon", ICON_SIZE, ICON_SIZE, _builder_flat_8bit, 1));
    c.bitmaps.push_back(new_builder_bitmap("glow", ICON_SIZE, ICON_SIZE, _builder_flat_8bit, 2));
    // Registration points at the centre, as the icons are drawn by them.
    c.instances.push_back(builder_instance(0, ICON_SIZE / 2, ICON_SIZE / 2, 0, 0));
    c.instances.push_back(builder_instance(1, ICON_SIZE / 2, ICON_SIZE / 2, 0, 0));
    auto sequence = [&](const char *name, int16_t instance, int32_t frames) {
        builder_sequence s = new_builder_sequence(name);
        for (int32_t f = 0; f < frames; ++f) s.frames.push_back({instance});
        EXPECT_EQ(complete_builder_sequence(&s, &c), nullptr);
        c.sequences.push_back(s);
    };
    sequence("highlight", 1, 1);
    sequence("ten", 0, 10);
    sequence("seventy", 0, 70);
    sequence("one", 0, 1);
    return c;
}

std::vector<uint8_t> string_list_bytes(const std::vector<std::string> &rows)
{
    std::vector<const char *> texts;
    for (const std::string &row : rows) texts.push_back(row.c_str());
    const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
    std::vector<uint8_t> bytes((size_t)size);
    encode_string_list_data(texts.data(), (int32_t)texts.size(), bytes.data(), size);
    return bytes;
}

// The option lines as the tests read them: each names its row.
std::vector<std::string> option_rows(void)
{
    std::vector<std::string> rows(NUMBER_OF_GAME_OPTIONS_STRINGS);
    rows[_game_options_game_line] = "Game: %s";
    rows[_game_options_type_line] = "Type: %s";
    rows[_game_options_unit_trading] = "trading";
    rows[_game_options_veterans] = "veterans";
    rows[_game_options_teams] = "teams";
    rows[_game_options_no_alliances] = "no alliances";
    rows[_game_options_server_is_observer] = "observer";
    rows[_game_options_no_overhead_map] = "no map";
    rows[_game_options_deathmatch] = "deathmatch";
    rows[_game_options_maximum_teams] = "max %d teams";
    rows[_game_options_time_limit] = "limit %d min";
    rows[_game_options_planning_minutes] = "%d min plan";
    rows[_game_options_planning_seconds] = "%d sec plan";
    rows[_game_options_difficulty] = "difficulty %s";
    rows[_game_options_starting_locations] = "%d starts";
    rows[_game_options_ranked_warning] = "unranked";
    return rows;
}

class game_controls : public dialog_test
{
protected:
    dialog_data *dialog = nullptr;
    int32_t icons = NONE;

    void SetUp() override
    {
        dialog_test::SetUp();
        register_vesk_controls();
        const std::vector<uint8_t> bytes = build_collection_tag_data(icon_collection());
        write_local_tag(COLLECTION_GROUP_TAG, "icon", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        store_strings("ingo", option_rows());
        store_strings("innn", {"s0", "s1", "Carnage", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10",
                                              "s11", "s12", "Story", "s14", "s15"});
        store_strings("indl", {"Timid", "Simple", "Normal", "Heroic", "Legendary"});
        dialog_description description;
        description.bounds = {0, 0, 320, 400};
        description.items = {item(ICON_POPUP_CONTROL_TAG, POPUP_ITEM, popup_bounds),
                             item(GAME_GRAPHIC_CONTROL_TAG, GAME_ITEM, game_bounds),
                             item(SNAPSHOT_CONTROL_TAG, SNAPSHOT_ITEM, snapshot_bounds),
                             item(PROLOGUE_CONTROL_TAG, PROLOGUE_ITEM, prologue_bounds)};
        dialog = open_dialog("gctl", description);
        ASSERT_NE(dialog, nullptr);
        icons = get_collection_index(ICONS);
        ASSERT_NE(icons, NONE);
    }

    void store_strings(const char *subgroup, const std::vector<std::string> &rows)
    {
        const int32_t old = tag_file_find_by_name(STRING_LIST_GROUP_TAG, subgroup);
        if (old != NONE) tag_file_delete(old);
        delete_string_list_definition_tag(dialog_test_code(subgroup));
        const std::vector<uint8_t> bytes = string_list_bytes(rows);
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    // One click-verb action of the popup at dialog point (x, y).
    intptr_t popup_action(action_data action)
    {
        param_control_click_verb p = {&action};
        return icon_popup_control_def_proc(_control_click_verb, dialog, POPUP_ITEM, &p);
    }
    // Press on the closed popup, move to (x, y), release there: the click's result.
    intptr_t choose_at(int16_t x, int16_t y)
    {
        popup_action(make_hold_action(popup_bounds.left + 4, popup_bounds.top + 4));
        popup_action(make_hold_action(x, y));
        return popup_action(make_release_action(x, y));
    }
    icon_popup_control_data *popup(void) { return (icon_popup_control_data *)get_dialog_item_extra_data(dialog, POPUP_ITEM); }
    // The centre of grid place `place` of the open grid.
    point2d place_centre(int16_t place)
    {
        const icon_popup_control_data *d = popup();
        const int16_t column = (int16_t)(place % d->column_count), row = (int16_t)(place / d->column_count);
        return {(int16_t)(popup_bounds.left + 2 + column * (ICON_SIZE + d->icon_separation) + ICON_SIZE / 2),
                (int16_t)(popup_bounds.top + 2 + row * (ICON_SIZE + d->icon_separation) + ICON_SIZE / 2)};
    }
    void use_icons(int16_t sequence, int16_t original = 0)
    {
        set_icon_popup_control_information(dialog, POPUP_ITEM, (int16_t)icons, sequence, HIGHLIGHT_SEQUENCE, NONE,
                                           original, 2);
        set_icon_popup_row_count(dialog, POPUP_ITEM, 4);
    }
};

// ---- icon popup ------------------------------------------------------------------------

TEST_F(game_controls, icon_popup_columns_follow_the_square_root_of_the_icon_count)
{
    const struct
    {
        int16_t sequence;
        int16_t icons, columns;
    } cases[] = {{TEN_SEQUENCE, 10, 3}, {SEVENTY_SEQUENCE, 70, 8}, {ONE_SEQUENCE, 1, 1}};
    for (const auto &c : cases)
    {
        use_icons(c.sequence);
        EXPECT_TRUE(popup()->initialized);
        EXPECT_EQ(get_icon_popup_maximum_count(dialog, POPUP_ITEM), c.icons);
        EXPECT_EQ(popup()->column_count, c.columns) << c.icons << " icons";
        EXPECT_EQ(popup()->tracking_bounds.right - popup()->tracking_bounds.left,
                  c.columns * (ICON_SIZE + 2) + 4 - 2);
    }
    // A sequence the collection does not have leaves the control uninitialized.
    set_icon_popup_control_information(dialog, POPUP_ITEM, (int16_t)icons, 40, NONE, NONE, 0, 2);
    EXPECT_FALSE(popup()->initialized);
    EXPECT_EQ(popup_action(make_hold_action(15, 15)), 0) << "an uninitialized popup does not track";
}

TEST_F(game_controls, icon_popup_with_no_icons_has_one_column_and_no_value)
{
    use_icons(TEN_SEQUENCE);
    for (int16_t i = 0; i < 10; ++i) set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, i, false);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), NONE);
    EXPECT_EQ(choose_at(15, 15), 0);
    // Enabled again, in order, around the value.
    set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 7, true);
    set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 2, true);
    EXPECT_EQ(popup()->visible_icon_count, 2);
    EXPECT_EQ(popup()->visible_icon_indexes[0], 2);
    EXPECT_EQ(popup()->visible_icon_indexes[1], 7);
}

TEST_F(game_controls, icon_popup_choosing_place_zero_keeps_the_value_and_other_places_swap)
{
    use_icons(TEN_SEQUENCE);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 0);
    point2d at = place_centre(0);
    EXPECT_EQ(choose_at(at.x, at.y), 0) << "place 0 is the current value: nothing fires";
    EXPECT_FALSE(popup()->tracking);
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, POPUP_ITEM, &bounds);
    EXPECT_TRUE(equal_rectangle2d(&bounds, &popup()->idle_bounds)) << "the grid closes on release";

    at = place_centre(4);
    EXPECT_EQ(choose_at(at.x, at.y), 1);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 4);
    // Now place 0 shows 4 and place 4 shows 0.
    at = place_centre(4);
    EXPECT_EQ(choose_at(at.x, at.y), 1);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 0);

    // Released outside: nothing is highlighted, nothing changes.
    popup_action(make_hold_action(15, 15));
    popup_action(make_hold_action(390, 300));
    EXPECT_EQ(popup()->highlighted_icon_place, NONE);
    EXPECT_EQ(popup_action(make_release_action(390, 300)), 0);
}

bool icon_five_is_disabled(int16_t icon) { return icon != 5; }

TEST_F(game_controls, icon_popup_disabled_icon_under_the_pointer_keeps_the_highlight)
{
    use_icons(TEN_SEQUENCE);
    set_icon_popup_icon_enabled_proc(dialog, POPUP_ITEM, icon_five_is_disabled);
    popup_action(make_hold_action(15, 15));
    EXPECT_TRUE(popup()->tracking);
    EXPECT_EQ(popup()->highlighted_icon_place, 0);
    point2d at = place_centre(5);
    popup_action(make_hold_action(at.x, at.y));
    EXPECT_EQ(popup()->highlighted_icon_place, 0) << "the disabled icon is not highlighted";
    at = place_centre(6);
    popup_action(make_hold_action(at.x, at.y));
    EXPECT_EQ(popup()->highlighted_icon_place, 6);
    at = place_centre(5);
    popup_action(make_hold_action(at.x, at.y));
    EXPECT_EQ(popup()->highlighted_icon_place, 6);
    EXPECT_EQ(popup_action(make_release_action(at.x, at.y)), 1);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 6);
}

TEST_F(game_controls, icon_popup_value_stays_in_range_as_icons_are_disabled)
{
    use_icons(TEN_SEQUENCE, 25); // a starting index past the end is clamped
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 9);
    set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 9, false);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 8) << "the last icon's position moves back with the list";

    set_icon_popup_value(dialog, POPUP_ITEM, 4);
    set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 1, false);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 4) << "disabling an earlier icon keeps the value";
    set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 1, true);
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 4) << "enabling an earlier icon keeps the value";
    set_icon_popup_value(dialog, POPUP_ITEM, 9); // not visible: ignored
    EXPECT_EQ(get_icon_popup_value(dialog, POPUP_ITEM), 4);

    {
        expected_assertions expect(2, "icon index out of range");
        set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, 10, false);
        set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, -1, true);
    }
    EXPECT_EQ(popup()->visible_icon_count, 9);
    for (int16_t i = 0; i < 10; ++i)
    {
        set_icon_popup_bitmaps_disabled_state(dialog, POPUP_ITEM, i, false);
        const int16_t value = get_icon_popup_value(dialog, POPUP_ITEM);
        if (i < 8) EXPECT_GT(value, i);
        else EXPECT_EQ(value, NONE);
    }
}

TEST_F(game_controls, icon_popup_draws_its_open_grid_inside_the_grid_bounds)
{
    use_icons(TEN_SEQUENCE);
    popup_action(make_hold_action(15, 15));
    dialog_test_screen screen;
    param_control_draw_verb p = {screen.bitmap, 0};
    icon_popup_control_def_proc(_control_draw_verb, dialog, POPUP_ITEM, &p);
    keep_picture(screen.bitmap, "icon_popup");
    const rectangle2d drawn = screen.changed_bounds();
    const rectangle2d grid = popup()->tracking_bounds;
    EXPECT_GT(screen.count_changed(), 10 * ICON_SIZE * ICON_SIZE / 2);
    EXPECT_GE(drawn.left, grid.left);
    EXPECT_GE(drawn.top, grid.top);
    EXPECT_LE(drawn.right, grid.right);
    EXPECT_LE(drawn.bottom, grid.bottom + (ICON_SIZE + 2)) << "four rows hold the ten icons";
}

// ---- game description ------------------------------------------------------------------

game_extra_data description(uint32_t options, int32_t pregame_ticks = 0)
{
    game_extra_data data;
    memset(&data, 0, sizeof(data));
    data.cookie = GAME_GRAPHIC_COOKIE;
    strcpy(data.game.name, "Duel");
    strcpy(data.game.map_name, "Ashes");
    data.game.parameters.scoring = 2;
    data.game.parameters.option_flags = options;
    data.game.parameters.scenario_tag = NONE;
    data.game.parameters.difficulty_level = 2;
    data.game.parameters.maximum_teams = NONE;
    data.game.parameters.pregame_time_limit = pregame_ticks;
    data.maximum_teams = 6;
    return data;
}

TEST_F(game_controls, game_description_option_lines_follow_the_option_bits)
{
    const uint32_t alliances_and_map = _game_option_allow_alliances_flag | _game_option_allow_overhead_map_flag;
    const struct
    {
        uint32_t options;
        int16_t maximum_teams;
        int32_t time_limit, pregame;
        int16_t difficulty;
        const char *expected;
    } cases[] = {
        {alliances_and_map, NONE, 0, 0, 2, "\runranked"},
        {0, NONE, 0, 0, 2, "no alliances\rno map\r\runranked"},
        {alliances_and_map | _game_option_allow_unit_trading_flag, NONE, 0, 0, 2, "\runranked"},
        {alliances_and_map | _game_option_allow_unit_trading_flag | _game_option_allow_veterans_flag, NONE, 5400, 300,
         4, "trading\rveterans\rlimit 3 min\r10 sec plan\rdifficulty Legendary\r\runranked"},
        {alliances_and_map | _game_option_allow_multiplayer_teams_flag, NONE, 0, 0, 2, "teams\r\runranked"},
        {alliances_and_map | _game_option_allow_multiplayer_teams_flag, 3, 0, 0, 2, "max 3 teams\r\runranked"},
        {alliances_and_map | _game_option_server_is_observer_flag | _game_option_deathmatch_flag, NONE, 0, 0, 2,
         "observer\rdeathmatch\r\runranked"},
        {_game_option_cooperative_flag | _game_option_allow_veterans_flag | _game_option_allow_multiplayer_teams_flag,
         NONE, 0, 0, 0, "veterans\rteams |i(random captain if none selected)|p\rno map\rdifficulty Timid\r"},
        {_game_option_cooperative_flag | _game_option_allow_overhead_map_flag, 3, 0, 0, 2, ""},
    };
    for (const auto &c : cases)
    {
        game_extra_data data = description(c.options, c.pregame);
        data.game.parameters.maximum_teams = c.maximum_teams;
        data.game.parameters.time_limit = c.time_limit;
        data.game.parameters.difficulty_level = c.difficulty;
        game_description_text text;
        assemble_game_description(&data, &text);
        EXPECT_STREQ(text.options, c.expected) << "options 0x" << std::hex << c.options;
    }
}

TEST_F(game_controls, game_description_lines_for_plan_times_scoring_and_the_map)
{
    const uint32_t plain = _game_option_allow_alliances_flag | _game_option_allow_overhead_map_flag;
    const struct
    {
        int32_t ticks;
        const char *expected;
    } plans[] = {{2700, "1:30 min plan\r\runranked"}, {3600, "2 min plan\r\runranked"},
                 {900, "30 sec plan\r\runranked"}, {0, "\runranked"}};
    for (const auto &c : plans)
    {
        game_extra_data data = description(plain, c.ticks);
        game_description_text text;
        assemble_game_description(&data, &text);
        EXPECT_STREQ(text.options, c.expected) << c.ticks << " ticks";
    }

    game_extra_data data = description(plain | (1u << _game_option_uses_anticlump_bit));
    game_description_text text;
    assemble_game_description(&data, &text);
    EXPECT_STREQ(text.game_line, "Game: Duel\r");
    EXPECT_STREQ(text.type_line, "Type: Carnage\r");
    EXPECT_STREQ(text.map_line, "Game: Ashes (anti-clump)\r\r");
    EXPECT_FALSE(text.map_line_is_warning);
    EXPECT_STREQ(text.version, "");

    data.game.parameters.scoring = SCORING_WITHOUT_TYPE_LINE;
    data.game.map_name[0] = 0;
    data.game.parameters.option_flags = plain | (1u << _game_option_uses_vux_bit);
    assemble_game_description(&data, &text);
    EXPECT_STREQ(text.type_line, "") << "scoring 13 has no type line";
    EXPECT_STREQ(text.map_line, "|bVUX|i Game: ERROR\r\r");
    EXPECT_TRUE(text.map_line_is_warning);

    // A name that fills its field without a terminator is read within it.
    memset(data.game.name, 'N', sizeof(data.game.name));
    assemble_game_description(&data, &text);
    EXPECT_EQ(std::string(text.game_line), "Game: " + std::string(NET_GAME_NAME_SIZE, 'N') + "\r");
}

TEST_F(game_controls, game_description_shows_hostile_formats_as_plain_text)
{
    std::vector<std::string> rows = option_rows();
    rows[_game_options_game_line] = "%s%s%n%x";
    rows[_game_options_maximum_teams] = "max %s teams";
    rows[_game_options_difficulty] = "difficulty %d";
    rows[_game_options_planning_minutes] = "%d %s";
    rows[_game_options_starting_locations] = "%ld starts";
    store_strings("ingo", rows);

    game_extra_data data = description(_game_option_allow_alliances_flag | _game_option_allow_overhead_map_flag |
                                           _game_option_allow_multiplayer_teams_flag,
                                       2700);
    data.game.parameters.maximum_teams = 2;
    data.game.parameters.difficulty_level = 0;
    game_description_text text;
    assemble_game_description(&data, &text);
    EXPECT_STREQ(text.game_line, "%s%s%n%x\r");
    EXPECT_STREQ(text.options, "max %s teams\r%d %s\rdifficulty %d\r\runranked");

    char line[16];
    EXPECT_TRUE(format_checked_line(line, (int32_t)sizeof(line), "%-5d|%%", "d", 42));
    EXPECT_STREQ(line, "42   |%");
    // A star, or a width or precision wider than any line (which would pad
    // for seconds), is shown as it stands.
    for (const char *format : {"%*d", "%2147483647d", "%.99999s|", "%256d"})
    {
        EXPECT_FALSE(format_checked_line(line, (int32_t)sizeof(line), format, format[strlen(format) - 1] == 'd' ? "d" : "s", 42)) << format;
        EXPECT_EQ(strncmp(line, format, sizeof(line) - 1), 0) << format;
    }
    EXPECT_TRUE(format_checked_line(line, (int32_t)sizeof(line), "%255d", "d", 42));
    EXPECT_TRUE(format_checked_line(line, 6, "%s", "s", "a long name"));
    EXPECT_STREQ(line, "a lon");
}

// The lists' count lines are plural: a count of one reads in the singular.
TEST_F(game_controls, game_description_counts_of_one_read_in_the_singular)
{
    std::vector<std::string> rows = option_rows();
    rows[_game_options_time_limit] = "Time limit: %d minutes";
    rows[_game_options_planning_seconds] = "%d seconds of planning";
    rows[_game_options_maximum_teams] = "Up to %d teams";
    store_strings("ingo", rows);
    for (const int32_t count : {1, 2})
    {
        game_extra_data data = description(_game_option_allow_alliances_flag | _game_option_allow_overhead_map_flag |
                                               _game_option_allow_multiplayer_teams_flag, count * 30);
        data.game.parameters.maximum_teams = (int16_t)count;
        data.game.parameters.time_limit = count * 1800;
        game_description_text text;
        assemble_game_description(&data, &text);
        EXPECT_STREQ(text.options, count == 1 ? "Up to 1 team\rTime limit: 1 minute\r1 second of planning\r\runranked"
                                              : "Up to 2 teams\rTime limit: 2 minutes\r2 seconds of planning\r\runranked");
    }
}

TEST_F(game_controls, game_description_film_version_and_item_drawing)
{
    game_extra_data data = description(_game_option_allow_alliances_flag | _game_option_allow_overhead_map_flag);
    data.is_replay = true;
    data.game.parameters.version = 0;
    game_description_text text;
    assemble_game_description(&data, &text);
    EXPECT_EQ(text.version[0], 'v');
    EXPECT_GE(strlen(text.version), 5u) << text.version;

    // A description whose map is unknown falls back on the built-in picture;
    // the in-progress bit is cleared from the copy.
    net_game_description game = data.game;
    game.flags = _net_game_in_progress_flag;
    set_game_control_description(dialog, GAME_ITEM, &game);
    const game_extra_data *record = (const game_extra_data *)get_dialog_item_extra_data(dialog, GAME_ITEM);
    EXPECT_EQ(record->collection_tag, (file_tag)INTERNAL_SOLO_PREGAME_COLLECTION);
    EXPECT_EQ(record->maximum_teams, 0);
    EXPECT_EQ(record->game.flags, 0);
    set_game_graphic_is_replay(dialog, GAME_ITEM, true);
    set_game_graphic_show_plugin_list(dialog, GAME_ITEM, true);
    EXPECT_TRUE(record->is_replay && record->show_plugins);
    set_game_graphic_show_plugin_list(dialog, GAME_ITEM, false);

    // The item with no preview draws its half-transparent box inside itself.
    dialog_test_screen screen;
    param_control_draw_verb p = {screen.bitmap, 0};
    game_graphic_control_handler(_control_draw_verb, dialog, GAME_ITEM, &p);
    keep_picture(screen.bitmap, "game_graphic");
    const rectangle2d drawn = screen.changed_bounds();
    EXPECT_TRUE(equal_rectangle2d(&drawn, &game_bounds));
}

int32_t loaded_collection_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; collections.count != NONE && i < collections.count; ++i)
        if (try_and_get_definition(&collections, i)) ++count;
    return count;
}

// The built-in preview 'insr' stands in for every map's: the item unloads
// what it loaded when the next description or its disposal replaces it, at
// once when the collection has no preview picture, and never one loaded
// before it.
TEST_F(game_controls, game_description_unloads_the_preview_collections_it_loaded)
{
    struct
    {
        const char *name;
        bool has_preview, loaded_before;
        int32_t while_shown; // collections loaded beyond the fixture's while the item shows it
    } cases[] = {
        {"a preview loaded by the item", true, false, 1},
        {"a preview loaded before the item", true, true, 1},
        {"a collection without a preview picture", false, false, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        builder_collection collection = icon_collection();
        if (!c.has_preview) collection.sequences.resize(1); // no sequence 1
        const std::vector<uint8_t> bytes = build_collection_tag_data(collection);
        const int32_t old = tag_file_find_by_name(COLLECTION_GROUP_TAG, "insr");
        if (old != NONE) tag_file_delete(old);
        write_local_tag(COLLECTION_GROUP_TAG, "insr", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        const int32_t before = loaded_collection_count();
        if (c.loaded_before)
        {
            ASSERT_NE(get_collection_index(INTERNAL_SOLO_PREGAME_COLLECTION), NONE);
        }

        dialog_description one_item;
        one_item.bounds = {0, 0, 320, 400};
        one_item.items = {item(GAME_GRAPHIC_CONTROL_TAG, GAME_ITEM, game_bounds)};
        dialog_data *shown = open_dialog("gpre", one_item);
        ASSERT_NE(shown, nullptr);
        const net_game_description game = description(0).game;
        for (int pass = 0; pass < 2; ++pass) // a second description replaces the first
        {
            set_game_control_description(shown, GAME_ITEM, &game);
            EXPECT_EQ(loaded_collection_count(), before + c.while_shown) << pass;
        }
        dispose_dialog(shown);
        EXPECT_EQ(loaded_collection_count(), before + (c.loaded_before ? 1 : 0)) << "back to before the item";
        const int32_t loaded = find_loaded_collection_index(INTERNAL_SOLO_PREGAME_COLLECTION);
        if (loaded != NONE) delete_collection(loaded);
    }
}

// ---- snapshot ---------------------------------------------------------------------------

TEST_F(game_controls, snapshot_is_centred_and_clipped_in_32_and_16_bits)
{
    dialog_test_screen screen;
    param_control_draw_verb p = {screen.bitmap, 0};
    const struct
    {
        int16_t encoding;
        int16_t width, height;
    } cases[] = {{SNAPSHOT_32BIT_ENCODING, 20, 10}, {_16bit_565_encoding, 21, 11}, {_16bit_555_encoding, 40, 60}};
    for (const auto &c : cases)
    {
        const int32_t depth = c.encoding == SNAPSHOT_32BIT_ENCODING ? 4 : 2;
        std::vector<uint8_t> pixels((size_t)c.width * c.height * depth, 0x3C);
        set_snapshot_item_data(dialog, SNAPSHOT_ITEM, pixels.data(), c.width, c.height, c.encoding);
        screen.fill();
        snapshot_control_handler(_control_draw_verb, dialog, SNAPSHOT_ITEM, &p);
        const int16_t left = (int16_t)(snapshot_bounds.left + (80 - c.width) / 2);
        const int16_t top = (int16_t)(snapshot_bounds.top + (60 - c.height) / 2);
        const rectangle2d expected = {top, left, (int16_t)(top + c.height), (int16_t)(left + c.width)};
        const rectangle2d drawn = screen.changed_bounds();
        EXPECT_TRUE(equal_rectangle2d(&drawn, &expected))
            << c.encoding << ": " << drawn.left << "," << drawn.top << " " << drawn.right << "," << drawn.bottom;
    }

    // Larger than the item: clipped to it.
    std::vector<uint8_t> big((size_t)200 * 100 * 4, 0x7F);
    set_snapshot_item_data(dialog, SNAPSHOT_ITEM, big.data(), 200, 100, SNAPSHOT_32BIT_ENCODING);
    screen.fill();
    snapshot_control_handler(_control_draw_verb, dialog, SNAPSHOT_ITEM, &p);
    rectangle2d drawn = screen.changed_bounds();
    EXPECT_TRUE(equal_rectangle2d(&drawn, &snapshot_bounds));

    // Absurd sizes are refused: nothing is drawn.
    const int16_t sizes[][2] = {{0, 10}, {10, -4}, {4000, 10}, {10, 32767}};
    for (const auto &size : sizes)
    {
        set_snapshot_item_data(dialog, SNAPSHOT_ITEM, big.data(), size[0], size[1], SNAPSHOT_32BIT_ENCODING);
        screen.fill();
        snapshot_control_handler(_control_draw_verb, dialog, SNAPSHOT_ITEM, &p);
        EXPECT_EQ(screen.count_changed(), 0) << size[0] << " x " << size[1];
    }
    // Without a saved-game reader no saved game has a picture.
    set_snapshot_item_tag_header(dialog, SNAPSHOT_ITEM, 3);
    EXPECT_FALSE(((snapshot_data *)get_dialog_item_extra_data(dialog, SNAPSHOT_ITEM))->flags & _snapshot_valid_flag);
}

// ---- prologue ----------------------------------------------------------------------------

uint32_t expected_channel_blend(const uint8_t *table, int32_t level, uint32_t d, uint32_t s)
{
    return table[level * 1024 + (d & 31) * 32 + (s & 31)];
}

TEST_F(game_controls, prologue_blends_coverage_by_the_formula_in_each_encoding)
{
    const uint8_t *table = get_transparency_table(_transparency_normal);
    ASSERT_NE(table, nullptr);
    const rgb_color color = {0xFFFF, 0x8000, 0x2000, 0};
    EXPECT_EQ(prologue_pack_color(_16bit_555_encoding, &color), 0x7C00u | (0x8000 >> 6 & 0x3E0) | (0x2000 >> 11));
    EXPECT_EQ(prologue_pack_color(_16bit_565_encoding, &color), 0xF800u | (0x8000 >> 5 & 0x7E0) | (0x2000 >> 11));
    EXPECT_EQ(prologue_pack_color(_32bit_encoding, &color), 0xFFFF8020u);

    // Rows 0 and h - 1 have alpha 12; transparency 255 scales every row.
    EXPECT_EQ(prologue_row_alpha(0, 80, 256), 12);
    EXPECT_EQ(prologue_row_alpha(79, 80, 256), 12);
    EXPECT_EQ(prologue_row_alpha(40, 80, 256), 256);
    EXPECT_EQ(prologue_row_alpha(40, 80, 255), 255);
    EXPECT_EQ(prologue_row_alpha(0, 80, 255), 11);

    const int32_t m = 100;
    for (int32_t alpha : {256, 255, 12})
    {
        const int32_t level = alpha == 256 ? m >> 4 : 15 - ((alpha * (255 - m)) >> 12);
        const uint32_t d555 = 0x1234, t555 = prologue_pack_color(_16bit_555_encoding, &color);
        const uint32_t e555 = expected_channel_blend(table, level, d555 >> 10, t555 >> 10) << 10 |
                              expected_channel_blend(table, level, d555 >> 5, t555 >> 5) << 5 |
                              expected_channel_blend(table, level, d555, t555);
        EXPECT_EQ(prologue_blend_pixel(_16bit_555_encoding, d555, t555, m, alpha), e555) << alpha;
        const uint32_t d565 = 0x9A5C, t565 = prologue_pack_color(_16bit_565_encoding, &color);
        const uint32_t e565 = expected_channel_blend(table, level, d565 >> 11, t565 >> 11) << 11 |
                              expected_channel_blend(table, level, d565 >> 6, t565 >> 6) << 6 |
                              expected_channel_blend(table, level, d565, t565);
        EXPECT_EQ(prologue_blend_pixel(_16bit_565_encoding, d565, t565, m, alpha), e565) << alpha;
        const uint32_t d32 = 0xFF406080, t32 = prologue_pack_color(_32bit_encoding, &color);
        const uint32_t e32 = 0xFF000000u | expected_channel_blend(table, level, d32 >> 19, t32 >> 19) << 19 |
                             expected_channel_blend(table, level, d32 >> 11, t32 >> 11) << 11 |
                             expected_channel_blend(table, level, d32 >> 3, t32 >> 3) << 3;
        EXPECT_EQ(prologue_blend_pixel(_32bit_encoding, d32, t32, m, alpha), e32) << alpha;
    }
    // Full text at full alpha is the colour itself; no text leaves the pixel;
    // full text at a fading edge fades like the rest.
    EXPECT_EQ(prologue_blend_pixel(_32bit_encoding, 0xFF000000u, 0xFFFF8020u, 0, 256), 0xFFFF8020u);
    EXPECT_EQ(prologue_blend_pixel(_32bit_encoding, 0xFF123456u, 0xFFFF8020u, 255, 256), 0xFF123456u);
    EXPECT_NE(prologue_blend_pixel(_32bit_encoding, 0xFF000000u, 0xFFFF8020u, 0, 12), 0xFFFF8020u);
}

// A coverage bitmap of `height` rows, full text in every pixel.
bitmap_data *solid_coverage(int16_t width, int16_t height)
{
    bitmap_data *bitmap = new_bitmap(width, height, width, _8bit_encoding, 0);
    for (int32_t y = 0; y < height; ++y) memset(bitmap->row_addresses[0] + y * width, 0, (size_t)width);
    return bitmap;
}

TEST_F(game_controls, prologue_scrolls_until_done_and_never_writes_outside_its_dialog)
{
    prologue_control_extra_data *data =
        (prologue_control_extra_data *)get_dialog_item_extra_data(dialog, PROLOGUE_ITEM);
    const int16_t height = prologue_bounds.bottom - prologue_bounds.top;
    ASSERT_EQ(data->text_vertical_position, -height) << "the text starts just below the item";
    data->text_bitmap = solid_coverage(100, 50);
    data->maximum_vertical_position = (int16_t)(50 + TEXT_TRANSPARENT_HEIGHT - height);
    data->text_color = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    const int32_t done_step = height + data->maximum_vertical_position + 62;
    int32_t step = 0;
    while (!prologue_control_done(dialog, PROLOGUE_ITEM) && step < 1000)
    {
        ++step;
        update_prologue_control(dialog, PROLOGUE_ITEM);
    }
    EXPECT_EQ(step, done_step);
    const int16_t stopped = data->text_vertical_position;
    update_prologue_control(dialog, PROLOGUE_ITEM);
    EXPECT_EQ(data->text_vertical_position, stopped) << "a done prologue stops moving";

    // Shown at the top, the text's first rows fade: row 0 of the item is
    // lighter than row 40 in every encoding.
    data->text_vertical_position = 0;
    for (int16_t encoding : {(int16_t)_16bit_555_encoding, (int16_t)_16bit_565_encoding, (int16_t)_32bit_encoding})
    {
        bitmap_data *target = new_bitmap(200, 320, 0, encoding, 0);
        const int32_t depth = encoding == _32bit_encoding ? 4 : 2;
        for (int32_t y = 0; y < target->height; ++y)
            memset(target->row_addresses[0] + (size_t)y * target->bytes_per_row, 0, (size_t)target->width * depth);
        param_control_draw_verb p = {target, 0};
        prologue_control_def_proc(_control_draw_verb, dialog, PROLOGUE_ITEM, &p);
        keep_picture(target, encoding == _32bit_encoding ? "prologue_32" : "prologue_16");
        const uint8_t *top_row = bitmap_address(target, prologue_bounds.left, prologue_bounds.top);
        const uint8_t *middle_row = bitmap_address(target, prologue_bounds.left, (int16_t)(prologue_bounds.top + 40));
        const uint32_t top = depth == 4 ? load_pixel32(top_row) : load_pixel16(top_row);
        const uint32_t middle = depth == 4 ? load_pixel32(middle_row) : load_pixel16(middle_row);
        EXPECT_NE(top, middle) << encoding;
        EXPECT_EQ(middle, prologue_blend_pixel(encoding, 0, prologue_pack_color(encoding, &data->text_color), 0, 255));
        free(target);
    }

    // A dialog bitmap narrower and shorter than the item: ASan sees any
    // write outside it; the pixels that lie inside are drawn.
    bitmap_data *narrow = new_bitmap(50, 240, 0, _32bit_encoding, 0);
    for (int32_t y = 0; y < narrow->height; ++y)
        memset(narrow->row_addresses[0] + (size_t)y * narrow->bytes_per_row, 0, (size_t)narrow->width * 4);
    param_control_draw_verb p = {narrow, 0};
    prologue_control_def_proc(_control_draw_verb, dialog, PROLOGUE_ITEM, &p);
    EXPECT_NE(load_pixel32(bitmap_address(narrow, 49, 230)), 0u);
    free(narrow);
}

TEST_F(game_controls, prologue_renders_its_text_once_into_coverage)
{
    ASSERT_TRUE(initialize_font_definitions());
    const std::vector<uint8_t> font_data = build_font_tag_data(make_test_font());
    write_local_tag(FONT_DEFINITION_GROUP_TAG, "test", FONT_DEFINITION_VERSION_NUMBER, font_data.data(),
                    (int32_t)font_data.size());
    initialize_font_definitions_for_new_map();
    const int32_t font = font_tag_to_font_index(FOUR_CHARACTER_CODE('t', 'e', 's', 't'));
    ASSERT_NE(font, NONE);

    static const char story[] = "AB\rCD\rEF";
    const rgb_color gold = {0xFFFF, 0xC000, 0x4000, 0};
    set_prologue_control_data(dialog, PROLOGUE_ITEM, 5, &gold, font, story);
    const prologue_control_extra_data *data =
        (const prologue_control_extra_data *)get_dialog_item_extra_data(dialog, PROLOGUE_ITEM);
    ASSERT_NE(data->text_bitmap, nullptr);
    const int16_t width = prologue_bounds.right - prologue_bounds.left;
    const int16_t height = prologue_bounds.bottom - prologue_bounds.top;
    EXPECT_EQ(data->text_bitmap->width, width);
    int32_t text_height = 0;
    get_string_height(story, font, -1, width, &text_height);
    EXPECT_EQ(data->text_bitmap->height, text_height);
    // The first glyphs' ink boxes are (almost) full text, the bitmap past
    // them no text at all.
    const uint8_t *row = data->text_bitmap->row_addresses[0] + 3 * data->text_bitmap->bytes_per_row;
    EXPECT_LT(row[3], 8);
    EXPECT_EQ(row[3 + TEST_FONT_ADVANCE * 2], 255);
    EXPECT_LT(data->maximum_vertical_position, 0) << "a text shorter than the item";
    EXPECT_EQ(data->maximum_vertical_position + height - TEXT_TRANSPARENT_HEIGHT,
              2 * (TEST_FONT_ASCENDING + TEST_FONT_DESCENDING + TEST_FONT_LEADING))
        << "the end of the text is its last line's origin";
    // Scrolled to its top line, the first row of text lies in the fade.
    while (data->text_vertical_position < -2) update_prologue_control(dialog, PROLOGUE_ITEM);
    dialog_test_screen screen;
    param_control_draw_verb p = {screen.bitmap, 0};
    prologue_control_def_proc(_control_draw_verb, dialog, PROLOGUE_ITEM, &p);
    keep_picture(screen.bitmap, "prologue_text");
    const rectangle2d drawn = screen.changed_bounds();
    EXPECT_TRUE(interior_rectangle2d(&prologue_bounds, &drawn));
    EXPECT_GT(screen.count_changed(), 6 * TEST_FONT_INK_WIDTH * TEST_FONT_INK_HEIGHT / 2);
    {
        expected_assertions expect(1, "prologue text set twice");
        set_prologue_control_data(dialog, PROLOGUE_ITEM, 5, &gold, font, story);
    }
    dispose_font_definitions_from_old_map();
}

} // namespace

} // namespace game_controls_test_file
