// The data tool's "objects" command.  See object_tags.h.

#include "object_tags.h"
#include "tool_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/tags.h"
#include "geometry.h"
#include "model_animations.h"
#include "models.h"
#include "object_definitions.h"
#include "scenery.h"
#include "tag_files/tag_file_formats.h"

namespace {

struct source_line
{
    size_t number;
    std::vector<std::string> words;
};

// Far more than the largest geometry's source needs.
const size_t MAXIMUM_OBJECT_SOURCE_SIZE = 16 * MEG;

// The statements of the source at `path`, comments dropped.  Lines are taken
// whole, however long.  False after the refusal line when it cannot be read.
bool read_source(const char *path, std::vector<source_line> *lines)
{
    std::string text, reason;
    if (!tool_read_file(path, MAXIMUM_OBJECT_SOURCE_SIZE, &text, &reason))
    {
        tool_refuse(path, reason.c_str());
        return false;
    }
    std::vector<std::string> texts;
    tool_split_lines(text, &texts);
    for (size_t i = 0; i < texts.size(); ++i)
    {
        const size_t comment = texts[i].find('#');
        if (comment != std::string::npos) texts[i].resize(comment);
        std::istringstream stream(texts[i]);
        source_line line{i + 1, {}};
        std::string word;
        while (stream >> word) line.words.push_back(word);
        if (!line.words.empty()) lines->push_back(line);
    }
    return true;
}

bool number(const std::string &text, int64_t minimum, int64_t maximum, int64_t *value)
{
    return tool_parse_number(text.c_str(), minimum, maximum, value);
}

bool code(const std::string &text, tag *value)
{
    return tool_parse_code(text.c_str(), true, value);
}

// Reads the numbers words[first..] into `values`; false when one is not a 16-bit number.
bool numbers(const source_line &line, size_t first, size_t count, int64_t *values, int64_t minimum = -32768,
             int64_t maximum = 65535)
{
    if (line.words.size() != first + count) return false;
    for (size_t i = 0; i < count; ++i)
        if (!number(line.words[first + i], minimum, maximum, &values[i])) return false;
    return true;
}

bool parse_object(const source_line &line, object_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v[2];
    if (key == "modifier")
    {
        if (!numbers(line, 1, 2, v) || v[0] < 0 || v[0] >= NUMBER_OF_EFFECT_MODIFIERS) return false;
        d->effect_modifiers[v[0]] = (short_fixed)v[1];
        return true;
    }
    if (key == "flags") return numbers(line, 1, 1, v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v[0]), true);
    if (!numbers(line, 1, 1, v)) return false;
    if (key == "radius") d->radius = (int16_t)v[0];
    else if (key == "height") d->height = (int16_t)v[0];
    else if (key == "vitality") d->maximum_vitality = (short_fixed)v[0];
    else if (key == "gravity") d->gravity = (int16_t)v[0];
    else if (key == "elasticity") d->elasticity = (fixed_fraction)v[0];
    else if (key == "scale") d->scale_lower_bound = (short_fixed)v[0];
    else if (key == "scale_delta") d->scale_delta = (short_fixed)v[0];
    else if (key == "terminal_velocity") d->terminal_velocity = (int16_t)v[0];
    else return false;
    return true;
}

bool parse_reference(const source_line &line, collection_reference_definition *d)
{
    int64_t v;
    if (line.words[0] == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (line.words[0] == "permutation" && numbers(line, 1, 1, &v) &&
        d->number_of_permutations < MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS)
    {
        d->color_table_indexes[d->number_of_permutations++] = (int16_t)v;
        return true;
    }
    return false;
}

bool parse_scenery(const source_line &line, scenery_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (key == "object") return line.words.size() == 2 && code(line.words[1], &d->object_tag);
    if (key == "flags") return numbers(line, 1, 1, &v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v), true);
    if (!numbers(line, 1, 1, &v)) return false;
    if (key == "sequence") d->sequence_index = (int16_t)v;
    else if (key == "ticks_per_frame") d->ticks_per_frame = (int16_t)v;
    else if (key == "color_table") d->color_table_index = (int16_t)v;
    else return false;
    return true;
}

struct geometry_source
{
    world_point3d center = {0, 0, 0};
    std::vector<geometry_material> materials;
    std::vector<world_point3d> vertices;
    std::vector<geometry_surface> surfaces;
};

