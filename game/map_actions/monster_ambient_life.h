#pragma once
// Ambient life: the wildlife and villagers of a map ('bear', 'chic', 'deer', 'peas', 'soar'), each unit with a small behaviour record from a fixed pool.
//
// A unit whose monster definition names a behaviour tag gets, when it is
// created, a private map action of that tag whose only subject is the unit,
// and a block from this module's pool.  The unit keeps the block's offset in
// the pool (`monster_map_action_data`, NONE: none), never a pointer: the pool
// moves blocks when it compacts.  Everything here runs inside the lock-step
// tick and draws only vesk_random, in the order docs/determinism.md gives
// ("Ambient life").

#include <cstddef>
#include <cstdint>

#include "map_actions.h"
#include "world.h"

enum
{
    MAP_ACTION_MEMORY_POOL_SIZE = 8192,
    MAP_ACTION_MEMORY_POOL_SIZE_172 = 4096, // below gameplay version 1721
    MAXIMUM_ACTION_DATA_SIZE = 20,
};

enum : int32_t
{
    _bear_action_tag = FOUR_CHARACTER_CODE('b', 'e', 'a', 'r'),
    _chicken_action_tag = FOUR_CHARACTER_CODE('c', 'h', 'i', 'c'),
    _deer_action_tag = FOUR_CHARACTER_CODE('d', 'e', 'e', 'r'),
    _peasant_action_tag = FOUR_CHARACTER_CODE('p', 'e', 'a', 's'),
    _soaring_action_tag = FOUR_CHARACTER_CODE('s', 'o', 'a', 'r'),
};

// ---- the behaviour records (host order; they never leave the machine) -------

enum
{
    _bear_was_previously_retreating = 0x1,
    _deer_was_previously_retreating = 0x1,
};

struct bear_action_data
{
    uint32_t flags;
    int32_t ticks_until_next_movement;
    world_point2d original_position;
    short_fixed last_vitality;
    int16_t unused;
};
static_assert(sizeof(bear_action_data) == 20);
static_assert(offsetof(bear_action_data, original_position) == 8);
static_assert(offsetof(bear_action_data, last_vitality) == 16);
typedef bear_action_data deer_action_data;

struct chicken_action_data
{
    int32_t ticks_until_next_movement;
    world_point2d original_position;
};
static_assert(sizeof(chicken_action_data) == 12);
static_assert(offsetof(chicken_action_data, original_position) == 4);
typedef chicken_action_data peasant_action_data;

struct soaring_action_data
{
    int32_t ticks_until_next_movement;
    int32_t ticks_until_glide_transition;
};
static_assert(sizeof(soaring_action_data) == 8);

// ---- the pool -------------------------------------------------------------------

// Empties the pool: 4096 bytes below gameplay version 1721, else 8192.
void initialize_monster_map_action_memory_pool_for_new_map(void);
// The block size of a behaviour tag: 20, 12 or 8; 0 for any other tag.
int32_t get_map_action_data_size(action_tag tag);
// Gives the unit its private action of `tag` and, when the tag has a record
// and the pool has room, its block.  False when no action could be made.
bool create_map_action_for_monster(int32_t monster_index, action_tag tag);
// A new unit (the map actions' table) whose monster definition names a behaviour
// (`map_action_tag`, NONE or 0: none) gets its script; false when it names
// none or no action could be made.
bool create_map_action_for_new_monster(int32_t monster_index);
// Moves the blocks of the living units to the front of the pool, in unit
// order, each copied with the size it was allocated with.
void compact_map_action_memory_pool(void);
int32_t get_free_space_left_in_pool(void);
int32_t get_memory_pool_size(void);
// The unit's block, or null when it has none.
void *get_monster_map_action_data(int32_t monster_index);

// ---- the procedures ---------------------------------------------------------------

typedef void (*ambient_behaviour_procedure)(int32_t monster_index);
// Runs `behaviour` for each subject of the action that has a block and can
// act; returns 0.
uint32_t ambient_action_proc(int32_t action_index, ambient_behaviour_procedure behaviour);

void bear_action(int32_t monster_index);
void chicken_action(int32_t monster_index);
void deer_action(int32_t monster_index);
void peasant_action(int32_t monster_index);
void soaring_action(int32_t monster_index);

uint32_t bear_action_proc(int32_t action_index);
uint32_t chicken_action_proc(int32_t action_index);
uint32_t deer_action_proc(int32_t action_index);
uint32_t peasant_action_proc(int32_t action_index);
uint32_t soaring_action_proc(int32_t action_index);

// The state hash's contribution: the pool's sizes and the bytes in use.
void hash_monster_ambient_life(uint32_t *hash);
