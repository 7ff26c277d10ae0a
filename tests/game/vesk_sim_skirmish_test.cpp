// The skirmish's difficulty end to end: a marker's lowest difficulty level
// comes from the map source (`vesk_tags mesh`, a level outside 0..4 refused),
// and `vesk_sim --difficulty` plays Skirmish Hill with as many enemy units as
// that level places, keeping the level in its film.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/tag_file_formats.h"

namespace vesk_sim_skirmish_test_file {

namespace {

class marker_difficulty_source_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;
    void SetUp() override { REQUIRE_DATA_TOOL(tool); }
};

TEST_F(marker_difficulty_source_test, the_lowest_level_is_stored_and_one_outside_0_to_4_is_refused)
{
    const struct
    {
        const char *tail; // after the marker's yaw
        int status;
        int stored;
    } rows[] = {
        {"", 0, 0}, {" 1", 0, 0}, {" 0 3", 0, 3}, {" 1 4", 0, 4},
        {" 0 5", 1, 0}, {" 0 -1", 1, 0}, {" 0 two", 1, 0}, {" 0 2 2", 1, 0},
    };
    for (const auto &row : rows)
    {
        const std::string source = std::string("size 2 2\nname m\npalette 3 0 wa01\nmarker 3 0 10 100 100 0 0") +
                                   row.tail + "\n";
        write_whole_file("map.txt", source.data(), source.size());
        ASSERT_EQ(run_data_tool("mesh map.tag --subgroup mmap --name m map.txt"), row.status) << row.tail;
        if (row.status != 0)
        {
            EXPECT_NE(read_whole_file("tool.err").find("map.txt:4:"), std::string::npos) << read_whole_file("tool.err");
            continue;
        }
        const std::vector<uint8_t> file = read_file_bytes("map.tag");
        const uint8_t *mesh = file.data() + sizeof(local_tag_file_header);
        ASSERT_EQ((int32_t)read_be32(mesh + 160), 1) << "one marker";
        const uint8_t *marker = mesh + (int32_t)read_be32(mesh + 156);
        EXPECT_EQ((int16_t)read_be16(marker + 6), row.stored) << row.tail;
    }
}

class vesk_sim_skirmish_test : public vesk_sim_fixture
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "skirmish_hill.map", "skir", tags);
    }
    // The report of a one-tick game with `arguments`, or "" when it fails.
    std::string report(const std::string &arguments)
    {
        if (run_vesk_sim(arguments + " --report > out.txt 2> err.txt") != 0) return "";
        const std::string out = read_whole_file("out.txt");
        return out.substr(out.find("team "));
    }
};

TEST_F(vesk_sim_skirmish_test, each_difficulty_level_places_its_enemy_and_the_film_keeps_it)
{
    const struct
    {
        const char *level;
        int enemy;
    } rows[] = {{"", 13}, {"--difficulty 0", 8}, {"--difficulty 1", 11}, {"--difficulty 2", 13},
                {"--difficulty 3", 14}, {"--difficulty 4", 16}};
    for (const auto &row : rows)
    {
        const std::string expected = "team 0 placed 10 alive 10\nteam 1 placed " + std::to_string(row.enemy) +
                                     " alive " + std::to_string(row.enemy) + "\n";
        const std::string units = report(std::string("--map skir --seed 7 --ticks 1 ") + row.level);
        EXPECT_EQ(units.substr(0, units.find("team 0 place ")), expected)
            << row.level << read_whole_file("err.txt");
    }

    const std::string hard = report("--map skir --seed 7 --ticks 30 --difficulty 4 --record hard.film");
    ASSERT_NE(hard.find("team 1 placed 16"), std::string::npos) << hard << read_whole_file("err.txt");
    EXPECT_EQ(report("--film hard.film"), hard) << read_whole_file("err.txt");

    for (const char *refused : {"--map skir --seed 7 --ticks 1 --difficulty 5", "--map skir --seed 7 --ticks 1 --difficulty -1",
                                "--film hard.film --difficulty 1"})
        EXPECT_EQ(run_vesk_sim(std::string(refused) + " > out.txt 2> err.txt"), 2) << refused;
}

} // namespace

} // namespace vesk_sim_skirmish_test_file
