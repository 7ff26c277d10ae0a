// Reading many records of one data array by index without a call each.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tag_files/data.h"

// The records of one array by index, as get_object or get_monster_data gives
// them (null for an index out of range or a free slot), for a loop that reads
// many: an array that never grew keeps every record in its first block.
class record_reader
{
  public:
    explicit record_reader(datum_globals *array)
        : array_(array), capacity_(array && array->blocks && array->capacity > 0 ? array->capacity : 0),
          first_(array && array->blocks && array->capacity <= array->maximum_count ? array->blocks[0] : nullptr),
          size_(array ? (size_t)array->size : 0)
    {
    }
    void *get(int32_t index) const
    {
        if ((uint32_t)index >= (uint32_t)capacity_) return nullptr; // capacity_ >= 0: one test for both ends
        if (!first_) [[unlikely]] return get_datum(array_, index);
        uint8_t *record = first_ + (size_t)index * size_;
        int16_t identifier;
        memcpy(&identifier, record, sizeof(identifier));
        return identifier != 0 ? record : nullptr;
    }

  private:
    datum_globals *array_;
    int32_t capacity_;
    uint8_t *first_;
    size_t size_;
};
