// The map-action block and the parameters: import refusals, round trips,
// preload, the search order and cache, and the editors against a plain
// reference model.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "cseries/errors.h"
#include "rgb_color.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_block_writer.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "support/map_action_layout_checker.h"
#include "tag_files/data.h"

namespace map_actions_test_file {

namespace {

class map_actions_test : public ::testing::Test
{
protected:
    int32_t saved_version = current_gameplay_version;
    void SetUp() override
    {
        reset_game_core();
        ASSERT_TRUE(initialize_map_actions());
        initialize_map_actions_for_new_map();
        game_->game_time = 0;
        game_->type = _game_type_local;
        current_gameplay_version = 1820;
        clear_pending_error();
    }
    void TearDown() override
    {
        dispose_map_actions_from_old_map();
        current_gameplay_version = saved_version;
        clear_pending_error();
    }
    int32_t pending_code(void)
    {
        int32_t code = 0;
        if (!error_pending(&code, nullptr, 0)) return 0;
        clear_pending_error();
        return code;
    }
};

// One action holding a parameter of every type, each with an odd count.
std::vector<test_action> every_type_block(void)
{
    std::vector<test_action> actions;
    test_action a{1, four("math")};
    a.flags = _map_action_initially_active_flag | _map_action_is_active_flag;
    a.lower = 30;
    a.delta = 7;
    for (int16_t type = 0; type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES; type++)
    {
        const int16_t count = (int16_t)(2 * (type % 3) + 1);
        std::vector<uint8_t> values((size_t)count * get_parameter_definition(type)->size);
        for (size_t i = 0; i < values.size(); i++) values[i] = (uint8_t)(i * 7 + type);
        a.raw(type, FOUR_CHARACTER_CODE('t', 'y', 'p', (char)('a' + type)), count, values.data(), (int32_t)values.size());
    }
    actions.push_back(a);
    test_action b{5, four("dela")};
    b.text(_map_action_field_name_name, "second").ids(four("link"), {1});
    actions.push_back(b);
    return actions;
}

TEST_F(map_actions_test, a_block_of_every_type_survives_import_and_export_byte_for_byte)
{
    const std::vector<test_action> actions = every_type_block();
    const std::vector<uint8_t> written = write_map_action_block(actions);
    std::vector<uint8_t> copy = written;
    ASSERT_TRUE(import_map_actions((int32_t)actions.size(), (int32_t)copy.size(), copy.data(), true));
    EXPECT_EQ(get_map_action(0)->parameter_count, NUMBER_OF_MAP_ACTION_PARAMETER_TYPES);
    EXPECT_STREQ(get_map_action_name(1), "second");
    EXPECT_STREQ(get_map_action_name(0), "<unnamed action>");
    int32_t count = 0, size = 0;
    uint8_t *exported = (uint8_t *)export_map_actions(&count, &size);
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(size, (int32_t)written.size());
    EXPECT_EQ(0, memcmp(exported, written.data(), written.size()));
    free(exported);
}

TEST_F(map_actions_test, entries_are_padded_to_four_bytes)
{
    EXPECT_EQ(map_action_parameter_entry_size(_parameter_character, 5), 16);
    EXPECT_EQ(map_action_parameter_entry_size(_parameter_monster_identifier, 3), 16);
    EXPECT_EQ(map_action_parameter_entry_size(_parameter_world_point2d, 1), 16);
    EXPECT_EQ(map_action_parameter_entry_size(99, 0), 8);
    EXPECT_EQ(map_action_parameter_entry_size(99, 1), NONE);
}

TEST_F(map_actions_test, an_unknown_type_imports_only_without_values)
{
    test_action a{1, four("math")};
    a.raw(99, four("oddx"), 0, nullptr, 0);
    ASSERT_TRUE(import_test_actions({a}));
    EXPECT_EQ(pending_code(), 0);
    test_action b{1, four("math")};
    uint8_t value = 1;
    b.raw(99, four("oddx"), 1, &value, 1);
    EXPECT_FALSE(import_test_actions({b}));
    EXPECT_EQ(pending_code(), _error_data_corrupted);
    EXPECT_EQ(get_map_action_array()->count, 0) << "a refused block leaves no action";
}

// Corrupt blocks are refused with code 10 before anything is copied.
TEST_F(map_actions_test, corrupt_blocks_are_refused_with_code_10)
{
    test_action a{1, four("math")};
    a.ints(four("resu"), {1, 2, 3});
    const std::vector<uint8_t> good = write_map_action_block({a});
    struct case_data
    {
        const char *what;
        int32_t count, size;
        void (*damage)(std::vector<uint8_t> *block);
    };
    const case_data cases[] = {
        {"negative count", -1, (int32_t)good.size(), nullptr},
        {"count past the array", 1025, (int32_t)good.size(), nullptr},
        {"buffer smaller than the records", 1, 63, nullptr},
        {"area of 98304 bytes", 1, 64 + 98304, nullptr},
        {"truncated area", 1, (int32_t)good.size() - 4, nullptr},
        {"negative entry count", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be16(b->data() + 66, 0xFFFF); }},
        {"negative type with values", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be16(b->data() + 64, 0xFFFE); }},
        {"run past the area", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be32(b->data() + 24, 8); }},
        {"deactivation mode 5", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be16(b->data() + 2, 5); }},
        {"deactivation mode -1", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be16(b->data() + 2, 0xFFFF); }},
        {"negative run offset", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) { write_be32(b->data() + 24, 0xFFFFFFF0u); }},
        // Read from there the values look like an entry (type 0, count 1), but
        // converted they are not: the run must begin at an entry.
        {"run beginning inside an entry", 1, (int32_t)good.size(), [](std::vector<uint8_t> *b) {
             write_be32(b->data() + 24, 8);
             write_be16(b->data() + 22, 12);
         }},
    };
    for (const case_data &c : cases)
    {
        std::vector<uint8_t> block = good;
        block.resize(64 + 98304 + 16, 0);
        if (c.damage) c.damage(&block);
        EXPECT_FALSE(import_map_actions(c.count, c.size, block.data(), true)) << c.what;
        EXPECT_EQ(pending_code(), _error_data_corrupted) << c.what;
        EXPECT_EQ(get_map_action_array()->count, 0) << c.what;
        EXPECT_EQ(get_map_action_parameter_buffer_size(), 0) << c.what;
    }
}

