#pragma once
// One battlefield frame through OpenGL: the frame start, the surface
// categories in their fixed order with the depth buffer (or the whole list
// backwards without one), sprites standing upright in view space with a depth
// per corner, filled rectangles, model and object triangles.
//
// Main thread only; every call needs a started rasterizer (a map's start).

#include <cstdint>

struct render_surface;
struct render_surface_list;
struct view_data;

// Draws the frame of `list` into the back buffer (the screen swaps).
void rasterize_scene_opengl(view_data *view, render_surface_list *list);

// The distances at which the rays through the view heights `y_top` and
// `y_bottom` (given at distance `z`) meet the upright plane of an object at
// view height `obj_view_y` and distance `z`: the plane holds the view's x
// axis and the world's up direction.  A ray that meets the plane behind the
// viewer (or never) gives 0.  Pure.
void compute_vertical_rectangle_zs(const view_data *view, float *out_top, float *out_bottom, int32_t obj_view_y,
                                   int32_t y_top, int32_t y_bottom, int32_t z);

// A sprite (object rectangle): rows clipped to its clip rows, grown by half a
// source pixel, drawn as one quad (corners top left, bottom left, bottom
// right, top right) in the sprite mode with the current rectangle depth mode.
// Nothing without its texture, at zero width, or when its clip rows leave
// nothing.
void rasterize_opengl_rectangle(view_data *view, render_surface *surface);
// A filled rectangle in screen pixels (ortho), its depth where the
// perspective would put its distance.  Nothing when it is empty after clipping.
void rasterize_opengl_filled_rectangle(view_data *view, render_surface *surface);
// A sprite's shadow (render_shadow_rectangle): its run-length sprite laid
// into the record's parallelogram, foot edge from the bitmap's bottom row,
// mirrored by the surface's flags, darkening what lies under its opaque
// texels toward black by the surface's opacity; rows outside the clip rows
// are cut, and with a depth mode each edge lies on the level ground through
// the foot.  Nothing without a run-length texture or for a parallelogram
// without height.
void rasterize_opengl_shadow(view_data *view, render_surface *surface);

// Chunk procedures for rasterize_surface_category (render/render_sort.h).
// Model and object triangles of one texture in one draw; the caller has set
// the mode.  The context is the view.
void rasterize_model_texture_chunk(void *context, render_surface **surfaces, int32_t count);
// Sprites, filled rectangles, model and object triangles in the order given;
// other subtypes are skipped.  Consecutive sprites of one texture share a
// draw, which keeps their order.  The context is the view.
void rasterize_translucent(void *context, render_surface **surfaces, int32_t count);
// Triangles into the depth buffer only, in one draw.  The context points at a
// bool: true writes their true depth (the caller's mode), false flattens each
// to its sort distance.
void rasterize_depth_chunk(void *positions_only, render_surface **surfaces, int32_t count);

// The depth modes (render_opengl.h: depth_mode) the scene's passes set for
// the three kinds of object surface; they stay in force for 2D drawing until
// the next scene.
struct opengl_object_depth_modes
{
    int32_t rectangle, filled_rectangle, model_triangle;
};
opengl_object_depth_modes get_opengl_object_depth_modes(void);
void set_opengl_object_depth_modes(int32_t mode);

// Scenes drawn since the program started, and whether one is being drawn now.
uint32_t opengl_scene_frame_index(void);
bool opengl_rasterizing_scene(void);
