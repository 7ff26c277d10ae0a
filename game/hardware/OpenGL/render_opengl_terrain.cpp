#include "render_opengl_terrain.h"

void initialize_volatile_cmap_texture_opengl(void) {}
void dispose_volatile_cmap_texture_opengl(void) {}
void update_volatile_cmap_texture_opengl(mesh_region *) {}
void update_tile_texture_opengl(mesh_region *) {}
void rasterize_mesh_category(view_data *, int16_t) {}
