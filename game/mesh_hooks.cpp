// Joins the mesh to the game core: its start-up and per-map steps and the
// entry-point reader of the tag-file store.  The preloader and the media definitions, which the
// mesh step reads when a map starts, come up here too.

#include "cseries/byte_swapping.h"
#include "game_hooks.h"
#include "game_records.h"
#include "mesh.h"
#include "state_hash.h"
#include "tag_files/plugins.h"
#include "vesk/preloading.h"

// The cells are synchronized: fire scorches their flags for good, and their
// object chains and model claims decide what movers meet.  Row by row, each
// cell's flags, heights, first object and model as big-endian 16-bit words.
static void hash_mesh_cells(uint32_t *hash)
{
    const int32_t WORDS_PER_CELL = 5;
    uint8_t row[MAXIMUM_MESH_SIZE * WORDS_PER_CELL * 2];
    state_hash_add_int32(hash, mesh_width);
    state_hash_add_int32(hash, mesh_height);
    if (!mesh_is_loaded()) return;
    for (int32_t y = 0; y < mesh_height; ++y)
    {
        uint8_t *out = row;
        for (int32_t x = 0; x < mesh_width && x < MAXIMUM_MESH_SIZE; ++x)
        {
            const mesh_cell *cell = get_mesh_cell(x, y);
            const uint16_t words[WORDS_PER_CELL] = {cell->flags, (uint16_t)cell->height, (uint16_t)cell->media_height,
                                                    (uint16_t)cell->first_object_index, (uint16_t)cell->model_index};
            for (uint16_t word : words)
            {
                write_be16(out, word);
                out += 2;
            }
        }
        state_hash_add(hash, row, (size_t)(out - row));
    }
}

static bool startup_mesh(void)
{
    initialize_mesh();
    register_state_hash_procedure(hash_mesh_cells);
    return true;
}

static bool startup_preloading(void) { return initialize_preloading(); }
static bool startup_media(void) { return initialize_media(); }

static bool empty_preload_stores(const new_game_data *)
{
    initialize_preloading_for_new_map();
    return true;
}
static bool empty_media_stores(const new_game_data *)
{
    initialize_media_for_new_map();
    return true;
}

static bool initialize_mesh_for_game(const new_game_data *data)
{
    return initialize_mesh_for_new_map(data->parameters.scenario_tag);
}

void register_mesh_hooks(void)
{
    // The store reads every map's facts while it opens its files, which happens
    // before the mesh's own start-up step: the reader goes in now.
    register_entry_point_reader_procedure(read_mesh_entry_point);
    register_startup_procedure(_startup_preloading, startup_preloading);
    register_startup_procedure(_startup_media, startup_media);
    register_startup_procedure(_startup_mesh, startup_mesh);
    register_map_store_procedures(_startup_preloading, empty_preload_stores, dispose_preloading_from_old_map);
    register_map_store_procedures(_startup_media, empty_media_stores, dispose_media_from_old_map);
    register_map_procedures(_map_mesh, initialize_mesh_for_game, dispose_mesh_from_old_map);
}
