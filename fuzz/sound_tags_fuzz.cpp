// The sound tags' postprocessing on arbitrary bytes.  The first byte picks the
// group: 0 a 'soun' tag's whole data (the record, permutation list and sample
// block, decoded as the game would), 1 an 'amso' record, 2 a 'soli' record
// (its dependencies, then its postprocess).  Counts, offsets and sizes that
// disagree with the data must be refused or clamped, never read or written
// past.  No store is open: every sound a record names is missing.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "fuzz_support.h"
#include "sound/sound_definitions.h"

static void no_dependency(tag, tag, int16_t *index, uint32_t) { *index = NONE; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialize_sound_definitions();
        initialize_sound_definitions_for_new_map();
        initialized = true;
    }
    if (size < 1 || size > 4 * MEG) return 0;
    const uint8_t which = data[0] % 3;
    ++data, --size;
    if (which == 0)
    {
        int32_t samples;
        check_sound_tag_data(data, (int32_t)size, &samples);
        return 0;
    }
    if (which == 1)
    {
        ambient_sound_definition ambient;
        get_default_ambient_sound_definition(&ambient);
        memcpy(&ambient, data, size < sizeof(ambient) ? size : sizeof(ambient));
        byte_swap_data("ambient sound", &ambient, AMBIENT_SOUND_DEFINITION_SIZE, 1,
                       ambient_sound_definition_byte_swapping_data);
        postprocess_ambient_sound_definition(&ambient_sound_definitions, 0, NONE, &ambient);
        return 0;
    }
    sound_list_definition list;
    get_default_sound_list_definition(&list);
    memcpy(&list, data, size < sizeof(list) ? size : sizeof(list));
    byte_swap_data("sound list", &list, SOUND_LIST_DEFINITION_SIZE, 1, sound_list_definition_byte_swapping_data);
    sound_list_definition_dependencies(&sound_list_definitions, 0, NONE, &list, no_dependency);
    postprocess_sound_list_definition(&sound_list_definitions, 0, NONE, &list);
    return 0;
}