TEST_F(map_actions_test, a_run_with_fewer_entries_than_its_count_is_clamped)
{
    test_action a{1, four("math")};
    a.ints(four("resu"), {4});
    std::vector<uint8_t> block = write_map_action_block({a});
    write_be16(block.data() + 20, 3);
    {
        expected_assertions expect(1, "clamped");
        ASSERT_TRUE(import_map_actions(1, (int32_t)block.size(), block.data(), true));
    }
    EXPECT_EQ(get_map_action(0)->parameter_count, 1);
}

TEST_F(map_actions_test, preload_makes_string_list_values_none)
{
    test_action a{1, four("math")};
    a.ints(four("strs"), {0x41424344, 7}, _parameter_string_list_tag);
    ASSERT_TRUE(import_test_actions({a}));
    preload_map_action_tags();
    int32_t value = 0;
    ASSERT_TRUE(get_indexed_long_integer_parameter(0, four("strs"), _parameter_string_list_tag, &value, 1));
    EXPECT_EQ(value, NONE);
}

// ---- search -----------------------------------------------------------------------------

std::vector<int32_t> search_order(int32_t action_index, uint32_t flags, field_tag name)
{
    std::vector<int32_t> order;
    find_map_action_parameter_state state;
    new_find_map_action_parameter_state(&state, action_index, flags, name, NONE);
    map_action_parameter p;
    while (find_next_map_action_parameter(&state, &p)) order.push_back(p.action_index * 100 + p.parameter_index);
    return order;
}

TEST_F(map_actions_test, links_are_searched_breadth_first_with_the_repeats_of_the_stack)
{
    test_action a{1, four("math")}, b{2, four("math")}, d{4, four("math")}, s{5, four("math")};
    a.ints(four("valu"), {1}).ids(four("link"), {2, 4});
    b.ints(four("valu"), {2}).ids(four("link"), {4});
    d.ints(four("valu"), {4});
    s.ints(four("valu"), {5}).ids(four("link"), {5});
    ASSERT_TRUE(import_test_actions({a, b, d, s}));
    EXPECT_EQ(search_order(0, 0, NONE), (std::vector<int32_t>{0, 100, 200, 200}));
    EXPECT_EQ(search_order(3, 0, NONE), (std::vector<int32_t>{300, 300}));
    EXPECT_TRUE(search_order(0, 0, four("link")).empty());
    EXPECT_EQ(search_order(0, _dont_resolve_links_flag, four("link")), (std::vector<int32_t>{1}));
    int32_t values[5];
    EXPECT_EQ(get_combined_map_action_parameter(0, four("valu"), _parameter_integer, values, 5), 4);
    EXPECT_EQ(values[3], 4);
}

