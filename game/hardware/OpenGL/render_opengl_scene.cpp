#include "render_opengl_scene.h"

void rasterize_scene_opengl(view_data *, render_surface_list *) {}
