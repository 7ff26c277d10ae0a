// Plug-ins: the table, encoded plug-in lists (the bytes that films and peers
// send), the resolver, entry points and the temporary collection preview.

#include <filesystem>
#include <random>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tag_files/collection_procedures.h"
#include "cseries/registration.h"
#include "cseries/byte_swapping.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace plugins_test_file {

namespace
{
const tag PICS = COLLECTION_GROUP_TAG;

// A stand-in for the game core's mesh layout: u32 flags, s16 level, then the
// printed name and the required plug-in's name, each terminated.
test_tag make_map(tag subgroup, const char *name, uint32_t flags, const char *printed, const char *dependency = "")
{
    test_tag map = make_test_tag(MESH_GROUP_TAG, subgroup, name, "", 11);
    map.data.resize(6);
    write_be32(map.data.data(), flags);
    write_be16(map.data.data() + 4, 100);
    map.data.insert(map.data.end(), printed, printed + strlen(printed) + 1);
    map.data.insert(map.data.end(), dependency, dependency + strlen(dependency) + 1);
    return map;
}

bool test_entry_point_reader(int32_t tag_index, full_entry_point *entry)
{
    std::vector<uint8_t> bytes = read_tag_bytes(tag_index);
    if (bytes.size() < 8) return false;
    entry->mesh_flags = read_be32(bytes.data());
    entry->level = (int16_t)read_be16(bytes.data() + 4);
    const char *printed = (const char *)bytes.data() + 6;
    strlcpy(entry->printed_name, printed, sizeof(entry->printed_name));
    strlcpy(entry->dependency_name, printed + strlen(printed) + 1, sizeof(entry->dependency_name));
    return true;
}

int questions_asked;
bool answer_yes(const char *, const char *) { return ++questions_asked > 0; }
bool answer_no(const char *, const char *) { return ++questions_asked < 0; }

class Plugins : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void SetUp() override
    {
        make_store_folders();
        quiet_error_manager();
        register_entry_point_reader_procedure(test_entry_point_reader);
        questions_asked = 0;
    }
    void TearDown() override
    {
        dispose_tag_files();
        clear_all_registrations();
        set_component_plugin_names(nullptr, nullptr);
    }
    // Plug-ins "P00".."Pnn" with one map each, then the store opened on them.
    void install_plugins(int count, int32_t type = _tag_file_type_plugin)
    {
        for (int i = 0; i < count; i++)
        {
            char name[8];
            snprintf(name, sizeof(name), "P%02d", i);
            ASSERT_TRUE(write_monolithic_file(std::string("plugins/") + name, type,
                                              {make_map(FOUR_CHARACTER_CODE('m', 'p', '0' + i / 10, '0' + i % 10), name,
                                                        0x10001, name)},
                                              name, "example.org/plugins"));
        }
    }
    void open_store(std::vector<int16_t> plugins = {})
    {
        initialize_tag_files();
        ASSERT_EQ(tag_files_open(0, plugins.data(), (int32_t)plugins.size(), -1, 0), 0);
    }
};

TEST_F(Plugins, the_table_follows_the_files_and_their_maps)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("plugins/Maps", _tag_file_type_plugin,
                                      {make_map(FOUR_CHARACTER_CODE('s', 'o', 'l', 'o'), "solo", 0x10000, "Solo"), make_map(FOUR_CHARACTER_CODE('m', 'u', 'l', 't'), "multi", 0x3, "Multi"),
                                       make_map(FOUR_CHARACTER_CODE('b', 'o', 't', 'h'), "both", 0x10002, "Both")},
                                      "Maps", "example.org/maps", 0, 2));
    ASSERT_TRUE(write_monolithic_file("plugins/Look", _tag_file_type_interface_plugin, {}, "Look", "", 0, -1, 1));
    ASSERT_TRUE(write_file_bytes("plugins/broken", {1, 2, 3}));
    ASSERT_TRUE(write_monolithic_file("plugins/Not a plugin", _tag_file_type_patch, {}, "x"));
    open_store();
    ASSERT_EQ(tag_file_get_plugin_count(), 2);
    const plugin_datum *look = get_plugin_data(0);
    const plugin_datum *maps = get_plugin_data(1);
    ASSERT_TRUE(look && maps);
    EXPECT_STREQ(look->name, "Look");
    EXPECT_EQ(look->type, _tag_file_type_interface_plugin);
    EXPECT_EQ(look->hidden, 1);
    EXPECT_STREQ(maps->url, "example.org/maps");
    EXPECT_EQ(maps->version, 2);
    EXPECT_EQ(maps->solo_entry_point_count, 2);
    EXPECT_EQ(maps->multiplayer_entry_point_count, 2);
    std::vector<uint8_t> file = read_file_bytes("plugins/Maps");
    EXPECT_EQ(maps->checksum, read_be32(&file[16]));
    EXPECT_EQ(get_plugin_data(2), nullptr);
    EXPECT_EQ(get_plugin_data(-1), nullptr);

    // The interface component chosen by name takes its place in the chain.
    set_component_plugin_names("look", nullptr);
    EXPECT_EQ(find_plugin_by_name("LOOK"), 0);
    set_component_plugin_names("Maps", nullptr); // wrong type: no component
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
}

