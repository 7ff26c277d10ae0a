// The media coverage set-up and the media test on arbitrary coverage blocks
// (the mesh loader would refuse most of them; the renderer must still stay
// inside its rows).  The first two bytes pick the map's size, the rest are
// the block's 16-bit values in host order.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cseries/errors.h"
#include "fuzz_support.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "render/terrain_overlays.h"

static bool load_flat_map(int16_t width, int16_t height)
{
    mesh_builder_input input;
    memset(&input, 0, sizeof(input));
    std::vector<mesh_cell> cells((size_t)width * height);
    input.header.mesh_width = width;
    input.header.mesh_height = height;
    input.header.team_count = 1;
    input.header.reverb_environment = NONE;
    input.header.landscape_collection_tag = NONE;
    input.cells = cells.data();
    int32_t size = 0;
    uint8_t *data = build_mesh_tag_data(&input, &size);
    if (!data) return false;
    const bool loaded = load_mesh_from_memory(data, size);
    free(data);
    return loaded;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialize_mesh();
        initialized = true;
    }
    if (size < 2 || size > 64 * 1024) return 0;
    const int16_t width = (int16_t)(2 * (1 + data[0] % 8)), height = (int16_t)(2 * (1 + data[1] % 8));
    if ((mesh_width != width || mesh_height != height) && !load_flat_map(width, height)) return 0;

    // An exact-size copy, so that a read past the block is caught.
    const size_t block_size = size - 2;
    uint16_t *block = (uint16_t *)malloc(block_size ? block_size : 1);
    if (!block) return 0;
    if (block_size) memcpy(block, data + 2, block_size);
    dispose_media_coverage_region();
    initialize_media_coverage_region(block_size ? block : nullptr, (int32_t)block_size);
    free(block); // the region must keep nothing of it

    int32_t media = 0;
    for (int32_t y = -1; y <= height * 8; ++y)
        for (int32_t x = -1; x <= width * 8; ++x) media += mesh_texture_pixel_is_media(x, y);
    if (media > width * height * 64) abort();
    return 0;
}