bool parse_geometry(const source_line &line, geometry_source *g)
{
    const std::string &key = line.words[0];
    int64_t v[5];
    if (key == "center" && numbers(line, 1, 3, v, -1000000, 1000000))
        g->center = {(int32_t)v[0], (int32_t)v[1], (int32_t)v[2]};
    else if (key == "material" && numbers(line, 1, 1, v)) g->materials.push_back({(int16_t)v[0], NONE, NONE, NONE});
    else if (key == "vertex" && numbers(line, 1, 3, v, -1000000, 1000000))
        g->vertices.push_back({(int32_t)v[0], (int32_t)v[1], (int32_t)v[2]});
    else if (key == "surface" && (numbers(line, 1, 4, v, 0, 32767) || numbers(line, 1, 5, v, 0, 32767)))
    {
        if (v[0] >= (int64_t)g->materials.size()) return false;
        geometry_surface surface;
        memset(&surface, 0, sizeof(surface));
        surface.material_index = (int16_t)v[0];
        surface.flags = line.words.size() == 6 ? (uint16_t)v[4] : 0;
        surface.dependency_table_index = NONE;
        world_point3d p[3];
        for (int c = 0; c < 3; ++c)
        {
            if (v[1 + c] >= (int64_t)g->vertices.size()) return false;
            surface.corners[c].vertex_index = (int16_t)v[1 + c];
            p[c] = g->vertices[(size_t)v[1 + c]];
        }
        const int64_t ux = p[1].x - p[0].x, uy = p[1].y - p[0].y, uz = p[1].z - p[0].z;
        const int64_t vx = p[2].x - p[0].x, vy = p[2].y - p[0].y, vz = p[2].z - p[0].z;
        const int64_t nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const int64_t length = isqrt64((uint64_t)(nx * nx + ny * ny + nz * nz));
        if (length == 0) return false;
        surface.normal = {(int16_t)(nx * 16384 / length), (int16_t)(ny * 16384 / length), (int16_t)(nz * 16384 / length)};
        surface.d = (world_distance)(((int64_t)surface.normal.i * p[0].x + (int64_t)surface.normal.j * p[0].y +
                                      (int64_t)surface.normal.k * p[0].z) >> 14);
        g->surfaces.push_back(surface);
    }
    else return false;
    return true;
}

bool parse_model(const source_line &line, model_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "geometry") return line.words.size() == 2 && code(line.words[1], &d->geometry_tag);
    if (key == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (key == "flags") return numbers(line, 1, 1, &v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v), true);
    if (key == "color_table") return numbers(line, 1, 1, &v) && ((d->color_table_index = (int16_t)v), true);
    if (key == "permutation" && line.words.size() >= 3 && line.words.size() <= 3 + MODEL_PERMUTATION_MATERIALS &&
        d->model_permutation_count < MAXIMUM_MODEL_PERMUTATIONS)
    {
        model_permutation *p = &d->model_permutations[d->model_permutation_count];
        if (!code(line.words[1], &p->collection_tag) || !number(line.words[2], -32768, 32767, &v)) return false;
        p->color_table_index = (int16_t)v;
        for (size_t i = 3; i < line.words.size(); ++i)
        {
            if (!number(line.words[i], 0, 255, &v)) return false;
            p->permutations[i - 3] = (uint8_t)v;
        }
        d->model_permutation_count += 1;
        return true;
    }
    return false;
}

bool parse_animation(const source_line &line, model_animation_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "frame" && line.words.size() == 2 && d->number_of_frames < MAXIMUM_MODEL_ANIMATION_FRAMES)
        return code(line.words[1], &d->frame_model_tags[d->number_of_frames++]);
    if (key == "flags") return numbers(line, 1, 1, &v, 0, 7) && ((d->flags = (uint32_t)v), true);
    if (!numbers(line, 1, 1, &v)) return false;
    if (key == "ticks_per_frame") d->ticks_per_frame = (int16_t)v;
    else if (key == "forward_sound") d->forward_sound_type = (int16_t)v;
    else if (key == "backward_sound") d->backward_sound_type = (int16_t)v;
    else return false;
    return true;
}

std::vector<uint8_t> swapped(const void *record, int32_t size, const byte_swap_code *codes)
{
    std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
    byte_swap_data("record", bytes.data(), size, 1, codes);
    return bytes;
}

int object_usage(void)
{
    fprintf(stderr, "usage: vesk_tags objects OUT --group obje|core|scen|geom|mode|mani --subgroup S --name N SOURCE\n");
    return 2;
}

} // namespace

