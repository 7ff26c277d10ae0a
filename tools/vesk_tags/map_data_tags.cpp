// The data tool's "media" and "preload" commands.  See map_data_tags.h.

#include "map_data_tags.h"
#include "tool_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/tags.h"
#include "interface_definitions.h"
#include "media.h"
#include "observer_constants.h"
#include "tag_files/tag_file_formats.h"
#include "vesk/preloading.h"

namespace {

// A full preload list is about 60 KB of text.
const size_t MAXIMUM_MAP_DATA_SOURCE_SIZE = MEG;

bool map_data_read_source(const char *path, std::vector<source_line> *lines)
{
    return tool_read_source(path, MAXIMUM_MAP_DATA_SOURCE_SIZE, lines);
}

bool map_data_numbers(const source_line &line, size_t count, int64_t minimum, int64_t maximum, int64_t *values)
{
    if (line.words.size() != 1 + count) return false;
    for (size_t i = 0; i < count; ++i)
        if (!tool_parse_number(line.words[1 + i].c_str(), minimum, maximum, &values[i])) return false;
    return true;
}

struct command_arguments
{
    const char *out = nullptr, *name = nullptr, *source = nullptr;
    tag subgroup = NONE;
};

// OUT [--group G] --subgroup S --name N SOURCE; the group, when given, must be `group`.
bool map_data_parse_arguments(int argc, char **argv, tag group, command_arguments *arguments)
{
    arguments->out = argc > 2 ? argv[2] : nullptr;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        tag given = NONE;
        if (option == "--group" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &given) || given != group) return false;
        }
        else if (option == "--subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &arguments->subgroup)) return false;
        }
        else if (option == "--name" && i + 1 < argc) arguments->name = argv[++i];
        else if (!arguments->source && option[0] != '-') arguments->source = argv[i];
        else return false;
    }
    return arguments->out && arguments->name && arguments->source && arguments->subgroup != NONE;
}

int map_data_usage(const char *command, const char *group)
{
    fprintf(stderr, "usage: vesk_tags %s OUT [--group %s] --subgroup S --name N SOURCE\n", command, group);
    return 2;
}

bool parse_splash_type(const std::string &word, int64_t *type)
{
    static const char *const names[NUMBER_OF_MEDIA_SPLASH_TYPES] = {"small", "medium", "large", "bloody",
                                                                     "floating", "steam", "footstep"};
    for (int64_t i = 0; i < NUMBER_OF_MEDIA_SPLASH_TYPES; ++i)
        if (word == names[i]) return (*type = i), true;
    return tool_parse_number(word.c_str(), 0, NUMBER_OF_MEDIA_SPLASH_TYPES - 1, type);
}

bool parse_media(const source_line &line, media_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v[4];
    if (key == "flags") return map_data_numbers(line, 1, 0, 0xFFFFFFFF, v) && ((d->flags = (uint32_t)v[0]), true);
    if (key == "splash")
        return line.words.size() == 3 && parse_splash_type(line.words[1], &v[0]) &&
               tool_parse_code(line.words[2].c_str(), true, &d->projectile_group_tags[v[0]]);
    if (key == "wobble_magnitude" || key == "wobble_phase_multiplier")
    {
        if (!map_data_numbers(line, 3, -32768, 32767, v)) return false;
        int16_t *axes = key == "wobble_magnitude" ? d->wobble_magnitude : d->wobble_phase_multiplier;
        for (int i = 0; i < 3; ++i) axes[i] = (int16_t)v[i];
        return true;
    }
    if (key == "reflection_transparency")
        return map_data_numbers(line, 1, 0, 65535, v) && ((d->reflection_transparency = (fixed_fraction)v[0]), true);
    if (key == "surface_tint")
        return map_data_numbers(line, 1, 0, 65535, v) && ((d->surface_tint_fraction = (uint16_t)v[0]), true);
    if (key == "reflection_tint" && map_data_numbers(line, 4, 0, 65535, v))
    {
        d->reflection_tint_fraction = (uint16_t)v[0];
        d->reflection_tint_color = {(uint16_t)v[1], (uint16_t)v[2], (uint16_t)v[3], 0};
        return true;
    }
    return false;
}

