// The data tool's "landscape" command.  See landscape_tags.h.

#include "landscape_tags.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "collection_builder.h"
#include "mesh.h"
#include "mesh_tags.h"
#include "render/render_tables.h"
#include "tool_support.h"

namespace {

const int32_t SUBMESH_TEXELS = 256;
const int32_t SHADES_PER_TERRAIN = 16;

// The base colour of each of the 16 terrain types (red, green, blue 0-255).
const uint8_t terrain_colors[16][3] = {
    {86, 128, 52}, // 0 grass
    {128, 140, 70}, // 1 dry grass
    {120, 96, 64}, // 2 dirt
    {128, 124, 118}, // 3 rock
    {196, 180, 130}, // 4 sand
    {230, 232, 236}, // 5 snow
    {60, 60, 56}, // 6 left unfilled
    {96, 72, 48}, // 7 mud
    {52, 90, 40}, // 8 forest floor
    {80, 110, 96}, // 9 marsh
    {110, 84, 70}, // 10 clay
    {150, 150, 140}, // 11 gravel
    {70, 100, 60}, // 12 moss
    {160, 120, 80}, // 13 path
    {90, 86, 84}, // 14 rubble
    {40, 40, 40}, // 15 ash
};

// Colour (type, shade): shade 0 is 0.55 of the base, shade 15 is 1.15.
rgb_color terrain_color(int32_t type, int32_t shade)
{
    const int32_t scale = 55 + shade * 4; // percent
    uint16_t c[3];
    for (int i = 0; i < 3; ++i)
    {
        int32_t v = terrain_colors[type][i] * scale / 100;
        if (v > 255) v = 255;
        c[i] = (uint16_t)(v * 257);
    }
    return {c[0], c[1], c[2], 0};
}

// A fixed noise value 0..255 of a texel (no random generator: the same map
// always makes the same bytes).
uint32_t texel_noise(uint32_t x, uint32_t y)
{
    uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (h ^ (h >> 16)) & 255;
}

// Smooth noise: the texel noise of a coarse grid, interpolated.
int32_t smooth_noise(int32_t x, int32_t y, int32_t step)
{
    const int32_t gx = x / step, gy = y / step, fx = x % step, fy = y % step;
    const int32_t a = (int32_t)texel_noise(gx, gy), b = (int32_t)texel_noise(gx + 1, gy);
    const int32_t c = (int32_t)texel_noise(gx, gy + 1), d = (int32_t)texel_noise(gx + 1, gy + 1);
    const int32_t top = a + (b - a) * fx / step, bottom = c + (d - c) * fx / step;
    return top + (bottom - top) * fy / step;
}

struct landscape
{
    int32_t width, height; // texels of the whole map
    std::vector<uint8_t> color, shadow;
};

// Builds both maps of the loaded mesh.
landscape build_landscape(void)
{
    landscape land;
    land.width = submesh_width * SUBMESH_TEXELS;
    land.height = submesh_height * SUBMESH_TEXELS;
    land.color.assign((size_t)land.width * land.height, 0);
    land.shadow.assign((size_t)land.width * land.height, 0);
    // The sun in the south-east (as the overhead map shows it), 45 degrees up: light = ambient + the slope
    // facing it.  A texel is 64 world units.
    for (int32_t y = 0; y < land.height; ++y)
        for (int32_t x = 0; x < land.width; ++x)
        {
            const world_point2d point = {(world_distance)(x * 64 + 32), (world_distance)(y * 64 + 32)};
            const size_t at = (size_t)y * land.width + x;
            const int32_t type = get_mesh_terrain_type(&point);
            int32_t shade = 8 + (smooth_noise(x, y, 16) - 128) / 40 + ((int32_t)texel_noise(x, y) - 128) / 96;
            if (shade < 0) shade = 0;
            if (shade > SHADES_PER_TERRAIN - 1) shade = SHADES_PER_TERRAIN - 1;
            land.color[at] = (uint8_t)(type * SHADES_PER_TERRAIN + shade);
            // Height differences over one cell toward the sun (east and south: x grows
            // westward and y southward).
            const world_point2d east = {(world_distance)(point.x - 256), point.y};
            const world_point2d west = {(world_distance)(point.x + 256), point.y};
            const world_point2d north = {point.x, (world_distance)(point.y - 256)};
            const world_point2d south = {point.x, (world_distance)(point.y + 256)};
            auto height = [](const world_point2d &p) {
                const world_distance h = get_mesh_height(&p, _mesh_ground_height);
                return h == MESH_NO_HEIGHT ? 0 : h;
            };
            const int32_t dx = height(west) - height(east), dy = height(south) - height(north);
            // Facing the sun (down toward the east and the south) is lit.
            int32_t light = 190 + (-dx + dy) * 2 / 3;
            if (light < 40) light = 40;
            if (light > 255) light = 255;
            land.shadow[at] = (uint8_t)light;
        }
    return land;
}

builder_collection landscape_collection(const landscape &land)
{
    builder_collection collection;
    collection.user_data_flags = _collection_used_for_textures_flag | _collection_is_color_map_flag;
    collection.colors.color_count = 256;
    for (int32_t type = 0; type < 16; ++type)
        for (int32_t shade = 0; shade < SHADES_PER_TERRAIN; ++shade)
            collection.colors.colors[type * SHADES_PER_TERRAIN + shade] = terrain_color(type, shade);
    const int32_t across = land.width / SUBMESH_TEXELS, down = land.height / SUBMESH_TEXELS;
    for (int32_t s = 0; s < across * down; ++s)
    {
        const int32_t left = (s % across) * SUBMESH_TEXELS, top = (s / across) * SUBMESH_TEXELS;
        builder_bitmap color = new_builder_bitmap("color " + std::to_string(s), SUBMESH_TEXELS, SUBMESH_TEXELS,
                                                  _builder_flat_8bit, 0);
        builder_bitmap shadow = new_builder_bitmap("shadow " + std::to_string(s), SUBMESH_TEXELS, SUBMESH_TEXELS,
                                                   _builder_flat_8bit, 0);
        for (int32_t y = 0; y < SUBMESH_TEXELS; ++y)
            for (int32_t x = 0; x < SUBMESH_TEXELS; ++x)
            {
                const size_t at = (size_t)(top + y) * land.width + left + x;
                color.pixels[(size_t)y * SUBMESH_TEXELS + x] = land.color[at];
                shadow.pixels[(size_t)y * SUBMESH_TEXELS + x] = land.shadow[at];
            }
        collection.bitmaps.push_back(color);
        collection.bitmaps.push_back(shadow);
    }
    collection.blend_table.assign(256 * 256, 0);
    build_blend_table(&collection.colors, collection.blend_table.data());
    return collection;
}

// The terrain as drawn: each colour darkened by its shadow.
bool write_picture(const char *path, const landscape &land, const color_table &colors)
{
    std::vector<uint8_t> rgb((size_t)land.width * land.height * 3);
    for (size_t i = 0; i < land.color.size(); ++i)
    {
        const rgb_color &c = colors.colors[land.color[i]];
        const uint32_t light = land.shadow[i];
        rgb[3 * i] = (uint8_t)((c.red >> 8) * light / 255);
        rgb[3 * i + 1] = (uint8_t)((c.green >> 8) * light / 255);
        rgb[3 * i + 2] = (uint8_t)((c.blue >> 8) * light / 255);
    }
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)land.width;
    image.height = (png_uint_32)land.height;
    image.format = PNG_FORMAT_RGB;
    const bool written = png_image_write_to_file(&image, path, 0, rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return written;
}

// The overhead map's picture: the colour map seen from above, at most
// `maximum` pixels across, in the landscape's own palette (a texel's shade is
// raised or lowered by its light, so the relief shows).  The picture's x axis
// runs opposite to the world's.  Index 0 is the colour key of flat pictures:
// the picture never uses it.
builder_collection overhead_collection(const landscape &land, const color_table &colors, int32_t maximum)
{
    int32_t step = 1;
    while (land.width / step > maximum || land.height / step > maximum) ++step;
    const int32_t width = land.width / step, height = land.height / step;
    builder_collection collection;
    collection.colors = colors;
    builder_bitmap picture = new_builder_bitmap("overhead map", (int16_t)width, (int16_t)height, _builder_flat_8bit_rows, 1);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            const size_t at = (size_t)(y * step + step / 2) * land.width + (size_t)((width - 1 - x) * step + step / 2);
            const int32_t type = land.color[at] / SHADES_PER_TERRAIN;
            int32_t shade = land.color[at] % SHADES_PER_TERRAIN + ((int32_t)land.shadow[at] - 190) / 12;
            if (shade < 0) shade = 0;
            if (shade > SHADES_PER_TERRAIN - 1) shade = SHADES_PER_TERRAIN - 1;
            const int32_t index = type * SHADES_PER_TERRAIN + shade;
            picture.pixels[(size_t)y * width + x] = (uint16_t)(index ? index : 1);
        }
    collection.bitmaps.push_back(picture);
    collection.instances.push_back(builder_instance(0, 0, 0, 0, 0));
    builder_sequence sequence = new_builder_sequence("overhead map");
    sequence.frames.push_back({0});
    complete_builder_sequence(&sequence, &collection);
    collection.sequences.push_back(sequence);
    return collection;
}

