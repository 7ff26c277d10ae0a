// Cost of pathfinding and unit movement: new_path on an open and on a
// cluttered 128-cell window, and one tick of monster_moving for 400 walking
// units.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "mesh.h"
#include "bench_mesh.h"
#include "monster_definitions.h"
#include "monster_movement.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"

namespace {

constexpr int16_t SIZE = 160;
constexpr uint16_t WALL_MASK = 1u << 1;

// A SIZE x SIZE mesh; `clutter` percent of the cells are walls (fixed seed).
bool load_bench_mesh(int32_t clutter)
{
    std::vector<mesh_cell> cells((size_t)SIZE * SIZE);
    uint32_t seed = 99;
    for (mesh_cell &cell : cells)
    {
        seed = seed * 1664525u + 1013904223u;
        const bool wall = (int32_t)((seed >> 16) % 100) < clutter;
        cell = {(uint16_t)(wall ? 0x11 : 0), 0, 0, NONE, NONE, 0};
    }
    initialize_mesh();
    if (!load_bench_mesh_cells(cells, SIZE, 1)) return false;
    // Keep the start and destination cells open.
    get_mesh_cell(20, 80)->flags = get_mesh_cell(140, 80)->flags = 0;
    return initialize_pathfinding() && initialize_objects() && (initialize_objects_for_new_map(), true) &&
           (initialize_pathfinding_for_new_map(), true);
}

void bench_new_path(benchmark::State &state)
{
    if (!load_bench_mesh((int32_t)state.range(0)))
    {
        state.SkipWithError("no mesh");
        return;
    }
    int32_t nodes = 0;
    for (auto _ : state)
    {
        path_variables variables;
        memset(&variables, 0, sizeof(variables));
        variables.terrain_impassability_flags = WALL_MASK;
        variables.owner_object_index = NONE;
        variables.p0 = {20 * 512 + 256, 80 * 512 + 256};
        variables.p1 = {140 * 512 + 256, 80 * 512 + 256};
        int16_t path_index = (int16_t)new_path(NONE, &variables);
        nodes = get_path_node_count();
        delete_path(&path_index);
    }
    state.counters["nodes"] = nodes;
    dispose_objects_from_old_map();
    dispose_pathfinding_from_old_map();
    dispose_mesh_from_old_map();
}
BENCHMARK(bench_new_path)->Arg(0)->Arg(25)->Unit(benchmark::kMicrosecond);

// 400 units walking east across an open mesh, each far from the others.
void bench_monster_moving_400(benchmark::State &state)
{
    if (!load_bench_mesh(0) || !initialize_monsters())
    {
        state.SkipWithError("no world");
        return;
    }
    initialize_monsters_for_new_map();
    monster_definition definition;
    default_monster_definition(&definition);
    definition.flags = _monster_translates_continuously_flag;
    definition.turning_speed = 2000;
    definition.terrain_impassability_flags = WALL_MASK;
    for (uint8_t &modifier : definition.movement_modifiers) modifier = 255;
    const int32_t type = new_definition(&monster_definitions, FOUR_CHARACTER_CODE('b', 'e', 'n', 'c'), &definition);
    std::vector<int32_t> units;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP && type != NONE; ++i)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {(4 + (i % 20) * 7) * 512, (4 + (i / 20) * 7) * 512, 0};
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        const int32_t monster_index = new_datum(get_monster_array());
        if (object_index == NONE || monster_index == NONE) break;
        object_data *object = get_object(object_index);
        object->owner_index = (int16_t)monster_index;
        object->radius = 60;
        object->height1 = 100;
        object->flags |= _object_is_solid_flag;
        monster_data *m = get_monster_data(monster_index);
        m->type = (int16_t)type;
        m->object_index = (int16_t)object_index;
        m->action = _monster_action_moving;
        m->base_movement_speed = 20;
        m->terrain_impassability_flags = WALL_MASK;
        m->path_index = m->target_monster_index = NONE;
        units.push_back(monster_index);
    }
    if (units.size() != MAXIMUM_MONSTERS_PER_MAP)
    {
        state.SkipWithError("could not make 400 units");
        return;
    }
    int32_t tick = 0;
    for (auto _ : state)
    {
        // Turn around every 100 ticks so that nobody reaches the border.
        const int32_t direction = (tick++ / 100) % 2 ? -1 : 1;
        for (int32_t index : units)
        {
            monster_data *m = get_monster_data(index);
            const object_data *object = get_object(m->object_index);
            m->path_destination = {object->location.position.x + direction * 4000, object->location.position.y};
            m->path_segment_length = 30000;
            monster_moving(index);
        }
    }
    dispose_monsters_from_old_map();
    dispose_objects_from_old_map();
    dispose_pathfinding_from_old_map();
    dispose_mesh_from_old_map();
}
BENCHMARK(bench_monster_moving_400)->Unit(benchmark::kMicrosecond);

} // namespace
