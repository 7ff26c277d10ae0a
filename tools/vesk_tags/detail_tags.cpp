// The data tool's "detail-texture" and "detail-map" commands.  See detail_tags.h.

#include "detail_tags.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/tags.h"
#include "detail_maps.h"
#include "detail_textures.h"
#include "mesh.h"
#include "mesh_tags.h"
#include "tag_files/tag_file_formats.h"
#include "tool_support.h"

namespace {

const size_t MAXIMUM_DETAIL_SOURCE_SIZE = 1 << 20;

int detail_usage(void)
{
    fprintf(stderr, "usage: vesk_tags detail-texture OUT --subgroup S --name N SOURCE\n"
                    "       vesk_tags detail-map OUT --subgroup S --name N --map MAP-SOURCE SOURCE\n");
    return 2;
}

bool detail_numbers(const source_line &line, size_t first, size_t count, int64_t minimum, int64_t maximum,
             int64_t *values)
{
    if (line.words.size() < first + count) return false;
    for (size_t i = 0; i < count; ++i)
        if (!tool_parse_number(line.words[first + i].c_str(), minimum, maximum, &values[i])) return false;
    return true;
}

struct arguments
{
    const char *out = nullptr, *name = nullptr, *source = nullptr, *map = nullptr;
    tag subgroup = NONE;
};

bool detail_parse_arguments(int argc, char **argv, bool with_map, arguments *a)
{
    a->out = argc > 2 ? argv[2] : nullptr;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &a->subgroup)) return false;
        }
        else if (option == "--name" && i + 1 < argc) a->name = argv[++i];
        else if (with_map && option == "--map" && i + 1 < argc) a->map = argv[++i];
        else if (!a->source && option[0] != '-') a->source = argv[i];
        else return false;
    }
    return a->out && a->name && a->source && a->subgroup != (tag)NONE && (!with_map || a->map);
}

// A fixed noise value 0..255 of (x, y, seed): the same source always makes
// the same bytes.
uint32_t noise(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (h ^ (h >> 16)) & 255;
}

// The brightness change (-128..127) of pixel (x, y) in `pattern`; the
// patterns tile, since the textures repeat over the terrain.
int32_t pattern_value(const std::string &pattern, int32_t x, int32_t y, int32_t width, int32_t height,
                      uint32_t seed)
{
    const int32_t n = (int32_t)noise((uint32_t)x, (uint32_t)y, seed) - 128;
    if (pattern == "flat") return 0;
    if (pattern == "noise") return n / 4;
    if (pattern == "blades")
    {
        // Thin vertical strokes of varying length and brightness.
        const int32_t column = (int32_t)noise((uint32_t)x, 0, seed);
        const int32_t start = column % height, length = 2 + column % 5;
        const int32_t along = (y - start + height) % height;
        return (along < length ? (column & 1 ? 40 : -40) : 0) + n / 10;
    }
    if (pattern == "cracks")
    {
        // Dark lines along the edges of a coarse cell grid jittered by the
        // seed (a cell size dividing the texture's keeps the tiling seamless).
        const int32_t cell = 8 + (int32_t)(seed % 5);
        const int32_t jitter = (int32_t)noise((uint32_t)(x / cell), (uint32_t)(y / cell), seed) % 3;
        const bool edge = (x + jitter) % cell == 0 || (y + jitter) % cell == 0;
        return (edge ? -60 : 0) + n / 8;
    }
    if (pattern == "pebbles")
    {
        // Light round spots on an 8-pixel grid, each shifted by the noise.
        const int32_t gx = x / 8, gy = y / 8;
        const int32_t cx = gx * 8 + 2 + (int32_t)noise((uint32_t)gx, (uint32_t)gy, seed) % 4;
        const int32_t cy = gy * 8 + 2 + (int32_t)noise((uint32_t)gy, (uint32_t)gx, seed + 1) % 4;
        const int32_t dx = x - cx, dy = y - cy;
        return (dx * dx + dy * dy <= 3 ? 50 : -10) + n / 12;
    }
    (void)width;
    return 0;
}

} // namespace