int object_tags_command(int argc, char **argv)
{
    const char *out = argc > 2 ? argv[2] : nullptr, *name = nullptr, *source = nullptr;
    tag group = NONE, subgroup = NONE;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--group" && i + 1 < argc) code(argv[++i], &group);
        else if (option == "--subgroup" && i + 1 < argc) code(argv[++i], &subgroup);
        else if (option == "--name" && i + 1 < argc) name = argv[++i];
        else if (!source && option[0] != '-') source = argv[i];
        else return object_usage();
    }
    if (!out || !name || !source || group == NONE || subgroup == NONE) return object_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!read_source(source, &lines)) return 1;

    object_definition object;
    memset(&object, 0, sizeof(object));
    for (auto &modifier : object.effect_modifiers) modifier = SHORT_FIXED_ONE;
    object.scale_lower_bound = SHORT_FIXED_ONE;
    collection_reference_definition reference;
    memset(&reference, 0, sizeof(reference));
    reference.collection_tag = NONE;
    scenery_definition scenery;
    memset(&scenery, 0, sizeof(scenery));
    scenery.collection_tag = scenery.object_tag = NONE;
    model_definition model;
    memset(&model, 0, sizeof(model));
    model.geometry_tag = model.collection_tag = NONE;
    model_animation_definition animation;
    memset(&animation, 0, sizeof(animation));
    animation.ticks_per_frame = 1;
    animation.forward_sound_type = animation.backward_sound_type = NONE;
    geometry_source geometry;

    for (const source_line &line : lines)
    {
        bool ok = false;
        switch (group)
        {
        case OBJECT_DEFINITION_GROUP_TAG: ok = parse_object(line, &object); break;
        case COLLECTION_REFERENCE_GROUP_TAG: ok = parse_reference(line, &reference); break;
        case SCENERY_DEFINITION_GROUP_TAG: ok = parse_scenery(line, &scenery); break;
        case GEOMETRY_DEFINITION_GROUP_TAG: ok = parse_geometry(line, &geometry); break;
        case MODEL_DEFINITION_GROUP_TAG: ok = parse_model(line, &model); break;
        case MODEL_ANIMATION_DEFINITION_GROUP_TAG: ok = parse_animation(line, &animation); break;
        default: return object_usage();
        }
        if (!ok) return tool_refuse_line(source, line.number, "not understood, out of range, or one too many");
    }

    std::vector<uint8_t> data;
    int16_t version = 1;
    switch (group)
    {
    case OBJECT_DEFINITION_GROUP_TAG:
        data = swapped(&object, sizeof(object), object_definition_byte_swapping_data);
        break;
    case COLLECTION_REFERENCE_GROUP_TAG:
        data = swapped(&reference, sizeof(reference), collection_reference_byte_swapping_data);
        break;
    case SCENERY_DEFINITION_GROUP_TAG:
        data = swapped(&scenery, sizeof(scenery), scenery_definition_byte_swapping_data);
        break;
    case MODEL_DEFINITION_GROUP_TAG:
        if (model.model_permutation_count == 0 || model.geometry_tag == NONE)
            return tool_refuse_line(source, 0, "a model needs its geometry and at least one permutation");
        data = swapped(&model, sizeof(model), model_definition_byte_swapping_data);
        break;
    case MODEL_ANIMATION_DEFINITION_GROUP_TAG:
        if (animation.number_of_frames == 0) return tool_refuse_line(source, 0, "an animation needs a frame");
        data = swapped(&animation, sizeof(animation), model_animation_definition_byte_swapping_data);
        break;
    case GEOMETRY_DEFINITION_GROUP_TAG:
    {
        geometry_definition g;
        memset(&g, 0, sizeof(g));
        g.center = geometry.center;
        g.vertex_count = (int16_t)geometry.vertices.size();
        g.surface_count = (int16_t)geometry.surfaces.size();
        g.material_count = (int16_t)geometry.materials.size();
        g.materials = geometry.materials.data();
        g.vertices = geometry.vertices.data();
        g.surfaces = geometry.surfaces.data();
        if (geometry.vertices.size() > MAXIMUM_GEOMETRY_VERTICES || geometry.surfaces.size() > MAXIMUM_GEOMETRY_SURFACES ||
            geometry.materials.size() > MAXIMUM_GEOMETRY_MATERIALS)
            return tool_refuse_line(source, 0, "more than 2048 vertices, 512 surfaces or 32 materials");
        int32_t size = 0;
        uint8_t *bytes = build_geometry_tag_data(&g, &size);
        if (!bytes) return tool_refuse_line(source, 0, "geometry cannot be laid out");
        data.assign(bytes, bytes + size);
        free(bytes);
        break;
    }
    default: return object_usage();
    }

    if (!tool_write_local_tag_file(out, group, subgroup, version, 0, name, data.data(), (int32_t)data.size())) return 1;
    return 0;
}
