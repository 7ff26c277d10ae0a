#pragma once
// The screen test of surfaces: before a surface joins the frame's list, its
// triangle corners are projected (each shared vertex once per frame) and
// classified against the four screen edges, and a triangle that cannot be
// seen is marked discarded.  Triangles are not cut: the rasterizers clip rows
// and columns themselves.  Main thread only.

#include "render/render_surfaces.h"

// Projects and classifies a triangle's corners that are not yet classified,
// then sets _surface_discarded_flag when all three lie beyond one screen edge,
// when a corner is behind the viewer or projects outside the 16-bit range, or
// when the triangle does not run clockwise on the screen (this includes zero
// area).  Rectangles, polygons and surfaces already discarded are left alone.
void clip_surface(const view_data *view, render_surface *surface);

// Projects and classifies one vertex unless it carries _vertex_clipped_flag:
// sets screen-transformed and clipped; discarded when it cannot be projected;
// otherwise its screen position (snapped to an edge by an "on" flag) and its
// "out" flags.
void clip_vertex(const view_data *view, render_vertex *vertex);