int detail_texture_tags_command(int argc, char **argv)
{
    arguments a;
    if (!detail_parse_arguments(argc, argv, false, &a)) return detail_usage();
    if (!tag_name_is_valid(a.name)) return tool_refuse(a.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!tool_read_source(a.source, MAXIMUM_DETAIL_SOURCE_SIZE, &lines)) return 1;
    int64_t size[2] = {0, 0}, color[3] = {128, 128, 128}, seed = 0;
    std::string pattern = "flat";
    for (const source_line &line : lines)
    {
        const std::string &word = line.words[0];
        bool ok;
        if (word == "size") ok = line.words.size() == 3 && detail_numbers(line, 1, 2, 1, 4095, size);
        else if (word == "color") ok = line.words.size() == 4 && detail_numbers(line, 1, 3, 0, 255, color);
        else if (word == "seed") ok = line.words.size() == 2 && detail_numbers(line, 1, 1, 0, 0x7FFFFFFF, &seed);
        else if (word == "pattern")
        {
            ok = line.words.size() == 2;
            if (ok) pattern = line.words[1];
            ok = ok && (pattern == "flat" || pattern == "noise" || pattern == "blades" || pattern == "cracks" ||
                        pattern == "pebbles");
        }
        else ok = false;
        if (!ok) return tool_refuse_line(a.source, line.number, "not a statement of a detail texture");
        if (size[0] == 0 && word != "size") return tool_refuse_line(a.source, line.number, "size must come first");
    }
    if (size[0] == 0) return tool_refuse(a.source, "no size");
    const int32_t width = (int32_t)size[0], height = (int32_t)size[1];
    std::vector<uint8_t> pixels((size_t)width * height * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            const int32_t change = pattern_value(pattern, x, y, width, height, (uint32_t)seed);
            for (int32_t c = 0; c < 3; ++c)
            {
                int32_t v = (int32_t)color[c] + change;
                pixels[((size_t)y * width + x) * 3 + (size_t)c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    int32_t data_size;
    uint8_t *data = build_detail_texture_tag_data(pixels.data(), width, height, &data_size);
    if (!data) return tool_refuse(a.source, "the image codec refused the picture");
    const bool written = tool_write_local_tag_file(a.out, DETAIL_TEXTURE_GROUP_TAG, a.subgroup,
                                                   DETAIL_TEXTURE_VERSION, 0, a.name, data, data_size);
    free(data);
    return written ? 0 : 1;
}

int detail_map_tags_command(int argc, char **argv)
{
    arguments a;
    if (!detail_parse_arguments(argc, argv, true, &a)) return detail_usage();
    if (!tag_name_is_valid(a.name)) return tool_refuse(a.name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!tool_read_source(a.source, MAXIMUM_DETAIL_SOURCE_SIZE, &lines)) return 1;

    detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP];
    memset(entries, 0, sizeof(entries));
    for (detail_map_entry &e : entries) e.dtex_id = (tag)NONE;
    int32_t terrain_entries[16] = {0};
    struct override_cell
    {
        int64_t x, y, triangle, entry;
        size_t line;
    };
    std::vector<override_cell> overrides;
    for (const source_line &line : lines)
    {
        const std::string &word = line.words[0];
        int64_t v[4];
        bool ok = false;
        if (word == "entry" && line.words.size() >= 7 && detail_numbers(line, 1, 1, 1, MAX_DTEX_TAGS_PER_DMAP - 1, v))
        {
            detail_map_entry &e = entries[v[0]];
            int64_t rgb[4];
            ok = tool_parse_code(line.words[2].c_str(), false, &e.dtex_id) && detail_numbers(line, 3, 4, 0, 255, rgb);
            if (ok)
            {
                e.pixels_per_cell = (uint8_t)rgb[0], e.r = (uint8_t)rgb[1], e.g = (uint8_t)rgb[2],
                e.b = (uint8_t)rgb[3];
                std::string name;
                for (size_t i = 7; i < line.words.size(); ++i) name += (i > 7 ? " " : "") + line.words[i];
                strncpy(e.name, name.c_str(), sizeof(e.name) - 1);
            }
        }
        else if (word == "terrain" && line.words.size() == 3 && detail_numbers(line, 1, 1, 0, 15, v) &&
                 detail_numbers(line, 2, 1, 0, MAX_DTEX_TAGS_PER_DMAP - 1, v + 1))
        {
            terrain_entries[v[0]] = (int32_t)v[1];
            ok = true;
        }
        else if (word == "override" && line.words.size() == 5 && detail_numbers(line, 1, 2, 0, 4095, v) &&
                 detail_numbers(line, 3, 1, 0, 1, v + 2) && detail_numbers(line, 4, 1, 1, MAX_DTEX_TAGS_PER_DMAP - 1, v + 3))
        {
            overrides.push_back({v[0], v[1], v[2], v[3], line.number});
            ok = true;
        }
        if (!ok) return tool_refuse_line(a.source, line.number, "not a statement of a detail map");
    }

    int32_t mesh_size = 0;
    uint8_t *mesh = mesh_source_to_tag_data(a.map, &mesh_size);
    if (!mesh) return 1;
    const int32_t width = mesh_width, height = mesh_height;
    std::vector<uint8_t> v_indices((size_t)width * height), t_indices((size_t)width * height * 2, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            // The triangle at the vertex's own corner of its cell.
            const world_point2d corner = {(world_distance)(x * WORLD_ONE + 1), (world_distance)(y * WORLD_ONE + 1)};
            v_indices[(size_t)y * width + x] = (uint8_t)terrain_entries[get_mesh_terrain_type(&corner)];
        }
    dispose_mesh_from_old_map();
    free(mesh);
    for (const override_cell &o : overrides)
    {
        if (o.x >= width || o.y >= height) return tool_refuse_line(a.source, o.line, "the cell lies outside the map");
        t_indices[((size_t)o.y * width + (size_t)o.x) * 2 + (size_t)o.triangle] = (uint8_t)o.entry;
    }
    int32_t data_size;
    uint8_t *data = build_detail_map_tag_data(width, height, entries, v_indices.data(), t_indices.data(), &data_size);
    if (!data) return tool_refuse(a.map, "the map is too large for a detail map");
    const bool written = tool_write_local_tag_file(a.out, DETAIL_MAP_GROUP_TAG, a.subgroup, DETAIL_MAP_VERSION, 0,
                                                   a.name, data, data_size);
    free(data);
    return written ? 0 : 1;
}