// NAME MAX ACC DEC (both directions) or NAME MAX ACC DEC MAX ACC DEC
// (negative, then positive); whole units per game tick.
bool parse_observer_constant(const source_line &line, observer_physics_constants *d)
{
    static const char *const names[NUMBER_OF_OBSERVER_PHYSICS_CONSTANTS] = {
        "parallel", "orthogonal", "yaw", "orbit", "vertical", "pitch", "zoom"};
    int32_t which = NONE;
    for (int32_t i = 0; i < NUMBER_OF_OBSERVER_PHYSICS_CONSTANTS; ++i)
        if (line.words[0] == names[i]) which = i;
    int64_t v[6];
    const size_t count = line.words.size() - 1;
    if (which == NONE || (count != 3 && count != 6) || !map_data_numbers(line, count, INT32_MIN, INT32_MAX, v)) return false;
    if (count == 3)
        for (int i = 0; i < 3; ++i) v[3 + i] = v[i];
    observer_physics_constant &constant = d->constants[which];
    constant.negative = {(fixed)v[0], (fixed)v[1], (fixed)v[2]};
    constant.positive = {(fixed)v[3], (fixed)v[4], (fixed)v[5]};
    return true;
}

} // namespace

int observer_tags_command(int argc, char **argv)
{
    command_arguments arguments;
    if (!map_data_parse_arguments(argc, argv, OBSERVER_PHYSICS_CONSTANTS_GROUP_TAG, &arguments)) return map_data_usage("observer", "obpc");
    if (!tag_name_is_valid(arguments.name)) return tool_refuse(arguments.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!map_data_read_source(arguments.source, &lines)) return 1;

    // Constants a source does not name keep the game's defaults.
    observer_physics_constants constants;
    default_observer_physics_constants(&constants);
    for (const source_line &line : lines)
        if (!parse_observer_constant(line, &constants))
            return tool_refuse_line(arguments.source, line.number, "not understood or out of range");

    byte_swap_data("observer_physics_constants", &constants, sizeof(constants), 1,
                   observer_physics_constants_byte_swapping_data);
    return tool_write_local_tag_file(arguments.out, OBSERVER_PHYSICS_CONSTANTS_GROUP_TAG, arguments.subgroup,
                                     OBSERVER_PHYSICS_CONSTANTS_VERSION, 0, arguments.name, &constants,
                                     sizeof(constants))
               ? 0
               : 1;
}

int media_tags_command(int argc, char **argv)
{
    command_arguments arguments;
    if (!map_data_parse_arguments(argc, argv, MEDIA_DEFINITION_GROUP_TAG, &arguments)) return map_data_usage("media", "medi");
    if (!tag_name_is_valid(arguments.name)) return tool_refuse(arguments.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!map_data_read_source(arguments.source, &lines)) return 1;

    media_definition media;
    memset(&media, 0, sizeof(media));
    for (file_tag &group : media.projectile_group_tags) group = NONE;
    for (const source_line &line : lines)
        if (!parse_media(line, &media))
            return tool_refuse_line(arguments.source, line.number, "not understood or out of range");
    if (const char *refusal = media_definition_refusal(&media))
    {
        const std::string reason = std::string("the game would refuse the media definition: ") + refusal;
        return tool_refuse_line(arguments.source, 0, reason.c_str());
    }

    byte_swap_data("media_definition", &media, sizeof(media), 1, media_definition_byte_swapping_data);
    return tool_write_local_tag_file(arguments.out, MEDIA_DEFINITION_GROUP_TAG, arguments.subgroup,
                                     MEDIA_DEFINITION_VERSION, 0, arguments.name, &media, sizeof(media))
               ? 0
               : 1;
}

