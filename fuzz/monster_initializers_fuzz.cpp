// Arbitrary bytes as a veterans blob, as a film or a cooperative peer could
// hand it over: the import must refuse every length that is not whole records
// without touching the set, and a set it takes must export the same records
// (flags cleared) and answer lookups without reading outside itself.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "monster_initializers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 64 * 1024) return 0;
    reset_monster_initializers();
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
    if (size) memcpy(copy, data, size);
    const bool taken = import_monster_initializers(copy, (int32_t)size);
    int32_t length = -1;
    export_monster_initializers(nullptr, &length);
    if (taken != (length == (int32_t)size)) abort();
    if (taken && length > 0)
    {
        uint8_t *out = (uint8_t *)malloc((size_t)length);
        export_monster_initializers(out, &length);
        for (int32_t i = 0; i < length; ++i)
            if (out[i] != ((i % 40) < 4 ? 0 : copy[i])) abort();
        free(out);
        // Lookups for a player that does not exist find nothing.
        if (get_monster_initializer(0, 0, 0)) abort();
    }
    free(copy);
    return 0;
}
