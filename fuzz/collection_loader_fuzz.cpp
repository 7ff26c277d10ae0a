// The collection loader on arbitrary bytes taken as a stored '.256' tag (the
// header, then the rest of the tag): the checks must refuse whatever would
// make the load read or write outside the tag or its tables, and a collection
// they accept must build its tables and ready bitmaps without doing so, and
// every bitmap it takes must expand whole (flat or run-length, one- or
// two-byte pixels) without a read outside its pixels.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "fuzz_support.h"
#include "gameplay_versions.h"
#include "shapes.h"

#include <vector>

static void expand_bitmap(const bitmap_data *bitmap, const color_table *colors)
{
    // A run-length bitmap of empty rows may be 4096 x 4096 in a few kilobytes:
    // its first rows are enough.
    const int16_t width = bitmap->width;
    const int16_t height = (int16_t)(bitmap->height < (1 << 18) / width ? bitmap->height : (1 << 18) / width);
    std::vector<uint8_t> buffer((size_t)width * height * 2);
    decompress_bitmap(colors, bitmap, buffer.data(), width, height, width, _decompress_bitmap_8, false);
    decompress_bitmap(colors, bitmap, buffer.data(), width, height, (int16_t)(2 * width), _decompress_bitmap_88, true);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        initialized = true;
    }
    if (size < 1 || size > 4 * MEG) return 0;
    // The first byte picks the gameplay version, for both key point products.
    current_gameplay_version = (data[0] & 1) ? 1709 : 1811;
    data += 1;
    size -= 1;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;
    check_collection_tag_data(copy, (int32_t)size, "fuzz", expand_bitmap);
    free(copy);
    return 0;
}
