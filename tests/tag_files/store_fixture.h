#pragma once
// A tag-file store in a fresh temporary directory, for the tests of the
// modules that read tags: the registry, string lists and preferences.  The
// test process works inside the directory while the fixture lives.

#include <gtest/gtest.h>


#include <cstring>
#include <string>
#include <vector>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

namespace store_fixture {

// The shared helpers, under the names these tests have long used.
using ::read_whole_file;
using ::take_pending_error;
using ::write_whole_file;

// One tag for a monolithic file.
struct packed_tag
{
    tag group;
    tag subgroup;
    const char *name;
    int16_t version;
    std::string data;
};

class store_test : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void SetUp() override
    {
        mkdir(TAG_FILES_FOLDER, 0755);
        mkdir(PLUGINS_FOLDER, 0755);
        quiet_message_boxes();
        open_log_file("store test");
    }

    void TearDown() override
    {
        dispose_tag_files();
        close_log_file();
        clear_pending_error();
    }

    // Starts the store over the files written so far (plug-ins are scanned now).
    void start_store(int32_t local_choice = 0, const int16_t *plugins = nullptr, int32_t plugin_count = 0)
    {
        initialize_tag_files();
        reopen_store(local_choice, plugins, plugin_count);
    }

    void reopen_store(int32_t local_choice, const int16_t *plugins = nullptr, int32_t plugin_count = 0)
    {
        tag_files_open(local_choice, plugins, plugin_count, -1, 0);
        clear_pending_error(); // a missing patch is no concern of these tests
    }

    // A local tag whose subgroup is the first four characters of `name`.
    int32_t write_local_tag(tag group, const char *name, int16_t version, const void *data, int32_t size)
    {
        int32_t index = tag_file_new(group, name, version);
        EXPECT_NE(index, NONE) << name;
        if (index != NONE && size > 0)
        {
            EXPECT_TRUE(tag_file_write(&index, 0, size, data));
        }
        // A tag over a taken name replaces it only once committed.
        if (index != NONE) { EXPECT_TRUE(tag_file_commit(index)) << name; }
        return index;
    }

    // Writes a monolithic file at `path` (relative to the directory).
    void write_monolithic_file(const std::string &path, int32_t type, const char *name,
                               const std::vector<packed_tag> &tags)
    {
        std::vector<test_tag> built;
        for (const packed_tag &t : tags) built.push_back(make_test_tag(t.group, t.subgroup, t.name, t.data, t.version));
        ASSERT_TRUE(::write_monolithic_file(path, type, built, name, "", 0, PLUGIN_VERSION_NO_FLAGS));
    }

    void write_foundation_file(const std::vector<packed_tag> &tags)
    {
        write_monolithic_file(std::string(TAG_FILES_FOLDER) + "/" + foundation_tag_file_name(0),
                              _tag_file_type_foundation, "foundation", tags);
    }

    void write_plugin_file(const char *name, const std::vector<packed_tag> &tags)
    {
        write_monolithic_file(std::string(PLUGINS_FOLDER) + "/" + name, _tag_file_type_plugin, name, tags);
    }

    std::string log_text(void) const { return read_whole_file(LOG_FILE_NAME); }
};


} // namespace store_fixture