TEST_F(Plugins, encoded_lists_round_trip_with_order_kept)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(17);
    open_store();
    for (int count : {0, 1, 16})
    {
        std::vector<int16_t> indexes;
        for (int i = 0; i < count; i++) indexes.push_back((int16_t)((i * 7) % 17));
        uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
        int32_t used = tag_file_plugins_encode(indexes.data(), count, encoded);
        ASSERT_GT(used, 0) << count;
        ASSERT_LE(used, ENCODED_PLUGIN_LIST_SIZE);
        int16_t decoded[MAXIMUM_PLUGINS_PER_GAME];
        int32_t decoded_count = -1, highest = 0;
        char reason[256] = "x";
        EXPECT_TRUE(tag_file_plugins_decode(decoded, &decoded_count, encoded, &highest, reason, sizeof(reason)));
        ASSERT_EQ(decoded_count, count);
        EXPECT_EQ(std::vector<int16_t>(decoded, decoded + count), indexes);
        EXPECT_EQ(highest, -1);
        EXPECT_STREQ(reason, "");
        EXPECT_EQ(tag_file_plugins_decode_missing(encoded, sizeof(encoded), nullptr, 0), 0);
    }
    // Golden bytes of a one-entry list: count, checksum, name, url, zeros.
    int16_t one = 3;
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_EQ(tag_file_plugins_encode(&one, 1, encoded), 2 + 4 + 4 + 20);
    EXPECT_EQ(read_be16(encoded), 1);
    EXPECT_EQ(read_be32(encoded + 2), get_plugin_data(3)->checksum);
    EXPECT_EQ(0, memcmp(encoded + 6, "P03\0example.org/plugins\0", 24));
    for (int i = 30; i < ENCODED_PLUGIN_LIST_SIZE; i++) ASSERT_EQ(encoded[i], 0);

    uint8_t zeros[ENCODED_PLUGIN_LIST_SIZE] = {};
    int32_t count = -1;
    EXPECT_TRUE(tag_file_plugins_decode(nullptr, &count, zeros, nullptr, nullptr, 0));
    EXPECT_EQ(count, 0);

    std::vector<int16_t> seventeen;
    for (int i = 0; i < 17; i++) seventeen.push_back((int16_t)i);
    EXPECT_EQ(tag_file_plugins_encode(seventeen.data(), 17, encoded), -1);
    int16_t bad = 99;
    EXPECT_EQ(tag_file_plugins_encode(&bad, 1, encoded), -1);
}

TEST_F(Plugins, a_list_that_does_not_fit_is_refused_not_cut)
{
    ASSERT_TRUE(write_foundation_files({}));
    std::string url(63, 'u');
    for (int i = 0; i < 16; i++)
    {
        std::string name = "A plug-in with a long name " + std::to_string(10 + i);
        ASSERT_TRUE(write_monolithic_file("plugins/" + name, _tag_file_type_plugin, {}, name.c_str(), url.c_str()));
    }
    open_store();
    std::vector<int16_t> all;
    for (int i = 0; i < 16; i++) all.push_back((int16_t)i);
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    memset(encoded, 0xAA, sizeof(encoded));
    EXPECT_EQ(tag_file_plugins_encode(all.data(), 16, encoded), -1);
    uint8_t zeros[ENCODED_PLUGIN_LIST_SIZE] = {};
    EXPECT_EQ(0, memcmp(encoded, zeros, sizeof(zeros)));
    EXPECT_GT(tag_file_plugins_encode(all.data(), 4, encoded), 0);
}

