// The player list through a real dialog item: team rows above their
// captains, disabled rows last, rows replaced, updated and deleted by id,
// the status texts of latency and version, the shared idle timer, and rows
// of another length skipped.

#include "support/dialog_input_harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "game_preferences.h"
#include "image_files.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "tag_files/tag_files.h"
#include "support/expected_assertions.h"
#include "lobby_procedures.h"
#include "networking_procedures.h"

namespace player_list_test_file {

namespace {

enum
{
    LIST_ITEM = 1,
};

int16_t test_latency = 0;
bool test_ping = true;
char test_buddy_status = 'b';
int16_t latency_of(int32_t) { return test_latency; }
bool supports_ping(void) { return test_ping; }
char buddy_status(int32_t id) { return id == 7 ? test_buddy_status : 0; }

new_player_data player(const char *name, int16_t team, int32_t identifier, int32_t captain)
{
    new_player_data p;
    memset(&p, 0, sizeof(p));
    p.team_index = team;
    p.unique_identifier = identifier;
    p.team_captain_identifier = captain;
    p.version = THIS_PROGRAM_VERSION;
    p.build_number = THIS_PROGRAM_BUILD;
    strcpy(p.appearance.name, name);
    snprintf(p.appearance.team_name, sizeof(p.appearance.team_name), "Team %d", team);
    p.appearance.primary_color = {(uint16_t)(10000 * (team + 1)), 20000, 30000, 0};
    return p;
}

// A pointer to a copy, for the calls that take a record by address.
const new_player_data *held(const new_player_data &p)
{
    static new_player_data copy;
    copy = p;
    return &copy;
}

class player_list : public dialog_test
{
protected:
    dialog_data *dialog = nullptr;

    static void SetUpTestSuite()
    {
        static const networking_procedures network = {.networked_game_supports_ping = supports_ping,
                                                      .get_player_latency = latency_of};
        static const lobby_procedures lobby = {.get_player_buddy_status = buddy_status};
        register_networking_procedures(&network);
        register_lobby_procedures(&lobby);
    }

    void SetUp() override
    {
        dialog_test::SetUp();
        register_vesk_controls();
        test_latency = 0;
        test_ping = true;
        get_game_preferences()->flags |= _game_pref_show_player_latencies_flag;
        dialog_description description;
        description.bounds = {0, 0, 300, 300};
        dialog_item_description list;
        list.type = PLAYER_LIST_CONTROL_TAG;
        list.item_id = LIST_ITEM;
        list.bounds = {10, 10, 250, 250};
        description.items = {list};
        dialog = open_dialog("plst", description);
        ASSERT_NE(dialog, nullptr);
    }

