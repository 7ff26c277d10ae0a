#pragma once
// Object sprites, their marks and shadows, local sprites and ground overlays.
//
// Every visible object of the world (units, scenery, projectiles, flags)
// becomes one camera-facing object rectangle of its collection's bitmap, or
// two object triangles for an oriented bitmap, or model triangles when it
// carries geometry.  Around marked units the same builder adds the marks seen
// in the world (selection box, frame, vitality and mana bars, name label and
// overhead text) as filled and text rectangles at the sprite's depth.  An
// object's shadow map (or light map) is stamped into the terrain maps as a
// ground overlay.  Local sprites are a short list of purely visual markers
// the selection places.
//
// Everything built here lives in the render pool for one frame; only the
// local sprites persist.  Main thread only.

#include <cstdint>

#include "objects.h" // transfer_mode
#include "render/render_surfaces.h"
#include "render/terrain_overlays.h" // render_map_overlay, map_overlay_mode
#include "world.h"

struct mesh_region;
struct view_data;

enum
{
    ZERO_LIGHT_DENSITY_HEIGHT = 1024,
    ZERO_SHADOW_DENSITY_HEIGHT = 3072,
    MAXIMUM_SHADOW_SHIFT = 1536,
    // How much of the light a sprite's own shadow takes at its foot (65536 all).
    SPRITE_SHADOW_DARKNESS = 0x7000,
    ZERO_REFRACTION_DENSITY_HEIGHT = 512,
    RENDER_OBJECT_TEXTURE_SLOP = 1024,
    MAXIMUM_LOCAL_SPRITES = 126,
    LOCAL_SPRITE_SOLID_TIME = 7,
    LOCAL_SPRITE_FADE_TIME = 1,
    SELECTION_SURFACE_TRANSPARENCY = 21845,
    MOUSEOVER_SELECTION_SURFACE_TRANSPARENCY = 43690,
    MOUSEOVER_HIGHLIGHT_TRANSPARENCY_ADJUSTMENT = 16384,
    SUBMERGED_SELECTION_TRANSPARENCY = 54612,
    UNDER_MEDIA_SPRITE_TRANSPARENCY = 0xe000,

    SELECTION_FRAME_WIDTH = 1,
    VITALITY_BAR_WIDTH = 6,
    VITALITY_BAR_SEPARATION = 2,
    VITALITY_BAR_CAP_HEIGHT = 2,
    VITALITY_TO_HEIGHT_RATIO = 512,
    MANA_BAR_HEIGHT = 6,
    MANA_BAR_SEPARATION = 2,
    MANA_BAR_CAP_HEIGHT = 2,
};

enum selection_frame_side
{
    _frame_top = 0,
    _frame_bottom = 1,
    _frame_left = 2,
    _frame_right = 3,
    NUMBER_OF_FRAME_SIDES
};

enum bar_part
{
    _bar_footer = 0,
    _bar_empty = 1,
    _bar_header = 2,
    NUMBER_OF_BAR_PARTS
};

// The interface colours of the marks (get_interface_color): the box of an
// object that is not a unit, of the local player's own units, of an ally's
// and of an enemy's; the label text; the first of the 22 graded colours of a
// vitality bar's filled part (fullest last) and of its empty part.
enum
{
    _interface_color_inanimate_object = 0,
    _interface_color_enemy_unit = 2,
    _interface_color_friendly_unit = 4,
    _interface_color_allied_unit = 7,
    _interface_color_vitality_filled = 12,
    _interface_color_vitality_empty = 34,
    _interface_color_label_text = 56,
};

// The shape transfer modes as the renderer names them (objects.h holds the
// numbers the simulation animates).
enum
{
    _transfer_mode_transparent_appearing = _transfer_mode_appearing,
    _transfer_mode_transparent_disappearing = _transfer_mode_disappearing,
    _transfer_mode_transparent_cycle = _transfer_mode_cycle,
};
static_assert(_transfer_mode_transparent_fade_out == 1 && _transfer_mode_transparent_fade_in == 2 &&
              _transfer_mode_shrink_out == 3 && _transfer_mode_shrink_in == 4 &&
              _transfer_mode_transparent_appearing == 5 && _transfer_mode_transparent_disappearing == 6 &&
              _transfer_mode_transparent_cycle == 7);

