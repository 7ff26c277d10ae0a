// The texture cache against its fake back end: eviction order and charges
// under a budget, reloads in place, failed callbacks, keys, resident textures,
// forgetting freed bitmaps, and a long random run against a plain model; the
// open-addressing table against the standard map; the layout of a texture.

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>
#include <unordered_map>

#include "alignhash/alignhash.h"
#include "cseries/registration.h"
#include "hardware_rasterizer.h"
#include "subsystems.h"
#include "support/texture_bitmaps.h"

namespace texture_cache_test_file {

namespace {

class texture_cache_test : public ::testing::Test
{
protected:
    fake_texture_back_end back_end;
    test_shading_table shades = make_test_shading_table(7);
    test_shading_table other_shades = make_test_shading_table(8);

    void SetUp(void) override
    {
        clear_all_registrations();
        register_texture_cache_hooks();
    }
    void TearDown(void) override
    {
        dispose_texture_cache_from_old_map();
        clear_all_registrations();
    }
    // 64 x 64 opaque 8-bit: 16384 bytes as a 32-bit texture.
    static test_bitmap square(uint8_t index = 1)
    {
        return make_flat_test_bitmap(64, 64, 0, _8bit_encoding, 1, std::vector<uint8_t>(64 * 64, index));
    }
    const cached_texture_data *look(bitmap_data *bitmap, const void *table = nullptr, uint32_t flags = 0)
    {
        cached_texture_descriptor descriptor;
        initialize_cached_texture_descriptor(&descriptor, 0, bitmap, nullptr, table ? table : shades.shade32, flags);
        return texture_cache_lookup(&descriptor);
    }
};

const int64_t SQUARE = 64 * 64 * 4;

TEST_F(texture_cache_test, least_recently_used_entries_go_first_and_charges_follow)
{
    ASSERT_TRUE(back_end.start_cache(3 * SQUARE));
    test_bitmap a = square(), b = square(), c = square(), d = square();
    struct step
    {
        bitmap_data *bitmap;
        std::vector<intptr_t> deleted;
        int64_t memory;
    } steps[] = {
        {a.get(), {}, SQUARE}, {b.get(), {}, 2 * SQUARE}, {c.get(), {}, 3 * SQUARE},
        {a.get(), {}, 3 * SQUARE}, {d.get(), {2}, 3 * SQUARE},
    };
    for (const step &s : steps)
    {
        ASSERT_NE(look(s.bitmap), nullptr);
        EXPECT_EQ(back_end.deleted, s.deleted);
        EXPECT_EQ(texture_cache_memory_use(), s.memory);
    }
    EXPECT_EQ(back_end.news, 4) << "the second look at A converted nothing";
    EXPECT_EQ((intptr_t)texture_cache_entry(0)->user_data, 4);
    EXPECT_EQ((intptr_t)texture_cache_entry(1)->user_data, 1);
}

TEST_F(texture_cache_test, reloads_in_place_and_tight_budgets_never_loop)
{
    ASSERT_TRUE(back_end.start_cache(SQUARE));
    test_bitmap a = square(), b = square();
    const cached_texture_data *first = look(a.get());
    a.get()->flags |= _bitmap_changed_flag;
    EXPECT_EQ(look(a.get()), first) << "reloaded in place";
    EXPECT_EQ(back_end.updates, 1);
    EXPECT_TRUE(back_end.deleted.empty()) << "a reload never evicts its own entry";
    EXPECT_FALSE(a.get()->flags & _bitmap_changed_flag);
    EXPECT_EQ(texture_cache_memory_use(), SQUARE);
    dispose_texture_cache_from_old_map();

    // A budget below one texture: every load empties the list, then loads anyway.
    back_end = {};
    ASSERT_TRUE(back_end.start_cache(100));
    EXPECT_NE(look(a.get()), nullptr);
    EXPECT_NE(look(b.get()), nullptr);
    EXPECT_EQ(back_end.deleted, std::vector<intptr_t>{1});
    EXPECT_EQ(texture_cache_entry_count(), 1);
    EXPECT_EQ(texture_cache_memory_use(), SQUARE);
}

TEST_F(texture_cache_test, failed_callbacks_leave_no_entry_and_the_next_lookup_tries_again)
{
    ASSERT_TRUE(back_end.start_cache(10 * SQUARE));
    test_bitmap a = square();
    back_end.failures_to_come = 1;
    EXPECT_EQ(look(a.get()), nullptr);
    EXPECT_EQ(texture_cache_entry_count(), 0);
    EXPECT_EQ(texture_cache_memory_use(), 0);
    EXPECT_NE(look(a.get()), nullptr);
    EXPECT_EQ(back_end.news, 2);

    // A failed reload drops the entry and its old texture.
    a.get()->flags |= _bitmap_changed_flag;
    back_end.failures_to_come = 1;
    EXPECT_EQ(look(a.get()), nullptr);
    EXPECT_EQ(back_end.deleted, std::vector<intptr_t>{1});
    EXPECT_EQ(texture_cache_memory_use(), 0);
}

TEST_F(texture_cache_test, keys_part_shading_tables_and_join_records_over_one_first_row)
{
    ASSERT_TRUE(back_end.start_cache(10 * SQUARE));
    test_bitmap a = square();
    look(a.get(), shades.shade32);
    look(a.get(), other_shades.shade32);
    EXPECT_EQ(texture_cache_entry_count(), 2);
    flush_texture_cache();

    test_bitmap twin = a; // a second record over the same rows
    memcpy(twin.get()->row_addresses, a.get()->row_addresses, sizeof(uint8_t *) * 64);
    EXPECT_EQ(look(a.get(), nullptr, _texture_lookup_by_pixels_flag),
              look(twin.get(), nullptr, _texture_lookup_by_pixels_flag));
    EXPECT_EQ(texture_cache_entry_count(), 1);
    EXPECT_EQ(texture_cache_memory_use(), SQUARE);
}

TEST_F(texture_cache_test, resident_textures_survive_flushes_and_are_charged)
{
    ASSERT_TRUE(back_end.start_cache(SQUARE));
    test_bitmap font = square(), a = square();
    preallocated_texture *ptex =
        texture_cache_initialize_preallocated(nullptr, font.get(), _bitmap_ownership_by_caller, shades.shade32, 0);
    ASSERT_NE(ptex, nullptr);
    ASSERT_NE(ptex->texture, nullptr);
    EXPECT_TRUE(ptex->texture->flags & _texture_pixels_persistent_flag);
    EXPECT_NE(look(a.get()), nullptr) << "loaded although the resident texture fills the budget";
    EXPECT_EQ(texture_cache_memory_use(), 2 * SQUARE);
    flush_texture_cache();
    EXPECT_EQ(back_end.deleted, std::vector<intptr_t>{2});
    EXPECT_EQ(texture_cache_memory_use(), SQUARE);

    font.get()->flags |= _bitmap_changed_flag;
    EXPECT_TRUE(texture_cache_is_preallocated_dirty(ptex));
    texture_cache_update_preallocated(ptex, false);
    EXPECT_EQ(back_end.updates, 1);
    EXPECT_FALSE(texture_cache_is_preallocated_dirty(ptex));
    texture_cache_dispose_preallocated(ptex);
    EXPECT_EQ(back_end.deleted, (std::vector<intptr_t>{2, 1}));
    EXPECT_EQ(texture_cache_memory_use(), 0);

    // A record of the caller's, disposed twice: the second finds it empty
    // and leaves it alone (freeing it would be freeing the caller's memory).
    preallocated_texture own = {};
    ASSERT_EQ(texture_cache_initialize_preallocated(&own, font.get(), _bitmap_ownership_by_caller, shades.shade32, 0),
              &own);
    texture_cache_dispose_preallocated(&own);
    texture_cache_dispose_preallocated(&own);
    EXPECT_EQ(back_end.deleted.size(), 3u);
    EXPECT_EQ(texture_cache_memory_use(), 0);
}

TEST_F(texture_cache_test, a_disposed_bitmap_is_forgotten_so_a_new_one_at_its_address_loads_anew)
{
    clear_all_registrations();
    register_built_subsystems(); // the program's own joining of the cache to dispose_bitmap
    ASSERT_TRUE(back_end.start_cache(10 * SQUARE));
    bitmap_data *dialog = new_bitmap(32, 16, 0, _8bit_encoding, 0);
    ASSERT_NE(dialog, nullptr);
    memset(dialog->row_addresses[0], 3, 32 * 16);
    ASSERT_NE(look(dialog, nullptr, _texture_lookup_by_pixels_flag), nullptr);
    dispose_bitmap(dialog);
    EXPECT_EQ(back_end.deleted, std::vector<intptr_t>{1});
    EXPECT_EQ(texture_cache_entry_count(), 0);

    // The same record remade in place: its next lookup converts again.
    test_bitmap a = square();
    look(a.get());
    texture_cache_forget_bitmap(a.get());
    look(a.get());
    EXPECT_EQ(back_end.news, 3);
}

TEST_F(texture_cache_test, client_storage_blocks_cover_the_texture_and_windows_pass_their_row_length)
{
    ASSERT_TRUE(back_end.start_cache(10 * SQUARE, true, false, true));
    test_bitmap small = make_flat_test_bitmap(3, 2, 0, _8bit_encoding, 1, std::vector<uint8_t>(6, 1));
    const cached_texture_data *texture = look(small.get());
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(texture->api_owned_pixels && texture->pixels);
    EXPECT_TRUE(texture->flags & _texture_pixels_persistent_flag);
    ASSERT_EQ(back_end.last_pixels.size(), 4u * 2u * 4u) << "the block is as large as the texture";
    uint32_t right_column = 1;
    memcpy(&right_column, &back_end.last_pixels[3 * 4], 4);
    EXPECT_EQ(right_column, 0u) << "texels past the bitmap are cleared";

    // A 2 x 2 window of 4-texel rows is handed over as it is.
    uint16_t pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    bitmap_data window[2];
    initialize_bitmap_data_lite(window, pixels, 2, 2, 8, _16bit_555_encoding);
    texture = look(window, nullptr, 0);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(texture->passthrough_encoding);
    EXPECT_EQ(texture->row_pixels, 4);
    EXPECT_EQ(texture->pixels, nullptr) << "the bitmap's own pixels are not kept past the callback";
}

// The cache against a list and a map: the same live entries in the same order,
// the same charge and the same deletions, whatever is asked.
TEST_F(texture_cache_test, ten_thousand_random_operations_agree_with_a_plain_model)
{
    const int64_t budget = 40000;
    ASSERT_TRUE(back_end.start_cache(budget));
    std::mt19937 random(2026);
    std::vector<test_bitmap> pool;
    std::vector<int64_t> charge;
    for (int32_t i = 0; i < 12; ++i)
    {
        const int16_t w = (int16_t)(1 + random() % 90), h = (int16_t)(1 + random() % 50);
        pool.push_back(make_flat_test_bitmap(w, h, 0, _8bit_encoding, 1, std::vector<uint8_t>((size_t)w * h, 5)));
        charge.push_back(4 * (int64_t)next_highest_power_of_two(w) * next_highest_power_of_two(h));
    }
    const void *tables[2] = {shades.shade32, other_shades.shade32};

    struct model_entry
    {
        int32_t bitmap, table;
        intptr_t handle;
    };
    std::list<model_entry> lru; // most recent first
    std::vector<std::pair<preallocated_texture *, model_entry>> resident;
    std::vector<intptr_t> deleted;
    int64_t memory = 0;
    intptr_t next_handle = 1;
    auto purge = [&](int64_t needed, const model_entry *keep) {
        for (auto it = lru.end(); it != lru.begin() && memory + needed > budget;)
        {
            --it;
            if (&*it == keep) continue;
            deleted.push_back(it->handle);
            memory -= charge[it->bitmap];
            it = lru.erase(it);
        }
    };
    // One load through the fake back end; the handle, or 0 on failure.
    auto load = [&](int32_t bitmap, model_entry *keep, bool update) -> intptr_t {
        purge(charge[bitmap], keep);
        if (back_end.failures_to_come > 0) return 0;
        memory += charge[bitmap];
        return update ? keep->handle : next_handle++;
    };

    for (int32_t op = 0; op < 10000; ++op)
    {
        const int32_t bitmap = (int32_t)(random() % pool.size()), table = (int32_t)(random() % 2);
        switch (random() % 10)
        {
        default: // lookups
        {
            auto it = std::find_if(lru.begin(), lru.end(),
                                   [&](const model_entry &e) { return e.bitmap == bitmap && e.table == table; });
            bool found = true;
            if (it != lru.end())
            {
                if (pool[bitmap].get()->flags & _bitmap_changed_flag)
                {
                    memory -= charge[bitmap];
                    if (!load(bitmap, &*it, true))
                    {
                        deleted.push_back(it->handle);
                        lru.erase(it);
                        found = false;
                    }
                }
                if (found) lru.splice(lru.begin(), lru, it);
            }
            else
            {
                const intptr_t handle = load(bitmap, nullptr, false);
                if (handle) lru.push_front({bitmap, table, handle});
                found = handle != 0;
            }
            EXPECT_EQ(look(pool[bitmap].get(), tables[table]) != nullptr, found) << "operation " << op;
            break;
        }
        case 0:
            pool[bitmap].get()->flags |= _bitmap_changed_flag;
            break;
        case 1:
            back_end.failures_to_come = 1;
            break;
        case 2:
            if (random() % 8) break;
            for (const model_entry &e : lru) deleted.push_back(e.handle), memory -= charge[e.bitmap];
            lru.clear();
            flush_texture_cache();
            break;
        case 3:
            if (resident.size() < 3)
            {
                const intptr_t handle = load(bitmap, nullptr, false);
                preallocated_texture *ptex = texture_cache_initialize_preallocated(
                    nullptr, pool[bitmap].get(), _bitmap_ownership_by_caller, tables[table], 0);
                resident.push_back({ptex, {bitmap, table, handle}});
            }
            else
            {
                const auto victim = resident.begin() + (random() % resident.size());
                if (victim->second.handle) deleted.push_back(victim->second.handle), memory -= charge[victim->second.bitmap];
                texture_cache_dispose_preallocated(victim->first);
                resident.erase(victim);
            }
            break;
        case 4:
            for (auto it = lru.begin(); it != lru.end();)
            {
                if (it->bitmap != bitmap) { ++it; continue; }
                deleted.push_back(it->handle);
                memory -= charge[bitmap];
                it = lru.erase(it);
            }
            texture_cache_forget_bitmap(pool[bitmap].get()); // resident textures stay, still charged
            break;
        }
        back_end.failures_to_come = std::max(back_end.failures_to_come, 0);
        ASSERT_EQ(texture_cache_memory_use(), memory) << "operation " << op;
        ASSERT_EQ(back_end.deleted, deleted) << "operation " << op;
        ASSERT_EQ(texture_cache_entry_count(), (int32_t)lru.size()) << "operation " << op;
        int32_t i = 0;
        for (const model_entry &e : lru) ASSERT_EQ((intptr_t)texture_cache_entry(i++)->user_data, e.handle);
    }
}

// ---- the open-addressing table ---------------------------------------------------------------------

struct small_key_traits
{
    static uintptr_t hash_identifier(const uint32_t &key) { return key >> 2; } // four keys a chain
    static bool equal(const uint32_t &a, const uint32_t &b) { return a == b; }
};

TEST(alignhash, grows_before_every_find_or_insert_and_agrees_with_the_standard_map_through_many_removes)
{
    alignhash_map<uint32_t, int32_t, small_key_traits> table;
    bool inserted;
    const uint32_t expected_buckets[] = {2, 4, 8};
    for (uint32_t i = 0; i < 3; ++i)
    {
        table.find_or_insert(100 + i * 4, &inserted);
        EXPECT_EQ(table.buckets(), expected_buckets[i]);
    }
    alignhash_map<uint32_t, int32_t, small_key_traits> one;
    one.find_or_insert(5, &inserted);
    one.find_or_insert(5, &inserted);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(one.buckets(), 4u) << "a hit grows the table too";

    alignhash_map<uint32_t, int32_t, small_key_traits> table_under_test;
    std::unordered_map<uint32_t, int32_t> model;
    std::mt19937 random(44);
    for (int32_t op = 0; op < 60000; ++op)
    {
        const uint32_t key = random() % 700;
        if (random() % 5 < 2)
        {
            EXPECT_EQ(table_under_test.remove(key), model.erase(key) == 1);
        }
        else
        {
            const uint32_t slot = table_under_test.find_or_insert(key, &inserted);
            EXPECT_EQ(inserted, !model.count(key));
            if (inserted) { EXPECT_EQ(table_under_test.value_at(slot), 0); }
            table_under_test.value_at(slot) = model[key] = op;
        }
        ASSERT_EQ(table_under_test.size(), model.size());
        ASSERT_LE(table_under_test.occupied_count() * 2, table_under_test.buckets());
    }
    for (uint32_t key = 0; key < 700; ++key)
    {
        const uint32_t slot = table_under_test.find(key);
        ASSERT_EQ(slot != table_under_test.NOT_FOUND, model.count(key) == 1) << key;
        if (slot != table_under_test.NOT_FOUND) { EXPECT_EQ(table_under_test.value_at(slot), model[key]); }
    }
}

// ---- layout -----------------------------------------------------------------------------------------

TEST(texture_layout, sizes_coordinates_encodings_and_charges_of_the_worked_examples)
{
    struct example
    {
        int16_t width, height, encoding, flags;
        uint32_t usage;
        bool npo2, table, _32bit;
        int32_t hardware_width, hardware_height, mipmaps, texture_encoding;
        bool passthrough;
        int64_t charge;
        float u_bias, u_scale, u_texel;
    } examples[] = {
        {100, 60, _8bit_encoding, 0, _texture_border_flag, false, true, true, 128, 64, 1, 10, false, 128 * 64 * 4,
         0.5f / 128, 101.0f / 128, 101.0f / 128 / 100},
        {100, 60, _8bit_encoding, 0, 0, true, true, true, 100, 60, 1, 10, false, 100 * 60 * 4, 0, 1, 0.01f},
        {256, 64, _8bit_encoding, 0, _texture_mipmaps_flag, false, true, true, 256, 64, 9, 10, false,
         256 * 64 * 4 * 4 / 3, 0, 1, 1.0f / 256},
        {8, 8, _16bit_argb_4444_texture_encoding, 0, _texture_mipmaps_flag, false, false, false, 8, 8, 4, 9, true, 170,
         0, 1, 0.125f},
        {64, 64, _16bit_555_encoding, 0, 0, false, false, false, 64, 64, 1, 7, true, 64 * 64 * 2, 0, 1, 1.0f / 64},
        {64, 64, _16bit_555_encoding, 0, _texture_border_flag, false, false, false, 128, 128, 1, 7, false,
         128 * 128 * 2, 0.5f / 128, 65.0f / 128, 65.0f / 128 / 64},
        {10, 10, _24bit_rgb_888_texture_encoding, 0, 0, true, false, false, 10, 10, 1, 12, true, 400, 0, 1, 0.1f},
        {1, 1, _8bit_encoding, 0, _texture_mipmaps_flag, false, true, true, 1, 1, 1, 10, false, 5, 0, 1, 1},
        {4, 4, _8bit_encoding, _4bit_transparency_encoded_flag, 0, false, true, false, 4, 4, 1, 9, false, 32, 0, 1, 0.25f},
        {4, 4, _8bit_encoding, _bitmap_color_key_transparency_flag, 0, false, true, false, 4, 4, 1, 8, false, 32, 0, 1,
         0.25f},
        {4, 4, _8bit_encoding, 0, 0, false, false, false, 4, 4, 1, 9, false, 32, 0, 1, 0.25f},
        {4, 4, _r8g8b8a5h3_sprite_rle_bitmap_encoding, 0, 0, false, false, false, 4, 4, 1, 11, false, 64, 0, 1, 0.25f},
    };
    uint16_t shade = 0;
    for (const example &e : examples)
    {
        test_bitmap b = make_flat_test_bitmap(e.width, e.height, e.flags, e.encoding, 1, {});
        cached_texture_data texture = {};
        ASSERT_TRUE(initialize_item_texture_header(&texture, b.get(), nullptr, e.table ? &shade : nullptr, e.usage,
                                                   e._32bit, e.npo2, false));
        SCOPED_TRACE(testing::Message() << e.width << "x" << e.height << " encoding " << e.encoding);
        EXPECT_EQ(texture.hardware_width, e.hardware_width);
        EXPECT_EQ(texture.hardware_height, e.hardware_height);
        EXPECT_EQ(texture.mipmap_count, e.mipmaps);
        EXPECT_EQ(texture.encoding, e.texture_encoding);
        EXPECT_EQ((bool)texture.passthrough_encoding, e.passthrough);
        EXPECT_EQ(texture_memory_size(&texture), e.charge);
        EXPECT_FLOAT_EQ(texture.u_bias, e.u_bias);
        EXPECT_FLOAT_EQ(texture.u_scale, e.u_scale);
        EXPECT_FLOAT_EQ(texture.u_texel, e.u_texel);
    }
}

TEST(texture_layout, random_sizes_and_flags_keep_the_layout_rules)
{
    std::mt19937 random(9);
    for (int32_t i = 0; i < 3000; ++i)
    {
        const int16_t w = (int16_t)(1 + random() % 700), h = (int16_t)(1 + random() % 700);
        const uint32_t usage = random() % 512 & ~_texture_pixels_persistent_flag;
        const bool npo2 = random() % 2, _32bit = random() % 2, client = random() % 2;
        test_bitmap b = make_flat_test_bitmap(w, h, (int16_t)(random() % 2 ? _4bit_transparency_encoded_flag : 0),
                                              _8bit_encoding, 1, {});
        uint16_t shade = 0;
        cached_texture_data t = {};
        ASSERT_TRUE(initialize_item_texture_header(&t, b.get(), nullptr, &shade, usage, _32bit, npo2, client));
        const bool border = usage & _texture_border_flag;
        const int32_t aw = w + (border ? 2 : 0), ah = h + (border ? 2 : 0);
        int32_t pw = 1, ph = 1;
        while (pw < aw) pw *= 2;
        while (ph < ah) ph *= 2;
        EXPECT_EQ(t.hardware_width, npo2 ? aw : pw);
        EXPECT_EQ(t.hardware_height, npo2 ? ah : ph);
        int32_t levels = 1;
        for (int32_t s = std::max(t.hardware_width, t.hardware_height); s > 1; s /= 2) ++levels;
        EXPECT_EQ(t.mipmap_count, (usage & _texture_mipmaps_flag) ? levels : 1);
        EXPECT_EQ(t.adjusted_width, client && !npo2 ? t.hardware_width : aw);
        EXPECT_EQ(t.encoding_bytes_per_pixel, _32bit ? 4 : 2);
        const int64_t bytes = (int64_t)t.encoding_bytes_per_pixel * t.hardware_width * t.hardware_height;
        EXPECT_EQ(texture_memory_size(&t), (usage & _texture_mipmaps_flag) ? bytes * 4 / 3 : bytes);
        // The bitmap's right edge (plus half a texel with a frame or clamping) maps to the end.
        const double edge = (usage & (_texture_border_flag | _texture_clamp_to_border_flag))
                                ? (border ? 1.5 + w : w + 0.5) / t.hardware_width
                                : (double)w / t.hardware_width;
        EXPECT_NEAR(t.u_bias + w * (double)t.u_texel, edge, 1e-5);
    }
}

} // namespace

} // namespace texture_cache_test_file
