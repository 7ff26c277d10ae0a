#pragma once
// A small world for the tests of objects, models and markers: a flat mesh
// loaded from memory (optionally with media cells), the object world's
// modules started, and helpers that store definitions as local tags.

#include <cstdint>
#include <vector>

#include "geometry.h"
#include "mesh_format.h"

struct objects_world_map
{
    int16_t width = 8, height = 8;
    world_distance ground = 0;
    // Cells (x, y) whose two triangles are media with the surface at media_height.
    std::vector<std::pair<int16_t, int16_t>> media_cells;
    int16_t media_height = 200;
    std::vector<mesh_marker_palette_entry> palette;
    std::vector<mesh_marker> markers;
};

// Loads the map as the current mesh and starts every module of the object
// world for it (arrays and definition groups emptied, markers copied).
bool load_objects_world(const objects_world_map &map);
void dispose_objects_world(void);

struct new_game_data;

// Starts the game of `data` (players, teams, statistics, local player 0) on
// an empty 16 x 16 object world with the unit record's stores emptied: what
// the tests of units need before they make one.  Needs an open store.
// `map`, when given, replaces the 16 x 16 one.
bool start_units_world(const new_game_data *data, const objects_world_map *map = nullptr);
void dispose_units_world(void);

// A box of `size` world units on each side, its base centred on the origin,
// with one material: 8 vertices, 12 surfaces.
geometry_definition make_box_geometry(world_distance size, std::vector<geometry_material> *materials,
                                      std::vector<world_point3d> *vertices, std::vector<geometry_surface> *surfaces);

// Stores a record of `group` (host order, converted here) as a local tag
// named `name` (its subgroup: the first four characters).  Needs an open store.
bool store_definition_tag(tag group, const char *name, const void *record, int32_t size);
bool store_box_geometry_tag(const char *name, world_distance size);
