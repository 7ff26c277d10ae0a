#pragma once
// Detail maps ('dmap'): per map, up to 128 detail textures and, per terrain
// vertex, which of them lies there (with an optional override per terrain
// triangle).  Loading removes duplicate and unused entries, loads every
// named detail texture (all of them, or the map gets no detail layers), and
// turns the vertex indexes into one 32-bit layer word per terrain triangle,
// which the hardware rasterizer's terrain passes read with the textures'
// handles and scales.  Only the hardware rasterizers draw detail layers.
//
// The map's detail map is the 'dmap' tag whose subgroup is the tag of the
// mesh's landscape collection; a map without one has no detail layers.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "tag_files/definitions.h"

struct preallocated_texture;

#define DETAIL_MAP_GROUP_TAG FOUR_CHARACTER_CODE('d', 'm', 'a', 'p')

enum
{
    DETAIL_MAP_VERSION = 2,
    MAXIMUM_DETAIL_MAPS_PER_MAP = 1,
    MAX_DTEX_TAGS_PER_DMAP = 128,
    MAXIMUM_DETAIL_MAP_DIMENSION = 4096,
    DETAIL_MAP_BLEND_FLAG = 1 << 30, // the corners differ (alone: no layer)
};

// The stored header (big-endian; all eight words swapped).  Offsets count
// from the start of the tag's data.
struct detail_map_definition
{
    uint32_t width, height; // vertices (and cells) per row, rows
    uint32_t v_indices_offset; // run-coded vertex indexes, width x height
    uint32_t v_indices; // run time
    uint32_t t_indices_offset; // run-coded triangle overrides, 2 x width x height
    uint32_t t_indices; // run time
    uint32_t entries_offset; // the 128 entries
    uint32_t entries; // run time
    uint8_t unused[224];
};
static_assert(sizeof(detail_map_definition) == 256);
static_assert(offsetof(detail_map_definition, v_indices_offset) == 8);
static_assert(offsetof(detail_map_definition, t_indices_offset) == 16);
static_assert(offsetof(detail_map_definition, entries_offset) == 24);
static_assert(offsetof(detail_map_definition, unused) == 32);

// One of the 128 entries (only dtex_id is swapped).
struct detail_map_entry
{
    tag dtex_id; // NONE: an empty entry
    uint8_t pixels_per_cell;
    uint8_t r, g, b;
    uint8_t unused[24];
    char name[32];
};
static_assert(sizeof(detail_map_entry) == 64);
static_assert(offsetof(detail_map_entry, pixels_per_cell) == 4);
static_assert(offsetof(detail_map_entry, unused) == 8);
static_assert(offsetof(detail_map_entry, name) == 32);

extern const byte_swap_code detail_map_entry_byte_swapping_data[];

// The two layer words of a terrain cell, one per triangle: bits 0-8 which
// corners use layers 0, 1, 2 (three bits each, corner 0 lowest), bits 9-15,
// 16-22, 23-29 the entry numbers of layers 0, 1, 2, bit 30 the blend bit.
struct mesh_cell_detail_info
{
    uint32_t triangle_info[2];
};

extern definition_globals detail_map_definitions;

// ---- life cycle ----------------------------------------------------------------------

// Registers the 'dmap' and 'dtex' groups.  False when the registry refuses them.
bool initialize_detail_maps(void);
// Empties both groups for the map that begins.
void initialize_detail_map_stores_for_new_map(void);
// Loads the map's detail map (the 'dmap' tag named by the mesh's landscape
// collection tag).  A missing or refused detail map leaves the map without
// detail layers; the map goes on either way.
void initialize_detail_maps_for_new_map(void);

// Frees the layer information, clears the 128 texture handles and switches
// detail mapping off.
void dispose_detail_map_data(void);
// Disposes the 'dmap' group, then as dispose_detail_map_data.
void dispose_detail_maps_from_old_map(void);

// Joins detail maps to the map's life: the start-up step "detail maps", its
// per-map stores and the map step "detail maps".
void register_detail_map_hooks(void);

// ---- state -----------------------------------------------------------------------------

// Whether the current map's detail layers are drawn.
bool detail_maps_active(void);
// When active, switches off; else switches on when layer information exists.
void toggle_detail_maps(void);
// False unless the screen's rasterizer is a hardware one (code 4 or 5); then
// the screen preference _screen_pref_landscape_textures_flag.
bool detail_maps_enabled(void);

