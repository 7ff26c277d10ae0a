#include "support/demo_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <atomic>
#include <map>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "support/scratch.h"
#include "determinism_harness.h"
#include "sound/sound_definitions.h"
#include "unit_orders.h"

namespace fs = std::filesystem;

bool running_under_ci(void)
{
    const char *ci = getenv("CI");
    return ci && ci[0] && strcmp(ci, "0") != 0;
}

std::string test_programs_directory(void)
{
    // From the program's own path: most tests have entered a scratch
    // directory by the time they look for a tool.
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) return (program.parent_path().parent_path() / "bin").string();
    char working[PATH_MAX];
    const std::string here = getcwd(working, sizeof(working)) ? working : ".";
    return fs::absolute(fs::path(here) / ".." / "bin").string();
}

std::string data_tool_path(void)
{
    return (fs::path(test_programs_directory()) / "vesk_tags").string();
}

std::string source_tree_path(const std::string &relative)
{
    // Given by the build, since a compiler cache may leave __FILE__ relative
    // to the build directory, which the tests leave for scratch directories.
    return (fs::path(VESK_SOURCE_DIR) / relative).string();
}

bool data_tool_built(void)
{
    std::error_code error;
    return fs::exists(data_tool_path(), error);
}

int run_data_tool(const std::string &arguments)
{
    const std::string command = "'" + data_tool_path() + "' " + arguments + " >tool.out 2>tool.err";
    return exit_code_of(system(command.c_str()));
}

std::vector<uint8_t> local_tag_file_data(const std::string &path)
{
    const std::vector<uint8_t> file = read_file_bytes(path);
    if (file.size() <= sizeof(local_tag_file_header)) return {};
    return std::vector<uint8_t>(file.begin() + sizeof(local_tag_file_header), file.end());
}

const std::vector<test_tag> *demo_map_tags(void)
{
    // Kept for the life of the process: the test cases of one program share it.
    static std::vector<test_tag> *made = nullptr;
    if (made) return made;
    if (!data_tool_built())
    {
        ADD_FAILURE() << "the data tool is not built: " << data_tool_path();
        return nullptr;
    }
    std::vector<test_tag> tags;
    if (!make_demo_map_tags(data_tool_path(), &tags)) return nullptr;
    made = new std::vector<test_tag>(std::move(tags));
    return made;
}

// Turns the local tag file at `path`, which `command` wrote, into a tag of the
// group and subgroup the tool wrote, with the tool's version.
static bool take_made_tag(const std::string &path, const std::string &command, std::vector<test_tag> *tags)
{
    const std::vector<uint8_t> file = read_file_bytes(path);
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

// Runs the tool writing "demo_out.tag" and takes the tag it wrote.
static bool make_tag(const std::string &tool, const std::string &arguments, std::vector<test_tag> *tags)
{
    const std::string command = "'" + tool + "' " + arguments + " > /dev/null";
    if (system(command.c_str()) != 0)
    {
        ADD_FAILURE() << command;
        return false;
    }
    return take_made_tag("demo_out.tag", command, tags);
}

// Runs the tool once for each of `jobs` (arguments writing "demo_out.tag",
// and "demo_ditl.tag" or "demo_overhead.tag" where they name them), as many
// at a time as this process has processors, and takes what each wrote in the
// jobs' order: the same tags as one run after another, which is how they
// were made and what a sanitized tool's start made slow (some 30 seconds of
// one processor for the demo set, while every other test waited for it).
static bool make_tags_at_once(const std::string &tool, const std::vector<std::string> &jobs,
                              std::vector<test_tag> *tags)
{
    const fs::path directory = fs::absolute("demo_tag_jobs");
    std::error_code error;
    fs::remove_all(directory, error);
    fs::create_directories(directory, error);
    std::vector<std::string> arguments(jobs.size());
    const auto renamed = [&](std::string text, size_t index) {
        for (const char *name : {"demo_out.tag", "demo_ditl.tag", "demo_overhead.tag"})
        {
            const std::string own = (directory / (std::to_string(index) + "_" + name)).string();
            for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + own.size()))
                text.replace(at, strlen(name), own);
        }
        return text;
    };
    for (size_t i = 0; i < jobs.size(); ++i) arguments[i] = renamed(jobs[i], i);
    std::vector<int> statuses(jobs.size(), -1);
    std::atomic<size_t> next = 0;
    cpu_set_t processors;
    const int count = sched_getaffinity(0, sizeof(processors), &processors) == 0 ? CPU_COUNT(&processors) : 1;
    std::vector<std::thread> workers;
    for (int i = 0; i < std::max(1, std::min(count, 8)); ++i)
        workers.emplace_back([&] {
            for (size_t job; (job = next++) < jobs.size();)
                statuses[job] = system(("'" + tool + "' " + arguments[job] + " > /dev/null").c_str());
        });
    for (std::thread &worker : workers) worker.join();
    bool made = true;
    for (size_t i = 0; i < jobs.size() && made; ++i)
    {
        const std::string command = "'" + tool + "' " + arguments[i];
        if (statuses[i] != 0)
        {
            ADD_FAILURE() << command;
            made = false;
            break;
        }
        made = take_made_tag((directory / (std::to_string(i) + "_demo_out.tag")).string(), command, tags);
        for (const char *extra : {"demo_ditl.tag", "demo_overhead.tag"})
        {
            const fs::path path = directory / (std::to_string(i) + "_" + extra);
            // (A dialog without texts of its own writes no string list.)
            if (made && jobs[i].find(extra) != std::string::npos && (fs::exists(path) || strcmp(extra, "demo_overhead.tag") == 0))
                made = take_made_tag(path.string(), command, tags);
        }
    }
    fs::remove_all(directory, error);
    return made;
}

