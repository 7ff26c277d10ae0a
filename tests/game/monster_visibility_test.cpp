// The local player's fog of war: each visibility type's footprint, clipped at
// every edge of meshes whose width is or is not a multiple of 16, the swap of
// the front and back buffers, cells revealed for good, the one accessor, the
// centre of the visible area and the object test the renderer asks.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"
#include "support/test_mesh.h"

#include <climits>
#include <cstring>
#include <vector>

#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_visibility.h"
#include "objects.h"

namespace monster_visibility_test_file {

namespace {

bool load_flat_mesh(int16_t width, int16_t height)
{
    initialize_mesh();
    return load_test_mesh(test_mesh_header(width, height));
}

// The disc of the design: cells whose offset satisfies dx² + dy² <= r² + r.
bool in_disc(int32_t radius, int32_t dx, int32_t dy)
{
    return radius >= 0 && (int64_t)dx * dx + (int64_t)dy * dy <= (int64_t)radius * radius + radius;
}

class monster_visibility_test : public ::testing::Test
{
protected:
    uint32_t saved_options = game_->option_flags;

    void SetUp() override { ASSERT_TRUE(initialize_monster_visibility()); }
    void TearDown() override
    {
        dispose_monster_visibility_from_old_map();
        dispose_mesh_from_old_map();
        game_->option_flags = saved_options;
    }
    void start_map(int16_t width, int16_t height)
    {
        ASSERT_TRUE(load_flat_mesh(width, height));
        ASSERT_TRUE(initialize_monster_visibility_for_new_map());
    }
    uint32_t front(int32_t x, int32_t y) { return get_cell_visibility(visibility_front_buffer(), x, y); }
    uint32_t permanent(int32_t x, int32_t y) { return get_cell_visibility(visibility_permanent_buffer(), x, y); }

    // Every cell of the front buffer is visible exactly where `expected` says,
    // and no bit beyond the last column of a row is ever set.
    template <typename F>
    void expect_front(const char *what, F expected)
    {
        for (int32_t y = 0; y < mesh_height; ++y)
            for (int32_t x = 0; x < mesh_width; ++x)
                ASSERT_EQ(visibility_is_visible(front(x, y)), expected(x, y))
                    << what << " cell (" << x << ", " << y << ") of " << mesh_width << " x " << mesh_height;
        expect_padding_clear(visibility_front_buffer());
        expect_padding_clear(visibility_permanent_buffer());
    }
    void expect_padding_clear(const uint32_t *buffer)
    {
        const int32_t words = visibility_buffer_row_words();
        ASSERT_EQ(words, (mesh_width + 15) / 16);
        if (mesh_width % 16 == 0) return;
        const uint32_t used = (1u << (2 * (mesh_width % 16))) - 1u;
        for (int32_t y = 0; y < mesh_height; ++y)
            ASSERT_EQ(buffer[(size_t)y * words + words - 1] & ~used, 0u) << "row " << y;
    }
};

TEST_F(monster_visibility_test, each_type_sees_a_round_disc_of_its_radius_and_only_after_the_swap)
{
    start_map(64, 64);
    const struct
    {
        int32_t type, radius, cells;
    } types[] = {
        {_visibility_type_none, -1, 0},
        {_visibility_type_submerged, 2, 21},
        {_visibility_type_short, 4, 69},
        {_visibility_type_normal, 8, 225},
        {_visibility_type_long, 12, 489},
        {_visibility_type_far, 16, 861},
    };
    for (const auto &t : types)
    {
        ASSERT_TRUE(initialize_monster_visibility_for_new_map());
        EXPECT_EQ(get_visibility_radius(t.type), t.radius);
        rasterize_visibility_bitmap(t.type, 30, 33, false);
        expect_front("before the swap", [](int32_t, int32_t) { return false; });
        swap_visibility_buffers();
        int32_t count = 0;
        expect_front("footprint", [&](int32_t x, int32_t y) {
            const bool seen = in_disc(t.radius, x - 30, y - 33);
            count += seen;
            return seen;
        });
        EXPECT_EQ(count, t.cells) << "type " << t.type;
        if (t.radius >= 0)
        {
            // Reaching exactly r along the axes, not r + 1.
            EXPECT_TRUE(visibility_is_visible(front(30 + t.radius, 33)));
            EXPECT_FALSE(visibility_is_visible(front(30 + t.radius + 1, 33)));
            EXPECT_TRUE(visibility_is_visible(front(30, 33 - t.radius)));
            EXPECT_FALSE(visibility_is_visible(front(30, 33 - t.radius - 1)));
            EXPECT_EQ(permanent(30, 33), (uint32_t)_cell_visible_flag);
        }
    }
}

TEST_F(monster_visibility_test, footprints_are_clipped_at_every_edge_whatever_the_width)
{
    const struct
    {
        int16_t width, height;
    } meshes[] = {{2, 2}, {16, 6}, {18, 10}, {30, 4}, {34, 34}, {48, 20}};
    for (const auto &mesh : meshes)
    {
        start_map(mesh.width, mesh.height);
        const int32_t w = mesh.width, h = mesh.height;
        const struct
        {
            int32_t x, y;
        } places[] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h - 1}, {w - 1, h / 2},
                      {15, 1}, {16, 1}, {-3, 1}, {w + 2, h - 2}, {w + 8, h + 8}, {-17, -17}};
        for (const auto &p : places)
            for (int32_t type : {(int32_t)_visibility_type_submerged, (int32_t)_visibility_type_normal})
            {
                ASSERT_TRUE(initialize_monster_visibility_for_new_map());
                rasterize_visibility_bitmap(type, p.x, p.y, false);
                swap_visibility_buffers();
                const int32_t radius = get_visibility_radius(type);
                expect_front("clipped", [&](int32_t x, int32_t y) { return in_disc(radius, x - p.x, y - p.y); });
            }
        dispose_monster_visibility_from_old_map();
    }
}