int preload_tags_command(int argc, char **argv)
{
    command_arguments arguments;
    if (!map_data_parse_arguments(argc, argv, PRELOAD_DEFINITION_GROUP_TAG, &arguments)) return map_data_usage("preload", "prel");
    if (!tag_name_is_valid(arguments.name)) return tool_refuse(arguments.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!map_data_read_source(arguments.source, &lines)) return 1;

    std::vector<preload_data> tags;
    std::vector<bitmap_preload_data> bitmaps;
    for (const source_line &line : lines)
    {
        const std::string &key = line.words[0];
        int64_t index = 0;
        bool ok = false;
        if (key == "tag" && line.words.size() == 3 && tags.size() < MAXIMUM_PRELOADED_TAGS_PER_MAP)
        {
            preload_data entry;
            ok = tool_parse_code(line.words[1].c_str(), false, &entry.group_tag) &&
                 tool_parse_code(line.words[2].c_str(), false, &entry.subgroup_tag);
            if (ok) tags.push_back(entry);
        }
        else if (key == "bitmap" && line.words.size() == 3 && bitmaps.size() < MAXIMUM_PRELOADED_TAGS_PER_MAP)
        {
            bitmap_preload_data entry = {NONE, 0, 0};
            ok = tool_parse_code(line.words[1].c_str(), false, &entry.collection_tag) &&
                 tool_parse_number(line.words[2].c_str(), 0, MAXIMUM_PRELOADED_BITMAP_INDEX, &index);
            entry.bitmap_index = (int16_t)index;
            if (ok) bitmaps.push_back(entry);
        }
        if (!ok) return tool_refuse_line(arguments.source, line.number, "not understood, out of range, or one too many");
    }

    const int32_t size = encode_preload_tag_data(tags.data(), (int32_t)tags.size(), bitmaps.data(),
                                                 (int32_t)bitmaps.size(), nullptr, 0);
    std::vector<uint8_t> data((size_t)(size > 0 ? size : 0));
    if (size <= 0 || encode_preload_tag_data(tags.data(), (int32_t)tags.size(), bitmaps.data(), (int32_t)bitmaps.size(),
                                             data.data(), size) != size)
        return tool_refuse_line(arguments.source, 0, "the preload list cannot be laid out");
    preload_list *check = (preload_list *)malloc(sizeof(preload_list));
    const char *refusal = check ? read_preload_tag_data(data.data(), size, check) : "memory";
    free(check);
    if (refusal)
    {
        const std::string reason = std::string("the game would refuse the preload list: ") + refusal;
        return tool_refuse_line(arguments.source, 0, reason.c_str());
    }
    return tool_write_local_tag_file(arguments.out, PRELOAD_DEFINITION_GROUP_TAG, arguments.subgroup,
                                     PRELOAD_DEFINITION_VERSION, 0, arguments.name, data.data(), size)
               ? 0
               : 1;
}

int interface_tags_command(int argc, char **argv)
{
    command_arguments arguments;
    if (!map_data_parse_arguments(argc, argv, INTERFACE_DEFINITION_GROUP_TAG, &arguments)) return map_data_usage("interface", "inte");
    if (!tag_name_is_valid(arguments.name)) return tool_refuse(arguments.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!map_data_read_source(arguments.source, &lines)) return 1;

    // The stored record: the default's tags, the unused words and the
    // run-time tail zero.
    interface_definition d;
    memset(&d, 0, sizeof(d));
    const interface_definition *defaults = get_default_interface_definition();
    d.collection_tag = defaults->collection_tag;
    memcpy(d.font_tags, defaults->font_tags, sizeof(d.font_tags));
    for (const source_line &line : lines)
    {
        const std::string &key = line.words[0];
        int64_t index = 0;
        bool ok = false;
        if (key == "collection" && line.words.size() == 2)
            ok = tool_parse_code(line.words[1].c_str(), false, &d.collection_tag);
        else if (key == "font" && line.words.size() == 3)
            ok = tool_parse_number(line.words[1].c_str(), 0, MAXIMUM_INTERFACE_FONT_TAGS - 1, &index) &&
                 tool_parse_code(line.words[2].c_str(), true, &d.font_tags[index]);
        if (!ok) return tool_refuse_line(arguments.source, line.number, "not understood or out of range");
    }
    if (d.collection_tag == (tag)NONE)
        return tool_refuse_line(arguments.source, 0, "the game would refuse the interface: no collection");
    for (int32_t i = 0; i < 3; ++i)
        if (d.font_tags[i] == (tag)NONE)
            return tool_refuse_line(arguments.source, 0, "the game would refuse the interface: fonts 0-2 are required");

    byte_swap_data("interface_definition", &d, sizeof(d), 1, interface_definition_byte_swapping_data);
    return tool_write_local_tag_file(arguments.out, INTERFACE_DEFINITION_GROUP_TAG, arguments.subgroup,
                                     INTERFACE_DEFINITION_VERSION_NUMBER, 0, arguments.name, &d, sizeof(d))
               ? 0
               : 1;
}
