#pragma once
// The on-disk layout of the terrain tag (group 'mesh', version 11).  The tag's
// data starts with a 1024-byte header; every block it names lies after the
// header, inside the tag, at an offset that is a multiple of 4, and no two
// blocks overlap.  Everything is big-endian; each record here has one
// byte-swap description, applied in place.  docs/formats.md describes the
// layout for map makers.

#include "game_limits.h"
#include "rgb_color.h"
#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/tag_files.h"
#include "world.h"

enum
{
    MESH_TAG_VERSION = 11,
    MESH_HEADER_SIZE = 1024,
    MESH_BLOCK_ALIGNMENT = 4,

    // Sizes in cells: even (level-of-detail words cover 2x2 blocks), at most
    // 1024 so that texel columns (8 per cell) fit the coverage region's 16 bits
    // with room to spare and the renderer's tile arithmetic stays exact.
    MINIMUM_MESH_SIZE = 2,
    MAXIMUM_MESH_SIZE = 1024,
    SUBMESH_SIZE = 32, // cells per submesh side
    MESH_TILE_SIZE = 14, // cells per renderer tile side
    MESH_TEXELS_PER_CELL = 8,

    MAXIMUM_MAP_ACTIONS_PER_MAP = 1024,
    MAP_ACTION_RECORD_SIZE = 64,
    MAP_ACTION_PARAMETER_BUFFER_SIZE = 98304,
    MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP = 1024,
    MAXIMUM_MARKERS_PER_MAP = 4096,
    NUMBER_OF_REVERB_ENVIRONMENTS = 26,
    NUMBER_OF_CUTSCENES = 3, // opening, win, loss
    MAXIMUM_CUTSCENE_NAME_SIZE = 64,
    NUMBER_OF_STORYLINE_STRING_TAGS = 3, // prologue, epilogue after success, after failure
};

// Bits of `mesh_header.flags` (the same word as an entry point's mesh_flags).
enum mesh_flag_bits
{
    // bits 0-15: the map offers game scoring type 0-15 (multiplayer maps)
    _mesh_is_single_player_entry_point_bit = 16,
    _mesh_supports_unit_trading_bit = 17,
    _mesh_supports_veterans_bit = 18,
    _mesh_has_limited_terrain_visibility_bit = 19,
    _mesh_is_complete_bit = 20,
    _mesh_can_catch_fire_bit = 21,
    _mesh_models_dont_limit_rendering_bit = 22,
    _mesh_is_training_map_bit = 23,
    _mesh_leaves_overhead_map_closed_bit = 24,
    _mesh_has_terrain_following_camera_bit = 25, // the camera's focus rides the filtered terrain
    _mesh_overhead_map_doesnt_scroll_bit = 27,
    _mesh_uses_anticlump_bit = 29,
    _mesh_uses_vvux_bit = 30,
    _mesh_requires_plugin_bit = 31,

    _mesh_scoring_types_flags = 0xFFFF,
    _mesh_is_single_player_entry_point_flag = 1 << _mesh_is_single_player_entry_point_bit,
    _mesh_has_limited_terrain_visibility_flag = 1 << _mesh_has_limited_terrain_visibility_bit,
    _mesh_is_complete_flag = 1 << _mesh_is_complete_bit,
    _mesh_can_catch_fire_flag = 1 << _mesh_can_catch_fire_bit,
    _mesh_models_dont_limit_rendering_flag = 1 << _mesh_models_dont_limit_rendering_bit,
    _mesh_is_training_map_flag = 1 << _mesh_is_training_map_bit,
    _mesh_leaves_overhead_map_closed_flag = 1 << _mesh_leaves_overhead_map_closed_bit,
    _mesh_overhead_map_doesnt_scroll_flag = 1 << _mesh_overhead_map_doesnt_scroll_bit,
    _mesh_has_terrain_following_camera_flag = 1 << _mesh_has_terrain_following_camera_bit,
};
#define _mesh_requires_plugin_flag (1u << _mesh_requires_plugin_bit)

// Bits of `mesh_header.extra_flags`.
enum
{
    _mesh_is_last_level_bit = 0, // the last map of its scenario
    _mesh_is_last_level_flag = 1 << _mesh_is_last_level_bit,
};

enum
{
    _mesh_edge_left = 0,
    _mesh_edge_top,
    _mesh_edge_right,
    _mesh_edge_bottom,
    NUMBER_OF_MESH_EDGES
};

struct mesh_header
{
    uint32_t flags;
    uint32_t extra_flags;
    int16_t mesh_width, mesh_height; // cells
    int16_t team_count;
    int16_t level; // the map list's colour band (100..699), 0 for none
    int16_t priority; // order among the maps of one list
    int16_t edge_of_mesh_buffer_zones[NUMBER_OF_MESH_EDGES]; // cells kept clear of the camera per side
    int16_t unused0;

