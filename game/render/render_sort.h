#pragma once
// The frame's surface list: every surface a builder makes joins it through
// add_surface_to_surface_list (screen test, sort key, append); after the scene
// is built, postprocess_scene sorts it by depth, relinks it from far to near
// and splits it into the surface categories the rasterizers walk.
//
// Surfaces, lists and category arrays live in the render pool and are valid
// until the next frame resets it.  Main thread only.

#include <cstdint>

#include "render/render_surfaces.h"

// The categories of the last processed scene, indexed by surface_category_index.
// Their sort offsets and masks are fixed; sorted, surfaces and count are
// rewritten by every postprocess_scene.
extern surface_category surface_categories[NUMBER_OF_SURFACE_CATEGORIES];

// An empty list: no surfaces, no key override.
void new_surface_list(render_surface_list *list);

// Adds a filled-in surface to the view's main surface list.  The surface is
// screen-tested first (clip_surface) unless it is a mesh triangle drawn by a
// hardware back end (rasterizer codes 4 and 5); a surface the test discards is
// not added.  Its key is then the list's override when there is one, else
// z << 14 (taken modulo 2^32) unless the builder set precise_z itself
// (_surface_precise_z_flag); it is appended at the tail.
void add_surface_to_surface_list(view_data *view, render_surface *surface);

// Which category a surface of a sorted frame belongs to.  May set the
// surface's transparent flag (a triangle whose bitmap has transparent pixels).
int32_t surface_category_of(render_surface *surface);

// Sorts the list by its keys (unsigned, stable: equal keys keep the order they
// were added in), relinks it so first_surface is the nearest and last_surface
// the farthest, and fills surface_categories, each from far to near.  An empty
// list empties every category.  Uses the render pool and render_temporary.
void postprocess_scene(view_data *view, render_surface_list *list);

// Sorts a category by its key ((word at sort_offset & mask) with mask 0 meaning
// the category's sort_mask), stable and ascending, at most once per frame.
// Categories without a key, with fewer than two surfaces or already sorted are
// left as they are.
void sort_surface_category(surface_category *category, uint32_t mask);

// Receives `count` consecutive surfaces of a category (at least one).
typedef void (*surface_chunk_procedure)(void *context, render_surface **surfaces, int32_t count);

// Hands the category's surfaces to `chunk` in runs of at most maximum_chunk
// (0 or less: unlimited).  With by_key, and when the category has a key, the
// category is sorted first and every run holds surfaces of one key (word at
// sort_offset & key_mask, or & sort_mask when key_mask is 0); otherwise runs
// follow storage order.  An empty category calls nothing.  The context is
// passed through unchanged.
void rasterize_surface_category(void *context, surface_category *category, int32_t maximum_chunk, bool by_key,
                                uint32_t key_mask, surface_chunk_procedure chunk);
