// String lists, dialog string lists and strings: the stored layout, reading
// rows, refusing corrupt lists, and reloading through the precedence of the
// tag files after a delete.

#include "tag_files/store_fixture.h"

#include "cseries/byte_swapping.h"
#include "vesk/string_lists.h"

namespace string_lists_test_file {

namespace {

using store_fixture::packed_tag;
using store_fixture::take_pending_error;

std::string encoded(std::initializer_list<const char *> texts)
{
    std::vector<const char *> rows(texts);
    const int32_t size = encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0);
    std::string data((size_t)size, '\0');
    EXPECT_EQ(encode_string_list_data(rows.data(), (int32_t)rows.size(), data.data(), size), size);
    return data;
}

TEST(string_list_layout, encoding_gives_the_documented_bytes)
{
    const std::string data = encoded({"ab", "", "c\r|b"});
    const uint8_t expected[] = {0, 3, 0, 0, // count, reserved
                                0, 0, 0, 16, 0, 0, 0, 19, 0, 0, 0, 20, // offsets
                                'a', 'b', 0, 0, 'c', '\r', '|', 'b', 0};
    ASSERT_EQ(data.size(), sizeof(expected));
    EXPECT_EQ(memcmp(data.data(), expected, sizeof(expected)), 0);
    EXPECT_EQ(validate_string_list_data(data.data(), (int32_t)data.size()), 3);

    char small[8];
    const char *rows[] = {"too long for eight"};
    EXPECT_EQ(encode_string_list_data(rows, 1, small, sizeof(small)), NONE);
    EXPECT_EQ(validate_string_list_data(encoded({}).data(), 4), 0);
}

TEST(string_list_layout, corrupt_data_is_refused)
{
    const std::string good = encoded({"one", "two"});
    struct row
    {
        const char *what;
        int32_t offset; // byte to change, or -1
        uint8_t value;
        int32_t size; // bytes given, -1 for all
    };
    const row rows[] = {
        {"too short for the header", -1, 0, 3},
        {"count beyond the data", 1, 200, -1},
        {"reserved bytes set", 3, 1, -1},
        {"offset into the offset table", 7, 4, -1},
        {"offset past the end", 11, 200, -1},
        {"last text without its end", -1, 0, (int32_t)good.size() - 1},
        {"high byte of an offset", 4, 0x80, -1},
    };
    for (const row &r : rows)
    {
        std::string data = good;
        if (r.offset >= 0) data[(size_t)r.offset] = (char)r.value;
        const int32_t size = r.size < 0 ? (int32_t)data.size() : r.size;
        EXPECT_EQ(validate_string_list_data(data.data(), size), NONE) << r.what;
    }
    EXPECT_EQ(validate_string_list_data(nullptr, 10), NONE);
}

class string_lists : public store_fixture::store_test
{
protected:
    void TearDown() override
    {
        dispose_string_lists();
        store_test::TearDown();
    }

    void add(tag group, const char *name, int16_t version, const std::string &data)
    {
        write_local_tag(group, name, version, data.data(), (int32_t)data.size());
    }
};

TEST_F(string_lists, rows_counts_and_empty_texts_for_bad_indexes)
{
    start_store();
    add(STRING_LIST_GROUP_TAG, "in#1", 1, encoded({"3", "second", ""}));
    add(DIALOG_STRING_LIST_GROUP_TAG, "!new", 1, encoded({"OK", "Cancel"}));
    const char text[] = "A story\rin two lines";
    add(STRING_GROUP_TAG, "stry", 1, std::string(text, sizeof(text)));

    const int32_t list = string_list_tag_to_string_index(string_to_tag("in#1"));
    ASSERT_NE(list, NONE);
    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("in#1")), list);
    EXPECT_EQ(count_strings_in_list(list), 3);
    EXPECT_STREQ(get_string_from_list(list, 0), "3");
    EXPECT_STREQ(get_string_from_list(list, 1), "second");
    EXPECT_STREQ(get_string_from_list(list, 2), "");
    for (int32_t row : {-1, 3, 1000}) EXPECT_STREQ(get_string_from_list(list, row), "") << row;
    EXPECT_STREQ(get_string_from_list(NONE, 0), "");
    EXPECT_EQ(count_strings_in_list(NONE), 0);
    EXPECT_EQ(count_strings_in_list(MAXIMUM_STRING_LISTS), 0);

    // The dialog list is found by the dialog's tag, in its own group.
    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("!new")), NONE);
    const int32_t dialog = dialog_string_list_tag_to_string_index(string_to_tag("!new"));
    ASSERT_NE(dialog, NONE);
    EXPECT_STREQ(get_string_from_list(dialog, 1), "Cancel");

    const int32_t story = string_tag_to_string_index(string_to_tag("stry"));
    ASSERT_NE(story, NONE);
    int32_t length = 0;
    EXPECT_STREQ(get_string(story, &length), text);
    EXPECT_EQ(length, (int32_t)strlen(text));
    EXPECT_STREQ(get_string(list, &length), ""); // a list is not a string
    EXPECT_EQ(length, 0);

    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("none")), NONE);
    EXPECT_EQ(take_pending_error(), 0); // a missing list is no error
}

