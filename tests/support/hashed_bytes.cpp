#include "support/hashed_bytes.h"

std::string bytes_the_hash_description_misses(uint8_t *record, size_t size, const std::vector<record_field> &left_out,
                                              const std::function<uint32_t(void)> &hash)
{
    const uint32_t before = hash();
    std::string misses;
    for (size_t at = 0; at < size; ++at)
    {
        const char *field = nullptr;
        for (const record_field &f : left_out)
            if (at >= f.offset && at < f.offset + f.size) field = f.name;
        record[at] ^= 0xFF;
        const bool changed = hash() != before;
        record[at] ^= 0xFF;
        if (changed == (field == nullptr)) continue;
        misses += "byte " + std::to_string(at) +
                  (field ? std::string(": hashed though listed as left out (") + field + ")\n"
                         : ": neither hashed nor listed as left out\n");
    }
    return misses;
}
