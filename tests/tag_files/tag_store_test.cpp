// The tag-file store: packing, precedence, handles, local tags, copy on
// write, the local-folder switch, checksums, patches and refused files.

#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cseries/registration.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace tag_store_test_file {

namespace
{
const tag UNIT = FOUR_CHARACTER_CODE('u', 'n', 'i', 't');
const tag PICS = COLLECTION_GROUP_TAG;
const tag BASE = FOUR_CHARACTER_CODE('b', 'a', 's', 'e');

class TagStore : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void SetUp() override
    {
        make_store_folders();
        quiet_error_manager();
    }
    void TearDown() override
    {
        dispose_tag_files();
        clear_all_registrations();
    }
    // Opens the store on what the test wrote; the result code of tag_files_open.
    int32_t open_store(int32_t local_choice = 0, std::vector<int16_t> plugins = {})
    {
        initialize_tag_files();
        return tag_files_open(local_choice, plugins.data(), (int32_t)plugins.size(), -1, 0);
    }
    std::string text_of(int32_t index)
    {
        std::vector<uint8_t> bytes = read_tag_bytes(index);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(TagStore, packed_tags_read_back_field_for_field_and_byte_for_byte)
{
    std::vector<test_tag> tags;
    for (int i = 0; i < 20; i++)
    {
        test_tag t = make_test_tag(UNIT, FOUR_CHARACTER_CODE('u', '0' + i / 10, '0' + i % 10, 'x'),
                                   "unit " + std::to_string(i), "", (int16_t)(i + 1));
        for (int b = 0; b < 37 * i; b++) t.data.push_back((uint8_t)(b * 7 + i));
        tags.push_back(t);
    }
    ASSERT_TRUE(write_foundation_files(tags));
    ASSERT_EQ(open_store(), 0);
    for (const test_tag &t : tags)
    {
        int32_t index = tag_file_open(t.group_tag, t.subgroup_tag);
        ASSERT_GT(index, 0);
        tag_file_info info;
        ASSERT_TRUE(tag_file_info_get(index, &info));
        EXPECT_EQ(std::string(info.name), t.name);
        EXPECT_EQ(info.version, t.version);
        EXPECT_EQ(info.size, (int32_t)t.data.size());
        EXPECT_EQ(info.foundation_tag_file_index, 0);
        EXPECT_EQ(info.type, _tag_file_type_foundation);
        EXPECT_EQ(read_tag_bytes(index), t.data);
        if (t.data.size() > 10)
        {
            uint8_t middle[5];
            ASSERT_TRUE(tag_file_read(index, 5, 5, middle));
            EXPECT_EQ(0, memcmp(middle, &t.data[5], 5));
        }
        uint8_t byte;
        EXPECT_FALSE(tag_file_read(index, info.size, 1, &byte)) << "a read past the end must fail";
        EXPECT_FALSE(tag_file_read(index, -1, 1, &byte));
    }
    EXPECT_EQ(tag_file_open(UNIT, FOUR_CHARACTER_CODE('n', 'o', 'n', 'e')), NONE);
}

// The same tag in every level of precedence.
class TagStorePrecedence : public TagStore
{
protected:
    void write_ladder(bool with_plugin, bool with_local)
    {
        ASSERT_TRUE(write_foundation_files({make_test_tag(PICS, BASE, "pic", "foundation")}));
        ASSERT_TRUE(write_monolithic_file("tags/patch1.tags", _tag_file_type_patch,
                                          {make_test_tag(PICS, BASE, "pic", "patch")}, "patch1", "", 1));
        if (with_plugin)
        {
            ASSERT_TRUE(write_monolithic_file("plugins/Extra", _tag_file_type_plugin,
                                              {make_test_tag(PICS, BASE, "pic", "plugin")}, "Extra"));
        }
        if (with_local)
        {
            std::filesystem::create_directories("local/2e323536");
            ASSERT_TRUE(write_local_file("local/2e323536/pic", make_test_tag(PICS, BASE, "pic", "local")));
        }
    }
};

TEST_F(TagStorePrecedence, the_ladder_from_foundation_to_owner_override)
{
    write_ladder(true, true);
    ASSERT_EQ(open_store(0, {0}), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "local");
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = PICS;
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 1) << "one pair is listed once";

    ASSERT_EQ(tag_files_open(1, nullptr, -1, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "plugin") << "local folder off";

    ASSERT_EQ(tag_files_open(1, nullptr, 0, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "patch") << "without the plug-in";

    ASSERT_EQ(tag_files_open(0, nullptr, -1, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "local");

    // Find the foundation file's owner index through a foundation-only tag.
    int32_t foundation_owner = NONE;
    for (int32_t owner = 0; owner < 16 && foundation_owner == NONE; owner++)
    {
        update_tag_header_shadows_for_owner_index(PICS, BASE, owner);
        if (text_of(tag_file_open(PICS, BASE)) == "foundation") foundation_owner = owner;
    }
    ASSERT_NE(foundation_owner, NONE) << "an owner override must bring the foundation's tag back";
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(tag_file_open(PICS, BASE), &info));
    EXPECT_EQ(info.owner_index, foundation_owner);
    update_tag_header_shadows_for_owner_index(PICS, BASE, NONE);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "local");
}

TEST_F(TagStorePrecedence, game_plugins_win_in_list_order)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("plugins/A", _tag_file_type_plugin, {make_test_tag(PICS, BASE, "pic", "A")}, "A"));
    ASSERT_TRUE(write_monolithic_file("plugins/B", _tag_file_type_plugin, {make_test_tag(PICS, BASE, "pic", "B")}, "B"));
    ASSERT_EQ(open_store(0, {0, 1}), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "B");
    ASSERT_EQ(tag_files_open(0, std::vector<int16_t>{1, 0}.data(), 2, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "A");
}

TEST_F(TagStorePrecedence, indexes_go_stale_at_reopen_and_are_never_zero)
{
    write_ladder(false, false);
    ASSERT_EQ(open_store(), 0);
    int32_t old_index = tag_file_open(PICS, BASE);
    ASSERT_GT(old_index, 0);
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    tag_file_info info;
    uint8_t byte = 0;
    EXPECT_FALSE(tag_file_info_get(old_index, &info));
    EXPECT_FALSE(tag_file_read(old_index, 0, 1, &byte));
    EXPECT_FALSE(tag_file_write(&old_index, 0, 1, &byte));
    EXPECT_STREQ(tag_file_name_get(old_index), "");
    int32_t new_index = tag_file_open(PICS, BASE);
    EXPECT_GT(new_index, 0);
    EXPECT_NE(new_index, old_index);
    for (int32_t bad : {0, -1, (int32_t)0x7FFFFFFF, new_index & 0xFFFF})
        EXPECT_FALSE(tag_file_info_get(bad, &info)) << bad;
}

TEST_F(TagStore, local_tags_grow_rename_replace_delete_and_survive_a_reopen)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(), 0);
    int32_t index = tag_file_new(UNIT, "My Unit", 2);
    ASSERT_GT(index, 0);
    ASSERT_TRUE(tag_file_write(&index, 0, 4, "abcd"));
    ASSERT_TRUE(tag_file_write(&index, 10, 3, "xyz"));
    std::vector<uint8_t> expected = {'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0, 'x', 'y', 'z'};
    EXPECT_EQ(read_tag_bytes(index), expected) << "the gap must read as zeros";

    ASSERT_TRUE(tag_file_name_set(&index, "Renamed"));
    EXPECT_STREQ(tag_file_name_get(index), "Renamed");
    EXPECT_STREQ(tag_file_full_filename_get(index), "Renamed");
    EXPECT_EQ(tag_file_find_by_name(UNIT, "my unit"), NONE);
    EXPECT_EQ(tag_file_find_by_name(UNIT, "RENAMED"), index);
    ASSERT_TRUE(tag_files_flush());

    tag subgroup;
    {
        tag_file_info info;
        ASSERT_TRUE(tag_file_info_get(index, &info));
        subgroup = info.subgroup_tag;
        EXPECT_EQ(info.type, _tag_file_type_local);
        EXPECT_EQ(info.version, 2);
    }
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    int32_t reopened = tag_file_open(UNIT, subgroup);
    EXPECT_STREQ(tag_file_name_get(reopened), "Renamed");
    EXPECT_EQ(read_tag_bytes(reopened), expected);

    // A new tag with the name in other letters replaces the old one, once
    // it is written and committed; until then every search finds the old.
    int32_t replacement = tag_file_new(UNIT, "RENAMED", 3);
    ASSERT_GT(replacement, 0);
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = UNIT;
    ASSERT_TRUE(tag_file_write(&replacement, 0, 2, "ok"));
    EXPECT_EQ(tag_file_find_by_name(UNIT, "renamed"), reopened);
    EXPECT_EQ(tag_file_open(UNIT, subgroup), reopened);
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 1);
    EXPECT_EQ(read_tag_bytes(reopened), expected);
    EXPECT_EQ(aside_files_of("local/unit", "RENAMED").size(), 1u);
    ASSERT_TRUE(tag_file_commit(replacement));
    EXPECT_FALSE(tag_file_info_get(reopened, nullptr));
    EXPECT_EQ(tag_file_find_by_name(UNIT, "renamed"), replacement);
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 1);
    EXPECT_EQ(read_tag_bytes(replacement), std::vector<uint8_t>({'o', 'k'}));
    EXPECT_TRUE(std::filesystem::exists("local/unit/RENAMED"));
    EXPECT_FALSE(std::filesystem::exists("local/unit/Renamed"));
    EXPECT_TRUE(aside_files_of("local/unit", "RENAMED").empty());

    ASSERT_TRUE(tag_file_delete(replacement));
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 0);
    EXPECT_FALSE(std::filesystem::exists("local/unit/RENAMED"));
    EXPECT_FALSE(tag_file_delete(replacement));
}