    tag landscape_collection_tag; // '.256': submesh s has colour bitmap 2s and shadow bitmap 2s+1
    tag overhead_map_collection_tag; // NONE: none
    tag interface_tag;
    tag observer_physics_constants_tag;
    tag media_tag; // NONE: a map without media
    tag map_description_string_list_tag; // string 0 the map's name, then the mission objectives
    tag pregame_collection_tag;
    tag postgame_collection_tag;
    tag next_mesh_tags[2]; // after success, after failure
    tag storyline_string_tags[NUMBER_OF_STORYLINE_STRING_TAGS];
    tag picture_caption_string_list_tag;
    tag narration_sound_tag;
    tag win_ambient_sound_tag;
    tag loss_ambient_sound_tag;
    tag hints_string_list_tag;
    tag global_ambient_sound_tag;
    tag preload_tag;
    tag blood_collection_tag; // stains of bloody_mesh; NONE: none

    // Blocks, offsets from the start of the tag's data (0 with size 0: absent).
    int32_t cells_offset, cells_size;
    int32_t mesh_LOD_data_offset, mesh_LOD_data_size;
    int32_t map_action_count; // at 128
    int32_t map_actions_offset; // at 132
    int32_t map_action_buffer_size; // at 136
    int32_t media_coverage_region_offset, media_coverage_region_size;
    int32_t marker_palette_offset, marker_palette_count;
    int32_t markers_offset, marker_count;

    int32_t reverb_environment; // NONE or 0-25
    real reverb_volume, reverb_decay_time, reverb_damping;
    rgb_color fog_color;
    real fog_density; // 0: no fog
    short_fixed dark_fraction, light_fraction;
    rgb_color dark_color, light_color;
    fixed transition_point;

    char printed_name[64]; // the map's name in map lists
    char dependency_name[32]; // the plug-in the map requires (with _mesh_requires_plugin_bit)
    char cutscene_names[NUMBER_OF_CUTSCENES][MAXIMUM_CUTSCENE_NAME_SIZE];

    // Run time: stored as NONE, filled by the modules that load what the tags
    // name (the loader sets them to NONE).
    int16_t landscape_collection_index;
    int16_t overhead_map_collection_index;
    int16_t map_description_string_index;
    int16_t global_ambient_sound_index;
    int16_t media_type;
    int16_t blood_collection_index;

    uint8_t unused[508];
};
static_assert(sizeof(mesh_header) == MESH_HEADER_SIZE);
static_assert(offsetof(mesh_header, mesh_width) == 8);
static_assert(offsetof(mesh_header, edge_of_mesh_buffer_zones) == 18);
static_assert(offsetof(mesh_header, landscape_collection_tag) == 28);
static_assert(offsetof(mesh_header, next_mesh_tags) == 60);
static_assert(offsetof(mesh_header, storyline_string_tags) == 68);
static_assert(offsetof(mesh_header, picture_caption_string_list_tag) == 80);
static_assert(offsetof(mesh_header, media_tag) == 44);
static_assert(offsetof(mesh_header, preload_tag) == 104);
static_assert(offsetof(mesh_header, blood_collection_tag) == 108);
static_assert(offsetof(mesh_header, media_type) == 512);
static_assert(offsetof(mesh_header, cells_offset) == 112);
static_assert(offsetof(mesh_header, map_action_count) == 128);
static_assert(offsetof(mesh_header, map_actions_offset) == 132);
static_assert(offsetof(mesh_header, map_action_buffer_size) == 136);
static_assert(offsetof(mesh_header, media_coverage_region_offset) == 140);
static_assert(offsetof(mesh_header, markers_offset) == 156);
static_assert(offsetof(mesh_header, reverb_environment) == 164);
static_assert(offsetof(mesh_header, fog_color) == 180);
static_assert(offsetof(mesh_header, fog_density) == 188);
static_assert(offsetof(mesh_header, dark_fraction) == 192);
static_assert(offsetof(mesh_header, dark_color) == 196);
static_assert(offsetof(mesh_header, transition_point) == 212);
static_assert(offsetof(mesh_header, printed_name) == 216);
static_assert(offsetof(mesh_header, dependency_name) == 280);
static_assert(offsetof(mesh_header, cutscene_names) == 312);
static_assert(offsetof(mesh_header, landscape_collection_index) == 504);
static_assert(offsetof(mesh_header, unused) == 516);

extern const byte_swap_code mesh_header_bs[];

// ---- cells -------------------------------------------------------------------