TEST_F(monster_visibility_test, the_front_buffer_holds_one_period_and_revealed_cells_stay)
{
    start_map(18, 18);
    rasterize_visibility_bitmap(_visibility_type_short, 2, 2, false);
    rasterize_visibility_bitmap(_visibility_type_submerged, 15, 15, true);
    swap_visibility_buffers();
    EXPECT_EQ(front(2, 2), (uint32_t)_cell_visible_flag);
    EXPECT_EQ(front(15, 15), (uint32_t)(_cell_visible_flag | _cell_revealed_for_good_flag));
    EXPECT_EQ(front(17, 15), (uint32_t)(_cell_visible_flag | _cell_revealed_for_good_flag));

    // A period in which nobody looks: only the cells revealed for good stay.
    for (int32_t period = 0; period < 3; ++period)
    {
        swap_visibility_buffers();
        expect_front("revealed only", [](int32_t x, int32_t y) { return in_disc(2, x - 15, y - 15); });
    }
    // Everything ever seen stays seen in the permanent buffer.
    EXPECT_EQ(permanent(2, 2), (uint32_t)_cell_visible_flag);
    EXPECT_EQ(permanent(6, 2), (uint32_t)_cell_visible_flag);
    EXPECT_EQ(permanent(7, 2), 0u);
    EXPECT_EQ(permanent(15, 15), (uint32_t)(_cell_visible_flag | _cell_revealed_for_good_flag));

    // Starting the picture over forgets all of it.
    ASSERT_TRUE(initialize_monster_visibility_for_new_map());
    swap_visibility_buffers();
    EXPECT_EQ(front(15, 15), 0u);
    EXPECT_EQ(permanent(15, 15), 0u);
}

