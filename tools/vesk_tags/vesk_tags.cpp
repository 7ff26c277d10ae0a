// vesk_tags: makes, lists and unpacks tag files through the store's own
// readers and builder, for map makers, tests and the demo data.
//
//   vesk_tags pack OUT.tags --type foundation|patch|plugin|interface|interface-plugin|lobby-plugin|gameplay-plugin|addon
//                 [--name N --url U --patch P --version V --hidden] FILES-OR-DIRS...
//   vesk_tags list FILE
//   vesk_tags unpack FILE DIR
//   vesk_tags wrap OUT --group G --subgroup S --name N [--version V] DATA-FILE
//   vesk_tags strings OUT --group stli|ditl|text --subgroup S --name N SOURCE   (string_tags.h)
//   vesk_tags mesh OUT --subgroup S --name N SOURCE   (mesh_tags.h)
//   vesk_tags objects OUT --group G --subgroup S --name N SOURCE   (object_tags.h)
//   vesk_tags media OUT --subgroup S --name N SOURCE   (map_data_tags.h)
//   vesk_tags preload OUT --subgroup S --name N SOURCE   (map_data_tags.h)
//   vesk_tags observer OUT --subgroup S --name N SOURCE   (map_data_tags.h)
//   vesk_tags interface OUT --subgroup S --name N SOURCE   (map_data_tags.h)
//   vesk_tags collection OUT --subgroup S --name N SOURCE   (collection_tags.h)
//   vesk_tags dialog OUT [--ditl DITL-OUT] --subgroup S --name N SOURCE   (dialog_tags.h)
//   vesk_tags font OUT --subgroup S --name N (--test | --face FILE --size PIXELS [--underline]) [STYLES]   (font_tags.h)
//   vesk_tags detail-texture OUT --subgroup S --name N SOURCE   (detail_tags.h)
//   vesk_tags detail-map OUT --subgroup S --name N --map MAP-SOURCE SOURCE   (detail_tags.h)
//   vesk_tags sound | ambient-sound | sound-list OUT --subgroup S --name N ...   (sound_tags.h)
//
// Every damaged input is refused with a one-line reason on standard error
// and exit status 1; wrong usage exits with 2.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/tags.h"
#include "tag_files/tag_file_formats.h"
#include "collection_tags.h"
#include "detail_tags.h"
#include "dialog_tags.h"
#include "font_tags.h"
#include "landscape_tags.h"
#include "map_data_tags.h"
#include "mesh_tags.h"
#include "object_tags.h"
#include "tool_folders.h"
#include "sound_tags.h"
#include "string_tags.h"
#include "tool_support.h"
#include "tool_help.h"

// Tag files and data files are read whole; the store's formats count their
// bytes in 32 bits.
static const size_t MAXIMUM_TOOL_INPUT_SIZE = 0x7FFFFFF0u;

static int tool_usage(FILE *out = stderr)
{
    fprintf(out,
            "usage: vesk_tags pack OUT --type foundation|patch|plugin|interface|interface-plugin|lobby-plugin|"
            "gameplay-plugin|addon [--name N] [--url U] [--patch P] [--version V] [--hidden] FILES-OR-DIRS...\n"
            "       vesk_tags list FILE\n"
            "       vesk_tags unpack FILE DIR\n"
            "       vesk_tags wrap OUT --group G --subgroup S --name N [--version V] DATA-FILE\n"
            "       vesk_tags strings OUT --group stli|ditl|text --subgroup S --name N SOURCE\n"
            "       vesk_tags mesh OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags objects OUT --group obje|core|scen|geom|mode|mani --subgroup S --name N SOURCE\n"
            "       vesk_tags media OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags preload OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags observer OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags interface OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags collection OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags font OUT --subgroup S --name N (--test | --face FILE --size PIXELS [--underline]) "
            "[--italic T] [--bold T] [--condensed T] [--underlined T]\n"
            "       vesk_tags dialog OUT [--ditl DITL-OUT] --subgroup S --name N SOURCE\n"
            "       vesk_tags landscape OUT --subgroup S --name N [--png PICTURE]\n"
            "                           [--overhead OUT2 --overhead-subgroup S2] MAP-SOURCE\n"
            "       vesk_tags detail-texture OUT --subgroup S --name N SOURCE\n"
            "       vesk_tags detail-map OUT --subgroup S --name N --map MAP-SOURCE SOURCE\n"
            "       vesk_tags sound OUT --subgroup S --name N [--loudness L] [--flags F] [--pitch LOW DELTA] "
            "[--volume LOW DELTA] [--play-fraction P] WAV...\n"
            "       vesk_tags ambient-sound OUT --subgroup S --name N [--loop TAG] [--random TAG] [--inner R] "
            "[--outer R] [--period LOW DELTA] [--random-radius R] [--flags F]\n"
            "       vesk_tags sound-list OUT --subgroup S --name N TAG...\n");
    return 2;
}

