#pragma once
// Overlays the interface draws over the battlefield: the rubber band of a
// drag selection, as filled rectangles sorted with the scene, and the facing
// arrows while the player drags out a facing for a move order, drawn over the
// finished frame.  Both read the selection (selection.h) and colour with
// interface colour 1.  Main thread only.

#include <cstdint>

#include "point2d.h"
#include "world.h"

struct view_data;

enum
{
    INTERFACE_OVERLAY_PRERENDER_PRIORITY = -1,
    INTERFACE_EFFECTS_POSTRASTERIZATION_PRIORITY = 0,
    INTERFACE_OVERLAY_COLOR = 1, // the interface colour of the band and the arrows

    SELECTION_BAND_BORDER = 2,           // pixels
    SELECTION_BAND_MINIMUM_FRAMED = 5,   // a band narrower or lower is one rectangle
    SELECTION_BAND_TRANSPARENCY = 32768,
    SELECTION_BAND_FILL_TRANSPARENCY = 54613, // the dark inner fill of hardware rasterizers
};

// The pre-render effect: while the selection reports a band, its pieces as
// filled rectangles (surface flags clear, z 0) in the view's main surface
// list.  A band of at least 5 x 5 pixels is four 2-pixel strips, and with a
// hardware rasterizer (code not 0) a dark fill inside them; a smaller one is
// a single rectangle clipped to the screen and at least 2 pixels each way.
// The surfaces come from the render pool, whose exhaustion is fatal there.
void build_interface_overlay_surface_list(view_data *view);

// The post-rasterization effect: while the selection reports a facing
// gesture, the arrow from its start towards its end; for a gesture begun on
// a unit, one arrow at every selected unit.
void rasterize_interface_effects(view_data *view);

// The screen polygons of a facing arrow at `world_start` pointing along
// `theta`: with the game preference for single-triangle arrows one triangle,
// otherwise a shaft (quadrilateral) and a head (triangle).  False when a
// corner lies at or behind the viewer or does not project.
struct facing_arrow_polygons
{
    int16_t polygon_count;
    int16_t vertex_counts[2];
    point2d vertices[2][4];
};
bool build_facing_arrow_polygons(const view_data *view, const world_point3d *world_start, angle theta,
                                 facing_arrow_polygons *arrow);

// Fills the arrow's polygons, opaque, in interface colour 1 into the view's
// screen, clipped to the view's hole.  Nothing when it does not project.
void draw_facing_arrow(view_data *view, const world_point3d *world_start, angle theta);

// One arrow along `theta` at every selected unit's position.
void draw_arrows_for_selected_monsters(view_data *view, angle theta);

// Registers the band (pre-render effect -1) and the facing gesture
// (post-rasterization effect 0); the renderer's start-up calls it.  Later
// calls do nothing.
void initialize_interface_overlays(void);
