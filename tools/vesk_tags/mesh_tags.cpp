// The data tool's "mesh" command.  See mesh_tags.h.

#include "mesh_tags.h"
#include "map_action_source.h"
#include "tool_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "tag_files/tag_file_formats.h"

namespace {

// Bytes of source: a 1024 x 1024 map with every grid written out needs about 10 MB.
const size_t MAXIMUM_MESH_SOURCE_SIZE = 16 * MEG;

struct mesh_source
{
    mesh_builder_input input;
    std::vector<mesh_cell> cells;
    std::vector<mesh_marker_palette_entry> palette;
    std::vector<mesh_marker> markers;
    std::vector<map_action_source_action> actions;
    std::vector<uint8_t> map_action_block; // as stored
    int32_t width = 0, height = 0;
};

struct source_reader
{
    const char *path;
    std::vector<std::string> lines;
    size_t next = 0;
};

bool refuse_line(const source_reader *reader, size_t line, const char *reason)
{
    tool_refuse_line(reader->path, line, reason);
    return false;
}

std::vector<std::string> mesh_split_words(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') i++;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool parse_integer(const std::string &word, int64_t low, int64_t high, int64_t *value)
{
    return tool_parse_number(word.c_str(), low, high, value);
}

// A plain decimal number (digits, one optional point, no sign or exponent)
// within [low, high].
bool parse_real(const std::string &word, double low, double high, double *value)
{
    if (word.empty() || word.size() > 16 || word.find_first_not_of("0123456789.") != std::string::npos ||
        word.find('.') != word.rfind('.') || word == ".")
        return false;
    *value = strtod(word.c_str(), nullptr);
    return *value >= low && *value <= high;
}

bool parse_code(const std::string &word, tag *code)
{
    return tool_parse_code(word.c_str(), true, code);
}

tag *header_tag_field(mesh_header *header, const std::string &field)
{
    static const struct
    {
        const char *name;
        size_t offset;
    } fields[] = {
        {"landscape", offsetof(mesh_header, landscape_collection_tag)},
        {"overhead", offsetof(mesh_header, overhead_map_collection_tag)},
        {"interface", offsetof(mesh_header, interface_tag)},
        {"observer", offsetof(mesh_header, observer_physics_constants_tag)},
        {"media", offsetof(mesh_header, media_tag)},
        {"description", offsetof(mesh_header, map_description_string_list_tag)},
        {"pregame", offsetof(mesh_header, pregame_collection_tag)},
        {"postgame", offsetof(mesh_header, postgame_collection_tag)},
        {"hints", offsetof(mesh_header, hints_string_list_tag)},
        {"ambient", offsetof(mesh_header, global_ambient_sound_tag)},
        {"preload", offsetof(mesh_header, preload_tag)},
        {"blood", offsetof(mesh_header, blood_collection_tag)},
        {"narration", offsetof(mesh_header, narration_sound_tag)},
        {"next", offsetof(mesh_header, next_mesh_tags[0])},
        {"next_after_failure", offsetof(mesh_header, next_mesh_tags[1])},
        {"story", offsetof(mesh_header, storyline_string_tags[0])},
        {"story_after_success", offsetof(mesh_header, storyline_string_tags[1])},
        {"story_after_failure", offsetof(mesh_header, storyline_string_tags[2])},
        {"captions", offsetof(mesh_header, picture_caption_string_list_tag)},
        {"win_ambient", offsetof(mesh_header, win_ambient_sound_tag)},
        {"loss_ambient", offsetof(mesh_header, loss_ambient_sound_tag)},
    };
    for (const auto &f : fields)
        if (field == f.name) return (tag *)((uint8_t *)header + f.offset);
    return nullptr;
}

// Reads the `height` lines of a grid statement into `rows`.
bool read_grid(source_reader *reader, size_t statement_line, int32_t width, int32_t height, bool numbers,
               std::vector<std::vector<std::string>> *rows)
{
    rows->clear();
    while ((int32_t)rows->size() < height)
    {
        if (reader->next >= reader->lines.size()) return refuse_line(reader, statement_line, "the grid ends early");
        const size_t line = ++reader->next;
        const std::string &text = reader->lines[line - 1];
        std::vector<std::string> cells;
        if (numbers)
            cells = mesh_split_words(text);
        else
            for (char c : text) cells.push_back(std::string(1, c));
        while (!numbers && !cells.empty() && (cells.back() == "\r" || cells.back() == " ")) cells.pop_back();
        if ((int32_t)cells.size() != width) return refuse_line(reader, line, "a grid row needs one entry per cell");
        rows->push_back(cells);
    }
    return true;
}

// lighting DARK R G B TRANSITION LIGHT R G B: the map's light and dark.
static bool parse_lighting_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                     mesh_source *source)
{
    mesh_header *header = &source->input.header;
    int64_t v[9];
    static const int64_t high[9] = {256, 65535, 65535, 65535, 65536, 256, 65535, 65535, 65535};
    bool ok = words.size() == 10;
    for (int i = 0; ok && i < 9; i++) ok = parse_integer(words[1 + i], 0, high[i], &v[i]);
    if (!ok) return refuse_line(reader, line, "lighting needs a fraction, a colour, a transition, a fraction and a colour");
    header->dark_fraction = (short_fixed)v[0];
    header->dark_color = rgb_color{(uint16_t)v[1], (uint16_t)v[2], (uint16_t)v[3], 0};
    header->transition_point = (fixed)v[4];
    header->light_fraction = (short_fixed)v[5];
    header->light_color = rgb_color{(uint16_t)v[6], (uint16_t)v[7], (uint16_t)v[8], 0};
    return true;
}

// cutscene opening|win|loss NAME: a movie under "cutscenes" (no spaces).
static bool parse_cutscene_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                     mesh_source *source)
{
    mesh_header *header = &source->input.header;
    static const char *const which[NUMBER_OF_CUTSCENES] = {"opening", "win", "loss"};
    int32_t index = NONE;
    for (int32_t i = 0; i < NUMBER_OF_CUTSCENES; ++i)
        if (words.size() == 3 && words[1] == which[i]) index = i;
    if (index == NONE || words[2].size() >= MAXIMUM_CUTSCENE_NAME_SIZE ||
        words[2].find('/') != std::string::npos)
        return refuse_line(reader, line, "cutscene needs opening, win or loss and a name of at most 63 characters without '/'");
    memset(header->cutscene_names[index], 0, MAXIMUM_CUTSCENE_NAME_SIZE);
    memcpy(header->cutscene_names[index], words[2].data(), words[2].size());
    return true;
}

