// The font loader on arbitrary bytes taken as a stored 'font' tag (the
// header, then the rest of the tag): counts, offsets and character records
// that do not fit must be refused or left unindexed, never read past, and a
// damaged record is refused with a logged reason: an assertion is a crash
// here.  The corpus holds one damaged record of each kind.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bitmap_text.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "fuzz_support.h"

static void crash_on_assertion(const char *, int32_t, const char *message)
{
    fprintf(stderr, "font loader assertion: %s\n", message);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        set_assertion_observer(crash_on_assertion);
        initialized = true;
    }
    if (size > 4 * MEG) return 0;
    int32_t glyphs;
    check_font_tag_data(data, (int32_t)size, &glyphs);
    return 0;
}
