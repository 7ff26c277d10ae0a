#pragma once
// A tag-file store in a fresh temporary directory, for the tests of the
// modules that read tags: the registry, string lists and preferences.  The
// test process works inside the directory while the fixture lives.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>
#include <sys/stat.h>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

namespace store_fixture {

inline void quiet_message_box(const char *) {}

// The code of the pending error (0 when none), which is then cleared.
inline int32_t take_pending_error(void)
{
    int32_t code = 0;
    if (!error_pending(&code, nullptr, 0)) code = 0;
    clear_pending_error();
    return code;
}

inline std::string read_whole_file(const char *path)
{
    std::string text;
    FILE *file = fopen(path, "rb");
    if (!file) return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

inline bool write_whole_file(const std::string &path, const void *data, size_t size)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

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
    char directory[PATH_MAX] = {};
    char previous[PATH_MAX] = {};

    void SetUp() override
    {
        ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
        snprintf(directory, sizeof(directory), "%s/vesk_store_XXXXXX", P_tmpdir);
        ASSERT_NE(mkdtemp(directory), nullptr);
        ASSERT_EQ(chdir(directory), 0);
        mkdir(TAG_FILES_FOLDER, 0755);
        mkdir(PLUGINS_FOLDER, 0755);
        set_message_box_proc(quiet_message_box);
        open_log_file("store test");
    }

    void TearDown() override
    {
        dispose_tag_files();
        close_log_file();
        clear_pending_error();
        if (chdir(previous) != 0) return;
        std::string command = std::string("rm -rf '") + directory + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << directory;
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
        return index;
    }

    // Writes a monolithic file at `path` (relative to the directory).
    void write_monolithic_file(const std::string &path, int32_t type, const char *name,
                               const std::vector<packed_tag> &tags)
    {
        tag_pack_parameters parameters;
        memset(&parameters, 0, sizeof(parameters));
        parameters.type = type;
        parameters.version = PLUGIN_VERSION_NO_FLAGS;
        strlcpy(parameters.name, name, sizeof(parameters.name));
        std::vector<tag_pack_item> items(tags.size());
        for (size_t i = 0; i < tags.size(); ++i)
        {
            memset(&items[i], 0, sizeof(items[i]));
            items[i].group_tag = tags[i].group;
            items[i].subgroup_tag = tags[i].subgroup;
            strlcpy(items[i].name, tags[i].name, sizeof(items[i].name));
            items[i].version = tags[i].version;
            items[i].size = (int32_t)tags[i].data.size();
            items[i].data = tags[i].data.data();
        }
        int32_t size = 0;
        void *file = monolithic_tag_file_build(&parameters, items.data(), (int32_t)items.size(), &size);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(write_whole_file(path, file, (size_t)size));
        free(file);
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
