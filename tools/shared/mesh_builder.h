#pragma once
// Writes the data of a 'mesh' tag from host-order pieces: the data tools
// build maps with it, tests build synthetic maps.  Not used by the game.

#include <cstdint>

#include "mesh_format.h"

struct mesh_builder_input
{
    mesh_header header; // sizes, flags, tags, names; block fields are ignored
    const mesh_cell *cells; // mesh_width x mesh_height, host order
    const mesh_marker_palette_entry *palette; // host order
    int32_t palette_count;
    const mesh_marker *markers; // host order
    int32_t marker_count;
    const void *map_actions; // the map-action block as stored (big-endian)
    int32_t map_action_count;
    int32_t map_action_size;
};

// Lays out header, cells, level-of-detail words, media coverage (computed
// from the cells' triangle media bits), map actions, palette and markers,
// converts them to big-endian and returns a malloc'd buffer and its size.
// Null when the sizes are not even and within 2..1024 or memory is short.
uint8_t *build_mesh_tag_data(const mesh_builder_input *input, int32_t *size);

// The coverage values of `cells` (host order) into `values` (may be null to
// count); returns the number of values.  A texel is covered when the triangle
// under its centre is media; texel column 0 can never be covered (a row's
// first value starts outside media).
int32_t build_media_coverage_region(const mesh_cell *cells, int32_t width, int32_t height, uint16_t *values);
