// Cost of what a pass of the map actions spends on the armies: rebuilding the
// spatial groups of 400 units (two teams, two types, in clusters), and the
// attack AI giving one team's units their targets.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "attack_ai.h"
#include "mesh.h"
#include "bench_mesh.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"

namespace {

constexpr int16_t SIZE = 128;

bool load_bench_world(void)
{
    std::vector<mesh_cell> cells((size_t)SIZE * SIZE, mesh_cell{0, 0, 0, NONE, NONE, 0});
    initialize_mesh();
    if (!load_bench_mesh_cells(cells, SIZE, 2) || !initialize_pathfinding() || !initialize_objects() || !initialize_monsters()) return false;
    initialize_objects_for_new_map();
    initialize_pathfinding_for_new_map();
    initialize_monsters_for_new_map();
    return initialize_spatial_groups() && initialize_attack_ai();
}

// 8 clusters of 50 units (alternating teams, two types mixed), each a few
// cells across, far from the others.
bool make_armies(void)
{
    monster_definition definition;
    default_monster_definition(&definition);
    const int32_t types[2] = {
        new_definition(&monster_definitions, FOUR_CHARACTER_CODE('b', 'e', 'n', '1'), &definition),
        new_definition(&monster_definitions, FOUR_CHARACTER_CODE('b', 'e', 'n', '2'), &definition)};
    if (types[0] == NONE || types[1] == NONE) return false;
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
    {
        const int32_t cluster = i / 50, k = i % 50;
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {(10 + (cluster % 4) * 28) * 512 + (k % 7) * 200,
                                     (20 + (cluster / 4) * 40) * 512 + (k / 7) * 200, 0};
        request.location.yaw = (angle)(k * 1000);
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        const int32_t monster_index = new_datum(get_monster_array());
        if (object_index == NONE || monster_index == NONE) return false;
        get_object(object_index)->owner_index = (int16_t)monster_index;
        monster_data *m = get_monster_data(monster_index);
        m->type = (int16_t)types[k % 2];
        m->object_index = (int16_t)object_index;
        m->owner_team_index = (int8_t)(cluster % 2);
        m->action = _monster_action_idle;
        m->path_index = m->target_monster_index = NONE;
    }
    return true;
}

void dispose_bench_world(void)
{
    dispose_monsters_from_old_map();
    dispose_objects_from_old_map();
    dispose_pathfinding_from_old_map();
    dispose_mesh_from_old_map();
}

void bench_build_spatial_groups_400(benchmark::State &state)
{
    if (!load_bench_world() || !make_armies())
    {
        state.SkipWithError("no world");
        return;
    }
    for (auto _ : state) build_spatial_groups();
    int32_t groups = 0, supergroups = 0;
    for (spatial_group *g = first_spatial_group(); g; g = g->next_group) ++groups;
    for (spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next) ++supergroups;
    state.counters["groups"] = groups;
    state.counters["supergroups"] = supergroups;
    dispose_bench_world();
}
BENCHMARK(bench_build_spatial_groups_400)->Unit(benchmark::kMicrosecond);

// One team's 200 units handed over and sent at the nearest enemy groups.
void bench_attack_ai_200(benchmark::State &state)
{
    if (!load_bench_world() || !make_armies())
    {
        state.SkipWithError("no world");
        return;
    }
    build_spatial_groups();
    for (auto _ : state)
    {
        for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
            get_monster_data(i)->flags &= ~(uint32_t)_monster_has_valid_target_flag;
        reset_attack_ai();
        attack_with_all_monster_indexes(0);
        update_attack_ai();
    }
    dispose_bench_world();
}
BENCHMARK(bench_attack_ai_200)->Unit(benchmark::kMicrosecond);

} // namespace
