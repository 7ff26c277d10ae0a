#pragma once
// Sorting: a heap sort for small tables and stable LSD radix sorts for the
// renderer's depth keys.

#include <cstddef>
#include <cstdint>

// Sorts `count` elements of `element_size` bytes at `base` in place by a
// three-way comparison (negative puts the first before the second).  A heap
// sort: equal elements keep no particular order.  No context argument.
void qsort_private(void *base, size_t count, size_t element_size,
                   int (*compare)(const void *a, const void *b));

enum radix_mode
{
    radix_mode_keys = 1,    // the sorted keys end in `keys`, which is returned
    radix_mode_indices = 2, // `keys` stay; the index permutation is returned
};

// Stable least-significant-digit radix sort of unsigned 32-bit keys with 11-bit
// digits: 1 pass orders by bits 0-10, 2 by bits 0-21, 3 by the whole key.
// `buffer1` and `buffer2` hold at least `count` words each.
// Mode keys: the sorted keys are written back into `keys`, which is returned.
// Mode indices: `keys` are untouched; returns the buffer holding the
// permutation of indexes in ascending key order (buffer1 after 3 passes).
// Returns null for a bad pass count or mode.
uint32_t *fastradix(uint32_t *keys, uint32_t *buffer1, uint32_t *buffer2,
                    int32_t count, int32_t passes, int32_t mode);

// Stable ascending sort of `count` structure pointers by
// ((32-bit host word at `byte_offset`) & mask) >> (trailing zero bits of mask),
// in 1, 2 or 3 passes of 11 bits as the shifted mask is below 2^11, below 2^22
// or larger.  `scratch` holds 3 * count pointers (elements, not bytes).
// With `in_place` the result is copied back into `pointers`, which is returned;
// otherwise the returned array is `pointers` or a part of `scratch`.
void **radix_sort_struct_pointers2(void **pointers, void **scratch, int32_t count,
                                   int32_t byte_offset, uint32_t mask, bool in_place);
