#pragma once
// One battlefield frame through OpenGL: the frame start, the surface
// categories in their fixed order with the depth buffer (or the whole list
// backwards without one), sprites standing upright in view space with a depth
// per corner, filled rectangles, model and object triangles.
//
// Main thread only.

struct render_surface_list;
struct view_data;

// Draws the frame of `list` into the back buffer (the screen swaps).
void rasterize_scene_opengl(view_data *view, render_surface_list *list);
