#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <vector>

#include "world.h"

namespace world_test_file {

namespace {

world_point2d p2(int32_t x, int32_t y) { return world_point2d{x, y}; }

// Every value films depend on: the table and both cosine lookups at every
// entry's angle are the nearest integers to 16384 sin and 16384 cos (no entry
// lies near a half, so the rounding is unambiguous).
TEST(world_trig, lookups_are_the_rounded_sine_and_cosine_at_every_entry)
{
    EXPECT_EQ(sine_table[256], 16384);
    EXPECT_EQ(sine_table[768], -16384);
    for (int i = 0; i < NUMBER_OF_TRIG_ENTRIES; i++)
    {
        const double turn = 2.0 * M_PI * i / 1024.0;
        const angle a = (angle)(i << ANGLE_TO_TRIG_SHIFT);
        const int32_t cosine = (int32_t)std::lround(16384.0 * std::cos(turn));
        ASSERT_EQ(sine_table[i], std::lround(16384.0 * std::sin(turn))) << i;
        ASSERT_EQ(sine_truncated(a), sine_table[i]) << i;
        ASSERT_EQ(cosine_table[i], cosine) << i;
        ASSERT_EQ(cosine_truncated(a), cosine) << i;
        ASSERT_EQ(cosine_rounded(a), cosine) << i;
        ASSERT_EQ(cosine_truncated((angle)(a + 63)), cosine) << i;
        ASSERT_EQ(cosine_rounded((angle)(a - 32)), cosine) << i;
    }
}

TEST(world_trig, rounding_lookup_never_reads_past_the_table)
{
    const struct { angle a; int32_t index; } cases[] = {
        {0, 0}, {31, 0}, {32, 1}, {16383, 256}, {65503, 1023}, {65504, 0}, {65535, 0},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(trig_index_rounded(c.a), c.index) << c.a;
    }
    EXPECT_EQ(cosine_rounded(65535), 16384);
    EXPECT_EQ(sine_truncated(65535), sine_table[1023]);
}

TEST(world_trig, arctangent_of_axes_and_diagonals)
{
    const struct { int32_t dx, dy; angle expected; } cases[] = {
        {1, 0, 0}, {5, 5, 8192}, {0, 7, 16384}, {-3, 3, 24576}, {-9, 0, 32768}, {-2, -2, 40960},
        {0, -1, 49152}, {4, -4, 57344}, {0, 0, 0}, {INT32_MIN, 0, 32768}, {INT32_MAX, INT32_MAX, 8192},
        {INT32_MIN, INT32_MIN, 40960},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(arctangent(c.dx, c.dy), c.expected) << c.dx << "," << c.dy;
    }
}

TEST(world_trig, arctangent_inverts_the_tables_within_one_step)
{
    for (int32_t a = 0; a < NUMBER_OF_ANGLES; a += 37)
    {
        angle table_angle = (angle)(a & ~63);
        int32_t dx = cosine_truncated((angle)a) * 1000, dy = sine_truncated((angle)a) * 1000;
        ASSERT_LE(angular_difference(arctangent(dx, dy), table_angle), 64) << a;
    }
}

// The arctangent as every recorded film had it, a halving search over the
// first octant: the guessed start must land on the same entry for any ratio.
angle arctangent_by_halving(int64_t dx, int64_t dy)
{
    const auto f = [](int64_t lo, int64_t hi, int32_t i) { return lo * cosine_table[i] - hi * sine_table[i]; };
    const auto octant = [&f](int64_t lo, int64_t hi) {
        int32_t low = 0, high = NUMBER_OF_TRIG_ENTRIES / 8;
        if (f(lo, hi, high) >= 0) return (int32_t)EIGHTH_CIRCLE;
        while (high - low > 1) (f(lo, hi, (low + high) / 2) >= 0 ? low : high) = (low + high) / 2;
        const int64_t f0 = f(lo, hi, low), f1 = f(lo, hi, high);
        return (low << ANGLE_TO_TRIG_SHIFT) + (int32_t)((f0 << ANGLE_TO_TRIG_SHIFT) / (f0 - f1));
    };
    const int64_t ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
    int32_t a = ay <= ax ? octant(ay, ax) : QUARTER_CIRCLE - octant(ax, ay);
    if (dx < 0) a = HALF_CIRCLE - a;
    if (dy < 0) a = FULL_CIRCLE - a;
    return dx == 0 && dy == 0 ? 0 : (angle)a;
}

TEST(world_trig, arctangent_matches_the_halving_search_everywhere)
{
    std::vector<std::pair<int32_t, int32_t>> points; // every small step, then on and beside every entry's ratio
    for (int32_t dx = -70; dx <= 70; ++dx)
        for (int32_t dy = -70; dy <= 70; ++dy) points.push_back({dx, dy});
    for (int32_t i = 0; i < NUMBER_OF_TRIG_ENTRIES; ++i)
        for (int32_t scale : {1, 3, 1000, 131071})
            for (int32_t nudge = -2; nudge <= 2; ++nudge)
                points.push_back({cosine_table[i] * scale + nudge, sine_table[i] * scale});
    uint64_t seed = 12345; // then any magnitude up to the extremes
    for (int32_t n = 0; n < 200000; ++n)
    {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const int32_t shift = (int32_t)(seed >> 59), other_shift = (int32_t)((seed >> 54) & 31);
        points.push_back({(int32_t)(seed >> 32) >> shift, (int32_t)seed >> other_shift});
    }
    for (const auto &[dx, dy] : points) ASSERT_EQ(arctangent(dx, dy), arctangent_by_halving(dx, dy)) << dx << "," << dy;
}

TEST(world_trig, arcsine_steps_through_the_rising_quarter)
{
    const struct { int32_t value; angle expected; } cases[] = {
        {0, 0}, {16384, 16384}, {-16384, 49152}, {16385, 0}, {-16385, 0}, {INT32_MIN, 0},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(arcsine(c.value), c.expected) << c.value;
    }
    for (int32_t value = 0; value < 16384; ++value)
    {
        int32_t index = arcsine(value) >> 6;
        ASSERT_LE(sine_table[index], value);
        ASSERT_GT(sine_table[index + 1], value);
        ASSERT_EQ(arcsine(-value), (angle)-arcsine(value));
    }
    // Every value gives the entry a walk up the quarter stops at.
    for (int32_t value = 0; value <= 16384; ++value)
    {
        int32_t index = 0;
        while (index < 256 && sine_table[index + 1] <= value) ++index;
        ASSERT_EQ(arcsine(value), (angle)(index << 6)) << value;
    }
}

TEST(world_trig, angular_differences_fold_into_half_a_turn)
{
    const struct { angle a, b; int32_t unsigned_difference, signed_difference; } cases[] = {
        {0, 0, 0, 0}, {10, 65530, 16, 16}, {65530, 10, 16, -16}, {0, 32768, 32768, 32768},
        {32768, 0, 32768, 32768}, {0, 32769, 32767, 32767}, {32769, 0, 32767, -32767}, {100, 40000, 25636, 25636},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(angular_difference(c.a, c.b), c.unsigned_difference) << c.a << " " << c.b;
        // from b to a
        EXPECT_EQ(signed_angular_difference(c.b, c.a), c.signed_difference) << c.a << " " << c.b;
    }
}

TEST(world_roots, isqrt_is_the_floor_root)
{
    const uint32_t edges[] = {0, 1, 2, 3, 4, 65535, 65536, 65537, 4294836224u, 4294836225u, 4294967295u};
    std::vector<uint32_t> values(std::begin(edges), std::end(edges));
    for (uint32_t v = 0; v < 200000; v += 7) values.push_back(v);
    for (uint32_t v = 4294967295u; v > 4294000000u; v -= 99991) values.push_back(v);
    for (uint32_t v : values)
    {
        uint64_t r = (uint64_t)isqrt(v);
        ASSERT_LE(r * r, v) << v;
        ASSERT_GT((r + 1) * (r + 1), v) << v;
    }
    EXPECT_EQ(isqrt(4294967295u), 65535);
    EXPECT_EQ(isqrt64(UINT64_MAX), 4294967295ll);
    EXPECT_EQ(isqrt64((1ull << 62) - 1), (1ll << 31) - 1);
}

// The inline roots correct once below 2^52 and hand wider values on; the
// distances take them within 2^25 on each axis: round every square and on
// both sides of those edges, both agree with the wide ones.
TEST(world_roots, quick_roots_agree_with_the_wide_roots_at_their_edges)
{
    std::vector<uint64_t> values = {UINT64_MAX, (1ull << 52) - 1, 1ull << 52};
    for (uint64_t k : {0ull, 2ull, 46341ull, 65536ull, (1ull << 26) - 1, 1ull << 26, 94906266ull, 3037000499ull})
        for (uint64_t v = k * k - (k > 0); v <= k * k + 1; ++v) values.push_back(v);
    for (uint64_t v : values) ASSERT_EQ(isqrt64(v), isqrt64_wide(v)) << v;
    const int32_t e = 1 << 25;
    const int32_t pairs[][4] = {{0, 0, e - 1, e - 1}, {0, 0, e, 0},  {0, 0, 0, -e},  {0, 0, 1 - e, 3},
                                {INT32_MIN, 0, INT32_MIN + e - 1, 0}, {INT32_MAX, 5, INT32_MAX - e, 5}, {-1, -1, 94906265, 0}};
    for (const auto &p : pairs)
    {
        const world_point2d a = p2(p[0], p[1]), b = p2(p[2], p[3]);
        EXPECT_EQ(distance2d(&a, &b), distance2d_wide(&a, &b)) << p[0] << "," << p[1] << " " << p[2] << "," << p[3];
        EXPECT_EQ(distance2d(&b, &a), distance2d_wide(&a, &b)) << p[0] << "," << p[1] << " " << p[2] << "," << p[3];
    }
}

TEST(world_distances, distances_are_floor_roots_and_saturate)
{
    world_point2d a = p2(0, 0), b = p2(3, 4), far0 = p2(INT32_MIN, INT32_MIN), far1 = p2(INT32_MAX, INT32_MAX);
    EXPECT_EQ(distance2d(&a, &b), 5);
    EXPECT_EQ(distance2d(&far0, &far1), INT32_MAX);
    world_point2d c = p2(-2000000000, 0), d = p2(2000000000, 1);
    EXPECT_EQ(distance2d(&c, &d), INT32_MAX);
    world_point2d e = p2(-1000000000, 0), f = p2(1000000000, 0);
    EXPECT_EQ(distance2d(&e, &f), 2000000000);
    world_point3d g = {1, 2, 3}, h = {3, 5, 9};
    EXPECT_EQ(distance3d(&g, &h), 7);
    world_vector3d v = {-32768, -32768, -32768};
    EXPECT_EQ(world_magnitude3d(&v), 56755);
}

TEST(world_distances, range_predicates_at_their_boundaries)
{
    world_point2d origin = p2(1000, 1000);
    const struct { int32_t dx, dy, r; bool expected; } cases[] = {
        {0, 0, 0, false}, {0, 0, 1, true}, {1, 0, 1, false}, {1, 0, 2, true},
        {0, 32766, 32767, true}, {0, 32767, 32767, false}, {32767, 0, 32768, true},
        {100000, 0, 32768, true}, {0, -32767, 32000, false}, {3, 4, 6, true}, {3, 4, 5, false},
    };
    for (const auto &c : cases)
    {
        world_point2d other = p2(origin.x + c.dx, origin.y + c.dy);
        EXPECT_EQ(world_distance2d_less_than(&origin, &other, c.r), c.expected) << c.dx << "," << c.dy << " r " << c.r;
    }

    const struct { int32_t dx, dy, d; bool expected; } wraps[] = {
        {0, 0, 1, true}, {1, 0, 1, false}, {0, 0, 0, false}, {0, 0, -5, false}, {99999, 0, 65537, true},
        {65535, 0, 65536, true}, {65535, 1, 65536, true},
        {65536, 0, 2, true},   // 65536^2 wraps to 0 in 32 bits, as the callers expect
        {46341, 0, 46341, false}, {46340, 0, 46341, true},
    };
    for (const auto &c : wraps)
    {
        EXPECT_EQ(isqrt_distance2d_less_than(c.dx, c.dy, c.d), c.expected) << c.dx << "," << c.dy << " d " << c.d;
    }
}

TEST(world_geometry, closest_point_on_segment_at_ends_and_degenerate_segments)
{
    world_point2d a = p2(0, 0), b = p2(1024, 0);
    const struct { world_point2d p; world_point2d out; bool on; } cases[] = {
        {p2(0, 50), p2(0, 0), true},        // t = 0
        {p2(1024, -9), p2(1024, 0), true},  // t = 512
        {p2(512, 77), p2(512, 0), true},
        {p2(2000, 0), p2(1024, 0), false},  // beyond b
        {p2(-1, 0), p2(0, 0), true},        // t truncates to 0
        {p2(-5, 0), p2(0, 0), false},       // before a
    };
    for (const auto &c : cases)
    {
        world_point2d out = p2(-7, -7);
        EXPECT_EQ(closest_point_on_line_segment2d(&c.p, &a, &b, &out), c.on);
        EXPECT_EQ(out.x, c.out.x);
        EXPECT_EQ(out.y, c.out.y);
    }
    world_point2d short_end = p2(22, 0), p = p2(5, 5), out;
    EXPECT_FALSE(closest_point_on_line_segment2d(&p, &a, &short_end, &out));
    EXPECT_EQ(out.x, 22);
    EXPECT_FALSE(closest_point_on_line_segment2d(&p, &a, &a, &out));

    world_point2d beyond = p2(3000, 40), on_line, on_segment;
    EXPECT_FALSE(closest_point_on_line_segment_from_point(&beyond, &a, &b, &on_line, &on_segment));
    EXPECT_EQ(on_line.x, 3000);
    EXPECT_EQ(on_segment.x, 1024);
    world_point2d middle = p2(512, 3);
    EXPECT_TRUE(closest_point_on_line_segment_from_point(&middle, &a, &b, nullptr, nullptr));
    EXPECT_FALSE(closest_point_on_line_segment_from_point(&middle, &a, &a, &on_line, nullptr));
    EXPECT_EQ(on_line.x, 0);
}

TEST(world_geometry, closest_point_on_circle_with_zero_length_and_negative_radius)
{
    world_point2d centre = p2(100, 100), point = p2(103, 104), result;
    closest_point_on_circle2d(&centre, 10, &point, &result);
    EXPECT_EQ(result.x, 106);
    EXPECT_EQ(result.y, 108);
    closest_point_on_circle2d(&centre, -10, &point, &result);
    EXPECT_EQ(result.x, 94);
    EXPECT_EQ(result.y, 92);
    closest_point_on_circle2d(&centre, 10, &centre, &result);
    EXPECT_EQ(result.x, 100);
    EXPECT_EQ(result.y, 100);
    // L is the nearest integer: (1, 1) has length 1.41 -> 1, (1, 2) 2.24 -> 2.
    world_point2d diagonal = p2(101, 101), steep = p2(101, 102);
    closest_point_on_circle2d(&centre, 7, &diagonal, &result);
    EXPECT_EQ(result.x, 107);
    closest_point_on_circle2d(&centre, 8, &steep, &result);
    EXPECT_EQ(result.y, 108);
}

TEST(world_geometry, polygon_test_open_closed_and_far_apart_points)
{
    const world_point2d square[] = {p2(0, 0), p2(10, 0), p2(10, 10), p2(0, 10)};
    world_point2d inside = p2(5, 5), left_of_open_end = p2(-5, 5), on_edge = p2(10, 3);
    EXPECT_TRUE(point_in_polygon_test(&inside, square, 4, true));
    EXPECT_TRUE(point_in_polygon_test(&on_edge, square, 4, true));
    EXPECT_TRUE(point_in_polygon_test(&left_of_open_end, square, 3, false));
    EXPECT_FALSE(point_in_polygon_test(&left_of_open_end, square, 4, true));
    EXPECT_FALSE(point_in_polygon_test(&inside, square, 0, true));

    // 32-bit products of these differences would overflow.
    const world_point2d big[] = {p2(-3000000, -3000000), p2(3000000, -3000000), p2(3000000, 3000000),
                                 p2(-3000000, 3000000)};
    world_point2d centre = p2(0, 0), outside = p2(3100000, 0), near_corner = p2(2999000, 2999000);
    EXPECT_TRUE(point_in_polygon_test(&centre, big, 4, true));
    EXPECT_TRUE(point_in_polygon_test(&near_corner, big, 4, true));
    EXPECT_FALSE(point_in_polygon_test(&outside, big, 4, true));
}

TEST(world_geometry, clip_line_to_box_entry_points)
{
    const struct { world_point2d a, b; int32_t kind; world_point2d out; } cases[] = {
        {p2(-50, 50), p2(50, 50), _clip_vertical_edge, p2(0, 50)},
        {p2(150, 40), p2(50, 60), _clip_vertical_edge, p2(100, 50)},
        {p2(50, -50), p2(50, 50), _clip_horizontal_edge, p2(50, 0)},
        {p2(30, 150), p2(50, 50), _clip_horizontal_edge, p2(40, 100)},
        {p2(-50, 150), p2(150, -60), _clip_vertical_edge, p2(0, 98)},
        {p2(-10, -10), p2(10, 10), _clip_horizontal_edge, p2(0, 0)}, // a corner
        {p2(20, 20), p2(500, 500), _clip_start_inside, p2(20, 20)},
        {p2(-50, 50), p2(-10, 50), _clip_missed, p2(-1, -1)},         // stops short
        {p2(-50, -50), p2(-10, 150), _clip_missed, p2(-1, -1)},
        {p2(-50, 40), p2(40, -50), _clip_missed, p2(-1, -1)},         // passes the corner
        {p2(200, 50), p2(200, 50), _clip_missed, p2(-1, -1)},
    };
    for (const auto &c : cases)
    {
        world_point2d out = p2(-1, -1);
        EXPECT_EQ(clip_line_to_box(0, 100, 0, 100, &c.a, &c.b, &out), c.kind) << c.a.x << "," << c.a.y;
        EXPECT_EQ(out.x, c.out.x) << c.a.x << "," << c.a.y;
        EXPECT_EQ(out.y, c.out.y) << c.a.x << "," << c.a.y;
    }
}

struct dda_trace
{
    std::vector<world_point2d> cells;
    size_t stop_after;
};

int32_t record_cell(void *context, int32_t x, int32_t y)
{
    dda_trace *trace = (dda_trace *)context;
    trace->cells.push_back(p2(x, y));
    return trace->cells.size() == trace->stop_after ? 77 : 0;
}

TEST(world_geometry, dda_visits_both_ends_one_major_step_at_a_time)
{
    const int32_t segments[][4] = {{0, 0, 5, 2}, {5, 2, 0, 0}, {3, -4, -1, 9}, {7, 7, 7, 7}, {0, 0, -6, 6}};
    for (const auto &s : segments)
    {
        dda_trace trace = {{}, 0};
        EXPECT_EQ(DDA(s[0], s[1], s[2], s[3], &trace, record_cell), 0);
        int32_t major = std::max(std::abs(s[2] - s[0]), std::abs(s[3] - s[1]));
        ASSERT_EQ(trace.cells.size(), (size_t)major + 1);
        EXPECT_EQ(trace.cells.front().x, s[0]);
        EXPECT_EQ(trace.cells.front().y, s[1]);
        EXPECT_EQ(trace.cells.back().x, s[2]);
        EXPECT_EQ(trace.cells.back().y, s[3]);
        for (size_t i = 1; i < trace.cells.size(); i++)
        {
            EXPECT_LE(std::abs(trace.cells[i].x - trace.cells[i - 1].x), 1);
            EXPECT_LE(std::abs(trace.cells[i].y - trace.cells[i - 1].y), 1);
        }
    }
    dda_trace trace = {{}, 3};
    EXPECT_EQ(DDA(0, 0, 10, 0, &trace, record_cell), 77);
    EXPECT_EQ(trace.cells.size(), 3u);
}

TEST(world_vectors, vectors_and_rotations_follow_the_heading)
{
    world_vector3d v;
    build_world_vector3d(&v, 1000, 0, 0);
    EXPECT_EQ(v.i, 1000);
    EXPECT_EQ(v.j, 0);
    build_world_vector3d(&v, 1000, QUARTER_CIRCLE, 0);
    EXPECT_EQ(v.i, 0);
    EXPECT_EQ(v.j, 1000);
    build_world_vector3d(&v, 1000, 12345, QUARTER_CIRCLE);
    EXPECT_EQ(v.k, 1000);
    EXPECT_EQ(v.i, 0);

    world_point3d from = {10, 10, 10}, to = {13, 14, 10};
    line_segment_to_vector(&v, &from, &to, 500);
    EXPECT_EQ(v.i, 300);
    EXPECT_EQ(v.j, 400);
    line_segment_to_vector(&v, &from, &from, 500);
    EXPECT_EQ(v.i | v.j | v.k, 0);

    world_point2d point = p2(15, 5), origin = p2(5, 5);
    rotate_point2d(&point, &origin, QUARTER_CIRCLE);
    EXPECT_EQ(point.x, 5);
    EXPECT_EQ(point.y, 15);
    rotate_point2d(&point, &origin, HALF_CIRCLE);
    EXPECT_EQ(point.x, 5);
    EXPECT_EQ(point.y, -5);
}

TEST(world_matrices, viewer_and_geometry_spaces)
{
    rotation_matrix m;
    build_rotation_matrix(m, QUARTER_CIRCLE, 0); // looking along +y
    // Straight ahead is -z, the world's up is viewer up.
    EXPECT_EQ(m[2][1], -16384);
    EXPECT_EQ(m[1][2], 16384);
    EXPECT_EQ(m[0][0] * m[0][0] + m[0][1] * m[0][1] + m[0][2] * m[0][2], 16384 * 16384);

    world_vector3d forward = {0, 100, 0}, up = {0, 50, 300}, scale = {1024, 512, 512};
    geometry_matrix to_world, to_geometry;
    get_geometry_matrices(&forward, &up, &scale, &to_world, &to_geometry);
    world_point3d origin = {5000, 6000, 100}, centre = {10, 20, 30}, vertex = {110, 20, 30}, world, back;
    transform_geometry_point_to_world(&origin, &centre, &vertex, &to_world, &world);
    EXPECT_EQ(world.x, 5000); // geometry x runs along +y, doubled
    EXPECT_EQ(world.y, 6200);
    EXPECT_EQ(world.z, 100);
    transform_world_point_to_geometry(&origin, &centre, &world, &to_geometry, &back);
    EXPECT_EQ(back.x, vertex.x);
    EXPECT_EQ(back.y, vertex.y);
    EXPECT_EQ(back.z, vertex.z);

    world_vector3d degenerate = {0, 0, 0}, parallel = {0, 0, 9};
    get_geometry_matrices(&degenerate, &degenerate, &scale, &to_world, &to_geometry);
    EXPECT_EQ(to_world.m[0][0], 32768); // +x, scaled by 2
    get_geometry_matrices(&parallel, &parallel, &scale, &to_world, &to_geometry);
    EXPECT_EQ(to_world.m[2][0], 32768); // forward is +z; up falls back to +y
    EXPECT_EQ(to_world.m[1][2], 16384);

    world_vector3d normal = {0, 0, 16384};
    world_point3d above = {7, 7, 120}, on = {0, 0, 100}, below = {0, 0, 99};
    EXPECT_GT(point_in_plane_test(&normal, 100, &above), 0);
    EXPECT_EQ(point_in_plane_test(&normal, 100, &on), 0);
    EXPECT_LT(point_in_plane_test(&normal, 100, &below), 0);
}

TEST(world_fixed, products_and_quotients_keep_their_range)
{
    EXPECT_EQ(fixed_multiply(3 * FIXED_ONE, FIXED_ONE / 2), 3 * FIXED_ONE / 2);
    EXPECT_EQ(fixed_multiply(-FIXED_ONE, 30000 * FIXED_ONE), -30000 * FIXED_ONE);
    EXPECT_EQ(fixed_divide(FIXED_ONE, 4 * FIXED_ONE), FIXED_ONE / 4);
    EXPECT_EQ(fixed_divide(5, 0), INT32_MAX);
    EXPECT_EQ(fixed_divide(-5, 0), INT32_MIN);
    EXPECT_EQ(fixed_divide(0, 0), 0);
    EXPECT_EQ(fixed_divide(INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(fixed_to_integer(-1), -1);
    EXPECT_EQ(fixed_to_integer_round(FIXED_ONE_HALF), 1);
    EXPECT_EQ(wrap_add32(INT32_MAX, 1), INT32_MIN);
}

} // namespace

} // namespace world_test_file
