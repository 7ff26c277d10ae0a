// The terrain's surfaces: level-of-detail triangles of the visible mesh.
#include "render/terrain_surfaces.h"

#include "detail_maps.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_sort.h"

const mesh_block_vertex small_edge_texture_indexes[4][4] = {
    {{1, 1}, {2, 0}, {1, 0}, {0, 0}},
    {{1, 1}, {2, 2}, {2, 1}, {2, 0}},
    {{1, 1}, {0, 2}, {1, 2}, {2, 2}},
    {{1, 1}, {0, 0}, {0, 1}, {0, 2}},
};

const mesh_block_vertex large_edge_texture_indexes[2][4] = {
    {{2, 2}, {2, 0}, {0, 0}, {0, 2}},
    {{2, 0}, {0, 0}, {0, 2}, {2, 2}},
};

int32_t mesh_block_triangle_pattern(uint16_t word, int32_t parity, bool full_fan,
                                    mesh_block_triangle triangles[MAXIMUM_TRIANGLES_PER_MESH_BLOCK])
{
    (void)word;
    (void)parity;
    (void)full_fan;
    (void)triangles;
    return 0;
}

void build_mesh_surface_list_from(view_data *view, mesh_region *region, const mesh_surface_source *source)
{
    (void)view;
    (void)region;
    (void)source;
}

void build_mesh_surface_list(view_data *view, mesh_region *region)
{
    (void)view;
    (void)region;
}
