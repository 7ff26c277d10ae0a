// The visible mesh region: the convex hull it is built from, and the region's
// properties for many cameras over a flat and a hilly map loaded through the
// mesh module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "render/mesh_region.h"

namespace {

// ---- convex hull ------------------------------------------------------------------

typedef std::pair<int32_t, int32_t> point_key;

int64_t cross(const world_point2d &o, const world_point2d &a, const world_point2d &b)
{
    return (int64_t)(a.x - o.x) * (b.y - o.y) - (int64_t)(a.y - o.y) * (b.x - o.x);
}

// The hull's corners by brute force: p -> q is a clockwise hull edge when no
// point lies to its left and every point on its line lies between p and q.
// Empty when all points lie on one line.
std::set<point_key> brute_force_hull(const std::vector<world_point2d> &points)
{
    std::set<point_key> corners;
    for (const world_point2d &p : points)
    {
        for (const world_point2d &q : points)
        {
            if (p.x == q.x && p.y == q.y) continue;
            bool edge = true;
            for (const world_point2d &r : points)
            {
                const int64_t side = cross(p, q, r);
                if (side > 0) edge = false;
                if (side == 0 && (std::min(p.x, q.x) > r.x || r.x > std::max(p.x, q.x) || std::min(p.y, q.y) > r.y ||
                                  r.y > std::max(p.y, q.y)))
                    edge = false;
                if (!edge) break;
            }
            if (edge)
            {
                corners.insert({p.x, p.y});
                corners.insert({q.x, q.y});
            }
        }
    }
    // All on one line: no two distinct points, or every point on the line of the first two.
    bool one_line = true;
    for (const world_point2d &b : points)
    {
        if (b.x == points[0].x && b.y == points[0].y) continue;
        for (const world_point2d &r : points)
            if (cross(points[0], b, r) != 0) one_line = false;
        break;
    }
    if (one_line) corners.clear();
    return corners;
}

void expect_hull_matches_brute_force(std::vector<world_point2d> points, const char *what)
{
    const std::set<point_key> expected = brute_force_hull(points);
    std::multiset<point_key> before;
    for (const world_point2d &p : points) before.insert({p.x, p.y});

    const int32_t n = convex_hull(points.data(), (int32_t)points.size());

    std::multiset<point_key> after;
    for (const world_point2d &p : points) after.insert({p.x, p.y});
    EXPECT_EQ(before, after) << what << ": the points are only rearranged";
    ASSERT_EQ((size_t)n, expected.size()) << what;
    if (n == 0) return;

    std::set<point_key> got;
    for (int32_t i = 0; i < n; i++) got.insert({points[i].x, points[i].y});
    EXPECT_EQ(got, expected) << what;
    // Starts at the lowest (then leftmost) point and turns strictly clockwise.
    for (int32_t i = 1; i < n; i++)
        EXPECT_TRUE(points[0].y < points[i].y || (points[0].y == points[i].y && points[0].x < points[i].x)) << what;
    for (int32_t i = 0; i < n; i++)
        EXPECT_LT(cross(points[i], points[(i + 1) % n], points[(i + 2) % n]), 0) << what << " at corner " << i;
}

TEST(mesh_region_hull, convex_hull_agrees_with_a_brute_force_hull)
{
    std::mt19937 random(2604);
    for (int32_t trial = 0; trial < 400; trial++)
    {
        const int32_t count = 3 + (int32_t)(random() % 22);
        const int32_t range = trial % 3 == 0 ? 4 : (trial % 3 == 1 ? 40 : 1 << 27);
        std::vector<world_point2d> points;
        for (int32_t i = 0; i < count; i++)
        {
            if (i > 0 && random() % 4 == 0) points.push_back(points[random() % points.size()]); // a repeat
            else points.push_back({(int32_t)(random() % (2 * range + 1)) - range, (int32_t)(random() % (2 * range + 1)) - range});
        }
        expect_hull_matches_brute_force(points, "random");
    }
}

TEST(mesh_region_hull, degenerate_point_sets)
{
    struct
    {
        const char *what;
        std::vector<world_point2d> points;
    } cases[] = {
        {"too few", {{0, 0}, {5, 1}}},
        {"one line through the pivot", {{0, 0}, {3, 3}, {1, 1}, {7, 7}, {2, 2}}},
        {"one horizontal line", {{4, 0}, {1, 0}, {9, 0}, {1, 0}}},
        {"one vertical line", {{2, 9}, {2, 1}, {2, 5}}},
        {"one point repeated", {{6, 6}, {6, 6}, {6, 6}, {6, 6}}},
        {"the pivot repeated", {{0, 0}, {0, 0}, {4, 0}, {0, 4}, {0, 0}}},
        {"collinear on the edges", {{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}, {2, 2}}},
        {"collinear with the pivot inside", {{0, 0}, {5, 5}, {10, 10}, {10, 0}, {0, 10}}},
        {"a triangle with repeats", {{1, 1}, {9, 2}, {1, 1}, {4, 8}, {9, 2}, {4, 8}}},
        {"ties for the pivot", {{3, -2}, {-1, -2}, {5, 4}, {-1, -2}, {0, 6}}},
        {"five squares, as the frustum gives",
         {{-1536, -1536}, {1536, -1536}, {1536, 1536}, {-1536, 1536}, {98464, 50000}, {101536, 50000},
          {101536, 53072}, {98464, 53072}}},
    };
    for (auto &c : cases) expect_hull_matches_brute_force(c.points, c.what);
}

} // namespace