TEST_F(TagStore, a_replacement_that_cannot_be_made_keeps_the_old_tag)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(), 0);
    int32_t index = tag_file_new(UNIT, "Alpha", 1);
    ASSERT_TRUE(tag_file_write(&index, 0, 4, "keep"));
    // Another program's file holds the new spelling of the name.
    ASSERT_TRUE(write_whole_file("local/unit/ALPHA", "foreign", 7));

    EXPECT_EQ(tag_file_new(UNIT, "ALPHA", 2), NONE);
    EXPECT_EQ(tag_file_find_by_name(UNIT, "alpha"), index);
    EXPECT_EQ(text_of(index), "keep");
    EXPECT_EQ(read_whole_file("local/unit/ALPHA"), "foreign");
    EXPECT_TRUE(aside_files_of("local/unit", "ALPHA").empty());
}

// The header table grows by doubling from 1024: with exactly that many tags
// open, the copy made by a write needs the 1025th header while it still
// holds the packed tag's name.
TEST_F(TagStore, copying_a_packed_tag_into_a_full_header_table_keeps_its_name)
{
    std::vector<test_tag> tags;
    for (int32_t i = 0; i < 1024; i++)
        tags.push_back(make_test_tag(UNIT, (tag)(0x41000000 + i), "packed " + std::to_string(i), "data"));
    ASSERT_TRUE(write_foundation_files(tags));
    ASSERT_EQ(open_store(), 0);
    int32_t index = tag_file_open(UNIT, (tag)(0x41000000 + 1000));
    ASSERT_NE(index, NONE);
    ASSERT_TRUE(tag_file_write(&index, 0, 4, "DATA"));
    EXPECT_STREQ(tag_file_name_get(index), "packed 1000");
    EXPECT_STREQ(tag_file_full_filename_get(index), "packed 1000");
    EXPECT_EQ(text_of(index), "DATA");
    EXPECT_TRUE(std::filesystem::exists("local/unit/packed 1000"));
}

