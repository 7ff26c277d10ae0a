// Preferences records over 'pref' tags: golden bytes, defaults for every kind
// of bad record (which is never overwritten by a read), conversion of older
// versions, replacement that survives a cut write, the local-folder switch;
// and the plug-in component files.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>

#include <string>

#include "cseries/byte_swapping.h"
#include "cseries/files.h"
#include "tag_files/preferences.h"

namespace preferences_test_file {

namespace {

// Version 3 of the test record.
struct test_preferences
{
    uint16_t volume;
    int16_t balance;
    uint32_t flags;
    float gamma;
    uint32_t raw_port; // stored in host order
};
static_assert(sizeof(test_preferences) == 16);

const byte_swap_code test_preferences_bs[] = {_begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, 4,
                                               _end_bs_array};

int32_t verify_calls;
bool defaults_are_valid;

void default_test_preferences(void *data)
{
    test_preferences *preferences = (test_preferences *)data;
    preferences->volume = defaults_are_valid ? 50 : 999;
    preferences->balance = 0;
    preferences->flags = 0x10;
    preferences->gamma = 1.0f;
    preferences->raw_port = 3453;
}

bool verify_test_preferences(void *data)
{
    verify_calls += 1;
    return ((test_preferences *)data)->volume <= 100;
}

// Version 2 had the same fields but no port: 12 bytes.
bool convert_test_preferences(const void *old_data, void *new_data, int16_t version)
{
    if (version != 2) return false;
    test_preferences *preferences = (test_preferences *)new_data;
    // The store has moved the old bytes into the new layout; the old bytes
    // arrive as stored.
    EXPECT_EQ(read_be16(old_data), preferences->volume);
    preferences->raw_port = 7777;
    return true;
}

class preferences : public store_fixture::store_test
{
protected:
    preferences_globals descriptor;

    void SetUp() override
    {
        store_test::SetUp();
        memset(&descriptor, 0, sizeof(descriptor));
        strlcpy(descriptor.name, "test preferences", sizeof(descriptor.name));
        descriptor.size = sizeof(test_preferences);
        descriptor.version_number = 3;
        descriptor.default_preferences = default_test_preferences;
        descriptor.verify_preferences = verify_test_preferences;
        descriptor.byte_swapping_data = test_preferences_bs;
        verify_calls = 0;
        defaults_are_valid = true;
    }

    void TearDown() override
    {
        free_preferences(&descriptor);
        store_test::TearDown();
    }

    const test_preferences *read(preferences_converter converter = convert_test_preferences)
    {
        return (const test_preferences *)read_preferences_convert(&descriptor, converter);
    }

    void store(int16_t version, const std::string &bytes)
    {
        write_local_tag(PREFERENCES_GROUP_TAG, descriptor.name, version, bytes.data(), (int32_t)bytes.size());
    }

    // The stored tag's data, or "" when there is none.
    std::string stored_bytes(void)
    {
        const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, descriptor.name);
        tag_file_info info;
        if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return "";
        std::string bytes((size_t)info.size, '\0');
        EXPECT_TRUE(tag_file_read(tag_index, 0, info.size, bytes.data()));
        return bytes;
    }

    int32_t count_preferences_tags(void)
    {
        tag_file_info filter;
        tag_file_info_new(&filter);
        filter.group_tag = PREFERENCES_GROUP_TAG;
        return tag_file_enumerate(&filter, nullptr, -1);
    }
};

const uint8_t golden[16] = {0x00, 0x4B, 0xFF, 0xFE, 0x01, 0x02, 0x03, 0x04,
                            0x3F, 0xC0, 0x00, 0x00, 0x0D, 0x0C, 0x0B, 0x0A};

TEST_F(preferences, write_stores_golden_big_endian_bytes_and_reads_them_back)
{
    start_store();
    ASSERT_NE(read(), nullptr);
    test_preferences *data = (test_preferences *)descriptor.data;
    data->volume = 75;
    data->balance = -2;
    data->flags = 0x01020304;
    data->gamma = 1.5f;
    data->raw_port = 0x0A0B0C0D;
    ASSERT_TRUE(write_preferences(&descriptor));
    EXPECT_EQ(data->volume, 75); // the caller's record stays in host order

    const std::string bytes = stored_bytes();
    ASSERT_EQ(bytes.size(), sizeof(golden));
    EXPECT_EQ(memcmp(bytes.data(), golden, sizeof(golden)), 0);
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(tag_file_find_by_name(PREFERENCES_GROUP_TAG, descriptor.name), &info));
    EXPECT_EQ(info.version, 3);
    EXPECT_EQ(count_preferences_tags(), 1); // nothing left aside

