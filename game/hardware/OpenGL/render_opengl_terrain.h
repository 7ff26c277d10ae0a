#pragma once
// The terrain through OpenGL: the colour-map texture the scene renderer
// fills with lit, shadowed terrain colours (a page of 128 x 128 tiles, or an
// 8 x 8 grid of 64 x 64 chunks in the global maps mode), brought up to date
// only where the renderer reports changes, and the media and mesh categories
// drawn from it with their detail layers (shaders, or the fixed-function
// two-unit multipass).
//
// Main thread only; called by the scene draw between a map's start and end.

#include <cstdint>

struct mesh_region;
struct view_data;

// Chooses the colour map's format, size and texture coordinate scale and
// makes its texture (map start).
void initialize_volatile_cmap_texture_opengl(void);
// Forgets the colour map's texture (map end).
void dispose_volatile_cmap_texture_opengl(void);

// Global maps mode: rebuilds and uploads the chunks the region lists.
void update_volatile_cmap_texture_opengl(mesh_region *region);
// Normal maps mode: rebuilds and uploads the region's dirty tiles.
void update_tile_texture_opengl(mesh_region *region);

// Draws the media (0) or mesh (1) surface category of the current frame.
void rasterize_mesh_category(view_data *view, int16_t category);