// ---- a cache of made tags, shared by the test processes ---------------------------
// Every test case runs in its own process, and making the demo tags runs the
// data tool dozens of times: the tags made once are kept beside the tool,
// under a name that changes whenever the tool or a source file changes.

static void add_file_to_key(const fs::path &path, std::string *key)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    const auto time = fs::last_write_time(path, error);
    *key += path.string() + "|" + std::to_string(error ? 0 : size) + "|" +
            std::to_string(error ? 0 : (long long)time.time_since_epoch().count()) + "\n";
}

static fs::path cache_path(const std::string &tool, const std::string &key)
{
    char name[32];
    snprintf(name, sizeof(name), "%016zx.tags", std::hash<std::string>()(key));
    return fs::path(tool).parent_path() / ".." / "demo_tags_cache" / name;
}

static bool read_cached_tags(const fs::path &path, const std::string &key, std::vector<test_tag> *tags)
{
    const std::vector<uint8_t> bytes = read_file_bytes(path.string());
    size_t at = 0;
    auto take = [&](size_t count) -> const uint8_t * {
        if (bytes.size() - at < count) return nullptr;
        const uint8_t *p = bytes.data() + at;
        at += count;
        return p;
    };
    const uint8_t *p = take(4);
    if (!p) return false;
    const uint32_t key_size = read_be32(p);
    const uint8_t *stored_key = take(key_size);
    if (!stored_key || std::string((const char *)stored_key, key_size) != key || !(p = take(4))) return false;
    std::vector<test_tag> read;
    for (uint32_t count = read_be32(p); count > 0; count--)
    {
        test_tag made;
        const uint8_t *header = take(14);
        if (!header) return false;
        made.group_tag = read_be32(header);
        made.subgroup_tag = read_be32(header + 4);
        made.version = (int16_t)read_be16(header + 8);
        const uint32_t name_size = read_be32(header + 10);
        const uint8_t *name = take(name_size);
        if (!name || !(p = take(4))) return false;
        made.name.assign((const char *)name, name_size);
        const uint32_t data_size = read_be32(p);
        const uint8_t *data = take(data_size);
        if (!data) return false;
        made.data.assign(data, data + data_size);
        read.push_back(std::move(made));
    }
    if (at != bytes.size()) return false;
    tags->insert(tags->end(), read.begin(), read.end());
    return true;
}

