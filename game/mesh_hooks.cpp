// Joins the mesh to the game core: its start-up and per-map steps, the
// entry-point reader of the tag-file store, and the random generators it
// draws from for stains.

#include "game_hooks.h"
#include "game_records.h"
#include "mesh.h"
#include "tag_files/plugins.h"
#include "vesk_random.h"

static bool startup_mesh(void)
{
    initialize_mesh();
    set_mesh_random_procedures(vesk_random, local_random);
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
    set_entry_point_reader(read_mesh_entry_point);
    register_startup_procedure(_startup_mesh, startup_mesh);
    register_map_procedures(_map_mesh, initialize_mesh_for_game, dispose_mesh_from_old_map);
}