    free_preferences(&descriptor);
    EXPECT_EQ(descriptor.data, nullptr);
    const test_preferences *again = read();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->volume, 75);
    EXPECT_EQ(again->balance, -2);
    EXPECT_EQ(again->flags, 0x01020304u);
    EXPECT_EQ(again->gamma, 1.5f);
    EXPECT_EQ(again->raw_port, 0x0A0B0C0Du);

    // A second write replaces the record whole.
    ((test_preferences *)descriptor.data)->volume = 10;
    ASSERT_TRUE(write_preferences(&descriptor));
    EXPECT_EQ((uint8_t)stored_bytes()[1], 10);
    EXPECT_EQ(count_preferences_tags(), 1);
}

TEST_F(preferences, a_missing_record_gives_verified_defaults_and_writes_nothing)
{
    start_store();
    const test_preferences *data = read();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->volume, 50);
    EXPECT_EQ(data->raw_port, 3453u);
    EXPECT_EQ(verify_calls, 1);
    EXPECT_EQ(count_preferences_tags(), 0);
    EXPECT_EQ(take_pending_error(), 0);
}

TEST_F(preferences, bad_records_give_the_defaults_and_stay_as_stored)
{
    std::string too_short((const char *)golden, 12);
    std::string failing((const char *)golden, sizeof(golden));
    failing[1] = (char)101; // volume 101 fails verification
    std::string good((const char *)golden, sizeof(golden));
    struct row
    {
        const char *what;
        int16_t version;
        const std::string *bytes;
        preferences_converter converter;
    };
    const row rows[] = {
        {"newer version", 4, &good, convert_test_preferences},
        {"wrong size", 3, &too_short, convert_test_preferences},
        {"failed verification", 3, &failing, convert_test_preferences},
        {"older version without a converter", 2, &too_short, nullptr},
        {"older version the converter refuses", 1, &too_short, convert_test_preferences},
    };
    start_store();
    for (const row &r : rows)
    {
        store(r.version, *r.bytes);
        const test_preferences *data = read(r.converter);
        ASSERT_NE(data, nullptr) << r.what;
        EXPECT_EQ(data->volume, 50) << r.what;
        EXPECT_EQ(data->flags, 0x10u) << r.what;
        EXPECT_EQ(stored_bytes(), *r.bytes) << r.what; // reading never writes
        tag_file_info info;
        tag_file_info_get(tag_file_find_by_name(PREFERENCES_GROUP_TAG, descriptor.name), &info);
        EXPECT_EQ(info.version, r.version) << r.what;
    }
}

TEST_F(preferences, defaults_that_fail_verification_assert_valid)
{
    start_store();
    defaults_are_valid = false;
    expected_assertions expect(1, "assert: valid");
    const test_preferences *data = read();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->volume, 999);
    EXPECT_NE(log_text().find("assert: valid"), std::string::npos);
}

TEST_F(preferences, an_older_version_is_moved_into_the_current_layout_then_converted)
{
    start_store();
    store(2, std::string((const char *)golden, 12)); // version 2: no port
    const test_preferences *data = read();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->volume, 75);
    EXPECT_EQ(data->balance, -2);
    EXPECT_EQ(data->flags, 0x01020304u);
    EXPECT_EQ(data->gamma, 1.5f);
    EXPECT_EQ(data->raw_port, 7777u);
    EXPECT_EQ(verify_calls, 1);
    EXPECT_EQ(stored_bytes().size(), 12u); // converted in memory only
}

TEST_F(preferences, a_write_cut_short_leaves_the_old_record_or_the_new_one)
{
    start_store();
    ASSERT_NE(read(), nullptr);
    ((test_preferences *)descriptor.data)->volume = 20;
    ASSERT_TRUE(write_preferences(&descriptor));

    // Cut while writing aside: the old record is still the one read.
    std::string partial((const char *)golden, 7);
    write_local_tag(PREFERENCES_GROUP_TAG, "~test preferences", 3, partial.data(), (int32_t)partial.size());
    EXPECT_EQ(read()->volume, 20);

    // Cut after the old record was deleted: the complete aside record is read.
    std::string complete((const char *)golden, sizeof(golden));
    write_local_tag(PREFERENCES_GROUP_TAG, "~test preferences", 3, complete.data(), (int32_t)complete.size());
    ASSERT_TRUE(tag_file_delete(tag_file_find_by_name(PREFERENCES_GROUP_TAG, descriptor.name)));
    EXPECT_EQ(read()->volume, 75);

    // A write that fails before its own record is safe must not cost the
    // record left aside: it takes its real name as the write begins.
    const byte_swap_code *description = descriptor.byte_swapping_data;
    static const byte_swap_code broken[] = {_begin_bs_array, 1, _4byte, _end_bs_array};
    descriptor.byte_swapping_data = broken;
    {
        expected_assertions expect(1, "walks 4 bytes");
        EXPECT_FALSE(write_preferences(&descriptor));
    }
    clear_pending_error();
    descriptor.byte_swapping_data = description;
    EXPECT_EQ(count_preferences_tags(), 1);
    EXPECT_EQ((uint8_t)stored_bytes()[1], 75);

    // The next write puts it back under its own name.
    ASSERT_TRUE(write_preferences(&descriptor));
    EXPECT_EQ(count_preferences_tags(), 1);
    EXPECT_EQ((uint8_t)stored_bytes()[1], 75);
}

