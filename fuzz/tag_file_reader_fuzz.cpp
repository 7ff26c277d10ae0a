// Arbitrary bytes as a monolithic tag file and as a local tag file, checked
// by the store's readers; every tag a reader accepts must lie inside the
// buffer.  Nothing may crash or read outside it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/cseries.h"
#include "fuzz_support.h"
#include "tag_files/tag_file_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 20)) return 0;
    // A copy of exactly `size` bytes, so that any read past it is caught.
    uint8_t *bytes = copy_fuzz_input(data, size);
    if (!bytes) return 0;

    monolithic_tag_file_header header;
    monolithic_tag_entry *entries = nullptr;
    for (int verify = 0; verify < 2; verify++)
    {
        if (monolithic_tag_file_parse("fuzz", bytes, (int64_t)size, verify != 0, &header, &entries))
        {
            uint32_t sum = 0;
            for (int32_t i = 0; i < header.tag_count; i++)
            {
                if ((int64_t)entries[i].offset + entries[i].size > (int64_t)size) abort();
                if (entries[i].size > 0) sum += bytes[entries[i].offset + entries[i].size - 1];
            }
            (void)sum;
            free(entries);
            entries = nullptr;
        }
    }

    local_tag_file_header local;
    memset(&local, 0, sizeof(local));
    memcpy(&local, bytes, size < sizeof(local) ? size : sizeof(local));
    if (local_tag_file_header_parse("fuzz", &local, (int64_t)size))
    {
        if ((int64_t)sizeof(local) + local.data_size > (int64_t)size) abort();
        if (!tag_name_is_valid(local.name)) abort();
    }
    free(bytes);
    return 0;
}
