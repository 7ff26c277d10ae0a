#pragma once
// Builds tag files for tests in a private temporary directory, through the
// store's own builder, so that tests exercise the real formats.

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "support/scratch.h"
#include "tag_files/tag_file_formats.h"

struct test_tag
{
    tag group_tag;
    tag subgroup_tag;
    std::string name;
    int16_t version;
    std::vector<uint8_t> data;
};

// A tag whose data is `text` (without terminator).
test_tag make_test_tag(tag group, tag subgroup, const std::string &name, const std::string &text, int16_t version = 1);

// Makes "tags", "plugins" and "local" in the current directory.
void make_store_folders(void);

// Makes a fresh directory under the system's temporary folder, changes into
// it and makes the store's folders in it.  Returns its path; the caller
// removes it.  A fixture holding a scratch_directory needs only make_store_folders.
std::string enter_test_directory(void);

// Writes a monolithic file at `path` (relative to the current directory).
bool write_monolithic_file(const std::string &path, int32_t type, const std::vector<test_tag> &tags,
                           const char *name = "", const char *url = "", int16_t patch_number = 0,
                           int16_t version = -1, uint8_t hidden = 0);

// The five foundation files in "tags": `tags` go into the first, the others are empty.
bool write_foundation_files(const std::vector<test_tag> &tags);

// Writes a local tag file at `path`.
bool write_local_file(const std::string &path, const test_tag &tag);

// The tag's data read back through the store; empty when it cannot be read.
std::vector<uint8_t> read_tag_bytes(int32_t tag_index);
