// The heap sort and the radix sorts against standard-library references.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "cseries/sorting.h"

namespace sorting_test_file {

namespace {

// Keys whose three 11-bit digits come from a few edge values, so that equal
// keys, and keys equal in their low digits only, are common.
std::vector<uint32_t> keys_with_duplicates(size_t count, uint32_t seed)
{
    static const uint32_t digits[] = {0, 1, 0x2A5, 0x3FF, 0x400, 0x7FF};
    std::mt19937 random(seed);
    std::vector<uint32_t> keys(count);
    for (uint32_t &key : keys)
    {
        const uint32_t low = digits[random() % 6], middle = digits[random() % 6], high = digits[random() % 6];
        key = (high << 22) | (middle << 11) | low;
    }
    return keys;
}

const uint32_t sorted_bits_by_passes[] = {0, 0x7FF, 0x3FFFFF, 0xFFFFFFFF};

TEST(sorting, fastradix_keys_match_a_stable_sort_of_the_sorted_bits)
{
    for (size_t count : {0u, 1u, 2u, 5000u})
    {
        for (int32_t passes = 1; passes <= 3; ++passes)
        {
            SCOPED_TRACE(testing::Message() << count << " keys, " << passes << " passes");
            std::vector<uint32_t> keys = keys_with_duplicates(count, 7 + passes);
            std::vector<uint32_t> expected = keys;
            const uint32_t bits = sorted_bits_by_passes[passes];
            // Keys equal in the sorted bits but not elsewhere reveal an unstable pass.
            std::stable_sort(expected.begin(), expected.end(),
                             [bits](uint32_t a, uint32_t b) { return (a & bits) < (b & bits); });
            std::vector<uint32_t> buffer1(count), buffer2(count);
            EXPECT_EQ(fastradix(keys.data(), buffer1.data(), buffer2.data(), (int32_t)count, passes,
                                radix_mode_keys),
                      keys.data());
            EXPECT_EQ(keys, expected);
        }
    }
}

TEST(sorting, fastradix_indices_leave_keys_and_return_the_permutation_buffer)
{
    for (size_t count : {0u, 1u, 2u, 5000u})
    {
        for (int32_t passes = 1; passes <= 3; ++passes)
        {
            SCOPED_TRACE(testing::Message() << count << " keys, " << passes << " passes");
            std::vector<uint32_t> keys = keys_with_duplicates(count, 100 + passes);
            const std::vector<uint32_t> original = keys;
            std::vector<uint32_t> expected(count);
            std::iota(expected.begin(), expected.end(), 0u);
            const uint32_t bits = sorted_bits_by_passes[passes];
            std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
                return (keys[a] & bits) < (keys[b] & bits);
            });
            std::vector<uint32_t> buffer1(count), buffer2(count);
            uint32_t *result = fastradix(keys.data(), buffer1.data(), buffer2.data(), (int32_t)count,
                                         passes, radix_mode_indices);
            EXPECT_EQ(result, passes == 2 ? buffer2.data() : buffer1.data());
            if (count == 0) continue; // empty vectors have no storage to point at
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(std::vector<uint32_t>(result, result + count), expected);
            EXPECT_EQ(keys, original);
        }
    }
}

TEST(sorting, fastradix_refuses_bad_passes_and_modes)
{
    uint32_t keys[2] = {2, 1}, buffer1[2], buffer2[2];
    EXPECT_EQ(fastradix(keys, buffer1, buffer2, 2, 0, radix_mode_keys), nullptr);
    EXPECT_EQ(fastradix(keys, buffer1, buffer2, 2, 4, radix_mode_keys), nullptr);
    EXPECT_EQ(fastradix(keys, buffer1, buffer2, 2, 1, 3), nullptr);
    EXPECT_EQ(fastradix(keys, buffer1, buffer2, -1, 1, radix_mode_keys), nullptr);
    EXPECT_EQ(keys[0], 2u);
}

struct sortable_record
{
    unsigned char bytes[24];
};

