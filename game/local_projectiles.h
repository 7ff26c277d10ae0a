#pragma once
// Local (visual-only) projectiles and their groups: the glow around a unit,
// the sparks on an arrow, the smoke of a map's chimney.  A group is made from
// a local projectile group definition ('lpgr', local_projectile_groups.h)
// and emits particles around its centre, which may follow an object.
//
// Everything here is local to this machine.  The groups and their particles
// live in arrays of their own that the state hash never reads; they draw
// only from local_random, never from vesk_random; they change no object, unit
// or marker field that the simulation or the state hash reads.  The indexes
// they hand out are kept by units and projectiles only to turn their groups
// off again.  The renderer advances them once per frame
// (update_local_projectiles) with the game ticks elapsed since its previous
// frame; a machine that draws nothing never advances them, and nothing in
// the game depends on whether it does.
//
// A group's life: it fades in over its transition-in ticks, emits (a
// continuous group every tick, a burst group once at its start) until its
// duration runs out or it is turned off, then fades out over its
// transition-out ticks while its particles live on; it ends when the fade-out
// is over or its last particle is gone.  A burst group whose particles are
// all gone ends too.
//
// A followed (central) object is known by index and identifier: when the
// object is deleted, or its slot holds another object, the group stops
// following and stays where the object was last seen; a group without a
// duration then turns itself off, so no glow outlives its unit.

#include "cseries/cseries.h"
#include "world.h"

struct marker_data;
struct marker_palette_entry;

enum
{
    MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP = 384,
    MAXIMUM_LOCAL_PROJECTILES_PER_MAP = 4096,
    // update_local_projectiles advances at most this many ticks per call: a
    // long pause (a slow frame, a debugger) is not caught up particle by particle.
    MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE = 15,
};

// A request for a group.  Fields a caller does not name stay 0 (a zeroed
// request): duration and transition times 0 take the definition's, an object
// index whose identifier is 0 (or an index NONE) names no object.
struct new_local_projectile_group_data
{
    int16_t type; // local projectile group definition index
    uint16_t flags; // no bits are defined yet: pass 0
    world_point3d center;
    int16_t duration; // ticks; 0: the definition's (0 there too: until turned off)
    int16_t transition_in, transition_out; // ticks; 0: the definition's
    int16_t central_object_index, central_object_identifier; // followed from now on
    int16_t bounds_object_index, bounds_object_identifier; // particles appear within its radius
    fixed_fraction opacity; // of the whole group
    angle yaw;
    int16_t color_table_index; // NONE: the definition's
};

// States of a group.
enum local_projectile_group_state
{
    _local_projectile_group_emitting = 0,
    _local_projectile_group_turned_off = 1, // fading out, no more particles
};

// One group, as the renderer reads it.
struct local_projectile_group_data
{
    int16_t identifier; // 0: free
    int16_t type;
    uint16_t flags; // the request's
    int16_t state; // local_projectile_group_state
    world_point3d center; // followed object's position plus the offset it had when attached
    world_point3d center_offset;
    angle yaw;
    int16_t age; // ticks since it began (stops counting at 0x7FFF)
    int16_t duration; // 0: until turned off
    int16_t transition_in, transition_out;
    int16_t ticks_turned_off; // ticks since it was turned off
    int16_t central_object_index, central_object_identifier; // NONE: follows nothing
    int16_t bounds_object_index, bounds_object_identifier; // NONE: none
    int16_t owner_monster_index, owner_monster_identifier; // NONE: none
    int16_t marker_index; // the local projectile group marker it was made for, NONE
    fixed_fraction opacity; // set by the request and set_local_projectile_group_opacity
    int16_t color_table_index;
    int16_t projectile_count;
    int16_t first_projectile_index; // its particles, NONE-terminated
    int16_t emitted; // 1 once it emitted (a burst group emits once)
};

// One particle.
struct local_projectile_data
{
    int16_t identifier; // 0: free
    int16_t group_index;
    int16_t next_projectile_index; // in its group, NONE ends
    int16_t age, lifespan; // ticks
    world_point3d offset; // from its group's centre
    world_vector3d velocity; // world units per tick
    short_fixed scale; // 8.8
    int16_t frame_index;
    int16_t phase; // 1/256 frames
};

void initialize_local_projectiles(void);
// Every group and particle of the old map is gone.
void initialize_local_projectiles_for_new_map(void);
void dispose_local_projectiles_from_old_map(void);

// Advances every group and particle by `game_ticks_elapsed` ticks (at most
// MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE; 0 or less does nothing).
void update_local_projectiles(int32_t game_ticks_elapsed);

// A new group: its index, or NONE when the type has no definition, every
// group is in use, or the arrays are not set up.  Never fails loudly: a
// missing effect is no error.
int32_t new_local_projectile_group(const new_local_projectile_group_data *request);
// The group of a local projectile group marker (type 10): at its location and
// yaw, of its palette entry's definition, shown from now on (the marker loses
// its invisible flag).  The marker's data index and identifier name the group
// while it lives; they go back to NONE when it ends.  NONE when no group
// could be made, or the marker's group still lives.
int32_t new_local_projectile_group_from_marker(marker_data *marker);
// A visual group of `type` on an object (a projectile's or a unit's):
// centred on it, following it, with its yaw.  Its index, or NONE.
int32_t new_local_projectile_group_on_object(int16_t type, int32_t object_index);
// Turns the group off: it stops emitting and fades out.  An index that names
// no group is ignored.
void turn_local_projectile_group_off(int32_t group_index);
// The group follows that object from now on, keeping its offset from the
// centre; an object that does not exist with that identifier leaves the group
// following nothing.
void set_local_projectile_group_central_object(int32_t group_index, int32_t object_index, int16_t object_identifier);
// The whole group's opacity.
void set_local_projectile_group_opacity(int32_t group_index, fixed_fraction opacity);
// The unit the group belongs to (index and identifier), for the renderer.
void set_local_projectile_group_owner(int32_t group_index, int32_t monster_index, int16_t monster_identifier);

// ---- read access for the renderer's surface list -----------------------------------

// Indexes run 0 .. count - 1; free slots read as null.
int32_t get_local_projectile_group_count(void);
const local_projectile_group_data *get_local_projectile_group(int32_t group_index);
int32_t get_local_projectile_count(void);
const local_projectile_data *get_local_projectile(int32_t projectile_index);

// What a renderer needs to draw one particle.
struct local_projectile_surface
{
    world_point3d position;
    int16_t collection_index; // NONE: nothing to draw
    int16_t sequence_index;
    int16_t frame_index;
    int16_t color_table_index;
    short_fixed scale;
    fixed_fraction opacity; // the group's opacity times its fade
};
// False for a free slot.
bool get_local_projectile_surface(int32_t projectile_index, local_projectile_surface *surface);

// The group's fade now: 0 .. FIXED_FRACTION_ONE (in over transition-in, out
// after it was turned off), times its opacity.
fixed_fraction get_local_projectile_group_opacity(int32_t group_index);

// Groups and particles in use (tests).
int32_t get_local_projectile_group_used_count(void);
int32_t get_local_projectile_used_count(void);

// The marker type's procedures, the projectiles' local group, the start-up
// and map steps.
void register_local_projectile_hooks(void);
