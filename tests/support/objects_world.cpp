#include "objects_world.h"

#include <cstdlib>
#include <cstring>

#include "collection_references.h"
#include "markers.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "game_records.h"
#include "game_time.h"
#include "monsters.h"
#include "players.h"
#include "statistics.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "object_definitions.h"
#include "objects.h"
#include "scenery.h"
#include "tag_files/tag_files.h"

bool load_objects_world(const objects_world_map &map)
{
    std::vector<mesh_cell> cells((size_t)map.width * map.height);
    for (auto &cell : cells) cell = {0, (int16_t)map.ground, 0, NONE, NONE, 0};
    for (const auto &media : map.media_cells)
    {
        mesh_cell &cell = cells[(size_t)media.first + (size_t)media.second * map.width];
        cell.flags |= _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag;
        cell.media_height = map.media_height;
    }
    mesh_builder_input input;
    memset(&input, 0, sizeof(input));
    input.header.mesh_width = map.width;
    input.header.mesh_height = map.height;
    input.header.team_count = 1;
    input.header.reverb_environment = NONE;
    input.cells = cells.data();
    input.palette = map.palette.data();
    input.palette_count = (int32_t)map.palette.size();
    input.markers = map.markers.data();
    input.marker_count = (int32_t)map.markers.size();
    int32_t size = 0;
    uint8_t *data = build_mesh_tag_data(&input, &size);
    if (!data) return false;
    initialize_mesh();
    const bool loaded = load_mesh_from_memory(data, size);
    free(data);
    if (!loaded) return false;
    if (!initialize_object_definitions() || !initialize_collection_references() || !initialize_models() ||
        !initialize_markers() || !initialize_objects() || !initialize_scenery() || !initialize_model_animations() ||
        !initialize_model_effects())
        return false;
    initialize_definitions_for_new_map(&object_definitions);
    initialize_collection_references_for_new_map();
    initialize_models_for_new_map();
    initialize_scenery_for_new_map();
    initialize_model_animations_for_new_map();
    initialize_objects_for_new_map();
    initialize_model_effects_for_new_map();
    return initialize_markers_for_new_map();
}

void dispose_objects_world(void)
{
    dispose_model_effects_from_old_map();
    dispose_markers_from_old_map();
    dispose_objects_from_old_map();
    dispose_model_animations_from_old_map();
    dispose_scenery_from_old_map();
    dispose_models_from_old_map();
    dispose_collection_references_from_old_map();
    dispose_definitions_from_old_map(&object_definitions);
    dispose_mesh_from_old_map();
}

geometry_definition make_box_geometry(world_distance size, std::vector<geometry_material> *materials,
                                      std::vector<world_point3d> *vertices, std::vector<geometry_surface> *surfaces)
{
    const world_distance h = size / 2;
    *materials = {{0, NONE, NONE, NONE}};
    vertices->clear();
    for (int i = 0; i < 8; ++i)
        vertices->push_back({(i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? size : 0});
    static const int16_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    surfaces->clear();
    for (const auto &face : faces)
        for (int t = 0; t < 2; ++t)
        {
            geometry_surface surface;
            memset(&surface, 0, sizeof(surface));
            surface.dependency_table_index = NONE;
            const int16_t corners[3] = {face[0], face[1 + t], face[2 + t]};
            for (int c = 0; c < 3; ++c) surface.corners[c].vertex_index = corners[c];
            surfaces->push_back(surface);
        }
    geometry_definition geometry;
    memset(&geometry, 0, sizeof(geometry));
    geometry.vertex_count = 8;
    geometry.surface_count = (int16_t)surfaces->size();
    geometry.material_count = 1;
    geometry.materials = materials->data();
    geometry.vertices = vertices->data();
    geometry.surfaces = surfaces->data();
    return geometry;
}

static const byte_swap_code *swap_codes_of(tag group)
{
    switch (group)
    {
    case OBJECT_DEFINITION_GROUP_TAG: return object_definition_byte_swapping_data;
    case SCENERY_DEFINITION_GROUP_TAG: return scenery_definition_byte_swapping_data;
    case MODEL_DEFINITION_GROUP_TAG: return model_definition_byte_swapping_data;
    case MODEL_ANIMATION_DEFINITION_GROUP_TAG: return model_animation_definition_byte_swapping_data;
    case COLLECTION_REFERENCE_GROUP_TAG: return collection_reference_byte_swapping_data;
    default: return nullptr;
    }
}

static bool store_bytes(tag group, const char *name, const void *data, int32_t size)
{
    int32_t index = tag_file_new(group, name, 1);
    // A tag over a taken name replaces it only once committed.
    return index != NONE && tag_file_write(&index, 0, size, data) && tag_file_commit(index);
}

bool store_definition_tag(tag group, const char *name, const void *record, int32_t size)
{
    std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
    const byte_swap_code *codes = swap_codes_of(group);
    if (!codes || !byte_swap_data(name, bytes.data(), size, 1, codes)) return false;
    return store_bytes(group, name, bytes.data(), size);
}

bool store_box_geometry_tag(const char *name, world_distance size)
{
    std::vector<geometry_material> materials;
    std::vector<world_point3d> vertices;
    std::vector<geometry_surface> surfaces;
    const geometry_definition box = make_box_geometry(size, &materials, &vertices, &surfaces);
    int32_t bytes = 0;
    uint8_t *data = build_geometry_tag_data(&box, &bytes);
    if (!data) return false;
    const bool ok = store_bytes(GEOMETRY_DEFINITION_GROUP_TAG, name, data, bytes);
    free(data);
    return ok;
}

bool start_units_world(const new_game_data *data, const objects_world_map *given_map)
{
    initialize_players();
    initialize_statistics();
    begin_game_time(data);
    local_player_index = 0;
    initialize_players_for_new_map(data);
    initialize_statistics_for_new_map(data->parameters.scenario_tag);
    objects_world_map map;
    map.width = 16;
    map.height = 16;
    if (given_map) map = *given_map;
    if (!load_objects_world(map) || !initialize_monsters()) return false;
    initialize_monsters_for_new_map();
    return true;
}

void dispose_units_world(void)
{
    dispose_monsters_from_old_map();
    dispose_objects_world();
}