static const char *failing_step;
static int32_t steps_seen;

static bool fail_one_kind_of_step(const char *step, const char *)
{
    if (strcmp(step, failing_step) != 0) return true;
    steps_seen++;
    return false;
}

static bool count_one_kind_of_step(const char *step, const char *)
{
    if (strcmp(step, failing_step) == 0) steps_seen++;
    return true;
}

// A delete that did not happen must not be reported as done, and a flush that
// did not reach the disk must be tried again by the next one.
TEST_F(TagStore, a_failed_delete_or_flush_is_reported_and_nothing_is_forgotten)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(), 0);
    int32_t index = tag_file_new(UNIT, "Kept", 1);
    ASSERT_TRUE(tag_file_write(&index, 0, 4, "keep"));

    failing_step = "delete";
    steps_seen = 0;
    set_file_step_procedure(fail_one_kind_of_step);
    EXPECT_FALSE(tag_file_delete(index));
    set_file_step_procedure(nullptr);
    EXPECT_EQ(steps_seen, 1);
    EXPECT_EQ(text_of(index), "keep") << "the index stays good while its file stays";
    EXPECT_EQ(tag_file_find_by_name(UNIT, "kept"), index);

    failing_step = "sync";
    steps_seen = 0;
    set_file_step_procedure(fail_one_kind_of_step);
    EXPECT_FALSE(tag_files_flush());
    EXPECT_EQ(steps_seen, 1);
    set_file_step_procedure(count_one_kind_of_step);
    EXPECT_TRUE(tag_files_flush());
    EXPECT_EQ(steps_seen, 2) << "the tag that failed to sync was dropped from the next flush";
    EXPECT_TRUE(tag_files_flush());
    EXPECT_EQ(steps_seen, 2);
    set_file_step_procedure(nullptr);

    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    index = tag_file_find_by_name(UNIT, "kept");
    EXPECT_EQ(text_of(index), "keep");
    EXPECT_TRUE(tag_file_delete(index));
    EXPECT_FALSE(std::filesystem::exists("local/unit/Kept"));
}

