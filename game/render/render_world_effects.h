#pragma once
// Surfaces of the world effects: lightning, connectors, mesh effects, mirrors, local projectiles.
//
// The game core and the units keep these effects as plain records (bolts,
// shockwaves, groups of local projectiles, model animations); the builders
// here read those records once per frame and turn what they can see into
// surfaces of the view's main list and overlays of its overlay lists, through
// the bitmap surface builders and the object overlays.  The core never
// includes this header: it declares its own three builders (connectors, mesh
// effects, mirror groups) over a forward-declared view and a void region,
// and they are defined here.
//
// An effect is drawn only where a definition gives its look (a collection,
// a sequence); the others stay undrawn:
// - lightning: the bolt's definition names its collection; sequence 0 is the
//   segment, its frames cycle with the bolt's age, and a frame's shadow map
//   (a light map, usually) is stamped at the strike point once it struck;
// - local projectiles: the group definition's collection and sequence, one
//   camera-facing rectangle a particle, its frame's shadow map under it;
// - model animations: shadow map k of the current model's collection is the
//   shadow of frame k; none, none drawn;
// - mesh effects: no definition gives a look; each type's rings of light
//   (and a shockwave's shaded trough) are made here and stamped on the
//   ground as overlays (build_mesh_effect_surface_list, docs/renderer.md);
// - connectors and mirror groups: no definition gives a look yet, so nothing
//   is drawn.
// Bad records (a sequence or frame the collection lacks, a sequence without
// views or frames) are skipped; the first of each kind of effect (lightning,
// local projectiles) is logged, once per map.
//
// Main thread only; everything made lives in the render pool for one frame.

#include <cstdint>

#include "world.h"

struct mesh_region;
struct view_data;

// Each kind of effect logs its next bad record again (the render's map step).
void initialize_world_effects_for_new_map(void);

enum
{
    // Nothing nearer than this (viewer-space z) is drawn, as with sprites.
    EFFECT_NEAREST_VIEWER_Z = -34,
    // A bolt is drawn in at most this many segments.
    MAXIMUM_LIGHTNING_SEGMENTS = 32,
    // A segment spans at most this far on each axis (its streak direction is
    // a 16-bit vector); longer bolts take more segments, up to the maximum.
    MAXIMUM_LIGHTNING_SEGMENT_LENGTH = 16384,
};

// Each bolt the region sees (either end on a visible cell): from its start to
// its tip (while travelling, the share of the way its age has covered; once
// struck, the strike point), in the definition's segments, each a streak of
// the segment bitmap whose inner corners wander by up to the definition's
// jitter (local_random: the look only).
void build_lightning_surface_list(view_data *view, mesh_region *region);

// Every local projectile on a visible cell, as a rectangle of its group's
// sequence (frame: the particle's, view 0), scaled by the particle's scale,
// as transparent as its group's fade, with its frame's shadow map on the
// ground below it.
void build_local_projectiles_surface_list(view_data *view, mesh_region *region);

// Local projectiles above a reflecting media cell (one with the reflection
// flag) are drawn again mirrored in the media surface, in the reflection
// pass.  Nothing when the view omits reflections.
void build_media_local_projectile_effects(view_data *view, mesh_region *region);

// Files the animated shadow (overlay mode 2) of each model animation whose
// model stands on a visible cell: shadow map `current_frame_index` of the
// model's collection, registered at the model's position.  Called by the
// terrain maps when they redraw.
void build_visible_animating_shadow_overlays(view_data *view);

// The three the core declares (game/connectors.h, mesh_effects.h,
// mirror_groups.h) with a void region, defined here: connectors and mirror
// groups have no look yet and add nothing; mesh effects are stamped as above.

// The cell of `point` lies on a visible row and span of the region (both ends
// included); false without a region.
bool effect_point_in_region(const mesh_region *region, const world_point3d *point);

struct bitmap_instance_data;
struct render_rectangle;

// One camera-facing rectangle of `instance` at the viewer-space point,
// scaled (8.8); mirrored upside down with `reflected` and then drawn in the
// reflection pass.  Nothing (null) when it is too near, cannot be projected,
// has no area or lies wholly off the screen.
render_rectangle *build_effect_rectangle(view_data *view, const bitmap_instance_data *instance,
                                         int16_t collection_index, int16_t color_table_index,
                                         fixed_fraction transparency, const world_point3d *p, short_fixed scale,
                                         bool reflected);