// Requests resolved together answer as the lookups and typed getters do,
// for actions with and without links, and after an edit (when they are
// looked up afresh) as well.
TEST_F(map_actions_test, resolved_requests_answer_as_the_lookups_do)
{
    test_action a{1, four("math")}, b{2, four("math")}, c{3, four("math")};
    a.ints(four("valu"), {1}).flag(four("debg")).ints(four("twin"), {}).ints(four("twin"), {7, 8});
    a.fixeds(four("twin"), {9}).ids(four("link"), {2});
    b.ints(four("lnkd"), {5}).ints(four("valu"), {2}).flag(four("bflg"));
    c.ints(four("valu"), {3, 4}).flag(four("cflg")).ids(four("list"), {1, 2}).text(four("name"), "c");
    ASSERT_TRUE(import_test_actions({a, b, c}));
    const map_action_parameter_request requests[] = {
        {four("valu"), _parameter_integer, 0},
        {four("twin"), _parameter_integer, 0},
        {four("twin"), _parameter_integer, _return_empty_arrays_flag},
        {four("twin"), _parameter_integer, _only_return_one_element_arrays_flag},
        {four("twin"), _parameter_fixed, 0},
        {four("twin"), NONE, _dont_resolve_links_flag | _return_empty_arrays_flag},
        {four("lnkd"), _parameter_integer, 0},
        {four("lnkd"), _parameter_integer, _dont_resolve_links_flag},
        {four("bflg"), _parameter_flag, _return_empty_arrays_flag},
        {four("debg"), _parameter_flag, 0},
        {four("debg"), _parameter_flag, _return_empty_arrays_flag},
        {four("link"), _parameter_action_identifier, 0},
        {four("link"), _parameter_action_identifier, _dont_resolve_links_flag},
        {four("list"), _parameter_action_identifier, 0},
        {(field_tag)NONE, _parameter_integer, 0},
        {four("none"), _parameter_integer, 0},
    };
    const int32_t count = (int32_t)(sizeof(requests) / sizeof(requests[0]));
    map_action_parameter_request_set set;
    prepare_map_action_parameter_requests(&set, requests, count);
    auto compare = [&](const resolved_map_action_parameters &resolved, const char *when) {
        for (int32_t i = 0; i < count; i++)
        {
            SCOPED_TRACE(testing::Message() << when << ", action " << resolved.action_index << ", request " << i);
            map_action_parameter got = {}, expected = {};
            const bool found = get_resolved_map_action_parameter(&resolved, i, &got);
            ASSERT_EQ(found, get_map_action_parameter(&expected, resolved.action_index, requests[i].flags,
                                                      requests[i].field_name, requests[i].type));
            if (found)
            {
                EXPECT_EQ(std::tuple(got.field_name, got.type, got.count, got.action_index, got.parameter_index),
                          std::tuple(expected.field_name, expected.type, expected.count, expected.action_index,
                                     expected.parameter_index));
            }
            if (requests[i].flags != 0 || requests[i].type == NONE || requests[i].type == _parameter_flag) continue;
            for (int32_t index = -1; index <= 2; index++)
            {
                int32_t value = -1, wanted = -1;
                int16_t short_value = -1, short_wanted = -1;
                const bool identifiers = requests[i].type == _parameter_action_identifier;
                const bool read = identifiers ? get_resolved_indexed_value(&resolved, i, index, &short_value)
                                              : get_resolved_indexed_value(&resolved, i, index, &value);
                const bool plain = identifiers ? get_indexed_short_integer_parameter(resolved.action_index, requests[i].field_name,
                                                                                     requests[i].type, &short_wanted, index)
                                               : get_indexed_long_integer_parameter(resolved.action_index, requests[i].field_name,
                                                                                    requests[i].type, &wanted, index);
                value += short_value;
                wanted += short_wanted;
                EXPECT_EQ(read, plain) << "value " << index;
                if (read) { EXPECT_EQ(value, wanted) << "value " << index; }
            }
        }
    };
    map_action_lookup_checker lookups;
    for (const bool checked : {false, true})
    {
        // Under the checker every request takes the checked lookup's way.
        const map_action_lookup_observer *saved = checked ? nullptr : set_map_action_lookup_observer(nullptr);
        for (const int32_t action : {0, 1, 2, 3})
        {
            resolved_map_action_parameters resolved;
            resolve_map_action_parameters(&resolved, action, &set);
            compare(resolved, checked ? "checked" : "resolved");
            // An edit moves the entries: the answers are looked up afresh.
            const int32_t eleven = 11;
            ASSERT_TRUE(set_unique_map_action_parameter(0, four("valu"), _parameter_integer, 1, &eleven));
            compare(resolved, "after an edit");
        }
        if (!checked) set_map_action_lookup_observer(saved);
    }
    EXPECT_GT(lookups.lookups, 0);
    EXPECT_EQ(lookups.mismatches, 0) << lookups.first_mismatch;
}

