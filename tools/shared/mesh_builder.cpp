// Writing 'mesh' tag data for the data tools and tests.

#include "mesh_builder.h"

#include <cstdlib>
#include <cstring>

#include "mesh.h"

static bool texel_is_media(const mesh_cell *cells, int32_t width, int32_t column, int32_t row)
{
    world_point2d centre = {column * 64 + 32, row * 64 + 32};
    const mesh_cell *cell = &cells[(centre.x >> WORLD_FRACTIONAL_BITS) + (centre.y >> WORLD_FRACTIONAL_BITS) * width];
    const uint16_t flag = get_mesh_triangle(&centre) ? _mesh_cell_triangle1_is_media_flag : _mesh_cell_triangle0_is_media_flag;
    return (cell->flags & flag) != 0;
}

int32_t build_media_coverage_region(const mesh_cell *cells, int32_t width, int32_t height, uint16_t *values)
{
    const int32_t texel_width = width * MESH_TEXELS_PER_CELL;
    int32_t count = 0;
    bool any = false;
    for (int32_t row = 0; row < height * MESH_TEXELS_PER_CELL; row++)
    {
        int32_t column = 1; // column 0 cannot be covered
        while (column < texel_width)
        {
            if (!texel_is_media(cells, width, column, row))
            {
                column += 1;
                continue;
            }
            int32_t end = column;
            while (end + 1 < texel_width && texel_is_media(cells, width, end + 1, row)) end += 1;
            if (values)
            {
                values[count] = (uint16_t)(column - 1);
                values[count + 1] = (uint16_t)end;
            }
            count += 2;
            any = true;
            column = end + 2;
        }
        if (values) values[count] = (uint16_t)texel_width;
        count += 1;
    }
    return any ? count : 0;
}

static int32_t align(int32_t offset) { return (offset + MESH_BLOCK_ALIGNMENT - 1) & ~(MESH_BLOCK_ALIGNMENT - 1); }

uint8_t *build_mesh_tag_data(const mesh_builder_input *input, int32_t *size)
{
    const int32_t width = input->header.mesh_width, height = input->header.mesh_height;
    if (width < MINIMUM_MESH_SIZE || width > MAXIMUM_MESH_SIZE || (width & 1) || height < MINIMUM_MESH_SIZE ||
        height > MAXIMUM_MESH_SIZE || (height & 1) || input->cells == nullptr)
        return nullptr;
    const int32_t cell_count = width * height;
    const int32_t coverage_count = build_media_coverage_region(input->cells, width, height, nullptr);

    mesh_header header = input->header;
    int32_t offset = MESH_HEADER_SIZE;
    header.cells_offset = offset;
    header.cells_size = cell_count * (int32_t)sizeof(mesh_cell);
    offset = align(offset + header.cells_size);
    header.mesh_LOD_data_offset = offset;
    header.mesh_LOD_data_size = cell_count / 4 * 2;
    offset = align(offset + header.mesh_LOD_data_size);
    header.media_coverage_region_offset = coverage_count ? offset : 0;
    header.media_coverage_region_size = coverage_count * 2;
    offset = align(offset + header.media_coverage_region_size);
    header.map_action_count = input->map_action_count;
    header.map_actions_offset = input->map_action_size ? offset : 0;
    header.map_action_buffer_size = input->map_action_size;
    offset = align(offset + input->map_action_size);
    header.marker_palette_offset = input->palette_count ? offset : 0;
    header.marker_palette_count = input->palette_count;
    offset = align(offset + input->palette_count * (int32_t)sizeof(mesh_marker_palette_entry));
    header.markers_offset = input->marker_count ? offset : 0;
    header.marker_count = input->marker_count;
    offset = align(offset + input->marker_count * (int32_t)sizeof(mesh_marker));

    uint8_t *data = (uint8_t *)calloc(1, (size_t)offset);
    if (data == nullptr) return nullptr;

    mesh_cell *cells = (mesh_cell *)(data + header.cells_offset);
    memcpy(cells, input->cells, (size_t)header.cells_size);
    for (int32_t i = 0; i < cell_count; i++)
    {
        cells[i].first_object_index = NONE;
        cells[i].model_index = NONE;
    }
    uint16_t *words = (uint16_t *)(data + header.mesh_LOD_data_offset);
    build_mesh_LOD_data(cells, width, height, words);
    byte_swap_memory("mesh_LOD_data", words, header.mesh_LOD_data_size / 2, _2byte);
    byte_swap_data("mesh_cell", cells, sizeof(mesh_cell), cell_count, mesh_cell_bs);
    if (coverage_count)
    {
        uint16_t *values = (uint16_t *)(data + header.media_coverage_region_offset);
        build_media_coverage_region(input->cells, width, height, values);
        byte_swap_memory("media_coverage_region", values, coverage_count, _2byte);
    }
    if (input->map_action_size) memcpy(data + header.map_actions_offset, input->map_actions, (size_t)input->map_action_size);
    if (input->palette_count)
    {
        void *palette = data + header.marker_palette_offset;
        memcpy(palette, input->palette, input->palette_count * sizeof(mesh_marker_palette_entry));
        byte_swap_data("mesh_marker_palette_entry", palette, sizeof(mesh_marker_palette_entry), input->palette_count,
                       mesh_marker_palette_entry_bs);
    }
    if (input->marker_count)
    {
        void *markers = data + header.markers_offset;
        memcpy(markers, input->markers, input->marker_count * sizeof(mesh_marker));
        byte_swap_data("mesh_marker", markers, sizeof(mesh_marker), input->marker_count, mesh_marker_bs);
    }
    header.landscape_collection_index = header.overhead_map_collection_index = NONE;
    header.map_description_string_index = header.global_ambient_sound_index = NONE;
    header.media_type = header.blood_collection_index = NONE;
    byte_swap_data("mesh_header", &header, sizeof(header), 1, mesh_header_bs);
    memcpy(data, &header, sizeof(header));
    *size = offset;
    return data;
}
