#include "support/test_mesh.h"

#include <cstdlib>
#include <cstring>

#include "mesh.h"
#include "mesh_builder.h"

mesh_header test_mesh_header(int16_t width, int16_t height)
{
    mesh_header header;
    memset(&header, 0, sizeof(header));
    header.mesh_width = width;
    header.mesh_height = height;
    header.team_count = 1;
    header.reverb_environment = NONE;
    return header;
}

std::vector<uint8_t> test_mesh_bytes(const mesh_header &header, const std::vector<mesh_cell> &cells)
{
    const size_t count = (size_t)header.mesh_width * (size_t)header.mesh_height;
    if (!cells.empty() && cells.size() != count) return {};
    std::vector<mesh_cell> flat;
    if (cells.empty()) flat.assign(count, mesh_cell{0, 0, 0, NONE, NONE, 0});
    mesh_builder_input input;
    memset(&input, 0, sizeof(input));
    input.header = header;
    input.cells = cells.empty() ? flat.data() : cells.data();
    int32_t size = 0;
    uint8_t *data = build_mesh_tag_data(&input, &size);
    std::vector<uint8_t> bytes(data, data + (data ? size : 0));
    free(data);
    return bytes;
}

bool load_test_mesh(const mesh_header &header, const std::vector<mesh_cell> &cells)
{
    std::vector<uint8_t> bytes = test_mesh_bytes(header, cells);
    return !bytes.empty() && load_mesh_from_memory(bytes.data(), (int32_t)bytes.size());
}
