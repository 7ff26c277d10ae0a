// Heap sort and LSD radix sorts.

#include "cseries/sorting.h"

#include <cstring>

enum
{
    RADIX_DIGIT_BITS = 11,
    RADIX_BUCKETS = 1 << RADIX_DIGIT_BITS,
    RADIX_DIGIT_MASK = RADIX_BUCKETS - 1,
    RADIX_MAXIMUM_PASSES = 3,
};

// ---- heap sort ----------------------------------------------------------

static void swap_elements(unsigned char *a, unsigned char *b, size_t size)
{
    unsigned char chunk[64];
    while (size > 0)
    {
        const size_t n = size < sizeof(chunk) ? size : sizeof(chunk);
        memcpy(chunk, a, n);
        memcpy(a, b, n);
        memcpy(b, chunk, n);
        a += n;
        b += n;
        size -= n;
    }
}

// Moves element `root` down the max-heap of `count` elements until both its
// children are no greater.
static void sift_down(unsigned char *base, size_t root, size_t count, size_t size,
                      int (*compare)(const void *, const void *))
{
    for (;;)
    {
        size_t child = 2 * root + 1;
        if (child >= count) return;
        if (child + 1 < count && compare(base + child * size, base + (child + 1) * size) < 0)
        {
            ++child;
        }
        if (compare(base + root * size, base + child * size) >= 0) return;
        swap_elements(base + root * size, base + child * size, size);
        root = child;
    }
}

void qsort_private(void *base, size_t count, size_t element_size,
                   int (*compare)(const void *a, const void *b))
{
    if (count < 2 || element_size == 0 || !base || !compare) return;
    unsigned char *bytes = (unsigned char *)base;
    for (size_t i = count / 2; i-- > 0;) sift_down(bytes, i, count, element_size, compare);
    for (size_t end = count - 1; end > 0; --end)
    {
        swap_elements(bytes, bytes + end * element_size, element_size);
        sift_down(bytes, 0, end, element_size, compare);
    }
}

// ---- radix sorts --------------------------------------------------------

static inline uint32_t radix_digit(uint32_t key, int32_t pass)
{
    return (key >> (pass * RADIX_DIGIT_BITS)) & RADIX_DIGIT_MASK;
}

// Turns each pass's digit counts into the starting position of each bucket.
// The digits of a key do not change as it moves, so counts taken once, before
// the first pass, hold for every pass.
static void radix_counts_to_offsets(uint32_t offsets[RADIX_MAXIMUM_PASSES][RADIX_BUCKETS],
                                    int32_t passes)
{
    for (int32_t pass = 0; pass < passes; ++pass)
    {
        uint32_t total = 0;
        for (uint32_t bucket = 0; bucket < RADIX_BUCKETS; ++bucket)
        {
            const uint32_t n = offsets[pass][bucket];
            offsets[pass][bucket] = total;
            total += n;
        }
    }
}

uint32_t *fastradix(uint32_t *keys, uint32_t *buffer1, uint32_t *buffer2,
                    int32_t count, int32_t passes, int32_t mode)
{
    if (passes < 1 || passes > RADIX_MAXIMUM_PASSES || count < 0) return nullptr;
    if (mode != radix_mode_keys && mode != radix_mode_indices) return nullptr;
    if (count > 0 && (!keys || !buffer1 || (passes > 1 && !buffer2))) return nullptr;

    const uint32_t n = (uint32_t)count;
    uint32_t offsets[RADIX_MAXIMUM_PASSES][RADIX_BUCKETS];
    memset(offsets, 0, sizeof(offsets));
    for (uint32_t i = 0; i < n; ++i)
    {
        for (int32_t pass = 0; pass < passes; ++pass) ++offsets[pass][radix_digit(keys[i], pass)];
    }
    radix_counts_to_offsets(offsets, passes);

    if (mode == radix_mode_keys)
    {
        // keys -> buffer1 -> buffer2 -> keys; one pass sorts into buffer1 and
        // copies back, two end with buffer1 -> keys.
        uint32_t *const targets[RADIX_MAXIMUM_PASSES] = {
            buffer1, passes == 2 ? keys : buffer2, keys};
        const uint32_t *source = keys;
        for (int32_t pass = 0; pass < passes; ++pass)
        {
            uint32_t *target = targets[pass];
            uint32_t *offset = offsets[pass];
            for (uint32_t i = 0; i < n; ++i)
            {
                const uint32_t key = source[i];
                target[offset[radix_digit(key, pass)]++] = key;
            }
            source = target;
        }
        if (passes == 1 && n > 0) memcpy(keys, buffer1, n * sizeof(uint32_t));
        return keys;
    }

    // Indices: the first pass reads keys in input order and writes indexes into
    // buffer1; later passes alternate buffer1 -> buffer2 -> buffer1.
    {
        uint32_t *offset = offsets[0];
        for (uint32_t i = 0; i < n; ++i) buffer1[offset[radix_digit(keys[i], 0)]++] = i;
    }
    uint32_t *source = buffer1, *target = buffer2;
    for (int32_t pass = 1; pass < passes; ++pass)
    {
        uint32_t *offset = offsets[pass];
        for (uint32_t i = 0; i < n; ++i)
        {
            const uint32_t index = source[i];
            target[offset[radix_digit(keys[index], pass)]++] = index;
        }
        uint32_t *swap = source;
        source = target;
        target = swap;
    }
    return source;
}