TEST_F(TagStore, names_that_could_leave_the_folder_are_refused)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(), 0);
    const char *bad_names[] = {"", "a/b", "..", "a..b", ".hidden", "tab\there", "line\nbreak", "back\\slash",
                               "0123456789012345678901234567890123"};
    for (const char *name : bad_names)
    {
        EXPECT_EQ(tag_file_new(UNIT, name, 1), NONE) << name;
        EXPECT_EQ(tag_file_new_with_random_subgroup_tag(UNIT, name, 1), NONE) << name;
    }
    int32_t index = tag_file_new(UNIT, "fine name.x", 1);
    ASSERT_GT(index, 0);
    for (const char *name : bad_names) EXPECT_FALSE(tag_file_name_set(&index, name)) << name;
    int32_t other = tag_file_new(UNIT, "other", 1);
    EXPECT_FALSE(tag_file_name_set(&other, "FINE NAME.X")) << "renaming onto another tag's name";
    EXPECT_EQ(std::filesystem::directory_iterator("local/unit") == std::filesystem::directory_iterator(), false);
    int32_t files = 0;
    for (auto &entry : std::filesystem::directory_iterator("local/unit")) files += entry.is_regular_file();
    EXPECT_EQ(files, 2);
}

TEST_F(TagStore, random_subgroups_are_distinct_and_never_zero_or_none)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(), 0);
    std::set<tag> seen;
    for (int i = 0; i < 1000; i++)
    {
        int32_t index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, ("film " + std::to_string(i)).c_str(), 3);
        ASSERT_GT(index, 0);
        tag_file_info info;
        ASSERT_TRUE(tag_file_info_get(index, &info));
        EXPECT_NE(info.subgroup_tag, 0);
        EXPECT_NE(info.subgroup_tag, NONE);
        EXPECT_TRUE(seen.insert(info.subgroup_tag).second);
    }
}

TEST_F(TagStore, writing_a_monolithic_tag_copies_it_and_leaves_the_file_alone)
{
    ASSERT_TRUE(write_foundation_files({make_test_tag(PICS, BASE, "pic", "original")}));
    std::vector<uint8_t> before = read_file_bytes("tags/foundation1.tags");
    ASSERT_EQ(open_store(), 0);
    int32_t index = tag_file_open(PICS, BASE);
    int32_t original = index;
    ASSERT_TRUE(tag_file_write(&index, 0, 4, "CHAN"));
    EXPECT_NE(index, original);
    EXPECT_EQ(text_of(index), "CHANinal");
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "CHANinal");
    EXPECT_EQ(text_of(original), "original") << "the monolithic tag itself is unchanged";
    EXPECT_EQ(read_file_bytes("tags/foundation1.tags"), before);
    EXPECT_FALSE(tag_file_delete(original));

    ASSERT_EQ(tag_files_open(1, nullptr, -1, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "original") << "local copies hidden with the local folder off";
    // A second write while hidden goes into the same local copy, not a fresh one.
    index = tag_file_open(PICS, BASE);
    ASSERT_TRUE(tag_file_write(&index, 8, 1, "!"));
    EXPECT_EQ(text_of(index), "CHANinal!");
    ASSERT_EQ(tag_files_open(0, nullptr, -1, -1, 0), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "CHANinal!");
    EXPECT_EQ(read_file_bytes("tags/foundation1.tags"), before);
}

