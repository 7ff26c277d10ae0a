// Builds tag files for tests.

#include "tag_file_builder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "tag_files/tag_files.h"

test_tag make_test_tag(tag group, tag subgroup, const std::string &name, const std::string &text, int16_t version)
{
    return test_tag{group, subgroup, name, version, std::vector<uint8_t>(text.begin(), text.end())};
}

void make_store_folders(void)
{
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
}

std::string enter_test_directory(void)
{
    char path[PATH_MAX];
    if (!make_scratch_directory("tag_test", path, sizeof(path))) abort();
    if (chdir(path) != 0) abort();
    make_store_folders();
    return path;
}

bool write_monolithic_file(const std::string &path, int32_t type, const std::vector<test_tag> &tags, const char *name,
                           const char *url, int16_t patch_number, int16_t version, uint8_t hidden)
{
    tag_pack_parameters parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.type = type;
    parameters.version = version;
    parameters.hidden = hidden;
    parameters.patch_number = patch_number;
    strlcpy(parameters.name, name, sizeof(parameters.name));
    strlcpy(parameters.url, url, sizeof(parameters.url));
    std::vector<tag_pack_item> items;
    for (const test_tag &t : tags)
    {
        tag_pack_item item;
        memset(&item, 0, sizeof(item));
        item.group_tag = t.group_tag;
        item.subgroup_tag = t.subgroup_tag;
        strlcpy(item.name, t.name.c_str(), sizeof(item.name));
        item.version = t.version;
        item.size = (int32_t)t.data.size();
        item.data = t.data.data();
        items.push_back(item);
    }
    int32_t size;
    void *file = monolithic_tag_file_build(&parameters, items.data(), (int32_t)items.size(), &size);
    if (!file) return false;
    bool ok = write_file_bytes(path, std::vector<uint8_t>((uint8_t *)file, (uint8_t *)file + size));
    free(file);
    return ok;
}

bool write_foundation_files(const std::vector<test_tag> &tags)
{
    for (int32_t i = 0; i < NUMBER_OF_FOUNDATION_TAG_FILES; i++)
    {
        std::string path = std::string(TAG_FILES_FOLDER) + "/" + foundation_tag_file_name(i);
        if (!write_monolithic_file(path, _tag_file_type_foundation, i == 0 ? tags : std::vector<test_tag>()))
            return false;
    }
    return true;
}

bool write_local_file(const std::string &path, const test_tag &t)
{
    std::vector<uint8_t> bytes(sizeof(local_tag_file_header) + t.data.size());
    local_tag_file_header_build((local_tag_file_header *)bytes.data(), t.group_tag, t.subgroup_tag, t.version, 0,
                                t.name.c_str(), (int32_t)t.data.size());
    if (!t.data.empty()) memcpy(bytes.data() + sizeof(local_tag_file_header), t.data.data(), t.data.size());
    return write_file_bytes(path, bytes);
}

std::vector<uint8_t> read_tag_bytes(int32_t tag_index)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return {};
    std::vector<uint8_t> bytes((size_t)info.size);
    if (!tag_file_read(tag_index, 0, info.size, bytes.data())) return {};
    return bytes;
}
