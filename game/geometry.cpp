// Geometry definitions ('geom').  See geometry.h.

#include "geometry.h"

#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "tag_files/tag_files.h"

static const byte_swap_code geometry_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _4byte, _4byte, _4byte, _4byte, 8, _end_bs_array};
static const byte_swap_code geometry_material_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _end_bs_array};
static const byte_swap_code geometry_vertex_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _end_bs_array};
static const byte_swap_code geometry_surface_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _4byte, _2byte, _2byte,
    _begin_bs_array, 3, _2byte, _2byte, _2byte, _2byte, _end_bs_array,
    _end_bs_array};

enum
{
    VERTEX_SIZE = 12,
};

static bool postprocess_geometry(definition_globals *group, int32_t index, int32_t tag_index, void *record);
static void release_geometry_arrays(void *runtime);

definition_globals geometry_definitions = {
    .name = "geometry",
    .group = GEOMETRY_DEFINITION_GROUP_TAG,
    .current_version = GEOMETRY_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_GEOMETRY_DEFINITIONS_PER_MAP,
    .size = sizeof(geometry_header),
    .runtime_size = sizeof(geometry_definition),
    .dependencies = nullptr,
    .postprocess = postprocess_geometry,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = geometry_header_byte_swapping_data,
    .release_runtime = release_geometry_arrays,
};

static int32_t arrays_size(const geometry_header *header)
{
    return header->material_count * (int32_t)sizeof(geometry_material) + header->vertex_count * VERTEX_SIZE +
           header->surface_count * (int32_t)sizeof(geometry_surface) +
           ((header->dependency_count * 2 + 3) & ~3);
}

static bool counts_are_sound(const geometry_header *header)
{
    return header->vertex_count >= 0 && header->vertex_count <= MAXIMUM_GEOMETRY_VERTICES &&
           header->surface_count >= 0 && header->surface_count <= MAXIMUM_GEOMETRY_SURFACES &&
           header->material_count >= 0 && header->material_count <= MAXIMUM_GEOMETRY_MATERIALS &&
           header->dependency_count >= 0 && header->dependency_count <= MAXIMUM_GEOMETRY_DEPENDENCIES;
}

static bool refuse_geometry(const char *reason, int32_t value)
{
    log_message(__FILE__, __LINE__, "geometry refused: %s (%d)", reason, (int)value);
    return false;
}

bool load_geometry_arrays(const geometry_header *header, const uint8_t *data, int32_t size,
                          geometry_definition *out)
{
    memset(out, 0, sizeof(*out));
    if (!counts_are_sound(header)) return refuse_geometry("counts beyond their limits", header->vertex_count);
    const int32_t needed = arrays_size(header);
    if (size < needed) return refuse_geometry("arrays run past the end of the tag; bytes missing", needed - size);

    const int32_t material_bytes = header->material_count * (int32_t)sizeof(geometry_material);
    const int32_t vertex_bytes = header->vertex_count * (int32_t)sizeof(world_point3d);
    const int32_t surface_bytes = header->surface_count * (int32_t)sizeof(geometry_surface);
    const int32_t dependency_bytes = header->dependency_count * 2;
    uint8_t *block = (uint8_t *)malloc((size_t)(material_bytes + vertex_bytes + surface_bytes + dependency_bytes + 4));
    if (!block) return refuse_geometry("out of memory", needed);

    geometry_definition geometry;
    memset(&geometry, 0, sizeof(geometry));
    geometry.vertex_count = header->vertex_count;
    geometry.surface_count = header->surface_count;
    geometry.material_count = header->material_count;
    geometry.dependency_count = header->dependency_count;
    geometry.center = header->center;
    geometry.storage = block;
    geometry.materials = (geometry_material *)block;
    geometry.vertices = (world_point3d *)(block + material_bytes);
    geometry.surfaces = (geometry_surface *)(block + material_bytes + vertex_bytes);
    geometry.dependency_list = (int16_t *)(block + material_bytes + vertex_bytes + surface_bytes);

    const uint8_t *cursor = data;
    memcpy(geometry.materials, cursor, (size_t)material_bytes);
    cursor += material_bytes;
    memcpy(geometry.vertices, cursor, (size_t)vertex_bytes);
    cursor += vertex_bytes;
    memcpy(geometry.surfaces, cursor, (size_t)surface_bytes);
    cursor += surface_bytes;
    memcpy(geometry.dependency_list, cursor, (size_t)dependency_bytes);
    bool ok = byte_swap_data("geometry material", geometry.materials, sizeof(geometry_material),
                             geometry.material_count, geometry_material_byte_swapping_data) &&
              byte_swap_data("geometry vertex", geometry.vertices, VERTEX_SIZE, geometry.vertex_count,
                             geometry_vertex_byte_swapping_data) &&
              byte_swap_data("geometry surface", geometry.surfaces, sizeof(geometry_surface),
                             geometry.surface_count, geometry_surface_byte_swapping_data) &&
              byte_swap_memory("geometry dependency", geometry.dependency_list, geometry.dependency_count, _2byte);

    for (int32_t i = 0; ok && i < geometry.material_count; ++i)
    {
        geometry.materials[i].collection_index = NONE;
        geometry.materials[i].color_table_index = NONE;
        geometry.materials[i].bitmap_index = NONE;
    }
    for (int32_t i = 0; ok && i < geometry.surface_count; ++i)
    {
        const geometry_surface *surface = &geometry.surfaces[i];
        if (surface->material_index < 0 || surface->material_index >= geometry.material_count)
            ok = refuse_geometry("a surface names a material outside the table", i);
        for (int32_t c = 0; ok && c < 3; ++c)
            if (surface->corners[c].vertex_index < 0 || surface->corners[c].vertex_index >= geometry.vertex_count)
                ok = refuse_geometry("a corner names a vertex outside the table", i);
        if (ok && surface->dependency_table_index != NONE)
        {
            int32_t at = surface->dependency_table_index;
            if (at < 0 || at >= geometry.dependency_count)
                ok = refuse_geometry("a dependency index lies outside the list", i);
            while (ok && at < geometry.dependency_count && geometry.dependency_list[at] != NONE) ++at;
            if (ok && at >= geometry.dependency_count)
                ok = refuse_geometry("a dependency run does not end inside the list", i);
        }
    }
    for (int32_t i = 0; ok && i < geometry.dependency_count; ++i)
        if (geometry.dependency_list[i] < NONE || geometry.dependency_list[i] >= geometry.surface_count)
            ok = refuse_geometry("the dependency list names a surface outside the table", i);
    if (!ok)
    {
        free(block);
        return false;
    }
    for (int32_t i = 0; i < geometry.vertex_count; ++i)
    {
        const world_point3d *v = &geometry.vertices[i];
        if (i == 0) geometry.bounds[0] = geometry.bounds[1] = *v;
        if (v->x < geometry.bounds[0].x) geometry.bounds[0].x = v->x;
        if (v->y < geometry.bounds[0].y) geometry.bounds[0].y = v->y;
        if (v->z < geometry.bounds[0].z) geometry.bounds[0].z = v->z;
        if (v->x > geometry.bounds[1].x) geometry.bounds[1].x = v->x;
        if (v->y > geometry.bounds[1].y) geometry.bounds[1].y = v->y;
        if (v->z > geometry.bounds[1].z) geometry.bounds[1].z = v->z;
    }
    *out = geometry;
    return true;
}