// The layer words of every cell (`*width` x `*height`, row by row), or null
// (and 0 x 0) when the map has none.
const mesh_cell_detail_info *detail_map_layer_info(int32_t *width, int32_t *height);
// The 128 texture handles (null for an empty slot) and their texture
// coordinate scales (x, y), indexed by entry number.
preallocated_texture *const *hardware_format_detail_textures(void);
const float (*detail_texture_scales(void))[2];

// ---- loading, step by step (the registry's postprocess and tests) --------------------

// The registry's postprocess of 'dmap': unless preloaded, reads and checks the
// header, the entries and both index arrays (the size must cover the mesh and
// be at most 4096 on a side; every offset, run and array must lie within the
// tag), compacts the entries, loads the textures and builds the layer
// information.  False, with a warning line, for a detail map that does not
// fit; then the map has no detail layers.
bool postprocess_detail_maps(definition_globals *group, int32_t definition_index, int32_t tag_index,
                             void *definition);
// The group's dependency report: detail textures load with the layers, so
// nothing is reported.
void detail_maps_dependencies(definition_globals *group, int32_t definition_index, int32_t tag_index,
                              void *definition, definition_dependency_report report);

// A detail map's data as read from its tag, before compaction.
struct unpacked_detail_map
{
    int32_t width, height;
    detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP]; // host order
    uint8_t *v_indices; // width x height, malloc'd
    uint8_t *t_indices; // 2 x width x height, malloc'd
};

// Checks and unpacks the whole tag data of a detail map (`size` bytes as
// stored, the header first): the size must cover the current mesh and be at
// most 4096 on a side, the entries must lie within the data and both index
// arrays' runs must fill them before the data ends.  False with `*reason`
// set, nothing allocated, when they do not.  Free with free_unpacked_detail_map.
bool unpack_detail_map_data(const uint8_t *data, uint32_t size, unpacked_detail_map *map, const char **reason);
void free_unpacked_detail_map(unpacked_detail_map *map);

// Expands (value, run length - 1) byte pairs from `data` (`size` bytes) into
// `count` bytes of `out`; a run passing the end of the array is cut there.
// False when the pairs end before the array is full.
bool expand_detail_map_runs(const uint8_t *data, int32_t size, uint8_t *out, int32_t count);
// The opposite: `count` bytes as pairs into `out` (room for 2 x count bytes);
// returns the bytes written.
int32_t compress_detail_map_runs(const uint8_t *values, int32_t count, uint8_t *out);

// Merges entries naming the same texture with the same cell size, drops
// unused entries (entry 0 always stays) and rewrites every index to the
// entries' new places; an index of 128 or more reads as 0.
void postprocess_detail_map(detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP], uint8_t *v_indices,
                            int32_t v_count, uint8_t *t_indices, int32_t t_count);

// Loads the texture of every entry through the registry, errors not recorded,
// the tags of the detail map's own file (`owner_index`, NONE for none) taking
// precedence.  When every one is found, fills the handles and scales and
// returns how many there are; when any is missing, clears every slot, logs
// "Warning: Detail map not applied because some textures could not be
// found." and returns 0.
int32_t load_detail_map_detail_textures(const detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP], int32_t owner_index);

// The layer word of one triangle from its three corner indexes and its
// override (0 for none).
uint32_t detail_map_triangle_word(uint8_t corner0, uint8_t corner1, uint8_t corner2, uint8_t override_index);
// The layer words of a `width` x `height` map from its vertex indexes and
// triangle overrides, in 2 x 2 blocks fanned around their centres.
void build_detail_map_layer_info(const uint8_t *v_indices, const uint8_t *t_indices, int32_t width, int32_t height,
                                 mesh_cell_detail_info *layers);

// The tag data of a detail map: header, the 128 entries and both arrays
// run-coded.  Malloc'd (the caller frees it), its size in `*size`; null for a
// size outside 1..4096 or when memory is short.  The data tool writes detail
// maps with it.
uint8_t *build_detail_map_tag_data(int32_t width, int32_t height,
                                   const detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP],
                                   const uint8_t *v_indices, const uint8_t *t_indices, int32_t *size);