    player_list_data row(int16_t index)
    {
        player_list_data data;
        int16_t size = (int16_t)sizeof(data);
        bitmap_get_listbox_row_data(dialog, LIST_ITEM, index, &data, &size);
        EXPECT_EQ(size, (int16_t)sizeof(data));
        return data;
    }
    int16_t rows(void) { return bitmap_get_listbox_row_count(dialog, LIST_ITEM); }
    // The rows as "T:name" for team rows (their team name) and "name" for players.
    std::vector<std::string> order(void)
    {
        std::vector<std::string> names;
        for (int16_t i = 0; i < rows(); ++i)
        {
            const player_list_data r = row(i);
            names.push_back(r.flags & _player_is_actually_team_flag ? std::string("T:") + r.player.appearance.team_name
                                                                     : std::string(r.player.appearance.name));
        }
        return names;
    }
    std::string status(const player_list_data &r, fixed_fraction *transparency = nullptr)
    {
        char text[PLAYER_LIST_STATUS_TEXT_SIZE];
        build_player_list_status_text(&r, text, (int32_t)sizeof(text), transparency);
        return text;
    }
};

TEST_F(player_list, captains_get_team_rows_above_them_and_disabled_rows_go_last)
{
    add_player_to_list(dialog, LIST_ITEM, held(player("Cora", 1, 20, 22)), 0, 20, 0, true);
    add_player_to_list(dialog, LIST_ITEM, held(player("Abel", 0, 10, 10)), 0, 10, 0, true);
    EXPECT_EQ(rows(), 3) << "a captain makes two rows";
    add_player_to_list(dialog, LIST_ITEM, held(player("Bram", 0, 11, 10)), 0, 11, 0, true);
    add_player_to_list(dialog, LIST_ITEM, held(player("Dora", 1, 22, 22)), 0, 22, 0, true);
    add_player_to_list(dialog, LIST_ITEM, held(player("Ezra", 0, 12, 10)), 0, 12, 0, false);
    EXPECT_EQ(order(), (std::vector<std::string>{"T:Team 0", "Abel", "Bram", "T:Team 1", "Dora", "Cora", "Ezra"}));
    EXPECT_EQ(row(0).sort_order, -1);
    EXPECT_EQ(row(1).sort_order, 0);
    EXPECT_EQ(row(4).sort_order, row(3).sort_order + 1) << "the team row sits just above its captain";
    EXPECT_GE(row(6).sort_order, 6000);
    int32_t captain = 0;
    EXPECT_TRUE(player_list_item_is_team(dialog, LIST_ITEM, 3, &captain));
    EXPECT_EQ(captain, 22);
    EXPECT_FALSE(player_list_item_is_team(dialog, LIST_ITEM, 4, &captain));
    EXPECT_EQ(get_player_list_item_id(dialog, LIST_ITEM, 4), 22u);

    // Deleting a captain removes both rows; adding an id again replaces it.
    delete_player_from_list_by_id(dialog, LIST_ITEM, 22);
    EXPECT_EQ(order(), (std::vector<std::string>{"T:Team 0", "Abel", "Bram", "Cora", "Ezra"}));
    add_player_to_list(dialog, LIST_ITEM, held(player("Bram", 0, 11, 10)), 0, 11, 0, false);
    EXPECT_EQ(order(), (std::vector<std::string>{"T:Team 0", "Abel", "Cora", "Bram", "Ezra"}));

    // A captain who steps down loses his team row; one who takes over gets it.
    set_player_data_in_list(dialog, LIST_ITEM, held(player("Abel", 0, 10, 12)), 0, 10);
    EXPECT_EQ(rows(), 4);
    set_player_data_in_list(dialog, LIST_ITEM, held(player("Cora", 1, 20, 20)), 0, 20);
    EXPECT_EQ(rows(), 5);
    EXPECT_TRUE(player_id_in_list(dialog, LIST_ITEM, 20));
    clear_player_list(dialog, LIST_ITEM);
    EXPECT_EQ(rows(), 0);
    EXPECT_FALSE(player_id_in_list(dialog, LIST_ITEM, 20));
}

// A batch (a lobby event of many players) orders the list once, at its end,
// exactly as the same changes made one by one do: replaced and deleted ids,
// captains, a disabled row and two players of identical records.
TEST_F(player_list, a_batch_of_changes_orders_the_list_as_the_changes_one_by_one)
{
    std::vector<std::pair<std::vector<std::string>, std::vector<int16_t>>> results;
    for (const bool batched : {false, true})
    {
        clear_player_list(dialog, LIST_ITEM);
        if (batched) begin_player_list_batch(dialog, LIST_ITEM);
        add_player_to_list(dialog, LIST_ITEM, held(player("Cora", 1, 20, 22)), 0, 20, 0, true);
        add_player_to_list(dialog, LIST_ITEM, held(player("Abel", 0, 10, 10)), 0, 10, 0, true);
        add_player_to_list(dialog, LIST_ITEM, held(player("Twin", 2, 0, 5)), 0, 30, 0, true);
        add_player_to_list(dialog, LIST_ITEM, held(player("Dora", 1, 22, 22)), 0, 22, 0, true);
        add_player_to_list(dialog, LIST_ITEM, held(player("Twin", 2, 0, 5)), 0, 31, 0, true);
        add_player_to_list(dialog, LIST_ITEM, held(player("Ezra", 0, 12, 10)), 0, 12, 0, false);
        add_player_to_list(dialog, LIST_ITEM, held(player("Bram", 0, 11, 10)), 0, 20, 0, true);
        delete_player_from_list_by_id(dialog, LIST_ITEM, 22);
        if (batched) end_player_list_batch();
        std::vector<int16_t> keys;
        for (int16_t i = 0; i < rows(); ++i) keys.push_back(row(i).sort_order);
        results.push_back({order(), keys});
    }
    EXPECT_EQ(results[0].first, (std::vector<std::string>{"T:Team 0", "Abel", "Bram", "Twin", "Twin", "Ezra"}));
    EXPECT_EQ(results[1], results[0]);
}

TEST_F(player_list, rows_answer_lookups_by_id_and_by_chat_appearance)
{
    add_player_to_list(dialog, LIST_ITEM, held(player("Abel", 0, 10, 10)), 0, 7, 3, true);
    add_player_to_list(dialog, LIST_ITEM, held(player("Bram", 0, 11, 10)), 0, 8, 3, true);

    player_appearance_data look;
    ASSERT_TRUE(get_player_appearance_by_id(dialog, LIST_ITEM, 8, &look));
    EXPECT_STREQ(look.name, "Bram");
    strcpy(look.name, "Bruno");
    set_player_appearance_by_id(dialog, LIST_ITEM, &look, 8);
    new_player_data found;
    ASSERT_TRUE(get_player_from_list_by_id(dialog, LIST_ITEM, 8, &found));
    EXPECT_STREQ(found.appearance.name, "Bruno");
    EXPECT_FALSE(get_player_from_list_by_id(dialog, LIST_ITEM, 99, &found));
    set_player_appearance_by_id(dialog, LIST_ITEM, &look, 99); // logged, nothing changes

    player_list_data buffer;
    EXPECT_EQ(get_player_list_data_by_chat_appearance(dialog, LIST_ITEM, &look, &buffer), &buffer);
    EXPECT_EQ(buffer.uid, 8u);
    look.primary_color.blue = 1;
    EXPECT_EQ(get_player_list_data_by_chat_appearance(dialog, LIST_ITEM, &look, &buffer), nullptr);

    gag_player(dialog, LIST_ITEM, 8, true);
    EXPECT_TRUE(player_is_gagged(dialog, LIST_ITEM, 8));
    EXPECT_FALSE(player_is_gagged(dialog, LIST_ITEM, 7));
    gag_player(dialog, LIST_ITEM, 8, false);
    EXPECT_FALSE(player_is_gagged(dialog, LIST_ITEM, 8));

    EXPECT_EQ(get_selected_player_user_id(dialog, LIST_ITEM), 0u);
    EXPECT_EQ(get_selected_player_buddy_status(dialog, LIST_ITEM), 0);
    select_player_list_item_by_id(dialog, LIST_ITEM, 7);
    EXPECT_EQ(get_selected_player_user_id(dialog, LIST_ITEM), 7u);
    EXPECT_EQ(get_selected_player_buddy_status(dialog, LIST_ITEM), 'b');
    EXPECT_FALSE(player_list_selection_is_locked(dialog, LIST_ITEM));

    player_list_show_ready_icons(dialog, LIST_ITEM, false);
    for (int16_t i = 0; i < rows(); ++i) EXPECT_TRUE(row(i).flags & _player_dont_show_ready_icon_flag);
    player_list_show_ready_icons(dialog, LIST_ITEM, true);
    for (int16_t i = 0; i < rows(); ++i) EXPECT_FALSE(row(i).flags & _player_dont_show_ready_icon_flag);

    // Names that fill their fields without terminators are read within them.
    new_player_data loud = player("", 0, 12, 10);
    memset(loud.appearance.name, 'Z', sizeof(loud.appearance.name));
    memset(loud.appearance.team_name, 'Y', sizeof(loud.appearance.team_name));
    add_player_to_list(dialog, LIST_ITEM, &loud, 0, 9, 3, true);
    add_player_to_list(dialog, LIST_ITEM, &loud, 0, 10, 3, true);
    EXPECT_EQ(rows(), 5) << "Abel and his team, Bram and the two loud players";
    player_appearance_data loud_look = loud.appearance;
    EXPECT_NE(get_player_list_data_by_chat_appearance(dialog, LIST_ITEM, &loud_look, &buffer), nullptr);

    // A row of another length, put there through the list calls, is skipped.
    const char junk[10] = "junk";
    bitmap_add_data_to_list(dialog, LIST_ITEM, junk, (int16_t)sizeof(junk), 21, true);
    {
        expected_assertions expect(1, "Length != sizeof(struct player_list_data)");
        EXPECT_FALSE(player_id_in_list(dialog, LIST_ITEM, 55));
    }
}

// Rows are found by id without a walk: changes through the list calls (rows
// deleted or put in, the list emptied, the oldest row dropped) and players of
// one name must still leave one row per id and lookups that agree with it.
TEST_F(player_list, lookups_by_id_agree_with_the_rows_after_any_change)
{
    using adder = std::function<void(uint32_t, const char *, int32_t)>;
    const std::vector<std::pair<const char *, void (*)(dialog_data *, const adder &)>> cases = {
        {"a row deleted behind the list's back",
         [](dialog_data *d, const adder &add) {
             for (uint32_t id = 1; id <= 6; ++id) add(id, "Same", id == 3 ? 3 : 99);
             bitmap_delete_listbox_row(d, LIST_ITEM, 2);
             for (uint32_t id = 1; id <= 6; ++id) add(id, "Same", 99);
         }},
        {"the list emptied, then a row put in behind its back replaced",
         [](dialog_data *d, const adder &add) {
             for (uint32_t id = 1; id <= 5; ++id) add(id, "Name", 99);
             bitmap_empty_list(d, LIST_ITEM);
             const player_list_data row = {player("Name", 0, 6, 99), 6, 0, _player_is_enabled_flag, 0};
             bitmap_add_data_to_list(d, LIST_ITEM, &row, (int16_t)sizeof(row), PLAYER_LIST_ROW_HEIGHT, true);
             add(4, "Name", 4), add(4, "Other", 4), add(6, "Other", 99);
         }},
        {"the oldest row dropped by a full list",
         [](dialog_data *d, const adder &add) {
             bitmap_set_list_maximum_row_count(d, LIST_ITEM, 3);
             for (uint32_t id : {1, 2, 3, 4, 5, 2}) add(id, id % 2 ? "Odd" : "Even", 99);
         }},
        {"twins deleted and renamed in and after a batch",
         [](dialog_data *d, const adder &add) {
             begin_player_list_batch(d, LIST_ITEM);
             for (uint32_t id = 1; id <= 6; ++id) add(id, "Twin", id == 2 ? 2 : 99);
             delete_player_from_list_by_id(d, LIST_ITEM, 2);
             add(5, "Aaron", 5);
             end_player_list_batch();
             player_appearance_data look = player("Zed", 0, 6, 99).appearance;
             set_player_appearance_by_id(d, LIST_ITEM, &look, 6);
             set_player_data_in_list(d, LIST_ITEM, held(player("Twin", 0, 5, 99)), 0, 5);
         }},
    };
    const adder add = [&](uint32_t id, const char *name, int32_t captain) {
        add_player_to_list(dialog, LIST_ITEM, held(player(name, 0, (int32_t)id, captain)), 0, id, 0, true);
    };
    for (const auto &[name, change] : cases)
    {
        SCOPED_TRACE(name);
        clear_player_list(dialog, LIST_ITEM);
        bitmap_set_list_maximum_row_count(dialog, LIST_ITEM, DEFAULT_LIST_MAXIMUM_ROW_COUNT);
        change(dialog, add);
        std::map<std::pair<uint32_t, bool>, int> seen; // (id, team row) -> rows
        for (int16_t i = 0; i < rows(); ++i)
            ++seen[{get_player_list_item_id(dialog, LIST_ITEM, i), player_list_item_is_team(dialog, LIST_ITEM, i, nullptr)}];
        for (uint32_t id = 1; id <= 6; ++id)
        {
            const int player_rows = seen[{id, false}], team_rows = seen[{id, true}];
            EXPECT_LE(player_rows | team_rows, 1) << "id " << id;
            EXPECT_EQ(player_id_in_list(dialog, LIST_ITEM, id), player_rows == 1) << "id " << id;
            select_player_list_item_by_id(dialog, LIST_ITEM, id);
            EXPECT_EQ(get_selected_player_user_id(dialog, LIST_ITEM) == id, player_rows == 1) << "id " << id;
        }
    }
}

TEST_F(player_list, status_texts_show_latency_host_and_versions)
{
    player_list_data r;
    memset(&r, 0, sizeof(r));
    r.player = player("Abel", 0, 10, 10);
    r.uid = 5;
    const struct
    {
        int16_t latency;
        const char *expected;
    } latencies[] = {{999, "999ms"}, {7, "  7ms"}, {1000, "---"}, {32767, "---"}};
    for (const auto &c : latencies)
    {
        test_latency = c.latency;
        EXPECT_EQ(status(r), c.expected) << c.latency;
    }
    r.uid = 0;
    EXPECT_EQ(status(r), "host");

    test_ping = false;
    const struct
    {
        uint16_t flags;
        int16_t version, build;
        const char *expected;
    } versions[] = {
        {_player_show_diff_version_number_flag, 1820, 400, "|C8.2.0"},
        {_player_show_diff_version_number_flag, THIS_PROGRAM_VERSION, THIS_PROGRAM_BUILD, ""},
        {_player_show_diff_version_number_flag, THIS_PROGRAM_VERSION, 440, "|Cb440"},
        {_player_show_diff_version_number_flag, 999, 1, "|C  ??"},
        {_player_show_version_flag, 0, 0, ""},
        {0, 1820, 0, ""},
    };
    for (const auto &c : versions)
    {
        r.flags = c.flags;
        r.player.version = c.version;
        r.player.build_number = c.build;
        EXPECT_EQ(status(r), c.expected) << c.version << " build " << c.build;
    }
    r.flags = _player_show_version_flag;
    r.player.version = 1820;
    fixed_fraction transparency = 0;
    EXPECT_FALSE(status(r, &transparency).empty());
    EXPECT_EQ(transparency, 32768);

    test_ping = true;
    test_latency = 999;
    r.uid = 3;
    r.flags = _player_show_diff_version_number_flag;
    EXPECT_EQ(status(r), "999ms|p|0   |C8.2.0");
    get_game_preferences()->flags &= ~(uint32_t)_game_pref_show_player_latencies_flag;
    EXPECT_EQ(status(r), "|C8.2.0") << "latencies only with the preference";
}

TEST_F(player_list, idle_redraws_at_most_once_a_second_with_latencies_shown)
{
    install_test_clock(0xFFFFF000u); // across the clock's wrap
    const int16_t idle = _control_idle_verb;
    advance_test_clock_milliseconds(2000);
    EXPECT_EQ(player_list_control_def_proc(_control_requires_idle_time_verb, dialog, LIST_ITEM, nullptr), 1);
    EXPECT_EQ(player_list_control_def_proc(idle, dialog, LIST_ITEM, nullptr), 1);
    advance_test_clock_milliseconds(1000);
    EXPECT_EQ(player_list_control_def_proc(idle, dialog, LIST_ITEM, nullptr), 0);
    advance_test_clock_milliseconds(1);
    EXPECT_EQ(player_list_control_def_proc(idle, dialog, LIST_ITEM, nullptr), 1);
    advance_test_clock_milliseconds(5000);
    test_ping = false;
    EXPECT_EQ(player_list_control_def_proc(idle, dialog, LIST_ITEM, nullptr), 0);
    remove_test_clock();
}

// The demo data's player icons, as the data tool makes them from their
// source (in the test's scratch directory).
std::vector<uint8_t> demo_player_icons(void)
{
    const std::string source = source_tree_path("data/interface/collections/nepi.txt");
    if (run_data_tool("collection nepi.tag --subgroup nepi --name nepi '" + source + "'") != 0) return {};
    return local_tag_file_data("nepi.tag");
}

TEST_F(player_list, rows_are_drawn_inside_the_list_with_the_demo_icons)
{
    if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    const std::vector<uint8_t> icons = demo_player_icons();
    ASSERT_FALSE(icons.empty());
    write_local_tag(COLLECTION_GROUP_TAG, "nepi", COLLECTION_VERSION_NUMBER, icons.data(), (int32_t)icons.size());
    ASSERT_NE(get_collection_index(PLAYER_ICON_COLLECTION_TAG), NONE);

    new_player_data captain = player("Abel", 0, 10, 10);
    captain.agreed_to_play = 1;
    captain.appearance.caste_bitmap_index = 1;
    new_player_data member = player("Bram", 0, 11, 10);
    member.appearance.coat_of_arms_bitmap_index = 1;
    member.appearance.secondary_color = {50000, 40000, 10000, 0};
    new_player_data guest = player("Cora", 1, 20, NONE);
    guest.flags = _player_is_from_draxil_flag;
    guest.appearance.coat_of_arms_bitmap_index = 2;
    guest.appearance.caste_bitmap_index = DRAXIL_CASTE_ICON_INDEX;
    add_player_to_list(dialog, LIST_ITEM, &captain, 0, 0, 0, true);
    add_player_to_list(dialog, LIST_ITEM, &member, 0, 11, 0, true);
    add_player_to_list(dialog, LIST_ITEM, &guest, 0, 20, 0, false);
    select_player_list_item_by_id(dialog, LIST_ITEM, 11);

    dialog_test_screen screen;
    param_control_draw_verb p = {screen.bitmap, 0};
    player_list_control_def_proc(_control_draw_verb, dialog, LIST_ITEM, &p);
    if (const char *keep = getenv("VESK_PLAYER_LIST_FRAME"))
    {
        ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "player_list", "png", 0));
        std::filesystem::copy_file("pictures/player_list.png", keep, std::filesystem::copy_options::overwrite_existing);
    }
    const rectangle2d drawn = screen.changed_bounds();
    EXPECT_GE(drawn.left, 10);
    EXPECT_GE(drawn.top, 10);
    EXPECT_LE(drawn.right, 250);
    EXPECT_LE(drawn.bottom, 250);
    // Four rows of 21 pixels from the list's top gutter.
    const rectangle2d rows_area = {12, 10, (int16_t)(12 + 4 * PLAYER_LIST_ROW_HEIGHT), 250};
    EXPECT_GT(screen.count_changed(&rows_area), 4 * 200 * 17);
}

} // namespace

} // namespace player_list_test_file
