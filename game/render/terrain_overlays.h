#pragma once
// Terrain overlays, stains and the media coverage of the mesh.
//
// Three services on the terrain's 8-bit maps at texel level (8 texels per
// cell, 64 world units per texel):
// - the overlay rasterizer stamps a shadow, light or animated-shadow overlay
//   into an 8-bit shadow buffer with sub-texel placement;
// - stains (permanent overlays) are painted once, for good, into the
//   landscape's own colour and shadow maps, never onto media;
// - the media coverage region says, per texel row of the mesh, where media
//   covers the terrain.  mesh_texture_pixel_is_media is the program's one
//   media test: movement, unit heights and sound read it, so it is part of
//   the deterministic simulation (integer only, no screen needed).
//
// Main thread only.

#include <cstdint>

#include "world.h"

struct permanent_overlay_data;

enum
{
    FRACTIONAL_PIXEL_BITS = 6,
    PIXEL_ONE = 63, // the weight of a whole texel
    MINIMUM_SHADOW_MAP_INTENSITY = 64, // a shadow never darkens a texel below this
    MAXIMUM_SHADOW_MAP_INTENSITY = 255,
    MAXIMUM_OVERLAY_DESTINATION_WIDTH = 512,
};

enum map_overlay_mode
{
    _overlay_shadow_map = 0,
    _overlay_light_map = 1,
    _overlay_animated_shadow_map = 2,
};

struct render_map_overlay
{
    int32_t x0, y0; // world position of the top-left texel; the low 6 bits are the sub-texel fraction
    uint8_t *pixels; // intensities, one byte per texel
    int16_t width, height; // texels
    int16_t bytes_per_row;
    fixed_fraction density; // 65535 = full
    char mode; // map_overlay_mode
    render_map_overlay *next_map_overlay;
};

// Stamps one overlay into the destination_width x destination_width buffer
// `destination`; x0 and y0 are texels with 6 fractional bits relative to the
// buffer's top-left texel.  Shadow and light overlays spread each texel over
// the 2 x 2 texels it covers: a light adds (at most 255), a shadow darkens
// (never below 64, never lightening).  Animated shadows take the smaller of
// destination and source at the integer position.  Nothing is drawn for an
// empty overlay, one wholly outside the buffer, an unknown mode, or a
// destination width above 512 (asserted).
void rasterize_volatile_shadow_map_overlay(uint8_t *destination, int32_t destination_width, int32_t mode,
                                           fixed_fraction density, const uint8_t *pixels, int32_t bytes_per_row,
                                           int32_t width, int32_t height, int32_t x0, int32_t y0);

// Stamps every overlay of `list` into the buffer with its origin moved by
// (dx, dy) world units.
void rasterize_map_overlay_list(uint8_t *destination, int32_t destination_width, const render_map_overlay *list,
                                int32_t dx, int32_t dy);

// Paints one stain (the frame and view `index` picks) into the submesh colour
// and shadow maps it covers, skipping texels under media; two local_random
// draws choose the mirroring.  Stops on missing data, and when the colour or
// shadow bitmap is not flat 8-bit or their sizes differ.
void rasterize_permanent_overlay(const permanent_overlay_data *overlay);

// The map's media coverage: for each texel row of the mesh, strictly
// increasing x values where coverage toggles (starting outside media),
// ending with the first value >= W = mesh_width * 8.  `values` (host order,
// `size` bytes) stays owned by the mesh; size 0 means no media anywhere.  A
// row that runs past the block ends there (logged), and every row is made to
// end with a value >= W.  Also fetches the landscape's shading and blend
// tables for the volatile maps.
void initialize_media_coverage_region(const uint16_t *values, int32_t size);
// Frees the row table and any region made here; clears the two tables.
void dispose_media_coverage_region(void);

// Whether media covers mesh texel (x, y): the media spans of a row with
// values b0, b1, ... are (b0, b1], (b2, b3], ...  False off the mesh or
// without a coverage region.
bool mesh_texture_pixel_is_media(int32_t x, int32_t y);

// Installs the stain and media coverage procedures into the mesh.
void register_terrain_overlay_hooks(void);

// Forgets the coverage region (tests).
void reset_terrain_overlays_for_tests(void);
