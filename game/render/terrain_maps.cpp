// The terrain's colour and shadow maps: the volatile maps and the tile cache.
#include "render/terrain_maps.h"

#include <cstdlib>
#include <cstring>

terrain_maps_globals_data terrain_maps_globals;

void initialize_tile_cache_for_new_map(int32_t flag) { (void)flag; }
void dispose_tile_cache_from_old_map(void) {}
void prepare_tile_cache(mesh_region *region) { (void)region; }
void cache_tiles_for_region(mesh_region *region, bool flush) { (void)region, (void)flush; }
void build_mesh_tile_texture(const mesh_tile *tile, void *destination, int32_t destination_stride, int32_t texture_mode)
{
    (void)tile, (void)destination, (void)destination_stride, (void)texture_mode;
}
void update_maps(view_data *view) { (void)view; }
void build_volatile_chunk_texture(void *destination, int32_t destination_x, int32_t destination_y,
                                  int32_t destination_width, int32_t source_x, int32_t source_y, int32_t texture_mode)
{
    (void)destination, (void)destination_x, (void)destination_y, (void)destination_width, (void)source_x,
        (void)source_y, (void)texture_mode;
}
void initialize_cmap_shading_tables_for_new_map(void) {}
void dispose_cmap_shading_tables_from_old_map(void) {}
void reset_terrain_maps_for_tests(void) {}
