// The tag tool as map makers use it: local tags made by the store, packed,
// listed and unpacked again must come back byte for byte; damaged files are
// refused with a reason and a non-zero status.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/demo_data.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace vesk_tags_tool_test_file {

namespace
{
namespace fs = std::filesystem;

class VeskTagsTool : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;

    void SetUp() override
    {
        REQUIRE_DATA_TOOL(tool);
        make_store_folders();
        quiet_error_manager();
    }
    void TearDown() override { dispose_tag_files(); }
    // Runs the tool; its exit status, with standard output in `*out`.
    int run(const std::string &arguments, std::string *out = nullptr)
    {
        const int status = run_data_tool(arguments);
        if (out) *out = read_whole_file("tool.out");
        return status;
    }
};

TEST_F(VeskTagsTool, pack_list_unpack_round_trips_byte_for_byte)
{
    ASSERT_TRUE(write_foundation_files({}));
    initialize_tag_files();
    ASSERT_EQ(tag_files_open(0, nullptr, 0, -1, 0), 0);
    const tag groups[] = {FOUR_CHARACTER_CODE('u', 'n', 'i', 't'), COLLECTION_GROUP_TAG, MESH_GROUP_TAG};
    for (int i = 0; i < 12; i++)
    {
        int32_t index = tag_file_new(groups[i % 3], ("tag " + std::to_string(i)).c_str(), (int16_t)i);
        ASSERT_GT(index, 0);
        std::string data(i * 13, (char)('a' + i));
        ASSERT_TRUE(tag_file_write(&index, 0, (int32_t)data.size(), data.data()));
    }
    ASSERT_TRUE(tag_files_flush());
    dispose_tag_files();

    ASSERT_EQ(run("pack out.tags --type plugin --name Pack --url example.org local"), 0);
    std::string listing;
    ASSERT_EQ(run("list out.tags", &listing), 0);
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 12);
    EXPECT_NE(listing.find("mesh "), std::string::npos);
    EXPECT_NE(listing.find(" 5 65 tag 5\n"), std::string::npos) << listing;
    ASSERT_EQ(run("unpack out.tags again"), 0);

    int compared = 0;
    for (const auto &entry : fs::recursive_directory_iterator("local"))
    {
        if (!entry.is_regular_file()) continue;
        fs::path copy = fs::path("again") / fs::relative(entry.path(), "local");
        EXPECT_EQ(read_file_bytes(entry.path().string()), read_file_bytes(copy.string())) << copy;
        compared++;
    }
    EXPECT_EQ(compared, 12);
    int unpacked = 0;
    for (const auto &entry : fs::recursive_directory_iterator("again")) unpacked += entry.is_regular_file();
    EXPECT_EQ(unpacked, 12);

    // The packed file is one the store accepts as a plug-in.
    fs::rename("out.tags", "plugins/Pack");
    initialize_tag_files();
    EXPECT_EQ(tag_file_get_plugin_count(), 1);
}

TEST_F(VeskTagsTool, damaged_files_are_refused_with_a_reason)
{
    ASSERT_TRUE(write_monolithic_file("good.tags", _tag_file_type_foundation,
                                      {make_test_tag(MESH_GROUP_TAG, FOUR_CHARACTER_CODE('m', 'a', 'p', '1'), "map", "data")}));
    std::vector<uint8_t> good = read_file_bytes("good.tags");
    std::string listing;
    ASSERT_EQ(run("list good.tags", &listing), 0);
    EXPECT_EQ(listing, "mesh map1 1 4 map\n");
    for (size_t cut : {size_t(0), size_t(10), size_t(300), good.size() - 1})
    {
        ASSERT_TRUE(write_file_bytes("bad.tags", std::vector<uint8_t>(good.begin(), good.begin() + (long)cut)));
        EXPECT_EQ(run("list bad.tags", &listing), 1) << cut;
        EXPECT_EQ(listing, "");
        const std::string error = read_whole_file("tool.err");
        const std::string line = error.substr(0, error.find('\n'));
        EXPECT_NE(line.find("refused"), std::string::npos) << line;
    }
    EXPECT_EQ(run("list missing.tags"), 1);
    EXPECT_EQ(run("unpack bad.tags out"), 1);
    EXPECT_EQ(run("pack x.tags --type nonsense good.tags"), 2);
    EXPECT_EQ(run("pack x.tags --type patch good.tags"), 1) << "inputs must be local tag files";
    EXPECT_FALSE(fs::exists("x.tags"));
}

// A source longer than any list could hold is refused whole; read in part it
// would make a list missing its last rows.
TEST_F(VeskTagsTool, oversized_strings_source_is_refused_not_cut_short)
{
    std::string source;
    for (int i = 0; i <= MEG; i++) source += "\\x41"; // 4 bytes of source, 1 of text
    ASSERT_TRUE(write_whole_file("big.txt", source.data(), source.size()));
    EXPECT_EQ(run("strings big.tag --group stli --subgroup big_ --name big big.txt"), 1);
    EXPECT_FALSE(fs::exists("big.tag"));
}