int landscape_usage(void)
{
    fprintf(stderr, "usage: vesk_tags landscape OUT --subgroup S --name N [--png PICTURE]\n"
                    "                          [--overhead OUT2 --overhead-subgroup S2] MAP-SOURCE\n");
    return 2;
}

} // namespace

int landscape_tags_command(int argc, char **argv)
{
    const char *out = argc > 2 ? argv[2] : nullptr, *name = nullptr, *source = nullptr, *picture = nullptr;
    const char *overhead_out = nullptr;
    tag subgroup = NONE, overhead_subgroup = NONE;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &subgroup)) return landscape_usage();
        }
        else if (option == "--name" && i + 1 < argc) name = argv[++i];
        else if (option == "--png" && i + 1 < argc) picture = argv[++i];
        else if (option == "--overhead" && i + 1 < argc) overhead_out = argv[++i];
        else if (option == "--overhead-subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &overhead_subgroup)) return landscape_usage();
        }
        else if (!source && option[0] != '-') source = argv[i];
        else return landscape_usage();
    }
    if (!out || !name || !source || subgroup == NONE) return landscape_usage();
    if (overhead_out && overhead_subgroup == NONE) return landscape_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    int32_t size = 0;
    uint8_t *mesh = mesh_source_to_tag_data(source, &size);
    if (!mesh) return 1;
    const landscape land = build_landscape();
    dispose_mesh_from_old_map();
    free(mesh);
    const builder_collection collection = landscape_collection(land);
    const std::vector<uint8_t> data = build_collection_tag_data(collection);
    if (data.empty()) return tool_refuse(source, "the landscape is too large for a collection");
    if (!check_collection_tag_data(data.data(), (int32_t)data.size(), name))
        return tool_refuse(source, "the landscape does not make a sound collection");
    if (picture && !write_picture(picture, land, collection.colors)) return tool_refuse(picture, "cannot write the picture");
    if (overhead_out)
    {
        const std::vector<uint8_t> overhead = build_collection_tag_data(overhead_collection(land, collection.colors, 256));
        const std::string overhead_name = std::string(name) + " overhead";
        if (overhead.empty() || !check_collection_tag_data(overhead.data(), (int32_t)overhead.size(), overhead_name.c_str()))
            return tool_refuse(source, "the overhead map does not make a sound collection");
        if (!tool_write_local_tag_file(overhead_out, COLLECTION_GROUP_TAG, overhead_subgroup, COLLECTION_VERSION_NUMBER, 0,
                                       overhead_name.c_str(), overhead.data(), (int32_t)overhead.size()))
            return 1;
    }
    return tool_write_local_tag_file(out, COLLECTION_GROUP_TAG, subgroup, COLLECTION_VERSION_NUMBER, 0, name,
                                     data.data(), (int32_t)data.size())
               ? 0
               : 1;
}
