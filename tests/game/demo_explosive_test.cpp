// The demo map's explosive: set off as the map starts, its blast reaches the
// shed beside it, which loses vitality; what lies on the ground stays put, and
// the run is the same every time.  The unit types of both teams load with it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "determinism_harness.h"
#include "game_time.h"
#include "markers.h"
#include "mesh_format.h"
#include "objects.h"
#include "projectiles.h"
#include "support/demo_data.h"
#include "support/tag_file_builder.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

namespace demo_explosive_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const int16_t SHED = 104, EXPLOSIVE = 300, ARROW = 301;
const int32_t TICKS = 600;

class demo_explosive_test : public ::testing::Test
{
protected:
    std::string directory, previous;

    void SetUp() override
    {
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        ASSERT_TRUE(enter_demo_data_directory(tool, &directory, &previous));
    }
    void TearDown() override
    {
        stop_simulation();
        leave_demo_data_directory(directory, previous);
    }

    void start(void)
    {
        char reason[256];
        ASSERT_TRUE(start_simulation(nullptr, DEMO, 3, reason, sizeof(reason))) << reason;
    }
    std::vector<uint32_t> run(void)
    {
        const simulation_pacing pacing = {1, NORMAL_GAME_SPEED_INDEX, 0};
        std::vector<uint32_t> hashes((size_t)TICKS, 0);
        EXPECT_TRUE(run_simulation(TICKS, nullptr, 0, &pacing, hashes.data()));
        return hashes;
    }
    static const object_data *marker_object(int16_t type, int16_t identifier)
    {
        const marker_data *marker = get_marker_by_identifier(type, identifier);
        return marker ? get_object(marker->data_index) : nullptr;
    }
};

TEST_F(demo_explosive_test, the_explosive_damages_the_shed_and_the_run_repeats)
{
    start();
    const object_data *shed = marker_object(_marker_scenery, SHED);
    ASSERT_NE(shed, nullptr);
    const short_fixed full = shed->vitality;
    ASSERT_GT(full, 0); // the shed can be hurt
    ASSERT_NE(marker_object(_marker_projectile, EXPLOSIVE), nullptr);
    // The unit types of both teams came in with the map's preload list, each
    // with its monster, collection reference and collection: none refused.
    definition_globals *units = get_definition_group(UNIT_DEFINITION_GROUP_TAG);
    ASSERT_NE(units, nullptr);
    for (tag unit : {FOUR_CHARACTER_CODE('w', 'a', '0', '1'), FOUR_CHARACTER_CODE('w', 'a', '0', '2'),
                     FOUR_CHARACTER_CODE('a', 'r', '0', '1'), FOUR_CHARACTER_CODE('a', 'r', '0', '2')})
        EXPECT_NE(try_definition_tag_to_index(units, unit, false, 0), NONE);
    const object_data *arrow = marker_object(_marker_projectile, ARROW);
    ASSERT_NE(arrow, nullptr);
    const world_point3d arrow_at = arrow->location.position;

    const std::vector<uint32_t> first = run();
    shed = marker_object(_marker_scenery, SHED);
    if (shed) // hurt, or destroyed outright
    {
        EXPECT_LT(shed->vitality, full);
    }
    // The explosive is spent; the arrows lie where they were put.
    const marker_data *explosive = get_marker_by_identifier(_marker_projectile, EXPLOSIVE);
    ASSERT_NE(explosive, nullptr);
    const object_data *left = get_object(explosive->data_index);
    EXPECT_TRUE(!left || left->identifier != explosive->data_identifier);
    arrow = marker_object(_marker_projectile, ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(arrow->location.position.x, arrow_at.x);
    EXPECT_EQ(arrow->location.position.y, arrow_at.y);
    stop_simulation();

    start();
    EXPECT_EQ(run(), first);
}

} // namespace

} // namespace demo_explosive_test_file
