// The string-list reader on arbitrary bytes: whatever it accepts must keep its
// promise, every row a text that ends inside the data.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "fuzz_support.h"
#include "vesk/string_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (size_t)MAXIMUM_STRING_LIST_DATA_SIZE) return 0;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;

    const int32_t count = validate_string_list_data(copy, (int32_t)size);
    if (count != NONE)
    {
        for (int32_t row = 0; row < count; ++row)
        {
            const uint32_t offset = read_be32(copy + STRING_LIST_HEADER_SIZE + 4 * row);
            const uint8_t *text = copy + offset;
            if (!memchr(text, 0, size - offset)) abort();
        }
    }
    free(copy);
    return 0;
}
