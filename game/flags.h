#pragma once
// Game flags: the banners, hills and balls that the flag scoring types are
// played over.  A flag is made when its marker's thing is placed (a scenery
// or a dormant projectile object) and keeps its own synchronized position;
// the object layer follows it through the move hook.
//
// Which teams stand at a flag is asked of the unit layer through a hook
// (until it registers one, nobody stands anywhere and no flag changes hands).
//
// Simulation thread only.

#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_FLAGS_PER_MAP = 32,
    CATTLE_DRIVE_CONTESTED_FLAG_RADIUS = 2048,
    EVERYTHING_ELSE_CONTESTED_FLAG_RADIUS = 2560,
    // A pushed ball travels strength >> BALL_PUSH_STRENGTH_SHIFT world units.
    BALL_PUSH_STRENGTH_SHIFT = 4,
};

enum flag_type
{
    _flag_banner = 0, // stays where it stands
    _flag_ball = 1,   // any other type is a token that units push
};

enum flag_data_flag_bits
{
    _flag_is_invisible_on_overhead_map_bit = 1,
    _flag_is_invisible_on_overhead_map_flag = 1 << _flag_is_invisible_on_overhead_map_bit,
};

struct flag_data
{
    int16_t identifier;           // data array identifier; 0 = free
    int16_t type;                 // flag_type
    uint16_t flags;               // flag_data_flag_bits
    int16_t number;               // NONE: unnumbered; else 0..31
    int16_t owner_team_index;     // NONE: nobody's
    int16_t home_team_index;      // the owner it was placed with
    int16_t controlling_team_index; // the team alone at the flag this tick, else NONE
    int32_t object_index;         // NONE while no object carries it
    world_point3d location;
    world_point3d home;           // where it was placed
};

// Once at start-up.
void initialize_flags(void);
// Empties the flags for a new map; dispose frees them.
void initialize_flags_for_new_map(void);
void dispose_flags_from_old_map(void);

// Makes a flag; its index, or NONE (logged) when all 32 are used or the number
// lies outside NONE..31 (an unnumbered flag is made instead, logged).
int32_t new_flag(int16_t type, int16_t number, int16_t owner_team_index, int32_t object_index,
                 const world_point3d *location);

// The flag at `flag_index`, or null when free or out of range.
flag_data *get_flag_data(int32_t flag_index);
// The number of flag slots to walk (highest used + 1).
int32_t get_flag_slot_count(void);
// The flag that `object_index` carries, or NONE.
int32_t find_flag_by_object(int32_t object_index);

// The teams with units within `radius` of `point`, bit t for team t.
typedef uint32_t (*teams_near_point_procedure)(const world_point2d *point, int32_t radius);
bool register_teams_near_point_procedure(teams_near_point_procedure procedure);

// The contesting radius of the current scoring (2048 in cattle drive, else 2560).
int32_t flag_contesting_radius(void);

// The unit at `unit_index` (a "monster" index) meets the flag carried by
// `flag_object_index` with `strength` (twice the unit's base speed): a ball
// moves away from where the unit stands (unit_facts.h) by strength / 16 world
// units, never off the map, and 1 is returned; a banner does not move and 0 is
// returned (the meeting counts as an obstruction).  0, nothing moved, for an
// object that carries no flag or a unit that does not exist.
int32_t monster_bumped_flag(int32_t unit_index, int32_t flag_object_index, int32_t strength);

// The push itself, from the point `pusher`, within `map_width` x
// `map_height` world units (0: no bound).
int32_t push_flag_from_point(const world_point2d *pusher, int32_t flag_object_index, int32_t strength,
                             world_distance map_width, world_distance map_height);

// An object carrying a flag went dormant (dropped): the flag goes back to its
// home and to the team it was placed with.  Nothing for an object that carries no flag.
void reclaim_dormant_flag(int32_t object_index);

// Asks the unit layer which team alone stands at each flag (bit t of the
// answer; a flag with two or more teams, or none, is controlled by nobody),
// and records it in `controlling_team_index`; bits of teams the game does not
// have are ignored.  Called each tick by the scoring.
void update_flag_control(void);
