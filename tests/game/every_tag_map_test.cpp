// The every-tag test map through the headless harness: its script triggers
// every action procedure of the table that exists at the gameplay version,
// for 3000 ticks at 1.3, 1.6, 1.7.2 and 1.8, without a fault under the
// sanitizers; the same seed gives the same state hashes and the same script
// trace twice.  The coverage of the tags is printed per version.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_actions/action_procs.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace every_tag_map_test_file {

namespace {

const tag EVERY_TAG = FOUR_CHARACTER_CODE('e', 'v', 'e', 'r');
constexpr int32_t TICKS = 3000;
constexpr char TRACE_LOG[] = "every_tag_log.txt";

struct run_result
{
    std::vector<uint32_t> hashes;
    std::string script_trace;            // the lines the map actions wrote
    std::set<std::string> triggered;     // tags whose procedure the engine triggered
};

class every_tag_map_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "every_tag.map", "ever", tags);
    }
    void TearDown() override
    {
        stop_simulation();
        set_simulation_gameplay_version(NONE);
        vesk_sim_fixture::TearDown();
    }

    run_result run(int32_t version, uint32_t seed)
    {
        run_result result;
        std::remove(TRACE_LOG);
        EXPECT_TRUE(open_log_file_at(TRACE_LOG, "every tag"));
        EXPECT_TRUE(set_simulation_gameplay_version(version));
        char reason[256];
        const bool started = start_simulation(nullptr, EVERY_TAG, seed, reason, sizeof(reason));
        EXPECT_TRUE(started) << reason;
        if (started)
        {
            const simulation_pacing pacing = {1, NORMAL_GAME_SPEED_INDEX, 0};
            result.hashes.assign(TICKS, 0);
            EXPECT_TRUE(run_simulation(TICKS, nullptr, 0, &pacing, result.hashes.data()));
        }
        stop_simulation();
        close_log_file();

        // The engine's trigger of a due action, and the row it could not find.
        const std::regex trigger(" MA \\[(....)\\] every tag (....)  trigger$");
        const std::regex unknown(" MA \\[(....)\\] .*couldn't locate action tag");
        std::set<std::string> missing;
        std::istringstream lines(read_whole_file(TRACE_LOG));
        for (std::string line; std::getline(lines, line);)
        {
            if (line.find(" MA [") == std::string::npos) continue;
            result.script_trace += line + "\n";
            std::smatch match;
            if (std::regex_search(line, match, trigger)) result.triggered.insert(match[1]);
            if (std::regex_search(line, match, unknown)) missing.insert(match[1]);
        }
        for (const std::string &name : missing) result.triggered.erase(name);
        return result;
    }
};

// The rows of the table that exist at `version`.
std::set<std::string> rows_at(int32_t version)
{
    int32_t count = 0;
    const registered_map_action_proc *rows = get_registered_map_action_procs(&count);
    std::set<std::string> names;
    for (int32_t i = 0; i < count; i++)
        if (version > rows[i].implemented_after_gameplay_version) names.insert(tag_to_string(rows[i].tag));
    return names;
}

TEST_F(every_tag_map_test, every_row_of_the_table_is_triggered_at_each_version_and_two_runs_agree)
{
    int32_t table_size = 0;
    get_registered_map_action_procs(&table_size);
    ASSERT_EQ(table_size, 62);
    std::set<std::string> covered;
    for (const int32_t version : {1300, 1600, 1720, 1800})
    {
        const run_result result = run(version, 11);
        const std::set<std::string> expected = rows_at(version);
        std::string not_triggered;
        for (const std::string &name : expected)
            if (result.triggered.count(name))
                covered.insert(name);
            else
                not_triggered += " " + name;
        std::printf("gameplay version %d: %zu of %zu tags triggered%s%s\n", (int)version,
                    expected.size() - (not_triggered.size() / 5), expected.size(),
                    not_triggered.empty() ? "" : "; not triggered:", not_triggered.c_str());
        EXPECT_TRUE(not_triggered.empty()) << "at " << version << ":" << not_triggered;
        ASSERT_EQ(result.hashes.size(), (size_t)TICKS);

        if (version == 1800)
        {
            const run_result again = run(version, 11);
            EXPECT_EQ(again.hashes, result.hashes);
            EXPECT_EQ(again.script_trace, result.script_trace);
        }
    }
    std::string tags;
    for (const std::string &name : covered) tags += " " + name;
    std::printf("every tag map: %zu of %d tags triggered:%s\n", covered.size(), (int)table_size, tags.c_str());
    EXPECT_EQ(covered.size(), (size_t)table_size);
}

} // namespace

} // namespace every_tag_map_test_file
