#pragma once
// The scripts' scans of the units near a point, cell by cell of the mesh.
// The order is part of the simulation (the first of equals wins, and what a
// scan finds decides later draws), so every scan walks the same way.

#include <cstdint>

#include "mesh.h"
#include "monsters.h"
#include "objects.h"
#include "script_math.h"
#include "tag_files/data.h"

// Calls visit(object, unit) for each unit object not flagged invisible in the
// square of cells `width` each side of the cell under `position`, clamped to
// the mesh: rows in increasing y, cells in increasing x, each cell's chain in
// order.  A chain longer than the object array (a damaged one) is left there.
// `visit` returns true to end the scan.
template <typename visitor>
void scan_unit_objects_near(world_point2d position, int32_t width, visitor visit)
{
    if (width < 0 || mesh_width < 1 || mesh_height < 1) return;
    const auto clamp_cell = [](int64_t value, int32_t size) {
        return value < 0 ? 0 : (value >= size ? size - 1 : (int32_t)value);
    };
    const int32_t cell_x = asr32(position.x, 9), cell_y = asr32(position.y, 9);
    const int32_t left = clamp_cell((int64_t)cell_x - width, mesh_width);
    const int32_t right = clamp_cell((int64_t)cell_x + width, mesh_width);
    const int32_t top = clamp_cell((int64_t)cell_y - width, mesh_height);
    const int32_t bottom = clamp_cell((int64_t)cell_y + width, mesh_height);
    const datum_globals *objects = get_object_array();
    for (int32_t y = top; y <= bottom; y++)
        for (int32_t x = left; x <= right; x++)
        {
            int32_t steps = 0;
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE && steps <= objects->count;
                 steps++)
            {
                const object_data *other = get_object(index);
                if (!other) break;
                index = other->next_object_index;
                if (other->owner != _object_is_monster || (other->flags & _object_is_invisible_flag)) continue;
                const monster_data *unit = get_monster_data(other->owner_index);
                if (unit && visit(other, unit)) return;
            }
        }
}
