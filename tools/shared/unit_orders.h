#pragma once
// The timed unit orders of `vesk_sim --orders FILE` (and `vesk_shot`'s): read
// from the file, then given at their ticks through the game's own command
// builders as the commands of the player each line names.  The syntax is in
// docs/determinism.md.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "world.h"

// The players a file's lines may name: a network game of four sides.
enum : int16_t
{
    MAXIMUM_ORDER_PLAYERS = 4,
};
struct unit_order
{
    int32_t line;   // in the file, for messages
    int32_t tick;   // the game time at which it runs
    int16_t player; // 0 to MAXIMUM_ORDER_PLAYERS - 1
    int16_t order;  // unit_order_type (unit_orders.cpp)
    std::vector<int16_t> units;   // marker identifiers, which units take as their own
    std::vector<int16_t> targets; // the same, of the units attacked
    std::vector<world_point2d> points;
};

// Reads every line of `path`.  False with "line N: why" (or why the file
// cannot be read) in `reason` for the first line that does not parse; no
// order is kept then.
bool read_unit_orders(const char *path, std::vector<unit_order> *orders, char *reason, size_t reason_size);

// The harness's tick procedure: gives the orders of `tick` (context: the
// std::vector<unit_order> read above, in tick order).  Called between two
// ticks, before the tick `tick` starts (a tick observer may call it).
void give_unit_orders_of_tick(int32_t tick, void *context);

// Builds the order's commands as the local player's outgoing ones, which the
// game then sends as it sends a player's clicks (a network game: to the host,
// which stamps them).  Units that do not exist now are left out.
void build_unit_order_commands(const unit_order *order);
