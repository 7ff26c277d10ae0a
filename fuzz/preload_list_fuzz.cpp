// The 'prel' reader on arbitrary bytes: whatever it accepts must keep its
// promise (every record inside the data, counts within the limits) and must
// encode back to a list it accepts again with the same records.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vesk/preloading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x10000) return 0;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
    preload_list *list = (preload_list *)malloc(sizeof(preload_list));
    preload_list *again = (preload_list *)malloc(sizeof(preload_list));
    if (!copy || !list || !again) abort();
    if (size) memcpy(copy, data, size);

    if (read_preload_tag_data(copy, (int32_t)size, list) == nullptr)
    {
        const preload_definition *h = &list->header;
        if (h->preload_data_count < 0 || h->preload_data_count > MAXIMUM_PRELOADED_TAGS_PER_MAP ||
            h->bitmap_preload_data_count < 0 || h->bitmap_preload_data_count > MAXIMUM_PRELOADED_TAGS_PER_MAP)
            abort();
        if (h->preload_data_count && (int64_t)h->preload_data_offset + h->preload_data_size > (int64_t)size) abort();
        if (h->bitmap_preload_data_count &&
            (int64_t)h->bitmap_preload_data_offset + h->bitmap_preload_data_size > (int64_t)size)
            abort();
        const int32_t needed = encode_preload_tag_data(list->tags, h->preload_data_count, list->bitmaps,
                                                       h->bitmap_preload_data_count, nullptr, 0);
        uint8_t *encoded = (uint8_t *)malloc((size_t)needed);
        if (!encoded || encode_preload_tag_data(list->tags, h->preload_data_count, list->bitmaps,
                                                h->bitmap_preload_data_count, encoded, needed) != needed)
            abort();
        if (read_preload_tag_data(encoded, needed, again) != nullptr) abort();
        if (again->header.preload_data_count != h->preload_data_count ||
            memcmp(again->tags, list->tags, sizeof(preload_data) * (size_t)h->preload_data_count) != 0 ||
            memcmp(again->bitmaps, list->bitmaps, sizeof(bitmap_preload_data) * (size_t)h->bitmap_preload_data_count) != 0)
            abort();
        free(encoded);
    }
    free(again);
    free(list);
    free(copy);
    return 0;
}