// reverb ENV VOLUME DECAY DAMPING: the map's echo.
static bool parse_reverb_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                   mesh_source *source)
{
    mesh_header *header = &source->input.header;
    int64_t a;
    double volume, decay, damping;
    if (words.size() != 5 || !(words[1] == "none" || parse_integer(words[1], 0, 25, &a)) ||
        !parse_real(words[2], 0, 1, &volume) || !parse_real(words[3], 0.1, 20, &decay) ||
        !parse_real(words[4], 0.1, 2, &damping))
        return refuse_line(reader, line, "reverb needs ENV (0-25 or none), VOLUME 0-1, DECAY 0.1-20, DAMPING 0.1-2");
    header->reverb_environment = words[1] == "none" ? NONE : (int32_t)a;
    header->reverb_volume = (real)volume;
    header->reverb_decay_time = (real)decay;
    header->reverb_damping = (real)damping;
    return true;
}

// heights, terrain or media LEVEL, followed by one row of the grid per row of
// cells.
static bool parse_grid_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                 mesh_source *source, const std::string &verb,
                                 std::vector<std::vector<std::string>> *grid_rows)
{
    int64_t a;
    std::vector<std::vector<std::string>> &grid = *grid_rows;
    const bool numbers = verb == "heights";
    int64_t level = 0;
    if (verb == "media" && !parse_integer(words[1], INT16_MIN, INT16_MAX, &level))
        return refuse_line(reader, line, "media needs a level");
    if (!read_grid(reader, line, source->width, source->height, numbers, &grid)) return false;
    for (int32_t y = 0; y < source->height; y++)
    {
        for (int32_t x = 0; x < source->width; x++)
        {
            mesh_cell *cell = &source->cells[x + y * source->width];
            const std::string &entry = grid[y][x];
            const size_t row_line = line + 1 + y;
            if (verb == "heights")
            {
                if (!parse_integer(entry, INT16_MIN, INT16_MAX, &a)) return refuse_line(reader, row_line, "bad height");
                cell->height = (int16_t)a;
            }
            else if (verb == "terrain")
            {
                const char *digits = "0123456789abcdef";
                const char *at = strchr(digits, entry[0]);
                if (at == nullptr || entry[0] == 0) return refuse_line(reader, row_line, "terrain types are 0-9, a-f");
                const uint16_t type = (uint16_t)(at - digits);
                cell->flags = (uint16_t)((cell->flags & ~0xFF) | type | (type << 4));
            }
            else
            {
                uint16_t media = 0;
                switch (entry[0])
                {
                case '.': break;
                case '~': media = _mesh_cell_carries_media_flags; break;
                case '/': media = _mesh_cell_triangle0_is_media_flag; break;
                case '\\': media = _mesh_cell_triangle1_is_media_flag; break;
                default: return refuse_line(reader, row_line, "media cells are . ~ / or \\");
                }
                if (media)
                {
                    cell->flags |= media;
                    cell->media_height = (int16_t)level;
                }
            }
        }
    }
    return true;
}