TEST_F(map_actions_test, the_search_stack_holds_64_actions)
{
    std::vector<test_action> chain;
    for (int16_t i = 1; i <= 70; i++)
    {
        test_action a{i, four("math")};
        a.ints(four("valu"), {i});
        if (i < 70) a.ids(four("link"), {(int16_t)(i + 1)});
        chain.push_back(a);
    }
    ASSERT_TRUE(import_test_actions(chain));
    EXPECT_EQ(search_order(0, 0, four("valu")).size(), 64u);
}

TEST_F(map_actions_test, flags_need_empty_arrays_and_the_cache_follows_edits_and_ticks)
{
    test_action a{1, four("math")};
    a.flag(four("debg")).ints(four("valu"), {3});
    ASSERT_TRUE(import_test_actions({a}));
    EXPECT_FALSE(get_map_action_parameter(nullptr, 0, 0, four("debg"), _parameter_flag));
    EXPECT_TRUE(get_map_action_parameter(nullptr, 0, _return_empty_arrays_flag, four("debg"), _parameter_flag));
    int32_t value = 0;
    ASSERT_TRUE(get_indexed_long_integer_parameter(0, four("valu"), _parameter_integer, &value, 0));
    const int32_t nine = 9;
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("valu"), _parameter_integer, 1, &nine));
    ASSERT_TRUE(get_indexed_long_integer_parameter(0, four("valu"), _parameter_integer, &value, 0));
    EXPECT_EQ(value, 9);
    // More than 64 entries: the cache falls back to a plain search.
    for (int32_t i = 0; i < 70; i++) ASSERT_TRUE(new_map_action_parameter(nullptr, 0, four("fill"), _parameter_integer));
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("last"), _parameter_integer, 1, &nine));
    game_->game_time = 32;
    EXPECT_TRUE(get_indexed_long_integer_parameter(0, four("last"), _parameter_integer, &value, 0));
    rgb_color color;
    const int32_t five[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("colr"), _parameter_integer, 5, five));
    EXPECT_TRUE(get_indexed_color_parameter(0, four("colr"), &color, 0));
    EXPECT_FALSE(get_indexed_color_parameter(0, four("colr"), &color, 1));
}

// Replacing the entries of one name leaves, byte for byte and offset for
// offset, what removing them one by one, adding the entry and setting its
// values gives: wherever the old entries lie, whatever the new entry's
// padding, in a pass or not.
TEST_F(map_actions_test, replacing_the_entries_of_a_name_gives_the_bytes_of_its_steps)
{
    struct case_data
    {
        const char *layout; // one letter per entry: 'x' the replaced name (text), others kept
        int32_t count; // text bytes of the new entry (0: an empty entry)
        bool in_pass;
    } cases[] = {{"abx", 3, false}, {"axb", 5, false}, {"xab", 1, true}, {"xaxbx", 4, true}, {"ab", 2, true},
                 {"axb", 0, true}, {"x", 8, false}};
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.layout << ", " << c.count << " bytes, in pass " << c.in_pass);
        std::vector<test_action> actions;
        for (int16_t identifier = 1; identifier <= 3; identifier++)
        {
            test_action a{identifier, four("math")};
            for (const char *letter = c.layout; *letter; letter++)
                if (*letter == 'x')
                    a.text(four("xxxx"), "old");
                else
                    a.ints(FOUR_CHARACTER_CODE(*letter, *letter, *letter, *letter), {-1, -*letter}); // no zero byte
            actions.push_back(a);
        }
        ASSERT_TRUE(import_test_actions(actions));
        const char text[8] = {'n', 'e', 'w', ' ', 't', 'e', 'x', 't'};
        std::vector<uint8_t> stored[2];
        std::vector<int32_t> offsets[2];
        for (int32_t way = 0; way < 2; way++)
        {
            // Slot 1 is edited; slot 2 lies after it, so moving slot 1 moves it too.
            ASSERT_TRUE(import_test_actions(actions));
            if (c.in_pass) begin_map_action_parameter_edits();
            if (way == 0)
            {
                ASSERT_TRUE(set_unique_map_action_parameter(1, four("xxxx"), _parameter_character, c.count, text));
            }
            else
            {
                for (int32_t index = 0; index < get_map_action(1)->parameter_count;)
                {
                    const map_action_parameter_header *header = get_map_action_parameter_header(1, index);
                    if (header->field_name != four("xxxx"))
                    {
                        index++;
                        continue;
                    }
                    ASSERT_TRUE(adjust_map_action_parameter_size(1, index, NONE));
                }
                map_action_parameter p;
                ASSERT_TRUE(new_map_action_parameter(&p, 1, four("xxxx"), _parameter_character));
                if (c.count > 0)
                {
                    ASSERT_TRUE(set_map_action_parameter(&p, c.count, text));
                }
            }
            if (c.in_pass) end_map_action_parameter_edits();
            stored[way].resize(PARAMETER_BUFFER_SIZE);
            offsets[way].resize(MAXIMUM_MAP_ACTIONS_PER_MAP);
            copy_settled_map_action_parameters(stored[way].data(), offsets[way].data());
            offsets[way].resize(3);
            map_action_parameter found;
            ASSERT_TRUE(get_map_action_parameter(&found, 1, _return_empty_arrays_flag, four("xxxx"), _parameter_character));
            EXPECT_EQ(found.count, c.count);
        }
        EXPECT_EQ(offsets[0], offsets[1]);
        EXPECT_EQ(stored[0], stored[1]);
    }
}

