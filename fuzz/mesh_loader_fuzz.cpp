// The mesh loader on arbitrary bytes: whatever it accepts must answer every
// query without reading outside the map, on and off it.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "fuzz_support.h"
#include "mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialize_mesh();
        initialized = true;
    }
    if (size > 4 * MEG) return 0;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;
    if (load_mesh_from_memory(copy, (int32_t)size))
    {
        const int32_t right = mesh_width * WORLD_ONE, bottom = mesh_height * WORLD_ONE;
        const world_point2d points[] = {{0, 0}, {right - 1, bottom - 1}, {right, 5}, {-1, -1}, {right / 2, bottom / 2}};
        int64_t sum = 0;
        for (const world_point2d &p : points)
        {
            for (int32_t type = 0; type < 3; type++) sum += get_mesh_height(&p, type);
            sum += get_mesh_terrain_type(&p);
        }
        int32_t count = 0, bytes = 0;
        const mesh_marker *markers = get_mesh_markers(&count);
        for (int32_t i = 0; i < count; i++) sum += markers[i].position.x;
        const uint16_t *coverage = get_media_coverage_region(&bytes);
        for (int32_t i = 0; i < bytes / 2; i++) sum += coverage[i];
        const uint16_t *words = get_mesh_LOD_data();
        sum += words[get_mesh_LOD_word_index(mesh_width - 1, mesh_height - 1)];
        if (sum == 1234567) abort(); // keeps the reads
        dispose_mesh_from_old_map();
    }
    free(copy);
    return 0;
}
