#pragma once
// Geometry ('geom'): the triangles that models are built of, and that some
// objects carry.  The tag's data is a 32-byte header followed by its arrays
// (materials, vertices, surfaces, the dependency list), all big-endian; the
// registry keeps the header, and the arrays are read into the definition's
// run-time side record, each index checked, when the tag loads.
//
// The renderer writes the run-time material fields every frame; everything
// else is read only after loading.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define GEOMETRY_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('g', 'e', 'o', 'm')

enum
{
    GEOMETRY_DEFINITION_VERSION = 1,
    MAXIMUM_GEOMETRY_DEFINITIONS_PER_MAP = 256,
    MAXIMUM_GEOMETRY_VERTICES = 2048,
    MAXIMUM_GEOMETRY_SURFACES = 512,
    MAXIMUM_GEOMETRY_MATERIALS = 32,
    MAXIMUM_GEOMETRY_DEPENDENCIES = 4096,
};

enum geometry_surface_flag_bits
{
    _geometry_surface_is_transparent_flag = 1,
    _geometry_surface_no_backface_cull_flag = 2,
    _geometry_surface_under_mesh_flag = 4,
    _geometry_surface_reflective_flag = 8,
    _geometry_surface_uses_closest_z_flag = 16,
    _geometry_surface_negative_flag = 32,
    _geometry_surface_does_not_stop_projectiles_flag = 64,
    _geometry_surface_bit7_flag = 128, // a depth nudge for closest-z surfaces (renderer)
};

// The stored header: the registry's record.  32 bytes.
struct geometry_header
{
    int16_t vertex_count;
    int16_t surface_count;
    int16_t material_count;
    int16_t dependency_count;
    world_point3d center;
    uint32_t flags;
    uint8_t unused[8];
};
static_assert(sizeof(geometry_header) == 32);
static_assert(offsetof(geometry_header, center) == 8);

// 8 bytes stored.  Only sequence_index is data; the renderer fills the others.
struct geometry_material
{
    int16_t sequence_index; // -1: not drawn
    int16_t collection_index;
    int16_t color_table_index;
    int16_t bitmap_index;
};
static_assert(sizeof(geometry_material) == 8);

// 8 bytes stored.
struct geometry_corner
{
    int16_t interpolants[2]; // u, v
    int16_t vertex_index;
    int16_t unused;
};
static_assert(sizeof(geometry_corner) == 8);

// 44 bytes stored.
struct geometry_surface
{
    uint16_t flags; // geometry_surface_flag_bits
    int16_t material_index;
    world_vector3d normal; // 2.14, pointing out of the front
    int16_t dependency_table_index; // NONE or the start of a run in the dependency list
    world_distance d; // plane: (normal . p) >> 14 == d
    fixed_fraction transparency;
    int16_t unused;
    geometry_corner corners[3];
};
static_assert(sizeof(geometry_surface) == 44);
static_assert(offsetof(geometry_surface, d) == 12);
static_assert(offsetof(geometry_surface, corners) == 20);

// A loaded geometry (the side record of its definition).
struct geometry_definition
{
    int16_t vertex_count, surface_count, material_count, dependency_count;
    world_point3d center;
    geometry_material *materials;
    world_point3d *vertices; // 12 bytes each stored
    geometry_surface *surfaces;
    int16_t *dependency_list; // runs of surface indexes, each ended by -1
    world_point3d bounds[2]; // smallest and largest vertex coordinates
    void *storage; // one block holding the arrays
};

extern definition_globals geometry_definitions;

bool initialize_geometry(void);
// Frees the arrays of every loaded geometry, then the group's definitions.
void dispose_geometry_from_old_map(void);
void initialize_geometry_for_new_map(void);

// The loaded geometry at `index`; null for NONE, a hole or an index out of range.
geometry_definition *get_geometry_definition(int32_t index);

// Checks the stored arrays (`data`, `size` bytes after the header, big-endian)
// against `header` and, when every count and index is sound, converts them
// into `out` (arrays malloc'd in one block at out->storage).  False with a
// logged reason otherwise: counts beyond the limits, a size that disagrees, a
// material, vertex or dependency index outside its table, or a dependency run
// that does not end inside the list.
bool load_geometry_arrays(const geometry_header *header, const uint8_t *data, int32_t size,
                          geometry_definition *out);

// Writes a whole 'geom' tag data (header and arrays, big-endian) from a
// host-order geometry; malloc'd, its size in *size.  For the data tools and
// tests.  Null when a count is beyond its limit.
uint8_t *build_geometry_tag_data(const geometry_definition *geometry, int32_t *size);
