#pragma once
// The local player's fog of war: which mesh cells the local player sees now
// and which it has ever seen.  Three buffers of the mesh's size hold 2 bits
// per cell, 16 cells per 32-bit word, cell x of a row in bits 2(x & 15) and
// 2(x & 15) + 1 of word x >> 4, rows of (mesh_width + 15) / 16 words:
//
// - the back buffer, into which the units' sight is rasterized during one
//   scan period;
// - the front buffer, the last complete picture (what readers see now);
// - the permanent buffer, everything ever rasterized on this map.
//
// A cell's pair: bit 1 (value 2) = visible (front: now; permanent: ever
// seen); bit 0 (value 1) = revealed for good by a permanent footprint (it
// stays visible for the rest of the map).  Readers never test the bits
// themselves: they fetch a pair with `get_cell_visibility` and ask
// `visibility_is_visible`.
//
// Everything here depends on who the local player is: it is local state, left
// out of the state hash, and simulation code never reads it.  Main thread
// only.

#include <cstdint>

#include "world.h"

struct object_data;

// Visibility types: the `visibility_type` of a monster definition chooses the
// footprint its units see with (a disc of the given radius in cells around
// the unit's cell).
enum visibility_type
{
    _visibility_type_none = 0, // sees nothing
    _visibility_type_short, // radius 4
    _visibility_type_submerged, // radius 2: any unit wholly under water
    _visibility_type_normal, // radius 8
    _visibility_type_long, // radius 12
    _visibility_type_far, // radius 16
    NUMBER_OF_VISIBILITY_TYPES,

    MAXIMUM_VISIBILITY_RADIUS = 16, // cells
};

// The two bits of a cell's pair.
enum visibility_bits
{
    _cell_revealed_for_good_bit = 0,
    _cell_visible_bit = 1,

    _cell_revealed_for_good_flag = 1u << _cell_revealed_for_good_bit,
    _cell_visible_flag = 1u << _cell_visible_bit,
    CELL_VISIBILITY_MASK = 3,
};

// ---- life cycle -----------------------------------------------------------------

// Once at start-up: no buffers, the footprint table built.  Always true.
bool initialize_monster_visibility(void);

// Makes the three buffers for the current mesh, every cell unseen, and the
// centre the middle of the mesh.  Calling it again on the same map starts the
// picture over (a map's initial build resets through it).  False (logged)
// without a mesh or when the buffers cannot be made; there are none then.
bool initialize_monster_visibility_for_new_map(void);
// Frees the buffers.  Safe without them.
void dispose_monster_visibility_from_old_map(void);

// ---- writing the picture (the scan of units) ----------------------------------

// The back buffer becomes the front buffer (the picture of the period just
// ended) and the old front buffer, emptied, becomes the back buffer, already
// holding the cells revealed for good.  The centre of the visible area is
// taken from the new front buffer.  Nothing without buffers.
void swap_visibility_buffers(void);

// Marks the footprint of `type` around cell (cell_x, cell_y) visible in the
// back buffer and seen in the permanent buffer; with `permanent` the cells are
// also revealed for good.  The footprint is clipped to the mesh (a unit beyond
// an edge still sees the cells within reach).  A type outside the table is
// refused with a log line (the first of each map); nothing without buffers.
void rasterize_visibility_bitmap(int32_t type, int32_t cell_x, int32_t cell_y, bool permanent);

// The radius in cells of a type's footprint: -1 for `_visibility_type_none`
// and for types outside the table.
int32_t get_visibility_radius(int32_t type);

// ---- reading it (renderer, overhead map, interface, scripts' sounds) -----------

// The buffers (null without a map) and their row length in words.  The front
// and back buffers trade places at every swap: fetch the pointer when reading,
// never keep it.
const uint32_t *visibility_front_buffer(void);
const uint32_t *visibility_permanent_buffer(void);
int32_t visibility_buffer_row_words(void);

// The 2-bit pair of cell (cell_x, cell_y) in `buffer`, which must be one of
// the two above: 0 for a cell off the mesh, a null buffer or any other pointer.
uint32_t get_cell_visibility(const uint32_t *buffer, int32_t cell_x, int32_t cell_y);

// The one reading of a pair: whether it means visible (bit 1).
inline bool visibility_is_visible(uint32_t cell_visibility)
{
    return (cell_visibility & _cell_visible_flag) != 0;
}

// The centre cell of the local player's visible area: the middle of the
// bounding box of the front buffer's visible cells at the last swap; while
// nothing is visible, the last centre (at first the middle of the mesh).
// (0, 0) without buffers.
void get_center_of_visibility_buffer(world_point2d *center);

// Whether `object` is drawn, given the pair of its cell in the front buffer,
// and whether it is fully visible (not dimmed by the fog).  Without the game's
// limited-visibility option, or without buffers, everything is drawn fully
// visible.  Otherwise an object on a visible cell is drawn fully visible; one
// on a cell out of sight is dimmed, and hidden when it respects the units'
// visibility (`_object_respects_monster_visibility_flag`).  A null object is
// not drawn.  `fully_visible` may be null.
bool get_local_object_visibility_lowlevel(const object_data *object, uint32_t cell_visibility, bool *fully_visible);

// Registers the start-up step and the map step (game/subsystems.cpp).
void register_monster_visibility_hooks(void);