TEST_F(Plugins, missing_plugins_are_named_with_their_url)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(2);
    open_store();
    int16_t both[2] = {0, 1};
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(both, 2, encoded), 0);
    uint32_t checksum = get_plugin_data(1)->checksum;

    // Hand-made entries a peer might send: an unknown plug-in without url,
    // one whose url already has the scheme, and one
    // that shares a name with an installed plug-in but not its content.
    std::vector<uint8_t> list = {0, 4};
    auto add = [&list](uint32_t sum, const std::string &name, const std::string &url) {
        uint8_t word[4];
        write_be32(word, sum);
        list.insert(list.end(), word, word + 4);
        list.insert(list.end(), name.begin(), name.end());
        list.push_back(0);
        list.insert(list.end(), url.begin(), url.end());
        list.push_back(0);
    };
    add(checksum, "p01", "ignored");
    add(7, "Gone", "");
    add(8, "Far", "http://far.example/x");
    add(checksum + 1, "P01", "example.org/changed");
    list.resize(ENCODED_PLUGIN_LIST_SIZE);

    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    char reason[MAXIMUM_PLUGIN_REASON_TEXT];
    EXPECT_FALSE(tag_file_plugins_decode(indexes, &count, list.data(), nullptr, reason, sizeof(reason)));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(indexes[0], 1);
    EXPECT_STREQ(reason, "Gone - <unknown>\r"
                         "Far - http://far.example/x\r"
                         "P01 - http://example.org/changed\r");
    char tiny[8];
    EXPECT_FALSE(tag_file_plugins_decode(nullptr, nullptr, list.data(), nullptr, tiny, sizeof(tiny)));
    EXPECT_EQ(strlen(tiny), 7u);

    missing_plugin_info missing[MAXIMUM_MISSING_PLUGINS];
    ASSERT_EQ(tag_file_plugins_decode_missing(list.data(), ENCODED_PLUGIN_LIST_SIZE, missing, MAXIMUM_MISSING_PLUGINS), 3);
    EXPECT_STREQ(missing[0].name, "Gone");
    EXPECT_EQ(missing[0].checksum, 7u);
    EXPECT_STREQ(missing[2].url, "example.org/changed");
    EXPECT_EQ(missing[2].checksum, checksum + 1);
    EXPECT_EQ(tag_file_plugins_decode_missing(list.data(), ENCODED_PLUGIN_LIST_SIZE, missing, 1), 3);
}

TEST_F(Plugins, gameplay_plugins_give_a_version_and_stay_out_of_the_list)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("plugins/Rules 1701", _tag_file_type_gameplay_plugin, {}, "", "", 0, 1701));
    ASSERT_TRUE(write_monolithic_file("plugins/Rules 1800", _tag_file_type_gameplay_plugin, {}, "", "", 0, 1800));
    install_plugins(1);
    open_store();
    ASSERT_EQ(tag_file_get_plugin_count(), 3);
    int16_t list[3] = {1, 0, 2};
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(list, 3, encoded), 0);
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0, highest = 0;
    EXPECT_TRUE(tag_file_plugins_decode(indexes, &count, encoded, &highest, nullptr, 0));
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(get_plugin_data(indexes[0])->name, "P00");
    EXPECT_EQ(highest, 1800);
}