// Cell (x, y) is the square from vertex (x, y) to vertex (x + 1, y + 1); its
// `height` is the height of vertex (x, y).  Rows follow one another:
// cell (x, y) is at x + y * mesh_width.
struct mesh_cell
{
    uint16_t flags;
    int16_t height;
    int16_t media_height;
    int16_t first_object_index; // run time: -1 on disk and after loading
    int16_t model_index; // run time: -1 on disk and after loading
    int16_t unused;
};
static_assert(sizeof(mesh_cell) == 12);
static_assert(offsetof(mesh_cell, media_height) == 4);
static_assert(offsetof(mesh_cell, model_index) == 8);

extern const byte_swap_code mesh_cell_bs[];

enum mesh_cell_flag_bits
{
    _mesh_cell_triangle0_terrain_first_bit = 0, // 4 bits
    _mesh_cell_triangle1_terrain_first_bit = 4, // 4 bits
    _mesh_vertex_is_media_bit = 8,
    _mesh_cell_was_or_is_on_fire_bit = 9,
    _mesh_vertex_is_animated_media_bit = 10,
    _mesh_cell_triangle0_is_media_bit = 11,
    _mesh_cell_triangle1_is_media_bit = 12,
    _mesh_cell_has_reflection_bit = 13,
    _mesh_cell_is_not_rendered_bit = 14,

    _mesh_cell_terrain_type_mask = 0xF,
    _mesh_vertex_is_media_flag = 1 << _mesh_vertex_is_media_bit,
    _mesh_cell_was_or_is_on_fire_flag = 1 << _mesh_cell_was_or_is_on_fire_bit,
    _mesh_vertex_is_animated_media_flag = 1 << _mesh_vertex_is_animated_media_bit,
    _mesh_cell_triangle0_is_media_flag = 1 << _mesh_cell_triangle0_is_media_bit,
    _mesh_cell_triangle1_is_media_flag = 1 << _mesh_cell_triangle1_is_media_bit,
    _mesh_cell_carries_media_flags = _mesh_cell_triangle0_is_media_flag | _mesh_cell_triangle1_is_media_flag,
    _mesh_cell_has_reflection_flag = 1 << _mesh_cell_has_reflection_bit,
    _mesh_cell_is_not_rendered_flag = 1 << _mesh_cell_is_not_rendered_bit,
};

// ---- level-of-detail words ---------------------------------------------------
// One u16 per 2x2-cell block, rows of mesh_width / 2 words; the word of the
// block whose first cell is (x, y) is at (x / 2) + (mesh_width / 2) * (y / 2).

enum mesh_LOD_bits
{
    _cell_edge_detail_first_bit = 0, // top, right, bottom, left
    _cell_rendered_first_bit = 4, // cells clockwise from the top left
    _cell_triangle_media_first_bit = 8, // the eight triangles of the full fan
    _cell_edge_detail_flags = 0xF,
};

// ---- media coverage region ---------------------------------------------------
// u16 values: for each texel row of the mesh (mesh_height * 8 rows) a strictly
// increasing list of columns in (previous, W], W = mesh_width * 8, that ends
// with W; media covers the columns (b0, b1], (b2, b3], ...  Size 0: no media.

// ---- markers -----------------------------------------------------------------

// Stored marker types (the index of a type's table of procedures).
enum marker_type
{
    _marker_observer = 0, // a team's camera start
    _marker_scenery = 1,
    _marker_model = 2,
    _marker_monster = 3, // a unit
    _marker_model_animation = 4,
    _marker_sound_source = 5,
    _marker_projectile = 9,
    _marker_local_projectile_group = 10,
    NUMBER_OF_MARKER_TYPES = 11
};

// What markers of one type are made from.  A marker names its entry by
// `palette_index`, counted among the entries of its own type in block order.
struct mesh_marker_palette_entry
{
    int16_t type; // marker_type
    int16_t team_index; // NONE or 0..15
    uint32_t flags;
    file_tag tag; // the definition the things are made from (a 'unit' tag for units)
    int16_t player_index; // NONE: the team's
    int16_t unused;
};
static_assert(sizeof(mesh_marker_palette_entry) == 16);
static_assert(offsetof(mesh_marker_palette_entry, tag) == 8);

extern const byte_swap_code mesh_marker_palette_entry_bs[];

struct mesh_marker
{
    int16_t type; // marker_type
    int16_t palette_index; // NONE or an entry of the same type
    int16_t identifier;
    int16_t minimum_difficulty_level; // 0..4
    uint32_t flags;
    world_point3d position;
    angle yaw, pitch;
    int16_t player_index; // NONE: take the palette entry's
    int16_t unused;
};
static_assert(sizeof(mesh_marker) == 32);
static_assert(offsetof(mesh_marker, position) == 12);
static_assert(offsetof(mesh_marker, yaw) == 24);
static_assert(offsetof(mesh_marker, player_index) == 28);

extern const byte_swap_code mesh_marker_bs[];
