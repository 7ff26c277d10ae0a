// Formations: every type's slots stay inside the mesh wherever the order
// points, are the same for the same order, stand apart from one another in
// the open, and the slot assignment keeps units from crossing.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "formations.h"
#include "mesh.h"

namespace formations_test_file {

namespace {

class formations_test : public ::testing::Test
{
protected:
    int16_t saved_width = mesh_width, saved_height = mesh_height;
    void SetUp() override
    {
        mesh_width = 16;
        mesh_height = 16;
        initialize_formations();
        initialize_formations_for_new_map();
    }
    void TearDown() override
    {
        dispose_formations_from_old_map();
        mesh_width = saved_width;
        mesh_height = saved_height;
    }
};

} // namespace

TEST_F(formations_test, every_type_has_a_name_and_only_0_to_9_are_formations)
{
    std::set<std::string> names;
    for (int32_t type = 0; type < NUMBER_OF_FORMATION_TYPES; ++type)
    {
        EXPECT_TRUE(valid_formation_index(type));
        names.insert(get_formation_name(type));
    }
    EXPECT_EQ(names.size(), 10u);
    for (int32_t bad : {-1, 10, 32767}) EXPECT_FALSE(valid_formation_index(bad));
    EXPECT_STREQ(get_formation_name(10), "none");
}

TEST_F(formations_test, slots_of_every_type_lie_inside_the_mesh_and_repeat_exactly)
{
    const world_distance edge = 16 * WORLD_ONE - 1;
    const world_point2d destinations[] = {{0, 0}, {edge, edge}, {4000, 4000}, {edge, 0}};
    const angle facings[] = {0, 12345, QUARTER_CIRCLE, 0xFFFF};
    std::vector<world_point2d> slots(MAXIMUM_UNITS_PER_FORMATION), again(MAXIMUM_UNITS_PER_FORMATION);
    for (int32_t type = 0; type < NUMBER_OF_FORMATION_TYPES; ++type)
        for (const world_point2d &destination : destinations)
            for (angle facing : facings)
                for (int32_t count : {1, 2, 7, 30, 126})
                {
                    ASSERT_TRUE(build_formation_slots(type, count, &destination, facing, slots.data()));
                    ASSERT_TRUE(build_formation_slots(type, count, &destination, facing, again.data()));
                    for (int32_t k = 0; k < count; ++k)
                    {
                        ASSERT_TRUE(slots[k].x >= 0 && slots[k].x <= edge && slots[k].y >= 0 && slots[k].y <= edge)
                            << type << " " << count << " slot " << k;
                        ASSERT_EQ(slots[k].x, again[k].x);
                        ASSERT_EQ(slots[k].y, again[k].y);
                    }
                }
    EXPECT_FALSE(build_formation_slots(10, 3, &destinations[0], 0, slots.data()));
    EXPECT_FALSE(build_formation_slots(0, 0, &destinations[0], 0, slots.data()));
    EXPECT_FALSE(build_formation_slots(0, 127, &destinations[0], 0, slots.data()));
}

TEST_F(formations_test, in_the_open_no_two_slots_coincide_and_lines_stand_across_the_facing)
{
    const world_point2d centre = {4096, 4096};
    std::vector<world_point2d> slots(12);
    for (int32_t type = 0; type < NUMBER_OF_FORMATION_TYPES; ++type)
    {
        ASSERT_TRUE(build_formation_slots(type, 12, &centre, QUARTER_CIRCLE, slots.data()));
        std::set<std::pair<int32_t, int32_t>> distinct;
        for (const world_point2d &slot : slots) distinct.insert({slot.x, slot.y});
        EXPECT_EQ(distinct.size(), 12u) << get_formation_name(type);
    }
    // A long line facing north: one rank, all on the destination's y, 256 apart.
    ASSERT_TRUE(build_formation_slots(_formation_long_line, 3, &centre, QUARTER_CIRCLE, slots.data()));
    for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(slots[k].y, centre.y);
    EXPECT_EQ(slots[2].x - slots[1].x, -FORMATION_SPACING);
    // A vanguard's point is the destination.
    ASSERT_TRUE(build_formation_slots(_formation_vanguard, 5, &centre, 0, slots.data()));
    EXPECT_EQ(slots[0].x, centre.x);
    EXPECT_EQ(slots[0].y, centre.y);
}

TEST_F(formations_test, assignment_keeps_the_left_unit_on_the_left)
{
    // Three units in a row west to east, walking north into a long line.
    const world_point2d positions[3] = {{1000, 1000}, {1300, 1000}, {1600, 1000}};
    const world_point2d centre = {1300, 1000};
    const world_point2d destination = {1300, 5000};
    world_point2d slots[3];
    ASSERT_TRUE(build_formation_slots(_formation_long_line, 3, &destination, QUARTER_CIRCLE, slots));
    int16_t slot_of_unit[3] = {-1, -1, -1};
    assign_formation_slots(3, positions, &centre, slots, slot_of_unit);
    EXPECT_LT(slots[slot_of_unit[0]].x, slots[slot_of_unit[1]].x);
    EXPECT_LT(slots[slot_of_unit[1]].x, slots[slot_of_unit[2]].x);
}

} // namespace formations_test_file