// palette TYPE TEAM CODE [FLAGS]: an entry of the marker palette.
static bool parse_palette_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                    mesh_source *source)
{
    int64_t a, b;
    tag code;
    int64_t flags = 0;
    if ((words.size() != 4 && words.size() != 5) || !parse_integer(words[1], 0, NUMBER_OF_MARKER_TYPES - 1, &a) ||
        !parse_integer(words[2], -1, MAXIMUM_TEAMS_PER_MAP - 1, &b) || !parse_code(words[3], &code) ||
        (words.size() == 5 && !parse_integer(words[4], 0, UINT32_MAX, &flags)))
        return refuse_line(reader, line, "palette needs TYPE TEAM CODE [FLAGS]");
    source->palette.push_back(mesh_marker_palette_entry{(int16_t)a, (int16_t)b, (uint32_t)flags, code, NONE, 0});
    return true;
}

// marker TYPE PALETTE IDENTIFIER X Y Z YAW [FLAGS], on the map.
static bool parse_marker_statement(source_reader *reader, size_t line, const std::vector<std::string> &words,
                                   mesh_source *source)
{
    int64_t a, b, c, d, e, f, g;
    const int32_t right = source->width * WORLD_ONE - 1, bottom = source->height * WORLD_ONE - 1;
    int64_t flags = 0, difficulty = 0;
    if ((words.size() < 8 || words.size() > 10) || !parse_integer(words[1], 0, NUMBER_OF_MARKER_TYPES - 1, &a) ||
        !parse_integer(words[2], -1, MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP, &b) ||
        !parse_integer(words[3], INT16_MIN, INT16_MAX, &c) || !parse_integer(words[4], 0, right, &d) ||
        !parse_integer(words[5], 0, bottom, &e) || !parse_integer(words[6], INT32_MIN, INT32_MAX, &f) ||
        !parse_integer(words[7], 0, 65535, &g) ||
        (words.size() >= 9 && !parse_integer(words[8], 0, UINT32_MAX, &flags)) ||
        (words.size() == 10 && !parse_integer(words[9], 0, NUMBER_OF_DIFFICULTY_LEVELS - 1, &difficulty)))
        return refuse_line(reader, line, "marker needs TYPE PALETTE IDENTIFIER X Y Z YAW [FLAGS [DIFFICULTY]] on the map");
    mesh_marker marker = {(int16_t)a, (int16_t)b, (int16_t)c, (int16_t)difficulty, (uint32_t)flags,
                          {(int32_t)d, (int32_t)e, (int32_t)f}, (angle)g, 0, NONE, 0};
    source->markers.push_back(marker);
    return true;
}