TEST_F(Plugins, malformed_lists_are_refused_within_their_512_bytes)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(1);
    open_store();
    int16_t one = 0;
    uint8_t good[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(&one, 1, good), 0);
    struct case_
    {
        const char *what;
        void (*damage)(uint8_t *bytes);
    } cases[] = {
        {"17 entries", [](uint8_t *b) { write_be16(b, 17); }},
        {"count beyond the entries", [](uint8_t *b) { write_be16(b, 2); }},
        {"empty name", [](uint8_t *b) { memmove(b + 6, b + 9, 40); }},
        {"huge count", [](uint8_t *b) { write_be16(b, 0xFFFF); }},
        {"name without terminator", [](uint8_t *b) { memset(b + 6, 'n', 506); }},
        {"name of 40 characters", [](uint8_t *b) { memset(b + 6, 'n', 40); }},
        {"url without terminator", [](uint8_t *b) { memset(b + 10, 'u', 502); }},
        {"garbage after the last entry", [](uint8_t *b) { b[511] = 1; }},
    };
    for (const case_ &c : cases)
    {
        // Copied into a buffer of exactly 512 bytes so that ASan sees any read past it.
        std::vector<uint8_t> bytes(good, good + ENCODED_PLUGIN_LIST_SIZE);
        c.damage(bytes.data());
        int32_t count = 99;
        EXPECT_FALSE(tag_file_plugins_decode(nullptr, &count, bytes.data(), nullptr, nullptr, 0)) << c.what;
        EXPECT_EQ(tag_file_plugins_decode_missing(bytes.data(), ENCODED_PLUGIN_LIST_SIZE, nullptr, 0), -1) << c.what;
        EXPECT_FALSE(get_mesh_display_name_in_plugin_list(FOUR_CHARACTER_CODE('m', 'p', '0', '0'), nullptr, 0, bytes.data(), ENCODED_PLUGIN_LIST_SIZE))
            << c.what;
    }
    EXPECT_EQ(tag_file_plugins_decode_missing(good, 1, nullptr, 0), -1) << "too short to hold a count";
}

TEST_F(Plugins, random_buffers_never_read_past_512_bytes)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(2);
    open_store();
    std::mt19937 generator(12345);
    std::vector<uint8_t> bytes(ENCODED_PLUGIN_LIST_SIZE);
    int decoded = 0;
    for (int round = 0; round < 100000; round++)
    {
        for (uint8_t &b : bytes) b = (uint8_t)generator();
        // Small counts and sparse text make some buffers decode.
        bytes[0] = 0;
        bytes[1] &= (round & 1) ? 0x1F : 0x01;
        if (round & 2)
            for (size_t i = 2; i < bytes.size(); i++)
                if ((generator() & 3) == 0) bytes[i] = 0;
        int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
        int32_t count;
        char reason[64];
        tag_file_plugins_decode(indexes, &count, bytes.data(), nullptr, reason, sizeof(reason));
        int32_t missing = tag_file_plugins_decode_missing(bytes.data(), (int32_t)bytes.size(), nullptr, 0);
        if (missing >= 0) decoded++;
        ASSERT_LE(missing, MAXIMUM_PLUGINS_PER_GAME);
    }
    EXPECT_GE(decoded, 0);
}

TEST_F(Plugins, resolving_a_maps_plugins_asks_when_one_is_missing)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(3);
    open_store();
    int16_t result[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    bool earlier = true;
    int16_t user[3] = {2, 2, NONE};
    ASSERT_TRUE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 16, user, 3, 1024, 1, "p00", &earlier, 0,
                                                              false));
    EXPECT_EQ(std::vector<int16_t>(result, result + count), (std::vector<int16_t>{2, 0, 1}));
    EXPECT_FALSE(earlier) << "plug-ins without the safe bit clear the flag";

    EXPECT_FALSE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 16, user, 1, 1024, 1, "Absent", &earlier, 0,
                                                               true))
        << "no question procedure: the answer is no";
    register_plugin_question_procedure(answer_no);
    EXPECT_FALSE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 16, user, 1, 1024, 1, "Absent", &earlier, 0,
                                                               true));
    EXPECT_EQ(questions_asked, 1);
    clear_all_registrations(); // a slot takes one procedure: start again with the other answer
    register_entry_point_reader_procedure(test_entry_point_reader);
    register_plugin_question_procedure(answer_yes);
    EXPECT_FALSE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 16, user, 1, 1024, 1, "Absent", &earlier, 0,
                                                               false))
        << "non-interactive: never asks, fails";
    EXPECT_EQ(questions_asked, 1);
    ASSERT_TRUE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 16, user, 1, 1024, 1, "Absent", &earlier, 0,
                                                              true));
    EXPECT_EQ(std::vector<int16_t>(result, result + count), (std::vector<int16_t>{2, 1}));
    int16_t many[3] = {0, 1, 2};
    EXPECT_FALSE(tag_files_build_plugin_indices_for_entrypoint(result, &count, 2, many, 3, 1024, NONE, nullptr, nullptr,
                                                               0, false))
        << "never more than the maximum";
}