// The tool makes no text the game would refuse: a text and its terminator
// fit the readers' limit of one MiB.
TEST_F(VeskTagsTool, a_text_the_game_would_refuse_is_refused)
{
    std::string text(MEG - 1, 'a');
    ASSERT_TRUE(write_whole_file("fits.txt", text.data(), text.size()));
    EXPECT_EQ(run("strings fits.tag --group text --subgroup fits --name fits fits.txt"), 0);
    EXPECT_EQ(read_file_bytes("fits.tag").size(), sizeof(local_tag_file_header) + MEG);
    text += 'a';
    ASSERT_TRUE(write_whole_file("big.txt", text.data(), text.size()));
    EXPECT_EQ(run("strings big.tag --group text --subgroup big_ --name big big.txt"), 1);
    EXPECT_FALSE(fs::exists("big.tag"));
}

// A file the tool cannot finish (here past the file size limit, as on a full
// disk) must not cost the good file it was to replace.
TEST_F(VeskTagsTool, a_failed_write_keeps_the_earlier_output)
{
    const std::string data(4000, 'd');
    ASSERT_TRUE(write_whole_file("data.bin", data.data(), data.size()));
    ASSERT_TRUE(write_whole_file("out.tag", "earlier", 7));
    // The shell's limit is in blocks of 512 bytes; SIGXFSZ ignored, the
    // write fails with EFBIG instead of ending the tool.
    const std::string command = "trap '' XFSZ; ulimit -f 1; '" + tool +
                                "' wrap out.tag --group data --subgroup big_ --name big data.bin 2>tool.err";
    EXPECT_EQ(exit_code_of(system(command.c_str())), 1);
    EXPECT_EQ(read_whole_file("out.tag"), "earlier");
    EXPECT_TRUE(aside_files_of(".", "out.tag").empty());
    EXPECT_EQ(run("wrap out.tag --group data --subgroup big_ --name big data.bin"), 0);
    EXPECT_EQ(read_file_bytes("out.tag").size(), sizeof(local_tag_file_header) + data.size());
    EXPECT_TRUE(aside_files_of(".", "out.tag").empty());
    // Only a file is replaced: a fifo given as the output stays a fifo.
    ASSERT_EQ(mkfifo("pipe.tag", 0644), 0);
    EXPECT_EQ(run("wrap pipe.tag --group data --subgroup big_ --name big data.bin"), 1);
    EXPECT_TRUE(fs::is_fifo("pipe.tag"));
}

// Numbers on the command line are decimal: "010" is ten, never eight;
// anything else is wrong usage.
TEST_F(VeskTagsTool, numbers_are_decimal_only)
{
    ASSERT_TRUE(write_whole_file("data.bin", "x", 1));
    std::string listing;
    ASSERT_EQ(run("wrap v.tag --group data --subgroup vers --name v --version 010 data.bin"), 0);
    ASSERT_EQ(run("list v.tag", &listing), 0);
    EXPECT_EQ(listing, "data vers 10 1 v\n");
    ASSERT_EQ(run("wrap v.tag --group data --subgroup vers --name v --version -7 data.bin"), 0);
    ASSERT_EQ(run("list v.tag", &listing), 0);
    EXPECT_EQ(listing, "data vers -7 1 v\n");
    for (const char *bad : {"0x10", "12abc", "' 5'", "+5", "-", "''", "99999999999999999999", "32768"})
    {
        EXPECT_EQ(run(std::string("wrap w.tag --group data --subgroup vers --name v --version ") + bad + " data.bin"), 2)
            << bad;
        EXPECT_FALSE(fs::exists("w.tag")) << bad;
    }
    // Sources keep their "0x" hex, but a leading zero is no longer octal.
    ASSERT_TRUE(write_whole_file("octal.txt", "radius 010\n", 11));
    EXPECT_EQ(run("objects o.tag --group obje --subgroup tree --name tree octal.txt"), 1);
    EXPECT_FALSE(fs::exists("o.tag"));
    ASSERT_TRUE(write_whole_file("ten.txt", "radius 10\n", 10));
    EXPECT_EQ(run("objects o.tag --group obje --subgroup tree --name tree ten.txt"), 0);
}

// A line is one statement however long: a long comment's tail must not turn
// into a statement, nor a long statement into two.
TEST_F(VeskTagsTool, long_object_source_lines_read_as_one_statement)
{
    const struct
    {
        std::string long_form, short_form;
    } cases[] = {
        {"radius 5\n#" + std::string(1022, 'x') + "radius 99\n", "radius 5\n"},
        {"radius" + std::string(2000, ' ') + "7\nheight 3\n", "radius 7\nheight 3\n"},
    };
    for (const auto &c : cases)
    {
        fs::remove("long.tag");
        ASSERT_TRUE(write_whole_file("long.txt", c.long_form.data(), c.long_form.size()));
        ASSERT_TRUE(write_whole_file("short.txt", c.short_form.data(), c.short_form.size()));
        EXPECT_EQ(run("objects long.tag --group obje --subgroup tree --name tree long.txt"), 0);
        ASSERT_EQ(run("objects short.tag --group obje --subgroup tree --name tree short.txt"), 0);
        EXPECT_EQ(read_file_bytes("long.tag"), read_file_bytes("short.tag")) << c.short_form;
    }
}

// A group the command does not make is wrong usage, even with nothing to parse.
TEST_F(VeskTagsTool, objects_of_an_unknown_group_are_wrong_usage)
{
    ASSERT_TRUE(write_whole_file("empty.txt", "", 0));
    EXPECT_EQ(run("objects odd.tag --group xxxx --subgroup tree --name tree empty.txt"), 2);
    EXPECT_FALSE(fs::exists("odd.tag"));
}

} // namespace

} // namespace vesk_tags_tool_test_file