// Several names replaced in one call leave what replacing them one by one
// leaves: the bytes, the offsets, the lookups and the summary the engine
// asked for before the edit (kept while nothing changes) and after it.
TEST_F(map_actions_test, replacing_several_names_at_once_gives_the_bytes_of_one_at_a_time)
{
    struct case_data
    {
        const char *layout; // one letter per entry: 'x' and 'y' the names replaced, 'l' an 'acos' list, others kept
        int32_t y_count; // values of the new 'y' entry
        bool in_pass;
        bool y_is_list; // 'y' is the 'acos' list (a name the summary counts)
    } cases[] = {{"abxy", 2, true, false}, {"abyx", 2, true, false}, {"xaby", 2, true, false}, {"xy", 2, true, false},
                 {"abx", 2, true, false},  {"axxy", 2, true, false}, {"abxy", 2, false, false}, {"abxy", 1, true, false},
                 {"axl", 1, true, true},   {"axl", 2, true, true},  {"ax", 1, true, true}};
    const map_action_parameter_request requests[] = {{four("xxxx"), _parameter_integer, 0},
                                                     {four("aaaa"), _parameter_integer, 0},
                                                     {_map_action_field_name_activate_on_success, _parameter_action_identifier, 0}};
    map_action_parameter_request_set set;
    prepare_map_action_parameter_requests(&set, requests, 3);
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.layout << ", 'y' of " << c.y_count << ", in pass " << c.in_pass);
        std::vector<test_action> actions;
        for (int16_t identifier = 1; identifier <= 3; identifier++)
        {
            test_action a{identifier, four("math")};
            for (const char *letter = c.layout; *letter; letter++)
                if (*letter == 'l')
                    a.ids(_map_action_field_name_activate_on_success, {3});
                else
                    a.ints(FOUR_CHARACTER_CODE(*letter, *letter, *letter, *letter), {-1, -*letter});
            actions.push_back(a);
        }
        const field_tag y_name = c.y_is_list ? _map_action_field_name_activate_on_success : four("yyyy");
        const int16_t y_type = c.y_is_list ? _parameter_action_identifier : _parameter_integer;
        // Each entry stored holds two integers: x replaces its own at its size.
        const int32_t x_values[2] = {7, 8}, y_values[2] = {2, 3};
        const map_action_parameter_value values[] = {{four("xxxx"), _parameter_integer, 2, x_values},
                                                     {y_name, y_type, c.y_count, y_values}};
        const int16_t list_of_two[2] = {2, 3};
        std::vector<uint8_t> stored[2];
        std::vector<int32_t> offsets[2];
        uint32_t summaries[2][2];
        uint64_t found[2];
        for (int32_t way = 0; way < 2; way++)
        {
            ASSERT_TRUE(import_test_actions(actions));
            if (c.in_pass) begin_map_action_parameter_edits();
            summaries[way][0] = get_map_action_own_entry_summary(1);
            map_action_parameter_value given[2] = {values[0], values[1]};
            if (c.y_is_list) given[1].data = list_of_two;
            if (way == 0)
            {
                ASSERT_TRUE(set_unique_map_action_parameters(1, given, 2));
            }
            else
            {
                for (const map_action_parameter_value &value : given)
                    ASSERT_TRUE(set_unique_map_action_parameter(1, value.field_name, value.type, value.count, value.data));
            }
            summaries[way][1] = get_map_action_own_entry_summary(1);
            resolved_map_action_parameters resolved;
            resolve_map_action_parameters(&resolved, 1, &set);
            found[way] = resolved.found;
            int32_t x = 0;
            EXPECT_TRUE(get_resolved_indexed_value(&resolved, 0, 0, &x));
            EXPECT_EQ(x, 7);
            if (c.in_pass) end_map_action_parameter_edits();
            stored[way].resize(PARAMETER_BUFFER_SIZE);
            offsets[way].resize(MAXIMUM_MAP_ACTIONS_PER_MAP);
            copy_settled_map_action_parameters(stored[way].data(), offsets[way].data());
            offsets[way].resize(3);
        }
        EXPECT_EQ(offsets[0], offsets[1]);
        EXPECT_EQ(stored[0], stored[1]);
        EXPECT_EQ(found[0], found[1]);
        EXPECT_EQ(summaries[0][0], summaries[1][0]);
        EXPECT_EQ(summaries[0][1], summaries[1][1]);
        const uint32_t list_bit = map_action_summary_bit(_map_action_field_name_activate_on_success);
        EXPECT_EQ((summaries[0][1] & list_bit) != 0, c.y_is_list);
    }
}

