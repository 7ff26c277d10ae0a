// Cost of one projectiles tick with the array full: 1024 projectiles in
// flight over a flat mesh, each animated and moved once.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectiles.h"
#include "tag_files/definitions.h"

// A fresh flat 64 x 64 mesh (its cell chains empty), and the object and
// projectile modules, started once.
static void load_flat_mesh(bool first)
{
    std::vector<mesh_cell> cells(64 * 64);
    for (auto &cell : cells)
        cell = {0, 0, 0, NONE, NONE, 0};
    mesh_builder_input input;
    memset(&input, 0, sizeof(input));
    input.header.mesh_width = 64;
    input.header.mesh_height = 64;
    input.header.team_count = 1;
    input.header.reverb_environment = NONE;
    input.cells = cells.data();
    int32_t size = 0;
    uint8_t *data = build_mesh_tag_data(&input, &size);
    if (first)
        initialize_mesh();
    else
        dispose_mesh_from_old_map();
    if (!data || !load_mesh_from_memory(data, size) ||
        (first && (!initialize_object_definitions() || !initialize_objects() || !initialize_projectiles())))
    {
        fprintf(stderr, "projectiles_bench: the world cannot be made\n");
        exit(1);
    }
    free(data);
}

// The world emptied for a run, with one projectile definition that flies
// level for ever (no gravity, no lifespan); returns its type.
static int16_t start_projectile_world(void)
{
    static bool started = false;
    load_flat_mesh(!started);
    started = true;
    initialize_definitions_for_new_map(&object_definitions);
    initialize_objects_for_new_map();
    initialize_projectiles_for_new_map();
    object_definition object;
    memset(&object, 0, sizeof(object));
    for (auto &modifier : object.effect_modifiers)
        modifier = SHORT_FIXED_ONE;
    object.scale_lower_bound = SHORT_FIXED_ONE;
    object.height = 64;
    const int16_t object_type =
        (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('b', 'n', 'c', 'h'), &object);
    projectile_definition definition;
    default_projectile_definition(&definition);
    definition.object_type = object_type;
    definition.sequence_indexes[_projectile_sequence_in_flight] = 0;
    current_gameplay_version = 1900;
    return (int16_t)new_definition(get_projectile_definition_group(), FOUR_CHARACTER_CODE('b', 'n', 'c', 'h'),
                                   &definition);
}

static void bench_update_projectiles_full_array(benchmark::State &state)
{
    const int16_t type = start_projectile_world();
    for (int32_t i = 0; i < MAXIMUM_PROJECTILES_PER_MAP; ++i)
    {
        new_projectile_data request;
        memset(&request, 0, sizeof(request));
        request.type = type;
        request.location.position = {(world_distance)(512 + (i % 32) * 1000), (world_distance)(512 + (i / 32) * 1000),
                                     1000};
        request.location.velocity = {(int16_t)((i & 1) ? 1 : -1), (int16_t)((i & 2) ? 1 : -1), 0};
        request.damage_scale = SHORT_FIXED_ONE;
        request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
        request.target_monster_index = NONE;
        if (new_projectile(&request) == NONE)
        {
            state.SkipWithError("the projectile array filled early");
            return;
        }
    }
    for (auto _ : state)
    {
        update_projectiles();
        ++game_->game_time;
    }
    if (get_projectile_count() != MAXIMUM_PROJECTILES_PER_MAP) state.SkipWithError("projectiles were lost");
    state.SetItemsProcessed(state.iterations() * MAXIMUM_PROJECTILES_PER_MAP);
}
BENCHMARK(bench_update_projectiles_full_array)->Unit(benchmark::kMicrosecond);