// The tag of a local tag file's `bytes`, checked by the store's own reader;
// its data points into `bytes`.
static bool local_tag_item(const char *path, const std::string &bytes, tag_pack_item *item,
                           std::string *reason)
{
    local_tag_file_header header;
    memset(&header, 0, sizeof(header));
    memcpy(&header, bytes.data(), bytes.size() < sizeof(header) ? bytes.size() : sizeof(header));
    if (!local_tag_file_header_parse(path, &header, (int64_t)bytes.size()))
    {
        *reason = tag_file_last_refusal();
        return false;
    }
    memset(item, 0, sizeof(*item));
    item->group_tag = header.group_tag;
    item->subgroup_tag = header.subgroup_tag;
    memcpy(item->name, header.name, TAG_NAME_SIZE);
    item->user_data = header.user_data;
    item->version = header.version;
    item->size = header.data_size;
    item->data = bytes.data() + sizeof(header);
    return true;
}

// Every regular file under `path` (itself when it is a file), by name,
// hidden ones left out.
static bool collect_files(const std::string &path, std::vector<std::string> *files)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
    if (S_ISREG(status.st_mode))
    {
        files->push_back(path);
        return true;
    }
    if (!S_ISDIR(status.st_mode)) return false;
    DIR *directory = opendir(path.c_str());
    if (!directory) return false;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(directory))
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(directory);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        if (!collect_files(path + "/" + name, files)) return false;
    return true;
}

static bool parse_type(const char *text, int32_t *type)
{
    static const struct
    {
        const char *name;
        int32_t type;
    } types[] = {
        {"foundation", _tag_file_type_foundation}, {"patch", _tag_file_type_patch},
        {"plugin", _tag_file_type_plugin}, {"interface", _tag_file_type_interface_file},
        {"interface-plugin", _tag_file_type_interface_plugin}, {"lobby-plugin", _tag_file_type_lobby_plugin},
        {"gameplay-plugin", _tag_file_type_gameplay_plugin}, {"addon", _tag_file_type_addon},
    };
    for (const auto &entry : types)
        if (strcmp(text, entry.name) == 0)
        {
            *type = entry.type;
            return true;
        }
    return false;
}

