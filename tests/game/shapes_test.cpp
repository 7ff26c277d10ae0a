// Collections through the registry: the sequence facts and key points the
// object layer asks for, the mirrored views rewritten at load, and the refusal
// of every count, offset, index and size that would read outside the tag.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/objects_world.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk/preloading.h"

namespace shapes_test_file {

namespace {

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');

// A small collection in stored form, with the offsets (from the start of the
// tag) of the parts the corruption cases change.
struct built_collection
{
    std::vector<uint8_t> bytes;
    size_t bitmap_references, instances, sequence_references, sequence, bitmap;
};

struct instance_layout
{
    int16_t bitmap, rx, ry, kx, ky;
};

// One bitmap of 20 x 10 pixels; the instances given; one sequence of `views`
// views whose frames name the instances given (one list per frame).
built_collection build(int16_t views, uint32_t sequence_flags, const std::vector<instance_layout> &instances,
                       const std::vector<std::vector<int16_t>> &frames, int16_t key_frame = 1,
                       fixed pixels_to_world = 0x10000)
{
    std::vector<uint8_t> data(COLOR_TABLE_SIZE, 0);
    write_be32(data.data(), 256);
    auto append = [&data](const void *record, size_t size, const byte_swap_code *codes) {
        std::vector<uint8_t> b((const uint8_t *)record, (const uint8_t *)record + size);
        byte_swap_data("test", b.data(), (int32_t)size, 1, codes);
        data.insert(data.end(), b.begin(), b.end());
    };
    const size_t frame_size = SEQUENCE_FRAME_HEADER_SIZE + 2 * (size_t)views;
    const int32_t sequence_size = (int32_t)(SEQUENCE_DATA_SIZE + frame_size * frames.size());
    built_collection built;
    built.bitmap_references = COLLECTION_HEADER_SIZE + data.size();
    const int32_t references_end = (int32_t)(data.size() + BITMAP_REFERENCE_SIZE +
                                             instances.size() * BITMAP_INSTANCE_SIZE + SEQUENCE_REFERENCE_SIZE);
    bitmap_reference bitmap = {};
    strcpy(bitmap.name, "Picture");
    bitmap.offset = references_end + sequence_size;
    bitmap.size = STORED_BITMAP_HEADER_SIZE + 200;
    bitmap.width = 20;
    bitmap.height = 10;
    append(&bitmap, sizeof(bitmap), bitmap_reference_byte_swapping_data);
    built.instances = COLLECTION_HEADER_SIZE + data.size();
    for (const instance_layout &layout : instances)
    {
        bitmap_instance_data instance = {};
        instance.bitmap_index = layout.bitmap;
        instance.highres_bitmap_index = NONE;
        instance.registration_point = {layout.rx, layout.ry};
        instance.key_point = {layout.kx, layout.ky};
        append(&instance, sizeof(instance), bitmap_instance_byte_swapping_data);
    }
    built.sequence_references = COLLECTION_HEADER_SIZE + data.size();
    sequence_reference reference = {};
    strcpy(reference.name, "Walking");
    reference.offset = references_end;
    reference.size = sequence_size;
    append(&reference, sizeof(reference), sequence_reference_byte_swapping_data);
    built.sequence = COLLECTION_HEADER_SIZE + data.size();
    sequence_data sequence = {};
    sequence.flags = sequence_flags | _sequence_has_frame_data_flag;
    sequence.pixels_to_world = pixels_to_world;
    sequence.number_of_views = views;
    sequence.frames_per_view = (int16_t)frames.size();
    sequence.ticks_per_frame = 3;
    sequence.key_frame = key_frame;
    sequence.loop_frame = NONE;
    sequence.radius = 4 << 16;
    sequence.height1 = 10 << 16;
    for (tag &sound : sequence.sound_tags) sound = NONE;
    append(&sequence, sizeof(sequence), sequence_data_byte_swapping_data);
    for (const std::vector<int16_t> &frame : frames)
    {
        uint8_t header[SEQUENCE_FRAME_HEADER_SIZE] = {};
        write_be16(header, (uint16_t)NONE);
        data.insert(data.end(), header, header + sizeof(header));
        for (int16_t instance : frame)
        {
            uint8_t word[2];
            write_be16(word, (uint16_t)instance);
            data.insert(data.end(), word, word + 2);
        }
    }
    built.bitmap = COLLECTION_HEADER_SIZE + data.size();
    const int16_t words[9] = {20, 10, 20, 32, 8, 0, 0, 0, 0};
    for (int16_t w : words)
    {
        uint8_t word[2];
        write_be16(word, (uint16_t)w);
        data.insert(data.end(), word, word + 2);
    }
    data.resize(data.size() + STORED_BITMAP_HEADER_SIZE - 18 + 200, 1);

    collection_header header = {};
    header.blocks[_collection_block_color_tables] = {1, 0, COLOR_TABLE_SIZE, 0};
    const int32_t refs = COLOR_TABLE_SIZE;
    header.blocks[_collection_block_hue_changes] = {0, refs, 0, 0};
    header.blocks[_collection_block_bitmap_references] = {1, refs, BITMAP_REFERENCE_SIZE, 0};
    const int32_t inst = refs + BITMAP_REFERENCE_SIZE;
    header.blocks[_collection_block_bitmap_instances] = {(int32_t)instances.size(), inst,
                                                         (int32_t)instances.size() * BITMAP_INSTANCE_SIZE, 0};
    const int32_t seqs = inst + (int32_t)instances.size() * BITMAP_INSTANCE_SIZE;
    header.blocks[_collection_block_sequence_references] = {1, seqs, SEQUENCE_REFERENCE_SIZE, 0};
    for (int b = _collection_block_shadow_maps; b < NUMBER_OF_COLLECTION_BLOCKS; ++b)
        header.blocks[b] = {0, seqs + SEQUENCE_REFERENCE_SIZE, 0, 0};
    header.data_offset = COLLECTION_HEADER_SIZE;
    header.data_size = (int32_t)data.size();
    built.bytes.resize(COLLECTION_HEADER_SIZE);
    memcpy(built.bytes.data(), &header, sizeof(header));
    byte_swap_data("test", built.bytes.data(), COLLECTION_HEADER_SIZE, 1, collection_header_byte_swapping_data);
    built.bytes.insert(built.bytes.end(), data.begin(), data.end());
    return built;
}

// 8 views, mirrored: views 5, 6, 7 show 3, 2, 1.  Instance 0..4 for the five
// drawn views of frame 0; 5..7 stand for the mirrored ones (rewritten at
// load); frame 1 reuses them.
built_collection eight_views(void)
{
    std::vector<instance_layout> instances;
    for (int16_t v = 0; v < 8; ++v) instances.push_back({0, 10, 8, (int16_t)(12 + v), 2});
    const std::vector<int16_t> frame = {0, 1, 2, 3, 4, 5, 6, 7};
    return build(8, _sequence_uses_mirroring_flag, instances, {frame, frame});
}

class collections_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
    }
    void TearDown() override
    {
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    // Writes `bytes` as collection 'coll' and loads it; its index or NONE.
    int32_t load(const std::vector<uint8_t> &bytes, int16_t version = COLLECTION_VERSION_NUMBER)
    {
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        write_local_tag(COLLECTION_GROUP_TAG, "coll", version, bytes.data(), (int32_t)bytes.size());
        initialize_shapes_for_new_map();
        return get_collection_index(COLL);
    }
};

TEST_F(collections_test, swap_descriptions_walk_exactly_their_records)
{
    const struct
    {
        const byte_swap_code *codes;
        int32_t size;
    } records[] = {
        {collection_header_byte_swapping_data, COLLECTION_HEADER_SIZE},
        {hue_change_byte_swapping_data, HUE_CHANGE_SIZE},
        {sequence_reference_byte_swapping_data, SEQUENCE_REFERENCE_SIZE},
        {sequence_data_byte_swapping_data, SEQUENCE_DATA_SIZE},
        {bitmap_instance_byte_swapping_data, BITMAP_INSTANCE_SIZE},
        {bitmap_reference_byte_swapping_data, BITMAP_REFERENCE_SIZE},
        {shadow_map_byte_swapping_data, SHADOW_MAP_SIZE},
        {stored_bitmap_header_byte_swapping_data, STORED_BITMAP_HEADER_SIZE},
    };
    for (const auto &r : records) EXPECT_EQ(byte_swap_description_size(r.codes), r.size);
}

TEST_F(collections_test, sequence_facts_and_key_points_reach_the_object_layer)
{
    const int32_t c = load(eight_views().bytes);
    ASSERT_NE(c, NONE);
    const shape_sequence_information information = get_shape_sequence_information((int16_t)c, 0);
    EXPECT_EQ(information.frames_per_view, 2);
    EXPECT_EQ(information.number_of_views, 8);
    EXPECT_EQ(information.ticks_per_frame, 3);
    EXPECT_EQ(information.key_frame, 1);
    // A sequence the collection lacks falls back to the object layer's default.
    EXPECT_EQ(get_shape_sequence_information((int16_t)c, 1).frames_per_view, 1);
    EXPECT_EQ(get_named_sequence_index(c, "WALKING"), 0);
    EXPECT_EQ(get_named_sequence_index(c, "running"), NONE);

    // View 6 shows view 2 mirrored: its key point x becomes width - x, its
    // left and right bounds trade places.
    const bitmap_instance_data *source = get_bitmap_instance(c, 2);
    const bitmap_instance_data *mirrored = get_bitmap_instance(c, 6);
    ASSERT_TRUE(source && mirrored);
    EXPECT_EQ(mirrored->flags & _bitmap_instance_mirror_horizontal_flag,
              (uint32_t)_bitmap_instance_mirror_horizontal_flag);
    EXPECT_EQ(source->flags & _bitmap_instance_mirror_horizontal_flag, 0u);
    EXPECT_EQ(mirrored->key_point.x, 20 - 14);
    // Scale 10 world units a pixel: registration (10, 8) in a 20 x 10 bitmap.
    EXPECT_EQ(source->world_top, 80);
    EXPECT_EQ(source->world_bottom, -20);
    EXPECT_EQ(source->world_left, -100);
    EXPECT_EQ(source->world_right, 100);
    EXPECT_EQ(get_sequence(c, 0)->world_radius, 40);
    EXPECT_EQ(get_sequence(c, 0)->world_height1, 100);

    // Key point by hand: dx over the views 2, 3, 4, 5, 6, -5, -4, -3 (the
    // mirrored ones 20 - key x of their source, less 10); view 0's dx = 2;
    // dy = -6 each.  y = 2 * 10 = 20; z = -6 * 8 * 10 / 8 = -60;
    //   half = (60 - -50) / 2 = 55; x = isqrt(55^2 - 20^2) = 51.
    world_point3d offset;
    ASSERT_TRUE(get_sequence_frame(c, 0, 1));
    EXPECT_EQ(get_sequence_frame(c, 0, 1)->key_point.x, 51);
    EXPECT_EQ(get_sequence_frame(c, 0, 1)->key_point.y, 20);
    EXPECT_EQ(get_sequence_frame(c, 0, 1)->key_point.z, 60);
    offset = get_sequence_frame(c, 0, 0)->key_point;
    EXPECT_EQ(offset.x, 51);

    // Frame 9 counted over all 8 views x 2 frames: view 4, frame 1.
    EXPECT_EQ(get_sequence_instance_index(c, 0, NONE, 9), 4);
    EXPECT_EQ(get_sequence_instance_index(c, 0, 6, 3), 6);
    EXPECT_EQ(get_sequence_instance_index(c, 0, NONE, -1), NONE);
    // Past either end a sequence lookup gives sequence 0; a bitmap lookup nothing.
    EXPECT_EQ(get_sequence(c, 1), get_sequence(c, 0));
    EXPECT_EQ(get_sequence(c, -1), get_sequence(c, 0));
    EXPECT_EQ(get_bitmap_reference(c, 1), nullptr);
}

TEST_F(collections_test, mirroring_rule)
{
    const int32_t expected8[] = {0, 1, 2, 3, 4, 3, 2, 1};
    for (int32_t v = 0; v < 8; ++v) EXPECT_EQ(mirror_sequence_view(8, v), expected8[v]) << v;
    EXPECT_EQ(mirror_sequence_view(5, 3), 2);
    EXPECT_EQ(mirror_sequence_view(5, 4), 1);
    EXPECT_EQ(number_of_displayed_views_in_sequence(2), 2);
}

// Before gameplay version 1710 the height of a key point was a 32-bit
// product that wraps; peers of those versions must keep the same number.
TEST_F(collections_test, key_point_height_product_width_follows_the_gameplay_version)
{
    const built_collection tall = build(1, 0, {{0, 0, 0, 0, 30000}}, {{0}}, 0, 0x10000);
    current_gameplay_version = 1710;
    int32_t c = load(tall.bytes);
    ASSERT_NE(c, NONE);
    EXPECT_EQ(get_sequence_frame(c, 0, 0)->key_point.z, -300000);
    dispose_shapes_from_old_map();
    dispose_tag_files();
    current_gameplay_version = 1709;
    c = load(tall.bytes);
    ASSERT_NE(c, NONE);
    EXPECT_EQ(get_sequence_frame(c, 0, 0)->key_point.z, 27680);
}

TEST_F(collections_test, versions_one_and_four_load_two_is_refused)
{
    EXPECT_NE(load(eight_views().bytes, 1), NONE);
    dispose_shapes_from_old_map();
    dispose_tag_files();
    EXPECT_EQ(load(eight_views().bytes, 2), NONE);
    clear_pending_error();
}

TEST_F(collections_test, the_collection_services_answer_from_the_collections)
{
    const int32_t c = load(eight_views().bytes);
    ASSERT_NE(c, NONE);
    EXPECT_FALSE(verify_sequence_index(NONE, 0));
    EXPECT_TRUE(verify_sequence_index(c, NONE));
    EXPECT_TRUE(verify_sequence_index(c, 0));
    EXPECT_FALSE(verify_sequence_index(c, 1));
    int32_t code = 0;
    EXPECT_TRUE(error_pending(&code, nullptr, 0));
    EXPECT_EQ(code, _error_array_out_of_bounds);
    clear_pending_error();
    // The first table of a collection is 0, and a plain table asked again is that one.
    EXPECT_EQ(add_shading_table_to_collection_index(c, nullptr, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(add_shading_table_to_collection_index(c, nullptr, nullptr, 0, 0, nullptr), 0);
    bool purged = true;
    preload_sequence_index(c, 0, &purged);
    EXPECT_FALSE(purged);
}

// Without the collections module nothing says how many sequences a
// collection holds: any real sequence of a real collection passes.
TEST(collection_services, verify_defaults_without_the_collections_module)
{
    clear_all_registrations();
    EXPECT_FALSE(verify_sequence_index(NONE, 0));
    EXPECT_TRUE(verify_sequence_index(3, NONE));
    EXPECT_TRUE(verify_sequence_index(3, 40));
    EXPECT_FALSE(verify_sequence_index(3, -2));
}

// Projectile definitions check the sequences they name against their
// collection and take a shading table of their own unless they borrow their
// shooter's.
TEST_F(collections_test, projectile_definitions_verify_sequences_and_take_shading_tables)
{
    const int32_t c = load(eight_views().bytes);
    ASSERT_NE(c, NONE);
    ASSERT_TRUE(load_objects_world({}));
    ASSERT_TRUE(initialize_projectiles());
    initialize_projectiles_for_new_map();
    object_definition o;
    memset(&o, 0, sizeof(o));
    o.maximum_vitality = 10;
    ASSERT_TRUE(store_definition_tag(OBJECT_DEFINITION_GROUP_TAG, "boxy", &o, sizeof(o)));
    auto store_projectile = [](const char *name, int16_t sequence, uint32_t flags) {
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_tag = FOUR_CHARACTER_CODE('b', 'o', 'x', 'y');
        d.artifact_tag = d.geometry_tag = d.local_projectile_group_tag = d.target_detonation_projectile_group_tag = 0;
        d.collection_tag = COLL;
        d.sequence_indexes[_projectile_sequence_in_flight] = sequence;
        d.flags = flags;
        if (!byte_swap_data(name, &d, sizeof(d), 1, projectile_definition_byte_swapping_data)) return false;
        int32_t index = tag_file_new(PROJECTILE_DEFINITION_GROUP_TAG, name, 1);
        return index != NONE && tag_file_write(&index, 0, sizeof(d), &d);
    };
    ASSERT_TRUE(store_projectile("good", 0, 0));
    ASSERT_TRUE(store_projectile("ownr", 0, _projectile_uses_owner_color_table_index_flag));
    ASSERT_TRUE(store_projectile("over", 1, 0));
    auto projectile = [](tag subgroup) {
        return (int32_t)try_definition_tag_to_index(get_projectile_definition_group(), subgroup, true,
                                                    _definition_lookup_quiet_flag);
    };

    const int32_t good = projectile(FOUR_CHARACTER_CODE('g', 'o', 'o', 'd'));
    ASSERT_NE(good, NONE);
    EXPECT_EQ(get_projectile_definition(good)->collection_index, c);
    EXPECT_EQ(get_projectile_definition(good)->color_table_index, 0);
    const int32_t owner = projectile(FOUR_CHARACTER_CODE('o', 'w', 'n', 'r'));
    ASSERT_NE(owner, NONE);
    EXPECT_EQ(get_projectile_definition(owner)->color_table_index, NONE);

    // The collection holds one sequence: a definition naming the second is refused.
    EXPECT_EQ(projectile(FOUR_CHARACTER_CODE('o', 'v', 'e', 'r')), NONE);
    int32_t code = 0;
    EXPECT_TRUE(error_pending(&code, nullptr, 0));
    EXPECT_EQ(code, _error_array_out_of_bounds);
    clear_pending_error();

    dispose_projectiles_from_old_map();
    dispose_objects_world();
}

// The preloader reads the data block ahead through this module's reader; the
// load then takes that block instead of reading it again, and checks it all
// the same.
TEST_F(collections_test, a_block_read_ahead_by_the_preloader_is_used_and_checked)
{
    const definition_fetch_procedure ahead = [](definition_globals *, int32_t tag_index, void *definition,
                                                void *runtime) {
        return load_collection_header_data(tag_index, definition, runtime, true);
    };
    std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
    start_store();
    const std::vector<uint8_t> good = eight_views().bytes;
    write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, good.data(), (int32_t)good.size());
    std::vector<uint8_t> bad = good;
    write_be16(&bad[eight_views().sequence + 14], 7); // key frame past the frames
    write_local_tag(COLLECTION_GROUP_TAG, "bad!", COLLECTION_VERSION_NUMBER, bad.data(), (int32_t)bad.size());
    initialize_shapes_for_new_map();
    const int32_t c = fetch_definition_tag_to_index(&collections, COLL, ahead);
    ASSERT_NE(c, NONE);
    EXPECT_TRUE(collections.flags[c] & _definition_preloaded_flag);
    EXPECT_EQ(get_shape_sequence_information((int16_t)c, 0).number_of_views, 8);
    EXPECT_EQ(fetch_definition_tag_to_index(&collections, FOUR_CHARACTER_CODE('b', 'a', 'd', '!'), ahead), NONE);
    int32_t code = 0;
    EXPECT_TRUE(error_pending(&code, nullptr, 0));
    EXPECT_EQ(code, _error_data_corrupted);
    clear_pending_error();
}

// Every field that places or sizes something is checked before it is used:
// the tag is refused with code 10 (15 for the count limits) and nothing is
// read outside it.
TEST_F(collections_test, corrupt_collections_are_refused)
{
    const built_collection good = eight_views();
    const size_t H = 0; // the header's offsets within the tag
    const size_t block = 64;
    struct corruption
    {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> change;
        int32_t code;
    };
    auto put32 = [](std::vector<uint8_t> &b, size_t at, uint32_t v) { write_be32(&b[at], v); };
    auto put16 = [](std::vector<uint8_t> &b, size_t at, uint16_t v) { write_be16(&b[at], v); };
    const corruption cases[] = {
        {"two colour tables", [&](auto &b) { put32(b, H + block, 2); }, _error_data_corrupted},
        {"data delta", [&](auto &b) { put32(b, H + 256, 4); }, _error_data_corrupted},
        {"data block past the tag", [&](auto &b) { put32(b, H + 252, read_be32(&b[252]) + 1); }, _error_data_corrupted},
        {"data block inside the header", [&](auto &b) { put32(b, H + 248, 0); }, _error_data_corrupted},
        {"instance block past the data", [&](auto &b) { put32(b, H + block + 16 * 3 + 4, 0x7FFFFFF0); },
         _error_data_corrupted},
        {"more instances than bytes", [&](auto &b) { put32(b, H + block + 16 * 3, 9); }, _error_data_corrupted},
        {"negative sequence count", [&](auto &b) { put32(b, H + block + 16 * 4, 0xFFFFFFFF); }, _error_data_corrupted},
        {"257 sequences", [&](auto &b) { put32(b, H + block + 16 * 4, 257); }, _error_array_out_of_bounds},
        {"16385 bitmaps", [&](auto &b) { put32(b, H + block + 16 * 2, 16385); }, _error_array_out_of_bounds},
        {"bitmap past the data", [&](auto &b) { put32(b, good.bitmap_references + 64, 0x7FFFFF00); },
         _error_data_corrupted},
        {"bitmap 4097 wide", [&](auto &b) { put16(b, good.bitmap, 4097); }, _error_data_corrupted},
        {"bitmap 0 high", [&](auto &b) { put16(b, good.bitmap + 2, 0); }, _error_data_corrupted},
        {"reference and bitmap disagree", [&](auto &b) { put16(b, good.bitmap_references + 76, 21); },
         _error_data_corrupted},
        {"instance names a missing bitmap", [&](auto &b) { put16(b, good.instances + 28, 1); }, _error_data_corrupted},
        {"sequence past the data", [&](auto &b) { put32(b, good.sequence_references + 64, 0x7FFFFFF0); },
         _error_data_corrupted},
        {"more frames than the sequence holds", [&](auto &b) { put16(b, good.sequence + 10, 3); },
         _error_data_corrupted},
        {"more views than the sequence holds", [&](auto &b) { put16(b, good.sequence + 8, 200); },
         _error_data_corrupted},
        {"negative views", [&](auto &b) { put16(b, good.sequence + 8, 0xFFFF); }, _error_data_corrupted},
        {"key frame past the frames", [&](auto &b) { put16(b, good.sequence + 14, 2); }, _error_data_corrupted},
        {"frame names a missing instance", [&](auto &b) { put16(b, good.sequence + 64 + 46 + 2, 8); },
         _error_data_corrupted},
        {"frame names a missing shadow map", [&](auto &b) { put16(b, good.sequence + 64, 0); }, _error_data_corrupted},
        {"mirrored view shares its source", [&](auto &b) { put16(b, good.sequence + 64 + 46 + 2 * 6, 2); },
         _error_data_corrupted},
    };
    for (const corruption &c : cases)
    {
        std::vector<uint8_t> bytes = good.bytes;
        c.change(bytes);
        for (bool initialized : {false, true})
        {
            // A stored initialized bit must not skip the checks.
            if (initialized) write_be32(&bytes[0], _collection_header_initialized_flag);
            clear_pending_error();
            EXPECT_EQ(load(bytes), NONE) << c.what;
            EXPECT_FALSE(check_collection_tag_data(bytes.data(), (int32_t)bytes.size(), "test")) << c.what;
            int32_t code = 0;
            char text[256] = "";
            // The first error raised names the field; the registry's own follows.
            EXPECT_TRUE(error_pending(&code, text, sizeof(text))) << c.what;
            EXPECT_EQ(code, c.code) << c.what << ": " << text;
            dispose_shapes_from_old_map();
            dispose_tag_files();
        }
    }
    clear_pending_error();
    EXPECT_TRUE(check_collection_tag_data(good.bytes.data(), (int32_t)good.bytes.size(), "test"));
    EXPECT_FALSE(error_pending(nullptr, nullptr, 0));
}

// The data tool's output: golden bytes where the layout fixes them, and the
// game loads it with the facts the source gave.
TEST_F(collections_test, the_data_tool_writes_what_the_game_loads)
{
    namespace fs = std::filesystem;
    std::string tool;
    REQUIRE_DATA_TOOL(tool);
    const std::string source = "flags 0x2\n"
                               "color 1 100 200 300\n"
                               "bitmap body 16 8 1\n"
                               "instance 0 8 7 12 2\n"
                               "instance 0 8 7 4 2\n"
                               "sequence Stand\n"
                               "views 5\nflags 1\nticks_per_frame 4\nkey_frame 0\npixels_to_world 0x8000\n"
                               "frame 0 1 1\n"
                               "sequence hit\n"
                               "frame 1\n";
    ASSERT_TRUE(write_whole_file("coll.txt", source.data(), source.size()));
    const std::string command =
        "'" + tool + "' collection coll.tag --subgroup coll --name coll coll.txt >tool.out 2>tool.err";
    ASSERT_EQ(exit_code_of(system(command.c_str())), 0);
    std::vector<uint8_t> file = read_file_bytes("coll.tag");
    ASSERT_GT(file.size(), 64u + COLLECTION_HEADER_SIZE);
    const std::vector<uint8_t> tag(file.begin() + 64, file.end());
    // Header: user flags, one colour table at 0, two bitmap instances made
    // four (the mirrored views 3 and 4 of "stand" get their own), two sequences.
    EXPECT_EQ(read_be32(&tag[4]), 2u);
    EXPECT_EQ(read_be32(&tag[64]), 1u);
    EXPECT_EQ(read_be32(&tag[68]), 0u);
    EXPECT_EQ(read_be32(&tag[72]), (uint32_t)COLOR_TABLE_SIZE);
    EXPECT_EQ(read_be32(&tag[96]), 1u);
    EXPECT_EQ(read_be32(&tag[96 + 4]), (uint32_t)COLOR_TABLE_SIZE);
    EXPECT_EQ(read_be32(&tag[112]), 4u);
    EXPECT_EQ(read_be32(&tag[128]), 2u);
    EXPECT_EQ(read_be32(&tag[248]), (uint32_t)COLLECTION_HEADER_SIZE);
    EXPECT_EQ(read_be32(&tag[252]), (uint32_t)(tag.size() - COLLECTION_HEADER_SIZE));
    // Colour 1 of the table: red, green, blue words after the 32-byte head.
    EXPECT_EQ(read_be16(&tag[320 + 32 + 8]), 100);
    EXPECT_EQ(read_be16(&tag[320 + 32 + 12]), 300);
    // The bitmap reference: width and height at 76, 78.
    const size_t reference = 320 + COLOR_TABLE_SIZE;
    EXPECT_EQ(read_be16(&tag[reference + 76]), 16);
    EXPECT_EQ(read_be16(&tag[reference + 78]), 8);

    start_store();
    int32_t index = tag_file_open_local_file("coll.tag");
    ASSERT_NE(index, NONE);
    initialize_shapes_for_new_map();
    const int32_t c = get_collection_index(COLL);
    ASSERT_NE(c, NONE);
    EXPECT_EQ(get_collection_sequence_count(c), 2);
    const shape_sequence_information stand = get_shape_sequence_information((int16_t)c, 0);
    EXPECT_EQ(stand.number_of_views, 5);
    EXPECT_EQ(stand.frames_per_view, 1);
    EXPECT_EQ(stand.ticks_per_frame, 4);
    EXPECT_EQ(stand.key_frame, 0);
    EXPECT_EQ(get_named_sequence_index(c, "stand"), 0);
    const shape_sequence_information hit = get_shape_sequence_information((int16_t)c, 1);
    EXPECT_EQ(hit.number_of_views, 1);
    EXPECT_EQ(hit.ticks_per_frame, 1);
    EXPECT_EQ(hit.key_frame, NONE);
    // View 4 shows view 1 (key x 4 of 16) mirrored.
    EXPECT_EQ(get_bitmap_instance(c, get_sequence_instance_index(c, 0, 4, 0))->key_point.x, 12);

    // Sources the tool refuses.
    for (const char *bad : {"sequence s\nkey_frame 1\nframe 0\n", "instance 0 0 0 0 0\n", "bitmap b 4097 1\n",
                            "bitmap b 1 1\ninstance 0 0 0 0 0\nsequence s\nviews 2\nframe 0\n", "frame 0\n"})
    {
        ASSERT_TRUE(write_whole_file("bad.txt", bad, strlen(bad)));
        const std::string refused = "'" + tool + "' collection bad.tag --subgroup badc --name bad bad.txt 2>tool.err";
        EXPECT_EQ(exit_code_of(system(refused.c_str())), 1) << bad;
        EXPECT_FALSE(fs::exists("bad.tag")) << bad;
    }
}

} // namespace

// After a map the 'prel' tag keeps its definitions and loses its bitmap list,
// which now starts right after them; a map without one reports code 3.
TEST_F(collections_test, preloaded_bitmaps_are_reported_as_an_empty_list_after_the_definitions)
{
    const preload_data tags[2] = {{COLLECTION_GROUP_TAG, COLL},
                                  {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('t', 'w', 'o', ' ')}};
    const bitmap_preload_data bitmaps[2] = {{COLL, 3, 0}, {COLL, 4, 0}};
    std::vector<uint8_t> stored((size_t)encode_preload_tag_data(tags, 2, bitmaps, 2, nullptr, 0));
    ASSERT_EQ(encode_preload_tag_data(tags, 2, bitmaps, 2, stored.data(), (int32_t)stored.size()),
              (int32_t)stored.size());
    std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
    start_store();
    const tag demo = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
    write_local_tag(PRELOAD_DEFINITION_GROUP_TAG, "demo", 1, stored.data(), (int32_t)stored.size());

    ASSERT_TRUE(report_preloaded_bitmaps(demo, demo));
    const int32_t index = tag_file_open(PRELOAD_DEFINITION_GROUP_TAG, demo);
    ASSERT_NE(index, NONE);
    std::vector<uint8_t> now(stored.size());
    ASSERT_TRUE(tag_file_read(index, 0, (int32_t)now.size(), now.data()));
    preload_list list;
    ASSERT_EQ(read_preload_tag_data(now.data(), (int32_t)now.size(), &list), nullptr);
    EXPECT_EQ(list.header.preload_data_count, 2);
    EXPECT_EQ(list.tags[1].subgroup_tag, tags[1].subgroup_tag);
    EXPECT_EQ(list.header.bitmap_preload_data_count, 0);
    EXPECT_EQ(list.header.bitmap_preload_data_size, 0);
    EXPECT_EQ(list.header.bitmap_preload_data_offset, list.header.preload_data_offset + list.header.preload_data_size);

    EXPECT_FALSE(report_preloaded_bitmaps(demo, FOUR_CHARACTER_CODE('n', 'o', 'n', 'e')));
    EXPECT_EQ(take_pending_error(), _error_file_read);
}

} // namespace shapes_test_file
