#include "support/demo_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

bool running_under_ci(void)
{
    const char *ci = getenv("CI");
    return ci && ci[0] && strcmp(ci, "0") != 0;
}

std::string data_tool_path(void)
{
    char working[PATH_MAX];
    const std::string here = getcwd(working, sizeof(working)) ? working : ".";
    return fs::absolute(fs::path(here) / ".." / "bin" / "vesk_tags").string();
}

// Runs the tool writing "demo_out.tag" and turns the local tag file into a tag
// of the group and subgroup the tool wrote, with the tool's version.
static bool make_tag(const std::string &tool, const std::string &arguments, std::vector<test_tag> *tags)
{
    const std::string command = "'" + tool + "' " + arguments + " > /dev/null";
    if (system(command.c_str()) != 0)
    {
        ADD_FAILURE() << command;
        return false;
    }
    const std::vector<uint8_t> file = read_file_bytes("demo_out.tag");
    if (file.size() < sizeof(local_tag_file_header))
    {
        ADD_FAILURE() << "the tool wrote no tag: " << command;
        return false;
    }
    const uint8_t *header = file.data();
    test_tag made;
    made.group_tag = read_be32(header + offsetof(local_tag_file_header, group_tag));
    made.subgroup_tag = read_be32(header + offsetof(local_tag_file_header, subgroup_tag));
    made.version = (int16_t)read_be16(header + offsetof(local_tag_file_header, version));
    made.name.assign((const char *)header + offsetof(local_tag_file_header, name),
                     strnlen((const char *)header + offsetof(local_tag_file_header, name), TAG_NAME_SIZE));
    made.data.assign(file.begin() + sizeof(local_tag_file_header), file.end());
    tags->push_back(made);
    return true;
}

// The code after "tag landscape" in a map source.
static std::string landscape_subgroup(const fs::path &map)
{
    std::ifstream file(map);
    for (std::string line; std::getline(file, line);)
    {
        std::istringstream words(line);
        std::string first, field, code;
        if (words >> first >> field >> code && first == "tag" && field == "landscape") return code;
    }
    return "none";
}

bool make_demo_map_tags(const std::string &tool, std::vector<test_tag> *tags)
{
    const fs::path data = fs::path(__FILE__).parent_path() / ".." / ".." / "data";
    std::vector<test_tag> made;
    if (!make_tag(tool, "mesh demo_out.tag --subgroup demo --name 'demo valley' '" +
                            (data / "maps" / "demo_valley.map").string() + "'", &made))
        return false;
    // The map's landscape collection, made from the map source as the demo data script makes it.
    if (!make_tag(tool, "landscape demo_out.tag --subgroup " + landscape_subgroup(data / "maps" / "demo_valley.map") +
                            " --name 'demo valley landscape' '" + (data / "maps" / "demo_valley.map").string() + "'",
                  &made))
        return false;
    std::vector<fs::path> sources;
    for (const auto &entry : fs::recursive_directory_iterator(data / "objects"))
        if (entry.is_regular_file() && entry.path().extension() == ".txt") sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end()); // a fixed order of tags, whatever the directory gives
    for (const fs::path &source : sources)
    {
        const std::string group = source.parent_path().filename().string(), subgroup = source.stem().string();
        if (!make_tag(tool, "objects demo_out.tag --group " + group + " --subgroup " + subgroup + " --name " +
                                subgroup + " '" + source.string() + "'", &made))
            return false;
    }
    // The lake's media, the map's preload list, the collections ('.256') and
    // the camera's limits ('obpc'), made by their own commands.
    for (const char *kind : {"media", "preload", "collections", "observer"})
    {
        const std::string command = strcmp(kind, "collections") == 0 ? "collection" : kind;
        std::vector<fs::path> lists;
        if (fs::exists(data / kind))
            for (const auto &entry : fs::recursive_directory_iterator(data / kind))
                if (entry.is_regular_file() && entry.path().extension() == ".txt") lists.push_back(entry.path());
        std::sort(lists.begin(), lists.end());
        for (const fs::path &source : lists)
        {
            const std::string subgroup = source.stem().string();
            if (!make_tag(tool, command + " demo_out.tag --subgroup " + subgroup + " --name " + subgroup +
                                    " '" + source.string() + "'", &made))
                return false;
        }
    }
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

bool make_demo_map_source_tags(const std::string &tool, const std::string &source, const std::string &subgroup,
                               std::vector<test_tag> *tags)
{
    const fs::path map = fs::path(__FILE__).parent_path() / ".." / ".." / "data" / "maps" / source;
    std::vector<test_tag> made;
    if (!make_tag(tool, "mesh demo_out.tag --subgroup " + subgroup + " --name '" + subgroup + "' '" + map.string() + "'",
                  &made))
        return false;
    const std::string landscape = landscape_subgroup(map);
    if (landscape != "none" && !make_tag(tool, "landscape demo_out.tag --subgroup " + landscape + " --name '" +
                                                   subgroup + " landscape' '" + map.string() + "'",
                                         &made))
        return false;
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

bool write_demo_data_set(const std::string &tool, const std::vector<test_tag> &extra_tags)
{
    std::vector<test_tag> tags;
    if (!make_demo_map_tags(tool, &tags)) return false;
    tags.insert(tags.end(), extra_tags.begin(), extra_tags.end());
    const bool written = write_foundation_files(tags) &&
                         write_monolithic_file("tags/patch1.tags", 2, {}, "patch1", "", 1);
    EXPECT_TRUE(written) << "the demo data set could not be written";
    return written;
}
