#pragma once
// Models: buildings, walls, bridges and other scenery built of geometry.  A
// model stands on the cells under its bounds; each such cell that had no
// model names it in its `model_index` (the first model placed on a cell keeps
// it).  Models block projectiles and carry the heights units walk on.
//
// Model definitions ('mode', 352 bytes) name a geometry and up to eight
// permutations (a collection, a colour table and one view byte per material).
// Simulation: integer arithmetic only.  Main thread only.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define MODEL_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('m', 'o', 'd', 'e')

enum
{
    MODEL_DEFINITION_VERSION = 1,
    MAXIMUM_MODEL_DEFINITIONS_PER_MAP = 128,
    MAXIMUM_MODELS_PER_MAP = 512,
    MAXIMUM_MODEL_PERMUTATIONS = 8,
    MODEL_PERMUTATION_MATERIALS = 32, // one view byte per geometry material
    MODEL_SCALE_ONE = 512, // scale vectors: 512 = 1.0 on each axis
};

// 40 bytes stored.
struct model_permutation
{
    tag collection_tag; // NONE: the definition's
    int16_t collection_index; // run time
    int16_t color_table_index;
    uint8_t permutations[MODEL_PERMUTATION_MATERIALS]; // view per material, 255: not drawn
};
static_assert(sizeof(model_permutation) == 40);

// 352 bytes stored.
struct model_definition
{
    uint32_t flags;
    tag geometry_tag;
    int16_t geometry_index; // run time
    int16_t model_permutation_count; // 1..8
    tag collection_tag;
    int16_t collection_index; // run time
    int16_t color_table_index;
    uint8_t unused[12];
    model_permutation model_permutations[MAXIMUM_MODEL_PERMUTATIONS];
};
static_assert(sizeof(model_definition) == 352);
static_assert(offsetof(model_definition, model_permutations) == 32);

extern const byte_swap_code model_definition_byte_swapping_data[];
extern definition_globals model_definitions;

enum model_flag_bits
{
    _model_has_reflection_bit = 0,
    _model_has_reflection_flag = FLAG(_model_has_reflection_bit),
};

// A model in the world.  In memory only; hashed.
struct model_data
{
    int16_t identifier; // its marker's identifier when placed from one
    int16_t type; // model definition index
    uint16_t flags;
    int16_t model_permutation;
    int16_t desired_model_permutation;
    fixed_fraction permutation_crossfade_amount; // transparency of the old permutation while cross-fading
    fixed_fraction transparency;
    angle yaw, pitch;
    int16_t scale; // 512 = 1.0
    int16_t marker_index; // NONE when not placed from a marker
    int16_t material_fading_index; // NONE: no material fades
    fixed_fraction material_transparency;
    int16_t unused;
    world_point3d location;
    world_vector3d up_vector, forward_vector, scale_vector;
    world_point3d bounds[2]; // world box of its vertices
};

struct new_model_data
{
    int16_t type;
    uint16_t flags;
    int16_t permutation; // below 0 means 0; beyond the definition's count it wraps
    int16_t scale; // 512 = 1.0; 0 means 1.0
    world_point3d location;
    angle yaw, pitch;
};

bool initialize_models(void);
// Empties the models and the model and geometry definitions for a new map.
void initialize_models_for_new_map(void);
void dispose_models_from_old_map(void);

model_definition *get_model_definition(int32_t index);
model_data *get_model(int32_t model_index); // null for a free slot or out of range
struct datum_globals *get_model_array(void);
int32_t get_model_count(void);

// Makes a model and claims the free cells under it; NONE when the array is
// full or the definition or its geometry is missing (logged).
int32_t new_model(const new_model_data *data);
// Frees the model and the cells it claimed.
void delete_model(int32_t model_index);

// Turns, tilts and scales a model (model effects); its bounds and cells follow.
void set_model_orientation(int32_t model_index, angle yaw, angle pitch, int16_t scale);
// Changes a model's definition (model animations); bounds and cells follow.
// False when the definition does not exist.
bool set_model_type(int32_t model_index, int16_t type);

// The model on the cell, or -1 (off the map too).
int32_t get_model_index_from_mesh_cell(int32_t cell_x, int32_t cell_y);

// The highest surface of the model over (x, y) that is not above z, in world
// units; MESH_NO_HEIGHT (-4096) when none is (or the model does not exist).
world_distance get_model_height_at_position(int32_t model_index, world_distance x, world_distance y,
                                            world_distance z);

// The centre of the model's bounds.  False for a free slot.
bool get_model_centerpoint(int32_t model_index, world_point3d *out);

// The model with the 16-bit identifier (the lowest index when several share
// it); NONE when none.
int32_t model_identifier_to_model_index(int16_t identifier);
// The list form: found indexes are written in order, missing ones dropped;
// returns how many were found.
int32_t model_identifiers_to_model_indexes(const int16_t *identifiers, int16_t *indexes, int32_t count);

// Whether models block the straight segment origin -> target: the cells the
// segment crosses are visited in order, and each model on them is tested
// once, against its triangles (surfaces flagged as not stopping projectiles
// let it through), or with `force_old_way` against its bounding box.  A hit in
// the first half of the segment sets *obstructed_near, in the second half
// *obstructed_far.  `pitch` is the caller's aim and does not bend the segment.
void check_for_model_obstruction(const world_point3d *origin, const world_point3d *target, angle pitch,
                                 bool *obstructed_near, bool *obstructed_far, bool force_old_way);

void hash_models(uint32_t *hash);
