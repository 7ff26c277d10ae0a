// The preloader: the 'prel' layout as the data tool writes it and the game
// reads it, its refusals, the read-ahead of bulk data that marks a
// definition before its postprocess runs, and a map's list fetched in order.

#include "tag_files/collection_procedures.h"
#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "tag_files/definitions.h"
#include "vesk/preloading.h"

namespace preloading_test_file {

namespace {

using store_fixture::packed_tag;
namespace fs = std::filesystem;

#define TEST_GROUP FOUR_CHARACTER_CODE('t', 's', 't', 'p')

struct preload_list_holder
{
    preload_list *list = (preload_list *)calloc(1, sizeof(preload_list));
    ~preload_list_holder() { free(list); }
};

std::vector<uint8_t> encoded(const std::vector<preload_data> &tags, const std::vector<bitmap_preload_data> &bitmaps)
{
    const int32_t size = encode_preload_tag_data(tags.data(), (int32_t)tags.size(), bitmaps.data(),
                                                 (int32_t)bitmaps.size(), nullptr, 0);
    std::vector<uint8_t> bytes((size_t)size);
    EXPECT_EQ(encode_preload_tag_data(tags.data(), (int32_t)tags.size(), bitmaps.data(), (int32_t)bitmaps.size(),
                                      bytes.data(), size),
              size);
    return bytes;
}

const std::vector<preload_data> two_tags = {{TEST_GROUP, FOUR_CHARACTER_CODE('b', 'b', 'b', 'b')},
                                            {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l')}};
const std::vector<bitmap_preload_data> two_bitmaps = {{FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'), 0, 0},
                                                      {FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'), 16383, 0}};

TEST(preload_layout, data_tool_writes_what_the_game_reads)
{
    scratch_directory scratch;
    std::string tool;
    REQUIRE_DATA_TOOL(tool);
    const std::string source = "# a list\ntag tstp bbbb\ntag .256 coll  # the landscape\nbitmap coll 0\nbitmap coll 16383\n";
    ASSERT_TRUE(write_whole_file("list.txt", source.data(), source.size()));
    ASSERT_EQ(system(("'" + tool + "' preload out.tag --subgroup demo --name demo list.txt").c_str()), 0);
    const std::vector<uint8_t> file = read_file_bytes("out.tag");
    ASSERT_GT(file.size(), sizeof(local_tag_file_header));
    const std::vector<uint8_t> data(file.begin() + sizeof(local_tag_file_header), file.end());
    EXPECT_EQ(read_be32(file.data() + offsetof(local_tag_file_header, group_tag)), (uint32_t)PRELOAD_DEFINITION_GROUP_TAG);

    // The same bytes as the encoder's: header, then the tags, then the bitmaps.
    EXPECT_EQ(data, encoded(two_tags, two_bitmaps));
    ASSERT_EQ(data.size(), 32u + 16 + 16);
    EXPECT_EQ(read_be32(&data[0]), 2u); // preload data count
    EXPECT_EQ(read_be32(&data[4]), 32u); // its offset
    EXPECT_EQ(read_be32(&data[8]), 16u); // its size
    EXPECT_EQ(read_be32(&data[20]), 48u); // bitmap offset
    EXPECT_EQ(read_be16(&data[48 + 8 + 4]), 16383u);

    preload_list_holder read;
    ASSERT_EQ(read_preload_tag_data(data.data(), (int32_t)data.size(), read.list), nullptr);
    EXPECT_EQ(read.list->header.preload_data_count, 2);
    EXPECT_EQ(read.list->tags[1].group_tag, COLLECTION_GROUP_TAG);
    EXPECT_EQ(read.list->tags[0].subgroup_tag, FOUR_CHARACTER_CODE('b', 'b', 'b', 'b'));
    EXPECT_EQ(read.list->bitmaps[1].bitmap_index, 16383);

    // The tool refuses what the game would refuse, and writes nothing then.
    for (const char *bad : {"bitmap coll 16384\n", "tag tstp\n", "bitmap coll -1\n", "tag toolong bbbb\n"})
    {
        ASSERT_TRUE(write_whole_file("bad.txt", bad, strlen(bad)));
        EXPECT_NE(system(("'" + tool + "' preload bad.tag --subgroup demo --name demo bad.txt 2>/dev/null").c_str()), 0)
            << bad;
        EXPECT_FALSE(fs::exists("bad.tag")) << bad;
    }
}

TEST(preload_layout, corrupted_lists_are_refused_naming_the_field)
{
    const std::vector<uint8_t> good = encoded(two_tags, two_bitmaps);
    struct corruption
    {
        const char *field;
        std::function<void(std::vector<uint8_t> &)> damage;
    };
    const corruption cases[] = {
        {"size", [](std::vector<uint8_t> &b) { b.resize(31); }},
        {"preload_data_count", [](std::vector<uint8_t> &b) { write_be32(&b[0], 0xFFFFFFFF); }},
        {"preload_data_count", [](std::vector<uint8_t> &b) { write_be32(&b[0], 2049); }},
        {"preload_data_size", [](std::vector<uint8_t> &b) { write_be32(&b[8], 24); }},
        {"preload_data_offset", [](std::vector<uint8_t> &b) { write_be32(&b[4], 16); }},
        {"preload_data_offset", [](std::vector<uint8_t> &b) { write_be32(&b[4], 34); }},
        // An offset whose end overflows 32 bits must not wrap inside the tag.
        {"preload_data_offset", [](std::vector<uint8_t> &b) { write_be32(&b[4], 0x7FFFFFFC); }},
        {"bitmap_preload_data_offset", [](std::vector<uint8_t> &b) { write_be32(&b[20], 40); }},
        {"bitmap_preload_data_offset", [](std::vector<uint8_t> &b) { b.resize(b.size() - 1); }},
        {"bitmap_preload_data_count", [](std::vector<uint8_t> &b) { write_be32(&b[16], 0x80000000); }},
        {"bitmap_preload_data_size", [](std::vector<uint8_t> &b) { write_be32(&b[24], 8); }},
        {"preload_data group_tag", [](std::vector<uint8_t> &b) { write_be32(&b[32], 0xFFFFFFFF); }},
        {"preload_data subgroup_tag", [](std::vector<uint8_t> &b) { write_be32(&b[44], 0xFFFFFFFF); }},
        {"bitmap_preload_data bitmap_index", [](std::vector<uint8_t> &b) { write_be16(&b[52], 0xFFFF); }},
        {"bitmap_preload_data pad", [](std::vector<uint8_t> &b) { write_be16(&b[54], 1); }},
        {"bitmap_preload_data collection_tag", [](std::vector<uint8_t> &b) { write_be32(&b[56], 0xFFFFFFFF); }},
        {"size", [](std::vector<uint8_t> &b) { b.resize(40000); }},
    };
    preload_list_holder read;
    for (const corruption &c : cases)
    {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        const char *refusal = read_preload_tag_data(bytes.data(), (int32_t)bytes.size(), read.list);
        ASSERT_NE(refusal, nullptr) << c.field;
        EXPECT_EQ(std::string(refusal).rfind(c.field, 0), 0u) << c.field << " got " << refusal;
    }
    // Every cut of a valid list is refused or read whole, never read beyond
    // (an exact-size copy lets the sanitizer see any overrun).
    for (size_t size = 0; size < good.size(); ++size)
    {
        std::vector<uint8_t> cut(good.begin(), good.begin() + (long)size);
        EXPECT_NE(read_preload_tag_data(cut.data(), (int32_t)size, read.list), nullptr) << size;
    }
    // Stored pointer words are the run time's business: ignored.
    std::vector<uint8_t> pointers = good;
    write_be32(&pointers[12], 0xDEADBEEF);
    EXPECT_EQ(read_preload_tag_data(pointers.data(), (int32_t)pointers.size(), read.list), nullptr);
    // Empty blocks may name any offset (the collection module's rewrite leaves one so).
    std::vector<uint8_t> empty = encoded({}, {});
    write_be32(&empty[20], 0x7FFFFFFF);
    EXPECT_EQ(read_preload_tag_data(empty.data(), (int32_t)empty.size(), read.list), nullptr);
}

// ---- the registry and the store --------------------------------------------------

struct small_definition
{
    int32_t value;
    int32_t unused;
};
const byte_swap_code small_definition_bs[] = {_begin_bs_array, 1, _4byte, _4byte, _end_bs_array};

struct bulk_runtime
{
    int32_t bulk_reads;
    bool preloaded_at_postprocess;
};

int32_t bulk_reads, postprocess_calls;
bool bulk_answer = true;

bool read_bulk(int32_t tag_index, void *definition, void *runtime, bool read_ahead)
{
    EXPECT_TRUE(read_ahead);
    EXPECT_NE(tag_index, NONE);
    bulk_reads += 1;
    if (runtime) ((bulk_runtime *)runtime)->bulk_reads += 1;
    return bulk_answer;
}

// The collections module's table with only its bulk reader.
const collection_procedures bulk_reader = {.load_collection_header_data = read_bulk};

bool postprocess_small(definition_globals *group, int32_t index, int32_t, void *)
{
    postprocess_calls += 1;
    bulk_runtime *runtime = (bulk_runtime *)get_definition_runtime(group, index);
    if (runtime) runtime->preloaded_at_postprocess = (group->flags[index] & _definition_preloaded_flag) != 0;
    return true;
}

definition_globals make_group(const char *name, tag group)
{
    definition_globals g = {};
    strlcpy(g.name, name, sizeof(g.name));
    g.group = group;
    g.current_version = 1;
    g.maximum_count = 8;
    g.size = sizeof(small_definition);
    g.runtime_size = sizeof(bulk_runtime);
    g.postprocess = postprocess_small;
    g.byte_swapping_data = small_definition_bs;
    return g;
}

class preloading_test : public store_fixture::store_test
{
protected:
    definition_globals collections = make_group("collection", COLLECTION_GROUP_TAG);
    definition_globals fonts = make_group("font", FONT_DEFINITION_GROUP_TAG);
    definition_globals plain = make_group("plain", TEST_GROUP);

    void SetUp() override
    {
        store_test::SetUp();
        bulk_reads = postprocess_calls = 0;
        bulk_answer = true;
        clear_all_registrations();
        ASSERT_TRUE(initialize_preloading());
        for (definition_globals *g : {&collections, &fonts, &plain}) ASSERT_TRUE(initialize_definitions(g));
    }
    void TearDown() override
    {
        dispose_preloading_from_old_map();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    void start_map(const std::vector<packed_tag> &tags)
    {
        write_foundation_file(tags);
        start_store();
        initialize_preloading_for_new_map();
        for (definition_globals *g : {&collections, &fonts, &plain}) initialize_definitions_for_new_map(g);
    }
    static std::string bytes_of(const std::vector<uint8_t> &b) { return std::string(b.begin(), b.end()); }
    const std::string record = std::string(8, '\0');
};

TEST_F(preloading_test, fetch_reads_bulk_data_ahead_and_marks_it_before_postprocess)
{
    start_map({{COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'), "coll", 1, record},
               {FONT_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('f', 'o', 'n', 't'), "font", 1, record},
               {TEST_GROUP, FOUR_CHARACTER_CODE('p', 'l', 'a', 'n'), "plan", 1, record}});

    // Nothing registered yet: nothing to load, no mark.
    EXPECT_FALSE(load_collection_header_data(0, nullptr, nullptr, true));
    EXPECT_FALSE(load_font_character_data(0, nullptr, nullptr, true));
    ASSERT_TRUE(register_collection_procedures(&bulk_reader));
    ASSERT_TRUE(register_load_font_character_data_procedure(read_bulk));

    const int32_t coll = fetch_definition_from_tag(COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'));
    ASSERT_NE(coll, NONE);
    EXPECT_TRUE(collections.flags[coll] & _definition_preloaded_flag);
    const bulk_runtime *kept = (const bulk_runtime *)get_definition_runtime(&collections, coll);
    EXPECT_EQ(kept->bulk_reads, 1);
    EXPECT_TRUE(kept->preloaded_at_postprocess); // so its postprocess skips the read

    const int32_t font = fetch_definition_from_tag(FONT_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('f', 'o', 'n', 't'));
    ASSERT_NE(font, NONE);
    EXPECT_TRUE(fonts.flags[font] & _definition_preloaded_flag);

    // Other groups have no bulk data: loaded, not marked.
    const int32_t plan = fetch_definition_from_tag(TEST_GROUP, FOUR_CHARACTER_CODE('p', 'l', 'a', 'n'));
    ASSERT_NE(plan, NONE);
    EXPECT_FALSE(plain.flags[plan] & _definition_preloaded_flag);
    EXPECT_EQ(bulk_reads, 2);

    // Fetching again finds the loaded definition and reads nothing more.
    EXPECT_EQ(fetch_definition_from_tag(COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l')), coll);
    EXPECT_EQ(bulk_reads, 2);

    // A reader that could not read leaves the definition unmarked, loaded all the same.
    clear_definition(&collections, coll);
    bulk_answer = false;
    const int32_t again = fetch_definition_from_tag(COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'));
    ASSERT_NE(again, NONE);
    EXPECT_FALSE(collections.flags[again] & _definition_preloaded_flag);

    // A plain load never reads ahead.
    clear_definition(&collections, again);
    bulk_answer = true;
    const int32_t plain_load =
        try_definition_tag_to_index(&collections, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'), true, 0);
    ASSERT_NE(plain_load, NONE);
    EXPECT_FALSE(collections.flags[plain_load] & _definition_preloaded_flag);
    EXPECT_EQ(bulk_reads, 3);
}

TEST_F(preloading_test, a_bulk_reader_slot_takes_one_procedure)
{
    {
        expected_assertions expect(1, "collection procedures");
        EXPECT_FALSE(register_collection_procedures(nullptr));
    }
    ASSERT_TRUE(register_collection_procedures(&bulk_reader));
    {
        static const collection_procedures another = {
            .load_collection_header_data = [](int32_t, void *, void *, bool) { return false; }};
        expected_assertions expect(2);
        EXPECT_FALSE(register_collection_procedures(&another));
        EXPECT_FALSE(register_load_font_character_data_procedure(nullptr));
    }
    // The first one stays.
    EXPECT_TRUE(load_collection_header_data(0, nullptr, nullptr, true));
    EXPECT_EQ(bulk_reads, 1);
}

TEST_F(preloading_test, map_list_fetches_what_it_names_in_order)
{
    const std::vector<preload_data> list = {
        {TEST_GROUP, FOUR_CHARACTER_CODE('s', 'e', 'c', 'o')}, // listed first, so index 0
        {FOUR_CHARACTER_CODE('z', 'z', 'z', 'z'), FOUR_CHARACTER_CODE('n', 'o', 'n', 'e')}, // a group not loaded here
        {TEST_GROUP, FOUR_CHARACTER_CODE('m', 'i', 's', 's')}, // no such tag: skipped
        {TEST_GROUP, FOUR_CHARACTER_CODE('f', 'i', 'r', 's')},
        {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l')},
    };
    std::vector<uint8_t> bad = encoded(list, two_bitmaps);
    write_be16(&bad[bad.size() - 2], 7); // a bitmap's pad
    start_map({{PRELOAD_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), "demo", 1,
                bytes_of(encoded(list, two_bitmaps))},
               {PRELOAD_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('b', 'a', 'd', ' '), "bad", 1, bytes_of(bad)},
               {TEST_GROUP, FOUR_CHARACTER_CODE('f', 'i', 'r', 's'), "firs", 1, record},
               {TEST_GROUP, FOUR_CHARACTER_CODE('s', 'e', 'c', 'o'), "seco", 1, record},
               {COLLECTION_GROUP_TAG, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'), "coll", 1, record}});
    ASSERT_TRUE(register_collection_procedures(&bulk_reader));

    ASSERT_TRUE(preload_map_definitions(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o')));
    EXPECT_EQ(take_pending_error(), _error_none);
    EXPECT_EQ(subgroup_tag_to_definition_index(&plain, FOUR_CHARACTER_CODE('s', 'e', 'c', 'o')), 0);
    EXPECT_EQ(subgroup_tag_to_definition_index(&plain, FOUR_CHARACTER_CODE('f', 'i', 'r', 's')), 1);
    const int32_t coll = subgroup_tag_to_definition_index(&collections, FOUR_CHARACTER_CODE('c', 'o', 'l', 'l'));
    ASSERT_NE(coll, NONE);
    EXPECT_TRUE(collections.flags[coll] & _definition_preloaded_flag);
    int32_t bitmap_count = 0;
    const bitmap_preload_data *bitmaps = get_preloaded_bitmaps(&bitmap_count);
    ASSERT_EQ(bitmap_count, 2);
    EXPECT_EQ(bitmaps[1].bitmap_index, 16383);
    EXPECT_TRUE(preload_map_definitions(NONE));
    EXPECT_EQ(get_preloaded_bitmaps(&bitmap_count), nullptr);

    // A corrupt or missing list: code 10, the field in the log, nothing fetched.
    EXPECT_FALSE(preload_map_definitions(FOUR_CHARACTER_CODE('b', 'a', 'd', ' ')));
    EXPECT_EQ(take_pending_error(), _error_data_corrupted);
    EXPECT_NE(log_text().find("bitmap_preload_data pad"), std::string::npos);
    EXPECT_FALSE(preload_map_definitions(FOUR_CHARACTER_CODE('g', 'o', 'n', 'e')));
    EXPECT_EQ(take_pending_error(), _error_data_corrupted);
}

} // namespace

} // namespace preloading_test_file

// The test programs compile their files together: this file's macros end here.
#undef TEST_GROUP
