#pragma once
// Order functions: how an order turns into a unit's waypoints, target
// location, retreat point and facing.  Everything here runs inside the tick.

#include "cseries/cseries.h"
#include "world.h"

// The yaw that faces `destination` from `position`; `yaw` unchanged when the
// two points coincide (there is no direction to face).
angle adjust_yaw_for_destination(angle yaw, const world_point2d *destination, const world_point2d *position);