// Held while one process looks for a cached set and makes it when missing:
// the test cases start as parallel processes, and without it each of them
// would make the same tags at once.  Released when the process is done with
// the cache (or dies).
class cache_lock
{
public:
    explicit cache_lock(const fs::path &path)
    {
        std::error_code error;
        fs::create_directories(path.parent_path(), error);
        descriptor = open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor >= 0)
            while (flock(descriptor, LOCK_EX) != 0 && errno == EINTR) continue;
    }
    ~cache_lock()
    {
        if (descriptor >= 0) close(descriptor);
    }
    cache_lock(const cache_lock &) = delete;
    cache_lock &operator=(const cache_lock &) = delete;

private:
    int descriptor = -1;
};

// Written under a name of this process, then renamed, so a test reading the
// cache never sees half a file.
static void write_cached_tags(const fs::path &path, const std::string &key, const std::vector<test_tag> &tags)
{
    std::vector<uint8_t> bytes;
    auto put32 = [&](uint32_t value) {
        uint8_t b[4];
        write_be32(b, value);
        bytes.insert(bytes.end(), b, b + 4);
    };
    put32((uint32_t)key.size());
    bytes.insert(bytes.end(), key.begin(), key.end());
    put32((uint32_t)tags.size());
    for (const test_tag &made : tags)
    {
        put32(made.group_tag);
        put32(made.subgroup_tag);
        uint8_t version[2];
        write_be16(version, (uint16_t)made.version);
        bytes.insert(bytes.end(), version, version + 2);
        put32((uint32_t)made.name.size());
        bytes.insert(bytes.end(), made.name.begin(), made.name.end());
        put32((uint32_t)made.data.size());
        bytes.insert(bytes.end(), made.data.begin(), made.data.end());
    }
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    const fs::path partial = path.string() + "." + std::to_string(getpid());
    {
        std::ofstream file(partial, std::ios::binary);
        file.write((const char *)bytes.data(), (std::streamsize)bytes.size());
        if (!file) return (void)fs::remove(partial, error);
    }
    fs::rename(partial, path, error);
    if (error) fs::remove(partial, error);
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

// The text sources directly under `folder`, in name order.
static std::vector<fs::path> text_sources(const fs::path &folder)
{
    std::vector<fs::path> sources;
    if (fs::exists(folder))
        for (const auto &entry : fs::directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().extension() == ".txt") sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    return sources;
}

// The look every map start loads: the interface collections and definitions
// of data/interface, and the plain interface fonts of data/fonts/interface.txt.
// The fonts are the tool's fixed test font: rendering the demo's faces is
// slow, and the map start needs only that the fonts load.
static void add_interface_jobs(const fs::path &data, std::vector<std::string> *jobs)
{
    for (const fs::path &source : text_sources(data / "interface" / "collections"))
    {
        const std::string subgroup = source.stem().string();
        jobs->push_back("collection demo_out.tag --subgroup " + subgroup + " --name " + subgroup + " '" +
                        source.string() + "'");
    }
    for (const fs::path &source : text_sources(data / "interface" / "inte"))
    {
        const std::string subgroup = source.stem().string();
        jobs->push_back("interface demo_out.tag --subgroup " + subgroup + " --name " + subgroup + " '" +
                        source.string() + "'");
    }
    // Dialogs, with their dialog string lists when the texts are in one.
    for (const fs::path &source : text_sources(data / "interface" / "dialogs"))
    {
        const std::string subgroup = source.stem().string();
        jobs->push_back("dialog demo_out.tag --ditl demo_ditl.tag --subgroup " + subgroup + " --name " + subgroup +
                        " '" + source.string() + "'");
    }
    std::ifstream fonts(data / "fonts" / "interface.txt");
    for (std::string line; std::getline(fonts, line);)
    {
        std::istringstream words(line);
        std::string plain;
        if (!(words >> plain) || plain[0] == '#') continue;
        jobs->push_back("font demo_out.tag --test --subgroup " + plain + " --name " + plain);
    }
}

// The code after "tag overhead" in a map source, "none" without one.
static std::string overhead_subgroup(const fs::path &map)
{
    std::ifstream file(map);
    for (std::string line; std::getline(file, line);)
    {
        std::istringstream words(line);
        std::string first, field, code;
        if (words >> first >> field >> code && first == "tag" && field == "overhead") return code;
    }
    return "none";
}

static const char *const demo_source_kinds[] = {"media", "preload", "collections", "observer"};

static bool make_demo_map_tags_once(const std::string &tool, std::vector<test_tag> *tags);

bool make_demo_map_tags(const std::string &tool, std::vector<test_tag> *tags)
{
    // Kept for the life of the process, one set per tool: a process runs
    // many cases, each writing the demo data set afresh, and the sources do
    // not change while they run (finding the cache's key walks all of data/).
    static std::map<std::string, std::vector<test_tag>> *made_by_tool = new std::map<std::string, std::vector<test_tag>>;
    auto made = made_by_tool->find(tool);
    if (made == made_by_tool->end())
    {
        std::vector<test_tag> tool_tags;
        if (!make_demo_map_tags_once(tool, &tool_tags)) return false;
        made = made_by_tool->emplace(tool, std::move(tool_tags)).first;
    }
    tags->insert(tags->end(), made->second.begin(), made->second.end());
    return true;
}

static bool make_demo_map_tags_once(const std::string &tool, std::vector<test_tag> *tags)
{
    const fs::path data = fs::path(source_tree_path("data"));
    std::string key = "demo tags\n";
    add_file_to_key(tool, &key);
    add_file_to_key(data / "maps" / "demo_valley.map", &key);
    {
        std::vector<fs::path> all;
        for (const char *kind : {"objects", "media", "preload", "collections", "observer", "interface", "fonts", "detail"})
            if (fs::exists(data / kind))
                for (const auto &entry : fs::recursive_directory_iterator(data / kind))
                    if (entry.is_regular_file()) all.push_back(entry.path());
        std::sort(all.begin(), all.end());
        for (const fs::path &path : all) add_file_to_key(path, &key);
    }
    const fs::path cached = cache_path(tool, key);
    if (read_cached_tags(cached, key, tags)) return true;
    const cache_lock lock(cached);
    if (read_cached_tags(cached, key, tags)) return true; // made by another test meanwhile
    std::vector<std::string> jobs;
    jobs.push_back("mesh demo_out.tag --subgroup demo --name 'demo valley' '" +
                   (data / "maps" / "demo_valley.map").string() + "'");
    // The map's landscape collection, made from the map source as the demo data script makes it, with
    // the overhead-map picture the map names.
    const std::string overhead = overhead_subgroup(data / "maps" / "demo_valley.map");
    const std::string overhead_options =
        overhead == "none" ? "" : " --overhead demo_overhead.tag --overhead-subgroup " + overhead;
    jobs.push_back("landscape demo_out.tag --subgroup " + landscape_subgroup(data / "maps" / "demo_valley.map") +
                   " --name 'demo valley landscape'" + overhead_options + " '" +
                   (data / "maps" / "demo_valley.map").string() + "'");
    // The landscape's detail map and its detail textures (data/detail).
    const std::string landscape = landscape_subgroup(data / "maps" / "demo_valley.map");
    const fs::path detail_map = data / "detail" / "dmap" / (landscape + ".txt");
    if (fs::exists(detail_map))
        jobs.push_back("detail-map demo_out.tag --subgroup " + landscape + " --name 'demo valley detail' --map '" +
                       (data / "maps" / "demo_valley.map").string() + "' '" + detail_map.string() + "'");
    for (const fs::path &source : text_sources(data / "detail" / "dtex"))
    {
        const std::string subgroup = source.stem().string();
        jobs.push_back("detail-texture demo_out.tag --subgroup " + subgroup + " --name " + subgroup + " '" +
                       source.string() + "'");
    }
    std::vector<fs::path> sources;
    for (const auto &entry : fs::recursive_directory_iterator(data / "objects"))
        if (entry.is_regular_file() && entry.path().extension() == ".txt") sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end()); // a fixed order of tags, whatever the directory gives
    for (const fs::path &source : sources)
    {
        const std::string group = source.parent_path().filename().string(), subgroup = source.stem().string();
        jobs.push_back("objects demo_out.tag --group " + group + " --subgroup " + subgroup + " --name " + subgroup +
                       " '" + source.string() + "'");
    }
    // The lake's media, the map's preload list, the collections ('.256') and
    // the camera's limits ('obpc'), made by their own commands.
    for (const char *kind : demo_source_kinds)
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
            jobs.push_back(command + " demo_out.tag --subgroup " + subgroup + " --name " + subgroup + " '" +
                           source.string() + "'");
        }
    }
    add_interface_jobs(data, &jobs);
    std::vector<test_tag> made;
    if (!make_tags_at_once(tool, jobs, &made)) return false;
    write_cached_tags(cached, key, made);
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

