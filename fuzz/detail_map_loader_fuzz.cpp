// The detail map and detail texture loaders on arbitrary bytes taken as
// stored tag data: the first byte chooses 'dmap' (even) or 'dtex' (odd).
// Sizes, offsets, runs, indexes and byte counts that do not fit must be
// refused, never read past; what a detail map unpacks is compacted and
// turned into layer words as the game does.

#include <cstdint>
#include <cstdlib>

#include "cseries/errors.h"
#include "detail_maps.h"
#include "detail_textures.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialized = true;
    }
    if (size < 1 || size > (1u << 20)) return 0;
    const char *reason = nullptr;
    if ((data[0] & 1) == 0)
    {
        unpacked_detail_map map;
        if (!unpack_detail_map_data(data + 1, (uint32_t)(size - 1), &map, &reason)) return 0;
        // Keep the run fast: the layer words of a huge map add nothing new.
        if ((int64_t)map.width * map.height <= 512 * 512)
        {
            const int32_t cells = map.width * map.height;
            postprocess_detail_map(map.entries, map.v_indices, cells, map.t_indices, cells * 2);
            mesh_cell_detail_info *layers = (mesh_cell_detail_info *)calloc((size_t)cells, sizeof(*layers));
            if (layers) build_detail_map_layer_info(map.v_indices, map.t_indices, map.width, map.height, layers);
            free(layers);
        }
        free_unpacked_detail_map(&map);
    }
    else
    {
        uint8_t *pixels;
        int32_t width, height;
        if (unpack_detail_texture_data(data + 1, (uint32_t)(size - 1), &pixels, &width, &height, &reason))
            free(pixels);
    }
    return 0;
}
