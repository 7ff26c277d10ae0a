#pragma once
// Lightning bolts.  A lightning projectile makes a bolt from a point (or its
// source object) to a point (or its target object); the bolt travels for its
// definition's `strike_ticks`, then strikes (state 1) at its end point, or at
// the target object's point when the target still exists; it stays for
// `linger_ticks` to be drawn and then frees itself.  The projectile reads the
// state every tick and takes the strike point.
//
// Definitions: group 'ligh', "lightning systems"; a bolt's type is the
// definition's index.  Synchronized: bolts change only in the lightning tick
// step and through the calls below, inside the game tick.

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h"

struct definition_globals;

#define LIGHTNING_DEFINITION_GROUP FOUR_CHARACTER_CODE('l', 'i', 'g', 'h')

enum
{
    MAXIMUM_LIGHTNING_DEFINITIONS = 32,
    MAXIMUM_LIGHTNING_BOLTS = 64,
    LIGHTNING_DEFINITION_VERSION = 1,
};

enum lightning_definition_flag_bits
{
    _lightning_keeps_target_after_ground_strike_flag = 8,
    _lightning_uses_bigger_probe_flag = 16,
};

// 32 bytes stored.
struct lightning_definition
{
    uint16_t flags;
    int16_t strike_ticks;  // ticks from the bolt's start to its strike, at least 1
    int16_t linger_ticks;  // ticks it stays after striking, at least 0
    int16_t segment_count; // the look: segments of the drawn bolt
    int16_t jitter;        // the look: world units the drawn segments wander
    int16_t unused0;
    tag collection_tag;    // the look
    int32_t unused[4];
};
static_assert(sizeof(lightning_definition) == 32);
extern const byte_swap_code lightning_definition_byte_swapping_data[];

enum lightning_state
{
    _lightning_travelling = 0,
    _lightning_struck = 1,
};

struct new_lightning_data
{
    int16_t type;                // lightning definition index
    int32_t source_object_index; // NONE: none
    int32_t target_object_index; // NONE: strike at p1
    world_point3d p0, p1;
};

struct lightning_data
{
    int16_t identifier;
    int16_t type;
    int16_t state;               // lightning_state
    int16_t target_object_identifier;
    int32_t age;                 // ticks since the bolt began
    int32_t source_object_index;
    int32_t target_object_index;
    world_point3d origin;        // p0
    world_point3d end_point;     // p1
    world_point3d strike_point;  // set when the bolt strikes
};

// A bolt's target is an object of the object world (objects.h, this
// library): struck where it stands while it lives under the identifier it had
// when the bolt was made.

void initialize_lightning(void);
void initialize_lightning_for_new_map(void);
void dispose_lightning_from_old_map(void);
// The lightning tick step.
void update_lightning(void);

definition_globals *get_lightning_definition_group(void);
const lightning_definition *get_lightning_definition(int32_t type);

// A new bolt; its index, or NONE when the type has no definition or every
// bolt is used (the projectile then fails).
int32_t new_lightning(const new_lightning_data *data);

// 1 once the bolt struck, 0 before; NONE for a bolt that does not exist.
int16_t get_lightning_state(int32_t lightning_index);

// The bolt, or null when free or out of range.  By identifier: null also when
// the slot holds another bolt now.
lightning_data *get_lightning_data(int32_t lightning_index);
lightning_data *get_lightning_data_by_identifier(int32_t lightning_index, int16_t identifier);

// Moves the bolt's ends: the start when `p0` is given, and the end.
void change_lightning_endpoints(int32_t lightning_index, const world_point3d *p0, const world_point3d *p1);

// Bolts in use (tests, leaks).
int32_t get_lightning_bolt_count(void);
