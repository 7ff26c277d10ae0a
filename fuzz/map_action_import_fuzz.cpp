// The map-action import on arbitrary bytes: the first four bytes are the
// record count, the rest the stored block.  A block it accepts must export
// and import again to the same bytes and hold only deactivation modes the
// engine knows; one it refuses must leave no action.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "map_actions/map_actions.h"
#include "tag_files/data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool started = false;
    if (!started)
    {
        set_ignore_errors(true);
        if (!initialize_map_actions()) abort();
        started = true;
    }
    if (size < 4 || size > 0x20000) return 0;
    initialize_map_actions_for_new_map();
    const int32_t count = (int32_t)read_be32(data);
    const int32_t block_size = (int32_t)(size - 4);
    uint8_t *block = (uint8_t *)malloc(size);
    if (!block) abort();
    memcpy(block, data + 4, (size_t)block_size);
    if (import_map_actions(count, block_size, block, true))
    {
        // The engine halts on any other deactivation mode.
        for (int32_t i = 0; i < count; i++)
        {
            const map_action *action = get_map_action(i);
            if (action && (action->deactivation_mode < 0 ||
                           action->deactivation_mode >= NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES))
                abort();
        }
        preload_map_action_tags();
        int32_t exported_count = 0, exported_size = 0;
        uint8_t *exported = (uint8_t *)export_map_actions(&exported_count, &exported_size);
        if (!exported) abort();
        uint8_t *again = (uint8_t *)malloc(exported_size ? (size_t)exported_size : 1);
        if (!again) abort();
        memcpy(again, exported, (size_t)exported_size);
        if (!import_map_actions(exported_count, exported_size, again, true)) abort();
        free(again);
        free(exported);
    }
    else if (get_map_action_array()->count != 0 || get_map_action_parameter_buffer_size() != 0)
        abort();
    clear_pending_error();
    free(block);
    dispose_map_actions_from_old_map();
    return 0;
}
