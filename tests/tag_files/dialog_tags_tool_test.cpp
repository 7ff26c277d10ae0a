// The data tool writes dialogs ('bina') and their dialog string lists
// ('ditl') from a text description: the bytes are the big-endian layout of
// docs/formats.md (golden bytes), the list holds item n's text in row n - 1,
// and every bad line is refused with its line number, writing nothing.

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cseries/byte_swapping.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "tag_files/tag_file_formats.h"
#include "vesk/string_lists.h"

namespace dialog_tags_tool_test_file {

namespace
{
namespace fs = std::filesystem;

const tag BINA = FOUR_CHARACTER_CODE('b', 'i', 'n', 'a');

class DialogTagsTool : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;

    void SetUp() override
    {
        REQUIRE_DATA_TOOL(tool);
    }
    // Writes `source` as "dialog.txt" and runs the tool on it with `options`;
    // the exit status.  Its standard error is in `errors`.
    int make(const std::string &source, const std::string &options = "--ditl list.tag")
    {
        EXPECT_TRUE(write_whole_file("dialog.txt", source.data(), source.size()));
        fs::remove("out.tag");
        fs::remove("list.tag");
        const int status = run_data_tool("dialog out.tag " + options + " --subgroup dlog --name 'a dialog' dialog.txt");
        errors = read_whole_file("tool.err");
        return status;
    }
    std::string errors;
};

// A local tag file's tag: its group, subgroup and version, and its data.
struct made_tag
{
    tag group = 0, subgroup = 0;
    int16_t version = 0;
    std::vector<uint8_t> data;
};

made_tag read_made_tag(const char *path)
{
    made_tag made;
    const std::vector<uint8_t> file = read_file_bytes(path);
    if (file.size() < sizeof(local_tag_file_header)) return made;
    made.group = read_be32(file.data() + offsetof(local_tag_file_header, group_tag));
    made.subgroup = read_be32(file.data() + offsetof(local_tag_file_header, subgroup_tag));
    made.version = (int16_t)read_be16(file.data() + offsetof(local_tag_file_header, version));
    made.data.assign(file.begin() + sizeof(local_tag_file_header), file.end());
    return made;
}

TEST_F(DialogTagsTool, description_becomes_the_stored_dialog_byte_for_byte)
{
    ASSERT_EQ(make("# a comment line\n"
                   "bounds 10 20 110 220   # top left bottom right\n"
                   "\n"
                   "item butt 2 70 10 92 74 0x8001 \"OK\"\n"
                   "item in#1 -1 5 6 25 190 0 \"Line \\\"|b\\\" # not a comment\\r\\x7e\"\n"
                   "item stat 3 0 0 0 0 0\n"),
              0)
        << errors;
    const made_tag made = read_made_tag("out.tag");
    EXPECT_EQ(made.group, BINA);
    EXPECT_EQ(made.subgroup, FOUR_CHARACTER_CODE('d', 'l', 'o', 'g'));
    EXPECT_EQ(made.version, 1);
    const uint8_t golden[] = {
        0x00, 0x01, 0x00, 0x03, 0x00, 0x0A, 0x00, 0x14, 0x00, 0x6E, 0x00, 0xDC, // version, count, bounds
        'b', 'u', 't', 't', 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, //
        0x00, 0x46, 0x00, 0x0A, 0x00, 0x5C, 0x00, 0x4A, //
        'i', 'n', '#', '1', 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x05, 0x00, 0x06, 0x00, 0x19, 0x00, 0xBE, //
        's', 't', 'a', 't', 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        'O', 'K', 0, 'L', 'i', 'n', 'e', ' ', '"', '|', 'b', '"', ' ', '#', ' ', 'n', 'o', 't', ' ', 'a', ' ', 'c',
        'o', 'm', 'm', 'e', 'n', 't', '\r', '~', 0, 0};
    EXPECT_EQ(made.data, std::vector<uint8_t>(golden, golden + sizeof(golden)));
    EXPECT_FALSE(fs::exists("list.tag")) << "inline texts make no list";
}

// With the texts in a list, row n - 1 holds item n's text (rows no item
// names stay empty), and the tag keeps them inline as well.
TEST_F(DialogTagsTool, texts_in_a_list_are_numbered_by_identifier)
{
    ASSERT_EQ(make("bounds 0 0 100 200\n"
                   "texts list\n"
                   "item butt 3 1 2 3 4 0 \"Three\"\n"
                   "item stat 1 5 6 7 8 0 \"One\"\n"),
              0)
        << errors;
    const made_tag list = read_made_tag("list.tag");
    EXPECT_EQ(list.group, DIALOG_STRING_LIST_GROUP_TAG);
    EXPECT_EQ(list.subgroup, FOUR_CHARACTER_CODE('d', 'l', 'o', 'g'));
    EXPECT_EQ(list.version, STRING_LIST_VERSION);
    const char *const rows[] = {"One", "", "Three"};
    std::vector<uint8_t> want((size_t)encode_string_list_data(rows, 3, nullptr, 0));
    encode_string_list_data(rows, 3, want.data(), (int32_t)want.size());
    EXPECT_EQ(list.data, want);

    const made_tag dialog = read_made_tag("out.tag");
    ASSERT_EQ(dialog.data.size(), 12u + 2 * 24 + 10);
    EXPECT_EQ(std::string((const char *)dialog.data.data() + 60, 10), std::string("Three\0One\0", 10));
}

TEST_F(DialogTagsTool, bad_lines_are_refused_with_their_number_and_nothing_is_written)
{
    const struct
    {
        const char *source;
        const char *refusal; // what standard error says, with the line
    } cases[] = {
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0 \"Cancel\n", "dialog.txt:2: the text has no closing quote"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0 Cancel\n", "dialog.txt:2: the text goes in double quotes"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0 \"a\\q\"\n", "dialog.txt:2: unknown escape \\q"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0 \"a\\x00\"\n", "dialog.txt:2: \\x needs two hex digits"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0 \"a\"b\n", "dialog.txt:2: the closing quote must end the word"},
        {"bounds 0 0 10 10\n\nbutton 1 0 0 10 10 0\n", "dialog.txt:3: not understood: button"},
        {"bounds 0 0 10 10\nitem but 1 0 0 10 10 0\n", "dialog.txt:2: a type code has four characters"},
        {"bounds 0 0 10 10\nitem butt 40000 0 0 10 10 0\n", "dialog.txt:2: the identifier is not a number"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 65536\n", "dialog.txt:2: the flags are not a number"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10\n", "dialog.txt:2: an item is: item CODE"},
        {"bounds 0 0 10 10\nitem butt 1 10 0 9 10 0\n", "dialog.txt:2: the rectangle is upside down"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10x 0\n", "dialog.txt:2: a coordinate is not a number"},
        {"bounds 5 5 10 4\n", "dialog.txt:1: the rectangle is upside down"},
        {"bounds 0 0 10 10\nbounds 0 0 10 10\n", "dialog.txt:2: the dialog's bounds are given twice"},
        {"bounds 0 0 10 10\ntexts inline\ntexts list\n", "dialog.txt:3: the texts are placed twice"},
        {"bounds 0 0 10 10\ntexts both\n", "dialog.txt:2: texts are: texts inline|list"},
        {"bounds 0 0 10 10\nitem butt 1 0 0 10 10 0\nitem stat 1 0 0 10 10 0\n",
         "dialog.txt:3: item 1 is already on line 2"},
        {"bounds 0 0 10 10\ntexts list\nitem butt 1 0 0 10 10 0\nitem stat 0 0 0 10 10 0\n",
         "dialog.txt:4: with texts in a list, item identifiers start at 1"},
        {"item butt 1 0 0 10 10 0\n", "dialog.txt: the dialog has no bounds line"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(make(c.source), 1);
        EXPECT_NE(errors.find(c.refusal), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists("out.tag"));
        EXPECT_FALSE(fs::exists("list.tag"));
    }
    // A list needs a file to go to.
    EXPECT_EQ(make("bounds 0 0 10 10\ntexts list\n", ""), 1);
    EXPECT_NE(errors.find("give its file with --ditl"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists("out.tag"));
}

} // namespace

} // namespace dialog_tags_tool_test_file
