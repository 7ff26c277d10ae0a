#pragma once
// Models standing on the visible cells, each drawn once per frame.
//
// build_models_surface_list walks the visible cells and draws each model it
// finds there once, whatever number of cells it stands on; a model changing
// permutation is drawn twice, the new permutation with the model's
// transparency and the old one fading out with the cross-fade amount.
// render_model_permutation animates the materials of the model's geometry for
// the permutation and hands the geometry to render_geometry, and, for models
// that reflect, again for their reflection in the media.
//
// Main thread only.

#include <cstdint>

#include "world.h"

struct view_data;
struct mesh_region;

// Once per frame (unless the view omits models): every model on a cell of
// the region's rows [y0, y1), columns [x0, x1) of each row's span.
void build_models_surface_list(view_data *view, const mesh_region *region);

// Draws permutation `permutation` (taken modulo the definition's count) of the
// model.  It writes the run-time fields of the geometry's materials (the
// collection and colour table of the permutation, and the bitmap of the
// permutation's view of each material's sequence at this frame, NONE when the
// view byte is 255 or the bitmap is missing or not a power-of-two texture).
// A missing model, definition or geometry, or a definition with no
// permutations, is skipped with a log line.
void render_model_permutation(view_data *view, const mesh_region *region, int32_t model_index, int32_t permutation,
                              fixed_fraction transparency);

// The texels [*first, *last] of one row of a model's shadow whose centres lie
// in the triangle a, b, c (either winding, edges included), within [*first,
// *last] on entry: texel tx of the row has its centre at (x + 64 tx, y).  A
// centre lies in the triangle when its three edge values, (b - a) x (p - a)
// and so on round the corners, are all >= 0 or all <= 0.  False when no
// texel of the row is in.
bool model_shadow_row_texels(int64_t x, int64_t y, const world_point2d &a, const world_point2d &b,
                             const world_point2d &c, int32_t *first, int32_t *last);