bool parse_source(source_reader *reader, mesh_source *source)
{
    mesh_header *header = &source->input.header;
    header->reverb_environment = NONE;
    for (tag *t = &header->landscape_collection_tag; t <= &header->blood_collection_tag; t++) *t = NONE;
    std::vector<std::vector<std::string>> grid;
    while (reader->next < reader->lines.size())
    {
        const size_t line = ++reader->next;
        std::string text = reader->lines[line - 1];
        size_t hash = text.find('#');
        if (hash != std::string::npos) text.resize(hash);
        std::vector<std::string> words = mesh_split_words(text);
        if (words.empty()) continue;
        const std::string &verb = words[0];
        int64_t a, b;
        if (verb != "size" && source->width == 0) return refuse_line(reader, line, "the first statement must be size");
        if (verb == "size")
        {
            if (words.size() != 3 || !parse_integer(words[1], MINIMUM_MESH_SIZE, MAXIMUM_MESH_SIZE, &a) ||
                !parse_integer(words[2], MINIMUM_MESH_SIZE, MAXIMUM_MESH_SIZE, &b) || (a & 1) || (b & 1) ||
                source->width != 0)
                return refuse_line(reader, line, "size needs two even sizes from 2 to 1024, once");
            source->width = (int32_t)a, source->height = (int32_t)b;
            header->mesh_width = (int16_t)a, header->mesh_height = (int16_t)b;
            source->cells.assign((size_t)(a * b), mesh_cell{0, 0, 0, NONE, NONE, 0});
        }
        else if (verb == "name")
        {
            std::string name = text.substr(text.find("name") + 4);
            while (!name.empty() && (name[0] == ' ' || name[0] == '\t')) name.erase(0, 1);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
            if (name.empty() || name.size() >= sizeof(header->printed_name))
                return refuse_line(reader, line, "name needs 1 to 63 characters");
            strlcpy(header->printed_name, name.c_str(), sizeof(header->printed_name));
        }
        else if (verb == "teams" || verb == "level" || verb == "priority")
        {
            const int64_t high = verb == "teams" ? MAXIMUM_TEAMS_PER_MAP : INT16_MAX;
            if (words.size() != 2 || !parse_integer(words[1], 0, high, &a)) return refuse_line(reader, line, "bad number");
            (verb == "teams" ? header->team_count : verb == "level" ? header->level : header->priority) = (int16_t)a;
        }
        else if (verb == "flags" || verb == "extra_flags")
        {
            if (words.size() != 2 || !parse_integer(words[1], 0, UINT32_MAX, &a)) return refuse_line(reader, line, "bad flags");
            (verb == "flags" ? header->flags : header->extra_flags) = (uint32_t)a;
        }
        else if (verb == "zones")
        {
            if (words.size() != 5) return refuse_line(reader, line, "zones needs four widths");
            for (int i = 0; i < 4; i++)
            {
                const int32_t across = (i & 1) ? source->height : source->width;
                if (!parse_integer(words[1 + i], 0, across / 2, &a)) return refuse_line(reader, line, "bad zone width");
                header->edge_of_mesh_buffer_zones[i] = (int16_t)a;
            }
        }
        else if (verb == "lighting")
        {
            if (!parse_lighting_statement(reader, line, words, source)) return false;
        }
        else if (verb == "tag")
        {
            tag *field = words.size() == 3 ? header_tag_field(header, words[1]) : nullptr;
            if (field == nullptr || !parse_code(words[2], field)) return refuse_line(reader, line, "tag needs a field and a code");
        }
        else if (verb == "cutscene")
        {
            if (!parse_cutscene_statement(reader, line, words, source)) return false;
        }
        else if (verb == "reverb")
        {
            if (!parse_reverb_statement(reader, line, words, source)) return false;
        }
        else if (verb == "heights" || verb == "terrain" || (verb == "media" && words.size() == 2))
        {
            if (!parse_grid_statement(reader, line, words, source, verb, &grid)) return false;
        }
        else if (verb == "palette")
        {
            if (!parse_palette_statement(reader, line, words, source)) return false;
        }
        else if (verb == "marker")
        {
            if (!parse_marker_statement(reader, line, words, source)) return false;
        }
        else if (verb == "action")
        {
            map_action_source_action action;
            const char *reason = nullptr;
            if (!parse_map_action_statement(words, &action, &reason)) return refuse_line(reader, line, reason);
            source->actions.push_back(action);
        }
        else if (verb == "parameter")
        {
            map_action_source_parameter parameter;
            const char *reason = nullptr;
            if (source->actions.empty()) return refuse_line(reader, line, "a parameter needs an action before it");
            if (!parse_map_action_parameter_statement(words, text, &parameter, &reason))
                return refuse_line(reader, line, reason);
            source->actions.back().parameters.push_back(parameter);
        }
        else
        {
            return refuse_line(reader, line, "unknown statement");
        }
    }
    if (source->width == 0) return refuse_line(reader, reader->lines.size(), "no size statement");
    const char *reason = nullptr;
    if (!build_map_action_block(source->actions, &source->map_action_block, &reason))
        return refuse_line(reader, reader->lines.size(), reason);
    return true;
}