TEST_F(TagStore, player_records_stay_usable_with_the_local_folder_off)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_EQ(open_store(1), 0);
    for (tag group : {PREFERENCES_GROUP_TAG, RECORDING_GROUP_TAG, SAVED_GAME_GROUP_TAG})
    {
        int32_t index = tag_file_new(group, "record", 3);
        ASSERT_GT(index, 0) << tag_to_string(group);
        ASSERT_TRUE(tag_file_write(&index, 0, 5, "hello"));
        tag_file_info filter;
        tag_file_info_new(&filter);
        filter.group_tag = group;
        int32_t found[4];
        ASSERT_EQ(tag_file_enumerate(&filter, found, 4), 1);
        EXPECT_EQ(text_of(found[0]), "hello");
    }
    int32_t game_data = tag_file_new(PICS, "user pic", 1);
    ASSERT_GT(game_data, 0);
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = PICS;
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 0) << "local game data is hidden";
    ASSERT_EQ(tag_files_open(1, nullptr, -1, -1, 0), 0);
    filter.group_tag = PREFERENCES_GROUP_TAG;
    EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), 1);
    EXPECT_TRUE(std::filesystem::exists("preferences/record"));
    EXPECT_TRUE(std::filesystem::exists("films/record"));
    EXPECT_TRUE(std::filesystem::exists("saved games/record"));
}

TEST_F(TagStore, a_film_opens_by_path_whatever_the_switch)
{
    ASSERT_TRUE(write_foundation_files({}));
    std::filesystem::create_directories("elsewhere");
    ASSERT_TRUE(write_local_file("elsewhere/My Film", make_test_tag(RECORDING_GROUP_TAG, FOUR_CHARACTER_CODE('f', 'i', 'l', 'm'),
                                                                     "My Film", "commands", 3)));
    ASSERT_EQ(open_store(1), 0);
    int32_t index = tag_file_open_local_file((std::string(scratch.path) + "/elsewhere/My Film").c_str());
    ASSERT_GT(index, 0);
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(index, &info));
    EXPECT_EQ(info.group_tag, RECORDING_GROUP_TAG);
    EXPECT_EQ(info.version, 3);
    EXPECT_EQ(tag_file_open(RECORDING_GROUP_TAG, FOUR_CHARACTER_CODE('f', 'i', 'l', 'm')), index);
    EXPECT_EQ(text_of(index), "commands");
    EXPECT_EQ(tag_file_open_local_file("elsewhere/missing"), NONE);
    int32_t indexes[4];
    EXPECT_EQ(tag_files_open_local_folder("elsewhere", indexes, 4), 1);
    EXPECT_EQ(indexes[0], index);

    // Other spellings of the same file, as a shell hands them over, give the same tag.
    for (const char *spelling : {"./elsewhere/My Film", "elsewhere/../elsewhere/My Film", "elsewhere//My Film"})
        EXPECT_EQ(tag_file_open_local_file(spelling), index) << spelling;
    EXPECT_EQ(tag_files_open_local_folder("./elsewhere/.", indexes, 4), 1);
    EXPECT_EQ(indexes[0], index);

    // A film the store keeps in its own folder, opened by path, is that same
    // tag: a second handle would keep the size it had when opened.
    int32_t recorded = tag_file_new(RECORDING_GROUP_TAG, "recorded", 3);
    ASSERT_TRUE(tag_file_write(&recorded, 0, 4, "abcd"));
    int32_t by_path = tag_file_open_local_file((std::string(FILMS_FOLDER) + "/recorded").c_str());
    EXPECT_EQ(by_path, recorded);
    ASSERT_TRUE(tag_file_write(&recorded, 4, 4, "efgh"));
    EXPECT_EQ(text_of(by_path), "abcdefgh");
}

