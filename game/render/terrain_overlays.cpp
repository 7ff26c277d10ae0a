// Terrain overlays, stains and the media coverage of the mesh.
#include "render/terrain_overlays.h"

#include "mesh.h"

void rasterize_volatile_shadow_map_overlay(uint8_t *destination, int32_t destination_width, int32_t mode,
                                           fixed_fraction density, const uint8_t *pixels, int32_t bytes_per_row,
                                           int32_t width, int32_t height, int32_t x0, int32_t y0)
{
    (void)destination, (void)destination_width, (void)mode, (void)density, (void)pixels, (void)bytes_per_row,
        (void)width, (void)height, (void)x0, (void)y0;
}
void rasterize_map_overlay_list(uint8_t *destination, int32_t destination_width, const render_map_overlay *list,
                                int32_t dx, int32_t dy)
{
    (void)destination, (void)destination_width, (void)list, (void)dx, (void)dy;
}
void rasterize_permanent_overlay(const permanent_overlay_data *overlay) { (void)overlay; }
void initialize_media_coverage_region(const uint16_t *values, int32_t size) { (void)values, (void)size; }
void dispose_media_coverage_region(void) {}
bool mesh_texture_pixel_is_media(int32_t x, int32_t y) { return (void)x, (void)y, false; }
void register_terrain_overlay_hooks(void) {}
void reset_terrain_overlays_for_tests(void) {}