// A pass that leaves runs of the same size where they lie, makes and deletes
// actions and grows runs settles to the layout that settling every edit at
// once gives: moved runs (empty ones too) in the order of their last moves.
TEST_F(map_actions_test, runs_kept_in_place_settle_as_runs_moved_at_each_edit)
{
    struct case_data
    {
        const char *steps; // per step: digit = same-size edit of that slot, n = new action, g = grow the newest, d = delete slot 2
    } cases[] = {{"1ng"}, {"n0d"}, {"20n1g"}, {"n1ng0"}, {"d1n"}, {"0000"}, {"0123"}, {"n0123"}, {"0123n"}};
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.steps);
        std::vector<uint8_t> stored[2];
        std::vector<int32_t> offsets[2];
        for (int32_t way = 0; way < 2; way++)
        {
            std::vector<test_action> actions;
            for (int16_t identifier = 1; identifier <= 4; identifier++)
            {
                test_action a{identifier, four("math")};
                a.ints(four("aaaa"), {identifier}).ints(four("bbbb"), {-identifier, 7});
                actions.push_back(a);
            }
            ASSERT_TRUE(import_test_actions(actions));
            const bool every_edit = set_map_action_parameters_settled_every_edit(way == 1);
            begin_map_action_parameter_edits();
            int32_t newest = NONE, value = 100;
            for (const char *step = c.steps; *step; step++, value++)
            {
                if (*step >= '0' && *step <= '9')
                    ASSERT_TRUE(set_unique_map_action_parameter(*step - '0', four("aaaa"), _parameter_integer, 1, &value));
                else if (*step == 'n')
                    ASSERT_NE(newest = new_map_action(NONE), NONE);
                else if (*step == 'g')
                    ASSERT_TRUE(set_unique_map_action_parameter(newest, four("cccc"), _parameter_integer, 1, &value));
                else
                    delete_map_action(2);
            }
            end_map_action_parameter_edits();
            set_map_action_parameters_settled_every_edit(every_edit);
            stored[way].resize(PARAMETER_BUFFER_SIZE);
            offsets[way].resize(MAXIMUM_MAP_ACTIONS_PER_MAP);
            copy_settled_map_action_parameters(stored[way].data(), offsets[way].data());
            offsets[way].resize(get_map_action_array()->count);
        }
        EXPECT_EQ(offsets[0], offsets[1]);
        EXPECT_EQ(stored[0], stored[1]);
    }
}

// ---- editors against a reference model ---------------------------------------------------------

struct model_entry
{
    field_tag name;
    int16_t type;
    std::vector<int32_t> values;
};

