#pragma once
// 3D geometry turned into model-triangle surfaces.
//
// render_geometry places a geometry in the world (origin, forward, up and
// scale vectors), transforms each of its vertices to viewer space once, drops
// the surfaces that face away or lie wholly outside the visible region, and
// adds one model triangle per remaining surface to the view's surface list.
// Each surface's depth is its farthest corner (its nearest with the
// uses-closest-z flag), nudged by the geometry's dependency lists so that a
// surface another must be drawn after sorts behind it.  Models call it for
// their permutations; objects that carry geometry call it too.
//
// The module's tables hold one geometry during one call, so render_geometry
// is not reentrant.  Main thread only.

#include <cstdint>

#include "world.h"

struct view_data;
struct mesh_region;
struct geometry_definition;

enum
{
    // Depth nudges (world units) of surfaces under the terrain and of
    // closest-z surfaces with the geometry's bit 7.
    GEOMETRY_UNDER_MESH_DEPTH_ADJUSTMENT = 512,
    GEOMETRY_BIT7_DEPTH_ADJUSTMENT = 384,
};

// Set by a hardware back end that cannot draw a model partly transparent, so
// that one transparent surface makes the whole geometry transparent.  Always
// false in software.
extern bool whole_model_transparent_hack_required;

// Adds the geometry's visible surfaces to view->main_surface_list.
// `model_index` is recorded in each triangle (NONE for an object's geometry);
// `transparency` is the least transparency of every surface.  With
// `reflection` the geometry is mirrored in the media surface under each
// vertex and drawn in the reflection pass.  The materials' run-time fields
// (collection, colour table, bitmap) must already be set; surfaces whose
// material has colour table or bitmap NONE are not drawn.  A geometry whose
// counts exceed the tables, or with a corner, material or dependency index
// out of range, is skipped with a log line.
void render_geometry(view_data *view, const mesh_region *region, int32_t model_index, geometry_definition *geometry,
                     const world_point3d *origin, const world_vector3d *up, const world_vector3d *rotation,
                     const world_vector3d *scale, bool reflection, fixed_fraction transparency);
