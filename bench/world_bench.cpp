// Cost of the world helpers that sit on every unit's path each tick.

#include <benchmark/benchmark.h>

#include <vector>

#include "world.h"

static std::vector<world_point2d> scattered_points(size_t count)
{
    std::vector<world_point2d> points(count);
    uint32_t seed = 12345;
    for (world_point2d &p : points)
    {
        seed = seed * 1664525u + 1013904223u;
        p.x = (int32_t)(seed >> 8) % (256 * WORLD_ONE);
        seed = seed * 1664525u + 1013904223u;
        p.y = (int32_t)(seed >> 8) % (256 * WORLD_ONE);
    }
    return points;
}

static void bench_distance2d(benchmark::State &state)
{
    std::vector<world_point2d> points = scattered_points(1024);
    for (auto _ : state)
    {
        int64_t sum = 0;
        for (size_t i = 1; i < points.size(); i++) sum += distance2d(&points[i - 1], &points[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 1023);
}
BENCHMARK(bench_distance2d);

static void bench_world_distance2d_less_than(benchmark::State &state)
{
    std::vector<world_point2d> points = scattered_points(1024);
    for (auto _ : state)
    {
        int32_t hits = 0;
        for (size_t i = 1; i < points.size(); i++) hits += world_distance2d_less_than(&points[i - 1], &points[i], 20000);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * 1023);
}
BENCHMARK(bench_world_distance2d_less_than);

static void bench_arctangent(benchmark::State &state)
{
    std::vector<world_point2d> points = scattered_points(1024);
    for (auto _ : state)
    {
        uint32_t sum = 0;
        for (size_t i = 1; i < points.size(); i++)
            sum += arctangent(points[i].x - points[i - 1].x, points[i].y - points[i - 1].y);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 1023);
}
BENCHMARK(bench_arctangent);

static void bench_closest_point_on_line_segment2d(benchmark::State &state)
{
    std::vector<world_point2d> points = scattered_points(1026);
    for (auto _ : state)
    {
        int64_t sum = 0;
        for (size_t i = 2; i < points.size(); i++)
        {
            world_point2d out;
            closest_point_on_line_segment2d(&points[i], &points[i - 2], &points[i - 1], &out);
            sum += out.x;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(bench_closest_point_on_line_segment2d);
