#pragma once
// Mesh effects: shockwaves on the terrain that projectile groups start where
// they detonate.  An effect ages one tick per tick and is dropped when its
// type's duration has passed; the renderer lays it on the ground as rings of
// light with a shaded trough (stamped into the terrain's maps, so under every
// unit) whose radius grows with its age and which fade over the second half
// of its life.
// Effects touch no object.
// Synchronized timing (ticks), visual result.

#include "cseries/cseries.h"
#include "world.h"

struct view_data;

enum
{
    MAXIMUM_MESH_EFFECTS = 64,
};

enum mesh_effect_type
{
    _mesh_effect_small_shockwave = 0,
    _mesh_effect_large_shockwave,
    _mesh_effect_ripple,
    NUMBER_OF_MESH_EFFECT_TYPES
};

struct new_mesh_effect_data
{
    uint16_t flags;
    int16_t type; // mesh_effect_type
    world_point3d origin;
};

struct mesh_effect_data
{
    int16_t identifier;
    int16_t type;
    uint16_t flags;
    int16_t age;
    world_point3d origin;
};

void initialize_mesh_effects(void);
void initialize_mesh_effects_for_new_map(void);
void dispose_mesh_effects_from_old_map(void);
// The mesh effects tick step.
void update_mesh_effects(void);

// A new effect; its index, or NONE for a type out of range or when all are used.
int32_t new_mesh_effect(const new_mesh_effect_data *data);
// The effect in slot `index`; null for a free slot or one out of range.
mesh_effect_data *get_mesh_effect_data(int32_t index);
int32_t get_mesh_effect_count(void); // effects in use
// The high-water mark of the slots: walk 0..count-1.
int32_t get_mesh_effect_slot_count(void);

// The ticks an effect of `type` lasts and its final radius; 0 for a type out of range.
int32_t get_mesh_effect_duration(int16_t type);
// The radius of an effect now (grows linearly to the type's final radius).
world_distance get_mesh_effect_radius(const mesh_effect_data *effect);

// The renderer's hook, defined on the renderer's side: stamps the rings of
// every effect the frame's region sees into the frame's light and shadow
// overlays (an effect of an unknown type draws nothing).
void build_mesh_effect_surface_list(view_data *view, void *region);