TEST_F(Plugins, entry_points_come_foundation_then_local_then_plugins)
{
    ASSERT_TRUE(write_foundation_files({make_map(FOUR_CHARACTER_CODE('8', '5', 'g', 'i'), "base", 0x10000, "Base Map")}));
    std::filesystem::create_directories("local/mesh");
    ASSERT_TRUE(write_local_file("local/mesh/mine", make_map(FOUR_CHARACTER_CODE('m', 'i', 'n', 'e'), "mine", 0x1, "My Map")));
    install_plugins(3);
    open_store({2, 0});
    int32_t count = 0;
    full_entry_point *const *entries = nullptr;
    get_cached_entry_points(&count, &entries, nullptr);
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(entries[0]->printed_name, "Base Map");
    EXPECT_EQ(entries[0]->plugin_index, BASE_GAME_PLUGIN_INDEX);
    EXPECT_STREQ(entries[1]->printed_name, "My Map");
    EXPECT_STREQ(entries[2]->printed_name, "P02");
    EXPECT_EQ(entries[2]->plugin_index, 2);
    EXPECT_EQ(entries[2]->subgroup_tag, FOUR_CHARACTER_CODE('m', 'p', '0', '2'));
    EXPECT_STREQ(entries[3]->printed_name, "P00");

    int16_t list[4] = {NONE, 1, NONE, 2};
    EXPECT_EQ(entry_points_open(1, list, 4), 2);
    EXPECT_EQ(list[0], 2);
    EXPECT_EQ(list[1], 1);
    get_cached_entry_points(&count, &entries, nullptr);
    ASSERT_EQ(count, 3) << "local maps are left out with the local folder off";
    EXPECT_STREQ(entries[1]->printed_name, "P02");
    EXPECT_EQ(entries[0], &*entries[0]);

    char name[6];
    uint8_t empty[ENCODED_PLUGIN_LIST_SIZE] = {};
    EXPECT_TRUE(get_mesh_display_name_in_plugin_list(FOUR_CHARACTER_CODE('8', '5', 'g', 'i'), name, sizeof(name), empty, sizeof(empty)));
    EXPECT_STREQ(name, "Base ");
    EXPECT_FALSE(get_mesh_display_name_in_plugin_list(FOUR_CHARACTER_CODE('m', 'p', '0', '1'), name, sizeof(name), empty, sizeof(empty)));
    int16_t one = 1;
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(&one, 1, encoded), 0);
    EXPECT_TRUE(get_mesh_display_name_in_plugin_list(FOUR_CHARACTER_CODE('m', 'p', '0', '1'), name, sizeof(name), encoded, sizeof(encoded)));
    EXPECT_STREQ(name, "P01");
}

int32_t loaded_tag_index, disposed_collection;
int32_t test_load(int32_t tag_index)
{
    loaded_tag_index = tag_index;
    return 40 + (tag_index & 0xF);
}
void test_dispose(int32_t collection) { disposed_collection = collection; }

