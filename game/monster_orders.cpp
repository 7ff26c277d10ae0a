// Order functions.

#include "monster_orders.h"

angle adjust_yaw_for_destination(angle yaw, const world_point2d *destination, const world_point2d *position)
{
    const world_distance dx = destination->x - position->x;
    const world_distance dy = destination->y - position->y;
    if (dx == 0 && dy == 0) return yaw;
    return arctangent(dx, dy);
}
