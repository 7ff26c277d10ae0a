// The tick time of a full battle: the demo map with the unit array full (400
// units, 200 a side, melee and missile mixed), both sides ordered to attack
// each other, arrows flying.  Each benchmark iteration is one tick; the
// counters give the median and the worst tick in milliseconds over the run
// (targets on one core: median 0.3 ms, worst 1 ms).  The demo data is read
// from the build's program directory (scripts/build_demo_data.sh); without it
// the benchmark fails, and so does the program (bench_main.cpp).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_life.h"
#include "monsters.h"
#include "projectiles.h"
#include "tag_files/data.h"

#ifndef VESK_DEMO_DATA_DIRECTORY
#define VESK_DEMO_DATA_DIRECTORY "."
#endif

namespace {

struct battle
{
    std::vector<int16_t> sides[2];
    bool ordered;
};

int32_t unit_count(void)
{
    int32_t count = 0;
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
        if (get_monster_data(index)) ++count;
    return count;
}

// Every unit of a side ordered at the other side's units, in commands of the
// largest size a command takes.
void order_the_attack(int32_t tick, void *context)
{
    battle *b = (battle *)context;
    if (b->ordered) return;
    b->ordered = true;
    queue_local_commands(game_->target_time, local_player_index);
    for (int16_t side = 0; side < 2; ++side)
    {
        std::vector<int16_t> &units = b->sides[side];
        const std::vector<int16_t> &enemies = b->sides[1 - side];
        for (size_t first = 0; first < units.size(); first += MAXIMUM_UNITS_PER_COMMAND)
        {
            const int32_t count = (int32_t)std::min<size_t>(MAXIMUM_UNITS_PER_COMMAND, units.size() - first);
            const size_t from = first % enemies.size();
            const int32_t target_count = (int32_t)std::min<size_t>(MAXIMUM_UNITS_PER_COMMAND, enemies.size() - from);
            const command_target_data data = {0, 0};
            handle_target_command(NONE, &data, count, &units[first], target_count, &enemies[from]);
            queue_outgoing_commands_as_player(tick, side);
        }
    }
}

// 200 units a side in a block of 20 x 10 on its half of the valley; every
// other column melee, the rest missile.  False when a unit cannot be made.
bool fill_the_unit_array(battle *b)
{
    static const tag kinds[2][2] = {{FOUR_CHARACTER_CODE('w', 'a', '0', '1'), FOUR_CHARACTER_CODE('a', 'r', '0', '1')},
                                    {FOUR_CHARACTER_CODE('w', 'a', '0', '2'), FOUR_CHARACTER_CODE('a', 'r', '0', '2')}};
    for (int16_t side = 0; side < 2; ++side)
        for (int32_t row = 0; row < 20; ++row)
            for (int32_t column = 0; column < 10; ++column)
            {
                if (unit_count() >= MAXIMUM_MONSTERS_PER_MAP) return true;
                world_location3d location = {};
                location.position.x = (world_distance)(side ? 11000 + column * 200 : 3200 + column * 200);
                location.position.y = (world_distance)(5600 + row * 180);
                const world_point2d where = {location.position.x, location.position.y};
                location.position.z = get_mesh_height(&where, _mesh_surface_height);
                location.yaw = side ? 0x8000 : 0;
                const int32_t unit = new_monster_at_location(kinds[side][column & 1], &location, side, 0, 0);
                if (unit == NONE) return false;
                b->sides[side].push_back((int16_t)unit);
            }
    return true;
}

void BM_full_battle_tick(benchmark::State &state)
{
    char reason[512];
    if (!start_simulation(VESK_DEMO_DATA_DIRECTORY, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 1, reason,
                          sizeof(reason)))
    {
        char text[768];
        snprintf(text, sizeof(text), "%s (build the demo data: scripts/build_demo_data.sh %s)", reason,
                 VESK_DEMO_DATA_DIRECTORY);
        state.SkipWithError(text);
        return;
    }
    // The map's own units come first: run one tick so they are placed.
    run_simulation(1, nullptr, 0, nullptr, nullptr);
    static battle b;
    b = battle();
    // The map's units join their sides.
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
        if (const monster_data *m = get_monster_data(index))
            if (m->owner_player_index == 0 || m->owner_player_index == 1)
                b.sides[m->owner_player_index].push_back((int16_t)index);
    if (!fill_the_unit_array(&b) || unit_count() != MAXIMUM_MONSTERS_PER_MAP)
    {
        stop_simulation();
        char text[128];
        snprintf(text, sizeof(text), "only %d units could be made", (int)unit_count());
        state.SkipWithError(text);
        return;
    }
    set_simulation_tick_procedure(order_the_attack, &b);

    std::vector<double> milliseconds;
    int64_t projectiles_seen = 0, most_projectiles = 0;
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        const bool ran = run_simulation(1, nullptr, 0, nullptr, nullptr);
        const auto end = std::chrono::steady_clock::now();
        if (!ran)
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        projectiles_seen += get_projectile_count();
        most_projectiles = std::max<int64_t>(most_projectiles, get_projectile_count());
    }
    const int32_t alive = unit_count();
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    if (milliseconds.empty()) return;
    std::vector<double> sorted = milliseconds;
    std::sort(sorted.begin(), sorted.end());
    state.counters["median_ms"] = sorted[sorted.size() / 2];
    state.counters["worst_ms"] = sorted.back();
    state.counters["worst_tick"] =
        (double)(std::max_element(milliseconds.begin(), milliseconds.end()) - milliseconds.begin() + 2);
    state.counters["projectiles_mean"] = (double)projectiles_seen / (double)milliseconds.size();
    state.counters["projectiles_most"] = (double)most_projectiles;
    state.counters["units_at_end"] = alive;
}

} // namespace

// A fixed length: the battle from the order to the first deaths and beyond.
BENCHMARK(BM_full_battle_tick)->Iterations(1800)->Unit(benchmark::kMicrosecond);