// Real writes interrupted at every step that changes the disk, in turn: once
// by ending the process there (a crash, in a child), once by failing the step
// (a full or failing disk).  The record read at the next start is always the
// old one or the new one, and a write reported done has stored the new one.
enum { CUT_SHORT = 42, OLD_VOLUME = 20, NEW_VOLUME = 30 };
int32_t interrupt_at_step, steps_taken;

bool end_at_the_chosen_step(const char *, const char *)
{
    if (++steps_taken == interrupt_at_step) _exit(CUT_SHORT);
    return true;
}

bool fail_the_chosen_step(const char *, const char *)
{
    return ++steps_taken != interrupt_at_step;
}

int write_new_record_in_child(const void *context)
{
    preferences_globals *descriptor = (preferences_globals *)context;
    ((test_preferences *)descriptor->data)->volume = NEW_VOLUME;
    set_file_step_procedure(end_at_the_chosen_step);
    return write_preferences(descriptor) ? 0 : 1;
}

TEST_F(preferences, a_real_write_interrupted_at_any_step_leaves_the_old_record_or_the_new_one)
{
    start_store();
    ASSERT_NE(read(), nullptr);
    ((test_preferences *)descriptor.data)->volume = OLD_VOLUME;
    ASSERT_TRUE(write_preferences(&descriptor));

    bool crash_reached_the_end = false, failure_reached_the_end = false;
    for (interrupt_at_step = 1; interrupt_at_step < 100 && !(crash_reached_the_end && failure_reached_the_end);
         ++interrupt_at_step)
    {
        SCOPED_TRACE("interrupted at step " + std::to_string(interrupt_at_step));
        if (!crash_reached_the_end)
        {
            steps_taken = 0;
            const int status = run_in_child(write_new_record_in_child, &descriptor, 30);
            const int code = exit_code_of(status);
            ASSERT_TRUE(code == 0 || code == CUT_SHORT) << "status " << status;
            crash_reached_the_end = code == 0;
            // The next start: the store as the disk now holds it.
            dispose_tag_files();
            free_preferences(&descriptor);
            start_store();
            const test_preferences *record = read();
            ASSERT_NE(record, nullptr);
            if (code == 0) { EXPECT_EQ(record->volume, NEW_VOLUME); }
            else { EXPECT_TRUE(record->volume == OLD_VOLUME || record->volume == NEW_VOLUME) << record->volume; }
            ((test_preferences *)descriptor.data)->volume = OLD_VOLUME;
            ASSERT_TRUE(write_preferences(&descriptor));
        }
        if (!failure_reached_the_end)
        {
            steps_taken = 0;
            ((test_preferences *)descriptor.data)->volume = NEW_VOLUME;
            set_file_step_procedure(fail_the_chosen_step);
            const bool written = write_preferences(&descriptor);
            set_file_step_procedure(nullptr);
            clear_pending_error();
            failure_reached_the_end = steps_taken < interrupt_at_step;
            if (failure_reached_the_end) { EXPECT_TRUE(written); }
            dispose_tag_files();
            free_preferences(&descriptor);
            start_store();
            const test_preferences *record = read();
            ASSERT_NE(record, nullptr);
            if (written) { EXPECT_EQ(record->volume, NEW_VOLUME); }
            else { EXPECT_TRUE(record->volume == OLD_VOLUME || record->volume == NEW_VOLUME) << record->volume; }
            ((test_preferences *)descriptor.data)->volume = OLD_VOLUME;
            ASSERT_TRUE(write_preferences(&descriptor));
            EXPECT_EQ(count_preferences_tags(), 1);
        }
    }
    EXPECT_TRUE(crash_reached_the_end && failure_reached_the_end);
    EXPECT_GT(interrupt_at_step, 5) << "a write of a record takes several steps";
}

TEST_F(preferences, records_work_with_the_local_folder_left_out)
{
    start_store(1);
    ASSERT_NE(read(), nullptr);
    ((test_preferences *)descriptor.data)->volume = 33;
    ASSERT_TRUE(write_preferences(&descriptor));
    reopen_store(1);
    EXPECT_EQ(read()->volume, 33);
    reopen_store(0);
    EXPECT_EQ(read()->volume, 33);
}

