// Every tag a definition of the demo data names exists: each definition of the
// data set (its units, soldiers, projectiles and their groups, objects,
// scenery, collections, ...) is loaded through its group as a map loads it,
// with the demo's sounds and string lists beside it, and the load reports no
// missing sound, projectile, collection or string.  Each missing name is
// reported once, with the definition that names it.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"

namespace demo_references_test_file {

namespace {

namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
constexpr char LOG[] = "references_log.txt";

class demo_references_test : public ::testing::Test
{
protected:
    std::string directory, previous;

    void SetUp() override
    {
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        // The demo's sounds and texts join the data set, as the demo data
        // script puts them beside the definitions.
        ASSERT_TRUE(enter_demo_data_directory(tool, &directory, &previous, [&tool](std::vector<test_tag> *tags) {
            std::vector<demo_tone> tones;
            return make_demo_tone_tags([](const std::string &) { return true; }, tags, &tones) &&
                   make_string_list_tags(tool, tags);
        }));
    }
    void TearDown() override
    {
        stop_simulation();
        leave_demo_data_directory(directory, previous);
    }
};

// The lines of the log that say a named tag is not there: the registry's
// own ("... definition 'x' is missing", "... cannot be opened") and those of
// the groups that look their names up themselves ("...: sound 'x' is missing").
std::set<std::string> missing_references(const std::string &log)
{
    const std::regex missing("(is missing|cannot be opened|could not be used)");
    std::set<std::string> found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, missing)) found.insert(line.substr(line.find("  ") + 1)); // past the time
    return found;
}

TEST_F(demo_references_test, every_tag_a_demo_definition_names_exists)
{
    ASSERT_TRUE(open_log_file_at(LOG, "references"));
    char reason[256];
    ASSERT_TRUE(start_simulation(nullptr, DEMO, 1, reason, sizeof(reason))) << reason;
    tag_file_info every;
    tag_file_info_new(&every);
    const int32_t count = tag_file_enumerate(&every, nullptr, -1);
    ASSERT_GT(count, 0);
    std::vector<int32_t> indexes((size_t)count);
    ASSERT_EQ(tag_file_enumerate(&every, indexes.data(), count), count);
    std::set<std::string> groups_loaded; // the kinds of definition that name others among them
    for (const int32_t index : indexes)
    {
        tag_file_info info;
        definition_globals *group = tag_file_info_get(index, &info) ? get_definition_group(info.group_tag) : nullptr;
        if (group && definition_group_is_set_up(info.group_tag) &&
            try_definition_tag_to_index(group, info.subgroup_tag, true, 0) != NONE)
            groups_loaded.insert(tag_to_string(info.group_tag));
    }
    stop_simulation();
    close_log_file();
    for (const char *group : {"unit", "mons", "proj", "prgr", "obje", "core", "soun"})
        EXPECT_EQ(groups_loaded.count(group), 1u) << group;
    std::string listed;
    for (const std::string &line : missing_references(read_whole_file(LOG))) listed += "\n  " + line;
    EXPECT_EQ(listed, "") << "the demo data names tags it does not have";
}

} // namespace

} // namespace demo_references_test_file
