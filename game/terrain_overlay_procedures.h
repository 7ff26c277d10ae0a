#pragma once
// What the mesh asks of the renderer's terrain overlays
// (game/render/terrain_overlays), in one table the overlays register whole
// (`register_terrain_overlay_procedures`).  Overlays are drawn, not
// simulated: no member may change the game.
//
// Every member may be null, and each is until the renderer registers its table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct permanent_overlay_data; // mesh.h

struct terrain_overlay_procedures
{
    // Stamps a permanent overlay (a stain) into the landscape maps (null
    // member: nothing is drawn; the stain's random draw is made all the same).
    void (*permanent_overlay)(const permanent_overlay_data *overlay);
    // The media coverage set-up when a map loads (values in host order, size
    // in bytes, 0 without media), and its disposal (null members: the
    // renderer keeps no coverage region).
    void (*initialize_media_coverage)(const uint16_t *values, int32_t size);
    void (*dispose_media_coverage)(void);
};

bool register_terrain_overlay_procedures(const terrain_overlay_procedures *procedures);
// Never null: an empty table until one is registered.
const terrain_overlay_procedures *get_terrain_overlay_procedures(void);
