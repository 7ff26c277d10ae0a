#pragma once
// Spatial groups: clusters of units of one team and type, rebuilt whenever the scripts run.
//
// The scripts' picture of where the armies stand.  A group is a cluster of
// nearby units of one team and one unit type, grown from a seed unit through
// the 3 x 3 cells around each member; a supergroup is a cluster of nearby
// groups of one team and different types.  `build_spatial_groups` rebuilds
// both lists from scratch each time the map actions run (every 32 ticks),
// before the attack AI and the script procedures read them.  The build is
// part of the synchronized tick: it reads units and objects in index and cell
// chain order and draws no random numbers.
//
// The lists live in storage allocated once at start-up.  How much a build may
// hold is counted against a budget of MAXIMUM_SPATIAL_GROUPS_BUFFER_SIZE bytes
// in which a group takes SPATIAL_GROUP_HEADER_SIZE bytes plus 2 per unit and
// a supergroup SPATIAL_SUPERGROUP_SIZE bytes: fixed numbers, never sizeof, so
// the build stops at the same group on every machine whatever its pointer
// size.  The rules, with every width, are in docs/determinism.md ("Spatial
// groups").
//
// Pointers into the lists stay valid until the next build or the end of the
// map.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_SPATIAL_GROUPS_BUFFER_SIZE = 24576,
    SPATIAL_GROUP_HEADER_SIZE = 48, // a group's share of the budget, before its unit list
    SPATIAL_GROUP_MONSTER_INDEX_SIZE = 2, // per unit of a group
    MAXIMUM_SPATIAL_GROUP_SIZE = 848, // a header and 400 unit indexes
    SPATIAL_SUPERGROUP_SIZE = 32,
    MAXIMUM_SPATIAL_GROUP_MONSTERS = 126, // members gathered from gameplay version 1301
    MAXIMUM_SPATIAL_GROUP_MONSTERS_BEFORE_1301 = 30,
    MAXIMUM_COMBINED_GROUPS = 16, // groups weighted into one supergroup
    SUPERGROUP_SEPARATION_DISTANCE = 2048,
    SUPERGROUP_UNIT_CONTACT_DISTANCE = 768,
    MONSTER_USED_FLAGS_SIZE = 13, // 32-bit words: 416 bits, one per unit slot
    NEARBY_CELL_DIAMETER = 3,
    MINIMUM_OBSTRUCTION_ANGLE = 8192,
    // Attackers the attack AI may name over all groups of one build.
    MAXIMUM_SPATIAL_GROUP_ATTACKERS = 4096,
};

struct world_vector2d
{
    int16_t i, j;
};

enum spatial_group_flag_bits
{
    _spatial_group_in_supergroup_bit = 0,
    _spatial_group_in_supergroup = FLAG(_spatial_group_in_supergroup_bit),
};

struct spatial_supergroup;

// One unit the attack AI sent against a group.
struct spatial_group_attacker_entry
{
    int16_t monster_index;
    spatial_group_attacker_entry *next_attacker;
};

struct spatial_group
{
    uint16_t flags; // spatial_group_flag_bits
    int16_t team_index; // the units' owner team
    int16_t monster_type; // the units' 'mons' definition index
    int16_t monster_count;
    world_point2d center; // mean of the units' object positions
    short_world_distance radius; // largest extent of the units' bounding box from the centre
    angle facing; // mean heading of the objects' yaws
    int16_t power; // combined power of the type x count (wraps to 16 bits)
    short_world_distance range; // the type's longest range
    world_vector2d velocity; // mean of the objects' velocities
    int16_t attacker_power; // 0 after a build; the attack AI adds its attackers' power
    fixed power_ratio; // 0 after a build; attacker_power / power as the attack AI leaves it
    spatial_group *next_group; // creation order
    spatial_group_attacker_entry *first_attacker; // null after a build; the latest attacker first
    spatial_supergroup *owner_supergroup; // null while in none
    int16_t *monster_indexes; // `monster_count` unit indexes, seed first
};

struct spatial_supergroup
{
    int16_t team_index;
    int16_t monster_index; // the first unit of its first group
    world_point2d center; // power-weighted centre of its first 16 groups; (0, 0) with power 0
    short_world_distance radius;
    angle facing;
    int16_t power; // wraps to 16 bits
    int16_t monster_count;
    short_world_distance range;
    world_vector2d velocity;
    spatial_supergroup *next;
};

// ---- life cycle ---------------------------------------------------------------------

// Once at start-up: allocates the storage (fatal error 8, "couldn't allocate
// #%d bytes for spatial groups buffer", when it cannot).
bool initialize_spatial_groups(void);
// Both lists become empty.
void initialize_spatial_groups_for_new_map(void);
// Nothing to do: the storage is kept for the next map.
void dispose_spatial_groups_from_old_map(void);

// Rebuilds both lists from the units as they stand.  A build that runs out of
// budget logs "### spatial groups overflowed internal buffer" or "### spatial
// supergroups overflowed internal buffer" and keeps what it built.
void build_spatial_groups(void);

// ---- the lists ---------------------------------------------------------------------------

// The first of each list (null when empty); walk with next_group / next.
spatial_group *first_spatial_group(void);
spatial_supergroup *first_spatial_supergroup(void);

// The budget bytes the last build used (groups, then supergroups).
int32_t spatial_groups_buffer_bytes_used(void);

// The first group, in list order, that stands between `origin` and the
// `target` group: a melee group of the target's team, other than the target,
// on a team that is neither `friendly_team_index` nor allied with it, nearer
// to the origin than the target (its radius subtracted from its squared
// distance) and within MINIMUM_OBSTRUCTION_ANGLE of the direction from the
// target to the origin.  Null when none.
spatial_group *obstructing_group(const world_point2d *origin, const spatial_group *target,
                                 int16_t friendly_team_index);

// The power one unit adds to its group is monster_type_combined_power
// (monster_definitions.h), the value the script procedures weigh units with.

// ---- the attack AI's marks ------------------------------------------------------------

// Records that `monster_index` was sent against `group`: the unit joins the
// group's attacker list, its power is added to attacker_power (wrapping to 16
// bits), and power_ratio becomes attacker_power / power as 16.16 (0 when the
// group has no power).  False, with nothing changed, once
// MAXIMUM_SPATIAL_GROUP_ATTACKERS entries were handed out since the build.
bool add_spatial_group_attacker(spatial_group *group, int16_t monster_index);