// Films and saved games are the player's files: copies of one film (one
// subgroup, one name inside), another film whose subgroup is the last film's,
// tool-made saves of one prefix and a save copied over another are each
// listed, found and replaced by their own file, and each keeps its subgroup
// across reopens, whatever is copied in between; a damaged copy is refused
// with its reason and hides none of them.
TEST_F(TagStore, every_film_and_saved_game_is_its_own_file)
{
    ASSERT_TRUE(write_foundation_files({}));
    const tag LAST = FOUR_CHARACTER_CODE('l', 'a', 's', 't'), AUTO = FOUR_CHARACTER_CODE('A', 'u', 't', 'o');
    const char *const FIRST_SAVE = "Autosave- 2026-01-01 10.00.00";
    struct player_file
    {
        const char *folder, *file, *inside;
        tag group, subgroup;
        std::string bytes;
    };
    std::vector<player_file> files = {
        {FILMS_FOLDER, "Last Game", "Last Game", RECORDING_GROUP_TAG, LAST, "bytes of Last Game"},
        {FILMS_FOLDER, "Keep", "Last Game", RECORDING_GROUP_TAG, LAST, "bytes of Keep"},
        {FILMS_FOLDER, "LAST GAME 2", "Last Game", RECORDING_GROUP_TAG, LAST, "bytes of LAST GAME 2"},
        {FILMS_FOLDER, "Other", "Other", RECORDING_GROUP_TAG, LAST, "bytes of Other"},
        {SAVED_GAMES_FOLDER, FIRST_SAVE, FIRST_SAVE, SAVED_GAME_GROUP_TAG, AUTO, "bytes of the first"},
        {SAVED_GAMES_FOLDER, "Autosave- 2026-01-01 11.00.00", "Autosave- 2026-01-01 11.00.00", SAVED_GAME_GROUP_TAG,
         AUTO, "bytes of the second"},
        {SAVED_GAMES_FOLDER, "Slot 1", FIRST_SAVE, SAVED_GAME_GROUP_TAG, AUTO, "bytes of Slot 1"},
    };
    std::filesystem::create_directories(FILMS_FOLDER);
    std::filesystem::create_directories(SAVED_GAMES_FOLDER);
    for (const player_file &f : files)
        ASSERT_TRUE(write_local_file(std::string(f.folder) + "/" + f.file,
                                     make_test_tag(f.group, f.subgroup, f.inside, f.bytes, 3)));
    std::vector<uint8_t> broken = read_file_bytes(std::string(FILMS_FOLDER) + "/Keep");
    broken.resize(broken.size() - 2);
    ASSERT_TRUE(write_file_bytes(std::string(FILMS_FOLDER) + "/Broken", broken));
    open_log_file("store test");
    ASSERT_EQ(open_store(), 0);
    close_log_file();
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("films/Broken"), std::string::npos) << "refused with its reason";
    EXPECT_EQ(tag_file_find_by_name(RECORDING_GROUP_TAG, "Broken"), NONE);

    std::map<std::string, tag> known;
    const auto each_is_its_own = [&](const char *when) {
        std::set<std::pair<tag, tag>> pairs;
        for (const player_file &f : files)
        {
            const int32_t index = tag_file_find_by_name(f.group, f.file);
            EXPECT_EQ(text_of(index), f.bytes) << f.file << ", " << when;
            tag_file_info info;
            ASSERT_TRUE(tag_file_info_get(index, &info)) << f.file << ", " << when;
            EXPECT_STREQ(info.name, f.file) << "listed under its file's name, " << when;
            EXPECT_EQ(tag_file_open(f.group, info.subgroup_tag), index) << f.file << ", " << when;
            EXPECT_TRUE(pairs.insert({f.group, info.subgroup_tag}).second) << f.file << ", " << when;
            if (!known.count(f.file)) known[f.file] = info.subgroup_tag;
            EXPECT_EQ(info.subgroup_tag, known[f.file]) << f.file << " keeps its subgroup, " << when;
        }
        for (tag group : {RECORDING_GROUP_TAG, SAVED_GAME_GROUP_TAG})
        {
            tag_file_info filter;
            tag_file_info_new(&filter);
            filter.group_tag = group;
            int32_t expected = 0;
            for (const player_file &f : files) expected += f.group == group;
            EXPECT_EQ(tag_file_enumerate(&filter, nullptr, -1), expected) << when;
        }
    };
    each_is_its_own("opened");
    // A copy whose name sorts first, copied in while the store is open.
    std::filesystem::copy_file(std::string(FILMS_FOLDER) + "/Last Game", std::string(FILMS_FOLDER) + "/A copy");
    files.push_back({FILMS_FOLDER, "A copy", "Last Game", RECORDING_GROUP_TAG, LAST, "bytes of Last Game"});
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    each_is_its_own("reopened");

    // A new last film replaces that file and nothing else.
    ASSERT_TRUE(tag_file_delete(tag_file_find_by_name(RECORDING_GROUP_TAG, "Last Game")));
    int32_t last = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, "Last Game", 3);
    ASSERT_TRUE(tag_file_write(&last, 0, 3, "new"));
    ASSERT_TRUE(tag_file_commit(last));
    EXPECT_EQ(tag_file_find_by_name(RECORDING_GROUP_TAG, "Last Game"), last);
    EXPECT_EQ(text_of(last), "new");
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    files[0].bytes = "new";
    known.erase("Last Game");
    each_is_its_own("renewed");
}

