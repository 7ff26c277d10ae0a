#pragma once
// A mesh of the benchmarks' own cells, built by the tools' mesh builder.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mesh.h"
#include "mesh_builder.h"

// Loads a `size` x `size` mesh of `cells` (row by row) for `team_count`
// teams, without reverb; false when it does not build or load.  The mesh
// module is started (initialize_mesh) by the caller when it needs it.
inline bool load_bench_mesh_cells(const std::vector<mesh_cell> &cells, int16_t size, int16_t team_count)
{
    mesh_builder_input input = {};
    input.header.mesh_width = input.header.mesh_height = size;
    input.header.team_count = team_count;
    input.header.reverb_environment = NONE;
    input.cells = cells.data();
    int32_t bytes = 0;
    uint8_t *data = build_mesh_tag_data(&input, &bytes);
    const bool loaded = data && load_mesh_from_memory(data, bytes);
    free(data);
    return loaded;
}
