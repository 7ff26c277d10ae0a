#pragma once
// The terrain maps the tests build in memory: a header with the few fields
// every map needs, laid out by the data tools' own mesh builder and loaded
// as the current mesh, so that tests read the real format.

#include <cstdint>
#include <vector>

#include "mesh_format.h"

// A map of `width` x `height` cells with one team and no reverb; every other
// field zero.  Set what a test needs before building.
mesh_header test_mesh_header(int16_t width, int16_t height);

// The 'mesh' tag data of `header` over `cells` (width x height, row by row,
// host order), or over flat dry cells when `cells` is empty.  Empty when the
// builder refuses the sizes.
std::vector<uint8_t> test_mesh_bytes(const mesh_header &header, const std::vector<mesh_cell> &cells = {});

// Loads test_mesh_bytes(header, cells) as the current mesh (the mesh module
// started by the caller).  False when the builder or the loader refuses it.
bool load_test_mesh(const mesh_header &header, const std::vector<mesh_cell> &cells = {});