// 10,000 random edits of 50 actions, checked against the model after each;
// inside a script pass when `in_pass` (settled at its end).  Without
// `check_model` the edits are only made.
void random_edits(bool in_pass, bool check_model = true)
{
    std::vector<test_action> actions;
    for (int16_t i = 1; i <= 50; i++) actions.push_back(test_action{i, four("math")});
    ASSERT_TRUE(import_test_actions(actions));
    std::map<int32_t, std::vector<model_entry>> model;
    for (int32_t i = 0; i < 50; i++) model[i];
    std::mt19937 random(1234);
    const field_tag names[3] = {four("aaaa"), four("bbbb"), four("#ccc")};
    if (in_pass) begin_map_action_parameter_edits();
    for (int32_t step = 0; step < 10000; step++)
    {
        auto it = model.begin();
        std::advance(it, random() % model.size());
        const int32_t action = it->first;
        std::vector<model_entry> &entries = it->second;
        const field_tag name = names[random() % 3];
        const int32_t operation = random() % 6;
        if (operation == 0)
        {
            std::vector<int32_t> values(random() % 6);
            for (int32_t &v : values) v = (int32_t)random();
            ASSERT_TRUE(set_unique_map_action_parameter(action, name, _parameter_integer, (int32_t)values.size(), values.data()));
            std::erase_if(entries, [&](const model_entry &e) { return e.name == name && e.type == _parameter_integer; });
            entries.push_back({name, _parameter_integer, values.empty() ? std::vector<int32_t>{} : values});
        }
        else if (operation == 1 && !entries.empty())
        {
            const int32_t index = random() % entries.size();
            map_action_parameter p;
            ASSERT_TRUE(build_map_action_parameter(&p, action, index));
            std::vector<int32_t> more(random() % 4, (int32_t)step);
            ASSERT_TRUE(append_to_map_action_parameter(&p, (int32_t)more.size(), more.data()));
            entries[index].values.insert(entries[index].values.end(), more.begin(), more.end());
        }
        else if (operation == 2 && !entries.empty())
        {
            const int32_t index = random() % entries.size();
            ASSERT_TRUE(adjust_map_action_parameter_size(action, index, NONE));
            entries.erase(entries.begin() + index);
        }
        else if (operation == 3 && !entries.empty())
        {
            const int32_t index = random() % entries.size();
            const int32_t count = random() % 5;
            ASSERT_TRUE(adjust_map_action_parameter_size(action, index, count));
            entries[index].values.resize(count, 0);
        }
        else if (operation == 4 && model.size() > 30)
        {
            delete_map_action(action);
            model.erase(it);
        }
        else if (operation == 5 && model.size() < 70)
        {
            const int32_t parent = model.begin()->first;
            const int32_t made = new_map_action(parent);
            ASSERT_NE(made, NONE);
            model[made] = model[parent];
        }
        // Every action holds exactly its model's entries, and nothing else is in use.
        if (!check_model) continue;
        int32_t in_use = 0;
        for (const auto &[index, expected] : model)
        {
            const map_action *record = get_map_action(index);
            ASSERT_NE(record, nullptr);
            ASSERT_EQ(record->parameter_count, (int16_t)expected.size()) << "step " << step;
            in_use += record->parameters_size;
            // The first entry of each name of the action edited, as the lookups find it.
            for (const field_tag looked_up : names)
            {
                if (index != action) break;
                int32_t first = NONE;
                for (size_t e = 0; e < expected.size() && first == NONE; e++)
                    if (expected[e].name == looked_up) first = (int32_t)e;
                map_action_parameter p;
                const bool found = get_map_action_parameter(&p, index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                                            looked_up, _parameter_integer);
                ASSERT_EQ(found ? (int32_t)p.parameter_index : (int32_t)NONE, first) << "step " << step;
            }
            for (size_t e = 0; e < expected.size(); e++)
            {
                map_action_parameter p;
                ASSERT_TRUE(build_map_action_parameter(&p, index, (int32_t)e));
                ASSERT_EQ(p.field_name, expected[e].name);
                ASSERT_EQ(p.count, (int16_t)expected[e].values.size()) << "step " << step;
                std::vector<int32_t> values(p.count);
                copy_map_action_parameter_values(&p, values.data(), p.count);
                ASSERT_EQ(values, expected[e].values) << "step " << step;
            }
        }
        ASSERT_EQ(in_use, get_map_action_parameter_buffer_size()) << "step " << step;
    }
    if (in_pass) end_map_action_parameter_edits();
}