static int command_pack(int argc, char **argv)
{
    if (argc < 3) return tool_usage();
    const char *out = argv[2];
    tag_pack_parameters parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.type = NONE;
    parameters.version = -1;
    std::vector<std::string> inputs;
    for (int i = 3; i < argc; i++)
    {
        std::string option = argv[i];
        bool has_value = i + 1 < argc;
        int64_t value;
        if (option == "--type" && has_value)
        {
            if (!parse_type(argv[++i], &parameters.type)) return tool_usage();
        }
        else if (option == "--name" && has_value)
        {
            if (strlen(argv[++i]) > MAXIMUM_TAG_NAME_LENGTH) return tool_refuse(argv[i], "name longer than 31 characters");
            strlcpy(parameters.name, argv[i], sizeof(parameters.name));
        }
        else if (option == "--url" && has_value)
        {
            if (strlen(argv[++i]) > MAXIMUM_TAG_URL_LENGTH) return tool_refuse(argv[i], "url longer than 63 characters");
            strlcpy(parameters.url, argv[i], sizeof(parameters.url));
        }
        else if (option == "--patch" && has_value)
        {
            if (!tool_parse_argument_number(argv[++i], 0, 32767, &value)) return tool_usage();
            parameters.patch_number = (int16_t)value;
        }
        else if (option == "--version" && has_value)
        {
            if (!tool_parse_argument_number(argv[++i], -32768, 65535, &value)) return tool_usage();
            parameters.version = (int16_t)(uint16_t)value;
        }
        else if (option == "--hidden") parameters.hidden = 1;
        else if (option.size() > 1 && option[0] == '-' && option[1] == '-') return tool_usage();
        else inputs.push_back(option);
    }
    if (parameters.type == NONE) return tool_usage();

    std::vector<std::string> files;
    for (const std::string &input : inputs)
        if (!collect_files(input, &files)) return tool_refuse(input.c_str(), "cannot be read");
    std::vector<std::string> contents(files.size());
    std::vector<tag_pack_item> items(files.size());
    for (size_t i = 0; i < files.size(); i++)
    {
        std::string reason;
        if (!tool_read_file(files[i].c_str(), MAXIMUM_TOOL_INPUT_SIZE, &contents[i], &reason))
            return tool_refuse(files[i].c_str(), reason.c_str());
        if (!local_tag_item(files[i].c_str(), contents[i], &items[i], &reason))
            return tool_refuse(files[i].c_str(), reason.c_str());
    }
    int32_t size;
    void *file = monolithic_tag_file_build(&parameters, items.data(), (int32_t)items.size(), &size);
    if (!file) return tool_refuse(out, tag_file_last_refusal());
    bool written = tool_write_file(out, file, (size_t)size);
    free(file);
    if (!written) return tool_refuse(out, strerror(errno));
    return 0;
}

static void print_line(tag group, tag subgroup, int32_t version, int32_t size, const char *name)
{
    char group_text[5], subgroup_text[5];
    printf("%s %s %d %d %s\n", tag_to_string_buffer(group, group_text), tag_to_string_buffer(subgroup, subgroup_text),
           (int)version, (int)size, name);
}

// The tags of FILE, a monolithic or a local tag file, with their data
// pointing into `bytes`.
static bool load_items(const char *path, std::string *bytes, std::vector<tag_pack_item> *items, std::string *reason)
{
    if (!tool_read_file(path, MAXIMUM_TOOL_INPUT_SIZE, bytes, reason)) return false;
    items->clear();
    if (bytes->size() >= 4 && read_be32((const uint8_t *)bytes->data()) == (uint32_t)LOCAL_TAG_FILE_MAGIC)
    {
        items->resize(1);
        return local_tag_item(path, *bytes, &(*items)[0], reason);
    }
    monolithic_tag_file_header header;
    monolithic_tag_entry *entries;
    if (!monolithic_tag_file_parse(path, bytes->data(), (int64_t)bytes->size(), true, &header, &entries))
    {
        *reason = tag_file_last_refusal();
        return false;
    }
    for (int32_t i = 0; i < header.tag_count; i++)
    {
        tag_pack_item item;
        memset(&item, 0, sizeof(item));
        item.group_tag = entries[i].group_tag;
        item.subgroup_tag = entries[i].subgroup_tag;
        memcpy(item.name, entries[i].name, TAG_NAME_SIZE);
        item.user_data = entries[i].user_data;
        item.version = entries[i].version;
        item.size = entries[i].size;
        item.data = bytes->data() + entries[i].offset;
        items->push_back(item);
    }
    free(entries);
    return true;
}

static int command_list(int argc, char **argv)
{
    if (argc != 3) return tool_usage();
    std::string bytes;
    std::vector<tag_pack_item> items;
    std::string reason;
    if (!load_items(argv[2], &bytes, &items, &reason)) return tool_refuse(argv[2], reason.c_str());
    for (const tag_pack_item &item : items)
        print_line(item.group_tag, item.subgroup_tag, item.version, item.size, item.name);
    return 0;
}