struct local_sprite_data
{
    int16_t collection_index;
    int16_t sequence_index;
    world_location3d location;
};

struct local_sprite_globals_data
{
    int16_t count;
    int32_t fade_out_start_time; // local time the delayed removal began; -1 none pending
    local_sprite_data sprites[MAXIMUM_LOCAL_SPRITES];
};
extern local_sprite_globals_data local_sprite_globals;

enum remove_local_sprites_mode
{
    _remove_local_sprites_delayed = 0,
    _remove_local_sprites_immediately = 1,
};

// ---- the frame's objects --------------------------------------------------------------

// Every object of the region's cells (the covered tiles' cells in tiles
// mode), then the local sprites.  Once per frame, from build_scene, unless the
// view omits objects.
void build_objects_surface_list(view_data *view, mesh_region *region);

// The objects of cell (x, y): outside the region only their shadows.
void build_render_objects_for_mesh_cell(view_data *view, mesh_region *region, int32_t x, int32_t y);

// One object as a sprite (with its marks, shadow and parasitic object), or
// its reflected copy.  `object_index` -1 for a temporary record (local
// sprites): no marks and no picking.  A view index outside the sequence
// skips the object (logged).
void build_render_sprite(view_data *view, mesh_region *region, bool reflection, bool fully_visible, bool under_media,
                         bool shadow_only, const object_data *object, int32_t object_index);

// ---- ground overlays ------------------------------------------------------------------

// The shadow (or light) map `shadow_map_index` of the collection stamped at
// `position`, fading with the height above ground (zero at 3072 for shadows,
// 1024 for light maps, 512 below ground), shifted with height, scaled by
// `opacity` and the transfer mode.  Nothing is made for a missing shadow map
// or bitmap, or when the density comes to nothing.  The scale, flags and
// shadow-generating instance are accepted for the callers' sake and do not
// change the stamp.
void build_render_map_overlay(view_data *view, mesh_region *region, int16_t collection_index, int16_t object_scale,
                              uint32_t object_flags, int16_t shadow_map_index, int16_t shadow_generating_instance_index,
                              int16_t transfer_mode, fixed_fraction transfer_phase, const world_point3d *position,
                              int32_t height_above_ground, fixed_fraction opacity);

// Files the overlay on the view's light- or shadow-map list (volatile maps),
// or a copy on the list of every tile it may touch (tiles mode).  An overlay
// whose bytes_per_row is below its width is ignored.
void add_overlay_to_overlay_lists(view_data *view, render_map_overlay *overlay);

// The overlay density of `density` under `transfer_mode` at `phase` (what
// build_render_map_overlay applies).
fixed_fraction overlay_density_for_transfer_mode(fixed_fraction density, int16_t transfer_mode, fixed_fraction phase);

// Sets the rectangle's transparency (and transparent flag) from the transfer
// mode and phase; modes that do not fade leave it unchanged.  Works on any
// rectangle-shaped surface (object, filled or text rectangle).
void affect_rectangle_transfer_mode(render_surface *rectangle, int16_t transfer_mode, fixed_fraction transfer_phase);

// ---- local sprites ----------------------------------------------------------------------

// Appends a marker.  A pending delayed removal is cancelled and the list
// emptied first; otherwise a full list (126) ignores the request (logged).
void new_local_sprite(const world_point3d *location, int16_t collection_index, int16_t sequence_index);
// Delayed: the sprites stay for LOCAL_SPRITE_SOLID_TIME more ticks of local
// time; immediately: the list is emptied unless a delayed removal is pending.
void remove_local_sprites(int16_t mode);
// Empties the list (the renderer's per-map step).
void initialize_local_sprites_for_new_map(void);

// Fills the selection's local-sprite slots (interface collection markers).
void register_render_objects_hooks(void);
// The selection's markers (selection.h's table): a local sprite of the
// interface collection's `sequence` at `location`, and their removal.
void new_selection_marker(const world_point3d *location, int16_t sequence);
void remove_selection_markers(bool immediately);
