// The font loader on arbitrary bytes taken as a stored 'font' tag (the
// header, then the rest of the tag): counts, offsets and character records
// that do not fit must be refused or left unindexed, never read past.

#include <cstdint>
#include <cstdlib>

#include "bitmap_text.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialized = true;
    }
    if (size > 4 * MEG) return 0;
    int32_t glyphs;
    check_font_tag_data(data, (int32_t)size, &glyphs);
    return 0;
}
