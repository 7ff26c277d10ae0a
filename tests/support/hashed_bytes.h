#pragma once
// Whether a hashed record's description covers the record: each byte,
// flipped alone, changes the hash unless it lies in a field the description
// lists as left out (display-only, local), and changes nothing when it does.
// A field added to the record and to neither list is found by its bytes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct record_field
{
    const char *name;
    size_t offset, size;
};

// Every byte of the `size` bytes at `record` that breaks the rule above, one
// line each ("byte 12: hashed though listed as left out (formation_index)"),
// empty when none does.  `hash` gives the hash of the record as it stands;
// the record is left as it was.
std::string bytes_the_hash_description_misses(uint8_t *record, size_t size, const std::vector<record_field> &left_out,
                                              const std::function<uint32_t(void)> &hash);