int mesh_usage(void)
{
    fprintf(stderr, "usage: vesk_tags mesh OUT --subgroup S --name N SOURCE\n");
    return 2;
}

} // namespace

uint8_t *mesh_source_to_tag_data(const char *source_path, int32_t *size)
{
    source_reader reader;
    reader.path = source_path;
    std::string text, reason;
    if (!tool_read_file(source_path, MAXIMUM_MESH_SOURCE_SIZE, &text, &reason))
    {
        tool_refuse(source_path, reason.c_str());
        return nullptr;
    }
    tool_split_lines(text, &reader.lines);

    mesh_source source;
    memset(&source.input, 0, sizeof(source.input));
    if (!parse_source(&reader, &source)) return nullptr;
    source.input.cells = source.cells.data();
    source.input.palette = source.palette.data();
    source.input.palette_count = (int32_t)source.palette.size();
    source.input.markers = source.markers.data();
    source.input.marker_count = (int32_t)source.markers.size();
    source.input.map_actions = source.map_action_block.data();
    source.input.map_action_count = (int32_t)source.actions.size();
    source.input.map_action_size = (int32_t)source.map_action_block.size();

    uint8_t *data = build_mesh_tag_data(&source.input, size);
    // The game's own loader must take what the tool writes.
    if (data == nullptr || !load_mesh_from_memory(data, *size))
    {
        free(data);
        tool_refuse(source_path, "the map does not make a sound mesh tag");
        return nullptr;
    }
    return data;
}

int mesh_tags_command(int argc, char **argv)
{
    if (argc < 3) return mesh_usage();
    const char *output_path = argv[2], *subgroup_text = nullptr, *name = nullptr, *source_path = nullptr;
    for (int i = 3; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--subgroup") == 0 && has_value) subgroup_text = argv[++i];
        else if (strcmp(argv[i], "--name") == 0 && has_value) name = argv[++i];
        else if (!source_path) source_path = argv[i];
        else return mesh_usage();
    }
    tag subgroup;
    if (!subgroup_text || !name || !source_path || !parse_code(subgroup_text, &subgroup) || subgroup == NONE)
        return mesh_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");

    int32_t size = 0;
    uint8_t *data = mesh_source_to_tag_data(source_path, &size);
    if (!data) return 1;
    dispose_mesh_from_old_map();
    const bool written =
        tool_write_local_tag_file(output_path, MESH_GROUP_TAG, subgroup, MESH_TAG_VERSION, 0, name, data, size);
    free(data);
    if (!written) return 1;
    return 0;
}