bool make_demo_map_source_tags(const std::string &tool, const std::string &source, const std::string &subgroup,
                               std::vector<test_tag> *tags)
{
    const fs::path map = fs::path(source_tree_path("data/maps")) / source;
    std::string key = "map tags\n" + subgroup + "\n";
    add_file_to_key(tool, &key);
    add_file_to_key(map, &key);
    const fs::path cached = cache_path(tool, key);
    if (read_cached_tags(cached, key, tags)) return true;
    const cache_lock lock(cached);
    if (read_cached_tags(cached, key, tags)) return true; // made by another test meanwhile
    std::vector<test_tag> made;
    if (!make_tag(tool, "mesh demo_out.tag --subgroup " + subgroup + " --name '" + subgroup + "' '" + map.string() + "'",
                  &made))
        return false;
    const std::string landscape = landscape_subgroup(map), overhead = overhead_subgroup(map);
    const std::string landscape_arguments =
        "landscape demo_out.tag --subgroup " + landscape + " --name '" + subgroup + " landscape'" +
        (overhead == "none" ? "" : " --overhead demo_overhead.tag --overhead-subgroup " + overhead) + " '" +
        map.string() + "'";
    if (landscape != "none" && !make_tag(tool, landscape_arguments, &made)) return false;
    if (landscape != "none" && overhead != "none" && !take_made_tag("demo_overhead.tag", landscape_arguments, &made))
        return false;
    write_cached_tags(cached, key, made);
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

// The tags made from each of `sources` by `make_one`, through the cross-process
// cache keyed by `title`, the tool and every source: made once, under the
// cache's lock, and read back by every later caller.
static bool make_cached_tags_from_sources(const std::string &tool, const char *title,
                                          const std::vector<fs::path> &sources,
                                          const std::function<bool(const fs::path &, std::vector<test_tag> *)> &make_one,
                                          std::vector<test_tag> *tags)
{
    std::string key = std::string(title) + "\n";
    add_file_to_key(tool, &key);
    for (const fs::path &source : sources) add_file_to_key(source, &key);
    const fs::path cached = cache_path(tool, key);
    if (read_cached_tags(cached, key, tags)) return true;
    const cache_lock lock(cached);
    if (read_cached_tags(cached, key, tags)) return true;
    std::vector<test_tag> made;
    for (const fs::path &source : sources)
        if (!make_one(source, &made)) return false;
    write_cached_tags(cached, key, made);
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

bool make_string_list_tags(const std::string &tool, std::vector<test_tag> *tags)
{
    // Lists ('stli') and single texts ('text'), each group from its folder's name.
    const auto make_one = [&tool](const fs::path &source, std::vector<test_tag> *made) {
        const std::string subgroup = source.stem().string();
        const std::string group = source.parent_path().filename().string();
        return make_tag(tool,
                        "strings demo_out.tag --group " + group + " --subgroup '" + subgroup + "' --name '" + subgroup +
                            "' '" + source.string() + "'",
                        made);
    };
    const fs::path strings = fs::path(source_tree_path("data")) / "strings";
    std::vector<fs::path> sources = text_sources(strings / "stli");
    for (const fs::path &text : text_sources(strings / "text")) sources.push_back(text);
    return make_cached_tags_from_sources(tool, "string list and text tags", sources, make_one, tags);
}

bool write_demo_data_set(const std::string &tool, const std::vector<test_tag> &extra_tags)
{
    std::vector<test_tag> tags;
    if (!make_demo_map_tags(tool, &tags)) return false;
    // An extra tag takes the place of the demo's tag of its name (the demo's
    // own interface fonts for the test fonts, say).
    for (const test_tag &extra : extra_tags)
        tags.erase(std::remove_if(tags.begin(), tags.end(),
                                  [&extra](const test_tag &t) {
                                      return t.group_tag == extra.group_tag && t.subgroup_tag == extra.subgroup_tag;
                                  }),
                   tags.end());
    tags.insert(tags.end(), extra_tags.begin(), extra_tags.end());
    const bool written = write_foundation_files(tags) &&
                         write_monolithic_file("tags/patch1.tags", 2, {}, "patch1", "", 1);
    EXPECT_TRUE(written) << "the demo data set could not be written";
    return written;
}

bool make_demo_tone_tags(bool (*wanted)(const std::string &subgroup), std::vector<test_tag> *tags,
                         std::vector<demo_tone> *tones)
{
    std::ifstream list(source_tree_path("data/sounds/tones.txt"));
    for (std::string line; std::getline(list, line);)
    {
        std::istringstream words(line);
        std::string subgroup, seconds, channels, amplitude, name, word;
        double hertz = 0;
        if (line.empty() || line[0] == '#' || !(words >> subgroup >> hertz >> seconds >> channels >> amplitude)) continue;
        if (subgroup.size() != 4 || !wanted(subgroup)) continue;
        while (words >> word) name += (name.empty() ? "" : " ") + word;
        const std::string tone = "python3 '" + source_tree_path("scripts/tone_wav.py") + "' " + subgroup + ".wav " +
                                 std::to_string(hertz) + " " + seconds + " " + channels + " " + amplitude;
        if (system(tone.c_str()) != 0) return false;
        if (run_data_tool("sound " + subgroup + ".tag --subgroup " + subgroup + " --name '" + name + "' " + subgroup +
                          ".wav") != 0)
            return false;
        tags->push_back({SOUND_DEFINITION_GROUP_TAG,
                         FOUR_CHARACTER_CODE(subgroup[0], subgroup[1], subgroup[2], subgroup[3]), name,
                         SOUND_DEFINITION_VERSION, local_tag_file_data(subgroup + ".tag")});
        tones->push_back({subgroup, hertz});
    }
    return true;
}

bool use_demo_interface_fonts(const std::string &tool, std::vector<test_tag> *tags)
{
    // Thirty runs of the tool: made once through the cache, whose key holds
    // the font list and each face the list draws from.
    const std::string faces = "/usr/share/fonts/truetype/dejavu/";
    const fs::path list_path = source_tree_path("data/fonts/interface.txt");
    const auto make_all = [&](const fs::path &source, std::vector<test_tag> *made_fonts) {
        if (source != list_path) return true; // a face: in the key only
        std::vector<std::string> jobs;
        std::ifstream list(source);
        for (std::string line; std::getline(list, line);)
        {
            std::istringstream words(line);
            std::string plain, italic, bold, condensed, underlined, size;
            if (!(words >> plain >> italic >> bold >> condensed >> underlined >> size) || plain[0] == '#') continue;
            const std::string sized = " --size " + size + " --face " + faces;
            const std::string made[][2] = {
                {plain, sized + "DejaVuSans.ttf --italic " + italic + " --bold " + bold + " --condensed " + condensed +
                            " --underlined " + underlined},
                {italic, sized + "DejaVuSans-Oblique.ttf"}, {bold, sized + "DejaVuSans-Bold.ttf"},
                {condensed, sized + "DejaVuSansCondensed.ttf"}, {underlined, sized + "DejaVuSans.ttf --underline"}};
            for (const auto &font : made)
                jobs.push_back("font demo_out.tag --subgroup " + font[0] + " --name " + font[0] + font[1]);
        }
        return make_tags_at_once(tool, jobs, made_fonts);
    };
    std::vector<fs::path> sources = {list_path};
    for (const char *face : {"DejaVuSans.ttf", "DejaVuSans-Oblique.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansCondensed.ttf"})
        sources.push_back(faces + face);
    std::vector<test_tag> fonts;
    if (!make_cached_tags_from_sources(tool, "demo interface fonts", sources, make_all, &fonts)) return false;
    for (const test_tag &font : fonts)
    {
        const auto same = [&font](const test_tag &t) {
            return t.group_tag == font.group_tag && t.subgroup_tag == font.subgroup_tag;
        };
        tags->erase(std::remove_if(tags->begin(), tags->end(), same), tags->end());
        tags->push_back(font);
    }
    return true;
}

// ---- the tests' own interface data -----------------------------------------------

bool make_test_dialog_tags(const std::string &tool, std::vector<test_tag> *tags)
{
    const auto make_one = [&tool](const fs::path &source, std::vector<test_tag> *made) {
        const std::string subgroup = source.stem().string();
        std::error_code error;
        fs::remove("demo_ditl.tag", error);
        const std::string arguments = "dialog demo_out.tag --ditl demo_ditl.tag --subgroup " + subgroup + " --name " +
                                      subgroup + " '" + source.string() + "'";
        if (!make_tag(tool, arguments, made)) return false;
        return !fs::exists("demo_ditl.tag") || take_made_tag("demo_ditl.tag", arguments, made);
    };
    return make_cached_tags_from_sources(tool, "test dialog tags",
                                         text_sources(fs::path(source_tree_path("tests/data/interface/dialogs"))),
                                         make_one, tags);
}

// The demo's dialog elements source without the last frame line of the
// scroll bar's sequence: the sequence keeps its three views of up arrow, down
// arrow, thumb, caps and grip, and the list code picks the fixed thumb from
// the six frames per view.  Empty when the source does not have the sequence
// with seven frames.
static std::string fixed_thumb_dialog_elements_source(const fs::path &source)
{
    std::ifstream file(source);
    std::string out, line;
    bool in_scroll_bar = false;
    int32_t frames = 0;
    bool cut = false;
    while (std::getline(file, line))
    {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "sequence") in_scroll_bar = second == "scrollbar_elements";
        if (in_scroll_bar && first == "frame" && ++frames == 7)
        {
            cut = true;
            continue;
        }
        out += line + "\n";
    }
    return cut && frames == 7 ? out : std::string();
}

bool make_fixed_thumb_dialog_elements_tag(const std::string &tool, std::vector<test_tag> *tags)
{
    const fs::path source =
        fs::path(source_tree_path("data/interface/collections/baie.txt"));
    std::string key = "fixed thumb dialog elements\n";
    add_file_to_key(tool, &key);
    add_file_to_key(source, &key);
    const fs::path cached = cache_path(tool, key);
    if (read_cached_tags(cached, key, tags)) return true;
    const cache_lock lock(cached);
    if (read_cached_tags(cached, key, tags)) return true;
    const std::string text = fixed_thumb_dialog_elements_source(source);
    if (text.empty())
    {
        ADD_FAILURE() << "the scroll bar's sequence of " << source << " does not have seven frames";
        return false;
    }
    {
        std::ofstream file("fixed_thumb_baie.txt");
        file << text;
        if (!file)
        {
            ADD_FAILURE() << "fixed_thumb_baie.txt could not be written";
            return false;
        }
    }
    std::vector<test_tag> made;
    if (!make_tag(tool, "collection demo_out.tag --subgroup baie --name baie fixed_thumb_baie.txt", &made)) return false;
    write_cached_tags(cached, key, made);
    tags->insert(tags->end(), made.begin(), made.end());
    return true;
}

bool start_demo_battle(uint32_t seed, std::vector<unit_order> *orders, std::string *reason)
{
    char why[256] = "";
    if (!read_unit_orders(source_tree_path("data/orders/battle.txt").c_str(), orders, why, sizeof(why)) ||
        !start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), seed, why, sizeof(why)))
    {
        *reason = why;
        return false;
    }
    set_simulation_tick_procedure(give_unit_orders_of_tick, orders);
    return true;
}

bool enter_demo_data_directory(const std::string &tool, std::string *directory, std::string *previous,
                               const std::function<bool(std::vector<test_tag> *)> &make_extra_tags)
{
    char working[4096];
    *previous = getcwd(working, sizeof(working)) ? working : "/";
    *directory = enter_test_directory();
    std::vector<test_tag> extra_tags;
    if (make_extra_tags && !make_extra_tags(&extra_tags)) return false;
    return write_demo_data_set(tool, extra_tags);
}

void leave_demo_data_directory(const std::string &directory, const std::string &previous)
{
    if (!previous.empty() && chdir(previous.c_str()) != 0) abort();
    if (!directory.empty()) std::filesystem::remove_all(directory);
}