TEST_F(monster_visibility_test, the_accessor_answers_zero_off_the_mesh_and_for_foreign_buffers)
{
    start_map(18, 6);
    for (int32_t y = 0; y < 6; ++y) rasterize_visibility_bitmap(_visibility_type_far, 9, y, true);
    swap_visibility_buffers();
    EXPECT_EQ(front(0, 0), 3u);
    EXPECT_EQ(front(17, 5), 3u);
    const struct
    {
        int32_t x, y;
    } outside[] = {{-1, 0}, {0, -1}, {18, 0}, {0, 6}, {18, 5}, {INT32_MIN, 0}, {0, INT32_MAX}, {INT32_MAX, INT32_MAX}};
    for (const auto &cell : outside)
    {
        EXPECT_EQ(front(cell.x, cell.y), 0u) << cell.x << ", " << cell.y;
        EXPECT_EQ(permanent(cell.x, cell.y), 0u) << cell.x << ", " << cell.y;
    }
    const uint32_t words[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_EQ(get_cell_visibility(words, 0, 0), 0u);
    EXPECT_EQ(get_cell_visibility(nullptr, 0, 0), 0u);
    EXPECT_FALSE(visibility_is_visible(_cell_revealed_for_good_flag));
    EXPECT_TRUE(visibility_is_visible(_cell_visible_flag));
}

TEST_F(monster_visibility_test, bad_types_and_far_cells_write_nothing)
{
    start_map(18, 18);
    {
        // Logged, not asserted: a definition may carry any value.
        expected_assertions none(0);
        for (int32_t type : {-1, (int32_t)NUMBER_OF_VISIBILITY_TYPES, 1000, INT32_MIN, INT32_MAX})
        {
            rasterize_visibility_bitmap(type, 9, 9, true);
            EXPECT_EQ(get_visibility_radius(type), -1);
        }
        rasterize_visibility_bitmap(_visibility_type_far, INT32_MAX, INT32_MAX, true);
        rasterize_visibility_bitmap(_visibility_type_far, INT32_MIN, 9, true);
        rasterize_visibility_bitmap(_visibility_type_far, 9, 18 + 16 + 1, true);
    }
    swap_visibility_buffers();
    expect_front("nothing", [](int32_t, int32_t) { return false; });
}

TEST_F(monster_visibility_test, without_buffers_every_service_is_safe)
{
    // Before any map, and after one ended.
    for (int32_t round = 0; round < 2; ++round)
    {
        rasterize_visibility_bitmap(_visibility_type_normal, 1, 1, true);
        swap_visibility_buffers();
        EXPECT_EQ(visibility_front_buffer(), nullptr);
        EXPECT_EQ(visibility_permanent_buffer(), nullptr);
        EXPECT_EQ(visibility_buffer_row_words(), 0);
        EXPECT_EQ(get_cell_visibility(visibility_front_buffer(), 1, 1), 0u);
        world_point2d center = {5, 5};
        get_center_of_visibility_buffer(&center);
        EXPECT_EQ(center.x, 0);
        EXPECT_EQ(center.y, 0);
        start_map(4, 4);
        dispose_monster_visibility_from_old_map();
    }
    dispose_mesh_from_old_map();
    EXPECT_FALSE(initialize_monster_visibility_for_new_map());
    EXPECT_EQ(visibility_front_buffer(), nullptr);
}

TEST_F(monster_visibility_test, the_center_follows_the_visible_area_and_stays_when_nothing_is_seen)
{
    start_map(40, 30);
    world_point2d center;
    get_center_of_visibility_buffer(&center);
    EXPECT_EQ(center.x, 20);
    EXPECT_EQ(center.y, 15);

    rasterize_visibility_bitmap(_visibility_type_submerged, 0, 0, false); // cells 0..2
    rasterize_visibility_bitmap(_visibility_type_submerged, 37, 20, false); // x 35..39, y 18..22
    swap_visibility_buffers();
    get_center_of_visibility_buffer(&center);
    EXPECT_EQ(center.x, (0 + 39) / 2);
    EXPECT_EQ(center.y, (0 + 22) / 2);

    swap_visibility_buffers(); // nobody looked
    get_center_of_visibility_buffer(&center);
    EXPECT_EQ(center.x, 19);
    EXPECT_EQ(center.y, 11);

    rasterize_visibility_bitmap(_visibility_type_submerged, 17, 29, false); // x 15..19 (one word each side of 16)
    swap_visibility_buffers();
    get_center_of_visibility_buffer(&center);
    EXPECT_EQ(center.x, 17);
    EXPECT_EQ(center.y, (27 + 29) / 2);
}

TEST_F(monster_visibility_test, objects_are_drawn_by_their_cell_and_whether_they_respect_visibility)
{
    start_map(8, 8);
    object_data unit, tree;
    memset(&unit, 0, sizeof(unit));
    memset(&tree, 0, sizeof(tree));
    unit.flags = _object_respects_monster_visibility_flag;
    const struct
    {
        bool limited;
        const object_data *object;
        uint32_t cell;
        bool drawn, fully;
    } rows[] = {
        {false, &unit, 0, true, true},
        {false, &tree, 0, true, true},
        {true, &unit, _cell_visible_flag, true, true},
        {true, &unit, 3, true, true},
        {true, &unit, _cell_revealed_for_good_flag, false, false},
        {true, &unit, 0, false, false},
        {true, &tree, 0, true, false},
        {true, &tree, _cell_visible_flag, true, true},
        {true, nullptr, _cell_visible_flag, false, false},
        {false, nullptr, _cell_visible_flag, false, false},
    };
    for (const auto &row : rows)
    {
        game_->option_flags = row.limited ? (uint32_t)_game_option_limited_visibility_flag : 0u;
        bool fully = !row.fully;
        EXPECT_EQ(get_local_object_visibility_lowlevel(row.object, row.cell, &fully), row.drawn)
            << row.limited << " " << (row.object == &unit) << " " << row.cell;
        EXPECT_EQ(fully, row.fully);
        EXPECT_EQ(get_local_object_visibility_lowlevel(row.object, row.cell, nullptr), row.drawn);
    }
    // No map: nothing to hide behind.
    dispose_monster_visibility_from_old_map();
    game_->option_flags = _game_option_limited_visibility_flag;
    EXPECT_TRUE(get_local_object_visibility_lowlevel(&unit, 0, nullptr));
}

TEST_F(monster_visibility_test, the_buffers_are_made_and_freed_by_their_own_map_step)
{
    reset_game_hooks();
    register_monster_visibility_hooks();
    ASSERT_NE(get_startup_procedure(_startup_visibility_buffers), nullptr);
    ASSERT_NE(get_map_initialize_procedure(_map_visibility_buffers), nullptr);
    ASSERT_TRUE(load_flat_mesh(20, 2));
    EXPECT_TRUE(get_startup_procedure(_startup_visibility_buffers)());
    EXPECT_TRUE(get_map_initialize_procedure(_map_visibility_buffers)(nullptr));
    EXPECT_EQ(visibility_buffer_row_words(), 2);
    get_map_dispose_procedure(_map_visibility_buffers)();
    EXPECT_EQ(visibility_front_buffer(), nullptr);
    reset_game_hooks();
}

} // namespace

} // namespace monster_visibility_test_file