TEST_F(preferences, an_unreadable_preferences_directory_gives_no_data)
{
    // A file where the directory should be cannot be listed, even by root.
    ASSERT_TRUE(write_whole_file(PREFERENCES_FOLDER, "x", 1));
    start_store();
    EXPECT_EQ(read(), nullptr);
    EXPECT_EQ(descriptor.data, nullptr);
}

// Three processes of one folder, started at once, each reading the record,
// writing its own value and choosing a plug-in, six times, in eight rounds:
// the record another wrote is read (never the defaults), never set aside,
// and the folder ends with the record alone, readable, and no aside file.
TEST_F(preferences, processes_of_one_folder_writing_at_once_leave_every_record_readable_and_in_place)
{
    start_store();
    ASSERT_NE(read(), nullptr); // the defaults hold 50, which is never stored below
    ((test_preferences *)descriptor.data)->volume = 59;
    ASSERT_TRUE(write_preferences(&descriptor));
    for (int32_t round = 0; round < 8; ++round)
    {
        pid_t children[3];
        for (int32_t i = 0; i < 3; ++i)
            if ((children[i] = fork()) == 0)
            {
                int failures = 0;
                for (int32_t write = 0; write < 6; ++write)
                {
                    failures += !read() || read()->volume == 50;
                    ((test_preferences *)descriptor.data)->volume = (uint16_t)(60 + i);
                    failures += !write_preferences(&descriptor) +
                                !write_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, i ? "One" : "Two");
                }
                _exit(failures);
            }
        for (const pid_t child : children)
        {
            int status = 0;
            EXPECT_TRUE(waitpid(child, &status, 0) == child && exit_code_of(status) == 0) << "round " << round;
        }
    }
    reopen_store(0);
    EXPECT_TRUE(read()->volume >= 60 && read()->volume < 63) << read()->volume;
    for (const auto &entry : std::filesystem::directory_iterator(PREFERENCES_FOLDER))
        EXPECT_TRUE(entry.path().filename() == descriptor.name ||
                    entry.path().filename() == INTERFACE_PLUGIN_COMPONENT_FILE_NAME) << entry.path();
}

TEST(plugin_component_files, choices_round_trip_and_an_empty_one_deletes_the_file)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);

    char chosen[64];
    EXPECT_FALSE(read_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, chosen, sizeof(chosen)));
    EXPECT_STREQ(chosen, "");

    ASSERT_TRUE(write_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, "Big Interface"));
    EXPECT_EQ(read_whole_file("preferences/interface plugin"), "Big Interface"); // no terminator
    EXPECT_TRUE(read_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, chosen, sizeof(chosen)));
    EXPECT_STREQ(chosen, "Big Interface");
    EXPECT_TRUE(aside_files_of("preferences", "interface plugin").empty());

    // A hand-edited file: a line break is dropped, a long name cut to 31.
    ASSERT_TRUE(write_whole_file("preferences/metaserver plugin", "Lobby\n", 6));
    EXPECT_TRUE(read_plugin_component_file(METASERVER_PLUGIN_COMPONENT_FILE_NAME, chosen, sizeof(chosen)));
    EXPECT_STREQ(chosen, "Lobby");
    const std::string long_name(40, 'n');
    ASSERT_TRUE(write_plugin_component_file(METASERVER_PLUGIN_COMPONENT_FILE_NAME, long_name.c_str()));
    EXPECT_TRUE(read_plugin_component_file(METASERVER_PLUGIN_COMPONENT_FILE_NAME, chosen, sizeof(chosen)));
    EXPECT_EQ(strlen(chosen), 31u);

    ASSERT_TRUE(write_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, ""));
    EXPECT_EQ(access("preferences/interface plugin", F_OK), -1);
    EXPECT_TRUE(write_plugin_component_file(INTERFACE_PLUGIN_COMPONENT_FILE_NAME, "")); // already gone
}

} // namespace


// A record holding a secret is stored 0600, also over an older 0644 one and
// through the aside-and-rename write; any other record keeps 0644.
TEST_F(preferences, an_owner_only_record_is_stored_for_its_owner_alone)
{
    const mode_t old_umask = umask(022);
    start_store();
    ASSERT_NE(read(), nullptr);
    ASSERT_TRUE(write_preferences(&descriptor));
    EXPECT_EQ(stored_file_mode(descriptor.name), 0644);
    descriptor.owner_only = true;
    for (int pass = 0; pass < 2; ++pass)
    {
        ((test_preferences *)descriptor.data)->volume = (uint16_t)(20 + pass);
        ASSERT_TRUE(write_preferences(&descriptor));
        EXPECT_EQ(stored_file_mode(descriptor.name), 0600) << "pass " << pass;
        EXPECT_EQ(count_preferences_tags(), 1);
    }
    free_preferences(&descriptor);
    EXPECT_EQ(read()->volume, 21);
    umask(old_umask);
}

} // namespace preferences_test_file