TEST_F(string_lists, corrupt_and_newer_lists_are_refused_once_and_read_as_empty)
{
    start_store();
    std::string broken = encoded({"a", "b"});
    broken[11] = (char)0x7F; // second offset past the end
    add(STRING_LIST_GROUP_TAG, "brkn", 1, broken);
    add(STRING_LIST_GROUP_TAG, "newr", 2, encoded({"from the future"}));
    add(STRING_GROUP_TAG, "open", 1, std::string("no end"));

    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("brkn")), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_corrupted);
    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("brkn")), NONE);
    EXPECT_EQ(take_pending_error(), 0); // reported once
    EXPECT_EQ(string_list_tag_to_string_index(string_to_tag("newr")), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_version_mismatch);
    EXPECT_EQ(string_tag_to_string_index(string_to_tag("open")), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_corrupted);

    // Repaired and deleted, the list reads again.
    int32_t tag_index = tag_file_open(STRING_LIST_GROUP_TAG, string_to_tag("brkn"));
    const std::string repaired = encoded({"a", "b"});
    ASSERT_TRUE(tag_file_write(&tag_index, 0, (int32_t)repaired.size(), repaired.data()));
    delete_string_list_definition_tag(string_to_tag("brkn"));
    const int32_t list = string_list_tag_to_string_index(string_to_tag("brkn"));
    ASSERT_NE(list, NONE);
    EXPECT_STREQ(get_string_from_list(list, 1), "b");
}

TEST_F(string_lists, a_deleted_list_reloads_from_the_tag_that_now_wins)
{
    const tag subgroup = string_to_tag("indl");
    write_foundation_file({packed_tag{STRING_LIST_GROUP_TAG, subgroup, "indl", 1, encoded({"foundation"})}});
    write_plugin_file("words", {packed_tag{STRING_LIST_GROUP_TAG, subgroup, "indl", 1, encoded({"plug-in", "x"})}});
    start_store();

    int32_t list = string_list_tag_to_string_index(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "foundation");

    // Reopening alone keeps the loaded list: indexes held by callers stay valid.
    ASSERT_EQ(tag_file_get_plugin_count(), 1);
    const int16_t plugins[] = {0};
    reopen_store(0, plugins, 1);
    EXPECT_STREQ(get_string_from_list(list, 0), "foundation");
    delete_string_list_definition_tag(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "");
    list = string_list_tag_to_string_index(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "plug-in");
    EXPECT_EQ(count_strings_in_list(list), 2);

    // A local copy beats the plug-in, but not while the local folder is left out.
    int32_t tag_index = tag_file_open(STRING_LIST_GROUP_TAG, subgroup);
    const std::string local = encoded({"local"});
    ASSERT_TRUE(tag_file_write(&tag_index, 0, (int32_t)local.size(), local.data()));
    delete_string_list_definition(list);
    list = string_list_tag_to_string_index(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "local");
    reopen_store(1, plugins, 1);
    delete_string_list_definition(list);
    list = string_list_tag_to_string_index(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "plug-in");

    // Without the plug-in, the foundation's again.
    reopen_store(1, nullptr, 0);
    delete_string_list_definition(list);
    delete_string_list_definition(NONE);
    list = string_list_tag_to_string_index(subgroup);
    EXPECT_STREQ(get_string_from_list(list, 0), "foundation");
}

} // namespace

} // namespace string_lists_test_file
