// Arbitrary bytes as the fields of a sketch command, as a film or a peer could
// hand them over: the reader must refuse bad counts and missing terminators
// without reading past the command, and the points it accepts must stay on the
// picture and within the visible points once the map takes them.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "commands.h"
#include "overhead_map.h"
#include "overhead_map_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static overhead_map_globals *overhead = [] {
        overhead_map_globals *globals = get_overhead_map_globals();
        globals->original_bitmap = new_bitmap(100, 60, 0, _8bit_encoding, 0);
        globals->sketch_point_granularity_x = globals->sketch_point_granularity_y = 1;
        return globals;
    }();
    if (size > MAXIMUM_COMMAND_SIZE - sizeof(command_header)) return 0;

    // An exact-size copy, so that a read past the end is caught.
    const size_t total = sizeof(command_header) + size;
    uint8_t *copy = (uint8_t *)malloc(total);
    if (!copy) return 0;
    memcpy(copy + sizeof(command_header), data, size);
    command_header *command = (command_header *)copy;
    command->size = (int16_t)total;
    command->verb = _command_sketch;
    command->player_index = 0;
    command->time = 0;

    command_sketch_data sketch;
    int32_t count = -1;
    sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
    if (decode_sketch_command(command, &sketch, &count, points))
    {
        if (count < 0 || count > MAXIMUM_POINTS_PER_SKETCH_COMMAND) abort();
        if (count > 0 && (points[count - 1].x || points[count - 1].y)) abort();
        submit_sketch_points_to_overhead_map(1, count, points);
        if (overhead->visible_sketch_point_count < 0 ||
            overhead->visible_sketch_point_count > MAXIMUM_VISIBLE_SKETCH_POINTS)
            abort();
        for (int32_t i = 0; i < overhead->visible_sketch_point_count; ++i)
            if (overhead->visible_sketch_points[i].x > 99 || overhead->visible_sketch_points[i].y > 59) abort();
    }
    free(copy);
    return 0;
}