static bool postprocess_geometry(definition_globals *group, int32_t index, int32_t tag_index, void *record)
{
    const geometry_header *header = (const geometry_header *)record;
    geometry_definition *runtime = (geometry_definition *)get_definition_runtime(group, index);
    if (!runtime) return false; // the registry hands it over zeroed
    if (!counts_are_sound(header))
        return refuse_geometry("counts beyond their limits (2048 vertices, 512 surfaces, 32 materials)",
                               header->vertex_count);
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return refuse_geometry("tag cannot be read", tag_index);
    const int32_t size = info.size - (int32_t)sizeof(geometry_header);
    if (size < arrays_size(header)) return refuse_geometry("tag shorter than its arrays", info.size);
    uint8_t *data = (uint8_t *)malloc((size_t)size + 1);
    if (!data) return false;
    bool ok = tag_file_read(tag_index, (int32_t)sizeof(geometry_header), size, data) &&
              load_geometry_arrays(header, data, size, runtime);
    free(data);
    return ok;
}

// The registry calls this before it zeroes a definition's side record.
static void release_geometry_arrays(void *runtime)
{
    free(((geometry_definition *)runtime)->storage);
}

bool initialize_geometry(void)
{
    return geometry_definitions.registered || initialize_definitions(&geometry_definitions);
}

void initialize_geometry_for_new_map(void) { initialize_definitions_for_new_map(&geometry_definitions); }

void dispose_geometry_from_old_map(void)
{
    if (geometry_definitions.registered) dispose_definitions_from_old_map(&geometry_definitions);
}

geometry_definition *get_geometry_definition(int32_t index)
{
    if (!try_and_get_definition(&geometry_definitions, index)) return nullptr;
    geometry_definition *runtime = (geometry_definition *)get_definition_runtime(&geometry_definitions, index);
    return runtime && runtime->storage ? runtime : nullptr;
}

uint8_t *build_geometry_tag_data(const geometry_definition *geometry, int32_t *size)
{
    geometry_header header;
    memset(&header, 0, sizeof(header));
    header.vertex_count = geometry->vertex_count;
    header.surface_count = geometry->surface_count;
    header.material_count = geometry->material_count;
    header.dependency_count = geometry->dependency_count;
    header.center = geometry->center;
    if (!counts_are_sound(&header)) return nullptr;
    const int32_t total = (int32_t)sizeof(header) + arrays_size(&header);
    uint8_t *data = (uint8_t *)calloc(1, (size_t)total);
    if (!data) return nullptr;
    uint8_t *cursor = data;
    memcpy(cursor, &header, sizeof(header));
    byte_swap_data("geometry header", cursor, sizeof(header), 1, geometry_header_byte_swapping_data);
    cursor += sizeof(header);
    const int32_t material_bytes = header.material_count * (int32_t)sizeof(geometry_material);
    memcpy(cursor, geometry->materials, (size_t)material_bytes);
    byte_swap_data("geometry material", cursor, sizeof(geometry_material), header.material_count,
                   geometry_material_byte_swapping_data);
    cursor += material_bytes;
    memcpy(cursor, geometry->vertices, (size_t)header.vertex_count * VERTEX_SIZE);
    byte_swap_data("geometry vertex", cursor, VERTEX_SIZE, header.vertex_count, geometry_vertex_byte_swapping_data);
    cursor += header.vertex_count * VERTEX_SIZE;
    const int32_t surface_bytes = header.surface_count * (int32_t)sizeof(geometry_surface);
    memcpy(cursor, geometry->surfaces, (size_t)surface_bytes);
    byte_swap_data("geometry surface", cursor, sizeof(geometry_surface), header.surface_count,
                   geometry_surface_byte_swapping_data);
    cursor += surface_bytes;
    if (header.dependency_count > 0)
    {
        memcpy(cursor, geometry->dependency_list, (size_t)header.dependency_count * 2);
        byte_swap_memory("geometry dependency", cursor, header.dependency_count, _2byte);
    }
    *size = total;
    return data;
}
