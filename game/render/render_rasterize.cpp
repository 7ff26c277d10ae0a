// The software rasterizer.
#include "render/render_rasterize.h"

rasterizer_globals_data rasterizer_globals;

const int16_t secondary_address_offset_table[NUMBER_OF_SECONDARY_ADDRESS_OFFSETS] = {
    -1, -512, -511, -512, -513, 0, 0, 1, -1, 0, 0, 513, 512, 511, 512, 1};

#define SKELETON(name) \
    void name(bitmap_data *, render_surface *) {}
#define SKELETONS(suffix) \
    SKELETON(rasterize_model_triangle_##suffix) SKELETON(rasterize_mesh_triangle_##suffix) \
    SKELETON(rasterize_triangle_##suffix) SKELETON(rasterize_rectangle_##suffix) \
    SKELETON(rasterize_filled_rectangle_##suffix)
SKELETONS(16bit_555)
SKELETONS(16bit_565)
SKELETONS(32bit)

const rasterization_procs procs_16bit_555 = {};
const rasterization_procs procs_16bit_565 = {};
const rasterization_procs procs_32bit = {};

const rasterization_procs *get_rasterization_procs(int16_t) { return nullptr; }
void rasterize_scene_software(view_data *, render_surface_list *) {}
void initialize_rasterizer(void) {}
bool initialize_rasterizer_for_new_map(void) { return true; }
void dispose_rasterizer_from_old_map(void) {}