TEST_F(TagStore, foundation_checksum_follows_every_data_byte)
{
    ASSERT_TRUE(write_foundation_files({make_test_tag(UNIT, BASE, "u", "some unit data")}));
    ASSERT_EQ(open_store(), 0);
    uint32_t first = tag_files_get_foundation_checksum();
    dispose_tag_files();
    ASSERT_TRUE(write_foundation_files({make_test_tag(UNIT, BASE, "u", "some unit dat!")}));
    ASSERT_EQ(open_store(), 0);
    EXPECT_NE(tag_files_get_foundation_checksum(), first);
    dispose_tag_files();
    ASSERT_TRUE(write_foundation_files({make_test_tag(UNIT, BASE, "u", "some unit data")}));
    ASSERT_EQ(open_store(), 0);
    EXPECT_EQ(tag_files_get_foundation_checksum(), first);
}

TEST_F(TagStore, patches_give_the_version_and_the_required_check)
{
    ASSERT_TRUE(write_foundation_files({}));
    ASSERT_TRUE(write_monolithic_file("tags/patch1.tags", _tag_file_type_patch, {}, "", "", 1));
    ASSERT_TRUE(write_monolithic_file("tags/patch3.tags", _tag_file_type_patch, {}, "", "", 3));
    ASSERT_EQ(open_store(), 0);
    EXPECT_EQ(tag_files_get_patch_version(), 3);
    char missing[64] = "";
    EXPECT_TRUE(tag_files_check_required_patches(missing, sizeof(missing)));
    tag_files_verify_required_patches(); // returns when all are there

    std::filesystem::remove(std::string("tags/") + required_patch_file_name(0));
    ASSERT_EQ(tag_files_open(-1, nullptr, -1, -1, 0), 0);
    EXPECT_FALSE(tag_files_check_required_patches(missing, sizeof(missing)));
    EXPECT_STREQ(missing, required_patch_file_name(0));
    EXPECT_EXIT(tag_files_verify_required_patches(), ::testing::ExitedWithCode(11), "");
}

