#pragma once
// The camera's physics limits: one 'obpc' definition per map, named by the
// map's header.  Each of the seven records holds, for each direction, the
// largest speed, the acceleration and the deceleration, read as whole units
// per game tick (world units for moving, 1/65536 of a turn for turning,
// 1/65536 of the zoom factor for zooming).

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h"

#define OBSERVER_PHYSICS_CONSTANTS_GROUP_TAG FOUR_CHARACTER_CODE('o', 'b', 'p', 'c')

enum
{
    OBSERVER_PHYSICS_CONSTANTS_VERSION = 1,
    OBSERVER_PHYSICS_CONSTANTS_SIZE = 256,
    MAXIMUM_OBSERVER_PHYSICS_CONSTANTS_PER_MAP = 1,
};

struct half_observer_physics_constant
{
    fixed maximum_velocity;
    fixed acceleration;
    fixed deceleration;
};

struct observer_physics_constant
{
    half_observer_physics_constant negative;
    half_observer_physics_constant positive;
};
static_assert(sizeof(observer_physics_constant) == 24);

enum observer_physics_constant_index
{
    _observer_constant_parallel = 0,
    _observer_constant_orthogonal,
    _observer_constant_yaw,
    _observer_constant_orbit,
    _observer_constant_vertical, // read by nothing that moves the camera
    _observer_constant_pitch,    // read by nothing that moves the camera
    _observer_constant_zoom,
    NUMBER_OF_OBSERVER_PHYSICS_CONSTANTS
};

struct observer_physics_constants
{
    observer_physics_constant constants[NUMBER_OF_OBSERVER_PHYSICS_CONSTANTS];
    int16_t unused[44]; // stored unconverted
};
static_assert(sizeof(observer_physics_constants) == OBSERVER_PHYSICS_CONSTANTS_SIZE);
static_assert(offsetof(observer_physics_constants, unused) == 168);

extern const byte_swap_code observer_physics_constants_byte_swapping_data[];

// Registers the 'obpc' definition group (start-up).  False when it cannot be.
bool initialize_observer_physics_constants(void);

// The defaults; a short stored record takes them for its tail.
const observer_physics_constants *get_default_observer_physics_constants(void);
void default_observer_physics_constants(void *definition);

// The group's tag-header word: always NONE.
uint32_t get_observer_physics_constants_tag_header_user_data(const void *definition);

// Loads the map's 'obpc' definition; its index or NONE (code 11, reported by the registry).
int32_t load_observer_physics_constants(tag subgroup);
// The definition at `index`; null for NONE or an empty slot.
const observer_physics_constants *get_observer_physics_constants(int32_t index);
// Empties the group for the map that begins, and frees it when the map ends.
void initialize_observer_physics_constants_for_new_map(void);
void dispose_observer_physics_constants_from_old_map(void);