// The edits move runs as one move per edit would, inside a pass or not, and
// every lookup through the index of entries answers what walking the stored
// entries answers; a byte put wrong by one edit is caught, and so is an
// entry renamed behind the index's back by the lookups that meet it.
// Each case is a test of its own: they take a good part of a minute each
// under the sanitizers, and apart they run side by side.
struct random_edits_case
{
    bool in_pass;
    int32_t tampered_resize; // 0: none; else the run's last byte and its first entry's name
};
// (How ctest names each case: tests/long_cases.txt lists them.)
void PrintTo(const random_edits_case &c, std::ostream *os) { *os << c.in_pass << "," << c.tampered_resize; }
class map_actions_edits : public map_actions_test, public ::testing::WithParamInterface<random_edits_case>
{
};

TEST_P(map_actions_edits, random_edits_agree_with_a_plain_model_and_the_one_move_per_edit_layout)
{
    const random_edits_case c = GetParam();
    dispose_map_actions_from_old_map();
    initialize_map_actions_for_new_map();
    map_action_layout_checker checker;
    map_action_lookup_checker lookups;
    checker.after_resize = [&](int32_t resize, int32_t action_index) {
        const map_action *action = get_map_action(action_index);
        if (resize != c.tampered_resize || action->parameters_size == 0) return;
        uint8_t *buffer = get_map_action_globals()->parameter_buffer;
        buffer[action->parameters_offset + action->parameters_size - 1] ^= 1;
        if (action->parameter_count > 0) buffer[action->parameters_offset + 4] ^= 0x20;
    };
    random_edits(c.in_pass, c.tampered_resize == 0);
    EXPECT_GT(checker.resizes, 5000);
    EXPECT_GT(lookups.lookups, 1000);
    EXPECT_EQ(checker.mismatches, c.tampered_resize ? 1 : 0) << checker.first_mismatch;
    if (c.tampered_resize)
    {
        EXPECT_NE(checker.first_mismatch.find("resize 5000 "), std::string::npos) << checker.first_mismatch;
        EXPECT_GT(lookups.mismatches, 0);
    }
    else
    {
        EXPECT_EQ(lookups.mismatches, 0) << lookups.first_mismatch;
    }
}

INSTANTIATE_TEST_SUITE_P(cases, map_actions_edits,
                         ::testing::Values(random_edits_case{false, 0}, random_edits_case{true, 0},
                                           random_edits_case{true, 5000}),
                         [](const ::testing::TestParamInfo<random_edits_case> &info) {
                             return std::string(info.param.in_pass ? "in_pass" : "alone") +
                                    (info.param.tampered_resize ? "_tampered" : "");
                         });

TEST_F(map_actions_test, the_buffer_limit_and_the_16_bit_sizes_refuse_and_change_nothing)
{
    ASSERT_TRUE(import_test_actions({test_action{1, four("math")}, test_action{2, four("math")}}));
    // 8 + 8189 * 4 = 32764 bytes: one more value passes the 16-bit size.
    std::vector<int32_t> values(8189, 7);
    ASSERT_TRUE(set_unique_map_action_parameter(0, four("bulk"), _parameter_integer, 8189, values.data()));
    map_action_parameter p;
    ASSERT_TRUE(get_map_action_parameter(&p, 0, 0, four("bulk"), _parameter_integer));
    const int32_t before = get_map_action_parameter_buffer_size();
    EXPECT_FALSE(append_to_map_action_parameter(&p, 1, values.data()));
    EXPECT_EQ(get_map_action_parameter_buffer_size(), before);
    EXPECT_EQ(p.count, 8189);
    // Fill the buffer with runs of other actions to just under its size.
    while (get_map_action_parameter_buffer_size() + 32764 < PARAMETER_BUFFER_SIZE)
    {
        const int32_t action = new_map_action(NONE);
        ASSERT_TRUE(set_unique_map_action_parameter(action, four("bulk"), _parameter_integer, 8189, values.data()));
    }
    const int32_t full = get_map_action_parameter_buffer_size();
    const int32_t left = PARAMETER_BUFFER_SIZE - full;
    ASSERT_EQ(left, 12);
    EXPECT_FALSE(adjust_map_action_parameters_size(1, left)) << "the buffer may not reach 98304 bytes";
    EXPECT_TRUE(adjust_map_action_parameters_size(1, left - 1));
    EXPECT_EQ(get_map_action_parameter_buffer_size(), PARAMETER_BUFFER_SIZE - 1);
    int32_t check = 0;
    ASSERT_TRUE(get_indexed_long_integer_parameter(0, four("bulk"), _parameter_integer, &check, 8188));
    EXPECT_EQ(check, 7);
}

} // namespace

} // namespace map_actions_test_file
