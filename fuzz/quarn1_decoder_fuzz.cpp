// The image codec's decoder on arbitrary bytes: truncated streams, sizes of 0,
// mode 3 and endless one-bits must be refused without reading outside the
// stream or writing outside the pixels; what decodes is encoded again and
// must decode to the same pixels.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "quarn1/quarn1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20)) return 0;
    uint8_t *pixels;
    int32_t width, height;
    if (!quarn1_decode(&pixels, &width, &height, data, (int32_t)size)) return 0;
    if ((int64_t)width * height <= 256 * 256)
    {
        uint8_t *stream;
        int32_t length;
        if (!quarn1_encode(pixels, width, height, &stream, &length)) abort();
        uint8_t *again;
        int32_t w, h;
        if (!quarn1_decode(&again, &w, &h, stream, length) || w != width || h != height ||
            memcmp(again, pixels, (size_t)width * height * 3) != 0)
            abort();
        free(again);
        free(stream);
    }
    free(pixels);
    return 0;
}