static inline uint32_t load_key(const unsigned char *keys, uint32_t i)
{
    uint32_t key;
    memcpy(&key, keys + (size_t)i * sizeof(uint32_t), sizeof(key));
    return key;
}

static inline void store_key(unsigned char *keys, uint32_t i, uint32_t key)
{
    memcpy(keys + (size_t)i * sizeof(uint32_t), &key, sizeof(key));
}

void **radix_sort_struct_pointers2(void **pointers, void **scratch, int32_t count,
                                   int32_t byte_offset, uint32_t mask, bool in_place)
{
    if (count < 0 || (count > 0 && !pointers)) return nullptr;
    // With no bits under the mask every key is equal: the input order stands.
    if (count < 2 || mask == 0) return pointers;
    if (!scratch) return nullptr;

    const int32_t shift = __builtin_ctz(mask);
    const uint32_t shifted_mask = mask >> shift;
    const int32_t passes = shifted_mask < (1u << RADIX_DIGIT_BITS)       ? 1
                           : shifted_mask < (1u << (2 * RADIX_DIGIT_BITS)) ? 2
                                                                           : 3;
    const uint32_t n = (uint32_t)count;

    // The scratch's first two thirds are the two pointer arrays that the
    // passes alternate between; the last third holds the two key arrays that
    // travel with them (a pointer has room for two 32-bit keys).
    static_assert(sizeof(void *) >= 2 * sizeof(uint32_t), "the key arrays need 8-byte pointers");
    void **const pointer_arrays[2] = {scratch, scratch + n};
    unsigned char *const key_arrays[2] = {(unsigned char *)(scratch + 2 * (size_t)n),
                                          (unsigned char *)(scratch + 2 * (size_t)n) +
                                              (size_t)n * sizeof(uint32_t)};

    // Each structure's word is read once, through memcpy since byte_offset
    // need not be aligned; its key then travels beside its pointer.
    uint32_t offsets[RADIX_MAXIMUM_PASSES][RADIX_BUCKETS];
    memset(offsets, 0, sizeof(offsets));
    for (uint32_t i = 0; i < n; ++i)
    {
        uint32_t word;
        memcpy(&word, (const unsigned char *)pointers[i] + byte_offset, sizeof(word));
        const uint32_t key = (word & mask) >> shift;
        store_key(key_arrays[1], i, key);
        for (int32_t pass = 0; pass < passes; ++pass) ++offsets[pass][radix_digit(key, pass)];
    }
    radix_counts_to_offsets(offsets, passes);

    void **source = pointers;
    const unsigned char *source_keys = key_arrays[1];
    for (int32_t pass = 0; pass < passes; ++pass)
    {
        void **target = pointer_arrays[pass & 1];
        unsigned char *target_keys = key_arrays[pass & 1];
        uint32_t *offset = offsets[pass];
        const bool last = pass == passes - 1;
        for (uint32_t i = 0; i < n; ++i)
        {
            const uint32_t key = load_key(source_keys, i);
            const uint32_t position = offset[radix_digit(key, pass)]++;
            target[position] = source[i];
            if (!last) store_key(target_keys, position, key);
        }
        source = target;
        source_keys = target_keys;
    }

    if (!in_place) return source;
    memcpy(pointers, source, n * sizeof(void *));
    return pointers;
}
