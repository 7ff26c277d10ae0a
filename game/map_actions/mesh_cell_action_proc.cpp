// 'mece': hides or shows terrain cells and sets their terrain type.

#include "world_action_procs.h"

#include "action_procs.h"
#include "map_action_engine.h"
#include "mesh.h"
#include "path.h"
#include "script_math.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MESH_CELL_POINTS = 64,
    MESH_CELL_TERRAIN_MASK = 0x00FF, // the two triangles' 4-bit terrain types
};

uint32_t mesh_cell_action_proc(int32_t action_index)
{
    world_point2d points[MAXIMUM_MESH_CELL_POINTS];
    const int32_t count = get_combined_map_action_parameter(action_index, field('p', 'n', 't', 's'),
                                                            _parameter_world_point2d, points, MAXIMUM_MESH_CELL_POINTS);
    if (count == 0)
    {
        map_action_debug(action_index, "No cells found for operation!");
        return 0;
    }
    uint16_t mask = 0xFFFF, bits = 0;
    const uint16_t hidden = FLAG(_mesh_cell_is_not_rendered_bit);
    int32_t kill;
    if (first_long(action_index, field('k', 'i', 'l', 'l'), _parameter_integer, &kill))
    {
        mask &= (uint16_t)~hidden;
        if (kill)
        {
            map_action_debug(action_index, "Killing cells");
            bits |= hidden;
        }
        else
            map_action_debug(action_index, "Unkilling cells");
    }
    int32_t terrain;
    if (first_long(action_index, field('t', 'e', 'c', 'o'), _parameter_integer, &terrain))
    {
        map_action_debug(action_index, "Setting terrain cost to %d", terrain);
        mask &= (uint16_t)~MESH_CELL_TERRAIN_MASK;
        // Masked to the terrain byte: a value of 16 or more must not reach
        // the media or hidden bits above it.
        bits |= (uint16_t)(((uint32_t)terrain << 4 | (uint32_t)terrain) & MESH_CELL_TERRAIN_MASK);
    }
    for (int32_t i = 0; i < count; i++)
    {
        const int32_t x = asr32(points[i].x, 9), y = asr32(points[i].y, 9);
        if (!mesh_cell_in_bounds(x, y))
        {
            map_action_debug(action_index, "Cell out of bounds: %d not in [0, %d] or %d not in [0, %d]!", x,
                             mesh_width - 1, y, mesh_height - 1);
            continue;
        }
        mesh_cell *cell = get_mesh_cell(x, y);
        cell->flags = (uint16_t)((cell->flags & mask) | bits);
        update_monster_impassability_for_cell(x, y);
    }
    return _map_action_proc_succeeded_flag;
}
