// Arbitrary bytes as an encoded plug-in list from a film or a peer.  The
// decoders must stay inside the 512 bytes they are given and never report
// more than 16 plug-ins.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/cseries.h"
#include "tag_files/plugins.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly 512 bytes in their own allocation: short inputs are padded
    // with zeros, long ones cut.
    uint8_t *list = (uint8_t *)calloc(1, ENCODED_PLUGIN_LIST_SIZE);
    if (!list) return 0;
    memcpy(list, data, size < ENCODED_PLUGIN_LIST_SIZE ? size : ENCODED_PLUGIN_LIST_SIZE);

    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0, highest = 0;
    char reason[MAXIMUM_PLUGIN_REASON_TEXT];
    tag_file_plugins_decode(indexes, &count, list, &highest, reason, sizeof(reason));
    if (count < 0 || count > MAXIMUM_PLUGINS_PER_GAME) abort();

    missing_plugin_info missing[MAXIMUM_MISSING_PLUGINS];
    int32_t missing_count = tag_file_plugins_decode_missing(list, ENCODED_PLUGIN_LIST_SIZE, missing, MAXIMUM_MISSING_PLUGINS);
    if (missing_count > MAXIMUM_PLUGINS_PER_GAME) abort();
    // A shorter buffer than the list: only its own bytes may be looked at.
    int32_t short_size = (int32_t)(size % ENCODED_PLUGIN_LIST_SIZE);
    uint8_t *part = (uint8_t *)malloc(short_size ? (size_t)short_size : 1);
    if (part)
    {
        memcpy(part, list, (size_t)short_size);
        tag_file_plugins_decode_missing(part, short_size, missing, 4);
        free(part);
    }
    char name[64];
    get_mesh_display_name_in_plugin_list(FOUR_CHARACTER_CODE('m', 'a', 'p', '1'), name, sizeof(name), list,
                                         ENCODED_PLUGIN_LIST_SIZE);
    free(list);
    return 0;
}