TEST_F(Plugins, the_temporary_collection_closes_the_previous_plugin)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("plugins/A", _tag_file_type_plugin, {make_test_tag(PICS, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n'), "banner", "A")}, "A"));
    ASSERT_TRUE(write_monolithic_file("plugins/B", _tag_file_type_plugin, {make_test_tag(PICS, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n'), "banner", "B")}, "B"));
    open_store();
    EXPECT_EQ(tag_file_collection_open_temporary(0, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n')), NONE) << "no loader registered";
    static const collection_procedures preview = {.load_temporary_collection = test_load,
                                                  .dispose_temporary_collection = test_dispose};
    register_collection_procedures(&preview);
    int32_t first = tag_file_collection_open_temporary(0, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n'));
    ASSERT_NE(first, NONE);
    int32_t a_index = loaded_tag_index;
    EXPECT_EQ(read_tag_bytes(a_index), std::vector<uint8_t>{'A'});
    EXPECT_EQ(tag_file_open(PICS, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n')), NONE) << "a preview stays out of the chain";
    int32_t second = tag_file_collection_open_temporary(1, FOUR_CHARACTER_CODE('b', 'a', 'n', 'n'));
    EXPECT_EQ(disposed_collection, first);
    tag_file_info info;
    EXPECT_FALSE(tag_file_info_get(a_index, &info)) << "A's file was closed";
    int32_t b_index = loaded_tag_index;
    EXPECT_EQ(read_tag_bytes(b_index), std::vector<uint8_t>{'B'});
    tag_file_collection_close_temporary(-1);
    EXPECT_EQ(disposed_collection, second);
    EXPECT_FALSE(tag_file_info_get(b_index, &info));
}

TEST_F(Plugins, opening_plugins_for_a_preview_keeps_the_games_own_choice)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("plugins/A", _tag_file_type_plugin, {make_test_tag(PICS, FOUR_CHARACTER_CODE('o', 'n', 'l', 'a'), "a", "A")}, "A"));
    ASSERT_TRUE(write_monolithic_file("plugins/B", _tag_file_type_plugin, {make_test_tag(PICS, FOUR_CHARACTER_CODE('o', 'n', 'l', 'b'), "b", "B")}, "B"));
    const tag only_a = FOUR_CHARACTER_CODE('o', 'n', 'l', 'a');
    const tag only_b = FOUR_CHARACTER_CODE('o', 'n', 'l', 'b');
    open_store({0}); // the game plays with A

    // Plain opening makes B the game's choice; a later reopen keeps it.
    const int16_t b[] = {1};
    ASSERT_TRUE(tag_file_plugins_open(b, 1, false));
    EXPECT_NE(tag_file_open(PICS, only_b), NONE);
    EXPECT_EQ(tag_file_open(PICS, only_a), NONE);
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    EXPECT_NE(tag_file_open(PICS, only_b), NONE);

    // A preview shows A's tags now, and the next reopen goes back to B.
    const int16_t a[] = {0};
    ASSERT_TRUE(tag_file_plugins_open(a, 1, true));
    EXPECT_NE(tag_file_open(PICS, only_a), NONE);
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    EXPECT_EQ(tag_file_open(PICS, only_a), NONE);
    EXPECT_NE(tag_file_open(PICS, only_b), NONE);

    // The encoded form opens the same plug-ins.
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    ASSERT_GT(tag_file_plugins_encode(a, 1, encoded), 0);
    ASSERT_TRUE(tag_file_plugins_open_encoded(encoded, true));
    EXPECT_NE(tag_file_open(PICS, only_a), NONE);
}

TEST_F(Plugins, opening_plugins_that_are_not_there_is_refused_and_changes_nothing)
{
    ASSERT_TRUE(write_foundation_files({}));
    install_plugins(1);
    open_store({0});
    const tag map = FOUR_CHARACTER_CODE('m', 'p', '0', '0');
    ASSERT_NE(tag_file_open(MESH_GROUP_TAG, map), NONE);
    const int32_t tag_index = tag_file_open(MESH_GROUP_TAG, map);

    std::vector<int16_t> seventeen(17, 0);
    const int16_t missing[] = {0, 5};
    struct row
    {
        const char *what;
        const int16_t *indexes;
        int32_t count;
    };
    for (const row &r : {row{"negative count", missing, -1}, row{"more than 16", seventeen.data(), 17},
                         row{"a plug-in not installed", missing, 2}, row{"no list", nullptr, 1}})
    {
        EXPECT_FALSE(tag_file_plugins_open(r.indexes, r.count, false)) << r.what;
        tag_file_info info;
        EXPECT_TRUE(tag_file_info_get(tag_index, &info)) << r.what << ": the store was not reopened";
    }
    uint8_t garbage[ENCODED_PLUGIN_LIST_SIZE];
    memset(garbage, 0xFF, sizeof(garbage));
    EXPECT_FALSE(tag_file_plugins_open_encoded(garbage, false));
    EXPECT_FALSE(tag_file_plugins_open_encoded(nullptr, false));
    tag_file_info info;
    EXPECT_TRUE(tag_file_info_get(tag_index, &info));
}

} // namespace

} // namespace plugins_test_file
