#pragma once
// The per-tick unit update: the staggered target scan, then every unit on the
// map in index order (units made during the loop at higher indexes included):
// a pending order turned into a path and an action, timers, artifact expiry,
// confusion, the unit's action procedure and its mana.
//
// Simulation: integer arithmetic (the interception predictor's discriminant
// wraps in 32 bits on purpose); the draws are the confused wander's and those
// of the modules called (docs/determinism.md, "The per-tick update").  Main
// thread only, inside the game tick.

#include <cstdint>

#include "world.h"

enum
{
    MONSTER_FAR_DISTANCE = 512000, // no threat in reach
    MINIMUM_DISTANCE_FROM_PATH_DESTINATION = 85, // a shorter leg counts as arrived
    MINIMUM_PICK_UP_DISTANCE = 256,
    MAXIMUM_INTERCEPTION_OFFSET = 10239, // world units, each axis
    MAXIMUM_OLD_INTERCEPTION_OFFSET = 7680, // signed, up to version 1720
    INTERCEPTION_CELL_CHECK_WIDTH = 5,
    MAXIMUM_INTERCEPTION_TICKS = 300,
};

// The tick's unit step above gameplay version 1300: the scan, then for each
// unit on the map its entrance projectile group (once, after the pregame) and
// update_monster.  A unit whose object is gone is logged and skipped.
void update_monsters(void);
// The same up to version 1300, without the object check and the entrance groups.
void update_monsters_13(void);
// One unit's tick.  Nothing for a free slot or a unit without an object or
// definition.
void update_monster(int32_t monster_index);

// Where the unit heads to meet its target unit: the target's position moved
// along its velocity by the predicted meeting time (at most 300 ticks),
// clamped into the mesh; the target's position when no lead applies.  False,
// with `destination` untouched, when either unit or its object is missing.
bool predict_interception_point(int32_t monster_index, int32_t target_index, world_point2d *destination);

// Registers update_monsters and update_monsters_13 at the tick's two unit
// steps (game/subsystems.cpp).
void register_monster_update_hooks(void);
