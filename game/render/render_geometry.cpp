// 3D geometry turned into model-triangle surfaces.
#include "render/render_geometry.h"

#include "geometry.h"
#include "render/render.h"

bool whole_model_transparent_hack_required = false;

void render_geometry(view_data *view, const mesh_region *region, int32_t model_index, geometry_definition *geometry,
                     const world_point3d *origin, const world_vector3d *up, const world_vector3d *rotation,
                     const world_vector3d *scale, bool reflection, fixed_fraction transparency)
{
    (void)view, (void)region, (void)model_index, (void)geometry, (void)origin, (void)up, (void)rotation, (void)scale,
        (void)reflection, (void)transparency;
}