static bool make_directory(const std::string &path)
{
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

static int command_unpack(int argc, char **argv)
{
    if (argc != 4) return tool_usage();
    std::string bytes;
    std::vector<tag_pack_item> items;
    std::string reason;
    if (!load_items(argv[2], &bytes, &items, &reason)) return tool_refuse(argv[2], reason.c_str());
    std::string root = argv[3];
    if (!make_directory(root)) return tool_refuse(argv[3], strerror(errno));
    // The same layout as the game's local folder: one folder per group, one
    // file per tag named by the tag.
    for (const tag_pack_item &item : items)
    {
        char group_directory[9];
        std::string folder = root + "/" + tag_group_directory_name(item.group_tag, group_directory);
        std::string path = folder + "/" + item.name;
        if (!make_directory(folder)) return tool_refuse(folder.c_str(), strerror(errno));
        struct stat status;
        if (stat(path.c_str(), &status) == 0) return tool_refuse(path.c_str(), "exists already (two tags of that name?)");
        if (!tool_write_local_tag_file(path.c_str(), item.group_tag, item.subgroup_tag, item.version, item.user_data,
                                       item.name, item.data, item.size))
            return 1;
    }
    return 0;
}

static int command_wrap(int argc, char **argv)
{
    if (argc < 3) return tool_usage();
    const char *out = argv[2];
    tag group = NONE, subgroup = NONE;
    const char *name = nullptr, *input = nullptr;
    int16_t version = 1;
    for (int i = 3; i < argc; i++)
    {
        std::string option = argv[i];
        bool has_value = i + 1 < argc;
        int64_t value;
        if (option == "--group" && has_value) { if (!tool_parse_code(argv[++i], false, &group)) return tool_usage(); }
        else if (option == "--subgroup" && has_value) { if (!tool_parse_code(argv[++i], false, &subgroup)) return tool_usage(); }
        else if (option == "--name" && has_value) name = argv[++i];
        else if (option == "--version" && has_value)
        {
            if (!tool_parse_argument_number(argv[++i], -32768, 32767, &value)) return tool_usage();
            version = (int16_t)value;
        }
        else if (!input && option[0] != '-') input = argv[i];
        else return tool_usage();
    }
    if (group == NONE || subgroup == NONE || !name || !input) return tool_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    std::string data, reason;
    if (!tool_read_file(input, MAXIMUM_TOOL_INPUT_SIZE, &data, &reason))
        return tool_refuse(input, reason.c_str());
    return tool_write_local_tag_file(out, group, subgroup, version, 0, name, data.data(), (int32_t)data.size()) ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (tool_help_asked(argc, argv)) return tool_usage(stdout), 0;
    if (argc < 2) return tool_usage();
    report_failed_writes();
    std::string command = argv[1];
    if (command == "pack") return command_pack(argc, argv);
    if (command == "list") return command_list(argc, argv);
    if (command == "unpack") return command_unpack(argc, argv);
    if (command == "wrap") return command_wrap(argc, argv);
    if (command == "strings") return string_tags_command(argc, argv);
    if (command == "mesh") return mesh_tags_command(argc, argv);
    if (command == "objects") return object_tags_command(argc, argv);
    if (command == "media") return media_tags_command(argc, argv);
    if (command == "preload") return preload_tags_command(argc, argv);
    if (command == "observer") return observer_tags_command(argc, argv);
    if (command == "interface") return interface_tags_command(argc, argv);
    if (command == "collection") return collection_tags_command(argc, argv);
    if (command == "dialog") return dialog_tags_command(argc, argv);
    if (command == "landscape") return landscape_tags_command(argc, argv);
    if (command == "font") return font_tags_command(argc, argv);
    if (command == "detail-texture") return detail_texture_tags_command(argc, argv);
    if (command == "detail-map") return detail_map_tags_command(argc, argv);
    if (command == "sound") return sound_tags_command(argc, argv);
    if (command == "ambient-sound") return ambient_sound_tags_command(argc, argv);
    if (command == "sound-list") return sound_list_tags_command(argc, argv);
    return tool_usage();
}
