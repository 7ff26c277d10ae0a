// The scene renderer's frame: the render memory pool, the view, the frame and
// its readers (picking), screenshots.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "cseries/registration.h"
#include "render/render.h"
#include "support/expected_assertions.h"

namespace {

int malloc_failures = 0;
void count_malloc_failure(void) { ++malloc_failures; }

class render_pool : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_render_for_tests();
        malloc_failures = 0;
        set_render_malloc_fail_procedure(count_malloc_failure);
    }
    void TearDown(void) override { reset_render_for_tests(); }
};

TEST_F(render_pool, allocations_are_aligned_and_bounded_and_the_scratch_never_meets_the_top)
{
    ASSERT_TRUE(reset_render_memory_pool_for_tests(1024));
    uint8_t *start = render_globals.render_memory_pool;
    void *a = render_malloc(1);
    void *b = render_malloc(17);
    void *c = render_malloc(0);
    EXPECT_EQ(a, start);
    EXPECT_EQ(b, start + 16);
    EXPECT_EQ(c, start + 48);
    for (void *p : {a, b, c}) EXPECT_EQ((uintptr_t)p % RENDER_MEMORY_ALIGNMENT, 0u);

    // The scratch is the last bytes of the pool, the same block every call,
    // and does not move the top.
    uint8_t *scratch = static_cast<uint8_t *>(render_temporary(100));
    EXPECT_EQ(scratch, render_globals.render_memory_pool_end - 112);
    EXPECT_EQ(render_temporary(100), scratch);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, start + 48);
    EXPECT_EQ(malloc_failures, 0);

    // 1024 - 48 bytes are left: the scratch may take all of them, one more is refused.
    EXPECT_NE(render_temporary(1024 - 48), nullptr);
    EXPECT_EQ(render_temporary(1024 - 48 + 1), nullptr);
    EXPECT_EQ(malloc_failures, 1);
    // The top may not reach the end.
    EXPECT_EQ(render_malloc(1024 - 48), nullptr);
    EXPECT_EQ(malloc_failures, 2);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, start + 48) << "a refused allocation takes nothing";
    EXPECT_EQ(render_malloc(SIZE_MAX), nullptr) << "a size that wraps when rounded";
    EXPECT_EQ(render_temporary(SIZE_MAX - 3), nullptr);
    EXPECT_EQ(malloc_failures, 4);
}

TEST_F(render_pool, a_tiny_pool_grows_for_the_cells_and_doubles_after_a_busy_frame)
{
    ASSERT_TRUE(reset_render_memory_pool_for_tests(4096));
    new_render_scene(0);
    EXPECT_EQ(render_globals.render_memory_pool_size, 1 << 20) << "doubled from 4096 past the reserve";
    const int32_t cells = 10000;
    const int64_t needed = (int64_t)cells * (int64_t)render_memory_per_cell() + RENDER_MEMORY_POOL_RESERVE;
    new_render_scene(cells);
    EXPECT_GE(render_globals.render_memory_pool_size, needed);
    EXPECT_LT(render_globals.render_memory_pool_size, 2 * needed);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, render_globals.render_memory_pool);
    const int32_t size = render_globals.render_memory_pool_size;

    // A frame that uses less than half keeps the size; more than half doubles it.
    ASSERT_NE(render_malloc((size_t)size / 2 - 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, size);
    ASSERT_NE(render_malloc((size_t)size / 2 + 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, 2 * size);
    // Scratch counts as use too.
    ASSERT_NE(render_temporary((size_t)size + 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, 4 * size);
    EXPECT_EQ(malloc_failures, 0);
}

TEST(rasterizer_codes, identifiers_and_codes_outside_the_table)
{
    EXPECT_EQ(rasterizer_code_to_id(0), 0x736F6674); // 'soft'
    EXPECT_EQ(rasterizer_code_to_id(1), 0x64336400);
    EXPECT_EQ(rasterizer_code_to_id(4), 0x6F676C00);
    EXPECT_EQ(rasterizer_code_to_id(5), 0x64783131);
    EXPECT_EQ(rasterizer_code_to_id(6), -1);
    EXPECT_EQ(rasterizer_code_to_id(-1), -1);
}

} // namespace