// Each damage to a good file; the file must be refused whole while the
// other files stay open.
TEST_F(TagStore, damaged_monolithic_files_are_refused_whole)
{
    ASSERT_TRUE(write_foundation_files({make_test_tag(UNIT, BASE, "u", "unit")}));
    ASSERT_TRUE(write_monolithic_file("tags/patch2.tags", _tag_file_type_patch,
                                      {make_test_tag(PICS, BASE, "a", "aaaa"), make_test_tag(PICS, UNIT, "b", "bbbb")}, "",
                                      "", 2));
    const std::vector<uint8_t> good = read_file_bytes("tags/patch2.tags");
    const size_t first_entry = sizeof(monolithic_tag_file_header);
    const size_t second_entry = first_entry + sizeof(monolithic_tag_entry);
    struct damage
    {
        const char *what;
        void (*apply)(std::vector<uint8_t> &bytes, size_t first, size_t second);
    } damages[] = {
        {"truncated", [](std::vector<uint8_t> &b, size_t, size_t) { b.resize(b.size() - 3); }},
        {"header only half there", [](std::vector<uint8_t> &b, size_t, size_t) { b.resize(100); }},
        {"wrong magic", [](std::vector<uint8_t> &b, size_t, size_t) { b[0] = 'x'; }},
        {"unknown format version", [](std::vector<uint8_t> &b, size_t, size_t) { b[5] = 9; }},
        {"directory past the end", [](std::vector<uint8_t> &b, size_t, size_t) { write_be32(&b[24], 0x7FFFFF00); }},
        {"more tags than the handle space", [](std::vector<uint8_t> &b, size_t, size_t) { write_be32(&b[20], 0x10000); }},
        {"negative tag count", [](std::vector<uint8_t> &b, size_t, size_t) { write_be32(&b[20], 0xFFFFFFFF); }},
        {"data outside the file", [](std::vector<uint8_t> &b, size_t f, size_t) { write_be32(&b[f + 52], 0x7FFFFFF0); }},
        {"negative size", [](std::vector<uint8_t> &b, size_t f, size_t) { write_be32(&b[f + 48], 0xFFFFFFFC); }},
        {"overlapping data", [](std::vector<uint8_t> &b, size_t f, size_t s) { memcpy(&b[s + 52], &b[f + 52], 4); }},
        {"data over the directory", [](std::vector<uint8_t> &b, size_t f, size_t) { write_be32(&b[f + 52], 260); }},
        {"name without terminator", [](std::vector<uint8_t> &b, size_t f, size_t) { memset(&b[f + 8], 'n', 32); }},
        {"name with a slash", [](std::vector<uint8_t> &b, size_t f, size_t) { b[f + 8] = '/'; }},
        {"duplicate tag", [](std::vector<uint8_t> &b, size_t f, size_t s) { memcpy(&b[s], &b[f], 8); }},
        {"one data byte changed", [](std::vector<uint8_t> &b, size_t, size_t) { b[b.size() - 5] ^= 1; }},
        // The header lies outside the checksum: each of its fields is checked.
        {"tag count lowered", [](std::vector<uint8_t> &b, size_t, size_t) { write_be32(&b[20], 1); }},
        {"tag count zero", [](std::vector<uint8_t> &b, size_t, size_t) { write_be32(&b[20], 0); }},
        {"reserved byte after the url", [](std::vector<uint8_t> &b, size_t, size_t) { b[255] = 1; }},
        {"reserved word", [](std::vector<uint8_t> &b, size_t, size_t) { b[35] = 1; }},
        {"pad byte", [](std::vector<uint8_t> &b, size_t, size_t) { b[13] = 1; }},
        {"hidden neither 0 nor 1", [](std::vector<uint8_t> &b, size_t, size_t) { b[12] = 2; }},
        {"a local file's type", [](std::vector<uint8_t> &b, size_t, size_t) { write_be16(&b[8], 3); }},
    };
    for (const damage &d : damages)
    {
        std::vector<uint8_t> bytes = good;
        d.apply(bytes, first_entry, second_entry);
        ASSERT_TRUE(write_file_bytes("tags/patch2.tags", bytes));
        EXPECT_EQ(open_store(), _error_data_corrupted) << d.what;
        EXPECT_EQ(tag_file_open(PICS, BASE), NONE) << d.what;
        EXPECT_EQ(text_of(tag_file_open(UNIT, BASE)), "unit") << d.what << ": other files stay open";
        monolithic_tag_file_header header;
        monolithic_tag_entry *entries = nullptr;
        EXPECT_FALSE(monolithic_tag_file_parse(d.what, bytes.data(), (int64_t)bytes.size(), true, &header, &entries))
            << d.what;
        EXPECT_EQ(entries, nullptr);
        dispose_tag_files();
    }
    ASSERT_TRUE(write_file_bytes("tags/patch2.tags", good));
    EXPECT_EQ(open_store(), 0);
    EXPECT_EQ(text_of(tag_file_open(PICS, BASE)), "aaaa");
}

TEST_F(TagStore, damaged_local_files_are_refused_and_foreign_files_ignored)
{
    ASSERT_TRUE(write_foundation_files({}));
    std::filesystem::create_directories("preferences");
    ASSERT_TRUE(write_file_bytes("preferences/poweruser.txt", {'[', 'U', 'I', ']', '\n'}));
    ASSERT_TRUE(write_local_file("preferences/good", make_test_tag(PREFERENCES_GROUP_TAG, BASE, "good", "data")));
    std::vector<uint8_t> bad = read_file_bytes("preferences/good");
    bad[56 + 3] = 9; // data size beyond the file
    ASSERT_TRUE(write_file_bytes("preferences/truncated", bad));
    std::vector<uint8_t> unterminated = read_file_bytes("preferences/good");
    memset(&unterminated[24], 'x', 32);
    unterminated[12] = 'Z';
    ASSERT_TRUE(write_file_bytes("preferences/unterminated", unterminated));
    ASSERT_EQ(open_store(), 0);
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = PREFERENCES_GROUP_TAG;
    int32_t found[8];
    ASSERT_EQ(tag_file_enumerate(&filter, found, 8), 1);
    EXPECT_EQ(text_of(found[0]), "data");
}

} // namespace

} // namespace tag_store_test_file