TEST(sorting, struct_pointer_radix_sort_is_stable_for_each_mask_and_offset)
{
    struct row
    {
        uint32_t mask;
        int32_t byte_offset;
    };
    const row rows[] = {
        {0x7FF, 0},          {0x7FF, 3},      // one pass; an unaligned word
        {0x1FFFFF, 8},       {0xFFFF0000, 5}, // two passes
        {0xFFFFFFFF, 20},    {0xFFFFFF00, 1}, // three passes
        {0x00000100, 4},                      // a single bit
    };
    const int32_t count = 3000;
    std::mt19937 random(1234);
    std::vector<sortable_record> records(count);
    for (const row &r : rows)
    {
        for (bool in_place : {false, true})
        {
            SCOPED_TRACE(testing::Message() << std::hex << "mask " << r.mask << std::dec << " offset "
                                            << r.byte_offset << (in_place ? " in place" : ""));
            // Words drawn from a small pool: many records share a key.
            uint32_t pool[40];
            for (uint32_t &word : pool) word = random();
            for (sortable_record &record : records)
            {
                for (unsigned char &byte : record.bytes) byte = (unsigned char)random();
                memcpy(record.bytes + r.byte_offset, &pool[random() % 40], sizeof(uint32_t));
            }
            auto key_of = [&](const void *p) {
                uint32_t word;
                memcpy(&word, (const unsigned char *)p + r.byte_offset, sizeof(word));
                return (word & r.mask) >> __builtin_ctz(r.mask);
            };

            std::vector<void *> pointers(count);
            for (int32_t i = 0; i < count; ++i) pointers[i] = &records[i];
            std::vector<void *> expected = pointers;
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const void *a, const void *b) { return key_of(a) < key_of(b); });

            // Exactly 3 * count pointers: the sanitizer catches any use beyond.
            std::vector<void *> scratch(3 * count);
            void **result = radix_sort_struct_pointers2(pointers.data(), scratch.data(), count,
                                                        r.byte_offset, r.mask, in_place);
            ASSERT_NE(result, nullptr);
            if (in_place) { EXPECT_EQ(result, pointers.data()); }
            EXPECT_EQ(std::vector<void *>(result, result + count), expected);
        }
    }
}

TEST(sorting, struct_pointer_radix_sort_of_trivial_inputs_keeps_them)
{
    sortable_record records[2] = {};
    records[0].bytes[0] = 9;
    void *pointers[2] = {&records[0], &records[1]};
    void *scratch[6];
    EXPECT_EQ(radix_sort_struct_pointers2(pointers, scratch, 0, 0, 0xFF, false), pointers);
    EXPECT_EQ(radix_sort_struct_pointers2(pointers, scratch, 1, 0, 0xFF, false), pointers);
    // No bits under the mask: all keys are equal, the order stands.
    void **result = radix_sort_struct_pointers2(pointers, scratch, 2, 0, 0, true);
    EXPECT_EQ(result[0], &records[0]);
    EXPECT_EQ(result[1], &records[1]);
}

template <size_t SIZE>
struct heap_element
{
    unsigned char bytes[SIZE];
};

// The first byte (or the first int32 for SIZE 4) is the key; the rest of the
// element is derived from the key, so equal keys are equal elements and the
// result is comparable with std::sort byte for byte.
template <size_t SIZE>
void check_qsort_private(size_t count, uint32_t seed)
{
    SCOPED_TRACE(testing::Message() << "element size " << SIZE << ", count " << count);
    std::mt19937 random(seed);
    std::vector<heap_element<SIZE>> elements(count);
    for (heap_element<SIZE> &element : elements)
    {
        const int32_t key = (int32_t)(random() % 64) - 32;
        if (SIZE >= sizeof(int32_t))
        {
            memcpy(element.bytes, &key, sizeof(key));
            for (size_t i = sizeof(key); i < SIZE; ++i) element.bytes[i] = (unsigned char)(key * 31 + (int32_t)i);
        }
        else
        {
            element.bytes[0] = (unsigned char)key;
        }
    }
    auto compare = [](const void *a, const void *b) -> int {
        if (SIZE >= sizeof(int32_t))
        {
            int32_t ka, kb;
            memcpy(&ka, a, sizeof(ka));
            memcpy(&kb, b, sizeof(kb));
            return ka < kb ? -1 : (ka > kb ? 1 : 0);
        }
        return (int)*(const unsigned char *)a - (int)*(const unsigned char *)b;
    };
    std::vector<heap_element<SIZE>> expected = elements;
    std::sort(expected.begin(), expected.end(),
              [&](const heap_element<SIZE> &a, const heap_element<SIZE> &b) { return compare(&a, &b) < 0; });
    qsort_private(elements.data(), count, SIZE, compare);
    EXPECT_TRUE(count == 0 || memcmp(elements.data(), expected.data(), count * SIZE) == 0);
}

TEST(sorting, qsort_private_matches_std_sort_for_each_element_size)
{
    for (size_t count : {0u, 1u, 2u, 1000u})
    {
        check_qsort_private<1>(count, 1);
        check_qsort_private<4>(count, 2);
        check_qsort_private<24>(count, 3);
        check_qsort_private<100>(count, 4); // larger than the swap chunk
    }
}

} // namespace

} // namespace sorting_test_file
